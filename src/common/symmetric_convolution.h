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
inline __attribute__((always_inline)) void convolveSymmetric(const double* x, int count, int radius,
                                                             Weight weight, double* out) {
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

#if defined(__GNUC__) && defined(__x86_64__) && !defined(__AVX2__)
/// convolveSymmetric compiled for processors with AVX2: four samples to a
/// vector. Fused multiply-adds are not allowed in, so every sum is rounded
/// exactly as in the portable code.
template <class Weight>
__attribute__((target("avx2"))) void convolveSymmetricAvx2(const double* x, int count, int radius,
                                                           Weight weight, double* out) {
    convolveSymmetric(x, count, radius, weight, out);
}
#endif

/// convolveSymmetric in the widest vectors the processor runs (the same
/// results on every processor).
template <class Weight>
void convolveSymmetricFast(const double* x, int count, int radius, Weight weight, double* out) {
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__AVX2__)
    if (__builtin_cpu_supports("avx2")) {
        convolveSymmetricAvx2(x, count, radius, weight, out);
        return;
    }
#endif
    convolveSymmetric(x, count, radius, weight, out);
}

}  // namespace detail
}  // namespace kw

#endif
