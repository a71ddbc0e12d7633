// The one description of the module's functions: one row per function, in
// registration order, with its Python name, its parameters, its model and how
// its work is run. The method records, text signatures, argument binding and
// conversions are all built from these rows; a parameter is converted by the
// type the model takes (double: a float; std::vector<double>: a sequence of
// floats), and the model's result becomes a float or a list of floats.
#pragma once

#include <array>
#include <cstddef>
#include <tuple>

#include "lib/models.hpp"

namespace corvanis {

// Whether a call's work outweighs the cost of handing the GIL over, from the
// number of separations and of flux-map rings (0 where the function has none).
using WorthReleasing = bool (*)(std::size_t separations, std::size_t rings);

// A closed form costs a few elliptic integrals per separation.
constexpr bool many_separations(std::size_t separations, std::size_t) {
    return separations >= 32;
}
// A quadrature costs hundreds of kernel calls per separation.
constexpr bool any_separation(std::size_t separations, std::size_t) { return separations >= 1; }
// The discrete flux map costs one ring magnification per separation and ring.
constexpr bool many_ring_terms(std::size_t separations, std::size_t rings) {
    return separations * rings >= 32;
}
// One ring magnification is too short to release the GIL for.
constexpr bool never(std::size_t, std::size_t) { return false; }

template <class Model, std::size_t Arity>
struct FunctionRow {
    const char* name;
    std::array<const char*, Arity> parameters;
    Model* model;
    WorthReleasing worth_releasing;
};

template <class Result, class... Args, std::size_t Arity>
FunctionRow(const char*, const char* const (&)[Arity], Result (*)(Args...), WorthReleasing)
    -> FunctionRow<Result(Args...), Arity>;

inline constexpr std::tuple FUNCTIONS{
    FunctionRow{"witt_mao_magnification", {"l", "re", "rstar"}, lib::witt_mao_magnification,
                many_separations},
    FunctionRow{"integrated_witt_mao_magnification", {"l", "re", "rstar"},
                lib::integrated_witt_mao_magnification, any_separation},
    FunctionRow{"integrated_flux_map_witt_mao_magnification", {"l", "re", "rstar", "bl", "bf"},
                lib::integrated_flux_map_witt_mao_magnification, any_separation},
    FunctionRow{"heyrovsky_magnification", {"l", "r", "re", "rstar"},
                lib::heyrovsky_magnification, never},
    FunctionRow{"integrated_heyrovsky_magnification", {"l", "re", "rstar"},
                lib::integrated_heyrovsky_magnification, any_separation},
    FunctionRow{"integrated_flux_map_heyrovsky_magnification", {"l", "re", "rstar", "bl", "bf"},
                lib::integrated_flux_map_heyrovsky_magnification, any_separation},
    FunctionRow{"discrete_flux_map_heyrovsky_magnification", {"l", "re", "rstar", "bl", "bf"},
                lib::discrete_flux_map_heyrovsky_magnification, many_ring_terms},
};

inline constexpr std::size_t FUNCTION_COUNT = std::tuple_size_v<decltype(FUNCTIONS)>;

}  // namespace corvanis
