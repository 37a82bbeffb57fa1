"""to_bytes and from_bytes as Python sees them: what only reading makes. (The
layout byte for byte, every refusal and the bytes that a fixed history writes on
every host are the C++ byte tests; the round trip is a step of the model test;
the one fixed exception and the accepted argument types are rows of the case list.)"""

import struct

from cases import LISTINGS, A, B
from diff_model import id_text
from tavro_api import PyGraphDiff


def text(raw):  # an id is written as a 16-byte text
    return struct.pack("<Q", len(raw)) + raw


def test_what_only_reading_makes():
    # A node both changed and deleted, counted once in each; a source with an empty
    # map of edges and one with an empty set of deleted edges, counted but not listed.
    one, none = struct.pack("<Q", 1), struct.pack("<Q", 0)
    diff = PyGraphDiff.from_bytes(
        one + text(A) + text(b"{}") + one + text(A) + one + text(A) + none + one + text(B) + none
    )
    listed = [getattr(diff, name)() for name in LISTINGS[:-1]]  # all but to_bytes
    assert listed == [{id_text(A): {}}, [id_text(A)], {}, {}, 2, 2]
