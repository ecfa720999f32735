// Peak fitting: the initial estimate and the sharing of surplus peaks, the
// least-squares refinement with its centre limits, sorting and spreading,
// degenerate events, and recovery of known Gaussians from a noisy trace.
#include <gtest/gtest.h>

#include "synthetic.h"

namespace {

using kwtest::eventOver;
using V = std::vector<double>;

V gaussians(int n, const std::vector<kwtest::Gauss>& peaks) {
    return kwtest::pureDyes(n, 1, peaks)[0];
}

void expectPeak(const KwPeak& p, double height, double centre, double sigma) {
    EXPECT_NEAR(p.getHeight(), height, 1e-6);
    EXPECT_NEAR(p.getLocatn(), centre, 1e-6);
    EXPECT_NEAR(p.getSigma(), sigma, 1e-6);
}

}  // namespace

TEST(PeakFit, InitialEstimateAndSurplusPeaks) {
    // Exact Gaussian: the estimate is exact and one update leaves it so.
    const V one = gaussians(41, {{0, 20.0, 100.0, 3.0}});
    const KwEvent ev = eventOver(one, 5, 35, {20}, 5, 35);
    KwPeak first, fit;
    ev.peakFit1(&first);
    ev.peakFit(&fit);
    for (const KwPeak& p : {first, fit}) {
        expectPeak(p, 100.0, 20.0, 3.0);
        EXPECT_NEAR(p.getBase(), 0.0, 1e-6);
        EXPECT_EQ(p.getStartPnt() + p.getEndPnt() + p.getTraceCode(), 5 + 35 + 1);
    }
    EXPECT_EQ(first.getVariance(), 0.0);
    EXPECT_TRUE(fit.getVariance() >= 0.0 && fit.getVariance() < 1e-12);
    // One hump, two peaks: h/sqrt2 and sigma/sqrt2 at mu -+ (sqrt2 - 1) sigma'.
    KwPeak pair[2];
    eventOver(one, 5, 35, {20}, 5, 35, 2).peakFit1(pair);
    const double s2 = 3.0 / std::sqrt(2.0);
    for (int j = 0; j < 2; ++j)
        expectPeak(pair[j], 100.0 / std::sqrt(2.0),
                   20.0 + (2 * j - 1) * (std::sqrt(2.0) - 1.0) * s2, s2);
    // Humps of 50 and 80, four peaks: both surplus peaks go to the 80 hump
    // (80/sqrt2 = 56.6 still beats 50), which ends with three of 80/sqrt3.
    const V two = gaussians(61, {{0, 20.0, 50.0, 3.0}, {0, 40.0, 80.0, 3.0}});
    KwPeak four[4];
    eventOver(two, 5, 55, {20, 40}, 5, 55, 4).peakFit1(four);
    expectPeak(four[0], 50.0, 20.0, 3.0);
    const double s3 = 3.0 / std::sqrt(3.0);
    for (int j = 1; j < 4; ++j)
        expectPeak(four[j], 80.0 / std::sqrt(3.0), 40.0 + (j - 2) * (std::sqrt(3.0) - 1.0) * s3,
                   s3);
}

TEST(PeakFit, CentreLimitsSpreadingAndDegenerateEvents) {
    // A centre beyond the inner end is held at the bound.
    KwPeak held;
    eventOver(gaussians(41, {{0, 20.0, 100.0, 3.0}}), 5, 35, {20}, 8, 17).peakFit(&held);
    EXPECT_EQ(held.getLocatn(), 17.0);
    // Two peaks held at the same bound end with equal centres; as the only
    // peaks they are spread to one and three quarters of the event.
    const V z = gaussians(61, {{0, 24.0, 100.0, 3.0}, {0, 34.0, 90.0, 3.0}});
    KwPeak spread[2];
    eventOver(z, 10, 50, {24, 34}, 10, 15).peakFit(spread);
    EXPECT_EQ(V({spread[0].getLocatn(), spread[1].getLocatn()}), V({20.0, 40.0}));
    // Flank below zero, no signal, hump below zero, flat (singular normal
    // matrix), vanishing samples, huge apex: finite values inside the event.
    const std::vector<V> cases = {{-5, -5, -5, 100, -5, -5, -5},    {0, 0, 0, 0, 0, 0, 0},
                                  {-10, -10, -6, -2, -6, -10, -10}, {7, 7, 7},
                                  {0, 1e-300, 3e-300, 1e-300, 0},   {1, 2, 1e150, 2, 1}};
    for (const auto& y : cases) {
        const int last = static_cast<int>(y.size()) - 1;
        for (int n : {1, 3}) {
            const KwEvent ev = eventOver(y, 0, last, {last / 2}, 0, last, n);
            KwPeak fit[3], first[3];
            ev.peakFit(fit);
            ev.peakFit1(first);
            for (const KwPeak& p : {fit[0], fit[n - 1], first[0], first[n - 1]})
                for (double v :
                     {p.getHeight(), p.getLocatn(), p.getSigma(), p.getBase(), p.getVariance()})
                    EXPECT_TRUE(std::isfinite(v)) << y[1] << " " << n;
            EXPECT_TRUE(fit[0].getLocatn() >= 0.0 && fit[n - 1].getLocatn() <= last);
        }
    }
    // Nothing asked for, or nothing to fit: the record stays as it was.
    KwPeak untouched;
    eventOver(z, 5, 35, {}, 5, 35).peakFit(&untouched);
    eventOver(z, 5, 35, {}, 5, 35, 1).peakFit(&untouched);
    eventOver(z, 5, 35, {}, 5, 35, 1).peakFit1(&untouched);
    EXPECT_EQ(untouched.getSigma(), -1.0);
}

// Known single Gaussians and pairs 1.5 sigma (one hump) or 2.5 sigma apart, with noise.
TEST(PeakFit, RecoversKnownGaussiansFromANoisyTrace) {
    const double sigma = 3.0;
    const int n = 6000;
    std::mt19937 rng(2024);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<std::vector<kwtest::Gauss>> truth;  // one slot: a peak or a pair
    V y(n, 0.0);
    for (int k = 0; 60 * (k + 2) < n; ++k) {
        const double c = 60.0 * (k + 1) + unit(rng);
        if (k % 2 == 0) {
            truth.push_back({{0, c, 200.0 + 800.0 * unit(rng), sigma}});
        } else {
            const double half = (k % 4 == 1 ? 0.75 : 1.25) * sigma, h = 400.0 + 600.0 * unit(rng);
            truth.push_back(
                {{0, c - half, h, sigma}, {0, c + half, h * (0.75 + 0.5 * unit(rng)), sigma}});
        }
        for (const auto& g : truth.back()) kwtest::addGaussian(y, g.centre, g.height, sigma);
    }
    std::normal_distribution<double> noise(0.0, 1.5);
    for (double& v : y) v += noise(rng);
    const KwTrace trace(n, y.data());
    std::size_t slot = 0;
    for (int start = 2;; ++slot) {
        // Onset 20 keeps noise from opening events; valley 10 ends them in it.
        KwEvent ev = trace.getNextEvent(0, start, n - 3, 20.0, 10.0, 2.355 * sigma, 1);
        if (ev.dataExist() == 0) break;
        start = ev.getOuterBounds(1);
        ASSERT_LT(slot, truth.size());
        const auto& t = truth[slot];
        for (const auto& g : t)
            ASSERT_TRUE(g.centre > ev.getOuterBounds(0) && g.centre < ev.getOuterBounds(1));
        ev.setNumPksBeNumHumps();
        if (t.size() == 2 && t[1].centre - t[0].centre < 2.0 * sigma) {
            EXPECT_EQ(ev.getNumHumps(), 1);
            ev.setMaxNumPeaks(2);
            ev.setMinNumPeaks(2);
        }
        ASSERT_EQ(ev.getNumPeaks(), static_cast<int>(t.size())) << "at " << start;
        KwPeak fit[2];
        ev.peakFit(fit);
        if (t.size() == 1) {  // heights damped towards the apex sample: 3 %
            EXPECT_NEAR(fit[0].getLocatn(), t[0].centre, 0.2);
            EXPECT_NEAR(fit[0].getHeight(), t[0].height, 0.03 * t[0].height);
            EXPECT_NEAR(fit[0].getSigma(), sigma, 0.2);
            continue;
        }
        // A pair: either side of its midpoint, each within half a sigma of its
        // centre, sharing out its area to 5 %.
        const double mid = 0.5 * (t[0].centre + t[1].centre);
        EXPECT_TRUE(fit[0].getLocatn() < mid && fit[1].getLocatn() > mid);
        double area = 0.0;
        for (int j = 0; j < 2; ++j) {
            EXPECT_NEAR(fit[j].getLocatn(), t[j].centre, 0.5 * sigma);
            area += fit[j].getArea() / ((t[0].height + t[1].height) * sigma * 2.5066283);
        }
        EXPECT_NEAR(area, 1.0, 0.05);
    }
    EXPECT_EQ(slot, truth.size());
    EXPECT_GT(truth.size(), 90u);
}
