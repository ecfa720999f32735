// Which dye channel leads at a sample, asked of every sample by the colour
// separation: kept inline so that its loops do not pay a call per sample.
#ifndef KWSIGNAL_SRC_COMMON_DOMINANCE_H
#define KWSIGNAL_SRC_COMMON_DOMINANCE_H

#include <vector>

#include "kwsignal/capillary.h"

namespace kw::detail {

/// The channels' sample arrays, so that a loop over samples indexes them
/// directly instead of going through the trace array at every value.
inline std::vector<const double*> sampleRows(const KwCap& cap) {
    std::vector<const double*> rows;
    for (int k = 0; k < cap.getNumTraces(); ++k) rows.push_back(cap.getPnterToTrace(k)->getData());
    return rows;
}

/// The channel with the largest of n samples at(0..n-1); a channel replaces
/// the one kept only when strictly larger, so ties go to the lowest trace
/// code.
template <class At>
int largestOf(int n, const At& at) {
    int best = 0;
    double bestValue = at(0);
    for (int k = 1; k < n; ++k) {
        const double v = at(k);
        if (v > bestValue) {
            best = k;
            bestValue = v;
        }
    }
    return best;
}

/// The largest of n samples at(0..n-1) other than `dominant` that is
/// positive and above threshold, or -1; ties go to the lowest trace code.
template <class At>
int secondOf(int n, const At& at, int dominant, double threshold) {
    int best = -1;
    double bestValue = 0.0;
    for (int k = 0; k < n; ++k) {
        if (k == dominant) continue;
        const double v = at(k);
        if (v > threshold && v > bestValue) {
            best = k;
            bestValue = v;
        }
    }
    return best;
}

/// The channel with the largest sample at i (ties to the lowest code).
inline int dominantChannel(const KwCap& cap, int i) {
    return largestOf(cap.getNumTraces(), [&](int k) { return cap(k, i); });
}

/// The same, on the channels' sample arrays rows[0..n-1] (read-only or
/// writable pointers alike).
template <class Row>
int dominantChannel(const std::vector<Row*>& rows, int i) {
    return largestOf(static_cast<int>(rows.size()), [&](int k) { return rows[k][i]; });
}

/// The largest channel other than `dominant` that is positive and above
/// threshold at i, or -1; ties go to the lowest trace code.
inline int secondChannel(const KwCap& cap, int i, int dominant, double threshold) {
    return secondOf(
        cap.getNumTraces(), [&](int k) { return cap(k, i); }, dominant, threshold);
}

/// The same, on the channels' sample arrays rows[0..n-1].
template <class Row>
int secondChannel(const std::vector<Row*>& rows, int i, int dominant, double threshold) {
    return secondOf(
        static_cast<int>(rows.size()), [&](int k) { return rows[k][i]; }, dominant, threshold);
}

}  // namespace kw::detail

#endif
