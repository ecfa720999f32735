// Anomaly clean-up: parabolic section repair, start blanking, deep negative
// dips, towering peaks, scars and one-sample dips.
#include <gtest/gtest.h>

#include <limits>

#include "synthetic.h"

namespace {

using kwtest::samplesOf;
using kwtest::traceOf;
using V = std::vector<double>;

// Value at x of the parabola through three points (Lagrange form).
double through(double x, double x0, double y0, double x1, double y1, double x2, double y2) {
    return y0 * (x - x1) * (x - x2) / ((x0 - x1) * (x0 - x2)) +
           y1 * (x - x0) * (x - x2) / ((x1 - x0) * (x1 - x2)) +
           y2 * (x - x0) * (x - x1) / ((x2 - x0) * (x2 - x1));
}

// Base peaks every 14 samples on noise around 20, with a dip of -3000 at 5000
// (when n reaches it) in a peak-free stretch.
V runWithDip(int n) {
    V v = kwtest::baseRun(n, 3, {{100, std::min(4944, n - 101)}, {5056, n - 101}});
    kwtest::addGaussian(v, 5000.0, -3000.0, 4.0);
    return v;
}

void expectDipRemoved(const KwTrace& t, const V& before) {
    EXPECT_GT(t.getMinData(4960, 5040), -30.0);
    for (int i = 0; i < static_cast<int>(before.size()); ++i)
        ASSERT_TRUE((i >= 4955 && i <= 5045) || t[i] == before[i]) << i;  // untouched elsewhere
}

V ripple(int n) {  // 20, 4, 20, ...
    V v(n);
    for (int k = 0; k < n; ++k) v[k] = k % 2 ? 4.0 : 20.0;
    return v;
}

// Which of five peaks (apexes 40 apart from 30, baseline 1 with a 0.01 ripple)
// deAnomalousHighPk removes; the others must stay as they were.
std::vector<bool> removedPeaks(const V& heights) {
    V v(221);
    for (int i = 0; i < 221; ++i) v[i] = 1.0 + 0.01 * (i % 2);
    for (int k = 0; k < 5; ++k) kwtest::addGaussian(v, 30.0 + 40.0 * k, heights[k] - 1.0, 4.0);
    KwTrace t = traceOf(v);
    t.deAnomalousHighPk(0, 220);
    std::vector<bool> gone;
    for (int c = 30; c <= 190; c += 40) {
        gone.push_back(t[c] < 2.0);
        EXPECT_TRUE(gone.back() || t[c] == v[c]) << "peak at " << c << " reshaped";
    }
    return gone;
}

}  // namespace

TEST(Cleanup, ReplaceWithParabolaAndRemoveSection) {
    KwTrace t = traceOf({10, 0, 10, 7, 0, 0, 0, 5, 5});
    t.replaceWithParabola(0, 2, 0.0);
    EXPECT_DOUBLE_EQ(t[1], 8.0);  // M = 10: the middle sags by 2
    t.replaceWithParabola(0, 2, 9.0);
    EXPECT_DOUBLE_EQ(t[1], 9.0);       // but not below the floor
    t.replaceWithParabola(2, 6, 0.0);  // ends 10 and 0: M = 10, middle 3 at 4
    EXPECT_NEAR(t[3], through(3, 2, 10, 4, 3, 6, 0), 1e-12);
    EXPECT_EQ(V({t[4], t[6]}), V({3.0, 0.0}));
    t.replaceWithParabola(-3, 4, 0.0);  // leaving the array or shorter than 3: ignored
    t.replaceWithParabola(5, 40, 0.0);
    t.replaceWithParabola(7, 8, 0.0);
    EXPECT_EQ(t[7], 5.0);
    KwTrace odd = traceOf({0, 9, 9, 3});  // middle 1.5 - 0.6 at 1.5
    odd.replaceWithParabola(0, 3, -100.0);
    EXPECT_NEAR(odd[2], through(2, 0, 0, 1.5, 0.9, 3, 3), 1e-12);
    KwTrace zeros = traceOf({0, 4, -4, 7, 0});
    zeros.replaceWithParabola(0, 4, 0.0);
    EXPECT_EQ(samplesOf(zeros), V(5, 0.0));
    // Ends on the window edge take the far end's value first.
    KwTrace s = traceOf({6, 6, 6, 6, 6, -50, 6, 6, 6, 6, 2, 6, 6, 6, 6, 30, 6, 6, 6, 6});
    s.setSignalStartPnt(5);
    s.removeSection(5, 10, 0);
    s.removeSection(15, 19, 0);
    EXPECT_EQ(V({s[5], s[19]}), V({2.0, 30.0}));
    KwTrace u = traceOf({100, 99, 99, 99, 100});
    u.removeSection(1, 3, 1);  // would sag to 79.2; floored at the lowest, 99
    EXPECT_EQ(u[2], 99.0);
}

TEST(Cleanup, CleaningBlanksTheStartAndRemovesDeepDips) {
    KwTrace t = traceOf(V(20, 5.0), 4.0);
    t.setSignalStartPnt(5);
    // (seconds, negative-peak flag, start): 0 s only zeroes before the window.
    const double steps[][3] = {{0, 0, 5}, {2, 0, 8}, {NAN, 1, 8}, {1e12, 1, 20}};
    for (const auto& step : steps) {
        const int start = static_cast<int>(step[2]);
        t.cleaning(step[0], static_cast<int>(step[1]));
        EXPECT_EQ(t.getSignalStartPnt(), start);
        EXPECT_EQ(t.getMaxData(0, start - 1), 0.0);
        EXPECT_EQ(t.getMinData(start, 19), start < 20 ? 5.0 : 1e300);
    }
    const V v = runWithDip(8000);
    for (int fillEnds : {0, 1}) {
        KwTrace d = traceOf(v, 4.0);
        d.deAnomalousNegativePeaks(fillEnds);
        expectDipRemoved(d, v);
    }
    KwCap cap = kwtest::makeCap({v, v}, 4.0);
    cap.cleaning(10.0, 1);
    V blanked = v;
    std::fill(blanked.begin(), blanked.begin() + 40, 0.0);
    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(cap.getPnterToTrace(c)->getSignalStartPnt(), 40);
        expectDipRemoved(*cap.getPnterToTrace(c), blanked);
    }
}

TEST(Cleanup, DeepLimitIsLiteralAndArrayEndsAreSafe) {
    // avgAbs 36, meanMin -40: -116 is neither deep (below it) nor shallow, so 14..17
    // becomes one parabola through it, balanced back onto -296.
    V v = ripple(15), after = ripple(15);
    v.insert(v.end(), {-400.0, -116.0, -296.0});
    v.insert(v.end(), after.begin(), after.end());
    KwTrace t = traceOf(v);
    t.deAnomalousNegativePeaks(0);
    EXPECT_EQ(V({t[14], t[17]}), V({20.0, -296.0}));
    EXPECT_NE(t[16], -116.0);
    EXPECT_NEAR(t[17] - 3.0 * t[16] + 3.0 * t[15] - t[14], 0.0, 1e-9);
    for (int i : {0, 13, 18, 32}) EXPECT_EQ(t[i], v[i]);
    // Dips at both ends of the array: the balancing stops there.
    V w = ripple(35);
    w.insert(w.begin(), {-400, -300});
    w.insert(w.end(), {20.0, -300.0, -400.0});
    const int n = static_cast<int>(w.size());
    for (int fillEnds : {0, 1}) {
        KwTrace e = traceOf(w);
        e.deAnomalousNegativePeaks(fillEnds);
        EXPECT_EQ(V({e[0], e[1], e[n - 2], e[n - 1]}), V({20.0, 16.0, 16.0, 20.0}));
    }
    // A dip still climbing below meanMin at the window end: the section runs
    // to the end, which takes the level before the dip.
    V late = ripple(31);
    late.insert(late.end(), {-400, -300, -200, -100, -50, -30, -25});
    KwTrace lt = traceOf(late);
    lt.deAnomalousNegativePeaks(0);
    EXPECT_EQ(lt[37], 20.0);
    EXPECT_GE(lt.getMinData(30, 37), 16.0);
}

TEST(Cleanup, DeAnomalousHighPkRemovesTowersValleyToValley) {
    using Gone = std::vector<bool>;
    // (heights, removed): only a drop of 1.8 stands out (the lowest such drop
    // wins), else more than 3 times the lowest.
    const std::pair<V, Gone> cases[] = {
        {{10.5, 50, 9.5, 11, 10}, {0, 1, 0, 0, 0}},
        {{5, 11, 40, 10, 12}, {0, 1, 1, 1, 1}},
        {{7, 20, 5, 15, 10}, {0, 1, 0, 0, 0}},
        {{12, 9, 15, 7, 5.5}, {0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) EXPECT_EQ(removedPeaks(c.first), c.second);
    V v = runWithDip(3000);                        // the dip lies beyond 3000
    kwtest::addGaussian(v, 1507.0, 10000.0, 1.0);  // between peaks at 1500, 1514
    KwTrace t = traceOf(v);
    t.deAnomalousHighPk(0, 2999);
    EXPECT_LT(t.getMaxData(0, 2999), 1100.0);  // base peaks reach about 1030
    EXPECT_GT(t.getMaxData(0, 2999), 900.0);
    int changed = 0;
    for (int i = 0; i < 3000; ++i) changed += t[i] != v[i];
    EXPECT_LT(changed, 12);
    // At the beginning (1 Hz: w = 30 samples, so the window needs mid >= 600).
    V base(1500, 0.0);
    for (int c = 45; c < 1480; c += 10) kwtest::addGaussian(base, c, 100.0, 1.5);
    V tower = base;
    kwtest::addGaussian(tower, 15.0, 1000.0, 3.0);
    KwTrace b = traceOf(tower);
    const int foot = b.deAnomalousHighPkAtBeginning();
    EXPECT_TRUE(foot > 20 && foot <= 34) << foot;  // past 2.5 x 100, where the tower ends
    EXPECT_EQ(samplesOf(b), tower);
    EXPECT_EQ(traceOf(base).deAnomalousHighPkAtBeginning(), 0);
    b.setSignalEndPnt(1000);  // mid 500 < 600
    EXPECT_EQ(b.deAnomalousHighPkAtBeginning(), 0);
}

TEST(Cleanup, FixScarAndSmoothingDips) {
    // Flat 20, bottom 2 at 10, straight rise 3..12 over 11..20, 5 at 21 and
    // a second straight rise that the scan (resuming at 26) must not see.
    V v(32, 20.0);
    v[10] = 2.0;
    for (int i = 11; i <= 20; ++i) v[i] = i - 8.0;
    v[21] = 5.0;
    for (int i = 22; i < 32; ++i) v[i] = i - 16.0;
    KwTrace t = traceOf(v);
    t.fixScar();
    EXPECT_EQ(t[11], 0.0);  // m = 20 - trunc(10 * 12 / 14 + 0.5)
    for (int i = 12; i < 20; ++i) EXPECT_NEAR(t[i], through(i, 11, 0, 15.5, 3.6, 20, 12), 1e-9);
    for (int i : {0, 9, 10, 20, 21, 22, 26, 31}) EXPECT_EQ(t[i], v[i]) << i;
    // Mirror image (straight fall 12..3 into 2 at 20), through the capillary.
    V m(32, 20.0);
    for (int i = 0; i < 20; ++i) m[i] = i < 10 ? 30.0 : 22.0 - i;
    m[20] = 2.0;
    kwtest::Cap cap = kwtest::makeCap<kwtest::Cap>({m}, 1.0);
    cap.fixScar();
    EXPECT_EQ(V({cap(0, 19), cap(0, 20)}), V({0.0, 2.0}));  // m = 20 - trunc(10 * 2 / 14 + 0.5)
    for (int i = 11; i < 19; ++i)
        EXPECT_NEAR(cap(0, i), through(i, 10, 12, 14.5, 3.6, 19, 0), 1e-9);
    KwTrace d = traceOf({10, 50, 2, 50, 40, 7, 40, 100, 30, 1});
    d.smoothingDips();
    EXPECT_EQ(samplesOf(d), V({10, 50, 47.5, 50, 40, 38, 40, 100, 30, 1}));
    KwTrace chain = traceOf({100, 0, 5, 20});  // a raised dip is the next left neighbour
    chain.smoothingDips();
    EXPECT_DOUBLE_EQ(chain[2], 0.475 * (20.0 + 0.475 * 105.0));
}
