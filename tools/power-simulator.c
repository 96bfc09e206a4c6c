/* Simulation oracle for the power of the one-sample test and the coverage
 * of the Kolmogorov band (tools/make-power-simulations.R loads it with
 * dyn.load; it is not part of the package).  Samples are drawn from the true
 * distribution with R's generator and R's own quantile functions, the
 * statistic is computed from them as ks_test computes it (F(x) and F(x-)
 * at every sorted observation), and the count of samples the test rejects
 * is returned.  Nothing here shares code with the package's power engine.
 *
 * Cases (par: parameters):
 *  1 null N(0,1), truth N(par0, 1)                       (continuous)
 *  2 null Poisson(par0), truth Poisson(par1)              (discrete)
 *  3 null N(0,1), truth round(2 Z) / 2, Z ~ N(par0, 1)    (atoms of the truth)
 *  4 null 1/2 U(0,1) + 1/2 U(2,3) (flat on [1,2]), truth N(par0, par1)
 *  5 null P(0) = 0.3, else Exp(1); truth P(0) = par0, else Exp(par1)  (mixed)
 * alt: 0 two-sided, 1 greater (D+), 2 less (D-).  Rejects when D > q
 * (strict = 1: D > q + 1e-9, a null with jumps) or D >= q (strict = 0).
 */
#include <R.h>
#include <Rinternals.h>
#include <Rmath.h>
#include <stdlib.h>

static int cmp(const void *a, const void *b) {
    double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

static void null_cdf(int kase, const double *par, double x, double *F, double *Fl) {
    switch (kase) {
    case 1: case 3:
        *F = *Fl = pnorm(x, 0, 1, 1, 0);
        break;
    case 2:
        *F = ppois(x, par[0], 1, 0);
        *Fl = x >= 1 ? ppois(x - 1, par[0], 1, 0) : 0;  /* data are whole numbers */
        break;
    case 4: {
        double v = 0;
        if (x > 0) v += 0.5 * (x < 1 ? x : 1);
        if (x > 2) v += 0.5 * (x < 3 ? x - 2 : 1);
        *F = *Fl = v;
        break;
    }
    case 5:
        *F = x < 0 ? 0 : 0.3 + 0.7 * (1 - exp(-x));
        *Fl = x <= 0 ? 0 : *F;
        break;
    }
}

static double draw(int kase, const double *par) {
    double u;
    switch (kase) {
    case 1: return norm_rand() + par[0];
    case 2: return rpois(par[1]);
    case 3: return nearbyint(2 * (norm_rand() + par[0])) / 2;
    case 4: return par[0] + par[1] * norm_rand();
    case 5:
        u = unif_rand();
        return u < par[0] ? 0 : exp_rand() / par[1];
    }
    return 0;
}

SEXP power_simulate(SEXP skase, SEXP spar, SEXP sn, SEXP sq, SEXP salt, SEXP sstrict, SEXP sreps) {
    const int kase = asInteger(skase), n = asInteger(sn), alt = asInteger(salt), strict = asInteger(sstrict);
    const double q = asReal(sq), reps = asReal(sreps);
    const double *par = REAL(spar);
    double *x = (double *)R_alloc(n, sizeof(double));
    double hits = 0;
    GetRNGstate();
    for (double r = 0; r < reps; r++) {
        for (int i = 0; i < n; i++) x[i] = draw(kase, par);
        qsort(x, n, sizeof(double), cmp);
        double dp = 0, dm = 0;
        for (int i = 0; i < n; i++) {
            double F, Fl;
            null_cdf(kase, par, x[i], &F, &Fl);
            double a = (i + 1.0) / n - F, b = Fl - (double)i / n;
            if (a > dp) dp = a;
            if (b > dm) dm = b;
        }
        double D = alt == 0 ? (dp > dm ? dp : dm) : (alt == 1 ? dp : dm);
        hits += strict ? (D > q + 1e-9) : (D >= q);
        if (((long)r & 1023) == 1023) R_CheckUserInterrupt();
    }
    PutRNGstate();
    return ScalarReal(hits);
}
