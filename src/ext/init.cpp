// Registration of the routines of ksdist_ext and the link to the exact
// module's entry points.
#include "ext.h"

#include <R_ext/Rdynload.h>
#include <cstdio>

namespace ksx {

entry2 module_pKS2 = nullptr;
entry2 module_pKolmogorov2x = nullptr;
entry3 module_pSmirnov2x = nullptr;

double module_kolmogorov(double d, int n) {
    SEXP sd = PROTECT(Rf_ScalarReal(d));
    SEXP sn = PROTECT(Rf_ScalarInteger(n));
    const double p = REAL(module_pKolmogorov2x(sd, sn))[0];
    UNPROTECT(2);
    return p;
}

double module_smirnov(double d, int m, int n) {
    SEXP sd = PROTECT(Rf_ScalarReal(d));
    SEXP sm = PROTECT(Rf_ScalarInteger(m));
    SEXP sn = PROTECT(Rf_ScalarInteger(n));
    const double p = REAL(module_pSmirnov2x(sd, sm, sn))[0];
    UNPROTECT(3);
    return p;
}

double module_ks2(double x, double tol) {
    SEXP sx = PROTECT(Rf_ScalarReal(x));
    SEXP st = PROTECT(Rf_ScalarReal(tol));
    const double p = REAL(module_pKS2(sx, st))[0];
    UNPROTECT(2);
    return p;
}

double max_bytes() {
    static SEXP sym = nullptr;
    if (!sym) sym = Rf_install("ksdist.max_bytes");
    SEXP v = Rf_GetOption1(sym);
    if (Rf_isNull(v)) return 4.0 * 1024 * 1024 * 1024;
    if ((!Rf_isReal(v) && !Rf_isInteger(v)) || XLENGTH(v) != 1)
        Rf_error("option 'ksdist.max_bytes' must be a single positive number of bytes");
    const double b = Rf_asReal(v);
    if (!(b > 0.0))
        Rf_error("option 'ksdist.max_bytes' must be a single positive number of bytes");
    return b;
}

void format_bytes(double b, char *out, size_t size) {
    if (b < 1024.0) std::snprintf(out, size, "%.3g bytes", b);
    else if (b < 1024.0 * 1024) std::snprintf(out, size, "%.1f KiB", b / 1024.0);
    else if (b < 1024.0 * 1024 * 1024) std::snprintf(out, size, "%.1f MiB", b / (1024.0 * 1024));
    else std::snprintf(out, size, "%.1f GiB", b / (1024.0 * 1024 * 1024));
}

void check_bytes(double bytes, const char *what, const char *instead) {
    const double limit = max_bytes();
    if (bytes <= limit) return;
    char need[32], have[32];
    format_bytes(bytes, need, sizeof need);
    format_bytes(limit, have, sizeof have);
    Rf_error("%s needs %s of working memory, more than the limit of %s "
             "(option 'ksdist.max_bytes'); %s",
             what, need, have, instead);
}

} // namespace ksx

using namespace ksx;

SEXP ksx_ks1_raw(SEXP, SEXP, SEXP, SEXP);
SEXP ksx_density_raw(SEXP, SEXP, SEXP);
SEXP ksx_density_route(SEXP, SEXP, SEXP, SEXP);
SEXP ksx_range_raw(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP ksx_ks2_raw(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
// Routines of the other files.
SEXP ksx_p_limit(SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP ksx_d_limit(SEXP, SEXP, SEXP);
SEXP ksx_q_limit(SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP ksx_r_limit(SEXP, SEXP);
SEXP ksx_prev_double(SEXP);
SEXP ksx_d_kolmogorov(SEXP, SEXP, SEXP, SEXP);
SEXP ksx_p_kolmogorov(SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP ksx_q_kolmogorov(SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP ksx_r_kolmogorov(SEXP, SEXP, SEXP);
SEXP ksx_p_smirnov2(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP ksx_q_smirnov2(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP ksx_d_smirnov2(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP ksx_r_smirnov2(SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP ksx_p_range(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP ksx_q_range(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP ksx_pvalue1(SEXP, SEXP, SEXP);
SEXP ksx_pvalue2(SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP ksx_pvalue_range(SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP ksx_two_statistic(SEXP, SEXP);

// .Call(init, pKS2, pKolmogorov2x, pSmirnov2x): the module's native symbols,
// as getNativeSymbolInfo() gives their addresses.
static SEXP ksx_init(SEXP a, SEXP b, SEXP c) {
    SEXP s[3] = {a, b, c};
    void *f[3];
    for (int i = 0; i < 3; i++) {
        if (TYPEOF(s[i]) != EXTPTRSXP) Rf_error("ksdist: bad native symbol");
        f[i] = reinterpret_cast<void *>(R_ExternalPtrAddrFn(s[i]));
        if (!f[i]) Rf_error("ksdist: missing native symbol");
    }
    module_pKS2 = reinterpret_cast<entry2>(f[0]);
    module_pKolmogorov2x = reinterpret_cast<entry2>(f[1]);
    module_pSmirnov2x = reinterpret_cast<entry3>(f[2]);
    return R_NilValue;
}

#define CALLDEF(name, n) {#name, reinterpret_cast<DL_FUNC>(&name), n}

// pow(x, y) elementwise, as the C library computes it: the tests' R
// versions of the exact module use it to get the module's very doubles.
static SEXP ksx_pow(SEXP x, SEXP y) {
    if (TYPEOF(x) != REALSXP || TYPEOF(y) != REALSXP) Rf_error("ksx_pow needs doubles");
    const R_xlen_t nx = XLENGTH(x), ny = XLENGTH(y), n = nx > ny ? nx : ny;
    SEXP r = PROTECT(Rf_allocVector(REALSXP, nx == 0 || ny == 0 ? 0 : n));
    for (R_xlen_t i = 0; i < XLENGTH(r); i++) REAL(r)[i] = std::pow(REAL(x)[i % nx], REAL(y)[i % ny]);
    UNPROTECT(1);
    return r;
}

static const R_CallMethodDef call_methods[] = {
    CALLDEF(ksx_init, 3),
    CALLDEF(ksx_pow, 2),
    CALLDEF(ksx_ks1_raw, 4),
    CALLDEF(ksx_density_raw, 3),
    CALLDEF(ksx_density_route, 4),
    CALLDEF(ksx_range_raw, 6),
    CALLDEF(ksx_ks2_raw, 6),
    CALLDEF(ksx_p_limit, 5),
    CALLDEF(ksx_d_limit, 3),
    CALLDEF(ksx_q_limit, 5),
    CALLDEF(ksx_r_limit, 2),
    CALLDEF(ksx_prev_double, 1),
    CALLDEF(ksx_d_kolmogorov, 4),
    CALLDEF(ksx_p_kolmogorov, 5),
    CALLDEF(ksx_q_kolmogorov, 5),
    CALLDEF(ksx_r_kolmogorov, 3),
    CALLDEF(ksx_p_smirnov2, 7),
    CALLDEF(ksx_q_smirnov2, 7),
    CALLDEF(ksx_d_smirnov2, 6),
    CALLDEF(ksx_r_smirnov2, 5),
    CALLDEF(ksx_p_range, 7),
    CALLDEF(ksx_q_range, 7),
    CALLDEF(ksx_pvalue1, 3),
    CALLDEF(ksx_pvalue2, 5),
    CALLDEF(ksx_pvalue_range, 5),
    CALLDEF(ksx_two_statistic, 2),
    {nullptr, nullptr, 0}};

extern "C" __attribute__((visibility("default"))) void R_init_ksdist_ext(DllInfo *dll) {
    R_registerRoutines(dll, nullptr, call_methods, nullptr, nullptr);
    R_useDynamicSymbols(dll, FALSE);
    R_forceSymbols(dll, TRUE);
}
