// Development driver for the fragment road (not built by CMake, not
// installed): runs analyseFragments over ABIF files, writes each file's
// fragments.tsv into a folder and prints one line a file.
//
//     scripts/fragments_train.sh [local|cubic|lsq3]
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

#include "kwsignal/kwsignal.h"

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s METHOD OUTDIR FILE...\n", argv[0]);
        return 2;
    }
    kw::FragmentOptions options;
    if (!kw::parseSizingMethod(argv[1], options.sizing)) return 2;
    for (int i = 3; i < argc; ++i) {
        const std::string path = argv[i];
        const kw::AbifRun run = kw::readAbif(path);
        const auto t0 = std::chrono::steady_clock::now();
        const int repeats = 5;
        kw::FragmentResult r;
        for (int k = 0; k < repeats; ++k) r = kw::analyseFragments(run, options);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count() /
            repeats;
        const std::string stem = path.substr(path.rfind('/') + 1);
        std::ofstream(std::string(argv[2]) + "/" + stem + ".tsv") << kw::fragmentTable(r, false);
        const kw::RunKindDecision kind = kw::decideRunKind(run);
        std::printf(
            "%-44.44s %-10s %-17s %-8s dye%d %2d/%2d/%2d loo %.3f/%.3f conf %.2f %5.1f ms | %s",
            stem.c_str(), kw::runKindName(kind.kind), kw::sizingStatusName(r.status),
            r.standard.c_str(), r.standardDye, r.used, r.identified, r.expected, r.looMeanBp,
            r.looMaxBp, r.confidence, ms, run.standardName.c_str());
        for (const std::string& w : r.warnings) std::printf(" | %s", w.c_str());
        std::printf("\n");
    }
    return 0;
}
