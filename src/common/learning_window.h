// How much of a run the robust separation estimate learns on.
#ifndef KWSIGNAL_SRC_COMMON_LEARNING_WINDOW_H
#define KWSIGNAL_SRC_COMMON_LEARNING_WINDOW_H

#include <limits>

#include "common/sample_index.h"

class KwCap;
class KwSpecSepTable;

namespace kw {
namespace detail {

/// Samples the robust separation estimate learns on: 1000 s of data, but
/// at least a fifth of the run. rate: samples per second; numData: samples
/// of the run.
inline int learningWindowSamples(double rate, int numData) {
    int w = kw::detail::truncToRange(rate * 1000.0, 0, std::numeric_limits<int>::max());
    // A fifth of the run, nudged up so that rounding never leaves the
    // window a sample short of a whole fifth.
    constexpr double kMinWindowShare = 0.2000001;
    if (w < numData * kMinWindowShare) w = static_cast<int>(numData * kMinWindowShare);
    return w;
}

/// The robust estimation of KwSpecSepTable::setup1 on startPnt .. the
/// smaller of startPnt + window and endPnt (samples of cap), whatever cap's
/// own length: for a caller that hands it an excerpt of a longer run, whose
/// window it measured on the whole run (learningWindowSamples), samples.
/// rate: samples per second, > 0. Returns what setup1 returns.
int setupRobust(KwSpecSepTable& table, const KwCap& cap, int startPnt, int endPnt, int window,
                double tolerance, double acceptFactor, double rate);

}  // namespace detail
}  // namespace kw

#endif
