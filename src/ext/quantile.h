// The grid inverter behind every q-function: the smallest point of a grid
// (the doubles, or the integers) at which an acceptance test holds, given a
// point where it fails and one where it holds.
//
// The test itself is exact and decides the answer.  A second, smooth number
// ("steer", roughly the signed distance from the target on a log scale) only
// guides the search: regula falsi with the Illinois modification on it
// converges superlinearly while the function is smooth on the scale of the
// bracket, and the search falls back to halving the bracket, counted in grid
// points, whenever a step does not shrink it enough.  So the cost is a
// handful of evaluations for a good first guess and never more than about
// 64 + a few.
#ifndef KSDIST_QUANTILE_H
#define KSDIST_QUANTILE_H

#include "host.h"

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
// 0 <= a < b.  guess (if strictly inside) is tried first; slope, if finite
// and positive, is the steer's slope there (an estimate), which makes the
// second point a Newton step from the first.  *evals (if given) gets the
// number of evaluations.
double solve_double(EvalFn f, void *ctx, double a, double b, double guess, int *evals, double slope = NAN);

// Smallest integer v in (a, b] with ok(v), given ok(b) and not ok(a).
int64_t solve_int(EvalFn f, void *ctx, int64_t a, int64_t b, double guess, int *evals);

// The test of a q-function: the tail at x as the law's p-function reports
// it (P(X <= x) when lower, else P(X > x); its log when logp) reaches p,
// that is P(X <= x) >= p, or P(X > x) <= p.  The steer is the log of the
// tail asked for against log p; with steer_near_one, a lower tail asked for
// near 1 is steered by the logs of the upper tails instead (the log of a
// lower tail near 1 is about minus the upper tail, and interpolating on
// that scale is what converges there).  A discrete law's test is fuzzed
// as R's discrete quantile functions fuzz theirs (qbinom()): P(X <= x) >=
// p (1 - 64 eps), or P(X > x) <= p (1 + 64 eps), so that a p that is a
// cumulative probability of the law, reached by rounding a few units
// short, still gives its own attained value.
struct Target {
    double (*tail)(double x, const void *law, bool lower, bool logp);
    const void *law;
    bool lower, logp;
    double p;
    bool steer_near_one;
    bool fuzz;
};
void target_eval(double x, void *ctx, bool *ok, double *steer);

} // namespace ksx

#endif
