#include "extension/number_conversion.hpp"

#include "boundary/panic.hpp"
#include "extension/float_narrowing.hpp"

namespace tavro::ext {

py::PyResult<float> pyobject_to_float32(PyObject* object) {
    double value;
    if (PyFloat_CheckExact(object)) {
        value = PyFloat_AS_DOUBLE(object);
    } else {
        value = PyFloat_AsDouble(object);
        if (value == -1.0 && PyErr_Occurred() != nullptr) {
            return py::fetch_error();
        }
    }
    return narrow_to_float(value);
}

py::OwnedRef float32_to_pyfloat(float value) {
    return py::created(PyFloat_FromDouble(static_cast<double>(value)));
}

py::OwnedRef count_to_pyint(std::uint64_t count) {
    return py::created(PyLong_FromUnsignedLongLong(count));
}

}  // namespace tavro::ext
