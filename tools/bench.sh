#!/usr/bin/env bash
# Runs the call-cost benchmarks (bench/bench.py) against the release build:
# builds the binding-library baselines (bench/bindings) when needed, prints
# the tables and writes build/bench.md, build/bench.json and build/bench.png.
# Extra arguments are passed to bench.py (see --help), for example
#   tools/bench.sh --only draw_texture_rec,Cache.get
# To measure another build of the package with the same harness, point
# KORA_PY_TREE at its package tree and keep the figures apart:
#   KORA_PY_TREE=/path/to/other/build/python tools/bench.sh --only draw_texture_rec --json /tmp/other.json
#   tools/bench.sh --compare build/bench-only.json /tmp/other.json
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PYTHON="${PYTHON:-$ROOT/.toolchain/usr/bin/python3.15}"
TREE="${KORA_PY_TREE:-$ROOT/build/python}"
export KORA_BENCH_DIR="${KORA_BENCH_DIR:-$ROOT/build/bench}"

if [ "${1:-}" = --compare ]; then
    exec "$PYTHON" "$ROOT/bench/bench.py" "$@"
fi

# nanobind, pybind11 and cffi baselines: a CMake project of their own, so that
# the package's builds never compile them.
bindings="$ROOT/build/bench-bindings"
mkdir -p "$bindings"
"$PYTHON" "$ROOT/bench/bindings/cffi_source.py" "$bindings/kr_bench_cffi.c.new" >/dev/null
if ! cmp -s "$bindings/kr_bench_cffi.c.new" "$bindings/kr_bench_cffi.c"; then
    mv "$bindings/kr_bench_cffi.c.new" "$bindings/kr_bench_cffi.c"
else
    rm "$bindings/kr_bench_cffi.c.new"
fi
echo "bench: building the binding baselines (nanobind, pybind11, cffi) in $bindings (a minute or two the first time)"
log="$bindings/build.log"
if ! { cmake -S "$ROOT/bench/bindings" -B "$bindings/cmake" -DKORA_TOOLCHAIN="$(readlink -f "$ROOT/.toolchain")" \
        -DKORA_BENCH_OUT="$KORA_BENCH_DIR" -DPython_EXECUTABLE="$PYTHON" \
        -DKORA_CFFI_SOURCE="$bindings/kr_bench_cffi.c" &&
       cmake --build "$bindings/cmake" -j "$(nproc)" -- --no-print-directory; } >"$log" 2>&1; then
    cat "$log" >&2
    echo "bench: the binding baselines did not build (output above, also in $log)" >&2
    exit 1
fi

PYTHONPATH="$TREE:$KORA_BENCH_DIR" "$PYTHON" "$ROOT/bench/bench.py" --out "$ROOT/build/bench.md" "$@"
