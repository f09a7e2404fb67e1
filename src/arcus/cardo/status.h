// cardo: the status that kernel routines report.
//
// A routine that can fail reports one int through its last argument `info`
// (a *Check routine returns it): 0 success, -k when its k-th argument is
// invalid (codes -5 and below may also name a routine-specific fault, as
// those of limits.h do), a positive Status for a failure at run time.
// The values are fixed: callers compare the numbers.
#pragma once

namespace cardo {

// The positive statuses, and success. 1 to 6 are failures every caller
// reports the same way; 7 and above belong to the routines that report them
// and say what they mean (a caller that does not know one takes it for
// success), except CANCELLED, which every caller reports.
enum Status : int {
    OK = 0,
    NO_MEMORY = 1,         // work storage could not be allocated
    DIVISION_BY_ZERO = 2,  // a zero divisor (coincident knots, a zero pivot)
    NOT_IMPLEMENTED = 3,
    ITERATION_LIMIT = 4,
    OUT_OF_RANGE = 5,
    OTHER = 6,
    // the first value of the routines' own statuses
    FIRST_OWN_STATUS = 7,
    // The work was stopped at the request of the poll function (cancel.h).
    CANCELLED = 10,
    // Global interpolation: the knot vector does not fit the data (a non-zero
    // entry of the collocation matrix outside its band of p - 1 diagonals on
    // each side), and a failure of the band solver.
    BAND_MISFIT = 11,
    SOLVER_FAILED = 12,
};

// The status "the k-th argument is invalid" (k >= 1).
constexpr int InvalidArg(int k) { return -k; }

// True for a status that callers report as an error: a negative one, 1 to 6,
// and CANCELLED.
constexpr bool Failed(int info) {
    return info == CANCELLED || (info != OK && info < FIRST_OWN_STATUS);
}

}  // namespace cardo
