"""Eight threads call all seven functions on shared inputs while another
thread keeps raising panics and conversion errors; every result must equal
the single-threaded one bit for bit. CORVANIS_STRESS_SECONDS sets the length
of the run (default 3 s)."""

import array
import os
import struct
import threading
import time

import pytest

import corvanis

SECONDS = float(os.environ.get("CORVANIS_STRESS_SECONDS", "3"))
WORKERS = 8

# Long enough that every model releases the GIL while it computes, and that
# the integrated ring forms are spread over the worker pool.
L = [0.02 + 0.061 * i for i in range(40)]
BL = [i / 11 for i in range(12)]
BF = [1.0 - 0.5 * r * r for r in BL]
SHARED = {
    "list": L,
    "tuple": tuple(L),
    "array": array.array("d", L),
}

CALLS = [
    ("witt_mao_magnification", lambda l: corvanis.witt_mao_magnification(l, 1.0, 0.05)),
    ("integrated_witt_mao_magnification",
     lambda l: corvanis.integrated_witt_mao_magnification(l[:8], 1.0, 0.05)),
    ("integrated_flux_map_witt_mao_magnification",
     lambda l: corvanis.integrated_flux_map_witt_mao_magnification(l[:8], 1.0, 0.05, BL, BF)),
    ("heyrovsky_magnification",
     lambda l: [corvanis.heyrovsky_magnification(x, 0.6, 1.0, 0.05) for x in l[:10]]),
    ("integrated_heyrovsky_magnification",
     lambda l: corvanis.integrated_heyrovsky_magnification(l[:8], 1.0, 0.05)),
    ("integrated_flux_map_heyrovsky_magnification",
     lambda l: corvanis.integrated_flux_map_heyrovsky_magnification(l[:8], 1.0, 0.05, BL, BF)),
    ("discrete_flux_map_heyrovsky_magnification",
     lambda l: corvanis.discrete_flux_map_heyrovsky_magnification(l, 1.0, 0.05, BL, BF)),
]


def _bits(values):
    return [struct.pack("<d", v) for v in values]


class _RaisingIter:
    def __init__(self, exc):
        self.exc = exc

    def __getitem__(self, i):
        return 1.0

    def __iter__(self):
        raise self.exc


def _error_calls(panic_exception):
    """(call, expected exception type) pairs run by the disturbing thread."""
    return [
        (lambda: corvanis.discrete_flux_map_heyrovsky_magnification(L, 1.0, 0.05, BL, BF[:-1]),
         panic_exception),
        (lambda: corvanis.integrated_flux_map_witt_mao_magnification(L, 1.0, 0.05, BL[:3], []),
         panic_exception),
        (lambda: corvanis.witt_mao_magnification("abc", 1.0, 0.05), TypeError),
        (lambda: corvanis.witt_mao_magnification(L + ["x"], 1.0, 0.05), TypeError),
        (lambda: corvanis.integrated_heyrovsky_magnification(L, 10**400, 0.05), OverflowError),
        (lambda: corvanis.witt_mao_magnification(_RaisingIter(ValueError("v")), 1.0, 0.05),
         ValueError),
        (lambda: corvanis.witt_mao_magnification(_RaisingIter(panic_exception("p")), 1.0, 0.05),
         panic_exception),
        (lambda: corvanis.heyrovsky_magnification(0.5, 0.5, 1.0), TypeError),
    ]


@pytest.mark.isolated
def test_threads_agree_with_single_thread(panic_exception):
    expected = {(name, kind): _bits(call(values))
                for name, call in CALLS for kind, values in SHARED.items()}
    deadline = time.monotonic() + SECONDS
    failures = []
    counts = [0] * (WORKERS + 1)
    start = threading.Barrier(WORKERS + 1)

    def worker(index):
        start.wait()
        kinds = list(SHARED)
        step = 0
        while time.monotonic() < deadline and not failures:
            name, call = CALLS[(index + step) % len(CALLS)]
            kind = kinds[step % len(kinds)]
            got = _bits(call(SHARED[kind]))
            if got != expected[(name, kind)]:
                failures.append(f"thread {index}: {name} on {kind} differs")
            counts[index] += 1
            step += 1

    def disturber():
        start.wait()
        errors = _error_calls(panic_exception)
        step = 0
        while time.monotonic() < deadline and not failures:
            call, exc_type = errors[step % len(errors)]
            try:
                call()
            except BaseException as exc:  # noqa: B036 - PanicException is a BaseException
                if type(exc) is not exc_type:
                    failures.append(f"disturber: {exc!r} instead of {exc_type.__name__}")
            else:
                failures.append(f"disturber: call {step % len(errors)} raised nothing")
            counts[WORKERS] += 1
            step += 1
            time.sleep(0.001)  # keeps the panic reports on stderr to a few MB

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(WORKERS)]
    threads.append(threading.Thread(target=disturber))
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=SECONDS + 120)
    assert not any(thread.is_alive() for thread in threads), "a thread hung"
    assert not failures, failures[:5]
    assert all(counts), counts
    print(f"calls per thread: {counts}")
