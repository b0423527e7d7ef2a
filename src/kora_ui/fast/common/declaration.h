// The declaration syntax of the shared function type. A function is declared
// once, with its name, its parameters' names and checks, and its routine:
//
//     constexpr auto d_draw = function<draw>(kModule, "draw", arg("texture"), truth("flip"));
//
// The declaration is constant data. The conversion of each parameter follows
// from the routine's C++ parameter type (arg_convert.h), and the rules a
// declaration must keep are checked when its entry is generated (entry.h).
#pragma once

#include "kora_ui/fast/common/names.h"
#include "kora_ui/fast/common/pyref.h"

#include <cstddef>
#include <cstdint>
#include <tuple>
#include <type_traits>

namespace kora {

inline constexpr int kMaxParams = 8;

// The type test made on a parameter after all conversions.
enum class Check : std::uint8_t {
    Any,       // no test
    Exact,     // exactly `*type`, or None
    Subtype,   // an instance of `*type` or of a subclass, or None
    Instance,  // as Subtype, but None is refused after all the other tests
    NotNone,   // anything but None
};

struct ParamDef {
    const char *name;
    Check check = Check::Any;
    PyTypeObject *const *type = nullptr;  // for the type tests: where the type lives
    bool default_none = false;            // an optional parameter whose default is None
    bool truth = false;                   // an integer taken as the object's truth value
};

constexpr ParamDef arg(const char *n) { return {n}; }
constexpr ParamDef not_none(const char *n) { return {n, Check::NotNone}; }
constexpr ParamDef exact(const char *n, PyTypeObject *const *t) { return {n, Check::Exact, t}; }
constexpr ParamDef subtype(const char *n, PyTypeObject *const *t) { return {n, Check::Subtype, t}; }
constexpr ParamDef instance(const char *n, PyTypeObject *const *t) { return {n, Check::Instance, t}; }
constexpr ParamDef optional(const char *n) { return {n, Check::Any, nullptr, true}; }
constexpr ParamDef truth(const char *n) { return {n, Check::Any, nullptr, false, true}; }

// Options of a declaration, given after the parameters.
struct DispatchFlag {};  // the routine ends with `int skip_dispatch`, passed 1
inline constexpr DispatchFlag dispatch_flag{};
struct FastEntry {         // the module's own entry, used instead of the declaration's;
    vectorcallfunc entry;  // it hands what it does not handle to function_vectorcall
};
struct TracebackFile {  // file of the function's traceback entries (default: the module's)
    const char *file;
};
struct Owner {  // methods: the class name and where its type lives
    const char *class_name;
    PyTypeObject **type;
};

// Converts (in parameter order), tests and runs: `args` holds one object per
// parameter; `self` is the instance for methods. New reference or null.
using Invoke = PyObject *(*)(PyObject *self, PyObject *const *args);

// What the general parser and the function type read about a function.
struct FuncDef {
    const char *name;      // bare name, used in argument messages
    const char *qualname;  // "name" or "Class.name"
    const char *fullname;  // module's dotted name + "." + qualname
    const ParamDef *params;
    int nparams;
    int nrequired;
    bool noargs;               // a module function without parameters: refuses arguments like a builtin
    int line;                  // source line of the declaration
    PyTypeObject **self_type;  // methods: the instance's type
    const char *tb_file;       // file of its traceback entries; null: the module's
    Invoke invoke;
    vectorcallfunc vectorcall;  // the entry installed in the function object
    PyObject **names;           // the interned parameter names, filled at load
};

// ---------------------------------------------------------------------------
// The routine's signature.

template <class F>
struct Signature;

template <class R, class... A>
struct Signature<R (*)(A...)> {
    using Result = R;
    using Params = std::tuple<A...>;
    static constexpr std::size_t arity = sizeof...(A);
};

// The constant part of a declaration. `Routine` is the routine's address;
// methods take the instance first; `Dispatch` adds the trailing flag.
template <auto Routine, int N, bool Method, bool Dispatch>
struct Declaration {
    using Sig = Signature<decltype(Routine)>;
    static constexpr auto routine = Routine;
    static constexpr int nparams = N;
    static constexpr bool method = Method;
    static constexpr bool dispatch = Dispatch;
    static constexpr std::size_t first = Method ? 1 : 0;  // routine index of parameter 0

    Name name;
    Name qualname;
    Name fullname;
    ParamDef params[N > 0 ? N : 1];
    int nrequired = 0;
    int line = 0;
    PyTypeObject **self_type = nullptr;
    const char *tb_file = nullptr;
    vectorcallfunc fast = nullptr;
    bool has_fast = false;  // tested instead of `fast`: sanitizer builds do not fold function-pointer tests
};

// A declared name with the source line of the declaration.
struct DeclName {
    const char *text;
    int line;
    consteval DeclName(const char *t, int l = __builtin_LINE()) : text(t), line(l) {}
};

namespace detail {

template <auto Routine, bool Method, class... Items>
consteval auto declare(const ModuleIdentity &module, Owner owner, DeclName name, Items... items) {
    constexpr int n = (0 + ... + (std::is_same_v<Items, ParamDef> ? 1 : 0));
    constexpr bool dispatch = (false || ... || std::is_same_v<Items, DispatchFlag>);
    using D = Declaration<Routine, n, Method, dispatch>;
    using Sig = typename D::Sig;
    static_assert(n <= kMaxParams, "declaration rule broken: too many parameters");
    static_assert(Sig::arity == D::first + n + (dispatch ? 1 : 0),
                  "declaration rule broken: the routine's parameter count does not match the declaration");
    if constexpr (dispatch) {
        static_assert(std::is_same_v<std::tuple_element_t<Sig::arity - 1, typename Sig::Params>, int>,
                      "declaration rule broken: the dispatch flag is the routine's last parameter, an int");
    }
    D d{};
    d.name.append(name.text);
    if (Method) d.qualname.append(owner.class_name).append(".");
    d.qualname.append(name.text);
    d.fullname = dotted_name(module, d.qualname);
    d.line = name.line;
    d.self_type = owner.type;
    int i = 0;
    [[maybe_unused]] auto take = [&](auto item) {
        using T = decltype(item);
        if constexpr (std::is_same_v<T, ParamDef>) {
            d.params[i++] = item;
            if (!item.default_none) ++d.nrequired;
        }
        if constexpr (std::is_same_v<T, FastEntry>) {
            d.fast = item.entry;
            d.has_fast = true;
        }
        if constexpr (std::is_same_v<T, TracebackFile>) d.tb_file = item.file;
    };
    (take(items), ...);
    return d;
}

}  // namespace detail

// A module function.
template <auto Routine, class... Items>
consteval auto function(const ModuleIdentity &module, DeclName name, Items... items) {
    return detail::declare<Routine, false>(module, Owner{nullptr, nullptr}, name, items...);
}

// A method of the class `owner`; the routine takes the instance first.
template <auto Routine, class... Items>
consteval auto method(const ModuleIdentity &module, Owner owner, DeclName name, Items... items) {
    return detail::declare<Routine, true>(module, owner, name, items...);
}

}  // namespace kora
