// discrete: the exact law of the one-sample statistics for a null whose
// distribution function has jumps (discrete, mixed, step functions), each
// tail computed directly.  R: p/qkolmogorov_discrete, and ks_test's p-value
// for such a null.
//
// Under the null, X = F^-1(U) with U uniform, so F_n(t) = U_n(F(t)), and the
// statistic compared on both sides of every jump is sup |U_n(u) - u| over
// the closure of the range of F: a union of closed intervals of [0, 1] (a
// single point for each flat stretch between two jumps).  The law depends
// on F only through that set.
#ifndef KSDIST_DISCRETE_H
#define KSDIST_DISCRETE_H

#include "crossing.h"

namespace ksx {

// D for a null whose range has the closure [lo[0], hi[0]] u ... u
// [lo[k-1], hi[k-1]], disjoint closed intervals of [0, 1], sorted (an atom
// u is [u, u], a continuous null is [0, 1]): with U_n the empirical
// distribution function of n uniforms, D = sup over u in that set of
// |U_n(u) - u| (ALT_TWO), of U_n(u) - u (ALT_GREATER) or of u - U_n(u)
// (ALT_LESS).  rel: 0 -> P(D < d), 1 -> P(D <= d), 2 -> P(D > d),
// 3 -> P(D >= d).  D has atoms; a value of D within DISCRETE_TOL of d counts
// as equal to d, so that a statistic computed in floating point finds its
// own atom.  Invalid arguments give NaN.
constexpr double DISCRETE_TOL = 1e-11;
xp discrete_tail(int n, double d, const double *lo, const double *hi, int k, int alt, int rel);

// Both members of the pair (P(D < d), P(D >= d)) when strict, or (P(D <= d),
// P(D > d)) otherwise; false (and NaN) for invalid arguments.
bool discrete_tails(int n, double d, const double *lo, const double *hi, int k, int alt, bool strict,
                    xp *stay, xp *leave);

// Whether lo, hi describe such a set and the other arguments are valid.
bool discrete_valid(int n, const double *lo, const double *hi, int k, int alt);

// .Call routines.
SEXP ksx_p_discrete(SEXP q, SEXP n, SEXP lo, SEXP hi, SEXP lower, SEXP logp, SEXP alt);
SEXP ksx_q_discrete(SEXP p, SEXP n, SEXP lo, SEXP hi, SEXP lower, SEXP logp, SEXP alt);
SEXP ksx_discrete_pvalue(SEXP d, SEXP n, SEXP lo, SEXP hi, SEXP alt);
SEXP ksx_prev_double(SEXP x);

} // namespace ksx

#endif
