"""The PyGraphDiff methods as Python sees them: a few of the diff's rules
pinned by exact listings and counts (the stateful test compares the rest with
the model), results and arguments never shared with the diff, failed calls
that change nothing, and the method table with its signatures."""

import pytest
from diff_model import Raises, canonical, id_text, snapshot
from tavro_api import PyGraphDiff

A, B, C, D = (bytes([n]) * 16 for n in (0xA1, 0xB2, 0xC3, 0xD4))
a, b, c, d_ = (id_text(x) for x in (A, B, C, D))


def expect(nodes={}, deleted_nodes=(), edges={}, deleted_edges={}, num_nodes=0, num_edges=0):
    # The defaults are only read, never changed.
    return canonical(nodes, deleted_nodes, edges, deleted_edges, num_nodes, num_edges)


def run(diff, ops):
    for name, *args in ops:
        assert getattr(diff, name)(*args) is None


# Rules where the model could share a misreading, written out in full.
SCENARIOS = {
    "deleting the middle node keeps the emptied inner map, counted but not listed": (
        [("add_edge", A, B, 2.0), ("add_edge", B, C, 1.0), ("delete_node", B)],
        expect(deleted_nodes=[b], deleted_edges={a: [b]}, num_nodes=1, num_edges=2),
    ),
    "deleting any edge of a source with an emptied map removes the map": (
        [("add_edge", A, B, 1.0), ("delete_node", B), ("delete_edge", A, C)],
        expect(deleted_nodes=[b], deleted_edges={a: [b, c]}, num_nodes=1, num_edges=1),
    ),
    "deleting a node drops its self-loop without a record": (
        [("add_edge", A, A, 1.0), ("delete_node", A)],
        expect(deleted_nodes=[a], num_nodes=1),
    ),
    "an edge never pending is recorded even between deleted nodes": (
        [("delete_node", A), ("delete_node", B), ("delete_edge", A, B)],
        expect(deleted_nodes=[a, b], deleted_edges={a: [b]}, num_nodes=2, num_edges=1),
    ),
    "edges count sources: three out of one count once": (
        [("add_edge", A, B, 1.0), ("add_edge", A, C, 1.0), ("add_edge", A, D, 1.0)],
        expect(edges={a: {b: 1.0, c: 1.0, d_: 1.0}}, num_edges=1),
    ),
    "edges count sources: a pending and a deleted edge of one source count twice": (
        [("add_edge", A, B, 1.0), ("delete_edge", A, C)],
        expect(edges={a: {b: 1.0}}, deleted_edges={a: [c]}, num_edges=2),
    ),
    "nodes count updated and deleted ones": (
        [("add_node", A, {"url": "u"}), ("add_node", A, {}), ("delete_node", B)],
        expect(nodes={a: {"url": "u"}}, deleted_nodes=[b], num_nodes=2),
    ),
}


@pytest.mark.parametrize("ops, expected", SCENARIOS.values(), ids=SCENARIOS)
def test_rules_seen_through_the_listings(ops, expected):
    diff = PyGraphDiff()
    run(diff, ops)
    assert snapshot(diff) == expected


def populated():
    diff = PyGraphDiff()
    run(diff, [("add_node", A, {"label": "x", "size": 1.5}), ("add_node", B, {"show_label": True}),
               ("delete_node", D), ("add_edge", A, B, 1.0), ("add_edge", B, C, 2.0),
               ("delete_edge", C, A)])  # fmt: skip
    return diff


def test_refused_edges_change_nothing_and_return_none():
    diff = populated()
    before = snapshot(diff)
    assert diff.add_edge(A, D, 7.0) is None
    assert diff.add_edge(D, A, 7.0) is None
    assert diff.add_edge(D, D, 7.0) is None
    assert snapshot(diff) == before


def test_results_and_arguments_are_never_shared_with_the_diff():
    diff, update = populated(), {"label": "z"}
    diff.add_node(C, update)
    before = snapshot(diff)
    update["label"], update["red"] = "changed", 3
    nodes, edges = diff.new_or_updated_nodes(), diff.new_or_updated_edges()
    nodes[a]["label"], nodes[d_] = "y", {}
    edges[a][c], edges[d_] = 9.0, {}
    deleted_edges = diff.deleted_edges()
    deleted_edges[c].append(a)
    deleted_edges[a] = [b]
    diff.deleted_nodes().append(c)
    assert snapshot(diff) == before


FAILING_CALLS = {
    "add_node binding": lambda x: x.add_node(A, {}, 1),
    "add_node bad id": lambda x: x.add_node(b"short", {"label": "z"}),
    "add_node bad update type": lambda x: x.add_node(C, []),
    "add_node bad later field": lambda x: x.add_node(A, {"label": "new", "url": "u", "red": 999}),
    "delete_node bad id": lambda x: x.delete_node(bytearray(A)),
    "add_edge bad to": lambda x: x.add_edge(A, A.hex(), 1.0),
    "add_edge bad weight": lambda x: x.add_edge(A, C, "1.0"),
    "add_edge weight raises": lambda x: x.add_edge(A, C, Raises(ValueError("v"))),
    "delete_edge bad to": lambda x: x.delete_edge(A, None),
}


@pytest.mark.parametrize("call", FAILING_CALLS.values(), ids=FAILING_CALLS)
def test_a_failing_mutating_call_changes_nothing(call):
    diff = populated()
    before = snapshot(diff)
    with pytest.raises(Exception):
        call(diff)
    assert snapshot(diff) == before
    # And the object goes on working, the borrow released.
    diff.add_node(C, {"label": "after"})
    assert diff.new_or_updated_nodes()[c] == {"label": "after"}


SIGNATURES = {
    "new_or_updated_nodes": "($self)",
    "deleted_nodes": "($self)",
    "new_or_updated_edges": "($self)",
    "deleted_edges": "($self)",
    "num_nodes": "($self)",
    "num_edges": "($self)",
    "add_node": "($self, id, update)",
    "delete_node": "($self, id)",
    "add_edge": "($self, from, to, weight)",
    "delete_edge": "($self, from, to)",
    "clear": "($self)",
    "to_bytes": "($self)",
    "from_bytes": "(bytes)",
}


@pytest.mark.parametrize("name, signature", SIGNATURES.items())
def test_text_signature_and_no_other_documentation(name, signature):
    method = getattr(PyGraphDiff, name)
    assert method.__text_signature__ == signature
    assert not method.__doc__  # the docstring holds nothing but the signature


def test_only_the_documented_methods_are_defined_in_table_order():
    own = list(vars(PyGraphDiff))
    assert [name for name in own if not name.startswith("__")] == list(SIGNATURES)
    assert {name for name in own if name.startswith("__")} <= {"__new__", "__doc__", "__module__"}


@pytest.mark.parametrize("method", [name for name, sig in SIGNATURES.items() if sig == "($self)"])
def test_methods_without_parameters_refuse_arguments_and_do_nothing(method):
    diff = populated()
    before = snapshot(diff)
    with pytest.raises(TypeError, match=r"takes no arguments \(1 given\)"):
        getattr(diff, method)(A)
    with pytest.raises(TypeError, match=r"takes no keyword arguments"):
        getattr(diff, method)(x=1)
    assert snapshot(diff) == before  # not even clear ran
