"""Calls into a diff from Python code that runs inside one of its changing
methods (an argument's conversion) are refused by the borrow counter, which
is free again after every call: each method's refusal is a row of the shared
case list. Another thread that runs while a conversion has let go of the
interpreter lock meets the same counter, so the nested calls stand for it too.
Here: other diffs stay free and the receiver stays alive."""

import gc

from cases import A, B, C, Nested, populated
from tavro_api import PyGraphDiff


def test_other_diffs_stay_free_and_the_receiver_stays_alive():
    other, holder = PyGraphDiff(), [populated()]

    def touch_others(_):
        other.add_node(B, {"red": 9})
        holder.clear()  # the last other reference to the receiver goes
        gc.collect()

    weight = Nested(touch_others)
    holder[0].add_edge(A, C, weight)
    assert holder == [] and weight.raised is None and other.num_nodes() == 1
