// power: the probability that the order statistics of n uniforms stay
// within given bounds, and that they do not, each computed directly; the
// engine behind power_ks_test (the exact power of the one-sample test) and
// its .Call routines.
//
// Under a true distribution G, X = G^-1(V) with V uniform, so the order
// statistics of a sample are X_(i) = G^-1(V_(i)).  The one-sample
// statistic against a null F stays below its critical value exactly when
// every F(X_(i)) stays above i/n - c and every F(X_(i)-) below
// (i-1)/n + c: each a condition on X_(i) alone, an interval of x, and so
// an interval of V_(i) whose ends are G-probabilities (R/power.R computes
// them, with the jumps and flat stretches of F and G).  What is left is
// this: P(l_i < V_(i) < r_i for every i), the probability Steck's
// determinant gives, here by the boundary-crossing recursion of
// crossing.h, which keeps both tails as sums of positive terms.
#ifndef KSDIST_POWER_H
#define KSDIST_POWER_H

#include "crossing.h"

namespace ksx {

// P(l[i] < V_(i) < r[i] for i = 0..n-1) (*stay) and its complement
// (*leave), V_(0) <= ... <= V_(n-1) the order statistics of n uniforms on
// (0, 1).  l or r may be null: no bound on that side.  The bounds must be
// nondecreasing numbers in [0, 1]; ends that are equal or cross make the
// event impossible.  Whether a bound is strict does not matter (the order
// statistics have a density).  *lost gets the bound on the mass the
// recursion dropped (relative).  False, with NaN, for invalid bounds.
bool order_bounds_tails(int n, const double *l, const double *r, xp *stay, xp *leave, double *lost);

// Whether l (or r), of length n, is a valid vector of bounds.
bool order_bounds_valid(int n, const double *b);

// .Call routines.
SEXP ksx_order_bounds(SEXP n, SEXP l, SEXP r);
SEXP ksx_between_double(SEXP lo, SEXP hi);

} // namespace ksx

#endif
