#!/usr/bin/env python3
"""Generate reference ring magnifications for a lens near the source's centre.

Writes tests/python/data/near_centre_rings.json: rings within 1e-5 source
radii of a lens at l <= 0.05 (both sides of the lens, and the ring of radius
0), where the first-order expansion about r = l is far off and the closed form
must be used. References are the ring mean of the point-source magnification
in K and Pi at 50 digits, cross-checked against an angular quadrature.

Usage: python3 tools/gen_near_centre_rings.py   (from the repository root; ~10 s)
"""

import json
import sys
from pathlib import Path

from mpmath import mp, mpf

sys.path.insert(0, str(Path(__file__).resolve().parent))
from gen_model_vectors import DATA, as_double, check, ring_mean_closed, ring_mean_quad  # noqa: E402

COMMAND = "python3 tools/gen_near_centre_rings.py"
SEPARATIONS = [0.0, 1e-9, 1e-7, 1e-5, 1e-3, 0.01, 0.05]
OFFSETS = [1e-9, 1e-7, 1e-6, 3e-6, 9e-6, 9.99e-6]
# (re, rstar): a source the size of the Einstein radius and one 100 times smaller.
RADII = [(1.0, 1.0), (1.0, 0.01)]


def rings(l):
    """Ring radii near the lens at l, on both sides, and the centre."""
    radii = {0.0}
    for off in OFFSETS:
        radii.update(r for r in (l - off, l + off) if r >= 0)
    return sorted(radii)


def main():
    mp.dps = 50
    rows = []
    for re, rstar in RADII:
        g = mpf(re) / rstar
        for l in SEPARATIONS:
            for r in rings(l):
                if r == l:  # through the lens: infinite, or undefined at the centre
                    continue
                rows.append([re, rstar, l, r, as_double(ring_mean_closed(l, r, g))])
    check_and_write(rows, 9, "near_centre_rings.json", COMMAND)


def check_and_write(rows, every, filename, command):
    """Checks every `every`-th ring's closed form against angular quadrature,
    then writes the rows (re, rstar, l, r, magnification) to DATA/filename."""
    print("cross-checks (closed form vs angular quadrature):")
    for re, rstar, l, r, _ in rows[::every]:
        g = mpf(re) / rstar
        check(f"re/rstar={re / rstar:.6g} l={l} r={r}", ring_mean_closed(l, r, g),
              ring_mean_quad(l, r, g), mpf("1e-30"))
    path = DATA / filename
    content = {"generated_by": command, "columns": ["re", "rstar", "l", "r", "magnification"],
               "rows": rows}
    path.write_text(json.dumps(content, indent=1) + "\n")
    print(f"wrote {len(rows)} rows to {path.relative_to(DATA.parent.parent.parent)}")


if __name__ == "__main__":
    main()
