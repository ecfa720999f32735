// Noise level, minimum peak height, mean peak height and mean excursion width
// of a trace, estimated from the distribution of its sample amplitudes and
// from its local maxima.
#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

#include "common/extremes.h"
#include "common/noise_histogram.h"
#include "common/sample_index.h"
#include "common/sample_range.h"
#include "common/wide_vectors.h"
#include "kwsignal/capillary.h"
#include "kwsignal/trace.h"

namespace {

/// The noise histogram counts the lower half of the amplitude range; the
/// split lies a hair over half, so a sample exactly at the midpoint counts.
constexpr double kLowerHalf = 0.500000001;

/// Amplitude histogram of data[first..last] in nb bins read from the top
/// down: bin 0 holds values near `top`, bin nb-1 values near zero. Samples
/// are clamped to 0..top first; samples above `dropAbove` and non-finite
/// samples (which have no amplitude bin) are not counted.
KW_WIDE_VECTORS std::vector<int> amplitudeHistogram(const double* data, int first, int last, int nb,
                                                    double top, double dropAbove) {
    std::vector<int> hist(nb, 0);
    for (int i = first; i <= last; ++i) {
        double v = data[i];
        if (v < 0.0) v = 0.0;
        if (!(v <= dropAbove)) continue;
        if (v > top) v = top;
        const double x = (1.0 - v / top) * nb;
        if (!(x >= 0.0 && x <= nb)) continue;
        const int b = static_cast<int>(x);
        ++hist[b == nb ? nb - 1 : b];
    }
    return hist;
}

/// The bin where the count rises most over the bin above it (the first of
/// equal rises). When no bin rises there is no edge to the noise band; the
/// lowest bin is taken then, so the estimate falls to the finest amplitude
/// step the histogram resolves rather than to the top of the scale.
int risingEdgeBin(const std::vector<int>& hist) {
    const int nb = static_cast<int>(hist.size());
    int best = nb - 1;
    int bestRise = 0;
    for (int j = 1; j < nb; ++j) {
        const int rise = hist[j] - hist[j - 1];
        if (rise > bestRise) {
            bestRise = rise;
            best = j;
        }
    }
    return best;
}

/// Upper amplitude edge of bin j of an nb-bin histogram topped at `top`.
double binUpperEdge(int j, int nb, double top) {
    return (1.0 - static_cast<double>(j) / nb) * top;
}

}  // namespace

void KwTrace::findNoiseLevel(int from) {
    // A window or range that is not a range of samples is the caller's
    // mistake: nothing is read, and each result is the one an empty stretch
    // gives (here the level stays; elsewhere no maximum, no peak).
    if (!kw::detail::isSampleRange(*this, from, signalEndPnt)) return;
    const int n = signalEndPnt - from + 1;
    if (n < 2) return;
    // Fewer than ten samples give no histogram bins: the level is left as it
    // was. A range without a positive sample has no noise band above zero:
    // its level is 0.
    const int nb = kw::detail::noiseHistogramBins(n);
    if (nb < 1) return;
    const double max = getMaxData(from, signalEndPnt);
    if (!(max > 0.0)) {
        noiseLevel = 0.0;
        return;
    }
    const double min = getMinData(from, signalEndPnt);
    const double mid = min + kLowerHalf * (max - min);
    const std::vector<int> hist =
        amplitudeHistogram(data, from + 1, signalEndPnt - 1, nb, max, mid);
    noiseLevel = binUpperEdge(risingEdgeBin(hist), nb, max);
}

void KwTrace::setNoiseLevelForNormalized(double ceiling) {
    noiseLevel = -1.0;  // unless some maximum lies below the ceiling
    if (!kw::detail::isSampleRange(*this, signalStartPnt, signalEndPnt)) return;
    // The maxima are listed once; both means are taken over the list.
    const int first = signalStartPnt + 1, last = signalEndPnt - 1;
    const std::unique_ptr<int[]> maxima(new int[std::max(1, last - first + 1)]);
    const int count = kw::detail::strictMaxima(data, first, last, maxima.get());
    const auto below = [this, ceiling](int i) { return data[i] < ceiling; };
    double all = 0.0, larger = 0.0;
    if (!kw::detail::meanOfListed(data, maxima.get(), count, below, all)) return;
    const double above = 0.5 * all;
    const auto kept = [&](int i) { return below(i) & (data[i] > above); };
    if (kw::detail::meanOfListed(data, maxima.get(), count, kept, larger)) noiseLevel = larger;
}

void KwTrace::setMinumHeight() {
    const double max = kw::detail::isSampleRange(*this, signalStartPnt, signalEndPnt)
                           ? getMaxData(signalStartPnt, signalEndPnt)
                           : 0.0;
    if (!(max >= 0.5)) {
        minumHeight = 0.0;
        return;
    }
    const int n = signalEndPnt - signalStartPnt + 1;
    const int nb = n >= 1000 ? 100 : n / 10;
    // A window of fewer than ten samples gives no bins: the height is left
    // as it was.
    if (nb < 1) return;

    const double noLimit = std::numeric_limits<double>::infinity();
    std::vector<int> hist =
        amplitudeHistogram(data, signalStartPnt, signalEndPnt, nb, max, noLimit);
    int middle = 0;
    for (int j = 1; j <= nb - 11; ++j) middle += hist[j];

    double top = max;
    if (middle < 10) {
        // Small signal and a few spikes: look at the lowest tenth instead.
        top = 0.1 * max;
        hist = amplitudeHistogram(data, signalStartPnt, signalEndPnt, nb, top, noLimit);
    }
    minumHeight = binUpperEdge(risingEdgeBin(hist), nb, top);
}

namespace {

// averagedPkHeight over data[from..to], a valid range: the method's loop,
// cloned for wide vectors here rather than in the method.
KW_WIDE_VECTORS double meanOfTallMaxima(const double* data, int from, int to, double fraction,
                                        double ceiling) {
    const double peak = kw::detail::extremeFrom<true>(data + from, to - from + 1, data[from]);
    const double thr = fraction * peak;
    const bool capped = ceiling > 0.0;

    double sum = 0.0;
    int count = 0;
    auto take = [&](int i) {
        const double v = data[i];
        if (v > thr && (!capped || v < ceiling)) sum += v, ++count;
    };
    // A range of one sample has no neighbour to rise above: no peak. The
    // ends need rise above their one neighbour only; between them the
    // maxima are listed without a branch (which samples of a noisy trace
    // are maxima cannot be predicted) a stretch at a time, and summed in
    // order.
    if (from < to) {
        if (data[from] > data[from + 1]) take(from);
        int at[256];
        for (int a = from + 1; a <= to - 1; a += 256) {
            const int n = kw::detail::strictMaxima(data, a, std::min(to - 1, a + 255), at);
            for (int k = 0; k < n; ++k) take(at[k]);
        }
        if (data[to] > data[to - 1]) take(to);
    }
    return count > 0 ? sum / count : thr;
}

}  // namespace

double KwTrace::averagedPkHeight(int from, int to, double fraction, double ceiling) const {
    if (!kw::detail::isSampleRange(*this, from, to)) return 0.0;
    return meanOfTallMaxima(data, from, to, fraction, ceiling);
}

void KwTrace::determinePeakWidthForNormalizedData(int from, int to, double level, int& count,
                                                  double& width) const {
    count = 0;
    if (from >= to || !kw::detail::isSampleRange(*this, from, to)) return;
    int i = from;
    while (i < to && data[i] >= level) ++i;

    double sum = 0.0;
    double up = 0.0;
    bool above = false;
    for (; i <= to; ++i) {
        if (!above && data[i] >= level) {
            up = (i - 1) + (level - data[i - 1]) / (data[i] - data[i - 1]);
            above = true;
        } else if (above && data[i] < level) {
            const double down = (i - 1) + (data[i - 1] - level) / (data[i - 1] - data[i]);
            ++count;
            sum += down - up;
            above = false;
        }
    }
    if (count > 0) width = sum / count;
}

void KwCap::setNoiseLevelForNormalized(double ceiling) {
    for (int t = 0; t < numTraces; ++t) traces[t].setNoiseLevelForNormalized(ceiling);
}
