// Range checks shared by the conditioning operations.
#ifndef KWSIGNAL_SRC_CONDITIONING_SAMPLE_RANGE_H
#define KWSIGNAL_SRC_CONDITIONING_SAMPLE_RANGE_H

#include "kwsignal/trace.h"

namespace kwcond {

/// True when first..last is a non-empty range of samples of `trace`.
inline bool isSampleRange(const KwTrace& trace, int first, int last) {
    return first >= 0 && first <= last && last < trace.getNumData();
}

}  // namespace kwcond

#endif
