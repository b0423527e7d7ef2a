"""The raylib entry-point table behind kora_raylib: what init_raylib_pointers
stores, and what a call does while its entry is still unset or, for the
exported routines, while an error is pending."""

import re
import traceback

import pytest

from kora_ui.fast.krrect.krrect import KrRect
from kora_ui.fast.raylib import kora_raylib as kr
import kora_capi_consumer  # built into the native directory, which conftest adds to the path
from calls import CALLS, RAYLIB
from test_capi import ROUTINES
from test_reentrancy import HookedStr, hooked

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


# Hashes like "BeginBlendMode" but cannot be compared with it.
UNCOMPARABLE = hooked(HookedStr, lambda: 1 / 0, "BeginBlendMode")


@pytest.fixture
def blank(rec):
    """Every entry null; the recorder's addresses are installed again after."""
    kr.init_raylib_pointers(dict.fromkeys(NAMES, 0))
    yield rec
    kr.init_raylib_pointers(rec.addresses())


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
    return kora_capi_consumer.call("init_raylib_pointers", pointers, 0)


@pytest.mark.parametrize("init", [kr.init_raylib_pointers, exported_init], ids=["function", "exported"])
@pytest.mark.parametrize("bad, exc, text", [
    (-1, OverflowError, "can't convert negative value to size_t"),
    (-2**70, OverflowError, "can't convert negative value to size_t"),
    (2**64, OverflowError, "Python int too large to convert to C unsigned long"),
    ("12", TypeError, "an integer is required"),
    (None, TypeError, "an integer is required"),
    (UNCOMPARABLE, ZeroDivisionError, "division by zero"),
])
def test_failure_stops_in_test_order(blank, init, bad, exc, text):
    addresses = blank.addresses()
    # The dict's own order differs from the order in which keys are tested.
    pointers = {UNCOMPARABLE: 1} if bad is UNCOMPARABLE else {"BeginBlendMode": bad}
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


def module_entries(info):
    """The module's traceback entries, outermost first."""
    return [f.name.removeprefix(ROUTINE) for f in traceback.extract_tb(info.tb) if f.name.startswith(ROUTINE)]


# An error pending, as a sibling module may call the frame brackets and the clears.
@pytest.mark.parametrize("routine, args, calls, named", [
    # These are called all the same and the pending error gets the routine's entry;
    ("begin_drawing", (0,), [("BeginDrawing",)], True),
    ("end_drawing", (1,), [("EndDrawing",)], True),
    # with nothing to convert, this clears all the same and adds no entry;
    ("c_clear_background_blank", (), [("ClearBackground", (0, 0, 0, 0))], False),
    # this tests for a pending error after its conversion: skips raylib.
    ("kr_clear_background", (KrRect(1, 2, 3, 4),), [], True),
], ids=lambda v: v if isinstance(v, str) else None)
def test_exported_routine_with_an_error_pending(rec, routine, args, calls, named):
    with pytest.raises(RuntimeError, match="^pending$") as info:
        kora_capi_consumer.call_pending(routine, *args)
    assert rec.calls() == calls and module_entries(info) == [routine] * named


# Every call that reaches raylib, with each of its argument sets, and every exported routine that does.
REACHING = [pytest.param(lambda c=call, b=build: c(b), None, id=f"{call.name}[{label}]") for call in RAYLIB
            if call.name != "init_raylib_pointers"
            for label, build in [("args", call.args), *call.variants.items()]]
REACHING += [pytest.param(lambda n=name, a=args: kora_capi_consumer.call(n, *a), name, id=f"exported {name}")
             for name, args, _, reached in ROUTINES if reached]


@pytest.mark.parametrize("call, routine", REACHING)
def test_every_call_tests_its_own_entry(rec, call, routine):
    """With only the entry it reaches unset, a call names that entry and
    reaches nothing; an exported routine adds its traceback entry."""
    call()
    ((entry, *_),) = rec.calls()
    rec.reset()
    kr.init_raylib_pointers({entry: 0})
    try:
        with pytest.raises(RuntimeError) as info:
            call()
    finally:
        kr.init_raylib_pointers(rec.addresses())
    assert str(info.value) == NOT_SET.format(entry) and rec.calls() == []
    if routine:  # its entry comes first, once; a routine it hands the call to adds one after
        entries = module_entries(info)
        assert entries[0] == routine and entries.count(routine) == 1
