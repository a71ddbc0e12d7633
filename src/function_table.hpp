// The one description of the module's functions: one row per function, in
// registration order, with its Python name, its parameters, its model and the
// cost of its work (which decides how it is run). The method records, text signatures, argument binding and
// conversions are all built from these rows; a parameter is converted by the
// type the model takes (double: a float; std::span<const double>: a sequence
// of floats, converted into a vector that the span reads), and the model's
// result becomes a float or a list of floats.
#pragma once

#include <array>
#include <cstddef>
#include <tuple>

#include "lib/models.hpp"

namespace corvanis {

// The estimated cost of a call's work, from which call_model decides whether
// to release the GIL and whether to spread the separations over threads.
struct Work {
    double per_separation_ns;  // each separation
    double setup_ns;           // once per call, whatever its separations
};
// The estimate for a call with `rings` flux-map samples (0 where there is no
// table). Measured on one core by benchmarks/bench_module.py.
using WorkEstimate = Work (*)(std::size_t rings);

// A closed form: three elliptic integrals per separation.
constexpr Work closed_form(std::size_t) { return {150, 0}; }
// The uniform closed form integrated over the disk with the fixed profile.
constexpr Work integrated_closed_form(std::size_t) { return {1'200, 2'000}; }
// The same with a table: its flux, its order and its values at the
// quadrature's nodes are set up once per call (once per chunk).
constexpr Work integrated_closed_form_of_table(std::size_t rings) {
    return {1'200, 20'000 + 2.0 * static_cast<double>(rings)};
}
// One ring: a single magnification, too short for any of it.
constexpr Work single_ring(std::size_t) { return {0, 0}; }
// A quadrature of ring magnifications over the disk per separation.
constexpr Work integrated_rings(std::size_t) { return {45'000, 0}; }
constexpr Work integrated_rings_of_table(std::size_t rings) {
    return {50'000, 20'000 + 2.0 * static_cast<double>(rings)};
}
// One ring magnification per separation and sample.
constexpr Work ring_sum(std::size_t rings) {
    return {150.0 * static_cast<double>(rings), 2.0 * static_cast<double>(rings)};
}

template <class Model, std::size_t Arity>
struct FunctionRow {
    const char* name;
    std::array<const char*, Arity> parameters;
    Model* model;
    WorkEstimate work;
};

template <class Result, class... Args, std::size_t Arity>
FunctionRow(const char*, const char* const (&)[Arity], Result (*)(Args...), WorkEstimate)
    -> FunctionRow<Result(Args...), Arity>;

inline constexpr std::tuple FUNCTIONS{
    FunctionRow{"witt_mao_magnification", {"l", "re", "rstar"}, lib::witt_mao_magnification,
                closed_form},
    FunctionRow{"integrated_witt_mao_magnification", {"l", "re", "rstar"},
                lib::integrated_witt_mao_magnification, integrated_closed_form},
    FunctionRow{"integrated_flux_map_witt_mao_magnification", {"l", "re", "rstar", "bl", "bf"},
                lib::integrated_flux_map_witt_mao_magnification, integrated_closed_form_of_table},
    FunctionRow{"heyrovsky_magnification", {"l", "r", "re", "rstar"},
                lib::heyrovsky_magnification, single_ring},
    FunctionRow{"integrated_heyrovsky_magnification", {"l", "re", "rstar"},
                lib::integrated_heyrovsky_magnification, integrated_rings},
    FunctionRow{"integrated_flux_map_heyrovsky_magnification", {"l", "re", "rstar", "bl", "bf"},
                lib::integrated_flux_map_heyrovsky_magnification, integrated_rings_of_table},
    FunctionRow{"discrete_flux_map_heyrovsky_magnification", {"l", "re", "rstar", "bl", "bf"},
                lib::discrete_flux_map_heyrovsky_magnification, ring_sum},
};

inline constexpr std::size_t FUNCTION_COUNT = std::tuple_size_v<decltype(FUNCTIONS)>;

}  // namespace corvanis
