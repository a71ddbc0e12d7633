// The refinement of the double-exponential rule, shared by the scalar and the
// batched quadrature: each level halves the step, and from level 3 on an error
// estimate decides whether to stop (D^2 when successive differences D
// converge quadratically, log ratio in (1.9, 2.1), else |D|).
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>
#include <numbers>

namespace quadrature::double_exponential::detail {

class Refinement {
public:
    // Starts from the integrand's value at the centre of [-1, 1].
    explicit Refinement(double centre) noexcept : integral_(centre * std::numbers::pi) {}

    // Adds the weighted sum of one level of `pairs` node pairs; true once the
    // estimated error is below tau and refinement should stop.
    bool add_level(double sum, std::size_t pairs, double tau) noexcept {
        evaluations_ += 2 * static_cast<unsigned>(pairs);

        const double delta_prev = delta_;
        const double diff = integral_ * 0.5 - sum;
        delta_ = std::fabs(diff);
        integral_ = integral_ * 0.5 + sum;

        // Levels 1 and 2 only build the step-1/2 sum; no estimate yet.
        if (evaluations_ <= 13) {
            return false;
        }
        if (diff == 0.0) {
            error_ = 0.0;
            return true;
        }
        const double ratio = std::log(delta_) / std::log(delta_prev);
        error_ = (1.9 < ratio && ratio < 2.1) ? diff * diff : delta_;
        return error_ < tau;
    }

    double integral() const noexcept { return integral_; }
    double error() const noexcept { return error_; }
    unsigned evaluations() const noexcept { return evaluations_; }

private:
    double integral_;
    unsigned evaluations_ = 1;
    double delta_ = std::numeric_limits<double>::max();
    double error_ = std::numeric_limits<double>::max();
};

}  // namespace quadrature::double_exponential::detail
