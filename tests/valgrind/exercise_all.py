"""Calls every PyGraphDiff method on its success path and on each of its error
paths, a few times each, for a run under valgrind's memcheck
(scripts/valgrind_check.sh). Every outcome is checked, so that a path that
stopped failing (or started to) is noticed; the script prints one line at
the end and exits 0 when all went as expected.
"""

import collections
import gc
import math
import struct
import sys
import threading
import time

from tavro_api import PyGraphDiff

A = bytes(range(16))
B = bytes(range(16, 32))
C = bytes([0xCC] * 16)
GONE = bytes([0xDD] * 16)
DESERIALIZE = "Failed to deserialize graph diff."

checks = 0


def expect(exc_type, fn, *args, message=None, **kwargs):
    global checks
    try:
        fn(*args, **kwargs)
    except BaseException as error:  # noqa: BLE001 - checked below
        if type(error) is not exc_type:
            raise
        if message is not None and str(error) != message:
            raise AssertionError(f"{message!r} expected, got {str(error)!r}") from error
        checks += 1
        return error
    raise AssertionError(f"{fn} did not raise {exc_type.__name__}")


def ok(condition):
    global checks
    assert condition
    checks += 1


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


class FloatRaises:
    def __float__(self):
        raise ValueError("no float")


class RaisingKey:
    def __hash__(self):
        return hash("label")

    def __eq__(self, other):
        raise LookupError("no comparing")


class Label(str):
    pass


def success_paths():
    d = PyGraphDiff()
    ok(d.num_nodes() == 0 and d.num_edges() == 0)
    full = {
        "label": 'é\t"\\\x01',
        "url": "http://x/",
        "size": 0.1,
        "red": 0,
        "green": 255,
        "blue": IndexLike(7),
        "show_label": True,
    }
    d.add_node(A, full)
    d.add_node(A, collections.OrderedDict(label=Label("sub"), size=FloatLike(math.nan)))
    d.add_node(id=B, update={"size": math.inf, "show_label": False, "other": [1]})
    d.add_node(C, {})
    d.delete_node(C)
    d.delete_node(GONE)
    d.add_edge(A, B, 1.5)
    d.add_edge(A, A, True)
    d.add_edge(B, A, FloatLike(-0.0))
    d.add_edge(**{"from": B, "to": C, "weight": 3})
    d.add_edge(A, GONE, 1.0)  # refused by the model, returns None
    d.delete_edge(B, C)
    d.delete_edge(A, B)
    ok(d.num_nodes() == 4 and d.num_edges() == 4)
    nodes = d.new_or_updated_nodes()
    ok(nodes[str_id(A)]["label"] == "sub" and math.isnan(nodes[str_id(A)]["size"]))
    ok(sorted(d.deleted_nodes()) == sorted([str_id(GONE), str_id(C)]))
    ok(str_id(A) in d.new_or_updated_edges())
    ok(d.deleted_edges()[str_id(A)] == [str_id(B)])
    blob = d.to_bytes()
    ok(blob == d.to_bytes())
    back = PyGraphDiff.from_bytes(blob)
    ok(back.num_nodes() == d.num_nodes() and back.num_edges() == d.num_edges())
    ok("size" not in back.new_or_updated_nodes()[str_id(B)])
    ok(d.from_bytes(bytes=blob).num_edges() == d.num_edges())
    ok(PyGraphDiff.from_bytes(bytes(32) + b"trailing").num_nodes() == 0)
    # A diff read with content the operations would not make.
    odd = PyGraphDiff.from_bytes(
        struct.pack("<QQ", 1, 16)
        + A
        + struct.pack("<Q", 2)
        + b"{}"
        + struct.pack("<QQ", 1, 16)
        + A
        + struct.pack("<QQ", 1, 16)
        + B
        + struct.pack("<Q", 0)
        + struct.pack("<QQ", 0, 0)
    )
    ok(odd.num_nodes() == 2 and odd.num_edges() == 1 and odd.new_or_updated_edges() == {})
    odd.delete_node(B)
    odd.add_node(A, {"red": 1})
    d.clear()
    ok(d.num_nodes() == 0 and d.to_bytes() == bytes(32))

    # A larger diff: table growth, delete_node's scan, clear with content.
    big = PyGraphDiff()
    for i in range(1500):
        node = i.to_bytes(16, "little")
        big.add_node(node, {"label": f"n{i}" * (i % 7), "size": i / 7})
        big.add_edge(node, A, float(i))
        big.add_edge(A, node, 0.5)
        if i % 3 == 0:
            big.delete_edge(node, B)
    for i in range(0, 1500, 5):
        big.delete_node(i.to_bytes(16, "little"))
    copy = PyGraphDiff.from_bytes(big.to_bytes())
    ok(copy.num_nodes() == big.num_nodes() and copy.num_edges() == big.num_edges())
    ok(len(copy.new_or_updated_nodes()) == len(big.new_or_updated_nodes()))
    big.clear()
    del big, copy


def str_id(raw):
    h = raw.hex()
    return f"{h[:8]}-{h[8:12]}-{h[12:16]}-{h[16:20]}-{h[20:]}"


def error_paths():
    d = PyGraphDiff()
    d.delete_node(GONE)
    # Ids.
    e = expect(
        TypeError,
        d.add_node,
        bytes(15),
        {},
        message="argument 'id': failed to extract field PyUuid.0",
    )
    ok(type(e.__cause__) is Exception and str(e.__cause__) == "Expected 16 bytes.")
    expect(TypeError, d.delete_node, "x" * 16)
    expect(TypeError, d.add_edge, bytearray(16), B, 1.0)
    expect(TypeError, d.add_edge, A, memoryview(B), 1.0)
    expect(TypeError, d.delete_edge, A, bytes(17))
    # Node update dicts.
    expect(TypeError, d.add_node, A, [1])
    expect(TypeError, d.add_node, A, {"label": None})
    expect(TypeError, d.add_node, A, {"url": 5})
    expect(UnicodeEncodeError, d.add_node, A, {"label": "\ud800"})
    expect(TypeError, d.add_node, A, {"size": "1"})
    expect(OverflowError, d.add_node, A, {"size": 10**400})
    expect(
        OverflowError,
        d.add_node,
        A,
        {"red": 256},
        message="out of range integral type conversion attempted",
    )
    expect(OverflowError, d.add_node, A, {"green": -1})
    expect(OverflowError, d.add_node, A, {"blue": 10**30})
    expect(TypeError, d.add_node, A, {"red": 1.0})
    expect(TypeError, d.add_node, A, {"show_label": 1})
    expect(LookupError, d.add_node, A, {RaisingKey(): 1})
    # Weights.
    expect(TypeError, d.add_edge, A, B, "1")
    expect(TypeError, d.add_edge, A, B, None)
    expect(OverflowError, d.add_edge, A, B, 10**400)
    expect(ValueError, d.add_edge, A, B, FloatRaises())
    # Binding.
    expect(TypeError, d.add_node, A, {}, 1)
    expect(TypeError, d.add_node, A, id=A)
    expect(TypeError, d.add_node, A, {}, id=A)
    expect(TypeError, d.delete_edge, A, B, x=1)
    expect(TypeError, d.add_edge)
    expect(TypeError, d.add_edge, A)
    expect(TypeError, PyGraphDiff, None)
    expect(TypeError, PyGraphDiff, x=1)
    expect(TypeError, d.num_nodes, 1)
    expect(TypeError, d.to_bytes, 1)
    expect(TypeError, PyGraphDiff.add_node, object(), A, {})
    expect(TypeError, PyGraphDiff.from_bytes)
    expect(TypeError, PyGraphDiff.from_bytes, b"", b"")
    expect(TypeError, PyGraphDiff.from_bytes, bytes=b"", other=1)
    # Bytes.
    expect(TypeError, PyGraphDiff.from_bytes, bytearray(32))
    expect(TypeError, PyGraphDiff.from_bytes, "x")
    node = struct.pack("<QQ", 1, 16) + A
    for bad in [
        b"",
        bytes(31),
        node + struct.pack("<Q", 1) + b"\xff" + bytes(24),
        node + struct.pack("<Q", 3) + b"\xe2\x82" + bytes(24),
        node + struct.pack("<Q", 2) + b"{x" + bytes(24),
        node + struct.pack("<Q", 15) + b'{"label":null}}' + bytes(24),
        node + struct.pack("<Q", 100) + b"{}",
        struct.pack("<QQQ", 0, 1, 15) + bytes(40),
        struct.pack("<QQQ", 0, 1, 17) + bytes(16),
        struct.pack("<Q", 1 << 40) + node[8:] + struct.pack("<Q", 2) + b"{}",
        struct.pack("<QQQ", 0, 0, 1) + struct.pack("<Q", 16) + A + struct.pack("<Q", 2**64 - 1),
    ]:
        expect(Exception, PyGraphDiff.from_bytes, bad, message=DESERIALIZE)
    ok(d.num_nodes() == 1)


def borrow_paths():
    d = PyGraphDiff()

    class CallsReader:
        def __float__(self):
            expect(RuntimeError, d.num_nodes, message="Already mutably borrowed")
            expect(RuntimeError, d.to_bytes, message="Already mutably borrowed")
            return 1.0

    class CallsWriter:
        def __float__(self):
            d.add_node(A, {})
            return 1.0

    d.add_edge(A, B, CallsReader())
    expect(RuntimeError, d.add_edge, A, C, CallsWriter(), message="Already borrowed")
    ok(d.num_edges() == 1 and len(d.new_or_updated_edges()[str_id(A)]) == 1)

    # Another thread inside the diff while the lock is let go.
    shared = PyGraphDiff()
    outcomes = []

    class Yields:
        def __float__(self):
            time.sleep(0.01)
            return 2.0

    def reader():
        time.sleep(0.002)
        try:
            shared.new_or_updated_nodes()
            outcomes.append("read")
        except RuntimeError as error:
            outcomes.append(str(error))

    t = threading.Thread(target=reader)
    t.start()
    shared.add_edge(A, B, Yields())
    t.join()
    ok(outcomes in (["Already mutably borrowed"], ["read"]))


def main():
    for _ in range(3):
        success_paths()
        error_paths()
        borrow_paths()
    gc.collect()
    print(f"exercise_all: {checks} checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
