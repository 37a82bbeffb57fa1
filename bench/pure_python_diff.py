"""A pure-Python graph diff with the same methods and rules as
``tavro_api.PyGraphDiff``: the peer the benchmark measures the module against.

It is written the way a careful Python programmer would write it for speed:
four containers keyed by the 16-byte ``bytes`` ids (a dict of node update
dicts, a set of deleted ids, a dict of dicts of weights, a dict of sets of
deleted targets), the same supersede and cancel rules, listings with ids as
``str(uuid.UUID(bytes=...))``, and a byte form built with ``struct`` (for the
binary layout) and ``json`` (for the node text) that is byte for byte the
layout the module writes:

    count, then per node: 16, id, text length, JSON text
    count, then per deleted node: 16, id
    count, then per source: 16, id, count, then per target: 16, id, float32
    count, then per source: 16, id, count, then per target: 16, id

(little-endian, 8-byte counts and lengths). The JSON text of a node update
has the members label, size, url, red, green, blue, showLabel in that order,
no whitespace, the size as the shortest decimal that reads back as the same
32-bit float, and null for a NaN or infinite size.

What it leaves out, as a program that trusts its callers would: it does not
type-check arguments (an id is any hashable, a node update any dict whose
known keys are kept as given), it keeps weights and sizes as passed instead
of narrowing them to 32-bit floats (the byte form narrows them), and its
reader accepts what its writer and the module's writer produce rather than
every variant of the JSON text that the module's reader accepts.
"""

from __future__ import annotations

import json
import math
import struct
import uuid
from itertools import repeat

__all__ = ["PurePythonGraphDiff", "HexIdGraphDiff"]

NODE_KEYS = ("label", "url", "size", "red", "green", "blue", "show_label")

_COUNT = struct.Struct("<Q")
_ID = struct.Struct("<Q16s")  # an id: length 16, then the 16 bytes
_HEAD = struct.Struct("<Q16sQ")  # an id followed by a count or a text length
_TARGET = struct.Struct("<Q16sf")  # a target id and its weight
_F32 = struct.Struct("<f")
_ID_LENGTH = _COUNT.pack(16)

# JSON key, dict key, in the order the text writes them.
_JSON_FIELDS = (
    ("label", "label"),
    ("size", "size"),
    ("url", "url"),
    ("red", "red"),
    ("green", "green"),
    ("blue", "blue"),
    ("showLabel", "show_label"),
)

_json_string = json.JSONEncoder(ensure_ascii=False).encode


class DecodeError(ValueError):
    """The byte string is not a graph diff."""


def _f32(value: float) -> float:
    return _F32.unpack(_F32.pack(value))[0]


def f32_text(value: float) -> str:
    """The JSON number of a 32-bit float: the shortest decimal that reads back
    as the same 32-bit value, in plain notation for 1e-6 <= |v| < 1e13 and in
    scientific notation otherwise; null for NaN and infinities."""
    try:
        x = _f32(value)
    except OverflowError:
        return "null"
    if math.isnan(x) or math.isinf(x):
        return "null"
    if x == 0.0:
        return "-0.0" if math.copysign(1.0, x) < 0 else "0.0"
    sign = "-" if x < 0 else ""
    x = abs(x)
    for precision in range(9):
        text = f"{x:.{precision}e}"
        try:
            if _f32(float(text)) == x:
                break
        except OverflowError:
            continue
    mantissa, exponent = text.split("e")
    digits = mantissa.replace(".", "").rstrip("0")
    k = int(exponent) + 1  # 10**(k-1) <= x < 10**k
    n = len(digits)
    e = k - n
    if e >= 0 and k <= 13:
        body = digits + "0" * e + ".0"
    elif 0 < k <= 13:
        body = digits[:k] + "." + digits[k:]
    elif -6 < k <= 0:
        body = "0." + "0" * -k + digits
    elif n == 1:
        body = f"{digits}e{k - 1}"
    else:
        body = f"{digits[0]}.{digits[1:]}e{k - 1}"
    return sign + body


def node_update_json(update: dict) -> str:
    """The JSON text of a node update dict (dict keys as PyGraphDiff takes them)."""
    members = []
    for json_key, key in _JSON_FIELDS:
        if key in update:
            value = update[key]
            if key == "size":
                text = f32_text(value)
            elif key == "label" or key == "url":
                text = _json_string(value)
            elif key == "show_label":
                text = "true" if value else "false"
            else:
                text = str(int(value))
            members.append(f'"{json_key}":{text}')
    return "{" + ",".join(members) + "}"


def node_update_from_json(text: str) -> dict:
    obj = json.loads(text)
    if type(obj) is not dict:
        raise DecodeError("node update is not a JSON object")
    update = {}
    for key in NODE_KEYS:
        value = obj.get("showLabel" if key == "show_label" else key)
        if value is not None:
            update[key] = _f32(value) if key == "size" else value
    return update


class PurePythonGraphDiff:
    """Pending changes to a graph: the same methods and rules as PyGraphDiff."""

    __slots__ = ("_nodes", "_deleted_nodes", "_edges", "_deleted_edges")

    @staticmethod
    def id_text(raw: bytes) -> str:
        return str(uuid.UUID(bytes=raw))

    def __init__(self):
        self._nodes = {}  # id -> update dict
        self._deleted_nodes = set()  # ids
        self._edges = {}  # from -> {to: weight}; an inner dict may be empty
        self._deleted_edges = {}  # from -> set of to; never empty

    # Changes -------------------------------------------------------------

    def add_node(self, id, update):
        current = self._nodes.get(id)
        if current is None:
            self._nodes[id] = {key: update[key] for key in NODE_KEYS if key in update}
        else:
            for key in NODE_KEYS:
                if key in update:
                    current[key] = update[key]
        self._deleted_nodes.discard(id)

    def delete_node(self, id):
        self._nodes.pop(id, None)
        self._edges.pop(id, None)
        deleted_edges = self._deleted_edges
        for source, targets in self._edges.items():
            if id in targets:
                del targets[id]  # an emptied inner dict stays
                marked = deleted_edges.get(source)
                if marked is None:
                    deleted_edges[source] = {id}
                else:
                    marked.add(id)
        self._deleted_nodes.add(id)

    def add_edge(self, from_, to, weight):
        deleted_nodes = self._deleted_nodes
        if from_ in deleted_nodes or to in deleted_nodes:
            return
        marked = self._deleted_edges.get(from_)
        if marked is not None:
            marked.discard(to)
            if not marked:
                del self._deleted_edges[from_]
        targets = self._edges.get(from_)
        if targets is None:
            self._edges[from_] = {to: weight}
        else:
            targets[to] = weight

    def delete_edge(self, from_, to):
        marked = self._deleted_edges.get(from_)
        if marked is None:
            self._deleted_edges[from_] = {to}
        else:
            marked.add(to)
        targets = self._edges.get(from_)
        if targets is not None:
            targets.pop(to, None)
            if not targets:
                del self._edges[from_]

    def clear(self):
        self._nodes.clear()
        self._deleted_nodes.clear()
        self._edges.clear()
        self._deleted_edges.clear()

    # Listings and counts -------------------------------------------------

    def new_or_updated_nodes(self):
        text = self.id_text
        return {text(k): dict(v) for k, v in self._nodes.items()}

    def deleted_nodes(self):
        return list(map(self.id_text, self._deleted_nodes))

    def new_or_updated_edges(self):
        text = self.id_text
        return {
            text(source): {text(t): w for t, w in targets.items()}
            for source, targets in self._edges.items()
            if targets
        }

    def deleted_edges(self):
        text = self.id_text
        return {
            text(source): list(map(text, targets))
            for source, targets in self._deleted_edges.items()
            if targets
        }

    def num_nodes(self):
        return len(self._nodes) + len(self._deleted_nodes)

    def num_edges(self):
        return len(self._edges) + len(self._deleted_edges)

    def containers(self):
        """The four containers themselves (not copies), for the serialiser peers."""
        return self._nodes, self._deleted_nodes, self._edges, self._deleted_edges

    # Byte form -----------------------------------------------------------

    def to_bytes(self) -> bytes:
        head, target, pack_id = _HEAD.pack, _TARGET.pack, _ID.pack
        parts = [_COUNT.pack(len(self._nodes))]
        append = parts.append
        for node_id, update in self._nodes.items():
            text = node_update_json(update).encode()
            append(head(16, node_id, len(text)))
            append(text)
        append(_COUNT.pack(len(self._deleted_nodes)))
        parts += map(pack_id, repeat(16), self._deleted_nodes)
        append(_COUNT.pack(len(self._edges)))
        for source, targets in self._edges.items():
            append(head(16, source, len(targets)))
            parts += map(target, repeat(16), targets, targets.values())
        append(_COUNT.pack(len(self._deleted_edges)))
        for source, targets in self._deleted_edges.items():
            append(head(16, source, len(targets)))
            parts += map(pack_id, repeat(16), targets)
        return b"".join(parts)

    @classmethod
    def from_bytes(cls, data: bytes) -> PurePythonGraphDiff:
        try:
            return cls._read(data)
        except (struct.error, UnicodeDecodeError, ValueError, TypeError) as e:
            raise DecodeError("Failed to deserialize graph diff.") from e

    @classmethod
    def _read(cls, data: bytes) -> PurePythonGraphDiff:
        size = len(data)
        count, head = _COUNT.unpack_from, _HEAD.unpack_from

        def ids_block(start: int, n: int, stride: int) -> bytes:
            # n records of `stride` bytes, each starting with an id: check
            # every length field reads 16 (8 strided slices, no Python loop).
            block = data[start : start + n * stride]
            if len(block) != n * stride:
                raise DecodeError("unexpected end of data")
            for i, byte in enumerate(_ID_LENGTH):
                if block[i::stride] != bytes((byte,)) * n:
                    raise DecodeError("id length is not 16")
            return block

        diff = cls()
        (n,) = count(data, 0)
        off = 8
        texts = {}
        for _ in range(n):
            length, node_id, text_len = head(data, off)
            if length != 16:
                raise DecodeError("id length is not 16")
            off += 32
            if off + text_len > size:
                raise DecodeError("unexpected end of data")
            texts[node_id] = data[off : off + text_len]
            off += text_len
        (n,) = count(data, off)
        off += 8
        block = ids_block(off, n, 24)
        diff._deleted_nodes = {raw for _, raw in _ID.iter_unpack(block)}
        off += 24 * n
        (n,) = count(data, off)
        off += 8
        edges = diff._edges
        for _ in range(n):
            length, source, m = head(data, off)
            if length != 16:
                raise DecodeError("id length is not 16")
            off += 32
            block = ids_block(off, m, 28)
            edges[source] = {t: w for _, t, w in _TARGET.iter_unpack(block)}
            off += 28 * m
        (n,) = count(data, off)
        off += 8
        deleted = diff._deleted_edges
        for _ in range(n):
            length, source, k = head(data, off)
            if length != 16:
                raise DecodeError("id length is not 16")
            off += 32
            block = ids_block(off, k, 24)
            deleted[source] = {raw for _, raw in _ID.iter_unpack(block)}
            off += 24 * k
        nodes = diff._nodes
        for node_id, text in texts.items():
            nodes[node_id] = node_update_from_json(text.decode())
        return diff


class HexIdGraphDiff(PurePythonGraphDiff):
    """The same peer with a faster id text: hex() and slicing instead of a
    uuid.UUID object per id. Used only to show how much of the listing cost
    is the id text."""

    __slots__ = ()

    @staticmethod
    def id_text(raw: bytes) -> str:
        h = raw.hex()
        return f"{h[:8]}-{h[8:12]}-{h[12:16]}-{h[16:20]}-{h[20:]}"
