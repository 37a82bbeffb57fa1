// The methods of PyGraphDiff. Every method takes the same road: bind the
// arguments, borrow the receiver, convert every argument (all of
// them before the diff is touched, so a failing call changes nothing), run one
// model operation or build one listing, release the borrow.
#include "extension/py_graph_diff_methods.hpp"

#include <string_view>

#include "boundary/argument_binding.hpp"
#include "boundary/call_wrapper.hpp"
#include "boundary/error_forms.hpp"
#include "boundary/panic.hpp"
#include "extension/borrow.hpp"
#include "extension/byte_methods.hpp"
#include "extension/float_narrowing.hpp"
#include "extension/id_conversion.hpp"
#include "extension/listings.hpp"
#include "extension/node_update_dict.hpp"
#include "extension/number_conversion.hpp"

namespace tavro::ext {

namespace {

using py::OwnedRef;
using py::PyResult;

constexpr std::string_view kClassName = "PyGraphDiff";

// The interpreter's method descriptors pass every method an instance of the
// class, which has no subclasses, as its receiver.
PyGraphDiffObject* receiver(PyObject* self) noexcept {
    return reinterpret_cast<PyGraphDiffObject*>(self);
}

OwnedRef none() {
    return OwnedRef::borrow(Py_None);
}

// A method without parameters: borrows the receiver (shared or exclusive) and
// runs `body` on the diff.
template <class Borrow, class Body>
PyObject* method_without_arguments(PyObject* self, Body body) {
    return py::call_entry([&]() -> PyResult<OwnedRef> {
        TAVRO_TRY_ASSIGN(Borrow borrow, Borrow::take(receiver(self)));
        return body(borrow.diff());
    });
}

// A method without parameters that reads the diff under a shared borrow.
template <class Build>
PyObject* reading_method(PyObject* self, Build build) {
    return method_without_arguments<SharedBorrow>(self, build);
}

// Binds the arguments, then borrows the receiver exclusively.
template <std::size_t N>
struct BoundCall {
    std::array<PyObject*, N> args;
    ExclusiveBorrow borrow;
};

template <std::size_t N>
PyResult<BoundCall<N>> begin_changing_call(const py::FunctionDescription& function, PyObject* self,
                                           PyObject* const* args, Py_ssize_t nargs,
                                           PyObject* kwnames) {
    TAVRO_TRY_ASSIGN(auto bound, py::bind_fastcall<N>(function, args, nargs, kwnames));
    TAVRO_TRY_ASSIGN(ExclusiveBorrow borrow, ExclusiveBorrow::take(receiver(self)));
    return BoundCall<N>{bound, std::move(borrow)};
}

PyObject* new_or_updated_nodes(PyObject* self, PyObject*) {
    return reading_method(self, list_new_or_updated_nodes);
}

PyObject* deleted_nodes(PyObject* self, PyObject*) {
    return reading_method(self, list_deleted_nodes);
}

PyObject* new_or_updated_edges(PyObject* self, PyObject*) {
    return reading_method(self, list_new_or_updated_edges);
}

PyObject* deleted_edges(PyObject* self, PyObject*) {
    return reading_method(self, list_deleted_edges);
}

PyObject* num_nodes(PyObject* self, PyObject*) {
    return reading_method(self, [](const Diff& diff) -> PyResult<OwnedRef> {
        return count_to_pyint(diff.num_nodes());
    });
}

PyObject* num_edges(PyObject* self, PyObject*) {
    return reading_method(self, [](const Diff& diff) -> PyResult<OwnedRef> {
        return count_to_pyint(diff.num_edges());
    });
}

// A method with parameters that changes the diff: binds, borrows exclusively,
// then runs `change`, which converts every argument before touching the diff.
template <std::size_t N, class Change>
PyObject* changing_method(const py::FunctionDescription& function, PyObject* self,
                          PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                          Change change) {
    return py::call_entry([&]() -> PyResult<OwnedRef> {
        TAVRO_TRY_ASSIGN(BoundCall<N> call,
                         begin_changing_call<N>(function, self, args, nargs, kwnames));
        TAVRO_TRY(change(call.args, call.borrow.diff()));
        return none();
    });
}

struct Edge {
    Uuid from;
    Uuid to;
};

PyResult<Edge> edge_arguments(PyObject* from, PyObject* to) {
    TAVRO_TRY_ASSIGN(const Uuid source, id_argument(from, "from"));
    TAVRO_TRY_ASSIGN(const Uuid target, id_argument(to, "to"));
    return Edge{source, target};
}

void add_edge_to(Diff& diff, const Edge& edge, float weight) {
    // An edge with an endpoint marked deleted is refused by the model without
    // changing anything; the method returns None all the same.
    diff.add_edge(edge.from, edge.to, Weight::of(weight));
}

// The common call of add_edge and delete_edge takes a short road: positional
// arguments only, a receiver with no borrow held, ids that are exactly bytes
// of 16 and a weight that is exactly a float. Nothing on it can run Python
// code or fail, so no other call can see the diff while it changes, and
// binding, error values, the borrow and the extra reference to the receiver
// can all be left out. Every other call (keywords, arguments of other types,
// a borrow held) takes the full road, which makes every error in its order.
PyGraphDiffObject* plain_receiver(PyObject* self, Py_ssize_t nargsf, PyObject* kwnames,
                                  Py_ssize_t arity) noexcept {
    if (kwnames != nullptr || PyVectorcall_NARGS(static_cast<std::size_t>(nargsf)) != arity) {
        return nullptr;
    }
    PyGraphDiffObject* object = receiver(self);
    return object->borrow_flag == 0 ? object : nullptr;
}

bool is_plain_id(PyObject* object) noexcept {
    return PyBytes_CheckExact(object) && PyBytes_GET_SIZE(object) == 16;
}

Edge plain_edge(PyObject* const* args) noexcept {
    return Edge{Uuid::from_bytes(PyBytes_AS_STRING(args[0])),
                Uuid::from_bytes(PyBytes_AS_STRING(args[1]))};
}

PyObject* add_node(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr std::string_view kParameters[] = {"id", "update"};
    static constexpr py::FunctionDescription kFunction{kClassName, "add_node", kParameters};
    return changing_method<2>(
        kFunction, self, args, nargs, kwnames,
        [](const std::array<PyObject*, 2>& bound, Diff& diff) -> PyResult<void> {
            TAVRO_TRY_ASSIGN(const Uuid id, id_argument(bound[0], "id"));
            // The table's misses then overlap those of reading a cold dict.
            diff.load_node_home(id);
            PyResult<NodeUpdate> update = pydict_to_node_update(bound[1]);
            if (!update) {
                return py::reword_argument_error("update", std::move(update).error());
            }
            diff.add_or_update_node(id, std::move(update).value());
            return {};
        });
}

PyObject* delete_node(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr std::string_view kParameters[] = {"id"};
    static constexpr py::FunctionDescription kFunction{kClassName, "delete_node", kParameters};
    return changing_method<1>(
        kFunction, self, args, nargs, kwnames,
        [](const std::array<PyObject*, 1>& bound, Diff& diff) -> PyResult<void> {
            TAVRO_TRY_ASSIGN(const Uuid id, id_argument(bound[0], "id"));
            diff.delete_node(id);
            return {};
        });
}

PyObject* add_edge(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (PyGraphDiffObject* object = plain_receiver(self, nargs, kwnames, 3);
        object != nullptr && is_plain_id(args[0]) && is_plain_id(args[1]) &&
        PyFloat_CheckExact(args[2])) {
        return py::call_entry([&] {
            add_edge_to(object->diff, plain_edge(args),
                        narrow_to_float(PyFloat_AS_DOUBLE(args[2])));
            return none();
        });
    }
    static constexpr std::string_view kParameters[] = {"from", "to", "weight"};
    static constexpr py::FunctionDescription kFunction{kClassName, "add_edge", kParameters};
    return changing_method<3>(
        kFunction, self, args, nargs, kwnames,
        [](const std::array<PyObject*, 3>& bound, Diff& diff) -> PyResult<void> {
            TAVRO_TRY_ASSIGN(const Edge edge, edge_arguments(bound[0], bound[1]));
            PyResult<float> weight = pyobject_to_float32(bound[2]);
            if (!weight) {
                return py::reword_argument_error("weight", std::move(weight).error());
            }
            add_edge_to(diff, edge, weight.value());
            return {};
        });
}

PyObject* delete_edge(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (PyGraphDiffObject* object = plain_receiver(self, nargs, kwnames, 2);
        object != nullptr && is_plain_id(args[0]) && is_plain_id(args[1])) {
        return py::call_entry([&] {
            const Edge edge = plain_edge(args);
            object->diff.delete_edge(edge.from, edge.to);
            return none();
        });
    }
    static constexpr std::string_view kParameters[] = {"from", "to"};
    static constexpr py::FunctionDescription kFunction{kClassName, "delete_edge", kParameters};
    return changing_method<2>(
        kFunction, self, args, nargs, kwnames,
        [](const std::array<PyObject*, 2>& bound, Diff& diff) -> PyResult<void> {
            TAVRO_TRY_ASSIGN(const Edge edge, edge_arguments(bound[0], bound[1]));
            diff.delete_edge(edge.from, edge.to);
            return {};
        });
}

PyObject* clear(PyObject* self, PyObject*) {
    return method_without_arguments<ExclusiveBorrow>(self, [](Diff& diff) -> PyResult<OwnedRef> {
        diff.clear();
        return none();
    });
}

PyObject* to_bytes(PyObject* self, PyObject*) {
    return reading_method(self, diff_to_pybytes);
}

PyObject* from_bytes(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::call_entry([&]() -> PyResult<OwnedRef> {
        static constexpr std::string_view kParameters[] = {"bytes"};
        static constexpr py::FunctionDescription kFunction{kClassName, "from_bytes", kParameters};
        TAVRO_TRY_ASSIGN(const auto bound, py::bind_fastcall<1>(kFunction, args, nargs, kwnames));
        return pybytes_to_py_graph_diff(bound[0]);
    });
}

template <class F>
PyCFunction as_cfunction(F function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

constexpr int kNoArgs = METH_NOARGS;
constexpr int kFastKeywords = METH_FASTCALL | METH_KEYWORDS;

}  // namespace

PyMethodDef* py_graph_diff_methods() {
    static PyMethodDef methods[] = {
        {"new_or_updated_nodes", as_cfunction(new_or_updated_nodes), kNoArgs,
         "new_or_updated_nodes($self)\n--\n\n"},
        {"deleted_nodes", as_cfunction(deleted_nodes), kNoArgs, "deleted_nodes($self)\n--\n\n"},
        {"new_or_updated_edges", as_cfunction(new_or_updated_edges), kNoArgs,
         "new_or_updated_edges($self)\n--\n\n"},
        {"deleted_edges", as_cfunction(deleted_edges), kNoArgs, "deleted_edges($self)\n--\n\n"},
        {"num_nodes", as_cfunction(num_nodes), kNoArgs, "num_nodes($self)\n--\n\n"},
        {"num_edges", as_cfunction(num_edges), kNoArgs, "num_edges($self)\n--\n\n"},
        {"add_node", as_cfunction(add_node), kFastKeywords, "add_node($self, id, update)\n--\n\n"},
        {"delete_node", as_cfunction(delete_node), kFastKeywords, "delete_node($self, id)\n--\n\n"},
        {"add_edge", as_cfunction(add_edge), kFastKeywords,
         "add_edge($self, from, to, weight)\n--\n\n"},
        {"delete_edge", as_cfunction(delete_edge), kFastKeywords,
         "delete_edge($self, from, to)\n--\n\n"},
        {"clear", as_cfunction(clear), kNoArgs, "clear($self)\n--\n\n"},
        {"to_bytes", as_cfunction(to_bytes), kNoArgs, "to_bytes($self)\n--\n\n"},
        {"from_bytes", as_cfunction(from_bytes), kFastKeywords | METH_STATIC,
         "from_bytes(bytes)\n--\n\n"},
        {nullptr, nullptr, 0, nullptr},
    };
    return methods;
}

}  // namespace tavro::ext
