// How rare a value is among the noise of the same trace.
#include "editing/noise.h"

#include <algorithm>
#include <cmath>

namespace kw::detail {

double tailProbability(const std::vector<double>& noise, double x) {
    const size_t n = noise.size();
    if (n == 0 || !std::isfinite(x)) return 1.0;
    const size_t below =
        static_cast<size_t>(std::lower_bound(noise.begin(), noise.end(), x) - noise.begin());
    const double empirical = static_cast<double>(n - below + 1) / static_cast<double>(n + 1);
    if (n < 20) return std::min(1.0, empirical);
    const size_t top = n * 9 / 10;
    const double q = noise[top];
    if (!(x > q)) return std::min(1.0, empirical);
    double excess = 0.0;
    for (size_t i = top + 1; i < n; ++i) excess += noise[i] - q;
    excess /= static_cast<double>(n - top - 1);
    const double share = static_cast<double>(n - top) / static_cast<double>(n + 1);
    if (!(excess > 0.0)) return std::min(empirical, share * 1e-6);
    return share * std::exp(-(x - q) / excess);
}

int phred(double p) {
    if (!(p > 0.0)) return 99;
    return static_cast<int>(std::clamp(std::lround(-10.0 * std::log10(p)), 0L, 99L));
}

}  // namespace kw::detail
