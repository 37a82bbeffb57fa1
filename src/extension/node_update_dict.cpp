#include "extension/node_update_dict.hpp"

#include <cstring>
#include <string>

#include "boundary/error_forms.hpp"
#include "boundary/error_text.hpp"
#include "boundary/panic.hpp"
#include "extension/number_conversion.hpp"

namespace tavro::ext {

namespace {

enum FieldKey { kLabel, kUrl, kSize, kRed, kGreen, kBlue, kShowLabel, kFieldCount };

// The key strings, interned once and kept for the life of the process.
PyObject* field_key(FieldKey field) {
    static PyObject* keys[kFieldCount] = {};
    static constexpr const char* kNames[kFieldCount] = {"label", "url",  "size",      "red",
                                                        "green", "blue", "show_label"};
    if (keys[field] == nullptr) {
        keys[field] = py::created(PyUnicode_InternFromString(kNames[field])).release();
    }
    return keys[field];
}

py::PyResult<std::string> text_value(PyObject* value) {
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

py::PyResult<std::uint8_t> colour_value(PyObject* value) {
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

py::PyResult<bool> bool_value(PyObject* value) {
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

// Looks one key up and, when present, converts its value into `field`.
template <class T, class Convert>
py::PyResult<void> read_field(PyObject* dict, FieldKey key, std::optional<T>& field,
                              Convert convert) {
    PyObject* found = PyDict_GetItemWithError(dict, field_key(key));
    if (found == nullptr) {
        if (PyErr_Occurred() != nullptr) {
            return py::fetch_error();
        }
        return {};
    }
    // Held strongly: converting may run Python code that changes the dict.
    py::OwnedRef value = py::OwnedRef::borrow(found);
    auto converted = convert(value.get());
    if (!converted) {
        return std::move(converted).error();
    }
    field = std::move(converted).value();
    return {};
}

py::PyResult<void> set_item(PyObject* dict, FieldKey key, py::OwnedRef value) {
    if (PyDict_SetItem(dict, field_key(key), value.get()) != 0) {
        return py::fetch_error();
    }
    return {};
}

}  // namespace

py::PyResult<NodeUpdate> pydict_to_node_update(PyObject* object) {
    if (!PyDict_Check(object)) {
        return py::type_mismatch(object, "PyDict");
    }
    NodeUpdate update;
    // Each step runs only while the ones before it succeeded.
    py::PyResult<void> read = read_field(object, kLabel, update.label, text_value);
    if (read) {
        read = read_field(object, kUrl, update.url, text_value);
    }
    if (read) {
        read = read_field(object, kSize, update.size, pyobject_to_float32);
    }
    if (read) {
        read = read_field(object, kRed, update.red, colour_value);
    }
    if (read) {
        read = read_field(object, kGreen, update.green, colour_value);
    }
    if (read) {
        read = read_field(object, kBlue, update.blue, colour_value);
    }
    if (read) {
        read = read_field(object, kShowLabel, update.show_label, bool_value);
    }
    if (!read) {
        return std::move(read).error();
    }
    return update;
}

py::PyResult<py::OwnedRef> node_update_to_pydict(const NodeUpdate& update) {
    py::OwnedRef dict = py::created(PyDict_New());
    auto text = [](const std::string& s) {
        return py::created(
            PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
    };
    auto small_int = [](std::uint8_t v) { return py::created(PyLong_FromLong(v)); };
    py::PyResult<void> inserted;
    if (update.label && inserted.ok()) {
        inserted = set_item(dict.get(), kLabel, text(*update.label));
    }
    if (update.url && inserted.ok()) {
        inserted = set_item(dict.get(), kUrl, text(*update.url));
    }
    if (update.size && inserted.ok()) {
        inserted = set_item(dict.get(), kSize, float32_to_pyfloat(*update.size));
    }
    if (update.red && inserted.ok()) {
        inserted = set_item(dict.get(), kRed, small_int(*update.red));
    }
    if (update.green && inserted.ok()) {
        inserted = set_item(dict.get(), kGreen, small_int(*update.green));
    }
    if (update.blue && inserted.ok()) {
        inserted = set_item(dict.get(), kBlue, small_int(*update.blue));
    }
    if (update.show_label && inserted.ok()) {
        inserted = set_item(dict.get(), kShowLabel,
                            py::OwnedRef::borrow(*update.show_label ? Py_True : Py_False));
    }
    if (!inserted) {
        return std::move(inserted).error();
    }
    return dict;
}

}  // namespace tavro::ext
