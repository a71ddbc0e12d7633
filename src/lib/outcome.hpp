// Outcome of a model function: a value, or the static message of the first
// numeric error (a kernel's EllipResult message).
#pragma once

namespace corvanis::lib {

template <class T>
struct Outcome {
    T value{};
    const char* error = nullptr;

    bool ok() const noexcept { return error == nullptr; }
    static Outcome failure(const char* message) { return Outcome{T{}, message}; }
};

}  // namespace corvanis::lib
