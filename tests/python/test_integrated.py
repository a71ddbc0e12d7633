"""Integrated magnifications of a whole source disk."""

import json
import math
from pathlib import Path

import pytest

import corvanis

DATA = json.loads((Path(__file__).parent / "data" / "limb_darkened_disk.json").read_text())
LIMB_DARKENED = DATA["rows"]
RADII = sorted({(row[0], row[1]) for row in LIMB_DARKENED})

# A finely tabulated copy of the fixed law 1 - 0.6 (1 - sqrt(1 - r^2)).
TABLE_R = [i / 2000 for i in range(2001)]
TABLE_I = [(1 - math.sqrt(1 - r * r)) * (-0.6) + 1 for r in TABLE_R]

# Measured bound (relative). Tabulated law: the error of linear interpolation
# next to the limb, where the law has a square-root edge.
TABLE_TOLERANCE = 5e-6

LIST_FUNCTIONS = [
    corvanis.witt_mao_magnification,
    corvanis.integrated_witt_mao_magnification,
    corvanis.integrated_heyrovsky_magnification,
    lambda l, re, rstar: corvanis.integrated_flux_map_witt_mao_magnification(
        l, re, rstar, [0.0, 1.0], [1.0, 1.0]),
    lambda l, re, rstar: corvanis.integrated_flux_map_heyrovsky_magnification(
        l, re, rstar, [0.0, 1.0], [1.0, 1.0]),
    lambda l, re, rstar: corvanis.discrete_flux_map_heyrovsky_magnification(
        l, re, rstar, [0.0, 1.0], [1.0, 1.0]),
]


@pytest.mark.parametrize("function", LIST_FUNCTIONS)
def test_empty_separation_list_gives_empty_list(function):
    assert function([], 1.0, 0.5) == []
    assert function((), 1.0, 1e4) == []


# ------------------------------------------------------------ uniform source

SEPARATIONS = [0.0, 1e-3, 0.3, 0.9, 0.99, 1.0, 1.01, 1.3, 2.0, 5.0, 50.0]
PROFILES = {
    "uniform": ([0.0, 1.0], [1.0, 1.0]),
    "linear law": (TABLE_R, TABLE_I),
    "bright limb": ([0.0, 0.5, 1.0], [0.1, 0.2, 3.0]),
    "ring only": ([0.4, 0.6], [1.0, 1.0]),
}


@pytest.mark.parametrize("rstar", [1e-3, 0.1, 0.5, 2.0, 10.0])
def test_integrated_uniform_source_equals_closed_form(rstar):
    want = corvanis.witt_mao_magnification(SEPARATIONS, 1.0, rstar)
    got = corvanis.integrated_witt_mao_magnification(SEPARATIONS, 1.0, rstar)
    assert got == pytest.approx(want, rel=1e-10, abs=0)


@pytest.mark.parametrize("profile", PROFILES.values(), ids=PROFILES.keys())
@pytest.mark.parametrize("rstar", [0.01, 0.5, 3.0])
def test_uniform_flux_map_ignores_the_profile(rstar, profile):
    want = corvanis.witt_mao_magnification(SEPARATIONS, 1.0, rstar)
    got = corvanis.integrated_flux_map_witt_mao_magnification(SEPARATIONS, 1.0, rstar, *profile)
    assert got == pytest.approx(want, rel=1e-10, abs=0)


@pytest.mark.parametrize("function, l, re, rstar", [
    (LIST_FUNCTIONS[i], [0.0, 0.5, 2.0], 1.0, 0.0) for i in (1, 2, 3, 4)] + [
    (LIST_FUNCTIONS[i], [0.5, 2.0], re, 1.0) for i in (2, 4) for re in (math.nan, math.inf)])
def test_integral_without_a_finite_node_is_nan(function, l, re, rstar):
    # No finite integrand value: there is no integral, and 0.0 would read as a
    # magnification. Ring errors still do not reach the caller.
    assert all(math.isnan(value) for value in function(l, re, rstar))


def test_separations_without_a_finite_node_are_nan():
    got = corvanis.integrated_heyrovsky_magnification([math.nan, math.inf, 1e155, 2.0], 1.0, 0.1)
    assert all(math.isnan(value) for value in got[:3])
    assert got[3] == corvanis.integrated_heyrovsky_magnification([2.0], 1.0, 0.1)[0]


@pytest.mark.parametrize("function", LIST_FUNCTIONS[1:4:2])
def test_distant_lens_gives_one_uniform(function):
    # The closed form's rounding error grows like l^2 (3e-11 at l = 1e3).
    assert function([1e3], 1.0, 1.0) == pytest.approx([1.0], rel=1e-10)


@pytest.mark.parametrize("function", LIST_FUNCTIONS[2:5:2])
def test_distant_lens_gives_one_rings(function):
    assert function([1e4, 1e6], 1.0, 1.0) == pytest.approx([1.0, 1.0], rel=1e-15)


def test_ring_errors_fail_the_discrete_form():
    # An infinite Einstein radius makes every ring magnification an error: the
    # discrete form fails, the integrated forms give NaN (above).
    with pytest.raises(RuntimeError, match="^elliprj: Fail to converge$"):
        LIST_FUNCTIONS[5]([0.5, 2.0], math.inf, 1.0)


# ------------------------------------------------------- limb-darkened disk


@pytest.mark.parametrize("re, rstar", RADII)
def test_integrated_heyrovsky_against_reference(re, rstar):
    rows = [row for row in LIMB_DARKENED if (row[0], row[1]) == (re, rstar)]
    got = corvanis.integrated_heyrovsky_magnification([row[2] for row in rows], re, rstar)
    for value, (_, _, l, want) in zip(got, rows):
        assert value == pytest.approx(want, rel=1e-11, abs=0), l



@pytest.mark.parametrize("re, rstar", RADII)
def test_tabulated_law_agrees_with_the_fixed_law(re, rstar):
    l = [row[2] for row in LIMB_DARKENED if (row[0], row[1]) == (re, rstar)]
    fixed = corvanis.integrated_heyrovsky_magnification(l, re, rstar)
    table = corvanis.integrated_flux_map_heyrovsky_magnification(l, re, rstar, TABLE_R, TABLE_I)
    assert table == pytest.approx(fixed, rel=TABLE_TOLERANCE, abs=0)



@pytest.mark.parametrize("l", [0.0, 1e-6, 0.25, 0.5, 0.75, 1.0 - 1e-9, 1.0])
def test_lens_inside_the_disk_gives_a_finite_value(l):
    (value,) = corvanis.integrated_heyrovsky_magnification([l], 1.0, 0.5)
    assert math.isfinite(value) and value > 1


@pytest.mark.parametrize("function", LIST_FUNCTIONS)
def test_only_the_ratio_of_radii_matters(function):
    l = [0.0, 0.2, 0.5, 1.0, 1.4, 9.0]
    # repr compares exactly and lets a NaN equal a NaN.
    assert list(map(repr, function(l, 2.0, 1.0))) == list(map(repr, function(l, 4.0, 2.0)))


def test_results_keep_length_and_order():
    l = [5.0, 0.5, 2.0, 0.5, 5.0]
    got = corvanis.integrated_heyrovsky_magnification(l, 1.0, 0.5)
    assert len(got) == 5 and got[0] == got[4] and got[1] == got[3]
    assert got[2] == corvanis.integrated_heyrovsky_magnification([2.0], 1.0, 0.5)[0]
