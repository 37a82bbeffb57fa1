#include "boundary/argument_binding.hpp"

#include <string>

#include "boundary/error_text.hpp"

namespace tavro::py {

std::string FunctionDescription::full_name() const {
    std::string name(class_name);
    name += '.';
    name += function_name;
    name += "()";
    return name;
}

namespace {

PendingError too_many_positional(const FunctionDescription& function, std::size_t given) {
    std::string message = function.full_name();
    message += " takes " + std::to_string(function.parameters.size()) +
               " positional arguments but " + std::to_string(given) +
               (given == 1 ? " was given" : " were given");
    return type_error(std::move(message));
}

PendingError unexpected_keyword(const FunctionDescription& function, PyObject* name) {
    return type_error(function.full_name() + " got an unexpected keyword argument '" +
                      str_for_message(name) + "'");
}

PendingError multiple_values(const FunctionDescription& function, std::string_view name) {
    return type_error(function.full_name() + " got multiple values for argument '" +
                      std::string(name) + "'");
}

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'".
std::string quoted_name_list(std::span<const std::string_view> names) {
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            list += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
        }
        list += '\'';
        list += names[i];
        list += '\'';
    }
    return list;
}

PendingError missing_arguments(const FunctionDescription& function,
                               std::span<PyObject* const> bound) {
    std::array<std::string_view, 8> missing{};
    std::size_t count = 0;
    for (std::size_t i = 0; i < bound.size() && count < missing.size(); ++i) {
        if (bound[i] == nullptr) {
            missing[count++] = function.parameters[i];
        }
    }
    std::string message = function.full_name() + " missing " + std::to_string(count) +
                          " required positional " + (count == 1 ? "argument" : "arguments") + ": " +
                          quoted_name_list(std::span(missing.data(), count));
    return type_error(std::move(message));
}

// Index of the parameter called `name`, or -1. Keyword names are str.
Py_ssize_t parameter_index(const FunctionDescription& function, PyObject* name) {
    if (!PyUnicode_Check(name)) {
        return -1;
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(name, &size);
    if (utf8 == nullptr) {
        PyErr_Clear();
        return -1;
    }
    const std::string_view text(utf8, static_cast<std::size_t>(size));
    for (std::size_t i = 0; i < function.parameters.size(); ++i) {
        if (function.parameters[i] == text) {
            return static_cast<Py_ssize_t>(i);
        }
    }
    return -1;
}

PyResult<void> bind_keyword(const FunctionDescription& function, PyObject* name, PyObject* value,
                            std::span<PyObject*> out) {
    const Py_ssize_t index = parameter_index(function, name);
    if (index < 0) {
        return unexpected_keyword(function, name);
    }
    PyObject*& slot = out[static_cast<std::size_t>(index)];
    if (slot != nullptr) {
        return multiple_values(function, function.parameters[static_cast<std::size_t>(index)]);
    }
    slot = value;
    return {};
}

PyResult<void> check_all_bound(const FunctionDescription& function, std::span<PyObject*> out) {
    for (PyObject* value : out) {
        if (value == nullptr) {
            return missing_arguments(function, out);
        }
    }
    return {};
}

}  // namespace

PyResult<void> bind_fastcall(const FunctionDescription& function, PyObject* const* args,
                             Py_ssize_t nargsf, PyObject* kwnames, std::span<PyObject*> out) {
    const auto positional =
        static_cast<std::size_t>(PyVectorcall_NARGS(static_cast<std::size_t>(nargsf)));
    if (positional > function.parameters.size()) {
        return too_many_positional(function, positional);
    }
    for (std::size_t i = 0; i < positional; ++i) {
        out[i] = args[i];
    }
    if (kwnames != nullptr) {
        const Py_ssize_t keywords = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < keywords; ++k) {
            PyResult<void> bound =
                bind_keyword(function, PyTuple_GET_ITEM(kwnames, k),
                             args[positional + static_cast<std::size_t>(k)], out);
            if (!bound) {
                return bound;
            }
        }
    }
    return check_all_bound(function, out);
}

PyResult<void> bind_tuple_and_dict(const FunctionDescription& function, PyObject* args,
                                   PyObject* kwargs, std::span<PyObject*> out) {
    const auto positional = static_cast<std::size_t>(args != nullptr ? PyTuple_GET_SIZE(args) : 0);
    if (positional > function.parameters.size()) {
        return too_many_positional(function, positional);
    }
    for (std::size_t i = 0; i < positional; ++i) {
        out[i] = PyTuple_GET_ITEM(args, static_cast<Py_ssize_t>(i));
    }
    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject* name = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &position, &name, &value)) {
            PyResult<void> bound = bind_keyword(function, name, value, out);
            if (!bound) {
                return bound;
            }
        }
    }
    return check_all_bound(function, out);
}

}  // namespace tavro::py
