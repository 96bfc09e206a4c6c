// limit: Kolmogorov's limiting laws, of sqrt(n) D_n, K(x) = 1 - 2
// sum_{k>=1} (-1)^(k-1) e^(-2 k^2 x^2), and of sqrt(n) D_n^+, 1 - e^(-2 x^2).
// R: d/p/q/rkolmogorov_limit; also the first guesses of the exact laws'
// quantiles.
#ifndef KSDIST_LIMIT_H
#define KSDIST_LIMIT_H

#include "host.h"

namespace ksx {

// Tolerance handed to the module's series for K(x) >= 1/2 (see limit.cpp).
double limit_module_tol(double tol);

// P(X <= x) (lower) or P(X > x) as R returns it (log if logp).
double limit_p(double x, double tol, int alt, bool lower, bool logp);
// Density (log if logp).
double limit_d(double x, int alt, bool logp);
// A starting point for inverting: x with tail probability about p.
double limit_guess(double p, int alt, bool lower, bool logp);

// .Call routines.
SEXP ksx_p_limit(SEXP q, SEXP tol, SEXP lower, SEXP logp, SEXP alt);
SEXP ksx_d_limit(SEXP x, SEXP logp, SEXP alt);
SEXP ksx_q_limit(SEXP p, SEXP tol, SEXP lower, SEXP logp, SEXP alt);
SEXP ksx_r_limit(SEXP nn, SEXP alt);

} // namespace ksx

#endif
