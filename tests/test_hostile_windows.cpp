// Hostile windows and samples: an operation handed a window that is not a
// range of its samples reads and changes nothing and answers "nothing found";
// on the full window it works. Random hostile traces and arguments end and
// keep the window inside the array (the sanitizer build checks every read).
#include <gtest/gtest.h>

#include <functional>
#include <limits>

#include "synthetic.h"

namespace {

constexpr int kN = 2000;
constexpr double kRate = 4.0;  // 2000 samples are over eight minutes
const double kNaN = std::numeric_limits<double>::quiet_NaN();

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
kwtest::Cap fullCap() {
    std::vector<std::vector<double>> mixing(4, std::vector<double>(4, 0.1));
    for (int k = 0; k < 4; ++k) mixing[k][k] = 1.0;
    const auto peaks = kwtest::randomPeaks(kN, 4, 40.0, 4.0, 10);
    return kwtest::makeCap<kwtest::Cap>(
        kwtest::mix(kwtest::pureDyes(kN, 4, peaks), mixing, 1.0, 11), kRate);
}

constexpr double kChanged = 1e300;  // the answer of an operation that changed samples

// What each trace operation answers on a fresh copy of t, handed the range
// s..e (t's window) where it takes one.
std::vector<double> traceAnswers(const KwTrace& t, int s, int e) {
    const int n = t.getNumData();
    std::vector<double> out;
    auto run = [&](const std::function<double(KwTrace&)>& op) {
        KwTrace w(t);
        const double answer = op(w);
        out.push_back(kwtest::samplesOf(w) == kwtest::samplesOf(t) ? answer : kChanged);
    };
    run([](KwTrace& w) { return w.deBaseline(1); });
    run([](KwTrace& w) {
        return w.setNoiseLevel(7.0), w.findNoiseLevel(w.getSignalStartPnt()), w.getNoiseLevel();
    });
    run([](KwTrace& w) { return w.setNoiseLevelForNormalized(1e9), w.getNoiseLevel(); });
    run([](KwTrace& w) { return w.setMinumHeight(), w.getMinumHeight(); });
    run([&](KwTrace& w) { return w.averagedPkHeight(s, e, 0.3, 0.0); });
    run([&](KwTrace& w) { return w.envelopeNormalize(5, 100.0, e, 0.0), 0.0; });
    run([&](KwTrace& w) { return w.envelopeNormalize(5, 100.0, n - 1, 0.0), 0.0; });
    run([](KwTrace& w) { return w.trippleMexicanHatFilter(3.0, 3.0), 0.0; });
    run([](KwTrace& w) { return w.zeroMinimum(), w.shift(10, 20, 3), 0.0; });
    run([](KwTrace& w) { return w.norm1(); });
    run([](KwTrace& w) { return w.normalizeL1(); });
    run([&](KwTrace& w) {  // the count, or -1 once the width is written
        int count = 9;
        double width = 3.5;
        w.determinePeakWidthForNormalizedData(s, e, 50.0, count, width);
        return width == 3.5 ? count : -1.0;
    });
    run([&](KwTrace& w) {  // the result, less 1 for a reversed range; 99 once bounds are written
        int a = -7, b = -7;
        const int found = w.findWidestEvent(s, e, 50.0, a, b) - (s > e ? 1 : 0);
        return a == -7 && b == -7 ? found : 99.0;
    });
    run([](KwTrace& w) { return w.deBaselineSeq(), 0.0; });
    // At the window's ends, on a peak and beyond the array.
    for (int pos : {s, e, 399, 400, n - 1, n + 10}) {
        run([pos](KwTrace& w) { return w.scanIsMaximum(pos) + w.scanIsMinimum(pos); });
        for (int dir : {1, -1}) {
            run([pos, dir](KwTrace& w) {  // the height; 99 once bounds are written
                int a = -7, b = -7;
                const double h = w.detectPeak(pos, a, b, dir);
                return a == -7 && b == -7 ? h : 99.0;
            });
        }
    }
    return out;
}

// The answers of a trace operation on a window that is not a range of samples.
const std::vector<double> kTraceRefusals = [] {
    std::vector<double> v = {0, 7, -1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0};
    for (int pos = 0; pos < 6; ++pos) v.insert(v.end(), {0, -1, -1});
    return v;
}();

// The same for the capillary operations, on a fresh copy of cap.
std::vector<double> capAnswers(const kwtest::Cap& cap) {
    std::vector<double> out;
    auto run = [&](const std::function<double(kwtest::Cap&)>& op) {
        kwtest::Cap c(cap);
        const double answer = op(c);
        out.push_back(kwtest::samplesOf(c) == kwtest::samplesOf(cap) ? answer : kChanged);
    };
    run([](kwtest::Cap& c) { return c.deBaseline(1); });
    run([](kwtest::Cap& c) { return c.envelopeNormalize(kN - 1); });
    run([](kwtest::Cap& c) {  // 1 when every factor is 1
        double f[4];
        return c.normalizeL1(f), std::count(f, f + 4, 1.0) == 4 ? 1.0 : 0.0;
    });
    run([](kwtest::Cap& c) { return c.mostProbableRatioOf(1, 0, 0.95); });
    run([](kwtest::Cap& c) {  // 99 when a channel other than the one returned is marked
        int chosen[4] = {0, 0, 0, 0};
        const int d = c.getMostStrikingChnl(chosen);
        return chosen[0] + chosen[1] + chosen[2] + chosen[3] == (d >= 0 ? 1 : 0) ? d : 99;
    });
    run([](kwtest::Cap& c) { return KwCrossTalkTable(4).measureFrom(c); });
    run([](kwtest::Cap& c) { return KwCrossTalkTable(4).measureFrom1(c); });
    run([](kwtest::Cap& c) { return c.specSep(0.01, nullptr, nullptr, 3.0, 0); });
    run([](kwtest::Cap& c) { return c.specSep(0.01, nullptr, nullptr, 3.0, 1); });
    return out;
}

const std::vector<double> kCapRefusals = {0, 0, 1, 0, -1, 0, -1, 0, 0};

}  // namespace

TEST(HostileWindows, WindowOutsideTheSamplesIsRefused) {
    for (const auto& [s, e] : kBadWindows) {
        SCOPED_TRACE(testing::Message() << "window " << s << ".." << e);
        KwTrace t = fullTrace();
        t.setMinumHeight();  // a real height first, so that its reset shows
        t.setSignalStartPnt(s);
        t.setSignalEndPnt(e);
        EXPECT_EQ(traceAnswers(t, s, e), kTraceRefusals);
        // Either order is a range here; only one reaching outside is refused.
        if (std::min(s, e) < 0 || std::max(s, e) >= kN) {
            EXPECT_EQ(t.getInflexionPnt(s, e, 2.0), s);
            EXPECT_EQ(t.getInflexionPnt(e, s, 2.0), e);
        }
        kwtest::Cap cap = fullCap();
        cap.setSignalStartPnt(s);
        cap.setSignalEndPnt(e);
        EXPECT_EQ(capAnswers(cap), kCapRefusals);
    }
    // Empty traces: window 0..0 on no samples, and 0..-1.
    EXPECT_EQ(traceAnswers(KwTrace(), 0, 0), kTraceRefusals);
    EXPECT_EQ(traceAnswers(KwTrace(0), 0, 5), kTraceRefusals);
    EXPECT_EQ(KwTrace(0).getInflexionPnt(3, 3, 1.0) + KwTrace().getInflexionPnt(0, 5, 1.0), 3);
    // Windows inside the samples with an envelope end past them.
    KwTrace t = fullTrace();
    kwtest::Cap cap = fullCap();
    const auto before = kwtest::samplesOf(t);
    const auto capBefore = kwtest::samplesOf(cap);
    for (int end : {kN, kN + 1000}) {
        t.envelopeNormalize(5, 100.0, end, 0.0);
        cap.envelopeNormalize(end);
    }
    EXPECT_EQ(kwtest::samplesOf(t), before);
    EXPECT_EQ(kwtest::samplesOf(cap), capBefore);
}

// The control: on the full window every operation answers otherwise or changes the
// samples (but deBaselineSeq, 13: no tent to lift here); the position tests find something.
TEST(HostileWindows, FullWindowStillWorks) {
    const std::vector<double> trace = traceAnswers(fullTrace(), 0, kN - 1);
    for (size_t k = 0; k < 13; ++k) EXPECT_NE(trace[k], kTraceRefusals[k]) << k;
    EXPECT_NE(std::vector<double>(trace.begin() + 14, trace.end()),
              std::vector<double>(kTraceRefusals.begin() + 14, kTraceRefusals.end()));
    const std::vector<double> cap = capAnswers(fullCap());
    for (size_t k = 0; k < cap.size(); ++k) EXPECT_NE(cap[k], kCapRefusals[k]) << k;
}

// Random traces (NaN, infinities, flat stretches), windows and arguments: every operation
// ends, reads inside the array (sanitizer build) and leaves the window inside it.
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
