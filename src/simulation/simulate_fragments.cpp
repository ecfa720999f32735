// Synthetic fragment-analysis runs: Gaussian peaks placed on a mobility
// curve that compresses longer fragments, a size standard in its own dye,
// light of every dye leaking into its spectral neighbours, an unextended
// primer peak that drives the detector off scale, baseline and noise.
#include <algorithm>
#include <cmath>

#include "kwsignal/simulate.h"
#include "simulation/random.h"

namespace kw {
namespace {

constexpr double kCeiling = 32767.0;  // largest count the detector reports
constexpr double kPrimerScan = 900.0;

void addGauss(std::vector<double>& y, double centre, double height, double sigma) {
    const int n = static_cast<int>(y.size());
    const int lo = std::max(0, static_cast<int>(centre - 6.0 * sigma));
    const int hi = std::min(n - 1, static_cast<int>(centre + 6.0 * sigma) + 1);
    for (int i = lo; i <= hi; ++i) {
        const double z = (i - centre) / sigma;
        y[i] += height * std::exp(-0.5 * z * z);
    }
}

// Peaks widen as fragments grow.
double sigmaAt(double bp) {
    return 2.2 + 0.003 * bp;
}

FragmentSimulationOptions clamped(FragmentSimulationOptions o) {
    auto clamp = [](double v, double lo, double hi) {
        return std::isfinite(v) ? std::min(hi, std::max(lo, v)) : lo;
    };
    o.dyes = std::min(8, std::max(2, o.dyes));
    if (o.standardDye < 0 || o.standardDye >= o.dyes) o.standardDye = std::min(4, o.dyes - 1);
    o.samplePeaks = std::min(200, std::max(0, o.samplePeaks));
    o.pullup = clamp(o.pullup, 0.0, 0.5);
    o.noise = clamp(o.noise, 0.0, 20.0);
    o.stopBp = clamp(o.stopBp, 0.0, 1500.0);
    o.standardHeight = clamp(o.standardHeight, 20.0, 30000.0);
    o.mobility = clamp(o.mobility, 0.3, 2.0);
    return o;
}

}  // namespace

SimulatedFragmentRun simulateFragmentRun(const FragmentSimulationOptions& options) {
    const FragmentSimulationOptions o = clamped(options);
    SimulationRandom rnd(o.seed);
    SimulatedFragmentRun run;
    run.rate = 4.0;
    run.mobility = o.mobility;
    const double lastBp =
        o.stopBp > 0.0 ? o.stopBp : (o.standardBp.empty() ? 500.0 : o.standardBp.back());
    const int n = static_cast<int>(run.scanOf(lastBp + 10.0)) + 200;
    std::vector<std::vector<double>> pure(static_cast<std::size_t>(o.dyes),
                                          std::vector<double>(static_cast<std::size_t>(n), 0.0));
    const bool withStandard = !o.standardBp.empty();
    run.standardDye = withStandard ? o.standardDye : -1;
    static const char* const kNames[] = {"6-FAM", "VIC", "NED", "PET", "LIZ", "SID", "TAZ", "DY"};
    for (int d = 0; d < o.dyes; ++d) {
        run.names.push_back(!o.namedDyes           ? ""
                            : d == run.standardDye ? o.standardDyeName
                            : d == 4               ? "DYE5"
                                                   : kNames[d]);
        if (d == run.standardDye) continue;
        if (o.saturatedPrimer) addGauss(pure[d], kPrimerScan + 4.0 * d, 60000.0, 6.0);
        for (int k = 0; k < o.samplePeaks; ++k) {
            const double bp = rnd.uniform(60.0, std::min(450.0, lastBp));
            const double h = rnd.uniform(200.0, 4000.0);
            run.fragments.push_back({d, bp, run.scanOf(bp), h});
            addGauss(pure[d], run.scanOf(bp), h, sigmaAt(bp));
        }
    }
    if (withStandard) {
        for (double bp : o.standardBp) {
            if (bp > lastBp ||
                std::find(o.missingBp.begin(), o.missingBp.end(), bp) != o.missingBp.end())
                continue;
            addGauss(pure[o.standardDye], run.scanOf(bp), o.standardHeight * rnd.uniform(0.8, 1.2),
                     sigmaAt(bp));
        }
        for (double bp : o.extraBp)
            addGauss(pure[o.standardDye], run.scanOf(bp), 0.5 * o.standardHeight, sigmaAt(bp));
    }
    std::sort(run.fragments.begin(), run.fragments.end(),
              [](const SimulatedFragment& a, const SimulatedFragment& b) {
                  return a.dye != b.dye ? a.dye < b.dye : a.sizeBp < b.sizeBp;
              });
    // Mixing into the channels, then background, noise and the detector's
    // ceiling.
    run.dyes.assign(static_cast<std::size_t>(o.dyes),
                    std::vector<double>(static_cast<std::size_t>(n), 0.0));
    for (int c = 0; c < o.dyes; ++c) {
        const double offset = rnd.uniform(20.0, 120.0);
        for (int s = 0; s < n; ++s) {
            double v = pure[c][s];
            if (c > 0) v += o.pullup * pure[c - 1][s];
            if (c + 1 < o.dyes) v += o.pullup * pure[c + 1][s];
            v += offset * (1.0 + 0.3 * std::sin(s / 1500.0)) + 3.0 * o.noise * rnd.normal();
            run.dyes[c][s] = std::min(kCeiling, std::round(v));
        }
    }
    return run;
}

}  // namespace kw
