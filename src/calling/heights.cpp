// What the four channels show at each called base: the called dye's height,
// the strongest other dye (the secondary base, the sign of a mixed position
// or of a miscall), and the letter of a slot that no fitted peak filled.
#include <algorithm>
#include <cmath>

#include "calling/calling.h"
#include "kwsignal/capillary.h"

namespace kw::detail {
namespace {

// A filled slot whose strongest dye stays below this fraction of a typical
// base's height shows no dye at all.
constexpr double kFillMinFraction = 0.003;

}  // namespace

double sampleAt(const double* x, int n, double pos) {
    if (!(pos >= 0.0) || !(pos <= n - 1)) return 0.0;
    const int i = std::min(n - 2, static_cast<int>(pos));
    if (i < 0) return x[0];
    const double f = pos - i;
    const double v = (1.0 - f) * x[i] + f * x[i + 1];
    return std::isfinite(v) ? v : 0.0;
}

double channelAt(const KwCap& cap, int dye, double pos) {
    if (dye < 0 || dye >= cap.getNumTraces()) return 0.0;
    return sampleAt(cap.getPnterToTrace(dye)->getData(), cap.getNumData(), pos);
}

namespace {

int strongestOf(const std::array<double, 4>& heights) {
    return static_cast<int>(std::max_element(heights.begin(), heights.end()) - heights.begin());
}

// The dye with the fewest bases called on peaks; -1 when there are none.
int rarestDye(const std::vector<kw::BaseCall>& bases) {
    int count[4] = {0, 0, 0, 0};
    for (const kw::BaseCall& b : bases)
        if (b.origin != kw::BaseOrigin::filled && dyeOfBase(b.base) >= 0)
            ++count[dyeOfBase(b.base)];
    const int d = static_cast<int>(std::min_element(count, count + 4) - count);
    return count[0] + count[1] + count[2] + count[3] > 0 ? d : -1;
}

// The dye of a slot no fitted peak filled: its strongest dye where one
// shows on the processed channels; else the strongest on the unsharpened
// ones; else the run's rarest dye (an empty slot in a run whose dyes are
// balanced is most likely a base of the dye the run lost most peaks of);
// -1 (N) when the run has no called dye at all.
int fillDye(const kw::BaseCall& b, double href, double c, const Unsharpened& light, int rarest) {
    const int strongest = strongestOf(b.heights);
    if (b.heights[strongest] >= kFillMinFraction * href) return strongest;
    const int d = light.strongest(c);
    return d >= 0 ? d : rarest;
}

// A base split off a broad hump by its width whose place the unsharpened
// channels give to another dye, by this factor on the dyes' own scales,
// takes that dye: the hump was a base or run of one dye merged with a
// neighbour of another, whose own hump the sharpening flattened.
constexpr double kRelabelFactor = 1.5;

int humpBaseDye(int dye, double c, const Unsharpened& light) {
    const int d = light.strongest(c);
    return d >= 0 && d != dye && light.share(d, c) >= kRelabelFactor * light.share(dye, c) ? d
                                                                                           : dye;
}

// A second sequence under the read (an edited pool, a heterozygous indel,
// a mixed template) puts a second ladder of peaks at the read's own base
// places. The sharpening, and the noise floor it is measured against, can
// flatten those peaks on the processed channels while the channels before
// sharpening still show them: there the strongest other dye with a top of
// its own within this many spacings of the base counts, its rise above the
// dip beside it against the called dye's height (both on the dyes' own
// scales). A neighbour's tail has no top at the base and does not count.
constexpr double kSecondReach = 0.3;
// The called dye must show at least this share of its typical base there
// for a ratio against it to mean anything.
constexpr double kSecondMinPrimary = 0.2;

void secondLadder(kw::BaseCall& b, int dye, double c, double s, const Unsharpened& light) {
    const double primary = light.share(dye, c);
    if (!(primary >= kSecondMinPrimary)) return;
    for (int d = 0; d < 4; ++d) {
        if (d == dye) continue;
        const double ratio = light.peakShare(d, c, s, kSecondReach * s) / primary;
        if (ratio > b.secondaryRatio) b.secondary = baseOfDye(d), b.secondaryRatio = ratio;
    }
}

}  // namespace

void markSecondLadder(std::vector<kw::BaseCall>& bases, const RunShape& shape,
                      const Unsharpened& light) {
    for (kw::BaseCall& b : bases) {
        const int dye = dyeOfBase(b.base);
        const double c = b.correctedPosition;
        if (dye >= 0) secondLadder(b, dye, c, shape.spacing.at(c), light);
    }
}

void describeBases(std::vector<kw::BaseCall>& bases, const RunShape& shape, const KwCap& cap,
                   const Unsharpened& light) {
    const int rarest = rarestDye(bases);
    for (kw::BaseCall& b : bases) {
        const double c = b.correctedPosition;
        for (int d = 0; d < 4; ++d) b.heights[d] = channelAt(cap, d, c + shape.mobility[d].at(c));
        int dye = dyeOfBase(b.base);
        if (b.origin == kw::BaseOrigin::hump && dye >= 0) {
            dye = humpBaseDye(dye, c, light);
            b.base = baseOfDye(dye);
        }
        if (b.origin == kw::BaseOrigin::filled && dye < 0) {
            const int fill = fillDye(b, shape.height.at(c), c, light, rarest);
            b.base = fill >= 0 ? baseOfDye(fill) : 'N';
            dye = fill >= 0 ? fill : strongestOf(b.heights);
        }
        if (b.origin != kw::BaseOrigin::peak) b.position = c + shape.mobility[dye].at(c);
        int second = -1;
        for (int d = 0; d < 4; ++d)
            if (d != dye && (second < 0 || b.heights[d] > b.heights[second])) second = d;
        const double primary = b.heights[dye];
        if (second >= 0 && b.heights[second] > 0.0) {
            b.secondary = baseOfDye(second);
            b.secondaryRatio = primary > 0.0 ? b.heights[second] / primary : 1.0;
        } else {
            b.secondary = 'N';
            b.secondaryRatio = 0.0;
        }
    }
}

}  // namespace kw::detail
