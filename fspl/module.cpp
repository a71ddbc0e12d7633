// corvanis_fspl._core: the compiled core behind the corvanis_fspl package.
// One function, called by the Python layer with validated, contiguous float64
// and int64 arrays; it computes with the GIL released and writes into `out`.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>
#include <cmath>
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

// What an epoch costs, about, on one core: near the source (u < 2 rho) a
// few microseconds, far from it a tenth of one; with derivatives about twice
// as much. The split over threads is sized from their sum.
constexpr double near_epoch_ns = 3000.0;
constexpr double far_epoch_ns = 100.0;
// Work per chunk of epochs.
constexpr double chunk_ns = 100'000.0;

// Epochs per chunk: the pool's grain, made longer so that each chunk's
// workspace (allocated per chunk) costs little beside its work, but short
// enough for eight chunks per thread, which keeps the threads' loads even
// when the costly epochs near the source come together.
std::size_t chunk_length(std::size_t count, double epoch_ns) {
    namespace parallel = corvanis::parallel;
    const std::size_t grain = parallel::split_grain(count, epoch_ns);
    if (grain >= count) return count;
    const auto floor = static_cast<std::size_t>(std::ceil(chunk_ns / epoch_ns));
    const std::size_t balanced = count / (32 * parallel::thread_count()) + 1;
    return std::max(grain, std::min(floor, balanced));
}

// A rectilinear trajectory: u = sqrt(u0^2 + ((t - t0)/tE)^2), formed per
// epoch inside the parallel loop.
struct Trajectory {
    double t0, u0, tE;
    double u(double t) const noexcept {
        const double tau = (t - t0) / tE;
        return std::sqrt(u0 * u0 + tau * tau);
    }
};

// The entry points: each row's magnification into out[row, epoch], or with
// derivatives each row's flux-weighted sum and its derivatives in u and rho
// into out[quantity, row, epoch]. The first argument holds u, or with a
// trajectory (three more arguments: t0, u0, tE) the times.
PyObject* compute(PyObject* const* args, Py_ssize_t nargs, bool derivatives, bool trajectory = false) {
    const Py_ssize_t expected = trajectory ? 17 : 14;
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
    const double rtol = PyFloat_AsDouble(args[11]);
    if (rtol == -1.0 && PyErr_Occurred()) return nullptr;
    const Py_ssize_t checked_rows = PyLong_AsSsize_t(args[12]);
    if (checked_rows == -1 && PyErr_Occurred()) return nullptr;
    if (!get_buffer(args[13], out, true, "out")) return nullptr;
    Trajectory path{0.0, 0.0, 1.0};
    if (trajectory) {
        path = {PyFloat_AsDouble(args[14]), PyFloat_AsDouble(args[15]), PyFloat_AsDouble(args[16])};
        if (PyErr_Occurred()) return nullptr;
    }
    const Py_ssize_t n = u.count<double>();
    const Py_ssize_t nb = kinds.count<std::int64_t>();
    const Py_ssize_t nw = weights.count<double>();
    if ((rho.count<double>() != n && rho.count<double>() != 1) || exponents.count<double>() != nb || fluxes.count<double>() != nb ||
        offsets.count<std::int64_t>() != nb + 1 || nb == 0 || nw <= 0 || nw % nb != 0 ||
        moments.count<double>() % nb != 0 || values.count<double>() != breaks.count<double>() ||
        slopes.count<double>() != breaks.count<double>() ||
        checked_rows < 1 || checked_rows > nw / nb ||
        out.count<double>() != (derivatives ? (trajectory ? 5 : 3) : 1) * (nw / nb) * n) {
        PyErr_SetString(PyExc_ValueError, "inconsistent array sizes");
        return nullptr;
    }
    const std::size_t laws = static_cast<std::size_t>(nw / nb);
    const std::size_t terms = static_cast<std::size_t>(moments.count<double>() / nb);
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
                const double w = weights.data<double>()[l * bases.size() + j] * bases[j].flux;
                if (w == 0.0) continue;
                for (std::size_t k = 0; k < terms; ++k) law_moments[l * terms + k] += w * bases[j].moments[k];
            }
        }
        const fspl::LawSet set{bases,    {weights.data<double>(), static_cast<std::size_t>(nw)},
                               laws,     static_cast<std::size_t>(checked_rows),
                               law_flux, law_moments,
                               terms};
        const double* pu = u.data<double>();
        const double* prho = rho.data<double>();
        const std::size_t rho_step = rho.count<double>() == 1 ? 0 : 1;  // one radius for all
        double* pout = static_cast<double*>(out.view.buf);
        const auto count = static_cast<std::size_t>(n);
        auto separation = [&](std::size_t i) { return trajectory ? path.u(pu[i]) : pu[i]; };
        // The work, estimated from every fourth epoch.
        double work_ns = 0.0;
        std::size_t sampled = 0;
        for (std::size_t i = 0; i < count; i += 4, ++sampled) {
            work_ns += separation(i) < fspl::far_field_start * prho[i * rho_step] ? near_epoch_ns : far_epoch_ns;
        }
        const double epoch_ns = (sampled > 0 ? work_ns / static_cast<double>(sampled) : 0.0) * (derivatives ? 2.0 : 1.0);
        corvanis::parallel::parallel_for(
            count, chunk_length(count, epoch_ns),
            [&](std::size_t begin, std::size_t end) {
                fspl::Workspace ws;
                const std::size_t rows = derivatives ? 3 * laws : laws;
                std::vector<double> row(rows);
                for (std::size_t i = begin; i < end; ++i) {
                    const double ui = separation(i);
                    if (!derivatives) {
                        fspl::magnification(ui, prho[i * rho_step], set, rtol, ws, row.data());
                        for (std::size_t r = 0; r < rows; ++r) pout[r * count + i] = row[r];
                        continue;
                    }
                    fspl::magnification_and_derivatives(ui, prho[i * rho_step], set, rtol, ws, row.data());
                    if (!trajectory) {
                        for (std::size_t r = 0; r < rows; ++r) pout[r * count + i] = row[r];
                        continue;
                    }
                    // d/dt0, d/du0, d/dtE through u: -tau/(tE u), u0/u, -tau^2/(tE u);
                    // at u = 0, where dA/du vanishes, all three are 0.
                    const double tau = (pu[i] - path.t0) / path.tE;
                    const double du[3] = {ui > 0 ? -tau / (path.tE * ui) : 0.0, ui > 0 ? path.u0 / ui : 0.0,
                                          ui > 0 ? -tau * tau / (path.tE * ui) : 0.0};
                    for (std::size_t r = 0; r < laws; ++r) {
                        pout[r * count + i] = row[r];
                        const double dA_du = row[laws + r];
                        for (std::size_t p = 0; p < 3; ++p) {
                            pout[((1 + p) * laws + r) * count + i] = ui > 0 ? dA_du * du[p] : 0.0;
                        }
                        pout[(4 * laws + r) * count + i] = row[2 * laws + r];
                    }
                }
            });
    } catch (const std::bad_alloc&) {
        error_type = PyExc_MemoryError;
    } catch (...) {
        // A cancelled thread unwinds without a C++ exception: let the C
        // library finish it.
        if (!std::current_exception()) throw;
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

PyObject* magnification_and_derivatives(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return compute(args, nargs, true);
}

PyObject* light_curve(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return compute(args, nargs, false, true);
}

PyObject* light_curve_and_derivatives(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return compute(args, nargs, true, true);
}

PyObject* thread_count(PyObject*, PyObject*) {
    return PyLong_FromSize_t(corvanis::parallel::thread_count());
}

PyMethodDef methods[] = {
    {"magnification", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&magnification)),
     METH_FASTCALL,
     "magnification(u, rho, kinds, exponents, fluxes, moments, offsets, breaks, values, slopes, "
     "weights, rtol, checked_rows, out)\n--\n\n"
     "Each row's magnification into out[row, epoch]; the rows are the laws' weights on the bases."},
    {"magnification_and_derivatives",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&magnification_and_derivatives)), METH_FASTCALL,
     "magnification_and_derivatives(u, rho, kinds, exponents, fluxes, moments, offsets, breaks, values, "
     "slopes, weights, rtol, checked_rows, out)\n--\n\n"
     "Each row's flux-weighted sum and its derivatives in u and rho into out[quantity, row, epoch]; "
     "the first checked_rows rows set the accuracy."},
    {"light_curve", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&light_curve)), METH_FASTCALL,
     "light_curve(t, rho, kinds, exponents, fluxes, moments, offsets, breaks, values, slopes, weights, "
     "rtol, checked_rows, out, t0, u0, tE)\n--\n\n"
     "magnification() along u = sqrt(u0^2 + ((t - t0)/tE)^2), formed per epoch."},
    {"light_curve_and_derivatives",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&light_curve_and_derivatives)), METH_FASTCALL,
     "light_curve_and_derivatives(t, rho, kinds, exponents, fluxes, moments, offsets, breaks, values, slopes, "
     "weights, rtol, checked_rows, out, t0, u0, tE)\n--\n\n"
     "magnification_and_derivatives() along the trajectory, with the derivatives in t0, u0, tE and rho "
     "into out[quantity, row, epoch] (quantities A, t0, u0, tE, rho)."},
    {"thread_count", thread_count, METH_NOARGS, "Threads a call may use."},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject*) {
    const auto configuration = corvanis::parallel::configure_threads_from_environment();
    if (configuration.ignored_variable != nullptr &&
        PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                         "corvanis_fspl: %s is not a whole number from 1 to %zu and is ignored; "
                         "calls use %zu %s",
                         configuration.ignored_variable, corvanis::parallel::max_threads,
                         configuration.threads, configuration.threads == 1 ? "thread" : "threads") != 0) {
        return -1;
    }
    return 0;
}

PyModuleDef_Slot slots[] = {{Py_mod_exec, reinterpret_cast<void*>(&exec_module)}, {0, nullptr}};

PyModuleDef module_def = {PyModuleDef_HEAD_INIT, "_core", "The compiled core of corvanis_fspl.", 0,
                          methods, slots, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit__core() { return PyModuleDef_Init(&module_def); }
