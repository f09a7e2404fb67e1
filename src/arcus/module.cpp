// Module frame of pyvelt.arcus: initialisation, the Python functions in the
// order of `__all__`, the C entry table and `_check_info`.
#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include "arcus/arcus.hpp"

#include <numpy/arrayobject.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "arcus/lapack.hpp"
#include "common/numpy_probe.hpp"

namespace {

using arcus::Family;

const Family* const FAMILIES[] = {
    &arcus::family_knots,  &arcus::family_basis,   &arcus::family_deriv,  &arcus::family_insert,
    &arcus::family_remove, &arcus::family_degelev, &arcus::family_bezier, &arcus::family_interp,
    &arcus::family_approx, &arcus::family_algebra,
};

// The Python functions, in this order.
const char* const ALL[] = {
    "validknots", "eqspaced",  "averaging",     "averaging2", "averaging3", "averagcpts",
    "findspan",   "findspanmult", "bfunpev",    "bfuncev",    "bfunspev",   "dbfunspev",
    "splpev",     "splcev",    "dsplpev",       "dsplcev",    "dsplcpts",   "dsplcpts2",
    "asplcpts",   "splkins",   "splkref",       "splkrem",    "splksrem",   "splkrem_notol",
    "getbndrem",  "degelevc",  "gcsplint",      "gdsplint",   "gadsplint",  "cdsplint",
    "splcjoin",   "splcsli",   "knotuniondim",  "splcsum",    "kevalappr",  "gcsplapp",
    "gdsplapp",   "knotsdegelev", "bezpev",     "bezcev",     "bezpev2",    "bezcev2",
    "getbezmat",
};

// The C entries, in publication order.
const char* const ENTRIES[] = {
    "validknots", "eqspaced",     "averaging",  "averaging2",    "averaging3", "distintknots",
    "kevalappr",  "gcsplint",     "gdsplint",   "cdsplint",      "gcsplapp",   "gdsplapp",
    "gadsplint",  "averagcpts",   "findspan",   "findspanmult",  "bfunpev",    "bfuncev",
    "bfunspev",   "dbfunspev",    "splpev",     "splcev",        "dsplpev",    "dsplcev",
    "dsplcpts",   "splkins",      "splkrem",    "splksrem",      "splkrem_notol", "getbndrem",
    "degelevc",   "asplcpts",     "dsplcpts2",  "splkref",       "splcjoin",   "splcsli",
    "knotuniondim", "splcsum",    "knotsdegelev", "bezpev",      "bezcev",     "bezpev2",
    "bezcev2",    "getbmtxelement", "getbezmat",
};

// Rows of the module docstring: function and the kernel routine it wraps.
const char* const DOC_ROWS[][2] = {
    {"validknots", "ValidKnotVector"}, {"eqspaced", "EquallySpaced"},
    {"averaging", "AveragingAlg1"},    {"averaging2", "AveragingAlg2"},
    {"averaging3", "AveragingAlg3"},   {"averagcpts", "AveragingCpts"},
    {"findspan", "FindSpan"},          {"findspanmult", "FindSpanMult"},
    {"bfunpev", "OneBasisFun"},        {"bfuncev", "-"},
    {"bfunspev", "BasisFuns"},         {"dbfunspev", "DersBasisFuns"},
    {"splpev", "CurvePoint"},          {"splcev", "CurveEval"},
    {"dsplpev", "CurveDerivsAlg1"},    {"dsplcev", "CurveDerivsEval"},
    {"dsplcpts", "CurveDerivCptsAlg1"}, {"dsplcpts2", "CurveDerivCptsAlg2"},
    {"asplcpts", "CurveAntiDerivCpts"}, {"splkins", "CurveKnotIns"},
    {"splkref", "RefineKnotVectCurve"}, {"splkrem", "RemoveCurveKnot"},
    {"splksrem", "RemoveCurveKnots"},  {"splkrem_notol", "RemoveCurveKnotWithoutTol"},
    {"getbndrem", "GetRemovalBndCurve"}, {"degelevc", "DegreeElevateCurve"},
    {"gcsplint", "-"},                 {"gdsplint", "-"},
    {"gadsplint", "-"},                {"cdsplint", "SolveTridiagonal"},
    {"splcjoin", "-"},                 {"splcsli", "-"},
    {"knotuniondim", "-"},             {"splcsum", "-"},
    {"kevalappr", "KnotEvalL2Approx"}, {"gcsplapp", "-"},
    {"gdsplapp", "-"},                 {"knotsdegelev", "IncreaseMultByOne"},
    {"bezpev", "PointOnBezierCurve"},  {"bezcev", "BezierCurveEval"},
    {"bezpev2", "deCasteljau1"},       {"bezcev2", "BezierCurveEval2"},
    {"getbmtxelement", "GetBezierMatrixElement"}, {"getbezmat", "GetBezierMatrix"},
};

std::string module_doc() {
    std::string s = "In this module there are some wrapper for cardo C-library functions.\n\n";
    char line[128];
    std::snprintf(line, sizeof line, "%-18s%s\n", "All functions", "Wrapper for");
    s += line;
    std::snprintf(line, sizeof line, "%-18s%s\n", "-------------", "-------------------------");
    s += line;
    for (const auto& row : DOC_ROWS) {
        std::snprintf(line, sizeof line, "%-18s%s\n", row[0], row[1]);
        s += line;
    }
    return s;
}

void check_info_entry(int info) { arcus::check_info(info); }
const char* const check_info_args[] = {"_check_info", "info", nullptr};
const char check_info_doc[] =
    "_check_info(info)\n--\n\n"
    "Raise the exception that corresponds to a status value of the cardo kernel.\n\n"
    "Parameters\n----------\ninfo : int\n    Status value: 0 success, negative an invalid argument,\n"
    "    1 memory, 2 division by zero, 3 not implemented, 4 iteration limit,\n"
    "    5 out of range, 6 other. Values of 7 and above are treated as success.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\nValueError for negative values, MemoryError, ZeroDivisionError,\n"
    "NotImplementedError, Exception, IndexError, Exception for 1 to 6.\n\n"
    "References\n----------\nThe status convention of the cardo kernel.\n";

template <typename Pred>
const void* find_in_families(const char* name, Pred pick) {
    for (const Family* f : FAMILIES) {
        const void* hit = pick(*f, name);
        if (hit) return hit;
    }
    return nullptr;
}

const PyMethodDef* find_method(const char* name) {
    return static_cast<const PyMethodDef*>(find_in_families(name, [](const Family& f, const char* n) -> const void* {
        for (const PyMethodDef* m = f.methods; m->ml_name; ++m)
            if (std::strcmp(m->ml_name, n) == 0) return m;
        return nullptr;
    }));
}

const pv::CEntry* find_entry(const char* name) {
    return static_cast<const pv::CEntry*>(find_in_families(name, [](const Family& f, const char* n) -> const void* {
        for (const pv::CEntry* e = f.entries; e->name; ++e)
            if (std::strcmp(e->name, n) == 0) return e;
        return nullptr;
    }));
}

std::vector<PyMethodDef> g_methods;
std::string g_doc;
PyModuleDef g_def = {PyModuleDef_HEAD_INIT, "arcus", nullptr, -1, nullptr,
                     nullptr, nullptr, nullptr, nullptr};
bool g_initialised = false;

bool warn_on_version_mismatch() {
    char built[16];
    std::snprintf(built, sizeof built, "%d.%d", PY_MAJOR_VERSION, PY_MINOR_VERSION);
    const char* running = Py_GetVersion();
    const size_t len = std::strlen(built);
    if (std::strncmp(running, built, len) == 0 && (running[len] < '0' || running[len] > '9')) {
        return true;
    }
    char rt[16] = {0};
    std::snprintf(rt, sizeof rt, "%.*s", static_cast<int>(std::strcspn(running, " ")), running);
    return PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                            "compiletime version %s of module '%.100s' does not match runtime "
                            "version %s",
                            built, "pyvelt.arcus", rt) == 0;
}

bool check_numpy() {
    static const char* const TYPES[] = {
        "dtype",      "flatiter",         "broadcast",       "ndarray",  "generic",
        "number",     "integer",          "signedinteger",   "unsignedinteger", "inexact",
        "floating",   "complexfloating",  "flexible",        "character", "ufunc",
    };
    pv::Ref np(PyImport_ImportModule("numpy"));
    if (!np) return false;
    for (const char* t : TYPES) {
        pv::Ref obj(PyObject_GetAttrString(np.get(), t));
        if (!obj || !PyType_Check(obj.get())) {
            PyErr_Clear();
            return pv::fail(PyExc_ImportError, "numpy.%s is not a type as expected", t);
        }
    }
    return true;
}

PyObject* init() {
    // 1. Single initialisation; interpreter version check.
    if (g_initialised) {
        return pv::fail(PyExc_RuntimeError,
                         "Module 'arcus' has already been imported. Re-initialisation is not "
                         "supported.");
    }
    if (!warn_on_version_mismatch()) return nullptr;

    // 2. The module and its functions.
    g_methods.clear();
    for (const char* name : ALL) {
        const PyMethodDef* m = find_method(name);
        if (!m) return pv::fail(PyExc_SystemError, "arcus: function '%s' is not built", name);
        g_methods.push_back(*m);
    }
    g_methods.push_back(PyMethodDef{"_check_info",
                                    PV_FASTCALL_CAST((pv::fastcall<check_info_entry, check_info_args>)),
                                    METH_FASTCALL | METH_KEYWORDS, check_info_doc});
    g_methods.push_back(PyMethodDef{nullptr, nullptr, 0, nullptr});
    g_doc = module_doc();
    g_def.m_doc = g_doc.c_str();
    g_def.m_methods = g_methods.data();
    pv::Ref mod(PyModule_Create(&g_def));
    if (!mod) return nullptr;

    // 3. The C entry table.
    std::vector<const pv::CEntry*> entries;
    for (const char* name : ENTRIES) {
        const pv::CEntry* e = find_entry(name);
        if (!e) return pv::fail(PyExc_SystemError, "arcus: C entry '%s' is not built", name);
        entries.push_back(e);
    }
    if (!pv::publish_capi(mod.get(), entries.data(), static_cast<Py_ssize_t>(entries.size())))
        return nullptr;

    // 4. NumPy and its types.
    if (!check_numpy()) return nullptr;

    // 5. LAPACK and BLAS.
    if (!arcus::lapack::bind()) return nullptr;

    // 6. NP and NumPy's C interface.
    pv::Ref np(PyImport_ImportModule("numpy"));
    if (!np || PyModule_AddObject(mod.get(), "NP", np.get()) < 0) return nullptr;
    np.release();
    if (_import_array() < 0) {
        PyErr_SetString(PyExc_ImportError, "numpy.core.multiarray failed to import");
        return nullptr;
    }
    pv::set_array_probe(pv::numpy_probe);

    // 7. __all__.
    pv::Ref all(PyList_New(0));
    if (!all) return nullptr;
    for (const char* name : ALL) {
        pv::Ref s(PyUnicode_FromString(name));
        if (!s || PyList_Append(all.get(), s.get()) < 0) return nullptr;
    }
    if (PyModule_AddObject(mod.get(), "__all__", all.get()) < 0) return nullptr;
    all.release();

    g_initialised = true;
    return mod.release();
}

}  // namespace

// Single-phase initialisation, on purpose. A second initialisation in the
// process (another interpreter, or a direct call of PyInit_arcus) must fail
// with RuntimeError raised by the init function itself. Multi-phase
// initialisation (PyModuleDef_Init) would make PyInit_arcus return the module
// definition and create a new module object for every interpreter and every
// re-import, which neither that refusal nor the module's process-wide state
// (the bound LAPACK/BLAS routines, the entry table published as __pyx_capi__)
// admits. With m_size -1 a re-import after removing the module from
// sys.modules reuses the first module's dictionary and does not run init().
PyMODINIT_FUNC PyInit_arcus(void) { return init(); }
