// Gaussian peak fitting of one event: an initial estimate read off the humps,
// optionally refined by damped Gauss-Newton least squares with one common
// base, written out as KwPeak records sorted by centre.
#include <algorithm>
#include <cmath>
#include <iterator>
#include <numeric>
#include <utility>
#include <vector>

#include "common/gaussian.h"
#include "kwsignal/containers.h"
#include "kwsignal/events.h"

namespace {

// e^(-1/2) to seven decimals: a Gaussian's flank is this far down at one
// standard deviation from its centre.
constexpr double kFlankLevel = 0.6065306;

// Fraction of each solved Gauss-Newton step that is applied.
constexpr double kStepFraction = 0.7;

// One peak of the fit: height, event-local centre and width.
struct Gaussian {
    double h, mu, sigma;
};

// Working set of the fit, its peaks in one allocation: most fits are of a
// single peak and take a few microseconds, of which an allocation apiece
// for heights, centres and widths would be a good part.
struct Gaussians {
    std::vector<Gaussian> peaks;
    int size() const { return static_cast<int>(peaks.size()); }
    Gaussian& operator[](int k) { return peaks[static_cast<size_t>(k)]; }
    const Gaussian& operator[](int k) const { return peaks[static_cast<size_t>(k)]; }
    void reserve(int n) { peaks.reserve(static_cast<size_t>(std::max(0, n))); }
    void add(double height, double centre, double width) {
        peaks.push_back({height, centre, width});
    }
};

// One Gaussian read off a hump with apex a and flank point x (where its
// rising flank comes closest to kFlankLevel of the apex sample).
//
// The width follows from how far the flank sample lies below the apex. That
// needs 0 < sample[x] < apex sample: a flank sample at or below zero, or a hump
// not above zero, has no logarithm to take, and is treated like a hump whose
// flank point could not be found: width 1, centre one past the apex.
void estimateHump(const KwEvent& ev, int a, int x, Gaussians& g) {
    const double h = ev[a];
    if (x < a && ev[x] < h && ev[x] > 0.0) {
        const double sigma = (a - x) / std::sqrt(2.0 * std::log(h / ev[x]));
        if (std::isfinite(sigma) && sigma > 0.0) {
            g.add(h, a, sigma);
            return;
        }
    }
    g.add(h, a + 1.0, 1.0);
}

// Shares the surplus peaks (n peaks wanted, fewer humps) among the humps,
// one at a time to the currently highest hump, and lays the peaks out hump
// by hump; a hump carrying m peaks spreads them symmetrically about its
// centre, the outermost at +-(sqrt(m) - 1) times its reduced width.
Gaussians shareSurplus(Gaussians humps, int n) {
    if (humps.size() == n) return humps;
    Gaussians reduced = humps;
    std::vector<int> count(humps.size(), 1);
    for (int extra = n - humps.size(); extra > 0; --extra) {
        // With no hump above zero any hump may take the peak: the first does.
        int pick = 0;
        double best = 0.0;
        for (int k = 0; k < humps.size(); ++k) {
            if (reduced[k].h > best) {
                best = reduced[k].h;
                pick = k;
            }
        }
        const double c = count[pick];
        const double factor = std::sqrt(c / (c + 1.0));
        reduced[pick].h *= factor;
        reduced[pick].sigma *= factor;
        ++count[pick];
    }

    Gaussians peaks;
    peaks.reserve(n);
    for (int k = 0; k < humps.size(); ++k) {
        const int m = count[k];
        if (m == 1) {
            peaks.add(reduced[k].h, reduced[k].mu, reduced[k].sigma);
            continue;
        }
        const double spacing = 2.0 * (std::sqrt(1.0 * m) - 1.0) * reduced[k].sigma / (m - 1.0);
        for (int j = 0; j < m; ++j)
            peaks.add(reduced[k].h, reduced[k].mu + (j - (m - 1.0) / 2.0) * spacing,
                      reduced[k].sigma);
    }
    return peaks;
}

// The initial estimate shared by both fits. flank(value, lo, hi) is the
// event's crossing search. False when there is nothing to fit: no samples,
// no hump, or no peak asked for (the records are then left as they are).
// Humps beyond the number of peaks asked for are not used.
template <class FlankSearch>
bool initialEstimate(const KwEvent& ev, FlankSearch flank, Gaussians& peaks) {
    const int n = ev.getMinNumPeaks();
    if (n < 1 || ev.dataExist() == 0 || ev.getFisrtHump() == nullptr) return false;
    Gaussians humps;
    humps.reserve(std::min(n, ev.getNumHumps()));
    for (const KwHump* hp = ev.getFisrtHump(); hp != nullptr && humps.size() < n;
         hp = hp->getNext()) {
        const int a = hp->getApexLocatn();
        const int x = flank(kFlankLevel * ev[a], hp->getValleyLocatn(), a);
        estimateHump(ev, a, x, humps);
    }
    peaks = shareSurplus(std::move(humps), n);
    return true;
}

// Limits a relative step to [-0.5, 2] times the current value, applies it
// and keeps the result at least 1.0.
double limitedUpdate(double value, double step) {
    step = std::min(step, 2.0 * value);
    step = std::max(step, -0.5 * value);
    value += step;
    return value < 1.0 ? 1.0 : value;
}

// Damped Gauss-Newton refinement of the peaks and the common base (at most
// eight updates). Returns the relative residual of the last pass.
class GaussNewton {
public:
    GaussNewton(const KwEvent& event, Gaussians& peaks, double& commonBase)
        : ev(event),
          g(peaks),
          base(commonBase),
          n(peaks.size()),
          dim(3 * n),
          normal(0, dim, 0, dim),
          rhs(0, dim),
          step(0, dim) {
        // Each working array's length, then the arrays carved out of one
        // zeroed allocation in that order.
        const size_t params = dim + 1;
        const size_t samples = std::max(0, event.getOuterWidth());
        const size_t widths = n;
        const size_t lengths[] = {params,  params * (params + 1) / 2, widths, widths,
                                  samples, params * samples};
        double** arrays[] = {&damping, &products, &squares, &cubes, &residuals, &derivatives};
        scratch.assign(std::accumulate(std::begin(lengths), std::end(lengths), size_t{0}), 0.0);
        double* next = scratch.data();
        for (size_t a = 0; a < std::size(lengths); ++a) {
            *arrays[a] = next;
            next += lengths[a];
        }
        // The damping (a diagonal) is fixed from the initial estimate. A
        // peak whose height is not above zero is damped as if it were 1.0
        // high, the least height the fit lets a peak keep.
        const double area = ev.getArea();
        const double w = ev.getOuterWidth();
        damping[0] = area / w;
        for (int k = 0; k < n; ++k) {
            const double h = g[k].h > 0.0 ? g[k].h : 1.0;
            damping[3 * k + 1] = area / w;
            damping[3 * k + 2] = (area / n) / h;
            damping[3 * k + 3] = (area / n) / h;
        }
    }
    // The working arrays point into the fit's own allocation.
    GaussNewton(const GaussNewton&) = delete;
    GaussNewton& operator=(const GaussNewton&) = delete;

    double run() {
        double ePrev = 9999.0;
        for (int updates = 0;;) {
            if (n == 1) {
                accumulate<1>();
            } else {
                accumulate<0>();
            }
            // An event without any signal (all samples zero) has no scale
            // for the residual: the initial estimate stands, residual 0.
            if (!(sumY2 > 0.0)) return 0.0;
            const double e = sumR2 / sumY2;
            const double improvement = (ePrev - e) / ePrev;
            ePrev = e;
            if (!(improvement >= 0.0)) return e;
            loadDampedNormal();
            step.beSolutionOf(normal, rhs, 0);
            if (!stepIsFinite()) return e;
            update();
            if (e < 0.01 || improvement <= 0.05) return e;
            if (++updates > 7) return e;
        }
    }

private:
    // The sums of a pass over the event's samples for the current
    // parameters: the two sums of squares, then the products of the normal
    // matrix (its upper triangle, row by row) and the right-hand side. The
    // derivatives at every sample are worked out first, each peak's shape
    // along the whole event by recurrence rather than by an exp() a sample.
    // A fit of one peak, by far the most common, sums into a working set of
    // fixed size (Peaks = 1) that the compiler keeps in registers; Peaks = 0
    // takes any number of peaks.
    template <int Peaks>
    void accumulate() {
        const int peaks = Peaks > 0 ? Peaks : n;
        const int size = 3 * peaks + 1;
        const int w = ev.getOuterWidth();
        for (int k = 0; k < peaks; ++k) {
            squares[k] = g[k].sigma * g[k].sigma;
            cubes[k] = squares[k] * g[k].sigma;
            kw::detail::gaussianSamples(g[k].mu, g[k].sigma, w, derivatives + 3 * k + 1, size);
        }
        sumR2 = 0.0;
        sumY2 = 0.0;
        for (int x = 0; x < w; ++x) {
            double* gr = derivatives + static_cast<size_t>(x) * size;
            const double y = ev[x];
            double model = base;
            gr[0] = 1.0;  // by the common base
            for (int k = 0; k < peaks; ++k) {
                const double d = x - g[k].mu;
                const double scaled = g[k].h * gr[3 * k + 1];
                model += scaled;
                gr[3 * k + 2] = scaled * d / squares[k];
                gr[3 * k + 3] = scaled * d * d / cubes[k];
            }
            const double r = y - model;
            residuals[x] = r;
            sumR2 += r * r;
            sumY2 += y * y;
        }
        constexpr int kFixed = 3 * Peaks + 1;
        double fixedSums[kFixed * (kFixed + 1) / 2] = {}, fixedRhs[kFixed] = {};
        double* sums = Peaks > 0 ? fixedSums : products;
        double* b = Peaks > 0 ? fixedRhs : &rhs(0);
        std::fill(sums, sums + size * (size + 1) / 2, 0.0);
        std::fill(b, b + size, 0.0);
        for (int x = 0; x < w; ++x) {
            // This sample's share: the upper triangle of gr gr' and r gr.
            const double* gr = derivatives + static_cast<size_t>(x) * size;
            double* p = sums;
            for (int i = 0; i < size; ++i) {
                for (int j = i; j < size; ++j) *p++ += gr[i] * gr[j];
                b[i] += residuals[x] * gr[i];
            }
        }
        if (Peaks > 0) {
            std::copy(sums, sums + size * (size + 1) / 2, products);
            std::copy(b, b + size, &rhs(0));
        }
    }

    // The normal matrix, symmetric, with the damping added to its diagonal.
    void loadDampedNormal() {
        const double* p = products;
        for (int i = 0; i <= dim; ++i) {
            normal(i, i) = *p++ + damping[i];
            for (int j = i + 1; j <= dim; ++j) normal(i, j) = normal(j, i) = *p++;
        }
    }

    bool stepIsFinite() const {
        for (int i = 0; i <= dim; ++i) {
            if (!std::isfinite(step(i))) return false;
        }
        return true;
    }

    // Applies kStepFraction of the solved step; centres stay inside the
    // event's inner span.
    void update() {
        const double lowest = ev.getInnerBounds(0) - ev.getOuterBounds(0);
        const double highest = ev.getInnerBounds(1) - ev.getOuterBounds(0);
        base += kStepFraction * step(0);
        for (int k = 0; k < n; ++k) {
            g[k].h = limitedUpdate(g[k].h, kStepFraction * step(3 * k + 1));
            g[k].mu += kStepFraction * step(3 * k + 2);
            g[k].mu = std::min(std::max(g[k].mu, lowest), highest);
            g[k].sigma = limitedUpdate(g[k].sigma, kStepFraction * step(3 * k + 3));
        }
    }

    const KwEvent& ev;
    Gaussians& g;
    double& base;
    const int n;
    const int dim;
    KwdbMatrix normal;
    KwdbVector rhs, step;
    // The working arrays share one allocation: a fit of one peak takes a
    // few microseconds, of which an allocation apiece would be a good part.
    std::vector<double> scratch;
    double* damping = nullptr;      // dim + 1: added to the normal matrix's diagonal
    double* products = nullptr;     // its upper triangle, row by row, undamped
    double* squares = nullptr;      // n: of each peak's width
    double* cubes = nullptr;        // n
    double* residuals = nullptr;    // at each sample
    double* derivatives = nullptr;  // dim + 1 at each sample, sample by sample
    double sumR2 = 0.0;
    double sumY2 = 0.0;
};

// Sorts records by centre (stable insertion sort) and spreads runs of
// exactly equal centres evenly between their neighbours (the event's ends
// at the front and back).
void sortAndSpread(KwPeak* peaks, int n) {
    for (int i = 1; i < n; ++i) {
        const KwPeak rec = peaks[i];
        int j = i;
        for (; j > 0 && rec.getLocatn() < peaks[j - 1].getLocatn(); --j) peaks[j] = peaks[j - 1];
        peaks[j] = rec;
    }
    for (int first = 0; first < n;) {
        int last = first;
        while (last + 1 < n && peaks[last + 1].getLocatn() == peaks[first].getLocatn()) ++last;
        if (last > first) {
            const double lo =
                first == 0 ? peaks[first].getStartPnt() : peaks[first - 1].getLocatn();
            const double hi = last == n - 1 ? peaks[last].getEndPnt() : peaks[last + 1].getLocatn();
            const double spacing = (hi - lo) / (last - first + 1);
            for (int j = first; j <= last; ++j)
                peaks[j].setLocatn(lo + (j - first + 0.5) * spacing);
        }
        first = last + 1;
    }
}

// Writes the working set into the records (centres become trace indexes),
// then sorts and spreads them.
void writePeaks(const KwEvent& ev, const Gaussians& g, double base, double variance,
                KwPeak* peaks) {
    for (int k = 0; k < g.size(); ++k) {
        KwPeak& p = peaks[k];
        p.setHeight(g[k].h);
        p.setLocatn(ev.getStartPnt() + g[k].mu);
        p.setSigma(g[k].sigma);
        p.setBase(base);
        p.setStartPnt(ev.getOuterBounds(0));
        p.setEndPnt(ev.getOuterBounds(1));
        p.setTraceCode(ev.getTraceCode());
        p.setVariance(variance);
    }
    sortAndSpread(peaks, g.size());
}

}  // namespace

void KwEvent::peakFit(KwPeak* peaks) const {
    Gaussians g;
    const auto flank = [this](double v, int lo, int hi) {
        return pointWithValueCloseTo(v, lo, hi);
    };
    if (!initialEstimate(*this, flank, g)) return;
    double base = 0.0;
    const double variance = GaussNewton(*this, g, base).run();
    writePeaks(*this, g, base, variance, peaks);
}

void KwEvent::peakFit1(KwPeak* peaks) const {
    Gaussians g;
    const auto flank = [this](double v, int lo, int hi) {
        return pointWithValueCloseTo(v, lo, hi);
    };
    if (!initialEstimate(*this, flank, g)) return;
    writePeaks(*this, g, 0.0, 0.0, peaks);
}
