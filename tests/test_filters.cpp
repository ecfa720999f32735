// Smoothing and Mexican-hat filtering of traces and capillaries.
#include <gtest/gtest.h>

#include <limits>

#include "kwsignal/platform.h"
#include "synthetic.h"

namespace {

using kwtest::samplesOf;
using V = std::vector<double>;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

V peakyTrace(int n, uint32_t seed) {  // isolated Gaussian peaks on a little noise
    V y = kwtest::pureDyes(n, 1, kwtest::randomPeaks(n, 1, 40.0, 4.0, seed))[0];
    kwtest::addNoise(y, 2.0, seed);
    return y;
}

KwTrace windowed(const V& y, int start, int end, double noise) {
    KwTrace t = kwtest::traceOf(y, 0.0);
    t.setSignalStartPnt(start);
    t.setSignalEndPnt(end);
    t.setNoiseLevel(noise);
    return t;
}

}  // namespace

TEST(Smoothing, CosineWeightedAverageRenormalisedAtTheEnds) {
    const V x = {4.0, 8.0, -3.0, 2.0, 6.0, -40.0};
    KwTrace t = kwtest::traceOf(x);
    t.setSignalStartPnt(2);  // the whole array is smoothed, not only the window
    t.smoothing(5, 123);
    const double w = std::cos(kwPi / 4.0);
    EXPECT_DOUBLE_EQ(t[0], (4.0 + w * 8.0) / (1.0 + w));  // one neighbour at the end
    EXPECT_DOUBLE_EQ(t[2], (-3.0 + w * (8.0 + 2.0)) / (1.0 + 2.0 * w));
    EXPECT_EQ(t[4] + t[5], 0.0);  // negative averages are clipped
    // n = 2 and 3 only clip negatives; n < 2 does nothing; a window far wider
    // than the trace averages over all of it.
    for (int n : {2, 3, 1, 0, -7, std::numeric_limits<int>::max()}) {
        KwTrace c = kwtest::traceOf(x);
        c.smoothing(n, 0);
        if (n > 3) {
            for (double v : samplesOf(c)) EXPECT_TRUE(std::isfinite(v) && v >= 0.0);
        } else {
            EXPECT_EQ(samplesOf(c), n >= 2 ? V({4.0, 8.0, 0.0, 2.0, 6.0, 0.0}) : x);
        }
    }
}

TEST(MexicanHat, AdoptionKeepsWideHumpsAtUnfilteredHeight) {
    // Humps of F: 2..4 too narrow for 0.6 * 10; 7..16 topping where the trace is 2 noise
    // levels high; 19..29 well above noise; 31..37 topping below the noise.
    const V F = {-1, -1, 1, 2, 1, -1, -1, 1, 2, 3, 4, 5, 4, 3, 2, 1, 0.5, -1, -1, 1,
                 2,  3,  4, 5, 6, 5,  4,  3, 2, 1, 1, 1, 2, 3, 4, 3, 2,   1,  -1, 7};
    kwtest::Trace t(40);
    t = 50.0;
    t[11] = 20.0;
    t[24] = 60.0;
    t[34] = 5.0;
    t.setNoiseLevel(10.0);
    t.adoptFilteredData(F.data(), 10.0);
    V expected(40, 0.0);
    for (int i = 7; i <= 16; ++i) expected[i] = F[i] * 2.0;    // (20/5) * (20-10)/(30-10)
    for (int i = 19; i <= 29; ++i) expected[i] = F[i] * 10.0;  // 60/6, no gate
    EXPECT_EQ(samplesOf(t), expected);
    // Nothing positive: all before E-1 is cleared, E-1 kept, E always 0.
    kwtest::Trace flat(10);
    flat = 3.0;
    const V negative(10, -1.0);
    flat.adoptFilteredData(negative.data(), 1.0);
    EXPECT_EQ(samplesOf(flat), (V{0, 0, 0, 0, 0, 0, 0, 0, 3.0, 0}));
    V bad(10, kNaN);  // non-finite filtered values end in finite time
    bad[3] = 2.0;
    flat.adoptFilteredData(bad.data(), 1.0);
    EXPECT_EQ(flat[9], 0.0);
}

TEST(MexicanHat, IsolatedPeakKeepsItsHeightAndNothingElse) {
    V y(400, 0.0);
    kwtest::addGaussian(y, 200.0, 500.0, 4.0);
    for (int i = 0; i < 10; ++i) y[i] = y[399 - i] = 7.0;  // outside the window
    KwTrace t = windowed(y, 10, 389, 10.0);
    t.trippleMexicanHatFilter(4.0, 4.0);
    // The top keeps the unfiltered 500; the hump lies within one hat width of
    // it, the side lobes are gaps.
    EXPECT_NEAR(t[200], 500.0, 500.0 * std::numeric_limits<double>::epsilon());
    for (int i = 10; i <= 389; ++i)
        EXPECT_TRUE(i > 190 && i < 210 ? t[i] <= t[200] : t[i] == 0.0) << i;
    for (int i = 0; i < 10; ++i) EXPECT_EQ(t[i] + t[399 - i], 14.0);
}

TEST(MexicanHat, VariableWidthAgreesWithThreeWidthForConstantWidth) {
    const V y = peakyTrace(1200, 7);
    KwTrace three = windowed(y, 100, 1099, 20.0), variable = windowed(y, 100, 1099, 20.0);
    three.trippleMexicanHatFilter(3.0, 3.0);
    const V widths(1000, 3.0);
    variable.variableWidthMexicanHatFilter(widths.data(), 100, 1099);
    int kept = 0;  // the kernels differ by a factor the rescaling cancels
    for (int i = 0; i < 1200; ++i) {
        EXPECT_NEAR(variable[i], three[i], 1e-9 * (1.0 + std::fabs(three[i]))) << i;
        kept += three[i] > 0.0;
    }
    EXPECT_GT(kept, 100);
    // A width growing from 1 to 10 from the array start: the tail's kernel
    // (half-width 40) must not make the middle read before the array.
    V growing(600);
    for (int i = 0; i < 600; ++i) growing[i] = 1.0 + 9.0 * i / 599.0;
    KwTrace t = windowed(peakyTrace(600, 3), 0, 599, 5.0);
    t.variableWidthMexicanHatFilter(growing.data(), 0, 599);
    for (int i = 0; i < 600; ++i) ASSERT_TRUE(std::isfinite(t[i])) << i;
    EXPECT_EQ(t[599], 0.0);
}

TEST(MexicanHat, ThreeWidthFilterIsTheTaperedKernelSampleBySample) {
    // Against the kernel of every sample applied with the window mirrored at
    // both ends, to the last bit: windows far longer than the kernel, and as
    // short as it allows (half-width 14 for an end width of 3.5). A wave
    // keeps humps all along, up to the window's ends.
    V y = peakyTrace(1200, 11);
    for (int i = 0; i < 1200; ++i) y[i] += 100.0 + 80.0 * std::sin(i * 0.57);
    for (const auto& [start, end] :
         {std::pair{100, 1099}, {103, 1096}, {0, 1199}, {300, 327}, {300, 329}}) {
        kwtest::Trace filtered(1200, y.data()), expected(1200, y.data());
        for (kwtest::Trace* t : {&filtered, &expected}) {
            t->setSignalStartPnt(start);
            t->setSignalEndPnt(end);
            t->setNoiseLevel(5.0);
        }
        filtered.trippleMexicanHatFilter(2.0, 3.5);
        const int N = 14;
        auto hats = [N](double s2, double s3) {
            V h(N + 1);
            for (int k = 0; k <= N; ++k)
                h[k] = (s2 - k * k) * std::exp(-k * k / (2.0 * s2)) / (s3 * 2.5066283);
            return h;
        };
        const V a = hats(4.0, 8.0), b = hats(3.5 * 3.5, 3.5 * 3.5 * 3.5),
                m = hats(7.0, 7.0 * std::sqrt(7.0));
        auto x = [&](int j) { return y[j < start ? 2 * start - j : j > end ? 2 * end - j : j]; };
        V F(end - start + 1), kernel(N + 1);
        for (int i = start; i <= end; ++i) {
            expected.calculateTapper(N, i, kernel.data(), m.data(), a.data(), b.data());
            double sum = kernel[0] * x(i);
            for (int k = 1; k <= N; ++k) sum += kernel[k] * (x(i - k) + x(i + k));
            F[i - start] = sum;
        }
        expected.adoptFilteredData(F.data(), 2.0);
        EXPECT_EQ(samplesOf(filtered), samplesOf(expected)) << start << ".." << end;
    }
}

TEST(MexicanHat, UnusableWidthsOrShortWindowsLeaveTheTraceAlone) {
    const V y = peakyTrace(200, 5);
    auto unchanged = [&](auto filter, int start, int end) {
        KwTrace t = windowed(y, start, end, 0.0);
        filter(t);
        return samplesOf(t) == y;
    };
    for (double bad : {0.0, -2.0, kNaN}) {
        V widths(200, 3.0);
        widths[77] = bad;
        EXPECT_TRUE(unchanged([&](KwTrace& t) { t.trippleMexicanHatFilter(bad, 3.0); }, 0, 199));
        EXPECT_TRUE(unchanged([&](KwTrace& t) { t.trippleMexicanHatFilter(3.0, bad); }, 0, 199));
        EXPECT_TRUE(unchanged(
            [&](KwTrace& t) { t.variableWidthMexicanHatFilter(widths.data(), 0, 199); }, 0, 199));
    }
    // endWidth 3 gives a half-width of 12: 23 samples cannot hold the hat twice, 24 can.
    auto filter = [](KwTrace& t) { t.trippleMexicanHatFilter(3.0, 3.0); };
    EXPECT_TRUE(unchanged(filter, 50, 72));
    EXPECT_FALSE(unchanged(filter, 50, 73));
    EXPECT_TRUE(
        unchanged([&](KwTrace& t) { t.variableWidthMexicanHatFilter(nullptr, 0, 9); }, 0, 199));
}
