"""The interpreter exits cleanly while daemon threads are inside a call: the
thread that asks for the GIL back during finalisation is ended by the C library
(a forced unwind), which must pass through the module's frames."""

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
