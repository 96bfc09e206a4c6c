#include "args.h"

#include <cstdio>
#include <cstring>

namespace ksx {

static const char *describe(SEXP s) {
    return Rf_isNull(s) ? "NULL" : Rf_type2char(TYPEOF(s));
}

Num num_arg(SEXP s, const char *name) {
    Num a = {nullptr, 0, s, false};
    const int t = TYPEOF(s);
    if (!((t == REALSXP || t == INTSXP || t == LGLSXP) && !Rf_isFactor(s))) {
        if (Rf_isFactor(s))
            Rf_error("'%s' must be a numeric vector, not a factor", name);
        if (Rf_isNull(s))
            Rf_error("'%s' must be a numeric vector, not NULL", name);
        Rf_error("'%s' must be a numeric vector, not an object of type '%s'", name, describe(s));
    }
    a.len = XLENGTH(s);
    if (t == REALSXP) {
        a.x = REAL(s);
    } else {
        double *d = reinterpret_cast<double *>(R_alloc(a.len > 0 ? a.len : 1, sizeof(double)));
        for (R_xlen_t i = 0; i < a.len; i++) {
            const int v = t == INTSXP ? INTEGER(s)[i] : LOGICAL(s)[i];
            d[i] = v == NA_INTEGER ? NA_REAL : static_cast<double>(v);
        }
        a.x = d;
    }
    return a;
}

Num size_arg(SEXP s, const char *name) {
    Num a = num_arg(s, name);
    a.size = true;
    return a;
}

bool flag_arg(SEXP s, const char *name) {
    const int t = TYPEOF(s);
    const int v = (t == LGLSXP || t == INTSXP || t == REALSXP || t == STRSXP) && XLENGTH(s) >= 1 &&
                          !Rf_isFactor(s)
                      ? Rf_asLogical(s)
                      : NA_LOGICAL;
    if (v == NA_LOGICAL) Rf_error("'%s' must be TRUE or FALSE", name);
    return v != 0;
}

int alt_arg(SEXP s) {
    static const char *names[3] = {"two.sided", "less", "greater"};
    static const int codes[3] = {ALT_TWO, ALT_LESS, ALT_GREATER};
    if (TYPEOF(s) == STRSXP && XLENGTH(s) == 3) {
        bool deflt = true;
        for (int k = 0; k < 3; k++)
            if (std::strcmp(CHAR(STRING_ELT(s, k)), names[k]) != 0) deflt = false;
        if (deflt) return ALT_TWO;
    }
    if (TYPEOF(s) == STRSXP && XLENGTH(s) == 1 && STRING_ELT(s, 0) != NA_STRING) {
        const char *v = CHAR(STRING_ELT(s, 0));
        const size_t len = std::strlen(v);
        int found = -1;
        for (int k = 0; k < 3 && len > 0; k++)
            if (std::strncmp(v, names[k], len) == 0) found = k;
        if (found >= 0) return codes[found];
    }
    Rf_error("'alternative' must be one of \"two.sided\", \"less\", \"greater\"");
    return ALT_TWO; // not reached
}

R_xlen_t draws_arg(SEXP nn) {
    const double v = Rf_asReal(nn);
    if (!(v >= 0.0 && v <= 4503599627370496.0)) Rf_error("invalid arguments");
    return static_cast<R_xlen_t>(v);
}

R_xlen_t result_length(const Num *a, int k) {
    R_xlen_t len = 0;
    for (int i = 0; i < k; i++) {
        if (a[i].len == 0) return 0;
        if (a[i].len > len) len = a[i].len;
    }
    return len;
}

void copy_attributes(SEXP ans, const Num *a, int k) {
    const R_xlen_t len = XLENGTH(ans);
    for (int i = 0; i < k; i++) {
        if (a[i].len == len) {
            if (ATTRIB(a[i].obj) != R_NilValue) SHALLOW_DUPLICATE_ATTRIB(ans, a[i].obj);
            return;
        }
    }
}

double missing_result(const Num *a, int k, R_xlen_t i) {
    for (int j = 0; j < k; j++)
        if (ISNA(a[j].at(i))) return NA_REAL;
    return R_NaN;
}

} // namespace ksx
