"""Conversions of the plain values that cross the boundary: ids (16 bytes in,
36-character text out), edge weights (narrowed to 32-bit floats) and counts,
and the argument errors of ids and weights."""

import math
import struct
import uuid

import pytest
from hypothesis import given
from hypothesis import strategies as st

from diff_model import f32, id_text
from tavro_api import PyGraphDiff

A = bytes(range(16))
B = bytes(range(16, 32))
A_TEXT = "00010203-0405-0607-0809-0a0b0c0d0e0f"
B_TEXT = "10111213-1415-1617-1819-1a1b1c1d1e1f"


class IdBytes(bytes):
    pass


class Outer:
    class Inner:
        pass


# ---------------------------------------------------------------- ids


@pytest.mark.parametrize(
    "raw, text",
    [
        (bytes(range(16)), "00010203-0405-0607-0809-0a0b0c0d0e0f"),
        (b"\x00" * 16, "00000000-0000-0000-0000-000000000000"),
        (b"\xff" * 16, "ffffffff-ffff-ffff-ffff-ffffffffffff"),
        (bytes.fromhex("a0b1c2d3e4f5061728394a5b6c7d8e9f"), "a0b1c2d3-e4f5-0617-2839-4a5b6c7d8e9f"),
        (IdBytes(bytes(range(16))), "00010203-0405-0607-0809-0a0b0c0d0e0f"),
    ],
)
def test_id_text_in_every_listing(raw, text):
    other = bytes(x ^ 0x5A for x in raw)
    other_text = id_text(other)
    d = PyGraphDiff()
    d.add_node(raw, {})
    d.delete_node(other)
    d.add_edge(raw, raw, 1.0)
    d.delete_edge(other, raw)
    nodes = d.new_or_updated_nodes()
    assert list(nodes) == [text]
    assert d.deleted_nodes() == [other_text]
    assert d.new_or_updated_edges() == {text: {text: 1.0}}
    assert d.deleted_edges() == {other_text: [text]}
    (source,) = d.new_or_updated_edges()
    (target,) = d.new_or_updated_edges()[source]
    for key in [*nodes, *d.deleted_nodes(), source, target, *d.deleted_edges()[other_text]]:
        assert type(key) is str


@given(st.binary(min_size=16, max_size=16))
def test_id_text_is_the_standard_hyphenated_form(raw):
    d = PyGraphDiff()
    d.delete_node(raw)
    assert d.deleted_nodes() == [str(uuid.UUID(bytes=raw))]


def test_ids_are_matched_on_all_sixteen_bytes():
    d = PyGraphDiff()
    base = bytes(16)
    for i in range(16):
        other = bytearray(base)
        other[i] = 1
        d.add_node(bytes(other), {"red": i})
    d.add_node(base, {"red": 200})
    assert len(d.new_or_updated_nodes()) == 17
    # A bytes subclass with the same content names the same node.
    d.add_node(IdBytes(base), {"green": 1})
    assert d.num_nodes() == 17
    assert d.new_or_updated_nodes()[id_text(base)] == {"red": 200, "green": 1}


ID_PARAMETERS = [
    ("add_node", "id", lambda bad: (bad, {})),
    ("delete_node", "id", lambda bad: (bad,)),
    ("add_edge", "from", lambda bad: (bad, B, 1.0)),
    ("add_edge", "to", lambda bad: (A, bad, 1.0)),
    ("delete_edge", "from", lambda bad: (bad, B)),
    ("delete_edge", "to", lambda bad: (A, bad)),
]


@pytest.mark.parametrize("method, name, make_args", ID_PARAMETERS)
@pytest.mark.parametrize("bad", [b"", b"x", bytes(15), bytes(17), IdBytes(bytes(32))])
def test_id_of_wrong_length_is_caused_by_plain_exception(method, name, make_args, bad):
    d = PyGraphDiff()
    with pytest.raises(TypeError) as info:
        getattr(d, method)(*make_args(bad))
    error = info.value
    assert type(error) is TypeError
    assert str(error) == f"argument '{name}': failed to extract field PyUuid.0"
    cause = error.__cause__
    assert type(cause) is Exception
    assert cause.args == ("Expected 16 bytes.",)
    assert d.num_nodes() == 0 and d.num_edges() == 0


@pytest.mark.parametrize("method, name, make_args", ID_PARAMETERS)
@pytest.mark.parametrize(
    "bad, type_name",
    [
        (bytearray(16), "bytearray"),
        (A_TEXT, "str"),
        (memoryview(A), "memoryview"),
        (uuid.UUID(bytes=A), "UUID"),
        (12345, "int"),
        (None, "NoneType"),
        (list(A), "list"),
        (Outer.Inner(), "Outer.Inner"),
    ],
)
def test_id_of_wrong_type_is_caused_by_type_mismatch(method, name, make_args, bad, type_name):
    d = PyGraphDiff()
    with pytest.raises(TypeError) as info:
        getattr(d, method)(*make_args(bad))
    error = info.value
    assert str(error) == f"argument '{name}': failed to extract field PyUuid.0"
    cause = error.__cause__
    assert type(cause) is TypeError
    assert str(cause) == f"'{type_name}' object cannot be converted to 'PyBytes'"
    assert cause.__cause__ is None


@pytest.mark.parametrize(
    "args, name",
    [
        ((b"bad", b"bad", "bad"), "from"),
        ((A, b"bad", "bad"), "to"),
        ((A, B, "bad"), "weight"),
    ],
)
def test_add_edge_converts_from_then_to_then_weight(args, name):
    with pytest.raises(TypeError) as info:
        PyGraphDiff().add_edge(*args)
    assert str(info.value).startswith(f"argument '{name}': ")


def test_add_node_converts_id_before_update():
    with pytest.raises(TypeError) as info:
        PyGraphDiff().add_node(b"bad", [])
    assert str(info.value) == "argument 'id': failed to extract field PyUuid.0"


# ---------------------------------------------------------------- weights


def stored_weight(weight):
    d = PyGraphDiff()
    d.add_edge(A, B, weight)
    value = d.new_or_updated_edges()[A_TEXT][B_TEXT]
    assert type(value) is float
    return value


def same_float(a, b):
    """Equal as IEEE values, with the sign of zero and NaN-ness compared too."""
    if math.isnan(a) or math.isnan(b):
        return math.isnan(a) and math.isnan(b)
    return a == b and math.copysign(1.0, a) == math.copysign(1.0, b)


class FloatLike:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class IndexLike:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class FloatSubclass(float):
    def __float__(self):
        return 99.0


FLT_MAX = struct.unpack("<f", b"\xff\xff\x7f\x7f")[0]
FLT_TRUE_MIN = 2.0**-149
# The midpoint between FLT_MAX and the next (unrepresentable) step up.
OVERFLOW_MIDPOINT = (2 - 2.0**-24) * 2.0**127

WEIGHTS = [
    (0.1, 0.10000000149011612),
    (1.0, 1.0),
    (-1.0, -1.0),
    (3.4e38, 3.3999999521443642e38),
    (1e39, math.inf),
    (-1e39, -math.inf),
    (1e40, math.inf),
    (math.inf, math.inf),
    (-math.inf, -math.inf),
    (1e-46, 0.0),
    (-1e-46, -0.0),
    (1e-45, 1.401298464324817e-45),
    (0.0, 0.0),
    (-0.0, -0.0),
    (math.nan, math.nan),
    (FLT_MAX, FLT_MAX),
    (math.nextafter(OVERFLOW_MIDPOINT, 0.0), FLT_MAX),
    (OVERFLOW_MIDPOINT, math.inf),
    (-OVERFLOW_MIDPOINT, -math.inf),
    (FLT_TRUE_MIN, FLT_TRUE_MIN),
    (FLT_TRUE_MIN / 2, 0.0),  # a tie between 0 and the smallest subnormal: even is 0
    (FLT_TRUE_MIN * 0.75, FLT_TRUE_MIN),
    (1 + 2.0**-24, 1.0),  # tie: rounds to the even neighbour 1.0
    (1 + 3 * 2.0**-24, 1 + 2.0**-22),  # tie: rounds to the even neighbour above
    (1 + 2.0**-24 + 2.0**-40, 1 + 2.0**-23),  # just above the tie
    (True, 1.0),
    (False, 0.0),
    (3, 3.0),
    (-7, -7.0),
    (2**24 + 1, 16777216.0),
    (10**38, f32(1e38)),
    (FloatLike(2.5), 2.5),
    (FloatLike(-1.0), -1.0),  # -1.0 with no error pending is a value
    (IndexLike(7), 7.0),
    (IndexLike(-1), -1.0),
    (FloatSubclass(0.5), 0.5),  # a float's own value; its __float__ is not called
]


@pytest.mark.parametrize("weight, expected", WEIGHTS, ids=repr)
def test_weight_is_narrowed_to_32_bits_with_round_to_nearest_even(weight, expected):
    assert same_float(stored_weight(weight), expected)


@given(st.floats(allow_nan=False) | st.integers(min_value=-(2**64), max_value=2**64))
def test_weight_matches_single_precision_rounding(weight):
    assert same_float(stored_weight(weight), f32(float(weight)))


@pytest.mark.parametrize(
    "weight, message",
    [
        ("1.0", "argument 'weight': must be real number, not str"),
        (None, "argument 'weight': must be real number, not NoneType"),
        (b"1", "argument 'weight': must be real number, not bytes"),
        ([1.0], "argument 'weight': must be real number, not list"),
        (1j, "argument 'weight': must be real number, not complex"),
    ],
)
def test_weight_type_error_is_reworded_to_name_weight(weight, message):
    d = PyGraphDiff()
    with pytest.raises(TypeError) as info:
        d.add_edge(A, B, weight)
    assert type(info.value) is TypeError
    assert str(info.value) == message
    assert d.num_edges() == 0


def test_weight_float_returning_non_float_is_reworded():
    with pytest.raises(TypeError) as info:
        PyGraphDiff().add_edge(A, B, FloatLike(1))
    assert str(info.value).startswith("argument 'weight': ")
    assert "non-float" in str(info.value)


class Raises:
    def __init__(self, error):
        self.error = error

    def __float__(self):
        raise self.error


class TypeErrorSubclass(TypeError):
    pass


@pytest.mark.parametrize(
    "error",
    [
        ValueError("from __float__"),
        TypeErrorSubclass("subclass of TypeError"),
        OverflowError("custom overflow"),
        KeyError("k"),
    ],
    ids=lambda e: type(e).__name__,
)
def test_weight_errors_of_other_classes_pass_unchanged(error):
    d = PyGraphDiff()
    with pytest.raises(BaseException) as info:
        d.add_edge(A, B, Raises(error))
    assert info.value is error
    assert d.num_edges() == 0


def test_weight_int_too_large_for_a_float_is_overflow_error_unchanged():
    with pytest.raises(OverflowError) as info:
        PyGraphDiff().add_edge(A, B, 10**400)
    assert type(info.value) is OverflowError
    assert not str(info.value).startswith("argument")


def test_reworded_type_error_keeps_the_cause_of_the_old_one():
    root = LookupError("root cause")
    original = TypeError("bad float")
    original.__cause__ = root
    with pytest.raises(TypeError) as info:
        PyGraphDiff().add_edge(A, B, Raises(original))
    error = info.value
    assert error is not original
    assert str(error) == "argument 'weight': bad float"
    assert error.__cause__ is root


def test_reworded_type_error_without_cause_has_none():
    with pytest.raises(TypeError) as info:
        PyGraphDiff().add_edge(A, B, Raises(TypeError("plain")))
    assert str(info.value) == "argument 'weight': plain"
    assert info.value.__cause__ is None


class Unprintable:
    def __str__(self):
        raise RuntimeError("cannot print")


def test_reworded_type_error_with_unprintable_message_uses_placeholder(monkeypatch):
    reported = []
    monkeypatch.setattr("sys.unraisablehook", lambda u: reported.append(u.exc_type))
    with pytest.raises(TypeError) as info:
        PyGraphDiff().add_edge(A, B, Raises(TypeError(Unprintable())))
    assert str(info.value) == "argument 'weight': <unprintable TypeError object>"
    assert reported == [RuntimeError]


# ---------------------------------------------------------------- counts


def test_counts_are_plain_ints():
    d = PyGraphDiff()
    assert type(d.num_nodes()) is int and d.num_nodes() == 0
    assert type(d.num_edges()) is int and d.num_edges() == 0
    d.add_node(A, {})
    d.add_edge(A, B, 1.0)
    assert type(d.num_nodes()) is int and d.num_nodes() == 1
    assert type(d.num_edges()) is int and d.num_edges() == 1
