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


@pytest.mark.skipif(not FAKE.exists(), reason="the 3.14 test build is missing")
@pytest.mark.parametrize("action, loads", [("always", True), ("error", False)])
def test_mismatch_warns_or_fails_the_load(action, loads):
    r = subprocess.run([sys.executable, "-W", f"{action}::RuntimeWarning", "-c", SCRIPT], capture_output=True,
                       text=True, env=dict(os.environ), timeout=60)
    assert (r.returncode == 0, "loaded 30" in r.stdout) == (loads, loads), r.stderr
    assert "RuntimeWarning: " + MESSAGE in r.stderr
