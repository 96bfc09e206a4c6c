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

xp sbt_upper(int n, dd s) {
    const double N = static_cast<double>(n);
    const double sv = dd_val(s);
    const dd top = dd_sub(dd_of(N), s); // n - s > 0
    // Terms with n - j - s <= 0 vanish: j runs to ceil(n - s) - 1.
    const double jmax = -dd_floor(dd_neg(top)) - 1.0;
    LogSum sum = {-INFINITY, dd_of(0.0)};
    const double logN = std::log(N), stN = stirlerr(N);
    double work = 0.0;
    for (double j = 0.0; j <= jmax; j += 1.0) {
        double l;
        if (j == 0.0) {
            l = -(bd0(N, top) + sv);
        } else {
            const dd M1 = dd_add_d(s, j);
            const dd M2 = dd_add_d(top, -j);
            l = std::log(sv / dd_val(M1)) + (stN - stirlerr(j) - stirlerr(N - j)) - bd0(j, M1) -
                bd0(N - j, M2) + 0.5 * (logN - LN_2PI - std::log(j) - std::log(N - j));
        }
        logsum_add(&sum, l);
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
    if (which <= 0) {
        c->pos = pa;
        c->hi = static_cast<int64_t>(*ia) - 1;
        *ia += 1.0;
    }
    if (which >= 0) {
        c->pos = pb;
        *passed_b = *ib;
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

Crossing cont_crossing(int n, dd s, int alt) {
    ContChecks g;
    g.n = n;
    g.s = s;
    g.up = alt != ALT_LESS;
    g.low = alt != ALT_GREATER;
    g.ia = dd_floor(s) + 1.0;
    if (g.ia < 1.0) g.ia = 1.0;
    g.ib = 1.0;
    g.passed_b = 0.0;
    return crossing(n, cont_next, &g, "the exact distribution of D_n");
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

// .Call(ksx_ks1_raw, d, n, alt, upper): d double, n integer >= 1, alt 0/1/2,
// upper logical.  Returns c(value, log).
SEXP ksx_ks1_raw(SEXP sd, SEXP sn, SEXP salt, SEXP supper) {
    const double d = real_arg(sd, "d");
    const int n = int_arg(sn, "n");
    const int alt = int_arg(salt, "alt");
    const int upper = int_arg(supper, "upper");
    if (n < 1) Rf_error("'n' must be at least 1");
    if (alt < 0 || alt > 2) Rf_error("'alt' must be 0, 1 or 2");
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
