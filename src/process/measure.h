// Measurements the default road takes from the data before it chooses
// its parameters: the noise of a channel, the peaks that stand clear of the
// noise and dominate the other channels, the spacing between bases and the
// width of a single peak along the run.
#ifndef KWSIGNAL_SRC_PROCESS_MEASURE_H
#define KWSIGNAL_SRC_PROCESS_MEASURE_H

#include <vector>

namespace kw {
namespace detail {

/// Channels of one capillary as plain arrays: channels[t][s], s in 0..n-1.
struct ChannelView {
    std::vector<const double*> channels;
    int n = 0;
};

/// Standard deviation of white noise on x[first..last], estimated from the
/// median absolute second difference of disjoint sample triples (peaks and
/// slow drift barely move it). 0 for fewer than 3 samples.
double noiseSigma(const double* x, int first, int last);

/// Weights w[0..radius] of the Gaussian smoothing of sigma samples (>= 0),
/// radius = ceil(3 sigma) (0 below half a sample: a copy), summing to one
/// over -radius..radius; gain receives the factor by which the smoothing
/// scales the deviation of white noise.
std::vector<double> smoothingWeights(double sigma, double& gain);

/// A local maximum of one channel.
struct ClearPeak {
    int pos;        ///< sample index
    int channel;    ///< trace code
    double height;  ///< sample value at pos
};

/// How clear peaks are sought.
struct PeakSearch {
    double minRise = 10.0;   ///< smallest rise, in deviations of the smoothed noise
    bool dominant = true;    ///< only where the peak's channel is the largest
    double smoothing = 1.0;  ///< deviation of the Gaussian smoothing, samples
    int reach = 256;         ///< samples searched for the valley on either side
};

/// Local maxima of first..last, smoothed as `search` says, that rise above
/// the higher of the valleys on their two sides by at least minRise
/// deviations of the smoothed noise and by 30 % of their rise above the
/// lower valley (and, when asked, where their channel is the largest of
/// all): one per resolved base. noise[t] is channel t's (unsmoothed) noise.
/// Sorted by position.
std::vector<ClearPeak> clearPeaks(const ChannelView& view, int first, int last,
                                  const std::vector<double>& noise, const PeakSearch& search);

/// Median height of clear peaks; 0 for none.
double medianHeight(const std::vector<ClearPeak>& peaks);

/// Median distance between consecutive clear peaks whose positions lie in
/// first..last, peaks within 2 samples of each other counting as one (a
/// base seen in several channels); 0 when fewer than 5 distances are
/// found.
double medianSpacing(const std::vector<ClearPeak>& peaks, int first, int last);

/// The stretch of the run that holds the bases, on clear peaks at least
/// minHeight high (signal units, >= 0; spacing: the rough base spacing,
/// samples, > 0): from the first to the last such peak around which they
/// are dense (at least 8 within 20 spacings on its inner side), peaks at its
/// start above both maxHeight (signal units) and 4 times the median height
/// of the 16 peaks after them left out. The start then reaches back over
/// the peaks before it that come at most 3 times the train's median gap
/// apart and within 4 times the median height of its first 16 peaks either
/// way: the first bases, of which fewer stand clear on the summed channels.
/// A blob far above the bases, a stretch of low wiggles or a short gap does
/// not move the ends. False when no peak is in a dense stretch, or only
/// blobs are.
bool signalSpan(const std::vector<ClearPeak>& peaks, double spacing, double minHeight,
                double maxHeight, int& first, int& last);

/// Gaussian standard deviation of a peak at the start and at the end of a
/// window, from the half-height widths (on channels smoothed with a
/// Gaussian of `smoothing` samples, which is allowed for) of clear peaks
/// whose flanks fall without a second rise beyond the noise; 0 where too
/// few peaks can be measured. The narrow end of the widths (their 15 %
/// quantile: merged bases only widen a hump) of the first and the last
/// fifth of the window gives its ends (that of the whole window where a
/// fifth holds fewer than 5).
struct PeakWidths {
    double start = 0.0;
    double end = 0.0;
    int measured = 0;  ///< peaks whose width was measured
};
PeakWidths peakWidths(const ChannelView& view, const std::vector<ClearPeak>& peaks, int first,
                      int last, double spacing, const std::vector<double>& noise, double smoothing);

}  // namespace detail
}  // namespace kw

#endif
