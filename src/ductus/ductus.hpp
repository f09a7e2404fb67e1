// pyvelt.ductus: trajectory and point objects and their persistence.
//
// Each method of the three extension types is declared once, as a pv::Method
// (C implementation, argument names, result kind; docstring and flags where
// its method table lists it): the table entry, the signature line of the
// docstring and the C-level operation come from it. The types carry a table
// of C-level operations; C code calls an object's operations through its
// table, and the overridable ones call what Python code calling the method
// would reach (a subclass's redefinition, an instance attribute) instead of
// the built-in method (pv::dispatch). Where C code needs the unchecked result
// of such a call (the operators), it uses the declaration's `call`; a
// property is read for a subclass through pv::property.
//
// ductus reaches the kernel cardo in two ways: the evaluation, knot and
// algebra work goes through the C entries of pyvelt.arcus bound at import
// (DUCTUS_ARCUS_ENTRIES below); the routines it links from the kernel library
// are called directly: the interruption points (cancel.h), the limit routines
// (limits.h), the sort of the call operator (sort.h), the statuses
// (status.h) and the inline knot tolerances of cardo.h.
#pragma once

#include "common/pyobj.hpp"

namespace ductus {

using pv::DArr;
using pv::DArr2;
using pv::OptTol;

// A point in joint space: time, value and order of derivation.
struct c_point1d {
    double t;
    double val;
    unsigned int order;
};

// ---------------------------------------------------------------- instances

struct BaseObj;
struct PointObj;
struct TrajObj;

using StrArg = pv::StrOrNone;

// Operations of PyVELTObject; the subclasses' tables start with these.
struct BaseVTab {
    PyObject* (*c_loadxml)(StrArg fname, StrArg ID);
    PyObject* (*_getAttrib)(PyObject* self);
    void (*_addPyVELTObject)(PyObject* self, pv::Obj root, StrArg ID);
    void (*_updatePyVELTObject)(PyObject* self, pv::Obj tree, pv::Obj node, StrArg ID);
    void (*savexml)(PyObject* self, StrArg fname, StrArg ID);
};

struct BaseObj {
    PyObject_HEAD
    const BaseVTab* vtab;
};

struct PointVTab {
    BaseVTab base;
    PyObject* (*c_loadxml)(StrArg fname, StrArg ID);
    PyObject* (*copy)(PointObj* self);
};

struct PointObj {
    BaseObj base;
    c_point1d p;
};

struct TrajType {
    static PyTypeObject* type();
};
struct PointType {
    static PyTypeObject* type();
};
using TrajArg = pv::Inst<TrajType>;
using PointArg = pv::Inst<PointType>;
using TrajRes = pv::InstOrNone<TrajType>;

// Default tolerance of the knot-removal methods.
struct RemTol {
    static constexpr double value = 1e-13;
};


struct TrajVTab {
    BaseVTab base;
    PyObject* (*from_ptrs)(double* knotvector, double* cpts, int p, int n, unsigned order,
                           bool owner);
    PyObject* (*new_struct)(int p, int n, unsigned order);
    PyObject* (*c_loadxml)(StrArg fname, StrArg ID);
    int (*c_eq)(TrajObj* self, TrajObj* other);
    void (*c_vshift)(TrajObj* self, double x);
    void (*c_vscale)(TrajObj* self, double k);
    PyObject* (*c_splcsum)(TrajObj* self, TrajArg other);
    PyObject* (*c_splcmul)(TrajObj* self, TrajArg other);
    PyObject* (*_sget_knotvector)(TrajObj* self);
    PyObject* (*_sget_cpts)(TrajObj* self);
    void (*_dset_data)(TrajObj* self, pv::BytesOrNone knots, pv::BytesOrNone cpts, int p, int n,
                       unsigned order, pv::Truth owner);
    double (*peval)(TrajObj* self, double x);
    void (*ceval)(TrajObj* self, pv::ArrObj xp);
    double (*dpeval)(TrajObj* self, double x, pv::OptInt<1> nu);
    void (*dceval)(TrajObj* self, pv::ArrObj xp, pv::OptInt<1> nu);
    void (*c_hshift)(TrajObj* self, double x);
    void (*rshift)(TrajObj* self, double x);
    void (*ashift)(TrajObj* self, double x);
    void (*c_hscale)(TrajObj* self, double k);
    void (*hscale)(TrajObj* self, double k);
    void (*adapt)(TrajObj* self, double start, double stop);
    PyObject* (*derivative)(TrajObj* self, pv::OptInt<1> nu);
    PyObject* (*antiderivative)(TrajObj* self, pv::OptInt<1> nu);
    PyObject* (*knotins)(TrajObj* self, double u, int r);
    PyObject* (*knotref)(TrajObj* self, pv::ArrObj X);
    PyObject* (*knotrem)(TrajObj* self, double u, int r, pv::OptDouble<RemTol> tol);
    PyObject* (*knotsrem)(TrajObj* self, pv::OptDouble<RemTol> tol);
    PyObject* (*knotrem_notol)(TrajObj* self, double u, int r);
    PyObject* (*copy)(TrajObj* self);
    PyObject* (*degelev)(TrajObj* self, pv::OptInt<1> nu);
    void (*setValueTr_point)(TrajObj* self, PointArg p);
    void (*setValueTr_tuple)(TrajObj* self, pv::Obj p);
    void (*setValueAm_point)(TrajObj* self, PointArg p);
    void (*setValueAm_tuple)(TrajObj* self, pv::Obj p);
};

struct TrajObj {
    BaseObj base;
    int p;
    int n;
    unsigned int order;
    double* _knotvector;
    double* _cpts;
    int ptrs_owner;
    // The blocks behind _knotvector and _cpts (capsules, also the base
    // objects of the array views), or nullptr.
    PyObject* kstore;
    PyObject* cstore;
    vectorcallfunc vectorcall;
};

// ---------------------------------------------------------------- module state

// C entries of pyvelt.arcus, bound at import: each named once with its type,
// whose signature text is checked against the capsule's name.
#define DUCTUS_ARCUS_ENTRIES(X)                                                                     \
    X(distintknots, int, (DArr U, int p))                                                           \
    X(averagcpts, void, (DArr U, int p, DArr C))                                                    \
    X(splpev, double, (double u, DArr U, DArr P, int p))                                            \
    X(splcev, void, (DArr C, DArr U, DArr P, int p))                                                \
    X(dsplpev, void, (double u, DArr U, DArr P, int p, int d, DArr CK))                             \
    X(dsplcev, void, (DArr C, DArr U, DArr P, int p, int r1, int r2, DArr2 CK))                     \
    X(splkins, void, (DArr UP, DArr P, int p, double u, int r, DArr UQ, DArr Q))                    \
    X(splkrem, int, (DArr U, DArr P, int p, double u, int num, const OptTol* tol))                  \
    X(splksrem, int, (DArr U, DArr P, int p, const OptTol* tol))                                    \
    X(splkrem_notol, int, (DArr U, DArr P, int p, double u, int num))                               \
    X(degelevc, void, (DArr U, DArr P, int p, int t, DArr Uh, DArr Q))                              \
    X(asplcpts, void, (DArr U, DArr P, int p, int d, DArr UK, DArr PK))                             \
    X(dsplcpts2, int, (DArr U, DArr P, int p, int d, DArr UK, DArr PK))                             \
    X(splkref, void, (DArr U, DArr P, int p, DArr X, DArr Ubar, DArr Q))                            \
    X(knotuniondim, PyObject*, (DArr U1, DArr U2, int p))                                           \
    X(splcsum, void, (DArr U1, DArr P1, DArr U2, DArr P2, int p, int mk, DArr UK, int nk, DArr PK))
struct Arcus {
#define DUCTUS_ARCUS_FIELD(name, R, params) R(*name) params;
    DUCTUS_ARCUS_ENTRIES(DUCTUS_ARCUS_FIELD)
#undef DUCTUS_ARCUS_FIELD
};
extern Arcus arcus;

// Modules used at run time (imported once at initialisation).
struct Modules {
    PyObject* os;
    PyObject* etree;
    PyObject* pyvelt;
    PyObject* isscalar;  // numpy.isscalar
};
extern Modules mods;

extern PyTypeObject BaseType;
extern PyTypeObject PointTypeObj;
extern PyTypeObject TrajTypeObj;
extern PyObject* CorruptedFileError;
extern PyObject* ConvergenceError;

extern BaseVTab base_vtab;
extern PointVTab point_vtab;
extern TrajVTab traj_vtab;

// Readies the types (the module frame publishes them).
bool ready_base();
bool ready_point();
bool ready_traj();
// The module function behind PyVELTObject's pickling.
extern PyMethodDef unpickle_base_def;

inline const TrajVTab* vt(TrajObj* t) { return reinterpret_cast<const TrajVTab*>(t->base.vtab); }
inline const BaseVTab* vt(PyObject* o) { return reinterpret_cast<BaseObj*>(o)->vtab; }

// ---------------------------------------------------------------- docstring parts

// The book that most of the module's docstrings cite.
#define NURBS_BOOK "L. Piegl, W. Tiller, The NURBS Book, 2nd ed., Springer, 1997"
// The References section of the persistence methods.
#define LXML_REFS "References\n----------\nlxml.etree, https://lxml.de\n"

// ---------------------------------------------------------------- comparison and text forms

// a != b: the negation of a.__eq__(b), so that a redefined __eq__ decides
// both operators.
PyObject* not_equal(PyObject* a, PyObject* b);
// format(getattr(self, name), "") of each of names[0..k-1] into out[0..k-1]
// (every attribute read before any is formatted); false with the error set.
bool attr_texts(PyObject* self, const char* const* names, int k, pv::Ref* out);

// ---------------------------------------------------------------- persistence helpers

// The object's element in a parsed document: a list of the direct children of
// the root named `cls` whose ID attribute equals `ID` (None: "None"); `tail`
// (or nullptr) selects a child of those elements. The ID is an XPath
// variable, never part of the query text.
PyObject* query(PyObject* tree, PyObject* cls, PyObject* ID, const char* tail);
// The ID as element text: the str itself, or "None".
PyObject* id_text(PyObject* ID);
// Load steps shared by the classes: file name rule, parse, query, the first
// match (ValueError "no match for ID: ..."). Returns the element, and the
// parsed document in `tree` when asked.
PyObject* find_element(PyObject* fname, PyObject* ID, const char* cls, pv::Ref* tree = nullptr);
// Appends a child element named `tag` with the attributes of `attrib` to
// `parent` (new reference to the child).
PyObject* sub_element(PyObject* parent, PyObject* tag, PyObject* attrib);
// The attributes of a new element: ID first, then those of _getAttrib.
PyObject* element_attrib(PyObject* self, PyObject* ID);
// Sets on `node` every attribute of the object's _getAttrib, in order.
bool set_attributes(PyObject* self, PyObject* node);
// The name of the object's class.
PyObject* class_name(PyObject* self);

// ---------------------------------------------------------------- trajectory internals

// Builds a Trajectory1d around two blocks from the Python allocator; with
// `frees` the object releases them when no longer used. On failure the
// blocks are released when `frees` is set.
PyObject* make_traj(double* knots, double* cpts, int p, int n, unsigned order, bool owner,
                    bool frees);
// ValueError when the trajectory has no arrays.
bool need_data(TrajObj* t);
inline DArr knots_of(TrajObj* t) { return DArr{t->_knotvector, Py_ssize_t(t->p) + t->n + 2}; }
inline DArr cpts_of(TrajObj* t) { return DArr{t->_cpts, Py_ssize_t(t->n) + 1}; }

// The arrays of a trajectory as they are when taken, with references to
// their storage. Every method reads a trajectory's arrays through one of
// these: Python code that runs in the middle of the method (a subclass's
// redefinition, a property) or another thread may give the trajectory new
// arrays or drop them, but the memory in use stays alive and keeps its
// size. While pinned (around work done without the interpreter lock), the
// storage is also left unchanged: the in-place operations write to a copy.
class Data {
public:
    Data() = default;
    ~Data();
    Data(const Data&) = delete;
    Data& operator=(const Data&) = delete;
    // ValueError (need_data's) when the trajectory has no arrays.
    bool take(TrajObj* t);
    // Marks the storage as in use by work without the interpreter lock.
    void pin();
    DArr U{nullptr, 0};
    DArr P{nullptr, 0};
    int p = 0;
    int n = 0;
private:
    pv::Ref ks_, cs_;
    bool pinned_ = false;
};
// The knot vector or the control points of `t` for writing in place: the
// trajectory's own storage, or a copy installed in its place when pinned
// storage is in use elsewhere. ValueError without arrays, MemoryError.
double* writable(TrajObj* t, bool knots);
// The domain [start, stop], read through the properties for a subclass.
bool domain(TrajObj* t, double& start, double& stop);
// The trajectory's copy as `t.copy()` in Python gives it (a redefinition
// honoured), its result not checked: the operators check it themselves.
PyObject* operand_copy(TrajObj* t);
// Point1d.from_tuple(tup).
PyObject* point_from_tuple(PyObject* tup);
// The domain check of the methods: true when the times x0 <= x1 lie in
// [start, stop]; otherwise ValueError "'name' out of domain: x" for the one
// outside (x as repr() writes it), or "domain error" when `name` is null (a
// range of times). A NaN compares false and passes, as the evaluations have
// always let it through.
bool check_domain(TrajObj* t, const char* name, double x0, double x1);
// ValueError "'name' out of domain: x".
pv::Failure out_of_domain(const char* name, double x);
// Allocation failure, wherever it happens in the objects (a Mem block, a
// cardo::Scratch array, the kernel's status NO_MEMORY behind an entry or from
// a kernel routine), raises MemoryError "memory allocation failed" through
// pv::fail_memory (pv::check_status for a kernel status).
//
// Memory block of `count` doubles from the Python allocator, released unless
// handed over.
class Mem {
public:
    Mem() noexcept : p_(nullptr) {}
    ~Mem() { PyMem_Free(p_); }
    Mem(const Mem&) = delete;
    Mem& operator=(const Mem&) = delete;
    // MemoryError "memory allocation failed" (or ValueError for a count that is
    // not positive or beyond the 32-bit range).
    bool alloc(long long count);
    // Keeps the first `count` values (ValueError / MemoryError as alloc).
    bool shrink(long long count);
    double* get() const { return p_; }
    double* release() { double* r = p_; p_ = nullptr; return r; }
private:
    double* p_;
};

// A new owning Trajectory1d that takes over both blocks.
PyObject* new_traj(Mem& knots, Mem& cpts, long long p, long long n, unsigned order);
// Copies of the knot vector and control points.
bool copy_arrays(const Data& d, Mem& knots, Mem& cpts);

// Methods of Trajectory1d defined in the files of each concern.
extern PyMethodDef traj_eval_methods[];
extern PyMethodDef traj_edit_methods[];
extern PyMethodDef traj_algebra_methods[];
extern PyMethodDef traj_limits_methods[];
extern PyNumberMethods traj_number;
PyObject* traj_richcompare(PyObject* a, PyObject* b, int op);
PyObject* traj_vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf,
                          PyObject* kwnames);

// C-level operations defined in the files of each concern.
int traj_c_eq(TrajObj* self, TrajObj* other);
void traj_c_vshift(TrajObj* self, double x);
void traj_c_vscale(TrajObj* self, double k);
void traj_c_hshift(TrajObj* self, double x);
void traj_c_hscale(TrajObj* self, double k);
void fill_eval_slots(TrajVTab& t);
void fill_edit_slots(TrajVTab& t);
void fill_algebra_slots(TrajVTab& t);

}  // namespace ductus

namespace pv {
template <>
struct TypeText<ductus::c_point1d> {
    static constexpr const char* s = "struct c_point1d";
};
}  // namespace pv
