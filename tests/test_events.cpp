// Events, hump lists and peak records: filling from a trace, hump order and
// valleys, value semantics, the crossing search, splitting and synthesis.
#include <gtest/gtest.h>

#include <memory>

#include "synthetic.h"

namespace {

using V = std::vector<double>;
using Humps = std::vector<std::pair<int, int>>;

// Event over y[first..last] (inner bounds one sample in) with humps appended
// at the given trace indexes.
template <class E = KwEvent>
E fill(const V& y, int first, int last, const std::vector<int>& humps = {}) {
    return kwtest::eventOver<E>(y, first, last, humps, first + 1, last - 1, 0, 2);
}

// (apex, valley) pairs in chain order.
template <class List>
Humps humpsOf(const List& ev) {
    Humps out;
    for (KwHump* h = ev.getFisrtHump(); h != nullptr; h = h->getNext())
        out.emplace_back(h->getApexLocatn(), h->getValleyLocatn());
    return out;
}

}  // namespace

TEST(KwEvent, SetupCopiesSamplesAndFinishesHumps) {
    V y(100, 0.0);
    y.insert(y.end(), {5, 7, 3, 9, 4});
    const KwEvent ev = fill(y, 100, 104, {103, 101});  // as a backward scan meets them
    EXPECT_EQ(V({ev.getMinData(), ev.getMaxData(), ev.getArea(), ev[3]}), V({3, 9, 13, 9}));
    EXPECT_EQ(ev.getSummitPosition(), 103);
    EXPECT_EQ(humpsOf(ev), (Humps{{1, 0}, {3, 2}}));
    EXPECT_EQ(ev.getNumPeaks() + ev.getMinNumPeaks() + ev.sureAboutNumPeaks(), 5);
    // Valleys: none lower than the apex gives the range start, of equal lows the earliest;
    // humps outside the span are pinned to it; a one-sample span holds no samples.
    y = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 1, 3, 5, 1, 0, 4, 0, 6};
    EXPECT_EQ(humpsOf(fill(y, 10, 18, {12, 14, 18})), (Humps{{2, 1}, {4, 2}, {8, 5}}));
    EXPECT_EQ(humpsOf(fill(y, 12, 16, {3, 14, 40})), (Humps{{0, 0}, {2, 0}, {4, 3}}));
    const KwEvent none = fill(y, 15, 15, {103, 101});
    EXPECT_EQ(none.dataExist(), 0);
    EXPECT_EQ(humpsOf(none), (Humps{{103, -1}, {101, -1}}));
}

// Run under the sanitizers: copies are deep and outlive their source.
TEST(KwEvent, CopiesAreDeepAndSelfAssignmentIsHarmless) {
    auto src = std::make_unique<KwEvent>(fill({0, 5, 7, 3, 9, 4, 0}, 1, 5, {2, 4}));
    KwEvent copy(*src), assigned;
    copy[3] = -1.0;
    copy.getFisrtHump()->setApexLocatn(77);
    assigned.addApexGlobalLocatn(5);
    assigned = *src;
    KwEvent& alias = assigned;
    assigned = alias;
    EXPECT_EQ(humpsOf(*src), (Humps{{1, 0}, {3, 2}}));
    EXPECT_EQ((*src)[3], 9.0);
    src.reset();
    EXPECT_EQ(humpsOf(assigned), (Humps{{1, 0}, {3, 2}}));
    EXPECT_EQ(V({1.0 * assigned.getNumPeaks(), 1.0 * copy.getNumHumps(), assigned[4]}),
              V({2, 2, 4}));
    assigned = KwEvent();
    EXPECT_EQ(assigned.dataExist() + assigned.getNumHumps(), 0);
    KwHumpList list;
    list.addApexGlobalLocatn(1);
    list.addApexGlobalLocatn(2);
    KwHumpList listCopy(list);
    KwHumpList& listAlias = listCopy;
    listCopy = listAlias;
    list = KwHumpList();
    EXPECT_EQ(humpsOf(listCopy), (Humps{{1, -1}, {2, -1}}));
}

TEST(KwEvent, PointWithValueCloseTo) {
    const auto ev = fill<kwtest::Event>({0, 2, 4, 6, 8, 3, 3, 3, NAN, 3}, 0, 9);
    // (value, lo, hi, index): beyond both ends the nearer end; flat at the
    // value, or a non-finite end: an index of the bracket, at once.
    const double cases[][4] = {{5, 0, 4, 2}, {6, 0, 4, 3}, {20, 0, 4, 4}, {-1, 0, 4, 0},
                               {3, 0, 0, 0}, {3, 5, 7, 5}, {3, 7, 8, 7}};
    for (const auto& c : cases)
        EXPECT_EQ(ev.pointWithValueCloseTo(c[0], static_cast<int>(c[1]), static_cast<int>(c[2])),
                  c[3])
            << c[0] << " " << c[1];
}

TEST(KwPeak, AreasSplitAndSynthetic) {
    auto peak = [](int start, int end, double centre, double height, double sigma, double base) {
        KwPeak p;
        p.setStartPnt(start), p.setEndPnt(end), p.setLocatn(centre);
        p.setHeight(height), p.setSigma(sigma), p.setBase(base);
        return p;
    };
    EXPECT_EQ(peak(100, 101, 100.5, 10, 2, 2).split(), nullptr);
    KwPeak p = peak(100, 110, 105.0, 10, 2, 2);
    EXPECT_NEAR(p.getArea(), 50.132566, 1e-9);
    std::unique_ptr<KwPeak> q(p.split());
    ASSERT_NE(q, nullptr);
    for (const KwPeak* r : {&p, q.get()}) {  // the area shared, the base kept
        EXPECT_EQ(V({r->getHeight(), r->getVariance(), r->getBase()}),
                  V({2.0 + 8.0 * 0.7071067623730956, -1.0, 2.0}));
        EXPECT_DOUBLE_EQ(r->getSigma(), 1.414213524746191);
    }
    EXPECT_EQ(V({p.getLocatn(), q->getLocatn()}), V({104.5, 105.5}));
    for (double centre : {100.2, 109.8}) {  // centres leaving the span move back into it
        p.setLocatn(centre);
        std::unique_ptr<KwPeak> right(p.split());
        const double left = centre < 105 ? 100.7 : 108.3;
        EXPECT_DOUBLE_EQ(p.getLocatn(), left);
        EXPECT_DOUBLE_EQ(right->getLocatn(), left + 1.0);
    }
    // The synthetic curve plus base is added over start..end only.
    V buf(11, 0.5);
    p = peak(2, 8, 5.0, 10.0, 2.0, 1.0);
    p.synthetic(buf.data(), 0);
    p.synthetic(buf.data(), 0);
    EXPECT_EQ(buf[1] + buf[9], 1.0);
    EXPECT_DOUBLE_EQ(buf[5], 0.5 + 2 * 11.0);
    EXPECT_DOUBLE_EQ(buf[7], 0.5 + 2 * (10.0 * std::exp(-0.5) + 1.0));
}

TEST(KwTraceSynthSinglePeak, MeasuresTheSectionAndStaysInside) {
    // Symmetric about 10: centre and maximum there; half height 15 crossed
    // at 8 + 6/11 and 12 - 6/11; sample s kept.
    KwTrace t = kwtest::traceOf({0, 0, 0, 0, 0, 0, 1, 3, 9, 20, 30, 20, 9, 3, 1, 0, 0, 0, 0, 0, 0});
    t.synthSinglePeak(6, 14);
    const double hw = 16.0 / 11.0;
    EXPECT_EQ(V({t[6], t[10], t[15]}), V({1.0, 30.0, 0.0}));
    EXPECT_NEAR(t[12], 30.0 * std::exp(-4.0 / (hw * hw * 1.4426952085639542)), 1e-12);
    // Cut off above half height at both ends: through the lower end sample.
    KwTrace u = kwtest::traceOf({0, 0, 8, 9, 10, 9, 6, 0, 0});
    u.synthSinglePeak(2, 6);
    EXPECT_NEAR(u[6], 6.0, 1e-12);
    // Flat at the maximum, no signal, NaN: left alone; no crossing at all,
    // one crossing: finite. Never outside.
    const std::vector<V> sections = {
        {5, 5, 5, 5, 5}, {0, 0, 0, 0, 0}, {1, NAN, 4, 2, 1}, {-3, -1, -2, -4, -3}, {1, 2, 4, 8, 9}};
    for (std::size_t k = 0; k < sections.size(); ++k) {
        V v(9, 77.0);
        std::copy(sections[k].begin(), sections[k].end(), v.begin() + 2);
        KwTrace w = kwtest::traceOf(v);
        w.synthSinglePeak(2, 6);
        for (int i = 0; i < 9; ++i) {
            const bool kept = i < 3 || i > 6 || k < 3;
            EXPECT_TRUE(kept ? w[i] == v[i] || std::isnan(v[i]) : std::isfinite(w[i])) << k << i;
        }
    }
}
