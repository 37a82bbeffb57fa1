"""Failures of the native code itself, driven through the test-only module
_tavro_panic, which runs its bodies inside tavro_api's call boundary."""

import os
import signal
import subprocess
import sys

import pytest

if os.environ.get("TAVRO_PANIC_MODULE_DIR"):
    import _tavro_panic as P  # the test run built it: its absence is an error
else:
    P = pytest.importorskip("_tavro_panic", reason="built with TAVRO_BUILD_PANIC_MODULE")


def panic_of(call, *args):
    """The panic `call` raises, which must not be an Exception."""
    with pytest.raises(BaseException) as info:
        call(*args)
    assert not isinstance(info.value, Exception), info.value
    assert P.raw_entry_depth() == 0
    return info.value


def throw(error):
    raise error


PanicException = type(panic_of(P.fail, "panic", b"x"))
UNPRINTABLE = type("Unprintable", (), {"__str__": lambda self: 1 / 0})()
PANICS = {  # (call, its arguments, the PanicException's message)
    "body panic": (P.fail, ("panic", "päníc ☃\nline two".encode()), "päníc ☃\nline two"),
    "empty message": (P.fail, ("panic", b""), ""),
    "exception escaping a body": (P.fail, ("throw", b"bad thing"), "bad thing"),
    "failed object creation": (P.fail, ("create", b"simulated"), "Python API call failed"),
    "fetched nested panic": (P.call_and_fetch, (lambda: P.fail("panic", b"inner"),), "inner"),
    "fetched from Python": (P.call_and_fetch, (lambda: throw(PanicException("py")),), "py"),
    "fetched without text": (P.call_and_fetch, (lambda: throw(PanicException(UNPRINTABLE)),),
                             "Unwrapped panic from Python code"),
}  # fmt: skip


@pytest.mark.parametrize("call, args, message", PANICS.values(), ids=PANICS)
def test_a_failing_body_raises_panic_exception(call, args, message):
    error = panic_of(call, *args)
    assert type(error) is PanicException and error.args == (message,)
    assert (PanicException.__module__, PanicException.__qualname__, PanicException.__bases__) == (
        "pyo3_runtime", "PanicException", (BaseException,))  # fmt: skip


def run_python(code):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    command = [sys.executable, "-c", code]
    return subprocess.run(command, env=env, capture_output=True, text=True, errors="replace")


@pytest.mark.parametrize("kind", ["panic", "error"])
def test_panics_are_reported_on_stderr_and_one_that_cannot_be_raised_aborts(kind):
    result = run_python(
        "import _tavro_panic as P\n"
        "def inner():\n    P.fail('panic', b'deep trouble')\n"
        "for f, a in [(P.fail, ('panic', b'reported')), (P.fail, ('create', b'shortage')),"
        " (P.call_and_fetch, (inner,))]:\n"
        "    try:\n        f(*a)\n    except BaseException:\n        pass\n"
        f"P.fail({kind!r}, b'\\xff')\nprint('on')"
    )
    assert result.returncode == -signal.SIGABRT and "on" not in result.stdout
    err = result.stderr
    assert "reported" in err and err.index("MemoryError: shortage") < err.rindex("API call failed")
    notice = "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---"
    assert err.index(notice) < err.index("Python stack trace below:") < err.rindex("in inner")
    assert "uncaught panic at ffi boundary" in err


def test_fetching_errors_back():
    assert P.call_and_fetch(lambda: 42) == 42 and P.call_and_fetch(P.raw_entry_depth) == 1
    error = ValueError("ordinary")
    with pytest.raises(ValueError) as info:
        P.call_and_fetch(lambda: throw(error))
    assert info.value is error
    with pytest.raises(SystemError, match="^attempted to fetch exception but none was set$"):
        P.call_and_fetch(None)
    derived = type("Derived", (PanicException,), {})("derived")
    assert panic_of(P.call_and_fetch, lambda: throw(derived)) is derived


@pytest.mark.parametrize(
    "kind, reported",
    [("panic", "PanicException"), ("throw", "PanicException"), ("error", "TypeError"), ("none", None)],
)  # fmt: skip
def test_a_failure_where_nothing_can_be_raised_is_reported_as_unraisable(
    monkeypatch, kind, reported
):
    seen = []
    monkeypatch.setattr(sys, "unraisablehook", seen.append)
    assert P.fail_unraisable(kind, b"in destructor") is None
    expected = [(reported, "in destructor", None)] if reported else []
    assert [(u.exc_type.__name__, str(u.exc_value), u.object) for u in seen] == expected
    assert P.raw_entry_depth() == 0
