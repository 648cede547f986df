# The two commands of the README: `make run` (the main job) and `make test` (the whole suite).
# Each installs missing dependencies, configures and builds as needed.
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?=
# Where `make run` keeps the demo's logs; a second `make run` continues them.
DEMO_DIR ?= $(BUILD)/demo
GLPS = $(BUILD)/tools/glps

.PHONY: all deps configure build run test bench clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

configure: deps $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j$(JOBS)

# The demo host writes its logs, then the auditor's check runs on each log with the info the demo
# kept for it (the lines "log DIR HASH SIZE" of its state file).
run: build
	$(GLPS) demo $(DEMO_DIR)
	@awk '$$1 == "log" { print $$2, $$3 ":" $$4 }' $(DEMO_DIR)/demo-state.txt | \
	while read -r dir info; do \
	  echo; echo "$$ glps verify $(DEMO_DIR)/$$dir --info $$info"; \
	  $(GLPS) verify "$(DEMO_DIR)/$$dir" --info "$$info" || exit $$?; \
	done

test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

# The benchmarks (not part of `make test`): built in Release in their own directory, run, and
# summarised with the machine and the commands in docs/performance.md.
BENCH_BUILD ?= build-bench

$(BENCH_BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DGLPS_BUILD_BENCH=ON \
	  -DGLPS_BUILD_TESTS=OFF -DGLPS_BUILD_TOOLS=OFF $(CMAKE_FLAGS)

.PHONY: bench
bench: deps $(BENCH_BUILD)/CMakeCache.txt
	cmake --build $(BENCH_BUILD) -j$(JOBS) --target glps_bench
	bench/run-benchmarks $(BENCH_BUILD) docs/performance.md

clean:
	rm -rf $(BUILD)
