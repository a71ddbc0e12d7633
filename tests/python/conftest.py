import os
import struct

import pytest

import corvanis

if os.environ.get("CORVANIS_SANITIZED"):
    # The sanitizer run must test the instrumented build, not an installed one.
    assert "sanitizers" in corvanis.__file__, corvanis.__file__


def _bits(value):
    if isinstance(value, list):
        return [_bits(v) for v in value]
    return struct.pack("<d", value)


@pytest.fixture
def assert_same():
    """Bit-for-bit equality of results (NaN included)."""

    def check(actual, expected):
        assert type(actual) is type(expected)
        assert _bits(actual) == _bits(expected)

    return check


@pytest.fixture
def outcome():
    """What a call gives, in a comparable form: its result bits or its exception."""

    def call(function, *args, **kwargs):
        try:
            return "result", _bits(function(*args, **kwargs))
        except Exception as exc:  # noqa: BLE001
            return type(exc), exc.args

    return call


@pytest.fixture(scope="session")
def panic_exception():
    """The PanicException type, taken from a panic raised on purpose."""
    try:
        corvanis.discrete_flux_map_heyrovsky_magnification([1.0], 1.0, 0.1, [0.5], [])
    except BaseException as exc:  # noqa: B036 - PanicException is not an Exception
        return type(exc)
    pytest.fail("unequal flux-map lengths did not panic")
