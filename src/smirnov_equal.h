// Two samples of equal size n without ties, by reflection.  Shared by the
// exact module (its lower tail where the rows would need an exponent per
// cell) and the second shared object (upper tails).
//
// With m = n the band is |i - j| < c for a whole number c, and by the
// reflection principle the paths that reach |i - j| >= c (one-sided:
// i - j >= c) number 2 sum_{k >= 1} (-1)^(k-1) C(2n, n - k c) (one-sided:
// C(2n, n - c)).  With r_k = C(2n, n - k c) / C(2n, n) = prod_{t < k c}
// (n - t) / (n + 1 + t), formed in double-double with a binary exponent of
// its own, the upper tail is r_1 or 2 (r_1 - r_2 + ...) and the lower tail
// one minus that: a few terms that fall off like e^(-k^2 c^2 / n).  The
// terms alternate and decrease, so the sum has no harmful cancellation in
// double-double: either tail comes to within a unit in the last place, in
// time O(c) instead of O(n^2) cells.
#ifndef KSDIST_SMIRNOV_EQUAL_H
#define KSDIST_SMIRNOV_EQUAL_H

#include "ksdist.h"

#define R_NO_REMAP
#include <R.h>
#include <Rinternals.h>

namespace ks {

// sum_{k = 1 .. kmax} (-1)^(k-1) r_k as sum * 2^e, with first = r_1 * 2^e
// and e the exponent of r_1.  A term below 2^-600 of the first cannot move
// the sum and ends it.  A caller that needs the sum only to within an
// absolute `cutoff` (0 for none) has it end at the first term below that
// (the sum is then that of the terms before; no rescaling happens above a
// cutoff of at least 2^-500, and e is 0).  Div is the double-double
// division by a double (the module keeps its own, for its bits).  Polls for
// interrupts (no memory is held).
struct Reflection {
    dd sum, first;
    int64_t e;
};

template <dd (*Div)(dd, double) = dd_div_d>
inline Reflection reflection_sum(int n, int64_t c, int64_t kmax, double cutoff) {
    const double nd = static_cast<double>(n);
    dd r = dd_of(1.0), sum = dd_of(0.0), first = dd_of(0.0);
    int64_t e = 0, e1 = 0, t = 0;
    PollClock work;
    for (int64_t k = 1; k <= kmax; k++) {
        for (; t < k * c && !(r.hi < cutoff); t++) {
            const double td = static_cast<double>(t);
            r = Div(dd_mul_d(r, rsub(nd, td)), radd(radd(nd, 1.0), td));
            if (r.hi < 0x1p-500) {
                r = dd_ldexp(r, 500);
                e -= 500;
            }
            if (k > 1 && e - e1 < -600) break;
            if ((t & 0xfff) == 0 && work.due(4096.0 * 20, 0x1p24)) R_CheckUserInterrupt();
        }
        if (r.hi < cutoff) break;
        if (k == 1) {
            e1 = e;
            sum = first = r;
        } else {
            if (e - e1 < -600) break;
            const dd term = dd_ldexp(r, static_cast<int>(e - e1));
            sum = (k % 2) ? dd_add(sum, term) : dd_sub(sum, term);
        }
    }
    return Reflection{sum, first, e1};
}

} // namespace ks

#endif
