"""Record a stream of graph edits in a PyGraphDiff, list it, and hand it to
another process as bytes.

The sample data is built in: a small social graph of a few thousand people
whose display attributes change, who follow each other with weighted edges,
and some of whom leave.
"""

import multiprocessing
import random
import time
import uuid

from tavro_api import PyGraphDiff

PEOPLE = 3000
FOLLOWS = 12000


def build_diff(rng: random.Random) -> tuple[PyGraphDiff, list[bytes]]:
    ids = [uuid.UUID(int=rng.getrandbits(128)).bytes for _ in range(PEOPLE)]
    diff = PyGraphDiff()

    # Every person appears with a label and a colour...
    for n, person in enumerate(ids):
        diff.add_node(person, {"label": f"person {n}", "red": n % 256, "show_label": False})
    # ...and later updates merge into the pending change field by field.
    for person in ids[:500]:
        diff.add_node(person, {"size": 2.5, "show_label": True})

    # Weighted follows; a repeated edge keeps the latest weight.
    for _ in range(FOLLOWS):
        diff.add_edge(rng.choice(ids), rng.choice(ids), rng.random())

    # Deletions cancel what was pending: an unfollow drops the edge and
    # records its deletion; a person leaving drops their change and their
    # outgoing edges, and records the deletion of edges pointing at them.
    for _ in range(300):
        diff.delete_edge(rng.choice(ids), rng.choice(ids))
    leavers = ids[-50:]
    for person in leavers:
        diff.delete_node(person)
    # An edge to someone who left is refused silently.
    diff.add_edge(ids[0], leavers[0], 1.0)
    return diff, ids


def describe(diff: PyGraphDiff, title: str) -> None:
    nodes = diff.new_or_updated_nodes()
    edges = diff.new_or_updated_edges()
    deleted_edges = diff.deleted_edges()
    pending_edges = sum(len(targets) for targets in edges.values())
    print(f"{title}:")
    print(f"  node changes      {len(nodes):6d}")
    print(f"  deleted nodes     {len(diff.deleted_nodes()):6d}")
    print(f"  pending edges     {pending_edges:6d} from {len(edges)} sources")
    print(f"  deleted edges     {sum(map(len, deleted_edges.values())):6d}")
    print(f"  num_nodes={diff.num_nodes()} num_edges={diff.num_edges()} (counts sources)")
    first_id, first_change = next(iter(nodes.items()))
    print(f"  e.g. {first_id}: {first_change}")


def listings(diff: PyGraphDiff) -> tuple:
    """The content of a diff, in a form that compares equal whatever the order."""
    return (
        diff.new_or_updated_nodes(),
        set(diff.deleted_nodes()),
        diff.new_or_updated_edges(),
        {source: set(targets) for source, targets in diff.deleted_edges().items()},
        diff.num_nodes(),
        diff.num_edges(),
    )


def rebuild_in_child(connection) -> None:
    """Runs in a second process: rebuild the diff from bytes and report on it."""
    data = connection.recv_bytes()
    started = time.perf_counter()
    diff = PyGraphDiff.from_bytes(data)
    elapsed = time.perf_counter() - started
    describe(diff, f"rebuilt in process {multiprocessing.current_process().name}")
    connection.send((listings(diff), diff.to_bytes(), elapsed))
    connection.close()


def main() -> None:
    diff, ids = build_diff(random.Random(2026))
    describe(diff, "built here")
    merged = diff.new_or_updated_nodes()[str(uuid.UUID(bytes=ids[0]))]
    print(f"  merged change of the first person: {merged}")

    started = time.perf_counter()
    data = diff.to_bytes()
    encode_time = time.perf_counter() - started
    print(f"\nbyte string: {len(data)} bytes, to_bytes took {encode_time * 1e3:.2f} ms")

    here, there = multiprocessing.Pipe()
    child = multiprocessing.Process(target=rebuild_in_child, args=(there,), name="child")
    child.start()
    here.send_bytes(data)
    content, rewritten, decode_time = here.recv()
    child.join()
    print(f"\nfrom_bytes in the child took {decode_time * 1e3:.2f} ms")
    assert content == listings(diff), "the child holds the same diff"
    # Entry order is not part of the format, but it repeats: the same bytes
    # read in any process give a diff that writes the same bytes again.
    assert rewritten == PyGraphDiff.from_bytes(data).to_bytes()
    print("round trip through the second process: same content, repeatable bytes")


if __name__ == "__main__":
    main()
