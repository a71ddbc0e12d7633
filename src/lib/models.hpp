// The seven model functions behind the Python entry points (the single ring,
// heyrovsky_magnification, is declared with the rest of the ring). They take
// their arrays over (by value) and touch no Python object, so they may run
// with the GIL released. Unequal flux-map lengths panic.
#pragma once

#include <vector>

#include "lib/ring.hpp"
#include "numerics/fallible.hpp"

namespace corvanis::lib {

using Magnifications = numerics::Fallible<std::vector<double>>;

Magnifications witt_mao_magnification(std::vector<double> l, double re, double rstar);
Magnifications integrated_witt_mao_magnification(std::vector<double> l, double re, double rstar);
Magnifications integrated_flux_map_witt_mao_magnification(std::vector<double> l, double re,
                                                          double rstar, std::vector<double> bl,
                                                          std::vector<double> bf);
Magnifications integrated_heyrovsky_magnification(std::vector<double> l, double re, double rstar);
Magnifications integrated_flux_map_heyrovsky_magnification(std::vector<double> l, double re,
                                                           double rstar, std::vector<double> bl,
                                                           std::vector<double> bf);
Magnifications discrete_flux_map_heyrovsky_magnification(std::vector<double> l, double re,
                                                         double rstar, std::vector<double> bl,
                                                         std::vector<double> bf);

}  // namespace corvanis::lib
