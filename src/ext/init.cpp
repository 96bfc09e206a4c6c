// Registration of the .Call routines of ksdist_ext and the link to the
// exact module's entry points.
#include "discrete.h"
#include "kolmogorov.h"
#include "limit.h"
#include "power.h"
#include "smirnov.h"

#include <R_ext/Rdynload.h>

namespace ksx {

// The test hooks (hooks.cpp).
SEXP ksx_hook_kolmogorov(SEXP, SEXP, SEXP, SEXP);
SEXP ksx_hook_kolmogorov_density(SEXP, SEXP, SEXP, SEXP);
SEXP ksx_hook_kolmogorov_method(SEXP, SEXP, SEXP);
SEXP ksx_hook_kolmogorov_q(SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP ksx_hook_discrete(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP ksx_hook_smirnov(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP ksx_hook_pow(SEXP, SEXP);

namespace {

// .Call(init): whether the exact module's three entry points can be found
// (the package refuses to load otherwise).
SEXP ksx_init() { return Rf_ScalarLogical(module_loaded()); }

// .Call(poll): lets R act on a pending interrupt or time limit.  R's own
// evaluator looks only every thousand or so calls, so the R code that
// works through long vectors in chunks asks here after each chunk.
SEXP ksx_poll() {
    R_CheckUserInterrupt();
    return R_NilValue;
}

// Every routine is registered through this wrapper, which reads the
// options a computation may need and finds the module's entry points once,
// before the routine runs, and gives R the routine's number of arguments.
template <typename F, F f> struct Routine;
template <typename... A, SEXP (*f)(A...)> struct Routine<SEXP (*)(A...), f> {
    static SEXP run(A... a) {
        read_options();
        link_module();
        return f(a...);
    }
    static constexpr int arity = sizeof...(A);
};

#define CALLDEF(name) \
    {#name, reinterpret_cast<DL_FUNC>(&Routine<decltype(&name), &name>::run), Routine<decltype(&name), &name>::arity}

const R_CallMethodDef call_methods[] = {
    CALLDEF(ksx_init),
    CALLDEF(ksx_poll),
    // kolmogorov
    CALLDEF(ksx_d_kolmogorov),
    CALLDEF(ksx_p_kolmogorov),
    CALLDEF(ksx_q_kolmogorov),
    CALLDEF(ksx_r_kolmogorov),
    // smirnov
    CALLDEF(ksx_d_smirnov2),
    CALLDEF(ksx_p_smirnov2),
    CALLDEF(ksx_q_smirnov2),
    CALLDEF(ksx_r_smirnov2),
    CALLDEF(ksx_smirnov_pvalue),
    CALLDEF(ksx_smirnov_exact_size),
    CALLDEF(ksx_smirnov_seconds),
    CALLDEF(ksx_smirnov_statistic),
    // limit
    CALLDEF(ksx_d_limit),
    CALLDEF(ksx_p_limit),
    CALLDEF(ksx_q_limit),
    CALLDEF(ksx_r_limit),
    // discrete
    CALLDEF(ksx_p_discrete),
    CALLDEF(ksx_q_discrete),
    CALLDEF(ksx_discrete_pvalue),
    CALLDEF(ksx_prev_double),
    // power
    CALLDEF(ksx_order_bounds),
    CALLDEF(ksx_between_double),
    // test hooks
    CALLDEF(ksx_hook_kolmogorov),
    CALLDEF(ksx_hook_kolmogorov_density),
    CALLDEF(ksx_hook_kolmogorov_method),
    CALLDEF(ksx_hook_kolmogorov_q),
    CALLDEF(ksx_hook_discrete),
    CALLDEF(ksx_hook_smirnov),
    CALLDEF(ksx_hook_pow),
    {nullptr, nullptr, 0}};

} // namespace
} // namespace ksx

extern "C" __attribute__((visibility("default"))) void R_init_ksdist_ext(DllInfo *dll) {
    R_registerRoutines(dll, nullptr, ksx::call_methods, nullptr, nullptr);
    R_useDynamicSymbols(dll, FALSE);
    R_forceSymbols(dll, TRUE);
}
