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

// A double vector for pKS2 to overwrite: a copy of a double vector, or a
// fresh coercion of an integer or logical one (NA becomes NA_real_).  Other
// types are refused with R's own wording instead of being misread.
SEXP double_copy(SEXP x) {
    switch (TYPEOF(x)) {
    case REALSXP:
        return Rf_duplicate(x);
    case INTSXP:
    case LGLSXP:
        return Rf_coerceVector(x, REALSXP);
    case NILSXP:
        return Rf_allocVector(REALSXP, 0);
    default:
        Rf_error("cannot coerce type '%s' to vector of type 'double'",
                 Rf_type2char(TYPEOF(x)));
    }
    return R_NilValue; // not reached
}

// The blocks one exact computation has taken from R's checked allocator.
// Every call into R that may jump out of the module instead of returning
// (an allocation that fails, a pending interrupt, a time limit) goes through
// R_UnwindProtect with release_blocks as its clean-up, so the blocks are
// freed before R carries on with the jump: nothing leaks, and the user sees
// R's own error or interrupt.
struct Guard {
    double *blk[3];
    SEXP cont;     // R's continuation token, protected by the caller
    double work;   // operations since the last interrupt check
};

void release_blocks(void *data, Rboolean jump) {
    if (!jump) return;
    Guard *g = static_cast<Guard *>(data);
    for (double *&p : g->blk) {
        if (p) R_chk_free(p);
        p = nullptr;
    }
}

SEXP interrupt_body(void *) {
    R_CheckUserInterrupt();
    return R_NilValue;
}

// Lets R act on a pending interrupt or time limit once enough work has
// been done since the last look (about a millisecond's worth), so that small
// computations pay nothing for it.  Work is counted in doubles: a count of
// cells or multiply-adds can pass 2^31 within one step.
inline void poll_interrupt(Guard *g, double work) {
    g->work += work;
    if (g->work < 0x1p24) return;
    g->work = 0;
    R_UnwindProtect(interrupt_body, nullptr, release_blocks, g, g->cont);
}

struct TakeRequest {
    size_t count;
    double *block;
};

SEXP take_body(void *data) {
    TakeRequest *r = static_cast<TakeRequest *>(data);
    r->block = static_cast<double *>(R_chk_calloc(r->count, sizeof(double)));
    return R_NilValue;
}

// A zero-filled block of count doubles, recorded in the guard.
double *take(Guard *g, size_t count) {
    TakeRequest r = {count, nullptr};
    R_UnwindProtect(take_body, &r, release_blocks, g, g->cont);
    for (double *&p : g->blk) {
        if (!p) {
            p = r.block;
            break;
        }
    }
    return r.block;
}

void give_back(Guard *g, double *block) {
    for (double *&p : g->blk)
        if (p == block) p = nullptr;
    R_chk_free(block);
}

} // namespace

// ---------------------------------------------------------------------------
// Kolmogorov's limiting distribution
//
//   K(x) = 1 - 2 sum_{k>=1} (-1)^(k-1) exp(-2 k^2 x^2)                (x >= 1)
//        = sqrt(2 pi)/x sum_{k odd} exp(-k^2 pi^2 / (8 x^2))          (x <  1)
//
// The alternating series converges fast for large x; the theta-transformed
// series for small x.  For x < 1 the number of terms depends on tol only.
// ---------------------------------------------------------------------------
KS_EXPORT SEXP pKS2(SEXP statistic, SEXP stol) {
    // Reject non-vectors before asking for a length.
    switch (TYPEOF(statistic)) {
    case REALSXP: case INTSXP: case LGLSXP: case NILSXP: break;
    default:
        Rf_error("cannot coerce type '%s' to vector of type 'double'",
                 Rf_type2char(TYPEOF(statistic)));
    }
    const R_xlen_t len = (TYPEOF(statistic) == NILSXP) ? 0 : XLENGTH(statistic);
    const double tol = Rf_asReal(stol);
    SEXP ans = PROTECT(double_copy(statistic));
    double *p = REAL(ans);

    // A missing tolerance leaves every value missing: NA gives NA, NaN NaN.
    if (std::isnan(tol)) {
        for (R_xlen_t i = 0; i < len; i++) p[i] = tol;
        UNPROTECT(1);
        return ans;
    }

    // Term bound for the small-x series.  Infinite or NaN roots (tol <= 0,
    // tol > e^2) give INT_MIN, so that series sums nothing.
    const int kmax = trunc_to_int(std::sqrt(2.0 - std::log(tol)));

    for (R_xlen_t i = 0; i < len; i++) {
        // Very long vectors stay interruptible; ans is protected meanwhile.
        if ((i & 0xffff) == 0xffff) R_CheckUserInterrupt();
        const double x = p[i];
        if (x < 1.0) {
            const double z = -1.2337005501361697 / (x * x); // -pi^2/8 / x^2
            const double w = std::log(x);
            double s = 0.0;
            for (int k = 1; k < kmax; k += 2)
                s = s + std::exp(static_cast<double>(k * k) * z - w);
            p[i] = s / 0.3989422804014327; // divided by 1/sqrt(2 pi)
        } else if (!(tol < 1.0)) {
            p[i] = 1.0;
        } else {
            const double z = (-2.0 * x) * x;
            double sum = 1.0, previous;
            double sign = -1.0, k = 1.0;
            do {
                previous = sum;
                sum = previous + (2.0 * sign) * std::exp((z * k) * k);
                sign = -sign;
                k = k + 1.0;
                // Stop once the step is within tol, and in any case once a
                // term no longer moves the partial sum: with tol < 0 the
                // first test alone would never end.  For tol >= 0 the second
                // test is implied by the first, so results are unchanged.
            } while (std::fabs(previous - sum) > tol && previous != sum);
            p[i] = sum;
        }
    }
    UNPROTECT(1);
    return ans;
}

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
// before it is added: P[i][j] = (((0 + a_i0 b_0j) + a_i1 b_1j) + ...).
//
// Only the order of the work differs from the textbook i-j-r loop.  P is
// computed in tiles of 4 rows by 8 columns held in registers while r runs
// from 0 to m-1, so each B row segment loaded serves four rows and each
// A element eight columns, and the eight columns go through the vector
// unit side by side.  Lanes never mix: every element keeps its own sum in
// its own order, so the bits are those of the scalar loop.  With hardware
// support a 256-bit copy of the routine is chosen at load time.
typedef double v4d __attribute__((vector_size(32), aligned(8), may_alias));

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) && \
    !defined(__SANITIZE_ADDRESS__)
#define KS_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KS_CLONES
#endif

// Rows [i0, i1) and columns [j0, j1) of P, in i-r-j order.
inline void m_multiply_edge(const double *A, const double *B, double *P, size_t m,
                            size_t i0, size_t i1, size_t j0, size_t j1) {
    for (size_t i = i0; i < i1; i++) {
        double *p = P + i * m;
        for (size_t j = j0; j < j1; j++) p[j] = 0.0;
        for (size_t r = 0; r < m; r++) {
            const double a = A[i * m + r];
            const double *b = B + r * m;
            for (size_t j = j0; j < j1; j++) p[j] = p[j] + a * b[j];
        }
    }
}

KS_CLONES
void m_multiply(const double *A, const double *B, double *P, int m_, Guard *g) {
    if (m_ <= 0) return;
    const size_t m = static_cast<size_t>(m_);
    const size_t m4 = m - m % 4, m8 = m - m % 8;
    for (size_t j = 0; j < m8; j += 8) {
        for (size_t i = 0; i < m4; i += 4) {
            const double *a0 = A + i * m, *a1 = a0 + m, *a2 = a1 + m, *a3 = a2 + m;
            v4d c00 = {0, 0, 0, 0}, c01 = c00, c10 = c00, c11 = c00;
            v4d c20 = c00, c21 = c00, c30 = c00, c31 = c00;
            const double *b = B + j;
            for (size_t r = 0; r < m; r++, b += m) {
                const v4d b0 = *reinterpret_cast<const v4d *>(b);
                const v4d b1 = *reinterpret_cast<const v4d *>(b + 4);
                c00 = c00 + a0[r] * b0;
                c01 = c01 + a0[r] * b1;
                c10 = c10 + a1[r] * b0;
                c11 = c11 + a1[r] * b1;
                c20 = c20 + a2[r] * b0;
                c21 = c21 + a2[r] * b1;
                c30 = c30 + a3[r] * b0;
                c31 = c31 + a3[r] * b1;
            }
            double *p = P + i * m + j;
            *reinterpret_cast<v4d *>(p) = c00;
            *reinterpret_cast<v4d *>(p + 4) = c01;
            *reinterpret_cast<v4d *>(p + m) = c10;
            *reinterpret_cast<v4d *>(p + m + 4) = c11;
            *reinterpret_cast<v4d *>(p + 2 * m) = c20;
            *reinterpret_cast<v4d *>(p + 2 * m + 4) = c21;
            *reinterpret_cast<v4d *>(p + 3 * m) = c30;
            *reinterpret_cast<v4d *>(p + 3 * m + 4) = c31;
        }
        poll_interrupt(g, 8.0 * static_cast<double>(m) * static_cast<double>(m4));
    }
    // What the tiles do not cover: the last m mod 4 rows, and the last
    // m mod 8 columns of every row.
    m_multiply_edge(A, B, P, m, m4, m, 0, m8);
    m_multiply_edge(A, B, P, m, 0, m, m8, m);
}

// V 10^e = A^n, n >= 1, by binary exponentiation on the way back up from
// the base level.  Each level takes its scratch block only after the level
// below has released its own, so at most three m x m blocks (A, V and one
// scratch) are alive at once.  After each level, if the centre element has
// passed 1e140, the whole of V is scaled down by 1e-140 together.
void m_power(const double *A, double *V, int64_t *e, int m, int n, Guard *g) {
    const size_t mm = static_cast<size_t>(m) * static_cast<size_t>(m);
    if (n == 1) {
        std::memcpy(V, A, mm * sizeof(double));
        *e = 0;
        return;
    }
    m_power(A, V, e, m, n / 2, g);
    double *B = take(g, mm);
    m_multiply(V, V, B, m, g);
    if (n % 2 == 0)
        std::memcpy(V, B, mm * sizeof(double));
    else
        m_multiply(A, B, V, m, g);
    *e = 2 * *e;
    const size_t c = static_cast<size_t>(m / 2) * static_cast<size_t>(m) + static_cast<size_t>(m / 2);
    if (V[c] > 1e140) {
        for (size_t i = 0; i < mm; i++) V[i] = V[i] * 1e-140;
        *e += 140;
    }
    give_back(g, B);
}

// Largest n d for which m = 2 floor(n d) + 1 has m^2 < 2^31: the matrix
// order and its element count stay in the 32-bit range.
constexpr double max_nd = 23170.0;

// True when n!/n^n times s 10^e is certain to end below 1e-420, so that the
// final p = 10^eQ s of the factorial loop is exactly +0 whatever the loop
// does on the way; s must be a positive finite double of at least 1e-140.
//
// The loop keeps s >= 1e-140 once it is (a step divides by at most n, and a
// value that falls below 1e-140 is multiplied by 1e140), and s 10^eQ tracks
// s0 10^e0 n!/n^n to within 3n roundings, a relative 1e-6 even at n = 2^31.
// So at the end 10^eQ <= 1e140 s0 10^e0 n!/n^n (1 + 1e-6), and by Stirling's
// bound n!/n^n <= sqrt(2 pi n) e^(1/(12 n) - n).  When that is below 1e-470,
// eQ (a multiple of 140) is at most -560, pow(10, eQ) is exactly 0 and so is
// p.  A margin of 50 decades covers the rounding of this estimate.
bool factorial_loop_gives_zero(double s0, int64_t e0, int n) {
    if (!(s0 >= 1e-140 && s0 < HUGE_VAL)) return false;
    const double nd = static_cast<double>(n);
    const double bound = std::log10(s0) + static_cast<double>(e0) +
                         0.5 * std::log10(6.283185307179586 * nd) + 0.04 -
                         nd * 0.4342944819032518;
    return bound < -610.0;
}

} // namespace

KS_EXPORT SEXP pKolmogorov2x(SEXP statistic, SEXP sn) {
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

    Guard g = {{nullptr, nullptr, nullptr}, PROTECT(R_MakeUnwindCont()), 0.0};
    double *H = take(&g, mm);
    double *Q = take(&g, mm);

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
    // time in ascending order.  Strictly inside, every such element starts
    // at 1, so its result depends on i - j alone: f[r] = ((1/1)/2).../r is
    // computed once per diagonal (in Q, which is not needed yet), making
    // this O(m^2) instead of O(m^3) with the very same roundings.  The
    // first column and the last row start from their own values and get
    // their divisions one by one.
    if (m > 2) {
        double *f = Q;
        f[0] = 1.0;
        for (int r = 1; r < m - 1; r++) f[r] = f[r - 1] / static_cast<double>(r);
        for (int i = 1; i < m - 1; i++)
            for (int j = 1; j <= i; j++) H[i * m + j] = f[i - j + 1];
    }
    for (int i = 0; i < m; i++)
        for (int r = 1; r <= i + 1; r++) H[i * m] = H[i * m] / static_cast<double>(r);
    for (int j = 1; j < m; j++)
        for (int r = 1; r <= m - j; r++)
            H[(m - 1) * m + j] = H[(m - 1) * m + j] / static_cast<double>(r);

    int64_t eQ = 0;
    m_power(H, Q, &eQ, m, n, &g);

    // Multiply in n!/n^n one factor at a time, moving 140 decades into the
    // exponent whenever s would otherwise drift towards underflow.  The
    // index is 64-bit: with n = INT_MAX a 32-bit i <= n would never end.
    //
    // Up to 2^31 steps of a division chain take about 20 s, while the
    // matrix for such n is often tiny, so the loop ends as soon as its
    // outcome is known.  Some values of s are fixed points of a step: +-0
    // and -inf stay as they are and move 140 decades each time, NaN and +inf
    // stay as they are and move nothing (a power whose elements overflowed
    // ends here).  And a positive s whose product with n!/n^n must end below
    // 1e-420 gives exactly +0 (see factorial_loop_gives_zero).
    double s = Q[static_cast<size_t>(k - 1) * static_cast<size_t>(m) + static_cast<size_t>(k - 1)];
    const double nd = static_cast<double>(n);
    double p;
    if (factorial_loop_gives_zero(s, eQ, n)) {
        p = 0.0;
    } else {
        for (int64_t i = 1; i <= n; i++) {
            if (s == 0.0 || !std::isfinite(s)) {
                if (!(s > 0.0) && !std::isnan(s)) eQ -= 140 * (static_cast<int64_t>(n) - i + 1);
                break;
            }
            s = (s * static_cast<double>(i)) / nd;
            if (s < 1e-140) {
                s = s * 1e140;
                eQ -= 140;
            }
            if ((i & 0x3fffff) == 0) poll_interrupt(&g, 0x1p24);
        }
        p = std::pow(10.0, static_cast<double>(eQ)) * s;
    }

    give_back(&g, H);
    give_back(&g, Q);
    UNPROTECT(1);
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

// The band of one row.  A cell (i, j) is inside when |i/m - j/n| <= q as
// computed, with "> q" meaning outside, so a point on the threshold and a
// NaN comparison are inside.  Because i/m - j/n is computed with monotone
// roundings, the inside cells of a row form one run [lo, hi], and both ends
// move only rightwards from one row to the next: each row's run is found by
// advancing the previous one, with the very same test on the very same
// doubles as a scan over every column would make.
struct Band {
    int lo, hi;   // current run; lo > hi when a row has none
};

inline bool outside(double x, int j, double nd, double q) {
    return std::fabs(x - static_cast<double>(j) / nd) > q;
}

// Moves the band to row x; returns false when the row has no inside cell.
inline bool band_advance(Band *b, double x, int n, double nd, double q) {
    int lo = b->lo;
    // Cells left of the band are those with x - j/n > q.
    while (lo <= n && x - static_cast<double>(lo) / nd > q) lo++;
    if (lo > n || outside(x, lo, nd, q)) return false;
    int hi = b->hi < lo ? lo : b->hi;
    while (hi < n && !outside(x, hi + 1, nd, q)) hi++;
    b->lo = lo;
    b->hi = hi;
    return true;
}

// Lets R act on a pending interrupt or time limit every few million cells;
// the sweeps below also call it every 2^16 or 2^18 columns, so that a wide
// band (up to 2^31 columns) does not delay it by seconds.  The work vectors
// come from R's transient allocator, which R reclaims itself when it jumps,
// so the check may jump straight out.  Cells are counted in doubles: one
// four-row sweep of a wide band passes 2^31.
inline void poll_rows(double *work, double cells) {
    *work += cells;
    if (*work < 0x1p22) return;
    *work = 0.0;
    R_CheckUserInterrupt();
}

// The number of cells from lo to hi, as a double.
inline double span_cells(int lo, int hi) {
    return static_cast<double>(hi) - static_cast<double>(lo) + 1.0;
}

// Bands and weights of rows i .. i+3 for the four-row sweeps; false when
// one of them has no inside cell.
inline bool band_block(Band *b, Band rb[4], double w[4], int i, int n, double md, double nd,
                       double q) {
    for (int k = 0; k < 4; k++) {
        const double x = static_cast<double>(i + k) / md;
        w[k] = static_cast<double>(i + k) / static_cast<double>(i + k + n);
        if (!band_advance(b, x, n, nd, q)) return false;
        rb[k] = *b;
    }
    return true;
}

// Row 0 of both passes: ones on the leading run {j : j/n <= q}, zeros after.
inline int smirnov_row0(double *u, int n, double nd, double q) {
    // j/n is rounded monotonically, so "j/n > q" holds from some j on: the
    // last j where it does not is found by bisection, with the same test.
    int hi = -1, top = n + 1; // the answer lies in [hi, top)
    while (top - hi > 1) {
        const int mid = hi + (top - hi) / 2;
        if (static_cast<double>(mid) / nd > q) top = mid;
        else hi = mid;
    }
    for (int j = 0; j <= hi; j++) u[j] = 1.0;
    for (int j = hi + 1; j <= n; j++) u[j] = 0.0;
    return hi;
}

// The plain rows, over the band only: cells outside it are 0 in every row,
// so only the cells the band has just left need writing.  Returns 1 when
// some value fell below smirnov_tiny (the caller then starts again with
// per-cell exponents) and 0 otherwise; *result receives u[n].
int smirnov_rows(double *u, int m, int n, double q, double *result) {
    const double md = static_cast<double>(m);
    const double nd = static_cast<double>(n);
    double work = 0.0;
    Band b = {0, smirnov_row0(u, n, nd, q)};
    if (b.hi < 0) {
        *result = u[n];
        return 0;
    }
    int i = 1;
    // Four rows at a time, swept column by column.  Each cell still gets
    // exactly its own two operations, u[j] * w + u[j-1], with the value
    // above it from the previous row and the value to its left from its own
    // row: only the order in which cells of different rows are visited
    // changes.  The four additions of one column depend on each other only
    // through the products, so the four serial chains overlap instead of
    // each row waiting out the latency of every addition.  A cell outside
    // its row's band is 0; so is the missing left neighbour of column 0
    // (adding +0 to a non-negative product changes nothing).
    for (; i + 3 <= m; i += 4) {
        Band rb[4];
        double w[4];
        const int old_lo = b.lo;
        if (!band_block(&b, rb, w, i, n, md, nd, q)) {
            // No path crosses one of these rows: every count from it on is 0.
            *result = 0.0;
            return 0;
        }
        for (int j = old_lo; j < rb[0].lo; j++) u[j] = 0.0;
        const unsigned span0 = static_cast<unsigned>(rb[0].hi - rb[0].lo);
        const unsigned span1 = static_cast<unsigned>(rb[1].hi - rb[1].lo);
        const unsigned span2 = static_cast<unsigned>(rb[2].hi - rb[2].lo);
        const unsigned span3 = static_cast<unsigned>(rb[3].hi - rb[3].lo);
        double c0 = 0.0, c1 = 0.0, c2 = 0.0, c3 = 0.0;
        bool tiny = false;
        for (int j = rb[0].lo; j <= rb[3].hi; j++) {
            if ((j & 0x3ffff) == 0) poll_rows(&work, 4.0 * 0x40000);
            double v = u[j] * w[0] + c0;
            c0 = static_cast<unsigned>(j - rb[0].lo) <= span0 ? v : 0.0;
            v = c0 * w[1] + c1;
            c1 = static_cast<unsigned>(j - rb[1].lo) <= span1 ? v : 0.0;
            v = c1 * w[2] + c2;
            c2 = static_cast<unsigned>(j - rb[2].lo) <= span2 ? v : 0.0;
            v = c2 * w[3] + c3;
            c3 = static_cast<unsigned>(j - rb[3].lo) <= span3 ? v : 0.0;
            u[j] = c3;
            tiny |= ((c0 > 0.0) & (c0 < smirnov_tiny)) | ((c1 > 0.0) & (c1 < smirnov_tiny)) |
                    ((c2 > 0.0) & (c2 < smirnov_tiny)) | ((c3 > 0.0) & (c3 < smirnov_tiny));
        }
        if (tiny) return 1;
        poll_rows(&work, 4.0 * span_cells(rb[0].lo, rb[3].hi));
    }
    for (; i <= m; i++) {
        const double w = static_cast<double>(i) / static_cast<double>(i + n);
        const double x = static_cast<double>(i) / md;
        const int old_lo = b.lo;
        if (!band_advance(&b, x, n, nd, q)) {
            *result = 0.0;
            return 0;
        }
        for (int j = old_lo; j < b.lo; j++) u[j] = 0.0;
        int j = b.lo;
        bool tiny = false;
        if (j == 0) {
            u[0] = u[0] * w;
            tiny = u[0] > 0.0 && u[0] < smirnov_tiny;
            j = 1;
        }
        double prev = u[j - 1];
        for (; j <= b.hi; j++) {
            if ((j & 0x3ffff) == 0) poll_rows(&work, 0x40000);
            prev = u[j] * w + prev;
            u[j] = prev;
            tiny |= (prev > 0.0) & (prev < smirnov_tiny);
        }
        if (tiny) return 1;
        poll_rows(&work, span_cells(b.lo, b.hi));
    }
    *result = u[n];
    return 0;
}

// Exact scaling by 2^k for -1022 <= k <= 1023, through the exponent bits.
inline double pow2(int k) {
    const uint64_t bits = static_cast<uint64_t>(k + 1023) << 52;
    double r;
    std::memcpy(&r, &bits, sizeof r);
    return r;
}

// Splits a positive normal double into a mantissa in [0.5, 1) and an
// exponent, as frexp does.
inline double split(double s, int64_t *e) {
    uint64_t bits;
    std::memcpy(&bits, &s, sizeof bits);
    *e = static_cast<int64_t>((bits >> 52) & 0x7ff) - 1022;
    bits = (bits & ~(uint64_t(0x7ff) << 52)) | (uint64_t(1022) << 52);
    double r;
    std::memcpy(&r, &bits, sizeof r);
    return r;
}

// a * 2^ea + b * 2^eb, with a = (mantissa times w) in [2^-32, 1) and b a
// mantissa in [0.5, 1), or either 0; the result is renormalised.  Aligned
// to the larger exponent the smaller term is scaled exactly while it stays
// normal; once it would not, it lies below 2^-990 times the larger term,
// far below half an ulp, and the rounded sum is the larger term either way.
// So the sum rounds exactly as the plain sum of the two values would.
inline void wide_sum(double a, int64_t ea, double b, int64_t eb, double *r, int64_t *er) {
    double s;
    int64_t e;
    if (a == 0.0) {
        *r = b;
        *er = eb;
        return;
    }
    if (b == 0.0) {
        s = a;
        e = ea;
    } else if (ea >= eb) {
        const int64_t k = eb - ea;
        s = a + (k >= -1000 ? b * pow2(static_cast<int>(k)) : 0.0);
        e = ea;
    } else {
        const int64_t k = ea - eb;
        s = (k >= -1000 ? a * pow2(static_cast<int>(k)) : 0.0) + b;
        e = eb;
    }
    int64_t k;
    *r = split(s, &k);
    *er = e + k;
}

// The same rows with value u[j] * 2^ex[j] per cell, over the band only.
double smirnov_rows_wide(double *u, int64_t *ex, int m, int n, double q) {
    const double md = static_cast<double>(m);
    const double nd = static_cast<double>(n);
    double work = 0.0;
    Band b = {0, smirnov_row0(u, n, nd, q)};
    // Row 0 holds ones, 0.5 * 2^1, and zeros.
    for (int j = 0; j <= n; j++) {
        ex[j] = u[j] == 0.0 ? 0 : 1;
        u[j] = u[j] * 0.5;
    }
    if (b.hi < 0) return 0.0;
    int i = 1;
    // Four rows at a time, column by column, as in the plain rows.
    for (; i + 3 <= m; i += 4) {
        Band rb[4];
        double w[4];
        const int old_lo = b.lo;
        if (!band_block(&b, rb, w, i, n, md, nd, q)) return 0.0;
        for (int j = old_lo; j < rb[0].lo; j++) {
            u[j] = 0.0;
            ex[j] = 0;
        }
        double cm[4] = {0.0, 0.0, 0.0, 0.0};
        int64_t ce[4] = {0, 0, 0, 0};
        for (int j = rb[0].lo; j <= rb[3].hi; j++) {
            if ((j & 0xffff) == 0) poll_rows(&work, 16.0 * 0x10000);
            double am = u[j];
            int64_t ae = ex[j];
            for (int k = 0; k < 4; k++) {
                double rm;
                int64_t re;
                wide_sum(am * w[k], ae, cm[k], ce[k], &rm, &re);
                if (j < rb[k].lo || j > rb[k].hi) {
                    rm = 0.0;
                    re = 0;
                }
                cm[k] = am = rm;
                ce[k] = ae = re;
            }
            u[j] = am;
            ex[j] = ae;
        }
        poll_rows(&work, 16.0 * span_cells(rb[0].lo, rb[3].hi));
    }
    for (; i <= m; i++) {
        const double w = static_cast<double>(i) / static_cast<double>(i + n);
        const double x = static_cast<double>(i) / md;
        const int old_lo = b.lo;
        if (!band_advance(&b, x, n, nd, q)) return 0.0;
        for (int j = old_lo; j < b.lo; j++) {
            u[j] = 0.0;
            ex[j] = 0;
        }
        int j = b.lo;
        if (j == 0) {
            wide_sum(u[0] * w, ex[0], 0.0, 0, &u[0], &ex[0]);
            j = 1;
        }
        for (; j <= b.hi; j++) {
            if ((j & 0xffff) == 0) poll_rows(&work, 4.0 * 0x10000);
            wide_sum(u[j] * w, ex[j], u[j - 1], ex[j - 1], &u[j], &ex[j]);
        }
        poll_rows(&work, 4.0 * span_cells(b.lo, b.hi));
    }
    // Back to a plain double: one rounding, to a subnormal or to 0 only when
    // the probability itself is that small.
    const int64_t e = ex[n];
    return std::ldexp(u[n], e < -2000 ? -2000 : (e > 2000 ? 2000 : static_cast<int>(e)));
}

} // namespace

KS_EXPORT SEXP pSmirnov2x(SEXP statistic, SEXP sm, SEXP sn) {
    int m = Rf_asInteger(sm);
    int n = Rf_asInteger(sn);
    const double d = Rf_asReal(statistic);

    // Sizes must be non-negative and leave m + n and n + 1 inside the int
    // range; anything else would index outside the work vector.  A missing
    // statistic has no probability: NA gives NA and NaN NaN, as for one
    // sample.
    if (m == NA_INTEGER || n == NA_INTEGER) return Rf_ScalarReal(NA_REAL);
    if (m < 0 || n < 0) return Rf_ScalarReal(R_NaN);
    if (std::isnan(d)) return Rf_ScalarReal(d);
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
    double p;
    if (smirnov_rows(u, m, n, q, &p) == 0) return Rf_ScalarReal(p);

    int64_t *ex = reinterpret_cast<int64_t *>(R_alloc(len, sizeof(int64_t)));
    return Rf_ScalarReal(smirnov_rows_wide(u, ex, m, n, q));
}
