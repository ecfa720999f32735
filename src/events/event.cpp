// KwEvent: one stretch of a trace holding a peak or a group of overlapping
// peaks, with its own copy of the samples and its humps.
#include <algorithm>
#include <cmath>
#include <new>

#include "kwsignal/events.h"

namespace {

// A copy of the n samples at src, or null when there is nothing to copy (or
// no memory for it: the event then simply holds no samples).
double* copySamples(const double* src, int n) {
    if (src == nullptr || n <= 0) return nullptr;
    double* dst = new (std::nothrow) double[n];
    if (dst != nullptr) std::copy(src, src + n, dst);
    return dst;
}

}  // namespace

KwEvent::KwEvent()
    : outerBounds{0, 0},
      innerBounds{0, 0},
      summitPosition(-1),
      traceCode(4),
      minData(1.0e100),
      maxData(-1.0e100),
      humps(),
      samples(nullptr),
      numPeaks() {}

KwEvent::KwEvent(const KwEvent& e)
    : outerBounds{e.outerBounds[0], e.outerBounds[1]},
      innerBounds{e.innerBounds[0], e.innerBounds[1]},
      summitPosition(e.summitPosition),
      traceCode(e.traceCode),
      minData(e.minData),
      maxData(e.maxData),
      humps(e.humps),
      samples(copySamples(e.samples, e.getOuterWidth())),
      numPeaks(e.numPeaks) {}

KwEvent& KwEvent::operator=(const KwEvent& e) {
    if (this == &e) return *this;
    outerBounds[0] = e.outerBounds[0];
    outerBounds[1] = e.outerBounds[1];
    innerBounds[0] = e.innerBounds[0];
    innerBounds[1] = e.innerBounds[1];
    summitPosition = e.summitPosition;
    traceCode = e.traceCode;
    minData = e.minData;
    maxData = e.maxData;
    delete[] samples;
    samples = copySamples(e.samples, e.getOuterWidth());
    humps = e.humps;
    numPeaks = e.numPeaks;
    return *this;
}

KwEvent::~KwEvent() {
    delete[] samples;
}

void KwEvent::setup(int code, int* outer, int* inner, double /*level*/, const double* traceData) {
    outerBounds[0] = outer[0];
    outerBounds[1] = outer[1];
    innerBounds[0] = inner[0];
    innerBounds[1] = inner[1];
    traceCode = code;
    delete[] samples;
    samples = nullptr;

    // A one-sample span is how detection says "no event"; an inverted span
    // is treated the same way rather than sized into a huge allocation.
    const int w = getOuterWidth();
    if (w <= 1) return;
    samples = copySamples(traceData + outerBounds[0], w);
    if (samples == nullptr) return;
    // A hump listed outside the event's span is pinned to its nearer end, so
    // that the humps only ever index the event's own samples.
    for (KwHump* h = humps.getFisrtHump(); h != nullptr; h = h->getNext())
        h->setApexLocatn(std::min(outerBounds[1], std::max(outerBounds[0], h->getApexLocatn())));
    for (int i = 0; i < w; ++i) {
        if (samples[i] > maxData) maxData = samples[i];
        if (samples[i] < minData) minData = samples[i];
    }
    humps.finishUp(outerBounds[0], samples);
}

void KwEvent::setNumPksBeNumHumps() {
    const int n = getNumHumps();
    numPeaks.setMax(n);
    numPeaks.setMin(n);
}

double KwEvent::getArea() const {
    double area = 0.0;
    const int w = getOuterWidth();
    for (int i = 0; i < w; ++i) area += samples[i] - minData;
    return area;
}

int KwEvent::getSummitPosition() const {
    if (summitPosition != -1) return summitPosition;
    int best = 0;
    const int w = getOuterWidth();
    for (int i = 1; i < w; ++i) {
        if (samples[i] > samples[best]) best = i;
    }
    return outerBounds[0] + best;
}

int KwEvent::pointWithValueCloseTo(double value, int lo, int hi) const {
    if (lo == 0 && hi == 0) return 0;
    for (;;) {
        const double yLo = samples[lo];
        const double yHi = samples[hi];
        if (value > yHi && value > yLo) return yHi > yLo ? hi : lo;
        if (value < yHi && value < yLo) return yHi < yLo ? hi : lo;
        if (lo == hi) return hi;
        // Here value lies between the two end samples. Equal ends then equal
        // value, so lo already holds it; a slope that is not a finite number
        // (non-finite samples, or a difference too small to divide by) gives
        // no interpolation either, and lo is the answer.
        if (yHi == yLo) return lo;
        const double t = (value - yLo) / ((yHi - yLo) / (hi - lo)) + lo;
        if (!std::isfinite(t)) return lo;
        // Rounding may carry t a hair outside the bracket; keep it inside.
        const double inside = std::clamp(t, 1.0 * std::min(lo, hi), 1.0 * std::max(lo, hi));
        const int m = static_cast<int>(inside);
        if (m == lo || m == hi) return m;
        if ((value - samples[m]) * (value - yLo) <= 0.0) {
            hi = m;
        } else {
            lo = m;
        }
    }
}
