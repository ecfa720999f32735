// Which dye channel leads at a sample, asked of every sample by the colour
// separation: kept inline so that its loops do not pay a call per sample.
#ifndef KWSIGNAL_SRC_COMMON_DOMINANCE_H
#define KWSIGNAL_SRC_COMMON_DOMINANCE_H

#include "kwsignal/capillary.h"

namespace kw::detail {

/// The channel with the largest sample at i; a channel replaces the one kept
/// only when strictly larger, so ties go to the lowest trace code.
inline int dominantChannel(const KwCap& cap, int i) {
    int best = 0;
    double bestValue = cap(0, i);
    for (int k = 1; k < cap.getNumTraces(); ++k) {
        const double v = cap(k, i);
        if (v > bestValue) {
            best = k;
            bestValue = v;
        }
    }
    return best;
}

/// The largest channel other than `dominant` that is positive and above
/// threshold at i, or -1; ties go to the lowest trace code.
inline int secondChannel(const KwCap& cap, int i, int dominant, double threshold) {
    int best = -1;
    double bestValue = 0.0;
    for (int k = 0; k < cap.getNumTraces(); ++k) {
        if (k == dominant) continue;
        const double v = cap(k, i);
        if (v > threshold && v > bestValue) {
            best = k;
            bestValue = v;
        }
    }
    return best;
}

}  // namespace kw::detail

#endif
