// Capillary text files: the export file a capillary writes and reads back,
// and the point, processed, line-count and indexed files read into new
// arrays.
//
// Every number goes through single precision ("%f" into a float) on the way
// in and is written with "%f " on the way out.
//
// Malformed files never stop a reader nor make it read or allocate
// without bound:
//  - a number that cannot be converted reads as 0.0 (the offending word is
//    skipped, so the numbers after it are still read), and so does every
//    number past the end of the file;
//  - a file that cannot be opened or holds no word at all, or whose header
//    declares a negative count or more numbers than the file's size could
//    hold (each number takes at least two characters: a digit and a
//    separator), counts as unreadable: the array readers hand back no
//    traces, no samples, null arrays, rate 0.0 and result 0, and the export
//    reader leaves the capillary as it was.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "io/rows.h"
#include "kwsignal/capillary.h"
#include "kwsignal/platform.h"

namespace {

// Size of an open file in bytes; -1 when it cannot be told.
long fileSize(std::FILE* f) {
    if (std::fseek(f, 0, SEEK_END) != 0) return -1;
    const long size = std::ftell(f);
    if (std::fseek(f, 0, SEEK_SET) != 0) return -1;
    return size;
}

// Whether a file of `size` bytes can hold numRows rows of perRow numbers,
// each at least two characters long. Counts that fail here are never
// allocated.
bool countsFit(long long numRows, long long perRow, long size) {
    const long long maxNumbers = size / 2;
    return perRow >= 1 && perRow <= maxNumbers && numRows >= 0 && numRows <= maxNumbers / perRow;
}

// The next number of the file through single precision; 0.0 when the next
// word is not a number (the word is skipped) or the file has ended.
double readNumber(std::FILE* f) {
    float v = 0.0f;
    const int got = std::fscanf(f, "%f", &v);
    if (got == 1) return v;
    if (got == 0) std::fscanf(f, "%*[^ \t\n\v\f\r]");
    return 0.0;
}

// The header of a processed, line-count or indexed file.
struct Header {
    int numTraces = 0;
    int numData = 0;
    double rate = 0.0;
    int result = 0;
    bool indexed = false;  // every row starts with a row index
};

[[noreturn]] void stopOnWrongFormat(std::FILE* f) {
    std::fclose(f);
    AfxMessageBox("Wrong Data Format", MB_OK);
    std::exit(911);
}

// Consumes the one line end that separates a line-count header from the
// first data row. A CR LF pair counts as that one line end, as text mode
// delivers it where lines end in CR LF.
void skipLineEnd(std::FILE* f) {
    if (std::fgetc(f) != '\r') return;
    const int next = std::fgetc(f);
    if (next != '\n' && next != EOF) std::ungetc(next, f);
}

// Number of values (0 to 4) on the first data row of a line-count file.
// Only the row's first 119 characters are kept; the rest of a longer row is
// read up to its end and dropped.
int countFirstRowValues(std::FILE* f) {
    char row[120];
    int len = 0;
    for (int c = std::fgetc(f); c != EOF && c != '\n' && c != '\r' && c != '\f';
         c = std::fgetc(f)) {
        if (len < 119) row[len++] = static_cast<char>(c);
    }
    row[len] = '\0';
    float v[4];
    const int got = std::sscanf(row, "%f %f %f %f", &v[0], &v[1], &v[2], &v[3]);
    return got > 0 ? got : 0;
}

// Reads a line-count header: the trace count comes from the first data row,
// after which the file is opened again and positioned after the header.
// Returns the reopened file, null when it cannot be opened again.
std::FILE* readLineCountHeader(std::FILE* f, const char* path, Header& h) {
    h.rate = 1.0;
    h.numData = -1;
    std::fscanf(f, "%d %*s %*s", &h.numData);
    skipLineEnd(f);
    h.numTraces = countFirstRowValues(f);
    std::fclose(f);
    f = std::fopen(path, "r");
    if (f != nullptr) std::fscanf(f, "%*s %*d %*s %*s");
    return f;
}

// Reads the header of a processed, line-count or indexed file from an open
// file. Returns the file to read the samples from (the line-count reader
// reopens it), null when it had to be closed. Stops the process when the
// first word names no known format.
std::FILE* readHeader(std::FILE* f, const char* path, Header& h) {
    char word[40];
    if (std::fscanf(f, "%39s", word) != 1) {
        std::fclose(f);
        return nullptr;
    }
    if (std::strncmp(word, "pRoCeSsEd", 9) == 0) {
        float rate = 0.0f;
        h.numTraces = -1;
        h.numData = -1;
        std::fscanf(f, "%*s %d %d %f %d", &h.numTraces, &h.numData, &rate, &h.result);
        h.rate = rate;
        return f;
    }
    if (std::strncmp(word, "N_LINES:", 8) == 0) return readLineCountHeader(f, path, h);
    if (word[0] >= '0' && word[0] <= '9') {
        h.numTraces = 2;
        h.rate = 1.0;
        h.indexed = true;
        std::sscanf(word, "%d", &h.numData);
        return f;
    }
    stopOnWrongFormat(f);
}

}  // namespace

void KwCap::output(char* path) const {
    std::FILE* f = std::fopen(path, "w");
    if (f == nullptr) return;
    if (numTraces == 4) std::fprintf(f, "C_A_G_T:     %d\n", numData);
    if (numTraces == 2) std::fprintf(f, "unknown_standard:     %d\n", numData);
    std::fprintf(f, "THIS_IS_3_Hz_DATA:\n");
    std::fprintf(f, "%dTraces:\n", numTraces);
    for (int s = 0; s < numData; ++s) {
        for (int t = 0; t < numTraces; ++t) {
            const KwTrace& trace = traces[t];
            std::fprintf(f, "%f ", s < trace.getNumData() ? trace[s] : 0.0);
        }
        std::fprintf(f, "\n");
    }
    std::fclose(f);
}

// Reads the export file into traces 0..3. The samples are stored whatever
// the first word; when it is the four-trace header "C_A_G_T" the rate stays
// as it was, otherwise it becomes 1.0. A capillary of fewer than four
// traces has nowhere to put them and is left as it is, as it is for an
// unreadable file.
void KwCap::input(char* path, char* /*second*/) {
    if (numTraces < 4) return;
    std::FILE* f = std::fopen(path, "r");
    if (f == nullptr) return;
    const long size = fileSize(f);
    char word[40];
    int n = -1;
    if (std::fscanf(f, "%39s %d %*s %*s", word, &n) < 2 || !countsFit(n, 4, size)) {
        std::fclose(f);
        return;
    }
    if (std::strncmp(word, "C_A_G_T", 7) != 0) samplingRate = 1.0;
    numData = n;
    for (int t = 0; t < 4; ++t) {
        traces[t] = KwTrace(n);
        traces[t].setSampleRate(samplingRate);
    }
    for (int s = 0; s < n; ++s)
        for (int t = 0; t < 4; ++t) traces[t][s] = readNumber(f);
    std::fclose(f);
}

int KwCap::read(const char* path, double& rate, double** x, double** y) const {
    rate = 1.0;
    *x = nullptr;
    *y = nullptr;
    std::FILE* f = std::fopen(path, "r");
    if (f == nullptr) return 0;
    const long size = fileSize(f);
    int n = -1;
    if (std::fscanf(f, "%d", &n) != 1 || n == 0 || !countsFit(n, 3, size)) {
        std::fclose(f);
        return 0;
    }
    *x = new double[n]();
    *y = new double[n]();
    for (int i = 0; i < n; ++i) {
        readNumber(f);
        (*x)[i] = readNumber(f);
        (*y)[i] = readNumber(f);
    }
    std::fclose(f);
    return n;
}

int KwCap::read(const char* path, int& traceCount, int& sampleCount, double& rate,
                double*** rows) const {
    kw::detail::clearRows(traceCount, sampleCount, rows);
    rate = 0.0;
    std::FILE* f = std::fopen(path, "r");
    if (f == nullptr) return 0;
    const long size = fileSize(f);
    Header h;
    f = readHeader(f, path, h);
    if (f == nullptr) return 0;
    if (!countsFit(h.numData, h.numTraces + (h.indexed ? 1LL : 0LL), size)) {
        std::fclose(f);
        return 0;
    }
    traceCount = h.numTraces;
    sampleCount = h.numData;
    rate = h.rate;
    *rows = kw::detail::newRowArray(traceCount, sampleCount);
    for (int s = 0; s < sampleCount; ++s) {
        if (h.indexed) readNumber(f);
        for (int t = 0; t < traceCount; ++t) (*rows)[t][s] = readNumber(f);
    }
    std::fclose(f);
    return h.result;
}

// Rows of a file whose rate lies in none of the three bands come back at
// their file length, zero-filled. A 1 Hz file too long to triple within an
// int counts as unreadable.
int KwCap::input(const char* path, int& traceCount, int& sampleCount, double& rate,
                 double*** rows) const {
    double** raw = nullptr;
    int n = 0;
    const int result = read(path, traceCount, n, rate, &raw);
    const bool oneHz = 0.99 < rate && rate < 1.01;
    const bool copy = (2.99 < rate && rate < 3.01) || (1.99 < rate && rate < 2.01);
    if (raw == nullptr || (oneHz && n > 0x7fffffff / 3)) {
        kw::detail::deleteRowArray(raw, traceCount);
        kw::detail::clearRows(traceCount, sampleCount, rows);
        return result;
    }
    sampleCount = oneHz ? 3 * n : n;
    *rows = kw::detail::newRowArray(traceCount, sampleCount);
    const KwTrace interpolator;  // the interpolation uses no trace of its own
    for (int t = 0; t < traceCount; ++t) {
        if (oneHz) interpolator.interpolateFrom1To3Hz(n, raw[t], (*rows)[t]);
        if (copy) std::memcpy((*rows)[t], raw[t], sizeof(double) * static_cast<size_t>(n));
    }
    if (oneHz) rate *= 3.0;
    kw::detail::deleteRowArray(raw, traceCount);
    return result;
}
