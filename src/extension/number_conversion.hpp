// Weights, sizes and counts across the boundary.
#pragma once

#include <Python.h>

#include <cstdint>

#include "boundary/pending_error.hpp"

namespace tavro::ext {

// Any object the interpreter's float conversion accepts, narrowed to a
// 32-bit float (round to nearest even; overflow gives an infinity). The
// interpreter's error is returned unchanged.
py::PyResult<float> pyobject_to_float32(PyObject* object);

// The float widened exactly to a Python float.
py::OwnedRef float32_to_pyfloat(float value);

// A Python int.
py::OwnedRef count_to_pyint(std::uint64_t count);

}  // namespace tavro::ext
