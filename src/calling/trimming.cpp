// Summary figures of a read: counts, the bases a user can trust (QV20+,
// the contiguous read length) and the trimmed read (modified Mott
// trimming, the usual way of cutting the low-quality ends off a trace).
#include <algorithm>
#include <cmath>

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

constexpr double kMixedRatio = 0.15;  // a second dye this high counts as a second ladder
constexpr int kMixtureWindow = 20;    // bases judged together at the onset
constexpr int kMixtureMinBases = 30;  // shortest mixed stretch reported

bool carriesSecond(const BaseCall& b) {
    return b.secondary != 'N' && std::isfinite(b.secondaryRatio) && b.secondaryRatio >= kMixedRatio;
}

}  // namespace

Mixture findMixture(const BaseCalls& calls) {
    Mixture m;
    const int n = static_cast<int>(calls.bases.size());
    const int start = std::max(0, calls.trimStart);
    const int end = std::min(n, calls.trimEnd);
    if (end - start < kMixtureMinBases) return m;
    // prefix[i]: bases in [start, start + i) that carry a second dye.
    std::vector<int> prefix(static_cast<size_t>(end - start) + 1, 0);
    for (int i = start; i < end; ++i)
        prefix[i - start + 1] = prefix[i - start] + (carriesSecond(calls.bases[i]) ? 1 : 0);
    auto count = [&](int a, int b) { return prefix[b - start] - prefix[a - start]; };
    for (int o = start; o + kMixtureMinBases <= end; ++o) {
        const int ahead = std::min(end, o + kMixtureWindow);
        const int behind = std::max(start, o - kMixtureWindow);
        if (count(o, end) < 0.6 * (end - o) || count(o, ahead) < 0.6 * (ahead - o)) continue;
        if (o > start && count(behind, o) >= 0.3 * (o - behind)) continue;
        // The window test passes a few clean bases early: the onset is the
        // first base that carries the second dye.
        while (!carriesSecond(calls.bases[o])) ++o;
        double sum = 0.0;
        for (int i = o; i < end; ++i)
            sum += std::isfinite(calls.bases[i].secondaryRatio)
                       ? std::clamp(calls.bases[i].secondaryRatio, 0.0, 1.0)
                       : 0.0;
        m.found = true;
        m.onsetBase = o;
        m.onsetSample = calls.bases[o].position;
        m.meanSecondaryRatio = sum / (end - o);
        return m;
    }
    return m;
}

}  // namespace kw
