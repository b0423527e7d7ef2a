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
// argument, else the one given to rec_set_location (-1 at first).

// The entry list; its header brings Python.h, which must come first.
#include "kora_ui/fast/raylib/kora_raylib.h"

#include <cstdarg>
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
    Line &texture(const Texture2D &t) { return u(t.id).i(t.width).i(t.height).i(t.mipmaps).i(t.format); }
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

// One call being logged: `arg` formats one argument by its type.
struct Call {
    Line line;
    const char *text = nullptr;  // the string argument, if any
    const void *data = nullptr;  // the data pointer, if any
    int ints_after_data = -1;    // -1 before a data pointer
    int uniform_type = 0;
    int count = 1;

    explicit Call(const char *name) : line(name) {}

    void arg(int v) {
        line.group().i(v);
        if (ints_after_data == 0) {
            uniform_type = v;
        } else if (ints_after_data == 1) {
            count = v;
        }
        if (ints_after_data >= 0) {
            ++ints_after_data;
        }
    }
    void arg(float v) { line.group().f(v); }
    void arg(const Texture2D &t) { line.group().texture(t); }
    void arg(const RenderTexture2D &t) { line.group().u(t.id).texture(t.texture).texture(t.depth); }
    void arg(const Rectangle &r) { line.group().f(r.x).f(r.y).f(r.width).f(r.height); }
    void arg(const Vector2 &v) { line.group().f(v.x).f(v.y); }
    void arg(const Color &c) { line.group().u(c.r).u(c.g).u(c.b).u(c.a); }
    void arg(const Shader &s) { line.group().u(s.id).u(reinterpret_cast<std::uintptr_t>(s.locs)); }
    void arg(const char *s) {
        text = s;
        line.group();
        if (s == nullptr) {
            line.text += "null";
        } else {
            line.text += '"';
            line.text += s;
        }
    }
    void arg(const void *p) {
        data = p;
        ints_after_data = 0;
    }

    void commit() {
        if (ints_after_data >= 0) {
            uniform_values(line, data, uniform_type, count);
        }
        g_log.push_back(std::move(line.text));
    }
};

// Whether no parameter but the last is a string.
template <typename... A>
constexpr bool string_last() {
    constexpr bool is_string[] = {std::is_same_v<A, const char *>..., false};
    for (std::size_t k = 0; k + 1 < sizeof...(A); ++k) {
        if (is_string[k]) {
            return false;
        }
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
        const char *text = log.text;
        log.commit();
        if constexpr (std::is_same_v<R, int>) {
            auto it = text != nullptr ? g_locations.find(text) : g_locations.end();
            return it != g_locations.end() ? it->second : g_default_location;
        } else {
            static_assert(std::is_void_v<R>, "the recorder returns only void and int results");
        }
    }
};

// One stand-in per row, checked against raylib's own declaration.
#define KORA_RECORDER_ENTRY(name, result, params)                                                                      \
    static_assert(std::is_same_v<decltype(&::name), result(*) params>, #name ": the entry row differs from raylib.h"); \
    constexpr char name##_name[] = #name;

KORA_RAYLIB_ENTRIES(KORA_RECORDER_ENTRY)
#undef KORA_RECORDER_ENTRY

struct Entry {
    const char *name;
    std::uintptr_t address;
};

#define KORA_RECORDER_ROW(name, result, params) \
    {name##_name, reinterpret_cast<std::uintptr_t>(&Recorded<name##_name, result(*) params>::call)},
const Entry kEntries[] = {KORA_RAYLIB_ENTRIES(KORA_RECORDER_ROW)};
#undef KORA_RECORDER_ROW

}  // namespace

extern "C" {

// Control interface for ctypes.

// The name of row i of the entry list and the address of its stand-in, or
// NULL past the end.
const char *rec_entry(int i, std::uintptr_t *address) {
    if (i < 0 || static_cast<std::size_t>(i) >= std::size(kEntries)) {
        return nullptr;
    }
    *address = kEntries[i].address;
    return kEntries[i].name;
}

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

// What an int result is for string arguments without their own entry.
void rec_set_location(int result) { g_default_location = result; }

// What an int result is for this string argument.
void rec_map_location(const char *name, int result) { g_locations[name] = result; }

}  // extern "C"
