// The boundary-crossing recursion behind the exact one-sample distributions
// (see crossing.h for what it computes).
//
// State: V(r) = P(N(c) = r and every check so far held) for a Poisson
// process of rate n, kept as a vector of doubles times 2^E over the counts
// still allowed.  From one checkpoint to the next, V is convolved with the
// Poisson(lambda) weights of the count added in between.  Counts outside the
// new bounds leave; each is worth V(s) w(s) in the uniform model, with
//   w(s) = P(Poisson(n - n c) = n - s) / P(Poisson(n) = n),
// the chance that the process, from count s at c, ends with exactly n points
// at 1, relative to that of ending with n at all.  Adding up these leaving
// masses gives P(some check fails); what is left at the end, weighted the
// same way, gives P(every check holds).
//
// Accuracy.  The weights of a Poisson(lambda) step are applied at every one
// of up to 2n checkpoints, and for a continuous null the same two values of
// lambda recur: a weight rounded once to a double would bias every path by
// the same relative 1e-16 at each step, about n * 1e-16 in all.  So the
// weights are double-doubles, and each output is the sum of the products
// with their high and their low parts.  The sums are compensated as well
// (plain sums of weights of very different sizes round downwards more often
// than not).  The remaining rounding errors, of the products, differ from
// step to step and grow only like the square root of the number of steps.
// The Poisson weights are cut where the rest of the distribution is below
// 1e-30 (bounded by a geometric series), a relative loss per step that is
// recorded in Crossing::lost.
#include "crossing.h"

#include <cstring>

namespace ksx {
namespace {

constexpr double KERNEL_TAIL = 1e-30;
// States on a side with no active bound are dropped once their weight is
// below this fraction of the largest (they can then matter only through
// continuation weights some 1e90 times larger, which these are not).
constexpr double TRIM = 0x1p-300;

struct Kernel {
    dd lambda;
    int64_t g0, g1; // the counts covered
    double *hi, *lo;
    int64_t cap;
    double tail;
    uint64_t used;
};

// The double-double value of P(Poisson(lambda) = gm) at gm = floor(lambda).
dd pois_at_mode(dd lambda, int64_t gm) {
    if (lambda.hi <= 600.0) {
        dd p = dd_exp(dd_neg(lambda));
        for (int64_t g = 1; g <= gm; g++)
            p = dd_div_d(dd_mul(p, lambda), static_cast<double>(g));
        return p;
    }
    return dd_of(std::exp(log_dpois(static_cast<double>(gm), lambda)));
}

void make_kernel(Kernel *k, dd lambda, const char *what) {
    k->lambda = lambda;
    if (lambda.hi <= 0.0) {
        k->g0 = k->g1 = 0;
        if (k->cap < 1) {
            k->hi = reinterpret_cast<double *>(R_alloc(2, sizeof(double)));
            k->lo = reinterpret_cast<double *>(R_alloc(2, sizeof(double)));
            k->cap = 2;
        }
        k->hi[0] = 1.0;
        k->lo[0] = 0.0;
        k->tail = 0.0;
        return;
    }
    const double lam = dd_val(lambda);
    const int64_t gm = static_cast<int64_t>(std::floor(lam));
    const dd pm = pois_at_mode(lambda, gm);
    // The extent: upward until the geometric bound on what is left is below
    // KERNEL_TAIL (the ratio of successive weights, lambda / (g + 1), only
    // falls), downward likewise with ratio g / lambda.
    double tail = 0.0;
    int64_t g1 = gm;
    {
        double p = dd_val(pm);
        for (;;) {
            const double q = lam / static_cast<double>(g1 + 1);
            if (q < 1.0) {
                const double bound = p * q / (1.0 - q);
                if (bound <= KERNEL_TAIL) {
                    tail += bound;
                    break;
                }
            }
            p = p * q;
            g1++;
        }
    }
    int64_t g0 = gm;
    {
        double p = dd_val(pm);
        while (g0 > 0) {
            const double q = static_cast<double>(g0) / lam;
            const double bound = p * q / (1.0 - q);
            if (q < 1.0 && bound <= KERNEL_TAIL) {
                tail += bound;
                break;
            }
            p = p * q;
            g0--;
        }
    }
    const int64_t len = g1 - g0 + 1;
    if (len > k->cap) {
        check_bytes(16.0 * static_cast<double>(len), what,
                    "the null distribution has a gap too wide for exact computation");
        k->hi = reinterpret_cast<double *>(R_alloc(static_cast<size_t>(len), sizeof(double)));
        k->lo = reinterpret_cast<double *>(R_alloc(static_cast<size_t>(len), sizeof(double)));
        k->cap = len;
    }
    k->g0 = g0;
    k->g1 = g1;
    k->tail = tail;
    dd p = pm;
    for (int64_t g = gm; g <= g1; g++) {
        if (g > gm) p = dd_div_d(dd_mul(p, lambda), static_cast<double>(g));
        k->hi[g - g0] = p.hi;
        k->lo[g - g0] = p.lo;
    }
    p = pm;
    for (int64_t g = gm - 1; g >= g0; g--) {
        p = dd_div(dd_mul_d(p, static_cast<double>(g + 1)), lambda);
        k->hi[g - g0] = p.hi;
        k->lo[g - g0] = p.lo;
    }
}

// The kernels of the last few distinct gaps; for a continuous null two
// gaps alternate throughout.
struct KernelCache {
    Kernel k[4];
    uint64_t clock;
};

Kernel *get_kernel(KernelCache *c, dd lambda, const char *what) {
    c->clock++;
    Kernel *oldest = &c->k[0];
    for (int i = 0; i < 4; i++) {
        Kernel *k = &c->k[i];
        if (k->used && k->lambda.hi == lambda.hi && k->lambda.lo == lambda.lo) {
            k->used = c->clock;
            return k;
        }
        if (k->used < oldest->used) oldest = k;
    }
    make_kernel(oldest, lambda, what);
    oldest->used = c->clock;
    return oldest;
}

// A sum of positive terms given as v 2^e, kept as a double-double times a
// common power of two.
struct Acc {
    double hi, lo;
    int64_t e;
};

void acc_add(Acc *a, double v, int64_t ev) {
    if (!(v > 0.0)) return;
    int k;
    const double m = std::frexp(v, &k);
    const int64_t t = ev + k;
    if (a->hi == 0.0) {
        a->hi = m;
        a->lo = 0.0;
        a->e = t;
        return;
    }
    if (t > a->e) {
        const int64_t shift = t - a->e;
        if (shift > 1200) {
            a->hi = a->lo = 0.0;
        } else {
            a->hi = std::ldexp(a->hi, static_cast<int>(-shift));
            a->lo = std::ldexp(a->lo, static_cast<int>(-shift));
        }
        a->e = t;
    }
    const int64_t down = a->e - t;
    if (down > 1200) return;
    const dd s = two_sum(a->hi, std::ldexp(m, static_cast<int>(-down)));
    a->hi = s.hi;
    a->lo += s.lo;
}

xp acc_value(const Acc *a) {
    if (a->hi == 0.0) return xp_zero();
    return xp_make(a->hi + a->lo, a->e);
}

// out[o] = sum_j v[o - j] (kh[j] + kl[j]) for 0 <= o < olen, over the j with
// 0 <= o - j < vlen.  Each output sums its terms from the largest j (the
// smallest weights) down, every addition compensated: plain sums of
// weights of very different sizes round downwards more often than not, and
// at every step that would shave about 1e-17 off the mass.  Blocks of eight
// outputs whose terms all exist go through the vector unit, lanes apart, so
// that they get the bits of the scalar loop.
typedef double v4d __attribute__((vector_size(32), aligned(8), may_alias));

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) && \
    !defined(__SANITIZE_ADDRESS__)
#define KSX_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KSX_CLONES
#endif

inline double conv_one(const double *v, int64_t vlen, const double *kh, const double *kl, int64_t klen,
                       int64_t o) {
    int64_t j1 = klen - 1;
    if (j1 > o) j1 = o;
    int64_t j0 = o - (vlen - 1);
    if (j0 < 0) j0 = 0;
    double hi = 0.0, lo = 0.0;
    for (int64_t j = j1; j >= j0; j--) {
        const double t = v[o - j] * kh[j];
        const double sum = hi + t;
        const double bb = sum - hi;
        lo += ((hi - (sum - bb)) + (t - bb)) + v[o - j] * kl[j];
        hi = sum;
    }
    return hi + lo;
}

KSX_CLONES
void convolve(const double *v, int64_t vlen, const double *kh, const double *kl, int64_t klen, double *out,
              int64_t olen) {
    int64_t full_end = vlen; // outputs below this have every j with o - j < vlen
    if (full_end > olen) full_end = olen;
    int64_t o = 0;
    // A single step can be long (a wide band and a long kernel): it lets R
    // act on an interrupt or time limit now and then.
    PollClock work;
    for (; o < klen - 1 && o < olen; o++) {
        out[o] = conv_one(v, vlen, kh, kl, klen, o);
        poll(&work, static_cast<double>(klen));
    }
    for (; o + 8 <= full_end; o += 8) {
        poll(&work, 8.0 * static_cast<double>(klen));
        v4d h0 = {0, 0, 0, 0}, h1 = h0, l0 = h0, l1 = h0;
        for (int64_t j = klen - 1; j >= 0; j--) {
            const double *p = v + (o - j);
            const v4d x0 = *reinterpret_cast<const v4d *>(p);
            const v4d x1 = *reinterpret_cast<const v4d *>(p + 4);
            const double a = kh[j], b = kl[j];
            const v4d t0 = x0 * a, t1 = x1 * a;
            const v4d s0 = h0 + t0, s1 = h1 + t1;
            const v4d b0 = s0 - h0, b1 = s1 - h1;
            l0 = l0 + (((h0 - (s0 - b0)) + (t0 - b0)) + x0 * b);
            l1 = l1 + (((h1 - (s1 - b1)) + (t1 - b1)) + x1 * b);
            h0 = s0;
            h1 = s1;
        }
        *reinterpret_cast<v4d *>(out + o) = h0 + l0;
        *reinterpret_cast<v4d *>(out + o + 4) = h1 + l1;
    }
    for (; o < olen; o++) {
        out[o] = conv_one(v, vlen, kh, kl, klen, o);
        poll(&work, static_cast<double>(klen));
    }
}

struct Engine {
    int n;
    double lw_nn; // log P(Poisson(n) = n)
    const char *what;
    double bytes_per_count; // working memory per count of the state, for check_bytes
};

// log w(s) at the checkpoint whose remaining length is R = n - n c.
double log_w(const Engine *g, int64_t s, dd R) {
    return log_dpois(static_cast<double>(g->n - s), R) - g->lw_nn;
}

// Adds sum_{s = s1..s2} out[s - base] w(s), times 2^E, to acc.  w is found
// directly at s1 and from there by its ratio w(s + 1) / w(s) = (n - s) / R.
void add_block(const Engine *g, Acc *acc, const double *out, int64_t base, int64_t s1, int64_t s2,
               dd R, int64_t E) {
    if (s1 > s2) return;
    const double Rd = dd_val(R);
    if (!(Rd > 0.0)) { // at the end of the interval only s = n can finish
        if (s1 <= g->n && g->n <= s2) {
            const xp w = xp_exp(-g->lw_nn);
            acc_add(acc, out[g->n - base] * w.m, E + w.e);
        }
        return;
    }
    xp w = xp_exp(log_w(g, s1, R));
    double c = w.m;
    int64_t ce = w.e;
    double sum = 0.0;
    for (int64_t s = s1; s <= s2 && s <= g->n; s++) {
        sum += out[s - base] * c;
        c = c * (static_cast<double>(g->n - s) / Rd);
        if (c == 0.0) break;
        if (c > 0x1p300 || c < 0x1p-300) {
            acc_add(acc, sum, ce + E);
            sum = 0.0;
            int k;
            c = std::frexp(c, &k);
            ce += k;
        }
    }
    acc_add(acc, sum, ce + E);
}

double *grow(double *p, int64_t *cap, int64_t need, int64_t keep, const Engine *g) {
    if (need <= *cap) return p;
    int64_t c = *cap * 2;
    if (c < need) c = need;
    if (c < 64) c = 64;
    check_bytes(g->bytes_per_count * static_cast<double>(c), g->what,
                "use the limiting distribution, or raise the option if the memory is there");
    double *q = reinterpret_cast<double *>(R_alloc(static_cast<size_t>(c), sizeof(double)));
    if (keep > 0) std::memcpy(q, p, static_cast<size_t>(keep) * sizeof(double));
    *cap = c;
    return q;
}

// The kernel that carries the state from the last checkpoint (at *prev) to
// c, and the counts olo..ohi it can then have (empty when olo > ohi: every
// path has more than n points).
const Kernel *step(KernelCache *cache, const Check *c, dd *prev, int64_t vlo, int64_t vhi, int n,
                   int64_t *olo, int64_t *ohi, const char *what) {
    dd lam = dd_sub(c->pos, *prev);
    if (lam.hi < 0.0) lam = dd_of(0.0);
    *prev = c->pos;
    const Kernel *K = get_kernel(cache, lam, what);
    *olo = vlo + K->g0;
    *ohi = vhi + K->g1;
    if (*ohi > n) *ohi = n;
    return K;
}

// sum_r V(r) w(r) 2^E over the counts vlo..vhi alive after the last
// checkpoint, at position prev: what they are worth in the uniform model.
xp finish(const Engine *g, const double *V, int64_t vlo, int64_t vhi, int64_t E, dd prev) {
    const dd R = dd_sub(dd_of(static_cast<double>(g->n)), prev);
    Acc acc = {0.0, 0.0, 0};
    if (!(dd_val(R) > 0.0)) {
        add_block(g, &acc, V, vlo, vlo, vhi, R, E);
        return acc_value(&acc);
    }
    for (int64_t r = vlo; r <= vhi; r++) {
        const xp w = xp_exp(log_w(g, r, R));
        acc_add(&acc, V[r - vlo] * w.m, E + w.e);
    }
    return acc_value(&acc);
}

} // namespace

Crossing crossing(int n, check_source next, void *self, const char *what) {
    Engine g = {n, log_dpois(static_cast<double>(n), dd_of(static_cast<double>(n))), what, 24.0};
    Crossing res = {xp_zero(), xp_zero(), 0.0};
    int64_t capV = 0, capO = 0;
    double *V = grow(nullptr, &capV, 64, 0, &g);
    double *OH = grow(nullptr, &capO, 64, 0, &g);
    int64_t vlo = 0, vhi = 0, E = 0;
    V[0] = 1.0;
    dd prev = dd_of(0.0);
    KernelCache cache;
    std::memset(&cache, 0, sizeof cache);
    Acc leave = {0.0, 0.0, 0};
    PollClock work;
    bool empty = false;
    Check c;
    while (next(self, &c)) {
        int64_t olo, ohi;
        const Kernel *K = step(&cache, &c, &prev, vlo, vhi, n, &olo, &ohi, what);
        if (olo > ohi) { // every path has more than n points by now
            empty = true;
            break;
        }
        const int64_t olen = ohi - olo + 1, vlen = vhi - vlo + 1, klen = K->g1 - K->g0 + 1;
        OH = grow(OH, &capO, olen, 0, &g);
        convolve(V, vlen, K->hi, K->lo, klen, OH, olen);
        res.lost += K->tail;
        poll(&work, 4.0 * static_cast<double>(olen) * static_cast<double>(klen < vlen ? klen : vlen));

        const int64_t lo = c.lo < 0 ? 0 : c.lo;
        const int64_t hi = c.hi > n ? n : c.hi;
        const dd R = dd_sub(dd_of(static_cast<double>(n)), c.pos);
        add_block(&g, &leave, OH, olo, olo, (lo - 1 < ohi ? lo - 1 : ohi), R, E);
        add_block(&g, &leave, OH, olo, (hi + 1 > olo ? hi + 1 : olo), ohi, R, E);

        int64_t nlo = olo > lo ? olo : lo;
        int64_t nhi = ohi < hi ? ohi : hi;
        if (nlo > nhi) {
            empty = true;
            break;
        }
        // The staying counts become the new state vector.
        double *t = V;
        V = OH;
        OH = t;
        int64_t tc = capV;
        capV = capO;
        capO = tc;
        if (nlo > olo)
            std::memmove(V, V + (nlo - olo), static_cast<size_t>(nhi - nlo + 1) * sizeof(double));
        vlo = nlo;
        vhi = nhi;
        double mx = 0.0;
        for (int64_t i = 0; i <= vhi - vlo; i++)
            if (V[i] > mx) mx = V[i];
        if (mx == 0.0) {
            empty = true;
            break;
        }
        if (c.trim_lo || c.trim_hi) {
            const double thr = mx * TRIM;
            double dropped = 0.0, total = 0.0;
            for (int64_t i = 0; i <= vhi - vlo; i++) total += V[i];
            int64_t a = 0, b = vhi - vlo;
            if (c.trim_lo)
                while (a < b && V[a] < thr) dropped += V[a++];
            if (c.trim_hi)
                while (b > a && V[b] < thr) dropped += V[b--];
            if (a > 0) std::memmove(V, V + a, static_cast<size_t>(b - a + 1) * sizeof(double));
            vhi = vlo + b;
            vlo = vlo + a;
            res.lost += dropped / total;
        }
        int k;
        std::frexp(mx, &k);
        if (k > 200 || k < -200) {
            for (int64_t i = 0; i <= vhi - vlo; i++) V[i] = std::ldexp(V[i], -k);
            E += k;
        }
    }
    res.leave = acc_value(&leave);
    if (empty) return res;
    // What stayed inside every bound, carried to the end of the interval.
    res.stay = finish(&g, V, vlo, vhi, E, prev);
    return res;
}

// The slope.  Beside V, a second vector W(r), times 2^F, holds the mass of
// the paths that have had their point on one moving bound, met every other
// check so far, and have count r: it is convolved with the same kernels and
// cut by the same bounds as V, and at a checkpoint with a moving bound it
// receives the mass V had, just before the checkpoint, at the count from
// which a point there reaches the bound, moved up by one.  (A point on the
// bound crosses nothing else: the lower bound sharing a position with an
// upper one is below the count reached, and the upper bound sharing it with
// a lower one above.)  Every operation adds positive terms, so the slope
// keeps its relative accuracy wherever V does; W has its own scale because
// it can be far smaller than V (the boundary counts lie in V's tails).
xp crossing_slope(int n, check_source next, void *self, const char *what) {
    Engine g = {n, log_dpois(static_cast<double>(n), dd_of(static_cast<double>(n))), what, 48.0};
    int64_t capV = 0, capW = 0, capOV = 0, capOW = 0;
    double *V = grow(nullptr, &capV, 64, 0, &g);
    double *W = grow(nullptr, &capW, 64, 0, &g);
    double *OV = grow(nullptr, &capOV, 64, 0, &g);
    double *OW = grow(nullptr, &capOW, 64, 0, &g);
    int64_t vlo = 0, vhi = 0, E = 0, F = 0;
    V[0] = 1.0;
    W[0] = 0.0;
    bool wlive = false; // W has received mass
    dd prev = dd_of(0.0);
    KernelCache cache;
    std::memset(&cache, 0, sizeof cache);
    PollClock work;
    Check c;
    while (next(self, &c)) {
        int64_t olo, ohi;
        const Kernel *K = step(&cache, &c, &prev, vlo, vhi, n, &olo, &ohi, what);
        if (olo > ohi) return xp_zero();
        const int64_t olen = ohi - olo + 1, vlen = vhi - vlo + 1, klen = K->g1 - K->g0 + 1;
        // One spare count above: a point on the upper bound can lift the
        // count to ohi + 1.
        OV = grow(OV, &capOV, olen + 1, 0, &g);
        OW = grow(OW, &capOW, olen + 1, 0, &g);
        convolve(V, vlen, K->hi, K->lo, klen, OV, olen);
        OV[olen] = 0.0;
        if (wlive) {
            convolve(W, vlen, K->hi, K->lo, klen, OW, olen);
        } else {
            for (int64_t i = 0; i < olen; i++) OW[i] = 0.0;
        }
        OW[olen] = 0.0;
        poll(&work, (wlive ? 8.0 : 4.0) * static_cast<double>(olen) * static_cast<double>(klen < vlen ? klen : vlen));

        // The mass arriving on the moving bounds, read before the cut.
        int64_t at[2];
        double in[2];
        int nin = 0;
        const int64_t from[2] = {c.from_hi, c.from_lo};
        for (int k = 0; k < 2; k++) {
            const int64_t f = from[k];
            if (f >= olo && f <= ohi && f < n && OV[f - olo] > 0.0) {
                at[nin] = f + 1;
                in[nin] = OV[f - olo];
                nin++;
            }
        }
        const int64_t lo = c.lo < 0 ? 0 : c.lo;
        const int64_t hi = c.hi > n ? n : c.hi;
        const int64_t nlo = olo > lo ? olo : lo;
        const int64_t nhi = ohi < hi ? ohi : hi;
        // The counts kept: those inside the bounds and those just arrived.
        bool any = nlo <= nhi;
        int64_t rlo = nlo, rhi = nhi;
        for (int k = 0; k < nin; k++) {
            if (!any) {
                rlo = rhi = at[k];
                any = true;
            }
            if (at[k] < rlo) rlo = at[k];
            if (at[k] > rhi) rhi = at[k];
        }
        if (!any) return xp_zero();
        // Counts outside the bounds leave, from V and from W alike.
        for (int64_t r = rlo; r <= rhi; r++) {
            if (r < nlo || r > nhi) {
                OV[r - olo] = 0.0;
                OW[r - olo] = 0.0;
            }
        }
        if (nin > 0) {
            int kmax = INT_MIN;
            for (int k = 0; k < nin; k++) {
                int e;
                std::frexp(in[k], &e);
                if (e > kmax) kmax = e;
            }
            const int64_t top = E + kmax; // exponent of the largest arrival
            if (!wlive) {
                F = top;
            } else if (top - F > 600) { // W rescaled so that the arrival fits
                const int64_t t = top - F;
                for (int64_t r = rlo; r <= rhi; r++)
                    OW[r - olo] = t > 1100 ? 0.0 : std::ldexp(OW[r - olo], static_cast<int>(-t));
                F = top;
            }
            for (int k = 0; k < nin; k++) OW[at[k] - olo] += scale2(in[k], E - F);
            wlive = true;
        }

        double *t = V;
        V = OV;
        OV = t;
        t = W;
        W = OW;
        OW = t;
        int64_t tc = capV;
        capV = capOV;
        capOV = tc;
        tc = capW;
        capW = capOW;
        capOW = tc;
        const int64_t len = rhi - rlo + 1;
        if (rlo > olo) {
            std::memmove(V, V + (rlo - olo), static_cast<size_t>(len) * sizeof(double));
            std::memmove(W, W + (rlo - olo), static_cast<size_t>(len) * sizeof(double));
        }
        vlo = rlo;
        vhi = rhi;
        double mv = 0.0, mw = 0.0;
        for (int64_t i = 0; i < len; i++) {
            if (V[i] > mv) mv = V[i];
            if (W[i] > mw) mw = W[i];
        }
        if (mv == 0.0 && mw == 0.0) return xp_zero();
        if (c.trim_lo || c.trim_hi) {
            // Drop the end counts where both vectors are negligible.
            const double tv = mv * TRIM, tw = mw * TRIM;
            int64_t a = 0, b = len - 1;
            if (c.trim_lo)
                while (a < b && V[a] <= tv && W[a] <= tw) a++;
            if (c.trim_hi)
                while (b > a && V[b] <= tv && W[b] <= tw) b--;
            if (a > 0) {
                std::memmove(V, V + a, static_cast<size_t>(b - a + 1) * sizeof(double));
                std::memmove(W, W + a, static_cast<size_t>(b - a + 1) * sizeof(double));
            }
            vhi = vlo + b;
            vlo = vlo + a;
        }
        int k;
        if (mv > 0.0) {
            std::frexp(mv, &k);
            if (k > 200 || k < -200) {
                for (int64_t i = 0; i <= vhi - vlo; i++) V[i] = std::ldexp(V[i], -k);
                E += k;
            }
        }
        if (mw > 0.0) {
            std::frexp(mw, &k);
            if (k > 200 || k < -200) {
                for (int64_t i = 0; i <= vhi - vlo; i++) W[i] = std::ldexp(W[i], -k);
                F += k;
            }
        }
    }
    if (!wlive) return xp_zero();
    return finish(&g, W, vlo, vhi, F, prev);
}

} // namespace ksx
