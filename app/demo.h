// Simulated runs on disk, and the demonstration: simulate with a fixed
// seed, process the file like any other, and measure what was recovered
// against the truth.
#ifndef KWSIGNAL_APP_DEMO_H
#define KWSIGNAL_APP_DEMO_H

#include <string>
#include <vector>

#include "formats.h"
#include "kwsignal/simulate.h"

namespace kwapp {

/// sim as a run read from a file (four traces C, A, G, T at its rate).
RawRun runOf(const kw::SimulatedCapillary& sim);

/// Writes sim as an export file at path, its true peaks at
/// path.truth.tsv and its mixing matrix at path.truth_matrix.txt.
/// Returns "" or the reason.
std::string writeSimulation(const std::string& path, const kw::SimulatedCapillary& sim);

/// A found peak as peaks.tsv gives it.
struct FoundPeak {
    int channel;
    double locatn;
};

/// How much of a simulated run's truth a processing recovered.
struct Recovery {
    int truePeaks = 0;
    int foundPeaks = 0;
    int matched = 0;
    double recall = 0.0;
    double precision = 0.0;
    double medianError = 0.0;  ///< samples, over matched peaks
    /// Largest off-diagonal element of (separation x true mixing), each row
    /// divided by its diagonal element.
    double separationResidual = 0.0;
};

/// Matches found peaks to the truth one-to-one, per channel, nearest first:
/// a true peak is found when a peak of its channel lies within half its
/// local base spacing.
Recovery assessRecovery(const kw::SimulatedCapillary& sim, const std::vector<FoundPeak>& found,
                        const std::vector<std::vector<double>>& separation);

/// Reads channel codes and centres from a peaks.tsv. Returns "" or why not.
std::string readPeaks(const std::string& path, std::vector<FoundPeak>& peaks);

/// Runs the demonstration into outDir and prints the recovery. Returns the
/// exit status.
int runDemo(const std::string& outDir);

}  // namespace kwapp

#endif
