# The two commands of the README: `make demo` and `make test`; `make bench` for the speed figures.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
RELEASE_DIR := build
ASAN_DIR := build/asan
FUZZ_DIR := build/fuzz
TSAN_DIR := build/tsan
NOSIMD_DIR := build/nosimd

.PHONY: all deps release asan demo test bench fuzz fuzz-build fuzz-smoke format clean tsan nosimd

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

# The fuzz targets are built and given a short run over their seed corpora too, so that they
# cannot rot; `make fuzz` runs each for FUZZ_SECONDS and keeps the corpora in build/fuzz/corpus.
FUZZ_SECONDS ?= 600
FUZZ_SMOKE_SECONDS ?= 20
test: asan fuzz-smoke tsan nosimd
	@cd $(ASAN_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 1500

fuzz-build: deps
	@cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
		-DTESSARO_FUZZ=ON -DTESSARO_TESTS=OFF -DTESSARO_BENCH=OFF >/dev/null
	@cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzzers

fuzz: fuzz-build
	@scripts/fuzz-run $(FUZZ_DIR) $(FUZZ_SECONDS)

fuzz-smoke: fuzz-build
	@scripts/fuzz-run $(FUZZ_DIR) $(FUZZ_SMOKE_SECONDS)

bench: release
	@scripts/bench $(RELEASE_DIR)/bin

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build

# `make install PREFIX=/some/where`: tessaro, tessaro-cli, the icon and the desktop entry.
PREFIX ?= /usr/local
.PHONY: install
install: release
	@cmake --install $(RELEASE_DIR) --prefix $(PREFIX)

# ThreadSanitizer over the job tests and the encoder's threaded coding, to keep it short.
TSAN_TESTS := ^(JobContract|JobData|EncodeJobApi|DecodeJobApi|JobApi|CompareJobApi|DataSafety|ThreadedEncode|WorkerPool|FrameReader|FrameWriter|Decode)\.
tsan: deps
	@cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSARO_BENCH=OFF \
		-DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_C_FLAGS=-fsanitize=thread \
		-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread >/dev/null
	@cmake --build $(TSAN_DIR) -j $(JOBS) --target test_core test_cli test_encoder tessaro-cli
	@cd $(TSAN_DIR) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
		ctest --output-on-failure -j $(JOBS) --timeout 600 -R '$(TSAN_TESTS)'

# The codec without its SSE2/AVX2 kernels (-DTESSARO_SIMD=OFF), as a processor other than x86-64
# builds it: only the plain versions exist and every dispatch takes them. Runs the codec tests.
NOSIMD_TESTS := test_kernels test_enctools test_motion test_encoder test_decoder test_annexes test_roundtrip test_damage
nosimd: deps
	@cmake -S . -B $(NOSIMD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSARO_SIMD=OFF -DTESSARO_BENCH=OFF >/dev/null
	@cmake --build $(NOSIMD_DIR) -j $(JOBS) --target $(NOSIMD_TESTS)
	@cd $(NOSIMD_DIR) && mkdir -p test-tmp && for t in $(NOSIMD_TESTS); do \
		TESSARO_TEST_TMP=$(CURDIR)/$(NOSIMD_DIR)/test-tmp ./bin/$$t --gtest_brief=1 || exit 1; done
