#include "common/pyhelp.hpp"

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <deque>

namespace pv {

namespace {

// Asked by long work of the kernel every millisecond or so: runs the
// interpreter's signal handlers (Ctrl-C raises KeyboardInterrupt there) and
// says stop when one of them raised. Work may run without the interpreter
// lock, so the lock is taken for the question.
bool interrupt_requested() {
    PyGILState_STATE g = PyGILState_Ensure();
    const bool stop = PyErr_CheckSignals() != 0;
    PyGILState_Release(g);
    return stop;
}

[[maybe_unused]] const bool poll_installed = (cardo::SetCancelPoll(interrupt_requested), true);

}  // namespace

// ---------------------------------------------------------------- errors

Failure fail(PyObject* type, const char* fmt, ...) {
    if (!fmt) {
        PyErr_SetNone(type);
        return Failure{};
    }
    va_list va;
    va_start(va, fmt);
    PyErr_FormatV(type, fmt, va);
    va_end(va);
    return Failure{};
}

Failure fail_memory() { return fail(PyExc_MemoryError, "memory allocation failed"); }

namespace {
// True when the interpreter runs with optimisation (-O).
bool assertions_off() {
    // The optimisation level is fixed when the interpreter starts.
    static int level = -1;
    if (level < 0) {
        level = 0;
        PyObject* flags = PySys_GetObject("flags");  // borrowed
        if (flags) {
            Ref opt(PyObject_GetAttrString(flags, "optimize"));
            if (opt) level = PyObject_IsTrue(opt.get()) > 0 ? 1 : 0;
        }
        PyErr_Clear();
    }
    return level > 0;
}
}  // namespace

bool assert_check(bool cond, const char* msg) {
    if (cond || assertions_off()) return true;
    return msg ? fail(PyExc_AssertionError, "%s", msg) : fail(PyExc_AssertionError, nullptr);
}

namespace {
bool overlap(const Named& a, const Named& b) {
    if (a.len <= 0 || b.len <= 0 || !a.data || !b.data) return false;
    const auto a0 = reinterpret_cast<std::uintptr_t>(a.data);
    const auto b0 = reinterpret_cast<std::uintptr_t>(b.data);
    return a0 < b0 + sizeof(double) * static_cast<std::size_t>(b.len) &&
           b0 < a0 + sizeof(double) * static_cast<std::size_t>(a.len);
}
bool refuse_overlap(const char* fname, const Named& out, const Named& other) {
    return fail(PyExc_ValueError,
                "%s(): '%s' shares memory with '%s'; an array the function writes must not "
                "overlap another array argument",
                fname, out.name, other.name);
}
}  // namespace

bool distinct(const char* fname, std::initializer_list<Named> outs, std::initializer_list<Named> ins) {
    for (auto o = outs.begin(); o != outs.end(); ++o) {
        for (const Named& i : ins) {
            if (overlap(*o, i)) return refuse_overlap(fname, *o, i);
        }
        for (auto q = o + 1; q != outs.end(); ++q) {
            if (overlap(*o, *q)) return refuse_overlap(fname, *o, *q);
        }
    }
    return true;
}

bool need_len(const char* fname, const char* argname, Py_ssize_t have, Py_ssize_t need) {
    if (have >= need) return true;
    return fail(PyExc_ValueError, "%s(): array '%s' needs at least %zd elements, got %zd", fname,
                argname, need, have);
}

// ---------------------------------------------------------------- conversion

bool to_int(PyObject* o, int& out) {
    long v;
    if (PyLong_Check(o)) {
        v = PyLong_AsLong(o);
    } else {
        PyNumberMethods* nb = Py_TYPE(o)->tp_as_number;
        if (!nb || !nb->nb_int) {
            return fail(PyExc_TypeError, "an integer is required, not '%.200s'", Py_TYPE(o)->tp_name);
        }
        Ref r(nb->nb_int(o));
        if (!r) return false;
        if (!PyLong_Check(r.get())) {
            return fail(PyExc_TypeError, "__int__ returned non-int (type %.200s)",
                        Py_TYPE(r.get())->tp_name);
        }
        v = PyLong_AsLong(r.get());
    }
    if (v == -1 && PyErr_Occurred()) {
        if (PyErr_ExceptionMatches(PyExc_OverflowError)) {
            return fail(PyExc_OverflowError, "value too large to convert to int");
        }
        return false;
    }
    if (v < INT_MIN || v > INT_MAX) {
        return fail(PyExc_OverflowError, "value too large to convert to int");
    }
    out = static_cast<int>(v);
    return true;
}

namespace {

// NumPy's bool scalar ("numpy.bool", "numpy.bool_" before NumPy 2), to which
// some NumPy releases still give __index__ (deprecated).
bool is_numpy_bool(PyObject* o) {
    const char* name = Py_TYPE(o)->tp_name;
    return std::strcmp(name, "numpy.bool") == 0 || std::strcmp(name, "numpy.bool_") == 0;
}

}  // namespace

bool to_index(PyObject* o, const char* argname, const char* need, Py_ssize_t& out) {
    if (PyBool_Check(o) || is_numpy_bool(o) || !PyIndex_Check(o)) {
        return fail(PyExc_ValueError, "'%s' must be %s, got %R", argname, need, o);
    }
    const Py_ssize_t n = PyNumber_AsSsize_t(o, nullptr);
    if (n == -1 && PyErr_Occurred()) return false;
    out = n;
    return true;
}

std::string double_text(double v) {
    char* s = PyOS_double_to_string(v, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
    if (!s) {
        PyErr_Clear();
        return "?";
    }
    std::string r(s);
    PyMem_Free(s);
    return r;
}

bool to_double(PyObject* o, double& out) {
    if (PyFloat_CheckExact(o)) {
        out = PyFloat_AS_DOUBLE(o);
        return true;
    }
    double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) return false;
    out = v;
    return true;
}

bool to_dy(PyObject* o, double out[2]) {
    if (!PyTuple_Check(o) || PyTuple_GET_SIZE(o) != 2) {
        return fail(PyExc_TypeError, "Expected %.16s of size %d, got %.200s", "a tuple", 2,
                    Py_TYPE(o)->tp_name);
    }
    double a, b;
    if (!to_double(PyTuple_GET_ITEM(o, 0), a) || !to_double(PyTuple_GET_ITEM(o, 1), b)) return false;
    out[0] = a;
    out[1] = b;
    return true;
}

static bool is_float64_format(const char* f) {
    if (!f) return false;  // buffers without a format are unsigned bytes
    if (f[0] == '@' || f[0] == '=') ++f;
#if PY_LITTLE_ENDIAN
    else if (f[0] == '<') ++f;
#else
    else if (f[0] == '>' || f[0] == '!') ++f;
#endif
    return f[0] == 'd' && f[1] == '\0';
}

static ArrayProbe g_probe = nullptr;

void set_array_probe(ArrayProbe probe) { g_probe = probe; }

bool Buf::acquire(PyObject* o, int ndim, const char* fname, const char* argname) {
    if (g_probe && ndim <= 2 && g_probe(o, ndim, &data_, shape_)) {
        // The reference keeps the array alive (and NumPy from resizing it
        // under its reference check) as a buffer view would.
        Py_INCREF(o);
        obj_ = o;
        return true;
    }
    if (o == Py_None) {
        return fail(PyExc_TypeError, "%s() argument '%s' must be a float64 array, not None", fname,
                    argname);
    }
    if (!PyObject_CheckBuffer(o)) {
        return fail(PyExc_TypeError,
                    "%s() argument '%s' must be a float64 array (an object with the buffer "
                    "interface), not '%.200s'",
                    fname, argname, Py_TYPE(o)->tp_name);
    }
    if (PyObject_GetBuffer(o, &view_, PyBUF_RECORDS_RO) < 0) return false;
    held_ = true;
    const char* why = nullptr;
    if (!is_float64_format(view_.format) || view_.itemsize != 8) {
        return fail(PyExc_ValueError,
                    "%s() argument '%s': buffer dtype mismatch, expected 'double' but got '%s'",
                    fname, argname, view_.format ? view_.format : "B");
    }
    if (view_.ndim != ndim) {
        return fail(PyExc_ValueError,
                    "%s() argument '%s': buffer has wrong number of dimensions (expected %d, got %d)",
                    fname, argname, ndim, view_.ndim);
    }
    for (int d = 0; d < ndim; ++d) {
        // Indices are 32-bit ints in the kernel.
        if (view_.shape[d] > MAX_DIM) {
            return fail(PyExc_ValueError, "%s() argument '%s': array too large (%zd elements)",
                        fname, argname, view_.shape[d]);
        }
    }
    if (!PyBuffer_IsContiguous(&view_, 'C')) {
        why = "is not C-contiguous";
    } else if (view_.readonly) {
        why = "is read-only";
    } else if (reinterpret_cast<std::uintptr_t>(view_.buf) % alignof(double) != 0) {
        // Reads of doubles through a misaligned pointer are undefined (and
        // fault on some processors); such arrays are refused, not copied.
        why = "is not aligned to 8 bytes";
    }
    if (why) return fail(PyExc_ValueError, "%s() argument '%s': buffer %s", fname, argname, why);
    data_ = static_cast<double*>(view_.buf);
    for (int d = 0; d < ndim && d < 2; ++d) shape_[d] = view_.shape[d];
    return true;
}

// ---------------------------------------------------------------- parsing

static bool arg_count_error(const char* fname, bool exact, Py_ssize_t nmin, Py_ssize_t nmax,
                            Py_ssize_t given) {
    const char* more_or_less;
    Py_ssize_t expected;
    if (given < nmin) {
        expected = nmin;
        more_or_less = "at least";
    } else {
        expected = nmax;
        more_or_less = "at most";
    }
    if (exact) more_or_less = "exactly";
    return fail(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)", fname,
                more_or_less, expected, (expected == 1) ? "" : "s", given);
}

bool parse_args(const char* const* names, int nreq, PyObject* const* args, Py_ssize_t nargs,
                PyObject* kwnames, PyObject** out) {
    const char* fname = names[0];
    const char* const* params = names + 1;
    int nmax = 0;
    while (params[nmax]) ++nmax;
    const bool exact = (nreq == nmax);
    if (nargs > nmax) return arg_count_error(fname, exact, nreq, nmax, nargs);
    Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    if (nkw == 0 && nargs >= nreq) {
        for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
        for (Py_ssize_t i = nargs; i < nmax; ++i) out[i] = nullptr;
        return true;
    }
    for (int i = 0; i < nmax; ++i) out[i] = i < nargs ? args[i] : nullptr;
    // Keyword arguments are matched by name; the first required parameter still
    // missing afterwards is reported by position, like a missing positional one.
    PyObject* unknown = nullptr;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        if (!PyUnicode_Check(key)) {
            return fail(PyExc_TypeError, "%s() keywords must be strings", fname);
        }
        int idx = -1;
        for (int i = 0; i < nmax; ++i) {
            if (PyUnicode_CompareWithASCIIString(key, params[i]) == 0) {
                idx = i;
                break;
            }
        }
        if (idx < 0) {
            if (!unknown) unknown = key;
            continue;
        }
        if (idx < nargs || out[idx]) {
            return fail(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", fname,
                        key);
        }
        out[idx] = args[nargs + k];
    }
    for (int i = 0; i < nreq; ++i) {
        if (!out[i]) return arg_count_error(fname, exact, nreq, nmax, i);
    }
    if (unknown) {
        return fail(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", fname, unknown);
    }
    return true;
}

// ---------------------------------------------------------------- C entry tables

bool publish_capi(PyObject* module, const CEntry* const* entries, Py_ssize_t count) {
    // Capsule names must outlive the capsules; the tables live as long as the process.
    static std::deque<std::string> names;
    Ref d(PyDict_New());
    if (!d) return false;
    for (Py_ssize_t i = 0; i < count; ++i) {
        const CEntry& e = *entries[i];
        names.push_back(e.sig());
        Ref cap(PyCapsule_New(reinterpret_cast<void*>(e.fn), names.back().c_str(), nullptr));
        if (!cap || PyDict_SetItemString(d.get(), e.name, cap.get()) < 0) return false;
    }
    return PyModule_AddObject(module, "__pyx_capi__", d.get()) == 0 ? (d.release(), true) : false;
}

bool bind_capi(PyObject* module, const char* name, const std::string& sig, void (**fn)(void)) {
    const char* modname = PyModule_GetName(module);
    if (!modname) return false;
    Ref d(PyObject_GetAttrString(module, "__pyx_capi__"));
    if (!d) return false;
    PyObject* cap = PyDict_GetItemString(d.get(), name);  // borrowed
    if (!cap) {
        return fail(PyExc_ImportError, "%.200s does not export expected C function %.200s", modname,
                    name);
    }
    const char* have = PyCapsule_GetName(cap);
    if (!have || sig != have) {
        PyErr_Clear();
        return fail(PyExc_TypeError,
                    "C function %.200s.%.200s has wrong signature (expected %.500s, got %.500s)",
                    modname, name, sig.c_str(), have ? have : "?");
    }
    void* p = PyCapsule_GetPointer(cap, have);
    if (!p) return false;
    *fn = reinterpret_cast<void (*)(void)>(p);
    return true;
}

void* capsule_pointer(const char* module_name, const char* name) {
    Ref mod(PyImport_ImportModule(module_name));
    if (!mod) return nullptr;
    Ref d(PyObject_GetAttrString(mod.get(), "__pyx_capi__"));
    if (!d) return nullptr;
    PyObject* cap = PyDict_GetItemString(d.get(), name);  // borrowed
    if (!cap) {
        return fail(PyExc_ImportError, "%.200s does not export expected C function %.200s",
                    module_name, name);
    }
    return PyCapsule_GetPointer(cap, PyCapsule_GetName(cap));
}

}  // namespace pv
