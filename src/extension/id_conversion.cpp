#include "extension/id_conversion.hpp"

#include "boundary/error_forms.hpp"
#include "boundary/panic.hpp"

namespace tavro::ext {

py::PyResult<Uuid> pybytes_to_uuid(PyObject* object) {
    if (!PyBytes_Check(object)) {
        return py::type_mismatch(object, "PyBytes");
    }
    if (PyBytes_GET_SIZE(object) != 16) {
        return py::PendingError::lazy(PyExc_Exception, "Expected 16 bytes.");
    }
    return Uuid::from_bytes(PyBytes_AS_STRING(object));
}

py::PyResult<Uuid> id_argument(PyObject* object, std::string_view parameter) {
    py::PyResult<Uuid> id = pybytes_to_uuid(object);
    if (!id) {
        return py::reword_argument_error(parameter,
                                         py::field_error("PyUuid", 0, std::move(id).error()));
    }
    return id;
}

py::OwnedRef uuid_to_pystring(const Uuid& id) {
    static constexpr char kHexDigits[] = "0123456789abcdef";
    // ASCII only, so the text is written straight into the new str's storage.
    py::OwnedRef text = py::created(PyUnicode_New(36, 127));
    Py_UCS1* out = PyUnicode_1BYTE_DATA(text.get());
    for (std::size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            *out++ = '-';
        }
        *out++ = static_cast<Py_UCS1>(kHexDigits[id.bytes[i] >> 4]);
        *out++ = static_cast<Py_UCS1>(kHexDigits[id.bytes[i] & 0xf]);
    }
    return text;
}

}  // namespace tavro::ext
