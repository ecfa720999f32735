// Dye mobility. The four dyes drag their fragments through the polymer at
// slightly different speeds, so in raw data each dye's peaks lie a little
// early or late against the others, by an amount that drifts slowly along
// the run. Left in, it puts neighbouring bases in swapped order. Instrument
// files only name the vendor's mobility table, so the offsets are learned
// from the run itself: in overlapping windows, the shift of each dye that
// makes the merged train of strong peaks most evenly spaced.
#include <algorithm>
#include <cmath>
#include <limits>

#include "calling/calling.h"

namespace kw::detail {
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

// The cost of one gap between neighbouring peaks for the base spacing whose
// reciprocal is perSpacing: its distance from a whole number of spacings,
// squared and capped so that a missing or extra peak costs no more than a
// bounded amount.
inline double gapCost(double gap, double perSpacing) {
    const double u = gap * perSpacing;
    const double k = u < 1.5 ? 1.0 : std::floor(u + 0.5);
    return std::min((u - k) * (u - k), 0.25);
}

// A train held where it is while one dye's shift is searched: its positions
// (ascending, then +infinity, which ends every walk along it) and the cost
// of the gap after each, which a trial shift that puts no peak of the
// searched dye inside that gap leaves as it is.
struct FixedTrain {
    std::vector<double> pos;
    std::vector<double> gapAfter;  // cost of the gap pos[i] .. pos[i + 1]
    std::vector<double> merged;    // room for merging in another train
};

// A set of dyes, one bit per trace code.
constexpr unsigned kAllDyes = 0xf;
constexpr unsigned dyeBit(int d) {
    return 1u << d;
}

// Merges `train` shifted by -shift (both ascending) into `into`.
void mergeShifted(const std::vector<double>& train, double shift, std::vector<double>& into,
                  std::vector<double>& merged) {
    merged.resize(into.size() + train.size());
    auto out = merged.begin();
    auto next = into.cbegin();
    for (double t : train) {
        const double p = t - shift;
        for (; next != into.cend() && *next < p; ++next) *out++ = *next;
        *out++ = p;
    }
    std::copy(next, into.cend(), out);
    into.swap(merged);
}

// Holds the dyes of `dyes` fixed at their shifts: their trains merged.
void holdFixed(const DyeTrains& trains, const double shift[4], unsigned dyes, double s,
               FixedTrain& fixed) {
    std::vector<double>& pos = fixed.pos;
    pos.clear();
    for (int o = 0; o < 4; ++o)
        if (dyes & dyeBit(o)) mergeShifted(trains[o], shift[o], pos, fixed.merged);
    fixed.gapAfter.resize(pos.empty() ? 0 : pos.size() - 1);
    const double perSpacing = 1.0 / s;
    for (size_t i = 0; i + 1 < pos.size(); ++i)
        fixed.gapAfter[i] = gapCost(pos[i + 1] - pos[i], perSpacing);
    pos.push_back(std::numeric_limits<double>::infinity());
}

constexpr double kNoLimit = std::numeric_limits<double>::infinity();

// How unevenly the merged train of `fixed` and `moving` shifted by -shift
// (ascending) is spaced: the sum of its gaps' costs, in train order. Both
// stay sorted under the shift, so they are merged rather than sorted. The
// sum only grows, so once it reaches `limit` (a cost the search would not
// take) the part summed so far is returned.
double unevenness(const FixedTrain& fixed, const std::vector<double>& moving, double shift,
                  double s, double limit) {
    const std::vector<double>& f = fixed.pos;
    const double perSpacing = 1.0 / s;  // a product is cheaper than a quotient per gap
    size_t i = 0;
    double cost = 0.0, previous = 0.0;
    bool started = false;
    // The fixed peaks before `until` join the train.
    auto takeFixed = [&](double until) {
        if (!(f[i] < until)) return;
        if (started) cost += gapCost(f[i] - previous, perSpacing);
        for (++i; f[i] < until; ++i) cost += fixed.gapAfter[i - 1];
        previous = f[i - 1];
        started = true;
    };
    for (double m : moving) {
        const double p = m - shift;
        takeFixed(p);
        if (started) cost += gapCost(p - previous, perSpacing);
        if (cost >= limit) return cost;
        previous = p;
        started = true;
    }
    takeFixed(kNoLimit);
    return cost;
}

// The best shift of dye d on a grid of `step` spacings within `reach`
// spacings of its current shift, the other dyes held where they are.
void searchDye(const DyeTrains& trains, double s, double shift[4], int d, double reach, double step,
               FixedTrain& fixed) {
    holdFixed(trains, shift, kAllDyes & ~dyeBit(d), s, fixed);
    const double centre = shift[d];
    double best = unevenness(fixed, trains[d], centre, s, kNoLimit), bestShift = centre;
    for (double k = -reach; k <= reach + 1e-9; k += step) {
        // The grid's middle point is the current shift, already costed: it
        // cannot beat itself.
        if (std::fabs(k) < 0.5 * step) continue;
        const double trial = centre + k * s;
        if (std::fabs(trial) > kMaxShift * s) continue;
        const double c = unevenness(fixed, trains[d], trial, s, best - 1e-9);
        if (c < best - 1e-9) best = c, bestShift = trial;
    }
    shift[d] = bestShift;
}

// The unevenness of the whole merged train with every dye at its shift
// (summed up to `limit`, as unevenness does).
double totalUnevenness(const DyeTrains& trains, double s, const double shift[4], FixedTrain& fixed,
                       double limit = kNoLimit) {
    holdFixed(trains, shift, kAllDyes & ~dyeBit(0), s, fixed);
    return unevenness(fixed, trains[0], shift[0], s, limit);
}

// The first window's shifts, found without a start to descend from: each
// dye's shift against C modulo a spacing, from the merged train of the two
// (which leaves the slots of the other dyes empty, so only the fraction of
// a spacing shows); then the whole spacings, from the merged train of all
// four, where a dye put a spacing off lands on its neighbours' places.
// Returns the unevenness of the merged train at the shifts found.
double firstShifts(const DyeTrains& trains, double s, double shift[4], FixedTrain& fixed) {
    std::fill(shift, shift + 4, 0.0);
    holdFixed(trains, shift, dyeBit(0), s, fixed);
    for (int d = 1; d < 4; ++d) {
        double best = std::numeric_limits<double>::infinity();
        for (double k = -0.5; k < 0.5; k += 2.0 * kShiftStep) {
            const double c = unevenness(fixed, trains[d], k * s, s, best);
            if (c < best) best = c, shift[d] = k * s;
        }
    }
    const double fraction[4] = {0.0, shift[1], shift[2], shift[3]};
    double best = std::numeric_limits<double>::infinity();
    for (int whole = 0; whole < 27; ++whole) {
        double trial[4] = {0.0, fraction[1] + (whole % 3 - 1) * s,
                           fraction[2] + (whole / 3 % 3 - 1) * s,
                           fraction[3] + (whole / 9 - 1) * s};
        const double mean = 0.25 * (trial[1] + trial[2] + trial[3]);
        bool bounded = true;
        for (double& t : trial) bounded = bounded && std::fabs(t -= mean) <= kMaxShift * s;
        if (!bounded) continue;
        const double c = totalUnevenness(trains, s, trial, fixed, best);
        if (c < best) best = c, std::copy(trial, trial + 4, shift);
    }
    return best;
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
void fitWindow(const DyeTrains& trains, double s, bool first, double shift[4], FixedTrain& fixed) {
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

// One window's strong peaks per dye, its centre and spacing.
struct MobilityWindow {
    double centre = 0.0, spacing = 0.0;
    DyeTrains trains;
};

// The half-overlapping windows along the run (peaks sorted by pos) that
// hold at least three strong peaks of every dye.
std::vector<MobilityWindow> mobilityWindows(const std::vector<Peak>& peaks, double spacing,
                                            const RunShape& shape) {
    std::vector<MobilityWindow> windows;
    std::vector<double> scratch;
    size_t first = 0;
    for (double from = peaks.empty() ? 0.0 : peaks.front().pos;
         !peaks.empty() && from < peaks.back().pos;) {
        const double s = shape.spacing.empty() ? spacing : shape.spacing.at(from);
        const double to = from + kWindowBases * s;
        MobilityWindow w;
        w.spacing = s;
        w.centre = 0.5 * (from + to);
        while (first < peaks.size() && peaks[first].pos < from) ++first;
        scratch.clear();
        for (size_t i = first; i < peaks.size() && peaks[i].pos < to; ++i)
            scratch.push_back(peaks[i].height);
        const double strong = kStrongFraction * quantileOf(scratch, 0.75);
        for (size_t i = first; i < peaks.size() && peaks[i].pos < to; ++i)
            if (peaks[i].height >= strong) w.trains[peaks[i].dye].push_back(peaks[i].pos);
        size_t fewest = w.trains[0].size();
        for (const std::vector<double>& t : w.trains) fewest = std::min(fewest, t.size());
        if (fewest >= 3) windows.push_back(std::move(w));
        from += 0.5 * kWindowBases * s;
    }
    return windows;
}

// The window to search the offsets afresh in: of the windows from the
// read's start to a third of the way in, the one whose merged train falls
// most evenly into one ladder of bases (cost per gap at its first shifts).
// The first bases of a read are often saturated or crowded, and a dye put
// a whole spacing off there would be carried along the run; a second
// sequence (a heterozygous indel, an edited pool, a contaminant) sets in
// anywhere, and where two ladders overlap a dye put a spacing off lands on
// the other ladder's peaks and looks as even as the true offset. Both show
// as an uneven train, so neither is chosen while a clean stretch is there.
size_t anchorWindow(const std::vector<MobilityWindow>& windows, FixedTrain& fixed) {
    const size_t last = windows.size() / 3;
    size_t anchor = last;
    double evenest = std::numeric_limits<double>::infinity();
    for (size_t k = 0; k <= last; ++k) {
        const MobilityWindow& w = windows[k];
        size_t peaks = 0;
        for (const std::vector<double>& t : w.trains) peaks += t.size();
        double shift[4];
        const double perGap = firstShifts(w.trains, w.spacing, shift, fixed) / double(peaks - 1);
        if (perGap < evenest) evenest = perGap, anchor = k;
    }
    return anchor;
}

}  // namespace

void learnMobility(std::vector<Peak>& peaks, double spacing, RunShape& shape) {
    // A second round starts each window from the first round's offsets:
    // the local spacing changes how even a train looks, not which whole
    // spacings the dyes lie apart.
    const std::array<Curve, 4> before = shape.mobility;
    const bool refine = !before[0].empty();
    for (Curve& c : shape.mobility) c = Curve();
    const std::vector<MobilityWindow> windows = mobilityWindows(peaks, spacing, shape);
    if (windows.empty()) {
        for (Peak& p : peaks) p.corr = p.pos;
        return;
    }
    // The offsets are searched afresh in one window of the read's first
    // third and followed from there window by window both ways (the last
    // third of a weak read may hold little but noise). A second round
    // starts every window from the first round's offsets, so its order of
    // windows does not matter.
    FixedTrain fixed;
    const size_t anchor = refine ? windows.size() / 3 : anchorWindow(windows, fixed);
    std::vector<double> xs(windows.size());
    std::array<std::vector<double>, 4> ys;
    for (std::vector<double>& y : ys) y.resize(windows.size());
    // Window k from the offsets of window `from` (itself for the anchor).
    auto fit = [&](size_t k, size_t from) {
        xs[k] = windows[k].centre;
        double shift[4];
        for (int d = 0; d < 4; ++d)
            shift[d] = refine ? before[d].at(xs[k]) : k == from ? 0.0 : ys[d][from];
        fitWindow(windows[k].trains, windows[k].spacing, k == from && !refine, shift, fixed);
        for (int d = 0; d < 4; ++d) ys[d][k] = shift[d];
    };
    fit(anchor, anchor);
    for (size_t k = anchor + 1; k < windows.size(); ++k) fit(k, k - 1);
    for (size_t k = anchor; k-- > 0;) fit(k, k + 1);
    // The running median steadies the offsets against a window's stray
    // fit, but at the first window it is taken over that window and the two
    // after it, where the offsets have already changed: over the first
    // hundred bases they change fastest (short fragments feel the dyes
    // most), and the median would hold the first bases at the offsets of
    // the windows centred 45 to 135 bases in. The first window keeps its
    // own offsets.
    for (int d = 0; d < 4; ++d) {
        shape.mobility[d].x = xs;
        shape.mobility[d].y = smoothRobust(ys[d], 2);
        if (!ys[d].empty()) shape.mobility[d].y.front() = ys[d].front();
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

}  // namespace kw::detail
