"""The module and the class as the interpreter sees them, the method table,
and the exact messages of argument binding."""

import gc
import subprocess
import sys
import weakref

import pytest
import tavro_api
from tavro_api import PyGraphDiff

A = bytes(range(16))
BAD = b"short"  # binding comes before conversion: an unconvertible id must not matter

SIGNATURES = {
    **{name: "($self)" for name in ["new_or_updated_nodes", "deleted_nodes",
       "new_or_updated_edges", "deleted_edges", "num_nodes", "num_edges"]},
    "add_node": "($self, id, update)", "delete_node": "($self, id)",
    "add_edge": "($self, from, to, weight)", "delete_edge": "($self, from, to)",
    "clear": "($self)", "to_bytes": "($self)", "from_bytes": "(bytes)",
}  # fmt: skip


def test_module_and_class_shape():
    assert tavro_api.__all__ == ["PyGraphDiff"] and tavro_api.__doc__ == ""
    assert [name for name in dir(tavro_api) if not name.startswith("_")] == ["PyGraphDiff"]
    cls = PyGraphDiff
    assert (cls.__module__, cls.__name__, cls.__qualname__, cls.__text_signature__,
            cls.__doc__, cls.__bases__) == ("builtins", "PyGraphDiff", "PyGraphDiff", "()", "",
                                            (object,))  # fmt: skip
    assert [n for n in vars(cls) if not n.startswith("__")] == list(SIGNATURES)
    assert {n for n in vars(cls) if n.startswith("__")} <= {"__new__", "__doc__", "__module__"}
    for name, signature in SIGNATURES.items():
        method = getattr(cls, name)
        assert (method.__text_signature__, method.__doc__ or None) == (signature, None), name
    with pytest.raises(TypeError):
        type("Sub", (PyGraphDiff,), {})
    d, e = PyGraphDiff(), PyGraphDiff()
    with pytest.raises(AttributeError):
        d.anything = 1
    with pytest.raises(TypeError):
        weakref.ref(d)
    assert not gc.is_tracked(d) and d != e and d == d and hash(d) == object.__hash__(d)


def test_reimport_gives_the_same_objects_and_a_second_interpreter_is_refused(tmp_path):
    saved = sys.modules.pop("tavro_api")
    try:
        import tavro_api as again

        assert again is saved and again.PyGraphDiff is PyGraphDiff
    finally:
        sys.modules["tavro_api"] = saved
    out = tmp_path / "message.txt"
    inner = f"try:\n    import tavro_api\nexcept ImportError as e:\n    open({str(out)!r}, 'w').write(str(e))"
    script = (f"import _testcapi, tavro_api\n_testcapi.run_in_subinterp({inner!r})\n"
              "print(type(tavro_api.PyGraphDiff()).__name__)")  # fmt: skip
    result = subprocess.run(
        [sys.executable, "-c", script], capture_output=True, text=True, timeout=60
    )
    assert (result.returncode, result.stdout.strip()) == (0, "PyGraphDiff"), result.stderr
    assert out.read_text().startswith("PyO3 modules do not yet support subinterpreters, see ")


# (method, positional args, keyword args, message after "PyGraphDiff.<method>() ")
BINDING_ERRORS = {
    "one extra is 'was'": ("__new__", (None,), {}, "takes 0 positional arguments but 1 was given"),
    "noun stays plural for one parameter":
        ("delete_node", (BAD, A), {}, "takes 1 positional arguments but 2 were given"),
    "too many positional before a repeated keyword":
        ("add_node", (A, {}, 1), {"id": A}, "takes 2 positional arguments but 3 were given"),
    "keywords checked in the order passed":
        ("__new__", (), {"b": 1, "a": 2}, "got an unexpected keyword argument 'b'"),
    "unknown keyword before missing":
        ("delete_edge", (A,), {"target": A}, "got an unexpected keyword argument 'target'"),
    "repeated keyword first in order":
        ("add_node", (BAD,), {"id": A, "bogus": 1}, "got multiple values for argument 'id'"),
    "repeat of a later parameter":
        ("add_edge", (A, A, "x"), {"weight": 1.0}, "got multiple values for argument 'weight'"),
    "missing first, later given by name":
        ("add_node", (), {"update": []}, "missing 1 required positional argument: 'id'"),
    "three missing":
        ("add_edge", (), {}, "missing 3 required positional arguments: 'from', 'to', and 'weight'"),
    "missing first and last":
        ("add_edge", (), {"to": BAD}, "missing 2 required positional arguments: 'from' and 'weight'"),
    "from_bytes missing": ("from_bytes", (), {}, "missing 1 required positional argument: 'bytes'"),
    "to_bytes": ("to_bytes", (1,), {}, "takes no arguments (1 given)"),
    "listing": ("deleted_edges", (), {"x": 1}, "takes no keyword arguments"),
}  # fmt: skip


@pytest.mark.parametrize("method, args, kwargs, tail", BINDING_ERRORS.values(), ids=BINDING_ERRORS)
def test_binding_error_messages(method, args, kwargs, tail):
    d = PyGraphDiff()
    with pytest.raises(TypeError) as info:
        (PyGraphDiff if method == "__new__" else getattr(d, method))(*args, **kwargs)
    assert type(info.value) is TypeError
    assert str(info.value) == f"PyGraphDiff.{method}() {tail}"


def test_unprintable_keyword_name_is_written_as_a_placeholder(monkeypatch):
    reported = []
    monkeypatch.setattr("sys.unraisablehook", lambda u: reported.append((u.exc_type, u.object)))
    name = type("Name", (str,), {"__str__": lambda self: 1 / 0})("zz")
    with pytest.raises(TypeError) as info:
        PyGraphDiff().add_node(A, {}, **{name: 1})
    assert str(info.value) == (
        "PyGraphDiff.add_node() got an unexpected keyword argument '<unprintable Name object>'"
    )
    assert reported == [(ZeroDivisionError, name)]
