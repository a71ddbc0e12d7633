#!/usr/bin/env python3
"""High-precision reference magnifications on a fixed grid of inputs.

Writes tests/python/data/truth_grid.json with three tables, each value the
true magnification for the exact double inputs listed beside it:

  uniform  magnification of a uniform source disk (closed form of Witt & Mao
           in K, E, Pi), evaluated with 50 significant digits;
  ring     mean of the point-source magnification over a thin uniform ring
           (closed form in K and Pi), 50 significant digits;
  ld       magnification of a limb-darkened disk, linear law
           I(r) = 1 - 0.6 (1 - sqrt(1 - r^2)): the brightness-weighted mean
           of the point-source magnification over the disk,
               (1 / 0.8 pi) * integral_0^1 2 pi r I(r) A_ring(l, r) dr,
           by tanh-sinh quadrature at 30 digits working precision, with the
           ring value from its closed form. The quadrature error estimate of
           every point is below 1e-18 relative and is stored beside it.

Units as in the module: separations l and radii r in source radii, re the
Einstein radius and rstar the source radius (only rstar/re matters; the grid
uses re = 1). Values are stored as decimal strings with 25 significant digits.

Before writing, the script checks its own formulas on a subset of the grid:
the ring closed form against a direct quadrature over the ring, and the
uniform-disk closed form against the area integral of the ring values.

Usage (from the repository root; about 9 minutes on one core):
    python3 tools/gen_truth_grid.py            # write the file
    python3 tools/gen_truth_grid.py --jobs 2   # the same, on 2 processes
"""

from __future__ import annotations

import argparse
import json
import sys
import time
from concurrent.futures import ProcessPoolExecutor
from pathlib import Path

from mpmath import mp, mpf

ROOT = Path(__file__).resolve().parent.parent
OUTPUT = ROOT / "tests" / "python" / "data" / "truth_grid.json"

CLOSED_FORM_DPS = 50
LD_DPS = 30
STORED_DIGITS = 25
LD_COEFF = "0.6"

# Source radius in Einstein radii.
RHOS = [1e-3, 1e-2, 0.1, 0.5, 1.0, 2.0, 10.0]

# Separations in source radii: the centre and its neighbourhood, inside the
# disk, through the limb down to |l - 1| = 1e-4, and out to 100 source radii.
BASE_SEPARATIONS = [
    0.0, 1e-7, 1e-5, 1e-3, 0.25, 0.5, 0.9, 0.99, 0.995, 0.999, 0.9999,
    1.0,
    1.0001, 1.001, 1.005, 1.01, 1.02, 1.05, 1.1, 1.5, 2.0, 3.0, 5.0, 10.0, 30.0, 100.0,
]

# Distances of the lens from the limb, in Einstein radii, around the edge of
# the module's limb band (|u - rho| < 1e-5).
BAND_EDGE_DELTAS = [1.5e-5, 3e-5, 1e-4]
# Just inside that band (uniform table only): where its limb value is furthest
# from the true magnification.
BAND_INSIDE_DELTAS = [9.9e-6]

# Ring grid: Einstein radius in source radii (re/rstar) for rstar/re in
# RING_RHOS, ring-centre separations, and ring radii r = l + d.
RING_RHOS = [1e-3, 0.1, 1.0, 10.0]
RING_SEPARATIONS = [0.0, 0.3, 1.0, 2.5, 100.0]
RING_OFFSETS = [
    -0.5, -0.1, -1e-2, -1e-3, -1e-4, -3e-5, -1.5e-5, -1.1e-5,
    1e-7, 5e-6, 1.1e-5, 1.5e-5, 3e-5, 1e-4, 1e-3, 1e-2, 0.1, 0.5,
]


def separations_for(rho, deltas=BAND_EDGE_DELTAS):
    ls = set(BASE_SEPARATIONS)
    for delta in deltas:
        for sign in (-1.0, 1.0):
            l = 1.0 + sign * delta / rho
            if 0.0 <= l <= 100.0:
                ls.add(l)
    return sorted(ls)


def ring_cases():
    cases = []
    for rho in RING_RHOS:
        for l in RING_SEPARATIONS:
            radii = {0.0} if l > 0 else set()
            for d in RING_OFFSETS:
                r = l + d
                if r >= 0.0 and (l == 0.0 or abs(d) < l or d > 0):
                    radii.add(r)
            for r in sorted(radii):
                if r == 0.0 and l == 0.0:
                    continue
                cases.append((rho, l, r))
    return cases


# ---------------------------------------------------------------- closed forms

def uniform_disk(u, rho):
    """Witt & Mao magnification of a uniform disk of radius rho (Einstein
    radii) at separation u (Einstein radii); mpf arguments."""
    rho2 = rho * rho
    if u == rho:
        return (((1 + rho2) / rho2) * (mp.asin((rho2 - 1) / (1 + rho2)) + mp.pi / 2)
                + 2 / rho) / mp.pi
    delta = u - rho
    s = u + rho
    t = mp.sqrt(4 + delta * delta)
    n = 4 * u * rho / (s * s)
    m = 4 * n / (t * t)
    e, k, p = mp.ellipe(m), mp.ellipk(m), mp.ellippi(n, m)
    value = (s * t / (2 * rho2) * e
             - delta * (8 + u * u - rho2) / (2 * rho2 * t) * k
             + 2 * delta * delta * (1 + rho2) / (rho2 * s * t) * p)
    return value / mp.pi


def ring_mean(l, r, g):
    """Mean point-source magnification over a ring of radius r whose centre
    is at l from the lens (source radii); g = (re/rstar)^2."""
    d = r - l
    s = l + r
    big_l = 4 * g + d * d
    if abs(d) < mpf(10) ** (-mp.dps // 3) * s:
        # Beyond the working precision of n and m: second-order expansion
        # about the ring through the lens (its error is O(d^2 log d)).
        if d == 0:
            # A node that rounds onto the singular radius: take the nearest
            # representable offset (the integrand is integrably singular).
            d = mp.eps * s
        rho = mp.sqrt(g)
        q = (1 - d / (2 * l)) * (2 * rho / l)
        lam = mp.log(8 * rho * l / (mp.sqrt(l * l + g) * abs(d)))
        c = (2 * l * l + g) * rho / ((l * l + g) * l * l)
        return (q * lam + 4 * mp.atan(l / rho) + c * d) / (2 * mp.pi)
    m = 16 * l * r * g / (s * s * big_l)
    n = 4 * l * r / (s * s)
    k = mp.ellipk(m)
    p = mp.ellippi(n, m) if n else k
    return (2 * g * k + d * d * p) * 4 / (s * mp.sqrt(big_l)) / (2 * mp.pi)


def point_source(u):
    return (u * u + 2) / (u * mp.sqrt(u * u + 4))


def ring_by_quadrature(l, r, g):
    """The ring mean as a direct average over the ring's points."""
    rho = mp.sqrt(g)

    def f(phi):
        return point_source(mp.sqrt(l * l + r * r + 2 * l * r * mp.cos(phi)) / rho)

    return mp.quad(f, [0, mp.pi / 2, mp.pi]) / mp.pi


def split_points(l):
    """Subintervals of [0, 1] for integrals over the ring radius: split at the
    singular radius r = l and refine geometrically towards it."""
    pts = {mpf(0), mpf(1)}
    if 0 < l < 1:
        pts.add(l)
    for j in range(1, 8):
        width = mpf(10) ** (-j)
        for x in (l - width, l + width):
            if 0 < x < 1:
                pts.add(x)
    return sorted(pts)


def disk_mean(l, g, profile, flux):
    """(1/flux) * integral over the unit disk of profile * point-source
    magnification, by rings."""
    integrand = lambda r: 2 * mp.pi * r * profile(r) * ring_mean(l, r, g)
    value, err = mp.quad(integrand, split_points(l), error=True, maxdegree=10)
    return value / flux, err / flux


def linear_ld(r):
    return 1 - mpf(LD_COEFF) * (1 - mp.sqrt(1 - r * r))


# ---------------------------------------------------------------- grid values

def uniform_point(args):
    rho, l = args
    with mp.workdps(CLOSED_FORM_DPS):
        rho_m = mpf(rho)
        value = uniform_disk(mpf(l) * rho_m, rho_m)
        return mp.nstr(value, STORED_DIGITS, strip_zeros=False)


def ring_point(args):
    rho, l, r = args
    with mp.workdps(CLOSED_FORM_DPS):
        g = (1 / mpf(rho)) ** 2
        value = ring_mean(mpf(l), mpf(r), g)
        return mp.nstr(value, STORED_DIGITS, strip_zeros=False)


def ld_point(args):
    rho, l = args
    with mp.workdps(LD_DPS):
        g = (1 / mpf(rho)) ** 2
        # Flux of the linear law over the unit disk: pi (1 - coeff/3).
        flux = mp.pi * (1 - mpf(LD_COEFF) / 3)
        value, err = disk_mean(mpf(l), g, linear_ld, flux)
        return (mp.nstr(value, STORED_DIGITS, strip_zeros=False),
                float(abs(err / value)) if value else float(err))


def self_check():
    """Cross-check the closed forms on a few points; raise on disagreement."""
    with mp.workdps(30):
        for rho, l, r in [(0.1, 0.3, 0.7), (1.0, 2.5, 0.5), (10.0, 1.0, 1.001),
                          (1e-3, 0.3, 0.2), (1.0, 0.0, 0.4)]:
            g = (1 / mpf(rho)) ** 2
            a = ring_mean(mpf(l), mpf(r), g)
            b = ring_by_quadrature(mpf(l), mpf(r), g)
            if abs(a / b - 1) > mpf("1e-20"):
                raise SystemExit(f"ring closed form disagrees at {rho, l, r}: {a} vs {b}")
        # Near-ring expansion against the closed form on both sides of the
        # ring (the expansion is only used far closer, where n rounds to 1).
        with mp.workdps(60):
            g = mpf(100)
            for d in (mpf("1e-14"), mpf("-1e-14")):
                l = mpf("0.3")
                s = 2 * l + d
                exact = ((2 * g * mp.ellipk(16 * l * (l + d) * g / (s * s * (4 * g + d * d)))
                          + d * d * mp.ellippi(4 * l * (l + d) / (s * s),
                                               16 * l * (l + d) * g / (s * s * (4 * g + d * d))))
                         * 4 / (s * mp.sqrt(4 * g + d * d)) / (2 * mp.pi))
                approx = ring_mean(l, l + d, g)
                if abs(approx / exact - 1) > mpf("1e-24"):
                    raise SystemExit(f"near-ring expansion off by {approx / exact - 1}")
        for rho, l in [(0.5, 0.5), (0.5, 2.0), (1e-2, 1.01), (10.0, 0.9999)]:
            g = (1 / mpf(rho)) ** 2
            a = uniform_disk(mpf(l) * mpf(rho), mpf(rho))
            b, _ = disk_mean(mpf(l), g, lambda r: 1, mp.pi)
            if abs(a / b - 1) > mpf("1e-20"):
                raise SystemExit(f"uniform closed form disagrees at {rho, l}: {a} vs {b}")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--jobs", type=int, default=1, help="worker processes")
    parser.add_argument("--output", type=Path, default=OUTPUT)
    args = parser.parse_args(argv)

    t0 = time.time()
    self_check()
    print(f"self-check passed ({time.time() - t0:.1f} s)", file=sys.stderr)

    disk_cases = [(rho, l) for rho in RHOS for l in separations_for(rho)]
    uniform_cases = [(rho, l) for rho in RHOS
                     for l in separations_for(rho, BAND_EDGE_DELTAS + BAND_INSIDE_DELTAS)]
    rings = ring_cases()
    with ProcessPoolExecutor(max_workers=args.jobs) as pool:
        uniform = list(pool.map(uniform_point, uniform_cases))
        ring = list(pool.map(ring_point, rings))
        ld = list(pool.map(ld_point, disk_cases, chunksize=4))
    print(f"grid computed ({time.time() - t0:.1f} s)", file=sys.stderr)

    worst_ld_error = max(err for _, err in ld)
    if worst_ld_error > 1e-18:
        raise SystemExit(f"limb-darkened quadrature error estimate {worst_ld_error:.1e}")

    doc = {
        "description": (
            "Reference magnifications for exact double inputs; re = 1, rstar = "
            "source radius in Einstein radii, l and r in source radii."),
        "generator": "tools/gen_truth_grid.py",
        "digits": {"uniform": CLOSED_FORM_DPS, "ring": CLOSED_FORM_DPS,
                   "ld_working_precision": LD_DPS, "stored": STORED_DIGITS},
        "ld_profile": f"I(r) = 1 - {LD_COEFF} (1 - sqrt(1 - r^2))",
        "uniform": [{"rstar": rho, "l": l, "value": v}
                    for (rho, l), v in zip(uniform_cases, uniform)],
        "ld": [{"rstar": rho, "l": l, "value": v, "quad_error": e}
               for (rho, l), (v, e) in zip(disk_cases, ld)],
        "ring": [{"rstar": rho, "l": l, "r": r, "value": v}
                 for (rho, l, r), v in zip(rings, ring)],
    }
    args.output.parent.mkdir(parents=True, exist_ok=True)
    args.output.write_text(json.dumps(doc, indent=0) + "\n")
    print(f"wrote {args.output} ({len(uniform_cases)} uniform, {len(disk_cases)} "
          f"limb-darkened, {len(rings)} rings)",
          file=sys.stderr)


if __name__ == "__main__":
    main()
