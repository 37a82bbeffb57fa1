// Panics: failures of the native code itself (a broken invariant, the
// interpreter unable to create an object). A panic is a C++ exception of type
// Panic; the call wrapper turns it (or any other C++ exception escaping a
// body) into the Python exception PanicException.
#pragma once

#include <Python.h>

#include <source_location>
#include <string>

#include "boundary/py_ref.hpp"

namespace tavro::py {

struct Panic {
    std::string message;
};

// Writes a report (message and source location) to standard error and throws
// Panic with the message.
[[noreturn]] void panic(std::string message,
                        std::source_location where = std::source_location::current());

// For interpreter calls that create an object: a null result prints the
// pending exception and panics with "Python API call failed".
OwnedRef created(PyObject* new_object,
                 std::source_location where = std::source_location::current());

// The class "pyo3_runtime.PanicException" (derived from BaseException),
// created once per process on first use. Borrowed; lives until exit.
PyObject* panic_exception_type();

}  // namespace tavro::py
