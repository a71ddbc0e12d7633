"""Ring magnification against high-precision references and its identities."""

import json
import math
from pathlib import Path

import pytest

import corvanis

DATA = json.loads((Path(__file__).parent / "data" / "heyrovsky.json").read_text())
NEAR_CENTRE = json.loads(
    (Path(__file__).parent / "data" / "near_centre_rings.json").read_text())["rows"]
ROUNDED = json.loads(
    (Path(__file__).parent / "data" / "rounded_rings.json").read_text())["rows"]
ring = corvanis.heyrovsky_magnification


def point_source(l, re, rstar):
    """Point-source magnification of a point l source radii from the lens."""
    g = (re / rstar) ** 2
    return (l * l + 2 * g) / (l * math.sqrt(l * l + 4 * g))


@pytest.mark.parametrize("row", DATA["clear"], ids=lambda r: "re={}-rstar={}-l={}-r={}".format(*r))
def test_clear_rings_against_reference(row):
    re, rstar, l, r, want = row
    assert ring(l, r, re, rstar) == pytest.approx(want, rel=1e-12, abs=0)


# Measured worst relative error of the near-ring points, per band of |r - l|:
# the expansion inside 1e-5 (rings on both sides of the lens), the closed form
# just outside it.
NEAR_RING_TOLERANCES = [(1e-5, 1e-9), (1e-4, 2e-7), (1.0, 5e-9)]


@pytest.mark.parametrize("row", DATA["near_ring"],
                         ids=lambda r: "re={}-rstar={}-l={}-r={}".format(*r))
def test_near_ring_against_reference(row):
    re, rstar, l, r, want = row
    tol = next(t for bound, t in NEAR_RING_TOLERANCES if abs(r - l) < bound)
    assert ring(l, r, re, rstar) == pytest.approx(want, rel=tol, abs=0)


@pytest.mark.parametrize("row", NEAR_CENTRE, ids=lambda r: "re={}-rstar={}-l={}-r={}".format(*r))
def test_rings_near_a_lens_near_the_centre(row):
    # Within 1e-5 of a lens at l <= 0.05 the expansion is used only where
    # |d| < 1.4e-4 l; elsewhere it would be far off (infinite at l = 0). Where
    # the two forms meet, 5e-5 < |d| / l < 3e-4, each is off by up to 5.3e-9.
    re, rstar, l, r, want = row
    tol = 6e-9 if 5e-5 < abs(r - l) / max(l, 1e-300) < 3e-4 else 1e-9
    assert ring(l, r, re, rstar) == pytest.approx(want, rel=tol, abs=0)


@pytest.mark.parametrize("re, rstar", [(1.0, 1.0), (1.0, 0.1), (3.0, 7.0)])
@pytest.mark.parametrize("x", [1e-5, 0.01, 0.5, 1.0, 40.0])
def test_ring_or_centre_at_the_lens_is_a_point_source(x, re, rstar):
    want = point_source(x, re, rstar)
    assert ring(x, 0.0, re, rstar) == pytest.approx(want, rel=1e-15)
    assert ring(0.0, x, re, rstar) == pytest.approx(want, rel=1e-15)


@pytest.mark.parametrize("l, r", [(0.5, 0.1), (0.3, 0.9), (1.5, 0.2), (2.0, 2.00001),
                                  (1e3, 999.5), (0.0, 0.7), (0.25, 0.25 + 1e-5)])
@pytest.mark.parametrize("re, rstar", [(1.0, 1.0), (1.0, 0.05), (2.5, 1.0)])
def test_general_form_is_symmetric_bit_for_bit(l, r, re, rstar):
    assert ring(l, r, re, rstar) == ring(r, l, re, rstar)


@pytest.mark.parametrize("x", [1e-9, 1e-3, 0.5, 1.0, 30.0])
def test_ring_through_the_lens_is_infinite(x):
    assert ring(x, x, 1.0, 1.0) == math.inf


def test_ring_of_radius_zero_at_the_lens_is_undefined():
    assert math.isnan(ring(0.0, 0.0, 1.0, 1.0))
    # Not an error: a table with a ring at the centre still works at l = 0.
    assert math.isnan(corvanis.discrete_flux_map_heyrovsky_magnification(
        [0.0], 1.0, 1.0, [0.0, 0.5], [1.0, 1.0])[0])


@pytest.mark.parametrize("row", ROUNDED, ids=lambda r: "re={}-rstar={}-l={}-r={}".format(*r))
def test_rings_whose_closed_form_rounds_to_one(row):
    # Just outside the expansion's band, far from the centre, the closed form's
    # m or n rounds to 1 or above (tools/gen_rounded_rings.py selects them as
    # the module computes them); the expansion, taken there, is off by at most
    # 1.6e-9, and by 2.1e-10 for a source no larger than the Einstein radius.
    re, rstar, l, r, want = row
    tol = 2e-9 if re / rstar < 1 else 3e-10
    assert ring(l, r, re, rstar) == pytest.approx(want, rel=tol, abs=0)


def test_reported_ring_and_its_flux_map():
    l, r, re, rstar = 852.1194985571543, 852.1194878135315, 1.0, 0.0012914185427932185
    want = next(row[4] for row in ROUNDED if row[:4] == [re, rstar, l, r])
    assert ring(l, r, re, rstar) == pytest.approx(want, rel=1e-12)
    # A discrete flux map holding the ring no longer fails as a whole.
    assert corvanis.discrete_flux_map_heyrovsky_magnification(
        [l], re, rstar, [0.5, r], [2.0, 1.0]) == [ring(l, 0.5, re, rstar) * 2.0 + ring(l, r, re, rstar)]


def test_rounding_ring_at_negative_separations_is_an_error():
    # The mirror image of a ring above, outside the model's domain: the
    # expansion is not taken for it, and the closed form fails as before.
    with pytest.raises(RuntimeError) as info:
        ring(-2e3, -2e3 - 2e-5, 1.0, 1.0)
    assert type(info.value) is RuntimeError
    assert info.value.args == ("ellippi: n must be less than 1.",)


@pytest.mark.parametrize("l, r", [(0.5, 0.2), (3.0, 1.0), (0.0, 0.4)])
def test_no_lens_gives_one(l, r):
    assert ring(l, r, 0.0, 1.0) == pytest.approx(1.0, rel=1e-15)


@pytest.mark.parametrize("l", [1e4, 1e6])
def test_distant_lens_tends_to_one(l):
    assert ring(l, 1.0, 1.0, 1.0) == pytest.approx(1.0, abs=1e-12)


def test_only_the_ratio_of_radii_matters():
    assert ring(0.7, 0.3, 2.0, 1.0) == ring(0.7, 0.3, 4.0, 2.0)
