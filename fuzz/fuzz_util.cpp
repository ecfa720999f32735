#include "fuzz_util.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace kwfuzz {
namespace {

// Memory-backed /dev/shm when there is one: every input is written to a
// file, and a disk's journal would slow the run tenfold.
std::string scratchDir() {
    const char* dir = std::getenv("TMPDIR");
    if (dir != nullptr && *dir != '\0') return dir;
    struct stat st {};
    if (stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK) == 0)
        return "/dev/shm";
    return "/tmp";
}

std::vector<std::string>& scratchFiles() {
    static std::vector<std::string> files;
    return files;
}

void removeScratchFiles() {
    for (const std::string& f : scratchFiles()) std::remove(f.c_str());
}

}  // namespace

std::string scratchPath(const std::string& suffix) {
    if (scratchFiles().empty()) std::atexit(removeScratchFiles);
    const std::string path =
        scratchDir() + "/kwfuzz-" + std::to_string(static_cast<long>(getpid())) + "-" + suffix;
    scratchFiles().push_back(path);
    scratchFiles().push_back(path + ".part");  // the .qrd writer's temporary name
    return path;
}

void writeFile(const std::string& path, const uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    require(f != nullptr, "cannot create the scratch file");
    const bool written = size == 0 || std::fwrite(data, 1, size, f) == size;
    require(std::fclose(f) == 0 && written, "cannot write the scratch file");
}

void writeFile(const std::string& path, const std::string& bytes) {
    writeFile(path, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "kwfuzz: invariant broken: %s\n", what);
    std::abort();
}

std::string firstWord(const uint8_t* data, std::size_t size) {
    std::size_t i = 0;
    while (i < size && std::isspace(data[i])) ++i;
    std::size_t j = i;
    while (j < size && j - i < 39 && !std::isspace(data[j])) ++j;
    return std::string(reinterpret_cast<const char*>(data + i), j - i);
}

bool namesRowFormat(const std::string& word) {
    // Compared as C strings, as the readers do: an embedded NUL ends the word.
    const char* w = word.c_str();
    return std::strncmp(w, "pRoCeSsEd", 9) == 0 || std::strncmp(w, "N_LINES:", 8) == 0 ||
           (w[0] >= '0' && w[0] <= '9');
}

namespace {

constexpr double kRates[16] = {3.0,  1.0,   1.75, 2.0, 4.0,  10.0, 0.5,  0.1,
                               1e-9, 100.0, 1e6,  0.0, -1.0, 5.0,  12.5, 3.0001};
constexpr uint8_t kRawRate = 240;
constexpr int16_t kNaN = 32767, kPlusInf = 32766, kMinusInf = -32768;

uint64_t littleEndian(const uint8_t* p, int bytes) {
    uint64_t bits = 0;
    for (int i = bytes - 1; i >= 0; --i) bits = bits << 8 | p[i];
    return bits;
}

double rawDouble(const uint8_t* p) {
    const uint64_t bits = littleEndian(p, 8);
    double v = 0.0;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

float rawFloat(const uint8_t* p) {
    const uint32_t bits = static_cast<uint32_t>(littleEndian(p, 4));
    float v = 0.0f;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

void appendLittleEndian(std::string& out, uint64_t bits, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((bits >> (8 * i)) & 0xff);
}

double countValue(int16_t c) {
    if (c == kNaN) return std::numeric_limits<double>::quiet_NaN();
    if (c == kPlusInf) return std::numeric_limits<double>::infinity();
    if (c == kMinusInf) return -std::numeric_limits<double>::infinity();
    return c;
}

}  // namespace

Capillary decodeCapillary(const uint8_t* data, std::size_t size) {
    Capillary cap;
    if (size < 4) return cap;
    const int numTraces = 1 + (data[0] & 3);
    const bool rawSamples = (data[0] & 4) != 0;
    cap.numData = (data[1] | data[2] << 8) % (kMaxSamples + 1);
    std::size_t at = 4;
    cap.rate = kRates[data[3] % 16];
    if (data[3] >= kRawRate && size >= 12) {
        cap.rate = rawDouble(data + 4);
        at = 12;
    }
    const std::size_t matrixBytes = 4 * static_cast<std::size_t>(numTraces * numTraces);
    if ((data[0] & 8) != 0 && size - at >= matrixBytes) {
        cap.matrix.assign(numTraces, std::vector<float>(numTraces));
        for (std::vector<float>& row : cap.matrix)
            for (float& v : row) {
                v = rawFloat(data + at);
                at += 4;
            }
    }
    const std::size_t width = rawSamples ? 8 : 2;
    const std::size_t count = (size - at) / width;
    cap.rows.assign(numTraces, std::vector<double>(cap.numData, 0.0));
    if (count == 0) return cap;
    std::size_t k = 0;
    for (std::vector<double>& row : cap.rows)
        for (double& v : row) {
            const uint8_t* p = data + at + width * (k++ % count);
            v = rawSamples ? rawDouble(p) : countValue(static_cast<int16_t>(p[0] | p[1] << 8));
        }
    return cap;
}

std::string encodeCapillary(const std::vector<std::vector<double>>& rows, double rate,
                            const std::vector<std::vector<float>>& matrix) {
    const int numData = rows.empty() ? 0 : static_cast<int>(rows[0].size());
    std::string out;
    out += static_cast<char>((rows.empty() ? 0 : (rows.size() - 1) & 3) | (matrix.empty() ? 0 : 8));
    appendLittleEndian(out, static_cast<uint64_t>(numData), 2);
    out += static_cast<char>(kRawRate);
    uint64_t bits = 0;
    std::memcpy(&bits, &rate, sizeof bits);
    appendLittleEndian(out, bits, 8);
    for (const std::vector<float>& row : matrix)
        for (float v : row) {
            uint32_t f = 0;
            std::memcpy(&f, &v, sizeof f);
            appendLittleEndian(out, f, 4);
        }
    for (const std::vector<double>& row : rows)
        for (double v : row) {
            int16_t c = kNaN;
            if (std::isinf(v)) c = v > 0 ? kPlusInf : kMinusInf;
            if (std::isfinite(v))
                c = static_cast<int16_t>(std::fmax(-32767.0, std::fmin(32765.0, std::round(v))));
            appendLittleEndian(out, static_cast<uint16_t>(c), 2);
        }
    return out;
}

kw::Run runOf(Capillary cap, const std::string& name, kw::ProcessOptions& options) {
    kw::Run run;
    run.path = name;
    run.numTraces = static_cast<int>(cap.rows.size());
    run.numData = cap.numData;
    run.rate = cap.rate;
    run.rows = std::move(cap.rows);
    for (int t = 0; t < run.numTraces; ++t) run.channelNames.push_back(std::to_string(t));
    options.systemMatrix.clear();
    for (const auto& row : cap.matrix) options.systemMatrix.emplace_back(row.begin(), row.end());
    return run;
}

}  // namespace kwfuzz
