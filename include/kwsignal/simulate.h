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

#include "kwsignal/basecall.h"
#include "kwsignal/export.h"
#include "kwsignal/run.h"

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

/// sim as a run read from a file: four traces C, A, G, T at its rate, in
/// the export format, named `name`.
KW_API Run simulatedRun(const SimulatedCapillary& sim, const std::string& name = "simulated");

/// Writes sim as an export file at path, its true peaks at path.truth.tsv
/// (channel, trace_code, centre, height, sigma) and its mixing matrix at
/// path.truth_matrix.txt, each atomically. Returns "" or the reason.
[[nodiscard]] KW_API std::string writeSimulation(const std::string& path,
                                                 const SimulatedCapillary& sim);

/// A found peak: its trace code and centre in samples of the simulated run.
struct FoundPeak {
    int channel = 0;
    double locatn = 0.0;
};

/// How much of a simulated run's truth a processing recovered.
struct Recovery {
    int truePeaks = 0;
    int foundPeaks = 0;
    int matched = 0;
    double recall = 0.0;       ///< matched / truePeaks, 0..1
    double precision = 0.0;    ///< matched / foundPeaks, 0..1
    double medianError = 0.0;  ///< samples, over matched peaks
    /// Largest off-diagonal element of (separation x true mixing), each row
    /// divided by its diagonal element; NaN when the sizes differ.
    double separationResidual = 0.0;
};

/// How well called bases recover a simulated run's true sequence.
struct CallRecovery {
    int trueBases = 0;
    int calledBases = 0;
    int substitutions = 0, insertions = 0, deletions = 0;
    /// 1 - (substitutions + insertions + deletions) / trueBases over the
    /// stretch the calls cover (end gaps free), 0..1.
    double identity = 0.0;
    /// Per quality band [lo, lo + 10) (lo = 0, 10, ..., 60): bases, errors
    /// (substitutions and insertions; a deletion has no base), and the QV
    /// the band's calls predicted (-10 log10 of their mean error
    /// probability) against the QV observed (-10 log10 errors / bases; the
    /// band's cap when it holds no error).
    struct Band {
        int lo = 0;
        int bases = 0;
        int errors = 0;
        double predictedQv = 0.0;
        double observedQv = 0.0;
    };
    std::vector<Band> bands;
};

/// Aligns calls to the true sequence of sim (the letters of its peaks in
/// order) and scores them.
KW_API CallRecovery assessCalls(const SimulatedCapillary& sim, const BaseCalls& calls);

/// Matches found peaks to the truth one-to-one, per channel, nearest first:
/// a true peak is found when a peak of its channel lies within half its
/// local base spacing. separation: the matrix the processing applied.
KW_API Recovery assessRecovery(const SimulatedCapillary& sim, const std::vector<FoundPeak>& found,
                               const std::vector<std::vector<double>>& separation);

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
    /// Height of the standard's fragments, raw counts, 20..30000 (each
    /// drawn within +-20 % of it).
    double standardHeight = 1500.0;
    /// Name of the standard's dye (e.g. "LIZ", "ROX"); the sample dyes are
    /// named 6-FAM, VIC, NED, PET, DYE5, SID, TAZ, DY in dye order.
    std::string standardDyeName = "LIZ";
    bool namedDyes = true;  ///< false: every dye name empty, as in files without DyeN
    /// Scans per bp relative to a 3500-class run (14 at short lengths),
    /// 0.3..2: older instruments and polymers run fewer, with peaks as
    /// wide in scans, so broader in bp.
    double mobility = 1.0;
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
    double mobility = 1.0;                     ///< scans per bp relative to the default curve
    /// Scan of a length, bp (the run's mobility curve).
    double scanOf(double bp) const { return 1200.0 + mobility * (14.0 * bp - 0.0045 * bp * bp); }
};

/// Simulates one fragment-analysis run.
KW_API SimulatedFragmentRun simulateFragmentRun(const FragmentSimulationOptions& options);

}  // namespace kw

#endif
