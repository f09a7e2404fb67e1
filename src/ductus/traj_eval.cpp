// Trajectory1d evaluation: at a point, over increasing arrays, through the
// call operator, and the abscissae of the control points.
#include "ductus/numpy.hpp"
#include "ductus/ductus.hpp"
#include "arcus/cardo/scratch.h"
#include "arcus/cardo/sort.h"
#include "common/status.hpp"

#include <algorithm>
#include <cstddef>
#include <type_traits>
#include <utility>

namespace ductus {

namespace {

bool check_point(TrajObj* self, double x) { return check_domain(self, "x", x, x); }

bool check_nu(int nu) { return pv::need_nonneg(nu, "'nu' must be non-negative number"); }

// Steps shared by ceval and dceval: a non-empty, strictly increasing array
// whose end values lie in the domain.
bool check_points(TrajObj* self, DArr xp) {
    if (xp.len == 0) return pv::fail(PyExc_ValueError, "zero size arrays are not allowed");
    for (Py_ssize_t i = 0; i + 1 < xp.len; ++i) {
        if (xp.data[i] >= xp.data[i + 1]) return pv::fail(PyExc_ValueError, "'xp' must be increasing");
    }
    return check_domain(self, nullptr, xp.data[0], xp.data[xp.len - 1]);
}

double peval(TrajObj* self, double x) {
    Data t;
    if (!t.take(self) || !check_point(self, x)) return 0.0;
    return arcus.splpev(x, t.U, t.P, t.p);
}

void ceval(TrajObj* self, pv::ArrObj xp_obj) {
    pv::Buf buf;
    Data t;
    if (!buf.acquire(xp_obj.o, 1, "ceval", "xp") || !t.take(self)) return;
    const DArr xp = buf.arr();
    if (!check_points(self, xp)) return;
    arcus.splcev(xp, t.U, t.P, t.p);
}

// Derivatives of one point kept on the stack (min(nu, p) + 1 are used):
// every degree up to 15 evaluates without allocating.
constexpr std::size_t DPEVAL_STACK = 16;

double dpeval(TrajObj* self, double x, pv::OptInt<1> nu) {
    Data t;
    if (!t.take(self) || !check_point(self, x) || !check_nu(nu.v)) return 0.0;
    // Derivatives above the degree are zero: the entry computes up to
    // min(nu, p), so a huge nu costs nothing.
    const int d = nu.v < t.p ? nu.v : t.p;
    cardo::Scratch<double, DPEVAL_STACK> ck(static_cast<std::size_t>(d) + 1);
    if (!ck.ok()) {
        pv::fail_memory();
        return 0.0;
    }
    arcus.dsplpev(x, t.U, t.P, t.p, d, DArr{ck.data(), Py_ssize_t(d) + 1});
    if (PyErr_Occurred()) return 0.0;
    return nu.v > t.p ? 0.0 : ck[nu.v];
}

// Below this many points the derivative is evaluated directly.
constexpr Py_ssize_t DERIVATIVE_SPLINE_MIN = 64;

// The nu-th derivative at many points through the derivative spline: its
// control points once (O(n)), then plain evaluation, which is much cheaper
// per point than derivatives of the basis functions. The values are those of
// the direct evaluation to rounding. False (no error set, xp untouched) when
// the derivative spline cannot be formed (a knot repeated more often than
// its degree allows).
bool via_derivative_spline(const Data& t, DArr xp, int nu) {
    const DArr U = t.U, P = t.P;
    Mem uk, pk, vals;
    if (!uk.alloc(U.len) || !pk.alloc(P.len) || !vals.alloc(xp.len)) {
        PyErr_Clear();
        return false;
    }
    const int nk = arcus.dsplcpts2(U, P, t.p, nu, DArr{uk.get(), U.len}, DArr{pk.get(), P.len});
    if (PyErr_Occurred()) {
        PyErr_Clear();
        return false;
    }
    std::copy(xp.data, xp.data + xp.len, vals.get());
    const int pd = t.p - nu;
    arcus.splcev(DArr{vals.get(), xp.len}, DArr{uk.get(), Py_ssize_t(nk) + pd + 2},
                 DArr{pk.get(), Py_ssize_t(nk) + 1}, pd);
    if (PyErr_Occurred()) {
        PyErr_Clear();
        return false;
    }
    std::copy(vals.get(), vals.get() + xp.len, xp.data);
    return true;
}

void dceval(TrajObj* self, pv::ArrObj xp_obj, pv::OptInt<1> nu) {
    pv::Buf buf;
    Data t;
    if (!buf.acquire(xp_obj.o, 1, "dceval", "xp") || !t.take(self)) return;
    const DArr xp = buf.arr();
    if (!check_points(self, xp) || !check_nu(nu.v)) return;
    if (nu.v > 0 && nu.v <= t.p && xp.len >= DERIVATIVE_SPLINE_MIN &&
        via_derivative_spline(t, xp, nu.v)) {
        return;
    }
    Mem ck;
    if (!ck.alloc(xp.len)) return;
    arcus.dsplcev(xp, t.U, t.P, t.p, nu.v, nu.v,
                  DArr2{ck.get(), 1, xp.len});
    if (PyErr_Occurred()) return;
    std::copy(ck.get(), ck.get() + xp.len, xp.data);
}

PyObject* get_xcpts(TrajObj* self) {
    Data t;
    if (!t.take(self)) return nullptr;
    npy_intp dims[1] = {static_cast<npy_intp>(t.P.len)};
    pv::Ref c(PyArray_SimpleNew(1, dims, NPY_DOUBLE));
    if (!c) return nullptr;
    double* data = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(c.get())));
    arcus.averagcpts(t.U, t.p, DArr{data, dims[0]});
    return PyErr_Occurred() ? nullptr : c.release();
}

// ---------------------------------------------------------------- call operator

PyObject* call_scalar(TrajObj* self, double x, int nu) {
    double r;
    if (nu == 0) {
        r = traj_vtab.peval(self, x);
    } else {
        if (!check_nu(nu)) return nullptr;
        r = traj_vtab.dpeval(self, x, pv::OptInt<1>{nu});
    }
    return PyErr_Occurred() ? nullptr : PyFloat_FromDouble(r);
}

PyObject* call_array(TrajObj* self, PyObject* x, int nu) {
    // A copy of the caller's object as float64, converted as
    // numpy.array(x, dtype=float64) converts (unsafe casting, so arrays of
    // other dtypes are taken as numpy converts them).
    PyArray_Descr* f8 = PyArray_DescrFromType(NPY_DOUBLE);  // stolen below
    pv::Ref a(PyArray_FromAny(x, f8, 0, 0,
                              NPY_ARRAY_CARRAY | NPY_ARRAY_ENSURECOPY | NPY_ARRAY_FORCECAST, nullptr));
    if (!a) return nullptr;
    PyArrayObject* arr = reinterpret_cast<PyArrayObject*>(a.get());
    if (PyArray_NDIM(arr) > 1) return pv::fail(PyExc_ValueError, "'x' must be one-dimensional");
    if (PyArray_NDIM(arr) == 0) {
        npy_intp one[1] = {1};
        PyArray_Dims shape = {one, 1};
        a.reset(PyArray_Newshape(arr, &shape, NPY_CORDER));
        if (!a) return nullptr;
        arr = reinterpret_cast<PyArrayObject*>(a.get());
    }
    const npy_intp len = PyArray_DIM(arr, 0);
    const double* v = static_cast<const double*>(PyArray_DATA(arr));
    bool increasing = true;
    for (npy_intp i = 0; i + 1 < len && increasing; ++i) increasing = !(v[i] >= v[i + 1]);
    pv::Ref s, idx;
    if (increasing) {
        s = std::move(a);
    } else {
        npy_intp dims[1] = {len};
        idx.reset(PyArray_SimpleNew(1, dims, NPY_INTP));
        s.reset(idx ? PyArray_SimpleNew(1, dims, NPY_DOUBLE) : nullptr);
        if (!s) return nullptr;
        npy_intp* iv = static_cast<npy_intp*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(idx.get())));
        double* sv = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(s.get())));
        // Buckets over the domain as stored (linear time for times spread
        // over it): only the speed of the sort depends on the range.
        double a0 = 0.0, b0 = 0.0;
        if (self->_knotvector && self->_cpts) {
            a0 = self->_knotvector[0];
            b0 = self->_knotvector[self->p + self->n + 1];
        }
        static_assert(std::is_same<npy_intp, std::ptrdiff_t>::value,
                      "the kernel's indices are NumPy's");
        int info = 0;
        cardo::SortOrder(v, len - 1, a0, b0, sv, iv, info);
        if (info == cardo::NO_MEMORY) {
            pv::check_status(info);
            return nullptr;
        }
        if (info != cardo::OK) {
            return pv::fail(PyExc_SystemError, "unexpected status %d of the sort", info);
        }
    }
    if (nu != 0) {
        if (!check_nu(nu)) return nullptr;
        traj_vtab.dceval(self, pv::ArrObj{s.get()}, pv::OptInt<1>{nu});
    } else {
        traj_vtab.ceval(self, pv::ArrObj{s.get()});
    }
    if (PyErr_Occurred()) return nullptr;
    if (increasing) return s.release();
    // The results in the order of the caller's points.
    npy_intp dims[1] = {len};
    pv::Ref out(PyArray_SimpleNew(1, dims, NPY_DOUBLE));
    if (!out) return nullptr;
    PyArrayObject* sa = reinterpret_cast<PyArrayObject*>(s.get());
    if (PyArray_NDIM(sa) != 1 || PyArray_DIM(sa, 0) != len || PyArray_TYPE(sa) != NPY_DOUBLE) {
        return pv::fail(PyExc_ValueError, "the evaluated array changed its shape or type");
    }
    const double* sv = static_cast<const double*>(PyArray_DATA(sa));
    const npy_intp* iv = static_cast<const npy_intp*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(idx.get())));
    double* ov = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get())));
    for (npy_intp i = 0; i < len; ++i) ov[iv[i]] = sv[i];
    return out.release();
}

const char* const call_args[] = {"__call__", "x", "nu", nullptr};

}  // namespace

namespace {

// t(x, nu): the values at a scalar or at an array-like.
PyObject* evaluate(TrajObj* self, PyObject* x, int nu) {
    // Python floats and ints: the scalar path without asking NumPy.
    if (PyFloat_CheckExact(x)) return call_scalar(self, PyFloat_AS_DOUBLE(x), nu);
    if (PyLong_CheckExact(x)) {
        double v = PyLong_AsDouble(x);
        if (v == -1.0 && PyErr_Occurred()) return nullptr;
        return call_scalar(self, v, nu);
    }
    pv::Ref scalar(PyObject_CallOneArg(mods.isscalar, x));
    if (!scalar) return nullptr;
    int is = PyObject_IsTrue(scalar.get());
    if (is < 0) return nullptr;
    if (is) {
        pv::Ref f(PyNumber_Float(x));
        if (!f) return nullptr;
        return call_scalar(self, PyFloat_AS_DOUBLE(f.get()), nu);
    }
    return call_array(self, x, nu);
}

// The call operator as a method too, so that help() and inspect show its
// parameters (calls go through the type's vectorcall slot).
PyObject* call_as_method(TrajObj* self, pv::Obj x, pv::OptInt<0> nu) { return evaluate(self, x.o, nu.v); }

}  // namespace

PyObject* traj_vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    PyObject* objs[2];
    if (!pv::parse_args(call_args, 1, args, PyVectorcall_NARGS(nargsf), kwnames, objs)) return nullptr;
    int nu = 0;
    if (objs[1] && !pv::to_int(objs[1], nu)) return nullptr;
    return evaluate(reinterpret_cast<TrajObj*>(callable), objs[0], nu);
}

namespace {

const char* const peval_args[] = {"peval", "x", nullptr};
const char* const ceval_args[] = {"ceval", "xp", nullptr};
const char* const dpeval_args[] = {"dpeval", "x", "nu", nullptr};
const char* const dceval_args[] = {"dceval", "xp", "nu", nullptr};
const char* const xcpts_args[] = {"get_xcpts", nullptr};

using PevalM = pv::Method<peval, peval_args, pv::AnyObj, pv::Call::O>;
using CevalM = pv::Method<ceval, ceval_args, pv::AnyObj, pv::Call::O>;
using DpevalM = pv::Method<dpeval, dpeval_args>;
using DcevalM = pv::Method<dceval, dceval_args>;
using XcptsM = pv::Method<get_xcpts, xcpts_args, pv::AnyObj, pv::Call::NoArgs>;
using CallM = pv::Method<call_as_method, call_args>;

#define REFS "References\n----------\n" \
    NURBS_BOOK ", ch. 2 and 3.\n"
#define EMPTY_NOTE "ValueError for a trajectory without arrays.\n"

const char peval_doc[] =
    "Evaluates the trajectory.\n\n"
    "Parameters\n----------\nx : float\n    A point of the domain [start, stop].\n\n"
    "Returns\n-------\nfloat\n    y(x).\n\n"
    "Notes\n-----\nValueError \"'x' out of domain: x\" outside the domain. " EMPTY_NOTE "\n" REFS;
const char ceval_doc[] =
    "Evaluates the trajectory at increasing points, in place.\n\n"
    "Parameters\n----------\nxp : ndarray of float64\n    Strictly increasing points of the domain;\n"
    "    the array 'xp' is overwritten with the results.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\nValueError for an empty or non-increasing xp, or end points outside\n"
    "the domain (\"domain error\"), and for an xp that shares memory with the\n"
    "trajectory's own arrays (a view of them): the results would overwrite the\n"
    "knots or control points being read; pass a copy. " EMPTY_NOTE "\n" REFS;
const char dpeval_doc[] =
    "Evaluates the derivative of the trajectory.\n\n"
    "Parameters\n----------\nx : float\n    A point of the domain.\n"
    "nu : int, optional\n    Order of the derivative (default 1); 0 gives the value.\n\n"
    "Returns\n-------\nfloat\n    The nu-th derivative at x (0.0 above the degree).\n\n"
    "Notes\n-----\nValueError outside the domain and for nu < 0. " EMPTY_NOTE "\n" REFS;
const char dceval_doc[] =
    "Evaluates a derivative of the trajectory at increasing points,\n"
    "in place.\n\n"
    "Parameters\n----------\nxp : ndarray of float64\n    Strictly increasing points of the domain;\n"
    "    the array 'xp' is overwritten with the results.\n"
    "nu : int, optional\n    Order of the derivative (default 1).\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\nFor many points, derivative(nu) followed by ceval may be faster.\n"
    "The checks are those of ceval, then nu >= 0; an xp that shares memory with\n"
    "the trajectory's own arrays is read before anything is written. " EMPTY_NOTE "\n" REFS;
const char xcpts_doc[] =
    "Returns the x-coordinates of the control points.\n\n"
    "Parameters\n----------\nNone\n\n"
    "Returns\n-------\nndarray of float64\n    n + 1 values (U[i+1] + ... + U[i+p]) / p.\n\n"
    "Notes\n-----\nThe abscissa at which each control point acts (Greville abscissae).\n"
    EMPTY_NOTE "\n" REFS;

}  // namespace

const char call_doc[] =
    "Evaluates the trajectory, or a derivative, at x.\n\n"
    "Parameters\n----------\nx : float or array_like\n    A time, or times in any order.\n"
    "nu : int, optional\n    Order of the derivative (default 0, the value).\n\n"
    "Returns\n-------\nfloat or ndarray\n    A float for a scalar x; otherwise a new float64 array with the\n"
    "    values in the order of x.\n\n"
    "Notes\n-----\nScalars go to peval / dpeval, arrays (sorted first when needed) to\n"
    "ceval / dceval; a subclass's redefinitions of these are used. x is never\n"
    "written. ValueError for times outside the domain, repeated times, an\n"
    "array of more than one dimension and nu < 0.\n\n" REFS;

PyMethodDef traj_eval_methods[] = {
    PevalM::def(peval_doc),   CevalM::def(ceval_doc), DpevalM::def(dpeval_doc),
    DcevalM::def(dceval_doc), XcptsM::def(xcpts_doc),
    CallM::def(call_doc, METH_COEXIST),
    {nullptr, nullptr, 0, nullptr},
};

void fill_eval_slots(TrajVTab& v) {
    v.peval = PevalM::slot;
    v.ceval = CevalM::slot;
    v.dpeval = DpevalM::slot;
    v.dceval = DcevalM::slot;
}

}  // namespace ductus
