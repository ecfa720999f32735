// Reading sizes off the standard: the scan-to-base-pair curve through the
// standard's peaks. Mobility falls off with length roughly as Southern's
// reciprocal law, so Local Southern fits that law through each three
// neighbouring peaks; a natural cubic spline and a global third-order least
// squares polynomial are the smooth alternatives.
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "fragments/fragments_internal.h"

namespace kw {
namespace detail {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Solves the n x n system a x = b in place by Gaussian elimination with
// partial pivoting, a held row after row (n <= 4 here: Southern's law and
// the cubic fit); false when singular. Pointers rather than vectors, since
// Southern's law is fitted for every peak sized.
bool solve(double* a, double* b, int n) {
    for (int c = 0; c < n; ++c) {
        int p = c;
        for (int r = c + 1; r < n; ++r)
            if (std::fabs(a[r * n + c]) > std::fabs(a[p * n + c])) p = r;
        if (std::fabs(a[p * n + c]) < 1e-12) return false;
        for (int k = 0; k < n; ++k) std::swap(a[p * n + k], a[c * n + k]);
        std::swap(b[p], b[c]);
        for (int r = c + 1; r < n; ++r) {
            const double f = a[r * n + c] / a[c * n + c];
            for (int k = c; k < n; ++k) a[r * n + k] -= f * a[c * n + k];
            b[r] -= f * b[c];
        }
    }
    for (int c = n - 1; c >= 0; --c) {
        for (int k = c + 1; k < n; ++k) b[c] -= a[c * n + k] * b[k];
        b[c] /= a[c * n + c];
    }
    return true;
}

// Southern's law size = L0 + c / (scan - x0) through three points: with
// K = c - L0 x0 it is linear in (x0, L0, K): size*scan = x0 size + L0 scan + K.
// Falls back to the straight line through the outer two where the three lie
// on a line or the pole falls among them.
double southern3(const double* x, const double* y, double scan) {
    double a[9], b[3];
    for (int i = 0; i < 3; ++i) {
        a[3 * i] = y[i];
        a[3 * i + 1] = x[i];
        a[3 * i + 2] = 1.0;
        b[i] = y[i] * x[i];
    }
    const double linear = y[0] + (y[2] - y[0]) * (scan - x[0]) / (x[2] - x[0]);
    if (!solve(a, b, 3)) return linear;
    const double x0 = b[0], l0 = b[1], c = b[2] + l0 * x0;
    const double lo = std::min(x[0], scan), hi = std::max(x[2], scan);
    if (x0 >= lo - 1.0 && x0 <= hi + 1.0) return linear;
    return l0 + c / (scan - x0);
}

}  // namespace

SizingCurve::SizingCurve(std::vector<double> scans, std::vector<double> sizes, SizingMethod m)
    : x(std::move(scans)), y(std::move(sizes)), method(m) {
    const int n = points();
    if (n < 2) return;
    if (method == SizingMethod::cubic && n >= 3) {
        // Natural spline: tridiagonal system for the second derivatives.
        secondDerivatives.assign(n, 0.0);
        std::vector<double> u(n, 0.0);
        for (int i = 1; i < n - 1; ++i) {
            const double sig = (x[i] - x[i - 1]) / (x[i + 1] - x[i - 1]);
            const double p = sig * secondDerivatives[i - 1] + 2.0;
            secondDerivatives[i] = (sig - 1.0) / p;
            const double d =
                (y[i + 1] - y[i]) / (x[i + 1] - x[i]) - (y[i] - y[i - 1]) / (x[i] - x[i - 1]);
            u[i] = (6.0 * d / (x[i + 1] - x[i - 1]) - sig * u[i - 1]) / p;
        }
        for (int i = n - 2; i >= 0; --i)
            secondDerivatives[i] = secondDerivatives[i] * secondDerivatives[i + 1] + u[i];
    }
    if (method == SizingMethod::lsq3) {
        centre = 0.5 * (x.front() + x.back());
        scale = std::max(1.0, 0.5 * (x.back() - x.front()));
        const int order = std::min(3, n - 1);
        const int dim = order + 1;
        std::vector<double> a(static_cast<size_t>(dim * dim), 0.0),
            b(static_cast<size_t>(dim), 0.0);
        for (int i = 0; i < n; ++i) {
            const double t = (x[i] - centre) / scale;
            std::vector<double> p(order + 1, 1.0);
            for (int k = 1; k <= order; ++k) p[k] = p[k - 1] * t;
            for (int r = 0; r <= order; ++r) {
                for (int c = 0; c <= order; ++c) a[r * dim + c] += p[r] * p[c];
                b[r] += p[r] * y[i];
            }
        }
        if (solve(a.data(), b.data(), dim)) coefficients = b;
    }
}

bool SizingCurve::outside(double scan) const {
    return x.empty() || scan < x.front() || scan > x.back();
}

double SizingCurve::size(double scan) const {
    if (points() < 2 || !std::isfinite(scan)) return kNaN;
    if (points() == 2) return y[0] + (y[1] - y[0]) * (scan - x[0]) / (x[1] - x[0]);
    switch (method) {
        case SizingMethod::cubic:
            return spline(scan);
        case SizingMethod::lsq3:
            return cubicFit(scan);
        default:
            return localSouthern(scan);
    }
}

double SizingCurve::localSouthern(double scan) const {
    return localSouthernSize(x.data(), y.data(), points(), scan);
}

// Average of Southern's law through the triple ending at the interval's
// right end and the one starting at its left end; one triple at the ends.
double localSouthernSize(const double* x, const double* y, int n, double scan) {
    if (n < 2 || !std::isfinite(scan)) return kNaN;
    if (n == 2) return y[0] + (y[1] - y[0]) * (scan - x[0]) / (x[1] - x[0]);
    const int k = static_cast<int>(std::upper_bound(x, x + n, scan) - x) - 1;
    // Triples starting at k-1 and at k, kept inside 0..n-3.
    const int a = std::min(std::max(k - 1, 0), n - 3);
    const int b = std::min(std::max(k, 0), n - 3);
    const double first = southern3(&x[a], &y[a], scan);
    if (a == b) return first;
    return 0.5 * (first + southern3(&x[b], &y[b], scan));
}

double SizingCurve::spline(double scan) const {
    const int n = points();
    if (scan <= x.front() || scan >= x.back()) {  // straight on with the end slopes
        const bool low = scan <= x.front();
        const int i = low ? 0 : n - 2;
        const double h = x[i + 1] - x[i];
        const double slope =
            (y[i + 1] - y[i]) / h +
            (low ? -h * (2.0 * secondDerivatives[0] + secondDerivatives[1])
                 : h * (secondDerivatives[n - 2] + 2.0 * secondDerivatives[n - 1])) /
                6.0;
        return low ? y[0] + slope * (scan - x[0]) : y[n - 1] + slope * (scan - x[n - 1]);
    }
    const int hi = static_cast<int>(std::upper_bound(x.begin(), x.end(), scan) - x.begin());
    const int lo = hi - 1;
    const double h = x[hi] - x[lo];
    const double a = (x[hi] - scan) / h, b = (scan - x[lo]) / h;
    return a * y[lo] + b * y[hi] +
           ((a * a * a - a) * secondDerivatives[lo] + (b * b * b - b) * secondDerivatives[hi]) * h *
               h / 6.0;
}

double SizingCurve::cubicFit(double scan) const {
    if (coefficients.empty()) return kNaN;
    const double t = (scan - centre) / scale;
    double v = 0.0;
    for (int k = static_cast<int>(coefficients.size()) - 1; k >= 0; --k)
        v = v * t + coefficients[k];
    return v;
}

std::vector<double> leaveOneOut(const std::vector<double>& scans, const std::vector<double>& sizes,
                                SizingMethod method) {
    std::vector<double> residuals;
    const int n = static_cast<int>(scans.size());
    std::vector<double> xs, ys;
    for (int k = 1; k + 1 < n && n >= 4; ++k) {
        xs.clear();
        ys.clear();
        for (int i = 0; i < n; ++i)
            if (i != k) {
                xs.push_back(scans[i]);
                ys.push_back(sizes[i]);
            }
        // Local Southern reads the points it needs in place; the others
        // build their curve.
        const double s = method == SizingMethod::localSouthern
                             ? localSouthernSize(xs.data(), ys.data(), n - 1, scans[k])
                             : SizingCurve(xs, ys, method).size(scans[k]);
        if (std::isfinite(s)) residuals.push_back(std::fabs(s - sizes[k]));
    }
    return residuals;
}

}  // namespace detail
}  // namespace kw
