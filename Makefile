# Wraps CMake so that nobody needs to know it: `make`, `make test`, `make asan-test`,
# `make format`, `make bench`, `make demo`, `make install`, `make uninstall`. The tool is
# built as build/isocull.

MAKEFLAGS += --no-print-directory

BUILD_DIR ?= build
ASAN_DIR  ?= build-asan
TSAN_DIR  ?= build-tsan
JOBS      ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE     ?= cmake
CTEST     ?= ctest

.PHONY: all build test asan-test tsan-test format clean bench demo fuzz fuzz-build deps install uninstall python

all: build

# What a fresh Debian machine lacks (cmake, g++, GoogleTest) is installed before the first
# configure, so `make test` and `make demo` are all a newcomer types.
deps:
	@sh tools/install_missing_packages.sh

$(BUILD_DIR)/CMakeCache.txt: | deps
	$(CMAKE) -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release

build: $(BUILD_DIR)/CMakeCache.txt
	$(CMAKE) --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && $(CTEST) --output-on-failure -j $(JOBS)

# Installs isocull, isocull_index, tile_list, isocull-survey (tools/denoise_survey.sh) and the
# manual page isocull.1 under PREFIX (share/man/man1), below DESTDIR when packaging; what
# CMake installs besides (the Python module, when built) comes along. `make uninstall`
# removes every file the last install wrote, as its manifest lists them, below the DESTDIR
# that install was given (kept beside the manifest, which names the files without it).
PREFIX   ?= /usr/local
MANIFEST ?= $(BUILD_DIR)/install_manifest.txt
install: build
	DESTDIR="$(DESTDIR)" $(CMAKE) --install $(BUILD_DIR) --prefix "$(PREFIX)"
	@printf '%s\n' "$(DESTDIR)" > "$(MANIFEST).destdir"

uninstall:
	@if [ ! -f "$(MANIFEST)" ]; then echo "nothing to uninstall: no $(MANIFEST)"; exit 0; fi; \
	destdir="$(DESTDIR)"; \
	if [ -z "$$destdir" ] && [ -f "$(MANIFEST).destdir" ]; then destdir=$$(cat "$(MANIFEST).destdir"); fi; \
	while IFS= read -r file || [ -n "$$file" ]; do \
	  [ -z "$$file" ] && continue; \
	  target="$$destdir$$file"; \
	  if [ -e "$$target" ] || [ -L "$$target" ]; then rm -f "$$target" && echo "removed $$target"; fi; \
	done < "$(MANIFEST)"; \
	rm -f "$(MANIFEST)" "$(MANIFEST).destdir"

# The Python module into $(BUILD_DIR)/python/ (PYTHONPATH=$(BUILD_DIR)/python python3 -c
# "import isocull"); `make` and `make test` build it too when pybind11 is there.
python: $(BUILD_DIR)/CMakeCache.txt
	$(CMAKE) --build $(BUILD_DIR) -j $(JOBS) --target python

# The sanitized build at -Og with line tables only, its files compiled in groups (see
# CMakeLists.txt): the checks are the same as at -O0 file by file, the tests run several times
# faster and CI stays within its time. (-Og compiles the instrumented code in three quarters
# of the time -O1 takes, and the tests run as fast.)
$(ASAN_DIR)/CMakeCache.txt: | deps
	$(CMAKE) -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-Og -g1" -DCMAKE_UNITY_BUILD=ON -DISOCULL_SANITIZE=ON -DISOCULL_BENCH=OFF

asan-test: $(ASAN_DIR)/CMakeCache.txt
	$(CMAKE) --build $(ASAN_DIR) -j $(JOBS)
	cd $(ASAN_DIR) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  $(CTEST) --output-on-failure -j $(JOBS)

# The threaded paths (file streams, codec, LAS reader and writer, the tool's passes) under
# ThreadSanitizer: the test programs of those subsystems and the tool they run, at -O1 (a
# fifth less compile time than -O2; the instrumented tests run as fast).
TSAN_TESTS ?= stream codec las tool
$(TSAN_DIR)/CMakeCache.txt:
	$(CMAKE) -S . -B $(TSAN_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DCMAKE_UNITY_BUILD=ON -DISOCULL_TSAN=ON -DISOCULL_BENCH=OFF

tsan-test: $(TSAN_DIR)/CMakeCache.txt
	$(CMAKE) --build $(TSAN_DIR) -j $(JOBS) --target isocull tile_list $(addprefix test_,$(TSAN_TESTS))
	cd $(TSAN_DIR) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 die_after_fork=0" \
	  $(CTEST) --output-on-failure -j $(JOBS) -R "^($$(echo $(TSAN_TESTS) | tr ' ' '|'))(_[0-9]+)?$$"

# The isolation grid alone, scattered against packed points (time and memory by the point,
# not by the area), LAS reading and writing speed, the noise tool end to end, PKZ
# coding speed of the plain and the layered codecs, text to LAS and LAS to text, area
# queries with and without a spatial index, LAY files against full copies, one thread
# beside every core (bench_cores; BENCH_CORES_POINTS=400000 for a quick run), runs over
# thousands of one-point files (bench_many_files), and the Python module's isolated() beside
# the tool on the same points (when the module is built); the 20-million-point scenes are
# generated once into $(BENCH_DATA) and reused.
BENCH_DATA ?= bench-data
PYTHON     ?= /usr/bin/python3
bench: build
	$(CMAKE) --build $(BUILD_DIR) -j $(JOBS) --target benchmarks
	./$(BUILD_DIR)/bench_grid
	./$(BUILD_DIR)/bench_scattered $(BENCH_DATA)
	./$(BUILD_DIR)/bench_las_io $(BENCH_DATA)
	./$(BUILD_DIR)/bench_isocull $(BENCH_DATA)
	./$(BUILD_DIR)/bench_transform $(BENCH_DATA)
	./$(BUILD_DIR)/bench_pkz
	./$(BUILD_DIR)/bench_pkz14
	./$(BUILD_DIR)/bench_text $(BENCH_DATA)
	./$(BUILD_DIR)/bench_wrappers $(BENCH_DATA)
	./$(BUILD_DIR)/bench_index $(BENCH_DATA)
	./$(BUILD_DIR)/bench_filter $(BENCH_DATA)
	./$(BUILD_DIR)/bench_layers $(BENCH_DATA)
	./$(BUILD_DIR)/bench_cores $(BENCH_DATA)
	./$(BUILD_DIR)/bench_many_files $(BENCH_DATA)
	@if [ -d $(BUILD_DIR)/python/isocull ]; then \
	  ISOCULL_BUILD_DIR=$(BUILD_DIR) PYTHONPATH=$(BUILD_DIR)/python $(PYTHON) bench/bench_python.py $(BENCH_DATA); \
	else echo "bench_python skipped: the Python module is not built"; fi

# Fuzzing (clang and libFuzzer; not part of test or CI): builds the targets of fuzz/ in
# $(FUZZ_DIR), seeds each corpus with the project's own scenes, the real point files (copied
# at run time, never committed) and the kept regression inputs of tests/corpus/, and runs
# each target for FUZZ_SECONDS, one after the other (a smaller quarantine keeps the memory
# limit about the code, not about freed blocks that ASan holds back; the paths are absolute
# because the tool targets change the working directory). Findings land in
# $(FUZZ_DIR)/artifacts/<target>/; minimise one and keep it in tests/corpus/<target>/.
FUZZ_DIR      ?= build-fuzz
FUZZ_SECONDS  ?= 60
FUZZ_TARGETS  ?= las_file pkz_file pkz_block pkz_items lax_file lay_file point_formats text_file tool_args tool_run tool_claims input_bytes grid_cells coordinate_noise
FUZZ_FLAGS    ?= -max_len=65536 -rss_limit_mb=512 -malloc_limit_mb=256 -timeout=10 -close_fd_mask=2
REAL_DATA_DIR ?= ../shared/data/real

$(FUZZ_DIR)/CMakeCache.txt:
	$(CMAKE) -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	  -DISOCULL_FUZZ=ON -DISOCULL_TESTS=OFF -DISOCULL_BENCH=OFF

fuzz-build: $(FUZZ_DIR)/CMakeCache.txt
	$(CMAKE) --build $(FUZZ_DIR) -j $(JOBS)

fuzz: fuzz-build
	./$(FUZZ_DIR)/make_fuzz_seeds $(FUZZ_DIR)/corpus $(REAL_DATA_DIR)
	@for target in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_DIR)/corpus/$$target $(FUZZ_DIR)/artifacts/$$target tests/corpus/$$target; \
	  echo "== fuzz_$$target for $(FUZZ_SECONDS) s"; \
	  ASAN_OPTIONS=quarantine_size_mb=32 ./$(FUZZ_DIR)/fuzz_$$target -max_total_time=$(FUZZ_SECONDS) $(FUZZ_FLAGS) \
	    -artifact_prefix=$(abspath $(FUZZ_DIR))/artifacts/$$target/ \
	    $(abspath $(FUZZ_DIR))/corpus/$$target $(CURDIR)/tests/corpus/$$target || exit 1; \
	done

# The demo: a synthetic 500,000-point airborne tile with injected noise (generated once,
# with the list of the injected points), denoised with the default settings.
# It builds only what it runs (the tool, the scene generator and the report), no test program.
DEMO_DIR ?= demo
demo: $(BUILD_DIR)/CMakeCache.txt
	$(CMAKE) --build $(BUILD_DIR) -j $(JOBS) --target isocull make_scene demo_report
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
	find src tests tools bench fuzz python -name '*.cpp' -o -name '*.hpp' | xargs -r clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR)
