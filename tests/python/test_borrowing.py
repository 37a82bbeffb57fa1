"""Calls into a diff from Python code that runs inside one of its changing
methods (an argument's conversion), from the same thread or another one, are
refused by the borrow counter, which is free again after every call."""

import gc
import threading
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
    weight = Nested(call, message, propagate=True)
    weight.diff = d
    with pytest.raises(RuntimeError) as info:
        d.add_edge(A, C, weight)
    assert info.value is weight.raised and str(info.value) == message
    assert snapshot(d) == before
    swallowed = Nested(call, message)
    swallowed.diff = d
    d.add_node(B, {"red": swallowed})  # the conversion goes on after the refusal
    assert str(swallowed.raised) == message and d.new_or_updated_nodes()[id_text(B)]["red"] == 4


def test_a_key_compared_in_the_lookup_cannot_change_the_diff():
    d = populated()
    before = snapshot(d)
    key = type("Key", (), {"__hash__": lambda _: hash("label"), "__eq__": lambda *_: d.clear()})()
    with pytest.raises(RuntimeError, match=CHANGING):
        d.add_node(B, {key: 1})
    assert snapshot(d) == before


def test_other_diffs_stay_free_and_the_receiver_stays_alive():
    other, holder = PyGraphDiff(), [populated()]

    def touch_others(_):
        other.add_node(B, {"red": 9})
        holder.clear()  # the last other reference to the receiver goes
        gc.collect()

    weight = Nested(touch_others, None)
    holder[0].add_edge(A, C, weight)
    assert holder == [] and weight.raised is None and other.num_nodes() == 1


def test_other_threads_are_refused_while_a_change_lets_go_of_the_lock():
    d = populated()
    inside, done, seen = threading.Event(), threading.Event(), []

    class Slow:
        def __float__(self):
            inside.set()
            done.wait(10)  # lets go of the interpreter lock
            return 1.0

    def other_thread():
        inside.wait(10)
        for call in [d.num_nodes, d.to_bytes, lambda: d.add_node(C, {}), d.clear]:
            try:
                call()
                seen.append("ran")
            except RuntimeError as error:
                seen.append(str(error))
        done.set()

    thread = threading.Thread(target=other_thread)
    thread.start()
    d.add_edge(A, C, Slow())
    thread.join(10)
    assert seen == [READING, READING, CHANGING, CHANGING]
    assert d.new_or_updated_edges()[id_text(A)][id_text(C)] == 1.0
