"""Runs every case of tests/python/cases.py (each method on its success path and
on each of its error paths) a few times, checking each outcome, plus a larger
diff, for a run under valgrind's memcheck (scripts/valgrind_check.sh)."""

import gc
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))

from cases import CASES, call, expected_error, populated  # noqa: E402
from tavro_api import PyGraphDiff  # noqa: E402

for _ in range(3):
    for name, case in CASES.items():
        _, error = call(populated(), case)
        assert (type(error) if error else None) is expected_error(case)[0], f"{name}: {error!r}"
    big = PyGraphDiff()  # table growth, delete_node's scan, clear with content
    for i in range(1500):
        node = i.to_bytes(16, "little")
        big.add_node(node, {"label": f"n{i}" * (i % 7), "size": i / 7})
        big.add_edge(node, bytes(16), float(i))
        big.add_edge(bytes(16), node, 0.5)
        if i % 5 == 0:
            big.delete_node(node)
    copy = PyGraphDiff.from_bytes(big.to_bytes())
    assert (copy.num_nodes(), copy.num_edges()) == (big.num_nodes(), big.num_edges())
    big.clear()
gc.collect()
print(f"exercise_all: {3 * len(CASES)} calls as expected")
