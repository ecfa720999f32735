// The kernels whose arithmetic is ordered for speed, each checked against a
// plain implementation written here in the order its documentation gives,
// to a relative tolerance of 1e-9 (absolute 1e-9 x the data's magnitude
// near zero), on realistic and on edge inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <type_traits>
#include <vector>

#include "common/dominance.h"
#include "common/extremes.h"
#include "common/quantile.h"
#include "common/sample_index.h"
#include "common/symmetric_convolution.h"
#include "process/measure.h"
#include "synthetic.h"

namespace {

// |a - b| within 1e-9 of the larger of |a|, |b| and the data's magnitude.
void expectClose(double a, double b, double magnitude) {
    const double scale = std::max({std::fabs(a), std::fabs(b), magnitude});
    EXPECT_LE(std::fabs(a - b), 1e-9 * scale) << a << " vs " << b;
}

// The mean of the fullest bin of the finite values, bins of `width` counted
// from the smallest value, the lowest bin winning a tie; one bin when the
// width is not a finite positive number; 0 for no value.
double plainMode(std::vector<double> v, double width) {
    v.erase(std::remove_if(v.begin(), v.end(), [](double x) { return !std::isfinite(x); }),
            v.end());
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    const bool oneBin = !(width > 0.0) || !std::isfinite(width);
    double bestSum = 0.0, bestCount = 0.0;
    for (size_t i = 0; i < v.size();) {
        const double bin = oneBin ? 0.0 : std::floor((v[i] - v[0]) / width);
        double sum = 0.0, count = 0.0;
        for (; i < v.size() && (oneBin || std::floor((v[i] - v[0]) / width) == bin); ++i) {
            sum += v[i];
            count += 1.0;
        }
        if (count > bestCount) {
            bestCount = count;
            bestSum = sum;
        }
    }
    return bestSum / bestCount;
}

TEST(KernelsReference, MostProbableValueIsTheMeanOfTheFullestBin) {
    std::mt19937 rng(11);
    std::normal_distribution<double> ratio(0.3, 0.05), centred(0.0, 1.0);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<std::vector<double>> inputs;
    for (int n : {1, 7, 400, 5000}) {
        std::vector<double> v(n);
        for (double& x : v) x = ratio(rng);
        inputs.push_back(v);
    }
    std::vector<double> nearZero(3000);  // a mode close to zero
    for (double& x : nearZero) x = centred(rng);
    inputs.push_back(nearZero);
    inputs.push_back(std::vector<double>(50, 0.25));  // every value equal
    inputs.push_back({0.1, nan, 0.1, std::numeric_limits<double>::infinity(), 0.3});
    inputs.push_back({});
    for (const std::vector<double>& v : inputs) {
        const KwdbAry a(static_cast<int>(v.size()), v.data());
        for (double width : {0.02, 0.005, 1e-7, 10.0, 0.0, -1.0, nan})
            expectClose(a.mostProbableValue(width), plainMode(v, width), 1.0);
    }
}

TEST(KernelsReference, MostStrikingChannelLeavesUnitSampleVectors) {
    const std::vector<std::vector<double>> mixing = {
        {1, 0.2, 0.05, 0}, {0.25, 1, 0.2, 0.05}, {0, 0.3, 1, 0.2}, {0.05, 0, 0.25, 1}};
    auto rows = kwtest::mix(kwtest::pureDyes(3000, 4, kwtest::randomPeaks(3000, 4, 30.0, 3.0, 5)),
                            mixing, 2.0, 6);
    for (int i = 100; i < 110; ++i)  // zero vectors are left as they are
        for (auto& r : rows) r[i] = 0.0;
    KwCap cap = kwtest::makeCap(rows, 3.0);
    cap.setSignalStartPnt(20);
    cap.setSignalEndPnt(2900);
    std::vector<int> chosen(4, 0);
    const int picked = cap.getMostStrikingChnl(chosen.data());
    EXPECT_GE(picked, 0);
    for (int i = 0; i < 3000; ++i) {
        double sq = 0.0;
        for (int k = 0; k < 4; ++k) sq += rows[k][i] * rows[k][i];
        const double len = std::sqrt(sq);
        const bool inWindow = i >= 20 && i <= 2900 && len > 0.0;
        for (int k = 0; k < 4; ++k)
            expectClose(cap(k, i), inWindow ? rows[k][i] / len : rows[k][i], 1.0);
    }
    // Picked again from vectors already of unit length, the choice stands.
    std::vector<int> again(4, 0);
    EXPECT_EQ(cap.getMostStrikingChnl(again.data()), picked);
}

// The leading and the second channel read off the sample arrays are those
// read through the capillary, ties (quantised samples, many equal) and
// negative samples included.
TEST(KernelsReference, LeadingChannelsOnSampleArraysAreThoseOfTheCapillary) {
    std::mt19937 rng(12);
    std::uniform_int_distribution<int> level(-2, 3);
    std::vector<std::vector<double>> rows(4, std::vector<double>(500));
    for (auto& r : rows)
        for (double& v : r) v = level(rng);
    const KwCap cap = kwtest::makeCap(rows, 3.0);
    const std::vector<const double*> arrays = kw::detail::sampleRows(cap);
    for (int i = 0; i < 500; ++i) {
        const int d = kw::detail::dominantChannel(cap, i);
        EXPECT_EQ(kw::detail::dominantChannel(arrays, i), d) << i;
        for (double threshold : {-1.0, 0.0, 1.5})
            EXPECT_EQ(kw::detail::secondChannel(arrays, i, d, threshold),
                      kw::detail::secondChannel(cap, i, d, threshold))
                << i;
    }
}

// A trace fading gently along the run (20 segments of a minute or less,
// none beyond the bands that hold a segment's height): the envelope is the
// least-squares Legendre series through the segments' mean peak heights,
// evaluated at u = -1 + 2 i / (n - 1) point by point with LegPol, held at a
// tenth of its top, and every sample is divided by it over `height`.
TEST(KernelsReference, EnvelopeIsALegendreSeriesEvaluatedPointByPoint) {
    const int n = 6000, numSeg = 20, segLen = n / numSeg;
    std::vector<double> y(n, 5.0);
    for (double c = 30; c < n - 30; c += 12)
        kwtest::addGaussian(y, c, 1000.0 * std::exp(-c / 12000.0), 2.5);
    const KwTrace original = kwtest::traceOf(y, 3.0);
    KwXY seg(numSeg);
    double mean = 0.0;
    for (int k = 0; k < numSeg; ++k) {
        seg.x(k) = k + 0.5;
        seg.y(k) = original.averagedPkHeight(k * segLen, (k + 1) * segLen - 1, 0.300000001, 0.0);
        mean += seg.y(k) / numSeg;
    }
    for (int k = 0; k < numSeg; ++k) ASSERT_TRUE(seg.y(k) < 1.5 * mean && seg.y(k) > 0.6 * mean);
    for (int order : {1, 5}) {
        KwTrace t = original;
        t.setSignalStartPnt(0);
        t.setSignalEndPnt(n - 1);
        t.envelopeNormalize(order, 500.0, n - 1, 0.0);
        std::vector<double> coef(order + 1);
        ASSERT_EQ(seg.LegendreFit(order, coef.data(), -1.0 + 1.0 / numSeg, 1.0 - 1.0 / numSeg, 0),
                  1);
        std::vector<double> env(n, 0.0);
        for (int i = 0; i < n; ++i)
            for (int j = 0; j <= order; ++j)
                env[i] += coef[j] * LegPol(j, -1.0 + 2.0 * i / (n - 1));
        const double floorLevel = 0.1 * *std::max_element(env.begin(), env.end());
        for (int i = 0; i < n; ++i)
            expectClose(t[i], y[i] / (std::max(env[i], floorLevel) / 500.0), 500.0);
    }
}

// Gaussian elimination with partial pivoting and back substitution, as the
// peak fit's damped steps are solved.
std::vector<double> plainSolve(std::vector<std::vector<double>> a, std::vector<double> b) {
    const int n = static_cast<int>(b.size());
    for (int c = 0; c < n; ++c) {
        int p = c;
        for (int r = c + 1; r < n; ++r)
            if (std::fabs(a[r][c]) > std::fabs(a[p][c])) p = r;
        std::swap(a[p], a[c]);
        std::swap(b[p], b[c]);
        for (int r = c + 1; r < n; ++r) {
            const double f = a[r][c] / a[c][c];
            for (int j = c; j < n; ++j) a[r][j] -= f * a[c][j];
            b[r] -= f * b[c];
        }
    }
    for (int i = n - 1; i >= 0; --i) {
        for (int j = i + 1; j < n; ++j) b[i] -= a[i][j] * b[j];
        b[i] /= a[i][i];
    }
    return b;
}

TEST(KernelsReference, SmallSystemsSolveAsEliminationDoes) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int n : {1, 4, 7}) {
        for (int trial = 0; trial < 20; ++trial) {
            std::vector<std::vector<double>> a(n, std::vector<double>(n));
            std::vector<double> b(n);
            KwdbMatrix m(0, n - 1, 0, n - 1);
            KwdbVector rhs(0, n - 1), x;
            for (int r = 0; r < n; ++r) {
                for (int c = 0; c < n; ++c) m(r, c) = a[r][c] = u(rng) + (r == c ? 3.0 * n : 0.0);
                rhs(r) = b[r] = 1000.0 * u(rng);
            }
            ASSERT_EQ(x.beSolutionOf(m, rhs, 0), 1);
            const std::vector<double> want = plainSolve(a, b);
            for (int r = 0; r < n; ++r) expectClose(x(r), want[r], 1000.0);
        }
    }
    KwdbMatrix singular(0, 3, 0, 3);  // all zero: no solution, zeros out
    KwdbVector rhs(0, 3), x;
    rhs = 1.0;
    EXPECT_EQ(x.beSolutionOf(singular, rhs, 0), 0);
    for (int r = 0; r < 4; ++r) EXPECT_EQ(x(r), 0.0);
}

// out[u] = w(0, u) x[u] + w(1, u) (x[u - 1] + x[u + 1]) + ..., sample by
// sample, the offsets in increasing order.
std::vector<double> plainConvolution(const std::vector<double>& x, int margin, int count,
                                     int radius, const std::vector<double>& w, int stride) {
    std::vector<double> out(count);
    for (int u = 0; u < count; ++u) {
        const int at = margin + u;
        double acc = w[u * stride] * x[at];
        for (int k = 1; k <= radius; ++k) acc += w[k + u * stride] * (x[at - k] + x[at + k]);
        out[u] = acc;
    }
    return out;
}

// The symmetric convolution, in whatever vectors the processor runs, rounds
// every sample's sum exactly as the plain loop does: kernels of any radius,
// the same for all samples or each sample its own, stretches of any length.
TEST(KernelsReference, SymmetricConvolutionRoundsAsThePlainLoop) {
    std::mt19937 rng(8);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int radius = 0; radius <= 9; ++radius) {
        for (int count : {0, 1, 3, 4, 5, 17, 64, 301}) {
            std::vector<double> x(count + 2 * radius);
            for (double& v : x) v = 1000.0 * u(rng) + (rng() % 3 == 0 ? 1e-7 * u(rng) : 0.0);
            const int stride = radius + 1;
            std::vector<double> shared(stride), own(static_cast<size_t>(stride) * count);
            for (double& v : shared) v = u(rng);
            for (double& v : own) v = u(rng);
            std::vector<double> same(count), each(count);
            const double* xs = x.data() + radius;
            const double* sw = shared.data();
            const double* ow = own.data();
            kw::detail::convolveSymmetricFast(
                xs, count, radius, [=](int k, int) { return sw[k]; }, same.data());
            kw::detail::convolveSymmetricFast(
                xs, count, radius, [=](int k, int s) { return ow[k + s * stride]; }, each.data());
            std::vector<double> spread(shared);
            for (int s = 1; s < count; ++s)
                spread.insert(spread.end(), shared.begin(), shared.end());
            EXPECT_EQ(same, plainConvolution(x, radius, count, radius, spread, stride)) << radius;
            EXPECT_EQ(each, plainConvolution(x, radius, count, radius, own, stride)) << radius;
        }
    }
}

// Clear peaks the plain way: each channel smoothed sample by sample with its
// ends held, its local maxima (above the sample before, not below the one
// after), the largest of the channels when asked, the valley on either side
// walked one sample at a time up to the first higher sample or `reach`.
std::vector<kw::detail::ClearPeak> plainClearPeaks(const std::vector<std::vector<double>>& rows,
                                                   int first, int last,
                                                   const std::vector<double>& noise,
                                                   const kw::detail::PeakSearch& s) {
    const int n = last - first + 1, numTraces = static_cast<int>(rows.size());
    const int radius = s.smoothing >= 0.5 ? static_cast<int>(std::ceil(3.0 * s.smoothing)) : 0;
    std::vector<double> w(radius + 1, 1.0);
    double sum = 1.0, squares = 1.0;
    for (int k = 1; k <= radius; ++k) {
        w[k] = std::exp(-0.5 * k * k / (s.smoothing * s.smoothing));
        sum += 2.0 * w[k];
        squares += 2.0 * w[k] * w[k];
    }
    for (double& v : w) v /= sum;
    std::vector<std::vector<double>> y(numTraces, std::vector<double>(n));
    for (int t = 0; t < numTraces; ++t)
        for (int i = 0; i < n; ++i) {
            const double* in = rows[t].data() + first;
            double acc = w[0] * in[i];
            for (int k = 1; k <= radius; ++k)
                acc += w[k] * (in[std::max(0, i - k)] + in[std::min(n - 1, i + k)]);
            y[t][i] = acc;
        }
    const auto valley = [&](const std::vector<double>& v, int i, int step) {
        double low = v[i];
        for (int j = i + step, d = 1; j >= 0 && j < n && d <= s.reach; j += step, ++d) {
            if (v[j] > v[i]) break;
            low = std::min(low, v[j]);
        }
        return low;
    };
    std::vector<kw::detail::ClearPeak> peaks;
    for (int t = 0; t < numTraces; ++t) {
        const std::vector<double>& v = y[t];
        const double gain = std::sqrt(squares) / sum;
        const double minRise = s.minRise * gain * noise[t];
        for (int i = 1; i + 1 < n; ++i) {
            if (!(v[i] > v[i - 1] && v[i] >= v[i + 1])) continue;
            bool largest = true;
            for (int u = 0; s.dominant && u < numTraces; ++u) largest = largest && y[u][i] <= v[i];
            const double left = valley(v, i, -1), right = valley(v, i, 1);
            const double rise = v[i] - std::max(left, right);
            if (largest && rise >= minRise && rise >= 0.3 * (v[i] - std::min(left, right)))
                peaks.push_back({first + i, t, v[i]});
        }
    }
    return peaks;
}

// Peaks in order of position, then channel: the order of peaks of several
// channels at one sample is left open.
std::vector<kw::detail::ClearPeak> byPlace(std::vector<kw::detail::ClearPeak> peaks) {
    std::sort(peaks.begin(), peaks.end(),
              [](const kw::detail::ClearPeak& a, const kw::detail::ClearPeak& b) {
                  return a.pos != b.pos ? a.pos < b.pos : a.channel < b.channel;
              });
    return peaks;
}

// On runs of four dyes with noise, on counts that repeat (plateaus and ties
// between channels), a channel holding a NaN, narrow and long reaches,
// smoothings from none to wide and stretches cut anywhere, the clear peaks
// are the plain search's.
TEST(KernelsReference, ClearPeaksAreThePlainSearchs) {
    const std::vector<std::vector<double>> mixing = {
        {1, 0.2, 0.05, 0}, {0.25, 1, 0.2, 0.05}, {0, 0.3, 1, 0.2}, {0.05, 0, 0.25, 1}};
    for (uint32_t seed : {1u, 2u, 3u}) {
        auto rows = kwtest::mix(
            kwtest::pureDyes(4000, 4, kwtest::randomPeaks(4000, 4, 12.0, 2.0 + seed, seed)), mixing,
            3.0, seed + 10);
        if (seed == 2)  // whole counts, as instruments store them
            for (auto& r : rows)
                for (double& v : r) v = std::round(v / 8.0);
        kwtest::addGaussian(rows[seed % 4], 2000.0, 30000.0, 25.0);  // long flanks to walk
        if (seed == 3) rows[1][2500] = std::numeric_limits<double>::quiet_NaN();
        kw::detail::ChannelView view;
        view.n = 4000;
        for (const auto& r : rows) view.channels.push_back(r.data());
        const std::vector<double> noise(4, seed == 2 ? 0.4 : 3.0);
        for (double smoothing : {0.3, 1.0, 2.5, 7.0})
            for (int reach : {3, 8, 80, 256})
                for (bool dominant : {true, false})
                    for (int first : {0, 7, 1999}) {
                        kw::detail::PeakSearch s;
                        s.smoothing = smoothing;
                        s.reach = reach;
                        s.dominant = dominant;
                        const int last = first == 7 ? 2011 : 3999;
                        const auto found = kw::detail::clearPeaks(view, first, last, noise, s);
                        for (size_t k = 1; k < found.size(); ++k)
                            ASSERT_LE(found[k - 1].pos, found[k].pos);
                        const auto got = byPlace(found);
                        const auto want = byPlace(plainClearPeaks(rows, first, last, noise, s));
                        ASSERT_EQ(got.size(), want.size()) << seed << " " << smoothing;
                        for (size_t k = 0; k < want.size(); ++k) {
                            EXPECT_EQ(got[k].pos, want[k].pos);
                            EXPECT_EQ(got[k].channel, want[k].channel);
                            expectClose(got[k].height, want[k].height, 1000.0);
                        }
                    }
    }
}

}  // namespace

namespace {

// Peaks of one fit: height, event-local centre, width; the common base and
// the relative residual.
struct PlainFit {
    std::vector<double> h, mu, sigma;
    double base = 0.0, variance = 0.0;
};

// Damped Gauss-Newton refinement of the initial estimate `f`, written
// plainly: an exp() per peak and sample, the normal matrix summed as J J'.
void plainRefine(const KwEvent& ev, PlainFit& f) {
    const int n = static_cast<int>(f.h.size()), dim = 3 * n, w = ev.getOuterWidth();
    const double area = ev.getArea();
    std::vector<double> damping(dim + 1, area / w);
    for (int k = 0; k < n; ++k)
        damping[3 * k + 2] = damping[3 * k + 3] = (area / n) / (f.h[k] > 0.0 ? f.h[k] : 1.0);
    double ePrev = 9999.0;
    for (int updates = 0;;) {
        KwdbMatrix m(0, dim, 0, dim);
        KwdbVector g(0, dim), step;
        double r2 = 0.0, y2 = 0.0;
        for (int x = 0; x < w; ++x) {
            std::vector<double> j(dim + 1, 1.0);
            double model = f.base;
            for (int k = 0; k < n; ++k) {
                const double d = x - f.mu[k], s = f.sigma[k];
                const double shape = std::exp(-0.5 * d * d / (s * s));
                model += f.h[k] * shape;
                j[3 * k + 1] = shape;
                j[3 * k + 2] = f.h[k] * shape * d / (s * s);
                j[3 * k + 3] = f.h[k] * shape * d * d / (s * s * s);
            }
            const double r = ev[x] - model;
            for (int a = 0; a <= dim; ++a) {
                g(a) += r * j[a];
                for (int b = 0; b <= dim; ++b) m(a, b) += j[a] * j[b];
            }
            r2 += r * r;
            y2 += ev[x] * ev[x];
        }
        if (!(y2 > 0.0)) return;
        const double e = r2 / y2, improvement = (ePrev - e) / ePrev;
        ePrev = f.variance = e;
        if (!(improvement >= 0.0)) return;
        for (int a = 0; a <= dim; ++a) m(a, a) += damping[a];
        step.beSolutionOf(m, g, 0);
        for (int a = 0; a <= dim; ++a)
            if (!std::isfinite(step(a))) return;
        auto limited = [](double v, double s) {
            v += std::max(-0.5 * v, std::min(2.0 * v, s));
            return std::max(1.0, v);
        };
        f.base += 0.7 * step(0);
        for (int k = 0; k < n; ++k) {
            f.h[k] = limited(f.h[k], 0.7 * step(3 * k + 1));
            f.mu[k] = std::min(std::max(f.mu[k] + 0.7 * step(3 * k + 2),
                                        1.0 * ev.getInnerBounds(0) - ev.getOuterBounds(0)),
                               1.0 * ev.getInnerBounds(1) - ev.getOuterBounds(0));
            f.sigma[k] = limited(f.sigma[k], 0.7 * step(3 * k + 3));
        }
        if (e < 0.01 || improvement <= 0.05 || ++updates > 7) return;
    }
}

}  // namespace

// The fit, whatever its arithmetic, is the plain Gauss-Newton's: events of
// single peaks, close pairs and surplus peaks shared out of one hump, on a
// noisy trace.
TEST(KernelsReference, PeakFitIsThePlainGaussNewtons) {
    const int n = 4000;
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> y(n, 0.0);
    for (double c = 50.0; c < n - 50; c += 45.0 + 10.0 * unit(rng)) {
        const double sigma = 1.5 + 3.0 * unit(rng);
        kwtest::addGaussian(y, c, 100.0 + 900.0 * unit(rng), sigma);
        if (unit(rng) < 0.5)
            kwtest::addGaussian(y, c + sigma * (1.0 + 2.0 * unit(rng)), 500.0, sigma);
    }
    std::normal_distribution<double> noise(0.0, 2.0);
    for (double& v : y) v += noise(rng);
    const KwTrace trace(n, y.data());
    int fits = 0;
    for (int start = 2, slot = 0;; ++slot) {
        KwEvent ev = trace.getNextEvent(0, start, n - 3, 20.0, 10.0, 7.0, 1);
        if (ev.dataExist() == 0) break;
        start = ev.getOuterBounds(1);
        ev.setNumPksBeNumHumps();
        const int peaks = ev.getNumHumps() + slot % 3;  // surplus peaks in a third of them
        ev.setMaxNumPeaks(peaks);
        ev.setMinNumPeaks(peaks);
        std::vector<KwPeak> initial(peaks), fitted(peaks);
        ev.peakFit1(initial.data());
        ev.peakFit(fitted.data());
        PlainFit want;
        for (const KwPeak& p : initial) {
            want.h.push_back(p.getHeight());
            want.mu.push_back(p.getLocatn() - ev.getStartPnt());
            want.sigma.push_back(p.getSigma());
        }
        plainRefine(ev, want);
        std::vector<int> order(peaks);
        for (int k = 0; k < peaks; ++k) order[k] = k;
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return want.mu[a] < want.mu[b]; });
        // Centres held at the same bound are spread between their neighbours.
        std::vector<double> centre(peaks);
        for (int k = 0; k < peaks; ++k) centre[k] = want.mu[order[k]] + ev.getStartPnt();
        for (int first = 0, last; first < peaks; first = last + 1) {
            for (last = first; last + 1 < peaks && centre[last + 1] == centre[first];) ++last;
            const double lo = first == 0 ? ev.getOuterBounds(0) : centre[first - 1];
            const double hi = last == peaks - 1 ? ev.getOuterBounds(1) : centre[last + 1];
            for (int j = first; last > first && j <= last; ++j)
                centre[j] = lo + (j - first + 0.5) * (hi - lo) / (last - first + 1);
        }
        const double top = *std::max_element(&y[ev.getOuterBounds(0)], &y[ev.getOuterBounds(1)]);
        for (int k = 0; k < peaks; ++k) {
            const int o = order[k];
            expectClose(fitted[k].getHeight(), want.h[o], top);
            expectClose(fitted[k].getLocatn(), centre[k], 1.0);
            expectClose(fitted[k].getSigma(), want.sigma[o], 1.0);
            expectClose(fitted[k].getBase(), want.base, top);
            expectClose(fitted[k].getVariance(), want.variance, 1e-6);
        }
        ++fits;
    }
    EXPECT_GT(fits, 60);
}

// A trace's L1 norm, summed in lanes, is the sum sample by sample over its
// window to rounding, for windows of every remainder modulo four.
TEST(KernelsReference, NormSummedInLanesIsThePlainSum) {
    std::mt19937 rng(5);
    std::normal_distribution<double> u(0.0, 1000.0);
    std::vector<double> x(3000);
    for (double& v : x) v = u(rng);
    for (int start : {1, 2, 100})
        for (int length : {1, 2, 3, 4, 5, 7, 8, 2001}) {
            KwTrace t(static_cast<int>(x.size()), x.data());  // narrowing zeroes what it leaves
            t.setSignalEndPnt(start + length - 1);
            t.setSignalStartPnt(start);
            ASSERT_EQ(t.getSignalEndPnt() - t.getSignalStartPnt() + 1, length);
            double plain = 0.0;
            for (int i = start; i < start + length; ++i) plain += std::fabs(x[i]);
            expectClose(t.norm1(), plain, 0.0);
        }
}

// The noise level of normalised channels, the mean of the local maxima
// below the ceiling that stand above half the mean of them all, is the
// plain two-pass mean (the sums in the same order, so the same bits), on
// noise over peaks, with ceilings that cut in, plateaus and NaN samples, and
// -1 where no maximum qualifies.
TEST(KernelsReference, NormalisedNoiseLevelIsThePlainMeanOfLargerMaxima) {
    auto plain = [](const std::vector<double>& x, int s, int e, double ceiling) {
        auto mean = [&](double above, int& count) {
            double sum = 0.0;
            count = 0;
            for (int i = s + 1; i <= e - 1; ++i)
                if (x[i] > x[i - 1] && x[i] > x[i + 1] && x[i] < ceiling && x[i] > above) {
                    sum += x[i];
                    ++count;
                }
            return count > 0 ? sum / count : -1.0;
        };
        int count = 0;
        const double all = mean(-std::numeric_limits<double>::infinity(), count);
        return count == 0 ? -1.0 : mean(0.5 * all, count);
    };
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0.0, 3.0);
    std::vector<double> x(2000);
    for (double& v : x) v = std::round(noise(rng));  // rounded: plateaus and ties
    for (int c = 50; c < 2000; c += 40) kwtest::addGaussian(x, c, 300.0, 3.0);
    x[700] = std::numeric_limits<double>::quiet_NaN();
    for (double ceiling : {1e9, 150.0, 2.0, -1e9})
        for (auto [s, e] : {std::pair<int, int>{0, 1999}, {0, 1}, {5, 7}, {600, 800}}) {
            KwTrace t(static_cast<int>(x.size()), x.data());
            t.setSignalEndPnt(e);
            t.setSignalStartPnt(s);
            t.setNoiseLevelForNormalized(ceiling);
            EXPECT_EQ(t.getNoiseLevel(), plain(x, s, e, ceiling)) << ceiling << " " << s;
        }
}

// The extremes sought in lanes are the plain loop's, signed zeros, NaN and
// infinities included, at every length around the lanes' width.
TEST(KernelsReference, ExtremesInLanesAreThePlainLoops) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    // The last two put the first zero in order in a later lane than a zero
    // of the other sign, so only an in-order look at zeros keeps its sign.
    const std::vector<std::vector<double>> runs = {
        {-1.0, 0.0, -1.0, 2.5, -0.0, nan, -inf, 2.5, 0.0, -2.0, inf, 1.0},
        {-1.0, -1.0, 0.0, -1.0, -1.0, -0.0, -1.0, -1.0, -1.0},
        {1.0, 1.0, -0.0, 1.0, 1.0, 0.0, 1.0, 1.0, 1.0}};
    auto same = [](double a, double b) {
        return (a == b && std::signbit(a) == std::signbit(b)) || (a != a && b != b);
    };
    for (const auto& x : runs)
        for (int from = 0; from < static_cast<int>(x.size()); ++from)
            for (int n = 0; from + n <= static_cast<int>(x.size()); ++n)
                for (double start : {-1e300, 1e300, -1.0, 0.0, -0.0, nan}) {
                    double high = start, low = start;
                    for (int i = from; i < from + n; ++i) {
                        if (x[i] > high) high = x[i];
                        if (x[i] < low) low = x[i];
                    }
                    EXPECT_TRUE(
                        same(kw::detail::extremeFrom<true>(x.data() + from, n, start), high))
                        << from << " " << n << " " << start;
                    EXPECT_TRUE(
                        same(kw::detail::extremeFrom<false>(x.data() + from, n, start), low))
                        << from << " " << n << " " << start;
                }
}

// The mean height of the tall maxima of a stretch (the ends rising above
// their one neighbour) is the plain loop's, bit for bit: the largest sample
// sought in lanes, the maxima listed in stretches, on noise over peaks with
// plateaus, a NaN, infinities, signed zeros, ceilings and short ranges.
TEST(KernelsReference, TallMaximaMeanIsThePlainLoops) {
    auto plain = [](const std::vector<double>& x, int from, int to, double fraction,
                    double ceiling) {
        double peak = x[from];
        for (int i = from; i <= to; ++i)
            if (x[i] > peak) peak = x[i];
        const double thr = fraction * peak;
        const int last = from < to ? to : from - 1;
        double sum = 0.0;
        int count = 0;
        for (int i = from; i <= last; ++i) {
            const bool left = i == from || x[i] > x[i - 1], right = i == to || x[i] > x[i + 1];
            if (x[i] > thr && (!(ceiling > 0.0) || x[i] < ceiling) && left && right)
                sum += x[i], ++count;
        }
        return count > 0 ? sum / count : thr;
    };
    std::mt19937 rng(11);
    std::normal_distribution<double> noise(0.0, 3.0);
    std::vector<double> x(1500);
    for (double& v : x) v = std::round(noise(rng));
    for (int c = 30; c < 1500; c += 37) kwtest::addGaussian(x, c, 200.0 + c % 90, 3.0);
    x[400] = std::numeric_limits<double>::quiet_NaN();
    x[900] = std::numeric_limits<double>::infinity();
    // The first zero the plain loop meets is +0, the one lanes would meet
    // first in the lane taken first -0.
    const std::vector<double> zeros = {-1.0, -1.0, 0.0, -1.0, -1.0, -0.0, -1.0, -1.0, -1.0};
    const KwTrace t(static_cast<int>(x.size()), x.data()), z(9, zeros.data());
    for (double ceiling : {0.0, 150.0, 1e9})
        for (auto [from, to] : {std::pair<int, int>{0, 1499},
                                {3, 3},
                                {3, 4},
                                {5, 9},
                                {350, 450},
                                {400, 420},
                                {850, 1499},
                                {1, 600}}) {
            const double got = t.averagedPkHeight(from, to, 0.3, ceiling);
            const double expected = plain(x, from, to, 0.3, ceiling);
            EXPECT_TRUE(got == expected || (got != got && expected != expected))  // NaN at from
                << from << ".." << to << " " << ceiling << ": " << got << " vs " << expected;
        }
    for (int from = 0; from < 9; ++from) {
        const double got = z.averagedPkHeight(from, 8, 0.3, 0.0);
        const double expected = plain(zeros, from, 8, 0.3, 0.0);
        EXPECT_EQ(std::signbit(got), std::signbit(expected)) << from;
    }
}

TEST(KernelsReference, ExtremaListedInPairsAreThoseOfThePlainTest) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> level(0, 3);  // few levels: plateaus and ties
    std::vector<double> x(301);
    for (double& v : x) v = level(rng);
    x[40] = x[41] = std::numeric_limits<double>::quiet_NaN();
    x[97] = std::numeric_limits<double>::infinity();
    using kw::detail::Extremum;
    auto check = [&](auto kind, auto plain) {
        for (auto [first, last] : {std::pair<int, int>{1, 299}, {1, 298}, {2, 2}, {39, 43}}) {
            std::vector<int> expected, at(static_cast<size_t>(last - first + 1));
            for (int i = first; i <= last; ++i)
                if (plain(x[i - 1], x[i], x[i + 1])) expected.push_back(i);
            at.resize(
                kw::detail::listExtrema<decltype(kind)::value>(x.data(), first, last, at.data()));
            EXPECT_EQ(at, expected) << static_cast<int>(kind()) << " " << first << ".." << last;
        }
    };
    check(std::integral_constant<Extremum, Extremum::strictMax>{},
          [](double b, double h, double a) { return h > b && h > a; });
    check(std::integral_constant<Extremum, Extremum::maxFlatRight>{},
          [](double b, double h, double a) { return h > b && h >= a; });
    check(std::integral_constant<Extremum, Extremum::strictMin>{},
          [](double b, double h, double a) { return h < b && h < a; });
}

TEST(KernelsReference, LowOfRankIsTheValueNthElementSelects) {
    std::mt19937 rng(9);
    std::uniform_int_distribution<int> level(0, 6);  // ties
    const double inf = std::numeric_limits<double>::infinity();
    for (size_t size : {5u, 6u, 9u, 40u, 120u})
        for (int round = 0; round < 20; ++round) {
            std::vector<double> v(size);
            for (double& x : v) x = level(rng) - 2.0;
            if (round % 4 == 1) v[round % size] = inf;
            if (round % 4 == 2) v[round % size] = -inf;
            std::vector<double> plain = v;
            std::nth_element(plain.begin(), plain.begin() + 4, plain.end());
            EXPECT_EQ(kw::detail::lowOfRank<4>(v), plain[4]) << size << " " << round;
        }
    // With a NaN the selection is nth_element's own, whatever it gives.
    std::vector<double> v = {3.0, 1.0, std::nan(""), 2.0, 0.0, 5.0, 4.0};
    std::vector<double> plain = v;
    std::nth_element(plain.begin(), plain.begin() + 4, plain.end());
    const double low = kw::detail::lowOfRank<4>(v);
    EXPECT_TRUE(low == plain[4] || (low != low && plain[4] != plain[4]));
}
