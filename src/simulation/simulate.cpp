// Synthetic raw capillaries: a random sequence drawn as Gaussian peaks, mixed
// into the channels, laid on a drifting baseline, disturbed by the artefacts
// real runs show, and digitised with signal-dependent noise.
//
// The random numbers come from std::mt19937, whose output the language fixes,
// turned into uniform and normal deviates here rather than by the standard
// distributions (whose algorithms differ between standard libraries), so a
// seed gives the same capillary everywhere.
#include "kwsignal/simulate.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "simulation/random.h"

namespace kw {
namespace {

using Random = SimulationRandom;

constexpr int kNumDyes = 4;
// Position of each dye (C, A, G, T) in the emission spectrum (G, A, T, C):
// dyes that sit next to each other there leak most into each other's channel.
constexpr int kSpectralPos[kNumDyes] = {3, 1, 0, 2};
// Relative brightness of the dyes in their own channels.
constexpr double kBrightness[kNumDyes] = {0.85, 1.0, 1.1, 0.9};
// Seconds from one base to the next as the detector sees them.
constexpr double kSecondsPerBase = 4.2;
// Height of a strong early peak, sample units.
constexpr double kPeakScale = 1000.0;

using Rows = std::vector<std::vector<double>>;

SimulationOptions clamped(SimulationOptions o) {
    auto clamp = [](double v, double lo, double hi, double fallback) {
        return std::isfinite(v) ? std::min(hi, std::max(lo, v)) : fallback;
    };
    o.bases = std::min(5000, std::max(1, o.bases));
    o.rate = clamp(o.rate, 0.5, 20.0, 3.0);
    o.crosstalk = clamp(o.crosstalk, 0.0, 0.6, 0.25);
    o.noise = clamp(o.noise, 0.0, 20.0, 1.0);
    return o;
}

// Leak x into spectral neighbours, x^2 two steps away, and so on, each
// element perturbed by up to 20 %.
Rows mixingMatrix(double x, Random& rnd) {
    Rows m(kNumDyes, std::vector<double>(kNumDyes, 1.0));
    for (int k = 0; k < kNumDyes; ++k)
        for (int d = 0; d < kNumDyes; ++d)
            if (k != d)
                m[k][d] = std::pow(x, std::abs(kSpectralPos[k] - kSpectralPos[d])) *
                          rnd.uniform(0.8, 1.2);
    return m;
}

// The bases: random dyes, spacing growing 8 % along the run with a little
// mobility jitter, widths growing from 0.2 to 0.32 spacings, heights
// decaying along the run with log-normal scatter.
std::vector<SimulatedPeak> sequence(int bases, double spacing0, double firstPnt, Random& rnd) {
    std::vector<SimulatedPeak> peaks;
    double pos = firstPnt;
    for (int j = 0; j < bases; ++j) {
        const double f = bases > 1 ? static_cast<double>(j) / (bases - 1) : 0.0;
        const double spacing = spacing0 * (1.0 + 0.08 * f);
        const int dye = rnd.index(kNumDyes);
        const double scatter = std::min(2.0, std::max(0.45, std::exp(0.3 * rnd.normal())));
        const double height =
            kPeakScale * (0.35 + 0.65 * std::exp(-2.5 * f)) * kBrightness[dye] * scatter;
        const double jitter = 0.04 * spacing * std::max(-2.5, std::min(2.5, rnd.normal()));
        peaks.push_back({dye, pos + jitter, height, spacing * (0.2 + 0.12 * f)});
        pos += spacing;
    }
    return peaks;
}

void addGaussian(std::vector<double>& y, double centre, double height, double sigma) {
    const int n = static_cast<int>(y.size());
    const int lo = std::max(0, static_cast<int>(std::floor(centre - 6.0 * sigma)));
    const int hi = std::min(n - 1, static_cast<int>(std::ceil(centre + 6.0 * sigma)));
    for (int i = lo; i <= hi; ++i) {
        const double z = (i - centre) / sigma;
        y[i] += height * std::exp(-0.5 * z * z);
    }
}

Rows mixed(const Rows& pure, const Rows& mixing) {
    const size_t n = pure[0].size();
    Rows out(kNumDyes, std::vector<double>(n, 0.0));
    for (int k = 0; k < kNumDyes; ++k)
        for (int d = 0; d < kNumDyes; ++d)
            for (size_t i = 0; i < n; ++i) out[k][i] += mixing[k][d] * pure[d][i];
    return out;
}

// Unincorporated primer and dye before the first base: one broad, very high
// peak seen by every channel.
void addPrimerBlob(Rows& raw, int centre, double spacing, Random& rnd) {
    const double height = kPeakScale * rnd.uniform(3.0, 5.0);
    for (auto& channel : raw)
        addGaussian(channel, centre, height * rnd.uniform(0.6, 1.0), 2.0 * spacing);
}

// After the last base: low broad wiggles of no base and extra noise.
void addTailWiggles(Rows& raw, int from, double spacing, Random& rnd) {
    const int n = static_cast<int>(raw[0].size());
    for (double c = from + spacing; c < n; c += 2.0 * spacing * rnd.uniform(0.5, 1.5))
        addGaussian(raw[rnd.index(kNumDyes)], c, kPeakScale * rnd.uniform(0.01, 0.04),
                    1.5 * spacing);
}

// Shot-like noise: its standard deviation grows with the square root of the
// signal it rides on; twice as strong in the tail.
void addNoise(Rows& raw, double scale, int tailPnt, Random& rnd) {
    for (auto& channel : raw)
        for (size_t i = 0; i < channel.size(); ++i) {
            const double tail = static_cast<int>(i) >= tailPnt ? 2.0 : 1.0;
            const double sd = scale * tail * std::sqrt(4.0 + 0.25 * std::max(0.0, channel[i]));
            channel[i] += sd * rnd.normal();
        }
}

// Offset, slow cubic drift and a decaying start, different in every channel.
void addBaseline(Rows& raw, Random& rnd) {
    for (auto& channel : raw) {
        const double n = static_cast<double>(channel.size());
        const double offset = rnd.uniform(150.0, 400.0);
        const double a1 = 40.0 * rnd.normal(), a2 = 40.0 * rnd.normal(), a3 = 40.0 * rnd.normal();
        const double start = rnd.uniform(300.0, 600.0);
        const double tau = 0.06 * n;
        for (size_t i = 0; i < channel.size(); ++i) {
            const double u = static_cast<double>(i) / n;
            channel[i] += offset + u * (a1 + u * (a2 + u * a3)) +
                          start * std::exp(-static_cast<double>(i) / tau);
        }
    }
}

// Two electrical spikes (one or two samples, far above every peak) and one
// deep dip of a few samples, in every channel, somewhere among the bases.
void addSpikesAndDip(Rows& raw, int from, int to, Random& rnd) {
    for (int s = 0; s < 2; ++s) {
        const int at = from + rnd.index(std::max(1, to - from));
        const int width = 1 + rnd.index(2);
        const double height = kPeakScale * rnd.uniform(3.0, 5.0);
        for (auto& channel : raw)
            for (int i = at; i < at + width; ++i) channel[i] += height * rnd.uniform(0.7, 1.0);
    }
    const int at = from + rnd.index(std::max(1, to - from));
    const double depth = kPeakScale * rnd.uniform(1.5, 2.5);
    for (auto& channel : raw)
        for (int i = at; i < at + 3; ++i) channel[i] -= depth * (i == at + 1 ? 1.0 : 0.6);
}

}  // namespace

SimulatedCapillary simulateCapillary(const SimulationOptions& options) {
    const SimulationOptions o = clamped(options);
    Random rnd(o.seed);
    SimulatedCapillary sim;
    sim.rate = o.rate;
    sim.spacing = kSecondsPerBase * o.rate;
    sim.primerPnt = static_cast<int>(12.0 * sim.spacing);
    sim.mixing = mixingMatrix(o.crosstalk, rnd);
    sim.peaks = sequence(o.bases, sim.spacing, 30.0 * sim.spacing, rnd);

    const SimulatedPeak& last = sim.peaks.back();
    sim.tailPnt = static_cast<int>(last.centre + 4.0 * last.sigma + sim.spacing);
    const int tailLength = std::max(static_cast<int>(60.0 * sim.spacing),
                                    static_cast<int>(0.12 * (sim.tailPnt - 30.0 * sim.spacing)));
    const int numData = sim.tailPnt + tailLength;

    Rows pure(kNumDyes, std::vector<double>(numData, 0.0));
    for (const SimulatedPeak& p : sim.peaks)
        addGaussian(pure[p.channel], p.centre, p.height, p.sigma);
    Rows raw = mixed(pure, sim.mixing);
    addPrimerBlob(raw, sim.primerPnt, sim.spacing, rnd);
    addTailWiggles(raw, sim.tailPnt, sim.spacing, rnd);
    addNoise(raw, o.noise, sim.tailPnt, rnd);
    addSpikesAndDip(raw, static_cast<int>(sim.peaks.front().centre), static_cast<int>(last.centre),
                    rnd);
    addBaseline(raw, rnd);
    for (auto& channel : raw)
        for (double& v : channel) v = std::round(v);  // the detector counts whole units
    sim.channels = std::move(raw);
    return sim;
}

}  // namespace kw
