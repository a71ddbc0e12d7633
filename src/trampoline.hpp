// The boundary frame around every entry from the interpreter. Whatever the body
// does, the interpreter gets back a new reference, or NULL with an exception
// set; no C++ exception unwinds into the interpreter. The one exception is the
// forced unwind with which the C library ends a thread (pthread_exit, used by
// the interpreter for daemon threads at exit, or pthread_cancel): it must pass
// through untouched. It is no C++ exception: in a catch (...) handler it is the
// one for which std::current_exception() is empty, and the handler rethrows it.
// (Caught as abi::__forced_unwind&, it would bind a reference to no object.)
#pragma once

#include <Python.h>

#include <exception>

#include "error.hpp"
#include "py_ref.hpp"

namespace corvanis {

// Last resort of the frame: a failure while it turns another failure into a
// Python exception cannot be reported to Python, so it ends the process.
class PanicTrap {
public:
    explicit constexpr PanicTrap(const char* message) noexcept : message_(message) {}
    [[noreturn]] void trigger() const noexcept;

private:
    const char* message_;
};

// Sets the Python exception for a C++ exception caught by the frame: Panic
// becomes PanicException, std::bad_alloc MemoryError, anything else
// PanicException with its what() text.
void restore_caught(std::exception_ptr caught);

template <class Body>
PyObject* trampoline(Body&& body) {
    const GilHeldByCall gil_held;
    const PanicTrap trap("uncaught panic at ffi boundary");
    std::exception_ptr caught;
    try {
        Result<PyRef> result = body();
        if (result.ok()) {
            return result->release();
        }
        std::move(result.error()).restore();
        return nullptr;
    } catch (...) {
        caught = std::current_exception();
        if (!caught) throw;  // a forced unwind
    }
    try {
        restore_caught(caught);
    } catch (...) {
        trap.trigger();
    }
    return nullptr;
}

}  // namespace corvanis
