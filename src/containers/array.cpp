// KwdbAry: the owned array of doubles under every trace.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

#include "common/extremes.h"
#include "containers/buffers.h"
#include "kwsignal/containers.h"

KwdbAry::KwdbAry() : numData(0), data(nullptr) {}

KwdbAry::KwdbAry(int n) : numData(0), data(nullptr) {
    init(n);
}

KwdbAry::KwdbAry(int n, const double* p)
    : numData(kw::detail::countOf(n)), data(kw::detail::newCopy(n, p)) {}

KwdbAry::KwdbAry(const KwdbAry& a)
    : numData(a.numData), data(kw::detail::newCopy(a.numData, a.data)) {}

KwdbAry& KwdbAry::operator=(const KwdbAry& a) {
    if (this != &a) kw::detail::assignCopy(data, numData, a.data, a.numData);
    return *this;
}

KwdbAry::KwdbAry(KwdbAry&& a) noexcept
    : numData(std::exchange(a.numData, 0)), data(std::exchange(a.data, nullptr)) {}

KwdbAry& KwdbAry::operator=(KwdbAry&& a) noexcept {
    if (this != &a) {
        delete[] data;
        numData = std::exchange(a.numData, 0);
        data = std::exchange(a.data, nullptr);
    }
    return *this;
}

KwdbAry::~KwdbAry() {
    delete[] data;
}

void KwdbAry::init(int n) {
    kw::detail::assignZeroed(data, numData, n);
}

// A range wholly outside the array holds no sample: the start value stands
// (and no pointer past the array is formed).
double KwdbAry::getMaxData(int first, int last) const {
    const int from = std::max(first, 0), n = std::min(last, numData - 1) - from + 1;
    return n > 0 ? kw::detail::extremeFrom<true>(data + from, n, -1e300) : -1e300;
}

double KwdbAry::getMinData(int first, int last) const {
    const int from = std::max(first, 0), n = std::min(last, numData - 1) - from + 1;
    return n > 0 ? kw::detail::extremeFrom<false>(data + from, n, 1e300) : 1e300;
}

double KwdbAry::norm1() const {
    double sum = 0.0;
    for (int i = 0; i < numData; ++i) sum += std::fabs(data[i]);
    return sum;
}

namespace {

// The mean of the values of v in the fullest bin of the given width, bins
// counted from the lowest value and a tie going to the lower bin. The bins
// are counted in an array and the values of the fullest summed in the order
// they come (the order of a sum moves its last bits only, far below the
// width of a bin). False when there are many more bins than values.
bool fullestBinMean(const std::vector<double>& v, double width, double& mean) {
    // The extremes by comparisons in lanes, not minmax_element's branches,
    // which go either way at random on ratios of noisy samples (whichever
    // sign a zero extreme has, every bin comes out the same).
    const double lowest =
        kw::detail::extremeFrom<false>(v.data(), static_cast<int>(v.size()), v[0]);
    const double highest =
        kw::detail::extremeFrom<true>(v.data(), static_cast<int>(v.size()), v[0]);
    const double top = std::floor((highest - lowest) / width);
    if (!(top < 4.0 * static_cast<double>(v.size()) + 16.0)) return false;
    // Up to the top bin the quotient is small and never negative, where
    // truncation is the floor.
    std::vector<std::size_t> bin(v.size());
    std::vector<std::size_t> counts(static_cast<std::size_t>(top) + 1, 0);
    for (std::size_t i = 0; i < v.size(); ++i) {
        bin[i] = static_cast<std::size_t>((v[i] - lowest) / width);
        ++counts[bin[i]];
    }
    const std::size_t fullest =
        static_cast<std::size_t>(std::max_element(counts.begin(), counts.end()) - counts.begin());
    // A sum from +0 is unchanged by adding +0: the values outside the
    // fullest bin add nothing, without a branch on the data.
    double sum = 0.0;
    for (std::size_t i = 0; i < v.size(); ++i) sum += bin[i] == fullest ? v[i] : 0.0;
    mean = sum / static_cast<double>(counts[fullest]);
    return true;
}

}  // namespace

double KwdbAry::mostProbableValue(double width) const {
    std::vector<double> v;
    v.reserve(numData);
    for (int i = 0; i < numData; ++i) {
        if (std::isfinite(data[i])) v.push_back(data[i]);
    }
    if (v.empty()) return 0.0;
    const bool oneBin = !(width > 0.0) || !std::isfinite(width);
    double mean = 0.0;
    if (!oneBin && fullestBinMean(v, width, mean)) return mean;
    std::sort(v.begin(), v.end());

    // A width far below the spread (or none) makes more bins than an array
    // should hold: they are walked over the sorted values instead. The bin
    // number stays a double: with such a width it does not fit an int.
    const double lowest = v.front();
    auto binOf = [&](double x) { return oneBin ? 0.0 : std::floor((x - lowest) / width); };

    std::size_t bestCount = 0;
    double bestSum = 0.0;
    std::size_t start = 0;
    while (start < v.size()) {
        const double bin = binOf(v[start]);
        std::size_t end = start;
        double sum = 0.0;
        while (end < v.size() && binOf(v[end]) == bin) sum += v[end++];
        if (end - start > bestCount) {  // strict: a tie keeps the lower bin
            bestCount = end - start;
            bestSum = sum;
        }
        start = end;
    }
    return bestSum / static_cast<double>(bestCount);
}
