// Processor time of the fragment road (kw::analyseFragments on a run
// already read) per file, the best of several calls, and the mean and
// longest over the files (not installed).
//
//     fragments_time [--calls N] FILE...      (N calls a file, 8 by default)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "kwsignal/abif.h"
#include "kwsignal/fragments.h"

namespace {

double processorSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

}  // namespace

int main(int argc, char** argv) {
    int calls = 8;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--calls") == 0 && i + 1 < argc)
            calls = std::max(1, std::atoi(argv[++i]));
        else
            files.push_back(argv[i]);
    }
    double sum = 0.0, longest = 0.0;
    std::string longestFile;
    int timed = 0;
    for (const std::string& path : files) {
        const kw::AbifRun abif = kw::readAbif(path);
        if (!abif.error.empty()) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), abif.error.c_str());
            continue;
        }
        const kw::FragmentRun run = kw::fragmentRunOf(abif);
        double best = 1e9;
        for (int c = 0; c < calls; ++c) {
            const double t0 = processorSeconds();
            const kw::FragmentResult r = kw::analyseFragments(run, kw::FragmentOptions());
            best = std::min(best, processorSeconds() - t0);
            volatile std::size_t listed = r.peaks.size();  // the result is used
            (void)listed;
        }
        const std::size_t scans = run.dyes.empty() ? 0 : run.dyes[0].size();
        std::printf("%8.2f ms %6zu scans %s\n", 1e3 * best, scans, path.c_str());
        sum += best;
        ++timed;
        if (best > longest) {
            longest = best;
            longestFile = path;
        }
    }
    if (timed > 0)
        std::printf("%d runs: mean %.2f ms, longest %.2f ms (%s)\n", timed, 1e3 * sum / timed,
                    1e3 * longest, longestFile.c_str());
    return timed > 0 ? 0 : 2;
}
