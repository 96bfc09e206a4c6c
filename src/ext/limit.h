// Kolmogorov's limiting distributions: of sqrt(n) D_n, K(x) = 1 - 2 sum_{k>=1}
// (-1)^(k-1) e^(-2 k^2 x^2), and of sqrt(n) D_n^+, 1 - e^(-2 x^2).
#ifndef KSDIST_LIMIT_H
#define KSDIST_LIMIT_H

#include "ext.h"

namespace ksx {

// Tolerance handed to the module's series for K(x) >= 1/2 (see limit.cpp).
double limit_module_tol(double tol);

// P(X <= x) (lower) or P(X > x) as R returns it (log if logp).
double limit_p(double x, double tol, int alt, bool lower, bool logp);
// The same as an xp, for callers that need the tail beyond the double range.
xp limit_tail(double x, double tol, int alt, bool lower);
// Density (log if logp).
double limit_d(double x, int alt, bool logp);
// A starting point for inverting: x with tail probability about p.
double limit_guess(double p, int alt, bool lower, bool logp);

} // namespace ksx

#endif
