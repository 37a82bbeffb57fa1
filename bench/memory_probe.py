"""Resident memory that a diff adds per pending edge or per node update.

Run as a script, it builds one diff in this (fresh) process and prints one
JSON line: the resident set size (from /proc/self/statm) before and after
building, and the number of items the diff then holds. ``measure()`` runs it
in a subprocess, so every figure comes from a process that has built nothing
else: freed memory is not reliably returned to the system, and a second build
in the same process would measure the first one's leftovers.

What is charged to the diff: the id pool (every id the workload uses, as
16-byte ``bytes``) is built before the first reading, so ids that the
pure-Python peer keeps by reference cost it nothing here, while tavro_api
copies them. Weights and node update dicts (with their label strings and
sizes) are made call by call, as a program streaming edits would make them,
so what the peer keeps of them is charged to it. The generator's own
temporaries are freed as it goes.

    python bench/memory_probe.py tavro|pure edges SOURCES PER_SOURCE SEED
    python bench/memory_probe.py tavro|pure edges-fresh SOURCES PER_SOURCE SEED
    python bench/memory_probe.py tavro|pure edges-deleting SOURCES PER_SOURCE SEED

``edges-deleting`` then calls delete_node for ids that are not in the diff,
one for every 50 sources: enough scans to pay for tavro_api's reverse index,
whose memory is then charged too (the calls change nothing else but the set
of deleted nodes).
    python bench/memory_probe.py tavro|pure nodes DISTINCT CALLS SEED
"""

from __future__ import annotations

import json
import os
import random
import subprocess
import sys

_HERE = os.path.dirname(os.path.abspath(__file__))


def rss_bytes() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def _new_diff(impl: str):
    if impl == "tavro":
        from tavro_api import PyGraphDiff

        return PyGraphDiff()
    if impl == "pure":
        from pure_python_diff import PurePythonGraphDiff

        return PurePythonGraphDiff()
    raise SystemExit(f"unknown implementation {impl!r}")


def probe_edges(
    impl: str, sources: int, per_source: int, seed: int, fresh: bool = False, deleting: bool = False
) -> dict:
    """With `fresh`, every call passes new id objects (copies of the pool's),
    as a program that decodes ids from a stream would, and what the peer
    keeps of them is charged to it."""
    from workloads import make_ids, random_weight

    rng = random.Random(seed)
    ids = make_ids(rng, sources)
    absent = make_ids(rng, sources // 50) if deleting else []
    diff = _new_diff(impl)
    add_edge = diff.add_edge
    pending = 0
    before = rss_bytes()
    for source in ids:
        targets = rng.choices(ids, k=per_source)
        pending += len(set(targets))
        for target in targets:
            if fresh:
                add_edge(bytes(memoryview(source)), bytes(memoryview(target)), random_weight(rng))
            else:
                add_edge(source, target, random_weight(rng))
    for node in absent:
        diff.delete_node(node)
    after = rss_bytes()
    return {
        "impl": impl,
        "kind": "edges-fresh" if fresh else "edges-deleting" if deleting else "edges",
        "sources": sources,
        "calls": sources * per_source,
        "pending_edges": pending,
        "rss_before": before,
        "rss_after": after,
    }


def probe_nodes(impl: str, distinct: int, calls: int, seed: int) -> dict:
    from workloads import make_ids, random_update

    rng = random.Random(seed)
    pool = make_ids(rng, distinct)
    order = [pool[i % distinct] for i in range(calls)]
    rng.shuffle(order)
    diff = _new_diff(impl)
    add_node = diff.add_node
    before = rss_bytes()
    for node_id in order:
        add_node(node_id, random_update(rng))
    after = rss_bytes()
    return {
        "impl": impl,
        "kind": "nodes",
        "calls": calls,
        "nodes": diff.num_nodes(),
        "rss_before": before,
        "rss_after": after,
    }


def measure(impl: str, kind: str, a: int, b: int, seed: int) -> dict:
    """Runs one probe in a new interpreter (same executable and environment)."""
    cmd = [sys.executable, os.path.abspath(__file__), impl, kind, str(a), str(b), str(seed)]
    out = subprocess.run(cmd, check=True, capture_output=True, text=True)
    return json.loads(out.stdout.strip().splitlines()[-1])


def main(argv: list[str]) -> None:
    if len(argv) != 5:
        raise SystemExit(__doc__)
    impl, kind, a, b, seed = argv[0], argv[1], int(argv[2]), int(argv[3]), int(argv[4])
    sys.path.insert(0, _HERE)
    if kind in ("edges", "edges-fresh", "edges-deleting"):
        result = probe_edges(impl, a, b, seed, kind == "edges-fresh", kind == "edges-deleting")
    elif kind == "nodes":
        result = probe_nodes(impl, a, b, seed)
    else:
        raise SystemExit(f"unknown workload {kind!r}")
    print(json.dumps(result))


if __name__ == "__main__":
    main(sys.argv[1:])
