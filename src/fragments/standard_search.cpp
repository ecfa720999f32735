// Assigning a size standard's fragments to the peaks of its dye.
//
// The peaks of a standard come in the order of their lengths, and the
// scans a base pair takes change only slowly along the run. The best
// assignment is a chain of (peak, fragment) pairs, ascending in both, found
// by dynamic programming over the chain's steps: each step's scans per base
// pair is compared with the previous step's, so the chain follows the
// run's mobility curve through missing fragments (primer region, a run that
// stops early, a failed fragment) and past extra peaks (pull-up, the -1 bp
// satellite of a strong fragment). A wrong list bends the chain at every
// mismatch or leaves fragments and strong peaks unexplained, which the
// comparison between standards then sees.
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>

#include "fragments/fragments_internal.h"

namespace kw {
namespace detail {
namespace {

// At most 3 unassigned clean peaks between two fragments, and up to 5 when
// the others are pull-up or off scale (a weak standard under the light of
// strong sample peaks).
constexpr int kMaxPeakStep = 6;
constexpr int kMaxCleanSkips = 3;
constexpr int kMaxFragmentStep = 3;  // at most 2 fragments missing between two peaks
constexpr double kMinScansPerBp = 0.5;
constexpr double kMaxScansPerBp = 60.0;
constexpr double kNodeReward = 4.0;
constexpr double kMissingCost = 2.5;    // a fragment without a peak inside the chain
constexpr double kAnomalousMiss = 0.3;  // anomalous fragments are often left off the list
constexpr double kExtraCost = 1.5;      // a skipped peak as tall as the standard's peaks
constexpr double kBendCap = 12.0;       // one bend costs at most this much
// Mobility drift: the relative change of scans per base pair expected
// between two steps, per 20 bp of step length.
constexpr double kDriftPer20Bp = 0.035;
constexpr double kScanError = 0.7;  // scans of error of a peak centre
// Each fragment's own mobility departs from the smooth curve by about this
// much (sequence-dependent migration), bp.
constexpr double kBpError = 0.7;
constexpr double kAnomalyBp = 2.0;  // how far an anomalous fragment may run off, bp
// Standard fragments are loaded in similar amounts: a peak of at least this
// share of the typical standard height counts fully.
constexpr double kFullHeightShare = 0.3;
// A peak of the standard dye this strong must be a fragment of the
// standard; left unassigned it counts against the definition.
constexpr double kStrongShare = 0.3;
constexpr double kTallnessBonus = 0.5;
// Candidates beyond the list's own length that a search weighs.
constexpr std::size_t kSpareCandidates = 30;

// A step of the chain, from one (peak, fragment) pair to the next, as the
// steps out of its later pair weigh it: the score of the best chain ending
// with it, its slope and its share of a bend's variance (its extra share
// when an end is an anomalous fragment, rarely needed, is looked up). A
// pair's steps lie side by side, best first, so the weighing reads one
// short run of memory.
struct RankedStep {
    double best;      // score of the best chain ending with this step
    double logSlope;  // ln(scans per bp)
    double scatter;   // its share of a bend's variance: centre and mobility errors, drift
    int edge;         // its number, to trace the chain back
    // Where a chain's totals are held (Reach::inAll): the fragments its best
    // chain misses so far, and the strong clean peaks it leaves over.
    unsigned char missed, skipped;
};

// What a peak of this height adds to a chain that takes it. A peak far
// below the standard's typical height (refHeight) is more likely noise or
// pull-up than a fragment; of two peaks that fit the curve alike (a
// fragment and its -1 bp satellite) the taller is the fragment.
double nodeReward(double height, double refHeight) {
    const double weight = std::min(1.0, height / (kFullHeightShare * refHeight));
    const double tallness = kTallnessBonus * std::min(1.0, height / refHeight);
    return kNodeReward * weight - (weight < 1.0 ? 1.0 : 0.0) + tallness;
}

// Which chains a search weighs: all, or only those that can be nearly
// complete (see matchNearlyComplete).
struct Reach {
    // The last fragment a chain may give each candidate; empty: any.
    std::vector<int> lastFragment;
    int strongSkips = kMaxPeakStep;      // strong clean peaks a step may skip
    int missing = kMaxFragmentStep - 1;  // fragments (not anomalous) a step may miss
    // Fragments a whole chain may miss, and strong clean peaks it may leave
    // over, each; negative: any.
    int inAll = -1;
};

constexpr int kStepsIn = kMaxPeakStep * kMaxFragmentStep;  // steps into one pair

class Search {
public:
    Search(const std::vector<StandardCandidate>& c, const SizeStandard& s, double typicalHeight,
           const Reach& r = Reach())
        : cand(c),
          def(s),
          n(static_cast<int>(c.size())),
          m(static_cast<int>(s.sizesBp.size())),
          refHeight(std::max(1e-9, typicalHeight)),
          reach(r) {
        anomalous.assign(static_cast<std::size_t>(m), 0);
        for (double a : def.anomalousBp)
            for (int j = 0; j < m; ++j)
                if (def.sizesBp[j] == a) anomalous[static_cast<std::size_t>(j)] = 1;
        tabulatePeakSides();
        tabulateFragmentSides();
    }

    StandardMatch run() { return reach.inAll >= 0 ? runWith<true>() : runWith<false>(); }

private:
    bool isAnomalous(int j) const { return anomalous[static_cast<std::size_t>(j)] != 0; }
    // A peak that must be a fragment of the standard, or counts against it.
    bool isStrongClean(int i) const {
        return !cand[i].doubtful && cand[i].height >= kStrongShare * refHeight;
    }
    // Scans per bp of the step from pair (i0, j0) to (i1, j1).
    double slopeOf(int i0, int j0, int i1, int j1) const {
        return (cand[i1].scan - cand[i0].scan) / (def.sizesBp[j1] - def.sizesBp[j0]);
    }
    // The scan of a length (bp) before pair (i0, j0), at `slope` scans per bp.
    double scanBack(int i0, int j0, double bp, double slope) const {
        return cand[i0].scan - (def.sizesBp[j0] - bp) * slope;
    }
    // The extra variance of step e's slope when an end is an anomalous fragment.
    double anomalyOf(int e) const {
        const int dj = e % kMaxFragmentStep + 1;
        const int j = (e / kStepsIn) % m;
        return spanAnomalies[static_cast<std::size_t>(j * kMaxFragmentStep + dj - 1)];
    }
    int edge(int i, int j, int di, int dj) const {
        return ((i * m + j) * kMaxPeakStep + (di - 1)) * kMaxFragmentStep + (dj - 1);
    }
    // The search, with a chain's totals held to reach.inAll or not.
    template <bool limited>
    StandardMatch runWith();
    void tabulatePeakSides();
    void tabulateFragmentSides();
    int fragmentsShown(int i0, int j0, double slope, int limit) const;
    int peaksNear(int i0, double smallestAt, int limit) const;
    int peaksBeforeZero(double zeroAt, int among, int limit) const;
    bool beforeChain(int i0, int j0, double slope, int& missed, int& skipped) const;
    std::vector<char> startsBeyondLimits() const;
    void evaluate(StandardMatch& match, double chainScore) const;
    // The next (previous) fragment of the chain after (before) fragment j;
    // j itself at the chain's end.
    int nextAssigned(const StandardMatch& match, int j) const {
        for (int k = j + 1; k < m; ++k)
            if (match.peakOf[k] >= 0) return k;
        return j;
    }
    int previousAssigned(const StandardMatch& match, int j) const {
        for (int k = j - 1; k >= 0; --k)
            if (match.peakOf[k] >= 0) return k;
        return j;
    }

    const std::vector<StandardCandidate>& cand;
    const SizeStandard& def;
    int n, m;
    double refHeight = 1.0;
    Reach reach;
    std::vector<char> anomalous;  // per fragment
    // ln of the scans between peak i and the di-th before it, and of the bp
    // between fragment j and the dj-th before it (NaN where there is none).
    std::vector<double> logGaps, logSpans;
    // The cost of the peaks skipped and of the fragments missed by such steps.
    std::vector<double> gapCosts, spanCosts;
    // The terms of a step's scatter from its peaks (centre errors) and from
    // its fragments (mobility errors, drift), and its fragments' anomaly.
    std::vector<double> gapScatters, spanScatters, spanDrifts, spanAnomalies;
    // The strong clean peaks a step skips, and the fragments it misses.
    std::vector<unsigned char> gapSkipped, spanMissed;
    // The strong clean candidates and the fragments that are not anomalous,
    // in order, and how many of each come before each candidate (fragment).
    std::vector<int> strongOnes, strongBefore, regularOnes, regularBefore;
    std::vector<double> rewards;  // nodeReward of each candidate
    const double logMinSlope = std::log(kMinScansPerBp), logMaxSlope = std::log(kMaxScansPerBp);
};

// A step's figures split into a part of its peaks (di peaks back from
// peak i) and a part of its fragments (dj back from fragment j): each is
// worked out once here, not once for every pairing of the two.
void Search::tabulatePeakSides() {
    const std::size_t size = static_cast<std::size_t>(n * kMaxPeakStep);
    logGaps.assign(size, std::numeric_limits<double>::quiet_NaN());
    gapCosts.assign(size, 0.0);
    gapScatters.assign(size, 0.0);
    gapSkipped.assign(size, 0);
    for (int i = 0; i < n; ++i) {
        rewards.push_back(nodeReward(cand[i].height, refHeight));
        strongBefore.push_back(static_cast<int>(strongOnes.size()));
        if (isStrongClean(i)) strongOnes.push_back(i);
        int clean = 0, strong = 0;  // clean and strong clean peaks skipped by a step of di
        for (int di = 1; di <= std::min(i, kMaxPeakStep); ++di) {
            const std::size_t k = static_cast<std::size_t>(i * kMaxPeakStep + di - 1);
            const double dx = cand[i].scan - cand[i - di].scan;
            gapScatters[k] = (kScanError / dx) * (kScanError / dx);
            if (di > 1) {
                const StandardCandidate& skipped = cand[i - di + 1];
                clean += skipped.doubtful ? 0 : 1;
                strong += isStrongClean(i - di + 1) ? 1 : 0;
                gapCosts[k] =
                    gapCosts[k - 1] + kExtraCost * std::min(1.0, skipped.height / refHeight);
            }
            // The gap stays NaN: no such step.
            if (clean > kMaxCleanSkips || strong > reach.strongSkips) break;
            logGaps[k] = std::log(cand[i].scan - cand[i - di].scan);
            gapSkipped[k] = static_cast<unsigned char>(strong);
        }
    }
    strongBefore.push_back(static_cast<int>(strongOnes.size()));
}

void Search::tabulateFragmentSides() {
    const std::size_t size = static_cast<std::size_t>(m * kMaxFragmentStep);
    logSpans.assign(size, std::numeric_limits<double>::quiet_NaN());
    spanCosts.assign(size, 0.0);
    spanScatters.assign(size, 0.0);
    spanDrifts.assign(size, 0.0);
    spanAnomalies.assign(size, 0.0);
    spanMissed.assign(size, 0);
    for (int j = 0; j < m; ++j) {
        regularBefore.push_back(static_cast<int>(regularOnes.size()));
        if (!isAnomalous(j)) regularOnes.push_back(j);
        int missed = 0;  // fragments, not anomalous, a step of dj fragments misses
        for (int dj = 1; dj <= std::min(j, kMaxFragmentStep); ++dj) {
            const std::size_t k = static_cast<std::size_t>(j * kMaxFragmentStep + dj - 1);
            const double ds = def.sizesBp[j] - def.sizesBp[j - dj];
            if (dj > 1 && !isAnomalous(j - dj + 1)) ++missed;
            if (missed > reach.missing) break;  // the span stays NaN: no such step
            logSpans[k] = std::log(ds);
            spanMissed[k] = static_cast<unsigned char>(missed);
            spanScatters[k] = (kBpError / ds) * (kBpError / ds);
            spanDrifts[k] = kDriftPer20Bp * kDriftPer20Bp * ds / 40.0;
            spanAnomalies[k] = (kAnomalyBp / ds) * (kAnomalyBp / ds);
            if (dj > 1)
                spanCosts[k] =
                    spanCosts[k - 1] + (isAnomalous(j - dj + 1) ? kAnomalousMiss : kMissingCost);
        }
    }
}

template <bool limited>
StandardMatch Search::runWith() {
    StandardMatch match;
    match.standard = &def;
    match.peakOf.assign(static_cast<std::size_t>(m), -1);
    if (n < 2 || m < 2) return match;
    // Each pair's steps, best first and, among equal scores, in the order
    // they are numbered (di, then dj): a step out of the pair weighs them in
    // that order and stops at the first that cannot win even unbent, as
    // none after it can. Steps are numbered as edge() numbers them.
    const std::size_t numPairs = static_cast<std::size_t>(n * m);
    std::unique_ptr<RankedStep[]> ranked(new RankedStep[numPairs * kStepsIn]);
    std::vector<unsigned char> counts(numPairs, 0);
    std::unique_ptr<int[]> from(new int[numPairs * kStepsIn]);
    double top = -std::numeric_limits<double>::infinity();
    int topEdge = -1;
    // Where a chain's totals are held to reach.inAll (the search for a
    // nearly complete chain), a step is kept only if the best chain it
    // weighs stays within them: the fragments it misses before its start
    // and inside it, and the strong clean peaks it leaves over before its
    // start, skips inside it, or leaves after its peak beyond the fragments
    // left for them (`over`), each counted as evaluate() counts them or
    // fewer (the candidates come in scan order). No chain starts at a pair
    // where none within the limits can (startsBeyondLimits). This loses no
    // chain the search returns within the limits: call it C, the chain
    // returned without them. Every prefix of C is within the limits and is
    // the best chain into its last step. A step left out only takes chains
    // away from the steps weighed after it, which then keep another chain,
    // scoring no more and coming no earlier among their pair's steps (the
    // order is by score, then by number). So, step by step along C, each
    // keeps C's prefix: the prefix before it is kept, and still scores more
    // than every chain weighed ahead of it there and no less than those
    // after it. No chain scores more than C, and the first step to reach
    // its score is still C's last: the search returns C.
    const int strongInAll = strongBefore[static_cast<std::size_t>(n)];
    const std::vector<char> noStart = limited ? startsBeyondLimits() : std::vector<char>();
    for (int i = 1; i < n; ++i)
        for (int j = 1; j < m; ++j) {
            if (!reach.lastFragment.empty() && j > reach.lastFragment[static_cast<std::size_t>(i)])
                continue;
            RankedStep* const into = &ranked[static_cast<std::size_t>(i * m + j) * kStepsIn];
            unsigned char count = 0;
            const int over = std::max(
                0, strongInAll - strongBefore[static_cast<std::size_t>(i + 1)] - (m - 1 - j));
            for (int di = 1; di <= std::min(i, kMaxPeakStep); ++di) {
                const std::size_t gap = static_cast<std::size_t>(i * kMaxPeakStep + di - 1);
                const double logGap = logGaps[gap];
                if (std::isnan(logGap)) continue;  // a step that skips too many clean peaks
                const int pi = i - di;
                for (int dj = 1; dj <= std::min(j, kMaxFragmentStep); ++dj) {
                    const std::size_t span =
                        static_cast<std::size_t>(j * kMaxFragmentStep + dj - 1);
                    const double logSlope = logGap - logSpans[span];
                    if (!(logSlope >= logMinSlope && logSlope <= logMaxSlope)) continue;
                    int missed = spanMissed[span], skipped = gapSkipped[gap];
                    const int pj = j - dj;
                    const std::size_t pair = static_cast<std::size_t>(pi * m + pj);
                    if (limited && (missed > reach.inAll || skipped + over > reach.inAll ||
                                    (counts[pair] == 0 && noStart[pair])))
                        continue;
                    // The step's share of the variance of a bend: its centre and
                    // mobility errors, and half the mobility drift expected over a
                    // pair of steps.
                    const double scatter = gapScatters[gap] + spanScatters[span] + spanDrifts[span];
                    const double anomaly = spanAnomalies[span];
                    const double cost = spanCosts[span] + gapCosts[gap];
                    if (!reach.lastFragment.empty() &&
                        pj > reach.lastFragment[static_cast<std::size_t>(pi)])
                        continue;
                    const int e = edge(i, j, di, dj);
                    // The chain may start at the previous pair...
                    double b = rewards[pi] + rewards[i] - cost;
                    int f = -1;
                    // ...or continue a chain ending there. A bend costs the
                    // change of slope over its variance, at most kBendCap; most
                    // bends weighed lose, and are told so without a division.
                    const double gain = rewards[i] - cost;
                    const bool middleAnomalous = isAnomalous(pj);
                    const RankedStep* prev = &ranked[pair * kStepsIn];
                    const RankedStep* via = nullptr;  // the step the best chain continues
                    for (const RankedStep* end = prev + counts[pair]; prev != end; ++prev) {
                        if (prev->best + gain <= b) break;  // nor can the lower ones after it
                        const double slack = prev->best + gain - b;
                        const double var =
                            prev->scatter + scatter +
                            (middleAnomalous ? anomalyOf(prev->edge) + anomaly : 0.0);
                        const double d = logSlope - prev->logSlope;
                        if (slack <= kBendCap && d * d >= 2.0 * var * slack) continue;
                        const double bend = std::min(kBendCap, d * d / (2.0 * var));
                        if (bend < slack) {
                            b = prev->best + gain - bend;
                            f = prev->edge;
                            via = prev;
                        }
                    }
                    if (limited && via) {
                        missed += via->missed;
                        skipped += via->skipped;
                        if (missed > reach.inAll || skipped + over > reach.inAll) continue;
                    } else if (limited) {
                        int missedBefore = reach.inAll - missed,
                            skippedBefore = reach.inAll - skipped - over;
                        if (!beforeChain(pi, pj, slopeOf(pi, pj, i, j), missedBefore,
                                         skippedBefore))
                            continue;
                        missed += missedBefore;
                        skipped += skippedBefore;
                    }
                    from[static_cast<std::size_t>(e)] = f;
                    if (b > top) {
                        top = b;
                        topEdge = e;
                    }
                    if (!(b > -std::numeric_limits<double>::infinity())) continue;
                    // Into its place among the pair's steps, best first.
                    int at = count++;
                    for (; at > 0 && into[at - 1].best < b; --at) into[at] = into[at - 1];
                    into[at] = {b,
                                logSlope,
                                scatter,
                                e,
                                static_cast<unsigned char>(limited ? missed : 0),
                                static_cast<unsigned char>(limited ? skipped : 0)};
                }
            }
            counts[static_cast<std::size_t>(i * m + j)] = count;
        }
    for (int e = topEdge; e >= 0;) {
        const int dj = e % kMaxFragmentStep + 1;
        const int di = (e / kMaxFragmentStep) % kMaxPeakStep + 1;
        const int ij = e / (kMaxFragmentStep * kMaxPeakStep);
        const int i = ij / m, j = ij % m;
        match.peakOf[j] = i;
        const int f = from[static_cast<std::size_t>(e)];
        if (f < 0) match.peakOf[j - dj] = i - di;
        e = f;
    }
    evaluate(match, top);
    return match;
}

// Before a chain that starts at pair (i0, j0) with a first step of
// `slope`, evaluate() counts missing the fragments (not anomalous) that
// would lie among the candidates, and left over the strong clean peaks
// outside its primer region (from the scan of zero length to its smallest
// fragment's). These count them nearest first, to one past a limit: each
// is tried there first, as most starts fail there.

// The fragments that lie among the candidates: further ones lie further back.
int Search::fragmentsShown(int i0, int j0, double slope, int limit) const {
    const int regular = regularBefore[static_cast<std::size_t>(j0)];
    const auto shown = [&](int r) {
        const double at = scanBack(i0, j0, def.sizesBp[regularOnes[regular - 1 - r]], slope);
        return at >= cand.front().scan && at <= cand.back().scan;
    };
    if (limit < regular && shown(limit)) return limit + 1;
    int count = 0;
    while (count < regular && shown(count)) ++count;
    return count;
}

// The strong clean peaks before i0 back to the smallest fragment's scan.
int Search::peaksNear(int i0, double smallestAt, int limit) const {
    const int strong = strongBefore[static_cast<std::size_t>(i0)];
    const auto near = [&](int r) { return cand[strongOnes[strong - 1 - r]].scan >= smallestAt; };
    if (limit < strong && near(limit)) return limit + 1;
    int count = 0;
    while (count < strong && near(count)) ++count;
    return count;
}

// Of the first `among` strong clean peaks, those before the scan of zero length.
int Search::peaksBeforeZero(double zeroAt, int among, int limit) const {
    int count = 0;
    while (count < among && count <= limit && cand[strongOnes[count]].scan < zeroAt) ++count;
    return count;
}

// Given as many of each as may be: false when there are more, else true,
// with how many there are.
bool Search::beforeChain(int i0, int j0, double slope, int& missed, int& skipped) const {
    const int fragments = fragmentsShown(i0, j0, slope, missed);
    if (fragments > missed) return false;
    const int near = peaksNear(i0, scanBack(i0, j0, def.sizesBp[0], slope), skipped);
    if (near > skipped) return false;
    const int strong = strongBefore[static_cast<std::size_t>(i0)];
    const int peaks =
        near + peaksBeforeZero(scanBack(i0, j0, 0.0, slope), strong - near, skipped - near);
    if (peaks > skipped) return false;
    missed = fragments;
    skipped = peaks;
    return true;
}

// The pairs no chain within the limits starts at, whatever its first step:
// even at the steepest first step the pair allows more fragments before
// it than the limit lie among the candidates, or more strong clean peaks
// lie outside its primer region, from its end at the flattest step (which
// puts it nearest) and its start at the steepest (furthest back).
std::vector<char> Search::startsBeyondLimits() const {
    std::vector<char> none(static_cast<std::size_t>(n * m), 0);
    const int limit = reach.inAll;
    for (int i0 = 0; i0 + 1 < n; ++i0)
        for (int j0 = 0; j0 + 1 < m; ++j0) {
            const double steepest = slopeOf(i0, j0, std::min(n - 1, i0 + kMaxPeakStep), j0 + 1);
            const double flattest = slopeOf(i0, j0, i0 + 1, std::min(m - 1, j0 + kMaxFragmentStep));
            const int near = peaksNear(i0, scanBack(i0, j0, def.sizesBp[0], flattest), limit);
            const int strong = strongBefore[static_cast<std::size_t>(i0)];
            none[static_cast<std::size_t>(i0 * m + j0)] =
                fragmentsShown(i0, j0, steepest, limit) > limit || near > limit ||
                near + peaksBeforeZero(scanBack(i0, j0, 0.0, steepest), strong - near,
                                       limit - near) >
                    limit;
        }
    return none;
}

// The figures standards are compared by: fragments explained, fragments
// missing inside the span, strong peaks left over inside it, and how well
// each fragment is predicted from its neighbours.
void Search::evaluate(StandardMatch& match, double chainScore) const {
    int first = -1, last = -1;
    std::vector<double> xs, ys;
    for (int j = 0; j < m; ++j) {
        const int i = match.peakOf[j];
        if (i < 0) continue;
        if (first < 0) first = j;
        last = j;
        ++match.assigned;
        if (!isAnomalous(j)) {
            xs.push_back(cand[i].scan);
            ys.push_back(def.sizesBp[j]);
        }
    }
    if (match.assigned < 2) return;
    // Fragments before the chain are forgiven only where the run holds no
    // peaks to show them (the primer region, the start of the data), and
    // fragments after it only where the run has ended: the chain's end
    // slopes say where they would lie.
    const double x0 = cand[match.peakOf[first]].scan, x1 = cand[match.peakOf[last]].scan;
    const int second = nextAssigned(match, first), lastButOne = previousAssigned(match, last);
    const double startSlope = slopeOf(match.peakOf[first], first, match.peakOf[second], second);
    const double endSlope = slopeOf(match.peakOf[lastButOne], lastButOne, match.peakOf[last], last);
    const double smallestAt = scanBack(match.peakOf[first], first, def.sizesBp[0], startSlope);
    for (int j = 0; j < m; ++j) {
        if (match.peakOf[j] >= 0 || isAnomalous(j)) continue;
        const double at = j < first
                              ? scanBack(match.peakOf[first], first, def.sizesBp[j], startSlope)
                          : j > last ? x1 + (def.sizesBp[j] - def.sizesBp[last]) * endSlope
                                     : x0;
        if (at >= cand.front().scan && at <= cand.back().scan) ++match.missing;
    }
    // Where the standard's fragments lie, its dye holds its peaks only: a
    // strong peak left over there, even past the last fragment, is one the
    // definition does not explain.
    std::vector<bool> used(static_cast<std::size_t>(n), false);
    for (int j = 0; j < m; ++j)
        if (match.peakOf[j] >= 0) used[static_cast<std::size_t>(match.peakOf[j])] = true;
    // Before the scan the chain puts at zero length no fragment can lie:
    // strong peaks there (a ladder of longer fragments taken for the start
    // of a short list) are unexplained too; between there and the smallest
    // fragment lie the primer's and dyes' blobs.
    const double zeroAt = scanBack(match.peakOf[first], first, 0.0, startSlope);
    for (int i = 0; i < n; ++i)
        if ((cand[i].scan >= smallestAt || cand[i].scan < zeroAt) &&
            !used[static_cast<std::size_t>(i)] && isStrongClean(i))
            ++match.unexplained;
    const std::vector<double> loo = leaveOneOut(xs, ys, SizingMethod::localSouthern);
    double sum = 0.0;
    for (double r : loo) sum += r;
    match.looMeanBp = loo.empty() ? 0.0 : sum / loo.size();
    // The residual counts relative to the spacing of the standard: 1 bp is
    // poor for fragments 10 bp apart, good for fragments 50 bp apart.
    const double spacing = (ys.size() >= 2) ? (ys.back() - ys.front()) / (ys.size() - 1) : 1.0;
    // The chain's own score carries the bends of the mobility curve and the
    // peaks skipped inside it, in units of one well-placed fragment.
    match.quality = chainScore / kNodeReward - 1.0 * match.missing - 1.0 * match.unexplained -
                    10.0 * match.looMeanBp / spacing;
}

}  // namespace

double qualityBound(const std::vector<StandardCandidate>& candidates, const SizeStandard& standard,
                    double typicalHeight) {
    // A chain scores its peaks' rewards less what its steps and bends cost,
    // and the quality takes off what is missing or left over: at most the
    // best rewards of as many peaks as the list has fragments. Rewards grow
    // with height, so the tallest peaks hold them whichever peaks a search
    // keeps. A peak of no positive height could make a step pay back.
    const double refHeight = std::max(1e-9, typicalHeight);
    std::vector<double> rewards;
    for (const StandardCandidate& c : candidates) {
        if (!(c.height > 0.0)) return std::numeric_limits<double>::infinity();
        rewards.push_back(nodeReward(c.height, refHeight));
    }
    const std::size_t k = std::min(rewards.size(), standard.sizesBp.size());
    std::partial_sort(rewards.begin(), rewards.begin() + static_cast<long>(k), rewards.end(),
                      std::greater<double>());
    double sum = 0.0;
    for (std::size_t i = 0; i < k; ++i) sum += std::max(0.0, rewards[i]);
    return sum / kNodeReward;
}

namespace {

// The search over the tallest candidates: a short list is sought among the
// tallest peaks only, as the chain's cost grows with peaks times fragments
// and a standard's peaks are among the tallest of its dye. `reachOf` says
// which chains to weigh, given the candidates kept.
template <class ReachOf>
StandardMatch searchTallest(const std::vector<StandardCandidate>& candidates,
                            const SizeStandard& standard, double typicalHeight, ReachOf reachOf) {
    const std::size_t keep = standard.sizesBp.size() + kSpareCandidates;
    if (candidates.size() <= keep)
        return Search(candidates, standard, typicalHeight, reachOf(candidates)).run();
    std::vector<std::size_t> order(candidates.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::partial_sort(
        order.begin(), order.begin() + static_cast<long>(keep), order.end(),
        [&](std::size_t a, std::size_t b) { return candidates[a].height > candidates[b].height; });
    order.resize(keep);
    std::sort(order.begin(), order.end());
    std::vector<StandardCandidate> tallest;
    for (std::size_t i : order) tallest.push_back(candidates[i]);
    StandardMatch match = Search(tallest, standard, typicalHeight, reachOf(tallest)).run();
    for (int& i : match.peakOf)
        if (i >= 0) i = static_cast<int>(order[static_cast<std::size_t>(i)]);
    return match;
}

}  // namespace

StandardMatch matchStandard(const std::vector<StandardCandidate>& candidates,
                            const SizeStandard& standard, double typicalHeight) {
    return searchTallest(candidates, standard, typicalHeight,
                         [](const std::vector<StandardCandidate>&) { return Reach(); });
}

bool nearlyComplete(const StandardMatch& match) {
    return match.missing * 10 <= match.assigned && match.unexplained * 10 <= match.assigned;
}

StandardMatch matchNearlyComplete(const std::vector<StandardCandidate>& candidates,
                                  const SizeStandard& standard, double typicalHeight,
                                  ChainLimit limit) {
    return searchTallest(
        candidates, standard, typicalHeight, [&](const std::vector<StandardCandidate>& kept) {
            // A nearly complete chain of k fragments misses at most k / 10
            // inside it, and leaves as many strong clean peaks over, the
            // ones it steps past among them; k is at most the list's length
            // and the peaks kept.
            const int most = static_cast<int>(std::min(kept.size(), standard.sizesBp.size()));
            const int spare = most / 10;
            Reach r;
            r.strongSkips = spare;
            r.missing = std::min(r.missing, spare);
            // A step keeps its chain's totals in a byte each.
            r.inAll = limit == ChainLimit::inAll && spare <= 255 ? spare : -1;
            // Every strong clean peak after a chain's peak is its own, on a
            // later fragment, or left over: a peak followed by k of them
            // takes a fragment at least k - spare before the list's end
            // (none at all where k exceeds the list and the spare ones).
            const double strong = kStrongShare * std::max(1e-9, typicalHeight);
            const int m = static_cast<int>(standard.sizesBp.size());
            r.lastFragment.assign(kept.size(), m - 1);
            int after = 0;  // strong clean peaks after candidate i
            for (int i = static_cast<int>(kept.size()) - 1; i >= 0; --i) {
                r.lastFragment[static_cast<std::size_t>(i)] = m - 1 + spare - after;
                const StandardCandidate& c = kept[static_cast<std::size_t>(i)];
                if (!c.doubtful && c.height >= strong) ++after;
            }
            return r;
        });
}

}  // namespace detail
}  // namespace kw
