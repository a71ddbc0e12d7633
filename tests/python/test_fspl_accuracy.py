"""corvanis_fspl against 30-digit references: every result within rtol."""

import pytest

np = pytest.importorskip("numpy")
fs = pytest.importorskip("corvanis_fspl")
from fspl_references import LAWS, law_reference, load, relative_errors  # noqa: E402

RTOLS = [1e-4, 1e-6, 1e-8, 1e-10, 1e-12]


@pytest.fixture(scope="module", params=list(LAWS), ids=list(LAWS))
def law_and_reference(request):
    law = LAWS[request.param]
    return law, law_reference(law)


@pytest.mark.parametrize("rtol", RTOLS)
def test_every_point_within_rtol(law_and_reference, rtol):
    # rho from 1e-5 to 100; u from 0 through the limb (|u/rho - 1| down to
    # 1e-12, and u = rho) to 1e6 rho.
    law, (u, rho, reference) = law_and_reference
    computed = fs.magnification(u, rho, law, rtol=rtol)
    errors = relative_errors(computed, reference)
    worst = int(np.argmax(errors))
    assert errors[worst] <= rtol, (f"{errors[worst]:.2e} at u = {u[worst]!r}, rho = {rho[worst]!r}")


def test_several_laws_in_one_call_equal_each_law_alone(law_and_reference):
    law, (u, rho, _) = law_and_reference
    together = fs.magnification(u, rho, [fs.Quadratic(0.4, 0.25), law], rtol=1e-10)
    assert together.shape == (2, u.size)
    # The second law refines where the first one needs it: never worse than rtol.
    alone = fs.magnification(u, rho, law, rtol=1e-10)
    np.testing.assert_allclose(together[1], alone, rtol=2e-10, atol=0)


GRADIENTS = load("fspl_gradient_references.json")


@pytest.mark.parametrize("rtol", [1e-6, 1e-8, 1e-10, 1e-12])
@pytest.mark.parametrize("field", ["dA_du", "dA_drho"])
def test_derivatives_within_a_hundred_rtol(law_and_reference, field, rtol):
    # Every point of the grid but u = rho exactly, where they diverge.
    law, _ = law_and_reference
    u, rho, reference = law_reference(law, field, GRADIENTS)
    computed = getattr(fs.magnification(u, rho, law, rtol=rtol, gradient=True), field)
    errors = relative_errors(computed, reference)
    worst = int(np.argmax(errors))
    assert errors[worst] <= 100 * rtol, (f"{errors[worst]:.2e} at u = {u[worst]!r}, rho = {rho[worst]!r}")
