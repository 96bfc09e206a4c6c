// Exact two-sample Smirnov distributions: both tails computed directly,
// two-sided and one-sided statistics, and the conditional null given ties.
#ifndef KSDIST_TWOSAMPLE_H
#define KSDIST_TWOSAMPLE_H

#include "alt.h"
#include "ext.h"

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
xp ks2_cdf(int64_t K, int m, int n, int alt, const int *blocks, int nb, bool upper);

} // namespace ksx

#endif
