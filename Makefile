# Thin front end over CMake. `make test` and `make demo` work on a fresh Debian machine.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps build test unit demo clean

all: build

deps:
	@cmake/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

unit: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test: unit

demo: build
	$(BUILD)/host/vorn-host run examples/demo.vorn

clean:
	rm -rf $(BUILD) build-*
