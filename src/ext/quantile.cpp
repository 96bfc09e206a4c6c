#include "quantile.h"

#include <cfloat>

namespace ksx {

namespace {

// Secant steps on the steer, kept inside the bracket, converge
// superlinearly while the function is smooth on the scale of the steps (the
// second point is a Newton step when the caller knows the slope at the
// guess).  Once the slope puts the target within two grid points of the
// last point, the search walks there point by point (at most three steps
// before it halves instead): with a good guess the whole search then takes
// four or five evaluations.  Once a step no longer halves the steer, the values are down to
// their rounding noise: the end of the bracket nearest the target is then
// bracketed closely by probes at the distance the slope suggests, and 8 times
// further while they land on the same side, and the bracket halved (in grid points)
// down to adjacent points.  Without usable steer values the search halves
// from the start.
template <typename ToValue, typename ToCoord>
int64_t search(EvalFn f, void *ctx, int64_t a, int64_t b, double guess, double slope0, int *evals,
               ToValue value, ToCoord coord) {
    enum { SECANT, SQUEEZE, HALVE, WALK } stage = SECANT;
    int n = 0;
    double x1 = NAN, s1 = NAN, x2 = NAN, s2 = NAN; // the last two evaluations
    double sa = NAN, sb = NAN;                     // steer at the bracket ends
    int64_t c = 0, step = 4;                        // squeeze: centre and distance
    double slope = NAN;                             // of the steer, from the secant steps
    bool c_ok = false, last_ok = false;
    int walked = 0;
    while (b - a > 1) {
        const int64_t width = b - a;
        int64_t t = a + width / 2;
        if (stage == SECANT && n >= 2 && std::isfinite(s2)) {
            // Within two grid points of the target by the slope: walk.
            const double sl = std::isfinite(slope) && slope > 0.0 ? slope : slope0;
            if (std::isfinite(sl) && sl > 0.0) {
                const int64_t cp = coord(x2 - s2 / sl), cx = coord(x2);
                if (cp - cx <= 2 && cx - cp <= 2) {
                    stage = WALK;
                    t = cp <= a ? a + 1 : (cp >= b ? b - 1 : cp);
                }
            }
        } else if (stage == WALK) {
            t = last_ok ? b - 1 : a + 1;
            if (++walked > 3) {
                stage = HALVE;
                t = a + width / 2;
            }
        }
        if (stage == SECANT) {
            double v = NAN;
            if (n == 0) v = guess;
            else if (std::isfinite(s1) && std::isfinite(s2) && s1 != s2)
                v = x2 - s2 * (x2 - x1) / (s2 - s1);
            else if (std::isfinite(s2) && n == 1 && std::isfinite(slope0) && slope0 > 0.0)
                v = x2 - s2 / slope0;
            else if (std::isfinite(s2) && n == 1)
                v = s2 < 0.0 ? x2 * (1.0 + 1.0 / 64) : x2 * (1.0 - 1.0 / 64);
            else if (std::isfinite(sa) && std::isfinite(sb) && sa < 0.0 && sb > sa)
                v = value(a) + (value(b) - value(a)) * (-sa / (sb - sa));
            if (std::isfinite(v)) {
                const int64_t cv = coord(v);
                if (cv > a && cv < b) t = cv;
                else if (std::isfinite(sa) && std::isfinite(sb) && sa < 0.0 && sb > sa) {
                    const int64_t rf = coord(value(a) + (value(b) - value(a)) * (-sa / (sb - sa)));
                    if (rf > a && rf < b) t = rf;
                }
            }
        } else if (stage == SQUEEZE) {
            t = c_ok ? c - step : c + step;
            if (!(t > a && t < b)) {
                stage = HALVE;
                t = a + width / 2;
            }
        }
        bool ok;
        double steer;
        const double tv = value(t);
        // Each evaluation's scratch memory is released before the next.
        const void *vmax = vmaxget();
        f(tv, ctx, &ok, &steer);
        vmaxset(vmax);
        n++;
        last_ok = ok;
        if (ok) {
            b = t;
            sb = steer;
        } else {
            a = t;
            sa = steer;
        }
        if (stage == SECANT) {
            const bool stalled = n >= 3 && !(std::fabs(steer) < 0.5 * std::fabs(s2));
            if (!stalled && std::isfinite(steer) && std::isfinite(s2) && tv != x2)
                slope = (steer - s2) / (tv - x2);
            x1 = x2;
            s1 = s2;
            x2 = tv;
            s2 = steer;
            if (!std::isfinite(steer) && n >= 2) stage = HALVE;
            else if (stalled) {
                // Squeeze around the bracket end closest to the target.
                // The first probe goes twice the distance that the slope of
                // the last useful secant step puts the target at.
                stage = SQUEEZE;
                c_ok = !(std::fabs(sa) < std::fabs(sb));
                c = c_ok ? b : a;
                step = 4;
                if (std::isfinite(slope) && slope > 0.0) {
                    const double cv = value(c), sc = c_ok ? sb : sa;
                    const double far = cv + (c_ok ? -2.0 : 2.0) * std::fabs(sc) / slope;
                    const int64_t d = c_ok ? c - coord(far) : coord(far) - c;
                    if (d > step) step = d;
                }
            }
        } else if (stage == SQUEEZE) {
            if (ok == c_ok) {
                // Still on the same side: move there and look further.
                c = t;
                step *= 8;
            } else {
                stage = HALVE;
            }
        }
        if (n > 400) break; // cannot happen on a monotone test; a guard
    }
    if (evals) *evals = n;
    return b;
}

} // namespace

double solve_double(EvalFn f, void *ctx, double a, double b, double guess, int *evals, double slope) {
    const int64_t c = search(
        f, ctx, dbl_coord(a), dbl_coord(b), guess, slope, evals, [](int64_t x) { return dbl_value(x); },
        [](double v) {
            if (!(v > 0.0)) return int64_t(0);
            return dbl_coord(v);
        });
    return dbl_value(c);
}

void target_eval(double x, void *ctx, bool *ok, double *steer) {
    const Target *t = static_cast<const Target *>(ctx);
    const double v = t->tail(x, t->law, t->lower, t->logp);
    double goal = t->p;
    if (t->fuzz) {
        const double f = 64.0 * DBL_EPSILON;
        goal = t->logp ? goal + (t->lower ? std::log1p(-f) : std::log1p(f)) : goal * (t->lower ? 1.0 - f : 1.0 + f);
    }
    *ok = t->lower ? v >= goal : v <= goal;
    const double lv = t->logp ? v : std::log(v), lp = t->logp ? t->p : std::log(t->p);
    if (t->steer_near_one && t->lower && lp > -0.7) {
        const double uv = t->logp ? -std::expm1(v) : 1.0 - v;
        const double up = t->logp ? -std::expm1(t->p) : 1.0 - t->p;
        *steer = std::log(up) - std::log(uv);
    } else {
        *steer = t->lower ? lv - lp : lp - lv;
    }
}

int64_t solve_int(EvalFn f, void *ctx, int64_t a, int64_t b, double guess, int *evals) {
    return search(
        f, ctx, a, b, guess, NAN, evals, [](int64_t x) { return static_cast<double>(x); },
        [](double v) {
            if (!(v > -9.2e18)) return INT64_MIN / 2;
            if (!(v < 9.2e18)) return INT64_MAX / 2;
            return static_cast<int64_t>(std::floor(v + 0.5));
        });
}

} // namespace ksx
