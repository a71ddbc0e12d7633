// Releases the GIL for the lifetime of the guard, when asked to. The destructor
// takes it back, also when a C++ exception leaves the scope, so the boundary
// frame always catches with the GIL held.
#pragma once

#include <Python.h>

namespace corvanis {

class GilRelease {
public:
    explicit GilRelease(bool release) noexcept
        : state_(release ? PyEval_SaveThread() : nullptr) {}
    ~GilRelease() {
        if (state_ != nullptr) {
            PyEval_RestoreThread(state_);
        }
    }
    GilRelease(const GilRelease&) = delete;
    GilRelease& operator=(const GilRelease&) = delete;

private:
    PyThreadState* state_;
};

}  // namespace corvanis
