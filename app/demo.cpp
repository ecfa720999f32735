#include "demo.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "batch.h"
#include "writers.h"

namespace kwapp {
namespace {

namespace fs = std::filesystem;

// The demonstration's run: fixed, so its figures can be quoted and tested.
constexpr uint32_t kDemoSeed = 20240611;
constexpr int kDemoBases = 600;

const char* const kLetters[4] = {"C", "A", "G", "T"};

// Half the distance between the neighbours of each true base.
std::vector<double> localSpacing(const std::vector<kw::SimulatedPeak>& peaks, double fallback) {
    const size_t n = peaks.size();
    std::vector<double> s(n, fallback);
    for (size_t k = 0; k < n; ++k) {
        const size_t a = k > 0 ? k - 1 : k, b = k + 1 < n ? k + 1 : k;
        if (b > a) s[k] = (peaks[b].centre - peaks[a].centre) / (b - a);
    }
    return s;
}

double separationResidual(const std::vector<std::vector<double>>& m,
                          const std::vector<std::vector<double>>& mixing) {
    const size_t n = mixing.size();
    if (m.size() != n) return std::nan("");
    double worst = 0.0;
    for (size_t i = 0; i < n; ++i) {
        std::vector<double> row(n, 0.0);
        for (size_t j = 0; j < n; ++j)
            for (size_t k = 0; k < n; ++k) row[j] += m[i][k] * mixing[k][j];
        for (size_t j = 0; j < n; ++j)
            if (j != i) worst = std::max(worst, std::fabs(row[j] / row[i]));
    }
    return worst;
}

std::string readMatrixFile(const std::string& path, std::vector<std::vector<double>>& m) {
    std::vector<std::vector<float>> f;
    const std::string problem = loadMatrix(path, f);
    m.clear();
    for (const auto& row : f) m.emplace_back(row.begin(), row.end());
    return problem;
}

void printRecovery(const Recovery& r, const std::string& outDir) {
    auto mark = [](bool ok) { return ok ? "ok" : "MISSED"; };
    std::printf("kwsignal demo: %d true peaks, %d found, %d matched\n", r.truePeaks, r.foundPeaks,
                r.matched);
    std::printf("  separation residual   %.4f   (target <= 0.02)  %s\n", r.separationResidual,
                mark(r.separationResidual <= 0.02));
    std::printf("  peak recall           %.4f   (target >= 0.98)  %s\n", r.recall,
                mark(r.recall >= 0.98));
    std::printf("  peak precision        %.4f   (target >= 0.98)  %s\n", r.precision,
                mark(r.precision >= 0.98));
    std::printf("  median centre error   %.3f samples (target <= 0.3)  %s\n", r.medianError,
                mark(r.medianError <= 0.3));
    std::printf(
        "outputs in %s/: demo.txt (the simulated run), demo.txt.truth.tsv, "
        "demo.txt.truth_matrix.txt, recovery.json,\n  demo/ (processed.txt, matrix.txt, "
        "peaks.tsv, summary.json, plot.svg)\n",
        outDir.c_str());
}

std::string writeRecovery(const std::string& path, const Recovery& r) {
    nlohmann::ordered_json j = {{"true_peaks", r.truePeaks},
                                {"found_peaks", r.foundPeaks},
                                {"matched", r.matched},
                                {"recall", r.recall},
                                {"precision", r.precision},
                                {"median_centre_error", r.medianError},
                                {"separation_residual", r.separationResidual}};
    const std::string text = j.dump(2) + "\n";
    return writeAtomically(path, [&](std::FILE* f) {
        return std::fwrite(text.data(), 1, text.size(), f) == text.size();
    });
}

}  // namespace

RawRun runOf(const kw::SimulatedCapillary& sim) {
    RawRun run;
    run.format = Format::exportFile;
    run.numTraces = static_cast<int>(sim.channels.size());
    run.numData = run.numTraces > 0 ? static_cast<int>(sim.channels[0].size()) : 0;
    run.rate = sim.rate;
    run.rateSource = "simulation";
    run.rows = sim.channels;
    run.channelNames = {"C", "A", "G", "T"};
    return run;
}

std::string writeSimulation(const std::string& path, const kw::SimulatedCapillary& sim) {
    std::vector<double*> rows;
    for (const auto& c : sim.channels) rows.push_back(const_cast<double*>(c.data()));
    const KwCap cap(static_cast<int>(rows.size()), static_cast<int>(sim.channels[0].size()),
                    rows.data(), sim.rate);
    std::string problem = writeProcessed(path, cap);
    if (problem.empty())
        problem = writeAtomically(path + ".truth.tsv", [&](std::FILE* f) {
            std::fprintf(f, "channel\ttrace_code\tcentre\theight\tsigma\n");
            for (const kw::SimulatedPeak& p : sim.peaks)
                std::fprintf(f, "%s\t%d\t%.4f\t%.3f\t%.4f\n", kLetters[p.channel], p.channel,
                             p.centre, p.height, p.sigma);
            return true;
        });
    if (problem.empty()) problem = writeMatrix(path + ".truth_matrix.txt", sim.mixing);
    return problem;
}

std::string readPeaks(const std::string& path, std::vector<FoundPeak>& peaks) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line) || line != kPeaksHeader) return "cannot read " + path;
    peaks.clear();
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string name;
        FoundPeak p{};
        if (!(fields >> name >> p.channel >> p.locatn)) return "malformed row in " + path;
        peaks.push_back(p);
    }
    return std::string();
}

Recovery assessRecovery(const kw::SimulatedCapillary& sim, const std::vector<FoundPeak>& found,
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
    if (!errors.empty()) {
        std::nth_element(errors.begin(), errors.begin() + errors.size() / 2, errors.end());
        r.medianError = errors[errors.size() / 2];
    }
    return r;
}

int runDemo(const std::string& outDir) {
    kw::SimulationOptions so;
    so.seed = kDemoSeed;
    so.bases = kDemoBases;
    const kw::SimulatedCapillary sim = kw::simulateCapillary(so);
    std::error_code ec;
    fs::create_directories(outDir, ec);
    const std::string input = (fs::path(outDir) / "demo.txt").string();
    const std::string processed = (fs::path(outDir) / "demo").string();
    std::string problem = ec ? "cannot create " + outDir + ": " + ec.message() : "";
    if (problem.empty()) problem = writeSimulation(input, sim);
    if (!problem.empty()) {
        std::fprintf(stderr, "kwsignal: demo: %s\n", problem.c_str());
        return kExitFailed;
    }
    ProcessOptions po;
    po.quiet = true;
    const FileReport report = processFile(input, processed, po);
    if (report.outcome != Outcome::ok) {
        std::fprintf(stderr, "kwsignal: demo: processing failed: %s\n", report.reason.c_str());
        return kExitFailed;
    }
    std::vector<FoundPeak> found;
    std::vector<std::vector<double>> matrix;
    problem = readPeaks((fs::path(processed) / "peaks.tsv").string(), found);
    if (problem.empty())
        problem = readMatrixFile((fs::path(processed) / "matrix.txt").string(), matrix);
    const Recovery r = assessRecovery(sim, found, matrix);
    if (problem.empty()) problem = writeRecovery((fs::path(outDir) / "recovery.json").string(), r);
    if (!problem.empty()) {
        std::fprintf(stderr, "kwsignal: demo: %s\n", problem.c_str());
        return kExitFailed;
    }
    printRecovery(r, outDir);
    return kExitOk;
}

}  // namespace kwapp
