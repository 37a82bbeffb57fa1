"""Failures of the native code itself, driven through the test-only module
_tavro_panic, which runs its bodies inside tavro_api's call boundary:
PanicException, panics and exceptions in bodies and destructors, failed
object creation, exceptions fetched back from Python, and the entry depth."""

import os
import signal
import subprocess
import sys

import pytest
from diff_model import Unprintable

if os.environ.get("TAVRO_PANIC_MODULE_DIR"):
    import _tavro_panic as P  # the test run built it: its absence is an error
else:
    P = pytest.importorskip("_tavro_panic", reason="built with TAVRO_BUILD_PANIC_MODULE")


def panic_of(call, *args):
    """The panic `call` raises; fails if it is an Exception or nothing is raised."""
    try:
        call(*args)
    except Exception as error:  # noqa: BLE001 - a panic must not be one
        pytest.fail(f"a panic was caught as an Exception: {error!r}")
    except BaseException as error:
        assert P.raw_entry_depth() == 0
        return error
    pytest.fail("no exception was raised")


PanicException = type(panic_of(P.fail, "panic", b"x"))
PANICS = {
    "body panic": ("panic", "päníc ☃\nline two", "päníc ☃\nline two"),
    "empty message": ("panic", "", ""),
    "exception escaping a body": ("throw", "bad thing", "bad thing"),
    "failed object creation": ("create", "simulated", "Python API call failed"),
}


@pytest.mark.parametrize("kind, message, seen", PANICS.values(), ids=PANICS)
def test_a_failing_body_raises_panic_exception(kind, message, seen):
    error = panic_of(P.fail, kind, message.encode())
    assert type(error) is PanicException and error.args == (seen,)
    assert (PanicException.__module__, PanicException.__qualname__, PanicException.__bases__) == (
        "pyo3_runtime", "PanicException", (BaseException,))  # fmt: skip


def run_python(code):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    return subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True,
                          errors="replace", timeout=120)  # fmt: skip


@pytest.mark.parametrize("kind", ["panic", "error"])
def test_a_message_that_cannot_be_raised_aborts_the_process(kind):
    result = run_python(
        f"import _tavro_panic\n_tavro_panic.fail({kind!r}, b'\\xff no text')\nprint('survived')"
    )
    assert result.returncode == -signal.SIGABRT and "survived" not in result.stdout
    assert "uncaught panic at ffi boundary" in result.stderr


def test_panics_are_reported_on_stderr():
    result = run_python(
        "import _tavro_panic as P\n"
        "def inner():\n    P.fail('panic', b'deep trouble')\n"
        "for args in [('panic', b'reported text'), ('create', b'simulated shortage')]:\n"
        "    try:\n        P.fail(*args)\n    except BaseException:\n        pass\n"
        "try:\n    P.call_and_fetch(inner)\nexcept BaseException as e:\n    print(e.args)\n"
    )
    assert result.stdout == "('deep trouble',)\n", result.stderr
    err = result.stderr
    assert "reported text" in err
    assert err.index("MemoryError: simulated shortage") < err.rindex("Python API call failed")
    notice = "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---"
    assert err.index(notice) < err.index("Python stack trace below:") < err.rindex("in inner")


def test_fetching_errors_back():
    assert P.call_and_fetch(lambda: 42) == 42
    assert P.call_and_fetch(P.raw_entry_depth) == 1
    error = ValueError("ordinary")
    error.__cause__ = KeyError("root")
    with pytest.raises(ValueError) as info:
        P.call_and_fetch(lambda: (_ for _ in ()).throw(error))
    assert info.value is error
    with pytest.raises(SystemError, match="^attempted to fetch exception but none was set$"):
        P.fetch_with_nothing_set()
    derived = type("Derived", (PanicException,), {})("derived")
    assert panic_of(P.call_and_fetch, lambda: (_ for _ in ()).throw(derived)) is derived


@pytest.mark.parametrize(
    "raise_it, message",
    [(lambda: P.fail("panic", b"inner"), "inner"),
     (lambda: (_ for _ in ()).throw(PanicException("from Python")), "from Python"),
     (lambda: (_ for _ in ()).throw(PanicException(Unprintable())), "Unwrapped panic from Python code")],
    ids=["nested panic", "raised in Python", "without text"],
)  # fmt: skip
def test_a_fetched_panic_resumes_as_a_new_panic_exception(raise_it, message):
    error = panic_of(P.call_and_fetch, raise_it)
    assert type(error) is PanicException and error.args == (message,)


@pytest.mark.parametrize(
    "kind, reported",
    [("panic", [("PanicException", "in destructor: panic")]),
     ("throw", [("PanicException", "in destructor: throw")]),
     ("error", [("TypeError", "in destructor: error")]), ("none", [])],
)  # fmt: skip
def test_a_destructor_failure_is_reported_as_unraisable(monkeypatch, kind, reported):
    seen = []
    monkeypatch.setattr(sys, "unraisablehook", seen.append)
    obj = P.DropFails(kind)
    del obj  # must not raise
    assert [(u.exc_type.__name__, str(u.exc_value), u.object) for u in seen] == [
        (*r, None) for r in reported
    ]
    assert P.raw_entry_depth() == 0
