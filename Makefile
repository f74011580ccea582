# The project's commands. `make test` and `make run` set up a fresh Debian 12
# machine by themselves.
.PHONY: all bootstrap configure build test run clean

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

clean:
	rm -rf build build-*
