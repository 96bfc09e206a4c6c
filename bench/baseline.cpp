// The straightforward kernels, frozen as the baseline that bench/run.R times
// the package against and checks bit for bit: the i-j-r triple loop for the
// matrix product, the factorial divisions done element by element, and the
// two-sample rows run over every column.  Not part of the package.
// ksdist: distribution functions of two-sided Kolmogorov-Smirnov statistics.
//
// Three entry points, called from R through .Call():
//   pKS2(statistic, tol)            Kolmogorov's limiting distribution K(x)
//   pKolmogorov2x(statistic, n)     exact one-sample P(D_n < d)
//   pSmirnov2x(statistic, m, n)     exact two-sample P(D_{m,n} < d)
//
// Every result is meant to be reproducible bit for bit: each product,
// quotient and sum below is rounded on its own, in the order written.  The
// compiler must therefore neither fuse a multiply and an add nor reorder a
// sum.  src/Makevars asks for -ffp-contract=off, but flags from a user's
// ~/.R/Makevars come later on the command line, so the pragma below pins
// contraction off for this file whatever they say, and the checks refuse to
// build under flags that license reassociation or assume finite values.

#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif

#if defined(__FAST_MATH__) || defined(__ASSOCIATIVE_MATH__) || \
    defined(__RECIPROCAL_MATH__) || (defined(__FINITE_MATH_ONLY__) && __FINITE_MATH_ONLY__)
#error "ksdist must not be compiled with -ffast-math, -Ofast or related flags: they change results"
#endif

#include <cmath>
#include <climits>
#include <cstdint>
#include <cstring>

#define R_NO_REMAP
#include <R.h>
#include <Rinternals.h>

#define KS_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Truncate toward zero to a 32-bit integer.  Values outside the int range
// (and NaN) map to INT_MIN, the "integer indefinite" that the hardware
// conversion produces; doing it explicitly keeps the conversion defined.
inline int trunc_to_int(double x) {
    if (x > -2147483649.0 && x < 2147483648.0) return static_cast<int>(x);
    return INT_MIN;
}

} // namespace

// ---------------------------------------------------------------------------
// Exact one-sample distribution.
//
// With n d = k - h (k a positive integer, 0 < h <= 1), P(D_n < d) equals
// n!/n^n times the centre element of H^n, where H is the m x m matrix,
// m = 2k - 1, built below.  H^n grows like n^n/n!, far beyond the double
// range, so the power is carried as a scaled matrix V * 10^e, moving whole
// blocks of 140 decades between V and e.  The exponents are 64-bit so that
// no sample size can overflow them; a 32-bit exponent gives the same bits
// wherever it does not overflow.
// ---------------------------------------------------------------------------
namespace {

// P = A B for m x m row-major matrices; P distinct from A and B.  Every
// element is summed in ascending r from an initial 0, each product rounded
// before it is added.
void m_multiply(const double *A, const double *B, double *P, int m) {
    if (m <= 0) return;
    const size_t mm = static_cast<size_t>(m);
    for (size_t i = 0; i < mm; i++) {
        for (size_t j = 0; j < mm; j++) {
            double s = 0.0;
            for (size_t r = 0; r < mm; r++)
                s = s + A[i * mm + r] * B[r * mm + j];
            P[i * mm + j] = s;
        }
    }
}

// V 10^e = A^n, n >= 1, by binary exponentiation on the way back up from
// the base level.  Each level takes its scratch block only after the level
// below has released its own, so at most three m x m blocks (A, V and one
// scratch) are alive at once.  After each level, if the centre element has
// passed 1e140, the whole of V is scaled down by 1e-140 together.
void m_power(const double *A, double *V, int64_t *e, int m, int n) {
    const size_t mm = static_cast<size_t>(m) * static_cast<size_t>(m);
    if (n == 1) {
        std::memcpy(V, A, mm * sizeof(double));
        *e = 0;
        return;
    }
    m_power(A, V, e, m, n / 2);
    double *B = static_cast<double *>(R_chk_calloc(mm, sizeof(double)));
    m_multiply(V, V, B, m);
    if (n % 2 == 0)
        std::memcpy(V, B, mm * sizeof(double));
    else
        m_multiply(A, B, V, m);
    *e = 2 * *e;
    const size_t c = static_cast<size_t>(m / 2) * static_cast<size_t>(m) + static_cast<size_t>(m / 2);
    if (V[c] > 1e140) {
        for (size_t i = 0; i < mm; i++) V[i] = V[i] * 1e-140;
        *e += 140;
    }
    R_chk_free(B);
}

// Largest n d for which m = 2 floor(n d) + 1 has m^2 < 2^31: the matrix
// order and its element count stay in the 32-bit range.
constexpr double max_nd = 23170.0;

} // namespace

KS_EXPORT SEXP base_pKolmogorov2x(SEXP statistic, SEXP sn) {
    const int n = Rf_asInteger(sn);
    const double d = Rf_asReal(statistic);

    // Arguments outside the computation's domain are answered here, before
    // anything is allocated: a size below 1 would never end the power, a
    // NaN has no probability, and for |n d| out of range the matrix cannot
    // be formed.  P(D_n < d) is exactly 0 for d <= 0 and 1 for d >= 1.
    if (n == NA_INTEGER) return Rf_ScalarReal(NA_REAL);
    if (n < 1) return Rf_ScalarReal(R_NaN);
    if (std::isnan(d)) return Rf_ScalarReal(d);
    const double t = d * static_cast<double>(n);
    if (t <= -1.0) return Rf_ScalarReal(0.0);
    if (!(t < max_nd)) return Rf_ScalarReal(d >= 1.0 ? 1.0 : R_NaN);

    const int k = static_cast<int>(t) + 1;
    const int m = 2 * k - 1;
    const double h = static_cast<double>(k) - t;
    const size_t mm = static_cast<size_t>(m) * static_cast<size_t>(m);

    double *H = static_cast<double *>(R_chk_calloc(mm, sizeof(double)));
    double *Q = static_cast<double *>(R_chk_calloc(mm, sizeof(double)));

    // Ones on and below the diagonal and on the first superdiagonal.
    for (int i = 0; i < m; i++)
        for (int j = 0; j < m; j++)
            H[i * m + j] = (j <= i + 1) ? 1.0 : 0.0;
    // First column and last row lose the powers of h; the corner loses h^m
    // twice and gets (2h - 1)^m back when 2h > 1.
    for (int i = 0; i < m; i++) {
        H[i * m] = H[i * m] - std::pow(h, static_cast<double>(i + 1));
        H[(m - 1) * m + i] = H[(m - 1) * m + i] - std::pow(h, static_cast<double>(m - i));
    }
    if ((h + h) - 1.0 > 0.0)
        H[(m - 1) * m] = std::pow(2.0 * h - 1.0, static_cast<double>(m)) + H[(m - 1) * m];
    // Element (i, j), j <= i, is divided by (i - j + 1)!, one factor at a
    // time in ascending order.
    for (int i = 0; i < m; i++)
        for (int j = 0; j <= i; j++)
            for (int g = 1; g <= i - j + 1; g++)
                H[i * m + j] = H[i * m + j] / static_cast<double>(g);

    int64_t eQ = 0;
    m_power(H, Q, &eQ, m, n);

    // Multiply in n!/n^n one factor at a time, moving 140 decades into the
    // exponent whenever s would otherwise drift towards underflow.
    double s = Q[static_cast<size_t>(k - 1) * static_cast<size_t>(m) + static_cast<size_t>(k - 1)];
    const double nd = static_cast<double>(n);
    for (int i = 1; i <= n; i++) {
        s = (s * static_cast<double>(i)) / nd;
        if (s < 1e-140) {
            s = s * 1e140;
            eQ -= 140;
        }
    }
    const double p = std::pow(10.0, static_cast<double>(eQ)) * s;

    R_chk_free(H);
    R_chk_free(Q);
    return Rf_ScalarReal(p);
}

// ---------------------------------------------------------------------------
// Exact two-sample distribution.
//
// P(D_{m,n} < d) is the share of the C(m+n, m) monotone lattice paths from
// (0, 0) to (m, n) that stay inside |i/m - j/n| <= q.  The statistic takes
// only multiples of 1/(m n), so q sits half a step above the largest one
// below d (a d m n within 1e-7 above an integer counts as that integer,
// absorbing the rounding in d).  Counts are held divided by C(i+n, i) row by
// row: u[j] = #paths to (i, j) / C(i+n, i), so
//     u[j] <- u[j] * i/(i+n) + u[j-1]
// and every stored value lies in [0, 1].
//
// That normalisation is relative to the far end of the row, (i, n), so a
// cell near the diagonal of a large table holds C(i+j, i)/C(i+n, i): about
// 1e-334 for m = n = 3000 at the centre, beyond the double range.  Such
// cells underflow and the result collapses (to 0 for m = n = 3000 even at
// d = 1.5).  When any value comes near the bottom of the range the rows are
// computed again with a private binary exponent per cell: the same roundings
// as long as nothing underflows, so the bits of every result that never came
// near underflow are unchanged, and the correct probability otherwise.
// ---------------------------------------------------------------------------
namespace {

// Values below this are close enough to underflow that the next row's
// products (by w >= 1/(n+1) > 2^-31) might leave the normal range.
constexpr double smirnov_tiny = 0x1p-990;

// The plain rows.  Returns whether any value fell below smirnov_tiny.
bool smirnov_rows(double *u, int m, int n, double q) {
    const double md = static_cast<double>(m);
    const double nd = static_cast<double>(n);
    bool tiny = false;
    // Comparisons are "> q": a point on the threshold, or a NaN comparison,
    // counts as inside the band.
    for (int j = 0; j <= n; j++)
        u[j] = (static_cast<double>(j) / nd > q) ? 0.0 : 1.0;
    for (int i = 1; i <= m; i++) {
        const double w = static_cast<double>(i) / static_cast<double>(i + n);
        const double x = static_cast<double>(i) / md;
        u[0] = (x > q) ? 0.0 : u[0] * w;
        tiny |= (u[0] > 0.0) & (u[0] < smirnov_tiny);
        for (int j = 1; j <= n; j++) {
            const double v = (std::fabs(x - static_cast<double>(j) / nd) > q) ? 0.0 : u[j] * w + u[j - 1];
            tiny |= (v > 0.0) & (v < smirnov_tiny);
            u[j] = v;
        }
    }
    return tiny;
}

// a * 2^ea + b * 2^eb with a, b mantissas in [0.5, 1) or 0, rounded once
// exactly as the plain sum of the two values would be, and renormalised.
// Aligning to the larger exponent scales the smaller term exactly unless it
// drops out of the normal range, and then it is far below half an ulp of the
// larger term and would not change the rounded sum either.
inline void wide_sum(double a, int64_t ea, double b, int64_t eb, double *r, int64_t *er) {
    double s;
    int64_t e;
    if (b == 0.0) {
        s = a;
        e = ea;
    } else if (a == 0.0) {
        s = b;
        e = eb;
    } else if (ea >= eb) {
        const int64_t k = eb - ea;
        s = a + std::ldexp(b, k < -2000 ? -2000 : static_cast<int>(k));
        e = ea;
    } else {
        const int64_t k = ea - eb;
        s = std::ldexp(a, k < -2000 ? -2000 : static_cast<int>(k)) + b;
        e = eb;
    }
    int k = 0;
    *r = std::frexp(s, &k);
    *er = (s == 0.0) ? 0 : e + k;
}

// The same rows with value u[j] * 2^ex[j] per cell.
double smirnov_rows_wide(double *u, int64_t *ex, int m, int n, double q) {
    const double md = static_cast<double>(m);
    const double nd = static_cast<double>(n);
    for (int j = 0; j <= n; j++) {
        const double v = (static_cast<double>(j) / nd > q) ? 0.0 : 1.0;
        int k = 0;
        u[j] = std::frexp(v, &k);
        ex[j] = k;
    }
    for (int i = 1; i <= m; i++) {
        const double w = static_cast<double>(i) / static_cast<double>(i + n);
        const double x = static_cast<double>(i) / md;
        if (x > q) {
            u[0] = 0.0;
            ex[0] = 0;
        } else {
            wide_sum(u[0] * w, ex[0], 0.0, 0, &u[0], &ex[0]);
        }
        for (int j = 1; j <= n; j++) {
            if (std::fabs(x - static_cast<double>(j) / nd) > q) {
                u[j] = 0.0;
                ex[j] = 0;
            } else {
                wide_sum(u[j] * w, ex[j], u[j - 1], ex[j - 1], &u[j], &ex[j]);
            }
        }
    }
    // Back to a plain double: one rounding, to a subnormal or to 0 only when
    // the probability itself is that small.
    const int64_t e = ex[n];
    return std::ldexp(u[n], e < -2000 ? -2000 : (e > 2000 ? 2000 : static_cast<int>(e)));
}

} // namespace

KS_EXPORT SEXP base_pSmirnov2x(SEXP statistic, SEXP sm, SEXP sn) {
    int m = Rf_asInteger(sm);
    int n = Rf_asInteger(sn);
    const double d = Rf_asReal(statistic);

    // Sizes must be non-negative and leave m + n and n + 1 inside the int
    // range; anything else would index outside the work vector.
    if (m == NA_INTEGER || n == NA_INTEGER) return Rf_ScalarReal(NA_REAL);
    if (m < 0 || n < 0) return Rf_ScalarReal(R_NaN);
    if (m > n) {
        const int tmp = m;
        m = n;
        n = tmp;
    }
    if (n > INT_MAX - 1 || m > INT_MAX - n) return Rf_ScalarReal(R_NaN);

    const double md = static_cast<double>(m);
    const double nd = static_cast<double>(n);
    const double q = (std::floor((d * md) * nd - 1e-7) + 0.5) / (md * nd);

    const size_t len = static_cast<size_t>(n) + 1;
    double *u = reinterpret_cast<double *>(R_alloc(len, sizeof(double)));
    if (!smirnov_rows(u, m, n, q)) return Rf_ScalarReal(u[n]);

    int64_t *ex = reinterpret_cast<int64_t *>(R_alloc(len, sizeof(int64_t)));
    return Rf_ScalarReal(smirnov_rows_wide(u, ex, m, n, q));
}
