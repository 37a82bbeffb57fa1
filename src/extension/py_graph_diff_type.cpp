// The PyGraphDiff class: its shape as the interpreter sees it, the
// constructor and the destructor.
#include <new>
#include <string_view>

#include "boundary/argument_binding.hpp"
#include "boundary/call_wrapper.hpp"
#include "boundary/panic.hpp"
#include "extension/py_graph_diff_methods.hpp"
#include "extension/py_graph_diff_object.hpp"

namespace tavro::ext {

namespace {

// Filled once under the interpreter lock; kept for the life of the process.
PyTypeObject* g_class = nullptr;

// Class name, text signature "()", then the marker that ends an embedded
// signature; the class has no other documentation.
constexpr const char* kClassDoc = "PyGraphDiff()\n--\n\n";

PyObject* py_graph_diff_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return py::call_entry([&]() -> py::PyResult<py::OwnedRef> {
        static constexpr py::FunctionDescription kNew{"PyGraphDiff", "__new__", {}};
        TAVRO_TRY(py::bind_tuple_and_dict(kNew, args, kwargs, {}));
        return new_py_graph_diff(type, Diff{});
    });
}

void py_graph_diff_dealloc(PyObject* self) {
    py::call_entry_unraisable([&]() -> py::PyResult<void> {
        auto* object = reinterpret_cast<PyGraphDiffObject*>(self);
        object->diff.~Diff();
        PyTypeObject* type = Py_TYPE(self);
        auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
        free_slot(self);
        // Instances of a class made from a spec hold a reference to it.
        Py_DECREF(type);
        return {};
    });
}

py::PyResult<PyTypeObject*> create_class() {
    PyType_Slot slots[] = {
        {Py_tp_base, &PyBaseObject_Type},
        {Py_tp_doc, const_cast<char*>(kClassDoc)},
        {Py_tp_new, reinterpret_cast<void*>(py_graph_diff_new)},
        {Py_tp_methods, py_graph_diff_methods()},
        {Py_tp_dealloc, reinterpret_cast<void*>(py_graph_diff_dealloc)},
        {0, nullptr},
    };
    PyType_Spec spec{
        "builtins.PyGraphDiff",
        static_cast<int>(sizeof(PyGraphDiffObject)),
        0,
        Py_TPFLAGS_DEFAULT,
        slots,
    };
    PyObject* type = PyType_FromSpec(&spec);
    if (type == nullptr) {
        return py::PendingError::lazy(PyExc_RuntimeError,
                                      "An error occurred while initializing class PyGraphDiff",
                                      std::move(py::fetch_error()).into_exception());
    }
    return reinterpret_cast<PyTypeObject*>(type);
}

}  // namespace

py::PyResult<PyTypeObject*> py_graph_diff_type() {
    if (g_class != nullptr) {
        return g_class;
    }
    py::PyResult<PyTypeObject*> created = create_class();
    if (!created) {
        return created;
    }
    if (g_class == nullptr) {
        g_class = created.value();
    } else {
        Py_DECREF(created.value());
    }
    return g_class;
}

py::PyResult<py::OwnedRef> new_py_graph_diff(PyTypeObject* type, Diff&& diff) {
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    if (alloc == nullptr) {
        alloc = PyType_GenericAlloc;
    }
    py::OwnedRef object = py::OwnedRef::steal(alloc(type, 0));
    if (!object) {
        return py::fetch_error();  // `diff` is dropped by the caller
    }
    auto* instance = reinterpret_cast<PyGraphDiffObject*>(object.get());
    new (&instance->diff) Diff(std::move(diff));
    instance->borrow_flag = 0;
    return object;
}

}  // namespace tavro::ext
