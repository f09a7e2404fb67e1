// NumPy's C interface for the files of pyvelt.ductus (imported by the module frame).
#pragma once

#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#define PY_ARRAY_UNIQUE_SYMBOL pyvelt_ductus_ARRAY_API
#ifndef DUCTUS_IMPORTS_NUMPY
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>
