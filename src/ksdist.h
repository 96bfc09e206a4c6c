// ksdist.h: what every compiled file of the package includes.
//
// ---------------------------------------------------------------------------
// Map of the compiled code
// ---------------------------------------------------------------------------
// Two shared objects.  ksdist.so, the exact module, is ks.cpp alone: three
// entry points whose results are fixed bit for bit (pKS2, pKolmogorov2x,
// pSmirnov2x).  ksdist_ext.so is everything under ext/: the laws as the R
// functions see them, each tail computed directly.  By law, in R's words:
//
//   law (R functions)                         engine                  d/p/q/r and .Call routines
//   kolmogorov: one sample, continuous null   ext/kolmogorov.cpp      ext/kolmogorov.cpp
//     (d/p/q/rkolmogorov)                     ext/kolmogorov_density.cpp (densities)
//   smirnov: two samples, with ties           ext/smirnov_sweep.cpp   ext/smirnov.cpp
//     (d/p/q/rsmirnov2)                       smirnov_equal.h (m = n, shared with the module)
//   limit: Kolmogorov's limiting law          ext/limit.cpp           ext/limit.cpp
//     (d/p/q/rkolmogorov_limit)
//   discrete: one sample, null with jumps     ext/discrete.cpp        ext/discrete.cpp
//     (p/qkolmogorov_discrete)
//
// Shared pieces: ext/crossing.cpp (the boundary-crossing recursion behind
// kolmogorov and discrete), ext/quantile.cpp (the one grid inverter behind
// every q-function), ext/logprob.h (Poisson and binomial log-probabilities),
// ext/args.cpp (argument checks, recycling, attributes: the vectorised
// layer), ext/host.h (what the engines ask of R: scratch memory under the
// memory limit, interrupt polls, the module's entry points),
// ext/smirnov_statistic.cpp (the two-sample statistic of ks_test),
// ext/hooks.cpp (the test hooks), ext/init.cpp (registration).
//
// How to add a law: write its engine as plain functions on doubles and xp
// (below) in ext/<law>.cpp, polling through host.h and taking scratch memory
// from scratch(); add the scalar d/p/q/r beside it (a q-function is a
// Target for ext/quantile.h); add thin .Call routines at the end of the file
// that check their arguments with ext/args.h and loop with vectorise();
// declare them in ext/<law>.h and register them in ext/init.cpp; write the
// R functions in R/<law>.R; tests go in tests/testthat/test-<law>-*.R.
//
// ---------------------------------------------------------------------------
// This header: the exact-arithmetic toolkit.
// ---------------------------------------------------------------------------
// Arithmetic the compiler cannot rearrange (barriers), double-double numbers
// (about 106 bits), numbers with an exponent of their own (far beyond the
// double range), the size limits of the exact laws, and the clock behind the
// interrupt checks.  Everything here is inline, without data, so that the
// exact module, which keeps no state, can include it as well.
#ifndef KSDIST_H
#define KSDIST_H

// Flags that change floating-point results and announce themselves through
// a macro are refused at compile time.  Flags that define no macro (clang's
// -ffp-contract=fast, -freciprocal-math, -fassociative-math) cannot act on
// arithmetic they cannot see through: see the barriers below.
#include <cfloat>

#if defined(__FAST_MATH__)
#error "ksdist must not be compiled with -ffast-math or -Ofast: they change its results. Remove them from CXX17FLAGS/CXXFLAGS (e.g. in ~/.R/Makevars) and reinstall."
#endif
#if defined(__FINITE_MATH_ONLY__) && __FINITE_MATH_ONLY__
#error "ksdist must not be compiled with -ffinite-math-only: NaN and infinite arguments would be misread. Remove it from CXX17FLAGS/CXXFLAGS and reinstall."
#endif
#if defined(__ASSOCIATIVE_MATH__) || defined(__RECIPROCAL_MATH__) || defined(__NO_SIGNED_ZEROS__)
#error "ksdist must not be compiled with -fassociative-math, -freciprocal-math, -fno-signed-zeros or -funsafe-math-optimizations: they change its results. Remove them from CXX17FLAGS/CXXFLAGS and reinstall."
#endif
#if (defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD != 0) || \
    (defined(__FLT_EVAL_METHOD__) && __FLT_EVAL_METHOD__ != 0)
#error "ksdist needs double arithmetic evaluated in double precision (FLT_EVAL_METHOD == 0); flags such as -mfpmath=387 keep intermediates in extended precision and change its results. Build with SSE2 arithmetic (the x86-64 default)."
#endif

// Contraction off for every file that includes this, also where the
// compiler honours a pragma (gcc does, even under -ffp-contract=fast); clang
// is also told not to reassociate (its -fassociative-math announces itself
// through no macro, and would fold the error terms of compensated sums to
// zero).  The barriers cover what the pragmas cannot reach.
#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#pragma clang fp reassociate(off)
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace ks {

// ---------------------------------------------------------------------------
// Vectors.
//
// Vectors of doubles (GCC's vector extensions) for the kernels: operations
// act lane by lane, so every lane rounds as the scalar code would; loads
// and stores go through double arrays (may_alias, 8-byte alignment).  Where
// the toolchain supports it (GCC on x86-64 Linux, not under
// AddressSanitizer), KS_CLONES builds a kernel for AVX2 beside the baseline
// (KS_CLONES_512 also for AVX-512), the best chosen when the object loads.
// ---------------------------------------------------------------------------
typedef double v2d __attribute__((vector_size(16), aligned(8), may_alias));
typedef double v4d __attribute__((vector_size(32), aligned(8), may_alias));
typedef double v8d __attribute__((vector_size(64), aligned(8), may_alias));

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) && \
    !defined(__SANITIZE_ADDRESS__)
#define KS_CLONES __attribute__((target_clones("avx2", "default")))
#define KS_CLONES_512 __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define KS_CLONES
#define KS_CLONES_512
#endif

// ---------------------------------------------------------------------------
// Barriers.
//
// KS_OPAQUE(v) is an empty asm statement that claims to read and rewrite v in
// a register: it emits no instruction, but the compiler must assume that v
// changed there, so nothing computed before it can be merged with anything
// computed after it.  A product marked so cannot be fused into the add that
// consumes it; a partial sum marked so cannot be regrouped with the next
// term; operands marked so in the same statement as a division hide the
// divisor, so no reciprocal can be formed or hoisted.
// ---------------------------------------------------------------------------
#if defined(__x86_64__) || defined(__i386__)
#define KS_OPAQUE(v) __asm__("" : "+x"(v))
#define KS_OPAQUE2(a, b) __asm__("" : "+x"(a), "+x"(b))
#elif defined(__aarch64__)
#define KS_OPAQUE(v) __asm__("" : "+w"(v))
#define KS_OPAQUE2(a, b) __asm__("" : "+w"(a), "+w"(b))
#else
#define KS_OPAQUE(v) __asm__("" : "+m"(v))
#define KS_OPAQUE2(a, b) __asm__("" : "+m"(a), "+m"(b))
#endif

// v itself, hidden from the optimiser.
inline double hidden(double v) {
    KS_OPAQUE(v);
    return v;
}
inline double rmul(double a, double b) { return hidden(a * b); }
inline double radd(double a, double b) { return hidden(a + b); }
inline double rsub(double a, double b) { return hidden(a - b); }
inline double rdiv(double a, double b) {
    KS_OPAQUE2(a, b);
    return hidden(a / b);
}
// The library functions, with arguments and result hidden the same way:
// with -fapprox-func or -funsafe-math-optimizations clang would otherwise
// turn pow(x, (double)i) into repeated multiplication and pow(10, e) into
// exp10(e), which round differently.
inline double rpow(double x, double y) {
    KS_OPAQUE2(x, y);
    return hidden(std::pow(x, y));
}
inline double rexp(double x) { return hidden(std::exp(hidden(x))); }
inline double rlog(double x) { return hidden(std::log(hidden(x))); }
inline double rsqrt(double x) { return hidden(std::sqrt(hidden(x))); }

// A zero the optimiser cannot see, to start sums: 0 + x is then really
// computed (it turns -0 into +0, which -fno-signed-zeros would skip).
inline double rzero() { return hidden(0.0); }

// Truncate toward zero to a 32-bit integer.  Values outside the int range
// (and NaN) map to INT_MIN, the "integer indefinite" that the hardware
// conversion produces; doing it explicitly keeps the conversion defined.
inline int trunc_to_int(double x) {
    if (x > -2147483649.0 && x < 2147483648.0) return static_cast<int>(x);
    return INT_MIN;
}

// ---------------------------------------------------------------------------
// Powers of two and exponents, through the bits (exact, no library call).
// ---------------------------------------------------------------------------

// 2^k for -1022 <= k <= 1023.
inline double pow2(int k) {
    const uint64_t bits = static_cast<uint64_t>(k + 1023) << 52;
    double r;
    std::memcpy(&r, &bits, sizeof r);
    return r;
}

// Splits a positive normal double into a mantissa in [0.5, 1) and an
// exponent, as frexp does.
inline double split(double s, int64_t *e) {
    uint64_t bits;
    std::memcpy(&bits, &s, sizeof bits);
    *e = static_cast<int64_t>((bits >> 52) & 0x7ff) - 1022;
    bits = (bits & ~(uint64_t(0x7ff) << 52)) | (uint64_t(1022) << 52);
    double r;
    std::memcpy(&r, &bits, sizeof r);
    return r;
}

// The bits of a mantissa in [0.5, 1): the fraction field, and the exponent
// field of 0.5.  Vector code builds mantissas from them lane by lane.
constexpr int64_t MANT_BITS = (int64_t(1) << 52) - 1;
constexpr int64_t HALF_BITS = int64_t(1022) << 52;

// ---------------------------------------------------------------------------
// Double-double numbers.
//
// A dd is an unevaluated sum hi + lo with |lo| <= ulp(hi) / 2: about 106
// significant bits.  It is used where a double would be rounded once and
// then used thousands of times (a transition weight applied at every step
// of a recursion, the product n d) so that the rounding cannot compound,
// and where a sum cancels.  Every operation goes through the barriers, so
// that no flag can fold an error term to zero.
// ---------------------------------------------------------------------------
struct dd {
    double hi, lo;
};

inline dd dd_of(double a) { return dd{a, 0.0}; }

// a + b = s + e exactly.
inline dd two_sum(double a, double b) {
    const double s = radd(a, b);
    const double bb = rsub(s, a);
    return dd{s, radd(rsub(a, rsub(s, bb)), rsub(b, bb))};
}

// The same when |a| >= |b| or a == 0.
inline dd fast_two_sum(double a, double b) {
    const double s = radd(a, b);
    return dd{s, rsub(b, rsub(s, a))};
}

// a b = p + e exactly (Dekker): each factor split into two halves of 26
// bits, whose products are exact.  Valid while |a|, |b| < 2^995 and a b
// does not underflow.  (A fused multiply-add would do it in one step, but
// not every processor has one, and the results must not depend on that.)
inline dd two_prod(double a, double b) {
    const double p = rmul(a, b);
    const double ta = rmul(134217729.0, a), tb = rmul(134217729.0, b);
    const double ah = rsub(ta, rsub(ta, a)), al = rsub(a, ah);
    const double bh = rsub(tb, rsub(tb, b)), bl = rsub(b, bh);
    return dd{p, radd(radd(radd(rsub(rmul(ah, bh), p), rmul(ah, bl)), rmul(al, bh)), rmul(al, bl))};
}

inline double dd_val(dd a) { return radd(a.hi, a.lo); }
inline dd dd_neg(dd a) { return dd{-a.hi, -a.lo}; }

inline dd dd_add(dd a, dd b) {
    const dd s = two_sum(a.hi, b.hi);
    const dd t = two_sum(a.lo, b.lo);
    const dd u = fast_two_sum(s.hi, radd(s.lo, t.hi));
    return fast_two_sum(u.hi, radd(u.lo, t.lo));
}

inline dd dd_sub(dd a, dd b) { return dd_add(a, dd_neg(b)); }

inline dd dd_add_d(dd a, double b) {
    const dd s = two_sum(a.hi, b);
    return fast_two_sum(s.hi, radd(s.lo, a.lo));
}

inline dd dd_mul(dd a, dd b) {
    const dd p = two_prod(a.hi, b.hi);
    return fast_two_sum(p.hi, radd(p.lo, radd(rmul(a.hi, b.lo), rmul(a.lo, b.hi))));
}

inline dd dd_mul_d(dd a, double b) {
    const dd p = two_prod(a.hi, b);
    return fast_two_sum(p.hi, radd(p.lo, rmul(a.lo, b)));
}

// a / b by three quotients, each from the remainder of the last.
inline dd dd_div(dd a, dd b) {
    const double q1 = rdiv(a.hi, b.hi);
    dd r = dd_sub(a, dd_mul_d(b, q1));
    const double q2 = rdiv(r.hi, b.hi);
    r = dd_sub(r, dd_mul_d(b, q2));
    const double q3 = rdiv(r.hi, b.hi);
    return dd_add_d(fast_two_sum(q1, q2), q3);
}

inline dd dd_div_d(dd a, double b) { return dd_div(a, dd_of(b)); }

// a / b by two quotients (Dekker's): a low word a little less accurate than
// dd_div_d's.  The module's equal-size sum has always divided this way, and
// its results are kept to the bit.
inline dd dd_div_d2(dd a, double b) {
    const double q1 = rdiv(a.hi, b);
    const dd p = two_prod(q1, b);
    const dd s = two_sum(a.hi, -p.hi);
    const double q2 = rdiv(radd(rsub(s.lo, p.lo), radd(s.hi, a.lo)), b);
    return fast_two_sum(q1, q2);
}

inline dd dd_ldexp(dd a, int k) { return dd{std::ldexp(a.hi, k), std::ldexp(a.lo, k)}; }

// Sign of a - b.
inline int dd_cmp(dd a, dd b) {
    const dd d = dd_sub(a, b);
    return (d.hi > 0.0) - (d.hi < 0.0);
}

// floor of a dd (its value, not just of hi); |a| < 2^52.
inline double dd_floor(dd a) {
    double f = std::floor(a.hi);
    if (f == a.hi && a.lo < 0.0) f -= 1.0;
    return f;
}

// Nearest integer (ties either way) and the distance to it, as a double.
inline double dd_round(dd a, double *dist) {
    const double r = std::nearbyint(a.hi);
    *dist = std::fabs(dd_val(dd_sub(a, dd_of(r))));
    return r;
}

constexpr dd DD_LN2 = {0x1.62e42fefa39efp-1, 0x1.abc9e3b39803fp-56};
constexpr double LN_2PI = 0x1.d67f1c864beb5p+0;

// e^x = m 2^k with m a dd in [0.7, 1.42], for |x| < 2^40.
inline dd dd_exp_split(dd x, int64_t *k) {
    const double kk = std::nearbyint(rdiv(x.hi, DD_LN2.hi));
    dd r = dd_sub(x, dd_mul_d(DD_LN2, kk)); // |r| <= 0.35 (plus rounding)
    r = dd_ldexp(r, -10);
    // e^r - 1 by its Taylor series (|r| < 3.5e-4: ten terms reach 1e-40),
    // then squared back ten times as (1 + u)^2 - 1 = u (2 + u).
    dd t = r, u = r;
    for (int j = 2; j <= 10; j++) {
        t = dd_div_d(dd_mul(t, r), static_cast<double>(j));
        u = dd_add(u, t);
    }
    for (int j = 0; j < 10; j++) u = dd_mul(u, dd_add_d(u, 2.0));
    *k = static_cast<int64_t>(kk);
    return dd_add_d(u, 1.0);
}

inline dd dd_exp(dd x) { // for |x| < 700
    int64_t k;
    const dd m = dd_exp_split(x, &k);
    return dd_ldexp(m, static_cast<int>(k));
}

// log(a), a > 0: one Newton step on e^y = a from the double logarithm.
inline dd dd_log(dd a) {
    const double y0 = std::log(a.hi);
    const dd e = dd_exp(dd_of(-y0));
    return dd_add_d(dd_add_d(dd_mul(a, e), -1.0), y0);
}

// ---------------------------------------------------------------------------
// Numbers with an exponent of their own.
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
inline xp xp_nan() { return xp{NAN, 0}; }

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
    return radd(radd(rmul(e, LN2_HI), std::log(a.m)), rmul(e, LN2_LO));
}

// e^l as an xp, for l down to -6e18 (below that, and for -Inf, exactly 0:
// a caller that needs the logarithm of something that small must carry the
// logarithm itself).
inline xp xp_exp(double l) {
    if (std::isnan(l)) return xp{l, 0};
    if (l < -6e18) return xp_zero();
    if (l > 6e18) return xp{INFINITY, 0};
    const double k = std::floor(rdiv(l, 0.6931471805599453));
    const double r = rsub(rsub(l, rmul(k, LN2_HI)), rmul(k, LN2_LO));
    return xp_make(std::exp(r), static_cast<int64_t>(k));
}

// e^L for L a double-double (down to -6e18): to within an ulp or so of the
// value, where the double L alone would lose |L| times the rounding.
inline xp xp_exp_dd(dd L) {
    if (std::isnan(L.hi)) return xp{L.hi, 0};
    if (L.hi < -6e18) return xp_zero();
    if (L.hi > 6e18) return xp{INFINITY, 0};
    const double k = std::floor(rdiv(L.hi, 0.6931471805599453));
    const dd r = dd_sub(L, dd_mul_d(DD_LN2, k));
    return xp_make(rmul(std::exp(r.hi), radd(1.0, r.lo)), static_cast<int64_t>(k));
}

inline xp xp_mul(xp a, xp b) {
    if (a.m == 0.0 || b.m == 0.0) return xp_zero();
    return xp_make(rmul(a.m, b.m), a.e + b.e);
}

inline xp xp_div(xp a, xp b) { return xp_make(rdiv(a.m, b.m), a.e - b.e); }

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
    return xp_make(radd(a.m, std::ldexp(b.m, static_cast<int>(-d))), a.e);
}

inline bool xp_less(xp a, xp b) {
    if (a.m == 0.0 || b.m == 0.0) return a.m < b.m;
    if (a.e != b.e) return a.e < b.e;
    return a.m < b.m;
}

// ---------------------------------------------------------------------------
// Size limits of the exact laws, in one place.
// ---------------------------------------------------------------------------

// One sample, the module's matrix: the largest n d for which m = 2
// floor(n d) + 1 has m^2 < 2^31, so that the order and its element count
// stay in the 32-bit range.
constexpr double KOLMOGOROV_MAX_ND = 23170.0;

// Two samples: the exact law is computed for m n up to 2^50.  The
// statistic is a whole number of units 1/(m n), counted exactly in 64-bit
// integers and held exactly in a double, and the sweeps take time of order
// m n: beyond 2^50 cells no exact computation could end.
constexpr double SMIRNOV_MAX_MN = 1125899906842624.0; // 2^50

// ---------------------------------------------------------------------------
// When a long computation lets R act on a pending interrupt or time limit:
// about every 10 ms, so that small computations pay nothing for it, and at
// the latest after a given amount of work.  Work is counted in doubles (a
// count of cells or multiply-adds can pass 2^31 within one step); every
// 2^16 of it the clock is read.  The clock is what keeps the checks regular
// where the work count says little about the time: the first touch of
// fresh pages can cost a hundred times a multiply-add (far more in a
// virtual machine whose host has not yet backed them), and a busy machine
// stretches everything.
// ---------------------------------------------------------------------------
struct PollClock {
    double work = 0.0;  // since the clock was last read
    double since = 0.0; // since the last check
    std::chrono::steady_clock::time_point last = std::chrono::steady_clock::now();

    bool due(double add, double most) {
        work += add;
        if (work < 0x1p16) return false;
        since += work;
        work = 0.0;
        const auto now = std::chrono::steady_clock::now();
        if (since < most && now - last < std::chrono::milliseconds(10)) return false;
        since = 0.0;
        last = now;
        return true;
    }
};

} // namespace ks

#endif
