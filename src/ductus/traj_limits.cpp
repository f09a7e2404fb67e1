// Trajectory1d limits: the extrema of a derivative over the whole domain,
// checks of velocity, acceleration and jerk limits, the uniform time stretch
// that just meets such limits, and roughness integrals. The arguments are
// parsed and checked here; the work is the kernel's (arcus/cardo/limits.h),
// whose own status codes become the exceptions below (the shared ones those
// of pv::check_status).
#include "ductus/ductus.hpp"
#include "arcus/cardo/limits.h"
#include "common/status.hpp"

#include <cmath>

namespace ductus {
namespace {

// A limit: a positive finite number, or None / absent.
struct LimitArg {
    bool given;
    double v;
};

}  // namespace
}  // namespace ductus

namespace pv {

template <>
struct Arg<ductus::LimitArg> {
    bool given = false;
    double v = 0.0;
    static constexpr bool optional = true;
    bool load(PyObject* o, const char*, const char* a) {
        if (!o || o == Py_None) return true;
        double x = -1.0;
        if (!PyBool_Check(o) && (PyFloat_Check(o) || PyLong_Check(o) || PyNumber_Check(o))) {
            x = PyFloat_AsDouble(o);
            if (x == -1.0 && PyErr_Occurred()) PyErr_Clear();
        }
        if (!(x > 0.0) || !std::isfinite(x)) {
            return fail(PyExc_ValueError, "'%s' must be a positive finite number or None, got %R",
                        a, o);
        }
        given = true;
        v = x;
        return true;
    }
    ductus::LimitArg get() const { return ductus::LimitArg{given, v}; }
};

// Defaults as the signature lines show them.
template <>
struct DefaultText<ductus::LimitArg> {
    static std::string text() { return "None"; }
};

}  // namespace pv

namespace ductus {
namespace {

// ---------------------------------------------------------------- limits

struct LimitSpec {
    const char* arg;
    const char* name;
    int k;  // order of the time derivative limited
    LimitArg lim;
};

// Checks the limits: at least one given, each on a derivative of the
// trajectory (k - order >= 0).
bool check_limits(TrajObj* self, const LimitSpec* ls, int count) {
    bool any = false;
    for (int i = 0; i < count; ++i) any = any || ls[i].lim.given;
    if (!any) return pv::fail(PyExc_ValueError, "give at least one of 'vmax', 'amax' and 'jmax'");
    for (int i = 0; i < count; ++i) {
        const long long nu = static_cast<long long>(ls[i].k) - self->order;
        if (ls[i].lim.given &&
            !pv::need_nonneg(nu, "'%s' limits the %s, derivative %d - order = %lld of this "
                                 "trajectory of order %u; only derivatives of order 0 and higher "
                                 "can be limited",
                             ls[i].arg, ls[i].name, ls[i].k, nu, self->order)) {
            return false;
        }
    }
    return true;
}

// The kernel's status as the methods' exception; `nu` is the order of the
// derivative concerned. False for every nonzero status.
bool status(int info, const Data& d, long long nu) {
    switch (info) {
    case cardo::OK:
    case cardo::NO_MEMORY:
    case cardo::CANCELLED:
        return pv::check_status(info);
    case cardo::LIM_NOT_SPLINE:
        return pv::fail(PyExc_ValueError, "the trajectory is not a spline: p = %d, n = %d", d.p,
                        d.n);
    case cardo::LIM_BAD_KNOTS:
        return pv::fail(PyExc_ValueError, "the knot vector must hold finite, non-decreasing values");
    case cardo::LIM_BAD_CPTS:
        return pv::fail(PyExc_ValueError, "the control points must be finite");
    case cardo::LIM_ZERO_DOMAIN:
        return pv::fail(PyExc_ValueError, "the domain of the trajectory has zero length");
    case cardo::LIM_DERIV_OVERFLOW:
        return pv::fail(PyExc_OverflowError,
                        "derivative %lld of the trajectory overflows the range of floats", nu);
    case cardo::LIM_INTEGRAL_OVERFLOW:
        return pv::fail(PyExc_OverflowError,
                        "the roughness integral of derivative %lld overflows the range of floats",
                        nu);
    case cardo::LIM_SCALE_OVERFLOW:
        return pv::fail(PyExc_OverflowError, "the time scale overflows the range of floats");
    case cardo::LIM_ALL_ZERO:
        return pv::fail(
            PyExc_ValueError,
            "the limited derivatives are zero everywhere: every time scale meets the limits");
    case cardo::LIM_NO_SCALE:
        return pv::fail(PyExc_OverflowError,
                        "no time scale within the range of floats meets the limits");
    default:
        return pv::fail(PyExc_SystemError, "unexpected status %d of the limits kernel", info);
    }
}

// ---------------------------------------------------------------- methods

PyObject* extrema(TrajObj* self, pv::Index<0> nu) {
    Data d;
    if (!d.take(self)) return nullptr;
    double ymin = 0.0, xmin = 0.0, ymax = 0.0, xmax = 0.0;
    int info = 0;
    cardo::DerivativeExtrema(d.n, d.p, d.U.data, d.P.data, nu.v, ymin, xmin, ymax, xmax, info);
    if (!status(info, d, nu.v)) return nullptr;
    return Py_BuildValue("(dddd)", ymin, xmin, ymax, xmax);
}

PyObject* violations(TrajObj* self, LimitArg vmax, LimitArg amax, LimitArg jmax) {
    const LimitSpec ls[3] = {{"vmax", "velocity", 1, vmax},
                             {"amax", "acceleration", 2, amax},
                             {"jmax", "jerk", 3, jmax}};
    if (!need_data(self) || !check_limits(self, ls, 3)) return nullptr;
    Data d;
    if (!d.take(self)) return nullptr;
    pv::Ref list(PyList_New(0));
    if (!list) return nullptr;
    for (const LimitSpec& l : ls) {
        if (!l.lim.given) continue;
        // the derivative of the trajectory that the limit bounds
        const long long nu = static_cast<long long>(l.k) - self->order;
        double peak = 0.0, t = 0.0;
        int info = 0;
        cardo::FirstExceedance(d.n, d.p, d.U.data, d.P.data, nu, l.lim.v, peak, t, info);
        if (!status(info, d, nu)) return nullptr;
        if (!(peak > l.lim.v)) continue;
        pv::Ref item(Py_BuildValue("(sddd)", l.name, t, peak, l.lim.v));
        if (!item || PyList_Append(list.get(), item.get()) < 0) return nullptr;
    }
    return list.release();
}

double timescale(TrajObj* self, LimitArg vmax, LimitArg amax, LimitArg jmax) {
    const LimitSpec ls[3] = {{"vmax", "velocity", 1, vmax},
                             {"amax", "acceleration", 2, amax},
                             {"jmax", "jerk", 3, jmax}};
    Data d;
    if (!d.take(self) || !check_limits(self, ls, 3)) return 0.0;
    if (self->order != 0) {
        pv::fail(PyExc_ValueError,
                 "timescale() needs a displacement trajectory (order 0), got order %u: "
                 "stretching time does not scale the values of a derivative trajectory",
                 self->order);
        return 0.0;
    }
    int k[3];
    double lim[3];
    int count = 0;
    for (const LimitSpec& l : ls) {
        if (!l.lim.given) continue;
        k[count] = l.k;
        lim[count++] = l.lim.v;
    }
    double s = 0.0;
    int which = -1, info = 0;
    cardo::TimeScale(d.n, d.p, d.U.data, d.P.data, count - 1, k, lim, s, which, info);
    if (!status(info, d, which >= 0 ? k[which] : 0)) return 0.0;
    return s;
}

double roughness(TrajObj* self, pv::Index<2> nu) {
    Data d;
    if (!d.take(self)) return 0.0;
    double r = 0.0;
    int info = 0;
    cardo::Roughness(d.n, d.p, d.U.data, d.P.data, nu.v, r, info);
    return status(info, d, nu.v) ? r : 0.0;
}

// ---------------------------------------------------------------- tables

const char* const extrema_args[] = {"extrema", "nu", nullptr};
const char* const violations_args[] = {"violations", "vmax", "amax", "jmax", nullptr};
const char* const timescale_args[] = {"timescale", "vmax", "amax", "jmax", nullptr};
const char* const roughness_args[] = {"roughness", "nu", nullptr};

using ExtremaM = pv::Method<extrema, extrema_args>;
using ViolationsM = pv::Method<violations, violations_args>;
using TimescaleM = pv::Method<timescale, timescale_args>;
using RoughnessM = pv::Method<roughness, roughness_args>;

#define ORDERS \
    "The trajectory's order says what it stands for (0 displacement, 1 velocity,\n" \
    "2 acceleration, 3 jerk): the velocity is derivative 1 - order, the\n" \
    "acceleration 2 - order and the jerk 3 - order.\n"
#define LIMIT_PARAMS \
    "Parameters\n----------\n" \
    "vmax : float or None, optional\n    Limit of the absolute velocity.\n" \
    "amax : float or None, optional\n    Limit of the absolute acceleration.\n" \
    "jmax : float or None, optional\n    Limit of the absolute jerk.\n\n"
#define LIMIT_ERRORS \
    "ValueError for a limit that is not a positive finite number or None, when\n" \
    "no limit is given, for a limit on a derivative of negative order (a\n" \
    "velocity limit on an acceleration trajectory), and for a trajectory\n" \
    "without arrays; OverflowError when a derivative exceeds the range of\n" \
    "floats."
#define PIECES_REFS \
    "L. Ramshaw, Blossoms are polar forms, Computer Aided Geometric Design 6\n" \
    "(1989) 323-358.\n" \
    "J. M. Lane, R. F. Riesenfeld, Bounds on a polynomial, BIT 21 (1981) 112-117.\n"

const char extrema_doc[] =
    "Smallest and largest value of a derivative over the whole domain.\n\n"
    "Parameters\n----------\nnu : int, optional\n"
    "    Order of the derivative (default 0: the values themselves).\n\n"
    "Returns\n-------\ntuple of four floats\n"
    "    (ymin, xmin, ymax, xmax): the smallest and the largest value of the\n"
    "    nu-th derivative on [start, stop] and a time at which each occurs\n"
    "    (the earliest one when several do).\n\n"
    "Notes\n-----\n"
    "Exact to rounding, not sampled: the control points of derivative nu are\n"
    "formed first (differences over knot intervals, so that short spans and an\n"
    "offset of the values cost no accuracy), then every knot span is converted\n"
    "to its Bezier form, the zeros of derivative nu + 1 on it are isolated by\n"
    "subdivision (the convex hull of the Bernstein coefficients bounds the\n"
    "polynomial) and refined by safeguarded Newton steps; the extrema are\n"
    "taken over these zeros and the ends of the spans. A derivative that is\n"
    "constant on a span has its extremum at the start of the span. Where the\n"
    "derivative jumps at a knot (nu >= p - multiplicity + 1), both one-sided\n"
    "limits count, and the time is the knot. Derivatives above the degree are\n"
    "zero: nu > p gives (0.0, start, 0.0, start).\n\n"
    "ValueError for nu that is not a non-negative integer, and for a\n"
    "trajectory without arrays; OverflowError when the derivative exceeds\n"
    "the range of floats.\n\n"
    "References\n----------\n" PIECES_REFS;
const char violations_doc[] =
    "The velocity, acceleration and jerk limits that the trajectory exceeds.\n\n"
    LIMIT_PARAMS
    "Returns\n-------\nlist of tuples\n"
    "    One (name, time, peak, limit) per exceeded limit, in the order\n"
    "    \"velocity\", \"acceleration\", \"jerk\": the first time at which the\n"
    "    absolute value exceeds the limit, the largest absolute value over the\n"
    "    domain and the limit. An empty list: every given limit holds\n"
    "    everywhere on [start, stop], not only at sampled times.\n\n"
    "Notes\n-----\n" ORDERS
    "The peaks come from extrema(); the first excess is found by subdivision\n"
    "of the Bezier pieces in time order and refined to full precision.\n"
    "A peak that exceeds the limit by rounding only (a few units in the last\n"
    "place) is still reported.\n\n" LIMIT_ERRORS "\n\n"
    "References\n----------\n" PIECES_REFS;
const char timescale_doc[] =
    "The uniform time stretch that just meets velocity, acceleration and jerk\nlimits.\n\n"
    LIMIT_PARAMS
    "Returns\n-------\nfloat\n"
    "    The factor s > 0: stretching the domain by s (hscale(s)) scales the\n"
    "    k-th time derivative by s**-k, so s = max over the given limits of\n"
    "    (peak / limit)**(1 / k). s < 1: the motion can be made faster.\n\n"
    "Notes\n-----\n"
    "s is checked on the knots that hscale(s) leaves: after hscale(s) every\n"
    "peak, as extrema() finds it, is at most its limit, so violations() with\n"
    "the same limits is empty; s is raised by the few ulps that the rounding of\n"
    "the stretched knots needs, so at least one peak equals its limit to about\n"
    "1e-13 relative (knots far from zero, e.g. 1.7e9, round more coarsely).\n"
    "Only a displacement trajectory\n"
    "(order 0) can be scaled so: ValueError for any other order, since\n"
    "stretching the domain of a velocity or acceleration trajectory does not\n"
    "scale its values. ValueError also when every limited derivative is zero\n"
    "everywhere (no smallest stretch exists).\n" LIMIT_ERRORS "\n\n"
    "References\n----------\n"
    "J. M. Hollerbach, Dynamic scaling of manipulator trajectories, Journal of\n"
    "Dynamic Systems, Measurement, and Control 106 (1984) 102-106.\n";
const char roughness_doc[] =
    "Integral over the domain of the square of a derivative.\n\n"
    "Parameters\n----------\nnu : int, optional\n"
    "    Order of the derivative (default 2: the bending energy of a\n"
    "    displacement).\n\n"
    "Returns\n-------\nfloat\n"
    "    The integral of (d^nu y / dx^nu)**2 over [start, stop].\n\n"
    "Notes\n-----\n"
    "Exact to rounding: Gauss-Legendre quadrature with p - nu + 1 points per\n"
    "knot span integrates the squared piece of degree 2 (p - nu) exactly.\n"
    "nu > p gives 0.0. ValueError for nu that is not a non-negative integer,\n"
    "and for a trajectory without arrays; OverflowError when the derivative or\n"
    "the integral exceeds the range of floats.\n\n"
    "References\n----------\n"
    "M. Abramowitz, I. A. Stegun, Handbook of Mathematical Functions, Dover,\n"
    "1965, sec. 25.4.\n";

}  // namespace

PyMethodDef traj_limits_methods[] = {
    ExtremaM::def(extrema_doc),
    ViolationsM::def(violations_doc),
    TimescaleM::def(timescale_doc),
    RoughnessM::def(roughness_doc),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace ductus
