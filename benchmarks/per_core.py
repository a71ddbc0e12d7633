"""Per-core speed of one build of corvanis against another, and whether they agree bit for bit.

    python benchmarks/per_core.py BASELINE_DIR CANDIDATE_DIR [--repeat 7]

Each directory holds a built corvanis module; each is imported in its own
process (the directory first on PYTHONPATH, CORVANIS_NUM_THREADS=1). The
workloads: a light curve of 2000 epochs (rho = rstar/re = 0.01, u0 = 0.005,
half the epochs within 3 rho of the peak, half out to u = 2; l = u/rho) for
the four integrated functions, and 10^6 separations of the same curve's shape
for witt_mao_magnification. Times are the median of --repeat calls in process
CPU time, which a busy machine disturbs far less than wall-clock time.
Every result of the two builds is compared bit for bit.
"""

from __future__ import annotations

import argparse
import json
import math
import os
import struct
import subprocess
import sys

# The worker imports the shared light curve from this folder.
PREAMBLE = f"import sys; sys.path.insert(0, {os.path.dirname(os.path.abspath(__file__))!r})\n"

WORKER = r'''
import json, math, statistics, struct, sys, time
import corvanis

from light_curve import RE, RHO, RSTAR, light_curve

curve = light_curve(2000)
bl = [i / 9 for i in range(10)]
bf = [1 - 0.6 * (1 - math.sqrt(1 - x * x)) for x in bl]
many = light_curve(10**6)
calls = {
    "integrated_heyrovsky_magnification": lambda: corvanis.integrated_heyrovsky_magnification(curve, RE, RSTAR),
    "integrated_flux_map_heyrovsky_magnification":
        lambda: corvanis.integrated_flux_map_heyrovsky_magnification(curve, RE, RSTAR, bl, bf),
    "integrated_witt_mao_magnification": lambda: corvanis.integrated_witt_mao_magnification(curve, RE, RSTAR),
    "integrated_flux_map_witt_mao_magnification":
        lambda: corvanis.integrated_flux_map_witt_mao_magnification(curve, RE, RSTAR, bl, bf),
    "witt_mao_magnification (10^6)": lambda: corvanis.witt_mao_magnification(many, RE, RSTAR),
}
report = {"module": corvanis.__file__, "seconds": {}, "bits": {}}
for name, call in calls.items():
    times = []
    for _ in range(int(sys.argv[1])):
        t0 = time.process_time()
        values = call()
        times.append(time.process_time() - t0)
    report["seconds"][name] = statistics.median(times)
    report["bits"][name] = ["nan" if math.isnan(v) else struct.pack("<d", v).hex() for v in values]
json.dump(report, sys.stdout)
'''


def run(directory: str, repeat: int) -> dict:
    env = dict(os.environ, PYTHONPATH=os.path.abspath(directory), CORVANIS_NUM_THREADS="1")
    out = subprocess.run([sys.executable, "-c", PREAMBLE + WORKER, str(repeat)], env=env, check=True,
                         capture_output=True, text=True).stdout
    return json.loads(out)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("baseline")
    parser.add_argument("candidate")
    parser.add_argument("--repeat", type=int, default=7)
    args = parser.parse_args()

    base = run(args.baseline, args.repeat)
    cand = run(args.candidate, args.repeat)
    print(f"baseline  {base['module']}\ncandidate {cand['module']}")
    print(f"{'workload':48} {'baseline':>10} {'candidate':>10} {'speed-up':>9}  bits")
    differing = 0
    for name, t_base in base["seconds"].items():
        t_cand = cand["seconds"][name]
        diff = sum(a != b for a, b in zip(base["bits"][name], cand["bits"][name]))
        diff += abs(len(base["bits"][name]) - len(cand["bits"][name]))
        differing += diff
        print(f"{name:48} {t_base * 1e3:8.1f}ms {t_cand * 1e3:8.1f}ms {t_base / t_cand:8.2f}x  "
              f"{'identical' if diff == 0 else f'{diff} differ'}")
    return 1 if differing else 0


if __name__ == "__main__":
    sys.exit(main())
