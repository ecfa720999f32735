// Test and benchmark helpers: synthetic traces and capillaries with known
// ground truth (Gaussian peaks, known mixing matrices, seeded noise).
#ifndef KWSIGNAL_TESTS_SYNTHETIC_H
#define KWSIGNAL_TESTS_SYNTHETIC_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "kwsignal/capillary.h"

namespace kwtest {

struct Gauss {
    int dye;        // trace code the peak belongs to
    double centre;  // samples
    double height;  // sample units
    double sigma;   // samples
};

/// Adds height * exp(-(i - centre)^2 / (2 sigma^2)) to samples within
/// 6 sigma of the centre.
inline void addGaussian(std::vector<double>& y, double centre, double height, double sigma) {
    const int lo = std::max(0, static_cast<int>(std::floor(centre - 6.0 * sigma)));
    const int hi = std::min(static_cast<int>(y.size()) - 1,
                            static_cast<int>(std::ceil(centre + 6.0 * sigma)));
    for (int i = lo; i <= hi; ++i) {
        const double z = (i - centre) / sigma;
        y[i] += height * std::exp(-0.5 * z * z);
    }
}

/// Isolated peaks of random dye, height and position, at least `spacing`
/// samples apart, from `margin` to n - margin.
inline std::vector<Gauss> randomPeaks(int n, int numDyes, double spacing, double sigma,
                                      uint32_t seed, int margin = 50) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dye(0, numDyes - 1);
    std::uniform_real_distribution<double> height(200.0, 1000.0);
    std::uniform_real_distribution<double> jitter(0.0, 0.3 * spacing);
    std::vector<Gauss> peaks;
    for (double c = margin; c < n - margin; c += spacing)
        peaks.push_back({dye(rng), c + jitter(rng), height(rng), sigma});
    return peaks;
}

/// Pure-dye traces: rows[d] holds the peaks of dye d.
inline std::vector<std::vector<double>> pureDyes(int n, int numDyes, const std::vector<Gauss>& peaks) {
    std::vector<std::vector<double>> rows(numDyes, std::vector<double>(n, 0.0));
    for (const Gauss& g : peaks) addGaussian(rows[g.dye], g.centre, g.height, g.sigma);
    return rows;
}

/// Observed channels = mixing * pure dyes, plus Gaussian noise of the given
/// standard deviation. mixing[k][d]: how much of dye d channel k sees.
inline std::vector<std::vector<double>> mix(const std::vector<std::vector<double>>& pure,
                                            const std::vector<std::vector<double>>& mixing,
                                            double noiseSigma = 0.0, uint32_t seed = 1) {
    const size_t n = pure.empty() ? 0 : pure[0].size();
    std::vector<std::vector<double>> out(mixing.size(), std::vector<double>(n, 0.0));
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, noiseSigma > 0.0 ? noiseSigma : 1.0);
    for (size_t k = 0; k < mixing.size(); ++k)
        for (size_t i = 0; i < n; ++i) {
            double v = 0.0;
            for (size_t d = 0; d < pure.size(); ++d) v += mixing[k][d] * pure[d][i];
            out[k][i] = v + (noiseSigma > 0.0 ? noise(rng) : 0.0);
        }
    return out;
}

/// Builds a capillary from rows (copied) at the given rate.
inline KwCap makeCap(std::vector<std::vector<double>>& rows, double rate) {
    std::vector<double*> ptrs;
    for (auto& r : rows) ptrs.push_back(r.data());
    return KwCap(static_cast<int>(rows.size()), rows.empty() ? 0 : static_cast<int>(rows[0].size()),
                 ptrs.data(), rate);
}

}  // namespace kwtest

#endif
