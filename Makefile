# The project's commands. `make test` and `make run` set up a fresh Debian 12
# machine by themselves.
.PHONY: all bootstrap configure build test asan tsan fuzz-build fuzz windows windows-package run install uninstall dist deb distcheck demo screenshot bench clean

all: build

bootstrap:
	@scripts/bootstrap

configure: bootstrap
	@cmake --preset default >/dev/null

build: configure
	@cmake --build --preset default

# The suite on the release build, then again under AddressSanitizer and
# UndefinedBehaviorSanitizer, the code without a toolkit under ThreadSanitizer,
# then each fuzz target briefly, then the Windows build under Wine; the first
# failure stops it.
test: build
	@ctest --preset default
	@$(MAKE) --no-print-directory asan
	@ctest --preset asan
	@$(MAKE) --no-print-directory tsan
	@ctest --preset tsan
	@$(MAKE) --no-print-directory fuzz-build
	@ctest --preset fuzz
	@$(MAKE) --no-print-directory windows-package
	@ctest --preset windows

# build-windows/bin/: the Windows programs, cross-built with mingw-w64.
windows: bootstrap
	@cmake --preset windows >/dev/null
	@cmake --build --preset windows

# build-windows/zorvik-discovery-<version>-win64.zip, .exe (the setup program)
# and .msi, signed when ZORVIK_SIGN_PFX and ZORVIK_SIGN_PASSWORD are set, and
# their SHA256SUMS; cpack's External generator also leaves a .json, which nothing needs.
windows-package: windows
	@cd build-windows && cpack >/dev/null && rm -f zorvik-discovery-*-win64.json
	@cd build-windows && sha256sum zorvik-discovery-*-win64.zip zorvik-discovery-*-win64.exe zorvik-discovery-*-win64.msi >SHA256SUMS
	@packaging/windows/manifests build-windows
	@ls build-windows/zorvik-discovery-*-win64.*

# build-asan/: everything, instrumented.
asan: bootstrap
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan

# build-tsan/: the arrival queue, the receive thread and the POSIX endpoint,
# with their tests, instrumented for data races.
tsan: bootstrap
	@cmake --preset tsan >/dev/null
	@cmake --build --preset tsan

# build-fuzz/: the fuzz targets, with clang.
fuzz-build: bootstrap
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz

# Each fuzz target for FUZZ_SECONDS; new inputs and crashes go to build-fuzz/fuzz/found/.
FUZZ_SECONDS ?= 300
fuzz: fuzz-build
	@ZORVIK_FUZZ_SECONDS=$(FUZZ_SECONDS) ctest --preset fuzz --timeout $$(($(FUZZ_SECONDS) + 300))

# Without a desktop, scripts/run says so with status 3: its message is the whole answer.
run: build
	@scripts/run || [ $$? -eq 3 ]

# Stripped programs. Honours DESTDIR, and PREFIX in place of the configured
# /usr/local. Keeps the list of what it installed for `make uninstall`, and of
# the folders that were not there before: a first install into a scratch
# folder tells which folders the real one needs.
install_prefix = $(if $(PREFIX),--prefix "$(PREFIX)")
install: build
	@rm -rf build/staged && DESTDIR=$(CURDIR)/build/staged cmake --install build $(install_prefix) >/dev/null
	@sed 's|^$(CURDIR)/build/staged||; s|/[^/]*$$||' build/install_manifest.txt | sort -u | \
	    while read -r folder; do \
	        while [ -n "$$folder" ] && [ ! -d "$(DESTDIR)$$folder" ]; do echo "$$folder"; folder=$${folder%/*}; done; \
	    done | sort -ru >build/installed_folders.txt
	@rm -rf build/staged
	@DESTDIR="$(DESTDIR)" cmake --install build --strip $(install_prefix)
	@sed 's|^$(DESTDIR)||' build/install_manifest.txt >build/installed_files.txt

# Removes what the last `make install` installed, under the same DESTDIR, and
# the folders it made, once they are empty.
uninstall:
	@[ -f build/installed_files.txt ] || { echo "make uninstall: nothing installed from this tree" >&2; exit 1; }
	@sed 's|^|$(DESTDIR)|' build/installed_files.txt | xargs -r -d '\n' rm -f
	@sed 's|^|$(DESTDIR)|' build/installed_folders.txt | xargs -r -d '\n' rmdir --ignore-fail-on-non-empty
	@rm build/installed_files.txt build/installed_folders.txt

# build-deb/zorvik-discovery_<version>.orig.tar.xz: the upstream tarball, without debian/.
dist:
	@rm -f build-deb/zorvik-discovery_*.orig.tar.xz
	@scripts/dist build-deb

# build-deb/: the source package and the .debs of the window (zorvik-discovery),
# the twin (zorvik-discover) and the simulator (zorvik-device-sim), built by
# dpkg-buildpackage from that tarball in a folder of its own.
deb: bootstrap dist
	@scripts/deb build-deb

# The packages built twice at two paths (the same bytes), lintian on all of
# them, and as root the autopkgtest: minutes, so not in `make test`.
distcheck: bootstrap
	@tests/debian_package full $(CURDIR) "$$(sed -n 's/^set(ZORVIK_PUBLISHER "\(.*\)")$$/\1/p' CMakeLists.txt)"

# The window among three simulated devices, in a private network namespace.
demo: build
	@scripts/lan -- build/bin/zorvik-discovery

# The README's picture: the window after a discovery among simulated devices.
# One simulator poses as all three, so they answer in the same order every time
# and the picture comes out the same.
screenshot: build
	@QT_QPA_PLATFORM=offscreen scripts/lan --devices 0 -- bash -c '\
	    exec {sim}< <(exec build/bin/zorvik-device-sim --hosts 3) && read -r -u $$sim && \
	    exec build/bin/zorvik-screenshot docs/screenshot.png'

# The burst benchmark: medians and ratios for 1,000 to 100,000 answers at once,
# as this host buffers them and as a stock kernel would (the Windows programs
# too, under Wine), and both windows' memory in a flood. BENCH_CASES="burst",
# "stock" or "flood" runs one case; REPS runs each.
BENCH_CASES ?= burst stock flood
bench: build
ifneq ($(filter stock flood,$(BENCH_CASES)),)
	@$(MAKE) --no-print-directory windows
	@cmake --build --preset windows --target zorvik-bench-bare zorvik-bench-window
endif
	@BENCH_CASES="$(BENCH_CASES)" bench/burst

clean:
	rm -rf build build-*
