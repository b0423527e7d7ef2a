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


@pytest.mark.parametrize("data, size, lengths, strings", [
    (b"\x01A", 1, (1,), ["A"]),
    (b"", 0, (1,), None),  # a constant longer than the text
    (b"\x01A", 1, (2,), None),
    (b"\x01", 1, (1,), None),  # compressed data that ends early
])
def test_constant_table_cut(data, size, lengths, strings):
    import kora_frame_probe

    if strings is None:
        with pytest.raises(RuntimeError, match="^LZSS string data decompression failed$"):
            kora_frame_probe.expand(data, size, lengths)
    else:
        assert kora_frame_probe.expand(data, size, lengths) == strings
