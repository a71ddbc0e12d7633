#!/usr/bin/env python3
"""Generate high-precision reference vectors for the magnification models.

Writes
  tests/python/data/witt_mao.json             uniform disk: grid and near-limb points
  tests/python/data/heyrovsky.json            thin ring: clear rings and near-ring points
  tests/python/data/limb_darkened_disk.json   linear limb darkening (coefficient 0.6)

Every input is the double the tests pass to the module, read exactly; every
reference is rounded to the nearest double only when written.

Independent references:
  uniform disk   closed form in K, E, Pi (mpmath), itself checked against a
                 quadrature over the disk of the point-source magnification
                 A(u) = (u^2 + 2) / (u sqrt(u^2 + 4));
  ring           mean of A over the ring by quadrature in the polar angle; the
                 closed form in K and Pi, checked against it here, serves as
                 the inner integral of the disk below;
  limb darkened  (1/N) int_0^1 2 pi r I(r) ringmean(l, r) dr with
                 I(r) = 1 - 0.6 (1 - sqrt(1 - r^2)) and N = 0.8 pi exactly,
                 split at r = l when the lens lies inside the disk.

Usage: python3 tools/gen_model_vectors.py   (from the repository root; ~1-3 min)
"""

import json
import math
import sys
import time
from pathlib import Path

from mpmath import mp, mpf

ROOT = Path(__file__).resolve().parent.parent
DATA = ROOT / "tests" / "python" / "data"
COMMAND = "python3 tools/gen_model_vectors.py"


def point_magnification(u):
    return (u * u + 2) / (u * mp.sqrt(u * u + 4))


# ---------------------------------------------------------------- uniform disk


def witt_mao(l, rho):
    """Uniform disk of radius rho (Einstein radii), lens at l source radii."""
    l, rho = mpf(l), mpf(rho)
    u = l * rho
    if u == 0:
        return mp.sqrt(rho * rho + 4) / rho
    n = 4 * u * rho / (u + rho) ** 2
    t2 = 4 + (u - rho) ** 2
    m = 4 * n / t2
    t = mp.sqrt(t2)
    E, K, P = mp.ellipe(m), mp.ellipk(m), mp.ellippi(n, m)
    s = ((u + rho) * t / (2 * rho**2) * E
         - (u - rho) * (8 + u * u - rho * rho) / (2 * rho**2 * t) * K
         + 2 * (u - rho) ** 2 * (1 + rho**2) / (rho**2 * (u + rho) * t) * P)
    return s / mp.pi


def chords(u, rho):
    """Rays from the lens: (angle range, chord ends s1(theta), s2(theta)).

    The disk (radius rho, centre at distance u) seen from the lens along the
    angle theta, measured from the direction of the centre."""
    if u < rho:
        # Near the limb the chord length has a kink at theta = pi/2 of width
        # sqrt(rho^2 - u^2) / u: break the interval around it.
        pts, w = [mpf(0), mp.pi / 2, mp.pi], mp.sqrt(rho**2 - u**2) / u if u else mp.pi
        while w < mp.pi / 2:
            pts += [mp.pi / 2 - w, mp.pi / 2 + w]
            w *= 8
        return (sorted(pts),
                lambda th: 0,
                lambda th: u * mp.cos(th) + mp.sqrt(rho**2 - (u * mp.sin(th)) ** 2))
    half = mp.asin(rho / u)
    root = lambda th: mp.sqrt(max(rho**2 - (u * mp.sin(th)) ** 2, 0))
    return ([0, half],
            lambda th: u * mp.cos(th) - root(th),
            lambda th: u * mp.cos(th) + root(th))


def disk_mean_radial_closed(l, rho):
    """Uniform-disk mean of A with the radial integral done in closed form:
    int A(s) s ds = s sqrt(s^2 + 4) / 2."""
    u, rho = mpf(l) * rho, mpf(rho)
    span, s1, s2 = chords(u, rho)
    F = lambda s: s * mp.sqrt(s * s + 4) / 2
    return 2 * mp.quad(lambda th: F(s2(th)) - F(s1(th)), span) / (mp.pi * rho**2)


def disk_mean_2d(l, rho):
    """Uniform-disk mean of A as a plain two-dimensional quadrature."""
    u, rho = mpf(l) * rho, mpf(rho)
    span, s1, s2 = chords(u, rho)
    inner = lambda th: mp.quad(lambda s: point_magnification(s) * s, [s1(th), s2(th)])
    return 2 * mp.quad(inner, span) / (mp.pi * rho**2)


# ----------------------------------------------------------------------- ring


def ring_mean_quad(l, r, g):
    """Mean of A over the ring of radius r centred l from the lens (source
    radii); g = Einstein radius in source radii."""
    l, r, g = mpf(l), mpf(r), mpf(g)
    d = r - l

    def f(th):
        dist = mp.sqrt(d * d + 4 * l * r * mp.sin(th / 2) ** 2)
        return point_magnification(dist / g)

    # The peak at theta = 0 has width |d| / sqrt(l r); break the interval at
    # geometric multiples of that width.
    pts = [mpf(0)]
    if l * r > 0 and d != 0:
        w = abs(d) / mp.sqrt(l * r)
        while w < mp.pi:
            pts.append(w)
            w *= 8
    pts.append(mp.pi)
    return mp.quad(f, pts) / mp.pi


def ring_mean_closed(l, r, g):
    """The ring mean in K and Pi; 1 - n = d^2 / S^2 is formed exactly and the
    precision raised when the ring passes very close to the lens."""
    l, r, g = mpf(l), mpf(r), mpf(g)
    d = r - l
    extra = 0 if d == 0 else max(0, int(-2 * mp.log10(abs(d) / (l + r))))
    with mp.extradps(extra):
        S = l + r
        L = 4 * g * g + d * d
        m = 16 * l * r * g * g / (S * S * L)
        n = 1 - d * d / (S * S)
        val = (2 * g * g * mp.ellipk(m) + d * d * mp.ellippi(n, m)) * 4 / (S * mp.sqrt(L))
        return +(val / (2 * mp.pi))


# -------------------------------------------------------------- limb darkened


def linear_law(r):
    return 1 - mpf("0.6") * (1 - mp.sqrt(1 - r * r))


def disk_weighted_mean(l, g, profile, norm):
    l = mpf(l)
    f = lambda r: 2 * mp.pi * r * profile(r) * ring_mean_closed(l, r, g)
    pts = [0, l, 1] if 0 < l < 1 else [0, 1]
    return mp.quad(f, pts) / norm


# ----------------------------------------------------------------------- main


def as_double(x):
    return float(x)


def rel(a, b):
    return abs(a - b) / abs(b)


def check(label, a, b, tol):
    e = rel(a, b)
    if not e < tol:
        sys.exit(f"cross-check failed: {label}: relative difference {mp.nstr(e, 3)}")
    print(f"  {label}: {mp.nstr(e, 3)}")


def uniform_vectors():
    mp.dps = 50
    rhos = [1e-3, 0.01, 0.1, 0.5, 1.0, 2.0, 10.0]
    ls = [0.0, 1e-3, 0.1, 0.5, 0.9, 1.1, 1.5, 2.0, 5.0, 20.0, 100.0]
    grid = []
    for rho in rhos:  # rho = rstar / re, passed as re = 1, rstar = rho
        for l in ls:
            grid.append([1.0, rho, l, as_double(witt_mao(l, rho))])

    offsets = [3e-5, 1e-4, 1e-3, 1e-2, 0.1]
    near = []
    for rho in [1e-3, 0.1, 0.5, 1.0, 10.0]:
        for off in offsets:
            for sign in (-1, 1):
                l = 1.0 + sign * off
                near.append([1.0, rho, l, as_double(witt_mao(l, rho))])

    print("uniform disk cross-checks (closed form vs quadrature):")
    for rho, l in [(0.5, 0.0), (0.5, 0.5), (0.5, 2.0), (0.1, 0.9), (1.0, 1.5), (10.0, 0.5),
                   (2.0, 1.1), (0.5, 1.0 + 3e-5), (0.5, 1.0 - 3e-5)]:
        check(f"rho={rho} l={l}", witt_mao(l, rho), disk_mean_radial_closed(l, rho), mpf("1e-40"))
    with mp.workdps(20):
        for rho, l in [(0.5, 0.5), (0.5, 2.0), (2.0, 1.1)]:
            check(f"2d rho={rho} l={l}", witt_mao(l, rho), disk_mean_2d(l, rho), mpf("1e-16"))
    return {
        "generated_by": COMMAND,
        "columns": ["re", "rstar", "l", "magnification"],
        "grid": grid,
        "near_limb": near,
    }


def ring_vectors():
    mp.dps = 50
    clear = []
    # (re, rstar, l, r): rings passing well clear of the lens.
    for re, rstar in [(1.0, 1.0), (1.0, 0.1), (1.0, 2.0), (3.0, 0.01)]:
        for l, r in [(0.5, 0.1), (0.1, 0.5), (0.3, 0.9), (0.9, 0.3), (1.5, 0.5), (2.0, 1.0),
                     (5.0, 0.75), (0.05, 1.0), (20.0, 1.0), (0.0, 0.5), (0.5, 0.0)]:
            clear.append([re, rstar, l, r, as_double(ring_mean_quad(l, r, mpf(re) / rstar))])

    near = []
    for re, rstar, l in [(1.0, 1.0, 0.5), (1.0, 0.1, 0.9), (1.0, 2.0, 0.3)]:
        for off in [1e-6, 5e-6, 9e-6, 1.1e-5, 3e-5, 1e-4, 1e-3, 1e-2]:
            for sign in (-1, 1):
                r = l + sign * off
                near.append([re, rstar, l, r, as_double(ring_mean_quad(l, r, mpf(re) / rstar))])

    print("ring cross-checks (closed form vs angular quadrature):")
    for re, rstar, l, r, _ in clear[::5] + near[::7]:
        if l > 0 and r > 0:
            g = mpf(re) / rstar
            check(f"re/rstar={re / rstar} l={l} r={r}", ring_mean_closed(l, r, g),
                  ring_mean_quad(l, r, g), mpf("1e-40"))
    return {
        "generated_by": COMMAND,
        "columns": ["re", "rstar", "l", "r", "magnification"],
        "clear": clear,
        "near_ring": near,
    }


def limb_darkened_vectors():
    mp.dps = 30
    ls = [0.0, 1e-3, 0.01, 0.1, 0.3, 0.5, 0.9, 0.99, 1.01, 1.1, 1.5, 2.0, 5.0, 20.0]
    norm = mpf("0.8") * mp.pi
    print("limb-darkened machinery check (uniform profile vs closed form):")
    for re, rstar, l in [(1.0, 0.5, 0.5), (1.0, 0.5, 2.0)]:
        g = mpf(re) / rstar
        uniform = disk_weighted_mean(l, g, lambda r: 1, mp.pi)
        check(f"re/rstar={g} l={l}", uniform, witt_mao(l, mpf(rstar) / re), mpf("1e-25"))
    print("limb-darkened precision check (30 vs 40 digits):")
    for l in [0.5, 1.5]:
        low = disk_weighted_mean(l, 2, linear_law, norm)
        with mp.workdps(40):
            high = disk_weighted_mean(l, 2, linear_law, mpf("0.8") * mp.pi)
        check(f"re/rstar=2 l={l}", low, high, mpf("1e-25"))
    rows = []
    for re, rstar in [(1.0, 0.1), (1.0, 0.5), (1.0, 2.0)]:
        g = mpf(re) / rstar
        for l in ls:
            t = time.time()
            rows.append([re, rstar, l, as_double(disk_weighted_mean(l, g, linear_law, norm))])
            print(f"  re/rstar={float(g)} l={l}: {rows[-1][3]!r} ({time.time() - t:.1f} s)")
    return {
        "generated_by": COMMAND,
        "profile": "I(r) = 1 - 0.6 (1 - sqrt(1 - r^2)), normalised by its flux 0.8 pi",
        "columns": ["re", "rstar", "l", "magnification"],
        "rows": rows,
    }


def write(name, content):
    DATA.mkdir(parents=True, exist_ok=True)
    path = DATA / name
    path.write_text(json.dumps(content, indent=1) + "\n")
    print(f"wrote {path.relative_to(ROOT)}")


def main():
    write("witt_mao.json", uniform_vectors())
    write("heyrovsky.json", ring_vectors())
    write("limb_darkened_disk.json", limb_darkened_vectors())


if __name__ == "__main__":
    main()
