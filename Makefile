# Quick start on a fresh Debian 12 machine (as root):
#   make demo    the whole installation against a local update server (see README.md)
#   make test    installs what is missing, builds both targets, runs every test
#   make bench   builds and runs the benchmarks (bench/), which print their figures
.PHONY: all deps build build-win32 build-win64 test demo bench clean

all: build

deps:
	@tools/install-deps

# A tree is configured when it is new or the presets changed; after that Ninja runs CMake
# again by itself whenever a CMakeLists.txt changes.
build/%/build.ninja: CMakePresets.json | deps
	cmake --preset $* >/dev/null
	@touch $@

build-win32: deps build/win32/build.ninja
	cmake --build --preset win32

build-win64: deps build/win64/build.ninja
	cmake --build --preset win64

# Both trees at once: the shipped program's few steps fit beside the test build's.
build: deps build/win32/build.ninja build/win64/build.ninja
	@cmake --build --preset win32 & shipped=$$!; \
	cmake --build --preset win64; tests=$$?; \
	wait $$shipped && exit $$tests

test: build
	ctest --preset win64

# The setup program under Wine on this display, served by a local update server;
# HEADLESS=1 (or no display) presses through the installation on a private Xvfb and saves
# a screenshot of each stage to build/demo/screenshots. ARGS are passed on (ARGS=-U);
# DPI=144 shows it at 150 % (120: 125 %, 192: 200 %).
demo: build-win64
	VELTO_DEMO_DPI=$(or $(DPI),96) tools/demo $(if $(HEADLESS),--headless) -- $(ARGS)

bench: build
	cmake --build --preset win64 --target bench

clean:
	rm -rf build
