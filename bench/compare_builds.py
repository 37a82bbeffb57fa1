"""Two builds of tavro_api in one process, timed in turn on one workload.

    python bench/compare_builds.py DIR_A DIR_B nodes|edges|deletes|node_deletes|to_bytes|from_bytes RUNS

DIR_A and DIR_B each hold a built ``tavro_api*.so``. Both are loaded side by
side (as different files they are different modules), and each run times A
then B on the same argument objects, so a ratio B/A compares the builds under
the same load, caches and allocator state. Run it twice with the builds
swapped: the one that runs second can gain from the first's freed memory.
Prints the median time of each build and the median and range of B/A.

Workloads (the benchmark's seeds and sizes): ``nodes``, 200,000 add_node calls
over 100,000 ids; ``edges``, 1,000,000 add_edge calls over 100,000 sources;
``deletes``, 100,000 delete_edge calls on that diff (only the deletes timed);
``node_deletes``, 1,000 delete_node calls on it; ``to_bytes``, to_bytes of the
diff of all four, which must give the same bytes under both builds;
``from_bytes``, from_bytes of those bytes.
"""

from __future__ import annotations

import glob
import importlib.machinery
import importlib.util
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import workloads  # noqa: E402


def load(folder: str):
    path = glob.glob(os.path.join(folder, "tavro_api*.so"))[0]
    loader = importlib.machinery.ExtensionFileLoader("tavro_api", path)
    spec = importlib.util.spec_from_file_location("tavro_api", path, loader=loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def timed(fn) -> float:
    start = time.process_time()
    fn()
    return time.process_time() - start


def add_edges(diff, e) -> None:
    f = diff.add_edge
    for a, b, w in zip(e.froms, e.tos, e.weights):
        f(a, b, w)


def add_nodes(diff, n) -> None:
    f = diff.add_node
    for i, u in zip(n.ids, n.updates):
        f(i, u)


def delete_edges(diff, d) -> None:
    f = diff.delete_edge
    for a, b in zip(d.edge_froms, d.edge_tos):
        f(a, b)


def delete_nodes(diff, d) -> None:
    f = diff.delete_node
    for i in d.node_ids:
        f(i)


def runner(kind: str, builds: list):
    """A function of a build that does one run and returns its CPU time."""
    e = workloads.edge_workload(1, 100_000, 10)
    n = workloads.node_workload(1, 100_000, 200_000)
    d = workloads.delete_workload(2, e, 100_000, 1_000)
    if kind == "nodes":
        return lambda m: timed(lambda: add_nodes(m.PyGraphDiff(), n))
    if kind == "edges":
        return lambda m: timed(lambda: add_edges(m.PyGraphDiff(), e))
    if kind in ("deletes", "node_deletes"):
        delete = delete_edges if kind == "deletes" else delete_nodes

        def run(m):
            diff = m.PyGraphDiff()
            add_edges(diff, e)
            return timed(lambda: delete(diff, d))

        return run
    if kind in ("to_bytes", "from_bytes"):
        built = {}
        for m in builds:
            diff = m.PyGraphDiff()
            add_edges(diff, e)
            add_nodes(diff, n)
            delete_edges(diff, d)
            delete_nodes(diff, d)
            built[m] = diff
        if len({built[m].to_bytes() for m in builds}) != 1:
            raise SystemExit("the two builds write different bytes")
        if kind == "from_bytes":
            data = built[builds[0]].to_bytes()
            return lambda m: timed(lambda: m.PyGraphDiff.from_bytes(data))
        return lambda m: timed(built[m].to_bytes)
    raise SystemExit(f"unknown workload {kind!r}")


def main(argv: list[str]) -> None:
    if len(argv) != 4:
        raise SystemExit(__doc__)
    a, b = load(argv[0]), load(argv[1])
    run = runner(argv[2], [a, b])
    times_a, times_b = [], []
    for _ in range(int(argv[3])):
        times_a.append(run(a))
        times_b.append(run(b))
    ratios = sorted(tb / ta for ta, tb in zip(times_a, times_b))
    print(
        f"{argv[2]}: A {statistics.median(times_a) * 1e3:.1f} ms, "
        f"B {statistics.median(times_b) * 1e3:.1f} ms, "
        f"B/A median {statistics.median(ratios):.3f} ({ratios[0]:.3f}-{ratios[-1]:.3f})"
    )


if __name__ == "__main__":
    main(sys.argv[1:])
