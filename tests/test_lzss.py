"""Runs the native unit test of the constant-table decoder."""

import os
import pathlib
import subprocess

import pytest

EXE = pathlib.Path(os.environ.get("KORA_NATIVE_DIR", "build/native")) / "lzss_test"


@pytest.mark.skipif(not EXE.exists(), reason="lzss_test not built")
def test_lzss_decoder():
    done = subprocess.run([str(EXE)], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stdout + done.stderr
    assert "all checks passed" in done.stdout
