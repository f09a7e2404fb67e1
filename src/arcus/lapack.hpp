// LAPACK and BLAS routines, bound at import from SciPy's capsules
// (reference calling convention: every argument by address).
#pragma once

namespace arcus::lapack {

using dgbsv_t = void (*)(int* n, int* kl, int* ku, int* nrhs, double* ab, int* ldab, int* ipiv,
                         double* b, int* ldb, int* info);
using dgesv_t = void (*)(int* n, int* nrhs, double* a, int* lda, int* ipiv, double* b, int* ldb,
                         int* info);
using dgemm_t = void (*)(char* transa, char* transb, int* m, int* n, int* k, double* alpha,
                         double* a, int* lda, double* b, int* ldb, double* beta, double* c,
                         int* ldc);

extern dgbsv_t dgbsv;
extern dgesv_t dgesv;
extern dgemm_t dgemm;

// Binds the three routines; false with ImportError set when one is missing.
bool bind();

}  // namespace arcus::lapack
