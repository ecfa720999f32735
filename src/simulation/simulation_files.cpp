// A simulated run as a run read from a file, and on disk with its truth.
#include <cstdio>

#include "kwsignal/capillary.h"
#include "kwsignal/report.h"
#include "kwsignal/simulate.h"

namespace kw {

Run simulatedRun(const SimulatedCapillary& sim, const std::string& name) {
    Run run;
    run.path = name;
    run.format = Format::exportFile;
    run.numTraces = static_cast<int>(sim.channels.size());
    run.numData = run.numTraces > 0 ? static_cast<int>(sim.channels[0].size()) : 0;
    run.rate = sim.rate;
    run.rateSource = "simulation";
    run.rows = sim.channels;
    run.channelNames = channelNamesOf(run.numTraces, true);
    return run;
}

std::string writeSimulation(const std::string& path, const SimulatedCapillary& sim) {
    if (sim.channels.empty() || sim.channels[0].empty()) return path + ": nothing simulated";
    std::vector<double*> rows;
    for (const auto& c : sim.channels) rows.push_back(const_cast<double*>(c.data()));
    const KwCap cap(static_cast<int>(rows.size()), static_cast<int>(sim.channels[0].size()),
                    rows.data(), sim.rate);
    std::string problem = writeProcessed(path, cap);
    if (problem.empty()) {
        std::string truth = "channel\ttrace_code\tcentre\theight\tsigma\n";
        char line[160];
        for (const SimulatedPeak& p : sim.peaks) {
            std::snprintf(line, sizeof line, "%c\t%d\t%.4f\t%.3f\t%.4f\n",
                          kBaseLetters[p.channel & 3], p.channel, p.centre, p.height, p.sigma);
            truth += line;
        }
        problem = writeFileAtomically(path + ".truth.tsv", truth);
    }
    if (problem.empty())
        problem = writeFileAtomically(path + ".truth_matrix.txt", matrixText(sim.mixing));
    return problem;
}

}  // namespace kw
