// kolmogorov (two-sided, exact at large n): P(D_n < d) and P(D_n >= d) for
// a continuous null, with their logarithms, to about one unit in the last
// place of each.
//
// What it computes.  With s = n d (kept exactly as a double-double),
// k = floor(s) + 1, h = k - s in (0, 1], m = 2k - 1, Durbin's m x m matrix H
// (lower Hessenberg, ones on the superdiagonal, H[i][j] = 1/(i-j+1)! inside,
// first column (1 - h^(i+1))/(i+1)!, last row (1 - h^(m-j))/(m-j)!, corner
// (1 - 2 h^m + (2h - 1)_+^m)/m!, all entries >= 0) gives
//   P(D_n < d) = n!/n^n (H^n)_cc,  c = k - 1 (zero-based).
//
// Methods, by what is cheapest at the accuracy wanted:
//
// Spectral sum (m > 16, n >= 300).  H is persymmetric (J H^T J = H, J the
// flip), so the left eigenvector of a simple eigenvalue is the flipped right
// one and (H^n)_cc = sum_j lambda_j^n x_j[c]^2 / (x_j^T J x_j).  Write
// lambda = e (1 - theta): theta_j is about j^2 pi^2 / (8 s^2), and
// lambda^n needs theta to about 1e-37 absolute at n = 1e6, far below what
// any computation with H itself resolves (its rows carry e u^2 ~ 1e-32 of
// noise).  Away from the walls H - eI acts as z^-1 (e^z - e z) in the shift
// z, which has a double zero at z = 1: H - eI = e G D2 with D2 the second
// difference and G Toeplitz with the positive coefficients
//   ghat_r / e,  ghat_r = 1/r! - r sum_{t > r} 1/t!,
// so the eigen-equation reads D2x[i] = -(e theta x[i] + sum_{r>=1} ghat_r
// D2x[i-r]), every term of the size theta |x|: run forward in double-double
// it keeps theta's relative accuracy (about u^2 sqrt(m) relative).  The
// first rows (near the wall where the first column differs) run the plain
// recurrence; the last row's residual phi(theta) vanishes at eigenvalues and
// Newton's method on it (the derivative carried in doubles) finds theta_j
// from guesses extrapolated in j^2.  Modes are added until two successive
// terms are below 1e-20 of the smaller tail: about 8 x + 1 of them, x =
// sqrt(n) d, each 3 to 4 recurrences of O(m) double-double operations.
// Nothing proves that the leading eigenvalues are real and simple (H is not
// totally positive), so every mode is checked as it is found: Newton must
// settle, the j-th eigenvector must change sign exactly j - 1 times, its
// condition |x|^2 / |x^T J x| must stay below 1e6 (below 100 where the
// upper tail is below 1e-10, whose complement needs the lower tail to
// 1e-30 absolute), and the sum must lie in (0, 1].  On a failed check the
// caller gets a value from repeated squaring (m <= 64), the direct power
// (n m < 5e7) or the boundary-crossing recursion, never the spectral one.
//
// Repeated squaring (m <= 16, and the fallback up to m = 64): H^n in
// double-double, every sum of non-negative terms, relative error about
// m log2(n) u^2; products renormalised by powers of two.
//
// Direct power (n < 300, and n < 2000 where the upper tail is below about
// 1e-10, where the high modes are too ill-conditioned for a complement near
// 1e-15): v <- (H/e) v n times in double-double, absolute error ~ n u^2.
//
// The upper tail is 1 - lower in double-double while p1 = P(D^+ >= d) >=
// 1.5e-15: its absolute error is the lower tail's, about 1e-30, at most
// 3.3e-16 relative.  Below, the Smirnov-Birnbaum-Tingey sum gives p1 and
// P(D >= d) = 2 p1 - P(A and B), A = {D^+ >= d}, B = {D^- >= d}: A is a
// decreasing and B an increasing event of the associated order statistics,
// so 0 <= P(A and B) <= p1^2 and 2 p1 - p1^2 / 2 is within p1 / 4 <= 5.6e-16
// relative.  The SBT sum is formed in double-double logarithms (the log of a
// term is a sum of parts of size n log n that cancel to the size of 2 x^2)
// whose four running logarithms move by one step per term, four lanes at a
// time with GCC vector extensions (each lane the scalar operations in the
// scalar order, so the bits do not depend on the vector width); its terms
// are exact to about 1e-18 relative, and the sum runs outward from its
// largest term until a proven bound on the rest (sbt_log_rest, below) makes
// it negligible.  The logarithm of the lower tail comes from the log of the
// mode sum far below the double range, that of the upper tail from log p1
// likewise.
//
// The density (kolmogorov_spectral_density): each mode differentiated in s,
// theta_j' from the implicit function theorem on the residual and the
// weight through the eigenvector's derivative, both recurrences run in
// double-double (mode_slope).
//
// Accuracy, against the independent reference tests/testthat/
// ref-kolmogorov-large.csv (the checkpoint recursion in __float128 or
// double-double and the SBT sum in __float128, tools/kolmogorov-oracle.cpp;
// n = 10 ... 1e6, 312 rows): every lower tail, upper tail and their
// logarithms within 3.8e-16 relative, lower tails near 1 correctly rounded,
// lower + upper = 1 exactly where both are >= 0.1.  The density is within
// about 1e-29 kappa + 2e-16 of the crossing recursion's slope (kappa the
// cancellation among the modes, at most 1e15 where it is used).
#include "kolmogorov.h"

#include <cstring>

#pragma GCC diagnostic ignored "-Wpsabi"

namespace ksx {
namespace {

// ---------------------------------------------------------------------------
// Constants and tables.
// ---------------------------------------------------------------------------

// Entries 1/t! beyond t = DIRECT_BAND (1/37! = 7e-44 of e) are left out of
// the rows computed directly; ghat_r beyond r = GR (ghat_35 < 1e-41) out of
// the difference form, whose first row is G0 = GR + 1.  ghat_r with r > GR_DD
// is below 1e-17, so its products need only the high parts.
constexpr int DIRECT_BAND = 36;
constexpr int GR = 34;
constexpr int GR_DD = 18;
constexpr int G0 = GR + 1;
constexpr int NFACT = 80;
// What a refusal for memory suggests, as the crossing recursion's does.
constexpr const char *LIMIT_HINT = "use the limiting distribution, or raise the option if the memory is there";

constexpr dd DD_E = {0x1.5bf0a8b145769p+1, 0x1.4d57ee2b1013ap-53};
constexpr dd DD_2PI = {0x1.921fb54442d18p+2, 0x1.1a62633145c07p-52};
constexpr dd DD_TWO_THIRDS = {0x1.5555555555555p-1, 0x1.5555555555555p-55};

// 1/r!, r < NFACT, and the second-difference coefficients ghat_r.
struct Tables {
    dd fact[NFACT];
    dd ghat[GR + 1];
    double ghat_hi[GR + 1];
    dd logt[257]; // log(1 + i/256)
    dd expt[64];  // 2^(i/64)
};

const Tables &tables() {
    static Tables t;
    static bool ready = false;
    if (!ready) {
        t.fact[0] = dd_of(1.0);
        for (int r = 1; r < NFACT; r++) t.fact[r] = dd_div_d(t.fact[r - 1], static_cast<double>(r));
        dd T = dd_of(0.0), tails[GR + 2];
        for (int r = NFACT - 1; r > GR + 1; r--) T = dd_add(T, t.fact[r]);
        for (int r = GR + 1; r >= 0; r--) {
            tails[r] = T; // sum over t > r
            T = dd_add(T, t.fact[r]);
        }
        for (int r = 0; r <= GR; r++) {
            t.ghat[r] = dd_sub(t.fact[r], dd_mul_d(tails[r], static_cast<double>(r)));
            t.ghat_hi[r] = t.ghat[r].hi;
        }
        for (int i = 0; i <= 256; i++) t.logt[i] = dd_log(dd_of(1.0 + i / 256.0));
        for (int i = 0; i < 64; i++) t.expt[i] = dd_exp(dd_mul_d(DD_LN2, i / 64.0));
        ready = true;
    }
    return t;
}

// ---------------------------------------------------------------------------
// Logarithms and exponentials in double-double.
// ---------------------------------------------------------------------------

// log(a) for 2^-1022 <= a < 2^1023 (so that 2^-e is a normal double;
// NaN beyond): a = 2^e a', a' in [1, 2), c = 1 + i/256 the
// nearest table point, and log a = e log 2 + log c + 2 atanh(u), u = (a' -
// c) / (a' + c), |u| < 2^-9: 2u + 2u^3/3 in double-double, the terms from u^5
// on (below 2e-15 of the result's scale) in doubles, to u^11 (the next is
// below 1e-39).
dd dd_log_fast(dd a) {
    if (!(a.hi >= 0x1p-1022 && a.hi < 0x1p1023)) return dd_of(a.hi == 0.0 ? -INFINITY : NAN);
    const Tables &T = tables();
    uint64_t bits;
    std::memcpy(&bits, &a.hi, sizeof bits);
    const int e2 = static_cast<int>((bits >> 52) & 0x7ff) - 1023;
    const double scale = pow2(-e2);
    const double ah = rmul(a.hi, scale), al = rmul(a.lo, scale); // exact
    const int i = trunc_to_int(radd(rmul(rsub(ah, 1.0), 256.0), 0.5));
    const double c = radd(1.0, rmul(static_cast<double>(i), 1.0 / 256.0));
    const dd num = two_sum(rsub(ah, c), al); // ah - c is exact
    const dd den = dd_add_d(num, rmul(2.0, c));
    const double q1 = rdiv(num.hi, den.hi);
    const dd r = dd_sub(num, dd_mul_d(den, q1));
    const dd u = fast_two_sum(q1, rdiv(r.hi, den.hi));
    const dd u2 = dd_mul(u, u);
    const dd u3 = dd_mul(u2, u);
    const double w = u2.hi;
    const double high =
        rmul(rmul(u3.hi, w),
             radd(0.4, rmul(w, radd(2.0 / 7.0, rmul(w, radd(2.0 / 9.0, rmul(w, 2.0 / 11.0)))))));
    dd res = dd_add(dd_add(u, u), dd_mul(u3, DD_TWO_THIRDS));
    res = dd_add_d(res, high);
    res = dd_add(res, T.logt[i]);
    return dd_add(res, dd_mul_d(DD_LN2, static_cast<double>(e2)));
}

// log(1 - t), 0 <= t < 1, accurate relative to itself.
dd dd_log1m(dd t) {
    if (t.hi < 1e-3) {
        // -(t + t^2/2 + ... + t^13/13): the rest is below 1e-39 t.
        dd pw = t, s = t;
        for (int p = 2; p <= 13; p++) {
            pw = dd_mul(pw, t);
            s = dd_add(s, dd_div_d(pw, static_cast<double>(p)));
        }
        return dd_neg(s);
    }
    return dd_log_fast(dd_sub(dd_of(1.0), t));
}

// log(n! e^n / n^n) for n >= 1: Stirling's series from n = 30, sums of
// logarithms below.
dd log_fact_scaled(double N) {
    if (N < 30.0) {
        dd lf = dd_of(0.0);
        for (double i = 2.0; i <= N; i += 1.0) lf = dd_add(lf, dd_log_fast(dd_of(i)));
        return dd_sub(dd_add_d(lf, N), dd_mul_d(dd_log_fast(dd_of(N)), N));
    }
    // log(2 pi n)/2 + sum_k B_2k / (2k (2k-1) n^(2k-1))
    static const double bn[14][2] = {{1, 6},         {-1, 30},       {1, 42},        {-1, 30},
                                     {5, 66},        {-691, 2730},   {7, 6},         {-3617, 510},
                                     {43867, 798},   {-174611, 330}, {854513, 138},  {-236364091, 2730},
                                     {8553103, 6},   {-23749461029.0, 870}};
    dd r = dd_mul_d(dd_log_fast(dd_mul_d(DD_2PI, N)), 0.5);
    const dd inv = dd_div(dd_of(1.0), dd_of(N)), inv2 = dd_mul(inv, inv);
    dd pw = inv;
    for (int k = 1; k <= 14; k++) {
        const double K = static_cast<double>(k);
        const dd t = dd_div_d(dd_mul_d(pw, bn[k - 1][0]), rmul(rmul(bn[k - 1][1], 2.0 * K), 2.0 * K - 1.0));
        r = dd_add(r, t);
        if (std::fabs(t.hi) < 1e-36) break;
        pw = dd_mul(pw, inv2);
    }
    return r;
}

// log(z!) for a whole z >= 0.
dd log_fact(double z) {
    if (z < 30.0) {
        dd lf = dd_of(0.0);
        for (double i = 2.0; i <= z; i += 1.0) lf = dd_add(lf, dd_log_fast(dd_of(i)));
        return lf;
    }
    return dd_sub(dd_add_d(log_fact_scaled(z), -z), dd_mul_d(dd_neg(dd_log_fast(dd_of(z))), z));
}

// e^l for l <= 700 to about 1e-18 relative (all that a term of a sum of
// positive terms rounded to a double needs): l = k log(2)/64 + r, |r| <=
// 0.0055, expm1(r) by its series in doubles, 2^(k/64) from the table.
double exp_lite(dd l) {
    if (!(l.hi >= -745.0)) return l.hi < -745.0 ? 0.0 : NAN;
    if (l.hi > 709.0) return INFINITY;
    const Tables &T = tables();
    const double k = std::nearbyint(rmul(l.hi, 64.0 / DD_LN2.hi));
    const dd r = dd_sub(l, dd_mul_d(DD_LN2, k / 64.0));
    const double x = r.hi;
    double poly = radd(1.0 / 720, rdiv(x, 5040.0));
    poly = radd(1.0 / 120, rmul(x, poly));
    poly = radd(1.0 / 24, rmul(x, poly));
    poly = radd(1.0 / 6, rmul(x, poly));
    poly = radd(0.5, rmul(x, poly));
    const double em = radd(x, rmul(rmul(x, x), poly)); // expm1(x)
    const int64_t ki = static_cast<int64_t>(k);
    const int64_t q = (ki >= 0 ? ki : ki - 63) / 64; // floor(k / 64)
    const int idx = static_cast<int>(ki - 64 * q);
    const dd v = dd_mul(T.expt[idx], fast_two_sum(1.0, radd(em, rmul(r.lo, radd(1.0, em)))));
    return std::ldexp(dd_val(v), static_cast<int>(q));
}

// ---------------------------------------------------------------------------
// The matrix.
// ---------------------------------------------------------------------------
struct Problem {
    double N;
    dd s;       // n d, exactly
    int64_t k;  // floor(s) + 1
    int64_t m;  // 2k - 1
    dd h, frac; // k - s in (0, 1], and 1 - h = s - floor(s)
    int ncol0, nlast;
    dd col0[G0 + 1];         // H[i][0], i < ncol0
    dd last[DIRECT_BAND + 1]; // H[m-1][m-1-r], r < nlast
    // Their derivatives in s (h = k - s falls as s rises), for the density.
    dd col0s[G0 + 1], lasts[DIRECT_BAND + 1];
};

// 1 - h^p, also for h near 1: (1 - h)(1 + h + ... + h^(p-1)) there.
dd one_minus_hpow(const Problem &P, int64_t p) {
    if (P.h.hi > 0.5) {
        dd sum = dd_of(0.0), hp = dd_of(1.0);
        for (int64_t l = 0; l < p; l++) {
            sum = dd_add(sum, hp);
            hp = dd_mul(hp, P.h);
            if (hp.hi < 1e-40) break;
        }
        return dd_mul(P.frac, sum);
    }
    dd hp = dd_of(1.0);
    for (int64_t l = 0; l < p && hp.hi > 1e-300; l++) hp = dd_mul(hp, P.h);
    return dd_sub(dd_of(1.0), hp);
}

// 1 < s < n; m then fits comfortably in 64 bits.
void setup(Problem *P, int n, dd s) {
    const Tables &T = tables();
    P->N = static_cast<double>(n);
    P->s = s;
    const double fl = dd_floor(s);
    P->k = static_cast<int64_t>(fl) + 1;
    P->m = 2 * P->k - 1;
    P->frac = dd_sub(s, dd_of(fl));
    P->h = dd_sub(dd_of(1.0), P->frac);
    const int64_t m = P->m;
    P->ncol0 = static_cast<int>(m < G0 + 1 ? m : G0 + 1);
    for (int i = 0; i < P->ncol0; i++)
        P->col0[i] = i + 1 < NFACT ? dd_mul(one_minus_hpow(*P, i + 1), T.fact[i + 1]) : dd_of(0.0);
    const int64_t L = m - 1 < DIRECT_BAND ? m - 1 : DIRECT_BAND;
    P->nlast = static_cast<int>(L + 1);
    for (int64_t r = 0; r <= L; r++) {
        // H[m-1][m-1-r] = (1 - h^(r+1)) / (r+1)!, and at the corner (r = m-1)
        // also - h^m + (2h - 1)^m when 2h > 1.
        dd v = one_minus_hpow(*P, r + 1);
        if (r == m - 1) {
            dd hm = dd_of(1.0), gm = dd_of(1.0);
            const dd g = dd_sub(dd_add(P->h, P->h), dd_of(1.0));
            for (int64_t l = 0; l < m; l++) {
                hm = dd_mul(hm, P->h);
                gm = dd_mul(gm, g);
            }
            v = dd_sub(v, hm);
            if (g.hi > 0.0) v = dd_add(v, gm);
        }
        P->last[r] = r + 1 < NFACT ? dd_mul(v, T.fact[r + 1]) : dd_of(0.0);
    }
    // d/ds (1 - h^(p+1))/(p+1)! = h^p / p!; at the corner (r = m - 1 <= 36)
    // 2 (h^(m-1) - (2h - 1)_+^(m-1)) / (m-1)!.
    dd hp = dd_of(1.0);
    const int most = P->ncol0 > P->nlast ? P->ncol0 : P->nlast;
    for (int i = 0; i < most; i++) {
        const dd f = i < NFACT ? dd_mul(hp, T.fact[i]) : dd_of(0.0);
        if (i < P->ncol0) P->col0s[i] = f;
        if (i < P->nlast) P->lasts[i] = f;
        hp = dd_mul(hp, P->h);
    }
    if (m - 1 <= DIRECT_BAND) {
        dd hm = dd_of(1.0), gm = dd_of(1.0);
        const dd g = dd_sub(dd_add(P->h, P->h), dd_of(1.0));
        for (int64_t l = 0; l < m - 1; l++) {
            hm = dd_mul(hm, P->h);
            gm = dd_mul(gm, g);
        }
        P->lasts[m - 1] = dd_mul(dd_ldexp(g.hi > 0.0 ? dd_sub(hm, gm) : hm, 1), T.fact[m - 1]);
    }
}

// ---------------------------------------------------------------------------
// The eigen-recurrence.
// ---------------------------------------------------------------------------

// Scratch of one spectral computation: x and its second differences in
// double-double, their derivatives in theta in doubles.
struct Work {
    dd *x, *d2;
    double *xd, *d2d;
    // For the density: x's derivatives in theta and in s, and their second
    // differences, in double-double (null when not wanted).
    dd *yt, *d2t, *ys, *d2s;
    PollClock clock;
};

struct Eval {
    dd phi;       // the last row's residual
    double dphi;  // its derivative in theta
    int64_t sign_changes;
};

// For trial theta: x[0] = 1, row i of (H - lambda I) x = 0 gives x[i+1]
// (the superdiagonal is 1), the first G0 rows directly, the others in
// second differences.
Eval evaluate(const Problem &P, dd theta, Work *w) {
    const Tables &T = tables();
    const int64_t m = P.m;
    dd *x = w->x;
    double *xd = w->xd;
    const dd Th = dd_mul(DD_E, theta); // e theta
    const dd lam = dd_sub(DD_E, Th);   // e (1 - theta)
    const double lamd = dd_val(lam), ed = DD_E.hi;
    x[0] = dd_of(1.0);
    xd[0] = 0.0;
    const int64_t direct_end = G0 < m - 1 ? G0 : m - 1; // rows i < direct_end
    for (int64_t i = 0; i < direct_end; i++) {
        dd acc = dd_mul(lam, x[i]);
        double accd = rsub(rmul(lamd, xd[i]), rmul(ed, x[i].hi));
        const int64_t j0 = i + 1 - DIRECT_BAND > 0 ? i + 1 - DIRECT_BAND : 0;
        for (int64_t j = j0; j <= i; j++) {
            const dd hij = j == 0 ? P.col0[i] : T.fact[i - j + 1];
            acc = dd_sub(acc, dd_mul(hij, x[j]));
            accd = rsub(accd, rmul(hij.hi, xd[j]));
        }
        x[i + 1] = acc;
        xd[i + 1] = accd;
    }
    if (m - 1 > G0) {
        dd *d2 = w->d2;
        double *d2d = w->d2d;
        for (int64_t j = 1; j < G0; j++) {
            d2[j] = dd_sub(dd_sub(x[j + 1], x[j]), dd_sub(x[j], x[j - 1]));
            d2d[j] = rsub(rsub(xd[j + 1], xd[j]), rsub(xd[j], xd[j - 1]));
        }
        dd d1 = dd_sub(x[G0], x[G0 - 1]);
        double d1d = rsub(xd[G0], xd[G0 - 1]);
        const double Thd = dd_val(Th);
        for (int64_t i = G0; i <= m - 2; i++) {
            dd acc = dd_mul(Th, x[i]);
            for (int r = 1; r <= GR_DD; r++) acc = dd_add(acc, dd_mul(T.ghat[r], d2[i - r]));
            double tail = 0.0;
            for (int r = GR; r > GR_DD; r--) tail = radd(tail, rmul(T.ghat_hi[r], d2[i - r].hi));
            acc = dd_add_d(acc, tail);
            d2[i] = dd_neg(acc);
            d1 = dd_add(d1, d2[i]);
            x[i + 1] = dd_add(x[i], d1);
            double accd = radd(rmul(ed, x[i].hi), rmul(Thd, xd[i]));
            for (int r = 1; r <= GR; r++) accd = radd(accd, rmul(T.ghat_hi[r], d2d[i - r]));
            d2d[i] = -accd;
            d1d = radd(d1d, d2d[i]);
            xd[i + 1] = radd(xd[i], d1d);
            poll(&w->clock, 64.0);
        }
    }
    dd phi = dd_neg(dd_mul(lam, x[m - 1]));
    double dphi = rsub(rmul(ed, x[m - 1].hi), rmul(lamd, xd[m - 1]));
    for (int64_t r = P.nlast - 1; r >= 0; r--) {
        phi = dd_add(phi, dd_mul(P.last[r], x[m - 1 - r]));
        dphi = radd(dphi, rmul(P.last[r].hi, xd[m - 1 - r]));
    }
    // Sign changes of x (mode j has j - 1).  For integer s (h = 1) the first
    // column and the last row vanish but for the corner: states 0 and m - 1
    // are all but cut off, and the signs of their components mean nothing.
    int64_t sc = 0;
    double prev = 0.0;
    const bool cut = P.frac.hi == 0.0 && P.frac.lo == 0.0;
    for (int64_t i = cut ? 1 : 0; i < (cut ? m - 1 : m); i++) {
        const double v = x[i].hi;
        if (v != 0.0) {
            if (prev != 0.0 && (v > 0.0) != (prev > 0.0)) sc++;
            prev = v;
        }
    }
    return Eval{phi, dphi, sc};
}

struct Mode {
    dd theta, c;  // lambda = e (1 - theta); weight x_c^2 / (x^T J x)
    double cond;  // |x|^2 / |x^T J x|
    int evals;
    int64_t sign_changes;
    bool converged;
};

// Newton's method on phi from theta0; the weight from the last x.
Mode find_mode(const Problem &P, dd theta0, Work *w) {
    Mode o;
    dd theta = theta0;
    Eval ev = {dd_of(0.0), 0.0, 0};
    int it = 0;
    bool conv = false;
    while (it < 20) {
        ev = evaluate(P, theta, w);
        it++;
        if (!(std::fabs(ev.dphi) > 0.0) || !std::isfinite(ev.phi.hi)) break;
        const dd step = dd_div_d(ev.phi, ev.dphi);
        theta = dd_sub(theta, step);
        if (!(theta.hi > 0.0 && theta.hi < 1.0)) break;
        // The noise floor is about 3e-31 theta.
        if (std::fabs(step.hi) <= 1e-28 * std::fabs(theta.hi)) {
            conv = true;
            break;
        }
    }
    const int64_t m = P.m, c = P.k - 1;
    const dd *x = w->x;
    dd xjx = dd_of(0.0);
    double nrm = 0.0;
    for (int64_t i = 0; i < c; i++) xjx = dd_add(xjx, dd_mul(x[i], x[m - 1 - i]));
    xjx = dd_add(dd_add(xjx, xjx), dd_mul(x[c], x[c]));
    for (int64_t i = 0; i < m; i++) nrm = radd(nrm, rmul(x[i].hi, x[i].hi));
    o.theta = theta;
    o.c = xjx.hi != 0.0 ? dd_div(dd_mul(x[c], x[c]), xjx) : dd_of(NAN);
    o.cond = rdiv(nrm, std::fabs(xjx.hi));
    o.evals = it;
    o.sign_changes = ev.sign_changes;
    o.converged = conv && std::isfinite(o.c.hi) && std::isfinite(o.cond);
    return o;
}

// How mode j moves with s, for the density: theta' = -phi_s / phi_theta
// (the implicit function theorem on the last row's residual), and the
// weight c = x_c^2 / (x^T J x) by
//   c' = 2 x_c y_c / (x^T J x) - x_c^2 2 (x^T J y) / (x^T J x)^2,
// y = x_s + x_theta theta' (J symmetric, so x^T J y = y^T J x).  x_theta and
// x_s (at fixed theta, with the first column and the last row moving with
// s) run the recurrence differentiated, in double-double like x: the last
// row's sums cancel by a factor of about s^2 in both derivatives.
void mode_slope(const Problem &P, dd theta, Work *w, dd *dtheta, dd *dc) {
    const Tables &T = tables();
    const int64_t m = P.m, c = P.k - 1;
    dd *x = w->x, *yt = w->yt, *ys = w->ys;
    const dd Th = dd_mul(DD_E, theta);
    const dd lam = dd_sub(DD_E, Th);
    x[0] = dd_of(1.0);
    yt[0] = ys[0] = dd_of(0.0);
    const int64_t direct_end = G0 < m - 1 ? G0 : m - 1;
    for (int64_t i = 0; i < direct_end; i++) {
        dd a = dd_mul(lam, x[i]);
        dd at = dd_sub(dd_mul(lam, yt[i]), dd_mul(DD_E, x[i]));
        dd as = dd_sub(dd_mul(lam, ys[i]), dd_mul(P.col0s[i], x[0]));
        for (int64_t j = 0; j <= i; j++) {
            const dd hij = j == 0 ? P.col0[i] : T.fact[i - j + 1];
            a = dd_sub(a, dd_mul(hij, x[j]));
            at = dd_sub(at, dd_mul(hij, yt[j]));
            as = dd_sub(as, dd_mul(hij, ys[j]));
        }
        x[i + 1] = a;
        yt[i + 1] = at;
        ys[i + 1] = as;
    }
    if (m - 1 > G0) {
        dd *d2 = w->d2, *d2t = w->d2t, *d2s = w->d2s;
        for (int64_t j = 1; j < G0; j++) {
            d2[j] = dd_sub(dd_sub(x[j + 1], x[j]), dd_sub(x[j], x[j - 1]));
            d2t[j] = dd_sub(dd_sub(yt[j + 1], yt[j]), dd_sub(yt[j], yt[j - 1]));
            d2s[j] = dd_sub(dd_sub(ys[j + 1], ys[j]), dd_sub(ys[j], ys[j - 1]));
        }
        dd d1 = dd_sub(x[G0], x[G0 - 1]), d1t = dd_sub(yt[G0], yt[G0 - 1]), d1s = dd_sub(ys[G0], ys[G0 - 1]);
        for (int64_t i = G0; i <= m - 2; i++) {
            // D2x = -(e theta x + G D2x); its theta-derivative gains e x.
            dd a = dd_mul(Th, x[i]);
            dd at = dd_add(dd_mul(DD_E, x[i]), dd_mul(Th, yt[i]));
            dd as = dd_mul(Th, ys[i]);
            for (int r = 1; r <= GR_DD; r++) {
                a = dd_add(a, dd_mul(T.ghat[r], d2[i - r]));
                at = dd_add(at, dd_mul(T.ghat[r], d2t[i - r]));
                as = dd_add(as, dd_mul(T.ghat[r], d2s[i - r]));
            }
            double tail = 0.0, tailt = 0.0, tails = 0.0;
            for (int r = GR; r > GR_DD; r--) {
                tail = radd(tail, rmul(T.ghat_hi[r], d2[i - r].hi));
                tailt = radd(tailt, rmul(T.ghat_hi[r], d2t[i - r].hi));
                tails = radd(tails, rmul(T.ghat_hi[r], d2s[i - r].hi));
            }
            d2[i] = dd_neg(dd_add_d(a, tail));
            d2t[i] = dd_neg(dd_add_d(at, tailt));
            d2s[i] = dd_neg(dd_add_d(as, tails));
            d1 = dd_add(d1, d2[i]);
            d1t = dd_add(d1t, d2t[i]);
            d1s = dd_add(d1s, d2s[i]);
            x[i + 1] = dd_add(x[i], d1);
            yt[i + 1] = dd_add(yt[i], d1t);
            ys[i + 1] = dd_add(ys[i], d1s);
            poll(&w->clock, 192.0);
        }
    }
    // phi = sum_r last[r] x[m-1-r] - lambda x[m-1].
    dd pt = dd_sub(dd_mul(DD_E, x[m - 1]), dd_mul(lam, yt[m - 1]));
    dd ps = dd_neg(dd_mul(lam, ys[m - 1]));
    for (int64_t r = P.nlast - 1; r >= 0; r--) {
        pt = dd_add(pt, dd_mul(P.last[r], yt[m - 1 - r]));
        ps = dd_add(ps, dd_add(dd_mul(P.last[r], ys[m - 1 - r]), dd_mul(P.lasts[r], x[m - 1 - r])));
    }
    *dtheta = dd_neg(dd_div(ps, pt));
    dd xjx = dd_of(0.0), xjy = dd_of(0.0);
    for (int64_t i = 0; i < m; i++) {
        const dd y = dd_add(ys[i], dd_mul(yt[i], *dtheta));
        xjy = dd_add(xjy, dd_mul(x[m - 1 - i], y));
        if (i == c) *dc = y; // y_c for now
    }
    for (int64_t i = 0; i < c; i++) xjx = dd_add(xjx, dd_mul(x[i], x[m - 1 - i]));
    xjx = dd_add(dd_add(xjx, xjx), dd_mul(x[c], x[c]));
    const dd xc = x[c];
    const dd first = dd_div(dd_ldexp(dd_mul(xc, *dc), 1), xjx);
    const dd second = dd_div(dd_ldexp(dd_mul(dd_mul(xc, xc), xjy), 1), dd_mul(xjx, xjx));
    *dc = dd_sub(first, second);
}

// A lower tail P(D_n < d) as computed: its double-double value, or, when
// below e^-700, only its logarithm (then v = 0, tiny).
struct Lower {
    dd v, lg;
    bool tiny;
};

Lower lower_of_log(dd lg) {
    if (lg.hi < -700.0) return Lower{dd_of(0.0), lg, true};
    return Lower{dd_exp(lg), lg, false};
}

// The spectral sum; false on a failed check.
// With slope, also the sum of the modes' derivatives in s,
//   d/ds [c_j (1 - theta_j)^n] = (c_j' - c_j n theta_j' / (1 - theta_j)) (1 - theta_j)^n,
// relative to the first term's exponential as the lower tail's terms are,
// with the sum of their absolute values.
struct Slope {
    dd sum;
    double abs;
    dd lref; // the first term's log, which the sums are relative to
};

bool spectral_lower(const Problem &P, Lower *out, int *modes, Slope *slope) {
    const int64_t m = P.m;
    Work w;
    w.yt = w.d2t = w.ys = w.d2s = nullptr;
    if (slope) {
        w.yt = scratch<dd>(static_cast<size_t>(m), "the exact density of D_n", LIMIT_HINT);
        w.d2t = scratch<dd>(static_cast<size_t>(m), "the exact density of D_n", LIMIT_HINT);
        w.ys = scratch<dd>(static_cast<size_t>(m), "the exact density of D_n", LIMIT_HINT);
        w.d2s = scratch<dd>(static_cast<size_t>(m), "the exact density of D_n", LIMIT_HINT);
        slope->sum = dd_of(0.0);
        slope->abs = 0.0;
    }
    w.x = scratch<dd>(static_cast<size_t>(m), "the exact distribution of D_n", LIMIT_HINT);
    w.d2 = scratch<dd>(static_cast<size_t>(m), "the exact distribution of D_n", LIMIT_HINT);
    w.xd = scratch<double>(static_cast<size_t>(m), "the exact distribution of D_n", LIMIT_HINT);
    w.d2d = scratch<double>(static_cast<size_t>(m), "the exact distribution of D_n", LIMIT_HINT);
    w.clock = PollClock();
    const dd logF = log_fact_scaled(P.N);
    const double pi = 3.141592653589793;
    double q[3] = {0.0, 0.0, 0.0}; // theta_j / j^2 of the last modes
    dd sum = dd_of(0.0);
    dd Lref = dd_of(0.0);
    double worst = 0.0;
    int small_run = 0;
    bool ok = true;
    int64_t j = 1;
    const int64_t most = m < 200 ? m : 200;
    for (; j <= most; j++) {
        const double J = static_cast<double>(j);
        double guess;
        if (j == 1) {
            const double se = radd(dd_val(P.s), 0.17);
            guess = rdiv(pi * pi, rmul(8.0, rmul(se, se)));
        } else if (j <= 3) {
            guess = rmul(q[0], rmul(J, J));
        } else {
            // theta_j / j^2 linear in j^2 through the last two modes.
            const double a = q[0], b = q[1], j1 = J - 1.0, j2 = J - 2.0;
            guess = rmul(radd(a, rdiv(rmul(rsub(a, b), rsub(rmul(J, J), rmul(j1, j1))),
                                      rsub(rmul(j1, j1), rmul(j2, j2)))),
                         rmul(J, J));
        }
        const Mode mo = find_mode(P, dd_of(guess), &w);
        if (!mo.converged || mo.sign_changes != j - 1) {
            ok = false;
            break;
        }
        if (mo.cond > worst) worst = mo.cond;
        q[2] = q[1];
        q[1] = q[0];
        q[0] = rdiv(dd_val(mo.theta), rmul(J, J));
        // term = c_j (1 - theta_j)^n n! e^n / n^n, summed relative to the
        // first term's exponential so that tiny lower tails keep their
        // logarithm.
        const dd L = dd_add(dd_mul_d(dd_log1m(mo.theta), P.N), logF);
        if (j == 1) Lref = L;
        const dd rel = dd_sub(L, Lref);
        const dd term = rel.hi < -745.0 ? dd_of(0.0) : dd_mul(mo.c, dd_exp(rel));
        sum = dd_add(sum, term);
        double dterm = 0.0;
        if (slope && rel.hi >= -700.0) {
            dd dtheta, dc;
            mode_slope(P, mo.theta, &w, &dtheta, &dc);
            const dd f = dd_div(dd_mul_d(dtheta, P.N), dd_sub(dd_of(1.0), mo.theta));
            const dd t = dd_mul(dd_sub(dc, dd_mul(mo.c, f)), dd_exp(rel));
            slope->sum = dd_add(slope->sum, t);
            dterm = t.hi;
            slope->abs = radd(slope->abs, std::fabs(dterm));
        }
        // Stop after two successive terms below 1e-20 of the smaller tail
        // (and 1e-36 absolute): they fall like exp(-j^2 pi^2 / (8 x^2)).  A
        // lower tail below e^-700 is itself the smaller tail.
        bool negligible;
        if (Lref.hi > -700.0) {
            const double scale = std::exp(Lref.hi);
            const double sv = rmul(std::fabs(sum.hi), scale);
            const double sm = sv < 1.0 - sv ? sv : 1.0 - sv;
            const double bound = 1e-20 * sm > 1e-36 ? 1e-20 * sm : 1e-36;
            negligible = rmul(std::fabs(term.hi), scale) < bound;
        } else {
            negligible = std::fabs(term.hi) < 1e-20 * std::fabs(sum.hi);
        }
        if (slope && !(std::fabs(dterm) < 1e-20 * std::fabs(slope->sum.hi))) negligible = false;
        small_run = negligible ? small_run + 1 : 0;
        if (small_run >= 2) break;
    }
    *modes = static_cast<int>(j);
    if (slope) slope->lref = Lref;
    if (!ok || small_run < 2 || !(sum.hi > 0.0) || worst > 1e6) return false;
    const dd lg = dd_add(Lref, dd_log_fast(sum));
    Lower lo = lower_of_log(lg);
    if (!lo.tiny) lo.v = dd_mul(dd_exp(Lref), sum);
    if (!lo.tiny && (lo.v.hi > 1.0 || (worst > 100.0 && dd_val(dd_sub(dd_of(1.0), lo.v)) < 1e-10))) return false;
    *out = lo;
    return true;
}

// ---------------------------------------------------------------------------
// Direct power: v <- (H / e) v, n times from v = e_c; P(D_n < d) = n! e^n /
// n^n v_c.  n m DIRECT_BAND double-double products.
// ---------------------------------------------------------------------------
Lower direct_lower(const Problem &P) {
    const Tables &T = tables();
    const int64_t m = P.m;
    const char *what = "the exact distribution of D_n";
    dd *v = scratch<dd>(static_cast<size_t>(m), what, LIMIT_HINT);
    dd *u = scratch<dd>(static_cast<size_t>(m), what, LIMIT_HINT);
    dd fe[DIRECT_BAND + 1], c0[G0 + 1], lr[DIRECT_BAND + 1];
    const dd einv = dd_div(dd_of(1.0), DD_E);
    for (int t = 0; t <= DIRECT_BAND; t++) fe[t] = dd_mul(T.fact[t], einv);
    for (int i = 0; i < P.ncol0; i++) c0[i] = dd_mul(P.col0[i], einv);
    for (int i = 0; i < P.nlast; i++) lr[i] = dd_mul(P.last[i], einv);
    for (int64_t i = 0; i < m; i++) v[i] = dd_of(0.0);
    v[P.k - 1] = dd_of(1.0);
    PollClock clock;
    const int64_t n = static_cast<int64_t>(P.N);
    for (int64_t step = 0; step < n; step++) {
        for (int64_t i = 0; i + 1 < m; i++) {
            // Entries 1/(t! e) below 1e-17 (t > GR_DD) need only their
            // high parts times v's: what is dropped is below 1e-33 |v|.
            dd acc = dd_of(0.0);
            double tail = 0.0;
            const int64_t j0 = i + 1 - DIRECT_BAND > 0 ? i + 1 - DIRECT_BAND : 0;
            for (int64_t j = j0; j <= i + 1; j++) {
                const int64_t t = i - j + 1;
                if (j == 0) {
                    if (i < P.ncol0) acc = dd_add(acc, dd_mul(c0[i], v[0]));
                } else if (t > GR_DD) {
                    tail = radd(tail, rmul(fe[t].hi, v[j].hi));
                } else {
                    acc = dd_add(acc, dd_mul(fe[t], v[j]));
                }
            }
            u[i] = dd_add_d(acc, tail);
        }
        dd acc = dd_of(0.0);
        for (int64_t r = P.nlast - 1; r >= 0; r--) acc = dd_add(acc, dd_mul(lr[r], v[m - 1 - r]));
        u[m - 1] = acc;
        dd *t = v;
        v = u;
        u = t;
        poll(&clock, static_cast<double>(m) * DIRECT_BAND);
    }
    const dd vc = v[P.k - 1];
    if (!(vc.hi > 0.0)) return Lower{dd_of(0.0), dd_of(-INFINITY), true};
    return lower_of_log(dd_add(log_fact_scaled(P.N), dd_log_fast(vc)));
}

// ---------------------------------------------------------------------------
// Repeated squaring (m <= 64).  Each product is renormalised by a power of
// two held in a 64-bit exponent.
// ---------------------------------------------------------------------------
void mat_mul(const dd *A, const dd *B, dd *C, int64_t m, int64_t *e, PollClock *clock) {
    for (int64_t i = 0; i < m * m; i++) C[i] = dd_of(0.0);
    double mx = 0.0;
    for (int64_t i = 0; i < m; i++) {
        for (int64_t r = 0; r < m; r++) {
            const dd a = A[i * m + r];
            if (a.hi == 0.0) continue;
            for (int64_t j = 0; j < m; j++) C[i * m + j] = dd_add(C[i * m + j], dd_mul(a, B[r * m + j]));
        }
        poll(clock, static_cast<double>(m * m));
    }
    for (int64_t i = 0; i < m * m; i++)
        if (C[i].hi > mx) mx = C[i].hi;
    int k = 0;
    if (mx > 0.0) std::frexp(mx, &k);
    for (int64_t i = 0; i < m * m; i++) C[i] = dd_ldexp(C[i], -k);
    *e += k;
}

Lower squaring_lower(const Problem &P) {
    const Tables &T = tables();
    const int64_t m = P.m;
    const size_t mm = static_cast<size_t>(m * m);
    const char *what = "the exact distribution of D_n";
    dd *A = scratch<dd>(mm, what, LIMIT_HINT);
    dd *R = scratch<dd>(mm, what, LIMIT_HINT);
    dd *Tm = scratch<dd>(mm, what, LIMIT_HINT);
    for (size_t i = 0; i < mm; i++) A[i] = R[i] = dd_of(0.0);
    for (int64_t i = 0; i + 1 < m; i++) {
        for (int64_t j = 1; j <= i + 1; j++)
            A[i * m + j] = j == i + 1 ? dd_of(1.0) : (i - j + 1 < NFACT ? T.fact[i - j + 1] : dd_of(0.0));
        // (first-column entries beyond those kept are below 1/37! and left
        // out, as everywhere)
        A[i * m] = i < P.ncol0 ? P.col0[i] : dd_of(0.0);
    }
    for (int64_t r = 0; r < m; r++) A[(m - 1) * m + (m - 1 - r)] = r < P.nlast ? P.last[r] : dd_of(0.0);
    for (int64_t i = 0; i < m; i++) R[i * m + i] = dd_of(1.0);
    int64_t eA = 0, eR = 0;
    PollClock clock;
    for (int64_t b = static_cast<int64_t>(P.N); b > 0; b >>= 1) {
        if (b & 1) {
            mat_mul(R, A, Tm, m, &eR, &clock);
            dd *t = R;
            R = Tm;
            Tm = t;
            eR += eA;
        }
        if (b > 1) {
            int64_t e2 = 2 * eA; // A^2 carries twice A's exponent
            mat_mul(A, A, Tm, m, &e2, &clock);
            dd *t = A;
            A = Tm;
            Tm = t;
            eA = e2;
        }
    }
    const dd v = R[(P.k - 1) * m + (P.k - 1)];
    if (!(v.hi > 0.0)) return Lower{dd_of(0.0), dd_of(-INFINITY), true};
    // log lower = log(n! e^n / n^n) - n + log v + eR log 2
    const dd l = dd_add(dd_add_d(dd_add(log_fact_scaled(P.N), dd_log_fast(v)), -P.N),
                        dd_mul_d(DD_LN2, static_cast<double>(eR)));
    return lower_of_log(l);
}

// ---------------------------------------------------------------------------
// log P(D_n^+ >= d) by the Smirnov-Birnbaum-Tingey sum,
//   sum_{0 <= j < n - s} (s / (s + j)) C(n, j) p^j (1 - p)^(n - j),  p = (s + j)/n.
// The log of a term,
//   log s + (j - 1) log(s + j) + (n - j) log(n - s - j) - n log n
//     + log n! - log j! - log (n - j)!,
// is formed in double-double; the four logarithms move with j by one step
// each, log(z + e) = log z + 2 atanh(e / (2z + e)) (e = +-1), whose series
// needs double-double only for u and u^3 when z > 1000 (smaller arguments
// take a full logarithm), and log j!, log (n - j)! accumulate them (their
// rounding errors stay below 1e-24, far below the 1e-19 / n that the
// products with j and n - j allow).  Terms are summed outward from j near
// n/2 - s, where they peak for s < n/2, each direction stopping where a
// bound on the rest (below) shows it negligible.
// ---------------------------------------------------------------------------

// log(z + e) from lz = log z, z > 1000.
dd log_step(dd lz, dd z, double e) {
    const dd D = dd_add_d(dd_add(z, z), e); // 2z + e
    const double q1 = rdiv(e, D.hi);
    const dd r = dd_sub(dd_of(e), dd_mul_d(D, q1));
    const dd u = fast_two_sum(q1, rdiv(r.hi, D.hi));
    const double w = rmul(u.hi, u.hi);
    const dd u3 = dd_mul(dd_mul(u, u), u);
    const double high = rmul(rmul(u3.hi, w), radd(0.4, rmul(w, radd(2.0 / 7.0, rmul(w, 2.0 / 9.0)))));
    dd t = dd_add(dd_add(u, u), dd_mul(u3, DD_TWO_THIRDS));
    t = dd_add_d(t, high);
    return dd_add(lz, t);
}

dd log_move(dd lz, dd z_old, double e) {
    const dd z_new = dd_add_d(z_old, e);
    if (z_old.hi > 1000.0 && z_new.hi > 1000.0) return log_step(lz, z_old, e);
    return dd_log_fast(z_new);
}

// Double-double on four lanes (GCC vector extensions): each operation is,
// lane by lane, the one of ksdist.h's scalar namesake in the same order, so
// every lane rounds as the scalar code would on any vector width.  (The
// build switches contraction and reassociation off for these as for the
// scalars.)
struct vdd {
    v4d hi, lo;
};
inline v4d v_splat(double x) { return v4d{x, x, x, x}; }
inline vdd v_two_sum(v4d a, v4d b) {
    const v4d s = a + b, bb = s - a;
    return vdd{s, (a - (s - bb)) + (b - bb)};
}
inline vdd v_fast_two_sum(v4d a, v4d b) {
    const v4d s = a + b;
    return vdd{s, b - (s - a)};
}
inline vdd v_two_prod(v4d a, v4d b) {
    const v4d p = a * b;
    const v4d ta = v_splat(134217729.0) * a, tb = v_splat(134217729.0) * b;
    const v4d ah = ta - (ta - a), al = a - ah;
    const v4d bh = tb - (tb - b), bl = b - bh;
    return vdd{p, (((ah * bh - p) + ah * bl) + al * bh) + al * bl};
}
inline vdd v_add(vdd a, vdd b) {
    const vdd s = v_two_sum(a.hi, b.hi);
    const vdd t = v_two_sum(a.lo, b.lo);
    const vdd u = v_fast_two_sum(s.hi, s.lo + t.hi);
    return v_fast_two_sum(u.hi, u.lo + t.lo);
}
inline vdd v_neg(vdd a) { return vdd{-a.hi, -a.lo}; }
inline vdd v_sub(vdd a, vdd b) { return v_add(a, v_neg(b)); }
inline vdd v_add_d(vdd a, v4d b) {
    const vdd s = v_two_sum(a.hi, b);
    return v_fast_two_sum(s.hi, s.lo + a.lo);
}
inline vdd v_mul(vdd a, vdd b) {
    const vdd p = v_two_prod(a.hi, b.hi);
    return v_fast_two_sum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}
inline vdd v_mul_d(vdd a, v4d b) {
    const vdd p = v_two_prod(a.hi, b);
    return v_fast_two_sum(p.hi, p.lo + a.lo * b);
}
inline dd v_lane(vdd x, int l) { return dd{x.hi[l], x.lo[l]}; }

// log_step on four lanes.
inline vdd v_log_step(vdd lz, vdd z, v4d e) {
    const vdd D = v_add_d(v_add(z, z), e);
    const v4d q1 = e / D.hi;
    const vdd r = v_sub(vdd{e, v_splat(0.0)}, v_mul_d(D, q1));
    const vdd u = v_fast_two_sum(q1, r.hi / D.hi);
    const v4d w = u.hi * u.hi;
    const vdd u3 = v_mul(v_mul(u, u), u);
    const vdd tt = {v_splat(DD_TWO_THIRDS.hi), v_splat(DD_TWO_THIRDS.lo)};
    const v4d high = (u3.hi * w) * (v_splat(0.4) + w * (v_splat(2.0 / 7.0) + w * v_splat(2.0 / 9.0)));
    vdd t = v_add(v_add(u, u), v_mul(u3, tt));
    t = v_add_d(t, high);
    return v_add(lz, t);
}

struct SbtState {
    double j;
    dd lj, lnj, lsj, lb, lfj, lfnj; // log j, log(n-j), log(s+j), log(n-s-j), log j!, log (n-j)!
};

struct Sbt {
    double N, jmax;
    dd s, top, cst, ref;
};

SbtState sbt_state(const Sbt &S, double j) {
    SbtState t;
    t.j = j;
    t.lj = j > 0.0 ? dd_log_fast(dd_of(j)) : dd_of(0.0);
    t.lnj = dd_log_fast(dd_of(S.N - j));
    t.lsj = dd_log_fast(dd_add_d(S.s, j));
    t.lb = dd_log_fast(dd_sub(S.top, dd_of(j)));
    t.lfj = log_fact(j);
    t.lfnj = log_fact(S.N - j);
    return t;
}

dd sbt_logterm(const Sbt &S, const SbtState &t) {
    const dd l = dd_add(dd_mul_d(t.lsj, t.j - 1.0), dd_mul_d(t.lb, S.N - t.j));
    return dd_sub(dd_add(l, S.cst), dd_add(t.lfj, t.lfnj));
}

bool sbt_rest_negligible(const Sbt &S, double j, double e, double log_sum) {
    return sbt_log_rest(S.N, S.s, S.jmax, j, e) < log_sum - 80.0;
}

constexpr int VB = 1024; // terms per lane and block

// log P(D_n^+ >= s/n), 0 < s < n; -Inf when no term exists.
dd sbt_log_upper(int n, dd s) {
    Sbt S;
    S.N = static_cast<double>(n);
    S.s = s;
    S.top = dd_sub(dd_of(S.N), s); // j < top
    double jmax = dd_floor(S.top);
    if (dd_cmp(dd_of(jmax), S.top) >= 0) jmax -= 1.0;
    if (!(jmax >= 0.0)) return dd_of(-INFINITY);
    S.jmax = jmax;
    S.cst = dd_sub(dd_add(log_fact(S.N), dd_log_fast(s)), dd_mul_d(dd_log_fast(dd_of(S.N)), S.N));
    double j0 = std::floor(S.N / 2.0 - dd_val(s));
    if (j0 < 0.0) j0 = 0.0;
    if (j0 > jmax) j0 = jmax;
    const SbtState st0 = sbt_state(S, j0);
    S.ref = sbt_logterm(S, st0);
    // The terms are added as e^(l - shift), l their logarithm relative to
    // the first; shift, a whole number, follows the largest term from e^40
    // below it on (for s < n/2 the first term is about the largest; beyond,
    // they rise first), so that no term overflows and the rescalings of the
    // sum are few.
    dd sum = dd_of(1.0);
    double shift = 0.0;
    auto add = [&](dd l) {
        if (l.hi - shift > 40.0) {
            const double ns = std::floor(l.hi);
            sum = dd_mul_d(sum, exp_lite(dd_of(shift - ns)));
            shift = ns;
        }
        sum = dd_add_d(sum, exp_lite(dd_add_d(l, -shift)));
        return l.hi - shift;
    };
    auto log_sum = [&]() { return S.ref.hi + shift + std::log(sum.hi); };
    double *bufh = scratch<double>(4 * VB, "the exact distribution of D_n", LIMIT_HINT);
    double *bufl = scratch<double>(4 * VB, "the exact distribution of D_n", LIMIT_HINT);
    PollClock clock;
    const double topv = dd_val(S.top), sv = dd_val(s), lim = 1001.0 + 4.0;
    for (int dir = -1; dir <= 1; dir += 2) {
        SbtState t = st0;
        int since = 0;
        const double e = dir;
        for (;;) {
            const double jfar = t.j + e * 4 * VB;
            const double jlo = t.j < jfar ? t.j : jfar, jhi = t.j < jfar ? jfar : t.j;
            if (jlo > lim && jhi <= jmax && S.N - jhi > lim && topv - jhi > lim && sv + jlo > lim) {
                // Lane l takes the VB terms after j + e l VB, lane 0 carrying
                // on the running state, lanes 1..3 from fresh logarithms; the
                // terms are then added in the scalar order.
                SbtState L[4];
                L[0] = t;
                for (int l = 1; l < 4; l++) L[l] = sbt_state(S, t.j + e * l * VB);
                vdd lj, lnj, lsj, lb, lfj, lfnj;
                for (int l = 0; l < 4; l++) {
                    lj.hi[l] = L[l].lj.hi, lj.lo[l] = L[l].lj.lo;
                    lnj.hi[l] = L[l].lnj.hi, lnj.lo[l] = L[l].lnj.lo;
                    lsj.hi[l] = L[l].lsj.hi, lsj.lo[l] = L[l].lsj.lo;
                    lb.hi[l] = L[l].lb.hi, lb.lo[l] = L[l].lb.lo;
                    lfj.hi[l] = L[l].lfj.hi, lfj.lo[l] = L[l].lfj.lo;
                    lfnj.hi[l] = L[l].lfnj.hi, lfnj.lo[l] = L[l].lfnj.lo;
                }
                v4d j = {L[0].j, L[1].j, L[2].j, L[3].j};
                const v4d ve = v_splat(e), vN = v_splat(S.N), zero = v_splat(0.0), one = v_splat(1.0);
                const vdd vs = {v_splat(s.hi), v_splat(s.lo)}, vtop = {v_splat(S.top.hi), v_splat(S.top.lo)};
                const vdd vcst = {v_splat(S.cst.hi), v_splat(S.cst.lo)}, vref = {v_splat(S.ref.hi), v_splat(S.ref.lo)};
                double last = 0.0;
                for (int step = 0; step < VB; step++) {
                    const vdd zj = {j, zero}, znj = {vN - j, zero};
                    const vdd zs = v_add_d(vs, j), zb = v_sub(vtop, vdd{j, zero});
                    if (dir > 0) {
                        lj = v_log_step(lj, zj, ve);
                        lfj = v_add(lfj, lj);
                        lfnj = v_sub(lfnj, lnj);
                        lnj = v_log_step(lnj, znj, -ve);
                    } else {
                        lfj = v_sub(lfj, lj);
                        lj = v_log_step(lj, zj, ve);
                        lnj = v_log_step(lnj, znj, -ve);
                        lfnj = v_add(lfnj, lnj);
                    }
                    lsj = v_log_step(lsj, zs, ve);
                    lb = v_log_step(lb, zb, -ve);
                    j = j + ve;
                    vdd lv = v_add(v_mul_d(lsj, j - one), v_mul_d(lb, vN - j));
                    lv = v_sub(v_sub(v_add(lv, vcst), v_add(lfj, lfnj)), vref);
                    for (int l = 0; l < 4; l++) {
                        bufh[l * VB + step] = lv.hi[l];
                        bufl[l * VB + step] = lv.lo[l];
                    }
                    poll(&clock, 4.0);
                }
                for (int q = 0; q < 4 * VB; q++) {
                    last = add(dd{bufh[q], bufl[q]});
                }
                t.j = j[3];
                t.lj = v_lane(lj, 3);
                t.lnj = v_lane(lnj, 3);
                t.lsj = v_lane(lsj, 3);
                t.lb = v_lane(lb, 3);
                t.lfj = v_lane(lfj, 3);
                t.lfnj = v_lane(lfnj, 3);
                if (last < -40.0 && sbt_rest_negligible(S, t.j, e, log_sum())) break;
                continue;
            }
            const double jn = t.j + e;
            if (jn < 0.0 || jn > jmax) break;
            if (dir > 0) {
                t.lj = jn == 1.0 ? dd_of(0.0) : log_move(t.lj, dd_of(t.j), 1.0);
                t.lfj = dd_add(t.lfj, t.lj);    // log jn! = log j! + log jn
                t.lfnj = dd_sub(t.lfnj, t.lnj); // log (n-jn)! = log (n-j)! - log(n-j)
                t.lnj = log_move(t.lnj, dd_of(S.N - t.j), -1.0);
            } else {
                t.lfj = dd_sub(t.lfj, t.lj); // log jn! = log j! - log j
                t.lj = jn == 0.0 ? dd_of(0.0) : log_move(t.lj, dd_of(t.j), -1.0);
                t.lnj = log_move(t.lnj, dd_of(S.N - t.j), 1.0);
                t.lfnj = dd_add(t.lfnj, t.lnj); // log (n-jn)! = log (n-j)! + log(n-jn)
            }
            t.lsj = log_move(t.lsj, dd_add_d(s, t.j), e);
            t.lb = log_move(t.lb, dd_sub(S.top, dd_of(t.j)), -e);
            t.j = jn;
            const double r = add(dd_sub(sbt_logterm(S, t), S.ref));
            poll(&clock, 1.0);
            if (r < -40.0 && ++since >= 16) {
                since = 0;
                if (sbt_rest_negligible(S, t.j, e, log_sum())) break;
            }
        }
    }
    return dd_add(dd_add_d(S.ref, shift), dd_log_fast(sum));
}

// Where the complement needs care: P(D^+ >= d) below this, the band.
constexpr double P1_SWITCH = 1.5e-15;

} // namespace

// Where to stop.  With q = j/n and p = (s + j)/n > q, term j is at most
// P(Binomial(n, p) <= j) <= exp(-n K(q, p)), Chernoff's bound, K the
// Kullback-Leibler divergence; here n K = bd0(j, s + j) + bd0(n - j, n - s -
// j) (the linear parts cancel).  For the fixed gap p - q = s/n,
// g(q) = K(q, q + s/n) has g''(q) = (s/n)^2 (1/(q (q + s/n)^2) + 1/((1 - q)
// (1 - q - s/n)^2)) > 0: the bounds B_j = exp(-n g(j/n)) are log-concave in
// j, so beyond a j where B_(j+e) / B_j = rho < 1 (e = +-1, the direction of
// travel) every later ratio is at most rho, and all the terms after j add
// up to at most B_j rho / (1 - rho).  The double-double sum stops once that
// is below e^-80 of the sum so far (it resolves 1e-32), the double one in
// kolmogorov.cpp below e^-40.
double sbt_log_rest(double N, dd s, double jmax, double j, double e) {
    const double jn = j + e;
    if (jn < 0.0 || jn > jmax) return -INFINITY;
    const dd top = dd_sub(dd_of(N), s);
    const double b0 = -(bd0(j, dd_add_d(s, j)) + bd0(N - j, dd_sub(top, dd_of(j))));
    const double lr = -(bd0(jn, dd_add_d(s, jn)) + bd0(N - jn, dd_sub(top, dd_of(jn)))) - b0;
    if (!(lr < -1e-3)) return INFINITY;
    return b0 + lr - std::log1p(-std::exp(lr));
}

// P(D_n^+ >= s/n) and its complement, 0 < s < n, from the double-double
// SBT sum: the complement 1 - p1 in double-double, rounded once.
void kolmogorov_one_sided_upper(int n, dd s, xp *p1, xp *comp) {
    const dd lp1 = sbt_log_upper(n, s);
    if (lp1.hi == -INFINITY) {
        *p1 = xp_zero();
        *comp = xp_make(1.0);
        return;
    }
    *p1 = xp_exp_dd(lp1);
    *comp = xp_make(dd_val(dd_sub(dd_of(1.0), lp1.hi > -700.0 ? dd_exp(lp1) : dd_of(0.0))));
}

// The density of D_n at d = s/n from the spectral sum: n dP(D_n < d)/ds,
// the modes differentiated (see Slope, mode_slope).  False where the
// spectral sum does not apply (n < 300, n d < 8, sqrt(n) d > 4.1: the band
// answers there) or a check fails; *kappa gets the sum of the absolute
// values of the terms over their sum.
bool kolmogorov_spectral_density(int n, dd s, xp *f, double *kappa) {
    *kappa = INFINITY;
    const double N = static_cast<double>(n);
    const double d = dd_val(dd_div_d(s, N));
    const double x = rmul(d, rsqrt(N));
    if (n < 300 || !(d < 0.5) || rmul(x, x) > 20.0) return false;
    Problem P;
    setup(&P, n, s);
    if (P.m <= 16) return false;
    Lower lo;
    int modes = 0;
    Slope sl;
    if (!spectral_lower(P, &lo, &modes, &sl)) return false;
    if (!(sl.sum.hi > 0.0)) return false;
    *kappa = rdiv(sl.abs, sl.sum.hi);
    *f = xp_mul(xp_exp_dd(sl.lref), xp_make(rmul(N, dd_val(sl.sum))));
    return true;
}

// ---------------------------------------------------------------------------
// The driver.
// ---------------------------------------------------------------------------
bool kolmogorov_exact_tails(int n, dd s, int force, SpectralTails *out) {
    out->method = METHOD_NONE;
    out->modes = 0;
    const double N = static_cast<double>(n);
    const double d = dd_val(dd_div_d(s, N));
    const bool half = d >= 0.5;
    const double x = rmul(d, rsqrt(N));
    const double p1_est = rexp(rsub(rmul(-2.0, rmul(x, x)), rdiv(rmul(2.0, x), rmul(3.0, rsqrt(N)))));
    // Upper tail from the SBT sum when it is small enough.  Whether p1 is
    // below P1_SWITCH is judged first from its expansion, so that the sum is
    // only formed where it is likely used; if it then shows p1 above 1.5
    // P1_SWITCH the spectral sum runs after all (both are accurate in the
    // overlap).
    if (force == METHOD_BAND || (force == METHOD_AUTO && (half || p1_est < P1_SWITCH))) {
        const dd lp1 = sbt_log_upper(n, s);
        if (lp1.hi == -INFINITY) {
            out->lower = xp_make(1.0);
            out->upper = xp_zero();
            out->method = METHOD_BAND;
            return true;
        }
        if (force == METHOD_BAND || half || lp1.hi < std::log(1.5 * P1_SWITCH)) {
            // 2 p1 - p1^2 / 2 (d < 1/2) or 2 p1 (d >= 1/2)
            dd lu = dd_add(lp1, DD_LN2);
            if (!half) lu = dd_add(lu, dd_log1m(dd_of(0.25 * std::exp(lp1.hi))));
            out->upper = xp_exp_dd(lu);
            const double uv = xp_value(out->upper);
            if (uv > 0.5) return false; // only for n = 1, 2 at d = 1/2: not this method's
            out->lower = xp_make(dd_val(dd_sub(dd_of(1.0), lu.hi > -700.0 ? dd_exp(lu) : dd_of(0.0))));
            out->method = METHOD_BAND;
            return true;
        }
    }
    if (half) return false;
    Problem P;
    setup(&P, n, s);
    Lower lo;
    int method;
    if (force == METHOD_SQUARING || (force == METHOD_AUTO && P.m <= 16)) {
        lo = squaring_lower(P);
        method = METHOD_SQUARING;
    } else if (force == METHOD_DIRECT || (force == METHOD_AUTO && (n < 300 || (n < 2000 && 2.0 * p1_est < 1e-10)))) {
        lo = direct_lower(P);
        method = METHOD_DIRECT;
    } else {
        int modes = 0;
        const bool ok = spectral_lower(P, &lo, &modes, nullptr);
        out->modes = modes;
        method = METHOD_SPECTRAL;
        if (!ok) {
            if (force == METHOD_SPECTRAL) return false;
            // A failed check: another exact method, never this value.
            if (P.m <= 64) {
                lo = squaring_lower(P);
                method = METHOD_SQUARING;
            } else if (N * static_cast<double>(P.m) < 5e7) {
                lo = direct_lower(P);
                method = METHOD_DIRECT;
            } else {
                return false;
            }
        }
    }
    out->method = method;
    if (lo.tiny) {
        out->lower = xp_exp_dd(lo.lg);
        out->upper = xp_make(1.0);
        return true;
    }
    const dd up = dd_sub(dd_of(1.0), lo.v);
    if (!(lo.v.hi >= 0.0) || up.hi < 0.0) return false;
    out->lower = xp_make(dd_val(lo.v));
    out->upper = xp_make(dd_val(up));
    return true;
}

} // namespace ksx
