// Reports of a processed run: peak rows in the file's own sample numbers,
// the peaks table and the summary as text, and the output files written so
// that an interrupted run never leaves a half-written file under its final
// name.
#ifndef KWSIGNAL_REPORT_H
#define KWSIGNAL_REPORT_H

#include <string>
#include <vector>

#include "kwsignal/export.h"
#include "kwsignal/process.h"
#include "kwsignal/run.h"

namespace kw {

/// One fitted peak in the input file's own sample numbers (positions and
/// widths divided by the run's coordinateScale).
struct PeakRow {
    std::string channel;    ///< C, A, G, T, or the trace code as a number
    int traceCode = 0;      ///< 0..numTraces-1
    double locatn = 0.0;    ///< fitted centre, fractional input sample
    double height = 0.0;    ///< Gaussian height above its base, normalised units
    double sigma = 0.0;     ///< standard deviation, input samples
    double base = 0.0;      ///< constant base of the fit
    double area = 0.0;      ///< sigma x height x sqrt(2 pi), input samples
    int startPnt = 0;       ///< first input sample of the event the peak was fitted in
    int endPnt = 0;         ///< last input sample of that event
    double variance = 0.0;  ///< relative residual of that event's fit
};

/// The peaks of result as rows, by ascending locatn.
KW_API std::vector<PeakRow> peakRows(const Run& run, const ProcessResult& result);

/// The header line of peaks.tsv (tab-separated, no line end).
KW_API const char* peaksHeader();

/// peaks.tsv: the header, then one line per peak row.
KW_API std::string peaksTsv(const Run& run, const ProcessResult& result);

/// summary.json: the run, the road's measurements, separation, channels,
/// counts, base calls, stage times and warnings (pretty-printed, ends in a newline).
/// parseMs: milliseconds spent reading the file (0 when unknown).
KW_API std::string summaryJson(const Run& run, const ProcessResult& result, double parseMs);

/// The name of a run's read: the sample name the file records, else the
/// file's name without folder and extension ("run" for none).
KW_API std::string readName(const Run& run);

/// A separation matrix in the text form KwSpecSepTable::output writes.
KW_API std::string matrixText(const std::vector<std::vector<double>>& matrix);

/// Writes text to path through a temporary file in the same folder that is
/// renamed when complete. Returns "" or the reason (naming the file).
[[nodiscard]] KW_API std::string writeFileAtomically(const std::string& path,
                                                     const std::string& text);

/// A capillary in the export format, the bytes KwCap::output writes.
KW_API std::string exportText(const KwCap& cap);

/// Writes the conditioned capillary in the export format (KwCap::output)
/// to path, atomically. Returns "" or the reason.
[[nodiscard]] KW_API std::string writeProcessed(const std::string& path, const KwCap& cap);

/// plot.svg of a processed run, the picture `kwsignal process` writes. A
/// sequencing run: its raw channels (a min/max envelope) above its
/// processed channels, C blue, A green, G black, T red, every fitted peak
/// ticked, the signal window dashed and the called letters over bars as
/// tall as their QVs; one pixel per sample of the run (at least 1,700
/// wide), 780 high. A fragment run: one panel per dye against base pairs, the
/// standard's fragments labelled, and the sizing's residuals. Needs the
/// run's rows and result.processed (a sequencing run without it draws the
/// raw panel only).
KW_API std::string plotSvg(const Run& run, const ProcessResult& result);

/// The colour the pictures draw trace code t in ("#rrggbb"): C blue, A
/// green, G black, T red for 0..3, four more for dyes 4..7, repeating
/// beyond; grey for t < 0 (N, mixed codes: no single dye).
KW_API const char* dyeColour(int traceCode);

/// Writes plotSvg to path, atomically. Returns "" or the reason.
[[nodiscard]] KW_API std::string writePlot(const std::string& path, const Run& run,
                                           const ProcessResult& result);

/// Writes processed.txt, matrix.txt, peaks.tsv and summary.json of one run
/// into the folder dir (created when missing), each atomically, and where
/// bases were called calls.fastq, calls.tsv and calls.scf. Returns "" or
/// the reason.
[[nodiscard]] KW_API std::string writeReport(const std::string& dir, const Run& run,
                                             const ProcessResult& result, double parseMs);

}  // namespace kw

#endif
