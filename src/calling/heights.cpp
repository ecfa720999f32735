// What the four channels show at each called base: the called dye's height,
// the strongest other dye (the secondary base, the sign of a mixed position
// or of a miscall), and the letter of a slot that no fitted peak filled.
#include <algorithm>
#include <cmath>

#include "calling/calling.h"
#include "kwsignal/capillary.h"

namespace kwcall {
namespace {

// A filled slot whose strongest dye stays below this fraction of a typical
// base's height shows no dye at all.
constexpr double kFillMinFraction = 0.003;

}  // namespace

double channelAt(const KwCap& cap, int dye, double pos) {
    if (dye < 0 || dye >= cap.getNumTraces()) return 0.0;
    const int n = cap.getNumData();
    if (!(pos >= 0.0) || !(pos <= n - 1)) return 0.0;
    const int i = std::min(n - 2, static_cast<int>(pos));
    if (i < 0) return cap(dye, 0);
    const double f = pos - i;
    const double v = (1.0 - f) * cap(dye, i) + f * cap(dye, i + 1);
    return std::isfinite(v) ? v : 0.0;
}

namespace {

// The letter of a slot no fitted peak filled: its strongest dye where one
// shows. Where none does, the run's rarest dye: an empty slot in a run
// whose dyes are balanced is most likely a base of the dye the run lost
// most peaks of (a weak dye the separation or the sharpening left flat).
char fillLetter(const kw::BaseCall& b, int strongest, double href, int rarest) {
    static const char kLetters[] = "CAGT";
    if (b.heights[strongest] >= kFillMinFraction * href) return kLetters[strongest];
    return rarest >= 0 ? kLetters[rarest] : 'N';
}

// The dye with the fewest bases called on peaks; -1 when there are none.
int rarestDye(const std::vector<kw::BaseCall>& bases) {
    int count[4] = {0, 0, 0, 0};
    for (const kw::BaseCall& b : bases)
        if (b.origin != 2 && dyeOfBase(b.base) >= 0) ++count[dyeOfBase(b.base)];
    const int d = static_cast<int>(std::min_element(count, count + 4) - count);
    return count[0] + count[1] + count[2] + count[3] > 0 ? d : -1;
}

}  // namespace

void describeBases(std::vector<kw::BaseCall>& bases, const RunShape& shape, const KwCap& cap) {
    static const char kLetters[] = "CAGT";
    const int rarest = rarestDye(bases);
    for (kw::BaseCall& b : bases) {
        const double c = b.correctedPosition;
        for (int d = 0; d < 4; ++d) b.heights[d] = channelAt(cap, d, c + shape.mobility[d].at(c));
        int dye = dyeOfBase(b.base);
        if (b.origin == 2 && dye < 0) {
            dye = static_cast<int>(std::max_element(b.heights.begin(), b.heights.end()) -
                                   b.heights.begin());
            b.base = fillLetter(b, dye, shape.height.at(c), rarest);
            if (dyeOfBase(b.base) >= 0) dye = dyeOfBase(b.base);
        }
        if (b.origin != 0) b.position = c + shape.mobility[dye].at(c);
        int second = -1;
        for (int d = 0; d < 4; ++d)
            if (d != dye && (second < 0 || b.heights[d] > b.heights[second])) second = d;
        const double primary = b.heights[dye];
        if (second >= 0 && b.heights[second] > 0.0) {
            b.secondary = kLetters[second];
            b.secondaryRatio = primary > 0.0 ? b.heights[second] / primary : 1.0;
        } else {
            b.secondary = 'N';
            b.secondaryRatio = 0.0;
        }
    }
}

}  // namespace kwcall
