"""The node update as a Python dict: which values each key accepts, the errors
for the others, the order in which keys are converted, how the dict is read
(through its own storage only) and the exact shape of the dict written back."""

import collections
import math
import types
from collections.abc import Mapping

import pytest

from tavro_api import PyGraphDiff

ID = bytes(range(16))
ID_TEXT = "00010203-0405-0607-0809-0a0b0c0d0e0f"
FIELD_ORDER = ["label", "url", "size", "red", "green", "blue", "show_label"]


def roundtrip(update):
    d = PyGraphDiff()
    d.add_node(ID, update)
    return d.new_or_updated_nodes()[ID_TEXT]


def add_error(update):
    """The exception add_node raises for `update`; the diff must stay empty."""
    d = PyGraphDiff()
    with pytest.raises(BaseException) as info:
        d.add_node(ID, update)
    assert d.num_nodes() == 0 and d.new_or_updated_nodes() == {}
    return info.value


def typed_items(written):
    return [(key, type(value), value) for key, value in written.items()]


class LabelText(str):
    pass


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


class Raises:
    """Fails both float and integer conversion with the given exception."""

    def __init__(self, error):
        self.error = error

    def __float__(self):
        raise self.error

    def __index__(self):
        raise self.error


# ---------------------------------------------------------------- accepted values

ACCEPTED = [
    ({}, []),
    (
        {"label": "", "red": 0, "show_label": False},
        [("label", str, ""), ("red", int, 0), ("show_label", bool, False)],
    ),
    (
        # Given in reverse order; written in the field order.
        {
            "show_label": True,
            "blue": 3,
            "green": 2,
            "red": 1,
            "size": 2.5,
            "url": "http://x",
            "label": "n",
        },
        [
            ("label", str, "n"),
            ("url", str, "http://x"),
            ("size", float, 2.5),
            ("red", int, 1),
            ("green", int, 2),
            ("blue", int, 3),
            ("show_label", bool, True),
        ],
    ),
    ({"label": "héllo ☃ 𝄞"}, [("label", str, "héllo ☃ 𝄞")]),
    ({"url": "a\x00b"}, [("url", str, "a\x00b")]),
    ({"label": "x" * 100_000}, [("label", str, "x" * 100_000)]),
    ({"label": LabelText("sub")}, [("label", str, "sub")]),
    ({"url": LabelText("")}, [("url", str, "")]),
    ({"size": 3}, [("size", float, 3.0)]),
    ({"size": 0.1}, [("size", float, 0.10000000149011612)]),
    ({"size": 1e300}, [("size", float, math.inf)]),
    ({"size": -1e300}, [("size", float, -math.inf)]),
    ({"size": -1.0}, [("size", float, -1.0)]),
    ({"size": True}, [("size", float, 1.0)]),
    ({"size": FloatLike(-1.0)}, [("size", float, -1.0)]),
    ({"size": IndexLike(9)}, [("size", float, 9.0)]),
    ({"size": 1 + 3 * 2.0**-24}, [("size", float, 1 + 2.0**-22)]),
    ({"red": 255}, [("red", int, 255)]),
    ({"green": 0}, [("green", int, 0)]),
    ({"blue": 128}, [("blue", int, 128)]),
    ({"red": True}, [("red", int, 1)]),
    ({"green": False}, [("green", int, 0)]),
    ({"blue": IndexLike(200)}, [("blue", int, 200)]),
    ({"show_label": True}, [("show_label", bool, True)]),
    ({"show_label": False}, [("show_label", bool, False)]),
    # Only the seven names are keys; everything else is ignored.
    ({"showLabel": True}, []),
    ({"x": 3, "label": "a"}, [("label", str, "a")]),
    ({1: "label", None: 2, ("label",): 3, "Label": 4, "label ": 5, b"label": 6}, []),
    ({"size": 2.0, "unused": None}, [("size", float, 2.0)]),
    # A str subclass key equal to a field name is found as that key.
    ({LabelText("label"): "via subclass key"}, [("label", str, "via subclass key")]),
]


@pytest.mark.parametrize("update, expected", ACCEPTED, ids=lambda v: repr(v)[:60])
def test_accepted_update_is_written_back_in_field_order(update, expected):
    before = dict(update)
    written = roundtrip(update)
    assert type(written) is dict
    assert typed_items(written) == expected
    assert None not in written.values()
    assert update == before  # the input is never changed


@pytest.mark.parametrize(
    "size, check",
    [
        (math.nan, math.isnan),
        (-0.0, lambda v: v == 0.0 and math.copysign(1.0, v) < 0),
        (1e-46, lambda v: v == 0.0 and math.copysign(1.0, v) > 0),
        (1e-45, lambda v: v == 1.401298464324817e-45),
    ],
)
def test_size_special_values(size, check):
    written = roundtrip({"size": size})
    assert list(written) == ["size"]
    assert type(written["size"]) is float and check(written["size"])


def test_numpy_bools_are_accepted_as_show_label():
    np = pytest.importorskip("numpy")
    assert roundtrip({"show_label": np.True_}) == {"show_label": True}
    assert roundtrip({"show_label": np.bool_(False)}) == {"show_label": False}
    assert roundtrip({"show_label": np.array([True, False])[1]}) == {"show_label": False}
    assert type(roundtrip({"show_label": np.True_})["show_label"]) is bool


def _raise_value_error(self):
    raise ValueError("no truth")


# NumPy 1 names its boolean type "numpy.bool_", NumPy 2 "numpy.bool"; a type
# with either name is read through its truth slot.
NUMPY_BOOL_NAMES = ["numpy.bool_", "numpy.bool"]


@pytest.mark.parametrize("name", NUMPY_BOOL_NAMES)
def test_show_label_of_a_type_named_like_numpy_bool_uses_its_truth_slot(name):
    false_like = type(name, (), {"__bool__": lambda self: False})
    true_like = type(name, (), {"__bool__": lambda self: True})
    raising = type(name, (), {"__bool__": _raise_value_error})
    bad_truth = type(name, (), {"__bool__": lambda self: 1})
    assert roundtrip({"show_label": false_like()}) == {"show_label": False}
    assert roundtrip({"show_label": true_like()}) == {"show_label": True}
    error = add_error({"show_label": raising()})
    assert type(error) is ValueError and str(error) == "no truth"
    # __bool__ returning a non-bool: the interpreter's TypeError, reworded.
    error = add_error({"show_label": bad_truth()})
    assert type(error) is TypeError
    assert str(error).startswith("argument 'update': __bool__ should return bool")


@pytest.mark.parametrize("name", NUMPY_BOOL_NAMES)
def test_show_label_of_a_type_named_like_numpy_bool_without_truth_slot(name):
    without_truth = type(name, (), {})
    error = add_error({"show_label": without_truth()})
    assert type(error) is TypeError
    assert str(error) == (
        "argument 'update': object of type '"
        + str(without_truth)
        + "' does not define a '__bool__' conversion"
    )


@pytest.mark.parametrize("name", ["bool_", "numpy.bool_x", "numpy.Bool_", "bool", "numpy.bool8"])
def test_show_label_of_other_names_is_refused_even_with_a_truth_slot(name):
    value = type(name, (), {"__bool__": lambda self: True})()
    error = add_error({"show_label": value})
    assert type(error) is TypeError
    assert str(error) == f"argument 'update': '{name}' object cannot be converted to 'PyBool'"


def test_numpy_integers_and_floats_convert_through_their_protocols():
    np = pytest.importorskip("numpy")
    assert typed_items(roundtrip({"red": np.uint8(7), "size": np.float32(0.5)})) == [
        ("size", float, 0.5),
        ("red", int, 7),
    ]


# ---------------------------------------------------------------- refused values

TYPE_ERRORS = [
    ({"label": None}, "'NoneType' object cannot be converted to 'PyString'"),
    ({"label": 5}, "'int' object cannot be converted to 'PyString'"),
    ({"url": b"http"}, "'bytes' object cannot be converted to 'PyString'"),
    ({"url": ["x"]}, "'list' object cannot be converted to 'PyString'"),
    ({"size": "1"}, "must be real number, not str"),
    ({"size": None}, "must be real number, not NoneType"),
    ({"red": 1.0}, "'float' object cannot be interpreted as an integer"),
    ({"green": "1"}, "'str' object cannot be interpreted as an integer"),
    ({"blue": None}, "'NoneType' object cannot be interpreted as an integer"),
    ({"show_label": 1}, "'int' object cannot be converted to 'PyBool'"),
    ({"show_label": 0}, "'int' object cannot be converted to 'PyBool'"),
    ({"show_label": None}, "'NoneType' object cannot be converted to 'PyBool'"),
    ({"show_label": "true"}, "'str' object cannot be converted to 'PyBool'"),
    ({"show_label": 1.0}, "'float' object cannot be converted to 'PyBool'"),
]


@pytest.mark.parametrize("update, message", TYPE_ERRORS, ids=repr)
def test_type_errors_are_reworded_to_name_update(update, message):
    error = add_error(update)
    assert type(error) is TypeError
    assert str(error) == "argument 'update': " + message


@pytest.mark.parametrize(
    "update, type_name",
    [
        ([("label", "a")], "list"),
        (None, "NoneType"),
        ("label", "str"),
        (types.MappingProxyType({"label": "a"}), "mappingproxy"),
    ],
)
def test_update_that_is_not_a_dict_is_refused_naming_pydict(update, type_name):
    error = add_error(update)
    assert type(error) is TypeError
    assert str(error) == f"argument 'update': '{type_name}' object cannot be converted to 'PyDict'"


class UserMapping(Mapping):
    def __init__(self, data):
        self.data = data

    def __getitem__(self, key):
        return self.data[key]

    def __iter__(self):
        return iter(self.data)

    def __len__(self):
        return len(self.data)


def test_user_mapping_class_is_refused_with_its_qualified_name():
    error = add_error(UserMapping({"label": "a"}))
    assert str(error) == "argument 'update': 'UserMapping' object cannot be converted to 'PyDict'"


@pytest.mark.parametrize("channel", ["red", "green", "blue"])
@pytest.mark.parametrize("value", [256, -1, 1000, IndexLike(300), IndexLike(-1), -(2**62)])
def test_colour_out_of_range_is_overflow_error_not_reworded(channel, value):
    error = add_error({channel: value})
    assert type(error) is OverflowError
    assert str(error) == "out of range integral type conversion attempted"


@pytest.mark.parametrize("channel", ["red", "green", "blue"])
@pytest.mark.parametrize("value", [2**63, -(2**63) - 1, 2**100])
def test_colour_beyond_a_c_long_is_the_interpreters_overflow_error(channel, value):
    error = add_error({channel: value})
    assert type(error) is OverflowError
    assert not str(error).startswith("argument")


def test_size_too_large_for_a_double_is_overflow_error_unchanged():
    error = add_error({"size": 10**400})
    assert type(error) is OverflowError
    assert not str(error).startswith("argument")


def test_lone_surrogate_in_a_text_is_unicode_encode_error_unchanged():
    for key in ("label", "url"):
        error = add_error({key: "a\ud800b"})
        assert type(error) is UnicodeEncodeError


class TypeErrorSubclass(TypeError):
    pass


@pytest.mark.parametrize("key", ["size", "red", "green", "blue"])
@pytest.mark.parametrize(
    "error",
    [ValueError("v"), TypeErrorSubclass("sub"), ZeroDivisionError("z")],
    ids=lambda e: type(e).__name__,
)
def test_errors_of_other_classes_from_a_value_pass_unchanged(key, error):
    assert add_error({key: Raises(error)}) is error


@pytest.mark.parametrize("key", ["size", "red"])
def test_exact_type_error_from_a_value_is_reworded_keeping_its_cause(key):
    root = KeyError("root")
    original = TypeError("from the value")
    original.__cause__ = root
    error = add_error({key: Raises(original)})
    assert type(error) is TypeError and error is not original
    assert str(error) == "argument 'update': from the value"
    assert error.__cause__ is root


# One bad value per field, each with a message of its own, so that the error
# tells which field was converted first.
BAD_VALUE = {
    "label": (1, TypeError, "argument 'update': 'int' object cannot be converted to 'PyString'"),
    "url": (2.5, TypeError, "argument 'update': 'float' object cannot be converted to 'PyString'"),
    "size": (Raises(LookupError("size")), LookupError, "size"),
    "red": (Raises(LookupError("red")), LookupError, "red"),
    "green": (Raises(LookupError("green")), LookupError, "green"),
    "blue": (Raises(LookupError("blue")), LookupError, "blue"),
    "show_label": (
        "yes",
        TypeError,
        "argument 'update': 'str' object cannot be converted to 'PyBool'",
    ),
}
FIELD_PAIRS = [(a, b) for i, a in enumerate(FIELD_ORDER) for b in FIELD_ORDER[i + 1 :]]


@pytest.mark.parametrize("first, second", FIELD_PAIRS)
def test_with_two_bad_values_the_earlier_field_is_reported(first, second):
    # The later field is inserted first, so dict order cannot decide.
    update = {second: BAD_VALUE[second][0], first: BAD_VALUE[first][0]}
    _, error_type, message = BAD_VALUE[first]
    error = add_error(update)
    assert type(error) is error_type
    assert str(error) == message


def test_a_bad_value_after_good_ones_stores_nothing():
    d = PyGraphDiff()
    d.add_node(ID, {"label": "before", "size": 1.0})
    with pytest.raises(OverflowError):
        d.add_node(ID, {"label": "after", "url": "u", "size": 2.0, "red": 256})
    assert d.new_or_updated_nodes() == {ID_TEXT: {"label": "before", "size": 1.0}}


def test_documented_two_bad_values_report_the_label():
    error = add_error({"red": 300, "label": 5})
    assert type(error) is TypeError
    assert str(error) == "argument 'update': 'int' object cannot be converted to 'PyString'"


# ---------------------------------------------------------------- how the dict is read


def test_defaultdict_is_read_without_creating_keys():
    calls = []

    def factory():
        calls.append(1)
        return "made up"

    update = collections.defaultdict(factory, {"red": 5})
    assert roundtrip(update) == {"red": 5}
    assert calls == []
    assert dict(update) == {"red": 5}


class OverridingDict(dict):
    def __getitem__(self, key):
        raise AssertionError("__getitem__ must not be called")

    def get(self, key, default=None):
        raise AssertionError("get must not be called")

    def __contains__(self, key):
        raise AssertionError("__contains__ must not be called")

    def __missing__(self, key):
        raise AssertionError("__missing__ must not be called")

    def keys(self):
        raise AssertionError("keys must not be called")

    def items(self):
        raise AssertionError("items must not be called")


def test_dict_subclass_is_read_through_its_stored_items_only():
    update = OverridingDict(label="stored", blue=9)
    assert roundtrip(update) == {"label": "stored", "blue": 9}


def test_ordered_dict_is_accepted():
    update = collections.OrderedDict([("blue", 1), ("label", "o")])
    assert list(roundtrip(update).items()) == [("label", "o"), ("blue", 1)]


class KeyCompareFails(Exception):
    pass


class HashesLikeLabel:
    """A key that lands in the same hash slot chain as "label" and refuses
    to be compared."""

    def __hash__(self):
        return hash("label")

    def __eq__(self, other):
        raise KeyCompareFails("compared")


def test_stored_key_whose_comparison_raises_propagates_that_exception():
    update = {HashesLikeLabel(): 1}
    error = add_error(update)
    assert type(error) is KeyCompareFails


def test_stored_key_comparison_raising_type_error_is_reworded():
    class HashesLikeUrl:
        def __hash__(self):
            return hash("url")

        def __eq__(self, other):
            raise TypeError("cannot compare")

    error = add_error({HashesLikeUrl(): 1})
    assert type(error) is TypeError
    assert str(error) == "argument 'update': cannot compare"


def test_written_dicts_are_new_on_every_call():
    d = PyGraphDiff()
    d.add_node(ID, {"label": "a", "red": 1})
    first = d.new_or_updated_nodes()
    first[ID_TEXT]["label"] = "changed"
    first[ID_TEXT]["url"] = None
    del first[ID_TEXT]["red"]
    second = d.new_or_updated_nodes()
    assert second == {ID_TEXT: {"label": "a", "red": 1}}
    assert second[ID_TEXT] is not first[ID_TEXT]


def test_update_dict_is_not_kept_by_the_diff():
    update = {"label": "a"}
    d = PyGraphDiff()
    d.add_node(ID, update)
    update["label"] = "b"
    update["red"] = 3
    assert d.new_or_updated_nodes() == {ID_TEXT: {"label": "a"}}
