// Entry points of the module's seven functions, fast call with keywords.
#pragma once

#include <Python.h>

namespace corvanis {

// Not noexcept: the forced unwind that ends a thread must pass through them.
using EntryPoint = PyObject*(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames);

EntryPoint __pyfunction_witt_mao_magnification;
EntryPoint __pyfunction_integrated_witt_mao_magnification;
EntryPoint __pyfunction_integrated_flux_map_witt_mao_magnification;
EntryPoint __pyfunction_heyrovsky_magnification;
EntryPoint __pyfunction_integrated_heyrovsky_magnification;
EntryPoint __pyfunction_integrated_flux_map_heyrovsky_magnification;
EntryPoint __pyfunction_discrete_flux_map_heyrovsky_magnification;

}  // namespace corvanis
