"""Light curve of a microlensing event in which the lens crosses the source disk.

Computes the magnification against time for three models of the source star:
a uniform disk and a limb-darkened disk (linear law, coefficient 0.6) with
corvanis' exact functions, and a disk with the quadratic limb-darkening law
(0.4, 0.25) with corvanis_fspl, the package for modelling. Prints a short table
and, when matplotlib is installed, writes a PNG plot.

    python examples/light_curve.py [--output light_curve.png] [--points 2001]
"""

from __future__ import annotations

import argparse
import math

import corvanis
import corvanis_fspl

try:  # optional: progress bar
    from tqdm import tqdm
except ImportError:  # pragma: no cover
    tqdm = None

# Event: Einstein time 20 days, closest approach at t0 = 0 with impact
# parameter u0 (Einstein radii), smaller than the source radius rho.
T_E = 20.0
U0 = 0.002
RE = 1.0          # Einstein radius
RSTAR = 0.005     # source radius, same unit: rho = 0.005
HALF_SPAN = 0.3   # days either side of the peak


def separations(times):
    """Lens-source separations in source radii for each time."""
    rho = RSTAR / RE
    return [math.hypot(U0, t / T_E) / rho for t in times]


def in_chunks(function, l, *args, chunk=100, label=""):
    """Calls function on l in chunks, with a progress bar when tqdm is present."""
    starts = range(0, len(l), chunk)
    if tqdm is not None:
        starts = tqdm(starts, desc=label, unit="chunk", leave=False)
    out = []
    for s in starts:
        out.extend(function(l[s:s + chunk], *args))
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output", default="light_curve.png", help="PNG file to write")
    parser.add_argument("--points", type=int, default=2001, help="number of epochs")
    args = parser.parse_args()

    n = args.points
    times = [-HALF_SPAN + 2 * HALF_SPAN * i / (n - 1) for i in range(n)]
    l = separations(times)

    uniform = corvanis.witt_mao_magnification(l, RE, RSTAR)
    linear = in_chunks(corvanis.integrated_heyrovsky_magnification, l, RE, RSTAR,
                       label="limb-darkened (linear)")
    # corvanis_fspl works in Einstein radii, on the trajectory itself.
    quadratic = corvanis_fspl.light_curve(times, 0.0, U0, T_E, RSTAR / RE,
                                          corvanis_fspl.Quadratic(0.4, 0.25), rtol=1e-10).tolist()

    print(f"rho = {RSTAR / RE}, u0 = {U0}, tE = {T_E} d")
    print(f"{'t [d]':>9} {'l [rstar]':>10} {'uniform':>10} {'linear LD':>10} {'quad. LD':>10}")
    for i in range(0, n, max(1, n // 12)):
        print(f"{times[i]:9.4f} {l[i]:10.4f} {uniform[i]:10.3f} {linear[i]:10.3f} "
              f"{quadratic[i]:10.3f}")
    peak = max(range(n), key=lambda i: linear[i])
    print(f"peak: t = {times[peak]:.4f} d, uniform {uniform[peak]:.3f}, "
          f"linear LD {linear[peak]:.3f}, quadratic LD {quadratic[peak]:.3f}")

    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no plot written")
        return
    fig, ax = plt.subplots(figsize=(7, 4.5))
    ax.plot(times, uniform, label="uniform disk")
    ax.plot(times, linear, label="limb-darkened, linear law (0.6)")
    ax.plot(times, quadratic, "--", label="limb-darkened, quadratic law (0.4, 0.25)")
    ax.set_xlabel("time from peak [days]")
    ax.set_ylabel("magnification")
    ax.set_title(f"Lens crossing a source of radius {RSTAR / RE} Einstein radii")
    ax.legend()
    fig.tight_layout()
    fig.savefig(args.output, dpi=120)
    print(f"plot written to {args.output}")


if __name__ == "__main__":
    main()
