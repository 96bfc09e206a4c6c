// The memory limit and the link to the exact module (see host.h).
#include "host.h"

#include <R_ext/Rdynload.h>
#include <cstdio>

namespace ksx {

// The module's entry points are looked up by name in the module's own
// shared object at every use, so that a module unloaded in the session
// (library.dynam.unload(), dyn.unload()) gives an R error, never a call
// into memory that is gone.  A lookup costs far less than any computation
// of the module.
bool module_loaded() {
    return R_FindSymbol("pKS2", "ksdist", nullptr) && R_FindSymbol("pKolmogorov2x", "ksdist", nullptr) &&
           R_FindSymbol("pSmirnov2x", "ksdist", nullptr);
}

namespace {

// The one double that entry point `name` returns for the k arguments a
// (protected by the caller).
double module_call(const char *name, const SEXP *a, int k) {
    DL_FUNC f = R_FindSymbol(name, "ksdist", nullptr);
    if (!f)
        Rf_error("ksdist's exact module (the shared object ksdist) is not loaded in this session "
                 "(it was unloaded): detach and load the package again, library(ksdist)");
    SEXP r = k == 2 ? reinterpret_cast<entry2>(f)(a[0], a[1]) : reinterpret_cast<entry3>(f)(a[0], a[1], a[2]);
    return REAL(r)[0];
}

} // namespace

// Each argument is protected while the next is made.
double module_kolmogorov(double d, int n) {
    SEXP a[2] = {PROTECT(Rf_ScalarReal(d)), PROTECT(Rf_ScalarInteger(n))};
    const double p = module_call("pKolmogorov2x", a, 2);
    UNPROTECT(2);
    return p;
}

double module_smirnov(double d, int m, int n) {
    // The module's rows: two vectors of max(m, n) + 1 doubles at most, and
    // one exponent per 64 columns.
    const double len = static_cast<double>(m > n ? m : n) + 1.0;
    check_bytes(len * (16.0 + 8.0 / 64.0), "the exact two-sample distribution",
                "use the limiting distribution (exact = FALSE) or raise the limit");
    SEXP a[3] = {PROTECT(Rf_ScalarReal(d)), PROTECT(Rf_ScalarInteger(m)), PROTECT(Rf_ScalarInteger(n))};
    const double p = module_call("pSmirnov2x", a, 3);
    UNPROTECT(3);
    return p;
}

double module_ks2(double x, double tol) {
    SEXP a[2] = {PROTECT(Rf_ScalarReal(x)), PROTECT(Rf_ScalarReal(tol))};
    const double p = module_call("pKS2", a, 2);
    UNPROTECT(2);
    return p;
}

namespace {
double limit_bytes = 4.0 * 1024 * 1024 * 1024;

// "512 bytes", "3.0 KiB", "12.5 MiB", "1.2 GiB".
void format_bytes(double b, char *out, size_t size) {
    if (b < 1024.0) std::snprintf(out, size, "%.3g bytes", b);
    else if (b < 1024.0 * 1024) std::snprintf(out, size, "%.1f KiB", b / 1024.0);
    else if (b < 1024.0 * 1024 * 1024) std::snprintf(out, size, "%.1f MiB", b / (1024.0 * 1024));
    else std::snprintf(out, size, "%.1f GiB", b / (1024.0 * 1024 * 1024));
}
} // namespace

void read_memory_limit() {
    static SEXP sym = nullptr;
    if (!sym) sym = Rf_install("ksdist.max_bytes");
    SEXP v = Rf_GetOption1(sym);
    if (Rf_isNull(v)) {
        limit_bytes = 4.0 * 1024 * 1024 * 1024;
        return;
    }
    // A bad value is only reported when a computation needs the limit.
    const double b = ((Rf_isReal(v) || Rf_isInteger(v)) && XLENGTH(v) == 1) ? Rf_asReal(v) : R_NaN;
    limit_bytes = b > 0.0 ? b : R_NaN;
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

} // namespace ksx
