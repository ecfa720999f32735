// Summary figures of a read: counts, the bases a user can trust (QV20+,
// the contiguous read length) and the trimmed read (modified Mott
// trimming, the usual way of cutting the low-quality ends off a trace).
#include <algorithm>
#include <cmath>

#include "common/quantile.h"
#include "kwsignal/basecall.h"

namespace kw {
namespace {

// The contiguous read: bases whose mean QV over this many bases either side
// is at least kContiguousQv.
constexpr int kContiguousHalf = 21;
constexpr double kContiguousQv = 20.0;

void countLetters(BaseCalls& calls) {
    calls.counts.fill(0);
    calls.qv20 = 0;
    for (const BaseCall& b : calls.bases) {
        const char* letters = "ACGT";
        const char* at = std::find(letters, letters + 4, b.base);
        ++calls.counts[at - letters];
        if (b.qv >= 20) ++calls.qv20;
    }
}

void contiguousRead(BaseCalls& calls) {
    const int n = static_cast<int>(calls.bases.size());
    std::vector<double> prefix(n + 1, 0.0);
    for (int i = 0; i < n; ++i) prefix[i + 1] = prefix[i] + calls.bases[i].qv;
    calls.contiguousStart = calls.contiguousLength = 0;
    int runStart = 0;
    for (int i = 0; i <= n; ++i) {
        bool good = false;
        if (i < n) {
            const int lo = std::max(0, i - kContiguousHalf),
                      hi = std::min(n, i + kContiguousHalf + 1);
            good = (prefix[hi] - prefix[lo]) / (hi - lo) >= kContiguousQv;
        }
        if (!good) {
            if (i - runStart > calls.contiguousLength) {
                calls.contiguousStart = runStart;
                calls.contiguousLength = i - runStart;
            }
            runStart = i + 1;
        }
    }
}

}  // namespace

std::string BaseCalls::sequence() const {
    std::string s;
    s.reserve(bases.size());
    for (const BaseCall& b : bases) s += b.base;
    return s;
}

void mottTrim(const std::vector<int>& qvs, double cutoff, int& start, int& end) {
    start = end = 0;
    double best = 0.0, sum = 0.0;
    int from = 0;
    for (int i = 0; i < static_cast<int>(qvs.size()); ++i) {
        if (sum <= 0.0) sum = 0.0, from = i;
        sum += cutoff - std::pow(10.0, -qvs[i] / 10.0);
        if (sum > best) best = sum, start = from, end = i + 1;
    }
}

void summariseCalls(BaseCalls& calls, double cutoff) {
    countLetters(calls);
    contiguousRead(calls);
    std::vector<int> qvs;
    qvs.reserve(calls.bases.size());
    for (const BaseCall& b : calls.bases) qvs.push_back(b.qv);
    const double c = cutoff > 0.0 && cutoff < 1.0 ? cutoff : 0.05;
    mottTrim(qvs, c, calls.trimStart, calls.trimEnd);
    double sum = 0.0;
    for (int i = calls.trimStart; i < calls.trimEnd; ++i) sum += qvs[i];
    calls.trimmedMeanQv =
        calls.trimEnd > calls.trimStart ? sum / (calls.trimEnd - calls.trimStart) : 0.0;
    calls.mixture = findMixture(calls);
}

namespace {

// A second dye this high counts as a second ladder's: kStepRatio for the
// share test's step, kMixedRatio going back from an onset. A weak second
// sequence's first bases show second dyes of 0.13-0.15 under many of them,
// which the laxer step counts; going back at that ratio, a heterozygous
// read's scattered second dyes over its clean start would pull the onset
// tens of bases early (the otog mother's by 32).
constexpr double kStepRatio = 0.13;
constexpr double kMixedRatio = 0.15;
// A second sequence sets in as a step: over the bases after the onset at
// least kMixedAfter of them carry a second dye (and a little fewer over
// the rest of the kept read), over the bases before it at most
// kMixedBefore. The onset is where that step is steepest. Clean reads
// have stretches of a few bases with a strong second dye (a dye blob, a
// compression, the noisy ends) and a slow rise of it along the read, but
// no such step.
constexpr int kMixtureWindow = 40;  // bases judged together either side of the onset
constexpr double kMixedAfter = 0.5;
constexpr double kMixedRest = 0.4;
constexpr double kMixedBefore = 0.1;  // 4 of 40: laxer, scattered second dyes start the step early
constexpr double kMixedBack = 0.25;   // share from an earlier onset up to the step
constexpr int kMixtureLead = 20;      // clean bases the kept read must begin with
constexpr int kMixtureMinBases = 30;  // shortest mixed stretch reported

bool carriesSecond(const BaseCall& b, double ratio) {
    return b.secondary != 'N' && std::isfinite(b.secondaryRatio) && b.secondaryRatio >= ratio;
}

// Where the share test finds no step (a second sequence whose dye is
// weaker, or whose ratio the read's own neighbours' tails already reach at
// some bases before it), the rise of the second dyes' median still marks
// the onset: at least half of the kRiseWindow bases from it carry a second
// dye of kRiseRatio, and their median ratio stands kRiseStep times above
// that of the bases before. The read's first bases and its fading end
// carry second dyes of their own, with no such step into them.
constexpr int kRiseWindow = 16;
constexpr double kRiseRatio = 0.2;
constexpr double kRiseStep = 3.0;
// ... and the second dyes from it to the end of the kept read average at
// least this ratio: a second sequence stays, while the rise onto the
// slightly stronger neighbours' tails of a clean read's later bases does
// not reach it.
constexpr double kRiseMean = 0.1;
// ... and the rise holds: of the kRiseWindow bases after the first
// kRiseWindow, at least this share still carry a strong second dye. A
// clean read's burst of a dozen troubled bases (a compression, a dye
// artefact) is over by then, while a second sequence is not: a burst
// 40 bases before a real onset otherwise places the onset on the burst.
constexpr double kRiseHolds = 0.3;
// ... and the rise starts at least kRiseLead bases into the kept read. A
// clean read's first bases often stand taller and cleaner than the rest,
// so its second dyes rise past them as a second sequence's would (a clean
// training read was flagged so at its base 33 and lost honest QVs over
// the rest of the read).
// Primers for edit and indel reads sit well before the site, and a
// second sequence set in earlier is found some bases later.
constexpr int kRiseLead = 40;

// Bases of the kept read [start, end) carrying a second dye of at least a
// given ratio, counted once for every share a test asks for.
class CarrierShare {
public:
    CarrierShare(const BaseCalls& calls, int start, int end, double ratio)
        : calls_(calls),
          ratio_(ratio),
          start_(start),
          prefix_(static_cast<size_t>(std::max(0, end - start)) + 1, 0) {
        for (int i = start; i < end; ++i)
            prefix_[i - start + 1] = prefix_[i - start] + (carries(i) ? 1 : 0);
    }
    bool carries(int i) const { return carriesSecond(calls_.bases[i], ratio_); }
    // Share of the bases [a, b) that carry one; start <= a <= b <= end.
    double share(int a, int b) const {
        return static_cast<double>(prefix_[b - start_] - prefix_[a - start_]) / std::max(1, b - a);
    }

private:
    const BaseCalls& calls_;
    double ratio_;  // the second dye's least ratio counted
    int start_;
    std::vector<int> prefix_;  // [k]: carriers among [start, start + k)
};

// A weak second sequence shows under only some of its first bases (a
// second template's peaks drift in and out of step with the read's bases),
// so a test over a window of them fires some bases in: the onset goes back
// to the earliest base carrying a second dye from which kMixedBack of the
// bases up to it carry one, with the read still clean before it.
int backToFirstCarrier(const CarrierShare& c, int start, int onset) {
    for (int b = std::max(start + kMixtureLead, onset - kMixtureWindow); b < onset; ++b)
        if (c.carries(b) && c.share(b, onset) >= kMixedBack &&
            c.share(std::max(start, b - kMixtureWindow), b) <= kMixedBefore)
            return b;
    return onset;
}

// The onset where the share of kept bases carrying a second dye steps up
// most steeply, moved on to the first base that carries one; -1 for none.
int shareStepOnset(const CarrierShare& c, int start, int end) {
    if (end - start < kMixtureLead + kMixtureMinBases) return -1;
    int onset = -1;
    double steepest = 0.0;
    for (int o = start + kMixtureLead; o + kMixtureMinBases <= end; ++o) {
        const double after = c.share(o, std::min(end, o + kMixtureWindow));
        const double before = c.share(std::max(start, o - kMixtureWindow), o);
        if (after < kMixedAfter || before > kMixedBefore || c.share(o, end) < kMixedRest) continue;
        if (after - before > steepest) steepest = after - before, onset = o;
    }
    if (onset < 0) return -1;
    // The steepest step can start on a clean base or two: the onset is the
    // first base that carries the second dye.
    while (!c.carries(onset)) ++onset;
    return onset;
}

double ratioOf(const BaseCall& b) {
    return std::isfinite(b.secondaryRatio) ? b.secondaryRatio : 0.0;
}

// Mean secondary ratio (each capped at 1) of bases [from, to).
double meanRatio(const BaseCalls& calls, int from, int to) {
    double sum = 0.0;
    for (int i = from; i < to; ++i) sum += std::clamp(ratioOf(calls.bases[i]), 0.0, 1.0);
    return sum / std::max(1, to - from);
}

double medianRatio(const BaseCalls& calls, int from, int to) {
    std::vector<double> v;
    v.reserve(static_cast<size_t>(std::max(0, to - from)));
    for (int i = from; i < to; ++i) v.push_back(ratioOf(calls.bases[i]));
    return kw::detail::median(std::move(v));
}

// The first kept base, itself carrying a strong second dye, from which most
// of the next kRiseWindow do, whose second dyes stand kRiseStep times above
// those of the kMixtureLead bases before it and which the following
// kRiseWindow bases still bear out (the bases after the onset may run past
// the kept read, the second window past the read's end); -1 for none.
int medianRiseOnset(const BaseCalls& calls, int start, int end) {
    const int n = static_cast<int>(calls.bases.size());
    // strongBefore[k]: bases in [start, start + k) carrying a strong second dye.
    std::vector<int> strongBefore(static_cast<size_t>(std::max(0, n - start)) + 1, 0);
    for (int i = start; i < n; ++i) {
        const BaseCall& b = calls.bases[i];
        const bool strong = b.secondary != 'N' && ratioOf(b) >= kRiseRatio;
        strongBefore[i - start + 1] = strongBefore[i - start] + (strong ? 1 : 0);
    }
    auto strongIn = [&](int a, int b) { return strongBefore[b - start] - strongBefore[a - start]; };
    auto holds = [&](int i) {
        const int from = std::min(n, i + kRiseWindow), to = std::min(n, from + kRiseWindow);
        return strongIn(from, to) >= kRiseHolds * (to - from);
    };
    for (int i = start + kRiseLead; i < end && i + kRiseWindow <= n; ++i) {
        if (strongIn(i, i + 1) && 2 * strongIn(i, i + kRiseWindow) >= kRiseWindow &&
            medianRatio(calls, i, i + kRiseWindow) >=
                kRiseStep * medianRatio(calls, i - kMixtureLead, i) &&
            holds(i) && meanRatio(calls, i, end) >= kRiseMean)
            return i;
    }
    return -1;
}

}  // namespace

Mixture findMixture(const BaseCalls& calls) {
    Mixture m;
    const int n = static_cast<int>(calls.bases.size());
    const int start = std::max(0, calls.trimStart);
    const int end = std::min(n, calls.trimEnd);
    int onset = shareStepOnset(CarrierShare(calls, start, end, kStepRatio), start, end);
    if (onset < 0) {
        onset = medianRiseOnset(calls, start, end);
        if (onset < 0) return m;
        m.test = MixtureTest::rise;
    }
    onset = backToFirstCarrier(CarrierShare(calls, start, end, kMixedRatio), start, onset);
    m.found = true;
    m.onsetBase = onset;
    m.onsetSample = calls.bases[onset].position;
    m.meanSecondaryRatio = meanRatio(calls, onset, end);
    return m;
}

}  // namespace kw
