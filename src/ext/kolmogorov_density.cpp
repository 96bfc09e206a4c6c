// kolmogorov (densities): the density of D_n, D_n^+ and D_n^- for a
// continuous null, f(d) = d/dd P(D < d), each tail directly, so that its
// logarithm stays meaningful far below the double range.
//
// Accuracy: about 1e-13 relative or better in both tails (the two-sided
// spectral route to about 1e-15), against the exact
// references of tests/testthat/ref-density.csv (Steck's determinant
// differentiated in rational arithmetic, the differentiated SBT and Abel
// sums in high precision), and checked in the tests against the integral of
// the density (Gauss-Legendre) and between its independent routes.
#include "kolmogorov.h"

#include <Rmath.h>

namespace ksx {
namespace {

// ---------------------------------------------------------------------------
// f(d) = d/dd P(D < d), the right derivative at the few points
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
// Two-sided, moderate d at n >= 300: the spectral sum of
// kolmogorov_spectral.cpp, each mode differentiated in s (the eigenvalue by
// the implicit function theorem on the residual of the eigen-recurrence,
// the weight through the eigenvector's derivative), all in double-double.
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


xp sbt_slope(int n, dd s, double *kappa) {
    const SbtTerms t = sbt_terms(n, s);
    const dd s2n = dd_mul_d(dd_mul(s, s), t.N);
    const double logs = std::log(t.sv);
    LogAcc sum = {-INFINITY, dd_of(0.0), dd_of(0.0), 40.0};
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
    LogAcc sum = {-INFINITY, dd_of(0.0), dd_of(0.0), 40.0};
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
    // The spectral sum differentiated: far cheaper than the recursion at
    // large n, its terms exact to about 1e-29 of the largest, so a
    // cancellation by up to 1e15 (about sqrt(n) d = 4.4) leaves the density
    // good to 1e-14 (measured against the recursion: 4e-15 at 4e14).
    xp f;
    double kappa;
    if (kolmogorov_spectral_density(n, s, &f, &kappa) && kappa <= 1e15) return f;
    return slope_recursion(n, s, ALT_TWO);
}

} // namespace

xp kolmogorov_density(double d, int n, int alt) {
    if (std::isnan(d) || n < 1 || alt < 0 || alt > 2) return xp{R_NaN, 0};
    if (d >= 1.0 || d < 0.0) return xp_zero();
    if (alt != ALT_TWO) {
        // P(D_n^+ < d) = d (1 + d)^(n-1) for 0 <= d <= 1/n: slope 1 at 0.
        if (d == 0.0) return xp_make(1.0);
        return one_sided_density(n, two_prod(static_cast<double>(n), d));
    }
    const dd s = two_prod(static_cast<double>(n), d);
    if (dd_cmp(s, dd_of(0.5)) < 0) return xp_zero();
    return two_sided_density(n, s, d);
}

xp kolmogorov_density_route(int n, dd s, int alt, int route, double *aux) {
    *aux = NA_REAL;
    switch (route) {
    case 1: return slope_recursion(n, s, alt == ALT_TWO ? ALT_TWO : ALT_GREATER);
    case 2: return sbt_slope(n, s, aux);
    case 3: return abel_slope(n, s, aux);
    default: return band_density(n, s, sbt_upper(n, s), aux);
    }
}

} // namespace ksx
