"""Edge conditions of the shared function type and of the integer
conversions: keyword names whose comparison raises, values that convert
through __int__ (a legitimate -1, an unsigned overflow), and function
attributes set to a wrong type."""
import pytest

from calls import Texture, raw_shader
from kora_ui.fast.raylib import kora_raylib as kr


class AsInt:
    """Converts through __int__, the slow path of the integer conversions."""

    def __init__(self, value):
        self.value = value

    def __int__(self):
        return self.value


class Name(str):
    """A keyword name whose comparison with any of `refused` raises."""

    __hash__ = str.__hash__

    def __eq__(self, other):
        if str(other) in self.refused:
            raise LookupError(other)
        return str.__eq__(self, other)


def name(text, *refused):
    key = Name(text)
    key.refused = refused
    return key


def tex(id=3, width=64):
    return Texture(id, width, 32, 1, 7)


RECT, POS, TINT = (0, 0, 4, 4), (1, 2), (1, 2, 3, 4)


@pytest.mark.parametrize("call", [
    lambda: kr.begin_blend_mode(**{name("mode", "mode"): 1}),  # among the parameters still open
    lambda: kr.draw_texture_rec(tex(), **{name("other", "texture"): 1}),  # among those given by position
], ids=["open", "positional"])
def test_keyword_comparison_that_raises_propagates(rec, call):
    with pytest.raises(LookupError):
        call()
    assert rec.calls() == []


@pytest.mark.parametrize("call, recorded", [
    (lambda: kr.draw_texture_rec(tex(width=AsInt(-1)), RECT, POS, TINT),
     ("DrawTextureRec", (3, -1, 32, 1, 7), (0.0, 0.0, 4.0, 4.0), (1.0, 2.0), TINT)),
    (lambda: kr.set_shader_value(raw_shader(), 7, (AsInt(-1),), 4), ("SetShaderValue", (5, 0), 7, 4, [-1])),
    (lambda: kr.draw_texture_rec(tex(id=AsInt(2**32 - 1)), RECT, POS, TINT),
     ("DrawTextureRec", (2**32 - 1, 64, 32, 1, 7), (0.0, 0.0, 4.0, 4.0), (1.0, 2.0), TINT)),
], ids=["int", "long", "uint"])
def test_minus_one_and_maximum_through_int_are_values(rec, call, recorded):
    call()
    assert rec.calls() == [recorded]


def test_unsigned_long_maximum_through_int_overflows_unsigned_int(rec):
    with pytest.raises(OverflowError, match=r"^value too large to convert to unsigned int$"):
        kr.draw_texture_rec(tex(id=AsInt(2**64 - 1)), RECT, POS, TINT)
    assert rec.calls() == []


@pytest.mark.parametrize("attr, value, message", [
    ("__dict__", [], "__dict__ must be set to a dictionary"),
    ("__defaults__", [], "__defaults__ must be set to a tuple object"),
    ("__kwdefaults__", (), "__kwdefaults__ must be set to a dict object"),
    ("__annotations__", (), "__annotations__ must be set to a dict object"),
])
def test_function_attribute_of_a_wrong_type_is_refused(attr, value, message):
    before = getattr(kr.end_drawing, attr)
    with pytest.raises(TypeError, match=f"^{message}$"):
        setattr(kr.end_drawing, attr, value)
    assert getattr(kr.end_drawing, attr) is before
