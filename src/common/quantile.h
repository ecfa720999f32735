// Order statistics of samples, measured the same way everywhere in the
// library.
#ifndef KWSIGNAL_SRC_COMMON_QUANTILE_H
#define KWSIGNAL_SRC_COMMON_QUANTILE_H

#include <algorithm>
#include <cstddef>
#include <vector>

namespace kw {
namespace detail {

/// The element of v with floor(q x size) elements below it (q in 0..1,
/// clamped to the last element): no interpolation, so the value is one the
/// data hold. 0 for an empty v.
inline double quantile(std::vector<double> v, double q) {
    if (v.empty()) return 0.0;
    const std::size_t k = std::min(v.size() - 1, static_cast<std::size_t>(q * v.size()));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    return v[k];
}

/// The upper median (quantile 0.5); 0 for an empty v.
inline double median(std::vector<double> v) {
    return quantile(std::move(v), 0.5);
}

/// The element of rank round(q x (size - 1)) (q in 0..1), found in place:
/// v is reordered, no copy is made, for callers that keep a scratch buffer
/// in a loop. 0 for an empty v.
inline double nearestRankQuantile(std::vector<double>& v, double q) {
    if (v.empty()) return 0.0;
    const std::size_t k =
        std::min(v.size() - 1, static_cast<std::size_t>(q * (v.size() - 1) + 0.5));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    return v[k];
}

}  // namespace detail
}  // namespace kw

#endif
