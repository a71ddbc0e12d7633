"""Flux-map magnifications: tables given by the caller."""

import math

import pytest

import corvanis

FLUX_MAP_FUNCTIONS = {
    "uniform": corvanis.integrated_flux_map_witt_mao_magnification,
    "rings integrated": corvanis.integrated_flux_map_heyrovsky_magnification,
    "rings discrete": corvanis.discrete_flux_map_heyrovsky_magnification,
}
INTEGRATED = {k: v for k, v in FLUX_MAP_FUNCTIONS.items() if k != "rings discrete"}
discrete = corvanis.discrete_flux_map_heyrovsky_magnification
ring = corvanis.heyrovsky_magnification
SEPARATIONS = [0.0, 0.3, 0.8, 1.0, 1.2, 3.0]
# Measured bounds (relative): a constant one-row table against the
# uniform-source value; the same integral for another scale of the table,
# where the quadrature may stop at a different level (3e-11).
SINGLE_SAMPLE_TOLERANCE = 1e-9
QUADRATURE_TOLERANCE = 1e-10


def panic_type():
    try:
        discrete([], 1.0, 1.0, [0.0], [])
    except BaseException as exc:  # the panic type derives from BaseException only
        return type(exc)
    pytest.fail("unequal table lengths did not panic")


@pytest.mark.parametrize("l", [[], [0.5, 2.0]])
@pytest.mark.parametrize("function", FLUX_MAP_FUNCTIONS.values(), ids=FLUX_MAP_FUNCTIONS.keys())
def test_unequal_table_lengths_panic(function, l):
    panic = panic_type()
    with pytest.raises(panic) as info:
        function(l, 1.0, 0.5, [0.0, 0.5, 1.0], [1.0, 1.0])
    assert info.value.args == ("assertion `left == right` failed\n  left: 3\n right: 2",)
    assert not isinstance(info.value, Exception)
    assert (panic.__module__, panic.__name__) == ("pyo3_runtime", "PanicException")
    # The module stays usable after the panic.
    assert function([2.0], 1.0, 0.5, [0.0, 1.0], [1.0, 1.0]) == function([2.0], 2.0, 1.0, [0.0, 1.0],
                                                                          [1.0, 1.0])
    assert corvanis.witt_mao_magnification([2.0], 1.0, 0.5)[0] == pytest.approx(1.38, abs=5e-3)


@pytest.mark.parametrize("function", INTEGRATED.values(), ids=INTEGRATED.keys())
@pytest.mark.parametrize("bl, bf", [([], []), ([0.0, 1.0], [0.0, 0.0]), ([2.0, 3.0], [1.0, 5.0])],
                         ids=["empty", "zero flux", "outside the disk"])
def test_integrated_forms_of_a_dark_table_give_nan(function, bl, bf):
    got = function([0.5, 2.0], 1.0, 0.5, bl, bf)
    assert len(got) == 2 and all(math.isnan(v) for v in got)


def test_discrete_form_of_an_empty_table_gives_zero():
    assert discrete([0.5, 2.0], 1.0, 0.5, [], []) == [0.0, 0.0]


@pytest.mark.parametrize("function", FLUX_MAP_FUNCTIONS.values(), ids=FLUX_MAP_FUNCTIONS.keys())
def test_empty_separations_with_equal_tables(function):
    assert function([], 1.0, 0.5, [0.0, 1.0], [1.0, 1.0]) == []


@pytest.mark.parametrize("function", INTEGRATED.values(), ids=INTEGRATED.keys())
@pytest.mark.parametrize("re, rstar", [(1.0, 0.5), (1.0, 3.0), (4.0, 1.0)])
def test_single_sample_is_a_uniform_disk(function, re, rstar):
    # A one-row table is constant over the disk: the uniform-source value,
    # whatever the radius and brightness of the row.
    want = corvanis.witt_mao_magnification(SEPARATIONS, re, rstar)
    results = [function(SEPARATIONS, re, rstar, [x], [c]) for x, c in [(0.0, 1.0), (0.7, 3.5),
                                                                         (5.0, 0.25)]]
    for got in results:
        assert got == pytest.approx(results[0], rel=QUADRATURE_TOLERANCE, abs=0)
        for l, value, uniform in zip(SEPARATIONS, got, want):
            # With the lens at the centre the rings within 1e-5 of it are dropped.
            tol = 2e-5 if l == 0 else SINGLE_SAMPLE_TOLERANCE
            assert value == pytest.approx(uniform, rel=tol, abs=0), l



@pytest.mark.parametrize("x, c", [(0.0, 1.0), (0.6, 2.5), (1.0, -0.5)])
def test_discrete_single_ring(x, c):
    got = discrete(SEPARATIONS[1:], 1.0, 0.5, [x], [c])
    want = [ring(l, x, 1.0, 0.5) * c for l in SEPARATIONS[1:]]
    assert got == want


def test_discrete_sum_of_rings():
    bl, bf = [0.0, 0.25, 0.5, 1.0], [0.5, 1.5, -2.0, 3.0]
    got = discrete([0.1, 0.7, 2.0], 2.0, 1.0, bl, bf)
    for value, l in zip(got, [0.1, 0.7, 2.0]):
        want = 0.0
        for r, w in zip(bl, bf):
            want = want + ring(l, r, 2.0, 1.0) * w
        assert value == want


@pytest.mark.parametrize("scale", [2.0, 3.0, 0.1])
def test_scaling_the_table(scale):
    bl, bf = [0.0, 0.3, 0.7, 1.0], [1.0, 0.9, 0.7, 0.4]
    scaled = [v * scale for v in bf]
    got = discrete(SEPARATIONS[1:], 1.0, 0.5, bl, scaled)
    want = discrete(SEPARATIONS[1:], 1.0, 0.5, bl, bf)
    assert got == pytest.approx([v * scale for v in want], rel=1e-15, abs=0)
    for function in INTEGRATED.values():
        got = function(SEPARATIONS, 1.0, 0.5, bl, scaled)
        want = function(SEPARATIONS, 1.0, 0.5, bl, bf)
        assert got == pytest.approx(want, rel=QUADRATURE_TOLERANCE, abs=0)


@pytest.mark.parametrize("re, rstar", [(1.0, 1.0), (1.0, 0.1), (0.5, 2.0)])
def test_discrete_centre_ring_is_a_point_source(re, rstar):
    l = [1e-5, 0.3, 1.0, 7.0]
    g = (re / rstar) ** 2
    want = [(x * x + 2 * g) / (x * math.sqrt(x * x + 4 * g)) for x in l]
    assert discrete(l, re, rstar, [0.0], [1.0]) == pytest.approx(want, rel=1e-15)


def test_discrete_ring_through_the_lens_is_infinite():
    assert discrete([0.5], 1.0, 1.0, [0.2, 0.5], [1.0, 1.0]) == [math.inf]


# Negative separations and radii, the mirror image of a ring whose closed form
# rounds n to 1 and which the expansion takes at positive ones: there the
# closed form still fails.
@pytest.mark.parametrize("l", [[-2e3], [-1.0, -5.0, -2e3], [-2e3, -1.0]])
def test_discrete_kernel_error_fails_the_whole_call(l):
    with pytest.raises(RuntimeError) as info:
        discrete(l, 1.0, 1.0, [-0.5, -2e3 - 2e-5], [1.0, 1.0])
    assert type(info.value) is RuntimeError
    assert info.value.args == ("ellippi: n must be less than 1.",)


def test_distant_lens():
    bl, bf = [0.0, 0.5, 1.0], [1.0, 0.8, 0.4]
    assert discrete([1e6], 1.0, 1.0, bl, bf)[0] == pytest.approx(sum(bf), rel=1e-12)
    assert INTEGRATED["rings integrated"]([1e6], 1.0, 1.0, bl, bf) == [pytest.approx(1.0, rel=1e-15)]
    # The uniform closed form loses accuracy like l^2 far away (3e-11 at 1e3).
    assert INTEGRATED["uniform"]([1e3], 1.0, 1.0, bl, bf) == [pytest.approx(1.0, rel=1e-10)]
