"""to_bytes and from_bytes as Python sees them: what only reading makes, and the
same bytes from the same history in every process. (The layout byte for byte and
every refusal are the C++ byte tests; the round trip is a step of the model test;
the one fixed exception and the accepted argument types are rows of the case list.)"""

import os
import struct
import subprocess
import sys

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
print(hashlib.sha256(data + PyGraphDiff.from_bytes(data).to_bytes()).hexdigest(),
      min(map(len, [diff.new_or_updated_nodes(), diff.deleted_nodes(), diff.deleted_edges()])))
"""


def test_the_same_history_writes_the_same_bytes_in_every_process():
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    outputs = [subprocess.run([sys.executable, "-c", CHILD], env={**env, "PYTHONHASHSEED": seed},
                              capture_output=True, text=True, timeout=300) for seed in "12"]  # fmt: skip
    assert all(out.returncode == 0 for out in outputs), [out.stderr[-2000:] for out in outputs]
    assert outputs[0].stdout == outputs[1].stdout and int(outputs[0].stdout.split()[1]) > 10
