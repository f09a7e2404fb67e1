// pyvelt.arcus: the C entries of the spline function library.
//
// Every Python-callable function of the module is the generic fast-call
// wrapper (pv::fastcall) around one of these C entries. A C entry runs with
// the interpreter lock held, reports every failure as a raised Python
// exception and then returns a dummy result; a C-level caller tests
// PyErr_Occurred() after each call.
#pragma once

#include "arcus/cardo/scratch.h"
#include "common/pyhelp.hpp"

#include <cstddef>

namespace arcus {

using pv::DArr;
using pv::DArr2;
using pv::IPair;
using pv::assert_check;
using pv::need_nonneg;
using pv::OptDy;
using pv::OptTol;

// Module defaults of the optional arguments.
constexpr double DEFAULT_TOL = 1e-11;
constexpr double DEFAULT_DY[2] = {0.0, 0.0};

inline double opt_tol(const OptTol* o) { return (o && o->n > 0) ? o->tol : DEFAULT_TOL; }
inline void opt_dy(const OptDy* o, double dy[2]) {
    dy[0] = (o && o->n > 0) ? o->dy[0] : DEFAULT_DY[0];
    dy[1] = (o && o->n > 0) ? o->dy[1] : DEFAULT_DY[1];
}

// Raises the exception of a kernel status (nothing for 0 and 7 and above);
// returns false when one was raised.
bool check_info(int info);

// Exception for a LAPACK status other than 0 (the same text for every
// solver); false when it raised.
bool lapack_check(int info);

// Once the kernel's own checks on p and n would pass (p >= 0 and n >= p), the
// knot vector must hold n + p + 2 knots; a shorter one is rejected (ValueError)
// before the kernel reads it.
bool knots_cover(const char* fname, const char* argname, DArr U, int n, int p);
// Work array of a call: the kernel's scratch memory (released on every exit
// path), whose `ok()` raises MemoryError when it could not be allocated.
template <typename T>
class Work : public cardo::Scratch<T> {
public:
    explicit Work(Py_ssize_t count)
        : cardo::Scratch<T>(count > 0 ? static_cast<std::size_t>(count) : 0) {}
    bool ok() const { return cardo::Scratch<T>::ok() ? true : pv::fail_memory(); }
    T& operator[](Py_ssize_t i) const { return this->data()[i]; }
};

// Highest index of an array (its length - 1) as a kernel int.
inline int hi(DArr a) { return static_cast<int>(a.len) - 1; }

// Python objects for the module: the functions of one family, and its C entries.
struct Family {
    const PyMethodDef* methods;  // terminated by a null name
    const pv::CEntry* entries;   // terminated by a null name
};

// ------------------------------------------------------------ knot vectors and spans
int validknots(int p, DArr U);
void eqspaced(DArr xp, int p, DArr U);
void averaging(DArr xp, int p, DArr U);
void averaging2(DArr xp, int p, DArr U);
void averaging3(DArr xp, int p, int k, int l, DArr U);
int distintknots(DArr U, int p);
void kevalappr(DArr xp, int p, DArr U);
void averagcpts(DArr U, int p, DArr C);
int findspan(int p, double u, DArr U);
IPair findspanmult(int p, double u, DArr U);
void knotsdegelev(DArr U, int p, DArr Uh);

// ------------------------------------------------------------ basis functions and evaluation
double bfunpev(double u, int span, DArr U, int p);
void bfuncev(DArr C, int span, DArr U, int p);
void bfunspev(double u, int span, DArr U, int p, DArr N);
void dbfunspev(double u, int span, DArr U, int p, int k, DArr2 nders);
double splpev(double u, DArr U, DArr P, int p);
void splcev(DArr C, DArr U, DArr P, int p);
void dsplpev(double u, DArr U, DArr P, int p, int d, DArr CK);
void dsplcev(DArr C, DArr U, DArr P, int p, int r1, int r2, DArr2 CK);

// ------------------------------------------------------------ derivative and antiderivative control points
void dsplcpts(DArr U, DArr P, int p, int d, int r1, int r2, DArr2 PK);
int dsplcpts2(DArr U, DArr P, int p, int d, DArr UK, DArr PK);
void asplcpts(DArr U, DArr P, int p, int d, DArr UK, DArr PK);

// ------------------------------------------------------------ knot insertion and refinement
void splkins(DArr UP, DArr P, int p, double u, int r, DArr UQ, DArr Q);
void splkref(DArr U, DArr P, int p, DArr X, DArr Ubar, DArr Q);

// ------------------------------------------------------------ knot removal
int splkrem(DArr U, DArr P, int p, double u, int num, const OptTol* opt);
int splksrem(DArr U, DArr P, int p, const OptTol* opt);
int splkrem_notol(DArr U, DArr P, int p, double u, int num);
double getbndrem(DArr U, DArr P, int p, double u);

// ------------------------------------------------------------ degree elevation
void degelevc(DArr U, DArr P, int p, int t, DArr Uh, DArr Q);

// ------------------------------------------------------------ Bezier utilities
double bezpev(double u, DArr P);
void bezcev(DArr C, DArr P);
double bezpev2(double u, DArr P);
void bezcev2(DArr C, DArr P);
double getbmtxelement(int p, int i, int j);
void getbezmat(int p, DArr M);

// ------------------------------------------------------------ interpolation
void gcsplint(DArr xp, DArr fp, int p, DArr U, DArr P);
void gdsplint(DArr xp, DArr fp, int p, DArr U, DArr P, const OptDy* opt);
void gadsplint(DArr xp, DArr fp, int p, DArr Ds, DArr De, DArr U, DArr P);
void cdsplint(DArr xp, DArr fp, DArr U, DArr P, const OptDy* opt);

// ------------------------------------------------------------ least-squares approximation
void gcsplapp(DArr xp, DArr fp, int p, DArr U, DArr P);
void gdsplapp(DArr xp, DArr fp, int p, DArr U, DArr P, const OptDy* opt);

// ------------------------------------------------------------ curve algebra
void splcjoin(DArr Ul, DArr Pl, DArr Ur, DArr Pr, int p, DArr UK, DArr PK);
PyObject* splcsli(DArr U, DArr P, int p, double u, DArr UK, DArr PK);
PyObject* knotuniondim(DArr U1, DArr U2, int p);
void splcsum(DArr U1, DArr P1, DArr U2, DArr P2, int p, int mk, DArr UK, int nk, DArr PK);

// ------------------------------------------------------------ families (one file each)
extern const Family family_knots;
extern const Family family_basis;
extern const Family family_deriv;
extern const Family family_insert;
extern const Family family_remove;
extern const Family family_degelev;
extern const Family family_bezier;
extern const Family family_interp;
extern const Family family_approx;
extern const Family family_algebra;

}  // namespace arcus

// A Python function of the module: the generic wrapper around the C entry of
// the same name, with its argument names `<name>_args` and docstring `<name>_doc`.
#define ARCUS_METHOD(name)                                                                   \
    PyMethodDef {                                                                            \
        #name, PV_FASTCALL_CAST((pv::fastcall<arcus::name, name##_args>)),                   \
            METH_FASTCALL | METH_KEYWORDS, name##_doc                                        \
    }
#define ARCUS_METHOD_BOOL(name)                                                              \
    PyMethodDef {                                                                            \
        #name, PV_FASTCALL_CAST((pv::fastcall<arcus::name, name##_args, pv::AsBool>)),       \
            METH_FASTCALL | METH_KEYWORDS, name##_doc                                        \
    }
#define ARCUS_METHODS_END PyMethodDef { nullptr, nullptr, 0, nullptr }
#define ARCUS_ENTRY(name) pv::centry<arcus::name>(#name)
#define ARCUS_ENTRIES_END pv::CEntry { nullptr, nullptr, nullptr }

// The book that most of the module's docstrings cite.
#define NURBS_BOOK "L. Piegl, W. Tiller, The NURBS Book, 2nd ed., Springer, 1997"
