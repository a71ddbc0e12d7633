#include <vector>

#include "lib/assertions.hpp"
#include "lib/models.hpp"

namespace corvanis::lib {

// Each table row is a thin ring of radius bl[j] and weight bf[j]; the weights
// enter the sum as they are, without normalisation.
Magnifications discrete_flux_map_heyrovsky_magnification(Doubles l, double re, double rstar,
                                                         Doubles bl, Doubles bf) {
    assert_equal(bl.size(), bf.size());
    std::vector<double> result;
    result.reserve(l.size());
    for (const double li : l) {
        double s = 0.0;
        for (std::size_t j = 0; j < bl.size(); ++j) {
            const auto ring = heyrovsky_magnification(li, bl[j], re, rstar);
            if (!ring.ok()) return ring.failure();
            s = s + ring.value * bf[j];
        }
        result.push_back(s);
    }
    return result;
}

}  // namespace corvanis::lib
