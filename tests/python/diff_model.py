"""A small pure-Python model of the graph diff's rules, for comparing against
PyGraphDiff, helpers that read a PyGraphDiff into the same shape, and values
that convert through the number protocols, shared by the boundary tests.

Ids are 16-byte ``bytes`` going in and their hyphenated lower-case hex text
coming out, exactly as PyGraphDiff takes and lists them. Weights and sizes are
narrowed to 32-bit floats the way the module narrows them.
"""

import math
import struct

FIELDS = {  # the node fields, in the order they are written, and their conversions
    "label": str,
    "url": str,
    "size": lambda value: f32(float(value)),
    "red": int,
    "green": int,
    "blue": int,
    "show_label": bool,
}


def id_text(raw: bytes) -> str:
    """The 36-character text form of a 16-byte id."""
    h = raw.hex()
    return f"{h[0:8]}-{h[8:12]}-{h[12:16]}-{h[16:20]}-{h[20:32]}"


def f32(value: float) -> float:
    """`value` narrowed to a 32-bit float (round to nearest even) and widened back."""
    try:
        return struct.unpack("<f", struct.pack("<f", value))[0]
    except OverflowError:
        # Rounds beyond the largest finite 32-bit float.
        return math.copysign(math.inf, value)


def canon_float(value: float) -> str:
    """A comparable form of a float that tells -0.0 from 0.0 and equates NaNs."""
    assert type(value) is float, f"expected a float, got {type(value).__name__}"
    return "nan" if math.isnan(value) else repr(value)


def canon_update(update: dict) -> tuple:
    """A written node update dict as an ordered tuple of (key, comparable value)."""
    items = []
    for key, value in update.items():
        if key == "size":
            value = canon_float(value)
        items.append((key, type(value).__name__, value))
    return tuple(items)


class DiffModel:
    """The rules of the diff on plain dicts and sets, keyed by 16-byte ids."""

    def __init__(self):
        self.nodes = {}  # id -> dict of present fields
        self.deleted = set()  # ids
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
            return False
        if source in self.deleted_edges:
            self.deleted_edges[source].discard(target)
            if not self.deleted_edges[source]:
                del self.deleted_edges[source]
        self.edges.setdefault(source, {})[target] = f32(float(weight))
        return True

    def delete_edge(self, source, target):
        self.deleted_edges.setdefault(source, set()).add(target)
        if source in self.edges:
            self.edges[source].pop(target, None)
            if not self.edges[source]:
                del self.edges[source]

    def clear(self):
        self.__init__()

    def snapshot(self):
        """The model in the shape `snapshot(PyGraphDiff)` gives."""
        return canonical(
            {id_text(n): {k: f[k] for k in FIELDS if k in f} for n, f in self.nodes.items()},
            [id_text(n) for n in self.deleted],
            {
                id_text(s): {id_text(t): w for t, w in ts.items()}
                for s, ts in self.edges.items()
                if ts  # an emptied inner map is counted, not listed
            },
            {id_text(s): [id_text(t) for t in ts] for s, ts in self.deleted_edges.items()},
            len(self.nodes) + len(self.deleted),
            len(self.edges) + len(self.deleted_edges),
        )


def canonical(nodes, deleted_nodes, edges, deleted_edges, num_nodes, num_edges):
    """Listings and counts in an order-free comparable shape."""
    return {
        "nodes": {key: canon_update(update) for key, update in nodes.items()},
        "deleted_nodes": sorted(deleted_nodes),
        "edges": {s: {t: canon_float(w) for t, w in inner.items()} for s, inner in edges.items()},
        "deleted_edges": {source: sorted(targets) for source, targets in deleted_edges.items()},
        "num_nodes": num_nodes,
        "num_edges": num_edges,
    }


def snapshot(diff):
    """Everything a PyGraphDiff lists and counts, in an order-free comparable
    shape. Also checks the result types on the way."""
    names = ("new_or_updated_nodes", "deleted_nodes", "new_or_updated_edges", "deleted_edges")
    listings = tuple(getattr(diff, name)() for name in (*names, "num_nodes", "num_edges"))
    nodes, deleted_nodes, edges, deleted_edges, num_nodes, num_edges = listings
    assert type(nodes) is dict and type(edges) is dict and type(deleted_edges) is dict
    assert type(deleted_nodes) is list
    assert type(num_nodes) is int and type(num_edges) is int
    for key, update in nodes.items():
        assert type(key) is str and type(update) is dict
    for inner in edges.values():
        assert type(inner) is dict and inner
    for targets in deleted_edges.values():
        assert type(targets) is list and targets
    return canonical(*listings)


class FloatLike:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class IndexLike:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Raises:
    """Fails both float and integer conversion with the given exception."""

    def __init__(self, error):
        self.error = error

    def __float__(self):
        raise self.error

    def __index__(self):
        raise self.error


class TypeErrorSubclass(TypeError):
    pass


class Unprintable:
    def __str__(self):
        raise RuntimeError("no text")
