// Owning handle for a strong reference to a Python object. The reference is
// released in the destructor, so every early return releases what it owns.
#pragma once

#include <Python.h>

#include <utility>

namespace corvanis {

// Whether this thread holds the GIL. It does not while the forced unwind that
// ends a daemon thread at interpreter exit passes through our frames (the
// thread was stopped while asking for the GIL); that unwind is no C++
// exception, so it cannot be told apart otherwise. Python objects are then
// left alone (leaked), as the interpreter's own frames leave them.
inline bool holds_gil() noexcept {
#if PY_VERSION_HEX >= 0x030D0000
    PyThreadState* const current = PyThreadState_GetUnchecked();
#else
    PyThreadState* const current = _PyThreadState_UncheckedGet();
#endif
    return current != nullptr && current == PyGILState_GetThisThreadState();
}

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
