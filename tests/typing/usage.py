"""Typed use of tavro_api; checked with `mypy --strict` and pyright against the installed stubs."""
# pyright: strict

from typing import TYPE_CHECKING

import numpy as np
from tavro_api import PyGraphDiff

if TYPE_CHECKING:
    from tavro_api import ListedNodeUpdate, NodeUpdate


def build(ids: list[bytes]) -> PyGraphDiff:
    diff = PyGraphDiff()
    update: NodeUpdate = {"label": "a", "size": 1.5, "red": 255, "show_label": True}
    diff.add_node(ids[0], update)
    diff.add_node(id=ids[1], update={"url": "http://example.invalid"})
    diff.add_node(ids[1], {"red": np.uint8(3), "size": np.float32(2), "show_label": np.True_})
    built: dict[str, object] = {"label": "b"}
    diff.add_node(ids[1], built)
    diff.add_edge(ids[0], ids[1], 0.5)
    diff.add_edge(ids[0], to=ids[1], weight=2)
    diff.delete_edge(ids[1], ids[0])
    diff.delete_node(ids[2])
    return diff


def summarise(diff: PyGraphDiff) -> tuple[int, int, float, list[str]]:
    nodes: dict[str, ListedNodeUpdate] = diff.new_or_updated_nodes()
    size = sum(change.get("size", 0.0) for change in nodes.values())
    edges: dict[str, dict[str, float]] = diff.new_or_updated_edges()
    weight = sum(w for targets in edges.values() for w in targets.values())
    deleted: dict[str, list[str]] = diff.deleted_edges()
    return diff.num_nodes(), diff.num_edges(), size + weight, diff.deleted_nodes() + list(deleted)


def round_trip(diff: PyGraphDiff) -> PyGraphDiff:
    data: bytes = diff.to_bytes()
    again = PyGraphDiff.from_bytes(data)
    return diff.from_bytes(bytes=again.to_bytes())
