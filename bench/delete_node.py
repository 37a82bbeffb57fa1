"""delete_node on one diff: the scans, the build of the reverse index, the calls after it.

    python bench/delete_node.py [--sources 100000] [--per-source 10] [--runs 3]

tavro_api must be importable (PYTHONPATH=<build dir>, or the installed module).
Each run builds the benchmark's edge workload (SOURCES sources with PER_SOURCE
random targets each) and deletes a tenth of its nodes, timing each call with the
thread's CPU clock, and prints:
  - the calls that scanned (before the index was built) and their median;
  - the call that built the index (the slowest call), in scans;
  - the median call after it, and the clock's own cost, timed the same way;
  - the whole tenth;
  - the worst ratio of the first k calls to k scans: what a sequence that stops
    at k pays against what it would pay if delete_node only scanned.
"""

from __future__ import annotations

import argparse
import random
import statistics
import time

import workloads as wl
from tavro_api import PyGraphDiff


def clock_cost(count: int) -> float:
    """The median of timing an empty call as each delete_node call is timed."""
    times = []
    for _ in range(count):
        start = time.thread_time_ns()
        times.append(time.thread_time_ns() - start)
    return statistics.median(times)


def one_run(e: wl.EdgeWorkload, seed: int) -> str:
    diff = PyGraphDiff()
    add_edge = diff.add_edge
    for a, b, w in zip(e.froms, e.tos, e.weights):
        add_edge(a, b, w)
    delete_node = diff.delete_node
    times = []
    for node in random.Random(seed).sample(e.ids, len(e.ids) // 10):
        start = time.thread_time_ns()
        delete_node(node)
        times.append(time.thread_time_ns() - start)
    build = max(range(len(times)), key=times.__getitem__)
    scan = statistics.median(times[:build]) if build else float("nan")
    worst, spent = 0.0, 0
    for k, t in enumerate(times, 1):
        spent += t
        worst = max(worst, spent / (k * scan))
    return (
        f"{build} scans (median {scan / 1e6:.2f} ms); build call {times[build] / 1e6:.1f} ms "
        f"({times[build] / scan:.1f} scans); median call after "
        f"{statistics.median(times[build + 1 :]) / 1e3:.2f} us (clock {clock_cost(1000) / 1e3:.2f} "
        f"us of it); tenth {sum(times) / 1e6:.1f} ms; worst prefix {worst:.2f}x scans"
    )


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sources", type=int, default=100_000)
    parser.add_argument("--per-source", type=int, default=10)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    e = wl.edge_workload(1, args.sources, args.per_source)
    for run in range(args.runs):
        print(f"run {run}: {one_run(e, run)}", flush=True)


if __name__ == "__main__":
    main()
