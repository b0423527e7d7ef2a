// Test double for the raylib functions the call layer uses. Each function has
// raylib's exact signature but C linkage under a "rec_" prefix, so it can be
// handed to the layer in place of the real one; every call is appended to a
// log as one text line that tests read back through ctypes.
//
// Line format: name and argument groups separated by '|'; within a group,
// values separated by spaces. Floats are printed with %.17g after promotion
// to double, which round-trips the float32 value exactly. A uniform name (a
// string) is always the last group, printed verbatim after a '"' ("null"
// without the quote for a null pointer).
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "raylib.h"

namespace {

std::vector<std::string> g_log;
int g_default_location = -1;
std::map<std::string, int> g_locations;

void appendf(std::string &out, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
void appendf(std::string &out, const char *fmt, ...) {
    char buf[64];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n > 0) {
        out.append(buf, static_cast<std::size_t>(n) < sizeof buf ? static_cast<std::size_t>(n) : sizeof buf - 1);
    }
}

// Builds one log line group by group.
struct Line {
    std::string text;
    bool fresh_group = true;

    explicit Line(const char *name) : text(name) {}

    Line &group() {
        text += '|';
        fresh_group = true;
        return *this;
    }
    void sep() {
        if (!fresh_group) {
            text += ' ';
        }
        fresh_group = false;
    }
    Line &i(long long v) {
        sep();
        appendf(text, "%lld", v);
        return *this;
    }
    Line &u(unsigned long long v) {
        sep();
        appendf(text, "%llu", v);
        return *this;
    }
    Line &f(float v) {
        sep();
        appendf(text, "%.17g", static_cast<double>(v));
        return *this;
    }
    Line &word(const char *s) {
        sep();
        text += s;
        return *this;
    }
    Line &texture(const Texture2D &t) { return group().u(t.id).i(t.width).i(t.height).i(t.mipmaps).i(t.format); }
    Line &rect(const Rectangle &r) { return group().f(r.x).f(r.y).f(r.width).f(r.height); }
    Line &vec2(const Vector2 &v) { return group().f(v.x).f(v.y); }
    Line &color(const Color &c) { return group().u(c.r).u(c.g).u(c.b).u(c.a); }
    Line &shader(const Shader &s) { return group().u(s.id).u(reinterpret_cast<std::uintptr_t>(s.locs)); }
    void commit() { g_log.push_back(std::move(text)); }
};

// Appends the uniform components raylib would read for uniformType: floats
// for FLOAT..VEC4, ints for INT..IVEC4 and SAMPLER2D, unsigned ints for
// UINT..UIVEC4, nothing for an unknown type or a non-positive count. A null
// value pointer is logged as "null" without being read.
void uniform_values(Line &line, const void *value, int uniform_type, int count) {
    int components = 0;
    char kind = 0;
    if (uniform_type >= SHADER_UNIFORM_FLOAT && uniform_type <= SHADER_UNIFORM_VEC4) {
        components = uniform_type - SHADER_UNIFORM_FLOAT + 1;
        kind = 'f';
    } else if (uniform_type >= SHADER_UNIFORM_INT && uniform_type <= SHADER_UNIFORM_IVEC4) {
        components = uniform_type - SHADER_UNIFORM_INT + 1;
        kind = 'i';
    } else if (uniform_type >= SHADER_UNIFORM_UINT && uniform_type <= SHADER_UNIFORM_UIVEC4) {
        components = uniform_type - SHADER_UNIFORM_UINT + 1;
        kind = 'u';
    } else if (uniform_type == SHADER_UNIFORM_SAMPLER2D) {
        components = 1;
        kind = 'i';
    }
    line.group();
    if (components == 0 || count <= 0) {
        return;
    }
    if (value == nullptr) {
        line.word("null");
        return;
    }
    const auto *bytes = static_cast<const unsigned char *>(value);
    long long total = static_cast<long long>(components) * count;
    for (long long k = 0; k < total; ++k) {
        const unsigned char *p = bytes + k * 4;
        if (kind == 'f') {
            float v;
            std::memcpy(&v, p, sizeof v);
            line.f(v);
        } else if (kind == 'i') {
            int v;
            std::memcpy(&v, p, sizeof v);
            line.i(v);
        } else {
            unsigned int v;
            std::memcpy(&v, p, sizeof v);
            line.u(v);
        }
    }
}

}  // namespace

extern "C" {

// The recorded functions.

void rec_BeginDrawing(void) { Line("BeginDrawing").commit(); }
void rec_EndDrawing(void) { Line("EndDrawing").commit(); }
void rec_BeginBlendMode(int mode) { Line("BeginBlendMode").group().i(mode).commit(); }
void rec_EndBlendMode(void) { Line("EndBlendMode").commit(); }
void rec_BeginTextureMode(RenderTexture2D target) {
    Line("BeginTextureMode").group().u(target.id).texture(target.texture).texture(target.depth).commit();
}
void rec_EndTextureMode(void) { Line("EndTextureMode").commit(); }
void rec_BeginShaderMode(Shader shader) { Line("BeginShaderMode").shader(shader).commit(); }
void rec_EndShaderMode(void) { Line("EndShaderMode").commit(); }
void rec_ClearBackground(Color color) { Line("ClearBackground").color(color).commit(); }

void rec_DrawTextureRec(Texture2D texture, Rectangle source, Vector2 position, Color tint) {
    Line("DrawTextureRec").texture(texture).rect(source).vec2(position).color(tint).commit();
}

void rec_DrawTexturePro(Texture2D texture, Rectangle source, Rectangle dest, Vector2 origin, float rotation,
                        Color tint) {
    Line line("DrawTexturePro");
    line.texture(texture).rect(source).rect(dest).vec2(origin).group().f(rotation);
    line.color(tint).commit();
}

int rec_GetShaderLocation(Shader shader, const char *uniformName) {
    Line line("GetShaderLocation");
    line.shader(shader).group();
    int result = g_default_location;
    if (uniformName == nullptr) {
        line.text += "null";
    } else {
        line.text += '"';
        line.text += uniformName;
        auto it = g_locations.find(uniformName);
        if (it != g_locations.end()) {
            result = it->second;
        }
    }
    line.commit();
    return result;
}

void rec_SetShaderValue(Shader shader, int locIndex, const void *value, int uniformType) {
    Line line("SetShaderValue");
    line.shader(shader).group().i(locIndex).group().i(uniformType);
    uniform_values(line, value, uniformType, 1);
    line.commit();
}

void rec_SetShaderValueV(Shader shader, int locIndex, const void *value, int uniformType, int count) {
    Line line("SetShaderValueV");
    line.shader(shader).group().i(locIndex).group().i(uniformType).group().i(count);
    uniform_values(line, value, uniformType, count);
    line.commit();
}

// Control interface for ctypes.

// Forgets all calls and restores the location defaults (-1, no names).
void rec_reset(void) {
    g_log.clear();
    g_default_location = -1;
    g_locations.clear();
}

int rec_count(void) { return static_cast<int>(g_log.size()); }

// Line i, or NULL when out of range; valid until the next recorded call.
const char *rec_get(int i) {
    if (i < 0 || static_cast<std::size_t>(i) >= g_log.size()) {
        return nullptr;
    }
    return g_log[static_cast<std::size_t>(i)].c_str();
}

// What GetShaderLocation returns for names without their own entry.
void rec_set_location(int result) { g_default_location = result; }

// What GetShaderLocation returns for this name.
void rec_map_location(const char *name, int result) { g_locations[name] = result; }

}  // extern "C"
