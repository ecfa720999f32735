// KwdbAry: the owned array of doubles under every trace.
#include <algorithm>
#include <cmath>
#include <vector>

#include "containers/buffers.h"
#include "kwsignal/containers.h"

KwdbAry::KwdbAry() : numData(0), data(nullptr) {}

KwdbAry::KwdbAry(int n) : numData(0), data(nullptr) {
    init(n);
}

KwdbAry::KwdbAry(int n, const double* p) : numData(kwbuf::countOf(n)), data(kwbuf::newCopy(n, p)) {}

KwdbAry::KwdbAry(const KwdbAry& a) : numData(a.numData), data(kwbuf::newCopy(a.numData, a.data)) {}

KwdbAry& KwdbAry::operator=(const KwdbAry& a) {
    if (this != &a) kwbuf::assignCopy(data, numData, a.data, a.numData);
    return *this;
}

KwdbAry::~KwdbAry() {
    delete[] data;
}

void KwdbAry::init(int n) {
    kwbuf::assignZeroed(data, numData, n);
}

double KwdbAry::getMaxData(int first, int last) const {
    double best = -1e300;
    for (int i = std::max(first, 0); i <= std::min(last, numData - 1); ++i) {
        if (data[i] > best) best = data[i];
    }
    return best;
}

double KwdbAry::getMinData(int first, int last) const {
    double best = 1e300;
    for (int i = std::max(first, 0); i <= std::min(last, numData - 1); ++i) {
        if (data[i] < best) best = data[i];
    }
    return best;
}

double KwdbAry::norm1() const {
    double sum = 0.0;
    for (int i = 0; i < numData; ++i) sum += std::fabs(data[i]);
    return sum;
}

double KwdbAry::mostProbableValue(double width) const {
    std::vector<double> v;
    v.reserve(numData);
    for (int i = 0; i < numData; ++i) {
        if (std::isfinite(data[i])) v.push_back(data[i]);
    }
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());

    // Bins are walked over the sorted values rather than counted in an array,
    // so a width far below the spread costs no memory. The bin number stays a
    // double: with such a width it does not fit an int.
    const bool oneBin = !(width > 0.0) || !std::isfinite(width);
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
