"""Crafted ids against random ids on every insertion path, in one run.

    python bench/crafted.py GENERATOR [--counts 50000 200000] [--kinds range under]

GENERATOR is the crafted_ids program (cmake -DTAVRO_BUILD_TABLE_BENCH=ON builds it
as build/.../crafted_ids). tavro_api must be importable. For each count and each
crafted kind, prints the CPU seconds of each path for crafted and random ids, their
ratio, and the growth of the crafted time from the smallest count to the largest.
A path that runs past --limit seconds is stopped there and shown as "> limit".
"""

import argparse
import multiprocessing
import struct
import subprocess
import time

from tavro_api import PyGraphDiff

SOURCE = bytes(range(16))


def ids_from(generator, kind, count, table):
    out = subprocess.run(
        [generator, kind, str(count), table], check=True, capture_output=True
    ).stdout
    return [out[i : i + 16] for i in range(0, len(out), 16)]


def diff_bytes(nodes=(), deleted=(), targets=()):
    head = struct.pack("<Q", len(nodes))
    out = [head]
    out += [struct.pack("<Q", 16) + i + struct.pack("<Q", 2) + b"{}" for i in nodes]
    out.append(struct.pack("<Q", len(deleted)))
    out += [struct.pack("<Q", 16) + i for i in deleted]
    if targets:
        out.append(struct.pack("<QQ", 1, 16) + SOURCE + struct.pack("<Q", len(targets)))
        out += [struct.pack("<Q", 16) + i + struct.pack("<f", 1.0) for i in targets]
    else:
        out.append(struct.pack("<Q", 0))
    out.append(struct.pack("<Q", 0))
    return b"".join(out)


def add_edges(ids):
    diff = PyGraphDiff()
    for target in ids:
        diff.add_edge(SOURCE, target, 1.0)


def delete_nodes(ids):
    diff = PyGraphDiff()
    for node in ids:
        diff.delete_node(node)


def delete_targets(ids):
    """A chain of edges through the ids, then delete_node of each: the scans
    pay for the reverse index, which the rest of the calls use."""
    diff = PyGraphDiff()
    for source, target in zip(ids, ids[1:] + ids[:1]):
        diff.add_edge(source, target, 1.0)
    for node in ids:
        diff.delete_node(node)


def add_nodes(ids):
    diff = PyGraphDiff()
    for node in ids:
        diff.add_node(node, {})


# name, table the generator crafts for, work (made before timing) -> timed call
PATHS = [
    (
        "from_bytes deleted nodes",
        "set-reserve",
        lambda ids: (PyGraphDiff.from_bytes, diff_bytes(deleted=ids)),
    ),
    (
        "from_bytes one source",
        "edges-reserve",
        lambda ids: (PyGraphDiff.from_bytes, diff_bytes(targets=ids)),
    ),
    (
        "from_bytes node changes {}",
        "nodes-reserve",
        lambda ids: (PyGraphDiff.from_bytes, diff_bytes(nodes=ids)),
    ),
    ("add_edge into one source", "edges-grow", lambda ids: (add_edges, ids)),
    ("delete_node", "set-grow", lambda ids: (delete_nodes, ids)),
    ("delete_node of targets", "index-reserve", lambda ids: (delete_targets, ids)),
    ("add_node(id, {})", "nodes-grow", lambda ids: (add_nodes, ids)),
]


def timed(call, argument, queue):
    start = time.process_time()
    call(argument)
    queue.put(time.process_time() - start)


def cpu_seconds(call, argument, limit):
    """CPU time of one call in a child process, or None past `limit` seconds."""
    queue = multiprocessing.Queue()
    child = multiprocessing.Process(target=timed, args=(call, argument, queue))
    child.start()
    child.join(limit)
    if child.is_alive():
        child.kill()
        child.join()
        return None
    return queue.get()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("generator")
    parser.add_argument("--counts", type=int, nargs="+", default=[50000, 200000])
    parser.add_argument("--kinds", nargs="+", default=["range", "under"])
    parser.add_argument("--limit", type=float, default=60.0)
    args = parser.parse_args()
    multiprocessing.set_start_method("fork")

    def show(seconds):
        return f"> {args.limit:.0f} s" if seconds is None else f"{seconds * 1e3:9.1f} ms"

    print(f"{'path':28} {'kind':6} {'count':>7} {'crafted':>12} {'random':>12} {'ratio':>8}")
    for name, table, make in PATHS:
        for kind in args.kinds:
            crafted_times = []
            for count in args.counts:
                crafted_call, crafted_arg = make(ids_from(args.generator, kind, count, table))
                random_call, random_arg = make(ids_from(args.generator, "random", count, table))
                crafted = cpu_seconds(crafted_call, crafted_arg, args.limit)
                random = cpu_seconds(random_call, random_arg, args.limit)
                crafted_times.append(crafted)
                ratio = "" if crafted is None else f"{crafted / random:7.1f}x"
                print(
                    f"{name:28} {kind:6} {count:7} {show(crafted):>12} {show(random):>12} {ratio:>8}"
                )
            if None not in crafted_times and len(crafted_times) > 1:
                growth = crafted_times[-1] / crafted_times[0]
                print(
                    f"{'':28} {kind:6} crafted growth {args.counts[0]} -> {args.counts[-1]}: {growth:.1f}x"
                )


if __name__ == "__main__":
    main()
