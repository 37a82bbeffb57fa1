"""Binding of call arguments to parameter names: every error form, their order
of precedence, keywords for every parameter, and an unprintable keyword name.

Binding comes before any conversion, so the error rows pass ids that could
never convert (BAD): the binding error must still be the one reported."""

import pytest
from diff_model import snapshot
from tavro_api import PyGraphDiff

A, B, C = (bytes(range(n, n + 16)) for n in (0, 16, 32))
BAD = b"short"

# (method, positional args, keyword args, message after "PyGraphDiff.<method>() ")
BINDING_ERRORS = {
    "one extra is 'was', noun stays plural":
        ("__new__", (None,), {}, "takes 0 positional arguments but 1 was given"),
    "two extra is 'were'": ("__new__", (1, 2), {}, "takes 0 positional arguments but 2 were given"),
    "add_node counts 2":
        ("add_node", (BAD, [], 1), {}, "takes 2 positional arguments but 3 were given"),
    "plural noun for one parameter":
        ("delete_node", (BAD, A), {}, "takes 1 positional arguments but 2 were given"),
    "too many positional before a repeated keyword":
        ("add_node", (A, {}, 1), {"id": A}, "takes 2 positional arguments but 3 were given"),
    "new: unknown keyword": ("__new__", (), {"x": 1}, "got an unexpected keyword argument 'x'"),
    "new: keywords checked in the order passed":
        ("__new__", (), {"b": 1, "a": 2}, "got an unexpected keyword argument 'b'"),
    "names are case-sensitive":
        ("add_node", (BAD, {}), {"ID": A}, "got an unexpected keyword argument 'ID'"),
    "no 'from_' spelling":
        ("delete_edge", (BAD,), {"from_": B}, "got an unexpected keyword argument 'from_'"),
    "unknown keyword before missing":
        ("delete_edge", (A,), {"target": B}, "got an unexpected keyword argument 'target'"),
    "unknown keyword first in order":
        ("add_node", (A,), {"bogus": 1, "id": A}, "got an unexpected keyword argument 'bogus'"),
    "repeated keyword first in order":
        ("add_node", (BAD,), {"id": A, "bogus": 1}, "got multiple values for argument 'id'"),
    "repeat of the first of two":
        ("add_node", (BAD, {}), {"id": A}, "got multiple values for argument 'id'"),
    "repeat of from":
        ("add_edge", (BAD, B), {"from": A}, "got multiple values for argument 'from'"),
    "repeat of weight":
        ("add_edge", (A, B, "x"), {"weight": 1.0}, "got multiple values for argument 'weight'"),
    "missing two names":
        ("add_node", (), {}, "missing 2 required positional arguments: 'id' and 'update'"),
    "delete_node names id": ("delete_node", (), {}, "missing 1 required positional argument: 'id'"),
    "missing first, later given by name":
        ("add_node", (), {"update": []}, "missing 1 required positional argument: 'id'"),
    "missing three names":
        ("add_edge", (), {}, "missing 3 required positional arguments: 'from', 'to', and 'weight'"),
    "missing last two":
        ("add_edge", (BAD,), {}, "missing 2 required positional arguments: 'to' and 'weight'"),
    "missing middle one":
        ("add_edge", (A,), {"weight": "x"}, "missing 1 required positional argument: 'to'"),
    "missing first and last":
        ("add_edge", (), {"to": B}, "missing 2 required positional arguments: 'from' and 'weight'"),
    "missing from":
        ("delete_edge", (), {"to": BAD}, "missing 1 required positional argument: 'from'"),
}  # fmt: skip


@pytest.mark.parametrize(
    "method, args, kwargs, tail", BINDING_ERRORS.values(), ids=BINDING_ERRORS.keys()
)
def test_binding_error_message_and_precedence(method, args, kwargs, tail):
    d = PyGraphDiff()
    with pytest.raises(TypeError) as info:
        if method == "__new__":
            PyGraphDiff(*args, **kwargs)
        else:
            getattr(d, method)(*args, **kwargs)
    assert type(info.value) is TypeError
    assert str(info.value) == f"PyGraphDiff.{method}() {tail}"
    assert d.num_nodes() == 0 and d.num_edges() == 0


def test_every_parameter_can_be_given_by_name_in_any_order():
    by_name, by_position = PyGraphDiff(), PyGraphDiff()
    for name, *args in [("add_node", A, {"label": "a"}), ("add_node", B, {"red": 1}),
                        ("add_edge", A, B, 1.0), ("add_edge", A, C, 2.0), ("add_edge", B, C, 3.0),
                        ("delete_edge", C, A), ("delete_node", C)]:  # fmt: skip
        getattr(by_position, name)(*args)
    by_name.add_node(id=A, update={"label": "a"})
    by_name.add_node(update={"red": 1}, id=B)
    by_name.add_edge(**{"from": A, "to": B, "weight": 1.0})
    by_name.add_edge(**{"weight": 2.0, "to": C, "from": A})
    by_name.add_edge(B, **{"weight": 3.0, "to": C})
    by_name.delete_edge(**{"to": A, "from": C})
    by_name.delete_node(id=C)
    assert snapshot(by_name) == snapshot(by_position)
    assert len(by_name.deleted_edges()) == 3  # every call above reached the diff


class UnprintableName(str):
    def __str__(self):
        raise ValueError("no text for you")


def test_unprintable_keyword_name_is_written_as_placeholder(monkeypatch):
    reported = []
    monkeypatch.setattr("sys.unraisablehook", lambda u: reported.append((u.exc_type, u.object)))
    name = UnprintableName("zz")
    with pytest.raises(TypeError) as info:
        PyGraphDiff().add_node(A, {}, **{name: 1})
    assert str(info.value) == (
        "PyGraphDiff.add_node() got an unexpected keyword argument "
        "'<unprintable UnprintableName object>'"
    )
    assert reported == [(ValueError, name)]
