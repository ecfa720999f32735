// Run-data files: the ".qrd" container of raw channel counts (layout in
// docs/formats.md), its reader and writer, and the capillary's import of
// four channels from it.
//
// Layout, all integers unsigned 32-bit little-endian:
//   bytes 0..7    signature 89 'Q' 'R' 'D' 0D 0A 1A 0A
//   bytes 8..11   version (1)
//   bytes 12..15  channel count, 1..kMaxChannels
//   bytes 16..19  samples per channel
//   bytes 20..    the samples, channel after channel
// A version 1 file is exactly 20 + 4 * channels * samples bytes long.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "io/rows.h"
#include "io/run_data_bytes.h"
#include "kwsignal/capillary.h"
#include "kwsignal/rundata.h"

namespace {

const unsigned char kSignature[8] = {0x89, 'Q', 'R', 'D', 0x0D, 0x0A, 0x1A, 0x0A};
const uint32_t kVersion = 1;
const uint32_t kMaxChannels = 64;
const long kHeaderBytes = 20;
// Samples converted per write, so a writer's buffer stays small.
const size_t kChunk = 65536;

uint32_t getLE32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void putLE32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// Closes a file on every way out of a scope.
struct FileCloser {
    std::FILE* f;
    ~FileCloser() {
        if (f != nullptr) std::fclose(f);
    }
};

// Checks the 20-byte header against the file's size. Returns the empty
// string when it holds, otherwise why not.
std::string checkHeader(const unsigned char* head, long size, KwCapFileInfo& info) {
    if (std::memcmp(head, kSignature, sizeof kSignature) != 0)
        return "not a run-data file (no .qrd signature)";
    info.version = getLE32(head + 8);
    info.numChannels = getLE32(head + 12);
    info.samplesPerChannel = getLE32(head + 16);
    if (info.version != kVersion) return "unsupported .qrd version " + std::to_string(info.version);
    if (info.numChannels < 1 || info.numChannels > kMaxChannels)
        return std::to_string(info.numChannels) + " channels (1 to " +
               std::to_string(kMaxChannels) + " supported)";
    const unsigned long long expected =
        kHeaderBytes + 4ULL * info.numChannels * info.samplesPerChannel;
    if (static_cast<unsigned long long>(size) != expected)
        return "file is " + std::to_string(size) + " bytes, its header needs " +
               std::to_string(expected);
    return std::string();
}

// Checks an open file's header against its size. Returns the empty string
// when the file can be read, otherwise why not.
std::string checkFile(std::FILE* f, KwCapFileInfo& info) {
    unsigned char head[kHeaderBytes];
    long size = -1;
    if (std::fseek(f, 0, SEEK_END) != 0 || (size = std::ftell(f)) < kHeaderBytes ||
        std::fseek(f, 0, SEEK_SET) != 0 || std::fread(head, 1, sizeof head, f) != sizeof head)
        return "shorter than the 20-byte .qrd header";
    return checkHeader(head, size, info);
}

// Reads `count` samples of stored channel `channel` into out.
bool readChannel(std::FILE* f, const KwCapFileInfo& info, unsigned long channel,
                 unsigned long count, uint32_t* out) {
    const long offset = kHeaderBytes + 4L * static_cast<long>(channel * info.samplesPerChannel);
    if (std::fseek(f, offset, SEEK_SET) != 0) return false;
    std::vector<unsigned char> bytes(4 * kChunk);
    for (unsigned long done = 0; done < count;) {
        const size_t n = count - done < kChunk ? count - done : kChunk;
        if (std::fread(bytes.data(), 4, n, f) != n) return false;
        for (size_t i = 0; i < n; ++i) out[done + i] = getLE32(bytes.data() + 4 * i);
        done += n;
    }
    return true;
}

// Writes the header and every channel to an open file.
bool writeAll(std::FILE* f, const std::vector<std::vector<uint32_t>>& channels) {
    unsigned char head[kHeaderBytes];
    std::memcpy(head, kSignature, sizeof kSignature);
    putLE32(head + 8, kVersion);
    putLE32(head + 12, static_cast<uint32_t>(channels.size()));
    putLE32(head + 16, static_cast<uint32_t>(channels[0].size()));
    if (std::fwrite(head, 1, sizeof head, f) != sizeof head) return false;
    std::vector<unsigned char> bytes(4 * kChunk);
    for (const std::vector<uint32_t>& c : channels) {
        for (size_t done = 0; done < c.size();) {
            const size_t n = c.size() - done < kChunk ? c.size() - done : kChunk;
            for (size_t i = 0; i < n; ++i) putLE32(bytes.data() + 4 * i, c[done + i]);
            if (std::fwrite(bytes.data(), 4, n, f) != n) return false;
            done += n;
        }
    }
    return true;
}

}  // namespace

KwRunDataFile::KwRunDataFile() : headerRecord(nullptr), channelPtrs(nullptr), numChannelPtrs(0) {}

KwRunDataFile::~KwRunDataFile() {
    release();
}

void KwRunDataFile::release() {
    for (unsigned long i = 0; i < numChannelPtrs; ++i)
        delete[] static_cast<uint32_t*>(channelPtrs[i]);
    delete[] channelPtrs;
    delete static_cast<KwCapFileInfo*>(headerRecord);
    channelPtrs = nullptr;
    headerRecord = nullptr;
    numChannelPtrs = 0;
}

// Channel arrays are never null: each has room for at least one sample, so
// a caller that indexes an empty channel at 0 still stays inside it.
int KwRunDataFile::Read(const char* path, void*& header, void**& channels,
                        unsigned long firstChannel, unsigned long maxSamples, unsigned long* count,
                        KwCapFileInfo* info) {
    release();
    error.clear();
    KwCapFileInfo* found = new KwCapFileInfo();
    headerRecord = found;
    unsigned long samples = 0;
    std::FILE* f = path != nullptr ? std::fopen(path, "rb") : nullptr;
    FileCloser closer{f};
    error = f != nullptr ? checkFile(f, *found) : "cannot open the file";
    if (error.empty()) {
        samples = found->samplesPerChannel;
        if (maxSamples != 0 && samples > maxSamples) samples = maxSamples;
    }
    const unsigned long skipped = firstChannel > 0 ? firstChannel - 1 : 0;
    const unsigned long available =
        error.empty() && skipped < found->numChannels ? found->numChannels - skipped : 0;
    numChannelPtrs = available > 4 ? available : 4;
    channelPtrs = new void*[numChannelPtrs];
    for (unsigned long i = 0; i < numChannelPtrs; ++i)
        channelPtrs[i] = new uint32_t[samples > 0 ? samples : 1]();
    for (unsigned long i = 0; i < available && error.empty(); ++i)
        if (!readChannel(f, *found, skipped + i, samples, static_cast<uint32_t*>(channelPtrs[i])))
            error = "cannot read channel " + std::to_string(skipped + i + 1);
    if (!error.empty()) {
        error = std::string(path != nullptr ? path : "(null)") + ": " + error;
        samples = 0;
    }
    header = headerRecord;
    channels = channelPtrs;
    if (count != nullptr) *count = samples;
    if (info != nullptr) *info = *found;
    return error.empty() ? 1 : 0;
}

namespace kw::detail {

std::string readRunDataBytes(const unsigned char* bytes, std::size_t size, unsigned long maxSamples,
                             std::vector<std::vector<uint32_t>>& channels, KwCapFileInfo& info,
                             bool& truncated) {
    channels.clear();
    truncated = size < static_cast<std::size_t>(kHeaderBytes);
    if (truncated) return "shorter than the 20-byte .qrd header";
    if (size > static_cast<std::size_t>(LONG_MAX)) return "too large for a .qrd file";
    const std::string problem = checkHeader(bytes, static_cast<long>(size), info);
    // A sound header whose samples run past the end: a file cut short.
    truncated = !problem.empty() && info.version == kVersion && info.numChannels >= 1 &&
                info.numChannels <= kMaxChannels &&
                size < kHeaderBytes + 4ULL * info.numChannels * info.samplesPerChannel;
    if (!problem.empty()) return problem;
    unsigned long samples = info.samplesPerChannel;
    if (maxSamples != 0 && samples > maxSamples) samples = maxSamples;
    channels.assign(info.numChannels, std::vector<uint32_t>(samples));
    for (unsigned long c = 0; c < info.numChannels; ++c) {
        const unsigned char* p = bytes + kHeaderBytes + 4ULL * c * info.samplesPerChannel;
        for (unsigned long s = 0; s < samples; ++s) channels[c][s] = getLE32(p + 4 * s);
    }
    return std::string();
}

}  // namespace kw::detail

namespace kw {

std::string writeRunData(const std::string& path,
                         const std::vector<std::vector<uint32_t>>& channels) {
    if (channels.empty() || channels.size() > kMaxChannels)
        return path + ": a run-data file holds 1 to " + std::to_string(kMaxChannels) +
               " channels, not " + std::to_string(channels.size());
    for (const std::vector<uint32_t>& c : channels)
        if (c.size() != channels[0].size()) return path + ": channels of different lengths";
    if (channels[0].size() > 0xffffffffULL / 4 / channels.size())
        return path + ": too many samples for a .qrd file";
    const std::string temp = path + ".part";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (f == nullptr) return path + ": cannot create " + temp;
    const bool written = writeAll(f, channels);
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return path + ": cannot write the file";
    }
    return std::string();
}

}  // namespace kw

// A run-data file that cannot be read, and a path too short to carry the
// three-character extension, give the empty result of an unreadable text
// file: no traces, no samples, null rows. At most 1,000,000 samples per
// channel are taken.
int KwCap::input2(const char* path, int& traceCount, int& sampleCount, double& rate,
                  double*** rows) const {
    rate = kw::kRunDataRate;
    kw::detail::clearRows(traceCount, sampleCount, rows);
    const size_t len = path != nullptr ? std::strlen(path) : 0;
    if (len < 3) return 0;
    const std::string name = std::string(path, len - 3) + "qrd";
    KwRunDataFile file;
    void* header = nullptr;
    void** channels = nullptr;
    unsigned long count = 0;
    if (file.Read(name.c_str(), header, channels, 1, 1000000, &count, nullptr) != 1) return 0;
    traceCount = 4;
    sampleCount = static_cast<int>(count);
    *rows = kw::detail::newRowArray(traceCount, sampleCount);
    for (int t = 0; t < traceCount; ++t) {
        const uint32_t* channel = static_cast<const uint32_t*>(channels[t]);
        for (int s = 0; s < sampleCount; ++s) (*rows)[t][s] = channel[s];
    }
    return 0;
}
