// Channel dominance: which dye channel leads at a sample, the typical ratio
// between two channels, and the order in which dyes are measured.
#include "common/dominance.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <vector>

#include "common/extremes.h"
#include "common/sample_range.h"
#include "common/wide_vectors.h"
#include "kwsignal/capillary.h"

int KwCap::getDominantTraceCode(int pnt) const {
    return kw::detail::dominantChannel(*this, pnt);
}

int KwCap::getSecondDominantChnl(int pnt, int dominant, double threshold) const {
    return kw::detail::secondChannel(*this, pnt, dominant, threshold);
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
    if (!kw::detail::isSampleRange(*this, signalStartPnt, signalEndPnt)) return 0.0;
    const KwTrace& ref = traces[refChnl];
    const KwTrace& num = traces[chnl];
    const double peak = kw::detail::extremeFrom<true>(ref.getData() + signalStartPnt,
                                                      signalEndPnt - signalStartPnt + 1, 0.0);
    if (peak <= 0.0) return 0.0;

    // Room for every sample, not zeroed: only the ratios written are read.
    const std::unique_ptr<double[]> ratios(new double[signalEndPnt - signalStartPnt + 1]);
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

    const KwdbAry collected(count, ratios.get());
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
// it is (divided by 1). The squares are summed in trace order, one channel at
// a time over all the samples, so that the loops vectorise; each vector is
// divided once, into the reciprocal of its length that scales its channels.
KW_WIDE_VECTORS void toUnitVectors(KwTrace* traces, int n, int first, int last) {
    std::vector<double> scale(last - first + 1, 0.0);
    const int len = static_cast<int>(scale.size());
    for (int k = 0; k < n; ++k) {
        const double* x = &traces[k][first];
        for (int i = 0; i < len; ++i) scale[i] += x[i] * x[i];
    }
    for (double& s : scale) {
        const double l = std::sqrt(s);
        s = !(l > 0.0) || !std::isfinite(l) ? 1.0 : 1.0 / l;
    }
    for (int k = 0; k < n; ++k) {
        double* x = &traces[k][first];
        for (int i = 0; i < len; ++i) x[i] *= scale[i];
    }
}

// What the window tells about every free channel d, gathered in one pass
// over its samples: the channel leading each sample, and per partner s (the
// channel second where d leads) how often it comes second and the sum of
// those sample vectors.
struct PartnerTally {
    PartnerTally(const KwCap& cap, const int* chosen);
    int count(int d, int s) const { return counts[d * n + s]; }
    const double* sum(int d, int s) const { return &sums[(d * n + s) * n]; }

    int n;
    std::vector<int> leader;   ///< per sample of the window
    std::vector<int> counts;   ///< [d * n + s]
    std::vector<double> sums;  ///< [(d * n + s) * n + k]
};

PartnerTally::PartnerTally(const KwCap& cap, const int* chosen)
    : n(cap.getNumTraces()),
      leader(cap.getSignalEndPnt() - cap.getSignalStartPnt() + 1),
      counts(static_cast<std::size_t>(n) * n, 0),
      sums(static_cast<std::size_t>(n) * n * n, 0.0) {
    const int first = cap.getSignalStartPnt();
    const std::vector<const double*> rows = kw::detail::sampleRows(cap);
    for (int i = first; i <= cap.getSignalEndPnt(); ++i) {
        const int d = kw::detail::dominantChannel(rows, i);
        leader[i - first] = d;
        if (chosen[d] != 0) continue;
        const int s = kw::detail::secondChannel(rows, i, d, 0.0);
        if (s < 0) continue;
        ++counts[d * n + s];
        double* partnerSum = &sums[(d * n + s) * n];
        for (int k = 0; k < n; ++k) partnerSum[k] += rows[k][i];
    }
}

// The direction of free channel d's best partner (the most frequent, ties to
// the lowest trace code) at unit length in u; false when that partner comes
// second too rarely or its direction has no length.
bool partnerDirection(const PartnerTally& tally, int d, double minCount, double* u) {
    const int n = tally.n;
    int partner = 0;
    for (int s = 1; s < n; ++s)
        if (tally.count(d, s) > tally.count(d, partner)) partner = s;
    if (tally.count(d, partner) < minCount) return false;
    const double* dir = tally.sum(d, partner);
    double sq = 0.0;
    for (int k = 0; k < n; ++k) sq += dir[k] * dir[k];
    const double len = std::sqrt(sq);
    if (!(len > 0.0)) return false;
    for (int k = 0; k < n; ++k) u[k] = dir[k] / len;
    return true;
}

// Per candidate channel d (u[d * n ...] its direction): the squared distance
// between the mean of the window's sample vectors led by d and u_d, 1.0 or
// more when d leads no sample.
std::vector<double> offsetScores(const KwCap& cap, const PartnerTally& tally,
                                 const std::vector<char>& candidate, const std::vector<double>& u) {
    const int n = tally.n;
    std::vector<double> D(static_cast<std::size_t>(n) * n, 0.0);
    // The counts are squared in double: an int squares them wrongly beyond
    // 46,340 samples.
    std::vector<double> m(n, 0.0);
    const int first = cap.getSignalStartPnt();
    const std::vector<const double*> rows = kw::detail::sampleRows(cap);
    for (int i = first; i <= cap.getSignalEndPnt(); ++i) {
        const int d = tally.leader[i - first];
        if (candidate[d] == 0) continue;
        for (int k = 0; k < n; ++k) D[d * n + k] += rows[k][i] - u[d * n + k];
        m[d] += 1.0;
    }
    std::vector<double> score(n, 1.0);
    for (int d = 0; d < n; ++d) {
        if (candidate[d] == 0 || m[d] == 0.0) continue;
        double sumSq = 0.0;
        for (int k = 0; k < n; ++k) sumSq += D[d * n + k] * D[d * n + k];
        score[d] = sumSq / (m[d] * m[d]);
    }
    return score;
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
    if (!kw::detail::isSampleRange(*this, signalStartPnt, signalEndPnt)) return -1;
    // The analysis works on directions, written back into the capillary's
    // own samples through its trace array.
    toUnitVectors(traces, n, signalStartPnt, signalEndPnt);

    // A partner must come second in a quarter of the window's samples per
    // channel; nudged up, so a partner at exactly a quarter is still too rare.
    constexpr double kMinPartnerShare = 0.250000001;
    const double minPartnerCount = ((signalEndPnt - signalStartPnt + 1) * kMinPartnerShare) / n;
    const PartnerTally tally(*this, chosen);
    std::vector<char> candidate(n, 0);
    std::vector<double> u(static_cast<std::size_t>(n) * n);
    for (int d = 0; d < n; ++d)
        candidate[d] = chosen[d] == 0 && partnerDirection(tally, d, minPartnerCount, &u[d * n]);
    const std::vector<double> score = offsetScores(*this, tally, candidate, u);
    int best = -1;
    double bestScore = 1.0;
    for (int d = 0; d < n; ++d) {
        if (candidate[d] != 0 && score[d] < bestScore) {
            bestScore = score[d];
            best = d;
        }
    }
    if (best >= 0) chosen[best] = 1;
    return best;
}
