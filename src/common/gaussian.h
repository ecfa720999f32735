// Constants of the Gaussian peak shape, one home for every part of the
// library that measures or builds Gaussians.
#ifndef KWSIGNAL_SRC_COMMON_GAUSSIAN_H
#define KWSIGNAL_SRC_COMMON_GAUSSIAN_H

#include <cmath>
#include <cstddef>

namespace kw {
namespace detail {

/// sqrt(2 pi) to eight digits, the value a Gaussian's area (sigma x height x
/// sqrt(2 pi)) and the Mexican hat's normalisation have always used. Results
/// depend on it to the last bit: it is not the full-precision root.
constexpr double kRootTwoPi = 2.5066283;

/// Full width at half maximum of a Gaussian per unit sigma: 2 sqrt(2 ln 2).
constexpr double kFwhmPerSigma = 2.3548200450309493;

/// The same to four decimals, as fragment tables have always written peak
/// widths (their last digit depends on it).
constexpr double kFwhmPerSigmaFourDigits = 2.3548;
static_assert(kFwhmPerSigma - kFwhmPerSigmaFourDigits < 0.00005 &&
                  kFwhmPerSigmaFourDigits - kFwhmPerSigma < 0.00005,
              "one width at half height, rounded");

/// Standard deviation of normal noise per unit of its median absolute
/// value (1 / the normal's third quartile), to the four decimals robust
/// noise estimates have always used.
constexpr double kSigmaPerMedianAbs = 1.4826;

/// The unit Gaussian exp(-(x - mu)^2 / (2 sigma^2)) at x = 0..w-1 into
/// out[x * stride]; sigma > 0, mu finite (samples). Three exponentials
/// instead of w: from the sample nearest the centre outwards, each value is
/// the one before it times a ratio that itself shrinks by a constant factor
/// per sample. The rounding grows with the square of the distance from the
/// centre, to about 1e-13 of the value a hundred samples out, and values
/// that far out are negligible against the apex anyway.
inline void gaussianSamples(double mu, double sigma, int w, double* out, std::size_t stride) {
    if (w < 1) return;
    const double a = -0.5 / (sigma * sigma);
    const double nearest = std::floor(mu + 0.5);
    const int x0 = nearest < 0.0 ? 0 : nearest > w - 1 ? w - 1 : static_cast<int>(nearest);
    const double d0 = x0 - mu;
    const double centre = std::exp(a * d0 * d0);
    const double shrink = std::exp(2.0 * a);
    out[static_cast<std::size_t>(x0) * stride] = centre;
    double v = centre, ratio = std::exp(a * (2.0 * d0 + 1.0));
    for (int x = x0 + 1; x < w; ++x) {
        v *= ratio;
        ratio *= shrink;
        out[static_cast<std::size_t>(x) * stride] = v;
    }
    v = centre;
    ratio = std::exp(a * (1.0 - 2.0 * d0));
    for (int x = x0 - 1; x >= 0; --x) {
        v *= ratio;
        ratio *= shrink;
        out[static_cast<std::size_t>(x) * stride] = v;
    }
}

}  // namespace detail
}  // namespace kw

#endif
