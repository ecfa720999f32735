// The peaks reported: a dye's peak must hold its share of the strongest dye
// around it, and rise to a share of the normalised height.
#include <algorithm>
#include <cmath>

#include "common/quantile.h"
#include "common/wide_vectors.h"
#include "process/road.h"

namespace kw {
namespace detail {
namespace {

// Mean of the three samples around pos, clamped to the array.
double around(const std::vector<double>& x, int pos) {
    const int n = static_cast<int>(x.size());
    const int a = std::max(0, pos - 1), b = std::min(n - 1, pos + 1);
    double sum = 0.0;
    for (int i = a; i <= b; ++i) sum += x[i];
    return sum / (b - a + 1);
}

// strongest[s] becomes the larger of itself and around(x, s) / gain, for
// every sample; away from the ends the mean is written out, in the same
// order of sums, so that the loop vectorises.
KW_WIDE_VECTORS void raiseToScaled(std::vector<double>& strongest, const std::vector<double>& x,
                                   double gain) {
    const int n = static_cast<int>(std::min(strongest.size(), x.size()));
    double* top = strongest.data();
    const double* v = x.data();
    for (int s = 1; s + 1 < n; ++s)
        top[s] = std::max(top[s], (0.0 + v[s - 1] + v[s] + v[s + 1]) / 3 / gain);
    for (int s : {0, n - 1})
        if (s >= 0 && s < n) top[s] = std::max(top[s], around(x, s) / gain);
}

}  // namespace

// Each base carries one dye. Where a separation leaves a trace of one dye in
// another (over- or under-correction, worst where two dyes' spectra nearly
// coincide), the sharpening and the per-channel normalisation can lift it to
// a full-height peak of its own. Compared on the separated channels, each
// scaled by the upper quartile of its own peaks (dyes differ in
// brightness), such a peak is a small share of the strongest dye around it
// and is dropped. A channel whose peaks have no positive scale is left as it
// is and does not take part.
void Road::dropMinorDyes() {
    const int nt = numTraces();
    if (nt < 2 || static_cast<int>(separated.size()) != nt) return;  // not separated
    std::vector<double> gain(nt, 0.0);
    for (int t = 0; t < nt; ++t) {
        std::vector<double> v;
        for (const KwPeak& p : out.peaks) {
            const long pos = std::lround(p.getLocatn());
            if (p.getTraceCode() != t || pos < 0 || pos >= static_cast<long>(separated[t].size()))
                continue;
            const double y = around(separated[t], static_cast<int>(pos));
            if (std::isfinite(y)) v.push_back(y);  // NaN would break the ordering
        }
        if (v.empty()) continue;
        gain[t] = quantile(std::move(v), 0.75);
    }
    // The strongest scaled dye at every sample.
    const int n = cap->getNumData();
    std::vector<double> strongest(n, 0.0);
    for (int d = 0; d < nt; ++d)
        if (gain[d] > 0.0) raiseToScaled(strongest, separated[d], gain[d]);
    // The comparison stays local even where a damaged run measures an
    // absurd spacing: no instrument spaces its bases 100 samples apart.
    constexpr int kMaxReach = 100;
    auto share = [&](const KwPeak& p) {
        const long pos = std::lround(p.getLocatn());
        const int t = p.getTraceCode();
        if (!(gain[t] > 0.0) || pos < 0 || pos >= n) return 1.0;
        const int reach = std::min(kMaxReach, std::max(1, static_cast<int>(spacingAt(pos))));
        const auto from = strongest.begin() + std::max(0L, pos - reach);
        const auto to = strongest.begin() + std::min<long>(n, pos + reach + 1);
        const double top = *std::max_element(from, to);
        const double own = around(separated[t], static_cast<int>(pos)) / gain[t];
        return top > 0.0 ? own / top : 1.0;
    };
    out.peaks.erase(std::remove_if(out.peaks.begin(), out.peaks.end(),
                                   [&](const KwPeak& p) { return !(share(p) >= kMinDyeShare); }),
                    out.peaks.end());
}

void Road::select() {
    dropMinorDyes();
    const double minHeight = kMinRelativeHeight * target;
    out.minPeakHeight = minHeight;
    out.peaks.erase(
        std::remove_if(out.peaks.begin(), out.peaks.end(),
                       [&](const KwPeak& p) {
                           return !(p.getHeight() >= minHeight && std::isfinite(p.getHeight()) &&
                                    std::isfinite(p.getLocatn()) && std::isfinite(p.getSigma()));
                       }),
        out.peaks.end());
    std::sort(out.peaks.begin(), out.peaks.end(),
              [](const KwPeak& a, const KwPeak& b) { return a.getLocatn() < b.getLocatn(); });
    for (const KwPeak& p : out.peaks) ++out.channels[p.getTraceCode()].peaks;
}

}  // namespace detail
}  // namespace kw
