// pyvelt.arcus: the C entries of the spline function library.
//
// Every Python function of the module is the generic fast-call wrapper
// (pv::fastcall) around a C entry arcus::name, defined in the file of its
// family and declared there once (ARCUS_FUNCTION below). A C entry runs with
// the interpreter lock held, reports every failure as a raised Python
// exception and then returns a dummy result; a C-level caller tests
// PyErr_Occurred() after each call.
#pragma once

#include "arcus/cardo/scratch.h"
#include "common/pyhelp.hpp"
#include "common/status.hpp"

#include <cstddef>
#include <string>
#include <vector>

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

}  // namespace arcus

// The defaults in text signatures.
template <>
struct pv::DefaultText<const pv::OptTol*> {
    static std::string text() { return pv::double_text(arcus::DEFAULT_TOL); }
};
template <>
struct pv::DefaultText<const pv::OptDy*> {
    static std::string text() {
        return "(" + pv::double_text(arcus::DEFAULT_DY[0]) + ", " +
               pv::double_text(arcus::DEFAULT_DY[1]) + ")";
    }
};

namespace arcus {

// Raises the exception of a kernel status (nothing for 0 and for 7 and above
// but CANCELLED); returns false when one was raised.
inline bool check_info(int info) { return pv::check_status(info); }

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

// One function of the module, declared once beside its definition with
// ARCUS_FUNCTION (a Python function and a C entry) or ARCUS_C_ENTRY (a C
// entry only). The module frame builds everything from these: the method
// table, `__all__`, the module docstring's listing, the entry table
// `__pyx_capi__` with its signature texts, and each docstring's text
// signature. Positions are checked at import to number 0, 1, 2, ... without
// a gap.
struct Function {
    const char* name;
    const char* routine;                        // kernel routine it wraps, "-" for none
    int listed;                                 // row in the module's listing, or NOT_LISTED
    int published;                              // position in `__pyx_capi__`
    PyCFunction py;                             // nullptr for a C entry only
    std::string (*signature)(const char* const*);  // its text signature
    const char* const* names;                   // function name, then parameter names
    const char* doc;                            // docstring after its text signature
    pv::CEntry entry;
    // Registers the declaration (at load time).
    Function(const char* name, const char* routine, int listed, int published, PyCFunction py,
             std::string (*signature)(const char* const*), const char* const* names,
             const char* doc, pv::CEntry entry);
};
constexpr int NOT_LISTED = -1;

}  // namespace arcus

#define ARCUS_UNPAREN(...) __VA_ARGS__
#define ARCUS_DECLARE(fn, policy, routine, listed, published, params, doc)                       \
    const char* const fn##_names[] = {#fn, ARCUS_UNPAREN params, nullptr};                        \
    const arcus::Function fn##_function(                                                           \
        #fn, routine, listed, published,                                                           \
        PV_FASTCALL_CAST((pv::fastcall<arcus::fn, fn##_names, policy>)),                           \
        &pv::TextSignature<decltype(&arcus::fn)>::make, fn##_names, doc,                           \
        pv::centry<arcus::fn>(#fn))

// The declaration of a function of the module: the C entry arcus::fn, the
// kernel routine it wraps (for the module's listing), its row in that
// listing (whose Python functions, in order, are `__all__`), its position
// in the entry table, its parameter names in parentheses, and its
// docstring without the text signature, which is made from the names.
#define ARCUS_FUNCTION(fn, routine, listed, published, params, doc)                              \
    ARCUS_DECLARE(fn, pv::AsDefault, routine, listed, published, params, doc)
// The same for a function whose int result is a truth value.
#define ARCUS_PREDICATE(fn, routine, listed, published, params, doc)                             \
    ARCUS_DECLARE(fn, pv::AsBool, routine, listed, published, params, doc)
// A C entry that is not a Python function.
#define ARCUS_C_ENTRY(fn, routine, listed, published)                                            \
    const arcus::Function fn##_function(#fn, routine, listed, published, nullptr, nullptr,         \
                                        nullptr, nullptr, pv::centry<arcus::fn>(#fn))

// The book that most of the module's docstrings cite.
#define NURBS_BOOK "L. Piegl, W. Tiller, The NURBS Book, 2nd ed., Springer, 1997"
