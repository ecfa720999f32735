// KwPeak, the record of one fitted Gaussian peak, and the replacement of a
// trace section by a single Gaussian measured on it.
#include <cmath>
#include <new>

#include "common/gaussian.h"
#include "kwsignal/events.h"
#include "kwsignal/trace.h"

namespace {

// Height and width factor of each half of a split peak (1/sqrt(2) as the
// instrument software has always rounded it).
constexpr double kSplitFactor = 0.7071067623730956;

// 1/ln 2 as the width conversion has always used it: a Gaussian's twice-
// variance from its half width at half height is hw^2 / ln 2.
constexpr double kInvLn2 = 1.4426952085639542;

}  // namespace

KwPeak::KwPeak()
    : startPnt(0),
      endPnt(0),
      traceCode(0),
      variance(0.0),
      height(0.0),
      locatn(0.0),
      sigma(-1.0),
      base(0.0) {}

double KwPeak::getNarrowness() const {
    return height / (2.0 * sigma);
}

double KwPeak::getArea() const {
    return (sigma * height) * kw::detail::kRootTwoPi;
}

double KwPeak::getApproximateArea() const {
    return (height - base) * (endPnt - startPnt + 1) * 0.5;
}

KwPeak* KwPeak::split() {
    if (endPnt - startPnt + 1 < 3) return nullptr;
    KwPeak* right = new (std::nothrow) KwPeak();
    if (right == nullptr) return nullptr;
    variance = -1.0;
    height = base + (height - base) * kSplitFactor;
    locatn -= 0.5;
    sigma *= kSplitFactor;
    *right = *this;
    right->locatn = locatn + 1.0;
    // Keep both centres inside the span.
    if (static_cast<double>(startPnt) > locatn) {
        locatn += 1.0;
        right->locatn += 1.0;
    }
    if (static_cast<double>(endPnt) < right->locatn) {
        locatn -= 1.0;
        right->locatn -= 1.0;
    }
    return right;
}

void KwPeak::synthetic(double* buffer, int /*n*/) const {
    for (int i = startPnt; i <= endPnt; ++i) {
        const double z = (i - locatn) / sigma;
        buffer[i] += height * std::exp(-0.5 * z * z) + base;
    }
}

namespace {

// Position where the samples cross `half` between k (at or above half) and
// its neighbour j = k - step (below it), by linear interpolation; -1.0 when
// the neighbour is not below half.
double halfCrossing(const double* y, int k, int step, double half) {
    const int j = k - step;
    if (!(y[j] < half)) return -1.0;
    return j + step * (half - y[j]) / (y[k] - y[j]);
}

}  // namespace

void KwTrace::synthSinglePeak(int s, int e) {
    double sum = 0.0;
    double weighted = 0.0;
    double peakMax = data[s];
    int maxAt = s;
    for (int i = s; i <= e; ++i) {
        sum += data[i];
        weighted += i * data[i];
        if (data[i] > peakMax) {
            peakMax = data[i];
            maxAt = i;
        }
    }
    const double c = weighted / sum;
    const double half = peakMax * 0.5;

    double w = 0.0;  // twice the variance of the Gaussian
    if (data[s] > half && data[e] > half) {
        // Cut off above half height on both sides: the width follows from
        // the drop between the centre and the lower end.
        const bool startLower = data[s] <= data[e];
        const double dist = startLower ? c - s : e - c;
        const double endValue = startLower ? data[s] : data[e];
        w = dist * dist / std::log(peakMax / endValue);
    } else {
        int k = s;
        while (k < e && data[k] < half) ++k;
        const double left = data[k] >= half ? halfCrossing(data, k, 1, half) : -1.0;
        k = e;
        while (k > s && data[k] < half) --k;
        const double right = data[k] >= half ? halfCrossing(data, k, -1, half) : -1.0;
        double hw;
        if (left >= 0.0 && right >= 0.0) {
            hw = (right - left) * 0.5;
        } else {
            hw = left < 0.0 ? right - maxAt : maxAt - left;
        }
        w = hw * hw * kInvLn2;
    }

    // A section from which no Gaussian can be measured (no signal to centre,
    // ends as high as the maximum, no width) is left as it is.
    if (!std::isfinite(c) || !std::isfinite(peakMax) || !(w > 0.0) || !std::isfinite(w)) return;
    for (int i = s + 1; i <= e; ++i) data[i] = peakMax * std::exp(-(i - c) * (i - c) / w);
}
