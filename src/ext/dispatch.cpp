// The vectorised routines behind the R functions of the exact one- and
// two-sample distributions: argument checks, recycling, attributes, the
// choice between the exact module and the direct tails, quantiles and
// random draws.
//
// Lower tails that are at least 1/2 come from the exact module, bit for bit;
// everything else (upper tails, smaller lower tails, logarithms, one-sided
// statistics, ties) from the direct computations, which never form 1 - p.
#include "alt.h"
#include "args.h"
#include "ext.h"
#include "limit.h"
#include "onesample.h"
#include "solve.h"
#include "twosample.h"

#include <R_ext/Random.h>
#include <cfloat>

using namespace ksx;

namespace {

// ---------------------------------------------------------------------------
// One sample, continuous null.
// ---------------------------------------------------------------------------

// Stephens' scaling makes the limiting law a fair guess for any n.
double stephens(double n) { return std::sqrt(n) + 0.12 + 0.11 / std::sqrt(n); }

// Whether the module can do P(D_n < d) within the memory limit: three
// matrices of order 2 floor(n d) + 1.
bool module_one_feasible(double d, int n) {
    const double t = d * n;
    if (!(t < 23170.0)) return false;
    const double m = 2.0 * std::floor(t) + 1.0;
    return 3.0 * m * m * 8.0 <= max_bytes();
}

// P(D <= d) (lower) or P(D > d) for the continuous null, as R returns it.
double kolm_p(double d, int n, int alt, bool lower, bool logp) {
    if (alt == ALT_TWO && lower && d < 1.0 && d * n > 0.5) {
        // The module where its answer is at least 1/2.  It is only asked
        // where the limiting law makes that plausible, and where the upper
        // tail is not already below 2^-60 (the lower tail is then 1 to
        // double precision, and the module would only spend time on it).
        const double guess = limit_p(stephens(n) * d, 1e-6, ALT_TWO, true, false);
        if (guess > 0.3 && module_one_feasible(d, n)) {
            const double t = d * n;
            const double m = 2.0 * std::floor(t) + 1.0;
            if (m > 2001.0 && xp_less(ks1_cdf(d, n, alt, true), xp_make(0x1p-60)))
                return logp ? 0.0 : 1.0;
            double v = module_kolmogorov(d, n);
            if (v >= 0.5) {
                if (v > 1.0) v = 1.0;
                return logp ? std::log(v) : v;
            }
        }
    }
    if (alt == ALT_TWO && !lower && d < 1.0 && d * n > 0.5 && module_one_feasible(d, n)) {
        // A large upper tail is 1 minus the module's small lower tail, to
        // within the module's rounding, and the module is far cheaper there
        // than the boundary-crossing recursion.
        const double guess = limit_p(stephens(n) * d, 1e-6, ALT_TWO, true, false);
        if (guess < 0.25) {
            const double v = module_kolmogorov(d, n);
            if (v <= 0.5) return logp ? std::log1p(-v) : 1.0 - v;
        }
    }
    return finish(ks1_cdf(d, n, alt, !lower), logp);
}

// Support of D: [1/(2n), 1] two-sided, (0, 1] one-sided.
double kolm_bottom(int n, int alt) { return alt == ALT_TWO ? 0.5 / n : 0.0; }

struct KolmTarget {
    int n, alt;
    bool lower, logp;
    double p;
};

// Acceptance exactly as the p-function answers it: P(D <= x) >= p, or
// P(D > x) <= p; steered by the log of the tail asked for.
void kolm_eval(double x, void *ctx, bool *ok, double *steer) {
    const KolmTarget *t = static_cast<const KolmTarget *>(ctx);
    const double v = kolm_p(x, t->n, t->alt, t->lower, t->logp);
    *ok = t->lower ? v >= t->p : v <= t->p;
    const double lv = t->logp ? v : std::log(v), lp = t->logp ? t->p : std::log(t->p);
    if (t->lower && lp > -0.7) {
        // Near 1 the log of the lower tail is about minus the upper tail;
        // steering by the upper tails keeps the interpolation on a log scale.
        const double uv = t->logp ? -std::expm1(v) : 1.0 - v;
        const double up = t->logp ? -std::expm1(t->p) : 1.0 - t->p;
        *steer = std::log(up) - std::log(uv);
    } else {
        *steer = t->lower ? lv - lp : lp - lv;
    }
}

double kolm_q(double p, int n, int alt, bool lower, bool logp) {
    const double zero = logp ? -INFINITY : 0.0, one = logp ? 0.0 : 1.0;
    const double bottom = kolm_bottom(n, alt);
    if (p == (lower ? zero : one)) return bottom;
    if (p == (lower ? one : zero)) return 1.0;
    KolmTarget t = {n, alt, lower, logp, p};
    const double g = limit_guess(p, alt, lower, logp) / stephens(n);
    return solve_double(kolm_eval, &t, bottom, 1.0, g < 1.0 ? g : 0.5, nullptr);
}

// One draw of D_n: the order statistics of n uniforms as normalised partial
// sums of n + 1 exponentials, so no sort is needed.
double kolm_draw(int n, int alt, double *e) {
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
// Two samples.
// ---------------------------------------------------------------------------

// The tie pattern of a two-sample distribution: block sizes, or none.
struct Ties {
    const int *b;
    int nb;
};

Ties ties_arg(SEXP blocks) {
    if (Rf_isNull(blocks)) return Ties{nullptr, 0};
    if (TYPEOF(blocks) != INTSXP) Rf_error("internal: tie blocks must be integers");
    return Ties{INTEGER(blocks), static_cast<int>(XLENGTH(blocks))};
}

// The attained value K (in units of 1/(m n)) that a statistic q stands for:
// the largest whole number not above q m n, where a q m n within the
// rounding of a computed ratio below a whole number counts as that number.
double attained(double q, double mn) {
    const double x = q * mn;
    double tol = 64 * DBL_EPSILON * std::fabs(x);
    if (tol < 1e-7) tol = 1e-7;
    if (tol > 0.25) tol = 0.25;
    return std::floor(x + tol);
}

// P(S <= K) (lower) or P(S > K), as R returns it.
double smir_p_int(double K, int m, int n, int alt, Ties t, bool lower, bool logp) {
    const double mn = static_cast<double>(m) * n;
    if (K < 0.0) return finish(lower ? 0.0 : 1.0, logp);
    if (K >= mn) return finish(lower ? 1.0 : 0.0, logp);
    if (alt == ALT_TWO && !t.b && lower) {
        // The module's bits where the lower tail is at least 1/2; it is
        // asked half a step above the attained value.
        // The limiting law is a poor guide for small or equal samples (the
        // attained values are then far apart); those are cheap to ask.
        const double x = std::sqrt(mn / (static_cast<double>(m) + n)) * (K / mn);
        if (mn <= 1e6 || limit_p(x, 1e-6, ALT_TWO, true, false) > 0.2) {
            double v = module_smirnov((K + 0.5) / mn, m, n);
            if (v >= 0.5) {
                if (v > 1.0) v = 1.0;
                return logp ? std::log(v) : v;
            }
        }
    }
    return finish(ks2_cdf(static_cast<int64_t>(K), m, n, alt, t.b, t.nb, !lower), logp);
}

void check_two_size(int m, int n) {
    const double mn = static_cast<double>(m) * n;
    if (mn > 0x1p50)
        Rf_error("the exact two-sample distribution is out of reach for m n = %.4g (above 2^50): "
                 "use the limiting distribution pkolmogorov_limit(sqrt(m * n / (m + n)) * q) instead",
                 mn);
}

struct SmirTarget {
    int m, n, alt;
    Ties t;
    bool lower, logp;
    double p;
    bool positive; // the test is "P(S <= K) > 0" (lower end of the support)
};

void smir_eval(double K, void *ctx, bool *ok, double *steer) {
    const SmirTarget *t = static_cast<const SmirTarget *>(ctx);
    if (t->positive) {
        const xp v = ks2_cdf(static_cast<int64_t>(K), t->m, t->n, t->alt, t->t.b, t->t.nb, false);
        *ok = v.m > 0.0;
        *steer = NAN;
        return;
    }
    const double v = smir_p_int(K, t->m, t->n, t->alt, t->t, t->lower, t->logp);
    *ok = t->lower ? v >= t->p : v <= t->p;
    const double lv = t->logp ? v : std::log(v), lp = t->logp ? t->p : std::log(t->p);
    if (t->lower && lp > -0.7) {
        const double uv = t->logp ? -std::expm1(v) : 1.0 - v;
        const double up = t->logp ? -std::expm1(t->p) : 1.0 - t->p;
        *steer = std::log(up) - std::log(uv);
    } else {
        *steer = t->lower ? lv - lp : lp - lv;
    }
}

// The largest value S takes: the path that runs along the edge where the
// difference is largest, checked at block ends only when there are ties.
double smir_top(int m, int n, int alt, Ties t) {
    if (!t.b) return static_cast<double>(m) * n;
    double best = 0.0, s = 0.0;
    const double md = m, nd = n;
    for (int k = 0; k < t.nb; k++) {
        s += t.b[k];
        // i x's and s - i y's, i in [max(0, s - n), min(s, m)]; i n - j m =
        // i (m + n) - s m is extreme at the ends of that range.
        const double ilo = s - nd > 0.0 ? s - nd : 0.0, ihi = s < md ? s : md;
        const double lo = ilo * (md + nd) - s * md, hi = ihi * (md + nd) - s * md;
        const double v = alt == ALT_TWO ? (hi > -lo ? hi : -lo) : (alt == ALT_GREATER ? hi : -lo);
        if (v > best) best = v;
    }
    return best;
}

double smir_q(double p, int m, int n, int alt, Ties t, bool lower, bool logp) {
    const double zero = logp ? -INFINITY : 0.0, one = logp ? 0.0 : 1.0;
    const double mn = static_cast<double>(m) * n;
    const double top = smir_top(m, n, alt, t);
    SmirTarget g = {m, n, alt, t, lower, logp, p, false};
    if (p == (lower ? one : zero)) return top / mn;
    if (p == (lower ? zero : one)) {
        // The smallest attained value of positive probability.
        g.positive = true;
        return static_cast<double>(solve_int(smir_eval, &g, -1, static_cast<int64_t>(top), NAN,
                                             nullptr)) /
               mn;
    }
    const double x = limit_guess(p, alt, lower, logp) / std::sqrt(mn / (static_cast<double>(m) + n));
    const int64_t K = solve_int(smir_eval, &g, -1, static_cast<int64_t>(top), x * mn, nullptr);
    return static_cast<double>(K) / mn;
}

// P(S = K), from the tail where it is the smaller part.
double smir_d_int(double K, int m, int n, int alt, Ties t, bool logp) {
    const double mn = static_cast<double>(m) * n;
    if (K < 0.0 || K > mn) return logp ? -INFINITY : 0.0;
    const xp lo = ks2_cdf(static_cast<int64_t>(K), m, n, alt, t.b, t.nb, false);
    xp a, b;
    if (xp_value(lo) <= 0.5) {
        a = lo;
        b = ks2_cdf(static_cast<int64_t>(K) - 1, m, n, alt, t.b, t.nb, false);
    } else {
        a = ks2_cdf(static_cast<int64_t>(K) - 1, m, n, alt, t.b, t.nb, true);
        b = ks2_cdf(static_cast<int64_t>(K), m, n, alt, t.b, t.nb, true);
    }
    // a - b >= 0, both as xp with a >= b.
    if (b.m == 0.0) return finish(a, logp);
    const double r = xp_value(xp_div(b, a)); // in [0, 1]
    const xp d = xp_make(a.m * (1.0 - r), a.e);
    return finish(d.m > 0.0 ? d : xp_zero(), logp);
}

// One draw of S: a uniformly random split of the pooled positions (partial
// Fisher-Yates), scanned in order, compared at block ends.
double smir_draw(int m, int n, int alt, Ties t, int *pos, char *isx) {
    const int N = m + n;
    for (int i = 0; i < N; i++) {
        pos[i] = i;
        isx[i] = 0;
    }
    PollClock work;
    for (int i = 0; i < m; i++) {
        if ((i & 0xfffff) == 0xfffff) poll(&work, 0x1p24);
        const int j = i + static_cast<int>(R_unif_index(static_cast<double>(N - i)));
        const int tmp = pos[i];
        pos[i] = pos[j];
        pos[j] = tmp;
        isx[pos[i]] = 1;
    }
    const int64_t md = m, nd = n;
    int64_t i = 0, j = 0, best = 0;
    int k = 0, end = t.b ? t.b[0] : 1;
    for (int s = 0; s < N; s++) {
        if (isx[s]) i++;
        else j++;
        if (s + 1 == end) {
            const int64_t v = i * nd - j * md;
            const int64_t w = alt == ALT_TWO ? (v < 0 ? -v : v) : (alt == ALT_GREATER ? v : -v);
            if (w > best) best = w;
            end += t.b ? (++k < t.nb ? t.b[k] : 0) : 1;
        }
    }
    return static_cast<double>(best);
}

// ---------------------------------------------------------------------------
// One sample, null with jumps: the range of F as closed intervals.
// ---------------------------------------------------------------------------

struct Range {
    const double *lo, *hi;
    int k;
};

Range range_arg(SEXP lo, SEXP hi) {
    if (TYPEOF(lo) != REALSXP || TYPEOF(hi) != REALSXP || XLENGTH(lo) != XLENGTH(hi) ||
        XLENGTH(lo) < 1 || XLENGTH(lo) > INT_MAX)
        Rf_error("internal: bad range of the null");
    return Range{REAL(lo), REAL(hi), static_cast<int>(XLENGTH(lo))};
}

// P(D <= d) (lower) or P(D > d), as R returns it.
double range_p(double d, int n, Range r, int alt, bool lower, bool logp) {
    return finish(ks_range_cdf(n, d, r.lo, r.hi, r.k, alt, lower ? 1 : 2), logp);
}

struct RangeTarget {
    int n, alt;
    Range r;
    bool lower, logp;
    double p;
    int test; // 0: the tail against p; 1: P(D <= x) > 0; 2: P(D > x) == 0
};

void range_eval(double x, void *ctx, bool *ok, double *steer) {
    const RangeTarget *t = static_cast<const RangeTarget *>(ctx);
    if (t->test) {
        const xp v = ks_range_cdf(t->n, x, t->r.lo, t->r.hi, t->r.k, t->alt, t->test == 1 ? 1 : 2);
        *ok = t->test == 1 ? v.m > 0.0 : v.m == 0.0;
        *steer = NAN;
        return;
    }
    const double v = range_p(x, t->n, t->r, t->alt, t->lower, t->logp);
    *ok = t->lower ? v >= t->p : v <= t->p;
    const double lv = t->logp ? v : std::log(v), lp = t->logp ? t->p : std::log(t->p);
    *steer = t->lower ? lv - lp : lp - lv;
}

double range_q(double p, int n, Range r, int alt, bool lower, bool logp) {
    const double zero = logp ? -INFINITY : 0.0, one = logp ? 0.0 : 1.0;
    RangeTarget t = {n, alt, r, lower, logp, p, 0};
    if (p == (lower ? one : zero)) t.test = 2;
    else if (p == (lower ? zero : one)) t.test = 1;
    bool ok;
    double steer;
    range_eval(0.0, &t, &ok, &steer);
    if (ok) return 0.0;
    return solve_double(range_eval, &t, 0.0, 1.0, NAN, nullptr);
}

} // namespace

// ---------------------------------------------------------------------------
// .Call routines.
// ---------------------------------------------------------------------------

SEXP ksx_prev_double(SEXP x) {
    Num a = num_arg(x, "x");
    SEXP ans = PROTECT(Rf_allocVector(REALSXP, a.len));
    double *r = REAL(ans);
    for (R_xlen_t i = 0; i < a.len; i++) r[i] = std::nextafter(a.x[i], -INFINITY);
    UNPROTECT(1);
    return ans;
}

SEXP ksx_p_kolmogorov(SEXP q, SEXP n, SEXP lower, SEXP logp, SEXP alt) {
    const Num a[2] = {num_arg(q, "q"), size_arg(n, "n")};
    const bool lo = flag_arg(lower, "lower.tail"), lg = flag_arg(logp, "log.p");
    const int al = alt_arg(alt);
    return vectorise(a, 2, false, lg, [&](double x, R_xlen_t i) {
        return kolm_p(x, static_cast<int>(a[1].at(i)), al, lo, lg);
    });
}

// Density of D_n (or of the one-sided statistic): the right derivative of
// the distribution function, computed directly in both tails, so that its
// logarithm stays meaningful far below the double range.
SEXP ksx_d_kolmogorov(SEXP x, SEXP n, SEXP logp, SEXP alt) {
    const Num a[2] = {num_arg(x, "x"), size_arg(n, "n")};
    const bool lg = flag_arg(logp, "log");
    const int al = alt_arg(alt);
    return vectorise(a, 2, false, lg, [&](double v, R_xlen_t i) {
        return finish(ks1_density(v, static_cast<int>(a[1].at(i)), al), lg);
    });
}

SEXP ksx_q_kolmogorov(SEXP p, SEXP n, SEXP lower, SEXP logp, SEXP alt) {
    const Num a[2] = {num_arg(p, "p"), size_arg(n, "n")};
    const bool lo = flag_arg(lower, "lower.tail"), lg = flag_arg(logp, "log.p");
    const int al = alt_arg(alt);
    return vectorise(a, 2, true, lg, [&](double v, R_xlen_t i) {
        return kolm_q(v, static_cast<int>(a[1].at(i)), al, lo, lg);
    });
}

// Draws of R's random-number generator: the number of draws (already
// checked) and parameters recycled over them.
SEXP ksx_r_kolmogorov(SEXP snn, SEXP n, SEXP alt) {
    const double nn = Rf_asReal(snn);
    Num a = size_arg(n, "n");
    const int al = alt_arg(alt);
    const R_xlen_t len = static_cast<R_xlen_t>(nn);
    SEXP ans = PROTECT(Rf_allocVector(REALSXP, len));
    double *r = REAL(ans);
    if (len > 0 && a.len == 0) Rf_error("invalid arguments");
    double maxn = 0.0;
    for (R_xlen_t i = 0; i < a.len; i++)
        if (a.x[i] > maxn) maxn = a.x[i];
    check_bytes(maxn * sizeof(double), "drawing D_n", "use a smaller n");
    double *e = reinterpret_cast<double *>(R_alloc(static_cast<size_t>(maxn) + 1, sizeof(double)));
    bool na = false;
    GetRNGstate();
    PollClock work;
    for (R_xlen_t i = 0; i < len; i++) {
        const double nv = a.at(i);
        if (ISNA(nv)) {
            r[i] = NA_REAL;
            na = true;
            continue;
        }
        r[i] = kolm_draw(static_cast<int>(nv), al, e);
        poll(&work, 4.0 * nv);
    }
    PutRNGstate();
    if (na) Rf_warning("NAs produced");
    UNPROTECT(1);
    return ans;
}

SEXP ksx_p_smirnov2(SEXP q, SEXP m, SEXP n, SEXP lower, SEXP logp, SEXP alt, SEXP blocks) {
    const Num a[3] = {num_arg(q, "q"), size_arg(m, "m"), size_arg(n, "n")};
    const bool lo = flag_arg(lower, "lower.tail"), lg = flag_arg(logp, "log.p");
    const int al = alt_arg(alt);
    const Ties t = ties_arg(blocks);
    return vectorise(a, 3, false, lg, [&](double x, R_xlen_t i) {
        const int mi = static_cast<int>(a[1].at(i)), ni = static_cast<int>(a[2].at(i));
        if (x < 0.0) return finish(lo ? 0.0 : 1.0, lg);
        if (x >= 1.0) return finish(lo ? 1.0 : 0.0, lg);
        check_two_size(mi, ni);
        return smir_p_int(attained(x, static_cast<double>(mi) * ni), mi, ni, al, t, lo, lg);
    });
}

SEXP ksx_q_smirnov2(SEXP p, SEXP m, SEXP n, SEXP lower, SEXP logp, SEXP alt, SEXP blocks) {
    const Num a[3] = {num_arg(p, "p"), size_arg(m, "m"), size_arg(n, "n")};
    const bool lo = flag_arg(lower, "lower.tail"), lg = flag_arg(logp, "log.p");
    const int al = alt_arg(alt);
    const Ties t = ties_arg(blocks);
    return vectorise(a, 3, true, lg, [&](double v, R_xlen_t i) {
        const int mi = static_cast<int>(a[1].at(i)), ni = static_cast<int>(a[2].at(i));
        check_two_size(mi, ni);
        return smir_q(v, mi, ni, al, t, lo, lg);
    });
}

SEXP ksx_d_smirnov2(SEXP x, SEXP m, SEXP n, SEXP logp, SEXP alt, SEXP blocks) {
    const Num a[3] = {num_arg(x, "x"), size_arg(m, "m"), size_arg(n, "n")};
    const bool lg = flag_arg(logp, "log");
    const int al = alt_arg(alt);
    const Ties t = ties_arg(blocks);
    return vectorise(a, 3, false, lg, [&](double v, R_xlen_t i) {
        const int mi = static_cast<int>(a[1].at(i)), ni = static_cast<int>(a[2].at(i));
        const double mn = static_cast<double>(mi) * ni;
        check_two_size(mi, ni);
        // Only attained values k/(m n) carry probability.
        const double K = attained(v, mn);
        const bool on = std::fabs(v * mn - K) <= (64 * DBL_EPSILON * std::fabs(v * mn) + 1e-7);
        return on ? smir_d_int(K, mi, ni, al, t, lg) : (lg ? -INFINITY : 0.0);
    });
}

SEXP ksx_r_smirnov2(SEXP snn, SEXP m, SEXP n, SEXP alt, SEXP blocks) {
    const double nn = Rf_asReal(snn);
    Num a[2] = {size_arg(m, "m"), size_arg(n, "n")};
    const int al = alt_arg(alt);
    const Ties t = ties_arg(blocks);
    const R_xlen_t len = static_cast<R_xlen_t>(nn);
    SEXP ans = PROTECT(Rf_allocVector(REALSXP, len));
    double *r = REAL(ans);
    if (len > 0 && (a[0].len == 0 || a[1].len == 0)) Rf_error("invalid arguments");
    double maxN = 0.0;
    for (R_xlen_t i = 0; i < (len < 1 ? 0 : (a[0].len > a[1].len ? a[0].len : a[1].len)); i++) {
        const double N = a[0].at(i) + a[1].at(i);
        if (N > maxN) maxN = N;
    }
    check_bytes(maxN * (sizeof(int) + 1), "drawing the two-sample statistic", "use smaller samples");
    int *pos = reinterpret_cast<int *>(R_alloc(static_cast<size_t>(maxN) + 1, sizeof(int)));
    char *isx = R_alloc(static_cast<size_t>(maxN) + 1, 1);
    bool na = false;
    GetRNGstate();
    PollClock work;
    for (R_xlen_t i = 0; i < len; i++) {
        const double mm = a[0].at(i), nv = a[1].at(i);
        if (ISNA(mm) || ISNA(nv)) {
            r[i] = NA_REAL;
            na = true;
            continue;
        }
        if (mm + nv > 2147483647.0) Rf_error("drawing needs m + n at most 2147483647");
        r[i] = smir_draw(static_cast<int>(mm), static_cast<int>(nv), al, t, pos, isx) / (mm * nv);
        poll(&work, 4.0 * (mm + nv));
    }
    PutRNGstate();
    if (na) Rf_warning("NAs produced");
    UNPROTECT(1);
    return ans;
}

SEXP ksx_p_range(SEXP q, SEXP n, SEXP lo, SEXP hi, SEXP lower, SEXP logp, SEXP alt) {
    const Num a[2] = {num_arg(q, "q"), size_arg(n, "n")};
    const Range rg = range_arg(lo, hi);
    const bool lw = flag_arg(lower, "lower.tail"), lg = flag_arg(logp, "log.p");
    const int al = alt_arg(alt);
    return vectorise(a, 2, false, lg, [&](double x, R_xlen_t i) {
        return range_p(x, static_cast<int>(a[1].at(i)), rg, al, lw, lg);
    });
}

SEXP ksx_q_range(SEXP p, SEXP n, SEXP lo, SEXP hi, SEXP lower, SEXP logp, SEXP alt) {
    const Num a[2] = {num_arg(p, "p"), size_arg(n, "n")};
    const Range rg = range_arg(lo, hi);
    const bool lw = flag_arg(lower, "lower.tail"), lg = flag_arg(logp, "log.p");
    const int al = alt_arg(alt);
    return vectorise(a, 2, true, lg, [&](double v, R_xlen_t i) {
        return range_q(v, static_cast<int>(a[1].at(i)), rg, al, lw, lg);
    });
}

// p-values of ks_test: P(D >= d) for one sample, continuous null.
SEXP ksx_pvalue1(SEXP d, SEXP n, SEXP alt) {
    return Rf_ScalarReal(kolm_p(Rf_asReal(d), Rf_asInteger(n), Rf_asInteger(alt), false, false));
}

// P(S >= K) for two samples, with ties given as block sizes or NULL.
SEXP ksx_pvalue2(SEXP K, SEXP m, SEXP n, SEXP alt, SEXP blocks) {
    const Ties t = ties_arg(blocks);
    const double k = Rf_asReal(K);
    return Rf_ScalarReal(xp_value(ks2_cdf(static_cast<int64_t>(k) - 1, Rf_asInteger(m),
                                          Rf_asInteger(n), Rf_asInteger(alt), t.b, t.nb, true)));
}

// P(D >= d) for one sample against a null with jumps.
SEXP ksx_pvalue_range(SEXP d, SEXP n, SEXP lo, SEXP hi, SEXP alt) {
    const Range rg = range_arg(lo, hi);
    return Rf_ScalarReal(
        xp_value(ks_range_cdf(Rf_asInteger(n), Rf_asReal(d), rg.lo, rg.hi, rg.k, Rf_asInteger(alt), 3)));
}
