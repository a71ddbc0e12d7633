// Binding of fast-call arguments to a function's parameters. Every parameter of
// the module's functions is positional-or-keyword and required, and none of
// them takes extra positional or keyword arguments.
#pragma once

#include <Python.h>

#include <span>
#include <string>

#include "error.hpp"

namespace corvanis {

struct FunctionDescription {
    const char* name;
    std::span<const char* const> parameters;

    // The function as shown in messages: "name()".
    std::string full_name() const { return std::string(name) + "()"; }
};

// Fills slots[i] with a borrowed reference to the argument bound to parameter i.
// args holds nargs positional values followed by one value per name in kwnames
// (which may be NULL). Only the first binding error is reported.
Status extract_arguments_fastcall(const FunctionDescription& description,
                                  PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                                  std::span<PyObject*> slots);

}  // namespace corvanis
