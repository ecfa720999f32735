// The base caller's steps and the working data they pass on. All positions
// here are capillary samples; the public BaseCall converts to input-file
// samples at the end.
#ifndef KWSIGNAL_SRC_CALLING_CALLING_H
#define KWSIGNAL_SRC_CALLING_CALLING_H

#include <array>
#include <string>
#include <vector>

#include "common/quantile.h"
#include "kwsignal/basecall.h"
#include "kwsignal/run.h"

namespace kw::detail {

/// A fitted peak as the caller sees it.
struct Peak {
    double pos = 0.0;     ///< fitted centre, capillary samples
    double corr = 0.0;    ///< centre with the dye's mobility offset taken out
    double height = 0.0;  ///< fitted height, processed sample units
    double sigma = 0.0;   ///< fitted standard deviation, samples
    int dye = 0;          ///< trace code 0..3 (C, A, G, T)
    bool called = false;  ///< a base was called on it
};

/// Trace code (0..3) of a called letter C, A, G, T; -1 for any other.
inline int dyeOfBase(char base) {
    return kw::traceCodeOfBase(base);
}

/// Letter C, A, G, T of trace code 0..3 (the caller never asks for others).
inline char baseOfDye(int dye) {
    return kw::kBaseLetters[dye];
}

/// A smooth function along the run: values at ascending knots, linear in
/// between and constant beyond the ends.
struct Curve {
    std::vector<double> x, y;
    double at(double pos) const;
    bool empty() const { return x.empty(); }
};

/// The median and the q-quantile (0..1) of v, nearest rank, in place (v
/// is reordered); 0 for an empty v.
inline double medianOf(std::vector<double>& v) {
    return kw::detail::nearestRankQuantile(v, 0.5);
}
inline double quantileOf(std::vector<double>& v, double q) {
    return kw::detail::nearestRankQuantile(v, q);
}

/// Running median of y over `half` points either side, then a 3-point mean:
/// a robust, smooth version of values measured in consecutive windows.
std::vector<double> smoothRobust(const std::vector<double>& y, int half);

/// What the run looks like locally, as smooth curves of position.
struct RunShape {
    Curve spacing;                  ///< samples per base
    Curve height;                   ///< height of a typical called base
    Curve sigma;                    ///< width of a single base's peak
    std::array<Curve, 4> mobility;  ///< offset of each dye, samples (mean 0)
};

/// Learns each dye's mobility offset along the run from the peaks' even
/// spacing and sets every peak's corr; shape.mobility gets the curves.
/// Peaks sorted by pos. The offsets are searched afresh in the window of
/// the read's first third whose strong peaks fall most evenly into one
/// ladder and followed from there both ways.
/// spacing: the measured samples per base (> 0), used where shape.spacing
/// is empty; where shape.mobility already holds curves (a second round),
/// each window refines them instead of searching afresh.
void learnMobility(std::vector<Peak>& peaks, double spacing, RunShape& shape);

/// Local spacing, typical height and single-base width along the run from
/// the corrected peaks (sorted by corr). spacing: the measured one (> 0).
void measureRun(const std::vector<Peak>& peaks, double spacing, RunShape& shape);

/// Sets shape.spacing to the spacing of the matched bases (in order of
/// corrected position) over 40 bases at a time, smoothed along the run.
/// False, leaving shape as it was, with too few bases for five such
/// stretches (under 81).
bool spacingFromBases(const std::vector<kw::BaseCall>& bases, RunShape& shape);

/// Matches the peaks (sorted by corr) to an evenly spaced train of bases:
/// the bases' corrected positions (capillary samples), origins and, for
/// bases on peaks, letters; marks called the peaks it uses, and only
/// those. peakOf[i]: the peak base
/// i lies on, -1 for a filled slot. A filled slot beside a peak left out
/// takes that peak's letter; the other filled slots (N) are left to
/// describeBases.
std::vector<kw::BaseCall> matchBases(std::vector<Peak>& peaks, const RunShape& shape,
                                     std::vector<int>& peakOf);

/// The channels before sharpening (baseline-free and separated), each dye
/// on the scale of its own bases called on peaks near by (a running median
/// along the run): dyes differ in brightness and fade at different rates.
class Unsharpened {
public:
    /// channels: one row per dye C, A, G, T, capillary samples (null or
    /// fewer than four rows: none); bases: the matched bases, whose
    /// on-peak ones set each dye's scale; shape: the run's mobility.
    Unsharpened(const std::vector<std::vector<double>>* channels,
                const std::vector<kw::BaseCall>& bases, const RunShape& shape);
    /// The dye strongest on its own scale at corrected position c
    /// (capillary samples), -1 where none reaches a fifth of its typical
    /// base or there are no channels.
    int strongest(double c) const;
    /// Dye (0..3) at c as a share of its typical base there (1 = typical,
    /// >= 0 mostly); 0 without channels or scale.
    double share(int dye, double c) const;
    /// How far a peak of dye (0..3) whose top lies within `reach` samples
    /// of corrected position c stands above the lower of the dye's minima
    /// within a spacing s either side, as a share of its typical base; 0
    /// where the dye has no top there (a neighbour's tail rises or falls
    /// through c without one) or without channels.
    double peakShare(int dye, double c, double s, double reach) const;

private:
    double raw(int dye, double c) const;
    void followTheOthersFade();
    const std::vector<std::vector<double>>* rows = nullptr;
    const RunShape& shape;
    std::array<Curve, 4> scale;
};

/// The channel heights at each base (each dye read at its own, uncorrected
/// position), the secondary dye and its ratio, and the position on the
/// uncorrected axis; filled slots still without a letter get the strongest
/// dye there, where none shows the strongest of `light`, and where none
/// shows there either the run's rarest dye; a base split off a broad hump
/// takes another dye where `light` shows that one clearly stronger.
void describeBases(std::vector<kw::BaseCall>& bases, const RunShape& shape, const KwCap& cap,
                   const Unsharpened& light);

/// Where the channels before sharpening show a second dye at a base as a
/// peak of its own, higher against the called dye than the processed
/// channels do, it becomes the base's secondary dye and ratio (a second
/// sequence under the read; the sharpening flattens its peaks). After the
/// features: the quality model reads the processed channels' secondary.
void markSecondLadder(std::vector<kw::BaseCall>& bases, const RunShape& shape,
                      const Unsharpened& light);

/// Number of error-predicting features of a base.
constexpr int kNumFeatures = 18;
using Features = std::array<double, kNumFeatures>;

/// The error-predicting features of every base (see quality.cpp).
std::vector<Features> baseFeatures(const std::vector<kw::BaseCall>& bases,
                                   const std::vector<int>& peakOf, const std::vector<Peak>& peaks,
                                   const RunShape& shape);

/// The logistic model's QV of a base with these features, 0..kMaxCallQv,
/// before the calibration table.
double modelQv(const Features& f);

/// Phred QV, 0..kMaxCallQv, of a base with these features.
int qualityOf(const Features& f);

/// The processed channel `dye` of cap at a fractional sample, linearly
/// interpolated; 0 outside the capillary or for a missing trace.
double channelAt(const KwCap& cap, int dye, double pos);

/// Sample pos (fractional) of x[0..n), linearly interpolated; 0 outside.
double sampleAt(const double* x, int n, double pos);

/// The working state of one call, for the calibration program: the peaks,
/// the run's shape and the bases before qualities are given.
struct Working {
    std::vector<Peak> peaks;
    RunShape shape;
    std::vector<kw::BaseCall> bases;  ///< capillary samples
    std::vector<int> peakOf;          ///< the peak each base lies on, -1 for a fill
    std::vector<Features> features;
};

/// Runs the caller up to the features. False (with note) when nothing can be
/// called.
bool callWorking(const KwCap& cap, const std::vector<KwPeak>& peaks, const kw::CallInputs& in,
                 Working& w, std::string& note);

}  // namespace kw::detail

#endif
