# Quick start: `make run` starts the program, `make test` runs every test.
# Both install what is missing and build from scratch when needed.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all setup configure build run test bench clean

all: build

setup:
	@scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/app/pennaro

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

bench: setup
	@scripts/bench.sh

clean:
	rm -rf $(BUILD)
