// The run's local shape: base spacing, the height of a typical base and the
// width of a single base's peak, each a smooth function along the run. The
// spacing of capillary sequencing runs grows by about a factor of two from
// the first bases to the last, and the peaks widen and weaken with it, so
// every decision of the caller is taken against these local values.
#include <algorithm>
#include <cmath>

#include "calling/calling.h"
#include "common/wide_vectors.h"

namespace kw::detail {

double Curve::at(double pos) const {
    if (x.empty()) return 0.0;
    if (!(pos > x.front())) return y.front();
    if (pos >= x.back()) return y.back();
    // The knot after pos (std::upper_bound's), found from where it would
    // lie if the knots were evenly spaced, as they nearly are (one per
    // window of the run), in a step or two: the caller asks tens of
    // thousands of times. x.front() < pos < x.back() here, so the walks
    // stop inside the knots.
    const double* knot = x.data();
    const long last = static_cast<long>(x.size()) - 1;
    long k = static_cast<long>((pos - knot[0]) / (knot[last] - knot[0]) * last);
    k = std::min(last, std::max(1L, k));
    while (knot[k] <= pos) ++k;
    while (knot[k - 1] > pos) --k;
    const double f = (pos - x[k - 1]) / (x[k] - x[k - 1]);
    return y[k - 1] + f * (y[k] - y[k - 1]);
}

std::vector<double> smoothRobust(const std::vector<double>& y, int half) {
    const int n = static_cast<int>(y.size());
    // The window y[from, to) is kept sorted as it slides: the value entering
    // is inserted, the one leaving erased.
    std::vector<double> med(y.size()), window;
    int from = 0, to = 0;
    for (int i = 0; i < n; ++i) {
        for (; to < std::min(n, i + half + 1); ++to)
            window.insert(std::upper_bound(window.begin(), window.end(), y[to]), y[to]);
        for (; from < std::max(0, i - half); ++from) {
            const auto leaving = std::lower_bound(window.begin(), window.end(), y[from]);
            if (leaving != window.end()) window.erase(leaving);
        }
        med[i] = window[kw::detail::nearestRank(window.size(), 0.5)];
    }
    std::vector<double> out(y.size());
    for (int i = 0; i < n; ++i) {
        const int lo = std::max(0, i - 1), hi = std::min(n - 1, i + 1);
        double sum = 0.0;
        for (int k = lo; k <= hi; ++k) sum += med[k];
        out[i] = sum / (hi - lo + 1);
    }
    return out;
}

namespace {

// Windows of about 90 bases, half overlapping: long enough for a stable
// median, short against the drift of spacing and width along the run.
constexpr double kWindowBases = 90.0;

// Strong peaks are those of at least this fraction of the window's upper
// quartile height: true bases, not cross-talk remnants or shoulders.
constexpr double kStrongFraction = 0.25;

// How badly the gaps fit whole multiples of each of m trial spacings, whose
// inverses are inverse[0..m-1], into cost[0..m-1]: each gap's squared
// distance from its nearest multiple (at least one), per spacing it spans,
// capped so that a stray peak costs a bounded amount. The trial spacings are
// the inner loop, so that it runs four at a time in wide vectors; each
// trial's sum is still taken gap by gap in order. A gap spanning one spacing
// is divided by one, which leaves it exactly as it is.
KW_WIDE_VECTORS void latticeCosts(const std::vector<double>& gaps, const double* __restrict inverse,
                                  int m, double* __restrict cost) {
    std::fill(cost, cost + m, 0.0);
    for (double g : gaps)
        for (int j = 0; j < m; ++j) {
            const double u = g * inverse[j];
            const int nearest = static_cast<int>(u + 0.5);
            const double k = nearest > 1 ? nearest : 1;
            const double d = u - k, cap = 0.09 * k;
            cost[j] += (d * d < cap ? d * d : cap) / k;
        }
}

// Tries the spacings f[j] * expected in order: each whose lattice cost is
// strictly below the best so far becomes the best (`best`, costing
// `bestCost`), so of equal costs the earlier trial stays.
void tryFactors(const std::vector<double>& gaps, double expected, const std::vector<double>& f,
                double& best, double& bestCost) {
    std::vector<double> inverse(f.size()), cost(f.size());
    for (size_t j = 0; j < f.size(); ++j) inverse[j] = 1.0 / (f[j] * expected);
    latticeCosts(gaps, inverse.data(), static_cast<int>(f.size()), cost.data());
    for (size_t j = 0; j < f.size(); ++j)
        if (cost[j] < bestCost) bestCost = cost[j], best = f[j] * expected;
}

// The spacing whose whole multiples the gaps between consecutive strong
// peaks fit best, within -25 % .. +30 % of the expected one: a gap over a
// base the strong peaks skip counts as two spacings instead of being cast
// out, which late in a run, where weak bases abound, would leave the long
// gaps of the kept ones to drag a median up. A coarse grid, then a fine
// one around its best.
double latticeSpacing(const std::vector<double>& gaps, double expected) {
    double best = expected, bestCost = 0.0;
    const double one = 1.0 / expected;
    latticeCosts(gaps, &one, 1, &bestCost);
    std::vector<double> f;
    for (double x = 0.75; x <= 1.3 + 1e-9; x += 0.01) f.push_back(x);
    tryFactors(gaps, expected, f, best, bestCost);
    const double coarse = best / expected;
    f.clear();
    for (double x = -0.01; x <= 0.01 + 1e-9; x += 0.0025) f.push_back(coarse + x);
    tryFactors(gaps, expected, f, best, bestCost);
    return best;
}

struct WindowFigures {
    double centre = 0.0, spacing = 0.0, height = 0.0, sigma = 0.0;
};

// The figures of the peaks [first, last) (sorted by corr), given the
// spacing expected there; refine: the spacing from the gaps' whole
// multiples, else the median of the gaps near the expected one.
bool windowFigures(const std::vector<Peak>& peaks, size_t first, size_t last, double expected,
                   bool refine, WindowFigures& out, std::vector<double>& scratch) {
    if (last - first < 8) return false;
    scratch.clear();
    for (size_t i = first; i < last; ++i) scratch.push_back(peaks[i].height);
    const double top = quantileOf(scratch, 0.75);
    const double strong = kStrongFraction * top;
    scratch.clear();
    double prev = -1.0;
    for (size_t i = first; i < last; ++i) {
        if (!(peaks[i].height >= strong)) continue;
        if (prev >= 0.0) {
            const double g = peaks[i].corr - prev;
            if (refine || (g > 0.6 * expected && g < 1.5 * expected)) scratch.push_back(g);
        }
        prev = peaks[i].corr;
    }
    if (scratch.size() < 5) return false;
    out.spacing = refine ? latticeSpacing(scratch, expected) : medianOf(scratch);
    // The first pass only guides the second, whose windows give the
    // curves: its widths would not be read.
    if (refine) {
        scratch.clear();
        for (size_t i = first; i < last; ++i)
            if (peaks[i].height >= strong && peaks[i].sigma > 0.0)
                scratch.push_back(peaks[i].sigma);
        // The narrower half: single bases, not humps of repeated bases.
        out.sigma = quantileOf(scratch, 0.35);
    }
    out.height = top;
    out.centre = 0.5 * (peaks[first].corr + peaks[last - 1].corr);
    return true;
}

void setCurve(Curve& c, const std::vector<double>& x, const std::vector<double>& y) {
    c.x = x;
    c.y = smoothRobust(y, 2);
}

// The spacing of a run changes slowly: late in a read it falls by about a
// tenth every 60 bases (at most 12 % on the training reads' own calls).
// Where the fitted peaks stop being bases one for one (a broad late base
// fitted in two or three pieces, weak bases left out), the measured spacing
// can drop or stall by a quarter within one window, and the bases matched
// at it gain or lose one in three or four. From the read's first third,
// where its bases are clean, outwards, each knot may differ from the one
// before it by at most this share per base between them.
constexpr double kMaxSpacingChangePerBase = 0.0015;

void limitSpacingChange(Curve& c) {
    const int n = static_cast<int>(c.x.size());
    if (n < 3) return;
    const int anchor = n / 3;
    for (int step : {1, -1})
        for (int k = anchor + step; k >= 0 && k < n; k += step) {
            // A share of the spacing per base, over the |dx| / spacing bases
            // between the knots: that share of |dx| samples.
            const double before = c.y[k - step];
            const double most = kMaxSpacingChangePerBase * std::fabs(c.x[k] - c.x[k - step]);
            c.y[k] = std::clamp(c.y[k], before - most, before + most);
        }
}

// The first window's figure holds at its centre, some 45 bases into the
// read, and the running median leans it on the windows after it; a curve
// constant before it would give the first bases the spacing of bases 50 to
// 100, while the spacing grows fastest there (by a fifth over the first
// hundred bases of most training reads), and the bases matched at it lose
// one in ten. So the curve is carried back to the first peak along the
// slope of its first knots (about 180 bases), moving the value there by
// at most a quarter of the first knot's.
constexpr int kStartSlopeKnots = 4;
constexpr double kMaxStartChange = 0.25;

void extendToStart(Curve& c, double first) {
    const int n = static_cast<int>(c.x.size());
    if (n <= kStartSlopeKnots || !(first < c.x[0])) return;
    const double slope = (c.y[kStartSlopeKnots] - c.y[0]) / (c.x[kStartSlopeKnots] - c.x[0]);
    const double y = std::clamp(c.y[0] + slope * (first - c.x[0]), (1.0 - kMaxStartChange) * c.y[0],
                                (1.0 + kMaxStartChange) * c.y[0]);
    c.x.insert(c.x.begin(), first);
    c.y.insert(c.y.begin(), y);
}

}  // namespace

void measureRun(const std::vector<Peak>& peaks, double spacing, RunShape& shape) {
    std::vector<double> xs, sp, hs, ws, scratch;
    // Two passes: the first takes the median of the gaps near the run's
    // measured spacing, the second fits the gaps' whole multiples near the
    // spacing the first found there.
    for (int pass = 0; pass < 2; ++pass) {
        xs.clear();
        sp.clear();
        hs.clear();
        ws.clear();
        size_t first = 0;
        for (double from = peaks.empty() ? 0.0 : peaks.front().corr;
             !peaks.empty() && from < peaks.back().corr;) {
            const double expected = pass == 0 ? spacing : shape.spacing.at(from);
            const double to = from + kWindowBases * expected;
            while (first < peaks.size() && peaks[first].corr < from) ++first;
            size_t last = first;
            while (last < peaks.size() && peaks[last].corr < to) ++last;
            WindowFigures f;
            if (windowFigures(peaks, first, last, expected, pass == 1, f, scratch)) {
                xs.push_back(f.centre);
                sp.push_back(f.spacing);
                hs.push_back(f.height);
                ws.push_back(f.sigma);
            }
            from += 0.5 * kWindowBases * expected;
        }
        if (xs.empty()) {
            // Too few peaks for windows: the measured spacing throughout.
            scratch.clear();
            for (const Peak& p : peaks) scratch.push_back(p.height);
            const double h = quantileOf(scratch, 0.75);
            scratch.clear();
            for (const Peak& p : peaks) scratch.push_back(p.sigma);
            const double s = quantileOf(scratch, 0.35);
            shape.spacing = Curve{{0.0}, {spacing}};
            shape.height = Curve{{0.0}, {h}};
            shape.sigma = Curve{{0.0}, {s}};
            return;
        }
        setCurve(shape.spacing, xs, sp);
    }
    limitSpacingChange(shape.spacing);
    extendToStart(shape.spacing, peaks.front().corr);
    setCurve(shape.height, xs, hs);
    setCurve(shape.sigma, xs, ws);
}

bool spacingFromBases(const std::vector<kw::BaseCall>& bases, RunShape& shape) {
    // Forty bases: long enough that a base too many or too few moves the
    // spacing by a fortieth, short against its drift along the run.
    constexpr size_t kSpan = 40;
    Curve c;
    for (size_t k = 0; k + kSpan < bases.size(); k += kSpan / 4) {
        const double from = bases[k].correctedPosition, to = bases[k + kSpan].correctedPosition;
        c.x.push_back(0.5 * (from + to));
        c.y.push_back((to - from) / kSpan);
    }
    if (c.x.size() < 5) return false;
    c.y = smoothRobust(c.y, 2);
    limitSpacingChange(c);
    shape.spacing = std::move(c);
    return true;
}

}  // namespace kw::detail
