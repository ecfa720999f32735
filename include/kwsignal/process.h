// The default road of one capillary: from the raw channels of a run to
// separated, conditioned channels and fitted peaks.
//
// Every parameter comes from the data: the sampling rate, the noise of each
// channel, and the spacing and width of the peaks measured on the run
// itself. Nothing is tuned for a particular instrument or file. Stages, in
// the order a capillary travels: build, despike, window, clean, separate,
// baseline, ends, noise, filter, normalise, events, fit, select, and on a
// sequencing run of four known dyes call (kwsignal/basecall.h); each is
// timed.
//
//     kw::Run run;
//     if (kw::readRun(path, run)) return;
//     kw::ProcessResult result;
//     if (const kw::ProcessError e = kw::process(run, {}, result)) return;
//     for (const kw::PeakRow& p : kw::peakRows(run, result)) ...   // report.h
//
// Runs share nothing while they are processed: separate runs may be
// processed on separate threads at once.
#ifndef KWSIGNAL_PROCESS_H
#define KWSIGNAL_PROCESS_H

#include <memory>
#include <string>
#include <vector>

#include "kwsignal/basecall.h"
#include "kwsignal/capillary.h"
#include "kwsignal/events.h"
#include "kwsignal/export.h"
#include "kwsignal/fragments.h"
#include "kwsignal/run.h"

namespace kw {

/// Smallest run the road accepts, samples per trace.
constexpr int kMinSamples = 500;
/// Highest sampling rate the road accepts, samples per second.
constexpr double kMaxRate = 1.0e6;

/// Which road a run takes: the one its file says (sequencing, unless an
/// instrument file shows a fragment-analysis run), or the one insisted on.
enum class KindChoice { automatic, sequencing, fragments };

/// "auto", "sequencing" or "fragments".
KW_API const char* kindChoiceName(KindChoice kind);
/// Parses the names of kindChoiceName; false for anything else.
KW_API bool parseKindChoice(const std::string& name, KindChoice& kind);
/// Every name of kindChoiceName ("auto" first).
KW_API const std::vector<std::string>& kindChoiceNames();

/// How the road ended on a run.
enum class RunStatus {
    ok,  ///< processed; on a fragment run, sized
    /// Nothing but noise (sequencing): no peaks are reported.
    noSignal,
    /// Fragments sized, but the standard's assignment may be one fragment
    /// off (SizingStatus::lowConfidence).
    lowConfidence,
    unknownStandard,  ///< the standard fits no definition: nothing sized
    noStandardPeaks,  ///< the standard dye has too few peaks: nothing sized
    noData,           ///< the run holds no usable dye: nothing sized
};

/// "ok", "no_signal", "low_confidence", "unknown_standard",
/// "no_standard_peaks" or "no_data": the word summary.json and Python use.
KW_API const char* runStatusName(RunStatus status);
/// Parses the names of runStatusName; false for anything else.
KW_API bool parseRunStatus(const std::string& name, RunStatus& status);
/// The status of a fragment run whose sizing ended in status.
KW_API RunStatus runStatusOf(SizingStatus status);

/// How a run's colours were separated.
enum class SeparationMode {
    none,     ///< no matrix could be learned (the identity is applied)
    learned,  ///< a matrix learned from the run itself
    refined,  ///< the given system matrix, refined on the run
    system,   ///< the given system matrix applied unrefined (the refinement failed)
};

/// "none", "learned", "refined" or "system": the word summary.json and
/// Python use.
KW_API const char* separationModeName(SeparationMode mode);

struct ProcessOptions {
    /// Sequencing road (bases) or fragment road (sizes).
    KindChoice kind = KindChoice::automatic;
    /// The fragment road's standard, sizing method and panel.
    FragmentOptions fragments;
    /// A system separation matrix (numTraces rows of numTraces elements,
    /// finite, within single precision) to refine on the run instead of
    /// learning one from scratch; empty to learn.
    std::vector<std::vector<double>> systemMatrix;
    /// Samples per second overriding the run's own rate when > 0.
    double rate = 0.0;
    /// Call bases (stage "call") on a run of four dyes in a known base
    /// order (C, A, G, T) that holds signal.
    bool callBases = true;
    /// Mixed bases and trimming of the calls.
    CallOptions calls;
};

/// Processor time of one stage (of the thread that ran it).
struct StageTime {
    std::string name;
    double ms = 0.0;  ///< milliseconds
};

struct ChannelSummary {
    double noiseLevel = 0.0;  ///< after normalisation, sample units
    double minHeight = 0.0;   ///< level at which an event starts, after normalisation
    int events = 0;
    int peaks = 0;
};

/// A dye blob: a wide hump of one dye far above the bases around it
/// (unincorporated dye), taken off that channel before the peaks were
/// sought so that it sets no noise level, threshold or scale.
struct DyeBlob {
    int dye = 0;               ///< trace code
    double startSample = 0.0;  ///< extent taken off, input-file samples
    double endSample = 0.0;
    double heightRatio = 0.0;  ///< its height over the median base peak near it, > 1
};

/// What the road found on one run.
struct ProcessResult {
    /// The road taken, and why.
    RunKind kind = RunKind::sequencing;
    std::string kindReason;
    /// Sequencing: ok, or noSignal for a run that holds nothing but noise
    /// (no peaks are reported then). Fragments: runStatusOf the sizing's
    /// status. `note` says why when not ok.
    RunStatus status = RunStatus::ok;
    std::string note;
    double rate = 0.0;       ///< samples per second the run was processed at
    std::string rateSource;  ///< where that rate came from
    int windowStart = 0;     ///< signal window, samples of the capillary
    int windowEnd = 0;
    /// How the colours were separated; accepted tells whether the
    /// estimation met its tolerance.
    SeparationMode separation = SeparationMode::none;
    bool separationAccepted = false;
    std::vector<std::vector<double>> matrix;  ///< the separation matrix applied
    double spacing = 0.0;                     ///< samples from one base to the next
    double sigmaStart = 0.0, sigmaEnd = 0.0;  ///< peak deviation at the window ends, samples
    std::vector<ChannelSummary> channels;
    double minPeakHeight = 0.0;  ///< smallest fitted height reported as a peak
    int numEvents = 0;
    std::vector<KwPeak> peaks;         ///< by ascending locatn, capillary samples
    std::unique_ptr<KwCap> processed;  ///< the conditioned capillary
    /// The channels C, A, G, T (as processed) with the baseline removed and
    /// separated, but neither sharpened nor normalised, capillary samples,
    /// signal units of the input: broad humps the sharpening flattens still
    /// show here. Empty when the run was not separated.
    std::vector<std::vector<double>> separated;
    std::vector<StageTime> stages;
    double totalMs = 0.0;            ///< processor time of the whole road, milliseconds
    std::vector<std::string> notes;  ///< what the road could not do as planned
    std::vector<DyeBlob> blobs;      ///< dye blobs taken off, by position
    /// True when bases were called; calls.note says why not otherwise.
    bool called = false;
    BaseCalls calls;  ///< the called bases and their summary
    /// Fragment runs: every dye's peaks, the standard and the sizes.
    FragmentResult fragments;
};

/// Why a run could not be processed at all.
enum class ProcessErrorKind {
    none,
    noTraces,      ///< the run holds no traces
    tooShort,      ///< fewer than kMinSamples samples
    inconsistent,  ///< rows that do not match the run's counts
    badRate,       ///< no usable sampling rate (not in (0, kMaxRate])
    badMatrix      ///< the system matrix does not fit the run or is not finite
};

struct ProcessError {
    ProcessErrorKind kind = ProcessErrorKind::none;
    std::string reason;  ///< in words, without the file's name
    explicit operator bool() const { return kind != ProcessErrorKind::none; }
};

/// What the base caller is given of a processed run: its signal window,
/// base spacing and the run's coordinate scale.
KW_API CallInputs callInputsOf(const Run& run, const ProcessResult& result);

/// Opt-in speed-up for programs that process many runs: has the C
/// library's allocator (glibc) keep freed buffers of up to 64 MiB for reuse
/// and the heap untrimmed below 256 MiB, instead of mapping every buffer
/// above 128 KiB afresh, which costs the road about a sixth of its time;
/// and grows the main heap 32 MiB at a time, advised for transparent huge
/// pages (a kernel that gives them only on request then faults in a run's
/// buffers a few 2 MiB pages at a time rather than a thousand small ones,
/// which on a virtual machine costs a process that handles one run about a
/// third of its time). Process-wide and lasting: call it once at start,
/// before other threads, in a program that owns its process (the kwsignal
/// tool does); the library itself never calls it. The price is up to a few
/// hundred MiB held after a peak. Returns true where it was applied, false
/// where the C library has no such setting (then nothing changes).
KW_API bool keepLargeBuffers();

/// The fragment road's input from a run: the instrument file's every dye
/// with its names and hints where the run is one, else the run's rows.
KW_API FragmentRun fragmentRunOf(const Run& run, double rate);

/// Runs the default road on run into result (reset first): the sequencing
/// road, or on a fragment-analysis run the fragment road (no separation,
/// window or calls; stage "fragments"). A run without signal or a standard
/// that fits no definition is a result with its status, not an error.
[[nodiscard]] KW_API ProcessError process(const Run& run, const ProcessOptions& options,
                                          ProcessResult& result);

}  // namespace kw

#endif
