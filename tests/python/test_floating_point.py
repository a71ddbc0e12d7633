"""Calls under the caller's floating-point environment, in child processes
(the environment is the C library's, set here through ctypes):

with finite arguments a call raises no floating-point exception that the
scalar code does not raise, and with invalid-operation, division-by-zero and
overflow traps enabled every function returns.
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
