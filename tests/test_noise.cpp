// Noise level, minimum height, mean peak height and width, and envelope
// normalisation.
#include <gtest/gtest.h>

#include "synthetic.h"

namespace {

using kwtest::traceOf;
using V = std::vector<double>;

V plateau(int n, double level, int top) {  // `level` with one sample of 100 at `top`
    V v(n, level);
    v[top] = 100.0;
    return v;
}

V spikes(int n, int step, double height) {  // a spike every `step` samples from step/2
    V v(n, 0.0);
    for (int i = step / 2; i < n; i += step) v[i] = height;
    return v;
}

double noiseLevel(const V& v, int from = 0) {
    KwTrace t = traceOf(v);
    t.setNoiseLevel(7.0);
    t.findNoiseLevel(from);
    return t.getNoiseLevel();
}

double minimumHeight(const V& v) {
    KwTrace t = traceOf(v);
    t.setMinumHeight();
    return t.getMinumHeight();
}

}  // namespace

// Samples of 11 below a maximum of 100 fall into bin trunc(0.89 nb): the
// level is the upper edge of that bin, which tells the bin count.
TEST(Noise, HistogramBins) {
    V withNaN = plateau(300, 11.0, 150), two = plateau(300, 11.0, 0);
    withNaN[100] = NAN;                              // not counted; the edge stays where it was
    for (int i = 1; i < 300; i += 2) two[i] = 31.0;  // equal rises: the first (bin 20) wins
    EXPECT_DOUBLE_EQ(noiseLevel(plateau(300, 11.0, 150)), (1.0 - 26.0 / 30.0) * 100.0);
    EXPECT_DOUBLE_EQ(noiseLevel(plateau(500, 11.0, 150)), (1.0 - 44.0 / 50.0) * 100.0);
    EXPECT_DOUBLE_EQ(noiseLevel(plateau(500, 11.0, 400), 200), (1.0 - 26.0 / 30.0) * 100.0);
    EXPECT_DOUBLE_EQ(noiseLevel(withNaN), (1.0 - 26.0 / 30.0) * 100.0);
    EXPECT_DOUBLE_EQ(noiseLevel(two), (1.0 - 20.0 / 30.0) * 100.0);
    EXPECT_DOUBLE_EQ(minimumHeight(plateau(800, 37.3, 400)), (1.0 - 50.0 / 80.0) * 100.0);
    EXPECT_DOUBLE_EQ(minimumHeight(plateau(1000, 37.3, 400)), (1.0 - 62.0 / 100.0) * 100.0);
    // No bin rises: the lowest bin's edge. Fewer than 10 samples: the level
    // stays. Nothing positive: 0.
    EXPECT_DOUBLE_EQ(noiseLevel(V(300, 50.0)), 50.0 / 30.0);
    for (int from : {291, 299, -5}) EXPECT_EQ(noiseLevel(plateau(300, 11.0, 295), from), 7.0);
    EXPECT_EQ(noiseLevel(V(300, -3.0)) + minimumHeight(V(1000, 0.4)), 0.0);
    EXPECT_EQ(minimumHeight(plateau(9, 1.0, 4)), 0.0);
    // Fewer than ten samples between a tenth of the maximum and the maximum:
    // the histogram is redone over the lowest tenth, where 1.05 sits in bin 89.
    V v(1000, 1.05);
    for (int i = 100; i < 600; i += 100) v[i] = 100.0;
    EXPECT_NEAR(minimumHeight(v), (1.0 - 89.0 / 100.0) * 10.0, 1e-12);
}

// After baseline removal the amplitude histogram finds the noise's upper
// edge at about 3 standard deviations.
TEST(Noise, LevelTracksGaussianNoise) {
    for (double s : {10.0, 20.0, 30.0}) {
        for (uint32_t seed : {1u, 2u, 3u}) {
            KwTrace t = traceOf(kwtest::driftingPeaks(6000, 300.0, 500.0, s, seed), 3.0);
            ASSERT_EQ(t.deBaseline(2), 1);
            t.findNoiseLevel(0);
            EXPECT_TRUE(t.getNoiseLevel() >= 1.5 * s && t.getNoiseLevel() <= 6.0 * s)
                << s << " " << seed << " " << t.getNoiseLevel();
        }
    }
}

TEST(Noise, NormalizedLevelPeakHeightAndExcursionWidth) {
    // The window's end samples are no maxima; level 1.0 drops the maximum 1.
    // Without maxima inside the window the level is -1.
    KwTrace t = traceOf({5, 0, 1, 0, 2, 0, 3, 0, 9}), onlyPeaks = traceOf({0, 10, 0, 20, 0});
    t.setNoiseLevelForNormalized(5.0);
    onlyPeaks.setNoiseLevelForNormalized(5.0);
    EXPECT_EQ(V({t.getNoiseLevel(), onlyPeaks.getNoiseLevel()}), V({2.5, -1.0}));
    const KwTrace capped = traceOf({0, 3, 0, 2, 0});
    EXPECT_DOUBLE_EQ(traceOf({1, 2, 3, 4, 5}).averagedPkHeight(0, 4, 0.5, 0.0), 5.0);
    EXPECT_DOUBLE_EQ(traceOf({5, 1, 2, 1}).averagedPkHeight(0, 3, 0.3, 0.0), 3.5);
    EXPECT_DOUBLE_EQ(capped.averagedPkHeight(0, 4, 0.1, 0.0), 2.5);
    EXPECT_DOUBLE_EQ(capped.averagedPkHeight(0, 4, 0.1, 3.0), 2.0);
    EXPECT_DOUBLE_EQ(capped.averagedPkHeight(1, 3, 0.1, 1.0), 0.1 * 3.0);  // none qualifies
    EXPECT_DOUBLE_EQ(traceOf({1, 1, 1}).averagedPkHeight(0, 2, 0.5, 0.0), 0.5);
    // An excursion the range starts in is skipped; one still open is not
    // counted; without one the width is left alone.
    const std::pair<V, V> widths[] = {
        {{0, 0, 2, 2, 0}, {1, 2}}, {{2, 2, 0, 0, 2, 2, 2, 0, 0, 3}, {1, 3}}, {{0, 2, 2}, {0, -7}}};
    for (const auto& w : widths) {
        int count = -1;
        double width = -7.0;
        const int last = static_cast<int>(w.first.size()) - 1;
        traceOf(w.first).determinePeakWidthForNormalizedData(0, last, 1.0, count, width);
        EXPECT_EQ(V({1.0 * count, width}), w.second);
    }
}

TEST(Envelope, SegmentsOfOneMinute) {
    // 59 samples at 1 Hz: less than a minute, nothing changes. 90 samples:
    // two segments of equal peaks, every sample scaled by 10 / 40.
    const V v = spikes(90, 5, 40.0);
    KwTrace t59 = traceOf(v), t90 = traceOf(v);
    t59.envelopeNormalize(5, 10.0, 58, 0.0);
    EXPECT_EQ(kwtest::samplesOf(t59), v);
    t90.envelopeNormalize(5, 10.0, 89, 0.0);
    for (int i = 0; i < 90; ++i) EXPECT_NEAR(t90[i], v[i] * 0.25, 1e-9) << i;
    // Past the envelope's end it is held flat; outside the window nothing
    // changes; nothing positive, nothing changes.
    KwTrace past = traceOf(spikes(130, 5, 40.0)), negative = traceOf(V(120, -5.0));
    past.setSignalEndPnt(119);
    past.envelopeNormalize(1, 10.0, 89, 0.0);
    EXPECT_NEAR(past[112], 10.0, 1e-9);
    negative.envelopeNormalize(1, 10.0, 119, 0.0);
    EXPECT_EQ(V({past[127], negative[60]}), V({40.0, -5.0}));
    // Segment peaks 100, 100, 1000 (mean 400): raised to the band's floor (~200), cut to
    // 2x the mean then 1.5x its neighbours; the constant envelope is their mean.
    V three(150, 0.0);
    three[25] = three[75] = 100.0;
    three[125] = 1000.0;
    KwTrace t = traceOf(three);
    t.envelopeNormalize(0, 1.0, 149, 0.0);
    const double low = 0.4999999750000013 * 400.0, env = (low + low + 1.5000001 * low) / 3.0;
    EXPECT_NEAR(t[25], 100.0 / env, 1e-9);
    EXPECT_NEAR(t[125], 1000.0 / env, 1e-9);
}

TEST(Envelope, LevelsFadingPeaksAndCapillaryTarget) {
    V v(600, 0.0);
    for (int i = 5; i < 600; i += 10) v[i] = 300.0 - i / 3.0;  // fades 300 -> 100
    KwTrace t = traceOf(v);
    t.envelopeNormalize(1, 50.0, 599, 0.0);
    for (int i = 5; i < 600; i += 10) EXPECT_NEAR(t[i], 50.0, 0.03 * 50.0) << i;
    // The capillary's target comes from the peaks of its first fifth.
    std::vector<V> rows = {spikes(300, 10, 50.0), spikes(300, 10, 100.0), V(300, 0.0)};
    rows[2][60] = 500.0;  // just past the first fifth (0..59): not used
    KwCap cap = kwtest::makeCap(rows, 1.0);
    const double target = cap.envelopeNormalize(299);
    EXPECT_DOUBLE_EQ(target, 0.6 * 100.0);
    EXPECT_NEAR(cap(0, 105), target, 0.01 * target);
    EXPECT_NEAR(cap(1, 105), target, 0.01 * target);
    EXPECT_EQ(KwCap().envelopeNormalize(10), 0.0);
}
