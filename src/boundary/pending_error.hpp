// A Python exception held by native code until the call wrapper raises it at
// the end of the call. Two shapes:
//   lazy: a class, a message and an optional cause; the exception object is
//         only made when the error is raised or inspected. Every error the
//         module creates itself starts this way.
//   made: an exception object fetched from the interpreter.
#pragma once

#include <Python.h>

#include <string>

#include "boundary/py_ref.hpp"
#include "common/result.hpp"

namespace tavro::py {

class PendingError {
  public:
    // `type` is a borrowed exception class (a built-in or the panic class).
    static PendingError lazy(PyObject* type, std::string message, OwnedRef cause = {});
    static PendingError made(OwnedRef exception);

    PendingError(PendingError&&) noexcept = default;
    PendingError& operator=(PendingError&&) noexcept = default;

    // The class of the exception (borrowed).
    PyObject* type() const noexcept;
    // str() of the exception, with the unprintable fallback.
    std::string text() const;
    // The exception's __cause__ (may be empty).
    OwnedRef cause() const;
    // The exception object itself, made now if the error is lazy.
    OwnedRef into_exception() &&;
    // Hands the error to the interpreter as its current exception.
    void raise() &&;

  private:
    PendingError() = default;

    OwnedRef type_;        // lazy
    std::string message_;  // lazy
    OwnedRef cause_;       // lazy, optional
    OwnedRef exception_;   // made
};

template <class T>
using PyResult = Expected<T, PendingError>;

// Takes the interpreter's current exception after an API call reported
// failure; "attempted to fetch exception but none was set" if there is none.
// A PanicException coming back from Python resumes the panic (throws Panic).
PendingError fetch_error();

// Shorthand for the common lazy errors.
PendingError type_error(std::string message, OwnedRef cause = {});

}  // namespace tavro::py
