// Scoring a processing of a simulated run against the run's truth.
#include <algorithm>
#include <cmath>

#include "common/quantile.h"
#include "kwsignal/simulate.h"

namespace kw {
namespace {

// Half the distance between the neighbours of each true base.
std::vector<double> localSpacing(const std::vector<SimulatedPeak>& peaks, double fallback) {
    const size_t n = peaks.size();
    std::vector<double> s(n, fallback);
    for (size_t k = 0; k < n; ++k) {
        const size_t a = k > 0 ? k - 1 : k, b = k + 1 < n ? k + 1 : k;
        if (b > a) s[k] = (peaks[b].centre - peaks[a].centre) / static_cast<double>(b - a);
    }
    return s;
}

double separationResidual(const std::vector<std::vector<double>>& m,
                          const std::vector<std::vector<double>>& mixing) {
    const size_t n = mixing.size();
    if (m.size() != n) return std::nan("");
    double worst = 0.0;
    for (size_t i = 0; i < n; ++i) {
        if (m[i].size() != n) return std::nan("");
        std::vector<double> row(n, 0.0);
        for (size_t j = 0; j < n; ++j)
            for (size_t k = 0; k < n; ++k) row[j] += m[i][k] * mixing[k][j];
        for (size_t j = 0; j < n; ++j)
            if (j != i) worst = std::max(worst, std::fabs(row[j] / row[i]));
    }
    return worst;
}

}  // namespace

Recovery assessRecovery(const SimulatedCapillary& sim, const std::vector<FoundPeak>& found,
                        const std::vector<std::vector<double>>& separation) {
    Recovery r;
    r.truePeaks = static_cast<int>(sim.peaks.size());
    r.foundPeaks = static_cast<int>(found.size());
    r.separationResidual = separationResidual(separation, sim.mixing);
    const std::vector<double> spacing = localSpacing(sim.peaks, sim.spacing);
    struct Pair {
        double distance;
        size_t truth, peak;
    };
    std::vector<Pair> pairs;
    for (size_t k = 0; k < sim.peaks.size(); ++k)
        for (size_t j = 0; j < found.size(); ++j) {
            const double d = std::fabs(found[j].locatn - sim.peaks[k].centre);
            if (found[j].channel == sim.peaks[k].channel && d <= 0.5 * spacing[k])
                pairs.push_back({d, k, j});
        }
    std::sort(pairs.begin(), pairs.end(),
              [](const Pair& a, const Pair& b) { return a.distance < b.distance; });
    std::vector<bool> truthUsed(sim.peaks.size()), peakUsed(found.size());
    std::vector<double> errors;
    for (const Pair& p : pairs) {
        if (truthUsed[p.truth] || peakUsed[p.peak]) continue;
        truthUsed[p.truth] = peakUsed[p.peak] = true;
        errors.push_back(p.distance);
    }
    r.matched = static_cast<int>(errors.size());
    r.recall = r.truePeaks > 0 ? static_cast<double>(r.matched) / r.truePeaks : 0.0;
    r.precision = r.foundPeaks > 0 ? static_cast<double>(r.matched) / r.foundPeaks : 0.0;
    r.medianError = detail::median(std::move(errors));
    return r;
}

}  // namespace kw
