#!/usr/bin/env python3
"""30-digit reference magnifications for corvanis_fspl, per basis profile.

Writes tests/python/data/fspl_references.json: for every grid point (u, rho)
(Einstein radii, exact doubles) and every basis profile b(r) (r in source
radii, mu = sqrt(1 - r^2)) the magnification

    A_b(u, rho) = integral_0^1 2 r b(r) A_ring(u, r rho) dr / F_b,
    F_b         = integral_0^1 2 r b(r) dr,

where A_ring(u, R) is the mean of A_ps(x) = (x^2 + 2)/(x sqrt(x^2 + 4)) over
the circle of radius R about the source centre. The magnification is linear
in the profile, so a law I = sum_j w_j b_j gives
    A_I = sum_j w_j F_j A_j / sum_j w_j F_j.

Method (independent of the package's disk superposition and mean-value
series): the ring route. A_ring is the closed form of gen_truth_grid.ring_mean,
    A_ring = (2 K(m) + d^2 Pi(n, m)) * 4 / (s sqrt(4 + d^2)) / (2 pi),
    d = R - u, s = R + u, n = 4uR/s^2, m = 16uR/(s^2 (4 + d^2)),
evaluated at 50 digits as ONE Bulirsch complete integral
    2K + d^2 Pi = cel(k_c, p, 2 + d^2, 2p + d^2),  p = 1 - n = d^2/s^2,
    k_c^2 = 1 - m = d^2 (s^2 + 4)/(s^2 (d^2 + 4)),
so that the complements are never formed by subtraction (d is passed in from
the quadrature node's offset to the lens-crossing radius r0 = u/rho) and it is
about 15 times faster than mpmath's ellippi. The self-check compares it with
gen_truth_grid.ring_mean and with a direct average over the ring.
The r-integral is tanh-sinh quadrature (own nested levels, h = 1/8, 1/16, ...,
every node carries its offsets from both ends of its piece, so 1 - r and d
are exact near the ends), split at r0 = u/rho (log singularity of A_ring),
at every table breakpoint and geometrically towards r0 when r0 lies just
outside a piece. One ring evaluation per node serves every basis.
Per piece, levels are added until the last level changed no basis by more
than 1e-25 of its total; the sum of those last changes, relative, is stored
as "quad_error" (a conservative bound: tanh-sinh roughly doubles the number
of correct digits per level) and must be below 1e-21 for every value.

Exact inputs: u, rho, the exponents p and the table samples are taken as the
exact binary doubles written in the JSON (so mu^0.3 means mu^0.299999...
of the double 0.3, as the package will receive it). Values: 25 significant
digits, as strings.

Gradients (--gradients, a separate run; writes
tests/python/data/fspl_gradient_references.json): dA_b/du and dA_b/drho at the
same points except x = u/rho = 1 exactly (they diverge there), without
differentiating the singular integrand:
  * rho d/drho (F A) = 2 b(1) (A_ring(u, rho) - c) - int (4 r b + 2 r^2 b') (A_ring - c) dr
    (integration by parts of r d/dr A_ring(u, r rho); any constant c will do,
    c = A_disk(u, rho) keeps the integrand of the size of the result);
  * A is unchanged when u, rho and the Einstein radius scale together, so
    u dA/du = <g> - rho dA/drho, <g> the profile mean of
    g(x) = x A_ps'(x) = -8/(x (x^2 + 4)^(3/2)); its ring mean is
    (u d/du + R d/dR) A_ring = d/dlam A_ring(lam u, lam R) at lam = 1, taken
    by a complex step (lam = 1 + i 10^-dps) through the same cel.
The working precision is 32 digits plus those lost to cancellation (far from
the source dA/drho is of relative size (rho/u)^2 u^-4; near u = 0, u dA/du is
a difference of terms (u/rho)^-2 larger), estimated per point from the
uniform disk; the tanh-sinh tolerance is set against the size of each
derivative. "error_du"/"error_drho" are the summed last-level changes,
relative, and must be below 1e-18. Gradient self-checks: fourth-order finite
differences of the values' quadrature at 60 digits (10 points, every basis),
the note's rim identity dA_disk/du = (2/rho) <A_ps cos theta> and its
dA_disk/drho = 2 (A_ring - A_disk)/rho, the complex step against a numerical
derivative, and the by-product A against fspl_references.json.

Self-checks (before writing; worst relative disagreement printed, the run
fails above the stated limits): the note ../shared/notes/finite-source-math.md
(1) uniform-disk closed form from the complements (Carlson R_F, R_G, R_J)
against "mu^0" on the whole grid; (2) disk superposition for "mu^1" and
"mu^0.5"; (3) mean-value series (note's M_k recurrence) for "mu^0" and
"mu^1" at u >= 2 rho; (4) the u = 0 closed forms; plus (5) the two tables
by mpmath's own quad over gen_truth_grid.ring_mean at three points, the ring
closed form here against gen_truth_grid.ring_mean and a direct ring average,
and the fluxes against the quadrature.

Usage (from the repository root, on ONE process; about 9 minutes on one core
of this machine: 5 for the 221 points, 4 for the self-checks):
    python3 tools/gen_fspl_references.py                # values
    python3 tools/gen_fspl_references.py --gradients    # gradients (about 17 minutes)
    python3 tools/gen_fspl_references.py --quick        # a few points, no write
"""

from __future__ import annotations

import argparse
import json
import sys
import time
from pathlib import Path

import numpy as np
from mpmath import mp, mpc, mpf

sys.path.insert(0, str(Path(__file__).resolve().parent))
from gen_truth_grid import (point_source, ring_by_quadrature,  # noqa: E402
                            ring_mean, split_points, uniform_disk)

ROOT = Path(__file__).resolve().parent.parent
OUTPUT = ROOT / "tests" / "python" / "data" / "fspl_references.json"
GRAD_OUTPUT = ROOT / "tests" / "python" / "data" / "fspl_gradient_references.json"

RING_DPS = 50            # ring closed form and all node arithmetic
STORED_DIGITS = 25
QUAD_TOL = mpf("1e-25")  # per-level change allowed, relative to each total
MAX_QUAD_ERROR = 1e-21   # stored error estimates must be below this
MAX_GRAD_ERROR = 1e-18   # the same for the derivatives
FIRST_LEVEL, MAX_LEVEL = 3, 9

RHOS = [1e-5, 1e-3, 0.01, 0.1, 1.0, 10.0, 100.0]
XS = [0.0, 1e-3, 0.3, 0.7, 0.99, 1 - 1e-6, 1 - 1e-9, 1 - 1e-12, 1.0,
      1 + 1e-12, 1 + 1e-9, 1 + 1e-6, 1.01, 1.3, 1.7, 1.99, 2.0, 2.01, 2.5,
      5.0, 30.0, 1e3, 1e6]
RANDOM_SEED = 20261208
N_RANDOM = 60

POWERS = [0.0, 0.3, 0.5, 0.8, 1.0, 1.5, 2.0, 2.5]
TABLE_R = ([0.0, 0.2, 0.5, 0.8, 0.95, 1.0], [1.0, 0.97, 0.85, 0.6, 0.4, 0.25])
TABLE_MU = ([0.0, 0.05, 0.2, 0.5, 1.0], [0.3, 0.45, 0.6, 0.85, 1.0])


def power_name(p):
    return f"mu^{p:g}"


BASIS_NAMES = [power_name(p) for p in POWERS] + ["mu_ln_mu", "table_r", "table_mu"]


# ---------------------------------------------------------------- grid

def grid_points():
    """(u, rho, x, set) with u = x * rho in double precision."""
    pts = [(x * rho, rho, x, "grid") for rho in RHOS for x in XS]
    rng = np.random.default_rng(RANDOM_SEED)
    log_rho = rng.uniform(-5.0, 2.0, N_RANDOM)
    log_x = rng.uniform(-3.0, 3.0, N_RANDOM)
    for lr, lx in zip(log_rho, log_x):
        rho = float(10.0 ** lr)
        x = float(10.0 ** lx)
        pts.append((x * rho, rho, x, "random"))
    return pts


# ---------------------------------------------------------------- ring

def cel(kc, p, a, b):
    """Bulirsch's complete elliptic integral, p > 0 (real or complex):
    int_0^{pi/2} (a cos^2 + b sin^2) / ((cos^2 + p sin^2) sqrt(cos^2 + kc^2 sin^2))."""
    tol = mpf(2) ** (-(mp.prec // 2) - 4)
    qc = kc
    e = qc
    em = mpf(1)
    p = mp.sqrt(p)
    b = b / p
    while True:
        f = a
        a = a + b / p
        g = e / p
        b = 2 * (b + f * g)
        p = g + p
        g = em
        em = em + qc
        if abs(g - qc) <= abs(g) * tol:
            break
        qc = 2 * mp.sqrt(e)
        e = qc * em
    return mp.pi / 2 * (b + a * em) / (em * (em + p))


def ring(u, R, d):
    """A_ring(u, R) with d = R - u supplied exactly (d != 0 unless u = R = 0)."""
    s = u + R
    d2 = d * d
    s2 = s * s
    big_l = 4 + d2
    p = d2 / s2
    kc = mp.sqrt(d2 * (s2 + 4) / (s2 * big_l))
    return 2 * cel(kc, p, 2 + d2, 2 * p + d2) / (s * mp.sqrt(big_l) * mp.pi)


def ring_scaling_derivative(u, R, d, eta):
    """(A_ring, (u d/du + R d/dR) A_ring): A_ring(lam u, lam R) with d and s
    scaled by lam = 1 + i eta (complex step; n = 4uR/s^2 does not change)."""
    lam = mpc(1, eta)
    s = lam * (u + R)
    dd = lam * d
    d2 = dd * dd
    s2 = s * s
    big_l = 4 + d2
    p = (d * d) / ((u + R) ** 2)
    kc = mp.sqrt(d2 * (s2 + 4) / (s2 * big_l))
    val = 2 * cel(kc, p, 2 + d2, 2 * p + d2) / (s * mp.sqrt(big_l) * mp.pi)
    return val.real, val.imag / eta


# ---------------------------------------------------------------- bases

def exact(v):
    """mpf of an exact double (an mpf is kept as it is)."""
    return v if isinstance(v, mpf) else mpf(float(v))


class Bases:
    """Basis profiles at the working precision: values, derivatives b'(r),
    limb values b(1), exact fluxes and the pieces of [0, 1] they need."""

    def __init__(self):
        self.powers = [exact(p) for p in POWERS]
        self.tr_r = [exact(v) for v in TABLE_R[0]]
        self.tr_i = [exact(v) for v in TABLE_R[1]]
        self.tm_mu = [exact(v) for v in TABLE_MU[0]]
        self.tm_i = [exact(v) for v in TABLE_MU[1]]
        # Breakpoints in r (table_mu's in mu map to r = sqrt(1 - mu^2)) with
        # their exact complements 1 - r.
        self.breaks = {}
        for r in self.tr_r[1:-1]:
            self.breaks[r] = 1 - r
        for m in self.tm_mu[1:-1]:
            r = mp.sqrt(1 - m * m)
            self.breaks[r] = (m * m) / (1 + r)
        self.n = len(BASIS_NAMES)

    def fluxes(self):
        out = [2 / (p + 2) for p in self.powers]
        out.append(mpf(-2) / 9)
        # table_r: int 2 r I dr, I linear on each piece -> exact.
        f = mpf(0)
        for j in range(len(self.tr_r) - 1):
            r0, r1, i0, i1 = self.tr_r[j], self.tr_r[j + 1], self.tr_i[j], self.tr_i[j + 1]
            slope = (i1 - i0) / (r1 - r0)
            c0 = i0 - slope * r0
            f += c0 * (r1 ** 2 - r0 ** 2) + slope * 2 * (r1 ** 3 - r0 ** 3) / 3
        out.append(f)
        # table_mu: r dr = -mu dmu, so F = int_0^1 2 mu I(mu) dmu.
        f = mpf(0)
        for j in range(len(self.tm_mu) - 1):
            m0, m1, i0, i1 = self.tm_mu[j], self.tm_mu[j + 1], self.tm_i[j], self.tm_i[j + 1]
            slope = (i1 - i0) / (m1 - m0)
            c0 = i0 - slope * m0
            f += c0 * (m1 ** 2 - m0 ** 2) + slope * 2 * (m1 ** 3 - m0 ** 3) / 3
        out.append(f)
        return out

    def limb(self):
        """b(r = 1) per basis."""
        return ([mpf(1) if p == 0 else mpf(0) for p in self.powers]
                + [mpf(0), self.tr_i[-1], self.tm_i[0]])

    def segments(self, rmid, mumid):
        jr = max(j for j in range(len(self.tr_r) - 1) if self.tr_r[j] <= rmid)
        jm = max(j for j in range(len(self.tm_mu) - 1) if self.tm_mu[j] <= mumid)
        return jr, jm

    def values(self, r, omr, seg, derivative=False):
        """[b_j(r)] and, with derivative=True, also [b_j'(r)]."""
        mu2 = omr * (1 + r)
        lnmu2 = mp.log(mu2)
        mu = mp.sqrt(mu2)
        vals = []
        for p in self.powers:
            if p == 0:
                vals.append(mpf(1))
            elif p == 2:
                vals.append(mu2)
            elif p == 1:
                vals.append(mu)
            else:
                vals.append(mp.exp(p * lnmu2 / 2))
        vals.append(mu * lnmu2 / 2)
        jr, jm = seg
        tr_slope = (self.tr_i[jr + 1] - self.tr_i[jr]) / (self.tr_r[jr + 1] - self.tr_r[jr])
        vals.append(self.tr_i[jr] + tr_slope * (r - self.tr_r[jr]))
        tm_slope = (self.tm_i[jm + 1] - self.tm_i[jm]) / (self.tm_mu[jm + 1] - self.tm_mu[jm])
        vals.append(self.tm_i[jm] + tm_slope * (mu - self.tm_mu[jm]))
        if not derivative:
            return vals
        # d mu / dr = -r / mu
        dmu = -r / mu
        ders = []
        for p, v in zip(self.powers, vals):
            ders.append(mpf(0) if p == 0 else p * v / mu * dmu)
        ders.append((lnmu2 / 2 + 1) * dmu)
        ders.append(tr_slope)
        ders.append(tm_slope * dmu)
        return vals, ders


# ---------------------------------------------------------------- tanh-sinh

_LEVELS = {}


def ts_level(level, ymax):
    """Nodes added at `level` (step h = 2^-level; all nodes at FIRST_LEVEL):
    list of (fa, fb, w) with fa, fb the fractions of the piece from its left
    and right ends and w the weight without the factor h * length / 2."""
    key = (level, ymax, mp.prec)
    if key in _LEVELS:
        return _LEVELS[key]
    h = mpf(2) ** (-level)
    tmax = mp.asinh(2 * ymax / mp.pi)
    kmax = int(tmax / h) + 1
    out = []
    for k in range(-kmax, kmax + 1):
        if level > FIRST_LEVEL and k % 2 == 0:
            continue
        t = k * h
        y = mp.pi / 2 * mp.sinh(t)
        ey = mp.exp(y)
        fa = 1 / (1 + 1 / (ey * ey))
        fb = 1 / (1 + ey * ey)
        w = mp.pi / 2 * mp.cosh(t) * 4 / (ey + 1 / ey) ** 2
        out.append((fa, fb, w))
    _LEVELS[key] = out
    return out


class Piece:
    """[a, b] with exact 1 - a, 1 - b and d = rho*r - u at both ends."""

    def __init__(self, a, b, oma, omb, da, db):
        self.a, self.b, self.oma, self.omb, self.da, self.db = a, b, oma, omb, da, db
        self.length = b - a


def pieces_for(u, rho, bases, extra_geometric=True):
    """Split [0, 1] at the breakpoints, at r0 = u/rho and geometrically towards
    r0 where it lies just outside a piece."""
    r0 = u / rho
    pts = {mpf(0): mpf(1), mpf(1): mpf(0)}
    pts.update(bases.breaks)
    r0_inside = 0 <= r0 <= 1
    if 0 < r0 < 1:
        pts[r0] = 1 - r0   # u, rho exact doubles: 1 - u/rho at 50 digits
    keys = sorted(pts)
    if extra_geometric:
        more = {}
        for a, b in zip(keys[:-1], keys[1:]):
            if r0_inside and (a == r0 or b == r0):
                continue
            if r0 >= b:
                delta, edge, sign = r0 - b, b, -1
            elif r0 <= a:
                delta, edge, sign = a - r0, a, 1
            else:
                continue
            step = delta
            while step < (b - a) / 2:
                q = edge + sign * step
                more[q] = 1 - q
                step *= 4
        pts.update(more)
        keys = sorted(pts)

    def dval(r):
        if r == r0:
            return mpf(0)
        return rho * r - u

    return [Piece(a, b, pts[a], pts[b], dval(a), dval(b)) for a, b in zip(keys[:-1], keys[1:])]


def integrate(pieces, node_fn, nvals, rel_tol, ymax, rho, scale=None):
    """Tanh-sinh over every piece of the vector integrand node_fn(r, omr, d, piece).
    Returns (totals, error_estimates) with error estimates the summed last-level
    changes. Levels are added per piece until every component's change is below
    rel_tol * |its total| / (number of pieces)."""
    npieces = len(pieces)
    sums = []      # per piece: running sum of w * f over all nodes so far
    results = []   # per piece: list of per-level estimates
    levels = []

    def add_level(piece, level, acc):
        half = piece.length / 2
        for fa, fb, w in ts_level(level, ymax):
            if fa <= fb:
                off = piece.length * fa
                r = piece.a + off
                omr = piece.oma - off
                d = piece.da + rho * off
            else:
                off = piece.length * fb
                r = piece.b - off
                omr = piece.omb + off
                d = piece.db - rho * off
            vals = node_fn(r, omr, d, piece)
            for j in range(nvals):
                acc[j] += w * vals[j]
        h = mpf(2) ** (-level)
        return [acc[j] * h * half for j in range(nvals)]

    for piece in pieces:
        acc = [mpf(0)] * nvals
        est_prev = add_level(piece, FIRST_LEVEL, acc)
        est = add_level(piece, FIRST_LEVEL + 1, acc)
        sums.append(acc)
        results.append([est_prev, est])
        levels.append(FIRST_LEVEL + 1)
    totals = [sum(res[-1][j] for res in results) for j in range(nvals)]
    if scale is None:
        scale = [abs(t) for t in totals]
    for i, piece in enumerate(pieces):
        while True:
            cur, prev = results[i][-1], results[i][-2]
            ok = all(abs(cur[j] - prev[j]) <= rel_tol * scale[j] / npieces
                     for j in range(nvals))
            if ok or levels[i] >= MAX_LEVEL:
                break
            levels[i] += 1
            results[i].append(add_level(piece, levels[i], sums[i]))
    totals = [sum(res[-1][j] for res in results) for j in range(nvals)]
    errors = [sum(abs(res[-1][j] - res[-2][j]) for res in results) for j in range(nvals)]
    return totals, errors, levels



# ---------------------------------------------------------------- values

def value_point(u_d, rho_d, bases, fluxes):
    """Magnification of every basis at (u, rho); returns (A list, rel errors, info)."""
    u, rho = exact(u_d), exact(rho_d)
    pieces = pieces_for(u, rho, bases)
    nb = bases.n

    def node_fn(r, omr, d, piece):
        a_ring = ring(u, r * rho, d)
        vals = bases.values(r, omr, piece.seg)
        two_r_ring = 2 * r * a_ring
        return [two_r_ring * v for v in vals]

    for piece in pieces:
        rmid = (piece.a + piece.b) / 2
        piece.seg = bases.segments(rmid, mp.sqrt(1 - rmid * rmid))
    totals, errors, levels = integrate(pieces, node_fn, nb, QUAD_TOL, 60, rho)
    values = [t / f for t, f in zip(totals, fluxes)]
    rel = [float(e / abs(t)) for e, t in zip(errors, totals)]
    return values, rel, {"pieces": len(pieces), "max_level": max(levels)}


# ---------------------------------------------------------------- gradients

def gradient_scales(u_d, rho_d):
    """Rough |rho dA/drho| / A and |u dA/du| / A of the uniform disk (Witt & Mao
    closed form of gen_truth_grid at 150 digits), and the disk value itself:
    they set the working precision and the quadrature tolerance."""
    with mp.workdps(150):
        u, rho = exact(u_d), exact(rho_d)
        a = uniform_disk(u, rho)
        est_rho = abs(2 * (ring(u, rho, rho - u) - a)) / a
        if u == 0:
            est_u = None
        else:
            h = u * mpf("1e-4") * min(1, abs(u - rho) / u)
            est_u = abs(uniform_disk(u + h, rho) - a) / h * u / a
        return a, est_rho, est_u


def gradient_point(u_d, rho_d, bases, fluxes, limbs):
    """(A, dA/du, dA/drho, rel. error estimates) of every basis at (u, rho).

    rho d/drho (F A) = 2 b(1) (A_ring(u, rho) - c) - int (4 r b + 2 r^2 b') (A_ring - c) dr
    u dA/du          = <g> - rho dA/drho,   <g> = int 2 r b G_ring dr / F,
    with c = A_disk(u, rho) (any constant will do; this one keeps the
    integrand of the size of the derivative)."""
    a_disk, est_rho, est_u = gradient_scales(u_d, rho_d)
    smallest = min(est_rho, est_u) if est_u is not None else est_rho
    lost = max(0, int(mp.ceil(-mp.log10(smallest))))
    kappa = 1 + (est_rho / est_u if est_u else 0)       # cancellation in u dA/du
    lost_u = max(0, int(mp.ceil(mp.log10(kappa))))
    dps = 32 + lost + lost_u
    with mp.workdps(dps):
        u, rho = exact(u_d), exact(rho_d)
        c = +a_disk
        eta = mpf(10) ** (-dps)
        pieces = pieces_for(u, rho, bases)
        nb = bases.n
        for piece in pieces:
            rmid = (piece.a + piece.b) / 2
            piece.seg = bases.segments(rmid, mp.sqrt(1 - rmid * rmid))

        def node_fn(r, omr, d, piece):
            a_ring, g_ring = ring_scaling_derivative(u, r * rho, d, eta)
            vals, ders = bases.values(r, omr, piece.seg, derivative=True)
            dev = a_ring - c
            out = []
            for v, dv in zip(vals, ders):
                out.append(2 * r * v * a_ring)                    # F A
                out.append((4 * r * v + 2 * r * r * dv) * dev)    # by parts
                out.append(2 * r * v * g_ring)                    # F <g>
            return out

        # Absolute accuracy wanted: 1e-25 of |F| A for F A, of |F rho dA/drho|
        # for the by-parts integral and of |F u dA/du| for F <g>.
        scale = []
        for f in fluxes:
            base = abs(f) * c
            scale += [base, base * est_rho, base * (est_u if est_u else est_rho)]
        totals, errors, levels = integrate(pieces, node_fn, 3 * nb, mpf("1e-25"), 400, rho,
                                           scale)
        a_limb_dev = ring(u, rho, rho - u) - c
        results = []
        for j in range(nb):
            fa, byparts, fg = totals[3 * j: 3 * j + 3]
            ea, eb, eg = errors[3 * j: 3 * j + 3]
            f = fluxes[j]
            rho_drho = (2 * limbs[j] * a_limb_dev - byparts) / f
            g_mean = fg / f
            u_du = g_mean - rho_drho
            err_drho = eb / abs(f * rho_drho)
            err_du = (eg + eb) / abs(f * u_du) if u != 0 else mpf(0)
            results.append((fa / f, u_du / u if u != 0 else mpf(0), rho_drho / rho,
                            float(err_du), float(err_drho), float(ea / abs(fa))))
        return results, {"dps": dps, "pieces": len(pieces), "max_level": max(levels)}


def fd_gradient(u_d, rho_d, bases, fluxes, dps=60):
    """dA/du, dA/drho of every basis by a fourth-order central difference of
    the values' own quadrature (at dps digits, tolerance 1e-40)."""
    global QUAD_TOL
    saved = QUAD_TOL
    QUAD_TOL = mpf("1e-40")
    try:
        with mp.workdps(dps):
            u, rho = exact(u_d), exact(rho_d)
            scale = min(abs(u - rho), rho, max(u, rho))
            h = scale * mpf("1e-6")

            def vals(uu, rr):
                # value_point takes doubles only to make mpf of them; pass mpf.
                return value_point(uu, rr, bases, fluxes)[0]

            out = []
            for which in ("u", "rho"):
                f = {}
                for k in (-2, -1, 1, 2):
                    f[k] = vals(u + k * h, rho) if which == "u" else vals(u, rho + k * h)
                out.append([(8 * (f[1][j] - f[-1][j]) - (f[2][j] - f[-2][j])) / (12 * h)
                            for j in range(bases.n)])
            return out
    finally:
        QUAD_TOL = saved


def rim_cosine_derivative(u_d, rho_d):
    """Note: dA_disk/du = (2/rho) <A_ps cos theta> over the source's rim."""
    u, rho = exact(u_d), exact(rho_d)
    f = lambda th: point_source(mp.sqrt(u * u + rho * rho + 2 * u * rho * mp.cos(th))) * mp.cos(th)
    return 2 / rho * mp.quad(f, [0, mp.pi / 2, mp.pi]) / mp.pi


# ---------------------------------------------------------------- self-checks

def note_uniform_disk(u, rho):
    """The note's uniform-disk closed form from the complements 1 - m, 1 - n."""
    if u == rho:
        rho2 = rho * rho
        return (2 / rho + ((1 + rho2) / rho2) * (mp.pi / 2 + mp.asin((rho2 - 1) / (rho2 + 1)))) / mp.pi
    d, s = u - rho, u + rho
    d2, s2 = d * d, s * s
    n = 4 * u * rho / s2
    m = 16 * u * rho / (s2 * (d2 + 4))
    one_n = d2 / s2
    one_m = d2 * (s2 + 4) / (s2 * (d2 + 4))
    k = mp.elliprf(0, one_m, 1)
    e = 2 * mp.elliprg(0, one_m, 1)
    pi_nm = k + n / 3 * mp.elliprj(0, one_m, 1, one_n)
    t = mp.sqrt(4 + d2)
    rho2 = rho * rho
    return (s * t / (2 * rho2) * e - d * (8 + u * u - rho2) / (2 * rho2 * t) * k
            + 2 * d2 * (1 + rho2) / (rho2 * s * t) * pi_nm) / mp.pi


def note_superposition(u, rho, p, bases):
    """Note: A_I = [I(1) A_disk(u, rho) + int_0^1 (-I'(s)) s^2 A_disk(u, s rho) ds]
    / [I(1) + int_0^1 (-I'(s)) s^2 ds], for I = mu^p (limb value I(1) = 0),
    with the note's A_disk; -I'(s) = p s (1 - s^2)^(p/2 - 1). Tanh-sinh in s
    split at s = u/rho (1 - s exact at the limb end)."""
    pieces = pieces_for(u, rho, bases)

    def fn(s, oms, d, piece):
        w = p * s ** 3 * mp.exp((p / 2 - 1) * mp.log(oms * (1 + s)))
        return [w * note_uniform_disk(u, s * rho), w]

    tot, _, _ = integrate(pieces, fn, 2, mpf("1e-24"), 150, rho)
    return tot[0] / tot[1]


def note_series(u, rho, moment, tol):
    """Note: A = sum_k M_k(u) mu_k (rho/u)^{2k}, M_k from the four-term
    recurrence of the Taylor coefficients of F(w) = (w+2)/sqrt(w(w+4))."""
    w0 = u * u
    p0 = w0 * (w0 + 2) * (w0 + 4)
    p1 = 3 * w0 * w0 + 12 * w0 + 8
    p2 = 3 * w0 + 6
    # c_n: Taylor coefficients in t = w - w0; e_n = c_n w0^n.
    c = [(w0 + 2) / mp.sqrt(w0 * (w0 + 4))]
    e = [c[0]]
    total, k = mpf(0), 0
    q = (rho / u) ** 2
    while True:
        while len(c) <= 2 * k:
            nn = len(c) - 1
            nxt = (p1 * nn + 4) * c[nn]
            if nn >= 1:
                nxt += p2 * (nn - 1) * c[nn - 1]
            if nn >= 2:
                nxt += (nn - 2) * c[nn - 2]
            c.append(-nxt / (p0 * (nn + 1)))
            e.append(c[-1] * w0 ** (nn + 1))
        mk = sum(e[n] * mp.binomial(n, 2 * (n - k)) * mp.binomial(2 * (n - k), n - k)
                 for n in range(k, 2 * k + 1))
        term = mk * moment(k) * q ** k
        total += term
        if k > 3 and abs(term) < tol * abs(total):
            return total
        k += 1


def self_checks(points, results, bases, fluxes, strict=True):
    """The note's identities against the references; returns a dict of the
    worst relative disagreements."""
    idx = {name: j for j, name in enumerate(BASIS_NAMES)}
    report = {}
    with mp.workdps(RING_DPS):
        # Ring closed form (cel) against gen_truth_grid.ring_mean and a direct
        # average over the ring.
        worst_rm = worst_rq = mpf(0)
        for u, R in [("0.3", "0.7"), ("1", "1.000000000001"), ("100", "0.001"),
                     ("1e-5", "3e-6"), ("0", "0.5"), ("2", "1.9"), ("1e8", "50")]:
            u, R = mpf(u), mpf(R)
            a = ring(u, R, R - u)
            with mp.workdps(2 * RING_DPS):   # ring_mean forms 1 - m by subtraction
                b = ring_mean(mpf(u), mpf(R), mpf(1))
            worst_rm = max(worst_rm, abs(a / b - 1))
        with mp.workdps(30):
            for u, R in [("0.3", "0.7"), ("1", "1.1"), ("2", "1.9"), ("0.001", "0.0007")]:
                u, R = mpf(u), mpf(R)
                worst_rq = max(worst_rq, abs(ring(u, R, R - u) / ring_by_quadrature(u, R, mpf(1)) - 1))
        report["ring_cel_vs_gen_truth_grid_ring_mean_50dps"] = worst_rm
        report["ring_cel_vs_direct_ring_average_30dps"] = worst_rq

        # Fluxes by the same quadrature (u = 0 is not needed: use the node
        # values of b only).
        pieces = pieces_for(mpf("0.37"), mpf(1), bases)
        for piece in pieces:
            rmid = (piece.a + piece.b) / 2
            piece.seg = bases.segments(rmid, mp.sqrt(1 - rmid * rmid))
        tot, _, _ = integrate(pieces, lambda r, omr, d, pc: [2 * r * v for v in bases.values(r, omr, pc.seg)],
                              bases.n, QUAD_TOL, 60, mpf(1))
        report["fluxes_closed_form_vs_quadrature"] = max(abs(t / f - 1) for t, f in zip(tot, fluxes))

        # (1) uniform disk from the complements, every point.
        worst, where = mpf(0), None
        for (u_d, rho_d, x, _), res in zip(points, results):
            ref = res["raw"]["mu^0"]
            val = note_uniform_disk(exact(u_d), exact(rho_d))
            err = abs(val / ref - 1)
            if err > worst:
                worst, where = err, (u_d, rho_d, x)
        report["1_uniform_disk_complements_vs_mu^0_all_points"] = worst
        report["1_worst_at_(u,rho,x)"] = where
        # The form gen_truth_grid uses (1 - m formed by subtraction, mpmath
        # ellippi) at 50 digits, near the limb, for comparison.
        worst_sub = mpf(0)
        for (u_d, rho_d, x, _), res in zip(points, results):
            if x != 1.0 and 0 < abs(x - 1) <= 1e-6:
                ref = res["raw"]["mu^0"]
                worst_sub = max(worst_sub, abs(uniform_disk(exact(u_d), exact(rho_d)) / ref - 1))
        report["1b_subtracting_form_at_50dps_near_limb"] = worst_sub

        # (2) disk superposition for mu^1 and mu^0.5 at a few points.
        worst = mpf(0)
        with mp.workdps(35):
            for (u_d, rho_d, x, kind), res in zip(points, results):
                if kind != "grid" or rho_d not in (1e-3, 1.0, 100.0) or x not in (0.3, 1 - 1e-9, 1.01, 2.5):
                    continue
                for name, p in (("mu^1", mpf(1)), ("mu^0.5", mpf("0.5"))):
                    val = note_superposition(exact(u_d), exact(rho_d), p, bases)
                    worst = max(worst, abs(val / res["raw"][name] - 1))
        report["2_disk_superposition_mu^1_mu^0.5"] = worst

        # (3) mean-value series at u >= 2 rho.
        worst = mpf(0)
        mom = {"mu^0": lambda k: mpf(1) / (k + 1),
               "mu^1": lambda k: 3 * mp.beta(k + 1, mpf(3) / 2) / 2}
        with mp.workdps(60):
            for (u_d, rho_d, x, kind), res in zip(points, results):
                if x < 2 or (kind == "grid" and x not in (2.0, 2.5, 5.0, 30.0, 1e6)):
                    continue
                if kind == "random" and x > 10:
                    continue
                for name in ("mu^0", "mu^1"):
                    val = note_series(exact(u_d), exact(rho_d), mom[name], mpf("1e-40"))
                    worst = max(worst, abs(val / res["raw"][name] - 1))
        report["3_mean_value_series_mu^0_mu^1"] = worst

        # (4) u = 0 closed forms.
        worst = mpf(0)
        for (u_d, rho_d, x, _), res in zip(points, results):
            if u_d != 0:
                continue
            rho = exact(rho_d)
            r2 = rho * rho
            a1 = mp.sqrt(r2 + 4) / rho
            a_mu2 = (rho * (r2 + 2) * mp.sqrt(r2 + 4) - 8 * mp.asinh(rho / 2)) / rho ** 4
            a_mu = (2 * (r2 + 2) * mp.ellipe(-r2 / 4) - (r2 + 4) * mp.ellipk(-r2 / 4)) / rho ** 3
            for name, v in (("mu^0", a1), ("mu^2", a_mu2), ("mu^1", a_mu)):
                worst = max(worst, abs(v / res["raw"][name] - 1))
        report["4_u0_closed_forms_mu^0_mu^1_mu^2"] = worst

        # (5) The two tables by another quadrature: mpmath's quad (split at
        # r0, at the breakpoints and around r0) over gen_truth_grid.ring_mean.
        worst = mpf(0)
        with mp.workdps(30):
            tr_r, tr_i = bases.tr_r, bases.tr_i
            tm_mu, tm_i = bases.tm_mu, bases.tm_i

            def interp(xs, ys, v):
                j = max(k for k in range(len(xs) - 1) if xs[k] <= v)
                return ys[j] + (ys[j + 1] - ys[j]) * (v - xs[j]) / (xs[j + 1] - xs[j])

            profiles = {"table_r": lambda r: interp(tr_r, tr_i, r),
                        "table_mu": lambda r: interp(tm_mu, tm_i, mp.sqrt(1 - r * r))}
            for (u_d, rho_d, x, kind), res in zip(points, results):
                if kind != "grid" or (rho_d, x) not in ((0.01, 0.7), (1.0, 1.3), (100.0, 0.99)):
                    continue
                u, rho = exact(u_d), exact(rho_d)
                l, g = u / rho, 1 / (rho * rho)
                pts = sorted(set(split_points(l)) | set(bases.breaks))
                for name, prof in profiles.items():
                    val = mp.quad(lambda r: 2 * r * prof(r) * ring_mean(l, r, g), pts)
                    worst = max(worst, abs(val / fluxes[idx[name]] / res["raw"][name] - 1))
        report["5_tables_by_mpmath_quad_over_ring_mean"] = worst
    return report


# ---------------------------------------------------------------- main

def fmt(v):
    return mp.nstr(v, STORED_DIGITS, strip_zeros=False)


def basis_table(bases, fluxes):
    out = []
    for j, name in enumerate(BASIS_NAMES):
        entry = {"name": name, "flux": fmt(fluxes[j])}
        if j < len(POWERS):
            entry.update({"kind": "power", "p": POWERS[j], "b": f"mu^{POWERS[j]!r}"})
        elif name == "mu_ln_mu":
            entry.update({"kind": "mu_ln_mu", "b": "mu ln mu"})
        elif name == "table_r":
            entry.update({"kind": "table_r", "b": "piecewise linear in r",
                          "r": TABLE_R[0], "I": TABLE_R[1]})
        else:
            entry.update({"kind": "table_mu", "b": "piecewise linear in mu",
                          "mu": TABLE_MU[0], "I": TABLE_MU[1]})
        out.append(entry)
    return out


CONVENTIONS = (
    "u, rho in Einstein radii (exact doubles; u = x*rho computed in double). "
    "r in [0,1] radius on the source in source radii, mu = sqrt(1 - r^2). "
    "A[name] = int_0^1 2 r b(r) A_ring(u, r rho) dr / flux, flux = int_0^1 2 r b(r) dr "
    "(uniform: flux = 1); A_ring(u, R) the mean of A_ps over the circle of radius R "
    "about the source centre; A_ps(x) = (x^2+2)/(x sqrt(x^2+4)). A law I = sum_j w_j b_j "
    "gives A_I = sum_j w_j flux_j A_j / sum_j w_j flux_j. Exponents and table samples "
    "are the exact doubles written here. Values: 25 significant digits.")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--gradients", action="store_true",
                        help="write the gradient references instead of the values")
    parser.add_argument("--quick", action="store_true", help="a few points, no files written")
    parser.add_argument("--only", type=int, nargs="*", help="point indices (testing)")
    parser.add_argument("--output", type=Path, default=OUTPUT)
    parser.add_argument("--grad-output", type=Path, default=GRAD_OUTPUT)
    args = parser.parse_args(argv)

    t_start = time.time()
    mp.dps = RING_DPS
    bases = Bases()
    fluxes = bases.fluxes()
    if args.gradients:
        grad_main(args, bases, fluxes)
        return
    points = grid_points()
    if args.quick:
        points = [pt for i, pt in enumerate(points) if i % 23 in (0, 5, 8, 9, 16)][:12]
    if args.only:
        points = [points[i] for i in args.only]

    results = []
    for i, (u_d, rho_d, x, kind) in enumerate(points):
        t0 = time.time()
        values, rel, info = value_point(u_d, rho_d, bases, fluxes)
        results.append({
            "u": u_d, "rho": rho_d, "x": x, "set": kind,
            "A_ps": fmt(point_source(exact(u_d))) if u_d > 0 else "inf",
            "A": {n: fmt(v) for n, v in zip(BASIS_NAMES, values)},
            "quad_error": {n: float(f"{e:.2e}") for n, e in zip(BASIS_NAMES, rel)},
            "raw": dict(zip(BASIS_NAMES, values)),
        })
        print(f"[{i + 1}/{len(points)}] rho={rho_d!r} x={x!r} pieces={info['pieces']} "
              f"level={info['max_level']} err={max(rel):.1e} {time.time() - t0:.1f}s",
              file=sys.stderr, flush=True)
    t_values = time.time() - t_start
    worst_err = max(max(r["quad_error"].values()) for r in results)
    print(f"values: {len(points)} points in {t_values:.0f} s, worst quadrature "
          f"error estimate {worst_err:.1e}", file=sys.stderr)

    t0 = time.time()
    report = self_checks(points, results, bases, fluxes)
    for k, v in report.items():
        print(f"  check {k}: {mp.nstr(v, 3) if not isinstance(v, tuple) else v}", file=sys.stderr)
    print(f"self-checks {time.time() - t0:.0f} s", file=sys.stderr)
    limits = {"ring_cel_vs_gen_truth_grid_ring_mean_50dps": 1e-40,
              "ring_cel_vs_direct_ring_average_30dps": 1e-25,
              "fluxes_closed_form_vs_quadrature": 1e-22,
              "1_uniform_disk_complements_vs_mu^0_all_points": 1e-20,
              "2_disk_superposition_mu^1_mu^0.5": 1e-20,
              "3_mean_value_series_mu^0_mu^1": 1e-20,
              "4_u0_closed_forms_mu^0_mu^1_mu^2": 1e-20,
              "5_tables_by_mpmath_quad_over_ring_mean": 1e-15}
    failed = [k for k, lim in limits.items() if not report[k] <= lim]
    if worst_err > MAX_QUAD_ERROR:
        failed.append(f"quadrature error estimate {worst_err:.1e}")
    if failed:
        raise SystemExit(f"self-check failed: {failed}")
    if args.quick or args.only:
        return

    doc = {
        "description": "30-digit reference magnifications of a finite source by a point lens, "
                       "per basis brightness profile, for corvanis_fspl.",
        "generator": "tools/gen_fspl_references.py",
        "conventions": CONVENTIONS,
        "digits": {"ring_closed_form": RING_DPS, "working": RING_DPS, "stored": STORED_DIGITS,
                   "quad_error_limit": MAX_QUAD_ERROR},
        "random_seed": RANDOM_SEED,
        "bases": basis_table(bases, fluxes),
        "self_checks": {k: (float(v) if not isinstance(v, tuple) else list(v))
                        for k, v in report.items()},
        "points": [{k: v for k, v in r.items() if k != "raw"} for r in results],
    }
    args.output.parent.mkdir(parents=True, exist_ok=True)
    args.output.write_text(json.dumps(doc, indent=1) + "\n")
    print(f"wrote {args.output} ({len(points)} points, {time.time() - t_start:.0f} s)",
          file=sys.stderr)


def gradient_self_checks(points, grads, bases, fluxes):
    """Independent checks of the gradient references; worst relative
    disagreements (the note's uniform-disk identities included)."""
    idx = {name: j for j, name in enumerate(BASIS_NAMES)}
    report = {}
    # Complex step through cel against a numerical derivative along lam.
    worst = mpf(0)
    with mp.workdps(60):
        for u, R in [("0.3", "0.7"), ("1", "1.000000000001"), ("1e-5", "3e-6"),
                     ("0", "0.5"), ("2", "1.9"), ("100", "0.001")]:
            u, R = mpf(u), mpf(R)
            _, g_cs = ring_scaling_derivative(u, R, R - u, mpf(10) ** -60)
            with mp.workdps(120):
                g_num = mp.diff(lambda lam: ring(lam * u, lam * R, lam * (R - u)), mpf(1))
            worst = max(worst, abs(g_cs / g_num - 1))
    report["G0_ring_complex_step_vs_numerical_derivative"] = worst
    by_key = {(p[1], p[2]): g for p, g in zip(points, grads)}
    # Fourth-order differences of the values' own quadrature, every basis.
    worst_u = worst_r = mpf(0)
    for rho, x in [(1e-3, 0.3), (1e-3, 1 - 1e-6), (1e-3, 1.01), (1e-3, 2.5), (1.0, 0.7),
                   (1.0, 1 + 1e-9), (1.0, 5.0), (100.0, 0.3), (100.0, 1.3), (0.01, 30.0)]:
        if (rho, x) not in by_key:
            continue
        g = by_key[(rho, x)]
        du, drho = fd_gradient(x * rho, rho, bases, fluxes)
        for j in range(bases.n):
            worst_u = max(worst_u, abs(du[j] / g["raw_du"][j] - 1))
            worst_r = max(worst_r, abs(drho[j] / g["raw_drho"][j] - 1))
    report["G1_finite_differences_of_value_quadrature_du"] = worst_u
    report["G1_finite_differences_of_value_quadrature_drho"] = worst_r
    # Note: dA_disk/du = (2/rho) <A_ps cos theta> over the rim.
    worst = mpf(0)
    with mp.workdps(45):
        for (u_d, rho_d, x, kind), g in zip(points, grads):
            if kind == "grid" and x in (0.3, 0.7, 1.3, 2.5, 5.0):
                worst = max(worst, abs(rim_cosine_derivative(u_d, rho_d) / g["raw_du"][idx["mu^0"]] - 1))
    report["G2_note_rim_identity_dA_disk_du"] = worst
    # Note: dA_disk/drho = 2 (A_ring(u, rho) - A_disk(u, rho)) / rho, with the
    # note's complement form of A_disk, at 200 digits, every point.
    worst = mpf(0)
    with mp.workdps(200):
        for (u_d, rho_d, x, kind), g in zip(points, grads):
            u, rho = exact(u_d), exact(rho_d)
            v = 2 * (ring(u, rho, rho - u) - note_uniform_disk(u, rho)) / rho
            worst = max(worst, abs(v / g["raw_drho"][idx["mu^0"]] - 1))
    report["G3_note_identity_dA_disk_drho_all_points"] = worst
    # The by-product A against the committed values (another precision,
    # another truncation of the tanh-sinh sums).
    worst = None
    if OUTPUT.exists():
        ref = {(p["u"], p["rho"]): p["A"] for p in json.loads(OUTPUT.read_text())["points"]}
        worst = mpf(0)
        for (u_d, rho_d, x, kind), g in zip(points, grads):
            if (u_d, rho_d) in ref:
                for j, name in enumerate(BASIS_NAMES):
                    worst = max(worst, abs(g["raw_a"][j] / mpf(ref[(u_d, rho_d)][name]) - 1))
    report["G4_A_by_product_vs_fspl_references_json"] = worst
    # Far away: the derivatives approach the point source's.
    worst = mpf(0)
    with mp.workdps(40):
        for (u_d, rho_d, x, kind), g in zip(points, grads):
            if x == 1e6:
                u = exact(u_d)
                dps_du = -8 / (u * u * (u * u + 4) ** mpf(1.5))
                worst = max(worst, max(abs(v / dps_du - 1) for v in g["raw_du"]))
    report["G5_far_field_x=1e6_vs_point_source_derivative (information)"] = worst
    return report


def grad_main(args, bases, fluxes):
    t_start = time.time()
    limbs = bases.limb()
    points = [pt for pt in grid_points() if pt[2] != 1.0]
    if args.quick:
        points = [pt for i, pt in enumerate(points) if i % 22 in (2, 7, 8, 13, 21)][:10]
    if args.only:
        points = [points[i] for i in args.only]
    grads = []
    for i, (u_d, rho_d, x, kind) in enumerate(points):
        t0 = time.time()
        res, info = gradient_point(u_d, rho_d, bases, fluxes, limbs)
        with mp.workdps(40):
            u = exact(u_d)
            dps_du = -8 / (u * u * (u * u + 4) ** mpf(1.5)) if u != 0 else None
        grads.append({
            "u": u_d, "rho": rho_d, "x": x, "set": kind,
            "dA_ps_du": fmt(dps_du) if dps_du is not None else "-inf",
            "dA_du": {n: fmt(r[1]) for n, r in zip(BASIS_NAMES, res)},
            "dA_drho": {n: fmt(r[2]) for n, r in zip(BASIS_NAMES, res)},
            "error_du": {n: float(f"{r[3]:.2e}") for n, r in zip(BASIS_NAMES, res)},
            "error_drho": {n: float(f"{r[4]:.2e}") for n, r in zip(BASIS_NAMES, res)},
            "working_digits": info["dps"],
            "raw_a": [r[0] for r in res], "raw_du": [r[1] for r in res],
            "raw_drho": [r[2] for r in res],
        })
        worst = max(max(r[3], r[4]) for r in res)
        print(f"[{i + 1}/{len(points)}] rho={rho_d!r} x={x!r} dps={info['dps']} "
              f"pieces={info['pieces']} level={info['max_level']} err={worst:.1e} "
              f"{time.time() - t0:.1f}s", file=sys.stderr, flush=True)
    worst_err = max(max(max(g["error_du"].values()), max(g["error_drho"].values())) for g in grads)
    print(f"gradients: {len(points)} points in {time.time() - t_start:.0f} s, worst error "
          f"estimate {worst_err:.1e}", file=sys.stderr)
    t0 = time.time()
    report = gradient_self_checks(points, grads, bases, fluxes)
    for k, v in report.items():
        print(f"  check {k}: {mp.nstr(v, 3) if v is not None else 'skipped'}", file=sys.stderr)
    print(f"gradient self-checks {time.time() - t0:.0f} s", file=sys.stderr)
    limits = {"G0_ring_complex_step_vs_numerical_derivative": 1e-40,
              "G1_finite_differences_of_value_quadrature_du": 1e-18,
              "G1_finite_differences_of_value_quadrature_drho": 1e-18,
              "G2_note_rim_identity_dA_disk_du": 1e-18,
              "G3_note_identity_dA_disk_drho_all_points": 1e-18,
              "G4_A_by_product_vs_fspl_references_json": 1e-20}
    failed = [k for k, lim in limits.items() if report[k] is not None and not report[k] <= lim]
    if worst_err > MAX_GRAD_ERROR:
        failed.append(f"gradient error estimate {worst_err:.1e}")
    if failed:
        raise SystemExit(f"gradient self-check failed: {failed}")
    if args.quick or args.only:
        return
    doc = {
        "description": "30-digit reference derivatives dA/du and dA/drho of the finite-source "
                       "point-lens magnification, per basis brightness profile, for corvanis_fspl; "
                       "the points of fspl_references.json except x = u/rho = 1 exactly, where "
                       "they diverge.",
        "generator": "tools/gen_fspl_references.py --gradients",
        "conventions": CONVENTIONS + " A law's derivatives: dA_I = sum_j w_j flux_j dA_j / "
                       "sum_j w_j flux_j. dA_du = 0 at u = 0 (symmetry). error_*: quadrature "
                       "error estimates, relative.",
        "digits": {"working": "32 + digits lost to cancellation (per point)",
                   "stored": STORED_DIGITS, "error_limit": MAX_GRAD_ERROR},
        "random_seed": RANDOM_SEED,
        "bases": basis_table(bases, fluxes),
        "self_checks": {k: (float(v) if v is not None else None) for k, v in report.items()},
        "points": [{k: v for k, v in g.items() if not k.startswith("raw_")} for g in grads],
    }
    args.grad_output.parent.mkdir(parents=True, exist_ok=True)
    args.grad_output.write_text(json.dumps(doc, indent=1) + "\n")
    print(f"wrote {args.grad_output} ({len(points)} points, {time.time() - t_start:.0f} s)",
          file=sys.stderr)


if __name__ == "__main__":
    main()
