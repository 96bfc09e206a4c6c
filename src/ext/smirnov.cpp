// smirnov: the exact law of the two-sample statistics (see smirnov.h; the
// engine is smirnov_sweep.cpp), as R's d/p/q/r functions return it, and
// their .Call routines.
//
// Lower tails that are at least 1/2 come from the exact module, bit for bit;
// everything else (upper tails, smaller lower tails, logarithms, one-sided
// statistics, ties) from the direct tails, which never form 1 - p.
#include "smirnov.h"

#include <numeric>

#include "args.h"
#include "limit.h"
#include "quantile.h"

#include <R_ext/Random.h>
#include <cfloat>

namespace ksx {

bool smirnov_exact_size(double m, double n) { return m * n <= SMIRNOV_MAX_MN; }

void smirnov_check_size(int m, int n) {
    const double mn = static_cast<double>(m) * n;
    if (!smirnov_exact_size(m, n))
        Rf_error("the exact two-sample distribution is out of reach for m n = %.4g (above 2^50): "
                 "use the limiting distribution pkolmogorov_limit(sqrt(m * n / (m + n)) * q) instead",
                 mn);
}

namespace {

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
// Whether P(S > K) is provably below 2^-1100, so that as a double it is 0
// and the lower tail is 1.  After s steps the path has taken X_s x's, a
// hypergeometric count, and its statistic is |N X_s - s m| (N = m + n):
// S > K means |X_s - s m / N| >= (K + 1) / N at some step.  By Hoeffding's
// inequality for sampling without replacement that has probability at most
// 2 exp(-2 ((K + 1) / N)^2 / min(s, N - s)) at each step, at most
// 2 exp(-4 (K + 1)^2 / N^3) since min(s, N - s) <= N / 2, and the union over
// the N - 1 steps bounds the tail.  Ties only remove checkpoints, and one
// side is a part of both: the bound holds for every form of the statistic.
bool smirnov_upper_negligible(double K, int m, int n) {
    const double N = static_cast<double>(m) + n, k = K + 1.0;
    return std::log(2.0 * N) - 4.0 * (k / N) * (k / N) / N < -1101.0 * M_LN2;
}

double smirnov_p(double K, int m, int n, int alt, Ties t, bool lower, bool logp) {
    const double mn = static_cast<double>(m) * n;
    if (K < 0.0) return finish(lower ? 0.0 : 1.0, logp);
    if (K >= mn) return finish(lower ? 1.0 : 0.0, logp);
    if (!logp && smirnov_upper_negligible(K, m, n)) return lower ? 1.0 : 0.0;
    const int64_t k = static_cast<int64_t>(K);
    if (logp) {
        // Logarithms from the direct tails, log1p(-other tail) where the
        // tail asked for is above 1/2.
        const xp v = smirnov_tail(k, m, n, alt, t.b, t.nb, !lower);
        if (!(xp_value(v) > 0.5)) return finish(v, true);
        return finish(v, smirnov_tail(k, m, n, alt, t.b, t.nb, lower), true);
    }
    if (alt == ALT_TWO && !t.b && lower) {
        // The module's bits where the lower tail is at least 1/2; it is
        // asked half a step above the attained value.
        // The limiting law is a poor guide for small or equal samples (the
        // attained values are then far apart); those are cheap to ask.
        const double x = std::sqrt(mn / (static_cast<double>(m) + n)) * (K / mn);
        if (mn <= 1e6 || limit_p(x, 1e-6, ALT_TWO, true, false) > 0.2) {
            // The module's rows are a plain O(cells) loop except for equal
            // sizes (a reflection sum).
            if (m != n) check_seconds(smirnov_seconds(k, m, n, ALT_TWO, true), "the exact two-sample distribution",
                                      SMIRNOV_INSTEAD);
            const double v = module_smirnov((K + 0.5) / mn, m, n);
            if (v >= 0.5) return v > 1.0 ? 1.0 : v;
        }
    }
    return xp_value(smirnov_tail(k, m, n, alt, t.b, t.nb, !lower));
}

// The law as the quantile search sees it: on the grid of the multiples of
// unit = gcd(m, n).  Every value S takes, i n - j m at a checkpoint, is such
// a multiple, so the smallest whole K at which a tail reaches p is one too,
// and the search runs over far fewer points (a factor of 10^5 for sizes
// 300000 and 200000): fewer exact evaluations.
struct Law {
    int m, n, alt;
    Ties t;
    double unit;
};

double law_p(double k, const void *law, bool lower, bool logp) {
    const Law *l = static_cast<const Law *>(law);
    return smirnov_p(k * l->unit, l->m, l->n, l->alt, l->t, lower, logp);
}

// The lower end of the support: the test "P(S <= K) > 0".
void positive_eval(double k, void *ctx, bool *ok, double *steer) {
    const Law *l = static_cast<const Law *>(ctx);
    const xp v = smirnov_tail(static_cast<int64_t>(k * l->unit), l->m, l->n, l->alt, l->t.b, l->t.nb, false);
    *ok = v.m > 0.0;
    *steer = NAN;
}

// The largest value S takes: the path that runs along the edge where the
// difference is largest, checked at block ends only when there are ties.
double smirnov_top(int m, int n, int alt, Ties t) {
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

double smirnov_q(double p, int m, int n, int alt, Ties t, bool lower, bool logp) {
    const double zero = logp ? -INFINITY : 0.0, one = logp ? 0.0 : 1.0;
    const double mn = static_cast<double>(m) * n;
    const double top = smirnov_top(m, n, alt, t);
    const double unit = static_cast<double>(std::gcd(m, n));
    Law law = {m, n, alt, t, unit};
    const int64_t last = static_cast<int64_t>(top / unit);
    if (p == (lower ? one : zero)) return top / mn;
    if (p == (lower ? zero : one)) {
        // The smallest attained value of positive probability.
        return static_cast<double>(solve_int(positive_eval, &law, -1, last, NAN, nullptr)) * unit / mn;
    }
    Target g = {law_p, &law, lower, logp, p, true, true};
    const double x = limit_guess(p, alt, lower, logp) / std::sqrt(mn / (static_cast<double>(m) + n));
    const int64_t k = solve_int(target_eval, &g, -1, last, x * mn / unit, nullptr);
    return static_cast<double>(k) * unit / mn;
}

// P(S = K), from the tail where it is the smaller part.
double smirnov_d(double K, int m, int n, int alt, Ties t, bool logp) {
    const double mn = static_cast<double>(m) * n;
    if (K < 0.0 || K > mn) return logp ? -INFINITY : 0.0;
    const xp lo = smirnov_tail(static_cast<int64_t>(K), m, n, alt, t.b, t.nb, false);
    xp a, b;
    if (xp_value(lo) <= 0.5) {
        a = lo;
        b = smirnov_tail(static_cast<int64_t>(K) - 1, m, n, alt, t.b, t.nb, false);
    } else {
        a = smirnov_tail(static_cast<int64_t>(K) - 1, m, n, alt, t.b, t.nb, true);
        b = smirnov_tail(static_cast<int64_t>(K), m, n, alt, t.b, t.nb, true);
    }
    // a - b >= 0, both as xp with a >= b.
    if (b.m == 0.0) return finish(a, logp);
    const double r = xp_value(xp_div(b, a)); // in [0, 1]
    const xp d = xp_make(a.m * (1.0 - r), a.e);
    return finish(d.m > 0.0 ? d : xp_zero(), logp);
}

// One draw of S: a uniformly random split of the pooled positions (partial
// Fisher-Yates), scanned in order, compared at block ends.
double smirnov_draw(int m, int n, int alt, Ties t, int *pos, char *isx) {
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

} // namespace

// ---------------------------------------------------------------------------
// .Call routines.
// ---------------------------------------------------------------------------

const char *const size_names[2] = {"m", "n"};

SEXP ksx_p_smirnov2(SEXP q, SEXP m, SEXP n, SEXP lower, SEXP logp, SEXP alt, SEXP blocks) {
    const SEXP sizes[2] = {m, n};
    const Ties t = ties_arg(blocks);
    return pq_routine(q, 2, sizes, size_names, lower, logp, alt, false,
                      [&](double x, const int *s, int al, bool lo, bool lg) {
        if (x < 0.0) return finish(lo ? 0.0 : 1.0, lg);
        if (x >= 1.0) return finish(lo ? 1.0 : 0.0, lg);
        smirnov_check_size(s[0], s[1]);
        return smirnov_p(attained(x, static_cast<double>(s[0]) * s[1]), s[0], s[1], al, t, lo, lg);
    });
}

SEXP ksx_q_smirnov2(SEXP p, SEXP m, SEXP n, SEXP lower, SEXP logp, SEXP alt, SEXP blocks) {
    const SEXP sizes[2] = {m, n};
    const Ties t = ties_arg(blocks);
    return pq_routine(p, 2, sizes, size_names, lower, logp, alt, true,
                      [&](double v, const int *s, int al, bool lo, bool lg) {
        smirnov_check_size(s[0], s[1]);
        return smirnov_q(v, s[0], s[1], al, t, lo, lg);
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
        smirnov_check_size(mi, ni);
        // Only attained values k/(m n) carry probability.
        const double K = attained(v, mn);
        const bool on = std::fabs(v * mn - K) <= (64 * DBL_EPSILON * std::fabs(v * mn) + 1e-7);
        return on ? smirnov_d(K, mi, ni, al, t, lg) : (lg ? -INFINITY : 0.0);
    });
}

SEXP ksx_r_smirnov2(SEXP snn, SEXP m, SEXP n, SEXP alt, SEXP blocks) {
    Num a[2] = {size_arg(m, "m"), size_arg(n, "n")};
    const int al = alt_arg(alt);
    const Ties t = ties_arg(blocks);
    const R_xlen_t len = draws_arg(snn);
    SEXP ans = PROTECT(Rf_allocVector(REALSXP, len));
    double *r = REAL(ans);
    if (len > 0 && (a[0].len == 0 || a[1].len == 0)) Rf_error("invalid arguments");
    double maxN = 0.0;
    for (R_xlen_t i = 0; i < (len < 1 ? 0 : (a[0].len > a[1].len ? a[0].len : a[1].len)); i++) {
        const double N = a[0].at(i) + a[1].at(i);
        if (valid_size(a[0].at(i)) && valid_size(a[1].at(i)) && N <= 2147483647.0 && N > maxN) maxN = N;
    }
    check_bytes(maxN * (sizeof(int) + 1), "drawing the two-sample statistic", "use smaller samples");
    int *pos = reinterpret_cast<int *>(R_alloc(static_cast<size_t>(maxN) + 1, sizeof(int)));
    char *isx = R_alloc(static_cast<size_t>(maxN) + 1, 1);
    bool na = false;
    GetRNGstate();
    PollClock work;
    for (R_xlen_t i = 0; i < len; i++) {
        const double mm = a[0].at(i), nv = a[1].at(i);
        if (!valid_size(mm) || !valid_size(nv) || mm + nv > 2147483647.0) { // as R's r-functions
            r[i] = NA_REAL;
            na = true;
            continue;
        }
        r[i] = smirnov_draw(static_cast<int>(mm), static_cast<int>(nv), al, t, pos, isx) / (mm * nv);
        poll(&work, 4.0 * (mm + nv));
    }
    PutRNGstate();
    if (na) Rf_warning("NAs produced");
    UNPROTECT(1);
    return ans;
}

// ks_test's p-value, P(S >= K), and its logarithm, with ties given as block
// sizes or NULL.
SEXP ksx_smirnov_pvalue(SEXP K, SEXP m, SEXP n, SEXP alt, SEXP blocks) {
    const Ties t = ties_arg(blocks);
    const int64_t k = static_cast<int64_t>(Rf_asReal(K)) - 1;
    const int mi = Rf_asInteger(m), ni = Rf_asInteger(n), al = alt_arg(alt);
    const xp p = smirnov_tail(k, mi, ni, al, t.b, t.nb, true);
    return p_and_log(p, xp_value(p) > 0.5 ? smirnov_tail(k, mi, ni, al, t.b, t.nb, false) : xp_nan());
}

// The expected time of ks_test's exact p-value P(S >= K), in seconds: 0
// for equal sizes without ties (a reflection sum), else the sweep's.
SEXP ksx_smirnov_seconds(SEXP K, SEXP m, SEXP n, SEXP alt, SEXP blocks) {
    const double k = Rf_asReal(K) - 1.0, md = Rf_asReal(m), nd = Rf_asReal(n);
    if (!(k >= 0.0) || !(md >= 1.0) || !(nd >= 1.0) || !(k < md * nd) || md > 2147483647.0 || nd > 2147483647.0)
        return Rf_ScalarReal(0.0);
    if (Rf_isNull(blocks) && md == nd) return Rf_ScalarReal(0.0);
    return Rf_ScalarReal(smirnov_seconds(static_cast<int64_t>(k), static_cast<int>(md), static_cast<int>(nd),
                                         alt_arg(alt), false));
}

// Whether ks_test can ask for the exact law of samples of these sizes.
SEXP ksx_smirnov_exact_size(SEXP m, SEXP n) {
    return Rf_ScalarLogical(smirnov_exact_size(Rf_asReal(m), Rf_asReal(n)));
}

} // namespace ksx
