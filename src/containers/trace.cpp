// KwTrace as a container: construction, copying, the signal window, shifting
// and L1 normalisation.
#include "kwsignal/trace.h"

#include <cmath>

#include "common/sample_range.h"
#include "common/wide_vectors.h"

namespace {

// Zeroes samples first..last of a, clipped to the array so that a window
// that was set carelessly never leads to a write outside it.
void zeroRange(double* a, int n, int first, int last) {
    if (first < 0) first = 0;
    if (last > n - 1) last = n - 1;
    for (int i = first; i <= last; ++i) a[i] = 0.0;
}

}  // namespace

KwTrace::KwTrace()
    : KwdbAry(),
      sampleRate(0.0),
      signalStartPnt(0),
      signalEndPnt(0),
      noiseLevel(0.0),
      minumHeight(0.0) {}

KwTrace::KwTrace(int n)
    : KwdbAry(n),
      sampleRate(0.0),
      signalStartPnt(0),
      signalEndPnt(numData - 1),
      noiseLevel(0.0),
      minumHeight(0.0) {}

KwTrace::KwTrace(int n, const double* p)
    : KwdbAry(n, p),
      sampleRate(0.0),
      signalStartPnt(0),
      signalEndPnt(numData - 1),
      noiseLevel(0.0),
      minumHeight(0.0) {}

KwTrace::KwTrace(const KwdbAry& a)
    : KwdbAry(a),
      sampleRate(0.0),
      signalStartPnt(0),
      signalEndPnt(numData - 1),
      noiseLevel(0.0),
      minumHeight(0.0) {}

KwTrace::KwTrace(const KwTrace& t) = default;

KwTrace& KwTrace::operator=(const KwTrace& t) {
    if (this == &t) return *this;
    KwdbAry::operator=(t);
    sampleRate = t.sampleRate;
    signalStartPnt = t.signalStartPnt;
    signalEndPnt = t.signalEndPnt;
    noiseLevel = t.noiseLevel;
    minumHeight = t.minumHeight;
    return *this;
}

KwTrace::KwTrace(KwTrace&& t) noexcept = default;

KwTrace& KwTrace::operator=(KwTrace&& t) noexcept = default;

KwTrace& KwTrace::operator=(double v) {
    for (int i = 0; i < numData; ++i) data[i] = v;
    return *this;
}

void KwTrace::init(int n) {
    sampleRate = 0.0;
    signalStartPnt = 0;
    signalEndPnt = (n > 0 ? n : 0) - 1;
    noiseLevel = 0.0;
    minumHeight = 0.0;
    KwdbAry::init(n);
}

void KwTrace::setSignalStartPnt(int n) {
    // Only a window that was already narrowed loses samples: the first
    // narrowing from sample 0 keeps them, so a caller can still widen again.
    const int s = signalStartPnt;
    if (s > 0 && s < n) zeroRange(data, numData, s, n - 1);
    signalStartPnt = n;
}

void KwTrace::setSignalEndPnt(int n) {
    const int e = signalEndPnt;
    if (e < numData - 1 && e > n) zeroRange(data, numData, n + 1, e);
    signalEndPnt = n;
}

void KwTrace::shift(int first, int last, int offset) {
    // A window or range outside the samples is the caller's mistake: nothing
    // is read or changed (and such a window's L1 norm is 0).
    if (offset == 0 || !kw::detail::isSampleRange(*this, signalStartPnt, signalEndPnt) ||
        !kw::detail::isSampleRange(*this, first, last))
        return;
    int lo = first + offset;
    int hi = last + offset;
    if (hi < signalStartPnt || lo > signalEndPnt) {
        zeroRange(data, numData, first, last);
        return;
    }
    if (lo < signalStartPnt) lo = signalStartPnt;
    if (hi > signalEndPnt) hi = signalEndPnt;
    // Copy in the direction of travel so overlapping ranges move intact.
    if (offset < 0) {
        for (int i = lo; i <= hi; ++i) data[i] = data[i - offset];
        zeroRange(data, numData, hi + 1, last);
    } else {
        for (int i = hi; i >= lo; --i) data[i] = data[i - offset];
        zeroRange(data, numData, first, lo - 1);
    }
}

void KwTrace::zeroMinimum() {
    if (!kw::detail::isSampleRange(*this, signalStartPnt, signalEndPnt)) return;
    const double m = getMinData(signalStartPnt, signalEndPnt);
    for (int i = signalStartPnt; i <= signalEndPnt; ++i) data[i] -= m;
}

namespace {

// The loops of the two methods below, cloned for wide vectors here rather
// than in the methods.
KW_WIDE_VECTORS double magnitudeSum(const double* data, int first, int last) {
    return kw::detail::laneSum(first, last, [data](int i) { return std::fabs(data[i]); });
}

KW_WIDE_VECTORS void divideUpTo(double* data, int last, double v) {
    for (int i = 0; i <= last; ++i) data[i] /= v;
}

}  // namespace

double KwTrace::norm1() const {
    if (signalEndPnt == 0) return KwdbAry::norm1();
    if (!kw::detail::isSampleRange(*this, signalStartPnt, signalEndPnt)) return 0.0;
    return magnitudeSum(data, signalStartPnt, signalEndPnt);
}

double KwTrace::normalizeL1() {
    const double v = norm1() / (static_cast<double>(signalEndPnt) - signalStartPnt + 1) * 0.001;
    // A window without signal cannot be scaled. The same holds for a window
    // of no length or one holding non-finite samples, whose divisor is not a
    // number: leave such a trace as it is rather than spread NaN over it.
    if (v == 0.0 || !std::isfinite(v)) return 1.0;
    divideUpTo(data, signalEndPnt < numData ? signalEndPnt : numData - 1, v);
    noiseLevel /= v;
    return v;
}
