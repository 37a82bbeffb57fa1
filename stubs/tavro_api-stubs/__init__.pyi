"""Pending changes to a directed, weighted graph of 16-byte node ids."""

import builtins
from typing import SupportsFloat, SupportsIndex, TypedDict, TypeVar, final

import numpy

__all__ = ["PyGraphDiff"]

class NodeUpdate(TypedDict, total=False):
    """A node's display attributes as `add_node` takes them; a missing key leaves the field
    unchanged. The value types are what the conversion accepts (NumPy's scalars included)."""

    label: str
    url: str
    size: SupportsFloat | SupportsIndex
    red: SupportsIndex
    green: SupportsIndex
    blue: SupportsIndex
    show_label: bool | numpy.bool_

class ListedNodeUpdate(TypedDict, total=False):
    """A node's pending change as `new_or_updated_nodes` lists it."""

    label: str
    url: str
    size: float
    red: int
    green: int
    blue: int
    show_label: bool

# An update dict built beforehand as dict[str, object]. A literal dict is checked against
# NodeUpdate (so a misspelt key is an error), since one whose values share a type is inferred as
# dict[str, thattype], which is not dict[str, object]: dict is invariant in its values.
_BuiltUpdate = TypeVar("_BuiltUpdate", bound=dict[str, object])

@final
class PyGraphDiff:
    """A record of pending node and edge changes.

    Ids go in as 16-byte ``bytes`` and come out as 36-character lower-case text.
    """

    def __new__(cls) -> PyGraphDiff: ...
    def new_or_updated_nodes(self) -> dict[str, ListedNodeUpdate]: ...
    def deleted_nodes(self) -> list[str]: ...
    def new_or_updated_edges(self) -> dict[str, dict[str, float]]: ...
    def deleted_edges(self) -> dict[str, list[str]]: ...
    def num_nodes(self) -> int: ...
    def num_edges(self) -> int: ...
    def add_node(self, id: builtins.bytes, update: NodeUpdate | _BuiltUpdate) -> None: ...
    def delete_node(self, id: builtins.bytes) -> None: ...
    # The first parameter is named `from`, a reserved word: it can be passed
    # by position (or through **{"from": ...}), so it is positional here.
    def add_edge(
        self, from_: builtins.bytes, /, to: builtins.bytes, weight: SupportsFloat | SupportsIndex
    ) -> None: ...
    def delete_edge(self, from_: builtins.bytes, /, to: builtins.bytes) -> None: ...
    def clear(self) -> None: ...
    def to_bytes(self) -> builtins.bytes: ...
    @staticmethod
    def from_bytes(bytes: builtins.bytes) -> PyGraphDiff: ...
