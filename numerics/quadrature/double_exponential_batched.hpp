// Double-exponential quadrature with a batched integrand: the rule, nodes,
// stopping test and sums of integrate() (double_exponential.hpp), bit for bit,
// for an integrand that evaluates many abscissae in one call (for instance in
// SIMD lanes). It is asked for the centre and levels 1 and 2 together (these
// always run: 13 abscissae), then for each further level (at most 192). The
// values are summed exactly as integrate() sums them, pair by pair in table
// order, so only the evaluation order differs: the integrand must be a pure
// function of its abscissa.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <memory>
#include <numbers>
#include <span>
#include <type_traits>

#include "numerics/quadrature/de_nodes.hpp"
#include "numerics/quadrature/de_refinement.hpp"
#include "numerics/quadrature/double_exponential.hpp"

namespace quadrature::double_exponential {

// The most abscissae one quadrature evaluates: the centre and 2 per node.
inline constexpr std::size_t DE_MOST_EVALUATIONS = 1 + 2 * DE_NODE_TABLE.size();

namespace detail {

// The abscissae of one level on [a, b] at out, each node at +x, then -x,
// where c = (b - a)/2 and d = (a + b)/2.
inline double* map_level(std::span<const Node> level, double c, double d, double* out) noexcept {
    for (const Node& node : level) {
        *out++ = node.abscissa * c + d;
        *out++ = -node.abscissa * c + d;
    }
    return out;
}

}  // namespace detail

// Every abscissa integrate_batched may ask for on [a, b], in the order it asks
// for them: the centre, then level after level. An integrand whose cost lies
// in a factor that does not depend on the integral (a profile on a fixed
// interval) can compute that factor once, at these abscissae.
inline std::array<double, DE_MOST_EVALUATIONS> de_abscissae(double a, double b) noexcept {
    const double c = (b - a) * 0.5;
    const double d = (a + b) * 0.5;
    std::array<double, DE_MOST_EVALUATIONS> x;
    x[0] = 0.0 * c + d;
    double* out = &x[1];
    for (const std::span<const Node> level : DE_NODES) out = detail::map_level(level, c, d, out);
    return x;
}

// The abscissae and values of one level: 3 KB, more than a thread's stack
// should hold for one frame. A caller that integrates many times keeps one on
// the heap and hands it to every integration.
struct LevelBuffers {
    std::array<double, 2 * DE_LEVEL_SIZES.back()> x;
    std::array<double, 2 * DE_LEVEL_SIZES.back()> y;
};

// f(std::span<const double> x, std::span<double> y) sets y[i] = f(x[i]) for
// every i; it is borrowed for the call. f may also take a third argument, the
// position of x[0] in de_abscissae(a, b). Nothing is allocated: the abscissae
// and values of a level live in `buffers`.
template <class F>
IntegrationResult integrate_batched(F&& f, double a, double b, double target,
                                    LevelBuffers& buffers) {
    const double c = (b - a) * 0.5;
    const double d = (a + b) * 0.5;
    const double tau = (target * 0.25) / c;

    std::array<double, 2 * DE_LEVEL_SIZES.back()>& x = buffers.x;
    std::array<double, 2 * DE_LEVEL_SIZES.back()>& y = buffers.y;
    std::size_t first = 0;  // position of x[0] among all abscissae
    const auto evaluate = [&f, &x, &y, &first](std::size_t count) {
        const std::span<const double> xs(x.data(), count);
        const std::span<double> ys(y.data(), count);
        if constexpr (std::is_invocable_v<F&, std::span<const double>, std::span<double>,
                                          std::size_t>) {
            f(xs, ys, first);
        } else {
            f(xs, ys);
        }
        first += count;
    };
    // A pole or undefined value at a node adds nothing.
    const auto finite = [](double v) { return std::isfinite(v) ? v : 0.0; };

    x[0] = 0.0 * c + d;
    detail::map_level(DE_NODES[1], c, d, detail::map_level(DE_NODES[0], c, d, &x[1]));
    evaluate(1 + 2 * (DE_NODES[0].size() + DE_NODES[1].size()));

    detail::Refinement refinement(finite(y[0]));
    const double* values = &y[1];

    for (std::size_t k = 0; k < DE_NODES.size(); ++k) {
        const std::span<const Node> level = DE_NODES[k];
        if (k >= 2) {
            detail::map_level(level, c, d, x.data());
            evaluate(2 * level.size());
            values = y.data();
        }
        double sum = 0.0;
        for (const Node& node : level) {
            const double plus = finite(*values++);
            const double minus = finite(*values++);
            sum = sum + (plus + minus) * node.weight;
        }
        if (refinement.add_level(sum, level.size(), tau)) {
            break;
        }
    }
    return {refinement.integral() * c, refinement.error() * c, refinement.evaluations()};
}

// The same with buffers of its own, on the heap (may throw std::bad_alloc).
template <class F>
IntegrationResult integrate_batched(F&& f, double a, double b, double target) {
    const auto buffers = std::make_unique<LevelBuffers>();
    return integrate_batched(f, a, b, target, *buffers);
}

}  // namespace quadrature::double_exponential
