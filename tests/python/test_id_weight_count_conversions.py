"""Conversions of the plain values that cross the boundary: ids (16 bytes in,
36-character text out), edge weights (narrowed to 32-bit floats), and the
argument errors of both. Counts and the types in every listing are checked by
the snapshot helper the stateful test uses."""

import math
import struct
import uuid

import pytest
from diff_model import (
    FloatLike,
    IndexLike,
    Raises,
    TypeErrorSubclass,
    Unprintable,
    canon_float,
    f32,
    id_text,
)  # fmt: skip
from hypothesis import given
from hypothesis import strategies as st
from tavro_api import PyGraphDiff

A = bytes(range(16))
B = bytes(range(16, 32))


class IdBytes(bytes):
    pass


# ---------------------------------------------------------------- ids


@given(st.binary(min_size=16, max_size=16))
def test_id_text_is_the_standard_hyphenated_form_in_every_listing(raw):
    text = str(uuid.UUID(bytes=raw))
    added, deleted = PyGraphDiff(), PyGraphDiff()
    added.add_node(raw, {})
    added.add_edge(raw, raw, 1.0)
    deleted.delete_node(raw)
    deleted.delete_edge(raw, raw)
    assert list(added.new_or_updated_nodes()) == [text]
    assert added.new_or_updated_edges() == {text: {text: 1.0}}
    assert deleted.deleted_nodes() == [text]
    assert deleted.deleted_edges() == {text: [text]}


def test_ids_are_matched_on_all_sixteen_bytes_and_bytes_subclasses_by_content():
    d = PyGraphDiff()
    base = bytes(16)
    for i in range(16):
        d.add_node(base[:i] + b"\x01" + base[i + 1 :], {"red": i})
    d.add_node(base, {"red": 200})
    assert d.num_nodes() == 17
    d.add_node(IdBytes(base), {"green": 1})
    assert d.num_nodes() == 17
    assert d.new_or_updated_nodes()[id_text(base)] == {"red": 200, "green": 1}


ID_PARAMETERS = {
    "add_node id": ("add_node", "id", lambda bad: (bad, {})),
    "delete_node id": ("delete_node", "id", lambda bad: (bad,)),
    "add_edge from": ("add_edge", "from", lambda bad: (bad, B, 1.0)),
    "add_edge to": ("add_edge", "to", lambda bad: (A, bad, 1.0)),
    "delete_edge from": ("delete_edge", "from", lambda bad: (bad, B)),
    "delete_edge to": ("delete_edge", "to", lambda bad: (A, bad)),
}

# (bad id, type of the cause, text of the cause)
LENGTH = (Exception, "Expected 16 bytes.")
NESTED_CLASS = type("Inner", (), {"__qualname__": "Outer.Inner"})


def mismatch(name):
    return TypeError, f"'{name}' object cannot be converted to 'PyBytes'"


BAD_IDS = {
    "15 bytes": (bytes(15), *LENGTH),
    "17 bytes": (bytes(17), *LENGTH),
    "subclass, 32 bytes": (IdBytes(bytes(32)), *LENGTH),
    "bytearray": (bytearray(16), *mismatch("bytearray")),
    "memoryview": (memoryview(A), *mismatch("memoryview")),
    "text form": (id_text(A), *mismatch("str")),
    "UUID": (uuid.UUID(bytes=A), *mismatch("UUID")),
    "None": (None, *mismatch("NoneType")),
    "qualified name": (NESTED_CLASS(), *mismatch("Outer.Inner")),
}


@pytest.mark.parametrize("method, name, make_args", ID_PARAMETERS.values(), ids=ID_PARAMETERS)
@pytest.mark.parametrize("bad, cause_type, cause_text", BAD_IDS.values(), ids=BAD_IDS)
def test_bad_id_is_a_field_error_naming_the_argument(
    method, name, make_args, bad, cause_type, cause_text
):
    d = PyGraphDiff()
    with pytest.raises(TypeError) as info:
        getattr(d, method)(*make_args(bad))
    error = info.value
    assert type(error) is TypeError
    assert str(error) == f"argument '{name}': failed to extract field PyUuid.0"
    assert type(error.__cause__) is cause_type
    assert error.__cause__.args == (cause_text,)
    assert error.__cause__.__cause__ is None
    assert d.num_nodes() == 0 and d.num_edges() == 0


@pytest.mark.parametrize(
    "method, args, name",
    [("add_edge", (b"bad", b"bad", "bad"), "from"), ("add_edge", (A, b"bad", "bad"), "to"),
     ("add_edge", (A, B, "bad"), "weight"), ("add_node", (b"bad", []), "id")],
    ids=["from first", "to before weight", "weight last", "id before update"],
)  # fmt: skip
def test_arguments_are_converted_in_parameter_order(method, args, name):
    with pytest.raises(TypeError) as info:
        getattr(PyGraphDiff(), method)(*args)
    assert str(info.value).startswith(f"argument '{name}': ")


# ---------------------------------------------------------------- weights


def stored_weight(weight):
    """The weight as listed back; canon_float checks it is a float."""
    d = PyGraphDiff()
    d.add_edge(A, B, weight)
    (value,) = d.new_or_updated_edges()[id_text(A)].values()
    return value


class FloatSubclass(float):
    def __float__(self):
        return 99.0


FLT_MAX = struct.unpack("<f", b"\xff\xff\x7f\x7f")[0]
FLT_TRUE_MIN = 2.0**-149
# The midpoint between FLT_MAX and the next (unrepresentable) step up.
OVERFLOW_MIDPOINT = (2 - 2.0**-24) * 2.0**127

WEIGHTS = {
    "-1.0": (-1.0, -1.0),
    "1e39 overflows": (1e39, math.inf),
    "below half the smallest subnormal": (1e-46, 0.0),
    "negative underflow keeps the sign": (-1e-46, -0.0),
    "smallest subnormal from 1e-45": (1e-45, FLT_TRUE_MIN),
    "-0.0": (-0.0, -0.0),
    "NaN": (math.nan, math.nan),
    "FLT_MAX": (FLT_MAX, FLT_MAX),
    "just below the overflow midpoint": (math.nextafter(OVERFLOW_MIDPOINT, 0.0), FLT_MAX),
    "overflow midpoint": (OVERFLOW_MIDPOINT, math.inf),
    "negative overflow midpoint": (-OVERFLOW_MIDPOINT, -math.inf),
    "tie at zero: even is 0": (FLT_TRUE_MIN / 2, 0.0),
    "tie to even below": (1 + 2.0**-24, 1.0),
    "tie to even above": (1 + 3 * 2.0**-24, 1 + 2.0**-22),
    "just above a tie": (1 + 2.0**-24 + 2.0**-40, 1 + 2.0**-23),
    "True": (True, 1.0),
    "int": (3, 3.0),
    "int rounds": (2**24 + 1, 16777216.0),
    "large int": (10**38, f32(1e38)),
    "-1.0 from __float__ is a value": (FloatLike(-1.0), -1.0),
    "-1 from __index__ is a value": (IndexLike(-1), -1.0),
    "float subclass by its value": (FloatSubclass(0.5), 0.5),
}


@pytest.mark.parametrize("weight, expected", WEIGHTS.values(), ids=WEIGHTS)
def test_weight_is_narrowed_to_32_bits_with_round_to_nearest_even(weight, expected):
    assert canon_float(stored_weight(weight)) == canon_float(expected)


@given(st.floats(allow_nan=False) | st.integers(min_value=-(2**64), max_value=2**64))
def test_weight_matches_single_precision_rounding(weight):
    assert canon_float(stored_weight(weight)) == canon_float(f32(float(weight)))


ROOT = LookupError("root cause")


def with_cause(error, cause):
    error.__cause__ = cause
    return error


@pytest.mark.parametrize(
    "weight, message, cause",
    [
        ("1.0", "must be real number, not str", None),
        (None, "must be real number, not NoneType", None),
        (1j, "must be real number, not complex", None),
        (FloatLike(1), "FloatLike.__float__ returned non-float (type int)", None),
        (Raises(TypeError("plain")), "plain", None),
        (Raises(with_cause(TypeError("bad float"), ROOT)), "bad float", ROOT),
    ],
    ids=["str", "None", "complex", "__float__ returns an int", "raised", "raised with a cause"],
)
def test_weight_type_error_is_a_new_one_naming_weight_with_the_old_cause(weight, message, cause):
    d = PyGraphDiff()
    with pytest.raises(TypeError) as info:
        d.add_edge(A, B, weight)
    assert type(info.value) is TypeError
    assert info.value is not getattr(weight, "error", None)
    assert str(info.value) == f"argument 'weight': {message}"
    assert info.value.__cause__ is cause
    assert d.num_edges() == 0


@pytest.mark.parametrize(
    "weight",
    [Raises(ValueError("v")), Raises(TypeErrorSubclass("sub")), Raises(OverflowError("o")),
     Raises(KeyError("k")), 10**400],
    ids=["ValueError", "TypeError subclass", "OverflowError", "KeyError", "int beyond a double"],
)  # fmt: skip
def test_weight_errors_other_than_an_exact_type_error_pass_unchanged(weight):
    d = PyGraphDiff()
    with pytest.raises(BaseException) as info:
        d.add_edge(A, B, weight)
    if isinstance(weight, Raises):
        assert info.value is weight.error
    else:
        assert type(info.value) is OverflowError
        assert str(info.value) == "int too large to convert to float"
    assert d.num_edges() == 0


def test_reworded_type_error_with_unprintable_message_uses_placeholder(monkeypatch):
    reported = []
    monkeypatch.setattr("sys.unraisablehook", lambda u: reported.append(u.exc_type))
    with pytest.raises(TypeError) as info:
        PyGraphDiff().add_edge(A, B, Raises(TypeError(Unprintable())))
    assert str(info.value) == "argument 'weight': <unprintable TypeError object>"
    assert reported == [RuntimeError]
