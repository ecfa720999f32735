#include "writers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>
#include <thread>

namespace kwapp {
namespace {

// A name next to path that no other writer (thread or process) uses.
std::string temporaryName(const std::string& path) {
    const size_t thread = std::hash<std::thread::id>()(std::this_thread::get_id());
    return path + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(thread % 1000000);
}

std::string moveIntoPlace(const std::string& tmp, const std::string& path) {
    if (std::rename(tmp.c_str(), path.c_str()) == 0) return std::string();
    const std::string reason = std::string("cannot write ") + path + ": " + std::strerror(errno);
    std::remove(tmp.c_str());
    return reason;
}

std::string fixed(double v, int decimals) {
    if (!std::isfinite(v)) return "nan";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

nlohmann::ordered_json matrixJson(const std::vector<std::vector<double>>& m) {
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    for (const auto& row : m) rows.push_back(row);
    return rows;
}

nlohmann::ordered_json finite(double v) {
    return std::isfinite(v) ? nlohmann::ordered_json(v) : nlohmann::ordered_json(nullptr);
}

}  // namespace

const char* const kPeaksHeader =
    "channel\ttrace_code\tlocatn\theight\tsigma\tbase\tarea\tstart_pnt\tend_pnt\tvariance";

std::string writeAtomically(const std::string& path, const std::function<bool(std::FILE*)>& write) {
    const std::string tmp = temporaryName(path);
    std::FILE* f = std::fopen(tmp.c_str(), "w");
    if (f == nullptr) return "cannot write " + path + ": " + std::strerror(errno);
    const bool written = write(f) && std::ferror(f) == 0;
    if (std::fclose(f) != 0 || !written) {
        std::remove(tmp.c_str());
        return "cannot write " + path;
    }
    return moveIntoPlace(tmp, path);
}

std::string writeThroughTemporary(const std::string& path,
                                  const std::function<void(const std::string&)>& write) {
    const std::string tmp = temporaryName(path);
    write(tmp);
    struct stat st {};
    if (stat(tmp.c_str(), &st) != 0 || st.st_size == 0) {
        std::remove(tmp.c_str());
        return "cannot write " + path;
    }
    return moveIntoPlace(tmp, path);
}

std::string writePeaks(const std::string& path, const RawRun& run, const PipelineResult& result) {
    const double scale = run.coordinateScale;
    return writeAtomically(path, [&](std::FILE* f) {
        std::fprintf(f, "%s\n", kPeaksHeader);
        for (const KwPeak& p : result.peaks) {
            const int code = p.getTraceCode();
            const std::string name = code >= 0 && code < static_cast<int>(run.channelNames.size())
                                         ? run.channelNames[code]
                                         : std::to_string(code);
            std::fprintf(f, "%s\t%d\t%s\t%s\t%s\t%s\t%s\t%d\t%d\t%.6g\n", name.c_str(), code,
                         fixed(p.getLocatn() / scale, 3).c_str(), fixed(p.getHeight(), 3).c_str(),
                         fixed(p.getSigma() / scale, 4).c_str(), fixed(p.getBase(), 3).c_str(),
                         fixed(p.getArea() / scale, 3).c_str(),
                         static_cast<int>(std::floor(p.getStartPnt() / scale)),
                         static_cast<int>(std::ceil(p.getEndPnt() / scale)), p.getVariance());
        }
        return true;
    });
}

std::string writeMatrix(const std::string& path, const std::vector<std::vector<double>>& m) {
    const int n = static_cast<int>(m.size());
    KwSpecSepTable table(n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) table(i, j) = m[i][j];
    return writeThroughTemporary(path, [&](const std::string& tmp) { table.output(tmp.c_str()); });
}

std::string writeProcessed(const std::string& path, const KwCap& cap) {
    return writeThroughTemporary(path, [&](const std::string& tmp) {
        std::vector<char> name(tmp.begin(), tmp.end());
        name.push_back('\0');
        cap.output(name.data());
    });
}

std::string writeSummary(const std::string& path, const RawRun& run, const PipelineResult& result,
                         double parseMs) {
    nlohmann::ordered_json j;
    j["file"] = run.path;
    j["format"] = formatName(run.format);
    j["instrument"] = run.instrument;
    j["status"] = result.status;
    if (!result.note.empty()) j["status_reason"] = result.note;
    j["traces"] = run.numTraces;
    j["samples"] = run.numData;
    j["rate_hz"] = run.rate;
    j["rate_source"] = run.rateSource;
    j["coordinate_scale"] = run.coordinateScale;
    j["window"] = {{"start", result.windowStart}, {"end", result.windowEnd}};
    j["peak_spacing"] = finite(result.spacing);
    j["peak_sigma"] = {{"start", finite(result.sigmaStart)}, {"end", finite(result.sigmaEnd)}};
    j["separation"] = {{"mode", result.separation},
                       {"accepted", result.separationAccepted},
                       {"matrix", matrixJson(result.matrix)}};
    nlohmann::ordered_json channels = nlohmann::ordered_json::array();
    for (size_t t = 0; t < result.channels.size(); ++t) {
        const ChannelSummary& c = result.channels[t];
        channels.push_back({{"channel", t < run.channelNames.size() ? run.channelNames[t] : ""},
                            {"noise_level", finite(c.noiseLevel)},
                            {"min_height", finite(c.minHeight)},
                            {"events", c.events},
                            {"peaks", c.peaks}});
    }
    j["channels"] = channels;
    j["min_peak_height"] = finite(result.minPeakHeight);
    j["events"] = result.numEvents;
    j["peaks"] = result.peaks.size();
    nlohmann::ordered_json stages;
    for (const StageTime& s : result.stages) stages[s.name] = s.ms;
    j["time_ms"] = {{"parse", parseMs}, {"stages", stages}, {"pipeline", result.totalMs}};
    std::vector<std::string> warnings = run.warnings;
    warnings.insert(warnings.end(), result.notes.begin(), result.notes.end());
    j["warnings"] = warnings;
    const std::string text = j.dump(2) + "\n";
    return writeAtomically(path, [&](std::FILE* f) {
        return std::fwrite(text.data(), 1, text.size(), f) == text.size();
    });
}

}  // namespace kwapp
