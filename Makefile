# Two entry points for a newcomer: `make demo` and `make test`. Each checks
# the needed Debian packages, then configures and builds what it needs.
BUILD ?= build
MAKEFLAGS += --no-print-directory
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo $(if $(CI),-DPHONOSKEW_WERROR=ON)

.PHONY: all build demo test bench check-exact deps clean

all: build

deps:
	@scripts/check-deps.sh

build: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DPHONOSKEW_REQUIRE_TESTS=ON >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The program and the demo-signal tool alone, so no GoogleTest is needed.
demo:
	@scripts/check-deps.sh --demo
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DPHONOSKEW_REQUIRE_TESTS=OFF >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target phonoskew phonoskew-demo-signal
	@scripts/demo.sh $(BUILD)

# Speed and memory figures of the whole job on 60 s of audio (BENCH_SECONDS=600
# for ten minutes), step by step and as a user runs it.
BENCH_SECONDS ?= 60
bench: build
	@$(BUILD)/tools/phonoskew-bench $(BUILD)/phonoskew --seconds $(BENCH_SECONDS)

# The filter kernels' aimed exactness steps, 10^10 of them instead of the
# test run's 10^8 (about 14 minutes on a shared 2-core Zen 3 without AVX-512).
check-exact: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) --target filters_tests -j $(JOBS)
	@PHONOSKEW_EXACT_STEPS=10000000000 $(BUILD)/tests/filters_tests --gtest_filter='ExactKernels.*'

clean:
	rm -rf $(BUILD) demo
