// Helpers for extension types: argument kinds of methods, the generic method
// declaration (a Python method is its C implementation, its argument names and
// its docstring; its method-table entry, the signature line of its docstring
// and its C-level operation all come from that one declaration), the one way
// C code reaches a Python subclass's redefinition (pv::dispatch for methods,
// pv::property for properties), and the definition of static types.
#pragma once

#include "common/pyhelp.hpp"

#include <cstring>
#include <string>
#include <type_traits>

namespace pv {

// ---------------------------------------------------------------- argument kinds

// Any object (borrowed for the duration of the call).
struct Obj {
    PyObject* o;
};
// A double array given as the object itself; the implementation takes the
// buffer when it needs it.
struct ArrObj {
    PyObject* o;
};
// A truth value.
struct Truth {
    bool v;
};
// Bytes or None ("Argument '%s' has incorrect type" for anything else).
struct BytesOrNone {
    PyObject* o;
};
// An exact str or None.
struct StrOrNone {
    PyObject* o;
};
// An instance of the type T::type() (subclasses included) or None.
template <typename T>
struct Inst {
    PyObject* o;
};
// An optional int with default D.
template <int D>
struct OptInt {
    int v;
};
// An optional double whose default is T::value.
template <typename T>
struct OptDouble {
    double v;
};

// unsigned int: ints 0..4294967295, other objects through their integer
// conversion; OverflowError outside the range.
bool to_uint(PyObject* o, unsigned& out);
// "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)".
Failure fail_argtype(const char* argname, const char* expected, PyObject* got);

template <>
struct Arg<unsigned> {
    unsigned v = 0;
    static constexpr bool optional = false;
    bool load(PyObject* o, const char*, const char*) { return to_uint(o, v); }
    unsigned get() const { return v; }
};
template <>
struct Arg<Obj> {
    PyObject* v = nullptr;
    static constexpr bool optional = false;
    bool load(PyObject* o, const char*, const char*) { v = o; return true; }
    Obj get() const { return Obj{v}; }
};
template <>
struct Arg<ArrObj> {
    PyObject* v = nullptr;
    static constexpr bool optional = false;
    bool load(PyObject* o, const char*, const char*) { v = o; return true; }
    ArrObj get() const { return ArrObj{v}; }
};
template <>
struct Arg<Truth> {
    bool v = false;
    static constexpr bool optional = false;
    bool load(PyObject* o, const char*, const char*) {
        int t = PyObject_IsTrue(o);
        if (t < 0) return false;
        v = t > 0;
        return true;
    }
    Truth get() const { return Truth{v}; }
};
template <>
struct Arg<BytesOrNone> {
    PyObject* v = nullptr;
    static constexpr bool optional = false;
    bool load(PyObject* o, const char*, const char* a) {
        if (o != Py_None && !PyBytes_CheckExact(o)) return fail_argtype(a, "bytes", o);
        v = o;
        return true;
    }
    BytesOrNone get() const { return BytesOrNone{v}; }
};
template <>
struct Arg<StrOrNone> {
    PyObject* v = nullptr;
    static constexpr bool optional = false;
    bool load(PyObject* o, const char*, const char* a) {
        if (o != Py_None && !PyUnicode_CheckExact(o)) return fail_argtype(a, "str", o);
        v = o;
        return true;
    }
    StrOrNone get() const { return StrOrNone{v}; }
};
template <typename T>
struct Arg<Inst<T>> {
    PyObject* v = nullptr;
    static constexpr bool optional = false;
    bool load(PyObject* o, const char*, const char* a) {
        if (o != Py_None && !PyObject_TypeCheck(o, T::type())) {
            return fail_argtype(a, T::type()->tp_name, o);
        }
        v = o;
        return true;
    }
    Inst<T> get() const { return Inst<T>{v}; }
};
template <int D>
struct Arg<OptInt<D>> {
    int v = D;
    static constexpr bool optional = true;
    bool load(PyObject* o, const char*, const char*) { return !o || to_int(o, v); }
    OptInt<D> get() const { return OptInt<D>{v}; }
};
template <typename T>
struct Arg<OptDouble<T>> {
    double v = T::value;
    static constexpr bool optional = true;
    bool load(PyObject* o, const char*, const char*) { return !o || to_double(o, v); }
    OptDouble<T> get() const { return OptDouble<T>{v}; }
};

// The defaults that signature lines show.
template <int D>
struct DefaultText<OptInt<D>> {
    static std::string text() { return std::to_string(D); }
};
template <typename T>
struct DefaultText<OptDouble<T>> {
    static std::string text() { return double_text(T::value); }
};

// C values handed to a Python override (new references).
inline PyObject* to_py(int v) { return PyLong_FromLong(v); }
inline PyObject* to_py(unsigned v) { return PyLong_FromUnsignedLong(v); }
inline PyObject* to_py(double v) { return PyFloat_FromDouble(v); }
inline PyObject* to_py(Truth v) { return PyBool_FromLong(v.v); }
template <int D>
inline PyObject* to_py(OptInt<D> v) { return PyLong_FromLong(v.v); }
template <typename T>
inline PyObject* to_py(OptDouble<T> v) { return PyFloat_FromDouble(v.v); }
template <typename W>
inline auto to_py(W w) -> decltype(w.o, (PyObject*)nullptr) {
    Py_INCREF(w.o);
    return w.o;
}

// ---------------------------------------------------------------- results

// What an object-returning method may give back (from its C implementation
// or from a Python override): any object, or an instance of T / None.
struct AnyObj {
    static bool check(PyObject*) { return true; }
};
template <typename T>
struct InstOrNone {
    static bool check(PyObject* r) {
        if (r == Py_None || PyObject_TypeCheck(r, T::type())) return true;
        return fail(PyExc_TypeError, "Cannot convert %.200s to %.200s", Py_TYPE(r)->tp_name,
                    T::type()->tp_name);
    }
};
struct DictOrNone {
    static bool check(PyObject* r) {
        if (r == Py_None || PyDict_CheckExact(r)) return true;
        return fail(PyExc_TypeError, "Expected %.16s, got %.200s", "dict", Py_TYPE(r)->tp_name);
    }
};
struct BytesOrNoneRes {
    static bool check(PyObject* r) {
        if (r == Py_None || PyBytes_CheckExact(r)) return true;
        return fail(PyExc_TypeError, "Expected %.16s, got %.200s", "bytes", Py_TYPE(r)->tp_name);
    }
};

// Result of a Python override converted to the C result type R; a C-level
// caller tests PyErr_Occurred() afterwards.
template <typename R, typename Res>
struct FromOverride;
template <typename Res>
struct FromOverride<void, Res> {
    static void make(Ref r) { (void)r; }
};
template <typename Res>
struct FromOverride<double, Res> {
    static double make(Ref r) {
        double v = 0.0;
        if (r) to_double(r.get(), v);
        return v;
    }
};
template <typename Res>
struct FromOverride<PyObject*, Res> {
    static PyObject* make(Ref r) {
        if (!r || !Res::check(r.get())) return nullptr;
        return r.release();
    }
};

// ---------------------------------------------------------------- dispatch

// C code reaches an object's method, or reads its property, so that a Python
// subclass's redefinition is honoured exactly as Python code calling
// `obj.name(...)` or reading `obj.name` would see it. Instances of the
// extension types themselves (static types, no instance dictionary, no
// redefinition possible) never look anything up.

// The method `name` as attribute lookup on `self` finds it, when that is not
// the built-in `builtin` bound to `self`: a redefinition in the class or an
// attribute of the instance. Returns it bound (new reference), nullptr with
// no error set when there is none, or nullptr with an error set.
PyObject* find_override(PyObject* self, PyObject* name, PyCFunction builtin);

// Interned method name, made once.
template <const char* const* Names>
PyObject* method_name() {
    static PyObject* s = PyUnicode_InternFromString(Names[0]);
    return s;
}

// Calls the override with the C arguments converted to Python objects and
// converts its result back to R.
template <typename R, typename Res, typename... A>
R call_override(PyObject* bound, A... a) {
    Ref meth(bound);
    PyObject* objs[sizeof...(A) + 1] = {to_py(a)..., nullptr};
    bool ok = true;
    for (std::size_t i = 0; i < sizeof...(A); ++i) ok = ok && objs[i] != nullptr;
    Ref r(ok ? PyObject_Vectorcall(meth.get(), objs, sizeof...(A), nullptr) : nullptr);
    for (std::size_t i = 0; i < sizeof...(A); ++i) Py_XDECREF(objs[i]);
    return FromOverride<R, Res>::make(std::move(r));
}

// The generic dispatch of a method: the override of the method `name` when
// `self` has one (other than `builtin`), otherwise the C implementation `impl`.
// An override's result must pass Res.
template <typename Res, typename R, typename S, typename... A>
R dispatch(S* self, PyObject* name, PyCFunction builtin, R (*impl)(S*, A...),
           std::common_type_t<A>... a) {
    PyObject* o = reinterpret_cast<PyObject*>(self);
    if (PyType_HasFeature(Py_TYPE(o), Py_TPFLAGS_HEAPTYPE)) {
        PyObject* bound = find_override(o, name, builtin);
        if (bound) return call_override<R, Res>(bound, a...);
        if (PyErr_Occurred()) {
            if constexpr (std::is_void_v<R>) return;
            else return R{};
        }
    }
    return impl(self, a...);
}

// A property as Python code reads it, converted to T: `self.name` through
// attribute lookup for an instance of a Python subclass (a redefined property
// runs), `field()` (the value the built-in getter gives) without a lookup for
// the extension types themselves. False with the error set.
inline bool from_object(PyObject* o, double& out) { return to_double(o, out); }
template <typename T, typename Field>
bool property(PyObject* self, const char* name, Field field, T& out);

// ---------------------------------------------------------------- methods

enum class Call { Fast, O, NoArgs };

namespace detail {

template <typename R, typename Res>
PyObject* to_result(R r) {
    if constexpr (std::is_same_v<R, PyObject*>) {
        if (!r) return nullptr;
        if (!Res::check(r)) { Py_DECREF(r); return nullptr; }
        return r;
    } else {
        if (PyErr_Occurred()) return nullptr;
        return result(r);
    }
}

template <auto F, typename Sig, const char* const* Names, typename Res, Call K>
struct MethodImpl;

template <auto F, typename R, typename S, typename... A, const char* const* Names, typename Res,
          Call K>
struct MethodImpl<F, R (*)(S*, A...), Names, Res, K> {
    using Args = std::tuple<Arg<A>...>;
    static constexpr int np = sizeof...(A);
    static constexpr int nreq = (0 + ... + (Arg<A>::optional ? 0 : 1));

    // Runs the C implementation (no dispatch: the Python method itself).
    static PyObject* run(PyObject* self, PyObject** objs) {
        Args conv;
        auto seq = std::make_index_sequence<np>{};
        if (!load_all(conv, objs, Names, seq)) return nullptr;
        cardo::CancelScope interruptible;
        if constexpr (std::is_void_v<R>) {
            std::apply([&](auto&... c) { F(reinterpret_cast<S*>(self), c.get()...); }, conv);
            if (PyErr_Occurred()) return nullptr;
            Py_RETURN_NONE;
        } else {
            R r = std::apply([&](auto&... c) { return F(reinterpret_cast<S*>(self), c.get()...); },
                             conv);
            return to_result<R, Res>(r);
        }
    }
    static PyObject* fast(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
        PyObject* objs[np > 0 ? np : 1];
        if (!parse_args(Names, nreq, args, nargs, kwnames, objs)) return nullptr;
        return run(self, objs);
    }
    static PyObject* one(PyObject* self, PyObject* arg) {
        PyObject* objs[1] = {arg};
        return run(self, objs);
    }
    static PyObject* none(PyObject* self, PyObject*) { return run(self, nullptr); }

    // The signature line of the docstring, from the argument names and the
    // defaults of the optional ones: "name($self, a, b=1)\n--\n\n"; the
    // one-argument form ends its list with ", /", a static method has no $self.
    static std::string signature(bool is_static) {
        std::string params = parameter_list<A...>(Names);
        std::string s = std::string(Names[0]) + "(" + (is_static ? "" : "$self");
        if (!is_static && !params.empty()) s += ", ";
        s += params;
        if (K == Call::O) s += ", /";
        return s + ")\n--\n\n";
    }

    static PyObject* name() { return method_name<Names>(); }
    static PyCFunction builtin() {
        if constexpr (K == Call::Fast) return PV_FASTCALL_CAST(&fast);
        else if constexpr (K == Call::O) return &one;
        else return &none;
    }
    // The method's entry in its type's method table (one per declaration);
    // `doc` is the docstring without its signature line, which is put before
    // it once and kept for the process.
    static PyMethodDef def(const char* doc, int extra_flags = 0) {
        int flags = K == Call::Fast ? (METH_FASTCALL | METH_KEYWORDS)
                                    : (K == Call::O ? METH_O : METH_NOARGS);
        static const std::string* text =
            new std::string(signature((extra_flags & METH_STATIC) != 0) + doc);
        return PyMethodDef{Names[0], builtin(), flags | extra_flags, text->c_str()};
    }

    // The method as C code calls it: a Python redefinition is called instead
    // of the C implementation, and its result must pass Out (the declared
    // result kind unless the caller checks the result itself).
    template <typename Out = Res>
    static R call(S* self, A... a) {
        return dispatch<Out>(self, method_name<Names>(), builtin(), F, a...);
    }
    // The C-level operation of the type's table.
    static R slot(S* self, A... a) { return call<Res>(self, a...); }
};

}  // namespace detail

// A method of an extension type from its C implementation F (first parameter
// the object), its argument names (Names[0] the method name), the kind of its
// result and its calling convention. `def(doc, flags)` is its entry in the
// type's method table (the signature line of the docstring made from the
// names and the argument kinds of F), `slot` the C-level operation that
// honours a Python redefinition, and `call` the same for C code that checks
// the result itself.
template <auto F, const char* const* Names, typename Res = AnyObj, Call K = Call::Fast>
using Method = detail::MethodImpl<F, decltype(F), Names, Res, K>;

// ---------------------------------------------------------------- types

struct TypeSpec {
    const char* name;        // full dotted name
    Py_ssize_t basicsize;
    const char* doc;
    PyTypeObject* base;      // nullptr: object
    PyMethodDef* methods;
    PyGetSetDef* getset;
    newfunc tp_new;
    destructor dealloc;      // nullptr: free the object
};

// A static type object with only its object header set.
inline PyTypeObject type_head() {
    PyTypeObject t;
    std::memset(static_cast<void*>(&t), 0, sizeof t);
    PyVarObject head = {PyObject_HEAD_INIT(nullptr) 0};
    std::memcpy(static_cast<void*>(&t), &head, sizeof head);
    return t;
}

// Fills a static type from `spec` (subclassable, default flags) and readies
// it; the caller sets the further slots it needs before calling.
bool ready_type(PyTypeObject& t, const TypeSpec& spec);
// Fills the fields of `spec` into `t` without readying it.
void fill_type(PyTypeObject& t, const TypeSpec& spec);

// Parses tp_init-style arguments (tuple and dict) like parse_args.
bool parse_tuple_args(const char* const* names, int nreq, PyObject* args, PyObject* kwargs,
                      PyObject** out);

// The interned str of a name that lives as long as the process (a string
// literal), made once (borrowed reference). Looking attributes up by interned
// names also keeps the interpreter's attribute caches from holding on to a
// fresh string per call.
PyObject* intern(const char* name);
inline PyObject* getattr(PyObject* obj, const char* name) {
    PyObject* n = intern(name);
    return n ? PyObject_GetAttr(obj, n) : nullptr;
}
inline int setattr(PyObject* obj, const char* name, PyObject* v) {
    PyObject* n = intern(name);
    return n ? PyObject_SetAttr(obj, n, v) : -1;
}

template <typename T, typename Field>
bool property(PyObject* self, const char* name, Field field, T& out) {
    if (!PyType_HasFeature(Py_TYPE(self), Py_TPFLAGS_HEAPTYPE)) {
        out = field();
        return true;
    }
    Ref v(getattr(self, name));
    return v && from_object(v.get(), out);
}

// Calls `obj.name(args...)` (new reference or nullptr), for other Python
// objects (modules, documents, dictionaries); C code reaches the methods of
// the extension types through their declarations (Method::slot, Method::call).
template <typename... O>
PyObject* call_method(PyObject* obj, const char* name, O... args) {
    PyObject* n = intern(name);
    if (!n) return nullptr;
    PyObject* v[] = {obj, args...};
    return PyObject_VectorcallMethod(n, v, sizeof...(O) + 1, nullptr);
}

}  // namespace pv
