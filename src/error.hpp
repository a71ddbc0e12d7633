// Error values: a Python exception that is either still to be made (a type and
// its argument) or already fetched from the interpreter. An error stays a value
// until the boundary frame sets it as the current exception with restore().
#pragma once

#include <Python.h>

#include <optional>
#include <string_view>
#include <utility>
#include <variant>

#include "panic.hpp"
#include "py_ref.hpp"
#include "source_location.hpp"

namespace corvanis {

class Error {
public:
    // An exception of `type` whose only argument is `message`. If the message
    // cannot be made, the error is the interpreter's exception (MemoryError).
    static Error lazy(PyObject* type, std::string_view message);
    static Error lazy(PyObject* type, PyRef message);
    // An exception already created, with its type, instance and traceback.
    static Error fetched(PyRef type, PyRef value, PyRef traceback) noexcept;

    // Takes the pending exception (SystemError if none is pending). A pending
    // PanicException is not an error: it is printed and resumed as a panic.
    static Error fetch(SourceLocation where = SourceLocation::current());

    // Sets this error as the interpreter's current exception.
    void restore() && noexcept;

    PyObject* type() const noexcept { return type_.get(); }
    // The exception instance (fetched) or the message argument (lazy).
    PyObject* value() const noexcept { return value_.get(); }
    bool is_lazy() const noexcept { return lazy_; }

private:
    Error(PyRef type, PyRef value, PyRef traceback, bool lazy) noexcept
        : type_(std::move(type)), value_(std::move(value)), traceback_(std::move(traceback)),
          lazy_(lazy) {}

    PyRef type_;
    PyRef value_;
    PyRef traceback_;
    bool lazy_;
};

// A value or the error that prevented it.
template <class T>
class Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return state_.index() == 0; }
    T& operator*() noexcept { return *std::get_if<0>(&state_); }
    T* operator->() noexcept { return std::get_if<0>(&state_); }
    Error& error() noexcept { return *std::get_if<1>(&state_); }

private:
    std::variant<T, Error> state_;
};

// Outcome of a step that yields nothing: empty on success.
using Status = std::optional<Error>;

// The PanicException type, created on first use and kept for the process.
// Panics if it cannot be created.
PyObject* panic_exception_type();

// The PanicException error carrying a caught panic's message.
Error from_panic_payload(const Panic& panic);

// TypeError "'<type qualname>' object cannot be converted to '<target>'".
Error downcast_error(PyObject* object, const char* target);

}  // namespace corvanis
