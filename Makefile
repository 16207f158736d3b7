# Front door of the project. See README.md.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
MAKEFLAGS += --no-print-directory
CMAKE_FLAGS ?=

.PHONY: all bootstrap configure build test demo bench sanitize fuzz cross cross-test package \
	cross-package board-test power-cut-test format format-check shellcheck clean

all: build

bootstrap:
	@scripts/bootstrap

configure: bootstrap
	@cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD_DIR) -j $(JOBS) --output-on-failure

demo: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target TessalyUpdater tessaly-peer
	@BUILD_DIR=$(BUILD_DIR) scripts/demo

bench: build
	@BUILD_DIR=$(BUILD_DIR) bench/run-all.sh

# AddressSanitizer + UndefinedBehaviorSanitizer over the whole suite, then
# ThreadSanitizer over the concurrency tests.
sanitize: bootstrap
	@scripts/sanitize

# libFuzzer targets, FUZZ_SECONDS each (default 60).
fuzz: bootstrap
	@scripts/fuzz

# The device build (ARMv7 hard-float) and its suite under qemu user-mode
# emulation; neither is part of test or CI (see README).
cross: bootstrap
	@JOBS=$(JOBS) scripts/cross-build

cross-test: bootstrap
	@JOBS=$(JOBS) NATIVE_BUILD_DIR=$(BUILD_DIR) scripts/cross-test

# One style for the C++ sources (.clang-format at the root).
FORMAT_FILES = $(shell git ls-files -- 'src/*.cpp' 'src/*.h' 'tools/*.cpp' 'tools/*.h' \
	'tests/*.cpp' 'tests/*.h' 'fuzz/*.cpp' 'fuzz/*.h' 'bench/*.cpp' 'bench/*.h')

format: bootstrap
	@clang-format -i $(FORMAT_FILES)

format-check: bootstrap
	@clang-format --dry-run --Werror $(FORMAT_FILES)

# Debian's shellcheck over every shell script: those that start with a
# shell's #! line, and the sourced ones, which name their shell in a
# "shellcheck shell=" directive. Sourced files are followed from the root.
SHELL_SCRIPTS = $(shell grep -rlE '^(\#!(/usr/bin/env |/bin/)(ba|da|busybox )?sh$$|\# shellcheck shell=)' \
	.ci bench deploy scripts tests tools)

shellcheck: bootstrap
	@shellcheck -x $(SHELL_SCRIPTS)
	@echo "shellcheck: $(words $(SHELL_SCRIPTS)) scripts, no findings"

# What goes onto the device, as a .deb and a .tar.gz (cmake/packaging.cmake),
# checked with lintian: for this machine, and for the device (armhf).
package: configure
	@JOBS=$(JOBS) scripts/package $(BUILD_DIR)

cross-package: bootstrap
	@JOBS=$(JOBS) CROSS_TARGETS="TessalyUpdater tessaly-peer" scripts/cross-build
	@JOBS=$(JOBS) scripts/package $${CROSS_BUILD_DIR:-build-armhf}

# The armhf package on an emulated Cortex-A9 board with systemd: installed,
# started, updated end to end, killed, rebooted (see README). Not part of test
# or CI; the first run builds the board into build-board-cache/.
board-test: cross-package
	@scripts/board-test

# The same board's power cut at chosen moments of an update, then booted
# again: the device comes back with the old version or the new one (see
# docs/operator.md, "Power cuts"). Not part of test or CI; POINTS=a,b runs a
# subset (scripts/power-cut-test lists them).
power-cut-test: cross-package
	@scripts/power-cut-test $(if $(POINTS),--points $(POINTS))

clean:
	rm -rf $(BUILD_DIR)
