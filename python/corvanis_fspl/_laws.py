"""Limb-darkening laws: small immutable objects with I(mu = 1) = 1.

Every law is a weighted sum of basis profiles b(mu) (mu = sqrt(1 - r^2), r the
radius on the source in source radii): powers mu^p, mu ln mu, or a piecewise
linear table. The compiled core integrates the bases; a law only supplies its
weights, so several laws on shared bases cost little more than one.
"""

from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import Any, Optional, Sequence, Tuple, Union

import numpy as np

__all__ = [
    "Law", "Uniform", "Linear", "Quadratic", "SquareRoot", "Logarithmic", "Power2",
    "FourParameter", "Profile",
]

# A basis profile: ("power", p) for mu^p, ("power_log", p) for mu^p ln(mu), or
# ("table_mu" | "table_r", samples ascending in that variable, brightness at
# the samples).
Basis = Tuple[Any, ...]
Terms = Tuple[Tuple[Basis, float], ...]


def _finite(name: str, value: float) -> float:
    value = float(value)
    if not math.isfinite(value):
        raise ValueError(f"{name} must be finite; got {value!r}")
    return value


class Law:
    """Base class of the limb-darkening laws."""

    def terms(self) -> Terms:
        """The law as ((basis, weight), ...): I(mu) = sum of weight * basis(mu)."""
        raise NotImplementedError

    @property
    def coefficients(self) -> Tuple[float, ...]:
        """The law's coefficients, in the order of its constructor."""
        raise NotImplementedError

    def coefficient_terms(self) -> Tuple[Terms, ...]:
        """For each coefficient, the derivative of `terms` with respect to it,
        as ((basis, d weight), ...)."""
        raise NotImplementedError

    def intensity(self, mu: "np.typing.ArrayLike") -> np.ndarray:
        """The brightness I(mu) of the law, for mu in [0, 1]."""
        mu = np.asarray(mu, dtype=float)
        total = np.zeros_like(mu)
        for basis, weight in self.terms():
            total = total + weight * _basis_value(basis, mu)
        return total


def _basis_value(basis: Basis, mu: np.ndarray) -> np.ndarray:
    kind = basis[0]
    if kind == "power":
        return np.power(mu, basis[1]) if basis[1] != 0 else np.ones_like(mu)
    if kind == "power_log":
        safe = np.where(mu > 0, mu, 1.0)
        return np.where(mu > 0, np.power(safe, basis[1]) * np.log(safe), 0.0)
    samples, values = np.asarray(basis[1]), np.asarray(basis[2])
    x = mu if kind == "table_mu" else np.sqrt(np.clip(1.0 - mu * mu, 0.0, None))
    return np.interp(x, samples, values)


_MU0 = ("power", 0.0)
_MU1 = ("power", 1.0)
_MU_LN_MU = ("power_log", 1.0)


@dataclass(frozen=True)
class Uniform(Law):
    """Uniform brightness, I(mu) = 1."""

    def terms(self) -> Terms:
        return ((_MU0, 1.0),)

    @property
    def coefficients(self) -> Tuple[float, ...]:
        return ()

    def coefficient_terms(self) -> Tuple[Terms, ...]:
        return ()


@dataclass(frozen=True)
class Linear(Law):
    """Linear law, I(mu) = 1 - c (1 - mu)."""

    c: float

    def __post_init__(self) -> None:
        object.__setattr__(self, "c", _finite("c", self.c))

    def terms(self) -> Terms:
        return ((_MU0, 1.0 - self.c), (_MU1, self.c))

    @property
    def coefficients(self) -> Tuple[float, ...]:
        return (self.c,)

    def coefficient_terms(self) -> Tuple[Terms, ...]:
        return (((_MU0, -1.0), (_MU1, 1.0)),)


@dataclass(frozen=True)
class Quadratic(Law):
    """Quadratic law, I(mu) = 1 - a (1 - mu) - b (1 - mu)^2."""

    a: float
    b: float

    def __post_init__(self) -> None:
        object.__setattr__(self, "a", _finite("a", self.a))
        object.__setattr__(self, "b", _finite("b", self.b))

    def terms(self) -> Terms:
        a, b = self.a, self.b
        return ((_MU0, 1.0 - a - b), (_MU1, a + 2.0 * b), (("power", 2.0), -b))

    @property
    def coefficients(self) -> Tuple[float, ...]:
        return (self.a, self.b)

    def coefficient_terms(self) -> Tuple[Terms, ...]:
        return (((_MU0, -1.0), (_MU1, 1.0)), ((_MU0, -1.0), (_MU1, 2.0), (("power", 2.0), -1.0)))


@dataclass(frozen=True)
class SquareRoot(Law):
    """Square-root law, I(mu) = 1 - c (1 - mu) - d (1 - sqrt(mu))."""

    c: float
    d: float

    def __post_init__(self) -> None:
        object.__setattr__(self, "c", _finite("c", self.c))
        object.__setattr__(self, "d", _finite("d", self.d))

    def terms(self) -> Terms:
        return ((_MU0, 1.0 - self.c - self.d), (_MU1, self.c), (("power", 0.5), self.d))

    @property
    def coefficients(self) -> Tuple[float, ...]:
        return (self.c, self.d)

    def coefficient_terms(self) -> Tuple[Terms, ...]:
        return (((_MU0, -1.0), (_MU1, 1.0)), ((_MU0, -1.0), (("power", 0.5), 1.0)))


@dataclass(frozen=True)
class Logarithmic(Law):
    """Logarithmic law, I(mu) = 1 - e (1 - mu) - f mu ln(mu)."""

    e: float
    f: float

    def __post_init__(self) -> None:
        object.__setattr__(self, "e", _finite("e", self.e))
        object.__setattr__(self, "f", _finite("f", self.f))

    def terms(self) -> Terms:
        return ((_MU0, 1.0 - self.e), (_MU1, self.e), (_MU_LN_MU, -self.f))

    @property
    def coefficients(self) -> Tuple[float, ...]:
        return (self.e, self.f)

    def coefficient_terms(self) -> Tuple[Terms, ...]:
        return (((_MU0, -1.0), (_MU1, 1.0)), ((_MU_LN_MU, -1.0),))


@dataclass(frozen=True)
class Power2(Law):
    """Power-2 law, I(mu) = 1 - c (1 - mu^alpha), alpha > 0."""

    c: float
    alpha: float

    def __post_init__(self) -> None:
        object.__setattr__(self, "c", _finite("c", self.c))
        object.__setattr__(self, "alpha", _finite("alpha", self.alpha))
        if not self.alpha > 0:
            raise ValueError(f"alpha must be positive; got {self.alpha!r}")

    def terms(self) -> Terms:
        return ((_MU0, 1.0 - self.c), (("power", self.alpha), self.c))

    @property
    def coefficients(self) -> Tuple[float, ...]:
        return (self.c, self.alpha)

    def coefficient_terms(self) -> Tuple[Terms, ...]:
        # d(mu^alpha)/d(alpha) = mu^alpha ln(mu): a basis of its own.
        return (((_MU0, -1.0), (("power", self.alpha), 1.0)), ((("power_log", self.alpha), self.c),))


@dataclass(frozen=True)
class FourParameter(Law):
    """Four-parameter law, I(mu) = 1 - sum_k a_k (1 - mu^(k/2)), k = 1..4."""

    a1: float
    a2: float
    a3: float
    a4: float

    def __post_init__(self) -> None:
        for name in ("a1", "a2", "a3", "a4"):
            object.__setattr__(self, name, _finite(name, getattr(self, name)))

    def terms(self) -> Terms:
        a = self.coefficients
        return ((_MU0, 1.0 - sum(a)),) + tuple((("power", 0.5 * k), a[k - 1]) for k in range(1, 5))

    @property
    def coefficients(self) -> Tuple[float, ...]:
        return (self.a1, self.a2, self.a3, self.a4)

    def coefficient_terms(self) -> Tuple[Terms, ...]:
        return tuple(((_MU0, -1.0), (("power", 0.5 * k), 1.0)) for k in range(1, 5))


@dataclass(frozen=True)
class Profile(Law):
    """Brightness given as samples, taken as piecewise linear between them.

    Give the samples either in ``mu`` or in ``r`` (the radius in source radii),
    ascending from 0 to 1; ``intensity`` is the brightness there (any positive
    scale: only the shape matters). The profile is integrated exactly as the
    piecewise-linear function it describes.
    """

    intensity: Tuple[float, ...]
    mu: Optional[Tuple[float, ...]] = None
    r: Optional[Tuple[float, ...]] = None
    _variable: str = field(default="", init=False, repr=False, compare=False)

    def __post_init__(self) -> None:
        if (self.mu is None) == (self.r is None):
            raise ValueError("Profile takes exactly one of mu and r")
        name = "mu" if self.mu is not None else "r"
        x = np.asarray(self.mu if self.mu is not None else self.r, dtype=float).ravel()
        y = np.asarray(self.intensity, dtype=float).ravel()
        if x.size < 2 or x.size != y.size:
            raise ValueError(f"{name} and intensity must have the same length, at least 2; "
                             f"got {x.size} and {y.size}")
        for label, arr in ((name, x), ("intensity", y)):
            bad = np.flatnonzero(~np.isfinite(arr))
            if bad.size:
                raise ValueError(f"{label} must be finite; got {arr[bad[0]]!r} at index {bad[0]}")
        if x[0] != 0.0 or x[-1] != 1.0:
            raise ValueError(f"{name} must run from 0 to 1; got {x[0]!r} to {x[-1]!r}")
        step = np.flatnonzero(np.diff(x) <= 0)
        if step.size:
            raise ValueError(f"{name} must be strictly ascending; got {x[step[0] + 1]!r} "
                             f"after {x[step[0]]!r} at index {step[0] + 1}")
        object.__setattr__(self, "intensity", tuple(y.tolist()))
        object.__setattr__(self, name, tuple(x.tolist()))
        object.__setattr__(self, "_variable", name)

    def terms(self) -> Terms:
        samples = self.mu if self._variable == "mu" else self.r
        return (((f"table_{self._variable}", samples, self.intensity), 1.0),)

    @property
    def coefficients(self) -> Tuple[float, ...]:
        return ()

    def coefficient_terms(self) -> Tuple[Terms, ...]:
        return ()


LawLike = Union[Law, Sequence[Law]]
