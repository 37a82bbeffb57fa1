// A node update as a Python dict keyed by field name: "label", "url", "size",
// "red", "green", "blue", "show_label". A missing key is an absent field; a
// present key always sets its field (None is an error, not absent).
#pragma once

#include <Python.h>

#include "boundary/pending_error.hpp"
#include "node_update/node_update.hpp"

namespace tavro::ext {

// Reads the seven keys in the order label, url, size, red, green, blue,
// show_label, converting each value as soon as it is found; the first failure
// is returned unchanged. Keys are looked up in the dict's own storage only.
py::PyResult<NodeUpdate> pydict_to_node_update(PyObject* object);

// A new dict holding the present fields, in the same key order.
py::PyResult<py::OwnedRef> node_update_to_pydict(const NodeUpdate& update);

}  // namespace tavro::ext
