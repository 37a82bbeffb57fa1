// The instance layout of PyGraphDiff and access to its class object.
#pragma once

#include <Python.h>

#include <cstdint>

#include "boundary/pending_error.hpp"
#include "bytes/uuid_graph_diff.hpp"

namespace tavro::ext {

struct PyGraphDiffObject {
    PyObject_HEAD Diff diff;
    // 0: free; n: n readers inside the object; all bits set: one writer inside.
    std::uint64_t borrow_flag;
};

// The PyGraphDiff class, created on first use and kept for the life of the
// process (borrowed reference).
py::PyResult<PyTypeObject*> py_graph_diff_type();

// Allocates a new instance and moves `diff` into it.
py::PyResult<py::OwnedRef> new_py_graph_diff(PyTypeObject* type, Diff&& diff);

}  // namespace tavro::ext
