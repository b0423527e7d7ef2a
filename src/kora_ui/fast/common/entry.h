// The entries generated from declarations: the invoke step, the entry that
// calls go through, and the FuncDef the general parser and the function type
// read. The common case (arguments by position, or by keyword in declaration
// order) converts, tests and runs the routine inline; everything else takes
// the general parser in args.cpp.
#pragma once

#include "kora_ui/fast/common/arg_convert.h"

#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

namespace kora {

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
    static_assert(DeclarationRules<D>::kept);
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

}  // namespace kora
