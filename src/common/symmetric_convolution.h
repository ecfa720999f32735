// Symmetric convolution along a stretch of samples whose kernel stays inside
// the samples, shared by the smoothing of the measurements and the
// Mexican-hat filters.
#ifndef KWSIGNAL_SRC_COMMON_SYMMETRIC_CONVOLUTION_H
#define KWSIGNAL_SRC_COMMON_SYMMETRIC_CONVOLUTION_H

namespace kw {
namespace detail {

/// out[u] = weight(0, u) x[u] + the sum over k = 1..radius of
/// weight(k, u) (x[u - k] + x[u + k]), for u = 0..count-1, where weight(k, u)
/// is the one-sided kernel of sample u at offset k. x[-radius] to
/// x[count - 1 + radius] must be readable, and out must not overlap x.
///
/// Each sum is taken in order of k, exactly as a loop over the samples
/// with the offsets inside would take it; the offsets are the outer loop
/// here, two at a time, so that the inner one runs along the samples and
/// vectorises.
template <class Weight>
void convolveSymmetric(const double* x, int count, int radius, Weight weight, double* out) {
    for (int u = 0; u < count; ++u) out[u] = weight(0, u) * x[u];
    int k = 1;
    for (; k + 1 <= radius; k += 2) {
        for (int u = 0; u < count; ++u) {
            const double once = out[u] + weight(k, u) * (x[u - k] + x[u + k]);
            out[u] = once + weight(k + 1, u) * (x[u - k - 1] + x[u + k + 1]);
        }
    }
    if (k <= radius) {
        for (int u = 0; u < count; ++u) out[u] += weight(k, u) * (x[u - k] + x[u + k]);
    }
}

}  // namespace detail
}  // namespace kw

#endif
