// Shared helper layer over the CPython C API used by both extension modules:
// owned references, fast-call argument parsing, double-array views over the
// buffer protocol, error helpers and the C entry tables (publish / bind).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "arcus/cardo/cancel.h"

#include <initializer_list>

#include <cstddef>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

namespace pv {

// ---------------------------------------------------------------- references

// Owned (strong) reference; releases it when it goes out of scope.
class Ref {
public:
    Ref() noexcept : p_(nullptr) {}
    explicit Ref(PyObject* owned) noexcept : p_(owned) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    Ref& operator=(Ref&& o) noexcept {
        if (this != &o) { Py_XDECREF(p_); p_ = o.p_; o.p_ = nullptr; }
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }
    static Ref borrow(PyObject* b) { Py_XINCREF(b); return Ref(b); }
    PyObject* get() const noexcept { return p_; }
    PyObject* release() noexcept { PyObject* r = p_; p_ = nullptr; return r; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    void reset(PyObject* owned = nullptr) noexcept { Py_XDECREF(p_); p_ = owned; }
private:
    PyObject* p_;
};

// Releases the interpreter lock for the lifetime of the object.
class NoGil {
public:
    NoGil() : st_(PyEval_SaveThread()) {}
    ~NoGil() { PyEval_RestoreThread(st_); }
    NoGil(const NoGil&) = delete;
    NoGil& operator=(const NoGil&) = delete;
private:
    PyThreadState* st_;
};

// ---------------------------------------------------------------- C-level value types

// One-dimensional double array shared with its owner (never copied).
struct DArr {
    double* data;
    Py_ssize_t len;
};

// Two-dimensional row-major double array.
struct DArr2 {
    double* data;
    Py_ssize_t rows;
    Py_ssize_t cols;
};

// Optional-argument blocks of the C entries: `n` counts the optional
// arguments given (0 or 1); with 0 the module default applies.
struct OptDy {
    int n;
    double dy[2];
};
struct OptTol {
    int n;
    double tol;
};

// Pair of ints returned by C entries (span first for findspanmult).
struct IPair {
    int first;
    int second;
};

// ---------------------------------------------------------------- errors

// Every error of the helper layer, the wrappers and the objects is raised
// through `fail`: it sets the exception (the message formatted as PyErr_Format
// formats it; a null `fmt` raises the class without arguments) and returns a
// Failure, which an error exit returns as it is: it converts to false and to a
// null pointer of any type. Exits that report through another value (the -1
// of a slot, the dummy result of a C entry) write `return fail(...), -1;`.
struct Failure {
    template <typename T, typename = std::enable_if_t<std::is_same_v<T, bool> ||
                                                      std::is_pointer_v<T> ||
                                                      std::is_null_pointer_v<T>>>
    constexpr operator T() const noexcept {
        return T{};
    }
};
Failure fail(PyObject* type, const char* fmt, ...);
// MemoryError "memory allocation failed".
Failure fail_memory();
// The one form of an assertion: the argument checks of the library's own
// algorithms. True when `cond` holds, or when the interpreter runs with
// optimisation (-O), which skips them as it skips assert statements;
// otherwise AssertionError with `msg` (no message when msg is null).
bool assert_check(bool cond, const char* msg = nullptr);
// The check of a non-negative integer: true for v >= 0, otherwise ValueError
// with the message `fmt`, formatted with the further arguments as fail
// formats them.
template <typename... A>
bool need_nonneg(long long v, const char* fmt, A... a) {
    return v >= 0 || fail(PyExc_ValueError, fmt, a...);
}
// The same with the message of the library functions, which names the
// function and the argument.
inline bool need_nonneg(const char* fname, const char* argname, int v) {
    return need_nonneg(v, "%s(): '%s' must be >= 0, got %d", fname, argname, v);
}
// Rejects an array shorter than `need` elements (ValueError naming it).
bool need_len(const char* fname, const char* argname, Py_ssize_t have, Py_ssize_t need);

// An array argument by name, for the overlap check.
struct Named {
    const char* name;
    const double* data;
    Py_ssize_t len;
    Named(const char* n, const DArr& a) : name(n), data(a.data), len(a.len) {}
    Named(const char* n, const DArr2& a) : name(n), data(a.data), len(a.rows * a.cols) {}
};
// Rejects (ValueError) an array that a function writes (`outs`) sharing
// memory with an array it reads (`ins`) or with another array it writes:
// the results would overwrite values still to be read.
bool distinct(const char* fname, std::initializer_list<Named> outs, std::initializer_list<Named> ins);

// ---------------------------------------------------------------- argument conversion

// Integer arguments follow one rule.
// - The functions of arcus and the methods of Point1d and Trajectory1d that
//   mirror them (nu of dpeval, dceval, the call, derivative, antiderivative and
//   degelev; r of the knot operations; p, n and order of _dset_data; a point's
//   order) convert as arcus always has: a Python int or any object with
//   __int__, a float truncated toward zero (to_int, to_uint, Arg<int>,
//   OptInt).
// - Every function and method beyond them (extrema, roughness, and the
//   functions of the Python layer) takes only integers: an int or an object
//   with __index__ (a NumPy integer), never a bool or a float; anything else
//   is refused with ValueError naming the argument (to_index, Arg<Index<D>>;
//   pyvelt.build._integer in Python).

// int: Python int or any object with __int__ (floats truncate toward zero);
// OverflowError outside the 32-bit range.
bool to_int(PyObject* o, int& out);
// An integer of the functions and methods beyond arcus's: an int or an
// object with __index__, not a bool; anything else raises ValueError
// "'argname' must be <need>, got <repr>". Values beyond the range of
// Py_ssize_t saturate.
bool to_index(PyObject* o, const char* argname, const char* need, Py_ssize_t& out);
// The text of a double as Python's repr() writes it, for messages and
// documents ("?" when the text cannot be made; no error is left set).
std::string double_text(double v);
// double: float, int or any object with __float__.
bool to_double(PyObject* o, double& out);
// dy: a tuple of exactly two numbers.
bool to_dy(PyObject* o, double out[2]);

// Largest extent of one array dimension (kernel indices are 32-bit ints).
constexpr Py_ssize_t MAX_DIM = Py_ssize_t(1) << 30;

// Quick recognition of a double array, which a module may install (for
// exact NumPy arrays, whose fields it can read directly): returns true and
// fills `data` and `shape` when `o` is an array that the buffer protocol
// would accept unchanged (writable, C-contiguous, native float64, `ndim`
// dimensions, each at most MAX_DIM); false leaves the decision, and the
// wording of any error, to the buffer protocol.
using ArrayProbe = bool (*)(PyObject* o, int ndim, double** data, Py_ssize_t* shape);
void set_array_probe(ArrayProbe probe);

// A double array held for the duration of a call: a strong reference to an
// array that the probe recognised, else a buffer view.
class Buf {
public:
    Buf() noexcept : held_(false), obj_(nullptr), data_(nullptr), shape_{0, 0} {}
    ~Buf() {
        if (held_) PyBuffer_Release(&view_);
        Py_XDECREF(obj_);
    }
    Buf(const Buf&) = delete;
    Buf& operator=(const Buf&) = delete;
    // Takes a writable, C-contiguous float64 buffer with `ndim` dimensions.
    bool acquire(PyObject* o, int ndim, const char* fname, const char* argname);
    DArr arr() const { return DArr{data_, shape_[0]}; }
    DArr2 arr2() const { return DArr2{data_, shape_[0], shape_[1]}; }
private:
    Py_buffer view_;
    bool held_;
    PyObject* obj_;
    double* data_;
    Py_ssize_t shape_[2];
};

// ---------------------------------------------------------------- argument parsing

// Argument names: names[0] is the function name, then the parameter names,
// terminated by nullptr. The first `nreq` parameters are required.
// `out` receives borrowed references (nullptr for an absent optional one).
bool parse_args(const char* const* names, int nreq, PyObject* const* args, Py_ssize_t nargs,
                PyObject* kwnames, PyObject** out);

// Converters from Python objects to the parameter types of C entries.
template <typename T>
struct Arg;

template <>
struct Arg<int> {
    int v = 0;
    static constexpr bool optional = false;
    bool load(PyObject* o, const char*, const char*) { return to_int(o, v); }
    int get() const { return v; }
};

template <>
struct Arg<double> {
    double v = 0.0;
    static constexpr bool optional = false;
    bool load(PyObject* o, const char*, const char*) { return to_double(o, v); }
    double get() const { return v; }
};

template <>
struct Arg<DArr> {
    Buf b;
    static constexpr bool optional = false;
    bool load(PyObject* o, const char* f, const char* a) { return b.acquire(o, 1, f, a); }
    DArr get() const { return b.arr(); }
};

template <>
struct Arg<DArr2> {
    Buf b;
    static constexpr bool optional = false;
    bool load(PyObject* o, const char* f, const char* a) { return b.acquire(o, 2, f, a); }
    DArr2 get() const { return b.arr2(); }
};

template <>
struct Arg<const OptDy*> {
    OptDy v{0, {0.0, 0.0}};
    static constexpr bool optional = true;
    bool load(PyObject* o, const char*, const char*) {
        if (!o) return true;
        v.n = 1;
        return to_dy(o, v.dy);
    }
    const OptDy* get() const { return &v; }
};

template <>
struct Arg<const OptTol*> {
    OptTol v{0, 0.0};
    static constexpr bool optional = true;
    bool load(PyObject* o, const char*, const char*) {
        if (!o) return true;
        v.n = 1;
        return to_double(o, v.tol);
    }
    const OptTol* get() const { return &v; }
};

// An optional non-negative integer with default D, under the rule of the
// functions and methods beyond arcus's: ValueError "'name' must be a
// non-negative integer, got <repr>" for anything else.
template <long long D>
struct Index {
    long long v;
};
template <long long D>
struct Arg<Index<D>> {
    long long v = D;
    static constexpr bool optional = true;
    bool load(PyObject* o, const char*, const char* a) {
        if (!o) return true;
        static constexpr char need[] = "a non-negative integer";
        Py_ssize_t n = 0;
        if (!to_index(o, a, need, n)) return false;
        if (!need_nonneg(n, "'%s' must be %s, got %R", a, need, o)) return false;
        v = n;
        return true;
    }
    Index<D> get() const { return Index<D>{v}; }
};

// Converters of C results to Python objects.
inline PyObject* result(int v) { return PyLong_FromLong(v); }
inline PyObject* result(double v) { return PyFloat_FromDouble(v); }
inline PyObject* result(IPair v) { return Py_BuildValue("(ii)", v.first, v.second); }
inline PyObject* result(PyObject* v) { return v; }  // new reference or nullptr

// Result policy that turns a C int into a Python bool.
struct AsBool {
    static PyObject* make(int v) { return PyBool_FromLong(v); }
};
struct AsDefault {
    template <typename R>
    static PyObject* make(R v) { return result(v); }
};

namespace detail {

template <typename Sig>
struct FnTraits;
template <typename R, typename... A>
struct FnTraits<R (*)(A...)> {
    using ret = R;
    using args = std::tuple<Arg<A>...>;
    static constexpr int nparams = sizeof...(A);
    static constexpr int nreq = (0 + ... + (Arg<A>::optional ? 0 : 1));
};

template <typename Tuple, std::size_t... I>
bool load_all(Tuple& t, PyObject** objs, const char* const* names, std::index_sequence<I...>) {
    return (... && std::get<I>(t).load(objs[I], names[0], names[I + 1]));
}

template <auto F, typename Tuple, std::size_t... I>
auto call_with(Tuple& t, std::index_sequence<I...>) {
    return F(std::get<I>(t).get()...);
}

}  // namespace detail

// Generic fast-call wrapper: parses the arguments by position or keyword,
// converts them, calls the C entry F and converts its result. A C entry
// reports an error by leaving an exception set.
template <auto F, const char* const* Names, typename Policy = AsDefault>
PyObject* fastcall(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    using T = detail::FnTraits<decltype(F)>;
    constexpr int np = T::nparams;
    PyObject* objs[np > 0 ? np : 1];
    if (!parse_args(Names, T::nreq, args, nargs, kwnames, objs)) return nullptr;
    typename T::args conv;
    auto seq = std::make_index_sequence<np>{};
    if (!detail::load_all(conv, objs, Names, seq)) return nullptr;
    cardo::CancelScope interruptible;
    if constexpr (std::is_void_v<typename T::ret>) {
        detail::call_with<F>(conv, seq);
        if (PyErr_Occurred()) return nullptr;
        Py_RETURN_NONE;
    } else if constexpr (std::is_same_v<typename T::ret, PyObject*>) {
        return detail::call_with<F>(conv, seq);
    } else {
        auto r = detail::call_with<F>(conv, seq);
        if (PyErr_Occurred()) return nullptr;
        return Policy::make(r);
    }
}

#define PV_FASTCALL_CAST(fn) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(fn))

// The default of an optional parameter of kind T as a text signature shows
// it: DefaultText<T>::text(), specialised beside each optional kind.
template <typename T>
struct DefaultText;
template <long long D>
struct DefaultText<Index<D>> {
    static std::string text() { return std::to_string(D); }
};

// The parameter list of a text signature, "a, b, c=1": the names (names[0]
// the function's, then one for each parameter kind A) and, for an optional
// parameter, the default its kind shows.
template <typename... A>
std::string parameter_list(const char* const* names) {
    std::string s;
    int i = 1;
    auto one = [&](auto* kind) {
        using T = std::remove_pointer_t<decltype(kind)>;
        if (i > 1) s += ", ";
        s += names[i++];
        if constexpr (Arg<T>::optional) s += "=" + DefaultText<T>::text();
    };
    (void)one;  // (unused without parameters)
    (one(static_cast<A*>(nullptr)), ...);
    return s;
}

// The text signature that starts the docstring of a function whose C entry
// has the type Sig: "name(a, b, c=1)\n--\n\n".
template <typename Sig>
struct TextSignature;
template <typename R, typename... A>
struct TextSignature<R (*)(A...)> {
    static std::string make(const char* const* names) {
        return std::string(names[0]) + "(" + parameter_list<A...>(names) + ")\n--\n\n";
    }
};

// ---------------------------------------------------------------- C entry tables

// Signature text of a C entry, derived from its C++ type.
template <typename T>
struct TypeText;
template <> struct TypeText<void> { static constexpr const char* s = "void"; };
template <> struct TypeText<int> { static constexpr const char* s = "int"; };
template <> struct TypeText<unsigned> { static constexpr const char* s = "unsigned int"; };
template <> struct TypeText<double> { static constexpr const char* s = "double"; };
template <> struct TypeText<DArr> { static constexpr const char* s = "darray"; };
template <> struct TypeText<DArr2> { static constexpr const char* s = "darray2d"; };
template <> struct TypeText<const OptDy*> { static constexpr const char* s = "struct opt_dy *"; };
template <> struct TypeText<const OptTol*> { static constexpr const char* s = "struct opt_tol *"; };
template <> struct TypeText<IPair> { static constexpr const char* s = "ipair"; };
template <> struct TypeText<PyObject*> { static constexpr const char* s = "PyObject *"; };

template <typename Sig>
struct SigText;
template <typename R, typename... A>
struct SigText<R (*)(A...)> {
    static std::string make() {
        std::string s = TypeText<R>::s;
        s += " (";
        const char* parts[] = {TypeText<A>::s..., nullptr};
        for (int i = 0; parts[i]; ++i) {
            if (i) s += ", ";
            s += parts[i];
        }
        s += ")";
        return s;
    }
};

struct CEntry {
    const char* name;
    void (*fn)(void);
    std::string (*sig)();
};

namespace detail {
// A C entry as published: F within a scope in which long work of the kernel
// can be interrupted, whoever calls it.
template <auto F, typename Sig = decltype(F)>
struct Interruptible;
template <auto F, typename R, typename... A>
struct Interruptible<F, R (*)(A...)> {
    static R call(A... a) {
        cardo::CancelScope interruptible;
        return F(a...);
    }
};
}  // namespace detail

template <auto F>
inline CEntry centry(const char* name) {
    return CEntry{name, reinterpret_cast<void (*)(void)>(&detail::Interruptible<F>::call),
                  &SigText<decltype(F)>::make};
}

// Publishes the entries as the module attribute `__pyx_capi__`: a dict from
// entry name to a capsule named by the entry's signature text.
bool publish_capi(PyObject* module, const CEntry* const* entries, Py_ssize_t count);

// Looks up `name` in the `__pyx_capi__` of `module` and checks the signature
// (ImportError when missing, TypeError when it differs).
bool bind_capi(PyObject* module, const char* name, const std::string& sig, void (**fn)(void));

template <typename Fp>
bool bind_entry(PyObject* module, const char* name, Fp& fn) {
    void (*raw)(void) = nullptr;
    if (!bind_capi(module, name, SigText<Fp>::make(), &raw)) return false;
    fn = reinterpret_cast<Fp>(raw);
    return true;
}

// Pointer held by the capsule `name` of another module's `__pyx_capi__`
// (LAPACK/BLAS routines); ImportError when it is missing.
void* capsule_pointer(const char* module_name, const char* name);

}  // namespace pv
