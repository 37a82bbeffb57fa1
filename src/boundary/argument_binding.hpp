// Binding the arguments of a call to parameter names. Every parameter of this
// module is required and may be given by position or by name.
#pragma once

#include <Python.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "boundary/pending_error.hpp"

namespace tavro::py {

struct FunctionDescription {
    std::string_view class_name;
    std::string_view function_name;
    std::span<const std::string_view> parameters;

    // "PyGraphDiff.add_node()"
    std::string full_name() const;
};

// Binds a METH_FASTCALL | METH_KEYWORDS call. `out` has one slot per
// parameter and receives borrowed references. Checks, in order: too many
// positional arguments, each keyword (unknown, or given twice), missing ones.
PyResult<void> bind_fastcall(const FunctionDescription& function, PyObject* const* args,
                             Py_ssize_t nargsf, PyObject* kwnames, std::span<PyObject*> out);

// Binds a tuple-and-dict call (the constructor's slot) the same way.
PyResult<void> bind_tuple_and_dict(const FunctionDescription& function, PyObject* args,
                                   PyObject* kwargs, std::span<PyObject*> out);

template <std::size_t N>
PyResult<std::array<PyObject*, N>> bind_fastcall(const FunctionDescription& function,
                                                 PyObject* const* args, Py_ssize_t nargsf,
                                                 PyObject* kwnames) {
    std::array<PyObject*, N> bound{};
    if (kwnames == nullptr && PyVectorcall_NARGS(static_cast<std::size_t>(nargsf)) == N) {
        // Every parameter given by position: nothing to check.
        std::copy_n(args, N, bound.begin());
        return bound;
    }
    TAVRO_TRY(bind_fastcall(function, args, nargsf, kwnames, bound));
    return bound;
}

}  // namespace tavro::py
