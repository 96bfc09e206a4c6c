// Test hooks: the engines of each law reached directly, one value at a
// time, both tails with their logarithms, so that the tests can hold them
// against exact references.  Not used by the R functions.  Every argument
// goes through the one checker below.
#include "args.h"
#include "discrete.h"
#include "kolmogorov.h"
#include "smirnov.h"

#include <cmath>

namespace ksx {
namespace {

// A single number (integer, double or logical; NA allowed), or an error
// naming the argument.
double single(SEXP x, const char *name) {
    if (XLENGTH(x) != 1 || (!Rf_isInteger(x) && !Rf_isReal(x) && !Rf_isLogical(x)))
        Rf_error("'%s' must be a single number", name);
    return Rf_asReal(x);
}

// A single whole number from lo to hi.
int whole(SEXP x, const char *name, double lo, double hi) {
    const double v = single(x, name);
    if (!(v >= lo && v <= hi && v == std::floor(v)))
        Rf_error("'%s' must be a whole number from %.0f to %.0f", name, lo, hi);
    return static_cast<int>(v);
}

int alternative(SEXP x) { return whole(x, "alt", 0, 2); }

} // namespace

// .Call(ksx_hook_kolmogorov, d, n, alt, upper): the lower tail P(D < d) or
// the upper tail P(D >= d) of the one-sample law; alt 0 two-sided, 1
// greater, 2 less.  Returns c(value, log).
SEXP ksx_hook_kolmogorov(SEXP sd, SEXP sn, SEXP salt, SEXP supper) {
    const double d = single(sd, "d");
    const int n = whole(sn, "n", 1, INT_MAX);
    const int alt = alternative(salt);
    const bool upper = whole(supper, "upper", 0, 1);
    xp lo, up;
    kolmogorov_tails(d, n, alt, &lo, &up);
    return upper ? p_and_log(up, lo) : p_and_log(lo, up);
}

// .Call(ksx_hook_kolmogorov_method, d, n, method): both tails of the
// two-sided law for 1 < n d < n by one method of the exact engine: 0 as
// chosen (with its fallbacks), 1 the spectral sum (no fallback), 2 the
// direct power, 3 the SBT band, 4 repeated squaring, 5 the crossing
// recursion.  Returns c(lower, upper, log lower, log upper, method, modes);
// all NA (method -1) where the method declined (a failed check).
SEXP ksx_hook_kolmogorov_method(SEXP sd, SEXP sn, SEXP smethod) {
    const double d = single(sd, "d");
    const int n = whole(sn, "n", 1, INT_MAX);
    const int method = whole(smethod, "method", 0, 5);
    const dd s = two_prod(static_cast<double>(n), d);
    if (!(d < 1.0) || dd_cmp(s, dd_of(1.0)) <= 0) Rf_error("'d' must have 1 < n d < n");
    if (method == METHOD_SQUARING && s.hi > 31.5) Rf_error("repeated squaring takes n d < 32");
    if (method == METHOD_DIRECT && static_cast<double>(n) * s.hi > 2.5e7) Rf_error("the direct power takes n^2 d <= 2.5e7");
    SpectralTails st;
    bool ok;
    if (method == METHOD_CROSSING) {
        const Crossing cr = cont_crossing(n, s, ALT_TWO);
        st.lower = at_most_one(cr.stay);
        st.upper = at_most_one(cr.leave);
        st.method = METHOD_CROSSING;
        st.modes = 0;
        ok = true;
    } else {
        ok = kolmogorov_exact_tails(n, s, method, &st);
    }
    SEXP out = PROTECT(Rf_allocVector(REALSXP, 6));
    double *o = REAL(out);
    for (int i = 0; i < 6; i++) o[i] = NA_REAL;
    o[4] = -1.0;
    if (ok) {
        o[0] = xp_value(st.lower);
        o[1] = xp_value(st.upper);
        o[2] = finish(st.lower, st.upper, true);
        o[3] = finish(st.upper, st.lower, true);
        o[4] = st.method;
        o[5] = st.modes;
    }
    UNPROTECT(1);
    return out;
}

// .Call(ksx_hook_kolmogorov_q, p, n, lower, logp, alt): qkolmogorov's
// answer and the number of exact evaluations it took, c(q, evals).
SEXP ksx_hook_kolmogorov_q(SEXP sp, SEXP sn, SEXP slower, SEXP slogp, SEXP salt) {
    const double p = single(sp, "p");
    const int n = whole(sn, "n", 1, INT_MAX);
    const bool lower = whole(slower, "lower", 0, 1), logp = whole(slogp, "logp", 0, 1);
    const int alt = alternative(salt);
    if (std::isnan(p) || bad_prob(p, logp)) Rf_error("'p' must be a probability");
    int evals = 0;
    const double q = kolmogorov_q(p, n, alt, lower, logp, &evals);
    SEXP out = PROTECT(Rf_allocVector(REALSXP, 2));
    REAL(out)[0] = q;
    REAL(out)[1] = evals;
    UNPROTECT(1);
    return out;
}

// .Call(ksx_hook_kolmogorov_density, d, n, alt, route): the density by one
// route (0 as dkolmogorov, 1 the checkpoint recursion, 2 the differentiated
// SBT sum and 3 the differentiated Abel sum (one-sided), 4 the two-sided
// bound form (d < 1/2), 5 the differentiated spectral sum (two-sided; NA
// where it does not apply); routes 1 to 5 need d inside the support).
// Returns c(value, log, aux): aux is kappa for routes 2, 3 and 5, the
// relative half-width for route 4, NA otherwise.
SEXP ksx_hook_kolmogorov_density(SEXP sd, SEXP sn, SEXP salt, SEXP sroute) {
    const double d = single(sd, "d");
    const int n = whole(sn, "n", 1, INT_MAX);
    const int alt = alternative(salt);
    const int route = whole(sroute, "route", 0, 5);
    double aux = NA_REAL;
    xp v;
    if (route == 0) {
        v = kolmogorov_density(d, n, alt);
    } else {
        const dd s = two_prod(static_cast<double>(n), d);
        if (!(d > 0.0 && d < 1.0) || (alt == ALT_TWO && dd_cmp(s, dd_of(0.5)) < 0))
            Rf_error("'d' must lie inside the support");
        if ((route == 2 || route == 3) && alt == ALT_TWO) Rf_error("routes 2 and 3 are one-sided");
        if (route == 4 && !(alt == ALT_TWO && d < 0.5)) Rf_error("route 4 is two-sided, d < 1/2");
        if (route == 5 && alt != ALT_TWO) Rf_error("route 5 is two-sided");
        if (route == 5) {
            if (!kolmogorov_spectral_density(n, s, &v, &aux)) v = xp{NA_REAL, 0};
        } else {
            v = kolmogorov_density_route(n, s, alt, route, &aux);
        }
    }
    SEXP out = PROTECT(Rf_allocVector(REALSXP, 3));
    REAL(out)[0] = xp_value(v);
    REAL(out)[1] = xp_log(v);
    REAL(out)[2] = aux;
    if (std::isnan(v.m)) REAL(out)[0] = REAL(out)[1] = R_IsNA(v.m) ? NA_REAL : R_NaN;
    UNPROTECT(1);
    return out;
}

// .Call(ksx_hook_discrete, n, d, lo, hi, alt, rel): the law for a null
// with jumps, whose range has the closure [lo[0], hi[0]] u ... (sorted
// disjoint intervals in [0, 1]); rel 0: P(D < d), 1: P(D <= d), 2:
// P(D > d), 3: P(D >= d).  Returns c(value, log).
SEXP ksx_hook_discrete(SEXP sn, SEXP sd, SEXP slo, SEXP shi, SEXP salt, SEXP srel) {
    const int n = whole(sn, "n", 1, INT_MAX);
    const double d = single(sd, "d");
    const int alt = alternative(salt);
    const int rel = whole(srel, "rel", 0, 3);
    if (!Rf_isReal(slo) || !Rf_isReal(shi) || XLENGTH(slo) != XLENGTH(shi) || XLENGTH(slo) < 1 ||
        XLENGTH(slo) > INT_MAX)
        Rf_error("'lo' and 'hi' must be double vectors of the same positive length");
    const int k = static_cast<int>(XLENGTH(slo));
    if (!discrete_valid(n, REAL(slo), REAL(shi), k, alt))
        Rf_error("the intervals must lie in [0, 1], have lo <= hi, and be sorted and disjoint");
    xp stay, leave;
    discrete_tails(n, d, REAL(slo), REAL(shi), k, alt, rel == 0 || rel == 3, &stay, &leave);
    return rel <= 1 ? p_and_log(stay, leave) : p_and_log(leave, stay);
}

// .Call(ksx_hook_smirnov, K, m, n, alt, blocks, upper): P(S <= K) or
// P(S > K) of the two-sample statistic in units of 1/(m n), without ties
// (blocks NULL) or given the sizes of the blocks of ties of the pooled
// sample.  A missing K or size gives NA (NaN for a NaN K).  Returns
// c(value, log).
SEXP ksx_hook_smirnov(SEXP sK, SEXP sm, SEXP sn, SEXP salt, SEXP sblocks, SEXP supper) {
    const double k = single(sK, "K");
    const double md = single(sm, "m");
    const double nd = single(sn, "n");
    const int alt = alternative(salt);
    const bool upper = whole(supper, "upper", 0, 1);
    const double sizes[2] = {md, nd};
    for (double v : sizes)
        if (!std::isnan(v) && !(v >= 0.0 && v <= INT_MAX && v == std::floor(v)))
            Rf_error("'m' and 'n' must be whole numbers from 0 to %d", INT_MAX);
    const int *blocks = nullptr;
    int nb = 0;
    if (!Rf_isNull(sblocks)) {
        if (!Rf_isInteger(sblocks) || XLENGTH(sblocks) > INT_MAX)
            Rf_error("'blocks' must be NULL or an integer vector");
        blocks = INTEGER(sblocks);
        nb = static_cast<int>(XLENGTH(sblocks));
    }
    SEXP out = PROTECT(Rf_allocVector(REALSXP, 2));
    double *o = REAL(out);
    if (std::isnan(k) || std::isnan(md) || std::isnan(nd)) {
        o[0] = o[1] = (std::isnan(k) && !R_IsNA(k)) ? R_NaN : NA_REAL;
        UNPROTECT(1);
        return out;
    }
    if (k != std::floor(k)) Rf_error("'K' must be a whole number");
    // Beyond m n < 2^62 every K gives the same answer.
    const int64_t K = k >= 0x1p62 ? (int64_t(1) << 62) : (k < 0.0 ? -1 : static_cast<int64_t>(k));
    const int m = static_cast<int>(md), n = static_cast<int>(nd);
    if (blocks) {
        int64_t sum = 0;
        for (int b = 0; b < nb; b++) {
            if (blocks[b] == NA_INTEGER || blocks[b] < 1) Rf_error("'blocks' must hold positive sizes");
            sum += blocks[b];
        }
        if (sum != static_cast<int64_t>(m) + n) Rf_error("'blocks' must sum to m + n");
    }
    const xp p = smirnov_tail(K, m, n, alt, blocks, nb, upper);
    o[0] = xp_value(p);
    // In the normal range the double holds the probability exactly, and its
    // logarithm is the most accurate one (log 1 = 0 exactly).
    o[1] = o[0] >= 0x1p-1022 ? std::log(o[0]) : xp_log(p);
    UNPROTECT(1);
    return out;
}

// pow(x, y) elementwise, as the C library computes it: the tests' R
// versions of the exact module use it to get the module's very doubles
// (R's own x^y goes through long double on x86-64 and may round otherwise).
SEXP ksx_hook_pow(SEXP x, SEXP y) {
    if (TYPEOF(x) != REALSXP || TYPEOF(y) != REALSXP) Rf_error("'x' and 'y' must be doubles");
    const R_xlen_t nx = XLENGTH(x), ny = XLENGTH(y), n = nx > ny ? nx : ny;
    SEXP r = PROTECT(Rf_allocVector(REALSXP, nx == 0 || ny == 0 ? 0 : n));
    for (R_xlen_t i = 0; i < XLENGTH(r); i++) REAL(r)[i] = std::pow(REAL(x)[i % nx], REAL(y)[i % ny]);
    UNPROTECT(1);
    return r;
}

} // namespace ksx
