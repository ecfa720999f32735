// Where the useful signal of a run lies: past the primer and early events at
// its start, before the long noise tail at its end; baseline plateaus at
// both ends and broad raised tails.
#include <algorithm>
#include <cmath>
#include <vector>

#include "common/sample_index.h"
#include "common/sample_range.h"
#include "kwsignal/trace.h"

using kw::detail::isLocalMax;
using kw::detail::isLocalMin;

namespace {

// Tuning factors kept in single precision; they take part in double
// arithmetic as the exact values of those floats. The plateau's middle runs
// from a hair over 30 % to a hair over 60 % of the window, so trunc() never
// ends a sample short of those shares when they are whole.
const double kNoisePkFraction = static_cast<double>(0.05f);
const double kPlateauFrom = static_cast<double>(0.30001f);
const double kPlateauTo = static_cast<double>(0.60001f);

// A valley above 70 % of the middle's mean valley ends the plateau scan;
// nudged up, so a valley exactly at 70 % does not.
constexpr double kPlateauValleyShare = 0.700001;

// Samples up to 1.5 times the middle's mean valley lie on the plateau;
// nudged up, so a sample exactly at 1.5 times still does.
constexpr double kPlateauCeilingRatio = 1.500001;

// A rise that holds for three seconds ends the plateau; a touch over three,
// so trunc() never drops a sample when three times the rate is whole.
constexpr double kSustainedRiseSeconds = 3.0001;

// A big tail extends while its samples stay above half its raised level;
// nudged up, so a sample exactly at half ends the tail.
constexpr double kTailEdgeShare = 0.500001;

constexpr int kMaxNoisePks = 50;

// Walks from `from` towards `edge` (one step at a time, `edge` excluded) and
// returns the first sample where the walk has come down a slope and the
// trace starts to climb again, with the floor below threshold; `edge` when
// there is none. A flat stretch counts as still coming down.
int walkToValley(const double* x, int from, int edge, int step, double threshold) {
    bool descending = true;
    for (int i = from; i != edge; i += step) {
        if (x[i] < x[i + step]) {
            if (descending && x[i] < threshold) return i;
            descending = false;
        } else if (x[i] >= x[i + step]) {
            descending = true;
        }
    }
    return edge;
}

// First sample of from..to (inclusive, walked in `step` direction) that
// satisfies pred; -1 when none.
template <class Pred>
int firstWhere(int from, int to, int step, Pred pred) {
    if ((to - from) * step < 0) return -1;
    for (int i = from;; i += step) {
        if (pred(i)) return i;
        if (i == to) return -1;
    }
}

// The noise-peak level of s..e: the K-th smallest local maximum (K = 5 % of
// the window, at most 50), or the largest when there are fewer. False when
// the window is too short for K >= 1 or has no local maximum.
bool noisePeakLevel(const double* x, int s, int e, double& level) {
    const double k = std::trunc((e - s + 1.0) * kNoisePkFraction);
    const int keep = static_cast<int>(std::min(k, static_cast<double>(kMaxNoisePks)));
    double kept[kMaxNoisePks];
    int count = 0;
    for (int i = s + 1; i <= e - 2; ++i) {
        if (!isLocalMax(x, i)) continue;
        int pos = count;
        while (pos > 0 && kept[pos - 1] > x[i]) --pos;
        if (pos == keep) continue;
        if (count < keep) ++count;
        for (int j = count - 1; j > pos; --j) kept[j] = kept[j - 1];
        kept[pos] = x[i];
    }
    if (count == 0) return false;
    level = kept[count - 1];
    return true;
}

// Last sample at or above lvl before the first run of more than minRun
// samples below it, scanning s + 1..e; e when the run starts before any
// sample reaches lvl.
int lastHighBeforeGap(const double* x, int s, int e, double lvl, double minRun) {
    int lastHigh = e;
    int run = 0;
    for (int i = s + 1; i <= e; ++i) {
        if (x[i] < lvl) {
            if (++run > minRun) break;
        } else {
            lastHigh = i;
            run = 0;
        }
    }
    return lastHigh;
}

// Mean of the strict local maxima (or minima) among first..last, whose
// neighbours must exist. False when there is none.
bool meanOfExtrema(const double* x, int first, int last, bool maxima, double& mean) {
    return kw::detail::meanWhere(
        x, first, last, [&](int i) { return maxima ? isLocalMax(x, i) : isLocalMin(x, i); }, mean);
}

// True when every sample of first..last (clipped to the array) is >= level;
// true for an empty range.
bool allAtLeast(const double* x, int n, int first, int last, double level) {
    first = std::max(first, 0);
    last = std::min(last, n - 1);
    for (int i = first; i <= last; ++i)
        if (!(x[i] >= level)) return false;
    return true;
}

}  // namespace

void KwTrace::extendBoundaries(int& left, int& right, double threshold) const {
    // The walks stay inside the window clipped to the array; a boundary that
    // starts at or beyond the window edge, or outside the array, is kept.
    const int s = std::max(signalStartPnt, 0);
    const int e = std::min(signalEndPnt, numData - 1);
    if (left > s && left < numData) left = walkToValley(data, left, s, -1, threshold);
    if (right < e && right >= 0) right = walkToValley(data, right, e, +1, threshold);
}

int KwTrace::detectFirstEvent(int& a, int& b, double threshold, int direction) {
    if (a >= b) return 0;
    // Only the two scan directions exist, and a range that leaves the array
    // holds no event: both change nothing, like an empty range.
    if ((direction != 1 && direction != -1) || a < 0 || b >= numData) return 0;
    int from = direction > 0 ? a : b;
    int to = direction > 0 ? b : a;
    const int above = firstWhere(from, to, direction, [&](int i) { return data[i] > threshold; });
    if (above >= 0) from = above;
    const int below =
        firstWhere(from + direction, to, direction, [&](int i) { return data[i] < threshold; });
    if (below >= 0) to = below;
    a = direction > 0 ? from : to;
    b = direction > 0 ? to : from;
    extendBoundaries(a, b, kw::detail::kAnyValley);
    return 1;
}

void KwTrace::markTheEnds(double zone, int findStart) {
    if (!kw::detail::isSampleRange(*this, signalStartPnt, signalEndPnt)) return;
    const double minRun = sampleRate * 80.0;
    double noisePk = 0.0;
    const bool hasNoisePk = noisePeakLevel(data, signalStartPnt, signalEndPnt, noisePk);

    if (findStart != 0) {
        // Step over the primer peak and every early event that is followed
        // closely by another one; the start settles after an event when the
        // next two events lie within 2 x minRun of it.
        const int span = signalEndPnt - signalStartPnt;
        const int limit = signalStartPnt + kw::detail::truncToRange(span * zone, 0, span);
        const double thr = 0.25 * std::max(0.0, getMaxData(signalStartPnt, limit - 1));
        int a = signalStartPnt;
        int b = signalEndPnt;
        if (detectFirstEvent(a, b, thr, +1) != 0) {
            for (;;) {
                signalStartPnt = b;
                if (b >= limit) break;
                const double thr2 = 0.25 * getMaxData(b, limit - 1);
                for (int pass = 0; pass < 2; ++pass) {
                    a = b + 1;
                    b = signalEndPnt;
                    if (detectFirstEvent(a, b, thr2, +1) == 0) break;
                }
                if (b - signalStartPnt < 2.0 * minRun) break;
                a = signalStartPnt;
                if (detectFirstEvent(a, b, thr2, +1) == 0) break;
            }
        }
    }

    // Without a noise-peak level (a window of fewer than 20 samples or one
    // without a local maximum) nothing tells the noise tail from signal: the
    // end of the window stays where it is.
    if (!hasNoisePk) return;
    const double lvl = 2.5 * noisePk;
    int a = signalStartPnt;
    int b = lastHighBeforeGap(data, signalStartPnt, signalEndPnt, lvl, minRun);
    if (detectFirstEvent(a, b, lvl, -1) == 1) signalEndPnt = a;
}

void KwTrace::zeroDataAtEnds() {
    const int s = std::min(std::max(signalStartPnt, 0), numData);
    const int e = std::min(std::max(signalEndPnt, -1), numData - 1);
    std::fill(data, data + s, 0.0);
    std::fill(data + e + 1, data + numData, 0.0);
}

void KwTrace::findPlateauRegion(int& left, int& right) const {
    left = signalStartPnt;
    right = signalEndPnt;
    if (!kw::detail::isSampleRange(*this, signalStartPnt, signalEndPnt)) return;
    const int n = right - left;
    if (n < 10) return;
    const int p1 = signalStartPnt + static_cast<int>(n * kPlateauFrom);
    const int p2 = signalStartPnt + static_cast<int>(n * kPlateauTo);
    double m = 0.0;
    if (!meanOfExtrema(data, p1, p2, false, m)) return;
    const double lowT = kPlateauValleyShare * m;
    const double highT = kPlateauCeilingRatio * m;
    const int w = kw::detail::truncToRange(kSustainedRiseSeconds * sampleRate, 0, numData);

    int excursions = 0;
    for (int i = signalStartPnt; i < p1; ++i) {
        if (i > signalStartPnt && data[i] > lowT && isLocalMin(data, i)) break;
        if (data[i] <= highT) {
            left = i;
            continue;
        }
        if (allAtLeast(data, numData, i + 1, i + w - 1, highT)) break;
        if (++excursions > 10) break;
    }
    excursions = 0;
    for (int i = signalEndPnt; i > p2; --i) {
        if (i < signalEndPnt && data[i] > lowT && isLocalMin(data, i)) break;
        if (data[i] <= highT) {
            right = i;
            continue;
        }
        if (allAtLeast(data, numData, i - w + 1, i - 1, highT)) break;
        if (++excursions > 10) break;
    }
}

namespace {

// Index k (0..nb-2) of the first largest rise between consecutive blocks.
int steepestRise(const std::vector<double>& sums) {
    int best = 0;
    for (int k = 1; k + 1 < static_cast<int>(sums.size()); ++k)
        if (sums[k + 1] - sums[k] > sums[best + 1] - sums[best]) best = k;
    return best;
}

// Index j >= from of the steepest fall that is steeper than the rise at kUp;
// 0 when none is.
int steepestFall(const std::vector<double>& sums, int kUp, long long from) {
    double d = sums[kUp + 1] - sums[kUp];
    int kDown = 0;
    const int last = static_cast<int>(sums.size()) - 2;
    for (long long j = std::max(from, 0LL); j <= last; ++j) {
        const double diff = sums[j + 1] - sums[j];
        if (diff < d) {
            d = diff;
            kDown = static_cast<int>(j);
        }
    }
    return kDown;
}

}  // namespace

int KwTrace::detectBigTail(int first, int last, int minWidth, int blockSize, double ratio,
                           int& left, int& right) const {
    // The range is clipped to the samples; blocks must hold at least one.
    first = std::max(first, 0);
    last = std::min(last, numData - 1);
    if (blockSize < 1 || first > last) return 0;
    const int nb = (last - first + 1) / blockSize;
    if (nb < 10) return 0;
    std::vector<double> sums(nb, 0.0);
    for (int k = 0; k < nb; ++k)
        for (int i = first + k * blockSize; i < first + (k + 1) * blockSize; ++i)
            sums[k] += data[i];
    const int kUp = steepestRise(sums);
    const int kDown = steepestFall(sums, kUp, static_cast<long long>(minWidth / blockSize) + kUp);
    if (kUp >= kDown) return 0;
    double before = 0.0;
    if (!meanOfExtrema(data, first + 1, first + (kUp - 1) * blockSize - 1, true, before)) return 0;
    left = first + (kUp + 2) * blockSize;
    right = first + (kDown - 2) * blockSize;
    if (left >= right) return 0;
    double raised = 0.0;
    if (!meanOfExtrema(data, left, right, false, raised)) return 0;
    if (raised < ratio * before) return 0;
    const double t = std::max(ratio * before, kTailEdgeShare * raised);
    while (left > first && data[left] > t) --left;
    while (right < last && data[right] > t) ++right;
    return right - left + 1 >= minWidth ? 1 : 0;
}
