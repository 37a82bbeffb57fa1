#include "extension/node_update_dict.hpp"

#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
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

// Whether converting `value` into a field of type T reads it without running
// Python code (a __float__, an __index__ or a truth slot), which could change
// the dict being read.
bool converts_quietly(PyObject*, std::type_identity<std::string>) {
    return true;  // a str (or subclass) is read as its UTF-8; anything else fails
}
bool converts_quietly(PyObject* value, std::type_identity<float>) {
    return PyFloat_Check(value) || PyLong_CheckExact(value);
}
bool converts_quietly(PyObject* value, std::type_identity<std::uint8_t>) {
    return PyLong_Check(value);
}
bool converts_quietly(PyObject* value, std::type_identity<bool>) {
    return PyBool_Check(value);
}

constexpr std::size_t no_field = node_update_fields.size();

// The field an exact str key names, or no_field. Keys written as literals in
// Python code are the interned key objects themselves.
std::size_t field_of_str_key(PyObject* key) {
    for (std::size_t field = 0; field < no_field; ++field) {
        if (key == field_key(field)) {
            return field;
        }
    }
    // A str equal to a field name is ASCII, like the name.
    if (!PyUnicode_IS_ASCII(key)) {
        return no_field;
    }
    const std::string_view text(static_cast<const char*>(PyUnicode_DATA(key)),
                                static_cast<std::size_t>(PyUnicode_GET_LENGTH(key)));
    for (const NodeUpdateField& field : node_update_fields) {
        if (text == field.name) {
            return field.index;
        }
    }
    return no_field;
}

// A dict this small is read in one pass over its items rather than by one
// lookup per field; a larger one would cost more to walk than to probe.
constexpr Py_ssize_t max_walked_items = 16;

// The values of the field keys, from one pass over the dict's items. Only a
// dict whose keys are all exact str can be read this way: comparing any
// other key with a field name may run Python code (its __eq__) or raise,
// and is left to the lookups.
bool find_fields(PyObject* dict, std::array<PyObject*, no_field>& found) {
    if (PyDict_GET_SIZE(dict) > max_walked_items) {
        return false;
    }
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(dict, &position, &key, &value)) {
        if (!PyUnicode_CheckExact(key)) {
            return false;
        }
        if (const std::size_t field = field_of_str_key(key); field != no_field) {
            found[field] = value;
        }
    }
    return true;
}

// The value stored under the key of `field`, or null when there is none.
py::PyResult<PyObject*> look_up(PyObject* dict, std::size_t field) {
    PyObject* found = PyDict_GetItemWithError(dict, field_key(field));
    if (found == nullptr && PyErr_Occurred() != nullptr) {
        return py::fetch_error();
    }
    return found;
}

}  // namespace

py::PyResult<NodeUpdate> pydict_to_node_update(PyObject* object) {
    if (!PyDict_Check(object)) {
        return py::type_mismatch(object, "PyDict");
    }
    // The fields are converted in the dict order, each value as soon as its
    // key is found. The values found in one pass stand for the lookups until
    // a conversion runs Python code, which may change the dict; from then on
    // each key is looked up.
    std::array<PyObject*, no_field> found{};
    bool walked = find_fields(object, found);
    NodeUpdate update;
    for (const std::size_t field : dict_order) {
        PyObject* stored = found[field];
        if (!walked) {
            TAVRO_TRY_ASSIGN(stored, look_up(object, field));
        }
        if (stored == nullptr) {
            continue;
        }
        // Held strongly: converting may run Python code that changes the dict.
        const py::OwnedRef value = py::OwnedRef::borrow(stored);
        py::PyResult<void> converted;
        visit_field(update, field, [&](auto& target) {
            using T = typename std::remove_reference_t<decltype(target)>::value_type;
            walked = walked && converts_quietly(value.get(), std::type_identity<T>{});
            auto result = from_py(value.get(), std::type_identity<T>{});
            if (result) {
                target = std::move(result).value();
            } else {
                converted = std::move(result).error();
            }
        });
        TAVRO_TRY(converted);
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
