// Reading any trace file kwsignal supports, safely.
//
// The format is recognised from the file's content (or insisted on by the
// caller), and the file is checked whole before anything is taken from it:
// counts against the bytes present, every number finite, the run long
// enough. A bad file gives a typed error naming the file and the problem;
// nothing here ends the process, pads a short file with zeros or reads
// outside the bytes given.
//
//     kw::Run run;
//     if (const kw::ReadError e = kw::readRun("sample.ab1", run)) {
//         std::fprintf(stderr, "%s\n", e.message.c_str());
//         return;
//     }
//     // run.rows[t][s]: sample s of trace code t (C, A, G, T), run.rate Hz
#ifndef KWSIGNAL_RUN_H
#define KWSIGNAL_RUN_H

#include <cstddef>
#include <string>
#include <vector>

#include "kwsignal/abif.h"
#include "kwsignal/export.h"

namespace kw {

/// The trace file formats read. `automatic` recognises the format from the
/// content.
enum class Format { automatic, abif, exportFile, processed, nlines, indexed, qrd };

/// The name of a format on the command line and in reports: "auto", "abif",
/// "export", "processed", "nlines", "indexed", "qrd".
KW_API const char* formatName(Format f);
/// Every format name, `automatic` first, in the order of the enumeration.
KW_API const std::vector<std::string>& formatNames();
/// The format a name stands for; false (f unchanged) when it names none.
KW_API bool parseFormat(const std::string& name, Format& f);

/// The letter of each trace code of a four-dye run: C, A, G, T.
constexpr char kBaseLetters[4] = {'C', 'A', 'G', 'T'};

/// The trace code (0..3) of letter C, A, G or T in a four-dye run; -1 for
/// any other character (N, an IUPAC code, lower case).
constexpr int traceCodeOfBase(char base) {
    for (int t = 0; t < 4; ++t)
        if (kBaseLetters[t] == base) return t;
    return -1;
}

/// The labels of a run's traces: C, A, G, T when there are four whose base
/// order is known, else each trace code as a number ("0", "1", ...).
/// numTraces: 0..16.
KW_API std::vector<std::string> channelNamesOf(int numTraces, bool knownBaseOrder);

/// One capillary as read from a file, before any processing.
struct Run {
    std::string path;  ///< the file, or the name given for bytes in memory
    Format format = Format::automatic;
    int numTraces = 0;  ///< rows, 1..16
    int numData = 0;    ///< samples per row
    double rate = 0.0;  ///< samples per second of rows
    /// rows[t][s]: sample s of trace code t.
    std::vector<std::vector<double>> rows;
    /// Samples of rows per sample of the file: 3 where 1 Hz data were
    /// brought to 3 Hz on reading, else 1. Positions reported in the file's
    /// own sample numbers are row positions divided by it.
    double coordinateScale = 1.0;
    /// Label of each trace code: C, A, G, T for a four-dye run whose dye
    /// order is known, else the trace code as a number.
    std::vector<std::string> channelNames;
    std::string instrument;  ///< instrument model, empty when the file names none
    std::string sampleName;  ///< the sample's name where the file records one
    std::string rateSource;  ///< where the rate came from, in words
    /// ABIF files: everything else the file holds (names, dye order, run
    /// times, the instrument's processed channels, calls and their
    /// positions), its raw rows moved to `rows` (abif.raw is empty).
    /// Default (abif.numScans 0) for other formats.
    AbifRun abif;
    std::vector<std::string> warnings;  ///< caveats of a file that was read

    /// The instrument's own base calls (ABIF), empty when absent.
    const std::string& calls() const { return abif.calls; }
    /// Their positions, in the instrument's processed samples.
    const std::vector<int>& callPositions() const { return abif.callPositions; }
    /// The label of trace code t (its number where it has none).
    KW_API std::string channelName(int t) const;
};

/// Why a file could not be read.
enum class ReadErrorKind {
    none,           ///< read
    notFound,       ///< no such file
    permission,     ///< not allowed to open it
    directory,      ///< a directory, not a file
    notRegular,     ///< a device or a pipe, not a file
    empty,          ///< no bytes
    tooLarge,       ///< beyond the size a trace file can have (512 MiB)
    io,             ///< the system failed to read it
    unknownFormat,  ///< none of the formats read (an instrument-file name that holds
                    ///< something else: "not an ABIF file")
    wrongFormat,    ///< not the format the caller insisted on
    truncated,      ///< shorter than its own header says
    malformed,      ///< a header or a value that cannot be what it claims
    notFinite,      ///< a sample that is not a finite number
    noSamples       ///< a well-formed file without samples
};

/// The name of an error kind ("not_found", "malformed", ...).
KW_API const char* readErrorKindName(ReadErrorKind kind);

/// The outcome of reading: kind `none` when the file was read. message is
/// "<file>: <problem>" otherwise.
struct ReadError {
    ReadErrorKind kind = ReadErrorKind::none;
    std::string message;
    /// The problem without the file's name in front.
    std::string reason;
    explicit operator bool() const { return kind != ReadErrorKind::none; }
};

/// Largest file read, bytes.
constexpr long long kMaxTraceFileBytes = 512LL << 20;

/// Reads `path` as `format` into run (which is reset first). On an error
/// run holds nothing to use.
[[nodiscard]] KW_API ReadError readRun(const std::string& path, Run& run,
                                       Format format = Format::automatic);

/// As readRun, from a file's bytes already in memory; `name` stands for the
/// file in messages and in run.path. Reads no file.
[[nodiscard]] KW_API ReadError readRunBytes(const void* bytes, std::size_t size,
                                            const std::string& name, Run& run,
                                            Format format = Format::automatic);

/// Reads a separation matrix in the text form KwSpecSepTable::output writes
/// (n lines of n numbers, n >= 1). Every element must be a finite number
/// within single precision (the tables keep floats). matrix is set only on
/// success.
[[nodiscard]] KW_API ReadError readMatrixFile(const std::string& path,
                                              std::vector<std::vector<double>>& matrix);

}  // namespace kw

#endif
