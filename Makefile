# Entry points: `make demo` (the main job) and `make test` (the whole suite).
SHELL := /bin/bash
ROOT := $(abspath .)
TOOLCHAIN := $(ROOT)/.toolchain
PYTHON ?= $(TOOLCHAIN)/usr/bin/python3.15
PYTHON_DBG ?= $(TOOLCHAIN)/usr/bin/python3.15d
JOBS ?= $(shell nproc)
export PYTHON PYTHON_DBG

.PHONY: all provision build build-debug build-asan build-coverage test test-release test-debug test-asan coverage demo bench clean

all: build

provision:
	@if [ "$(origin PYTHON)" = "file" ] || [ ! -x "$(PYTHON)" ]; then ./tools/provision.sh; fi

# build/<variant>/cmake holds CMake's files; build/<variant>/python the package tree.
define cmake_build
	cmake -S . -B build/$(1)/cmake -DKORA_PYTHON=$(2) -DKORA_PY_OUT=$(ROOT)/$(3) $(4) >/dev/null
	cmake --build build/$(1)/cmake -j $(JOBS) -- --no-print-directory
endef

build: provision
	$(call cmake_build,release,$(PYTHON),build/python,)
	@ln -sfn release/cmake/compile_commands.json build/compile_commands.json

build-debug: provision
	$(call cmake_build,debug,$(PYTHON_DBG),build/debug/python,)

build-asan: provision
	$(call cmake_build,asan,$(PYTHON),build/asan/python,-DKORA_SANITIZE=ON)

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
test: build build-asan
	@if [ -x "$(PYTHON_DBG)" ]; then \
	    $(MAKE) --no-print-directory build-debug && ./tools/run_tests.sh all; \
	else \
	    echo "no debug interpreter at $(PYTHON_DBG): skipping the debug run"; \
	    ./tools/run_tests.sh release && ./tools/run_tests.sh asan; \
	fi

test-release: build
	./tools/run_tests.sh release

demo: build
	./tools/demo.sh

bench: build
	./tools/bench.sh

clean:
	rm -rf build
