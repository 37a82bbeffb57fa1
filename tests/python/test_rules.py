"""The diff's rules seen from Python: every case of the shared list against the
model (a failed call raises exactly, changes nothing and leaves the object usable), and random
histories against the model with the byte form as one more step. (The rules
written out case by case are the C++ history table.)"""

import math

import pytest
from cases import CASES, C, call, expected_error, expected_model, populated
from diff_model import DiffModel, id_text, snapshot
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, invariant, precondition, rule
from tavro_api import PyGraphDiff


@pytest.mark.parametrize("name", CASES)
def test_each_call_does_what_the_model_says_or_fails_changing_nothing(name):
    case = CASES[name]
    diff = populated()
    before = snapshot(diff)
    dicts = [(arg, dict(arg)) for arg in case[1] if isinstance(arg, dict)]
    result, error = call(diff, case)
    assert all(dict(arg) == copy for arg, copy in dicts)  # the caller's dict is left alone
    error_type, message, cause = expected_error(case)
    assert (type(error) if error else None) is error_type, error
    assert message is None or str(error) == message
    if cause:  # a new exception, whose cause has no cause of its own
        assert (type(error.__cause__), str(error.__cause__), error.__cause__.__cause__) == (
            *cause,
            None,
        )
    assert snapshot(diff) == (before if error_type else expected_model(case).snapshot())
    if isinstance(result, (dict, list)):  # a listing is the caller's own
        result.clear()
        assert snapshot(diff) == before
    diff.add_node(C, {"label": "after"})  # no borrow is left held
    assert diff.new_or_updated_nodes()[id_text(C)]["label"] == "after"


IDS = st.sampled_from([bytes([n]) * 15 + bytes([n ^ 0xFF]) for n in range(6)])
WEIGHTS = (st.floats(width=32) | st.floats(allow_nan=False) | st.booleans()
           | st.integers(min_value=-(2**64), max_value=2**64))  # fmt: skip
UPDATES = st.fixed_dictionaries(
    {},
    optional={
        "label": st.text(max_size=8),
        "url": st.text(max_size=8),
        "size": st.floats(width=32) | st.floats() | st.integers(-(2**64), 2**64),
        "red": st.integers(0, 255),
        "green": st.integers(0, 255),
        "blue": st.integers(0, 255) | st.booleans(),
        "show_label": st.booleans(),
        "showLabel": st.booleans(),  # not a field: ignored
    },
)


class DiffAgainstModel(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.diff, self.model, self.scanned = PyGraphDiff(), DiffModel(), False

    @rule(node=IDS, update=UPDATES)
    def add_node(self, node, update):
        assert self.diff.add_node(node, update) is None
        self.model.add_node(node, update)

    @rule(node=IDS)
    def delete_node(self, node):
        assert self.diff.delete_node(node) is None
        self.model.delete_node(node)

    @precondition(lambda self: self.model.edges and not self.scanned)
    @rule(node=IDS)
    def delete_node_until_indexed(self, node):  # 2**16 sources scanned pay for an index
        for _ in range(2**16 // len(self.model.edges) + 1):
            self.diff.delete_node(node)
        self.model.delete_node(node)
        self.scanned = True

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

    @rule()
    def through_bytes(self):
        """Written twice alike and read back; only a non-finite size is lost."""
        data = self.diff.to_bytes()
        assert self.diff.to_bytes() == data
        self.diff = PyGraphDiff.from_bytes(data)
        for fields in self.model.nodes.values():
            if "size" in fields and not math.isfinite(fields["size"]):
                del fields["size"]

    @invariant()
    def listings_and_counts_agree(self):
        assert snapshot(self.diff) == self.model.snapshot()


TestDiffAgainstModel = DiffAgainstModel.TestCase
