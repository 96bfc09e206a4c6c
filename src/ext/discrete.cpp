// discrete: the exact law of the one-sample statistics for a null with
// jumps (see discrete.h), by the boundary-crossing recursion over the
// checkpoints of the null's range; the p- and q-functions and .Call
// routines of pkolmogorov_discrete and qkolmogorov_discrete.
//
// Accuracy: both tails to about 1e-12 relative or better, against the exact
// references of tests/testthat/ref-range.csv (complete enumeration of the
// multinomial outcomes for small n, Steck's determinant in rational
// arithmetic).
#include "discrete.h"

#include "args.h"
#include "kolmogorov.h"
#include "quantile.h"

#include <cfloat>

namespace ksx {
namespace {

// ---------------------------------------------------------------------------
// Checkpoints of a null with jumps.  On a stretch [alpha, beta] of the range
// the continuous checkpoints apply; on its left end the upper deviation
// U_n - u can be attained (an atom of D), on its right end the lower one,
// and on an isolated atom both.  There the bound depends on whether D < d or
// D <= d is asked, and a value of n (u +- d) within n DISCRETE_TOL of an
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

} // namespace

bool discrete_valid(int n, const double *lo, const double *hi, int k, int alt) {
    if (n < 1 || k < 1 || alt < 0 || alt > 2) return false;
    for (int r = 0; r < k; r++) {
        if (!(lo[r] >= 0.0 && hi[r] <= 1.0 && lo[r] <= hi[r])) return false;
        if (r > 0 && !(hi[r - 1] < lo[r])) return false;
    }
    return true;
}

namespace {

// Atoms of the null that cannot move the law.  D <= d (or < d) holds when
// every check at every point of the range holds; at an atom u they are
// N(u) <= c (upper, c from X = n u + s) and N(u) >= c' (lower, from Y =
// n u - s), N(u) the count of the n uniforms in [0, u].  N is
// non-decreasing in u: of two atoms with the same upper bound, the check at
// the larger implies the one at the smaller; of two with the same lower
// bound, the check at the smaller implies the one at the larger; and an
// upper bound of at least n, or a lower one of at most 0, holds always.
// range_next takes the bound at an atom from floor(X) (floor(Y) + 1) when X
// (Y) is farther than tolN from every whole number, and from that whole
// number otherwise: an atom whose X lies at least delta = 2 tolN + 1e-9 from
// every whole number has the bound floor(X) however D is asked, so atoms
// whose X share the floor so robustly share the bound.  Such an atom is
// dropped unless it is the largest of its upper class or the smallest of
// its lower class (or near a whole number, where it is kept).  Continuous
// stretches, and the first and last pieces, are kept as they are.  So the
// event D <= d, and both tails, are unchanged, and of however many atoms
// the null has, about 2 (n + 1) at most remain: a support of 10^7 points
// costs the recursion no more than one of a few hundred.
struct AtomClass {
    const dd s;
    const double N, delta;
    const bool up, low;
    // -1: no bound to keep (vacuous or not asked); -2: near a whole number.
    // The double n u +- s is within about 4 ulps of X (< 1e-9 here): only
    // near a whole number is X needed in double-double.
    int64_t upper(double u) const {
        if (!up) return -1;
        const double x = radd(rmul(N, u), s.hi);
        if (x >= N + 2.0 * delta) return -1;
        return classify(x, [&] { return dd_add(two_prod(N, u), s); }, N + delta);
    }
    int64_t lower(double u) const {
        if (!low) return -1;
        const double y = rsub(rmul(N, u), s.hi);
        if (y <= -2.0 * delta) return -1;
        return classify(y, [&] { return dd_sub(two_prod(N, u), s); }, INFINITY);
    }
    template <typename Exact>
    int64_t classify(double x, Exact exact, double vacuous_above) const {
        if (std::fabs(x - std::nearbyint(x)) > 2.0 * delta) {
            const double f = std::floor(x);
            return f < 0.0 ? -1 : static_cast<int64_t>(f);
        }
        const dd X = exact();
        if (X.hi >= vacuous_above || (vacuous_above == INFINITY && X.hi <= -delta)) return -1;
        double dist;
        dd_round(X, &dist);
        if (dist < delta) return -2;
        const double f = dd_floor(X);
        return f < 0.0 ? -1 : static_cast<int64_t>(f);
    }
};

// The pieces lo, hi (k of them) with the redundant atoms left out, into
// clo, chi; returns how many remain.
int compress_atoms(const double *lo, const double *hi, int k, const AtomClass &c, double *clo,
                   double *chi) {
    int out = 0;
    int64_t prev_low = -3; // lower class of the previous atom (-3: none)
    PollClock work;
    for (int r = 0; r < k; r++) {
        bool keep = r == 0 || r == k - 1 || lo[r] != hi[r];
        if (!keep) {
            const int64_t cu = c.upper(lo[r]), cl = c.lower(lo[r]);
            const bool next_atom = lo[r + 1] == hi[r + 1];
            const int64_t next_up = next_atom ? c.upper(lo[r + 1]) : -3;
            keep = (cu == -2 || (cu >= 0 && cu != next_up)) || (cl == -2 || (cl >= 0 && cl != prev_low));
            prev_low = cl;
        } else {
            prev_low = -3;
        }
        if (keep) {
            clo[out] = lo[r];
            chi[out] = hi[r];
            out++;
        }
        if ((r & 0xffff) == 0xffff) poll(&work, 0x1p20);
    }
    return out;
}

} // namespace

bool discrete_tails(int n, double d, const double *lo, const double *hi, int k, int alt,
                        bool strict, xp *stay, xp *leave) {
    if (std::isnan(d) || n < 1 || k < 1 || alt < 0 || alt > 2) {
        *stay = *leave = xp{R_NaN, 0};
        return false;
    }
    if (d < -DISCRETE_TOL) { // D >= 0
        *stay = xp_zero();
        *leave = xp_make(1.0);
        return true;
    }
    if (d > 1.0 + DISCRETE_TOL) { // D <= 1
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
    g.tolN = static_cast<double>(n) * DISCRETE_TOL;
    if (k > 2 * n + 8) {
        const AtomClass c = {g.s, static_cast<double>(n), 2.0 * g.tolN + 1e-9, g.up, g.low};
        double *clo = scratch<double>(static_cast<size_t>(k), "the exact distribution of D_n for this null",
                                      "give a smaller support");
        double *chi = scratch<double>(static_cast<size_t>(k), "the exact distribution of D_n for this null",
                                      "give a smaller support");
        k = compress_atoms(lo, hi, k, c, clo, chi);
        lo = clo;
        hi = chi;
    }
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

xp discrete_tail(int n, double d, const double *lo, const double *hi, int k, int alt, int rel) {
    if (rel < 0 || rel > 3) return xp{R_NaN, 0};
    xp stay, leave;
    discrete_tails(n, d, lo, hi, k, alt, rel == 0 || rel == 3, &stay, &leave);
    return rel <= 1 ? stay : leave;
}

namespace {

// ---------------------------------------------------------------------------
// As R returns them.
// ---------------------------------------------------------------------------

// The range of F as closed intervals, from R.
struct Range {
    const double *lo, *hi;
    int k;
};

// The pieces [lo[r], hi[r]] from R: F at the support points and just
// before them, [0, F(s1-)], [F(s1), F(s2-)], ..., [F(sK), 1], checked by R to
// rise up to rounding.  Here they are levelled (a running maximum over
// lo[0] <= hi[0] <= lo[1] <= ...: R's own distribution functions dip by an
// ulp or two), a piece narrower than F's rounding becomes the atom at its
// left end, and touching pieces (F continuous across a support point) are
// merged: sorted, disjoint, closed intervals.
Range range_arg(SEXP slo, SEXP shi) {
    if (TYPEOF(slo) != REALSXP || TYPEOF(shi) != REALSXP || XLENGTH(slo) != XLENGTH(shi) ||
        XLENGTH(slo) < 1 || XLENGTH(slo) > INT_MAX)
        Rf_error("internal: bad range of the null");
    const int k = static_cast<int>(XLENGTH(slo));
    const double *lo = REAL(slo), *hi = REAL(shi);
    double *nlo = scratch<double>(static_cast<size_t>(k), "the range of the null", "give a smaller support");
    double *nhi = scratch<double>(static_cast<size_t>(k), "the range of the null", "give a smaller support");
    int out = 0;
    double top = 0.0;
    PollClock work;
    for (int r = 0; r < k; r++) {
        const double a = std::fmin(1.0, std::fmax(top, lo[r]));
        double b = std::fmin(1.0, std::fmax(a, hi[r]));
        if (!(a >= 0.0 && b <= 1.0)) Rf_error("internal: bad range of the null");
        if (b - a <= 64.0 * DBL_EPSILON * b) b = a;
        top = b;
        if (out > 0 && a <= nhi[out - 1]) {
            nhi[out - 1] = b; // touching the previous piece
        } else {
            nlo[out] = a;
            nhi[out] = b;
            out++;
        }
        if ((r & 0xffff) == 0xffff) poll(&work, 0x1p20);
    }
    return Range{nlo, nhi, out};
}

struct Law {
    int n, alt;
    Range r;
};

// P(D <= d) (lower) or P(D > d), as R returns it.
double discrete_p(double d, int n, Range r, int alt, bool lower, bool logp) {
    xp stay, leave; // P(D <= d) and P(D > d), from one recursion
    discrete_tails(n, d, r.lo, r.hi, r.k, alt, false, &stay, &leave);
    return lower ? finish(stay, leave, logp) : finish(leave, stay, logp);
}

double law_p(double x, const void *law, bool lower, bool logp) {
    const Law *l = static_cast<const Law *>(law);
    return discrete_p(x, l->n, l->r, l->alt, lower, logp);
}

// The ends of the support: P(D <= x) > 0 (test 1), or P(D > x) == 0 (test 2).
struct EndTest {
    Law law;
    int test;
};

void end_eval(double x, void *ctx, bool *ok, double *steer) {
    const EndTest *t = static_cast<const EndTest *>(ctx);
    const Law &l = t->law;
    const xp v = discrete_tail(l.n, x, l.r.lo, l.r.hi, l.r.k, l.alt, t->test == 1 ? 1 : 2);
    *ok = t->test == 1 ? v.m > 0.0 : v.m == 0.0;
    *steer = NAN;
}

// The attained value of D that a quantile x found on the doubles stands
// for.  At the ends e of the range's intervals D takes the values k/n - e
// (upper deviations) and e - k/n (lower ones; computed in this order, as
// ks_test computes the statistic
// from data), and the tails count a value within DISCRETE_TOL of x as x
// itself: so the smallest x that reaches p may lie up to that much below
// such a value, which is then the quantile.  One value can come out as
// doubles an ulp or two apart from different ends (1 - 0.7 and 0.5 - 0.2):
// the largest of them is returned, so that a statistic computed from data
// never exceeds the quantile of its own atom.  On a continuous stretch of
// the null, D has no atom and x stays.
double attained(double x, int n, Range r, int alt) {
    const double N = static_cast<double>(n);
    const double near = 16.0 * DBL_EPSILON * x;
    double best = x, gap = 2.0 * DISCRETE_TOL;
    bool found = false;
    PollClock work;
    for (int pass = 0; pass < 2; pass++) {
        // First the closest value at or above x, then the largest double of it.
        for (int i = 0; i < r.k; i++) {
            const double ends[2] = {r.lo[i], r.hi[i]};
            for (double e : ends) {
                for (int side = alt == ALT_LESS ? 1 : 0; side < (alt == ALT_GREATER ? 1 : 2); side++) {
                    const double k0 = std::nearbyint(side == 0 ? N * (x + e) : N * (e - x));
                    for (double k = k0 - 1.0; k <= k0 + 1.0; k += 1.0) {
                        if (k < 0.0 || k > N) continue;
                        const double c = side == 0 ? k / N - e : e - k / N;
                        if (pass == 0 && c >= x - near && c - x < gap) {
                            best = c;
                            gap = c - x;
                            found = true;
                        }
                        if (pass == 1 && c > best && c - best <= near) best = c;
                    }
                }
            }
            poll(&work, 16.0);
        }
        if (!found) break;
    }
    return best;
}

double discrete_q(double p, int n, Range r, int alt, bool lower, bool logp) {
    const double zero = logp ? -INFINITY : 0.0, one = logp ? 0.0 : 1.0;
    const Law law = {n, alt, r};
    EndTest end = {law, 0};
    if (p == (lower ? one : zero)) end.test = 2;
    else if (p == (lower ? zero : one)) end.test = 1;
    Target t = {law_p, &law, lower, logp, p, false, true};
    EvalFn f = end.test ? end_eval : target_eval;
    void *ctx = end.test ? static_cast<void *>(&end) : static_cast<void *>(&t);
    bool ok;
    double steer;
    f(0.0, ctx, &ok, &steer);
    if (ok) return 0.0;
    return attained(solve_double(f, ctx, 0.0, 1.0, NAN, nullptr), n, r, alt);
}

} // namespace

// ---------------------------------------------------------------------------
// .Call routines.
// ---------------------------------------------------------------------------

SEXP ksx_p_discrete(SEXP q, SEXP n, SEXP lo, SEXP hi, SEXP lower, SEXP logp, SEXP alt) {
    const Range rg = range_arg(lo, hi);
    const char *name = "n";
    return pq_routine(q, 1, &n, &name, lower, logp, alt, false, [&](double x, const int *s, int al, bool lw, bool lg) {
        return discrete_p(x, s[0], rg, al, lw, lg);
    });
}

SEXP ksx_q_discrete(SEXP p, SEXP n, SEXP lo, SEXP hi, SEXP lower, SEXP logp, SEXP alt) {
    const Range rg = range_arg(lo, hi);
    const char *name = "n";
    return pq_routine(p, 1, &n, &name, lower, logp, alt, true, [&](double v, const int *s, int al, bool lw, bool lg) {
        return discrete_q(v, s[0], rg, al, lw, lg);
    });
}

// The largest double below each element of x: the R layer reads a null's
// left limits F(t-) at these points.
SEXP ksx_prev_double(SEXP x) {
    Num a = num_arg(x, "x");
    SEXP ans = PROTECT(Rf_allocVector(REALSXP, a.len));
    double *r = REAL(ans);
    PollClock work;
    for (R_xlen_t i = 0; i < a.len; i++) {
        r[i] = std::nextafter(a.x[i], -INFINITY);
        if ((i & 0xffff) == 0xffff) poll(&work, 0x1p16);
    }
    UNPROTECT(1);
    return ans;
}

// ks_test's p-value, P(D >= d), and its logarithm.
SEXP ksx_discrete_pvalue(SEXP d, SEXP n, SEXP lo, SEXP hi, SEXP alt) {
    const Range rg = range_arg(lo, hi);
    xp stay, leave; // P(D < d), P(D >= d)
    discrete_tails(Rf_asInteger(n), Rf_asReal(d), rg.lo, rg.hi, rg.k, alt_arg(alt), true, &stay, &leave);
    return p_and_log(leave, stay);
}

} // namespace ksx
