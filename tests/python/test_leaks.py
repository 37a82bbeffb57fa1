"""No leaks: every case of the shared list, repeated thousands of times after a
warm-up, leaves the interpreter's block count, glibc's in-use heap (which sees
every C++ allocation; not under AddressSanitizer) and its arguments' reference
counts where they were, with tolerances far below one object per call."""

import ctypes
import gc
import os
import sys

import pytest
from cases import CASES, call, populated
from tavro_api import PyGraphDiff

CALLS, WARMUP = 3000, 200
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")


def _heap_reader():
    if UNDER_ASAN or not hasattr(ctypes.CDLL(None), "mallinfo2"):
        return lambda: 0
    mallinfo2 = ctypes.CDLL(None).mallinfo2
    mallinfo2.restype = type("Info", (ctypes.Structure,), {"_fields_": [
        (name, ctypes.c_size_t) for name in ("arena", "ordblks", "smblks", "hblks", "hblkhd",
        "usmblks", "fsmblks", "uordblks", "fordblks", "keepcost")]})  # fmt: skip
    return lambda: mallinfo2().uordblks + mallinfo2().hblkhd


native_heap = _heap_reader()


@pytest.mark.parametrize("name", CASES)
def test_repeated_calls_do_not_grow_memory_or_references(name):
    case = CASES[name]
    diff = populated()
    for _ in range(WARMUP):
        call(diff, case)
    gc.collect()
    refs = [sys.getrefcount(arg) for arg in case[1]]
    blocks, heap = sys.getallocatedblocks(), native_heap()
    for _ in range(CALLS):
        call(diff, case)
    gc.collect()
    blocks, heap = sys.getallocatedblocks() - blocks, native_heap() - heap
    assert [sys.getrefcount(arg) for arg in case[1]] == refs
    assert blocks < 100, f"{blocks} blocks"  # one per call would be thousands
    assert heap < 16 * 1024, f"{heap} bytes"  # one 32-byte block per call would be 96 KB


def test_exceptions_and_their_causes_are_released():
    for bad in [lambda d: d.add_node(bytes(15), {}), lambda d: d.add_edge(bytes(16), "x", 1.0),
                lambda d: d.add_node(bytes(16), {"label": 3}), lambda d: PyGraphDiff.from_bytes(b"")]:  # fmt: skip
        try:
            bad(PyGraphDiff())
        except Exception as error:  # noqa: BLE001 - the error itself is the subject
            caught = error
        caught.__traceback__ = None
        counts = (sys.getrefcount(caught), sys.getrefcount(caught.__cause__))
        # This frame's reference (plus getrefcount's own); the cause: the error's.
        assert counts[0] == 2 and (caught.__cause__ is None or counts[1] == 2)
        del caught


def test_dropping_a_large_diff_returns_its_native_memory():
    if UNDER_ASAN:
        pytest.skip("glibc's heap figures are not available under AddressSanitizer")
    gc.collect()
    before = native_heap()
    d = PyGraphDiff()
    for i in range(20_000):
        node = i.to_bytes(16, "little")
        d.add_node(node, {"label": "x" * 40})
        d.add_edge(node, bytes(16), 1.0)
        d.delete_edge(bytes(16), node)
    grown = native_heap() - before
    copy = PyGraphDiff.from_bytes(d.to_bytes())
    del d, copy
    gc.collect()
    assert grown > 1_000_000 and native_heap() - before < 64 * 1024
