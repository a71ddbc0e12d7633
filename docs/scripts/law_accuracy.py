"""Measured accuracy of corvanis_fspl for each limb-darkening law, drawn when
the documentation is built.

For each law and each rtol the figure shows the worst relative error
|A / A_ref - 1| over a grid of (u, rho), and writes the same numbers as a CSV
table. The references come from one of two sources:

- ``tests/python/data/fspl_references.json``, when present: high-precision
  magnifications per basis profile b_j (mu^p, mu ln mu, two tables). The
  magnification is linear in the profile, so a law I = sum_j w_j b_j has
  A_I = sum_j w_j F_j A_j / sum_j w_j F_j, F_j the flux of b_j; the sum is
  taken in 30-digit arithmetic. Every law is measured.
- otherwise the ring-integrated functions of ``corvanis``, an independent
  method accurate to about 6e-11: the uniform disk (a uniform table), the
  linear law (the exact combination of the uniform disk and the built-in
  linear law 0.6). Errors below about 1e-10 are then those of the reference.
  (Its flux-map integral of a table with a few samples is not used: the
  quadrature does not resolve the table's kinks, and errs by about 1e-6.)

    python docs/scripts/law_accuracy.py [OUTDIR]
"""

from __future__ import annotations

import csv
import json
import sys
import time
from pathlib import Path
from typing import Callable, Dict, List, Sequence, Tuple

import numpy as np

import corvanis
import corvanis_fspl as fs

ROOT = Path(__file__).resolve().parents[2]
REFERENCE_TABLE = ROOT / "tests" / "python" / "data" / "fspl_references.json"
RTOLS = (1e-4, 1e-6, 1e-8, 1e-10, 1e-12)



class References:
    """Grid points (u, rho in Einstein radii) and a reference value for each
    law that the source can give, as float arrays."""

    def __init__(self, source: str, u: np.ndarray, rho: np.ndarray,
                 laws: Dict[str, fs.Law], values: Dict[str, np.ndarray], floor: float):
        self.source = source
        self.u = u
        self.rho = rho
        self.laws = laws
        self.values = values
        self.floor = floor  # relative accuracy of the references themselves


def from_table(path: Path) -> References:
    from mpmath import mp, mpf

    mp.dps = 30
    doc = json.loads(path.read_text())
    bases = {b["name"]: b for b in doc["bases"]}
    table_r = bases.get("table_r")
    table_mu = bases.get("table_mu")
    laws = standard_laws()
    if table_r is not None:
        laws["tabulated in r"] = fs.Profile(tuple(table_r["I"]), r=tuple(table_r["r"]))
    if table_mu is not None:
        laws["tabulated in mu"] = fs.Profile(tuple(table_mu["I"]), mu=tuple(table_mu["mu"]))

    def basis_name(basis: Tuple) -> str:
        if basis[0] == "power":
            return f"mu^{basis[1]:g}"
        if basis[0] == "mu_log_mu":
            return "mu_ln_mu"
        return basis[0]

    points = doc["points"]
    u = np.array([p["u"] for p in points])
    rho = np.array([p["rho"] for p in points])
    values = {}
    for name, law in laws.items():
        terms = [(basis_name(b), mpf(w)) for b, w in law.terms() if w != 0]
        if any(b not in bases for b, _ in terms):
            continue
        flux = sum(w * mpf(bases[b]["flux"]) for b, w in terms)
        values[name] = np.array([
            float(sum(w * mpf(bases[b]["flux"]) * mpf(p["A"][b]) for b, w in terms) / flux)
            for p in points])
    laws = {k: v for k, v in laws.items() if k in values}
    return References(f"the reference table ({path.name})", u, rho, laws, values, 1e-20)


def from_corvanis() -> References:
    rhos = (1e-3, 0.01, 0.1, 1.0, 10.0)
    xs = (0.0, 0.3, 0.7, 0.99, 1 - 1e-6, 1.0, 1 + 1e-6, 1.01, 1.5, 2.0, 3.0, 10.0, 100.0)
    u = np.array([x * rho for rho in rhos for x in xs])
    rho = np.array([rho for rho in rhos for _ in xs])

    def per_rho(function: Callable[..., List[float]], *table: Sequence[float]) -> np.ndarray:
        out = []
        for r in rhos:
            out.extend(function([x for x in xs], 1.0, r, *table))
        return np.array(out)

    uniform = per_rho(corvanis.integrated_flux_map_heyrovsky_magnification, [0.0, 1.0], [1.0, 1.0])
    linear_06 = per_rho(corvanis.integrated_heyrovsky_magnification)

    def linear(c: float) -> np.ndarray:
        # 1 - c(1 - mu) is the uniform profile plus the 0.6 profile, each
        # weighted by its flux (uniform 1, linear 0.6: 0.8).
        return ((1 - 5 * c / 3) * uniform + (4 * c / 3) * linear_06) / (1 - c / 3)

    laws: Dict[str, fs.Law] = {
        "uniform": fs.Uniform(),
        "linear (0.6)": fs.Linear(0.6),
        "linear (0.3)": fs.Linear(0.3),
    }
    values = {
        "uniform": uniform,
        "linear (0.6)": linear_06,
        "linear (0.3)": linear(0.3),
    }
    return References("corvanis' ring-integrated functions", u, rho, laws, values, 1e-10)


def standard_laws() -> Dict[str, fs.Law]:
    return {
        "uniform": fs.Uniform(),
        "linear (0.6)": fs.Linear(0.6),
        "quadratic (0.4, 0.25)": fs.Quadratic(0.4, 0.25),
        "square-root (0.3, 0.5)": fs.SquareRoot(0.3, 0.5),
        "logarithmic (0.65, 0.2)": fs.Logarithmic(0.65, 0.2),
        "power-2 (0.6, 0.8)": fs.Power2(0.6, 0.8),
        "four-parameter (0.5, 0.1, 0.3, -0.15)": fs.FourParameter(0.5, 0.1, 0.3, -0.15),
    }


def load_references(path: Path = REFERENCE_TABLE) -> References:
    return from_table(path) if path.exists() else from_corvanis()


def measure(refs: References) -> Dict[str, List[float]]:
    """Worst relative error per law, one value per rtol of RTOLS."""
    worst = {}
    for name, law in refs.laws.items():
        row = []
        for rtol in RTOLS:
            A = fs.magnification(refs.u, refs.rho, law, rtol=rtol)
            row.append(float(np.max(np.abs(A / refs.values[name] - 1.0))))
        worst[name] = row
    return worst


def draw(refs: References, worst: Dict[str, List[float]], png: Path) -> None:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, ax = plt.subplots(figsize=(7.0, 4.4))
    rtols = np.array(RTOLS)
    ax.fill_between([rtols.min() / 3, rtols.max() * 3], 1e-17, refs.floor, color="0.9",
                    label="below the references' accuracy")
    ax.plot(rtols, rtols, "k--", lw=1, label="error = rtol")
    markers = "osD^v<>ph"
    for (name, row), marker in zip(worst.items(), markers):
        ax.plot(rtols, np.maximum(row, 1e-17), marker=marker, ms=5, lw=1.2, label=name)
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlim(rtols.max() * 3, rtols.min() / 3)
    ax.set_ylim(1e-17, 1e-2)
    ax.set_xlabel("rtol asked")
    ax.set_ylabel("worst relative error |A / A_ref - 1|")
    ax.set_title(f"corvanis_fspl, {refs.u.size} points (u, rho); references: {refs.source}",
                 fontsize=9)
    ax.grid(True, which="major", alpha=0.3)
    ax.legend(fontsize=7.5, loc="upper right")
    fig.tight_layout()
    fig.savefig(png, dpi=110)
    plt.close(fig)


def write_csv(refs: References, worst: Dict[str, List[float]], path: Path) -> None:
    with path.open("w", newline="") as f:
        out = csv.writer(f)
        out.writerow(["law"] + [f"rtol = {r:g}" for r in RTOLS])
        for name, row in worst.items():
            out.writerow([name] + [f"{e:.1e}" for e in row])


def main(outdir: Path) -> None:
    outdir.mkdir(parents=True, exist_ok=True)
    start = time.perf_counter()
    refs = load_references()
    worst = measure(refs)
    draw(refs, worst, outdir / "law_accuracy.png")
    write_csv(refs, worst, outdir / "law_accuracy.csv")
    (outdir / "law_accuracy_source.txt").write_text(
        f"{refs.u.size} points (u, rho) against {refs.source}\n")
    print(f"law accuracy: {len(worst)} laws, {refs.u.size} points, against {refs.source}, "
          f"{time.perf_counter() - start:.1f} s")


if __name__ == "__main__":
    main(Path(sys.argv[1]) if len(sys.argv) > 1 else Path("."))
