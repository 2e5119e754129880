BUILD ?= build
GENERATOR := -G Ninja
JOBS ?= $(shell nproc)

.PHONY: all deps build test demo bench fuzz clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) $(GENERATOR) $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

demo: build
	@scripts/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD)
