#!/usr/bin/env bash
# Runs the call-overhead benchmarks (bench/bench.py) against the release
# build: prints the table and writes it as markdown to build/bench.md.
# Extra arguments are passed to bench.py (see --help).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PYTHON="${PYTHON:-$ROOT/.toolchain/usr/bin/python3.15}"
export KORA_BENCH_DIR="${KORA_BENCH_DIR:-$ROOT/build/bench}"
PYTHONPATH="$ROOT/build/python:$KORA_BENCH_DIR" "$PYTHON" "$ROOT/bench/bench.py" --out "$ROOT/build/bench.md" "$@"
