// Function declarations for the shared function type. A function is declared
// once, with its name, its parameters' names and checks, and its routine:
//
//     constexpr auto d_draw = function<draw>(kModule, "draw", arg("texture"), truth("flip"));
//
// The conversion of each parameter follows from the routine's C++ parameter
// type (see ArgConvert), so a declaration that does not fit its routine does
// not compile. The declaration is constant data; the interned parameter names
// are filled when the function object is made (see FunctionTraits::names).
//
// Calls go through the declaration's own entry: the common case (arguments
// by position, or by keyword in declaration order) converts, tests and runs
// the routine inline; everything else takes the general parser in args.cpp.
#pragma once

#include "kora_ui/fast/common/convert.h"
#include "kora_ui/fast/common/names.h"
#include "kora_ui/fast/common/pyref.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <tuple>
#include <type_traits>
#include <utility>

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
// Conversions by C++ type. A module adds its own by specialising ArgConvert
// with `static constexpr bool kCustom = true` and
// `static bool convert(PyObject *o, T &out)` (false with an exception set).

template <class T>
concept ObjectLayout = requires(T *p) {
    p->ob_base;
}
&&!std::is_same_v<T, PyObject>;

template <class T>
struct ArgConvert;

template <>
struct ArgConvert<PyObject *> {
    static constexpr bool kCustom = false;
    static bool convert(PyObject *o, PyObject *&out) {
        out = o;
        return true;
    }
};

// A pointer to an instance record: the object itself, after the type test
// the declaration must give it.
template <ObjectLayout T>
struct ArgConvert<T *> {
    static constexpr bool kCustom = false;
    static bool convert(PyObject *o, T *&out) {
        out = reinterpret_cast<T *>(o);
        return true;
    }
};

template <>
struct ArgConvert<int> {
    static constexpr bool kCustom = false;
    static bool convert(PyObject *o, int &out) { return to_int(o, &out) == 0; }
};

template <>
struct ArgConvert<long> {
    static constexpr bool kCustom = false;
    static bool convert(PyObject *o, long &out) { return to_long(o, &out) == 0; }
};

template <>
struct ArgConvert<float> {
    static constexpr bool kCustom = false;
    static bool convert(PyObject *o, float &out) {
        double d = to_double(o);
        if (d == -1.0 && PyErr_Occurred()) return false;
        out = narrow(d);
        return true;
    }
};

template <class T>
bool convert_truth(PyObject *o, T &out) {
    int b = to_bool(o);
    if (b < 0) return false;
    out = static_cast<T>(b != 0);
    return true;
}

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

template <class T>
inline constexpr bool kIsCustom = ArgConvert<std::remove_cvref_t<T>>::kCustom;

// Whether a parameter of C++ type T fits its declared checks.
template <class T>
constexpr const char *param_mismatch(const ParamDef &p) {
    using U = std::remove_cvref_t<T>;
    if constexpr (std::is_same_v<U, PyObject *>) {
        return p.truth ? "truth() needs an integer routine parameter" : nullptr;
    } else if constexpr (std::is_pointer_v<U>) {
        if (p.check != Check::Exact && p.check != Check::Subtype && p.check != Check::Instance)
            return "an instance-record parameter needs exact(), subtype() or instance()";
        return nullptr;
    } else {
        if (p.check != Check::Any || p.default_none) return "a converted parameter takes no type test and no default";
        if (p.truth && !std::is_integral_v<U>) return "truth() needs an integer routine parameter";
        return nullptr;
    }
}

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
    static_assert(n <= kMaxParams, "too many parameters");
    static_assert(Sig::arity == D::first + n + (dispatch ? 1 : 0),
                  "the routine's parameter count does not match the declaration");
    if constexpr (dispatch) {
        static_assert(std::is_same_v<std::tuple_element_t<Sig::arity - 1, typename Sig::Params>, int>,
                      "the dispatch flag is the routine's last parameter, an int");
    }
    constexpr int customs = []<std::size_t... I>(std::index_sequence<I...>) {
        return (0 + ... + (kIsCustom<std::tuple_element_t<D::first + I, typename Sig::Params>> ? 1 : 0));
    }
    (std::make_index_sequence<n>{});
    // One scratch value per call holds the converted argument.
    static_assert(customs <= 1, "more than one parameter with a custom conversion");

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
        if constexpr (std::is_same_v<T, ParamDef>) d.params[i++] = item;
        if constexpr (std::is_same_v<T, FastEntry>) {
            d.fast = item.entry;
            d.has_fast = true;
        }
        if constexpr (std::is_same_v<T, TracebackFile>) d.tb_file = item.file;
    };
    (take(items), ...);
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        const char *problems[] = {
            param_mismatch<std::tuple_element_t<D::first + I, typename Sig::Params>>(d.params[I])..., nullptr};
        for (const char *p : problems)
            if (p) throw p;
    }
    (std::make_index_sequence<n>{});
    bool optional_seen = false;
    for (int k = 0; k < n; ++k) {
        if (d.params[k].default_none) {
            optional_seen = true;
        } else {
            if (optional_seen) throw "a required parameter follows an optional one";
            ++d.nrequired;
        }
    }
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

// ---------------------------------------------------------------------------
// The general entry and the shared helpers of the generated ones.

// The general entry of function objects: counts, matches, converts and tests
// the arguments, runs the routine and adds the traceback entry on failure.
PyObject *function_vectorcall(PyObject *callable, PyObject *const *args, std::size_t nargsf, PyObject *kwnames);

// Adds the traceback entry of the function `def` at its declaration line.
void add_function_traceback(const FuncDef *def);

// Raises the TypeError of a failed type test of `p`.
[[gnu::cold]] void raise_check_failure(const ParamDef &p, PyObject *o);

// The type test of `p` (None is refused for Instance later, by refuses_none).
inline bool passes_check(const ParamDef &p, PyObject *o) {
    switch (p.check) {
        case Check::Any:
            return true;
        case Check::NotNone:
            return o != Py_None;
        case Check::Exact:
            return o == Py_None || Py_IS_TYPE(o, *p.type);
        case Check::Subtype:
        case Check::Instance:
            return o == Py_None || PyObject_TypeCheck(o, *p.type);
    }
    return true;
}

inline bool refuses_none(const ParamDef &p, PyObject *o) { return p.check == Check::Instance && o == Py_None; }

// True when `nargs` positional arguments and the keywords `kwnames` (or null)
// fill all `n` parameters in declaration order, the keywords by the interned
// `names` (what a call site written with keywords passes).
inline bool args_in_declaration_order(PyObject *const *names, int n, Py_ssize_t nargs, PyObject *kwnames) {
    if (!kwnames) return nargs == n;
    Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    if (nargs + nkw != n) return false;
    for (Py_ssize_t k = 0; k < nkw; ++k)
        if (PyTuple_GET_ITEM(kwnames, k) != names[nargs + k]) return false;
    return true;
}

// The result of a void routine, which reports failure by a pending exception.
inline PyObject *none_or_null() {
    if (PyErr_Occurred()) return nullptr;
    Py_RETURN_NONE;
}

// ---------------------------------------------------------------------------
// What a declaration generates: its invoke step, its entry and its FuncDef.

template <const auto &D>
struct FunctionTraits {
    using Decl = std::remove_cvref_t<decltype(D)>;
    using Sig = typename Decl::Sig;
    static constexpr int n = Decl::nparams;
    template <std::size_t I>
    using Param = std::remove_cvref_t<std::tuple_element_t<Decl::first + I, typename Sig::Params>>;

    static inline PyObject *names[kMaxParams] = {};

    template <std::size_t I>
    static bool convert(PyObject *o, Param<I> &out) {
        if constexpr (D.params[I].truth)
            return convert_truth(o, out);
        else
            return ArgConvert<Param<I>>::convert(o, out);
    }

    template <std::size_t I>
    static bool check(PyObject *o) {
        if (passes_check(D.params[I], o)) [[likely]]
            return true;
        raise_check_failure(D.params[I], o);
        return false;
    }

    template <std::size_t I>
    static bool accept_none(PyObject *o) {
        if (!refuses_none(D.params[I], o)) [[likely]]
            return true;
        PyErr_Format(PyExc_TypeError, "Argument '%.200s' must not be None", D.params[I].name);
        return false;
    }

    template <class... V>
    static PyObject *run(PyObject *self, V &&...values) {
        using R = typename Sig::Result;
        auto call = [&]() -> decltype(auto) {
            if constexpr (Decl::method) {
                using Self = std::tuple_element_t<0, typename Sig::Params>;
                if constexpr (Decl::dispatch)
                    return Decl::routine(reinterpret_cast<Self>(self), std::forward<V>(values)..., 1);
                else
                    return Decl::routine(reinterpret_cast<Self>(self), std::forward<V>(values)...);
            } else if constexpr (Decl::dispatch) {
                return Decl::routine(std::forward<V>(values)..., 1);
            } else {
                return Decl::routine(std::forward<V>(values)...);
            }
        };
        if constexpr (std::is_void_v<R>) {
            call();
            return none_or_null();
        } else if constexpr (std::is_same_v<R, int>) {
            int r = call();
            if (r == -1 && PyErr_Occurred()) return nullptr;
            return PyLong_FromLong(r);
        } else {
            return reinterpret_cast<PyObject *>(call());
        }
    }

    template <std::size_t... I>
    static PyObject *invoke_with(PyObject *self, PyObject *const *args, std::index_sequence<I...>) {
        std::tuple<Param<I>...> values;
        if (!(convert<I>(args[I], std::get<I>(values)) && ...)) return nullptr;
        if (!(check<I>(args[I]) && ...)) return nullptr;
        if (!(accept_none<I>(args[I]) && ...)) return nullptr;
        return run(self, std::move(std::get<I>(values))...);
    }

    static PyObject *invoke(PyObject *self, PyObject *const *args) {
        return invoke_with(self, args, std::make_index_sequence<n>{});
    }

    static PyObject *entry(PyObject *callable, PyObject *const *args, std::size_t nargsf, PyObject *kwnames);

    static constexpr FuncDef def = {
        D.name,
        D.qualname,
        D.fullname,
        D.params,
        n,
        D.nrequired,
        !Decl::method && n == 0,
        D.line,
        D.self_type,
        D.tb_file,
        &invoke,
        D.has_fast ? D.fast : &entry,
        names,
    };
};

template <const auto &D>
PyObject *FunctionTraits<D>::entry(PyObject *callable, PyObject *const *args, std::size_t nargsf, PyObject *kwnames) {
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    PyObject *self = nullptr;
    if constexpr (Decl::method) {
        if (nargs < 1 || !PyObject_TypeCheck(args[0], *D.self_type)) [[unlikely]]
            return function_vectorcall(callable, args, nargsf, kwnames);
        self = args[0];
        ++args;
        --nargs;
    }
    if (!args_in_declaration_order(names, n, nargs, kwnames)) [[unlikely]]
        return function_vectorcall(callable, Decl::method ? args - 1 : args, nargsf, kwnames);
    PyObject *r = invoke(self, args);
    if (!r) [[unlikely]]
        add_function_traceback(&def);
    return r;
}

// The FuncDef of the declaration `D`.
template <const auto &D>
inline constexpr const FuncDef *def_of = &FunctionTraits<D>::def;

// A module attribute stored among the functions, at its place in the
// registration table: `store` puts it into the module dict (0 or -1).
struct Attribute {
    int (*store)(PyObject *dict);
};

// One item of a registration table: a function, or an attribute.
struct RegistrationItem {
    const FuncDef *def;
    int (*store)(PyObject *dict);
};

template <const auto &D>
consteval RegistrationItem registration_item() {
    if constexpr (std::is_same_v<std::remove_cvref_t<decltype(D)>, Attribute>)
        return {nullptr, D.store};
    else
        return {def_of<D>, nullptr};
}

// The registration table of a module or class: its declarations (and
// attributes), in the order they are stored.
template <const auto &...D>
inline constexpr RegistrationItem kRegistration[] = {registration_item<D>()...};

// ---------------------------------------------------------------------------
// Function objects

// Interns the parameter names of `def` (once); -1 on failure.
int intern_names(const FuncDef *def);

// Makes the function object for `def` (new reference).
PyObject *make_function(const FuncDef *def);

// Makes the function object for `def` and stores it in `dict` under its bare
// name. For methods `dict` is the type's dict and the type is marked modified.
int add_function(PyObject *dict, const FuncDef *def, PyTypeObject *owner = nullptr);

// Adds the functions and attributes of a registration table, in order.
int add_functions(PyObject *dict, std::span<const RegistrationItem> table, PyTypeObject *owner = nullptr);

// Parses an argument tuple and keyword dict (tp_init and similar slots)
// against `def` and runs its routine; the result of the routine, or null
// with the function's traceback entry.
PyObject *call_with_tuple(const FuncDef *def, PyObject *self, PyObject *args, PyObject *kwargs);

// Builtin types for exact checks (addresses of the interpreter's own types).
inline constexpr PyTypeObject *g_tuple_type = &PyTuple_Type;
inline constexpr PyTypeObject *g_dict_type = &PyDict_Type;
inline constexpr PyTypeObject *g_str_type = &PyUnicode_Type;

}  // namespace kora
