// Module frame of pyvelt.arcus: initialisation, the module's functions and
// C entry table made from the functions' declarations, and `_check_info`.
#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include "arcus/arcus.hpp"

#include <numpy/arrayobject.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "arcus/cardo/status.h"
#include "arcus/lapack.hpp"
#include "common/numpy_probe.hpp"

namespace {

using arcus::Function;

std::vector<const Function*>& registry() {
    static std::vector<const Function*> all;
    return all;
}

// The declarations in the order of one of their positions (`listed` or
// `published`), those without one left out; SystemError when the positions
// do not number 0, 1, 2, ... exactly once each.
bool in_order(int Function::*pos, const char* what, std::vector<const Function*>& out) {
    out.clear();
    for (const Function* f : registry()) {
        if (f->*pos < 0) continue;
        if (static_cast<std::size_t>(f->*pos) >= out.size()) out.resize(f->*pos + 1, nullptr);
        if (out[f->*pos]) {
            return pv::fail(PyExc_SystemError, "arcus: '%s' and '%s' share %s position %d",
                            out[f->*pos]->name, f->name, what, f->*pos);
        }
        out[f->*pos] = f;
    }
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (!out[i]) return pv::fail(PyExc_SystemError, "arcus: no function at %s position %zu", what, i);
    }
    return true;
}

std::string module_doc(const std::vector<const Function*>& listed) {
    std::string s = "In this module there are some wrapper for cardo C-library functions.\n\n";
    char line[128];
    std::snprintf(line, sizeof line, "%-18s%s\n", "All functions", "Wrapper for");
    s += line;
    std::snprintf(line, sizeof line, "%-18s%s\n", "-------------", "-------------------------");
    s += line;
    for (const Function* f : listed) {
        std::snprintf(line, sizeof line, "%-18s%s\n", f->name, f->routine);
        s += line;
    }
    return s;
}

// The public form of the status check: every status of 7 and above is
// success, the interruption status of the library's own calls included
// (only the call that was interrupted reports it).
void check_info_entry(int info) {
    if (info < cardo::FIRST_OWN_STATUS) arcus::check_info(info);
}
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

std::vector<PyMethodDef> g_methods;
std::vector<std::string> g_docs;
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

    // 2. The module and its functions, in the order of the listing.
    std::vector<const Function*> listed, published;
    if (!in_order(&Function::listed, "listing", listed) ||
        !in_order(&Function::published, "entry table", published)) {
        return nullptr;
    }
    g_methods.clear();
    g_docs.clear();
    g_docs.reserve(listed.size());
    for (const Function* f : listed) {
        if (!f->py) continue;
        g_docs.push_back(f->signature(f->names) + f->doc);
        g_methods.push_back(PyMethodDef{f->name, f->py, METH_FASTCALL | METH_KEYWORDS,
                                        g_docs.back().c_str()});
    }
    g_methods.push_back(PyMethodDef{"_check_info",
                                    PV_FASTCALL_CAST((pv::fastcall<check_info_entry, check_info_args>)),
                                    METH_FASTCALL | METH_KEYWORDS, check_info_doc});
    g_methods.push_back(PyMethodDef{nullptr, nullptr, 0, nullptr});
    g_doc = module_doc(listed);
    g_def.m_doc = g_doc.c_str();
    g_def.m_methods = g_methods.data();
    pv::Ref mod(PyModule_Create(&g_def));
    if (!mod) return nullptr;

    // 3. The C entry table.
    std::vector<const pv::CEntry*> entries;
    for (const Function* f : published) entries.push_back(&f->entry);
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
    if (_import_array() < 0) return pv::fail(PyExc_ImportError, "numpy.core.multiarray failed to import");
    pv::set_array_probe(pv::numpy_probe);

    // 7. __all__: the Python functions of the listing.
    pv::Ref all(PyList_New(0));
    if (!all) return nullptr;
    for (const Function* f : listed) {
        if (!f->py) continue;
        pv::Ref s(PyUnicode_FromString(f->name));
        if (!s || PyList_Append(all.get(), s.get()) < 0) return nullptr;
    }
    if (PyModule_AddObject(mod.get(), "__all__", all.get()) < 0) return nullptr;
    all.release();

    g_initialised = true;
    return mod.release();
}

}  // namespace

arcus::Function::Function(const char* name_, const char* routine_, int listed_, int published_,
                          PyCFunction py_, std::string (*signature_)(const char* const*),
                          const char* const* names_, const char* doc_, pv::CEntry entry_)
    : name(name_), routine(routine_), listed(listed_), published(published_), py(py_),
      signature(signature_), names(names_), doc(doc_), entry(entry_) {
    registry().push_back(this);
}

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
