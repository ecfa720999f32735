// Steps of the fragment road shared between its source files.
#ifndef KWSIGNAL_FRAGMENTS_INTERNAL_H
#define KWSIGNAL_FRAGMENTS_INTERNAL_H

#include <limits>
#include <string>
#include <vector>

#include "common/quantile.h"
#include "kwsignal/fragments.h"

namespace kw {
namespace detail {

/// Upper-case copy of an ASCII name.
std::string upperCase(std::string name);

/// True when `name` contains one of `words` (upper case), ignoring case.
bool nameContainsAny(const std::string& name, const std::vector<const char*>& words);

using kw::detail::median;

/// Fitted peaks of every dye of the run, by dye then scan, with the
/// saturated, pull-up and spike flags set; `noise` receives each dye's
/// noise deviation (raw counts); `missedTops` receives the maxima above the
/// same onset that the fits passed over, as sampled and flagged (shoulder,
/// spike, pull-up, saturated), by dye then scan: they are listed but never
/// taken for standard peaks.
std::vector<FragmentPeak> findFragmentPeaks(const FragmentRun& run, const FragmentOptions& options,
                                            std::vector<double>& noise,
                                            std::vector<FragmentPeak>& missedTops);

/// The run's dyes with the road's baseline removed (raw counts above it),
/// one row a dye; `noise` receives each dye's noise deviation (raw counts).
/// Empty for a run of no dye or under 16 scans.
std::vector<std::vector<double>> baselinedDyes(const FragmentRun& run, std::vector<double>& noise);

/// For each of `peaks` (fitted peaks of every dye), the light the other
/// dyes' peaks leak into its scan (raw counts, >= 0): each coinciding or
/// nearby peak's height times the share of its dye seen in this one, as
/// measured on the run, along that peak's profile. Dye pairs the run does
/// not measure add nothing.
std::vector<double> leakedLight(const std::vector<FragmentPeak>& peaks, int numDyes);

/// Order of a peak list: by dye, then scan.
bool byDyeAndScan(const FragmentPeak& a, const FragmentPeak& b);

/// Where the standard's dye came from.
enum class StandardDyeSource { caller, name, flag, dyeSet, usualPlace };

/// 0-based dye holding the size standard, and why it was taken.
int standardDyeOf(const FragmentRun& run, const FragmentOptions& options, std::string& why,
                  StandardDyeSource& source);

/// The assignment of standard fragments to peaks of the standard dye.
struct StandardMatch {
    const SizeStandard* standard = nullptr;
    /// peakOf[j]: index (into the candidate list given) of the peak of
    /// fragment j, -1 when the fragment was not found.
    std::vector<int> peakOf;
    int assigned = 0;        ///< fragments assigned to a peak
    int missing = 0;         ///< fragments within the assigned span without a peak
    int unexplained = 0;     ///< strong candidate peaks after the first fragment left unassigned
    double looMeanBp = 0.0;  ///< leave-one-out residual (local Southern), bp
    double quality = -1e9;   ///< the score standards are compared by; higher is better
};

/// A peak the standard search may assign: its centre (scan) and height.
struct StandardCandidate {
    double scan;
    double height;
    double fwhm;  ///< width at half height, scans
    /// Pull-up or off scale: may be a fragment, but is not held against a
    /// definition when left unassigned.
    bool doubtful;
};

/// Best assignment of `standard`'s fragments to the candidates (ascending
/// scan): a chain of fragment-to-peak steps whose scans per base pair change
/// smoothly, tolerating missing fragments, extra peaks between them and a
/// run that stops early. typicalHeight: height of a typical standard peak
/// (raw counts, > 0).
StandardMatch matchStandard(const std::vector<StandardCandidate>& candidates,
                            const SizeStandard& standard, double typicalHeight);

/// True when an assignment misses at most one fragment in ten of those it
/// assigns, inside or beyond its span where the run shows peaks, and
/// leaves at most one strong clean peak in ten unexplained.
bool nearlyComplete(const StandardMatch& match);

/// How far matchNearlyComplete holds the fragments a chain misses and the
/// strong clean peaks it leaves over to the spare ones: over the whole
/// chain, or step by step only (the same assignment when that one is
/// nearly complete, found slower).
enum class ChainLimit { inAll, perStep };

/// matchStandard's assignment whenever that one is nearly complete, found
/// faster by weighing only the chains that can be (the spare ones: a tenth
/// of the fragments the list and the candidates allow): none giving a peak
/// a fragment with fewer fragments after it than strong clean peaks follow
/// it, less the spare ones, and none stepping past more missing fragments
/// or strong clean peaks than the spare ones, and (ChainLimit::inAll) none
/// that in all misses more fragments or leaves more strong clean peaks
/// over, before, inside or after it, than the spare ones. Otherwise some
/// assignment, nearly complete or not. `candidates` ascend in scan.
StandardMatch matchNearlyComplete(const std::vector<StandardCandidate>& candidates,
                                  const SizeStandard& standard, double typicalHeight,
                                  ChainLimit limit = ChainLimit::inAll);

/// A quality matchStandard cannot exceed for these candidates: every
/// fragment on one of the tallest peaks, unbent, nothing missing or left
/// over. Cheap (no search); +infinity when the candidates allow no bound.
double qualityBound(const std::vector<StandardCandidate>& candidates, const SizeStandard& standard,
                    double typicalHeight);

/// How an assignment holds up on guards independent of the search (lower
/// cost is better), and the best of its neighbours: the assignments with
/// one peak, or the chain's head or tail, moved by one fragment.
struct AssignmentCheck {
    double cost = 0.0;                                           ///< guard cost, >= 0
    double rivalCost = std::numeric_limits<double>::infinity();  ///< best neighbour's
    std::string rival;                                           ///< the best neighbour, in words
    /// How far the best neighbour falls behind; negative when it scores better.
    double margin() const { return rivalCost - cost; }
};

/// Scores `match` (its standard set) and its one-step neighbours on the
/// guards. typicalHeight: height of a typical standard peak (raw counts).
AssignmentCheck checkAssignment(const std::vector<StandardCandidate>& candidates,
                                const StandardMatch& match, double typicalHeight);

/// A scan-to-size curve through the standard peaks (scans ascending, at
/// least two points; sizes ascending).
class SizingCurve {
public:
    SizingCurve(std::vector<double> scans, std::vector<double> sizes, SizingMethod method);
    /// Size in bp at a scan; NaN when the curve has too few points.
    double size(double scan) const;
    /// True when scan lies outside the standard peaks' span.
    bool outside(double scan) const;
    int points() const { return static_cast<int>(x.size()); }

private:
    double localSouthern(double scan) const;
    double spline(double scan) const;
    double cubicFit(double scan) const;

    std::vector<double> x, y;
    SizingMethod method;
    std::vector<double> secondDerivatives;  // natural spline
    std::vector<double> coefficients;       // least-squares cubic in normalised scans
    double centre = 0.0, scale = 1.0;
};

/// Size in bp at `scan` by Local Southern through the n points (x, y)
/// (scans ascending, sizes ascending), as SizingCurve gives it; NaN under
/// two points or at a scan that is not finite.
double localSouthernSize(const double* x, const double* y, int n, double scan);

/// Leave-one-out residuals of the interior points of a curve's data,
/// |size from the others - true size|, bp.
std::vector<double> leaveOneOut(const std::vector<double>& scans, const std::vector<double>& sizes,
                                SizingMethod method);

}  // namespace detail
}  // namespace kw

#endif
