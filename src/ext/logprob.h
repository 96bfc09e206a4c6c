// Poisson and binomial log-probabilities with an error small relative to
// the size of their parts (the method of Loader's binomial paper: Stirling's
// series for log k! and a deviance function computed without cancellation).
// Plain lgamma differences would lose about k * 1e-16 absolutely in the
// exponent.  Used by the boundary-crossing recursion (crossing.cpp) and the
// Smirnov-Birnbaum-Tingey sums (kolmogorov.cpp).
#ifndef KSDIST_LOGPROB_H
#define KSDIST_LOGPROB_H

#include "host.h"

namespace ksx {

// log k! - ((k + 1/2) log k - k + log(2 pi) / 2), k a positive integer.
inline double stirlerr(double k) {
    static const double table[16] = {
        0.0810614667953272582197, 0.0413406959554092940938, 0.0276779256849983391488,
        0.0207906721037650931115, 0.0166446911898211921632, 0.0138761288230707479987,
        0.0118967099458917700951, 0.0104112652619720964975, 0.00925546218271273291773,
        0.00833056343336287125647, 0.00757367548795184079497, 0.00694284010720952986566,
        0.00640899418800420706844, 0.00595137011275884773562, 0.00555473355196280137104,
        0.00520765591960964044072};
    if (k <= 16.0) return table[static_cast<int>(k) - 1];
    const double S0 = 1.0 / 12, S1 = 1.0 / 360, S2 = 1.0 / 1260, S3 = 1.0 / 1680, S4 = 1.0 / 1188;
    const double k2 = k * k;
    if (k > 500) return (S0 - S1 / k2) / k;
    if (k > 80) return (S0 - (S1 - S2 / k2) / k2) / k;
    if (k > 35) return (S0 - (S1 - (S2 - S3 / k2) / k2) / k2) / k;
    return (S0 - (S1 - (S2 - (S3 - S4 / k2) / k2) / k2) / k2) / k;
}

// x log(x / M) + M - x >= 0 for x >= 0, M > 0, accurate relative to itself.
// With v = (x - M) / (x + M) it is (x - M) v + 2 x (v^3/3 + v^5/5 + ...),
// summed while |v| <= 1/2; beyond that the direct form cancels at most by a
// factor of about three.
inline double bd0(double x, dd M) {
    if (x == 0.0) return dd_val(M);
    const double diff = dd_val(dd_sub(dd_of(x), M));
    const double sum = x + dd_val(M);
    const double v = diff / sum;
    if (std::fabs(v) <= 0.5) {
        double s = diff * v;
        double ej = 2.0 * x * v;
        const double v2 = v * v;
        for (int j = 1; j < 200; j++) {
            ej *= v2;
            const double s1 = s + ej / static_cast<double>(2 * j + 1);
            if (s1 == s) break;
            s = s1;
        }
        return s;
    }
    return x * std::log(x / dd_val(M)) - diff;
}

// log P(Poisson(lambda) = k), k >= 0 an integer.
inline double log_dpois(double k, dd lambda) {
    if (lambda.hi <= 0.0) return k == 0.0 ? 0.0 : -INFINITY;
    if (k == 0.0) return -dd_val(lambda);
    return -stirlerr(k) - bd0(k, lambda) - 0.5 * (LN_2PI + std::log(k));
}

} // namespace ksx

#endif
