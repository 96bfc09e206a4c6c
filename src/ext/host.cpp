// The memory limit and the link to the exact module (see host.h).
#include "host.h"

#include <cstdio>

namespace ksx {

entry2 module_pKS2 = nullptr;
entry2 module_pKolmogorov2x = nullptr;
entry3 module_pSmirnov2x = nullptr;

// Each argument is protected while the next is made.
double module_kolmogorov(double d, int n) {
    SEXP a[2] = {PROTECT(Rf_ScalarReal(d)), PROTECT(Rf_ScalarInteger(n))};
    const double p = REAL(module_pKolmogorov2x(a[0], a[1]))[0];
    UNPROTECT(2);
    return p;
}

double module_smirnov(double d, int m, int n) {
    SEXP a[3] = {PROTECT(Rf_ScalarReal(d)), PROTECT(Rf_ScalarInteger(m)), PROTECT(Rf_ScalarInteger(n))};
    const double p = REAL(module_pSmirnov2x(a[0], a[1], a[2]))[0];
    UNPROTECT(3);
    return p;
}

double module_ks2(double x, double tol) {
    SEXP a[2] = {PROTECT(Rf_ScalarReal(x)), PROTECT(Rf_ScalarReal(tol))};
    const double p = REAL(module_pKS2(a[0], a[1]))[0];
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
