// Smoothing and Mexican-hat filtering of traces and capillaries.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "kwsignal/capillary.h"
#include "kwsignal/platform.h"
#include "synthetic.h"

namespace {

// Reaches the kernel builders and the hump adoption kept for derived classes.
class FilterTrace : public KwTrace {
public:
    using KwTrace::adoptFilteredData;
    using KwTrace::calculateTapper;
    using KwTrace::calculateWidow;
    using KwTrace::KwTrace;
    using KwTrace::operator=;
};

double hat(double s, int k) {
    return (s * s - k * k) * std::exp(-k * k / (2.0 * s * s)) / (s * s * s * 2.5066283);
}

// Isolated Gaussian peaks on a little noise.
std::vector<double> peakyTrace(int n, uint32_t seed) {
    std::vector<double> y(n, 0.0);
    for (const kwtest::Gauss& g : kwtest::randomPeaks(n, 1, 40.0, 4.0, seed))
        kwtest::addGaussian(y, g.centre, g.height, g.sigma);
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 2.0);
    for (double& v : y) v += noise(rng);
    return y;
}

std::vector<double> samples(const KwTrace& t) {
    std::vector<double> out(t.getNumData());
    for (int i = 0; i < t.getNumData(); ++i) out[i] = t[i];
    return out;
}

}  // namespace

TEST(Smoothing, CosineWeightedAverageRenormalisedAtTheEnds) {
    const std::vector<double> x = {4.0, 8.0, -3.0, 2.0, 6.0, -40.0};
    KwTrace t(6, x.data());
    t.setSignalStartPnt(2);  // the whole array is smoothed, not only the window
    t.smoothing(5, 123);
    const double w = std::cos(kwPi / 4.0);
    EXPECT_DOUBLE_EQ(t[0], (4.0 + w * 8.0) / (1.0 + w));  // one neighbour at the end
    EXPECT_DOUBLE_EQ(t[1], (8.0 + w * (4.0 - 3.0)) / (1.0 + 2.0 * w));
    EXPECT_DOUBLE_EQ(t[2], (-3.0 + w * (8.0 + 2.0)) / (1.0 + 2.0 * w));
    EXPECT_EQ(t[4], 0.0);  // negative averages are clipped
    EXPECT_EQ(t[5], 0.0);

    // n = 2 and 3 only clip negatives; n < 2 has no window and does nothing.
    for (int n : {2, 3}) {
        KwTrace c(6, x.data());
        c.smoothing(n, 0);
        EXPECT_EQ(samples(c), (std::vector<double>{4.0, 8.0, 0.0, 2.0, 6.0, 0.0}));
    }
    for (int n : {1, 0, -7}) {
        KwTrace c(6, x.data());
        c.smoothing(n, 0);
        EXPECT_EQ(samples(c), x);
    }
    // A window far wider than the trace averages over all of it.
    KwTrace wide(6, x.data());
    wide.smoothing(std::numeric_limits<int>::max(), 0);
    for (double v : samples(wide)) EXPECT_TRUE(std::isfinite(v) && v >= 0.0);
}

TEST(Smoothing, CapillaryFormSmoothsEveryTrace) {
    std::vector<std::vector<double>> rows = {peakyTrace(300, 1), peakyTrace(300, 2)};
    KwCap cap = kwtest::makeCap(rows, 3.0);
    cap.smoothing(9);
    for (int t = 0; t < 2; ++t) {
        KwTrace single(300, rows[t].data());
        single.smoothing(9, 0);
        EXPECT_EQ(samples(*cap.getPnterToTrace(t)), samples(single));
    }
}

TEST(MexicanHat, KernelBlendsStartEndAndMiddleHats) {
    FilterTrace t(101);
    t.setSignalStartPnt(10);
    t.setSignalEndPnt(89);  // L = 80
    const int N = 12;
    const double a = 2.0, b = 3.0;
    std::vector<double> sh(N + 1), eh(N + 1), mh(N + 1), kernel(N + 1);
    for (int k = 0; k <= N; ++k) {
        sh[k] = hat(a, k);
        eh[k] = hat(b, k);
        mh[k] = hat(std::sqrt(a * b), k);
    }
    t.calculateTapper(N, 10, kernel.data(), mh.data(), sh.data(), eh.data());
    for (int k = 0; k <= N; ++k) EXPECT_NEAR(kernel[k], sh[k] * 79.0 / 80.0 + mh[k], 1e-15);
    t.calculateTapper(N, 89, kernel.data(), mh.data(), sh.data(), eh.data());
    for (int k = 0; k <= N; ++k) EXPECT_NEAR(kernel[k], eh[k] * 79.0 / 80.0 + mh[k], 1e-15);

    // Equal widths: every sample's kernel is the hat times (1 + (L-1)/L).
    t.calculateTapper(N, 40, kernel.data(), sh.data(), sh.data(), sh.data());
    for (int k = 0; k <= N; ++k) EXPECT_NEAR(kernel[k], sh[k] * (1.0 + 79.0 / 80.0), 1e-15);

    // Per-sample widths, clamped to the ends of the width array.
    const double widths[] = {2.0, 2.5, 3.0};
    t.calculateWidow(5, 20, 22, widths, kernel.data(), N);
    EXPECT_DOUBLE_EQ(kernel[0], 1.0 / (2.5066283 * 2.0));
    t.calculateWidow(21, 20, 22, widths, kernel.data(), N);
    for (int k = 0; k <= N; ++k) EXPECT_NEAR(kernel[k], hat(2.5, k), 1e-15);
    EXPECT_LT(kernel[3], 0.0);  // beyond one width the hat is negative
    t.calculateWidow(500, 20, 22, widths, kernel.data(), N);
    EXPECT_NEAR(kernel[0], hat(3.0, 0), 1e-15);
}

TEST(MexicanHat, AdoptionKeepsWideHumpsAtUnfilteredHeight) {
    // Window 0..39; filtered values laid out by hand:
    //   0..1 below zero; 2..4 a hump of 3 samples (too narrow for 0.6 * 10);
    //   7..16 a hump topping at 11 where the trace is 2 noise levels high;
    //   19..29 a hump topping at 24 well above noise, ending at a flat valley
    //   30..31; 31..37 a hump whose top lies below the noise level.
    const std::vector<double> F = {-1, -1, 1,   2,  1,  -1, -1, 1, 2, 3, 4,  5, 4, 3,
                                   2,  1,  0.5, -1, -1, 1,  2,  3, 4, 5, 6,  5, 4, 3,
                                   2,  1,  1,   1,  2,  3,  4,  3, 2, 1, -1, 7};
    FilterTrace t(40);
    t = 50.0;
    t[11] = 20.0;
    t[24] = 60.0;
    t[34] = 5.0;
    t.setNoiseLevel(10.0);
    t.adoptFilteredData(F.data(), 10.0);

    std::vector<double> expected(40, 0.0);
    for (int i = 7; i <= 16; ++i) expected[i] = F[i] * 2.0;    // (20/5) * (20-10)/(30-10)
    for (int i = 19; i <= 29; ++i) expected[i] = F[i] * 10.0;  // 60/6, no gate
    EXPECT_EQ(samples(t), expected);
    EXPECT_EQ(t[24], 60.0);

    // Nothing positive: everything before E-1 is cleared, E-1 keeps its
    // value, E is always 0.
    FilterTrace flat(10);
    flat = 3.0;
    const std::vector<double> negative(10, -1.0);
    flat.adoptFilteredData(negative.data(), 1.0);
    EXPECT_EQ(samples(flat), (std::vector<double>{0, 0, 0, 0, 0, 0, 0, 0, 3.0, 0}));

    // Non-finite filtered values end in finite time.
    std::vector<double> bad(10, std::numeric_limits<double>::quiet_NaN());
    bad[3] = 2.0;
    flat.adoptFilteredData(bad.data(), 1.0);
    EXPECT_EQ(flat[9], 0.0);
}

TEST(MexicanHat, IsolatedPeakKeepsItsHeightAndNothingElse) {
    std::vector<double> y(400, 0.0);
    kwtest::addGaussian(y, 200.0, 500.0, 4.0);
    for (int i = 0; i < 10; ++i) y[i] = y[399 - i] = 7.0;  // outside the window
    KwTrace t(400, y.data());
    t.setSignalStartPnt(10);
    t.setSignalEndPnt(389);
    t.setNoiseLevel(10.0);
    t.trippleMexicanHatFilter(4.0, 4.0);

    // The filtered top is the peak's centre; its height is the unfiltered
    // 500 up to the rounding of F * (500 / F).
    EXPECT_NEAR(t[200], 500.0, 500.0 * std::numeric_limits<double>::epsilon());
    int firstKept = -1, lastKept = -1;
    for (int i = 10; i <= 389; ++i) {
        if (t[i] == 0.0) continue;
        if (firstKept < 0) firstKept = i;
        lastKept = i;
        EXPECT_LE(t[i], t[200]);
    }
    EXPECT_GT(firstKept, 190);  // the hump lies within one hat width of the
    EXPECT_LT(lastKept, 210);   // centre; the side lobes are gaps
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(t[i], 7.0);
        EXPECT_EQ(t[399 - i], 7.0);
    }
}

TEST(MexicanHat, VariableWidthAgreesWithThreeWidthForConstantWidth) {
    const std::vector<double> y = peakyTrace(1200, 7);
    KwTrace three(1200, y.data());
    KwTrace variable(1200, y.data());
    for (KwTrace* t : {&three, &variable}) {
        t->setSignalStartPnt(100);
        t->setSignalEndPnt(1099);
        t->setNoiseLevel(20.0);
    }
    three.trippleMexicanHatFilter(3.0, 3.0);
    const std::vector<double> widths(1000, 3.0);
    variable.variableWidthMexicanHatFilter(widths.data(), 100, 1099);
    // The kernels differ by a constant factor, which the rescaling to the
    // unfiltered heights cancels.
    int kept = 0;
    for (int i = 0; i < 1200; ++i) {
        EXPECT_NEAR(variable[i], three[i], 1e-9 * (1.0 + std::fabs(three[i]))) << i;
        kept += three[i] > 0.0;
    }
    EXPECT_GT(kept, 100);
}

TEST(MexicanHat, GrowingWidthFromTheArrayStartStaysInside) {
    // The tail's kernel (half-width 40) is wider than the head's (4); with
    // the window at sample 0 the middle would read before the array.
    const std::vector<double> y = peakyTrace(600, 3);
    KwTrace t(600, y.data());
    t.setNoiseLevel(5.0);
    std::vector<double> widths(600);
    for (int i = 0; i < 600; ++i) widths[i] = 1.0 + 9.0 * i / 599.0;
    t.variableWidthMexicanHatFilter(widths.data(), 0, 599);
    for (int i = 0; i < 600; ++i) ASSERT_TRUE(std::isfinite(t[i])) << i;
    EXPECT_EQ(t[599], 0.0);
}

TEST(MexicanHat, UnusableWidthsOrShortWindowsLeaveTheTraceAlone) {
    const std::vector<double> y = peakyTrace(200, 5);
    auto unchanged = [&](auto filter, int start, int end) {
        KwTrace t(200, y.data());
        t.setSignalStartPnt(start);
        t.setSignalEndPnt(end);
        filter(t);
        return samples(t) == y;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (double bad : {0.0, -2.0, nan}) {
        EXPECT_TRUE(unchanged([&](KwTrace& t) { t.trippleMexicanHatFilter(bad, 3.0); }, 0, 199));
        EXPECT_TRUE(unchanged([&](KwTrace& t) { t.trippleMexicanHatFilter(3.0, bad); }, 0, 199));
        std::vector<double> widths(200, 3.0);
        widths[77] = bad;
        EXPECT_TRUE(unchanged(
            [&](KwTrace& t) { t.variableWidthMexicanHatFilter(widths.data(), 0, 199); }, 0, 199));
    }
    // endWidth 3 gives a half-width of 12: a window of 23 samples is too
    // short to hold the hat twice, 24 is enough.
    auto filter = [](KwTrace& t) { t.trippleMexicanHatFilter(3.0, 3.0); };
    EXPECT_TRUE(unchanged(filter, 50, 72));
    EXPECT_FALSE(unchanged(filter, 50, 73));
    EXPECT_TRUE(
        unchanged([&](KwTrace& t) { t.variableWidthMexicanHatFilter(nullptr, 0, 9); }, 0, 199));
}

TEST(MexicanHat, NonFiniteSamplesDoNotStallTheFilter) {
    std::vector<double> y = peakyTrace(300, 9);
    y[150] = std::numeric_limits<double>::quiet_NaN();
    y[151] = std::numeric_limits<double>::infinity();
    KwTrace t(300, y.data());
    t.setNoiseLevel(5.0);
    t.trippleMexicanHatFilter(3.0, 4.0);
    EXPECT_EQ(t[299], 0.0);
    t.smoothing(7, 0);
}

TEST(MexicanHat, CapillaryFormFiltersEveryTrace) {
    std::vector<std::vector<double>> rows = {peakyTrace(500, 11), peakyTrace(500, 12)};
    KwCap cap = kwtest::makeCap(rows, 3.0);
    for (int t = 0; t < 2; ++t) cap.getPnterToTrace(t)->setNoiseLevel(8.0);
    cap.trippleMexicanHatFilter(2.5, 4.0);
    for (int t = 0; t < 2; ++t) {
        KwTrace single(500, rows[t].data());
        single.setNoiseLevel(8.0);
        single.trippleMexicanHatFilter(2.5, 4.0);
        EXPECT_EQ(samples(*cap.getPnterToTrace(t)), samples(single));
    }
}
