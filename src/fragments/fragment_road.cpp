// The fragment road: peaks of every dye, the size standard found in its
// dye, every peak sized against it, alleles named with a panel.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "fragments/fragments_internal.h"

namespace kw {
namespace {

using detail::StandardCandidate;
using detail::StandardMatch;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Fewest standard peaks a sizing curve is built from.
constexpr int kMinStandardPeaks = 6;
// The standard dye's candidates: at most this many of its tallest peaks,
// none below this share of the typical standard peak.
constexpr std::size_t kMaxCandidates = 90;
constexpr double kCandidateShare = 0.12;
constexpr std::size_t kTypicalPeaks = 10;
// Standard peaks widen slowly along the run; a hump this many times wider
// than the typical one is not a fragment.
constexpr double kMaxWidthRatio = 3.0;
// A definition is refused when it leaves more than this share of the
// fragments inside its span without a peak...
constexpr double kMaxMissingShare = 0.25;
// ...or leaves this many strong peaks per fragment unexplained...
constexpr double kMaxUnexplainedShare = 0.3;
// ...or its leave-one-out residual exceeds this share of its spacing.
constexpr double kMaxLooShare = 0.08;
// Two definitions that assign different lengths to the same peaks must
// differ by this much quality for the better one to be trusted.
constexpr double kMinQualityLead = 2.0;
// Qualities this close count as a tie.
constexpr double kTieQuality = 0.5;
// A lead over the nearest definition that sizes differently of this much
// gives full confidence.
constexpr double kFullConfidenceLead = 10.0;
// The instruments that size fragments resolve single base pairs: a size
// standard's peaks are half a base pair to one wide at half height (two
// or so at 1,000 bp). Peaks that a definition's scale makes wider than
// this, in bp, are humps that happen to be spaced like its fragments.
constexpr double kMaxStandardWidthBp = 3.0;
// The chosen assignment must lead every one-step neighbour by this much on
// the guards (units of about one well-placed fragment), else the run is
// sized with low confidence.
constexpr double kMinAssignmentMargin = 4.0;
// A standard found in a dye the file does not point to: at least this many
// fragments, the tallest tenth of them at most this many times the height
// of the lowest tenth.
constexpr int kMinFoundFragments = 10;
// Its fragments stand as strong peaks there (every sound standard of the
// training runs leaves at most one under this share of its typical height,
// which then counts missing): weaker peaks are not weighed.
constexpr double kFoundCandidateShare = 0.3;
constexpr double kMaxFoundHeightRatio = 4.0;
// Any standard: the tallest tenth of its used peaks more than this many
// times the lowest tenth means some are not its fragments (pull-up, sample
// products): refused. The training runs' standards
// reach 6.0 (1.9-2.3 on most). So does the tallest used peak over their
// median (training runs: at most 4.0).
constexpr double kMaxHeightSpread = 10.0;
// An assignment one of whose one-step neighbours scores better than it on
// the guards (a negative margin) is contradicted by them: refused.
constexpr double kMinRefusedMargin = 0.0;
// An assigned standard peak of which the light leaked from other dyes
// accounts for this share or more is that light, not a fragment: a weak
// standard under strong sample peaks shows pull-up where a fragment is
// missing, and pull-up merged into a fragment's peak moves its top.
constexpr double kMaxLeakedShare = 0.75;
// A peak this much broader than its neighbours in the chain, with this
// share of other dyes' light at its top, is a fragment merged with that
// light: its top lies between the two.
constexpr double kMergedWidthRatio = 1.3;
constexpr double kMergedLeakedShare = 0.4;

// The tallest tenth of some heights over the lowest tenth; 1 when empty.
double heightSpread(std::vector<double> heights) {
    if (heights.empty()) return 1.0;
    std::sort(heights.begin(), heights.end());
    return heights[heights.size() * 9 / 10] / std::max(1e-9, heights[heights.size() / 10]);
}

using detail::upperCase;

// Dyes size standards are sold in.
bool isStandardDyeName(const std::string& name) {
    return detail::nameContainsAny(name,
                                   {"LIZ", "ROX", "CXR", "WEN", "CC5", "BTO", "DY632", "ORANGE"});
}

// The standard dye's peaks worth assigning. Standard peaks are sharp and of
// similar height: the typical one is the median of the tallest clean peaks;
// much broader humps (a blob on the baseline) and weak peaks are left out,
// and so is pull-up unless it is as strong as a standard peak.
std::vector<StandardCandidate> candidatesOf(const std::vector<FragmentPeak>& peaks, int dye,
                                            std::vector<std::size_t>& index, double& typical,
                                            double share = kCandidateShare) {
    std::vector<std::size_t> all;
    for (std::size_t k = 0; k < peaks.size(); ++k)
        if (peaks[k].dye == dye && (peaks[k].flags & kFlagSpike) == 0) all.push_back(k);
    std::sort(all.begin(), all.end(),
              [&](std::size_t a, std::size_t b) { return peaks[a].height > peaks[b].height; });
    std::vector<double> top, widths;
    for (std::size_t k : all)
        if ((peaks[k].flags & (kFlagPullup | kFlagSaturated)) == 0 && top.size() < kTypicalPeaks) {
            top.push_back(peaks[k].height);
            widths.push_back(peaks[k].fwhm);
        }
    typical = detail::median(top);
    const double width = detail::median(widths);
    index.clear();
    for (std::size_t k = 0; k < all.size() && index.size() < kMaxCandidates; ++k) {
        const FragmentPeak& p = peaks[all[k]];
        const bool pullup = (p.flags & kFlagPullup) != 0;
        if (p.height >= (pullup ? std::max(0.5, share) : share) * typical &&
            p.fwhm <= kMaxWidthRatio * width)
            index.push_back(all[k]);
    }
    std::sort(index.begin(), index.end(),
              [&](std::size_t a, std::size_t b) { return peaks[a].scan < peaks[b].scan; });
    std::vector<StandardCandidate> c;
    for (std::size_t k : index)
        c.push_back({peaks[k].scan, peaks[k].height, peaks[k].fwhm,
                     (peaks[k].flags & (kFlagPullup | kFlagSaturated)) != 0});
    return c;
}

// Do two matches give the same peaks the same lengths (one list a subset
// of the other over the peaks both assign)?
bool agree(const StandardMatch& a, const StandardMatch& b) {
    int common = 0;
    for (std::size_t j = 0; j < a.peakOf.size(); ++j) {
        if (a.peakOf[j] < 0) continue;
        for (std::size_t k = 0; k < b.peakOf.size(); ++k)
            if (b.peakOf[k] == a.peakOf[j]) {
                if (a.standard->sizesBp[j] != b.standard->sizesBp[k]) return false;
                ++common;
            }
    }
    return common >= 2;
}

// Median width, bp, of a match's peaks on its own scale: each peak's width
// at half height over the scans per bp between its neighbours in the chain.
double medianWidthBp(const std::vector<StandardCandidate>& cands, const StandardMatch& match) {
    std::vector<int> frags;
    for (std::size_t j = 0; j < match.peakOf.size(); ++j)
        if (match.peakOf[j] >= 0) frags.push_back(static_cast<int>(j));
    if (frags.size() < 2) return 0.0;
    std::vector<double> widths;
    for (std::size_t k = 0; k < frags.size(); ++k) {
        const int a = frags[k == 0 ? 0 : k - 1], b = frags[std::min(k + 1, frags.size() - 1)];
        const double scans = cands[static_cast<std::size_t>(match.peakOf[b])].scan -
                             cands[static_cast<std::size_t>(match.peakOf[a])].scan;
        const double bp = match.standard->sizesBp[b] - match.standard->sizesBp[a];
        widths.push_back(cands[static_cast<std::size_t>(match.peakOf[frags[k]])].fwhm * bp / scans);
    }
    return detail::median(widths);
}

bool hinted(const std::string& hint, const SizeStandard& s) {
    const std::string h = upperCase(hint), name = upperCase(s.name);
    if (name == "GS600")
        return h.find("GS600") != std::string::npos || h.find("LIZ600") != std::string::npos;
    if (name == "GS1200") return h.find("1200") != std::string::npos;
    return !h.empty() && h.find(name) != std::string::npos;
}

class SizingRoad {
public:
    SizingRoad(const FragmentRun& input, const FragmentOptions& o) : run(input), options(o) {}
    FragmentResult go();

private:
    // The standard sought in one dye.
    struct Attempt {
        int dye = -1;
        SizingStatus status = SizingStatus::noStandardPeaks;
        std::vector<std::size_t> index;  // into r.peaks, of each candidate
        std::vector<StandardCandidate> cands;
        double typical = 0.0;
        StandardMatch match;
        bool lightSetAside = false;  // found by the second search: not with confidence
    };
    bool attempt(int dye, const std::string& why, Attempt& a, bool elsewhere = false);
    void dropLeakedLight(Attempt& a);
    bool withoutLight(Attempt& a, std::size_t firstWarning);
    void lookInOtherDyes(Attempt& a, std::size_t firstWarning);
    bool convincing(const Attempt& a) const;
    bool mayBeConvincing(const std::vector<StandardCandidate>& cands, double typical) const;
    // Every definition is weighed, or only the one the caller names.
    bool considered(const SizeStandard& s) const {
        return options.standard.empty() || upperCase(options.standard) == upperCase(s.name);
    }
    bool chooseStandard(const std::vector<StandardCandidate>& cands, double typical,
                        StandardMatch& chosen);
    std::vector<StandardMatch> matchDefinitions(const std::vector<StandardCandidate>& cands,
                                                double typical) const;
    StandardMatch pickDefinition(const std::vector<StandardMatch>& matches) const;
    double definitionLead(const std::vector<StandardMatch>& matches, const StandardMatch& chosen);
    bool fitsWell(const std::vector<StandardCandidate>& cands, const StandardMatch& chosen,
                  double lead);
    SizingStatus judged(const std::vector<StandardCandidate>& cands, double typical,
                        const StandardMatch& chosen);
    void unsize();
    void size(const std::vector<StandardCandidate>& cands, const std::vector<std::size_t>& index,
              const StandardMatch& match);
    void flagPrimer(double firstStandardScan);

    const FragmentRun& run;
    const FragmentOptions& options;
    FragmentResult r;
    // r.peaks holds the fitted peaks first, then the tops listed as sampled
    // (until they are sorted at the end).
    std::size_t fitted = 0;
    std::vector<double> usedHeights;         // of the standard peaks used for sizing
    std::vector<double> leaked;              // light of other dyes in each fitted peak, counts
    std::vector<StandardMatch> lastMatches;  // of the last search, best first
};

// Every definition (or the one the caller names) matched to the candidates,
// best first.
std::vector<StandardMatch> SizingRoad::matchDefinitions(const std::vector<StandardCandidate>& cands,
                                                        double typical) const {
    std::vector<const SizeStandard*> defs;
    for (const SizeStandard& s : sizeStandards())
        if (considered(s)) defs.push_back(&s);
    // A definition is searched only if it could still matter: picked among
    // near ties (each pick gives up at most kTieQuality against the best),
    // the rival that sets the confidence or a warning (kFullConfidenceLead
    // behind the pick), or a close reading the search without other dyes'
    // light is checked against (kMinQualityLead). Definitions whose bound
    // falls further behind the best quality found are left out; the most
    // promising go first.
    const double reach = kFullConfidenceLead + kTieQuality * static_cast<double>(defs.size());
    std::vector<double> bounds;
    for (const SizeStandard* s : defs) bounds.push_back(detail::qualityBound(cands, *s, typical));
    std::vector<std::size_t> order(defs.size());
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return bounds[a] > bounds[b]; });
    std::vector<StandardMatch> found(defs.size());
    std::vector<char> searched(defs.size(), 0);
    double best = -std::numeric_limits<double>::infinity();
    for (std::size_t k : order) {
        if (bounds[k] < best - reach) break;  // nor can any after it matter
        found[k] = detail::matchStandard(cands, *defs[k], typical);
        searched[k] = 1;
        best = std::max(best, found[k].quality);
    }
    std::vector<StandardMatch> matches;
    for (std::size_t k = 0; k < defs.size(); ++k)
        if (searched[k]) matches.push_back(std::move(found[k]));
    auto better = [&](const StandardMatch& a, const StandardMatch& b) {
        if (a.quality != b.quality) return a.quality > b.quality;
        return hinted(run.standardHint, *a.standard) && !hinted(run.standardHint, *b.standard);
    };
    std::stable_sort(matches.begin(), matches.end(), better);
    return matches;
}

// Definitions that size the peaks alike and explain them about as well
// (S450 and S550 on a run that stops before 500 bp) are told apart by the
// lab's name for it, else the shorter list is taken: a longer one would
// have shown its further fragments.
StandardMatch SizingRoad::pickDefinition(const std::vector<StandardMatch>& matches) const {
    StandardMatch chosen = matches.front();
    for (const StandardMatch& m : matches)
        if (m.quality >= chosen.quality - kTieQuality && agree(m, chosen) &&
            (hinted(run.standardHint, *m.standard) ||
             (!hinted(run.standardHint, *chosen.standard) &&
              m.standard->sizesBp.size() < chosen.standard->sizesBp.size())))
            chosen = m;
    return chosen;
}

// How far the chosen definition leads the nearest one that would size
// differently; sets the confidence and warns of a close rival or of a
// file whose standard name the peaks contradict.
double SizingRoad::definitionLead(const std::vector<StandardMatch>& matches,
                                  const StandardMatch& chosen) {
    double lead = 1e9;
    for (const StandardMatch& m : matches)
        if (!agree(chosen, m)) {
            lead = chosen.quality - m.quality;
            if (lead < kMinQualityLead)
                r.warnings.push_back(std::string("standards ") + chosen.standard->name + " and " +
                                     m.standard->name + " explain the peaks about equally");
            break;
        }
    r.confidence = std::min(1.0, std::max(0.0, lead / kFullConfidenceLead));
    if (!run.standardHint.empty() && !hinted(run.standardHint, *chosen.standard))
        r.warnings.push_back("the file names the standard \"" + run.standardHint +
                             "\" but the peaks fit " + chosen.standard->name);
    return lead;
}

// False, with a warning, when the best definition still does not explain
// the standard dye: too few fragments, too many missing or left over, a
// poor residual, a close rival, or peaks too broad for a standard.
bool SizingRoad::fitsWell(const std::vector<StandardCandidate>& cands, const StandardMatch& chosen,
                          double lead) {
    const int span = chosen.assigned + chosen.missing;
    if (chosen.assigned < kMinStandardPeaks) {
        r.warnings.push_back("only " + std::to_string(chosen.assigned) + " peaks fit any standard");
        return false;
    }
    const double spacing = (chosen.standard->sizesBp.back() - chosen.standard->sizesBp.front()) /
                           (chosen.standard->sizesBp.size() - 1);
    if (chosen.missing > kMaxMissingShare * span || chosen.looMeanBp > kMaxLooShare * spacing ||
        chosen.unexplained > kMaxUnexplainedShare * chosen.assigned || lead < kMinQualityLead) {
        r.warnings.push_back(std::string("no standard fits the peaks of dye ") +
                             std::to_string(r.standardDye) + " (best " + chosen.standard->name +
                             ": " + std::to_string(chosen.assigned) + " fragments, " +
                             std::to_string(chosen.missing) + " missing, " +
                             std::to_string(chosen.unexplained) + " peaks unexplained)");
        return false;
    }
    const double width = medianWidthBp(cands, chosen);
    if (width > kMaxStandardWidthBp) {
        r.warnings.push_back(std::string("the peaks of dye ") + std::to_string(r.standardDye) +
                             " fit " + chosen.standard->name + " only as humps " +
                             std::to_string(static_cast<int>(std::lround(width))) +
                             " bp wide: not a size standard");
        return false;
    }
    return true;
}

// How far the sized assignment is to be trusted. An assignment with one
// peak, or the chain's head or tail, moved by one fragment that holds up
// about as well on the guards leaves the sizes given but not with
// confidence. A neighbour that holds up better than the assignment found,
// or peaks used that differ in height as a standard's do not, contradict
// it: nothing is sized.
SizingStatus SizingRoad::judged(const std::vector<StandardCandidate>& cands, double typical,
                                const StandardMatch& chosen) {
    const detail::AssignmentCheck check = detail::checkAssignment(cands, chosen, typical);
    r.assignmentMargin = check.margin();
    // A single used peak far over the others (the light of an off-scale
    // primer) escapes the tenths; it is weighed against the median.
    const double tallest =
        usedHeights.empty() ? 0.0 : *std::max_element(usedHeights.begin(), usedHeights.end());
    const double spread =
        std::max(heightSpread(usedHeights), tallest / std::max(1e-9, detail::median(usedHeights)));
    const std::string fold = std::to_string(static_cast<int>(spread));
    SizingStatus status = SizingStatus::sized;
    if (check.margin() < kMinRefusedMargin) {
        r.warnings.push_back("the standard's assignment " + check.rival +
                             " fits better than the one found: nothing sized");
        status = SizingStatus::unknownStandard;
    } else if (spread > kMaxHeightSpread) {
        r.warnings.push_back("the peaks taken for " + std::string(chosen.standard->name) +
                             " differ " + fold +
                             "-fold in height: pull-up or sample peaks, not a standard; "
                             "nothing sized");
        status = SizingStatus::unknownStandard;
    } else if (check.margin() < kMinAssignmentMargin) {
        r.warnings.push_back("low confidence: the standard's assignment " + check.rival +
                             " fits about as well");
        status = SizingStatus::lowConfidence;
    }
    if (status != SizingStatus::sized) r.confidence = 0.0;
    return status;
}

// A refused assignment: no peak is a standard fragment any more.
void SizingRoad::unsize() {
    for (FragmentPeak& p : r.peaks) {
        p.isStandard = StandardRole::none;
        p.standardBp = 0.0;
        p.flags &= ~(kFlagOutside | kFlagPrimer);
    }
    r.standard.clear();
    r.identified = r.used = 0;
    r.assignmentMargin = kNaN;
}

// The standard sought in one dye: its candidates and the definition that
// explains them; false, with the reason in the warnings, when none does.
// In a dye the file does not point to (`elsewhere`) only a standard beyond
// doubt is taken: a dye of fewer peaks than such a standard shows is not
// searched, and no second search sets other dyes' light aside.
bool SizingRoad::attempt(int dye, const std::string& why, Attempt& a, bool elsewhere) {
    a = Attempt();
    a.dye = dye;
    r.standardDye = dye;
    a.cands = candidatesOf(r.peaks, dye, a.index, a.typical,
                           elsewhere ? kFoundCandidateShare : kCandidateShare);
    if (static_cast<int>(a.cands.size()) < (elsewhere ? kMinFoundFragments : kMinStandardPeaks)) {
        a.status = SizingStatus::noStandardPeaks;
        r.warnings.push_back("the standard dye " + std::to_string(dye) + " (" + why + ") holds " +
                             std::to_string(a.cands.size()) + " peaks: nothing sized");
        return false;
    }
    if (elsewhere && !mayBeConvincing(a.cands, a.typical)) {
        a.status = SizingStatus::unknownStandard;
        return false;
    }
    const std::size_t before = r.warnings.size();
    if (!chooseStandard(a.cands, a.typical, a.match) && (elsewhere || !withoutLight(a, before))) {
        a.status = SizingStatus::unknownStandard;
        return false;
    }
    dropLeakedLight(a);
    if (a.match.assigned < kMinStandardPeaks) {
        a.status = SizingStatus::unknownStandard;
        r.warnings.push_back("only " + std::to_string(a.match.assigned) +
                             " standard peaks are not light of other dyes: nothing sized");
        return false;
    }
    a.status = SizingStatus::sized;
    return true;
}

// A standard dye no definition explains may hold the light of strong
// sample peaks between and in place of its fragments: the search is run
// once more without the candidates that light explains. True, with the
// first search's warnings replaced, when a definition then explains the
// rest and names the same lengths for the peaks both assign.
bool SizingRoad::withoutLight(Attempt& a, std::size_t firstWarning) {
    Attempt b = a;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < a.cands.size(); ++i) {
        const std::size_t k = a.index[i];
        if (leaked[k] >= kMaxLeakedShare * r.peaks[k].height) continue;
        b.cands[kept] = a.cands[i];
        b.index[kept++] = k;
    }
    if (kept == a.cands.size() || static_cast<int>(kept) < kMinStandardPeaks) return false;
    b.cands.resize(kept);
    b.index.resize(kept);
    const std::size_t warnings = r.warnings.size();
    const std::string standard = r.standard;
    const double confidence = r.confidence;
    // The readings the first search could not choose between.
    std::vector<StandardMatch> close;
    for (const StandardMatch& m : lastMatches)
        if (m.quality >= lastMatches.front().quality - kMinQualityLead) close.push_back(m);
    const bool chosen = chooseStandard(b.cands, b.typical, b.match);
    // The same lengths on the same peaks (the two searches number their
    // candidates apart).
    auto sameLengths = [&](const StandardMatch& m) {
        int common = 0;
        for (std::size_t j = 0; j < b.match.peakOf.size(); ++j) {
            if (b.match.peakOf[j] < 0) continue;
            const double scan = b.cands[static_cast<std::size_t>(b.match.peakOf[j])].scan;
            for (std::size_t k = 0; k < m.peakOf.size(); ++k)
                if (m.peakOf[k] >= 0 &&
                    a.cands[static_cast<std::size_t>(m.peakOf[k])].scan == scan) {
                    if (m.standard->sizesBp[k] != b.match.standard->sizesBp[j]) return false;
                    ++common;
                }
        }
        return common >= 2;
    };
    if (!chosen || std::none_of(close.begin(), close.end(), sameLengths)) {
        r.warnings.resize(warnings);
        r.standard = standard;
        r.confidence = confidence;
        return false;
    }
    r.warnings.erase(r.warnings.begin() + static_cast<long>(firstWarning),
                     r.warnings.begin() + static_cast<long>(warnings));
    r.warnings.push_back(
        "low confidence: the standard fits only once the light of other dyes is set aside");
    a = b;
    a.lightSetAside = true;
    return true;
}

// Assigned peaks that other dyes' light explains are taken out of the
// assignment, their fragments counted missing, with one warning.
void SizingRoad::dropLeakedLight(Attempt& a) {
    // Widths of the assigned peaks, in fragment order, to judge each
    // against its neighbours in the chain.
    std::vector<std::size_t> frags;
    for (std::size_t j = 0; j < a.match.peakOf.size(); ++j)
        if (a.match.peakOf[j] >= 0) frags.push_back(j);
    auto fwhm = [&](std::size_t f) {
        return a.cands[static_cast<std::size_t>(a.match.peakOf[frags[f]])].fwhm;
    };
    std::vector<std::size_t> drop;
    for (std::size_t f = 0; f < frags.size(); ++f) {
        const int i = a.match.peakOf[frags[f]];
        const std::size_t k = a.index[static_cast<std::size_t>(i)];
        const double share = leaked[k] / std::max(1e-9, r.peaks[k].height);
        std::vector<double> around;
        for (std::size_t g = f >= 2 ? f - 2 : 0; g < std::min(frags.size(), f + 3); ++g)
            if (g != f) around.push_back(fwhm(g));
        const bool broad = !around.empty() && fwhm(f) > kMergedWidthRatio * detail::median(around);
        if (share >= kMaxLeakedShare || (broad && share >= kMergedLeakedShare)) drop.push_back(f);
    }
    std::string dropped;
    for (std::size_t f : drop) {
        const std::size_t j = frags[f];
        const int i = a.match.peakOf[j];
        a.match.peakOf[j] = -1;
        --a.match.assigned;
        ++a.match.missing;
        dropped += (dropped.empty() ? "" : ", ") +
                   std::to_string(std::lround(a.cands[static_cast<std::size_t>(i)].scan)) + " (" +
                   std::to_string(std::lround(a.match.standard->sizesBp[j])) + " bp)";
    }
    if (!dropped.empty())
        r.warnings.push_back("standard peaks at scans " + dropped +
                             " left out: mostly light of other dyes");
}

// A standard found in a dye the file does not point to must look like one
// beyond doubt: nearly every fragment of its span present, next to no
// strong peak left over, peaks loaded alike (sample products vary tenfold
// and more in height), and no one-step neighbour of the assignment close.
bool SizingRoad::convincing(const Attempt& a) const {
    const StandardMatch& m = a.match;
    if (m.assigned < kMinFoundFragments || !detail::nearlyComplete(m)) return false;
    std::vector<double> heights;
    for (int i : m.peakOf)
        if (i >= 0) heights.push_back(a.cands[static_cast<std::size_t>(i)].height);
    if (!(heightSpread(heights) <= kMaxFoundHeightRatio)) return false;
    return detail::checkAssignment(a.cands, m, a.typical).margin() >= kMinAssignmentMargin;
}

// Whether any definition could find a standard beyond doubt among these
// candidates: the chosen one would be nearly complete, and its search finds
// that assignment among the few chains that can be (a fast search that
// never misses it). False rules out the dye without the full search.
bool SizingRoad::mayBeConvincing(const std::vector<StandardCandidate>& cands,
                                 double typical) const {
    for (const SizeStandard& s : sizeStandards()) {
        if (static_cast<int>(s.sizesBp.size()) < kMinFoundFragments || !considered(s)) continue;
        const StandardMatch m = detail::matchNearlyComplete(cands, s, typical);
        if (m.assigned >= kMinFoundFragments && detail::nearlyComplete(m)) return true;
    }
    return false;
}

// The dye the file points to holds no standard: the one among the others
// whose peaks a definition explains best, passing every check the first
// dye failed, is taken, and one warning (in place of the first dye's, from
// firstWarning on) says so. Nothing else changes.
void SizingRoad::lookInOtherDyes(Attempt& a, std::size_t firstWarning) {
    const std::size_t kept = r.warnings.size();
    const double confidence = r.confidence;
    int best = -1;
    Attempt found;
    // What the search in the dye taken said, and its standard and confidence.
    std::vector<std::string> foundWarnings;
    std::string foundStandard;
    double foundConfidence = 0.0;
    for (int d = 0; d < static_cast<int>(run.dyes.size()); ++d) {
        Attempt trial;
        if (d != a.dye && attempt(d, "", trial, true) && convincing(trial) &&
            (best < 0 || trial.match.quality > found.match.quality)) {
            best = d;
            found = trial;
            foundWarnings.assign(r.warnings.begin() + static_cast<long>(kept), r.warnings.end());
            foundStandard = r.standard;
            foundConfidence = r.confidence;
        }
        r.warnings.resize(kept);
    }
    r.confidence = confidence;
    const int first = a.dye;
    if (best < 0) {
        r.standardDye = first;
        return;
    }
    r.warnings.resize(firstWarning);
    r.warnings.insert(r.warnings.end(), foundWarnings.begin(), foundWarnings.end());
    r.standardDye = best;
    r.standard = foundStandard;
    r.confidence = foundConfidence;
    a = found;
    r.warnings.push_back("dye " + std::to_string(first) +
                         " holds no size standard; the peaks of dye " + std::to_string(best) +
                         " fit " + a.match.standard->name);
}

bool SizingRoad::chooseStandard(const std::vector<StandardCandidate>& cands, double typical,
                                StandardMatch& chosen) {
    const std::vector<StandardMatch> matches = matchDefinitions(cands, typical);
    lastMatches = matches;
    if (matches.empty()) {
        r.warnings.push_back("unknown size standard \"" + options.standard + "\"");
        return false;
    }
    chosen = pickDefinition(matches);
    r.standard = chosen.standard->name;
    return fitsWell(cands, chosen, definitionLead(matches, chosen));
}

void SizingRoad::size(const std::vector<StandardCandidate>& cands,
                      const std::vector<std::size_t>& index, const StandardMatch& match) {
    const SizeStandard& s = *match.standard;
    std::vector<double> xs, ys;
    for (std::size_t j = 0; j < match.peakOf.size(); ++j) {
        if (match.peakOf[j] < 0) continue;
        FragmentPeak& p = r.peaks[index[static_cast<std::size_t>(match.peakOf[j])]];
        p.standardBp = s.sizesBp[j];
        p.flags &= ~kFlagPullup;  // a standard fragment in its own dye
        const bool anomalous = std::find(s.anomalousBp.begin(), s.anomalousBp.end(),
                                         s.sizesBp[j]) != s.anomalousBp.end();
        p.isStandard = (anomalous && !options.sizeWithAnomalous) || (p.flags & kFlagSaturated) != 0
                           ? StandardRole::unused
                           : StandardRole::used;
        ++r.identified;
        if (p.isStandard == StandardRole::used) {
            usedHeights.push_back(p.height);
            xs.push_back(cands[static_cast<std::size_t>(match.peakOf[j])].scan);
            ys.push_back(s.sizesBp[j]);
        }
    }
    r.used = static_cast<int>(xs.size());
    r.expected = match.assigned + match.missing;
    if (r.used < kMinStandardPeaks) {
        r.status = SizingStatus::noStandardPeaks;
        r.warnings.push_back("only " + std::to_string(r.used) + " usable standard peaks");
        return;
    }
    const detail::SizingCurve curve(xs, ys, options.sizing);
    for (FragmentPeak& p : r.peaks) {
        p.sizeBp = curve.size(p.scan);
        if (curve.outside(p.scan)) p.flags |= kFlagOutside;
    }
    const std::vector<double> loo = detail::leaveOneOut(xs, ys, options.sizing);
    double sum = 0.0, worst = 0.0;
    for (double v : loo) {
        sum += v;
        worst = std::max(worst, v);
    }
    r.looMeanBp = loo.empty() ? kNaN : sum / loo.size();
    r.looMaxBp = loo.empty() ? kNaN : worst;
    r.status = SizingStatus::sized;
    flagPrimer(xs.front());
}

// The unextended primer runs ahead of the smallest standard fragment as
// the tallest fitted blob of each sample dye.
void SizingRoad::flagPrimer(double firstStandardScan) {
    for (int d = 0; d < static_cast<int>(r.dyeNames.size()); ++d) {
        if (d == r.standardDye) continue;
        double tallest = 0.0;
        for (std::size_t k = 0; k < fitted; ++k)
            if (r.peaks[k].dye == d && r.peaks[k].scan < firstStandardScan)
                tallest = std::max(tallest, r.peaks[k].height);
        for (FragmentPeak& p : r.peaks)
            if (p.dye == d && p.scan < firstStandardScan && p.height >= 0.25 * tallest)
                p.flags |= kFlagPrimer;
    }
}

FragmentResult SizingRoad::go() {
    r.sizing = options.sizing;
    r.dyeNames = run.names;
    r.dyeNames.resize(run.dyes.size());
    const std::size_t n = run.dyes.empty() ? 0 : run.dyes[0].size();
    bool equal = true;
    for (const std::vector<double>& d : run.dyes) equal = equal && d.size() == n;
    if (run.dyes.empty() || n < 16 || !equal || !(run.rate > 0.0) || !std::isfinite(run.rate)) {
        r.status = SizingStatus::noData;
        r.warnings.push_back(run.dyes.empty() ? "the run holds no dye"
                             : !equal         ? "the dyes differ in length"
                             : n < 16         ? "the run holds too few scans"
                                              : "the sampling rate is not a positive number");
        return r;
    }
    std::vector<double> noise;
    std::vector<FragmentPeak> missedTops;
    r.peaks = detail::findFragmentPeaks(run, options, noise, missedTops);
    fitted = r.peaks.size();
    leaked = detail::leakedLight(r.peaks, static_cast<int>(run.dyes.size()));
    std::string why;
    detail::StandardDyeSource source = detail::StandardDyeSource::usualPlace;
    r.standardDye = detail::standardDyeOf(run, options, why, source);
    Attempt a;
    const std::size_t firstWarning = r.warnings.size();
    if (!attempt(r.standardDye, why, a) && source != detail::StandardDyeSource::caller)
        lookInOtherDyes(a, firstWarning);
    // Tops the fits passed over are listed and sized with the rest, but the
    // standard is sought among fitted peaks only.
    r.peaks.insert(r.peaks.end(), missedTops.begin(), missedTops.end());
    const std::vector<StandardCandidate>& cands = a.cands;
    const StandardMatch& match = a.match;
    const double typical = a.typical;
    if (a.status != SizingStatus::sized) {
        r.status = a.status;
        r.standard.clear();
    } else {
        size(cands, a.index, match);
        if (r.status == SizingStatus::sized) r.status = judged(cands, typical, match);
        if (r.status == SizingStatus::unknownStandard) unsize();
        if (r.status == SizingStatus::sized && a.lightSetAside) {
            r.status = SizingStatus::lowConfidence;
            r.confidence = 0.0;
        }
    }
    if (r.status != SizingStatus::sized && r.status != SizingStatus::lowConfidence) {
        r.looMeanBp = r.looMaxBp = kNaN;
        for (FragmentPeak& p : r.peaks) p.sizeBp = kNaN;
    }
    std::stable_sort(r.peaks.begin(), r.peaks.end(), detail::byDyeAndScan);
    if (!options.panel.empty()) callAlleles(r, options.panel);
    return r;
}

}  // namespace

namespace detail {

int standardDyeOf(const FragmentRun& run, const FragmentOptions& options, std::string& why,
                  StandardDyeSource& source) {
    const int numDyes = static_cast<int>(run.dyes.size());
    if (options.standardDye >= 0 && options.standardDye < numDyes) {
        why = "chosen by the caller";
        source = StandardDyeSource::caller;
        return options.standardDye;
    }
    for (int d = numDyes - 1; d >= 0; --d)
        if (d < static_cast<int>(run.names.size()) && isStandardDyeName(run.names[d])) {
            why = "named " + run.names[d];
            source = StandardDyeSource::name;
            return d;
        }
    if (run.flaggedStandardDye >= 0 && run.flaggedStandardDye < numDyes) {
        why = "flagged as standard in the file";
        source = StandardDyeSource::flag;
        return run.flaggedStandardDye;
    }
    // Dye sets of five or more dyes are named with their count (G5, E5,
    // J6): the standard is their last dye.
    const std::string set = run.dyeSet;
    if (!set.empty() && set.back() >= '5' && set.back() <= '8' && set.back() - '0' == numDyes) {
        why = "the last dye of dye set " + set;
        source = StandardDyeSource::dyeSet;
        return numDyes - 1;
    }
    why = "the usual place of the standard";
    source = StandardDyeSource::usualPlace;
    return numDyes - 1;
}

}  // namespace detail

FragmentRun fragmentRunOf(const AbifRun& run) {
    FragmentRun f;
    for (const AbifChannel& c : run.dyes) {
        f.dyes.push_back(c.samples);
        f.names.push_back(c.name);
    }
    f.rate = run.samplingRate;
    f.saturatedScans = run.saturatedScans;
    f.standardHint = run.standardName;
    f.flaggedStandardDye = run.standardDyeFlag - 1;
    f.dyeSet = run.dyeSetName;
    return f;
}

FragmentResult analyseFragments(const FragmentRun& run, const FragmentOptions& options) {
    return SizingRoad(run, options).go();
}

FragmentResult analyseFragments(const AbifRun& run, const FragmentOptions& options) {
    if (!run.ok()) {
        FragmentResult r;
        r.warnings.push_back(run.error);
        return r;
    }
    FragmentResult r = analyseFragments(fragmentRunOf(run), options);
    return r;
}

}  // namespace kw
