// Reference values of the one-sample two-sided Kolmogorov-Smirnov
// distribution, P(D_n < d) and P(D_n >= d), by the checkpoint recursion of a
// Poisson process, in extended precision, and log P(D_n^+ >= d) by the
// Smirnov-Birnbaum-Tingey sum in __float128.  This program is the
// independent reference against which the package's exact engine
// (src/ext/kolmogorov_spectral.cpp) is judged: a standalone program that
// shares no code with the package.  tools/make-kolmogorov-large.R runs it.
//
// Model.  N is a Poisson process of rate n on [0, 1] (time measured below in
// units of 1/n, tau = n t, so increments over a gap g are Poisson(g)).  With
// s = n d, D_n < d holds exactly when, for the uniform order statistics,
// i/n - d < U_(i) < (i - 1)/n + d for all i, i.e. when
//   N at tau = i - s      is at most i - 1   (checkpoint a_i, 0 < i - s),
//   N at tau = j - 1 + s  is at least j      (checkpoint b_j, j - 1 + s < n),
// conditionally on N(1) = n.  V(c) = P(N(tau) = c, every check so far held)
// is carried from checkpoint to checkpoint by a Poisson convolution; counts
// that fail a check leave, and a count c leaving at tau is worth
//   w(tau, c) = P(Poisson(n - tau) = n - c) / P(Poisson(n) = n)
// in the conditional (uniform) model.  The upper tail is the sum of the
// leaving masses times their weights: a sum of positive terms, with no
// cancellation however small it is.  The lower tail is the mass left at the
// end, at count n, divided by P(Poisson(n) = n).  lower + upper - 1 is
// printed as a check (it is the truncation of the kernels, below 1e-40).
//
// Arithmetic: the state vector in __float128 (113-bit significand) or in
// double-double (106 bits, faster; used for n >= 1e5, cross-checked against
// __float128 at n = 1e4); kernel and leaving weights always in __float128
// (expq, logq, lgammaq of libquadmath).  The kernels are cut where the
// Poisson(g <= 1) probabilities fall below 1e-50 (float128) or 1e-40
// (double-double).
//
// Input lines: n d (d as a C hexadecimal double).  Output lines:
// n d_hex lower upper lower+upper-1 seconds, the probabilities with 36 digits.
// Build: g++ -O2 -ffp-contract=off kolmogorov-oracle.cpp -lquadmath
// (-ffp-contract=off is essential: the double-double products rely on every
// product being rounded on its own).
#include <quadmath.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

typedef __float128 Q;

// ---- double-double, only what the recursion needs --------------------------
struct DD {
    double hi, lo;
};
static inline DD two_sum(double a, double b) {
    double s = a + b, bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}
static inline DD fast_two_sum(double a, double b) {
    double s = a + b;
    return {s, b - (s - a)};
}
static inline void split(double a, double &h, double &l) {
    double c = 134217729.0 * a;
    h = c - (c - a);
    l = a - h;
}
static inline DD two_prod(double a, double b) {
    double p = a * b, ah, al, bh, bl;
    split(a, ah, al);
    split(b, bh, bl);
    return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}
static inline DD operator+(DD a, DD b) {
    DD s = two_sum(a.hi, b.hi), t = two_sum(a.lo, b.lo);
    s.lo += t.hi;
    s = fast_two_sum(s.hi, s.lo);
    s.lo += t.lo;
    return fast_two_sum(s.hi, s.lo);
}
static inline DD operator*(DD a, DD b) {
    DD p = two_prod(a.hi, b.hi);
    p.lo += a.hi * b.lo + a.lo * b.hi;
    return fast_two_sum(p.hi, p.lo);
}

template <class T> struct Num;
template <> struct Num<Q> {
    static Q of(Q x) { return x; }
    static Q to(Q x) { return x; }
    static Q zero() { return 0; }
    static constexpr double cut = 1e-50;
};
template <> struct Num<DD> {
    static DD of(Q x) {
        double h = (double)x;
        return {h, (double)(x - (Q)h)};
    }
    static Q to(DD x) { return (Q)x.hi + (Q)x.lo; }
    static DD zero() { return {0.0, 0.0}; }
    static constexpr double cut = 1e-40;
};

// log P(Poisson(mu) = m), m >= 0, mu > 0.
static Q log_pois(Q m, Q mu) { return m * logq(mu) - mu - lgammaq(m + 1); }

// Poisson(g) probabilities for 0 <= r < K.size(), cut below `cut`.
template <class T> static void kernel(Q g, double cut, std::vector<T> &K) {
    K.clear();
    Q p = expq(-g);
    for (int r = 0;; r++) {
        if (r > 0) p = p * g / r;
        K.push_back(Num<T>::of(p));
        if (r > g && p < (Q)cut) break;
    }
}

template <class T> struct Out {
    Q lower, upper;
};

template <class T> static Out<T> run(long n, double d) {
    const Q N = (Q)n;
    const Q s = N * (Q)d; // exact: 53 x 31 bits
    const Q lp0 = log_pois(N, N);
    // checkpoint indices: a_i for i = ia .. n, b_j for j = 1 .. jb_end
    long ia = (long)floorq(s) + 1;
    long jb = 1;
    long jb_end = (long)ceilq(N - s); // b_j exists while j - 1 + s < n
    if (jb_end > n) jb_end = n;
    std::vector<T> V(1, Num<T>::of(1)), W, K0, K1;
    Q gK0 = -1, gK1 = -1;
    long lo = 0; // V[c - lo]
    Q tau = 0, upper = 0;
    auto leave = [&](long c, T v) {
        if (c > n) return;
        Q w = expq(log_pois(N - c, N - tau) - lp0);
        upper += Num<T>::to(v) * w;
    };
    while (ia <= n || jb <= jb_end) {
        Q ta = ia <= n ? (Q)ia - s : (Q)1e300;
        Q tb = jb <= jb_end ? (Q)(jb - 1) + s : (Q)1e300;
        Q tnext = ta < tb ? ta : tb;
        Q g = tnext - tau;
        if (g > 0) {
            std::vector<T> *K;
            if (g == gK0) K = &K0;
            else if (g == gK1) K = &K1;
            else {
                kernel<T>(g, Num<T>::cut, K1);
                std::swap(K0, K1);
                std::swap(gK0, gK1);
                gK0 = g;
                K = &K0;
            }
            const size_t L = K->size(), M = V.size();
            W.assign(M + L - 1, Num<T>::zero());
            for (size_t r = 0; r < L; r++) {
                const T kr = (*K)[r];
                T *w = W.data() + r;
                const T *v = V.data();
                for (size_t c = 0; c < M; c++) w[c] = w[c] + v[c] * kr;
            }
            V.swap(W);
        }
        tau = tnext;
        if (ta == tnext) { // count must be <= ia - 1
            long top = lo + (long)V.size() - 1;
            if (top >= ia) {
                // weights from c = ia upwards by the ratio (n - c)/(n - tau)
                Q mu = N - tau;
                Q w = (ia <= n) ? expq(log_pois(N - ia, mu) - lp0) : 0;
                for (long c = ia; c <= top && c <= n; c++) {
                    upper += Num<T>::to(V[c - lo]) * w;
                    w = w * (Q)(n - c) / mu;
                }
                V.resize(ia - lo > 0 ? ia - lo : 0);
            }
            ia++;
        }
        if (tb == tnext) { // count must be >= jb
            while (lo < jb && !V.empty()) {
                leave(lo, V[0]);
                V.erase(V.begin());
                lo++;
            }
            if (V.empty()) lo = jb;
            jb++;
        }
        if (V.empty()) break;
    }
    Q lower = 0;
    if (!V.empty()) {
        Q mu = N - tau;
        for (size_t i = 0; i < V.size(); i++) {
            long c = lo + (long)i;
            if (c > n) break;
            Q w = mu > 0 ? expq(log_pois(N - c, mu) - lp0) : (c == n ? expq(-lp0) : 0);
            lower += Num<T>::to(V[i]) * w;
        }
    }
    return {lower, upper};
}

// P(D_n^+ >= d) by the Smirnov-Birnbaum-Tingey sum
//   d sum_{0 <= j < n(1 - d)} C(n, j) (d + j/n)^(j - 1) (1 - d - j/n)^(n - j),
// each term from lgammaq/logq/expq in __float128, positive terms summed in
// __float128.  Returned as a logarithm (the values reach far below 1e-4932 is
// not needed here; they stay within __float128's range for the rows used).
static Q sbt_log(long n, double d) {
    const Q N = (Q)n, D = (Q)d;
    Q lf = lgammaq(N + 1);
    std::vector<Q> lt;
    Q mx = -1e4000Q;
    for (long j = 0; j < n; j++) {
        Q top = 1 - D - (Q)j / N;
        if (!(top > 0)) break;
        Q l = logq(D) + lf - lgammaq((Q)j + 1) - lgammaq(N - j + 1) + (Q)(j - 1) * logq(D + (Q)j / N) +
              (N - j) * logq(top);
        lt.push_back(l);
        if (l > mx) mx = l;
    }
    Q sum = 0;
    for (Q l : lt) sum += expq(l - mx);
    return mx + logq(sum);
}

int main(int argc, char **argv) {
    if (argc > 1 && std::strcmp(argv[1], "sbt") == 0) {
        char line[256];
        while (std::fgets(line, sizeof line, stdin)) {
            long n;
            char dh[128];
            if (std::sscanf(line, "%ld %127s", &n, dh) != 2) continue;
            double d = std::strtod(dh, nullptr);
            Q l = sbt_log(n, d);
            char a[64];
            quadmath_snprintf(a, sizeof a, "%.36Qe", l);
            std::printf("%ld %a %s\n", n, d, a);
            std::fflush(stdout);
        }
        return 0;
    }
    bool use_dd = argc > 1 && std::strcmp(argv[1], "dd") == 0;
    char line[256];
    while (std::fgets(line, sizeof line, stdin)) {
        long n;
        char dh[128];
        if (std::sscanf(line, "%ld %127s", &n, dh) != 2) continue;
        double d = std::strtod(dh, nullptr);
        auto t0 = std::chrono::steady_clock::now();
        Q lo, up;
        if (use_dd) {
            Out<DD> o = run<DD>(n, d);
            lo = o.lower;
            up = o.upper;
        } else {
            Out<Q> o = run<Q>(n, d);
            lo = o.lower;
            up = o.upper;
        }
        double sec = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        char a[64], b[64], c[64];
        quadmath_snprintf(a, sizeof a, "%.36Qe", lo);
        quadmath_snprintf(b, sizeof b, "%.36Qe", up);
        quadmath_snprintf(c, sizeof c, "%.3Qe", lo + up - 1);
        std::printf("%ld %a %s %s %s %.2f\n", n, d, a, b, c, sec);
        std::fflush(stdout);
    }
    return 0;
}
