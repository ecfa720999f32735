// Channel dominance: which dye channel leads at a sample, the typical ratio
// between two channels, and the order in which dyes are measured.
#include <algorithm>
#include <cmath>
#include <vector>

#include "common/sample_range.h"
#include "kwsignal/capillary.h"

int KwCap::getDominantTraceCode(int pnt) const {
    int best = 0;
    double bestValue = traces[0][pnt];
    for (int k = 1; k < numTraces; ++k) {
        if (traces[k][pnt] > bestValue) {
            best = k;
            bestValue = traces[k][pnt];
        }
    }
    return best;
}

int KwCap::getSecondDominantChnl(int pnt, int dominant, double threshold) const {
    int best = -1;
    double bestValue = 0.0;
    for (int k = 0; k < numTraces; ++k) {
        if (k == dominant) continue;
        const double v = traces[k][pnt];
        if (v > threshold && v > bestValue) {
            best = k;
            bestValue = v;
        }
    }
    return best;
}

double KwCap::minIntensity(int pnt) const {
    double lowest = traces[0][pnt];
    for (int k = 1; k < numTraces; ++k)
        if (traces[k][pnt] < lowest) lowest = traces[k][pnt];
    return lowest;
}

double KwCap::mostProbableRatioOf(int chnl, int refChnl, double ratioLimit) const {
    if (chnl == refChnl) return 1.0;
    // A window outside the samples is the caller's mistake: no sample is
    // read or changed, and nothing is measured or picked.
    if (!kwsample::isSampleRange(*this, signalStartPnt, signalEndPnt)) return 0.0;
    const KwTrace& ref = traces[refChnl];
    const KwTrace& num = traces[chnl];
    double peak = 0.0;
    for (int i = signalStartPnt; i <= signalEndPnt; ++i)
        if (ref[i] > peak) peak = ref[i];
    if (peak <= 0.0) return 0.0;

    KwdbAry ratios(signalEndPnt - signalStartPnt + 1);
    int count = 0;
    double minRatio = 1.0;
    for (int i = signalStartPnt; i <= signalEndPnt; ++i) {
        if (!(ref[i] > 0.2 * peak)) continue;
        const double r = num[i] / ref[i];
        if (r < ratioLimit) {
            ratios[count++] = r;
            if (r < minRatio) minRatio = r;
        }
    }
    if (count == 0) return 0.0;

    const KwdbAry collected(count, &ratios[0]);
    double binWidth = (1.0 - minRatio) / count;
    if (!(binWidth > 0.02)) binWidth = 0.02;
    const double mode = collected.mostProbableValue(binWidth);
    return mode < 0.0 ? 0.0 : mode;
}

namespace {

// Channels still free (flag 0) and the highest free trace code.
int countFree(const int* chosen, int n, int& highestFree) {
    int numFree = 0;
    highestFree = -1;
    for (int k = 0; k < n; ++k) {
        if (chosen[k] == 0) {
            ++numFree;
            highestFree = k;
        }
    }
    return numFree;
}

// Brings every sample vector first..last of the n traces to unit length. A
// vector without a finite positive length has no direction and is left as
// it is.
void toUnitVectors(KwTrace* traces, int n, int first, int last) {
    for (int i = first; i <= last; ++i) {
        double sq = 0.0;
        for (int k = 0; k < n; ++k) sq += traces[k][i] * traces[k][i];
        const double len = std::sqrt(sq);
        if (!(len > 0.0) || !std::isfinite(len)) continue;
        for (int k = 0; k < n; ++k) traces[k][i] /= len;
    }
}

// Squared distance between the mean of the window's sample vectors led by
// channel d and the unit direction u; 1.0 or more when d leads no sample.
double offsetScore(const KwCap& cap, int d, const std::vector<double>& u) {
    const int n = cap.getNumTraces();
    std::vector<double> D(n, 0.0);
    // The count is squared in double: an int squares it wrongly beyond
    // 46,340 samples.
    double m = 0.0;
    for (int i = cap.getSignalStartPnt(); i <= cap.getSignalEndPnt(); ++i) {
        if (cap.getDominantTraceCode(i) != d) continue;
        for (int k = 0; k < n; ++k) D[k] += cap(k, i) - u[k];
        m += 1.0;
    }
    if (m == 0.0) return 1.0;
    double sumSq = 0.0;
    for (int k = 0; k < n; ++k) sumSq += D[k] * D[k];
    return sumSq / (m * m);
}

}  // namespace

int KwCap::getMostStrikingChnl(int* chosen) const {
    const int n = numTraces;
    int highestFree = -1;
    const int numFree = countFree(chosen, n, highestFree);
    if (numFree < 3) {
        if (numFree > 0) chosen[highestFree] = 1;
        return numFree > 0 ? highestFree : -1;
    }
    if (!kwsample::isSampleRange(*this, signalStartPnt, signalEndPnt)) return -1;
    // The analysis works on directions, written back into the capillary's
    // own samples through its trace array.
    toUnitVectors(traces, n, signalStartPnt, signalEndPnt);

    // A partner must come second in a quarter of the window's samples per
    // channel; nudged up, so a partner at exactly a quarter is still too rare.
    constexpr double kMinPartnerShare = 0.250000001;
    const double minPartnerCount = ((signalEndPnt - signalStartPnt + 1) * kMinPartnerShare) / n;
    std::vector<double> sums(static_cast<size_t>(n) * n);
    std::vector<int> counts(n);
    std::vector<double> u(n);
    int best = -1;
    double bestScore = 1.0;
    for (int d = 0; d < n; ++d) {
        if (chosen[d] != 0) continue;
        // Per partner channel s: how often it comes second where d leads,
        // and the sum of those sample vectors (row s of sums).
        std::fill(sums.begin(), sums.end(), 0.0);
        std::fill(counts.begin(), counts.end(), 0);
        for (int i = signalStartPnt; i <= signalEndPnt; ++i) {
            if (getDominantTraceCode(i) != d) continue;
            const int s = getSecondDominantChnl(i, d, 0.0);
            if (s < 0) continue;
            ++counts[s];
            for (int k = 0; k < n; ++k) sums[s * n + k] += traces[k][i];
        }
        int partner = 0;
        for (int s = 1; s < n; ++s)
            if (counts[s] > counts[partner]) partner = s;
        if (counts[partner] < minPartnerCount) continue;

        const double* dir = &sums[partner * n];
        double sq = 0.0;
        for (int k = 0; k < n; ++k) sq += dir[k] * dir[k];
        const double len = std::sqrt(sq);
        if (!(len > 0.0)) continue;
        for (int k = 0; k < n; ++k) u[k] = dir[k] / len;

        const double score = offsetScore(*this, d, u);
        if (score < bestScore) {
            bestScore = score;
            best = d;
        }
    }
    if (best >= 0) chosen[best] = 1;
    return best;
}
