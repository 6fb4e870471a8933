# Quick start on a fresh Debian 12 machine (as root):
#   make demo    the whole installation against a local update server (see README.md)
#   make test    installs what is missing, builds both targets, runs every test
#   make bench   builds and runs the benchmarks (bench/), which print their figures
#   make release CERT=vendor.p12 [KEYS="<key>;<key>"] [TIMESTAMP_URL=...] [ARGS=...]
#                a signed release in release/ (README.md, "Releasing")
.PHONY: all deps build build-win32 build-win64 test demo bench release clean

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

# Where the kernel runs no 32-bit code the WoW64 lane is skipped; its reason is said first,
# so that CTest's summary still closes the output.
test: build
	@tools/runs-32-bit >/dev/null || \
	  echo "the wow64 lane (the shipped i686 program) is skipped: $$(tools/runs-32-bit | sed 's/^no: //')"
	ctest --preset win64

# The setup program under Wine on this display, served by a local update server;
# HEADLESS=1 (or no display) presses through the installation on a private Xvfb and saves
# a screenshot of each stage to build/demo/screenshots. ARGS are passed on (ARGS=-U);
# DPI=144 shows it at 150 % (120: 125 %, 192: 200 %). It runs the shipped i686 program
# where this machine can, else the x86_64 build, and says which.
demo: build
	VELTO_DEMO_DPI=$(or $(DPI),96) tools/demo $(if $(HEADLESS),--headless) -- $(ARGS)

# The shipped build's benchmark programs are built on demand, beside the test build's.
bench: build
	cmake --build --preset win32 --target bench_shipped
	cmake --build --preset win64 --target bench

# The certificate's password comes from VELTO_SIGN_PASSWORD in the environment.
release: deps
	tools/release $(if $(CERT),--certificate '$(CERT)') $(if $(KEYS),--keys '$(KEYS)') \
	  $(if $(TIMESTAMP_URL),--timestamp-url '$(TIMESTAMP_URL)') $(ARGS)

clean:
	rm -rf build
