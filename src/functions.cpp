// Each entry point binds its arguments, converts them in parameter order,
// runs its model and converts the outcome, all inside the boundary frame.
#include "functions.hpp"

#include <vector>

#include "convert.hpp"
#include "function_description.hpp"
#include "gil.hpp"
#include "lib/models.hpp"
#include "trampoline.hpp"

namespace corvanis {
namespace {

constexpr const char* l_re_rstar[] = {"l", "re", "rstar"};
constexpr const char* l_re_rstar_bl_bf[] = {"l", "re", "rstar", "bl", "bf"};
constexpr const char* l_r_re_rstar[] = {"l", "r", "re", "rstar"};

// The GIL is released for the model only when its work outweighs the cost of
// handing the GIL over; the arguments are counts of separations and rings.
using WorthReleasing = bool (*)(size_t separations, size_t rings);

// A closed form costs a few elliptic integrals per separation.
bool many_separations(size_t separations, size_t) { return separations >= 32; }
// A quadrature costs hundreds of kernel calls per separation.
bool any_separation(size_t separations, size_t) { return separations >= 1; }
// The discrete flux map costs one ring magnification per separation and ring.
bool many_ring_terms(size_t separations, size_t rings) { return separations * rings >= 32; }

using SeparationModel = lib::Magnifications (*)(std::vector<double> l, double re, double rstar);
using FluxMapModel = lib::Magnifications (*)(std::vector<double> l, double re, double rstar,
                                             std::vector<double> bl, std::vector<double> bf);

// The leading arguments (l, re, rstar) shared by the list functions.
struct Separations {
    std::vector<double> l;
    double re;
    double rstar;
};

Result<Separations> extract_separations(PyObject* const* slots) {
    auto l = extract_float_sequence_argument(slots[0], "l");
    if (!l.ok()) {
        return std::move(l.error());
    }
    auto re = extract_float_argument(slots[1], "re");
    if (!re.ok()) {
        return std::move(re.error());
    }
    auto rstar = extract_float_argument(slots[2], "rstar");
    if (!rstar.ok()) {
        return std::move(rstar.error());
    }
    return Separations{std::move(*l), *re, *rstar};
}

// (l, re, rstar) -> list of float
Result<PyRef> call_separation_model(const FunctionDescription& description, SeparationModel model,
                                    WorthReleasing worth_releasing, PyObject* const* args,
                                    Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* slots[3] = {};
    if (Status error = extract_arguments_fastcall(description, args, nargs, kwnames, slots)) {
        return std::move(*error);
    }
    auto s = extract_separations(slots);
    if (!s.ok()) {
        return std::move(s.error());
    }
    lib::Magnifications outcome = without_gil(worth_releasing(s->l.size(), 0), [&] {
        return model(std::move(s->l), s->re, s->rstar);
    });
    return into_python(std::move(outcome));
}

// (l, re, rstar, bl, bf) -> list of float
Result<PyRef> call_flux_map_model(const FunctionDescription& description, FluxMapModel model,
                                  WorthReleasing worth_releasing, PyObject* const* args,
                                  Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* slots[5] = {};
    if (Status error = extract_arguments_fastcall(description, args, nargs, kwnames, slots)) {
        return std::move(*error);
    }
    auto s = extract_separations(slots);
    if (!s.ok()) {
        return std::move(s.error());
    }
    auto bl = extract_float_sequence_argument(slots[3], "bl");
    if (!bl.ok()) {
        return std::move(bl.error());
    }
    auto bf = extract_float_sequence_argument(slots[4], "bf");
    if (!bf.ok()) {
        return std::move(bf.error());
    }
    lib::Magnifications outcome = without_gil(worth_releasing(s->l.size(), bl->size()), [&] {
        return model(std::move(s->l), s->re, s->rstar, std::move(*bl), std::move(*bf));
    });
    return into_python(std::move(outcome));
}

// (l, r, re, rstar) -> float; one ring magnification is too short to release
// the GIL for.
Result<PyRef> call_ring_model(const FunctionDescription& description, PyObject* const* args,
                              Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* slots[4] = {};
    if (Status error = extract_arguments_fastcall(description, args, nargs, kwnames, slots)) {
        return std::move(*error);
    }
    double values[4];
    for (size_t i = 0; i < 4; ++i) {
        auto value = extract_float_argument(slots[i], description.parameters[i]);
        if (!value.ok()) {
            return std::move(value.error());
        }
        values[i] = *value;
    }
    return into_python(lib::heyrovsky_magnification(values[0], values[1], values[2], values[3]));
}

}  // namespace

PyObject* __pyfunction_witt_mao_magnification(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                              PyObject* kwnames) {
    static constexpr FunctionDescription description{"witt_mao_magnification", l_re_rstar};
    return trampoline([&] {
        return call_separation_model(description, lib::witt_mao_magnification, many_separations,
                                     args, nargs, kwnames);
    });
}

PyObject* __pyfunction_integrated_witt_mao_magnification(PyObject*, PyObject* const* args,
                                                         Py_ssize_t nargs,
                                                         PyObject* kwnames) {
    static constexpr FunctionDescription description{"integrated_witt_mao_magnification",
                                                     l_re_rstar};
    return trampoline([&] {
        return call_separation_model(description, lib::integrated_witt_mao_magnification,
                                     any_separation, args, nargs, kwnames);
    });
}

PyObject* __pyfunction_integrated_flux_map_witt_mao_magnification(PyObject*,
                                                                  PyObject* const* args,
                                                                  Py_ssize_t nargs,
                                                                  PyObject* kwnames) {
    static constexpr FunctionDescription description{
        "integrated_flux_map_witt_mao_magnification", l_re_rstar_bl_bf};
    return trampoline([&] {
        return call_flux_map_model(description, lib::integrated_flux_map_witt_mao_magnification,
                                   any_separation, args, nargs, kwnames);
    });
}

PyObject* __pyfunction_heyrovsky_magnification(PyObject*, PyObject* const* args,
                                               Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr FunctionDescription description{"heyrovsky_magnification", l_r_re_rstar};
    return trampoline([&] { return call_ring_model(description, args, nargs, kwnames); });
}

PyObject* __pyfunction_integrated_heyrovsky_magnification(PyObject*, PyObject* const* args,
                                                          Py_ssize_t nargs,
                                                          PyObject* kwnames) {
    static constexpr FunctionDescription description{"integrated_heyrovsky_magnification",
                                                     l_re_rstar};
    return trampoline([&] {
        return call_separation_model(description, lib::integrated_heyrovsky_magnification,
                                     any_separation, args, nargs, kwnames);
    });
}

PyObject* __pyfunction_integrated_flux_map_heyrovsky_magnification(PyObject*,
                                                                   PyObject* const* args,
                                                                   Py_ssize_t nargs,
                                                                   PyObject* kwnames) {
    static constexpr FunctionDescription description{
        "integrated_flux_map_heyrovsky_magnification", l_re_rstar_bl_bf};
    return trampoline([&] {
        return call_flux_map_model(description, lib::integrated_flux_map_heyrovsky_magnification,
                                   any_separation, args, nargs, kwnames);
    });
}

PyObject* __pyfunction_discrete_flux_map_heyrovsky_magnification(PyObject*,
                                                                 PyObject* const* args,
                                                                 Py_ssize_t nargs,
                                                                 PyObject* kwnames) {
    static constexpr FunctionDescription description{
        "discrete_flux_map_heyrovsky_magnification", l_re_rstar_bl_bf};
    return trampoline([&] {
        return call_flux_map_model(description, lib::discrete_flux_map_heyrovsky_magnification,
                                   many_ring_terms, args, nargs, kwnames);
    });
}

}  // namespace corvanis
