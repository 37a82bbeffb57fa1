// _tavro_panic: a test-only extension module that drives the failure paths of
// the call boundary on purpose (panics in bodies, constructors and
// destructors, failed object creation, exceptions fetched back from Python).
// It links the same boundary library as tavro_api and is never installed.
#include <Python.h>

#include <array>
#include <stdexcept>
#include <string>
#include <string_view>

#include "boundary/argument_binding.hpp"
#include "boundary/call_wrapper.hpp"
#include "boundary/error_forms.hpp"
#include "boundary/panic.hpp"
#include "boundary/pending_error.hpp"
#include "boundary/py_ref.hpp"

namespace {

namespace py = tavro::py;

// The UTF-8 text of a str argument.
py::PyResult<std::string> text_of(PyObject* object) {
    if (!PyUnicode_Check(object)) {
        return py::type_mismatch(object, "PyString");
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
    if (utf8 == nullptr) {
        return py::fetch_error();
    }
    return std::string(utf8, static_cast<std::size_t>(size));
}

// The raw content of a bytes argument (which need not be valid UTF-8).
py::PyResult<std::string> bytes_of(PyObject* object) {
    if (!PyBytes_Check(object)) {
        return py::type_mismatch(object, "PyBytes");
    }
    return std::string(PyBytes_AS_STRING(object),
                       static_cast<std::size_t>(PyBytes_GET_SIZE(object)));
}

// panic_with(message): the body panics with `message`.
PyObject* panic_with(PyObject*, PyObject* message) {
    return py::call_entry([&]() -> py::PyResult<py::OwnedRef> {
        py::PyResult<std::string> text = text_of(message);
        if (!text) {
            return std::move(text).error();
        }
        py::panic(std::move(text).value());
    });
}

// panic_with_bytes(data): panics with a message made of arbitrary bytes. A
// message that is not UTF-8 cannot become a PanicException, so the panic
// escapes the wrapper's own handling.
PyObject* panic_with_bytes(PyObject*, PyObject* data) {
    return py::call_entry([&]() -> py::PyResult<py::OwnedRef> {
        py::PyResult<std::string> raw = bytes_of(data);
        if (!raw) {
            return std::move(raw).error();
        }
        py::panic(std::move(raw).value());
    });
}

// throw_runtime_error(message): a plain C++ exception escapes the body.
PyObject* throw_runtime_error(PyObject*, PyObject* message) {
    return py::call_entry([&]() -> py::PyResult<py::OwnedRef> {
        py::PyResult<std::string> text = text_of(message);
        if (!text) {
            return std::move(text).error();
        }
        throw std::runtime_error(text.value());
    });
}

// fail_creation(message): an object-creating call returns null with
// MemoryError(message) pending.
PyObject* fail_creation(PyObject*, PyObject* message) {
    return py::call_entry([&]() -> py::PyResult<py::OwnedRef> {
        py::PyResult<std::string> text = text_of(message);
        if (!text) {
            return std::move(text).error();
        }
        PyErr_SetString(PyExc_MemoryError, text.value().c_str());
        py::OwnedRef never = py::created(nullptr);
        return never;
    });
}

// call_and_fetch(callable): calls `callable()`; a failure is fetched back from
// the interpreter as the body's error.
PyObject* call_and_fetch(PyObject*, PyObject* callable) {
    return py::call_entry([&]() -> py::PyResult<py::OwnedRef> {
        py::OwnedRef result = py::OwnedRef::steal(PyObject_CallNoArgs(callable));
        if (!result) {
            return py::fetch_error();
        }
        return result;
    });
}

// fetch_with_nothing_set(): fetches although no exception is pending.
PyObject* fetch_with_nothing_set(PyObject*, PyObject*) {
    return py::call_entry([]() -> py::PyResult<py::OwnedRef> { return py::fetch_error(); });
}

// error_with_bytes(data): the body fails with a TypeError whose message is
// `data` taken as raw bytes.
PyObject* error_with_bytes(PyObject*, PyObject* data) {
    return py::call_entry([&]() -> py::PyResult<py::OwnedRef> {
        py::PyResult<std::string> raw = bytes_of(data);
        if (!raw) {
            return std::move(raw).error();
        }
        return py::type_error(std::move(raw).value());
    });
}

// entry_depth(): the lock-depth counter seen from inside an entry.
PyObject* entry_depth(PyObject*, PyObject*) {
    return py::call_entry([]() -> py::PyResult<py::OwnedRef> {
        return py::created(PyLong_FromLong(py::t_entry_depth));
    });
}

// raw_entry_depth(): the counter read without entering the wrapper.
PyObject* raw_entry_depth(PyObject*, PyObject*) {
    return PyLong_FromLong(py::t_entry_depth);
}

// panic_exception_type(): the class the boundary raises for panics.
PyObject* panic_exception_type(PyObject*, PyObject*) {
    return py::call_entry([]() -> py::PyResult<py::OwnedRef> {
        return py::OwnedRef::borrow(py::panic_exception_type());
    });
}

PyMethodDef g_functions[] = {
    {"panic_with", panic_with, METH_O, nullptr},
    {"panic_with_bytes", panic_with_bytes, METH_O, nullptr},
    {"throw_runtime_error", throw_runtime_error, METH_O, nullptr},
    {"fail_creation", fail_creation, METH_O, nullptr},
    {"call_and_fetch", call_and_fetch, METH_O, nullptr},
    {"fetch_with_nothing_set", fetch_with_nothing_set, METH_NOARGS, nullptr},
    {"error_with_bytes", error_with_bytes, METH_O, nullptr},
    {"entry_depth", entry_depth, METH_NOARGS, nullptr},
    {"raw_entry_depth", raw_entry_depth, METH_NOARGS, nullptr},
    {"panic_exception_type", panic_exception_type, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// DropFails(kind): an object whose destructor fails in the way `kind` names:
// "panic", "throw" (a C++ exception), "error" (a pending Python error) or
// "none".
enum class DropKind { none, panic, thrown, error };

struct DropFailsObject {
    PyObject_HEAD DropKind kind;
};

py::PyResult<DropKind> drop_kind(PyObject* kind) {
    py::PyResult<std::string> text = text_of(kind);
    if (!text) {
        return std::move(text).error();
    }
    const std::string& name = text.value();
    if (name == "none") {
        return DropKind::none;
    }
    if (name == "panic") {
        return DropKind::panic;
    }
    if (name == "throw") {
        return DropKind::thrown;
    }
    if (name == "error") {
        return DropKind::error;
    }
    return py::PendingError::lazy(PyExc_ValueError, "unknown kind: " + name);
}

PyObject* drop_fails_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return py::call_entry([&]() -> py::PyResult<py::OwnedRef> {
        static constexpr std::array<std::string_view, 1> kParameters{"kind"};
        static constexpr py::FunctionDescription kNew{"DropFails", "__new__", kParameters};
        std::array<PyObject*, 1> bound{};
        if (auto ok = py::bind_tuple_and_dict(kNew, args, kwargs, bound); !ok) {
            return std::move(ok).error();
        }
        py::PyResult<DropKind> kind = drop_kind(bound[0]);
        if (!kind) {
            return std::move(kind).error();
        }
        py::OwnedRef object = py::OwnedRef::steal(PyType_GenericAlloc(type, 0));
        if (!object) {
            return py::fetch_error();
        }
        reinterpret_cast<DropFailsObject*>(object.get())->kind = kind.value();
        return object;
    });
}

void drop_fails_dealloc(PyObject* self) {
    py::call_entry_unraisable([&]() -> py::PyResult<void> {
        const DropKind kind = reinterpret_cast<DropFailsObject*>(self)->kind;
        PyTypeObject* type = Py_TYPE(self);
        auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
        free_slot(self);
        Py_DECREF(type);
        switch (kind) {
            case DropKind::panic:
                py::panic("panic in destructor");
            case DropKind::thrown:
                throw std::runtime_error("exception in destructor");
            case DropKind::error:
                return py::PendingError::lazy(PyExc_RuntimeError, "error in destructor");
            case DropKind::none:
                break;
        }
        return {};
    });
}

// NewPanics(): a constructor that panics before any object is made.
PyObject* new_panics_new(PyTypeObject*, PyObject*, PyObject*) {
    return py::call_entry(
        []() -> py::PyResult<py::OwnedRef> { py::panic("panic in constructor"); });
}

PyType_Slot g_drop_fails_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(drop_fails_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(drop_fails_dealloc)},
    {0, nullptr},
};

PyType_Spec g_drop_fails_spec = {
    "_tavro_panic.DropFails", static_cast<int>(sizeof(DropFailsObject)), 0, Py_TPFLAGS_DEFAULT,
    g_drop_fails_slots,
};

PyType_Slot g_new_panics_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(new_panics_new)},
    {0, nullptr},
};

PyType_Spec g_new_panics_spec = {
    "_tavro_panic.NewPanics", static_cast<int>(sizeof(PyObject)), 0, Py_TPFLAGS_DEFAULT,
    g_new_panics_slots,
};

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT,
    "_tavro_panic",
    "Test-only module that drives the failure paths of the call boundary.",
    0,
    g_functions,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

py::PyResult<void> add_type(PyObject* module, PyType_Spec* spec, const char* name) {
    py::OwnedRef type = py::OwnedRef::steal(PyType_FromSpec(spec));
    if (!type) {
        return py::fetch_error();
    }
    if (PyModule_AddObjectRef(module, name, type.get()) != 0) {
        return py::fetch_error();
    }
    return {};
}

py::PyResult<py::OwnedRef> init_module() {
    py::OwnedRef module = py::OwnedRef::steal(PyModule_Create(&g_module_def));
    if (!module) {
        return py::fetch_error();
    }
    if (auto ok = add_type(module.get(), &g_drop_fails_spec, "DropFails"); !ok) {
        return std::move(ok).error();
    }
    if (auto ok = add_type(module.get(), &g_new_panics_spec, "NewPanics"); !ok) {
        return std::move(ok).error();
    }
    return module;
}

}  // namespace

PyMODINIT_FUNC PyInit__tavro_panic() {
    return py::call_entry([] { return init_module(); });
}
