// Output files written whole or not at all: each goes to a temporary name
// beside its final one and is renamed when complete, so an interrupted run
// never leaves a half-written file under a final name, and a file from an
// earlier run stays intact until its replacement is complete.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "common/number_text.h"
#include "kwsignal/basecall.h"
#include "kwsignal/report.h"

namespace kw {
namespace {

// A name next to path that no other writer (thread or process) uses.
std::string temporaryName(const std::string& path) {
    const size_t thread = std::hash<std::thread::id>()(std::this_thread::get_id());
    return path + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(thread % 1000000);
}

std::string moveIntoPlace(const std::string& tmp, const std::string& path) {
    if (std::rename(tmp.c_str(), path.c_str()) == 0) return std::string();
    const std::string reason = "cannot write " + path + ": " + std::strerror(errno);
    std::remove(tmp.c_str());
    return reason;
}

// The called bases in the forms sequencing users exchange.
std::string writeCalls(const std::filesystem::path& d, const Run& run,
                       const ProcessResult& result) {
    const std::string name = readName(run);
    std::string problem =
        writeFileAtomically((d / "calls.fastq").string(), fastqRecord(result.calls, name));
    if (problem.empty())
        problem = writeFileAtomically((d / "calls.tsv").string(), callsTable(result.calls));
    if (problem.empty() && result.processed)
        problem = writeFileAtomically(
            (d / "calls.scf").string(),
            scfFile(*result.processed, result.calls, callInputsOf(run, result), name));
    return problem;
}

// A fragment run's sized peaks, its genotypes when a panel named alleles,
// and its summary.
std::string writeFragments(const std::filesystem::path& d, const Run& run,
                           const ProcessResult& result, double parseMs) {
    const FragmentResult& f = result.fragments;
    const bool panel = !f.genotypes.empty();
    std::string problem =
        writeFileAtomically((d / "fragments.tsv").string(), fragmentTable(f, panel));
    if (problem.empty() && panel)
        problem = writeFileAtomically((d / "genotypes.tsv").string(), genotypeTable(f));
    if (problem.empty())
        problem =
            writeFileAtomically((d / "summary.json").string(), summaryJson(run, result, parseMs));
    return problem;
}

}  // namespace

// The bytes KwCap::output writes ("%f " per sample), formatted without
// printf: a capillary holds tens of thousands of samples, and printf's
// conversion cost as much as the whole road. kw::detail::writeFixed writes what
// printf writes, so the files are the same byte for byte.
std::string exportText(const KwCap& cap) {
    const int n = cap.getNumData(), nt = cap.getNumTraces();
    std::string out;
    if (nt == 4) out += "C_A_G_T:     " + std::to_string(n) + "\n";
    if (nt == 2) out += "unknown_standard:     " + std::to_string(n) + "\n";
    out += "THIS_IS_3_Hz_DATA:\n" + std::to_string(nt) + "Traces:\n";
    // Most samples outside the signal window are 0.000000: 9 bytes a sample.
    out.reserve(out.size() + static_cast<size_t>(std::max(0, n)) * (nt * 10 + 1));
    std::vector<const KwTrace*> traces;
    for (int t = 0; t < nt; ++t) traces.push_back(cap.getPnterToTrace(t));
    kw::detail::TextBlock text(out);
    for (int s = 0; s < n; ++s) {
        for (const KwTrace* tr : traces) {
            char* p = text.reserve(kw::detail::kMaxFixedChars + 1);
            p = kw::detail::writeFixed(p, s < tr->getNumData() ? (*tr)[s] : 0.0, 6);
            *p++ = ' ';
            text.done(p);
        }
        text.put('\n');
    }
    text.flush();
    return out;
}

std::string readName(const Run& run) {
    if (!run.sampleName.empty()) return run.sampleName;
    const std::string stem = std::filesystem::path(run.path).stem().string();
    return stem.empty() ? "run" : stem;
}

std::string writeFileAtomically(const std::string& path, const std::string& text) {
    const std::string tmp = temporaryName(path);
    std::FILE* f = std::fopen(tmp.c_str(), "wb");
    if (f == nullptr) return "cannot write " + path + ": " + std::strerror(errno);
    const bool written =
        std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::ferror(f) == 0;
    if (std::fclose(f) != 0 || !written) {
        std::remove(tmp.c_str());
        return "cannot write " + path;
    }
    return moveIntoPlace(tmp, path);
}

std::string writeProcessed(const std::string& path, const KwCap& cap) {
    return writeFileAtomically(path, exportText(cap));
}

std::string writeReport(const std::string& dir, const Run& run, const ProcessResult& result,
                        double parseMs) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) return "cannot create " + dir + ": " + ec.message();
    const fs::path d(dir);
    if (result.kind == RunKind::fragments) return writeFragments(d, run, result, parseMs);
    std::string problem = result.processed
                              ? writeProcessed((d / "processed.txt").string(), *result.processed)
                              : std::string("no processed capillary to write");
    if (problem.empty())
        problem = writeFileAtomically((d / "matrix.txt").string(), matrixText(result.matrix));
    if (problem.empty())
        problem = writeFileAtomically((d / "peaks.tsv").string(), peaksTsv(run, result));
    if (problem.empty() && result.called) problem = writeCalls(d, run, result);
    if (problem.empty())
        problem =
            writeFileAtomically((d / "summary.json").string(), summaryJson(run, result, parseMs));
    return problem;
}

}  // namespace kw
