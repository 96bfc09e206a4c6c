// The machine's peak rate for separate (non-fused) multiplies and adds: 12
// independent accumulators, each adding a fresh product per step, so that
// neither the add latency nor the loads limit the rate.  Used by
// bench/run.R to put the matrix kernels' rates in proportion.  Not part of
// the package.
#include <R.h>
#include <Rinternals.h>
#include <chrono>

typedef double v2d __attribute__((vector_size(16)));
typedef double v4d __attribute__((vector_size(32)));
typedef double v8d __attribute__((vector_size(64)));

// The empty asm statements keep the compiler from fusing, hoisting or
// vectorising differently: b is "changed" every step, so every product is
// formed anew, and each accumulator is a separate add chain.
#define PEAK(NAME, ATTR, VT, CONS)                                                      \
    ATTR static double NAME(long iters) {                                               \
        VT acc[12], a[12];                                                              \
        VT b = VT{} + 0.9999999;                                                        \
        for (int k = 0; k < 12; k++) {                                                  \
            acc[k] = VT{} + 1.0 * k;                                                    \
            a[k] = VT{} + (1.0 + 1e-9 * k);                                             \
        }                                                                               \
        for (long i = 0; i < iters; i++) {                                              \
            __asm__("" : "+" CONS(b));                                                  \
            _Pragma("GCC unroll 12") for (int k = 0; k < 12; k++) {                     \
                VT p = a[k] * b;                                                        \
                __asm__("" : "+" CONS(p));                                              \
                acc[k] = acc[k] + p;                                                    \
                __asm__("" : "+" CONS(acc[k]));                                         \
            }                                                                           \
        }                                                                               \
        double s = 0;                                                                   \
        for (int k = 0; k < 12; k++)                                                    \
            for (int l = 0; l < static_cast<int>(sizeof(VT) / 8); l++) s += acc[k][l]; \
        return s;                                                                       \
    }

PEAK(peak_sse2, , v2d, "x")
PEAK(peak_avx2, __attribute__((target("avx2"))), v4d, "x")
PEAK(peak_avx512, __attribute__((target("avx512f"))), v8d, "v")

// .Call("peak_rate", width, iterations): multiply-adds per second with
// vectors of 2 (SSE2), 4 (AVX2) or 8 (AVX-512) doubles, NA where the
// processor lacks the instructions.
extern "C" __attribute__((visibility("default"))) SEXP peak_rate(SEXP sw, SEXP sit) {
    const int width = Rf_asInteger(sw);
    const long iters = static_cast<long>(Rf_asReal(sit));
    __builtin_cpu_init();
    if ((width == 8 && !__builtin_cpu_supports("avx512f")) ||
        (width == 4 && !__builtin_cpu_supports("avx2")) || (width != 2 && width != 4 && width != 8))
        return Rf_ScalarReal(NA_REAL);
    const auto t0 = std::chrono::steady_clock::now();
    const double s = width == 8 ? peak_avx512(iters) : width == 4 ? peak_avx2(iters) : peak_sse2(iters);
    const auto t1 = std::chrono::steady_clock::now();
    const double sec = std::chrono::duration<double>(t1 - t0).count();
    // s is used so that the loop is not removed; it is never negative.
    return Rf_ScalarReal(s < 0 ? 0.0 : 12.0 * width * static_cast<double>(iters) / sec);
}
