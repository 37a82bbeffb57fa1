"""Random sequences of changes applied both to a PyGraphDiff and to the
pure-Python model of the rules; after every step all four listings and both
counts must agree (order aside)."""

import math

from diff_model import DiffModel, snapshot
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, invariant, rule
from tavro_api import PyGraphDiff

# A small pool so that ids collide often.
IDS = st.sampled_from([bytes([n]) * 15 + bytes([n ^ 0xFF]) for n in range(6)])

WEIGHTS = st.one_of(
    st.floats(width=32),  # NaN and both infinities included
    st.sampled_from([0.0, -0.0, math.inf, -math.inf, 1.0, -1.0]),
    st.floats(allow_nan=False),  # any double, narrowed by the diff
    st.integers(min_value=-(2**40), max_value=2**40),
    st.booleans(),
)

UPDATES = st.fixed_dictionaries(
    {},
    optional={
        "label": st.text(max_size=8),
        "url": st.text(max_size=8),
        "size": st.floats(width=32) | st.floats() | st.integers(-1000, 1000),
        "red": st.integers(0, 255),
        "green": st.integers(0, 255),
        "blue": st.integers(0, 255) | st.booleans(),
        "show_label": st.booleans(),
        "showLabel": st.booleans(),  # not a field: ignored
        "extra": st.none(),  # not a field: ignored
    },
)


class DiffAgainstModel(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.diff = PyGraphDiff()
        self.model = DiffModel()

    @rule(node=IDS, update=UPDATES)
    def add_node(self, node, update):
        given = dict(update)
        assert self.diff.add_node(node, update) is None
        assert update == given  # never changed (a NaN value is the same object)
        self.model.add_node(node, update)

    @rule(node=IDS)
    def delete_node(self, node):
        assert self.diff.delete_node(node) is None
        self.model.delete_node(node)

    @rule(source=IDS, end=IDS, weight=WEIGHTS)
    def add_edge(self, source, end, weight):
        assert self.diff.add_edge(source, end, weight) is None
        self.model.add_edge(source, end, weight)

    @rule(source=IDS, end=IDS)
    def delete_edge(self, source, end):
        assert self.diff.delete_edge(source, end) is None
        self.model.delete_edge(source, end)

    @rule()
    def clear(self):
        assert self.diff.clear() is None
        self.model.clear()

    @invariant()
    def listings_and_counts_agree(self):
        assert snapshot(self.diff) == self.model.snapshot()


TestDiffAgainstModel = DiffAgainstModel.TestCase
