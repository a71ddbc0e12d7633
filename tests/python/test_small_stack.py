"""Every function runs on a thread with a small stack (32 KiB, the least
threading.stack_size accepts): large buffers live in each call's heap storage,
not on the calling thread's stack. In a child process, where an overflow is a
crash, with calls short enough to stay on the caller and long enough to be
spread over the pool (the caller computes chunks too)."""

import json
import os
import subprocess
import sys

import pytest

CHILD = """
import json, math, threading
import corvanis as c
l = [0.0, 0.3, 0.999, 1.0, 1.2, 3.0]
table = ([i / 20 for i in range(21)], [1 - 0.6 * (1 - math.sqrt(1 - (i / 20) ** 2)) for i in range(21)])
long = [0.01 * i for i in range(300)]
calls = {
    "witt_mao_magnification": lambda: c.witt_mao_magnification(long * 20, 1.0, 0.1),
    "integrated_witt_mao_magnification": lambda: c.integrated_witt_mao_magnification(l, 1.0, 0.1),
    "integrated_flux_map_witt_mao_magnification":
        lambda: c.integrated_flux_map_witt_mao_magnification(l, 1.0, 0.1, *table),
    "heyrovsky_magnification": lambda: [c.heyrovsky_magnification(0.5, 0.5 + 3e-6, 1.0, 0.1),
                                        c.heyrovsky_magnification(0.5, 0.3, 1.0, 0.1)],
    "integrated_heyrovsky_magnification": lambda: c.integrated_heyrovsky_magnification(l, 1.0, 0.1),
    "integrated_flux_map_heyrovsky_magnification":
        lambda: c.integrated_flux_map_heyrovsky_magnification(l, 1.0, 0.1, *table),
    "discrete_flux_map_heyrovsky_magnification":
        lambda: c.discrete_flux_map_heyrovsky_magnification(long, 1.0, 0.1, *table),
    "integrated_witt_mao_magnification, split":
        lambda: c.integrated_witt_mao_magnification(long * 2, 1.0, 0.1),
    "integrated_heyrovsky_magnification, split":
        lambda: c.integrated_heyrovsky_magnification(l * 3, 1.0, 0.1),
}
expected = {name: call() for name, call in calls.items()}
threading.stack_size(32768)
got = {}
for name, call in calls.items():
    # One thread per function: a crash names the function in the output.
    print(name, flush=True)
    thread = threading.Thread(target=lambda: got.__setitem__(name, call()))
    thread.start()
    thread.join()
print(json.dumps([name for name in calls if repr(got.get(name)) != repr(expected[name])]))
"""


@pytest.mark.isolated
@pytest.mark.parametrize("threads", ["1", "2"])
def test_every_function_runs_on_a_32_kib_stack(threads):
    env = {k: v for k, v in os.environ.items() if k != "OMP_NUM_THREADS"}
    env["CORVANIS_NUM_THREADS"] = threads
    done = subprocess.run([sys.executable, "-c", CHILD], capture_output=True, text=True, env=env,
                          timeout=300)
    last = done.stdout.strip().splitlines()[-1:] or [""]
    assert done.returncode == 0, f"status {done.returncode} in {last[0]}: {done.stderr[-2000:]}"
    assert json.loads(last[0]) == []
