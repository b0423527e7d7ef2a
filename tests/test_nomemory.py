"""Allocation failures (the interpreter's own injection, _testcapi): every call
of the call table and the loading of each module, with the n-th allocation and
every later one failing, for n = 0, 1, 2, ... until the call succeeds. Each
failing attempt raises MemoryError and leaves the caches' slots as they were;
init_raylib_pointers keeps only the rows it stored before the failure, in its
test order. Under the debug interpreter the total reference count stays flat."""
import gc
import itertools
import os
import subprocess
import sys

import _testcapi
import pytest

import kora_capi_consumer as consumer
import calls
from calls import CALLS, Call, Cache
from conftest import slots
from test_entry_points import NAMES, entry_state
from test_leaks import cases

def attempt(fn, args, kwargs, n):
    """The exception of fn(*args, **kwargs) with allocations n, n+1, ... failing,
    or None. Nothing but the call runs while the hooks are set."""
    _testcapi.set_nomemory(n)
    try:
        fn(*args, **kwargs)
    except BaseException as exc:
        _testcapi.remove_mem_hooks()
        return exc.with_traceback(None)  # (no cycle through this frame)
    _testcapi.remove_mem_hooks()
    return None


def sweep(call, build, fails):
    """Attempts with n = 0, 1, ... until the call ends as it does unhindered."""
    args, kwargs = build()
    unhindered = attempt(call.function(), args, kwargs, 2**31 - 1)
    assert (unhindered is not None) == fails, unhindered
    for n in itertools.count():
        args, kwargs = build()
        if call.name == "init_raylib_pointers":
            calls.kr.init_raylib_pointers(dict.fromkeys(NAMES, 0))
        held = [(c, slots(c)) for c in args if isinstance(c, Cache)]
        before = [(c, s and list(s)) for c, s in held]
        exc = attempt(call.function(), args, kwargs, n)
        if exc is None or repr(exc) == repr(unhindered):
            return n
        assert type(exc) is MemoryError, f"allocation {n}: {exc!r}"
        for cache, was in before:
            now = slots(cache)
            assert now is was is None or [*map(id, now)] == [*map(id, was)], f"allocation {n}: slots changed"
        if call.name == "init_raylib_pointers":
            stored = entry_state()
            assert stored == list(NAMES[: len(stored)]), f"allocation {n}: {stored}"


def growth(fn, *args):
    total = sys.gettotalrefcount()
    fn(*args)
    return sys.gettotalrefcount() - total


# Paths that the call table reaches only without allocations to fail: a
# refused checksum builds its error from fresh objects; a sibling module makes
# a new cache through Cache's C-level table.
MORE = [pytest.param(call, call.args, fails, id=call.name) for call, fails in [
    (Call("refused checksum", lambda: calls.koracache.__pyx_unpickle_Cache, lambda: (Cache, 0, None)), True),
    (Call("c new", lambda: consumer.cache_call, lambda: ("new_",)), False),
]]


@pytest.mark.parametrize("call, build, fails", cases() + MORE)
def test_every_allocation_failure_of_a_call_raises_memory_error(rec, call, build, fails):
    """The success paths of the call table and the failure paths of the balance checks."""
    gc.disable()  # no collection (and no finaliser) while the hooks are set
    try:
        sweep(call, build, fails)  # (also warms the interpreter's caches)
        if hasattr(sys, "gettotalrefcount"):
            assert growth(sweep, call, build, fails) == growth(lambda *_: None)
    finally:
        gc.enable()
        calls.kr.init_raylib_pointers(rec.addresses())


LOAD = """
import gc, importlib.util, sys, _testcapi
import kora_ui.core.enums, kora_ui.fast.krrendertex.kr_render_tex, kora_ui.fast.krshader.krshader
spec = importlib.util.find_spec(sys.argv[1])
gc.collect()  # (empties the free lists: small tuples, dicts, floats come from the allocator too)
_testcapi.set_nomemory(int(sys.argv[2]))
try:  # the create step and the exec step
    spec.loader.exec_module(importlib.util.module_from_spec(spec))
except MemoryError:
    _testcapi.remove_mem_hooks()
    print("MemoryError")
else:
    _testcapi.remove_mem_hooks()
    print("loaded")
"""


@pytest.mark.parametrize("name", ["kora_ui.fast.raylib.kora_raylib", "kora_ui.fast.koracache.koracache"])
def test_every_allocation_failure_while_loading_raises_memory_error(name):
    """Each index in a fresh interpreter (a module loads once per process): in
    steps of KORA_NOMEMORY_STRIDE (1 under `make coverage`)."""
    stride = int(os.environ.get("KORA_NOMEMORY_STRIDE", "53"))
    for n in itertools.count(0, stride):
        done = subprocess.run([sys.executable, "-c", LOAD, name, str(n)], capture_output=True, text=True, timeout=60)
        assert (done.returncode, done.stderr) == (0, "") and done.stdout in ("MemoryError\n", "loaded\n"), (n, done)
        if done.stdout == "loaded\n":
            break
