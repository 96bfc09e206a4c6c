// smirnov (engine): the exact law of the two-sample statistics, both tails
// directly, swept along anti-diagonals; one-sided statistics and ties.
//
// Accuracy: about 1e-13 relative or better in both tails (a few roundings
// per step, all terms non-negative), far below the double range through
// per-cell exponents, against exact path counts in big integers and complete
// enumeration of the splits of small pooled samples (the package's tests).
//
// A uniformly random monotone path from (0, 0) to (m, n) visits, after t
// steps, the point (i, t - i).  Seen backwards from that point, the path is
// again uniform: its previous point is (i - 1, j) with probability i / t and
// (i, j - 1) with probability j / t.  Hence, with
//     v(t, i) = P(the path stayed inside the band at every checkpoint up to t
//                 | it is at (i, t - i) at time t),
// the recursion
//     v(t, i) = (i / t) v(t - 1, i - 1) + ((t - i) / t) v(t - 1, i)
// holds, with v = 0 at checkpoint cells outside the band, and the lower tail
// is v(m + n, m).  Its complement u = 1 - v, the probability of having left
// the band, obeys the very same recursion with u = 1 outside the band (the
// weights sum to one), and the upper tail is u(m + n, m).  Both recursions
// add non-negative terms only, so each tail comes out directly with a
// relative error of a few roundings per step, whatever its size; nothing is
// ever subtracted from 1.
//
// Every value on a diagonal depends only on the previous diagonal, so a
// diagonal is one vectorisable loop without a serial chain.  The cells that
// matter on diagonal t lie between the band of the last checkpoint, widened
// by the steps since, and the band of the next checkpoint, narrowed by the
// steps still to go; everything outside holds the value it has outside the
// band (0 for v, 1 for u) or is never read again.  Two more savings: cells
// that the path reaches with probability below 2^-910 overall (a strip
// around the centre line, from Hoeffding's inequality) are left out when the
// tail is above 2^-850, and u needs no arithmetic where it is still exactly
// 0 (cells no path reaches from outside the band).
//
// Range.  v lies in [0, 1] and, once it becomes small, it becomes small
// across the whole band alike (a narrow band loses mass geometrically), so
// the lower tail keeps one binary exponent for the diagonal and rescales by
// exact powers of two.  u is largest next to the band's edges and smallest
// in its middle.  The cells of one diagonal enter the result with weights
// that sum to at most 1 (probabilities of the reversed path), so flushing
// every value below 2^-980 to 0 moves the result by less than
// (m + n) 2^-980: nothing for an upper tail above 2^-850, which is
// therefore computed in plain doubles.  A smaller one is computed again
// with a binary exponent per cell (also a safety net for the lower tail).
//
// The two weights i/s and (s - i)/s are formed from r = 1/s rounded so that
// they sum to 1 up to one rounding of either sign: the smaller one as k r,
// the larger one as 1 minus it.  Weights that both carry the rounding of r
// drift the whole diagonal by the same factor at each step, about 1e-14
// after a few thousand diagonals.
#include "smirnov.h"

#include "../smirnov_equal.h"

namespace ksx {
namespace {

// The per-cell exponent form works on eight lanes at a time (v8d): with
// AVX-512 that is one instruction per operation, elsewhere two or four.
typedef int64_t v8l __attribute__((vector_size(64), aligned(8), may_alias));
typedef uint64_t v8u __attribute__((vector_size(64), aligned(8), may_alias));

// Values below this are set to 0, so that no product or sum ever produces a
// subnormal (weights are at least 2^-32, products stay above 2^-1012).
constexpr double FLUSH = 0x1p-980;
// An upper tail below this is recomputed with an exponent per cell.
constexpr double WIDE_BELOW = 0x1p-850;
// The lower tail's diagonal is rescaled when its largest value drops below
// this.
constexpr double RESCALE_BELOW = 0x1p-600;

// Exponent of a cell holding exactly 0 in the per-cell form; far enough
// below any real exponent for differences never to matter, far enough from
// INT64_MIN for sums never to overflow.
constexpr int64_t SENTINEL = -(int64_t(1) << 60);
// A term whose exponent lies more than this below the other's is dropped:
// mantissas lie in [0.5, 1) and weights in [2^-32, 1], so it is below
// 2^-167 of the other term, and no product leaves the normal range.
constexpr int64_t DROP = 200;

// STAY: v, the lower tail; LEFT: u, the upper tail; the _WIDE forms keep an
// exponent per cell.
enum Chain { STAY, LEFT, STAY_WIDE, LEFT_WIDE };
inline bool is_wide(Chain c) { return c == STAY_WIDE || c == LEFT_WIDE; }
inline bool is_left(Chain c) { return c == LEFT || c == LEFT_WIDE; }

// The problem after orientation: cells are indexed by i in [0, m] with
// m <= n; at (i, t - i) the difference in integer units is i N - t m.
struct Problem {
    int64_t m, n, N, K;
    bool cap_hi;   // i N - t m <= K at checkpoints: i <= floor((t m + K) / N)
    bool cap_lo;   // t m - i N <= K at checkpoints: i >= ceil((t m - K) / N)
    const int *blocks;
    double seconds; // expected time of one sweep, for the progress line
};

// floor((t m + K) / N) as q with t m + K = q N + r, 0 <= r < N, moved
// along t without overflow (t m <= (m + n) m < 2^63).
struct Upper {
    int64_t q, r;
    void start(const Problem &P) {
        q = P.K / P.N;
        r = P.K % P.N;
    }
    void advance(const Problem &P, int64_t dt) {
        if (dt == 1) {
            r += P.m;
            if (r >= P.N) {
                r -= P.N;
                q++;
            }
            return;
        }
        r += dt * P.m;
        q += r / P.N;
        r %= P.N;
    }
};

// ceil((t m - K) / N) as q with t m - K = q N - r, 0 <= r < N.
struct Lower {
    int64_t q, r;
    void start(const Problem &P) {
        q = -(P.K / P.N);
        r = P.K % P.N;
    }
    void advance(const Problem &P, int64_t dt) {
        r -= dt * P.m;
        if (r < 0) {
            const int64_t c = (-r + P.N - 1) / P.N;
            q += c;
            r += c * P.N;
        }
    }
};

// The weights i/s and (s - i)/s of cell i on diagonal s (0 < i < s), with
// r = 1/s rounded: k r for the smaller one, k = min(i, s - i), and 1 minus
// that for the larger one.
inline void weights(double i, double s, double r, double *a, double *b) {
    const double j = s - i;
    const double small = (i <= j ? i : j) * r, large = 1.0 - small;
    *a = i <= j ? small : large;
    *b = i <= j ? large : small;
}

// ---------------------------------------------------------------------------
// One diagonal in plain doubles: B[i] = (i/s) A[i-1] + ((s - i)/s) A[i] for
// i in [lo, hi] (0 < lo, hi < s), flushed below FLUSH.  Returns the largest value
// when asked for it.
// ---------------------------------------------------------------------------
// Four cells from i on, in the half X (i <= s - i: the weight i/s is the
// smaller one) or the other half.  I[k] = k.
template <bool X>
inline __attribute__((always_inline)) void cells4(const double *A, double *B, const double *I,
                                                  int64_t i, double sd, double r, v4d *out) {
    const v4d sv = {sd, sd, sd, sd}, rv = {r, r, r, r};
    const v4d one = {1.0, 1.0, 1.0, 1.0};
    const v4d tiny = {FLUSH, FLUSH, FLUSH, FLUSH}, zero = {0.0, 0.0, 0.0, 0.0};
    const v4d iv = *reinterpret_cast<const v4d *>(I + i);
    const v4d x1 = *reinterpret_cast<const v4d *>(A + i - 1);
    const v4d x2 = *reinterpret_cast<const v4d *>(A + i);
    const v4d small = (X ? iv : sv - iv) * rv, large = one - small;
    v4d v = X ? small * x1 + large * x2 : large * x1 + small * x2;
    v = v >= tiny ? v : zero;
    *reinterpret_cast<v4d *>(B + i) = v;
    *out = v;
}

// Cells [lo, hi] of one half; the largest value is folded into *mv.
template <bool MAX, bool X>
inline __attribute__((always_inline)) void half_plain(const double *A, double *B, const double *I,
                                                      int64_t lo, int64_t hi, double sd, double r,
                                                      double *mx) {
    if (hi - lo < 3) {
        for (int64_t i = lo; i <= hi; i++) {
            double a, b;
            weights(static_cast<double>(i), sd, r, &a, &b);
            double v = a * A[i - 1] + b * A[i];
            v = v >= FLUSH ? v : 0.0;
            B[i] = v;
            if (MAX) *mx = v > *mx ? v : *mx;
        }
        return;
    }
    v4d m0 = {0.0, 0.0, 0.0, 0.0}, m1 = m0, v0, v1;
    int64_t i = lo;
    // Two vectors a step, with two running maxima, so that no chain of
    // dependent operations sets the pace.
    for (; i + 7 <= hi; i += 8) {
        cells4<X>(A, B, I, i, sd, r, &v0);
        cells4<X>(A, B, I, i + 4, sd, r, &v1);
        if (MAX) {
            m0 = m0 > v0 ? m0 : v0;
            m1 = m1 > v1 ? m1 : v1;
        }
    }
    if (i + 3 <= hi) {
        cells4<X>(A, B, I, i, sd, r, &v0);
        if (MAX) m0 = m0 > v0 ? m0 : v0;
        i += 4;
    }
    if (i <= hi) {
        // The last cells: one more vector ending at hi.  It recomputes a few
        // cells with the very same operations, so it writes the same values
        // again.
        cells4<X>(A, B, I, hi - 3, sd, r, &v1);
        if (MAX) m1 = m1 > v1 ? m1 : v1;
    }
    if (MAX) {
        m0 = m0 > m1 ? m0 : m1;
        for (int k = 0; k < 4; k++) *mx = m0[k] > *mx ? m0[k] : *mx;
    }
}

template <bool MAX>
inline __attribute__((always_inline)) double diag_plain(const double *A, double *B,
                                                         const double *I, int64_t lo, int64_t hi,
                                                         int64_t s) {
    const double sd = static_cast<double>(s);
    const double r = 1.0 / sd;
    const int64_t h = s / 2; // i <= s - i up to here
    double mx = 0.0;
    half_plain<MAX, true>(A, B, I, lo, hi < h ? hi : h, sd, r, &mx);
    half_plain<MAX, false>(A, B, I, lo > h ? lo : h + 1, hi, sd, r, &mx);
    return mx;
}

KS_CLONES
double diag_stay(const double *A, double *B, const double *I, int64_t lo, int64_t hi, int64_t s) {
    return diag_plain<true>(A, B, I, lo, hi, s);
}

KS_CLONES
void diag_left(const double *A, double *B, const double *I, int64_t lo, int64_t hi, int64_t s) {
    diag_plain<false>(A, B, I, lo, hi, s);
}

// ---------------------------------------------------------------------------
// One diagonal with a binary exponent per cell: value = M[i] * 2^E[i], with
// M[i] in [0.5, 1), or M[i] = 0 and E[i] = SENTINEL.  Both terms are aligned
// to the larger exponent by exact powers of two, and the sum is split again
// into mantissa and exponent through its bits.
// ---------------------------------------------------------------------------

inline __attribute__((always_inline)) void wide_cell(double a, double b, double m1, int64_t e1,
                                                     double m2, int64_t e2, double *mo,
                                                     int64_t *eo) {
    const int64_t E = e1 > e2 ? e1 : e2;
    const int64_t d1 = e1 - E, d2 = e2 - E;
    const int64_t b1 = d1 >= -DROP ? (d1 + 1023) << 52 : 0;
    const int64_t b2 = d2 >= -DROP ? (d2 + 1023) << 52 : 0;
    double s1, s2;
    std::memcpy(&s1, &b1, sizeof s1);
    std::memcpy(&s2, &b2, sizeof s2);
    const double t = a * (m1 * s1) + b * (m2 * s2);
    if (t > 0.0) {
        int64_t tb;
        std::memcpy(&tb, &t, sizeof tb);
        const int64_t mb = (tb & MANT_BITS) | HALF_BITS;
        std::memcpy(mo, &mb, sizeof mb);
        *eo = E + ((tb >> 52) - 1022);
    } else {
        *mo = 0.0;
        *eo = SENTINEL;
    }
}

template <bool X>
inline __attribute__((always_inline)) void wide8(const double *MA, const int64_t *EA, double *MB,
                                                 int64_t *EB, const double *I, int64_t i,
                                                 double sd, double r) {
    const v8d sv = {sd, sd, sd, sd, sd, sd, sd, sd}, rv = {r, r, r, r, r, r, r, r};
    const v8d zero = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0}, one = {1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0};
    const v8l drop = {-DROP, -DROP, -DROP, -DROP, -DROP, -DROP, -DROP, -DROP};
    const v8l bias = {1023, 1023, 1023, 1023, 1023, 1023, 1023, 1023}, unbias = {1022, 1022, 1022, 1022, 1022, 1022, 1022, 1022};
    const v8l mant = {MANT_BITS, MANT_BITS, MANT_BITS, MANT_BITS, MANT_BITS, MANT_BITS, MANT_BITS, MANT_BITS};
    const v8l half = {HALF_BITS, HALF_BITS, HALF_BITS, HALF_BITS, HALF_BITS, HALF_BITS, HALF_BITS, HALF_BITS};
    const v8l sent = {SENTINEL, SENTINEL, SENTINEL, SENTINEL, SENTINEL, SENTINEL, SENTINEL, SENTINEL}, izero = {0, 0, 0, 0, 0, 0, 0, 0};
    const v8d iv = *reinterpret_cast<const v8d *>(I + i);
    const v8d m1 = *reinterpret_cast<const v8d *>(MA + i - 1);
    const v8d m2 = *reinterpret_cast<const v8d *>(MA + i);
    const v8l e1 = *reinterpret_cast<const v8l *>(EA + i - 1);
    const v8l e2 = *reinterpret_cast<const v8l *>(EA + i);
    const v8l E = e1 > e2 ? e1 : e2;
    const v8l d1 = e1 - E, d2 = e2 - E;
    const v8d s1 = reinterpret_cast<v8d>(d1 >= drop ? (d1 + bias) << 52 : izero);
    const v8d s2 = reinterpret_cast<v8d>(d2 >= drop ? (d2 + bias) << 52 : izero);
    const v8d small = (X ? iv : sv - iv) * rv, large = one - small;
    const v8d t = X ? small * (m1 * s1) + large * (m2 * s2) : large * (m1 * s1) + small * (m2 * s2);
    const v8l tb = reinterpret_cast<v8l>(t);
    const v8l nz = t > zero;
    *reinterpret_cast<v8d *>(MB + i) = reinterpret_cast<v8d>(nz & ((tb & mant) | half));
    // t >= 0: a logical shift brings down the biased exponent.
    const v8l te = reinterpret_cast<v8l>(reinterpret_cast<v8u>(tb) >> 52);
    *reinterpret_cast<v8l *>(EB + i) = nz ? E + (te - unbias) : sent;
}

template <bool X>
inline __attribute__((always_inline)) void half_wide(const double *MA, const int64_t *EA,
                                                     double *MB, int64_t *EB, const double *I,
                                                     int64_t lo, int64_t hi, double sd, double r) {
    if (hi - lo < 7) {
        for (int64_t i = lo; i <= hi; i++) {
            double a, b;
            weights(static_cast<double>(i), sd, r, &a, &b);
            wide_cell(a, b, MA[i - 1], EA[i - 1], MA[i], EA[i], MB + i, EB + i);
        }
        return;
    }
    int64_t i = lo;
    for (; i + 7 <= hi; i += 8) wide8<X>(MA, EA, MB, EB, I, i, sd, r);
    if (i <= hi) wide8<X>(MA, EA, MB, EB, I, hi - 7, sd, r);
}

KS_CLONES_512
void diag_wide(const double *MA, const int64_t *EA, double *MB, int64_t *EB, const double *I,
               int64_t lo, int64_t hi, int64_t s) {
    const double sd = static_cast<double>(s);
    const double r = 1.0 / sd;
    const int64_t h = s / 2;
    half_wide<true>(MA, EA, MB, EB, I, lo, hi < h ? hi : h, sd, r);
    half_wide<false>(MA, EA, MB, EB, I, lo > h ? lo : h + 1, hi, sd, r);
}

// ---------------------------------------------------------------------------
// The sweep.
// ---------------------------------------------------------------------------
struct Work {
    double *A, *B;      // values, index -1 .. m + 1 valid
    double *I;          // I[k] = k
    int64_t *EA, *EB;   // exponents (per-cell form only)
};

inline void zero_fill(Work &w, int64_t lo, int64_t hi) {
    for (int64_t i = lo; i <= hi; i++) {
        w.B[i] = 0.0;
        if (w.EB) w.EB[i] = SENTINEL;
    }
}

// One diagonal of u, plain or with per-cell exponents, cells [lo, hi].
inline void diag_u(Work &w, Chain c, int64_t lo, int64_t hi, int64_t s) {
    if (lo > hi) return;
    if (c == LEFT) diag_left(w.A, w.B, w.I, lo, hi, s);
    else diag_wide(w.A, w.EA, w.B, w.EB, w.I, lo, hi, s);
}

// Pad value for cell i of diagonal s (values M, exponents E): as outside
// the band when the cell exists (v = 0, u = 1), 0 when it is off the
// diagonal.
inline void set_pad(double *M, int64_t *E, Chain c, const Problem &P, int64_t i, int64_t s) {
    const bool one = is_left(c) && i >= s - P.n && i >= 0 && i <= s && i <= P.m;
    if (is_wide(c)) {
        M[i] = one ? 0.5 : 0.0;
        E[i] = one ? 1 : SENTINEL;
    } else {
        M[i] = one ? 1.0 : 0.0;
    }
}

// Returns the tail of the chain, or NaN when the plain lower tail lost its
// range (see below).  With `strip`, cells far from the centre line are not
// computed (see below); *cut tells whether any was left out.
xp sweep_run(const Problem &P, Chain c, bool strip, bool *cut, Progress *progress) {
    const int64_t m = P.m, n = P.n, N = P.N;
    const size_t len = static_cast<size_t>(m) + 3;
    double bytes = 2.0 * static_cast<double>(len) * sizeof(double);
    bytes *= is_wide(c) ? 2.5 : 1.5;
    check_bytes(bytes, "the exact two-sample distribution",
                "use the limiting distribution (exact = FALSE) or raise the limit");
    Work w;
    w.A = reinterpret_cast<double *>(R_alloc(len, sizeof(double))) + 1;
    w.B = reinterpret_cast<double *>(R_alloc(len, sizeof(double))) + 1;
    w.I = reinterpret_cast<double *>(R_alloc(len, sizeof(double))) + 1;
    for (int64_t i = -1; i <= m + 1; i++) w.I[i] = static_cast<double>(i);
    w.EA = w.EB = nullptr;
    if (is_wide(c)) {
        w.EA = reinterpret_cast<int64_t *>(R_alloc(len, sizeof(int64_t))) + 1;
        w.EB = reinterpret_cast<int64_t *>(R_alloc(len, sizeof(int64_t))) + 1;
    }
    // Everything starts as "no value": the sweep writes each cell before it
    // reads it, and the pads around the computed run.
    for (int64_t i = -1; i <= m + 1; i++) {
        w.A[i] = w.B[i] = 0.0;
        if (w.EA) w.EA[i] = w.EB[i] = SENTINEL;
    }
    // Time 0: the origin, inside the band.
    if (c == STAY) w.A[0] = 1.0;
    if (c == STAY_WIDE) {
        w.A[0] = 0.5;
        w.EA[0] = 1;
    }

    int64_t cur_lo = 0, cur_hi = 0, t0 = 0, scale = 0;
    int bi = 0;
    Upper up;
    Lower dn;
    up.start(P);
    dn.start(P);
    PollClock work;
    // The strip.  After s steps the number of x's of the uniform path is
    // hypergeometric with mean s m / N, and by Hoeffding's inequality for
    // sampling without replacement it lies farther than w from the mean with
    // probability at most 2 exp(-2 w^2 / min(s, N - s)).  With
    // w^2 = min(s, N - s) T / 2 and T = log(2 N) + 910 log 2, the path leaves
    // the strip at some step with probability at most 2^-910.  Cells outside
    // it are given their value outside the band (0 or 1); as v and u lie in
    // [0, 1], the result moves by less than 2^-910, which is nothing for a
    // tail above 2^-850 (the caller checks).
    const double md = static_cast<double>(m), Nd = static_cast<double>(N);
    const double T = std::log(2.0 * Nd) + 910.0 * 0.6931471805599453;
    int64_t plo = 0, phi = 0; // the run of the previous diagonal
    // u is exactly 0 on the cells no path reaches from outside the band: at
    // first everywhere, later in the middle of the band.  They form one run
    // [zlo, zhi] (empty when zlo > zhi), which narrows by a cell a step at
    // each end that has a neighbour, and need no arithmetic.
    int64_t zlo = is_left(c) ? 0 : 1, zhi = 0;
    // The zero runs of the last two diagonals: the buffer written now still
    // holds the zeros of the one before last.
    int64_t z1lo = zlo, z1hi = zhi, z2lo = 1, z2hi = 0;
    *cut = false;
    while (t0 < N) {
        const int64_t dt = P.blocks ? P.blocks[bi++] : 1;
        const int64_t t1 = t0 + dt;
        up.advance(P, dt);
        dn.advance(P, dt);
        // The band at the next checkpoint, within the diagonal.
        int64_t L1 = t1 - n > 0 ? t1 - n : 0, H1 = t1 < m ? t1 : m;
        if (P.cap_lo && dn.q > L1) L1 = dn.q;
        if (P.cap_hi && up.q < H1) H1 = up.q;
        int64_t lo = 0, hi = -1;
        for (int64_t s = t0 + 1; s <= t1; s++) {
            lo = L1 - (t1 - s);
            if (cur_lo > lo) lo = cur_lo;
            hi = cur_hi + (s - t0);
            if (H1 < hi) hi = H1;
            if (strip) {
                const double sd = static_cast<double>(s);
                const double centre = sd * md / Nd;
                // Two cells more, for the roundings of the bounds.
                const double half = std::sqrt(std::fmin(sd, Nd - sd) * T * 0.5) + 2.0;
                if (centre - half > static_cast<double>(lo)) {
                    lo = static_cast<int64_t>(std::ceil(centre - half));
                    *cut = true;
                }
                if (centre + half < static_cast<double>(hi)) {
                    hi = static_cast<int64_t>(std::floor(centre + half));
                    *cut = true;
                }
            }
            if (lo > hi) {
                // No path stays inside: the lower tail is 0, the upper 1.
                return is_left(c) ? xp_make(1.0) : xp_zero();
            }
            // Cells of the previous diagonal that this one reads but that
            // were left out (the strip may move by more than a cell).
            for (int64_t i = lo - 1; i < plo - 1; i++) set_pad(w.A, w.EA, c, P, i, s - 1);
            for (int64_t i = phi + 2; i <= hi; i++) set_pad(w.A, w.EA, c, P, i, s - 1);
            // The cells at the ends of the diagonal have one predecessor,
            // reached with probability exactly 1: copied, not multiplied by
            // s (1/s), which rounds to 1 - 2^-53 or 1 and would shrink them
            // step after step.
            int64_t clo = lo, chi = hi;
            if (lo == 0) {
                w.B[0] = w.A[0];
                if (w.EB) w.EB[0] = w.EA[0];
                clo = 1;
            }
            if (hi == s) {
                w.B[s] = w.A[s - 1];
                if (w.EB) w.EB[s] = w.EA[s - 1];
                chi = s - 1;
            }
            if (c == STAY) {
                double mx = diag_stay(w.A, w.B, w.I, clo, chi, s);
                if (lo == 0 && w.B[0] > mx) mx = w.B[0];
                if (hi == s && w.B[s] > mx) mx = w.B[s];
                // Every cell of the run is reachable inside the band, so
                // its exact value is positive: all of them flushed means
                // the range was lost (never seen; the caller then uses
                // the per-cell exponents).
                if (mx == 0.0) return xp{NAN, 0};
                if (mx < RESCALE_BELOW) {
                    int k;
                    std::frexp(mx, &k);
                    for (int64_t i = lo; i <= hi; i++) w.B[i] = std::ldexp(w.B[i], -k);
                    scale += k;
                }
            } else {
                if (zlo <= zhi) {
                    zlo = zlo == 0 ? 0 : zlo + 1;
                    zhi = zhi == s - 1 ? s : zhi;
                    if (zlo < lo) zlo = lo;
                    if (zhi > hi) zhi = hi;
                }
                if (zlo <= zhi) {
                    // The cells below the zero run, then those above it.
                    diag_u(w, c, clo, chi < zlo - 1 ? chi : zlo - 1, s);
                    diag_u(w, c, clo > zhi + 1 ? clo : zhi + 1, chi, s);
                } else {
                    diag_u(w, c, clo, chi, s);
                }
                // Zeros where the buffer does not hold them yet: the run
                // less the zero run it had two diagonals ago.
                if (z2lo <= z2hi) {
                    zero_fill(w, zlo, zhi < z2lo - 1 ? zhi : z2lo - 1);
                    zero_fill(w, zlo > z2hi + 1 ? zlo : z2hi + 1, zhi);
                } else {
                    zero_fill(w, zlo, zhi);
                }
                z2lo = z1lo;
                z2hi = z1hi;
                z1lo = zlo;
                z1hi = zhi;
            }
            // The pads: a cell just outside the run is outside the band or
            // out of reach (value as outside), or off the diagonal (0).
            set_pad(w.B, w.EB, c, P, lo - 1, s);
            set_pad(w.B, w.EB, c, P, hi + 1, s);
            plo = lo;
            phi = hi;
            double *tmp = w.A;
            w.A = w.B;
            w.B = tmp;
            int64_t *etmp = w.EA;
            w.EA = w.EB;
            w.EB = etmp;
            poll(&work, static_cast<double>(hi - lo + 8));
        }
        progress_show(progress, static_cast<double>(t1) / static_cast<double>(N));
        cur_lo = lo;
        cur_hi = hi;
        t0 = t1;
    }
    // The last diagonal is the single cell (m, n).
    if (is_wide(c)) {
        if (w.A[m] == 0.0) return xp_zero();
        return xp{w.A[m], w.EA[m]};
    }
    return xp_make(w.A[m], scale);
}

xp sweep(const Problem &P, Chain c, bool strip, bool *cut) {
    Progress progress;
    progress_start(&progress, P.seconds, "ksdist: exact two-sample law");
    const xp v = sweep_run(P, c, strip, cut, &progress);
    progress_end(&progress);
    return v;
}

// Cells are indexed by the smaller sample.  Exchanging the samples negates
// the difference, which exchanges the one-sided statistics.
void smaller_first(int *m, int *n, int *alt) {
    if (*m <= *n) return;
    const int tmp = *m;
    *m = *n;
    *n = tmp;
    if (*alt == ALT_GREATER) *alt = ALT_LESS;
    else if (*alt == ALT_LESS) *alt = ALT_GREATER;
}

// Nanoseconds per computed cell of a sweep, and of the module's rows, as
// measured on a 2-core Xeon (the sweep: 0.2-0.4 with the strip; the per-cell
// exponents cost about 3 times more).  The upper ends: the estimate serves to
// refuse computations far beyond the time limit and to choose the exact law
// when it is cheap, and an estimate on the high side errs towards the
// limiting law only near the threshold.
constexpr double SWEEP_NS_PER_CELL = 0.45;
constexpr double MODULE_NS_PER_CELL = 2.0;

// Upper tails for equal sizes without ties, by reflection (see
// smirnov_equal.h): r_1 one-sided, 2 (r_1 - r_2 + ...) two-sided.
xp equal_upper(int n, int64_t c, int alt) {
    const Reflection r = reflection_sum(n, c, alt == ALT_TWO ? n / c : 1, 0.0);
    const double v = dd_val(r.sum);
    return xp_make(alt == ALT_TWO ? 2.0 * v : v, r.e);
}

} // namespace

double smirnov_cells(int64_t K, int m, int n, int alt) {
    smaller_first(&m, &n, &alt);
    if (K < 0 || m < 1) return 0.0;
    const double md = m, nd = n, Nd = md + nd, Kd = static_cast<double>(K);
    // Small lattices: all their cells, a bound that costs nothing.  The
    // estimate below is for the limits and the progress line, which care
    // only about far larger counts, and would cost more than the sweep.
    const double all = (md + 1.0) * (nd + 1.0);
    if (all <= 65536.0) return all;
    const double T = std::log(2.0 * Nd) + 910.0 * 0.6931471805599453;
    // The widths of the diagonals at the midpoints of 256 equal stretches:
    // the cells of the diagonal within the strip and within the band of the
    // statistic (bounded on both sides, or on one for D^+ and D^-).
    const int parts = 256;
    double sum = 0.0;
    for (int k = 0; k < parts; k++) {
        const double s = (k + 0.5) * Nd / parts;
        const double centre = s * md / Nd, reach = Kd / Nd;
        const double half = std::sqrt(std::fmin(s, Nd - s) * T * 0.5) + 2.0;
        double lo = std::fmax(std::fmax(0.0, s - nd), centre - half);
        double hi = std::fmin(std::fmin(s, md), centre + half);
        if (alt != ALT_GREATER) lo = std::fmax(lo, centre - reach);
        if (alt != ALT_LESS) hi = std::fmin(hi, centre + reach);
        const double w = hi - lo + 1.0;
        if (w > 0.0) sum += w;
    }
    return sum / parts * Nd;
}

double smirnov_seconds(int64_t K, int m, int n, int alt, bool module) {
    return smirnov_cells(K, m, n, alt) * (module ? MODULE_NS_PER_CELL : SWEEP_NS_PER_CELL) * 1e-9;
}

xp smirnov_tail(int64_t K, int m, int n, int alt, const int *blocks, int nb, bool upper) {
    const xp nan = {NAN, 0};
    if (m < 0 || n < 0 || (alt != ALT_TWO && alt != ALT_GREATER && alt != ALT_LESS)) return nan;
    if (blocks) {
        if (nb < 1) return nan;
        int64_t sum = 0;
        for (int b = 0; b < nb; b++) {
            if (blocks[b] < 1) return nan;
            sum += blocks[b];
        }
        if (sum != static_cast<int64_t>(m) + n) return nan;
    }
    const xp one = xp_make(1.0), zero = xp_zero();
    // S >= 0 (the origin is a checkpoint) and S <= m n.
    if (K < 0) return upper ? one : zero;
    const int64_t mn = static_cast<int64_t>(m) * n;
    if (K >= mn) return upper ? zero : one;
    smaller_first(&m, &n, &alt);
    if (upper && !blocks && m == n) return equal_upper(n, K / n + 1, alt);
    Problem P;
    P.m = m;
    P.n = n;
    P.N = static_cast<int64_t>(m) + n;
    P.K = K;
    P.cap_hi = alt != ALT_LESS;
    P.cap_lo = alt != ALT_GREATER;
    P.blocks = blocks;
    P.seconds = smirnov_seconds(K, m, n, alt, false);
    check_seconds(P.seconds, "the exact two-sample distribution", SMIRNOV_INSTEAD);
    const xp small = xp_make(WIDE_BELOW);
    bool cut;
    if (!upper) {
        xp v = sweep(P, STAY, true, &cut);
        // Leaving out the cells beyond the strip is negligible only above
        // 2^-850.
        if (cut && !std::isnan(v.m) && xp_less(v, small)) v = sweep(P, STAY, false, &cut);
        return std::isnan(v.m) ? sweep(P, STAY_WIDE, false, &cut) : v;
    }
    // Where the limiting law puts the tail far below 2^-850, go straight to
    // the per-cell exponents.  Only the time depends on this guess: a tail
    // that turns out small after all is computed again below.
    const double kd = static_cast<double>(K);
    const double guess = -2.0 * (kd / static_cast<double>(P.m)) * (kd / static_cast<double>(P.n)) /
                         static_cast<double>(P.N);
    if (guess < -650.0) return sweep(P, LEFT_WIDE, false, &cut);
    const xp u = sweep(P, LEFT, true, &cut);
    if (u.m == 0.0 || xp_less(u, small)) return sweep(P, LEFT_WIDE, false, &cut);
    return u;
}

} // namespace ksx

