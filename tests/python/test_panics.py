import re

import pytest

import corvanis as cv

FLUX_MAP_FUNCTIONS = [
    cv.integrated_flux_map_witt_mao_magnification,
    cv.integrated_flux_map_heyrovsky_magnification,
    cv.discrete_flux_map_heyrovsky_magnification,
]
MISMATCH = "assertion `left == right` failed\n  left: 3\n right: 4"


def _mismatch(function):
    return function([0.5, 1.0], 1.0, 0.1, [0.0, 0.5, 1.0], [1.0, 0.9, 0.8, 0.7])


@pytest.mark.parametrize("function", FLUX_MAP_FUNCTIONS, ids=lambda f: f.__name__)
def test_unequal_flux_map_lengths_panic(function, panic_exception, capfd):
    try:
        _mismatch(function)
    except Exception:  # noqa: BLE001
        pytest.fail("PanicException was caught as an Exception")
    except BaseException as exc:  # noqa: B036
        assert type(exc) is panic_exception
        assert str(exc) == MISMATCH and exc.args == (MISMATCH,)

    report = capfd.readouterr().err
    assert MISMATCH in report and "CORVANIS_BACKTRACE" in report
    assert re.search(r"panic in thread \w+ at [^\n]+\.(cpp|hpp):\d+:\d+", report)
    # still usable afterwards
    assert len(function([0.5, 1.0], 1.0, 0.1, [0.0, 1.0], [1.0, 0.5])) == 2


def test_panic_exception_type(panic_exception):
    assert (panic_exception.__module__, panic_exception.__qualname__) == (
        "pyo3_runtime", "PanicException")
    assert panic_exception.__bases__ == (BaseException,)
    first, second = panic_exception.__doc__.split("\n\n")
    assert first.startswith("\n") and first.count("\n") == 1
    assert second == ("Like SystemExit, this exception is derived from BaseException so that\n"
                      "it will typically propagate all the way through the stack and cause the\n"
                      "Python interpreter to exit.\n")
    assert panic_exception not in vars(cv).values()


class _Panicking:
    """A sequence whose iteration, or a float whose conversion, raises `exc`."""

    def __init__(self, exc):
        self.exc = exc

    def __iter__(self):
        raise self.exc

    __float__ = __iter__

    def __len__(self):
        return 2

    def __getitem__(self, i):
        raise self.exc


class _BadStr:
    def __str__(self):
        raise ValueError("no text")


@pytest.mark.parametrize("where", ["iter", "float", "item"])
@pytest.mark.parametrize("payload, message", [
    ("from python", "from python"), (_BadStr(), "Unwrapped panic from Python code")])
def test_panic_exception_from_python_resumes(panic_exception, capfd, where, payload, message):
    raised = panic_exception(payload)
    args = {"iter": (_Panicking(raised), 1.0, 0.1),
            "float": ([1.0], _Panicking(raised), 0.1),
            "item": ([1.0, _Panicking(raised)], 1.0, 0.1)}[where]
    with pytest.raises(panic_exception) as info:
        cv.witt_mao_magnification(*args)
    assert info.value is not raised and info.value.args == (message,)

    err = capfd.readouterr().err
    assert ("--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
            "Python stack trace below:\n") in err
    assert "Traceback" in err and "panic in thread" not in err


def test_numeric_error_is_runtime_error():
    with pytest.raises(RuntimeError) as info:
        cv.witt_mao_magnification([1 + 1.5e-9], 1.0, 1e4)
    assert type(info.value) is RuntimeError
    assert info.value.args == ("ellippi: n must be less than 1.",)
