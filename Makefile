# Entry points: `make demo` (the main job) and `make test` (the whole suite).
SHELL := /bin/bash
ROOT := $(abspath .)
TOOLCHAIN := $(ROOT)/.toolchain
PYTHON ?= $(TOOLCHAIN)/usr/bin/python3.15
PYTHON_DBG ?= $(TOOLCHAIN)/usr/bin/python3.15d
JOBS ?= $(shell nproc)
# Debug build knob: `make build DEBUG=1` (or build-debug, build-asan, test ...)
# compiles the modules with -O0 -g instead of -O2, for stepping through them
# in gdb. It is independent of build-debug, which is about the interpreter
# (a debug build of CPython). Switching the knob rebuilds that variant.
DEBUG ?= 0
BUILD_TYPE := $(if $(filter 1,$(DEBUG)),Debug,Release)
export PYTHON PYTHON_DBG

.PHONY: all provision build build-debug build-asan build-clang build-coverage test test-release test-debug test-asan coverage demo bench mutation clean

all: build

provision:
	@if [ "$(origin PYTHON)" = "file" ] || [ ! -x "$(PYTHON)" ]; then ./tools/provision.sh; fi

# build/<variant>/cmake holds CMake's files; build/<variant>/python the package tree.
define cmake_build
	cmake -S . -B build/$(1)/cmake -DKORA_PYTHON=$(2) -DKORA_PY_OUT=$(ROOT)/$(3) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(4) >/dev/null
	cmake --build build/$(1)/cmake -j $(JOBS) -- --no-print-directory
endef

build: provision
	$(call cmake_build,release,$(PYTHON),build/python,)
	@ln -sfn release/cmake/compile_commands.json build/compile_commands.json

build-debug: provision
	$(call cmake_build,debug,$(PYTHON_DBG),build/debug/python,)

build-asan: provision
	$(call cmake_build,asan,$(PYTHON),build/asan/python,-DKORA_SANITIZE=ON)

# The modules built with clang++ as well, so they stay warning-free under both
# compilers (the suite runs on the g++ builds).
KORA_MODULES := kora_raylib koracache kora_peer_krvector2 kora_peer_krshader kora_peer_krrect kora_peer_krrendertex
build-clang: provision
	cmake -S . -B build/clang/cmake -DKORA_PYTHON=$(PYTHON) -DKORA_PY_OUT=$(ROOT)/build/clang/python \
	    -DCMAKE_CXX_COMPILER=clang++ -DKORA_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null
	cmake --build build/clang/cmake -j $(JOBS) --target $(KORA_MODULES) -- --no-print-directory

build-coverage: provision
	$(call cmake_build,coverage,$(PYTHON),build/coverage/python,-DKORA_COVERAGE=ON)

# Line coverage of the modules' sources under the suite (release interpreter):
# build/coverage/report/index.html and coverage.txt; fails below 97%.
coverage: build-coverage
	find build/coverage/cmake -name '*.gcda' -delete
	./tools/run_tests.sh coverage
	$(PYTHON) tools/coverage_report.py build/coverage

# Release, debug-interpreter (reference checks) and sanitizer runs. A user's
# own interpreter without a debug build skips the debug run.
test: build build-asan build-clang
	@if [ -x "$(PYTHON_DBG)" ]; then \
	    $(MAKE) --no-print-directory build-debug && ./tools/run_tests.sh all; \
	else \
	    echo "no debug interpreter at $(PYTHON_DBG): skipping the debug run"; \
	    ./tools/run_tests.sh release && ./tools/run_tests.sh asan; \
	fi

test-release: build
	./tools/run_tests.sh release

# One-line faults of tools/mutants.txt, each built and run against the suites
# (not part of `make test`): `make mutation ONLY=<regex>` runs the mutants whose
# id matches; MUTATION_ARGS go to tools/mutation.py (--list, --modes ...).
mutation: build build-debug build-asan
	$(PYTHON) tools/mutation.py --jobs $(JOBS) $(if $(ONLY),--only '$(ONLY)') $(MUTATION_ARGS)

demo: build
	./tools/demo.sh

# Call-cost benchmarks (not part of `make test`): `make bench ONLY=draw_texture_rec`
# measures one call with its baselines; BENCH_ARGS go to bench/bench.py.
bench: build
	./tools/bench.sh $(if $(ONLY),--only $(ONLY)) $(BENCH_ARGS)

clean:
	rm -rf build
