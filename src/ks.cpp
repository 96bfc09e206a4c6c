// ksdist: distribution functions of two-sided Kolmogorov-Smirnov statistics.
//
// Three entry points, called from R through .Call():
//   pKS2(statistic, tol)            Kolmogorov's limiting distribution K(x)
//   pKolmogorov2x(statistic, n)     exact one-sample P(D_n < d)
//   pSmirnov2x(statistic, m, n)     exact two-sample P(D_{m,n} < d)
//
// Every result is meant to be reproducible bit for bit: each product,
// quotient and sum below is rounded on its own, in the order written.  The
// compiler must therefore neither fuse a multiply and an add nor reorder a
// sum.  src/Makevars asks for -ffp-contract=off, but flags from a user's
// ~/.R/Makevars come later on the command line, so the pragma below pins
// contraction off for this file whatever they say, and the checks refuse to
// build under flags that license reassociation or assume finite values.

#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif

#if defined(__FAST_MATH__) || defined(__ASSOCIATIVE_MATH__) || \
    defined(__RECIPROCAL_MATH__) || (defined(__FINITE_MATH_ONLY__) && __FINITE_MATH_ONLY__)
#error "ksdist must not be compiled with -ffast-math, -Ofast or related flags: they change results"
#endif

#include <cmath>
#include <climits>
#include <cstdint>
#include <cstring>

#define R_NO_REMAP
#include <R.h>
#include <Rinternals.h>

#define KS_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Truncate toward zero to a 32-bit integer.  Values outside the int range
// (and NaN) map to INT_MIN, the "integer indefinite" that the hardware
// conversion produces; doing it explicitly keeps the conversion defined.
inline int trunc_to_int(double x) {
    if (x > -2147483649.0 && x < 2147483648.0) return static_cast<int>(x);
    return INT_MIN;
}

// A double vector for pKS2 to overwrite: a copy of a double vector, or a
// fresh coercion of an integer or logical one (NA becomes NA_real_).  Other
// types are refused with R's own wording instead of being misread.
SEXP double_copy(SEXP x) {
    switch (TYPEOF(x)) {
    case REALSXP:
        return Rf_duplicate(x);
    case INTSXP:
    case LGLSXP:
        return Rf_coerceVector(x, REALSXP);
    case NILSXP:
        return Rf_allocVector(REALSXP, 0);
    default:
        Rf_error("cannot coerce type '%s' to vector of type 'double'",
                 Rf_type2char(TYPEOF(x)));
    }
    return R_NilValue; // not reached
}

} // namespace

// ---------------------------------------------------------------------------
// Kolmogorov's limiting distribution
//
//   K(x) = 1 - 2 sum_{k>=1} (-1)^(k-1) exp(-2 k^2 x^2)                (x >= 1)
//        = sqrt(2 pi)/x sum_{k odd} exp(-k^2 pi^2 / (8 x^2))          (x <  1)
//
// The alternating series converges fast for large x; the theta-transformed
// series for small x.  For x < 1 the number of terms depends on tol only.
// ---------------------------------------------------------------------------
KS_EXPORT SEXP pKS2(SEXP statistic, SEXP stol) {
    // Reject non-vectors before asking for a length.
    switch (TYPEOF(statistic)) {
    case REALSXP: case INTSXP: case LGLSXP: case NILSXP: break;
    default:
        Rf_error("cannot coerce type '%s' to vector of type 'double'",
                 Rf_type2char(TYPEOF(statistic)));
    }
    const int len = (TYPEOF(statistic) == NILSXP) ? 0 : LENGTH(statistic);
    const double tol = Rf_asReal(stol);
    SEXP ans = double_copy(statistic);
    double *p = REAL(ans);

    // Term bound for the small-x series.  Infinite or NaN roots (tol <= 0,
    // tol NaN, tol > e^2) give INT_MIN, so that series sums nothing.
    const int kmax = trunc_to_int(std::sqrt(2.0 - std::log(tol)));

    for (int i = 0; i < len; i++) {
        const double x = p[i];
        if (x < 1.0) {
            const double z = -1.2337005501361697 / (x * x); // -pi^2/8 / x^2
            const double w = std::log(x);
            double s = 0.0;
            for (int k = 1; k < kmax; k += 2)
                s = s + std::exp(static_cast<double>(k * k) * z - w);
            p[i] = s / 0.3989422804014327; // divided by 1/sqrt(2 pi)
        } else if (!(tol < 1.0)) {
            p[i] = 1.0;
        } else {
            const double z = (-2.0 * x) * x;
            double sum = 1.0, previous;
            double sign = -1.0, k = 1.0;
            do {
                previous = sum;
                sum = previous + (2.0 * sign) * std::exp((z * k) * k);
                sign = -sign;
                k = k + 1.0;
                // Stop once the step is within tol, and in any case once a
                // term no longer moves the partial sum: with tol < 0 the
                // first test alone would never end.  For tol >= 0 the second
                // test is implied by the first, so results are unchanged.
            } while (std::fabs(previous - sum) > tol && previous != sum);
            p[i] = sum;
        }
    }
    return ans;
}
