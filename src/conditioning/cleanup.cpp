// Clean-up of artefacts that linear filtering would only smear: the start-up
// transient, deep negative dips, towering peaks, straight-line scars and
// one-sample dips. Most repairs redraw a stretch of samples as a parabola
// that sags a little below the chord between its ends.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "common/sample_index.h"
#include "common/sample_range.h"
#include "kwsignal/capillary.h"
#include "kwsignal/trace.h"

void KwTrace::replaceWithParabola(int from, int to, double floorValue) {
    // A section reaching outside the array is left alone, like a short one.
    if (from < 0 || to >= numData || static_cast<long long>(to) - from < 2) return;
    const double y0 = data[from];
    const double y1 = data[to];
    const double sag = std::max(std::min(std::fabs(y0), std::fabs(y1)), std::fabs(y1 - y0));
    const double hv = std::max(0.5 * (y0 + y1) - 0.2 * sag, floorValue);
    const double xm = (from + static_cast<double>(to)) / 2.0;
    const double t1 = to - from;
    const double th = xm - from;
    const double dy = y1 - y0;
    const double h = hv - y0;
    const double d = (t1 - th) * th * t1;
    const double a = (dy * th - h * t1) / d;
    const double b = (h * t1 * t1 - dy * th * th) / d;
    for (int i = from + 1; i < to; ++i) {
        const double t = i - from;
        data[i] = a * t * t + b * t + y0;
    }
}

void KwTrace::removeSection(int from, int to, int useMinimum) {
    if (from < 0 || to >= numData || from > to) return;
    // An end on the window edge has nothing outside to join: it takes the
    // level of the section's other end.
    if (from == signalStartPnt) data[from] = data[to];
    if (to == signalEndPnt) data[to] = data[from];
    const double floorValue = useMinimum != 0 ? getMinData(from, to) : 0.0;
    replaceWithParabola(from, to, floorValue);
}

void KwTrace::cleaning(double startTime, int removeNegativePeaks) {
    // A start time past the end of the run blanks the whole array and
    // leaves an empty window that starts after the last sample.
    int blank = kw::detail::truncToRange(sampleRate * startTime, 0, numData);
    blank = std::min(std::max(blank, signalStartPnt), numData);
    std::fill(data, data + std::max(blank, 0), 0.0);
    if (signalStartPnt < blank) signalStartPnt = blank;
    if (removeNegativePeaks != 0) deAnomalousNegativePeaks(0);
}

namespace {

// The typical valley depth of a window: the mean of its strict local minima
// below avgAbs. A sample at either end of the array has no neighbour there
// and so is no minimum. False when there is none.
bool meanOfLowMinima(const double* x, int n, int s, int e, double avgAbs, double& meanMin) {
    const auto lowMinimum = [&](int i) { return x[i] < avgAbs && kw::detail::isLocalMin(x, i); };
    return kw::detail::meanWhere(x, std::max(s, 1), std::min(e, n - 2), lowMinimum, meanMin);
}

// What the dip search knows about the window.
struct DipLevels {
    int s, e;        // the window
    double avgAbs;   // mean absolute sample of the window
    double meanMin;  // mean of the minima below avgAbs
    double limit;    // 2 (meanMin - avgAbs): depth, measured from avgAbs, of a deep sample
    // A sample exactly at the limit is neither deep nor shallow.
    bool deep(const double* x, int i) const { return x[i] - avgAbs < limit; }
    bool shallow(const double* x, int i) const { return x[i] - avgAbs > limit; }
};

// Left end of the dip whose first deep sample is p, searched back to a + 1:
// the first sample, walking left, above meanMin or above its left neighbour.
int dipLeftEnd(const double* x, const DipLevels& lv, int a, int p) {
    if (p <= a) return p;
    for (int j = p; j >= a + 1; --j)
        if (x[j] > lv.meanMin || x[j] > x[j - 1]) return j;
    return a + 1;
}

// Right end of the dip that turns shallow at q: the first sample from q on
// above meanMin or above its right neighbour. A trace still climbing out of
// the dip below meanMin at the window end has not recovered inside the
// window: the section runs to the window end, as for a dip that is still
// deep there, and the repair joins it to the level before the dip.
int dipRightEnd(const double* x, const DipLevels& lv, int q) {
    for (int j = q; j <= lv.e - 1; ++j)
        if (x[j] > lv.meanMin || x[j] > x[j + 1]) return j;
    return lv.e;
}

// Moves the higher end of l..r inwards while it stays above the sample just
// outside the other end. Outside the array there is no such sample and the
// walk stops.
void balanceDipEnds(const double* x, int n, int& l, int& r) {
    if (x[l] > x[r]) {
        while (l + 1 < r && r + 1 < n && x[l] > x[r + 1]) ++l;
    } else {
        while (r - 1 > l && l >= 1 && x[r] > x[l - 1]) --r;
    }
}

// Raises the deep end of l..r towards the level around the dip, so that the
// parabola starts from a plausible level rather than the bottom.
void raiseDeepEnd(double* x, const DipLevels& lv, int l, int r) {
    double v = std::min(lv.meanMin, 0.0);
    const double drop = lv.meanMin - 0.5 * lv.avgAbs;
    if (x[l] - x[r] > drop && x[r] < drop) {
        v = std::min(v, x[l]);
        if (r < lv.e) v = std::min(v, x[r + 1]);
        if (v > x[r]) x[r] = v;
    }
    if (x[r] - x[l] > drop && x[l] < drop) {
        v = std::min(v, x[r]);
        if (l > lv.s) v = std::min(v, x[l - 1]);
        if (v > x[l]) x[l] = v;
    }
}

}  // namespace

void KwTrace::deAnomalousNegativePeaks(int fillEnds) {
    if (!kw::detail::isSampleRange(*this, signalStartPnt, signalEndPnt)) return;
    DipLevels lv{signalStartPnt, signalEndPnt, 0.0, 0.0, 0.0};
    lv.avgAbs = norm1() / (lv.e - lv.s + 1);
    // Without a valley below the mean level there is no typical depth to
    // call a dip anomalous against: the trace stays as it is.
    if (!meanOfLowMinima(data, numData, lv.s, lv.e, lv.avgAbs, lv.meanMin)) return;
    lv.limit = 2.0 * (lv.meanMin - lv.avgAbs);
    int a = lv.s;
    while (a < lv.e) {
        int p = a;
        while (p < lv.e && !lv.deep(data, p)) ++p;
        if (p >= lv.e) break;
        int q = p + 1;
        while (q < lv.e && !lv.shallow(data, q)) ++q;
        int l = dipLeftEnd(data, lv, a, p);
        int r = q < lv.e ? dipRightEnd(data, lv, q) : q;
        balanceDipEnds(data, numData, l, r);
        if (fillEnds != 0) raiseDeepEnd(data, lv, l, r);
        removeSection(l, r, 1);
        a = r;
    }
}

namespace {

constexpr int kTallSlots = 5;

// The highest peaks of a range, highest first. `listed` marks slots that
// hold a peak; the others keep height 0.0.
struct TallPeaks {
    double height[kTallSlots];
    int position[kTallSlots];
    bool listed[kTallSlots];

    void put(int slot, double h, int pos) {
        height[slot] = h;
        position[slot] = pos;
        listed[slot] = true;
    }
    // Lists a peak at `slot`, moving the lower ones down; the lowest drops
    // out.
    void insert(int slot, double h, int pos) {
        for (int u = kTallSlots - 1; u > slot; --u) {
            height[u] = height[u - 1];
            position[u] = position[u - 1];
            listed[u] = listed[u - 1];
        }
        put(slot, h, pos);
    }
};

TallPeaks listTallPeaks(const double* x, int from, int to) {
    TallPeaks tp;
    std::fill(tp.height, tp.height + kTallSlots, 0.0);
    std::fill(tp.position, tp.position + kTallSlots, from - 1);
    std::fill(tp.listed, tp.listed + kTallSlots, false);
    // The ends of the range count when the trace falls away from them.
    if (x[from] > x[from + 1]) tp.put(0, x[from], from);
    if (x[to] > x[to - 1]) tp.put(1, x[to], to);
    if (tp.height[0] < tp.height[1]) {
        std::swap(tp.height[0], tp.height[1]);
        std::swap(tp.listed[0], tp.listed[1]);
        tp.position[0] = to;
        tp.position[1] = from;
    }
    for (int i = from + 1; i <= to - 1; ++i) {
        if (!(x[i] >= x[i - 1] && x[i] >= x[i + 1])) continue;
        int t = 0;
        while (t < kTallSlots && !(tp.height[t] < x[i])) ++t;
        if (t < kTallSlots) tp.insert(t, x[i], i);
    }
    return tp;
}

// How many of the highest peaks stand out: the lowest drop by more than 1.8
// between neighbours in the list, raised past every peak more than 3 times
// the lowest listed one.
int numTowering(const TallPeaks& tp) {
    // Every slot down to the last one that holds a peak (edge peaks
    // included) takes part, so the count does not depend on the order in
    // which the peaks occur in the trace.
    int n = 0;
    for (int t = 0; t < kTallSlots; ++t)
        if (tp.listed[t]) n = t + 1;
    if (n < 2) return 0;
    const double* h = tp.height;
    int k = 0;
    for (int t = n - 2; t >= 0; --t) {
        if (h[t] > 1.8 * h[t + 1] && h[t + 1] > 0) {
            k = t + 1;
            break;
        }
    }
    if (h[n - 1] > 0) {
        while (k < n - 1 && h[k] > 3.0 * h[n - 1]) ++k;
    }
    return k;
}

}  // namespace

void KwTrace::deAnomalousHighPk(int from, int to) {
    if (!(from >= 0 && from < to && to < numData)) return;
    const TallPeaks tp = listTallPeaks(data, from, to);
    const int k = numTowering(tp);
    for (int u = 0; u < k; ++u) {
        if (tp.height[u] < tp.height[k - 1]) continue;
        int lo = std::max(tp.position[u] - 1, from);
        int hi = std::min(tp.position[u] + 1, to);
        extendBoundaries(lo, hi, kw::detail::kAnyValley);
        removeSection(lo, hi, 0);
    }
}

int KwTrace::deAnomalousHighPkAtBeginning() {
    const int s = signalStartPnt;
    const int e = signalEndPnt;
    if (!kw::detail::isSampleRange(*this, s, e)) return s;
    // Half a minute of samples; a negative or non-numeric rate gives none.
    const int w = kw::detail::truncToRange(30.0 * sampleRate, 0, numData);
    const int mid = s + (e - s) / 2;
    if (mid < s + 20LL * w) return s;
    // A sample towers above 2.5 times the highest one after it; nudged up,
    // so a sample exactly at 2.5 times is no anomaly.
    constexpr double kToweringRatio = 2.5000001;
    const double lim = kToweringRatio * getMaxData(s + w + 1, mid);
    int j = s + w;
    while (j >= s && !(data[j] > lim)) --j;
    if (j < s) return s;
    while (j < e && data[j + 1] < data[j]) ++j;
    return j;
}

namespace {

// Sample j lies on the straight flank that rises by s per sample away from
// the scar bottom i (value v).
bool onFlank(const double* x, int i, double v, double s, int j) {
    return std::fabs(((x[j] - v) - std::abs(j - i) * s) / s) <= 0.01;
}

// The scar whose bottom is sample i, as [l, r] with i at one end; false when
// neither flank is a straight line over at least four samples.
bool findScar(const double* x, int s, int e, int i, int& l, int& r) {
    const double v = x[i];
    const int dir = x[i + 1] > x[i - 1] ? -1 : x[i + 1] < x[i - 1] ? +1 : 0;
    if (dir == 0) return false;
    const double slope = x[i + dir] - v;
    for (int d = 2; d <= 5; ++d)
        if (!onFlank(x, i, v, slope, i + dir * d)) return false;
    const int edge = dir < 0 ? s : e;
    // Follow the flank outwards; the window edge itself is taken untested.
    int j = i + 4 * dir;
    for (;;) {
        const int next = j + dir;
        if (next == edge) {
            j = edge;
            break;
        }
        if (!onFlank(x, i, v, slope, next)) break;
        j = next;
    }
    l = dir < 0 ? j : i;
    r = dir < 0 ? i : j;
    return true;
}

}  // namespace

void KwTrace::fixScar() {
    const int s = signalStartPnt;
    const int e = signalEndPnt;
    if (!kw::detail::isSampleRange(*this, s, e)) return;
    for (int i = s + 5; i <= e - 6;) {
        int l = i;
        int r = i;
        const bool candidate = data[i] > 0 && data[i] < data[i - 1] && data[i] < data[i + 1];
        if (!candidate || !findScar(data, s, e, i, l, r)) {
            ++i;
            continue;
        }
        // Split the scar where lines of equal and opposite slope from its
        // ends would meet at zero, and redraw both halves from there.
        const double share = (r - l) * data[r] / (data[l] + data[r]) + 0.5;
        const int m = r - kw::detail::truncToRange(share, 0, r - l);
        data[m] = 0.0;
        replaceWithParabola(l, m, 0.0);
        replaceWithParabola(m, r, 0.0);
        i = r + 6;
    }
}

void KwTrace::smoothingDips() {
    const int s = signalStartPnt;
    const int e = signalEndPnt;
    if (!kw::detail::isSampleRange(*this, s, e)) return;
    const double thr = 0.1 * getMaxData(s, e);
    for (int i = s + 1; i <= e - 1; ++i) {
        if (data[i] < thr && data[i] < data[i + 1] && data[i] < data[i - 1])
            data[i] = 0.475 * (data[i + 1] + data[i - 1]);
    }
}

void KwCap::cleaning(double startTime, int removeNegativePeaks) {
    for (int t = 0; t < numTraces; ++t) traces[t].cleaning(startTime, removeNegativePeaks);
}

void KwCap::fixScar() {
    for (int t = 0; t < numTraces; ++t) traces[t].fixScar();
}
