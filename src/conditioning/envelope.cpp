// Envelope normalisation: divides a trace by a smooth curve through the
// mean peak heights of its minute-long segments, so that peaks late in the
// run, where the signal has faded, come out as high as the early ones.
#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "common/legendre.h"
#include "common/sample_range.h"
#include "common/wide_vectors.h"
#include "kwsignal/capillary.h"
#include "kwsignal/containers.h"
#include "kwsignal/trace.h"

namespace {

/// A maximum counts towards its segment's peak height above 30 % of the
/// segment's top, the share a hair over: one exactly at 30 % does not count.
constexpr double kSegmentPeakShare = 0.300000001;

/// The band around the mean of all segments: at most twice and at least half
/// the mean, each bound nudged outwards so that a segment exactly at twice or
/// at half the mean is left alone. The lower bound is the double nearest to
/// 1 / 2.0000001, so the band is symmetric on a ratio scale.
constexpr double kAboveMean = 2.0000001;
constexpr double kBelowMean = 0.4999999750000013;

/// The band set by the neighbours: at least a fifth of the lower one, at most
/// 1.5 times the higher one. Both are nudged up: a segment exactly at a fifth
/// is lifted (to a hair over it), one exactly at 1.5 times is left alone.
constexpr double kAboveNeighbour = 1.5000001;
constexpr double kBelowNeighbour = 0.2000001;

/// Maxima above three times the target height are spikes, not peaks; nudged
/// up, so a maximum exactly at three times still counts as a peak.
constexpr double kSpikeRatio = 3.0000001;

/// Holds every segment height within a band around the mean of all of them
/// and then within a band set by its neighbours, so that one segment full of
/// spikes or one empty segment cannot bend the envelope.
void limitSegmentHeights(KwXY& seg, int nSeg) {
    double mean = 0.0;
    for (int k = 0; k < nSeg; ++k) mean += seg.y(k);
    mean /= nSeg;
    for (int k = 0; k < nSeg; ++k) {
        if (seg.y(k) > kAboveMean * mean) seg.y(k) = kAboveMean * mean;
        if (seg.y(k) < kBelowMean * mean) seg.y(k) = kBelowMean * mean;
    }
    if (nSeg <= 2) return;
    for (int k = 0; k < nSeg; ++k) {
        double a, b;
        if (k == 0) {
            a = seg.y(1);
            b = seg.y(2);
        } else if (k < nSeg - 1) {
            a = seg.y(k - 1);
            b = seg.y(k + 1);
        } else {
            a = seg.y(nSeg - 2);
            b = seg.y(nSeg - 3);
        }
        if (seg.y(k) < kBelowNeighbour * std::min(a, b))
            seg.y(k) = kBelowNeighbour * std::min(a, b);
        if (seg.y(k) > kAboveNeighbour * std::max(a, b))
            seg.y(k) = kAboveNeighbour * std::max(a, b);
    }
}

/// The Legendre series coef[0..order] at n evenly spaced points from u = -1
/// to u = 1. The polynomials are raised one degree at a time over all points
/// at once, by the recurrence of LegPol, and added in increasing degree: each
/// value is the one LegPol gives point by point (to rounding), without
/// rebuilding every polynomial from degree 0 at every point.
KW_WIDE_VECTORS std::vector<double> legendreSeries(const std::vector<double>& coef, int order,
                                                   int n) {
    // Every point is written: the buffer is not zeroed first.
    const std::unique_ptr<double[]> u(new double[n]);
    const double spacing = 2.0 / (n - 1);
    for (int i = 0; i < n; ++i) u[i] = -1.0 + i * spacing;
    // Degree 0 is 1 everywhere and degree 1 is u itself.
    std::vector<double> series(n, coef[0]);
    if (order < 1) return series;
    for (int i = 0; i < n; ++i) series[i] += u[i] * coef[1];
    if (order < 2) return series;  // a line: no recurrence to run
    std::vector<double> lower(n, 1.0), p(u.get(), u.get() + n);
    for (int j = 2; j <= order; ++j) {
        // The recurrence divides by j: divisions would bound this loop, so
        // it multiplies by the inverse.
        const double inverse = 1.0 / j;
        for (int i = 0; i < n; ++i) {
            const double scaled = kw::detail::scaledNext(j - 1, u[i], p[i], lower[i]);
            lower[i] = p[i];
            p[i] = scaled * inverse;
        }
        for (int i = 0; i < n; ++i) series[i] += p[i] * coef[j];
    }
    return series;
}

}  // namespace

KW_WIDE_VECTORS void KwTrace::envelopeNormalize(int order, double height, int endPnt,
                                                double ceiling) {
    const int start = signalStartPnt;
    // A window or envelope end outside the samples is the caller's mistake:
    // nothing is read or changed, and the trace adds nothing to a
    // capillary's target height.
    if (order < 0 || !kw::detail::isSampleRange(*this, start, endPnt) ||
        !kw::detail::isSampleRange(*this, start, signalEndPnt))
        return;
    const int n = endPnt - start + 1;
    const double minutes = n / (sampleRate * 60.0);
    if (!(minutes >= 1.0)) return;
    const int nSeg = minutes >= 20.0 ? 20 : static_cast<int>(minutes) + 1;
    // At under one sample a segment there is no peak to measure (only a
    // rate far below one sample a minute gets here).
    if (n < nSeg) return;
    order = std::min(order, nSeg / 2);

    const int segLen = n / nSeg;
    const int rem = n - segLen * nSeg;
    KwXY seg(nSeg);
    for (int k = 0, first = start; k < nSeg; ++k) {
        const int last = first + segLen - (k < rem ? 0 : 1);
        seg.x(k) = k + 0.5;
        seg.y(k) = averagedPkHeight(first, last, kSegmentPeakShare, ceiling);
        first = last + 1;
    }
    limitSegmentHeights(seg, nSeg);

    std::vector<double> coef(order + 1, 0.0);
    seg.LegendreFit(order, coef.data(), -1.0 + 1.0 / nSeg, 1.0 - 1.0 / nSeg, 0);
    const std::vector<double> env = legendreSeries(coef, order, n);

    // An envelope that never rises above zero has no peaks to level; the
    // trace is left as it is rather than divided by a non-positive floor.
    const double envMax = *std::max_element(env.begin(), env.end());
    if (!(envMax > 0.0)) return;
    const double floorLevel = 0.1 * envMax;
    auto held = [floorLevel](double e) { return e <= floorLevel ? floorLevel : e; };
    const int last = std::min(endPnt, signalEndPnt);
    for (int i = start; i <= last; ++i) data[i] *= height / held(env[i - start]);
    // Past the envelope's end the trace is levelled by its last value.
    const double beyond = height / held(env[n - 1]);
    for (int i = last + 1; i <= signalEndPnt; ++i) data[i] *= beyond;
}

double KwCap::envelopeNormalize(int endPnt) {
    double best = 0.0;
    for (int t = 0; t < numTraces; ++t) {
        const int s = traces[t].getSignalStartPnt();
        const int e = traces[t].getSignalEndPnt();
        if (!kw::detail::isSampleRange(traces[t], s, e)) continue;
        const double m = traces[t].getMaxData(s, s + static_cast<int>((e - s) * 0.2));
        if (m > best) best = m;
    }
    const double target = 0.6 * best;
    const double ceiling = kSpikeRatio * target;
    for (int t = 0; t < numTraces; ++t) {
        traces[t].envelopeNormalize(1, target, endPnt, 0.0);
        traces[t].envelopeNormalize(5, target, endPnt, ceiling);
    }
    return target;
}
