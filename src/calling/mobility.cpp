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

// Windows of about 60 bases, half overlapping: enough peaks of every dye
// for a stable shift, short against the drift.
constexpr double kWindowBases = 60.0;
// Offsets beyond this fraction of a base spacing are not mobility: the
// train would then be matched one base off.
constexpr double kMaxShift = 0.45;
// Grid of trial shifts, in base spacings.
constexpr double kShiftStep = 0.025;
// Strong peaks: at least this fraction of the window's upper quartile.
constexpr double kStrongFraction = 0.3;

// The strong peaks of a window, per dye, in ascending position.
using DyeTrains = std::array<std::vector<double>, 4>;

// How unevenly the peaks (shifted per dye) are spaced, for a base spacing s:
// each gap's distance from a whole number of spacings, squared and capped so
// that a missing or extra peak costs no more than a bounded amount. The
// shifted trains stay sorted, so they are merged rather than sorted.
double unevenness(const DyeTrains& trains, const double shift[4], double s) {
    size_t at[4] = {0, 0, 0, 0};
    double cost = 0.0, previous = 0.0;
    bool first = true;
    for (;;) {
        int next = -1;
        double pos = 0.0;
        for (int d = 0; d < 4; ++d) {
            if (at[d] >= trains[d].size()) continue;
            const double p = trains[d][at[d]] - shift[d];
            if (next < 0 || p < pos) next = d, pos = p;
        }
        if (next < 0) return cost;
        ++at[next];
        if (!first) {
            const double u = (pos - previous) / s;
            const double k = u < 1.5 ? 1.0 : std::floor(u + 0.5);
            cost += std::min((u - k) * (u - k), 0.25);
        }
        first = false;
        previous = pos;
    }
}

// The best shift of dye d on a grid of `step` spacings within `reach`
// spacings of its current shift, the others held.
void searchDye(const DyeTrains& trains, double s, double shift[4], int d, double reach,
               double step) {
    const double centre = shift[d];
    double best = unevenness(trains, shift, s), bestShift = centre;
    for (double k = -reach; k <= reach + 1e-9; k += step) {
        const double trial = centre + k * s;
        if (std::fabs(trial) > kMaxShift * s) continue;
        shift[d] = trial;
        const double c = unevenness(trains, shift, s);
        if (c < best - 1e-9) best = c, bestShift = trial;
    }
    shift[d] = bestShift;
}

// Coordinate descent over the dyes' shifts (in samples) from `shift`: a
// coarse pass over the whole range, then a fine one around the result.
void fitWindow(const DyeTrains& trains, double s, double shift[4]) {
    for (int round = 0; round < 2; ++round)
        for (int d = 0; d < 4; ++d)
            searchDye(trains, s, shift, d, 2.0 * kMaxShift, 2.0 * kShiftStep);
    for (int d = 0; d < 4; ++d) searchDye(trains, s, shift, d, kShiftStep, 0.5 * kShiftStep);
    const double mean = 0.25 * (shift[0] + shift[1] + shift[2] + shift[3]);
    for (int d = 0; d < 4; ++d) shift[d] -= mean;
}

}  // namespace

void learnMobility(std::vector<Peak>& peaks, double spacing, RunShape& shape) {
    for (Curve& c : shape.mobility) c = Curve();
    std::vector<double> xs, scratch;
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
            fitWindow(trains, s, shift);
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
