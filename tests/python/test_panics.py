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
from diff_model import Unprintable

if os.environ.get("TAVRO_PANIC_MODULE_DIR"):
    import _tavro_panic  # the test run built it: its absence is an error
else:
    _tavro_panic = pytest.importorskip(
        "_tavro_panic", reason="the test-only panic module is built with TAVRO_BUILD_PANIC_MODULE"
    )

P = _tavro_panic
RESUME_NOTICE = "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---"


def catch_panic(call, *args):
    """The panic `call` raises; fails if it is an Exception or nothing is raised."""
    try:
        call(*args)
    except Exception as error:  # noqa: BLE001 - must not catch a panic
        pytest.fail(f"a panic was caught as an Exception: {error!r}")
    except BaseException as error:
        return error
    pytest.fail("no exception was raised")


def run_python(code):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    command = [sys.executable, "-c", textwrap.dedent(code)]
    return subprocess.run(
        command, env=env, capture_output=True, text=True, errors="replace", timeout=120
    )


def test_panic_exception_class_properties():
    error = catch_panic(P.panic_with, "boom")
    cls = type(error)
    assert (cls.__module__, cls.__name__, cls.__qualname__, cls.__bases__) == (
        "pyo3_runtime", "PanicException", "PanicException", (BaseException,)
    )  # fmt: skip
    assert cls.__doc__.startswith("\n")
    assert "\n\n" in cls.__doc__.strip("\n")  # two paragraphs
    assert error.args == ("boom",) and str(error) == "boom"
    # Made once per process, and not reachable through tavro_api.
    assert type(catch_panic(P.throw_runtime_error, "two")) is cls
    assert P.panic_exception_type() is cls
    for name in dir(tavro_api):
        value = getattr(tavro_api, name)
        assert not (isinstance(value, type) and issubclass(value, BaseException)), name


PANICS = {
    "body panic": (lambda: P.panic_with("boom"), "boom"),
    "empty message": (lambda: P.panic_with(""), ""),
    "non-ASCII lines": (lambda: P.panic_with("päníc ☃ 𝄞\nline two"), "päníc ☃ 𝄞\nline two"),
    "exception escaping a body": (lambda: P.throw_runtime_error("bad thing"), "bad thing"),
    "failed object creation": (lambda: P.fail_creation("simulated"), "Python API call failed"),
    "constructor panic makes no object": (lambda: P.NewPanics(), "panic in constructor"),
}  # fmt: skip


@pytest.mark.parametrize("call, message", PANICS.values(), ids=PANICS)
def test_every_kind_of_entry_turns_a_failure_into_a_panic_exception(call, message):
    error = catch_panic(call)
    assert type(error) is P.panic_exception_type()
    assert error.args == (message,)
    assert P.raw_entry_depth() == 0


@pytest.mark.parametrize(
    "call",
    ['_tavro_panic.panic_with_bytes(b"\\xff\\xfe not text")',
     '_tavro_panic.error_with_bytes(b"\\xff bad message")'],
    ids=["while raising a panic", "while raising an error"],
)  # fmt: skip
def test_a_failure_to_raise_aborts_the_process(call):
    # A message that is not UTF-8 cannot be made into the exception; the
    # failure to raise it is itself a panic outside any body.
    result = run_python(f"import _tavro_panic\n{call}\nprint('survived')\n")
    assert result.returncode == -signal.SIGABRT
    assert "uncaught panic at ffi boundary" in result.stderr
    assert "survived" not in result.stdout


# ---------------------------------------------------------------- fetching errors back


def test_fetch_returns_values_and_ordinary_exceptions_unchanged():
    assert P.call_and_fetch(lambda: 42) == 42
    error = ValueError("ordinary")
    error.__cause__ = root = KeyError("root")

    def fails():
        raise error

    with pytest.raises(ValueError) as info:
        P.call_and_fetch(fails)
    assert info.value is error and info.value.__cause__ is root
    assert P.raw_entry_depth() == 0
    with pytest.raises(SystemError) as info:
        P.fetch_with_nothing_set()
    assert type(info.value) is SystemError
    assert str(info.value) == "attempted to fetch exception but none was set"
    assert P.raw_entry_depth() == 0


def raising(make):
    def raise_it():
        raise make(P.panic_exception_type())

    return raise_it


FETCHED_PANICS = {
    "from a nested panic": (lambda: P.panic_with("inner message"), "inner message"),
    "raised from Python": (raising(lambda t: t("made in Python")), "made in Python"),
    "without text": (raising(lambda t: t(Unprintable())), "Unwrapped panic from Python code"),
}


@pytest.mark.parametrize("raise_it, message", FETCHED_PANICS.values(), ids=FETCHED_PANICS)
def test_a_fetched_panic_resumes_as_a_new_panic_exception(raise_it, message):
    seen = []

    def inner():
        try:
            raise_it()
        except BaseException as error:
            seen.append(error)
            raise

    error = catch_panic(P.call_and_fetch, inner)
    assert type(error) is P.panic_exception_type()
    assert error.args == (message,)
    assert len(seen) == 1 and error is not seen[0]
    assert P.raw_entry_depth() == 0


def test_a_fetched_subclass_of_panic_exception_is_an_ordinary_error():
    raised = type("Derived", (P.panic_exception_type(),), {})("derived")
    assert catch_panic(P.call_and_fetch, raising(lambda t: raised)) is raised


def test_panics_failed_creation_and_resumed_panics_are_reported_on_stderr():
    result = run_python(
        """
        import _tavro_panic as P

        def inner():
            P.panic_with("deep trouble")

        for call, arg in [(P.panic_with, "reported text"),
                          (P.fail_creation, "simulated shortage"), (P.call_and_fetch, inner)]:
            try:
                call(arg)
            except BaseException as e:
                print(type(e).__module__, type(e).__name__, e.args)
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        "pyo3_runtime PanicException ('reported text',)",
        "pyo3_runtime PanicException ('Python API call failed',)",
        "pyo3_runtime PanicException ('deep trouble',)",
    ]
    err = result.stderr
    assert "reported text" in err
    # The exception pending when creation failed is printed before the panic.
    assert err.index("MemoryError: simulated shortage") < err.rindex("Python API call failed")
    # A fetched panic writes a notice, then the fetched exception with its trace.
    assert err.index(RESUME_NOTICE) < err.index("Python stack trace below:")
    after = err[err.index("Python stack trace below:") :]
    assert "in inner" in after
    assert "pyo3_runtime.PanicException: deep trouble" in after


# ---------------------------------------------------------------- destructors


@pytest.mark.parametrize(
    "kind, reported",
    [("panic", [("PanicException", "panic in destructor")]),
     ("throw", [("PanicException", "exception in destructor")]),
     ("error", [("RuntimeError", "error in destructor")]),
     ("none", [])],
)  # fmt: skip
def test_a_destructor_failure_is_reported_as_unraisable(monkeypatch, kind, reported):
    seen = []
    monkeypatch.setattr(sys, "unraisablehook", seen.append)
    obj = P.DropFails(kind)
    del obj  # must not raise
    assert [(u.exc_type.__name__, str(u.exc_value)) for u in seen] == reported
    assert all(u.object is None for u in seen)
    assert P.raw_entry_depth() == 0


# ---------------------------------------------------------------- entry depth


def test_entry_depth_counts_nested_entries_and_is_zero_outside():
    assert P.raw_entry_depth() == 0
    assert P.entry_depth() == 1
    assert P.call_and_fetch(P.entry_depth) == 2
    assert P.call_and_fetch(P.raw_entry_depth) == 1
    assert P.call_and_fetch(lambda: P.call_and_fetch(P.entry_depth)) == 3
    assert P.raw_entry_depth() == 0


def test_the_panic_module_is_not_installed_with_tavro_api():
    installed_dir = os.path.dirname(tavro_api.__file__)
    if "site-packages" not in installed_dir:
        pytest.skip("tavro_api is a development build, not an installed one")
    assert not [name for name in os.listdir(installed_dir) if name.startswith("_tavro_panic")]
    assert os.path.dirname(P.__file__) != installed_dir
