"""The 30-digit references of corvanis_fspl (tools/gen_fspl_references.py)
combined into the laws' references, by linearity in the brightness:
A_law = sum_j w_j F_j A_j / sum_j w_j F_j over basis profiles j."""

from __future__ import annotations

import json
from pathlib import Path

import mpmath
import numpy as np

import corvanis_fspl as fs

DATA = Path(__file__).resolve().parent / "data"

# Basis names of the reference tables for the bases of corvanis_fspl.
_NAMES = {("power", 0.0): "mu^0", ("power", 0.3): "mu^0.3", ("power", 0.5): "mu^0.5",
          ("power", 0.8): "mu^0.8", ("power", 1.0): "mu^1", ("power", 1.5): "mu^1.5",
          ("power", 2.0): "mu^2", ("power", 2.5): "mu^2.5", ("power_log", 1.0): "mu_ln_mu"}


def _tables(data):
    by_name = {b["name"]: b for b in data["bases"]}
    return (fs.Profile(tuple(by_name["table_r"]["I"]), r=tuple(by_name["table_r"]["r"])),
            fs.Profile(tuple(by_name["table_mu"]["I"]), mu=tuple(by_name["table_mu"]["mu"])))


def load(name="fspl_references.json"):
    return json.loads((DATA / name).read_text())


REFERENCES = load()
TABLE_R, TABLE_MU = _tables(REFERENCES)

# One law of every kind, with coefficients as fitted to real stars, and the
# power-2 law with a limb singularity stronger than the square root's.
LAWS = {
    "uniform": fs.Uniform(),
    "linear": fs.Linear(0.6),
    "quadratic": fs.Quadratic(0.4, 0.25),
    "square-root": fs.SquareRoot(0.3, 0.5),
    "logarithmic": fs.Logarithmic(0.6, 0.2),
    "power-2 (alpha 0.3)": fs.Power2(0.6, 0.3),
    "power-2 (alpha 0.8)": fs.Power2(0.7, 0.8),
    "power-2 (alpha 2.5)": fs.Power2(0.5, 2.5),
    "four-parameter": fs.FourParameter(0.5, -0.3, 0.9, -0.4),
    "profile in r": TABLE_R,
    "profile in mu": TABLE_MU,
}


def basis_name(basis):
    if basis[0] in ("table_r", "table_mu"):
        return basis[0]
    return _NAMES[(basis[0], float(basis[1]))]


def law_reference(law, field="A", data=REFERENCES):
    """u, rho (float arrays) and the law's 30-digit reference of `field`
    (A, dA_du or dA_drho) at every point, as mpf."""
    bases = {b["name"]: mpmath.mpf(b["flux"]) for b in data["bases"]}
    terms = [(basis_name(b), mpmath.mpf(w)) for b, w in law.terms()]
    flux = sum(w * bases[n] for n, w in terms)
    u = np.array([p["u"] for p in data["points"]])
    rho = np.array([p["rho"] for p in data["points"]])
    values = [sum(w * bases[n] * mpmath.mpf(p[field][n]) for n, w in terms) / flux
              for p in data["points"]]
    return u, rho, values


def relative_errors(computed, reference):
    out = []
    for c, r in zip(computed, reference):
        if mpmath.isinf(r):
            out.append(0.0 if c == float(r) else np.inf)
        else:
            out.append(float(abs(mpmath.mpf(float(c)) - r) / abs(r)) if r != 0 else abs(float(c)))
    return np.array(out)
