// Conversion of arguments into the models' inputs and of the models' outcomes
// into Python objects or exceptions.
#pragma once

#include <Python.h>

#include <vector>

#include "error.hpp"
#include "numerics/fallible.hpp"
#include "py_ref.hpp"

namespace corvanis {

// A float, an int, a bool or anything else PyFloat_AsDouble accepts.
Result<double> extract_float(PyObject* object);

// A sequence (not a str) of objects accepted by extract_float.
Result<std::vector<double>> extract_float_sequence(PyObject* object);

// Names the parameter in a conversion error: a plain TypeError becomes
// "argument '<name>': <message>"; every other error passes unchanged.
Error argument_extraction_error(const char* name, Error error);

// The conversions above with their errors relabelled for parameter `name`.
Result<double> extract_float_argument(PyObject* object, const char* name);
Result<std::vector<double>> extract_float_sequence_argument(PyObject* object, const char* name);

// A new list of floats, a new float, or RuntimeError with the model's message.
Result<PyRef> into_python(numerics::Fallible<std::vector<double>> outcome);
Result<PyRef> into_python(numerics::Fallible<double> outcome);

}  // namespace corvanis
