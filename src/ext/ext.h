// Shared pieces of ksdist's second shared object (ksdist_ext): the direct
// tails, one-sided, tie-aware and discrete-null distributions, and the
// vectorised routines behind the R functions.
//
// Discipline, as in the exact module: an R error or interrupt long-jumps
// out of this code, so no C++ object with a non-trivial destructor may be
// alive across a call into R's API, no exception may cross a .Call
// boundary, and scratch memory comes from R_alloc (which R reclaims on a
// jump as well as on return).  Every function here is single-threaded.
#ifndef KSDIST_EXT_H
#define KSDIST_EXT_H

// Exact IEEE double arithmetic is assumed here too: refuse the flags that
// break it, as the exact module does.
#include "../ks_float_checks.h"
#include "../ks_poll.h"

#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
// clang's -fassociative-math announces itself through no macro, and would
// fold the error terms of compensated sums (a - (s - b) and the like) to
// zero; this keeps every sum in the order written.
#pragma clang fp reassociate(off)
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif

#include <cmath>
#include <climits>
#include <cstdint>
#include <cstring>

#define R_NO_REMAP
#include <R.h>
#include <Rinternals.h>

namespace ksx {

// ---------------------------------------------------------------------------
// Probabilities beyond the double range.
//
// An xp stands for m * 2^e with m in [0.5, 1), or m == 0 for exactly 0 (e is
// then 0), or m NaN.  Tail probabilities far below 1e-308 stay representable
// and their logarithms exact to rounding; xp_value() rounds once to a double
// (to a subnormal or 0 only when the probability itself is that small).
// ---------------------------------------------------------------------------
struct xp {
    double m;
    int64_t e;
};

inline xp xp_make(double v, int64_t e = 0) {
    if (v == 0.0 || std::isnan(v) || std::isinf(v)) return xp{v, 0};
    int k;
    const double f = std::frexp(v, &k);
    return xp{f, e + k};
}

inline xp xp_zero() { return xp{0.0, 0}; }

// Exact scaling by 2^k, k any integer: the result rounds once, and only when
// it leaves the normal range.
inline double scale2(double v, int64_t k) {
    if (k > 4000) k = 4000;
    if (k < -4000) k = -4000;
    return std::ldexp(v, static_cast<int>(k));
}

inline double xp_value(xp a) { return a.m == 0.0 ? 0.0 : scale2(a.m, a.e); }

// log(2) split so that e * LN2_HI is exact for |e| < 2^31.
constexpr double LN2_HI = 6.93147180369123816490e-01;
constexpr double LN2_LO = 1.90821492927058770002e-10;

inline double xp_log(xp a) {
    if (a.m == 0.0) return -INFINITY;
    // Near 1 the logarithm itself is small: take it of the value, so that
    // it keeps its relative accuracy.
    if (a.e >= -1 && a.e <= 1) return std::log(std::ldexp(a.m, static_cast<int>(a.e)));
    const double e = static_cast<double>(a.e);
    return (e * LN2_HI + std::log(a.m)) + e * LN2_LO;
}

// e^l as an xp, for l down to -6e18 (below that, and for -Inf, exactly 0:
// a caller that needs the logarithm of something that small must carry the
// logarithm itself).
inline xp xp_exp(double l) {
    if (std::isnan(l)) return xp{l, 0};
    if (l < -6e18) return xp_zero();
    if (l > 6e18) return xp{INFINITY, 0};
    const double k = std::floor(l / 0.6931471805599453);
    const double r = (l - k * LN2_HI) - k * LN2_LO;
    return xp_make(std::exp(r), static_cast<int64_t>(k));
}

inline xp xp_mul(xp a, xp b) {
    if (a.m == 0.0 || b.m == 0.0) return xp_zero();
    return xp_make(a.m * b.m, a.e + b.e);
}

inline xp xp_div(xp a, xp b) { return xp_make(a.m / b.m, a.e - b.e); }

// a + b, rounded once as the plain sum of the two values would be.
inline xp xp_add(xp a, xp b) {
    if (a.m == 0.0) return b;
    if (b.m == 0.0) return a;
    if (a.e < b.e) {
        const xp t = a;
        a = b;
        b = t;
    }
    const int64_t d = a.e - b.e; // >= 0; beyond 1100 b is below half an ulp of a
    if (d > 1100) return a;
    return xp_make(a.m + std::ldexp(b.m, static_cast<int>(-d)), a.e);
}

inline bool xp_less(xp a, xp b) {
    if (a.m == 0.0 || b.m == 0.0) return a.m < b.m;
    if (a.e != b.e) return a.e < b.e;
    return a.m < b.m;
}

// ---------------------------------------------------------------------------
// The exact module's entry points, looked up once when the package loads.
// ---------------------------------------------------------------------------
typedef SEXP (*entry2)(SEXP, SEXP);
typedef SEXP (*entry3)(SEXP, SEXP, SEXP);
extern entry2 module_pKS2;
extern entry2 module_pKolmogorov2x;
extern entry3 module_pSmirnov2x;

// Scalar calls into the module (P(D_n < d), P(D_{m,n} < d), K(x)).
double module_kolmogorov(double d, int n);
double module_smirnov(double d, int m, int n);
double module_ks2(double x, double tol);

// ---------------------------------------------------------------------------
// Interrupts and memory.
// ---------------------------------------------------------------------------

// Lets R act on a pending interrupt or time limit about every 10 ms, or
// once 2^24 units of work have passed since the last look.  Only R_alloc
// memory may be live.
inline void poll(PollClock *p, double add) {
    if (p->due(add, 16777216.0)) R_CheckUserInterrupt();
}

// The largest working memory an exact computation may take, in bytes, from
// option "ksdist.max_bytes" (default 4 GiB).
double max_bytes();

// Stops with a message when `bytes` exceeds max_bytes(): `what` names the
// computation, `instead` says what the user can do.
void check_bytes(double bytes, const char *what, const char *instead);

// "512 bytes", "3.0 KiB", "12.5 MiB", "1.2 GiB".
void format_bytes(double b, char *out, size_t size);

} // namespace ksx

#endif
