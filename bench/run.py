"""Benchmark of tavro_api against real alternatives; prints a table and writes JSON.

    python bench/run.py [--quick] [--json PATH] [--runs N] [--skip-memory] [--chart PATH]

Workloads (fixed seeds; sizes of the full run, --quick divides every count by
ten and says so in the table):

  E   1,000,000 add_edge calls: 100,000 sources, 10 random targets each from
      the same pool of 100,000 ids, random weights; and 100,000 calls over
      10,000 sources, whose arguments stay in cache.
  N   200,000 add_node calls over 100,000 ids (so half of them merge), each
      dict with a label of 10 to 20 characters, size, red, green, blue and
      show_label.
  D   100,000 delete_edge calls for pending edges of E's diff, then 1,000
      delete_node calls on it; and delete_node of random nodes of E's diff at
      10,000 and 100,000 sources: the median call of the first 1,000, and all
      the calls that delete a tenth of the nodes.
  L   the four listings, num_nodes/num_edges, to_bytes and from_bytes on the
      diff of E plus N plus D's deletions (so that all four containers hold
      something).
  M   resident memory per pending edge (E, and a 10,000,000-edge variant over
      1,000,000 sources) and per node update (N), each in a fresh process.

Peers, measured in the same run:
  pure     bench/pure_python_diff.py, the same class in Python (dicts and sets
           keyed by the bytes ids; struct and json for the same byte layout)
  pickle   pickle.dumps/loads (protocol 5) of the pure peer's four containers
  msgpack  msgpack.packb/unpackb (use_bin_type=True) of the same containers,
           with the two sets as lists

Floors, measured in the same run (what the interpreter, the allocator and the
kernel charge for the same work; bench/floors.c, compiled by this script):
  no-op method         add_edge's calling convention, three arguments, None
  d[i] = u.copy()      add_node's floor: keep a copy of the update dict
  pure                 delete_edge's floor: the same change on dicts and sets
  objects built in C   each listing's objects (a new str per id, a float per
                       weight, a dict or list per entry) built from flat arrays
  copy                 bytes(bytearray) of a buffer as long as tavro_api's
                       output: a fresh copy, the floor of to_bytes and from_bytes
  content              memory: the 16-byte target, the float32 weight and the
                       edge's share of its 16-byte source

All arguments are made before any timing; each sample times only a tight loop
calling the bound method (or one call of a listing or serialiser). The cyclic
garbage collector is off while a sample runs, as timeit does; that helps the
pure-Python peer and the pickle and msgpack readers, which make many
containers. Each figure is the median of --runs samples (default 5) of the
CPU time of the benchmark's thread (time.thread_time_ns), which leaves out
the time it waited for a core while other work ran on the machine; on an idle
machine it is the wall time, and the JSON keeps the wall times too. This is a
benchmark, not a test: nothing here fails on a time.
"""

from __future__ import annotations

import argparse
import gc
import json
import os
import pickle
import platform
import statistics
import struct
import subprocess
import sys
import time

_HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, _HERE)

import chart  # noqa: E402
import floors  # noqa: E402
import memory_probe  # noqa: E402
import msgpack  # noqa: E402
import workloads as wl  # noqa: E402
from pure_python_diff import HexIdGraphDiff, PurePythonGraphDiff  # noqa: E402
from tavro_api import PyGraphDiff  # noqa: E402

SEED_EDGES = 1
SEED_NODES = 2
SEED_DELETES = 3
SEED_BIG = 4
SEED_CHECK = 5

IMPLS = {"tavro_api": PyGraphDiff, "pure": PurePythonGraphDiff}

# --- timing -----------------------------------------------------------------


def timed(body) -> tuple[int, int]:
    """The CPU time of this thread and the wall time taken by body(), in
    nanoseconds, with the cyclic collector off. The CPU time leaves out the
    time the thread spent waiting for a core while other work ran on the
    machine; it is the figure reported. The result of body() is dropped after
    the clocks stop."""
    gc.collect()
    gc.disable()
    try:
        cpu, wall = time.thread_time_ns(), time.perf_counter_ns()
        result = body()
        wall, cpu = time.perf_counter_ns() - wall, time.thread_time_ns() - cpu
    finally:
        gc.enable()
    del result
    return cpu, wall


def loop_edges(diff, froms, tos, weights):
    f = diff.add_edge
    for a, b, w in zip(froms, tos, weights):
        f(a, b, w)


def loop_nodes(diff, ids, updates):
    f = diff.add_node
    for i, u in zip(ids, updates):
        f(i, u)


def loop_delete_edges(diff, froms, tos):
    f = diff.delete_edge
    for a, b in zip(froms, tos):
        f(a, b)


def loop_delete_nodes(diff, ids):
    f = diff.delete_node
    for i in ids:
        f(i)


def loop_empty3(froms, tos, weights):
    for a, b, w in zip(froms, tos, weights):
        pass


def loop_call3(f, e: wl.EdgeWorkload):
    for a, b, w in zip(e.froms, e.tos, e.weights):
        f(a, b, w)


def loop_copy_nodes(ids, updates):
    d = {}
    for i, u in zip(ids, updates):
        d[i] = u.copy()


def loop_calls(f, n):
    for _ in range(n):
        f()


class Samples:
    """Samples per (workload, implementation), in nanoseconds per unit: CPU
    time in `data`, wall time in `wall`."""

    def __init__(self):
        self.data: dict[str, dict[str, list[float]]] = {}
        self.wall: dict[str, dict[str, list[float]]] = {}

    def add(self, workload: str, impl: str, ns: tuple[int, int], per: int = 1):
        self.data.setdefault(workload, {}).setdefault(impl, []).append(ns[0] / per)
        self.wall.setdefault(workload, {}).setdefault(impl, []).append(ns[1] / per)

    def median(self, workload: str, impl: str) -> float:
        return statistics.median(self.data[workload][impl])


# --- the diffs ----------------------------------------------------------------


def build(
    cls, e: wl.EdgeWorkload, n: wl.NodeWorkload | None = None, d: wl.DeleteWorkload | None = None
):
    diff = cls()
    loop_edges(diff, e.froms, e.tos, e.weights)
    if n is not None:
        loop_nodes(diff, n.ids, n.updates)
    if d is not None:
        loop_delete_edges(diff, d.edge_froms, d.edge_tos)
        loop_delete_nodes(diff, d.node_ids)
    return diff


def layout_entries(data: bytes) -> list:
    """The entries of a byte string, each section sorted: equal for two byte
    strings that hold the same diff written in different walk orders."""
    q = struct.Struct("<Q").unpack_from
    off = 0

    def count():
        nonlocal off
        off += 8
        return q(data, off - 8)[0]

    def ident():
        nonlocal off
        if count() != 16:
            raise ValueError("id length is not 16")
        off += 16
        return data[off - 16 : off]

    nodes = []
    for _ in range(count()):
        i, n = ident(), count()
        nodes.append((i, data[off : off + n]))
        off += n
    deleted = sorted(ident() for _ in range(count()))
    edges = []
    for _ in range(count()):
        s, inner = ident(), []
        for _ in range(count()):
            t = ident()
            inner.append((t, data[off : off + 4]))
            off += 4
        edges.append((s, sorted(inner)))
    deleted_edges = []
    for _ in range(count()):
        s = ident()
        deleted_edges.append((s, sorted(ident() for _ in range(count()))))
    if off != len(data):
        raise ValueError("trailing bytes")
    return [sorted(nodes), deleted, sorted(edges), sorted(deleted_edges)]


def listings(diff) -> tuple:
    return (
        diff.new_or_updated_nodes(),
        sorted(diff.deleted_nodes()),
        diff.new_or_updated_edges(),
        {k: sorted(v) for k, v in diff.deleted_edges().items()},
        diff.num_nodes(),
        diff.num_edges(),
    )


def check_peer() -> None:
    """The pure-Python peer lists the same content as tavro_api for a mixed
    history, and writes the same byte layout (entries in another order)."""
    import random

    rng = random.Random(SEED_CHECK)
    ids = wl.make_ids(rng, 200)
    t, p = PyGraphDiff(), PurePythonGraphDiff()
    for _ in range(5000):
        r, a, b = rng.random(), rng.choice(ids), rng.choice(ids)
        if r < 0.45:
            w = wl.random_weight(rng)
            t.add_edge(a, b, w)
            p.add_edge(a, b, w)
        elif r < 0.6:
            t.delete_edge(a, b)
            p.delete_edge(a, b)
        elif r < 0.63:
            t.delete_node(a)
            p.delete_node(a)
        else:
            u = wl.random_update(rng)
            for key in list(u):
                if rng.random() < 0.3:
                    del u[key]
            t.add_node(a, u)
            p.add_node(a, u)
    if listings(t) != listings(p):
        raise SystemExit("the pure-Python peer lists other content than tavro_api")
    tb, pb = t.to_bytes(), p.to_bytes()
    if layout_entries(tb) != layout_entries(pb):
        raise SystemExit("the pure-Python peer writes another byte layout than tavro_api")
    if listings(PurePythonGraphDiff.from_bytes(tb)) != listings(t):
        raise SystemExit("the pure-Python peer reads tavro_api's bytes wrongly")
    if listings(PyGraphDiff.from_bytes(pb)) != listings(p):
        raise SystemExit("tavro_api reads the pure-Python peer's bytes wrongly")


# --- workloads ------------------------------------------------------------------


def bench_edges(s: Samples, workloads: dict, noop, runs: int) -> None:
    """add_edge at each size, with the empty loop and the no-op method (same
    calling convention, same three arguments) as floors."""
    for name, e in workloads.items():
        calls = len(e.froms)
        for _ in range(runs):
            s.add(name, "loop", timed(lambda: loop_empty3(e.froms, e.tos, e.weights)), calls)
            s.add(name, "no-op method", timed(lambda: loop_call3(noop, e)), calls)
            for impl, cls in IMPLS.items():
                diff = cls()
                s.add(name, impl, timed(lambda: loop_edges(diff, e.froms, e.tos, e.weights)), calls)
                del diff


def bench_nodes(s: Samples, n: wl.NodeWorkload, runs: int) -> None:
    calls = len(n.ids)
    for _ in range(runs):
        for impl, cls in IMPLS.items():
            diff = cls()
            s.add("N add_node", impl, timed(lambda: loop_nodes(diff, n.ids, n.updates)), calls)
            del diff
        s.add(
            "N add_node", "d[i] = u.copy()", timed(lambda: loop_copy_nodes(n.ids, n.updates)), calls
        )


def bench_deletes(s: Samples, e: wl.EdgeWorkload, d: wl.DeleteWorkload, runs: int) -> dict:
    info = {}
    for _ in range(runs):
        for impl, cls in IMPLS.items():
            diff = build(cls, e)
            s.add(
                "D delete_edge",
                impl,
                timed(lambda: loop_delete_edges(diff, d.edge_froms, d.edge_tos)),
                len(d.edge_froms),
            )
            del diff
    return info


def per_call_median(f, ids) -> tuple[int, int]:
    """The median CPU and wall time of f(i) for each i but the first."""
    cpu, wall = [], []
    for i in ids:
        c, w = time.thread_time_ns(), time.perf_counter_ns()
        f(i)
        wall.append(time.perf_counter_ns() - w)
        cpu.append(time.thread_time_ns() - c)
    return int(statistics.median(cpu[1:])), int(statistics.median(wall[1:]))


def bench_delete_nodes(s: Samples, sizes: wl.Sizes, runs: int) -> None:
    """delete_node of random nodes of E's diff at two sizes: per call (median,
    each call timed), and all the calls that delete a tenth of the nodes. The
    pure peer scans every source on each call; it deletes a tenth of the
    nodes of the smaller diff only."""
    for sources in (sizes.cache_sources, sizes.edge_sources):
        e = wl.edge_workload(SEED_EDGES, sources, sizes.edges_per_source)
        tenth = wl.delete_workload(SEED_DELETES, e, 0, sources // 10).node_ids
        per_call = f"D delete_node, {sources:,} sources"
        for _ in range(runs):
            for impl, cls in IMPLS.items():
                diff = build(cls, e)
                median = per_call_median(diff.delete_node, tenth[: sizes.delete_nodes])
                s.add(per_call, impl, median)
                tenth_name = f"D delete 10% of {sources:,} nodes"
                if impl == "pure" and sources != sizes.cache_sources:  # a minute a run
                    s.add(tenth_name, "pure, median call x count", median, 1 / len(tenth))
                else:
                    diff = build(cls, e)
                    s.add(tenth_name, impl, timed(lambda: loop_delete_nodes(diff, tenth)))
                del diff


LISTINGS = ("new_or_updated_nodes", "deleted_nodes", "new_or_updated_edges", "deleted_edges")


def bench_listings_and_bytes(s: Samples, e, n, d, fl, runs: int) -> dict:
    tavro = build(PyGraphDiff, e, n, d)
    floor_inputs = floors.listing_inputs(tavro)
    pure = build(PurePythonGraphDiff, e, n, d)
    hexed = HexIdGraphDiff()  # shares the pure peer's containers, lists them with hex ids
    for mine, theirs in zip(hexed.containers(), pure.containers()):
        mine.update(theirs)
    if (tavro.num_nodes(), tavro.num_edges()) != (pure.num_nodes(), pure.num_edges()):
        raise SystemExit("tavro_api and the pure-Python peer built different diffs")

    tb = tavro.to_bytes()
    containers = pure.containers()
    nodes, deleted_nodes, edges, deleted_edges = containers
    as_lists = (nodes, list(deleted_nodes), edges, {k: list(v) for k, v in deleted_edges.items()})
    pickled = pickle.dumps(containers, protocol=5)
    packed = msgpack.packb(as_lists, use_bin_type=True)
    pure_bytes = pure.to_bytes()
    if len(pure_bytes) != len(tb):
        raise SystemExit("the pure-Python peer's byte string differs in length from tavro_api's")
    buffer = bytearray(tb)
    bytes(buffer)  # warm

    counts = 100_000
    for _ in range(runs):
        for name in LISTINGS:
            for impl, diff in (("tavro_api", tavro), ("pure", pure), ("pure, hex ids", hexed)):
                s.add(f"L {name}", impl, timed(getattr(diff, name)))
            build_in_c = getattr(fl, floors.FLOOR_FUNCTIONS[name])
            args = floor_inputs[name]
            s.add(f"L {name}", "objects built in C", timed(lambda: build_in_c(*args)))
        for name in ("num_nodes", "num_edges"):
            for impl, diff in (("tavro_api", tavro), ("pure", pure)):
                f = getattr(diff, name)
                s.add(f"L {name}", impl, timed(lambda: loop_calls(f, counts)), counts)
        s.add("to_bytes", "tavro_api", timed(tavro.to_bytes))
        s.add("to_bytes", "pickle.dumps", timed(lambda: pickle.dumps(containers, protocol=5)))
        s.add(
            "to_bytes", "msgpack.packb", timed(lambda: msgpack.packb(as_lists, use_bin_type=True))
        )
        s.add("to_bytes", "pure", timed(pure.to_bytes))
        s.add("to_bytes", "copy", timed(lambda: bytes(buffer)))
        s.add("from_bytes", "tavro_api", timed(lambda: PyGraphDiff.from_bytes(tb)))
        s.add("from_bytes", "pickle.loads", timed(lambda: pickle.loads(pickled)))
        s.add("from_bytes", "msgpack.unpackb", timed(lambda: msgpack.unpackb(packed)))
        s.add("from_bytes", "pure", timed(lambda: PurePythonGraphDiff.from_bytes(tb)))
        s.add("from_bytes", "copy", timed(lambda: bytes(buffer)))
    for impl in ("tavro_api", "pure", "pure, hex ids", "objects built in C"):
        for store in (s.data, s.wall):
            per_run = zip(*(store[f"L {name}"][impl] for name in LISTINGS))
            store.setdefault("L all four listings", {})[impl] = [sum(xs) for xs in per_run]
    return {
        "bytes_tavro": len(tb),
        "bytes_pickle": len(pickled),
        "bytes_msgpack": len(packed),
        "num_nodes": tavro.num_nodes(),
        "num_edges": tavro.num_edges(),
        "node_updates": len(nodes),
        "deleted_nodes": len(deleted_nodes),
        "pending_edges": sum(map(len, edges.values())),
        "edge_sources": len(edges),
        "deleted_edges": sum(map(len, deleted_edges.values())),
        "deleted_edge_sources": len(deleted_edges),
    }


def bench_memory(sizes: wl.Sizes) -> list[dict]:
    jobs = [
        ("E", "edges", sizes.edge_sources, sizes.edges_per_source, SEED_EDGES),
        ("E big", "edges", sizes.big_sources, sizes.big_edges_per_source, SEED_BIG),
        ("E, fresh ids", "edges-fresh", sizes.edge_sources, sizes.edges_per_source, SEED_EDGES),
        (
            "E, then delete_node",
            "edges-deleting",
            sizes.edge_sources,
            sizes.edges_per_source,
            SEED_EDGES,
        ),
        ("N", "nodes", sizes.node_ids, sizes.node_calls, SEED_NODES),
    ]
    out = []
    for label, kind, a, b, seed in jobs:
        row = {"workload": label, "kind": kind}
        for impl in ("tavro", "pure"):
            r = memory_probe.measure(impl, kind, a, b, seed)
            items = r["nodes"] if kind == "nodes" else r["pending_edges"]
            row["items"] = items
            row["calls"] = r["calls"]
            row["sources"] = r.get("sources")
            row["tavro_api" if impl == "tavro" else "pure"] = (
                r["rss_after"] - r["rss_before"]
            ) / items
        out.append(row)
    return out


# --- report ---------------------------------------------------------------------


def fmt_time(ns: float) -> str:
    if ns < 1_000:
        return f"{ns:.0f} ns"
    if ns < 1_000_000:
        return f"{ns / 1_000:.1f} us"
    if ns < 1_000_000_000:
        return f"{ns / 1_000_000:.1f} ms"
    return f"{ns / 1_000_000_000:.2f} s"


def machine_info() -> dict:
    model = ""
    try:
        for line in subprocess.run(["lscpu"], capture_output=True, text=True).stdout.splitlines():
            if line.startswith("Model name:"):
                model = line.split(":", 1)[1].strip()
    except OSError:
        pass
    try:
        commit = subprocess.run(
            ["git", "-C", _HERE, "describe", "--always", "--dirty"], capture_output=True, text=True
        ).stdout.strip()
    except OSError:
        commit = ""
    import tavro_api

    tavro_version = "from a build folder, not installed"
    if "site-packages" in tavro_api.__file__:
        from importlib.metadata import version

        tavro_version = version("tavro_api")

    return {
        "cpu": model,
        "cores": os.cpu_count(),
        "python": platform.python_version(),
        "python_build": " ".join(platform.python_build()),
        "tavro_api": tavro_version,
        "tavro_api_file": tavro_api.__file__,
        "msgpack": ".".join(map(str, msgpack.version)),
        "pickle_protocol": 5,
        "git": commit,
    }


def build_rows(s: Samples, mem: list[dict], sizes: wl.Sizes, info: dict) -> list[dict]:
    """One row per (figure, peer or floor). For a peer the ratio is peer /
    tavro_api (how many times faster or smaller tavro_api is); for a floor it
    is tavro_api / floor (how many times the floor tavro_api costs)."""
    rows = []

    def peer(workload, name, goal_ratio=None, goal_text=""):
        mine = s.median(workload, "tavro_api")
        theirs = s.median(workload, name)
        ratio = theirs / mine
        met = None if goal_ratio is None else ratio >= goal_ratio
        rows.append(
            {
                "workload": workload,
                "tavro_api": mine,
                "kind": "peer",
                "peer": name,
                "peer_value": theirs,
                "ratio": ratio,
                "goal": goal_text,
                "met": met,
            }
        )

    def floor(workload, name, goal_max=None):
        mine = s.median(workload, "tavro_api")
        least = s.median(workload, name)
        ratio = mine / least
        rows.append(
            {
                "workload": workload,
                "tavro_api": mine,
                "kind": "floor",
                "peer": f"floor: {name}",
                "peer_value": least,
                "ratio": ratio,
                "goal": "" if goal_max is None else f"<= {goal_max}x floor",
                "met": None if goal_max is None else ratio <= goal_max,
            }
        )

    floor("E add_edge, in cache", "no-op method", 2.5)
    peer("E add_edge, in cache", "pure")
    peer("E add_edge, in cache", "loop")
    floor("E add_edge", "no-op method", 1.8)
    peer("E add_edge", "pure")
    peer("E add_edge", "loop")
    floor("N add_node", "d[i] = u.copy()", 0.5)
    peer("N add_node", "pure")
    floor("D delete_edge", "pure", 0.4)
    for sources in (sizes.cache_sources, sizes.edge_sources):
        peer(f"D delete_node, {sources:,} sources", "pure", None, "(median call)")
        big = sources != sizes.cache_sources
        peer(f"D delete 10% of {sources:,} nodes", "pure, median call x count" if big else "pure")
    listing_goals = {
        "new_or_updated_nodes": 1.3,
        "deleted_nodes": None,
        "new_or_updated_edges": 1.3,
        "deleted_edges": 1.3,
    }
    for name in (*LISTINGS, "all four listings"):
        floor(f"L {name}", "objects built in C", listing_goals.get(name))
        peer(f"L {name}", "pure", 5, ">= 5x faster")
        peer(f"L {name}", "pure, hex ids")
    for name in ("num_nodes", "num_edges"):
        peer(f"L {name}", "pure")
    floor("to_bytes", "copy", 2)
    peer("to_bytes", "pickle.dumps", 10, ">= 10x faster")
    peer("to_bytes", "msgpack.packb", 5, ">= 5x faster")
    peer("to_bytes", "pure")
    floor("from_bytes", "copy", 2.5)
    peer("from_bytes", "pickle.loads", 5, ">= 5x faster")
    peer("from_bytes", "msgpack.unpackb", 3, ">= 3x faster")
    peer("from_bytes", "pure")
    for m in mem:
        what = "node" if m["kind"] == "nodes" else "edge"
        where = (
            f"{m['calls']:,} calls/{m['items']:,} nodes"
            if m["kind"] == "nodes"
            else f"{m['items']:,} edges/{m['sources']:,} sources"
        )
        row = {"workload": f"M {m['workload']} bytes/{what} ({where})", "tavro_api": m["tavro_api"]}
        if m["kind"].startswith("edges"):
            # The content of a pending edge: its 16-byte target and float32
            # weight, and its share of the source's 16-byte id.
            content = 20.0 + 16.0 * m["sources"] / m["items"]
            ratio = m["tavro_api"] / content
            goal = m["kind"] == "edges"
            rows.append(
                dict(
                    row,
                    kind="floor",
                    peer="floor: content",
                    peer_value=content,
                    ratio=ratio,
                    goal="<= 27 B per edge" if goal else "",
                    met=m["tavro_api"] <= 27.0 if goal else None,
                )
            )
        rows.append(
            dict(
                row,
                kind="peer",
                peer="pure",
                peer_value=m["pure"],
                ratio=m["pure"] / m["tavro_api"],
                goal="",
                met=None,
            )
        )
    return rows


RATIO_LEGEND = (
    "ratio: for a floor, tavro_api / floor (how many times what the interpreter, allocator\n"
    "and kernel charge for the same work tavro_api costs; 1 is the floor); for a peer,\n"
    "peer / tavro_api (how many times faster or smaller tavro_api is)."
)


def print_table(rows: list[dict], sizes: wl.Sizes, runs: int) -> str:
    lines = []
    title = f"tavro_api benchmark, {sizes.name} sizes, median of {runs} runs (thread CPU time)"
    if sizes.name == "quick":
        title += " (QUICK: every count divided by ten; not the goal sizes)"
    lines.append(title)
    header = ("workload", "tavro_api", "floor or peer", "its median", "ratio", "goal", "")
    table = [header]
    last = None
    for r in rows:
        memory = r["workload"].startswith("M ")
        value = (lambda v: f"{v:.1f} B") if memory else fmt_time
        table.append(
            (
                r["workload"] if r["workload"] != last else "",
                value(r["tavro_api"]) if r["workload"] != last else "",
                r["peer"],
                value(r["peer_value"]),
                f"{r['ratio']:.2f}x",
                r["goal"],
                "" if r["met"] is None else ("met" if r["met"] else "MISSED"),
            )
        )
        last = r["workload"]
    widths = [max(len(row[i]) for row in table) for i in range(len(header))]
    for i, row in enumerate(table):
        lines.append(
            "  ".join(
                cell.ljust(widths[j]) if j in (0, 2, 5, 6) else cell.rjust(widths[j])
                for j, cell in enumerate(row)
            ).rstrip()
        )
        if i == 0:
            lines.append("  ".join("-" * w for w in widths))
    lines.append(RATIO_LEGEND)
    text = "\n".join(lines)
    print(text)
    return text


def markdown_table(rows: list[dict]) -> str:
    """The rows as a Markdown table (one line per peer)."""
    out = [
        "| workload | tavro_api | floor or peer | its median | ratio | goal | |",
        "|---|---:|---|---:|---:|---|---|",
    ]
    last = None
    for r in rows:
        memory = r["workload"].startswith("M ")
        value = (lambda v: f"{v:.1f} B") if memory else fmt_time
        first = r["workload"] != last
        out.append(
            "| "
            + " | ".join(
                (
                    r["workload"] if first else "",
                    value(r["tavro_api"]) if first else "",
                    r["peer"],
                    value(r["peer_value"]),
                    f"{r['ratio']:.2f}x",
                    r["goal"],
                    "" if r["met"] is None else ("met" if r["met"] else "**missed**"),
                )
            )
            + " |"
        )
        last = r["workload"]
    return "\n".join(out)


def load_average() -> list[float]:
    return list(os.getloadavg())


def main(argv=None) -> None:
    ap = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter
    )
    ap.add_argument(
        "--quick", action="store_true", help="every count divided by ten (under a minute)"
    )
    ap.add_argument("--runs", type=int, default=5, help="samples per figure (median is reported)")
    ap.add_argument(
        "--json", default=os.path.join(_HERE, "results.json"), help="where to write the figures"
    )
    ap.add_argument(
        "--skip-memory", action="store_true", help="leave out the resident memory probes"
    )
    ap.add_argument("--markdown", help="also write the table as Markdown to this path")
    ap.add_argument(
        "--chart",
        help="where to draw the ratios to the floors as an SVG bar chart (default: the tracked"
        " bench/performance.svg for a full run, bench/results-quick.svg for --quick)",
    )
    args = ap.parse_args(argv)
    if args.chart is None:
        args.chart = os.path.join(_HERE, "results-quick.svg" if args.quick else "performance.svg")
    sizes = wl.QUICK if args.quick else wl.FULL
    started = time.time()
    load_before = load_average()

    def say(msg):
        print(f"[{time.time() - started:6.1f}s] {msg}", file=sys.stderr, flush=True)

    say("checking that the pure-Python peer matches tavro_api")
    check_peer()
    say("compiling the floors")
    fl = floors.load()
    say("making the arguments")
    e = wl.edge_workload(SEED_EDGES, sizes.edge_sources, sizes.edges_per_source)
    e_cache = wl.edge_workload(SEED_EDGES, sizes.cache_sources, sizes.edges_per_source)
    n = wl.node_workload(SEED_NODES, sizes.node_ids, sizes.node_calls)
    d = wl.delete_workload(SEED_DELETES, e, sizes.delete_edges, sizes.delete_nodes)

    s = Samples()
    say(f"E: {len(e.froms):,} and {len(e_cache.froms):,} add_edge calls")
    bench_edges(s, {"E add_edge, in cache": e_cache, "E add_edge": e}, fl.noop, args.runs)
    say(f"N: {len(n.ids):,} add_node calls")
    bench_nodes(s, n, args.runs)
    say(f"D: {len(d.edge_froms):,} delete_edge and {len(d.node_ids):,} delete_node calls")
    info = bench_deletes(s, e, d, args.runs)
    bench_delete_nodes(s, sizes, args.runs)
    say("L: listings, counts, to_bytes, from_bytes")
    info["diff"] = bench_listings_and_bytes(s, e, n, d, fl, args.runs)
    mem = []
    if not args.skip_memory:
        say("M: resident memory, each in a fresh process")
        mem = bench_memory(sizes)
    load_after = load_average()
    say("done")

    rows = build_rows(s, mem, sizes, info)
    print()
    text = print_table(rows, sizes, args.runs)
    machine = machine_info()
    print(
        f"\nmachine: {machine['cpu']}, {machine['cores']} cores; CPython {machine['python']}; "
        f"tavro_api {machine['tavro_api']} ({machine['git']}); msgpack {machine['msgpack']}; "
        f"load average before {load_before[0]:.2f}, after {load_after[0]:.2f}"
    )
    if max(load_before[0], load_after[0]) > 1.5:
        print(
            "note: the machine was busy during this run. The figures are CPU time, which leaves out"
            " waiting for a core, but caches and memory bandwidth were shared: re-run when idle."
        )
    result = {
        "mode": sizes.name,
        "runs": args.runs,
        "sizes": sizes.__dict__,
        "command": " ".join(
            [os.path.relpath(sys.argv[0])] + (argv if argv is not None else sys.argv[1:])
        ),
        "machine": machine,
        "load_average_before": load_before,
        "load_average_after": load_after,
        "seconds": time.time() - started,
        "diff": info.get("diff"),
        "rows": rows,
        "memory": mem,
        "samples_cpu_ns": s.data,
        "samples_wall_ns": s.wall,
        "table": text,
    }
    with open(args.json, "w") as f:
        json.dump(result, f, indent=1)
    quick_mark = " (QUICK sizes)" if sizes.name == "quick" else ""
    with open(args.chart, "w") as f:
        f.write(chart.svg(rows, text.splitlines()[0].split(" (QUICK")[0] + quick_mark))
    print(f"chart drawn to {args.chart}")
    if args.markdown:
        with open(args.markdown, "w") as f:
            f.write(markdown_table(rows) + "\n")
        print(f"Markdown table written to {args.markdown}")
    print(f"figures written to {args.json}")


if __name__ == "__main__":
    main()
