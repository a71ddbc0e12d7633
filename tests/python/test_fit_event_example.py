"""examples/fit_event.py: its Jacobian with the fluxes profiled out is the
derivative of its residuals, and the whole fit runs with its reduced budget."""

from __future__ import annotations

import importlib.util
import os
import subprocess
import sys
from pathlib import Path

import pytest

np = pytest.importorskip("numpy")
pytest.importorskip("scipy")  # the example's fits

EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "fit_event.py"


@pytest.fixture(scope="module")
def example():
    sys.path.insert(0, str(EXAMPLE.parent))
    try:
        import fit_event
    finally:
        sys.path.remove(str(EXAMPLE.parent))
    return fit_event


@pytest.fixture(scope="module")
def data(example, tmp_path_factory):
    bands = example.band_setup(quick=True)
    paths = example.simulate(tmp_path_factory.mktemp("fit_event"), bands,
                             np.random.default_rng(example.SEED))
    return example.read_photometry(paths, bands)


@pytest.mark.parametrize("shift", [
    (0.0, 0.0, 0.0, 0.0),             # the truth: residuals are only noise
    (0.004, 3e-4, -1.5, -4e-4),       # off the peak, trajectory through the limb moved
])
def test_jacobian_is_the_derivative_of_the_profiled_residuals(example, data, shift):
    # Central differences of the residuals, whose fluxes are solved again at
    # every shifted point; against the variable-projection Jacobian.
    model = example.Model(data, [d.band.law for d in data])
    params = np.array(list(example.TRUE.values())) + np.array(shift)
    jac = model.jacobian(params)
    r = model.residuals(params)
    for i in range(4):
        h = 1e-6 * abs(params[i]) if i else 2e-6
        step = h * np.eye(4)[i]
        want = (model.residuals(params + step) - model.residuals(params - step)) / (2 * h)
        scale = np.abs(want).max()
        assert np.abs(jac[:, i] - want).max() < 1e-5 * scale, example.NAMES[i]
    # Its J^T r is half solve_fluxes' profiled chi^2 gradient, summed over bands.
    gradient = np.zeros(4)
    for d, law in zip(data, model.laws):
        g = example.fs.light_curve(d.t, *params, law, rtol=example.RTOL, gradient=True)
        total = example.fs.solve_fluxes(g, d.flux, d.flux_err).chi2_gradient
        gradient += [total[name] for name in example.NAMES]
    np.testing.assert_allclose(2.0 * jac.T @ r, gradient, rtol=1e-9,
                               atol=1e-9 * np.abs(gradient).max())


@pytest.mark.isolated
@pytest.mark.skipif(bool(os.environ.get("CORVANIS_SANITIZED")),
                    reason="the example runs in the regular test run")
def test_quick_fit_recovers_the_event(tmp_path):
    run = subprocess.run([sys.executable, str(EXAMPLE), "--quick", "--outdir", str(tmp_path)],
                         capture_output=True, text=True, timeout=600)
    assert run.returncode == 0, run.stderr
    out = run.stdout
    fit = next(line for line in out.splitlines() if "true values within" in line)
    assert "consistent with the truth" in fit and "NOT" not in fit, out
    exact = next(line for line in out.splitlines() if "exact Jacobian:" in line)
    differences = next(line for line in out.splitlines() if "finite differences:" in line)
    # Each finite-difference Jacobian costs four more light curves.
    assert int(exact.split()[2]) < int(differences.split()[2]), out
    assert "uniform-source fit" in out and "time per likelihood" in out
    for band in ("I", "V"):
        assert (tmp_path / f"fit_event_{band}.dat").stat().st_size > 0
    if importlib.util.find_spec("matplotlib") is not None:
        assert (tmp_path / "fit_event.png").stat().st_size > 0
