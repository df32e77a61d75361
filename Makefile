# The two commands of the README: `make demo` and `make test`; `make bench` for the speed figures.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
RELEASE_DIR := build
ASAN_DIR := build/asan

.PHONY: all deps release asan demo test bench fuzz format clean

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

test: asan
	@cd $(ASAN_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 1500

bench: release
	@scripts/bench $(RELEASE_DIR)/bin

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
