BUILD ?= build
GENERATOR := -G Ninja
JOBS ?= $(shell nproc)

FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 20
FUZZ_LONG_SECONDS ?= 300

.PHONY: all deps build test demo bench fuzz fuzz-build clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) $(GENERATOR) $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

test: build fuzz-build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	@fuzz/run_fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# The fuzz programs, with clang and the sanitizers over the whole of that build (-O1 and
# line tables only: quicker to build, and enough for the sanitizers' reports).
fuzz-build: deps
	@cmake -S . -B $(FUZZ_BUILD) $(GENERATOR) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DKV70_FUZZ=ON -DKV70_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only" >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers

fuzz: fuzz-build
	@fuzz/run_fuzzers.sh $(FUZZ_BUILD) $(FUZZ_LONG_SECONDS)

demo: build
	@scripts/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD)
