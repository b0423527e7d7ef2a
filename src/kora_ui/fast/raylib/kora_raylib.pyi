# Type stubs of kora_ui.fast.raylib.kora_raylib, the raylib call layer.
#
# Every parameter can be passed by position or by keyword under the names
# below; no parameter has a default. Tuple parameters must be exact tuples.
# None passes the argument check of the tuple, KrVector2, KrRect and KrShader
# parameters but is refused by the call itself (TypeError or AttributeError),
# so it is not part of the types below. Besides the errors each docstring
# names, every function raises TypeError for wrong argument counts or names,
# and RuntimeError if the raylib function it calls has not been given to
# init_raylib_pointers; a failing call does not call raylib. See docs/api.md.
from types import CapsuleType
from typing import Iterable, Mapping, Protocol, TypeAlias

from kora_ui.fast.krrect.krrect import KrRect
from kora_ui.fast.krshader.krshader import KrShader
from kora_ui.fast.krvector2.krvector2 import KrVector2

class _Texture(Protocol):
    """A raylib texture object: read as Texture2D {id, width, height, mipmaps, format}."""

    @property
    def id(self) -> int: ...
    @property
    def width(self) -> int: ...
    @property
    def height(self) -> int: ...
    @property
    def mipmaps(self) -> int: ...
    @property
    def format(self) -> int: ...

class _RenderTexture(Protocol):
    """A raylib render texture object: read as RenderTexture2D {id, texture, depth}."""

    @property
    def id(self) -> int: ...
    @property
    def texture(self) -> _Texture: ...
    @property
    def depth(self) -> _Texture: ...

class _Shader(Protocol):
    """A raylib shader object: `id` and `locs`, the address of its location array."""

    @property
    def id(self) -> int: ...
    @property
    def locs(self) -> int: ...

_Rect: TypeAlias = tuple[float, float, float, float]  # x, y, width, height
_Vec2: TypeAlias = tuple[float, float]  # x, y
_Vec4: TypeAlias = tuple[float, float, float, float]
# r, g, b (alpha 255) or r, g, b, a; each channel truncated to an int, low 8 bits kept.
_Color: TypeAlias = tuple[float, float, float] | tuple[float, float, float, float]
# Up to four components; items past the fourth are not read.
_UniformValue: TypeAlias = tuple[float, ...]

# Export table for sibling native modules: routine name -> capsule named by
# the routine's C signature.
__pyx_capi__: dict[str, CapsuleType]
# Doctest table of the module; always empty.
__test__: dict[str, str]
# Colour of draw_texture_krvec_ez (x, y, w, h read as r, g, b, a); opaque
# white at import, looked up at every call.
_base_color_krvec_ez: KrRect

# Entry points.
def init_raylib_pointers(pointers: dict[str, int]) -> None:
    """Store the addresses of raylib functions, keyed by raylib's names.

    Only the names present are stored (0 unsets one); other keys are ignored.
    Each address must be that raylib function. TypeError for a non-dict or a
    non-integer value, OverflowError for a negative or too large address.
    """

# Frame, modes and background.
def begin_drawing() -> None:
    """Start a frame: raylib receives BeginDrawing()."""

def end_drawing() -> None:
    """End the frame: raylib receives EndDrawing()."""

def begin_blend_mode(mode: int) -> None:
    """Enter a blend mode: raylib receives BeginBlendMode(mode).

    TypeError for a non-integer, OverflowError outside C int.
    """

def end_blend_mode() -> None:
    """Leave the blend mode: raylib receives EndBlendMode()."""

def begin_texture_mode(target: _RenderTexture) -> None:
    """Draw into a render texture: raylib receives BeginTextureMode(RenderTexture2D).

    The target's id, texture and depth are read as raylib records;
    AttributeError or OverflowError from reading them.
    """

def end_texture_mode() -> None:
    """Stop drawing into the render texture: raylib receives EndTextureMode()."""

def begin_shader_mode(shader: _Shader) -> None:
    """Draw with a shader: raylib receives BeginShaderMode(Shader {id, locs}).

    AttributeError or OverflowError from reading the shader object.
    """

def end_shader_mode() -> None:
    """Stop drawing with the shader: raylib receives EndShaderMode()."""

def clear_background(color: _Color) -> None:
    """Fill the frame with a colour: raylib receives ClearBackground(Color).

    TypeError unless color is a tuple of numbers.
    """

# Texture drawing. `flip` is taken by truth value and mirrors the texture
# top to bottom.
def draw_texture_rec(texture: _Texture, source_rec: _Rect, position: _Vec2, color: _Color) -> None:
    """Draw part of a texture: raylib receives DrawTextureRec(texture, source_rec, position, color).

    TypeError for a non-tuple rectangle, position or colour, IndexError for a
    short tuple, AttributeError or OverflowError from reading the texture.
    """

def draw_texture_rec_ez(texture: _Texture, source_rec: _Rect, position: _Vec2) -> None:
    """Draw part of a texture in opaque white: DrawTextureRec(..., {255, 255, 255, 255}).

    Errors as draw_texture_rec.
    """

def draw_texture_vec(texture: _Texture, position: _Vec2, color: _Color, flip: object) -> None:
    """Draw a whole texture at a position.

    raylib receives DrawTextureRec(texture, {0, 0, width, height}, position,
    color), the height negated when flip is true. Errors as draw_texture_rec.
    """

def draw_texture_vec_ez(texture: _Texture, position: _Vec2, flip: object) -> None:
    """Draw a whole texture at a position in opaque white; otherwise as draw_texture_vec."""

def draw_texture_krvec(texture: _Texture, position: KrVector2, color: KrRect, flip: object) -> None:
    """Draw a whole texture at a KrVector2, tinted by a KrRect.

    raylib receives DrawTextureRec(texture, {0, 0, width, +-height},
    {x + 0.01, y + 0.01}, color), the KrRect's x, y, w, h as r, g, b, a.
    TypeError unless position is a KrVector2 and color a KrRect.
    """

def draw_texture_krvec_ez(texture: _Texture, position: KrVector2, flip: object) -> None:
    """As draw_texture_krvec, with the colour of the module attribute _base_color_krvec_ez.

    NameError if that attribute was deleted, TypeError if it is not a KrRect.
    """

def draw_texture_pro(
    texture: _Texture, source_rec: _Rect, dest_rec: _Rect, origin: _Vec2, rotation: float, color: _Color
) -> None:
    """Draw part of a texture into a rectangle, rotated about an origin.

    raylib receives DrawTexturePro(texture, source_rec, dest_rec, origin,
    rotation, color). Errors as draw_texture_rec; TypeError for a rotation
    without a float conversion.
    """

# Shader values and locations on raylib shader objects.
def set_shader_value(shader: _Shader, loc_index: int, value: _UniformValue, uniform_type: int) -> None:
    """Set a uniform of up to four components.

    raylib receives SetShaderValue(shader, loc_index, buffer, uniform_type):
    floats for types 0-3, ints for any other type. TypeError for a non-tuple
    value or an item without a number conversion.
    """

def get_shader_location(shader: _Shader, name: str) -> int:
    """Return the location of a uniform: raylib's GetShaderLocation(shader, name), -1 if unknown.

    TypeError for a non-str name, UnicodeEncodeError for one that is not
    UTF-8 encodable.
    """

def set_shader_value_vec2_krvec(shader: _Shader, loc_index: int, value: KrVector2) -> None:
    """Set a vec2 uniform from a KrVector2: raylib receives its x and y as floats, type 1.

    TypeError unless value is a KrVector2.
    """

def set_shader_value_vec2_tuple(shader: _Shader, loc_index: int, value: _Vec2) -> None:
    """Set a vec2 uniform from (x, y): raylib receives two floats, type 1.

    TypeError for a non-tuple, IndexError for a shorter one.
    """

def set_shader_value_vec4_tuple(shader: _Shader, loc_index: int, value: _Vec4) -> None:
    """Set a vec4 uniform from (x, y, z, w): raylib receives four floats, type 3.

    TypeError for a non-tuple, IndexError for a shorter one.
    """

def set_shader_value_float(shader: _Shader, loc_index: int, value: float) -> None:
    """Set a float uniform: raylib receives one float, type 0."""

# The same on KrShader instances, plus int and array setters.
def set_krshader_value(shader: KrShader, loc_index: int, value: _UniformValue, uniform_type: int) -> None:
    """As set_shader_value, on a KrShader (TypeError for any other shader)."""

def get_krshader_location(shader: KrShader, name: str) -> int:
    """As get_shader_location, on a KrShader (TypeError for any other shader)."""

def set_krshader_value_vec2_krvec(shader: KrShader, loc_index: int, value: KrVector2) -> None:
    """As set_shader_value_vec2_krvec, on a KrShader."""

def set_krshader_value_vec2_tuple(shader: KrShader, loc_index: int, value: _Vec2) -> None:
    """As set_shader_value_vec2_tuple, on a KrShader."""

def set_krshader_value_vec4_tuple(shader: KrShader, loc_index: int, value: _Vec4) -> None:
    """As set_shader_value_vec4_tuple, on a KrShader."""

def set_krshader_value_vec4_v(shader: KrShader, loc_index: int, values: Iterable[Mapping[str, float]]) -> None:
    """Set a vec4 array uniform from mappings with keys "x", "y", "z", "w".

    raylib receives SetShaderValueV(shader, loc_index, array, 3, count);
    nothing for an empty iterable. TypeError for an item that is no mapping,
    ValueError for a missing key.
    """

def set_krshader_value_float_v(shader: KrShader, loc_index: int, values: Iterable[float]) -> None:
    """Set a float array uniform: raylib receives SetShaderValueV(shader, loc_index, array, 0, count).

    Nothing for an empty iterable; TypeError for an item without a float conversion.
    """

def set_krshader_value_float(shader: KrShader, loc_index: int, value: float) -> None:
    """As set_shader_value_float, on a KrShader."""

def set_krshader_value_int(shader: KrShader, loc_index: int, value: int) -> None:
    """Set an int uniform: raylib receives one int, type 4 (OverflowError outside C int)."""
