// The boundary frame around every entry from the interpreter. Whatever the body
// does, the interpreter gets back a new reference, or NULL with an exception
// set; no C++ exception unwinds into the interpreter. The one exception is the
// forced unwind with which the C library ends a thread (pthread_exit, used by
// the interpreter for daemon threads at exit): it must pass through untouched.
#pragma once

#include <Python.h>

#include <exception>
#if defined(__GLIBCXX__)
#include <cxxabi.h>
#define CORVANIS_FORCED_UNWIND 1
#endif

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
    }
#ifdef CORVANIS_FORCED_UNWIND
    catch (abi::__forced_unwind&) {
        throw;
    }
#endif
    catch (...) {
        caught = std::current_exception();
    }
    try {
        restore_caught(caught);
    } catch (...) {
        trap.trigger();
    }
    return nullptr;
}

}  // namespace corvanis
