"""The module and the class as the interpreter sees them, and the method table.
(The exact messages of argument binding are rows of the shared case list.)"""

import gc
import subprocess
import sys
import weakref
from importlib.util import find_spec

import pytest
import tavro_api
from tavro_api import PyGraphDiff

A = bytes(range(16))

# The methods in table order. Their signatures are checked against the stubs
# by stubtest.
METHODS = ["new_or_updated_nodes", "deleted_nodes", "new_or_updated_edges", "deleted_edges",
           "num_nodes", "num_edges", "add_node", "delete_node", "add_edge", "delete_edge", "clear",
           "to_bytes", "from_bytes"]  # fmt: skip


def test_module_and_class_shape():
    assert tavro_api.__all__ == ["PyGraphDiff"] and tavro_api.__doc__ == ""
    assert [name for name in dir(tavro_api) if not name.startswith("_")] == ["PyGraphDiff"]
    cls = PyGraphDiff
    assert (cls.__module__, cls.__name__, cls.__qualname__, cls.__text_signature__,
            cls.__doc__, cls.__bases__) == ("builtins", "PyGraphDiff", "PyGraphDiff", "()", "",
                                            (object,))  # fmt: skip
    assert [n for n in vars(cls) if not n.startswith("__")] == METHODS
    assert {n for n in vars(cls) if n.startswith("__")} <= {"__new__", "__doc__", "__module__"}
    assert all(getattr(cls, name).__doc__ in (None, "") for name in METHODS)
    with pytest.raises(TypeError):
        type("Sub", (PyGraphDiff,), {})
    d, e = PyGraphDiff(), PyGraphDiff()
    with pytest.raises(AttributeError):
        d.anything = 1
    with pytest.raises(TypeError):
        weakref.ref(d)
    assert not gc.is_tracked(d) and d != e and d == d and hash(d) == object.__hash__(d)


SUBINTERPRETERS = next((m for m in ("_xxsubinterpreters", "_interpreters") if find_spec(m)), None)


@pytest.mark.skipif(SUBINTERPRETERS is None, reason="no subinterpreters on this interpreter")
def test_reimport_gives_the_same_objects_and_only_the_main_interpreter_imports(tmp_path):
    saved = sys.modules.pop("tavro_api")
    try:
        import tavro_api as again

        assert again is saved and again.PyGraphDiff is PyGraphDiff
    finally:
        sys.modules["tavro_api"] = saved
    out = tmp_path / "refusals.txt"
    inner = f"try:\n    import tavro_api\nexcept ImportError as e:\n    open({str(out)!r}, 'a').write(f'{{e}}\\n')"
    # An isolated subinterpreter imports first (and is refused), then the main
    # interpreter, then a legacy subinterpreter.
    script = (f"import _testcapi, {SUBINTERPRETERS} as subs\nsubs.run_string(subs.create(), {inner!r})\n"
              f"import tavro_api\n_testcapi.run_in_subinterp({inner!r})\n"
              "print(type(tavro_api.PyGraphDiff()).__name__)")  # fmt: skip
    result = subprocess.run(
        [sys.executable, "-c", script], capture_output=True, text=True, timeout=60
    )
    assert (result.returncode, result.stdout.strip()) == (0, "PyGraphDiff"), result.stderr
    refusals = out.read_text().splitlines()
    assert len(refusals) == 2
    assert refusals[1].startswith("PyO3 modules do not yet support subinterpreters, see ")


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
