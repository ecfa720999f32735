// The library's own way to the capillary operations it keeps from its
// users.
#ifndef KWSIGNAL_SRC_COMMON_CAP_ACCESS_H
#define KWSIGNAL_SRC_COMMON_CAP_ACCESS_H

#include "kwsignal/capillary.h"

namespace kw {
namespace detail {

/// Applying a matrix, refining a system matrix, and the capillary-wide
/// noise level of normalised traces.
struct CapAccess {
    static void specSep(KwCap& cap, const KwdbMatrix& m) { cap.specSep(m); }
    static int refine(KwCap& cap, double tolerance, double acceptFactor, float** ssm) {
        return cap.specSep(tolerance, acceptFactor, ssm);
    }
    static void setNoiseLevelForNormalized(KwCap& cap, double ceiling) {
        cap.setNoiseLevelForNormalized(ceiling);
    }
};

}  // namespace detail
}  // namespace kw

#endif
