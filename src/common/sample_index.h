// Sample-index arithmetic and local-extremum tests shared by the conditioning
// and separation code.
#ifndef KWSIGNAL_SRC_COMMON_SAMPLE_INDEX_H
#define KWSIGNAL_SRC_COMMON_SAMPLE_INDEX_H

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

/// Lists, in order, the strict local maxima i of x in first..last (x[i - 1]
/// and x[i + 1] must exist) into at[] (room for last - first + 1); returns
/// how many. Which samples of a noisy trace are maxima cannot be predicted:
/// they are listed without a branch.
inline int strictMaxima(const double* x, int first, int last, int* at) {
    int count = 0;
    for (int i = first; i <= last; ++i) {
        at[count] = i;
        count += static_cast<int>(x[i] > x[i - 1]) & static_cast<int>(x[i] > x[i + 1]);
    }
    return count;
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
