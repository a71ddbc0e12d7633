#!/usr/bin/env python3
"""Generate reference ring magnifications where the closed form's m or n rounds to 1.

Writes tests/python/data/rounded_rings.json: rings just outside the expansion's
band (1e-5 <= |r - l| source radii) far from the source's centre, for which the
double-precision elliptic arguments of the closed form, computed as the module
computes them (src/lib/ring.hpp, ring_elliptic_arguments), round to m >= 1 or
n >= 1; the closed form then fails ("ellipk: m must be less than 1." and the
like), and the module takes the expansion about r = l. The selection is made
here in Python floats, which round as the module's doubles do. References are
the ring mean of the point-source magnification in K and Pi at 50 digits (with
the precision raised by the digits 1 - n loses), cross-checked against an
angular quadrature.

Usage: python3 tools/gen_rounded_rings.py   (from the repository root; ~1 min)
"""

import math
import sys
from pathlib import Path

from mpmath import mp, mpf

sys.path.insert(0, str(Path(__file__).resolve().parent))
from gen_model_vectors import as_double, ring_mean_closed  # noqa: E402
from gen_near_centre_rings import check_and_write  # noqa: E402

COMMAND = "python3 tools/gen_rounded_rings.py"
NEAR_RING_BAND = 1e-5
NEAR_RING_RELATIVE = 1.4e-4
# (re, rstar): the reported ring's sizes, a source the size of the Einstein
# radius, and sources 100 times smaller and 15 times larger.
RADII = [(1.0, 0.0012914185427932185), (1.0, 1.0), (1.0, 0.01), (2.0, 30.0)]
SEPARATIONS = [600.0, 852.1194878135315, 2e3, 1e4, 1e5, 1e6]
# Rings found failing: the report's, a characteristic rounding to 1, and the
# three separations around one ring that once failed with three messages.
KNOWN = [
    (1.0, 0.0012914185427932185, 852.1194985571543, 852.1194878135315),
    (1.0, 1.0, 2e3, 2e3 + 2e-5),
    (1.0, 0.0012914185427932185, 852.1194778075304, 852.1194878135315),
    (1.0, 0.0012914185427932185, 852.1194778125315, 852.1194878135315),
    (1.0, 0.0012914185427932185, 852.1194978595405, 852.1194878135315),
]


def elliptic_arguments(l, r, re, rstar):
    """m and n as the module forms them, in doubles."""
    r_e = re / rstar
    g = r_e * r_e
    d = r - l
    L = g * 4 + d * d
    S = l + r
    k = math.sqrt(l * r / L) * ((r_e * 4) / S)
    return k * k, ((l * 4) * r) / (S * S)


def rounds_to_one(l, r, re, rstar):
    d = r - l
    m, n = elliptic_arguments(l, r, re, rstar)
    return abs(d) >= NEAR_RING_BAND and (m >= 1 or n >= 1)


def candidates():
    for re, rstar in RADII:
        for l in SEPARATIONS:
            # |d| from the band's edge up, on both sides, until nothing rounds.
            for exponent in range(0, 60):
                offset = NEAR_RING_BAND * 10 ** (exponent / 10)
                if offset > 1e-7 * l:
                    break
                for r in (l + offset, l - offset):
                    yield re, rstar, l, r


def main():
    mp.dps = 50
    rows = []
    seen = set()
    for re, rstar, l, r in KNOWN + list(candidates()):
        if (re, rstar, l, r) in seen or not rounds_to_one(l, r, re, rstar):
            continue
        seen.add((re, rstar, l, r))
        assert abs(r - l) < NEAR_RING_RELATIVE * l
        rows.append([re, rstar, l, r, as_double(ring_mean_closed(l, r, mpf(re) / rstar))])
    check_and_write(rows, 7, "rounded_rings.json", COMMAND)

if __name__ == "__main__":
    main()
