// The four listings of a diff as new Python objects, ids as 36-character text.
// Entries follow the walk order of the diff's containers; Python dicts keep it.
#pragma once

#include "boundary/pending_error.hpp"
#include "bytes/uuid_graph_diff.hpp"

namespace tavro::ext {

// {id: {field: value}}
py::PyResult<py::OwnedRef> list_new_or_updated_nodes(const Diff& diff);
// [id]
py::PyResult<py::OwnedRef> list_deleted_nodes(const Diff& diff);
// {source: {target: weight}}; a source with no pending edge is left out.
py::PyResult<py::OwnedRef> list_new_or_updated_edges(const Diff& diff);
// {source: [target]}; a source with no deleted edge is left out.
py::PyResult<py::OwnedRef> list_deleted_edges(const Diff& diff);

}  // namespace tavro::ext
