# Quick start: `make run` starts the program, `make test` runs every test.
# Both install what is missing and build from scratch when needed.
# `make test` runs the suite in the normal build and again with AddressSanitizer and
# UndefinedBehaviorSanitizer (clang, in $(ASAN_BUILD)), then fuzzes each target for
# FUZZ_SECONDS.
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
FUZZ_SECONDS ?= 30
export FUZZ_SECONDS

# Leaks of the libraries the program uses (fontconfig, Qt's plugins) are theirs, not ours.
SANITIZER_ENV = ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

.PHONY: all setup configure build run test test-normal configure-asan build-asan test-asan fuzz bench clean

all: build

setup:
	@scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/app/pennaro

test: test-normal test-asan fuzz

test-normal: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

configure-asan: setup
	@CC=clang CXX=clang++ cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DPENNARO_SANITIZE=ON -DPENNARO_LIBFUZZER=ON >/dev/null

build-asan: configure-asan
	@cmake --build $(ASAN_BUILD) -j $(JOBS)

test-asan: build-asan
	$(SANITIZER_ENV) ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

fuzz: build-asan
	$(SANITIZER_ENV) scripts/fuzz.sh $(ASAN_BUILD)

bench: setup
	@scripts/bench.sh

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
