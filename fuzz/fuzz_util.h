// Helpers shared by the fuzz targets and the seed generator.
#ifndef KWSIGNAL_FUZZ_UTIL_H
#define KWSIGNAL_FUZZ_UTIL_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kwsignal/process.h"
#include "kwsignal/run.h"

namespace kwfuzz {

/// A file name private to this process in $TMPDIR (else /dev/shm, else
/// /tmp), ending in `suffix`; removed when the process exits. The file
/// readers take paths, so each input is written there.
std::string scratchPath(const std::string& suffix);

/// Writes bytes to path, replacing it; aborts when that fails (a broken
/// harness must not pass for a clean run).
void writeFile(const std::string& path, const uint8_t* data, std::size_t size);
void writeFile(const std::string& path, const std::string& bytes);

/// Stops the run with a message when an invariant of a reader does not hold;
/// libFuzzer reports it as a crash and keeps the input.
void require(bool condition, const char* what);

/// The first word of a file as the library's text readers take it: white
/// space skipped, then at most 39 characters up to the next white space.
std::string firstWord(const uint8_t* data, std::size_t size);

/// Whether the library's row-file readers accept the first word: the
/// processed, line-count or indexed header. Any other non-empty first word
/// ends the process in those readers, so they are only called after this
/// check, as the command-line tool's sniffing calls them.
bool namesRowFormat(const std::string& word);

/// An arbitrary capillary decoded from fuzz bytes: 1 to 4 traces of 0 to
/// kMaxSamples samples, any doubles (NaN and infinities included), any rate.
struct Capillary {
    std::vector<std::vector<double>> rows;
    int numData = 0;
    double rate = 0.0;
    /// A system separation matrix to refine (traces x traces), or empty.
    std::vector<std::vector<float>> matrix;
};

constexpr int kMaxSamples = 20000;

/// Layout of the bytes:
///   byte 0       bits 0-1: traces - 1; bit 2: samples are raw little-endian
///                doubles (else 16-bit integers, see below); bit 3: a system
///                matrix follows the rate
///   bytes 1-2    samples per trace, little-endian, modulo kMaxSamples + 1
///   byte 3       rate: an entry of a table of rates, or (values >= 240) a
///                raw double in the next 8 bytes
///   (matrix)     traces x traces little-endian floats, row by row
///   rest         the samples of trace 0, then trace 1, ...; the payload
///                repeats as often as needed, so a short input still makes a
///                long trace (an empty payload gives zeros).
/// 16-bit samples are signed counts, with 32767 standing for NaN, 32766 for
/// +infinity and -32768 for -infinity.
Capillary decodeCapillary(const uint8_t* data, std::size_t size);

/// The decoded capillary as a run named `name` (channels named by their
/// codes), and its matrix as the road's system matrix.
kw::Run runOf(Capillary cap, const std::string& name, kw::ProcessOptions& options);

/// The inverse for seeds: 16-bit samples (clamped; NaN and infinities
/// coded), rate as a raw double, the matrix when not empty.
std::string encodeCapillary(const std::vector<std::vector<double>>& rows, double rate,
                            const std::vector<std::vector<float>>& matrix = {});

}  // namespace kwfuzz

#endif
