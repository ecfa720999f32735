// Constants of the Gaussian peak shape, in one place for the whole library.
#ifndef KWSIGNAL_SRC_COMMON_GAUSSIAN_H
#define KWSIGNAL_SRC_COMMON_GAUSSIAN_H

namespace kw {
namespace detail {

/// sqrt(2 pi) as the library's Gaussian area and hat normalisation use it.
constexpr double kRootTwoPi = 2.5066283;
/// Half-height width over standard deviation, 2 sqrt(2 ln 2).
constexpr double kFwhmPerSigma = 2.3548200450309493;

}  // namespace detail
}  // namespace kw

#endif
