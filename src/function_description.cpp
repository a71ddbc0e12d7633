#include "function_description.hpp"

#include <cstring>
#include <vector>

namespace corvanis {
namespace {

Error too_many_positional_arguments(const FunctionDescription& description, Py_ssize_t given) {
    return Error::lazy(PyExc_TypeError,
                       description.full_name() + " takes " +
                           std::to_string(description.parameters.size()) +
                           " positional arguments but " + std::to_string(given) +
                           " were given");
}

Error unexpected_keyword_argument(const FunctionDescription& description, PyObject* keyword) {
    // %S is str() of the keyword, which may hold text that UTF-8 cannot carry.
    PyRef message(PyUnicode_FromFormat("%s got an unexpected keyword argument '%S'",
                                       description.full_name().c_str(), keyword));
    if (!message) {
        return Error::fetch();
    }
    return Error::lazy(PyExc_TypeError, std::move(message));
}

Error multiple_values_for_argument(const FunctionDescription& description, const char* name) {
    return Error::lazy(PyExc_TypeError, description.full_name() +
                                            " got multiple values for argument '" + name + "'");
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
void push_parameter_list(std::string& message, const std::vector<const char*>& names) {
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            if (names.size() > 2) {
                message += ',';
            }
            message += i == names.size() - 1 ? " and " : " ";
        }
        message += '\'';
        message += names[i];
        message += '\'';
    }
}

Error missing_required_positional_arguments(const FunctionDescription& description,
                                            std::span<PyObject* const> slots) {
    std::vector<const char*> missing;
    for (size_t i = 0; i < slots.size(); ++i) {
        if (slots[i] == nullptr) {
            missing.push_back(description.parameters[i]);
        }
    }
    std::string message = description.full_name() + " missing " +
                          std::to_string(missing.size()) + " required positional argument" +
                          (missing.size() == 1 ? ": " : "s: ");
    push_parameter_list(message, missing);
    return Error::lazy(PyExc_TypeError, message);
}

}  // namespace

Status extract_arguments_fastcall(const FunctionDescription& description,
                                  PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                                  std::span<PyObject*> slots) {
    const auto parameter_count = static_cast<Py_ssize_t>(description.parameters.size());
    for (Py_ssize_t i = 0; i < nargs && i < parameter_count; ++i) {
        slots[i] = args[i];
    }
    if (nargs > parameter_count) {
        return too_many_positional_arguments(description, nargs);
    }

    const Py_ssize_t keyword_count = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < keyword_count; ++k) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
        Py_ssize_t size = 0;
        const char* text = PyUnicode_AsUTF8AndSize(keyword, &size);
        if (text == nullptr) {
            PyErr_Clear();
            return unexpected_keyword_argument(description, keyword);
        }
        Py_ssize_t index = 0;
        while (index < parameter_count &&
               !(std::strlen(description.parameters[index]) == static_cast<size_t>(size) &&
                 std::memcmp(description.parameters[index], text, size) == 0)) {
            ++index;
        }
        if (index == parameter_count) {
            return unexpected_keyword_argument(description, keyword);
        }
        if (slots[index] != nullptr) {
            return multiple_values_for_argument(description, description.parameters[index]);
        }
        slots[index] = args[nargs + k];
    }

    for (Py_ssize_t i = nargs; i < parameter_count; ++i) {
        if (slots[i] == nullptr) {
            return missing_required_positional_arguments(description, slots);
        }
    }
    return std::nullopt;
}

}  // namespace corvanis
