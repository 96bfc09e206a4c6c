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

// The options a computation may need, read once at the start of every .Call
// routine (init.cpp wraps each one so): "ksdist.max_bytes", the largest
// working memory an exact computation may take (default 4 GiB);
// "ksdist.max_seconds", the longest an exact computation may be expected to
// run (default 60 s); "ksdist.progress", whether computations expected to
// take more than 3 s show their progress (TRUE, FALSE, or that time in
// seconds; default: when R is interactive).
void read_options();
double memory_limit();

// Stops with a message when `bytes` exceeds the limit: `what` names the
// computation, `instead` says what the user can do.
void check_bytes(double bytes, const char *what, const char *instead);

// Stops with a message when a computation is expected to take longer than
// the time limit: `seconds` is the estimate for this machine, `what` names
// the computation, `instead` says what the user can do.
void check_seconds(double seconds, const char *what, const char *instead);

// A progress line on the console for a computation expected to take more
// than a few seconds, when the option allows it.  Plain data: an error or
// interrupt may leave it behind without harm (the line stays as it was).
struct Progress {
    bool on;
    const char *what; // a string constant
    double estimate;
    std::chrono::steady_clock::time_point start, last;
};
void progress_start(Progress *p, double seconds, const char *what);
// `done` in [0, 1]; prints at most four times a second.
inline void progress_show(Progress *p, double done);
void progress_end(Progress *p);

// count elements of T from R's transient allocator, within the limit.
template <class T>
T *scratch(size_t count, const char *what, const char *instead) {
    check_bytes(static_cast<double>(count) * sizeof(T), what, instead);
    return reinterpret_cast<T *>(R_alloc(count > 0 ? count : 1, sizeof(T)));
}

void progress_print(Progress *p, double done);
inline void progress_show(Progress *p, double done) {
    if (!p->on) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - p->last < std::chrono::milliseconds(250)) return;
    p->last = now;
    progress_print(p, done);
}

// Scalar calls into the exact module's entry points: P(D_{m,n} < d),
// K(x).  An error if the module is not loaded.
typedef SEXP (*entry2)(SEXP, SEXP);
typedef SEXP (*entry3)(SEXP, SEXP, SEXP);
void link_module(); // at the start of every .Call
bool module_loaded();
double module_smirnov(double d, int m, int n);
double module_ks2(double x, double tol);

} // namespace ksx

#endif
