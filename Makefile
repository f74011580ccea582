# The project's commands. `make test` and `make run` set up a fresh Debian 12
# machine by themselves.
.PHONY: all bootstrap configure build test run install deb demo screenshot bench clean

all: build

bootstrap:
	@scripts/bootstrap

configure: bootstrap
	@cmake --preset default >/dev/null

build: configure
	@cmake --build --preset default

test: build
	@ctest --preset default

run: build
	@scripts/run

# Honours DESTDIR, and PREFIX in place of the configured /usr/local.
install: build
	@DESTDIR="$(DESTDIR)" cmake --install build $(if $(PREFIX),--prefix "$(PREFIX)")

# build/zorvik-discovery_<version>_<arch>.deb, installing to /usr.
deb: build
	@cmake --build --preset default --target package

# The window among three simulated devices, in a private network namespace.
demo: build
	@scripts/lan -- build/bin/zorvik-discovery

# The README's picture: the window after a discovery among simulated devices.
screenshot: build
	@QT_QPA_PLATFORM=offscreen scripts/lan -- build/bin/zorvik-screenshot docs/screenshot.png

# The burst benchmark: medians and ratios for 1,000 to 100,000 answers at once.
bench: build
	@bench/burst

clean:
	rm -rf build build-*
