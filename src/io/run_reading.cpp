// Reading a run from any supported file: the file's bytes are taken whole,
// the format recognised from them and the matching reader run on memory.
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/name_table.h"
#include "io/run_data_bytes.h"
#include "io/text_runs.h"
#include "kwsignal/run.h"

namespace kw {
namespace {

using kw::detail::Problem;

constexpr char kQrdSignature[] = "\x89QRD\r\n\x1a\n";
// The run-data import reads at most this many samples per channel.
constexpr unsigned long kMaxQrdSamples = 1000000;

constexpr detail::Named<Format> kFormats[] = {{Format::automatic, "auto"},
                                              {Format::abif, "abif"},
                                              {Format::exportFile, "export"},
                                              {Format::processed, "processed"},
                                              {Format::nlines, "nlines"},
                                              {Format::indexed, "indexed"},
                                              {Format::qrd, "qrd"}};

constexpr detail::Named<ReadErrorKind> kReadErrorKinds[] = {
    {ReadErrorKind::none, "none"},
    {ReadErrorKind::notFound, "not_found"},
    {ReadErrorKind::permission, "permission"},
    {ReadErrorKind::directory, "directory"},
    {ReadErrorKind::notRegular, "not_regular"},
    {ReadErrorKind::empty, "empty"},
    {ReadErrorKind::tooLarge, "too_large"},
    {ReadErrorKind::io, "io"},
    {ReadErrorKind::unknownFormat, "unknown_format"},
    {ReadErrorKind::wrongFormat, "wrong_format"},
    {ReadErrorKind::truncated, "truncated"},
    {ReadErrorKind::malformed, "malformed"},
    {ReadErrorKind::notFinite, "not_finite"},
    {ReadErrorKind::noSamples, "no_samples"}};

bool startsWith(const char* bytes, std::size_t size, const char* prefix, std::size_t n) {
    return size >= n && std::memcmp(bytes, prefix, n) == 0;
}

Format sniffBinary(const char* bytes, std::size_t size) {
    if (startsWith(bytes, size, "ABIF", 4)) return Format::abif;
    if (startsWith(bytes, size, kQrdSignature, 8)) return Format::qrd;
    return Format::automatic;
}

Problem readFileBytes(const std::string& path, std::string& bytes) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return {ReadErrorKind::notFound, "no such file"};
        if (errno == EACCES)
            return {ReadErrorKind::permission, std::string("cannot open: ") + std::strerror(errno)};
        return {ReadErrorKind::io, std::string("cannot open: ") + std::strerror(errno)};
    }
    if (S_ISDIR(st.st_mode)) return {ReadErrorKind::directory, "is a directory, not a trace file"};
    if (!S_ISREG(st.st_mode)) return {ReadErrorKind::notRegular, "not a regular file"};
    if (st.st_size == 0) return {ReadErrorKind::empty, "empty file"};
    if (st.st_size > kMaxTraceFileBytes)
        return {ReadErrorKind::tooLarge,
                "file too large (" + std::to_string(st.st_size) + " bytes; at most 512 MiB)"};
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return {errno == EACCES ? ReadErrorKind::permission : ReadErrorKind::io,
                std::string("cannot open: ") + std::strerror(errno)};
    // One read of the size stat reported; a file that changes meanwhile is
    // read to its actual end.
    bytes.resize(static_cast<size_t>(st.st_size));
    const size_t got = std::fread(&bytes[0], 1, bytes.size(), f);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return {ReadErrorKind::io, "read error"};
    bytes.resize(got);
    return {};
}

// The ABIF reader's own messages name the file; the reason is what follows.
// Its checks of offsets against the file's end report a file cut short as
// "truncated"; every other refusal is a structure that cannot be what it
// claims.
Problem readAbifRun(const char* bytes, std::size_t size, Run& run) {
    AbifRun abif = readAbifBytes(reinterpret_cast<const unsigned char*>(bytes), size, run.path);
    if (!abif.ok()) {
        const std::string prefix = run.path + ": ";
        std::string reason = abif.error.compare(0, prefix.size(), prefix) == 0
                                 ? abif.error.substr(prefix.size())
                                 : abif.error;
        const bool cut = reason.compare(0, 9, "truncated") == 0;
        return {cut ? ReadErrorKind::truncated : ReadErrorKind::malformed, reason};
    }
    if (abif.numScans < 1 || abif.raw.empty()) return {ReadErrorKind::noSamples, "no samples"};
    run.format = Format::abif;
    run.numTraces = abif.numTraces();
    run.numData = abif.numScans;
    run.rate = abif.samplingRate;
    run.rateSource = abif.rateFromRunTimes ? "data-collection times" : abif.rateFallback;
    run.instrument = abif.instrumentModel;
    run.sampleName = abif.sampleName;
    run.rows = std::move(abif.raw);
    abif.raw.clear();
    run.warnings = abif.warnings;
    kw::detail::nameChannels(run, !abif.baseOrder.empty());
    run.abif = std::move(abif);
    return {};
}

Problem readQrdRun(const char* bytes, std::size_t size, Run& run) {
    std::vector<std::vector<uint32_t>> channels;
    KwCapFileInfo info;
    bool truncated = false;
    const std::string problem =
        kw::detail::readRunDataBytes(reinterpret_cast<const unsigned char*>(bytes), size,
                                     kMaxQrdSamples, channels, info, truncated);
    if (!problem.empty())
        return {truncated ? ReadErrorKind::truncated : ReadErrorKind::malformed, problem};
    if (channels.empty() || channels[0].empty()) return {ReadErrorKind::noSamples, "no samples"};
    run.format = Format::qrd;
    run.numTraces = 4;
    run.numData = static_cast<int>(channels[0].size());
    run.rate = kRunDataRate;
    run.rateSource = "the run-data convention of 1.75 Hz";
    run.rows.assign(4, std::vector<double>(run.numData, 0.0));
    for (std::size_t t = 0; t < 4 && t < channels.size(); ++t)
        run.rows[t].assign(channels[t].begin(), channels[t].end());
    if (info.numChannels < 4)
        run.warnings.push_back("the file holds " + std::to_string(info.numChannels) +
                               " channels; the missing ones read as zero");
    kw::detail::nameChannels(run, true);
    return {};
}

// "an ABIF file", "a processed file", ... for messages.
std::string aFileOf(Format f) {
    switch (f) {
        case Format::abif:
            return "an ABIF file";
        case Format::qrd:
            return "a run-data (.qrd) file";
        case Format::exportFile:
            return "an export file";
        case Format::indexed:
            return "an indexed file";
        default:
            return std::string("a ") + formatName(f) + " file";
    }
}

Problem wrongFormat(Format requested, Format found) {
    return {ReadErrorKind::wrongFormat,
            "not " + aFileOf(requested) + " (it looks like " + aFileOf(found) + ")"};
}

// Instrument files are known by their names: one of those that holds
// something else is reported as what the user took it for.
bool hasInstrumentName(const std::string& path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == "ab1" || ext == "abi" || ext == "fsa" || ext == "ab!";
}

Problem unknown(const char* bytes, std::size_t size, const std::string& path) {
    if (!hasInstrumentName(path)) return kw::detail::unknownFormat(bytes, size);
    return {ReadErrorKind::unknownFormat, "not an ABIF file (it does not begin with \"ABIF\"; " +
                                              kw::detail::unknownContent(bytes, size) + ")"};
}

Problem readBytes(const char* bytes, std::size_t size, Format requested, Run& run) {
    if (size == 0) return {ReadErrorKind::empty, "empty file"};
    if (static_cast<unsigned long long>(size) > static_cast<unsigned long long>(kMaxTraceFileBytes))
        return {ReadErrorKind::tooLarge, "file too large (at most 512 MiB)"};
    const Format found = sniffBinary(bytes, size);
    if (found != Format::automatic && requested != Format::automatic && requested != found)
        return wrongFormat(requested, found);
    if (found == Format::abif) return readAbifRun(bytes, size, run);
    if (found == Format::qrd) return readQrdRun(bytes, size, run);
    if (requested == Format::abif || requested == Format::qrd)
        return {ReadErrorKind::wrongFormat, "not " + aFileOf(requested)};
    if (kw::detail::looksBinary(bytes, size)) return unknown(bytes, size, run.path);
    Problem p = kw::detail::readTextRun(bytes, size, requested, run);
    if (p.kind == ReadErrorKind::unknownFormat) p = unknown(bytes, size, run.path);
    return p;
}

ReadError finish(const Problem& p, Run& run) {
    ReadError e;
    if (!p) return e;
    e.kind = p.kind;
    e.reason = p.reason;
    e.message = run.path + ": " + p.reason;
    const std::string path = run.path;
    run = Run();
    run.path = path;
    return e;
}

}  // namespace

const char* formatName(Format f) {
    return detail::nameOf(kFormats, f);
}

const std::vector<std::string>& formatNames() {
    static const std::vector<std::string> names = detail::namesOf(kFormats);
    return names;
}

bool parseFormat(const std::string& name, Format& f) {
    return detail::parseName(kFormats, name, f);
}

const char* readErrorKindName(ReadErrorKind kind) {
    return detail::nameOf(kReadErrorKinds, kind);
}

std::vector<std::string> channelNamesOf(int numTraces, bool knownBaseOrder) {
    std::vector<std::string> names;
    for (int t = 0; t < numTraces; ++t)
        names.push_back(numTraces == 4 && knownBaseOrder ? std::string(1, kBaseLetters[t])
                                                         : std::to_string(t));
    return names;
}

std::string Run::channelName(int t) const {
    return t >= 0 && t < static_cast<int>(channelNames.size()) ? channelNames[t]
                                                               : std::to_string(t);
}

ReadError readRun(const std::string& path, Run& run, Format format) {
    run = Run();
    run.path = path;
    std::string bytes;
    Problem p = readFileBytes(path, bytes);
    if (!p) p = readBytes(bytes.data(), bytes.size(), format, run);
    return finish(p, run);
}

ReadError readRunBytes(const void* bytes, std::size_t size, const std::string& name, Run& run,
                       Format format) {
    run = Run();
    run.path = name;
    const Problem p = bytes == nullptr && size > 0
                          ? Problem{ReadErrorKind::io, "no bytes given"}
                          : readBytes(static_cast<const char*>(bytes), size, format, run);
    return finish(p, run);
}

}  // namespace kw
