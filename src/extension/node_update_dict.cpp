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

using FieldKeys = std::array<PyObject*, node_update_fields.size()>;

// The key strings, interned once and kept for the life of the process.
const FieldKeys& field_keys() {
    static const FieldKeys keys = [] {
        FieldKeys interned{};
        for (std::size_t field = 0; field < interned.size(); ++field) {
            // The names are string literals, so each view ends in a NUL.
            interned[field] =
                py::created(PyUnicode_InternFromString(node_update_fields[field].name.data()))
                    .release();
        }
        return interned;
    }();
    return keys;
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

// The field named by `key`, an exact str, or node_update_fields.size().
std::size_t field_named(PyObject* key, const FieldKeys& keys) {
    for (std::size_t field = 0; field < keys.size(); ++field) {
        if (key == keys[field]) {
            return field;
        }
    }
    // An equal key that is not the interned one (from json.loads, say). The
    // names are ASCII, and a str of ASCII characters is always stored so.
    if (PyUnicode_IS_COMPACT_ASCII(key)) {
        const std::string_view text(static_cast<const char*>(PyUnicode_DATA(key)),
                                    static_cast<std::size_t>(PyUnicode_GET_LENGTH(key)));
        for (std::size_t field = 0; field < node_update_fields.size(); ++field) {
            if (text == node_update_fields[field].name) {
                return field;
            }
        }
    }
    return node_update_fields.size();
}

bool is_plain_value(PyObject* value) {
    return PyUnicode_CheckExact(value) || PyLong_CheckExact(value) || PyFloat_CheckExact(value) ||
           PyBool_Check(value);
}

using FieldValues = std::array<PyObject*, node_update_fields.size()>;

// Finds each field's value (borrowed) in one pass over the dict's items, where
// that gives what looking each key up would: every key an exact str, so
// matching runs no Python code, and every value of an exact built-in type, so
// no conversion runs Python code that could change the dict between lookups. A
// dict of more items than there are fields is looked up key by key, which
// bounds the cost of a call whatever the dict holds.
bool find_plain_values(PyObject* dict, FieldValues& values) {
    if (PyDict_GET_SIZE(dict) > static_cast<Py_ssize_t>(node_update_fields.size())) {
        return false;
    }
    const FieldKeys& keys = field_keys();
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(dict, &position, &key, &value)) {
        if (!PyUnicode_CheckExact(key) || !is_plain_value(value)) {
            return false;
        }
        if (const std::size_t field = field_named(key, keys); field < values.size()) {
            values[field] = value;
        }
    }
    return true;
}

// Converts each field's value in the dict form's order, before the next key
// is looked up: a conversion that changes the dict is seen by the keys after
// it, and the first failure in this order is the one returned. With
// kFoundInOnePass, `values` already holds what the lookups would find. The
// fields are unrolled so that each one's type is known at compile time.
template <bool kFoundInOnePass>
py::PyResult<NodeUpdate> read_fields(PyObject* dict, const FieldValues& values) {
    NodeUpdate update;
    py::PyResult<void> read;
    const auto read_field = [&](auto field) {
        PyObject* found = values[field];
        // Held strongly when looked up: converting may run Python code that
        // changes the dict.
        py::OwnedRef held;
        if constexpr (!kFoundInOnePass) {
            found = PyDict_GetItemWithError(dict, field_keys()[field]);
            if (found == nullptr && PyErr_Occurred() != nullptr) {
                read = py::fetch_error();
                return false;
            }
            held = py::OwnedRef::borrow(found);
        }
        if (found != nullptr) {
            visit_field(update, field, [&](auto& value) {
                using Value = typename std::remove_reference_t<decltype(value)>::value_type;
                auto converted = from_py(found, std::type_identity<Value>{});
                if (converted) {
                    value = std::move(converted).value();
                } else {
                    read = std::move(converted).error();
                }
            });
        }
        return read.ok();
    };
    [&]<std::size_t... P>(std::index_sequence<P...>) {
        (read_field(std::integral_constant<std::size_t, dict_order[P]>{}) && ...);
    }(std::make_index_sequence<dict_order.size()>{});
    TAVRO_TRY(read);
    return update;
}

}  // namespace

py::PyResult<NodeUpdate> pydict_to_node_update(PyObject* object) {
    if (!PyDict_Check(object)) {
        return py::type_mismatch(object, "PyDict");
    }
    FieldValues values{};
    if (find_plain_values(object, values)) {
        return read_fields<true>(object, values);
    }
    return read_fields<false>(object, values);
}

py::PyResult<py::OwnedRef> node_update_to_pydict(const NodeUpdate& update) {
    py::OwnedRef dict = py::created(PyDict_New());
    for (const std::size_t field : dict_order) {
        py::PyResult<void> inserted;
        visit_field(update, field, [&](const auto& value) {
            if (value &&
                PyDict_SetItem(dict.get(), field_keys()[field], to_py(*value).get()) != 0) {
                inserted = py::fetch_error();
            }
        });
        TAVRO_TRY(inserted);
    }
    return dict;
}

}  // namespace tavro::ext
