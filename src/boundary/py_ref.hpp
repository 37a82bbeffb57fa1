// References to Python objects.
//
// Rules of use, stated once for the whole module:
//   * Every NEW reference the native code obtains (a result of PyUnicode_...,
//     PyDict_New, PyErr_GetRaisedException, ...) is put into an OwnedRef at
//     once. OwnedRef releases it when it goes out of scope, on every path, so
//     no early return or exception can leak or double-release it.
//   * An OwnedRef is move-only. Handing a reference to an API that steals it,
//     or returning it to the interpreter, goes through release().
//   * A BORROWED reference (an argument, an item read from a dict) is a plain
//     `PyObject*`; it is never released by the native code and must not
//     outlive the object that lends it.
// OwnedRef needs the interpreter lock held for every operation.
#pragma once

#include <Python.h>

#include <utility>

namespace tavro::py {

class OwnedRef {
  public:
    OwnedRef() noexcept = default;

    // Takes over a new reference (which may be null).
    static OwnedRef steal(PyObject* object) noexcept { return OwnedRef(object); }
    // Takes a new reference to a borrowed object.
    static OwnedRef borrow(PyObject* object) noexcept {
        Py_XINCREF(object);
        return OwnedRef(object);
    }

    OwnedRef(OwnedRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    OwnedRef& operator=(OwnedRef&& other) noexcept {
        if (this != &other) {
            reset();
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }
    OwnedRef(const OwnedRef&) = delete;
    OwnedRef& operator=(const OwnedRef&) = delete;
    ~OwnedRef() { reset(); }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

    // Gives up ownership: the caller now owns the reference.
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }

    void reset() noexcept { Py_CLEAR(object_); }

  private:
    explicit OwnedRef(PyObject* object) noexcept : object_(object) {}

    PyObject* object_ = nullptr;
};

}  // namespace tavro::py
