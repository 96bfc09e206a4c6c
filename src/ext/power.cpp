// power: order statistics of uniforms within bounds (see power.h), as a
// checkpoint source for the boundary-crossing recursion, and the .Call
// routines of power_ks_test.
//
// With N(u) the number of the n uniforms in [0, u], V_(i) > l_i holds
// exactly when N(l_i) <= i - 1, and V_(i) < r_i (almost surely) exactly
// when N(r_i) >= i.  So the event is a family of checks on the counts at
// the 2n positions l_i and r_i, merged in increasing order.  N is
// nondecreasing, so a check at a position u also carries what later checks
// imply there: N(u) <= i - 1 for the first l_i at or after u, and N(u) >= j
// for the last r_j at or before u.  Equal positions (many, where the truth
// or the null has atoms) become one check.  Positions are n l_i and n r_i
// as exact double-doubles, so the gaps between close bounds keep their
// relative accuracy; unlike the continuous law, whose gaps alternate
// between two values, every gap is new here, and its Poisson weights are
// computed afresh (crossing.cpp keeps the last four).
//
// Accuracy: both tails to about 1e-12 relative, against Steck's
// determinant in rational arithmetic on the same bounds
// (tests/testthat/ref-power-steck.csv, tools/make-power-references.R).
#include "power.h"

#include "args.h"
#include "kolmogorov.h"

#include <cstring>

namespace ksx {
namespace {

struct OrderBounds {
    int n;
    double N;
    const double *l, *r; // either may be null
    int il, ir;          // the next l and r, 0-based
};

bool order_bounds_next(void *self, Check *c) {
    OrderBounds *g = static_cast<OrderBounds *>(self);
    const bool has_l = g->l && g->il < g->n;
    // r_j >= 1 asks N(1) = n >= j: always true.
    const bool has_r = g->r && g->ir < g->n && g->r[g->ir] < 1.0;
    if (!has_l && !has_r) return false;
    double p;
    if (has_l && has_r) p = g->l[g->il] < g->r[g->ir] ? g->l[g->il] : g->r[g->ir];
    else p = has_l ? g->l[g->il] : g->r[g->ir];
    // The first l still to come lies at or after p: N(p) <= its index.
    c->hi = has_l ? g->il : g->n;
    if (g->l)
        while (g->il < g->n && g->l[g->il] == p) g->il++;
    if (g->r)
        while (g->ir < g->n && g->r[g->ir] == p) g->ir++;
    // Every r passed, this one included: N(p) >= the last one's index.
    c->lo = g->r ? g->ir : 0;
    c->pos = two_prod(g->N, p);
    c->trim_lo = g->r == nullptr;
    c->trim_hi = g->l == nullptr;
    c->from_hi = c->from_lo = -1;
    return true;
}

} // namespace

bool order_bounds_valid(int n, const double *b) {
    if (n < 1) return false;
    if (!b) return true;
    double prev = 0.0;
    for (int i = 0; i < n; i++) {
        // Written so that NaN fails.
        if (!(b[i] >= prev && b[i] <= 1.0)) return false;
        prev = b[i];
    }
    return true;
}

bool order_bounds_tails(int n, const double *l, const double *r, xp *stay, xp *leave, double *lost) {
    if (!order_bounds_valid(n, l) || !order_bounds_valid(n, r)) {
        *stay = *leave = xp{R_NaN, 0};
        *lost = R_NaN;
        return false;
    }
    OrderBounds g;
    g.n = n;
    g.N = static_cast<double>(n);
    g.l = l;
    g.r = r;
    g.il = 0;
    g.ir = 0;
    // V_(i) > 0 always: bounds at 0 ask nothing.
    if (l)
        while (g.il < n && l[g.il] == 0.0) g.il++;
    const Crossing cr = crossing(n, order_bounds_next, &g, "the power of the one-sample test");
    *stay = at_most_one(cr.stay);
    *leave = at_most_one(cr.leave);
    *lost = cr.lost;
    return true;
}

namespace {

// A vector of bounds from R: NULL (none), or n doubles.
const double *bounds_arg(SEXP b, int n, const char *name) {
    if (Rf_isNull(b)) return nullptr;
    if (TYPEOF(b) != REALSXP || XLENGTH(b) != n)
        Rf_error("'%s' must be NULL or a double vector of length n", name);
    return REAL(b);
}

// The order of doubles as unsigned integers: -Inf < ... < -0 = +0 < ... <
// +Inf map to increasing numbers, so that the doubles between two are
// counted by a subtraction.
inline uint64_t ordinal(double x) {
    uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    const uint64_t sign = uint64_t(1) << 63;
    return (b & sign) ? sign - (b & ~sign) : sign + b;
}

inline double from_ordinal(uint64_t o) {
    const uint64_t sign = uint64_t(1) << 63;
    const uint64_t b = o >= sign ? o - sign : ((sign - o) | sign);
    double x;
    std::memcpy(&x, &b, sizeof x);
    return x;
}

} // namespace

// .Call(ksx_order_bounds, n, l, r): c(P(stay), P(leave), log P(stay),
// log P(leave), lost) for the order statistics of n uniforms and the
// bounds l (lower, or NULL) and r (upper, or NULL).
SEXP ksx_order_bounds(SEXP sn, SEXP sl, SEXP sr) {
    if (XLENGTH(sn) != 1 || (!Rf_isInteger(sn) && !Rf_isReal(sn)))
        Rf_error("'n' must be a single whole number");
    const double nv = Rf_asReal(sn);
    if (!valid_size(nv)) Rf_error("'n' must be a whole number from 1 to %d", INT_MAX);
    const int n = static_cast<int>(nv);
    const double *l = bounds_arg(sl, n, "l"), *r = bounds_arg(sr, n, "r");
    if (!order_bounds_valid(n, l) || !order_bounds_valid(n, r))
        Rf_error("the bounds must be nondecreasing numbers in [0, 1]");
    xp stay, leave;
    double lost;
    order_bounds_tails(n, l, r, &stay, &leave, &lost);
    SEXP out = PROTECT(Rf_allocVector(REALSXP, 5));
    double *o = REAL(out);
    o[0] = xp_value(stay);
    o[1] = xp_value(leave);
    o[2] = finish(stay, leave, true);
    o[3] = finish(leave, stay, true);
    o[4] = lost;
    UNPROTECT(1);
    return out;
}

// .Call(ksx_between_double, lo, hi): for each pair lo < hi (infinite
// allowed), the double halfway between them in the order of the doubles
// (rounded down): lo itself when hi is the next double after lo.  A
// bisection on these midpoints ends in at most 64 steps on the two
// adjacent doubles where a monotone condition changes, whatever the scale.
SEXP ksx_between_double(SEXP slo, SEXP shi) {
    if (TYPEOF(slo) != REALSXP || TYPEOF(shi) != REALSXP || XLENGTH(slo) != XLENGTH(shi))
        Rf_error("'lo' and 'hi' must be double vectors of the same length");
    const R_xlen_t len = XLENGTH(slo);
    const double *lo = REAL(slo), *hi = REAL(shi);
    SEXP out = PROTECT(Rf_allocVector(REALSXP, len));
    double *o = REAL(out);
    PollClock work;
    for (R_xlen_t i = 0; i < len; i++) {
        if (!(lo[i] <= hi[i])) Rf_error("internal: 'lo' must not exceed 'hi' (and neither be NaN)");
        const uint64_t a = ordinal(lo[i]), b = ordinal(hi[i]);
        o[i] = from_ordinal(a + (b - a) / 2);
        if ((i & 0xffff) == 0xffff) poll(&work, 0x1p16);
    }
    UNPROTECT(1);
    return out;
}

} // namespace ksx
