// corvanis_fspl._core: the compiled core behind the corvanis_fspl package.
// One function, called by the Python layer with validated, contiguous float64
// and int64 arrays; it computes with the GIL released and writes into `out`.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cxxabi.h>

#include <cstdint>
#include <exception>
#include <new>
#include <vector>

#include "finite_source.hpp"
#include "parallel/parallel_for.hpp"
#include "parallel/thread_budget.hpp"

namespace {

// A buffer borrowed for the call, released on every path.
struct Buffer {
    Py_buffer view{};
    bool held = false;
    ~Buffer() {
        if (held) PyBuffer_Release(&view);
    }
    template <class T>
    const T* data() const { return static_cast<const T*>(view.buf); }
    template <class T>
    Py_ssize_t count() const { return view.len / static_cast<Py_ssize_t>(sizeof(T)); }
};

bool get_buffer(PyObject* object, Buffer& buffer, bool writable, const char* name) {
    const int flags = writable ? PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS : PyBUF_C_CONTIGUOUS;
    if (PyObject_GetBuffer(object, &buffer.view, flags) != 0) return false;
    buffer.held = true;
    if (buffer.view.len % 8 != 0) {
        PyErr_Format(PyExc_ValueError, "%s: buffer of %zd bytes is not of 8-byte items", name, buffer.view.len);
        return false;
    }
    return true;
}

// Epochs cost about this much each on average (near the source a few
// microseconds, far from it a fraction of one): the basis of the split.
constexpr double epoch_ns = 1500.0;

// Both entry points: the laws' magnifications into out[law, epoch], or (per
// basis) N_j, dN_j/du and dN_j/drho into out[quantity, basis, epoch].
PyObject* compute(PyObject* const* args, Py_ssize_t nargs, bool per_basis) {
    constexpr Py_ssize_t expected = 12;
    if (nargs != expected) {
        PyErr_Format(PyExc_TypeError, "takes %zd arguments (%zd given)", expected, nargs);
        return nullptr;
    }
    Buffer u, rho, kinds, exponents, fluxes, moments, offsets, breaks, values, slopes, weights, out;
    Buffer* read[] = {&u, &rho, &kinds, &exponents, &fluxes, &moments, &offsets, &breaks, &values, &slopes, &weights};
    const char* names[] = {"u", "rho", "kinds", "exponents", "fluxes", "moments", "offsets", "breaks", "values", "slopes", "weights"};
    for (int i = 0; i < 11; ++i) {
        if (!get_buffer(args[i], *read[i], false, names[i])) return nullptr;
    }
    if (!get_buffer(args[11], out, true, "out")) return nullptr;
    // rtol travels as the last element of `weights`.
    const Py_ssize_t n = u.count<double>();
    const Py_ssize_t nb = kinds.count<std::int64_t>();
    const Py_ssize_t nw = weights.count<double>() - 1;
    if ((rho.count<double>() != n && rho.count<double>() != 1) || exponents.count<double>() != nb || fluxes.count<double>() != nb ||
        offsets.count<std::int64_t>() != nb + 1 || nb == 0 || nw <= 0 || nw % nb != 0 ||
        moments.count<double>() % nb != 0 || values.count<double>() != breaks.count<double>() ||
        slopes.count<double>() != breaks.count<double>() ||
        out.count<double>() != (per_basis ? 3 * nb : nw / nb) * n) {
        PyErr_SetString(PyExc_ValueError, "inconsistent array sizes");
        return nullptr;
    }
    const std::size_t laws = static_cast<std::size_t>(nw / nb);
    const std::size_t terms = static_cast<std::size_t>(moments.count<double>() / nb);
    const double rtol = weights.data<double>()[nw];
    const auto* off = offsets.data<std::int64_t>();
    for (Py_ssize_t j = 0; j < nb; ++j) {
        if (off[j] < 0 || off[j + 1] < off[j] || off[j + 1] > breaks.count<double>()) {
            PyErr_SetString(PyExc_ValueError, "table offsets out of range");
            return nullptr;
        }
    }

    PyObject* error_type = nullptr;
    const char* error_text = nullptr;
    PyThreadState* state = PyEval_SaveThread();
    try {
        std::vector<fspl::Basis> bases(static_cast<std::size_t>(nb));
        for (Py_ssize_t j = 0; j < nb; ++j) {
            fspl::Basis& b = bases[static_cast<std::size_t>(j)];
            b.kind = static_cast<fspl::BasisKind>(kinds.data<std::int64_t>()[j]);
            b.exponent = exponents.data<double>()[j];
            b.flux = fluxes.data<double>()[j];
            b.moments = {moments.data<double>() + j * static_cast<Py_ssize_t>(terms), terms};
            const auto first = static_cast<std::size_t>(off[j]);
            const auto size = static_cast<std::size_t>(off[j + 1] - off[j]);
            b.breaks = {breaks.data<double>() + first, size};
            b.values = {values.data<double>() + first, size};
            b.slopes = {slopes.data<double>() + first, size};
        }
        std::vector<double> law_flux(laws, 0.0);
        for (std::size_t l = 0; l < laws; ++l) {
            for (std::size_t j = 0; j < bases.size(); ++j) {
                law_flux[l] += weights.data<double>()[l * bases.size() + j] * bases[j].flux;
            }
        }
        std::vector<double> law_moments(laws * terms, 0.0);
        for (std::size_t l = 0; l < laws; ++l) {
            for (std::size_t j = 0; j < bases.size(); ++j) {
                const double w = weights.data<double>()[l * bases.size() + j] * bases[j].flux / law_flux[l];
                for (std::size_t k = 0; k < terms; ++k) law_moments[l * terms + k] += w * bases[j].moments[k];
            }
        }
        const fspl::LawSet set{bases, {weights.data<double>(), static_cast<std::size_t>(nw)}, laws,
                               law_flux,  law_moments, terms};
        const double* pu = u.data<double>();
        const double* prho = rho.data<double>();
        const std::size_t rho_step = rho.count<double>() == 1 ? 0 : 1;  // one radius for all
        double* pout = static_cast<double*>(out.view.buf);
        const auto count = static_cast<std::size_t>(n);
        corvanis::parallel::parallel_for(
            count, corvanis::parallel::split_grain(count, epoch_ns * (per_basis ? 2.0 : 1.0)),
            [&](std::size_t begin, std::size_t end) {
                fspl::Workspace ws;
                const std::size_t rows = per_basis ? 3 * bases.size() : laws;
                std::vector<double> row(rows);
                for (std::size_t i = begin; i < end; ++i) {
                    if (per_basis) {
                        fspl::basis_magnifications(pu[i], prho[i * rho_step], set, rtol, true, ws, row.data());
                    } else {
                        fspl::magnification(pu[i], prho[i * rho_step], set, rtol, ws, row.data());
                    }
                    for (std::size_t r = 0; r < rows; ++r) pout[r * count + i] = row[r];
                }
            });
    } catch (abi::__forced_unwind&) {
        throw;  // the thread is being cancelled: let the C library finish it
    } catch (const std::bad_alloc&) {
        error_type = PyExc_MemoryError;
    } catch (const std::exception& e) {
        error_type = PyExc_RuntimeError;
        error_text = "internal error in corvanis_fspl";
    }
    PyEval_RestoreThread(state);
    if (error_type != nullptr) {
        if (error_text) PyErr_SetString(error_type, error_text);
        else PyErr_NoMemory();
        return nullptr;
    }
    Py_RETURN_NONE;
}

PyObject* magnification(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return compute(args, nargs, false);
}

PyObject* basis_magnifications(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return compute(args, nargs, true);
}

PyObject* thread_count(PyObject*, PyObject*) {
    return PyLong_FromSize_t(corvanis::parallel::thread_count());
}

PyMethodDef methods[] = {
    {"magnification", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&magnification)),
     METH_FASTCALL, "magnification(u, rho, kinds, exponents, fluxes, moments, offsets, breaks, values, "
                    "slopes, weights_and_rtol, out)\n--\n\nThe compiled core of corvanis_fspl.magnification."},
    {"basis_magnifications",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&basis_magnifications)), METH_FASTCALL,
     "basis_magnifications(u, rho, kinds, exponents, fluxes, moments, offsets, breaks, values, "
     "slopes, weights_and_rtol, out)\n--\n\nPer basis: N, dN/du and dN/drho into out[3, bases, epochs]."},
    {"thread_count", thread_count, METH_NOARGS, "Threads a call may use."},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject*) {
    const auto configuration = corvanis::parallel::configure_threads_from_environment();
    if (configuration.ignored_variable != nullptr &&
        PyErr_WarnFormat(PyExc_RuntimeWarning, 1, "ignoring invalid %s; calls use %zu threads",
                         configuration.ignored_variable, configuration.threads) != 0) {
        return -1;
    }
    return 0;
}

PyModuleDef_Slot slots[] = {{Py_mod_exec, reinterpret_cast<void*>(&exec_module)}, {0, nullptr}};

PyModuleDef module_def = {PyModuleDef_HEAD_INIT, "_core", "The compiled core of corvanis_fspl.", 0,
                          methods, slots, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit__core() { return PyModuleDef_Init(&module_def); }
