"""to_bytes and from_bytes: the byte form as Python sees it."""

import math
import struct

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from tavro_api import PyGraphDiff

A = bytes(range(16))
B = bytes(range(16, 32))
X = bytes([0xAA]) * 16


def u64(n):
    return struct.pack("<Q", n)


def id_block(raw, length=16):
    return u64(length) + raw


def text(raw: bytes) -> bytes:
    return u64(len(raw)) + raw


EMPTY = u64(0) * 4
ONLY_DELETED_X = u64(0) + u64(1) + id_block(X) + u64(0) * 2
ONLY_NODE_A = u64(1) + id_block(A) + text(b'{"label":"a"}') + u64(0) * 3
ONLY_EDGE_A_B = (
    u64(0) * 2 + u64(1) + id_block(A) + u64(1) + id_block(B) + bytes.fromhex("0000c03f") + u64(0)
)


def diff_of(*operations):
    d = PyGraphDiff()
    for name, *args in operations:
        getattr(d, name)(*args)
    return d


def content(d):
    """A diff's content in a form that compares equal whatever the order."""
    return (
        d.new_or_updated_nodes(),
        sorted(d.deleted_nodes()),
        d.new_or_updated_edges(),
        {source: sorted(targets) for source, targets in d.deleted_edges().items()},
        d.num_nodes(),
        d.num_edges(),
    )


@pytest.mark.parametrize(
    "expected, operations",
    [
        (EMPTY, []),
        (ONLY_DELETED_X, [("delete_node", X)]),
        (ONLY_NODE_A, [("add_node", A, {"label": "a"})]),
        (ONLY_EDGE_A_B, [("add_edge", A, B, 1.5)]),
    ],
    ids=["empty-32-zero-bytes", "deleted-node-56", "node-with-label-77", "edge-92"],
)
def test_worked_examples_byte_for_byte(expected, operations):
    assert diff_of(*operations).to_bytes() == expected
    assert content(PyGraphDiff.from_bytes(expected)) == content(diff_of(*operations))


BAD_INPUTS = {
    "empty": b"",
    "shorter-than-the-four-counts": EMPTY[:31],
    "id-length-15": u64(0) + u64(1) + u64(15) + X[:15] + u64(0) * 2,
    "id-length-17-past-the-end": u64(0) + u64(1) + u64(17) + X,
    "id-length-near-2-64": u64(0) + u64(1) + u64(2**64 - 1) + X + u64(0) * 2,
    "text-longer-than-the-rest": u64(1) + id_block(A) + u64(100) + b"{}" + u64(0) * 3,
    "text-not-utf8": u64(1) + id_block(A) + text(b'{"label":"\xff"}') + u64(0) * 3,
    "text-not-a-node-update": u64(1) + id_block(A) + text(b'{"red":256}') + u64(0) * 3,
    "count-2-40-with-little-data": u64(0) + u64(2**40) + id_block(X),
    "weight-cut-short": ONLY_EDGE_A_B[:-10],
}


@pytest.mark.parametrize("data", BAD_INPUTS.values(), ids=BAD_INPUTS.keys())
def test_unreadable_bytes_raise_the_one_fixed_exception(data):
    with pytest.raises(Exception) as raised:
        PyGraphDiff.from_bytes(data)
    assert type(raised.value) is Exception
    assert str(raised.value) == "Failed to deserialize graph diff."
    assert raised.value.__cause__ is None


class TestReadingKeepsWhatItReads:
    def test_trailing_bytes_are_ignored(self):
        assert content(PyGraphDiff.from_bytes(ONLY_NODE_A + b"\xff" * 9)) == content(
            PyGraphDiff.from_bytes(ONLY_NODE_A)
        )

    def test_id_both_updated_and_deleted_is_listed_twice(self):
        data = u64(1) + id_block(X) + text(b"{}") + u64(1) + id_block(X) + u64(0) * 2
        d = PyGraphDiff.from_bytes(data)
        assert list(d.new_or_updated_nodes()) == d.deleted_nodes()
        assert d.num_nodes() == 2

    def test_source_without_targets_counts_but_is_not_listed(self):
        data = u64(0) * 2 + u64(1) + id_block(A) + u64(0) + u64(1) + id_block(B) + u64(0)
        d = PyGraphDiff.from_bytes(data)
        assert d.new_or_updated_edges() == {} and d.deleted_edges() == {}
        assert d.num_edges() == 2

    def test_repeated_node_keeps_the_later_text_and_never_parses_the_earlier(self):
        data = (
            u64(2)
            + id_block(A)
            + text(b"not json at all")
            + id_block(A)
            + text(b'{"url":"u"}')
            + u64(0) * 3
        )
        assert PyGraphDiff.from_bytes(data).new_or_updated_nodes() == {
            "00010203-0405-0607-0809-0a0b0c0d0e0f": {"url": "u"}
        }

    def test_non_finite_size_comes_back_absent(self):
        d = diff_of(("add_node", A, {"size": math.inf, "red": 3}))
        assert PyGraphDiff.from_bytes(d.to_bytes()).new_or_updated_nodes() == {
            "00010203-0405-0607-0809-0a0b0c0d0e0f": {"red": 3}
        }


class TestArguments:
    def test_called_on_class_or_instance_leaves_the_instance_alone(self):
        d = diff_of(("delete_node", A))
        before = d.to_bytes()
        made = d.from_bytes(bytes=ONLY_EDGE_A_B)
        assert type(made) is PyGraphDiff and made is not d
        assert d.to_bytes() == before

    def test_bytes_subclass_is_accepted(self):
        class Raw(bytes):
            pass

        assert PyGraphDiff.from_bytes(Raw(EMPTY)).num_nodes() == 0

    @pytest.mark.parametrize(
        "value, name",
        [
            (bytearray(EMPTY), "bytearray"),
            (memoryview(EMPTY), "memoryview"),
            ("x", "str"),
            ([0], "list"),
        ],
        ids=["bytearray", "memoryview", "str", "list"],
    )
    def test_other_buffers_are_refused_naming_the_argument(self, value, name):
        with pytest.raises(TypeError) as raised:
            PyGraphDiff.from_bytes(value)
        assert (
            str(raised.value)
            == f"argument 'bytes': '{name}' object cannot be converted to 'PyBytes'"
        )

    def test_binding_errors_name_from_bytes(self):
        with pytest.raises(
            TypeError,
            match=r"^PyGraphDiff\.from_bytes\(\) missing 1 required positional argument: 'bytes'$",
        ):
            PyGraphDiff.from_bytes()
        with pytest.raises(
            TypeError,
            match=r"^PyGraphDiff\.from_bytes\(\) takes 1 positional arguments but 2 were given$",
        ):
            PyGraphDiff.from_bytes(EMPTY, EMPTY)
        with pytest.raises(
            TypeError, match=r"^PyGraphDiff\.to_bytes\(\) takes no arguments \(1 given\)$"
        ):
            PyGraphDiff().to_bytes(1)


ids = st.sampled_from([bytes([n]) * 16 for n in range(5)])
floats32 = st.floats(width=32)
updates = st.fixed_dictionaries(
    {},
    optional={
        "label": st.text(max_size=5),
        "url": st.text(max_size=5),
        "size": floats32,
        "red": st.integers(0, 255),
        "green": st.integers(0, 255),
        "blue": st.integers(0, 255),
        "show_label": st.booleans(),
    },
)
operations = st.lists(
    st.one_of(
        st.tuples(st.just("add_node"), ids, updates),
        st.tuples(st.just("delete_node"), ids),
        st.tuples(st.just("add_edge"), ids, ids, floats32),
        st.tuples(st.just("delete_edge"), ids, ids),
    ),
    max_size=30,
)


def comparable(value):
    """The same value with NaN replaced by a marker, so NaN compares equal to itself."""
    if isinstance(value, dict):
        return {key: comparable(item) for key, item in value.items()}
    if isinstance(value, (list, tuple)):
        return [comparable(item) for item in value]
    if isinstance(value, float) and math.isnan(value):
        return "NaN"
    return value


@given(operations)
def test_round_trip_keeps_content_and_bytes_repeat(ops):
    d = diff_of(*ops)
    data = d.to_bytes()
    assert d.to_bytes() == data
    back = PyGraphDiff.from_bytes(data)
    expected = content(d)
    for change in expected[0].values():
        if "size" in change and not math.isfinite(change["size"]):
            del change["size"]
    assert comparable(content(back)) == comparable(expected)


@settings(max_examples=200)
@given(operations, st.data())
def test_corrupted_bytes_only_ever_raise_the_documented_exception(ops, data):
    raw = bytearray(diff_of(*ops).to_bytes())
    kind = data.draw(st.sampled_from(["truncate", "flip", "huge-length"]))
    if kind == "truncate":
        del raw[data.draw(st.integers(0, len(raw))) :]
    elif kind == "flip":
        raw[data.draw(st.integers(0, len(raw) - 1))] ^= data.draw(st.integers(1, 255))
    else:
        at = data.draw(st.integers(0, max(0, len(raw) - 8)))
        raw[at : at + 8] = u64(data.draw(st.integers(2**32, 2**64 - 1)))
    try:
        PyGraphDiff.from_bytes(bytes(raw))
    except Exception as error:  # noqa: BLE001 - the class itself is what is checked
        assert type(error) is Exception
        assert str(error) == "Failed to deserialize graph diff."
