// Argument handling for the .Call routines behind the R functions: the
// checks and messages, R's recycling rule, and R's rule for which
// argument's attributes (names, dim, ...) the result keeps.  Each law's
// routines (at the end of its file) check their arguments here and loop
// with vectorise().
#ifndef KSDIST_ARGS_H
#define KSDIST_ARGS_H

#include "host.h"

namespace ksx {

// A numeric argument seen as doubles (integers and logicals converted, as
// R's own distribution functions take them).  For sample sizes (size),
// an element that is not a whole number from 1 to INT_MAX gives NaN for its
// result, with R's warning, as dbinom() does for a bad size.
struct Num {
    const double *x;
    R_xlen_t len;
    SEXP obj;
    bool size;
    double at(R_xlen_t i) const { return x[len == 1 ? 0 : i % len]; }
};

Num num_arg(SEXP s, const char *name);
Num size_arg(SEXP s, const char *name);
inline bool valid_size(double v) { return v >= 1.0 && v <= 2147483647.0 && v == std::floor(v); }
// TRUE or FALSE as R coerces a flag (numbers, "TRUE", "T", ...; the first
// element); NA or nothing is refused.
bool flag_arg(SEXP s, const char *name);
// "two.sided", "less", "greater" (unique prefixes accepted; the whole
// default vector means "two.sided").
int alt_arg(SEXP s);

// The number of draws of an r-function, checked (R has made it a whole
// number): R's longest vector at most.
R_xlen_t draws_arg(SEXP nn);

// Length of the result under R's recycling: 0 if any argument is empty,
// else the longest length.
R_xlen_t result_length(const Num *a, int k);

// The attributes of the first argument whose length is that of the result
// go to the result, as R's own p-, q- and d-functions do.
void copy_attributes(SEXP ans, const Num *a, int k);

// The value R's distribution functions give when an argument is missing:
// NA if any is NA, else NaN.
double missing_result(const Num *a, int k, R_xlen_t i);

// Whether a probability given to a q-function lies outside [0, 1] (outside
// [-Inf, 0] for logarithms).
inline bool bad_prob(double p, bool logp) { return logp ? p > 0.0 : (p < 0.0 || p > 1.0); }

// The loop of a vectorised d-, p- or q-function: the result has R's
// recycled length and the attributes of the first argument of full length;
// an element with a missing argument is NA (or NaN); one with a size that
// is not one, or for a q-function (quantile true) with a first argument
// outside the probabilities, is NaN, with one warning for the call.  f(x, i)
// computes element i from the first argument x.
template <typename F>
SEXP vectorise(const Num *a, int k, bool quantile, bool logp, F f) {
    const R_xlen_t len = result_length(a, k);
    SEXP ans = PROTECT(Rf_allocVector(REALSXP, len));
    double *r = REAL(ans);
    bool warn = false;
    PollClock clock;
    for (R_xlen_t i = 0; i < len; i++) {
        bool missing = false, bad = false;
        for (int j = 0; j < k; j++) {
            const double v = a[j].at(i);
            missing = missing || std::isnan(v);
            bad = bad || (a[j].size && !valid_size(v));
        }
        const double x = a[0].at(i);
        if (missing) {
            r[i] = missing_result(a, k, i);
        } else if (bad || (quantile && bad_prob(x, logp))) {
            r[i] = R_NaN;
            warn = true;
        } else {
            // What the element takes from R's transient allocator (its own
            // and the exact module's) is released before the next one, so
            // that a long vector needs no more memory than one element.
            const void *vmax = vmaxget();
            r[i] = f(x, i);
            vmaxset(vmax);
        }
        // Elements are often too quick for the engines to look at the clock:
        // the loop does, so that an interrupt or time limit is acted on
        // within about 10 ms however long the vector.
        if (clock.due(0x1p16, 0x1p24)) R_CheckUserInterrupt();
    }
    copy_attributes(ans, a, k);
    if (warn) Rf_warning("NaNs produced");
    UNPROTECT(1);
    return ans;
}

// The routine of a p- or q-function: x (the quantiles q, or the
// probabilities p when quantile) recycled with k sample sizes (named by
// names), the tail flags and the alternative checked once; f(x, sizes,
// alt, lower, logp) computes one element, sizes[0 .. k-1] as ints.
template <typename F>
SEXP pq_routine(SEXP x, int k, const SEXP *sizes, const char *const *names, SEXP lower, SEXP logp,
                SEXP alt, bool quantile, F f) {
    Num a[3];
    a[0] = num_arg(x, quantile ? "p" : "q");
    for (int j = 0; j < k; j++) a[j + 1] = size_arg(sizes[j], names[j]);
    const bool lo = flag_arg(lower, "lower.tail"), lg = flag_arg(logp, "log.p");
    const int al = alt_arg(alt);
    return vectorise(a, k + 1, quantile, lg, [&](double v, R_xlen_t i) {
        int s[2] = {0, 0};
        for (int j = 0; j < k; j++) s[j] = static_cast<int>(a[j + 1].at(i));
        return f(v, s, al, lo, lg);
    });
}

// Turns a probability into what the caller asked for.
inline double finish(double p, bool logp) { return logp ? std::log(p) : p; }
inline double finish(xp p, bool logp) { return logp ? xp_log(p) : xp_value(p); }
// The same for one tail p whose complement q was computed directly too: a
// tail above 1/2 has its logarithm from log1p(-q), which keeps the relative
// accuracy that the log of a value near 1 would lose.
inline double finish(xp p, xp q, bool logp) {
    if (!logp || std::isnan(p.m)) return finish(p, logp);
    const double v = xp_value(p);
    return v > 0.5 && !std::isnan(q.m) ? std::log1p(-xp_value(q)) : xp_log(p);
}

// c(p, log p) for ks_test, the log from the complement q where p is above
// 1/2 (see finish).
inline SEXP p_and_log(xp p, xp q) {
    SEXP out = PROTECT(Rf_allocVector(REALSXP, 2));
    REAL(out)[0] = std::isnan(p.m) ? R_NaN : xp_value(p);
    REAL(out)[1] = finish(p, q, true);
    UNPROTECT(1);
    return out;
}

} // namespace ksx

#endif
