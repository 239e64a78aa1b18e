# Wraps CMake so that nobody needs to know it: `make`, `make test`, `make asan-test`,
# `make format`, `make bench`, `make demo`. The tool is built as build/isocull.

MAKEFLAGS += --no-print-directory

BUILD_DIR ?= build
ASAN_DIR  ?= build-asan
JOBS      ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE     ?= cmake
CTEST     ?= ctest

.PHONY: all build test asan-test format clean bench demo

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

# LAS reading and writing speed, the noise tool end to end, PKZ coding speed; the
# 20-million-point scenes are generated once into $(BENCH_DATA) and reused.
BENCH_DATA ?= bench-data
bench: build
	./$(BUILD_DIR)/bench_las_io $(BENCH_DATA)
	./$(BUILD_DIR)/bench_isocull $(BENCH_DATA)
	./$(BUILD_DIR)/bench_pkz

# The demo: a synthetic 500,000-point airborne tile with injected noise (generated once,
# with the list of the injected points), denoised with the default settings.
DEMO_DIR ?= demo
demo: build
	@mkdir -p $(DEMO_DIR)
	@if [ ! -f $(DEMO_DIR)/scene.las ] || [ ! -f $(DEMO_DIR)/scene_noise.txt ]; then \
	  echo "generating $(DEMO_DIR)/scene.las (500,000 points, point type 1) ..."; \
	  ./$(BUILD_DIR)/make_scene -o $(DEMO_DIR)/scene.las -points 500000 -type 1 \
	    -truth $(DEMO_DIR)/scene_noise.txt || exit 1; \
	fi
	@echo "running: ./$(BUILD_DIR)/isocull -i $(DEMO_DIR)/scene.las -o $(DEMO_DIR)/scene_denoised.las"
	@start=$$(date +%s%N); \
	./$(BUILD_DIR)/isocull -i $(DEMO_DIR)/scene.las -o $(DEMO_DIR)/scene_denoised.las || exit 1; \
	end=$$(date +%s%N); \
	./$(BUILD_DIR)/demo_report $(DEMO_DIR)/scene.las $(DEMO_DIR)/scene_denoised.las \
	  $(DEMO_DIR)/scene_noise.txt $$(awk "BEGIN { print ($$end - $$start) / 1e9 }")

format:
	find src tests tools bench -name '*.cpp' -o -name '*.hpp' | xargs -r clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR)
