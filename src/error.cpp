#include "error.hpp"

#include <cstdio>
#include <string>

namespace corvanis {
namespace {

constexpr const char* panic_exception_doc =
    "\n"
    "Raised when the compiled code of this module, called from Python, panics.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

constexpr const char* no_message_text = "panic in compiled module code without a message";

PyObject* panic_exception = nullptr;  // written once, with the GIL held

// str(object) as UTF-8; nullopt (and no pending exception) if that fails.
std::optional<std::string> str_utf8(PyObject* object) {
    PyRef text(PyObject_Str(object));
    if (text) {
        Py_ssize_t size = 0;
        if (const char* bytes = PyUnicode_AsUTF8AndSize(text.get(), &size)) {
            return std::string(bytes, static_cast<size_t>(size));
        }
    }
    PyErr_Clear();
    return std::nullopt;
}

}  // namespace

Error Error::lazy(PyObject* type, std::string_view message) {
    // Undecodable bytes (from a foreign exception's what()) become U+FFFD.
    PyRef text(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()),
                                    "replace"));
    if (!text) {
        return fetch();
    }
    return lazy(type, std::move(text));
}

Error Error::lazy(PyObject* type, PyRef message) {
    return Error(PyRef::borrow(type), std::move(message), PyRef(), true);
}

Error Error::fetched(PyRef type, PyRef value, PyRef traceback) noexcept {
    return Error(std::move(type), std::move(value), std::move(traceback), false);
}

Error Error::fetch(SourceLocation where) {
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
#if PY_VERSION_HEX >= 0x030C0000
    value = PyErr_GetRaisedException();
    if (value != nullptr) {
        type = reinterpret_cast<PyObject*>(Py_TYPE(value));
        Py_INCREF(type);
        traceback = PyException_GetTraceback(value);
    }
#else
    PyErr_Fetch(&type, &value, &traceback);
    if (type != nullptr) {
        // Relabelling reads str() and __cause__ of the instance, so make one now.
        PyErr_NormalizeException(&type, &value, &traceback);
    }
#endif
    if (type == nullptr) {
        Py_XDECREF(value);
        Py_XDECREF(traceback);
        return lazy(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    Error error = fetched(PyRef(type), PyRef(value), PyRef(traceback));
    if (type != panic_exception_type()) {
        return error;
    }

    // A panic that went through Python code and came back: print it where it
    // was caught and carry on as a panic with the same message.
    std::string message = "Unwrapped panic from Python code";
    if (value != nullptr) {
        if (auto text = str_utf8(value)) {
            message = std::move(*text);
        }
    }
    std::fputs("--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
               "Python stack trace below:\n",
               stderr);
    std::fflush(stderr);
    std::move(error).restore();
    PyErr_PrintEx(0);
    throw Panic(std::move(message), where);
}

void Error::restore() && noexcept {
    if (!lazy_) {
        PyErr_Restore(type_.release(), value_.release(), traceback_.release());
        return;
    }
    if (type_.get() == panic_exception) {
        PyRef args(PyTuple_Pack(1, value_.get()));
        if (args) {
            PyErr_SetObject(type_.get(), args.get());
        }
        return;
    }
    PyErr_SetObject(type_.get(), value_.get());
}

PyObject* panic_exception_type() {
    if (panic_exception == nullptr) {
        panic_exception = PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException",
                                                    panic_exception_doc, PyExc_BaseException,
                                                    nullptr);
        if (panic_exception == nullptr) {
            PyErr_Clear();
            panic("Failed to initialize new exception type.");
        }
    }
    return panic_exception;
}

Error from_panic_payload(const Panic& payload) {
    PyObject* type = panic_exception_type();
    return Error::lazy(type, payload.has_message() ? std::string_view(payload.message())
                                                 : std::string_view(no_message_text));
}

Error downcast_error(PyObject* object, const char* target) {
    std::string name = "<failed to extract type name>";
    PyRef qualname(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)),
                                          "__qualname__"));
    // The text of the str itself: a subclass's own __str__ is not asked.
    Py_ssize_t size = 0;
    const char* text = qualname && PyUnicode_Check(qualname.get())
                           ? PyUnicode_AsUTF8AndSize(qualname.get(), &size)
                           : nullptr;
    if (text != nullptr) {
        name.assign(text, static_cast<size_t>(size));
    } else {
        PyErr_Clear();
    }
    return Error::lazy(PyExc_TypeError,
                       "'" + name + "' object cannot be converted to '" + target + "'");
}

}  // namespace corvanis
