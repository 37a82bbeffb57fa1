"""Calls made on a diff from Python code that runs inside one of its own
changing methods (an argument's conversion) are refused by the borrow
counter, and the counter is free again after every call, failed or not."""

import pytest

from diff_model import id_text, snapshot
from tavro_api import PyGraphDiff

A, B, C = (bytes([n]) * 16 for n in (1, 2, 3))
a, b, c = (id_text(x) for x in (A, B, C))

READING_CALLS = {
    "new_or_updated_nodes": lambda d: d.new_or_updated_nodes(),
    "deleted_nodes": lambda d: d.deleted_nodes(),
    "new_or_updated_edges": lambda d: d.new_or_updated_edges(),
    "deleted_edges": lambda d: d.deleted_edges(),
    "num_nodes": lambda d: d.num_nodes(),
    "num_edges": lambda d: d.num_edges(),
    "to_bytes": lambda d: d.to_bytes(),
}

CHANGING_CALLS = {
    "add_node": lambda d: d.add_node(C, {"label": "nested"}),
    "delete_node": lambda d: d.delete_node(C),
    "add_edge": lambda d: d.add_edge(C, A, 1.0),
    "delete_edge": lambda d: d.delete_edge(C, A),
    "clear": lambda d: d.clear(),
}

NESTED = [(name, call, "Already mutably borrowed") for name, call in READING_CALLS.items()] + [
    (name, call, "Already borrowed") for name, call in CHANGING_CALLS.items()
]


def populated():
    d = PyGraphDiff()
    d.add_node(A, {"label": "a"})
    d.add_edge(A, B, 0.5)
    d.delete_edge(B, A)
    return d


class Reentrant:
    """Calls `nested(diff)` from its conversion; swallows the error if asked
    to, otherwise lets it propagate."""

    def __init__(self, diff, nested, swallow=False, value=2.0):
        self.diff = diff
        self.nested = nested
        self.swallow = swallow
        self.value = value
        self.raised = None

    def _run(self):
        try:
            self.nested(self.diff)
        except RuntimeError as error:
            self.raised = error
            if not self.swallow:
                raise

    def __float__(self):
        self._run()
        return self.value

    def __index__(self):
        self._run()
        return int(self.value)


@pytest.mark.parametrize("name, nested, message", NESTED, ids=[n[0] for n in NESTED])
def test_nested_call_from_a_weight_propagates_unchanged(name, nested, message):
    d = populated()
    before = snapshot(d)
    weight = Reentrant(d, nested)
    with pytest.raises(RuntimeError) as info:
        d.add_edge(A, C, weight)
    assert info.value is weight.raised
    assert type(info.value) is RuntimeError
    assert str(info.value) == message
    assert snapshot(d) == before
    # The counter is free again: both kinds of borrow succeed.
    d.add_edge(A, C, 3.0)
    assert d.new_or_updated_edges()[a][c] == 3.0


@pytest.mark.parametrize("name, nested, message", NESTED, ids=[n[0] for n in NESTED])
def test_nested_call_swallowed_by_the_weight_lets_add_edge_succeed(name, nested, message):
    d = populated()
    weight = Reentrant(d, nested, swallow=True, value=4.0)
    assert d.add_edge(A, C, weight) is None
    assert str(weight.raised) == message
    assert d.new_or_updated_edges() == {a: {b: 0.5, c: 4.0}}
    assert d.new_or_updated_nodes() == {a: {"label": "a"}}


@pytest.mark.parametrize("key", ["size", "red", "green", "blue"])
@pytest.mark.parametrize(
    "nested, message",
    [
        (READING_CALLS["num_nodes"], "Already mutably borrowed"),
        (READING_CALLS["new_or_updated_nodes"], "Already mutably borrowed"),
        (CHANGING_CALLS["delete_node"], "Already borrowed"),
    ],
)
def test_nested_call_from_a_node_update_value(key, nested, message):
    d = populated()
    before = snapshot(d)
    value = Reentrant(d, nested, value=7.0)
    with pytest.raises(RuntimeError) as info:
        d.add_node(B, {"label": "b", key: value})
    assert info.value is value.raised and str(info.value) == message
    assert snapshot(d) == before
    d.add_node(B, {key: 1})
    assert d.new_or_updated_nodes()[b] == {key: 1.0 if key == "size" else 1}


def test_nested_call_from_a_size_swallowed_lets_add_node_succeed():
    d = populated()
    size = Reentrant(d, READING_CALLS["num_edges"], swallow=True, value=1.5)
    d.add_node(A, {"size": size})
    assert str(size.raised) == "Already mutably borrowed"
    assert d.new_or_updated_nodes() == {a: {"label": "a", "size": 1.5}}


class ReentrantKey:
    """A stored key that is compared with "label" and calls the diff then."""

    def __init__(self, diff):
        self.diff = diff

    def __hash__(self):
        return hash("label")

    def __eq__(self, other):
        self.diff.num_nodes()
        return False


def test_nested_call_from_a_key_comparison_during_lookup():
    d = populated()
    before = snapshot(d)
    with pytest.raises(RuntimeError) as info:
        d.add_node(B, {ReentrantKey(d): 1})
    assert str(info.value) == "Already mutably borrowed"
    assert snapshot(d) == before


def test_other_diffs_are_not_borrowed():
    d = populated()
    other = PyGraphDiff()

    def touch_other(_):
        other.add_node(B, {"red": 9})
        other.add_edge(B, C, 1.0)
        assert other.num_nodes() == 1

    weight = Reentrant(d, touch_other, value=6.0)
    d.add_edge(A, C, weight)
    assert weight.raised is None
    assert other.new_or_updated_nodes() == {b: {"red": 9}}
    assert d.new_or_updated_edges()[a] == {b: 0.5, c: 6.0}


def test_a_new_diff_made_inside_a_call_is_free():
    d = populated()
    made = []

    def make(_):
        inner = PyGraphDiff()
        inner.add_edge(A, B, 1.0)
        made.append(inner.num_edges())

    d.add_edge(A, C, Reentrant(d, make))
    assert made == [1]


class Failing:
    def __float__(self):
        raise ValueError("no")


FAILURES = [
    lambda d: d.add_node(b"bad", {}),
    lambda d: d.add_node(A, {"red": -1}),
    lambda d: d.add_node(A, []),
    lambda d: d.delete_node(None),
    lambda d: d.add_edge(A, B, Failing()),
    lambda d: d.add_edge(A, B, "x"),
    lambda d: d.add_edge(A, B, Reentrant(d, READING_CALLS["num_nodes"])),
    lambda d: d.add_edge(A, B, Reentrant(d, CHANGING_CALLS["clear"])),
    lambda d: d.delete_edge(A, b"x" * 17),
    lambda d: d.add_node(A, {}, extra=1),
]


def test_every_failing_call_leaves_the_counter_free():
    d = populated()
    for call in FAILURES:
        with pytest.raises(Exception):
            call(d)
        # A shared and an exclusive borrow both succeed right after.
        assert d.num_edges() == 2
        d.add_node(A, {"url": "u"})
    assert d.new_or_updated_nodes() == {a: {"label": "a", "url": "u"}}
