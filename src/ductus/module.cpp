// Module frame of pyvelt.ductus: initialisation, the published names, the
// exceptions and the C entry table.
#define DUCTUS_IMPORTS_NUMPY
#include "ductus/numpy.hpp"
#include "ductus/ductus.hpp"
#include "common/numpy_probe.hpp"

namespace ductus {

Arcus arcus;
Modules mods;
PyObject* CorruptedFileError = nullptr;
PyObject* ConvergenceError = nullptr;

namespace {

c_point1d make_point(double t, double val, unsigned order) { return c_point1d{t, val, order}; }

const char MODULE_DOC[] =
    "\nIn this module there are the data structures necessary for the working of the\nlibrary.\n\n";
const char CONVERGENCE_DOC[] = "\n    An error when a macro-instruction loop fails.\n    \n    ";
const char CORRUPTED_DOC[] = "\n    An error when an uploaded file is corrupted.\n    ";

PyMethodDef g_methods[] = {
    unpickle_base_def,
    {nullptr, nullptr, 0, nullptr},
};
PyModuleDef g_def = {PyModuleDef_HEAD_INIT, "ductus", MODULE_DOC, -1, g_methods,
                     nullptr, nullptr, nullptr, nullptr};
bool g_initialised = false;

bool add_type(PyObject* mod, const char* name, PyTypeObject& t) {
    Py_INCREF(&t);
    if (PyModule_AddObject(mod, name, reinterpret_cast<PyObject*>(&t)) < 0) {
        Py_DECREF(&t);
        return false;
    }
    return true;
}

bool bind_arcus() {
    pv::Ref mod(PyImport_ImportModule("pyvelt.arcus"));
    if (!mod) return false;
    PyObject* m = mod.get();
#define DUCTUS_BIND(name, R, params) &&pv::bind_entry(m, #name, arcus.name)
    return true DUCTUS_ARCUS_ENTRIES(DUCTUS_BIND);
#undef DUCTUS_BIND
}

PyObject* import_attr(const char* module, const char* attr) {
    pv::Ref m(PyImport_ImportModule(module));
    return m ? pv::getattr(m.get(), attr) : nullptr;
}

PyObject* init() {
    if (g_initialised) {
        return pv::fail(PyExc_RuntimeError,
                        "Module 'ductus' has already been imported. Re-initialisation is not "
                        "supported.");
    }
    // 1. The module and its C entry table.
    pv::Ref mod(PyModule_Create(&g_def));
    if (!mod) return nullptr;
    static const pv::CEntry make_point_entry = pv::centry<make_point>("make_point");
    const pv::CEntry* entries[] = {&make_point_entry};
    if (!pv::publish_capi(mod.get(), entries, 1)) return nullptr;

    // 2. The types.
    if (!ready_base() || !ready_point() || !ready_traj()) return nullptr;
    if (!add_type(mod.get(), "PyVELTObject", BaseType) ||
        !add_type(mod.get(), "Point1d", PointTypeObj) ||
        !add_type(mod.get(), "Trajectory1d", TrajTypeObj)) {
        return nullptr;
    }

    // 3. The C entries of pyvelt.arcus.
    if (!bind_arcus()) return nullptr;

    // 4. NumPy.
    pv::Ref np(PyImport_ImportModule("numpy"));
    if (!np) return nullptr;
    mods.isscalar = pv::getattr(np.get(), "isscalar");
    if (!mods.isscalar || PyModule_AddObject(mod.get(), "np", np.get()) < 0) return nullptr;
    np.release();
    if (_import_array() < 0) return pv::fail(PyExc_ImportError, "numpy.core.multiarray failed to import");
    pv::set_array_probe(pv::numpy_probe);

    // 5. Modules for the persistence code (not module attributes).
    mods.os = PyImport_ImportModule("os");
    if (!mods.os) return nullptr;
    mods.etree = import_attr("lxml", "etree");
    if (!mods.etree) {
        if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
            PyErr_Clear();
            mods.etree = PyImport_ImportModule("lxml.etree");
        }
        if (!mods.etree) return nullptr;
    }
    mods.pyvelt = PyImport_ImportModule("pyvelt");
    if (!mods.pyvelt) return nullptr;

    // 6. __all__.
    pv::Ref all(Py_BuildValue("[sssss]", "ConvergenceError", "CorruptedFileError", "PyVELTObject",
                              "Trajectory1d", "Point1d"));
    if (!all || PyModule_AddObject(mod.get(), "__all__", all.get()) < 0) return nullptr;
    all.release();

    // 7. The exceptions.
    ConvergenceError = PyErr_NewExceptionWithDoc("pyvelt.ductus.ConvergenceError", CONVERGENCE_DOC,
                                                 nullptr, nullptr);
    if (!ConvergenceError) return nullptr;
    Py_INCREF(ConvergenceError);
    if (PyModule_AddObject(mod.get(), "ConvergenceError", ConvergenceError) < 0) return nullptr;
    CorruptedFileError = PyErr_NewExceptionWithDoc("pyvelt.ductus.CorruptedFileError", CORRUPTED_DOC,
                                                   nullptr, nullptr);
    if (!CorruptedFileError) return nullptr;
    Py_INCREF(CorruptedFileError);
    if (PyModule_AddObject(mod.get(), "CorruptedFileError", CorruptedFileError) < 0) return nullptr;

    // 8. loadxml and from_tuple are static methods in the type tables.
    g_initialised = true;
    return mod.release();
}

}  // namespace

}  // namespace ductus

// Single-phase initialisation, on purpose: as for arcus, a second
// initialisation in the process must fail with RuntimeError from the init
// function, and the module's state is process-wide (static types, the entries
// bound from arcus at import, the modules kept for the persistence code).
// Multi-phase initialisation (PyModuleDef_Init) would return the definition
// from PyInit_ductus and execute a fresh module per interpreter and re-import.
PyMODINIT_FUNC PyInit_ductus(void) { return ductus::init(); }
