// Cross-talk measurement: how strongly each dye shows in the other
// channels, measured plainly over the dominated samples or robustly on the
// strong samples one dye at a time.
#include <algorithm>
#include <cmath>
#include <vector>

#include "common/dominance.h"
#include "common/sample_index.h"
#include "common/sample_range.h"
#include "kwsignal/capillary.h"
#include "kwsignal/separation.h"

KwCrossTalkTable::KwCrossTalkTable() : KwdbMatrix(0, 3, 0, 3) {}

KwCrossTalkTable::KwCrossTalkTable(int n) : KwdbMatrix(0, n - 1, 0, n - 1) {}

KwCrossTalkTable::KwCrossTalkTable(const KwCrossTalkTable& t) = default;

KwCrossTalkTable& KwCrossTalkTable::operator=(double v) {
    KwdbMatrix::operator=(v);
    return *this;
}

KwCrossTalkTable& KwCrossTalkTable::operator=(const KwCrossTalkTable& t) {
    KwdbMatrix::operator=(t);
    return *this;
}

int KwCrossTalkTable::measureFrom(const KwCap& cap) {
    const int n = cap.getNumTraces();
    const int start = cap.getSignalStartPnt();
    const int end = cap.getSignalEndPnt();
    if (n < 1) return 1;
    // Without samples no channel can dominate one. A window outside the
    // samples is the caller's mistake: nothing is read, and nothing measured.
    if (!kw::detail::isSampleRange(cap, start, end)) return 0;
    const int L = end - start + 1;

    KwCap work(n, L);
    work.setSignalStartPnt(0);
    work.setSignalEndPnt(L - 1);
    std::vector<int> seen(n);
    for (int d = 0; d < n; ++d) {
        std::fill(seen.begin(), seen.end(), 0);
        work = 0.0;
        for (int i = start; i <= end; ++i) {
            const int t = kw::detail::dominantChannel(cap, i);
            seen[t] = 1;
            if (t != d) continue;
            for (int k = 0; k < n; ++k) work.setValue(k, i - start, cap(k, i));
        }
        for (int k = 0; k < n; ++k)
            if (seen[k] == 0) return 0;
        for (int k = 0; k < n; ++k) (*this)(k, d) = work.mostProbableRatioOf(k, d, 0.95);
    }
    return 1;
}

namespace {

// The later half of the window starts this share of its span before its end:
// a hair over half as tuned, which below 5e8 samples truncates as half does.
constexpr double kLaterHalf = 0.500000001;

// Tall maxima lie above 1.3 times the mean of all maxima; nudged up, so a
// maximum exactly at 1.3 times is not tall.
constexpr double kTallRatio = 1.3000001;

// A sample is strong in a channel above half the mean tall maximum; nudged
// up, so a sample exactly at half is not strong.
constexpr double kStrongShare = 0.500000001;

// Per channel, half the mean height of its tall peaks in the later half of
// the window, tall meaning above 1.3 times the mean of all its maxima there.
// The mean takes the strict local maxima strictly inside the later half; the
// tall ones may also sit on its two ends. A maximum needs both neighbours,
// so a sample at either end of the array is never one. The maxima are
// listed once; both means are taken over the list. False when a channel has
// no maximum or no tall one.
bool peakThresholds(const KwCap& cap, std::vector<double>& thresholds) {
    const int start = cap.getSignalStartPnt();
    const int end = cap.getSignalEndPnt();
    const int half = end - static_cast<int>((end - start) * kLaterHalf);
    const int first = std::max(half, 1), last = std::min(end, cap.getNumData() - 2);
    std::vector<int> maxima(std::max(0, last - first + 1));
    const auto inside = [half, end](int i) { return (i > half) & (i < end); };
    for (int k = 0; k < cap.getNumTraces(); ++k) {
        const double* x = cap.getPnterToTrace(k)->getData();
        const int count = kw::detail::strictMaxima(x, first, last, maxima.data());
        double mean = 0.0, tall = 0.0;
        if (!kw::detail::meanOfListed(x, maxima.data(), count, inside, mean)) return false;
        const double above = kTallRatio * mean;
        const auto isTall = [x, above](int i) { return x[i] > above; };
        if (!kw::detail::meanOfListed(x, maxima.data(), count, isTall, tall)) return false;
        thresholds[k] = kStrongShare * tall;
    }
    return true;
}

// The traces' sample arrays, written channel by channel at each sample.
std::vector<double*> writableRows(KwCap& cap) {
    std::vector<double*> r;
    for (int k = 0; k < cap.getNumTraces(); ++k) r.push_back(&(*cap.getPnterToTrace(k))[0]);
    return r;
}

// Copies, packed in window order, the unit-length sample vectors of cap
// that rise above the threshold in some channel into `strong`. Returns how
// many were kept. A vector without a finite positive length has no
// direction to keep and is dropped.
int keepStrongSamples(const KwCap& cap, const std::vector<double>& thresholds, KwCap& strong) {
    const int n = cap.getNumTraces();
    const std::vector<const double*> from = kw::detail::sampleRows(cap);
    const std::vector<double*> to = writableRows(strong);
    int m = 0;
    for (int i = cap.getSignalStartPnt(); i <= cap.getSignalEndPnt(); ++i) {
        bool strongHere = false;
        double sq = 0.0;
        for (int k = 0; k < n; ++k) {
            const double v = from[k][i];
            strongHere = strongHere || v > thresholds[k];
            sq += v * v;
        }
        const double len = std::sqrt(sq);
        if (!strongHere || !(len > 0.0) || !std::isfinite(len)) continue;
        const double scale = 1.0 / len;
        for (int k = 0; k < n; ++k) to[k][m] = from[k][i] * scale;
        ++m;
    }
    return m;
}

// Moves the samples of `strong` led by dye d into `dye` (packed, window
// 0..count-1) and, unless `keep`, gives them to dye d entirely by zeroing
// their other channels in `strong`. Returns how many there were. Only the
// window of `dye` is read afterwards, so what lies beyond it is left as it
// was rather than cleared.
int takeDyeSamples(KwCap& strong, int numKept, int d, bool keep, KwCap& dye) {
    const int n = strong.getNumTraces();
    const std::vector<double*> from = writableRows(strong);
    const std::vector<double*> to = writableRows(dye);
    int p = 0;
    for (int j = 0; j < numKept; ++j) {
        if (kw::detail::dominantChannel(from, j) != d) continue;
        for (int k = 0; k < n; ++k) {
            to[k][p] = from[k][j];
            if (!keep && k != d) from[k][j] = 0.0;
        }
        ++p;
    }
    dye.setSignalEndPnt(p - 1);
    return p;
}

// Largest |element (r, q) / element (r, r)| off the diagonal.
double largestOffDiagonalRatio(const KwdbMatrix& table, int n) {
    double result = 0.0;
    for (int r = 0; r < n; ++r)
        for (int q = 0; q < n; ++q) {
            if (q == r) continue;
            const double v = std::fabs(table(r, q) / table(r, r));
            if (v > result) result = v;
        }
    return result;
}

}  // namespace

double KwCrossTalkTable::measureFrom1(const KwCap& cap) {
    const int n = cap.getNumTraces();
    // A capillary without traces has no cross-talk to measure.
    if (n < 1 || !kw::detail::isSampleRange(cap, cap.getSignalStartPnt(), cap.getSignalEndPnt()))
        return -1.0;
    const int L = cap.getSignalEndPnt() - cap.getSignalStartPnt() + 1;
    if (L < 100) return -1.0;
    std::vector<double> thresholds(n);
    if (!peakThresholds(cap, thresholds)) return -1.0;

    KwCap strong(n, L);
    const int m = keepStrongSamples(cap, thresholds, strong);
    if (m == 0) return -1.0;  // no dye could be found among no samples
    strong.setSignalEndPnt(m - 1);
    std::vector<double> scale(n), factor(n);
    strong.normalizeL1(scale.data());

    std::vector<int> chosen(n, 0);
    KwCap dye(n, m);
    for (int step = 0; step < n; ++step) {
        const int d = strong.getMostStrikingChnl(chosen.data());
        if (d < 0) return -1.0;
        const bool last = step == n - 1;
        if (takeDyeSamples(strong, m, d, last, dye) == 0) return -1.0;
        for (int k = 0; k < n; ++k) {
            const double ratio = dye.mostProbableRatioOf(k, d, 0.95);
            (*this)(k, d) = k == d ? ratio : ratio * scale[k] / scale[d];
        }
        if (last) break;
        strong.normalizeL1(factor.data());
        for (int k = 0; k < n; ++k) scale[k] *= factor[k];
    }
    return largestOffDiagonalRatio(*this, n);
}
