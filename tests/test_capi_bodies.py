"""The C-level bodies of the frame brackets and the blank clear, as a sibling
module sees them when it calls with an error already pending."""

import traceback

import pytest

import kora_capi_consumer as consumer
from kora_ui.fast.krrect.krrect import KrRect

ROUTINE = "kora_ui.fast.raylib.kora_raylib."


@pytest.mark.parametrize("name, args, calls, entry", [
    # Called all the same; the pending error gets the routine's entry.
    ("begin_drawing", (0,), [("BeginDrawing",)], "begin_drawing"),
    ("end_drawing", (1,), [("EndDrawing",)], "end_drawing"),
    # Nothing to convert: clears all the same and adds no entry.
    ("c_clear_background_blank", (), [("ClearBackground", (0, 0, 0, 0))], None),
    # Tests for a pending error after its conversion: skips raylib.
    ("kr_clear_background", (KrRect(1, 2, 3, 4),), [], "kr_clear_background"),
], ids=lambda v: v if isinstance(v, str) else None)
def test_error_pending_before_the_call(rec, name, args, calls, entry):
    with pytest.raises(RuntimeError, match="^pending$") as info:
        consumer.call_pending(name, *args)
    assert rec.calls() == calls
    names = [f.name for f in traceback.extract_tb(info.tb) if f.name.startswith(ROUTINE)]
    assert names == ([ROUTINE + entry] if entry else [])

