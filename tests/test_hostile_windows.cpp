// Hostile windows and samples. A trace or capillary operation handed a
// signal window (or range) that is not a range of its samples - past the
// last sample, before the first, reversed, or on an empty trace - must read
// and change nothing and give its "nothing found" answer; on the full window
// the same operation must do its work, the control that the guards let real
// work through. Random traces with NaN, infinities and flat stretches, with
// random windows and arguments, must end and keep the window inside the
// array. The sanitizer build checks every read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "kwsignal/separation.h"
#include "synthetic.h"

namespace {

constexpr int kN = 2000;
constexpr double kRate = 4.0;  // 2000 samples are over eight minutes
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Reaches the capillary's own colour separation.
struct SepCap : KwCap {
    using KwCap::KwCap;
    using KwCap::specSep;
};

// Windows that are not a range of samples of a kN-sample trace.
const std::vector<std::pair<int, int>> kBadWindows = {
    {0, kN}, {0, kN + 1000}, {1500, kN + 1}, {-5, kN - 1}, {-1000, 100}, {700, 300},
};

// Three Gaussian peaks on a low noisy floor, over the full window.
KwTrace fullTrace() {
    std::vector<double> v(kN, 5.0);
    kwtest::addGaussian(v, 400.0, 900.0, 4.0);
    kwtest::addGaussian(v, 1000.0, 600.0, 5.0);
    kwtest::addGaussian(v, 1700.0, 300.0, 6.0);
    kwtest::addNoise(v, 1.0, 3);
    return kwtest::traceOf(v, kRate);
}

// Four dyes of isolated peaks with a little cross-talk, over the full window.
SepCap fullCap() {
    std::vector<std::vector<double>> mixing(4, std::vector<double>(4, 0.1));
    for (int k = 0; k < 4; ++k) mixing[k][k] = 1.0;
    const auto peaks = kwtest::randomPeaks(kN, 4, 40.0, 4.0, 10);
    return kwtest::makeCap<SepCap>(kwtest::mix(kwtest::pureDyes(kN, 4, peaks), mixing, 1.0, 11),
                                   kRate);
}

// An operation on a trace with window start..end and the answer it must
// give when that window is not a range of samples.
struct TraceOp {
    const char* name;
    double refused;
    std::function<double(KwTrace&, int, int)> run;
};

const TraceOp kTraceOps[] = {
    {"deBaseline", 0.0, [](KwTrace& t, int, int) { return t.deBaseline(1); }},
    {"deBaselineSeq", 0.0,
     [](KwTrace& t, int, int) {
         t.deBaselineSeq();
         return 0.0;
     }},
    {"findNoiseLevel", 7.0,
     [](KwTrace& t, int start, int) {
         t.setNoiseLevel(7.0);
         t.findNoiseLevel(start);
         return t.getNoiseLevel();
     }},
    {"setNoiseLevelForNormalized", -1.0,
     [](KwTrace& t, int, int) {
         t.setNoiseLevelForNormalized(1e9);
         return t.getNoiseLevel();
     }},
    {"setMinumHeight", 0.0,
     [](KwTrace& t, int, int) {
         t.setMinumHeight();
         return t.getMinumHeight();
     }},
    {"averagedPkHeight", 0.0,
     [](KwTrace& t, int start, int end) { return t.averagedPkHeight(start, end, 0.3, 0.0); }},
    {"envelopeNormalize", 0.0,
     [](KwTrace& t, int, int end) {
         t.envelopeNormalize(5, 100.0, end, 0.0);
         t.envelopeNormalize(5, 100.0, t.getNumData() - 1, 0.0);
         return 0.0;
     }},
    {"determinePeakWidthForNormalizedData", 3.5,  // no excursion, width untouched
     [](KwTrace& t, int start, int end) {
         int count = 9;
         double width = 3.5;
         t.determinePeakWidthForNormalizedData(start, end, 50.0, count, width);
         return count == 0 ? width : -1.0;
     }},
    {"detectPeak", -1.0,  // at and beyond the window's ends, both ways
     [](KwTrace& t, int start, int end) {
         double best = -1.0;
         for (int pos : {start, end, 400, t.getNumData() - 1, t.getNumData() + 10}) {
             for (int dir : {1, -1}) {
                 int s = -7, e = -7;
                 best = std::max(best, t.detectPeak(pos, s, e, dir));
                 if (s != -7 || e != -7) return 1.0;  // bounds written: something found
             }
         }
         return best;
     }},
    {"scanIsMaximum/Minimum", 0.0,
     [](KwTrace& t, int start, int end) {
         int found = 0;
         for (int pos : {start, end, 399, 400, t.getNumData() - 1, t.getNumData() + 10})
             found += t.scanIsMaximum(pos) + t.scanIsMinimum(pos);
         return found;
     }},
    {"findWidestEvent", 0.0,
     [](KwTrace& t, int start, int end) {
         int s = -7, e = -7;
         // A reversed range reads nothing and reports the empty run (1).
         const int found = t.findWidestEvent(start, end, 50.0, s, e) - (start > end ? 1 : 0);
         return s == -7 && e == -7 ? found : 1.0;
     }},
    {"zeroMinimum, shift", 0.0,
     [](KwTrace& t, int, int) {
         t.zeroMinimum();
         t.shift(10, 20, 3);
         return 0.0;
     }},
    {"trippleMexicanHatFilter", 0.0,
     [](KwTrace& t, int, int) {
         t.trippleMexicanHatFilter(3.0, 3.0);
         return 0.0;
     }},
    {"norm1", 0.0, [](KwTrace& t, int, int) { return t.norm1(); }},
    {"normalizeL1", 1.0, [](KwTrace& t, int, int) { return t.normalizeL1(); }},
};

// The same for a capillary (its window is set on the capillary).
struct CapOp {
    const char* name;
    double refused;
    std::function<double(SepCap&)> run;
};

const CapOp kCapOps[] = {
    {"deBaseline", 0.0, [](SepCap& c) { return c.deBaseline(1); }},
    {"envelopeNormalize", 0.0, [](SepCap& c) { return c.envelopeNormalize(kN - 1); }},
    {"normalizeL1", 1.0,  // 1.0: every factor 1
     [](SepCap& c) {
         double f[4];
         c.normalizeL1(f);
         return std::count(f, f + 4, 1.0) == 4 ? 1.0 : 0.0;
     }},
    {"mostProbableRatioOf", 0.0, [](SepCap& c) { return c.mostProbableRatioOf(1, 0, 0.95); }},
    {"getMostStrikingChnl", -1.0,
     [](SepCap& c) {
         int chosen[4] = {0, 0, 0, 0};
         const int d = c.getMostStrikingChnl(chosen);
         return chosen[0] + chosen[1] + chosen[2] + chosen[3] == (d >= 0 ? 1 : 0) ? d : 99;
     }},
    {"measureFrom", 0.0, [](SepCap& c) { return KwCrossTalkTable(4).measureFrom(c); }},
    {"measureFrom1", -1.0, [](SepCap& c) { return KwCrossTalkTable(4).measureFrom1(c); }},
    {"specSep plain", 0.0, [](SepCap& c) { return c.specSep(0.01, nullptr, nullptr, 3.0, 0); }},
    {"specSep robust", 0.0, [](SepCap& c) { return c.specSep(0.01, nullptr, nullptr, 3.0, 1); }},
};

std::vector<std::vector<double>> samplesOf(const KwCap& cap) {
    std::vector<std::vector<double>> rows;
    for (int k = 0; k < cap.getNumTraces(); ++k)
        rows.push_back(kwtest::samplesOf(*cap.getPnterToTrace(k)));
    return rows;
}

}  // namespace

TEST(HostileWindows, TraceWindowOutsideTheSamplesIsRefused) {
    struct Case {
        KwTrace trace;
        int start, end;
    };
    std::vector<Case> cases;
    for (const auto& [start, end] : kBadWindows) {
        KwTrace t = fullTrace();
        t.setMinumHeight();  // a real height first, so that its reset shows
        t.setSignalStartPnt(start);
        t.setSignalEndPnt(end);
        cases.push_back({t, start, end});
    }
    cases.push_back({KwTrace(), 0, 0});   // window 0..0 on no samples
    cases.push_back({KwTrace(0), 0, 5});  // window 0..-1
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "window " << c.start << ".." << c.end << " of " << c.trace.getNumData());
        for (const TraceOp& op : kTraceOps) {
            KwTrace t(c.trace);
            EXPECT_EQ(op.run(t, c.start, c.end), op.refused) << op.name;
            EXPECT_EQ(kwtest::samplesOf(t), kwtest::samplesOf(c.trace)) << op.name;
        }
        // Either order is a range here; only one reaching outside is refused.
        if (std::min(c.start, c.end) < 0 || std::max(c.start, c.end) >= c.trace.getNumData()) {
            EXPECT_EQ(c.trace.getInflexionPnt(c.start, c.end, 2.0), c.start);
            EXPECT_EQ(c.trace.getInflexionPnt(c.end, c.start, 2.0), c.end);
        }
    }
    EXPECT_EQ(KwTrace(0).getInflexionPnt(3, 3, 1.0), 3);

    // A window inside the samples with an envelope end past them.
    KwTrace t = fullTrace();
    const std::vector<double> before = kwtest::samplesOf(t);
    t.envelopeNormalize(5, 100.0, kN, 0.0);
    t.envelopeNormalize(1, 100.0, kN + 1000, 0.0);
    EXPECT_EQ(kwtest::samplesOf(t), before);
}

TEST(HostileWindows, CapillaryWindowOutsideTheSamplesIsRefused) {
    for (const auto& [start, end] : kBadWindows) {
        SCOPED_TRACE(testing::Message() << "window " << start << ".." << end);
        SepCap cap = fullCap();
        cap.setSignalStartPnt(start);
        cap.setSignalEndPnt(end);
        for (const CapOp& op : kCapOps) {
            SepCap c(cap);
            EXPECT_EQ(op.run(c), op.refused) << op.name;
            EXPECT_EQ(samplesOf(c), samplesOf(cap)) << op.name;
        }
    }
    // A window inside the samples with an envelope end past them.
    SepCap cap = fullCap();
    const auto before = samplesOf(cap);
    cap.envelopeNormalize(kN);
    cap.envelopeNormalize(kN + 1000);
    EXPECT_EQ(samplesOf(cap), before);
}

// The control: on the full window (ending on the last sample) every
// operation answers otherwise or changes the samples. This trace holds no
// tent for deBaselineSeq to lift; Baseline.SegmentTentRemoval is its control.
TEST(HostileWindows, FullWindowStillWorks) {
    const KwTrace trace = fullTrace();
    for (const TraceOp& op : kTraceOps) {
        if (std::string(op.name) == "deBaselineSeq") continue;
        KwTrace t(trace);
        const double answer = op.run(t, 0, kN - 1);
        EXPECT_TRUE(answer != op.refused || kwtest::samplesOf(t) != kwtest::samplesOf(trace))
            << op.name;
    }
    const SepCap cap = fullCap();
    for (const CapOp& op : kCapOps) {
        SepCap c(cap);
        const double answer = op.run(c);
        EXPECT_TRUE(answer != op.refused || samplesOf(c) != samplesOf(cap)) << op.name;
    }
}

// Random traces with NaN, infinities and flat stretches, random windows and
// arguments: every trace operation returns, stays inside the array (checked
// under the sanitizers) and leaves the window inside it.
TEST(HostileWindows, RandomTracesAndArgumentsStayInside) {
    using Op = std::function<void(KwTrace&, int, int, double)>;
    int count = 0, s = 0, e = 0;
    double width = 0.0;
    // Operations that take any window (even past the array) and any range.
    const std::vector<Op> anyRange = {
        [](KwTrace& t, int, int, double x) { t.cleaning(x, 1); },
        [](KwTrace& t, int a, int, double) { t.deAnomalousNegativePeaks(a & 1); },
        [](KwTrace& t, int a, int b, double) { t.deAnomalousHighPk(a, b); },
        [](KwTrace& t, int, int, double) { t.deAnomalousHighPkAtBeginning(); },
        [](KwTrace& t, int, int, double) { t.fixScar(); },
        [](KwTrace& t, int, int, double) { t.smoothingDips(); },
        [](KwTrace& t, int a, int b, double) { t.removeSection(a, b, a & 1); },
        [](KwTrace& t, int a, int b, double x) { t.replaceWithParabola(a, b, x); },
        [](KwTrace& t, int a, int, double x) { t.markTheEnds(a & 1 ? kNaN : x / 100.0, 1); },
        [](KwTrace& t, int a, int b, double x) { t.detectFirstEvent(a, b, x, a & 1 ? 1 : -1); },
        [](KwTrace& t, int a, int b, double x) { t.extendBoundaries(a, b, x); },
        [](KwTrace& t, int, int, double) { t.zeroDataAtEnds(); },
        [](KwTrace& t, int a, int b, double) { t.findPlateauRegion(a, b); },
        [](KwTrace& t, int a, int b, double x) { t.detectBigTail(a, b, b - a, a % 30, x, a, b); },
    };
    // Operations given a window and a range inside a non-empty array.
    const std::vector<Op> inRange = {
        [](KwTrace& t, int a, int, double) { t.deBaseline(a & 3); },
        [](KwTrace& t, int, int, double) { t.deBaselineSeq(); },
        [](KwTrace& t, int a, int, double) { t.findNoiseLevel(a), t.setMinumHeight(); },
        [](KwTrace& t, int, int, double x) { t.setNoiseLevelForNormalized(x); },
        [&](KwTrace& t, int a, int b, double x) {
            t.determinePeakWidthForNormalizedData(a, b, x, count, width);
        },
        [](KwTrace& t, int a, int b, double x) { t.averagedPkHeight(a, b, 0.3, x); },
        [](KwTrace& t, int a, int b, double x) { t.envelopeNormalize(a & 7, x, b, 0.0); },
        [](KwTrace& t, int a, int b, double) { t.smoothing(a, b); },
        [](KwTrace& t, int, int, double x) { t.trippleMexicanHatFilter(x / 10.0, x / 5.0); },
        [&](KwTrace& t, int a, int, double) { t.detectPeak(a, s, e, a & 1 ? 1 : -1); },
        [&](KwTrace& t, int a, int b, double x) { t.findWidestEvent(a, b, x, s, e); },
        [](KwTrace& t, int a, int b, double x) { t.getInflexionPnt(a, b, x); },
    };
    std::mt19937 rng(5);
    const double specials[] = {kNaN, HUGE_VAL, -HUGE_VAL, 0.0, -1e308};
    const double rates[] = {0.0, 1.0, 4.0, -3.0, 1e9, kNaN};
    std::normal_distribution<double> val(10.0, 20.0);
    for (int round = 0; round < 300; ++round) {
        const int n = static_cast<int>(rng() % 300);
        std::vector<double> v(n);
        for (double& x : v) x = val(rng);
        for (int k = 0; k < n / 20; ++k) v[rng() % n] = specials[rng() % 5];
        if (round % 3 == 0) std::fill(v.begin(), v.begin() + n / 2, 7.0);
        if (round % 11 == 0) std::fill(v.begin(), v.end(), kNaN);
        const bool badWindow = round % 7 == 0;
        std::uniform_int_distribution<int> idx(-5, n + 5), inside(0, std::max(n - 1, 0));
        for (size_t k = 0; k < anyRange.size() + inRange.size(); ++k) {
            const bool ranged = k >= anyRange.size();
            if (ranged && (n == 0 || badWindow)) continue;
            KwTrace t = kwtest::traceOf(v, rates[rng() % 6]);
            if (n > 0) {
                const int start = static_cast<int>(rng() % n);
                t.setSignalStartPnt(start);
                t.setSignalEndPnt(badWindow ? n + 3
                                            : start + static_cast<int>(rng() % (n - start)));
            }
            auto& pick = ranged ? inside : idx;
            const int a = pick(rng), b = pick(rng);
            (ranged ? inRange[k - anyRange.size()] : anyRange[k])(t, a, b, val(rng));
            if (n == 0 || badWindow) continue;
            EXPECT_GE(t.getSignalStartPnt(), 0);
            EXPECT_LE(t.getSignalStartPnt(), n);  // cleaning may blank past the end
            EXPECT_LE(t.getSignalEndPnt(), n - 1);
        }
    }
}
