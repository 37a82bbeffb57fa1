"""The PyGraphDiff methods as Python sees them: the diff's rules observed
through the listings and counts, the shape of results, snapshots that are
never views, failed calls that change nothing, signatures and docstrings."""

import inspect
import os
import subprocess
import sys

import pytest

from diff_model import id_text, snapshot
from tavro_api import PyGraphDiff

A, B, C, D = (bytes([n]) * 16 for n in (0xA1, 0xB2, 0xC3, 0xD4))
a, b, c, d_ = (id_text(x) for x in (A, B, C, D))


def observe(diff):
    """Listings and counts, with the unordered lists sorted."""
    return {
        "nodes": diff.new_or_updated_nodes(),
        "deleted_nodes": sorted(diff.deleted_nodes()),
        "edges": diff.new_or_updated_edges(),
        "deleted_edges": {k: sorted(v) for k, v in diff.deleted_edges().items()},
        "num_nodes": diff.num_nodes(),
        "num_edges": diff.num_edges(),
    }


def expect(nodes=None, deleted_nodes=(), edges=None, deleted_edges=None, num_nodes=0, num_edges=0):
    return {
        "nodes": nodes or {},
        "deleted_nodes": sorted(deleted_nodes),
        "edges": edges or {},
        "deleted_edges": deleted_edges or {},
        "num_nodes": num_nodes,
        "num_edges": num_edges,
    }


def run(diff, ops):
    for name, *args in ops:
        assert getattr(diff, name)(*args) is None


SCENARIOS = {
    "new diff": ([], expect()),
    "clear on a new diff": ([("clear",)], expect()),
    "updates merge field by field": (
        [("add_node", A, {"label": "x", "size": 2.0}), ("add_node", A, {"size": 3.0, "red": 10})],
        expect(nodes={a: {"label": "x", "size": 3.0, "red": 10}}, num_nodes=1),
    ),
    "the later value of a field wins, empty and zero included": (
        [
            ("add_node", A, {"label": "first", "red": 200, "show_label": True}),
            ("add_node", A, {"label": "", "red": 0, "show_label": False}),
        ],
        expect(nodes={a: {"label": "", "red": 0, "show_label": False}}, num_nodes=1),
    ),
    "an empty update changes nothing": (
        [("add_node", A, {"url": "u"}), ("add_node", A, {}), ("add_node", B, {})],
        expect(nodes={a: {"url": "u"}, b: {}}, num_nodes=2),
    ),
    "add after delete keeps only the new update and the delete's edge records": (
        [
            ("add_node", A, {"label": "x", "red": 1}),
            ("add_edge", B, A, 1.0),
            ("delete_node", A),
            ("add_node", A, {"size": 1.0}),
        ],
        expect(nodes={a: {"size": 1.0}}, deleted_edges={b: [a]}, num_nodes=1, num_edges=2),
    ),
    "deleting an unseen node records it once": (
        [("delete_node", A), ("delete_node", A)],
        expect(deleted_nodes=[a], num_nodes=1),
    ),
    "re-added node accepts the edge again and drops its deletion record": (
        [
            ("add_edge", A, B, 1.0),
            ("delete_node", B),
            ("add_node", B, {}),
            ("add_edge", A, B, 5.0),
        ],
        expect(nodes={b: {}}, edges={a: {b: 5.0}}, num_nodes=1, num_edges=1),
    ),
    "deleting a node drops its self-loop without a record": (
        [("add_edge", A, A, 1.0), ("delete_node", A)],
        expect(deleted_nodes=[a], num_nodes=1),
    ),
    "deleting the middle node keeps the emptied inner map": (
        [("add_edge", A, B, 2.0), ("add_edge", B, C, 1.0), ("delete_node", B)],
        expect(deleted_nodes=[b], deleted_edges={a: [b]}, num_nodes=1, num_edges=2),
    ),
    "deleting a node keeps deletion records out of it": (
        [("delete_edge", A, B), ("delete_node", A)],
        expect(deleted_nodes=[a], deleted_edges={a: [b]}, num_nodes=1, num_edges=1),
    ),
    "deleting a node records only the edges into it": (
        [("add_edge", A, B, 1.0), ("add_edge", A, C, 2.0), ("add_edge", D, B, 3.0), ("delete_node", B)],
        expect(
            deleted_nodes=[b],
            edges={a: {c: 2.0}},
            deleted_edges={a: [b], d_: [b]},
            num_nodes=1,
            num_edges=4,
        ),
    ),
    "an edge to a deleted node is refused silently": (
        [("delete_node", B), ("add_edge", A, B, 1.0)],
        expect(deleted_nodes=[b], num_nodes=1),
    ),
    "an edge from a deleted node is refused silently": (
        [("delete_node", A), ("add_edge", A, B, 1.0)],
        expect(deleted_nodes=[a], num_nodes=1),
    ),
    "a refused edge leaves its deletion record": (
        [("delete_edge", A, B), ("delete_node", B), ("add_edge", A, B, 1.0)],
        expect(deleted_nodes=[b], deleted_edges={a: [b]}, num_nodes=1, num_edges=1),
    ),
    "a second weight replaces the first": (
        [("add_edge", A, B, 1.0), ("add_edge", A, B, 3.5)],
        expect(edges={a: {b: 3.5}}, num_edges=1),
    ),
    "adding a deleted edge removes the record and an emptied set": (
        [("delete_edge", A, B), ("add_edge", A, B, 0.25)],
        expect(edges={a: {b: 0.25}}, num_edges=1),
    ),
    "adding a deleted edge keeps the source's other records": (
        [("delete_edge", A, B), ("delete_edge", A, C), ("add_edge", A, B, 0.25)],
        expect(edges={a: {b: 0.25}}, deleted_edges={a: [c]}, num_edges=2),
    ),
    "deleting the only pending edge removes its source": (
        [("add_edge", A, B, 1.0), ("delete_edge", A, B)],
        expect(deleted_edges={a: [b]}, num_edges=1),
    ),
    "deleting one of two pending edges keeps the other": (
        [("add_edge", A, B, 1.0), ("add_edge", A, C, 2.0), ("delete_edge", A, B)],
        expect(edges={a: {c: 2.0}}, deleted_edges={a: [b]}, num_edges=2),
    ),
    "an edge never pending is recorded even between deleted nodes": (
        [("delete_node", A), ("delete_node", B), ("delete_edge", A, B)],
        expect(deleted_nodes=[a, b], deleted_edges={a: [b]}, num_nodes=2, num_edges=1),
    ),
    "deleting any edge of a source with an emptied map removes the map": (
        [("add_edge", A, B, 1.0), ("delete_node", B), ("delete_edge", A, C)],
        expect(deleted_nodes=[b], deleted_edges={a: [b, c]}, num_nodes=1, num_edges=1),
    ),
    "adding an edge to a source with an emptied map fills it": (
        [("add_edge", A, B, 1.0), ("delete_node", B), ("add_edge", A, C, 4.0)],
        expect(
            deleted_nodes=[b],
            edges={a: {c: 4.0}},
            deleted_edges={a: [b]},
            num_nodes=1,
            num_edges=2,
        ),
    ),
    "three edges out of one source count once": (
        [("add_edge", A, B, 1.0), ("add_edge", A, C, 1.0), ("add_edge", A, D, 1.0)],
        expect(edges={a: {b: 1.0, c: 1.0, d_: 1.0}}, num_edges=1),
    ),
    "a pending and a deleted edge of one source count twice": (
        [("add_edge", A, B, 1.0), ("delete_edge", A, C)],
        expect(edges={a: {b: 1.0}}, deleted_edges={a: [c]}, num_edges=2),
    ),
    "clear empties everything": (
        [
            ("add_node", A, {"label": "x"}),
            ("delete_node", B),
            ("add_edge", A, C, 1.0),
            ("delete_edge", C, D),
            ("clear",),
        ],
        expect(),
    ),
    "a cleared diff records again": (
        [("delete_node", A), ("clear",), ("add_edge", A, B, 2.0)],
        expect(edges={a: {b: 2.0}}, num_edges=1),
    ),
}


@pytest.mark.parametrize("ops, expected", SCENARIOS.values(), ids=SCENARIOS.keys())
def test_rules_seen_through_the_listings(ops, expected):
    diff = PyGraphDiff()
    run(diff, ops)
    assert observe(diff) == expected


def test_new_diff_listings_have_the_documented_types():
    diff = PyGraphDiff()
    assert type(diff.new_or_updated_nodes()) is dict
    assert type(diff.deleted_nodes()) is list
    assert type(diff.new_or_updated_edges()) is dict
    assert type(diff.deleted_edges()) is dict


def test_listing_values_have_the_documented_types():
    diff = PyGraphDiff()
    diff.add_node(A, {"label": "x"})
    diff.delete_node(B)
    diff.add_edge(A, C, 2)
    diff.delete_edge(C, A)
    assert snapshot(diff)["num_nodes"] == 2  # snapshot checks every type on its way
    (weight,) = diff.new_or_updated_edges()[a].values()
    assert type(weight) is float and weight == 2.0


def test_results_are_new_objects_that_never_write_back():
    diff = PyGraphDiff()
    run(
        diff,
        [
            ("add_node", A, {"label": "x", "red": 1}),
            ("delete_node", B),
            ("add_edge", A, C, 1.0),
            ("delete_edge", C, D),
        ],
    )
    before = observe(diff)

    nodes = diff.new_or_updated_nodes()
    nodes[a]["label"] = "y"
    nodes[a]["green"] = 5
    nodes[c] = {}
    deleted = diff.deleted_nodes()
    deleted.append(c)
    deleted.remove(b)
    edges = diff.new_or_updated_edges()
    edges[a][c] = 9.0
    edges[a][d_] = 1.0
    edges[b] = {}
    deleted_edges = diff.deleted_edges()
    deleted_edges[c].append(a)
    deleted_edges.clear()

    assert observe(diff) == before
    assert diff.new_or_updated_nodes() is not diff.new_or_updated_nodes()
    assert diff.new_or_updated_nodes()[a] is not diff.new_or_updated_nodes()[a]
    assert diff.deleted_nodes() is not diff.deleted_nodes()
    assert diff.new_or_updated_edges()[a] is not diff.new_or_updated_edges()[a]
    assert diff.deleted_edges()[c] is not diff.deleted_edges()[c]


def populated():
    diff = PyGraphDiff()
    run(
        diff,
        [
            ("add_node", A, {"label": "x", "size": 1.5}),
            ("add_node", B, {"show_label": True}),
            ("delete_node", D),
            ("add_edge", A, B, 1.0),
            ("add_edge", B, C, 2.0),
            ("delete_edge", C, A),
        ],
    )
    return diff


class Raises:
    def __init__(self, error):
        self.error = error

    def __float__(self):
        raise self.error


FAILING_CALLS = {
    "add_node binding": lambda x: x.add_node(A, {}, 1),
    "add_node missing": lambda x: x.add_node(C),
    "add_node bad id": lambda x: x.add_node(b"short", {"label": "z"}),
    "add_node bad update type": lambda x: x.add_node(C, []),
    "add_node bad later field": lambda x: x.add_node(A, {"label": "new", "url": "u", "red": 999}),
    "add_node bad show_label": lambda x: x.add_node(A, {"label": "new", "show_label": 1}),
    "add_node surrogate": lambda x: x.add_node(A, {"label": "ok", "url": "\udc00"}),
    "delete_node bad id": lambda x: x.delete_node(bytearray(A)),
    "delete_node keyword": lambda x: x.delete_node(A, nope=1),
    "add_edge bad from": lambda x: x.add_edge(b"", B, 1.0),
    "add_edge bad to": lambda x: x.add_edge(A, A.hex(), 1.0),
    "add_edge bad weight": lambda x: x.add_edge(A, C, "1.0"),
    "add_edge weight overflow": lambda x: x.add_edge(A, C, 10**400),
    "add_edge weight raises": lambda x: x.add_edge(A, C, Raises(ValueError("v"))),
    "add_edge missing weight": lambda x: x.add_edge(A, C),
    "delete_edge bad to": lambda x: x.delete_edge(A, None),
    "delete_edge bad from": lambda x: x.delete_edge(memoryview(A), B),
    "delete_edge too many": lambda x: x.delete_edge(A, B, C),
    "clear with argument": lambda x: x.clear(True),
}


@pytest.mark.parametrize("call", FAILING_CALLS.values(), ids=FAILING_CALLS.keys())
def test_a_failing_mutating_call_changes_nothing(call):
    diff = populated()
    before = snapshot(diff)
    with pytest.raises(Exception):
        call(diff)
    assert snapshot(diff) == before
    # And the object goes on working.
    diff.add_node(C, {"label": "after"})
    assert diff.new_or_updated_nodes()[c] == {"label": "after"}


def test_a_refused_edge_changes_nothing_and_returns_none():
    diff = populated()
    before = snapshot(diff)
    assert diff.add_edge(A, D, 7.0) is None
    assert diff.add_edge(D, A, 7.0) is None
    assert diff.add_edge(D, D, 7.0) is None
    assert snapshot(diff) == before


def test_counts_follow_many_changes():
    diff = PyGraphDiff()
    ids = [i.to_bytes(16, "big") for i in range(600)]
    for i, node in enumerate(ids):
        diff.add_node(node, {"red": i % 256})
        diff.add_edge(node, ids[(i + 1) % len(ids)], float(i))
    assert diff.num_nodes() == 600 and diff.num_edges() == 600
    for node in ids[:100]:
        diff.delete_node(node)
    # Deleting 0..99 in order drops their own edges unrecorded; the only edge
    # into them left pending by then is 599 -> 0, which becomes a record and
    # leaves 599 with an empty map that is counted but not listed.
    assert diff.num_nodes() == 600
    assert len(diff.new_or_updated_nodes()) == 500
    assert len(diff.deleted_nodes()) == 100
    assert diff.num_edges() == 500 + 1
    assert len(diff.new_or_updated_edges()) == 499
    assert diff.deleted_edges() == {id_text(ids[599]): [id_text(ids[0])]}
    assert id_text(ids[599]) not in diff.new_or_updated_edges()
    diff.clear()
    assert diff.num_nodes() == 0 and diff.num_edges() == 0


# ---------------------------------------------------------------- shape of the methods

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


def test_method_table_order():
    own = [name for name in vars(PyGraphDiff) if not name.startswith("__")]
    assert own == list(SIGNATURES)


@pytest.mark.parametrize(
    "name, parameters",
    [
        ("add_node", ["id", "update"]),
        ("delete_node", ["id"]),
        ("num_nodes", []),
        ("clear", []),
    ],
)
def test_inspect_signature_of_bound_methods(name, parameters):
    signature = inspect.signature(getattr(PyGraphDiff(), name))
    assert list(signature.parameters) == parameters
    for parameter in signature.parameters.values():
        assert parameter.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD
        assert parameter.default is inspect.Parameter.empty


def test_only_the_documented_methods_are_defined():
    own = {name for name in vars(PyGraphDiff)}
    assert own - set(SIGNATURES) <= {"__new__", "__doc__", "__module__"}


# ---------------------------------------------------------------- walk order

HISTORY_SCRIPT = r"""
from tavro_api import PyGraphDiff
d = PyGraphDiff()
ids = [bytes([(i * 37 + k) % 256 for k in range(16)]) for i in range(40)]
for i, x in enumerate(ids):
    d.add_node(x, {"red": i})
    d.add_edge(x, ids[(i * 7) % 40], float(i))
    d.add_edge(x, ids[(i * 11) % 40], float(i))
    d.delete_edge(ids[(i * 3) % 40], x)
for x in ids[::5]:
    d.delete_node(x)
print(repr((list(d.new_or_updated_nodes().items()), d.deleted_nodes(),
            [(k, list(v.items())) for k, v in d.new_or_updated_edges().items()],
            list(d.deleted_edges().items()))))
"""


def test_the_same_history_lists_in_the_same_order_in_every_run():
    outputs = []
    for seed in ("0", "4242"):
        env = dict(os.environ, PYTHONHASHSEED=seed, PYTHONPATH=os.pathsep.join(sys.path))
        result = subprocess.run(
            [sys.executable, "-c", HISTORY_SCRIPT],
            env=env,
            capture_output=True,
            text=True,
            timeout=120,
        )
        assert result.returncode == 0, result.stderr
        outputs.append(result.stdout)
    assert outputs[0] == outputs[1]
    # And in this process too.
    namespace = {}
    from contextlib import redirect_stdout
    from io import StringIO

    buffer = StringIO()
    with redirect_stdout(buffer):
        exec(HISTORY_SCRIPT, namespace)
    assert buffer.getvalue() == outputs[0]
