// Signal ends: valley boundaries, first events, the start and end of the
// useful signal, plateaus and big tails.
#include <gtest/gtest.h>

#include "kwsignal/platform.h"
#include "synthetic.h"

namespace {

using kwtest::traceOf;
using V = std::vector<double>;
using Ints = std::vector<int>;

}  // namespace

TEST(SignalEnds, ExtendBoundariesAndDetectFirstEvent) {
    KwTrace t = traceOf({9, 2, 5, 7, 4, 6, 8, 9, 6, 3, 5, 1, 4});
    auto extended = [&](int l, int r, double threshold) {
        t.extendBoundaries(l, r, threshold);
        return Ints{l, r};
    };
    EXPECT_EQ(extended(7, 7, 1e100), Ints({4, 9}));  // nearest valleys
    EXPECT_EQ(extended(7, 7, 3.5), Ints({1, 9}));    // the valley of 4 is too high
    EXPECT_EQ(extended(7, 7, 0.5), Ints({0, 12}));   // none qualifies: window edges
    t.setSignalStartPnt(5);
    EXPECT_EQ(extended(5, 12, 1e100), Ints({5, 12}));  // already at the edges
    EXPECT_EQ(extended(3, 20, 1e100), Ints({3, 20}));  // beyond them
    KwTrace e = traceOf({1, 2, 1, 3, 8, 12, 7, 2, 9, 14, 10, 3, 1, 2});
    auto first = [&](int a, int b, double thr, int dir) {
        const int found = e.detectFirstEvent(a, b, thr, dir);
        return Ints{found, a, b};
    };
    EXPECT_EQ(first(0, 13, 6.0, +1), Ints({1, 2, 7}));
    EXPECT_EQ(first(0, 13, 6.0, -1), Ints({1, 7, 12}));
    EXPECT_EQ(first(5, 5, 6.0, +1), Ints({0, 5, 5}));
    EXPECT_EQ(first(3, 10, 100.0, +1), Ints({1, 2, 4}));  // none above: the valleys around
    EXPECT_EQ(first(0, 13, 6.0, 2), Ints({0, 0, 13}));
    EXPECT_EQ(first(0, 50, 6.0, 1), Ints({0, 0, 50}));
}

TEST(SignalEnds, MarkTheEndsFindsRunBetweenPrimerAndNoiseTail) {
    // 4 Hz: noise around 20, a primer peak at 300, base peaks every 14
    // samples from 700 to 8988, then 12.5 minutes of noise.
    V v = kwtest::baseRun(12000, 7, {{700, 9000}});
    kwtest::addGaussian(v, 300.0, 8000.0, 30.0);
    KwTrace t = traceOf(v, 4.0), endOnly = traceOf(v, 4.0);
    t.markTheEnds(0.1, 1);
    EXPECT_TRUE(t.getSignalStartPnt() > 360 && t.getSignalStartPnt() < 695)
        << t.getSignalStartPnt();  // past the primer, before the first base peak
    EXPECT_TRUE(t.getSignalEndPnt() > 8960 && t.getSignalEndPnt() <= 8988)
        << t.getSignalEndPnt();          // at the foot of the last burst
    EXPECT_EQ(kwtest::samplesOf(t), v);  // fields set, nothing zeroed
    endOnly.markTheEnds(0.1, 0);
    EXPECT_EQ(Ints({endOnly.getSignalStartPnt(), endOnly.getSignalEndPnt()}),
              Ints({0, t.getSignalEndPnt()}));
    // Noise peaks count up to E - 2 (not the 1 at 18): the end moves past the 10.
    // Fewer than 20 samples, or no local maximum: the end stays.
    V twoPeaks(20, 0.0);
    twoPeaks[5] = 10.0;
    twoPeaks[18] = 1.0;
    KwTrace tail = traceOf(twoPeaks, 0.0);
    twoPeaks.pop_back();
    KwTrace shortTrace = traceOf(twoPeaks, 0.0), flat = traceOf(V(500, 3.0), 4.0);
    tail.markTheEnds(0.5, 0);
    shortTrace.markTheEnds(0.5, 0);
    flat.markTheEnds(0.2, 1);
    EXPECT_EQ(Ints({tail.getSignalEndPnt(), shortTrace.getSignalEndPnt(), flat.getSignalEndPnt()}),
              Ints({6, 18, 499}));
    KwTrace z = traceOf(V(10, 4.0));
    z.setSignalStartPnt(3);
    z.setSignalEndPnt(6);
    z.zeroDataAtEnds();
    EXPECT_EQ(kwtest::samplesOf(z), (V{0, 0, 0, 4, 4, 4, 4, 0, 0, 0}));
}

TEST(SignalEnds, FindPlateauRegionAndBigTail) {
    // Plateau 50..60 before 200 and from 800 on; between them valleys of 100
    // every 10 samples and peaks of 500.
    V v(1000);
    for (int i = 0; i < 1000; ++i)
        v[i] = (i < 200 || i >= 800) ? 50.0 + 5.0 * (i % 3)
                                     : 300.0 - 200.0 * std::cos(i * 2.0 * kwPi / 10.0);
    auto plateau = [](const KwTrace& t) {
        int l = -1, r = -1;
        t.findPlateauRegion(l, r);
        return Ints{l, r};
    };
    EXPECT_EQ(plateau(traceOf(v, 4.0)), Ints({209, 791}));        // up to the first valleys
    for (int k = 0; k < 12; ++k) v[20 + 10 * k] = 400.0;          // short excursions
    EXPECT_EQ(plateau(traceOf(v, 4.0))[0], 119);                  // the eleventh ends the scan
    EXPECT_EQ(plateau(traceOf(v, 1e12))[1], 791);                 // look-ahead beyond the array
    KwTrace rising = traceOf(kwtest::line(1000, 0.0, 1.0), 4.0);  // no valley in the middle
    rising.setSignalStartPnt(100);
    EXPECT_EQ(plateau(rising), Ints({100, 999}));
    EXPECT_EQ(plateau(traceOf({5, 1, 5, 1, 5, 1, 5, 1, 5, 1})), Ints({0, 9}));
    // Baseline 10/13 alternating, raised to 100/110 over 400..799.
    V b(1200);
    for (int i = 0; i < 1200; ++i)
        b[i] = (i >= 400 && i < 800) ? 100.0 + 10.0 * (i % 2) : 10.0 + 3.0 * (i % 2);
    const KwTrace t = traceOf(b);
    auto tail = [&](int from, int to, int width, int block, double factor) {
        int l = -7, r = -7;
        const int found = t.detectBigTail(from, to, width, block, factor, l, r);
        return Ints{found, l, r};
    };
    EXPECT_EQ(tail(0, 1199, 200, 20, 10.0)[0], 0);               // not raised enough
    EXPECT_EQ(tail(0, 1199, 500, 20, 3.0)[0], 0);                // too narrow
    EXPECT_EQ(tail(0, 1199, 200, 200, 3.0), Ints({0, -7, -7}));  // 6 blocks
    EXPECT_EQ(tail(0, 1199, 200, 0, 3.0), Ints({0, -7, -7}));
    EXPECT_EQ(tail(0, 1199, 200, 20, 3.0), Ints({1, 399, 800}));
    EXPECT_EQ(tail(-50, 5000, -5000, 20, 3.0)[0], 1);
}

// Instrument files: the start lies within two minutes after the primer onset, the end
// in the last tenth of the scans (the last call ends the processed data).
TEST(SignalEnds, RealRunsStartAfterPrimerAndEndNearLastCall) {
    for (const char* name : {"3730.ab1", "310.ab1"}) {
        SCOPED_TRACE(name);
        kw::AbifRun run;
        if (!kwtest::readShared(name, run)) GTEST_SKIP() << "instrument file absent: " << name;
        ASSERT_TRUE(run.ok() && run.numTraces() == 4 && !run.callPositions.empty());
        const int n = run.numScans;
        KwCap cap = kwtest::capOf(run);
        ASSERT_EQ(cap.deBaseline(5), 1);
        V sum(n, 0.0), raw(n, 0.0);
        for (int c = 0; c < 4; ++c) {
            for (int i = 0; i < n; ++i) {
                sum[i] += cap(c, i);
                raw[i] += run.raw[c][i];
            }
        }
        V head(raw.begin(), raw.begin() + n / 10);
        std::nth_element(head.begin(), head.begin() + head.size() / 2, head.end());
        const double preRun = head[head.size() / 2];
        const double top = *std::max_element(raw.begin(), raw.begin() + 3 * n / 10);
        const int onset = static_cast<int>(
            std::find_if(raw.begin(), raw.end(),
                         [&](double x) { return x > preRun + 0.2 * (top - preRun); }) -
            raw.begin());
        const double lastCall = static_cast<double>(run.callPositions.back()) /
                                static_cast<double>(run.processed[0].size());
        KwTrace t = traceOf(sum, run.samplingRate);
        t.markTheEnds(0.2, 1);
        EXPECT_GT(t.getSignalStartPnt(), onset);
        EXPECT_LT(t.getSignalStartPnt(), onset + static_cast<int>(120.0 * run.samplingRate));
        EXPECT_GT(lastCall, 0.99);
        EXPECT_GT(t.getSignalEndPnt(), static_cast<int>((lastCall - 0.1) * n));
        EXPECT_LE(t.getSignalEndPnt(), n - 1);
    }
}
