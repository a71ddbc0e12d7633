"""Finite-source point-lens magnification for any limb-darkening law, at a
stated accuracy.

Units follow the field's conventions: the lens-source separation ``u`` and
the source radius ``rho`` in Einstein radii. Arrays in, float64 arrays out,
with NumPy broadcasting.

>>> import corvanis_fspl as fs
>>> A = fs.magnification([0.0, 0.01, 0.1], 0.01, fs.Quadratic(0.4, 0.25))
"""

from importlib.metadata import PackageNotFoundError, version as _version

from ._laws import (FourParameter, Law, Linear, Logarithmic, Power2, Profile, Quadratic,
                    SquareRoot, Uniform)
from ._fluxes import FluxSolution, solve_fluxes
from ._magnification import LightCurveGradient, MagnificationGradient, light_curve, magnification

try:
    __version__ = _version("corvanis")
except PackageNotFoundError:  # pragma: no cover - running from a source tree
    __version__ = "0+unknown"

__all__ = [
    "magnification", "light_curve", "MagnificationGradient", "LightCurveGradient",
    "solve_fluxes", "FluxSolution", "Law", "Uniform", "Linear", "Quadratic", "SquareRoot",
    "Logarithmic", "Power2", "FourParameter", "Profile", "__version__",
]
