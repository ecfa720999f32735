// Dye blobs: unincorporated dye runs as a wide hump of one dye, on a weak
// run twenty to fifty times taller than the bases. Left in, it would set
// that dye's noise level, its envelope and the run's target height, and
// push the dye's own bases (and other dyes' bases beside it) below every
// threshold. It is found on the separated, baseline-free channels and taken
// off as a smooth pedestal, so that the bases standing on it remain.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common/gaussian.h"
#include "common/quantile.h"
#include "kwsignal/containers.h"
#include "process/road.h"

namespace kw {
namespace detail {
namespace {

// A blob stands kBlobRatio times above the median base peak near it (within
// kNearSpacings base spacings, outside its own core), and its half-height
// width is at least kBlobWidthSpacings spacings: a single base or a run of
// one letter is neither that tall nor, at that height, that wide.
constexpr double kBlobRatio = 8.0;
constexpr double kBlobWidthSpacings = 1.5;
constexpr double kNearSpacings = 30.0;
constexpr int kMinNearPeaks = 8;

// At a dye blob's top at most one other dye reaches kOtherDyeShare of it.
constexpr double kOtherDyeShare = 0.5;

// The pedestal is the channel's lower envelope over a flat window of
// kOpeningSpacings spacings: wider than a base, narrower than a blob.
constexpr double kOpeningSpacings = 1.5;

// Running minimum (sign +1) or maximum (sign -1) of x over half-width h.
std::vector<double> runningExtreme(const std::vector<double>& x, int h, int sign) {
    const int n = static_cast<int>(x.size());
    std::vector<double> y(n);
    for (int i = 0; i < n; ++i) {
        double v = x[i];
        for (int k = std::max(0, i - h); k <= std::min(n - 1, i + h); ++k)
            v = sign > 0 ? std::min(v, x[k]) : std::max(v, x[k]);
        y[i] = v;
    }
    return y;
}

// Where x[lo..hi] falls to half of x[at] on either side of at.
void halfWidth(const double* x, int lo, int hi, int at, int& left, int& right) {
    const double half = 0.5 * x[at];
    left = at;
    while (left > lo && x[left] > half) --left;
    right = at;
    while (right < hi && x[right] > half) ++right;
}

// The Gaussian through the flanks of the lower envelope e (points between
// 20 % and 80 % of its top), by least squares on its logarithm; false when
// the flanks do not curve down.
bool flankGaussian(const std::vector<double>& e, double& a, double& b, double& c) {
    const double top = *std::max_element(e.begin(), e.end());
    double s[5] = {0, 0, 0, 0, 0}, r[3] = {0, 0, 0};
    const double mid = 0.5 * static_cast<double>(e.size());
    for (size_t i = 0; i < e.size(); ++i) {
        if (!(e[i] > 0.2 * top && e[i] < 0.8 * top)) continue;
        const double t = (static_cast<double>(i) - mid) / mid, w = e[i] * e[i], l = std::log(e[i]);
        double p = w;
        for (int k = 0; k < 5; ++k, p *= t) s[k] += p;
        r[0] += w * l;
        r[1] += w * l * t;
        r[2] += w * l * t * t;
    }
    // Normal equations of l = a + b t + c t^2.
    KwdbMatrix m(0, 2, 0, 2);
    KwdbVector rhs(0, 2), coef;
    for (int i = 0; i < 3; ++i) {
        rhs(i) = r[i];
        for (int j = 0; j < 3; ++j) m(i, j) = s[i + j];
    }
    if (!coef.beSolutionOf(m, rhs, 0)) return false;
    a = coef(0);
    b = coef(1) / mid;
    c = coef(2) / (mid * mid);
    return c < 0.0 && std::isfinite(a) && std::isfinite(b);
}

// The blob's pedestal on x[lo..hi]: the lower envelope (opening) over a flat
// window of half-width h, whose flattened top is restored by the Gaussian
// through its flanks; never above x, and falling to 0 at both ends of the
// stretch so that nothing steps where it ends.
std::vector<double> pedestal(const double* x, int lo, int hi, int h) {
    const std::vector<double> part(x + lo, x + hi + 1);
    std::vector<double> e = runningExtreme(runningExtreme(part, h, 1), h, -1);
    double a = 0, b = 0, c = 0;
    if (flankGaussian(e, a, b, c)) {
        const double mid = 0.5 * static_cast<double>(e.size());
        const int top = static_cast<int>(std::max_element(e.begin(), e.end()) - e.begin());
        for (int i = std::max(0, top - 2 * h); i <= std::min<int>(e.size() - 1, top + 2 * h); ++i) {
            const double t = i - mid;
            e[i] = std::max(e[i], std::exp(a + b * t + c * t * t));
        }
    }
    const int n = static_cast<int>(e.size());
    const double first = e.front(), last = e.back();
    for (int i = 0; i < n; ++i) {
        const double floor = first + (last - first) * i / std::max(1, n - 1);
        e[i] = std::max(0.0, std::min(e[i], part[i]) - std::max(0.0, floor));
    }
    return e;
}

// A blob is one dye's, though an imperfect separation (worst on old
// instruments) can lift one other dye with it. Where three or more dyes
// rise together far above the bases (the unresolved first bases of a loud
// run, a spike through every channel) it is no dye blob, and the bases are
// read as they stand.
bool aloneAt(const ChannelView& v, const ClearPeak& p) {
    int along = 0;
    for (int t = 0; t < static_cast<int>(v.channels.size()); ++t)
        along +=
            t != p.channel && v.channels[t][p.pos] > kOtherDyeShare * v.channels[p.channel][p.pos];
    return along <= 1;
}

// A blob found: its dye and top, the stretch its pedestal spans (capillary
// samples) and its height over the bases near it.
struct Blob {
    int channel, top, lo, hi;
    double ratio;
};

// Whether the hump p of v[start..n-1] is a dye blob, wide and alone and
// kBlobRatio times the median height of the bases near it outside its
// core; b receives it. bases: sorted by position.
bool blobAt(const ChannelView& v, int start, double spacing, const std::vector<ClearPeak>& bases,
            const ClearPeak& p, std::vector<double>& heights, Blob& b) {
    int left = 0, right = 0;
    halfWidth(v.channels[p.channel], start, v.n - 1, p.pos, left, right);
    if (right - left < kBlobWidthSpacings * spacing || !aloneAt(v, p)) return false;
    const double near = kNearSpacings * spacing;
    heights.clear();
    auto q = std::lower_bound(bases.begin(), bases.end(), p.pos - near,
                              [](const ClearPeak& c, double at) { return c.pos < at; });
    for (; q != bases.end() && q->pos <= p.pos + near; ++q)
        if (std::abs(q->pos - p.pos) <= near && (q->pos < left || q->pos > right))
            heights.push_back(q->height);
    if (static_cast<int>(heights.size()) < kMinNearPeaks) return false;
    const double reference = median(heights);
    if (!(reference > 0.0) || !(p.height >= kBlobRatio * reference)) return false;
    // The pedestal reaches out to three half-height widths each side,
    // where a Gaussian hump has fallen below a thousandth of its top.
    const int width = right - left;
    b = {p.channel, p.pos, std::max(start, p.pos - 3 * width), std::min(v.n - 1, p.pos + 3 * width),
         p.height / reference};
    return true;
}

// The dye blobs of v[start..n-1], judged on the channels as they stand
// before any is taken off; bases: the clear peaks of the bases, humps: the
// clear peaks of the channels smoothed over about a base.
std::vector<Blob> findBlobs(const ChannelView& v, int start, double spacing,
                            const std::vector<ClearPeak>& bases,
                            const std::vector<ClearPeak>& humps) {
    std::vector<Blob> found;
    std::vector<int> takenUpTo(v.channels.size(), -1);
    std::vector<double> heights;
    Blob b{};
    for (const ClearPeak& p : humps) {
        if (p.pos <= takenUpTo[p.channel] || !blobAt(v, start, spacing, bases, p, heights, b))
            continue;
        found.push_back(b);
        takenUpTo[p.channel] = b.hi;
    }
    return found;
}

// Samples judged at a time by the first, coarse bound of mayHoldBlob.
constexpr int kBlock = 64;

// low: the kMinNearPeaks/2-th lowest height of the bases within `near` of
// samples lo..hi (sorted by position); false when there are fewer than
// kMinNearPeaks of them, too few for a hump there to be measured against.
bool lowBaseHeight(const std::vector<ClearPeak>& bases, int lo, int hi, double near,
                   std::vector<double>& heights, double& low) {
    auto q = std::lower_bound(bases.begin(), bases.end(), lo - near - 1.0,
                              [](const ClearPeak& c, double at) { return c.pos < at; });
    heights.clear();
    for (; q != bases.end() && q->pos <= hi + near + 1.0; ++q) heights.push_back(q->height);
    if (static_cast<int>(heights.size()) < kMinNearPeaks) return false;
    low = lowOfRank<kMinNearPeaks / 2>(heights);
    return true;
}

// Whether some hump of v[start..n-1] might be a dye blob, decided without
// seeking the humps on channels smoothed with a Gaussian of humpSigma
// samples: false proves there is none. A hump's height is a weighted mean
// (positive weights summing to one) of the samples within the smoothing's
// radius of its top, so at most their largest; and the median of at least
// kMinNearPeaks bases near it is at least the kMinNearPeaks/2-th lowest of
// all bases near its block. Where these bounds leave a sample in doubt,
// its smoothed value (rounded up by far more than its sum's rounding) is
// put to every test of a blob.
bool mayHoldBlob(const ChannelView& v, int start, double spacing, double humpSigma,
                 const std::vector<ClearPeak>& bases) {
    const int n = v.n;
    double gain = 0.0;
    const std::vector<double> w = smoothingWeights(humpSigma, gain);
    const int radius = static_cast<int>(w.size()) - 1;
    std::vector<double> heights;
    Blob b{};
    for (int lo = start; lo < n; lo += kBlock) {
        const int hi = std::min(n - 1, lo + kBlock - 1);
        double low = 0.0;
        if (!lowBaseHeight(bases, lo, hi, kNearSpacings * spacing, heights, low)) continue;
        if (!(low > 0.0)) return true;
        const double tall = kBlobRatio * low;
        // One sample beyond the smoothing's reach: the bound holds either way.
        const int from = std::max(start, lo - radius - 1), to = std::min(n - 1, hi + radius + 1);
        for (int t = 0; t < static_cast<int>(v.channels.size()); ++t) {
            const double* x = v.channels[t];
            if (*std::max_element(x + from, x + to + 1) < tall) continue;
            for (int i = lo; i <= hi; ++i) {
                double y = w[0] * x[i], size = std::fabs(y);
                for (int k = 1; k <= radius; ++k) {
                    const double pair = x[std::max(start, i - k)] + x[std::min(n - 1, i + k)];
                    y += w[k] * pair;
                    size += w[k] * std::fabs(pair);
                }
                y += 1e-9 * size;
                if (y >= tall && blobAt(v, start, spacing, bases, {i, t, y}, heights, b))
                    return true;
            }
        }
    }
    return false;
}

}  // namespace

void Road::takeOffBlobs() {
    if (!(roughSpacing > 0.0) || numTraces() < 2) return;
    const ChannelView v = view();
    const int n = v.n;
    const std::vector<ClearPeak> bases =
        clearPeaks(v, start, n - 1, channelNoise, search(true, roughSpacing / 6.0));
    const double humpSigma = roughSpacing / 2.0;
    // Most runs have no blob, which the bases alone prove: the humps are
    // then not sought.
    if (!mayHoldBlob(v, start, roughSpacing, humpSigma, bases)) return;
    const std::vector<Blob> blobs =
        findBlobs(v, start, roughSpacing, bases,
                  clearPeaks(v, start, n - 1, channelNoise, search(false, humpSigma)));
    const int h = std::max(2, static_cast<int>(std::lround(0.5 * kOpeningSpacings * roughSpacing)));
    const double scale = run.coordinateScale > 0.0 ? run.coordinateScale : 1.0;
    for (const Blob& b : blobs) {
        KwTrace& trace = traceOf(*cap, b.channel);
        const std::vector<double> under = pedestal(trace.getData(), b.lo, b.hi, h);
        for (int i = b.lo; i <= b.hi; ++i) trace[i] -= under[i - b.lo];
        if (b.channel < static_cast<int>(separated.size())) {
            std::vector<double>& s = separated[b.channel];
            const std::vector<double> alike = pedestal(s.data(), b.lo, b.hi, h);
            for (int i = b.lo; i <= b.hi; ++i) s[i] -= alike[i - b.lo];
        }
        out.blobs.push_back({b.channel, b.lo / scale, b.hi / scale, b.ratio});
        char note[200];
        std::snprintf(note, sizeof note,
                      "dye blob in %s at samples %.0f-%.0f, %.0f times the height of the bases "
                      "near it: taken off before the peaks were sought",
                      b.channel < static_cast<int>(run.channelNames.size())
                          ? run.channelNames[b.channel].c_str()
                          : "a channel",
                      b.lo / scale, b.hi / scale, b.ratio);
        out.notes.push_back(note);
    }
}

}  // namespace detail
}  // namespace kw
