// Event detection along one trace: the event scan (getNextEvent) with its
// inflexion-point search, and the simpler stand-alone scans.
//
// Every loop here walks an index toward a fixed end, one sample per step, so
// non-finite samples (which fail every comparison) can change where a scan
// stops but never keep it from stopping.
#include <algorithm>
#include <cmath>
#include <utility>

#include "common/sample_range.h"
#include "kwsignal/events.h"
#include "kwsignal/trace.h"

namespace {

// Truncates toward zero into an int; NaN gives 0 and values beyond the int
// range give its ends (a careless width must not become a wild index).
int truncToInt(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return 2147483647;
    if (v <= -2147483648.0) return -2147483647 - 1;
    return static_cast<int>(v);
}

// Sample i lies in the signal window, and the window among the samples. A
// window or range reaching outside the samples is the caller's mistake:
// nothing is read, and a scan answers as when it finds nothing.
bool isWindowSample(const KwTrace& t, int i) {
    return kw::detail::isSampleRange(t, t.getSignalStartPnt(), i) &&
           kw::detail::isSampleRange(t, i, t.getSignalEndPnt());
}

// Direction-aware view of the trace for one scan: "next" and "ahead" follow
// the scan direction.
struct Scan {
    const double* data;
    int dir;  // 1 forward, -1 backward

    double at(int i) const { return data[i]; }
    double next(int i) const { return data[i + dir]; }
    // Distance from a to b measured in the scan direction.
    int ahead(int a, int b) const { return (b - a) * dir; }
};

// Where the scan starts once the falling tail of whatever lies before the
// caller's start is stepped over.
//
// The look-ahead window (window samples next to the start, in scan
// direction) is searched for the lowest sample reachable from the start
// without the trace rising above the start sample: once a sample is higher
// than the start, a new rise has begun and nothing beyond it may be skipped.
// A candidate must lie strictly below the start sample; the scan start then
// walks downhill from it to the next local minimum. On a falling tail this
// lands in the valley after the tail, so the tail is not taken for the onset
// of an event; in a flat or rising stretch no window sample lies below the
// start and the start stays where the caller put it.
int adjustedStart(const Scan& s, int start, int last, int window) {
    const double startValue = s.at(start);
    int candidate = start;
    double lowest = startValue;
    for (int k = 1; k < window; ++k) {
        const int i = start + k * s.dir;
        if (s.at(i) > startValue) break;
        if (s.at(i) < lowest) {
            lowest = s.at(i);
            candidate = i;
        }
    }
    if (candidate == start) return start;
    int i = candidate;
    while (s.ahead(i, last) >= 0 && s.next(i) < s.at(i)) i += s.dir;
    return i;
}

// One run of the event scan: the range in scan direction, the levels, and
// the bounds found so far. The near side is where the scan enters the event
// (bound index 0 forward, 1 backward), the far side where it leaves.
class EventScan {
public:
    EventScan(const KwTrace& scanned, const Scan& scan, int first, int last, double onset,
              double valley, double hw, int sentinel)
        : outer{sentinel, sentinel},
          inner{sentinel, sentinel},
          trace(scanned),
          s(scan),
          from(first),
          to(last),
          onsetLevel(onset),
          valleyLevel(valley),
          halfWidth(hw),
          nearSide(scan.dir == 1 ? 0 : 1),
          farSide(1 - nearSide) {}

    // Scans for the first event and appends its humps to ev.
    void run(KwEvent& ev) {
        int p = from;
        while (s.ahead(p, to) >= 0 && !(s.at(p) > onsetLevel)) p += s.dir;
        if (s.ahead(p, to) < 0) return;  // nothing above onset: sentinel bounds
        const int a = firstApex(p);
        setNearBounds(p, a);
        ev.addApexGlobalLocatn(a);
        setFarBounds(scanFarSide(a, ev));
    }

    int outer[2];
    int inner[2];

private:
    // The first sample from the onset p on that the trace falls after. When
    // the trace never falls before `to` (it keeps rising or stays level
    // through the end of the range), the range end is the highest point
    // reached and is taken as the apex.
    int firstApex(int p) const {
        int a = p;
        while (s.ahead(a, to) > 0 && !(s.next(a) < s.at(a))) a += s.dir;
        return a;
    }

    // Inner bound: the inflexion point of the rise; outer bound: the valley
    // before the onset (the first sample walking back that a higher one
    // precedes), or the scan start.
    void setNearBounds(int p, int a) {
        inner[nearSide] = trace.getInflexionPnt(p, a, halfWidth);
        outer[nearSide] = from;
        for (int i = p; s.ahead(i, from) <= 0; i -= s.dir) {
            if (s.at(i - s.dir) > s.at(i)) {
                outer[nearSide] = i;
                return;
            }
        }
    }

    // Walks on from the first apex, appending the maxima above onset as
    // humps, until a valley deep enough (below the valley level, or below
    // 0.6 of the last maximum passed) or the range end. Valleys passed far
    // enough from the last maximum set the far bounds tentatively. Returns
    // where the event ends.
    int scanFarSide(int a, KwEvent& ev) {
        int lastApex = a;
        double lastApexHeight = s.at(a);
        bool falling = true;
        for (int i = a;; i += s.dir) {
            if (s.at(i) > s.next(i)) {
                if (!falling) {
                    lastApex = i;
                    lastApexHeight = s.at(i);
                    if (s.at(i) > onsetLevel) ev.addApexGlobalLocatn(i);
                }
                falling = true;
            } else {
                if (falling) {
                    if (s.at(i) < valleyLevel || s.at(i) < 0.6 * lastApexHeight) return i;
                    if (s.ahead(lastApex, i) > halfWidth) {
                        outer[farSide] = i;
                        inner[farSide] = trace.getInflexionPnt(i, lastApex, halfWidth);
                    }
                }
                falling = false;
            }
            if (i == to) return i;
        }
    }

    // Outer bound: the end; inner bound: the last sample above onset before
    // it (the tentative bound stays when there is none).
    void setFarBounds(int end) {
        outer[farSide] = end;
        for (int j = end; j != from; j -= s.dir) {
            if (s.at(j) > onsetLevel) {
                inner[farSide] = j;
                return;
            }
        }
    }

    const KwTrace& trace;
    const Scan s;
    const int from;
    const int to;
    const double onsetLevel;
    const double valleyLevel;
    const double halfWidth;
    const int nearSide;
    const int farSide;
};

}  // namespace

KwEvent KwTrace::getNextEvent(int traceCode, int startPnt, int endPnt, double onsetLevel,
                              double valleyLevel, double peakWidth, int direction) const {
    // Anything but -1 scans forward: a zero step would never reach the end.
    const Scan s{data, direction == -1 ? -1 : 1};
    const double halfWidth = peakWidth * 0.5;
    const int lim = std::min(truncToInt(halfWidth), truncToInt(0.3 * (endPnt - startPnt + 1.0)));
    const bool forward = s.dir == 1;
    const int from =
        forward ? adjustedStart(s, startPnt, endPnt, lim) : adjustedStart(s, endPnt, startPnt, lim);
    EventScan scan(*this, s, from, forward ? endPnt : startPnt, onsetLevel, valleyLevel, halfWidth,
                   forward ? signalEndPnt + 1 : signalStartPnt - 1);
    KwEvent event;
    scan.run(event);
    event.setup(traceCode, scan.outer, scan.inner, onsetLevel, data);
    return event;
}

int KwTrace::getInflexionPnt(int fromPnt, int toPnt, double halfWidth) const {
    if (fromPnt == toPnt) return fromPnt;
    if (!kw::detail::isSampleRange(*this, std::min(fromPnt, toPnt), std::max(fromPnt, toPnt)))
        return fromPnt;
    if (std::fabs(data[toPnt] - data[fromPnt]) < 0.01) return (fromPnt + toPnt) / 2;
    const double span = halfWidth > 2.0 ? halfWidth : 2.0;
    const int s = fromPnt < toPnt ? 1 : -1;
    int cur = fromPnt;
    int dist = (toPnt - fromPnt) * s;
    // Halve the remaining stretch while the rise into its far half is at
    // least as steep as the rise from fromPnt to the midpoint.
    while (dist > span) {
        const int mid = cur + (toPnt - cur) / 2;
        const double slopeIn = (data[mid] - data[fromPnt]) / ((mid - fromPnt) * s);
        const double slopeOut = (data[toPnt] - data[mid]) / ((toPnt - mid) * s);
        if (slopeOut < slopeIn) return cur;
        cur = mid;
        dist = (toPnt - mid) * s;
    }
    return cur;
}

int KwTrace::scanIsMaximum(int i) const {
    if (!isWindowSample(*this, i)) return 0;
    if (signalEndPnt - signalStartPnt + 1 == 1) return 1;
    if (i == signalStartPnt) return data[i] > data[i + 1] ? 1 : 0;
    if (i == signalEndPnt) return data[i] > data[i - 1] ? 1 : 0;
    return data[i] > data[i - 1] && data[i] > data[i + 1] ? 1 : 0;
}

int KwTrace::scanIsMinimum(int i) const {
    if (!isWindowSample(*this, i)) return 0;
    if (signalEndPnt - signalStartPnt + 1 == 1) return 1;
    if (i == signalStartPnt) return data[i] < data[i + 1] ? 1 : 0;
    if (i == signalEndPnt) return data[i] < data[i - 1] ? 1 : 0;
    return data[i] < data[i - 1] && data[i] < data[i + 1] ? 1 : 0;
}

double KwTrace::detectPeak(int pos, int& startPnt, int& endPnt, int direction) {
    // A start outside the window can only run into its end; answering at
    // once keeps the minimum test from reading beyond the window. Anything
    // but -1 walks forward, so the walks always move.
    if (!isWindowSample(*this, pos)) return -1.0;
    const int dir = direction == -1 ? -1 : 1;
    if ((pos <= signalStartPnt && dir == -1) || (pos >= signalEndPnt && dir == 1)) return -1.0;
    const auto atWindowEnd = [this](int i) { return i <= signalStartPnt || i >= signalEndPnt; };

    startPnt = pos;
    while (scanIsMinimum(startPnt) == 0) {
        startPnt += dir;
        if (atWindowEnd(startPnt)) break;
    }
    if (atWindowEnd(startPnt)) return -1.0;

    endPnt = startPnt + dir;
    double height = 0.0;
    while (scanIsMinimum(endPnt) == 0) {
        if (data[endPnt] > height) height = data[endPnt];
        endPnt += dir;
        if (atWindowEnd(endPnt)) break;
    }
    if (height > 0.0 && endPnt < startPnt) std::swap(startPnt, endPnt);
    return height;
}

int KwTrace::findWidestEvent(int from, int to, double level, int& startPnt, int& endPnt) const {
    // A reversed range reads nothing (and finds the empty run, 1).
    if (from <= to && !kw::detail::isSampleRange(*this, from, to)) return 0;
    int i = from;
    if (from < to) {
        while (i < to && data[i] < level) ++i;
    }
    if (i == to) return 0;

    // Every run after the first counts from the last sample below level.
    bool open = true;
    int best = 0;
    for (int j = i + 1; j <= to; ++j) {
        if (open && data[j] < level) {
            open = false;
            if (j - i > best) {
                best = j - i;
                startPnt = i;
                endPnt = j - 1;
            }
        } else if (!open && data[j] >= level) {
            open = true;
            i = j - 1;
        }
    }
    if (open && to - i + 1 > best) {
        startPnt = i;
        endPnt = to;
    }
    return 1;
}
