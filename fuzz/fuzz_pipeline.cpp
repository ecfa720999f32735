// The whole default pipeline on an arbitrary capillary: 1 to 4 traces of
// 0 to 20,000 samples of any doubles (NaN and infinities included) at any
// rate, learning its separation or refining a given matrix. The pipeline refuses the run with a
// reason or processes it; it never crashes, hangs or reads outside its arrays, and what it reports
// is consistent: peaks in order, on existing traces, inside the capillary.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_util.h"
#include "pipeline.h"

namespace {

void checkResult(const kwapp::RawRun& run, const kwapp::PipelineResult& r) {
    kwfuzz::require(r.status == "ok" || r.status == "no_signal", "status");
    kwfuzz::require(static_cast<int>(r.channels.size()) == run.numTraces, "a summary per channel");
    if (r.status != "ok") {
        kwfuzz::require(r.peaks.empty(), "no peaks without signal");
        return;
    }
    kwfuzz::require(0 <= r.windowStart && r.windowStart <= r.windowEnd && r.windowEnd < run.numData,
                    "window inside the capillary");
    int counted = 0;
    for (size_t i = 0; i < r.peaks.size(); ++i) {
        const KwPeak& p = r.peaks[i];
        kwfuzz::require(p.getTraceCode() >= 0 && p.getTraceCode() < run.numTraces,
                        "peak on an existing trace");
        kwfuzz::require(i == 0 || !(p.getLocatn() < r.peaks[i - 1].getLocatn()), "peaks in order");
    }
    for (const kwapp::ChannelSummary& c : r.channels) counted += c.peaks;
    kwfuzz::require(counted == static_cast<int>(r.peaks.size()), "peaks counted per channel");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kwfuzz::Capillary cap = kwfuzz::decodeCapillary(data, size);
    if (cap.rows.empty()) return 0;
    kwapp::RawRun run;
    run.path = "fuzz";
    run.numTraces = static_cast<int>(cap.rows.size());
    run.numData = cap.numData;
    run.rate = cap.rate;
    run.rows = std::move(cap.rows);
    for (int t = 0; t < run.numTraces; ++t) run.channelNames.push_back(std::to_string(t));
    kwapp::PipelineOptions options;
    options.systemMatrix = std::move(cap.matrix);
    kwapp::PipelineResult result;
    const std::string problem = kwapp::runPipeline(run, options, result);
    if (problem.empty()) checkResult(run, result);
    return 0;
}
