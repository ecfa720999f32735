// Constants of the Gaussian peak shape, one home for every part of the
// library that measures or builds Gaussians.
#ifndef KWSIGNAL_SRC_COMMON_GAUSSIAN_H
#define KWSIGNAL_SRC_COMMON_GAUSSIAN_H

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

}  // namespace detail
}  // namespace kw

#endif
