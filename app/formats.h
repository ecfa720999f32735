// Trace files as the kwsignal tool reads them: the format is recognised
// from the file's content, the file is checked whole (counts, numbers,
// length) and only then handed to the library's reader, so a bad file gives
// a reason instead of a stopped process or made-up samples.
#ifndef KWSIGNAL_APP_FORMATS_H
#define KWSIGNAL_APP_FORMATS_H

#include <string>
#include <vector>

namespace kwapp {

enum class Format { automatic, abif, exportFile, processed, nlines, indexed, qrd };

/// The name used on the command line and in summary.json ("abif", "export", ...).
const char* formatName(Format f);
/// Parses a --format value; false when it names no format.
bool parseFormat(const std::string& name, Format& f);

/// One capillary as read from a file, before any processing.
struct RawRun {
    std::string path;
    Format format = Format::automatic;
    int numTraces = 0;
    int numData = 0;
    double rate = 0.0;  ///< samples per second of rows
    /// rows[t][s]: sample s of trace code t.
    std::vector<std::vector<double>> rows;
    /// Samples of rows per sample of the file: 3 where 1 Hz data were
    /// brought to 3 Hz on reading, else 1.
    double coordinateScale = 1.0;
    /// Label of each trace code: C, A, G, T for a four-dye run whose dye
    /// order is known, else the trace code as a number.
    std::vector<std::string> channelNames;
    std::string instrument;     ///< instrument model, empty when the file names none
    std::string rateSource;     ///< where the rate came from
    bool hasProcessed = false;  ///< ABIF: the instrument's processed channels are present
    int numCalls = -1;          ///< ABIF: number of base calls, -1 when not applicable
    std::vector<std::string> warnings;
};

/// Reads `path` as `requested` (Format::automatic: recognised from its
/// content) into run. Returns the empty string on success, otherwise one
/// short reason (the caller adds the file name).
std::string loadRun(const std::string& path, Format requested, RawRun& run);

}  // namespace kwapp

#endif
