// The raylib records this module passes by value. raylib is not linked, so the
// layouts are declared here and must match raylib.h field for field (a test
// translation unit checks sizes and offsets against the real header).
#pragma once

#include <cstdint>

namespace kora::rl {

struct Vector2 {
    float x;
    float y;
};

struct Vector4 {
    float x;
    float y;
    float z;
    float w;
};

struct Rectangle {
    float x;
    float y;
    float width;
    float height;
};

struct Color {
    std::uint8_t r;
    std::uint8_t g;
    std::uint8_t b;
    std::uint8_t a;
};

struct Texture2D {
    std::uint32_t id;
    std::int32_t width;
    std::int32_t height;
    std::int32_t mipmaps;
    std::int32_t format;
};

struct RenderTexture2D {
    std::uint32_t id;
    Texture2D texture;
    Texture2D depth;
};

struct Shader {
    std::uint32_t id;
    std::int32_t *locs;
};

}  // namespace kora::rl
