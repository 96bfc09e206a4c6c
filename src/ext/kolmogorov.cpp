// kolmogorov: the exact law of the one-sample statistics for a continuous
// null, each tail computed directly (see kolmogorov.h), and the d/p/q/r
// functions and .Call routines of pkolmogorov and its family.
//
// Accuracy: two-sided, both tails to about an ulp (kolmogorov_spectral.cpp,
// against tests/testthat/ref-kolmogorov-large.csv); one-sided, about 1e-14
// relative or better (each a sum of positive terms, or a short alternating
// sum in double-double whose cancellation is measured), far below the
// double range too, against the exact references of
// tests/testthat/ref-kolmogorov-engine.csv (Steck's determinant in rational
// arithmetic, and the SBT and Abel sums in 240-bit arithmetic).
//
// Write s = n d, kept exactly as a double-double (n d rounded to a double
// can move d across 1/(2n) or 1/n, where the distribution changes form).
//
// One-sided upper tail, P(D_n^+ >= d): the Smirnov-Birnbaum-Tingey sum
//   d sum_{j=0}^{j < n - s} C(n, j) (d + j/n)^(j-1) (1 - d - j/n)^(n-j),
// whose terms are (s / (s + j)) P(Binomial(n, (s + j)/n) = j): positive,
// each evaluated in log space from Stirling-series and deviance terms that
// do not cancel (logprob.h), summed with compensation outward from the
// largest and stopped where a proven bound on the rest (sbt_log_rest)
// allows.  From d = 1/2 on the double-double sum of kolmogorov_spectral.cpp
// (there it is short), so that the two-sided tail is exactly twice it.
//
// One-sided lower tail, P(D_n^+ < d): 1 - P(D_n^+ >= d) loses nothing worth
// speaking of while the upper tail is below 0.99.  Beyond, d is small and
// Abel's identity turns the complement into the short alternating sum
//   sum_{0 <= l < s} (-1)^l d C(n, l) (1 + (s - l)/n)^(n-l-1) ((s - l)/n)^l,
// evaluated in double-double (it cancels by up to 1e12 for s near 30);
// where that cancels too much, 1 minus the double-double SBT sum (within
// 1e-14 while it is above 2e-4), and the boundary-crossing recursion
// (crossing.h) below.
//
// Two-sided: n d <= 1 by the closed forms below; otherwise the exact engine
// of kolmogorov_spectral.cpp (spectral sum, repeated squaring, direct power,
// or the band 2 p1 - p1^2/2 for the deep upper tail and twice the one-sided
// tail from d = 1/2), which picks the cheapest exact method and checks it;
// the crossing recursion, checkpoints at i/n - d (count at most i - 1) and
// (i-1)/n + d (at least i), where none of those applies.
#include "kolmogorov.h"

#include "args.h"
#include "limit.h"
#include "quantile.h"

#include <R_ext/Random.h>

namespace ksx {

// ---------------------------------------------------------------------------
// Smirnov-Birnbaum-Tingey: P(D_n^+ >= s / n) for 0 < s < n.
// ---------------------------------------------------------------------------

SbtTerms sbt_terms(int n, dd s) {
    SbtTerms t;
    t.N = static_cast<double>(n);
    t.s = s;
    t.sv = dd_val(s);
    t.top = dd_sub(dd_of(t.N), s);
    t.jmax = -dd_floor(dd_neg(t.top)) - 1.0;
    // At most n terms whatever s is (a NaN s must not make the loops over
    // j endless).
    if (!(t.jmax < t.N)) t.jmax = t.N - 1.0;
    t.logN = std::log(t.N);
    t.stN = stirlerr(t.N);
    return t;
}

// Summed outward from j near n/2 - s, where the terms peak for s < n/2,
// each direction stopping where the bound of sbt_log_rest (Chernoff's, its
// proof in kolmogorov_spectral.cpp) shows the rest below e^-40 of the sum:
// at large n and d only the terms near the peak are formed.
xp sbt_upper(int n, dd s) {
    const SbtTerms t = sbt_terms(n, s);
    LogAcc sum = {-INFINITY, dd_of(0.0), dd_of(0.0), 0.0};
    PollClock work;
    double j0 = std::floor(t.N / 2.0 - t.sv);
    if (!(j0 >= 0.0)) j0 = 0.0;
    if (j0 > t.jmax) j0 = t.jmax;
    for (int dir = -1; dir <= 1; dir += 2) {
        const double e = dir;
        int since = 0;
        for (double j = dir < 0 ? j0 : j0 + 1.0; j >= 0.0 && j <= t.jmax; j += e) {
            logacc_add(&sum, sbt_log_term(&t, j));
            poll(&work, 64.0);
            if (++since >= 64) {
                since = 0;
                if (sbt_log_rest(t.N, t.s, t.jmax, j, e) < sum.ref + std::log(sum.pos.hi) - 40.0) break;
            }
        }
    }
    double kappa;
    return logacc_value(&sum, &kappa);
}

namespace {

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

} // namespace

// ---------------------------------------------------------------------------
// Checkpoints of a continuous null: a_i = i/n - d (count <= i - 1) and
// b_j = (j-1)/n + d (count >= j), merged, each carrying the bound of the next
// a and of the last b, which it implies.
// ---------------------------------------------------------------------------
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

namespace {

inline xp xp_one_minus(xp a) { return xp_make(1.0 - xp_value(a)); }

} // namespace

bool kolmogorov_tails(double d, int n, int alt, xp *lower, xp *upper) {
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
        // From d = 1/2 on the double-double sum (short there), so that the
        // two-sided tail is exactly twice this one.
        xp p1, comp = xp_nan();
        if (d >= 0.5) kolmogorov_one_sided_upper(n, s, &p1, &comp);
        else p1 = sbt_upper(n, s);
        p1 = at_most_one(p1);
        *upper = p1;
        if (xp_value(p1) <= 0.99) {
            *lower = std::isnan(comp.m) ? xp_one_minus(p1) : at_most_one(comp);
            return true;
        }
        double kappa = INFINITY;
        double v = 0.0;
        if (s.hi <= 40.0) v = abel_lower(n, s, &kappa);
        if (kappa <= 1e14) {
            *lower = at_most_one(xp_make(v < 0.0 ? 0.0 : v));
            return true;
        }
        // 1 - p1 from the double-double sum, whose terms are exact to
        // 1e-18: within 1e-14 relative while it is above 2e-4.
        if (std::isnan(comp.m)) kolmogorov_one_sided_upper(n, s, &p1, &comp);
        if (xp_value(comp) >= 2e-4) {
            *lower = at_most_one(comp);
            return true;
        }
        const Crossing cr = cont_crossing(n, s, alt);
        *lower = at_most_one(cr.stay);
        return true;
    }
    if (d <= 0.0 || dd_cmp(s, dd_of(0.5)) <= 0) { // D_n >= 1/(2n) always
        *lower = zero;
        *upper = one;
        return true;
    }
    if (dd_cmp(s, dd_of(1.0)) <= 0) {
        // 1/(2n) < d <= 1/n: P(D_n < d) = n! (2d - 1/n)^n = n!/n^n (2s - 1)^n.
        // 2s - 1 is exact in double-double (s = n d unrounded), and so is
        // the log, n log(2s - 1) - n + log(2 pi n)/2 + stirlerr(n) (log n! -
        // n log n by Stirling's series), however close d is to 1/(2n).
        const double N = static_cast<double>(n);
        const dd x = dd_add_d(dd_ldexp(s, 1), -1.0);
        dd L = dd_add_d(dd_mul_d(dd_log(x), N), -N);
        L = dd_add_d(L, 0.5 * (LN_2PI + std::log(N)) + stirlerr(N));
        *lower = n == 1 ? xp_make(dd_val(x)) : at_most_one(xp_exp_dd(L));
        // n = 1: 2 (1 - d) exactly; else the lower tail is at most n!/n^n <= 1/2.
        *upper = n == 1 ? xp_make(rmul(2.0, rsub(1.0, d))) : xp_one_minus(*lower);
        return true;
    }
    SpectralTails st;
    if (kolmogorov_exact_tails(n, s, METHOD_AUTO, &st)) {
        *lower = at_most_one(st.lower);
        *upper = at_most_one(st.upper);
        return true;
    }
    if (d >= 0.5) {
        // 2 P(D^+ >= d) above 1/2 (n = 1, 2 at d = 1/2): the lower tail by
        // the recursion.
        const xp p1 = at_most_one(sbt_upper(n, s));
        *upper = at_most_one(xp{p1.m, p1.e + 1});
        *lower = at_most_one(cont_crossing(n, s, ALT_TWO).stay);
        return true;
    }
    const Crossing cr = cont_crossing(n, s, ALT_TWO);
    *lower = at_most_one(cr.stay);
    *upper = at_most_one(cr.leave);
    return true;
}

xp kolmogorov_tail(double d, int n, int alt, bool upper) {
    xp lo, up;
    kolmogorov_tails(d, n, alt, &lo, &up);
    return upper ? up : lo;
}

namespace {

// ---------------------------------------------------------------------------
// As R returns them.
// ---------------------------------------------------------------------------

// Stephens' scaling makes the limiting law a fair guess for any n.
double stephens(double n) { return std::sqrt(n) + 0.12 + 0.11 / std::sqrt(n); }

// Support of D: [1/(2n), 1] two-sided, (0, 1] one-sided.
double bottom(int n, int alt) { return alt == ALT_TWO ? 0.5 / n : 0.0; }

struct Law {
    int n, alt;
};

} // namespace

// Whether P(D >= d) is provably below 2^-1100, so that as a double it is 0
// and the lower tail is 1: by the Dvoretzky-Kiefer-Wolfowitz inequality
// with Massart's constant, P(D_n > d) <= 2 e^(-2 n d^2) (one-sided: without
// the 2), and P(D_n >= d) = P(D_n > d) for a continuous null.  At large n
// the direct tails would spend seconds on what is known at once.
bool kolmogorov_upper_negligible(double d, int n) {
    return d > 0.0 && 2.0 * static_cast<double>(n) * d * d > 1101.0 * M_LN2;
}

// Both tails are computed directly and each is exact to about an ulp: the
// tail asked for is returned, its logarithm from log1p(-other tail) where
// it is above 1/2.
double kolmogorov_p(double d, int n, int alt, bool lower, bool logp) {
    if (!logp && d < 1.0 && kolmogorov_upper_negligible(d, n)) return lower ? 1.0 : 0.0;
    xp lo, up;
    kolmogorov_tails(d, n, alt, &lo, &up);
    return lower ? finish(lo, up, logp) : finish(up, lo, logp);
}

namespace {

// The limiting law as a Target's tail (in x = sqrt(n) d).
double limit_tail(double x, const void *law, bool lower, bool logp) {
    return limit_p(x, 1e-16, static_cast<const Law *>(law)->alt, lower, logp);
}

// The slope in x of the limiting law's steer, f/T, T the tail whose
// logarithm steers: as target_eval does it (exact_view false), or the
// smaller tail, as exact_eval does.
double limit_steer_slope(double x, const Target &t, bool exact_view) {
    const int alt = static_cast<const Law *>(t.law)->alt;
    const bool near_one = (t.logp ? t.p : std::log(t.p)) > -0.7;
    const bool on_lower = exact_view ? t.lower != near_one : t.lower && !near_one;
    return std::exp(limit_d(x, alt, true) - limit_p(x, 1e-16, alt, on_lower, true));
}

// The test of qkolmogorov on one evaluation of both tails: ok exactly as
// kolmogorov_p's value decides it, the steer from the logarithm of the
// smaller tail, at full resolution also where the tail asked for is a
// double near 1 (whose rounding would leave the steer flat over a hundred
// doubles of d).  There the other tail is steered to where the tail asked
// for rounds to p: 1 - p, moved by half an ulp of p toward the side where
// the test fails.
struct Quest {
    int n, alt;
    bool lower, logp, near_one;
    double p, lp, lq; // p, log p, and log of the other tail's target
};

void exact_eval(double x, void *ctx, bool *ok, double *steer) {
    const Quest *q = static_cast<const Quest *>(ctx);
    double v, llo, lup;
    if (!q->logp && x < 1.0 && kolmogorov_upper_negligible(x, q->n)) {
        v = q->lower ? 1.0 : 0.0;
        llo = 0.0;
        lup = M_LN2 - 2.0 * static_cast<double>(q->n) * x * x; // the bound: a guide only
    } else {
        xp lo, up;
        kolmogorov_tails(x, q->n, q->alt, &lo, &up);
        v = q->lower ? finish(lo, up, q->logp) : finish(up, lo, q->logp);
        llo = xp_log(lo);
        lup = xp_log(up);
    }
    *ok = q->lower ? v >= q->p : v <= q->p;
    if (q->lower) *steer = q->near_one ? q->lq - lup : llo - q->lp;
    else *steer = q->near_one ? llo - q->lq : q->lp - lup;
}

} // namespace

// The first guess comes from the limiting law, inverted by Newton's method
// on its own steer and moved by the first correction of the expansion of
// the exact law, P(D_n^+ >= d) ~ exp(-2 (sqrt(n) d + 1/(6 sqrt(n)))^2); the
// limiting law's slope there makes the second evaluation a Newton step; the
// grid inverter then goes on by secants on the exact values and brackets
// the smallest double that reaches p.
double kolmogorov_q(double p, int n, int alt, bool lower, bool logp, int *evals) {
    if (evals) *evals = 0;
    const double zero = logp ? -INFINITY : 0.0, one = logp ? 0.0 : 1.0;
    const double lo = bottom(n, alt);
    if (p == (lower ? zero : one)) return lo;
    if (p == (lower ? one : zero)) return 1.0;
    const Law law = {n, alt};
    Quest t;
    t.n = n;
    t.alt = alt;
    t.lower = lower;
    t.logp = logp;
    t.p = p;
    t.lp = logp ? p : std::log(p);
    t.near_one = t.lp > -0.7;
    if (logp) {
        t.lq = std::log(-std::expm1(p));
    } else {
        // The tail asked for rounds to at least p (lower) or at most p from
        // half an ulp of p beyond it.
        const double half = lower ? 0.5 * (p - std::nextafter(p, 0.0)) : 0.5 * (std::nextafter(p, 2.0) - p);
        t.lq = std::log(lower ? (1.0 - p) + half : (1.0 - p) - half);
    }
    Target tl = {limit_tail, &law, lower, logp, p, true, false};
    double x = limit_guess(p, alt, lower, logp);
    for (int k = 0; k < 8; k++) {
        bool ok;
        double steer;
        target_eval(x, &tl, &ok, &steer);
        const double step = steer / limit_steer_slope(x, tl, false);
        if (!std::isfinite(step)) break;
        double xn = x - step;
        if (xn < 0.5 * x) xn = 0.5 * x;
        if (xn > 2.0 * x) xn = 2.0 * x;
        const bool done = std::fabs(xn - x) <= 1e-13 * x;
        x = xn;
        if (done) break;
    }
    const double rn = std::sqrt(static_cast<double>(n));
    double g = (x - 1.0 / (6.0 * rn)) / rn;
    if (!(g > lo && g < 1.0)) g = x / stephens(n);
    if (!(g > lo && g < 1.0)) g = 0.5 * (lo + 1.0);
    const double slope = rn * limit_steer_slope(g * rn + 1.0 / (6.0 * rn), tl, true);
    return solve_double(exact_eval, &t, lo, 1.0, g, evals, slope);
}

// The order statistics of n uniforms as normalised partial sums of n + 1
// exponentials, so no sort is needed.
double kolmogorov_draw(int n, int alt, double *e) {
    double s = 0.0;
    PollClock work;
    for (int i = 0; i < n; i++) {
        e[i] = exp_rand();
        s += e[i];
        if ((i & 0xfffff) == 0xfffff) poll(&work, 0x1p24);
    }
    s += exp_rand();
    double c = 0.0, dp = 0.0, dm = 0.0;
    const double nd = n;
    for (int i = 0; i < n; i++) {
        c += e[i];
        const double u = c / s;
        const double above = (i + 1) / nd - u, below = u - i / nd;
        if (above > dp) dp = above;
        if (below > dm) dm = below;
    }
    return alt == ALT_TWO ? (dp > dm ? dp : dm) : (alt == ALT_GREATER ? dp : dm);
}

// ---------------------------------------------------------------------------
// .Call routines.
// ---------------------------------------------------------------------------

SEXP ksx_p_kolmogorov(SEXP q, SEXP n, SEXP lower, SEXP logp, SEXP alt) {
    const char *name = "n";
    return pq_routine(q, 1, &n, &name, lower, logp, alt, false, [](double x, const int *s, int al, bool lo, bool lg) {
        return kolmogorov_p(x, s[0], al, lo, lg);
    });
}

// The density: the right derivative of the distribution function, computed
// directly in both tails, so that its logarithm stays meaningful far below
// the double range.
SEXP ksx_d_kolmogorov(SEXP x, SEXP n, SEXP logp, SEXP alt) {
    const Num a[2] = {num_arg(x, "x"), size_arg(n, "n")};
    const bool lg = flag_arg(logp, "log");
    const int al = alt_arg(alt);
    return vectorise(a, 2, false, lg, [&](double v, R_xlen_t i) {
        return finish(kolmogorov_density(v, static_cast<int>(a[1].at(i)), al), lg);
    });
}

SEXP ksx_q_kolmogorov(SEXP p, SEXP n, SEXP lower, SEXP logp, SEXP alt) {
    const char *name = "n";
    return pq_routine(p, 1, &n, &name, lower, logp, alt, true, [](double v, const int *s, int al, bool lo, bool lg) {
        return kolmogorov_q(v, s[0], al, lo, lg, nullptr);
    });
}

// Draws of R's random-number generator: the number of draws (already
// checked) and sizes recycled over them.
SEXP ksx_r_kolmogorov(SEXP snn, SEXP n, SEXP alt) {
    Num a = size_arg(n, "n");
    const int al = alt_arg(alt);
    const R_xlen_t len = draws_arg(snn);
    SEXP ans = PROTECT(Rf_allocVector(REALSXP, len));
    double *r = REAL(ans);
    if (len > 0 && a.len == 0) Rf_error("invalid arguments");
    double maxn = 0.0;
    for (R_xlen_t i = 0; i < a.len; i++)
        if (valid_size(a.x[i]) && a.x[i] > maxn) maxn = a.x[i];
    check_bytes(maxn * sizeof(double), "drawing D_n", "use a smaller n");
    double *e = reinterpret_cast<double *>(R_alloc(static_cast<size_t>(maxn) + 1, sizeof(double)));
    bool na = false;
    GetRNGstate();
    PollClock work;
    for (R_xlen_t i = 0; i < len; i++) {
        const double nv = a.at(i);
        if (!valid_size(nv)) { // as R's r-functions: NA, with a warning
            r[i] = NA_REAL;
            na = true;
            continue;
        }
        r[i] = kolmogorov_draw(static_cast<int>(nv), al, e);
        poll(&work, 4.0 * nv);
    }
    PutRNGstate();
    if (na) Rf_warning("NAs produced");
    UNPROTECT(1);
    return ans;
}

} // namespace ksx
