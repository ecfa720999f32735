// ABIF instrument files: a big-endian header, a directory of 28-byte tagged
// entries, and the entries' data, in the entry itself when it takes four
// bytes or fewer, elsewhere in the file otherwise.
//
// Nothing in the file is trusted: every directory and data extent is
// checked against the file's size before a byte of it is read, and counts
// are only ever used after that check, so a damaged file costs no more
// memory than its own size.
#include "kwsignal/abif.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t kMaxFileBytes = std::size_t{256} << 20;
constexpr std::size_t kHeaderBytes = 34;  // signature, version, directory entry
constexpr std::size_t kEntryBytes = 28;

int be16(const unsigned char* p) {
    return p[0] << 8 | p[1];
}

uint32_t be32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}

int32_t be32s(const unsigned char* p) {
    return static_cast<int32_t>(be32(p));
}

// n big-endian 16-bit words at p, read as Word (int16_t or uint16_t), into
// out. A loop the compiler vectorises: a channel is tens of thousands of
// words.
template <typename Word, typename T>
void wordsTo(const unsigned char* p, std::size_t n, T* out) {
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<T>(static_cast<Word>(p[2 * i] << 8 | p[2 * i + 1]));
}

// The same words into out, replacing what it held. They pass through a
// small buffer on the stack, so that the vector is filled once, with the
// words, never zeroed first.
template <typename Word, typename T>
void wordsInto(const unsigned char* p, std::size_t n, std::vector<T>& out) {
    constexpr std::size_t kChunk = 256;
    T chunk[kChunk];
    out.clear();
    out.reserve(n);
    for (std::size_t from = 0; from < n; from += kChunk) {
        const std::size_t m = std::min(kChunk, n - from);
        wordsTo<Word>(p + 2 * from, m, chunk);
        out.insert(out.end(), chunk, chunk + m);
    }
}

// One directory entry as stored.
struct Entry {
    char name[5];
    int32_t number;
    int type;
    int elementSize;
    int32_t numElements;
    int32_t dataSize;
    uint32_t dataOffset;
    std::size_t pos;  // where the entry itself lies in the file
};

std::string tagName(const char* name, int number) {
    return std::string(name) + std::to_string(number);
}

// The file's bytes and its directory, with checked access to entry data.
class AbifFile {
public:
    AbifFile(const unsigned char* fileBytes, std::size_t fileSize)
        : bytes(fileBytes), size(fileSize) {}

    // Checks the header and reads the directory. Returns the empty string,
    // or the reason the file cannot be read.
    std::string readDirectory(int& version);
    const Entry* find(const char* name, int number) const;
    // Where the entry's data lie, numElements * elementSize bytes of it.
    // False with the reason when the entry does not fit the file.
    bool data(const Entry& e, const unsigned char*& p, std::size_t& n, std::string& why) const;
    // A 16-bit integer array (ABIF type 4, or 3 for unsigned words), as
    // ints or straight into doubles.
    template <typename T>
    bool shorts(const Entry& e, bool isSigned, std::vector<T>& out, std::string& why) const;
    // A string (pString, cString or char array), trailing blanks and NULs
    // dropped.
    bool text(const Entry& e, std::string& out, std::string& why) const;
    // A numeric array of any of the ABIF number types (bytes, 16- and
    // 32-bit integers, floats, doubles) as doubles.
    bool numbers(const Entry& e, std::vector<double>& out, std::string& why) const;

private:
    const unsigned char* bytes;
    std::size_t size;
    std::vector<Entry> entries;
};

std::string AbifFile::readDirectory(int& version) {
    if (size < 4 || std::memcmp(bytes, "ABIF", 4) != 0)
        return "not an ABIF file (it does not begin with \"ABIF\")";
    if (size < kHeaderBytes)
        return "truncated: " + std::to_string(size) + " bytes, the ABIF header alone takes " +
               std::to_string(kHeaderBytes);
    version = be16(bytes + 4);
    const int32_t count = be32s(bytes + 6 + 12);
    const uint64_t offset = be32(bytes + 6 + 20);
    if (count <= 0) return "the directory declares " + std::to_string(count) + " entries";
    if (offset + uint64_t(count) * kEntryBytes > size)
        return "truncated or damaged: the directory of " + std::to_string(count) +
               " entries at byte " + std::to_string(offset) + " runs past the end of the file (" +
               std::to_string(size) + " bytes)";
    entries.resize(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        Entry& e = entries[i];
        const unsigned char* p = bytes + offset + i * kEntryBytes;
        std::memcpy(e.name, p, 4);
        e.name[4] = '\0';
        e.number = be32s(p + 4);
        e.type = be16(p + 8);
        e.elementSize = be16(p + 10);
        e.numElements = be32s(p + 12);
        e.dataSize = be32s(p + 16);
        e.dataOffset = be32(p + 20);
        e.pos = static_cast<std::size_t>(offset + i * kEntryBytes);
    }
    return std::string();
}

const Entry* AbifFile::find(const char* name, int number) const {
    for (const Entry& e : entries)
        if (e.number == number && std::memcmp(e.name, name, 4) == 0) return &e;
    return nullptr;
}

bool AbifFile::data(const Entry& e, const unsigned char*& p, std::size_t& n,
                    std::string& why) const {
    const std::string tag = tagName(e.name, e.number);
    if (e.numElements < 0 || e.dataSize < 0) {
        why = tag + " declares a negative size";
        return false;
    }
    const uint64_t used = uint64_t(e.numElements) * uint64_t(e.elementSize);
    if (used > uint64_t(e.dataSize)) {
        why = tag + " declares " + std::to_string(e.numElements) + " elements of " +
              std::to_string(e.elementSize) + " bytes in " + std::to_string(e.dataSize) + " bytes";
        return false;
    }
    if (e.dataSize <= 4) {
        p = bytes + e.pos + 20;  // small data live in the entry's offset field
    } else if (uint64_t(e.dataOffset) + uint64_t(e.dataSize) > size) {
        why = tag + " points outside the file (" + std::to_string(e.dataSize) + " bytes at byte " +
              std::to_string(e.dataOffset) + ", file " + std::to_string(size) + " bytes)";
        return false;
    } else {
        p = bytes + e.dataOffset;
    }
    n = static_cast<std::size_t>(used);
    return true;
}

template <typename T>
bool AbifFile::shorts(const Entry& e, bool isSigned, std::vector<T>& out, std::string& why) const {
    if ((e.type != 4 && e.type != 3) || e.elementSize != 2) {
        why = tagName(e.name, e.number) + " is not an array of 16-bit integers";
        return false;
    }
    const unsigned char* p = nullptr;
    std::size_t n = 0;
    if (!data(e, p, n, why)) return false;
    if (isSigned)
        wordsInto<int16_t>(p, n / 2, out);
    else
        wordsInto<uint16_t>(p, n / 2, out);
    return true;
}

bool AbifFile::text(const Entry& e, std::string& out, std::string& why) const {
    const unsigned char* p = nullptr;
    std::size_t n = 0;
    if (e.type != 18 && e.type != 19 && e.type != 2 && e.type != 1) {
        why = tagName(e.name, e.number) + " is not text";
        return false;
    }
    if (!data(e, p, n, why)) return false;
    if (e.type == 18 && n > 0) {  // Pascal string: a length byte, then the text
        n = p[0] < n ? p[0] : n - 1;
        ++p;
    }
    out.assign(reinterpret_cast<const char*>(p), n);
    out.resize(std::strlen(out.c_str()));
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return true;
}

// IEEE-754 single or double precision stored big-endian.
double beFloat(const unsigned char* p, int bytes) {
    if (bytes == 4) {
        const uint32_t u = be32(p);
        float f = 0.0f;
        std::memcpy(&f, &u, sizeof f);
        return f;
    }
    const uint64_t u = uint64_t(be32(p)) << 32 | be32(p + 4);
    double d = 0.0;
    std::memcpy(&d, &u, sizeof d);
    return d;
}

bool AbifFile::numbers(const Entry& e, std::vector<double>& out, std::string& why) const {
    const int width = e.type == 1 || e.type == 2   ? 1
                      : e.type == 3 || e.type == 4 ? 2
                      : e.type == 5 || e.type == 7 ? 4
                      : e.type == 8                ? 8
                                                   : 0;
    if (width == 0 || e.elementSize != width) {
        why = tagName(e.name, e.number) + " is not an array of numbers";
        return false;
    }
    const unsigned char* p = nullptr;
    std::size_t n = 0;
    if (!data(e, p, n, why)) return false;
    out.resize(n / static_cast<std::size_t>(width));
    for (std::size_t i = 0; i < out.size(); ++i) {
        const unsigned char* q = p + i * static_cast<std::size_t>(width);
        switch (e.type) {
            case 1:
                out[i] = q[0];
                break;
            case 2:
                out[i] = static_cast<signed char>(q[0]);
                break;
            case 3:
                out[i] = be16(q);
                break;
            case 4:
                out[i] = static_cast<int16_t>(be16(q));
                break;
            case 5:
                out[i] = be32s(q);
                break;
            default:
                out[i] = beFloat(q, width);
                break;
        }
    }
    return true;
}

// ---- metadata ---------------------------------------------------------------

// Text of an optional tag; empty (with a warning when it is damaged) when it
// cannot be read.
std::string optionalText(const AbifFile& f, const char* name, int number, kw::AbifRun& run) {
    const Entry* e = f.find(name, number);
    std::string out, why;
    if (e != nullptr && !f.text(*e, out, why)) run.warnings.push_back(why + "; ignored");
    return out;
}

// Trace code of a base letter: C, A, G, T are 0..3; -1 for anything else.
int traceCodeOf(char base) {
    switch (base) {
        case 'C':
        case 'c':
            return 0;
        case 'A':
        case 'a':
            return 1;
        case 'G':
        case 'g':
            return 2;
        case 'T':
        case 't':
            return 3;
        default:
            return -1;
    }
}

// Maps dyes 1..4 onto trace codes through FWO_ ("GATC": dye 1 is G, so
// row 2 holds DATA1). Without a usable FWO_ (fragment analysis) the rows
// keep the dye order.
void mapBases(const AbifFile& f, kw::AbifRun& run) {
    const std::string order = optionalText(f, "FWO_", 1, run);
    std::array<int, 4> dyes{{0, 0, 0, 0}};
    bool valid = order.size() >= 4;
    for (int d = 0; valid && d < 4; ++d) {
        const int code = traceCodeOf(order[d]);
        valid = code >= 0 && dyes[code] == 0;
        if (valid) dyes[code] = d + 1;
    }
    if (valid) {
        run.baseOrder = order.substr(0, 4);
        run.traceDyes = dyes;
    } else if (order.empty()) {
        run.warnings.push_back("no base order (FWO_): rows hold dyes 1-4 in dye order");
    } else {
        run.warnings.push_back("base order (FWO_) \"" + order +
                               "\" is not an order of A, C, G, T: rows hold dyes 1-4 in dye order");
    }
}

void readNames(const AbifFile& f, kw::AbifRun& run) {
    run.instrumentModel = optionalText(f, "MODL", 1, run);
    run.sampleName = optionalText(f, "SMPL", 1, run);
    int numDyes = 4;
    std::vector<int> declared;
    std::string why;
    const Entry* e = f.find("Dye#", 1);
    if (e != nullptr && f.shorts(*e, true, declared, why) && !declared.empty())
        numDyes = declared[0] < 4 ? 4 : declared[0] > 6 ? 6 : declared[0];
    if (f.find("DATA", 106) != nullptr) numDyes = 6;
    if (f.find("DATA", 105) != nullptr && numDyes < 5) numDyes = 5;
    for (int d = 1; d <= numDyes; ++d) run.dyeNames.push_back(optionalText(f, "DyeN", d, run));
}

// ---- channels ---------------------------------------------------------------

// Reads DATA<first + dye - 1> for dyes 1..4 into rows in trace-code order.
// False with the reason when one is missing or damaged.
bool readFourChannels(const AbifFile& f, int first, const std::array<int, 4>& traceDyes,
                      std::vector<std::vector<double>>& rows, std::string& why) {
    rows.assign(4, std::vector<double>());
    for (int t = 0; t < 4; ++t) {
        const int number = first + traceDyes[t] - 1;
        const Entry* e = f.find("DATA", number);
        if (e == nullptr) {
            why = "no channel " + tagName("DATA", number);
            return false;
        }
        if (!f.shorts(*e, true, rows[t], why)) return false;
    }
    return true;
}

// Cuts rows to their common length; says so when they differed.
std::size_t equalLengths(std::vector<std::vector<double>>& rows, const char* what,
                         kw::AbifRun& run) {
    std::size_t n = rows.empty() ? 0 : rows[0].size();
    for (const std::vector<double>& r : rows) n = r.size() < n ? r.size() : n;
    bool cut = false;
    for (std::vector<double>& r : rows) {
        cut = cut || r.size() != n;
        r.resize(n);
    }
    if (cut)
        run.warnings.push_back(std::string(what) + " channels differ in length; all cut to " +
                               std::to_string(n) + " samples");
    return n;
}

void readExtraDyes(const AbifFile& f, kw::AbifRun& run) {
    for (int dye = 5; dye <= 6; ++dye) {
        const Entry* e = f.find("DATA", 100 + dye);
        kw::AbifExtraChannel c;
        std::string why;
        if (e == nullptr) continue;
        if (!f.shorts(*e, true, c.samples, why)) {
            run.warnings.push_back(why + "; dye " + std::to_string(dye) + " ignored");
            continue;
        }
        c.dye = dye;
        c.dyeName =
            static_cast<std::size_t>(dye) <= run.dyeNames.size() ? run.dyeNames[dye - 1] : "";
        c.samples.resize(static_cast<std::size_t>(run.numScans), 0.0);
        run.extraRaw.push_back(std::move(c));
    }
}

// Dye names of some instruments carry leading blanks (" VIC").
std::string trimmed(const std::string& s) {
    const std::size_t a = s.find_first_not_of(" \t");
    const std::size_t b = s.find_last_not_of(" \t");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

// Row of run.raw holding dye 1..4.
int traceOfDye(const kw::AbifRun& run, int dye) {
    for (int t = 0; t < 4; ++t)
        if (run.traceDyes[static_cast<std::size_t>(t)] == dye) return t;
    return dye - 1;
}

// Every raw channel in dye order: dyes 1-4 in DATA1-4, dyes 5-8 in
// DATA105-108. Dye#1 says how many the run recorded; a DATA10x present
// beyond that count is taken too (some files understate it).
void readAllDyes(const AbifFile& f, kw::AbifRun& run) {
    constexpr int kMaxDyes = 8;
    int numDyes = 4;
    std::vector<int> declared;
    std::string why;
    const Entry* count = f.find("Dye#", 1);
    if (count != nullptr && f.shorts(*count, true, declared, why) && !declared.empty())
        numDyes = std::min(kMaxDyes, std::max(4, declared[0]));
    for (int dye = numDyes + 1; dye <= kMaxDyes; ++dye)
        if (f.find("DATA", 100 + dye) != nullptr) numDyes = dye;
    for (int dye = 1; dye <= numDyes; ++dye) {
        kw::AbifChannel c;
        c.dye = dye;
        c.dataTag = dye <= 4 ? dye : 100 + dye;
        const std::size_t k = static_cast<std::size_t>(dye - 1);
        // Names and damage of dyes 1-6 were reported when read above.
        const bool reported = dye <= 6;
        c.name =
            trimmed(k < run.dyeNames.size() ? run.dyeNames[k] : optionalText(f, "DyeN", dye, run));
        if (dye <= 4) {
            c.samples = run.raw[static_cast<std::size_t>(traceOfDye(run, dye))];
            run.dyes.push_back(std::move(c));
            continue;
        }
        const Entry* e = f.find("DATA", c.dataTag);
        if (e == nullptr || !f.shorts(*e, true, c.samples, why)) {
            if (!reported || e == nullptr)
                run.warnings.push_back(
                    (e == nullptr ? tagName("DATA", c.dataTag) + " missing" : why) + "; dye " +
                    std::to_string(dye) + " left out");
            continue;
        }
        if (c.samples.size() != static_cast<std::size_t>(run.numScans))
            run.warnings.push_back(tagName("DATA", c.dataTag) + " holds " +
                                   std::to_string(c.samples.size()) + " scans, the run " +
                                   std::to_string(run.numScans) + "; cut or padded with 0");
        c.samples.resize(static_cast<std::size_t>(run.numScans), 0.0);
        run.dyes.push_back(std::move(c));
    }
}

// Numbers of an optional tag; empty (with a warning when damaged) otherwise.
std::vector<double> optionalNumbers(const AbifFile& f, const char* name, int number,
                                    kw::AbifRun& run) {
    const Entry* e = f.find(name, number);
    std::vector<double> out;
    std::string why;
    if (e != nullptr && !f.numbers(*e, out, why)) {
        run.warnings.push_back(why + "; ignored");
        out.clear();
    }
    return out;
}

// The standard's dye in old files: DyeB<n> is 'S' for the standard dye.
int flaggedStandardDye(const AbifFile& f, int numDyes) {
    for (int dye = 1; dye <= numDyes; ++dye) {
        const Entry* e = f.find("DyeB", dye);
        const unsigned char* p = nullptr;
        std::size_t n = 0;
        std::string why;
        if (e != nullptr && f.data(*e, p, n, why) && n >= 1 && (p[0] == 'S' || p[0] == 's'))
            return dye;
    }
    return 0;
}

// The instrument software's sized peaks: four parallel arrays that must
// agree in length to mean anything.
void readStoredPeaks(const AbifFile& f, kw::AbifRun& run) {
    if (f.find("Peak", 1) == nullptr) return;
    const std::vector<double> dye = optionalNumbers(f, "Peak", 1, run);
    const std::vector<double> scan = optionalNumbers(f, "Peak", 2, run);
    const std::vector<double> size = optionalNumbers(f, "Peak", 12, run);
    const std::vector<double> standard = optionalNumbers(f, "Peak", 21, run);
    if (dye.empty() || scan.size() != dye.size() || size.size() != dye.size() ||
        standard.size() != dye.size()) {
        run.warnings.push_back("stored peak table (Peak1/2/12/21) incomplete; ignored");
        return;
    }
    for (std::size_t i = 0; i < dye.size(); ++i)
        run.storedPeaks.push_back({static_cast<int>(dye[i]), scan[i], size[i], standard[i]});
}

void readFragmentTags(const AbifFile& f, kw::AbifRun& run) {
    readAllDyes(f, run);
    run.dyeSetName = trimmed(optionalText(f, "DySN", 1, run));
    run.standardName = trimmed(optionalText(f, "StdF", 1, run));
    run.standardDyeFlag = flaggedStandardDye(f, static_cast<int>(run.dyes.size()));
    std::vector<double> saturated = optionalNumbers(f, "Satd", 1, run);
    if (saturated.empty()) saturated = optionalNumbers(f, "OfSc", 1, run);
    for (double s : saturated)
        if (s >= 0.0 && s < run.numScans) run.saturatedScans.push_back(static_cast<int>(s));
    std::sort(run.saturatedScans.begin(), run.saturatedScans.end());
    readStoredPeaks(f, run);
}

void readProcessed(const AbifFile& f, kw::AbifRun& run) {
    bool any = false;
    for (int number = 9; number <= 12; ++number) any = any || f.find("DATA", number) != nullptr;
    if (!any) return;
    std::string why;
    if (!readFourChannels(f, 9, run.traceDyes, run.processed, why)) {
        run.processed.clear();
        run.warnings.push_back("processed data left out: " + why);
        return;
    }
    equalLengths(run.processed, "processed", run);
}

// The base caller's quality values (PCON2, else PCON1): one byte per call,
// Phred scale. Kept only when there is one per call.
void readQualities(const AbifFile& f, kw::AbifRun& run) {
    const Entry* pcon = f.find("PCON", 2);
    if (pcon == nullptr) pcon = f.find("PCON", 1);
    if (pcon == nullptr) return;
    std::string why;
    const unsigned char* p = nullptr;
    std::size_t n = 0;
    if ((pcon->type != 2 && pcon->type != 1) || pcon->elementSize != 1) {
        run.warnings.push_back(tagName(pcon->name, pcon->number) +
                               " is not an array of bytes; qualities ignored");
        return;
    }
    if (!f.data(*pcon, p, n, why)) {
        run.warnings.push_back(why + "; qualities ignored");
        return;
    }
    if (n != run.calls.size()) {
        run.warnings.push_back(std::to_string(n) + " qualities but " +
                               std::to_string(run.calls.size()) + " base calls; qualities ignored");
        return;
    }
    run.qualities.assign(p, p + n);
}

// Base calls and their positions, PBAS2/PLOC2 (the base caller's own) with
// PBAS1/PLOC1 (possibly edited by hand) as the fallback.
void readCalls(const AbifFile& f, kw::AbifRun& run) {
    std::string why;
    const Entry* pbas = f.find("PBAS", 2);
    if (pbas == nullptr && (pbas = f.find("PBAS", 1)) != nullptr)
        run.warnings.push_back("no PBAS2: base calls taken from PBAS1");
    if (pbas != nullptr && !f.text(*pbas, run.calls, why))
        run.warnings.push_back(why + "; base calls ignored");
    const Entry* ploc = f.find("PLOC", 2);
    if (ploc == nullptr) ploc = f.find("PLOC", 1);
    if (ploc != nullptr && !f.shorts(*ploc, false, run.callPositions, why))
        run.warnings.push_back(why + "; call positions ignored");
    if (run.calls.size() != run.callPositions.size())
        run.warnings.push_back(std::to_string(run.calls.size()) + " base calls but " +
                               std::to_string(run.callPositions.size()) + " call positions");
    readQualities(f, run);
}

// ---- sampling rate ----------------------------------------------------------

// Days since 1970-01-01 of a proleptic Gregorian date.
long long daysFromCivil(int y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097LL + doe - 719468;
}

// A date tag and a time tag read as seconds since 1970 and as text; false
// when either is missing or out of range. Hundredths are left out: some
// instruments write values above 99 there.
bool readStamp(const AbifFile& f, int number, long long& seconds, std::string& textOut) {
    const Entry* date = f.find("RUND", number);
    const Entry* time = f.find("RUNT", number);
    const unsigned char* d = nullptr;
    const unsigned char* t = nullptr;
    std::size_t n = 0;
    std::string why;
    if (date == nullptr || time == nullptr || date->type != 10 || time->type != 11 ||
        !f.data(*date, d, n, why) || n < 4 || !f.data(*time, t, n, why) || n < 4)
        return false;
    const int year = be16(d), month = d[2], day = d[3];
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > 31 || t[0] > 23 || t[1] > 59 ||
        t[2] > 59)
        return false;
    seconds = daysFromCivil(year, month, day) * 86400 + t[0] * 3600 + t[1] * 60 + t[2];
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, t[0], t[1],
                  t[2]);
    textOut = buf;
    return true;
}

// Rate from the scans between two stamps (3/4: data collection; 1/2: the
// whole run); false when they are missing or not in order.
bool rateBetween(const AbifFile& f, int startNumber, kw::AbifRun& run) {
    long long start = 0, stop = 0;
    std::string startText, stopText;
    if (!readStamp(f, startNumber, start, startText) ||
        !readStamp(f, startNumber + 1, stop, stopText) || stop <= start || run.numScans <= 0)
        return false;
    run.runStart = startText;
    run.runStop = stopText;
    run.runSeconds = static_cast<double>(stop - start);
    run.samplingRate = run.numScans / run.runSeconds;
    return true;
}

void measureRate(const AbifFile& f, kw::AbifRun& run) {
    if (rateBetween(f, 3, run)) {
        run.rateFromRunTimes = true;
        return;
    }
    if (rateBetween(f, 1, run)) {
        run.rateFallback = "run start and stop (RUND1/RUNT1 to RUND2/RUNT2)";
    } else {
        char rate[32];
        std::snprintf(rate, sizeof rate, "%g", kw::kAbifDefaultRate);
        run.samplingRate = kw::kAbifDefaultRate;
        run.rateFallback = std::string("default rate of ") + rate + " scans/s";
    }
    run.warnings.push_back(
        "no usable data-collection times (RUND3/RUNT3 to RUND4/RUNT4); rate taken from the " +
        run.rateFallback);
}

// ---- the whole file ---------------------------------------------------------

// Fills run from the file; leaves the reason in run.error when the file
// cannot be used.
void readRun(const unsigned char* bytes, std::size_t size, kw::AbifRun& run) {
    AbifFile f(bytes, size);
    run.error = f.readDirectory(run.abifVersion);
    if (!run.error.empty()) return;
    mapBases(f, run);
    if (!readFourChannels(f, 1, run.traceDyes, run.raw, run.error)) return;
    run.numScans = static_cast<int>(equalLengths(run.raw, "raw", run));
    if (run.numScans == 0) {
        run.error = "the raw channels hold no scans";
        return;
    }
    readNames(f, run);
    readExtraDyes(f, run);
    readFragmentTags(f, run);
    readProcessed(f, run);
    readCalls(f, run);
    measureRate(f, run);
}

}  // namespace

namespace kw {

AbifRun readAbifBytes(const unsigned char* bytes, std::size_t size, const std::string& name) {
    AbifRun run;
    try {
        readRun(bytes != nullptr ? bytes : reinterpret_cast<const unsigned char*>(""),
                bytes != nullptr ? size : 0, run);
    } catch (const std::exception& e) {
        run = AbifRun();
        run.error = std::string("cannot be read: ") + e.what();
    }
    if (!run.error.empty()) run.error = name + ": " + run.error;
    return run;
}

AbifRun readAbif(const std::string& path) {
    AbifRun failed;
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        failed.error = path + ": is a directory";
        return failed;
    }
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        failed.error = path + ": cannot open (" + std::generic_category().message(errno) + ")";
        return failed;
    }
    long size = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
    std::vector<unsigned char> bytes;
    if (size < 0 || static_cast<unsigned long>(size) > kMaxFileBytes) {
        failed.error = path + (size < 0 ? ": not a regular file" : ": larger than 256 MiB");
    } else {
        try {
            bytes.resize(static_cast<std::size_t>(size));
        } catch (const std::exception&) {
            failed.error = path + ": not enough memory to read it";
        }
    }
    const bool readAll = failed.error.empty() && std::fseek(f, 0, SEEK_SET) == 0 &&
                         std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
    std::fclose(f);
    if (!failed.error.empty()) return failed;
    if (!readAll) {
        failed.error = path + ": cannot read the file";
        return failed;
    }
    return readAbifBytes(bytes.data(), bytes.size(), path);
}

}  // namespace kw
