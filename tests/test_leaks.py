"""Reference and memory balance of every function and method, on success and
failure paths, with fresh objects that are not immortal (tests/calls.py): every
object reachable from the arguments keeps its references from outside that
graph, and objects the call adds are referenced from it only. The debug
interpreter's total reference count must not grow either; the release run
traces allocations. A deliberately leaking helper proves that each check, and
LeakSanitizer in the sanitizer run, sees a leak. The collector sees every
reference a function object or a cache holds, and a function object is freed
with what it holds, also from a reference cycle.
"""
import ctypes
import gc
import os
import sys
import tracemalloc
import weakref

import pytest

import calls
import kora_leak_helper
from calls import CALLS, Cache, Held, Payload
from conftest import run_child, slots

WALKED = (tuple, list, dict, Cache, Held, Payload, type(iter([])), type(iter(())))
FLAT = (type, type(sys), type(len), type(calls.kr.end_drawing), type(calls.Cache.get))


def graph(roots):
    """The objects reachable from roots, through the WALKED kinds only."""
    seen, stack = {}, list(roots)
    while stack:
        o = stack.pop()
        if id(o) in seen or isinstance(o, FLAT) or sys._is_immortal(o):
            continue
        seen[id(o)] = o
        if isinstance(o, WALKED):
            stack.extend(gc.get_referents(o))
    return list(seen.values())  # (no local outlives the call)


def inbound(nodes):
    """id -> references to the node from the other nodes."""
    inside = dict.fromkeys(map(id, nodes), 0)
    for node in nodes:
        if isinstance(node, WALKED):
            for ref in gc.get_referents(node):
                if id(ref) in inside:
                    inside[id(ref)] += 1
    return inside


def outside(nodes):
    """id -> references to the node that do not come from the other nodes."""
    inside = inbound(nodes)  # (in a function of its own: no loop variable outlives it)
    return {id(o): sys.getrefcount(o) - inside[id(o)] for o in nodes}


def run(fn, args, kwargs, fails):
    """fn(*args, **kwargs), which must raise (a failure-path builder) or not."""
    try:
        fn(*args, **kwargs)
    except Exception:
        if not fails:
            raise
    else:
        assert not fails, "a failure-path builder succeeded"


def assert_balanced(fn, args, kwargs, fails, repeat=3):
    """fn(*args, **kwargs), repeated, leaves every reachable object as many
    outside references as it had, and gives new objects none but the graph's."""
    roots = [args, kwargs]
    held = graph(roots)
    before = outside(held)
    for _ in range(repeat):
        run(fn, args, kwargs, fails)
    known = set(before)
    held.extend(o for o in graph(roots) if id(o) not in known)
    held.append(Payload())  # only `held` refers to it: the count of a new object
    after = outside(held)
    fresh = after[id(held[-1])]
    wrong = [(type(o).__name__, after[id(o)] - before.get(id(o), fresh)) for o in held
             if after[id(o)] != before.get(id(o), fresh)]
    assert not wrong, f"outside references changed: {wrong}"


class Boom:
    """Refuses every conversion and attribute read."""

    def __getattr__(self, name):
        raise LookupError(name)

    def __index__(self):
        raise LookupError("index")

    __int__ = __float__ = __bool__ = __iter__ = __len__ = __index__


def broken(value):
    """value with its last part refused: a tuple's last item, a held
    attribute, a list's last item; else value itself replaced by Boom."""
    if type(value) in (tuple, list) and value:
        return value[:-1] + type(value)([Boom()])
    if isinstance(value, Held):
        copy = type(value).__new__(type(value))
        copy._held = dict(value._held, **{value._names[-1]: Boom()})
        return copy
    return Boom()


def failing(call):
    """Builders of failing calls: each argument refused in turn, by replacing
    it and by breaking its last part; the methods on a detached cache too."""
    count = len(call.args()[0])
    first = 1 if call.name.startswith("Cache.") and count else 0
    builders = {}
    for i in range(first, count):
        for how, change in (("replaced", lambda v: Boom()), ("broken", broken)):
            def build(i=i, change=change):
                args, kwargs = call.args()
                return args[:i] + (change(args[i]),) + args[i + 1:], kwargs
            builders[f"{i}-{how}"] = build
    if first and "detached" not in call.variants:
        builders["detached"] = lambda: ((Cache.__new__(Cache),) + call.args()[0][1:], {})
    return builders


# Changed arguments that the call takes as they are (a value stored as given,
# a memo it ignores, a detached cache that the state attaches): success paths.
ACCEPTED = {"draw_texture_vec[3-broken]", "set_shader_value[2-broken]", "Cache.set[2-replaced]", "Cache.set[2-broken]",
            "Cache.get_or_set_val[2-replaced]", "Cache.get_or_set_val[2-broken]", "Cache.__deepcopy__[1-replaced]",
            "Cache.__deepcopy__[1-broken]", "Cache.__setstate__[detached]"}


def cases():
    found = []
    for call in CALLS.values():
        keywords = [("keywords", call.keywords)] if call.keywords() is not None else []
        built = [(label, build, False) for label, build in [("args", call.args), *keywords, *call.variants.items()]]
        built += [(label, build, f"{call.name}[{label}]" not in ACCEPTED) for label, build in failing(call).items()]
        found += [pytest.param(call, build, fails, id=f"{call.name}[{label}]") for label, build, fails in built]
    return found


@pytest.fixture
def installed(rec):
    yield rec
    calls.kr.init_raylib_pointers(rec.addresses())


def growth(read, fn, build, fails, n):
    """Growth of read() over n calls, each with fresh arguments (none of which
    make reference cycles), after n // 10 calls that warm the interpreter's
    caches (code objects for tracebacks, interned names)."""
    for _ in range(n // 10):
        run(fn, *build(), fails)
    gc.disable()  # a collection of older garbage would move the total
    try:
        before = read()
        for _ in range(n):
            run(fn, *build(), fails)
        return read() - before
    finally:
        gc.enable()


@pytest.mark.parametrize("call, build, fails", cases())
def test_reference_balance(installed, call, build, fails):
    """Per object; the total reference count under the debug interpreter, and
    allocations on the success paths elsewhere (its allocator is traced apart)."""
    assert_balanced(call.function(), *build(), fails)
    if hasattr(sys, "gettotalrefcount"):
        assert growth(sys.gettotalrefcount, call.function(), build, fails, 100) < 10
    elif not fails:
        tracemalloc.start()
        try:
            assert growth(lambda: tracemalloc.get_traced_memory()[0], call.function(), build, fails, 1000) < 8 * 1024
        finally:
            tracemalloc.stop()


def test_a_leaked_reference_fails_the_checks():
    leaked = []

    def leak(*args, **kwargs):
        kora_leak_helper.leak_ref(args[-1])
        leaked.append(args[-1])

    with pytest.raises(AssertionError, match="outside references changed"):
        assert_balanced(leak, (Payload(), (calls.fresh_float(1.5),)), {}, False)
    if hasattr(sys, "gettotalrefcount"):
        assert growth(sys.gettotalrefcount, leak, lambda: ((Payload(),), {}), False, 100) >= 100
    for o in leaked:  # repaired, so that the sanitizer run's own leak check stays quiet
        ctypes.pythonapi.Py_DecRef(ctypes.py_object(o))


@pytest.mark.skipif(os.environ.get("KORA_BUILD_VARIANT") != "asan", reason="needs the sanitizer run")
@pytest.mark.parametrize("code, env, size", [("import kora_leak_helper; kora_leak_helper.leak_heap(4321)", {}, 4321),
                                             ("import kora_leak_helper", {"KORA_LEAK_AT_EXEC": "1"}, 77)],
                         ids=["call", "exec step"])
def test_a_heap_leak_is_reported_by_leak_sanitizer(code, env, size):
    """The sanitizer run's own settings (ASAN_OPTIONS, LSAN_OPTIONS) apply."""
    err = run_child(code, env=env, fails=True)
    assert "detected memory leaks" in err and f"{size} byte(s)" in err
    assert "leak_helper.cpp" in err or "kora_leak_helper" in err


@pytest.mark.parametrize("cycle", [True, False])
def test_the_collector_sees_every_reference_held_and_frees_a_function_with_it(cycle):
    fn = kora_leak_helper.copy_function(calls.kr.end_drawing)  # a function object of the shared type that may die
    held = {"__dict__": {}, "__defaults__": (), "__kwdefaults__": {}, "__annotations__": {}, "__qualname__": "q",
            **{name: f"{name} of {id(fn)}" for name in ("__name__", "__module__", "__doc__")}}  # "q" is immortal
    for name, value in held.items():
        setattr(fn, name, value)
    for value in (type(fn), fn.__globals__, fn.__code__, kora_leak_helper, *held.values()):
        assert fn in gc.get_referrers(value), value
    assert fn.__qualname__ == fn.__reduce__() == "q"
    cache = Cache()
    assert cache in gc.get_referrers(slots(cache))
    for name in ("__doc__", "__module__"):
        delattr(fn, name)  # an emptied field is skipped
    assert fn not in gc.get_referrers(held["__doc__"], held["__module__"])
    fn.cycle, extra = fn if cycle else None, type("Extra", (), {})()
    fn.__annotations__["extra"] = extra
    alive = [weakref.ref(fn), weakref.ref(extra)]
    del fn, extra, held
    if cycle:
        gc.collect()
    assert [ref() for ref in alive] == [None, None]
