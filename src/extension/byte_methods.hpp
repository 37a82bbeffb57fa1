// to_bytes and from_bytes: the byte form of a diff as a Python bytes object.
// Every failure of the format becomes one fixed message; its own description
// never reaches Python.
#pragma once

#include <Python.h>

#include "boundary/pending_error.hpp"
#include "bytes/uuid_graph_diff.hpp"

namespace tavro::ext {

// A new bytes object holding the byte form, written straight into it.
// Exception "Failed to serialize graph diff." on failure.
py::PyResult<py::OwnedRef> diff_to_pybytes(const Diff& diff);

// A new PyGraphDiff read from a bytes object (or subclass). Exception
// "Failed to deserialize graph diff." when the bytes are not a diff.
py::PyResult<py::OwnedRef> pybytes_to_py_graph_diff(PyObject* object);

}  // namespace tavro::ext
