// Reads one trace file, runs the default road on it and prints its peaks as
// the kwsignal tool's peaks.tsv, against the installed library:
//
//   cmake -S examples -B build-example -DCMAKE_PREFIX_PATH=/usr/local
//   cmake --build build-example && build-example/process_file sample.ab1
#include <kwsignal/kwsignal.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: process_file FILE\n");
        return 2;
    }
    kw::Run run;
    if (const kw::ReadError e = kw::readRun(argv[1], run)) {
        std::fprintf(stderr, "%s\n", e.message.c_str());
        return 1;
    }
    kw::ProcessResult result;
    if (const kw::ProcessError e = kw::process(run, kw::ProcessOptions(), result)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], e.reason.c_str());
        return 1;
    }
    if (result.status != kw::RunStatus::ok)
        std::fprintf(stderr, "%s: no signal (%s)\n", argv[1], result.note.c_str());
    // Each row: channel, trace code, centre in the file's own samples,
    // height, width, base, area, the event's ends and the fit's residual.
    std::fputs(kw::peaksTsv(run, result).c_str(), stdout);
    std::fprintf(stderr, "%s: %zu peaks, window %d..%d, %.1f ms\n", argv[1], result.peaks.size(),
                 result.windowStart, result.windowEnd, result.totalMs);
    return 0;
}
