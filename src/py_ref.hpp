// Owning handle for a strong reference to a Python object. The reference is
// released in the destructor, so every early return releases what it owns.
#pragma once

#include <Python.h>

#include <utility>

namespace corvanis {

namespace detail {

// The thread state of the innermost call from the interpreter on this thread,
// recorded at entry (where the interpreter holds the GIL for the call), and
// null while that call has released the GIL. Null outside any call.
inline thread_local PyThreadState* gil_holder = nullptr;

}  // namespace detail

// Whether this thread holds the GIL. It does not while the forced unwind that
// ends a daemon thread at interpreter exit passes through our frames (the
// thread was stopped while asking for the GIL); that unwind is no C++
// exception, so it cannot be told apart otherwise. Python objects are then
// left alone (leaked), as the interpreter's own frames leave them.
//
// The interpreter's own bookkeeping cannot tell: up to 3.11
// PyGILState_GetThisThreadState() names the first thread state made on this
// OS thread, which is not the current one on a thread that runs a
// subinterpreter. The thread state recorded at entry is.
inline bool holds_gil() noexcept {
#if PY_VERSION_HEX >= 0x030D0000
    PyThreadState* const current = PyThreadState_GetUnchecked();
#else
    PyThreadState* const current = _PyThreadState_UncheckedGet();
#endif
    return current != nullptr && current == detail::gil_holder;
}

// Records, for the lifetime of one call from the interpreter, that the calling
// thread holds the GIL with its current thread state. Calls nest (a
// conversion may run Python code that calls the module again).
class GilHeldByCall {
public:
    GilHeldByCall() noexcept : outer_(detail::gil_holder) {
#if PY_VERSION_HEX >= 0x030D0000
        detail::gil_holder = PyThreadState_GetUnchecked();
#else
        detail::gil_holder = _PyThreadState_UncheckedGet();
#endif
    }
    ~GilHeldByCall() { detail::gil_holder = outer_; }
    GilHeldByCall(const GilHeldByCall&) = delete;
    GilHeldByCall& operator=(const GilHeldByCall&) = delete;

private:
    PyThreadState* const outer_;
};

class PyRef {
public:
    PyRef() noexcept = default;
    // Takes over a new reference (which may be NULL).
    explicit PyRef(PyObject* owned) noexcept : ptr_(owned) {}
    // Makes a new reference to a borrowed object.
    static PyRef borrow(PyObject* borrowed) noexcept {
        Py_XINCREF(borrowed);
        return PyRef(borrowed);
    }

    PyRef(PyRef&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    PyRef& operator=(PyRef&& other) noexcept {
        PyRef(std::move(other)).swap(*this);
        return *this;
    }
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    ~PyRef() {
        if (ptr_ != nullptr && holds_gil()) {
            Py_DECREF(ptr_);
        }
    }

    PyObject* get() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }
    // Hands the reference to the caller.
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(ptr_, nullptr); }
    void swap(PyRef& other) noexcept { std::swap(ptr_, other.ptr_); }

private:
    PyObject* ptr_ = nullptr;
};

}  // namespace corvanis
