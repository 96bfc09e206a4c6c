// Argument handling for the .Call routines behind the R functions: the
// checks and messages, R's recycling rule, and R's rule for which
// argument's attributes (names, dim, ...) the result keeps.  Each law's
// routines (at the end of its file) check their arguments here and loop
// with vectorise().
#ifndef KSDIST_ARGS_H
#define KSDIST_ARGS_H

#include "host.h"

namespace ksx {

// A numeric argument seen as doubles (integers converted; a logical vector
// is accepted only when all its elements are NA, as a missing value).
struct Num {
    const double *x;
    R_xlen_t len;
    SEXP obj;
    double at(R_xlen_t i) const { return x[len == 1 ? 0 : i % len]; }
};

Num num_arg(SEXP s, const char *name);
// Sample sizes: positive whole numbers up to INT_MAX, or NA.
Num size_arg(SEXP s, const char *name);
// Probabilities of a q-function are just numbers; their range is checked
// element by element (NaN with R's warning outside [0, 1]).
bool flag_arg(SEXP s, const char *name);
// "two.sided", "less", "greater" (unique prefixes accepted; the whole
// default vector means "two.sided").
int alt_arg(SEXP s);

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
// an element with a missing argument is NA (or NaN); for a q-function
// (quantile true) a first argument outside the probabilities gives NaN and
// one warning.  f(x, i) computes element i from the first argument x.
template <typename F>
SEXP vectorise(const Num *a, int k, bool quantile, bool logp, F f) {
    const R_xlen_t len = result_length(a, k);
    SEXP ans = PROTECT(Rf_allocVector(REALSXP, len));
    double *r = REAL(ans);
    bool warn = false;
    for (R_xlen_t i = 0; i < len; i++) {
        bool missing = false;
        for (int j = 0; j < k; j++) missing = missing || std::isnan(a[j].at(i));
        const double x = a[0].at(i);
        if (missing) {
            r[i] = missing_result(a, k, i);
        } else if (quantile && bad_prob(x, logp)) {
            r[i] = R_NaN;
            warn = true;
        } else {
            r[i] = f(x, i);
        }
    }
    copy_attributes(ans, a, k);
    if (warn) Rf_warning("NaNs produced: 'p' outside [0, 1]");
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

} // namespace ksx

#endif
