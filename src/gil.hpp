// Runs a computation with the GIL released. The GIL is taken back in ordinary
// control flow, never in a destructor or a handler: during interpreter
// finalisation a daemon thread that asks for the GIL is ended with a forced
// unwind (pthread_exit), which must be free to leave through every frame.
#pragma once

#include <Python.h>

#include <exception>
#include <optional>
#include <utility>

#include "py_ref.hpp"

namespace corvanis {

// Returns work()'s result; an exception thrown by work is rethrown once the
// GIL is held again, so the boundary frame always handles it with the GIL.
// A forced unwind (the thread cancelled at a cancellation point in work) is
// no exception to handle: it passes through at once, without the GIL, and
// ends the thread as it would have without this frame.
template <class Work>
auto without_gil(bool release, Work&& work) -> decltype(work()) {
    if (!release) {
        return work();
    }
    // Python objects are off limits from here until the GIL is back; if the
    // thread is ended while asking for it, holds_gil() stays false.
    detail::gil_holder = nullptr;
    PyThreadState* const state = PyEval_SaveThread();
    std::optional<decltype(work())> result;
    std::exception_ptr failure;
    try {
        result.emplace(work());
    } catch (...) {
        failure = std::current_exception();
        // No C++ exception: a forced unwind (see trampoline.hpp).
        if (!failure) throw;
    }
    PyEval_RestoreThread(state);
    detail::gil_holder = state;
    if (failure) {
        std::rethrow_exception(failure);
    }
    return std::move(*result);
}

}  // namespace corvanis
