// KwXY point sets with Neville interpolation and least-squares Legendre fits,
// and the Legendre polynomials themselves.
#include <algorithm>
#include <cmath>
#include <vector>

#include "common/legendre.h"
#include "containers/buffers.h"
#include "kwsignal/containers.h"

namespace {

// P(0, u) .. P(count-1, u) into out.
void legendreValues(int count, double u, double* out) {
    for (int j = 0; j < count; ++j) {
        out[j] = j == 0 ? 1.0 : j == 1 ? u : kw::detail::next(j - 1, u, out[j - 1], out[j - 2]);
    }
}

}  // namespace

double LegPol(int k, double x) {
    if (k < 0) return 0.0;
    double prev = 1.0, cur = x;
    if (k == 0) return prev;
    for (int j = 1; j < k; ++j) {
        const double next = kw::detail::next(j, x, cur, prev);
        prev = cur;
        cur = next;
    }
    return cur;
}

KwXY::KwXY(int n)
    : numPoints(kw::detail::countOf(n)),
      xs(kw::detail::newZeroed(n)),
      ys(kw::detail::newZeroed(n)) {}

KwXY::KwXY(const KwXY& p)
    : numPoints(p.numPoints),
      xs(kw::detail::newCopy(p.numPoints, p.xs)),
      ys(kw::detail::newCopy(p.numPoints, p.ys)) {}

KwXY& KwXY::operator=(const KwXY& p) {
    if (this == &p) return *this;
    kw::detail::assignCopy(xs, numPoints, p.xs, p.numPoints);
    kw::detail::assignCopy(ys, numPoints, p.ys, p.numPoints);
    return *this;
}

KwXY::~KwXY() {
    delete[] xs;
    delete[] ys;
}

int KwXY::polynomInterpolat(double at, double& y, double& dy, int first, int count) const {
    y = 0.0;
    dy = 0.0;
    if (count < 1 || first < 0 || first > numPoints - count) return 0;
    const double* xa = xs + first;
    const double* ya = ys + first;

    // Neville's tableau, kept as the corrections c (upwards) and d (downwards)
    // of the current column, starting from the point nearest to `at`.
    std::vector<double> c(ya, ya + count), d(ya, ya + count);
    int ns = 0;
    for (int i = 1; i < count; ++i) {
        if (std::fabs(at - xa[i]) < std::fabs(at - xa[ns])) ns = i;
    }
    double result = ya[ns--];
    double last = 0.0;
    for (int m = 1; m < count; ++m) {
        for (int i = 0; i < count - m; ++i) {
            const double den = xa[i] - xa[i + m];
            if (den == 0.0) {
                y = 0.0;
                return 0;
            }
            const double w = (c[i + 1] - d[i]) / den;
            c[i] = (xa[i] - at) * w;
            d[i] = (xa[i + m] - at) * w;
        }
        // Walk the tableau towards the middle so the corrections stay small.
        last = 2 * (ns + 1) < count - m ? c[ns + 1] : d[ns--];
        result += last;
    }
    y = result;
    dy = last;
    return 1;
}

int KwXY::LegendreFit(int degree, double* coef, double low, double high, int /*flag*/) const {
    if (degree < 0) return 0;
    std::fill(coef, coef + degree + 1, 0.0);
    if (numPoints == 0) return 0;
    const int m = std::min(degree + 1, numPoints);

    const double xmin = *std::min_element(xs, xs + numPoints);
    const double xmax = *std::max_element(xs, xs + numPoints);
    // Points that all share one x map onto `low`; only a constant is then
    // determined, and a higher degree leaves the normal equations singular.
    const double scale = xmax > xmin ? (high - low) / (xmax - xmin) : 0.0;

    KwdbMatrix normal(0, m - 1, 0, m - 1);
    KwdbVector rhs(0, m - 1);
    std::vector<double> p(m);
    for (int i = 0; i < numPoints; ++i) {
        legendreValues(m, low + (xs[i] - xmin) * scale, p.data());
        for (int j = 0; j < m; ++j) {
            rhs(j) += p[j] * ys[i];
            for (int k = 0; k < m; ++k) normal(j, k) += p[j] * p[k];
        }
    }
    KwdbVector solution;
    if (!solution.beSolutionOf(normal, rhs, 0)) return 0;
    for (int j = 0; j < m; ++j) coef[j] = solution(j);
    return 1;
}
