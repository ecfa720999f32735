// Any file through the command-line tool's reading: format recognised from
// the content (ABIF, .qrd, export, processed, N_LINES:, indexed), checked,
// then read by the library. A file is either refused with a reason or
// becomes a run of finite samples and a usable rate.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "formats.h"
#include "fuzz_util.h"

namespace {

void checkRun(const kwapp::RawRun& run) {
    kwfuzz::require(run.numTraces >= 1 && static_cast<int>(run.rows.size()) == run.numTraces,
                    "rows of every trace");
    kwfuzz::require(static_cast<int>(run.channelNames.size()) == run.numTraces, "channel names");
    kwfuzz::require(std::isfinite(run.rate) && run.rate > 0.0, "usable rate");
    for (const std::vector<double>& row : run.rows) {
        kwfuzz::require(static_cast<int>(row.size()) == run.numData, "rows of numData");
        for (double v : row) kwfuzz::require(std::isfinite(v), "finite samples");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = kwfuzz::scratchPath("input");
    kwfuzz::writeFile(path, data, size);
    kwapp::RawRun run;
    const std::string problem = kwapp::loadRun(path, kwapp::Format::automatic, run);
    if (problem.empty()) checkRun(run);
    // The same file with a format named on the command line (one per input,
    // from its length): read as that format or refused.
    const kwapp::Format asked = static_cast<kwapp::Format>(size % 7);
    if (asked == kwapp::Format::automatic) return 0;
    kwapp::RawRun named;
    if (kwapp::loadRun(path, asked, named).empty()) {
        checkRun(named);
        kwfuzz::require(named.format == asked, "read as the format asked for");
    }
    return 0;
}
