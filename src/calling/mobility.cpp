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

struct Dot {
    double pos;
    int dye;
};

// How unevenly the dots (shifted per dye) are spaced, for a base spacing s:
// each gap's distance from a whole number of spacings, squared and capped so
// that a missing or extra peak costs no more than a bounded amount.
double unevenness(const std::vector<Dot>& dots, const double shift[4], double s,
                  std::vector<double>& moved) {
    moved.resize(dots.size());
    for (size_t i = 0; i < dots.size(); ++i) moved[i] = dots[i].pos - shift[dots[i].dye];
    std::sort(moved.begin(), moved.end());
    double cost = 0.0;
    for (size_t i = 1; i < moved.size(); ++i) {
        const double u = (moved[i] - moved[i - 1]) / s;
        const double k = std::max(1.0, std::round(u));
        cost += std::min((u - k) * (u - k), 0.25);
    }
    return cost;
}

// Coordinate descent over the dyes' shifts (in samples) from `shift`.
void fitWindow(const std::vector<Dot>& dots, double s, double shift[4],
               std::vector<double>& moved) {
    const int steps = static_cast<int>(kMaxShift / kShiftStep);
    for (int round = 0; round < 3; ++round)
        for (int d = 0; d < 4; ++d) {
            double best = unevenness(dots, shift, s, moved), bestShift = shift[d];
            for (int k = -steps; k <= steps; ++k) {
                shift[d] = k * kShiftStep * s;
                const double c = unevenness(dots, shift, s, moved);
                if (c < best - 1e-9) best = c, bestShift = shift[d];
            }
            shift[d] = bestShift;
        }
    const double mean = 0.25 * (shift[0] + shift[1] + shift[2] + shift[3]);
    for (int d = 0; d < 4; ++d) shift[d] -= mean;
}

}  // namespace

void learnMobility(std::vector<Peak>& peaks, double spacing, RunShape& shape) {
    for (Curve& c : shape.mobility) c = Curve();
    std::vector<double> xs, scratch, moved;
    std::array<std::vector<double>, 4> ys;
    std::vector<Dot> dots;
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
        dots.clear();
        int perDye[4] = {0, 0, 0, 0};
        for (size_t i = first; i < peaks.size() && peaks[i].pos < to; ++i)
            if (peaks[i].height >= strong) {
                dots.push_back({peaks[i].pos, peaks[i].dye});
                ++perDye[peaks[i].dye];
            }
        if (*std::min_element(perDye, perDye + 4) >= 3) {
            fitWindow(dots, s, shift, moved);
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
