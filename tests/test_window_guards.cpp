// Trace and capillary operations whose signal window (or range) reaches
// outside the samples: past the last sample, before the first, reversed, or
// on an empty trace. Nothing may be read or changed there (the sanitizer
// build checks the reads), and each operation gives its "nothing found"
// answer. A full window is the control that the guards let real work through.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "kwsignal/separation.h"
#include "synthetic.h"

namespace {

constexpr int kN = 2000;
constexpr double kRate = 4.0;  // 2000 samples are over eight minutes

// Reaches the capillary's own colour separation.
struct SepCap : KwCap {
    using KwCap::KwCap;
    using KwCap::specSep;
};

// Three Gaussian peaks on a low noisy floor.
std::vector<double> peaks(uint32_t seed) {
    std::vector<double> v(kN, 5.0);
    kwtest::addGaussian(v, 400.0, 900.0, 4.0);
    kwtest::addGaussian(v, 1000.0, 600.0, 5.0);
    kwtest::addGaussian(v, 1700.0, 300.0, 6.0);
    kwtest::addNoise(v, 1.0, seed);
    return v;
}

// Windows that are not a range of samples of a kN-sample trace.
const std::vector<std::pair<int, int>> kBadWindows = {
    {0, kN}, {0, kN + 1000}, {1500, kN + 1}, {-5, kN - 1}, {-1000, 100}, {700, 300},
};

// A trace of those peaks with the full window 0..kN-1.
KwTrace fullTrace() {
    return kwtest::traceOf(peaks(3), kRate);
}

// Every operation that works on the window or on a range taken from it;
// the trace must keep its samples.
void expectNothingDone(KwTrace& t, int start, int end) {
    const std::vector<double> before = kwtest::samplesOf(t);
    const int n = t.getNumData();
    EXPECT_EQ(t.deBaseline(1), 0);
    t.deBaselineSeq();
    t.setNoiseLevel(7.0);
    t.findNoiseLevel(start);
    EXPECT_EQ(t.getNoiseLevel(), 7.0);
    t.setNoiseLevelForNormalized(1e9);
    EXPECT_EQ(t.getNoiseLevel(), -1.0);
    t.setMinumHeight();
    EXPECT_EQ(t.getMinumHeight(), 0.0);
    EXPECT_EQ(t.averagedPkHeight(start, end, 0.3, 0.0), 0.0);
    t.envelopeNormalize(5, 100.0, end, 0.0);
    t.envelopeNormalize(5, 100.0, n - 1, 0.0);
    int count = 9;
    double width = 3.5;
    t.determinePeakWidthForNormalizedData(start, end, 50.0, count, width);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(width, 3.5);
    for (int pos : {start, end, 400, n - 1, n + 10}) {
        int s = -7, e = -7;
        EXPECT_EQ(t.detectPeak(pos, s, e, 1), -1.0) << pos;
        EXPECT_EQ(t.detectPeak(pos, s, e, -1), -1.0) << pos;
        EXPECT_EQ(s + e, -14);
        EXPECT_EQ(t.scanIsMaximum(pos) + t.scanIsMinimum(pos), 0) << pos;
    }
    int s = -7, e = -7;
    // A reversed range reads nothing and reports the empty run.
    EXPECT_EQ(t.findWidestEvent(start, end, 50.0, s, e), start <= end ? 0 : 1);
    EXPECT_EQ(s + e, -14);
    // Either order is a range here; only one reaching outside is refused.
    if (std::min(start, end) < 0 || std::max(start, end) >= n) {
        EXPECT_EQ(t.getInflexionPnt(start, end, 2.0), start);
        EXPECT_EQ(t.getInflexionPnt(end, start, 2.0), end);
    }
    t.zeroMinimum();
    t.shift(10, 20, 3);
    EXPECT_EQ(t.norm1(), 0.0);
    EXPECT_EQ(t.normalizeL1(), 1.0);
    EXPECT_EQ(kwtest::samplesOf(t), before);
}

}  // namespace

TEST(WindowGuards, TraceWindowOutsideTheSamplesChangesNothing) {
    for (const auto& [start, end] : kBadWindows) {
        SCOPED_TRACE(testing::Message() << "window " << start << ".." << end);
        KwTrace t = fullTrace();
        t.setMinumHeight();  // a real height first, so that its reset shows
        ASSERT_GT(t.getMinumHeight(), 0.0);
        t.setSignalStartPnt(start);
        t.setSignalEndPnt(end);
        expectNothingDone(t, start, end);
    }
    // A window inside the samples with an envelope end past them.
    KwTrace t = fullTrace();
    const std::vector<double> before = kwtest::samplesOf(t);
    t.envelopeNormalize(5, 100.0, kN, 0.0);
    t.envelopeNormalize(1, 100.0, kN + 1000, 0.0);
    EXPECT_EQ(kwtest::samplesOf(t), before);
}

TEST(WindowGuards, EmptyTraceChangesNothing) {
    KwTrace plain;  // window 0..0 on no samples
    expectNothingDone(plain, 0, 0);
    KwTrace sized(0);  // window 0..-1
    expectNothingDone(sized, 0, 5);
    EXPECT_EQ(sized.getInflexionPnt(3, 3, 1.0), 3);
    EXPECT_EQ(plain.getNumData() + sized.getNumData(), 0);
}

// The control: the same operations on the full window (ending on the last
// sample) do their work.
TEST(WindowGuards, FullWindowStillWorks) {
    KwTrace t = fullTrace();
    t.setMinumHeight();
    EXPECT_GT(t.getMinumHeight(), 0.0);
    t.setNoiseLevelForNormalized(1e9);
    EXPECT_GT(t.getNoiseLevel(), 0.0);
    EXPECT_GT(t.averagedPkHeight(0, kN - 1, 0.3, 0.0), 500.0);
    EXPECT_EQ(t.scanIsMaximum(400) + t.scanIsMaximum(399), 1);
    int count = 0;
    double width = 0.0;
    t.determinePeakWidthForNormalizedData(0, kN - 1, 250.0, count, width);
    EXPECT_EQ(count, 3);
    int s = -1, e = -1;
    EXPECT_EQ(t.findWidestEvent(0, kN - 1, 250.0, s, e), 1);
    EXPECT_GT(t.detectPeak(390, s, e, 1), 0.0);
    EXPECT_GT(t.norm1(), 0.0);
    const std::vector<double> before = kwtest::samplesOf(t);
    EXPECT_EQ(t.deBaseline(1), 1);
    EXPECT_NE(kwtest::samplesOf(t), before);
}

TEST(WindowGuards, CapillaryWindowOutsideTheSamplesChangesNothing) {
    std::vector<std::vector<double>> rows;
    for (uint32_t k = 0; k < 4; ++k) rows.push_back(peaks(10 + k));
    for (const auto& [start, end] : kBadWindows) {
        SCOPED_TRACE(testing::Message() << "window " << start << ".." << end);
        SepCap cap = kwtest::makeCap<SepCap>(rows, kRate);
        cap.setSignalStartPnt(start);
        cap.setSignalEndPnt(end);
        const SepCap before(cap);
        auto expectUnchanged = [&] {
            for (int k = 0; k < 4; ++k)
                EXPECT_EQ(kwtest::samplesOf(*cap.getPnterToTrace(k)),
                          kwtest::samplesOf(*before.getPnterToTrace(k)));
        };

        EXPECT_EQ(cap.deBaseline(1), 0);
        EXPECT_EQ(cap.envelopeNormalize(kN - 1), 0.0);
        double factors[4];
        cap.normalizeL1(factors);
        for (double f : factors) EXPECT_EQ(f, 1.0);
        EXPECT_EQ(cap.mostProbableRatioOf(1, 0, 0.95), 0.0);
        int chosen[4] = {0, 0, 0, 0};
        EXPECT_EQ(cap.getMostStrikingChnl(chosen), -1);
        EXPECT_EQ(chosen[0] + chosen[1] + chosen[2] + chosen[3], 0);
        KwCrossTalkTable xtalk(4);
        EXPECT_EQ(xtalk.measureFrom(cap), 0);
        EXPECT_EQ(xtalk.measureFrom1(cap), -1.0);
        EXPECT_EQ(cap.specSep(0.01, nullptr, nullptr, 3.0, 0), 0);
        EXPECT_EQ(cap.specSep(0.01, nullptr, nullptr, 3.0, 1), 0);
        expectUnchanged();
    }
    // Windows inside the samples with an envelope end past them.
    SepCap cap = kwtest::makeCap<SepCap>(rows, kRate);
    const SepCap before(cap);
    cap.envelopeNormalize(kN);
    cap.envelopeNormalize(kN + 1000);
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(kwtest::samplesOf(*cap.getPnterToTrace(k)),
                  kwtest::samplesOf(*before.getPnterToTrace(k)));
}
