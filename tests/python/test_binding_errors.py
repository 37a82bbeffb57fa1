"""Binding of call arguments to parameter names: too many positional
arguments, unknown or repeated keywords, missing arguments, their order of
precedence, and the arguments refused by methods that take none."""

import pytest

from tavro_api import PyGraphDiff

A = bytes(range(16))
B = bytes(range(16, 32))
C = bytes(range(32, 48))


@pytest.fixture
def d():
    return PyGraphDiff()


def call(d, method, *args, **kwargs):
    if method == "__new__":
        return PyGraphDiff(*args, **kwargs)
    return getattr(d, method)(*args, **kwargs)


TOO_MANY_POSITIONAL = [
    ("__new__", (None,), "PyGraphDiff.__new__() takes 0 positional arguments but 1 was given"),
    ("__new__", (1, 2), "PyGraphDiff.__new__() takes 0 positional arguments but 2 were given"),
    ("add_node", (A, {}, 1), "PyGraphDiff.add_node() takes 2 positional arguments but 3 were given"),
    (
        "add_node",
        (A, {}, 1, 2),
        "PyGraphDiff.add_node() takes 2 positional arguments but 4 were given",
    ),
    ("delete_node", (A, A), "PyGraphDiff.delete_node() takes 1 positional arguments but 2 were given"),
    (
        "add_edge",
        (A, B, 1.0, 2.0),
        "PyGraphDiff.add_edge() takes 3 positional arguments but 4 were given",
    ),
    (
        "delete_edge",
        (A, B, C),
        "PyGraphDiff.delete_edge() takes 2 positional arguments but 3 were given",
    ),
]


@pytest.mark.parametrize("method, args, message", TOO_MANY_POSITIONAL)
def test_too_many_positional_counts_parameters_and_picks_was_or_were(d, method, args, message):
    with pytest.raises(TypeError) as info:
        call(d, method, *args)
    assert type(info.value) is TypeError
    assert str(info.value) == message
    assert d.num_nodes() == 0 and d.num_edges() == 0


UNEXPECTED_KEYWORD = [
    ("__new__", (), {"x": 1}, "PyGraphDiff.__new__() got an unexpected keyword argument 'x'"),
    (
        "add_node",
        (A, {}),
        {"ID": A},
        "PyGraphDiff.add_node() got an unexpected keyword argument 'ID'",
    ),
    (
        "delete_node",
        (),
        {"node": A},
        "PyGraphDiff.delete_node() got an unexpected keyword argument 'node'",
    ),
    (
        "add_edge",
        (A, B),
        {"w": 1.0},
        "PyGraphDiff.add_edge() got an unexpected keyword argument 'w'",
    ),
    (
        "delete_edge",
        (A,),
        {"from_": B},
        "PyGraphDiff.delete_edge() got an unexpected keyword argument 'from_'",
    ),
    # Keyword errors come before missing arguments: 'to' is missing too.
    (
        "delete_edge",
        (A,),
        {"target": B},
        "PyGraphDiff.delete_edge() got an unexpected keyword argument 'target'",
    ),
    # Keywords are checked in the order passed.
    (
        "add_node",
        (A,),
        {"bogus": 1, "id": A},
        "PyGraphDiff.add_node() got an unexpected keyword argument 'bogus'",
    ),
    (
        "add_node",
        (A,),
        {"id": A, "bogus": 1},
        "PyGraphDiff.add_node() got multiple values for argument 'id'",
    ),
    (
        "__new__",
        (),
        {"b": 1, "a": 2},
        "PyGraphDiff.__new__() got an unexpected keyword argument 'b'",
    ),
]


@pytest.mark.parametrize("method, args, kwargs, message", UNEXPECTED_KEYWORD)
def test_keywords_are_checked_in_the_order_passed(d, method, args, kwargs, message):
    with pytest.raises(TypeError) as info:
        call(d, method, *args, **kwargs)
    assert type(info.value) is TypeError
    assert str(info.value) == message


MULTIPLE_VALUES = [
    ("add_node", (A,), {"id": A}, "id"),
    ("add_node", (A, {}), {"update": {}}, "update"),
    ("delete_node", (A,), {"id": A}, "id"),
    ("add_edge", (A, B), {"from": A}, "from"),
    ("add_edge", (A, B, 1.0), {"weight": 1.0}, "weight"),
    ("delete_edge", (A, B), {"to": B}, "to"),
]


@pytest.mark.parametrize("method, args, kwargs, name", MULTIPLE_VALUES)
def test_keyword_for_a_parameter_already_given_by_position(d, method, args, kwargs, name):
    with pytest.raises(TypeError) as info:
        call(d, method, *args, **kwargs)
    assert str(info.value) == f"PyGraphDiff.{method}() got multiple values for argument '{name}'"
    assert d.num_nodes() == 0 and d.num_edges() == 0


def test_two_positionals_and_a_repeated_keyword_report_the_repeat(d):
    # Two positional arguments for two parameters pass the positional count,
    # so the keyword check is the one that fails.
    with pytest.raises(TypeError) as info:
        d.add_node(A, {}, id=A)
    assert str(info.value) == "PyGraphDiff.add_node() got multiple values for argument 'id'"


@pytest.mark.parametrize(
    "kwargs",
    [{"id": A}, {"bogus": 1}, {"update": {}, "zzz": 0}],
)
def test_too_many_positional_is_reported_before_any_keyword(d, kwargs):
    with pytest.raises(TypeError) as info:
        d.add_node(A, {}, 1, **kwargs)
    assert str(info.value) == "PyGraphDiff.add_node() takes 2 positional arguments but 3 were given"


def test_binding_errors_come_before_argument_conversion(d):
    # Neither the bad id nor the bad update is looked at.
    with pytest.raises(TypeError) as info:
        d.add_node(b"short", [], 1)
    assert str(info.value) == "PyGraphDiff.add_node() takes 2 positional arguments but 3 were given"
    with pytest.raises(TypeError) as info:
        d.add_edge(b"short")
    assert str(info.value).startswith("PyGraphDiff.add_edge() missing 2 required")


MISSING = [
    ("add_node", (), {}, "2 required positional arguments: 'id' and 'update'"),
    ("add_node", (A,), {}, "1 required positional argument: 'update'"),
    ("add_node", (), {"update": {}}, "1 required positional argument: 'id'"),
    ("delete_node", (), {}, "1 required positional argument: 'id'"),
    ("add_edge", (), {}, "3 required positional arguments: 'from', 'to', and 'weight'"),
    ("add_edge", (A,), {}, "2 required positional arguments: 'to' and 'weight'"),
    ("add_edge", (A,), {"weight": 1.0}, "1 required positional argument: 'to'"),
    ("add_edge", (), {"to": B}, "2 required positional arguments: 'from' and 'weight'"),
    ("add_edge", (A, B), {}, "1 required positional argument: 'weight'"),
    ("delete_edge", (), {}, "2 required positional arguments: 'from' and 'to'"),
    ("delete_edge", (A,), {}, "1 required positional argument: 'to'"),
    ("delete_edge", (), {"to": B}, "1 required positional argument: 'from'"),
]


@pytest.mark.parametrize("method, args, kwargs, tail", MISSING)
def test_missing_arguments_are_listed_in_parameter_order(d, method, args, kwargs, tail):
    with pytest.raises(TypeError) as info:
        call(d, method, *args, **kwargs)
    assert type(info.value) is TypeError
    assert str(info.value) == f"PyGraphDiff.{method}() missing {tail}"


def test_every_parameter_can_be_given_by_name(d):
    d.add_node(id=A, update={"label": "a"})
    d.add_node(update={"red": 1}, id=B)
    d.add_edge(**{"from": A, "to": B, "weight": 1.0})
    d.add_edge(**{"weight": 2.0, "to": C, "from": A})
    d.add_edge(B, **{"weight": 3.0, "to": C})
    d.delete_edge(**{"to": A, "from": C})
    d.delete_node(id=C)
    assert d.new_or_updated_nodes() == {
        "00010203-0405-0607-0809-0a0b0c0d0e0f": {"label": "a"},
        "10111213-1415-1617-1819-1a1b1c1d1e1f": {"red": 1},
    }
    # The delete of C turned the pending edges into C into deletion records.
    assert d.new_or_updated_edges() == {
        "00010203-0405-0607-0809-0a0b0c0d0e0f": {"10111213-1415-1617-1819-1a1b1c1d1e1f": 1.0}
    }
    assert {k: sorted(v) for k, v in d.deleted_edges().items()} == {
        "00010203-0405-0607-0809-0a0b0c0d0e0f": ["20212223-2425-2627-2829-2a2b2c2d2e2f"],
        "10111213-1415-1617-1819-1a1b1c1d1e1f": ["20212223-2425-2627-2829-2a2b2c2d2e2f"],
        "20212223-2425-2627-2829-2a2b2c2d2e2f": ["00010203-0405-0607-0809-0a0b0c0d0e0f"],
    }
    assert d.deleted_nodes() == ["20212223-2425-2627-2829-2a2b2c2d2e2f"]


class UnprintableName(str):
    def __str__(self):
        raise ValueError("no text for you")


def test_unprintable_keyword_name_is_written_as_placeholder(d, monkeypatch):
    reported = []
    monkeypatch.setattr("sys.unraisablehook", lambda u: reported.append((u.exc_type, u.object)))
    name = UnprintableName("zz")
    with pytest.raises(TypeError) as info:
        d.add_node(A, {}, **{name: 1})
    assert str(info.value) == (
        "PyGraphDiff.add_node() got an unexpected keyword argument '<unprintable UnprintableName object>'"
    )
    assert len(reported) == 1
    assert reported[0][0] is ValueError and reported[0][1] is name


NO_ARGUMENT_METHODS = [
    "new_or_updated_nodes",
    "deleted_nodes",
    "new_or_updated_edges",
    "deleted_edges",
    "num_nodes",
    "num_edges",
    "clear",
    "to_bytes",
]


@pytest.mark.parametrize("method", NO_ARGUMENT_METHODS)
def test_no_argument_methods_refuse_arguments_through_the_interpreter(d, method):
    d.add_node(A, {"label": "kept"})
    with pytest.raises(TypeError, match=r"takes no arguments \(1 given\)"):
        getattr(d, method)(A)
    with pytest.raises(TypeError, match=r"takes no keyword arguments"):
        getattr(d, method)(x=1)
    # Not even `clear` ran.
    assert d.new_or_updated_nodes() == {"00010203-0405-0607-0809-0a0b0c0d0e0f": {"label": "kept"}}


@pytest.mark.parametrize(
    "method, args",
    [
        ("num_nodes", (1,)),
        ("new_or_updated_nodes", (None,)),
        ("clear", ("x",)),
        ("add_node", (object(), A, {})),
        ("delete_node", (b"", A)),
        ("add_edge", (1, A, B, 1.0)),
        ("delete_edge", (None, A, B)),
    ],
)
def test_a_receiver_that_is_not_a_graph_diff_is_refused(method, args):
    with pytest.raises(TypeError):
        getattr(PyGraphDiff, method)(*args)


def test_unbound_methods_accept_a_real_receiver():
    d = PyGraphDiff()
    PyGraphDiff.add_node(d, A, {"red": 3})
    PyGraphDiff.add_edge(d, A, B, 0.5)
    assert PyGraphDiff.num_nodes(d) == 1
    assert PyGraphDiff.num_edges(d) == 1
