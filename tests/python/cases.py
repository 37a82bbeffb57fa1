"""One list of calls: every method on its success path and each of its error
paths. test_rules.py checks each against the model, test_leaks.py repeats
each, and tests/valgrind/exercise_all.py runs them under memcheck."""

import collections
import math
import struct
from operator import methodcaller

from diff_model import DiffModel, FloatLike, IndexLike, Raises
from tavro_api import PyGraphDiff

A, B, C, GONE = (bytes([n]) * 15 + bytes([n ^ 0x5A]) for n in (0xA1, 0xB2, 0xC3, 0xDD))
PARAMETERS = {"add_node": ("id", "update"), "delete_node": ("id",),
              "add_edge": ("from", "to", "weight"), "delete_edge": ("from", "to"), "clear": ()}  # fmt: skip
POPULATE = [("add_node", A, {"label": "x", "size": 1.5}), ("add_node", B, {"show_label": True}),
            ("delete_node", GONE), ("add_edge", A, B, 1.0), ("add_edge", B, C, 2.0),
            ("add_edge", C, B, math.nan), ("delete_edge", C, A)]  # fmt: skip


def populated(kind=PyGraphDiff):
    diff = kind()
    for name, *args in POPULATE:
        getattr(diff, name)(*args)
    return diff


class Nested:
    """A number whose conversion calls `call(diff)` on the diff being changed,
    keeps the error (which must say `message`) and raises it when `propagate`."""

    def __init__(self, call, message, propagate=False):
        self.call, self.message, self.propagate, self.diff, self.raised = (
            call,
            message,
            propagate,
            None,
            None,
        )

    def __float__(self):
        try:
            self.call(self.diff)
        except RuntimeError as error:
            self.raised = error
            if self.propagate:
                raise error.with_traceback(None) from None
        return 4.0

    def __index__(self):
        return int(self.__float__())


# Hashes like "label" and refuses to compare, so the dict lookup raises.
RaisingKey = type(
    "RaisingKey", (), {"__hash__": lambda _: hash("label"), "__eq__": lambda *_: 1 / 0}
)
DictSub = type("DictSub", (dict,), {})


def node_record(text):
    return struct.pack("<QQ", 1, 16) + A + struct.pack("<Q", len(text)) + text + bytes(24)


FULL = {"label": 'é\t"\\\x01', "url": "http://x/", "size": 0.1, "red": 0, "green": 255,
        "blue": IndexLike(7), "show_label": True}  # fmt: skip
ODD = collections.OrderedDict(label=type("Label", (str,), {})("sub"), size=FloatLike(math.inf),
                              show_label=type("numpy.bool_", (), {"__bool__": lambda _: False})())  # fmt: skip
BLOB = populated().to_bytes()

# name -> (method of a populated diff or of the class, args, kwargs, exception type or None)
CASES = {
    "new": ("PyGraphDiff", (), {}, None),
    "add_node_all_fields": ("add_node", (C, FULL), {}, None),
    "add_node_merges_odd_types": ("add_node", (A, ODD), {}, None),
    "add_node_dict_subclass": ("add_node", (GONE, DictSub(url="u", extra=[1])), {}, None),
    "add_node_keywords": ("add_node", (), {"update": {}, "id": B}, None),
    "delete_node": ("delete_node", (B,), {}, None),
    "add_edge_object_weight": ("add_edge", (A, C, FloatLike(-0.0)), {}, None),
    "add_edge_keywords": ("add_edge", (B,), {"weight": 3, "to": A}, None),
    "add_edge_refused_by_the_rules": ("add_edge", (A, GONE, 1.0), {}, None),
    "delete_edge": ("delete_edge", (A, B), {}, None),
    **{name: (name, (), {}, None) for name in ["clear", "new_or_updated_nodes", "deleted_nodes",
       "new_or_updated_edges", "deleted_edges", "num_nodes", "num_edges", "to_bytes"]},
    "from_bytes": ("PyGraphDiff.from_bytes", (BLOB + b"trailing",), {}, None),
    "from_bytes_on_an_instance": ("from_bytes", (), {"bytes": BLOB}, None),
    "read_inside_a_change_is_refused": ("add_edge", (A, C, Nested(methodcaller("num_nodes"), "Already mutably borrowed")), {}, None),
    "id_short": ("add_node", (bytes(15), {}), {}, TypeError),
    "id_bytearray": ("add_edge", (A, bytearray(16), 1.0), {}, TypeError),
    "update_list": ("add_node", (A, [1]), {}, TypeError),
    "label_none": ("add_node", (A, {"label": None}), {}, TypeError),
    "url_surrogate": ("add_node", (A, {"url": "\ud800"}), {}, UnicodeEncodeError),
    "size_str_after_a_label": ("add_node", (A, {"label": "new", "size": "1"}), {}, TypeError),
    "red_300_after_others": ("add_node", (A, {"label": "n", "url": "u", "red": 300}), {}, OverflowError),
    "show_label_int": ("add_node", (A, {"show_label": 1}), {}, TypeError),
    "key_lookup_raises": ("add_node", (A, {RaisingKey(): 1}), {}, ZeroDivisionError),
    "weight_str": ("add_edge", (A, C, "1"), {}, TypeError),
    "weight_huge_int": ("add_edge", (A, C, 10**400), {}, OverflowError),
    "weight_raises": ("add_edge", (A, C, Raises(ValueError("no float"))), {}, ValueError),
    "too_many_positional": ("add_node", (A, {}, 1), {}, TypeError),
    "multiple_values": ("add_node", (A,), {"id": A}, TypeError),
    "unknown_keyword": ("delete_edge", (A, B), {"x": 1}, TypeError),
    "missing_arguments": ("add_edge", (), {}, TypeError),
    "new_with_argument": ("PyGraphDiff", (None,), {}, TypeError),
    "no_arguments_given_one": ("num_nodes", (1,), {}, TypeError),
    "wrong_receiver": ("PyGraphDiff.add_node", (object(), A, {}), {}, TypeError),
    "change_inside_a_change": ("add_edge", (A, C, Nested(methodcaller("clear"), "Already borrowed", True)), {}, RuntimeError),
    "from_bytes_bytearray": ("PyGraphDiff.from_bytes", (bytearray(32),), {}, TypeError),
    "from_bytes_empty": ("PyGraphDiff.from_bytes", (b"",), {}, Exception),
    "from_bytes_bad_utf8": ("PyGraphDiff.from_bytes", (node_record(b"\xe2\x82"),), {}, Exception),
    "from_bytes_bad_json": ("PyGraphDiff.from_bytes", (node_record(b"{x"),), {}, Exception),
    "from_bytes_huge_count": ("PyGraphDiff.from_bytes", (b"\xff" * 8 + node_record(b"{}")[8:],), {}, Exception),
}  # fmt: skip


def call(diff, case):
    """Runs a case on `diff`; returns (result, exception or None)."""
    method, args, kwargs, _ = case
    for arg in args:
        if isinstance(arg, Nested):
            arg.diff = diff
    if method == "PyGraphDiff":
        fn = PyGraphDiff
    elif method.startswith("PyGraphDiff."):
        fn = getattr(PyGraphDiff, method.split(".")[1])
    else:
        fn = getattr(diff, method)
    try:
        return fn(*args, **kwargs), None
    except BaseException as error:  # noqa: BLE001 - the caller checks it
        return None, error


def expected_model(case):
    """The model of a populated diff after the case, or None for a call that changes nothing."""
    method, args, kwargs, error = case
    model = populated(DiffModel)
    if error is None and method in PARAMETERS:
        getattr(model, method)(*args, *(kwargs[p] for p in PARAMETERS[method][len(args) :]))
    return model
