#!/usr/bin/env bash
# Draws the demo scene through kora_raylib with the real raylib and writes
# build/demo.png. Needs `make build`; starts a private Xvfb when DISPLAY is unset.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PYTHON="${PYTHON:-$ROOT/.toolchain/usr/bin/python3.15}"
export PYTHONPATH="$ROOT/build/python"
exec "$PYTHON" "$ROOT/tools/demo.py" "$@"
