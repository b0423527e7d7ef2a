"""The load-time version check, seen through a build made for Python 3.14."""
import importlib.machinery
import sys

import pytest

from recorder import NATIVE_DIR
from test_loading import run_script

SUFFIX = next(s for s in importlib.machinery.EXTENSION_SUFFIXES if s.startswith(".cpython"))
FAKE = NATIVE_DIR / "fakever" / f"kora_raylib{SUFFIX}"
MESSAGE = ("compile time Python version 3.14 of module 'kora_ui.fast.raylib.kora_raylib' "
           "does not match runtime version {}.{}").format(*sys.version_info[:2])


@pytest.mark.skipif(not FAKE.exists(), reason="the 3.14 test build is missing")
@pytest.mark.parametrize("flags", [(), ("-W", "error::RuntimeWarning")], ids=["warns", "fails"])
def test_mismatch_warns_or_fails_the_load(flags):
    out = run_script(f"print(json.dumps(attempt({str(FAKE)!r})))", *flags)
    if flags:
        assert out["error"] == ["RuntimeWarning", MESSAGE] and not out["registered"]
    else:
        assert out["warnings"] == [["RuntimeWarning", MESSAGE]] and "__pyx_capi__" in out["attributes"]
