"""The module object and the class as the interpreter sees them."""

import gc
import subprocess
import sys
import weakref

import pytest
import tavro_api
from tavro_api import PyGraphDiff


class TestModule:
    def test_exports_only_the_class(self):
        assert tavro_api.__all__ == ["PyGraphDiff"] and tavro_api.__doc__ == ""
        assert [name for name in dir(tavro_api) if not name.startswith("_")] == ["PyGraphDiff"]

    def test_reimport_returns_the_same_module_and_class(self):
        saved = sys.modules.pop("tavro_api")
        try:
            import tavro_api as again

            assert again is saved and again.PyGraphDiff is PyGraphDiff
        finally:
            sys.modules["tavro_api"] = saved

    def test_second_interpreter_is_refused(self, tmp_path):
        out = tmp_path / "message.txt"
        inner = "try:\n    import tavro_api\nexcept ImportError as e:\n    "
        inner += f"open({str(out)!r}, 'w').write(str(e))"
        script = (
            f"import _testcapi, tavro_api\n_testcapi.run_in_subinterp({inner!r})\n"
            "print(tavro_api.PyGraphDiff().__class__.__name__)"
        )
        command = [sys.executable, "-c", script]
        result = subprocess.run(command, capture_output=True, text=True, timeout=60)
        assert result.returncode == 0, result.stderr
        assert result.stdout.strip() == "PyGraphDiff"
        message = "PyO3 modules do not yet support subinterpreters, see "
        assert out.read_text().startswith(message)


class TestClassShape:
    def test_names_and_signature(self):
        cls = PyGraphDiff
        assert (cls.__module__, cls.__name__, cls.__qualname__) == (
            "builtins", "PyGraphDiff", "PyGraphDiff"
        )  # fmt: skip
        assert (cls.__text_signature__, cls.__doc__, cls.__bases__) == ("()", "", (object,))
        assert repr(PyGraphDiff) == "<class 'builtins.PyGraphDiff'>"

    def test_cannot_be_subclassed(self):
        with pytest.raises(TypeError):

            class Sub(PyGraphDiff):  # noqa: F841
                pass

    def test_instances_have_no_dict_weakref_or_gc_tracking(self):
        d = PyGraphDiff()
        with pytest.raises(AttributeError):
            d.anything = 1
        with pytest.raises(TypeError):
            weakref.ref(d)
        assert not gc.is_tracked(d)

    def test_instances_compare_and_hash_by_identity(self):
        a, b = PyGraphDiff(), PyGraphDiff()
        assert a != b and a == a and hash(a) == object.__hash__(a)


def test_dropping_the_last_reference_frees_silently(capfd):
    for _ in range(1000):
        PyGraphDiff()
    d = PyGraphDiff()
    del d
    gc.collect()
    assert capfd.readouterr() == ("", "")
