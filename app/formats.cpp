// Recognising, checking and reading trace files.
//
// Text files are tokenised and checked completely before the library reads
// them: the library's text readers trust their input (a short file reads as
// zeros, an unknown first word ends the process), so everything they would
// trip over is refused here with a reason.
#include "formats.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "kwsignal/abif.h"
#include "kwsignal/capillary.h"
#include "kwsignal/rundata.h"

namespace kwapp {
namespace {

constexpr long long kMaxFileBytes = 512LL << 20;
constexpr int kMaxTraces = 16;
constexpr char kQrdSignature[] = "\x89QRD\r\n\x1a\n";
// The run-data import reads at most this many samples per channel.
constexpr unsigned long kMaxQrdSamples = 1000000;

struct Token {
    size_t begin;
    size_t end;
};

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::vector<Token> tokenize(const std::string& text) {
    std::vector<Token> tokens;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isSpace(text[i])) ++i;
        const size_t begin = i;
        while (i < text.size() && !isSpace(text[i])) ++i;
        if (i > begin) tokens.push_back({begin, i});
    }
    return tokens;
}

std::string word(const std::string& text, const Token& t) {
    return text.substr(t.begin, t.end - t.begin);
}

bool startsWith(const std::string& s, const char* prefix) {
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

// A whole token as a number the library's "%f" reading keeps finite.
bool toNumber(const std::string& s, double& v) {
    char* end = nullptr;
    errno = 0;
    v = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size() || s.empty()) return false;
    const float f = static_cast<float>(v);
    return std::isfinite(v) && std::isfinite(f);
}

bool toInt(const std::string& s, long long lo, long long hi, long long& v) {
    char* end = nullptr;
    errno = 0;
    v = std::strtoll(s.c_str(), &end, 10);
    return !s.empty() && end == s.c_str() + s.size() && errno == 0 && v >= lo && v <= hi;
}

// Printable excerpt of a word for a message.
std::string quoted(const std::string& w) {
    std::string out;
    for (char c : w.substr(0, 24)) out += (c >= 32 && c < 127) ? c : '?';
    return "\"" + out + (w.size() > 24 ? "...\"" : "\"");
}

// What the checks of a text file find out.
struct TextLayout {
    Format format = Format::automatic;
    int numTraces = 0;
    int numData = 0;
    double rate = 0.0;
    size_t firstSample = 0;  // token index of the first sample value
    int valuesPerRow = 0;    // numbers per sample row (a row index included)
};

// Checks that tokens from layout.firstSample on are exactly numData rows of
// valuesPerRow finite numbers; fills values (row-major) when given.
std::string checkSamples(const std::string& text, const std::vector<Token>& tokens,
                         const TextLayout& layout, std::vector<double>* values) {
    const size_t expected = static_cast<size_t>(layout.numData) * layout.valuesPerRow;
    const size_t present = tokens.size() - layout.firstSample;
    if (present < expected)
        return "truncated: the header announces " + std::to_string(layout.numData) +
               " samples, the file holds " + std::to_string(present / layout.valuesPerRow);
    if (present > expected)
        return "malformed: " + std::to_string(present - expected) +
               " values after the last announced sample";
    if (values != nullptr) values->reserve(expected);
    for (size_t k = layout.firstSample; k < tokens.size(); ++k) {
        double v = 0.0;
        if (!toNumber(word(text, tokens[k]), v))
            return "malformed: sample row " +
                   std::to_string((k - layout.firstSample) / layout.valuesPerRow + 1) + " holds " +
                   quoted(word(text, tokens[k])) + ", not a finite number";
        if (values != nullptr) values->push_back(static_cast<float>(v));
    }
    return std::string();
}

// "<k>Traces:" with 1 <= k <= kMaxTraces.
bool tracesWord(const std::string& w, int& k) {
    long long v = 0;
    if (w.size() < 8 || w.compare(w.size() - 7, 7, "Traces:") != 0) return false;
    if (!toInt(w.substr(0, w.size() - 7), 1, kMaxTraces, v)) return false;
    k = static_cast<int>(v);
    return true;
}

std::string checkExport(const std::string& text, const std::vector<Token>& tokens,
                        TextLayout& layout) {
    layout.format = Format::exportFile;
    layout.rate = 3.0;  // the format declares its data 3 Hz data
    const std::string first = word(text, tokens[0]);
    size_t k = 0;
    long long count = -1;
    if (first != "THIS_IS_3_Hz_DATA:") {
        if (tokens.size() < 2 || !toInt(word(text, tokens[1]), 1, 1LL << 30, count))
            return "malformed export header: no sample count after " + quoted(first);
        k = 2;
    }
    int numTraces = 0;
    if (tokens.size() < k + 2 || word(text, tokens[k]) != "THIS_IS_3_Hz_DATA:" ||
        !tracesWord(word(text, tokens[k + 1]), numTraces))
        return "malformed export header: expected THIS_IS_3_Hz_DATA: and <n>Traces:";
    const int announced = startsWith(first, "C_A_G_T") ? 4 : (k == 2 ? 2 : numTraces);
    if (numTraces != announced)
        return "malformed export header: " + quoted(first) + " with " + std::to_string(numTraces) +
               " traces";
    layout.numTraces = numTraces;
    layout.valuesPerRow = numTraces;
    layout.firstSample = k + 2;
    const size_t present = tokens.size() - layout.firstSample;
    if (count < 0) {
        if (present % numTraces != 0) return "truncated: the last sample row is incomplete";
        count = static_cast<long long>(present / numTraces);
    }
    if (count < 1) return "no samples";
    layout.numData = static_cast<int>(count);
    return std::string();
}

std::string checkProcessed(const std::string& text, const std::vector<Token>& tokens,
                           TextLayout& layout) {
    layout.format = Format::processed;
    long long numTraces = 0, numData = 0, result = 0;
    double rate = 0.0;
    if (tokens.size() < 6 || !toInt(word(text, tokens[2]), 1, kMaxTraces, numTraces) ||
        !toInt(word(text, tokens[3]), 1, 1LL << 30, numData) ||
        !toNumber(word(text, tokens[4]), rate) ||
        !toInt(word(text, tokens[5]), -(1LL << 31), (1LL << 31) - 1, result))
        return "malformed processed-file header (expected: word, traces, samples, rate, number)";
    if (!(rate > 0.0)) return "the processed-file header gives a rate of " + word(text, tokens[4]);
    layout.numTraces = static_cast<int>(numTraces);
    layout.numData = static_cast<int>(numData);
    layout.rate = static_cast<float>(rate);
    layout.valuesPerRow = layout.numTraces;
    layout.firstSample = 6;
    return std::string();
}

// Values on the line that starts at text[pos] (up to 4 count), -1 when the
// line holds something that is not a number.
int lineValues(const std::string& text, size_t pos, size_t& lineEnd) {
    lineEnd = text.find_first_of("\n\r\f", pos);
    if (lineEnd == std::string::npos) lineEnd = text.size();
    const std::vector<Token> tokens = tokenize(text.substr(pos, lineEnd - pos));
    double v = 0.0;
    for (const Token& t : tokens)
        if (!toNumber(text.substr(pos + t.begin, t.end - t.begin), v)) return -1;
    return static_cast<int>(tokens.size());
}

std::string checkNLines(const std::string& text, const std::vector<Token>& tokens,
                        TextLayout& layout) {
    layout.format = Format::nlines;
    layout.rate = 1.0;
    long long numData = 0;
    if (tokens.size() < 4 || !toInt(word(text, tokens[1]), 1, 1LL << 30, numData))
        return "malformed N_LINES: header (expected: N_LINES: samples word word)";
    // The reader takes the one line end after the header as the end of the
    // header line and counts the traces on the row that follows.
    size_t pos = tokens[3].end;
    if (pos < text.size() && text[pos] == '\r') {
        ++pos;
        if (pos < text.size() && text[pos] == '\n') ++pos;
    } else if (pos < text.size() && text[pos] == '\n') {
        ++pos;
    } else {
        return "malformed N_LINES: header: the first data row must start on the next line";
    }
    size_t lineEnd = 0;
    const int numTraces = lineValues(text, pos, lineEnd);
    if (numTraces < 1 || numTraces > 4)
        return "malformed N_LINES: file: the first data row must hold 1 to 4 numbers";
    if (lineEnd - pos > 119) return "malformed N_LINES: file: the first data row is too long";
    layout.numTraces = numTraces;
    layout.numData = static_cast<int>(numData);
    layout.valuesPerRow = numTraces;
    layout.firstSample = 4;
    return std::string();
}

std::string checkIndexed(const std::string& text, const std::vector<Token>& tokens,
                         TextLayout& layout) {
    layout.format = Format::indexed;
    layout.rate = 1.0;
    long long numData = 0;
    if (!toInt(word(text, tokens[0]), 1, 1LL << 30, numData))
        return "malformed indexed file: the first word must be the sample count";
    layout.numTraces = 2;
    layout.numData = static_cast<int>(numData);
    layout.valuesPerRow = 3;
    layout.firstSample = 1;
    return std::string();
}

Format textFormatOf(const std::string& first) {
    if (startsWith(first, "C_A_G_T") || startsWith(first, "unknown_standard:") ||
        first == "THIS_IS_3_Hz_DATA:")
        return Format::exportFile;
    if (startsWith(first, "pRoCeSsEd")) return Format::processed;
    if (startsWith(first, "N_LINES:")) return Format::nlines;
    if (first[0] >= '0' && first[0] <= '9') return Format::indexed;
    return Format::automatic;
}

bool looksBinary(const std::string& bytes) {
    const size_t n = std::min<size_t>(bytes.size(), 4096);
    size_t odd = 0;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == 0) return true;
        if (c < 9 || (c > 13 && c < 32)) ++odd;
    }
    return odd * 20 > n;
}

Format sniff(const std::string& bytes) {
    if (bytes.compare(0, 4, "ABIF") == 0) return Format::abif;
    if (bytes.compare(0, 8, kQrdSignature) == 0) return Format::qrd;
    if (looksBinary(bytes)) return Format::automatic;
    size_t i = 0;
    while (i < bytes.size() && isSpace(bytes[i])) ++i;
    size_t j = i;
    while (j < bytes.size() && !isSpace(bytes[j])) ++j;
    return i < j ? textFormatOf(bytes.substr(i, j - i)) : Format::automatic;
}

std::string unknownFormat(const std::string& bytes) {
    if (looksBinary(bytes)) return "unknown format (binary data that is neither ABIF nor .qrd)";
    const std::vector<Token> tokens = tokenize(bytes.substr(0, 256));
    if (tokens.empty()) return "unknown format (only blanks)";
    return "unknown format (first word " + quoted(word(bytes, tokens[0])) + ")";
}

std::string readFile(const std::string& path, std::string& bytes) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return errno == ENOENT ? "no such file"
                               : std::string("cannot open: ") + std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return "is a directory, not a trace file";
    if (!S_ISREG(st.st_mode)) return "not a regular file";
    if (st.st_size == 0) return "empty file";
    if (st.st_size > kMaxFileBytes)
        return "file too large (" + std::to_string(st.st_size) + " bytes; at most 512 MiB)";
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::string("cannot open: ") + std::strerror(errno);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) return "read error";
    return std::string();
}

void letterNames(RawRun& run, bool knownOrder) {
    static const char* const kLetters[4] = {"C", "A", "G", "T"};
    run.channelNames.clear();
    for (int t = 0; t < run.numTraces; ++t)
        run.channelNames.push_back(run.numTraces == 4 && knownOrder ? kLetters[t]
                                                                    : std::to_string(t));
}

// Hands a checked row array to run and frees it.
void takeRows(double** rows, RawRun& run) {
    run.rows.assign(run.numTraces, std::vector<double>());
    for (int t = 0; t < run.numTraces; ++t) {
        run.rows[t].assign(rows[t], rows[t] + run.numData);
        delete[] rows[t];
    }
    delete[] rows;
}

std::string readExport(const std::string& text, const std::vector<Token>& tokens,
                       const TextLayout& layout, RawRun& run) {
    run.numTraces = layout.numTraces;
    run.numData = layout.numData;
    if (layout.numTraces != 4 || !startsWith(word(text, tokens[0]), "C_A_G_T")) {
        // The library reads export files of four traces under their header.
        std::vector<double> values;
        const std::string problem = checkSamples(text, tokens, layout, &values);
        if (!problem.empty()) return problem;
        run.rows.assign(run.numTraces, std::vector<double>(run.numData));
        for (int s = 0; s < run.numData; ++s)
            for (int t = 0; t < run.numTraces; ++t)
                run.rows[t][s] = values[static_cast<size_t>(s) * run.numTraces + t];
        return std::string();
    }
    const std::string problem = checkSamples(text, tokens, layout, nullptr);
    if (!problem.empty()) return problem;
    KwCap cap(4);
    std::vector<char> path(run.path.begin(), run.path.end());
    path.push_back('\0');
    cap.input(path.data(), nullptr);
    if (cap.getNumData() != layout.numData) return "the export reader could not read the file";
    run.rows.assign(4, std::vector<double>());
    for (int t = 0; t < 4; ++t) {
        const double* d = cap.getPnterToTrace(t)->getData();
        run.rows[t].assign(d, d + layout.numData);
    }
    return std::string();
}

// Processed, line-count and indexed files through the library's readers;
// 1 Hz data come back at 3 Hz.
std::string readRowFile(const std::string& text, const std::vector<Token>& tokens,
                        const TextLayout& layout, RawRun& run) {
    const std::string problem = checkSamples(text, tokens, layout, nullptr);
    if (!problem.empty()) return problem;
    const double r = layout.rate;
    const bool oneHz = 0.99 < r && r < 1.01;
    // The converting reader leaves data of other rates unread, so those are
    // read as they stand.
    const bool converting = oneHz || (1.99 < r && r < 2.01) || (2.99 < r && r < 3.01);
    const KwCap reader;
    double** rows = nullptr;
    if (converting && oneHz && layout.numData < 5) return "too short: fewer than 5 samples";
    if (converting)
        reader.input(run.path.c_str(), run.numTraces, run.numData, run.rate, &rows);
    else
        reader.read(run.path.c_str(), run.numTraces, run.numData, run.rate, &rows);
    const int expected = oneHz ? 3 * layout.numData : layout.numData;
    if (rows == nullptr || run.numTraces != layout.numTraces || run.numData != expected) {
        if (rows != nullptr) {
            for (int t = 0; t < run.numTraces; ++t) delete[] rows[t];
            delete[] rows;
        }
        return "the reader could not read the file";
    }
    run.coordinateScale = oneHz ? 3.0 : 1.0;
    takeRows(rows, run);
    return std::string();
}

std::string readText(const std::string& bytes, Format requested, RawRun& run) {
    const std::vector<Token> tokens = tokenize(bytes);
    const Format found = tokens.empty() ? Format::automatic : textFormatOf(word(bytes, tokens[0]));
    if (found == Format::automatic) return unknownFormat(bytes);
    if (requested != Format::automatic && requested != found)
        return std::string("not a ") + formatName(requested) + " file (it looks like " +
               formatName(found) + ")";
    TextLayout layout;
    std::string problem;
    switch (found) {
        case Format::exportFile:
            problem = checkExport(bytes, tokens, layout);
            break;
        case Format::processed:
            problem = checkProcessed(bytes, tokens, layout);
            break;
        case Format::nlines:
            problem = checkNLines(bytes, tokens, layout);
            break;
        default:
            problem = checkIndexed(bytes, tokens, layout);
            break;
    }
    if (!problem.empty()) return problem;
    run.format = found;
    run.rate = layout.rate;
    run.rateSource = found == Format::processed ? "file header" : "the format's 3 Hz convention";
    problem = found == Format::exportFile ? readExport(bytes, tokens, layout, run)
                                          : readRowFile(bytes, tokens, layout, run);
    if (run.coordinateScale != 1.0) run.rateSource = "1 Hz data brought to 3 Hz";
    letterNames(run, true);
    return problem;
}

std::string readAbifRun(const std::string& bytes, RawRun& run) {
    kw::AbifRun abif = kw::readAbifBytes(reinterpret_cast<const unsigned char*>(bytes.data()),
                                         bytes.size(), run.path);
    if (!abif.ok()) {
        const std::string prefix = run.path + ": ";
        return abif.error.compare(0, prefix.size(), prefix) == 0 ? abif.error.substr(prefix.size())
                                                                 : abif.error;
    }
    if (abif.numScans < 1 || abif.raw.empty()) return "no samples";
    run.format = Format::abif;
    run.numTraces = abif.numTraces();
    run.numData = abif.numScans;
    run.rate = abif.samplingRate;
    run.rateSource = abif.rateFromRunTimes ? "data-collection times" : abif.rateFallback;
    run.instrument = abif.instrumentModel;
    run.rows = std::move(abif.raw);
    run.hasProcessed = !abif.processed.empty();
    run.numCalls = static_cast<int>(abif.calls.size());
    run.warnings = abif.warnings;
    letterNames(run, !abif.baseOrder.empty());
    return std::string();
}

std::string readQrd(RawRun& run) {
    KwRunDataFile file;
    void* header = nullptr;
    void** channels = nullptr;
    unsigned long count = 0;
    KwCapFileInfo info;
    if (file.Read(run.path.c_str(), header, channels, 1, kMaxQrdSamples, &count, &info) != 1)
        return file.lastError().empty() ? "unreadable run-data file" : file.lastError();
    if (count == 0) return "no samples";
    run.format = Format::qrd;
    run.numTraces = 4;
    run.numData = static_cast<int>(count);
    run.rate = 1.75;  // what the library's run-data import assumes
    run.rateSource = "the run-data convention of 1.75 Hz";
    run.rows.assign(4, std::vector<double>(count));
    for (int t = 0; t < 4; ++t) {
        const uint32_t* c = static_cast<const uint32_t*>(channels[t]);
        for (unsigned long s = 0; s < count; ++s) run.rows[t][s] = c[s];
    }
    if (info.numChannels < 4)
        run.warnings.push_back("the file holds " + std::to_string(info.numChannels) +
                               " channels; the missing ones read as zero");
    letterNames(run, true);
    return std::string();
}

}  // namespace

const char* formatName(Format f) {
    switch (f) {
        case Format::abif:
            return "abif";
        case Format::exportFile:
            return "export";
        case Format::processed:
            return "processed";
        case Format::nlines:
            return "nlines";
        case Format::indexed:
            return "indexed";
        case Format::qrd:
            return "qrd";
        default:
            return "auto";
    }
}

bool parseFormat(const std::string& name, Format& f) {
    for (Format c : {Format::automatic, Format::abif, Format::exportFile, Format::processed,
                     Format::nlines, Format::indexed, Format::qrd})
        if (name == formatName(c)) {
            f = c;
            return true;
        }
    return false;
}

std::string loadRun(const std::string& path, Format requested, RawRun& run) {
    run = RawRun();
    run.path = path;
    std::string bytes;
    std::string problem = readFile(path, bytes);
    if (!problem.empty()) return problem;
    const Format found = sniff(bytes);
    const bool binary = found == Format::abif || found == Format::qrd;
    if (binary && requested != Format::automatic && requested != found)
        return std::string("not a ") + formatName(requested) + " file (it looks like " +
               formatName(found) + ")";
    if (found == Format::abif) return readAbifRun(bytes, run);
    if (found == Format::qrd) return readQrd(run);
    if (requested == Format::abif || requested == Format::qrd)
        return std::string("not a ") + formatName(requested) + " file";
    if (looksBinary(bytes)) return unknownFormat(bytes);
    return readText(bytes, requested, run);
}

}  // namespace kwapp
