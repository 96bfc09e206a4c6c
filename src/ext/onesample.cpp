// Exact one-sample distributions of the Kolmogorov-Smirnov statistics, with
// each tail computed directly (see onesample.h for the functions).
//
// Write s = n d, kept exactly as a double-double (n d rounded to a double
// can move d across 1/(2n) or 1/n, where the distribution changes form).
//
// One-sided upper tail, P(D_n^+ >= d): the Smirnov-Birnbaum-Tingey sum
//   d sum_{j=0}^{j < n - s} C(n, j) (d + j/n)^(j-1) (1 - d - j/n)^(n-j),
// whose terms are (s / (s + j)) P(Binomial(n, (s + j)/n) = j): positive,
// each evaluated in log space from Stirling-series and deviance terms that
// do not cancel (dd.h), summed with compensation.
//
// One-sided lower tail, P(D_n^+ < d): 1 - P(D_n^+ >= d) loses nothing worth
// speaking of while the upper tail is below 0.99.  Beyond, d is small and
// Abel's identity turns the complement into the short alternating sum
//   sum_{0 <= l < s} (-1)^l d C(n, l) (1 + (s - l)/n)^(n-l-1) ((s - l)/n)^l,
// evaluated in double-double (it cancels by up to 1e12 for s near 30); the
// boundary-crossing recursion (crossing.h) is the fallback when even that
// cancels too much.
//
// Two-sided: for d >= 1/2 the events D^+ >= d and D^- >= d exclude each
// other, so P(D_n >= d) = 2 P(D_n^+ >= d) exactly.  Below 1/2 both can
// happen, but P(D^+ >= d, D^- >= d) <= P(D^+ >= d)^2 (the order statistics
// are associated, one event increasing and the other decreasing in them),
// so with p1 = P(D^+ >= d), 2 p1 - p1^2 / 2 is within p1 / 4 relative: used
// once p1 < 2^-46.  Everywhere else the crossing recursion gives both tails,
// checkpoints at i/n - d (count at most i - 1) and (i-1)/n + d (at least i).
#include "onesample.h"

#include "crossing.h"

#include <Rmath.h>

namespace ksx {
namespace {

// ---------------------------------------------------------------------------
// Smirnov-Birnbaum-Tingey: P(D_n^+ >= s / n) for 0 < s < n.
// ---------------------------------------------------------------------------

// Running log-sum-exp of positive terms with a double-double accumulator.
struct LogSum {
    double ref;
    dd acc;
};

void logsum_add(LogSum *a, double l) {
    if (l == -INFINITY) return;
    if (l > a->ref) {
        const double f = std::exp(a->ref - l);
        a->acc = dd_mul_d(a->acc, f);
        a->ref = l;
        a->acc = dd_add_d(a->acc, 1.0);
    } else {
        a->acc = dd_add_d(a->acc, std::exp(l - a->ref));
    }
}

xp logsum_value(const LogSum *a) {
    if (a->ref == -INFINITY) return xp_zero();
    return xp_mul(xp_exp(a->ref), xp_make(dd_val(a->acc)));
}

// The terms of the sum, for 0 < s < n: N = n, sv = s rounded, top = n - s,
// logN = log n, stN = stirlerr(n).
struct SbtTerms {
    double N, sv, logN, stN;
    dd s, top;
    double jmax; // terms with n - j - s <= 0 vanish: j runs to ceil(n - s) - 1
};

SbtTerms sbt_terms(int n, dd s) {
    SbtTerms t;
    t.N = static_cast<double>(n);
    t.s = s;
    t.sv = dd_val(s);
    t.top = dd_sub(dd_of(t.N), s);
    t.jmax = -dd_floor(dd_neg(t.top)) - 1.0;
    t.logN = std::log(t.N);
    t.stN = stirlerr(t.N);
    return t;
}

// log of (s / (s + j)) P(Binomial(n, (s + j)/n) = j).
inline double sbt_log_term(const SbtTerms *t, double j) {
    const double N = t->N;
    if (j == 0.0) return -(bd0(N, t->top) + t->sv);
    const dd M1 = dd_add_d(t->s, j);
    const dd M2 = dd_add_d(t->top, -j);
    return std::log(t->sv / dd_val(M1)) + (t->stN - stirlerr(j) - stirlerr(N - j)) - bd0(j, M1) -
           bd0(N - j, M2) + 0.5 * (t->logN - LN_2PI - std::log(j) - std::log(N - j));
}

xp sbt_upper(int n, dd s) {
    const SbtTerms t = sbt_terms(n, s);
    LogSum sum = {-INFINITY, dd_of(0.0)};
    PollClock work;
    for (double j = 0.0; j <= t.jmax; j += 1.0) {
        logsum_add(&sum, sbt_log_term(&t, j));
        poll(&work, 64.0);
    }
    return logsum_value(&sum);
}

// ---------------------------------------------------------------------------
// Abel's alternating form of P(D_n^+ < s / n), for small s; *kappa gets the
// ratio of the sum of absolute terms to the result.
// ---------------------------------------------------------------------------
double abel_lower(int n, dd s, double *kappa) {
    const double N = static_cast<double>(n);
    const dd d = dd_div_d(s, N);
    dd total = dd_of(0.0);
    double absum = 0.0;
    for (double l = 0.0; dd_cmp(s, dd_of(l)) > 0 && l < N; l += 1.0) {
        const dd x = dd_div_d(dd_add_d(s, -l), N); // (s - l) / n > 0
        dd t = d;
        for (double i = 0.0; i < l; i += 1.0)
            t = dd_div_d(dd_mul(dd_mul_d(t, N - i), x), i + 1.0);
        const dd lg = dd_mul_d(dd_log(dd_add_d(x, 1.0)), N - l - 1.0);
        int64_t k;
        const dd e = dd_exp_split(lg, &k);
        t = dd_mul(t, e);
        t = dd_ldexp(t, static_cast<int>(k));
        absum += std::fabs(dd_val(t));
        total = (static_cast<int64_t>(l) % 2 == 0) ? dd_add(total, t) : dd_sub(total, t);
    }
    const double v = dd_val(total);
    *kappa = v > 0.0 ? absum / v : INFINITY;
    return v;
}

// ---------------------------------------------------------------------------
// Checkpoints of a continuous null: a_i = i/n - d (count <= i - 1) and
// b_j = (j-1)/n + d (count >= j), merged, each carrying the bound of the next
// a and of the last b, which it implies.
// ---------------------------------------------------------------------------
struct ContChecks {
    int n;
    dd s;
    bool up, low;
    double ia, ib, passed_b; // next a index, next b index, b's passed
};

// Takes the next of the checkpoints a_ia (position ia - s, count at most
// ia - 1) and b_ib (position ib - 1 + s, count at least ib), or both when
// they coincide; has_a / has_b say whether each sequence has any left (one
// of them does).  Sets c->pos, c->hi when an a is taken, and advances the
// indices; returns true when only a b was taken.
bool ab_next(dd s, double *ia, double *ib, double *passed_b, bool has_a, bool has_b, Check *c) {
    const dd pa = dd_sub(dd_of(*ia), s);
    const dd pb = dd_add_d(s, *ib - 1.0);
    int which; // -1 a, 1 b, 0 both
    if (!has_b) which = -1;
    else if (!has_a) which = 1;
    else which = dd_cmp(pa, pb) < 0 ? -1 : (dd_cmp(pa, pb) > 0 ? 1 : 0);
    c->from_hi = c->from_lo = -1;
    if (which <= 0) {
        c->pos = pa;
        c->hi = static_cast<int64_t>(*ia) - 1;
        c->from_hi = c->hi; // a point at a_i lifts i - 1 to i
        *ia += 1.0;
    }
    if (which >= 0) {
        c->pos = pb;
        *passed_b = *ib;
        c->from_lo = static_cast<int64_t>(*ib) - 1; // and one at b_j lifts j - 1 to j
        *ib += 1.0;
    }
    return which > 0;
}

bool cont_next(void *self, Check *c) {
    ContChecks *g = static_cast<ContChecks *>(self);
    const double N = static_cast<double>(g->n);
    const bool has_a = g->up && g->ia <= N;
    const bool has_b = g->low && dd_cmp(dd_add_d(g->s, g->ib - 1.0), dd_of(N)) < 0;
    if (!has_a && !has_b) return false;
    if (ab_next(g->s, &g->ia, &g->ib, &g->passed_b, has_a, has_b, c))
        c->hi = (g->up && g->ia <= N) ? static_cast<int64_t>(g->ia) - 1 : g->n;
    if (!g->up) c->hi = g->n;
    c->lo = g->low ? static_cast<int64_t>(g->passed_b) : 0;
    c->trim_lo = !g->low;
    c->trim_hi = !g->up;
    return true;
}

ContChecks cont_checks(int n, dd s, int alt) {
    ContChecks g;
    g.n = n;
    g.s = s;
    g.up = alt != ALT_LESS;
    g.low = alt != ALT_GREATER;
    g.ia = dd_floor(s) + 1.0;
    if (g.ia < 1.0) g.ia = 1.0;
    g.ib = 1.0;
    g.passed_b = 0.0;
    return g;
}

Crossing cont_crossing(int n, dd s, int alt) {
    ContChecks g = cont_checks(n, s, alt);
    return crossing(n, cont_next, &g, "the exact distribution of D_n");
}

// ---------------------------------------------------------------------------
// Densities: f(d) = d/dd P(D < d), the right derivative at the few points
// where it jumps (d = 1/n, where a_1 or b_n leaves [0, 1], and the ends of
// the support).
//
// P(D_n < d) = P(a_i < U_(i) < b_i, i = 1..n), each a_i falling and each b_i
// rising at unit speed with d, so f(d) is the sum over the bounds inside
// (0, 1) of the density of U_(i) at the bound with every other constraint
// met: positive terms, which crossing_slope() adds up along the checkpoint
// recursion (two-sided: both families; one-sided: the a_i alone).  Where a
// closed form is cheaper and keeps its accuracy it is used instead:
//
// One-sided, upper range.  Differentiating the SBT sum term by term,
//   f(d) = sum_j T_j c_j,  T_j = (s / (s + j)) P(Binomial(n, (s + j)/n) = j),
//   c_j = n (s^2 n - j (n - s - j)) / (s (s + j) (n - s - j)),
// (the term j = n - s, present only when n - s is an integer, vanishes
// with its right derivative).  Every c_j >= 0 once 4 s^2 n >= (n - s)^2
// (the largest j (n - s - j) is ((n - s)/2)^2), roughly d >= 1/(2 sqrt n),
// which covers the whole upper tail.  Below, the sum has both signs; it is
// still used while it cancels little (the ratio kappa of the sum of absolute
// terms to the result is measured as it is added up).
//
// One-sided, small s.  Abel's form of P(D_n^+ < d) differentiates into
//   sum_{0 <= l <= s} (-1)^l C(n, l) (1 + x)^(n-l-2) x^(l-1)
//                  (x (1 + x + d (n - l - 1)) + d l (1 + x)),  x = d - l/n,
// (for l = 0: (1 + d)^(n-2) (1 + s); the term l = s = 1 is the right
// derivative of the term that appears there), summed in double-double.
//
// Two-sided, d >= 1/2: P(D_n >= d) = 2 P(D_n^+ >= d), so f = 2 f_1.
//
// Two-sided upper tail below 1/2.  With A = {D^+ >= d}, B = {D^- >= d},
// f = 2 f_1 - h, where h = -d/dd P(A and B) is the sum over i of the density
// of U_(i) at a_i with every other a_k met and B (and the mirror terms, of
// the same total).  Given U_(i) = x, the other points are i - 1 uniforms
// on [0, x] and n - i on [x, 1], stochastically increasing in x, and B is
// an increasing event, so P(B | U_(i) = a_i) <= P(B | U_(i) >= a_i) <=
// P(B) / P(U_(i) >= a_i) <= p_1 / (1 - p_1), p_1 = P(D^+ >= d) (U_(i) < a_i
// implies A).  Hence 0 <= h <= 2 S p_1 / (1 - p_1), S = sum over a_i > 0
// of the density of U_(i) at a_i; 2 f_1 - S p_1 / (1 - p_1) is used once
// that half-width is below 2^-54 of it.
// ---------------------------------------------------------------------------

// Sums of positive terms given by their logarithms, kept as double-doubles
// times e^ref: one sum, or the positive and the negative parts of a sum with
// both signs, on a common reference so that the rounding of a rescaling
// factor scales both alike and cannot be amplified by their cancellation.
// The reference moves only when a term exceeds it by e^40, so that such
// roundings do not pile up over a long increasing run of terms.
struct LogAcc {
    double ref;
    dd pos, neg;
};

void logacc_add(LogAcc *a, double l, bool negative = false) {
    if (l == -INFINITY) return;
    if (a->ref == -INFINITY) {
        a->ref = l;
    } else if (l > a->ref + 40.0) {
        const double f = std::exp(a->ref - l);
        a->pos = dd_mul_d(a->pos, f);
        a->neg = dd_mul_d(a->neg, f);
        a->ref = l;
    }
    dd *acc = negative ? &a->neg : &a->pos;
    *acc = dd_add_d(*acc, std::exp(l - a->ref));
}

// pos - neg; *kappa = (pos + neg) / (pos - neg) (infinite when the
// difference is not positive).
xp logacc_value(const LogAcc *a, double *kappa) {
    *kappa = INFINITY;
    if (a->ref == -INFINITY) return xp_zero();
    const double v = dd_val(dd_sub(a->pos, a->neg));
    if (!(v > 0.0)) return xp_zero();
    *kappa = (dd_val(a->pos) + dd_val(a->neg)) / v;
    return xp_mul(xp_exp(a->ref), xp_make(v));
}

xp sbt_slope(int n, dd s, double *kappa) {
    const SbtTerms t = sbt_terms(n, s);
    const dd s2n = dd_mul_d(dd_mul(s, s), t.N);
    const double logs = std::log(t.sv);
    LogAcc sum = {-INFINITY, dd_of(0.0), dd_of(0.0)};
    PollClock work;
    for (double j = 0.0; j <= t.jmax; j += 1.0) {
        const dd rest = dd_add_d(t.top, -j); // n - s - j > 0
        const double num = dd_val(dd_sub(s2n, dd_mul_d(rest, j)));
        if (num != 0.0) {
            const double lc = t.logN + std::log(std::fabs(num)) - logs - std::log(dd_val(dd_add_d(s, j))) -
                              std::log(dd_val(rest));
            logacc_add(&sum, sbt_log_term(&t, j) + lc, num < 0.0);
        }
        poll(&work, 96.0);
    }
    return logacc_value(&sum, kappa);
}

// log(1 + x) for 0 <= x <= 1 in double-double, accurate relative to itself
// (dd_log(1 + x) is accurate only relative to 1, and the exponent n - l - 2
// multiplies its error): 2 atanh(u), u = x / (2 + x) <= 1/3.
dd dd_log1p(dd x) {
    const dd u = dd_div(x, dd_add_d(x, 2.0));
    const dd u2 = dd_mul(u, u);
    dd p = u, sum = u;
    for (double k = 3.0; k < 200.0; k += 2.0) {
        p = dd_mul(p, u2);
        const dd t = dd_div_d(p, k);
        sum = dd_add(sum, t);
        if (std::fabs(t.hi) <= 1e-34 * std::fabs(sum.hi)) break;
    }
    return dd_ldexp(sum, 1);
}

xp abel_slope(int n, dd s, double *kappa) {
    const double N = static_cast<double>(n);
    const dd d = dd_div_d(s, N);
    dd total = dd_of(0.0);
    double absum = 0.0;
    for (double l = 0.0; dd_cmp(s, dd_of(l)) >= 0 && l < N; l += 1.0) {
        const dd x = dd_div_d(dd_add_d(s, -l), N); // (s - l) / n >= 0
        const dd x1 = dd_add_d(x, 1.0);
        dd t;
        if (l == 0.0) {
            t = dd_add_d(s, 1.0);
        } else {
            t = dd_of(1.0); // C(n, l) x^(l-1)
            for (double i = 0.0; i < l; i += 1.0) {
                t = dd_div_d(dd_mul_d(t, N - i), i + 1.0);
                if (i > 0.0) t = dd_mul(t, x);
            }
            const dd inner = dd_add(x1, dd_mul_d(d, N - l - 1.0));
            t = dd_mul(t, dd_add(dd_mul(x, inner), dd_mul(dd_mul_d(d, l), x1)));
        }
        int64_t k;
        const dd e = dd_exp_split(dd_mul_d(dd_log1p(x), N - l - 2.0), &k);
        t = dd_ldexp(dd_mul(t, e), static_cast<int>(k));
        absum += std::fabs(dd_val(t));
        total = (static_cast<int64_t>(l) % 2 == 0) ? dd_add(total, t) : dd_sub(total, t);
    }
    const double v = dd_val(total);
    *kappa = v > 0.0 ? absum / v : INFINITY;
    return xp_make(v > 0.0 ? v : 0.0);
}

// n times the slope of the checkpoint recursion.
xp slope_recursion(int n, dd s, int alt) {
    ContChecks g = cont_checks(n, s, alt);
    const xp r = crossing_slope(n, cont_next, &g, "the exact density of D_n");
    return xp_mul(r, xp_make(static_cast<double>(n)));
}

// Cancellation accepted from the closed forms with terms of both signs (the
// ratio kappa): Abel's terms are double-doubles, about 32 digits, so 1e14
// leaves some 18; the SBT terms come from logarithms good to a few units in
// 1e16, and their error, measured at up to 7e-16 kappa, stays below 1e-13.
constexpr double ABEL_KAPPA = 1e14;
constexpr double SBT_KAPPA = 128.0;

// Density of D_n^+ at d = s / n, 0 < d < 1.
xp one_sided_density(int n, dd s) {
    const double N = static_cast<double>(n);
    const double gap = N - s.hi;
    double kappa;
    if (4.0 * s.hi * s.hi * N >= gap * gap * (1.0 + 1e-12)) return sbt_slope(n, s, &kappa);
    if (s.hi <= 60.0) {
        const xp v = abel_slope(n, s, &kappa);
        if (kappa <= ABEL_KAPPA) return v;
    }
    const xp v = sbt_slope(n, s, &kappa);
    if (kappa <= SBT_KAPPA) return v;
    return slope_recursion(n, s, ALT_GREATER);
}

// S: the sum over i with a_i = (i - s)/n > 0 of the density of U_(i) at
// a_i, n P(Binomial(n - 1, a_i) = i - 1), as an upper bound (it only
// bounds an error).
xp boundary_density_sum(int n, dd s) {
    const double N = static_cast<double>(n);
    LogAcc sum = {-INFINITY, dd_of(0.0), dd_of(0.0)};
    PollClock work;
    for (double i = dd_floor(s) + 1.0; i <= N; i += 1.0) {
        const double a = dd_val(dd_div_d(dd_add_d(dd_neg(s), i), N));
        if (a > 0.0 && a < 1.0) logacc_add(&sum, Rf_dbinom(i - 1.0, N - 1.0, a, 1));
        poll(&work, 128.0);
    }
    double kappa;
    return xp_mul(logacc_value(&sum, &kappa), xp_make(N * (1.0 + 1e-9)));
}

// 2 f_1 - S p_1 / (1 - p_1), the two-sided density to within *width
// relative (d < 1/2, p_1 < 1/2).
xp band_density(int n, dd s, xp p1, double *width) {
    const xp f1 = one_sided_density(n, s);
    const xp f2 = xp{f1.m, f1.e + 1};
    const xp half = xp_mul(xp_mul(boundary_density_sum(n, s), p1), xp_make(1.0 / (1.0 - xp_value(p1))));
    const double r = xp_value(xp_div(half, f2));
    *width = 2.0 * r < 1.0 ? r / (1.0 - 2.0 * r) : INFINITY;
    return xp_mul(f2, xp_make(1.0 - r));
}

// Density of D_n at d = s / n, 1/(2n) <= d < 1.
xp two_sided_density(int n, dd s, double d) {
    if (d >= 0.5) {
        const xp f1 = one_sided_density(n, s);
        return xp{f1.m, f1.e + 1};
    }
    const xp p1 = sbt_upper(n, s);
    if (xp_less(p1, xp_make(0x1p-40))) {
        double width;
        const xp v = band_density(n, s, p1, &width);
        if (width <= 0x1p-54) return v;
    }
    return slope_recursion(n, s, ALT_TWO);
}

inline xp xp_one_minus(xp a) { return xp_make(1.0 - xp_value(a)); }

// Rounding can carry a probability a few units past 1.
inline xp at_most_one(xp a) { return xp_value(a) > 1.0 ? xp_make(1.0) : a; }

// ---------------------------------------------------------------------------
// Checkpoints of a null with jumps.  On a stretch [alpha, beta] of the range
// the continuous checkpoints apply; on its left end the upper deviation
// U_n - u can be attained (an atom of D), on its right end the lower one,
// and on an isolated atom both.  There the bound depends on whether D < d or
// D <= d is asked, and a value of n (u +- d) within n RANGE_TOL of an
// integer is taken as that integer.
// ---------------------------------------------------------------------------
struct RangeChecks {
    int n;
    dd s;
    bool up, low, strict;
    double tolN;
    const double *lo, *hi;
    int k;
    int r, phase;
    dd Ta, Tb;
    double ia, ib, a_last, b_last, passed_b;
    int64_t hi_right;
};

// Upper bound at an attained point with n u + s = X: N < X (strict) or N <= X.
int64_t attained_upper(const RangeChecks *g, dd X, double *next_a) {
    double dist;
    const double J = dd_round(X, &dist);
    if (dist <= g->tolN) {
        *next_a = J + 1.0;
        return static_cast<int64_t>(g->strict ? J - 1.0 : J);
    }
    const double f = dd_floor(X);
    *next_a = f + 1.0;
    return static_cast<int64_t>(f);
}

// Lower bound at an attained point with n u - s = Y: N > Y (strict) or N >= Y.
int64_t attained_lower(const RangeChecks *g, dd Y, bool *snapped, double *J) {
    double dist;
    *J = dd_round(Y, &dist);
    *snapped = dist <= g->tolN;
    if (*snapped) return static_cast<int64_t>(g->strict ? *J + 1.0 : *J);
    return static_cast<int64_t>(dd_floor(Y) + 1.0);
}

inline int64_t clamp64(double v, int n) {
    if (v < -1.0) return -1;
    if (v > static_cast<double>(n) + 1.0) return static_cast<int64_t>(n) + 1;
    return static_cast<int64_t>(v);
}

bool range_next(void *self, Check *c) {
    RangeChecks *g = static_cast<RangeChecks *>(self);
    const double N = static_cast<double>(g->n);
    c->trim_lo = !g->low;
    c->trim_hi = !g->up;
    c->from_hi = c->from_lo = -1;
    for (;;) {
        if (g->r >= g->k) return false;
        const double alpha = g->lo[g->r], beta = g->hi[g->r];
        const bool atom = alpha == beta;
        if (g->phase == 0) {
            g->Ta = two_prod(N, alpha);
            g->Tb = two_prod(N, beta);
            c->pos = g->Ta;
            int64_t hb = g->n, lb = 0;
            double next_a = 0.0;
            if (g->up) hb = attained_upper(g, dd_add(g->Ta, g->s), &next_a);
            const dd Y = dd_sub(g->Ta, g->s);
            if (g->low) {
                if (atom) {
                    bool sn;
                    double J;
                    lb = attained_lower(g, Y, &sn, &J);
                } else {
                    lb = clamp64(dd_floor(Y) + 1.0, g->n);
                }
            }
            if (lb < 0) lb = 0;
            c->lo = lb;
            c->hi = hb;
            if (atom) {
                g->r++;
                return true;
            }
            // Interior of the stretch: a's after alpha up to beta, b's after
            // alpha up to beta (the one attained at beta, if any, goes with the
            // right end).
            g->ia = next_a < 1.0 ? 1.0 : next_a;
            g->a_last = dd_floor(dd_add(g->Tb, g->s));
            if (!g->up) g->ia = g->a_last + 1.0;
            g->passed_b = static_cast<double>(lb);
            g->ib = dd_floor(Y) + 2.0;
            if (g->ib < 1.0) g->ib = 1.0;
            bool sn;
            double J;
            const dd Yb = dd_sub(g->Tb, g->s);
            attained_lower(g, Yb, &sn, &J);
            g->b_last = sn ? J : dd_floor(Yb) + 1.0;
            if (!g->low) g->b_last = g->ib - 1.0;
            const dd Xb = dd_add(g->Tb, g->s);
            g->hi_right = clamp64(-dd_floor(dd_neg(Xb)) - 1.0, g->n);
            g->phase = 1;
            return true;
        }
        if (g->phase == 1) {
            const bool has_a = g->ia <= g->a_last && g->ia <= N;
            const bool has_b = g->ib <= g->b_last && g->ib <= N;
            if (has_a || has_b) {
                if (ab_next(g->s, &g->ia, &g->ib, &g->passed_b, has_a, has_b, c))
                    c->hi = g->ia <= g->a_last ? static_cast<int64_t>(g->ia) - 1 : g->hi_right;
                if (!g->up) c->hi = g->n;
                c->lo = g->low ? static_cast<int64_t>(g->passed_b) : 0;
                return true;
            }
            // The right end.
            c->pos = g->Tb;
            c->hi = g->up ? g->hi_right : g->n;
            int64_t lb = 0;
            if (g->low) {
                bool sn;
                double J;
                lb = attained_lower(g, dd_sub(g->Tb, g->s), &sn, &J);
                if (lb < static_cast<int64_t>(g->passed_b)) lb = static_cast<int64_t>(g->passed_b);
                if (lb < 0) lb = 0;
            }
            c->lo = lb;
            g->phase = 0;
            g->r++;
            return true;
        }
    }
}

bool range_valid(int n, const double *lo, const double *hi, int k, int alt, int rel) {
    if (n < 1 || k < 1 || alt < 0 || alt > 2 || rel < 0 || rel > 3) return false;
    for (int r = 0; r < k; r++) {
        if (!(lo[r] >= 0.0 && hi[r] <= 1.0 && lo[r] <= hi[r])) return false;
        if (r > 0 && !(hi[r - 1] < lo[r])) return false;
    }
    return true;
}

} // namespace

bool ks1_tails(double d, int n, int alt, xp *lower, xp *upper) {
    if (std::isnan(d) || n < 1 || alt < 0 || alt > 2) {
        *lower = *upper = xp{R_NaN, 0};
        return false;
    }
    const xp one = xp_make(1.0), zero = xp_zero();
    if (d >= 1.0) {
        *lower = one;
        *upper = zero;
        return true;
    }
    const dd s = two_prod(static_cast<double>(n), d);
    if (alt != ALT_TWO) {
        if (d <= 0.0) {
            *lower = zero;
            *upper = one;
            return true;
        }
        const xp p1 = at_most_one(sbt_upper(n, s));
        *upper = p1;
        if (xp_value(p1) <= 0.99) {
            *lower = xp_one_minus(p1);
            return true;
        }
        double kappa = INFINITY;
        double v = 0.0;
        if (s.hi <= 40.0) v = abel_lower(n, s, &kappa);
        if (kappa <= 1e14) {
            *lower = at_most_one(xp_make(v < 0.0 ? 0.0 : v));
            return true;
        }
        const Crossing cr = cont_crossing(n, s, alt);
        *lower = at_most_one(cr.stay);
        return true;
    }
    if (dd_cmp(s, dd_of(0.5)) <= 0) { // D_n >= 1/(2n) always
        *lower = zero;
        *upper = one;
        return true;
    }
    const xp p1 = at_most_one(sbt_upper(n, s));
    if (d >= 0.5) {
        const xp up = xp{p1.m, p1.e + 1};
        *upper = up;
        if (xp_value(up) <= 0.5) {
            *lower = xp_one_minus(up);
        } else {
            *lower = at_most_one(cont_crossing(n, s, ALT_TWO).stay);
        }
        return true;
    }
    if (xp_less(p1, xp_make(0x1p-46))) {
        // 2 p1 - p1^2 / 2: the two-sided correction lies in [0, p1^2].
        const double p = xp_value(p1);
        const xp up = xp_mul(xp{p1.m, p1.e + 1}, xp_make(1.0 - 0.25 * p));
        *upper = up;
        *lower = xp_one_minus(up);
        return true;
    }
    const Crossing cr = cont_crossing(n, s, ALT_TWO);
    *lower = at_most_one(cr.stay);
    *upper = at_most_one(cr.leave);
    return true;
}

xp ks1_cdf(double d, int n, int alt, bool upper) {
    xp lo, up;
    ks1_tails(d, n, alt, &lo, &up);
    return upper ? up : lo;
}

xp ks1_density(double d, int n, int alt) {
    if (std::isnan(d) || n < 1 || alt < 0 || alt > 2) return xp{R_NaN, 0};
    if (d >= 1.0) return xp_zero();
    if (alt != ALT_TWO) {
        if (d < 0.0) return xp_zero();
        // P(D_n^+ < d) = d (1 + d)^(n-1) for 0 <= d <= 1/n: slope 1 at 0.
        if (d == 0.0) return xp_make(1.0);
        return one_sided_density(n, two_prod(static_cast<double>(n), d));
    }
    const dd s = two_prod(static_cast<double>(n), d);
    if (dd_cmp(s, dd_of(0.5)) < 0) return xp_zero();
    return two_sided_density(n, s, d);
}

// Both members of the pair (P(D < d), P(D >= d)) for strict, or (P(D <= d),
// P(D > d)) otherwise.
static bool range_tails(int n, double d, const double *lo, const double *hi, int k, int alt,
                        bool strict, xp *stay, xp *leave) {
    if (std::isnan(d) || !range_valid(n, lo, hi, k, alt, 0)) {
        *stay = *leave = xp{R_NaN, 0};
        return false;
    }
    if (d < -RANGE_TOL) { // D >= 0
        *stay = xp_zero();
        *leave = xp_make(1.0);
        return true;
    }
    if (d > 1.0 + RANGE_TOL) { // D <= 1
        *stay = xp_make(1.0);
        *leave = xp_zero();
        return true;
    }
    RangeChecks g;
    g.n = n;
    g.s = two_prod(static_cast<double>(n), d);
    g.up = alt != ALT_LESS;
    g.low = alt != ALT_GREATER;
    g.strict = strict;
    g.tolN = static_cast<double>(n) * RANGE_TOL;
    g.lo = lo;
    g.hi = hi;
    g.k = k;
    g.r = 0;
    g.phase = 0;
    const Crossing cr = crossing(n, range_next, &g, "the exact distribution of D_n for this null");
    *stay = at_most_one(cr.stay);
    *leave = at_most_one(cr.leave);
    return true;
}

xp ks_range_cdf(int n, double d, const double *lo, const double *hi, int k, int alt, int rel) {
    if (rel < 0 || rel > 3) return xp{R_NaN, 0};
    xp stay, leave;
    range_tails(n, d, lo, hi, k, alt, rel == 0 || rel == 3, &stay, &leave);
    return rel <= 1 ? stay : leave;
}

} // namespace ksx

using namespace ksx;

// c(value, log) of one tail, the log taken as log1p(-other tail) where the
// value is above 1/2, so that it keeps its relative accuracy near 0.
static SEXP value_and_log(xp v, xp other) {
    SEXP out = PROTECT(Rf_allocVector(REALSXP, 2));
    double val = xp_value(v);
    double lg;
    if (std::isnan(v.m)) {
        val = lg = R_NaN;
    } else if (val > 0.5 && !std::isnan(other.m)) {
        lg = std::log1p(-xp_value(other));
    } else {
        lg = xp_log(v);
    }
    REAL(out)[0] = val;
    REAL(out)[1] = lg;
    UNPROTECT(1);
    return out;
}

static int int_arg(SEXP x, const char *name) {
    if (XLENGTH(x) != 1 || (!Rf_isInteger(x) && !Rf_isReal(x) && !Rf_isLogical(x)))
        Rf_error("'%s' must be a single number", name);
    const int v = Rf_asInteger(x);
    if (v == NA_INTEGER) Rf_error("'%s' must not be NA", name);
    return v;
}

static double real_arg(SEXP x, const char *name) {
    if (XLENGTH(x) != 1 || (!Rf_isInteger(x) && !Rf_isReal(x)))
        Rf_error("'%s' must be a single number", name);
    return Rf_asReal(x);
}

// The arguments d (a double), n (an integer >= 1) and alt (0, 1 or 2).
static void d_n_alt(SEXP sd, SEXP sn, SEXP salt, double *d, int *n, int *alt) {
    *d = real_arg(sd, "d");
    *n = int_arg(sn, "n");
    *alt = int_arg(salt, "alt");
    if (*n < 1) Rf_error("'n' must be at least 1");
    if (*alt < 0 || *alt > 2) Rf_error("'alt' must be 0, 1 or 2");
}

// .Call(ksx_ks1_raw, d, n, alt, upper): d double, n integer >= 1, alt 0/1/2,
// upper logical.  Returns c(value, log).
SEXP ksx_ks1_raw(SEXP sd, SEXP sn, SEXP salt, SEXP supper) {
    double d;
    int n, alt;
    d_n_alt(sd, sn, salt, &d, &n, &alt);
    const int upper = int_arg(supper, "upper");
    xp lo, up;
    ks1_tails(d, n, alt, &lo, &up);
    return upper ? value_and_log(up, lo) : value_and_log(lo, up);
}

// .Call(ksx_range_raw, n, d, lo, hi, alt, rel): n integer >= 1, d double, lo
// and hi double vectors of the same length >= 1 (sorted disjoint intervals
// in [0, 1]), alt 0/1/2, rel 0..3.  Returns c(value, log).
SEXP ksx_range_raw(SEXP sn, SEXP sd, SEXP slo, SEXP shi, SEXP salt, SEXP srel) {
    const int n = int_arg(sn, "n");
    const double d = real_arg(sd, "d");
    const int alt = int_arg(salt, "alt");
    const int rel = int_arg(srel, "rel");
    if (!Rf_isReal(slo) || !Rf_isReal(shi) || XLENGTH(slo) != XLENGTH(shi) || XLENGTH(slo) < 1 ||
        XLENGTH(slo) > INT_MAX)
        Rf_error("'lo' and 'hi' must be double vectors of the same positive length");
    const int k = static_cast<int>(XLENGTH(slo));
    if (n < 1) Rf_error("'n' must be at least 1");
    if (alt < 0 || alt > 2) Rf_error("'alt' must be 0, 1 or 2");
    if (rel < 0 || rel > 3) Rf_error("'rel' must be 0, 1, 2 or 3");
    if (!range_valid(n, REAL(slo), REAL(shi), k, alt, rel))
        Rf_error("the intervals must lie in [0, 1], have lo <= hi, and be sorted and disjoint");
    xp stay, leave;
    range_tails(n, d, REAL(slo), REAL(shi), k, alt, rel == 0 || rel == 3, &stay, &leave);
    return rel <= 1 ? value_and_log(stay, leave) : value_and_log(leave, stay);
}

// .Call(ksx_density_raw, d, n, alt): d double, n integer >= 1, alt 0/1/2.
// Returns c(density, log density).
SEXP ksx_density_raw(SEXP sd, SEXP sn, SEXP salt) {
    double d;
    int n, alt;
    d_n_alt(sd, sn, salt, &d, &n, &alt);
    return value_and_log(ks1_density(d, n, alt), xp{R_NaN, 0});
}

// .Call(ksx_density_route, d, n, alt, route): the density by one route, so
// that tests can set the routes against each other: 0 as ks1_density, 1 the
// checkpoint recursion, 2 the differentiated SBT sum and 3 the
// differentiated Abel sum (one-sided law), 4 the two-sided bound form
// (d < 1/2).  Needs 0 < d < 1 (and n d >= 1/2 two-sided).  Returns
// c(value, log, aux): aux is kappa for routes 2 and 3, the relative
// half-width for route 4, NA otherwise.
SEXP ksx_density_route(SEXP sd, SEXP sn, SEXP salt, SEXP sroute) {
    double d;
    int n, alt;
    d_n_alt(sd, sn, salt, &d, &n, &alt);
    const int route = int_arg(sroute, "route");
    if (route < 0 || route > 4) Rf_error("'route' must be 0 to 4");
    const dd s = two_prod(static_cast<double>(n), d);
    if (!(d > 0.0 && d < 1.0) || (alt == ALT_TWO && dd_cmp(s, dd_of(0.5)) < 0))
        Rf_error("'d' must lie inside the support");
    if ((route == 2 || route == 3) && alt == ALT_TWO) Rf_error("routes 2 and 3 are one-sided");
    if (route == 4 && !(alt == ALT_TWO && d < 0.5)) Rf_error("route 4 is two-sided, d < 1/2");
    double aux = NA_REAL;
    xp v;
    switch (route) {
    case 1: v = slope_recursion(n, s, alt == ALT_TWO ? ALT_TWO : ALT_GREATER); break;
    case 2: v = sbt_slope(n, s, &aux); break;
    case 3: v = abel_slope(n, s, &aux); break;
    case 4: v = band_density(n, s, sbt_upper(n, s), &aux); break;
    default: v = ks1_density(d, n, alt);
    }
    SEXP out = PROTECT(Rf_allocVector(REALSXP, 3));
    REAL(out)[0] = xp_value(v);
    REAL(out)[1] = xp_log(v);
    REAL(out)[2] = aux;
    UNPROTECT(1);
    return out;
}
