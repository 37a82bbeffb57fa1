"""to_bytes and from_bytes as Python sees them: the byte form, one fixed
exception for every unreadable input, what reading keeps, and the same bytes
from the same history in every process."""

import os
import struct
import subprocess
import sys

import pytest
from diff_model import snapshot
from tavro_api import PyGraphDiff

A, B, X = bytes(range(16)), bytes(range(16, 32)), bytes([0xAA]) * 16


def u64(n):
    return struct.pack("<Q", n)


def text(raw):
    return u64(len(raw)) + raw


def ident(raw):
    return text(raw)


EMPTY = u64(0) * 4
ONLY_EDGE = u64(0) * 2 + u64(1) + ident(A) + u64(1) + ident(B) + bytes.fromhex("0000c03f") + u64(0)


def diff_of(ops):
    d = PyGraphDiff()
    for name, *args in ops:
        getattr(d, name)(*args)
    return d


def test_the_byte_form_is_the_core_s_own():
    assert (
        PyGraphDiff().to_bytes() == EMPTY
        and diff_of([("add_edge", A, B, 1.5)]).to_bytes() == ONLY_EDGE
    )
    read = PyGraphDiff.from_bytes(ONLY_EDGE + b"\xff" * 9)  # bytes after the end are ignored
    assert snapshot(read) == snapshot(diff_of([("add_edge", A, B, 1.5)]))


def unreadable(data):
    with pytest.raises(Exception) as raised:
        PyGraphDiff.from_bytes(data)
    return (type(raised.value), str(raised.value), raised.value.__cause__)


FAILED = (Exception, "Failed to deserialize graph diff.", None)


def test_what_reading_keeps_and_refuses():
    both = PyGraphDiff.from_bytes(u64(1) + ident(X) + text(b"{}") + u64(1) + ident(X) + u64(0) * 2)
    assert list(both.new_or_updated_nodes()) == both.deleted_nodes() and both.num_nodes() == 2
    empty = PyGraphDiff.from_bytes(
        u64(0) * 2 + u64(1) + ident(A) + u64(0) + u64(1) + ident(B) + u64(0)
    )
    assert (empty.new_or_updated_edges(), empty.deleted_edges(), empty.num_edges()) == ({}, {}, 2)
    node = u64(1) + ident(A)
    for data in [
        b"",
        node + text(b'{"label":"\xff"}') + u64(0) * 3,
        node + text(b'{"red":256}') + u64(0) * 3,
    ]:
        assert unreadable(data) == FAILED
    d = diff_of([("delete_node", A)])
    made = d.from_bytes(bytes=ONLY_EDGE)
    assert type(made) is PyGraphDiff and made is not d and d.to_bytes() != ONLY_EDGE
    assert PyGraphDiff.from_bytes(type("Raw", (bytes,), {})(EMPTY)).num_nodes() == 0
    for value, name in [(bytearray(EMPTY), "bytearray"), (memoryview(EMPTY), "memoryview")]:
        with pytest.raises(TypeError) as raised:
            PyGraphDiff.from_bytes(value)
        message = f"argument 'bytes': '{name}' object cannot be converted to 'PyBytes'"
        assert str(raised.value) == message


CHILD = r"""
import hashlib, random
from tavro_api import PyGraphDiff

rng = random.Random(20240611)
ids = [rng.randbytes(16) for _ in range(300)]
diff = PyGraphDiff()
for step in range(3000):
    r, a, b = rng.random(), rng.choice(ids), rng.choice(ids)
    if r < 0.45:
        diff.add_edge(a, b, rng.uniform(-10.0, 10.0))
    elif r < 0.6:
        diff.delete_edge(a, b)
    elif r < 0.65:
        diff.delete_node(a)
    else:
        diff.add_node(a, {"label": f"node {step}", "size": rng.uniform(0, 5)})
data = diff.to_bytes()
again = PyGraphDiff.from_bytes(data).to_bytes()
counts = [len(listing()) for listing in (diff.new_or_updated_nodes, diff.deleted_nodes,
          diff.new_or_updated_edges, diff.deleted_edges)]
print(hashlib.sha256(data).hexdigest(), hashlib.sha256(again).hexdigest(), min(counts) > 10)
"""


def child(hash_seed):
    env = dict(os.environ, PYTHONHASHSEED=str(hash_seed), PYTHONPATH=os.pathsep.join(sys.path))
    result = subprocess.run([sys.executable, "-c", CHILD], env=env, capture_output=True,
                            text=True, timeout=300)  # fmt: skip
    assert result.returncode == 0, result.stderr[-2000:]
    return result.stdout.splitlines()


def test_the_same_history_writes_the_same_bytes_in_every_process():
    first, second = child(1), child(2)
    assert first == second and first[0].split()[2] == "True"
