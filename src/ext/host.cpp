// The memory limit and the link to the exact module (see host.h).
#include "host.h"

#include <R_ext/Rdynload.h>
#include <cstdio>

namespace ksx {

// The module's entry points are looked up by name in the module's own
// shared object at the start of every .Call (link_module(), from the
// registration wrapper), so that a module unloaded in the session
// (library.dynam.unload(), dyn.unload()) gives an R error, never a call
// into memory that is gone: it cannot be unloaded while a .Call runs.
namespace {
DL_FUNC entry_ks2 = nullptr, entry_kolmogorov = nullptr, entry_smirnov = nullptr;
} // namespace

void link_module() {
    entry_ks2 = R_FindSymbol("pKS2", "ksdist", nullptr);
    entry_kolmogorov = R_FindSymbol("pKolmogorov2x", "ksdist", nullptr);
    entry_smirnov = R_FindSymbol("pSmirnov2x", "ksdist", nullptr);
}

bool module_loaded() { return entry_ks2 && entry_kolmogorov && entry_smirnov; }

namespace {

// The one double that entry point f returns for the k arguments a
// (protected by the caller).
double module_call(DL_FUNC f, const SEXP *a, int k) {
    if (!f)
        Rf_error("ksdist's exact module (the shared object ksdist) is not loaded in this session "
                 "(it was unloaded): detach and load the package again, library(ksdist)");
    SEXP r = k == 2 ? reinterpret_cast<entry2>(f)(a[0], a[1]) : reinterpret_cast<entry3>(f)(a[0], a[1], a[2]);
    return REAL(r)[0];
}

} // namespace

// Each argument is protected while the next is made.
double module_smirnov(double d, int m, int n) {
    // The module's rows: two vectors of max(m, n) + 1 doubles at most, and
    // one exponent per 64 columns.
    const double len = static_cast<double>(m > n ? m : n) + 1.0;
    check_bytes(len * (16.0 + 8.0 / 64.0), "the exact two-sample distribution",
                "use the limiting distribution (exact = FALSE) or raise the limit");
    SEXP a[3] = {PROTECT(Rf_ScalarReal(d)), PROTECT(Rf_ScalarInteger(m)), PROTECT(Rf_ScalarInteger(n))};
    const double p = module_call(entry_smirnov, a, 3);
    UNPROTECT(3);
    return p;
}

double module_ks2(double x, double tol) {
    SEXP a[2] = {PROTECT(Rf_ScalarReal(x)), PROTECT(Rf_ScalarReal(tol))};
    const double p = module_call(entry_ks2, a, 2);
    UNPROTECT(2);
    return p;
}

namespace {
double limit_bytes = 4.0 * 1024 * 1024 * 1024;
double limit_seconds = 60.0;
double progress_above = INFINITY; // seconds; +Inf: never

// "512 bytes", "3.0 KiB", "12.5 MiB", "1.2 GiB".
void format_bytes(double b, char *out, size_t size) {
    if (b < 1024.0) std::snprintf(out, size, "%.3g bytes", b);
    else if (b < 1024.0 * 1024) std::snprintf(out, size, "%.1f KiB", b / 1024.0);
    else if (b < 1024.0 * 1024 * 1024) std::snprintf(out, size, "%.1f MiB", b / (1024.0 * 1024));
    else std::snprintf(out, size, "%.1f GiB", b / (1024.0 * 1024 * 1024));
}
} // namespace

namespace {
// A positive number given as an option, `fallback` when the option is not
// set, NaN when it is set to something else (reported only when a
// computation needs the limit).
double positive_option(const char *name, double fallback) {
    SEXP v = Rf_GetOption1(Rf_install(name));
    if (Rf_isNull(v)) return fallback;
    const double b = ((Rf_isReal(v) || Rf_isInteger(v)) && XLENGTH(v) == 1) ? Rf_asReal(v) : R_NaN;
    return b > 0.0 ? b : R_NaN;
}

// "45 s", "3.2 minutes", "2.1 hours", "4.5 days".
void format_seconds(double s, char *out, size_t size) {
    if (s < 90.0) std::snprintf(out, size, "%.2g s", s);
    else if (s < 5400.0) std::snprintf(out, size, "%.1f minutes", s / 60.0);
    else if (s < 172800.0) std::snprintf(out, size, "%.1f hours", s / 3600.0);
    else std::snprintf(out, size, "%.3g days", s / 86400.0);
}
} // namespace

void read_options() {
    limit_bytes = positive_option("ksdist.max_bytes", 4.0 * 1024 * 1024 * 1024);
    limit_seconds = positive_option("ksdist.max_seconds", 60.0);
    SEXP v = Rf_GetOption1(Rf_install("ksdist.progress"));
    bool show;
    if (Rf_isNull(v)) {
        // interactive(), as R itself answers it (also under front ends).
        SEXP call = PROTECT(Rf_lang1(Rf_install("interactive")));
        show = Rf_asLogical(Rf_eval(call, R_BaseEnv)) == TRUE;
        UNPROTECT(1);
    } else if (Rf_isReal(v) || Rf_isInteger(v)) {
        // A number is the expected time above which progress is shown.
        const double s = XLENGTH(v) == 1 ? Rf_asReal(v) : R_NaN;
        progress_above = s >= 0.0 ? s : INFINITY;
        return;
    } else {
        show = Rf_asLogical(v) == TRUE;
    }
    progress_above = show ? 3.0 : INFINITY;
}

double memory_limit() {
    if (std::isnan(limit_bytes))
        Rf_error("option 'ksdist.max_bytes' must be a single positive number of bytes");
    return limit_bytes;
}

void check_bytes(double bytes, const char *what, const char *instead) {
    if (bytes <= memory_limit()) return;
    char need[32], have[32];
    format_bytes(bytes, need, sizeof need);
    format_bytes(limit_bytes, have, sizeof have);
    Rf_error("%s needs %s of working memory, more than the limit of %s "
             "(option 'ksdist.max_bytes'); %s",
             what, need, have, instead);
}

void check_seconds(double seconds, const char *what, const char *instead) {
    if (std::isnan(limit_seconds))
        Rf_error("option 'ksdist.max_seconds' must be a single positive number of seconds");
    if (!(seconds > limit_seconds)) return;
    char need[32], have[32];
    format_seconds(seconds, need, sizeof need);
    format_seconds(limit_seconds, have, sizeof have);
    Rf_error("%s would take about %s here (an estimate), more than the limit of %s "
             "(option 'ksdist.max_seconds'); %s",
             what, need, have, instead);
}

// Shown only for computations expected to run for more than 3 s (or as the
// option says).
void progress_start(Progress *p, double seconds, const char *what) {
    p->on = seconds > progress_above;
    p->what = what;
    p->estimate = seconds;
    p->start = p->last = std::chrono::steady_clock::now();
    if (p->on) REprintf("\r%s: expected to take about %.0f s ", what, seconds);
}

void progress_print(Progress *p, double done) {
    const double spent = std::chrono::duration<double>(p->last - p->start).count();
    if (done < 0.0) done = 0.0;
    if (done > 1.0) done = 1.0;
    // The rest at the pace so far, once there is a pace to go by.
    const double left = done > 0.02 ? spent * (1.0 - done) / done : p->estimate - spent;
    REprintf("\r%s: %3.0f%% done, about %.0f s left    ", p->what, 100.0 * done, left > 0.0 ? left : 0.0);
}

void progress_end(Progress *p) {
    if (p->on) REprintf("\r%*s\r", static_cast<int>(std::strlen(p->what)) + 40, "");
    p->on = false;
}

} // namespace ksx
