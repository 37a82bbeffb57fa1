// _tavro_panic: a test-only extension module that drives the failure paths of
// the call boundary on purpose. It links the same boundary library as
// tavro_api and is never installed.
#include <Python.h>

#include <stdexcept>
#include <string>

#include "boundary/call_wrapper.hpp"
#include "boundary/panic.hpp"
#include "boundary/pending_error.hpp"
#include "boundary/py_ref.hpp"

namespace {

namespace py = tavro::py;

// The ways a body can fail, named as the tests name them; kind "none" succeeds.
py::PyResult<py::OwnedRef> fail_as(const std::string& kind, const std::string& message) {
    if (kind == "panic") {
        py::panic(message);
    }
    if (kind == "throw") {
        throw std::runtime_error(message);
    }
    if (kind == "error") {
        return py::type_error(message);
    }
    if (kind == "create") {  // an object-creating call returns null, MemoryError pending
        PyErr_SetString(PyExc_MemoryError, message.c_str());
        return py::created(nullptr);
    }
    return py::OwnedRef::borrow(Py_None);
}

// The body of fail(kind, message): fails in the way `kind` says, with
// `message` given as bytes (which need not be UTF-8).
py::PyResult<py::OwnedRef> fail_with(PyObject* args) {
    const char* kind = nullptr;
    PyObject* message = nullptr;
    if (!PyArg_ParseTuple(args, "sS", &kind, &message)) {
        return py::fetch_error();
    }
    return fail_as(kind, std::string(PyBytes_AS_STRING(message),
                                     static_cast<std::size_t>(PyBytes_GET_SIZE(message))));
}

PyObject* fail(PyObject*, PyObject* args) {
    return py::call_entry([&] { return fail_with(args); });
}

// call_and_fetch(callable): a failure of `callable()` is fetched back as the
// body's error; with None, an error is fetched although none is pending.
PyObject* call_and_fetch(PyObject*, PyObject* callable) {
    return py::call_entry([&]() -> py::PyResult<py::OwnedRef> {
        if (callable == Py_None) {
            return py::fetch_error();
        }
        py::OwnedRef result = py::OwnedRef::steal(PyObject_CallNoArgs(callable));
        if (!result) {
            return py::fetch_error();
        }
        return result;
    });
}

// raw_entry_depth(): the lock-depth counter, read without entering the wrapper.
PyObject* raw_entry_depth(PyObject*, PyObject*) {
    return PyLong_FromLong(py::t_entry_depth);
}

// fail_unraisable(kind, message): as fail, in the wrapper that destructors use,
// which reports the failure as unraisable and returns nothing.
PyObject* fail_unraisable(PyObject*, PyObject* args) {
    py::call_entry_unraisable([&]() -> py::PyResult<void> {
        if (auto failed = fail_with(args); !failed) {
            return std::move(failed).error();
        }
        return {};
    });
    Py_RETURN_NONE;
}

PyMethodDef g_functions[] = {
    {"fail", fail, METH_VARARGS, nullptr},
    {"fail_unraisable", fail_unraisable, METH_VARARGS, nullptr},
    {"call_and_fetch", call_and_fetch, METH_O, nullptr},
    {"raw_entry_depth", raw_entry_depth, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// clang-format off
PyModuleDef g_module_def = {PyModuleDef_HEAD_INIT, "_tavro_panic", nullptr, 0, g_functions,
                            nullptr, nullptr, nullptr, nullptr};
// clang-format on

}  // namespace

PyMODINIT_FUNC PyInit__tavro_panic() {
    return py::call_entry([]() -> py::PyResult<py::OwnedRef> {
        py::OwnedRef module = py::OwnedRef::steal(PyModule_Create(&g_module_def));
        if (!module) {
            return py::fetch_error();
        }
        return module;
    });
}
