// Compile-time refusal of the flags that change floating-point results and
// announce themselves through a macro.  Both shared objects include it: the
// exact module's results are reproducible bit for bit, and the second one
// relies on exact IEEE double arithmetic too (compensated sums, exact
// power-of-two scaling).  Flags that define no macro (clang's
// -ffp-contract=fast, -freciprocal-math, -fassociative-math) are dealt with
// in the code itself and by the load-time bit check.
#ifndef KSDIST_FLOAT_CHECKS_H
#define KSDIST_FLOAT_CHECKS_H

#include <cfloat>

#if defined(__FAST_MATH__)
#error "ksdist must not be compiled with -ffast-math or -Ofast: they change its results. Remove them from CXX17FLAGS/CXXFLAGS (e.g. in ~/.R/Makevars) and reinstall."
#endif
#if defined(__FINITE_MATH_ONLY__) && __FINITE_MATH_ONLY__
#error "ksdist must not be compiled with -ffinite-math-only: NaN and infinite arguments would be misread. Remove it from CXX17FLAGS/CXXFLAGS and reinstall."
#endif
#if defined(__ASSOCIATIVE_MATH__) || defined(__RECIPROCAL_MATH__) || defined(__NO_SIGNED_ZEROS__)
#error "ksdist must not be compiled with -fassociative-math, -freciprocal-math, -fno-signed-zeros or -funsafe-math-optimizations: they change its results. Remove them from CXX17FLAGS/CXXFLAGS and reinstall."
#endif
#if (defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD != 0) || \
    (defined(__FLT_EVAL_METHOD__) && __FLT_EVAL_METHOD__ != 0)
#error "ksdist needs double arithmetic evaluated in double precision (FLT_EVAL_METHOD == 0); flags such as -mfpmath=387 keep intermediates in extended precision and change its results. Build with SSE2 arithmetic (the x86-64 default)."
#endif

#endif
