// The capillary text formats, checked whole and read from memory.
//
// A text file's words are counted and its header and every number checked
// before a sample is taken: a short file is refused instead of read as
// zeros, and an unknown first word is a reason, not a stopped process.
// Samples are read through single precision, as the library's own text
// readers read them, so both give the same capillary. The text is read
// where it lies: a capillary's file is hundreds of kilobytes of numbers.
#include "io/text_runs.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "kwsignal/trace.h"

namespace kw::detail {
namespace {

using kw::Format;
using kw::ReadErrorKind;

constexpr int kMaxTraces = 16;

struct Token {
    size_t begin;
    size_t end;
};

// A blank as isspace knows it in the C locale: ' ', or '\t' '\n' '\v' '\f'
// '\r', which follow one another. Without branches, so that loops over a
// text vectorise.
bool isSpace(char c) {
    return static_cast<int>(c == ' ') |
           static_cast<int>(static_cast<unsigned char>(c - '\t') <= '\r' - '\t');
}

// The word of text that starts at or after pos; false when none does.
bool nextWord(std::string_view text, size_t pos, Token& t) {
    while (pos < text.size() && isSpace(text[pos])) ++pos;
    if (pos == text.size()) return false;
    t.begin = pos;
    while (pos < text.size() && !isSpace(text[pos])) ++pos;
    t.end = pos;
    return true;
}

std::vector<Token> tokenize(std::string_view text) {
    std::vector<Token> tokens;
    for (Token t{0, 0}; nextWord(text, t.end, t);) tokens.push_back(t);
    return tokens;
}

// The words of a file: the first few (where every header ends) and how
// many there are in all.
struct Words {
    static constexpr size_t kHead = 8;
    std::vector<Token> head;
    size_t count = 0;
    size_t size() const { return count; }
    bool empty() const { return count == 0; }
    const Token& operator[](size_t k) const { return head[k]; }
};

Words scanWords(std::string_view text) {
    Words words;
    for (Token t{0, 0}; words.head.size() < Words::kHead && nextWord(text, t.end, t);)
        words.head.push_back(t);
    // A word begins where a character that is not blank follows a blank or
    // the start: counted in a loop the compiler vectorises.
    words.count = text.empty() || isSpace(text[0]) ? 0 : 1;
    for (size_t i = 1; i < text.size(); ++i)
        words.count += isSpace(text[i - 1]) > isSpace(text[i]) ? 1 : 0;
    return words;
}

std::string word(std::string_view text, const Token& t) {
    return std::string(text.substr(t.begin, t.end - t.begin));
}

bool startsWith(const std::string& s, const char* prefix) {
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

// A whole token as a number that stays finite in single precision, where
// the samples are kept.
bool toNumber(const std::string& s, double& v) {
    char* end = nullptr;
    v = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size() || s.empty()) return false;
    return std::isfinite(v) && std::isfinite(static_cast<float>(v));
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

Problem malformed(const std::string& reason) {
    return {ReadErrorKind::malformed, reason};
}

// What the checks of a text file find out.
struct TextLayout {
    Format format = Format::automatic;
    int numTraces = 0;
    int numData = 0;
    double rate = 0.0;
    size_t firstSample = 0;  // token index of the first sample value
    int valuesPerRow = 0;    // numbers per sample row (a row index included)
    bool indexed = false;    // every row starts with its index
};

// The sample word that begins at text[pos] as a finite single-precision
// number, parsed once, where it lies; t is set to the word.
// std::from_chars takes the plain decimals a capillary file holds and
// rounds them as strtof does, and where it stops at a blank or the file's
// end the word is all number. What it does not take whole (hexadecimal,
// "+1", exponents out of range, ...) is left to strtof, as before: strtof
// stops at the blank after every word but the file's last, which is copied
// to end it.
bool sampleValue(std::string_view text, size_t pos, Token& t, float& v, bool& number) {
    const char* first = text.data() + pos;
    const char* textEnd = text.data() + text.size();
    const std::from_chars_result r = std::from_chars(first, textEnd, v);
    if (r.ec == std::errc() && (r.ptr == textEnd || isSpace(*r.ptr))) {
        t = {pos, static_cast<size_t>(r.ptr - text.data())};
        number = true;
        return std::isfinite(v);
    }
    nextWord(text, pos, t);
    std::string copy;
    if (t.end == text.size()) {
        copy = word(text, t);
        first = copy.c_str();
    }
    char* end = nullptr;
    v = std::strtof(first, &end);
    number = end == first + (t.end - t.begin);
    return number && std::isfinite(v);
}

// Checks that the words from layout.firstSample on are exactly numData
// rows of valuesPerRow finite numbers and reads them into rows.
Problem readSamples(std::string_view text, const Words& words, const TextLayout& layout,
                    kw::Run& run) {
    const size_t expected = static_cast<size_t>(layout.numData) * layout.valuesPerRow;
    const size_t present = words.size() - layout.firstSample;
    if (present < expected)
        return {ReadErrorKind::truncated,
                "truncated: the header announces " + std::to_string(layout.numData) +
                    " samples, the file holds " + std::to_string(present / layout.valuesPerRow)};
    if (present > expected)
        return malformed("malformed: " + std::to_string(present - expected) +
                         " values after the last announced sample");
    run.rows.assign(layout.numTraces, std::vector<double>(layout.numData));
    // Exactly `expected` words follow the header: each blank skipped leads
    // to the next.
    Token t = words[layout.firstSample - 1];
    for (size_t k = 0; k < expected; ++k) {
        size_t pos = t.end;
        while (pos < text.size() && isSpace(text[pos])) ++pos;
        // A word that is a number but not a finite float (inf, nan, 1e39)
        // is refused as such, any other word as malformed.
        float v = 0.0f;
        bool number = false;
        const size_t row = k / layout.valuesPerRow;
        if (!sampleValue(text, pos, t, v, number))
            return {number ? ReadErrorKind::notFinite : ReadErrorKind::malformed,
                    "malformed: sample row " + std::to_string(row + 1) + " holds " +
                        quoted(word(text, t)) + ", not a finite number"};
        const int column = static_cast<int>(k % layout.valuesPerRow) - (layout.indexed ? 1 : 0);
        if (column >= 0) run.rows[column][row] = v;
    }
    return {};
}

// "<k>Traces:" with 1 <= k <= kMaxTraces.
bool tracesWord(const std::string& w, int& k) {
    long long v = 0;
    if (w.size() < 8 || w.compare(w.size() - 7, 7, "Traces:") != 0) return false;
    if (!toInt(w.substr(0, w.size() - 7), 1, kMaxTraces, v)) return false;
    k = static_cast<int>(v);
    return true;
}

Problem checkExport(std::string_view text, const Words& tokens, TextLayout& layout) {
    layout.rate = 3.0;  // the format declares its data 3 Hz data
    const std::string first = word(text, tokens[0]);
    size_t k = 0;
    long long count = -1;
    if (first != "THIS_IS_3_Hz_DATA:") {
        if (tokens.size() < 2 || !toInt(word(text, tokens[1]), 1, 1LL << 30, count))
            return malformed("malformed export header: no sample count after " + quoted(first));
        k = 2;
    }
    int numTraces = 0;
    if (tokens.size() < k + 2 || word(text, tokens[k]) != "THIS_IS_3_Hz_DATA:" ||
        !tracesWord(word(text, tokens[k + 1]), numTraces))
        return malformed("malformed export header: expected THIS_IS_3_Hz_DATA: and <n>Traces:");
    const int announced = startsWith(first, "C_A_G_T") ? 4 : (k == 2 ? 2 : numTraces);
    if (numTraces != announced)
        return malformed("malformed export header: " + quoted(first) + " with " +
                         std::to_string(numTraces) + " traces");
    layout.numTraces = numTraces;
    layout.valuesPerRow = numTraces;
    layout.firstSample = k + 2;
    const size_t present = tokens.size() - layout.firstSample;
    if (count < 0) {
        if (present % numTraces != 0)
            return {ReadErrorKind::truncated, "truncated: the last sample row is incomplete"};
        count = static_cast<long long>(present / numTraces);
    }
    if (count < 1) return {ReadErrorKind::noSamples, "no samples"};
    layout.numData = static_cast<int>(count);
    return {};
}

Problem checkProcessed(std::string_view text, const Words& tokens, TextLayout& layout) {
    long long numTraces = 0, numData = 0, result = 0;
    double rate = 0.0;
    if (tokens.size() < 6 || !toInt(word(text, tokens[2]), 1, kMaxTraces, numTraces) ||
        !toInt(word(text, tokens[3]), 1, 1LL << 30, numData) ||
        !toNumber(word(text, tokens[4]), rate) ||
        !toInt(word(text, tokens[5]), -(1LL << 31), (1LL << 31) - 1, result))
        return malformed(
            "malformed processed-file header (expected: word, traces, samples, rate, number)");
    if (!(rate > 0.0))
        return malformed("the processed-file header gives a rate of " + word(text, tokens[4]));
    layout.numTraces = static_cast<int>(numTraces);
    layout.numData = static_cast<int>(numData);
    layout.rate = static_cast<float>(rate);
    layout.valuesPerRow = layout.numTraces;
    layout.firstSample = 6;
    return {};
}

// Values on the line that starts at text[pos], -1 when the line holds
// something that is not a number.
int lineValues(std::string_view text, size_t pos, size_t& lineEnd) {
    lineEnd = text.find_first_of("\n\r\f", pos);
    if (lineEnd == std::string_view::npos) lineEnd = text.size();
    const std::string_view line = text.substr(pos, lineEnd - pos);
    const std::vector<Token> tokens = tokenize(line);
    double v = 0.0;
    for (const Token& t : tokens)
        if (!toNumber(word(line, t), v)) return -1;
    return static_cast<int>(tokens.size());
}

Problem checkNLines(std::string_view text, const Words& tokens, TextLayout& layout) {
    layout.rate = 1.0;
    long long numData = 0;
    if (tokens.size() < 4 || !toInt(word(text, tokens[1]), 1, 1LL << 30, numData))
        return malformed("malformed N_LINES: header (expected: N_LINES: samples word word)");
    // One line end closes the header line; the row after it tells the
    // number of traces.
    size_t pos = tokens[3].end;
    if (pos < text.size() && text[pos] == '\r') {
        ++pos;
        if (pos < text.size() && text[pos] == '\n') ++pos;
    } else if (pos < text.size() && text[pos] == '\n') {
        ++pos;
    } else {
        return malformed(
            "malformed N_LINES: header: the first data row must start on the next line");
    }
    size_t lineEnd = 0;
    const int numTraces = lineValues(text, pos, lineEnd);
    if (numTraces < 1 || numTraces > 4)
        return malformed("malformed N_LINES: file: the first data row must hold 1 to 4 numbers");
    if (lineEnd - pos > 119)
        return malformed("malformed N_LINES: file: the first data row is too long");
    layout.numTraces = numTraces;
    layout.numData = static_cast<int>(numData);
    layout.valuesPerRow = numTraces;
    layout.firstSample = 4;
    return {};
}

Problem checkIndexed(std::string_view text, const Words& tokens, TextLayout& layout) {
    layout.rate = 1.0;
    long long numData = 0;
    if (!toInt(word(text, tokens[0]), 1, 1LL << 30, numData))
        return malformed("malformed indexed file: the first word must be the sample count");
    layout.numTraces = 2;
    layout.numData = static_cast<int>(numData);
    layout.valuesPerRow = 3;
    layout.firstSample = 1;
    layout.indexed = true;
    return {};
}

// Rates of 1, 2 and 3 Hz lie in bands of +-0.01 Hz; 1 Hz rows are brought
// to 3 Hz by the traces' own interpolation, as the library's readers do.
void toThreeHertz(kw::Run& run) {
    if (!(0.99 < run.rate && run.rate < 1.01)) return;
    const int n = run.numData;
    const KwTrace interpolator;
    for (std::vector<double>& row : run.rows) {
        std::vector<double> out(3 * static_cast<size_t>(n));
        interpolator.interpolateFrom1To3Hz(n, row.data(), out.data());
        row.swap(out);
    }
    run.numData = 3 * n;
    run.rate *= 3.0;
    run.coordinateScale = 3.0;
    run.rateSource = "1 Hz data brought to 3 Hz";
}

}  // namespace

bool looksBinary(const char* bytes, std::size_t size) {
    const size_t n = std::min<size_t>(size, 4096);
    size_t odd = 0;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == 0) return true;
        if (c < 9 || (c > 13 && c < 32)) ++odd;
    }
    return odd * 20 > n;
}

Format textFormatOf(const std::string& first) {
    if (first.empty()) return Format::automatic;
    if (startsWith(first, "C_A_G_T") || startsWith(first, "unknown_standard:") ||
        first == "THIS_IS_3_Hz_DATA:")
        return Format::exportFile;
    if (startsWith(first, "pRoCeSsEd")) return Format::processed;
    if (startsWith(first, "N_LINES:")) return Format::nlines;
    if (first[0] >= '0' && first[0] <= '9') return Format::indexed;
    return Format::automatic;
}

std::string unknownContent(const char* bytes, std::size_t size) {
    if (looksBinary(bytes, size)) return "binary data that is neither ABIF nor .qrd";
    const std::string head(bytes, std::min<size_t>(size, 256));
    const std::vector<Token> tokens = tokenize(head);
    if (tokens.empty()) return "only blanks";
    return "first word " + quoted(word(head, tokens[0]));
}

Problem unknownFormat(const char* bytes, std::size_t size) {
    return {ReadErrorKind::unknownFormat, "unknown format (" + unknownContent(bytes, size) + ")"};
}

void nameChannels(kw::Run& run, bool knownOrder) {
    run.channelNames = kw::channelNamesOf(run.numTraces, knownOrder);
}

Problem readTextRun(const char* bytes, std::size_t size, Format requested, kw::Run& run) {
    const std::string_view text(bytes, size);
    const Words tokens = scanWords(text);
    const Format found = tokens.empty() ? Format::automatic : textFormatOf(word(text, tokens[0]));
    if (found == Format::automatic) return unknownFormat(bytes, size);
    if (requested != Format::automatic && requested != found)
        return {ReadErrorKind::wrongFormat, std::string("not a ") + kw::formatName(requested) +
                                                " file (it looks like a " + kw::formatName(found) +
                                                " file)"};
    TextLayout layout;
    Problem problem;
    switch (found) {
        case Format::exportFile:
            problem = checkExport(text, tokens, layout);
            break;
        case Format::processed:
            problem = checkProcessed(text, tokens, layout);
            break;
        case Format::nlines:
            problem = checkNLines(text, tokens, layout);
            break;
        default:
            problem = checkIndexed(text, tokens, layout);
            break;
    }
    if (problem) return problem;
    if (0.99 < layout.rate && layout.rate < 1.01 && layout.numData < 5)
        return {ReadErrorKind::truncated, "too short: fewer than 5 samples"};
    run.format = found;
    run.numTraces = layout.numTraces;
    run.numData = layout.numData;
    run.rate = layout.rate;
    run.rateSource = found == Format::processed ? "file header" : "the format's 3 Hz convention";
    problem = readSamples(text, tokens, layout, run);
    if (problem) return problem;
    toThreeHertz(run);
    nameChannels(run, true);
    return {};
}

}  // namespace kw::detail
