// Checks of a standard assignment that do not depend on how it was found.
//
// The search picks the chain of (peak, fragment) pairs that follows the
// mobility curve most smoothly; on a sparse ladder (GS500: 14 usable
// fragments, gaps of 50-100 bp) a chain with one peak moved by one fragment,
// or with its end moved by one fragment, can follow it nearly as well. Such
// an assignment sizes part of the run wrong by a whole fragment step, with
// a leave-one-out residual that still looks plausible. So the chosen
// assignment and each of its one-step neighbours are scored on guards of
// their own: the smoothness of scans per bp along the chain, every peak's
// leave-one-out residual, the known run-off of the anomalous fragments, the
// heights of the assigned peaks, fragments missing inside the chain and
// strong peaks left over inside it. A neighbour that scores nearly as well
// leaves the assignment ambiguous.
#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>
#include <utility>

#include "fragments/fragments_internal.h"

namespace kw {
namespace detail {
namespace {

// Each guard term is capped: one bad stretch must not outweigh the rest.
constexpr double kTermCap = 8.0;
// Error of a peak's position along the mobility curve, scans, and of a
// fragment's own mobility (sequence-dependent migration), bp.
constexpr double kGuardScanError = 1.0;
constexpr double kGuardBpError = 0.8;
// Relative drift of scans per bp expected over 20 bp of the run.
constexpr double kGuardDriftPer20Bp = 0.04;
// Leave-one-out error expected of an interior peak: a floor plus a share of
// the gap its neighbours leave (Southern's law bends across wide gaps).
constexpr double kLooFloorBp = 0.3;
constexpr double kLooGapShare = 0.02;
// Where the anomalous fragments run against the curve through the others:
// from this much short of it to this much long, bp (GS500's 250 runs
// 1.4-3.9 bp short, 340 0-1.3 bp short on the training runs).
constexpr double kAnomalyShortBp = 4.5;
constexpr double kAnomalyLongBp = 1.0;
// A fragment without a peak between two assigned ones, and a strong peak
// left over inside the chain's span.
constexpr double kGuardMissingCost = 1.5;
constexpr double kGuardLeftoverCost = 3.0;
constexpr double kLeftoverShare = 0.3;  // of the typical standard height
// A peak this close to a fragment's, bp, is its satellite (the product a
// base short, or one with an extra base) when it is the lower of the two;
// the higher is the fragment.
constexpr double kSatelliteBp = 1.5;
// Standard peaks are loaded in similar amounts; a weak assigned peak costs
// by how far (in ln height) it falls below the typical one.
constexpr double kHeightSpread = 0.8;

using Pair = std::pair<int, int>;  // (peak, fragment), ascending in both

class Guards {
public:
    Guards(const std::vector<StandardCandidate>& c, const SizeStandard& s, double typical)
        : cand(c), def(s), typicalHeight(std::max(1e-9, typical)) {}

    double cost(const std::vector<Pair>& pairs) const {
        if (pairs.size() < 3) return std::numeric_limits<double>::infinity();
        return bends(pairs) + residuals(pairs) + heights(pairs) + gaps(pairs);
    }

    // What leaving peak i without a fragment costs: a strong clean peak
    // counts fully, weak or doubtful ones by their height.
    double unexplained(int i) const {
        const StandardCandidate& c = cand[static_cast<std::size_t>(i)];
        const double share = std::min(1.0, c.height / (kLeftoverShare * typicalHeight));
        return (c.doubtful ? kGuardLeftoverCost : kTermCap) * share;
    }

    // Scans per bp around the k-th pair, from its neighbours in the chain.
    double scansPerBp(const std::vector<Pair>& pairs, std::ptrdiff_t k) const {
        const std::size_t a = static_cast<std::size_t>(std::max<std::ptrdiff_t>(0, k - 1));
        const std::size_t b = std::min(pairs.size() - 1, static_cast<std::size_t>(k + 1));
        return (scan(pairs[b]) - scan(pairs[a])) / (bp(pairs[b]) - bp(pairs[a]));
    }
    double scan(const Pair& p) const { return cand[static_cast<std::size_t>(p.first)].scan; }

private:
    bool anomalous(int j) const {
        return std::find(def.anomalousBp.begin(), def.anomalousBp.end(), def.sizesBp[j]) !=
               def.anomalousBp.end();
    }
    double bp(const Pair& p) const { return def.sizesBp[static_cast<std::size_t>(p.second)]; }

    // Scans per bp change slowly along the run: each change from one step
    // to the next, against the error the peaks' positions, the fragments'
    // own mobility and the drift over the two steps allow.
    double bends(const std::vector<Pair>& pairs) const {
        double total = 0.0;
        for (std::size_t k = 2; k < pairs.size(); ++k) {
            const double dx1 = scan(pairs[k - 1]) - scan(pairs[k - 2]);
            const double dx2 = scan(pairs[k]) - scan(pairs[k - 1]);
            const double ds1 = bp(pairs[k - 1]) - bp(pairs[k - 2]);
            const double ds2 = bp(pairs[k]) - bp(pairs[k - 1]);
            if (!(dx1 > 0.0 && dx2 > 0.0 && ds1 > 0.0 && ds2 > 0.0)) return kTermCap * 100.0;
            const double d = std::log(dx2 / ds2) - std::log(dx1 / ds1);
            double var = 0.0;
            for (double dx : {dx1, dx2})
                var += 2.0 * (kGuardScanError / dx) * (kGuardScanError / dx);
            for (double ds : {ds1, ds2}) var += 2.0 * (kGuardBpError / ds) * (kGuardBpError / ds);
            var += kGuardDriftPer20Bp * kGuardDriftPer20Bp * (ds1 + ds2) / 20.0;
            total += std::min(kTermCap, d * d / (2.0 * var));
        }
        return total;
    }

    // Every peak sized from its neighbours: the regular ones by Local
    // Southern through the regular others, the anomalous ones against their
    // known run-off window.
    double residuals(const std::vector<Pair>& pairs) const {
        std::vector<double> xs, ys;
        for (const Pair& p : pairs)
            if (!anomalous(p.second)) {
                xs.push_back(scan(p));
                ys.push_back(bp(p));
            }
        double total = 0.0;
        const int n = static_cast<int>(xs.size());
        for (int k = 1; k + 1 < n; ++k) {
            double nx[4], ny[4];
            int used = 0;
            for (int i = std::max(0, k - 2); i <= std::min(n - 1, k + 2); ++i)
                if (i != k) {
                    nx[used] = xs[i];
                    ny[used++] = ys[i];
                }
            const double r = localSouthernSize(nx, ny, used, xs[k]) - ys[k];
            const double sd = kLooFloorBp + kLooGapShare * (ys[k + 1] - ys[k - 1]);
            total += std::isfinite(r) ? std::min(kTermCap, r * r / (2.0 * sd * sd)) : kTermCap;
        }
        if (n < 3) return total;
        for (const Pair& p : pairs) {
            if (!anomalous(p.second)) continue;
            const double r = localSouthernSize(xs.data(), ys.data(), n, scan(p)) - bp(p);
            const double out = r < -kAnomalyShortBp ? -kAnomalyShortBp - r
                               : r > kAnomalyLongBp ? r - kAnomalyLongBp
                                                    : 0.0;
            total += std::isfinite(r) ? std::min(kTermCap, out * out / 2.0) : kTermCap;
        }
        return total;
    }

    double heights(const std::vector<Pair>& pairs) const {
        double total = 0.0;
        for (const Pair& p : pairs) {
            const double h = cand[static_cast<std::size_t>(p.first)].height;
            if (h >= typicalHeight) continue;
            const double l = std::log(std::max(h, 1e-9) / typicalHeight) / kHeightSpread;
            total += std::min(kTermCap, l * l / 2.0);
        }
        return total;
    }

    // Inside the chain's span the standard's dye holds the standard's
    // peaks: fragments without one, and strong peaks left over, count.
    double gaps(const std::vector<Pair>& pairs) const {
        double total = 0.0;
        for (std::size_t k = 1; k < pairs.size(); ++k)
            for (int j = pairs[k - 1].second + 1; j < pairs[k].second; ++j)
                total += anomalous(j) ? 0.1 * kGuardMissingCost : kGuardMissingCost;
        for (int i = pairs.front().first + 1; i < pairs.back().first; ++i) {
            const StandardCandidate& c = cand[static_cast<std::size_t>(i)];
            if (c.doubtful || c.height < kLeftoverShare * typicalHeight) continue;
            const bool used = std::any_of(pairs.begin(), pairs.end(),
                                          [i](const Pair& p) { return p.first == i; });
            if (!used) total += leftover(pairs, c);
        }
        return total;
    }

    // A strong peak left over: explained when it is the lower satellite of
    // an assigned peak next to it; a taller one beside an assigned peak is
    // the fragment the assignment missed.
    double leftover(const std::vector<Pair>& pairs, const StandardCandidate& c) const {
        const std::ptrdiff_t next =
            std::lower_bound(pairs.begin(), pairs.end(), c.scan,
                             [this](const Pair& p, double at) { return scan(p) < at; }) -
            pairs.begin();
        for (std::ptrdiff_t k : {next - 1, next}) {
            if (k < 0 || k >= static_cast<std::ptrdiff_t>(pairs.size())) continue;
            const Pair& p = pairs[static_cast<std::size_t>(k)];
            if (std::fabs(c.scan - scan(p)) > kSatelliteBp * scansPerBp(pairs, k)) continue;
            return c.height < cand[static_cast<std::size_t>(p.first)].height ? 0.0 : kTermCap;
        }
        return kGuardLeftoverCost;
    }

    const std::vector<StandardCandidate>& cand;
    const SizeStandard& def;
    double typicalHeight;
};

std::string describe(const std::vector<StandardCandidate>& cand, const SizeStandard& def,
                     const Pair& from, int toFragment, const char* what) {
    std::ostringstream s;
    s << what << " the peak at scan "
      << std::lround(cand[static_cast<std::size_t>(from.first)].scan) << " as "
      << def.sizesBp[static_cast<std::size_t>(toFragment)] << " bp instead of "
      << def.sizesBp[static_cast<std::size_t>(from.second)] << " bp";
    return s.str();
}

}  // namespace

AssignmentCheck checkAssignment(const std::vector<StandardCandidate>& cands,
                                const StandardMatch& match, double typicalHeight) {
    AssignmentCheck check;
    if (!match.standard) return check;
    const SizeStandard& def = *match.standard;
    const Guards guards(cands, def, typicalHeight);
    std::vector<Pair> pairs;
    for (std::size_t j = 0; j < match.peakOf.size(); ++j)
        if (match.peakOf[j] >= 0) pairs.emplace_back(match.peakOf[j], static_cast<int>(j));
    check.cost = guards.cost(pairs);
    const int m = static_cast<int>(def.sizesBp.size());
    const int n = static_cast<int>(pairs.size());
    // `what` says the rival in words; it is worded only for the best one.
    auto consider = [&](std::vector<Pair> alt, const auto& what) {
        // A peak moved off either end of the list is left unassigned: a
        // peak of the standard's height in the run, where the list has no
        // fragment, that the rival cannot explain.
        double dropped = 0.0;
        while (!alt.empty() && alt.back().second >= m) {
            dropped += guards.unexplained(alt.back().first);
            alt.pop_back();
        }
        while (!alt.empty() && alt.front().second < 0) {
            dropped += guards.unexplained(alt.front().first);
            alt.erase(alt.begin());
        }
        // Only a peak that keeps a fragment, another one, makes a rival:
        // a chain merely shortened at an end sizes alike.
        const bool relabelled = std::any_of(alt.begin(), alt.end(), [&](const Pair& p) {
            return std::find(pairs.begin(), pairs.end(), p) == pairs.end();
        });
        if (!relabelled) return;
        for (std::size_t k = 0; k < alt.size(); ++k)
            if (alt[k].second < 0 || alt[k].second >= m ||
                (k > 0 && alt[k].second <= alt[k - 1].second))
                return;
        const double c = guards.cost(alt) + dropped;
        if (c < check.rivalCost) {
            check.rivalCost = c;
            check.rival = what();
        }
    };
    std::vector<bool> used(cands.size(), false);
    for (const Pair& p : pairs) used[static_cast<std::size_t>(p.first)] = true;
    for (int k = 0; k < n && n >= 2; ++k) {
        // The fragment on a taller clean peak beside its own: the peak
        // taken may be that fragment's satellite.
        const double reach = kSatelliteBp * guards.scansPerBp(pairs, k);
        const int lo = k > 0 ? pairs[k - 1].first + 1 : 0;
        const int hi = k + 1 < n ? pairs[k + 1].first : static_cast<int>(cands.size());
        for (int i = lo; i < hi; ++i) {
            const StandardCandidate& c = cands[static_cast<std::size_t>(i)];
            if (used[static_cast<std::size_t>(i)] || c.doubtful ||
                c.height <= cands[static_cast<std::size_t>(pairs[k].first)].height ||
                std::fabs(c.scan - guards.scan(pairs[k])) > reach)
                continue;
            std::vector<Pair> swap = pairs;
            swap[k].first = i;
            consider(swap, [&] {
                std::ostringstream what;
                what << "with the peak at scan "
                     << std::lround(cands[static_cast<std::size_t>(i)].scan) << " as "
                     << def.sizesBp[static_cast<std::size_t>(pairs[k].second)]
                     << " bp instead of the one at scan " << std::lround(guards.scan(pairs[k]));
                return what.str();
            });
        }
    }
    for (int k = 0; k < n; ++k)
        for (int step : {-1, 1}) {
            // One peak moved to the neighbouring fragment the chain left free.
            std::vector<Pair> one = pairs;
            one[k].second += step;
            if (one[k].second >= 0 && one[k].second < m)
                consider(one,
                         [&] { return describe(cands, def, pairs[k], one[k].second, "with"); });
            // The chain's head (up to peak k) or tail (from peak k) moved
            // by one fragment.
            std::vector<Pair> head = pairs, tail = pairs;
            for (int i = 0; i <= k; ++i) head[i].second += step;
            for (int i = k; i < n; ++i) tail[i].second += step;
            const int at = std::min(std::max(pairs[k].second + step, 0), m - 1);
            if (k + 1 < n)
                consider(head, [&] {
                    return describe(cands, def, pairs[k], at, "with the chain up to");
                });
            consider(tail,
                     [&] { return describe(cands, def, pairs[k], at, "with the chain from"); });
        }
    return check;
}

}  // namespace detail
}  // namespace kw
