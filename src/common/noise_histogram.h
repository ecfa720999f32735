// The amplitude histogram a trace's noise level is read from: how many bins
// it has, so that the road can tell a level the histogram measured from one
// it could only bound by its lowest bin.
#ifndef KWSIGNAL_SRC_COMMON_NOISE_HISTOGRAM_H
#define KWSIGNAL_SRC_COMMON_NOISE_HISTOGRAM_H

namespace kw::detail {

/// The histogram's bins over a full stretch, and the fewest samples a full
/// stretch holds.
constexpr int kNoiseHistogramBins = 50;
constexpr int kNoiseHistogramFullStretch = 500;

/// Bins of the noise histogram over a stretch of n samples: the full count
/// from kNoiseHistogramFullStretch samples on, one per ten samples below.
inline int noiseHistogramBins(int n) {
    return n >= kNoiseHistogramFullStretch ? kNoiseHistogramBins : n / 10;
}

}  // namespace kw::detail

#endif
