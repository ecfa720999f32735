// The road of one capillary as stages of one object, each stage in the
// source file of its stretch of the road (artefacts, window, separate,
// condition, fit, select, road). Internal to the library.
#ifndef KWSIGNAL_SRC_PROCESS_ROAD_H
#define KWSIGNAL_SRC_PROCESS_ROAD_H

#include <memory>
#include <utility>
#include <vector>

#include "common/cap_access.h"
#include "kwsignal/process.h"
#include "kwsignal/separation.h"
#include "process/measure.h"

namespace kw {
namespace detail {

inline KwTrace& traceOf(KwCap& cap, int t) {
    return *cap.getPnterToTrace(t);
}

// A clear peak rises this many noise deviations above its valleys.
constexpr double kClearRise = 10.0;
// Separation: stop when the cross-talk left is below 1 %, accept up to 3 %.
constexpr double kSepTolerance = 0.01;
constexpr double kSepAccept = 3.0;
// Baseline window of the run, in base spacings: long enough to pass under
// a run of several bases without cutting into it.
constexpr double kBaselineSpacings = 8.0;
// Baseline window of the copy the separation is learned on, in base spacings.
constexpr double kLearningBaseline = 24.0;
// Highest noise level, in white-noise deviations of the separated channel,
// where the level histogram only bounds the noise. A clean read's level
// stands at a few deviations; chosen over 3 to 20 on the training reads,
// every source left out choosing 6 but one (8).
constexpr double kMaxNoiseDeviations = 6.0;
// Width of the Mexican hat as a share of the measured peak width: a hat
// narrower than the peaks sharpens them, so that a weaker base beside a
// strong one keeps a hump of its own.
constexpr double kHatWidth = 0.5;
// Smallest peak reported, as a share of the normalised peak height: lower
// humps are left-overs of other dyes or noise let through by the filter.
constexpr double kMinRelativeHeight = 0.25;
// Smallest share of the strongest dye within a base spacing that a peak's
// own dye must hold, each dye on the scale of its own typical peak.
constexpr double kMinDyeShare = 0.2;
// Fewest samples per base at which every base is at least two samples wide
// (its standard deviation is a fifth to a third of the spacing), so that
// its shape tells it from a spike.
constexpr double kMinSpikeFreeSpacing = 10.0;

class Road {
public:
    Road(const Run& run, const ProcessOptions& options, ProcessResult& result);

    void build();
    void despike();
    bool window();
    void clean();
    void baseline();
    void separate();
    void ends();
    void noise();
    void filter();
    void normalise();
    void events();
    void fit();
    void select();
    void finish();

private:
    void keepDyeScale(const KwSpecSepTable& m);
    void dropMinorDyes();
    void takeOffBlobs();
    int numTraces() const { return run.numTraces; }
    int baselineWindows(double samples) const;
    PeakSearch search(bool dominant, double smoothing) const;
    ChannelView view() const;
    double along(int pos, double atStart, double atEnd) const;
    double sigmaAt(int pos) const { return along(pos, out.sigmaStart, out.sigmaEnd); }
    double spacingAt(int pos) const { return along(pos, spacingStart, spacingEnd); }
    bool learn();
    std::unique_ptr<KwCap> learningExcerpt(bool robust) const;

    const Run& run;
    const ProcessOptions& options;
    ProcessResult& out;
    double rate = 0.0;  // samples per second the run is processed at
    std::unique_ptr<KwCap> cap;
    double roughSpacing = 0.0;
    double spacingStart = 0.0, spacingEnd = 0.0;  // base spacing at the window ends
    double target = 0.0;                          // peak height after envelope normalisation
    std::vector<double> channelNoise;             // deviation of each channel's white noise
    int start = 0, end = 0;
    // Events are held by pointer: they have no move of their own, and a copy
    // of their samples and humps costs about as much as finding them.
    std::vector<std::unique_ptr<KwEvent>> found;
    // The separated, baseline-free channels before sharpening and
    // normalisation (empty when not separated): the scale on which the dyes
    // are compared, handed on to the base caller in ProcessResult::separated.
    std::vector<std::vector<double>> separated;
};

}  // namespace detail
}  // namespace kw

#endif
