// The channels before sharpening: what the caller consults where the
// processed channels show no base. The sharpening that separates close
// peaks flattens broad humps (a late base, a run of one letter, a base on
// the flank of a stronger one) that still show here.
#include "calling/calling.h"

namespace kwcall {
namespace {

// Bases of one dye either side of the running median that scales the dye
// along the run.
constexpr int kScaleHalf = 10;
// A dye shows on the unsharpened channels where it reaches this fraction of
// its own typical base there.
constexpr double kMinUnsharpened = 0.2;

}  // namespace

Unsharpened::Unsharpened(const std::vector<std::vector<double>>* channels,
                         const std::vector<kw::BaseCall>& bases, const RunShape& s)
    : shape(s) {
    if (!channels || channels->size() < 4) return;
    rows = channels;
    for (const kw::BaseCall& b : bases) {
        const int d = dyeOfBase(b.base);
        if (b.origin != kw::BaseOrigin::peak || d < 0) continue;
        scale[d].x.push_back(b.correctedPosition);
        scale[d].y.push_back(raw(d, b.correctedPosition));
    }
    for (Curve& c : scale) c.y = smoothRobust(c.y, kScaleHalf);
}

double Unsharpened::raw(int dye, double c) const {
    const std::vector<double>& x = (*rows)[dye];
    return sampleAt(x.data(), static_cast<int>(x.size()), c + shape.mobility[dye].at(c));
}

double Unsharpened::share(int dye, double c) const {
    if (!rows || scale[dye].empty()) return 0.0;
    const double unit = scale[dye].at(c);
    return unit > 0.0 ? raw(dye, c) / unit : 0.0;
}

int Unsharpened::strongest(double c) const {
    int best = -1;
    double top = kMinUnsharpened;
    for (int d = 0; d < 4; ++d) {
        const double v = share(d, c);
        if (v >= top) top = v, best = d;
    }
    return best;
}

}  // namespace kwcall
