// What the engines of ksdist_ext ask of R, and nothing else: scratch memory
// under the package's memory limit, interrupt polls, and the exact module's
// entry points.
//
// Discipline, as in the exact module: an R error or interrupt long-jumps
// out of this code, so no C++ object with a non-trivial destructor may be
// alive across a call into R's API, no exception may cross a .Call
// boundary, and scratch memory comes from R_alloc (which R reclaims on a
// jump as well as on return).  Every function here is single-threaded.
#ifndef KSDIST_EXT_HOST_H
#define KSDIST_EXT_HOST_H

#include "../ksdist.h"

#define R_NO_REMAP
#include <R.h>
#include <Rinternals.h>

namespace ksx {

using namespace ks;

// Which statistic a law is about: the two-sided sup |difference|, or one of
// the one-sided sups.  For one sample the difference is F_n - F; for two
// samples F_m - G_n, x's minus y's.  R passes it as a string (args.h).
enum { ALT_TWO = 0, ALT_GREATER = 1, ALT_LESS = 2 };

// Lets R act on a pending interrupt or time limit about every 10 ms, or
// once 2^24 units of work have passed since the last look.  Only R_alloc
// memory may be live.
inline void poll(PollClock *p, double add) {
    if (p->due(add, 16777216.0)) R_CheckUserInterrupt();
}

// The largest working memory an exact computation may take, in bytes: the
// option "ksdist.max_bytes" (default 4 GiB), read once at the start of every
// .Call routine (init.cpp wraps each one so).
void read_memory_limit();
double memory_limit();

// Stops with a message when `bytes` exceeds the limit: `what` names the
// computation, `instead` says what the user can do.
void check_bytes(double bytes, const char *what, const char *instead);

// count elements of T from R's transient allocator, within the limit.
template <class T>
T *scratch(size_t count, const char *what, const char *instead) {
    check_bytes(static_cast<double>(count) * sizeof(T), what, instead);
    return reinterpret_cast<T *>(R_alloc(count > 0 ? count : 1, sizeof(T)));
}

// Scalar calls into the exact module's entry points: P(D_n < d),
// P(D_{m,n} < d), K(x).  An error if the module is not loaded.
typedef SEXP (*entry2)(SEXP, SEXP);
typedef SEXP (*entry3)(SEXP, SEXP, SEXP);
bool module_loaded();
double module_kolmogorov(double d, int n);
double module_smirnov(double d, int m, int n);
double module_ks2(double x, double tol);

} // namespace ksx

#endif
