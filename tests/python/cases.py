"""One list of calls: every method on its success path and each of its error
paths. test_rules.py checks each against the model, test_leaks.py repeats
each, and tests/valgrind/exercise_all.py runs them under memcheck."""

import collections
import math
import struct
import uuid
from operator import methodcaller

from diff_model import DiffModel, FloatLike, IndexLike, Raises
from tavro_api import PyGraphDiff

BAD = b"short"  # an id that does not convert
RANGE = "out of range integral type conversion attempted"
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
    keeps the error and raises it when `propagate`."""

    def __init__(self, call, propagate=False):
        self.call, self.propagate = call, propagate
        self.diff = self.raised = None

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
TypeErrorSub = type("TypeErrorSub", (TypeError,), {})


def node_record(text):
    return struct.pack("<QQ", 1, 16) + A + struct.pack("<Q", len(text)) + text + bytes(24)


FULL = {"label": 'é\t"\\\x01', "url": "http://x/", "size": 0.1, "red": 0, "green": 255,
        "blue": IndexLike(7), "show_label": True}  # fmt: skip
ODD = collections.OrderedDict(label=type("Label", (str,), {})("sub"), size=FloatLike(math.inf),
                              show_label=type("numpy.bool_", (), {"__bool__": lambda _: False})())  # fmt: skip
BLOB = populated().to_bytes()
LISTINGS = ["new_or_updated_nodes", "deleted_nodes", "new_or_updated_edges", "deleted_edges",
            "num_nodes", "num_edges", "to_bytes"]  # fmt: skip
READS = [(name,) for name in LISTINGS]
CHANGES = [("add_node", C, {}), ("delete_node", C), ("add_edge", C, A, 1.0), ("delete_edge", C, A), ("clear",)]  # fmt: skip

# name -> (method of a populated diff or of the class, args, kwargs, and the
# exception: None, its type, or its type and exact message, and maybe its
# cause's type and message, which has no cause of its own)
ID = "argument '%s': failed to extract field PyUuid.0"
NOT_BYTES = "'%s' object cannot be converted to 'PyBytes'"
WEIGHT = "argument 'weight': "
SHORT = (Exception, "Expected 16 bytes.")  # the cause for an id of the wrong length
ROOT = LookupError("root")
TYPE_ERROR_WITH_A_CAUSE = TypeError("bad")
TYPE_ERROR_WITH_A_CAUSE.__cause__ = ROOT

CASES = {
    "new": ("PyGraphDiff", (), {}, None),
    "add_node_all_fields": ("add_node", (C, FULL), {}, None),
    "add_node_merges_odd_types": ("add_node", (A, ODD), {}, None),
    "add_node_dict_subclass": ("add_node", (GONE, DictSub(url="u", extra=[1])), {}, None),
    "add_node_empty_zero_and_false_are_values": ("add_node", (A, {"label": "", "green": 0, "show_label": False}), {}, None),
    "add_node_nul_in_a_str_subclass": ("add_node", (B, {"url": type("T", (str,), {})("a\x00é")}), {}, None),
    "add_node_keys_equal_but_not_interned": ("add_node", (C, {"".join(k): 9 for k in [("re", "d"), ("blu", "e")]}), {}, None),
    "add_node_other_keys_ignored": ("add_node", (C, {"showLabel": True, "Label": 1, b"label": 3, 1: 4, None: 5}), {}, None),
    "add_node_defaultdict_read_by_its_storage": ("add_node", (C, collections.defaultdict(int, red=5)), {}, None),
    "add_node_keywords": ("add_node", (), {"update": {}, "id": B}, None),
    "delete_node_id_a_bytes_subclass": ("delete_node", (type("Id", (bytes,), {})(B),), {}, None),
    "add_edge_object_weight": ("add_edge", (A, C, FloatLike(-0.0)), {}, None),
    "add_edge_keywords": ("add_edge", (B,), {"weight": 3, "to": A}, None),
    "add_edge_refused_by_the_rules": ("add_edge", (A, GONE, 1.0), {}, None),
    "delete_edge": ("delete_edge", (A, B), {}, None),
    **{name: (name, (), {}, None) for name in ["clear", *LISTINGS]},
    "from_bytes_a_bytes_subclass_with_trailing_bytes": ("PyGraphDiff.from_bytes", (type("Raw", (bytes,), {})(BLOB + b"tail"),), {}, None),
    "from_bytes_on_an_instance": ("from_bytes", (), {"bytes": BLOB}, None),
    # A call into the diff from inside a change (the weight's conversion) is
    # refused by the borrow counter (and when swallowed, the change goes on),
    # as is one from a thread that runs while a conversion has let go of the
    # interpreter lock; other diffs stay free.
    "read_inside_a_change_swallowed": ("add_edge", (A, C, Nested(methodcaller("num_nodes"))), {}, None),
    "another_diff_changed_inside_a_change":
        ("add_edge", (A, C, Nested(lambda _: PyGraphDiff().add_node(B, {}), True)), {}, None),
    **{call[0] + "_inside_a_change": ("add_edge", (A, C, Nested(methodcaller(*call), True)), {}, (RuntimeError, message))
       for message, calls in [("Already mutably borrowed", READS), ("Already borrowed", CHANGES)] for call in calls},
    # A bad id is reported as a field error naming the argument, with the cause.
    "from_converted_first": ("add_edge", (b"x", b"x", "x"), {}, (TypeError, ID % "from", SHORT)),
    "to_converted_before_weight": ("add_edge", (A, b"x", "x"), {}, (TypeError, ID % "to", SHORT)),
    "id_of_add_node": ("add_node", (bytes(15), {}), {}, (TypeError, ID % "id", SHORT)),
    "id_of_delete_node": ("delete_node", (bytes(17),), {}, (TypeError, ID % "id", SHORT)),
    "from_of_delete_edge": ("delete_edge", (bytes(15), B), {}, (TypeError, ID % "from", SHORT)),
    "to_of_delete_edge": ("delete_edge", (A, b""), {}, (TypeError, ID % "to", SHORT)),
    "id_bytearray": ("add_node", (bytearray(16), {}), {},
                     (TypeError, ID % "id", (TypeError, NOT_BYTES % "bytearray"))),
    "id_uuid": ("delete_node", (uuid.UUID(bytes=A),), {},
                (TypeError, ID % "id", (TypeError, NOT_BYTES % "UUID"))),
    "id_by_qualified_name": ("delete_node", (type("Inner", (), {"__qualname__": "Outer.Inner"})(),),
                             {}, (TypeError, ID % "id", (TypeError, NOT_BYTES % "Outer.Inner"))),
    "url_surrogate": ("add_node", (A, {"url": "\ud800"}), {}, UnicodeEncodeError),
    "size_str_after_a_label": ("add_node", (A, {"label": "new", "size": "1"}), {}, TypeError),
    "key_lookup_raises": ("add_node", (A, {RaisingKey(): 1}), {}, ZeroDivisionError),
    # A weight's TypeError becomes a new one naming the argument, keeping the cause.
    "weight_str": ("add_edge", (A, C, "1"), {},
                   (TypeError, WEIGHT + "must be real number, not str")),
    "weight_complex": ("add_edge", (A, C, 1j), {},
                       (TypeError, WEIGHT + "must be real number, not complex")),
    "weight_float_returns_an_int": ("add_edge", (A, C, FloatLike(1)), {}, (TypeError,
                                    WEIGHT + "FloatLike.__float__ returned non-float (type int)")),
    "weight_type_error_with_a_cause": ("add_edge", (A, C, Raises(TYPE_ERROR_WITH_A_CAUSE)), {},
                                       (TypeError, WEIGHT + "bad", (LookupError, "root"))),
    "weight_huge_int": ("add_edge", (A, C, 10**400), {}, OverflowError),
    "weight_raises": ("add_edge", (A, C, Raises(ValueError("no float"))), {}, ValueError),
    # Errors other than exactly TypeError pass unchanged.
    "weight_type_error_subclass": ("add_edge", (A, C, Raises(TypeErrorSub("w"))), {}, (TypeErrorSub, "w")),
    "size_type_error_subclass": ("add_node", (A, {"size": Raises(TypeErrorSub("s"))}), {}, (TypeErrorSub, "s")),
    "green_overflow": ("add_node", (A, {"green": Raises(OverflowError("g"))}), {}, (OverflowError, "g")),
    "wrong_receiver": ("PyGraphDiff.add_node", (object(), A, {}), {}, TypeError),
    # Node update dicts: only a TypeError is reworded; of two bad values the
    # earlier field is reported, whatever the dict order.
    "update_list": ("add_node", (A, [("label", "a")]), {}, (TypeError, "argument 'update': 'list' object cannot be converted to 'PyDict'")),
    "update_mapping": ("add_node", (A, collections.UserDict()), {}, (TypeError, "argument 'update': 'UserDict' object cannot be converted to 'PyDict'")),
    "label_none": ("add_node", (A, {"label": None}), {}, (TypeError, "argument 'update': 'NoneType' object cannot be converted to 'PyString'")),
    "size_none": ("add_node", (A, {"size": None}), {}, (TypeError, "argument 'update': must be real number, not NoneType")),
    "colour_float": ("add_node", (A, {"red": 1.0}), {}, (TypeError, "argument 'update': 'float' object cannot be interpreted as an integer")),
    "show_label_int": ("add_node", (A, {"show_label": 1}), {}, (TypeError, "argument 'update': 'int' object cannot be converted to 'PyBool'")),
    "show_label_named_bool_": ("add_node", (A, {"show_label": type("bool_", (), {})()}), {}, (TypeError, "argument 'update': 'bool_' object cannot be converted to 'PyBool'")),
    "colour_256": ("add_node", (A, {"green": 256}), {}, (OverflowError, RANGE)),
    "colour_beyond_c_long": ("add_node", (A, {"red": 2**63}), {}, (OverflowError, "Python int too large to convert to C long")),
    "size_beyond_a_double": ("add_node", (A, {"size": 10**400}), {}, (OverflowError, "int too large to convert to float")),
    "label_before_url": ("add_node", (A, {"url": 2.5, "label": 5}), {}, (TypeError, "argument 'update': 'int' object cannot be converted to 'PyString'")),
    "url_before_size": ("add_node", (A, {"size": Raises(LookupError("s")), "url": 2.5}), {}, (TypeError, "argument 'update': 'float' object cannot be converted to 'PyString'")),
    "url_before_size_all_builtin": ("add_node", (A, {"size": "1", "url": 2.5}), {}, (TypeError, "argument 'update': 'float' object cannot be converted to 'PyString'")),
    "size_before_red": ("add_node", (A, {"red": 300, "size": Raises(LookupError("s"))}), {}, (LookupError, "s")),
    "red_before_green": ("add_node", (A, {"label": "n", "green": "x", "red": 300}), {}, (OverflowError, RANGE)),
    "green_before_blue": ("add_node", (A, {"blue": 300, "green": Raises(LookupError("g"))}), {}, (LookupError, "g")),
    "blue_before_show_label": ("add_node", (A, {"show_label": "yes", "blue": 300}), {}, (OverflowError, RANGE)),
    # Argument binding: checked before any conversion (BAD would not convert).
    "new_with_argument": ("PyGraphDiff", (None,), {}, (TypeError, "PyGraphDiff.__new__() takes 0 positional arguments but 1 was given")),
    "new_keywords_in_the_order_passed": ("PyGraphDiff", (), {"b": 1, "a": 2}, (TypeError, "PyGraphDiff.__new__() got an unexpected keyword argument 'b'")),
    "noun_stays_plural_for_one_parameter": ("delete_node", (BAD, A), {}, (TypeError, "PyGraphDiff.delete_node() takes 1 positional arguments but 2 were given")),
    "too_many_positional_before_a_repeated_keyword": ("add_node", (A, {}, 1), {"id": A}, (TypeError, "PyGraphDiff.add_node() takes 2 positional arguments but 3 were given")),
    "unknown_keyword_before_missing": ("delete_edge", (A,), {"target": A}, (TypeError, "PyGraphDiff.delete_edge() got an unexpected keyword argument 'target'")),
    "repeated_keyword_first_in_order": ("add_node", (BAD,), {"id": A, "bogus": 1}, (TypeError, "PyGraphDiff.add_node() got multiple values for argument 'id'")),
    "repeat_of_a_later_parameter": ("add_edge", (A, A, "x"), {"weight": 1.0}, (TypeError, "PyGraphDiff.add_edge() got multiple values for argument 'weight'")),
    "missing_first_later_given_by_name": ("add_node", (), {"update": []}, (TypeError, "PyGraphDiff.add_node() missing 1 required positional argument: 'id'")),
    "three_missing": ("add_edge", (), {}, (TypeError, "PyGraphDiff.add_edge() missing 3 required positional arguments: 'from', 'to', and 'weight'")),
    "missing_first_and_last": ("add_edge", (), {"to": BAD}, (TypeError, "PyGraphDiff.add_edge() missing 2 required positional arguments: 'from' and 'weight'")),
    "from_bytes_missing": ("from_bytes", (), {}, (TypeError, "PyGraphDiff.from_bytes() missing 1 required positional argument: 'bytes'")),
    "no_arguments_given_one": ("to_bytes", (1,), {}, (TypeError, "PyGraphDiff.to_bytes() takes no arguments (1 given)")),
    "listing_given_a_keyword": ("deleted_edges", (), {"x": 1}, (TypeError, "PyGraphDiff.deleted_edges() takes no keyword arguments")),
    "from_bytes_memoryview": ("PyGraphDiff.from_bytes", (memoryview(bytes(32)),), {}, (TypeError, "argument 'bytes': 'memoryview' object cannot be converted to 'PyBytes'")),
    "from_bytes_empty": ("PyGraphDiff.from_bytes", (b"",), {}, Exception),
    "from_bytes_bad_utf8": ("PyGraphDiff.from_bytes", (node_record(b"\xe2\x82"),), {}, Exception),
    "from_bytes_bad_json": ("PyGraphDiff.from_bytes", (node_record(b"{x"),), {}, (Exception, "Failed to deserialize graph diff.")),
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


def expected_error(case):
    """The exception a case raises: (type or None, exact message or None, cause or None)."""
    error = case[3]
    return (*error, None)[:3] if isinstance(error, tuple) else (error, None, None)


def expected_model(case):
    """The model of a populated diff after the case, or None for a call that changes nothing."""
    method, args, kwargs, error = case
    model = populated(DiffModel)
    if error is None and method in PARAMETERS:
        getattr(model, method)(*args, *(kwargs[p] for p in PARAMETERS[method][len(args) :]))
    return model
