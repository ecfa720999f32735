// Baseline removal: chord baseline, dip flooring, widest gap and tent removal.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "kwsignal/abif.h"
#include "synthetic.h"

namespace {

class TestTrace : public KwTrace {
public:
    using KwTrace::deAnomaliousDip;
    using KwTrace::findWidestGap;
    using KwTrace::KwTrace;
};

TestTrace makeTrace(const std::vector<double>& v, double rate) {
    TestTrace t(static_cast<int>(v.size()), v.data());
    t.setSampleRate(rate);
    return t;
}

std::vector<double> samples(const KwTrace& t) {
    return std::vector<double>(t.getData(), t.getData() + t.getNumData());
}

TEST(Baseline, SteepestPointTiesAndShortRanges) {
    TestTrace t = makeTrace({6, 4, 2, 0, 1, 2, 3, 4}, 1.0);
    EXPECT_EQ(t.getSteepestPnt(2, 2), 2);
    EXPECT_EQ(t.getSteepestPnt(2, 3), 3);
    EXPECT_EQ(t.getSteepestPnt(0, 3), 3);  // falling: equal slopes take the later sample
    EXPECT_EQ(t.getSteepestPnt(3, 7), 4);  // rising: equal slopes keep the earlier sample
    EXPECT_EQ(t.getSteepestPnt(1, 5), 3);  // the chord to the valley floor is lowest
}

// Straight lines show the head, chord and tail steps of deBaseline: w = 5
// samples at 1 Hz, window 10..89 inside a 100-sample array.
TEST(Baseline, StraightLines) {
    for (double k : {2.0, -2.0}) {
        std::vector<double> v(100);
        for (int i = 0; i < 100; ++i) v[i] = 1000.0 + k * i;
        TestTrace t = makeTrace(v, 1.0);
        t.setSignalStartPnt(10);
        t.setSignalEndPnt(89);
        ASSERT_EQ(t.deBaseline(1), 1);
        for (int i = 0; i < 10; ++i) EXPECT_EQ(t[i], v[i]);
        for (int i = 90; i < 100; ++i) EXPECT_EQ(t[i], v[i]);
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
    std::vector<double> v(30);
    for (int i = 0; i < 30; ++i) v[i] = 100.0 - i;
    for (double rate : {4.0, 0.1, 0.0, -3.0, std::numeric_limits<double>::quiet_NaN()}) {
        TestTrace t = makeTrace(v, rate);  // rate 4: w = 20, 2w > 30
        EXPECT_EQ(t.deBaseline(1), 0) << rate;
        EXPECT_EQ(samples(t), v) << rate;
    }
    TestTrace t = makeTrace(v, 1.0);
    EXPECT_EQ(t.deBaseline(0), 0);
    EXPECT_EQ(t.deBaseline(4), 0);  // w = 20
    EXPECT_EQ(samples(t), v);
    EXPECT_EQ(t.deBaseline(3), 1);  // w = 15 fits exactly twice
}

TEST(Baseline, CapillaryStopsAtFirstFailingTrace) {
    std::vector<std::vector<double>> rows(4, std::vector<double>(200));
    for (auto& r : rows)
        for (int i = 0; i < 200; ++i) r[i] = 50.0 + 0.5 * i;
    KwCap cap = kwtest::makeCap(rows, 1.0);
    cap.getPnterToTrace(1)->setSampleRate(30.0);  // w = 150: does not fit
    EXPECT_EQ(cap.deBaseline(1), 0);
    EXPECT_NEAR(cap(0, 100), 0.0, 1e-9);
    EXPECT_EQ(cap(1, 100), rows[1][100]);
    EXPECT_EQ(cap(2, 100), rows[2][100]);
    EXPECT_EQ(cap(3, 100), rows[3][100]);
    KwCap empty;
    EXPECT_EQ(empty.deBaseline(1), 1);
}

// Gaussian peaks on a falling exponential plus a rising line, with a little
// noise: after deBaseline the peak-free stretches lie within 1 % of the peak
// height of zero and the peaks keep their height.
TEST(Baseline, RemovesSlowDriftUnderPeaks) {
    const int n = 6000;
    const double height = 1000.0, sigma = 3.0;
    std::vector<double> y(n, 0.0), centres;
    for (double c = 40; c < n - 40; c += 60) {
        centres.push_back(c);
        kwtest::addGaussian(y, c, height, sigma);
    }
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 1.0);
    for (int i = 0; i < n; ++i)
        y[i] += 200.0 + 0.05 * i + 2000.0 * std::exp(-i / 1500.0) + noise(rng);
    TestTrace t = makeTrace(y, 3.0);
    ASSERT_EQ(t.deBaseline(2), 1);  // w = 30 samples, wider than a peak

    for (int i = 0; i < n; ++i) {
        double d = n;
        for (double c : centres) d = std::min(d, std::fabs(i - c));
        if (d > 5.0 * sigma) {
            ASSERT_LE(std::fabs(t[i]), 0.01 * height) << i;
        }
    }
    for (double c : centres) {
        const int i = static_cast<int>(std::lround(c));
        EXPECT_NEAR(t.getMaxData(i - 1, i + 1), height, 0.01 * height) << c;
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
    TestTrace t = makeTrace(block(19), 1.0);  // 20 low dips with the spike
    t.deAnomaliousDip(201);
    // Floor: 40 % of the way from the mean low dip (-5) to the spike.
    const double meanLow = -5.0 + 1.0e-8;  // low dips are counted lifted by 1e-8
    EXPECT_NEAR(t[101], meanLow - 0.40000001 * (meanLow + 100.0), 1e-10);
    EXPECT_EQ(t[3], 0.0);

    const std::vector<double> v = block(18);  // 19 low dips: the spike stays
    TestTrace u = makeTrace(v, 1.0);
    u.deAnomaliousDip(201);
    EXPECT_EQ(samples(u), v);

    // Samples at the array ends have a single neighbour and are no dips: the
    // block below has none, so nothing is floored (and nothing is read past
    // the array).
    const std::vector<double> vee = {0.0, 5.0, 10.0, 5.0, -50.0};
    TestTrace e = makeTrace(vee, 1.0);
    e.deAnomaliousDip(2);
    EXPECT_EQ(samples(e), vee);
}

TEST(Baseline, WidestGap) {
    int gf = -1, gl = -1;
    TestTrace falling = makeTrace({9, 8, 7, 6, 5, 4}, 1.0);
    EXPECT_EQ(falling.findWidestGap(0, 5, 0.5, gf, gl), 0);
    EXPECT_EQ(gf, -1);

    // The threshold follows the highest sample seen outside gaps (60, then
    // 100), so the 20s form a gap once 60 has been passed.
    TestTrace rising = makeTrace({100, 20, 20, 20, 60, 100, 0, 0, 10, 0, 1}, 1.0);
    EXPECT_EQ(rising.findWidestGap(0, 10, 0.5, gf, gl), 4);
    EXPECT_EQ(gf, 0);
    EXPECT_EQ(gl, 3);

    // The sample that closes a gap is not looked at again for a new peak or
    // a new gap: 40 sets the threshold to 20, so the 30s open no gap.
    TestTrace closing = makeTrace({100, 30, 30, 30, 40, 100, 0, 0, 10, 0, 1}, 1.0);
    EXPECT_EQ(closing.findWidestGap(0, 10, 0.5, gf, gl), 3);
    EXPECT_EQ(gf, 5);
    EXPECT_EQ(gl, 7);
}

// A valley between two peaks, 8 samples wide at half their height, sits on a
// raised background; with a 6-sample segment window (1 Hz) the tent from
// sample 0 through the valley floor (sample 9) to sample 18 is removed.
TEST(Baseline, SegmentTentRemoval) {
    const std::vector<double> v = {0,  50, 100, 50,  20, 19, 18, 17, 16, 15, 16, 17, 18,
                                   19, 20, 50,  100, 50, 0,  0,  0,  0,  0,  0,  0,  0};
    TestTrace t = makeTrace(v, 1.0);
    t.deBaselineSeq();
    const double h = 15.0 * 0.9999999999;
    EXPECT_EQ(t[0], 0.0);
    EXPECT_DOUBLE_EQ(t[4], 20.0 - 4 * h / 9);
    EXPECT_NEAR(t[9], 15.0e-10, 1e-13);
    EXPECT_DOUBLE_EQ(t[10], 16.0 - 8 * h / 9);
    EXPECT_DOUBLE_EQ(t[16], 100.0 - 2 * h / 9);
    for (int i = 18; i < 26; ++i) EXPECT_EQ(t[i], 0.0);
    for (int i = 0; i < 26; ++i) EXPECT_GE(t[i], 0.0);

    for (double rate : {0.1, 0.0, std::numeric_limits<double>::quiet_NaN()}) {
        TestTrace u = makeTrace(v, rate);  // no segment window: nothing moves
        u.deBaselineSeq();
        EXPECT_EQ(samples(u), v);
    }
    std::vector<double> raised = v;
    for (double& x : raised) x += 1.0;  // no near-zero sample at all
    TestTrace r = makeTrace(raised, 1.0);
    r.deBaselineSeq();
    EXPECT_EQ(samples(r), raised);
}

TEST(Baseline, NonFiniteSamplesDoNotDerail) {
    std::vector<double> v(300);
    for (int i = 0; i < 300; ++i) v[i] = 100.0 + 10.0 * std::sin(i * 0.3) - 0.1 * i;
    v[40] = std::numeric_limits<double>::quiet_NaN();
    v[41] = std::numeric_limits<double>::infinity();
    v[150] = -std::numeric_limits<double>::infinity();
    TestTrace t = makeTrace(v, 2.0);
    EXPECT_EQ(t.deBaseline(1), 1);
    t.deBaselineSeq();
    int gf = 0, gl = 0;
    t.findWidestGap(0, 299, 0.5, gf, gl);
}

// Real runs: every raw channel has its baseline removed; past the head
// (which is shifted, not tilted, and may stay below zero) every sample lies on
// or above the chords, to within their slope tolerance.
TEST(Baseline, RealRuns) {
    for (const char* name : {"3730.ab1", "310.ab1"}) {
        const std::string path = std::string(KWSIGNAL_SHARED_DATA) + "/abif/" + name;
        if (!std::ifstream(path).good()) GTEST_SKIP() << "instrument file absent: " << path;
        kw::AbifRun run = kw::readAbif(path);
        ASSERT_TRUE(run.ok()) << run.error;
        std::vector<double*> rows = run.rowPointers();
        KwCap cap(run.numTraces(), run.numScans, rows.data(), run.samplingRate);
        const int head = static_cast<int>(5.0 * run.samplingRate) / 2;
        for (int code = 0; code < cap.getNumTraces(); ++code) {
            KwTrace* t = cap.getPnterToTrace(code);
            ASSERT_EQ(t->deBaseline(1), 1) << name << " trace " << code;
            EXPECT_GE(t->getMinData(head + 1, run.numScans - 1), -1e-6) << name << " " << code;
            EXPECT_GT(t->getMaxData(0, run.numScans - 1), 50.0) << name << " " << code;
        }
    }
}

}  // namespace
