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

.PHONY: all provision build build-all build-debug build-asan build-clang build-coverage test test-release test-debug test-asan coverage fuzz demo bench dist mutation clean

all: build

# Set-up by purpose: tools/provision.sh provisions the toolchain (one prefix
# from Debian sid) and installs the host packages of the purposes it is given
# (tools/host-packages/<purpose>.txt). Every build needs `build`; the other
# targets add their own below. A user's own interpreter (PYTHON=...) skips it.
define provision
	@if [ "$(origin PYTHON)" = "file" ] || [ ! -x "$(PYTHON)" ]; then ./tools/provision.sh $(1); fi
endef
# The suite needs the X server (pixel tests), clang-format and valgrind (the
# bench's smoke test counts instructions).
TEST_PURPOSES := demo test bench

provision:
	$(call provision,build)

# build/<variant>/cmake holds CMake's files; build/<variant>/python the package
# tree. The fifth argument names the targets to build (default: all of them,
# test helpers and bench parts included).
define cmake_build
	cmake -S . -B build/$(1)/cmake -DKORA_PYTHON=$(2) -DKORA_PY_OUT=$(ROOT)/$(3) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(4) >/dev/null
	cmake --build build/$(1)/cmake -j $(JOBS) $(if $(5),--target $(5)) -- --no-print-directory
endef

KORA_MODULES := kora_raylib koracache kora_peer_krvector2 kora_peer_krshader kora_peer_krrect kora_peer_krrendertex

# The modules (with the stand-ins of the package's peer modules) only.
build: provision
	$(call cmake_build,release,$(PYTHON),build/python,,$(KORA_MODULES))
	@ln -sfn release/cmake/compile_commands.json build/compile_commands.json

# The release build with the native test helpers and the bench's parts.
build-all: build
	cmake --build build/release/cmake -j $(JOBS) -- --no-print-directory

build-debug: provision
	$(call cmake_build,debug,$(PYTHON_DBG),build/debug/python,)

build-asan: provision
	$(call cmake_build,asan,$(PYTHON),build/asan/python,-DKORA_SANITIZE=ON)

# The modules built with clang++ as well, so they stay warning-free under both
# compilers (the suite runs on the g++ builds).
build-clang: provision
	cmake -S . -B build/clang/cmake -DKORA_PYTHON=$(PYTHON) -DKORA_PY_OUT=$(ROOT)/build/clang/python \
	    -DCMAKE_CXX_COMPILER=clang++ -DKORA_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null
	cmake --build build/clang/cmake -j $(JOBS) --target $(KORA_MODULES) -- --no-print-directory

build-coverage: provision
	$(call cmake_build,coverage,$(PYTHON),build/coverage/python,-DKORA_COVERAGE=ON)

# Line and branch coverage of the modules' sources under the suite (release
# flags and interpreter, every allocation-failure index of the loads):
# build/coverage/report/index.html and coverage.txt; fails below the minimums.
coverage: build-coverage
	$(call provision,$(TEST_PURPOSES) coverage)
	find build/coverage/cmake -name '*.gcda' -delete
	./tools/run_tests.sh coverage
	$(PYTHON) tools/coverage_report.py build/coverage

# Release, debug-interpreter (reference checks) and sanitizer runs. A user's
# own interpreter without a debug build skips the debug run.
test: build-all build-asan build-clang
	$(call provision,$(TEST_PURPOSES))
	@if [ -x "$(PYTHON_DBG)" ]; then \
	    $(MAKE) --no-print-directory build-debug && ./tools/run_tests.sh all; \
	else \
	    echo "no debug interpreter at $(PYTHON_DBG): skipping the debug run"; \
	    ./tools/run_tests.sh release && ./tools/run_tests.sh asan; \
	fi

# The fuzz test, longer and with a fresh seed (not part of `make test`) on the
# sanitizer build; `make fuzz KORA_FUZZ_SEED=n` replays a run.
fuzz: build-asan
	$(call provision,$(TEST_PURPOSES))
	@seed=$${KORA_FUZZ_SEED:-$$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')}; \
	echo "fuzz seed $$seed (replay: make fuzz KORA_FUZZ_SEED=$$seed)"; \
	KORA_FUZZ_EXAMPLES=$${KORA_FUZZ_EXAMPLES:-3000} ./tools/run_tests.sh asan -k test_fuzz --hypothesis-seed=$$seed

test-release: build-all
	$(call provision,$(TEST_PURPOSES))
	./tools/run_tests.sh release

# One-line faults of tools/mutants.txt, each built and run against the suites
# (not part of `make test`): `make mutation ONLY=<regex>` runs the mutants whose
# id matches; MUTATION_ARGS go to tools/mutation.py (--list, --modes ...).
mutation: build-all build-debug build-asan
	$(call provision,$(TEST_PURPOSES))
	$(PYTHON) tools/mutation.py --jobs $(JOBS) $(if $(ONLY),--only '$(ONLY)') $(MUTATION_ARGS)

demo: build
	$(call provision,demo)
	./tools/demo.sh

# Call-cost benchmarks (not part of `make test`): `make bench ONLY=draw_texture_rec`
# measures one call with its baselines; BENCH_ARGS go to bench/bench.py.
bench: build
	$(call provision,bench)
	cmake --build build/release/cmake -j $(JOBS) --target kr_noop_raylib kr_bench_baseline -- --no-print-directory
	./tools/bench.sh $(if $(ONLY),--only $(ONLY)) $(BENCH_ARGS)

# The release wheel, as a packager builds it (offline, with the provisioned
# build, scikit-build-core and auditwheel): the sdist, the wheel built from
# its unpacked copy (tagged linux_x86_64, as every local build), and that
# wheel repaired by auditwheel, which derives the manylinux tag from the
# symbol versions the modules use: build/dist/*.whl, beside the sdist (and
# local/, the untagged wheel). SOURCE_DATE_EPOCH (default: the last commit's time) fixes
# every timestamp, so one commit gives the same bytes wherever it is built.
dist: provision
	rm -rf build/dist
	export SOURCE_DATE_EPOCH=$${SOURCE_DATE_EPOCH:-$$(git log -1 --format=%ct)}; set -e; \
	$(PYTHON) -m build --sdist --no-isolation --outdir build/dist .; \
	tar -xzf build/dist/kora_ui_native-*.tar.gz -C build/dist; \
	$(PYTHON) -m build --wheel --no-isolation --outdir build/dist/local build/dist/kora_ui_native-*/; \
	$(PYTHON) -m auditwheel repair --wheel-dir build/dist build/dist/local/*.whl
	@ls build/dist/*.whl

clean:
	rm -rf build
