# Each build tree is a preset of CMakePresets.json (default, asan, bench, windows), which
# holds its compiler and flags; a *_BUILD variable moves a tree elsewhere.
BUILD ?= build
JOBS ?= $(shell nproc)

FUZZ_SECONDS ?= 20
FUZZ_LONG_SECONDS ?= 300
BENCH_BUILD ?= build-bench
# One clang tree with AddressSanitizer and UndefinedBehaviorSanitizer builds both the
# tests of the sanitizer pass and the fuzzers: one cold build less in CI.
SAN_BUILD ?= build-asan
FUZZ_BUILD ?= $(SAN_BUILD)
# The sanitizer pass leaves out what measures, only repeats runs, or waits on real time.
SANITIZE_EXCLUDE ?= bench|matrix|net|ledger
# Warnings are errors in every build; WERROR=OFF lets a local experiment through.
WERROR ?= ON

.PHONY: all deps build test check windows check-windows demo bench fuzz fuzz-build sanitize-build format format-check clean \
  package package-deb package-windows check-package check-windows-installer

all: build

deps:
	@scripts/install-deps.sh

# The default preset: -O2 with line tables only (-g1), so that backtraces and profiles
# keep their lines and the cold build is shorter; a debugger session passes CMAKE_ARGS
# with "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O0 -g".
build: deps
	@cmake --preset default -B $(BUILD) -DKV70_WERROR=$(WERROR) $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

# One tree, every test but the benchmarks: the loop to run after each change. Benchmarks
# measure and are reported by `make bench`; tests never hold timing targets.
# Four tests at once per core: the network tests spend most of their time waiting on
# sockets and real line time, and the others fill the cores meanwhile.
TEST_JOBS ?= $(shell echo $$(( $$(nproc) * 4 )))

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(TEST_JOBS) -LE bench

# The slower checks CI runs after `make test`: the formatting of every source, the tests
# again under AddressSanitizer and UndefinedBehaviorSanitizer, and the fuzzers.
# Two sanitized tests at once per core: some of them wait on the simulator in real time.
SAN_TEST_JOBS ?= $(shell echo $$(( $$(nproc) * 2 )))

check: format-check sanitize-build fuzz-build
	@UBSAN_OPTIONS=print_stacktrace=1 LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp ctest --test-dir $(SAN_BUILD) --output-on-failure -j $(SAN_TEST_JOBS) \
	  -LE '$(SANITIZE_EXCLUDE)'
	@fuzz/run_fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)
	@$(MAKE) --no-print-directory check-package

# The tests once more and the fuzz programs, in one tree: clang with AddressSanitizer and
# UndefinedBehaviorSanitizer over the whole build (the asan preset: -O1 and line tables
# only, quicker to build and enough for the sanitizers' reports).
sanitize-build: deps
	@cmake --preset asan -B $(SAN_BUILD) -DKV70_WERROR=$(WERROR) >/dev/null
	@cmake --build $(SAN_BUILD) -j $(JOBS)

# The fuzz programs alone (the fuzz build preset: the asan tree's `fuzzers` target).
fuzz-build: deps
	@cmake --preset asan -B $(FUZZ_BUILD) -DKV70_WERROR=$(WERROR) >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers

fuzz: fuzz-build
	@fuzz/run_fuzzers.sh $(FUZZ_BUILD) $(FUZZ_LONG_SECONDS)

# The project's .clang-format over every C and C++ source git knows.
format: deps
	@scripts/format.sh

format-check: deps
	@scripts/format.sh --check

# One table of every benchmark's figures (optimised build of its own).
bench: deps
	@cmake --preset bench -B $(BENCH_BUILD) >/dev/null
	@cmake --build $(BENCH_BUILD) -j $(JOBS) --target operations_bench dump_bench upgrade_bench \
	  srec_throughput serial_syscalls velmora kv70sim gui_bench
	@bench/run-bench.sh $(BENCH_BUILD)

# The same sources for Windows with Debian's MinGW-w64, and their tests under wine.
WIN_BUILD ?= build-windows
windows:
	@scripts/install-windows-deps.sh
	@cmake --preset windows -B $(WIN_BUILD) -DKV70_WERROR=$(WERROR) $(CMAKE_ARGS) >/dev/null
	@cmake --build $(WIN_BUILD) -j $(JOBS)

check-windows: windows build
	@scripts/check-windows.sh $(WIN_BUILD) $(BUILD)
	@$(MAKE) --no-print-directory check-windows-installer

# The Debian package from the build tree (no build of its own) and the Windows installer
# from the Windows build, both into $(PACKAGE_DIR); each tested as installed.
PACKAGE_DIR ?= $(BUILD)/packages
package: package-deb package-windows

package-deb: build
	@scripts/make-deb.sh $(BUILD) $(PACKAGE_DIR)

package-windows: windows
	@scripts/make-windows-installer.sh $(WIN_BUILD) $(PACKAGE_DIR)

check-package: package-deb
	@scripts/check-package.sh $(BUILD) $(PACKAGE_DIR)

check-windows-installer: package-windows
	@scripts/check-windows-installer.sh $(WIN_BUILD) $(PACKAGE_DIR)

demo: build
	@scripts/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(FUZZ_BUILD) $(BENCH_BUILD) $(WIN_BUILD)
