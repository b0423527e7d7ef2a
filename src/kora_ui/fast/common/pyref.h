// Owned reference to a Python object. Borrowed references stay plain
// `PyObject *`; anything this module owns goes through `Ref`, so leaks and
// double releases are structurally hard to write.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace kora {

class Ref {
  public:
    Ref() noexcept = default;
    Ref(const Ref &) = delete;
    Ref &operator=(const Ref &) = delete;
    Ref(Ref &&other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Ref &operator=(Ref &&other) noexcept {
        if (this != &other) {
            PyObject *old = std::exchange(p_, std::exchange(other.p_, nullptr));
            Py_XDECREF(old);
        }
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    // Takes over a new reference (may be null, meaning failure).
    static Ref steal(PyObject *p) noexcept { return Ref(p); }
    // Makes an owned reference from a borrowed one.
    static Ref borrow(PyObject *p) noexcept {
        Py_XINCREF(p);
        return Ref(p);
    }

    PyObject *get() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    // Hands the reference to the caller.
    [[nodiscard]] PyObject *release() noexcept { return std::exchange(p_, nullptr); }
    void reset(PyObject *p = nullptr) noexcept {
        PyObject *old = std::exchange(p_, p);
        Py_XDECREF(old);
    }

  private:
    explicit Ref(PyObject *p) noexcept : p_(p) {}
    PyObject *p_ = nullptr;
};

}  // namespace kora
