// The edit analysis on files and runs, and its JSON and table outputs.
#include <cmath>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>

#include "common/name_table.h"
#include "editing/base_edit.h"
#include "editing/editing.h"
#include "kwsignal/capillary.h"
#include "kwsignal/process.h"
#include "kwsignal/report.h"
#include "kwsignal/run.h"

namespace kw {

namespace {

constexpr detail::Named<EditStatus> kEditStatuses[] = {
    {EditStatus::ok, "ok"},
    {EditStatus::unreadable, "unreadable"},
    {EditStatus::badInput, "bad_input"},
    {EditStatus::guideNotFound, "guide_not_found"},
    {EditStatus::noAlignment, "no_alignment"},
    {EditStatus::weakControl, "weak_control"},
    {EditStatus::weakSample, "weak_sample"}};

constexpr int kTraceBefore = 20;  // bases shown before the first cut
constexpr int kTraceAfter = 30;   // and after it

// The separated channels under bases [first, last) of calls, one value per
// input-file sample; firstBase names the control base of `first`.
EditTraceWindow traceWindow(const Run& run, const ProcessResult& p, int first, int last,
                            int firstBase) {
    EditTraceWindow w;
    const std::vector<BaseCall>& bases = p.calls.bases;
    const int given = first;
    first = std::max(first, 0);
    last = std::min(last, static_cast<int>(bases.size()));
    if (first >= last || p.separated.size() < 4) return w;
    const double scale = run.coordinateScale > 0.0 ? run.coordinateScale : 1.0;
    const double from = bases[static_cast<size_t>(first)].position - 6.0;
    const double to = bases[static_cast<size_t>(last - 1)].position + 6.0;
    w.firstSample = std::max(0.0, std::floor(from));
    w.firstBase = firstBase + (first - given);
    for (double x = w.firstSample; x <= to; x += 1.0) {
        const long at = std::lround(x * scale);
        for (int c = 0; c < 4; ++c) {
            const std::vector<double>& row = p.separated[static_cast<size_t>(c)];
            w.channels[static_cast<size_t>(c)].push_back(
                at >= 0 && at < static_cast<long>(row.size()) ? row[static_cast<size_t>(at)] : 0.0);
        }
    }
    for (int i = first; i < last; ++i) {
        w.basePositions.push_back(bases[static_cast<size_t>(i)].position);
        w.bases += bases[static_cast<size_t>(i)].base;
    }
    return w;
}

nlohmann::json finite(double v) {
    return std::isfinite(v) ? nlohmann::json(v) : nlohmann::json();
}

double rounded(double v, double unit) {
    return std::round(v / unit) / (1.0 / unit);
}

// The separated channels (baseline removed, colours separated, neither
// sharpened nor normalised) as a capillary on the processed one's axis:
// they add up as the templates of a pool do, where the sharpened and
// normalised channels do not. The processed capillary when they are
// missing.
const KwCap* fitChannels(const ProcessResult& p, std::unique_ptr<KwCap>& own) {
    const auto& rows = p.separated;
    if (rows.size() < 4 || rows[0].empty() || !p.processed) return p.processed.get();
    for (const auto& r : rows)
        if (r.size() != rows[0].size()) return p.processed.get();
    std::vector<double*> data;
    for (const auto& r : rows) data.push_back(const_cast<double*>(r.data()));
    own = std::make_unique<KwCap>(static_cast<int>(rows.size()), static_cast<int>(rows[0].size()),
                                  data.data(), p.rate);
    return own.get();
}

}  // namespace

EditResult editRuns(const Run& controlRun, const ProcessResult& control, const Run& sampleRun,
                    const ProcessResult& sample, const EditOptions& options) {
    std::unique_ptr<KwCap> sampleOwn, controlOwn;
    EditResult r = analyseEdit(control.calls, sample.calls, options, fitChannels(sample, sampleOwn),
                               sampleRun.coordinateScale > 0.0 ? sampleRun.coordinateScale : 1.0,
                               fitChannels(control, controlOwn),
                               controlRun.coordinateScale > 0.0 ? controlRun.coordinateScale : 1.0);
    r.controlName = controlRun.path;
    r.sampleName = sampleRun.path;
    if (r.sites.empty()) return r;
    if (options.baseEdit) r.baseEdits = analyseBaseEdit(sample.calls, r.sites, &control.calls);
    const int cut = r.sites.front().cut;
    const int a = cut - kTraceBefore, b = cut + kTraceAfter;
    r.controlTrace = traceWindow(controlRun, control, a, b, a);
    r.sampleTrace = traceWindow(sampleRun, sample, a - r.offset, b - r.offset, a);
    return r;
}

const char* editStatusName(EditStatus status) {
    return detail::nameOf(kEditStatuses, status);
}

bool parseEditStatus(const std::string& name, EditStatus& status) {
    return detail::parseName(kEditStatuses, name, status);
}

EditResult editFiles(const std::string& controlPath, const std::string& samplePath,
                     const EditOptions& options) {
    Run runs[2];
    ProcessResult results[2];
    const std::string paths[2] = {controlPath, samplePath};
    for (int i = 0; i < 2; ++i) {
        EditResult r;
        r.controlName = controlPath;
        r.sampleName = samplePath;
        r.status = EditStatus::unreadable;
        if (const ReadError e = readRun(paths[i], runs[i])) {
            r.message = e.message;
            return r;
        }
        if (const ProcessError e = process(runs[i], ProcessOptions(), results[i])) {
            r.message = paths[i] + ": " + e.reason;
            return r;
        }
        if (!results[i].called) {
            r.message = paths[i] + ": no bases called (" +
                        (results[i].calls.note.empty() ? results[i].note : results[i].calls.note) +
                        ")";
            return r;
        }
    }
    return editRuns(runs[0], results[0], runs[1], results[1], options);
}

std::string editJson(const EditResult& r) {
    nlohmann::ordered_json j;
    j["schema"] = kEditSchema;
    j["status"] = editStatusName(r.status);
    j["message"] = r.message;
    j["warnings"] = r.warnings;
    j["control"] = r.controlName;
    j["sample"] = r.sampleName;
    const bool ok = r.status == EditStatus::ok;
    auto figure = [&](double v) {
        return ok ? nlohmann::json(rounded(v, 1e-4)) : nlohmann::json();
    };
    j["edited_fraction"] = figure(r.editedFraction);
    j["edited_interval"] =
        ok ? nlohmann::json::array({rounded(r.editedLow, 1e-4), rounded(r.editedHigh, 1e-4)})
           : nlohmann::json();
    j["knockout_fraction"] = figure(r.knockoutFraction);
    j["hdr_fraction"] = figure(r.hdrFraction);
    j["r2"] = figure(r.r2);
    j["unlisted_high"] = figure(r.unlistedHigh);
    j["outcomes"] = nlohmann::json::array();
    for (const EditOutcome& o : r.outcomes)
        j["outcomes"].push_back(nlohmann::ordered_json{{"kind", o.kind},
                                                       {"size", o.size},
                                                       {"position", o.position},
                                                       {"sequence", o.sequence},
                                                       {"fraction", rounded(o.fraction, 1e-4)},
                                                       {"low", rounded(o.low, 1e-4)},
                                                       {"high", rounded(o.high, 1e-4)}});
    j["sites"] = nlohmann::json::array();
    for (const GuideSite& s : r.sites)
        j["sites"].push_back(nlohmann::ordered_json{{"guide", s.guide},
                                                    {"strand", s.reverse ? "-" : "+"},
                                                    {"start", s.start},
                                                    {"cut", s.cut},
                                                    {"mismatches", s.mismatches},
                                                    {"pam_found", s.pamFound}});
    nlohmann::json shifts = nlohmann::json::array();
    for (double v : r.dyeShifts) shifts.push_back(rounded(v, 1e-2));
    j["fit"] = ok ? nlohmann::ordered_json{{"start", r.fitStart},
                                           {"end", r.fitEnd},
                                           {"offset", r.offset},
                                           {"dye_shifts", shifts}}
                  : nlohmann::ordered_json();
    nlohmann::json values = nlohmann::json::array();
    for (double v : r.discordance)
        values.push_back(finite(std::isfinite(v) ? rounded(v, 1e-3) : v));
    j["discordance"] = nlohmann::ordered_json{{"start", r.discordanceStart}, {"values", values}};
    if (!r.baseEdits.empty()) j["base_edit"] = kw::detail::baseEditJson(r.baseEdits);
    j["control_mean_qv"] = rounded(r.controlMeanQv, 0.01);
    j["sample_mean_qv"] = rounded(r.sampleMeanQv, 0.01);
    return j.dump(2) + "\n";
}

std::string editTsv(const EditResult& r) {
    std::string out = "kind\tsize\tposition\tsequence\tfraction\tlow\thigh\n";
    char buf[64];
    for (const EditOutcome& o : r.outcomes) {
        std::snprintf(buf, sizeof buf, "\t%.4f\t%.4f\t%.4f\n", o.fraction, o.low, o.high);
        out += o.kind + "\t" + std::to_string(o.size) + "\t" + std::to_string(o.position) + "\t" +
               o.sequence + buf;
    }
    return out;
}

std::string writeEditReport(const std::string& dir, const EditResult& result) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) return "cannot create " + dir + ": " + ec.message();
    const fs::path d(dir);
    std::string problem = writeFileAtomically((d / "edit.json").string(), editJson(result));
    if (problem.empty()) problem = writeFileAtomically((d / "edit.tsv").string(), editTsv(result));
    if (problem.empty())
        problem = writeFileAtomically((d / "report.html").string(), editReportHtml(result));
    if (problem.empty() && !result.baseEdits.empty())
        problem = writeFileAtomically((d / "base_edit.tsv").string(),
                                      kw::detail::baseEditTsv(result.baseEdits));
    return problem;
}

}  // namespace kw
