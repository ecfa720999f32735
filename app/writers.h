// The output files of one processed capillary. Every file is written under
// a temporary name in its final directory and renamed when complete, so an
// interrupted run never leaves a half-written file under a final name.
#ifndef KWSIGNAL_APP_WRITERS_H
#define KWSIGNAL_APP_WRITERS_H

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "formats.h"
#include "pipeline.h"

namespace kwapp {

/// Writes path through `write` (which returns false on failure) via a
/// temporary file that is renamed to path. Returns "" or the reason.
std::string writeAtomically(const std::string& path, const std::function<bool(std::FILE*)>& write);

/// Writes path with a writer that takes a file name (the library's text
/// writers), via a temporary file that is renamed to path.
std::string writeThroughTemporary(const std::string& path,
                                  const std::function<void(const std::string&)>& write);

/// The header line of peaks.tsv, tab-separated.
extern const char* const kPeaksHeader;

/// peaks.tsv: one row per peak, positions and widths in the input file's
/// own sample coordinates, by ascending locatn.
std::string writePeaks(const std::string& path, const RawRun& run, const PipelineResult& result);

/// A matrix in the library's separation-matrix text format.
std::string writeMatrix(const std::string& path, const std::vector<std::vector<double>>& m);

/// processed.txt: the conditioned capillary in the export format.
std::string writeProcessed(const std::string& path, const KwCap& cap);

/// summary.json of one processed file. parseMs: time spent reading it.
std::string writeSummary(const std::string& path, const RawRun& run, const PipelineResult& result,
                         double parseMs);

}  // namespace kwapp

#endif
