"""corvanis_fspl against 30-digit references: every result within rtol."""

import numpy as np
import pytest

import corvanis_fspl as fs
from fspl_references import LAWS, law_reference, relative_errors

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
