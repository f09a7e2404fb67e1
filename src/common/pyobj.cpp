#include "common/pyobj.hpp"

#include <climits>
#include <unordered_map>
#include <vector>

namespace pv {

bool to_uint(PyObject* o, unsigned& out) {
    Ref owned;
    PyObject* v = o;
    if (!PyLong_Check(o)) {
        PyNumberMethods* nb = Py_TYPE(o)->tp_as_number;
        if (!nb || !nb->nb_int) return fail(PyExc_TypeError, "an integer is required");
        owned.reset(nb->nb_int(o));
        if (!owned) return false;
        if (!PyLong_Check(owned.get())) {
            return fail(PyExc_TypeError, "__int__ returned non-int (type %.200s)",
                        Py_TYPE(owned.get())->tp_name);
        }
        v = owned.get();
    }
    int overflow = 0;
    long long r = PyLong_AsLongLongAndOverflow(v, &overflow);
    if (r == -1 && PyErr_Occurred()) return false;
    if (overflow < 0 || (overflow == 0 && r < 0)) {
        return fail(PyExc_OverflowError, "can't convert negative value to unsigned int");
    }
    if (overflow > 0 || r > static_cast<long long>(UINT_MAX)) {
        return fail(PyExc_OverflowError, "value too large to convert to unsigned int");
    }
    out = static_cast<unsigned>(r);
    return true;
}

PyObject* intern(const char* name) {
    static std::unordered_map<const char*, PyObject*> names;
    auto it = names.find(name);
    if (it != names.end()) return it->second;
    PyObject* s = PyUnicode_InternFromString(name);
    if (s) names.emplace(name, s);
    return s;
}

Failure fail_argtype(const char* argname, const char* expected, PyObject* got) {
    return fail(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)",
                argname, expected, Py_TYPE(got)->tp_name);
}

PyObject* find_override(PyObject* self, PyObject* name, PyCFunction builtin) {
    if (!name) return nullptr;
    // What self.name gives, as Python code calling the method would find it;
    // the built-in method comes back bound to self.
    PyObject* attr = PyObject_GetAttr(self, name);
    if (!attr) {
        if (PyErr_ExceptionMatches(PyExc_AttributeError)) PyErr_Clear();
        return nullptr;
    }
    if (PyCFunction_Check(attr) && PyCFunction_GET_FUNCTION(attr) == builtin &&
        PyCFunction_GET_SELF(attr) == self) {
        Py_DECREF(attr);
        return nullptr;
    }
    return attr;
}

void fill_type(PyTypeObject& t, const TypeSpec& s) {
    t.tp_name = s.name;
    t.tp_basicsize = s.basicsize;
    t.tp_doc = s.doc;
    t.tp_base = s.base;
    t.tp_methods = s.methods;
    t.tp_getset = s.getset;
    t.tp_new = s.tp_new;
    if (s.dealloc) t.tp_dealloc = s.dealloc;
    t.tp_flags |= Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
}

bool ready_type(PyTypeObject& t, const TypeSpec& s) {
    fill_type(t, s);
    return PyType_Ready(&t) == 0;
}

bool parse_tuple_args(const char* const* names, int nreq, PyObject* args, PyObject* kwargs,
                      PyObject** out) {
    const Py_ssize_t na = PyTuple_GET_SIZE(args);
    const Py_ssize_t nk = kwargs ? PyDict_GET_SIZE(kwargs) : 0;
    std::vector<PyObject*> flat(static_cast<std::size_t>(na + nk) + 1);
    for (Py_ssize_t i = 0; i < na; ++i) flat[i] = PyTuple_GET_ITEM(args, i);
    Ref kwnames;
    if (nk) {
        kwnames.reset(PyTuple_New(nk));
        if (!kwnames) return false;
        Py_ssize_t pos = 0, k = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            Py_INCREF(key);
            PyTuple_SET_ITEM(kwnames.get(), k, key);
            flat[na + k] = value;
            ++k;
        }
    }
    return parse_args(names, nreq, flat.data(), na, kwnames.get(), out);
}

}  // namespace pv
