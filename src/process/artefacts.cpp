// Electrical spikes and dropouts, found by their shape or by striking every
// channel at once, and bridged before anything is measured.
#include <algorithm>
#include <cmath>

#include "process/road.h"

namespace kw {
namespace detail {
namespace {

// A spike or a dropout stands this many noise deviations off its
// surroundings.
constexpr double kArtefactJump = 15.0;

// Either kind stands at least that far (jump, in signal units) off the
// sample two before it: a test rarely passed, and so cheap to ask first.
bool jumpsFromTwoBefore(const double* x, int i, double jump) {
    return std::fabs(x[i] - x[i - 2]) >= jump;
}

// Electrical spikes and dropouts: one to three samples far off their
// neighbours. Two samples away from its top a peak at least two samples
// wide (standard deviation) has lost at most about 40 % of its height; a
// spike or a dropout has lost nearly all of it there. Only an extreme that
// stands kArtefactJump noise deviations off its surroundings is taken for
// one.
bool isNarrowArtefact(const double* x, int i, double noise) {
    if (!jumpsFromTwoBefore(x, i, kArtefactJump * noise)) return false;
    const bool top = x[i] >= x[i - 1] && x[i] >= x[i + 1];
    const bool bottom = x[i] <= x[i - 1] && x[i] <= x[i + 1];
    if (!top && !bottom) return false;
    const double drop =
        top ? x[i] - std::max(x[i - 2], x[i + 2]) : std::min(x[i - 2], x[i + 2]) - x[i];
    if (!(drop >= kArtefactJump * noise)) return false;
    const auto around = std::minmax_element(x + i - 3, x + i + 4);
    const double size = top ? x[i] - *around.first : *around.second - x[i];
    return drop >= 0.6 * size;
}

// Each artefact is bridged by a parabola.
void bridge(KwTrace& tr, int i) {
    const double* x = tr.getData();
    tr.replaceWithParabola(i - 3, i + 3, std::min(x[i - 3], x[i + 3]));
}

// Almost no sample jumps from the one two before it, so stretches of
// kSkipStretch samples of which none does are stepped over with one
// comparison of each, free of branches; the samples of any other stretch
// are asked one by one, on the data as the bridges before them left it.
void removeNarrowArtefacts(KwTrace& tr, double noise) {
    constexpr int kSkipStretch = 8;
    const int n = tr.getNumData();
    const double* x = tr.getData();
    const double jump = kArtefactJump * noise;
    for (int i = 3; i + 3 < n;) {
        if (i + kSkipStretch + 2 < n) {
            bool any = false;
            for (int u = 0; u < kSkipStretch; ++u) any |= jumpsFromTwoBefore(x, i + u, jump);
            if (!any) {
                i += kSkipStretch;
                continue;
            }
        }
        if (isNarrowArtefact(x, i, noise)) {
            bridge(tr, i);
            i += 4;
        } else {
            ++i;
        }
    }
}

// Where the bases themselves are only a few samples wide, shape alone cannot
// tell an artefact from a base, but an electrical spike or a bubble strikes
// every channel of the detector at once, while a base shows in its own dye's
// channel and in those its spectrum leaks into.
void removeCommonArtefacts(KwCap& cap, const std::vector<double>& noise) {
    const int n = cap.getNumData();
    auto inChannel = [&](int t, int i) {
        const double* x = cap.getPnterToTrace(t)->getData();
        for (int k = std::max(3, i - 1); k <= std::min(n - 4, i + 1); ++k)
            if (isNarrowArtefact(x, k, noise[t])) return true;
        return false;
    };
    for (int i = 3; i + 3 < n; ++i) {
        bool everywhere = true;
        for (int t = 0; t < cap.getNumTraces() && everywhere; ++t) everywhere = inChannel(t, i);
        if (!everywhere) continue;
        for (int t = 0; t < cap.getNumTraces(); ++t) bridge(*cap.getPnterToTrace(t), i);
        i += 3;
    }
}

}  // namespace

// On a run sampled more sparsely than kMinSpikeFreeSpacing samples per
// base, shape alone would take narrow bases for spikes: only artefacts seen
// in every channel at once are removed there (a lone trace has nothing to
// compare with, and shape decides). The rough spacing measured
// here, before any sample has changed, also sizes the window's search.
void Road::despike() {
    for (int t = 0; t < numTraces(); ++t)
        channelNoise.push_back(noiseSigma(cap->getPnterToTrace(t)->getData(), 0, run.numData - 1));
    const int n = run.numData;
    roughSpacing =
        medianSpacing(clearPeaks(view(), 0, n - 1, channelNoise, search(false, 1.0)), 0, n - 1);
    if (roughSpacing > 0.0 && roughSpacing < kMinSpikeFreeSpacing && numTraces() > 1) {
        removeCommonArtefacts(*cap, channelNoise);
        return;
    }
    for (int t = 0; t < numTraces(); ++t) removeNarrowArtefacts(traceOf(*cap, t), channelNoise[t]);
}

}  // namespace detail
}  // namespace kw
