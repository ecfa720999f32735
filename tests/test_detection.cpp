// Event detection: the event scan both ways, its start adjustment and end
// cases, hostile traces, inflexion, extremum tests, detectPeak, widest event.
#include <gtest/gtest.h>

#include <array>
#include <tuple>

#include "synthetic.h"

namespace {

using kwtest::traceOf;
using Bounds = std::array<int, 4>;  // outer start, outer end, inner start, inner end
using Apexes = std::vector<int>;
using Found = std::pair<Bounds, Apexes>;

Found found(const KwEvent& ev) {
    Apexes a;
    for (KwHump* h = ev.getFisrtHump(); h != nullptr; h = h->getNext())
        a.push_back(ev.getStartPnt() + h->getApexLocatn());
    return {
        {ev.getOuterBounds(0), ev.getOuterBounds(1), ev.getInnerBounds(0), ev.getInnerBounds(1)},
        a};
}

// The event scanned from b to c (onset 3, valley 0.5, peak width 4 unless given).
Found scan(const KwTrace& t, int b, int c, int dir, double onset = 3.0, double valley = 0.5,
           double width = 4.0) {
    return found(t.getNextEvent(0, b, c, onset, valley, width, dir));
}

// Scans first..last event after event, each inside the range, always
// advancing. Returns the number of events.
int scanAll(const KwTrace& t, int first, int last, double width, int dir) {
    for (int b = first, c = last, events = 0;; ++events) {
        const KwEvent ev = t.getNextEvent(1, b, c, 5.0, 2.0, width, dir);
        if (ev.dataExist() == 0) return events;
        const Found f = found(ev);
        EXPECT_TRUE(f.first[0] >= b && f.first[1] <= c);
        for (int a : f.second) EXPECT_TRUE(a >= f.first[0] && a <= f.first[1]);
        (dir == 1 ? b : c) = f.first[dir == 1 ? 1 : 0];
        if (events > last - first) return ADD_FAILURE() << "scan does not advance", events;
    }
}

}  // namespace

TEST(GetNextEvent, BackwardAndForwardScans) {
    // A tail before a symmetric peak: both directions give the same bounds.
    const KwTrace p = traceOf({0, 0, 3, 2, 1, 4, 10, 20, 30, 20, 10, 4, 1, 2, 3, 0, 0, 0, 0, 0});
    for (int dir : {1, -1}) {
        const KwEvent ev = p.getNextEvent(0, 2, 17, 5.0, 0.5, 4.0, dir);
        EXPECT_EQ(found(ev), Found({4, 12, 6, 10}, {8}));
        EXPECT_EQ(ev.getFisrtHump()->getValleyLocatn() + ev.getTraceCode(), 0);
    }
    // Apexes 10 and 20 around a valley of 8: forward, 8 passes against the
    // apex met first (0.6 x 10); backward that apex is 20 and the event ends.
    const KwTrace t = traceOf({0, 0, 0, 1, 6, 10, 8, 12, 20, 12, 4, 1, 0, 0, 0, 0});
    EXPECT_EQ(scan(t, 2, 13, 1), Found({2, 12, 4, 10}, {5, 8}));
    EXPECT_EQ(scan(t, 2, 13, -1), Found({6, 13, 6, 10}, {8}));
    // A long convex rise: inner bound at its inflexion entering, at the last
    // sample above onset leaving.
    const KwTrace r = traceOf({0, 0, 0, 4, 5, 7, 10, 14, 19, 25, 32, 40, 10, 0, 0, 0, 0});
    EXPECT_EQ(scan(r, 2, 14, 1).first, (Bounds{2, 13, 9, 12}));
    EXPECT_EQ(scan(r, 2, 14, -1).first, (Bounds{2, 14, 3, 12}));
    // Random peaks: backward is forward over the reversed trace, mirrored.
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 2.0);
    const int n = 300;
    std::vector<double> y(n, 0.0);
    for (int i = 0; i < n; ++i) {
        for (int c = 20; c < n - 20; c += 23)
            y[i] += (40.0 + (c % 7) * 15.0) * std::exp(-(i - c) * (i - c) / 18.0);
        y[i] += noise(rng);
    }
    const KwTrace f = traceOf(y), u = traceOf(std::vector<double>(y.rbegin(), y.rend()));
    std::uniform_int_distribution<int> pick(2, n - 3);
    for (int k = 0; k < 200; ++k) {
        const int b = pick(rng), c = std::max(b, pick(rng));
        const KwEvent fwd = f.getNextEvent(0, b, c, 10.0, 4.0, 7.0, 1);
        const Found bwd = scan(u, n - 1 - c, n - 1 - b, -1, 10.0, 4.0, 7.0);
        const Bounds& g = bwd.first;
        Found mirrored = {{n - 1 - g[1], n - 1 - g[0], n - 1 - g[3], n - 1 - g[2]}, {}};
        for (int a : bwd.second) mirrored.second.insert(mirrored.second.begin(), n - 1 - a);
        if (fwd.dataExist() == 0) mirrored.second = found(fwd).second;
        ASSERT_EQ(found(fwd), mirrored);
    }
}

TEST(GetNextEvent, ValleysStartsAndRangeEnds) {
    // Deep valley: two events, the second from where the first ended.
    const KwTrace t = traceOf({0, 0, 1, 5, 20, 5, 2, 6, 25, 6, 1, 0, 0, 0});
    EXPECT_EQ(scan(t, 2, 11, 1).first, (Bounds{2, 6, 3, 5}));
    EXPECT_EQ(scan(t, 6, 11, 1), Found({6, 11, 7, 9}, {8}));
    // 22 <= onset 25 is no hump, yet the next valley's reference: 15 >= 0.6 x 22.
    const KwTrace u = traceOf({0, 0, 1, 10, 30, 20, 22, 15, 30, 40, 20, 5, 1, 0, 0, 0});
    EXPECT_EQ(scan(u, 2, 13, 1, 25.0), Found({2, 13, 4, 9}, {4, 9}));
    EXPECT_EQ(scan(u, 2, 13, 1, 25.0, 21.0).first[1], 5);  // below the valley level
    // No sample above onset: the sentinel of each direction everywhere.
    KwTrace low = traceOf({0, 0, 1, 2, 3, 2, 1, 0, 0, 0, 0, 0});
    low.setSignalStartPnt(1);
    low.setSignalEndPnt(10);
    EXPECT_EQ(low.getNextEvent(0, 2, 9, 3.0, 0.5, 4.0, 1).dataExist(), 0);
    EXPECT_EQ(scan(low, 2, 9, 1), Found({11, 11, 11, 11}, {}));
    EXPECT_EQ(scan(low, 2, 9, -1), Found({0, 0, 0, 0}, {}));
    // Started on an earlier peak's tail: the start walks down to the valley
    // at 7; without look-ahead (width 2) the tail itself is the event.
    const KwTrace tail = traceOf({0, 0, 50, 40, 30, 20, 15, 12, 13, 30, 60, 30, 10, 5, 0, 0, 0, 0});
    const Found adjusted = scan(tail, 2, 15, 1, 14.0, 1.0, 10.0);
    EXPECT_EQ(adjusted.first[0], 7);
    EXPECT_EQ(adjusted.second, Apexes{10});
    EXPECT_EQ(scan(tail, 2, 15, 1, 14.0, 1.0, 2.0).second, Apexes{2});
    // Started in a flat valley: the start stays and is the outer start.
    const KwTrace flat = traceOf({0, 0, 0, 0, 0, 0, 0, 5, 20, 5, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(scan(flat, 2, 15, 1, 3.0, 1.0, 10.0).first, (Bounds{2, 10, 7, 9}));
    // A dip, then a rise inside the look-ahead: the peak is not skipped.
    const KwTrace rise =
        traceOf({0, 0, 3, 2, 30, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(scan(rise, 2, 20, 1, 5.0, 0.5, 10.0).second, Apexes{4});
    // Still rising (or level) at the range end: the range end is the apex.
    EXPECT_EQ(scan(traceOf({0, 0, 0, 1, 2, 4, 8, 16, 32, 64, 128, 256}), 2, 8, 1),
              Found({2, 8, 6, 8}, {8}));
    EXPECT_EQ(scan(traceOf({9, 9, 9, 9, 9, 9, 9, 9, 5, 1, 0, 0, 0}), 2, 10, -1),
              Found({2, 10, 2, 8}, {2}));
}

TEST(GetNextEvent, HostileTracesEndAndStayInside) {
    const int n = 2000;
    std::vector<double> rnd(n, 0.0), spike(n, 0.0);
    kwtest::addNoise(rnd, 10.0, 3);
    spike[1000] = 1000.0;
    std::vector<double> withNan = rnd;
    for (int i = 2; i < n; i += 37) withNan[i] = NAN;
    for (const auto& y :
         {rnd, std::vector<double>(n, 0.0), spike, withNan, kwtest::line(n, 0, 1)}) {
        const KwTrace t = traceOf(y);
        for (int dir : {1, -1}) {
            for (double width : {9.0, std::nan(""), 1e12, -4.0}) scanAll(t, 2, n - 3, width, dir);
            scanAll(t, 500, 500, 9.0, dir);
        }
    }
    EXPECT_EQ(scanAll(traceOf(spike), 2, n - 3, 9.0, 1), 1);
    EXPECT_EQ(scanAll(traceOf(spike), 2, n - 3, 9.0, -1), 1);
    EXPECT_EQ(scanAll(traceOf(std::vector<double>(n, 0.0)), 2, n - 3, 9.0, 1), 0);
}

TEST(GetInflexionPnt, BisectsWhileTheRiseSteepens) {
    std::vector<double> convex(17), concave(17), mirrored(17);
    for (int i = 0; i <= 16; ++i) {
        convex[i] = i * i;
        concave[i] = std::sqrt(i);
        mirrored[i] = (16 - i) * (16 - i);
    }
    const KwTrace t = traceOf(convex), flat = traceOf(std::vector<double>(12, 1.0));
    EXPECT_EQ(t.getInflexionPnt(0, 16, 0.0), 14);
    EXPECT_EQ(t.getInflexionPnt(0, 16, 5.0), 12);  // stops once within halfWidth
    EXPECT_EQ(t.getInflexionPnt(5, 7, 0.0), 5);    // two apart
    EXPECT_EQ(traceOf(concave).getInflexionPnt(0, 16, 0.0), 0);
    EXPECT_EQ(traceOf(mirrored).getInflexionPnt(16, 0, NAN), 2);
    EXPECT_EQ(flat.getInflexionPnt(3, 8, 1.0) + flat.getInflexionPnt(8, 3, 1.0), 10);
}

TEST(DetectPeak, ExtremaStretchBetweenTwoMinimaAndWidestEvent) {
    KwTrace x = traceOf({0, 1, 5, 5, 2, 7, 3, 1});
    x.setSignalStartPnt(1);
    x.setSignalEndPnt(6);
    // Strict tests; at the window ends only the inner neighbour counts.
    EXPECT_EQ(x.scanIsMaximum(2) + x.scanIsMaximum(3), 0);  // plateau
    EXPECT_EQ(x.scanIsMaximum(5) + x.scanIsMinimum(4), 2);
    EXPECT_EQ(x.scanIsMinimum(1) + x.scanIsMinimum(6), 2);
    x.setSignalEndPnt(1);
    EXPECT_EQ(x.scanIsMaximum(1) + x.scanIsMinimum(1), 2);
    using Peak = std::tuple<double, int, int>;  // height, start, end
    auto peak = [](KwTrace t, int pos, int dir) {
        int s = -7, e = -7;
        const double h = t.detectPeak(pos, s, e, dir);
        return Peak(h, s, e);
    };
    KwTrace t = traceOf({5, 4, 2, 3, 9, 6, 1, 5, 7, 3, 4});
    EXPECT_EQ(peak(t, 10, 1), Peak(-1.0, -7, -7));
    EXPECT_EQ(peak(t, 0, -1), Peak(-1.0, -7, -7));
    EXPECT_EQ(peak(t, 3, 1), Peak(7.0, 6, 9));
    EXPECT_EQ(peak(t, 10, -1), Peak(7.0, 6, 9));
    t.setSignalEndPnt(7);  // the closing minimum beyond the window: one past it
    EXPECT_EQ(peak(t, 3, 1), Peak(5.0, 6, 8));
    EXPECT_EQ(std::get<0>(peak(traceOf({0, 1, 2, 3, 4, 5, 6}), 2, 1)), -1.0);
    EXPECT_EQ(std::get<0>(peak(traceOf({0, NAN, NAN, NAN, NAN, NAN, 0}), 4, -1)), -1.0);
    // The widest run at or above the level, counted from the sample below.
    using Run = std::tuple<int, int, int>;  // found, start, end
    auto widest = [](const KwTrace& w, int from, int to, double level) {
        int s = -1, e = -1;
        const int f = w.findWidestEvent(from, to, level, s, e);
        return Run(f, s, e);
    };
    const KwTrace w = traceOf({0, 5, 5, 0, 5, 5, 0});
    EXPECT_EQ(std::get<0>(widest(w, 0, 6, 9.0)) + std::get<0>(widest(w, 4, 4, 1.0)), 0);
    EXPECT_EQ(widest(w, 5, 2, 1.0), Run(1, -1, -1));
    EXPECT_EQ(widest(w, 0, 6, 1.0), Run(1, 3, 5));
    EXPECT_EQ(widest(traceOf({0, 5, 0, 0, 5, 5, 5}), 0, 6, 5.0), Run(1, 3, 6));
}
