"""to_bytes and from_bytes as Python sees them: what only reading makes, the
one fixed exception, and the same bytes from the same history in every
process. (The layout byte for byte and every refusal are the C++ byte tests;
the round trip is a step of the model test; each unreadable input of the case
list must raise exactly Exception.)"""

import os
import struct
import subprocess
import sys

import pytest
from tavro_api import PyGraphDiff

A, B, X = bytes(range(16)), bytes(range(16, 32)), bytes([0xAA]) * 16


def u64(n):
    return struct.pack("<Q", n)


def text(raw):
    return u64(len(raw)) + raw


ident = text  # an id is written as a 16-byte text


def test_what_reading_keeps_and_the_one_fixed_exception():
    both = PyGraphDiff.from_bytes(u64(1) + ident(X) + text(b"{}") + u64(1) + ident(X) + u64(0) * 2)
    assert list(both.new_or_updated_nodes()) == both.deleted_nodes() and both.num_nodes() == 2
    # Empty inner maps and sets, which only reading makes, are counted but not listed.
    empty = PyGraphDiff.from_bytes(
        u64(0) * 2 + u64(1) + ident(A) + u64(0) + u64(1) + ident(B) + u64(0)
    )
    assert (empty.new_or_updated_edges(), empty.deleted_edges(), empty.num_edges()) == ({}, {}, 2)
    with pytest.raises(Exception) as raised:
        empty.from_bytes(u64(1) + ident(A) + text(b'{"red":256}') + u64(0) * 3)
    error = raised.value
    assert (type(error), str(error), error.__cause__) == (
        Exception, "Failed to deserialize graph diff.", None)  # fmt: skip
    assert empty.num_edges() == 2
    assert PyGraphDiff.from_bytes(type("Raw", (bytes,), {})(bytes(32))).num_nodes() == 0
    with pytest.raises(TypeError) as raised:
        PyGraphDiff.from_bytes(memoryview(bytes(32)))
    message = "argument 'bytes': 'memoryview' object cannot be converted to 'PyBytes'"
    assert str(raised.value) == message


CHILD = r"""
import hashlib, random
from tavro_api import PyGraphDiff

rng, diff = random.Random(20240611), PyGraphDiff()
ids = [rng.randbytes(16) for _ in range(300)]
for step in range(3000):
    a, b, r = rng.choice(ids), rng.choice(ids), rng.random()
    if r < 0.05:
        diff.delete_node(a)
    elif r < 0.2:
        diff.delete_edge(a, b)
    elif r < 0.6:
        diff.add_edge(a, b, r)
    else:
        diff.add_node(a, {"label": str(step)})
data = diff.to_bytes()
listings = (diff.new_or_updated_nodes, diff.deleted_nodes, diff.new_or_updated_edges, diff.deleted_edges)
print(hashlib.sha256(data + PyGraphDiff.from_bytes(data).to_bytes()).hexdigest(),
      min(len(listing()) for listing in listings) > 10)
"""


def child(hash_seed):
    env = dict(os.environ, PYTHONHASHSEED=str(hash_seed), PYTHONPATH=os.pathsep.join(sys.path))
    result = subprocess.run([sys.executable, "-c", CHILD], env=env, capture_output=True,
                            text=True, timeout=300)  # fmt: skip
    assert result.returncode == 0, result.stderr[-2000:]
    return result.stdout.splitlines()


def test_the_same_history_writes_the_same_bytes_in_every_process():
    first, second = child(1), child(2)
    assert first == second and first[0].split()[1] == "True"
