"""The node update as a Python dict: which values each key accepts, the errors
for the others, the order in which keys are converted, how the dict is read
(through its own storage only) and the exact shape of the dict written back."""

import collections
import types

import pytest
from diff_model import IndexLike, Raises, TypeErrorSubclass
from tavro_api import PyGraphDiff

ID = bytes(range(16))
ID_TEXT = "00010203-0405-0607-0809-0a0b0c0d0e0f"
FIELD_ORDER = ["label", "url", "size", "red", "green", "blue", "show_label"]


def roundtrip(update):
    """The dict written back for `update`, as (key, type, value) triples in order."""
    before = dict(update)
    d = PyGraphDiff()
    d.add_node(ID, update)
    assert dict(update) == before  # the input is never changed
    written = d.new_or_updated_nodes()[ID_TEXT]
    assert type(written) is dict
    return [(key, type(value), value) for key, value in written.items()]


def add_error(update):
    """The exception add_node raises for `update`; the diff must stay empty."""
    d = PyGraphDiff()
    with pytest.raises(BaseException) as info:
        d.add_node(ID, update)
    assert d.num_nodes() == 0 and d.new_or_updated_nodes() == {}
    return info.value


class Text(str):
    pass


# ---------------------------------------------------------------- accepted values

ACCEPTED = {
    "written in field order, not given order": (
        {"show_label": True, "blue": 3, "green": 2, "red": 1, "size": 2.5, "url": "u",
         "label": "n"},
        [("label", str, "n"), ("url", str, "u"), ("size", float, 2.5), ("red", int, 1),
         ("green", int, 2), ("blue", int, 3), ("show_label", bool, True)],
    ),
    "empty, zero and false values are kept": (
        {"label": "", "green": 0, "show_label": False},
        [("label", str, ""), ("green", int, 0), ("show_label", bool, False)],
    ),
    "non-ASCII text": ({"label": "héllo ☃ 𝄞"}, [("label", str, "héllo ☃ 𝄞")]),
    "NUL inside text": ({"url": "a\x00b"}, [("url", str, "a\x00b")]),
    "str subclass written back as str": ({"label": Text("sub")}, [("label", str, "sub")]),
    "colour top of range": ({"red": 255}, [("red", int, 255)]),
    "colour from bool": ({"blue": True}, [("blue", int, 1)]),
    "colour from __index__": ({"green": IndexLike(200)}, [("green", int, 200)]),
    "other keys ignored": (
        {"showLabel": True, "Label": 1, "label ": 2, b"label": 3, 1: 4, None: 5, ("url",): 6,
         "x": None},
        [],
    ),
    "str subclass key": ({Text("label"): "via subclass key"}, [("label", str, "via subclass key")]),
}  # fmt: skip


@pytest.mark.parametrize("update, expected", ACCEPTED.values(), ids=ACCEPTED)
def test_accepted_update_is_written_back_in_field_order(update, expected):
    assert roundtrip(update) == expected


# NumPy 1 names its boolean type "numpy.bool_", NumPy 2 "numpy.bool"; a type
# with either name is read through its truth slot.
@pytest.mark.parametrize("name", ["numpy.bool_", "numpy.bool"])
def test_show_label_of_a_type_named_like_numpy_bool_uses_its_truth_slot(name):
    def make(truth):
        return type(name, (), {} if truth is None else {"__bool__": truth})()

    def no_truth(self):
        raise ValueError("no truth")

    assert roundtrip({"show_label": make(lambda self: False)}) == [("show_label", bool, False)]
    assert roundtrip({"show_label": make(lambda self: True)}) == [("show_label", bool, True)]
    error = add_error({"show_label": make(no_truth)})
    assert type(error) is ValueError and str(error) == "no truth"
    # __bool__ returning a non-bool: the interpreter's TypeError, reworded.
    error = add_error({"show_label": make(lambda self: 1)})
    assert type(error) is TypeError
    assert str(error).startswith("argument 'update': __bool__ should return bool")
    value = make(None)
    error = add_error({"show_label": value})
    assert type(error) is TypeError
    assert str(error) == (
        f"argument 'update': object of type '{type(value)}' does not define a '__bool__' conversion"
    )


def test_numpy_scalars_are_accepted():
    np = pytest.importorskip("numpy")
    assert roundtrip({"show_label": np.True_}) == [("show_label", bool, True)]
    assert roundtrip({"show_label": np.bool_(False)}) == [("show_label", bool, False)]


# ---------------------------------------------------------------- refused values


def truthy(name):
    return type(name, (), {"__bool__": lambda self: True})()


TYPE_ERRORS = {
    **{
        f"not a dict: {name}": (value, f"'{name}' object cannot be converted to 'PyDict'")
        for value, name in [
            ([("label", "a")], "list"),
            (None, "NoneType"),
            (types.MappingProxyType({"label": "a"}), "mappingproxy"),
            (collections.UserDict({"label": "a"}), "UserDict"),
        ]
    },  # fmt: skip
    "label None": ({"label": None}, "'NoneType' object cannot be converted to 'PyString'"),
    "url bytes": ({"url": b"http"}, "'bytes' object cannot be converted to 'PyString'"),
    "size None": ({"size": None}, "must be real number, not NoneType"),
    "colour float": ({"red": 1.0}, "'float' object cannot be interpreted as an integer"),
    "colour None": ({"blue": None}, "'NoneType' object cannot be interpreted as an integer"),
    "show_label int 1": ({"show_label": 1}, "'int' object cannot be converted to 'PyBool'"),
    "show_label int 0": ({"show_label": 0}, "'int' object cannot be converted to 'PyBool'"),
    "show_label None": ({"show_label": None}, "'NoneType' object cannot be converted to 'PyBool'"),
    **{
        f"show_label of a type named {name}": (
            {"show_label": truthy(name)},
            f"'{name}' object cannot be converted to 'PyBool'",
        )
        for name in ["bool", "bool_", "numpy.bool_x", "numpy.Bool_", "numpy.bool8"]
    },
}


@pytest.mark.parametrize("update, message", TYPE_ERRORS.values(), ids=TYPE_ERRORS)
def test_type_errors_are_reworded_to_name_update(update, message):
    error = add_error(update)
    assert type(error) is TypeError
    assert str(error) == "argument 'update': " + message


RANGE = "out of range integral type conversion attempted"


@pytest.mark.parametrize("channel", ["red", "green", "blue"])
@pytest.mark.parametrize(
    "value, message",
    [(256, RANGE), (-1, RANGE), (IndexLike(300), RANGE), (IndexLike(-1), RANGE),
     (2**63, "Python int too large to convert to C long"),
     (-(2**63) - 1, "Python int too large to convert to C long")],
    ids=["256", "-1", "__index__ 300", "__index__ -1", "2**63", "below C long"],
)  # fmt: skip
def test_colour_out_of_range_is_overflow_error_not_reworded(channel, value, message):
    error = add_error({channel: value})
    assert type(error) is OverflowError
    assert str(error) == message


PASS_UNCHANGED = {
    "size ValueError": ({"size": Raises(ValueError("v"))}, ValueError),
    "size TypeError subclass": ({"size": Raises(TypeErrorSubclass("sub"))}, TypeErrorSubclass),
    "colour other": ({"red": Raises(ZeroDivisionError("z"))}, ZeroDivisionError),
    "size beyond a double": ({"size": 10**400}, OverflowError),
    "lone surrogate in label": ({"label": "a\ud800b"}, UnicodeEncodeError),
}


@pytest.mark.parametrize("update, error_type", PASS_UNCHANGED.values(), ids=PASS_UNCHANGED)
def test_errors_other_than_an_exact_type_error_pass_unchanged(update, error_type):
    error = add_error(update)
    assert type(error) is error_type
    assert not str(error).startswith("argument")
    (value,) = update.values()
    if isinstance(value, Raises):
        assert error is value.error


# One bad value per field, each with an error of its own, so that the error
# tells which field was converted first (red 300 with label 5 reports the label).
BAD_VALUE = {
    "label": (5, TypeError, "argument 'update': 'int' object cannot be converted to 'PyString'"),
    "url": (2.5, TypeError, "argument 'update': 'float' object cannot be converted to 'PyString'"),
    "size": (Raises(LookupError("size")), LookupError, "size"),
    "red": (300, OverflowError, RANGE),
    "green": (Raises(LookupError("green")), LookupError, "green"),
    "blue": (Raises(LookupError("blue")), LookupError, "blue"),
    "show_label":
        ("yes", TypeError, "argument 'update': 'str' object cannot be converted to 'PyBool'"),
}  # fmt: skip
FIELD_PAIRS = [(a, b) for i, a in enumerate(FIELD_ORDER) for b in FIELD_ORDER[i + 1 :]]


@pytest.mark.parametrize("first, second", FIELD_PAIRS)
def test_with_two_bad_values_the_earlier_field_is_reported(first, second):
    # The later field is inserted first, so dict order cannot decide.
    error = add_error({second: BAD_VALUE[second][0], first: BAD_VALUE[first][0]})
    _, error_type, message = BAD_VALUE[first]
    assert type(error) is error_type
    assert str(error) == message


# ---------------------------------------------------------------- how the dict is read


class OverridingDict(dict):
    def _refuse(self, *args):
        raise AssertionError("only the dict's own storage may be read")

    __getitem__ = get = __contains__ = __missing__ = keys = items = _refuse


def test_dict_subclasses_are_read_through_their_stored_items_only():
    made = []
    update = collections.defaultdict(lambda: made.append(1), {"red": 5})
    assert roundtrip(update) == [("red", int, 5)]
    assert made == [] and dict(update) == {"red": 5}
    assert roundtrip(OverridingDict(label="stored", blue=9)) == [
        ("label", str, "stored"),
        ("blue", int, 9),
    ]


def colliding_key(field, error):
    """A key that hashes like `field` and raises `error` when compared."""

    def eq(self, other):
        raise error

    return type("Colliding", (), {"__hash__": lambda self: hash(field), "__eq__": eq})()


def test_a_stored_key_whose_comparison_raises():
    error = LookupError("compared")
    assert add_error({colliding_key("label", error): 1}) is error
    error = add_error({colliding_key("url", TypeError("cannot compare")): 1})
    assert type(error) is TypeError
    assert str(error) == "argument 'update': cannot compare"
