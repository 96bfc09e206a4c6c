// Inverting a monotone distribution function exactly: the smallest point of
// a grid (the doubles, or the integers) at which an acceptance test holds,
// given a point where it fails and one where it holds.
//
// The test itself is exact and decides the answer.  A second, smooth number
// ("steer", roughly the signed distance from the target on a log scale) only
// guides the search: regula falsi with the Illinois modification on it
// converges superlinearly while the function is smooth on the scale of the
// bracket, and the search falls back to halving the bracket, counted in grid
// points, whenever a step does not shrink it enough.  So the cost is a
// handful of evaluations for a good first guess and never more than about
// 64 + a few.
#ifndef KSDIST_SOLVE_H
#define KSDIST_SOLVE_H

#include "ext.h"

namespace ksx {

// Evaluates the test at grid value v: *ok is the acceptance, *steer any
// number increasing in v with steer >= 0 roughly where ok (NaN or infinite
// values are allowed and simply not used for interpolation).
typedef void (*EvalFn)(double v, void *ctx, bool *ok, double *steer);

// Grid of the non-negative doubles: coordinates are their bit patterns,
// which order them.
inline int64_t dbl_coord(double x) {
    int64_t c;
    std::memcpy(&c, &x, sizeof c);
    return c;
}
inline double dbl_value(int64_t c) {
    double x;
    std::memcpy(&x, &c, sizeof x);
    return x;
}

// Smallest double v in (a, b] with ok(v), given ok(b) and not ok(a),
// 0 <= a < b.  guess (if strictly inside) is tried first.
double solve_double(EvalFn f, void *ctx, double a, double b, double guess, int *evals);

// Smallest integer v in (a, b] with ok(v), given ok(b) and not ok(a).
int64_t solve_int(EvalFn f, void *ctx, int64_t a, int64_t b, double guess, int *evals);

} // namespace ksx

#endif
