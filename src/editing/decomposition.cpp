// The sample's heights as a non-negative mixture of the candidates'.
#include <algorithm>
#include <cmath>

#include "editing/editing.h"

namespace kw::detail {

std::vector<Heights> scaledHeights(const kw::BaseCalls& calls) {
    constexpr int kHalf = 8;
    const int n = static_cast<int>(calls.bases.size());
    std::vector<double> total(static_cast<size_t>(n), 0.0);
    for (int i = 0; i < n; ++i)
        for (double h : calls.bases[static_cast<size_t>(i)].heights)
            if (std::isfinite(h) && h > 0.0) total[static_cast<size_t>(i)] += h;
    // Running mean by a prefix sum.
    std::vector<double> prefix(static_cast<size_t>(n) + 1, 0.0);
    for (int i = 0; i < n; ++i)
        prefix[static_cast<size_t>(i) + 1] =
            prefix[static_cast<size_t>(i)] + total[static_cast<size_t>(i)];
    std::vector<Heights> out(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const int a = std::max(0, i - kHalf), b = std::min(n, i + kHalf + 1);
        const double mean =
            (prefix[static_cast<size_t>(b)] - prefix[static_cast<size_t>(a)]) / (b - a);
        for (int c = 0; c < 4; ++c) {
            const double h = calls.bases[static_cast<size_t>(i)].heights[static_cast<size_t>(c)];
            out[static_cast<size_t>(i)][static_cast<size_t>(c)] =
                mean > 0.0 && std::isfinite(h) && h > 0.0 ? h / mean : 0.0;
        }
    }
    return out;
}

namespace {

// Solves the k x k system a x = b (row-major, symmetric positive definite
// after a small ridge) by Cholesky; a is overwritten.
std::vector<double> solveSpd(std::vector<double> a, std::vector<double> b, int k) {
    double trace = 0.0;
    for (int i = 0; i < k; ++i) trace += a[static_cast<size_t>(i * k + i)];
    const double ridge = 1e-10 * (trace > 0.0 ? trace / k : 1.0);
    for (int i = 0; i < k; ++i) a[static_cast<size_t>(i * k + i)] += ridge;
    for (int j = 0; j < k; ++j) {
        double d = a[static_cast<size_t>(j * k + j)];
        for (int p = 0; p < j; ++p)
            d -= a[static_cast<size_t>(j * k + p)] * a[static_cast<size_t>(j * k + p)];
        d = std::sqrt(std::max(d, ridge));
        a[static_cast<size_t>(j * k + j)] = d;
        for (int i = j + 1; i < k; ++i) {
            double s = a[static_cast<size_t>(i * k + j)];
            for (int p = 0; p < j; ++p)
                s -= a[static_cast<size_t>(i * k + p)] * a[static_cast<size_t>(j * k + p)];
            a[static_cast<size_t>(i * k + j)] = s / d;
        }
    }
    for (int i = 0; i < k; ++i) {
        double s = b[static_cast<size_t>(i)];
        for (int p = 0; p < i; ++p)
            s -= a[static_cast<size_t>(i * k + p)] * b[static_cast<size_t>(p)];
        b[static_cast<size_t>(i)] = s / a[static_cast<size_t>(i * k + i)];
    }
    for (int i = k - 1; i >= 0; --i) {
        double s = b[static_cast<size_t>(i)];
        for (int p = i + 1; p < k; ++p)
            s -= a[static_cast<size_t>(p * k + i)] * b[static_cast<size_t>(p)];
        b[static_cast<size_t>(i)] = s / a[static_cast<size_t>(i * k + i)];
    }
    return b;
}

}  // namespace

std::vector<double> solveRestricted(const std::vector<int>& set, const std::vector<double>& gram,
                                    const std::vector<double>& rhs, int k, bool nonNegative) {
    const int m = static_cast<int>(set.size());
    std::vector<double> a(static_cast<size_t>(m * m)), b(static_cast<size_t>(m));
    for (int i = 0; i < m; ++i) {
        b[static_cast<size_t>(i)] = rhs[static_cast<size_t>(set[static_cast<size_t>(i)])];
        for (int j = 0; j < m; ++j)
            a[static_cast<size_t>(i * m + j)] = gram[static_cast<size_t>(
                set[static_cast<size_t>(i)] * k + set[static_cast<size_t>(j)])];
    }
    return nonNegative ? nnlsNormal(a, b, m) : solveSpd(std::move(a), std::move(b), m);
}

std::vector<double> nnlsNormal(const std::vector<double>& gram, const std::vector<double>& rhs,
                               int k) {
    std::vector<double> x(static_cast<size_t>(k), 0.0);
    std::vector<char> active(static_cast<size_t>(k), 0);
    double scale = 0.0;
    for (int i = 0; i < k; ++i) scale = std::max(scale, std::fabs(rhs[static_cast<size_t>(i)]));
    const double tol = 1e-12 * std::max(scale, 1e-300);
    for (int outer = 0; outer < 3 * k; ++outer) {
        // The gradient: which inactive column would lower the residual most.
        // Only the few non-zero coefficients take part.
        int best = -1;
        double bestW = tol;
        std::vector<int> held;
        for (int p = 0; p < k; ++p)
            if (x[static_cast<size_t>(p)] != 0.0) held.push_back(p);
        for (int j = 0; j < k; ++j) {
            if (active[static_cast<size_t>(j)]) continue;
            double w = rhs[static_cast<size_t>(j)];
            for (int p : held)
                w -= gram[static_cast<size_t>(j * k + p)] * x[static_cast<size_t>(p)];
            if (w > bestW) bestW = w, best = j;
        }
        if (best < 0) break;
        active[static_cast<size_t>(best)] = 1;
        for (int inner = 0; inner < 3 * k; ++inner) {
            std::vector<int> set;
            for (int j = 0; j < k; ++j)
                if (active[static_cast<size_t>(j)]) set.push_back(j);
            const std::vector<double> z = solveRestricted(set, gram, rhs, k, false);
            double alpha = 1.0;
            bool feasible = true;
            for (size_t i = 0; i < set.size(); ++i) {
                if (z[i] > 0.0) continue;
                feasible = false;
                const double xi = x[static_cast<size_t>(set[i])];
                const double step = xi - z[i] > 0.0 ? xi / (xi - z[i]) : 0.0;
                alpha = std::min(alpha, step);
            }
            if (feasible) {
                for (size_t i = 0; i < set.size(); ++i) x[static_cast<size_t>(set[i])] = z[i];
                break;
            }
            for (size_t i = 0; i < set.size(); ++i) {
                double& xi = x[static_cast<size_t>(set[i])];
                xi += alpha * (z[i] - xi);
                if (xi <= 1e-15) xi = 0.0, active[static_cast<size_t>(set[i])] = 0;
            }
        }
    }
    return x;
}

}  // namespace kw::detail
