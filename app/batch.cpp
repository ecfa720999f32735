#include "batch.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>

#include "kwsignal/report.h"

namespace kwapp {

namespace fs = std::filesystem;

std::vector<std::string> outputFolders(const std::vector<std::string>& files,
                                       const std::string& outDir) {
    std::map<std::string, int> seen;
    std::vector<std::string> folders;
    for (const std::string& f : files) {
        std::string stem = fs::path(f).stem().string();
        if (stem.empty() || stem == "." || stem == "..") stem = "capillary";
        const int n = ++seen[stem];
        folders.push_back(
            (fs::path(outDir) / (n == 1 ? stem : stem + "-" + std::to_string(n))).string());
    }
    return folders;
}

namespace {
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// The messages of a batch: one line per failure or warning, and a progress
// line kept at the bottom of a terminal.
class Reporter {
public:
    Reporter(size_t files, bool showProgress)
        : total(files), progress(showProgress), t0(Clock::now()) {}

    void started(const std::string& file) {
        std::lock_guard<std::mutex> lock(mutex);
        current = file;
        drawProgress();
    }
    void finished(const std::string& file, const FileReport& report) {
        std::lock_guard<std::mutex> lock(mutex);
        ++done;
        clearProgress();
        if (report.outcome == Outcome::failed)
            std::fprintf(stderr, "kwsignal: %s: %s\n", file.c_str(), report.reason.c_str());
        if (report.outcome == Outcome::noSignal)
            std::fprintf(stderr, "kwsignal: warning: %s: %s (%s)\n", file.c_str(),
                         report.status == kw::RunStatus::noSignal
                             ? "no signal"
                             : kw::runStatusName(report.status),
                         report.reason.c_str());
        drawProgress();
    }
    void close() {
        std::lock_guard<std::mutex> lock(mutex);
        clearProgress();
    }

private:
    void clearProgress() {
        if (progress) std::fprintf(stderr, "\r\033[K");
    }
    void drawProgress() {
        if (!progress) return;
        const double elapsed = secondsSince(t0);
        char eta[32] = "--";  // no estimate before the first file is done
        if (done > 0) std::snprintf(eta, sizeof eta, "%.1f s", elapsed / done * (total - done));
        std::fprintf(stderr, "\r\033[K[%zu/%zu] %s  elapsed %.1f s  ETA %s", done, total,
                     done < total ? current.c_str() : "done", elapsed, eta);
        std::fflush(stderr);
    }

    std::mutex mutex;
    size_t total;
    size_t done = 0;
    bool progress;
    Clock::time_point t0;
    std::string current;
};

}  // namespace

std::string writeOutputs(const std::string& dir, const kw::Run& run,
                         const kw::ProcessResult& result, double parseMs) {
    std::string problem = kw::writeReport(dir, run, result, parseMs);
    if (problem.empty())
        problem = kw::writePlot((fs::path(dir) / "plot.svg").string(), run, result);
    return problem;
}

FileReport processFile(const std::string& path, const std::string& outDir,
                       const BatchOptions& options) {
    FileReport report;
    const auto t0 = Clock::now();
    kw::Run run;
    if (const kw::ReadError e = kw::readRun(path, run, options.format)) {
        report.reason = e.reason;
        return report;
    }
    const double parseMs = secondsSince(t0) * 1000.0;
    kw::ProcessResult result;
    if (const kw::ProcessError e = kw::process(run, options.road, result)) {
        report.reason = e.reason;
        return report;
    }
    if (options.road.rate > 0.0) result.rateSource = "command line";
    report.reason = writeOutputs(outDir, run, result, parseMs);
    if (!report.reason.empty()) return report;
    report.outcome = result.status == kw::RunStatus::ok ? Outcome::ok : Outcome::noSignal;
    report.status = result.status;
    report.reason = result.note;
    return report;
}

int runBatch(const std::vector<std::string>& files, int jobs, bool quiet,
             const std::function<FileReport(size_t)>& work) {
    std::vector<FileReport> reports(files.size());
    Reporter reporter(files.size(), !quiet && isatty(STDERR_FILENO));
    std::atomic<size_t> next{0};
    auto worker = [&]() {
        for (size_t k = next++; k < files.size(); k = next++) {
            reporter.started(files[k]);
            reports[k] = work(k);
            reporter.finished(files[k], reports[k]);
        }
    };
    const int threads = std::max(1, std::min<int>(jobs, static_cast<int>(files.size())));
    std::vector<std::thread> pool;
    for (int j = 1; j < threads; ++j) pool.emplace_back(worker);
    worker();
    for (std::thread& t : pool) t.join();
    reporter.close();
    int status = kExitOk;
    for (const FileReport& r : reports) {
        if (r.outcome == Outcome::failed) return kExitFailed;
        if (r.outcome == Outcome::noSignal) status = kExitNoSignal;
    }
    return status;
}

bool loadPanel(const std::string& panelPath, const std::string& ladderPath, BatchOptions& options) {
    kw::Panel& panel = options.road.fragments.panel;
    std::ifstream in(panelPath);
    std::string error;
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) error = "cannot read the file";
    if (error.empty() && !kw::parsePanel(text, panel, error)) panel = kw::Panel();
    if (error.empty() && panel.empty()) error = "no markers";
    if (!error.empty()) {
        std::fprintf(stderr, "kwsignal: %s: %s\n", panelPath.c_str(), error.c_str());
        return false;
    }
    if (ladderPath.empty()) return true;
    // The ladder is processed as a fragment run like the samples; each
    // marker's bins move by the offset its alleles show there.
    kw::Run run;
    kw::ProcessResult ladder;
    kw::ProcessOptions road = options.road;
    road.kind = kw::KindChoice::fragments;
    if (const kw::ReadError e = kw::readRun(ladderPath, run, options.format)) error = e.reason;
    if (error.empty())
        if (const kw::ProcessError e = kw::process(run, road, ladder)) error = e.reason;
    if (error.empty() && ladder.status != kw::RunStatus::ok)
        error = kw::runStatusName(ladder.status) + (" (" + ladder.note + ")");
    if (error.empty() && kw::calibratePanel(panel, ladder.fragments) == 0)
        error = "no marker of the panel could be placed on it";
    if (!error.empty()) {
        std::fprintf(stderr, "kwsignal: %s: allelic ladder: %s\n", ladderPath.c_str(),
                     error.c_str());
        return false;
    }
    return true;
}

int processFiles(const std::vector<std::string>& files, const BatchOptions& options) {
    const std::vector<std::string> folders = outputFolders(files, options.outDir);
    return runBatch(files, options.jobs, options.quiet,
                    [&](size_t k) { return processFile(files[k], folders[k], options); });
}

namespace {

// The record of one file's calls, trimmed when asked.
FileReport callRecord(const std::string& path, const CallCommand& command, std::string& record) {
    FileReport report;
    kw::Run run;
    if (const kw::ReadError e = kw::readRun(path, run, command.batch.format)) {
        report.reason = e.reason;
        return report;
    }
    kw::ProcessResult result;
    if (const kw::ProcessError e = kw::process(run, command.batch.road, result)) {
        report.reason = e.reason;
        return report;
    }
    if (result.status != kw::RunStatus::ok) {
        report.outcome = Outcome::noSignal;
        report.status = result.status;
        report.reason = result.note;
        return report;
    }
    if (!result.called) {
        report.reason = result.calls.note;
        return report;
    }
    kw::BaseCalls calls = result.calls;
    if (command.trim) {
        const auto& b = result.calls.bases;
        calls.bases.assign(b.begin() + calls.trimStart, b.begin() + calls.trimEnd);
    }
    const std::string name = kw::readName(run);
    record = command.fasta ? kw::fastaRecord(calls, name) : kw::fastqRecord(calls, name);
    report.outcome = Outcome::ok;
    return report;
}

}  // namespace

int callFiles(const std::vector<std::string>& files, const CallCommand& command) {
    std::vector<std::string> records(files.size());
    const int status = runBatch(files, command.batch.jobs, command.batch.quiet, [&](size_t k) {
        return callRecord(files[k], command, records[k]);
    });
    std::string all;
    for (const std::string& r : records) all += r;
    if (command.out.empty()) {
        std::fwrite(all.data(), 1, all.size(), stdout);
        return status;
    }
    const std::string problem = kw::writeFileAtomically(command.out, all);
    if (!problem.empty()) {
        std::fprintf(stderr, "kwsignal: %s\n", problem.c_str());
        return kExitFailed;
    }
    return status;
}

}  // namespace kwapp
