"""Deterministic arguments for the benchmark workloads.

Every generator takes a seed and returns the same values in every run and in
every process, so tavro_api and its peers see exactly the same calls. Ids are
16-byte ``bytes``; weights and sizes are values that a 32-bit float holds
exactly, so every implementation stores and lists the same numbers whatever
narrowing it does or does not do.
"""

from __future__ import annotations

import random
import string
import struct
from dataclasses import dataclass

_F32 = struct.Struct("<f")

LABEL_ALPHABET = string.ascii_letters + string.digits + " _-"


@dataclass(frozen=True)
class Sizes:
    """Workload sizes. The full run uses the figures of the goals; --quick
    divides every count by ten (and delete_node then walks ten times fewer
    sources, which it reports)."""

    name: str
    edge_sources: int  # E: sources, which are also the pool of targets
    cache_sources: int  # E in cache: sources of the small variant whose ids stay in cache
    edges_per_source: int  # E: random targets per source
    node_ids: int  # N: distinct node ids
    node_calls: int  # N: add_node calls (node_calls - node_ids of them merge)
    delete_edges: int  # D: delete_edge calls on E's diff
    delete_nodes: int  # D: delete_node calls on E's diff
    big_sources: int  # memory-only variant of E: sources
    big_edges_per_source: int  # memory-only variant: targets per source

    @property
    def edge_calls(self) -> int:
        return self.edge_sources * self.edges_per_source

    @property
    def big_edges(self) -> int:
        return self.big_sources * self.big_edges_per_source


FULL = Sizes(
    name="full",
    edge_sources=100_000,
    cache_sources=10_000,
    edges_per_source=10,
    node_ids=100_000,
    node_calls=200_000,
    delete_edges=100_000,
    delete_nodes=1_000,
    big_sources=1_000_000,
    big_edges_per_source=10,
)

QUICK = Sizes(
    name="quick",
    edge_sources=10_000,
    cache_sources=1_000,
    edges_per_source=10,
    node_ids=10_000,
    node_calls=20_000,
    delete_edges=10_000,
    delete_nodes=100,
    big_sources=100_000,
    big_edges_per_source=10,
)


def f32(value: float) -> float:
    """`value` narrowed to a 32-bit float and widened back."""
    return _F32.unpack(_F32.pack(value))[0]


def make_ids(rng: random.Random, count: int) -> list[bytes]:
    """`count` distinct random 16-byte ids."""
    seen = set()
    ids = []
    while len(ids) < count:
        raw = rng.randbytes(16)
        if raw not in seen:
            seen.add(raw)
            ids.append(raw)
    return ids


def random_weight(rng: random.Random) -> float:
    return f32(rng.uniform(-1000.0, 1000.0))


def random_update(rng: random.Random) -> dict:
    """A node update dict with a label of 10 to 20 characters, size, the three
    colours and show_label."""
    length = rng.randint(10, 20)
    return {
        "label": "".join(rng.choices(LABEL_ALPHABET, k=length)),
        "size": f32(rng.uniform(0.5, 100.0)),
        "red": rng.randrange(256),
        "green": rng.randrange(256),
        "blue": rng.randrange(256),
        "show_label": rng.random() < 0.5,
    }


@dataclass
class EdgeWorkload:
    """E: `sources` ids, each with `per_source` pending edges to random targets
    drawn from the same ids. The calls are grouped by source, the way a stream
    of edits for one node tends to arrive."""

    ids: list[bytes]
    froms: list[bytes]
    tos: list[bytes]
    weights: list[float]


def edge_workload(seed: int, sources: int, per_source: int) -> EdgeWorkload:
    rng = random.Random(seed)
    ids = make_ids(rng, sources)
    froms, tos, weights = [], [], []
    for source in ids:
        for target in rng.choices(ids, k=per_source):
            froms.append(source)
            tos.append(target)
            weights.append(random_weight(rng))
    return EdgeWorkload(ids, froms, tos, weights)


@dataclass
class NodeWorkload:
    """N: `calls` add_node calls over `distinct` ids, each id used
    calls/distinct times in a shuffled order, so later calls merge."""

    ids: list[bytes]
    updates: list[dict]


def node_workload(seed: int, distinct: int, calls: int) -> NodeWorkload:
    rng = random.Random(seed)
    pool = make_ids(rng, distinct)
    order = [pool[i % distinct] for i in range(calls)]
    rng.shuffle(order)
    return NodeWorkload(order, [random_update(rng) for _ in range(calls)])


@dataclass
class DeleteWorkload:
    """D: delete_edge calls for pending edges of E (distinct pairs drawn from
    its history), and delete_node calls for ids of E (each a source with
    outgoing edges and, on average, as many incoming ones)."""

    edge_froms: list[bytes]
    edge_tos: list[bytes]
    node_ids: list[bytes]


def delete_workload(seed: int, edges: EdgeWorkload, n_edges: int, n_nodes: int) -> DeleteWorkload:
    rng = random.Random(seed)
    picks = rng.sample(range(len(edges.froms)), n_edges)
    return DeleteWorkload(
        [edges.froms[i] for i in picks],
        [edges.tos[i] for i in picks],
        rng.sample(edges.ids, n_nodes),
    )
