// Quick recognition of double arrays for pv::Buf, for a module that has
// imported NumPy's C interface (include after numpy/arrayobject.h).
#pragma once

#include "common/pyhelp.hpp"

namespace pv {

// Exact NumPy arrays that the buffer protocol would accept unchanged are
// read from their fields: no buffer export per argument.
inline bool numpy_probe(PyObject* o, int ndim, double** data, Py_ssize_t* shape) {
    if (!PyArray_CheckExact(o)) return false;
    PyArrayObject* a = reinterpret_cast<PyArrayObject*>(o);
    if (PyArray_NDIM(a) != ndim || PyArray_TYPE(a) != NPY_DOUBLE || !PyArray_ISNOTSWAPPED(a) ||
        PyArray_ITEMSIZE(a) != 8 || !PyArray_IS_C_CONTIGUOUS(a) || !PyArray_ISALIGNED(a) ||
        !PyArray_ISWRITEABLE(a)) {
        return false;
    }
    const npy_intp* dims = PyArray_DIMS(a);
    for (int d = 0; d < ndim; ++d) {
        if (dims[d] > pv::MAX_DIM) return false;
        shape[d] = dims[d];
    }
    *data = static_cast<double*>(PyArray_DATA(a));
    return true;
}

}  // namespace pv
