# Two commands do all the set-up on a fresh Debian 12 machine:
#   make run    installs what is missing, builds and starts the editor
#   make test   installs what is missing, builds and runs every test
# `make bench` runs the benchmarks in a Release build, and `make bench-large`
# the ones of 100M points.

BUILD_DIR  ?= build
BENCH_DIR  ?= $(BUILD_DIR)/release
JOBS       ?= 2
CMAKE_ARGS ?=

.PHONY: all deps configure build run test bench-build bench bench-large package clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD_DIR) -j$(JOBS)

run: build
	./$(BUILD_DIR)/kav

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)

# Sizes of 100M points take minutes and gigabytes, so `make bench` leaves
# them to `make bench-large` (JSON in $(BUILD_DIR)/bench-large.json).
LARGE      := /100000000(/|$$)

bench-build: deps
	cmake -S . -B $(BENCH_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DKAV_BUILD_TESTS=OFF -DKAV_BUILD_BENCH=ON
	cmake --build $(BENCH_DIR) -j$(JOBS) --target kav_bench

bench: bench-build
	QT_QPA_PLATFORM=offscreen ./$(BENCH_DIR)/bench/kav_bench --benchmark_filter='-$(LARGE)' \
		--benchmark_out=$(BUILD_DIR)/bench.json --benchmark_out_format=json

bench-large: bench-build
	QT_QPA_PLATFORM=offscreen ./$(BENCH_DIR)/bench/kav_bench --benchmark_filter='$(LARGE)' \
		--benchmark_out=$(BUILD_DIR)/bench-large.json --benchmark_out_format=json

# The Debian package, from a Release build of its own: $(BUILD_DIR)/kav_<version>_<arch>.deb
package: deps
	cmake -S . -B $(BUILD_DIR)/package -G Ninja -DCMAKE_BUILD_TYPE=Release -DKAV_BUILD_TESTS=OFF
	cmake --build $(BUILD_DIR)/package -j$(JOBS)
	cd $(BUILD_DIR)/package && cpack -G DEB -B $(abspath $(BUILD_DIR))
	rm -rf $(BUILD_DIR)/_CPack_Packages

clean:
	rm -rf $(BUILD_DIR) build-asan build-tsan
