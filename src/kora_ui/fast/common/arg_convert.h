// Argument conversions by the routine's C++ parameter type, and the rules a
// declaration must keep for them, checked at compile time.
#pragma once

#include "kora_ui/fast/common/convert.h"
#include "kora_ui/fast/common/declaration.h"

#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

namespace kora {

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

template <class T>
inline constexpr bool kIsCustom = ArgConvert<std::remove_cvref_t<T>>::kCustom;

// ---------------------------------------------------------------------------
// The rules of a declaration. A broken rule stops compilation with a message
// naming the rule; the instantiation note `ParamRule<declaration, I>` names
// the declaration and the parameter's index I (from 0, the instance of a
// method not counted).

template <const auto &D, std::size_t I>
struct ParamRule {
    using Decl = std::remove_cvref_t<decltype(D)>;
    using T = std::remove_cvref_t<std::tuple_element_t<Decl::first + I, typename Decl::Sig::Params>>;
    static constexpr const ParamDef &p = D.params[I];
    static constexpr bool object = std::is_same_v<T, PyObject *>;
    static constexpr bool record = std::is_pointer_v<T> && !object;
    static constexpr bool typed = p.check == Check::Exact || p.check == Check::Subtype || p.check == Check::Instance;

    static_assert(!p.truth || std::is_integral_v<T>,
                  "declaration rule broken: truth() needs an integer routine parameter");
    static_assert(!record || typed,
                  "declaration rule broken: an instance-record parameter needs exact(), subtype() or instance()");
    static_assert(object || record || (p.check == Check::Any && !p.default_none),
                  "declaration rule broken: a converted parameter takes no type test and no default");
    static_assert(I == 0 || p.default_none || !D.params[I > 0 ? I - 1 : 0].default_none,
                  "declaration rule broken: a required parameter follows an optional one");
    static constexpr int custom = kIsCustom<T> ? 1 : 0;
};

template <const auto &D>
struct DeclarationRules {
    using Decl = std::remove_cvref_t<decltype(D)>;
    static constexpr int customs = []<std::size_t... I>(std::index_sequence<I...>) {
        return (0 + ... + ParamRule<D, I>::custom);
    }
    (std::make_index_sequence<Decl::nparams>{});
    // One scratch value per call holds the converted argument.
    static_assert(customs <= 1, "declaration rule broken: more than one parameter with a custom conversion");
    static constexpr bool kept = true;
};

}  // namespace kora
