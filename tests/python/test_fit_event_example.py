"""examples/fit_event.py: its limb-darkening routes agree with dense tables of
the same laws, and the whole fit runs with its reduced budget."""

from __future__ import annotations

import importlib.util
import os
import subprocess
import sys
from pathlib import Path

import pytest

import corvanis

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


@pytest.mark.parametrize("law, coefficients", [
    ("linear", (0.3,)), ("linear", (1.0,)), ("quadratic", (0.7, 0.12)),
    ("square-root", (0.3, 0.5)), ("logarithmic", (0.65, 0.2)),
])
def test_routes_match_a_dense_table(example, law, coefficients):
    # The linear combination, the 501-sample tables and the far-field form
    # against a 5001-sample table of the same law (itself within ~1e-8).
    rho = 0.005
    band = example.Band("x", law, coefficients, 1.0, 0.0, 1, 1.0, 1.0)
    dense = example.profile_table(band.brightness, 5001, "theta")
    l = np.array([0.0, 0.5, 0.99, 1.0005, 1.01, 2.0, 10.0, 30.0, 100.0])
    want = np.array(corvanis.integrated_flux_map_heyrovsky_magnification(l, 1.0, rho, *dense))
    got = example.disk_magnification(l, rho, band)
    assert np.abs(got / want - 1).max() < 1.5e-6
    near_only = example.disk_magnification(l, rho, band, far=np.inf)
    assert np.abs(got[-2:] / near_only[-2:] - 1).max() < 3e-8


@pytest.mark.isolated
@pytest.mark.skipif(bool(os.environ.get("CORVANIS_SANITIZED")),
                    reason="the example runs in the regular test run")
def test_quick_fit_recovers_the_event(tmp_path):
    run = subprocess.run([sys.executable, str(EXAMPLE), "--quick", "--outdir", str(tmp_path)],
                         capture_output=True, text=True, timeout=600)
    assert run.returncode == 0, run.stderr
    fit = next(line for line in run.stdout.splitlines() if "true values within" in line)
    assert "consistent with the truth" in fit and "NOT" not in fit, run.stdout
    assert "uniform-source fit" in run.stdout and "time per likelihood" in run.stdout
    for band in ("I", "V"):
        assert (tmp_path / f"fit_event_{band}.dat").stat().st_size > 0
    if importlib.util.find_spec("matplotlib") is not None:
        assert (tmp_path / "fit_event.png").stat().st_size > 0
