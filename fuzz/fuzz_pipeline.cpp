// The whole default road (sequencing, then fragments) on an arbitrary capillary: 1 to 4 traces of
// 0 to 20,000 samples of any doubles (NaN and infinities included) at any
// rate, learning its separation or refining a given matrix. The pipeline refuses the run with a
// reason or processes it; it never crashes, hangs or reads outside its arrays, and what it reports
// is consistent: peaks in order, on existing traces, inside the capillary.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_util.h"
#include "kwsignal/process.h"

namespace {

void checkResult(const kw::Run& run, const kw::ProcessResult& r) {
    kwfuzz::require(r.status == kw::RunStatus::ok || r.status == kw::RunStatus::noSignal, "status");
    kwfuzz::require(static_cast<int>(r.channels.size()) == run.numTraces, "a summary per channel");
    if (r.status != kw::RunStatus::ok) {
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
    for (const kw::ChannelSummary& c : r.channels) counted += c.peaks;
    kwfuzz::require(counted == static_cast<int>(r.peaks.size()), "peaks counted per channel");
}

// The fragment road on the same capillary: every peak on an existing dye
// and inside the run; sizes only where a standard was identified, surely or
// with an assignment one fragment off fitting about as well (low confidence).
void checkFragments(const kw::Run& run, const kw::ProcessResult& r) {
    const kw::FragmentResult& f = r.fragments;
    for (const kw::FragmentPeak& p : f.peaks) {
        kwfuzz::require(p.dye >= 0 && p.dye < run.numTraces, "fragment on an existing dye");
        kwfuzz::require(p.scan >= 0.0 && p.scan <= run.numData, "fragment inside the run");
        kwfuzz::require(f.status == kw::SizingStatus::sized ||
                            f.status == kw::SizingStatus::lowConfidence || std::isnan(p.sizeBp),
                        "no sizes without a standard");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kwfuzz::Capillary cap = kwfuzz::decodeCapillary(data, size);
    if (cap.rows.empty()) return 0;
    kw::ProcessOptions options;
    const kw::Run run = kwfuzz::runOf(std::move(cap), "fuzz", options);
    kw::ProcessResult result;
    if (!kw::process(run, options, result)) checkResult(run, result);
    options.kind = kw::KindChoice::fragments;
    kw::ProcessResult fragments;
    if (!kw::process(run, options, fragments)) checkFragments(run, fragments);
    return 0;
}
