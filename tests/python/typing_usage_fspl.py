"""Typed use of corvanis_fspl, checked with mypy --strict by test_typing.py."""

from __future__ import annotations

import numpy as np
import numpy.typing as npt

import corvanis_fspl as fs


def curve(times: npt.NDArray[np.float64]) -> npt.NDArray[np.float64]:
    law: fs.Law = fs.Quadratic(0.4, 0.25)
    a: npt.NDArray[np.float64] = fs.light_curve(times, 0.0, 0.005, 20.0, 0.01, law, rtol=1e-8)
    return a


def gradient(u: list[float]) -> float:
    g = fs.magnification(u, 0.01, fs.Power2(0.6, 0.5), gradient=True)
    assert isinstance(g, fs.MagnificationGradient)
    laws = [fs.Uniform(), fs.Linear(0.6), fs.SquareRoot(0.3, 0.5), fs.Logarithmic(0.6, 0.2),
            fs.FourParameter(0.1, 0.2, 0.3, 0.1), fs.Profile((1.0, 0.5), r=(0.0, 1.0))]
    rows = fs.magnification(np.asarray(u), 0.01, laws)
    solution = fs.solve_fluxes(rows[0], np.ones(len(u)), np.ones(len(u)))
    version: str = fs.__version__
    return float(solution.chi2) + float(np.sum(g.dA_du)) + len(version)
