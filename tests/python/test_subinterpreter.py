"""Calls made in a subinterpreter release every reference they take.

Up to CPython 3.11 the interpreter's GIL-state bookkeeping names the first
thread state made on an OS thread, not the subinterpreter's, so a module that
asked it whether the GIL is held would leak every reference there. Python 3.13
loads a single-phase module in the main interpreter first, and the module then
refuses the subinterpreter with ImportError; the test checks that refusal.
"""

import json
import subprocess
import sys
import textwrap

import pytest

# Runs in the subinterpreter, where corvanis is imported first; writes what it
# saw to the file named by OUT.
IN_SUBINTERPRETER = """
import array, gc, json, sys, weakref
seen = {}
try:
    import corvanis
except ImportError as exc:
    seen["refused"] = str(exc)
else:
    x = float("0.25")
    l = [x] * 1000
    before = sys.getrefcount(x)
    corvanis.witt_mao_magnification(l, 1.0, 0.1)                      # GIL released
    corvanis.integrated_heyrovsky_magnification(l[:40], 1.0, 0.1)     # split over threads
    corvanis.heyrovsky_magnification(x, 0.5, 1.0, 0.1)                # GIL kept
    try:
        corvanis.witt_mao_magnification(l + ["no"], 1.0, 0.1)        # conversion error
    except TypeError:
        pass
    try:
        corvanis.discrete_flux_map_heyrovsky_magnification(
            [-852.1194778075304] + l, 1.0, 0.0012914185427932185, [-852.1194878135315], [1.0])
    except RuntimeError:
        pass
    seen["refcount"] = [before, sys.getrefcount(x)]

    class Number:
        def __float__(self):
            return 0.5
    numbers = [Number() for _ in range(100)]
    refs = [weakref.ref(n) for n in numbers]
    corvanis.integrated_witt_mao_magnification(numbers, 1.0, 0.1)
    del numbers
    gc.collect()
    seen["alive"] = sum(r() is not None for r in refs)

    a = array.array("d", [0.5] * 10)
    corvanis.witt_mao_magnification(a, 1.0, 0.1)
    try:
        a.append(1.0)
        seen["resized"] = True
    except BufferError as exc:
        seen["resized"] = str(exc)
with open(OUT, "w") as f:
    json.dump(seen, f)
"""

MAIN = """
import sys
try:
    import _interpreters as interpreters          # 3.13
except ImportError:
    import _xxsubinterpreters as interpreters     # 3.8 to 3.12
if sys.version_info >= (3, 13):
    interp = interpreters.create("legacy")        # shares the GIL, like 3.11's
elif sys.version_info >= (3, 12):
    interp = interpreters.create(isolated=False)
else:
    interp = interpreters.create()
failure = interpreters.run_string(interp, "OUT = %r\\n" % sys.argv[1] + CODE)
assert failure is None, failure
interpreters.destroy(interp)
"""


@pytest.mark.isolated
def test_calls_in_a_subinterpreter_release_their_references(tmp_path):
    out = tmp_path / "seen.json"
    script = f"CODE = {textwrap.dedent(IN_SUBINTERPRETER)!r}\n" + textwrap.dedent(MAIN)
    done = subprocess.run([sys.executable, "-c", script, str(out)], capture_output=True,
                          text=True, timeout=300)
    assert done.returncode == 0, done.stderr[-3000:]
    seen = json.loads(out.read_text())
    if sys.version_info >= (3, 13):
        assert "do not yet support subinterpreters" in seen["refused"]
        return
    assert seen["refcount"][1] == seen["refcount"][0]
    assert seen["alive"] == 0
    assert seen["resized"] is True
