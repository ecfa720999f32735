// The trace as a container: window rules, shifting, normalisation, copies.
#include <gtest/gtest.h>

#include <utility>

#include "synthetic.h"

namespace {

using V = std::vector<double>;

KwTrace ramp(int n) {  // sample i holds i + 1
    return kwtest::traceOf(kwtest::line(n, 1.0, 1.0), 0.0);
}

bool allZero(const KwTrace& t, int first, int last) {
    for (int i = first; i <= last; ++i)
        if (t[i] != 0.0) return false;
    return true;
}

}  // namespace

// The first narrowing from the array's edge keeps everything, a second one
// zeroes what it cuts off, widening never touches samples.
TEST(Trace, WindowSettersZeroOnlyWhatASecondNarrowingCuts) {
    KwTrace t = ramp(100);
    t.setSignalStartPnt(10);
    EXPECT_EQ(t[9], 10.0);
    t.setSignalStartPnt(20);
    EXPECT_TRUE(allZero(t, 10, 19));
    EXPECT_EQ(V({t[9], t[20]}), V({10, 21}));
    t.setSignalStartPnt(5);
    t.setSignalEndPnt(90);
    EXPECT_EQ(V({t[9], t[95]}), V({10, 96}));
    t.setSignalEndPnt(80);
    t.setSignalEndPnt(95);
    EXPECT_TRUE(allZero(t, 81, 90));
    EXPECT_EQ(V({t[80], t[91]}), V({81, 92}));  // beyond the old end: untouched
    EXPECT_EQ(t.getSignalStartPnt(), 5);
    t.setSampleRate(3.0);
    t.setNoiseLevel(2.0);
    t.init(8);  // back to a fresh trace
    EXPECT_EQ(V({1.0 * t.getSignalEndPnt(), t.getSampleRate(), t.getNoiseLevel(), t[7]}),
              V({7, 0, 0, 0}));
}

TEST(Trace, ShiftMovesBothWaysAndZeroesWhatItLeaves) {
    KwTrace up = ramp(100), down = ramp(100);
    up.shift(10, 20, 0);
    EXPECT_EQ(up[10], 11.0);
    up.shift(10, 20, 3);
    for (int i = 13; i <= 23; ++i) EXPECT_EQ(up[i], i - 2.0);
    EXPECT_TRUE(allZero(up, 10, 12));
    EXPECT_EQ(up[24], 25.0);
    down.shift(10, 20, -3);
    for (int i = 7; i <= 17; ++i) EXPECT_EQ(down[i], i + 4.0);
    EXPECT_TRUE(allZero(down, 18, 20));
    // Destination wholly past the window end: the source is cleared; partly
    // past it: clipped to it.
    KwTrace past = ramp(100), clipped = ramp(100);
    past.setSignalEndPnt(50);
    past.shift(40, 45, 20);
    EXPECT_TRUE(allZero(past, 40, 45));
    EXPECT_EQ(past[60], 61.0);
    clipped.setSignalEndPnt(50);
    clipped.shift(40, 49, 5);
    EXPECT_EQ(V({clipped[50], clipped[51]}), V({46, 52}));
    EXPECT_TRUE(allZero(clipped, 40, 44));
}

TEST(Trace, ZeroMinimumNormalisationAndCopies) {
    KwTrace t = ramp(10);
    t.setSignalStartPnt(2);
    t.setSignalEndPnt(7);
    t.zeroMinimum();  // window minimum is 3; outside untouched
    EXPECT_EQ(kwtest::samplesOf(t), (V{1, 2, 0, 1, 2, 3, 4, 5, 9, 10}));
    KwTrace n = ramp(4);  // mean |x| = 2.5
    n.setNoiseLevel(5.0);
    EXPECT_DOUBLE_EQ(n.normalizeL1(), 0.0025);
    EXPECT_DOUBLE_EQ(n[0], 400.0);
    EXPECT_DOUBLE_EQ(n.getNoiseLevel(), 2000.0);
    KwTrace zero(6);
    zero.setNoiseLevel(3.0);
    EXPECT_EQ(zero.normalizeL1(), 1.0);
    EXPECT_EQ(zero.getNoiseLevel(), 3.0);
    EXPECT_TRUE(allZero(zero, 0, 5));
    // Assignment (also to itself) keeps the fields; a copy is deep.
    t.setSampleRate(2.0);
    KwTrace c;
    c = t;
    c = c;
    c = 7.0;
    EXPECT_EQ(t[0], 1.0);
    EXPECT_EQ(V({c[4], c.getSampleRate(), 1.0 * c.getSignalStartPnt(), 1.0 * c.getSignalEndPnt()}),
              V({7, 2, 2, 7}));
    // A move takes the samples and the fields and leaves the source empty;
    // moving a trace onto itself keeps it.
    KwTrace m(std::move(c));
    EXPECT_EQ(V({m[4], m.getSampleRate(), 1.0 * m.getSignalStartPnt(), 1.0 * c.getNumData()}),
              V({7, 2, 2, 0}));
    KwTrace& alias = m;
    m = std::move(alias);
    c = std::move(m);
    EXPECT_EQ(V({c[9], 1.0 * c.getSignalEndPnt(), 1.0 * m.getNumData()}), V({7, 7, 0}));
    c = KwTrace(3, t.getData());
    EXPECT_EQ(V({c[2], 1.0 * c.getSignalEndPnt(), c.getSampleRate()}), V({0, 2, 0}));
}
