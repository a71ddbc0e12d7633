#include "convert.hpp"

#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>

namespace corvanis {
namespace {

// Drops a pending exception that only made an optional step fail; a pending
// PanicException still resumes its panic.
void discard_pending() {
    (void)Error::fetch();
}

bool is_native_double(const char* format) {
    std::string_view f = format == nullptr ? "B" : format;
    if (f == "d" || f == "@d" || f == "=d") {
        return true;
    }
#if PY_LITTLE_ENDIAN
    return f == "<d";
#else
    return f == ">d" || f == "!d";
#endif
}

class BufferView {
public:
    BufferView() noexcept = default;
    BufferView(const BufferView&) = delete;
    BufferView& operator=(const BufferView&) = delete;
    ~BufferView() {
        if (acquired_ && holds_gil()) {
            PyBuffer_Release(&view_);
        }
    }
    bool acquire(PyObject* object, int flags) {
        acquired_ = PyObject_GetBuffer(object, &view_, flags) == 0;
        return acquired_;
    }
    const Py_buffer& operator*() const noexcept { return view_; }

private:
    Py_buffer view_{};
    bool acquired_ = false;
};

// The attribute `name` of the module `module` if that module is in sys.modules;
// nothing is imported and no attribute hook runs.
PyObject* loaded_module_attribute(const char* module, const char* name) {
    PyObject* loaded = PyDict_GetItemString(PyImport_GetModuleDict(), module);
    if (loaded == nullptr || !PyModule_Check(loaded)) {
        return nullptr;
    }
    return PyDict_GetItemString(PyModule_GetDict(loaded), name);
}

// Exact numpy.ndarray, array.array and memoryview objects yield the values of
// their buffer as their elements. A subclass may not (a masked array, an own
// __iter__), so it is read element by element whatever its memory layout.
bool has_plain_buffer_type(PyObject* object) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(object));
    return type == reinterpret_cast<PyObject*>(&PyMemoryView_Type) ||
           type == loaded_module_attribute("numpy", "ndarray") ||
           type == loaded_module_attribute("array", "array");
}

// Reads a C-contiguous one-dimensional buffer of native doubles (a float64
// array, array('d'), a memoryview of one) in one copy, without a Python call
// per element. Nothing (take the element path) for any other object, strided
// views and bytes included. A buffer whose length disagrees with its shape is
// refused with BufferError: copying by its shape could read past the memory
// its exporter reported, and so would iterating a memoryview of it.
std::optional<Result<std::vector<double>>> read_double_buffer(PyObject* object) {
    if (!PyObject_CheckBuffer(object) || !has_plain_buffer_type(object)) {
        return std::nullopt;
    }
    BufferView buffer;
    if (!buffer.acquire(object, PyBUF_RECORDS_RO)) {
        discard_pending();
        return std::nullopt;
    }
    const Py_buffer& view = *buffer;
    if (view.ndim != 1 || view.itemsize != sizeof(double) || view.suboffsets != nullptr ||
        !is_native_double(view.format) || !PyBuffer_IsContiguous(&view, 'C')) {
        return std::nullopt;
    }
    const Py_ssize_t count = view.shape[0];
    if (count < 0 || count > PY_SSIZE_T_MAX / view.itemsize || view.len != count * view.itemsize) {
        return Error::lazy(PyExc_BufferError, "buffer length does not match its shape");
    }
    std::vector<double> values(static_cast<size_t>(count));
    if (!values.empty()) {
        std::memcpy(values.data(), view.buf, values.size() * sizeof(double));
    }
    return values;
}

// The reported length is only a hint: a reservation the allocator refuses is
// skipped and the array grows as items arrive, but one larger than any
// allocation can be is a fault of the reported length.
void reserve_hint(std::vector<double>& values, Py_ssize_t hint) {
    constexpr auto max_elements = static_cast<size_t>(PTRDIFF_MAX) / sizeof(double);
    if (static_cast<size_t>(hint) > max_elements) {
        panic("capacity overflow");
    }
    try {
        values.reserve(static_cast<size_t>(hint));
    } catch (const std::bad_alloc&) {
    }
}

// A failed list or float creation: MemoryError is passed on; anything else is
// unexpected from the interpreter.
Error api_call_failed(SourceLocation where = SourceLocation::current()) {
    if (PyErr_ExceptionMatches(PyExc_MemoryError)) {
        return Error::fetch();
    }
    PyErr_Print();
    panic("Python API call failed", where);
}

}  // namespace

Result<double> extract_float(PyObject* object) {
    if (PyFloat_CheckExact(object)) {
        return PyFloat_AS_DOUBLE(object);
    }
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) {
        return Error::fetch();
    }
    return value;
}

Result<std::vector<double>> extract_float_sequence(PyObject* object) {
    if (PyUnicode_Check(object)) {
        return Error::lazy(PyExc_TypeError, "Can't extract `str` to `Vec`");
    }
    if (!PySequence_Check(object)) {
        return downcast_error(object, "Sequence");
    }
    if (auto values = read_double_buffer(object)) {
        return std::move(*values);
    }

    Py_ssize_t hint = PySequence_Size(object);
    if (hint == -1) {
        discard_pending();
        hint = 0;
    }
    std::vector<double> values;
    reserve_hint(values, hint);

    PyRef iterator(PyObject_GetIter(object));
    if (!iterator) {
        return Error::fetch();
    }
    while (PyRef item{PyIter_Next(iterator.get())}) {
        Result<double> value = extract_float(item.get());
        if (!value.ok()) {
            return std::move(value.error());
        }
        values.push_back(*value);
    }
    if (PyErr_Occurred()) {
        return Error::fetch();
    }
    return values;
}

Error argument_extraction_error(const char* name, Error error) {
    if (error.type() != PyExc_TypeError) {
        return error;
    }
    PyObject* value = error.value() != nullptr ? error.value() : Py_None;
    PyRef message(PyUnicode_FromFormat("argument '%s': %S", name, value));
    if (!message) {
        return Error::fetch();
    }
    PyRef relabelled(PyObject_CallOneArg(PyExc_TypeError, message.get()));
    if (!relabelled) {
        return Error::fetch();
    }
    PyObject* cause = error.is_lazy() ? nullptr : PyException_GetCause(error.value());
    PyException_SetCause(relabelled.get(), cause);  // steals cause
    return Error::fetched(PyRef::borrow(PyExc_TypeError), std::move(relabelled), PyRef());
}

Result<double> extract_float_argument(PyObject* object, const char* name) {
    Result<double> value = extract_float(object);
    if (!value.ok()) {
        return argument_extraction_error(name, std::move(value.error()));
    }
    return value;
}

Result<std::vector<double>> extract_float_sequence_argument(PyObject* object, const char* name) {
    Result<std::vector<double>> values = extract_float_sequence(object);
    if (!values.ok()) {
        return argument_extraction_error(name, std::move(values.error()));
    }
    return values;
}

Result<PyRef> into_python(numerics::Fallible<std::vector<double>> outcome) {
    if (!outcome.ok()) {
        return Error::lazy(PyExc_RuntimeError, outcome.error);
    }
    const std::vector<double>& values = outcome.value;
    PyRef list(PyList_New(static_cast<Py_ssize_t>(values.size())));
    if (!list) {
        return api_call_failed();
    }
    for (size_t i = 0; i < values.size(); ++i) {
        PyObject* item = PyFloat_FromDouble(values[i]);
        if (item == nullptr) {
            return api_call_failed();
        }
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list;
}

Result<PyRef> into_python(numerics::Fallible<double> outcome) {
    if (!outcome.ok()) {
        return Error::lazy(PyExc_RuntimeError, outcome.error);
    }
    PyRef number(PyFloat_FromDouble(outcome.value));
    if (!number) {
        return api_call_failed();
    }
    return number;
}

}  // namespace corvanis
