"""The raylib entry-point table behind kora_raylib: what init_raylib_pointers
stores, and what a call does while its entry is still unset or, for the
exported routines, while an error is pending."""

import json
import re
import traceback

import pytest

from kora_ui.fast.krrect.krrect import KrRect
from kora_ui.fast.krshader.krshader import KrShader
from kora_ui.fast.raylib import kora_raylib as kr
from calls import CALLS
from test_loading import run_child

NAMES = ("DrawTextureRec", "DrawTexturePro", "BeginBlendMode", "EndBlendMode", "BeginTextureMode",
         "EndTextureMode", "ClearBackground", "BeginShaderMode", "EndShaderMode", "SetShaderValue",
         "GetShaderLocation", "BeginDrawing", "EndDrawing", "SetShaderValueV")

# One call per entry that goes through that entry and no other.
USERS = {name: re.sub(r"(?<!^)([A-Z])", r"_\1", name).lower() for name in NAMES}
USERS["SetShaderValueV"] = "set_krshader_value_float_v"


NOT_SET = "raylib function {} is not set; call init_raylib_pointers first"


def entry_state():
    """The names of the entries that are set, found by calling each one's user."""
    state = []
    for name in NAMES:
        try:
            CALLS[USERS[name]]()
        except RuntimeError as exc:
            assert str(exc) == NOT_SET.format(name)
            continue
        state.append(name)
    return state


class FailingKey:
    """Hashes like "BeginBlendMode" but cannot be compared with it."""

    def __hash__(self):
        return hash("BeginBlendMode")

    def __eq__(self, other):
        raise ZeroDivisionError("no comparison")


@pytest.fixture
def blank(rec):
    """Every entry null; the recorder's addresses are installed again after."""
    kr.init_raylib_pointers(dict.fromkeys(NAMES, 0))
    yield rec
    kr.init_raylib_pointers(rec.addresses())


def test_all_entries_null_after_import():
    assert json.loads(run_child("import json, test_entry_points as t; print(json.dumps(t.entry_state()))")) == []


def test_entries_are_updated_separately(blank):
    addresses = blank.addresses()
    HasInt = type("HasInt", (), {"__int__": lambda self: addresses["ClearBackground"]})
    assert kr.init_raylib_pointers({}) is None
    assert entry_state() == []
    kr.init_raylib_pointers({"BeginDrawing": addresses["BeginDrawing"]})
    assert entry_state() == ["BeginDrawing"]
    kr.init_raylib_pointers({"EndDrawing": type("MyInt", (int,), {})(addresses["EndDrawing"]),
                             "ClearBackground": HasInt()})
    assert entry_state() == ["ClearBackground", "BeginDrawing", "EndDrawing"]
    kr.init_raylib_pointers({"BeginDrawing": 0})
    assert entry_state() == ["ClearBackground", "EndDrawing"]
    begin = addresses["BeginDrawing"]
    kr.init_raylib_pointers({"begindrawing": begin, "BEGINDRAWING": begin, "BeginDrawing ": begin,
                             b"BeginDrawing": begin, 12: begin, "Other": -5})
    assert entry_state() == ["ClearBackground", "EndDrawing"]
    kr.init_raylib_pointers(addresses)
    blank.reset()
    assert entry_state() == list(NAMES)
    assert [call[0] for call in blank.calls()] == list(NAMES)


def exported_init(pointers):
    import kora_capi_consumer  # built into the native directory, which only conftest adds to the path
    return kora_capi_consumer.call("init_raylib_pointers", pointers, 0)


@pytest.mark.parametrize("init", [kr.init_raylib_pointers, exported_init], ids=["function", "exported"])
@pytest.mark.parametrize("bad, exc, text", [
    (-1, OverflowError, "can't convert negative value to size_t"),
    (-2**70, OverflowError, "can't convert negative value to size_t"),
    (2**64, OverflowError, "Python int too large to convert to C unsigned long"),
    ("12", TypeError, "an integer is required"),
    (None, TypeError, "an integer is required"),
    (FailingKey, ZeroDivisionError, "no comparison"),
])
def test_failure_stops_in_test_order(blank, init, bad, exc, text):
    addresses = blank.addresses()
    # The dict's own order differs from the order in which keys are tested.
    pointers = {FailingKey(): 1} if bad is FailingKey else {"BeginBlendMode": bad}
    pointers.update((name, addresses[name]) for name in reversed(NAMES) if name != "BeginBlendMode")
    with pytest.raises(exc) as excinfo:
        init(pointers)
    assert str(excinfo.value) == text
    assert entry_state() == ["DrawTextureRec", "DrawTexturePro"]


@pytest.mark.parametrize("init, argument, text", [
    (kr.init_raylib_pointers, None, "'NoneType' object is not iterable"),
    (exported_init, None, "'NoneType' object is not iterable"),
    (kr.init_raylib_pointers, [("BeginDrawing", 0)],
     "Argument 'pointers' has incorrect type (expected dict, got list)"),
])
def test_refused_arguments_change_nothing(rec, init, argument, text):
    with pytest.raises(TypeError) as excinfo:
        init(argument)
    assert str(excinfo.value) == text
    assert entry_state() == list(NAMES)


ROUTINE = "kora_ui.fast.raylib.kora_raylib."


@pytest.mark.parametrize("routine, args, entry", [
    ("c_clear_background_blank", (), "ClearBackground"),
    ("begin_krshader_mode", (KrShader(1, 0),), "BeginShaderMode"),
    ("begin_drawing", (0,), "BeginDrawing"),
    ("end_drawing", (0,), "EndDrawing"),
    ("set_krshader_value_int", (KrShader(1, 0), 2, -7, 0), "SetShaderValue"),
])
def test_exported_routine_with_its_entry_unset(rec, routine, args, entry):
    """Only that entry is unset: the routine tests its own entry, names it
    and adds its traceback entry."""
    from conftest import fails
    import kora_capi_consumer

    kr.init_raylib_pointers({entry: 0})
    try:
        info = fails(rec, RuntimeError, NOT_SET.format(entry), kora_capi_consumer.call, routine, *args)
    finally:
        kr.init_raylib_pointers(rec.addresses())
    assert traceback.extract_tb(info.tb)[-1].name == ROUTINE + routine


@pytest.mark.parametrize("routine, args, calls, entry", [
    # Called all the same; the pending error gets the routine's entry.
    ("begin_drawing", (0,), [("BeginDrawing",)], "begin_drawing"),
    ("end_drawing", (1,), [("EndDrawing",)], "end_drawing"),
    # Nothing to convert: clears all the same and adds no entry.
    ("c_clear_background_blank", (), [("ClearBackground", (0, 0, 0, 0))], None),
    # Tests for a pending error after its conversion: skips raylib.
    ("kr_clear_background", (KrRect(1, 2, 3, 4),), [], "kr_clear_background"),
], ids=lambda v: v if isinstance(v, str) else None)
def test_exported_routine_called_with_an_error_pending(rec, routine, args, calls, entry):
    """As a sibling module may call the frame brackets and the clears."""
    import kora_capi_consumer

    with pytest.raises(RuntimeError, match="^pending$") as info:
        kora_capi_consumer.call_pending(routine, *args)
    assert rec.calls() == calls
    names = [f.name for f in traceback.extract_tb(info.tb) if f.name.startswith(ROUTINE)]
    assert names == ([ROUTINE + entry] if entry else [])
