// The path of one call, for any row of the function table: bind the arguments
// to the row's parameters, convert each by the type the model takes, run the
// model (with the GIL released, and over several threads, when the work is
// worth it) and turn its outcome into a Python object or exception. Runs
// inside the boundary frame.
#pragma once

#include <Python.h>

#include <cstddef>
#include <optional>
#include <span>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "convert.hpp"
#include "error.hpp"
#include "function_description.hpp"
#include "function_table.hpp"
#include "gil.hpp"
#include "run_model.hpp"

namespace corvanis {

// What a model parameter is converted into and kept in for the call: a double,
// or the vector of doubles that a span parameter reads.
template <class T>
Result<Stored<T>> extract_parameter(PyObject* object, const char* name) {
    if constexpr (std::is_same_v<T, double>) {
        return extract_float_argument(object, name);
    } else {
        static_assert(std::is_same_v<T, std::span<const double>>,
                      "a model parameter is a double or a std::span<const double>");
        return extract_float_sequence_argument(object, name);
    }
}

// The number of elements of the n-th sequence argument, 0 if there is none.
template <class... Args>
std::size_t sequence_length(const std::tuple<Args...>& arguments, std::size_t n) {
    std::size_t seen = 0;
    std::size_t length = 0;
    std::apply(
        [&](const auto&... argument) {
            (
                [&] {
                    if constexpr (std::is_same_v<std::decay_t<decltype(argument)>,
                                                 std::vector<double>>) {
                        if (seen++ == n) length = argument.size();
                    }
                }(),
                ...);
        },
        arguments);
    return length;
}

template <class Outcome, class... Args, std::size_t Arity>
Result<PyRef> call_model(const FunctionRow<Outcome(Args...), Arity>& row, PyObject* const* args,
                         Py_ssize_t nargs, PyObject* kwnames) {
    static_assert(sizeof...(Args) == Arity, "one parameter name per model argument");
    const FunctionDescription description{row.name, row.parameters};
    PyObject* slots[Arity] = {};
    if (Status error = extract_arguments_fastcall(description, args, nargs, kwnames, slots)) {
        return std::move(*error);
    }

    // Conversions in parameter order; the first error ends the call. The
    // converted arrays stay here, unchanged, until the model has returned.
    std::tuple<Stored<Args>...> arguments;
    std::optional<Error> failed;
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (
            [&] {
                auto value = extract_parameter<Args>(slots[I], row.parameters[I]);
                if (!value.ok()) {
                    failed = std::move(value.error());
                    return false;
                }
                std::get<I>(arguments) = std::move(*value);
                return true;
            }() &&
            ...);
    }(std::index_sequence_for<Args...>{});
    if (failed) {
        return std::move(*failed);
    }

    // Flux-map rings are the second sequence, after the separations. The GIL
    // is released for anything longer than handing it over (about a
    // microsecond).
    const Work work = row.work(sequence_length(arguments, 1));
    const double total_ns =
        work.setup_ns + work.per_separation_ns * static_cast<double>(sequence_length(arguments, 0));
    Outcome outcome = without_gil(total_ns >= 1'000, [&] {
        return run_model(row, arguments, work);
    });
    return into_python(std::move(outcome));
}

}  // namespace corvanis
