// Double-double arithmetic and accurate Poisson/binomial log-probabilities.
//
// A dd is an unevaluated sum hi + lo with |lo| <= ulp(hi) / 2: about 106
// significant bits.  It is used where a double would be rounded once and
// then used thousands of times (a transition weight applied at every step
// of a recursion, the product n d) so that the rounding cannot compound,
// and where a sum cancels (the alternating one-sided sum).  Products are
// made exact by Dekker's splitting (two_prod).
#ifndef KSDIST_DD_H
#define KSDIST_DD_H

#include "ext.h"

namespace ksx {

struct dd {
    double hi, lo;
};

inline dd dd_of(double a) { return dd{a, 0.0}; }

inline dd two_sum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    const double e = (a - (s - bb)) + (b - bb);
    return dd{s, e};
}

inline dd fast_two_sum(double a, double b) { // |a| >= |b| or a == 0
    const double s = a + b;
    return dd{s, b - (s - a)};
}

// A value the compiler must take as it is: it can neither fold the
// operations that made it into later ones nor reorder around it.
inline double opaque(double v) {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    __asm__("" : "+x"(v));
#elif defined(__GNUC__)
    __asm__("" : "+r"(v));
#endif
    return v;
}

// a b = p + e exactly (Dekker): each factor split into two halves of 26
// bits, whose products are exact.  std::fma would do it in one rounding,
// but under clang's -fassociative-math (which no macro announces) the fma
// is turned into a product and a sum and the error term comes out 0; the
// opaque steps here keep every operation as written under any flags, and
// fusing any of them into an fma changes nothing since each product is
// exact.  Valid while |a|, |b| < 2^995 and a b does not underflow.
inline dd two_prod(double a, double b) {
    const double p = opaque(a * b);
    const double ca = opaque(134217729.0 * a), cb = opaque(134217729.0 * b);
    const double ah = opaque(ca - opaque(ca - a)), bh = opaque(cb - opaque(cb - b));
    const double al = opaque(a - ah), bl = opaque(b - bh);
    const double e = opaque(opaque(opaque(opaque(ah * bh) - p) + opaque(ah * bl)) + opaque(al * bh)) +
                     opaque(al * bl);
    return dd{p, e};
}

inline double dd_val(dd a) { return a.hi + a.lo; }
inline dd dd_neg(dd a) { return dd{-a.hi, -a.lo}; }

inline dd dd_add(dd a, dd b) {
    dd s = two_sum(a.hi, b.hi);
    const dd t = two_sum(a.lo, b.lo);
    s.lo += t.hi;
    s = fast_two_sum(s.hi, s.lo);
    s.lo += t.lo;
    return fast_two_sum(s.hi, s.lo);
}

inline dd dd_sub(dd a, dd b) { return dd_add(a, dd_neg(b)); }

inline dd dd_add_d(dd a, double b) {
    dd s = two_sum(a.hi, b);
    s.lo += a.lo;
    return fast_two_sum(s.hi, s.lo);
}

inline dd dd_mul(dd a, dd b) {
    dd p = two_prod(a.hi, b.hi);
    p.lo += a.hi * b.lo + a.lo * b.hi;
    return fast_two_sum(p.hi, p.lo);
}

inline dd dd_mul_d(dd a, double b) {
    dd p = two_prod(a.hi, b);
    p.lo += a.lo * b;
    return fast_two_sum(p.hi, p.lo);
}

inline dd dd_div(dd a, dd b) {
    const double q1 = a.hi / b.hi;
    dd r = dd_sub(a, dd_mul_d(b, q1));
    const double q2 = r.hi / b.hi;
    r = dd_sub(r, dd_mul_d(b, q2));
    const double q3 = r.hi / b.hi;
    return dd_add_d(fast_two_sum(q1, q2), q3);
}

inline dd dd_div_d(dd a, double b) { return dd_div(a, dd_of(b)); }

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
    const double kk = std::nearbyint(x.hi / DD_LN2.hi);
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
// Log-probabilities with error small relative to the size of their parts
// (the method of Loader's binomial paper: Stirling's series for log k! and a
// deviance function computed without cancellation).  Plain lgamma
// differences would lose about k * 1e-16 absolutely in the exponent.
// ---------------------------------------------------------------------------

// log k! - ((k + 1/2) log k - k + log(2 pi) / 2), k a positive integer.
inline double stirlerr(double k) {
    static const double table[16] = {
        0.0810614667953272582197, 0.0413406959554092940938, 0.0276779256849983391488,
        0.0207906721037650931115, 0.0166446911898211921632, 0.0138761288230707479987,
        0.0118967099458917700951, 0.0104112652619720964975, 0.00925546218271273291773,
        0.00833056343336287125647, 0.00757367548795184079497, 0.00694284010720952986566,
        0.00640899418800420706844, 0.00595137011275884773562, 0.00555473355196280137104,
        0.00520765591960964044072};
    if (k <= 16.0) return table[static_cast<int>(k) - 1];
    const double S0 = 1.0 / 12, S1 = 1.0 / 360, S2 = 1.0 / 1260, S3 = 1.0 / 1680, S4 = 1.0 / 1188;
    const double k2 = k * k;
    if (k > 500) return (S0 - S1 / k2) / k;
    if (k > 80) return (S0 - (S1 - S2 / k2) / k2) / k;
    if (k > 35) return (S0 - (S1 - (S2 - S3 / k2) / k2) / k2) / k;
    return (S0 - (S1 - (S2 - (S3 - S4 / k2) / k2) / k2) / k2) / k;
}

// x log(x / M) + M - x >= 0 for x >= 0, M > 0, accurate relative to itself.
// With v = (x - M) / (x + M) it is (x - M) v + 2 x (v^3/3 + v^5/5 + ...),
// summed while |v| <= 1/2; beyond that the direct form cancels at most by a
// factor of about three.
inline double bd0(double x, dd M) {
    if (x == 0.0) return dd_val(M);
    const double diff = dd_val(dd_sub(dd_of(x), M));
    const double sum = x + dd_val(M);
    const double v = diff / sum;
    if (std::fabs(v) <= 0.5) {
        double s = diff * v;
        double ej = 2.0 * x * v;
        const double v2 = v * v;
        for (int j = 1; j < 200; j++) {
            ej *= v2;
            const double s1 = s + ej / static_cast<double>(2 * j + 1);
            if (s1 == s) break;
            s = s1;
        }
        return s;
    }
    return x * std::log(x / dd_val(M)) - diff;
}

// log P(Poisson(lambda) = k), k >= 0 an integer.
inline double log_dpois(double k, dd lambda) {
    if (lambda.hi <= 0.0) return k == 0.0 ? 0.0 : -INFINITY;
    if (k == 0.0) return -dd_val(lambda);
    return -stirlerr(k) - bd0(k, lambda) - 0.5 * (LN_2PI + std::log(k));
}

} // namespace ksx

#endif
