// The module object: its definition, the method records built from the
// function table, the initialiser and the exported PyInit_corvanis.
#include <Python.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>

#include "call_model.hpp"
#include "error.hpp"
#include "function_table.hpp"
#include "parallel/thread_budget.hpp"
#include "py_ref.hpp"
#include "trampoline.hpp"

namespace corvanis {
namespace {

// The entry point of the I-th function of the table: fast call with keywords,
// the whole call inside the boundary frame.
template <std::size_t I>
PyObject* entry_point(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return trampoline([&] { return call_model(std::get<I>(FUNCTIONS), args, nargs, kwnames); });
}

// "name(p1, p2)\n--\n\n": the docstring is the text signature alone.
template <class Row>
std::string text_signature(const Row& row) {
    std::string text = std::string(row.name) + "(";
    for (std::size_t i = 0; i < row.parameters.size(); ++i) {
        text += (i == 0 ? "" : ", ");
        text += row.parameters[i];
    }
    return text + ")\n--\n\n";
}

// The method records, in registration order, built once from the table. Every
// function object refers to its record (and the record to its signature), so
// they stay in place until the process ends.
class MethodRecords {
public:
    MethodRecords() : MethodRecords(std::make_index_sequence<FUNCTION_COUNT>{}) {}
    MethodRecords(const MethodRecords&) = delete;
    MethodRecords& operator=(const MethodRecords&) = delete;

    std::array<PyMethodDef, FUNCTION_COUNT>& methods() { return methods_; }

private:
    // METH_FASTCALL | METH_KEYWORDS entries are stored as PyCFunction; the cast
    // through void(*)() keeps the compiler from warning about it.
    template <std::size_t... I>
    explicit MethodRecords(std::index_sequence<I...>)
        : signatures_{text_signature(std::get<I>(FUNCTIONS))...},
          methods_{PyMethodDef{
              std::get<I>(FUNCTIONS).name,
              reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&entry_point<I>)),
              METH_FASTCALL | METH_KEYWORDS, signatures_[I].c_str()}...} {}

    std::array<std::string, FUNCTION_COUNT> signatures_;
    std::array<PyMethodDef, FUNCTION_COUNT> methods_;
};

std::array<PyMethodDef, FUNCTION_COUNT>& method_records() {
    static MethodRecords records;
    return records.methods();
}

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "corvanis",
    "Finite-source point-lens magnifications, a Python module implemented in C++.",
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The first interpreter to initialise the module owns it for the process.
std::atomic<int64_t> interpreter_id{-1};
PyObject* cached_module = nullptr;  // written once, with the GIL held

constexpr const char* subinterpreter_message =
    "PyO3 modules do not yet support subinterpreters, see "
    "https://docs.python.org/3/c-api/init.html#sub-interpreter-support";

Result<PyRef> new_function(PyMethodDef* def, PyObject* module) {
    PyRef module_name(PyModule_GetNameObject(module));
    if (!module_name) {
        return Error::fetch();
    }
    PyRef function(PyCMethod_New(def, module, module_name.get(), nullptr));
    if (!function) {
        return Error::fetch();
    }
    return function;
}

// The module's __all__, created empty if absent.
Result<PyRef> all_list(PyObject* module) {
    PyRef all(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        Error error = Error::fetch();
        if (!PyErr_GivenExceptionMatches(error.type(), PyExc_AttributeError)) {
            return error;
        }
        PyRef list(PyList_New(0));
        if (!list || PyObject_SetAttrString(module, "__all__", list.get()) != 0) {
            return Error::fetch();
        }
        return list;
    }
    if (!PyList_Check(all.get())) {
        return downcast_error(all.get(), "PyList");
    }
    return all;
}

Status add_function(PyObject* module, PyObject* function) {
    PyRef name(PyObject_GetAttrString(function, "__name__"));
    if (!name) {
        return Error::fetch();
    }
    if (!PyUnicode_Check(name.get())) {
        return downcast_error(name.get(), "PyString");
    }
    auto all = all_list(module);
    if (!all.ok()) {
        return std::move(all.error());
    }
    if (PyList_Append(all->get(), name.get()) != 0) {
        PyErr_Clear();
        panic("could not append __name__ to __all__");
    }
    if (PyObject_SetAttr(module, name.get(), function) != 0) {
        return Error::fetch();
    }
    return std::nullopt;
}

// The initialiser: adds the functions in registration order.
Status initialise(PyObject* module) {
    for (PyMethodDef& def : method_records()) {
        auto function = new_function(&def, module);
        if (!function.ok()) {
            return std::move(function.error());
        }
        if (Status error = add_function(module, function->get())) {
            return error;
        }
    }
    return std::nullopt;
}

// The thread budget of every call, from the environment, read once with the
// GIL held. An invalid value is ignored, with a warning.
Status configure_threads() {
    const parallel::ThreadConfiguration configuration =
        parallel::configure_threads_from_environment();
    if (configuration.ignored_variable != nullptr &&
        PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                         "corvanis: %s is not a whole number from 1 to %zu and is ignored; "
                         "calls use %zu %s",
                         configuration.ignored_variable, parallel::max_threads,
                         configuration.threads,
                         configuration.threads == 1 ? "thread" : "threads") != 0) {
        return Error::fetch();
    }
    return std::nullopt;
}

Result<PyRef> make_module() {
    const int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) {
        return Error::fetch();
    }
    int64_t expected = -1;
    if (!interpreter_id.compare_exchange_strong(expected, id, std::memory_order_seq_cst) &&
        expected != id) {
        return Error::lazy(PyExc_ImportError, subinterpreter_message);
    }
    if (cached_module != nullptr) {
        return PyRef::borrow(cached_module);
    }
    read_backtrace_setting();
    if (Status error = configure_threads()) {
        return std::move(*error);
    }
    PyRef module(PyModule_Create2(&module_def, 1013));
    if (!module) {
        return Error::fetch();
    }
    if (Status error = initialise(module.get())) {
        return std::move(*error);
    }
    cached_module = module.release();
    return PyRef::borrow(cached_module);
}

}  // namespace
}  // namespace corvanis

PyMODINIT_FUNC PyInit_corvanis() {
    return corvanis::trampoline(corvanis::make_module);
}
