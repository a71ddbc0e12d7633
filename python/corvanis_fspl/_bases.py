"""Basis profiles as the compiled core takes them: kind, exponent, flux,
brightness moments and tables, packed into contiguous arrays."""

from __future__ import annotations

import functools
from typing import Dict, List, NamedTuple, Sequence, Tuple

import numpy as np

from ._laws import Basis, Law

# Terms of the far-field series the core may use.
MOMENTS = 64
_KINDS = {"power": 0, "power_log": 1, "table_mu": 2, "table_r": 3}
# Gauss-Legendre nodes exact for the polynomials of the table moments
# (degree 2 * MOMENTS + 1 in r or mu).
_GL_X, _GL_W = np.polynomial.legendre.leggauss(MOMENTS + 2)


class Packed(NamedTuple):
    kinds: np.ndarray
    exponents: np.ndarray
    fluxes: np.ndarray
    moments: np.ndarray
    offsets: np.ndarray
    breaks: np.ndarray
    values: np.ndarray
    slopes: np.ndarray
    weights: np.ndarray  # laws x bases
    bases: Tuple[Basis, ...]


def _power_moments(p: float) -> Tuple[float, np.ndarray]:
    # <r^2k> over mu^p: k! Gamma(p/2 + 2) / Gamma(k + p/2 + 2).
    k = np.arange(1, MOMENTS)
    m = np.concatenate(([1.0], np.cumprod(k / (k + 0.5 * p + 1.0))))
    return 2.0 / (p + 2.0), m


def _power_log_moments(p: float) -> Tuple[float, np.ndarray]:
    # Over mu^p ln mu, with a = p/2 + 1: (1/2) B(k+1, a) (psi(a) - psi(k + a + 1)),
    # the derivative in p of the moments of mu^p; normalised at k = 0.
    a = 0.5 * p + 1.0
    k = np.arange(MOMENTS)
    beta = np.concatenate(([1.0], np.cumprod(k[1:] / (k[1:] + a))))
    digamma_difference = np.cumsum(1.0 / (k + a))
    return -2.0 / (p + 2.0) ** 2, beta * digamma_difference / digamma_difference[0]


def _table_moments(kind: str, x: np.ndarray, y: np.ndarray) -> Tuple[float, np.ndarray]:
    # Exact integrals of 2 r^(2k+1) I dr (or 2 mu (1 - mu^2)^k I dmu) over each
    # linear segment.
    k = np.arange(MOMENTS)[:, None]
    total = np.zeros(MOMENTS)
    for a, b, ya, yb in zip(x[:-1], x[1:], y[:-1], y[1:]):
        t = 0.5 * (b - a) * _GL_X + 0.5 * (a + b)
        weight = 0.5 * (b - a) * _GL_W
        intensity = ya + (yb - ya) * (t - a) / (b - a)
        radius2 = t * t if kind == "table_r" else (1.0 - t) * (1.0 + t)
        total += (weight * 2.0 * t * intensity * radius2 ** k).sum(axis=1)
    return total[0], total / total[0] if total[0] != 0 else total


def _table_in_mu(kind: str, x: np.ndarray, y: np.ndarray):
    """Breaks in mu ascending, values there, slopes per segment in the table's variable."""
    if kind == "table_mu":
        slopes = np.append(np.diff(y) / np.diff(x), 0.0)
        return x, y, slopes
    mu = np.sqrt((1.0 - x) * (1.0 + x))[::-1]
    r, yy = x[::-1], y[::-1]
    slopes = np.append(np.diff(yy) / np.diff(r), 0.0)
    return mu, yy, slopes


@functools.lru_cache(maxsize=256)
def _basis_data(basis: Basis):
    kind = basis[0]
    if kind == "power":
        flux, moments = _power_moments(basis[1])
        return _KINDS[kind], float(basis[1]), flux, moments, None
    if kind == "power_log":
        flux, moments = _power_log_moments(basis[1])
        return _KINDS[kind], float(basis[1]), flux, moments, None
    x, y = np.asarray(basis[1], float), np.asarray(basis[2], float)
    flux, moments = _table_moments(kind, x, y)
    return _KINDS[kind], 0.0, flux, moments, _table_in_mu(kind, x, y)


@functools.lru_cache(maxsize=256)
def pack(laws: Tuple[Law, ...], gradient: bool = False) -> Packed:
    """The bases of all `laws` (each once) and every law's weights on them;
    with `gradient`, also the bases of the laws' coefficient derivatives."""
    index: Dict[Basis, int] = {}
    rows: List[Dict[int, float]] = []
    if gradient:
        for law in laws:
            for terms in law.coefficient_terms():
                for basis, _ in terms:
                    index.setdefault(basis, len(index))
    for law in laws:
        row: Dict[int, float] = {}
        for basis, weight in law.terms():
            j = index.setdefault(basis, len(index))
            row[j] = row.get(j, 0.0) + weight
        rows.append(row)
    bases = tuple(index)
    weights = np.zeros((len(laws), len(bases)))
    for i, row in enumerate(rows):
        for j, w in row.items():
            weights[i, j] = w
    data = [_basis_data(b) for b in bases]
    tables = [d[4] if d[4] is not None else (np.zeros(0),) * 3 for d in data]
    offsets = np.concatenate(([0], np.cumsum([t[0].size for t in tables]))).astype(np.int64)
    return Packed(
        kinds=np.array([d[0] for d in data], dtype=np.int64),
        exponents=np.array([d[1] for d in data]),
        fluxes=np.array([d[2] for d in data]),
        moments=np.ascontiguousarray(np.stack([d[3] for d in data])),
        offsets=offsets,
        breaks=np.concatenate([t[0] for t in tables]).astype(float),
        values=np.concatenate([t[1] for t in tables]).astype(float),
        slopes=np.concatenate([t[2] for t in tables]).astype(float),
        weights=weights,
        bases=bases,
    )


def coefficient_weights(law: Law, packed: Packed) -> np.ndarray:
    """d(weights)/d(coefficient) of one law on the packed bases: coefficients x bases."""
    position = {b: j for j, b in enumerate(packed.bases)}
    out = np.zeros((len(law.coefficients), len(packed.bases)))
    for i, terms in enumerate(law.coefficient_terms()):
        for basis, weight in terms:
            out[i, position[basis]] += weight
    return out


def law_fluxes(packed: Packed) -> np.ndarray:
    """Each law's flux over the disk, in units of pi rho^2 for I = 1."""
    return packed.weights @ packed.fluxes
