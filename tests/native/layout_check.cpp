// Compile-time check that the records kora_raylib passes by value
// (kora::rl, declared without raylib.h) match raylib's own: same size,
// alignment, field offsets and field sizes, and the same scalar field types
// (the calling convention passes float and integer fields in different
// registers, so equal sizes alone are not enough).
#include <cstddef>
#include <type_traits>

#include "raylib.h"
#include "kora_ui/fast/raylib/raylib_records.h"

namespace {

#define KORA_SAME_RECORD(T)                                                                            \
    static_assert(sizeof(::T) == sizeof(kora::rl::T), #T ": size differs");                            \
    static_assert(alignof(::T) == alignof(kora::rl::T), #T ": alignment differs");                     \
    static_assert(std::is_standard_layout_v<kora::rl::T> && std::is_trivially_copyable_v<kora::rl::T>, \
                  #T ": not a plain record")

#define KORA_SAME_FIELD(T, f)                                                                  \
    static_assert(offsetof(::T, f) == offsetof(kora::rl::T, f), #T "." #f ": offset differs"); \
    static_assert(sizeof(::T::f) == sizeof(kora::rl::T::f), #T "." #f ": size differs")

#define KORA_SAME_SCALAR(T, f) \
    KORA_SAME_FIELD(T, f);     \
    static_assert(std::is_same_v<decltype(::T::f), decltype(kora::rl::T::f)>, #T "." #f ": type differs")

KORA_SAME_RECORD(Vector2);
KORA_SAME_SCALAR(Vector2, x);
KORA_SAME_SCALAR(Vector2, y);

KORA_SAME_RECORD(Vector4);
KORA_SAME_SCALAR(Vector4, x);
KORA_SAME_SCALAR(Vector4, y);
KORA_SAME_SCALAR(Vector4, z);
KORA_SAME_SCALAR(Vector4, w);

KORA_SAME_RECORD(Rectangle);
KORA_SAME_SCALAR(Rectangle, x);
KORA_SAME_SCALAR(Rectangle, y);
KORA_SAME_SCALAR(Rectangle, width);
KORA_SAME_SCALAR(Rectangle, height);

KORA_SAME_RECORD(Color);
KORA_SAME_SCALAR(Color, r);
KORA_SAME_SCALAR(Color, g);
KORA_SAME_SCALAR(Color, b);
KORA_SAME_SCALAR(Color, a);

KORA_SAME_RECORD(Texture2D);
KORA_SAME_SCALAR(Texture2D, id);
KORA_SAME_SCALAR(Texture2D, width);
KORA_SAME_SCALAR(Texture2D, height);
KORA_SAME_SCALAR(Texture2D, mipmaps);
KORA_SAME_SCALAR(Texture2D, format);

// The nested textures are checked as Texture2D above.
KORA_SAME_RECORD(RenderTexture2D);
KORA_SAME_SCALAR(RenderTexture2D, id);
KORA_SAME_FIELD(RenderTexture2D, texture);
KORA_SAME_FIELD(RenderTexture2D, depth);
static_assert(std::is_same_v<decltype(::RenderTexture2D::texture), ::Texture2D> &&
              std::is_same_v<decltype(kora::rl::RenderTexture2D::texture), kora::rl::Texture2D> &&
              std::is_same_v<decltype(::RenderTexture2D::depth), ::Texture2D> &&
              std::is_same_v<decltype(kora::rl::RenderTexture2D::depth), kora::rl::Texture2D>);

KORA_SAME_RECORD(Shader);
KORA_SAME_SCALAR(Shader, id);
KORA_SAME_SCALAR(Shader, locs);

}  // namespace
