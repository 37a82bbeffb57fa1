"""Calls into a diff from Python code that runs inside one of its changing
methods (an argument's conversion) are refused by the borrow counter, which
is free again after every call. Another thread that runs while a conversion
has let go of the interpreter lock meets the same counter, so the nested calls
below stand for it too."""

import gc
from operator import methodcaller

import pytest
from cases import A, B, C, Nested, populated
from diff_model import id_text, snapshot
from tavro_api import PyGraphDiff

READING, CHANGING = "Already mutably borrowed", "Already borrowed"
NESTED = {
    **{name: (methodcaller(name), READING) for name in [
        "new_or_updated_nodes", "deleted_nodes", "new_or_updated_edges", "deleted_edges",
        "num_nodes", "num_edges", "to_bytes"]},
    "add_node": (methodcaller("add_node", C, {}), CHANGING),
    "delete_node": (methodcaller("delete_node", C), CHANGING),
    "add_edge": (methodcaller("add_edge", C, A, 1.0), CHANGING),
    "delete_edge": (methodcaller("delete_edge", C, A), CHANGING),
    "clear": (methodcaller("clear"), CHANGING),
}  # fmt: skip


@pytest.mark.parametrize("call, message", NESTED.values(), ids=NESTED)
def test_nested_call_is_refused_and_frees_the_counter(call, message):
    d = populated()
    before = snapshot(d)
    weight = Nested(call, propagate=True)
    weight.diff = d
    with pytest.raises(RuntimeError) as info:
        d.add_edge(A, C, weight)
    assert info.value is weight.raised and str(info.value) == message
    assert snapshot(d) == before
    swallowed = Nested(call)
    swallowed.diff = d
    d.add_node(B, {"red": swallowed})  # the conversion goes on after the refusal
    assert str(swallowed.raised) == message and d.new_or_updated_nodes()[id_text(B)]["red"] == 4


def test_other_diffs_stay_free_and_the_receiver_stays_alive():
    other, holder = PyGraphDiff(), [populated()]

    def touch_others(_):
        other.add_node(B, {"red": 9})
        holder.clear()  # the last other reference to the receiver goes
        gc.collect()

    weight = Nested(touch_others)
    holder[0].add_edge(A, C, weight)
    assert holder == [] and weight.raised is None and other.num_nodes() == 1
