// EllipResult: the outcome of an elliptic-integral routine, a double or one
// static error message. Errors are values; nothing here throws or allocates.
#pragma once

namespace ellip {

struct EllipResult {
    double value = 0.0;           // meaningful only when error is null
    const char* error = nullptr;  // static text, or null on success

    static constexpr EllipResult ok(double v) noexcept { return {v, nullptr}; }
    static constexpr EllipResult fail(const char* message) noexcept { return {0.0, message}; }
    constexpr bool is_error() const noexcept { return error != nullptr; }
};

}  // namespace ellip
