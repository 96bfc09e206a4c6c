// smirnov: the exact law of the two-sample statistics, without ties or
// given the pattern of ties of the pooled sample, each tail computed
// directly.  R: d/p/q/rsmirnov2, and ks_test's two-sample p-value.
#ifndef KSDIST_SMIRNOV_H
#define KSDIST_SMIRNOV_H

#include "host.h"

namespace ksx {

// Two samples x (size m) and y (size n), never swapped in meaning.  A
// monotone lattice path from (0, 0) to (m, n) takes the pooled sorted sample
// one value at a time; at (i, j) (i x's and j y's taken) F_m - G_n equals
// (i n - j m) / (m n).  All C(m + n, m) paths are equally likely (the null,
// given the pattern of ties).
//
// The statistic in integer units S: ALT_TWO max |i n - j m|, ALT_GREATER
// max (i n - j m), ALT_LESS max (j m - i n), the max over the checkpoints:
// every lattice point when blocks == nullptr; with ties, blocks[0 .. nb-1]
// are the sizes of the blocks of tied values of the pooled sorted sample
// (positive, summing to m + n), and the checkpoints are only the points with
// i + j equal to a cumulative block end (the empirical distribution
// functions are only compared after a whole block).
//
// upper == false: P(S <= K); upper == true: P(S > K).  Each tail is computed
// directly (never as one minus the other), as a sum of non-negative terms;
// values below the double range keep their exponent in the xp.  Invalid
// arguments (negative sizes, an unknown alt, blocks that are not positive or
// do not sum to m + n) give NaN.  Memory is O(min(m, n)), refused through
// check_bytes() beyond the limit; the computation polls for interrupts.
xp smirnov_tail(int64_t K, int m, int n, int alt, const int *blocks, int nb, bool upper);

// The expected cost of one tail on this machine, from the number of cells
// of the lattice the computation visits (the band of the statistic, within
// the strip that the paths leave with negligible probability): by the sweep
// of smirnov_tail, or (module) by the exact module's rows.  Calls whose
// estimate exceeds the time limit (option "ksdist.max_seconds") are refused
// with SMIRNOV_INSTEAD as the advice; calls expected to take more than a few
// seconds show their progress when R is interactive.
double smirnov_cells(int64_t K, int m, int n, int alt);
double smirnov_seconds(int64_t K, int m, int n, int alt, bool module);
#define SMIRNOV_INSTEAD                                                                  \
    "use the limiting distribution (exact = FALSE), a Monte Carlo p-value "            \
    "(ks_test(x, y, B = 10000)), or raise the limit"

// Whether the exact law is computed for samples of sizes m and n: m n at
// most SMIRNOV_MAX_MN (ksdist.h); smirnov_check_size stops with a message
// otherwise.
bool smirnov_exact_size(double m, double n);
void smirnov_check_size(int m, int n);

// .Call routines.
SEXP ksx_p_smirnov2(SEXP q, SEXP m, SEXP n, SEXP lower, SEXP logp, SEXP alt, SEXP blocks);
SEXP ksx_q_smirnov2(SEXP p, SEXP m, SEXP n, SEXP lower, SEXP logp, SEXP alt, SEXP blocks);
SEXP ksx_d_smirnov2(SEXP x, SEXP m, SEXP n, SEXP logp, SEXP alt, SEXP blocks);
SEXP ksx_r_smirnov2(SEXP nn, SEXP m, SEXP n, SEXP alt, SEXP blocks);
SEXP ksx_smirnov_pvalue(SEXP K, SEXP m, SEXP n, SEXP alt, SEXP blocks);
SEXP ksx_smirnov_exact_size(SEXP m, SEXP n);
SEXP ksx_smirnov_seconds(SEXP K, SEXP m, SEXP n, SEXP alt, SEXP blocks);
SEXP ksx_smirnov_statistic(SEXP x, SEXP y);

} // namespace ksx

#endif
