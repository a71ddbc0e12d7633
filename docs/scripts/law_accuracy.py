"""Measured accuracy of corvanis_fspl for each limb-darkening law, drawn when
the documentation is built.

For each law of the accuracy tests and each rtol, the worst relative error
|A / A_ref - 1| over every point (u, rho) of the 30-digit reference table
(tests/python/data/fspl_references.json, written by
tools/gen_fspl_references.py), combined into each law's reference by
linearity in the brightness (tests/python/fspl_references.py). Writes the
figure and the same numbers as a CSV table.

    python docs/scripts/law_accuracy.py [OUTDIR]
"""

from __future__ import annotations

import csv
import sys
import time
from pathlib import Path
from typing import Dict, List

import numpy as np

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "python"))

import corvanis_fspl as fs  # noqa: E402
from fspl_references import LAWS, law_reference, relative_errors  # noqa: E402

RTOLS = (1e-4, 1e-6, 1e-8, 1e-10, 1e-12)


def measure() -> Dict[str, List[float]]:
    """Worst relative error per law, one value per rtol of RTOLS."""
    worst = {}
    for name, law in LAWS.items():
        u, rho, reference = law_reference(law)
        worst[name] = [float(np.max(relative_errors(fs.magnification(u, rho, law, rtol=rtol),
                                                    reference)))
                       for rtol in RTOLS]
    return worst


def draw(worst: Dict[str, List[float]], points: int, png: Path) -> None:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    floor = 1e-17  # a result equal to its reference, drawn at the bottom
    fig, ax = plt.subplots(figsize=(7.0, 4.6))
    rtols = np.array(RTOLS)
    ax.plot(rtols, rtols, "k--", lw=1, label="error = rtol")
    markers = "osD^v<>phX*P"
    for (name, row), marker in zip(worst.items(), markers):
        ax.plot(rtols, np.maximum(row, floor), marker=marker, ms=4, lw=1, label=name)
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlim(rtols.max() * 3, rtols.min() / 3)
    ax.set_ylim(floor / 3, 1e-3)
    ax.set_xlabel("rtol asked")
    ax.set_ylabel("worst relative error |A / A_ref - 1|")
    ax.set_title(f"corvanis_fspl against 30-digit references, {points} points (u, rho)",
                 fontsize=9)
    ax.grid(True, which="major", alpha=0.3)
    ax.legend(fontsize=7, loc="lower left", ncol=2)
    fig.tight_layout()
    fig.savefig(png, dpi=110)
    plt.close(fig)


def write_csv(worst: Dict[str, List[float]], path: Path) -> None:
    with path.open("w", newline="") as f:
        out = csv.writer(f)
        out.writerow(["law"] + [f"rtol = {r:g}" for r in RTOLS])
        for name, row in worst.items():
            law = LAWS[name]
            label = name if isinstance(law, fs.Profile) else repr(law)
            out.writerow([label] + [f"{e:.1e}" for e in row])


def main(outdir: Path) -> None:
    outdir.mkdir(parents=True, exist_ok=True)
    start = time.perf_counter()
    worst = measure()
    points = law_reference(fs.Uniform())[0].size
    draw(worst, points, outdir / "law_accuracy.png")
    write_csv(worst, outdir / "law_accuracy.csv")
    print(f"law accuracy: {len(worst)} laws, {points} points, "
          f"{time.perf_counter() - start:.1f} s")


if __name__ == "__main__":
    main(Path(sys.argv[1]) if len(sys.argv) > 1 else Path("."))
