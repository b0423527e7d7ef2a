import sys

import pytest

from recorder import NATIVE_DIR, Recorder

# Test-only extension modules are built into the native directory too.
sys.path.insert(0, str(NATIVE_DIR))


@pytest.fixture(scope="session")
def recorder():
    return Recorder()


@pytest.fixture
def rec(recorder):
    """The recorder, emptied, with kora_raylib calling into it."""
    from kora_ui.fast.raylib import kora_raylib

    recorder.reset()
    kora_raylib.init_raylib_pointers(recorder.addresses())
    return recorder
