"""magnification() and light_curve(): argument checks, broadcasting and the
call into the compiled core."""

from __future__ import annotations

import functools
from typing import Any, NamedTuple, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

from . import _core
from ._bases import coefficient_weights, law_fluxes, pack
from ._laws import Law, Uniform

__all__ = ["magnification", "light_curve", "MagnificationGradient", "LightCurveGradient"]


class MagnificationGradient(NamedTuple):
    """The magnification with its exact derivatives.

    Attributes
    ----------
    A : ndarray
        The magnification, as `magnification` returns it.
    dA_du, dA_drho : ndarray
        Its derivatives with respect to `u` and `rho`, of A's shape.
    dA_dcoefficients : ndarray or tuple of ndarray
        Its derivatives with respect to the law's coefficients, in the order
        of ``law.coefficients``: shape ``(n_coefficients,) + A.shape``. With a
        sequence of laws, a tuple of such arrays, one per law.
    """

    A: Any
    dA_du: Any
    dA_drho: Any
    dA_dcoefficients: Any


class LightCurveGradient(NamedTuple):
    """A light curve with its exact derivatives with respect to the
    trajectory (t0, u0, tE), the source radius and the law's coefficients;
    fields as in `MagnificationGradient`."""

    A: Any
    dA_dt0: Any
    dA_du0: Any
    dA_dtE: Any
    dA_drho: Any
    dA_dcoefficients: Any

RTOL_RANGE = (1e-14, 1e-2)


def _first_bad(name: str, array: np.ndarray, bad: np.ndarray, requirement: str) -> ValueError:
    index = np.unravel_index(int(np.flatnonzero(bad)[0]), bad.shape) if bad.ndim else ()
    where = "" if array.ndim == 0 else f" at index {index[0] if len(index) == 1 else index}"
    value = array[index] if array.ndim else array[()]
    return ValueError(f"{name} must be {requirement}; got {float(value)!r}{where}")


def _as_laws(law: Union[Law, Sequence[Law]]):
    if isinstance(law, Law):
        return (law,), False
    if isinstance(law, (str, bytes)):
        raise TypeError(f"law must be a Law or a sequence of Laws; got {type(law).__name__}")
    try:
        laws = tuple(law)
    except TypeError:
        raise TypeError(f"law must be a Law or a sequence of Laws; got {type(law).__name__}") from None
    if not laws:
        raise ValueError("law: the sequence of laws is empty")
    for i, item in enumerate(laws):
        if not isinstance(item, Law):
            raise TypeError(f"law[{i}] must be a Law; got {type(item).__name__}")
    return laws, True


def _check_rtol(rtol: float) -> float:
    rtol = float(rtol)
    if not (RTOL_RANGE[0] <= rtol <= RTOL_RANGE[1]):
        raise ValueError(f"rtol must lie in [{RTOL_RANGE[0]:g}, {RTOL_RANGE[1]:g}]; got {rtol!r}")
    return rtol


def magnification(u: npt.ArrayLike, rho: npt.ArrayLike,
                  law: Union[Law, Sequence[Law]] = Uniform(), *,
                  rtol: float = 1e-10, gradient: bool = False) -> Any:
    """Magnification of a finite source by a point lens.

    Parameters
    ----------
    u : array_like
        Distance between the lens and the centre of the source, in Einstein
        radii; non-negative. A NaN gives NaN for that element only.
    rho : array_like
        Radius of the source in Einstein radii; positive and finite.
        Broadcast against `u`.
    law : Law or sequence of Law, optional
        Limb-darkening law (default `Uniform()`). A sequence (one law per
        band) gives one row per law, computed on shared quadrature nodes.
    rtol : float, optional
        Relative accuracy of every result, in [1e-14, 1e-2] (default 1e-10).
        It chooses the number of series terms far from the source and the
        quadrature levels near it. Results are within `rtol` of the exact
        magnification for rtol from 1e-4 to 1e-12; below 1e-12 rounding
        limits the accuracy to about 1e-13.
    gradient : bool, optional
        Also return the exact derivatives (see `MagnificationGradient`).

    Returns
    -------
    ndarray or MagnificationGradient
        float64, of the broadcast shape of `u` and `rho`; with a sequence of
        laws, of shape ``(len(law),) + shape``. A 0-d input gives a NumPy
        scalar. With ``gradient=True``, a `MagnificationGradient` of such
        arrays.

    Raises
    ------
    ValueError
        If `rho` is not positive and finite, `u` is negative, `rtol` lies
        outside [1e-14, 1e-2], or a law's total flux is not positive.

    Notes
    -----
    For ``u >= 2 rho`` the magnification is the mean-value series in the
    law's brightness moments, exact to rounding in a few terms. Nearer, the
    law is a sum of uniform disks, each from the closed form in the complete
    elliptic integrals evaluated from their complements, integrated by
    tanh-sinh quadrature on pieces cut where the inner disk's limb passes
    the lens.

    The derivatives come from the same evaluation: those of each uniform
    disk in closed form, summed over the same nodes, and by linearity for
    the coefficients. They are within about ``100 * rtol`` of the exact
    ones. With the lens on the limb (``u == rho``) the derivatives in `u`
    and `rho` of every law whose limb brightness is not zero are infinite
    (``-inf`` and ``+inf``): near the limb they grow like ``log|u - rho|``,
    so a gradient-based sampler sees steep but finite slopes there and
    should not rely on a quadratic model of the likelihood across it.

    A law that is negative somewhere on the disk is accepted (a
    fitter may explore such coefficients); only a non-positive total flux is
    refused. The GIL is released while computing, and long calls are spread
    over the process's worker threads (``CORVANIS_NUM_THREADS``).

    Examples
    --------
    >>> import corvanis_fspl as fs
    >>> round(float(fs.magnification(0.0, 0.1)), 12)  # uniform disk at the lens: sqrt(rho^2 + 4)/rho
    20.024984394501
    >>> fs.magnification([0.05, 0.5], 0.1, [fs.Linear(0.6), fs.Quadratic(0.4, 0.2)]).shape
    (2, 2)
    """
    call = _prepare(law, rtol, gradient)
    u_arr = np.asarray(u, dtype=float)
    rho_arr = np.asarray(rho, dtype=float)
    if rho_arr.ndim == 0:
        # One radius for every epoch: the core takes it as it is.
        if not 0.0 < float(rho_arr) < np.inf:
            raise _first_bad("rho", rho_arr, np.asarray(True), "positive and finite")
        shape = u_arr.shape
        u_flat = np.ascontiguousarray(u_arr.reshape(-1))
        rho_flat = rho_arr.reshape(1)
    else:
        bad = ~(rho_arr > 0) | ~np.isfinite(rho_arr)
        if bad.any():
            raise _first_bad("rho", rho_arr, bad, "positive and finite")
        u_b, rho_b = np.broadcast_arrays(u_arr, rho_arr)
        shape = u_b.shape
        u_flat = np.ascontiguousarray(u_b).reshape(-1)
        rho_flat = np.ascontiguousarray(rho_b).reshape(-1)
    if u_arr.ndim == 0:
        if float(u_arr) < 0.0:
            raise _first_bad("u", u_arr, np.asarray(True), "non-negative")
    else:
        bad = u_arr < 0
        if bad.any():
            raise _first_bad("u", u_arr, bad, "non-negative")
    return _compute(call, u_flat, rho_flat, shape, gradient)


def _compute(call: "_Call", u: np.ndarray, rho: np.ndarray, shape: Tuple[int, ...], gradient: bool) -> Any:
    """The core's results for checked, contiguous u and rho (rho of size 1 or u's)."""
    if gradient:
        return _gradient(call, u, rho, shape)
    out = np.empty((call.laws, u.size))
    _core.magnification(u, rho, *call.arrays, out)
    out = out.reshape((call.laws,) + shape)
    result = out if call.many else out[0]
    return result[()] if result.ndim == 0 else result


def _gradient(call: "_Call", u: np.ndarray, rho: np.ndarray, shape: Tuple[int, ...]) -> MagnificationGradient:
    out = np.empty((3, call.arrays[8].shape[0], u.size))
    _core.magnification_and_derivatives(u, rho, *call.arrays, out)
    return MagnificationGradient(*_combine(call, out, shape))


def _combine(call: "_Call", out: np.ndarray, shape: Tuple[int, ...]) -> Tuple[Any, ...]:
    """Each law's magnification and derivatives from the core's row sums:
    out[0] the flux-weighted sums of every row (laws, then the derivatives of
    their weights in their coefficients), out[1:] the laws' derivatives.
    Returns A, the derivatives in the order of out[1:], dA/dcoefficients."""
    row_fluxes = call.arrays[8] @ call.packed.fluxes
    results = []
    for l, (first, count) in enumerate(call.coefficient_rows):
        flux = row_fluxes[l]
        A = out[0, l] / flux
        dA_dc = (out[0, first:first + count] - np.outer(row_fluxes[first:first + count], A)) / flux
        results.append((A,) + tuple(q[l] / flux for q in out[1:]) + (dA_dc,))

    def shaped(a: np.ndarray, lead: Tuple[int, ...] = ()) -> Any:
        a = a.reshape(lead + shape)
        return a[()] if a.ndim == 0 else a

    if not call.many:
        *fields, dA_dc = results[0]
        return tuple(shaped(x) for x in fields) + (shaped(dA_dc, (dA_dc.shape[0],)),)
    stacked = tuple(shaped(np.stack([r[k] for r in results]), (len(results),))
                    for k in range(len(results[0]) - 1))
    return stacked + (tuple(shaped(r[-1], (r[-1].shape[0],)) for r in results),)


class _Call(NamedTuple):
    arrays: Tuple[Any, ...]  # the core's arguments between u, rho and out
    laws: int
    many: bool
    packed: Any
    coefficient_rows: Tuple[Tuple[int, int], ...]  # per law: first row, count


@functools.lru_cache(maxsize=512)
def _prepared(laws: Tuple[Law, ...], many: bool, rtol: float, gradient: bool) -> _Call:
    rtol = _check_rtol(rtol)
    packed = pack(laws, gradient)
    for i, flux in enumerate(law_fluxes(packed)):
        if not flux > 0:
            name = "law" if not many else f"law[{i}]"
            raise ValueError(f"{name} must have a positive total flux; got {float(flux)!r} for {laws[i]!r}")
    rows = [packed.weights]
    coefficient_rows = []
    if gradient:
        # After the laws, the derivatives of each law's weights in its coefficients.
        first = len(laws)
        for law in laws:
            dW = coefficient_weights(law, packed)
            rows.append(dW)
            coefficient_rows.append((first, dW.shape[0]))
            first += dW.shape[0]
    weights = np.ascontiguousarray(np.vstack(rows))
    arrays = (packed.kinds, packed.exponents, packed.fluxes, packed.moments, packed.offsets,
              packed.breaks, packed.values, packed.slopes, weights, rtol, len(laws))
    return _Call(arrays, len(laws), many, packed, tuple(coefficient_rows))


def _prepare(law: Union[Law, Sequence[Law]], rtol: float, gradient: bool = False) -> _Call:
    laws, many = _as_laws(law)
    try:
        rtol = float(rtol)
    except (TypeError, ValueError):
        raise TypeError(f"rtol must be a number; got {type(rtol).__name__}") from None
    return _prepared(laws, many, rtol, bool(gradient))


def light_curve(t: npt.ArrayLike, t0: float, u0: float, tE: float, rho: float,
                law: Union[Law, Sequence[Law]] = Uniform(), *,
                rtol: float = 1e-10, gradient: bool = False) -> Any:
    """Magnification along a rectilinear trajectory.

    Parameters
    ----------
    t : array_like
        Times of the epochs (any unit, the same as `t0` and `tE`).
    t0 : float
        Time of closest approach.
    u0 : float
        Impact parameter in Einstein radii (its sign does not matter).
    tE : float
        Einstein radius crossing time; positive.
    rho : float
        Source radius in Einstein radii; positive and finite.
    law : Law or sequence of Law, optional
        Limb-darkening law, or one per band.
    rtol : float, optional
        Relative accuracy, as in `magnification`.
    gradient : bool, optional
        Also return the derivatives with respect to t0, u0, tE, rho and the
        law's coefficients (see `LightCurveGradient`), by the chain rule
        through u = sqrt(u0^2 + tau^2), tau = (t - t0)/tE.

    Returns
    -------
    ndarray or LightCurveGradient
        ``magnification(sqrt(u0**2 + ((t - t0)/tE)**2), rho, law, rtol=rtol)``,
        with its derivatives when ``gradient=True``.

    Raises
    ------
    ValueError
        For a `tE` that is not positive and finite, a non-finite `t0` or
        `u0`, and for the arguments `magnification` refuses.

    Examples
    --------
    >>> import numpy as np, corvanis_fspl as fs
    >>> t = np.linspace(-1.0, 1.0, 5)
    >>> A = fs.light_curve(t, 0.0, 0.005, 20.0, 0.01, fs.Quadratic(0.4, 0.25))
    >>> A.shape
    (5,)
    """
    for name, value in (("t0", t0), ("u0", u0)):
        if not np.isfinite(value):
            raise ValueError(f"{name} must be finite; got {float(value)!r}")
    if not (np.isfinite(tE) and tE > 0):
        raise ValueError(f"tE must be positive and finite; got {float(tE)!r}")
    rho = float(rho)
    if not 0.0 < rho < np.inf:
        raise ValueError(f"rho must be positive and finite; got {rho!r}")
    call = _prepare(law, rtol, gradient)
    rho_one = np.array([rho])
    if not gradient:
        # The core forms u = sqrt(u0^2 + ((t - t0)/tE)^2) epoch by epoch.
        times = np.ascontiguousarray(t, dtype=float)
        out = np.empty((call.laws, times.size))
        _core.light_curve(times.reshape(-1), rho_one, *call.arrays, out, float(t0), float(u0), float(tE))
        out = out.reshape((call.laws,) + times.shape)
        result = out if call.many else out[0]
        return result[()] if result.ndim == 0 else result
    # The chain rule through u is applied in the core, epoch by epoch.
    times = np.ascontiguousarray(t, dtype=float)
    out = np.empty((5, call.arrays[8].shape[0], times.size))
    _core.light_curve_and_derivatives(times.reshape(-1), rho_one, *call.arrays, out,
                                      float(t0), float(u0), float(tE))
    return LightCurveGradient(*_combine(call, out, times.shape))
