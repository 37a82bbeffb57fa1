"""A small pure-Python model of the graph diff's rules, for comparing against
PyGraphDiff, and helpers that read a PyGraphDiff into the same shape.

Ids are 16-byte ``bytes`` going in and their hyphenated lower-case hex text
coming out, exactly as PyGraphDiff takes and lists them. Weights and sizes are
narrowed to 32-bit floats the way the module narrows them.
"""

import math
import struct

NODE_FIELDS = ("label", "url", "size", "red", "green", "blue", "show_label")


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
        for key in NODE_FIELDS:
            if key in update:
                value = update[key]
                if key == "size":
                    value = f32(float(value))
                elif key in ("red", "green", "blue"):
                    value = int(value)
                elif key == "show_label":
                    value = bool(value)
                else:
                    value = str(value)
                merged[key] = value
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
        nodes = {}
        for node_id, fields in self.nodes.items():
            written = {key: fields[key] for key in NODE_FIELDS if key in fields}
            nodes[id_text(node_id)] = canon_update(written)
        edges = {
            id_text(source): {id_text(t): canon_float(w) for t, w in targets.items()}
            for source, targets in self.edges.items()
            if targets
        }
        deleted_edges = {
            id_text(source): sorted(id_text(t) for t in targets)
            for source, targets in self.deleted_edges.items()
            if targets
        }
        return {
            "nodes": nodes,
            "deleted_nodes": sorted(id_text(n) for n in self.deleted),
            "edges": edges,
            "deleted_edges": deleted_edges,
            "num_nodes": len(self.nodes) + len(self.deleted),
            "num_edges": len(self.edges) + len(self.deleted_edges),
        }


def snapshot(diff):
    """Everything a PyGraphDiff lists and counts, in an order-free comparable
    shape. Also checks the result types on the way."""
    nodes = diff.new_or_updated_nodes()
    deleted_nodes = diff.deleted_nodes()
    edges = diff.new_or_updated_edges()
    deleted_edges = diff.deleted_edges()
    num_nodes = diff.num_nodes()
    num_edges = diff.num_edges()
    assert type(nodes) is dict and type(edges) is dict and type(deleted_edges) is dict
    assert type(deleted_nodes) is list
    assert type(num_nodes) is int and type(num_edges) is int
    for key, update in nodes.items():
        assert type(key) is str and type(update) is dict
    for inner in edges.values():
        assert type(inner) is dict and inner
    for targets in deleted_edges.values():
        assert type(targets) is list and targets
    return {
        "nodes": {key: canon_update(update) for key, update in nodes.items()},
        "deleted_nodes": sorted(deleted_nodes),
        "edges": {
            source: {target: canon_float(w) for target, w in inner.items()}
            for source, inner in edges.items()
        },
        "deleted_edges": {source: sorted(targets) for source, targets in deleted_edges.items()},
        "num_nodes": num_nodes,
        "num_edges": num_edges,
    }
