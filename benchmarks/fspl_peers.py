"""corvanis_fspl beside VBMicrolensing and MulensModel, timed in one run.

    pip install ".[bench]"
    python benchmarks/fspl_peers.py              # about a minute
    python benchmarks/fspl_peers.py --markdown   # the tables of BENCHMARKS.md

Workloads (all on one core unless stated; corvanis_fspl is pinned to one
thread in this process, the threaded run is a child process):

- the quadratic-law light curve (a = 0.4, b = 0.25) of 2000 epochs over
  +-2 tE, rho = 0.01, u0 = 0.005, tE = 20 d: corvanis_fspl at several rtol,
  VBMicrolensing's ESPLLightCurve and a loop over ESPLMag2 at Tol 1e-2 and
  1e-4 with its quadratic profile; MulensModel's Yoo04 method, which takes
  the linear law only, on the same trajectory with the linear law 0.6;
- epochs near the source (u < 2 rho) and far from it, per epoch;
- two laws in one call against one;
- with gradient=True against without;
- 20,000 epochs of the light curve with every core against one (best of
  5 alternating processes each).

Errors are relative, against corvanis_fspl at rtol = 1e-13, which agrees with
the 30-digit references of tools/gen_fspl_references.py to 1e-13 on their
grid (tools/measure_fspl_accuracy.py); "limb" is the worst over epochs with
0.9 < u/rho < 1.1. Times are the best of 25 runs of at least 20 ms each.
"""

from __future__ import annotations

import argparse
import os
import subprocess
import sys
import time

os.environ["CORVANIS_NUM_THREADS"] = "1"  # before the import: one core here

import numpy as np  # noqa: E402

import corvanis_fspl as fs  # noqa: E402
from peers import machine  # noqa: E402  (the line that names this machine and the versions)

RHO, U0, TE = 0.01, 0.005, 20.0
QUADRATIC = fs.Quadratic(0.4, 0.25)
LINEAR = fs.Linear(0.6)
TIMES = np.linspace(-2 * TE, 2 * TE, 2000)


def best_time(fn, repeat=25):
    """Best time of one call, each sample long enough to be timed."""
    fn()
    calls, start = 0, time.perf_counter()
    while time.perf_counter() - start < 0.02:
        fn()
        calls += 1
    calls = max(1, calls)
    samples = []
    for _ in range(repeat):
        start = time.perf_counter()
        for _ in range(calls):
            fn()
        samples.append((time.perf_counter() - start) / calls)
    return min(samples)


def errors(values, reference, u):
    rel = np.abs(np.asarray(values) / reference - 1)
    limb = (u / RHO > 0.9) & (u / RHO < 1.1)
    return rel.max(), rel[limb].max() if limb.any() else float("nan")


def light_curve_rows():
    u = np.hypot(U0, TIMES / TE)
    ref_q = fs.light_curve(TIMES, 0.0, U0, TE, RHO, QUADRATIC, rtol=1e-13)
    ref_l = fs.light_curve(TIMES, 0.0, U0, TE, RHO, LINEAR, rtol=1e-13)
    rows = []
    for rtol in (1e-4, 1e-6, 1e-8, 1e-10, 1e-12):
        f = lambda: fs.light_curve(TIMES, 0.0, U0, TE, RHO, QUADRATIC, rtol=rtol)  # noqa: E731
        rows.append((f"corvanis_fspl, rtol {rtol:g}", best_time(f), *errors(f(), ref_q, u)))
    try:
        import VBMicrolensing
    except ImportError:
        rows.append(("VBMicrolensing: not installed", float("nan"), float("nan"), float("nan")))
    else:
        vbm = VBMicrolensing.VBMicrolensing()
        vbm.SetLDprofile(vbm.LDquadratic)
        vbm.a1, vbm.a2 = QUADRATIC.a, QUADRATIC.b
        params = [np.log(U0), np.log(TE), 0.0, np.log(RHO)]
        times = TIMES.tolist()
        for tol in (1e-2, 1e-4):
            vbm.Tol = tol
            f = lambda: vbm.ESPLLightCurve(params, times)[0]  # noqa: E731
            rows.append((f"VBMicrolensing ESPLLightCurve, Tol {tol:g}", best_time(f), *errors(f(), ref_q, u)))
            us = u.tolist()
            g = lambda: [vbm.ESPLMag2(x, RHO) for x in us]  # noqa: E731
            rows.append((f"VBMicrolensing ESPLMag2 loop, Tol {tol:g}", best_time(g), *errors(g(), ref_q, u)))
    try:
        import MulensModel as mm
    except ImportError:
        rows.append(("MulensModel: not installed", float("nan"), float("nan"), float("nan")))
    else:
        model = mm.Model({"t_0": 0.0, "u_0": U0, "t_E": TE, "rho": RHO})
        model.set_magnification_methods([-1e300, "finite_source_LD_Yoo04", 1e300])
        gamma = 2 * LINEAR.c / (3 - LINEAR.c)
        f = lambda: model.get_magnification(TIMES, gamma=gamma)  # noqa: E731
        rows.append(("MulensModel Yoo04 (linear law 0.6)", best_time(f, 5), *errors(f(), ref_l, u)))
        g = lambda: fs.light_curve(TIMES, 0.0, U0, TE, RHO, LINEAR, rtol=1e-8)  # noqa: E731
        rows.append(("corvanis_fspl, linear law 0.6, rtol 1e-08", best_time(g), *errors(g(), ref_l, u)))
    return rows


def per_epoch_rows():
    near = np.linspace(0.0, 2 * RHO, 2001)[:-1]
    far = np.geomspace(2 * RHO, 2.0, 2000)
    rows = []
    for law_name, law in (("linear 0.6", LINEAR), ("quadratic", QUADRATIC)):
        for rtol in (1e-6, 1e-10):
            t = best_time(lambda: fs.magnification(near, RHO, law, rtol=rtol), 5) / near.size
            rows.append((f"u < 2 rho, {law_name}, rtol {rtol:g}", t))
    for rtol in (1e-6, 1e-10):
        t = best_time(lambda: fs.magnification(far, RHO, QUADRATIC, rtol=rtol), 5) / far.size
        rows.append((f"u >= 2 rho (to 200 rho), quadratic, rtol {rtol:g}", t))
    return rows


def ratio_rows():
    near = np.linspace(0.0, 2 * RHO, 2001)[:-1]
    two = [QUADRATIC, fs.Quadratic(0.6, 0.1)]
    rows = []
    for label, u in (("light curve", None), ("u < 2 rho", near)):
        if u is None:
            one = best_time(lambda: fs.light_curve(TIMES, 0.0, U0, TE, RHO, QUADRATIC, rtol=1e-10))
            both = best_time(lambda: fs.light_curve(TIMES, 0.0, U0, TE, RHO, two, rtol=1e-10))
            grad = best_time(lambda: fs.light_curve(TIMES, 0.0, U0, TE, RHO, QUADRATIC, rtol=1e-10,
                                                    gradient=True))
        else:
            one = best_time(lambda: fs.magnification(u, RHO, QUADRATIC, rtol=1e-10), 5)
            both = best_time(lambda: fs.magnification(u, RHO, two, rtol=1e-10), 5)
            grad = best_time(lambda: fs.magnification(u, RHO, QUADRATIC, rtol=1e-10, gradient=True), 5)
        rows.append((f"two laws against one, {label}, rtol 1e-10", both / one))
        rows.append((f"gradient=True against without, {label}, rtol 1e-10", grad / one))
    return rows


THREADED = """
import os, sys, time
import numpy as np, corvanis_fspl as fs
t = np.linspace(-40.0, 40.0, 20000)
law = fs.Quadratic(0.4, 0.25)
f = lambda: fs.light_curve(t, 0.0, 0.005, 20.0, 0.01, law, rtol=1e-10)
f()
best = min((lambda s: (f(), time.perf_counter() - s)[1])(time.perf_counter()) for _ in range(30))
print(best)
"""


def threads_row(rounds=5):
    """Best time with one thread and with the default, each in its own
    process (the count is read at import), rounds alternating."""
    times = {"one": float("inf"), "all": float("inf")}
    for _ in range(rounds):
        for label, value in (("one", "1"), ("all", None)):
            env = dict(os.environ)
            env.pop("CORVANIS_NUM_THREADS")
            if value:
                env["CORVANIS_NUM_THREADS"] = value
            out = subprocess.run([sys.executable, "-c", THREADED], env=env, capture_output=True,
                                 text=True, check=True)
            times[label] = min(times[label], float(out.stdout))
    return times


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--markdown", action="store_true", help="print tables for BENCHMARKS.md")
    parser.parse_args()
    print(f"Machine: {machine()}")
    print("Command: python benchmarks/fspl_peers.py\n")
    print("Quadratic-law light curve, 2000 epochs over +-2 tE, rho = 0.01, u0 = 0.005 (one core):\n")
    print("| code | time per curve | worst rel. error | worst near the limb |")
    print("|---|---|---|---|")
    for name, t, worst, limb in light_curve_rows():
        print(f"| {name} | {t * 1e3:.3f} ms | {worst:.1e} | {limb:.1e} |")
    print("\nPer epoch (one core):\n")
    print("| epochs | time per epoch |")
    print("|---|---|")
    for name, t in per_epoch_rows():
        print(f"| {name} | {t * 1e6:.2f} us |")
    print("\nRatios (one core):\n")
    print("| comparison | ratio |")
    print("|---|---|")
    for name, r in ratio_rows():
        print(f"| {name} | {r:.2f} |")
    t = threads_row()
    print(f"\n20,000 epochs of the light curve, rtol 1e-10: one thread {t['one'] * 1e3:.2f} ms, "
          f"every core ({os.cpu_count()}) {t['all'] * 1e3:.2f} ms: {t['one'] / t['all']:.2f}x")


if __name__ == "__main__":
    main()
