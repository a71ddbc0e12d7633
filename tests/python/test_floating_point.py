"""Calls under the caller's floating-point environment, in child processes
(the environment is the C library's, set here through ctypes):

- with finite arguments a call raises no floating-point exception that the
  scalar code does not raise, and with invalid-operation, division-by-zero and
  overflow traps enabled every function returns;
- under any rounding mode a call gives the same bits with 1, 2 and 3 threads,
  and a later call in the default mode the default bits; the exceptions raised
  on the pool's workers reach the caller.
"""

import ctypes.util
import json
import os
import platform
import subprocess
import sys
import textwrap

import pytest

pytestmark = [
    pytest.mark.isolated,
    pytest.mark.skipif(
        not (sys.platform.startswith("linux") and platform.machine() in ("x86_64", "AMD64")
             and ctypes.util.find_library("m")),
        reason="the constants below are glibc's on x86-64"),
]

PRELUDE = """
import ctypes, ctypes.util, json, math, struct, sys
libm = ctypes.CDLL(ctypes.util.find_library("m"))
FLAGS = {"invalid": 0x01, "divbyzero": 0x04, "overflow": 0x08, "underflow": 0x10, "inexact": 0x20}
ROUNDING = {"nearest": 0x000, "downward": 0x400, "upward": 0x800, "towardzero": 0xC00}
import corvanis as c

def raised(call):
    libm.feclearexcept(0x3D)
    call()
    got = libm.fetestexcept(0x3D)
    return [name for name, bit in FLAGS.items() if got & bit]

def bits(values):
    return struct.pack("<%dd" % len(values), *values).hex()

l = [0.0, 1e-6, 0.05, 0.3, 0.7, 0.999, 1.0, 1.001, 1.2, 2.0, 5.0, 30.0]
table = ([i / 20 for i in range(21)], [1 - 0.6 * (1 - math.sqrt(1 - (i / 20) ** 2)) for i in range(21)])
# Ordinary finite arguments: no ring passes through the lens (that ring is
# +inf, and the scalar expansion divides by zero for it).
CALLS = {
    "witt_mao": lambda: c.witt_mao_magnification([0.03 * i for i in range(100)], 1.0, 0.1),
    "witt_mao, large source": lambda: c.witt_mao_magnification(l, 1.0, 30.0),
    "integrated_witt_mao": lambda: c.integrated_witt_mao_magnification(l, 1.0, 0.1),
    "integrated_flux_map_witt_mao":
        lambda: c.integrated_flux_map_witt_mao_magnification(l, 1.0, 0.1, *table),
    "heyrovsky": lambda: c.heyrovsky_magnification(0.5, 0.3, 1.0, 0.1),
    "heyrovsky, near the ring": lambda: c.heyrovsky_magnification(0.5, 0.5 + 3e-6, 1.0, 0.1),
    "integrated_heyrovsky": lambda: c.integrated_heyrovsky_magnification([0.5], 1, 0.1),
    "integrated_heyrovsky, many": lambda: c.integrated_heyrovsky_magnification(l, 1.0, 0.01),
    "integrated_flux_map_heyrovsky":
        lambda: c.integrated_flux_map_heyrovsky_magnification(l, 1.0, 0.1, *table),
    "discrete": lambda: c.discrete_flux_map_heyrovsky_magnification(
        [0.033 + 0.07 * i for i in range(40)], 1.0, 0.1, *table),
}
"""


def run_child(code, threads):
    env = {k: v for k, v in os.environ.items() if k not in ("CORVANIS_NUM_THREADS", "OMP_NUM_THREADS")}
    env["CORVANIS_NUM_THREADS"] = str(threads)
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(PRELUDE) + textwrap.dedent(code)],
                          capture_output=True, text=True, env=env, timeout=600)
    return done


@pytest.mark.parametrize("threads", [1, 2])
def test_finite_arguments_raise_only_inexact(threads):
    # The scalar code raises only "inexact" on these arguments; so must the
    # lanes, whose inactive lanes once divided 0 by 0.
    done = run_child("""
        print(json.dumps({name: raised(call) for name, call in CALLS.items()}))
    """, threads)
    assert done.returncode == 0, done.stderr[-2000:]
    assert json.loads(done.stdout) == {name: ["inexact"] for name in json.loads(done.stdout)}


@pytest.mark.parametrize("threads", [1, 2])
def test_every_function_returns_with_traps_enabled(threads):
    # feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW), as one does to
    # find where a NaN first appears: a trap is SIGFPE, the end of the child.
    done = run_child("""
        results = {name: call() for name, call in CALLS.items()}
        libm.feenableexcept(0x01 | 0x04 | 0x08)
        trapped = {name: call() for name, call in CALLS.items()}
        libm.fedisableexcept(0x3D)
        print(json.dumps([name for name in CALLS if trapped[name] != results[name]]))
    """, threads)
    assert done.returncode == 0, f"status {done.returncode}: {done.stderr[-2000:]}"
    assert json.loads(done.stdout) == []


ROUNDED = """
    # The arguments are made before the rounding mode changes.
    args = [0.0125 * i for i in range(120)]
    calls = {
        "witt_mao": lambda: c.witt_mao_magnification(args * 20, 1.0, 0.1),
        "integrated_witt_mao": lambda: c.integrated_witt_mao_magnification(args, 1.0, 0.1),
        "integrated_flux_map_witt_mao":
            lambda: c.integrated_flux_map_witt_mao_magnification(args, 1.0, 0.1, *table),
        "integrated_heyrovsky": lambda: c.integrated_heyrovsky_magnification(args[::6], 1.0, 0.1),
        "integrated_flux_map_heyrovsky":
            lambda: c.integrated_flux_map_heyrovsky_magnification(args[::6], 1.0, 0.1, *table),
        "discrete": lambda: c.discrete_flux_map_heyrovsky_magnification(args * 10, 1.0, 0.1, *table),
    }
    out = {}
    for mode in ("upward", "downward", "towardzero"):
        libm.fesetround(ROUNDING[mode])
        out[mode] = {name: [bits(call()) for _ in range(2)] for name, call in calls.items()}
        libm.fesetround(0)
        out[mode + ", then nearest"] = {name: [bits(call())] for name, call in calls.items()}
    print(json.dumps(out))
"""


def test_rounding_modes_give_the_serial_bits_on_every_thread():
    serial = run_child(ROUNDED, 1)
    assert serial.returncode == 0, serial.stderr[-2000:]
    expected = json.loads(serial.stdout)
    for mode, results in expected.items():
        for name, repeated in results.items():
            assert len(set(repeated)) == 1, (mode, name)
    for mode in ("upward", "downward", "towardzero"):
        assert expected[mode] != expected[mode + ", then nearest"]
    for threads in (2, 3):
        done = run_child(ROUNDED, threads)
        assert done.returncode == 0, done.stderr[-2000:]
        got = json.loads(done.stdout)
        differ = [(mode, name) for mode in expected for name in expected[mode]
                  if got[mode][name] != expected[mode][name]]
        assert differ == [], f"{threads} threads"


def test_exceptions_raised_on_workers_reach_the_caller():
    # One ring through the lens (r = l), in the last chunk: the expansion
    # divides by zero there, and the call raises "divbyzero" whichever thread
    # ran that chunk (a worker, in about half of the calls).
    code = """
        seps = [0.1 * (i % 10) + 0.01 for i in range(4000)] + [0.5]
        print(json.dumps([raised(lambda: c.discrete_flux_map_heyrovsky_magnification(
            seps, 1.0, 0.1, [0.2, 0.5, 0.9], [1.0] * 3)) for _ in range(20)]))
    """
    for threads in (1, 2, 3):
        done = run_child(code, threads)
        assert done.returncode == 0, done.stderr[-2000:]
        assert json.loads(done.stdout) == [["divbyzero", "inexact"]] * 20, f"{threads} threads"
