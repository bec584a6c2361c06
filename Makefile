# The front door. `make run` starts the station, `make test` runs every test,
# `make package` builds the Debian package; each installs what is missing first
# (Debian packages, see scripts/install-deps: the test tools only for the tests).

BUILD_DIR ?= build
ASAN_DIR ?= build-asan
TSAN_DIR ?= build-tsan
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 25
FUZZ_TARGETS := serial_readers profile numbers text_source id_file_name spool
JOBS ?= $(shell nproc)
CMAKE ?= cmake
CTEST ?= ctest

.PHONY: all deps deps-test build build-program run package test test-asan test-tsan fuzz bench \
	format format-check clean

all: build

deps:
	@scripts/install-deps

deps-test:
	@scripts/install-deps --test

# Everything, tests and benchmarks included.
build: deps-test
	$(CMAKE) -S . -B $(BUILD_DIR) -G Ninja -DKARVELO_BUILD_TESTS=ON -DKARVELO_BUILD_BENCH=ON
	$(CMAKE) --build $(BUILD_DIR) -j $(JOBS)

# The program, the simulators and what the package installs, without the tests
# and benchmarks. Same folder as `build`: switching between the two rebuilds
# nothing that both have.
build-program: deps
	$(CMAKE) -S . -B $(BUILD_DIR) -G Ninja -DKARVELO_BUILD_TESTS=OFF -DKARVELO_BUILD_BENCH=OFF
	$(CMAKE) --build $(BUILD_DIR) -j $(JOBS)

# The demo bench in run/: simulated instruments and the station (see README.md).
run: build-program
	scripts/run-demo $(BUILD_DIR) run

# build/karvelo_<version>_<arch>.deb
package: build-program
	$(CMAKE) --build $(BUILD_DIR) -j $(JOBS) --target package

# The package test (tests/package/) is one of them: as root with dpkg it
# installs the package on this machine, tries it and removes it again.
test: build
	$(CTEST) --test-dir $(BUILD_DIR) -j $(JOBS) --output-on-failure --timeout 300

# The fast suites again under AddressSanitizer + UndefinedBehaviorSanitizer.
test-asan: deps-test
	$(CMAKE) -S . -B $(ASAN_DIR) -G Ninja -DKARVELO_SANITIZE=address -DKARVELO_BUILD_BENCH=OFF -DKARVELO_BUILD_GUI=OFF
	$(CMAKE) --build $(ASAN_DIR) -j $(JOBS) --target karvelo_unit_tests
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		$(CTEST) --test-dir $(ASAN_DIR) -j $(JOBS) --output-on-failure --timeout 300 -L unit

# The fast suites and the end-to-end tests (the real program with its window)
# again under ThreadSanitizer; a report ends the process that has it. Qt and
# GLib are not built for it: tests/tsan.supp takes them as closed boxes.
test-tsan: deps-test
	$(CMAKE) -S . -B $(TSAN_DIR) -G Ninja -DKARVELO_SANITIZE=thread -DKARVELO_BUILD_BENCH=OFF
	$(CMAKE) --build $(TSAN_DIR) -j $(JOBS) --target karvelo_unit_tests karvelo_e2e_tests
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/tsan.supp \
		$(CTEST) --test-dir $(TSAN_DIR) -j $(JOBS) --output-on-failure --timeout 300 -L 'unit|e2e'

# The libFuzzer targets (clang), each for FUZZ_SECONDS; the corpus grows in the
# build folder, and an input that fails is kept there as crash-*.
fuzz: deps-test
	CC=clang CXX=clang++ $(CMAKE) -S . -B $(FUZZ_DIR) -G Ninja -DKARVELO_FUZZ=ON -DKARVELO_BUILD_BENCH=OFF -DKARVELO_BUILD_GUI=OFF
	$(CMAKE) --build $(FUZZ_DIR) -j $(JOBS) --target $(addsuffix _fuzz,$(FUZZ_TARGETS))
	@for t in $(FUZZ_TARGETS); do \
		echo "== $${t}_fuzz, $(FUZZ_SECONDS) s"; \
		mkdir -p $(FUZZ_DIR)/corpus/$$t || exit 1; \
		$(FUZZ_DIR)/tests/fuzz/$${t}_fuzz -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
			-close_fd_mask=2 -artifact_prefix=$(FUZZ_DIR)/ $(FUZZ_DIR)/corpus/$$t || exit 1; \
	done

# The real program's figures beside the pyserial poller's come last, as a table.
bench: build
	@for b in $(BUILD_DIR)/bench/*_bench; do \
		[ "$$b" = $(BUILD_DIR)/bench/station_cpu_bench ] || { echo "== $$b"; $$b; }; \
	done
	@echo "== $(BUILD_DIR)/bench/station_cpu_bench"; $(BUILD_DIR)/bench/station_cpu_bench

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

# Fails when a file of ours is not formatted as .clang-format says.
format-check: deps-test
	clang-format --dry-run -Werror $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(TSAN_DIR) $(FUZZ_DIR)
