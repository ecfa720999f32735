// Order statistics of samples, measured the same way everywhere in the
// library.
#ifndef KWSIGNAL_SRC_COMMON_QUANTILE_H
#define KWSIGNAL_SRC_COMMON_QUANTILE_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
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

/// median(v) of values none of which is negative or NaN (magnitudes, such as
/// absolute differences), found by counting rather than by a selection,
/// whose comparisons branch unpredictably on noise. Such doubles order as
/// their bit patterns do: the values are counted twice by 11 of their top
/// bits, each time among those sharing the bits above with the median, and
/// only the few sharing all of them are selected from. Other values are
/// handed to median().
inline double medianOfMagnitudes(std::vector<double> v) {
    if (v.empty()) return 0.0;
    auto bitsOf = [](double x) {
        std::uint64_t b;
        std::memcpy(&b, &x, sizeof b);
        return b;
    };
    constexpr std::uint64_t kInfinity = 0x7ff0000000000000;
    bool magnitudes = true;
    for (double x : v) magnitudes &= bitsOf(x) <= kInfinity;
    if (!magnitudes) return median(std::move(v));
    std::size_t rank = std::min(v.size() - 1, static_cast<std::size_t>(0.5 * v.size()));
    std::uint64_t prefix = 0;  // the median's bits above those counted
    int shift = 52;            // the bits counted: shift .. shift + 10
    std::vector<std::size_t> count(2048);
    for (int round = 0; round < 2; ++round, shift -= 11) {
        std::fill(count.begin(), count.end(), 0);
        for (double x : v) {
            const std::uint64_t b = bitsOf(x);
            count[(b >> shift) & 0x7ff] += (b >> (shift + 11)) == prefix;
        }
        std::size_t bucket = 0;
        while (rank >= count[bucket]) rank -= count[bucket++];
        prefix = (prefix << 11) | bucket;
    }
    std::size_t kept = 0;  // the values sharing the median's counted bits, moved to the front
    for (std::size_t i = 0; i < v.size(); ++i) {
        const double x = v[i];
        v[kept] = x;
        kept += (bitsOf(x) >> (shift + 11)) == prefix;
    }
    const auto end = v.begin() + static_cast<std::ptrdiff_t>(kept);
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(rank), end);
    return v[rank];
}

/// The rank round(q x (size - 1)) of the nearest-rank q-quantile (q in
/// 0..1) among size > 0 values.
inline std::size_t nearestRank(std::size_t size, double q) {
    return std::min(size - 1, static_cast<std::size_t>(q * (size - 1) + 0.5));
}

/// The element of rank nearestRank(size, q), found in place: v is
/// reordered, no copy is made, for callers that keep a scratch buffer in a
/// loop. 0 for an empty v.
inline double nearestRankQuantile(std::vector<double>& v, double q) {
    if (v.empty()) return 0.0;
    const std::size_t k = nearestRank(v.size(), q);
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    return v[k];
}

/// The element of rank k (0-based) of v (more than k elements), the value
/// std::nth_element puts there, for a small k: the k + 1 lowest are kept in
/// order as the values pass, where a new one rarely belongs, instead of
/// partitioning with comparisons that go either way at random. Values with
/// a NaN among them, which have no order, are left to nth_element, which
/// then reorders v.
template <int k>
double lowOfRank(std::vector<double>& v) {
    double lowest[k + 1];
    int kept = 0;
    for (double x : v) {
        if (x != x) {
            std::nth_element(v.begin(), v.begin() + k, v.end());
            return v[k];
        }
        if (kept == k + 1 && !(x < lowest[k])) continue;
        int i = kept == k + 1 ? k : kept++;
        for (; i > 0 && x < lowest[i - 1]; --i) lowest[i] = lowest[i - 1];
        lowest[i] = x;
    }
    return lowest[k];
}

}  // namespace detail
}  // namespace kw

#endif
