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

#define KORA_SAME_SCALARS2(T, f1, f2) \
    KORA_SAME_SCALAR(T, f1);          \
    KORA_SAME_SCALAR(T, f2)

#define KORA_SAME_SCALARS4(T, f1, f2, f3, f4) \
    KORA_SAME_SCALARS2(T, f1, f2);            \
    KORA_SAME_SCALARS2(T, f3, f4)

KORA_SAME_RECORD(Vector2);
KORA_SAME_SCALARS2(Vector2, x, y);
KORA_SAME_RECORD(Vector4);
KORA_SAME_SCALARS4(Vector4, x, y, z, w);
KORA_SAME_RECORD(Rectangle);
KORA_SAME_SCALARS4(Rectangle, x, y, width, height);
KORA_SAME_RECORD(Color);
KORA_SAME_SCALARS4(Color, r, g, b, a);
KORA_SAME_RECORD(Texture2D);
KORA_SAME_SCALARS4(Texture2D, id, width, height, mipmaps);
KORA_SAME_SCALAR(Texture2D, format);
KORA_SAME_RECORD(Shader);
KORA_SAME_SCALARS2(Shader, id, locs);

// The nested textures are checked as Texture2D above.
KORA_SAME_RECORD(RenderTexture2D);
KORA_SAME_SCALAR(RenderTexture2D, id);
KORA_SAME_FIELD(RenderTexture2D, texture);
KORA_SAME_FIELD(RenderTexture2D, depth);
static_assert(std::is_same_v<decltype(::RenderTexture2D::texture), ::Texture2D> &&
              std::is_same_v<decltype(kora::rl::RenderTexture2D::texture), kora::rl::Texture2D> &&
              std::is_same_v<decltype(::RenderTexture2D::depth), ::Texture2D> &&
              std::is_same_v<decltype(kora::rl::RenderTexture2D::depth), kora::rl::Texture2D>);

}  // namespace
