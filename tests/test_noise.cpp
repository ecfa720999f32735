// Noise level, minimum height, mean peak height and width, and envelope
// normalisation.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "synthetic.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

class TestCap : public KwCap {
public:
    using KwCap::KwCap;
    using KwCap::setNoiseLevelForNormalized;
};

KwTrace makeTrace(const std::vector<double>& v, double rate = 1.0) {
    KwTrace t(static_cast<int>(v.size()), v.data());
    t.setSampleRate(rate);
    return t;
}

/// n samples of `level` with one sample of 100 at `top`.
std::vector<double> plateau(int n, double level, int top) {
    std::vector<double> v(n, level);
    v[top] = 100.0;
    return v;
}

/// n zero samples with a spike of `height` every `step` samples from step/2.
std::vector<double> spikes(int n, int step, double height) {
    std::vector<double> v(n, 0.0);
    for (int i = step / 2; i < n; i += step) v[i] = height;
    return v;
}

// Samples of 11 below a maximum of 100 fall into bin trunc(0.89 nb): the
// level is the upper edge of that bin, which tells the bin count.
TEST(Noise, HistogramBins) {
    KwTrace t300 = makeTrace(plateau(300, 11.0, 150));
    t300.findNoiseLevel(0);
    EXPECT_DOUBLE_EQ(t300.getNoiseLevel(), (1.0 - 26.0 / 30.0) * 100.0);

    KwTrace t500 = makeTrace(plateau(500, 11.0, 150));
    t500.findNoiseLevel(0);
    EXPECT_DOUBLE_EQ(t500.getNoiseLevel(), (1.0 - 44.0 / 50.0) * 100.0);
    t500 = makeTrace(plateau(500, 11.0, 400));
    t500.findNoiseLevel(200);  // 300 samples from 200
    EXPECT_DOUBLE_EQ(t500.getNoiseLevel(), (1.0 - 26.0 / 30.0) * 100.0);

    std::vector<double> withNaN = plateau(300, 11.0, 150);
    withNaN[100] = kNaN;  // not counted; the edge stays where it was
    KwTrace n = makeTrace(withNaN);
    n.findNoiseLevel(0);
    EXPECT_DOUBLE_EQ(n.getNoiseLevel(), (1.0 - 26.0 / 30.0) * 100.0);

    // Equal rises into bins 20 (samples of 31) and 26: the first one wins.
    std::vector<double> two = plateau(300, 11.0, 0);  // counts come from 1..298
    for (int i = 1; i < 300; i += 2) two[i] = 31.0;
    KwTrace tie = makeTrace(two);
    tie.findNoiseLevel(0);
    EXPECT_DOUBLE_EQ(tie.getNoiseLevel(), (1.0 - 20.0 / 30.0) * 100.0);

    KwTrace m800 = makeTrace(plateau(800, 37.3, 400));
    m800.setMinumHeight();
    EXPECT_DOUBLE_EQ(m800.getMinumHeight(), (1.0 - 50.0 / 80.0) * 100.0);
    KwTrace m1000 = makeTrace(plateau(1000, 37.3, 400));
    m1000.setMinumHeight();
    EXPECT_DOUBLE_EQ(m1000.getMinumHeight(), (1.0 - 62.0 / 100.0) * 100.0);
}

TEST(Noise, DegenerateRanges) {
    KwTrace flat = makeTrace(std::vector<double>(300, 50.0));
    flat.findNoiseLevel(0);  // no bin rises: the lowest bin's edge
    EXPECT_DOUBLE_EQ(flat.getNoiseLevel(), 50.0 / 30.0);

    KwTrace shortRange = makeTrace(plateau(300, 11.0, 295));
    shortRange.setNoiseLevel(7.0);
    shortRange.findNoiseLevel(291);  // 9 samples: no bins
    EXPECT_EQ(shortRange.getNoiseLevel(), 7.0);
    shortRange.findNoiseLevel(299);
    EXPECT_EQ(shortRange.getNoiseLevel(), 7.0);
    shortRange.findNoiseLevel(-5);
    EXPECT_EQ(shortRange.getNoiseLevel(), 7.0);

    KwTrace negative = makeTrace(std::vector<double>(300, -3.0));
    negative.findNoiseLevel(0);
    EXPECT_EQ(negative.getNoiseLevel(), 0.0);

    KwTrace small = makeTrace(std::vector<double>(1000, 0.4));
    small.setMinumHeight();
    EXPECT_EQ(small.getMinumHeight(), 0.0);
    KwTrace nine = makeTrace(plateau(9, 1.0, 4));
    nine.setMinumHeight();
    EXPECT_EQ(nine.getMinumHeight(), 0.0);
}

// Fewer than ten samples between a tenth of the maximum and the maximum:
// the histogram is redone over the lowest tenth, where 1.05 sits in bin 89.
TEST(Noise, MinimumHeightOfSmallSignalWithSpikes) {
    std::vector<double> v(1000, 1.05);
    for (int i = 100; i < 600; i += 100) v[i] = 100.0;
    KwTrace t = makeTrace(v);
    t.setMinumHeight();
    EXPECT_NEAR(t.getMinumHeight(), (1.0 - 89.0 / 100.0) * 10.0, 1e-12);
}

// After baseline removal the noise of standard deviation s sits above the
// chords; the amplitude histogram finds its upper edge at about 3 s.
TEST(Noise, LevelTracksGaussianNoise) {
    for (double s : {10.0, 20.0, 30.0}) {
        for (uint32_t seed : {1u, 2u, 3u}) {
            const int n = 6000;
            std::vector<double> y(n, 0.0);
            for (double c = 40; c < n - 40; c += 60) kwtest::addGaussian(y, c, 1000.0, 3.0);
            std::mt19937 rng(seed);
            std::normal_distribution<double> noise(0.0, s);
            for (int i = 0; i < n; ++i)
                y[i] += 300.0 + 0.05 * i + 500.0 * std::exp(-i / 1500.0) + noise(rng);
            KwTrace t = makeTrace(y, 3.0);
            ASSERT_EQ(t.deBaseline(2), 1);
            t.findNoiseLevel(0);
            EXPECT_GE(t.getNoiseLevel(), 1.5 * s) << s << " " << seed;
            EXPECT_LE(t.getNoiseLevel(), 6.0 * s) << s << " " << seed;
        }
    }
}

TEST(Noise, LevelForNormalizedData) {
    KwTrace onlyPeaks = makeTrace({0, 10, 0, 20, 0});
    onlyPeaks.setNoiseLevelForNormalized(5.0);
    EXPECT_EQ(onlyPeaks.getNoiseLevel(), -1.0);

    // The window's end samples are no maxima; level 1.0 drops the maximum 1.
    KwTrace t = makeTrace({5, 0, 1, 0, 2, 0, 3, 0, 9});
    t.setNoiseLevelForNormalized(5.0);
    EXPECT_DOUBLE_EQ(t.getNoiseLevel(), 2.5);

    std::vector<std::vector<double>> rows = {{5, 0, 1, 0, 2, 0, 3, 0, 9},
                                             {0, 10, 0, 20, 0, 0, 0, 0, 0}};
    double* ptrs[] = {rows[0].data(), rows[1].data()};
    TestCap cap(2, 9, ptrs, 1.0);
    cap.setNoiseLevelForNormalized(5.0);
    EXPECT_DOUBLE_EQ(cap.getPnterToTrace(0)->getNoiseLevel(), 2.5);
    EXPECT_EQ(cap.getPnterToTrace(1)->getNoiseLevel(), -1.0);
}

TEST(Noise, AveragedPeakHeight) {
    KwTrace rising = makeTrace({1, 2, 3, 4, 5});
    EXPECT_DOUBLE_EQ(rising.averagedPkHeight(0, 4, 0.5, 0.0), 5.0);
    KwTrace first = makeTrace({5, 1, 2, 1});
    EXPECT_DOUBLE_EQ(first.averagedPkHeight(0, 3, 0.3, 0.0), 3.5);
    KwTrace capped = makeTrace({0, 3, 0, 2, 0});
    EXPECT_DOUBLE_EQ(capped.averagedPkHeight(0, 4, 0.1, 0.0), 2.5);
    EXPECT_DOUBLE_EQ(capped.averagedPkHeight(0, 4, 0.1, 3.0), 2.0);
    EXPECT_DOUBLE_EQ(capped.averagedPkHeight(1, 3, 0.1, 1.0), 0.1 * 3.0);  // none qualifies
    KwTrace flat = makeTrace({1, 1, 1});
    EXPECT_DOUBLE_EQ(flat.averagedPkHeight(0, 2, 0.5, 0.0), 0.5);
}

TEST(Noise, ExcursionWidth) {
    int count = -1;
    double width = -7.0;
    KwTrace t = makeTrace({0, 0, 2, 2, 0});
    t.determinePeakWidthForNormalizedData(0, 4, 1.0, count, width);
    EXPECT_EQ(count, 1);
    EXPECT_DOUBLE_EQ(width, 2.0);

    // An excursion the range starts in is skipped; one still open is not
    // counted.
    KwTrace u = makeTrace({2, 2, 0, 0, 2, 2, 2, 0, 0, 3});
    u.determinePeakWidthForNormalizedData(0, 9, 1.0, count, width);
    EXPECT_EQ(count, 1);
    EXPECT_DOUBLE_EQ(width, 3.0);

    width = -7.0;
    KwTrace open = makeTrace({0, 2, 2});
    open.determinePeakWidthForNormalizedData(0, 2, 1.0, count, width);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(width, -7.0);
    t.determinePeakWidthForNormalizedData(3, 3, 1.0, count, width);
    EXPECT_EQ(count, 0);
}

TEST(Envelope, NeedsOneMinuteOfData) {
    const std::vector<double> v = spikes(90, 5, 40.0);
    KwTrace t59 = makeTrace(v);
    t59.envelopeNormalize(5, 10.0, 58, 0.0);
    for (int i = 0; i < 90; ++i) EXPECT_EQ(t59[i], v[i]);

    // 90 samples at 1 Hz: two segments of equal peaks, a flat envelope of
    // 40, so every sample is scaled by 10 / 40.
    KwTrace t90 = makeTrace(v);
    t90.envelopeNormalize(5, 10.0, 89, 0.0);
    for (int i = 0; i < 90; ++i) EXPECT_NEAR(t90[i], v[i] * 0.25, 1e-9) << i;

    // The window runs past the envelope's end: the envelope is held flat.
    // Samples outside the window are left alone.
    KwTrace past = makeTrace(spikes(130, 5, 40.0));
    past.setSignalStartPnt(0);
    past.setSignalEndPnt(119);
    past.envelopeNormalize(1, 10.0, 89, 0.0);
    EXPECT_NEAR(past[112], 10.0, 1e-9);
    EXPECT_EQ(past[127], 40.0);

    KwTrace negative = makeTrace(std::vector<double>(120, -5.0));
    negative.envelopeNormalize(1, 10.0, 119, 0.0);
    EXPECT_EQ(negative[60], -5.0);
}

// Three segments (150 s at 1 Hz) with peak heights 100, 100 and 1000 (mean
// 400): the first two are raised to the band's floor, about 200, the last is
// cut to 2.0000001 times the mean and then to 1.5000001 times its
// neighbours. A constant envelope is the mean of the three.
TEST(Envelope, LimitsOutlyingSegments) {
    std::vector<double> v(150, 0.0);
    v[25] = 100.0;
    v[75] = 100.0;
    v[125] = 1000.0;
    KwTrace t = makeTrace(v);
    t.envelopeNormalize(0, 1.0, 149, 0.0);
    const double low = 0.4999999750000013 * 400.0;
    const double env = (low + low + 1.5000001 * low) / 3.0;
    EXPECT_NEAR(t[25], 100.0 / env, 1e-9);
    EXPECT_NEAR(t[125], 1000.0 / env, 1e-9);
}

TEST(Envelope, LevelsFadingPeaks) {
    std::vector<double> v(600, 0.0);
    for (int i = 5; i < 600; i += 10) v[i] = 300.0 - i / 3.0;  // fades 300 -> 100
    KwTrace t = makeTrace(v);
    t.envelopeNormalize(1, 50.0, 599, 0.0);
    for (int i = 5; i < 600; i += 10) EXPECT_NEAR(t[i], 50.0, 0.03 * 50.0) << i;
}

TEST(Envelope, CapillaryTargetFromEarlyPeaks) {
    std::vector<std::vector<double>> rows = {spikes(300, 10, 50.0), spikes(300, 10, 100.0),
                                             std::vector<double>(300, 0.0)};
    rows[2][60] = 500.0;  // just past the first fifth (0..59): not used
    KwCap cap = kwtest::makeCap(rows, 1.0);
    const double target = cap.envelopeNormalize(299);
    EXPECT_DOUBLE_EQ(target, 0.6 * 100.0);
    EXPECT_NEAR(cap(0, 105), target, 0.01 * target);
    EXPECT_NEAR(cap(1, 105), target, 0.01 * target);
    KwCap empty;
    EXPECT_EQ(empty.envelopeNormalize(10), 0.0);
}

TEST(Noise, NonFiniteSamplesDoNotDerail) {
    std::vector<double> v = spikes(400, 7, 30.0);
    v[10] = kNaN;
    v[11] = std::numeric_limits<double>::infinity();
    v[200] = -std::numeric_limits<double>::infinity();
    KwTrace t = makeTrace(v, 1.0);
    t.findNoiseLevel(0);
    t.setMinumHeight();
    t.setNoiseLevelForNormalized(20.0);
    int count = 0;
    double width = 0.0;
    t.determinePeakWidthForNormalizedData(0, 399, 10.0, count, width);
    t.averagedPkHeight(0, 399, 0.3, 0.0);
    t.envelopeNormalize(5, 10.0, 399, 0.0);
    KwTrace allNaN = makeTrace(std::vector<double>(400, kNaN));
    allNaN.findNoiseLevel(0);
    allNaN.setMinumHeight();
    allNaN.envelopeNormalize(5, 10.0, 399, 0.0);
}

}  // namespace
