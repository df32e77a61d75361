# The two commands of the README: `make demo` and `make test`; `make bench` for the speed figures.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
RELEASE_DIR := build
ASAN_DIR := build/asan
FUZZ_DIR := build/fuzz
TSAN_DIR := build/tsan

.PHONY: all deps release asan demo test bench fuzz fuzz-smoke format clean tsan

all: release

deps:
	@scripts/install-deps

release: deps
	@cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(RELEASE_DIR) -j $(JOBS)

asan: deps
	@cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSARO_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN_DIR) -j $(JOBS)

demo: release
	@scripts/demo $(RELEASE_DIR)/bin

# The fuzzer is built and given a short run too, so that it cannot rot; `make fuzz` only builds it
# (run it longer with build/fuzz/bin/fuzz_decoder -max_total_time=600 CORPUS_DIR).
test: asan fuzz-smoke tsan
	@cd $(ASAN_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 1500

fuzz: deps
	@cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
		-DTESSARO_FUZZ=ON -DTESSARO_TESTS=OFF -DTESSARO_BENCH=OFF >/dev/null
	@cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzz_decoder

fuzz-smoke: fuzz
	@$(FUZZ_DIR)/bin/fuzz_decoder -runs=20000 -max_len=12000 -seed=1 -artifact_prefix=$(FUZZ_DIR)/ \
		>$(FUZZ_DIR)/smoke.log 2>&1 || { cat $(FUZZ_DIR)/smoke.log; exit 1; }
	@echo "fuzz_decoder: $$(tail -n 1 $(FUZZ_DIR)/smoke.log)"

bench: release
	@scripts/bench $(RELEASE_DIR)/bin

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build

# ThreadSanitizer over the job tests only (the codec has no threads of its own), to keep it short.
TSAN_TESTS := ^(JobContract|JobData|EncodeJobApi|DecodeJobApi|JobApi|CompareJobApi|DataSafety)\.
tsan: deps
	@cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSARO_BENCH=OFF \
		-DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_C_FLAGS=-fsanitize=thread \
		-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread >/dev/null
	@cmake --build $(TSAN_DIR) -j $(JOBS) --target test_core test_cli tessaro-cli
	@cd $(TSAN_DIR) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
		ctest --output-on-failure -j $(JOBS) --timeout 600 -R '$(TSAN_TESTS)'
