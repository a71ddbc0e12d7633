"""Uniform-source magnification against high-precision references."""

import json
import math
from pathlib import Path

import pytest

import corvanis

DATA = json.loads((Path(__file__).parent / "data" / "witt_mao.json").read_text())
RSTARS = sorted({row[1] for row in DATA["grid"]})
NEEDS_N_BELOW_1 = "ellippi: n must be less than 1."
# Measured worst relative error of the closed form for 3e-5 <= |l - 1| <= 0.1.
NEAR_LIMB_TOLERANCE = 1e-6


def limb_value(rho):
    """The elementary magnification of a lens on the limb, in the module's order."""
    rho2 = rho * rho
    return (((math.asin((-1 + rho2) / (1 + rho2)) + math.pi / 2) * ((1 + rho2) / rho2)
             + 2 / rho) / math.pi)


def worst_relative_error(rows, compute):
    worst = (0.0, None)
    for row in rows:
        got, want = compute(row), row[-1]
        err = abs(got - want) / abs(want)
        worst = max(worst, (err, row), key=lambda e: e[0])
    return worst


@pytest.mark.parametrize("rstar", RSTARS)
def test_grid_against_reference(rstar):
    rows = [row for row in DATA["grid"] if row[1] == rstar]
    got = corvanis.witt_mao_magnification([row[2] for row in rows], 1.0, rstar)
    assert len(got) == len(rows)
    for value, (_, _, l, want) in zip(got, rows):
        # Far from the source the three terms of the closed form are about
        # l^2 times their sum, so the rounding error grows like l^2.
        assert abs(value - want) <= max(1e-13, 4e-16 * l * l) * want, (l, value, want)


def test_near_limb_against_reference():
    # Only points of the closed form: with |l - 1| * rho < 1e-5 the limb
    # formula stands in for it.
    rows = [row for row in DATA["near_limb"] if abs(row[2] - 1) * row[1] >= 1e-5]
    err, row = worst_relative_error(
        rows, lambda r: corvanis.witt_mao_magnification([r[2]], r[0], r[1])[0])
    assert err < NEAR_LIMB_TOLERANCE, row


def test_spot_values_half_einstein_radius():
    got = corvanis.witt_mao_magnification([0, 0.5, 1, 2, 4], 1, 0.5)
    assert got == pytest.approx([4.12, 3.88, 2.75, 1.38, 1.06], abs=5e-3)
    assert got[0] == pytest.approx(math.sqrt(17), rel=4e-16)
    assert got[2] == limb_value(0.5)


@pytest.mark.parametrize("rstar", [1e-3, 0.5, 3.0, 100.0])
def test_limb_branch_is_independent_of_the_separation(rstar):
    # l = 1 exactly and any l with |l - 1| * rho well inside 1e-5 give the limb value.
    inside = 0.5e-5 / rstar
    got = corvanis.witt_mao_magnification([1.0, 1.0 + inside, 1.0 - inside], 1.0, rstar)
    assert got == [limb_value(rstar)] * 3


def test_general_branch_just_outside_the_limb_band():
    # delta = +-1.5e-5: the steep step at the limb, not a jump away from it.
    limb, outside, inside = corvanis.witt_mao_magnification([1.0, 1 + 3e-5, 1 - 3e-5], 1, 0.5)
    assert limb - outside == pytest.approx(4.35e-4, rel=0.01)
    assert inside - limb == pytest.approx(4.35e-4, rel=0.01)
    want = {row[2]: row[3] for row in DATA["near_limb"] if row[1] == 0.5}
    assert outside == pytest.approx(want[1 + 3e-5], rel=NEAR_LIMB_TOLERANCE)
    assert inside == pytest.approx(want[1 - 3e-5], rel=NEAR_LIMB_TOLERANCE)


@pytest.mark.parametrize("l", [[1 + 1.5e-9], [0.5, 2.0, 1 + 1.5e-9], [1 + 1.5e-9, 2.0]])
@pytest.mark.parametrize("function", [
    corvanis.witt_mao_magnification,
    corvanis.integrated_witt_mao_magnification,
    lambda l, re, rstar: corvanis.integrated_flux_map_witt_mao_magnification(
        l, re, rstar, [0.0, 1.0], [1.0, 1.0]),
])
def test_characteristic_rounding_to_one_fails_the_whole_call(function, l):
    # A large source and a lens 1.5e-5 Einstein radii off the limb: n rounds above 1.
    with pytest.raises(RuntimeError) as info:
        function(l, 1.0, 1e4)
    assert type(info.value) is RuntimeError
    assert info.value.args == (NEEDS_N_BELOW_1,)


def test_zero_source_radius_gives_nan():
    got = corvanis.witt_mao_magnification([0.0, 0.5, 1.0, 2.0], 1.0, 0.0)
    assert len(got) == 4 and all(math.isnan(v) for v in got)


def test_only_the_ratio_of_radii_matters():
    l = [0.0, 0.3, 0.99, 1.0, 1.2, 7.0]
    assert (corvanis.witt_mao_magnification(l, 2.0, 1.0)
            == corvanis.witt_mao_magnification(l, 4.0, 2.0))
