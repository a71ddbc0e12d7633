"""corvanis_fspl: the identities the method rests on, checked on the package
itself; shapes and broadcasting; refused input; threads."""

import math
import os
import subprocess
import sys

import pytest

np = pytest.importorskip("numpy")
fs = pytest.importorskip("corvanis_fspl")

import corvanis  # noqa: E402

RHOS = [1e-4, 0.01, 0.3, 5.0]
LAWS = [fs.Uniform(), fs.Linear(0.6), fs.Quadratic(0.4, 0.25), fs.SquareRoot(0.3, 0.5),
        fs.Logarithmic(0.6, 0.2), fs.Power2(0.6, 0.4), fs.FourParameter(0.5, -0.3, 0.9, -0.4),
        fs.Profile((1.0, 0.9, 0.4), r=(0.0, 0.7, 1.0))]


def point_source(u):
    return (u * u + 2) / (u * np.sqrt(u * u + 4))


@pytest.mark.parametrize("rho", RHOS)
def test_linear_in_the_brightness_profile(rho):
    # Linear(c) = (1 - c) * 1 + c * mu, the bases of flux 1 and 2/3.
    u = rho * np.array([0.0, 0.2, 0.97, 1.0, 1.03, 1.9, 2.1, 8.0])
    c = 0.37
    uniform, mu = fs.magnification(u, rho, [fs.Uniform(), fs.Power2(1.0, 1.0)], rtol=1e-13)
    combined = ((1 - c) * uniform + c * (2 / 3) * mu) / (1 - c / 3)
    np.testing.assert_allclose(fs.magnification(u, rho, fs.Linear(c), rtol=1e-13), combined, rtol=1e-12)


@pytest.mark.parametrize("law", LAWS, ids=repr)
def test_far_away_the_point_source_with_its_quadrupole(law):
    # A = A_ps(u) + <r^2> (rho^2 / 4) Laplacian A_ps(u) + O((rho/u)^4).
    rho, u = 0.01, np.array([0.5, 1.0, 3.0])
    mu = np.linspace(0.0, 1.0, 200001)
    r2 = 1 - mu * mu
    weight = law.brightness(mu) * mu  # 2 r dr = -2 mu dmu
    second_moment = np.trapezoid(weight * r2, mu) / np.trapezoid(weight, mu)
    laplacian = 32 * (u * u + 1) / (u ** 3 * (u * u + 4) ** 2.5)
    expected = point_source(u) + second_moment * rho * rho / 4 * laplacian
    np.testing.assert_allclose(fs.magnification(u, rho, law, rtol=1e-12), expected, rtol=2e-8)


@pytest.mark.parametrize("rtol", [1e-4, 1e-8, 1e-12])
@pytest.mark.parametrize("law", LAWS[1:4], ids=repr)
def test_no_step_where_the_method_changes(law, rtol):
    # The series from u = 2 rho on, the inner cut from u < rho, the graded
    # cuts below mu* = 0.05: each side within rtol of the other.
    rho = 0.02
    for x in (2.0, 1.0, math.sqrt(1 - 0.05 ** 2)):
        u = np.array([np.nextafter(x * rho, 0), x * rho, np.nextafter(x * rho, 1)])
        a = fs.magnification(u, rho, law, rtol=rtol)
        assert np.ptp(a) <= 2 * rtol * a[1], (x, a)


@pytest.mark.parametrize("rho", [1e-3, 0.1, 1.0, 10.0])
def test_linear_06_agrees_with_the_integrated_ring_magnification(rho):
    l = np.array([0.0, 0.3, 0.9, 0.999, 1.0, 1.001, 1.5, 1.99, 2.0, 2.5, 5.0, 30.0])
    expected = corvanis.integrated_heyrovsky_magnification(l, 1.0, rho)
    np.testing.assert_allclose(fs.magnification(l * rho, rho, fs.Linear(0.6)), expected, rtol=1e-10)


def test_shapes_and_broadcasting():
    u = np.array([[0.0], [0.01], [0.5]])
    rho = np.array([0.01, 0.02])
    assert fs.magnification(u, rho).shape == (3, 2)
    assert fs.magnification(u, rho, [fs.Uniform(), fs.Linear(0.5)]).shape == (2, 3, 2)
    scalar = fs.magnification(0.5, 0.01)
    assert isinstance(scalar, np.float64)
    assert fs.magnification([], 0.01).shape == (0,)
    g = fs.magnification(u, rho, fs.Quadratic(0.4, 0.2), gradient=True)
    assert g.A.shape == g.dA_du.shape == g.dA_drho.shape == (3, 2)
    assert g.dA_dcoefficients.shape == (2, 3, 2)
    lc = fs.light_curve(np.linspace(-1, 1, 7), 0.0, 0.01, 20.0, 0.02, [fs.Uniform(), fs.Linear(0.5)])
    assert lc.shape == (2, 7)


def test_nan_separation_gives_nan_for_that_element_only():
    a = fs.magnification([0.01, np.nan, 0.03], 0.02, fs.Linear(0.5))
    assert np.isnan(a[1]) and np.isfinite(a[[0, 2]]).all()


@pytest.mark.parametrize("call, message", [
    (lambda: fs.magnification(0.1, [0.1, -0.01]), "rho must be positive and finite; got -0.01 at index 1"),
    (lambda: fs.magnification(0.1, 0.0), "rho must be positive and finite; got 0.0"),
    (lambda: fs.magnification(0.1, np.inf), "rho must be positive and finite; got inf"),
    (lambda: fs.magnification([0.1, 0.2, -1.0], 0.1), "u must be non-negative; got -1.0 at index 2"),
    (lambda: fs.magnification(0.1, 0.1, rtol=1e-15), "rtol must lie in [1e-14, 0.01]; got 1e-15"),
    (lambda: fs.magnification(0.1, 0.1, rtol=0.1), "rtol must lie in [1e-14, 0.01]; got 0.1"),
    (lambda: fs.Linear(float("nan")), "c must be finite; got nan"),
    (lambda: fs.Quadratic(0.1, float("inf")), "b must be finite; got inf"),
    (lambda: fs.Power2(0.5, 0.0), "alpha must be positive; got 0.0"),
    (lambda: fs.magnification(0.1, 0.1, fs.Linear(4.0)), "law must have a positive total flux"),
    (lambda: fs.magnification(0.1, 0.1, [fs.Uniform(), fs.Linear(4.0)]), "law[1] must have a positive total flux"),
    (lambda: fs.Profile((1.0, 0.5), r=(0.0, 0.9)), "r must run from 0 to 1; got 0.0 to 0.9"),
    (lambda: fs.Profile((1.0, 0.5, 0.2, 0.1), mu=(0.0, 0.6, 0.6, 1.0)), "mu must be strictly ascending"),
    (lambda: fs.light_curve([0.0], 0.0, 0.1, -5.0, 0.01), "tE must be positive and finite; got -5.0"),
])
def test_bad_input_names_the_argument_and_value(call, message):
    with pytest.raises(ValueError) as info:
        call()
    assert message in str(info.value)


@pytest.mark.parametrize("law, rtol", [("quadratic", 1e-8), (fs.Linear(0.5), "tight")])
def test_wrong_types_raise_type_error(law, rtol):
    with pytest.raises(TypeError, match="law must be a Law|rtol must be a number"):
        fs.magnification(0.1, 0.1, law, rtol=rtol)


def test_a_law_negative_somewhere_on_the_disk_is_accepted():
    law = fs.Linear(1.4)  # I(0) = -0.4, total flux still positive
    assert np.isfinite(fs.magnification([0.0, 0.05, 0.1], 0.1, law)).all()


def test_large_sources_next_to_the_limb_give_values():
    rho = np.array([30.0, 100.0])
    for dx in (-1e-12, -1e-9, 0.0, 1e-9, 1e-12):
        a = fs.magnification(rho * (1 + dx), rho, fs.Quadratic(0.4, 0.25))
        assert np.isfinite(a).all() and (a > 1).all()


def test_derivatives_are_infinite_on_the_limb():
    g = fs.magnification(0.1, 0.1, fs.SquareRoot(0.3, 0.5), gradient=True)
    assert g.dA_du == -np.inf and g.dA_drho == np.inf and np.isfinite(g.A)
    # Zero limb brightness: finite.
    g = fs.magnification(0.1, 0.1, fs.Power2(1.0, 1.0), gradient=True)
    assert np.isfinite([g.dA_du, g.dA_drho]).all()


def test_light_curve_chain_rule_against_finite_differences():
    law = fs.Quadratic(0.4, 0.25)
    t = np.array([-3.0, -0.1, 0.02, 0.15, 1.0])
    p = dict(t0=0.01, u0=0.004, tE=20.0, rho=0.01)
    g = fs.light_curve(t, *p.values(), law, rtol=1e-12, gradient=True)
    for name in p:
        h = 1e-6 * abs(p[name])
        up, down = dict(p), dict(p)
        up[name] += h
        down[name] -= h
        fd = (fs.light_curve(t, *up.values(), law, rtol=1e-13)
              - fs.light_curve(t, *down.values(), law, rtol=1e-13)) / (2 * h)
        np.testing.assert_allclose(getattr(g, "dA_d" + name), fd, rtol=2e-5, atol=1e-9, err_msg=name)
    for i in range(2):
        coefficients = list(law.coefficients)
        coefficients[i] += 1e-6
        up = fs.light_curve(t, *p.values(), fs.Quadratic(*coefficients), rtol=1e-13)
        coefficients[i] -= 2e-6
        down = fs.light_curve(t, *p.values(), fs.Quadratic(*coefficients), rtol=1e-13)
        np.testing.assert_allclose(g.dA_dcoefficients[i], (up - down) / 2e-6, rtol=2e-5, atol=1e-9)


def test_same_bits_on_every_thread_count():
    code = ("import numpy as np, corvanis_fspl as fs, sys\n"
            "u = np.linspace(0, 0.05, 20001)\n"
            "a = fs.magnification(u, 0.01, [fs.Quadratic(0.4, 0.25), fs.Power2(0.6, 0.5)], rtol=1e-10)\n"
            "g = fs.magnification(u, 0.01, fs.Linear(0.6), gradient=True)\n"
            "sys.stdout.buffer.write(a.tobytes() + g.dA_du.tobytes() + g.dA_dcoefficients.tobytes())\n")
    outputs = []
    for threads in ("1", "2", "3"):
        env = dict(os.environ, CORVANIS_NUM_THREADS=threads)
        outputs.append(subprocess.run([sys.executable, "-c", code], env=env, capture_output=True,
                                      check=True, timeout=300).stdout)
    assert outputs[0] == outputs[1] == outputs[2]


def test_the_gil_is_released_while_computing():
    import threading

    u = np.linspace(0.0, 0.02, 20000)
    done = threading.Event()
    worker = threading.Thread(target=lambda: (fs.magnification(u, 0.01, fs.Quadratic(0.4, 0.25), rtol=1e-12),
                                              done.set()))
    spins = 0
    worker.start()
    while not done.is_set():
        spins += 1
    worker.join()
    # Holding the GIL, the call would leave this thread no turn until it ended.
    assert spins > 100_000


@pytest.mark.parametrize("value", ["many", "0", "5000"])
def test_invalid_thread_count_is_ignored_with_a_warning(value):
    code = "import corvanis_fspl._core as c; print(c.thread_count())"
    env = dict(os.environ, CORVANIS_NUM_THREADS=value, PYTHONWARNINGS="always")
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True)
    assert "CORVANIS_NUM_THREADS is not a whole number from 1 to 1024 and is ignored" in out.stderr
    assert int(out.stdout) >= 1


def test_light_curve_is_the_magnification_along_the_trajectory():
    t = np.array([[-30.0, -0.2, 0.0], [0.05, np.nan, np.inf]])
    law = [fs.Linear(0.6), fs.Quadratic(0.4, 0.25)]
    tau = (t - 0.01) / 20.0
    expected = fs.magnification(np.sqrt(0.004 * 0.004 + tau * tau), 0.01, law, rtol=1e-9)
    got = fs.light_curve(t, 0.01, 0.004, 20.0, 0.01, law, rtol=1e-9)
    np.testing.assert_array_equal(got, expected)
    assert got.shape == (2, 2, 3)
