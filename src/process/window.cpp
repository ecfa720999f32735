// Where the bases are: the signal window on the summed channels, and the
// measurements that size it.
#include <algorithm>
#include <cmath>

#include "common/quantile.h"
#include "process/road.h"

namespace kw {
namespace detail {

ChannelView Road::view() const {
    ChannelView v;
    v.n = cap->getNumData();
    for (int t = 0; t < numTraces(); ++t) v.channels.push_back(cap->getPnterToTrace(t)->getData());
    return v;
}

// Clear peaks rise kClearRise noise deviations. Their valleys are sought
// within a few base spacings, and before the spacing is known within 256
// samples, many times the spacing of any instrument's bases.
PeakSearch Road::search(bool dominant, double smoothing) const {
    PeakSearch s;
    s.minRise = kClearRise;
    s.dominant = dominant;
    s.smoothing = smoothing;
    s.reach = roughSpacing > 0.0 ? std::max(8, static_cast<int>(6.0 * roughSpacing)) : 256;
    return s;
}

// deBaseline counts its window in units of trunc(5 x rate) samples; 0 when
// a unit is shorter than a sample or longer than the run.
int Road::baselineWindows(double samples) const {
    const double unit = std::trunc(5.0 * rate);
    if (unit < 1.0 || unit > run.numData) return 0;
    return std::max(1,
                    static_cast<int>(std::min<double>(run.numData, std::lround(samples / unit))));
}

// The signal window, found on the sum of the channels: the rough base
// spacing (measured on the raw channels) sizes its baseline; the window then
// spans the dense train of clear peaks of about their typical height, which
// leaves out the primer blob before it and the noise of the tail.
bool Road::window() {
    const int n = run.numData;
    KwTrace sum(n);
    sum.setSampleRate(rate);
    for (int s = 0; s < n; ++s) {
        double v = 0.0;
        for (int t = 0; t < numTraces(); ++t) v += (*cap)(t, s);
        sum[s] = v;
    }
    ChannelView v;
    v.n = n;
    v.channels.push_back(sum.getData());
    // Independent noises add in variance. The sum's own second differences
    // overstate its noise where bases follow each other within a few
    // samples: their curvature then fills every triple.
    double variance = 0.0;
    for (double sd : channelNoise) variance += sd * sd;
    const std::vector<double> sumNoise{
        std::min(noiseSigma(sum.getData(), 0, n - 1), std::sqrt(variance))};
    const int windows = baselineWindows(kBaselineSpacings * roughSpacing);
    if (roughSpacing > 0.0 && windows > 0) sum.deBaseline(windows);
    const std::vector<ClearPeak> peaks =
        clearPeaks(v, 0, n - 1, sumNoise, search(true, roughSpacing / 6.0));
    const double typical = medianHeight(peaks);
    int first = 0, last = 0;
    if (roughSpacing <= 0.0 ||
        !signalSpan(peaks, roughSpacing, 0.15 * typical, 8.0 * typical, first, last)) {
        out.status = RunStatus::noSignal;
        out.note = "no train of peaks stands clear of the noise";
        out.windowEnd = n - 1;
        return false;
    }
    start = std::max(0, first - static_cast<int>(2.0 * roughSpacing));
    end = std::min(n - 1, last + static_cast<int>(2.0 * roughSpacing));
    // A peak far above the later ones at the very start is the primer blob
    // or its flank: the window starts after it has fallen to its valley.
    sum.setSignalStartPnt(start);
    sum.setSignalEndPnt(end);
    start = sum.deAnomalousHighPkAtBeginning();
    if (end - start < kMinSamples / 2) {
        out.status = RunStatus::noSignal;
        out.note = "no stretch of signal long enough to process";
        out.windowEnd = n - 1;
        return false;
    }
    cap->setSignalStartPnt(start);
    cap->setSignalEndPnt(end);
    out.windowStart = start;
    out.windowEnd = end;
    return true;
}

// Linear along the window from atStart to atEnd.
double Road::along(int pos, double atStart, double atEnd) const {
    const double f = end > start ? static_cast<double>(pos - start) / (end - start) : 0.0;
    return atStart + (atEnd - atStart) * std::min(1.0, std::max(0.0, f));
}

}  // namespace detail
}  // namespace kw
