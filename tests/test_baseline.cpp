// Baseline removal: chord baseline, dip flooring, widest gap and tent removal.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "synthetic.h"

namespace {

using kwtest::samplesOf;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

class TestTrace : public KwTrace {
public:
    using KwTrace::deAnomaliousDip;
    using KwTrace::findWidestGap;
    using KwTrace::KwTrace;
};

TestTrace traceOf(const std::vector<double>& v, double rate = 1.0) {
    return kwtest::traceOf<TestTrace>(v, rate);
}

}  // namespace

// Straight lines show the head, chord and tail steps of deBaseline: w = 5
// samples at 1 Hz, window 10..89 inside a 100-sample array.
TEST(Baseline, StraightLines) {
    for (double k : {2.0, -2.0}) {
        const std::vector<double> v = kwtest::line(100, 1000.0, k);
        TestTrace t = traceOf(v);
        t.setSignalStartPnt(10);
        t.setSignalEndPnt(89);
        ASSERT_EQ(t.deBaseline(1), 1);
        for (int i : {0, 9, 90, 99}) EXPECT_EQ(t[i], v[i]);
        if (k > 0) {
            EXPECT_DOUBLE_EQ(t[10], -k);  // the head is shifted, not tilted
            for (int i = 11; i <= 84; ++i) EXPECT_NEAR(t[i], 0.0, 1e-9) << i;
            for (int i = 84; i <= 89; ++i) EXPECT_NEAR(t[i], k * (i - 84), 1e-9) << i;
        } else {
            EXPECT_DOUBLE_EQ(t[10], -2.0 * k);
            EXPECT_DOUBLE_EQ(t[11], -k);
            for (int i = 12; i <= 86; ++i) EXPECT_NEAR(t[i], 0.0, 1e-9) << i;
            for (int i = 87; i <= 89; ++i) EXPECT_NEAR(t[i], -k * (89 - i), 1e-9) << i;
        }
    }
}

TEST(Baseline, RefusesWindowsThatDoNotFit) {
    const std::vector<double> v = kwtest::line(30, 100.0, -1.0);
    for (double rate : {4.0, 0.1, 0.0, -3.0, kNaN}) {  // rate 4: w = 20, 2w > 30
        TestTrace t = traceOf(v, rate);
        EXPECT_EQ(t.deBaseline(1), 0) << rate;
        EXPECT_EQ(samplesOf(t), v) << rate;
    }
    TestTrace t = traceOf(v);
    EXPECT_EQ(t.deBaseline(0) + t.deBaseline(4), 0);  // w = 20
    EXPECT_EQ(samplesOf(t), v);
    EXPECT_EQ(t.deBaseline(3), 1);  // w = 15 fits exactly twice

    // A capillary stops at the first trace that refuses.
    std::vector<std::vector<double>> rows(4, kwtest::line(200, 50.0, 0.5));
    KwCap cap = kwtest::makeCap(rows, 1.0);
    cap.getPnterToTrace(1)->setSampleRate(30.0);  // w = 150: does not fit
    EXPECT_EQ(cap.deBaseline(1), 0);
    EXPECT_NEAR(cap(0, 100), 0.0, 1e-9);
    for (int c = 1; c < 4; ++c) EXPECT_EQ(cap(c, 100), 100.0);
    EXPECT_EQ(KwCap().deBaseline(1), 1);
}

// Gaussian peaks on a falling exponential plus a rising line, with a little
// noise: after deBaseline the peak-free stretches lie within 1 % of the peak
// height of zero and the peaks keep their height.
TEST(Baseline, RemovesSlowDriftUnderPeaks) {
    const int n = 6000;
    TestTrace t = traceOf(kwtest::driftingPeaks(n, 200.0, 2000.0, 1.0, 7), 3.0);
    ASSERT_EQ(t.deBaseline(2), 1);  // w = 30 samples, wider than a peak
    std::vector<bool> nearPeak(n, false);
    for (int c = 40; c < n - 40; c += 60) {
        EXPECT_NEAR(t.getMaxData(c - 1, c + 1), 1000.0, 10.0) << c;
        for (int i = c - 15; i <= c + 15; ++i) nearPeak[i] = true;
    }
    for (int i = 0; i < n; ++i)
        if (!nearPeak[i]) {
            ASSERT_LE(std::fabs(t[i]), 10.0) << i;
        }
}

// One block of 201 samples: tops of 20 at even samples, dips at odd ones
// (80 shallow dips of 10, some low dips of 0, one spike of -100). The spike
// is floored when it is rare enough among the low dips.
TEST(Baseline, DipFlooringNeedsRareDeepDips) {
    auto block = [](int numZeros) {
        std::vector<double> v(201, 20.0);
        for (int i = 1; i < 200; i += 2) v[i] = 10.0;
        for (int z = 0; z < numZeros; ++z) v[3 + 4 * z] = 0.0;
        v[101] = -100.0;
        return v;
    };
    TestTrace t = traceOf(block(19));  // 20 low dips with the spike
    t.deAnomaliousDip(201);
    // Floor: 40 % of the way from the mean low dip (-5) to the spike.
    const double meanLow = -5.0 + 1.0e-8;  // low dips are counted lifted by 1e-8
    EXPECT_NEAR(t[101], meanLow - 0.40000001 * (meanLow + 100.0), 1e-10);
    EXPECT_EQ(t[3], 0.0);

    // 19 low dips: the spike stays. Samples at the array ends have a single
    // neighbour and are no dips (nothing is read past the array).
    for (const std::vector<double>& v : {block(18), std::vector<double>{0, 5, 10, 5, -50}}) {
        TestTrace u = traceOf(v);
        u.deAnomaliousDip(v.size() == 5 ? 2 : 201);
        EXPECT_EQ(samplesOf(u), v);
    }
}

TEST(Baseline, WidestGap) {
    int gf = -1, gl = -1;
    EXPECT_EQ(traceOf({9, 8, 7, 6, 5, 4}).findWidestGap(0, 5, 0.5, gf, gl), 0);
    EXPECT_EQ(gf, -1);
    // The threshold follows the highest sample seen outside gaps (60, then
    // 100), so the 20s form a gap once 60 has been passed.
    EXPECT_EQ(traceOf({100, 20, 20, 20, 60, 100, 0, 0, 10, 0, 1}).findWidestGap(0, 10, 0.5, gf, gl),
              4);
    EXPECT_EQ(std::make_pair(gf, gl), std::make_pair(0, 3));
    // The sample that closes a gap is not looked at again for a new peak or
    // a new gap: 40 sets the threshold to 20, so the 30s open no gap.
    EXPECT_EQ(traceOf({100, 30, 30, 30, 40, 100, 0, 0, 10, 0, 1}).findWidestGap(0, 10, 0.5, gf, gl),
              3);
    EXPECT_EQ(std::make_pair(gf, gl), std::make_pair(5, 7));
}

// A valley between two peaks, 8 samples wide at half their height, sits on a
// raised background; with a 6-sample segment window (1 Hz) the tent from
// sample 0 through the valley floor (sample 9) to sample 18 is removed.
TEST(Baseline, SegmentTentRemoval) {
    const std::vector<double> v = {0,  50, 100, 50,  20, 19, 18, 17, 16, 15, 16, 17, 18,
                                   19, 20, 50,  100, 50, 0,  0,  0,  0,  0,  0,  0,  0};
    TestTrace t = traceOf(v);
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
    std::vector<double> raised = v;
    for (double& x : raised) x += 1.0;
    for (double rate : {0.1, 0.0, kNaN, 1.0}) {
        TestTrace u = traceOf(rate == 1.0 ? raised : v, rate);
        u.deBaselineSeq();
        EXPECT_EQ(samplesOf(u), rate == 1.0 ? raised : v);
    }
}

// Real runs: every raw channel has its baseline removed; past the head
// (which is shifted, not tilted, and may stay below zero) every sample lies on
// or above the chords, to within their slope tolerance.
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
