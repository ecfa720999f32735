// Baseline removal: a piecewise-linear floor laid under the trace chord by
// chord (deBaseline), and a segment-wise pass that lifts tent-shaped
// backgrounds out of wide valleys between near-zero samples (deBaselineSeq).
#include <algorithm>
#include <climits>
#include <vector>

#include "common/sample_index.h"
#include "common/sample_range.h"
#include "common/wide_vectors.h"
#include "kwsignal/capillary.h"
#include "kwsignal/trace.h"

namespace {

/// A sample at or below this counts as already on the baseline.
constexpr double kNearZero = 1.0e-7;

/// A later sample takes over as the end of the steepest chord only when its
/// slope is at most this share of the best so far: at an exactly equal slope
/// the later sample wins when the slope is zero or falling, the earlier one
/// when it rises.
constexpr double kSteeperShare = 0.99999999;

/// The dip floor lies 40 % of the way from the mean low dip down to the
/// lowest dip, a hair further down: a dip exactly at 40 % is neither counted
/// deep nor raised.
constexpr double kFloorDepth = 0.40000001;

/// Deep dips are rare below 5 % of the low dips, the share held in single
/// precision a hair over 5 %: exactly one deep dip in twenty still is rare.
constexpr double kRareDeepShare = static_cast<double>(0.050001f);

/// The segment window, in seconds; the nudge keeps trunc() from losing a
/// sample when six times the rate is whole but binary rounding falls short.
constexpr double kSegmentSeconds = 6.0000000001;

/// A gap is where the trace lies at or below half the peak beside it; the
/// share is a hair over half, so a sample exactly at half lies in the gap.
constexpr double kGapShare = 0.50000001;

/// A later sample becomes the tent's apex only when lower by more than one
/// part in 1e10: of lows equal to rounding, the first one is the apex.
constexpr double kLowerApex = 1.0000000001;

/// The tent's top lies a hair under the apex sample, so that the apex keeps
/// a trace of its height instead of being cut exactly onto the baseline.
constexpr double kTentTop = 0.9999999999;

/// Subtracts from data[q..r-1] the chord that runs from yq at q to yr at r.
void subtractChord(double* data, int q, int r, double yq, double yr) {
    const double slope = (yr - yq) / (r - q);
    for (int i = q; i < r; ++i) data[i] -= (i - q) * slope + yq;
}

/// Lifts a tent out of segment a..b: it rises from 0 at a left foot to
/// (almost) the lowest sample of gapFirst..gapLast and falls back to 0 at a
/// right foot, negative results clipped to 0. Returns the right foot.
int removeTent(const KwTrace& trace, double* data, int a, int b, int gapFirst, int gapLast) {
    int m = gapFirst;
    double v = data[gapFirst];
    for (int i = gapFirst + 1; i <= gapLast; ++i) {
        if (v > data[i] * kLowerApex) {
            m = i;
            v = data[i];
        }
    }

    int footL = a;
    if (m > a) {
        double best = (v - data[a]) / (m - a);
        for (int j = a + 1; j <= m - 1; ++j) {
            const double s = (v - data[j]) / (m - j);
            if (s > best) {
                best = s;
                footL = j;
            }
        }
    }

    const double height = v * kTentTop;
    for (int j = footL + 1; j <= m; ++j) {
        data[j] -= (j - footL) * height / (m - footL);
        if (data[j] < 0.0) data[j] = 0.0;
    }
    const int footR = trace.getSteepestPnt(m + 1, b);
    for (int j = m + 1; j <= footR - 1; ++j) {
        data[j] -= (footR - j) * height / (footR - m);
        if (data[j] < 0.0) data[j] = 0.0;
    }
    return footR;
}

}  // namespace

KW_WIDE_VECTORS int KwTrace::getSteepestPnt(int from, int to) const {
    if (from == to) return to;
    if (from + 2 > to) return from + 1;
    int best = from + 1;
    double bound = (data[from + 1] - data[from]) * kSteeperShare;
    // The slopes are divided out a stretch at a time, in a loop that
    // vectorises; the search for the steepest then runs over them.
    constexpr int kStretch = 256;
    double slopes[kStretch];
    for (int first = from + 2; first <= to; first += kStretch) {
        const int count = std::min(kStretch, to - first + 1);
        for (int u = 0; u < count; ++u)
            slopes[u] = (data[first + u] - data[from]) / (first + u - from);
        for (int u = 0; u < count; ++u) {
            if (slopes[u] <= bound) {
                best = first + u;
                bound = slopes[u] * kSteeperShare;
            }
        }
    }
    return best;
}

KW_WIDE_VECTORS void KwTrace::deAnomaliousDip(int w) {
    if (w < 1 || !kw::detail::isSampleRange(*this, signalStartPnt, signalEndPnt)) return;
    const int numBlocks = (signalEndPnt - signalStartPnt + 1) / w;
    // A sample at either end of the array has only one neighbour; it is
    // judged no dip (and no low dip), so the block edge at the array edge
    // never counts towards the floor.
    auto lowerThanBoth = [this](int i, double y, double margin) {
        return i > 0 && i < numData - 1 && y < data[i - 1] - margin && y < data[i + 1] - margin;
    };
    // Every dip, low dip and deep dip is a strict local minimum, so each
    // block's three counts walk only those, in order (the sums come out the
    // same as over every sample).
    std::vector<int> minima;
    for (int k = 0; k < numBlocks; ++k) {
        const int a = signalStartPnt + k * w;
        const int b = (k == numBlocks - 1) ? signalEndPnt : a + w;
        // The block's strict minima, listed once.
        const int lo = std::max(a, 1), hi = std::min(b, numData - 2);
        minima.resize(std::max(0, hi - lo + 1));
        minima.resize(
            kw::detail::listExtrema<kw::detail::Extremum::strictMin>(data, lo, hi, minima.data()));

        int nDip = 0;
        double totalDip = 0.0;
        double lowest = data[a];
        for (int i : minima) {
            if (!lowerThanBoth(i, data[i], 1.0e-7)) continue;
            ++nDip;
            totalDip += data[i];
            if (lowest > data[i] + 1.0e-7) lowest = data[i];
        }
        if (nDip == 0) continue;
        const double meanDip = totalDip / nDip;

        // About half the dips are low: their count and sum are taken
        // without a branch (a sum from +0 is unchanged by adding +0).
        int nLow = 0;
        double totalLow = 0.0;
        for (int i : minima) {
            const double y = data[i] + 1.0e-8;
            const int low = static_cast<int>(y < meanDip) & static_cast<int>(y < data[i - 1]) &
                            static_cast<int>(y < data[i + 1]);
            nLow += low;
            totalLow += low ? y : 0.0;
        }
        if (nLow == 0) continue;
        const double meanLow = totalLow / nLow;
        const double floorLevel = meanLow - kFloorDepth * (meanLow - lowest);

        int nDeep = 0;
        for (int i : minima) {
            if (i <= a || i >= b) continue;
            const double z = data[i] + 1.0e-8;
            if (z < data[i + 1] && z < data[i - 1] && z < floorLevel) ++nDeep;
        }
        // Deep dips are floored only where they are rare among the low dips.
        if (nDeep < kRareDeepShare * nLow) {
            for (int i = a; i <= b; ++i) data[i] = std::max(data[i], floorLevel);
        }
    }
}

int KwTrace::deBaseline(int n) {
    // A window that is not a range of samples is the caller's mistake:
    // nothing is read or changed, as when the baseline window does not fit.
    if (!kw::detail::isSampleRange(*this, signalStartPnt, signalEndPnt)) return 0;
    const int unit = kw::detail::truncToRange(5.0 * sampleRate, 0, INT_MAX);
    const double length = static_cast<double>(signalEndPnt) - signalStartPnt + 1.0;
    // A window under one sample (rate below 0.2 Hz, n < 1) is refused like
    // one that does not fit twice into the signal.
    if (unit < 1 || n < 1 || 2.0 * unit * n > length) return 0;
    const int w = unit * n;

    deAnomaliousDip(w);

    const int p = getSteepestPnt(signalStartPnt, signalStartPnt + w / 2);
    const double level = data[p];
    for (int i = signalStartPnt; i < p; ++i) data[i] -= level;

    int q = p;
    int r = getSteepestPnt(q, q + w);
    subtractChord(data, q, r, level, data[r]);
    while (signalEndPnt - r > w) {
        q = r;
        r = getSteepestPnt(q, q + w);
        subtractChord(data, q, r, data[q], data[r]);
    }

    const double tailMin = getMinData(r, signalEndPnt);
    for (int i = r; i <= signalEndPnt; ++i) data[i] -= tailMin;
    return 1;
}

int KwTrace::findWidestGap(int first, int last, double fraction, int& gapFirst,
                           int& gapLast) const {
    if (last <= first) return 0;
    // Climb to the first local top left of `last`, then down its left flank.
    int i = last;
    while (i > first && data[i - 1] >= data[i]) --i;
    if (i == first) return 0;
    double peak = data[i];
    while (i > first && data[i - 1] < data[i]) --i;
    if (i == first) return 0;

    double threshold = fraction * peak;
    while (data[i] > threshold) {
        if (data[i] > peak) {
            peak = data[i];
            threshold = fraction * peak;
        }
        if (i == first) return 0;
        --i;
    }
    if (i == first) return 0;

    gapFirst = gapLast = i;
    int right = i;
    bool open = true;
    int best = 0;
    for (int j = i - 1; j >= first; --j) {
        if (open) {
            if (data[j] >= threshold) {
                open = false;
                if (right - j + 1 > best) {
                    best = right - j + 1;
                    gapFirst = j;
                    gapLast = right;
                }
            }
        } else {
            if (data[j] > peak) {
                peak = data[j];
                threshold = fraction * peak;
            }
            if (data[j] <= threshold) {
                open = true;
                right = j;
            }
        }
    }
    return best;
}

void KwTrace::deBaselineSeq() {
    if (!kw::detail::isSampleRange(*this, signalStartPnt, signalEndPnt)) return;
    int a = signalStartPnt;
    while (data[a] > kNearZero && a != signalEndPnt) ++a;

    // A rate giving a segment window under one sample would never move the
    // segment on; such a trace is left as it is.
    const int segWindow = kw::detail::truncToRange(kSegmentSeconds * sampleRate, 0, INT_MAX);
    if (segWindow < 1) return;

    while (a < signalEndPnt) {
        if (segWindow >= signalEndPnt - a) return;
        int b = a + segWindow;
        while (data[b] > kNearZero) {
            if (b == signalEndPnt) return;
            ++b;
        }
        if (b >= signalEndPnt) return;

        int gapFirst = a;
        int gapLast = a;
        if (findWidestGap(a, b, kGapShare, gapFirst, gapLast) <= segWindow) {
            a = b;
        } else {
            a = removeTent(*this, data, a, b, gapFirst, gapLast);
        }
    }
}

int KwCap::deBaseline(int n) {
    for (int t = 0; t < numTraces; ++t) {
        if (traces[t].deBaseline(n) == 0) return 0;
    }
    return 1;
}
