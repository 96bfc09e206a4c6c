// The two-sample statistics of ks_test, from the raw samples: both sorted,
// merged, and the empirical functions compared after each block of equal
// pooled values, in 64-bit integer units of 1/(m n) so that nothing is
// rounded for any sample sizes R allows.
#include "smirnov.h"


namespace ksx {
namespace {

// The doubles of x in increasing order, by a radix sort on their bits
// (four passes of 16 bits over keys that order as the doubles do), which
// takes time linear in the length and lets R act on an interrupt or time
// limit every 2^20 elements: sorting 1e8 observations takes seconds.
// NaN has no place in the order; R removes missing values before.
SEXP sorted_copy(SEXP x) {
    const R_xlen_t len = XLENGTH(x);
    SEXP s = PROTECT(Rf_allocVector(REALSXP, len));
    double *out = REAL(s);
    const double *in = REAL(x);
    const size_t n = static_cast<size_t>(len);
    uint64_t *key = scratch<uint64_t>(n, "sorting the samples", "use smaller samples");
    uint64_t *tmp = scratch<uint64_t>(n, "sorting the samples", "use smaller samples");
    PollClock work;
    for (size_t i = 0; i < n; i++) {
        if (std::isnan(in[i])) Rf_error("internal: the samples must not contain NaN");
        uint64_t b;
        std::memcpy(&b, in + i, sizeof b);
        // Negative doubles: all bits flipped; others: the sign bit set.
        key[i] = (b >> 63) ? ~b : (b | (uint64_t(1) << 63));
        if ((i & 0xfffff) == 0xfffff) poll(&work, 0x1p20);
    }
    size_t *count = scratch<size_t>(65536, "sorting the samples", "use smaller samples");
    for (int shift = 0; shift < 64; shift += 16) {
        std::memset(count, 0, 65536 * sizeof(size_t));
        for (size_t i = 0; i < n; i++) count[(key[i] >> shift) & 0xffff]++;
        size_t total = 0;
        for (size_t d = 0; d < 65536; d++) {
            const size_t c = count[d];
            count[d] = total;
            total += c;
        }
        for (size_t i = 0; i < n; i++) {
            tmp[count[(key[i] >> shift) & 0xffff]++] = key[i];
            if ((i & 0xfffff) == 0xfffff) poll(&work, 0x1p20);
        }
        uint64_t *t = key;
        key = tmp;
        tmp = t;
    }
    for (size_t i = 0; i < n; i++) {
        const uint64_t k = key[i];
        const uint64_t b = (k >> 63) ? (k & ~(uint64_t(1) << 63)) : ~k;
        std::memcpy(out + i, &b, sizeof b);
    }
    UNPROTECT(1);
    return s;
}

} // namespace

// list(x = sorted x, y = sorted y, K = c(two-sided, greater, less) as
// doubles (exact below 2^53), at = for each, c(value, i, j) where it is
// attained, blocks = sizes of the blocks of ties (NULL without ties)).
SEXP ksx_smirnov_statistic(SEXP x, SEXP y) {
    if (TYPEOF(x) != REALSXP || TYPEOF(y) != REALSXP) Rf_error("internal: samples must be doubles");
    if (XLENGTH(x) > INT_MAX || XLENGTH(y) > INT_MAX)
        Rf_error("samples of more than %d observations are not supported", INT_MAX);
    SEXP xs = PROTECT(sorted_copy(x));
    SEXP ys = PROTECT(sorted_copy(y));
    const R_xlen_t m = XLENGTH(xs), n = XLENGTH(ys);
    const double *a = REAL(xs), *b = REAL(ys);
    int64_t i = 0, j = 0, best[3] = {0, 0, 0};
    double where[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
    R_xlen_t blocks = 0;
    // First pass counts the blocks; the second (only with ties) records them.
    int *bsize = nullptr;
    PollClock work;
    for (int pass = 0; pass < 2; pass++) {
        i = j = 0;
        R_xlen_t nb = 0;
        int64_t last = 0;
        while (i < m || j < n) {
            const double v = (j >= n || (i < m && a[i] <= b[j])) ? a[i] : b[j];
            while (i < m && a[i] == v) i++;
            while (j < n && b[j] == v) j++;
            if ((nb & 0xffff) == 0) poll(&work, 0x1p16);
            if (pass == 1) {
                if (bsize) bsize[nb] = static_cast<int>(i + j - last);
                last = i + j;
                nb++;
                continue;
            }
            nb++;
            const int64_t d = i * static_cast<int64_t>(n) - j * static_cast<int64_t>(m);
            const int64_t s[3] = {d < 0 ? -d : d, d, -d};
            for (int k = 0; k < 3; k++) {
                if (s[k] > best[k]) {
                    best[k] = s[k];
                    where[k][0] = v;
                    where[k][1] = static_cast<double>(i);
                    where[k][2] = static_cast<double>(j);
                }
            }
        }
        if (pass == 0) {
            blocks = nb;
            if (blocks == m + n) break; // no ties
            bsize = reinterpret_cast<int *>(R_alloc(blocks, sizeof(int)));
        }
    }
    SEXP res = PROTECT(Rf_allocVector(VECSXP, 5));
    SEXP names = PROTECT(Rf_allocVector(STRSXP, 5));
    const char *nm[5] = {"x", "y", "K", "at", "blocks"};
    for (int k = 0; k < 5; k++) SET_STRING_ELT(names, k, Rf_mkChar(nm[k]));
    SET_VECTOR_ELT(res, 0, xs);
    SET_VECTOR_ELT(res, 1, ys);
    SEXP K = Rf_allocVector(REALSXP, 3);
    SET_VECTOR_ELT(res, 2, K);
    for (int k = 0; k < 3; k++) REAL(K)[k] = static_cast<double>(best[k]);
    SEXP at = Rf_allocMatrix(REALSXP, 3, 3);
    SET_VECTOR_ELT(res, 3, at);
    for (int k = 0; k < 3; k++)
        for (int c = 0; c < 3; c++) REAL(at)[k + 3 * c] = where[k][c];
    if (bsize) {
        SEXP bl = Rf_allocVector(INTSXP, blocks);
        SET_VECTOR_ELT(res, 4, bl);
        std::memcpy(INTEGER(bl), bsize, blocks * sizeof(int));
    }
    Rf_setAttrib(res, R_NamesSymbol, names);
    UNPROTECT(4);
    return res;
}

} // namespace ksx
