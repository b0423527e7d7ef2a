"""Loading the modules: their attributes, kora_raylib's export table, reload
and re-import, one interpreter per process, the shared function type, the
checks made on the peer types kora_raylib imports and how koracache finds
CacheType."""

import builtins
import importlib
import importlib.machinery
import importlib.util
import json
import pickle
import sys
import textwrap

import pytest

from kora_ui.core.enums import CacheType
from kora_ui.fast.koracache import koracache as kc
from kora_ui.fast.koracache.koracache import Cache
from kora_ui.fast.krrect.krrect import KrRect
from kora_ui.fast.raylib import kora_raylib as kr
from conftest import run_child
from recorder import NATIVE_DIR

MODULE = "kora_ui.fast.raylib.kora_raylib"
CACHE_MODULE = "kora_ui.fast.koracache.koracache"
FONT = CacheType.FONT
INIT = "init " + MODULE
SUFFIX = next(s for s in importlib.machinery.EXTENSION_SUFFIXES if s.startswith(".cpython"))

# Module attributes in the order of their creation.
FUNCTIONS = """init_raylib_pointers draw_texture_rec draw_texture_rec_ez draw_texture_vec draw_texture_vec_ez
    draw_texture_krvec _base_color_krvec_ez draw_texture_krvec_ez draw_texture_pro begin_blend_mode end_blend_mode
    begin_texture_mode end_texture_mode clear_background begin_shader_mode end_shader_mode set_shader_value
    set_krshader_value get_shader_location get_krshader_location set_shader_value_vec2_krvec
    set_shader_value_vec2_tuple set_krshader_value_vec2_krvec set_krshader_value_vec2_tuple set_shader_value_vec4_tuple
    set_krshader_value_vec4_tuple set_krshader_value_vec4_v set_krshader_value_float_v set_shader_value_float
    set_krshader_value_float set_krshader_value_int begin_drawing end_drawing""".split()



def test_module_attributes():
    assert kr.__builtins__ is builtins
    assert type(kr.__test__) is dict and kr.__test__ == {}
    assert sys.modules[MODULE] is kr
    found = kr.__spec__
    assert (kr.__name__, kr.__package__, kr.__file__, kr.__loader__) == (
        MODULE, "kora_ui.fast.raylib", found.origin, found.loader)
    assert not hasattr(kr, "__path__")
    white = kr._base_color_krvec_ez
    assert type(white) is KrRect and (white.x, white.y, white.w, white.h) == (255.0,) * 4
    assert {"Cache", "CacheType", "__pyx_unpickle_Cache", "__builtins__", "__test__"} <= set(vars(kc))
    assert kc.__test__ == {} and kc.__builtins__ is builtins and kc.CacheType is CacheType
    assert (Cache.__module__, Cache.__qualname__) == (CACHE_MODULE, "Cache")
    names = ["clear", "clear_selected", "get", "set", "get_or_set_val", "get_or_exec", "copy", "__deepcopy__"]
    assert [getattr(Cache, n).__qualname__ for n in names] == ["Cache." + n for n in names]
    assert Cache.clear_selected.__defaults__ == (None, None)


@pytest.mark.parametrize("module", [kr, kc], ids=["kora_raylib", "koracache"])
def test_reload_and_reimport_give_the_same_module(rec, monkeypatch, module):
    attributes = dict(vars(module))
    marker = {"rebound": True}
    monkeypatch.setattr(module, "__test__", marker)
    if module is kr:
        monkeypatch.setattr(kr, "_base_color_krvec_ez", KrRect(1, 2, 3, 4))
    assert importlib.reload(module) is module
    monkeypatch.delitem(sys.modules, module.__name__)
    assert importlib.import_module(module.__name__) is module and sys.modules[module.__name__] is module
    before = sys.getrefcount(module)  # (the first re-import left the module spec's loader a reference)
    for _ in range(3):  # each hands back the module with a reference of its own
        del sys.modules[module.__name__]
        assert importlib.import_module(module.__name__) is module
    assert sys.getrefcount(module) == before
    assert module.__test__ is marker and kr._base_color_krvec_ez is not attributes.get("_base_color_krvec_ez")
    kept = [n for n in attributes if not n.startswith("__") or n.startswith("__pyx")] + ["__builtins__"]
    assert all(getattr(module, n) is attributes[n] for n in kept if n != "_base_color_krvec_ez")
    kr.end_drawing()
    assert rec.calls() == [("EndDrawing",)]


# Run in a fresh interpreter before the code of a test, which reports through attempt().
SCRIPT = r"""
import importlib, importlib.util, json, sys, traceback, types, warnings
import kora_ui.fast.krvector2.krvector2 as real
VTABLE = real.KrVector2.__dict__["__pyx_vtable__"]
PATH = real.__file__.replace("krvector2/krvector2", "raylib/kora_raylib")

def peer(module, name, *value):
    sys.modules[module] = fake = types.ModuleType(module)
    if value:
        setattr(fake, name, value[0])

def sized(size, **attrs):
    return type("Fake", (), {"__slots__": ["f%d" % i for i in range((size - object.__basicsize__) // 8)], **attrs})

def attempt(path=None):  # imports the module, or loads another build of it from path
    try:
        with warnings.catch_warnings(record=True) as caught:
            if not sys.warnoptions:
                warnings.simplefilter("always")
            if path is None:
                module = importlib.import_module("kora_ui.fast.raylib.kora_raylib")
            else:
                found = importlib.util.spec_from_file_location("kora_ui.fast.raylib.kora_raylib", path)
                module = importlib.util.module_from_spec(found)
                found.loader.exec_module(module)
    except Exception as exc:
        return {"error": [type(exc).__name__, str(exc)], "registered": "kora_ui.fast.raylib.kora_raylib" in sys.modules,
                "tb": [f.name for f in traceback.extract_tb(exc.__traceback__)]}
    return {"warnings": [[w.category.__name__, str(w.message)] for w in caught], "attributes": list(vars(module))}
"""


def run_script(code, *flags):
    return json.loads(run_child(SCRIPT + textwrap.dedent(code), *flags).splitlines()[-1])


VEC = "kora_ui.fast.krvector2.krvector2"
SIZE_TEXT = (VEC + ".KrVector2 size changed, may indicate binary incompatibility. "
             "Expected 40 from C header, got {} from PyObject")
BIGGER = f"peer('{VEC}', 'KrVector2', sized(48, __pyx_vtable__=VTABLE))"


@pytest.mark.parametrize("prepare, error", [
    (f"peer('{VEC}', 'KrVector2', 42)", ["TypeError", VEC + ".KrVector2 is not a type object"]),
    (f"peer('{VEC}', 'KrVector2', sized(32, __pyx_vtable__=VTABLE))", ["ValueError", SIZE_TEXT.format(32)]),
    (f"peer('{VEC}', 'KrVector2', sized(40))", ["KeyError", "'__pyx_vtable__'"]),
    (f"peer('{VEC}', 'KrVector2', sized(40, __pyx_vtable__=5))",
     ["RuntimeError", "invalid vtable found for imported type"]),
    (f"peer('{VEC}', 'KrVector2')", ["AttributeError", f"module '{VEC}' has no attribute 'KrVector2'"]),
    *[(f"sys.modules['{m}'] = None", ["ModuleNotFoundError", f"import of {m} halted; None in sys.modules"])
      for m in ("kora_ui.fast.krrect.krrect", "kora_ui.fast.krrendertex.kr_render_tex")],
    # Peers are imported in a fixed order: KrShader is checked before KrRect.
    ("peer('kora_ui.fast.krrect.krrect', 'KrRect', 1); peer('kora_ui.fast.krshader.krshader', 'KrShader', 2)",
     ["TypeError", "kora_ui.fast.krshader.krshader.KrShader is not a type object"]),
    (BIGGER, None),  # only warns (and fails the import as an error: below)
])
def test_peer_type_checks_fail_the_import(prepare, error):
    out = run_script(prepare + "; print(json.dumps(attempt()))")
    if error is None:
        assert out["warnings"] == [["RuntimeWarning", SIZE_TEXT.format(48)]]
    else:
        assert out["error"] == error
        assert out["tb"][-1] == INIT and not out["registered"]


def test_import_runs_again_after_a_failed_load():
    out = run_script(f"""
        saved = sys.modules['{VEC}']
        {BIGGER}
        first = attempt()
        sys.modules['{VEC}'] = saved
        print(json.dumps([first, attempt()]))
        """, "-W", "error")
    assert out[0]["error"] == ["RuntimeWarning", SIZE_TEXT.format(48)]
    assert out[0]["tb"][-1] == INIT and not out[0]["registered"]
    assert out[1]["warnings"] == []
    assert out[1]["attributes"][-len(FUNCTIONS) - 3:] == ["__builtins__", "__pyx_capi__", *FUNCTIONS, "__test__"]


# A build made for Python 3.14: the load-time version check warns, or fails the load.
FAKE_314 = NATIVE_DIR / "fakever" / f"kora_raylib{SUFFIX}"
VERSION_TEXT = (f"compile time Python version 3.14 of module '{MODULE}' "
                "does not match runtime version {}.{}").format(*sys.version_info[:2])


@pytest.mark.skipif(not FAKE_314.exists(), reason="the 3.14 test build is missing")
@pytest.mark.parametrize("flags", [(), ("-W", "error::RuntimeWarning")], ids=["warns", "fails"])
def test_version_mismatch_warns_or_fails_the_load(flags):
    out = run_script(f"print(json.dumps(attempt({str(FAKE_314)!r})))", *flags)
    if flags:
        assert out["error"] == ["RuntimeWarning", VERSION_TEXT] and not out["registered"]
    else:
        assert out["warnings"] == [["RuntimeWarning", VERSION_TEXT]] and "__pyx_capi__" in out["attributes"]


# --- one interpreter per process, the shared function type ----------------

NOT_SAFE = "Interpreter change detected - this module can only be loaded into one interpreter per process."


@pytest.mark.parametrize("config", ["legacy", "isolated"])
@pytest.mark.parametrize("module", ["kora_ui.fast.koracache.koracache", "kora_ui.fast.raylib.kora_raylib"])
def test_second_interpreter_import_is_refused(rec, module, config):
    interpreters = pytest.importorskip("_interpreters")
    interp = interpreters.create(config)
    try:
        failure = interpreters.exec(interp, f"import {module}")
        assert failure is not None and failure.type.__name__ == "ImportError"
        assert failure.msg == NOT_SAFE if config == "legacy" else failure.msg
        assert interpreters.exec(interp, "import sys") is None
    finally:
        interpreters.destroy(interp)
    cache = Cache()
    cache.set(FONT, 1)
    assert pickle.loads(pickle.dumps(cache)).get(FONT) == 1
    kr.end_drawing()
    assert rec.calls() == [("EndDrawing",)]


# Each of the following runs in a fresh interpreter after SCRIPT and prints what is checked.
# Loaded under another name, the module registers under its full one.
FULL_NAME = """
found = importlib.util.spec_from_file_location("kora_raylib", PATH)
module = importlib.util.module_from_spec(found)
found.loader.exec_module(module)
print(module.__name__, sys.modules["MODULE"] is module, importlib.import_module("MODULE") is module)
print(module.end_drawing.__module__)
""".replace("MODULE", MODULE)
# Whichever interpreter loads first, a subinterpreter too, keeps the module.
SUBINTERPRETER_FIRST = """
import _interpreters
interp = _interpreters.create("legacy")
print(_interpreters.exec(interp, "import kora_ui.fast.koracache.koracache"))
_interpreters.destroy(interp)
try:
    import kora_ui.fast.koracache.koracache
except ImportError as exc:
    print(exc)
"""
# Imports MODULE after SETUP and prints the TypeError the import fails with.
# The shared function type is found through sys.modules; only the type this
# package made, with its instance layout, may be used to make functions.
IMPOSTOR = """
import ctypes, gc, sys, types
SETUP
try:
    import MODULE
except TypeError as exc:
    print(exc, "MODULE" in sys.modules)
gc.collect()
"""
REFUSAL = "shared entry _kora_ui_shared_types.function_type_v1 is not this package's function type False"
# A class made in Python with the function type's instance size.
HEAP_CLASS = """
registry = types.ModuleType("_kora_ui_shared_types")
registry.function_type_v1 = type("Impostor", (), {"__slots__": tuple("s%d" % i for i in range(SLOTS))})
sys.modules["_kora_ui_shared_types"] = registry
""".replace("SLOTS", str((type(kr.end_drawing).__basicsize__ - object.__basicsize__) // 8))
# The registry's capsule replaced by one of the same name that points at a
# copy of the real (static) type with one field changed (COPY), or at another
# object (POINTER).
CAPSULE = """
import kora_ui.fast.koracache.koracache
from test_foundation import capi as api
registry = sys.modules["_kora_ui_shared_types"]
api.PyCapsule_New.restype = ctypes.py_object
api.PyCapsule_New.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
name = api.PyCapsule_GetName(registry.function_type_v1)
copy = ctypes.create_string_buffer(1024)
ctypes.memmove(copy, api.PyCapsule_GetPointer(registry.function_type_v1, name), 176)  # up to tp_flags
COPY
registry.function_type_v1 = api.PyCapsule_New(POINTER, name, None)
"""
BROKEN_REGISTRY = """
class Broken(types.ModuleType):
    def __getattr__(self, name):
        raise TypeError("registry look-up failed")
sys.modules["_kora_ui_shared_types"] = Broken("_kora_ui_shared_types")
"""
IMPOSTORS = {  # what the capsule points at
    "larger copy": ("ctypes.c_ssize_t.from_buffer(copy, 32).value += 8", "ctypes.addressof(copy)"),  # tp_basicsize
    "copy with another call offset": ("ctypes.c_ssize_t.from_buffer(copy, 56).value += 8", "ctypes.addressof(copy)"),
    "heap class": ("Impostor = type('Impostor', (), {})", "id(Impostor)"),
    "not a type": ("", "id(registry)"),
}
# The create step copies the module spec's attributes that it has, and stops at one that fails.
SPEC_COPIES = """
loader = importlib.util.spec_from_file_location("kora_raylib", PATH).loader
class Raising:
    name, origin, loader = "kora_raylib", PATH, loader
    parent = property(lambda self: 1 / 0)
try:
    loader.create_module(Raising())
except ZeroDivisionError as exc:
    print(exc)
module = loader.create_module(types.SimpleNamespace(name="kora_raylib", origin=PATH, loader=loader,
                                                    submodule_search_locations=["x"]))
print(module.__package__, module.__path__, module.__file__ == PATH, module.__loader__ is loader)
"""
# With an enum.Enum that has no `value`, keys of any class are read by attribute.
ENUM_WITHOUT_VALUE = """
import enum, types
from kora_ui.core.enums import CacheType
enum.Enum = type("Enum", (), {})
from kora_ui.fast.koracache.koracache import Cache
c = Cache()
c.set(types.SimpleNamespace(value=3), "v")
print(c[CacheType.FONT])
"""
# How koracache finds CacheType: PREPARE sets up kora_ui.core.enums.
LOADER = """
import enum, sys, traceback, types
Marker = enum.Enum("CacheType", {"ONLY": 7})
fake = types.ModuleType("kora_ui.core.enums")
PREPARE
try:
    from kora_ui.fast.koracache import koracache
except ImportError as e:
    print(e, "init kora_ui.fast.koracache.koracache" in [f.name for f in traceback.extract_tb(e.__traceback__)])
    fake.CacheType = Marker  # a later attempt loads from the start again
    from kora_ui.fast.koracache import koracache
if koracache.CacheType is Marker:
    c = koracache.Cache()
    c.set(Marker.ONLY, "v")
    assert c.ONLY == c[Marker.ONLY] == "v"
print("marker" if koracache.CacheType is Marker else koracache.CacheType.__module__)
"""
CACHE_TYPE_LOOKUPS = [
    ("real", "", ["kora_ui.core.enums"]),
    ("attribute", "sys.modules[fake.__name__] = fake; fake.CacheType = Marker", ["marker"]),
    ("submodule", "sys.modules[fake.__name__] = fake; sys.modules[fake.__name__ + '.CacheType'] = Marker", ["marker"]),
    ("missing", "sys.modules[fake.__name__] = fake", ["cannot import name CacheType True", "marker"]),
    ("failing", "def fail(name):\n    raise ImportError('look-up failed')\n"
     "fake.__getattr__ = fail; sys.modules[fake.__name__] = fake", ["look-up failed True", "marker"]),
    # absent on the first look-up of the module, failing on the one after the import; found as a submodule
    ("flaky", "class Flaky(types.ModuleType):\n    seen = []\n    def __getattr__(self, name):\n"
     "        self.seen.append(name) if name == 'CacheType' else None\n"
     "        raise RuntimeError('flaky') if len(self.seen) > 1 else AttributeError(name)\n"
     "fake.__class__ = Flaky; sys.modules[fake.__name__] = fake; sys.modules[fake.__name__ + '.CacheType'] = Marker",
     ["marker"]),
]


@pytest.mark.parametrize("code, output", [
    pytest.param(FULL_NAME, ["kora_raylib True True", MODULE], id="registered under the full name"),
    pytest.param(SPEC_COPIES, ["division by zero", "None ['x'] True True"], id="the create step copies the module spec"),
    pytest.param(SUBINTERPRETER_FIRST, ["None", NOT_SAFE], id="the first interpreter keeps the module",
                 marks=pytest.mark.skipif(not importlib.util.find_spec("_interpreters"), reason="no subinterpreters")),
    pytest.param(IMPOSTOR.replace("SETUP", HEAP_CLASS).replace("MODULE", CACHE_MODULE), [REFUSAL],
                 id="impostor: heap class"),
    pytest.param(IMPOSTOR.replace("SETUP", "import enum; enum.Enum = 5").replace("MODULE", CACHE_MODULE),
                 ["enum.Enum is not a type object False"], id="enum.Enum replaced"),
    pytest.param(ENUM_WITHOUT_VALUE, ["v"], id="enum.Enum without value"),
    *[pytest.param(IMPOSTOR.replace("SETUP", CAPSULE.replace("COPY", copy).replace("POINTER", pointer))
                   .replace("MODULE", MODULE), [REFUSAL], id="impostor capsule: " + name)
      for name, (copy, pointer) in IMPOSTORS.items()],
    pytest.param(IMPOSTOR.replace("SETUP", BROKEN_REGISTRY).replace("MODULE", MODULE),
                 ["registry look-up failed False"], id="registry look-up fails"),
    *[pytest.param(LOADER.replace("PREPARE", prepare), output, id="CacheType: " + name)
      for name, prepare, output in CACHE_TYPE_LOOKUPS],
    pytest.param("import test_entry_points as t; print(t.entry_state())", ["[]"], id="no raylib entry set"),
])
def test_in_a_fresh_interpreter(code, output):
    assert run_child(SCRIPT + code).splitlines() == output
