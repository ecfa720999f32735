// Sample-index arithmetic and local-extremum tests shared by the conditioning
// and separation code.
#ifndef KWSIGNAL_SRC_COMMON_SAMPLE_INDEX_H
#define KWSIGNAL_SRC_COMMON_SAMPLE_INDEX_H

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace kw::detail {

/// A valley floor below this lies below any real sample: with it every
/// valley qualifies as a boundary.
constexpr double kAnyValley = 1.0e100;

/// v (a sample count worked out in floating point, e.g. rate x seconds)
/// truncated toward zero and clamped to lo..hi (lo <= hi). NaN gives lo, so
/// a bad rate or time can never produce a wild index.
inline int truncToRange(double v, int lo, int hi) {
    if (!(v > lo)) return lo;
    if (v >= hi) return hi;
    return static_cast<int>(v);
}

/// Sample i is strictly above both neighbours (x[i - 1] and x[i + 1] must
/// exist). NaN is never an extremum.
inline bool isLocalMax(const double* x, int i) {
    return x[i] > x[i - 1] && x[i] > x[i + 1];
}

/// Sample i is strictly below both neighbours (x[i - 1] and x[i + 1] must
/// exist).
inline bool isLocalMin(const double* x, int i) {
    return x[i] < x[i - 1] && x[i] < x[i + 1];
}

/// Mean of x[i] over the i of first..last for which keep(i) holds; false
/// (mean untouched) when it holds for none.
template <class Keep>
bool meanWhere(const double* x, int first, int last, Keep keep, double& mean) {
    double sum = 0.0;
    int count = 0;
    for (int i = first; i <= last; ++i) {
        if (keep(i)) {
            sum += x[i];
            ++count;
        }
    }
    if (count == 0) return false;
    mean = sum / count;
    return true;
}

/// The local extrema listExtrema finds.
enum class Extremum {
    strictMax,     ///< above both neighbours
    maxFlatRight,  ///< above the sample before, not below the one after
    strictMin,     ///< below both neighbours
};

namespace extremum_detail {

template <Extremum kind>
inline bool isExtremum(double before, double here, double after) {
    if (kind == Extremum::strictMax) return (here > before) & (here > after);
    if (kind == Extremum::maxFlatRight) return (here > before) & (here >= after);
    return (here < before) & (here < after);
}

#ifdef __SSE2__
// The test on two neighbouring samples at once; like the scalar comparisons
// the packed ones are false where a NaN takes part.
template <Extremum kind>
inline int extremumMask(const double* x) {
    const __m128d here = _mm_loadu_pd(x), before = _mm_loadu_pd(x - 1), after = _mm_loadu_pd(x + 1);
    __m128d m;
    if (kind == Extremum::strictMax)
        m = _mm_and_pd(_mm_cmpgt_pd(here, before), _mm_cmpgt_pd(here, after));
    else if (kind == Extremum::maxFlatRight)
        m = _mm_and_pd(_mm_cmpgt_pd(here, before), _mm_cmpge_pd(here, after));
    else
        m = _mm_and_pd(_mm_cmplt_pd(here, before), _mm_cmplt_pd(here, after));
    return _mm_movemask_pd(m);
}
#endif

}  // namespace extremum_detail

/// Lists, in order, the samples i of first..last that are extrema of the
/// given kind (x[first - 1] and x[last + 1] must exist) into at[] (room for
/// last - first + 1); returns how many, 0 without reading anything when
/// first > last. NaN is never an extremum. Which
/// samples of a noisy trace are extrema cannot be predicted, so they are
/// listed without a branch, two samples at a time where SSE2 is there: two
/// neighbours are never both extrema of one kind (each would have to lie
/// above, or below, the other), so a pair adds at most one.
template <Extremum kind>
int listExtrema(const double* x, int first, int last, int* at) {
    int count = 0;
    int i = first;
#ifdef __SSE2__
    for (; i + 1 <= last; i += 2) {
        const int mask = extremum_detail::extremumMask<kind>(x + i);
        at[count] = i + (mask >> 1);
        count += static_cast<int>(mask != 0);
    }
#endif
    for (; i <= last; ++i) {
        at[count] = i;
        count += static_cast<int>(extremum_detail::isExtremum<kind>(x[i - 1], x[i], x[i + 1]));
    }
    return count;
}

/// Lists, in order, the strict local maxima i of x in first..last (x[i - 1]
/// and x[i + 1] must exist) into at[] (room for last - first + 1); returns
/// how many.
inline int strictMaxima(const double* x, int first, int last, int* at) {
    return listExtrema<Extremum::strictMax>(x, first, last, at);
}

/// meanWhere over the samples listed in at[0..count-1], summed in list order
/// and selected rather than branched on (a sum from +0 is unchanged by
/// adding +0, so the bits are those of the branching sum).
template <class Keep>
bool meanOfListed(const double* x, const int* at, int count, Keep keep, double& mean) {
    double sum = 0.0;
    int kept = 0;
    for (int k = 0; k < count; ++k) {
        const bool take = keep(at[k]);
        sum += take ? x[at[k]] : 0.0;
        kept += static_cast<int>(take);
    }
    if (kept == 0) return false;
    mean = sum / kept;
    return true;
}

}  // namespace kw::detail

#endif
