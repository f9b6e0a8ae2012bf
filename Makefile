# Front door of the build. `make run` and `make test` do all the set-up on a fresh Debian machine.
# The build trees and their settings are CMakePresets.json's; PRESET=ci adds -Werror (CI uses it).
PRESET ?= debug
BUILD_DIR := build
DATA_DIR ?= rembiz-data
LISTEN ?= 127.0.0.1:8080
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test test-asan lint package package-test fuzz bench format \
	format-check clean

all: build

deps:
	@bash scripts/install-deps

configure: deps
	@cmake --preset $(PRESET) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build --preset $(PRESET) -j $(JOBS)

run: build
	@if [ ! -f $(DATA_DIR)/qdsystem.db ]; then ./$(BUILD_DIR)/rembiz init --data $(DATA_DIR) --demo; \
	 else ./$(BUILD_DIR)/rembiz upgrade --data $(DATA_DIR); fi
	@echo "Demo data in $(DATA_DIR). The console: http://$(LISTEN)/  (user demo, password demo)"
	@echo "The self-service pages: http://$(LISTEN)/app/  (users clerk, manager, approver, cashier, finance; password = user)"
	@echo "From a script:"
	@echo "  curl -s -c /tmp/rembiz.cookies -d user=demo -d password=demo http://$(LISTEN)/api/login"
	@echo "  curl -s -b /tmp/rembiz.cookies --data-binary '<req><func name=\"currencyget\"/></req>' http://$(LISTEN)/api/CPubMsg"
	@echo "Stop with Ctrl+C."
	@./$(BUILD_DIR)/rembiz serve --data $(DATA_DIR) --listen $(LISTEN)

test: build
	@ctest --preset $(PRESET) -j $(JOBS)

# The whole suite again under the address, leak and undefined-behaviour sanitizers (build-asan/).
test-asan: deps
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan -j $(JOBS)
	@ctest --preset asan -j $(JOBS)

# libFuzzer targets built with clang in build-fuzz/, each run for FUZZ_SECONDS from its seeds in
# fuzz/corpus/<target> (what it learns stays in build-fuzz/corpus; crashes land in build-fuzz/).
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= xml sql request
fuzz: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz -j $(JOBS) $(addprefix --target fuzz_,$(FUZZ_TARGETS))
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p build-fuzz/corpus/$$t build-fuzz/crashes/$$t && \
	  echo "fuzz_$$t: $(FUZZ_SECONDS) s" && \
	  build-fuzz/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=4096 \
	    -artifact_prefix=build-fuzz/crashes/$$t/ -print_final_stats=1 -dict=fuzz/$$t.dict \
	    build-fuzz/corpus/$$t fuzz/corpus/$$t > build-fuzz/fuzz_$$t.log 2>&1; status=$$?; \
	  grep -E "^(#[0-9]+ *DONE|stat::number_of_executed_units|==[0-9]+==|SUMMARY)" \
	    build-fuzz/fuzz_$$t.log; \
	  if [ $$status -ne 0 ]; then echo "fuzz_$$t found a problem: build-fuzz/fuzz_$$t.log"; exit 1; fi; \
	done

# Release build in build-release/; figures to build/bench-results.json (BENCH_QUICK=1: under a
# minute, data sets of 1k and 10k vouchers only; BENCH_ARGS: more flags, see bench/README.md).
BENCH_QUICK ?=
BENCH_ARGS ?=
# With PostgreSQL installed, a throw-away server (scripts/test-postgres, stopped at the end) gives
# the PostgreSQL figures beside SQLite's.
PG_BENCH_DIR := build-release/postgres-bench
bench: deps
	@cmake --preset release >/dev/null
	@cmake --build --preset release -j $(JOBS) --target rembiz_bench
	@trap 'scripts/test-postgres stop $(PG_BENCH_DIR)' EXIT; pg=""; \
	  if scripts/test-postgres start $(PG_BENCH_DIR) >/dev/null 2>&1; then \
	    pg="--postgres=$$(cat $(PG_BENCH_DIR)/url)"; fi; \
	  build-release/bench/rembiz_bench --out=build/bench-results.json $$pg \
	  $(if $(filter-out 0,$(BENCH_QUICK)),--quick) $(BENCH_ARGS)

# clang-tidy's checks (.clang-tidy) over every source file of the program, on the build tree's
# compile commands; any finding fails.
lint: configure
	@git ls-files 'src/*.cc' | xargs -r run-clang-tidy -quiet -p $(BUILD_DIR) -j $(JOBS) \
	  >$(BUILD_DIR)/lint.log 2>&1 || { grep -E "(warning|error):" $(BUILD_DIR)/lint.log; exit 1; }
	@echo "lint: no findings"

# The Debian package, rembiz_<version>_<arch>.deb in the preset's build folder (release by
# default; CI packages the tree it has already built with PACKAGE_PRESET=ci).
PACKAGE_PRESET ?= release
PACKAGE_DIR = $(if $(filter release,$(PACKAGE_PRESET)),build-release,build)
package: deps
	@cmake --preset $(PACKAGE_PRESET) >/dev/null
	@cmake --build --preset $(PACKAGE_PRESET) -j $(JOBS) --target rembiz
	@cd $(PACKAGE_DIR) && cpack -G DEB >/dev/null && ls -1 $$PWD/rembiz_*.deb

# Installs the package on this machine, runs the service from the installed files as the unit
# would, logs in, and removes the package again (needs root).
package-test: package
	@$(if $(filter 0,$(shell id -u)),,sudo) bash scripts/package-test $(PACKAGE_DIR)/rembiz_*.deb

format:
	@git ls-files -co --exclude-standard '*.cc' '*.h' '*.js' | xargs -r clang-format -i

format-check:
	@git ls-files -co --exclude-standard '*.cc' '*.h' '*.js' | xargs -r clang-format --dry-run --Werror

clean:
	@rm -rf $(BUILD_DIR) build-release build-asan build-fuzz
