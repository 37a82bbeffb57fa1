"""No leaks: every case of the shared list, repeated thousands of times after a
warm-up, leaves the interpreter's block count, glibc's in-use heap (which sees
every C++ allocation; not under AddressSanitizer) and its arguments' reference
counts where they were, with tolerances far below one object per call. An
exception kept alive by a stray reference, or a diff whose tables outlive it
(the from_bytes cases make and drop one per call), shows in those counts."""

import ctypes
import gc
import os
import sys

import pytest
from cases import CASES, call, populated

CALLS, WARMUP = 3000, 200
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")


def _heap_reader():
    if UNDER_ASAN or sys.platform == "win32" or not hasattr(ctypes.CDLL(None), "mallinfo2"):
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
