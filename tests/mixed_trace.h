// Two-allele traces made from one real trace, for the variant test and its
// benchmark: the raw rows summed, from a chosen base on, with a copy of
// themselves shifted by whole bases.
#ifndef KWSIGNAL_TESTS_MIXED_TRACE_H
#define KWSIGNAL_TESTS_MIXED_TRACE_H

#include <algorithm>
#include <cmath>
#include <vector>

#include "kwsignal/basecall.h"
#include "kwsignal/run.h"

namespace kwtest {

// Adds to the raw rows, from base `onset` of calls (the run's own) on, a
// copy of themselves `shift` bases later (a second allele that lost `shift`
// bases; negative: gained them as a repeat of the bases before), its
// baseline taken off and scaled by ratio. The shift is whole bases of the
// spacing around the onset; farther on, as the spacing changes, the copy's
// peaks drift off the bases, more the longer the shift.
inline void mixShifted(kw::Run& run, const kw::BaseCalls& calls, int onset, int shift,
                       double ratio) {
    const double scale = run.coordinateScale;
    const int n = static_cast<int>(calls.bases.size());
    if (n < 2 || onset < 0 || onset >= n) return;
    const int a = std::max(0, onset - 25), b = std::min(n - 1, onset + 25);
    if (b <= a) return;
    const double spacing = (calls.bases[static_cast<size_t>(b)].position -
                            calls.bases[static_cast<size_t>(a)].position) /
                           (b - a) * scale;
    const long from =
        std::lround(calls.bases[static_cast<size_t>(onset)].position * scale - spacing / 2);
    const long by = std::lround(shift * spacing);
    for (auto& row : run.rows) {
        if (row.empty()) continue;
        std::vector<double> sorted = row;
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(sorted.size() / 2),
                         sorted.end());
        const double median = sorted[sorted.size() / 2];
        const std::vector<double> copy = row;
        const long len = static_cast<long>(row.size());
        for (long s = std::max(0L, from); s < len; ++s)
            row[static_cast<size_t>(s)] +=
                ratio *
                std::max(0.0, copy[static_cast<size_t>(std::clamp(s + by, 0L, len - 1))] - median);
    }
}

}  // namespace kwtest

#endif
