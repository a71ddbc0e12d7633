"""The interpreter exits cleanly while daemon threads are inside a call: the
thread that asks for the GIL back during finalisation is ended by the C library
(a forced unwind), which must pass through the module's frames. So must the
forced unwind of a thread cancelled in a call."""

import subprocess
import sys
import textwrap

import pytest

RUNS = 20

COMPUTING = """
    import threading, time, corvanis
    def work():
        while True:
            corvanis.integrated_heyrovsky_magnification([0.5] * 200, 1.0, 0.1)
    for _ in range(2):
        threading.Thread(target=work, daemon=True).start()
    time.sleep(0.3)
"""

CONVERTING = """
    import threading, time, corvanis
    class Slow:
        def __len__(self): return 3
        def __getitem__(self, i): return 0.5
        def __iter__(self):
            for _ in range(100000):
                time.sleep(1e-4)
                yield 0.5
    def work():
        while True:
            corvanis.witt_mao_magnification(Slow(), 1.0, 0.1)
    threading.Thread(target=work, daemon=True).start()
    time.sleep(0.2)
"""


@pytest.mark.isolated
@pytest.mark.parametrize("script", [COMPUTING, CONVERTING], ids=["computing", "converting"])
def test_exit_with_daemon_threads_in_a_call(script):
    code = textwrap.dedent(script)
    statuses = []
    for batch in range(0, RUNS, 4):
        children = [subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.PIPE)
                    for _ in range(min(4, RUNS - batch))]
        for child in children:
            _, err = child.communicate(timeout=60)
            statuses.append((child.returncode, err.decode(errors="replace")[-300:]))
    assert [status for status, _ in statuses] == [0] * RUNS, statuses


# A thread cancelled with pthread_cancel while it computes with the GIL released
# reaches a cancellation point in the call (the panic's report is written with
# write()); the forced unwind must leave through the module's frames, GIL-less,
# and end that thread alone. The other threads go on calling.
CANCELLED = """
    import ctypes, os, sys, threading, time, corvanis
    libc = ctypes.CDLL(None)
    libc.pthread_self.restype = ctypes.c_ulong
    libc.pthread_cancel.argtypes = [ctypes.c_ulong]
    tids = []
    def work():
        tids.append(threading.get_native_id())
        # Until the main thread waits without the GIL: a wait for the GIL is a
        # cancellation point of the interpreter's own, where the thread would
        # die holding the GIL's lock.
        time.sleep(0.2)
        libc.pthread_cancel(libc.pthread_self())
        corvanis.integrated_flux_map_heyrovsky_magnification([0.5] * 10, 1.0, 0.1, [0, 1], [1])
    threading.Thread(target=work, daemon=True).start()
    parked = threading.Lock()
    parked.acquire()
    parked.acquire(timeout=1.0)
    task = f"/proc/self/task/{tids[0]}"
    print(os.path.exists(task), flush=True)
    print(corvanis.integrated_heyrovsky_magnification([0.5] * 20, 1.0, 0.1) ==
          [corvanis.integrated_heyrovsky_magnification([0.5], 1.0, 0.1)[0]] * 20)
"""


@pytest.mark.isolated
@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="needs pthread_cancel and /proc")
def test_thread_cancelled_in_a_call_ends_alone():
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(CANCELLED)], capture_output=True,
                          text=True, timeout=120)
    # The cancelled thread is gone, and the process computes on.
    assert (done.returncode, done.stdout) == (0, "False\nTrue\n"), done.stderr[-2000:]
