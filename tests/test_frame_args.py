"""How calls reach kora_raylib's functions: argument counting and keywords,
C value conversions, type tests, the function objects themselves and the
traceback entries that failures carry."""

import gc
import inspect
import sys
import re
import pickle
import traceback
import weakref

import pytest

from kora_ui.fast.krrect.krrect import KrRect
from kora_ui.fast.krshader.krshader import KrShader
from kora_ui.fast.krvector2.krvector2 import KrVector2
from kora_ui.fast.raylib import kora_raylib as kr
from calls import CALLS, Cache, params
from test_draw import T5, TEX
from test_shader import XFails  # a KrVector2 whose x raises KeyError

MODULE = "kora_ui.fast.raylib.kora_raylib"
SOURCE = "src/kora_ui/fast/raylib/kora_raylib"
SRC, POS, COL = (0, 0, 16, 8), (1, 2), (10, 20, 30, 40)
DRAWN = ("DrawTextureRec", T5, (0.0, 0.0, 16.0, 8.0), (1.0, 2.0), (10, 20, 30, 40))

FUNCTIONS = [name for name, value in vars(kr).items() if type(value) is type(kr.end_drawing)]
NOARGS = ["begin_drawing", "end_drawing", "end_blend_mode", "end_texture_mode", "end_shader_mode"]
MyTuple, MyDict, MyStr = (type("My" + t.__name__.title(), (t,), {}) for t in (tuple, dict, str))


class Number:
    """Converted through __int__, __index__ and __float__."""

    def __init__(self, value):
        self.value = value

    def __int__(self):
        return self.value

    __index__ = __float__ = __int__


def entries(excinfo):
    """Names of the module's traceback entries, innermost first."""
    frames = [f for f in traceback.extract_tb(excinfo.tb) if f.filename == SOURCE]
    return [f.name.removeprefix(MODULE + ".") for f in reversed(frames)]


# --- every check of the parser, through every entry -------------------------
# draw_texture_rec and the no-argument functions have entries of their own for
# positional and in-order keyword calls; the same checks must hold there.

class Untrue:
    def __bool__(self):
        raise ZeroDivisionError("no truth")


def kind(name, param):
    """What the parser makes of a parameter: a type it tests, or a conversion."""
    if param in ("texture", "target") or (param == "shader" and "krshader" not in name):
        return None
    if param in ("loc_index", "uniform_type", "mode") or (param == "value" and name.endswith("_int")):
        return int
    if param == "rotation" or (param == "value" and name.endswith("_float")):
        return float
    if "krvec" in name and param in ("position", "value", "color"):
        return KrRect if param == "color" else KrVector2
    return {"shader": KrShader, "pointers": dict, "name": str, "flip": bool, "values": iter}.get(param, tuple)


def refusals(name, param):
    """(bad value, exception, message) for each check made on the parameter."""
    k = kind(name, param)
    typed = f"Argument '{param}' has incorrect type (expected {{}}, got {{}})"
    if k in (tuple, dict, str):
        subclass = {tuple: MyTuple, dict: MyDict, str: MyStr}[k]
        return [(subclass(), TypeError, typed.format(k.__name__, subclass.__name__))] + (
            [([1.0, 2.0, 3.0, 4.0], TypeError, typed.format("tuple", "list"))] if k is tuple else [])
    if k in (KrVector2, KrRect, KrShader):
        return [((1.0, 2.0, 3.0, 4.0), TypeError, typed.format(f"{k.__module__}.{k.__name__}", "tuple"))] + (
            [(None, TypeError, f"Argument '{param}' must not be None")] if k is KrShader else [])
    return {
        int: [("3", TypeError, "an integer is required"), (2**31, OverflowError, "value too large to convert to int"),
              (-2**31 - 1, OverflowError, "value too large to convert to int")],
        float: [("0.5", TypeError, "must be real number, not str")],
        bool: [(Untrue(), ZeroDivisionError, "no truth")],
        iter: [(5, TypeError, "'int' object is not iterable")],
    }.get(k, [])


def forms(name, args):
    """The call written four ways: by position, by keyword in declaration
    order, mixed, and by keywords whose names are not the interned ones."""
    names = params(getattr(kr, name))
    half = len(names) // 2
    return {
        "positional": (args, {}),
        "keywords": ((), dict(zip(names, args))),
        "mixed": (args[:half], dict(zip(names[half:], args[half:]))),
        "fresh names": ((), {"".join(n): v for n, v in zip(names, args)}),
    }


RAYLIB = [name for name in sorted(CALLS) if not name.startswith(("Cache", "__"))]


def refused(name):
    """(what, args, exc, message): each check made on a parameter; then every
    parameter bad at once, where conversions come before type tests and
    each kind goes in parameter order."""
    names, args = params(getattr(kr, name)), CALLS[name].args()[0]
    rows = [(f"{p}-{type(r[0]).__name__}", args[:i] + (r[0],) + args[i + 1:], *r[1:])
            for i, p in enumerate(names) for r in refusals(name, p)]
    if len(names) > 1:
        bad = [refusals(name, p)[:1] for p in names]
        converted = [r for p, r in zip(names, bad) if r and kind(name, p) in (int, float, bool, iter)]
        _, exc, message = (converted or [r for r in bad if r])[0][0]
        rows.append(("all bad", tuple(r[0][0] if r else v for r, v in zip(bad, args)), exc, message))
    return rows


def count_errors(name):
    """(args, kwargs, message) of calls with a parameter too many or too few."""
    names, args = params(getattr(kr, name)), CALLS[name].args()[0]
    n = len(names)
    if not n:
        return [((1,), {}, "takes no arguments (1 given)"), ((), {"flip": 1}, "takes no keyword arguments")]
    exactly = f"takes exactly {n} positional argument{'s' * (n != 1)} ({{}} given)"
    in_order = dict(zip(names, args))
    return [(args + (None,), {}, exactly.format(n + 1)), (args[:-1], {}, exactly.format(n - 1)),
            (args + (None,), {names[-1]: args[-1]}, exactly.format(n + 1)),
            ((), dict(list(in_order.items())[:-1]), exactly.format(n - 1)),
            ((), dict(in_order, extra=1), "got an unexpected keyword argument 'extra'"),
            (args, {names[0]: args[0]}, f"got multiple values for keyword argument '{names[0]}'")]


COUNTS = [(name, *case) for name in RAYLIB for case in count_errors(name)] + [
    ("draw_texture_rec", (TEX, SRC), {"color": COL}, "takes exactly 4 positional arguments (2 given)"),
    ("draw_texture_rec", (TEX, SRC, POS), {MyStr("texture"): TEX},
     "got multiple values for keyword argument 'texture'"),
    ("draw_texture_rec", (TEX, SRC, POS), {"colour": COL, "texture": TEX},
     "got an unexpected keyword argument 'colour'"),
    ("draw_texture_rec", (TEX, SRC, POS), {"position": POS, "colour": COL},
     "got multiple values for keyword argument 'position'"),
]
PARSER = [pytest.param(name, *forms(name, args)[form], exc, message, id=f"{name}-{what}-{form}")
          for name in RAYLIB for what, args, exc, message in refused(name)
          for form in ("positional", "keywords", "mixed", "fresh names")] + [
    pytest.param(name, args, kwargs, TypeError, f"{name}() {message}", id=f"{name}-{i}-{message}")
    for i, (name, args, kwargs, message) in enumerate(COUNTS)]


@pytest.mark.parametrize("name, args, kwargs, exc, message", PARSER)
def test_parser_refusals(rec, name, args, kwargs, exc, message):
    """Every check of the parameters, through every form of call, and the
    counting of arguments and keywords."""
    with pytest.raises(exc) as excinfo:
        getattr(kr, name)(*args, **kwargs)
    assert str(excinfo.value) == message
    # an iterable is converted by a routine of its own, whose entry comes first
    frames = entries(excinfo)
    assert frames == [name] or (message.endswith("is not iterable") and frames[1:] == [name])
    assert rec.calls() == []


def test_tuple_call_path_holds_its_own_references():
    """Cache(...) reaches the parser through a tuple and a dict: the keyword
    names and values it lays out must be references of its own."""
    value, name = object(), "".join(["fre", "sh"])
    counts = sys.getrefcount(value), sys.getrefcount(name)
    for _ in range(3):
        with pytest.raises(TypeError, match=r"^__init__\(\) got an unexpected keyword argument 'fresh'$"):
            Cache(**{name: value})
        with pytest.raises(TypeError, match=r"^__init__\(\) takes exactly 0 positional arguments \(1 given\)$"):
            Cache(value, **{name: value})
    gc.collect()
    assert (sys.getrefcount(value), sys.getrefcount(name)) == counts and name == "fresh"


@pytest.mark.parametrize("name, args, kwargs, drawn", [
    ("draw_texture_rec", (), dict(color=COL, position=POS, source_rec=SRC, texture=TEX), DRAWN),
    ("draw_texture_rec", (TEX, SRC), dict(color=COL, position=POS), DRAWN),
    ("draw_texture_rec", (TEX,), {"".join(["sour", "ce_rec"]): SRC, "po" + "sition".lower(): POS, "color": COL},
     DRAWN),
    ("draw_texture_rec", (TEX, SRC, POS), {MyStr("color"): COL}, DRAWN),
    *[(name, (), {}, ("".join(map(str.title, name.split("_"))),)) for name in NOARGS],  # an empty keyword dict
])
def test_keyword_arguments_are_matched(rec, name, args, kwargs, drawn):
    assert getattr(kr, name)(*args, **kwargs) is None
    assert rec.calls() == [drawn]


@pytest.mark.parametrize("name", FUNCTIONS)
def test_function_object_introspection(name):
    """The parameter names themselves are held to the stubs by stubtest."""
    assert name in RAYLIB  # every function has a valid call
    fn = getattr(kr, name)
    assert (fn.__name__, fn.__qualname__, fn.__module__) == (name, name, MODULE)
    assert fn.__doc__ is fn.__closure__ is fn.__defaults__ is fn.__kwdefaults__ is None
    assert fn.__globals__ is vars(kr)
    assert type(fn.__dict__) is dict and type(fn.__annotations__) is dict
    assert weakref.ref(fn)() is fn
    assert fn.__code__.co_firstlineno > 0
    sig = inspect.signature(fn)
    assert tuple(sig.parameters) == params(fn)
    assert all(p.kind is p.POSITIONAL_OR_KEYWORD and p.default is p.empty for p in sig.parameters.values())
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        assert pickle.loads(pickle.dumps(fn, protocol)) is fn


def test_functions_keep_attributes_and_do_not_bind_as_methods(rec):
    class Texture:
        id, width, height, mipmaps, format = 3, 64, 32, 1, 7
        draw = kr.draw_texture_rec

    assert Texture.draw is kr.draw_texture_rec
    kr.draw_texture_rec.note = "kept"
    assert vars(kr.draw_texture_rec).pop("note") == "kept"
    Texture().draw(SRC, POS, COL)
    with pytest.raises(TypeError, match=r"takes exactly 4 positional arguments \(5 given\)"):
        Texture().draw(SRC, POS, COL, COL)
    assert rec.calls() == [DRAWN]


# attribute, a value it takes, a value it refuses with that message
SETTERS = [
    ("__name__", "renamed", 1, "__name__ must be set to a string object"),
    ("__qualname__", "Re.named", None, "__qualname__ must be set to a string object"),
    ("__dict__", {"note": 1}, [], "__dict__ must be set to a dictionary"),
    ("__defaults__", (1,), [1], "__defaults__ must be set to a tuple object"),
    ("__kwdefaults__", {"x": 1}, (), "__kwdefaults__ must be set to a dict object"),
    ("__annotations__", {"return": None}, 5, "__annotations__ must be set to a dict object"),
]


@pytest.mark.parametrize("attr, good, bad, message", SETTERS)
def test_function_attribute_setters(rec, attr, good, bad, message):
    """Informational only: calls and messages keep using the declared names."""
    fn = kr.begin_blend_mode
    saved = getattr(fn, attr)
    try:
        setattr(fn, attr, good)
        assert getattr(fn, attr) == good
        with pytest.raises(TypeError, match=f"^{re.escape(message)}$"):
            setattr(fn, attr, bad)
        if attr in ("__name__", "__qualname__", "__dict__"):
            with pytest.raises(TypeError, match=f"^{re.escape(message)}$"):
                delattr(fn, attr)
            assert getattr(fn, attr) == good
        else:
            for clear in (lambda: setattr(fn, attr, None), lambda: delattr(fn, attr)):
                setattr(fn, attr, good)
                clear()
                assert getattr(fn, attr) == ({} if attr == "__annotations__" else None)
        with pytest.raises(TypeError, match=r"^begin_blend_mode\(\) takes exactly 1 positional argument"):
            fn()
    finally:
        setattr(fn, attr, saved)
    assert repr(fn) == f"<function begin_blend_mode at {id(fn):#x}>"


@pytest.mark.parametrize("kind, exc, message", [
    ("bad_alloc", MemoryError, "std::bad_alloc"), ("bad_cast", TypeError, "std::bad_cast"),
    ("bad_typeid", TypeError, "std::bad_typeid"), ("domain_error", ValueError, "probe"),
    ("invalid_argument", ValueError, "probe"), ("ios_base::failure", OSError, "probe: iostream error"),
    ("out_of_range", IndexError, "probe"), ("overflow_error", OverflowError, "probe"),
    ("range_error", ArithmeticError, "probe"), ("underflow_error", ArithmeticError, "probe"),
    ("length_error", RuntimeError, "probe"), ("runtime_error", RuntimeError, "probe"),
    ("int", RuntimeError, "Unknown exception"), ("pending", ValueError, "pending"),  # a Python error stands
    ("entry", ValueError, "probe"),  # an entry added without a module identity, then one in another file
])
def test_native_exceptions_become_python_exceptions(kind, exc, message):
    import kora_frame_probe

    with pytest.raises(exc) as info:
        kora_frame_probe.fail_with_entry() if kind == "entry" else kora_frame_probe.translate(kind)
    assert type(info.value) is exc and str(info.value) == message
    if kind == "entry":
        expected = [(file, 7, "probe_entry") for file in ("probe_file", "<unknown>")]
        assert [tuple(f)[:3] for f in traceback.extract_tb(info.tb)[1:]] == expected


@pytest.mark.parametrize("call, exc, expected", [
    (lambda: kr.begin_blend_mode("x"), TypeError, ["begin_blend_mode"]),
    (lambda: kr.draw_texture_rec(object(), SRC, POS, COL), AttributeError,
     ["c_draw_texture_rec", "draw_texture_rec", "draw_texture_rec"]),
    (lambda: kr.draw_texture_krvec(TEX, XFails(1, 2), KrRect(1, 2, 3, 4), True), KeyError,
     ["set_vector2_krvector2", "c_draw_texture_krvec", "draw_texture_krvec"]),
    (lambda: kr.init_raylib_pointers(None), TypeError, ["init_raylib_pointers", "init_raylib_pointers"]),
])
def test_traceback_entries(rec, call, exc, expected):
    failures = []
    for _ in range(2):
        with pytest.raises(exc) as excinfo:
            call()
        failures.append(excinfo)
        assert entries(excinfo) == expected
    # The code objects behind the entries are made once and then reused.
    codes = [[f.f_code for f, _ in traceback.walk_tb(e.tb) if f.f_code.co_filename == SOURCE] for e in failures]
    assert all(a is b for a, b in zip(*codes, strict=True))
    assert rec.calls() == []
