"""Finite-source point-lens magnifications, a Python module implemented in C++."""

from typing import Protocol, SupportsFloat, SupportsIndex, Union

from typing_extensions import TypeAlias

__all__ = [
    "witt_mao_magnification",
    "integrated_witt_mao_magnification",
    "integrated_flux_map_witt_mao_magnification",
    "heyrovsky_magnification",
    "integrated_heyrovsky_magnification",
    "integrated_flux_map_heyrovsky_magnification",
    "discrete_flux_map_heyrovsky_magnification",
]

# A number: anything float() accepts without parsing text (float, int,
# NumPy scalars, objects with __float__ or __index__).
_Real: TypeAlias = Union[SupportsFloat, SupportsIndex]

class _RealSequence(Protocol):
    """A sequence of numbers: list, tuple, range, NumPy array and the like.

    Strings, sets and generators are refused at run time with TypeError; a
    string is refused here too, since its items are strings.
    """

    def __len__(self) -> int: ...
    def __getitem__(self, index: int, /) -> _Real: ...

def witt_mao_magnification(l: _RealSequence, re: _Real, rstar: _Real) -> list[float]:
    """Magnification of a uniform source disk at each separation l (source radii)."""

def integrated_witt_mao_magnification(l: _RealSequence, re: _Real, rstar: _Real) -> list[float]:
    """Uniform-disk magnification weighted over the disk by the fixed linear
    limb-darkening profile; equals witt_mao_magnification to about 1e-10."""

def integrated_flux_map_witt_mao_magnification(
    l: _RealSequence, re: _Real, rstar: _Real, bl: _RealSequence, bf: _RealSequence
) -> list[float]:
    """As integrated_witt_mao_magnification with the profile tabulated as (bl, bf)."""

def heyrovsky_magnification(l: _Real, r: _Real, re: _Real, rstar: _Real) -> float:
    """Magnification of a thin uniform ring of radius r whose centre is at l
    (both in source radii) from the lens."""

def integrated_heyrovsky_magnification(l: _RealSequence, re: _Real, rstar: _Real) -> list[float]:
    """Magnification of a disk with linear limb darkening (coefficient 0.6)."""

def integrated_flux_map_heyrovsky_magnification(
    l: _RealSequence, re: _Real, rstar: _Real, bl: _RealSequence, bf: _RealSequence
) -> list[float]:
    """Magnification of a disk whose brightness profile is the table (bl, bf),
    linearly interpolated and zero outside it."""

def discrete_flux_map_heyrovsky_magnification(
    l: _RealSequence, re: _Real, rstar: _Real, bl: _RealSequence, bf: _RealSequence
) -> list[float]:
    """Weighted sum of ring magnifications, one ring per table row (bl[j], bf[j])."""
