"""No memory or reference leaks: every method on its success path and on each
of its error paths, called thousands of times after a warm-up.

Three measures, each with a tolerance far below what one leaked object or
buffer per call would add up to:

- Python objects: ``sys.getallocatedblocks()`` (the interpreter's small-object
  allocator; 0 under PYTHONMALLOC=malloc) and, in a shorter second pass,
  tracemalloc's traced memory;
- native heap: glibc's in-use byte count (``mallinfo2``), which sees every
  C++ allocation of the module; skipped under AddressSanitizer, whose
  allocator glibc does not see;
- resident memory from /proc/self/statm, with room for noise.

The argument objects' reference counts must be the same before and after.
"""

import collections
import ctypes
import gc
import os
import struct
import sys
import tracemalloc

import numpy
import pytest
from tavro_api import PyGraphDiff

CALLS = 4_000
TRACED_CALLS = 1_000
WARMUP = 300
RSS_CALLS = 20_000

UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")
PAGE = os.sysconf("SC_PAGE_SIZE")


class _Mallinfo2(ctypes.Structure):
    _fields_ = [
        (name, ctypes.c_size_t)
        for name in (
            "arena",
            "ordblks",
            "smblks",
            "hblks",
            "hblkhd",
            "usmblks",
            "fsmblks",
            "uordblks",
            "fordblks",
            "keepcost",
        )
    ]


def _native_heap_reader():
    if UNDER_ASAN:
        return None
    try:
        mallinfo2 = ctypes.CDLL(None).mallinfo2
    except AttributeError:
        return None
    mallinfo2.restype = _Mallinfo2

    def in_use():
        info = mallinfo2()
        return info.uordblks + info.hblkhd

    return in_use


native_heap = _native_heap_reader()


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


A = bytes(range(16))
B = bytes(range(16, 32))
C = bytes([0xCC] * 16)
GONE = bytes([0xDD] * 16)


class FloatLike:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class FloatRaises:
    def __init__(self, error):
        self.error = error

    def __float__(self):
        # A fresh traceback each time: re-raising one instance would otherwise
        # chain a traceback entry (and a frame) per call onto it.
        raise self.error.with_traceback(None)


class IndexLike:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class RaisingKey:
    """Hashes like "label" and refuses to compare, so the dict lookup raises."""

    def __hash__(self):
        return hash("label")

    def __eq__(self, other):
        raise LookupError("no comparing")


class Label(str):
    pass


class DictSub(dict):
    pass


def populated():
    d = PyGraphDiff()
    for i in range(20):
        node = bytes([i]) * 16
        d.add_node(node, {"label": f"n{i}", "size": i / 3, "red": i, "show_label": i % 2 == 0})
        d.add_edge(node, A, i + 0.5)
        d.delete_edge(B, node)
    d.delete_node(GONE)
    d.add_edge(C, A, float("nan"))
    return d


def expect(exc_type, fn, *args, **kwargs):
    """A call that must fail with exactly `exc_type` (not a subclass)."""

    def call():
        try:
            fn(*args, **kwargs)
        except BaseException as error:  # noqa: BLE001 - checked just below
            if type(error) is not exc_type:
                raise
            return
        raise AssertionError(f"{fn} did not raise {exc_type.__name__}")

    return call


def make_cases():
    d = populated()
    target = PyGraphDiff()
    target.delete_node(GONE)
    blob = d.to_bytes()
    full = {
        "label": "a label",
        "url": "http://x/",
        "size": 2.5,
        "red": 1,
        "green": 2,
        "blue": 3,
        "show_label": True,
    }
    odd = collections.OrderedDict(
        label=Label("sub"), red=IndexLike(7), show_label=numpy.bool_(False), size=FloatLike(4.0)
    )
    sub = DictSub(url="u", extra=[1, 2])
    weight_obj = FloatLike(0.25)
    value_error = ValueError("no float")
    raising_weight = FloatRaises(value_error)
    raising_dict = {RaisingKey(): 1}
    short = bytes(15)
    bad_utf8 = struct.pack("<QQ", 1, 16) + A + struct.pack("<Q", 1) + b"\xff" + bytes(24)
    bad_json = struct.pack("<QQ", 1, 16) + A + struct.pack("<Q", 2) + b"{x" + bytes(24)
    huge_count = struct.pack("<Q", 1 << 40) + struct.pack("<Q", 16) + A + b"\x02\0\0\0\0\0\0\0{}"

    reader_inside = PyGraphDiff()

    class CallsReader:
        def __float__(self):
            try:
                reader_inside.num_nodes()
            except RuntimeError:
                return 1.0
            raise AssertionError("nested read was allowed")

    writer_inside = PyGraphDiff()

    class CallsWriter:
        def __float__(self):
            writer_inside.add_node(A, {})
            return 1.0

    calls_reader, calls_writer = CallsReader(), CallsWriter()
    kwargs_edge = {"from": A, "to": B, "weight": 1.0}

    cases = {
        # Success paths.
        "new": (PyGraphDiff, ()),
        "add_node_full": (lambda: target.add_node(A, full), (A, full)),
        "add_node_odd_types": (lambda: target.add_node(B, odd), (B, odd)),
        "add_node_dict_subclass": (lambda: target.add_node(C, sub), (C, sub)),
        "add_node_keywords": (lambda: target.add_node(update={}, id=A), (A,)),
        "delete_node": (lambda: target.delete_node(C), (C,)),
        "add_edge_float": (lambda: target.add_edge(A, B, 0.1), (A, B)),
        "add_edge_object_weight": (lambda: target.add_edge(A, C, weight_obj), (weight_obj,)),
        "add_edge_keywords": (lambda: target.add_edge(**kwargs_edge), (kwargs_edge,)),
        "add_edge_refused": (lambda: target.add_edge(A, GONE, 1.0), (A, GONE)),
        "delete_edge": (lambda: target.delete_edge(B, A), (A, B)),
        "fill_and_clear": (
            lambda: (
                target.add_node(C, full),
                target.add_edge(C, A, 1.0),
                target.clear(),
                target.delete_node(GONE),
            ),
            (C, full),
        ),
        "new_or_updated_nodes": (d.new_or_updated_nodes, ()),
        "deleted_nodes": (d.deleted_nodes, ()),
        "new_or_updated_edges": (d.new_or_updated_edges, ()),
        "deleted_edges": (d.deleted_edges, ()),
        "num_nodes": (d.num_nodes, ()),
        "num_edges": (d.num_edges, ()),
        "to_bytes": (d.to_bytes, ()),
        "from_bytes": (lambda: PyGraphDiff.from_bytes(blob), (blob,)),
        "from_bytes_on_instance_keyword": (lambda: d.from_bytes(bytes=blob), (blob,)),
        # Bad ids.
        "id_short": (expect(TypeError, target.add_node, short, {}), (short,)),
        "id_str": (expect(TypeError, target.delete_node, "x" * 16), ()),
        "id_bytearray_from": (expect(TypeError, target.add_edge, bytearray(16), B, 1.0), (B,)),
        "id_short_to": (expect(TypeError, target.delete_edge, A, short), (A, short)),
        # Bad node update dicts.
        "update_list": (expect(TypeError, target.add_node, A, [1]), (A,)),
        "label_none": (expect(TypeError, target.add_node, A, {"label": None}), (A,)),
        "label_surrogate": (expect(UnicodeEncodeError, target.add_node, A, {"url": "\ud800"}), ()),
        "size_str": (expect(TypeError, target.add_node, A, {"size": "1"}), ()),
        "size_huge_int": (expect(OverflowError, target.add_node, A, {"size": 10**400}), ()),
        "red_300": (expect(OverflowError, target.add_node, A, {"red": 300}), ()),
        "green_float": (expect(TypeError, target.add_node, A, {"green": 1.0}), ()),
        "blue_huge": (expect(OverflowError, target.add_node, A, {"blue": -(10**30)}), ()),
        "show_label_int": (expect(TypeError, target.add_node, A, {"show_label": 1}), ()),
        "lookup_raises": (expect(LookupError, target.add_node, A, raising_dict), (raising_dict,)),
        # Bad weights.
        "weight_str": (expect(TypeError, target.add_edge, A, B, "1"), ()),
        "weight_none": (expect(TypeError, target.add_edge, A, B, None), ()),
        "weight_huge_int": (expect(OverflowError, target.add_edge, A, B, 10**400), ()),
        "weight_raises": (
            expect(ValueError, target.add_edge, A, B, raising_weight),
            (raising_weight, value_error),
        ),
        # Binding errors.
        "too_many_positional": (expect(TypeError, target.add_node, A, {}, 1), (A,)),
        "multiple_values": (expect(TypeError, target.add_node, A, id=A), (A,)),
        "unknown_keyword": (expect(TypeError, target.delete_edge, A, B, x=1), (A, B)),
        "missing_arguments": (expect(TypeError, target.add_edge), ()),
        "new_with_argument": (expect(TypeError, PyGraphDiff, None), ()),
        "new_with_keyword": (expect(TypeError, PyGraphDiff, x=1), ()),
        "noargs_given_one": (expect(TypeError, target.num_nodes, 1), ()),
        "wrong_receiver": (expect(TypeError, PyGraphDiff.add_node, object(), A, {}), (A,)),
        "from_bytes_missing": (expect(TypeError, PyGraphDiff.from_bytes), ()),
        # Borrow conflicts.
        "read_inside_write": (lambda: reader_inside.add_edge(A, B, calls_reader), (calls_reader,)),
        "write_inside_write": (
            expect(RuntimeError, writer_inside.add_edge, A, B, calls_writer),
            (calls_writer,),
        ),
        # Bad bytes.
        "from_bytes_bytearray": (expect(TypeError, PyGraphDiff.from_bytes, bytearray(32)), ()),
        "from_bytes_empty": (expect(Exception, PyGraphDiff.from_bytes, b""), ()),
        "from_bytes_bad_utf8": (expect(Exception, PyGraphDiff.from_bytes, bad_utf8), (bad_utf8,)),
        "from_bytes_bad_json": (expect(Exception, PyGraphDiff.from_bytes, bad_json), (bad_json,)),
        "from_bytes_huge_count": (
            expect(Exception, PyGraphDiff.from_bytes, huge_count),
            (huge_count,),
        ),
        "from_bytes_short_id": (
            expect(Exception, PyGraphDiff.from_bytes, struct.pack("<QQQ", 0, 1, 15) + bytes(40)),
            (),
        ),
    }
    return cases


CASES = make_cases()


def run(fn, n):
    for _ in range(n):
        fn()


@pytest.mark.parametrize("name", sorted(CASES))
def test_repeated_calls_do_not_grow_memory_or_references(name):
    fn, args = CASES[name]
    run(fn, WARMUP)
    gc.collect()
    refs_before = [sys.getrefcount(a) for a in args]

    blocks_before = sys.getallocatedblocks()
    heap_before = native_heap() if native_heap else 0
    run(fn, CALLS)
    gc.collect()
    blocks_growth = sys.getallocatedblocks() - blocks_before
    heap_growth = (native_heap() if native_heap else 0) - heap_before

    tracemalloc.start()
    try:
        run(fn, TRACED_CALLS)
        gc.collect()
        traced, _peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()

    refs_after = [sys.getrefcount(a) for a in args]
    print(f"{name}: blocks {blocks_growth:+d}, native heap {heap_growth:+d} B, traced {traced} B")
    assert refs_after == refs_before
    # One leaked object per call would be thousands of blocks.
    assert blocks_growth < 100
    # One leaked allocation per call would be at least 32 B x 4,000 = 128 KB.
    assert heap_growth < 16 * 1024
    # One leaked 16-byte object per call would be 16 KB here.
    assert traced < 8 * 1024


@pytest.mark.skipif(UNDER_ASAN, reason="AddressSanitizer keeps freed memory in quarantine")
def test_resident_memory_stays_flat_over_all_paths():
    """All the cases above in turn, 20,000 calls in all, after a warm-up."""
    fns = [fn for fn, _args in CASES.values()]
    rounds = RSS_CALLS // len(fns)
    for fn in fns:
        run(fn, 50)
    gc.collect()
    before = rss()
    for _ in range(rounds):
        for fn in fns:
            fn()
    gc.collect()
    growth = rss() - before
    print(f"rss {growth:+d} B over {rounds * len(fns)} calls")
    assert growth < 1024 * 1024


def test_exceptions_and_their_causes_are_released():
    d = PyGraphDiff()
    raised = ValueError("from __float__")
    for call, has_cause in [
        (lambda: d.add_node(bytes(15), {}), True),
        (lambda: d.add_edge(A, "not bytes", 1.0), True),
        (lambda: d.add_node(A, {"label": 3}), False),
        (lambda: d.add_edge(A, B, FloatRaises(raised)), False),
        (lambda: PyGraphDiff.from_bytes(b"\x01"), False),
    ]:
        try:
            call()
        except Exception as error:  # noqa: BLE001 - the error itself is the subject
            caught = error
        else:
            raise AssertionError("no error")
        assert (caught.__cause__ is not None) == has_cause
        # Held by this frame only (plus getrefcount's argument, and `raised`
        # when it is that one); the cause only by the exception. The traceback
        # goes first (its frames hold the weight object, which holds `raised`),
        # and counting happens outside the asserts, which keep temporaries.
        caught.__traceback__ = None
        refs_to_error = sys.getrefcount(caught) - (caught is raised)
        refs_to_cause = sys.getrefcount(caught.__cause__) if has_cause else 2
        assert (refs_to_error, refs_to_cause) == (2, 2)
        del caught
    # The exception an argument's conversion raised is passed on, not copied or kept.
    raised.__traceback__ = None
    refs_to_raised = sys.getrefcount(raised)
    assert refs_to_raised == 2


def test_dropping_a_large_diff_returns_its_native_memory():
    if native_heap is None:
        pytest.skip("glibc's heap figures are not available (AddressSanitizer runs)")
    gc.collect()
    before = native_heap()
    d = PyGraphDiff()
    for i in range(20_000):
        node = i.to_bytes(16, "little")
        d.add_node(node, {"label": "x" * 40})
        d.add_edge(node, A, 1.0)
        d.delete_edge(A, node)
    grown = native_heap() - before
    blob = d.to_bytes()
    copy = PyGraphDiff.from_bytes(blob)
    del d, copy, blob
    gc.collect()
    left = native_heap() - before
    print(f"native heap: +{grown} B while holding 20,000 nodes, {left:+d} B after dropping")
    assert grown > 1_000_000
    assert left < 64 * 1024
