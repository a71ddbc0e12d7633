// How a model's work is run: on the calling thread, or with its separations
// spread over the process-wide pool when the work outweighs the cost of
// splitting. Either way every separation gets the same bits: the model is a
// pure function of its arguments and each result depends only on its own
// separation. The chunks read the caller's converted arrays, none copied. Runs
// with the GIL released; touches no Python object.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <span>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "function_table.hpp"
#include "numerics/fallible.hpp"
#include "parallel/parallel_for.hpp"

namespace corvanis {

// The storage of a model argument for the call: a span parameter reads a
// vector, any other parameter is kept as it is.
template <class T>
using Stored = std::conditional_t<std::is_same_v<T, std::span<const double>>, std::vector<double>, T>;

// Separations per chunk: all of them (one serial call) unless the work is worth
// splitting; otherwise chunks of the pool's preferred length, made longer where
// needed to keep the setup that every chunk repeats under a tenth of its work
// and the number of chunks moderate.
inline std::size_t chunk_length(std::size_t count, Work work) {
    const std::size_t grain = parallel::split_grain(count, work.per_separation_ns);
    if (grain >= count) {
        return count;
    }
    const double setup_bound = std::ceil(10 * work.setup_ns / work.per_separation_ns);
    if (!(setup_bound < static_cast<double>(count))) {
        return count;
    }
    // Sixteen chunks per thread balance the threads as well as more would, and
    // a long call then does not pay for thousands of chunks.
    const std::size_t balanced = count / (parallel::thread_count() * 16);
    return std::max({grain, static_cast<std::size_t>(setup_bound), balanced});
}

// The model over the separations `l`, the first argument, in chunks of `grain`
// run by parallel_for; each chunk is the model called on its separations with
// the other arguments unchanged (the same spans: every chunk reads the caller's
// arrays). As in one serial call, the result is the error of the first failing
// separation, else every value in order.
template <class Model, class... Args>
numerics::Fallible<std::vector<double>> run_in_chunks(Model* model, std::tuple<Args...> arguments,
                                                      std::size_t grain) {
    const std::span<const double> l = std::get<0>(arguments);
    // The model without separations makes, on this thread and before any chunk
    // runs, every check that does not depend on them (a panic for unequal
    // flux-map lengths).
    std::get<0>(arguments) = {};
    if (auto checked = std::apply(model, arguments); !checked.ok()) {
        return checked.failure();
    }

    std::vector<double> values(l.size());
    std::vector<const char*> errors((l.size() - 1) / grain + 1, nullptr);
    parallel::parallel_for(l.size(), grain, [&](std::size_t begin, std::size_t end) {
        auto chunk = arguments;  // spans and doubles
        std::get<0>(chunk) = l.subspan(begin, end - begin);
        auto part = std::apply(model, chunk);
        if (!part.ok()) {
            errors[begin / grain] = part.error;
            return;
        }
        std::copy(part.value.begin(), part.value.end(),
                  values.begin() + static_cast<std::ptrdiff_t>(begin));
    });
    for (const char* error : errors) {
        if (error != nullptr) {
            return numerics::Failure{error};
        }
    }
    return values;
}

// Runs the row's model on its converted arguments, splitting the separations
// (the first argument, when it is a sequence) when the work is worth it.
template <class Outcome, class... Args, std::size_t Arity>
Outcome run_model(const FunctionRow<Outcome(Args...), Arity>& row,
                  const std::tuple<Stored<Args>...>& stored, Work work) {
    const std::tuple<Args...> arguments(stored);
    using First = std::tuple_element_t<0, std::tuple<Args...>>;
    if constexpr (std::is_same_v<First, std::span<const double>> &&
                  std::is_same_v<Outcome, numerics::Fallible<std::vector<double>>>) {
        const std::size_t count = std::get<0>(arguments).size();
        const std::size_t grain = chunk_length(count, work);
        if (grain < count) {
            return run_in_chunks(row.model, arguments, grain);
        }
    }
    return std::apply(row.model, arguments);
}

}  // namespace corvanis
