// The Legendre recurrence, shared by the polynomial fits and by whoever
// evaluates a fitted series, so that a series evaluated at many points gives
// exactly the values of LegPol.
#ifndef KWSIGNAL_SRC_COMMON_LEGENDRE_H
#define KWSIGNAL_SRC_COMMON_LEGENDRE_H

namespace kw::detail {

/// One step of the recurrence before its division: (j + 1) P(j+1, x) from
/// P(j, x) and P(j-1, x).
inline double scaledNext(int j, double x, double pj, double pjPrev) {
    return (2.0 * j + 1.0) * x * pj - j * pjPrev;
}

/// One step of the recurrence: P(j+1, x) from P(j, x) and P(j-1, x).
inline double next(int j, double x, double pj, double pjPrev) {
    return scaledNext(j, x, pj, pjPrev) / (j + 1.0);
}

}  // namespace kw::detail

#endif
