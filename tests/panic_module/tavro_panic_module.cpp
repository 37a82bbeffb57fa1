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

// fail(kind, message): the body fails in the way `kind` says, with `message`
// given as bytes (which need not be UTF-8).
PyObject* fail(PyObject*, PyObject* args) {
    return py::call_entry([&]() -> py::PyResult<py::OwnedRef> {
        const char* kind = nullptr;
        PyObject* message = nullptr;
        if (!PyArg_ParseTuple(args, "sS", &kind, &message)) {
            return py::fetch_error();
        }
        return fail_as(kind, std::string(PyBytes_AS_STRING(message),
                                         static_cast<std::size_t>(PyBytes_GET_SIZE(message))));
    });
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
    return PyLong_FromLong(py::EntryScope::depth());
}

PyMethodDef g_functions[] = {
    {"fail", fail, METH_VARARGS, nullptr},
    {"call_and_fetch", call_and_fetch, METH_O, nullptr},
    {"raw_entry_depth", raw_entry_depth, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// DropFails(kind): an object whose destructor fails as `kind` says.
struct DropFailsObject {
    PyObject_HEAD char kind;
};

PyObject* drop_fails_new(PyTypeObject* type, PyObject* args, PyObject*) {
    return py::call_entry([&]() -> py::PyResult<py::OwnedRef> {
        const char* kind = nullptr;
        if (!PyArg_ParseTuple(args, "s", &kind)) {
            return py::fetch_error();
        }
        py::OwnedRef object = py::OwnedRef::steal(PyType_GenericAlloc(type, 0));
        if (!object) {
            return py::fetch_error();
        }
        reinterpret_cast<DropFailsObject*>(object.get())->kind = kind[0];
        return object;
    });
}

void drop_fails_dealloc(PyObject* self) {
    py::call_entry_unraisable([&]() -> py::PyResult<void> {
        const char kind = reinterpret_cast<DropFailsObject*>(self)->kind;
        PyTypeObject* type = Py_TYPE(self);
        reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free))(self);
        Py_DECREF(type);
        const std::string name = kind == 'p'   ? "panic"
                                 : kind == 't' ? "throw"
                                 : kind == 'e' ? "error"
                                               : "none";
        if (auto failed = fail_as(name, "in destructor: " + name); !failed) {
            return std::move(failed).error();
        }
        return {};
    });
}

PyType_Slot g_drop_fails_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(drop_fails_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(drop_fails_dealloc)},
    {0, nullptr},
};

PyType_Spec g_drop_fails_spec = {"_tavro_panic.DropFails",
                                 static_cast<int>(sizeof(DropFailsObject)), 0, Py_TPFLAGS_DEFAULT,
                                 g_drop_fails_slots};

PyModuleDef g_module_def = {PyModuleDef_HEAD_INIT,
                            "_tavro_panic",
                            nullptr,
                            0,
                            g_functions,
                            nullptr,
                            nullptr,
                            nullptr,
                            nullptr};

py::PyResult<py::OwnedRef> init_module() {
    py::OwnedRef module = py::OwnedRef::steal(PyModule_Create(&g_module_def));
    py::OwnedRef type = py::OwnedRef::steal(PyType_FromSpec(&g_drop_fails_spec));
    if (!module || !type || PyModule_AddObjectRef(module.get(), "DropFails", type.get()) != 0) {
        return py::fetch_error();
    }
    return module;
}

}  // namespace

PyMODINIT_FUNC PyInit__tavro_panic() {
    return py::call_entry([] { return init_module(); });
}
