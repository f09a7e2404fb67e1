#include "arcus/lapack.hpp"

#include "common/pyhelp.hpp"

namespace arcus::lapack {

dgbsv_t dgbsv = nullptr;
dgesv_t dgesv = nullptr;
dgemm_t dgemm = nullptr;

bool bind() {
    void* gb = pv::capsule_pointer("scipy.linalg.cython_lapack", "dgbsv");
    if (!gb) return false;
    void* ge = pv::capsule_pointer("scipy.linalg.cython_lapack", "dgesv");
    if (!ge) return false;
    void* mm = pv::capsule_pointer("scipy.linalg.cython_blas", "dgemm");
    if (!mm) return false;
    dgbsv = reinterpret_cast<dgbsv_t>(gb);
    dgesv = reinterpret_cast<dgesv_t>(ge);
    dgemm = reinterpret_cast<dgemm_t>(mm);
    return true;
}

}  // namespace arcus::lapack
