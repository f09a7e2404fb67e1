// The shared checks of the wrappers.
#include "arcus/arcus.hpp"
#include "arcus/cardo/cardo.h"

namespace arcus {

bool lapack_check(int info) {
    if (info == 0) return true;
    return pv::fail(PyExc_Exception, "'dgesv' LAPACK function failed with 'info' value: %d", info);
}

bool knots_cover(const char* fname, const char* argname, DArr U, int n, int p) {
    if (cardo::CheckCurveSizes(n, p) != cardo::OK) return true;  // the kernel reports them
    return pv::need_len(fname, argname, U.len, static_cast<Py_ssize_t>(n) + p + 2);
}

}  // namespace arcus
