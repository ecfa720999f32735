// The default pipeline: the road of one capillary from raw channels to
// fitted peaks, as small named stages whose times are recorded.
//
// Every parameter comes from the data: the sampling rate, the noise of each
// channel, and the spacing and width of the peaks measured on the run
// itself. Nothing is tuned for a particular instrument or file.
#ifndef KWSIGNAL_APP_PIPELINE_H
#define KWSIGNAL_APP_PIPELINE_H

#include <memory>
#include <string>
#include <vector>

#include "formats.h"
#include "kwsignal/capillary.h"
#include "kwsignal/events.h"
#include "kwsignal/separation.h"

namespace kwapp {

struct PipelineOptions {
    /// A system separation matrix (numTraces rows of numTraces) to refine
    /// on the run instead of learning one from scratch; empty to learn.
    std::vector<std::vector<float>> systemMatrix;
};

/// Processor time of one stage (of the thread that ran it), milliseconds.
struct StageTime {
    std::string name;
    double ms = 0.0;
};

struct ChannelSummary {
    double noiseLevel = 0.0;  ///< after normalisation, sample units
    double minHeight = 0.0;   ///< level at which an event starts, after normalisation
    int events = 0;
    int peaks = 0;
};

struct PipelineResult {
    /// "ok", or "no_signal" for a run that holds nothing but noise (no
    /// peaks are reported then); `note` says why.
    std::string status = "ok";
    std::string note;
    int windowStart = 0;  ///< signal window, samples of the capillary
    int windowEnd = 0;
    /// "learned", "refined", "system" (the given matrix applied unrefined)
    /// or "none"; accepted tells whether the estimation met its tolerance.
    std::string separation = "none";
    bool separationAccepted = false;
    std::vector<std::vector<double>> matrix;  ///< the separation matrix applied
    double spacing = 0.0;                     ///< samples from one base to the next
    double sigmaStart = 0.0, sigmaEnd = 0.0;  ///< peak width at the window ends
    std::vector<ChannelSummary> channels;
    double minPeakHeight = 0.0;  ///< smallest fitted height reported as a peak
    int numEvents = 0;
    std::vector<KwPeak> peaks;         ///< by ascending locatn, capillary samples
    std::unique_ptr<KwCap> processed;  ///< the conditioned capillary
    std::vector<StageTime> stages;
    double totalMs = 0.0;            ///< processor time of the whole road, milliseconds
    std::vector<std::string> notes;  ///< what the pipeline could not do as planned
};

/// Smallest capillary the pipeline accepts, samples per trace.
constexpr int kMinSamples = 500;
/// Highest sampling rate the pipeline accepts, samples per second.
constexpr double kMaxRate = 1.0e6;

/// Runs the default pipeline on run. Returns the empty string on success
/// (status "ok" or "no_signal"), otherwise why the run cannot be processed.
std::string runPipeline(const RawRun& run, const PipelineOptions& options, PipelineResult& result);

}  // namespace kwapp

#endif
