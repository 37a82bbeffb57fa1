"""Failures of the native code itself, driven through the test-only module
_tavro_panic, which runs its bodies inside the same call boundary as
tavro_api: PanicException and its properties, panics in bodies, constructors
and destructors, failed object creation, exceptions fetched back from
Python, and the per-thread entry depth."""

import os
import signal
import subprocess
import sys
import textwrap

import pytest

import tavro_api

if os.environ.get("TAVRO_PANIC_MODULE_DIR"):
    import _tavro_panic  # the test run built it: its absence is an error
else:
    _tavro_panic = pytest.importorskip(
        "_tavro_panic", reason="the test-only panic module is built with TAVRO_BUILD_PANIC_MODULE"
    )

RESUME_NOTICE = "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---"


def catch_panic(call, *args):
    try:
        call(*args)
    except Exception as error:  # noqa: BLE001 - must not catch a panic
        pytest.fail(f"a panic was caught as an Exception: {error!r}")
    except BaseException as error:
        return error
    pytest.fail("no exception was raised")


def run_python(code):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        env=env,
        capture_output=True,
        text=True,
        errors="replace",
        timeout=120,
    )


@pytest.fixture
def unraisable(monkeypatch):
    reported = []
    monkeypatch.setattr(
        sys, "unraisablehook", lambda u: reported.append((u.exc_type, u.exc_value, u.object))
    )
    return reported


# ---------------------------------------------------------------- the class


def test_panic_exception_class_properties():
    error = catch_panic(_tavro_panic.panic_with, "boom")
    cls = type(error)
    assert cls.__module__ == "pyo3_runtime"
    assert cls.__name__ == "PanicException"
    assert cls.__qualname__ == "PanicException"
    assert cls.__bases__ == (BaseException,)
    assert not issubclass(cls, Exception)
    assert cls.__doc__.startswith("\n")
    assert "\n\n" in cls.__doc__.strip("\n")  # two paragraphs
    assert error.args == ("boom",)
    assert str(error) == "boom"


def test_panic_exception_class_is_made_once():
    first = catch_panic(_tavro_panic.panic_with, "one")
    second = catch_panic(_tavro_panic.throw_runtime_error, "two")
    assert type(first) is type(second)
    assert _tavro_panic.panic_exception_type() is type(first)


def test_panic_exception_is_not_reachable_through_tavro_api():
    assert not hasattr(tavro_api, "PanicException")
    for name in dir(tavro_api):
        value = getattr(tavro_api, name)
        assert not (isinstance(value, type) and issubclass(value, BaseException)), name


def test_except_exception_does_not_stop_a_panic():
    with pytest.raises(BaseException) as info:
        try:
            _tavro_panic.panic_with("through")
        except Exception:
            pytest.fail("caught by except Exception")
    assert str(info.value) == "through"


# ---------------------------------------------------------------- panics in bodies


@pytest.mark.parametrize("message", ["boom", "", "päníc ☃ 𝄞", "line one\nline two", "x" * 5000])
def test_body_panic_becomes_panic_exception_with_its_message(message):
    error = catch_panic(_tavro_panic.panic_with, message)
    assert type(error).__name__ == "PanicException"
    assert error.args == (message,)


def test_cxx_exception_escaping_a_body_is_a_panic_with_its_text():
    error = catch_panic(_tavro_panic.throw_runtime_error, "bad thing")
    assert type(error) is _tavro_panic.panic_exception_type()
    assert error.args == ("bad thing",)


def test_failed_object_creation_is_a_panic():
    error = catch_panic(_tavro_panic.fail_creation, "simulated")
    assert type(error) is _tavro_panic.panic_exception_type()
    assert error.args == ("Python API call failed",)


def test_failed_object_creation_prints_the_pending_exception_first():
    result = run_python(
        """
        import _tavro_panic
        try:
            _tavro_panic.fail_creation("simulated shortage")
        except BaseException as e:
            print(type(e).__module__, type(e).__name__, e.args)
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "pyo3_runtime PanicException ('Python API call failed',)"
    assert "MemoryError: simulated shortage" in result.stderr
    assert result.stderr.index("MemoryError") < result.stderr.rindex("Python API call failed")


def test_panic_report_goes_to_stderr():
    result = run_python(
        """
        import _tavro_panic
        try:
            _tavro_panic.panic_with("reported text")
        except BaseException:
            pass
        """
    )
    assert result.returncode == 0, result.stderr
    assert "reported text" in result.stderr
    assert result.stdout == ""


def test_panic_while_raising_a_panic_aborts_the_process():
    # A panic message that is not UTF-8 cannot be made into the exception.
    result = run_python(
        """
        import _tavro_panic
        _tavro_panic.panic_with_bytes(b"\\xff\\xfe not text")
        print("survived")
        """
    )
    assert result.returncode == -signal.SIGABRT
    assert "uncaught panic at ffi boundary" in result.stderr
    assert "survived" not in result.stdout


def test_panic_while_raising_an_error_aborts_the_process():
    # The body's error cannot be raised (its message is not UTF-8), and the
    # failure to raise it is itself a panic outside the body.
    result = run_python(
        """
        import _tavro_panic
        _tavro_panic.error_with_bytes(b"\\xff bad message")
        print("survived")
        """
    )
    assert result.returncode == -signal.SIGABRT
    assert "uncaught panic at ffi boundary" in result.stderr


# ---------------------------------------------------------------- fetching errors back


def test_fetch_returns_an_ordinary_exception_unchanged():
    root = KeyError("root")
    error = ValueError("ordinary")
    error.__cause__ = root

    def fails():
        raise error

    with pytest.raises(ValueError) as info:
        _tavro_panic.call_and_fetch(fails)
    assert info.value is error
    assert info.value.__cause__ is root


def test_fetch_passes_a_value_through():
    assert _tavro_panic.call_and_fetch(lambda: 42) == 42


def test_fetch_with_nothing_pending_is_system_error():
    with pytest.raises(SystemError) as info:
        _tavro_panic.fetch_with_nothing_set()
    assert type(info.value) is SystemError
    assert str(info.value) == "attempted to fetch exception but none was set"


def test_fetched_panic_resumes_as_a_new_panic_exception():
    seen = []

    def inner():
        try:
            _tavro_panic.panic_with("inner message")
        except BaseException as error:
            seen.append(error)
            raise

    error = catch_panic(_tavro_panic.call_and_fetch, inner)
    assert type(error) is _tavro_panic.panic_exception_type()
    assert error.args == ("inner message",)
    assert len(seen) == 1 and error is not seen[0]


def test_fetched_panic_raised_from_python_code_resumes():
    panic_type = _tavro_panic.panic_exception_type()

    def raise_it():
        raise panic_type("made in Python")

    error = catch_panic(_tavro_panic.call_and_fetch, raise_it)
    assert type(error) is panic_type and error.args == ("made in Python",)


class Unprintable:
    def __str__(self):
        raise RuntimeError("no text")


def test_fetched_panic_without_text_uses_the_fallback_message():
    panic_type = _tavro_panic.panic_exception_type()

    def raise_it():
        raise panic_type(Unprintable())

    error = catch_panic(_tavro_panic.call_and_fetch, raise_it)
    assert type(error) is panic_type
    assert error.args == ("Unwrapped panic from Python code",)


def test_fetched_subclass_of_panic_exception_is_an_ordinary_error():
    panic_type = _tavro_panic.panic_exception_type()

    class Derived(panic_type):
        pass

    raised = Derived("derived")

    def raise_it():
        raise raised

    error = catch_panic(_tavro_panic.call_and_fetch, raise_it)
    assert error is raised


def test_fetched_panic_writes_the_notice_and_the_python_trace():
    result = run_python(
        """
        import _tavro_panic

        def inner():
            _tavro_panic.panic_with("deep trouble")

        try:
            _tavro_panic.call_and_fetch(inner)
        except BaseException as e:
            print(type(e).__name__, e.args)
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "PanicException ('deep trouble',)"
    err = result.stderr
    assert RESUME_NOTICE in err
    assert "Python stack trace below:" in err
    assert err.index(RESUME_NOTICE) < err.index("Python stack trace below:")
    # The fetched exception is printed with its traceback after the notice.
    after = err[err.index("Python stack trace below:") :]
    assert "in inner" in after
    assert "pyo3_runtime.PanicException: deep trouble" in after


# ---------------------------------------------------------------- constructors and destructors


def test_constructor_panic_makes_no_object():
    error = catch_panic(_tavro_panic.NewPanics)
    assert type(error) is _tavro_panic.panic_exception_type()
    assert error.args == ("panic in constructor",)


@pytest.mark.parametrize(
    "kind, exc_name, message",
    [
        ("panic", "PanicException", "panic in destructor"),
        ("throw", "PanicException", "exception in destructor"),
        ("error", "RuntimeError", "error in destructor"),
    ],
)
def test_destructor_failure_is_reported_as_unraisable(unraisable, kind, exc_name, message):
    obj = _tavro_panic.DropFails(kind)
    del obj  # must not raise
    assert len(unraisable) == 1
    exc_type, exc_value, context = unraisable[0]
    assert exc_type.__name__ == exc_name
    assert str(exc_value) == message
    assert context is None
    assert _tavro_panic.raw_entry_depth() == 0


def test_destructor_without_failure_reports_nothing(unraisable):
    obj = _tavro_panic.DropFails("none")
    del obj
    assert unraisable == []


def test_destructor_panic_writes_to_stderr_and_the_program_goes_on():
    result = run_python(
        """
        import _tavro_panic
        x = _tavro_panic.DropFails("panic")
        del x
        print("still running")
        """
    )
    assert result.returncode == 0
    assert result.stdout.strip() == "still running"
    assert "PanicException" in result.stderr
    assert "panic in destructor" in result.stderr


# ---------------------------------------------------------------- entry depth


def test_entry_depth_is_one_inside_an_entry_and_zero_outside():
    assert _tavro_panic.raw_entry_depth() == 0
    assert _tavro_panic.entry_depth() == 1
    assert _tavro_panic.raw_entry_depth() == 0


def test_entry_depth_counts_nested_entries():
    assert _tavro_panic.call_and_fetch(_tavro_panic.entry_depth) == 2
    assert _tavro_panic.call_and_fetch(_tavro_panic.raw_entry_depth) == 1
    nested = _tavro_panic.call_and_fetch(
        lambda: _tavro_panic.call_and_fetch(_tavro_panic.entry_depth)
    )
    assert nested == 3


@pytest.mark.parametrize(
    "call",
    [
        lambda: _tavro_panic.panic_with("p"),
        lambda: _tavro_panic.throw_runtime_error("t"),
        lambda: _tavro_panic.fail_creation("f"),
        lambda: _tavro_panic.fetch_with_nothing_set(),
        lambda: _tavro_panic.call_and_fetch(lambda: _tavro_panic.panic_with("resumed")),
        lambda: _tavro_panic.call_and_fetch(lambda: 1 / 0),
        lambda: _tavro_panic.NewPanics(),
        lambda: _tavro_panic.DropFails("unknown kind"),
        lambda: _tavro_panic.panic_with(5),
    ],
)
def test_entry_depth_is_back_to_zero_after_every_failure(call):
    with pytest.raises(BaseException):
        call()
    assert _tavro_panic.raw_entry_depth() == 0
    assert _tavro_panic.entry_depth() == 1


def test_the_panic_module_is_not_installed_with_tavro_api():
    installed_dir = os.path.dirname(tavro_api.__file__)
    if "site-packages" not in installed_dir:
        pytest.skip("tavro_api is a development build, not an installed one")
    assert not [name for name in os.listdir(installed_dir) if name.startswith("_tavro_panic")]
    assert os.path.dirname(_tavro_panic.__file__) != installed_dir
