"""Instructions per call of add_edge and delete_edge, counted by callgrind.

Timings on a shared machine move by a third between runs; instruction counts
do not. The benchmark's loop (arguments made before, ``f = diff.add_edge``,
calls grouped by source, 10 targets per source, a new diff) runs under
``valgrind --tool=callgrind`` with the method, with the no-op method of the
same calling convention (bench/floors.c) and with no loop at all; the
differences, divided by the number of calls, are the instructions per loop
iteration. delete_edge deletes pending edges of a diff built beforehand.

    python bench/call_instructions.py [--sources N]
"""

from __future__ import annotations

import argparse
import os
import re
import subprocess
import sys
import tempfile

_HERE = os.path.dirname(os.path.abspath(__file__))

_CHILD = r"""
import sys
sys.path.insert(0, {here!r})
import floors, workloads as wl
from tavro_api import PyGraphDiff

fl = floors.load()
e = wl.edge_workload(1, {sources}, 10)
built = PyGraphDiff()
for a, b, w in zip(e.froms, e.tos, e.weights):
    built.add_edge(a, b, w)
fresh = PyGraphDiff()
what = {what!r}
f = {{
    "add_edge": fresh.add_edge,
    "delete_edge": built.delete_edge,
    "no-op, 3 arguments": fl.noop,
    "no-op, 2 arguments": fl.noop,
}}.get(what)


def loop3(f, froms, tos, weights):
    for a, b, w in zip(froms, tos, weights):
        f(a, b, w)


def loop2(f, froms, tos):
    for a, b in zip(froms, tos):
        f(a, b)


if what in ("add_edge", "no-op, 3 arguments"):
    loop3(f, e.froms, e.tos, e.weights)
elif what in ("delete_edge", "no-op, 2 arguments"):
    loop2(f, e.froms, e.tos)
"""


def instructions(what: str, sources: int) -> int:
    """Instructions executed by the whole child process."""
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "child.py")
        out = os.path.join(tmp, "callgrind.out")
        with open(path, "w") as f:
            f.write(_CHILD.format(here=_HERE, sources=sources, what=what))
        subprocess.run(
            ["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", sys.executable, path],
            check=True,
            capture_output=True,
            env=dict(os.environ, PYTHONHASHSEED="0"),
        )
        with open(out) as f:
            totals = re.search(r"^(?:totals|summary):\s+(\d+)", f.read(), re.M)
    return int(totals.group(1))


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--sources", type=int, default=10_000)
    args = ap.parse_args()
    calls = args.sources * 10
    base = instructions("nothing", args.sources)

    def per_call(what: str) -> float:
        return (instructions(what, args.sources) - base) / calls

    print(f"instructions per loop iteration, {calls:,} calls over {args.sources:,} sources")
    for method, floor in (
        ("add_edge", "no-op, 3 arguments"),
        ("delete_edge", "no-op, 2 arguments"),
    ):
        mine, least = per_call(method), per_call(floor)
        print(
            f"{method:12} {mine:7.0f}   {floor} {least:5.0f}   "
            f"difference {mine - least:6.0f}   ratio {mine / least:.2f}x"
        )


if __name__ == "__main__":
    main()
