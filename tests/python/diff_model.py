"""A pure-Python model of the diff's rules, a reader of a PyGraphDiff into the
same order-free shape, and values that convert through the number protocols."""

import math
import struct
import uuid

FIELDS = {  # the node fields in written order, and their conversions
    "label": str,
    "url": str,
    "size": lambda value: f32(float(value)),
    "red": int,
    "green": int,
    "blue": int,
    "show_label": bool,
}


def id_text(raw: bytes) -> str:
    return str(uuid.UUID(bytes=raw))


def f32(value: float) -> float:
    """`value` rounded to the nearest 32-bit float (ties to even)."""
    try:
        return struct.unpack("<f", struct.pack("<f", value))[0]
    except OverflowError:  # rounds beyond the largest finite 32-bit float
        return math.copysign(math.inf, value)


def canon_float(value) -> str:
    """Tells -0.0 from 0.0, equates NaNs, and insists on a float."""
    assert type(value) is float, f"expected a float, got {type(value).__name__}"
    return "nan" if math.isnan(value) else repr(value)


class DiffModel:
    def __init__(self):
        self.nodes = {}  # id -> dict of present fields
        self.deleted = set()
        self.edges = {}  # from -> {to: weight}; an inner dict may be empty
        self.deleted_edges = {}  # from -> set of to; never empty

    def add_node(self, node_id, update):
        merged = self.nodes.setdefault(node_id, {})
        merged.update((key, conv(update[key])) for key, conv in FIELDS.items() if key in update)
        self.deleted.discard(node_id)

    def delete_node(self, node_id):
        self.nodes.pop(node_id, None)
        self.edges.pop(node_id, None)
        for source, targets in self.edges.items():
            if node_id in targets:
                self.deleted_edges.setdefault(source, set()).add(node_id)
                del targets[node_id]  # an emptied inner map stays
        self.deleted.add(node_id)

    def add_edge(self, source, target, weight):
        if source in self.deleted or target in self.deleted:
            return
        if source in self.deleted_edges:
            self.deleted_edges[source].discard(target)
            if not self.deleted_edges[source]:
                del self.deleted_edges[source]
        self.edges.setdefault(source, {})[target] = f32(float(weight))

    def delete_edge(self, source, target):
        self.deleted_edges.setdefault(source, set()).add(target)
        if source in self.edges:
            self.edges[source].pop(target, None)
            if not self.edges[source]:
                del self.edges[source]

    def clear(self):
        self.__init__()

    def snapshot(self):
        return canonical(
            {id_text(n): {k: f[k] for k in FIELDS if k in f} for n, f in self.nodes.items()},
            [id_text(n) for n in self.deleted],
            {
                id_text(s): {id_text(t): w for t, w in ts.items()}
                for s, ts in self.edges.items()
                if ts
            },
            {id_text(s): [id_text(t) for t in ts] for s, ts in self.deleted_edges.items()},
            len(self.nodes) + len(self.deleted),
            len(self.edges) + len(self.deleted_edges),
        )


def canonical(nodes, deleted_nodes, edges, deleted_edges, num_nodes, num_edges):
    return {
        "nodes": {k: tuple((f, type(v).__name__, canon_float(v) if f == "size" else v)
                           for f, v in u.items()) for k, u in nodes.items()},
        "deleted_nodes": sorted(deleted_nodes),
        "edges": {s: {t: canon_float(w) for t, w in inner.items()} for s, inner in edges.items()},
        "deleted_edges": {source: sorted(targets) for source, targets in deleted_edges.items()},
        "num_nodes": num_nodes,
        "num_edges": num_edges,
    }  # fmt: skip


def snapshot(diff):
    """Everything a PyGraphDiff lists and counts, order-free; checks the types."""
    names = ("new_or_updated_nodes", "deleted_nodes", "new_or_updated_edges", "deleted_edges")
    listings = tuple(getattr(diff, name)() for name in (*names, "num_nodes", "num_edges"))
    nodes, deleted_nodes, edges, deleted_edges, num_nodes, num_edges = listings
    assert [type(x) for x in listings] == [dict, list, dict, dict, int, int]
    assert all(type(k) is str and type(u) is dict for k, u in nodes.items())
    assert all(type(inner) is dict and inner for inner in edges.values())
    assert all(type(targets) is list and targets for targets in deleted_edges.values())
    return canonical(*listings)


def FloatLike(value):  # noqa: N802 - stands for a class
    return type("FloatLike", (), {"__float__": lambda self: value})()


def IndexLike(value):  # noqa: N802
    return type("IndexLike", (), {"__index__": lambda self: value})()


def _raise(self):
    raise self.error.with_traceback(None)


def Raises(error):  # noqa: N802 - fails float and integer conversion with `error`
    return type("Raises", (), {"error": error, "__float__": _raise, "__index__": _raise})()
