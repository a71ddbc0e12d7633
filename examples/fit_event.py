"""Fit a microlensing event in which the lens crosses a limb-darkened source.

The script simulates a two-band event (parameters below, fixed seed), writes
each band to a text file of (time, magnitude, error) and reads it back as a
user's own photometry would be read. It then fits the finite-source point-lens
model (t0, u0, tE, rho) with corvanis_fspl, the source and blend fluxes of
each band solved linearly for every trial (corvanis_fspl.solve_fluxes):

1. a point-source (Paczynski) fit gives the starting point;
2. scipy.optimize.least_squares fits the limb-darkened model with the exact
   Jacobian from light_curve(..., gradient=True), and again with finite
   differences, and the two are compared in model evaluations and time;
3. when emcee is installed, a short MCMC gives medians and 68% intervals,
   checked against the true values;
4. the same fit with a uniform source shows what ignoring limb darkening does;
5. one likelihood evaluation is timed with and without the gradient.

u0 and rho are in Einstein radii, times in days.

    python examples/fit_event.py [--outdir DIR] [--quick] [--no-mcmc] [--steps N]

Needs numpy and scipy; matplotlib (plots), emcee (MCMC) and tqdm (progress
bars) are used when installed: pip install ".[examples]".
"""

from __future__ import annotations

import argparse
import math
import time
from dataclasses import dataclass, field
from pathlib import Path

import numpy as np
from scipy.optimize import least_squares
from scipy.stats import chi2 as chi2_distribution

import corvanis_fspl as fs

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
RTOL = 1e-10        # relative accuracy of every magnification


@dataclass
class Band:
    """One photometric band: its limb-darkening law and, for the simulation,
    its true fluxes and cadence."""

    name: str
    law: fs.Law
    source_flux: float            # 1 = a star of magnitude ZERO_POINT
    blend_flux: float
    survey_per_night: int         # survey epochs per night within survey_days
    survey_days: float
    followup_step: float          # days between follow-up epochs over the peak

    def describe(self):
        c = self.law.coefficients
        return f"{type(self.law).__name__.lower()} law " + (
            f"{c[0]:g}" if len(c) == 1 else "(" + ", ".join(f"{x:g}" for x in c) + ")")


def band_setup(quick):
    """The two bands: I with the linear law 0.55, V with the quadratic law
    (0.70, 0.12). quick: fewer epochs."""
    thin = 3 if quick else 1
    return [
        Band("I", fs.Linear(0.55), source_flux=0.50, blend_flux=0.30,
             survey_per_night=3 // thin, survey_days=45.0, followup_step=0.005 * thin ** 2),
        Band("V", fs.Quadratic(0.70, 0.12), source_flux=0.25, blend_flux=0.20,
             survey_per_night=1, survey_days=20.0 / thin, followup_step=0.015 * thin ** 2),
    ]


# ------------------------------------------------------------------ the data
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
    for band in bands:
        t = observing_times(band, rng)
        a = fs.light_curve(t, *TRUE.values(), band.law, rtol=RTOL)
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
def profiled_jacobian(gradient, solution, d):
    """Jacobian in (t0, u0, tE, rho) of one band's residuals
    (flux - F_s A - F_b) / flux_err, with F_s and F_b re-solved at every
    parameter value (variable projection, exact form).

    Differentiating the normal equations N F = M^T W flux (M = [A, 1],
    W = 1/flux_err^2) gives N dF = [sum W dA (r - F_s A), -F_s sum W dA] with
    r = flux - F_s A - F_b, and N^-1 is the fluxes' covariance; then
    d(residual) = -(F_s dA + A dF_s + dF_b) / flux_err.
    """
    a = gradient.A
    derivatives = np.stack([gradient.dA_dt0, gradient.dA_du0, gradient.dA_dtE,
                            gradient.dA_drho])                      # (4, epochs)
    fs_, fb_ = solution.source_flux, solution.blend_flux
    w = 1.0 / d.flux_err ** 2
    r = d.flux - fs_ * a - fb_
    rhs = np.stack([derivatives @ (w * (r - fs_ * a)), -fs_ * (derivatives @ w)])
    flux_derivatives = solution.covariance @ rhs                    # (2, 4)
    return -(fs_ * derivatives.T + np.outer(a, flux_derivatives[0])
             + flux_derivatives[1]) / d.flux_err[:, None]


class Model:
    """Residuals, their Jacobian and chi^2 of one set of laws on all bands.

    curves counts the light-curve evaluations (one per band and parameter
    vector, the gradient's included).
    """

    def __init__(self, data, laws, label=""):
        self.data, self.laws, self.label = data, laws, label
        self.curves = 0
        self._cache = (None, None)

    def magnifications(self, params, gradient=False):
        t0, u0, tE, rho = params
        self.curves += 1
        return [fs.light_curve(d.t, t0, u0, tE, rho, law, rtol=RTOL, gradient=gradient)
                for d, law in zip(self.data, self.laws)]

    def residuals(self, params):
        out = []
        for a, d in zip(self.magnifications(params), self.data):
            s = fs.solve_fluxes(a, d.flux, d.flux_err)
            out.append((d.flux - s.source_flux * a - s.blend_flux) / d.flux_err)
        return np.concatenate(out)

    def residuals_with_jacobian(self, params):
        """Residuals, keeping their Jacobian for jacobian() at the same point:
        least_squares asks for both at every accepted step, and the gradient
        comes with the magnification in one call."""
        out, jac = [], []
        for g, d in zip(self.magnifications(params, gradient=True), self.data):
            s = fs.solve_fluxes(g, d.flux, d.flux_err)
            out.append((d.flux - s.source_flux * g.A - s.blend_flux) / d.flux_err)
            jac.append(profiled_jacobian(g, s, d))
        self._cache = (np.array(params, dtype=float), np.concatenate(jac))
        return np.concatenate(out)

    def jacobian(self, params):
        x, jac = self._cache
        if x is None or not np.array_equal(x, params):
            self.residuals_with_jacobian(params)
        return self._cache[1]

    def chi2(self, params):
        r = self.residuals(params)
        return float(r @ r)

    def fit(self, start, bounds, exact=True):
        """least_squares from start; exact: the Jacobian above, else 2-point
        finite differences of the residuals."""
        self.curves = 0
        fun, jac = ((self.residuals_with_jacobian, self.jacobian) if exact
                    else (self.residuals, "2-point"))
        result = least_squares(fun, start, jac=jac, bounds=bounds, x_scale="jac",
                               xtol=1e-10, ftol=1e-10)
        # The fluxes are profiled out of the Jacobian, so this is the
        # covariance of (t0, u0, tE, rho) marginalised over them.
        cov = np.linalg.inv(result.jac.T @ result.jac)
        return result, np.sqrt(np.diag(cov)), cov


def point_source_magnification(u):
    return (u * u + 2.0) / (u * np.sqrt(u * u + 4.0))


def paczynski_start(data):
    """Point-source fit over a small grid of starts; rho from the peak."""
    brightest = max(data, key=lambda d: len(d.t))
    t_peak = brightest.t[np.argmax(brightest.flux)]

    def residuals(p):
        t0, u0, tE = p
        out = []
        for d in data:
            a = point_source_magnification(np.hypot(u0, (d.t - t0) / tE))
            s = fs.solve_fluxes(a, d.flux, d.flux_err)
            out.append((d.flux - s.source_flux * a - s.blend_flux) / d.flux_err)
        return np.concatenate(out)

    best = None
    for u0 in (1e-3, 1e-2, 0.1):
        for tE in (5.0, 20.0, 60.0):
            r = least_squares(residuals, (t_peak, u0, tE),
                              bounds=([-np.inf, 1e-6, 0.1], [np.inf, 1.0, 1e3]), x_scale="jac")
            if best is None or r.cost < best.cost:
                best = r
    t0, u0, tE = best.x
    # The finite source caps the peak near 2/rho for a crossing, where the
    # point source reaches 1/u0: start rho at 2 u0 and u0 at half of it.
    return np.array([t0, 0.5 * u0, tE, 2.0 * u0]), 2.0 * best.cost


def timed_fits(model, start, bounds, repeat):
    """The fit with the exact Jacobian and with finite differences: results,
    light-curve evaluations and the fastest of repeat runs of each."""
    out = {}
    for exact in (True, False):
        seconds = math.inf
        for _ in range(repeat):
            clock = time.perf_counter()
            fit = model.fit(start, bounds, exact=exact)
            seconds = min(seconds, time.perf_counter() - clock)
        out[exact] = (fit, model.curves, seconds)
    return out


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


def time_likelihood(model, params, repeat):
    """Seconds per chi^2 evaluation without and with the gradient (the
    fastest of repeat calls: the least disturbed by other work)."""
    def fastest(call):
        call(params)
        times = []
        for _ in range(repeat):
            clock = time.perf_counter()
            call(params)
            times.append(time.perf_counter() - clock)
        return min(times)
    return fastest(model.residuals), fastest(model.residuals_with_jacobian)


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


def plot_fit(path, data, best, uniform_best):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.lines import Line2D

    t0, _, tE, _ = best
    fig, axes = plt.subplots(2, 2, figsize=(10, 6), sharex="col",
                             gridspec_kw={"height_ratios": [3, 1]})
    colors = {"I": "tab:red", "V": "tab:blue"}
    spans = [(t0 - 2.2 * tE, t0 + 2.2 * tE), (t0 - 0.3, t0 + 0.3)]
    for col, (lo, hi) in enumerate(spans):
        top, bottom = axes[0, col], axes[1, col]
        grid = np.linspace(lo, hi, 600)
        for d in data:
            a = fs.light_curve(d.t, *best, d.band.law, rtol=RTOL)
            au = fs.light_curve(d.t, *uniform_best, fs.Uniform(), rtol=RTOL)
            s, su = fs.solve_fluxes(a, d.flux, d.flux_err), fs.solve_fluxes(au, d.flux, d.flux_err)
            c = colors.get(d.band.name, "k")
            inside = (d.t >= lo) & (d.t <= hi)
            top.errorbar(d.t[inside], d.mag[inside], d.err[inside], fmt=".", ms=3, lw=0.6,
                         color=c, alpha=0.6, label=f"{d.band.name}: {d.band.describe()}")
            model = s.source_flux * fs.light_curve(grid, *best, d.band.law, rtol=RTOL) \
                + s.blend_flux
            top.plot(grid, ZERO_POINT - 2.5 * np.log10(model), color=c, lw=1)
            model_mag = ZERO_POINT - 2.5 * np.log10(s.source_flux * a + s.blend_flux)
            bottom.errorbar(d.t[inside], (d.mag - model_mag)[inside], d.err[inside],
                            fmt=".", ms=3, lw=0.6, color=c, alpha=0.6)
            if col == 1:
                uniform = su.source_flux * fs.light_curve(grid, *uniform_best, fs.Uniform(),
                                                          rtol=RTOL) + su.blend_flux
                top.plot(grid, ZERO_POINT - 2.5 * np.log10(uniform), color=c, lw=1, ls="--")
                bottom.plot(grid, 2.5 * np.log10(model / uniform), color=c, lw=1, ls="--")
        top.invert_yaxis()
        top.set_xlim(lo, hi)
        bottom.ticklabel_format(axis="x", useOffset=False)
        bottom.axhline(0.0, color="k", lw=0.8)
        bottom.set_xlabel("time [HJD - 2450000]")
    axes[0, 0].set_ylabel("magnitude [mag]")
    axes[1, 0].set_ylabel("data - model [mag]")
    axes[1, 1].set_ylabel("data - model [mag]")
    axes[0, 0].set_title("whole event")
    axes[0, 1].set_title("peak: the lens crosses the source")
    handles, _ = axes[0, 1].get_legend_handles_labels()
    handles += [Line2D([], [], color="k", lw=1, label="limb-darkened fit"),
                Line2D([], [], color="k", lw=1, ls="--", label="uniform-source fit")]
    axes[0, 1].legend(handles=handles, fontsize=7, loc="lower center")
    axes[1, 1].legend(handles=[Line2D([], [], color="k", lw=1, ls="--",
                                      label="uniform-source fit - limb-darkened fit")],
                      fontsize=7, loc="lower right")
    fig.tight_layout()
    fig.savefig(path, dpi=150)
    plt.close(fig)


# Fractions of a 2-D Gaussian within its 1 and 2 sigma ellipses.
CONTOUR_MASS = (1.0 - math.exp(-0.5), 1.0 - math.exp(-2.0))


def _contour_levels(hist, masses):
    """Heights of a 2-D histogram enclosing the given fractions of its mass."""
    flat = np.sort(hist.ravel())[::-1]
    cumulative = np.cumsum(flat) / flat.sum()
    return sorted(flat[min(np.searchsorted(cumulative, m), flat.size - 1)] for m in masses)


def plot_corner(path, chain):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.lines import Line2D
    from matplotlib.ticker import MaxNLocator
    from scipy.ndimage import gaussian_filter

    n = len(NAMES)
    # Shown in units that keep the ticks short: t0 in seconds from its true
    # value, u0 and rho in thousandths of an Einstein radius.
    scale = np.array([86400.0, 1e3, 1.0, 1e3])
    shift = np.array([TRUE["t0"], 0.0, 0.0, 0.0])
    shown = (chain - shift) * scale
    truth = (np.array([TRUE[name] for name in NAMES]) - shift) * scale
    labels = [f"$t_0$ − {TRUE['t0']} d  [s]", r"$u_0$  [$10^{-3}\,\theta_\mathrm{E}$]",
              r"$t_\mathrm{E}$  [d]", r"$\rho$  [$10^{-3}\,\theta_\mathrm{E}$]"]
    spans = [np.percentile(shown[:, i], [0.5, 99.5]) for i in range(n)]
    fig, axes = plt.subplots(n, n, figsize=(7.5, 7.5))
    for i in range(n):
        for j in range(n):
            ax = axes[i, j]
            if j > i:
                ax.axis("off")
                continue
            if i == j:
                ax.hist(shown[:, i], bins=40, range=spans[i], color="0.3", histtype="step")
                for q in np.percentile(shown[:, i], [15.865, 50.0, 84.135]):
                    ax.axvline(q, color="0.3", lw=0.8, ls=":")
                ax.axvline(truth[i], color="tab:red")
            else:
                hist, xe, ye = np.histogram2d(shown[:, j], shown[:, i], bins=30,
                                              range=[spans[j], spans[i]])
                hist = gaussian_filter(hist, 1.2)
                ax.imshow(hist.T, origin="lower", aspect="auto", cmap="Greys",
                          extent=(xe[0], xe[-1], ye[0], ye[-1]))
                ax.contour(0.5 * (xe[1:] + xe[:-1]), 0.5 * (ye[1:] + ye[:-1]), hist.T,
                           levels=_contour_levels(hist, CONTOUR_MASS[::-1]),
                           colors="k", linewidths=[0.8, 1.2], linestyles=["--", "-"])
                ax.plot(truth[j], truth[i], "+", color="tab:red", ms=10, mew=1.5)
            ax.set_xlim(spans[j])
            ax.xaxis.set_major_locator(MaxNLocator(4, prune="both"))
            if i == j:
                ax.set_yticks([])
            else:
                ax.yaxis.set_major_locator(MaxNLocator(4, prune="both"))
            ax.tick_params(labelsize=8)
            if i == n - 1:
                ax.set_xlabel(labels[j], fontsize=9)
                for label in ax.get_xticklabels():
                    label.set_rotation(45)
                    label.set_horizontalalignment("right")
            else:
                ax.set_xticklabels([])
            if j == 0 and i > 0:
                ax.set_ylabel(labels[i], fontsize=9)
            elif j > 0 and i != j:
                ax.set_yticklabels([])
    fig.legend(handles=[Line2D([], [], color="k", lw=1.2, label="1σ (39% of the samples)"),
                        Line2D([], [], color="k", lw=0.8, ls="--", label="2σ (86%)"),
                        Line2D([], [], color="0.3", lw=0.8, ls=":",
                               label="median and 68% interval"),
                        Line2D([], [], color="tab:red", lw=1.5, marker="+", label="true value")],
               loc="upper right", fontsize=9, frameon=False, bbox_to_anchor=(0.97, 0.97))
    fig.tight_layout()
    fig.savefig(path, dpi=200)
    plt.close(fig)


# -------------------------------------------------------------------- main
def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--outdir", type=Path, default=Path("."),
                        help="directory for the data files and plots")
    parser.add_argument("--quick", action="store_true",
                        help="few epochs, no MCMC (a smoke test)")
    parser.add_argument("--no-mcmc", action="store_true", help="skip the MCMC")
    parser.add_argument("--steps", type=int, default=1500, help="MCMC steps per walker")
    parser.add_argument("--repeat", type=int, default=10,
                        help="runs of each timed fit and likelihood (the fastest counts)")
    args = parser.parse_args()

    clock = time.perf_counter()
    args.outdir.mkdir(parents=True, exist_ok=True)
    bands = band_setup(args.quick)
    paths = simulate(args.outdir, bands, np.random.default_rng(SEED))
    data = read_photometry(paths, bands)
    print("simulated event: " + ", ".join(f"{k} = {v}" for k, v in TRUE.items()))
    for d, path in zip(data, paths):
        print(f"  band {d.band.name}: {d.t.size} epochs, {d.band.describe()},"
              f" fs = {d.band.source_flux}, fb = {d.band.blend_flux}  -> {path}")

    start, chi2_ps = paczynski_start(data)
    print(f"point-source start: chi2 = {chi2_ps:.1f}; t0 = {start[0]:.4f}, "
          f"u0 = {start[1]:.5f}, tE = {start[2]:.3f}, rho = {start[3]:.5f}")

    bounds = ([-np.inf, 0.0, 0.1, 1e-5], [np.inf, 1.0, 1e3, 0.5])
    ld_model = Model(data, [d.band.law for d in data], "limb-darkened")
    repeat = 1 if args.quick else args.repeat
    fits = timed_fits(ld_model, start, bounds, repeat)
    (result, sigma, cov), curves, seconds = fits[True]
    (result_fd, sigma_fd, _), curves_fd, seconds_fd = fits[False]
    best, chi2_ld = result.x, 2.0 * result.cost
    ndata = sum(d.t.size for d in data)
    dof = ndata - 4 - 2 * len(data)
    print(f"limb-darkened fit: chi2 = {chi2_ld:.1f} for {dof} degrees of freedom")
    for name, v, s in zip(NAMES, best, sigma):
        print(describe(name, v, s, TRUE[name]))
    within = [abs(v - TRUE[n]) <= s for n, v, s in zip(NAMES, best, sigma)]
    print(f"  {sum(within)} of 4 true values within 1 sigma; {joint_check(best, cov)}")
    shift = np.abs(result_fd.x - best) / sigma
    print(f"  exact Jacobian:     {curves:3d} light curves with gradient"
          f" ({result.nfev} steps, {result.njev} Jacobians), {seconds * 1e3:.0f} ms")
    print(f"  finite differences: {curves_fd:3d} light curves"
          f" ({result_fd.nfev} steps, {result_fd.njev} Jacobians), {seconds_fd * 1e3:.0f} ms;"
          f" chi2 {2.0 * result_fd.cost - chi2_ld:+.2g}, parameters within"
          f" {shift.max():.1g} sigma of the exact-Jacobian fit")

    uniform_model = Model(data, [fs.Uniform()] * len(data), "uniform source")
    uniform, usigma, _ = uniform_model.fit(best, bounds)
    ubest, chi2_u = uniform.x, 2.0 * uniform.cost
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

    plain, with_gradient = time_likelihood(ld_model, best, 3 if args.quick else 20)
    near = sum(int((np.hypot(best[1], (d.t - best[0]) / best[2]) < 2.0 * best[3]).sum())
               for d in data)
    print(f"time per likelihood ({ndata} epochs, {near} within 2 rho of the lens):"
          f" {plain * 1e3:.2f} ms, {with_gradient * 1e3:.2f} ms with the gradient"
          f" ({with_gradient / plain:.2f}x)")

    try:
        plot_fit(args.outdir / "fit_event.png", data, best, ubest)
        print(f"plot written to {args.outdir / 'fit_event.png'}")
        if chain is not None:
            plot_corner(args.outdir / "fit_event_corner.png", chain)
            print(f"plot written to {args.outdir / 'fit_event_corner.png'}")
    except ImportError:
        print("matplotlib is not installed: no plot written")
    print(f"done in {time.perf_counter() - clock:.0f} s")


if __name__ == "__main__":
    main()
