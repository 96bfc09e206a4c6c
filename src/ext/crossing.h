// Probability that the counts of n uniform points stay inside bounds at a
// sequence of checkpoints, and the probability that they do not, each
// computed directly as a sum of positive terms.
//
// With N(c) the number of the n points in [0, c], a checkpoint at c asks
// lo <= N(c) <= hi.  Every one- or two-sided Kolmogorov-Smirnov event,
// for a continuous null or one with jumps, is such a finite family of
// checks (see onesample.cpp).  The counts are treated as a Poisson process
// of rate n observed at the checkpoints: between two checkpoints a distance
// lambda / n apart the count grows by a Poisson(lambda) number, every
// transition weight is positive, and the condition N(1) = n is applied at
// the end through the weight P(Poisson(n (1 - c)) = n - N(c)) / P(Poisson(n)
// = n).  The mass that leaves the bounds at a checkpoint is weighted the same
// way the moment it leaves, so both the probability of staying inside
// ("stay") and of leaving ("leave") are sums of positive terms: neither is
// found as one minus the other.
#ifndef KSDIST_CROSSING_H
#define KSDIST_CROSSING_H

#include "dd.h"

namespace ksx {

// One checkpoint: its position n c (as a double-double, so that gaps
// between nearby checkpoints keep their relative accuracy) and the allowed
// counts.  trim_lo / trim_hi say that no bound is active on that side, so
// that states of negligible weight there may be dropped (their weight is
// added to Crossing::lost).
struct Check {
    dd pos;
    int64_t lo, hi;
    bool trim_lo, trim_hi;
};

// A source of checkpoints in nondecreasing position: fills *c and returns
// true, or returns false when there are no more.
typedef bool (*check_source)(void *self, Check *c);

struct Crossing {
    xp stay;     // P(every check holds)
    xp leave;    // P(some check fails)
    double lost; // bound on the mass dropped, relative to the mass then alive
};

// n >= 1.  `what` names the computation in a refusal for memory.
Crossing crossing(int n, check_source next, void *self, const char *what);

} // namespace ksx

#endif
