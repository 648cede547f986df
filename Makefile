# SPDX-License-Identifier: Apache-2.0
# The two commands of the README: `make run` (the main job) and `make test` (the whole suite).
# Each installs missing dependencies, configures and builds as needed.
BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
DEB_BUILD ?= build-deb
JOBS ?= 2
CMAKE_FLAGS ?=
# Where `make run` keeps the demo's logs; a second `make run` continues them.
DEMO_DIR ?= $(BUILD)/demo
GLPS = $(BUILD)/tools/glps

# The sanitized suite: every AddressSanitizer error, every leak and every UndefinedBehaviorSanitizer
# finding ends the test program with a failure (the build also makes UBSan findings fatal). The
# only leaks let pass are the system libraries' own, listed with their reasons in
# tests/sanitizer/lsan.supp.
SANITIZER_ENV = \
  ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:strict_string_checks=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=print_suppressions=0:suppressions=$(CURDIR)/tests/sanitizer/lsan.supp

.PHONY: all deps configure build run test test-normal test-sanitize fuzz bench deb clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

configure: deps $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j$(JOBS)

# Only what the demo needs (the libraries and the command), in the build tree that `make test` then
# completes. The demo host writes its logs, then the auditor's check runs on each log with the info
# the demo kept for it (the lines "HASH:SIZE  DIR" of its state file).
run: configure
	cmake --build $(BUILD) -j$(JOBS) --target glps glpshost glps-tool
	$(GLPS) demo $(DEMO_DIR)
	@grep -v '^#' $(DEMO_DIR)/demo-state.txt | \
	while read -r info dir; do \
	  echo; echo "$$ glps verify $(DEMO_DIR)/$$dir --info $$info"; \
	  $(GLPS) verify "$(DEMO_DIR)/$$dir" --info "$$info" || exit $$?; \
	done

# The whole suite twice: as built normally, then under AddressSanitizer and
# UndefinedBehaviorSanitizer. Either failing fails the target.
test: test-normal
	@$(MAKE) --no-print-directory test-sanitize

test-normal: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

# Debug information and -O1: at -O0 the sanitized crash loop alone takes over five minutes.
$(ASAN_BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g -O1" \
	  -DGLPS_SANITIZE=ON $(CMAKE_FLAGS)

# Tests labelled "no-sanitize" cannot run under the sanitizers; each label states why.
test-sanitize: deps $(ASAN_BUILD)/CMakeCache.txt
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	cd $(ASAN_BUILD) && $(SANITIZER_ENV) ctest --output-on-failure -j$(JOBS) -LE no-sanitize

# The libFuzzer programs (clang, with AddressSanitizer and UndefinedBehaviorSanitizer); running
# them is described in docs/reliability.md.
$(FUZZ_BUILD)/CMakeCache.txt:
	GLPS_DEPS_EXTRA="clang-14 libclang-rt-14-dev" scripts/install-deps
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
	  -DGLPS_BUILD_FUZZ=ON -DGLPS_SANITIZE=ON -DGLPS_BUILD_TESTS=OFF $(CMAKE_FLAGS)

fuzz: deps $(FUZZ_BUILD)/CMakeCache.txt
	cmake --build $(FUZZ_BUILD) -j$(JOBS) --target glps_fuzz_log_xml glps_fuzz_sidecar \
	  glps_fuzz_verify_dir

# The benchmarks (not part of `make test`): built in Release in their own directory, run, and
# summarised with the machine and the commands in docs/performance.md.
BENCH_BUILD ?= build-bench

# Configured at every run, so that a build directory made with other options (without the glps
# command, which the benchmarks of `glps verify` run) is set right.
.PHONY: bench
bench: deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DGLPS_BUILD_BENCH=ON \
	  -DGLPS_BUILD_TESTS=OFF -DGLPS_BUILD_TOOLS=ON $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j$(JOBS) --target glps_bench
	bench/run-benchmarks $(BENCH_BUILD) docs/performance.md

# The Debian packages of debian/, built from a copy of the sources in $(DEB_BUILD) and checked with
# lintian (scripts/make-deb): libglps0.1, libglpshost0.1, libglps-dev and glps.
deb: deps
	JOBS=$(JOBS) scripts/make-deb $(DEB_BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(BENCH_BUILD) $(DEB_BUILD)
