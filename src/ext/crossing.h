// Probability that the counts of n uniform points stay inside bounds at a
// sequence of checkpoints, and the probability that they do not, each
// computed directly as a sum of positive terms.
//
// With N(c) the number of the n points in [0, c], a checkpoint at c asks
// lo <= N(c) <= hi.  Every one- or two-sided Kolmogorov-Smirnov event,
// for a continuous null or one with jumps, is such a finite family of
// checks (see kolmogorov.cpp and discrete.cpp).  The counts are treated as a Poisson process
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

#include "logprob.h"

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
    // Only read by crossing_slope: the count from which one more point at
    // this checkpoint takes the count past an upper bound of its own
    // (from_hi) or up to a lower bound of its own (from_lo); -1 for none.
    int64_t from_hi, from_lo;
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

// The rate at which P(every check holds) grows when every checkpoint with
// from_hi >= 0 moves down (in units of n c) and every one with from_lo >= 0
// moves up, all at unit speed: each of these bounds then lets through the
// paths with a point exactly at it, so the rate is the sum over them of
//   P(count from_hi (from_lo) just before the checkpoint, a point at it,
//     every other check held),
// a sum of positive terms, carried forward alongside the recursion as a
// second state vector.  When the bounds of one checkpoint meet (an upper and
// a lower bound at the same position), it is the limit as the upper one
// comes first.
xp crossing_slope(int n, check_source next, void *self, const char *what);

} // namespace ksx

#endif
