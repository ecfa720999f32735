// The variant analysis on the training traces: each read against its own
// instrument's calls (no variant should pass), and with a heterozygous
// indel mixed into its raw data (a copy shifted by k bases added from a
// chosen base on): is the indel found, with its size, start and share?
//
// usage: variants_bench [TRAIN_DIR [FILE_PART]]  (with FILE_PART: only the files
// whose name holds it, every pair's outcome printed)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "kwsignal/process.h"
#include "kwsignal/run.h"
#include "kwsignal/variants.h"
#include "mixed_trace.h"

namespace {

constexpr int kOnsetAfterTrim = 100;  // bases into the read the second allele starts
const int kShifts[] = {-20, -12, -6, -3, -1, 1, 2, 4, 8, 15, 25};
const double kRatios[] = {0.5, 1.0};

bool processRun(kw::Run& run, kw::ProcessResult& out) {
    return !kw::process(run, kw::ProcessOptions(), out) && out.called;
}

struct Tally {
    int pairs = 0, found = 0, sized = 0, placed = 0;
    double shareError = 0.0;
};

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : "../shared/data/abif/train";
    const std::string only = argc > 2 ? argv[2] : "";
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().extension() == ".ab1" &&
            e.path().filename().string().find(only) != std::string::npos)
            files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    int selfFiles = 0, selfPassing = 0;
    std::map<int, Tally> bySize;
    std::map<std::string, Tally> bySource;  // the part of the file name before "__"
    for (const std::string& path : files) {
        kw::Run run;
        kw::ProcessResult clean;
        if (kw::readRun(path, run) || !processRun(run, clean) || run.calls().size() < 200) continue;
        const kw::BaseCalls& calls = clean.calls;
        const kw::Reference ref{"calls", run.calls()};
        const kw::VariantResult self = kw::analyseVariants(calls, ref);
        if (self.status != "ok" || calls.trimEnd - calls.trimStart < 250 || self.mixedFrom >= 0)
            continue;
        ++selfFiles;
        for (const kw::Variant& v : self.variants) selfPassing += v.qv >= self.minQv;
        const int onset = calls.trimStart + kOnsetAfterTrim;
        // Where read base `onset` lies on the reference.
        const int expected = onset + (self.referenceStart - self.readStart);
        for (int shift : kShifts)
            for (double ratio : kRatios) {
                kw::Run mixed;
                kw::ProcessResult p;
                if (kw::readRun(path, mixed)) continue;
                kwtest::mixShifted(mixed, calls, onset, shift, ratio);
                if (!processRun(mixed, p)) continue;
                const kw::VariantResult r = kw::analyseVariants(p.calls, ref);
                if (!only.empty()) {
                    std::printf("%s shift %d ratio %.1f onset %d: %s mixed_from %d\n", path.c_str(),
                                shift, ratio, onset, r.message.c_str(), r.mixedFrom);
                    for (const std::string& w : r.warnings) std::printf("  %s\n", w.c_str());
                    std::string profile;
                    for (const kw::BaseCall& b : p.calls.bases)
                        profile += b.secondaryRatio >= 0.2 ? '#' : '.';
                    std::printf("  trim %d..%d %s\n", p.calls.trimStart, p.calls.trimEnd,
                                profile.c_str());
                    std::printf("%s", kw::variantsTsv(r).c_str());
                }
                const std::string name = std::filesystem::path(path).filename().string();
                Tally& source = bySource[name.substr(0, name.find("__"))];
                ++source.pairs;
                Tally& t = bySize[-shift];
                ++t.pairs;
                for (const kw::Variant& v : r.variants) {
                    if (v.kind.rfind("het_", 0) != 0 || v.size == 0) continue;
                    ++t.found;
                    if (v.size != -shift) break;
                    ++t.sized;
                    ++source.sized;
                    t.placed += std::abs(v.position - expected) <= std::abs(shift) + 3;
                    t.shareError += std::abs(v.fraction - ratio / (1.0 + ratio));
                    break;
                }
            }
    }
    std::printf("against their own calls: %d reads, %d variants at QV >= 20\n", selfFiles,
                selfPassing);
    std::printf("size  pairs  found  right_size  placed  mean_share_error\n");
    Tally all;
    for (const auto& [size, t] : bySize) {
        std::printf("%4d  %5d  %5d  %10d  %6d  %.3f\n", size, t.pairs, t.found, t.sized, t.placed,
                    t.sized ? t.shareError / t.sized : 0.0);
        all.pairs += t.pairs, all.found += t.found, all.sized += t.sized, all.placed += t.placed;
        all.shareError += t.shareError;
    }
    for (const auto& [source, t] : bySource)
        std::printf("source %s: %d of %d sized right\n", source.c_str(), t.sized, t.pairs);
    std::printf(" all  %5d  %5d  %10d  %6d  %.3f\n", all.pairs, all.found, all.sized, all.placed,
                all.sized ? all.shareError / all.sized : 0.0);
    return 0;
}
