// Signal ends: valley boundaries, first events, the start and end of the
// useful signal, plateaus and big tails.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <vector>

#include "kwsignal/platform.h"
#include "synthetic.h"

namespace {

using kwtest::traceOf;
using Span = std::pair<int, int>;

Span extended(const KwTrace& t, int l, int r, double threshold) {
    t.extendBoundaries(l, r, threshold);
    return {l, r};
}

std::tuple<int, int, int> firstEvent(KwTrace& t, int a, int b, double thr, int dir) {
    const int found = t.detectFirstEvent(a, b, thr, dir);
    return {found, a, b};
}

// 4 Hz run: noise around 20, a primer peak at 300 (sigma 30), base peaks
// every 14 samples from 700 to lastPk, then noise only.
std::vector<double> syntheticRun(int n, int lastPk) {
    std::vector<double> v = kwtest::baseRun(n, 7, {{700, lastPk}});
    kwtest::addGaussian(v, 300.0, 8000.0, 30.0);
    return v;
}

}  // namespace

TEST(SignalEnds, ExtendBoundariesAndDetectFirstEvent) {
    KwTrace t = traceOf({9, 2, 5, 7, 4, 6, 8, 9, 6, 3, 5, 1, 4});
    EXPECT_EQ(extended(t, 7, 7, 1e100), Span(4, 9));  // nearest valleys
    EXPECT_EQ(extended(t, 7, 7, 3.5), Span(1, 9));    // the valley of 4 is too high
    EXPECT_EQ(extended(t, 7, 7, 0.5), Span(0, 12));   // none qualifies: window edges
    t.setSignalStartPnt(5);
    EXPECT_EQ(extended(t, 5, 12, 1e100), Span(5, 12));  // already at the edges
    EXPECT_EQ(extended(t, 3, 20, 1e100), Span(3, 20));  // beyond them

    KwTrace e = traceOf({1, 2, 1, 3, 8, 12, 7, 2, 9, 14, 10, 3, 1, 2});
    EXPECT_EQ(firstEvent(e, 0, 13, 6.0, +1), std::make_tuple(1, 2, 7));
    EXPECT_EQ(firstEvent(e, 0, 13, 6.0, -1), std::make_tuple(1, 7, 12));
    EXPECT_EQ(firstEvent(e, 5, 5, 6.0, +1), std::make_tuple(0, 5, 5));
    // Nothing above the threshold: shrinks to the valleys around the start.
    EXPECT_EQ(firstEvent(e, 3, 10, 100.0, +1), std::make_tuple(1, 2, 4));
    EXPECT_EQ(firstEvent(e, 0, 13, 6.0, 2), std::make_tuple(0, 0, 13));
    EXPECT_EQ(firstEvent(e, 0, 50, 6.0, 1), std::make_tuple(0, 0, 50));
}

TEST(SignalEnds, MarkTheEndsFindsRunBetweenPrimerAndNoiseTail) {
    // Base peaks up to 8988, then 3000 samples (12.5 minutes) of noise.
    const std::vector<double> v = syntheticRun(12000, 9000);
    KwTrace t = traceOf(v, 4.0);
    t.markTheEnds(0.1, 1);
    EXPECT_GT(t.getSignalStartPnt(), 360);  // past the primer peak ...
    EXPECT_LT(t.getSignalStartPnt(), 695);  // ... before the first base peak
    EXPECT_LE(t.getSignalEndPnt(), 8988);   // at the foot of the last burst
    EXPECT_GT(t.getSignalEndPnt(), 8960);
    EXPECT_EQ(kwtest::samplesOf(t), v);  // fields set, nothing zeroed

    KwTrace endOnly = traceOf(v, 4.0);
    endOnly.markTheEnds(0.1, 0);
    EXPECT_EQ(endOnly.getSignalStartPnt(), 0);
    EXPECT_EQ(endOnly.getSignalEndPnt(), t.getSignalEndPnt());
}

TEST(SignalEnds, MarkTheEndsOnDegenerateTraces) {
    // The noise peaks are taken up to E - 2: the maximum 1 at 18 does not
    // count, P = 10 and the end moves to the valley after the 10. Fewer
    // than 20 samples, or no local maximum: the end stays.
    std::vector<double> twoPeaks(20, 0.0);
    twoPeaks[5] = 10.0;
    twoPeaks[18] = 1.0;
    KwTrace tail = traceOf(twoPeaks, 0.0);
    tail.markTheEnds(0.5, 0);
    EXPECT_EQ(tail.getSignalEndPnt(), 6);
    twoPeaks.pop_back();
    KwTrace shortTrace = traceOf(twoPeaks, 0.0);
    shortTrace.markTheEnds(0.5, 0);
    EXPECT_EQ(shortTrace.getSignalEndPnt(), 18);
    KwTrace flat = traceOf(std::vector<double>(500, 3.0), 4.0);
    flat.markTheEnds(0.2, 1);
    EXPECT_EQ(flat.getSignalEndPnt(), 499);

    KwTrace z = traceOf(std::vector<double>(10, 4.0));
    z.setSignalStartPnt(3);
    z.setSignalEndPnt(6);
    z.zeroDataAtEnds();
    EXPECT_EQ(kwtest::samplesOf(z), (std::vector<double>{0, 0, 0, 4, 4, 4, 4, 0, 0, 0}));
}

TEST(SignalEnds, FindPlateauRegion) {
    // Plateau 50..60 before 200 and from 800 on; between them valleys of 100
    // every 10 samples and peaks of 500.
    std::vector<double> v(1000);
    for (int i = 0; i < 1000; ++i) {
        v[i] = (i < 200 || i >= 800) ? 50.0 + 5.0 * (i % 3)
                                     : 300.0 - 200.0 * std::cos(i * 2.0 * kwPi / 10.0);
    }
    int l = -1, r = -1;
    traceOf(v, 4.0).findPlateauRegion(l, r);
    EXPECT_EQ(Span(l, r), Span(209, 791));                // up to the signal's first valleys
    for (int k = 0; k < 12; ++k) v[20 + 10 * k] = 400.0;  // short excursions
    traceOf(v, 4.0).findPlateauRegion(l, r);
    EXPECT_EQ(l, 119);                         // the eleventh ends the scan
    traceOf(v, 1e12).findPlateauRegion(l, r);  // look-ahead beyond the array
    EXPECT_EQ(r, 791);

    KwTrace rising = traceOf(kwtest::line(1000, 0.0, 1.0), 4.0);  // no valley in the middle
    rising.setSignalStartPnt(100);
    rising.findPlateauRegion(l, r);
    EXPECT_EQ(Span(l, r), Span(100, 999));
    traceOf({5, 1, 5, 1, 5, 1, 5, 1, 5, 1}).findPlateauRegion(l, r);
    EXPECT_EQ(Span(l, r), Span(0, 9));
}

TEST(SignalEnds, DetectBigTail) {
    // Baseline 10/13 alternating, raised to 100/110 over 400..799.
    std::vector<double> v(1200);
    for (int i = 0; i < 1200; ++i)
        v[i] = (i >= 400 && i < 800) ? 100.0 + 10.0 * (i % 2) : 10.0 + 3.0 * (i % 2);
    KwTrace t = traceOf(v);
    int l = -7, r = -7;
    EXPECT_EQ(t.detectBigTail(0, 1199, 200, 20, 10.0, l, r), 0);  // not raised enough
    EXPECT_EQ(t.detectBigTail(0, 1199, 500, 20, 3.0, l, r), 0);   // too narrow
    l = r = -7;
    EXPECT_EQ(t.detectBigTail(0, 1199, 200, 200, 3.0, l, r), 0);  // 6 blocks
    EXPECT_EQ(t.detectBigTail(0, 1199, 200, 0, 3.0, l, r), 0);
    EXPECT_EQ(Span(l, r), Span(-7, -7));
    EXPECT_EQ(t.detectBigTail(0, 1199, 200, 20, 3.0, l, r), 1);
    EXPECT_EQ(Span(l, r), Span(399, 800));
    EXPECT_EQ(t.detectBigTail(-50, 5000, -5000, 20, 3.0, l, r), 1);
}

// Raw channels of an instrument file, baseline-removed (25 s windows) and
// summed so that every base peak shows whatever its dye. PLOC2 positions are
// in the instrument's processed coordinates, trimmed and rescaled against
// the raw scans with no recorded offset, so the end is compared on the
// relative scale: both runs are called to the end of their processed data,
// and the window must end in the last tenth of the raw scans. The start must
// lie past the onset of the primer signal (a fifth of the way from the
// pre-run median to the top of the first 30 % of the raw sum) and within two
// minutes of it.
TEST(SignalEnds, RealRunsStartAfterPrimerAndEndNearLastCall) {
    for (const char* name : {"3730.ab1", "310.ab1"}) {
        SCOPED_TRACE(name);
        kw::AbifRun run;
        if (!kwtest::readShared(name, run)) GTEST_SKIP() << "instrument file absent: " << name;
        ASSERT_TRUE(run.ok() && run.numTraces() == 4 && !run.callPositions.empty());
        const int n = run.numScans;
        KwCap cap = kwtest::capOf(run);
        ASSERT_EQ(cap.deBaseline(5), 1);
        std::vector<double> sum(n, 0.0), raw(n, 0.0);
        for (int c = 0; c < 4; ++c) {
            for (int i = 0; i < n; ++i) {
                sum[i] += cap(c, i);
                raw[i] += run.raw[c][i];
            }
        }
        std::vector<double> head(raw.begin(), raw.begin() + n / 10);
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
