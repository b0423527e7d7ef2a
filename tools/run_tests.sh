#!/usr/bin/env bash
# Runs the test suite against one or all builds:
#   release  build/python with the release interpreter
#   debug    build/debug/python with the debug interpreter (reference checks),
#            in development mode with every warning turned into an error
#   asan     build/asan/python under AddressSanitizer + UBSan, with heap leaks
#            reported (LeakSanitizer; tests/lsan.supp lists the interpreter's own)
#   coverage build/coverage/python (gcov counters) with the release interpreter
#   all      release, debug and asan in turn
# Extra arguments are passed to pytest. Every test runs under a timeout
# (pytest-timeout), so a hang fails and names the test.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
PYTHON="${PYTHON:-$ROOT/.toolchain/usr/bin/python3.15}"
PYTHON_DBG="${PYTHON_DBG:-$ROOT/.toolchain/usr/bin/python3.15d}"
variant="${1:-release}"
shift || true

run() {
    local name="$1" py="$2" tree="$3"
    shift 3
    local pyflags=()
    [ "$name" = debug ] && pyflags=(-X dev -W error)
    echo "=== tests: $name ==="
    env PYTHONPATH="$ROOT/$tree/python" KORA_NATIVE_DIR="$ROOT/$tree/native" KORA_BUILD_VARIANT="$name" \
        "$@" "$py" "${pyflags[@]}" -m pytest -q -p no:cacheprovider -p timeout --timeout=300 "$ROOT/tests" "${EXTRA[@]}"
}

EXTRA=("$@")
asan_env=(PYTHONMALLOC=malloc LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
          ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
          LSAN_OPTIONS=suppressions=$ROOT/tests/lsan.supp:print_suppressions=0
          UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1)

case "$variant" in
    release) run release "$PYTHON" build ;;
    debug) run debug "$PYTHON_DBG" build/debug ;;
    asan) run asan "$PYTHON" build/asan "${asan_env[@]}" ;;
    coverage) run coverage "$PYTHON" build/coverage KORA_NOMEMORY_STRIDE=1 ;;
    all)
        run release "$PYTHON" build
        run debug "$PYTHON_DBG" build/debug
        run asan "$PYTHON" build/asan "${asan_env[@]}"
        ;;
    *) echo "unknown variant $variant" >&2; exit 2 ;;
esac
