"""to_bytes and from_bytes as Python sees them: what only reading makes. (The
layout byte for byte, every refusal and the bytes that a fixed history writes on
every host are the C++ byte tests; the round trip is a step of the model test;
the one fixed exception and the accepted argument types are rows of the case list.)"""

import struct

from tavro_api import PyGraphDiff

A, B, X = bytes(range(16)), bytes(range(16, 32)), bytes([0xAA]) * 16


def u64(n):
    return struct.pack("<Q", n)


def text(raw):  # an id is written as a 16-byte text
    return u64(len(raw)) + raw


def test_what_only_reading_makes():
    both = PyGraphDiff.from_bytes(u64(1) + text(X) + text(b"{}") + u64(1) + text(X) + u64(0) * 2)
    assert list(both.new_or_updated_nodes()) == both.deleted_nodes() and both.num_nodes() == 2
    # Empty inner maps and sets, which only reading makes, are counted but not listed.
    empty = PyGraphDiff.from_bytes(
        u64(0) * 2 + u64(1) + text(A) + u64(0) + u64(1) + text(B) + u64(0)
    )
    assert (empty.new_or_updated_edges(), empty.deleted_edges(), empty.num_edges()) == ({}, {}, 2)
