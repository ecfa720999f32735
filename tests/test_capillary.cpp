// The capillary as a container and its separation matrix: construction,
// copy versus assignment, the window, matrix application.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "synthetic.h"

namespace {

using kwtest::Cap;
using kwtest::samplesOf;

// Trace t holds 100 t + i + 1 at sample i.
template <class C = KwCap>
C rampCap(int numTraces, int n) {
    std::vector<std::vector<double>> rows;
    for (int t = 0; t < numTraces; ++t) rows.push_back(kwtest::line(n, 100.0 * t + 1.0, 1.0));
    return kwtest::makeCap<C>(rows, 3.0);
}

}  // namespace

TEST(Capillary, ConstructionCopyKeepsTheTableAssignmentGivesAFreshOne) {
    double f = 0.0;
    KwCap().normalizeL1(&f);  // no traces: nothing to do
    EXPECT_EQ(KwCap(-3, 10).getNumTraces(), 0);
    KwCap sized(4, 100);  // the capillary's own window stays 0..0
    EXPECT_EQ(std::make_pair(sized.getSignalEndPnt(), sized.getPnterToTrace(3)->getSignalEndPnt()),
              std::make_pair(0, 99));
    KwCap src = rampCap(2, 10);
    EXPECT_EQ(std::make_pair(src(1, 5), src.getPnterToTrace(1)->getSampleRate()),
              std::make_pair(106.0, 3.0));
    const float r0[2] = {1.0f, -0.25f}, r1[2] = {0.5f, 2.0f};
    const float* ssm[2] = {r0, r1};
    src.setSystemSSM(ssm);
    EXPECT_EQ(src.getSystemSSM()(0, 1) + src.getSystemSSM()(1, 0), 0.25);
    KwCap copy(src), assigned(4, 3);
    EXPECT_EQ(std::make_pair(copy.getSystemSSM()(1, 1), copy.getSamplingRate()),
              std::make_pair(2.0, 3.0));
    assigned = src;
    EXPECT_EQ(samplesOf(assigned), samplesOf(src));
    EXPECT_EQ(assigned.getSystemSSM().getNumElements(), 4);
    EXPECT_EQ(assigned.getSystemSSM()(1, 1), 0.0);
    EXPECT_EQ(assigned.getSamplingRate(), 0.0);  // the rate is not assigned
    assigned = assigned;
    EXPECT_EQ(assigned(0, 0), 1.0);
    copy.setValue(0, 0, 42.0);
    EXPECT_EQ(src(0, 0), 1.0);
}

TEST(Capillary, MatrixApplicationReplacesEverySampleVector) {
    Cap cap = rampCap<Cap>(4, 20);
    cap.setSignalStartPnt(5);
    cap.setSignalEndPnt(15);
    KwSpecSepTable m(4);
    for (int k = 0; k < 4; ++k) m(k, k) = 1.0;
    m(0, 1) = -0.1;
    cap.specSep(m);
    for (int i = 0; i < 20; ++i) {  // outside the window too
        EXPECT_DOUBLE_EQ(cap(0, i), (i + 1.0) - 0.1 * (100.0 + i + 1.0));
        EXPECT_EQ(cap(1, i), 100.0 + i + 1.0);
    }
    cap.specSep(KwSpecSepTable(3));  // refused: the data stay as they are
    EXPECT_EQ(cap(1, 0), 101.0);
    cap.zeroMinimum();
    EXPECT_EQ(cap(1, 5) + cap(1, 15), 10.0);
}

TEST(Capillary, FormsApplyTheTraceOperationToEveryTrace) {
    std::vector<std::vector<double>> rows;
    for (uint32_t seed : {1u, 2u}) {
        rows.push_back(kwtest::pureDyes(500, 1, kwtest::randomPeaks(500, 1, 40.0, 4.0, seed))[0]);
        kwtest::addNoise(rows.back(), 2.0, seed);
    }
    using Form = std::pair<std::function<void(Cap&)>, std::function<void(KwTrace&)>>;
    const Form forms[] = {
        {[](Cap& c) { c.smoothing(9); }, [](KwTrace& t) { t.smoothing(9, 0); }},
        {[](Cap& c) { c.trippleMexicanHatFilter(2.5, 4.0); },
         [](KwTrace& t) { t.trippleMexicanHatFilter(2.5, 4.0); }},
        {[](Cap& c) { c.setNoiseLevelForNormalized(5.0); },
         [](KwTrace& t) { t.setNoiseLevelForNormalized(5.0); }},
        {[](Cap& c) { c.setSignalEndPnt(400), c.setSignalEndPnt(300), c.setSignalStartPnt(10); },
         [](KwTrace& t) {
             t.setSignalEndPnt(400), t.setSignalEndPnt(300), t.setSignalStartPnt(10);
         }},
    };
    auto state = [](const KwTrace& t) {
        return std::make_tuple(samplesOf(t), t.getNoiseLevel(), t.getSignalStartPnt(),
                               t.getSignalEndPnt());
    };
    for (const Form& form : forms) {
        Cap cap = kwtest::makeCap<Cap>(rows, 3.0);
        for (int t = 0; t < 2; ++t) cap.getPnterToTrace(t)->setNoiseLevel(8.0);
        form.first(cap);
        for (int t = 0; t < 2; ++t) {
            KwTrace single = kwtest::traceOf(rows[t], 3.0);
            single.setNoiseLevel(8.0);
            form.second(single);
            EXPECT_EQ(state(*cap.getPnterToTrace(t)), state(single));
        }
    }
}
