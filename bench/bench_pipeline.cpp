// The whole default road on a capillary of 3730 size (4 x 17,000
// samples), file parsing excluded, with the time of every stage reported as
// a counter (milliseconds per run); the text of every output `kwsignal
// process` writes for it, built in memory (the files' own writing is the
// file system's); and the parsing of an ABIF file.
#include <benchmark/benchmark.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "kwsignal/abif.h"
#include "kwsignal/basecall.h"
#include "kwsignal/process.h"
#include "kwsignal/report.h"
#include "kwsignal/simulate.h"

namespace {

const std::string k3730 = std::string(KWSIGNAL_SHARED_DATA) + "/abif/3730.ab1";

// A simulated run of 1,120 bases at 3 Hz: about 17,000 samples per trace.
kw::Run simulated() {
    kw::SimulationOptions o;
    o.seed = 7;
    o.bases = 1120;
    return kw::simulatedRun(kw::simulateCapillary(o));
}

// As the command-line tool runs it: with glibc's allocator keeping
// trace-sized buffers for reuse (kw::keepLargeBuffers), as the tool sets it
// at start.
void runPipeline(benchmark::State& state, const kw::Run& run) {
    kw::keepLargeBuffers();
    std::map<std::string, double> stageMs;
    double peaks = 0.0;
    for (auto _ : state) {
        kw::ProcessResult result;
        if (kw::process(run, kw::ProcessOptions(), result)) {
            state.SkipWithError("the run was refused");
            return;
        }
        for (const kw::StageTime& s : result.stages) stageMs[s.name] += s.ms;
        peaks = static_cast<double>(result.peaks.size());
        benchmark::DoNotOptimize(result.peaks.data());
    }
    for (const auto& s : stageMs)
        state.counters["ms_" + s.first] = benchmark::Counter(s.second / state.iterations());
    state.counters["samples"] = run.numData;
    state.counters["peaks"] = peaks;
}

void BM_PipelineSimulated(benchmark::State& state) {
    static const kw::Run run = simulated();
    runPipeline(state, run);
}
BENCHMARK(BM_PipelineSimulated)->Unit(benchmark::kMillisecond);

void BM_Pipeline3730(benchmark::State& state) {
    kw::Run run;
    if (const kw::ReadError e = kw::readRun(k3730, run)) {
        state.SkipWithError(("3730.ab1 not available: " + e.message).c_str());
        return;
    }
    runPipeline(state, run);
}
BENCHMARK(BM_Pipeline3730)->Unit(benchmark::kMillisecond);

// Each output of a processed 3730 run as text, per output a counter of its
// milliseconds per run.
void BM_Outputs3730(benchmark::State& state) {
    kw::Run run;
    if (const kw::ReadError e = kw::readRun(k3730, run)) {
        state.SkipWithError(("3730.ab1 not available: " + e.message).c_str());
        return;
    }
    kw::keepLargeBuffers();
    kw::ProcessResult result;
    if (kw::process(run, kw::ProcessOptions(), result) || !result.processed) {
        state.SkipWithError("the run was refused");
        return;
    }
    const kw::CallInputs in = kw::callInputsOf(run, result);
    const std::vector<std::pair<std::string, std::function<std::string()>>> outputs = {
        {"processed", [&] { return kw::exportText(*result.processed); }},
        {"matrix", [&] { return kw::matrixText(result.matrix); }},
        {"peaks", [&] { return kw::peaksTsv(run, result); }},
        {"summary", [&] { return kw::summaryJson(run, result, 0.0); }},
        {"fastq", [&] { return kw::fastqRecord(result.calls, "run"); }},
        {"calls", [&] { return kw::callsTable(result.calls); }},
        {"scf", [&] { return kw::scfFile(*result.processed, result.calls, in, "run"); }},
        {"plot", [&] { return kw::plotSvg(run, result); }},
    };
    std::map<std::string, double> ms;
    for (auto _ : state)
        for (const auto& o : outputs) {
            const auto t0 = std::chrono::steady_clock::now();
            const std::string text = o.second();
            benchmark::DoNotOptimize(text.data());
            ms[o.first] +=
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                    .count();
        }
    for (const auto& o : ms)
        state.counters["ms_" + o.first] = benchmark::Counter(o.second / state.iterations());
}
BENCHMARK(BM_Outputs3730)->Unit(benchmark::kMillisecond);

void BM_AbifParse3730(benchmark::State& state) {
    for (auto _ : state) {
        kw::AbifRun run = kw::readAbif(k3730);
        if (!run.ok()) {
            state.SkipWithError(run.error.c_str());
            return;
        }
        benchmark::DoNotOptimize(run.raw.data());
    }
}
BENCHMARK(BM_AbifParse3730)->Unit(benchmark::kMillisecond);

}  // namespace
