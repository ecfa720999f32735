// Reading the files capillary sequencers write (ABIF: .ab1 sequencing runs,
// .fsa fragment-analysis runs of the ABI 310, 3100, 3130, 3500, 3730 and
// SeqStudio).
//
// The raw channels of such a file are this library's input: readAbif hands
// them back as four rows in trace-code order C, A, G, T, ready for
//
//     kw::AbifRun run = kw::readAbif("sample.ab1");
//     if (!run.ok()) { report(run.error); return; }
//     std::vector<double*> rows = run.rowPointers();
//     KwCap cap(run.numTraces(), run.numScans, rows.data(), run.samplingRate);
//
// The instrument's own processed channels and base calls come along for
// comparison; the library never uses them. Nothing is thrown: every problem
// is reported in `error` (the file cannot be used) or `warnings` (the file
// was read, with the caveats listed).
#ifndef KWSIGNAL_ABIF_H
#define KWSIGNAL_ABIF_H

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "kwsignal/export.h"
#include "kwsignal/rundata.h"

namespace kw {

/// Sampling rate (scans per second) assumed when a file records neither its
/// data-collection times nor its run times: the rate the library assumes
/// for instrument run data (KwCap::input2).
constexpr double kAbifDefaultRate = kRunDataRate;

/// A raw channel beyond the four base channels: dye 5 (DATA105) or dye 6
/// (DATA106), in fragment analysis usually the size standard.
struct AbifExtraChannel {
    int dye = 0;                  ///< dye number, 5 or 6
    std::string dyeName;          ///< DyeN of that dye, empty when absent
    std::vector<double> samples;  ///< raw counts, numScans values
};

/// One raw dye channel of the file, in the file's dye order.
struct AbifChannel {
    int dye = 0;       ///< dye number, 1..8 (DATA1-4, then DATA105-108)
    int dataTag = 0;   ///< number of the DATA tag it came from (1-4, 105-108)
    std::string name;  ///< DyeN of that dye without stray spaces; empty when absent
    std::vector<double>
        samples;  ///< raw counts, numScans values (a short channel is padded with 0)
};

/// One row of the sized-peak table the instrument's software stored in the
/// file (3500 and SeqStudio fragment runs): for comparison only, the
/// library never sizes with it.
struct AbifStoredPeak {
    int dye = 0;          ///< dye number (Peak1), 1-based as in the file
    double scan = 0.0;    ///< raw scan of the peak (Peak2)
    double sizeBp = 0.0;  ///< size the software gave it, bp (Peak12); negative when unsized
    double standardBp =
        0.0;  ///< standard fragment length it was assigned, bp (Peak21); 0 for a sample peak
};

/// Everything readAbif takes from one file.
struct AbifRun {
    /// Empty when the file was read; otherwise "<path>: <problem>" and the
    /// other fields are to be ignored.
    std::string error;
    /// Caveats of a file that was read (missing tags, fallbacks used,
    /// inconsistent lengths), one sentence each.
    std::vector<std::string> warnings;

    int abifVersion = 0;          ///< version word of the file header (e.g. 101)
    std::string instrumentModel;  ///< MODL1, e.g. "310", "3730"; empty when absent
    std::string sampleName;       ///< SMPL1; empty when absent
    /// FWO_1: the base each of dyes 1..4 stands for, e.g. "GATC" (dye 1 is G).
    /// Empty when the file has none (fragment analysis) or it is not an
    /// order of A, C, G and T; the rows then hold dyes 1..4 in dye order.
    std::string baseOrder;
    /// DyeN1, DyeN2, ... in dye order, one per dye (Dye#1 of them, at least
    /// four); empty strings where a name is missing.
    std::vector<std::string> dyeNames;

    int numScans = 0;  ///< samples per raw channel
    /// Raw counts (DATA1..DATA4, signed; negative values stay negative), four
    /// rows of numScans values in trace-code order C, A, G, T; in dye order
    /// 1..4 when baseOrder is empty.
    std::vector<std::vector<double>> raw;
    /// traceDyes[t]: the dye number (1..4, DATA tag number) row t came from.
    std::array<int, 4> traceDyes{{1, 2, 3, 4}};
    /// Dyes 5 and 6 (DATA105, DATA106) when the file has them; never part of
    /// the rows.
    std::vector<AbifExtraChannel> extraRaw;

    // ---- what fragment analysis needs -----------------------------------
    /// Every raw channel the file has (Dye#1 of them, at most 8: DATA1-4,
    /// then DATA105, DATA106, ...) in dye order, with names trimmed. A
    /// damaged channel is left out with a warning.
    std::vector<AbifChannel> dyes;
    std::string dyeSetName;  ///< DySN1, e.g. "G5", "D"; empty when absent
    /// Dye number (1-based) that old files flag as the size standard (DyeB
    /// set to 'S'); 0 when none is flagged.
    int standardDyeFlag = 0;
    /// StdF1: the name of the size-standard definition the lab used, e.g.
    /// "GS500(-250)LIZ"; a hint (often a subset), empty when absent.
    std::string standardName;
    /// Scans the instrument marked as saturated (Satd1, else off-scale
    /// OfSc1), ascending; empty when the file stores none.
    std::vector<int> saturatedScans;
    /// The instrument software's own sized peaks (Peak1/2/12/21); empty when
    /// absent or inconsistent.
    std::vector<AbifStoredPeak> storedPeaks;

    /// Scans per second: numScans over the seconds from data-collection start
    /// (RUND3/RUNT3) to stop (RUND4/RUNT4).
    double samplingRate = 0.0;
    /// True when samplingRate was measured from the data-collection times.
    bool rateFromRunTimes = false;
    /// Empty when rateFromRunTimes; otherwise the fallback used: the run's
    /// start and stop (RUND1/RUNT1 to RUND2/RUNT2, which include the
    /// pre-run, so the rate comes out low) or kAbifDefaultRate.
    std::string rateFallback;
    /// Times the rate was measured between, "YYYY-MM-DD HH:MM:SS"; empty
    /// with the default rate.
    std::string runStart, runStop;
    double runSeconds = 0.0;  ///< seconds between runStart and runStop

    /// The instrument's processed channels (DATA9..DATA12), same row order as
    /// raw; their length may differ from numScans. Empty when absent.
    std::vector<std::vector<double>> processed;
    /// The instrument's base calls (PBAS2, else PBAS1) and their positions
    /// (PLOC2, else PLOC1) in processed-channel samples. Empty when absent.
    std::string calls;
    std::vector<int> callPositions;
    /// The instrument's quality value of each call (PCON2, else PCON1),
    /// Phred scale 0..255 as stored (in practice 0..~60); one per entry of
    /// calls, else empty (absent, or not one per call: a warning says so).
    std::vector<int> qualities;

    bool ok() const { return error.empty(); }
    int numTraces() const { return static_cast<int>(raw.size()); }
    /// Pointers to the rows of raw, in the form KwCap(numTraces, numData,
    /// rows, rate) takes; valid while this run lives and raw is unchanged.
    std::vector<double*> rowPointers() {
        std::vector<double*> rows;
        for (std::vector<double>& r : raw) rows.push_back(r.data());
        return rows;
    }
};

/// Reads an ABIF file. Every offset and size in the file is checked
/// against the file before it is read; a file that is not ABIF, is cut
/// short, points outside itself or lacks one of DATA1..DATA4 gives an
/// error naming the file and the problem. Tags the importer can do without
/// (FWO_, run times, processed data, calls, names) are read when present.
/// Files larger than 256 MiB are refused.
KW_API AbifRun readAbif(const std::string& path);

/// As readAbif, from the file's bytes already in memory; `name` stands for
/// the file in messages.
KW_API AbifRun readAbifBytes(const unsigned char* bytes, std::size_t size, const std::string& name);

}  // namespace kw

#endif
