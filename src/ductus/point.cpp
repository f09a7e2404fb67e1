// Point1d: a time, a value and the order of derivation the value refers to.
#include "ductus/ductus.hpp"

namespace ductus {

PyTypeObject* PointType::type() { return &PointTypeObj; }

namespace {

PointObj* as_point(PyObject* o) { return reinterpret_cast<PointObj*>(o); }

PyObject* point_new(PyTypeObject* type, PyObject*, PyObject*) {
    PyObject* o = type->tp_alloc(type, 0);
    if (!o) return nullptr;
    as_point(o)->base.vtab = &point_vtab.base;
    as_point(o)->p = c_point1d{0.0, 0.0, 0};
    return o;
}

PyObject* new_point() {
    return point_new(&PointTypeObj, nullptr, nullptr);
}

const char* const FIELDS[] = {"t", "val", "order"};

// self.t, self.val, self.order through attribute access (new references).
bool read_attrs(PyObject* self, pv::Ref out[3]) {
    for (int i = 0; i < 3; ++i) {
        out[i].reset(pv::getattr(self, FIELDS[i]));
        if (!out[i]) return false;
    }
    return true;
}

int point_init(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"__init__", "t", "val", "order", nullptr};
    PyObject* a[3];
    if (!pv::parse_tuple_args(names, 3, args, kwargs, a)) return -1;
    c_point1d v;
    if (!pv::to_double(a[0], v.t) || !pv::to_double(a[1], v.val) || !pv::to_uint(a[2], v.order)) {
        return -1;
    }
    as_point(self)->p = v;
    return 0;
}

// ---------------------------------------------------------------- properties

int refuse_delete(PyObject* value) {
    if (value) return 0;
    return pv::fail(PyExc_NotImplementedError, "__del__"), -1;
}

PyObject* get_t(PyObject* self, void*) { return PyFloat_FromDouble(as_point(self)->p.t); }
PyObject* get_val(PyObject* self, void*) { return PyFloat_FromDouble(as_point(self)->p.val); }
PyObject* get_order(PyObject* self, void*) { return PyLong_FromUnsignedLong(as_point(self)->p.order); }
int set_t(PyObject* self, PyObject* v, void*) {
    return refuse_delete(v) < 0 || !pv::to_double(v, as_point(self)->p.t) ? -1 : 0;
}
int set_val(PyObject* self, PyObject* v, void*) {
    return refuse_delete(v) < 0 || !pv::to_double(v, as_point(self)->p.val) ? -1 : 0;
}
int set_order(PyObject* self, PyObject* v, void*) {
    return refuse_delete(v) < 0 || !pv::to_uint(v, as_point(self)->p.order) ? -1 : 0;
}

PyGetSetDef point_getset[] = {
    {"t", get_t, set_t, "Time coordinate (float).", nullptr},
    {"val", get_val, set_val, "Value (float).", nullptr},
    {"order", get_order, set_order, "Order of derivation the value refers to (int).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ---------------------------------------------------------------- methods

PyObject* from_tuple(PyObject*, pv::Obj pnt) {
    if (pnt.o != Py_None && !PyTuple_CheckExact(pnt.o)) return pv::fail_argtype("pnt", "tuple", pnt.o), nullptr;
    pv::Ref pt(new_point());
    if (!pt) return nullptr;
    if (pnt.o == Py_None) return pv::fail(PyExc_TypeError, "'NoneType' object is not subscriptable");
    c_point1d& v = as_point(pt.get())->p;
    const Py_ssize_t k = PyTuple_GET_SIZE(pnt.o);
    for (Py_ssize_t i = 0; i < 3; ++i) {
        if (i >= k) return pv::fail(PyExc_IndexError, "tuple index out of range");
        PyObject* item = PyTuple_GET_ITEM(pnt.o, i);
        bool ok = i == 0 ? pv::to_double(item, v.t)
                         : (i == 1 ? pv::to_double(item, v.val) : pv::to_uint(item, v.order));
        if (!ok) return nullptr;
    }
    return pt.release();
}

}  // namespace

PyObject* point_from_tuple(PyObject* tup) { return from_tuple(nullptr, pv::Obj{tup}); }

namespace {

PyObject* point_copy(PointObj* self) {
    pv::Ref a[3];
    if (!read_attrs(reinterpret_cast<PyObject*>(self), a)) return nullptr;
    c_point1d v;
    if (!pv::to_double(a[0].get(), v.t) || !pv::to_double(a[1].get(), v.val) ||
        !pv::to_uint(a[2].get(), v.order)) {
        return nullptr;
    }
    PyObject* r = new_point();
    if (r) as_point(r)->p = v;
    return r;
}

PyObject* point_dunder_copy(PointObj* self) { return point_vtab.copy(self); }
PyObject* point_deepcopy(PointObj* self, pv::Obj) { return point_vtab.copy(self); }

PyObject* refuse_pickle(PointObj*) {
    return pv::fail(PyExc_TypeError,
                    "self.p cannot be pickled: pickling of struct members such as p must be "
                    "requested explicitly");
}
PyObject* refuse_state(PointObj* self, pv::Obj) { return refuse_pickle(self); }

// ---------------------------------------------------------------- comparison

PyObject* point_richcompare(PyObject* a, PyObject* b, int op) {
    if (op == Py_NE) return not_equal(a, b);
    if (op != Py_EQ) Py_RETURN_NOTIMPLEMENTED;
    int inst = PyObject_IsInstance(b, reinterpret_cast<PyObject*>(Py_TYPE(a)));
    if (inst <= 0) return inst < 0 ? nullptr : PyBool_FromLong(0);
    for (const char* f : FIELDS) {
        pv::Ref x(pv::getattr(a, f));
        pv::Ref y(x ? pv::getattr(b, f) : nullptr);
        pv::Ref c(y ? PyObject_RichCompare(x.get(), y.get(), Py_EQ) : nullptr);
        if (!c) return nullptr;
        int t = PyObject_IsTrue(c.get());
        if (t < 0) return nullptr;
        if (!t) Py_RETURN_FALSE;
    }
    Py_RETURN_TRUE;
}

// ---------------------------------------------------------------- XML and text forms

PyObject* point_getattrib(PyObject* self) {
    pv::Ref a[3];
    if (!read_attrs(self, a)) return nullptr;
    pv::Ref d(PyDict_New());
    if (!d) return nullptr;
    for (int i = 0; i < 3; ++i) {
        pv::Ref text(PyObject_Str(a[i].get()));
        if (!text || PyDict_SetItemString(d.get(), FIELDS[i], text.get()) < 0) return nullptr;
    }
    return d.release();
}

void point_add(PyObject* self, pv::Obj root, StrArg ID) {
    pv::Ref attrib(element_attrib(self, ID.o));
    pv::Ref tag(attrib ? class_name(self) : nullptr);
    pv::Ref el(tag ? sub_element(root.o, tag.get(), attrib.get()) : nullptr);
}

void point_update(PyObject* self, pv::Obj, pv::Obj node, StrArg) { set_attributes(self, node.o); }

PyObject* point_c_loadxml(StrArg fname, StrArg ID) {
    pv::Ref node(find_element(fname.o, ID.o, "Point1d"));
    pv::Ref pt(node ? new_point() : nullptr);
    if (!pt) return nullptr;
    for (int i = 0; i < 3; ++i) {
        PyObject* key = pv::intern(FIELDS[i]);
        pv::Ref text(key ? pv::call_method(node.get(), "get", key) : nullptr);
        pv::Ref num(text ? (i < 2 ? PyNumber_Float(text.get()) : PyNumber_Long(text.get())) : nullptr);
        if (!num || PyObject_SetAttr(pt.get(), key, num.get()) < 0) return nullptr;
    }
    return pt.release();
}

PyObject* point_loadxml(PyObject*, StrArg fname, StrArg ID) { return point_vtab.c_loadxml(fname, ID); }

PyObject* text_form(PyObject* self, const char* fmt) {
    pv::Ref s[3];
    if (!attr_texts(self, FIELDS, 3, s)) return nullptr;
    return PyUnicode_FromFormat(fmt, s[0].get(), s[1].get(), s[2].get());
}
PyObject* point_repr(PyObject* self) { return text_form(self, "{'t': %U, 'val': %U, 'order': %U}"); }
PyObject* point_str(PyObject* self) { return text_form(self, "Point1d(t = %U, val = %U, order = %U)"); }

// ---------------------------------------------------------------- tables

const char* const from_tuple_args[] = {"from_tuple", "pnt", nullptr};
const char* const copy_args[] = {"copy", nullptr};
const char* const dcopy_args[] = {"__copy__", nullptr};
const char* const deepcopy_args[] = {"__deepcopy__", "memo", nullptr};
const char* const getattrib_args[] = {"_getAttrib", nullptr};
const char* const add_args[] = {"_addPyVELTObject", "root", "ID", nullptr};
const char* const update_args[] = {"_updatePyVELTObject", "tree", "node", "ID", nullptr};
const char* const loadxml_args[] = {"loadxml", "fname", "ID", nullptr};
const char* const reduce_args[] = {"__reduce__", nullptr};
const char* const setstate_args[] = {"__setstate__", "state", nullptr};

using FromTupleM = pv::Method<from_tuple, from_tuple_args>;
using CopyM = pv::Method<point_copy, copy_args, pv::InstOrNone<PointType>, pv::Call::NoArgs>;
using DCopyM = pv::Method<point_dunder_copy, dcopy_args, pv::AnyObj, pv::Call::NoArgs>;
using DeepCopyM = pv::Method<point_deepcopy, deepcopy_args>;
using GetAttribM = pv::Method<point_getattrib, getattrib_args, pv::DictOrNone, pv::Call::NoArgs>;
using AddM = pv::Method<point_add, add_args>;
using UpdateM = pv::Method<point_update, update_args>;
using LoadM = pv::Method<point_loadxml, loadxml_args>;
using ReduceM = pv::Method<refuse_pickle, reduce_args, pv::AnyObj, pv::Call::NoArgs>;
using SetstateM = pv::Method<refuse_state, setstate_args, pv::AnyObj, pv::Call::O>;

const char from_tuple_doc[] =
    "Factory function to create Point1d objects from given tuple.\n\n"
    "Parameters\n----------\npnt : tuple\n    (t, val, order); further items are ignored.\n\n"
    "Returns\n-------\nPoint1d\n\n"
    "Notes\n-----\nTypeError for anything but a tuple (a tuple subclass included);\n"
    "IndexError for fewer than three items.\n\n"
    "References\n----------\nNone\n";
const char copy_doc[] =
    "Return a copy of the object.\n\n"
    "Parameters\n----------\nNone\n\nReturns\n-------\nPoint1d\n    A new, independent point.\n\n"
    "Notes\n-----\nThe copy is a plain Point1d, also for a subclass.\n\n"
    "References\n----------\nNone\n";
const char dcopy_doc[] =
    "Return self.copy().\n\n"
    "Parameters\n----------\nNone\n\nReturns\n-------\nPoint1d\n\n"
    "Notes\n-----\nUsed by copy.copy.\n\nReferences\n----------\nNone\n";
const char deepcopy_doc[] =
    "Return self.copy().\n\n"
    "Parameters\n----------\nmemo : dict\n    Ignored.\n\nReturns\n-------\nPoint1d\n\n"
    "Notes\n-----\nUsed by copy.deepcopy.\n\nReferences\n----------\nNone\n";
const char getattrib_doc[] =
    "Returns a dictionary containing the attributes of the object.\n\n"
    "Parameters\n----------\nNone\n\n"
    "Returns\n-------\ndict\n    'order', 't' and 'val' as number texts.\n\n"
    "Notes\n-----\nThe attributes are read through attribute access.\n\n"
    "References\n----------\nNone\n";
const char add_doc[] =
    "Appends an element for the point to the document root.\n\n"
    "Parameters\n----------\nroot : lxml element\n    The document root.\n"
    "ID : str\n    The object ID.\n\nReturns\n-------\nNone\n\n"
    "Notes\n-----\nThe element is named after the class of the object.\n\n"
    "References\n----------\nNone\n";
const char update_doc[] =
    "Rewrites the attributes of the element of the point.\n\n"
    "Parameters\n----------\ntree : lxml element tree\n    The document (not used).\n"
    "node : lxml element\n    The element of the point.\nID : str\n    The object ID (not used).\n\n"
    "Returns\n-------\nNone\n\nNotes\n-----\nOther attributes and children are kept.\n\n"
    "References\n----------\nNone\n";
const char loadxml_doc[] =
    "Method to load a Point1d object from a file in .xml format.\n\n"
    "Parameters\n----------\n"
    "fname : str\n    The file name; the .pyvelt extension is used when none is given.\n"
    "ID : str\n    The object ID.\n\n"
    "Returns\n-------\nPoint1d\n\n"
    "Notes\n-----\nValueError \"no match for ID: ...\" when the document holds no Point1d\n"
    "element with this ID; the first of several is used.\n\n"
    LXML_REFS;

PyMethodDef point_methods[] = {
    FromTupleM::def(from_tuple_doc, METH_STATIC),
    CopyM::def(copy_doc),
    DCopyM::def(dcopy_doc),
    DeepCopyM::def(deepcopy_doc),
    GetAttribM::def(getattrib_doc),
    AddM::def(add_doc),
    UpdateM::def(update_doc),
    LoadM::def(loadxml_doc, METH_STATIC),
    ReduceM::def("Pickling is not supported."),
    SetstateM::def("Pickling is not supported."),
    {nullptr, nullptr, 0, nullptr},
};

const char point_doc[] =
    "Simple class for storing a point in joint space.\n\n"
    "Point1d(t, val, order)\n\n"
    "Attributes\n----------\n"
    "t : float\n    Time coordinate.\n"
    "val : float\n    Value.\n"
    "order : int\n    Order of derivation the value refers to (0 displacement,\n"
    "    1 velocity, 2 acceleration, 3 jerk, ...).\n\n"
    "Methods\n-------\n"
    "copy()\n    A new, independent point.\n"
    "savexml(fname, ID)\n    Saves the point into an XML document.\n"
    "loadxml(fname, ID)\n    Static: loads a point from an XML document.\n"
    "from_tuple(pnt)\n    Static: a point from the tuple (t, val, order).\n";

}  // namespace

PointVTab point_vtab = {
    {point_c_loadxml, GetAttribM::slot, AddM::slot,
     UpdateM::slot, nullptr},
    point_c_loadxml,
    CopyM::slot,
};

PyTypeObject PointTypeObj = pv::type_head();

bool ready_point() {
    point_vtab.base.savexml = base_vtab.savexml;
    PyTypeObject& t = PointTypeObj;
    pv::fill_type(t, pv::TypeSpec{"pyvelt.ductus.Point1d", sizeof(PointObj), point_doc, &BaseType,
                                  point_methods, point_getset, point_new, nullptr});
    t.tp_init = point_init;
    t.tp_richcompare = point_richcompare;
    t.tp_hash = PyObject_HashNotImplemented;
    t.tp_repr = point_repr;
    t.tp_str = point_str;
    return PyType_Ready(&t) == 0;
}

}  // namespace ductus
