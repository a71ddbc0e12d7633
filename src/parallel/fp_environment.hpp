// The floating-point environment of a thread, carried from the caller of
// parallel_for to the workers that run its chunks: rounding mode, exception
// masks and, on x86, the whole MXCSR (flush-to-zero and denormals-are-zero
// included, which a C library's fenv_t need not carry). A chunk gives the bits
// a serial call would only if it runs in the caller's environment, and the
// exceptions it raises belong to the caller.
#pragma once

#include <cfenv>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

namespace corvanis::parallel::detail {

class FloatingPointEnvironment {
public:
    // The calling thread's.
    static FloatingPointEnvironment current() noexcept {
        FloatingPointEnvironment environment;
        std::fegetenv(&environment.env_);
#if defined(__SSE2__)
        environment.mxcsr_ = _mm_getcsr();
#endif
        return environment;
    }

    // Makes it the calling thread's, exception flags included.
    void install() const noexcept {
        std::fesetenv(&env_);
#if defined(__SSE2__)
        _mm_setcsr(mxcsr_);
#endif
    }

private:
    FloatingPointEnvironment() noexcept = default;

    std::fenv_t env_;
#if defined(__SSE2__)
    unsigned mxcsr_ = 0;
#endif
};

// Runs a worker's share of a job in the job's environment, with no exception
// flag raised, and gives the worker its own environment back at the end.
class InEnvironment {
public:
    explicit InEnvironment(const FloatingPointEnvironment& environment) noexcept
        : own_(FloatingPointEnvironment::current()) {
        environment.install();
        std::feclearexcept(FE_ALL_EXCEPT);
    }
    ~InEnvironment() { own_.install(); }
    InEnvironment(const InEnvironment&) = delete;
    InEnvironment& operator=(const InEnvironment&) = delete;

    // The exceptions raised since construction.
    int raised() const noexcept { return std::fetestexcept(FE_ALL_EXCEPT); }

private:
    const FloatingPointEnvironment own_;
};

// Raises on the calling thread the exceptions a worker's chunks raised: as
// serially, the caller's flags then tell what the whole call raised. An
// exception whose trap the caller enabled has already trapped on the worker,
// which ran with the same masks.
inline void raise_in_caller(int exceptions) noexcept {
    exceptions &= ~std::fetestexcept(FE_ALL_EXCEPT);
    if (exceptions != 0) {
        std::feraiseexcept(exceptions);
    }
}

}  // namespace corvanis::parallel::detail
