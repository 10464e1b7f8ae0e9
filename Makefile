# Thin front end over CMake. `make demo` and `make test` work on a fresh Debian machine (as
# root they install what they need).
BUILD ?= build
WIN_BUILD ?= build-win
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)
CTEST = ctest --output-on-failure -j $(JOBS)

.PHONY: all deps build demo test test-linux test-sanitize windows bench fuzz format clean

all: build

deps:
	@cmake/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

demo: build
	$(BUILD)/host/vorn-host run examples/demo.vorn

# Everything: the unit and scenario tests and the validator, the Windows DLL under Wine (when
# the cross tools can be had), the demo under valgrind, and the whole suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer.
test: deps
	@if cmake/install-deps.sh windows; then \
	    $(MAKE) --no-print-directory windows && \
	    cmake -S . -B $(BUILD) -DVORN_WINDOWS_BUILD=$(CURDIR)/$(WIN_BUILD) >/dev/null; \
	else \
	    echo "*** The Windows cross tools or Wine are missing: the Windows tests will NOT run. ***"; \
	    cmake -S . -B $(BUILD) -DVORN_WINDOWS_BUILD= >/dev/null; \
	fi
	@cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && $(CTEST)
	@$(MAKE) --no-print-directory test-sanitize

test-sanitize: deps
	@cmake -S . -B $(ASAN_BUILD) -DVORN_SANITIZE=ON -DVORN_WINDOWS_BUILD= >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 $(CTEST)

# The 32-bit Windows DLL (and vorn-host.exe) with the MinGW-w64 cross compiler.
windows:
	@cmake/install-deps.sh windows
	@cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DVORN_TESTS=OFF >/dev/null
	@cmake --build $(WIN_BUILD) -j $(JOBS)
	@echo "built $(WIN_BUILD)/panels/components/Contact_Tile/Contact_Tile.dll"

# Per-message costs beside their baselines, in an optimised build of its own.
bench: deps
	@cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVORN_WINDOWS_BUILD= >/dev/null
	@cmake --build build-bench -j $(JOBS) --target bench_messages
	build-bench/bench/bench_messages --benchmark_min_time=0.2

# Each libFuzzer target for FUZZ_SECONDS, from the committed seeds; any finding fails.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = fuzz_parsed_command fuzz_decode_string fuzz_get_device fuzz_component
fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz -DVORN_FUZZ=ON -DVORN_TESTS=OFF >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target $(FUZZ_TARGETS)
	@for t in $(FUZZ_TARGETS); do \
	    mkdir -p build-fuzz/corpus/$$t && \
	    echo "== $$t for $(FUZZ_SECONDS) s" && \
	    build-fuzz/fuzz/$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	        -artifact_prefix=build-fuzz/$$t- build-fuzz/corpus/$$t fuzz/corpus/$$t \
	        2>build-fuzz/$$t.log || { tail -60 build-fuzz/$$t.log; exit 1; }; \
	    grep -E 'stat::number_of_executed_units|stat::new_units_added|stat::peak_rss' build-fuzz/$$t.log; \
	done

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(WIN_BUILD) $(ASAN_BUILD) build-fuzz build-bench
