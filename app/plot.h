// plot.svg: the raw channels above the processed channels, in the
// conventional colours (C blue, A green, G black, T red), with the fitted
// peaks marked and the signal window shown. Vector graphics, so a browser
// zooms into any stretch of the run; the raw panel is decimated to a
// min/max envelope to keep the file small.
#ifndef KWSIGNAL_APP_PLOT_H
#define KWSIGNAL_APP_PLOT_H

#include <string>

#include "kwsignal/process.h"
#include "kwsignal/run.h"

namespace kwapp {

/// The SVG document for one processed run.
std::string plotSvg(const kw::Run& run, const kw::ProcessResult& result);

/// Writes plotSvg to path (atomically). Returns "" or the reason.
std::string writePlot(const std::string& path, const kw::Run& run, const kw::ProcessResult& result);

}  // namespace kwapp

#endif
