// The road of one capillary, stage by stage, each stage timed.
#include "process/road.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>

namespace kw {
namespace detail {
namespace {

// Processor time of the calling thread, milliseconds: what a stage costs,
// however busy the machine is with other work.
double threadMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return 1e3 * static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_nsec);
}

class StageClock {
public:
    explicit StageClock(std::vector<StageTime>& laps)
        : stages(laps), first(threadMs()), mark(first) {}
    void lap(const char* name) {
        const double t = threadMs();
        stages.push_back({name, t - mark});
        mark = t;
    }
    double total() const { return mark - first; }

private:
    std::vector<StageTime>& stages;
    double first;
    double mark;
};

}  // namespace

void Road::build() {
    std::vector<double*> rows;
    for (const auto& row : run.rows) rows.push_back(const_cast<double*>(row.data()));
    cap.reset(new KwCap(run.numTraces, run.numData, rows.data(), rate));
    out.channels.assign(numTraces(), ChannelSummary());
}

void Road::finish() {
    if (out.matrix.empty()) {  // not separated: the identity was applied
        out.matrix.assign(numTraces(), std::vector<double>(numTraces(), 0.0));
        for (int t = 0; t < numTraces(); ++t) out.matrix[t][t] = 1.0;
    }
    for (int t = 0; t < numTraces(); ++t) traceOf(*cap, t).zeroDataAtEnds();
    out.processed = std::move(cap);
    out.separated = std::move(separated);
}

Road::Road(const Run& r, const ProcessOptions& o, ProcessResult& result)
    : run(r), options(o), out(result), rate(o.rate > 0.0 ? o.rate : r.rate) {}

namespace {

ProcessError refuse(ProcessErrorKind kind, const std::string& reason) {
    return {kind, reason};
}

// What the road needs of a run before it starts: rows that match the
// counts, enough samples to measure the run on, a usable rate, and a
// system matrix (when given) of the run's size with finite elements.
ProcessError checkRun(const Run& run, const ProcessOptions& options, double rate) {
    if (run.numTraces < 1) return refuse(ProcessErrorKind::noTraces, "no traces");
    if (run.numData < kMinSamples)
        return refuse(ProcessErrorKind::tooShort,
                      "too short for the road: " + std::to_string(run.numData) +
                          " samples per trace (at least " + std::to_string(kMinSamples) +
                          " needed)");
    if (static_cast<int>(run.rows.size()) != run.numTraces)
        return refuse(ProcessErrorKind::inconsistent,
                      "the run holds " + std::to_string(run.rows.size()) + " rows for " +
                          std::to_string(run.numTraces) + " traces");
    for (const std::vector<double>& row : run.rows)
        if (static_cast<int>(row.size()) < run.numData)
            return refuse(ProcessErrorKind::inconsistent, "a trace is shorter than the run");
    if (!(rate > 0.0 && rate <= kMaxRate))
        return refuse(ProcessErrorKind::badRate,
                      "no usable sampling rate (" + std::to_string(rate) + " Hz)");
    const std::vector<std::vector<double>>& m = options.systemMatrix;
    if (m.empty()) return {};
    const size_t n = m.size();
    if (static_cast<int>(n) != run.numTraces)
        return refuse(ProcessErrorKind::badMatrix,
                      "the separation matrix is " + std::to_string(n) + " x " + std::to_string(n) +
                          ", the file has " + std::to_string(run.numTraces) + " traces");
    for (const auto& row : m) {
        if (row.size() != n)
            return refuse(ProcessErrorKind::badMatrix, "the separation matrix is not square");
        for (double v : row)
            if (!std::isfinite(static_cast<float>(v)))
                return refuse(ProcessErrorKind::badMatrix,
                              "the separation matrix holds an element that is not finite in "
                              "single precision");
    }
    return {};
}

// An instrument file says what it holds; text and run-data files carry no
// such tags and are sequencing runs unless the caller says otherwise.
void decideKind(const Run& run, const ProcessOptions& options, ProcessResult& result) {
    if (options.kind != KindChoice::automatic) {
        result.kind =
            options.kind == KindChoice::fragments ? RunKind::fragments : RunKind::sequencing;
        result.kindReason = "asked for";
        return;
    }
    if (run.format != Format::abif) {
        result.kindReason = "a file without instrument tags";
        return;
    }
    const RunKindDecision d = decideRunKind(run.abif);
    result.kind = d.kind;
    result.kindReason = d.reason;
}

void analyseFragmentsOf(const Run& run, const ProcessOptions& options, double rate,
                        ProcessResult& result) {
    result.fragments = analyseFragments(fragmentRunOf(run, rate), options.fragments);
    const FragmentResult& f = result.fragments;
    result.status = runStatusOf(f.status);
    if (f.status != SizingStatus::sized)
        result.note = f.warnings.empty() ? std::string("nothing sized") : f.warnings.front();
    result.calls.note = "no base calls: a fragment-analysis run";
    result.windowEnd = run.numData - 1;  // a fragment run has no signal window: all of it counts
}

// A read of many calls of which hardly any survive quality trimming did not
// resolve into one base per spacing: a failed or weak run, bases merged into
// broad humps (an old instrument's peaks, a misread spacing). Its QVs say so
// base by base; the summary says it of the read.
constexpr int kFewTrimmed = 50;

void warnUnresolved(ProcessResult& result) {
    const BaseCalls& c = result.calls;
    const int kept = c.trimEnd - c.trimStart;
    if (static_cast<int>(c.bases.size()) < 2 * kFewTrimmed || kept >= kFewTrimmed) return;
    result.notes.push_back(
        "no confident read: " + std::to_string(kept) + " of " + std::to_string(c.bases.size()) +
        " called bases pass quality trimming (" + std::to_string(c.qv20) +
        " reach QV 20): the peaks do not resolve into one base per spacing (a failed or weak "
        "run, or bases merged into broad humps, so that the spacing is unreliable)");
}

// A read whose signal fades under the peak threshold long before its end (a
// weak run: the late bases tens of times weaker than the first) is still
// called, from the channels before sharpening, but most of its bases there
// have no peak of their own, low QVs and fall outside the trimmed read.
// Every read ends so; the summary says it where that faded stretch holds
// at least as many bases as the trimmed read itself. The stretch starts at
// the first base of kFaded of which at least half are such filled slots,
// where the rest of the read keeps at least kFadedRest of them.
void warnFaded(ProcessResult& result) {
    constexpr int kFaded = 50;
    constexpr double kFadedRest = 0.4;
    const BaseCalls& c = result.calls;
    const std::vector<BaseCall>& b = c.bases;
    const int n = static_cast<int>(b.size()), kept = c.trimEnd - c.trimStart;
    // Fewer kept bases already say "no confident read".
    if (n < 2 * kFaded || kept < kFewTrimmed) return;
    std::vector<int> filled(static_cast<size_t>(n) + 1, 0);  // filled slots before each base
    for (int i = 0; i < n; ++i) filled[i + 1] = filled[i] + (b[i].origin == BaseOrigin::filled);
    for (int i = 0; i + kFaded <= n; ++i) {
        if (2 * (filled[i + kFaded] - filled[i]) < kFaded) continue;
        const int rest = filled[n] - filled[i];
        if (rest < kFadedRest * (n - i)) continue;
        if (n - i < kept) return;
        result.notes.push_back(
            "weak signal from base " + std::to_string(i + 1) + " on: " + std::to_string(rest) +
            " of the " + std::to_string(n - i) +
            " bases from there have no peak of their own on the processed channels (the signal "
            "fades under the peak threshold), at least as many as the " +
            std::to_string(kept) +
            " of the trimmed read: they are read from the channels before sharpening, with low "
            "QVs, and the read ends early");
        return;
    }
}

// A read over a second sequence (an edited pool, a heterozygous indel, a
// mixed template) is still called as its major sequence; the summary's
// mixture says where, and so does a warning, for the user who reads
// warnings only and would otherwise take the read for a clean one.
void warnMixture(ProcessResult& result) {
    const Mixture& m = result.calls.mixture;
    if (!m.found) return;
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%.2f", m.meanSecondaryRatio);
    result.notes.push_back("a second sequence under the read from base " +
                           std::to_string(m.onsetBase + 1) + " on (second dyes at a mean " + ratio +
                           " of the called ones): the read is called as its major sequence, its "
                           "bases from there with the QVs observed over two-sequence reads");
}

// Bases are called where their letters are known: four dyes in the order
// C, A, G, T (a file with a base order, or a text format of four traces).
void callBasesOf(const Run& run, const ProcessOptions& options, ProcessResult& result,
                 StageClock& clock) {
    if (!options.callBases) {
        result.calls.note = "base calling switched off";
        return;
    }
    if (run.numTraces != 4 || run.channelNames != channelNamesOf(4, true)) {
        result.calls.note = "no base calls: the run's dyes are not four in a known base order";
        return;
    }
    result.calls =
        callBases(*result.processed, result.peaks, callInputsOf(run, result), options.calls);
    result.called = true;
    warnUnresolved(result);
    warnFaded(result);
    warnMixture(result);
    clock.lap("call");
}

}  // namespace

}  // namespace detail

CallInputs callInputsOf(const Run& run, const ProcessResult& result) {
    CallInputs in;
    in.windowStart = result.windowStart;
    in.windowEnd = result.windowEnd;
    in.spacing = result.spacing;
    in.coordinateScale = run.coordinateScale;
    in.separated = &result.separated;
    return in;
}

ProcessError process(const Run& run, const ProcessOptions& options, ProcessResult& result) {
    using detail::Road;
    result = ProcessResult();
    const double rate = options.rate > 0.0 ? options.rate : run.rate;
    result.rate = rate;
    result.rateSource = options.rate > 0.0 ? "given by the caller" : run.rateSource;
    detail::decideKind(run, options, result);
    if (const ProcessError e = detail::checkRun(run, options, rate)) return e;
    if (result.kind == RunKind::fragments) {
        detail::StageClock clock(result.stages);
        detail::analyseFragmentsOf(run, options, rate, result);
        clock.lap("fragments");
        result.totalMs = clock.total();
        return {};
    }
    Road road(run, options, result);
    detail::StageClock clock(result.stages);
    road.build();
    clock.lap("build");
    road.despike();
    clock.lap("despike");
    const bool signal = road.window();
    clock.lap("window");
    // The rest of the road, stage by stage; a run without signal ends here.
    using Stage = void (Road::*)();
    const std::pair<const char*, Stage> stages[] = {{"clean", &Road::clean},
                                                    {"separate", &Road::separate},
                                                    {"baseline", &Road::baseline},
                                                    {"ends", &Road::ends},
                                                    {"noise", &Road::noise},
                                                    {"filter", &Road::filter},
                                                    {"normalise", &Road::normalise},
                                                    {"events", &Road::events},
                                                    {"fit", &Road::fit},
                                                    {"select", &Road::select}};
    for (const auto& stage : stages) {
        if (!signal) break;
        (road.*stage.second)();
        clock.lap(stage.first);
    }
    road.finish();
    if (signal)
        detail::callBasesOf(run, options, result, clock);
    else
        result.calls.note = "no base calls: no signal";
    result.totalMs = clock.total();
    return {};
}

}  // namespace kw
