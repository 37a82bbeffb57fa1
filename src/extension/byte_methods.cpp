#include "extension/byte_methods.hpp"

#include <optional>
#include <string>

#include "boundary/error_forms.hpp"
#include "boundary/error_text.hpp"
#include "boundary/panic.hpp"
#include "bytes/graph_diff_bytes.hpp"
#include "extension/py_graph_diff_object.hpp"

namespace tavro::ext {

namespace {

py::PendingError serialize_failed() {
    return py::PendingError::lazy(PyExc_Exception, "Failed to serialize graph diff.");
}

py::PendingError deserialize_failed() {
    return py::PendingError::lazy(PyExc_Exception, "Failed to deserialize graph diff.");
}

// How an error that "cannot happen" is rendered in the panic it causes.
std::string debug_rendering(py::PendingError error) {
    const std::string type = py::str_for_message(error.type());
    py::OwnedRef exception = std::move(error).into_exception();
    std::string value = "<none>";
    std::string traceback = "None";
    if (exception) {
        value = py::str_for_message(exception.get());
        if (py::OwnedRef tb = py::OwnedRef::steal(PyException_GetTraceback(exception.get()))) {
            traceback = py::str_for_message(tb.get());
        }
    }
    return "PyErr { type: " + type + ", value: " + value + ", traceback: " + traceback + " }";
}

}  // namespace

py::PyResult<py::OwnedRef> diff_to_pybytes(const Diff& diff) {
    const std::optional<GraphDiffEncoder> encoder = GraphDiffEncoder::prepare(diff);
    if (!encoder) {
        return serialize_failed();
    }
    const std::size_t bound = encoder->bound();
    if (bound > static_cast<std::size_t>(PY_SSIZE_T_MAX)) {
        return serialize_failed();
    }
    py::OwnedRef bytes =
        py::created(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(bound)));
    const std::optional<std::size_t> length =
        encoder->write_to(reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(bytes.get())));
    if (!length) {
        return serialize_failed();
    }
    // Trimmed to what was written: the pages past it were never touched, and
    // shrinking gives them back. A failure frees the object and sets the error.
    PyObject* trimmed = bytes.release();
    if (_PyBytes_Resize(&trimmed, static_cast<Py_ssize_t>(*length)) != 0) {
        return py::fetch_error();
    }
    return py::OwnedRef::steal(trimmed);
}

py::PyResult<py::OwnedRef> pybytes_to_py_graph_diff(PyObject* object) {
    if (!PyBytes_Check(object)) {
        return py::reword_argument_error("bytes", py::type_mismatch(object, "PyBytes"));
    }
    const auto* data = reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(object));
    const auto size = static_cast<std::size_t>(PyBytes_GET_SIZE(object));
    std::optional<Diff> decoded = bytes_to_graph_diff({data, size});
    if (!decoded) {
        return deserialize_failed();
    }
    TAVRO_TRY_ASSIGN(PyTypeObject * type, py_graph_diff_type());
    py::PyResult<py::OwnedRef> instance = new_py_graph_diff(type, std::move(*decoded));
    if (!instance) {
        py::panic("called `Result::unwrap()` on an `Err` value: " +
                  debug_rendering(std::move(instance).error()));
    }
    return instance;
}

}  // namespace tavro::ext
