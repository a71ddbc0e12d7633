"""solve_fluxes: the weighted linear solve against numpy.linalg.lstsq, the
profiled chi^2 gradient against finite differences, and refused input."""

from __future__ import annotations

import doctest

import pytest

np = pytest.importorskip("numpy")
fs = pytest.importorskip("corvanis_fspl")

TRUE = dict(t0=0.3, u0=0.004, tE=20.0, rho=0.01)
NAMES = ("t0", "u0", "tE", "rho")


def _law(law, coefficients):
    return type(law)(*coefficients) if coefficients else law


def event(law, seed=1):
    rng = np.random.default_rng(seed)
    t = np.sort(np.concatenate([rng.uniform(-40, 40, 60), rng.uniform(0.1, 0.5, 80)]))
    a = fs.light_curve(t, *TRUE.values(), law)
    flux = 0.6 * a + 0.3
    err = 0.005 * np.sqrt(flux)
    return t, flux + err * rng.standard_normal(t.size), err


@pytest.mark.parametrize("a, err", [
    (np.linspace(1.0, 3.0, 7), np.full(7, 0.1)),                       # equal weights
    (np.geomspace(1.0, 400.0, 50), np.geomspace(1e-3, 0.3, 50)),       # wide range of weights
    (1e3 + np.linspace(0.0, 1e-3, 30), np.full(30, 1e-4)),             # nearly constant A
    (np.array([1.0, 2.0]), np.array([0.1, 0.2])),                      # exactly determined
])
def test_matches_lstsq(a, err):
    rng = np.random.default_rng(7)
    flux = 0.7 * a + 0.2 + err * rng.standard_normal(a.size)
    design = np.column_stack([a, np.ones_like(a)]) / err[:, None]
    want, *_ = np.linalg.lstsq(design, flux / err, rcond=None)
    # The inverse normal matrix (design^T design)^-1, from the SVD of the
    # design so that the nearly constant case keeps its digits.
    _, s, vt = np.linalg.svd(design, full_matrices=False)
    covariance = (vt.T / s ** 2) @ vt
    chi2 = float(np.sum((flux / err - design @ want) ** 2))

    got = fs.solve_fluxes(a, flux, err)
    scale = np.sqrt(np.diag(covariance))  # agreement in units of the flux errors
    assert np.abs((np.array([got.source_flux, got.blend_flux]) - want) / scale).max() < 1e-7
    np.testing.assert_allclose(got.covariance, covariance, rtol=1e-7,
                               atol=1e-9 * np.abs(covariance).max())
    assert got.chi2 == pytest.approx(chi2, rel=1e-8, abs=1e-16 * a.size)
    assert got.chi2_gradient is None


def _light_curve(t, p, law, gradient=False):
    return fs.light_curve(t, *p, law, rtol=1e-12, gradient=gradient)


def _magnification(t, p, law, gradient=False):
    # Parameters (u shift, rho): every separation moved by the same amount.
    u = np.hypot(TRUE["u0"], (t - TRUE["t0"]) / TRUE["tE"]) + p[0]
    return fs.magnification(u, p[1], law, rtol=1e-12, gradient=gradient)


@pytest.mark.parametrize("model, names, params", [
    (_light_curve, NAMES, [TRUE["t0"] + 0.002, 0.0043, 19.5, 0.0098]),
    (_magnification, ("u", "rho"), [2e-4, 0.0098]),
])
@pytest.mark.parametrize("law", [fs.Uniform(), fs.Linear(0.55), fs.Quadratic(0.70, 0.12)])
def test_chi2_gradient_is_the_profiled_derivative(model, names, params, law):
    # Away from the best fit, so that the gradient is not zero; the fluxes
    # are solved again at every shifted parameter of the finite difference.
    t, flux, err = event(law)
    params = np.array(params)
    got = fs.solve_fluxes(model(t, params, law, gradient=True), flux, err).chi2_gradient

    def chi2(p, c=law.coefficients):
        return fs.solve_fluxes(model(t, p, _law(law, c)), flux, err).chi2

    assert set(got) == set(names) | {"coefficients"}
    n = len(names)
    for i, name in enumerate(names):
        # Steps of a few 1e-8 in u: epochs lie next to the limb, where dA/du
        # diverges logarithmically.
        h = {"t0": 1e-6, "u": 5e-8}.get(name, 1e-5 * params[i])
        step = h * np.eye(n)[i]
        want = (chi2(params + step) - chi2(params - step)) / (2 * h)
        assert got[name] == pytest.approx(want, rel=1e-5), name
    c = np.array(law.coefficients)
    assert got["coefficients"].shape == c.shape
    for k in range(c.size):
        step = 1e-5 * np.eye(c.size)[k]
        want = (chi2(params, tuple(c + step)) - chi2(params, tuple(c - step))) / 2e-5
        assert got["coefficients"][k] == pytest.approx(want, rel=1e-5)


def test_chi2_gradient_vanishes_with_the_model_derivative():
    # A derivative field that is zero everywhere gives a zero entry: the
    # fluxes' own derivatives are profiled out, not added.
    t, flux, err = event(fs.Linear(0.5))
    g = _light_curve(t, tuple(TRUE.values()), fs.Linear(0.5), gradient=True)
    got = fs.solve_fluxes(g._replace(dA_dt0=np.zeros_like(g.A)), flux, err).chi2_gradient
    assert got["t0"] == 0.0 and got["u0"] != 0.0


N = 5
GOOD_A, GOOD_F, GOOD_E = np.arange(1.0, N + 1), np.arange(2.0, N + 2), np.full(N, 0.1)


def _with(array, index, value):
    array = array.copy()
    array[index] = value
    return array


@pytest.mark.parametrize("a, flux, err, message", [
    (GOOD_A, GOOD_F[:-1], GOOD_E, "same length"),
    (GOOD_A, GOOD_F, GOOD_E[:3], "same length"),
    (GOOD_A[:1], GOOD_F[:1], GOOD_E[:1], "at least 2"),
    (GOOD_A, GOOD_F, _with(GOOD_E, 2, 0.0),
     r"flux_err must be positive and finite; got 0.0 at index 2"),
    (GOOD_A, GOOD_F, _with(GOOD_E, 3, -0.1), r"flux_err .* -0.1 at index 3"),
    (GOOD_A, GOOD_F, _with(GOOD_E, 1, np.inf), r"flux_err .* inf at index 1"),
    (GOOD_A, GOOD_F, _with(GOOD_E, 0, np.nan), r"flux_err .* nan at index 0"),
    (GOOD_A, _with(GOOD_F, 4, np.nan), GOOD_E, r"flux must be finite; got nan at index 4"),
    (_with(GOOD_A, 1, np.nan), GOOD_F, GOOD_E, r"magnification must be finite; got nan at index 1"),
    (np.full(N, 7.3), GOOD_F, GOOD_E, "singular"),
    (np.array([0.3, 0.1 * 3, 0.3, 0.3, 0.1 * 3]), GOOD_F, GOOD_E, "singular"),  # to rounding
    (GOOD_A.reshape(1, N), GOOD_F, GOOD_E, "one-dimensional"),
])
def test_refused(a, flux, err, message):
    with pytest.raises(ValueError, match=message):
        fs.solve_fluxes(a, flux, err)


def test_refuses_a_derivative_of_another_length():
    g = fs.LightCurveGradient(GOOD_A, *(np.ones(N),) * 3, np.ones(N - 1), np.ones((2, N)))
    with pytest.raises(ValueError, match="dA_drho"):
        fs.solve_fluxes(g, GOOD_F, GOOD_E)


def test_docstring_example():
    from corvanis_fspl import _fluxes
    assert doctest.testmod(_fluxes).failed == 0
