"""solve_fluxes(): the linear source and blend fluxes of one data set, their
covariance, chi^2 and, given the magnification's gradient, the gradient of
chi^2 with the fluxes profiled out."""

from __future__ import annotations

from typing import Any, Dict, NamedTuple, Optional, Union

import numpy as np
import numpy.typing as npt

__all__ = ["FluxSolution", "solve_fluxes"]

_PREFIX = "dA_d"


class FluxSolution(NamedTuple):
    """Result of `solve_fluxes`.

    Attributes
    ----------
    source_flux, blend_flux : float
        F_s and F_b minimising chi^2 for flux = F_s * A + F_b.
    covariance : ndarray, shape (2, 2)
        Covariance of (F_s, F_b): the inverse of the weighted normal matrix.
    chi2 : float
        sum(((flux - F_s * A - F_b) / flux_err)**2) at the solution.
    chi2_gradient : dict or None
        With a gradient result as the magnification, {parameter: d chi2 /
        d parameter} with the fluxes profiled out; the entry "coefficients"
        is an array with one derivative per law coefficient. None otherwise.
    """

    source_flux: float
    blend_flux: float
    covariance: np.ndarray
    chi2: float
    chi2_gradient: Optional[Dict[str, Union[float, np.ndarray]]]


def _vector(name: str, value: Any) -> np.ndarray:
    array = np.asarray(value, dtype=float)
    if array.ndim != 1:
        raise ValueError(f"{name} must be one-dimensional (one data set); got shape {array.shape}")
    return array


def _require(name: str, array: np.ndarray, good: np.ndarray, requirement: str) -> None:
    if not good.all():
        index = int(np.flatnonzero(~good)[0])
        raise ValueError(f"{name} must be {requirement}; got {float(array[index])!r} "
                         f"at index {index}")


def solve_fluxes(magnification: Any, flux: npt.ArrayLike, flux_err: npt.ArrayLike) -> FluxSolution:
    """Source and blend flux of one data set by weighted linear least squares.

    Solves flux = F_s * A + F_b for F_s and F_b in the least-squares sense,
    weighting each point by 1 / flux_err**2.

    Parameters
    ----------
    magnification : array_like or gradient result
        The model magnifications A, one per data point; or the result of
        ``magnification(..., gradient=True)`` or ``light_curve(...,
        gradient=True)`` (a named tuple whose field ``A`` holds the
        magnifications and whose fields ``dA_d<name>`` hold their
        derivatives, ``dA_dcoefficients`` with one row per law coefficient).
    flux : array_like
        Measured fluxes, of the same length.
    flux_err : array_like
        Their standard errors, of the same length; positive and finite.

    Returns
    -------
    FluxSolution
        ``(source_flux, blend_flux, covariance, chi2, chi2_gradient)``. With a
        gradient result, ``chi2_gradient`` maps each parameter name (the
        field name without ``dA_d``) to d chi2 / d parameter along the
        profile in which the fluxes are re-solved for every parameter value:
        since chi2 is stationary in the fluxes there, this is
        ``-2 sum(r F_s dA/dparameter / flux_err**2)`` with r = flux - F_s A -
        F_b. ``"coefficients"`` is an array, one entry per law coefficient.
        A derivative that is infinite (a trajectory exactly on the limb)
        makes the corresponding entry infinite or NaN.

    Raises
    ------
    ValueError
        If the arguments differ in length or are not one-dimensional, there
        are fewer than 2 points, a magnification or flux is not finite, an
        error is not positive and finite, a derivative array does not match
        the magnifications, or the magnifications are all equal (to
        rounding), so that source and blend cannot be told apart.

    Examples
    --------
    >>> import numpy as np, corvanis_fspl as fs
    >>> A = np.array([1.0, 1.5, 3.0, 10.0])
    >>> solution = fs.solve_fluxes(A, 0.5 * A + 0.25, np.full(4, 0.01))
    >>> round(solution.source_flux, 12), round(solution.blend_flux, 12)
    (0.5, 0.25)
    >>> round(solution.chi2, 12), solution.chi2_gradient is None
    (0.0, True)
    """
    fields = getattr(magnification, "_fields", None)
    if fields is not None and fields and fields[0] == "A":
        a = _vector("magnification.A", magnification[0])
        derivatives = {name[len(_PREFIX):]: np.asarray(value, dtype=float)
                       for name, value in zip(fields[1:], magnification[1:])
                       if name.startswith(_PREFIX)}
    else:
        a = _vector("magnification", magnification)
        derivatives = None
    f = _vector("flux", flux)
    sigma = _vector("flux_err", flux_err)
    if not a.size == f.size == sigma.size:
        raise ValueError("magnification, flux and flux_err must have the same length; "
                         f"got {a.size}, {f.size} and {sigma.size}")
    if a.size < 2:
        raise ValueError(f"magnification, flux and flux_err need at least 2 points; got {a.size}")
    _require("flux_err", sigma, (sigma > 0) & np.isfinite(sigma), "positive and finite")
    _require("flux", f, np.isfinite(f), "finite")
    _require("magnification", a, np.isfinite(a), "finite")

    # Centred on the weighted means, the solve has no cancellation between
    # sum(w A^2) sum(w) and sum(w A)^2, and its covariance follows in closed
    # form: var F_s = 1/Sxx, cov = -mean_A/Sxx, var F_b = 1/W + mean_A^2/Sxx.
    w = 1.0 / (sigma * sigma)
    total = w.sum()
    mean_a = (w @ a) / total
    mean_f = (w @ f) / total
    da = a - mean_a
    sxx = w @ (da * da)
    # A spread of A at the level of its rounding leaves F_s undetermined.
    if not np.sqrt(sxx / total) > 8.0 * a.size * np.finfo(float).eps * np.abs(a).max():
        raise ValueError("magnification must vary across the data set to separate source and "
                         "blend flux; it is constant (the normal matrix is singular)")
    source = float((w * da) @ (f - mean_f) / sxx)
    blend = float(mean_f - source * mean_a)
    covariance = np.array([[1.0 / sxx, -mean_a / sxx],
                           [-mean_a / sxx, 1.0 / total + mean_a * mean_a / sxx]])
    r = f - source * a - blend
    chi2 = float(w @ (r * r))

    gradient: Optional[Dict[str, Union[float, np.ndarray]]] = None
    if derivatives is not None:
        gradient = {}
        weighted = -2.0 * source * w * r
        for name, d in derivatives.items():
            if d.shape[-1:] != a.shape or d.ndim > 2:
                raise ValueError(f"magnification.dA_d{name} must have shape (..., {a.size}) "
                                 f"like magnification.A; got {d.shape}")
            with np.errstate(invalid="ignore", over="ignore"):
                value = d @ weighted
            gradient[name] = value if d.ndim == 2 else float(value)
    return FluxSolution(source, blend, covariance, chi2, gradient)
