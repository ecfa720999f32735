// Dye mobility. The four dyes drag their fragments through the polymer at
// slightly different speeds, so in raw data each dye's peaks lie a little
// early or late against the others, by an amount that drifts slowly along
// the run. Left in, it puts neighbouring bases in swapped order. Instrument
// files only name the vendor's mobility table, so the offsets are learned
// from the run itself: in overlapping windows, the shift of each dye that
// makes the merged train of strong peaks most evenly spaced.
#include <algorithm>
#include <cmath>

#include "calling/calling.h"

namespace kwcall {
namespace {

// Windows of about 90 bases, half overlapping: enough peaks of every dye
// for a stable shift, short against the drift.
constexpr double kWindowBases = 90.0;
// Offsets beyond this many base spacings are not mobility. Over the first
// hundred bases two dyes can run most of a spacing apart each way (short
// fragments feel the dye most), and later often half a spacing each.
constexpr double kMaxShift = 1.0;
// After the first window each dye's shift is searched, in one pass, this
// many spacings around the previous window's: the windows overlap by half,
// and mobility drifts slowly.
constexpr double kFollowReach = 0.25;
// Grid of trial shifts, in base spacings.
constexpr double kShiftStep = 0.025;
// Strong peaks: at least this fraction of the window's upper quartile.
constexpr double kStrongFraction = 0.3;

// The strong peaks of a window, per dye, in ascending position.
using DyeTrains = std::array<std::vector<double>, 4>;

// The cost of one gap between neighbouring peaks for a base spacing s: its
// distance from a whole number of spacings, squared and capped so that a
// missing or extra peak costs no more than a bounded amount.
inline double gapCost(double gap, double s) {
    const double u = gap / s;
    const double k = u < 1.5 ? 1.0 : std::floor(u + 0.5);
    return std::min((u - k) * (u - k), 0.25);
}

// How unevenly the merged train of `fixed` (ascending) and `moving` shifted
// by -shift (ascending) is spaced: the sum of its gaps' costs. Both stay
// sorted under the shift, so they are merged rather than sorted.
double unevenness(const std::vector<double>& fixed, const std::vector<double>& moving, double shift,
                  double s) {
    size_t i = 0, j = 0;
    double cost = 0.0, previous = 0.0;
    bool first = true;
    while (i < fixed.size() || j < moving.size()) {
        double pos;
        if (j >= moving.size() || (i < fixed.size() && fixed[i] < moving[j] - shift))
            pos = fixed[i++];
        else
            pos = moving[j++] - shift;
        if (!first) cost += gapCost(pos - previous, s);
        first = false;
        previous = pos;
    }
    return cost;
}

// The best shift of dye d on a grid of `step` spacings within `reach`
// spacings of its current shift, the other dyes held where they are.
void searchDye(const DyeTrains& trains, double s, double shift[4], int d, double reach, double step,
               std::vector<double>& fixed) {
    fixed.clear();
    for (int o = 0; o < 4; ++o)
        if (o != d)
            for (double p : trains[o]) fixed.push_back(p - shift[o]);
    std::sort(fixed.begin(), fixed.end());
    const double centre = shift[d];
    double best = unevenness(fixed, trains[d], centre, s), bestShift = centre;
    for (double k = -reach; k <= reach + 1e-9; k += step) {
        const double trial = centre + k * s;
        if (std::fabs(trial) > kMaxShift * s) continue;
        const double c = unevenness(fixed, trains[d], trial, s);
        if (c < best - 1e-9) best = c, bestShift = trial;
    }
    shift[d] = bestShift;
}

// The unevenness of the whole merged train with every dye at its shift.
double totalUnevenness(const DyeTrains& trains, double s, const double shift[4],
                       std::vector<double>& fixed) {
    fixed.clear();
    for (int o = 1; o < 4; ++o)
        for (double p : trains[o]) fixed.push_back(p - shift[o]);
    std::sort(fixed.begin(), fixed.end());
    return unevenness(fixed, trains[0], shift[0], s);
}

// The first window's shifts, found without a start to descend from: each
// dye's shift against C modulo a spacing, from the merged train of the two
// (which leaves the slots of the other dyes empty, so only the fraction of
// a spacing shows); then the whole spacings, from the merged train of all
// four, where a dye put a spacing off lands on its neighbours' places.
void firstShifts(const DyeTrains& trains, double s, double shift[4], std::vector<double>& fixed) {
    shift[0] = 0.0;
    for (int d = 1; d < 4; ++d) {
        double best = 1e300;
        for (double k = -0.5; k < 0.5; k += 2.0 * kShiftStep) {
            const double c = unevenness(trains[0], trains[d], k * s, s);
            if (c < best) best = c, shift[d] = k * s;
        }
    }
    const double fraction[4] = {0.0, shift[1], shift[2], shift[3]};
    double best = 1e300;
    for (int whole = 0; whole < 27; ++whole) {
        double trial[4] = {0.0, fraction[1] + (whole % 3 - 1) * s,
                           fraction[2] + (whole / 3 % 3 - 1) * s,
                           fraction[3] + (whole / 9 - 1) * s};
        const double mean = 0.25 * (trial[1] + trial[2] + trial[3]);
        bool bounded = true;
        for (double& t : trial) bounded = bounded && std::fabs(t -= mean) <= kMaxShift * s;
        if (!bounded) continue;
        const double c = totalUnevenness(trains, s, trial, fixed);
        if (c < best) best = c, std::copy(trial, trial + 4, shift);
    }
}

// A start whose descent leaves a train at least this much more even than
// the descent from no shift replaces it: two such near ties in a first
// window are noise (stray peaks, a missing base), while an alias leaves a
// collision at every base its dyes land on.
constexpr double kClearlyMoreEven = 0.8;

// Coordinate descent over the dyes' shifts (in samples). The first window
// descends with full reach from no shift and from firstShifts' guess and
// keeps the latter only when clearly more even; every later window makes
// one coarse pass around the window before's shifts. Then a fine pass.
void fitWindow(const DyeTrains& trains, double s, bool first, double shift[4],
               std::vector<double>& fixed) {
    auto descend = [&](double at[4], double reach, int rounds) {
        for (int round = 0; round < rounds; ++round)
            for (int d = 0; d < 4; ++d) searchDye(trains, s, at, d, reach, 2.0 * kShiftStep, fixed);
    };
    if (first) {
        double guess[4];
        firstShifts(trains, s, guess, fixed);
        descend(guess, 2.0 * kMaxShift, 2);
        std::fill(shift, shift + 4, 0.0);
        descend(shift, 2.0 * kMaxShift, 2);
        if (totalUnevenness(trains, s, guess, fixed) <
            kClearlyMoreEven * totalUnevenness(trains, s, shift, fixed))
            std::copy(guess, guess + 4, shift);
    } else {
        descend(shift, kFollowReach, 1);
    }
    for (int d = 0; d < 4; ++d) searchDye(trains, s, shift, d, kShiftStep, 0.5 * kShiftStep, fixed);
    const double mean = 0.25 * (shift[0] + shift[1] + shift[2] + shift[3]);
    for (int d = 0; d < 4; ++d) shift[d] -= mean;
}

}  // namespace

void learnMobility(std::vector<Peak>& peaks, double spacing, RunShape& shape) {
    for (Curve& c : shape.mobility) c = Curve();
    std::vector<double> xs, scratch, fixed;
    std::array<std::vector<double>, 4> ys;
    DyeTrains trains;
    double shift[4] = {0.0, 0.0, 0.0, 0.0};
    size_t first = 0;
    for (double from = peaks.empty() ? 0.0 : peaks.front().pos;
         !peaks.empty() && from < peaks.back().pos;) {
        const double s = shape.spacing.empty() ? spacing : shape.spacing.at(from);
        const double to = from + kWindowBases * s;
        while (first < peaks.size() && peaks[first].pos < from) ++first;
        scratch.clear();
        for (size_t i = first; i < peaks.size() && peaks[i].pos < to; ++i)
            scratch.push_back(peaks[i].height);
        const double strong = kStrongFraction * quantileOf(scratch, 0.75);
        for (std::vector<double>& t : trains) t.clear();
        for (size_t i = first; i < peaks.size() && peaks[i].pos < to; ++i)
            if (peaks[i].height >= strong) trains[peaks[i].dye].push_back(peaks[i].pos);
        size_t fewest = trains[0].size();
        for (const std::vector<double>& t : trains) fewest = std::min(fewest, t.size());
        if (fewest >= 3) {
            fitWindow(trains, s, xs.empty(), shift, fixed);
            xs.push_back(0.5 * (from + to));
            for (int d = 0; d < 4; ++d) ys[d].push_back(shift[d]);
        }
        from += 0.5 * kWindowBases * s;
    }
    if (xs.empty()) {
        for (Peak& p : peaks) p.corr = p.pos;
        return;
    }
    for (int d = 0; d < 4; ++d) {
        shape.mobility[d].x = xs;
        shape.mobility[d].y = smoothRobust(ys[d], 2);
    }
    // Bounded, and mean zero again after smoothing.
    for (size_t k = 0; k < xs.size(); ++k) {
        const double bound =
            kMaxShift * (shape.spacing.empty() ? spacing : shape.spacing.at(xs[k]));
        double mean = 0.0;
        for (int d = 0; d < 4; ++d) mean += 0.25 * shape.mobility[d].y[k];
        for (int d = 0; d < 4; ++d)
            shape.mobility[d].y[k] =
                std::max(-bound, std::min(bound, shape.mobility[d].y[k] - mean));
    }
    for (Peak& p : peaks) p.corr = p.pos - shape.mobility[p.dye].at(p.pos);
}

}  // namespace kwcall
