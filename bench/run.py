"""Benchmark of tavro_api against real alternatives; prints a table and writes JSON.

    python bench/run.py [--quick] [--json PATH] [--runs N] [--skip-memory]

Workloads (fixed seeds; sizes of the full run, --quick divides every count by
ten and says so in the table):

  E   1,000,000 add_edge calls: 100,000 sources, 10 random targets each from
      the same pool of 100,000 ids, random weights.
  N   200,000 add_node calls over 100,000 ids (so half of them merge), each
      dict with a label of 10 to 20 characters, size, red, green, blue and
      show_label.
  D   100,000 delete_edge calls for pending edges of E's diff, then 1,000
      delete_node calls on it; delete_node walks every source by design, so it
      is reported on its own, per call, with the number of sources it walked.
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
  copy     bytes(bytearray) of a buffer as long as tavro_api's output: a warm
           copy, the floor that no serialiser can beat

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


def bench_edges(s: Samples, e: wl.EdgeWorkload, runs: int) -> None:
    calls = len(e.froms)
    for _ in range(runs):
        s.add("E add_edge", "loop", timed(lambda: loop_empty3(e.froms, e.tos, e.weights)), calls)
        for impl, cls in IMPLS.items():
            diff = cls()
            s.add(
                "E add_edge",
                impl,
                timed(lambda: loop_edges(diff, e.froms, e.tos, e.weights)),
                calls,
            )
            del diff


def bench_nodes(s: Samples, n: wl.NodeWorkload, runs: int) -> None:
    calls = len(n.ids)
    for _ in range(runs):
        for impl, cls in IMPLS.items():
            diff = cls()
            s.add("N add_node", impl, timed(lambda: loop_nodes(diff, n.ids, n.updates)), calls)
            del diff


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
            if impl == "pure":
                info["sources_walked"] = len(diff.containers()[2])
            s.add(
                "D delete_node",
                impl,
                timed(lambda: loop_delete_nodes(diff, d.node_ids)),
                len(d.node_ids),
            )
            del diff
    return info


LISTINGS = ("new_or_updated_nodes", "deleted_nodes", "new_or_updated_edges", "deleted_edges")


def bench_listings_and_bytes(s: Samples, e, n, d, runs: int) -> dict:
    tavro = build(PyGraphDiff, e, n, d)
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
    for impl in ("tavro_api", "pure", "pure, hex ids"):
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
    rows = []

    def add(
        workload,
        unit,
        peer,
        goal_ratio=None,
        goal_text="",
        impl="tavro_api",
        higher_is_better=False,
    ):
        mine = s.median(workload, impl)
        theirs = s.median(workload, peer)
        ratio = theirs / mine
        met = None if goal_ratio is None else ratio >= goal_ratio
        rows.append(
            {
                "workload": workload,
                "unit": unit,
                "tavro_api": mine,
                "peer": peer,
                "peer_value": theirs,
                "ratio": ratio,
                "goal": goal_text,
                "met": met,
            }
        )

    add("E add_edge", "per call", "pure", 8, ">= 8x faster")
    add("E add_edge", "per call", "loop", None, "(empty loop: the floor)")
    add("N add_node", "per call", "pure", 8, ">= 8x faster")
    add("D delete_edge", "per call", "pure", 8, ">= 8x faster")
    add(
        "D delete_node",
        "per call",
        "pure",
        None,
        f"(walks {info.get('sources_walked', '?')} sources)",
    )
    for name in LISTINGS:
        add(f"L {name}", "per call", "pure", 5, ">= 5x faster")
        add(f"L {name}", "per call", "pure, hex ids", None, "")
    add("L all four listings", "per call", "pure", 5, ">= 5x faster")
    add("L all four listings", "per call", "pure, hex ids", None, "")
    for name in ("num_nodes", "num_edges"):
        add(f"L {name}", "per call", "pure", None, "")
    add("to_bytes", "per call", "pickle.dumps", 10, ">= 10x faster")
    add("to_bytes", "per call", "msgpack.packb", 5, ">= 5x faster")
    add("to_bytes", "per call", "copy", 0.25, "within 4x of a copy")
    add("to_bytes", "per call", "pure", None, "")
    add("from_bytes", "per call", "pickle.loads", 5, ">= 5x faster")
    add("from_bytes", "per call", "msgpack.unpackb", 3, ">= 3x faster")
    add("from_bytes", "per call", "pure", None, "")
    for m in mem:
        ratio = m["pure"] / m["tavro_api"]
        what = "node" if m["kind"] == "nodes" else "edge"
        where = (
            f"{m['calls']:,} calls/{m['items']:,} nodes"
            if m["kind"] == "nodes"
            else f"{m['items']:,} edges/{m['sources']:,} sources"
        )
        goal = m["kind"] == "edges"
        row = {
            "workload": f"M {m['workload']} bytes/{what} ({where})",
            "unit": f"bytes per {what}",
            "tavro_api": m["tavro_api"],
        }
        rows.append(
            dict(
                row,
                peer="pure",
                peer_value=m["pure"],
                ratio=ratio,
                goal="<= 1/3 of the peer's" if goal else "",
                met=ratio >= 3 if goal else None,
            )
        )
        if goal:
            rows.append(
                dict(
                    row,
                    peer="limit",
                    peer_value=40.0,
                    ratio=40.0 / m["tavro_api"],
                    goal="<= 40 B per edge",
                    met=m["tavro_api"] <= 40.0,
                )
            )
    return rows


def print_table(rows: list[dict], sizes: wl.Sizes, runs: int) -> str:
    lines = []
    title = f"tavro_api benchmark, {sizes.name} sizes, median of {runs} runs (thread CPU time)"
    if sizes.name == "quick":
        title += " (QUICK: every count divided by ten; not the goal sizes)"
    lines.append(title)
    header = ("workload", "tavro_api", "peer", "peer median", "ratio", "goal", "")
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
    lines.append(
        "ratio = peer median / tavro_api median (how many times faster or smaller tavro_api is);"
    )
    lines.append(
        "for 'copy' it is copy time / to_bytes time, so 0.25 means to_bytes takes 4 copies;"
    )
    lines.append("for 'limit' it is the goal's limit / tavro_api's figure (met when at least 1).")
    text = "\n".join(lines)
    print(text)
    return text


def markdown_table(rows: list[dict]) -> str:
    """The rows as a Markdown table (one line per peer)."""
    out = [
        "| workload | tavro_api | peer | peer median | ratio | goal | |",
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
    args = ap.parse_args(argv)
    sizes = wl.QUICK if args.quick else wl.FULL
    started = time.time()
    load_before = load_average()

    def say(msg):
        print(f"[{time.time() - started:6.1f}s] {msg}", file=sys.stderr, flush=True)

    say("checking that the pure-Python peer matches tavro_api")
    check_peer()
    say("making the arguments")
    e = wl.edge_workload(SEED_EDGES, sizes.edge_sources, sizes.edges_per_source)
    n = wl.node_workload(SEED_NODES, sizes.node_ids, sizes.node_calls)
    d = wl.delete_workload(SEED_DELETES, e, sizes.delete_edges, sizes.delete_nodes)

    s = Samples()
    say(f"E: {len(e.froms):,} add_edge calls")
    bench_edges(s, e, args.runs)
    say(f"N: {len(n.ids):,} add_node calls")
    bench_nodes(s, n, args.runs)
    say(f"D: {len(d.edge_froms):,} delete_edge and {len(d.node_ids):,} delete_node calls")
    info = bench_deletes(s, e, d, args.runs)
    say("L: listings, counts, to_bytes, from_bytes")
    info["diff"] = bench_listings_and_bytes(s, e, n, d, args.runs)
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
        "delete_node_sources_walked": info.get("sources_walked"),
        "rows": rows,
        "memory": mem,
        "samples_cpu_ns": s.data,
        "samples_wall_ns": s.wall,
        "table": text,
    }
    with open(args.json, "w") as f:
        json.dump(result, f, indent=1)
    if args.markdown:
        with open(args.markdown, "w") as f:
            f.write(markdown_table(rows) + "\n")
        print(f"Markdown table written to {args.markdown}")
    print(f"figures written to {args.json}")


if __name__ == "__main__":
    main()
