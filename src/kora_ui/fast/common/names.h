// Names built at compile time: a module's identity from its dotted name, and
// the dotted names of its routines (module name + "." + qualified name).
#pragma once

#include <cstddef>

namespace kora {

// A string literal usable as a template argument.
template <std::size_t N>
struct Literal {
    char text[N];
    consteval Literal(const char (&s)[N]) {
        for (std::size_t i = 0; i < N; ++i) text[i] = s[i];
    }
};

// A fixed-capacity string filled in constant evaluation.
template <std::size_t Cap>
struct Text {
    char data[Cap] = {};
    std::size_t size = 0;

    consteval Text &append(const char *s, char from = 0, char to = 0) {
        for (; *s; ++s) {
            if (size + 1 >= Cap) throw "name longer than its buffer";
            data[size++] = (from && *s == from) ? to : *s;
        }
        return *this;
    }
    constexpr operator const char *() const { return data; }
};

using Name = Text<128>;

consteval const char *after_last_dot(const char *s) {
    const char *last = s;
    for (; *s; ++s)
        if (*s == '.') last = s + 1;
    return last;
}

// Module identity, all derived from the dotted module name.
struct ModuleIdentity {
    Name full_name;   // dotted name used in messages and tracebacks
    Name short_name;  // name in the module definition
    Name tb_file;     // file name of traceback entries: src/<dotted name as a path>
    Name init_name;   // "init <full_name>"

    consteval explicit ModuleIdentity(const char *dotted) {
        full_name.append(dotted);
        short_name.append(after_last_dot(dotted));
        tb_file.append("src/").append(dotted, '.', '/');
        init_name.append("init ").append(dotted);
    }
};

consteval Name dotted_name(const ModuleIdentity &m, const char *qualname) {
    Name n;
    n.append(m.full_name).append(".").append(qualname);
    return n;
}

// The dotted name of `Qualname` in module `M`, for traceback entries.
template <const ModuleIdentity &M, Literal Qualname>
inline constexpr Name kDotted = dotted_name(M, Qualname.text);

}  // namespace kora

// Declares, in a module's namespace, its identity `kModule` and
// `dotted<"qualname">`, the dotted names of its routines for their traceback
// entries.
#define KORA_MODULE_IDENTITY(dotted_module_name)                         \
    inline constexpr ::kora::ModuleIdentity kModule{dotted_module_name}; \
    template <::kora::Literal Qualname>                                  \
    inline constexpr const char *dotted = ::kora::kDotted<kModule, Qualname>.data
