// Conditioning of the separated channels: clean-up, baseline, the end of
// the signal, noise level, sharpening and envelope normalisation.
#include <algorithm>
#include <cmath>

#include "common/noise_histogram.h"
#include "common/quantile.h"
#include "process/road.h"

namespace kw {
namespace detail {

void Road::clean() {
    cap->cleaning(0.0, 0);
}

// The baseline under the separated channels, up to the last sample: the end
// of the signal is placed on the baseline-free channels next.
void Road::baseline() {
    cap->setSignalEndPnt(cap->getNumData() - 1);
    const int windows = baselineWindows(kBaselineSpacings * roughSpacing);
    if (windows < 1 || cap->deBaseline(windows) == 0)
        out.notes.push_back("baseline not removed: the window is too short for the baseline");
}

// The end of the signal on separated channels, where every base stands in
// its own channel: late peaks broaden and fade, and the end follows them as
// long as they keep coming.
void Road::ends() {
    const int n = cap->getNumData();
    // From here on the channels are separated: their noise is measured anew.
    for (int t = 0; t < numTraces(); ++t)
        channelNoise[t] = noiseSigma(cap->getPnterToTrace(t)->getData(), start, n - 1);
    takeOffBlobs();
    // Only the last 20 peaks before the end weigh on it, and bases come about
    // one per spacing: the scan starts 50 spacings before the end.
    const int from = std::max(start, end - static_cast<int>(50.0 * roughSpacing));
    const std::vector<ClearPeak> peaks =
        clearPeaks(view(), from, n - 1, channelNoise, search(true, roughSpacing / 4.0));
    // A peak carries the signal on when it reaches 40 % of the median
    // height of the last 20 that did: a run fades gradually, while the
    // bases end abruptly. Late peaks also spread apart, so the gap that ends
    // the bases is counted in the spacing of those last peaks.
    std::vector<ClearPeak> carried;
    int last = end;
    for (const ClearPeak& p : peaks) {
        if (p.pos > end) {
            const std::vector<ClearPeak> recent(
                carried.end() - std::min<size_t>(20, carried.size()), carried.end());
            if (recent.empty() || p.height < 0.4 * medianHeight(recent)) continue;
            const double spacing = std::max(roughSpacing, medianSpacing(recent, start, n - 1));
            if (p.pos - last > 8.0 * spacing) break;
            last = p.pos;
        }
        carried.push_back(p);
    }
    end = std::min(n - 1, std::max(end, last + static_cast<int>(2.0 * roughSpacing)));
    cap->setSignalEndPnt(end);
    out.windowEnd = end;
}

namespace {

// When the noise band lies inside the noise histogram's lowest bin, the
// level it gives is that bin's edge (2 % of the tallest sample over a full
// stretch): a bound on the noise rather than a measure of it. Shorter
// stretches, whose few bins are coarser still, keep their level.
bool levelIsHistogramBound(const KwTrace& trace, int from) {
    const int last = trace.getSignalEndPnt();
    if (last - from + 1 < kNoiseHistogramFullStretch) return false;
    return trace.getNoiseLevel() <=
           trace.getMaxData(from, last) / kNoiseHistogramBins * (1.0 + 1e-9);
}

}  // namespace

// Behind a stretch of one dye a hundred times its late bases (an old run's
// loud start, saturated first bases) the histogram's bound lies over every
// late base of that dye, and the hat filter drops them as noise. A bound is
// therefore held to kMaxNoiseDeviations white-noise deviations; a level the
// histogram measured higher up (the residue of an over-correcting matrix,
// humps of a second sequence) is the real floor and stays. A channel
// without measurable white noise keeps its bound.
void Road::noise() {
    for (int t = 0; t < numTraces(); ++t) {
        KwTrace& trace = traceOf(*cap, t);
        trace.findNoiseLevel(start);
        const double highest = kMaxNoiseDeviations * channelNoise[t];
        if (highest > 0.0 && trace.getNoiseLevel() > highest && levelIsHistogramBound(trace, start))
            trace.setNoiseLevel(highest);
    }
}

void Road::filter() {
    const ChannelView v = view();
    const std::vector<ClearPeak> peaks = clearPeaks(v, start, end, channelNoise, search(true, 1.0));
    out.spacing = medianSpacing(peaks, start, end);
    if (out.spacing <= 0.0) out.spacing = roughSpacing;
    const int fifth = (end - start) / 5;
    spacingStart = medianSpacing(peaks, start, start + fifth);
    spacingEnd = medianSpacing(peaks, end - fifth, end);
    if (spacingStart <= 0.0) spacingStart = out.spacing;
    if (spacingEnd <= 0.0) spacingEnd = out.spacing;
    // Light smoothing: a heavier one merges the bases of one dye that
    // follow each other, and their hump would be measured as one peak.
    const PeakWidths w =
        peakWidths(v, peaks, start, end, out.spacing, channelNoise, out.spacing / 12.0);
    out.sigmaStart = w.start > 0.0 ? w.start : 0.3 * out.spacing;
    out.sigmaEnd = w.end > 0.0 ? w.end : out.sigmaStart;
    cap->trippleMexicanHatFilter(kHatWidth * out.sigmaStart, kHatWidth * out.sigmaEnd);
}

void Road::normalise() {
    target = cap->envelopeNormalize(end);
    CapAccess::setNoiseLevelForNormalized(*cap, 0.5 * target);
    for (int t = 0; t < numTraces(); ++t) {
        KwTrace& tr = traceOf(*cap, t);
        tr.setMinumHeight();
        out.channels[t].noiseLevel = tr.getNoiseLevel();
        out.channels[t].minHeight = tr.getMinumHeight();
    }
}

}  // namespace detail
}  // namespace kw
