// Trajectory1d: fields, storage, construction, copying, pickling, array
// views, the XML mapping and the text forms.
#include "ductus/numpy.hpp"
#include "ductus/ductus.hpp"

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace ductus {

PyTypeObject* TrajType::type() { return &TrajTypeObj; }

namespace {

constexpr const char* STORE = "pyvelt.ductus.storage";

TrajObj* as_traj(PyObject* o) { return reinterpret_cast<TrajObj*>(o); }

// The storage of an array: a capsule that frees the block (when the
// trajectory allocated it) once neither the trajectory nor a view uses it.
void free_block(PyObject* cap) { PyMem_Free(PyCapsule_GetPointer(cap, STORE)); }

PyObject* new_store(double* data, bool frees) {
    return PyCapsule_New(data, STORE, frees ? free_block : nullptr);
}

// The number of pins of a storage capsule, kept in its context.
std::intptr_t pins(PyObject* store) {
    return reinterpret_cast<std::intptr_t>(PyCapsule_GetContext(store));
}
void add_pins(PyObject* store, std::intptr_t k) {
    PyCapsule_SetContext(store, reinterpret_cast<void*>(pins(store) + k));
}

void drop_arrays(TrajObj* t) {
    t->_knotvector = nullptr;
    t->_cpts = nullptr;
    Py_CLEAR(t->kstore);
    Py_CLEAR(t->cstore);
}

PyObject* traj_new(PyTypeObject* type, PyObject*, PyObject*) {
    PyObject* o = type->tp_alloc(type, 0);
    if (!o) return nullptr;
    TrajObj* t = as_traj(o);
    t->base.vtab = &traj_vtab.base;
    t->p = t->n = 0;
    t->order = 0;
    t->_knotvector = t->_cpts = nullptr;
    t->ptrs_owner = 0;
    t->kstore = t->cstore = nullptr;
    t->vectorcall = traj_vectorcall;
    return o;
}

void traj_dealloc(PyObject* o) {
    drop_arrays(as_traj(o));
    Py_TYPE(o)->tp_free(o);
}

PyObject* from_ptrs(double* knots, double* cpts, int p, int n, unsigned order, bool owner) {
    return make_traj(knots, cpts, p, n, order, owner, owner);
}

PyObject* new_struct(int p, int n, unsigned order) {
    Mem k, c;
    if (!k.alloc(static_cast<long long>(p) + n + 2) || !c.alloc(static_cast<long long>(n) + 1)) {
        return nullptr;
    }
    return new_traj(k, c, p, n, order);
}

// ---------------------------------------------------------------- properties

PyObject* get_p(PyObject* o, void*) { return PyLong_FromLong(as_traj(o)->p); }
PyObject* get_n(PyObject* o, void*) { return PyLong_FromLong(as_traj(o)->n); }
PyObject* get_order(PyObject* o, void*) { return PyLong_FromUnsignedLong(as_traj(o)->order); }
PyObject* get_start(PyObject* o, void*) {
    TrajObj* t = as_traj(o);
    if (!t->_knotvector) Py_RETURN_NONE;
    return PyFloat_FromDouble(t->_knotvector[0]);
}
PyObject* get_stop(PyObject* o, void*) {
    TrajObj* t = as_traj(o);
    if (!t->_knotvector) Py_RETURN_NONE;
    return PyFloat_FromDouble(t->_knotvector[t->p + t->n + 1]);
}

PyGetSetDef traj_getset[] = {
    {"p", get_p, nullptr, "Degree of the B-spline (int).", nullptr},
    {"n", get_n, nullptr, "Highest index of the control points (int).", nullptr},
    {"order", get_order, nullptr, "Order of derivation the trajectory refers to (int).", nullptr},
    {"start", get_start, nullptr, "Left end of the curve domain.", nullptr},
    {"stop", get_stop, nullptr, "Right end of the curve domain.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ---------------------------------------------------------------- copying and pickling

PyObject* traj_copy(TrajObj* self) {
    Data d;
    Mem k, c;
    if (!d.take(self) || !copy_arrays(d, k, c)) return nullptr;
    return new_traj(k, c, d.p, d.n, self->order);
}
PyObject* traj_dunder_copy(TrajObj* self) { return traj_vtab.copy(self); }
PyObject* traj_deepcopy(TrajObj* self, pv::Obj) { return traj_vtab.copy(self); }

PyObject* array_bytes(const double* data, Py_ssize_t len) {
    if (!data) Py_RETURN_NONE;
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data),
                                     static_cast<Py_ssize_t>(sizeof(double)) * len);
}
PyObject* sget_knotvector(TrajObj* self) {
    return array_bytes(self->_knotvector, Py_ssize_t(self->p) + self->n + 2);
}
PyObject* sget_cpts(TrajObj* self) { return array_bytes(self->_cpts, Py_ssize_t(self->n) + 1); }

// Array sizes of the degree p and highest index n: ValueError unless both
// are positive and within the 32-bit range.
bool array_sizes(long long p, long long n, const char* what, Py_ssize_t& nk, Py_ssize_t& nc) {
    const long long k = p + n + 2, c = n + 1;
    if (k < 1 || c < 1 || k > INT_MAX || c > INT_MAX) {
        return pv::fail(PyExc_ValueError,
                        "%s: p = %lld and n = %lld do not give valid array sizes "
                        "(p + n + 2 knots, n + 1 control points)",
                        what, p, n);
    }
    nk = static_cast<Py_ssize_t>(k);
    nc = static_cast<Py_ssize_t>(c);
    return true;
}

bool need_bytes(PyObject* b, const char* name, Py_ssize_t count) {
    if (b == Py_None) return true;
    const Py_ssize_t need = count * static_cast<Py_ssize_t>(sizeof(double));
    if (PyBytes_GET_SIZE(b) == need) return true;
    return pv::fail(PyExc_ValueError, "_dset_data(): '%s' must hold %zd bytes (8 per value), got %zd",
                    name, need, PyBytes_GET_SIZE(b));
}

// Fills a new block from `b` and installs it.
bool install(TrajObj* t, PyObject* b, Py_ssize_t count, bool knots) {
    if (b == Py_None) return pv::fail(PyExc_TypeError, "expected bytes, NoneType found");
    Mem m;
    if (!m.alloc(count)) return false;
    std::memcpy(m.get(), PyBytes_AS_STRING(b), sizeof(double) * count);
    pv::Ref store(new_store(m.get(), true));
    if (!store) return false;
    (knots ? t->_knotvector : t->_cpts) = m.release();
    (knots ? t->kstore : t->cstore) = store.release();
    return true;
}

void dset_data(TrajObj* self, pv::BytesOrNone knots, pv::BytesOrNone cpts, int p, int n,
               unsigned order, pv::Truth owner) {
    Py_ssize_t nk = 0, nc = 0;
    if (!array_sizes(p, n, "_dset_data()", nk, nc) || !need_bytes(knots.o, "knots", nk) ||
        !need_bytes(cpts.o, "cpts", nc)) {
        return;
    }
    drop_arrays(self);
    self->p = p;
    self->n = n;
    self->order = order;
    self->ptrs_owner = owner.v;
    if (install(self, knots.o, nk, true)) install(self, cpts.o, nc, false);
}

PyObject* getstate(TrajObj* self) {
    pv::Ref k(traj_vtab._sget_knotvector(self));
    pv::Ref c(k ? traj_vtab._sget_cpts(self) : nullptr);
    if (!c) return nullptr;
    return Py_BuildValue("(OOiiIO)", k.get(), c.get(), self->p, self->n, self->order,
                         self->ptrs_owner ? Py_True : Py_False);
}

PyObject* setstate(TrajObj* self, pv::Obj state) {
    pv::Ref args(PySequence_Tuple(state.o));
    pv::Ref fn(args ? pv::getattr(reinterpret_cast<PyObject*>(self), "_dset_data") : nullptr);
    pv::Ref r(fn ? PyObject_Call(fn.get(), args.get(), nullptr) : nullptr);
    if (!r) return nullptr;
    Py_RETURN_NONE;
}

// ---------------------------------------------------------------- array views

PyObject* view(double* data, Py_ssize_t len, PyObject* store) {
    if (!data) Py_RETURN_NONE;
    npy_intp dims[1] = {static_cast<npy_intp>(len)};
    pv::Ref arr(PyArray_SimpleNewFromData(1, dims, NPY_DOUBLE, data));
    if (!arr) return nullptr;
    Py_INCREF(store);
    if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(arr.get()), store) < 0) return nullptr;
    return arr.release();
}
PyObject* knots_view(TrajObj* self) {
    return view(self->_knotvector, Py_ssize_t(self->p) + self->n + 2, self->kstore);
}
PyObject* cpts_view(TrajObj* self) { return view(self->_cpts, Py_ssize_t(self->n) + 1, self->cstore); }

// ---------------------------------------------------------------- XML

PyObject* array_text(DArr a) {
    std::string s;
    s.reserve(static_cast<std::size_t>(a.len) * 20);
    for (Py_ssize_t i = 0; i < a.len; ++i) {
        if (i) s += ' ';
        s += pv::double_text(a.data[i]);
    }
    return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

bool set_text(PyObject* el, DArr a) {
    pv::Ref text(array_text(a));
    return text && pv::setattr(el, "text", text.get()) == 0;
}

PyObject* traj_getattrib(PyObject* o) {
    TrajObj* self = as_traj(o);
    pv::Ref start(pv::getattr(o, "start"));
    pv::Ref stop(start ? pv::getattr(o, "stop") : nullptr);
    pv::Ref tstart(stop ? PyObject_Str(start.get()) : nullptr);
    pv::Ref tstop(tstart ? PyObject_Str(stop.get()) : nullptr);
    if (!tstop) return nullptr;
    return Py_BuildValue("{s:N,s:N,s:s,s:N,s:O,s:O}", "p", PyUnicode_FromFormat("%d", self->p), "n",
                         PyUnicode_FromFormat("%d", self->n), "owner",
                         self->ptrs_owner ? "True" : "False", "order",
                         PyUnicode_FromFormat("%u", self->order), "start", tstart.get(), "stop",
                         tstop.get());
}

// The arrays are taken after the object's own methods (_getAttrib) have run,
// so that the element holds the arrays the trajectory has when written.
void traj_add(PyObject* o, pv::Obj root, StrArg ID) {
    TrajObj* self = as_traj(o);
    if (!need_data(self)) return;
    pv::Ref attrib(element_attrib(o, ID.o));
    pv::Ref tag(attrib ? class_name(o) : nullptr);
    Data d;
    if (!tag || !d.take(self)) return;
    pv::Ref el(sub_element(root.o, tag.get(), attrib.get()));
    if (!el) return;
    for (int i = 0; i < 2; ++i) {
        pv::Ref name(PyUnicode_FromString(i == 0 ? "cpts" : "knots"));
        pv::Ref child(name ? pv::call_method(mods.etree, "SubElement", el.get(), name.get()) : nullptr);
        if (!child || !set_text(child.get(), i == 0 ? d.P : d.U)) return;
    }
}

PyObject* first_child(PyObject* tree, PyObject* cls, PyObject* ID, const char* tail) {
    pv::Ref found(query(tree, cls, ID, tail));
    if (!found) return nullptr;
    if (PyObject_Length(found.get()) < 1) {
        return PyErr_Occurred() ? nullptr : pv::fail(PyExc_IndexError, "list index out of range");
    }
    return PySequence_GetItem(found.get(), 0);
}

void traj_update(PyObject* o, pv::Obj tree, pv::Obj node, StrArg ID) {
    TrajObj* self = as_traj(o);
    if (!need_data(self)) return;
    if (!set_attributes(o, node.o)) return;
    pv::Ref cls(class_name(o));
    pv::Ref cpts(cls ? first_child(tree.o, cls.get(), ID.o, "/cpts") : nullptr);
    pv::Ref knots(cpts ? first_child(tree.o, cls.get(), ID.o, "/knots") : nullptr);
    Data d;
    if (!knots || !d.take(self) || !set_text(cpts.get(), d.P)) return;
    set_text(knots.get(), d.U);
}

// int(node.get(name)) as a 32-bit int.
bool int_attr(PyObject* node, const char* name, int& out) {
    pv::Ref key(PyUnicode_FromString(name));
    pv::Ref text(key ? pv::call_method(node, "get", key.get()) : nullptr);
    pv::Ref v(text ? PyNumber_Long(text.get()) : nullptr);
    return v && pv::to_int(v.get(), out);
}

// The numbers of a child's text, split at single spaces; at least `need`.
bool parse_numbers(PyObject* el, const char* name, Py_ssize_t need, Mem& out) {
    pv::Ref text(pv::getattr(el, "text"));
    if (!text) return false;
    if (text.get() == Py_None) {
        return pv::fail(PyExc_AttributeError, "'NoneType' object has no attribute 'split'");
    }
    pv::Ref sep(PyUnicode_FromString(" "));
    pv::Ref parts(sep ? PyUnicode_Split(text.get(), sep.get(), -1) : nullptr);
    if (!parts) return false;
    const Py_ssize_t have = PyList_GET_SIZE(parts.get());
    if (have < need) {
        return pv::fail(PyExc_ValueError, "the '%s' element holds %zd numbers, %zd needed", name, have,
                        need);
    }
    if (!out.alloc(need)) return false;
    for (Py_ssize_t i = 0; i < have; ++i) {
        // Every piece must be a number, also those beyond the ones used.
        pv::Ref f(PyFloat_FromString(PyList_GET_ITEM(parts.get(), i)));
        if (!f) return false;
        if (i < need) out.get()[i] = PyFloat_AS_DOUBLE(f.get());
    }
    return true;
}

PyObject* traj_c_loadxml(StrArg fname, StrArg ID) {
    pv::Ref tree;
    pv::Ref node(find_element(fname.o, ID.o, "Trajectory1d", &tree));
    if (!node) return nullptr;
    int p, n, order;
    if (!int_attr(node.get(), "p", p) || !int_attr(node.get(), "n", n) ||
        !int_attr(node.get(), "order", order)) {
        return nullptr;
    }
    pv::Ref owner_text(pv::call_method(node.get(), "get", pv::Ref(PyUnicode_FromString("owner")).get()));
    if (!owner_text) return nullptr;
    int owner = PyObject_IsTrue(owner_text.get());
    if (owner < 0) return nullptr;
    Py_ssize_t nk = 0, nc = 0;
    if (!array_sizes(p, n, "Trajectory1d element", nk, nc)) return nullptr;
    pv::Ref cls(PyUnicode_FromString("Trajectory1d"));
    pv::Ref kel(cls ? first_child(tree.get(), cls.get(), ID.o, "/knots") : nullptr);
    pv::Ref cel(kel ? first_child(tree.get(), cls.get(), ID.o, "/cpts") : nullptr);
    if (!cel) return nullptr;
    Mem k, c;
    if (!parse_numbers(kel.get(), "knots", nk, k) || !parse_numbers(cel.get(), "cpts", nc, c)) {
        return nullptr;
    }
    // The arrays are the object's own: released with it whatever its flag.
    return make_traj(k.release(), c.release(), p, n, static_cast<unsigned>(order), owner > 0, true);
}

PyObject* traj_loadxml(PyObject*, StrArg fname, StrArg ID) { return traj_vtab.c_loadxml(fname, ID); }

// ---------------------------------------------------------------- text forms

PyObject* text_form(PyObject* o, const char* fmt) {
    static const char* const ends[] = {"start", "stop"};
    TrajObj* self = as_traj(o);
    pv::Ref s[2];
    if (!attr_texts(o, ends, 2, s)) return nullptr;
    return PyUnicode_FromFormat(fmt, s[0].get(), s[1].get(), self->p, self->n, self->order);
}
PyObject* traj_repr(PyObject* o) {
    return text_form(o, "{'start': %U, 'stop': %U, 'p': %d, 'n': %d, 'order': %u}");
}
PyObject* traj_str(PyObject* o) {
    return text_form(o, "Trajectory1d(start = %U, stop = %U, p = %d, n = %d, order = %u)");
}

// ---------------------------------------------------------------- tables

const char* const copy_args[] = {"copy", nullptr};
const char* const dcopy_args[] = {"__copy__", nullptr};
const char* const deepcopy_args[] = {"__deepcopy__", "memo", nullptr};
const char* const sget_k_args[] = {"_sget_knotvector", nullptr};
const char* const sget_c_args[] = {"_sget_cpts", nullptr};
const char* const dset_args[] = {"_dset_data", "knots", "cpts", "p", "n", "order", "owner", nullptr};
const char* const getstate_args[] = {"__getstate__", nullptr};
const char* const setstate_args[] = {"__setstate__", "state", nullptr};
const char* const kview_args[] = {"get_knotvector_asarray", nullptr};
const char* const cview_args[] = {"get_cpts_asarray", nullptr};
const char* const getattrib_args[] = {"_getAttrib", nullptr};
const char* const add_args[] = {"_addPyVELTObject", "root", "ID", nullptr};
const char* const update_args[] = {"_updatePyVELTObject", "tree", "node", "ID", nullptr};
const char* const loadxml_args[] = {"loadxml", "fname", "ID", nullptr};

using CopyM = pv::Method<traj_copy, copy_args, TrajRes, pv::Call::NoArgs>;
using DCopyM = pv::Method<traj_dunder_copy, dcopy_args, pv::AnyObj, pv::Call::NoArgs>;
using DeepCopyM = pv::Method<traj_deepcopy, deepcopy_args>;
using SgetKM = pv::Method<sget_knotvector, sget_k_args, pv::BytesOrNoneRes, pv::Call::NoArgs>;
using SgetCM = pv::Method<sget_cpts, sget_c_args, pv::BytesOrNoneRes, pv::Call::NoArgs>;
using DsetM = pv::Method<dset_data, dset_args>;
using GetstateM = pv::Method<getstate, getstate_args, pv::AnyObj, pv::Call::NoArgs>;
using SetstateM = pv::Method<setstate, setstate_args, pv::AnyObj, pv::Call::O>;
using KViewM = pv::Method<knots_view, kview_args, pv::AnyObj, pv::Call::NoArgs>;
using CViewM = pv::Method<cpts_view, cview_args, pv::AnyObj, pv::Call::NoArgs>;
using GetAttribM = pv::Method<traj_getattrib, getattrib_args, pv::DictOrNone, pv::Call::NoArgs>;
using AddM = pv::Method<traj_add, add_args>;
using UpdateM = pv::Method<traj_update, update_args>;
using LoadM = pv::Method<traj_loadxml, loadxml_args>;

#define NO_PARAMS "Parameters\n----------\nNone\n\n"
#define NO_REFS "References\n----------\nNone\n"

const char copy_doc[] =
    "Return a copy of the object.\n\n" NO_PARAMS
    "Returns\n-------\nTrajectory1d\n    A new trajectory with its own copies of the arrays.\n\n"
    "Notes\n-----\nThe copy owns its arrays whatever the flag of the source.\n\n" NO_REFS;
const char dcopy_doc[] =
    "Return self.copy().\n\n" NO_PARAMS
    "Returns\n-------\nTrajectory1d\n\nNotes\n-----\nUsed by copy.copy.\n\n" NO_REFS;
const char deepcopy_doc[] =
    "Return self.copy().\n\n"
    "Parameters\n----------\nmemo : dict\n    Ignored.\n\n"
    "Returns\n-------\nTrajectory1d\n\nNotes\n-----\nUsed by copy.deepcopy.\n\n" NO_REFS;
const char sget_k_doc[] =
    "Need to pickle protocol.\n\n" NO_PARAMS
    "Returns\n-------\nbytes or None\n    The knots as stored (native float64), None without arrays.\n\n"
    "Notes\n-----\n8 * (p + n + 2) bytes.\n\n" NO_REFS;
const char sget_c_doc[] =
    "Need to pickle protocol.\n\n" NO_PARAMS
    "Returns\n-------\nbytes or None\n    The control points as stored, None without arrays.\n\n"
    "Notes\n-----\n8 * (n + 1) bytes.\n\n" NO_REFS;
const char dset_doc[] =
    "Need to pickle protocol: replaces the data of the object.\n\n"
    "Parameters\n----------\n"
    "knots : bytes\n    8 * (p + n + 2) bytes of native float64 knots.\n"
    "cpts : bytes\n    8 * (n + 1) bytes of control points.\n"
    "p : int\n    Degree.\nn : int\n    Highest index of the control points.\n"
    "order : int\n    Order of derivation (non-negative).\n"
    "owner : bool\n    Ownership flag.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\nNew arrays are allocated and filled; ValueError for byte strings of\n"
    "another length. Views taken before keep the old arrays.\n\n" NO_REFS;
const char getstate_doc[] =
    "The pickle state.\n\n" NO_PARAMS
    "Returns\n-------\ntuple\n    (knot bytes, control-point bytes, p, n, order, owner).\n\n"
    "Notes\n-----\nThe byte strings come from _sget_knotvector and _sget_cpts.\n\n" NO_REFS;
const char setstate_doc[] =
    "Restores a pickle state.\n\n"
    "Parameters\n----------\nstate : tuple\n    The six items of __getstate__.\n\n"
    "Returns\n-------\nNone\n\nNotes\n-----\nCalls self._dset_data(*state).\n\n" NO_REFS;
const char kview_doc[] =
    "Creates an array wrapper around '_knotvector' pointer.\n\n" NO_PARAMS
    "Returns\n-------\nndarray or None\n    float64 view of the p + n + 2 knots (no copy).\n\n"
    "Notes\n-----\nWrites through the view change the trajectory. The view keeps the\n"
    "storage alive after the trajectory is gone or has been given new arrays.\n\n" NO_REFS;
const char cview_doc[] =
    "Creates an array wrapper around '_cpts' pointer.\n\n" NO_PARAMS
    "Returns\n-------\nndarray or None\n    float64 view of the n + 1 control points (no copy).\n\n"
    "Notes\n-----\nWrites through the view change the trajectory. The view keeps the\n"
    "storage alive after the trajectory is gone or has been given new arrays.\n\n" NO_REFS;
const char getattrib_doc[] =
    "Returns the attributes of the object as a dictionary.\n\n" NO_PARAMS
    "Returns\n-------\ndict\n    'p', 'n', 'owner', 'order', 'start', 'stop' as texts.\n\n"
    "Notes\n-----\nstart and stop are read through attribute access.\n\n" NO_REFS;
const char add_doc[] =
    "Appends an element for the trajectory to the document root.\n\n"
    "Parameters\n----------\nroot : lxml element\n    The document root.\n"
    "ID : str\n    The object ID.\n\nReturns\n-------\nNone\n\n"
    "Notes\n-----\nThe element holds the children 'cpts' and 'knots'.\n\n" NO_REFS;
const char update_doc[] =
    "Rewrites the element of the trajectory in a document.\n\n"
    "Parameters\n----------\ntree : lxml element tree\n    The document.\n"
    "node : lxml element\n    The element of the trajectory.\nID : str\n    The object ID.\n\n"
    "Returns\n-------\nNone\n\nNotes\n-----\nIndexError when a 'cpts' or 'knots' child is missing.\n\n" NO_REFS;
const char loadxml_doc[] =
    "Method to load a Trajectory1d object from a file in .xml format.\n\n"
    "Parameters\n----------\n"
    "fname : str\n    The file name; the .pyvelt extension is used when none is given.\n"
    "ID : str\n    The object ID.\n\n"
    "Returns\n-------\nTrajectory1d\n\n"
    "Notes\n-----\nValueError \"no match for ID: ...\" when the document holds no\n"
    "Trajectory1d element with this ID, and for an element whose p and n give no\n"
    "valid sizes or whose texts hold too few numbers. The knot vector is not\n"
    "validated.\n\n"
    LXML_REFS;

PyMethodDef traj_core_methods[] = {
    CopyM::def(copy_doc),
    DCopyM::def(dcopy_doc),
    DeepCopyM::def(deepcopy_doc),
    SgetKM::def(sget_k_doc),
    SgetCM::def(sget_c_doc),
    DsetM::def(dset_doc),
    GetstateM::def(getstate_doc),
    SetstateM::def(setstate_doc),
    KViewM::def(kview_doc),
    CViewM::def(cview_doc),
    GetAttribM::def(getattrib_doc),
    AddM::def(add_doc),
    UpdateM::def(update_doc),
    LoadM::def(loadxml_doc, METH_STATIC),
    {nullptr, nullptr, 0, nullptr},
};

const char traj_doc[] =
    "One-dimensional trajectory extension type.\n\n"
    "A B-spline function y(x) of degree p with knot vector U[0..p+n+1] and\n"
    "control points P[0..n], with the order of derivation it stands for\n"
    "(0 displacement, 1 velocity, 2 acceleration, 3 jerk, ...).\n\n"
    "Attributes\n----------\n"
    "p, n, order : int\n    Degree, highest control-point index, order of derivation.\n"
    "start, stop : float\n    The domain [U[0], U[p+n+1]] (None without arrays).\n\n"
    "Methods\n-------\n"
    "Evaluation: peval, ceval, dpeval, dceval, the call t(x, nu=0), get_xcpts.\n"
    "Domain and calculus: rshift, ashift, hscale, adapt, derivative, antiderivative,\n"
    "degelev.\n"
    "Knots: knotins, knotref, knotrem, knotsrem, knotrem_notol.\n"
    "Algebra: +, -, *, / with numbers and trajectories, in-place forms, negation\n"
    "(in place), ==, c_splcsum, setValueTr, setValueAm.\n"
    "Limits: extrema, violations, timescale, roughness.\n"
    "Data: copy, get_knotvector_asarray, get_cpts_asarray, savexml, loadxml.\n";

}  // namespace

TrajVTab traj_vtab;
PyTypeObject TrajTypeObj = pv::type_head();

PyObject* make_traj(double* knots, double* cpts, int p, int n, unsigned order, bool owner,
                    bool frees) {
    pv::Ref o(traj_new(&TrajTypeObj, nullptr, nullptr));
    pv::Ref ks(o ? new_store(knots, frees) : nullptr);
    pv::Ref cs(ks ? new_store(cpts, frees) : nullptr);
    if (!cs) {
        if (frees) {
            if (!ks) PyMem_Free(knots);
            PyMem_Free(cpts);
        }
        return nullptr;
    }
    TrajObj* t = as_traj(o.get());
    t->p = p;
    t->n = n;
    t->order = order;
    t->ptrs_owner = owner;
    t->_knotvector = knots;
    t->_cpts = cpts;
    t->kstore = ks.release();
    t->cstore = cs.release();
    return o.release();
}

bool need_data(TrajObj* t) {
    if (t->_knotvector && t->_cpts) return true;
    return pv::fail(PyExc_ValueError,
                    "the trajectory is empty: it has no knot vector and control points");
}

bool domain(TrajObj* t, double& start, double& stop) {
    PyObject* o = reinterpret_cast<PyObject*>(t);
    return pv::property(o, "start", [t] { return t->_knotvector[0]; }, start) &&
           pv::property(o, "stop", [t] { return t->_knotvector[t->p + t->n + 1]; }, stop);
}

PyObject* operand_copy(TrajObj* t) { return CopyM::call<pv::AnyObj>(t); }

bool check_domain(TrajObj* t, const char* name, double x0, double x1) {
    double a, b;
    if (!domain(t, a, b)) return false;
    if (!(x0 < a || x1 > b)) return true;
    if (!name) return pv::fail(PyExc_ValueError, "domain error");
    return out_of_domain(name, x0 < a ? x0 : x1);
}

pv::Failure out_of_domain(const char* name, double x) {
    return pv::fail(PyExc_ValueError, "'%s' out of domain: %s", name, pv::double_text(x).c_str());
}

PyObject* new_traj(Mem& knots, Mem& cpts, long long p, long long n, unsigned order) {
    return make_traj(knots.release(), cpts.release(), static_cast<int>(p), static_cast<int>(n), order,
                     true, true);
}

bool copy_arrays(const Data& d, Mem& knots, Mem& cpts) {
    if (!knots.alloc(d.U.len) || !cpts.alloc(d.P.len)) return false;
    std::memcpy(knots.get(), d.U.data, sizeof(double) * d.U.len);
    std::memcpy(cpts.get(), d.P.data, sizeof(double) * d.P.len);
    return true;
}

bool Data::take(TrajObj* t) {
    if (!need_data(t)) return false;
    U = knots_of(t);
    P = cpts_of(t);
    p = t->p;
    n = t->n;
    ks_ = pv::Ref::borrow(t->kstore);
    cs_ = pv::Ref::borrow(t->cstore);
    return true;
}

void Data::pin() {
    if (pinned_ || !ks_) return;
    add_pins(ks_.get(), 1);
    add_pins(cs_.get(), 1);
    pinned_ = true;
}

Data::~Data() {
    if (!pinned_) return;
    add_pins(ks_.get(), -1);
    add_pins(cs_.get(), -1);
}

double* writable(TrajObj* t, bool knots) {
    if (!need_data(t)) return nullptr;
    PyObject*& store = knots ? t->kstore : t->cstore;
    double*& data = knots ? t->_knotvector : t->_cpts;
    if (pins(store) == 0) return data;
    const DArr a = knots ? knots_of(t) : cpts_of(t);
    Mem m;
    if (!m.alloc(a.len)) return nullptr;
    std::memcpy(m.get(), a.data, sizeof(double) * a.len);
    PyObject* fresh = new_store(m.get(), true);
    if (!fresh) return nullptr;
    data = m.release();
    Py_SETREF(store, fresh);
    return data;
}

bool Mem::alloc(long long count) {
    if (count < 1 || count > INT_MAX) {
        return pv::fail(PyExc_ValueError, "array size %lld out of range", count);
    }
    PyMem_Free(p_);
    p_ = static_cast<double*>(PyMem_Malloc(static_cast<std::size_t>(count) * sizeof(double)));
    return p_ ? true : pv::fail_memory();
}

bool Mem::shrink(long long count) {
    if (count < 1 || count > INT_MAX) {
        return pv::fail(PyExc_ValueError, "array size %lld out of range", count);
    }
    void* q = PyMem_Realloc(p_, static_cast<std::size_t>(count) * sizeof(double));
    if (!q) return pv::fail_memory();
    p_ = static_cast<double*>(q);
    return true;
}

bool ready_traj() {
    TrajVTab& v = traj_vtab;
    v.base = base_vtab;
    v.base.c_loadxml = traj_c_loadxml;
    v.base._getAttrib = GetAttribM::slot;
    v.base._addPyVELTObject = AddM::slot;
    v.base._updatePyVELTObject = UpdateM::slot;
    v.from_ptrs = from_ptrs;
    v.new_struct = new_struct;
    v.c_loadxml = traj_c_loadxml;
    v._sget_knotvector = SgetKM::slot;
    v._sget_cpts = SgetCM::slot;
    v._dset_data = DsetM::slot;
    v.copy = CopyM::slot;
    fill_eval_slots(v);
    fill_edit_slots(v);
    fill_algebra_slots(v);

    static std::vector<PyMethodDef> methods;
    for (PyMethodDef* table : {traj_core_methods, traj_eval_methods, traj_edit_methods,
                               traj_algebra_methods, traj_limits_methods}) {
        for (PyMethodDef* m = table; m->ml_name; ++m) methods.push_back(*m);
    }
    methods.push_back(PyMethodDef{nullptr, nullptr, 0, nullptr});

    PyTypeObject& t = TrajTypeObj;
    pv::fill_type(t, pv::TypeSpec{"pyvelt.ductus.Trajectory1d", sizeof(TrajObj), traj_doc, &BaseType,
                                  methods.data(), traj_getset, traj_new, traj_dealloc});
    t.tp_flags |= Py_TPFLAGS_HAVE_VECTORCALL;
    t.tp_vectorcall_offset = offsetof(TrajObj, vectorcall);
    t.tp_call = PyVectorcall_Call;
    t.tp_richcompare = traj_richcompare;
    t.tp_hash = PyObject_HashNotImplemented;
    t.tp_as_number = &traj_number;
    t.tp_repr = traj_repr;
    t.tp_str = traj_str;
    // Pickling takes the interpreter's standard reduction (the class and the
    // state of __getstate__), not the one of PyVELTObject; NumPy leaves the
    // arithmetic with trajectories to them. Both go into the type's dictionary
    // before it is readied, the documented way to give a static type extra
    // attributes.
    pv::Ref dict(PyDict_New());
    pv::Ref objreduce(dict ? pv::getattr(reinterpret_cast<PyObject*>(&PyBaseObject_Type), "__reduce__")
                           : nullptr);
    if (!objreduce || PyDict_SetItemString(dict.get(), "__reduce__", objreduce.get()) < 0 ||
        PyDict_SetItemString(dict.get(), "__array_ufunc__", Py_None) < 0) {
        return false;
    }
    t.tp_dict = dict.release();
    return PyType_Ready(&t) == 0;
}

}  // namespace ductus
