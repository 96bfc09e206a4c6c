// Exact one-sample Kolmogorov-Smirnov distributions, each tail computed
// directly, for continuous nulls and for nulls with jumps.
#ifndef KSDIST_ONESAMPLE_H
#define KSDIST_ONESAMPLE_H

#include "alt.h"
#include "ext.h"

namespace ksx {

// Continuous null, n >= 1 observations, statistic d (NaN gives NaN, n < 1
// gives NaN).  alt ALT_TWO: D_n = sup |F_n - F|; ALT_GREATER: D_n^+ =
// sup (F_n - F); ALT_LESS: D_n^- = sup (F - F_n), which has the law of D_n^+.
// upper == false: P(D < d) (equal to P(D <= d), the law being continuous);
// upper == true: P(D >= d).
xp ks1_cdf(double d, int n, int alt, bool upper);

// Density at d of the law of D_n (ALT_TWO) or of D_n^+ (ALT_GREATER; D_n^-,
// ALT_LESS, has the same law) for a continuous null: the right derivative in
// d of P(D < d).  0 for d < 1/(2n) (two-sided) or d < 0 (one-sided), and for
// d >= 1; at the left end of the support, as at d = 1/n where the slope
// jumps, the limit from the right (1 at d = 0 one-sided; at d = 1/(2n)
// two-sided 0, or 2 for n = 1).  NaN for NaN d, n < 1 or another alt.
// Keeps its relative accuracy in both tails, below the double range too.
xp ks1_density(double d, int n, int alt);

// Both tails at once (each computed directly); returns false for NaN
// arguments (both set to NaN).
bool ks1_tails(double d, int n, int alt, xp *lower, xp *upper);

// D for a null whose distribution function has the closure of its range
// equal to the union of the k disjoint closed intervals [lo[r], hi[r]] of
// [0, 1], sorted (an atom u is [u, u], a continuous null is [0, 1]): with U_n
// the empirical distribution function of n uniforms, D = sup over u in that
// set of |U_n(u) - u| (ALT_TWO), of U_n(u) - u (ALT_GREATER) or of u - U_n(u)
// (ALT_LESS), the law of sup_t |F_n(t) - F(t)| (both sides of each jump)
// and of its one-sided versions under the null.
// rel: 0 -> P(D < d), 1 -> P(D <= d), 2 -> P(D > d), 3 -> P(D >= d).
// D has atoms; a value of D within RANGE_TOL of d counts as equal to d, so
// that a statistic computed in floating point finds its own atom.  Invalid
// arguments give NaN.
constexpr double RANGE_TOL = 1e-11;
xp ks_range_cdf(int n, double d, const double *lo, const double *hi, int k, int alt, int rel);

} // namespace ksx

#endif
