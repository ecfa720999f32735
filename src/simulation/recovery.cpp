// Scoring a processing of a simulated run against the run's truth.
#include <algorithm>
#include <cmath>

#include "common/quantile.h"
#include "kwsignal/simulate.h"

namespace kw {
namespace {

// Half the distance between the neighbours of each true base.
std::vector<double> localSpacing(const std::vector<SimulatedPeak>& peaks, double fallback) {
    const size_t n = peaks.size();
    std::vector<double> s(n, fallback);
    for (size_t k = 0; k < n; ++k) {
        const size_t a = k > 0 ? k - 1 : k, b = k + 1 < n ? k + 1 : k;
        if (b > a) s[k] = (peaks[b].centre - peaks[a].centre) / static_cast<double>(b - a);
    }
    return s;
}

double separationResidual(const std::vector<std::vector<double>>& m,
                          const std::vector<std::vector<double>>& mixing) {
    const size_t n = mixing.size();
    if (m.size() != n) return std::nan("");
    double worst = 0.0;
    for (size_t i = 0; i < n; ++i) {
        if (m[i].size() != n) return std::nan("");
        std::vector<double> row(n, 0.0);
        for (size_t j = 0; j < n; ++j)
            for (size_t k = 0; k < n; ++k) row[j] += m[i][k] * mixing[k][j];
        for (size_t j = 0; j < n; ++j)
            if (j != i) worst = std::max(worst, std::fabs(row[j] / row[i]));
    }
    return worst;
}

}  // namespace

Recovery assessRecovery(const SimulatedCapillary& sim, const std::vector<FoundPeak>& found,
                        const std::vector<std::vector<double>>& separation) {
    Recovery r;
    r.truePeaks = static_cast<int>(sim.peaks.size());
    r.foundPeaks = static_cast<int>(found.size());
    r.separationResidual = separationResidual(separation, sim.mixing);
    const std::vector<double> spacing = localSpacing(sim.peaks, sim.spacing);
    struct Pair {
        double distance;
        size_t truth, peak;
    };
    std::vector<Pair> pairs;
    for (size_t k = 0; k < sim.peaks.size(); ++k)
        for (size_t j = 0; j < found.size(); ++j) {
            const double d = std::fabs(found[j].locatn - sim.peaks[k].centre);
            if (found[j].channel == sim.peaks[k].channel && d <= 0.5 * spacing[k])
                pairs.push_back({d, k, j});
        }
    std::sort(pairs.begin(), pairs.end(),
              [](const Pair& a, const Pair& b) { return a.distance < b.distance; });
    std::vector<bool> truthUsed(sim.peaks.size()), peakUsed(found.size());
    std::vector<double> errors;
    for (const Pair& p : pairs) {
        if (truthUsed[p.truth] || peakUsed[p.peak]) continue;
        truthUsed[p.truth] = peakUsed[p.peak] = true;
        errors.push_back(p.distance);
    }
    r.matched = static_cast<int>(errors.size());
    r.recall = r.truePeaks > 0 ? static_cast<double>(r.matched) / r.truePeaks : 0.0;
    r.precision = r.foundPeaks > 0 ? static_cast<double>(r.matched) / r.foundPeaks : 0.0;
    r.medianError = detail::median(std::move(errors));
    return r;
}

}  // namespace kw

namespace kw {
namespace {

// Global alignment with free end gaps (match 1, mismatch -1, gap -2): per
// called base, whether it matches, mismatches or is an insertion, and the
// number of true bases deleted inside the aligned stretch.
struct Alignment {
    std::vector<char> readOp;  // 'M' match, 'X' mismatch, 'I' insertion, per called base
    int deletions = 0;
};

Alignment alignCalls(const std::string& truth, const std::string& read) {
    const size_t n = truth.size(), m = read.size();
    std::vector<int> score((n + 1) * (m + 1), 0);
    std::vector<char> from((n + 1) * (m + 1), 0);
    auto at = [m](size_t i, size_t j) { return i * (m + 1) + j; };
    for (size_t i = 1; i <= n; ++i) from[at(i, 0)] = 'D';
    for (size_t j = 1; j <= m; ++j) from[at(0, j)] = 'I';
    for (size_t i = 1; i <= n; ++i)
        for (size_t j = 1; j <= m; ++j) {
            const bool same = truth[i - 1] == read[j - 1];
            int best = score[at(i - 1, j - 1)] + (same ? 1 : -1);
            char op = same ? 'M' : 'X';
            // End gaps are free: the calls may start late and stop early.
            const int del = score[at(i - 1, j)] - (j == m ? 0 : 2);
            const int ins = score[at(i, j - 1)] - (i == n ? 0 : 2);
            if (del > best) best = del, op = 'D';
            if (ins > best) best = ins, op = 'I';
            score[at(i, j)] = best;
            from[at(i, j)] = op;
        }
    Alignment a;
    a.readOp.assign(m, 'I');
    size_t i = n, j = m;
    while (i > 0 || j > 0) {
        const char op = from[at(i, j)];
        if (op == 'M' || op == 'X') {
            a.readOp[--j] = op;
            --i;
        } else if (op == 'D') {
            if (j > 0 && j < m) ++a.deletions;  // inside the called stretch
            --i;
        } else {
            a.readOp[--j] = (i > 0 && i < n) ? 'I' : 'E';  // 'E': beyond the truth's ends
        }
    }
    return a;
}

}  // namespace

CallRecovery assessCalls(const SimulatedCapillary& sim, const BaseCalls& calls) {
    CallRecovery r;
    std::string truth;
    for (const SimulatedPeak& p : sim.peaks) truth += kBaseLetters[p.channel & 3];
    const std::string read = calls.sequence();
    r.trueBases = static_cast<int>(truth.size());
    r.calledBases = static_cast<int>(read.size());
    const Alignment a = alignCalls(truth, read);
    r.deletions = a.deletions;
    constexpr int kBands = 7;
    std::vector<double> errorSum(kBands, 0.0);
    r.bands.resize(kBands);
    for (int b = 0; b < kBands; ++b) r.bands[b].lo = 10 * b;
    for (size_t k = 0; k < a.readOp.size(); ++k) {
        const char op = a.readOp[k];
        if (op == 'E') continue;
        r.substitutions += op == 'X';
        r.insertions += op == 'I';
        const int qv = std::max(0, std::min(calls.bases[k].qv, kMaxCallQv));
        CallRecovery::Band& band = r.bands[std::min(kBands - 1, qv / 10)];
        ++band.bases;
        band.errors += op != 'M';
        errorSum[std::min(kBands - 1, qv / 10)] += std::pow(10.0, -qv / 10.0);
    }
    const int errors = r.substitutions + r.insertions + r.deletions;
    r.identity =
        r.trueBases > 0 ? std::max(0.0, 1.0 - static_cast<double>(errors) / r.trueBases) : 0.0;
    for (int b = 0; b < kBands; ++b) {
        CallRecovery::Band& band = r.bands[b];
        if (band.bases == 0) continue;
        band.predictedQv = -10.0 * std::log10(errorSum[b] / band.bases);
        band.observedQv = band.errors > 0
                              ? -10.0 * std::log10(static_cast<double>(band.errors) / band.bases)
                              : std::min<double>(kMaxCallQv, band.lo + 10);
    }
    return r;
}

}  // namespace kw
