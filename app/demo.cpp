#include "demo.h"

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "batch.h"
#include "kwsignal/report.h"
#include "kwsignal/simulate.h"

namespace kwapp {
namespace {

namespace fs = std::filesystem;

// The demonstration's run: fixed, so its figures can be quoted and tested.
constexpr uint32_t kDemoSeed = 20240611;
constexpr int kDemoBases = 600;

void printRecovery(const kw::Recovery& r) {
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
}

void printOutputs(const std::string& outDir) {
    std::printf(
        "outputs in %s/: demo.txt (the simulated run), demo.txt.truth.tsv, "
        "demo.txt.truth_matrix.txt, recovery.json,\n  demo/ (processed.txt, matrix.txt, "
        "peaks.tsv, calls.fastq, calls.tsv, calls.scf, summary.json, plot.svg)\n",
        outDir.c_str());
}

void printCalls(const kw::CallRecovery& c) {
    std::printf(
        "  base-call identity    %.4f   (target >= 0.998) %s   %d bases called of %d: "
        "%d substituted, %d inserted, %d deleted\n",
        c.identity, c.identity >= 0.998 ? "ok" : "MISSED", c.calledBases, c.trueBases,
        c.substitutions, c.insertions, c.deletions);
    std::printf("  quality calibration   QV band: bases, errors, predicted / observed QV\n");
    for (const kw::CallRecovery::Band& b : c.bands)
        if (b.bases > 0)
            std::printf("                        %2d-%-2d: %4d, %3d, %5.1f / %s%.1f\n", b.lo,
                        b.lo + 9, b.bases, b.errors, b.predictedQv, b.errors == 0 ? ">=" : "",
                        b.observedQv);
}

std::string recoveryJson(const kw::Recovery& r, const kw::CallRecovery& c) {
    nlohmann::ordered_json bands = nlohmann::ordered_json::array();
    for (const kw::CallRecovery::Band& b : c.bands)
        if (b.bases > 0)
            bands.push_back({{"qv_from", b.lo},
                             {"bases", b.bases},
                             {"errors", b.errors},
                             {"predicted_qv", b.predictedQv},
                             {"observed_qv", b.observedQv}});
    const nlohmann::ordered_json calls = {{"true_bases", c.trueBases},
                                          {"called_bases", c.calledBases},
                                          {"substitutions", c.substitutions},
                                          {"insertions", c.insertions},
                                          {"deletions", c.deletions},
                                          {"identity", c.identity},
                                          {"calibration", bands}};
    const nlohmann::ordered_json j = {{"true_peaks", r.truePeaks},
                                      {"found_peaks", r.foundPeaks},
                                      {"matched", r.matched},
                                      {"recall", r.recall},
                                      {"precision", r.precision},
                                      {"median_centre_error", r.medianError},
                                      {"separation_residual", r.separationResidual},
                                      {"calls", calls}};
    return j.dump(2) + "\n";
}

int fail(const std::string& problem) {
    std::fprintf(stderr, "kwsignal: demo: %s\n", problem.c_str());
    return kExitFailed;
}

}  // namespace

// The demo reads the simulated file as written, like any file a user hands
// over, and scores the peaks and matrix of its processing.
int runDemo(const std::string& outDir) {
    kw::SimulationOptions so;
    so.seed = kDemoSeed;
    so.bases = kDemoBases;
    const kw::SimulatedCapillary sim = kw::simulateCapillary(so);
    std::error_code ec;
    fs::create_directories(outDir, ec);
    if (ec) return fail("cannot create " + outDir + ": " + ec.message());
    const std::string input = (fs::path(outDir) / "demo.txt").string();
    const std::string processed = (fs::path(outDir) / "demo").string();
    std::string problem = kw::writeSimulation(input, sim);
    if (!problem.empty()) return fail(problem);
    kw::Run run;
    if (const kw::ReadError e = kw::readRun(input, run)) return fail(e.message);
    kw::ProcessResult result;
    if (const kw::ProcessError e = kw::process(run, {}, result))
        return fail("processing failed: " + e.reason);
    if (result.status != kw::RunStatus::ok) return fail("processing failed: " + result.note);
    problem = writeOutputs(processed, run, result, 0.0);
    if (!problem.empty()) return fail(problem);
    std::vector<kw::FoundPeak> found;
    for (const kw::PeakRow& p : kw::peakRows(run, result)) found.push_back({p.traceCode, p.locatn});
    const kw::Recovery r = kw::assessRecovery(sim, found, result.matrix);
    const kw::CallRecovery c = kw::assessCalls(sim, result.calls);
    problem =
        kw::writeFileAtomically((fs::path(outDir) / "recovery.json").string(), recoveryJson(r, c));
    if (!problem.empty()) return fail(problem);
    printRecovery(r);
    printCalls(c);
    printOutputs(outDir);
    return kExitOk;
}

}  // namespace kwapp
