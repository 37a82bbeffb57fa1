"""The floors of the benchmark: what the interpreter, the allocator and the
kernel charge for the work tavro_api does, measured in the same run.

``load()`` compiles ``floors.c`` with the interpreter's own compiler and flags
into a private folder and imports it; it is never installed. The listing
floors take flat arrays made from tavro_api's own listings before timing
(``listing_inputs``), so they build the same objects in the same order.
"""

from __future__ import annotations

import array
import importlib.machinery
import importlib.util
import os
import shlex
import subprocess
import sysconfig
import tempfile
import uuid

_HERE = os.path.dirname(os.path.abspath(__file__))


def load():
    """The compiled _tavro_floors module."""
    out_dir = tempfile.mkdtemp(prefix="tavro_floors_")
    target = os.path.join(out_dir, "_tavro_floors" + sysconfig.get_config_var("EXT_SUFFIX"))
    cc = shlex.split(sysconfig.get_config_var("CC") or "cc")
    flags = shlex.split(sysconfig.get_config_var("CCSHARED") or "-fPIC")
    command = [
        *cc,
        *flags,
        "-O2",
        "-shared",
        "-I",
        sysconfig.get_paths()["include"],
        os.path.join(_HERE, "floors.c"),
        "-o",
        target,
    ]
    subprocess.run(command, check=True)
    loader = importlib.machinery.ExtensionFileLoader("_tavro_floors", target)
    spec = importlib.util.spec_from_file_location("_tavro_floors", target, loader=loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def _raw(text: str) -> bytes:
    return uuid.UUID(text).bytes


def edge_inputs(listing: dict, with_weights: bool) -> tuple:
    """Flat arrays of a source → targets listing, in its order."""
    sources, targets = bytearray(), bytearray()
    counts, weights = array.array("I"), array.array("f")
    for source, inner in listing.items():
        sources += _raw(source)
        counts.append(len(inner))
        for target in inner:
            targets += _raw(target)
            if with_weights:
                weights.append(inner[target])
    if with_weights:
        return bytes(sources), counts, bytes(targets), weights
    return bytes(sources), counts, bytes(targets)


def listing_inputs(diff) -> dict:
    """For each listing name, the arguments of its floor function."""
    nodes = diff.new_or_updated_nodes()
    return {
        "new_or_updated_nodes": (
            b"".join(map(_raw, nodes)),
            list(nodes.values()),
        ),
        "deleted_nodes": (b"".join(map(_raw, diff.deleted_nodes())),),
        "new_or_updated_edges": edge_inputs(diff.new_or_updated_edges(), True),
        "deleted_edges": edge_inputs(diff.deleted_edges(), False),
    }


FLOOR_FUNCTIONS = {
    "new_or_updated_nodes": "node_dict",
    "deleted_nodes": "id_list",
    "new_or_updated_edges": "edge_dict",
    "deleted_edges": "id_list_dict",
}
