// The seven model functions behind the Python entry points (the single ring,
// heyrovsky_magnification, is declared with the rest of the ring). They read
// their arrays through spans, which the caller keeps alive and unchanged for
// the call (the chunks of a call spread over threads share them), and touch
// no Python object, so they may run with the GIL released. Unequal flux-map
// lengths panic.
#pragma once

#include <span>
#include <vector>

#include "lib/ring.hpp"
#include "numerics/fallible.hpp"

namespace corvanis::lib {

using Magnifications = numerics::Fallible<std::vector<double>>;
// The separations, or a flux-map table's radii or brightness.
using Doubles = std::span<const double>;

Magnifications witt_mao_magnification(Doubles l, double re, double rstar);
Magnifications integrated_witt_mao_magnification(Doubles l, double re, double rstar);
Magnifications integrated_flux_map_witt_mao_magnification(Doubles l, double re, double rstar,
                                                          Doubles bl, Doubles bf);
Magnifications integrated_heyrovsky_magnification(Doubles l, double re, double rstar);
Magnifications integrated_flux_map_heyrovsky_magnification(Doubles l, double re, double rstar,
                                                           Doubles bl, Doubles bf);
Magnifications discrete_flux_map_heyrovsky_magnification(Doubles l, double re, double rstar,
                                                         Doubles bl, Doubles bf);

}  // namespace corvanis::lib
