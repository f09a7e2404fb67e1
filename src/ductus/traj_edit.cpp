// Trajectory1d domain transforms, calculus and knot operations.
#include "ductus/ductus.hpp"

#include "arcus/cardo/cardo.h"
#include "arcus/cardo/limits.h"

#include <climits>
#include <cmath>
#include <cstring>

namespace ductus {

void traj_c_hshift(TrajObj* self, double x) {
    if (!writable(self, true)) return;
    const DArr U = knots_of(self);
    for (Py_ssize_t i = 0; i < U.len; ++i) U.data[i] = U.data[i] + x;
}

void traj_c_hscale(TrajObj* self, double k) {
    if (!writable(self, true)) return;
    const DArr U = knots_of(self);
    const double u0 = U.data[0];
    for (Py_ssize_t i = 1; i < U.len; ++i) U.data[i] = cardo::ScaledKnot(u0, U.data[i], k);
}

namespace {

bool check_u(TrajObj* self, double u) { return check_domain(self, "u", u, u); }

// ---------------------------------------------------------------- domain transforms

// A shift by a value that is not finite would leave knots that are not numbers.
bool finite_shift(double x) {
    return std::isfinite(x) ||
           pv::fail(PyExc_ValueError, "'x' must be a finite number, got %s", pv::double_text(x).c_str());
}

// Neighbouring knots that the knot tolerance of the kernel tells apart, at a
// finite distance. Knots closer than the tolerance count as one knot there
// (span search, multiplicities), so merging them changes the curve.
bool apart(double a, double b) { return std::isfinite(b - a) && !cardo::keq(a, b); }

// Runs `transform` on the knots in place and keeps its result only when every
// knot that was finite is still finite (else OverflowError) and neighbouring
// knots that were apart are still apart (else ValueError: the domain would
// degenerate). Otherwise, and when the transform raised, the knots are put
// back bit for bit.
template <typename F>
void guarded(TrajObj* self, F&& transform) {
    // Storage of the object's own, so that the transform writes where the
    // check reads (pinned storage would be copied by the transform).
    if (!writable(self, true)) return;
    const DArr U = knots_of(self);
    Mem old;
    if (!old.alloc(U.len)) return;
    const double* u0 = old.get();
    std::memcpy(old.get(), U.data, sizeof(double) * U.len);
    transform();
    const DArr V = knots_of(self);
    // Python code run by the transform (a redefined start or stop) may have
    // given the object other arrays: those are not ours to put back.
    if (V.data != U.data || V.len != U.len) return;
    bool restore = PyErr_Occurred() != nullptr;
    for (Py_ssize_t i = 0; !restore && i < U.len; ++i) {
        if (std::isfinite(u0[i]) && !std::isfinite(U.data[i])) {
            pv::fail(PyExc_OverflowError, "the knots would not be finite numbers");
            restore = true;
        }
    }
    for (Py_ssize_t i = 0; !restore && i + 1 < U.len; ++i) {
        if (apart(u0[i], u0[i + 1]) && !apart(U.data[i], U.data[i + 1])) {
            pv::fail(PyExc_ValueError,
                     "distinct knots would merge within the knot tolerance: the domain would degenerate");
            restore = true;
        }
    }
    if (restore) std::memcpy(U.data, u0, sizeof(double) * U.len);
}

void rshift(TrajObj* self, double x) {
    if (need_data(self) && finite_shift(x)) {
        guarded(self, [&] { traj_vtab.c_hshift(self, x); });
    }
}

void ashift(TrajObj* self, double x) {
    double a, b;
    if (need_data(self) && finite_shift(x) && domain(self, a, b)) {
        guarded(self, [&] { traj_vtab.c_hshift(self, x - a); });
    }
}

void hscale(TrajObj* self, double k) {
    if (!need_data(self)) return;
    // A factor that is not positive (or not finite) would leave knots that
    // decrease or are not numbers.
    if (!(k > 0.0) || !std::isfinite(k)) {
        pv::fail(PyExc_ValueError, "'k' must be a positive finite number, got %s",
                 pv::double_text(k).c_str());
        return;
    }
    guarded(self, [&] { traj_vtab.c_hscale(self, k); });
}

void adapt(TrajObj* self, double start, double stop) {
    if (!need_data(self)) return;
    if (start >= stop) {
        pv::fail(PyExc_ValueError, "'stop' must be strictly greater than 'start'");
        return;
    }
    if (!std::isfinite(start) || !std::isfinite(stop)) {
        pv::fail(PyExc_ValueError, "'start' and 'stop' must be finite numbers");
        return;
    }
    double a, b;
    if (!domain(self, a, b)) return;
    if (b - a == 0.0) {
        pv::fail(PyExc_ZeroDivisionError, "float division by zero");
        return;
    }
    guarded(self, [&] {
        traj_vtab.c_hscale(self, (stop - start) / (b - a));
        if (!domain(self, a, b)) return;
        if (a != start) traj_vtab.c_hshift(self, start - a);
    });
}

// ---------------------------------------------------------------- calculus

bool nu_from_zero(int nu) {
    return pv::need_nonneg(nu, "'nu' must be greater than or equal to zero: %d", nu);
}

// After the derivative's difference quotient met a knot interval of zero
// length: names the knot and its multiplicity. Derivative nu of a degree-p
// spline is a spline only where every knot is repeated at most p - nu + 1
// times; at a knot repeated more often, derivative nu - 1 jumps.
void repeated_knot_error(const Data& d, int nu) {
    const DArr U = d.U;
    const int p = d.p, n = d.n;
    for (int k = 1; k <= nu && k <= p; ++k) {
        for (int j = 0; j <= n - k; ++j) {
            if (U.data[j + p + 1] != U.data[j + k]) continue;
            const double u = U.data[j + k];
            int mult = 0;
            for (Py_ssize_t i = 0; i < U.len; ++i) mult += U.data[i] == u;
            PyErr_Clear();
            pv::fail(PyExc_ZeroDivisionError,
                     "derivative %d of a trajectory of degree %d needs every interior knot repeated at most "
                     "p - nu + 1 = %d times, but the knot %s is repeated %d times",
                     nu, p, p - nu + 1, pv::double_text(u).c_str(), mult);
            return;
        }
    }
}

PyObject* derivative(TrajObj* self, pv::OptInt<1> nu) {
    Data d;
    if (!d.take(self) || !nu_from_zero(nu.v)) return nullptr;
    // The order of the result, order + nu, must stay an unsigned int.
    if (static_cast<unsigned long long>(self->order) + nu.v > UINT_MAX) {
        return pv::fail(PyExc_OverflowError, "value too large to convert to unsigned int");
    }
    const DArr U = d.U, P = d.P;
    Mem uk, pk;
    if (!uk.alloc(U.len) || !pk.alloc(P.len)) return nullptr;
    const int nk = arcus.dsplcpts2(U, P, d.p, nu.v, DArr{uk.get(), U.len}, DArr{pk.get(), P.len});
    if (PyErr_Occurred()) {
        if (PyErr_ExceptionMatches(PyExc_ZeroDivisionError)) repeated_knot_error(d, nu.v);
        return nullptr;
    }
    const long long pd = static_cast<long long>(d.p) - nu.v;
    if (!uk.shrink(nk + pd + 2) || !pk.shrink(static_cast<long long>(nk) + 1)) return nullptr;
    return new_traj(uk, pk, pd, nk, self->order + static_cast<unsigned>(nu.v));
}

PyObject* antiderivative(TrajObj* self, pv::OptInt<1> nu) {
    Data d;
    if (!d.take(self) || !nu_from_zero(nu.v)) return nullptr;
    if (self->order < static_cast<unsigned>(nu.v)) {
        return pv::fail(PyExc_ValueError, "negative 'order' not allowed");
    }
    const DArr U = d.U, P = d.P;
    Mem uk, pk;
    if (!uk.alloc(U.len + 2LL * nu.v) || !pk.alloc(P.len + static_cast<long long>(nu.v))) return nullptr;
    arcus.asplcpts(U, P, d.p, nu.v, DArr{uk.get(), U.len + 2 * Py_ssize_t(nu.v)},
                   DArr{pk.get(), P.len + nu.v});
    if (PyErr_Occurred()) return nullptr;
    return new_traj(uk, pk, static_cast<long long>(d.p) + nu.v,
                    static_cast<long long>(d.n) + nu.v, self->order - static_cast<unsigned>(nu.v));
}

PyObject* degelev(TrajObj* self, pv::OptInt<1> nu) {
    Data d;
    if (!d.take(self) || !pv::need_nonneg(nu.v, "'nu' must be non-negative number")) return nullptr;
    const DArr U = d.U, P = d.P;
    const int s = arcus.distintknots(U, d.p);
    if (PyErr_Occurred()) return nullptr;
    const long long nk = U.len + static_cast<long long>(nu.v) * (s + 2LL);
    const long long np = P.len + static_cast<long long>(nu.v) * (s + 1LL);
    Mem uk, pk;
    if (!uk.alloc(nk) || !pk.alloc(np)) return nullptr;
    arcus.degelevc(U, P, d.p, nu.v, DArr{uk.get(), Py_ssize_t(nk)}, DArr{pk.get(), Py_ssize_t(np)});
    if (PyErr_Occurred()) return nullptr;
    return new_traj(uk, pk, static_cast<long long>(d.p) + nu.v, np - 1, self->order);
}

// ---------------------------------------------------------------- knot operations

PyObject* knotins(TrajObj* self, double u, int r) {
    Data d;
    if (!d.take(self) || !check_u(self, u) || !pv::need_nonneg(r, "'r' must be non-negative number")) {
        return nullptr;
    }
    if (r > d.p) return pv::fail(PyExc_ValueError, "'r' must be less than or equal to 'p'");
    const DArr U = d.U, P = d.P;
    Mem uq, q;
    if (!uq.alloc(U.len + r) || !q.alloc(P.len + r)) return nullptr;
    arcus.splkins(U, P, d.p, u, r, DArr{uq.get(), U.len + r}, DArr{q.get(), P.len + r});
    if (PyErr_Occurred()) return nullptr;
    return new_traj(uq, q, d.p, static_cast<long long>(d.n) + r, self->order);
}

PyObject* knotref(TrajObj* self, pv::ArrObj X_obj) {
    pv::Buf buf;
    Data d;
    if (!buf.acquire(X_obj.o, 1, "knotref", "X") || !d.take(self)) return nullptr;
    const DArr X = buf.arr(), U = d.U, P = d.P;
    Mem ubar, q;
    if (!ubar.alloc(U.len + X.len) || !q.alloc(P.len + X.len)) return nullptr;
    for (Py_ssize_t i = 0; i + 1 < X.len; ++i) {
        if (!(X.data[i] < X.data[i + 1])) return pv::fail(PyExc_ValueError, "'X' must be increasing");
    }
    arcus.splkref(U, P, d.p, X, DArr{ubar.get(), U.len + X.len}, DArr{q.get(), P.len + X.len});
    if (PyErr_Occurred()) return nullptr;
    return new_traj(ubar, q, d.p, d.n + static_cast<long long>(X.len), self->order);
}

// Trims the copies of d's arrays after t removals and builds the result.
PyObject* after_removal(TrajObj* self, const Data& d, Mem& uq, Mem& q, int t) {
    if (PyErr_Occurred()) return nullptr;
    if (!uq.shrink(d.U.len - t) || !q.shrink(d.P.len - t)) return nullptr;
    return new_traj(uq, q, d.p, d.n - t, self->order);
}

// Copies of the arrays for a removal (the kernel removes in place).
DArr copy_u(const Mem& uq, const Data& d) { return DArr{uq.get(), d.U.len}; }
DArr copy_p(const Mem& q, const Data& d) { return DArr{q.get(), d.P.len}; }

PyObject* knotrem(TrajObj* self, double u, int r, pv::OptDouble<RemTol> tol) {
    Data d;
    Mem uq, q;
    if (!d.take(self) || !copy_arrays(d, uq, q) || !check_u(self, u) ||
        !pv::need_nonneg(r, "'r' must be non-negative number")) {
        return nullptr;
    }
    const OptTol opt{1, tol.v};
    const int t = arcus.splkrem(copy_u(uq, d), copy_p(q, d), d.p, u, r, &opt);
    return after_removal(self, d, uq, q, t);
}

PyObject* knotsrem(TrajObj* self, pv::OptDouble<RemTol> tol) {
    Data d;
    Mem uq, q;
    if (!d.take(self) || !copy_arrays(d, uq, q)) return nullptr;
    const OptTol opt{1, tol.v};
    const int t = arcus.splksrem(copy_u(uq, d), copy_p(q, d), d.p, &opt);
    return after_removal(self, d, uq, q, t);
}

PyObject* knotrem_notol(TrajObj* self, double u, int r) {
    Data d;
    Mem uq, q;
    if (!d.take(self) || !copy_arrays(d, uq, q) || !check_u(self, u) ||
        !pv::need_nonneg(r, "'r' must be non-negative number")) {
        return nullptr;
    }
    const int t = arcus.splkrem_notol(copy_u(uq, d), copy_p(q, d), d.p, u, r);
    return after_removal(self, d, uq, q, t);
}

// ---------------------------------------------------------------- tables

const char* const rshift_args[] = {"rshift", "x", nullptr};
const char* const ashift_args[] = {"ashift", "x", nullptr};
const char* const hscale_args[] = {"hscale", "k", nullptr};
const char* const adapt_args[] = {"adapt", "start", "stop", nullptr};
const char* const derivative_args[] = {"derivative", "nu", nullptr};
const char* const antiderivative_args[] = {"antiderivative", "nu", nullptr};
const char* const degelev_args[] = {"degelev", "nu", nullptr};
const char* const knotins_args[] = {"knotins", "u", "r", nullptr};
const char* const knotref_args[] = {"knotref", "X", nullptr};
const char* const knotrem_args[] = {"knotrem", "u", "r", "tol", nullptr};
const char* const knotsrem_args[] = {"knotsrem", "tol", nullptr};
const char* const knotrem_notol_args[] = {"knotrem_notol", "u", "r", nullptr};

using RshiftM = pv::Method<rshift, rshift_args, pv::AnyObj, pv::Call::O>;
using AshiftM = pv::Method<ashift, ashift_args, pv::AnyObj, pv::Call::O>;
using HscaleM = pv::Method<hscale, hscale_args, pv::AnyObj, pv::Call::O>;
using AdaptM = pv::Method<adapt, adapt_args>;
using DerivativeM = pv::Method<derivative, derivative_args, TrajRes>;
using AntiderivativeM = pv::Method<antiderivative, antiderivative_args, TrajRes>;
using DegelevM = pv::Method<degelev, degelev_args, TrajRes>;
using KnotinsM = pv::Method<knotins, knotins_args, TrajRes>;
using KnotrefM = pv::Method<knotref, knotref_args, TrajRes, pv::Call::O>;
using KnotremM = pv::Method<knotrem, knotrem_args, TrajRes>;
using KnotsremM = pv::Method<knotsrem, knotsrem_args, TrajRes>;
using KnotremNotolM = pv::Method<knotrem_notol, knotrem_notol_args, TrajRes>;

#define BOOK "References\n----------\n" \
    NURBS_BOOK
#define EMPTY "ValueError for a trajectory without arrays."
#define GUARD "OverflowError when a knot would no longer be finite, ValueError when\n" \
    "distinct knots would merge within the knot tolerance (the domain would\n" \
    "degenerate); the knots are then left as they were."
#define NEW_TRAJ "Returns\n-------\nTrajectory1d\n    A new trajectory that owns its arrays.\n\n"

const char rshift_doc[] =
    "Relative translation of 'self' along x-axis.\n\n"
    "Parameters\n----------\nx : float\n    The shift: [start, stop] becomes [start + x, stop + x].\n\n"
    "Returns\n-------\nNone\n\nNotes\n-----\nOnly the knots change, in place. ValueError for an x that is not\n"
    "finite. " GUARD " " EMPTY "\n\n"
    "References\n----------\nNone\n";
const char ashift_doc[] =
    "Absolute translation: translates 'self' so that the curve starts at x.\n\n"
    "Parameters\n----------\nx : float\n    The new start of the domain.\n\n"
    "Returns\n-------\nNone\n\nNotes\n-----\nOnly the knots change, in place. ValueError for an x that is not\n"
    "finite. " GUARD " " EMPTY "\n\n"
    "References\n----------\nNone\n";
const char hscale_doc[] =
    "Scales 'self' horizontally keeping the start of the domain fixed.\n\n"
    "Parameters\n----------\nk : float\n    Positive factor of the domain length.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\nOnly the knots change, in place: U[i] becomes U[0] + k * (U[i] - U[0]),\n"
    "so that equal knots stay equal and the order of the knots holds. ValueError\n"
    "for k <= 0 or a k that is not finite. " GUARD " " EMPTY "\n\nReferences\n----------\nNone\n";
const char adapt_doc[] =
    "Adapts 'self' in a new domain.\n\n"
    "Parameters\n----------\nstart : float\n    New start of the domain.\n"
    "stop : float\n    New end of the domain, greater than start.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\nThe curve keeps its shape, stretched horizontally. ValueError unless\n"
    "start < stop (both finite); ZeroDivisionError for a domain of length 0.\n" GUARD "\n\n"
    "References\n----------\nNone\n";
const char derivative_doc[] =
    "Returns a Trajectory1d object representing the derivative.\n\n"
    "Parameters\n----------\nnu : int, optional\n    Order of the derivative (default 1).\n\n" NEW_TRAJ
    "Notes\n-----\nDegree p - nu, order + nu. ValueError for nu < 0 or nu > p.\n"
    "ZeroDivisionError when an interior knot is repeated more than p - nu + 1\n"
    "times (derivative nu - 1 jumps there); the message names the knot and its\n"
    "multiplicity.\n\n" BOOK ", sec. 3.3.\n";
const char antiderivative_doc[] =
    "Returns a Trajectory1d object representing the antiderivative.\n\n"
    "Parameters\n----------\nnu : int, optional\n    Number of integrations (default 1).\n\n" NEW_TRAJ
    "Notes\n-----\nDegree p + nu, order - nu; the antiderivative is 0 at start.\n"
    "ValueError for nu < 0 and when order < nu.\n\n" BOOK ", sec. 3.3.\n";
const char degelev_doc[] =
    "Increases the degree of the B-Spline interpolating the trajectory.\n\n"
    "Parameters\n----------\nnu : int, optional\n    Increase of the degree (default 1).\n\n" NEW_TRAJ
    "Notes\n-----\nThe same curve, of degree p + nu. ValueError for nu < 0.\n\n" BOOK ", sec. 5.5.\n";
const char knotins_doc[] =
    "Returns a new Trajectory1d object with same shape and the knot 'u'\ninserted 'r' times.\n\n"
    "Parameters\n----------\nu : float\n    The knot, in the domain.\nr : int\n    0 <= r <= p.\n\n" NEW_TRAJ
    "Notes\n-----\nValueError for u outside the domain, r < 0, r > p, and when the\n"
    "multiplicity would exceed p or u is a clamped end.\n\n" BOOK ", sec. 5.2.\n";
const char knotref_doc[] =
    "Returns a new Trajectory1d object with same shape and new knots\ninserted.\n\n"
    "Parameters\n----------\nX : ndarray of float64\n    Strictly increasing new knots inside the domain.\n\n"
    NEW_TRAJ "Notes\n-----\nValueError \"'X' must be increasing\"; knot refinement.\n\n" BOOK ", sec. 5.3.\n";
const char knotrem_doc[] =
    "Returns a new Trajectory1d object with, if possible, the knot 'u'\nremoved 'r' times.\n\n"
    "If it cannot be removed 'r' times, it is removed as many times as possible.\n\n"
    "Parameters\n----------\nu : float\n    The knot.\nr : int\n    Removals asked for (r >= 0).\n"
    "tol : float, optional\n    Largest change of the curve per removal (default 1e-13).\n\n" NEW_TRAJ
    "Notes\n-----\nValueError for u outside the domain or r < 0.\n\n" BOOK ", sec. 5.4.\n";
const char knotsrem_doc[] =
    "Returns a new Trajectory1d object with as many knots removed as\npossible.\n\n"
    "Parameters\n----------\ntol : float, optional\n    Largest change of the curve per removal "
    "(default 1e-13).\n\n" NEW_TRAJ
    "Notes\n-----\nThe tolerance is applied step by step: it does not bound the error at\n"
    "the end of the iteration.\n\n" BOOK ", sec. 5.4.\n";
const char knotrem_notol_doc[] =
    "Returns a new Trajectory1d object with knot 'u' removed 'r' times\nwithout tolerance check.\n\n"
    "Parameters\n----------\nu : float\n    The knot.\nr : int\n    Removals (r >= 0).\n\n" NEW_TRAJ
    "Notes\n-----\nThe shape may change. ValueError for u outside the domain or r < 0.\n\n" BOOK ", sec. 5.4.\n";

}  // namespace

PyMethodDef traj_edit_methods[] = {
    RshiftM::def(rshift_doc),
    AshiftM::def(ashift_doc),
    HscaleM::def(hscale_doc),
    AdaptM::def(adapt_doc),
    DerivativeM::def(derivative_doc),
    AntiderivativeM::def(antiderivative_doc),
    DegelevM::def(degelev_doc),
    KnotinsM::def(knotins_doc),
    KnotrefM::def(knotref_doc),
    KnotremM::def(knotrem_doc),
    KnotsremM::def(knotsrem_doc),
    KnotremNotolM::def(knotrem_notol_doc),
    {nullptr, nullptr, 0, nullptr},
};

void fill_edit_slots(TrajVTab& v) {
    v.c_hshift = traj_c_hshift;
    v.rshift = RshiftM::slot;
    v.ashift = AshiftM::slot;
    v.c_hscale = traj_c_hscale;
    v.hscale = HscaleM::slot;
    v.adapt = AdaptM::slot;
    v.derivative = DerivativeM::slot;
    v.antiderivative = AntiderivativeM::slot;
    v.degelev = DegelevM::slot;
    v.knotins = KnotinsM::slot;
    v.knotref = KnotrefM::slot;
    v.knotrem = KnotremM::slot;
    v.knotsrem = KnotsremM::slot;
    v.knotrem_notol = KnotremNotolM::slot;
}

}  // namespace ductus
