// summary.json: what was read and what the road measured and found, for
// people and for scripts that gather figures over many runs.
#include <cmath>
#include <nlohmann/json.hpp>

#include "kwsignal/report.h"

namespace kw {
namespace {

using Json = nlohmann::ordered_json;

Json finite(double v) {
    return std::isfinite(v) ? Json(v) : Json(nullptr);
}

Json matrixJson(const std::vector<std::vector<double>>& m) {
    Json rows = Json::array();
    for (const auto& row : m) {
        Json r = Json::array();
        for (double v : row) r.push_back(finite(v));
        rows.push_back(r);
    }
    return rows;
}

Json channelsJson(const Run& run, const ProcessResult& result) {
    Json channels = Json::array();
    for (size_t t = 0; t < result.channels.size(); ++t) {
        const ChannelSummary& c = result.channels[t];
        channels.push_back({{"channel", run.channelName(static_cast<int>(t))},
                            {"noise_level", finite(c.noiseLevel)},
                            {"min_height", finite(c.minHeight)},
                            {"events", c.events},
                            {"peaks", c.peaks}});
    }
    return channels;
}

Json callsJson(const ProcessResult& result) {
    const BaseCalls& c = result.calls;
    Json j = {{"called", result.called}};
    if (!c.note.empty()) j["note"] = c.note;
    if (!result.called) return j;
    j["bases"] = c.bases.size();
    j["counts"] = {{"A", c.counts[0]},
                   {"C", c.counts[1]},
                   {"G", c.counts[2]},
                   {"T", c.counts[3]},
                   {"other", c.counts[4]}};
    j["qv20_bases"] = c.qv20;
    j["contiguous_read_length"] = c.contiguousLength;
    j["contiguous_start"] = c.contiguousStart;
    j["trimmed"] = {{"start", c.trimStart}, {"end", c.trimEnd}};
    j["trimmed_mean_qv"] = finite(c.trimmedMeanQv);
    Json mobility = Json::array();
    for (const MobilityPoint& m : c.mobility)
        mobility.push_back({{"position", finite(m.position)},
                            {"C", finite(m.offset[0])},
                            {"A", finite(m.offset[1])},
                            {"G", finite(m.offset[2])},
                            {"T", finite(m.offset[3])}});
    j["mobility_offsets"] = mobility;
    const Mixture& mx = c.mixture;
    j["mixture"] = mx.found ? Json{{"test", mx.test == MixtureTest::rise ? "rise" : "share"},
                                   {"onset_base", mx.onsetBase},
                                   {"onset_sample", finite(mx.onsetSample)},
                                   {"mean_secondary_ratio", finite(mx.meanSecondaryRatio)}}
                            : Json(nullptr);
    Json blobs = Json::array();
    for (const DyeBlob& b : result.blobs)
        blobs.push_back({{"dye", b.dye >= 0 && b.dye < 4 ? std::string(1, "CAGT"[b.dye]) : "?"},
                         {"start_sample", finite(b.startSample)},
                         {"end_sample", finite(b.endSample)},
                         {"height_ratio", finite(b.heightRatio)}});
    j["blob"] = blobs;
    return j;
}

// The sizing of a fragment run: the standard, how well it fits, the peaks.
Json fragmentsJson(const FragmentResult& f) {
    Json standard = {{"name", f.standard.empty() ? Json(nullptr) : Json(f.standard)},
                     {"dye", f.standardDye >= 0 ? Json(f.standardDye) : Json(nullptr)},
                     {"dye_name", f.standardDye >= 0 && f.standardDye < int(f.dyeNames.size())
                                      ? Json(f.dyeNames[f.standardDye])
                                      : Json(nullptr)},
                     {"expected", f.expected},
                     {"identified", f.identified},
                     {"used", f.used},
                     {"confidence", finite(f.confidence)},
                     {"assignment_margin", finite(f.assignmentMargin)}};
    int sample = 0, sized = 0;
    for (const FragmentPeak& p : f.peaks) {
        sample += p.isStandard == StandardRole::none;
        sized += p.isStandard == StandardRole::none && std::isfinite(p.sizeBp);
    }
    return {{"sizing_status", sizingStatusName(f.status)},
            {"dyes", f.dyeNames},
            {"standard", standard},
            {"sizing_method", sizingMethodName(f.sizing)},
            {"leave_one_out_bp", {{"mean", finite(f.looMeanBp)}, {"max", finite(f.looMaxBp)}}},
            {"peaks", f.peaks.size()},
            {"sample_peaks", sample},
            {"sized_sample_peaks", sized},
            {"genotyped_markers", f.genotypes.size()}};
}

// Stage times and warnings close every summary.
std::string finishSummary(Json& j, const Run& run, const ProcessResult& result, double parseMs,
                          const std::vector<std::string>& notes) {
    Json stages = Json::object();
    for (const StageTime& s : result.stages) stages[s.name] = s.ms;
    j["time_ms"] = {{"parse", parseMs}, {"stages", stages}, {"pipeline", result.totalMs}};
    std::vector<std::string> warnings = run.warnings;
    warnings.insert(warnings.end(), notes.begin(), notes.end());
    j["warnings"] = warnings;
    // Bytes that are not UTF-8 (a sample name in an old code page) are
    // replaced rather than refused.
    return j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

// What every run reports: the file, the road taken and its outcome.
Json runJson(const Run& run, const ProcessResult& result) {
    Json j;
    j["file"] = run.path;
    j["format"] = formatName(run.format);
    j["instrument"] = run.instrument;
    j["sample"] = run.sampleName;
    j["kind"] = runKindName(result.kind);
    j["kind_reason"] = result.kindReason;
    j["status"] = runStatusName(result.status);
    if (!result.note.empty()) j["status_reason"] = result.note;
    j["traces"] = run.numTraces;
    j["samples"] = run.numData;
    j["rate_hz"] = finite(result.rate);
    j["rate_source"] = result.rateSource;
    j["coordinate_scale"] = run.coordinateScale;
    return j;
}

}  // namespace

std::string summaryJson(const Run& run, const ProcessResult& result, double parseMs) {
    Json j = runJson(run, result);
    if (result.kind == RunKind::fragments) {
        j["fragments"] = fragmentsJson(result.fragments);
        return finishSummary(j, run, result, parseMs, result.fragments.warnings);
    }
    j["window"] = {{"start", result.windowStart}, {"end", result.windowEnd}};
    j["peak_spacing"] = finite(result.spacing);
    j["peak_sigma"] = {{"start", finite(result.sigmaStart)}, {"end", finite(result.sigmaEnd)}};
    j["separation"] = {{"mode", separationModeName(result.separation)},
                       {"accepted", result.separationAccepted},
                       {"matrix", matrixJson(result.matrix)}};
    j["channels"] = channelsJson(run, result);
    j["min_peak_height"] = finite(result.minPeakHeight);
    j["events"] = result.numEvents;
    j["peaks"] = result.peaks.size();
    j["calls"] = callsJson(result);
    return finishSummary(j, run, result, parseMs, result.notes);
}

}  // namespace kw
