# The two commands of the README: `make demo` and `make test`; `make bench` for the speed figures.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
RELEASE_DIR := build
ASAN_DIR := build/asan
FUZZ_DIR := build/fuzz

.PHONY: all deps release asan demo test bench fuzz fuzz-smoke format clean

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
test: asan fuzz-smoke
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

# `make install PREFIX=/some/where`: tessaro, tessaro-cli, the icon and the desktop entry.
PREFIX ?= /usr/local
.PHONY: install
install: release
	@cmake --install $(RELEASE_DIR) --prefix $(PREFIX)
