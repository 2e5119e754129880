BUILD ?= build
GENERATOR := -G Ninja
JOBS ?= $(shell nproc)

FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 20
FUZZ_LONG_SECONDS ?= 300
BENCH_BUILD ?= build-bench
SAN_BUILD ?= build-asan
# The sanitizer pass leaves out what measures, only repeats runs, or waits on real time.
SANITIZE_EXCLUDE ?= bench|matrix|net
# Warnings are errors in every build; WERROR=OFF lets a local experiment through.
WERROR ?= ON

.PHONY: all deps build test check windows check-windows demo bench fuzz fuzz-build sanitize-build format format-check clean \
  package package-deb package-windows check-package check-windows-installer

all: build

deps:
	@scripts/install-deps.sh

# Line tables only (-g1): backtraces and profiles keep their lines, and the cold build is
# shorter; a debugger session passes CMAKE_ARGS with -g.
OPT_FLAGS ?= -O2 -g1 -DNDEBUG

build: deps
	@cmake -S . -B $(BUILD) $(GENERATOR) -DKV70_WERROR=$(WERROR) \
	  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=$(OPT_FLAGS)" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=$(OPT_FLAGS)" \
	  $(CMAKE_ARGS) >/dev/null
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
check: format-check sanitize-build fuzz-build
	@UBSAN_OPTIONS=print_stacktrace=1 LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp ctest --test-dir $(SAN_BUILD) --output-on-failure -j $(JOBS) \
	  -LE '$(SANITIZE_EXCLUDE)'
	@fuzz/run_fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)
	@$(MAKE) --no-print-directory check-package

# The tests once more, built with AddressSanitizer and UndefinedBehaviorSanitizer (-O1 and
# line tables only: quicker to build, and enough for the sanitizers' reports).
sanitize-build: deps
	@cmake -S . -B $(SAN_BUILD) $(GENERATOR) -DKV70_SANITIZE=ON -DKV70_WERROR=$(WERROR) \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1" >/dev/null
	@cmake --build $(SAN_BUILD) -j $(JOBS)

# The fuzz programs, with clang and the sanitizers over the whole of that build (-O1 and
# line tables only: quicker to build, and enough for the sanitizers' reports).
fuzz-build: deps
	@cmake -S . -B $(FUZZ_BUILD) $(GENERATOR) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DKV70_FUZZ=ON -DKV70_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only" >/dev/null
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
	@cmake -S . -B $(BENCH_BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(BENCH_BUILD) -j $(JOBS) --target operations_bench dump_bench upgrade_bench \
	  srec_throughput serial_syscalls velmora kv70sim gui_bench
	@bench/run-bench.sh $(BENCH_BUILD)

# The same sources for Windows with Debian's MinGW-w64, and their tests under wine.
WIN_BUILD ?= build-windows
windows:
	@scripts/install-windows-deps.sh
	@cmake -S . -B $(WIN_BUILD) $(GENERATOR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	  -DKV70_WERROR=$(WERROR) $(CMAKE_ARGS) >/dev/null
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
	rm -rf $(BUILD) $(FUZZ_BUILD) $(SAN_BUILD) $(BENCH_BUILD) $(WIN_BUILD)
