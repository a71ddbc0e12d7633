// The module object: its definition, the table of functions, the initialiser
// and the exported PyInit_corvanis.
#include <Python.h>

#include <atomic>
#include <cstdint>
#include <iterator>

#include "error.hpp"
#include "functions.hpp"
#include "py_ref.hpp"
#include "trampoline.hpp"

namespace corvanis {
namespace {

PyMethodDef method(const char* name, EntryPoint* entry, const char* text_signature) {
    // METH_FASTCALL | METH_KEYWORDS entries are stored as PyCFunction; the cast
    // through void(*)() keeps the compiler from warning about it.
    return PyMethodDef{name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry)),
                       METH_FASTCALL | METH_KEYWORDS, text_signature};
}

// Registration order; every function object refers to its record, so the
// records live until the process ends.
PyMethodDef methods[] = {
    method("witt_mao_magnification", __pyfunction_witt_mao_magnification,
           "witt_mao_magnification(l, re, rstar)\n--\n\n"),
    method("integrated_witt_mao_magnification", __pyfunction_integrated_witt_mao_magnification,
           "integrated_witt_mao_magnification(l, re, rstar)\n--\n\n"),
    method("integrated_flux_map_witt_mao_magnification",
           __pyfunction_integrated_flux_map_witt_mao_magnification,
           "integrated_flux_map_witt_mao_magnification(l, re, rstar, bl, bf)\n--\n\n"),
    method("heyrovsky_magnification", __pyfunction_heyrovsky_magnification,
           "heyrovsky_magnification(l, r, re, rstar)\n--\n\n"),
    method("integrated_heyrovsky_magnification", __pyfunction_integrated_heyrovsky_magnification,
           "integrated_heyrovsky_magnification(l, re, rstar)\n--\n\n"),
    method("integrated_flux_map_heyrovsky_magnification",
           __pyfunction_integrated_flux_map_heyrovsky_magnification,
           "integrated_flux_map_heyrovsky_magnification(l, re, rstar, bl, bf)\n--\n\n"),
    method("discrete_flux_map_heyrovsky_magnification",
           __pyfunction_discrete_flux_map_heyrovsky_magnification,
           "discrete_flux_map_heyrovsky_magnification(l, re, rstar, bl, bf)\n--\n\n"),
};

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
    for (PyMethodDef& def : methods) {
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
