import array
import ctypes
import gc
import os

import pytest

import corvanis as cv

try:
    import numpy as np
except ImportError:
    np = None

wm = cv.witt_mao_magnification
L = [0.5, 1.0, 2.0]


class HasFloat:
    def __float__(self):
        return 0.1


class HasIndex:
    def __index__(self):
        return 1


@pytest.mark.parametrize("value, expected", [
    (1, 1.0), (True, 1.0), (-1, -1.0), (-1.0, -1.0), (type("F", (float,), {})(0.1), 0.1),
    (HasFloat(), 0.1), (HasIndex(), 1.0)])
def test_float_conversion(value, expected, outcome):
    assert outcome(wm, L, 1.0, value) == outcome(wm, L, 1.0, expected)
    assert outcome(wm, [value], 1.0, 0.1) == outcome(wm, [expected], 1.0, 0.1)
    h = cv.heyrovsky_magnification
    assert outcome(h, value, 0.5, 1.0, 1.0) == outcome(h, expected, 0.5, 1.0, 1.0)


class Sized(list):
    """A list whose __len__ reports `length`, or raises if it is None."""

    def __init__(self, items, length):
        super().__init__(items)
        self.length = length

    def __len__(self):
        if self.length is None:
            raise RuntimeError("no length")
        return self.length


@pytest.mark.parametrize("sequence, expected", [
    ((0.5, 1.0, 2.0), L), (range(1, 4), [1.0, 2.0, 3.0]), (b"\x01\x02", [1.0, 2.0]),
    ([], []), (Sized(L, None), L), (Sized(L, 0), L), (Sized(L, 1000), L)])
def test_sequence_conversion(sequence, expected, assert_same):
    assert_same(wm(sequence, 1.0, 0.1), wm(expected, 1.0, 0.1))


@pytest.mark.skipif(bool(os.environ.get("CORVANIS_SANITIZED")),
                    reason="the sanitizer's allocator aborts on huge requests instead of failing")
@pytest.mark.skipif(bool(os.environ.get("CORVANIS_VALGRIND")),
                    reason="valgrind aborts where operator new would throw bad_alloc")
@pytest.mark.parametrize("length", [2**59, (2**63 - 1) // 8])
def test_length_hint_the_allocator_refuses_is_grown_past(length, assert_same):
    assert_same(wm(Sized(L, length), 1.0, 0.1), wm(L, 1.0, 0.1))


def test_length_above_largest_allocation_panics(panic_exception):
    with pytest.raises(panic_exception) as info:
        wm(Sized(L, 2**60), 1.0, 0.1)
    assert info.value.args == ("capacity overflow",)


class Outer:
    class Inner:
        pass


class QualnameStr(str):
    def __str__(self):
        return "not the name"


class QualnameMeta(type):
    def __getattribute__(cls, name):
        return QualnameStr("Named") if name == "__qualname__" else super().__getattribute__(name)


@pytest.mark.parametrize("args, message", [
    (("abc", 1.0, 0.1), "argument 'l': Can't extract `str` to `Vec`"),
    ((type("S", (str,), {})("1"), 1.0, 0.1), "argument 'l': Can't extract `str` to `Vec`"),
    ((0.5, 1.0, 0.1), "argument 'l': 'float' object cannot be converted to 'Sequence'"),
    (((x for x in L), 1.0, 0.1),
     "argument 'l': 'generator' object cannot be converted to 'Sequence'"),
    (({1.0}, 1.0, 0.1), "argument 'l': 'set' object cannot be converted to 'Sequence'"),
    ((Outer.Inner(), 1.0, 0.1),
     "argument 'l': 'Outer.Inner' object cannot be converted to 'Sequence'"),
    ((QualnameMeta("Plain", (), {})(), 1.0, 0.1),
     "argument 'l': 'Named' object cannot be converted to 'Sequence'"),
    (([1.0], "x", 0.1), "argument 're': must be real number, not str"),
    (([1.0, "a"], 1.0, 0.1), "argument 'l': must be real number, not str"),
    (("abc", "x", 0.1), "argument 'l': Can't extract `str` to `Vec`"),
])
def test_conversion_errors(args, message):
    with pytest.raises(TypeError) as info:
        wm(*args)
    assert type(info.value) is TypeError and info.value.args == (message,)
    assert info.value.__cause__ is None


def test_later_parameters_are_named():
    with pytest.raises(TypeError, match="^argument 'bf': 'int' object cannot be converted"):
        cv.discrete_flux_map_heyrovsky_magnification(L, 1.0, 0.1, [0.5], 7)
    with pytest.raises(TypeError, match="^argument 'r': must be real number, not NoneType$"):
        cv.heyrovsky_magnification(1.0, None, 1.0, 1.0)


class Raising:
    """A sequence or a float whose own code raises `exc`."""

    def __init__(self, exc):
        self.exc = exc

    def __len__(self):
        return 1

    def __getitem__(self, i):
        raise self.exc

    def __iter__(self):
        raise self.exc

    __float__ = __iter__


def _raising_args(exc, position):
    return {"sequence": (Raising(exc), 1.0, 0.1), "item": ([Raising(exc)], 1.0, 0.1),
            "float": ([1.0], 1.0, Raising(exc))}[position]


@pytest.mark.parametrize("position", ["sequence", "item", "float"])
@pytest.mark.parametrize("make_exc", [lambda: ValueError("bad"),
                                      type("SubTypeError", (TypeError,), {}),
                                      lambda: OverflowError("big")])
def test_other_exceptions_pass_unchanged(make_exc, position):
    exc = make_exc()  # a fresh instance per run: a reused one accumulates tracebacks
    with pytest.raises(type(exc)) as info:
        wm(*_raising_args(exc, position))
    assert info.value is exc


@pytest.mark.parametrize("position", ["sequence", "item", "float"])
def test_plain_type_error_relabelled_keeping_cause(position):
    cause = ValueError("root")
    exc = TypeError("own message")
    exc.__cause__ = cause
    with pytest.raises(TypeError) as info:
        wm(*_raising_args(exc, position))
    name = "rstar" if position == "float" else "l"
    assert info.value.args == (f"argument '{name}': own message",)
    assert info.value.__cause__ is cause


def test_int_too_large_for_a_double():
    with pytest.raises(OverflowError):
        wm([1.0], 10**400, 0.1)


# Buffers of doubles are read directly; the result must not show it.
_base = [0.05 + 0.07 * i for i in range(41)]
BUFFERS = {
    "array-d": array.array("d", _base),
    "array-f": array.array("f", _base),
    "array-q": array.array("q", range(1, 6)),
    "memoryview-step": memoryview(array.array("d", _base))[1::2],
    "memoryview-reversed": memoryview(array.array("d", _base))[::-1],
    "memoryview-cast": memoryview(array.array("d", _base).tobytes()).cast("d"),
    "bytes": bytes(range(1, 250, 7)),
}
if np is not None:
    _np = np.array(_base)
    BUFFERS.update({
        "float64": _np, "float64-step": _np[::3], "float64-big-endian": _np.astype(">f8"),
        "float64-column": np.stack([_np, _np], 1)[:, 1], "float32": _np.astype(np.float32),
        "int64": np.arange(1, 6), "empty": np.array([]),
        "float64-scalars": [np.float64(x) for x in _base],
    })


@pytest.mark.parametrize("name", list(BUFFERS))
def test_buffer_fast_path_equals_element_path(name, outcome):
    values = BUFFERS[name]
    elements = [float(x) for x in values]
    dfm = cv.discrete_flux_map_heyrovsky_magnification
    assert outcome(wm, values, 1.0, 0.1) == outcome(wm, elements, 1.0, 0.1)
    assert outcome(dfm, [0.5], 1.0, 0.1, values, values) == outcome(
        dfm, [0.5], 1.0, 0.1, elements, elements)


class HalvedArray(array.array):
    """An array whose elements, as iteration gives them, are its values halved."""

    def __iter__(self):
        return (x / 2 for x in super().__iter__())


# Subclasses are read through their own elements, contiguous or strided.
SUBCLASSES = {"array-own-iter": [HalvedArray("d", _base)]}
if np is not None:
    class HalvedNdarray(np.ndarray):
        def __iter__(self):
            return (x / 2 for x in np.ndarray.__iter__(self))

    _masked = np.ma.array(_np, mask=[i % 7 == 3 for i in range(len(_base))])
    _halved = _np.view(HalvedNdarray)
    SUBCLASSES.update({"masked": [_masked, _masked[::2]],
                       "ndarray-own-iter": [_halved, _halved[::3]]})


@pytest.mark.filterwarnings("ignore:Warning. converting a masked element to nan")
@pytest.mark.parametrize("name", list(SUBCLASSES))
def test_subclasses_are_read_through_their_elements(name, outcome):
    for values in SUBCLASSES[name]:
        assert outcome(wm, values, 1.0, 0.1) == outcome(wm, list(values), 1.0, 0.1)


class PyBuffer(ctypes.Structure):
    _fields_ = [("buf", ctypes.c_void_p), ("obj", ctypes.c_void_p), ("len", ctypes.c_ssize_t),
                ("itemsize", ctypes.c_ssize_t), ("readonly", ctypes.c_int), ("ndim", ctypes.c_int),
                ("format", ctypes.c_char_p), ("shape", ctypes.POINTER(ctypes.c_ssize_t)),
                ("strides", ctypes.POINTER(ctypes.c_ssize_t)),
                ("suboffsets", ctypes.POINTER(ctypes.c_ssize_t)), ("internal", ctypes.c_void_p)]


def test_buffer_shorter_than_its_shape_is_refused():
    memory = (ctypes.c_double * 4)(*L, 3.0)  # the shape's four items, of which 8 bytes are reported
    shape, strides = (ctypes.c_ssize_t * 1)(4), (ctypes.c_ssize_t * 1)(8)
    view = PyBuffer(buf=ctypes.addressof(memory), len=8, itemsize=8, readonly=1, ndim=1,
                    format=b"d", shape=shape, strides=strides)
    from_buffer = ctypes.pythonapi.PyMemoryView_FromBuffer
    from_buffer.restype, from_buffer.argtypes = ctypes.py_object, [ctypes.POINTER(PyBuffer)]
    lying = from_buffer(ctypes.byref(view))
    with pytest.raises(BufferError):
        wm(lying, 1.0, 0.1)


@pytest.mark.skipif(np is None, reason="needs numpy")
@pytest.mark.parametrize("shape", [(), (2, 2)], ids=["0-d", "2-d"])
def test_arrays_that_are_not_flat_sequences_of_floats(shape):
    with pytest.raises(TypeError, match=r"^argument 'l': "):
        wm(np.ones(shape), 1.0, 0.1)


def _rss_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096


@pytest.mark.skipif(bool(os.environ.get("CORVANIS_SANITIZED")),
                    reason="the sanitizer's quarantine holds freed memory")
@pytest.mark.skipif(bool(os.environ.get("CORVANIS_VALGRIND")),
                    reason="memcheck holds freed blocks back, so the resident size grows")
def test_memory_stays_flat_over_many_calls(panic_exception):
    values = [0.1 + 0.15 * i for i in range(20)]
    calls = [lambda: wm(values, 1.0, 0.1), lambda: wm(array.array("d", values), 1.0, 0.1),
             lambda: wm([1.0, "a"], 1.0, 0.1), lambda: wm(0.5, 1.0, 0.1),
             lambda: wm([1.0], 1.0, rs=0.1), lambda: wm(Raising(ValueError()), 1, 1),
             lambda: wm(Sized(L, 2**60), 1.0, 0.1)]

    def batch(n):
        for i in range(n):
            for call in calls[: 6 if i % 500 else 7]:
                try:
                    call()
                except (TypeError, ValueError, panic_exception):
                    pass

    batch(2_000)
    gc.collect()
    before = _rss_bytes()
    batch(17_000)  # 10^5 calls
    gc.collect()
    assert _rss_bytes() - before < 2 * 2**20
