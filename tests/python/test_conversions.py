"""Values crossing the boundary: weights and sizes narrowed to 32-bit floats at
the edges of rounding, and the exact errors of ids and weights, reworded to name
the argument only when they are exactly TypeError. (Ids out as text, rounding in
general and node update dicts are checked against the model in test_rules.py.)"""

import math
import struct
import uuid

import pytest
from diff_model import FloatLike, IndexLike, Raises, canon_float, id_text
from tavro_api import PyGraphDiff

A, B = bytes(range(16)), bytes(range(16, 32))

BAD_IDS = {  # bad id -> the cause's class and text
    "15 bytes": (bytes(15), Exception, "Expected 16 bytes."),
    "bytearray": (bytearray(16), TypeError, "'bytearray' object cannot be converted to 'PyBytes'"),
    "UUID": (uuid.UUID(bytes=A), TypeError, "'UUID' object cannot be converted to 'PyBytes'"),
    "qualified name": (type("Inner", (), {"__qualname__": "Outer.Inner"})(), TypeError,
                       "'Outer.Inner' object cannot be converted to 'PyBytes'"),
}  # fmt: skip
ID_ARGUMENTS = [("add_node", "id", lambda x: (x, {})), ("delete_node", "id", lambda x: (x,)),
                ("add_edge", "from", lambda x: (x, B, 1.0)), ("add_edge", "to", lambda x: (A, x, 1.0)),
                ("delete_edge", "from", lambda x: (x, B)), ("delete_edge", "to", lambda x: (A, x))]  # fmt: skip


@pytest.mark.parametrize("bad, cause_type, cause_text", BAD_IDS.values(), ids=BAD_IDS)
def test_bad_id_is_a_field_error_with_the_cause(bad, cause_type, cause_text):
    for index, (method, name, make_args) in enumerate(ID_ARGUMENTS):
        if index and bad is not BAD_IDS["15 bytes"][0]:
            continue  # every argument name once, every cause once
        with pytest.raises(TypeError) as info:
            getattr(PyGraphDiff(), method)(*make_args(bad))
        error = info.value
        assert (type(error), str(error)) == (
            TypeError,
            f"argument '{name}': failed to extract field PyUuid.0",
        )
        assert (type(error.__cause__), error.__cause__.args) == (cause_type, (cause_text,))
        assert error.__cause__.__cause__ is None


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


ROOT = LookupError("root")


def with_cause(error, cause):
    error.__cause__ = cause
    return error


WEIGHT_TYPE_ERRORS = {  # weight -> message after "argument 'weight': ", cause
    "str": ("1.0", "must be real number, not str", None),
    "complex": (1j, "must be real number, not complex", None),
    "__float__ returns an int": (FloatLike(1), "FloatLike.__float__ returned non-float (type int)", None),
    "raised with a cause": (Raises(with_cause(TypeError("bad"), ROOT)), "bad", ROOT),
    "unprintable": (Raises(TypeError(type("U", (), {"__str__": lambda s: 1 / 0})())),
                    "<unprintable TypeError object>", None),
}  # fmt: skip


@pytest.mark.parametrize(
    "weight, message, cause", WEIGHT_TYPE_ERRORS.values(), ids=WEIGHT_TYPE_ERRORS
)
def test_a_weight_type_error_becomes_a_new_one_naming_weight(weight, message, cause, monkeypatch):
    monkeypatch.setattr("sys.unraisablehook", lambda u: None)
    with pytest.raises(TypeError) as info:
        PyGraphDiff().add_edge(A, B, weight)
    assert type(info.value) is TypeError and info.value is not getattr(weight, "error", None)
    assert str(info.value) == f"argument 'weight': {message}" and info.value.__cause__ is cause
