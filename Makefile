# Commands for a fresh Debian machine:
#   make run           installs what is missing, builds the Linux program and starts it
#   make test          installs what is missing, builds both platforms and runs every test
#   make run-windows   installs what is missing, builds the Windows program this machine can run
#                      and starts it under Wine in a Japanese locale
#   make bench         installs what is missing, builds both platforms' benchmark driver and
#                      prints the whole-program table (Linux build and Windows build under Wine)
# Installing uses apt-get as root, or through sudo otherwise, and is skipped when all is there.

SHELL := /bin/bash
.DEFAULT_GOAL := run

DRIVE_C ?= $(or $(MEASURE_DRIVE_C),$(HOME)/.local/share/measure/drive_c)

# Packages of the Linux build, of the Windows cross build, of Wine with a virtual display, of
# the check of what a screen reader hears (AT-SPI on a D-Bus session of its own) and of the
# stand-in sleep inhibitors (python3-gi, on a private dbus-daemon); libc6-i386 brings the 32-bit
# loader through which deps-test asks whether 32-bit Wine could run at all.
LINUX_PACKAGES := cmake ninja-build g++ make qt6-base-dev qt6-qpa-plugins libgl-dev \
                  googletest libgtest-dev fonts-ipafont-mincho binutils-mingw-w64-x86-64
TEST_PACKAGES := $(LINUX_PACKAGES) g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 \
                 xvfb xauth locales dbus at-spi2-core python3-pyatspi python3-gi libc6-i386
# Locales that must exist on the machine: one that writes decimal commas, under which the Linux
# program tests run a second time, and the Japanese one, without which Wine cannot map the
# program's non-ASCII file names to Unix names.
TEST_LOCALES := de_DE.UTF-8 ja_JP.UTF-8
# What `make package` needs beyond both builds: CPack's .deb tools, the desktop-entry check, the
# .deb's linter and the AppStream check; and what the check of the installed .deb needs to press
# the dialog's buttons.
PACKAGE_PACKAGES := $(LINUX_PACKAGES) g++-mingw-w64-i686 dpkg-dev file desktop-file-utils \
                    lintian appstream
DEB_CHECK_PACKAGES := xvfb xauth xdotool
# The Windows installer: NSIS makes it in `make package`; its check needs, beyond Wine (from the
# tests' packages), the same as the .deb's, the shortcut reader, and `file` for a look at the
# installer where 32-bit code cannot run.
PACKAGE_PACKAGES += nsis
INSTALLER_CHECK_PACKAGES := $(DEB_CHECK_PACKAGES) python3 file
# What `make bench` needs beyond the tests: the script that reads /proc, strace, which counts
# the system calls of a sample, and a window manager, which minimizes the dialog.
BENCH_PACKAGES := $(TEST_PACKAGES) python3 strace openbox
SUDO := $(if $(filter 0,$(shell id -u)),,sudo)
MACHINE := scripts/machine.sh
# Compile jobs: one per processor of this machine (make JOBS=N ... to choose).
JOBS := $(shell nproc)

# Shell commands of the targets that run the Windows programs. windows_env sets `preset` to the
# preset whose programs run on this machine (windows, or windows-x64 where 32-bit Wine cannot
# run) and exports the Wine that runs them (WINE_BITS) and that preset's prefix (WINEPREFIX).
windows_env = preset=$$($(MACHINE) windows-preset); \
    export WINE_BITS=$$($(MACHINE) wine-bits) WINEPREFIX=$(CURDIR)/build/$$preset/wineprefix
# need_display stops a target whose program shows a window when there is no display to show it on.
need_display = if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
    echo "No display: 'make $@' shows the program's dialog on one. Run it from a desktop"; \
    echo "session, or on a virtual display: xvfb-run -a make $@"; \
    exit 1; \
fi

# A shell command that prints which of the given locales `locale -a` does not list (it spells
# de_DE.UTF-8 as de_DE.utf8).
missing_locales = for l in $(1); do \
    n=$$(echo "$$l" | tr 'A-Z' 'a-z' | tr -d -- '-'); \
    locale -a 2>/dev/null | tr 'A-Z' 'a-z' | tr -d -- '-' | grep -qx "$$n" || echo "$$l"; done

.PHONY: run test deps-run deps-test locales build-linux build-windows build-windows-x64 \
        build-linux-asan build-linux-tsan test-linux test-linux-asan test-linux-tsan \
        test-windows run-windows package deps-package deb-check installer-check bench deps-bench \
        clean

deps-run:
	@$(MACHINE) install $(LINUX_PACKAGES)

# 32-bit Wine only where the machine executes 32-bit code and the mirror serves it; elsewhere
# the Windows programs run as the 64-bit build, and the targets that run them say so.
deps-test:
	@$(MACHINE) install $(TEST_PACKAGES)
	@$(MACHINE) wine32

deps-package:
	@$(MACHINE) install $(PACKAGE_PACKAGES)

deps-bench: deps-test
	@$(MACHINE) install $(BENCH_PACKAGES)

locales:
	@m=$$($(call missing_locales,$(TEST_LOCALES))); if [ -n "$$m" ]; then \
	    echo "Generating locales:" $$m; \
	    for l in $$m; do \
	        grep -qx "$$l UTF-8" /etc/locale.gen 2>/dev/null || \
	        echo "$$l UTF-8" | $(SUDO) tee -a /etc/locale.gen >/dev/null; \
	    done; \
	    $(SUDO) locale-gen >/dev/null || exit 1; \
	    m=$$($(call missing_locales,$(TEST_LOCALES))); \
	    if [ -n "$$m" ]; then echo "Locales still missing after locale-gen:" $$m; exit 1; fi; \
	fi

build-linux:
	cmake --preset linux
	cmake --build --preset linux -j $(JOBS)

# The Linux tests again under AddressSanitizer + UBSan and under ThreadSanitizer: any report
# ends its test with a failure (the test presets set halt_on_error and the suppressions).
build-linux-asan build-linux-tsan: build-linux-%:
	cmake --preset linux-$*
	cmake --build --preset linux-$* -j $(JOBS) --target program_tests platform_tests

build-windows:
	cmake --preset windows
	cmake --build --preset windows -j $(JOBS)

build-windows-x64:
	cmake --preset windows-x64
	cmake --build --preset windows-x64 -j $(JOBS) --target measure program_tests platform_tests

run: deps-run build-linux
	@mkdir -p "$(DRIVE_C)/data"
	@$(need_display)
	@echo "Recordings land in $(DRIVE_C)/data/ (the program's C:\\data\\)."
	MEASURE_DRIVE_C="$(DRIVE_C)" build/linux/measure

# The program tests run a second time under a locale with a decimal comma: the data file and
# the fields must not change with the user's locale.
test-linux: build-linux locales
	ctest --preset linux
	ctest --preset linux-decimal-comma

test-linux-asan test-linux-tsan: test-linux-%: build-linux-%
	ctest --preset linux-$*

# The Windows suites run under Wine on a virtual display: the shipped 32-bit build under 32-bit
# Wine where this machine can run it, else the same test sources as 64-bit programs.
test-windows: build-windows locales
	@$(windows_env); \
	if [ "$$preset" = windows-x64 ]; then \
	    $(MACHINE) note tested; \
	    $(MAKE) --no-print-directory build-windows-x64 || exit 1; \
	fi; \
	cmake/wine-run.sh --init && \
	xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset $$preset; rc=$$?; \
	cmake/wine-run.sh --kill; exit $$rc

# What could not be tested here is said first and again last, where a reader of the log looks.
test: deps-test
	@$(MACHINE) note tested; rc=0; \
	for t in test-linux test-linux-asan test-linux-tsan test-windows; do \
	    $(MAKE) --no-print-directory $$t || { rc=$$?; break; }; \
	done; \
	$(MACHINE) note tested; exit $$rc

# The shipped 32-bit program where this machine can run it, else the same sources as a 64-bit
# program; under Wine in a Japanese locale (code page 932), with the prefix's C:\data ready.
run-windows: deps-test locales
	@$(need_display)
	@$(MACHINE) note run; $(windows_env); \
	cmake --preset $$preset && cmake --build --preset $$preset -j $(JOBS) --target measure && \
	cmake/wine-run.sh --init && cmake/wine-run.sh build/$$preset/measure.exe

# The packages users install: build/packages/measure_<version>_amd64.deb (the Linux program,
# its desktop entry, icon, manual page and AppStream metadata), measure-<version>-win32.zip (the
# 32-bit measure.exe) and measure-<version>-win32-setup.exe (the Windows installer of the same
# measure.exe). A warning from lintian or from the AppStream check fails it.
package: deps-package build-linux build-windows
	desktop-file-validate packaging/measure.desktop
	rm -rf build/packages && mkdir -p build/packages
	cd build/linux && cpack -G DEB -B $(CURDIR)/build/packages/linux
	cd build/windows && cpack -G ZIP -B $(CURDIR)/build/packages/windows
	cd build/windows && cpack -G NSIS -B $(CURDIR)/build/packages/windows
	mv build/packages/linux/measure_*.deb build/packages/windows/measure-*-win32.zip \
	    build/packages/windows/measure-*-win32-setup.exe build/packages/
	rm -rf build/packages/linux build/packages/windows
	@ls -l build/packages
	appstreamcli validate --no-net build/linux/packaging/measure.metainfo.xml
	lintian --fail-on error,warning build/packages/measure_*_amd64.deb

# CI: installs the .deb from `make package` with apt-get, runs the installed program as a
# user would and removes the package again. It installs system packages: not part of `make test`.
deb-check:
	@$(MACHINE) install $(DEB_CHECK_PACKAGES)
	.ci/deb-check build/packages/measure_*_amd64.deb

# CI: runs the Windows installer from `make package` under 32-bit Wine in a fresh prefix: a
# silent install, the program that its shortcut starts recording through its buttons, a silent
# uninstall that keeps the data. Skips what a machine without 32-bit Wine cannot run, and says
# so.
installer-check: deps-test locales
	@$(MACHINE) install $(INSTALLER_CHECK_PACKAGES)
	.ci/installer-check build/packages/measure-*-win32-setup.exe

# The whole program, measured from outside on a virtual display of its own: the Linux build and
# the Windows build under Wine in one table. The Windows build is the shipped 32-bit one under
# 32-bit Wine where this machine can run it, as in make test, else the x86-64 image under
# 64-bit Wine; the table's column says which. About half an hour.
bench: deps-bench
	cmake --preset linux
	cmake --build --preset linux -j $(JOBS) --target program_bench
	@$(MACHINE) note measured; $(windows_env); \
	cmake --preset $$preset && \
	cmake --build --preset $$preset -j $(JOBS) --target program_bench && \
	python3 bench/whole_program.py --linux build/linux/bench/program_bench \
	    --windows build/$$preset/bench/program_bench.exe

clean:
	rm -rf build
