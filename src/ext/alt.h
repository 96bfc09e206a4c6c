// Which statistic a distribution function is about: the two-sided
// sup |difference|, or one of the one-sided sups.  For one sample the
// difference is F_n - F; for two samples F_m - G_n, x's minus y's.
#ifndef KSDIST_ALT_H
#define KSDIST_ALT_H
namespace ksx {
enum { ALT_TWO = 0, ALT_GREATER = 1, ALT_LESS = 2 };
}
#endif
