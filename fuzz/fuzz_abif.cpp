// ABIF instrument files (.ab1, .fsa) from memory: whatever the bytes, the
// reader either reports an error naming the file or hands back four rows of
// equal length and a usable sampling rate.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "fuzz_util.h"
#include "kwsignal/abif.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const kw::AbifRun run = kw::readAbifBytes(data, size, "fuzz.ab1");
    if (!run.ok()) {
        kwfuzz::require(run.error.rfind("fuzz.ab1: ", 0) == 0, "error names the file");
        return 0;
    }
    kwfuzz::require(run.numTraces() == 4, "four raw rows");
    kwfuzz::require(run.numScans > 0, "a file that was read has scans");
    for (const std::vector<double>& row : run.raw)
        kwfuzz::require(static_cast<int>(row.size()) == run.numScans, "raw rows of numScans");
    for (const kw::AbifExtraChannel& c : run.extraRaw)
        kwfuzz::require(static_cast<int>(c.samples.size()) == run.numScans,
                        "extra dyes of numScans");
    for (const std::vector<double>& row : run.processed)
        kwfuzz::require(row.size() == run.processed[0].size(), "processed rows of one length");
    kwfuzz::require(std::isfinite(run.samplingRate) && run.samplingRate > 0.0, "usable rate");
    kwfuzz::require(run.baseOrder.empty() || run.baseOrder.size() == 4, "base order of four");
    int seen = 0;
    for (int d : run.traceDyes) {
        kwfuzz::require(d >= 1 && d <= 4, "trace dyes 1..4");
        seen |= 1 << d;
    }
    kwfuzz::require(seen == 0x1e, "each dye on one row");
    return 0;
}
