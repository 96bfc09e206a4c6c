// kolmogorov: the exact law of the one-sample statistics for a continuous
// null, D_n = sup |F_n - F| (ALT_TWO), D_n^+ = sup (F_n - F) (ALT_GREATER)
// and D_n^- = sup (F - F_n) (ALT_LESS, which has the law of D_n^+), each
// tail computed directly.  R: d/p/q/rkolmogorov.
#ifndef KSDIST_KOLMOGOROV_H
#define KSDIST_KOLMOGOROV_H

#include "crossing.h"

namespace ksx {

// Both tails at once, each computed directly: *lower = P(D < d) (equal to
// P(D <= d), the law being continuous), *upper = P(D >= d).  NaN d, n < 1
// or another alt give NaN in both and false.
bool kolmogorov_tails(double d, int n, int alt, xp *lower, xp *upper);
xp kolmogorov_tail(double d, int n, int alt, bool upper);

// Density at d: the right derivative in d of P(D < d).  0 for d < 1/(2n)
// (two-sided) or d < 0 (one-sided), and for d >= 1; at the left end of the
// support, as at d = 1/n where the slope jumps, the limit from the right (1
// at d = 0 one-sided; at d = 1/(2n) two-sided 0, or 2 for n = 1).  NaN for
// NaN d, n < 1 or another alt.  Keeps its relative accuracy in both tails,
// below the double range too (kolmogorov_density.cpp).
xp kolmogorov_density(double d, int n, int alt);

// As R's p-, q- and r-functions return them: P(D <= d) (lower) or P(D > d),
// logged when logp; the smallest double d with P(D <= d) >= p (or P(D > d)
// <= p); one draw of D, with e room for n doubles.
double kolmogorov_p(double d, int n, int alt, bool lower, bool logp);
// *evals (if given) gets the number of exact evaluations the quantile took.
double kolmogorov_q(double p, int n, int alt, bool lower, bool logp, int *evals);
double kolmogorov_draw(int n, int alt, double *e);

// The two-sided law's exact engine for 1 < s = n d < n
// (kolmogorov_spectral.cpp): both tails, each to about an ulp, by the
// cheapest exact method (method-and-accuracy notes at the top of that
// file).  force picks a method for the tests: METHOD_AUTO chooses and falls
// back from a failed check to another method; the others use that method
// only (METHOD_SPECTRAL reports a failed check by returning false).  False
// when no method here applies: the caller then runs the crossing
// recursion.  out->method says which method answered.
enum {
    METHOD_NONE = -1,
    METHOD_AUTO = 0,
    METHOD_SPECTRAL = 1,
    METHOD_DIRECT = 2,
    METHOD_BAND = 3,
    METHOD_SQUARING = 4,
    METHOD_CROSSING = 5
};
struct SpectralTails {
    xp lower, upper;
    int method, modes;
};
bool kolmogorov_exact_tails(int n, dd s, int force, SpectralTails *out);
// The two-sided density n dP(D_n < d)/ds at d = s/n from the spectral sum
// (kolmogorov_spectral.cpp); false where it does not apply or a check
// fails.  *kappa: the sum of the absolute values of its terms over the
// result (each term is good to about 1e-14 relative).
bool kolmogorov_spectral_density(int n, dd s, xp *f, double *kappa);
// P(D_n^+ >= s/n) and 1 minus it, 0 < s < n, each to about an ulp, by the
// SBT sum in double-double with a proven early stop (kolmogorov_spectral.cpp).
void kolmogorov_one_sided_upper(int n, dd s, xp *p1, xp *comp);

// Pieces shared with kolmogorov_density.cpp and discrete.cpp.
//
// The terms of the Smirnov-Birnbaum-Tingey sum for 0 < s < n (s = n d):
// N = n, sv = s rounded, top = n - s, logN = log n, stN = stirlerr(n).
struct SbtTerms {
    double N, sv, logN, stN;
    dd s, top;
    double jmax; // terms with n - j - s <= 0 vanish: j runs to ceil(n - s) - 1
};
SbtTerms sbt_terms(int n, dd s);
// log of (s / (s + j)) P(Binomial(n, (s + j)/n) = j).
inline double sbt_log_term(const SbtTerms *t, double j) {
    const double N = t->N;
    if (j == 0.0) return -(bd0(N, t->top) + t->sv);
    const dd M1 = dd_add_d(t->s, j);
    const dd M2 = dd_add_d(t->top, -j);
    return std::log(t->sv / dd_val(M1)) + (t->stN - stirlerr(j) - stirlerr(N - j)) - bd0(j, M1) -
           bd0(N - j, M2) + 0.5 * (t->logN - LN_2PI - std::log(j) - std::log(N - j));
}
// P(D_n^+ >= s / n), 0 < s < n.
xp sbt_upper(int n, dd s);
// The log of a bound on the sum of the SBT terms after term j, in the
// direction e = +-1, for terms j' <= jmax: -Inf when there are none, +Inf
// when no bound is had yet (the proof is in kolmogorov_spectral.cpp).
double sbt_log_rest(double N, dd s, double jmax, double j, double e);

// The checkpoints of a continuous null: a_i = i/n - d (count at most i - 1)
// and b_j = (j-1)/n + d (count at least j), merged.
struct ContChecks {
    int n;
    dd s;
    bool up, low;
    double ia, ib, passed_b; // next a index, next b index, b's passed
};
ContChecks cont_checks(int n, dd s, int alt);
// The boundary-crossing recursion for a continuous null (P(D_n < s/n)
// and its complement).
Crossing cont_crossing(int n, dd s, int alt);
bool cont_next(void *self, Check *c);
// Takes the next of the checkpoints a_ia and b_ib (see kolmogorov.cpp).
bool ab_next(dd s, double *ia, double *ib, double *passed_b, bool has_a, bool has_b, Check *c);

// Rounding can carry a probability a few units past 1.
inline xp at_most_one(xp a) { return xp_value(a) > 1.0 ? xp_make(1.0) : a; }

// The density at d = s / n by one route, for the tests (hooks.cpp): 1 the
// checkpoint recursion, 2 the differentiated SBT sum and 3 the
// differentiated Abel sum (one-sided), 4 the two-sided bound form
// (d < 1/2).  *aux gets kappa for 2
// and 3, the relative half-width for 4.
xp kolmogorov_density_route(int n, dd s, int alt, int route, double *aux);

// .Call routines.
SEXP ksx_p_kolmogorov(SEXP q, SEXP n, SEXP lower, SEXP logp, SEXP alt);
SEXP ksx_d_kolmogorov(SEXP x, SEXP n, SEXP logp, SEXP alt);
SEXP ksx_q_kolmogorov(SEXP p, SEXP n, SEXP lower, SEXP logp, SEXP alt);
SEXP ksx_r_kolmogorov(SEXP nn, SEXP n, SEXP alt);

// Sums of positive terms given by their logarithms, kept as double-doubles
// times e^ref: one sum, or the positive and the negative parts of a sum with
// both signs, on a common reference so that the rounding of a rescaling
// factor scales both alike and cannot be amplified by their cancellation.
// The reference moves only when a term exceeds it by e^move: 0 keeps it
// at the largest term so far; 40 keeps the roundings of a long increasing
// run of terms from piling up.
struct LogAcc {
    double ref;
    dd pos, neg;
    double move;
};

inline void logacc_add(LogAcc *a, double l, bool negative = false) {
    if (l == -INFINITY) return;
    if (a->ref == -INFINITY) {
        a->ref = l;
    } else if (l > a->ref + a->move) {
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
inline xp logacc_value(const LogAcc *a, double *kappa) {
    *kappa = INFINITY;
    if (a->ref == -INFINITY) return xp_zero();
    const double v = dd_val(dd_sub(a->pos, a->neg));
    if (!(v > 0.0)) return xp_zero();
    *kappa = (dd_val(a->pos) + dd_val(a->neg)) / v;
    return xp_mul(xp_exp(a->ref), xp_make(v));
}

} // namespace ksx

#endif
