#!/usr/bin/env python3
"""Worst relative error of corvanis_fspl against its 30-digit references, per
law and rtol (tests/python/data/fspl_references.json, written by
tools/gen_fspl_references.py).

    python3 tools/measure_fspl_accuracy.py              # the table
    python3 tools/measure_fspl_accuracy.py --json F     # also the errors, for plots
    python3 tools/measure_fspl_accuracy.py --detail     # the worst points
"""

import argparse
import json
import sys
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "python"))
import corvanis_fspl as fs  # noqa: E402
from fspl_references import LAWS, law_reference, relative_errors  # noqa: E402

RTOLS = [1e-4, 1e-6, 1e-8, 1e-10, 1e-12]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--json", type=Path)
    parser.add_argument("--detail", action="store_true")
    parser.add_argument("--laws", nargs="*", default=list(LAWS))
    args = parser.parse_args()
    print("| law | " + " | ".join(f"rtol {r:g}" for r in RTOLS) + " |")
    print("|---" * (len(RTOLS) + 1) + "|")
    dump = {"rtols": RTOLS, "laws": {}}
    for name in args.laws:
        u, rho, reference = law_reference(LAWS[name])
        row, dump["laws"][name] = [], []
        for rtol in RTOLS:
            errors = relative_errors(fs.magnification(u, rho, LAWS[name], rtol=rtol), reference)
            row.append(f"{errors.max():.1e}")
            dump["laws"][name].append({"x": (u / rho).tolist(), "rho": rho.tolist(), "error": errors.tolist()})
            if args.detail:
                for i in np.argsort(errors)[::-1][:4]:
                    if errors[i] > rtol:
                        print(f"   {name} rtol {rtol:g}: {errors[i]:.2e} at rho = {rho[i]!r}, x = {u[i] / rho[i]!r}")
        print(f"| {name} | " + " | ".join(row) + " |", flush=True)
    if args.json:
        args.json.write_text(json.dumps(dump))


if __name__ == "__main__":
    main()
