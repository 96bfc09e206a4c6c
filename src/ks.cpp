// ksdist: distribution functions of two-sided Kolmogorov-Smirnov statistics.
//
// Three entry points, called from R through .Call():
//   pKS2(statistic, tol)            Kolmogorov's limiting distribution K(x)
//   pKolmogorov2x(statistic, n)     exact one-sample P(D_n < d)
//   pSmirnov2x(statistic, m, n)     exact two-sample P(D_{m,n} < d)
//
// Every result is meant to be reproducible bit for bit: each product,
// quotient and sum below is rounded on its own, in the order written, and
// the same doubles come out whatever compiler and flags built the module.
// Three layers keep it so:
//
//  1. Flags that change results and announce themselves through a macro are
//     refused at compile time (ksdist.h).
//  2. Flags that do not announce themselves (clang's -ffp-contract=fast,
//     which also overrides every contraction pragma; clang's
//     -freciprocal-math and -fassociative-math, which define no macro) cannot
//     act on arithmetic they cannot see through: every product, sum and
//     quotient goes through an empty inline-asm barrier (rmul, radd, rdiv
//     and the vector kernels below), so the optimiser can neither fuse a
//     multiply into the following add, nor regroup a sum, nor turn a
//     division into a multiplication by a reciprocal.
//  3. Whatever slips through both is caught when the package loads: R's
//     .onLoad evaluates fixed cases of each entry point and compares their
//     bit patterns with stored ones, and refuses to load on any difference.

#include "ksdist.h"
#include "smirnov_equal.h"

#include <algorithm>
#include <cstdlib>

#define R_NO_REMAP
#include <R.h>
#include <Rinternals.h>

#define KS_EXPORT extern "C" __attribute__((visibility("default")))

// The exact-arithmetic toolkit (barriers, double-double, powers of two, the
// size limits, the polling clock) comes from ksdist.h; everything here stays
// private to this file.
using namespace ks;

namespace {

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
    double *blk[4];
    SEXP cont;       // R's continuation token, protected by the caller
    PollClock clock; // when to check for interrupts next
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

// Lets R act on a pending interrupt or time limit when the clock says so.
inline void poll_interrupt(Guard *g, double work) {
    if (g->clock.due(work, 0x1p24))
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
    const int kmax = trunc_to_int(rsqrt(rsub(2.0, rlog(tol))));

    for (R_xlen_t i = 0; i < len; i++) {
        // Very long vectors stay interruptible; ans is protected meanwhile.
        if ((i & 0xffff) == 0xffff) R_CheckUserInterrupt();
        const double x = p[i];
        if (x < 1.0) {
            const double z = rdiv(-1.2337005501361697, rmul(x, x)); // -pi^2/8 / x^2
            const double w = rlog(x);
            double s = rzero();
            for (int k = 1; k < kmax; k += 2)
                s = radd(s, rexp(rsub(rmul(static_cast<double>(k * k), z), w)));
            p[i] = rdiv(s, 0.3989422804014327); // divided by 1/sqrt(2 pi)
        } else if (!(tol < 1.0)) {
            p[i] = 1.0;
        } else {
            const double z = rmul(rmul(-2.0, x), x);
            double sum = 1.0, previous;
            double sign = -1.0, k = 1.0;
            do {
                previous = sum;
                sum = radd(previous, rmul(rmul(2.0, sign), rexp(rmul(rmul(z, k), k))));
                sign = -sign;
                k = k + 1.0;
                // Stop once the step is within tol, and in any case once a
                // term no longer moves the partial sum: with tol < 0 the
                // first test alone would never end.  For tol >= 0 the second
                // test is implied by the first, so results are unchanged.
            } while (std::fabs(rsub(previous, sum)) > tol && previous != sum);
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
// Only the order of the work differs from the textbook i-j-r loop, and
// products with a zero operand are skipped (see Spans).  P is computed in
// tiles of 4 or 12 rows by 2 vectors of columns, held in registers while r
// runs up, so each B row segment loaded serves every row of the tile and
// each A element every column, and the columns go through the vector unit
// side by side.  Lanes never mix: every element keeps its own sum in its
// own order, so the bits are those of the scalar loop.  A copy of the
// tiles for each instruction set (128-bit SSE2, which every x86-64 has,
// 256-bit AVX2 and 512-bit AVX-512) is generated below; the best one the
// processor supports is chosen at run time.

enum Kernel { KERNEL_SCALAR = 0, KERNEL_SSE2 = 1, KERNEL_AVX2 = 2, KERNEL_AVX512 = 3 };

// Where the products can be non-zero.  Every element of H and of its
// powers is finite, so a product with an exact zero operand is +0 or -0,
// and adding either to a sum that started at +0 changes nothing (such a
// sum is never -0: x + (-x) is +0 when rounding to nearest).  Those
// products can be left out without changing a single bit.  H is banded (one diagonal above the
// main one, and 1/k! is exactly 0 in double from k = 178 on, so about 178
// below it), its first powers stay banded, and large powers can have long
// runs of underflowed zeros, so a tile of P only runs r over the rows of B
// where one of its columns is non-zero and over the columns of A where one
// of its rows is non-zero.  a_lo[i] .. a_hi[i] - 1 spans the non-zeros of
// row i of A, b_lo[j] .. b_hi[j] - 1 those of column j of B (lo > hi - 1
// when there are none).
struct Spans {
    uint32_t *a_lo, *a_hi, *b_lo, *b_hi;
    double *pack; // room for m x 16 doubles: one packed panel of B
    bool have;    // the spans are filled in for this product
    static size_t span_min(const uint32_t *v, size_t at, size_t len) {
        uint32_t x = v[at];
        for (size_t k = 1; k < len; k++) x = std::min(x, v[at + k]);
        return x;
    }
    static size_t span_max(const uint32_t *v, size_t at, size_t len) {
        uint32_t x = v[at];
        for (size_t k = 1; k < len; k++) x = std::max(x, v[at + k]);
        return x;
    }
};

// Fills the spans of A's rows and B's columns.  A row is scanned in from
// both ends and stops at the first non-zero, so it costs about one look per
// zero it finds (each of which saves m products) plus a few per row; a
// column's span is gathered from the rows of B, one row at a time, so that
// every look is at the next double in memory (a column read in place costs
// a cache miss per element).  A non-finite element, which should never
// occur, makes every span full (0 times it would not be 0): one branch-free
// pass over the integer bits looks for one.  Both passes poll: at the
// largest orders a pass over a matrix takes seconds.
bool all_finite(const double *X, size_t count, Guard *g) {
    uint64_t bad = 0;
    for (size_t k0 = 0; k0 < count; k0 += size_t(1) << 17) {
        const size_t k1 = std::min(count, k0 + (size_t(1) << 17));
        for (size_t k = k0; k < k1; k++) {
            uint64_t bits;
            std::memcpy(&bits, X + k, sizeof bits);
            bad |= static_cast<uint64_t>((bits & 0x7ff0000000000000ULL) == 0x7ff0000000000000ULL);
        }
        poll_interrupt(g, static_cast<double>(k1 - k0));
    }
    return bad == 0;
}

void full_spans(size_t m, Spans *sp) {
    for (size_t i = 0; i < m; i++) {
        sp->a_lo[i] = sp->b_lo[i] = 0;
        sp->a_hi[i] = sp->b_hi[i] = static_cast<uint32_t>(m);
    }
}

// The span [lo, hi) of the non-zeros of x[0 .. m - 1], lo = hi = m when
// there are none.
inline void row_span(const double *x, size_t m, uint32_t *lo_out, uint32_t *hi_out) {
    size_t lo = 0, hi = m;
    while (lo < m && x[lo] == 0.0) lo++;
    while (hi > lo && x[hi - 1] == 0.0) hi--;
    *lo_out = static_cast<uint32_t>(lo);
    *hi_out = static_cast<uint32_t>(hi);
}

void find_spans(const double *A, const double *B, size_t m, Spans *sp, Guard *g) {
    if (!all_finite(A, m * m, g) || (B != A && !all_finite(B, m * m, g))) {
        full_spans(m, sp);
        return;
    }
    for (size_t i = 0; i < m; i++) {
        row_span(A + i * m, m, &sp->a_lo[i], &sp->a_hi[i]);
        poll_interrupt(g, static_cast<double>(m));
    }
    // b_lo[j] is the first row with a non-zero in column j and b_hi[j] one
    // past the last (m and 0 for a column of zeros).
    for (size_t j = 0; j < m; j++) {
        sp->b_lo[j] = static_cast<uint32_t>(m);
        sp->b_hi[j] = 0;
    }
    for (size_t r = 0; r < m; r++) {
        const double *b = B + r * m;
        uint32_t lo, hi;
        if (B == A) {
            lo = sp->a_lo[r];
            hi = sp->a_hi[r];
        } else {
            row_span(b, m, &lo, &hi);
        }
        const uint32_t r32 = static_cast<uint32_t>(r);
        for (size_t j = lo; j < hi; j++) {
            if (b[j] != 0.0) {
                if (sp->b_lo[j] == m) sp->b_lo[j] = r32;
                sp->b_hi[j] = r32 + 1;
            }
        }
        poll_interrupt(g, static_cast<double>(m));
    }
}

// Rows [i0, i1) and columns [j0, j1) of P, in i-r-j order: the last rows
// and columns that the tiles leave over, or the whole product for the
// scalar kernel.  With spans (sp->have), row i only runs r over the
// non-zeros of A's row i (the skipped products have an exact zero operand).
// A narrow strip of columns is first copied into the panel block: read in
// place it would cost a cache and TLB miss per element, one row of B apart.
// Every row polls, so that the scalar kernel and the strips of a large
// order stay interruptible.
void m_multiply_edge(const double *A, const double *B, double *P, size_t m, size_t i0,
                     size_t i1, size_t j0, size_t j1, const Spans *sp, Guard *g) {
    if (i0 >= i1 || j0 >= j1) return;
    const size_t w = j1 - j0;
    const double *bj = B + j0;
    size_t stride = m;
    if (w < 16 && w < m) {
        for (size_t r = 0; r < m; r++)
            for (size_t j = 0; j < w; j++) sp->pack[r * w + j] = B[r * m + j0 + j];
        bj = sp->pack;
        stride = w;
        poll_interrupt(g, static_cast<double>(m) * static_cast<double>(w));
    }
    for (size_t i = i0; i < i1; i++) {
        double *p = P + i * m + j0;
        for (size_t j = 0; j < w; j++) p[j] = rzero();
        const size_t r0 = sp->have ? sp->a_lo[i] : 0, r1 = sp->have ? sp->a_hi[i] : m;
        for (size_t r = r0; r < r1; r++) {
            const double a = A[i * m + r];
            const double *b = bj + r * stride;
            for (size_t j = 0; j < w; j++) p[j] = radd(p[j], rmul(a, b[j]));
        }
        poll_interrupt(g, static_cast<double>(r1 > r0 ? r1 - r0 : 1) * static_cast<double>(w));
    }
}

// Tiles of 4 rows by 2 vectors of type VT (W doubles each), for the rows
// below m4 and the columns below mw; the caller does the edges.  CONS is
// the asm constraint that holds a VT in a register.
// The accumulators are named variables, one pair per row, so that the
// compiler keeps them all in registers; a row list macro (KS_ROWS4,
// KS_ROWS12) writes the per-row code once per row.
#define KS_ROWS4(X) X(0) X(1) X(2) X(3)
#define KS_ROWS12(X) X(0) X(1) X(2) X(3) X(4) X(5) X(6) X(7) X(8) X(9) X(10) X(11)
#define KS_TILE_ZERO(k)                                                                  \
    vt c##k##0 = vt{};                                                                   \
    __asm__("" : "+" KS_CONS(c##k##0));                                                  \
    vt c##k##1 = c##k##0;
#define KS_TILE_STEP(k)                                                                  \
    {                                                                                    \
        const double ar = a[k * m + r];                                                  \
        vt p0 = ar * b0, p1 = ar * b1;                                                   \
        __asm__("" : "+" KS_CONS(p0), "+" KS_CONS(p1));                                  \
        c##k##0 = c##k##0 + p0;                                                          \
        c##k##1 = c##k##1 + p1;                                                          \
        __asm__("" : "+" KS_CONS(c##k##0), "+" KS_CONS(c##k##1));                        \
    }
#define KS_TILE_STORE(k)                                                                 \
    *reinterpret_cast<vt *>(P + (i + k) * m + j) = c##k##0;                              \
    *reinterpret_cast<vt *>(P + (i + k) * m + j + w) = c##k##1;

// Tiles of ROWS rows by 2 vectors of type VT (W doubles each), over rows
// [i0, i1) and columns [j0, j1), both whole numbers of tiles.
#define KS_DENSE_TILES(NAME, ATTR, VT, W, ROWS, ROWLIST)                                 \
    ATTR void NAME(const double *A, const double *B, double *P, size_t m, size_t i0,     \
                   size_t i1, size_t j0, size_t j1, const Spans *sp, Guard *g) {         \
        typedef VT vt;                                                                   \
        constexpr size_t w = W, cols = 2 * W;                                            \
        for (size_t j = j0; j < j1; j += cols) {                                         \
            const size_t blo = sp->span_min(sp->b_lo, j, cols);                          \
            const size_t bhi = sp->span_max(sp->b_hi, j, cols);                          \
            /* The rows of this panel of B, side by side in one block: the */            \
            /* tiles below then read it in order instead of one page per row. */         \
            for (size_t r = blo; r < bhi; r++)                                           \
                std::memcpy(sp->pack + (r - blo) * cols, B + r * m + j, cols * sizeof(double)); \
            for (size_t i = i0; i < i1; i += ROWS) {                                     \
                const size_t r0 = std::max(blo, sp->span_min(sp->a_lo, i, ROWS));       \
                const size_t r1 = std::min(bhi, sp->span_max(sp->a_hi, i, ROWS));       \
                const double *a = A + i * m;                                             \
                ROWLIST(KS_TILE_ZERO)                                                    \
                const double *b = sp->pack + (r0 - blo) * cols;                          \
                for (size_t r = r0; r < r1; r++, b += cols) {                            \
                    const vt b0 = *reinterpret_cast<const vt *>(b);                      \
                    const vt b1 = *reinterpret_cast<const vt *>(b + w);                  \
                    ROWLIST(KS_TILE_STEP)                                                \
                }                                                                        \
                ROWLIST(KS_TILE_STORE)                                                   \
                poll_interrupt(g, static_cast<double>(ROWS * cols) *                     \
                                      static_cast<double>(r1 > r0 ? r1 - r0 : 1));       \
            }                                                                            \
        }                                                                                \
    }

#if defined(__x86_64__)
// The asm constraint that holds a vector in a register: "x" (xmm/ymm 0-15)
// for SSE2 and AVX2, "v" (all 32 zmm registers) for AVX-512.
#define KS_CONS(x) "x"(x)
KS_DENSE_TILES(tiles_sse2, , v2d, 2, 4, KS_ROWS4)
KS_DENSE_TILES(tiles_avx2, __attribute__((target("avx2"))), v4d, 4, 4, KS_ROWS4)
#undef KS_CONS
#define KS_CONS(x) "v"(x)
KS_DENSE_TILES(tiles_avx512, __attribute__((target("avx512f"))), v8d, 8, 12, KS_ROWS12)
#undef KS_CONS
#endif

// The kernel this call uses: the widest the processor supports, unless the
// environment variable KSDIST_KERNEL names a narrower one ("scalar", "sse2",
// "avx2", "avx512").  All of them give the same bits; the variable exists so that the
// tests and benchmarks can run each one on one machine.
Kernel pick_kernel() {
    int best = KERNEL_SCALAR;
#if defined(__x86_64__)
    best = KERNEL_SSE2;
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) best = KERNEL_AVX2;
    if (__builtin_cpu_supports("avx512f")) best = KERNEL_AVX512;
#endif
    const char *want = std::getenv("KSDIST_KERNEL");
    if (want && *want) {
        int w = best;
        if (!std::strcmp(want, "scalar")) w = KERNEL_SCALAR;
        else if (!std::strcmp(want, "sse2")) w = KERNEL_SSE2;
        else if (!std::strcmp(want, "avx2")) w = KERNEL_AVX2;
        else if (!std::strcmp(want, "avx512")) w = KERNEL_AVX512;
        if (w < best) best = w;
    }
    return static_cast<Kernel>(best);
}

void m_multiply(const double *A, const double *B, double *P, int m_, Kernel kern, Spans *sp,
                Guard *g) {
    if (m_ <= 0) return;
    const size_t m = static_cast<size_t>(m_);
    size_t m4 = 0, mw = 0; // rows [0, m4) x columns [0, mw) done by tiles
    sp->have = false;
#if defined(__x86_64__)
    // Small orders have few zeros to skip, and looking for them would cost
    // as much as the products it saves.
    if (kern != KERNEL_SCALAR) {
        if (m >= 96) find_spans(A, B, m, sp, g);
        else full_spans(m, sp);
        sp->have = true;
        poll_interrupt(g, 2.0 * static_cast<double>(m) * static_cast<double>(m));
    }
    // The widest tiles cover what they can (rows and columns in whole
    // tiles); the narrower AVX2 tiles then the strips of rows below and of
    // columns to the right, and the scalar loop the last few of each.
    // Tall tiles only pay where the strips are a small part of the work.
    if (kern == KERNEL_AVX512 && m < 96) kern = KERNEL_AVX2;
    if (kern == KERNEL_AVX512) {
        const size_t r12 = m - m % 12, c16 = m - m % 16;
        m4 = m - m % 4;
        mw = m - m % 8;
        tiles_avx512(A, B, P, m, 0, r12, 0, c16, sp, g);
        tiles_avx2(A, B, P, m, r12, m4, 0, c16, sp, g);
        tiles_avx2(A, B, P, m, 0, m4, c16, mw, sp, g);
    } else if (kern == KERNEL_AVX2) {
        m4 = m - m % 4;
        mw = m - m % 8;
        tiles_avx2(A, B, P, m, 0, m4, 0, mw, sp, g);
    } else if (kern == KERNEL_SSE2) {
        m4 = m - m % 4;
        mw = m - m % 4;
        tiles_sse2(A, B, P, m, 0, m4, 0, mw, sp, g);
    }
#endif
    // What the tiles do not cover: the last rows below m4, and the columns
    // from mw on in every row.
    m_multiply_edge(A, B, P, m, m4, m, 0, mw, sp, g);
    m_multiply_edge(A, B, P, m, 0, m, mw, m, sp, g);
}

// V 10^e = A^n, n >= 1, by binary exponentiation on the way back up from
// the base level.  Each level takes its scratch block only after the level
// below has released its own, so at most three m x m blocks (A, V and one
// scratch) are alive at once.  After each level, if the centre element has
// passed 1e140, the whole of V is scaled down by 1e-140 together.
// dst = src, mm doubles, a megabyte at a time with an interrupt check in
// between: a copy of 2^31 doubles takes seconds the first time its pages
// are touched.
void copy_block(double *dst, const double *src, size_t mm, Guard *g) {
    for (size_t i = 0; i < mm; i += size_t(1) << 17) {
        const size_t len = std::min(mm - i, size_t(1) << 17);
        std::memcpy(dst + i, src + i, len * sizeof(double));
        poll_interrupt(g, static_cast<double>(len));
    }
}

// One element of A B, summed in ascending r from +0 with each product
// rounded before it is added: the bits every kernel gives that element.
double element(const double *A, const double *B, size_t m, size_t i, size_t j) {
    double s = rzero();
    for (size_t r = 0; r < m; r++) s = radd(s, rmul(A[i * m + r], B[r * m + j]));
    return s;
}

void m_power(const double *A, double *V, int64_t *e, int m, int n, Kernel kern, Spans *sp,
             Guard *g) {
    const size_t mm = static_cast<size_t>(m) * static_cast<size_t>(m);
    if (n == 1) {
        copy_block(V, A, mm, g);
        *e = 0;
        return;
    }
    m_power(A, V, e, m, n / 2, kern, sp, g);
    double *B = take(g, mm);
    m_multiply(V, V, B, m, kern, sp, g);
    if (n % 2 == 0)
        copy_block(V, B, mm, g);
    else
        m_multiply(A, B, V, m, kern, sp, g);
    *e = 2 * *e;
    const size_t c = static_cast<size_t>(m / 2) * static_cast<size_t>(m) + static_cast<size_t>(m / 2);
    if (V[c] > 1e140) {
        for (size_t i = 0; i < mm; i++) {
            V[i] = rmul(V[i], 1e-140);
            if ((i & 0xfffff) == 0xfffff) poll_interrupt(g, 0x1p20);
        }
        *e += 140;
    }
    give_back(g, B);
}

// The centre element of A^n, scaled as m_power would leave it, in
// V[centre]; the rest of V is left as the level below made it.  Only the
// centre is wanted at the top, so the last squaring needs just the centre
// column of V V (m^2 work) when n is odd, or its centre element when n is
// even, instead of one or two full products.
void m_power_centre(const double *A, double *V, int64_t *e, int m, int n, Kernel kern,
                    Spans *sp, Guard *g) {
    if (n == 1) {
        m_power(A, V, e, m, n, kern, sp, g);
        return;
    }
    const size_t ms = static_cast<size_t>(m), h = ms / 2, c = h * ms + h;
    m_power(A, V, e, m, n / 2, kern, sp, g);
    double centre;
    if (n % 2 == 0) {
        centre = element(V, V, ms, h, h);
    } else {
        double *col = take(g, ms); // column h of V V
        for (size_t r = 0; r < ms; r++) {
            col[r] = element(V, V, ms, r, h);
            poll_interrupt(g, static_cast<double>(ms));
        }
        centre = rzero();
        for (size_t r = 0; r < ms; r++) centre = radd(centre, rmul(A[h * ms + r], col[r]));
        give_back(g, col);
    }
    V[c] = centre;
    *e = 2 * *e;
    if (V[c] > 1e140) {
        V[c] = rmul(V[c], 1e-140);
        *e += 140;
    }
}

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

// H, m x m (H came zeroed from the allocator), for n d = k - h.  Ones on
// and below the diagonal and on the first superdiagonal; strictly inside
// (rows 1..m-2, columns 1..i) element (i, j) is then divided by 1, 2, ...,
// i - j + 1 in turn, so its value depends on i - j alone: f[r] =
// ((1/1)/2).../r is computed once per diagonal (in scratch, room for m
// doubles), with the very same roundings.  f[r] is exactly 0 from r of
// about 178 on: only the band below the diagonal is written, O(m) work per
// row.  The first column and the last row lose the powers of h, the corner
// loses h^m twice and gets (2h - 1)^m back when 2h > 1, and then they get
// their divisions one by one.
void build_matrix(double *H, double *scratch, int m, double h, Guard *g) {
    const size_t ms = static_cast<size_t>(m);
    size_t band = ms; // f[r] == 0 for r >= band
    if (m > 2) {
        double *f = scratch;
        f[0] = 1.0;
        for (size_t r = 1; r < ms - 1; r++) {
            f[r] = rdiv(f[r - 1], static_cast<double>(r));
            if (f[r] == 0.0 && band == ms) band = r;
        }
        for (size_t i = 1; i < ms - 1; i++) {
            const size_t j0 = (i + 1 > band) ? i + 1 - band + 1 : 1;
            for (size_t j = j0; j <= i; j++) H[i * ms + j] = f[i - j + 1];
            // A row of H lies on pages of its own, written for the first time:
            // count those as work too.
            poll_interrupt(g, static_cast<double>(i - j0 + 1) + 1536.0);
        }
    }
    for (size_t i = 0; i + 1 < ms; i++) H[i * ms + i + 1] = 1.0;
    const size_t last = (ms - 1) * ms;
    for (size_t i = 0; i < ms; i++) {
        H[i * ms] = 1.0;
        poll_interrupt(g, 512.0); // a fresh page for each row of a large order
    }
    for (size_t j = 0; j < ms; j++) H[last + j] = 1.0;
    for (size_t i = 0; i < ms; i++) {
        H[i * ms] = rsub(H[i * ms], rpow(h, static_cast<double>(i + 1)));
        H[last + i] = rsub(H[last + i], rpow(h, static_cast<double>(ms - i)));
    }
    if (rsub(radd(h, h), 1.0) > 0.0)
        H[last] = radd(rpow(rsub(rmul(2.0, h), 1.0), static_cast<double>(m)), H[last]);
    // A value that has reached 0 stays 0 (of its sign), so a chain of
    // divisions stops there.
    for (size_t i = 0; i < ms; i++) {
        double v = H[i * ms];
        size_t r = 1;
        for (; r <= i + 1 && v != 0.0; r++) v = rdiv(v, static_cast<double>(r));
        H[i * ms] = v;
        poll_interrupt(g, static_cast<double>(r));
    }
    for (size_t j = 1; j < ms; j++) {
        double v = H[last + j];
        for (size_t r = 1; r <= ms - j && v != 0.0; r++) v = rdiv(v, static_cast<double>(r));
        H[last + j] = v;
    }
}

// n!/n^n times s 10^eQ, multiplied in one factor at a time, moving 140
// decades into the exponent whenever s would otherwise drift towards
// underflow; the exponent is applied at the very end.  The index is 64-bit:
// with n = INT_MAX a 32-bit i <= n would never end.
//
// Up to 2^31 steps of a division chain take about 20 s, while the matrix
// for such n is often tiny, so the loop ends as soon as its outcome is
// known.  Some values of s are fixed points of a step: +-0 and -inf stay as
// they are and move 140 decades each time, NaN and +inf stay as they are
// and move nothing (a power whose elements overflowed ends here).  And a
// positive s whose product with n!/n^n must end below 1e-420 gives exactly
// +0 (see factorial_loop_gives_zero).
double apply_factorial(double s, int64_t eQ, int n, Guard *g) {
    if (factorial_loop_gives_zero(s, eQ, n)) return 0.0;
    const double nd = static_cast<double>(n);
    for (int64_t i = 1; i <= n; i++) {
        if (s == 0.0 || !std::isfinite(s)) {
            if (!(s > 0.0) && !std::isnan(s)) eQ -= 140 * (static_cast<int64_t>(n) - i + 1);
            break;
        }
        s = rdiv(rmul(s, static_cast<double>(i)), nd);
        if (s < 1e-140) {
            s = rmul(s, 1e140);
            eQ -= 140;
        }
        if ((i & 0x3fffff) == 0) poll_interrupt(g, 0x1p24);
    }
    return rmul(rpow(10.0, static_cast<double>(eQ)), s);
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
    const double t = rmul(d, static_cast<double>(n));
    if (t <= -1.0) return Rf_ScalarReal(0.0);
    if (!(t < KOLMOGOROV_MAX_ND)) return Rf_ScalarReal(d >= 1.0 ? 1.0 : R_NaN);

    const int k = static_cast<int>(t) + 1;
    const int m = 2 * k - 1;
    const double h = rsub(static_cast<double>(k), t);
    const size_t ms = static_cast<size_t>(m);
    const size_t mm = ms * ms;
    const Kernel kern = pick_kernel();

    Guard g = {{nullptr, nullptr, nullptr, nullptr}, PROTECT(R_MakeUnwindCont()), PollClock()};
    double *H = take(&g, mm);
    double *Q = take(&g, mm);
    build_matrix(H, Q, m, h, &g); // Q is not needed yet: scratch for the build

    // Spans of non-zeros for the products (four 32-bit indices per row) and
    // room for a packed panel of 16 columns: on the stack for small orders,
    // where an allocation would cost as much as the products.
    Spans sp;
    double small_block[18 * 64];
    double *block = ms <= 64 ? small_block : take(&g, 18 * ms);
    uint32_t *idx = reinterpret_cast<uint32_t *>(block + 16 * ms);
    sp = {idx, idx + ms, idx + 2 * ms, idx + 3 * ms, block, false};
    int64_t eQ = 0;
    m_power_centre(H, Q, &eQ, m, n, kern, &sp, &g);
    const double s = Q[static_cast<size_t>(k - 1) * ms + static_cast<size_t>(k - 1)];
    if (block != small_block) give_back(&g, block);
    give_back(&g, H);
    give_back(&g, Q);
    const double p = apply_factorial(s, eQ, n, &g);
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
// d = 1.5).  So the rows carry one binary exponent per block of 64 columns,
// with exact power-of-two rescaling between blocks: the same roundings as
// long as nothing underflows, so the bits of every result that never came
// near underflow are unchanged, and the correct probability otherwise, at
// the speed of plain doubles.  Should a block's values ever spread beyond
// what one exponent can hold, the rows are computed again with a private
// exponent per cell, slower but with the same roundings.
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
    return std::fabs(rsub(x, rdiv(static_cast<double>(j), nd))) > q;
}

// Moves the band to row x; returns false when the row has no inside cell.
inline bool band_advance(Band *b, double x, int n, double nd, double q) {
    int lo = b->lo;
    // Cells left of the band are those with x - j/n > q.
    while (lo <= n && rsub(x, rdiv(static_cast<double>(lo), nd)) > q) lo++;
    if (lo > n || outside(x, lo, nd, q)) return false;
    int hi = b->hi < lo ? lo : b->hi;
    while (hi < n && !outside(x, hi + 1, nd, q)) hi++;
    b->lo = lo;
    b->hi = hi;
    return true;
}

// Lets R act on a pending interrupt or time limit about every 10 ms, or
// after 2^22 cells.  The sweeps below call this every 2^16 or 2^18
// columns, so that a wide band (up to 2^31 columns) does not delay it by
// seconds, nor do slow first touches of a large fresh work vector.  The
// work vectors come from R's transient allocator, which R reclaims itself
// when it jumps, so the check may jump straight out.
inline void poll_rows(PollClock *p, double cells) {
    if (p->due(cells, 0x1p22)) R_CheckUserInterrupt();
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
        const double x = rdiv(static_cast<double>(i + k), md);
        w[k] = rdiv(static_cast<double>(i + k), static_cast<double>(i + k + n));
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
        if (rdiv(static_cast<double>(mid), nd) > q) top = mid;
        else hi = mid;
    }
    // A row can hold 2^31 cells: filling it takes long enough to poll.
    for (int j0 = 0; j0 <= n; j0 += 1 << 20) {
        const int j1 = static_cast<int>(std::min<int64_t>(n, static_cast<int64_t>(j0) + (1 << 20) - 1));
        for (int j = j0; j <= j1; j++) u[j] = j <= hi ? 1.0 : 0.0;
        R_CheckUserInterrupt();
    }
    return hi;
}

// Columns j0..j1 of four rows i..i+3 (bands rb, weights w), swept column
// by column.  Each cell still gets exactly its own two operations,
// u[j] * w + u[j-1], with the value above it from the previous row and the
// value to its left from its own row: only the order in which cells of
// different rows are visited changes.  The four additions of one column
// depend on each other only through the products, so the four serial chains
// overlap instead of each row waiting out the latency of every addition.  A
// cell outside its row's band is 0; so is the missing left neighbour of
// column 0 (adding +0 to a non-negative product changes nothing).  c holds
// the four rows' values left of j0 on entry and at j1 on return; u receives
// the last row.  True when a value fell below smirnov_tiny.
inline bool cells4(double *u, const Band rb[4], const double w[4], int j0, int j1, double c[4]) {
    const unsigned span0 = static_cast<unsigned>(rb[0].hi - rb[0].lo);
    const unsigned span1 = static_cast<unsigned>(rb[1].hi - rb[1].lo);
    const unsigned span2 = static_cast<unsigned>(rb[2].hi - rb[2].lo);
    const unsigned span3 = static_cast<unsigned>(rb[3].hi - rb[3].lo);
    double c0 = c[0], c1 = c[1], c2 = c[2], c3 = c[3];
    bool tiny = false;
    for (int j = j0; j <= j1; j++) {
        double v = radd(rmul(u[j], w[0]), c0);
        c0 = static_cast<unsigned>(j - rb[0].lo) <= span0 ? v : 0.0;
        v = radd(rmul(c0, w[1]), c1);
        c1 = static_cast<unsigned>(j - rb[1].lo) <= span1 ? v : 0.0;
        v = radd(rmul(c1, w[2]), c2);
        c2 = static_cast<unsigned>(j - rb[2].lo) <= span2 ? v : 0.0;
        v = radd(rmul(c2, w[3]), c3);
        c3 = static_cast<unsigned>(j - rb[3].lo) <= span3 ? v : 0.0;
        u[j] = c3;
        tiny |= ((c0 > 0.0) & (c0 < smirnov_tiny)) | ((c1 > 0.0) & (c1 < smirnov_tiny)) |
                ((c2 > 0.0) & (c2 < smirnov_tiny)) | ((c3 > 0.0) & (c3 < smirnov_tiny));
    }
    c[0] = c0;
    c[1] = c1;
    c[2] = c2;
    c[3] = c3;
    return tiny;
}

// Columns j0..j1 of a single row with weight w, all inside its band; *prev
// holds the value left of j0 on entry and at j1 on return.  True when a
// value fell below smirnov_tiny.
inline bool cells1(double *u, double w, int j0, int j1, double *prev) {
    double p = *prev;
    bool tiny = false;
    for (int j = j0; j <= j1; j++) {
        p = radd(rmul(u[j], w), p);
        u[j] = p;
        tiny |= (p > 0.0) & (p < smirnov_tiny);
    }
    *prev = p;
    return tiny;
}

// The rows, in one of three forms that round every cell alike while
// nothing underflows: plain doubles (PlainRows), one binary exponent per
// block of columns (BlockRows), one per cell (CellRows).  The skeleton
// below is common to all three: row 0, then four rows at a time (bands and
// weights of the block, cells the band has just left set to 0, then the
// form's own sweep of the columns), then the last rows one at a time.
// Cells outside the band are 0 in every row, so only the band is swept and
// only the cells the band has just left need writing.  A form's sweep
// returns false when its values left the range it can hold; the skeleton
// then returns 1 (the caller tries the next form), else 0 with the result.
template <class Rows>
int smirnov_sweep(Rows &rows, int m, int n, double q, double *result) {
    const double md = static_cast<double>(m);
    const double nd = static_cast<double>(n);
    double *u = rows.u;
    Band b = {0, smirnov_row0(u, n, nd, q)};
    rows.start(b.hi);
    if (b.hi < 0) { // no path leaves the origin's row inside the band
        *result = 0.0;
        return 0;
    }
    int i = 1;
    for (; i + 3 <= m; i += 4) {
        Band rb[4];
        double w[4];
        const int old_lo = b.lo;
        if (!band_block(&b, rb, w, i, n, md, nd, q)) {
            // No path crosses one of these rows: every count from it on is 0.
            *result = 0.0;
            return 0;
        }
        rows.clear(old_lo, rb[0].lo);
        if (!rows.sweep4(rb, w)) return 1;
    }
    for (; i <= m; i++) {
        const double w = rdiv(static_cast<double>(i), static_cast<double>(i + n));
        const double x = rdiv(static_cast<double>(i), md);
        const int old_lo = b.lo;
        if (!band_advance(&b, x, n, nd, q)) {
            *result = 0.0;
            return 0;
        }
        rows.clear(old_lo, b.lo);
        if (!rows.sweep1(b, w)) return 1;
    }
    *result = rows.result(n);
    return 0;
}

// Plain doubles (PlainRows, and BlockRows below share the vector and the
// clock).  A value below smirnov_tiny means the range may be lost:
// the sweep reports failure and the caller starts again with block
// exponents.  Sweeps go in stretches of 2^18 columns between interrupt
// checks.
struct DoubleRows {
    double *u;
    PollClock work;
    void clear(int j0, int j1) {
        for (int j = j0; j < j1; j++) u[j] = 0.0;
    }
};

struct PlainRows : DoubleRows {
    void start(int) {}
    bool sweep4(const Band rb[4], const double w[4]) {
        double c[4] = {rzero(), rzero(), rzero(), rzero()};
        bool tiny = false;
        for (int j = rb[0].lo; j <= rb[3].hi;) {
            if ((j & 0x3ffff) == 0) poll_rows(&work, 4.0 * 0x40000);
            const int jend = std::min(rb[3].hi, (j | 0x3ffff));
            tiny |= cells4(u, rb, w, j, jend, c);
            j = jend + 1;
        }
        if (tiny) return false;
        poll_rows(&work, 4.0 * span_cells(rb[0].lo, rb[3].hi));
        return true;
    }
    bool sweep1(Band b, double w) {
        int j = b.lo;
        bool tiny = false;
        if (j == 0) {
            u[0] = rmul(u[0], w);
            tiny = u[0] > 0.0 && u[0] < smirnov_tiny;
            j = 1;
        }
        double prev = u[j - 1];
        while (j <= b.hi) {
            if ((j & 0x3ffff) == 0) poll_rows(&work, 0x40000);
            const int jend = std::min(b.hi, (j | 0x3ffff));
            tiny |= cells1(u, w, j, jend, &prev);
            j = jend + 1;
        }
        if (tiny) return false;
        poll_rows(&work, span_cells(b.lo, b.hi));
        return true;
    }
    double result(int n) const { return u[n]; }
};

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
        s = radd(a, k >= -1000 ? rmul(b, pow2(static_cast<int>(k))) : 0.0);
        e = ea;
    } else {
        const int64_t k = ea - eb;
        s = radd(k >= -1000 ? rmul(a, pow2(static_cast<int>(k))) : 0.0, b);
        e = eb;
    }
    int64_t k;
    *r = split(s, &k);
    *er = e + k;
}

// A value per cell, u[j] * 2^ex[j]: every sum through wide_sum.  Never
// fails.
struct CellRows {
    double *u;
    int64_t *ex;
    int n;
    PollClock work;
    void start(int) {
        // Row 0 holds ones, 0.5 * 2^1, and zeros.
        for (int j = 0; j <= n; j++) {
            ex[j] = u[j] == 0.0 ? 0 : 1;
            u[j] = rmul(u[j], 0.5);
            if ((j & 0xfffff) == 0xfffff) R_CheckUserInterrupt();
        }
    }
    void clear(int j0, int j1) {
        for (int j = j0; j < j1; j++) {
            u[j] = 0.0;
            ex[j] = 0;
        }
    }
    // Four rows at a time, column by column, as in the blocked rows.
    bool sweep4(const Band rb[4], const double w[4]) {
        double cm[4] = {0.0, 0.0, 0.0, 0.0};
        int64_t ce[4] = {0, 0, 0, 0};
        for (int j = rb[0].lo; j <= rb[3].hi; j++) {
            if ((j & 0xffff) == 0) poll_rows(&work, 16.0 * 0x10000);
            double am = u[j];
            int64_t ae = ex[j];
            for (int k = 0; k < 4; k++) {
                double rm;
                int64_t re;
                wide_sum(rmul(am, w[k]), ae, cm[k], ce[k], &rm, &re);
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
        return true;
    }
    bool sweep1(Band b, double w) {
        int j = b.lo;
        if (j == 0) {
            wide_sum(rmul(u[0], w), ex[0], 0.0, 0, &u[0], &ex[0]);
            j = 1;
        }
        for (; j <= b.hi; j++) {
            if ((j & 0xffff) == 0) poll_rows(&work, 4.0 * 0x10000);
            wide_sum(rmul(u[j], w), ex[j], u[j - 1], ex[j - 1], &u[j], &ex[j]);
        }
        poll_rows(&work, 4.0 * span_cells(b.lo, b.hi));
        return true;
    }
    // Back to a plain double: one rounding, to a subnormal or to 0 only
    // when the probability itself is that small.
    double result(int) const {
        const int64_t e = ex[n];
        return std::ldexp(u[n], e < -2000 ? -2000 : (e > 2000 ? 2000 : static_cast<int>(e)));
    }
};

// One binary exponent per block of smirnov_block columns: cell j stands for
// u[j] * 2^E[j / smirnov_block].  Every cell gets exactly its two
// operations, u[j] * w + u[j-1]; a value crossing into the next block is
// rescaled by the exact power of two between the blocks' exponents, and a
// block whose largest value has drifted out of [2^600, 2^900] is rescaled
// as a whole when a sweep leaves it.  Scaling by a power of two is exact,
// and as long as every value stays in [2^-990, 2^1000] or at 0 relative to
// its block, every product (by w > 2^-31) and every sum is a normal double,
// rounded exactly as with an unbounded exponent: the result is that of the
// rows with an exponent per cell and, where no value came near underflow,
// that of plain doubles, bit for bit.  A sweep fails when some value left
// that range; the caller then uses the rows with an exponent per cell.
constexpr int smirnov_block = 64;
constexpr double smirnov_huge = 0x1p1000;

// Carries the value left of block b into its scale; false when that would
// leave [smirnov_tiny, smirnov_huge] (a value that would underflow
// included).
inline bool carry_into(double *c, const int64_t *E, int b) {
    if (*c == 0.0) return true;
    const int64_t delta = E[b - 1] - E[b];
    if (delta < -1000 || delta > 1000) return false;
    *c = rmul(*c, pow2(static_cast<int>(delta)));
    return *c >= smirnov_tiny && *c <= smirnov_huge;
}

// Entering block b: a block that holds only zeros so far (everything
// right of the stored row's band is 0) takes the exponent of its left
// neighbour, so that the values carried in keep their scale.
inline bool enter_block(double *c, int nc, int64_t *E, int b, int stored_hi) {
    if (b * smirnov_block > stored_hi) E[b] = E[b - 1];
    bool ok = true;
    for (int k = 0; k < nc; k++) ok = ok & carry_into(c + k, E, b);
    return ok;
}

// The largest of top and u[j0..j1].
inline double peak(const double *u, int j0, int j1, double top) {
    for (int j = j0; j <= j1; j++) top = u[j] > top ? u[j] : top;
    return top;
}

// After a sweep has finished block b, whose stored values peak at top:
// when top has left [2^600, 2^900], the block (and the nc values being
// carried out of it) is rescaled so that top becomes about 2^850.  A block
// may then range over 2^1840 (near column 0 of a long row the counts rise
// by a factor of up to about i per column), and a sweep of four rows
// lowers it by at most 2^124 (w > 2^-31).  False when a value would leave
// the safe range, or when something overflowed (top is then infinite: an
// overflow anywhere in a sweep spreads rightwards and down into row 3).
bool leave_block(double *u, double *c, int nc, int64_t *E, int b, int n, double top) {
    if (top == 0.0 || (top >= 0x1p600 && top <= 0x1p900)) return true;
    if (!(top <= smirnov_huge)) return false;
    int64_t k;
    split(top, &k); // top = f 2^k, f in [0.5, 1)
    k -= 850; // -1840 < k < 152
    // Scaling up by up to 2^1840 goes in two exact steps (the values only
    // grow, to at most 2^850); scaling down in one.
    const double f1 = k < -1000 ? pow2(1000) : 1.0;
    const double f2 = pow2(static_cast<int>(k < -1000 ? -k - 1000 : -k));
    const int j0 = b * smirnov_block;
    const int j1 = static_cast<int>(std::min<int64_t>(n, static_cast<int64_t>(j0) + smirnov_block - 1));
    bool safe = true;
    for (int j = j0; j <= j1; j++) {
        u[j] = rmul(rmul(u[j], f1), f2);
        safe = safe & (u[j] == 0.0 || u[j] >= smirnov_tiny);
    }
    for (int t = 0; t < nc; t++) {
        c[t] = rmul(rmul(c[t], f1), f2);
        safe = safe & (c[t] == 0.0 || c[t] >= smirnov_tiny);
    }
    E[b] += k;
    return safe;
}

struct BlockRows : DoubleRows {
    int64_t *E;
    int n;
    int stored_hi; // u is 0 right of this column
    void start(int hi) {
        const int nb = n / smirnov_block + 1;
        for (int b = 0; b < nb; b++) E[b] = 0;
        stored_hi = hi;
    }
    // One block of columns at a time.
    bool sweep4(const Band rb[4], const double w[4]) {
        double c[4] = {rzero(), rzero(), rzero(), rzero()};
        bool tiny = false;
        for (int j = rb[0].lo; j <= rb[3].hi;) {
            const int blk = j / smirnov_block;
            if (j > rb[0].lo && !enter_block(c, 4, E, blk, stored_hi)) return false;
            const int jend = std::min(rb[3].hi, (blk + 1) * smirnov_block - 1);
            tiny |= cells4(u, rb, w, j, jend, c);
            if (tiny || !leave_block(u, c, 4, E, blk, n, peak(u, j, jend, 0.0))) return false;
            j = jend + 1;
            poll_rows(&work, 4.0 * smirnov_block);
        }
        stored_hi = rb[3].hi;
        return true;
    }
    bool sweep1(Band b, double w) {
        int j = b.lo;
        bool tiny = false;
        double top = 0.0;
        if (j == 0) {
            u[0] = rmul(u[0], w);
            tiny = u[0] > 0.0 && u[0] < smirnov_tiny;
            top = u[0];
            j = 1;
        }
        double prev = u[j - 1];
        while (j <= b.hi) {
            const int blk = j / smirnov_block;
            if (j % smirnov_block == 0 && j > 0) {
                if (!leave_block(u, &prev, 1, E, blk - 1, n, top)) return false;
                top = 0.0;
                if (!enter_block(&prev, 1, E, blk, stored_hi)) return false;
            }
            const int jend = std::min(b.hi, (blk + 1) * smirnov_block - 1);
            tiny |= cells1(u, w, j, jend, &prev);
            top = peak(u, j, jend, top);
            j = jend + 1;
            poll_rows(&work, smirnov_block);
        }
        if (tiny || !leave_block(u, &prev, 1, E, (j - 1) / smirnov_block, n, top)) return false;
        stored_hi = b.hi;
        return true;
    }
    double result(int) const {
        const int64_t e = E[n / smirnov_block];
        return std::ldexp(u[n], e < -2000 ? -2000 : (e > 2000 ? 2000 : static_cast<int>(e)));
    }
};

// Whether the plain rows are likely to meet values near underflow, from
// the exact values of two kinds of cells at 33 rows: column 0 while the
// band holds it (1 / C(i+n, i)) and the centre of the band (C(i+j, i) /
// C(i+n, i), j = i n / m).  Only the time depends on this guess: both
// kinds of rows give the same bits wherever the plain rows succeed, and the
// plain rows report failure themselves.
bool rows_likely_underflow(int m, int n, double q) {
    const double md = static_cast<double>(m), nd = static_cast<double>(n);
    const double limit = 960.0 * 0.6931471805599453;
    // Every C(i + n, i) with i <= m is below 2^(m + n): with m + n < 960
    // neither test below can pass, and the lgamma calls would cost more
    // than the rows of a small lattice.
    if (md + nd < 960.0) return false;
    for (int t = 0; t <= 32; t++) {
        const double i = std::floor(md * t / 32.0);
        const double j = std::floor(i * nd / md);
        const double lrow = std::lgamma(i + nd + 1.0) - std::lgamma(i + 1.0) - std::lgamma(nd + 1.0);
        const double lcell = std::lgamma(i + j + 1.0) - std::lgamma(i + 1.0) - std::lgamma(j + 1.0);
        if (lrow - lcell > limit) return true;
        if (i / md <= q && lrow > limit) return true;
    }
    return false;
}

// Equal sample sizes.  For large n the rows above must carry a private
// exponent per cell (the counts near the diagonal are far below the double
// range), which makes them several times slower; there the reflected sum of
// smirnov_equal.h is used instead, in double-double arithmetic, and rounded
// once at the end: the probability to within about one unit in the last
// place.  It is used only while the sum is at most 1/4 (so that 1 - 2 sum
// cannot cancel), and only where the plain rows are certain to come near
// underflow, so every result the plain rows compute keeps its bits.

// True when the plain rows for m = n are certain to flag a value near
// underflow: the diagonal cell of row n/2 is positive (c >= 2) and at most
// C(n, n/2) / C(3n/2, n/2), which is then below 2^-995.
bool equal_rows_underflow(int n) {
    const double h = static_cast<double>(n / 2), nd = static_cast<double>(n);
    const double bound = std::lgamma(2.0 * h + 1.0) - 2.0 * std::lgamma(h + 1.0) -
                         (std::lgamma(h + nd + 1.0) - std::lgamma(h + 1.0) - std::lgamma(nd + 1.0));
    return bound < -995.0 * 0.6931471805599453;
}

// P for m = n and the band |i - j| < c, 2 <= c <= n, as 1 - 2 (r_1 - r_2
// + ...); false when r_1, the largest partial sum, exceeds 1/4.  Terms below 2^-200 cannot move the
// result and are left out.
bool smirnov_equal(int n, int64_t c, double *result) {
    const Reflection r = reflection_sum<dd_div_d2>(n, c, n / c, 0x1p-200);
    if (r.first.hi > 0.25) return false;
    const dd p = dd_add(dd_of(1.0), dd{rmul(-2.0, r.sum.hi), rmul(-2.0, r.sum.lo)});
    *result = radd(p.hi, p.lo);
    return true;
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
    const double K = std::floor(rsub(rmul(rmul(d, md), nd), 1e-7));
    const double q = rdiv(radd(K, 0.5), rmul(md, nd));

    // Equal sizes where the rows would need per-cell exponents.  Up to
    // n = 1e6 the computed test |i/n - j/n| > q is exactly |i - j| >= c =
    // floor(K / n) + 1: rounding moves i/n - j/n by less than 4e-16, and q
    // lies at least 0.5 / n^2 = 5e-13 from every attained value.
    if (m == n && n <= 1000000 && K >= 0.0 && K < rmul(md, nd)) {
        const int64_t c = static_cast<int64_t>(K) / n + 1;
        double p;
        if (c >= 2 && c <= n && equal_rows_underflow(n) && smirnov_equal(n, c, &p))
            return Rf_ScalarReal(p);
    }

    const size_t len = static_cast<size_t>(n) + 1;
    double *u = reinterpret_cast<double *>(R_alloc(len, sizeof(double)));
    double p;
    // Plain doubles first, unless values near underflow are to be expected;
    // then one exponent per block of columns; in the last resort one per
    // cell.  All three round every cell alike while nothing underflows.
    // The environment variable KSDIST_ROWS ("blocked", "cell") skips the
    // faster kinds, so that the tests can compare all three on one machine.
    const char *rows = std::getenv("KSDIST_ROWS");
    const int skip = !rows ? 0 : !std::strcmp(rows, "blocked") ? 1 : !std::strcmp(rows, "cell") ? 2 : 0;
    PlainRows plain;
    plain.u = u;
    if (skip < 1 && !rows_likely_underflow(m, n, q) && smirnov_sweep(plain, m, n, q, &p) == 0)
        return Rf_ScalarReal(p);
    BlockRows blocked;
    blocked.u = u;
    blocked.n = n;
    blocked.E = reinterpret_cast<int64_t *>(R_alloc(static_cast<size_t>(n / smirnov_block) + 1, sizeof(int64_t)));
    if (skip < 2 && smirnov_sweep(blocked, m, n, q, &p) == 0) return Rf_ScalarReal(p);

    CellRows cells;
    cells.u = u;
    cells.n = n;
    cells.ex = reinterpret_cast<int64_t *>(R_alloc(len, sizeof(int64_t)));
    smirnov_sweep(cells, m, n, q, &p);
    return Rf_ScalarReal(p);
}
