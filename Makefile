# Thin front end over CMake. `make demo` and `make test` work on a fresh Debian machine (as
# root they install what they need).
BUILD ?= build
WIN_BUILD ?= build-win
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)
CTEST = ctest --output-on-failure -j $(JOBS)

.PHONY: all deps build demo test test-sanitize test-windows-vm validate-random windows dist bench bench-panel fuzz fuzz-long mutate format clean

all: build

deps:
	@cmake/install-deps.sh build

build: deps
	@cmake -S . -B $(BUILD) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

# Only what the demo runs: the contact tile's plug-in and vorn-host.
demo: deps
	@cmake -S . -B $(BUILD) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target vorn-host Contact_Tile
	$(BUILD)/host/vorn-host run --plugin $(BUILD)/panels/components/Contact_Tile/Contact_Tile.so examples/demo.vorn

# Everything: the unit and scenario tests and the validator, the Windows DLL under Wine, the
# demo under valgrind, and the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer. The Windows tests run under Wine here where this machine runs
# 32-bit code, else inside a QEMU VM (VORN_WINE=auto|native|vm|off chooses; see
# cmake/windows-mode.sh). Both suites always run; the target fails if either failed.
VORN_WINE ?= auto
test:
	@cmake/install-deps.sh build test browser
	@mkdir -p $(BUILD)
	@way=$$(VORN_WINE=$(VORN_WINE) cmake/windows-mode.sh $(BUILD)) || exit 1; \
	mode=$${way%% *}; why=$${way#* }; \
	echo "Windows tests: $$mode ($$why)"; \
	if [ $$mode != off ]; then $(MAKE) --no-print-directory windows || exit 1; fi; \
	linux=passed; \
	{ cmake -S . -B $(BUILD) -DVORN_REQUIRE_TESTS=ON -DVORN_WINE_MODE=$$mode \
	        "-DVORN_WINE_OFF_REASON=$$why" -DVORN_WINDOWS_BUILD=$(CURDIR)/$(WIN_BUILD) >/dev/null && \
	  cmake --build $(BUILD) -j $(JOBS) && (cd $(BUILD) && $(CTEST)); } || linux=FAILED; \
	sanitize=passed; \
	$(MAKE) --no-print-directory test-sanitize || sanitize=FAILED; \
	echo "make test: $(BUILD) $$linux, $(ASAN_BUILD) $$sanitize"; \
	if [ $$mode = off ]; then echo "*** The Windows tests did NOT run: $$why ***"; fi; \
	[ $$linux = passed ] && [ $$sanitize = passed ]

test-sanitize:
	@cmake/install-deps.sh test
	@cmake -S . -B $(ASAN_BUILD) -DVORN_SANITIZE=ON -DVORN_REQUIRE_TESTS=ON -DVORN_WINDOWS_BUILD= >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 $(CTEST)

# Only the Windows tests, inside the VM whatever this machine runs, in a build of their own:
# CI runs it where `make test` took the native way, so that both ways stay proven.
VM_BUILD ?= build-vm
test-windows-vm: windows
	@cmake/install-deps.sh test
	@mkdir -p $(VM_BUILD)
	@VORN_WINE=vm cmake/windows-mode.sh $(VM_BUILD) >/dev/null
	@cmake -S . -B $(VM_BUILD) -DVORN_REQUIRE_TESTS=ON -DVORN_WINE_MODE=vm \
	    -DVORN_WINDOWS_BUILD=$(CURDIR)/$(WIN_BUILD) >/dev/null
	@cmake --build $(VM_BUILD) -j $(JOBS) --target msvc_host x64_dll
	cd $(VM_BUILD) && $(CTEST) -R '^windows\.'

# The validation battery with random seeds (the tests use fixed ones), against every
# component's plug-in: VALIDATE_ITERATIONS random lives each, at level 3; a failure prints its
# seed and the command that replays it. Results go to $(BUILD)/validate-random/.
VALIDATE_ITERATIONS ?= 2000
validate-random: build
	@status=0; for plugin in $$(find $(BUILD)/panels/components $(BUILD)/tests/components -name '*.so' | sort); do \
	    $(BUILD)/host/vorn-host validate --level 3 --iterations $(VALIDATE_ITERATIONS) \
	        --out $(BUILD)/validate-random/$$(basename $$plugin .so) $$plugin || status=1; \
	done; exit $$status

# The 32-bit Windows DLL (and vorn-host.exe) with the MinGW-w64 cross compiler.
windows:
	@cmake/install-deps.sh mingw
	@web=$$(cmake/fetch-web-headers.sh) || exit 1; \
	cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DVORN_TESTS=OFF \
	    -DVORN_WEB_INCLUDE=$$web >/dev/null
	@cmake --build $(WIN_BUILD) -j $(JOBS)
	@echo "built:" $$(cd $(WIN_BUILD) && ls panels/components/*/*.dll host/vorn-host.exe)

# The packages a facility installs, named with the version: the Windows archive (every shipped
# component's DLL, vorn-host.exe, an example vorn.ini and scenario, INSTALL.txt) and the same
# for Linux, their binaries stripped; and beside each, its binaries' debug information
# (NAME-debug: FILE.debug for each, for analysing a crash).
dist: windows
	@cmake/install-deps.sh build
	@cmake -S . -B $(BUILD) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target vorn-host >/dev/null
	@mkdir -p dist
	@cd $(BUILD) && cpack -G TGZ -B $(CURDIR)/dist/.work >/dev/null && mv $(CURDIR)/dist/.work/*.tar.gz $(CURDIR)/dist/
	@cd $(WIN_BUILD) && cpack -G ZIP -B $(CURDIR)/dist/.work >/dev/null && mv $(CURDIR)/dist/.work/*.zip $(CURDIR)/dist/
	@rm -rf dist/.work
	@linux=$$(ls dist/vorn-components-*-linux-*.tar.gz); windows=$$(ls dist/vorn-components-*-windows-*.zip); \
	cmake/debug-archive.sh $${linux%.tar.gz}-debug.tar.gz objcopy $(BUILD)/host/vorn-host \
	    $(BUILD)/panels/components/*/*.so && \
	cmake/debug-archive.sh $${windows%.zip}-debug.zip i686-w64-mingw32-objcopy $(WIN_BUILD)/host/vorn-host.exe \
	    $(WIN_BUILD)/panels/components/*/*.dll
	@ls dist/*

# Per-message costs of the plug-in file users get (the default build, RelWithDebInfo: -O2 -g)
# beside two floors that do the same work by hand (with printf, and at its least: pieces copied,
# digit loops): instructions (callgrind), allocations, system calls and time, one table; fails
# when a target is missed. Before it, what a label from the configuration file costs, by the
# file's size.
bench:
	@cmake/install-deps.sh bench
	@cmake -S . -B $(BUILD) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target bench_messages bench_config bench_components >/dev/null
	@$(BUILD)/bench/bench_config
	@$(BUILD)/bench/bench_messages
	@$(BUILD)/bench/bench_components

# The web panel's costs with 200 tiles: a click to the frame with the tile's new look, and the
# CPU of vorn-host and of the page, idle and while the tiles poll in real time (about a minute;
# needs the browser tests' Chromium and playwright-core). Fails over a 25 ms median or a 100 ms
# maximum.
bench-panel:
	@cmake/install-deps.sh build browser
	@cmake -S . -B $(BUILD) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target vorn-host Contact_Tile >/dev/null
	@node bench/panel_bench.mjs $(BUILD)/host/vorn-host $(BUILD)/panels/components/Contact_Tile/Contact_Tile.so

# The mutation run: MUTANTS small faults drawn (MUTATE_SEED) over the plug-in's code, each built
# and put to the fast suite in a build of its own (not the Windows, browser or server tests,
# nor the host's own waits for hanging faulty plug-ins, nor the validator's shrinking of the
# faulty plug-ins' failures: none runs the plug-in's code); every
# survivor printed, and the score without those tests/mutate/equivalent.txt lists with a
# reason. Fails under MUTATE_MIN percent. About 10 s a mutant here.
MUTANTS ?= 300
MUTATE_SEED ?= 1
MUTATE_MIN ?= 95
MUTATE_BUILD ?= build-mutate
MUTATE_SKIP ?= ^windows[.]|^browser[.]|^serve[.]|^deploy[.]linux_archive|^mutate[.]|^SandboxChild[.]|^Panel[.]|a_hang_times_out|never_returns_is_a_hang|does_not_return|closed_pipe|failure_replays_as_a_scenario|crash_replays_as_a_scenario|deeper_failures_replay_as_scenarios|_catches_faulty_|a_crash_ends_one_check|a_hang_is_shrunk
mutate:
	@cmake/install-deps.sh build test browser
	@cmake -S . -B $(MUTATE_BUILD) -DVORN_REQUIRE_TESTS=ON -DVORN_WINDOWS_BUILD= >/dev/null
	@cmake --build $(MUTATE_BUILD) -j $(JOBS) >/dev/null
	@cd $(MUTATE_BUILD) && ctest -j $(JOBS) -E '$(MUTATE_SKIP)' >/dev/null || \
	    { echo "make mutate: the suite fails before any mutant: run it in $(MUTATE_BUILD)"; exit 1; }
	@$(MUTATE_BUILD)/tests/vorn-mutate --source . --count $(MUTANTS) --seed $(MUTATE_SEED) \
	    --equivalent tests/mutate/equivalent.txt --min-score $(MUTATE_MIN) \
	    --journal $(MUTATE_BUILD)/mutate-journal --logs $(MUTATE_BUILD)/mutate-logs \
	    --build "cmake --build $(MUTATE_BUILD) -j $(JOBS)" \
	    --test "cd $(MUTATE_BUILD) && ctest -j $(JOBS) --stop-on-failure --timeout 30 -E '$(MUTATE_SKIP)'"

# Each libFuzzer target for FUZZ_SECONDS, from the committed seeds and the corpus kept in
# build-fuzz/corpus; any finding fails. `make fuzz-long` runs each to FUZZ_LONG_RUNS executions
# or FUZZ_LONG_SECONDS, whichever comes first.
FUZZ_SECONDS ?= 60
FUZZ_LONG_RUNS ?= 10000000
FUZZ_LONG_SECONDS ?= 1800
FUZZ_LIMIT ?= -max_total_time=$(FUZZ_SECONDS)
FUZZ_TARGETS = fuzz_parsed_command fuzz_decode_string fuzz_get_device fuzz_component fuzz_config
fuzz:
	@cmake/install-deps.sh fuzz
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz -DVORN_FUZZ=ON -DVORN_TESTS=OFF >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target $(FUZZ_TARGETS)
	@for t in $(FUZZ_TARGETS); do \
	    mkdir -p build-fuzz/corpus/$$t && \
	    echo "== $$t ($(FUZZ_LIMIT))" && \
	    build-fuzz/fuzz/$$t $(FUZZ_LIMIT) -print_final_stats=1 \
	        -artifact_prefix=build-fuzz/$$t- build-fuzz/corpus/$$t fuzz/corpus/$$t \
	        2>build-fuzz/$$t.log || { tail -60 build-fuzz/$$t.log; exit 1; }; \
	    grep -E '^#[0-9]+[[:space:]]+DONE' build-fuzz/$$t.log | tail -1; \
	    grep -E 'stat::number_of_executed_units|stat::new_units_added|stat::peak_rss' build-fuzz/$$t.log; \
	done

fuzz-long:
	@$(MAKE) --no-print-directory fuzz FUZZ_LIMIT="-runs=$(FUZZ_LONG_RUNS) -max_total_time=$(FUZZ_LONG_SECONDS)"

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(WIN_BUILD) $(ASAN_BUILD) $(VM_BUILD) build-fuzz dist
