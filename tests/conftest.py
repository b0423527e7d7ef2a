import os
import subprocess
import sys
import textwrap

import pytest

from recorder import NATIVE_DIR, Recorder

# Test-only extension modules are built into the native directory too.
sys.path.insert(0, str(NATIVE_DIR))

import calls  # noqa: E402  (imports the modules under test)

# The table's init_raylib_pointers entry installs the recorder again.
calls.use_addresses(Recorder().addresses())


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


def slots(cache):
    """A Cache's live slot list (None while detached), as pickling hands it out."""
    reduced = cache.__reduce__()
    return (reduced[2] if len(reduced) == 3 else reduced[1][2])[0]


def fails(rec, exc, msg, fn, *args, **kwargs):
    """fn raises exc (with exactly msg unless None) and raylib sees nothing."""
    with pytest.raises(exc) as info:
        fn(*args, **kwargs)
    if msg is not None:
        assert str(info.value) == msg
    assert rec.calls() == []
    return info


def run_child(code, *flags, env=(), fails=False):
    """Runs code in a fresh interpreter with this one's path, for two minutes
    at most; its output, or its error output where it must fail."""
    done = subprocess.run([sys.executable, *flags, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                          env=dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p), **dict(env)),
                          timeout=120)
    assert (done.returncode != 0) == fails, done.stderr[-2000:]
    return done.stderr if fails else done.stdout
