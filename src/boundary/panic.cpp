#include "boundary/panic.hpp"

#include <cstdio>
#include <cstdlib>

namespace tavro::py {

namespace {

constexpr const char* kPanicExceptionDoc =
    "\n"
    "The exception raised when native code called from Python panics.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

// Filled once under the interpreter lock and never released.
PyObject* g_panic_exception_type = nullptr;

}  // namespace

void panic(std::string message, std::source_location where) {
    std::fprintf(stderr, "tavro_api panicked at %s:%u: %s\n", where.file_name(),
                 static_cast<unsigned>(where.line()), message.c_str());
    throw Panic{std::move(message)};
}

OwnedRef created(PyObject* new_object, std::source_location where) {
    if (new_object == nullptr) {
        if (PyErr_Occurred() != nullptr) {
            PyErr_Print();
        }
        panic("Python API call failed", where);
    }
    return OwnedRef::steal(new_object);
}

PyObject* panic_exception_type() {
    if (g_panic_exception_type == nullptr) {
        PyObject* type = PyErr_NewExceptionWithDoc(
            "pyo3_runtime.PanicException", kPanicExceptionDoc, PyExc_BaseException, nullptr);
        if (type == nullptr) {
            PyErr_Print();
            panic("Failed to initialize new exception type.");
        }
        if (g_panic_exception_type == nullptr) {
            g_panic_exception_type = type;
        } else {
            Py_DECREF(type);
        }
    }
    return g_panic_exception_type;
}

}  // namespace tavro::py
