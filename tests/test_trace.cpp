// The trace as a container: window rules, shifting, normalisation, copies.
#include <gtest/gtest.h>

#include <vector>

#include "kwsignal/trace.h"

namespace {

KwTrace ramp(int n) {
    std::vector<double> v(n);
    for (int i = 0; i < n; ++i) v[i] = i + 1.0;
    return KwTrace(n, v.data());
}

bool allZero(const KwTrace& t, int first, int last) {
    for (int i = first; i <= last; ++i)
        if (t[i] != 0.0) return false;
    return true;
}

}  // namespace

TEST(Trace, ConstructionSetsTheWindowAndClearsTheFields) {
    KwTrace empty;
    EXPECT_EQ(empty.getNumData(), 0);
    EXPECT_EQ(empty.getSignalLength(), 1);
    KwTrace five(5);
    EXPECT_EQ(five.getSignalEndPnt(), 4);
    EXPECT_EQ(five.getSignalLength(), 5);
    EXPECT_EQ(five[3], 0.0);
    five.setSampleRate(3.0);
    five.setNoiseLevel(2.0);
    five.init(8);
    EXPECT_EQ(five.getSignalEndPnt(), 7);
    EXPECT_EQ(five.getSampleRate(), 0.0);
    EXPECT_EQ(five.getNoiseLevel(), 0.0);
}

TEST(Trace, StartSetterZeroesOnlyWhatASecondNarrowingCuts) {
    KwTrace t = ramp(100);
    t.setSignalStartPnt(10);  // first narrowing from 0 keeps everything
    EXPECT_EQ(t[0], 1.0);
    EXPECT_EQ(t[9], 10.0);
    t.setSignalStartPnt(20);  // 10..19 are cut off now
    EXPECT_TRUE(allZero(t, 10, 19));
    EXPECT_EQ(t[9], 10.0);
    EXPECT_EQ(t[20], 21.0);
    t.setSignalStartPnt(5);  // widening never touches samples
    EXPECT_EQ(t[9], 10.0);
    EXPECT_EQ(t.getSignalStartPnt(), 5);
}

TEST(Trace, EndSetterZeroesOnlyWhatASecondNarrowingCuts) {
    KwTrace t = ramp(100);
    t.setSignalEndPnt(90);
    EXPECT_EQ(t[95], 96.0);
    t.setSignalEndPnt(80);
    EXPECT_TRUE(allZero(t, 81, 90));
    EXPECT_EQ(t[80], 81.0);
    EXPECT_EQ(t[91], 92.0);  // beyond the old end: untouched
    t.setSignalEndPnt(95);
    EXPECT_TRUE(allZero(t, 81, 90));
}

TEST(Trace, ShiftMovesBothWaysAndZeroesWhatItLeaves) {
    KwTrace up = ramp(100);
    up.shift(10, 20, 0);
    EXPECT_EQ(up[10], 11.0);
    up.shift(10, 20, 3);
    for (int i = 13; i <= 23; ++i) EXPECT_EQ(up[i], i - 3 + 1.0);
    EXPECT_TRUE(allZero(up, 10, 12));
    EXPECT_EQ(up[24], 25.0);

    KwTrace down = ramp(100);
    down.shift(10, 20, -3);
    for (int i = 7; i <= 17; ++i) EXPECT_EQ(down[i], i + 3 + 1.0);
    EXPECT_TRUE(allZero(down, 18, 20));

    // Destination wholly past the window: the source range is cleared.
    KwTrace past = ramp(100);
    past.setSignalEndPnt(50);
    past.shift(40, 45, 20);
    EXPECT_TRUE(allZero(past, 40, 45));
    EXPECT_EQ(past[60], 61.0);

    // Destination partly past the window end: clipped to it.
    KwTrace clipped = ramp(100);
    clipped.setSignalEndPnt(50);
    clipped.shift(40, 49, 5);
    EXPECT_EQ(clipped[50], 46.0);
    EXPECT_EQ(clipped[51], 52.0);
    EXPECT_TRUE(allZero(clipped, 40, 44));
}

TEST(Trace, ZeroMinimumAndNormalisationWorkOnTheWindow) {
    KwTrace t = ramp(10);
    t.setSignalStartPnt(2);
    t.setSignalEndPnt(7);
    t.zeroMinimum();  // window minimum is 3
    EXPECT_EQ(t[2], 0.0);
    EXPECT_EQ(t[7], 5.0);
    EXPECT_EQ(t[1], 2.0);  // outside: untouched
    EXPECT_EQ(t[9], 10.0);

    KwTrace n = ramp(4);  // mean |x| = 2.5
    n.setNoiseLevel(5.0);
    const double v = n.normalizeL1();
    EXPECT_DOUBLE_EQ(v, 0.0025);
    EXPECT_DOUBLE_EQ(n[0], 400.0);
    EXPECT_DOUBLE_EQ(n.getNoiseLevel(), 2000.0);

    KwTrace zero(6);
    zero.setNoiseLevel(3.0);
    EXPECT_EQ(zero.normalizeL1(), 1.0);
    EXPECT_EQ(zero.getNoiseLevel(), 3.0);
    EXPECT_TRUE(allZero(zero, 0, 5));
}

TEST(Trace, CopiesAreIndependentAndAssignmentKeepsFields) {
    KwTrace a = ramp(5);
    a.setSampleRate(2.0);
    a.setSignalStartPnt(1);
    KwTrace b(a);
    b[0] = 99.0;
    EXPECT_EQ(a[0], 1.0);
    EXPECT_EQ(b.getSampleRate(), 2.0);
    EXPECT_EQ(b.getSignalStartPnt(), 1);
    KwTrace c;
    c = b;
    c = c;  // self-assignment keeps everything
    EXPECT_EQ(c[0], 99.0);
    c = 7.0;
    EXPECT_EQ(c[4], 7.0);
    EXPECT_EQ(c.getSampleRate(), 2.0);
    EXPECT_EQ(c.getSignalStartPnt(), 1);
}
