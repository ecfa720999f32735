// The channels before sharpening: what the caller consults where the
// processed channels show no base. The sharpening that separates close
// peaks flattens broad humps (a late base, a run of one letter, a base on
// the flank of a stronger one) that still show here.
#include <algorithm>
#include <cmath>

#include "calling/calling.h"

namespace kw::detail {
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
    followTheOthersFade();
}

// A dye whose bases stop showing on the processed channels before the
// others' do (it fades faster, or the sharpening's threshold, set by the
// loud early bases, takes its weak late peaks) would keep the scale of its
// last base there: its later bases, still clear on these channels, then
// fall below a fifth of it and are read as other dyes. Past its last base
// its scale follows the median fade of the dyes that go on.
void Unsharpened::followTheOthersFade() {
    std::array<Curve, 4> extended = scale;
    for (int d = 0; d < 4; ++d) {
        if (scale[d].empty()) continue;
        const double from = scale[d].x.back(), unit = scale[d].y.back();
        std::vector<double> knots;
        for (int o = 0; o < 4; ++o)
            if (o != d)
                for (double x : scale[o].x)
                    if (x > from) knots.push_back(x);
        std::sort(knots.begin(), knots.end());
        // Each dye that goes on past d's last base, on its scale there
        // (0: it does not, or has no scale to fade from).
        std::array<double, 4> before{};
        for (int o = 0; o < 4; ++o)
            if (o != d && !scale[o].empty() && scale[o].x.back() > from)
                before[o] = scale[o].at(from);
        for (double x : knots) {
            std::vector<double> fade;
            for (int o = 0; o < 4; ++o)
                if (before[o] > 0.0) fade.push_back(scale[o].at(x) / before[o]);
            if (fade.empty()) continue;
            extended[d].x.push_back(x);
            extended[d].y.push_back(unit * medianOf(fade));
        }
    }
    scale = extended;
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

double Unsharpened::peakShare(int dye, double c, double s, double reach) const {
    if (!rows || scale[dye].empty() || !(s > 0.0)) return 0.0;
    const double unit = scale[dye].at(c);
    if (!(unit > 0.0)) return 0.0;
    const std::vector<double>& x = (*rows)[dye];
    const int n = static_cast<int>(x.size());
    const double at = c + shape.mobility[dye].at(c);
    const int lo = static_cast<int>(std::floor(at - s)), hi = static_cast<int>(std::ceil(at + s));
    if (lo < 1 || hi > n - 2) return 0.0;
    // The tallest top within reach: a sample no lower than any within a
    // quarter spacing of it, which a tail rising or falling through c,
    // wiggles and all, does not give.
    const int guard = std::max(1, static_cast<int>(0.25 * s));
    int top = -1;
    for (int i = std::max(lo + guard, static_cast<int>(std::ceil(at - reach)));
         i <= std::min(hi - guard, static_cast<int>(at + reach)); ++i) {
        if (top >= 0 && x[i] <= x[top]) continue;
        const auto from = x.begin() + (i - guard), to = x.begin() + (i + guard + 1);
        if (*std::max_element(from, to) <= x[i]) top = i;
    }
    if (top < 0) return 0.0;
    const double left = *std::min_element(x.begin() + lo, x.begin() + top + 1);
    const double right = *std::min_element(x.begin() + top, x.begin() + hi + 1);
    const double rise = x[top] - std::min(left, right);
    return std::isfinite(rise) && rise > 0.0 ? rise / unit : 0.0;
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

}  // namespace kw::detail
