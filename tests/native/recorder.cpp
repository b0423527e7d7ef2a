// Test double for the raylib functions the call layer uses, generated from the
// layer's entry list (KORA_RAYLIB_ENTRIES in kora_raylib.h): one stand-in per
// row, with raylib's exact signature (checked against raylib.h), that appends
// the call to a log as one text line that tests read back through ctypes. A
// new row needs nothing here unless it brings a parameter type without an
// `arg` overload below (the build then fails) or a result other than void or
// int.
//
// Line format: the name, then one group per parameter, in order, separated by
// '|'; within a group, values separated by spaces. Floats are printed with
// %.17g after promotion to double, which round-trips the float32 value
// exactly. A string (`const char *`) is printed verbatim after a '"' ("null"
// without the quote for a null pointer) and must be the last parameter. A
// data pointer (`const void *`, raylib's uniform value) is followed by its
// uniform type and optionally its element count (default 1); it gets no group
// of its own in place: the values raylib would read are printed as the last
// group instead.
//
// An int result is the value given to rec_map_location for the call's string
// argument, else the one given to it for NULL (-1 at first).

// The entry list; its header brings Python.h, which must come first.
#include "kora_ui/fast/raylib/kora_raylib.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

#include "raylib.h"

namespace {

std::vector<std::string> g_log;
int g_default_location = -1;
std::map<std::string, int> g_locations;

std::string text_of(float v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", static_cast<double>(v));
    return buf;
}
template <typename T>
std::string text_of(T v) {
    return std::to_string(v);
}

template <typename T>
T load(const void *data, long long k) {
    T v;
    std::memcpy(&v, static_cast<const char *>(data) + k * 4, sizeof v);
    return v;
}

// One call being logged: `arg` appends the group of one argument.
struct Call {
    std::string line;
    const char *text = nullptr;  // the string argument, if any
    const void *data = nullptr;  // the data pointer, if any
    bool has_data = false;
    std::vector<int> after_data;  // the int arguments after the data pointer

    explicit Call(const char *name) : line(name) {}

    // Appends values to the current group, separated by spaces.
    template <typename... T>
    void put(T... values) {
        ((line += line.back() == '|' ? "" : " ", line += text_of(values)), ...);
    }
    template <typename... T>
    void group(T... values) {
        line += '|';
        put(values...);
    }
    void put_texture(const Texture2D &t) { put(t.id, t.width, t.height, t.mipmaps, t.format); }

    void arg(int v) {
        group(v);
        if (has_data) after_data.push_back(v);
    }
    void arg(float v) { group(v); }
    void arg(const Texture2D &t) {
        group();
        put_texture(t);
    }
    void arg(const RenderTexture2D &t) {
        group(t.id);
        put_texture(t.texture);
        put_texture(t.depth);
    }
    void arg(const Rectangle &r) { group(r.x, r.y, r.width, r.height); }
    void arg(const Vector2 &v) { group(v.x, v.y); }
    void arg(const Color &c) { group(c.r, c.g, c.b, c.a); }
    void arg(const Shader &s) { group(s.id, reinterpret_cast<std::uintptr_t>(s.locs)); }
    void arg(const char *s) {
        text = s;
        line += s != nullptr ? std::string("|\"") + s : "|null";
    }
    void arg(const void *p) {
        data = p;
        has_data = true;
    }

    // The uniform components raylib would read for the data pointer: floats
    // for FLOAT..VEC4, ints for INT..IVEC4 and SAMPLER2D, unsigned ints for
    // UINT..UIVEC4, nothing for an unknown type or a non-positive count; a
    // null pointer is logged as "null" without being read.
    void uniform_values(int type, int count) {
        auto span = [type](int first, int last) { return type >= first && type <= last ? type - first + 1 : 0; };
        int floats = span(SHADER_UNIFORM_FLOAT, SHADER_UNIFORM_VEC4);
        int uints = span(SHADER_UNIFORM_UINT, SHADER_UNIFORM_UIVEC4);
        int components = floats + uints + span(SHADER_UNIFORM_INT, SHADER_UNIFORM_IVEC4) +
                         span(SHADER_UNIFORM_SAMPLER2D, SHADER_UNIFORM_SAMPLER2D);
        long long total = static_cast<long long>(components) * count;
        group();
        if (data == nullptr && total > 0) line += "null";
        for (long long k = 0; data != nullptr && k < total; ++k) {
            if (floats > 0) {
                put(load<float>(data, k));
            } else if (uints > 0) {
                put(load<unsigned>(data, k));
            } else {
                put(load<int>(data, k));
            }
        }
    }
};

// Whether no parameter but the last is a string.
template <typename... A>
constexpr bool string_last() {
    constexpr bool is_string[] = {std::is_same_v<A, const char *>..., false};
    for (std::size_t k = 0; k + 1 < sizeof...(A); ++k) {
        if (is_string[k]) return false;
    }
    return true;
}

template <const char *Name, typename F>
struct Recorded;

template <const char *Name, typename R, typename... A>
struct Recorded<Name, R (*)(A...)> {
    static_assert(string_last<A...>(), "a string parameter must be the last one");
    static R call(A... args) {
        Call log(Name);
        (log.arg(args), ...);
        if (log.has_data) log.uniform_values(log.after_data.at(0), log.after_data.size() > 1 ? log.after_data[1] : 1);
        g_log.push_back(std::move(log.line));
        if constexpr (std::is_same_v<R, int>) {
            auto it = log.text != nullptr ? g_locations.find(log.text) : g_locations.end();
            return it != g_locations.end() ? it->second : g_default_location;
        } else {
            static_assert(std::is_void_v<R>, "the recorder returns only void and int results");
        }
    }
};

}  // namespace

// One stand-in per row, checked against raylib's own declaration; ctypes reads
// its address from rec_<name>.
#define KORA_RECORDER_ENTRY(name, result, params)                                                                      \
    static_assert(std::is_same_v<decltype(&::name), result(*) params>, #name ": the entry row differs from raylib.h"); \
    constexpr char name##_name[] = #name;                                                                              \
    extern "C" result(*const rec_##name) params = &Recorded<name##_name, result(*) params>::call;

KORA_RAYLIB_ENTRIES(KORA_RECORDER_ENTRY)
#undef KORA_RECORDER_ENTRY

// Control interface for ctypes.
extern "C" {

// Forgets all calls and restores the location defaults (-1, no names).
void rec_reset(void) {
    g_log.clear();
    g_default_location = -1;
    g_locations.clear();
}

int rec_count(void) { return static_cast<int>(g_log.size()); }

// Line i, or NULL when out of range; valid until the next recorded call.
const char *rec_get(int i) { return i >= 0 && i < rec_count() ? g_log[static_cast<std::size_t>(i)].c_str() : nullptr; }

// What an int result is for this string argument (NULL: for string arguments
// without their own result).
void rec_map_location(const char *name, int result) { (name ? g_locations[name] : g_default_location) = result; }

}  // extern "C"
