// Intervals of the fitted shares by a bootstrap over blocks of bases.
#include <algorithm>
#include <cmath>
#include <random>

#include "editing/editing.h"

namespace kw::detail {

void addRow(BlockSystem& s, int b, const std::vector<double>& row, double y) {
    const int k = s.k;
    std::vector<double>& g = s.gram[static_cast<size_t>(b)];
    std::vector<double>& r = s.rhs[static_cast<size_t>(b)];
    for (int i = 0; i < k; ++i) {
        const double ri = row[static_cast<size_t>(i)];
        if (ri == 0.0) continue;
        r[static_cast<size_t>(i)] += ri * y;
        for (int j = 0; j < k; ++j)
            g[static_cast<size_t>(i * k + j)] += ri * row[static_cast<size_t>(j)];
    }
    s.yy[static_cast<size_t>(b)] += y * y;
    s.ySum[static_cast<size_t>(b)] += y;
    s.rows[static_cast<size_t>(b)] += 1.0;
}

namespace {

// The fit on the outcomes that survive a charge on every edited (not the
// first) outcome's share; the others are held at zero.
std::vector<double> selectAndRefit(const std::vector<double>& gram, const std::vector<double>& rhs,
                                   int k, double sparsity) {
    std::vector<double> charged = rhs;
    for (int i = 1; i < k; ++i)
        charged[static_cast<size_t>(i)] -= sparsity * gram[static_cast<size_t>(i * k + i)];
    const std::vector<double> chosen = nnlsNormal(gram, charged, k);
    std::vector<int> keep;
    for (int i = 0; i < k; ++i)
        if (i == 0 || chosen[static_cast<size_t>(i)] > 0.0) keep.push_back(i);
    const std::vector<double> z = solveRestricted(keep, gram, rhs, k, true);
    std::vector<double> x(static_cast<size_t>(k), 0.0);
    for (size_t i = 0; i < keep.size(); ++i) x[static_cast<size_t>(keep[i])] = z[i];
    return x;
}

// The residual sum of squares of the solution x from the normal equations
// (gram k x k, rhs and y'y): y'y - 2x'g + x'Gx.
double residualOf(const std::vector<double>& gram, const std::vector<double>& rhs, double yy,
                  const std::vector<double>& x) {
    const size_t k = x.size();
    double rss = yy;
    for (size_t i = 0; i < k; ++i) {
        const double xi = x[i];
        if (xi == 0.0) continue;
        rss -= 2.0 * xi * rhs[i];
        for (size_t j = 0; j < k; ++j) rss += xi * gram[i * k + j] * x[j];
    }
    return rss;
}

// Sums the blocks with the given multiplicities; returns the fit and r2.
std::vector<double> fitWeighted(const BlockSystem& s, const std::vector<int>& times, double& r2) {
    const size_t kk = static_cast<size_t>(s.k) * static_cast<size_t>(s.k);
    std::vector<double> gram(kk, 0.0), rhs(static_cast<size_t>(s.k), 0.0);
    double yy = 0.0, ySum = 0.0, rows = 0.0;
    const int k = s.k;
    for (size_t b = 0; b < s.gram.size(); ++b) {
        const double w = times[b];
        if (w == 0.0) continue;
        // The blocks' matrices are symmetric: the upper triangle, mirrored.
        const double* g = s.gram[b].data();
        for (int i = 0; i < k; ++i)
            for (int j = i; j < k; ++j)
                gram[static_cast<size_t>(i * k + j)] += w * g[static_cast<size_t>(i * k + j)];
        for (int i = 0; i < s.k; ++i)
            rhs[static_cast<size_t>(i)] += w * s.rhs[b][static_cast<size_t>(i)];
        yy += w * s.yy[b];
        ySum += w * s.ySum[b];
        rows += w * s.rows[b];
    }
    for (int i = 0; i < k; ++i)
        for (int j = i + 1; j < k; ++j)
            gram[static_cast<size_t>(j * k + i)] = gram[static_cast<size_t>(i * k + j)];
    const std::vector<double> x =
        s.sparsity > 0.0 ? selectAndRefit(gram, rhs, s.k, s.sparsity) : nnlsNormal(gram, rhs, s.k);
    const double rss = residualOf(gram, rhs, yy, x);
    const double tss = rows > 0.0 ? yy - ySum * ySum / rows : 0.0;
    r2 = tss > 0.0 ? std::max(0.0, 1.0 - std::max(rss, 0.0) / tss) : 0.0;
    return x;
}

double quantileOf(std::vector<double>& v, double q) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    const double at = q * static_cast<double>(v.size() - 1);
    const size_t lo = static_cast<size_t>(std::floor(at));
    const size_t hi = std::min(v.size() - 1, lo + 1);
    return v[lo] + (at - static_cast<double>(lo)) * (v[hi] - v[lo]);
}

}  // namespace

std::vector<double> shares(const std::vector<double>& x) {
    double sum = 0.0;
    for (double v : x) sum += v;
    std::vector<double> out(x.size(), 0.0);
    if (sum > 0.0)
        for (size_t i = 0; i < x.size(); ++i) out[i] = x[i] / sum;
    return out;
}

double normalQuantile(double q) {
    // Bisection on the distribution function 0.5 erfc(-x / sqrt 2).
    double lo = -40.0, hi = 40.0;
    for (int i = 0; i < 100; ++i) {
        const double mid = 0.5 * (lo + hi);
        (0.5 * std::erfc(-mid / std::sqrt(2.0)) < q ? lo : hi) = mid;
    }
    return 0.5 * (lo + hi);
}

std::vector<double> fitAll(const BlockSystem& s, double& r2) {
    return fitWeighted(s, std::vector<int>(s.gram.size(), 1), r2);
}

std::vector<double> blockMisfits(const BlockSystem& s, const std::vector<double>& x) {
    double yy = 0.0, ySum = 0.0, rows = 0.0;
    for (size_t b = 0; b < s.gram.size(); ++b) yy += s.yy[b], ySum += s.ySum[b], rows += s.rows[b];
    const double tss = rows > 0.0 ? yy - ySum * ySum / rows : 0.0;
    std::vector<double> out(s.gram.size(), 0.0);
    if (!(tss > 0.0)) return out;
    for (size_t b = 0; b < s.gram.size(); ++b) {
        out[b] = residualOf(s.gram[b], s.rhs[b], s.yy[b], x) / tss;
    }
    return out;
}

void bootstrapShares(const BlockSystem& s, int replicates, unsigned seed, double level,
                     std::vector<double>& low, std::vector<double>& high) {
    const size_t k = static_cast<size_t>(s.k);
    const size_t blocks = s.gram.size();
    std::vector<std::vector<double>> draws(k + 1);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<size_t> pick(0, blocks ? blocks - 1 : 0);
    std::vector<int> times(blocks);
    for (int r = 0; r < replicates && blocks > 0; ++r) {
        std::fill(times.begin(), times.end(), 0);
        for (size_t b = 0; b < blocks; ++b) ++times[pick(rng)];
        double r2 = 0.0;
        const std::vector<double> f = shares(fitWeighted(s, times, r2));
        for (size_t i = 0; i < k; ++i) draws[i].push_back(f[i]);
        draws[k].push_back(1.0 - f[0]);
    }
    low.assign(k + 1, 0.0);
    high.assign(k + 1, 0.0);
    const double tail = (1.0 - level) / 2.0;
    for (size_t i = 0; i <= k; ++i) {
        low[i] = quantileOf(draws[i], tail);
        high[i] = quantileOf(draws[i], 1.0 - tail);
    }
}

}  // namespace kw::detail
