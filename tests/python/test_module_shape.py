"""The module object and the class as the interpreter sees them."""

import gc
import subprocess
import sys
import textwrap
import weakref

import pytest

import tavro_api
from tavro_api import PyGraphDiff


class TestModule:
    def test_exports_only_the_class(self):
        assert tavro_api.__all__ == ["PyGraphDiff"]
        assert tavro_api.__doc__ == ""
        public = [name for name in dir(tavro_api) if not name.startswith("_")]
        assert public == ["PyGraphDiff"]

    def test_reimport_returns_the_same_module_and_class(self):
        saved = sys.modules.pop("tavro_api")
        try:
            import tavro_api as again

            assert again is saved
            assert again.PyGraphDiff is PyGraphDiff
            assert again.__all__ == ["PyGraphDiff"]
        finally:
            sys.modules["tavro_api"] = saved

    def test_second_interpreter_is_refused(self, tmp_path):
        out = tmp_path / "message.txt"
        script = textwrap.dedent(
            f"""
            import _testcapi
            import tavro_api
            code = '''
            try:
                import tavro_api
            except ImportError as e:
                open({str(out)!r}, "w").write(str(e))
            '''
            _testcapi.run_in_subinterp(code)
            d = tavro_api.PyGraphDiff()
            print(d.__class__.__name__)
            """
        )
        result = subprocess.run(
            [sys.executable, "-c", script], capture_output=True, text=True, timeout=60
        )
        assert result.returncode == 0, result.stderr
        assert result.stdout.strip() == "PyGraphDiff"
        assert out.read_text().startswith(
            "PyO3 modules do not yet support subinterpreters, see "
        )


class TestClassShape:
    def test_names_and_signature(self):
        assert PyGraphDiff.__module__ == "builtins"
        assert PyGraphDiff.__name__ == "PyGraphDiff"
        assert PyGraphDiff.__qualname__ == "PyGraphDiff"
        assert PyGraphDiff.__text_signature__ == "()"
        assert PyGraphDiff.__doc__ == ""
        assert PyGraphDiff.__bases__ == (object,)
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
        assert a != b and a == a
        assert hash(a) == object.__hash__(a)


class TestConstructor:
    def test_takes_no_arguments(self):
        with pytest.raises(TypeError) as e:
            PyGraphDiff(None)
        assert str(e.value) == "PyGraphDiff.__new__() takes 0 positional arguments but 1 was given"
        with pytest.raises(TypeError) as e:
            PyGraphDiff(1, 2)
        assert str(e.value) == "PyGraphDiff.__new__() takes 0 positional arguments but 2 were given"
        with pytest.raises(TypeError) as e:
            PyGraphDiff(x=1)
        assert str(e.value) == "PyGraphDiff.__new__() got an unexpected keyword argument 'x'"

    def test_dropping_the_last_reference_frees_silently(self, capfd):
        for _ in range(1000):
            PyGraphDiff()
        d = PyGraphDiff()
        del d
        gc.collect()
        captured = capfd.readouterr()
        assert captured.err == "" and captured.out == ""
