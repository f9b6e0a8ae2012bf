# Front door of the build. `make run` and `make test` do all the set-up on a fresh Debian machine.
BUILD_DIR ?= build
DATA_DIR ?= rembiz-data
LISTEN ?= 127.0.0.1:8080
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test test-asan fuzz bench format format-check clean

all: build

deps:
	@bash scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@if [ ! -f $(DATA_DIR)/qdsystem.db ]; then ./$(BUILD_DIR)/rembiz init --data $(DATA_DIR) --demo; fi
	@echo "Demo data in $(DATA_DIR). The console: http://$(LISTEN)/  (user demo, password demo)"
	@echo "From a script:"
	@echo "  curl -s -c /tmp/rembiz.cookies -d user=demo -d password=demo http://$(LISTEN)/api/login"
	@echo "  curl -s -b /tmp/rembiz.cookies --data-binary '<req><func name=\"currencyget\"/></req>' http://$(LISTEN)/api/CPubMsg"
	@echo "Stop with Ctrl+C."
	@./$(BUILD_DIR)/rembiz serve --data $(DATA_DIR) --listen $(LISTEN)

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The whole suite again under the address, leak and undefined-behaviour sanitizers (build-asan/).
test-asan: deps
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan -j $(JOBS)
	@ctest --preset asan -j $(JOBS)

# Release build in build-release/; figures to build/bench-results.json (BENCH_QUICK=1: under a
# minute, data sets of 1k and 10k vouchers only; BENCH_ARGS: more flags, see bench/README.md).
BENCH_QUICK ?=
BENCH_ARGS ?=
bench: deps
	@cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DREMBIZ_BENCH=ON >/dev/null
	@cmake --build build-release -j $(JOBS) --target rembiz_bench
	@build-release/bench/rembiz_bench --out=build/bench-results.json \
	  $(if $(filter-out 0,$(BENCH_QUICK)),--quick) $(BENCH_ARGS)

format:
	@git ls-files -co --exclude-standard '*.cc' '*.h' | xargs -r clang-format -i

format-check:
	@git ls-files -co --exclude-standard '*.cc' '*.h' | xargs -r clang-format --dry-run --Werror

clean:
	@rm -rf $(BUILD_DIR) build-release build-asan build-fuzz
