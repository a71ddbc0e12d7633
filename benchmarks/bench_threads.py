"""Thread scaling of one call, the cost of short calls, and flux-map tables.

    python benchmarks/bench_threads.py [--rounds 5]

Each configuration runs in its own process (the thread count is read at
import), and the rounds alternate between configurations so that a busy
machine disturbs them alike. Reported: medians of wall-clock time per call.
- the light curve of 2000 epochs (rho = 0.01, u0 = 0.005, half the epochs
  within 3 rho of the peak, half out to u = 2) through
  integrated_heyrovsky_magnification, and 10^6 separations of the same shape
  through witt_mao_magnification, with CORVANIS_NUM_THREADS = 1, 2 and unset;
- calls of a few separations, with 1 thread and the default, where the pool
  must cost nothing;
- the two integrated flux-map forms with a 3-sample and a 10^4-sample table.
"""

from __future__ import annotations

import argparse
import json
import os
import statistics
import subprocess
import sys

# The worker imports the shared light curve from this folder.
PREAMBLE = f"import sys; sys.path.insert(0, {os.path.dirname(os.path.abspath(__file__))!r})\n"

WORKER = r'''
import json, math, sys, time
import corvanis as c

from light_curve import RHO, light_curve

curve = light_curve(2000)
many = light_curve(10**6)
small = [1.0 + 0.1 * i for i in range(20)]
law = lambda r: 1 - 0.6 * (1 - math.sqrt(max(0.0, 1 - r * r)))
t3 = ([0.0, 0.5, 1.0], [law(0.0), law(0.5), law(1.0)])
b4 = [i / 9999 for i in range(10000)]
t4 = (b4, [law(r) for r in b4])

def per_call(fn, repeat):
    fn()
    best = []
    for _ in range(3):
        t = time.perf_counter()
        for _ in range(repeat):
            fn()
        best.append((time.perf_counter() - t) / repeat)
    return min(best)

out = {
    "light curve, integrated_heyrovsky": per_call(lambda: c.integrated_heyrovsky_magnification(curve, 1.0, RHO), 1),
    "10^6 separations, witt_mao": per_call(lambda: c.witt_mao_magnification(many, 1.0, RHO), 1),
}
for n in (1, 2, 3, 5, 10, 20):
    out[f"{n} separations, integrated_heyrovsky"] = per_call(
        lambda: c.integrated_heyrovsky_magnification(small[:n], 1.0, RHO), max(1, 40 // n))
for n in (100, 1000, 2000, 10000):
    l = curve * (n // 2000) if n >= 2000 else curve[:n]
    out[f"{n} separations, witt_mao"] = per_call(lambda: c.witt_mao_magnification(l, 1.0, RHO), 20)
for name, fn in (("integrated_flux_map_heyrovsky", c.integrated_flux_map_heyrovsky_magnification),
                 ("integrated_flux_map_witt_mao", c.integrated_flux_map_witt_mao_magnification)):
    for label, table in (("3-sample", t3), ("10^4-sample", t4)):
        out[f"{name}, {label} table, 200 separations"] = per_call(
            lambda: fn(curve[::10], 1.0, RHO, *table), 1 if "heyrovsky" in name else 20)
json.dump(out, sys.stdout)
'''

CONFIGURATIONS = {"1 thread": "1", "2 threads": "2", "default": None}


def run(threads):
    env = {k: v for k, v in os.environ.items() if k not in ("CORVANIS_NUM_THREADS", "OMP_NUM_THREADS")}
    if threads is not None:
        env["CORVANIS_NUM_THREADS"] = threads
    done = subprocess.run([sys.executable, "-c", PREAMBLE + WORKER], env=env, capture_output=True, text=True,
                          check=True)
    return json.loads(done.stdout)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--rounds", type=int, default=5)
    rounds = ap.parse_args().rounds
    samples = {name: [] for name in CONFIGURATIONS}
    for _ in range(rounds):
        for name, threads in CONFIGURATIONS.items():
            samples[name].append(run(threads))
    medians = {name: {k: statistics.median(s[k] for s in runs) for k in runs[0]}
               for name, runs in samples.items()}
    keys = list(medians["1 thread"])
    print(f"{'workload':58} {'1 thread':>10} {'2 threads':>10} {'default':>10} {'1/default':>9}")
    for k in keys:
        one, two, default = (medians[n][k] for n in CONFIGURATIONS)
        unit, scale = ("ms", 1e3) if one > 1e-3 else ("µs", 1e6)
        print(f"{k:58} {one * scale:8.3g}{unit} {two * scale:8.3g}{unit} "
              f"{default * scale:8.3g}{unit} {one / default:8.2f}×")


if __name__ == "__main__":
    main()
