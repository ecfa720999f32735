// Range checks shared by every layer that walks a window of samples.
#ifndef KWSIGNAL_SRC_COMMON_SAMPLE_RANGE_H
#define KWSIGNAL_SRC_COMMON_SAMPLE_RANGE_H

#include "kwsignal/capillary.h"
#include "kwsignal/trace.h"

namespace kw::detail {

/// True when first..last is a non-empty range of samples of `trace`.
inline bool isSampleRange(const KwTrace& trace, int first, int last) {
    return first >= 0 && first <= last && last < trace.getNumData();
}

/// True when first..last is a non-empty range of samples of every trace of
/// `cap` (of which it may hold none).
inline bool isSampleRange(const KwCap& cap, int first, int last) {
    for (int t = 0; t < cap.getNumTraces(); ++t)
        if (!isSampleRange(*cap.getPnterToTrace(t), first, last)) return false;
    return first <= last;
}

}  // namespace kw::detail

#endif
