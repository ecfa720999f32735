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

}  // namespace detail
}  // namespace kw

#endif
