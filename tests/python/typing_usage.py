"""Typed use of corvanis, checked with mypy --strict by test_typing.py.

Every call here must type-check against the installed stubs; the annotations
state what a caller relies on: list results for the sequence functions, a
float for the single ring.
"""

from __future__ import annotations

from typing import Sequence

import numpy as np
import numpy.typing as npt

import corvanis


def light_curve(times: npt.NDArray[np.float64], t0: float, te: float, u0: float,
                rho: float) -> list[float]:
    """Limb-darkened light curve of a lens crossing the source."""
    u = np.hypot(u0, (times - t0) / te)
    return corvanis.integrated_heyrovsky_magnification(u / rho, 1.0, rho)


def uniform_from_table(l: Sequence[float], rho: float) -> list[float]:
    return corvanis.integrated_flux_map_heyrovsky_magnification(
        l, re=1.0, rstar=rho, bl=[0.0, 1.0], bf=[1.0, 1.0])


def ring(l: float, r: float, rho: float) -> float:
    value: float = corvanis.heyrovsky_magnification(l, r, re=1, rstar=rho)
    return value


def every_function(rho: float) -> list[list[float]]:
    grid = np.linspace(0.0, 3.0, 7)
    bl = (0.0, 0.5, 1.0)
    bf = [1.0, 0.8, 0.4]
    return [
        corvanis.witt_mao_magnification(range(4), 1, rho),
        corvanis.integrated_witt_mao_magnification([0.5, 2], 1.0, np.float64(rho)),
        corvanis.integrated_flux_map_witt_mao_magnification(grid, 1.0, rho, bl, bf),
        corvanis.integrated_heyrovsky_magnification(grid, 1.0, rho),
        corvanis.integrated_flux_map_heyrovsky_magnification(grid, 1.0, rho, bl, bf),
        corvanis.discrete_flux_map_heyrovsky_magnification(grid, 1.0, rho, bl, bf),
        [ring(2.0, 0.5, rho)],
        light_curve(np.linspace(-1.0, 1.0, 5, dtype=np.float64), 0.0, 10.0, 0.01, rho),
        uniform_from_table([1.005], rho),
    ]
