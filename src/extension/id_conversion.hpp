// Node ids across the boundary: 16-byte bytes in, 36-character text out.
#pragma once

#include <Python.h>

#include <string_view>

#include "boundary/pending_error.hpp"
#include "common/uuid.hpp"

namespace tavro::ext {

// A bytes object (or subclass) of exactly 16 bytes. Otherwise the
// type-mismatch error naming PyBytes, or Exception "Expected 16 bytes.".
py::PyResult<Uuid> pybytes_to_uuid(PyObject* object);

// An id argument: failures read "argument '<parameter>': failed to extract
// field PyUuid.0", caused by the error of pybytes_to_uuid.
py::PyResult<Uuid> id_argument(PyObject* object, std::string_view parameter);

// A new str holding the id as lower-case hex in groups 8-4-4-4-12.
py::OwnedRef uuid_to_pystring(const Uuid& id);

}  // namespace tavro::ext
