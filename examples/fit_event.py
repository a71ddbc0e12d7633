"""Fit a microlensing event in which the lens crosses a limb-darkened source.

The script simulates a two-band event (parameters below, fixed seed), writes
each band to a text file of (time, magnitude, error) and reads it back as a
user's own photometry would be read. It then fits the finite-source point-lens
model (t0, u0, tE, rho), with the source and blend fluxes of each band solved
linearly for every trial:

1. a point-source (Paczynski) fit gives the starting point;
2. scipy.optimize.least_squares fits the limb-darkened model;
3. when emcee is installed, a short MCMC gives medians and 68% intervals,
   checked against the true values;
4. the same fit with a uniform source shows what ignoring limb darkening does;
5. one likelihood evaluation is timed with one thread and with all cores
   (child processes with CORVANIS_NUM_THREADS=1 and unset).

Limb darkening differs per band and needs nothing beyond the module's functions:
a linear law of any coefficient through the exact combination of the uniform
disk and the built-in linear law 0.6, other laws through a flux-map table
(profile_table), and far from the source the uniform closed form with a
second-moment correction. Separations are in source radii.

    python examples/fit_event.py [--outdir DIR] [--quick] [--no-mcmc] [--steps N]

Needs numpy and scipy; matplotlib (plots), emcee (MCMC) and tqdm (progress
bars) are used when installed: pip install ".[examples]".
"""

from __future__ import annotations

import argparse
import math
import os
import subprocess
import sys
import time
from dataclasses import dataclass, field
from pathlib import Path

import numpy as np
from scipy.integrate import quad
from scipy.optimize import least_squares
from scipy.stats import chi2 as chi2_distribution

import corvanis

try:  # optional: progress bars
    from tqdm import tqdm
except ImportError:  # pragma: no cover
    tqdm = None

# ------------------------------------------------------------------ the event
# Times in days (HJD - 2450000); u0 and rho in Einstein radii. u0 < rho, so
# the lens crosses the source, passing 0.48 source radii from its centre.
TRUE = {"t0": 9204.35, "u0": 0.0024, "tE": 21.0, "rho": 0.0050}
NAMES = ("t0", "u0", "tE", "rho")
UNITS = {"t0": "d", "u0": "", "tE": "d", "rho": ""}
FORMATS = {"t0": ".5f", "tE": ".3f"}
ZERO_POINT = 18.0   # magnitude of unit flux
SEED = 20240612


@dataclass
class Band:
    """One photometric band: its limb-darkening law and, for the simulation,
    its true fluxes and cadence."""

    name: str
    law: str                      # "linear", "quadratic", "square-root" or "logarithmic"
    coefficients: tuple
    source_flux: float            # 1 = a star of magnitude ZERO_POINT
    blend_flux: float
    survey_per_night: int         # survey epochs per night within survey_days
    survey_days: float
    followup_step: float          # days between follow-up epochs over the peak
    table: tuple = field(default=(), repr=False)
    moment: float = field(default=0.0, repr=False)

    def __post_init__(self):
        if self.law != "linear":
            self.table = profile_table(self.brightness, TABLE_SAMPLES, TABLE_SPACING)
        self.moment = second_moment(self.brightness)

    def brightness(self, mu):
        return LAWS[self.law](np.asarray(mu, dtype=float), self.coefficients)


# ------------------------------------------------------- limb-darkening laws
def _mu_log_mu(mu):
    with np.errstate(divide="ignore", invalid="ignore"):
        return np.where(mu > 0.0, mu * np.log(mu), 0.0)


# Surface brightness against mu = sqrt(1 - r^2), r in source radii.
LAWS = {
    "linear": lambda mu, c: 1.0 - c[0] * (1.0 - mu),
    "quadratic": lambda mu, c: 1.0 - c[0] * (1.0 - mu) - c[1] * (1.0 - mu) ** 2,
    "square-root": lambda mu, c: 1.0 - c[0] * (1.0 - mu) - c[1] * (1.0 - np.sqrt(mu)),
    "logarithmic": lambda mu, c: 1.0 - c[0] * (1.0 - mu) - c[1] * _mu_log_mu(mu),
}

# Tables sampled uniformly in the angle theta, r = sin(theta), mu = cos(theta):
# evenly spread in r at the centre and in mu at the limb, where the laws have
# their square-root edge. 501 samples reach 1e-6 for the quadratic,
# square-root and logarithmic laws; 5001 samples uniform in r are still off
# by up to 1e-5 (README, "Limb-darkening laws with the module's functions").
TABLE_SAMPLES = 501
TABLE_SPACING = "theta"


def profile_table(brightness, samples=TABLE_SAMPLES, spacing=TABLE_SPACING):
    """Flux-map table (bl, bf) of a brightness law given as a function of mu,
    for integrated_flux_map_heyrovsky_magnification.

    spacing: "r" (uniform in r), "mu" (uniform in mu = sqrt(1 - r^2)) or
    "theta" (uniform in theta, r = sin(theta)).
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
    """Brightness-weighted mean of r^2 over the disk (source radii):
    integral of (1 - mu^2) I mu dmu over integral of I mu dmu, mu from 0 to 1."""
    def weighted(f):
        return quad(lambda mu: f(mu) * float(brightness(mu)) * mu, 0.0, 1.0,
                    epsabs=0.0, epsrel=1e-13, limit=200)[0]
    return weighted(lambda mu: 1.0 - mu * mu) / weighted(lambda mu: 1.0)


# ------------------------------------------------------------- magnification
# Beyond this separation (source radii) the disk is replaced by the uniform
# closed form plus the second-moment correction: relative error about
# 9/64 |<r^4> - 1/3| / l^4: about 1e-6 at l = 10 and 1e-8 at l = 30.
FAR_SEPARATION = 30.0
# Within this distance of the limb (source radii), or within 1e-4 Einstein
# radii of it, the uniform disk comes from the ring integral of a uniform
# table: the closed form returns the limb value in a band of 1e-5 Einstein
# radii and loses digits next to it.
LIMB_WIDTH = 0.01
UNIFORM_TABLE = ([0.0, 1.0], [1.0, 1.0])


def point_source_laplacian(u):
    """Laplacian of the point-source magnification (u in Einstein radii)."""
    return 32.0 * (u * u + 1.0) / (u ** 3 * (u * u + 4.0) ** 2.5)


def uniform_magnification(l, rho):
    """Uniform source disk at separations l (source radii), rho = rstar/re."""
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
    """Disk far from the lens: uniform closed form plus the second-moment
    difference to a uniform disk, (<r^2> - 1/2) rho^2 / 4 times the Laplacian
    of the point-source magnification."""
    return (np.asarray(corvanis.witt_mao_magnification(l, 1.0, rho))
            + (moment - 0.5) * rho * rho / 4.0 * point_source_laplacian(l * rho))


def disk_magnification(l, rho, band, far=FAR_SEPARATION):
    """Magnification of the band's limb-darkened source at separations l."""
    l = np.asarray(l, dtype=float)
    a = np.empty_like(l)
    near = l < far
    if (~near).any():
        a[~near] = far_magnification(l[~near], rho, band.moment)
    if near.any():
        ln = l[near]
        if band.law == "linear":
            # The magnification is linear in the profile, and the law
            # 1 - u(1 - mu) is a combination of the uniform profile and the
            # built-in law 0.6, so for any u, exactly (fluxes normalised):
            # A_u = [(1 - 5u/3) A_uniform + (4u/3) A_0.6] / (1 - u/3).
            u = band.coefficients[0]
            a06 = np.asarray(corvanis.integrated_heyrovsky_magnification(ln, 1.0, rho))
            a[near] = ((1.0 - 5.0 * u / 3.0) * uniform_magnification(ln, rho)
                       + (4.0 * u / 3.0) * a06) / (1.0 - u / 3.0)
        else:
            a[near] = corvanis.integrated_flux_map_heyrovsky_magnification(
                ln, 1.0, rho, *band.table)
    return a


def point_source_magnification(u):
    return (u * u + 2.0) / (u * np.sqrt(u * u + 4.0))


def separations(t, t0, u0, tE, rho):
    """Lens-source separations in source radii."""
    return np.hypot(u0, (t - t0) / tE) / rho


# ------------------------------------------------------------------ the data
def band_setup(quick):
    """The two bands: I with a linear law (exact combination), V with a
    quadratic law (table). quick: fewer epochs."""
    thin = 3 if quick else 1
    return [
        Band("I", "linear", (0.55,), source_flux=0.50, blend_flux=0.30,
             survey_per_night=3 // thin, survey_days=45.0, followup_step=0.005 * thin ** 2),
        Band("V", "quadratic", (0.70, 0.12), source_flux=0.25, blend_flux=0.20,
             survey_per_night=1, survey_days=20.0 / thin, followup_step=0.015 * thin ** 2),
    ]


def photometric_error(mag):
    """Errors grow with magnitude: 3 mmag floor, 1% at magnitude 18."""
    return np.hypot(0.003, 0.01 * 10.0 ** (0.2 * (mag - 18.0)))


def observing_times(band, rng):
    """Survey epochs on 70% of nights, plus follow-up over the peak."""
    t0 = TRUE["t0"]
    times = []
    first = math.floor(t0 - band.survey_days)
    for night in range(int(2 * band.survey_days) + 1):
        if rng.random() < 0.7:
            start = first + night + 0.1 + 0.05 * rng.random()
            times.extend(start + 0.1 * k for k in range(band.survey_per_night))
    times.extend(np.arange(t0 - 0.3, t0 + 0.35, band.followup_step))
    return np.sort(np.asarray(times))


def simulate(outdir, bands, rng):
    """Write one file per band: time, magnitude, error."""
    paths = []
    p = TRUE
    for band in bands:
        t = observing_times(band, rng)
        a = disk_magnification(separations(t, p["t0"], p["u0"], p["tE"], p["rho"]),
                               p["rho"], band)
        mag = ZERO_POINT - 2.5 * np.log10(band.source_flux * a + band.blend_flux)
        err = photometric_error(mag)
        mag = mag + err * rng.standard_normal(t.size)
        path = outdir / f"fit_event_{band.name}.dat"
        np.savetxt(path, np.column_stack([t, mag, err]), fmt=["%.6f", "%.5f", "%.5f"],
                   header=f"band {band.name}: time [HJD - 2450000]  magnitude  error")
        paths.append(path)
    return paths


@dataclass
class Photometry:
    band: Band
    t: np.ndarray
    mag: np.ndarray
    err: np.ndarray
    flux: np.ndarray = field(init=False)
    flux_err: np.ndarray = field(init=False)

    def __post_init__(self):
        self.flux = 10.0 ** (-0.4 * (self.mag - ZERO_POINT))
        self.flux_err = 0.4 * math.log(10.0) * self.flux * self.err


def read_photometry(paths, bands):
    data = []
    for path, band in zip(paths, bands):
        t, mag, err = np.loadtxt(path, unpack=True)
        data.append(Photometry(band, t, mag, err))
    return data


# ----------------------------------------------------------------- the model
def solve_fluxes(a, d):
    """Source and blend flux minimising chi^2 for magnifications a."""
    w = 1.0 / d.flux_err ** 2
    s0, s1, s2 = w.sum(), (w * a).sum(), (w * a * a).sum()
    y0, y1 = (w * d.flux).sum(), (w * a * d.flux).sum()
    det = s0 * s2 - s1 * s1
    return (s0 * y1 - s1 * y0) / det, (s2 * y0 - s1 * y1) / det


class Model:
    """Residuals and chi^2 of one magnification model on all bands."""

    def __init__(self, data, magnification, label=""):
        self.data, self.magnification = data, magnification
        self.label, self.evaluations, self.bar = label, 0, None

    def magnifications(self, params):
        t0, u0, tE, rho = params
        return [self.magnification(separations(d.t, t0, u0, tE, rho), rho, d.band)
                for d in self.data]

    def residuals(self, params):
        self.evaluations += 1
        if self.bar is not None:
            self.bar.update()
        out = []
        for a, d in zip(self.magnifications(params), self.data):
            fs, fb = solve_fluxes(a, d)
            out.append((d.flux - fs * a - fb) / d.flux_err)
        return np.concatenate(out)

    def chi2(self, params):
        r = self.residuals(params)
        return float(r @ r)

    def fit(self, start, bounds):
        if tqdm is not None:
            self.bar = tqdm(desc=f"least squares ({self.label})", unit=" models", leave=False)
        try:
            result = least_squares(self.residuals, start, bounds=bounds, x_scale="jac",
                                   xtol=1e-10, ftol=1e-10)
        finally:
            if self.bar is not None:
                self.bar.close()
                self.bar = None
        cov = np.linalg.inv(result.jac.T @ result.jac)
        return result.x, np.sqrt(np.diag(cov)), cov, 2.0 * result.cost


def point_source_band(l, rho, band):
    return point_source_magnification(l * rho)


def uniform_band(l, rho, band):
    return uniform_magnification(l, rho)


def paczynski_start(data):
    """Point-source fit over a small grid of starts; rho from the peak."""
    brightest = max(data, key=lambda d: len(d.t))
    t_peak = brightest.t[np.argmax(brightest.flux)]
    model = Model(data, point_source_band, "point source")
    best = None
    for u0 in (1e-3, 1e-2, 0.1):
        for tE in (5.0, 20.0, 60.0):
            # rho = 1 keeps l in Einstein radii for the point-source model.
            r = least_squares(lambda p: model.residuals((*p, 1.0)), (t_peak, u0, tE),
                              bounds=([-np.inf, 0.0, 0.1], [np.inf, 1.0, 1e3]), x_scale="jac")
            if best is None or r.cost < best.cost:
                best = r
    t0, u0, tE = best.x
    # The finite source caps the peak near 2/rho for a crossing, where the
    # point source reaches 1/u0: start rho at 2 u0 and u0 at half of it.
    return np.array([t0, 0.5 * u0, tE, 2.0 * u0]), 2.0 * best.cost


# ---------------------------------------------------------------------- MCMC
def run_mcmc(model, best, cov, steps, walkers=16, seed=SEED):
    import emcee

    def log_probability(p):
        if p[1] < 0.0 or p[2] <= 0.0 or p[3] <= 0.0:
            return -np.inf
        return -0.5 * model.chi2(p)

    rng = np.random.default_rng(seed)
    start = rng.multivariate_normal(best, 0.1 * cov, size=walkers)
    start[:, 1:] = np.abs(start[:, 1:])
    sampler = emcee.EnsembleSampler(walkers, len(best), log_probability)
    sampler.random_state = np.random.RandomState(seed).get_state()
    sampler.run_mcmc(start, steps, progress=tqdm is not None)
    return sampler.get_chain(discard=steps // 3, flat=True)


# ------------------------------------------------------------------- timing
def time_likelihood(outdir, params, repeat):
    """Seconds per likelihood evaluation in this process (the fastest of
    repeat calls: the least disturbed by other work on the machine)."""
    bands = band_setup(quick=False)  # the laws; the epochs come from the files
    data = read_photometry([outdir / f"fit_event_{b.name}.dat" for b in bands], bands)
    model = Model(data, disk_magnification)
    model.chi2(params)
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        model.chi2(params)
        times.append(time.perf_counter() - start)
    return min(times)


def time_in_child(outdir, params, threads, repeat):
    """Runs the timing in a fresh interpreter: corvanis reads its thread count
    at import. threads None leaves the default (all cores)."""
    env = dict(os.environ)
    for name in ("CORVANIS_NUM_THREADS", "OMP_NUM_THREADS"):
        env.pop(name, None)
    if threads is not None:
        env["CORVANIS_NUM_THREADS"] = str(threads)
    cmd = [sys.executable, str(Path(__file__).resolve()), "--time-likelihood",
           "--outdir", str(outdir), "--repeat", str(repeat),
           "--params", *(repr(float(p)) for p in params)]
    out = subprocess.run(cmd, env=env, capture_output=True, text=True, check=True)
    return float(out.stdout.split()[-1])


# ------------------------------------------------------------------ output
def describe(name, value, sigma, truth):
    unit = UNITS[name]
    fmt = FORMATS.get(name, ".6f")
    return (f"  {name:>4} = {value:{fmt}} +- {sigma:{fmt}} {unit:1}   true {truth:{fmt}}"
            f"   ({(value - truth) / sigma:+.2f} sigma)")


def joint_check(estimate, cov):
    """Distance of the true parameters from an estimate in units of its
    covariance, and its probability for 4 parameters: u0, tE and rho are
    correlated (often beyond 0.95), so they move together by similar sigmas."""
    delta = np.array([TRUE[n] for n in NAMES]) - estimate
    d2 = float(delta @ np.linalg.solve(cov, delta))
    p = float(chi2_distribution.sf(d2, len(NAMES)))
    verdict = "consistent with the truth" if p > 0.05 else "NOT consistent with the truth"
    return f"joint distance of the truth: chi2 = {d2:.2f} for 4 parameters, p = {p:.2f}: {verdict}"


def plot_fit(path, data, best, uniform_best, ld_model, uniform_model):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    t0, _, tE, rho = best
    fig, axes = plt.subplots(2, 2, figsize=(10, 6), sharex="col",
                             gridspec_kw={"height_ratios": [3, 1]})
    colors = {"I": "tab:red", "V": "tab:blue"}
    spans = [(t0 - 2.2 * tE, t0 + 2.2 * tE), (t0 - 0.3, t0 + 0.3)]
    for col, (lo, hi) in enumerate(spans):
        top, bottom = axes[0, col], axes[1, col]
        grid = np.linspace(lo, hi, 400)
        for d, a, au in zip(data, ld_model.magnifications(best),
                            uniform_model.magnifications(uniform_best)):
            fs, fb = solve_fluxes(a, d)
            fsu, fbu = solve_fluxes(au, d)
            c = colors.get(d.band.name, "k")
            inside = (d.t >= lo) & (d.t <= hi)
            top.errorbar(d.t[inside], d.mag[inside], d.err[inside], fmt=".", ms=3, lw=0.6,
                         color=c, alpha=0.6, label=f"{d.band.name} ({d.band.law} law)")
            curve = disk_magnification(separations(grid, *best), rho, d.band)
            top.plot(grid, ZERO_POINT - 2.5 * np.log10(fs * curve + fb), color=c, lw=1)
            if col == 1:
                curve_u = uniform_magnification(separations(grid, *uniform_best),
                                                uniform_best[3])
                top.plot(grid, ZERO_POINT - 2.5 * np.log10(fsu * curve_u + fbu), color=c,
                         lw=1, ls="--", label=f"{d.band.name} uniform-source fit")
            model_mag = ZERO_POINT - 2.5 * np.log10(fs * a + fb)
            bottom.errorbar(d.t[inside], (d.mag - model_mag)[inside], d.err[inside],
                            fmt=".", ms=3, lw=0.6, color=c, alpha=0.6)
            if col == 1:
                bottom.plot(grid, 2.5 * np.log10((fs * curve + fb) / (fsu * curve_u + fbu)),
                            color=c, lw=1, ls="--")
        top.invert_yaxis()
        top.set_xlim(lo, hi)
        bottom.ticklabel_format(axis="x", useOffset=False)
        bottom.axhline(0.0, color="k", lw=0.8)
        bottom.set_xlabel("time [HJD - 2450000]")
    axes[0, 0].set_ylabel("magnitude")
    axes[1, 0].set_ylabel("data - model")
    axes[1, 1].set_ylabel("dashed: uniform fit", fontsize=8)
    axes[0, 0].set_title("whole event")
    axes[0, 1].set_title("peak: the lens crosses the source")
    axes[0, 1].legend(fontsize=7, loc="lower center")
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    plt.close(fig)


def plot_corner(path, chain):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    n = len(NAMES)
    # t0 is shown relative to its true value, so that its ticks stay short.
    chain = chain.copy()
    chain[:, 0] -= TRUE["t0"]
    truth = [0.0] + [TRUE[name] for name in NAMES[1:]]
    labels = [f"t0 - {TRUE['t0']}"] + list(NAMES[1:])
    fig, axes = plt.subplots(n, n, figsize=(7, 7))
    for i in range(n):
        for j in range(n):
            ax = axes[i, j]
            if j > i:
                ax.axis("off")
                continue
            if i == j:
                ax.hist(chain[:, i], bins=30, color="0.4", histtype="step")
                ax.axvline(truth[i], color="tab:red")
                ax.set_yticks([])
            else:
                ax.hist2d(chain[:, j], chain[:, i], bins=30, cmap="Greys")
                ax.plot(truth[j], truth[i], "+", color="tab:red", ms=10)
            if i == n - 1:
                ax.set_xlabel(labels[j])
            else:
                ax.set_xticklabels([])
            if j == 0 and i > 0:
                ax.set_ylabel(labels[i])
            elif j > 0:
                ax.set_yticklabels([])
            ax.tick_params(labelsize=6)
    fig.tight_layout()
    fig.savefig(path, dpi=80)
    plt.close(fig)


# -------------------------------------------------------------------- main
def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--outdir", type=Path, default=Path("."),
                        help="directory for the data files and plots")
    parser.add_argument("--quick", action="store_true",
                        help="few epochs, no MCMC (a smoke test)")
    parser.add_argument("--no-mcmc", action="store_true", help="skip the MCMC")
    parser.add_argument("--steps", type=int, default=300, help="MCMC steps per walker")
    parser.add_argument("--repeat", type=int, default=10, help="timed likelihood calls")
    parser.add_argument("--time-likelihood", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--params", type=float, nargs=4, help=argparse.SUPPRESS)
    args = parser.parse_args()

    if args.time_likelihood:
        print(time_likelihood(args.outdir, args.params, args.repeat))
        return

    clock = time.perf_counter()
    args.outdir.mkdir(parents=True, exist_ok=True)
    bands = band_setup(args.quick)
    paths = simulate(args.outdir, bands, np.random.default_rng(SEED))
    data = read_photometry(paths, bands)
    print("simulated event: " + ", ".join(f"{k} = {v}" for k, v in TRUE.items()))
    for d, path in zip(data, paths):
        law = ", ".join(map(str, d.band.coefficients))
        print(f"  band {d.band.name}: {d.t.size} epochs, {d.band.law} limb darkening ({law}),"
              f" fs = {d.band.source_flux}, fb = {d.band.blend_flux}  -> {path}")

    start, chi2_ps = paczynski_start(data)
    print(f"point-source start: chi2 = {chi2_ps:.1f}; t0 = {start[0]:.4f}, "
          f"u0 = {start[1]:.5f}, tE = {start[2]:.3f}, rho = {start[3]:.5f}")

    bounds = ([-np.inf, 0.0, 0.1, 1e-5], [np.inf, 1.0, 1e3, 0.5])
    ld_model = Model(data, disk_magnification, "limb-darkened")
    best, sigma, cov, chi2_ld = ld_model.fit(start, bounds)
    ndata = sum(d.t.size for d in data)
    dof = ndata - 4 - 2 * len(data)
    print(f"limb-darkened fit: chi2 = {chi2_ld:.1f} for {dof} degrees of freedom "
          f"({ld_model.evaluations} models)")
    for name, v, s in zip(NAMES, best, sigma):
        print(describe(name, v, s, TRUE[name]))
    within = [abs(v - TRUE[n]) <= s for n, v, s in zip(NAMES, best, sigma)]
    print(f"  {sum(within)} of 4 true values within 1 sigma; {joint_check(best, cov)}")

    uniform_model = Model(data, uniform_band, "uniform source")
    ubest, usigma, _, chi2_u = uniform_model.fit(best, bounds)
    print(f"uniform-source fit: chi2 = {chi2_u:.1f}, delta chi2 = {chi2_u - chi2_ld:+.1f}; "
          f"rho = {ubest[3]:.6f} +- {usigma[3]:.6f}, "
          f"{(ubest[3] - best[3]) / sigma[3]:+.1f} sigma from the limb-darkened rho")

    chain = None
    if not (args.quick or args.no_mcmc):
        try:
            chain = run_mcmc(ld_model, best, cov, args.steps)
        except ImportError:
            print("emcee is not installed: no MCMC (pip install emcee)")
    if chain is not None:
        print(f"MCMC ({chain.shape[0]} samples after burn-in): median and 68% interval")
        inside = 0
        for i, name in enumerate(NAMES):
            lo, med, hi = np.percentile(chain[:, i], [15.865, 50.0, 84.135])
            ok = lo <= TRUE[name] <= hi
            inside += ok
            lo95, hi95 = np.percentile(chain[:, i], [2.275, 97.725])
            where = ("inside the 68% interval" if ok else
                     "inside the 95% interval" if lo95 <= TRUE[name] <= hi95 else
                     "OUTSIDE the 95% interval")
            fmt = FORMATS.get(name, ".6f")
            print(f"  {name:>4} = {med:{fmt}} -{med - lo:.2g} +{hi - med:.2g}   "
                  f"true {TRUE[name]:{fmt}}: {where}")
        print(f"  {inside} of 4 true values inside their 68% intervals; "
              f"{joint_check(np.median(chain, axis=0), np.cov(chain.T))}")

    repeat = 3 if args.quick else args.repeat
    ncores = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()
    serial, parallel = math.inf, math.inf
    for _ in range(1 if args.quick else 2):  # alternated, against drifting load
        serial = min(serial, time_in_child(args.outdir, best, 1, repeat))
        parallel = min(parallel, time_in_child(args.outdir, best, None, repeat))
    near = sum(int((separations(d.t, *best) < FAR_SEPARATION).sum()) for d in data)
    print(f"time per likelihood ({ndata} epochs, {near} within {FAR_SEPARATION:g} source radii):"
          f" {serial * 1e3:.1f} ms with 1 thread, {parallel * 1e3:.1f} ms with all {ncores} cores"
          f" ({serial / parallel:.2f}x)")

    try:
        plot_fit(args.outdir / "fit_event.png", data, best, ubest, ld_model, uniform_model)
        print(f"plot written to {args.outdir / 'fit_event.png'}")
        if chain is not None:
            plot_corner(args.outdir / "fit_event_corner.png", chain)
            print(f"plot written to {args.outdir / 'fit_event_corner.png'}")
    except ImportError:
        print("matplotlib is not installed: no plot written")
    print(f"done in {time.perf_counter() - clock:.0f} s")


if __name__ == "__main__":
    main()
