#include "extension/listings.hpp"

#include "boundary/panic.hpp"
#include "extension/id_conversion.hpp"
#include "extension/node_update_dict.hpp"
#include "extension/number_conversion.hpp"

namespace tavro::ext {

namespace {

using py::OwnedRef;
using py::PyResult;

PyResult<void> set_item(PyObject* dict, const OwnedRef& key, const OwnedRef& value) {
    if (PyDict_SetItem(dict, key.get(), value.get()) != 0) {
        return py::fetch_error();
    }
    return {};
}

// A new list of the ids' texts, sized once.
template <class Ids>
OwnedRef id_list(const Ids& ids) {
    OwnedRef list = py::created(PyList_New(static_cast<Py_ssize_t>(ids.size())));
    Py_ssize_t index = 0;
    for (const Uuid& id : ids) {
        PyList_SET_ITEM(list.get(), index++, uuid_to_pystring(id).release());  // steals
    }
    return list;
}

}  // namespace

PyResult<OwnedRef> list_new_or_updated_nodes(const Diff& diff) {
    OwnedRef nodes = py::created(PyDict_New());
    for (const auto& [id, update] : diff.new_or_updated_nodes) {
        TAVRO_TRY_ASSIGN(const OwnedRef fields, node_update_to_pydict(update));
        TAVRO_TRY(set_item(nodes.get(), uuid_to_pystring(id), fields));
    }
    return nodes;
}

PyResult<OwnedRef> list_deleted_nodes(const Diff& diff) {
    return id_list(diff.deleted_nodes);
}

PyResult<OwnedRef> list_new_or_updated_edges(const Diff& diff) {
    OwnedRef sources = py::created(PyDict_New());
    for (const auto& [source, targets] : diff.edges.new_or_updated) {
        if (targets.empty()) {
            continue;
        }
        OwnedRef weights = py::created(PyDict_New());
        for (const auto& [target, weight] : targets) {
            TAVRO_TRY(set_item(weights.get(), uuid_to_pystring(target),
                               float32_to_pyfloat(weight.value())));
        }
        TAVRO_TRY(set_item(sources.get(), uuid_to_pystring(source), weights));
    }
    return sources;
}

PyResult<OwnedRef> list_deleted_edges(const Diff& diff) {
    OwnedRef sources = py::created(PyDict_New());
    for (const auto& [source, targets] : diff.edges.deleted) {
        if (targets.empty()) {
            continue;
        }
        TAVRO_TRY(set_item(sources.get(), uuid_to_pystring(source), id_list(targets)));
    }
    return sources;
}

}  // namespace tavro::ext
