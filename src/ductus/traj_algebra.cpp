// Trajectory1d arithmetic, equality and value constraints.
#include "ductus/ductus.hpp"

#include "arcus/cardo/cardo.h"

#include <climits>
#include <cmath>
#include <utility>

namespace ductus {

void traj_c_vshift(TrajObj* self, double x) {
    if (!writable(self, false)) return;
    const DArr P = cpts_of(self);
    for (Py_ssize_t i = 0; i < P.len; ++i) P.data[i] = P.data[i] + x;
}

void traj_c_vscale(TrajObj* self, double k) {
    if (!writable(self, false)) return;
    const DArr P = cpts_of(self);
    for (Py_ssize_t i = 0; i < P.len; ++i) P.data[i] = k * P.data[i];
}

int traj_c_eq(TrajObj* self, TrajObj* other) {
    if (self->p != other->p || self->n != other->n || self->order != other->order ||
        (self->ptrs_owner != 0) != (other->ptrs_owner != 0)) {
        return 0;
    }
    for (const auto& pair : {std::make_pair(knots_of(self), knots_of(other)),
                             std::make_pair(cpts_of(self), cpts_of(other))}) {
        for (Py_ssize_t i = 0; i < pair.first.len; ++i) {
            if (!cardo::keq(pair.first.data[i], pair.second.data[i])) return 0;
        }
    }
    return 1;
}

namespace {

// The real type: a __class__ attribute does not make an object a trajectory.
bool is_traj(PyObject* o) { return PyObject_TypeCheck(o, &TrajTypeObj); }
TrajObj* as_traj(PyObject* o) { return reinterpret_cast<TrajObj*>(o); }

bool refuse_none(PyObject* o, const char* argname, const char* expected) {
    return o != Py_None || pv::fail_argtype(argname, expected, o);
}

// ---------------------------------------------------------------- sum

// (mk, nk) of the sum: those of self when the knot vectors are equal within
// the knot tolerance (the sum then lives on self's knots), otherwise the
// union of both vectors.
bool sum_sizes(const Data& a, const Data& b, int& mk, int& nk) {
    const DArr U1 = a.U, U2 = b.U;
    const bool same = U1.len == U2.len &&
                      cardo::same_knots(static_cast<int>(U1.len) - 1, U1.data, U2.data);
    if (same) {
        mk = static_cast<int>(U1.len) - 1;
        nk = a.n;
        return true;
    }
    pv::Ref r(arcus.knotuniondim(U1, U2, a.p));
    if (!r) return false;
    if (!PyTuple_Check(r.get()) || PyTuple_GET_SIZE(r.get()) != 2) {
        return pv::fail(PyExc_ValueError, "knotuniondim must give a pair (mk, nk)");
    }
    return pv::to_int(PyTuple_GET_ITEM(r.get(), 0), mk) && pv::to_int(PyTuple_GET_ITEM(r.get(), 1), nk);
}

PyObject* c_splcsum(TrajObj* self, TrajArg other_arg) {
    if (!refuse_none(other_arg.o, "other", TrajTypeObj.tp_name)) return nullptr;
    TrajObj* other = as_traj(other_arg.o);
    // Both operands' arrays stay alive and unchanged while the sum is formed
    // without the interpreter lock.
    Data a, b;
    if (!a.take(self) || !b.take(other)) return nullptr;
    a.pin();
    b.pin();
    if (b.p != a.p) {
        return pv::fail(PyExc_ValueError, "the input traiectories must have the same order");
    }
    double a0, a1, b0, b1;
    if (!domain(self, a0, a1) || !domain(other, b0, b1)) return nullptr;
    if (b0 != a0 || b1 != a1) {
        return pv::fail(PyExc_ValueError, "the input traiectories must have the same extremes of domain");
    }
    if (other->order != self->order) {
        return pv::fail(PyExc_ValueError, "the trajectories must have the same 'order'");
    }
    int mk, nk;
    if (!sum_sizes(a, b, mk, nk)) return nullptr;
    Mem uk, pk;
    if (!uk.alloc(static_cast<long long>(mk) + 1) || !pk.alloc(static_cast<long long>(nk) + 1)) {
        return nullptr;
    }
    arcus.splcsum(a.U, a.P, b.U, b.P, a.p, mk, DArr{uk.get(), Py_ssize_t(mk) + 1}, nk,
                  DArr{pk.get(), Py_ssize_t(nk) + 1});
    if (PyErr_Occurred()) return nullptr;
    return new_traj(uk, pk, a.p, nk, self->order);
}

PyObject* c_splcmul(TrajObj*, TrajArg other) {
    if (!refuse_none(other.o, "other", TrajTypeObj.tp_name)) return nullptr;
    return pv::fail(PyExc_NotImplementedError, nullptr);
}

// ---------------------------------------------------------------- operators

const char* const sum_args[] = {"c_splcsum", "other", nullptr};
const char* const mul_args[] = {"c_splcmul", "other", nullptr};

using SumM = pv::Method<c_splcsum, sum_args, TrajRes, pv::Call::O>;
using MulM = pv::Method<c_splcmul, mul_args, TrajRes, pv::Call::O>;

// The operators reach copy, c_splcsum and c_splcmul as Python code calling
// them would (a subclass's redefinition, an instance attribute), and hand back
// what they return.

// The operand's copy, which the operators then change in place: it must be a
// trajectory, or the operator would hand back whatever a redefinition returned.
PyObject* copy_of(PyObject* t) {
    pv::Ref c(operand_copy(as_traj(t)));
    if (c && !is_traj(c.get())) {
        return pv::fail(PyExc_TypeError, "%.100s.copy() returned %.100s, not a Trajectory1d",
                        Py_TYPE(t)->tp_name, Py_TYPE(c.get())->tp_name);
    }
    return c.release();
}

// A trajectory and a number in either order: the in-place form on a copy.
PyObject* on_copy(PyObject* a, PyObject* b, binaryfunc in_place) {
    const bool left = is_traj(a);
    pv::Ref c(copy_of(left ? a : b));
    return c ? in_place(c.get(), left ? b : a) : nullptr;
}

// The sum of two trajectories; `b` is checked as the method checks its argument.
PyObject* sum(PyObject* a, PyObject* b) {
    if (!is_traj(b)) return pv::fail_argtype("other", TrajTypeObj.tp_name, b), nullptr;
    return SumM::call<pv::AnyObj>(as_traj(a), TrajArg{b});
}

PyObject* traj_add(PyObject* a, PyObject* b) {
    if (is_traj(a) && is_traj(b)) return sum(a, b);
    return on_copy(a, b, PyNumber_InPlaceAdd);
}

PyObject* traj_subtract(PyObject* a, PyObject* b) {
    if (is_traj(a) && is_traj(b)) {
        pv::Ref c(copy_of(b));
        pv::Ref neg(c ? PyNumber_Negative(c.get()) : nullptr);
        return neg ? sum(a, neg.get()) : nullptr;
    }
    if (is_traj(a)) return on_copy(a, b, PyNumber_InPlaceSubtract);
    pv::Ref c(copy_of(b));
    pv::Ref neg(c ? PyNumber_Negative(c.get()) : nullptr);
    return neg ? PyNumber_InPlaceAdd(neg.get(), a) : nullptr;
}

PyObject* traj_multiply(PyObject* a, PyObject* b) {
    if (is_traj(a) && is_traj(b)) return MulM::call<pv::AnyObj>(as_traj(a), TrajArg{b});
    return on_copy(a, b, PyNumber_InPlaceMultiply);
}

PyObject* traj_divide(PyObject* a, PyObject* b) {
    if (is_traj(a) && is_traj(b)) return pv::fail(PyExc_NotImplementedError, nullptr);
    if (!is_traj(a)) {
        // number / trajectory: the quotient is not a B-spline.
        return pv::fail(PyExc_TypeError,
                        "unsupported operand type(s) for /: '%.100s' and '%.100s' (a number "
                        "divided by a trajectory is not a B-spline)",
                        Py_TYPE(a)->tp_name, Py_TYPE(b)->tp_name);
    }
    return on_copy(a, b, PyNumber_InPlaceTrueDivide);
}

// The in-place forms take numbers only.
PyObject* in_place(PyObject* t, PyObject* x, const char* op, bool scale, PyObject* (*prep)(PyObject*)) {
    if (is_traj(x)) {
        return pv::fail(PyExc_TypeError, "unsupported operand type(s) for %s: '%.100s' and '%.100s'",
                        op, Py_TYPE(t)->tp_name, Py_TYPE(x)->tp_name);
    }
    TrajObj* self = as_traj(t);
    if (!need_data(self)) return nullptr;
    pv::Ref v(prep ? prep(x) : pv::Ref::borrow(x).release());
    if (!v) return nullptr;
    double d;
    if (!pv::to_double(v.get(), d)) return nullptr;
    if (scale) traj_vtab.c_vscale(self, d);
    else traj_vtab.c_vshift(self, d);
    if (PyErr_Occurred()) return nullptr;
    Py_INCREF(t);
    return t;
}

PyObject* reciprocal(PyObject* x) {
    pv::Ref e(PyFloat_FromDouble(-1.0));
    return e ? PyNumber_Power(x, e.get(), Py_None) : nullptr;
}

PyObject* traj_iadd(PyObject* t, PyObject* x) { return in_place(t, x, "+=", false, nullptr); }
PyObject* traj_isub(PyObject* t, PyObject* x) { return in_place(t, x, "-=", false, PyNumber_Negative); }
PyObject* traj_imul(PyObject* t, PyObject* x) { return in_place(t, x, "*=", true, nullptr); }
PyObject* traj_idiv(PyObject* t, PyObject* x) { return in_place(t, x, "/=", true, reciprocal); }

PyObject* traj_negative(PyObject* t) {
    if (!need_data(as_traj(t))) return nullptr;
    traj_vtab.c_vscale(as_traj(t), -1.0);
    if (PyErr_Occurred()) return nullptr;
    Py_INCREF(t);
    return t;
}

// ---------------------------------------------------------------- value constraints

struct PointVals {
    double t, val;
    long long order;
};

bool read_point(PyObject* p, PointVals& v) {
    pv::Ref t(pv::getattr(p, "t"));
    pv::Ref val(t ? pv::getattr(p, "val") : nullptr);
    pv::Ref order(val ? pv::getattr(p, "order") : nullptr);
    if (!order || !pv::to_double(t.get(), v.t) || !pv::to_double(val.get(), v.val)) return false;
    v.order = PyLong_AsLongLong(order.get());
    return !(v.order == -1 && PyErr_Occurred());
}

// A NaN time lies in no domain, though it passes the comparisons of the
// domain check: it is refused with the message of a time outside the domain
// (a shift or scale computed there would make every control point NaN).
bool time_in_some_domain(const PointVals& v) {
    return !std::isnan(v.t) || out_of_domain("x", v.t);
}

// nu = p.order - self.order as a C int.
bool order_gap(TrajObj* self, const PointVals& v, int& nu) {
    const long long d = v.order - static_cast<long long>(self->order);
    if (d < INT_MIN || d > INT_MAX) return pv::fail(PyExc_OverflowError, "value too large to convert to int");
    nu = static_cast<int>(d);
    return true;
}

void set_tr_point(TrajObj* self, PointArg pt) {
    if (!refuse_none(pt.o, "p", PointTypeObj.tp_name) || !need_data(self)) return;
    PointVals v;
    int nu = 0;
    if (!read_point(pt.o, v) || !order_gap(self, v, nu)) return;
    if (!pv::need_nonneg(nu, "this method cannot be used to set a constraint on the n-th antiderivative")) {
        return;
    }
    if (!time_in_some_domain(v)) return;
    const double V = traj_vtab.dpeval(self, v.t, pv::OptInt<1>{nu});
    if (PyErr_Occurred()) return;
    traj_vtab.c_vshift(self, v.val - V);
}

void set_am_point(TrajObj* self, PointArg pt) {
    if (!refuse_none(pt.o, "p", PointTypeObj.tp_name) || !need_data(self)) return;
    PointVals v;
    int nu = 0;
    if (!read_point(pt.o, v) || !order_gap(self, v, nu)) return;
    double e;
    if (nu == INT_MIN) {
        // -nu, the number of integrations, is beyond a C int.
        pv::fail(PyExc_OverflowError, "Python int too large to convert to C int");
        return;
    }
    if (!time_in_some_domain(v)) return;
    if (nu < 0) {
        pv::Ref A(traj_vtab.antiderivative(self, pv::OptInt<1>{-nu}));
        if (!A) return;
        if (!is_traj(A.get())) {
            pv::fail(PyExc_TypeError, "antiderivative() returned None");
            return;
        }
        // Through the operations of A's real type (a subclass's peval is
        // honoured by the slot), never through a table A merely carries.
        e = traj_vtab.peval(as_traj(A.get()), v.t);
    } else {
        e = traj_vtab.dpeval(self, v.t, pv::OptInt<1>{nu});
    }
    if (PyErr_Occurred()) return;
    if (e == 0.0) {
        pv::fail(PyExc_ZeroDivisionError, "float division by zero");
        return;
    }
    traj_vtab.c_vscale(self, v.val / e);
}

template <void (*Impl)(TrajObj*, PointArg)>
void with_tuple(TrajObj* self, pv::Obj tup) {
    pv::Ref pt(point_from_tuple(tup.o));
    if (pt) Impl(self, PointArg{pt.get()});
}

// The Python methods choose the form by the argument's type.
template <void (*ImplPoint)(TrajObj*, PointArg)>
void set_value(TrajObj* self, pv::Obj p) {
    if (PyTuple_CheckExact(p.o)) {
        with_tuple<ImplPoint>(self, p);
    } else if (PyObject_TypeCheck(p.o, &PointTypeObj)) {
        ImplPoint(self, PointArg{p.o});
    } else {
        pv::fail_argtype("p", "Point1d or tuple", p.o);
    }
}

// ---------------------------------------------------------------- tables

const char* const settr_args[] = {"setValueTr", "p", nullptr};
const char* const setam_args[] = {"setValueAm", "p", nullptr};

using SetTrM = pv::Method<set_value<set_tr_point>, settr_args>;
using SetAmM = pv::Method<set_value<set_am_point>, setam_args>;

// The C-level forms of setValueTr / setValueAm, one per argument type; both
// honour a Python redefinition of the method.
template <typename M, typename A, void (*Impl)(TrajObj*, A)>
void value_slot(TrajObj* self, A a) {
    pv::dispatch<pv::AnyObj>(self, M::name(), M::builtin(), Impl, a);
}

const char sum_doc[] =
    "The sum of two trajectories.\n\n"
    "Parameters\n----------\nother : Trajectory1d\n    Same degree, domain and order as self.\n\n"
    "Returns\n-------\nTrajectory1d\n    self + other on the union of both knot vectors.\n\n"
    "Notes\n-----\nValueError when degree, domain or order differ. Knot vectors equal\n"
    "within the knot tolerance give the sum on self's knots.\n\n"
    "References\n----------\n"
    NURBS_BOOK ", sec. 5.3.\n";
const char mul_doc[] =
    "The product of two trajectories: not available.\n\n"
    "Parameters\n----------\nother : Trajectory1d\n\n"
    "Returns\n-------\nNever returns.\n\nNotes\n-----\nRaises NotImplementedError.\n\n"
    "References\n----------\nNone\n";
const char settr_doc[] =
    "Sets a condition by vertical shift of the trajectory.\n\n"
    "Parameters\n----------\np : Point1d or tuple\n    (t, val, order): afterwards the derivative of\n"
    "    order p.order - self.order has the value val at t.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\nThe control points change in place. ValueError when p.order < self.order\n"
    "and when p.t is outside the domain or NaN.\n\n"
    "References\n----------\nNone\n";
const char setam_doc[] =
    "Sets a condition multiplying the trajectory by a calculated constant.\n\n"
    "Parameters\n----------\np : Point1d or tuple\n    (t, val, order): afterwards the derivative (or,\n"
    "    for p.order < self.order, the antiderivative, 0 at start) of relative order\n"
    "    p.order - self.order has the value val at t.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\nThe control points change in place. ZeroDivisionError when the value to\n"
    "scale is 0; ValueError when p.t is outside the domain or NaN.\n\nReferences\n----------\nNone\n";

}  // namespace

PyObject* traj_richcompare(PyObject* a, PyObject* b, int op) {
    if (op == Py_NE) return not_equal(a, b);
    if (op != Py_EQ || !is_traj(a)) Py_RETURN_NOTIMPLEMENTED;
    // isinstance(b, type(a)) by the real type of b, which is then read as a
    // trajectory.
    if (!PyObject_TypeCheck(b, Py_TYPE(a))) return PyBool_FromLong(0);
    if (!need_data(as_traj(a)) || !need_data(as_traj(b))) return nullptr;
    return PyBool_FromLong(traj_vtab.c_eq(as_traj(a), as_traj(b)));
}

PyNumberMethods traj_number = {};

PyMethodDef traj_algebra_methods[] = {
    SumM::def(sum_doc),     MulM::def(mul_doc), SetTrM::def(settr_doc),
    SetAmM::def(setam_doc), {nullptr, nullptr, 0, nullptr},
};

void fill_algebra_slots(TrajVTab& v) {
    v.c_eq = traj_c_eq;
    v.c_vshift = traj_c_vshift;
    v.c_vscale = traj_c_vscale;
    v.c_splcsum = SumM::slot;
    v.c_splcmul = MulM::slot;
    v.setValueTr_point = value_slot<SetTrM, PointArg, set_tr_point>;
    v.setValueTr_tuple = value_slot<SetTrM, pv::Obj, with_tuple<set_tr_point>>;
    v.setValueAm_point = value_slot<SetAmM, PointArg, set_am_point>;
    v.setValueAm_tuple = value_slot<SetAmM, pv::Obj, with_tuple<set_am_point>>;

    PyNumberMethods& nb = traj_number;
    nb.nb_add = traj_add;
    nb.nb_subtract = traj_subtract;
    nb.nb_multiply = traj_multiply;
    nb.nb_true_divide = traj_divide;
    nb.nb_inplace_add = traj_iadd;
    nb.nb_inplace_subtract = traj_isub;
    nb.nb_inplace_multiply = traj_imul;
    nb.nb_inplace_true_divide = traj_idiv;
    nb.nb_negative = traj_negative;
}

}  // namespace ductus
