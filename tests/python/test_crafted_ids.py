"""Ids crafted against the table's hash read back in full and in byte order.

The tables hash ids with fixed keys, so anyone can craft ids that pile up in one
stretch of a table. Here: 50,000 ids whose home positions all fall in the first
quarter of the table that from_bytes reserves for them (the hash and home
function below are the module's own, written out in Python; one draw in four
keeps, so crafting takes a fraction of a second). Such a table must move into
its ordered mode, and an ordered table walks in byte order: that, not a
timing, is what shows the defence at work. Random ids must stay in the flat
mode, whose walk order is not sorted.
"""

import random
import struct
import uuid

from tavro_api import PyGraphDiff

COUNT = 50_000
# Slots from_bytes reserves for COUNT deleted nodes; if the table's sizing
# changes, crafting misses and the byte-order check below fails.
CAPACITY = 57_142
M = (1 << 64) - 1
K0, K1, K2, K3 = 0x2D358DCCAA6C78A5, 0x8BB84B93962EACC9, 0x4B33A62ED433D4A3, 0x4D5A2DA51DE1AA47


def fold(a, b):
    product = a * b
    return (product & M) ^ (product >> 64)


def home(raw):
    low, high = struct.unpack("<QQ", raw)
    mixed_high = fold(high ^ K2, K3)
    h = fold(fold(low ^ K0, K1) ^ ((mixed_high << 32 | mixed_high >> 32) & M), K1 ^ K3)
    s = ((h ^ (CAPACITY * 0x9E3779B97F4A7C15 & M)) * 0xBF58476D1CE4E5B9) & M
    return ((s ^ (s >> 31)) * CAPACITY) >> 64


def deleted_nodes_bytes(ids):
    count = struct.pack("<Q", len(ids))
    body = b"".join(struct.pack("<Q", 16) + raw for raw in ids)
    return struct.pack("<Q", 0) + count + body + struct.pack("<QQ", 0, 0)


def test_crafted_ids_read_back_in_byte_order_and_random_ones_do_not():
    rng = random.Random(10)
    draws = (rng.randbytes(16) for _ in iter(int, 1))
    crafted = []
    while len(crafted) < COUNT:
        raw = next(draws)
        if home(raw) < CAPACITY // 4:
            crafted.append(raw)
    for ids, ordered in ((crafted, True), ([next(draws) for _ in range(COUNT)], False)):
        diff = PyGraphDiff.from_bytes(deleted_nodes_bytes(ids))
        listed = diff.deleted_nodes()
        assert sorted(listed) == sorted(str(uuid.UUID(bytes=raw)) for raw in ids)
        assert (listed == sorted(listed)) is ordered
        assert sorted(PyGraphDiff.from_bytes(diff.to_bytes()).deleted_nodes()) == sorted(listed)
