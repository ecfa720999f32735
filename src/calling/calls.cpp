// Matching the peaks to bases. The bases of a run follow each other at the
// local spacing; the fitted peaks are mostly bases, but some are extra
// (cross-talk remnants, shoulders, the weaker of two dyes at a mixed
// position), some bases of a run of one letter merge into one broad hump,
// and some bases are too weak to have been fitted. A dynamic programme over
// the peaks (sorted on the mobility-corrected axis) chooses which peaks are
// bases and how many bases each holds, so that the chosen train is evenly
// spaced, leaves out little signal, and fills gaps only where the spacing
// says bases are missing.
#include <algorithm>
#include <cmath>
#include <limits>

#include "calling/calling.h"
#include "kwsignal/capillary.h"
#include "kwsignal/events.h"

namespace kw::detail {
namespace {

// Costs of the matching, in units of one base's reward.
constexpr double kReward = 1.0;      // each base called on a peak
constexpr double kGapWeight = 6.0;   // squared deviation of a gap from whole spacings
constexpr double kSkipWeight = 1.0;  // leaving out a peak as tall as a typical base
// Each empty slot filled from the channels: only a tie-breaker between
// reading a gap as k or k + 1 spacings, as a gap is read as the nearest
// whole number of them; a dearer fill drops bases the spacing says are there.
constexpr double kFillCost = 0.02;
constexpr double kMultWeight = 3.0;  // squared deviation from the bases a width holds
// A gap of under one spacing between two bases of one dye costs this many
// times more: neighbouring bases of one dye sit a spacing apart or a little
// more (their humps push apart), while the fit's pieces of one hump sit
// closer; bases of different dyes come closer through the mobility left
// in them.
constexpr double kSameDyeWeight = 2.0;
constexpr int kMaxRun = 6;  // most bases one hump is read as
// How far the next base may lie, in spacings; beyond, the slots between
// are filled.
constexpr double kMaxJump = 8.0;
constexpr int kMaxCandidates = 40;

// Bases a hump of this width holds: m bases a spacing s apart, each of
// width sigma0, make a hump of variance sigma0^2 + s^2 (m^2 - 1) / 12.
double basesInWidth(double sigma, double sigma0, double s) {
    const double excess = 12.0 * (sigma * sigma - sigma0 * sigma0) / (s * s);
    return std::sqrt(std::max(1.0, 1.0 + excess));
}

struct Option {
    int peak;
    int bases;
    double cost;   // best cost of a train ending with this option
    int previous;  // option before it, -1 at the train's start
};

// A slot filled where the matching left out a peak close by takes that
// peak's letter: the peak is most likely the slot's base, fitted a little
// off its place (a piece of a hump, a base pushed by its neighbours), while
// the channels at the slot itself may show nothing but the dip beside it.
// The tallest such peak within this many spacings of the slot decides.
constexpr double kFillPeakReach = 0.8;

void letterFillsFromPeaks(const std::vector<Peak>& peaks, const RunShape& shape,
                          std::vector<kw::BaseCall>& bases) {
    size_t first = 0;
    for (kw::BaseCall& b : bases) {
        if (b.origin != kw::BaseOrigin::filled) continue;
        const double c = b.correctedPosition, reach = kFillPeakReach * shape.spacing.at(c);
        while (first < peaks.size() && peaks[first].corr < c - reach) ++first;
        const Peak* tallest = nullptr;
        for (size_t i = first; i < peaks.size() && peaks[i].corr <= c + reach; ++i)
            if (!peaks[i].called && (!tallest || peaks[i].height > tallest->height))
                tallest = &peaks[i];
        if (tallest) b.base = baseOfDye(tallest->dye);
    }
}

// The dynamic programme over the peaks: each peak's options (how many
// bases it holds), the cost of the best train ending on each, and the
// train read back as bases.
class Matching {
public:
    Matching(const std::vector<Peak>& peaks, const RunShape& shape);
    void chooseTrains();
    std::vector<int> bestChain() const;
    std::vector<kw::BaseCall> basesOf(const std::vector<int>& chain, std::vector<Peak>& peaks,
                                      std::vector<int>& peakOf) const;

private:
    double leftEdge(const Option& o) const {
        return peaks[o.peak].corr - 0.5 * (o.bases - 1) * spacingAt[o.peak];
    }
    double rightEdge(const Option& o) const {
        return peaks[o.peak].corr + 0.5 * (o.bases - 1) * spacingAt[o.peak];
    }
    static double gapCost(double g, double s, bool sameDye, int& slots);
    void chooseBefore(int j, Option& to, const std::vector<double>& cheapestUpTo) const;

    const std::vector<Peak>& peaks;
    int n;
    std::vector<double> skipBefore, spacingAt;
    std::vector<Option> options;
    std::vector<int> firstOption;
};

// Every peak's options: the whole numbers of bases next to what its width
// says, and the cost of leaving out the peaks before each.
Matching::Matching(const std::vector<Peak>& p, const RunShape& shape)
    : peaks(p),
      n(static_cast<int>(p.size())),
      skipBefore(n + 1, 0.0),
      spacingAt(n),
      firstOption(n + 1) {
    for (int i = 0; i < n; ++i) {
        const Peak& q = peaks[i];
        const double href = std::max(shape.height.at(q.corr), 1e-9);
        skipBefore[i + 1] = skipBefore[i] + kSkipWeight * std::min(1.5, q.height / href);
        spacingAt[i] = shape.spacing.at(q.corr);
        const double m = basesInWidth(q.sigma, shape.sigma.at(q.corr), spacingAt[i]);
        firstOption[i] = static_cast<int>(options.size());
        const int lo = std::min(kMaxRun, static_cast<int>(m));
        for (int b = lo; b <= std::min(kMaxRun, lo + 1); ++b)
            options.push_back({i, b, kMultWeight * (b - m) * (b - m), -1});
    }
    firstOption[n] = static_cast<int>(options.size());
}

// Cost of the gap between two consecutive humps: its deviation from a
// whole number of spacings, and the slots filled in it.
double Matching::gapCost(double g, double s, bool sameDye, int& slots) {
    const double u = g / s;
    const double k = std::max(1.0, std::floor(u));
    const double weight = sameDye && u < 1.0 ? kSameDyeWeight * kGapWeight : kGapWeight;
    const double below = weight * (u - k) * (u - k) + kFillCost * (k - 1.0);
    const double above = kGapWeight * (k + 1.0 - u) * (k + 1.0 - u) + kFillCost * k;
    slots = below <= above ? static_cast<int>(k) - 1 : static_cast<int>(k);
    return std::min(below, above);
}

// The cheapest train ending with option `to` of peak j, from the trains
// ending on the peaks before it.
void Matching::chooseBefore(int j, Option& to, const std::vector<double>& cheapestUpTo) const {
    const double own = to.cost - kReward * to.bases;
    to.cost = skipBefore[j] + own;
    const double left = leftEdge(to);
    for (int i = j - 1; i >= 0 && j - i <= kMaxCandidates; --i) {
        if (peaks[j].corr - peaks[i].corr > kMaxJump * spacingAt[j] && i < j - 1) break;
        // Gaps and skipped peaks cost nothing or more, and trains ending
        // further back skip more: once the cheapest of them cannot beat the
        // best with this peak's skips alone, none can.
        const double skipped = skipBefore[j] - skipBefore[i + 1];
        if (cheapestUpTo[i] + skipped + own >= to.cost) break;
        for (int oi = firstOption[i]; oi < firstOption[i + 1]; ++oi) {
            const Option& from = options[oi];
            // Likewise for this train before its gap is costed.
            if (from.cost + skipped + own >= to.cost) continue;
            int slots = 0;
            const double g = left - rightEdge(from);
            const double c = from.cost +
                             gapCost(g, 0.5 * (spacingAt[i] + spacingAt[j]),
                                     peaks[i].dye == peaks[j].dye, slots) +
                             skipped + own;
            if (c < to.cost) to.cost = c, to.previous = oi;
        }
    }
}

void Matching::chooseTrains() {
    // The lowest cost of a train ending on any of the peaks up to each one.
    std::vector<double> cheapestUpTo(n);
    for (int j = 0; j < n; ++j) {
        for (int oj = firstOption[j]; oj < firstOption[j + 1]; ++oj)
            chooseBefore(j, options[oj], cheapestUpTo);
        cheapestUpTo[j] = j > 0 ? cheapestUpTo[j - 1] : std::numeric_limits<double>::infinity();
        for (int oj = firstOption[j]; oj < firstOption[j + 1]; ++oj)
            cheapestUpTo[j] = std::min(cheapestUpTo[j], options[oj].cost);
    }
}

// The options of the cheapest train, the peaks after its last left out.
std::vector<int> Matching::bestChain() const {
    int best = -1;
    double bestCost = std::numeric_limits<double>::infinity();
    for (int o = 0; o < static_cast<int>(options.size()); ++o) {
        const double c = options[o].cost + (skipBefore[n] - skipBefore[options[o].peak + 1]);
        if (c < bestCost) bestCost = c, best = o;
    }
    std::vector<int> chain;
    for (int o = best; o >= 0; o = options[o].previous) chain.push_back(o);
    std::reverse(chain.begin(), chain.end());
    return chain;
}

// The bases of a train: the slots its gaps hold, then its peaks' bases.
std::vector<kw::BaseCall> Matching::basesOf(const std::vector<int>& chain,
                                            std::vector<Peak>& called,
                                            std::vector<int>& peakOf) const {
    std::vector<kw::BaseCall> bases;
    peakOf.clear();
    for (size_t k = 0; k < chain.size(); ++k) {
        const Option& o = options[chain[k]];
        Peak& p = called[o.peak];
        if (k > 0) {
            const Option& before = options[chain[k - 1]];
            const double from = rightEdge(before), g = leftEdge(o) - from;
            int slots = 0;
            gapCost(g, 0.5 * (spacingAt[before.peak] + spacingAt[o.peak]), false, slots);
            for (int f = 1; f <= slots; ++f) {
                kw::BaseCall fill;
                fill.correctedPosition = from + g * f / (slots + 1);
                fill.origin = kw::BaseOrigin::filled;
                bases.push_back(fill);
                peakOf.push_back(-1);
            }
        }
        p.called = true;
        for (int b = 0; b < o.bases; ++b) {
            kw::BaseCall call;
            call.base = baseOfDye(p.dye);
            call.correctedPosition = p.corr + (b - 0.5 * (o.bases - 1)) * spacingAt[o.peak];
            call.position = o.bases == 1 ? p.pos : call.correctedPosition;
            call.origin = o.bases == 1 ? kw::BaseOrigin::peak : kw::BaseOrigin::hump;
            bases.push_back(call);
            peakOf.push_back(o.peak);
        }
    }
    return bases;
}

}  // namespace

std::vector<kw::BaseCall> matchBases(std::vector<Peak>& peaks, const RunShape& shape,
                                     std::vector<int>& peakOf) {
    for (Peak& p : peaks) p.called = false;  // a matching of its own, not added to one before
    Matching matching(peaks, shape);
    matching.chooseTrains();
    std::vector<kw::BaseCall> bases = matching.basesOf(matching.bestChain(), peaks, peakOf);
    letterFillsFromPeaks(peaks, shape, bases);
    return bases;
}

namespace {

// Peaks the caller can use: a base channel, finite values, inside the window.
std::vector<Peak> usablePeaks(const std::vector<KwPeak>& fitted, const kw::CallInputs& in) {
    std::vector<Peak> peaks;
    peaks.reserve(fitted.size());
    for (const KwPeak& f : fitted) {
        Peak p;
        p.pos = p.corr = f.getLocatn();
        p.height = f.getHeight();
        p.sigma = f.getSigma();
        p.dye = f.getTraceCode();
        if (p.dye < 0 || p.dye > 3 || !std::isfinite(p.pos) || !(p.height > 0.0) ||
            !std::isfinite(p.height) || !(p.sigma > 0.0) || !std::isfinite(p.sigma))
            continue;
        if (p.pos < in.windowStart || p.pos > in.windowEnd) continue;
        peaks.push_back(p);
    }
    return peaks;
}

void sortBy(std::vector<Peak>& peaks, double Peak::*key) {
    std::sort(peaks.begin(), peaks.end(),
              [key](const Peak& a, const Peak& b) { return a.*key < b.*key; });
}

// Two peaks of one dye closer than this fraction of a spacing are not two
// bases (bases of a run of one letter follow each other a whole spacing
// apart) but one base or one run fitted in two parts.
constexpr double kSplitFraction = 0.5;

// Joins each such pair (peaks sorted by corr) into one peak with the pair's
// centre and spread (weighted by area), so that the width says how many
// bases the run holds instead of each part adding a base.
void joinSplitPeaks(std::vector<Peak>& peaks, const RunShape& shape) {
    size_t kept = 0;
    for (size_t i = 0; i < peaks.size(); ++i) {
        const Peak& p = peaks[i];
        Peak& q = peaks[kept == 0 ? 0 : kept - 1];
        if (kept == 0 || q.dye != p.dye ||
            p.corr - q.corr >= kSplitFraction * shape.spacing.at(p.corr)) {
            peaks[kept++] = p;
            continue;
        }
        const double a = q.height * q.sigma, b = p.height * p.sigma;
        const double c = (a * q.corr + b * p.corr) / (a + b);
        const double dq = q.corr - c, dp = p.corr - c;
        const double var =
            (a * (q.sigma * q.sigma + dq * dq) + b * (p.sigma * p.sigma + dp * dp)) / (a + b);
        q.pos = (a * q.pos + b * p.pos) / (a + b);
        q.corr = c;
        q.sigma = std::sqrt(var);
        q.height = std::max(q.height, p.height);
    }
    peaks.resize(kept);
}

// The last fitted peak need not be the read's last base: the sharpening
// flattens a closing run of one letter into a plateau, and on a read that
// fades the processed channels lose the weak last bases, while the channels
// before sharpening still show them up to the signal window's end. The
// train goes on there at the local spacing while some dye reaches
// kTailShare of its own typical base; up to kTailBridge slots without one
// are bridged where a dye shows again after them (the baseline takes the
// middle of a long plateau), each slot taking the dye strongest there.
constexpr double kTailShare = 0.2;
constexpr int kTailBridge = 4;

// The dye strongest on its own scale at c, shown or not.
int strongestShare(const Unsharpened& light, double c) {
    int best = 0;
    for (int d = 1; d < 4; ++d)
        if (light.share(d, c) > light.share(best, c)) best = d;
    return best;
}

void extendTail(std::vector<kw::BaseCall>& bases, std::vector<int>& peakOf, const RunShape& shape,
                const Unsharpened& light, double end) {
    if (bases.empty()) return;
    struct Slot {
        double at;
        int dye;  // the dye strongest there
    };
    std::vector<Slot> slots;
    size_t kept = 0;
    double c = bases.back().correctedPosition;
    for (;;) {
        const double s = shape.spacing.at(c);
        if (!(s > 0.0) || !(c + s <= end)) break;
        c += s;
        const int dye = strongestShare(light, c);
        slots.push_back({c, dye});
        if (light.share(dye, c) >= kTailShare)
            kept = slots.size();
        else if (slots.size() - kept > static_cast<size_t>(kTailBridge))
            break;
    }
    for (size_t k = 0; k < kept; ++k) {
        kw::BaseCall fill;
        fill.base = baseOfDye(slots[k].dye);
        fill.correctedPosition = slots[k].at;
        fill.origin = kw::BaseOrigin::filled;
        bases.push_back(fill);
        peakOf.push_back(-1);
    }
}

// Smallest base spacing the caller accepts, samples.
constexpr double kMinSpacing = 1.0;

// Fewer peaks than this give no calls: no spacing or mobility can be
// measured on them.
constexpr size_t kMinPeaks = 10;

}  // namespace

bool callWorking(const KwCap& cap, const std::vector<KwPeak>& fitted, const kw::CallInputs& in,
                 Working& w, std::string& note) {
    if (cap.getNumTraces() < 4) return note = "fewer than four traces", false;
    if (in.windowEnd <= in.windowStart) return note = "empty signal window", false;
    // Bases less than a sample apart, or fewer than two in the window, are
    // no spacing that can be matched.
    if (!(in.spacing >= kMinSpacing) || !(in.spacing <= 0.5 * (in.windowEnd - in.windowStart)))
        return note = "no usable base spacing", false;
    w.peaks = usablePeaks(fitted, in);
    if (w.peaks.size() < kMinPeaks) return note = "too few peaks to call bases", false;
    // The first offsets are learned against the run's mean spacing, which
    // towards the ends of a run can be a third off the local one: uneven
    // gaps then pass for mobility. Learned again against the local spacing
    // measured on the first corrections, they leave the train even where
    // the bases are, and the spacing measured on them follows.
    for (int round = 0; round < 2; ++round) {
        sortBy(w.peaks, &Peak::pos);
        learnMobility(w.peaks, in.spacing, w.shape);
        sortBy(w.peaks, &Peak::corr);
        measureRun(w.peaks, in.spacing, w.shape);
    }
    joinSplitPeaks(w.peaks, w.shape);
    w.bases = matchBases(w.peaks, w.shape, w.peakOf);
    // Late in a read the gaps between strong peaks stray by a third of a
    // spacing and the spacing fitted to them errs by a tenth or more, which
    // drops or adds a base every few tens. The matched train counts the
    // weak bases and the runs of one letter too: the bases are matched once
    // more at the spacing it shows.
    if (spacingFromBases(w.bases, w.shape)) w.bases = matchBases(w.peaks, w.shape, w.peakOf);
    const Unsharpened light(in.separated, w.bases, w.shape);
    extendTail(w.bases, w.peakOf, w.shape, light, in.windowEnd);
    describeBases(w.bases, w.shape, cap, light);
    w.features = baseFeatures(w.bases, w.peakOf, w.peaks, w.shape);
    markSecondLadder(w.bases, w.shape, light);
    return true;
}

}  // namespace kw::detail

namespace kw {
namespace {

char iupac(char a, char b) {
    const std::string pair = a < b ? std::string{a, b} : std::string{b, a};
    static const char* const kCodes[][2] = {{"AC", "M"}, {"AG", "R"}, {"AT", "W"},
                                            {"CG", "S"}, {"CT", "Y"}, {"GT", "K"}};
    for (const auto& c : kCodes)
        if (pair == c[0]) return c[1][0];
    return 'N';
}

// A few points of each dye's offset along the run, in input-file samples.
std::vector<MobilityPoint> mobilityPoints(const kw::detail::RunShape& shape, double scale) {
    std::vector<MobilityPoint> out;
    const kw::detail::Curve& c = shape.mobility[0];
    if (c.empty()) return out;
    const int points = std::min<int>(12, static_cast<int>(c.x.size()));
    for (int k = 0; k < points; ++k) {
        const double x =
            points == 1 ? c.x.front() : c.x.front() + (c.x.back() - c.x.front()) * k / (points - 1);
        MobilityPoint m;
        m.position = x / scale;
        for (int d = 0; d < 4; ++d) m.offset[d] = shape.mobility[d].at(x) / scale;
        out.push_back(m);
    }
    return out;
}

#include "calling/mixture_qv_table.inc"

// Over a second sequence the features of each base still look like a clean
// read's (its peak is the tallest, evenly spaced), yet the major sequence
// is read wrong far more often there, most of all where the clean read's
// QV is modest: from the onset on each QV becomes the one observed over
// such stretches for bases of that clean-read QV (a table fitted on
// two-sequence reads built from training traces, never above the QV). The
// mixture keeps the onset found on the clean-read QVs; the new ones may end
// the trimmed read at it.
void lowerMixedQvs(BaseCalls& calls, double cutoff) {
    if (!calls.mixture.found) return;
    const Mixture found = calls.mixture;
    for (size_t i = static_cast<size_t>(found.onsetBase); i < calls.bases.size(); ++i)
        calls.bases[i].qv = qvOverMixture(calls.bases[i].qv);
    summariseCalls(calls, cutoff);
    calls.mixture = found;
}

}  // namespace

int qvOverMixture(int qv) {
    return kMixtureQvCalibration[std::max(0, std::min(kMaxCallQv, qv))];
}

BaseCalls callBases(const KwCap& processed, const std::vector<KwPeak>& peaks, const CallInputs& in,
                    const CallOptions& options) {
    BaseCalls calls;
    kw::detail::Working w;
    if (!kw::detail::callWorking(processed, peaks, in, w, calls.note)) {
        summariseCalls(calls, options.trimCutoff);
        return calls;
    }
    const double scale =
        in.coordinateScale > 0.0 && std::isfinite(in.coordinateScale) ? in.coordinateScale : 1.0;
    const bool mixed = options.mixedRatio > 0.0 && options.mixedRatio <= 1.0;
    calls.bases = std::move(w.bases);
    for (size_t i = 0; i < calls.bases.size(); ++i) {
        BaseCall& b = calls.bases[i];
        b.qv = kw::detail::qualityOf(w.features[i]);
        if (mixed && b.base != 'N' && b.secondary != 'N' &&
            b.secondaryRatio >= options.mixedRatio) {
            b.base = iupac(b.base, b.secondary);
            b.qv = std::min(b.qv, kMixedQv);
        }
        b.position /= scale;
        b.correctedPosition /= scale;
    }
    calls.mobility = mobilityPoints(w.shape, scale);
    summariseCalls(calls, options.trimCutoff);
    lowerMixedQvs(calls, options.trimCutoff);
    return calls;
}

}  // namespace kw
