// The library's capillary text readers on arbitrary files: the export
// reader, the point reader, and the processed / line-count / indexed
// readers with and without the 1 Hz to 3 Hz conversion. The row readers end
// the process on an unknown first word (as the file format demands), so
// they only see files whose first word names their formats; the command
// line tool's sniffing puts the same check in front of them.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_util.h"
#include "kwsignal/capillary.h"

namespace {

// Touches every sample of a row array (ASan checks the extents) and frees it.
void consumeRows(int numTraces, int numData, double** rows) {
    if (rows == nullptr) {
        kwfuzz::require(numTraces == 0 && numData == 0, "no rows, no counts");
        return;
    }
    kwfuzz::require(numTraces >= 1 && numData >= 0, "counts of a row array");
    double sum = 0.0;
    for (int t = 0; t < numTraces; ++t)
        for (int s = 0; s < numData; ++s) sum += rows[t][s];
    (void)sum;
    for (int t = 0; t < numTraces; ++t) delete[] rows[t];
    delete[] rows;
}

void rowReaders(const std::string& path) {
    const KwCap cap;
    int numTraces = -1, numData = -1, n3 = -1, t3 = -1;
    double rate = -1.0, rate3 = -1.0;
    double** rows = nullptr;
    double** rows3 = nullptr;
    cap.read(path.c_str(), numTraces, numData, rate, &rows);
    cap.input(path.c_str(), t3, n3, rate3, &rows3);
    if (rows != nullptr && rows3 != nullptr) {
        kwfuzz::require(t3 == numTraces, "conversion keeps the trace count");
        const bool oneHz = 0.99 < rate && rate < 1.01;
        kwfuzz::require(n3 == (oneHz ? 3 * numData : numData), "1 Hz data tripled, others kept");
    }
    consumeRows(numTraces, numData, rows);
    consumeRows(t3, n3, rows3);
}

void pointReader(const std::string& path) {
    const KwCap cap;
    double rate = 0.0;
    double* x = nullptr;
    double* y = nullptr;
    const int n = cap.read(path.c_str(), rate, &x, &y);
    kwfuzz::require(n >= 0 && (n > 0) == (x != nullptr) && (x != nullptr) == (y != nullptr),
                    "point arrays iff points");
    double sum = 0.0;
    for (int i = 0; i < n; ++i) sum += x[i] + y[i];
    (void)sum;
    delete[] x;
    delete[] y;
}

// Reads an export file into a four-trace capillary, writes it back and
// reads that again: the sample count survives the round trip.
void exportRoundTrip(const std::string& path, const std::string& copyPath) {
    KwCap cap(4);
    std::string p = path;
    cap.input(&p[0], nullptr);
    const int numData = cap.getNumData();
    for (int t = 0; t < 4; ++t)
        kwfuzz::require(cap.getPnterToTrace(t)->getNumData() == numData, "traces of numData");
    if (numData <= 0) return;
    std::string c = copyPath;
    cap.output(&c[0]);
    KwCap back(4);
    back.input(&c[0], nullptr);
    kwfuzz::require(back.getNumData() == numData, "export round trip keeps the sample count");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = kwfuzz::scratchPath("trace.txt");
    static const std::string copyPath = kwfuzz::scratchPath("copy.txt");
    kwfuzz::writeFile(path, data, size);
    const std::string word = kwfuzz::firstWord(data, size);
    if (word.empty() || kwfuzz::namesRowFormat(word)) rowReaders(path);
    pointReader(path);
    exportRoundTrip(path, copyPath);
    return 0;
}
