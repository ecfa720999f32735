// Run-data files (.qrd) through the reader and through the capillary's
// import: a bad file is refused with a reason and four empty channels, a
// good one hands out channels of the count it reports.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_util.h"
#include "kwsignal/capillary.h"
#include "kwsignal/rundata.h"

namespace {

// Reads the file as the tool does (first channel 1, a million samples at
// most) and with a first channel and limit taken from the input's length,
// so other channels and cut reads are covered too.
void readDirectly(const std::string& path, size_t size) {
    const unsigned long firstChannel = size % 3 == 0 ? 1 : 1 + size % 5;
    const unsigned long maxSamples = size % 2 == 0 ? 1000000 : size % 7;
    KwRunDataFile file;
    void* header = nullptr;
    void** channels = nullptr;
    unsigned long count = 12345;
    KwCapFileInfo info;
    const int ok =
        file.Read(path.c_str(), header, channels, firstChannel, maxSamples, &count, &info);
    kwfuzz::require(channels != nullptr, "channels handed out");
    if (ok != 1) {
        kwfuzz::require(count == 0 && !file.lastError().empty(),
                        "a failure has a reason, no samples");
        for (int c = 0; c < 4; ++c) kwfuzz::require(channels[c] != nullptr, "empty channels");
        return;
    }
    kwfuzz::require(count <= info.samplesPerChannel, "no more samples than stored");
    kwfuzz::require(maxSamples == 0 || count <= maxSamples, "limit respected");
    uint64_t sum = 0;
    for (int c = 0; c < 4; ++c)
        for (unsigned long s = 0; s < count; ++s)
            sum += static_cast<const uint32_t*>(channels[c])[s];
    (void)sum;
}

void importThroughCapillary(const std::string& base) {
    const KwCap cap;
    int numTraces = -1, numData = -1;
    double rate = 0.0;
    double** rows = nullptr;
    const std::string path = base + ".abc";  // the import looks for base + ".qrd"
    const int result = cap.input2(path.c_str(), numTraces, numData, rate, &rows);
    kwfuzz::require(result == 0 && rate == 1.75, "input2 result and rate");
    if (rows == nullptr) {
        kwfuzz::require(numTraces == 0 && numData == 0, "nothing read, nothing reported");
        return;
    }
    kwfuzz::require(numTraces == 4 && numData >= 0 && numData <= 1000000, "four channels");
    double sum = 0.0;
    for (int t = 0; t < 4; ++t)
        for (int s = 0; s < numData; ++s) sum += rows[t][s];
    (void)sum;
    for (int t = 0; t < 4; ++t) delete[] rows[t];
    delete[] rows;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = kwfuzz::scratchPath("run.qrd");
    kwfuzz::writeFile(path, data, size);
    readDirectly(path, size);
    importThroughCapillary(path.substr(0, path.size() - 4));
    return 0;
}
