"""The load-time version check, seen through a build made for Python 3.14."""
import os
import subprocess
import sys
from pathlib import Path

import pytest

from recorder import NATIVE_DIR

SUFFIX = next(s for s in __import__("importlib.machinery").machinery.EXTENSION_SUFFIXES if s.startswith(".cpython"))
FAKE = Path(NATIVE_DIR) / "fakever" / f"kora_raylib{SUFFIX}"

SCRIPT = f"""
import importlib.util, sys
spec = importlib.util.spec_from_file_location("kora_ui.fast.raylib.kora_raylib", {str(FAKE)!r})
module = importlib.util.module_from_spec(spec)
spec.loader.exec_module(module)
print("loaded", len(module.__pyx_capi__))
"""

MESSAGE = ("compile time Python version 3.14 of module 'kora_ui.fast.raylib.kora_raylib' "
           "does not match runtime version {}.{}").format(*sys.version_info[:2])


def run(*flags):
    return subprocess.run([sys.executable, *flags, "-c", SCRIPT], capture_output=True, text=True,
                          env=dict(os.environ), timeout=60)


@pytest.mark.skipif(not FAKE.exists(), reason="the 3.14 test build is missing")
def test_mismatch_warns_and_loads():
    r = run("-W", "always::RuntimeWarning")
    assert r.returncode == 0, r.stderr
    assert "loaded 30" in r.stdout
    assert "RuntimeWarning: " + MESSAGE in r.stderr


@pytest.mark.skipif(not FAKE.exists(), reason="the 3.14 test build is missing")
def test_mismatch_as_error_fails_the_load():
    r = run("-W", "error::RuntimeWarning")
    assert r.returncode != 0
    assert "RuntimeWarning: " + MESSAGE in r.stderr
    assert "loaded" not in r.stdout
