# Quick start on a fresh Debian 12 machine (as root):
#   make test    installs what is missing, builds both targets, runs every test
#   make demo    runs the setup program under Wine (see README.md)
#   make bench   builds and runs the benchmarks (bench/), which print their figures
.PHONY: all deps build build-win32 build-win64 test demo bench clean

all: build

deps:
	@tools/install-deps

build-win32: deps
	cmake --preset win32 >/dev/null
	cmake --build --preset win32

build-win64: deps
	cmake --preset win64 >/dev/null
	cmake --build --preset win64

build: build-win32 build-win64

test: build
	ctest --preset win64

# The setup program under Wine on this display; HEADLESS=1 (or no display) saves a
# screenshot to build/demo/velto-setup.png instead. ARGS are passed on (ARGS=-U).
demo: build-win64
	tools/demo $(if $(HEADLESS),--headless) -- $(ARGS)

bench: build
	cmake --build --preset win64 --target bench

clean:
	rm -rf build
