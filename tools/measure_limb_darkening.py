#!/usr/bin/env python3
"""Measure the routes to limb-darkening laws other than the built-in linear 0.6.

Prints the figures that the README quotes, for the recipes below (a linear
law of any coefficient, flux-map tables of other laws, the far-field
correction), against references computed with mpmath:

1. Linear law, any coefficient u, through
       A_u = [(1 - 5u/3) A_uniform + (4u/3) A_0.6] / (1 - u/3),
   with A_0.6 from integrated_heyrovsky_magnification and A_uniform from the
   closed form, from the ring integral of the table [0, 1] / [1, 1], or from
   uniform_magnification below (closed form, ring integral next to
   the limb); and, for comparison, flux-map tables of the same law.
2. Quadratic, square-root and logarithmic laws as flux-map tables: relative
   error per number of samples and spacing, and cost per separation.
3. Far from the source: the uniform closed form alone and with the
   second-moment correction, against the integrated value.

References: the brightness-weighted mean of the point-source magnification
over the disk, (1/F) * integral_0^1 2 pi r I(r) A_ring(l, r) dr, by tanh-sinh
quadrature at 30 digits with the ring mean in closed form
(tools/gen_truth_grid.py, which checks that closed form against a direct
average over the ring); the uniform disk from its closed form at 50 digits.
Since the magnification is linear in the profile, the linear law's reference
is the same combination of the uniform disk and of the profile mu = sqrt(1 - r^2);
the script checks that combination against direct quadratures of the law,
one of them a 2-D quadrature of the point-source magnification over the disk.

Usage (from the repository root; about 4 minutes on 2 cores):
    python3 tools/measure_limb_darkening.py [--jobs 2] [--references refs.json]
--references keeps the mpmath values in a JSON file and reuses it next time.
"""

from __future__ import annotations

import argparse
import json
import math
import sys
import time
from concurrent.futures import ProcessPoolExecutor
from pathlib import Path

import numpy as np
from scipy.integrate import quad
from mpmath import mp, mpf

import corvanis

ROOT = Path(__file__).resolve().parent.parent
sys.path[:0] = [str(ROOT / "tools")]
from gen_truth_grid import disk_mean, point_source, uniform_disk  # noqa: E402


# ------------------------------------------------------- the recipes measured
def _mu_log_mu(mu):
    with np.errstate(divide="ignore", invalid="ignore"):
        return np.where(mu > 0.0, mu * np.log(mu), 0.0)


# Surface brightness against mu = sqrt(1 - r^2), r in source radii.
RECIPE_LAWS = {
    "linear": lambda mu, c: 1.0 - c[0] * (1.0 - mu),
    "quadratic": lambda mu, c: 1.0 - c[0] * (1.0 - mu) - c[1] * (1.0 - mu) ** 2,
    "square-root": lambda mu, c: 1.0 - c[0] * (1.0 - mu) - c[1] * (1.0 - np.sqrt(mu)),
    "logarithmic": lambda mu, c: 1.0 - c[0] * (1.0 - mu) - c[1] * _mu_log_mu(mu),
}

# Next to the limb (|l - 1| < LIMB_WIDTH source radii, or within 1e-4
# Einstein radii) the uniform disk comes from the ring integral of a uniform
# table: the closed form returns the limb value in a band of 1e-5 Einstein
# radii and loses digits next to it.
LIMB_WIDTH = 0.01
UNIFORM_TABLE = ([0.0, 1.0], [1.0, 1.0])


def profile_table(brightness, samples, spacing):
    """Flux-map table (bl, bf) of a brightness law given as a function of mu.

    spacing: "r" (uniform in r), "mu" (uniform in mu) or "theta" (uniform in
    theta, r = sin(theta)).
    """
    s = np.linspace(0.0, 1.0, samples)
    if spacing == "r":
        r = s
    elif spacing == "mu":
        r = np.sqrt(1.0 - (1.0 - s) ** 2)
    elif spacing == "theta":
        r = np.sin(0.5 * np.pi * s)
    else:
        raise ValueError(f"unknown spacing {spacing!r}")
    r[-1] = 1.0
    mu = np.sqrt(np.maximum(0.0, 1.0 - r * r))
    return r.tolist(), np.asarray(brightness(mu), dtype=float).tolist()


def second_moment(brightness):
    """Brightness-weighted mean of r^2 over the disk (source radii)."""
    def weighted(f):
        return quad(lambda mu: f(mu) * float(brightness(mu)) * mu, 0.0, 1.0,
                    epsabs=0.0, epsrel=1e-13, limit=200)[0]
    return weighted(lambda mu: 1.0 - mu * mu) / weighted(lambda mu: 1.0)


def point_source_magnification(u):
    return (u * u + 2.0) / (u * np.sqrt(u * u + 4.0))


def point_source_laplacian(u):
    """Laplacian of the point-source magnification (u in Einstein radii)."""
    return 32.0 * (u * u + 1.0) / (u ** 3 * (u * u + 4.0) ** 2.5)


def uniform_magnification(l, rho):
    """Uniform source disk at separations l (source radii): the closed form,
    the ring integral of a uniform table next to the limb."""
    l = np.asarray(l, dtype=float)
    limb = (np.abs(l - 1.0) < LIMB_WIDTH) | (np.abs(l - 1.0) * rho < 1e-4)
    a = np.empty_like(l)
    if (~limb).any():
        a[~limb] = corvanis.witt_mao_magnification(l[~limb], 1.0, rho)
    if limb.any():
        a[limb] = corvanis.integrated_flux_map_heyrovsky_magnification(
            l[limb], 1.0, rho, *UNIFORM_TABLE)
    return a


def far_magnification(l, rho, moment):
    """Uniform closed form plus the second-moment difference to a uniform
    disk, (<r^2> - 1/2) rho^2 / 4 times the point-source Laplacian."""
    return (np.asarray(corvanis.witt_mao_magnification(l, 1.0, rho))
            + (moment - 0.5) * rho * rho / 4.0 * point_source_laplacian(l * rho))

DPS = 30
mp.dps = DPS  # differences between references are taken at this precision

# Linear law: source radii (Einstein radii) and separations (source radii);
# for rho = 0.005 the closed form's limb band is |l - 1| < 2e-3.
LINEAR_RHOS = [0.005, 0.1, 1.0]
LINEAR_SEPARATIONS = [0.0, 0.3, 0.9, 0.99, 0.999, 0.9995, 1.0005, 1.001, 1.0021, 1.003,
                      1.01, 1.5, 3.0, 10.0]
LINEAR_COEFFICIENTS = [0.2, 0.45, 0.8, 1.0]

# Other laws, with typical coefficients, on the fitting example's source size.
LAWS = {
    "quadratic": (0.70, 0.12),
    "square-root": (0.30, 0.50),
    "logarithmic": (0.65, 0.20),
}
TABLE_RHO = 0.005
TABLE_SEPARATIONS = [0.0, 0.5, 0.9, 0.99, 1.01, 1.1, 2.0, 5.0]
SAMPLES = [21, 51, 101, 201, 501, 1001, 2001, 5001]
SPACINGS = ["r", "mu", "theta"]


def mp_law(name, c):
    c = [mpf(x) for x in c]
    if name == "mu":
        return lambda mu: mu
    if name == "linear":
        return lambda mu: 1 - c[0] * (1 - mu)
    if name == "quadratic":
        return lambda mu: 1 - c[0] * (1 - mu) - c[1] * (1 - mu) ** 2
    if name == "square-root":
        return lambda mu: 1 - c[0] * (1 - mu) - c[1] * (1 - mp.sqrt(mu))
    if name == "logarithmic":
        return lambda mu: 1 - c[0] * (1 - mu) - c[1] * (mu * mp.log(mu) if mu > 0 else 0)
    raise ValueError(name)


def radial(law):
    return lambda r: law(mp.sqrt(1 - r * r))


def disk_reference(args):
    """(value, quadrature error) of the disk magnification for a law, 30 digits."""
    name, coefficients, rho, l = args
    with mp.workdps(DPS):
        profile = radial(mp_law(name, coefficients))
        flux = mp.quad(lambda r: 2 * mp.pi * r * profile(r), [0, 1])
        value, err = disk_mean(mpf(l), 1 / mpf(rho) ** 2, profile, flux)
        return str(value), float(abs(err / value))


def uniform_reference(rho, l):
    with mp.workdps(50):
        return str(uniform_disk(mpf(l) * mpf(rho), mpf(rho)))


def brute_force_2d(args):
    """Linear law by a 2-D quadrature of the point-source magnification over
    the disk, in polar coordinates about the source centre (lens outside)."""
    u, rho, l = args
    with mp.workdps(20):
        rho, l = mpf(rho), mpf(l)
        law = radial(mp_law("linear", (u,)))

        def inner(r):
            f = lambda phi: point_source(mp.sqrt(l * l + r * r - 2 * l * r * mp.cos(phi)) * rho)
            return 2 * mp.quad(f, [0, mp.pi / 4, mp.pi]) * r * law(r)

        total = mp.quad(inner, [0, mpf(1) / 2, 1])
        return str(total / (mp.pi * (1 - mpf(u) / 3)))


# ------------------------------------------------------------ references
def compute_references(jobs):
    linear_cases = [("mu", (), rho, l) for rho in LINEAR_RHOS for l in LINEAR_SEPARATIONS]
    table_cases = [(name, c, TABLE_RHO, l) for name, c in LAWS.items()
                   for l in TABLE_SEPARATIONS]
    direct_cases = [("linear", (u,), rho, l) for u, rho, l in
                    [(0.3, 0.1, 0.5), (1.0, 0.005, 1.01), (0.8, 1.0, 0.999)]]
    brute_case = (0.3, 0.1, 1.5)
    with ProcessPoolExecutor(max_workers=jobs) as pool:
        brute = pool.submit(brute_force_2d, brute_case)
        mu = list(pool.map(disk_reference, linear_cases))
        tables = list(pool.map(disk_reference, table_cases))
        direct = list(pool.map(disk_reference, direct_cases))
        brute = brute.result()
    return {
        "mu": [[rho, l, v, e] for (_, _, rho, l), (v, e) in zip(linear_cases, mu)],
        "uniform": [[rho, l, uniform_reference(rho, l)]
                    for rho in LINEAR_RHOS for l in LINEAR_SEPARATIONS],
        "tables": [[name, l, v, e] for (name, _, _, l), (v, e) in zip(table_cases, tables)],
        "direct": [[c[0], rho, l, v, e] for (_, c, rho, l), (v, e) in zip(direct_cases, direct)],
        "brute_2d": [*brute_case, brute],
    }


def linear_reference(refs, u, rho, l):
    """A_u = [(1 - u) A_uniform + (2u/3) A_mu] / (1 - u/3), at 30 digits."""
    with mp.workdps(DPS):
        a_mu = mpf(next(v for r, x, v, _ in refs["mu"] if (r, x) == (rho, l)))
        a_uni = mpf(next(v for r, x, v in refs["uniform"] if (r, x) == (rho, l)))
        u = mpf(u)
        return ((1 - u) * a_uni + 2 * u / 3 * a_mu) / (1 - u / 3)


# ------------------------------------------------------------- measures
def rel(got, want):
    return abs(float(mpf(got) / mpf(want) - 1))


def us_per_separation(function, *args, repeat=3):
    l = np.linspace(0.0, 3.0, 40)
    best = math.inf
    for _ in range(repeat):
        start = time.perf_counter()
        function(l, *args)
        best = min(best, time.perf_counter() - start)
    return best / l.size * 1e6


def fresh_linear_reference(u, rho, l):
    """The linear law's reference at a point off the grid, from fresh
    references of the uniform and mu profiles."""
    with mp.workdps(DPS):
        a_mu = mpf(disk_reference(("mu", (), rho, l))[0])
        a_uni = mpf(uniform_reference(rho, l))
        return ((1 - mpf(u)) * a_uni + 2 * mpf(u) / 3 * a_mu) / (1 - mpf(u) / 3)


def check_references(refs):
    print("references: linear law directly against the combination of uniform and mu")
    for u, rho, l, v, err in refs["direct"]:
        combo = linear_reference(refs, u, rho, l) if l in LINEAR_SEPARATIONS else None
        if combo is None:
            combo = fresh_linear_reference(u, rho, l)
        print(f"  u = {u}, rho = {rho}, l = {l}: difference {rel(combo, v):.1e} "
              f"(quadrature error estimate {err:.1e})")
    u, rho, l, v = refs["brute_2d"]
    combo = fresh_linear_reference(u, rho, l)
    print(f"  2-D quadrature of the point-source magnification, u = {u}, rho = {rho}, "
          f"l = {l}: difference {rel(v, combo):.1e}")


def linear_routes(refs):
    print("\n1. linear law through A_u = [(1 - 5u/3) A_uniform + (4u/3) A_0.6] / (1 - u/3):")
    print("   worst relative error over l (at l), per source of A_uniform")
    header = f"{'rho':>6} {'u':>5} {'closed form':>22} {'ring integral':>22} {'closed + ring':>22}"
    print(header)
    for rho in LINEAR_RHOS:
        l = np.array(LINEAR_SEPARATIONS)
        a06 = np.array(corvanis.integrated_heyrovsky_magnification(l, 1.0, rho))
        sources = [np.array(corvanis.witt_mao_magnification(l, 1.0, rho)),
                   np.array(corvanis.integrated_flux_map_heyrovsky_magnification(
                       l, 1.0, rho, [0.0, 1.0], [1.0, 1.0])),
                   uniform_magnification(l, rho)]
        for u in LINEAR_COEFFICIENTS:
            cells = []
            for a_uni in sources:
                a = ((1 - 5 * u / 3) * a_uni + (4 * u / 3) * a06) / (1 - u / 3)
                errors = [rel(x, linear_reference(refs, u, rho, li)) for x, li in zip(a, l)]
                k = int(np.argmax(errors))
                cells.append(f"{errors[k]:.1e} (l={l[k]:g})")
            print(f"{rho:>6} {u:>5} " + " ".join(f"{c:>22}" for c in cells))
    print("   tables of the same law (u = 0.8), worst relative error, rho = 0.005:")
    rho, u = 0.005, 0.8
    law = lambda mu: 1.0 - u * (1.0 - mu)
    l = np.array(LINEAR_SEPARATIONS)
    for spacing, n in [("r", 201), ("r", 1001), ("r", 5001), ("theta", 201), ("theta", 1001)]:
        bl, bf = profile_table(law, n, spacing)
        a = corvanis.integrated_flux_map_heyrovsky_magnification(l, 1.0, rho, bl, bf)
        worst = max(rel(x, linear_reference(refs, u, rho, li)) for x, li in zip(a, l))
        cost = us_per_separation(corvanis.integrated_flux_map_heyrovsky_magnification,
                                 1.0, rho, bl, bf)
        print(f"     {n:5d} samples uniform in {spacing:5}: {worst:.1e}, {cost:5.0f} us")
    cost_a06 = us_per_separation(corvanis.integrated_heyrovsky_magnification, 1.0, rho)
    cost_wm = us_per_separation(corvanis.witt_mao_magnification, 1.0, rho)
    print(f"   cost per separation: integrated_heyrovsky {cost_a06:.0f} us, closed form "
          f"{cost_wm:.2f} us (the ring integral of the uniform table costs like the former)")


def table_laws(refs):
    print(f"\n2. other laws as flux-map tables (rho = {TABLE_RHO}; l = "
          f"{', '.join(map(str, TABLE_SEPARATIONS))}): worst relative error, cost per separation")
    print(f"{'law':>12} {'samples':>7} " + " ".join(f"{s:>17}" for s in SPACINGS))
    l = np.array(TABLE_SEPARATIONS)
    for name, c in LAWS.items():
        law = lambda mu, name=name, c=c: RECIPE_LAWS[name](np.asarray(mu, dtype=float), c)
        for mu in (0.0, 0.3, 1.0):  # the recipes' laws are the ones referenced here
            assert abs(float(mp_law(name, c)(mpf(mu))) - float(law(mu))) < 1e-15
        want = [v for n, x, v, _ in refs["tables"] if n == name]
        for n in SAMPLES:
            cells = []
            for spacing in SPACINGS:
                bl, bf = profile_table(law, n, spacing)
                a = corvanis.integrated_flux_map_heyrovsky_magnification(l, 1.0, TABLE_RHO, bl, bf)
                worst = max(rel(x, w) for x, w in zip(a, want))
                cost = us_per_separation(corvanis.integrated_flux_map_heyrovsky_magnification,
                                         1.0, TABLE_RHO, bl, bf, repeat=2)
                cells.append(f"{worst:.1e} {cost:5.0f} us")
            print(f"{name:>12} {n:7d} " + " ".join(f"{c:>17}" for c in cells))


def far_field():
    print("\n3. far from the source: relative difference to the integrated value")
    ls = np.array([3.0, 5.0, 10.0, 20.0, 30.0, 50.0, 100.0, 300.0])
    print(f"{'':>27}" + "".join(f"{'l=' + format(x, 'g'):>9}" for x in ls))
    laws = [("linear 0.6", None)] + [(n, c) for n, c in LAWS.items()]
    for rho in (0.001, 0.005, 0.1, 1.0):
        for name, c in laws:
            if name == "linear 0.6":
                ref = np.array(corvanis.integrated_heyrovsky_magnification(ls, 1.0, rho))
                moment = second_moment(lambda mu: 1.0 - 0.6 * (1.0 - mu))
            else:
                law = lambda mu, name=name, c=c: RECIPE_LAWS[name](np.asarray(mu, float), c)
                bl, bf = profile_table(law, 5001, "theta")
                ref = np.array(corvanis.integrated_flux_map_heyrovsky_magnification(
                    ls, 1.0, rho, bl, bf))
                moment = second_moment(law)
            if name in ("linear 0.6", "square-root") or rho == 0.005:
                rows = [("closed form", np.array(corvanis.witt_mao_magnification(ls, 1.0, rho))),
                        ("+ correction", far_magnification(ls, rho, moment))]
                if name == "linear 0.6":
                    u = ls * rho
                    rows.append(("point source+", point_source_magnification(u)
                                 + moment * rho * rho / 4.0
                                 * point_source_laplacian(u)))
                for label, a in rows:
                    print(f"{rho:>6} {name[:11]:>11} {label:>13}"
                          + "".join(f"{abs(x / y - 1):9.1e}" for x, y in zip(a, ref)))
    print("   (the table laws' integrated values come from 5001-sample tables, good to ~1e-9)")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--references", type=Path, help="JSON file to keep the mpmath values")
    args = parser.parse_args(argv)
    if args.references and args.references.exists():
        refs = json.loads(args.references.read_text())
    else:
        start = time.time()
        refs = compute_references(args.jobs)
        print(f"references computed in {time.time() - start:.0f} s", file=sys.stderr)
        if args.references:
            args.references.write_text(json.dumps(refs, indent=0) + "\n")
    check_references(refs)
    linear_routes(refs)
    table_laws(refs)
    far_field()


if __name__ == "__main__":
    main()
