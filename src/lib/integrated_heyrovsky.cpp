#include "lib/integrated_heyrovsky.hpp"

#include "lib/assertions.hpp"
#include "lib/profiles.hpp"

namespace corvanis::lib {

Magnifications integrated_heyrovsky_magnification(Doubles l, double re, double rstar) {
    return _integrated_heyrovsky_magnification(l, re, rstar, LINEAR_LIMB_DARKENING_NORM,
                                               LinearLimbDarkening{});
}

Magnifications integrated_flux_map_heyrovsky_magnification(Doubles l, double re, double rstar,
                                                           Doubles bl, Doubles bf) {
    assert_equal(bl.size(), bf.size());
    const FluxMapProfile profile(bl, bf);
    const double norm = disk_flux(profile);
    return _integrated_heyrovsky_magnification(l, re, rstar, norm, profile);
}

}  // namespace corvanis::lib
