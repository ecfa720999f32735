// Events, hump lists and peak records: filling from a trace, hump order and
// valleys, value semantics, the crossing search, splitting and synthesis.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "kwsignal/events.h"
#include "synthetic.h"

namespace {

class ProbeEvent : public KwEvent {
public:
    using KwEvent::pointWithValueCloseTo;
};

// Fills ev from y[first..last] after appending humps at the given trace indexes.
void fill(KwEvent& ev, const std::vector<double>& y, int first, int last,
          const std::vector<int>& humps = {}) {
    for (int a : humps) ev.addApexGlobalLocatn(a);
    int outer[2] = {first, last};
    int inner[2] = {first + 1, last - 1};
    ev.setup(2, outer, inner, 0.0, y.data());
}

using Humps = std::vector<std::pair<int, int>>;

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
    std::vector<double> y(100, 0.0);
    y.insert(y.end(), {5, 7, 3, 9, 4});
    KwEvent ev;
    fill(ev, y, 100, 104, {103, 101});  // as a backward scan meets them
    EXPECT_EQ(std::vector<double>({ev.getMinData(), ev.getMaxData(), ev.getArea(), ev[3]}),
              std::vector<double>({3, 9, 13, 9}));
    EXPECT_EQ(ev.getSummitPosition(), 103);
    EXPECT_EQ(humpsOf(ev), (Humps{{1, 0}, {3, 2}}));
    ev.setNumPksBeNumHumps();
    EXPECT_EQ(ev.getNumPeaks() + ev.getMinNumPeaks(), 4);
    EXPECT_EQ(ev.sureAboutNumPeaks(), 1);

    // Valleys: nothing lower than the apex since the previous apex gives the
    // range start (second hump); of equal lows the earliest wins (third).
    y = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 1, 3, 5, 1, 0, 4, 0, 6};
    KwEvent rules;
    fill(rules, y, 10, 18, {12, 14, 18});
    EXPECT_EQ(humpsOf(rules), (Humps{{2, 1}, {4, 2}, {8, 5}}));

    // Humps listed outside the span are pinned to its nearer end rather than
    // reading samples the event does not hold.
    KwEvent outside;
    fill(outside, y, 12, 16, {3, 14, 40});
    EXPECT_EQ(humpsOf(outside), (Humps{{0, 0}, {2, 0}, {4, 3}}));

    // A one-sample span holds no samples; its humps stay as appended.
    KwEvent none;
    fill(none, y, 15, 15, {103, 101});
    EXPECT_EQ(none.dataExist(), 0);
    EXPECT_EQ(humpsOf(none), (Humps{{103, -1}, {101, -1}}));
}

// Run under the sanitizers: copies are deep and outlive their source.
TEST(KwEvent, CopiesAreDeepAndSelfAssignmentIsHarmless) {
    std::vector<double> y = {0, 5, 7, 3, 9, 4, 0};
    auto src = std::make_unique<KwEvent>();
    fill(*src, y, 1, 5, {2, 4});
    src->setNumPksBeNumHumps();
    KwEvent copy(*src), assigned;
    copy[3] = -1.0;
    copy.getFisrtHump()->setApexLocatn(77);
    assigned.addApexGlobalLocatn(5);
    assigned = *src;
    KwEvent& alias = assigned;
    assigned = alias;
    EXPECT_EQ((*src)[3], 9.0);
    EXPECT_EQ(humpsOf(*src), (Humps{{1, 0}, {3, 2}}));
    src.reset();
    EXPECT_EQ(humpsOf(assigned), (Humps{{1, 0}, {3, 2}}));
    EXPECT_EQ(assigned.getNumPeaks(), 2);
    EXPECT_EQ(assigned[4], 4.0);
    EXPECT_EQ(copy.getNumHumps(), 2);
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
    const std::vector<double> y = {0, 2, 4, 6, 8, 3, 3, 3, NAN, 3};
    ProbeEvent ev;
    fill(ev, y, 0, 9);
    EXPECT_EQ(ev.pointWithValueCloseTo(5.0, 0, 4), 2);
    EXPECT_EQ(ev.pointWithValueCloseTo(6.0, 0, 4), 3);
    EXPECT_EQ(ev.pointWithValueCloseTo(20.0, 0, 4), 4);  // above both: the higher end
    EXPECT_EQ(ev.pointWithValueCloseTo(-1.0, 0, 4), 0);  // below both: the lower end
    EXPECT_EQ(ev.pointWithValueCloseTo(3.0, 0, 0), 0);
    // Flat at the value, and a non-finite end: an index of the bracket, at once.
    EXPECT_EQ(ev.pointWithValueCloseTo(3.0, 5, 7), 5);
    EXPECT_EQ(ev.pointWithValueCloseTo(3.0, 7, 8), 7);
}

TEST(KwPeak, AreasSplitAndSynthetic) {
    KwPeak p;
    p.setStartPnt(100);
    p.setEndPnt(101);
    EXPECT_EQ(p.split(), nullptr);
    p.setEndPnt(110);
    p.setHeight(10.0);
    p.setSigma(2.0);
    EXPECT_NEAR(p.getArea(), 50.132566, 1e-9);
    p.setLocatn(105.0);
    p.setBase(2.0);
    std::unique_ptr<KwPeak> q(p.split());
    ASSERT_NE(q, nullptr);
    for (const KwPeak* r : {&p, q.get()}) {
        EXPECT_EQ(r->getHeight(), 2.0 + 8.0 * 0.7071067623730956);
        EXPECT_DOUBLE_EQ(r->getSigma(), 1.414213524746191);
        EXPECT_EQ(r->getVariance(), -1.0);
        EXPECT_EQ(r->getBase(), 2.0);
    }
    EXPECT_EQ(p.getLocatn(), 104.5);
    EXPECT_EQ(q->getLocatn(), 105.5);
    // Centres that would leave the span are moved back into it.
    for (double centre : {100.2, 109.8}) {
        p.setLocatn(centre);
        std::unique_ptr<KwPeak> right(p.split());
        const double left = centre < 105 ? 100.7 : 108.3;
        EXPECT_DOUBLE_EQ(p.getLocatn(), left);
        EXPECT_DOUBLE_EQ(right->getLocatn(), left + 1.0);
    }

    // The synthetic curve plus base is added over start..end only.
    p.setStartPnt(2);
    p.setEndPnt(8);
    p.setLocatn(5.0);
    p.setHeight(10.0);
    p.setSigma(2.0);
    p.setBase(1.0);
    std::vector<double> buf(11, 0.5);
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
    EXPECT_EQ(t[6], 1.0);
    EXPECT_DOUBLE_EQ(t[10], 30.0);
    EXPECT_NEAR(t[12], 30.0 * std::exp(-4.0 / (hw * hw * 1.4426952085639542)), 1e-12);
    EXPECT_EQ(t[15], 0.0);

    // Cut off above half height at both ends: the Gaussian passes through
    // the lower end sample.
    KwTrace u = kwtest::traceOf({0, 0, 8, 9, 10, 9, 6, 0, 0});
    u.synthSinglePeak(2, 6);
    EXPECT_NEAR(u[6], 6.0, 1e-12);

    // Sections without a Gaussian: flat at the maximum, no signal, NaN are
    // left alone; no crossing at all, one crossing: finite. Never outside.
    const std::vector<std::vector<double>> sections = {
        {5, 5, 5, 5, 5}, {0, 0, 0, 0, 0}, {1, NAN, 4, 2, 1}, {-3, -1, -2, -4, -3}, {1, 2, 4, 8, 9}};
    for (std::size_t k = 0; k < sections.size(); ++k) {
        std::vector<double> v(9, 77.0);
        std::copy(sections[k].begin(), sections[k].end(), v.begin() + 2);
        KwTrace w = kwtest::traceOf(v);
        w.synthSinglePeak(2, 6);
        for (int i = 0; i < 9; ++i) {
            const bool kept = i < 3 || i > 6 || k < 3;
            EXPECT_TRUE(kept ? w[i] == v[i] || std::isnan(v[i]) : std::isfinite(w[i])) << k << i;
        }
    }
}
