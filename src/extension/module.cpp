// The module's entry point. Single-phase initialisation: the module object is
// built once per process and handed out again on every later import.
#include "boundary/call_wrapper.hpp"
#include "boundary/panic.hpp"
#include "extension/py_graph_diff_object.hpp"

namespace tavro::ext {

namespace {

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT,
    "tavro_api",  // m_name
    "",           // m_doc
    0,            // m_size
    nullptr,      // m_methods
    nullptr,      // m_slots
    nullptr,      // m_traverse
    nullptr,      // m_clear
    nullptr,      // m_free
};

// Filled once under the interpreter lock; kept for the life of the process.
PyObject* g_module = nullptr;

constexpr const char* kSubinterpreterMessage =
    "PyO3 modules do not yet support subinterpreters, see "
    "https://docs.python.org/3/howto/isolating-extensions.html";

// The module's state is shared by the whole process, so only one interpreter
// may hold it: the main one, which outlives every other. A subinterpreter is
// refused before anything is made in it. (CPython 3.13 runs this function in
// the main interpreter whichever imports; 3.12 runs it in the importing one,
// and refuses an isolated subinterpreter only after it has returned.)
py::PyResult<void> check_interpreter() {
    if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
        return py::PendingError::lazy(PyExc_ImportError, kSubinterpreterMessage);
    }
    return {};
}

// The module's __all__ list, created if the module has none yet (borrowed
// through the returned owner).
py::PyResult<py::OwnedRef> all_list(PyObject* module) {
    static PyObject* all_name = [] {
        PyObject* name = PyUnicode_InternFromString("__all__");
        return name;
    }();
    if (all_name == nullptr) {
        py::panic("Python API call failed");
    }
    if (py::OwnedRef existing = py::OwnedRef::steal(PyObject_GetAttr(module, all_name))) {
        return existing;
    }
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
        return py::fetch_error();
    }
    PyErr_Clear();
    py::OwnedRef list = py::created(PyList_New(0));
    if (PyObject_SetAttr(module, all_name, list.get()) != 0) {
        return py::fetch_error();
    }
    return list;
}

py::PyResult<void> module_body(PyObject* module) {
    TAVRO_TRY_ASSIGN(PyTypeObject * type, py_graph_diff_type());
    TAVRO_TRY_ASSIGN(const py::OwnedRef all, all_list(module));
    py::OwnedRef name = py::created(PyUnicode_FromString("PyGraphDiff"));
    if (PyList_Append(all.get(), name.get()) != 0) {
        py::panic("could not append __name__ to __all__");
    }
    if (PyObject_SetAttr(module, name.get(), reinterpret_cast<PyObject*>(type)) != 0) {
        return py::fetch_error();
    }
    return {};
}

py::PyResult<py::OwnedRef> init_module() {
    TAVRO_TRY(check_interpreter());
    if (g_module != nullptr) {
        return py::OwnedRef::borrow(g_module);
    }
    py::OwnedRef module = py::OwnedRef::steal(PyModule_Create2(&g_module_def, PYTHON_API_VERSION));
    if (!module) {
        return py::fetch_error();
    }
    TAVRO_TRY(module_body(module.get()));
    if (g_module == nullptr) {
        g_module = module.release();
    }
    return py::OwnedRef::borrow(g_module);
}

}  // namespace

}  // namespace tavro::ext

PyMODINIT_FUNC PyInit_tavro_api() {
    return tavro::py::call_entry([] { return tavro::ext::init_module(); });
}
