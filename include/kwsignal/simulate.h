// Synthetic raw capillaries with known truth, for tests, benchmarks and
// demonstrations.
//
// A simulated run looks like what a four-colour sequencer hands over before
// any processing: one Gaussian peak per base, about one base spacing apart,
// in the dye of that base; peaks that widen and weaken along the run; dyes
// mixed into the channels by a known matrix; a baseline that drifts slowly
// and decays at the start; noise that grows with the signal; a primer blob
// before the first base; a couple of spikes and one deep dip; and a noisy
// tail after the last base. Everything comes from the options: equal options
// give equal capillaries, on every thread and every platform.
#ifndef KWSIGNAL_SIMULATE_H
#define KWSIGNAL_SIMULATE_H

#include <cstdint>
#include <string>
#include <vector>

#include "kwsignal/export.h"

namespace kw {

/// What to simulate. Values outside the documented ranges are clamped.
struct SimulationOptions {
    uint32_t seed = 1;        ///< random seed
    int bases = 500;          ///< number of bases (true peaks), 1..5000
    double rate = 3.0;        ///< samples per second, 0.5..20 (a base takes 4.2 s)
    double crosstalk = 0.25;  ///< leak of a dye into a spectrally adjacent channel, 0..0.6
    /// Noise scale, 0..20. At 1 the noise has a standard deviation of 2
    /// units between peaks and about 16 on top of a strong (1000-unit) peak.
    double noise = 1.0;
};

/// One true peak: a base of the simulated sequence.
struct SimulatedPeak {
    int channel;    ///< trace code 0..3 (C, A, G, T)
    double centre;  ///< fractional sample index
    double height;  ///< height of the pure dye in its own channel, sample units
    double sigma;   ///< Gaussian standard deviation, samples
};

/// A simulated raw capillary and its truth.
struct SimulatedCapillary {
    double rate = 0.0;                          ///< samples per second
    std::vector<std::vector<double>> channels;  ///< raw samples, [trace code][sample]
    std::vector<SimulatedPeak> peaks;           ///< the bases, by ascending centre
    /// mixing[k][d]: how much of dye d channel k sees (1.0 on the diagonal);
    /// raw channels = mixing x pure dyes + baseline + noise.
    std::vector<std::vector<double>> mixing;
    double spacing = 0.0;  ///< samples from one base to the next at the first base
    int primerPnt = 0;     ///< centre of the primer blob
    int tailPnt = 0;       ///< first sample of the noisy tail after the last base
};

/// Simulates one four-channel raw capillary.
KW_API SimulatedCapillary simulateCapillary(const SimulationOptions& options);

// ---- fragment analysis ------------------------------------------------------

/// A simulated fragment-analysis run: sample peaks in the sample dyes, a
/// size standard in its own dye, each dye leaking into its spectral
/// neighbours (pull-up), an off-scale primer peak at the start of every
/// sample dye, a slowly drifting baseline and noise. Values outside the
/// documented ranges are clamped.
struct FragmentSimulationOptions {
    uint32_t seed = 1;     ///< random seed
    int dyes = 5;          ///< number of dyes, 2..8
    int standardDye = -1;  ///< 0-based dye of the standard; -1: the fifth dye, or the last of fewer
    /// Fragment lengths of the standard, bp, ascending; empty for none (a
    /// run without a standard).
    std::vector<double> standardBp;
    std::vector<double> missingBp;  ///< fragments of the standard left out of the run, bp
    /// Extra peaks in the standard dye, bp (a -1 bp satellite, a stray
    /// product), at half the standard's height.
    std::vector<double> extraBp;
    double stopBp = 0.0;   ///< the run ends just after this length, bp; 0: after the standard
    int samplePeaks = 12;  ///< peaks per sample dye, 0..200, 60..450 bp
    double pullup = 0.06;  ///< share of a dye seen in each spectrally adjacent dye, 0..0.5
    bool saturatedPrimer = true;  ///< an off-scale primer peak in every sample dye
    double noise = 1.0;           ///< noise scale, 0..20 (1: deviation of 3 counts)
};

/// One true sample peak of a simulated fragment run.
struct SimulatedFragment {
    int dye;        ///< 0-based dye
    double sizeBp;  ///< length, bp
    double scan;    ///< centre, fractional scan
    double height;  ///< height in its own dye, raw counts
};

/// A simulated fragment run and its truth.
struct SimulatedFragmentRun {
    double rate = 0.0;                         ///< scans per second
    std::vector<std::vector<double>> dyes;     ///< raw counts, [dye][scan], clipped at 32767
    std::vector<std::string> names;            ///< dye names ("LIZ" on the standard dye)
    int standardDye = -1;                      ///< 0-based dye of the standard, -1 none
    std::vector<SimulatedFragment> fragments;  ///< sample peaks, by dye then size
    /// Scan of a length, bp (the run's mobility curve).
    double scanOf(double bp) const { return 1200.0 + 14.0 * bp - 0.0045 * bp * bp; }
};

/// Simulates one fragment-analysis run.
KW_API SimulatedFragmentRun simulateFragmentRun(const FragmentSimulationOptions& options);

}  // namespace kw

#endif
