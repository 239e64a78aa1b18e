# Wraps CMake so that nobody needs to know it: `make`, `make test`, `make asan-test`,
# `make format`, `make bench`. The tool is built as build/isocull.

MAKEFLAGS += --no-print-directory

BUILD_DIR ?= build
ASAN_DIR  ?= build-asan
JOBS      ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE     ?= cmake
CTEST     ?= ctest

.PHONY: all build test asan-test format clean bench

all: build

$(BUILD_DIR)/CMakeCache.txt:
	$(CMAKE) -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release

build: $(BUILD_DIR)/CMakeCache.txt
	$(CMAKE) --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && $(CTEST) --output-on-failure -j $(JOBS)

$(ASAN_DIR)/CMakeCache.txt:
	$(CMAKE) -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DISOCULL_SANITIZE=ON -DISOCULL_BENCH=OFF

asan-test: $(ASAN_DIR)/CMakeCache.txt
	$(CMAKE) --build $(ASAN_DIR) -j $(JOBS)
	cd $(ASAN_DIR) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  $(CTEST) --output-on-failure -j $(JOBS)

# LAS reading and writing speed; the 20-million-point scenes are generated once into
# $(BENCH_DATA) and reused.
BENCH_DATA ?= bench-data
bench: build
	./$(BUILD_DIR)/bench_las_io $(BENCH_DATA)

format:
	find src tests tools bench -name '*.cpp' -o -name '*.hpp' | xargs -r clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR)
