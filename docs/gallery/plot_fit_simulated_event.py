"""
Fitting a simulated event
=========================

A lens crosses a limb-darkened source. We simulate the photometry of one
band, then fit the finite-source point-lens model (t0, u0, tE, rho) with
``scipy.optimize.least_squares``, solving the source and blend fluxes
linearly for every trial model with :func:`corvanis_fspl.solve_fluxes`. The
magnification comes from :func:`corvanis_fspl.light_curve`; the limb
darkening is a
:class:`corvanis_fspl.Quadratic` law whose coefficients are held at the
band's values, as is usual in a fit.

This is a short version of ``examples/fit_event.py``: one band, no MCMC,
and the Jacobian by finite differences (the full example gives
``least_squares`` the exact one, from ``light_curve(..., gradient=True)``).
"""

import time

import matplotlib.pyplot as plt
import numpy as np
from scipy.optimize import least_squares

import corvanis_fspl as fs

# %%
# The event and its photometry
# ----------------------------
# Times in days; u0 and rho in Einstein radii. With u0 < rho the lens passes
# inside the source disk, 0.48 source radii from its centre. The data are a
# survey cadence over +-30 days and a dense follow-up over the peak, with
# errors that grow as the star gets fainter.

true = {"t0": 9204.35, "u0": 0.0024, "tE": 21.0, "rho": 0.0050}
law = fs.Quadratic(0.70, 0.12)
source_flux, blend_flux = 1.0, 0.25

rng = np.random.default_rng(20240612)
survey = np.sort(rng.uniform(true["t0"] - 30.0, true["t0"] + 30.0, 150))
follow_up = np.arange(true["t0"] - 0.15, true["t0"] + 0.15, 0.005)
t = np.sort(np.concatenate([survey, follow_up]))

A_true = fs.light_curve(t, true["t0"], true["u0"], true["tE"], true["rho"], law)
flux_true = source_flux * A_true + blend_flux
flux_err = 0.003 * flux_true + 0.004                  # relative plus floor
flux = flux_true + flux_err * rng.standard_normal(t.size)
print(f"{t.size} epochs, {np.count_nonzero(np.abs(t - true['t0']) < 0.15)} over the peak")

# %%
# The model
# ---------
# For given (t0, u0, tE, rho) the magnification is fixed, and the observed
# flux is linear in the source and blend fluxes: a weighted linear solve
# gives them, and the residuals follow.


def solve_fluxes(A):
    solution = fs.solve_fluxes(A, flux, flux_err)
    return solution.source_flux, solution.blend_flux


def residuals(params, law):
    t0, u0, tE, rho = params
    A = fs.light_curve(t, t0, u0, tE, rho, law, rtol=1e-8)
    fs_, fb = solve_fluxes(A)
    return (fs_ * A + fb - flux) / flux_err


# %%
# The fit
# -------
# A start a little off the truth, as a point-source fit would give; the
# bounds keep u0 and rho in their domain.

start = np.array([true["t0"] + 0.002, 0.003, 19.0, 0.0045])
names = ("t0", "u0", "tE", "rho")
t_start = time.perf_counter()
fit = least_squares(residuals, start, args=(law,), x_scale=[1e-3, 1e-4, 0.1, 1e-4],
                    bounds=([-np.inf, 0.0, 1.0, 1e-5], [np.inf, 1.0, 100.0, 1.0]))
elapsed = time.perf_counter() - t_start
chi2 = float(np.sum(fit.fun ** 2))
dof = t.size - len(start) - 2
covariance = np.linalg.inv(fit.jac.T @ fit.jac) * chi2 / dof
sigma = np.sqrt(np.diag(covariance))
print(f"chi2 = {chi2:.1f} for {dof} degrees of freedom, {fit.nfev} model evaluations "
      f"in {elapsed:.2f} s")
for name, value, error in zip(names, fit.x, sigma):
    print(f"{name:>4} = {value:.6f} +- {error:.6f}   true {true[name]:.6f}   "
          f"({(value - true[name]) / error:+.2f} sigma)")

# %%
# Ignoring limb darkening
# -----------------------
# The same fit with a uniform source fits the data worse, and biases rho.

uniform = least_squares(residuals, fit.x, args=(fs.Uniform(),), x_scale=[1e-3, 1e-4, 0.1, 1e-4],
                        bounds=([-np.inf, 0.0, 1.0, 1e-5], [np.inf, 1.0, 100.0, 1.0]))
chi2_uniform = float(np.sum(uniform.fun ** 2))
print(f"uniform source: chi2 = {chi2_uniform:.1f} (delta chi2 = {chi2_uniform - chi2:+.1f}), "
      f"rho = {uniform.x[3]:.6f}")

# %%
# The light curve and the residuals
# ---------------------------------

fs_, fb = solve_fluxes(fs.light_curve(t, *fit.x, law))
tt = np.linspace(true["t0"] - 0.15, true["t0"] + 0.15, 1500)
model = fs_ * fs.light_curve(tt, *fit.x, law) + fb
fs_u, fb_u = solve_fluxes(fs.light_curve(t, *uniform.x, fs.Uniform()))
model_u = fs_u * fs.light_curve(tt, *uniform.x, fs.Uniform()) + fb_u

peak = np.abs(t - true["t0"]) < 0.15
fig, (ax, axr) = plt.subplots(2, 1, figsize=(7, 5.5), sharex=True,
                              gridspec_kw={"height_ratios": [3, 1]})
ax.errorbar(t[peak] - true["t0"], flux[peak], flux_err[peak], fmt=".", ms=3, color="0.4",
            label="simulated data")
ax.plot(tt - true["t0"], model, color="C0", label="limb-darkened fit (quadratic law)")
ax.plot(tt - true["t0"], model_u, "--", color="C3", label="uniform-source fit")
ax.set_ylabel("flux (source flux = 1)")
ax.legend(fontsize=8)
axr.errorbar(t[peak] - true["t0"], fit.fun[peak] * flux_err[peak], flux_err[peak], fmt=".",
             ms=3, color="0.4")
axr.axhline(0.0, color="C0")
axr.set_xlabel(f"time from t0 = {true['t0']} [days]")
axr.set_ylabel("residual flux")
fig.tight_layout()
