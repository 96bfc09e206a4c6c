// limit: Kolmogorov's limiting distributions, both tails and the density, to
// full double accuracy, also far beyond the double range through their logs;
// the d/p/q/r functions and .Call routines of pkolmogorov_limit and its
// family.
//
// Accuracy: 1e-12 relative or better in both tails and the density (their
// logarithms too), against 200-bit references (tests/testthat/test-limit*,
// made by tools/make-limit-references.R); lower tails of at least 1/2 are the
// exact module's own evaluation, bit for bit.
//
//   K(x)     = 1 - 2 sum_{k>=1} (-1)^(k-1) e^(-2k^2x^2)                 (1)
//            = sqrt(2 pi)/x sum_{j>=1} e^(-(2j-1)^2 pi^2/(8x^2))           (2)
//   1 - K(x) = 2 e^(-2x^2) (1 - e^(-6x^2) + e^(-16x^2) - ...)              (1)
//
// Each tail is summed from its own series, so neither is ever 1 minus the
// other when that would cancel: the lower tail from (2), whose terms are all
// positive and fall off fast for x below about 1, the upper tail from (1),
// whose alternating terms fall off fast for x above about 0.8.  Where the
// lower tail is at least 1/2 the exact module's own evaluation of K is
// returned, bit for bit as before.  The exponents -2x^2 and -pi^2/(8x^2) are
// formed with their rounding error carried along (x = 30 gives 1800, and an
// error of one rounding in it would cost 2e-13 relative in the result).
#include "limit.h"

#include "args.h"
#include "quantile.h"

#include <R_ext/Random.h>

namespace ksx {

namespace {

constexpr double LOG_SQRT_2PI = 0.91893853320467274178; // log(sqrt(2 pi))
constexpr double PI2_8_HI = 1.2337005501361697;          // pi^2/8, rounded
constexpr double PI2_8_LO = 7.8316193859246392e-17;      // pi^2/8 - PI2_8_HI

// e^(-(h + l)) for h + l an unevaluated sum with |l| tiny against h.
inline xp exp_neg2(double h, double l) {
    xp a = xp_exp(-h);
    return xp_make(a.m * (1.0 - l), a.e);
}

// 2 x^2 as h + l exactly (to double-double accuracy); for huge x only h.
inline void two_x2(double x, double *h, double *l) {
    if (!(x < 1e150)) {
        *h = 2.0 * (x * x);
        *l = 0.0;
        return;
    }
    const dd p = two_prod(x, x);
    *h = 2.0 * p.hi;
    *l = 2.0 * p.lo;
}

// pi^2/(8 x^2) as h + l; for tiny x (where x^2 would underflow) only h.
inline void theta_arg(double x, double *h, double *l) {
    if (x < 1e-100) {
        *h = (PI2_8_HI / x) / x;
        *l = 0.0;
        return;
    }
    const dd x2 = two_prod(x, x);
    const double p = x2.hi, e = x2.lo;
    const double q = PI2_8_HI / p;
    const dd qp = two_prod(q, p);
    const double r = (PI2_8_HI - qp.hi) - qp.lo; // PI2_8_HI - q p, exactly
    *h = q;
    *l = (r + PI2_8_LO - q * e) / p;
}

// The terms of (2) after the first, relative to it: e^(-((2j-1)^2 - 1) z)
// = e^(-4 j (j-1) z), for z = pi^2/(8x^2).
double theta_rest(double z) {
    double s = 0.0;
    for (int j = 2; j < 60; j++) {
        const double t = std::exp(-4.0 * j * (j - 1) * z);
        s += t;
        if (t < 1e-17 * (1.0 + s)) break;
    }
    return s;
}

// K(x) by the theta series, x > 0 (accurate for x up to about 2), and its
// logarithm, taken directly so that it stays finite far below the range
// even of an xp.
xp lower_theta(double x) {
    double h, l;
    theta_arg(x, &h, &l);
    const double s = theta_rest(h + l);
    return xp_mul(exp_neg2(h, l), xp_exp(LOG_SQRT_2PI - std::log(x) + std::log1p(s)));
}
double log_lower_theta(double x) {
    double h, l;
    theta_arg(x, &h, &l);
    return ((LOG_SQRT_2PI - std::log(x)) - h - l) + std::log1p(theta_rest(h + l));
}

// The terms of (1) after the first, relative to it, with their signs:
// -e^(-6x^2) + e^(-16x^2) - ..., term k being e^(-(k^2 - 1) 2x^2), z = 2x^2.
double alt_rest(double z) {
    double s = 0.0, sign = -1.0;
    for (int k = 2; k < 60; k++) {
        const double t = std::exp(-static_cast<double>(k * k - 1) * z);
        s += sign * t;
        sign = -sign;
        if (t < 1e-17) break;
    }
    return s;
}

// 1 - K(x) by the alternating series, x > 0 (accurate for x above about 0.5).
xp upper_alt(double x) {
    double h, l;
    two_x2(x, &h, &l);
    xp a = exp_neg2(h, l);
    // times 2 (1 + s), a number in (1.8, 2]
    return xp_make(a.m * (2.0 * (1.0 + alt_rest(h + l))), a.e);
}
double log_upper_alt(double x) {
    double h, l;
    two_x2(x, &h, &l);
    return ((M_LN2 - h) - l) + std::log1p(alt_rest(h + l));
}

// Density of K: from (2) for x < 1 (all terms positive), from (1) above.
double density_two(double x, bool logp) {
    if (x < 1.0) {
        double h, l;
        theta_arg(x, &h, &l);
        const double z = h + l;
        // Below about 1e-154 the exponent is beyond the double range: the
        // density and its log are 0 and -Inf there.
        if (!(z < INFINITY)) return logp ? -INFINITY : 0.0;
        // K'(x) = sqrt(2pi)/x^2 sum_j e^(-(2j-1)^2 z) (2 (2j-1)^2 z - 1)
        double s = 2.0 * z - 1.0;
        for (int j = 2; j < 60; j++) {
            const double c = static_cast<double>((2 * j - 1) * (2 * j - 1));
            const double t = std::exp(-(c - 1.0) * z) * (2.0 * c * z - 1.0);
            s += t;
            if (t < 1e-17 * s) break;
        }
        const double rest = LOG_SQRT_2PI - 2.0 * std::log(x) + std::log(s);
        if (logp) return (rest - h) - l;
        // The large exponent h + l through exp_neg2, which keeps its low
        // part: exp() of the rounded sum would lose about |h| ulps.
        return xp_value(xp_mul(exp_neg2(h, l), xp_exp(rest)));
    }
    double h, l;
    two_x2(x, &h, &l);
    const double z = h + l;
    // K'(x) = 8x e^(-2x^2) (1 - 4 e^(-6x^2) + 9 e^(-16x^2) - ...)
    double s = 1.0, sign = -1.0;
    for (int k = 2; k < 60; k++) {
        const double t = static_cast<double>(k * k) * std::exp(-static_cast<double>(k * k - 1) * z);
        s += sign * t;
        sign = -sign;
        if (t < 1e-17) break;
    }
    // (8 x is exact unless it overflows.)
    const double l8x = x < 1e300 ? std::log(8.0 * x) : std::log(8.0) + std::log(x);
    const double rest = l8x + std::log(s);
    if (logp) return (rest - h) - l;
    return xp_value(xp_mul(exp_neg2(h, l), xp_exp(rest)));
}

} // namespace

// The module sums a number of terms of (2) fixed by its tolerance alone,
// and with a single term it may be off by 3.8e-5 just below x = 1.  These
// are the largest tolerances that make it sum 1, 2 and 3 terms; the omitted
// terms are then below 3.8e-5, 1.1e-13 and 1e-26 for every x < 1.
double limit_module_tol(double tol) {
    if (tol >= 3.8e-5) return tol < 0.1 ? tol : 0.1;
    if (tol >= 1.1e-13) return tol < 8e-7 ? tol : 8e-7;
    return tol < 1e-15 ? tol : 1e-15;
}

// P(X <= x) (lower) or P(X > x) as R returns it: the value, or with logp
// its logarithm, taken directly from the same series (never the log of a
// value that underflowed).
double limit_p(double x, double tol, int alt, bool lower, bool logp) {
    if (std::isnan(x)) return finish(xp{x, 0}, logp);
    if (x <= 0.0) return finish(lower ? xp_zero() : xp_make(1.0), logp);
    if (x == INFINITY) return finish(lower ? xp_make(1.0) : xp_zero(), logp);
    if (alt != ALT_TWO) {
        double h, l;
        two_x2(x, &h, &l);
        if (!lower) return logp ? -h - l : xp_value(exp_neg2(h, l));
        // 1 - e^(-t) = t to within t^2/2: 2 x^2, its log taken from x itself
        // (2 x^2 underflows long before its log leaves the range).
        if (h < 1e-300) return logp ? M_LN2 + 2.0 * std::log(x) : xp_value(xp_make(h));
        const double v = -std::expm1(-(h + l));
        if (!logp) return xp_value(xp_make(v));
        // Near 1 the log is log1p of minus the upper tail.
        return v > 0.5 ? std::log1p(-xp_value(exp_neg2(h, l))) : std::log(v);
    }
    if (lower) {
        // The exact module's value where it is at least 1/2 (K(x) >= 1/2 from
        // x = 0.8276 on), so that these results keep their bits.
        if (x >= 0.82) {
            const double v = module_ks2(x, limit_module_tol(tol));
            if (v >= 0.5) {
                // Near 1 the log is log1p of minus the upper tail (x >= 0.8
                // here, where the alternating series gives it directly).
                if (logp) return std::log1p(-xp_value(upper_alt(x)));
                return xp_value(xp_make(v > 1.0 ? 1.0 : v));
            }
        }
        return logp ? log_lower_theta(x) : xp_value(lower_theta(x));
    }
    if (x >= 0.8) return logp ? log_upper_alt(x) : xp_value(upper_alt(x));
    // Below 0.8 the upper tail is above 0.54: 1 - K loses nothing.
    const double k = xp_value(lower_theta(x));
    return logp ? std::log1p(-k) : xp_value(xp_make(1.0 - k));
}

double limit_d(double x, int alt, bool logp) {
    if (std::isnan(x)) return x;
    if (x <= 0.0 || x == INFINITY) return logp ? -INFINITY : 0.0;
    if (alt != ALT_TWO) {
        double h, l;
        two_x2(x, &h, &l);
        const double l4x = x < 1e300 ? std::log(4.0 * x) : std::log(4.0) + std::log(x);
        const double lg = l4x - h - l;
        return logp ? lg : xp_value(xp_exp(lg));
    }
    return density_two(x, logp);
}

double limit_guess(double p, int alt, bool lower, bool logp) {
    // Upper tail u, then the one-sided inversion u = c e^(-2x^2) (c = 2 for
    // two sides); for a small lower tail, the first term of (2).
    const double lp = logp ? p : std::log(p);
    const double lu = lower ? (logp ? std::log(-std::expm1(p)) : std::log1p(-p)) : lp;
    const double c = alt == ALT_TWO ? M_LN2 : 0.0;
    if (lower && alt == ALT_TWO && lp < -1.0) return std::sqrt(PI2_8_HI / (-lp + 1.0));
    const double g = std::sqrt((c - lu) / 2.0);
    return g > 0.0 ? g : 0.1;
}

namespace {

double check_tol(SEXP s) {
    if ((TYPEOF(s) != REALSXP && TYPEOF(s) != INTSXP) || Rf_isFactor(s) || XLENGTH(s) != 1)
        Rf_error("'tol' must be a single positive finite number");
    const double t = Rf_asReal(s);
    if (!(t > 0.0 && t < INFINITY)) Rf_error("'tol' must be a single positive finite number");
    return t;
}

struct Law {
    double tol;
    int alt;
};

double law_p(double x, const void *law, bool lower, bool logp) {
    const Law *l = static_cast<const Law *>(law);
    return limit_p(x, l->tol, l->alt, lower, logp);
}

// Quantile of one probability, p already checked to be in range.
double limit_q(double p, double tol, int alt, bool lower, bool logp) {
    const double zero = logp ? -INFINITY : 0.0, one = logp ? 0.0 : 1.0;
    if (p == (lower ? zero : one)) return 0.0;
    if (p == (lower ? one : zero)) return INFINITY;
    const Law law = {tol, alt};
    Target t = {law_p, &law, lower, logp, p, false, false};
    // An upper end: the tail beyond it is below 2 e^(-2b^2) <= the target.
    double b = 1.0;
    bool ok;
    double steer;
    for (;;) {
        target_eval(b, &t, &ok, &steer);
        if (ok) break;
        b *= 2.0;
        if (b > 1e300) return INFINITY;
    }
    return solve_double(target_eval, &t, 0.0, b, limit_guess(p, alt, lower, logp), nullptr);
}

} // namespace

// ---------------------------------------------------------------------------
// .Call routines.
// ---------------------------------------------------------------------------

SEXP ksx_p_limit(SEXP q, SEXP stol, SEXP lower, SEXP logp, SEXP alt) {
    const double tol = check_tol(stol);
    return pq_routine(q, 0, nullptr, nullptr, lower, logp, alt, false,
                      [&](double x, const int *, int al, bool lo, bool lg) { return limit_p(x, tol, al, lo, lg); });
}

SEXP ksx_d_limit(SEXP x, SEXP logp, SEXP alt) {
    const Num a = num_arg(x, "x");
    const bool lg = flag_arg(logp, "log");
    const int al = alt_arg(alt);
    return vectorise(&a, 1, false, lg, [&](double v, R_xlen_t) { return limit_d(v, al, lg); });
}

SEXP ksx_q_limit(SEXP p, SEXP stol, SEXP lower, SEXP logp, SEXP alt) {
    const double tol = check_tol(stol);
    return pq_routine(p, 0, nullptr, nullptr, lower, logp, alt, true,
                      [&](double v, const int *, int al, bool lo, bool lg) { return limit_q(v, tol, al, lo, lg); });
}

// Draws by inversion of uniforms, exact to the last double of the quantile.
SEXP ksx_r_limit(SEXP snn, SEXP alt) {
    const int al = alt_arg(alt);
    const R_xlen_t len = draws_arg(snn);
    SEXP ans = PROTECT(Rf_allocVector(REALSXP, len));
    double *r = REAL(ans);
    GetRNGstate();
    for (R_xlen_t i = 0; i < len; i++) {
        if ((i & 0xfff) == 0xfff) R_CheckUserInterrupt();
        r[i] = limit_q(unif_rand(), 1e-15, al, true, false);
    }
    PutRNGstate();
    UNPROTECT(1);
    return ans;
}

} // namespace ksx
