# Two commands for a fresh Debian machine:
#   make run    installs what is missing, builds the Linux program and starts it
#   make test   installs what is missing, builds both platforms and runs every test
#   make bench  installs what is missing, builds both platforms' benchmark driver and prints the
#               whole-program table (Linux build and the Windows build under Wine)
# Installing uses apt-get as root, or through sudo otherwise, and is skipped when all is there.

SHELL := /bin/bash
.DEFAULT_GOAL := run

DRIVE_C ?= $(or $(MEASURE_DRIVE_C),$(HOME)/.local/share/measure/drive_c)

# Packages of the Linux build, of the Windows cross build and of Wine with a virtual display.
LINUX_PACKAGES := cmake ninja-build g++ make qt6-base-dev qt6-qpa-plugins libgl-dev \
                  googletest libgtest-dev fonts-ipafont-mincho
TEST_PACKAGES := $(LINUX_PACKAGES) g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 \
                 wine32:i386 xvfb xauth
BENCH_PACKAGES := $(TEST_PACKAGES) python3
SUDO := $(if $(filter 0,$(shell id -u)),,sudo)

# What `dpkg-query` does not list as installed, of the given packages.
missing = $(shell for p in $(1); do \
    dpkg-query -W -f='$${Status}\n' "$$p" 2>/dev/null | grep -q '^install ok installed' \
    || echo "$$p"; done)

.PHONY: run test bench deps-run deps-test deps-bench build-linux build-windows build-windows-x64 \
        test-linux test-windows clean

deps-run:
	@m="$(call missing,$(LINUX_PACKAGES))"; if [ -n "$$m" ]; then \
	    echo "Installing: $$m"; \
	    $(SUDO) apt-get update -q && \
	    DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -q --no-install-recommends $$m; \
	fi

deps-test deps-bench:
	@if ! dpkg --print-foreign-architectures | grep -qx i386; then \
	    $(SUDO) dpkg --add-architecture i386; fi
	@m="$(call missing,$(if $(filter deps-bench,$@),$(BENCH_PACKAGES),$(TEST_PACKAGES)))"; \
	if [ -n "$$m" ]; then \
	    echo "Installing: $$m"; \
	    $(SUDO) apt-get update -q && \
	    DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -q --no-install-recommends $$m; \
	fi

build-linux:
	cmake --preset linux
	cmake --build --preset linux -j 2

build-windows:
	cmake --preset windows
	cmake --build --preset windows -j 2

build-windows-x64:
	cmake --preset windows-x64
	cmake --build --preset windows-x64 -j 2 --target program_tests platform_tests

run: deps-run build-linux
	@mkdir -p "$(DRIVE_C)/data"
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	    echo "No display: the program is a desktop program and needs one."; \
	    echo "Run it from a desktop session with 'make run' or build/linux/measure,"; \
	    echo "or on a virtual display: xvfb-run -a build/linux/measure"; \
	    exit 1; \
	fi
	MEASURE_DRIVE_C="$(DRIVE_C)" build/linux/measure

test-linux: build-linux
	ctest --preset linux

# The Windows suites run under Wine on a virtual display. A machine that cannot execute 32-bit
# x86 code cannot run 32-bit Wine: there the same test sources run as 64-bit programs.
test-windows: build-windows
	@if cmake/wine-run.sh --can-run-32; then \
	    export WINE_BITS=32 WINEPREFIX=$(CURDIR)/build/windows/wineprefix; \
	    preset=windows; \
	else \
	    echo "This machine cannot execute 32-bit x86 code: the Windows tests run as 64-bit"; \
	    echo "programs under 64-bit Wine (build/windows-x64)."; \
	    $(MAKE) --no-print-directory build-windows-x64 || exit 1; \
	    export WINE_BITS=64 WINEPREFIX=$(CURDIR)/build/windows-x64/wineprefix; \
	    preset=windows-x64; \
	fi; \
	cmake/wine-run.sh --init && \
	xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset $$preset; rc=$$?; \
	cmake/wine-run.sh --kill; exit $$rc

test: deps-test
	$(MAKE) --no-print-directory test-linux
	$(MAKE) --no-print-directory test-windows

# The whole program, measured from outside on a virtual display of its own: the Linux build and
# the Windows build (x86-64, under 64-bit Wine) in one table. About ten minutes.
bench: deps-bench
	cmake --preset linux
	cmake --build --preset linux -j 2 --target program_bench
	cmake --preset windows-x64
	cmake --build --preset windows-x64 -j 2 --target program_bench
	python3 bench/whole_program.py --linux build/linux/bench/program_bench \
	    --windows build/windows-x64/bench/program_bench.exe

clean:
	rm -rf build
