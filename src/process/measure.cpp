#include "process/measure.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "common/gaussian.h"
#include "common/quantile.h"
#include "common/sample_index.h"
#include "common/symmetric_convolution.h"

namespace kw {
namespace detail {
namespace {

// Bases merged into one hump widen it, never narrow it, and where bases
// follow each other closely most clear humps hold more than one: the
// narrow end of the measured widths, not their middle, is a single base.
constexpr double kSingleWidthQuantile = 0.15;

// x[first..last] smoothed with a Gaussian of sigma samples (a copy when
// sigma is below half a sample), ends held. gain receives the factor by
// which the smoothing scales the deviation of white noise. Every sample is
// written here: the buffer is not zeroed first.
std::unique_ptr<double[]> smoothed(const double* x, int first, int last, double sigma,
                                   double& gain) {
    const int n = last - first + 1;
    const std::vector<double> w = smoothingWeights(sigma, gain);
    const int radius = static_cast<int>(w.size()) - 1;
    const double* in = x + first;
    std::unique_ptr<double[]> y(new double[n]);
    // Within radius of either end the ends are held.
    auto held = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            double acc = w[0] * in[i];
            for (int k = 1; k <= radius; ++k)
                acc += w[k] * (in[std::max(0, i - k)] + in[std::min(n - 1, i + k)]);
            y[i] = acc;
        }
    };
    const int inner = std::max(0, n - 2 * radius);
    held(0, std::min(n, radius));
    held(radius + inner, n);
    const double* weights = w.data();
    convolveSymmetricFast(
        in + radius, inner, radius, [=](int k, int) { return weights[k]; }, y.get() + radius);
    return y;
}

// The lowest sample of y[0..n-1] between i and the first sample beyond it
// (in direction step) that is higher than y[i], searched at most reach
// samples. Four samples are taken at a time while none of them is higher;
// the minimum does not depend on the order its samples are taken in.
double valleyBeside(const double* y, int n, int i, int step, int reach) {
    const int steps = std::min(reach, step > 0 ? n - 1 - i : i);
    const double* from = y + i;
    const double top = *from;
    double low = top;
    int d = 1;
#ifdef __SSE2__
    const __m128d above = _mm_set1_pd(top);
    __m128d lowA = above, lowB = above;
    for (; d + 3 <= steps; d += 4) {
        // Samples d to d + 3 steps away, in either lane order.
        const __m128d a = _mm_loadu_pd(step > 0 ? from + d : from - d - 1);
        const __m128d b = _mm_loadu_pd(step > 0 ? from + d + 2 : from - d - 3);
        if (_mm_movemask_pd(_mm_or_pd(_mm_cmpgt_pd(a, above), _mm_cmpgt_pd(b, above))) != 0) break;
        // _mm_min_pd keeps its second operand where the first is NaN, as
        // std::min(low, v) keeps low.
        lowA = _mm_min_pd(a, lowA);
        lowB = _mm_min_pd(b, lowB);
    }
    double lanes[4];
    _mm_storeu_pd(lanes, lowA);
    _mm_storeu_pd(lanes + 2, lowB);
    for (double v : lanes) low = std::min(low, v);
#endif
    for (; d <= steps; ++d) {
        const double v = from[d * step];
        if (v > top) break;
        low = std::min(low, v);
    }
    return low;
}

// Where x falls to `level` walking from pos in direction step, interpolated;
// NaN when the flank rises again by more than `tolerance` first or the
// level is not reached within `reach` samples.
double halfCrossing(const double* x, int n, int pos, int step, double level, double tolerance,
                    int reach) {
    double lowest = x[pos];
    for (int k = pos + step, d = 1; k >= 0 && k < n && d <= reach; k += step, ++d) {
        if (x[k] > lowest + tolerance) return std::nan("");
        if (x[k] <= level) {
            const double prev = x[k - step];
            const double frac = prev > x[k] ? (prev - level) / (prev - x[k]) : 0.0;
            return (k - step) + step * frac;
        }
        lowest = std::min(lowest, x[k]);
    }
    return std::nan("");
}

// The local maxima of v[0..n-1] (above the sample before, not below the one
// after), by index, into at[0..count-1] (room for n); returns count.
int localMaxima(const double* v, int n, int* at) {
    return listExtrema<Extremum::maxFlatRight>(v, 1, n - 2, at);
}

}  // namespace

std::vector<double> smoothingWeights(double sigma, double& gain) {
    const int radius = sigma >= 0.5 ? static_cast<int>(std::ceil(3.0 * sigma)) : 0;
    std::vector<double> w(radius + 1, 1.0);
    double sum = 1.0, squares = 1.0;
    for (int k = 1; k <= radius; ++k) {
        w[k] = std::exp(-0.5 * k * k / (sigma * sigma));
        sum += 2.0 * w[k];
        squares += 2.0 * w[k] * w[k];
    }
    gain = std::sqrt(squares) / sum;
    for (double& v : w) v /= sum;
    return w;
}

double noiseSigma(const double* x, int first, int last) {
    if (last - first < 2) return 0.0;
    std::vector<double> d;
    d.reserve((last - first) / 3 + 1);
    for (int i = first + 1; i < last; i += 3)
        d.push_back(std::fabs(x[i - 1] - 2.0 * x[i] + x[i + 1]));
    // The second difference of white noise has sqrt(6) times its deviation.
    return kSigmaPerMedianAbs * medianOfMagnitudes(std::move(d)) / std::sqrt(6.0);
}

std::vector<ClearPeak> clearPeaks(const ChannelView& view, int first, int last,
                                  const std::vector<double>& noise, const PeakSearch& search) {
    std::vector<ClearPeak> peaks;
    first = std::max(0, first);
    last = std::min(view.n - 1, last);
    if (last - first < 4) return peaks;
    const int numTraces = static_cast<int>(view.channels.size());
    const int n = last - first + 1;
    std::vector<std::unique_ptr<double[]>> y;
    double gain = 1.0;
    for (const double* c : view.channels)
        y.push_back(smoothed(c, first, last, search.smoothing, gain));
    // Every channel's maxima are written over the last ones: the buffer is
    // neither zeroed nor reallocated.
    const std::unique_ptr<int[]> maxima(new int[n]);
    for (int t = 0; t < numTraces; ++t) {
        const double* v = y[t].get();
        const double minRise = search.minRise * gain * noise[t];
        const int numMaxima = localMaxima(v, n, maxima.get());
        for (int m = 0; m < numMaxima; ++m) {
            const int i = maxima[m];
            bool largest = true;
            for (int u = 0; search.dominant && u < numTraces && largest; ++u)
                largest = u == t || y[u][i] <= v[i];
            if (!largest) continue;
            const double left = valleyBeside(v, n, i, -1, search.reach);
            // The rise above the higher valley is at most that above the
            // left one: where that falls short, the right valley is not
            // sought.
            if (!(v[i] - left >= minRise)) continue;
            const double right = valleyBeside(v, n, i, 1, search.reach);
            const double rise = v[i] - std::max(left, right);
            if (rise >= minRise && rise >= 0.3 * (v[i] - std::min(left, right)))
                peaks.push_back({first + i, t, v[i]});
        }
    }
    std::sort(peaks.begin(), peaks.end(),
              [](const ClearPeak& a, const ClearPeak& b) { return a.pos < b.pos; });
    return peaks;
}

double medianHeight(const std::vector<ClearPeak>& peaks) {
    std::vector<double> heights;
    for (const ClearPeak& p : peaks) heights.push_back(p.height);
    return median(std::move(heights));
}

double medianSpacing(const std::vector<ClearPeak>& peaks, int first, int last) {
    std::vector<double> gaps;
    int previous = -1;
    for (const ClearPeak& p : peaks) {
        if (p.pos < first || p.pos > last) continue;
        if (previous >= 0 && p.pos - previous <= 2) continue;
        if (previous >= 0) gaps.push_back(p.pos - previous);
        previous = p.pos;
    }
    return gaps.size() < 5 ? 0.0 : median(std::move(gaps));
}

namespace {

// Before its dense part the train of bases takes in gaps of up to kGapRatio
// times its median gap between clear peaks, and peaks within kTallRatio of
// the median height of its first kLocalPeaks peaks (either way); a blob
// stands more than kTallRatio above the peaks that follow it.
constexpr double kGapRatio = 3.0;
constexpr double kTallRatio = 4.0;
constexpr int kLocalPeaks = 16;
// A blob among the first bases (kBlobRatio times their height) is crossed
// where the bases on its two sides lie within kBlobGaps widened gaps of
// each other.
constexpr double kBlobRatio = 8.0;
constexpr double kBlobGaps = 3.0;
// ... and where a train of at least kBasesBeforeBlob peaks precedes it: a
// tall hump after a few stray peaks is where the bases begin.
constexpr int kBasesBeforeBlob = 8;

// Median height of peaks from..to.
double trainHeight(const std::vector<const ClearPeak*>& kept, int from, int to) {
    std::vector<double> heights;
    for (int k = from; k <= to; ++k) heights.push_back(kept[k]->height);
    return median(std::move(heights));
}

// Index of the first (forward) or last (backward) peak around which at
// least kDense peaks lie within reach on its inner side; -1 for none.
int denseEnd(const std::vector<const ClearPeak*>& kept, double reach, bool forward) {
    constexpr int kDense = 8;
    const int n = static_cast<int>(kept.size());
    for (int k = 0, j = 0; k < n; ++k) {  // j: first peak beyond reach on the inner side
        const int at = forward ? k : n - 1 - k;
        while (j < n && std::abs(kept[forward ? j : n - 1 - j]->pos - kept[at]->pos) <= reach) ++j;
        if (j - k >= kDense) return at;
    }
    return -1;
}

// Median distance between consecutive peaks from..to.
double medianGap(const std::vector<const ClearPeak*>& kept, int from, int to) {
    std::vector<double> gaps;
    for (int k = from; k < to; ++k) gaps.push_back(kept[k + 1]->pos - kept[k]->pos);
    return median(std::move(gaps));
}

}  // namespace

bool signalSpan(const std::vector<ClearPeak>& peaks, double spacing, double minHeight,
                double maxHeight, int& first, int& last) {
    const double reach = 20.0 * spacing;
    std::vector<const ClearPeak*> kept;
    for (const ClearPeak& p : peaks)
        if (p.height >= minHeight) kept.push_back(&p);
    const int n = static_cast<int>(kept.size());
    int k = denseEnd(kept, reach, true);
    const int m = denseEnd(kept, reach, false);
    if (k < 0) return false;
    // The train's own height where it starts sets what belongs to it: a
    // blob stands far above the bases that follow it (and above maxHeight),
    // and the first bases keep within kTallRatio of them. Measured on the
    // whole train instead, the first bases of a read that fades (often ten
    // times taller than its last) would pass for a blob. Those bases stand
    // tall and sharp, so on the summed channels their neighbours merge and
    // fewer of them stand clear than further on: the train reaches back
    // over gaps of up to kGapRatio of its usual ones. The dead time before
    // the first base is a wider gap.
    auto localHeight = [&](int from) {
        return trainHeight(kept, from, std::min(n - 1, from + kLocalPeaks - 1));
    };
    auto blob = [&](int j) {
        return kept[j]->height > std::max(maxHeight, kTallRatio * localHeight(j + 1));
    };
    while (k < n - 1 && blob(k)) ++k;
    if (k == n - 1) return false;  // nothing but blobs
    const double height = localHeight(k);
    const double gap = kGapRatio * medianGap(kept, k, m);
    auto joins = [&](int j) {
        return kept[j + 1]->pos - kept[j]->pos <= gap && kept[j]->height <= kTallRatio * height &&
               kept[j]->height >= height / kTallRatio;
    };
    // A dye blob standing among the first bases (unincorporated dye, many
    // times taller than the bases and wide) hides the bases on its flanks from
    // the summed channels: the train reaches back over it where a peak of
    // the train's height lies beyond it within kBlobGaps of the train's
    // widened gaps, and the blob itself never becomes the first base.
    auto crosses = [&](int j) {
        return j > 0 && kept[j]->height > kBlobRatio * height &&
               kept[j - 1]->height <= kTallRatio * height &&
               kept[j - 1]->height >= height / kTallRatio &&
               kept[j + 1]->pos - kept[j - 1]->pos <= kBlobGaps * gap;
    };
    // Bases before a blob: at least kBasesBeforeBlob of them in a train.
    auto trainBefore = [&](int j) {
        int count = 1;
        while (j - count >= 0 && count < kBasesBeforeBlob && joins(j - count)) ++count;
        return count >= kBasesBeforeBlob;
    };
    while (k > 0) {
        if (joins(k - 1)) {
            --k;
        } else if (k > 1 && crosses(k - 1) && trainBefore(k - 2)) {
            k -= 2;
        } else {
            break;
        }
    }
    first = kept[k]->pos;
    last = kept[std::max(k, m)]->pos;
    return true;
}

PeakWidths peakWidths(const ChannelView& view, const std::vector<ClearPeak>& peaks, int first,
                      int last, double spacing, const std::vector<double>& noise,
                      double smoothing) {
    PeakWidths w;
    first = std::max(0, first);
    last = std::min(view.n - 1, last);
    if (last - first < 4) return w;
    const int reach = std::max(3, static_cast<int>(1.5 * spacing));
    const int span = last - first;
    double gain = 1.0;
    std::vector<std::unique_ptr<double[]>> y;
    for (const double* c : view.channels) y.push_back(smoothed(c, first, last, smoothing, gain));
    std::vector<double> early, late, all;
    for (const ClearPeak& p : peaks) {
        if (p.pos < first || p.pos > last) continue;
        const double* x = y[p.channel].get();
        const int at = p.pos - first;
        const double h = x[at];
        // A flank may wobble by the noise, not by a neighbouring peak.
        const double tolerance = std::max(0.05 * h, 3.0 * gain * noise[p.channel]);
        const double left = halfCrossing(x, span + 1, at, -1, 0.5 * h, tolerance, reach);
        const double right = halfCrossing(x, span + 1, at, 1, 0.5 * h, tolerance, reach);
        if (!(h > 0.0) || std::isnan(left) || std::isnan(right)) continue;
        const double measured = (right - left) / kFwhmPerSigma;
        const double sigma = std::sqrt(std::max(0.25, measured * measured - smoothing * smoothing));
        all.push_back(sigma);
        if (at < span / 5) early.push_back(sigma);
        if (span - at < span / 5) late.push_back(sigma);
    }
    w.measured = static_cast<int>(all.size());
    if (all.size() < 5) return w;
    const double overall = quantile(all, kSingleWidthQuantile);
    w.start = early.size() >= 5 ? quantile(early, kSingleWidthQuantile) : overall;
    w.end = late.size() >= 5 ? quantile(late, kSingleWidthQuantile) : overall;
    return w;
}

}  // namespace detail
}  // namespace kw
