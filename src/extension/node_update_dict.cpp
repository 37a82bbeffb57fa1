#include "extension/node_update_dict.hpp"

#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <type_traits>

#include "boundary/error_forms.hpp"
#include "boundary/error_text.hpp"
#include "boundary/panic.hpp"
#include "extension/number_conversion.hpp"

namespace tavro::ext {

namespace {

// Field indices in the order of the dict form: label, url, size, red, green,
// blue, show_label. Keys are looked up and values written in this order.
constexpr auto dict_order = [] {
    std::array<std::size_t, node_update_fields.size()> order{};
    for (const NodeUpdateField& field : node_update_fields) {
        order[field.dict_position] = field.index;
    }
    return order;
}();

// The key strings, interned once and kept for the life of the process.
PyObject* field_key(std::size_t field) {
    static std::array<PyObject*, node_update_fields.size()> keys{};
    if (keys[field] == nullptr) {
        // The names are string literals, so each view ends in a NUL.
        keys[field] = py::created(PyUnicode_InternFromString(node_update_fields[field].name.data()))
                          .release();
    }
    return keys[field];
}

py::PyResult<std::string> from_py(PyObject* value, std::type_identity<std::string>) {
    if (!PyUnicode_Check(value)) {
        return py::type_mismatch(value, "PyString");
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(value, &size);
    if (utf8 == nullptr) {
        return py::fetch_error();
    }
    return std::string(utf8, static_cast<std::size_t>(size));
}

py::PyResult<std::uint8_t> from_py(PyObject* value, std::type_identity<std::uint8_t>) {
    const long number = PyLong_AsLong(value);
    if (number == -1 && PyErr_Occurred() != nullptr) {
        return py::fetch_error();
    }
    if (number < 0 || number > 255) {
        return py::PendingError::lazy(PyExc_OverflowError,
                                      "out of range integral type conversion attempted");
    }
    return static_cast<std::uint8_t>(number);
}

// NumPy's boolean scalar type is "numpy.bool" in NumPy 2 and "numpy.bool_"
// before; both are accepted through the type's truth slot.
bool is_numpy_bool(PyTypeObject* type) {
    return std::strcmp(type->tp_name, "numpy.bool_") == 0 ||
           std::strcmp(type->tp_name, "numpy.bool") == 0;
}

py::PyResult<bool> from_py(PyObject* value, std::type_identity<bool>) {
    if (PyBool_Check(value)) {
        return value == Py_True;
    }
    PyTypeObject* type = Py_TYPE(value);
    if (!is_numpy_bool(type)) {
        return py::type_mismatch(value, "PyBool");
    }
    inquiry truth = type->tp_as_number != nullptr ? type->tp_as_number->nb_bool : nullptr;
    if (truth == nullptr) {
        return py::type_error("object of type '" +
                              py::str_for_message(reinterpret_cast<PyObject*>(type)) +
                              "' does not define a '__bool__' conversion");
    }
    switch (truth(value)) {
        case 0:
            return false;
        case 1:
            return true;
        default:
            return py::fetch_error();
    }
}

py::PyResult<float> from_py(PyObject* value, std::type_identity<float>) {
    return pyobject_to_float32(value);
}

py::OwnedRef to_py(const std::string& text) {
    return py::created(
        PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}
py::OwnedRef to_py(float size) {
    return float32_to_pyfloat(size);
}
py::OwnedRef to_py(std::uint8_t colour) {
    return py::created(PyLong_FromLong(colour));
}
py::OwnedRef to_py(bool flag) {
    return py::OwnedRef::borrow(flag ? Py_True : Py_False);
}

// Looks the key of `field` up and, when present, converts its value into
// `value`.
template <class T>
py::PyResult<void> read_field(PyObject* dict, std::size_t field, std::optional<T>& value) {
    PyObject* found = PyDict_GetItemWithError(dict, field_key(field));
    if (found == nullptr) {
        if (PyErr_Occurred() != nullptr) {
            return py::fetch_error();
        }
        return {};
    }
    // Held strongly: converting may run Python code that changes the dict.
    py::OwnedRef held = py::OwnedRef::borrow(found);
    TAVRO_TRY_ASSIGN(value, from_py(held.get(), std::type_identity<T>{}));
    return {};
}

}  // namespace

py::PyResult<NodeUpdate> pydict_to_node_update(PyObject* object) {
    if (!PyDict_Check(object)) {
        return py::type_mismatch(object, "PyDict");
    }
    NodeUpdate update;
    for (const std::size_t field : dict_order) {
        py::PyResult<void> read;
        visit_field(update, field, [&](auto& value) { read = read_field(object, field, value); });
        TAVRO_TRY(read);
    }
    return update;
}

py::PyResult<py::OwnedRef> node_update_to_pydict(const NodeUpdate& update) {
    py::OwnedRef dict = py::created(PyDict_New());
    for (const std::size_t field : dict_order) {
        py::PyResult<void> inserted;
        visit_field(update, field, [&](const auto& value) {
            if (value && PyDict_SetItem(dict.get(), field_key(field), to_py(*value).get()) != 0) {
                inserted = py::fetch_error();
            }
        });
        TAVRO_TRY(inserted);
    }
    return dict;
}

}  // namespace tavro::ext
