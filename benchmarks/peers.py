"""corvanis against other finite-source point-lens codes, on one grid.

    pip install ".[bench]"        # corvanis, MulensModel, VBMicrolensing
    python benchmarks/peers.py    # about three minutes

Every code computes the magnification of the same (source radius, separation)
points, in this process, for a uniform source and for a source with linear
limb darkening (coefficient 0.6; MulensModel's Gamma = 2u/(3 - u) = 0.5 is
the same law). The reference values come from tests/python/data/truth_grid.json
(tools/gen_truth_grid.py, 50 digits for the uniform disk, about 1e-18 for the
limb-darkened disk). For each code the script prints:

- time per point: the median over repeated runs of the whole grid (3 runs
  for a code whose run takes over 2 s), one call
  per source radius with all its separations (a Python loop over the points
  for codes that take one point per call), divided by the number of points;
- the ratio of that time to corvanis' time for the same source type;
- the worst and the median relative error |A / A_true - 1| over the grid,
  and the worst error in four regimes: the centre of the disk (l < 0.01),
  inside it (0.01 <= l < 0.99), around the limb (0.99 <= l <= 1.02) and
  outside (l > 1.02);
- the number of points at which the code raised or returned a non-finite
  value (these are left out of its errors and its time).

Separations l are in source radii; a code that takes u in Einstein radii
receives u = l * rho, the double that corvanis forms from the same inputs.
Missing peers are reported and skipped.
"""

from __future__ import annotations

import argparse
import datetime
import json
import math
import os
import platform
import statistics
import sys
import time
import warnings
from dataclasses import dataclass, field
from importlib import metadata
from pathlib import Path
from typing import Callable

import numpy as np

import corvanis

ROOT = Path(__file__).resolve().parent.parent
TRUTH = ROOT / "tests" / "python" / "data" / "truth_grid.json"
LD_COEFF = 0.6
MM_GAMMA = 2 * LD_COEFF / (3 - LD_COEFF)
UNIFORM_TABLE = ([0.0, 1.0], [1.0, 1.0])
SLOW_RUN_SECONDS = 2.0

# A group evaluator takes the separations of one source radius (in source
# radii) and that radius (in Einstein radii) and returns the magnifications.
GroupFn = Callable[[np.ndarray, float], "list[float] | np.ndarray"]


@dataclass
class Code:
    name: str
    source: str  # "uniform" or "ld"
    make: Callable[[], GroupFn]
    reference: bool = False
    fn: GroupFn | None = None
    values: dict = field(default_factory=dict)
    failed: set = field(default_factory=set)
    seconds_per_point: float = math.nan


def load_grid(path: Path):
    """Per source type: the separations of each source radius, and the truth."""
    doc = json.loads(path.read_text())
    groups = {}
    truth = {}
    for kind in ("uniform", "ld"):
        by_rho: dict[float, list[float]] = {}
        truth[kind] = {}
        for row in doc[kind]:
            truth[kind][(row["rstar"], row["l"])] = float(row["value"])
            by_rho.setdefault(row["rstar"], []).append(row["l"])
        groups[kind] = {rho: np.array(ls) for rho, ls in by_rho.items()}
    return groups, truth


# --------------------------------------------------------------------- codes

def corvanis_codes():
    def witt_mao():
        return lambda ls, rho: corvanis.witt_mao_magnification(ls, 1.0, rho)

    def uniform_table():
        bl, bf = UNIFORM_TABLE
        return lambda ls, rho: corvanis.integrated_flux_map_heyrovsky_magnification(
            ls, 1.0, rho, bl, bf)

    def limb_darkened():
        return lambda ls, rho: corvanis.integrated_heyrovsky_magnification(ls, 1.0, rho)

    return [
        Code("corvanis witt_mao_magnification", "uniform", witt_mao, reference=True),
        Code("corvanis integrated_flux_map_heyrovsky, table [0,1]/[1,1]", "uniform",
             uniform_table),
        Code("corvanis integrated_heyrovsky_magnification", "ld", limb_darkened,
             reference=True),
    ]


def mulensmodel_codes():
    def method(name, gamma=None):
        def make():
            import MulensModel as mm

            models = {}

            def evaluate(ls, rho):
                model = models.get(rho)
                if model is None:
                    model = mm.Model({"t_0": 0.0, "u_0": 0.0, "t_E": 1.0, "rho": rho})
                    model.set_magnification_methods([-1e300, name, 1e300])
                    models[rho] = model
                # With t_0 = 0, t_E = 1 and u_0 = 0 the trajectory's u is the time.
                kwargs = {} if gamma is None else {"gamma": gamma}
                return model.get_magnification(ls * rho, **kwargs)

            return evaluate
        return make

    return [
        Code("MulensModel finite_source_uniform_WittMao94", "uniform",
             method("finite_source_uniform_WittMao94")),
        Code("MulensModel finite_source_uniform_Lee09", "uniform",
             method("finite_source_uniform_Lee09")),
        Code("MulensModel finite_source_uniform_Gould94", "uniform",
             method("finite_source_uniform_Gould94")),
        Code("MulensModel finite_source_LD_WittMao94", "ld",
             method("finite_source_LD_WittMao94", MM_GAMMA)),
        Code("MulensModel finite_source_LD_Lee09", "ld",
             method("finite_source_LD_Lee09", MM_GAMMA)),
        Code("MulensModel finite_source_LD_Yoo04", "ld",
             method("finite_source_LD_Yoo04", MM_GAMMA)),
    ]


def vbmicrolensing_codes():
    def esplmag2(a1, tol=None):
        def make():
            import VBMicrolensing

            vbm = VBMicrolensing.VBMicrolensing()
            vbm.a1 = a1
            if tol is not None:
                vbm.Tol = tol
            mag = vbm.ESPLMag2
            return lambda ls, rho: [mag(u, rho) for u in (ls * rho).tolist()]
        return make

    return [
        Code("VBMicrolensing ESPLMag2 (default Tol 1e-2)", "uniform", esplmag2(0.0)),
        Code("VBMicrolensing ESPLMag2 (Tol 1e-4)", "uniform", esplmag2(0.0, 1e-4)),
        Code("VBMicrolensing ESPLMag2, a1 = 0.6 (default Tol)", "ld", esplmag2(LD_COEFF)),
        Code("VBMicrolensing ESPLMag2, a1 = 0.6 (Tol 1e-4)", "ld", esplmag2(LD_COEFF, 1e-4)),
    ]


# ----------------------------------------------------------------- measuring

def evaluate_points(code: Code, groups):
    """Values of every grid point; a group that raises is retried point by
    point so that one failing point does not hide the others."""
    for rho, ls in groups.items():
        try:
            values = list(code.fn(ls, rho))
        except Exception:
            values = []
            for l in ls:
                try:
                    values.append(float(code.fn(np.array([l]), rho)[0]))
                except Exception:
                    values.append(math.nan)
        for l, v in zip(ls.tolist(), values):
            v = float(v)
            if math.isfinite(v):
                code.values[(rho, l)] = v
            else:
                code.failed.add((rho, l))


def time_code(code: Code, groups, repeat: int):
    timed = {rho: np.array([l for l in ls.tolist() if (rho, l) not in code.failed])
             for rho, ls in groups.items()}
    timed = {rho: ls for rho, ls in timed.items() if len(ls)}
    count = sum(len(ls) for ls in timed.values())
    runs = []
    while len(runs) < repeat:
        t0 = time.perf_counter()
        for rho, ls in timed.items():
            code.fn(ls, rho)
        runs.append(time.perf_counter() - t0)
        if runs[0] > SLOW_RUN_SECONDS:
            repeat = min(repeat, 3)  # a slow code: its median of 3 is stable enough
    code.seconds_per_point = statistics.median(runs) / count


def regime(l: float) -> str:
    if l < 0.01:
        return "centre"
    if l < 0.99:
        return "inside"
    if l <= 1.02:
        return "limb"
    return "outside"


def errors(code: Code, truth):
    ref = truth[code.source]
    rel = {key: abs(v / ref[key] - 1.0) for key, v in code.values.items()}
    by_regime = {}
    for (rho, l), e in rel.items():
        name = regime(l)
        by_regime[name] = max(by_regime.get(name, 0.0), e)
    worst_at = max(rel, key=rel.get)
    return (max(rel.values()), statistics.median(rel.values()), by_regime, worst_at)


# ------------------------------------------------------------------ printing

def machine() -> str:
    cpu = platform.processor() or platform.machine()
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    versions = []
    for dist in ("corvanis", "MulensModel", "VBMicrolensing", "numpy"):
        try:
            versions.append(f"{dist} {metadata.version(dist)}")
        except metadata.PackageNotFoundError:
            versions.append(f"{dist} absent")
    return (f"{datetime.date.today().isoformat()}; {cpu}, {os.cpu_count()} logical CPUs; "
            f"{platform.system()} {platform.release()}; Python {platform.python_version()}; "
            + ", ".join(versions))


def fmt_time(seconds: float) -> str:
    if not math.isfinite(seconds):
        return "n/a"
    if seconds < 1e-3:
        return f"{seconds * 1e6:.2f} µs"
    return f"{seconds * 1e3:.2f} ms"


def fmt_err(e: float | None) -> str:
    return "n/a" if e is None else f"{e:.1e}"


def main(argv=None):
    parser = argparse.ArgumentParser(description="corvanis against peer codes")
    parser.add_argument("--repeat", type=int, default=5, help="timed runs per code")
    parser.add_argument("--truth", type=Path, default=TRUTH)
    args = parser.parse_args(argv)

    groups, truth = load_grid(args.truth)
    npoints = {kind: sum(len(ls) for ls in g.values()) for kind, g in groups.items()}
    codes = corvanis_codes() + mulensmodel_codes() + vbmicrolensing_codes()
    absent = []
    ready = []
    for code in codes:
        try:
            code.fn = code.make()
        except ImportError as exc:
            absent.append(f"{code.name}: {exc}")
            continue
        ready.append(code)

    with warnings.catch_warnings(), np.errstate(all="ignore"):
        warnings.simplefilter("ignore")
        for code in ready:
            evaluate_points(code, groups[code.source])  # also loads tables before timing
            time_code(code, groups[code.source], args.repeat)

    print(f"Machine: {machine()}")
    print(f"Grid: {npoints['uniform']} points (uniform source), {npoints['ld']} points "
          "(limb-darkened source); source radius rho = "
          + ", ".join(f"{rho:g}" for rho in groups["uniform"])
          + " Einstein radii; separations 0 to 100 source radii, |l - 1| down to 1e-4.")
    print(f"Command: python benchmarks/peers.py --repeat {args.repeat}\n")
    for source, title in (("uniform", "Uniform source"),
                          ("ld", "Limb-darkened source (linear law, 0.6)")):
        members = [c for c in ready if c.source == source]
        ref = next((c for c in members if c.reference), None)
        print(f"### {title}\n")
        print("| code | time / point | time ratio (code / corvanis) | worst rel. error "
              "| median rel. error | worst centre | worst inside | worst limb "
              "| worst outside | failed points |")
        print("|---|---|---|---|---|---|---|---|---|---|")
        for code in members:
            ratio = (code.seconds_per_point / ref.seconds_per_point) if ref else math.nan
            if code.values:
                worst, median, by_regime, worst_at = errors(code, truth)
            else:
                worst = median = None
                by_regime, worst_at = {}, None
            print(f"| {code.name} | {fmt_time(code.seconds_per_point)} | {ratio:.2f} "
                  f"| {fmt_err(worst)} | {fmt_err(median)} "
                  f"| {fmt_err(by_regime.get('centre'))} | {fmt_err(by_regime.get('inside'))} "
                  f"| {fmt_err(by_regime.get('limb'))} "
                  f"| {fmt_err(by_regime.get('outside'))} | {len(code.failed)} |")
        print()
        for code in members:
            if code.values:
                worst_at = errors(code, truth)[3]
                print(f"- {code.name}: worst at rho = {worst_at[0]:g}, l = {worst_at[1]!r}")
            if code.failed:
                shown = sorted(code.failed)[:4]
                print(f"  failed at (rho, l) = " + ", ".join(f"({r:g}, {l!r})" for r, l in shown)
                      + (" ..." if len(code.failed) > len(shown) else ""))
        print()
    for line in absent:
        print(f"Skipped, not installed: {line}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
