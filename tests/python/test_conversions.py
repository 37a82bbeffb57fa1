"""Values crossing the boundary: weights and sizes narrowed to 32-bit floats at
the edges of rounding, and a weight's TypeError whose text cannot be read. (Ids
out as text, rounding in general and node update dicts are checked against the
model in test_rules.py; the exact errors of ids and weights are rows of the
shared case list.)"""

import math
import struct

import pytest
from cases import A, B
from diff_model import IndexLike, Raises, canon_float, id_text
from tavro_api import PyGraphDiff


def stored(weight):
    d = PyGraphDiff()
    d.add_edge(A, B, weight)
    d.add_node(A, {"size": weight})
    (listed,) = d.new_or_updated_edges()[id_text(A)].values()
    assert canon_float(listed) == canon_float(d.new_or_updated_nodes()[id_text(A)]["size"])
    return listed


FLT_MAX = struct.unpack("<f", b"\xff\xff\x7f\x7f")[0]
MIDPOINT = (2 - 2.0**-24) * 2.0**127  # between FLT_MAX and the next step up
ROUNDING = {
    "negative underflow keeps the sign": (-1e-46, -0.0),
    "smallest subnormal": (1e-45, 2.0**-149),
    "tie at zero goes to even 0": (2.0**-150, 0.0),
    "just below the overflow midpoint": (math.nextafter(MIDPOINT, 0.0), FLT_MAX),
    "overflow midpoint": (-MIDPOINT, -math.inf),
    "tie to even below": (1 + 2.0**-24, 1.0),
    "just above a tie": (1 + 2.0**-24 + 2.0**-40, 1 + 2.0**-23),
    "-1 from __index__": (IndexLike(-1), -1.0),
    "float subclass by its value": (type("F", (float,), {"__float__": lambda s: 9.0})(0.5), 0.5),
}


@pytest.mark.parametrize("value, expected", ROUNDING.values(), ids=ROUNDING)
def test_weights_and_sizes_round_to_nearest_even_32_bit(value, expected):
    assert canon_float(stored(value)) == canon_float(expected)


def test_a_weight_type_error_that_cannot_be_printed_is_named_as_such(monkeypatch):
    monkeypatch.setattr("sys.unraisablehook", lambda u: None)
    error = TypeError(type("U", (), {"__str__": lambda s: 1 / 0})())
    with pytest.raises(TypeError) as info:
        PyGraphDiff().add_edge(A, B, Raises(error))
    assert type(info.value) is TypeError and info.value is not error
    assert str(info.value) == "argument 'weight': <unprintable TypeError object>"
