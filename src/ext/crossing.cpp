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
#include <utility>

namespace ksx {
namespace {

constexpr double STEP_TAIL = 1e-30;
// States on a side with no active bound are dropped once their weight is
// below this fraction of the largest (they can then matter only through
// continuation weights some 1e90 times larger, which these are not).
constexpr double TRIM = 0x1p-300;

// The Poisson(lambda) weights of the count added between two checkpoints a
// distance lambda / n apart, as double-doubles (hi + lo), over the counts
// g0 .. g1 that carry all but `tail` of the mass.
struct PoissonStep {
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

void make_step(PoissonStep *k, dd lambda, const char *what) {
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
    // Gaps are at most n; anything else is a caller's error, and the loops
    // below would not end on it.
    if (!(lam < 0x1p53)) Rf_error("internal: a gap of %g between checkpoints", lam);
    const int64_t gm = static_cast<int64_t>(std::floor(lam));
    const dd pm = pois_at_mode(lambda, gm);
    // The extent: upward until the geometric bound on what is left is below
    // STEP_TAIL (the ratio of successive weights, lambda / (g + 1), only
    // falls), downward likewise with ratio g / lambda.
    double tail = 0.0;
    int64_t g1 = gm;
    {
        double p = dd_val(pm);
        for (;;) {
            const double q = lam / static_cast<double>(g1 + 1);
            if (q < 1.0) {
                const double bound = p * q / (1.0 - q);
                if (bound <= STEP_TAIL) {
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
            if (q < 1.0 && bound <= STEP_TAIL) {
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

// The weights of the last few distinct gaps; for a continuous null two
// gaps alternate throughout.
struct StepCache {
    PoissonStep k[4];
    uint64_t clock;
};

PoissonStep *get_step(StepCache *c, dd lambda, const char *what) {
    c->clock++;
    PoissonStep *oldest = &c->k[0];
    for (int i = 0; i < 4; i++) {
        PoissonStep *k = &c->k[i];
        if (k->used && k->lambda.hi == lambda.hi && k->lambda.lo == lambda.lo) {
            k->used = c->clock;
            return k;
        }
        if (k->used < oldest->used) oldest = k;
    }
    make_step(oldest, lambda, what);
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

KS_CLONES
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

// The weights that carry the state from the last checkpoint (at *prev) to
// c, and the counts olo..ohi it can then have (empty when olo > ohi: every
// path has more than n points).
const PoissonStep *step(StepCache *cache, const Check *c, dd *prev, int64_t vlo, int64_t vhi, int n,
                        int64_t *olo, int64_t *ohi, const char *what) {
    dd lam = dd_sub(c->pos, *prev);
    if (lam.hi < 0.0) lam = dd_of(0.0);
    *prev = c->pos;
    const PoissonStep *K = get_step(cache, lam, what);
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

// The state of the walk over the checkpoints: V(r), times 2^E, over the
// counts vlo..vhi still alive and, for the slope, beside it W(r), times 2^F,
// on the same counts (see crossing_slope).  Each step carries V (and W) to
// the next checkpoint into OV (and OW); keep() then makes the counts rlo..rhi
// of OV the new state.
struct Walk {
    Engine g;
    bool slope;
    StepCache cache;
    dd prev;
    int64_t vlo, vhi, E, F;
    double *V, *W, *OV, *OW;
    int64_t capV, capW, capOV, capOW;
    PollClock work;
};

void walk_start(Walk *w, int n, const char *what, bool slope) {
    w->g = Engine{n, log_dpois(static_cast<double>(n), dd_of(static_cast<double>(n))), what,
                  slope ? 48.0 : 24.0};
    w->slope = slope;
    std::memset(&w->cache, 0, sizeof w->cache);
    w->prev = dd_of(0.0);
    w->vlo = w->vhi = w->E = w->F = 0;
    w->capV = w->capW = w->capOV = w->capOW = 0;
    w->V = grow(nullptr, &w->capV, 64, 0, &w->g);
    w->W = slope ? grow(nullptr, &w->capW, 64, 0, &w->g) : nullptr;
    w->OV = grow(nullptr, &w->capOV, 64, 0, &w->g);
    w->OW = slope ? grow(nullptr, &w->capOW, 64, 0, &w->g) : nullptr;
    w->V[0] = 1.0;
    if (slope) w->W[0] = 0.0;
    w->work = PollClock();
}

// Carries V to checkpoint c: OV holds the counts olo..ohi (with one spare
// count above them for the slope, 0), and W into OW when carry_w (else OW
// is all 0).  False when no count is possible (olo > ohi).
const PoissonStep *walk_step(Walk *w, const Check &c, bool carry_w, int64_t *olo, int64_t *ohi) {
    const PoissonStep *K = step(&w->cache, &c, &w->prev, w->vlo, w->vhi, w->g.n, olo, ohi, w->g.what);
    if (*olo > *ohi) return nullptr;
    const int64_t olen = *ohi - *olo + 1, vlen = w->vhi - w->vlo + 1, klen = K->g1 - K->g0 + 1;
    const int64_t spare = w->slope ? 1 : 0;
    w->OV = grow(w->OV, &w->capOV, olen + spare, 0, &w->g);
    convolve(w->V, vlen, K->hi, K->lo, klen, w->OV, olen);
    if (w->slope) {
        w->OV[olen] = 0.0;
        w->OW = grow(w->OW, &w->capOW, olen + 1, 0, &w->g);
        if (carry_w) {
            convolve(w->W, vlen, K->hi, K->lo, klen, w->OW, olen);
        } else {
            for (int64_t i = 0; i < olen; i++) w->OW[i] = 0.0;
        }
        w->OW[olen] = 0.0;
    }
    poll(&w->work, (carry_w ? 8.0 : 4.0) * static_cast<double>(olen) *
                       static_cast<double>(klen < vlen ? klen : vlen));
    return K;
}

// The counts rlo..rhi of OV (and OW), which start at count olo, become the
// state.
void walk_keep(Walk *w, int64_t olo, int64_t rlo, int64_t rhi) {
    std::swap(w->V, w->OV);
    std::swap(w->capV, w->capOV);
    if (w->slope) {
        std::swap(w->W, w->OW);
        std::swap(w->capW, w->capOW);
    }
    const int64_t len = rhi - rlo + 1;
    if (rlo > olo) {
        std::memmove(w->V, w->V + (rlo - olo), static_cast<size_t>(len) * sizeof(double));
        if (w->slope) std::memmove(w->W, w->W + (rlo - olo), static_cast<size_t>(len) * sizeof(double));
    }
    w->vlo = rlo;
    w->vhi = rhi;
}

// Drops the first a and the last (len - 1 - b) counts of the state.
void walk_trim(Walk *w, int64_t a, int64_t b) {
    if (a > 0) {
        std::memmove(w->V, w->V + a, static_cast<size_t>(b - a + 1) * sizeof(double));
        if (w->slope) std::memmove(w->W, w->W + a, static_cast<size_t>(b - a + 1) * sizeof(double));
    }
    w->vhi = w->vlo + b;
    w->vlo = w->vlo + a;
}

// Moves X (the live counts) by 2^-k into its exponent when its largest
// value mx = f 2^k has k beyond +-200.
void rescale(double *X, int64_t len, double mx, int64_t *exponent) {
    int k;
    std::frexp(mx, &k);
    if (k > 200 || k < -200) {
        for (int64_t i = 0; i < len; i++) X[i] = std::ldexp(X[i], -k);
        *exponent += k;
    }
}

} // namespace

Crossing crossing(int n, check_source next, void *self, const char *what) {
    Walk w;
    walk_start(&w, n, what, false);
    Crossing res = {xp_zero(), xp_zero(), 0.0};
    Acc leave = {0.0, 0.0, 0};
    bool empty = false;
    Check c;
    while (next(self, &c)) {
        int64_t olo, ohi;
        const PoissonStep *K = walk_step(&w, c, false, &olo, &ohi);
        if (!K) { // every path has more than n points by now
            empty = true;
            break;
        }
        res.lost += K->tail;
        // Counts outside the new bounds leave, each worth its continuation.
        const int64_t lo = c.lo < 0 ? 0 : c.lo;
        const int64_t hi = c.hi > n ? n : c.hi;
        const dd R = dd_sub(dd_of(static_cast<double>(n)), c.pos);
        add_block(&w.g, &leave, w.OV, olo, olo, (lo - 1 < ohi ? lo - 1 : ohi), R, w.E);
        add_block(&w.g, &leave, w.OV, olo, (hi + 1 > olo ? hi + 1 : olo), ohi, R, w.E);
        const int64_t nlo = olo > lo ? olo : lo;
        const int64_t nhi = ohi < hi ? ohi : hi;
        if (nlo > nhi) {
            empty = true;
            break;
        }
        // The staying counts become the new state vector.
        walk_keep(&w, olo, nlo, nhi);
        double mx = 0.0;
        for (int64_t i = 0; i <= w.vhi - w.vlo; i++)
            if (w.V[i] > mx) mx = w.V[i];
        if (mx == 0.0) {
            empty = true;
            break;
        }
        if (c.trim_lo || c.trim_hi) {
            const double thr = mx * TRIM;
            double dropped = 0.0, total = 0.0;
            for (int64_t i = 0; i <= w.vhi - w.vlo; i++) total += w.V[i];
            int64_t a = 0, b = w.vhi - w.vlo;
            if (c.trim_lo)
                while (a < b && w.V[a] < thr) dropped += w.V[a++];
            if (c.trim_hi)
                while (b > a && w.V[b] < thr) dropped += w.V[b--];
            walk_trim(&w, a, b);
            res.lost += dropped / total;
        }
        rescale(w.V, w.vhi - w.vlo + 1, mx, &w.E);
    }
    res.leave = acc_value(&leave);
    if (empty) return res;
    // What stayed inside every bound, carried to the end of the interval.
    res.stay = finish(&w.g, w.V, w.vlo, w.vhi, w.E, w.prev);
    return res;
}

// The slope.  Beside V, a second vector W(r), times 2^F, holds the mass of
// the paths that have had their point on one moving bound, met every other
// check so far, and have count r: it is convolved with the same weights and
// cut by the same bounds as V, and at a checkpoint with a moving bound it
// receives the mass V had, just before the checkpoint, at the count from
// which a point there reaches the bound, moved up by one.  (A point on the
// bound crosses nothing else: the lower bound sharing a position with an
// upper one is below the count reached, and the upper bound sharing it with
// a lower one above.)  Every operation adds positive terms, so the slope
// keeps its relative accuracy wherever V does; W has its own scale because
// it can be far smaller than V (the boundary counts lie in V's tails).
xp crossing_slope(int n, check_source next, void *self, const char *what) {
    Walk w;
    walk_start(&w, n, what, true);
    bool wlive = false; // W has received mass
    Check c;
    while (next(self, &c)) {
        int64_t olo, ohi;
        if (!walk_step(&w, c, wlive, &olo, &ohi)) return xp_zero();
        // The mass arriving on the moving bounds, read before the cut.
        int64_t at[2];
        double in[2];
        int nin = 0;
        const int64_t from[2] = {c.from_hi, c.from_lo};
        for (int k = 0; k < 2; k++) {
            const int64_t f = from[k];
            if (f >= olo && f <= ohi && f < n && w.OV[f - olo] > 0.0) {
                at[nin] = f + 1;
                in[nin] = w.OV[f - olo];
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
                w.OV[r - olo] = 0.0;
                w.OW[r - olo] = 0.0;
            }
        }
        if (nin > 0) {
            int kmax = INT_MIN;
            for (int k = 0; k < nin; k++) {
                int e;
                std::frexp(in[k], &e);
                if (e > kmax) kmax = e;
            }
            const int64_t top = w.E + kmax; // exponent of the largest arrival
            if (!wlive) {
                w.F = top;
            } else if (top - w.F > 600) { // W rescaled so that the arrival fits
                const int64_t t = top - w.F;
                for (int64_t r = rlo; r <= rhi; r++)
                    w.OW[r - olo] = t > 1100 ? 0.0 : std::ldexp(w.OW[r - olo], static_cast<int>(-t));
                w.F = top;
            }
            for (int k = 0; k < nin; k++) w.OW[at[k] - olo] += scale2(in[k], w.E - w.F);
            wlive = true;
        }
        walk_keep(&w, olo, rlo, rhi);
        const int64_t len = rhi - rlo + 1;
        double mv = 0.0, mw = 0.0;
        for (int64_t i = 0; i < len; i++) {
            if (w.V[i] > mv) mv = w.V[i];
            if (w.W[i] > mw) mw = w.W[i];
        }
        if (mv == 0.0 && mw == 0.0) return xp_zero();
        if (c.trim_lo || c.trim_hi) {
            // Drop the end counts where both vectors are negligible.
            const double tv = mv * TRIM, tw = mw * TRIM;
            int64_t a = 0, b = len - 1;
            if (c.trim_lo)
                while (a < b && w.V[a] <= tv && w.W[a] <= tw) a++;
            if (c.trim_hi)
                while (b > a && w.V[b] <= tv && w.W[b] <= tw) b--;
            walk_trim(&w, a, b);
        }
        if (mv > 0.0) rescale(w.V, w.vhi - w.vlo + 1, mv, &w.E);
        if (mw > 0.0) rescale(w.W, w.vhi - w.vlo + 1, mw, &w.F);
    }
    if (!wlive) return xp_zero();
    return finish(&w.g, w.W, w.vlo, w.vhi, w.F, w.prev);
}

} // namespace ksx
