// A value, or the static message of the error that prevented it: the result of
// every kernel and model that can fail. Errors are values; nothing here throws,
// and nothing allocates beyond what T itself does.
#pragma once

#include <utility>

namespace numerics {

// The error alone. It converts to a Fallible of any type, which is how an error
// is passed on: `if (!K.ok()) return K.failure();`.
struct Failure {
    const char* message;  // static text
};

template <class T>
struct [[nodiscard]] Fallible {
    T value{};                    // meaningful only when ok()
    const char* error = nullptr;  // static text, or null on success

    constexpr Fallible() = default;
    constexpr Fallible(T v) : value(std::move(v)) {}
    constexpr Fallible(Failure failure) noexcept : error(failure.message) {}

    constexpr bool ok() const noexcept { return error == nullptr; }
    constexpr Failure failure() const noexcept { return {error}; }
};

}  // namespace numerics
