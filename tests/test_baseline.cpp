// Baseline removal: chord baseline, dip flooring, widest gap and tent removal.
#include <gtest/gtest.h>

#include "synthetic.h"

namespace {

using kwtest::samplesOf;
using V = std::vector<double>;

kwtest::Trace traceOf(const V& v, double rate = 1.0) {
    return kwtest::traceOf<kwtest::Trace>(v, rate);
}

}  // namespace

// Straight lines show the head, chord and tail steps of deBaseline: w = 5
// samples at 1 Hz, window 10..89 inside a 100-sample array.
TEST(Baseline, StraightLines) {
    for (double k : {2.0, -2.0}) {
        const V v = kwtest::line(100, 1000.0, k);
        KwTrace t = traceOf(v);
        t.setSignalStartPnt(10);
        t.setSignalEndPnt(89);
        ASSERT_EQ(t.deBaseline(1), 1);
        for (int i : {0, 9, 90, 99}) EXPECT_EQ(t[i], v[i]);
        // The head is shifted, not tilted; the tail rises (or falls) off the last chord.
        const int flatTo = k > 0 ? 84 : 86;
        EXPECT_DOUBLE_EQ(t[10], k > 0 ? -k : -2.0 * k);
        EXPECT_NEAR(t[11], k > 0 ? 0.0 : -k, 1e-9);
        for (int i = 12; i <= 89; ++i)
            EXPECT_NEAR(t[i], i <= flatTo ? 0.0 : std::fabs(k) * (k > 0 ? i - 84 : 89 - i), 1e-9)
                << i;
    }
}

TEST(Baseline, RefusesWindowsThatDoNotFit) {
    const V v = kwtest::line(30, 100.0, -1.0);
    for (double rate : {4.0, 0.1, 0.0, -3.0, double(NAN)}) {  // rate 4: w = 20, 2w > 30
        KwTrace t = traceOf(v, rate);
        EXPECT_EQ(t.deBaseline(1), 0) << rate;
        EXPECT_EQ(samplesOf(t), v) << rate;
    }
    KwTrace t = traceOf(v);
    EXPECT_EQ(t.deBaseline(0) + t.deBaseline(4), 0);  // w = 20
    EXPECT_EQ(samplesOf(t), v);
    EXPECT_EQ(t.deBaseline(3), 1);  // w = 15 fits exactly twice
    // A capillary stops at the first trace that refuses.
    KwCap cap = kwtest::makeCap(std::vector<V>(4, kwtest::line(200, 50.0, 0.5)), 1.0);
    cap.getPnterToTrace(1)->setSampleRate(30.0);  // w = 150: does not fit
    EXPECT_EQ(cap.deBaseline(1), 0);
    EXPECT_NEAR(cap(0, 100), 0.0, 1e-9);
    for (int c = 1; c < 4; ++c) EXPECT_EQ(cap(c, 100), 100.0);
    EXPECT_EQ(KwCap().deBaseline(1), 1);
}

// Drifting baseline under peaks: flat stretches end within 1 % of zero, peaks keep height.
TEST(Baseline, RemovesSlowDriftUnderPeaks) {
    const int n = 6000;
    KwTrace t = traceOf(kwtest::driftingPeaks(n, 200.0, 2000.0, 1.0, 7), 3.0);
    ASSERT_EQ(t.deBaseline(2), 1);  // w = 30 samples, wider than a peak
    std::vector<bool> nearPeak(n, false);
    for (int c = 40; c < n - 40; c += 60) {
        EXPECT_NEAR(t.getMaxData(c - 1, c + 1), 1000.0, 10.0) << c;
        for (int i = c - 15; i <= c + 15; ++i) nearPeak[i] = true;
    }
    for (int i = 0; i < n; ++i) ASSERT_TRUE(nearPeak[i] || std::fabs(t[i]) <= 10.0) << i;
}

// One block of 201 samples: tops of 20 at even samples, dips of 10 at odd
// ones, some low dips of 0, one spike of -100, floored when rare enough.
TEST(Baseline, DipFlooringNeedsRareDeepDips) {
    auto block = [](int numZeros) {
        V v(201, 20.0);
        for (int i = 1; i < 200; i += 2) v[i] = 10.0;
        for (int z = 0; z < numZeros; ++z) v[3 + 4 * z] = 0.0;
        v[101] = -100.0;
        return v;
    };
    kwtest::Trace t = traceOf(block(19));  // 20 low dips with the spike
    t.deAnomaliousDip(201);
    // Floor: 40 % of the way from the mean low dip (-5, lifted by 1e-8) to the spike.
    const double meanLow = -5.0 + 1.0e-8;
    EXPECT_NEAR(t[101], meanLow - 0.40000001 * (meanLow + 100.0), 1e-10);
    EXPECT_EQ(t[3], 0.0);
    // 19 low dips: the spike stays. Array end samples have one neighbour: no dips.
    for (const V& v : {block(18), V{0, 5, 10, 5, -50}}) {
        kwtest::Trace u = traceOf(v);
        u.deAnomaliousDip(v.size() == 5 ? 2 : 201);
        EXPECT_EQ(samplesOf(u), v);
    }
}

TEST(Baseline, WidestGap) {
    using Gap = std::vector<int>;  // length, first, last
    auto gap = [](const V& v, double fraction) {
        int gf = -1, gl = -1;
        const int len =
            traceOf(v).findWidestGap(0, static_cast<int>(v.size()) - 1, fraction, gf, gl);
        return Gap{len, gf, gl};
    };
    EXPECT_EQ(gap({9, 8, 7, 6, 5, 4}, 0.5), Gap({0, -1, -1}));
    // The threshold follows the highest sample seen outside gaps (60, then
    // 100), so the 20s form a gap once 60 has been passed.
    EXPECT_EQ(gap({100, 20, 20, 20, 60, 100, 0, 0, 10, 0, 1}, 0.5), Gap({4, 0, 3}));
    // The sample that closes a gap is not looked at again: 40 sets the
    // threshold to 20, so the 30s open no gap.
    EXPECT_EQ(gap({100, 30, 30, 30, 40, 100, 0, 0, 10, 0, 1}, 0.5), Gap({3, 5, 7}));
}

// A valley between two peaks on a raised background; with a 6-sample
// segment window the tent from 0 through the valley floor (9) to 18 goes.
TEST(Baseline, SegmentTentRemoval) {
    const V v = {0,  50, 100, 50,  20, 19, 18, 17, 16, 15, 16, 17, 18,
                 19, 20, 50,  100, 50, 0,  0,  0,  0,  0,  0,  0,  0};
    KwTrace t = traceOf(v);
    t.deBaselineSeq();
    const double h = 15.0 * 0.9999999999;
    EXPECT_EQ(t[0], 0.0);
    EXPECT_DOUBLE_EQ(t[4], 20.0 - 4 * h / 9);
    EXPECT_NEAR(t[9], 15.0e-10, 1e-13);
    EXPECT_DOUBLE_EQ(t[10], 16.0 - 8 * h / 9);
    EXPECT_DOUBLE_EQ(t[16], 100.0 - 2 * h / 9);
    EXPECT_EQ(t.getMaxData(18, 25), 0.0);
    EXPECT_GE(t.getMinData(0, 25), 0.0);
    // No segment window, or no near-zero sample at all: nothing moves.
    V raised = v;
    for (double& x : raised) x += 1.0;
    for (double rate : {0.1, 0.0, double(NAN), 1.0}) {
        KwTrace u = traceOf(rate == 1.0 ? raised : v, rate);
        u.deBaselineSeq();
        EXPECT_EQ(samplesOf(u), rate == 1.0 ? raised : v);
    }
}

// Real runs: past the head (shifted, not tilted) every sample lies on or
// above the chords, to within their slope tolerance.
TEST(Baseline, RealRuns) {
    for (const char* name : {"3730.ab1", "310.ab1"}) {
        kw::AbifRun run;
        if (!kwtest::readShared(name, run)) GTEST_SKIP() << "instrument file absent: " << name;
        ASSERT_TRUE(run.ok()) << run.error;
        KwCap cap = kwtest::capOf(run);
        const int head = static_cast<int>(5.0 * run.samplingRate) / 2;
        for (int code = 0; code < cap.getNumTraces(); ++code) {
            KwTrace* t = cap.getPnterToTrace(code);
            ASSERT_EQ(t->deBaseline(1), 1) << name << " trace " << code;
            EXPECT_GE(t->getMinData(head + 1, run.numScans - 1), -1e-6) << name << " " << code;
            EXPECT_GT(t->getMaxData(0, run.numScans - 1), 50.0) << name << " " << code;
        }
    }
}
