// The capillary as a container and its separation matrix: construction,
// copy versus assignment, the window, matrix application.
#include <gtest/gtest.h>

#include <vector>

#include "kwsignal/capillary.h"
#include "kwsignal/separation.h"

namespace {

// Reaches the members the library keeps for derived classes.
class TestCap : public KwCap {
public:
    using KwCap::KwCap;
    using KwCap::specSep;
    using KwCap::zeroMinimum;
};

class TestTable : public KwSpecSepTable {
public:
    using KwSpecSepTable::getNumChnls;
    using KwSpecSepTable::KwSpecSepTable;
};

std::vector<std::vector<double>> ramps(int numTraces, int n) {
    std::vector<std::vector<double>> rows(numTraces, std::vector<double>(n));
    for (int t = 0; t < numTraces; ++t)
        for (int i = 0; i < n; ++i) rows[t][i] = 100.0 * t + i + 1.0;
    return rows;
}

std::vector<double*> pointers(std::vector<std::vector<double>>& rows) {
    std::vector<double*> p;
    for (auto& r : rows) p.push_back(r.data());
    return p;
}

}  // namespace

TEST(Capillary, ConstructorsSetCountsAndWindows) {
    KwCap none;
    EXPECT_EQ(none.getNumData(), 1);
    EXPECT_EQ(none.getNumTraces(), 0);
    EXPECT_EQ(none.getSignalEndPnt(), 0);
    double f = 0.0;
    none.normalizeL1(&f);  // no traces: nothing to do

    KwCap sized(4, 100);
    EXPECT_EQ(sized.getNumData(), 100);
    EXPECT_EQ(sized.getSignalEndPnt(), 0);  // the capillary's own window stays 0..0
    EXPECT_EQ(sized.getPnterToTrace(3)->getSignalEndPnt(), 99);

    auto rows = ramps(4, 100);
    auto p = pointers(rows);
    KwCap cap(4, 100, p.data(), 3.0);
    rows[2][5] = -1.0;  // the capillary keeps its own copy
    EXPECT_EQ(cap(2, 5), 206.0);
    EXPECT_EQ(cap.getSamplingRate(), 3.0);
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(cap.getPnterToTrace(t)->getSampleRate(), 3.0);
        EXPECT_EQ(cap.getPnterToTrace(t)->getSignalEndPnt(), 99);
    }
    cap.setValue(1, 7, 0.5);
    EXPECT_EQ(cap(1, 7), 0.5);

    KwCap negative(-3, 10);  // refused count: no traces rather than a crash
    EXPECT_EQ(negative.getNumTraces(), 0);
}

TEST(Capillary, WindowSettersApplyTheZeroingRuleToEveryTrace) {
    auto rows = ramps(4, 100);
    auto p = pointers(rows);
    KwCap cap(4, 100, p.data(), 3.0);
    cap.setSignalEndPnt(80);
    EXPECT_EQ(cap(0, 90), 91.0);
    cap.setSignalEndPnt(70);
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(cap(t, 71), 0.0);
        EXPECT_EQ(cap(t, 80), 0.0);
        EXPECT_EQ(cap(t, 81), 100.0 * t + 82.0);
        EXPECT_EQ(cap.getPnterToTrace(t)->getSignalEndPnt(), 70);
    }
    cap.setSignalStartPnt(10);
    EXPECT_EQ(cap.getSignalStartPnt(), 10);
    EXPECT_EQ(cap(3, 5), 306.0);
}

TEST(Capillary, CopyKeepsTheTableAssignmentGivesAFreshOne) {
    auto rows = ramps(2, 10);
    auto p = pointers(rows);
    KwCap src(2, 10, p.data(), 2.0);
    const float r0[2] = {1.0f, -0.25f};
    const float r1[2] = {0.5f, 2.0f};
    const float* ssm[2] = {r0, r1};
    src.setSystemSSM(ssm);
    EXPECT_EQ(src.getSystemSSM()(0, 1), -0.25);
    EXPECT_EQ(src.getSystemSSM()(1, 0), 0.5);

    KwCap copy(src);
    EXPECT_EQ(copy.getSystemSSM()(1, 1), 2.0);
    EXPECT_EQ(copy.getSamplingRate(), 2.0);

    KwCap assigned(4, 3);
    assigned = src;
    EXPECT_EQ(assigned.getNumTraces(), 2);
    EXPECT_EQ(assigned(1, 9), 110.0);
    EXPECT_EQ(assigned.getSystemSSM().getNumElements(), 4);
    EXPECT_EQ(assigned.getSystemSSM()(1, 1), 0.0);
    EXPECT_EQ(assigned.getSamplingRate(), 0.0);  // the rate is not assigned

    assigned = assigned;  // self-assignment leaves it intact
    EXPECT_EQ(assigned(0, 0), 1.0);
    copy.setValue(0, 0, 42.0);
    EXPECT_EQ(src(0, 0), 1.0);
    assigned = 3.0;
    EXPECT_EQ(assigned(1, 4), 3.0);
}

TEST(Capillary, MatrixApplicationReplacesEverySampleVector) {
    auto rows = ramps(4, 20);
    auto p = pointers(rows);
    TestCap cap(4, 20, p.data(), 3.0);
    cap.setSignalStartPnt(5);
    cap.setSignalEndPnt(15);
    KwSpecSepTable m(4);
    for (int k = 0; k < 4; ++k) m(k, k) = 1.0;
    cap.specSep(m);
    EXPECT_EQ(cap(2, 3), 204.0);
    m(0, 1) = -0.1;
    cap.specSep(m);
    for (int i = 0; i < 20; ++i) {  // outside the window too
        EXPECT_DOUBLE_EQ(cap(0, i), (i + 1.0) - 0.1 * (100.0 + i + 1.0));
        EXPECT_EQ(cap(1, i), 100.0 + i + 1.0);
    }
    KwSpecSepTable wrongSize(3);
    cap.specSep(wrongSize);  // refused: the data stay as they are
    EXPECT_EQ(cap(1, 0), 101.0);

    TestTable t(4);
    EXPECT_EQ(t.getNumChnls(), 4);

    cap.zeroMinimum();
    EXPECT_EQ(cap(1, 5), 0.0);
    EXPECT_EQ(cap(1, 15), 10.0);
}

TEST(Capillary, ReleasePointerFreesReaderRowArrays) {
    KwCap cap;
    cap.ReleasePointer(nullptr);
    double** rows = new double*[4];
    for (int t = 0; t < 4; ++t) rows[t] = (t < 2) ? new double[8] : nullptr;
    cap.ReleasePointer(rows);  // the sanitizer build reports a leak or double free
    SUCCEED();
}
