// Quality values. Each base gets features known to predict base-calling
// errors: how regular the spacing around it is, how tall the peaks left
// uncalled nearby are against the called ones (about 7 bases, averaged
// over the stretch of 20 bases around it, and 3 bases), how strong the
// secondary dye is, how the base's height and width compare with the run's
// typical base, whether it is a filled slot and how many slots around it
// are, how weak the bases around it are, how many bases of its hump share
// its peak, how odd the gaps right beside it are, how far the room its
// run of one letter takes departs from the bases the run holds, and how
// regular, clean and strong the stretch of 80 bases either side is.
// A logistic model of the features, fitted on real traces against the
// instrument's own high-quality calls, gives the error probability; a
// monotone table fitted on the same traces maps the model's QV to the QV
// observed there. Both are in qv_table.inc, written by the calibration
// program (scripts/calibrate_qv.cpp).
#include <algorithm>
#include <cmath>
#include <limits>

#include "calling/calling.h"

namespace kw::detail {
namespace {

#include "calling/qv_table.inc"

double clamp(double v, double lo, double hi) {
    return std::isfinite(v) ? std::max(lo, std::min(hi, v)) : hi;
}

// The tallest peak left uncalled within `half` spacings of position c,
// against the weakest called base among bases [lo, hi].
double uncalledRatio(const std::vector<kw::BaseCall>& bases, int lo, int hi,
                     const std::vector<Peak>& peaks, double c, double half) {
    double weakest = std::numeric_limits<double>::infinity();
    for (int k = lo; k <= hi; ++k) {
        const kw::BaseCall& b = bases[k];
        const int d = dyeOfBase(b.base);
        if (d >= 0) weakest = std::min(weakest, std::max(0.0, b.heights[d]));
    }
    auto first = std::lower_bound(peaks.begin(), peaks.end(), c - half,
                                  [](const Peak& p, double x) { return p.corr < x; });
    double tallest = 0.0;
    for (auto p = first; p != peaks.end() && p->corr <= c + half; ++p)
        if (!p->called) tallest = std::max(tallest, p->height);
    if (tallest <= 0.0) return 0.0;
    return weakest > 0.0 ? tallest / weakest : 2.0;
}

// How far the gaps between the bases around base i (three either side)
// stray from the local spacing s, on average: one odd gap is often a
// peak's noise, a run of them is a stretch the train does not fit.
double spacingIrregularity(const std::vector<kw::BaseCall>& bases, int i, double s) {
    constexpr int kHalf = 3;
    const int n = static_cast<int>(bases.size());
    const int lo = std::max(0, i - kHalf), hi = std::min(n - 1, i + kHalf);
    if (hi <= lo) return 0.0;
    double sum = 0.0;
    for (int k = lo; k < hi; ++k) {
        const double gap = (bases[k + 1].correctedPosition - bases[k].correctedPosition) / s;
        sum += std::min(1.5, std::fabs(gap - 1.0));
    }
    return clamp(sum / (hi - lo), 0.0, 1.5);
}

// The share of filled slots among the bases around base i (five either
// side): where the peaks run out the train is guessed, not seen.
double fillsAround(const std::vector<kw::BaseCall>& bases, int i) {
    constexpr int kHalf = 5;
    const int n = static_cast<int>(bases.size());
    const int lo = std::max(0, i - kHalf), hi = std::min(n - 1, i + kHalf);
    int fills = 0;
    for (int k = lo; k <= hi; ++k) fills += bases[k].origin == kw::BaseOrigin::filled;
    return static_cast<double>(fills) / (hi - lo + 1);
}

// The other bases read from the same hump as base i, among the three
// either side: how many bases a broad peak holds is read from its width,
// and a run of one letter is where a base is most easily lost or gained.
int humpMates(const std::vector<int>& peakOf, int i) {
    constexpr int kHalf = 3;
    if (peakOf[i] < 0) return 0;
    const int n = static_cast<int>(peakOf.size());
    int mates = 0;
    for (int k = std::max(0, i - kHalf); k <= std::min(n - 1, i + kHalf); ++k)
        mates += k != i && peakOf[k] == peakOf[i];
    return mates;
}

// The larger of the two gaps beside base i, as its departure from one
// spacing s: an odd gap right at the base (a base missed or added next to
// it) which the mean over the neighbourhood dilutes.
double oddGapBeside(const std::vector<kw::BaseCall>& bases, int i, double s) {
    const int n = static_cast<int>(bases.size());
    double odd = 0.0;
    for (int k = std::max(1, i); k <= std::min(n - 1, i + 1); ++k) {
        const double gap = (bases[k].correctedPosition - bases[k - 1].correctedPosition) / s;
        odd = std::max(odd, std::fabs(gap - 1.0));
    }
    return clamp(odd, 0.0, 1.0);
}

// How far the room a run of one letter takes in the train departs from the
// bases it holds, for each base of a run of two or more (0 for the others).
// The room runs from halfway to the base before the run to halfway to the
// base after it, in spacings: a run read a base short leaves its bases
// spread over one spacing more than they count (a base too many, one
// less). Losing or gaining a base in such a run is the commonest call
// error, and the only mark it leaves on the bases themselves.
void runRoom(const std::vector<kw::BaseCall>& bases, const RunShape& shape,
             std::vector<Features>& out) {
    const int n = static_cast<int>(bases.size());
    for (int first = 0, last = 0; first < n; first = last + 1) {
        last = first;
        while (last + 1 < n && bases[last + 1].base == bases[first].base) ++last;
        const int count = last - first + 1;
        double room = 0.0;
        if (count >= 2) {
            const double a = bases[first].correctedPosition, b = bases[last].correctedPosition;
            const double s = std::max(shape.spacing.at(0.5 * (a + b)), 1e-9);
            const double lo =
                first > 0 ? 0.5 * (a + bases[first - 1].correctedPosition) : a - 0.5 * s;
            const double hi =
                last + 1 < n ? 0.5 * (b + bases[last + 1].correctedPosition) : b + 0.5 * s;
            room = clamp(std::fabs((hi - lo) / s - count), 0.0, 1.5);
        }
        for (int k = first; k <= last; ++k) out[k][11] = room;
    }
}

// Sets feature `to` of each base to the mean of feature `from` over the
// bases within `half` of it (computed from the values before the change).
void meanAround(std::vector<Features>& out, int from, int half, int to) {
    const int n = static_cast<int>(out.size());
    std::vector<double> sum(out.size() + 1, 0.0);
    for (int i = 0; i < n; ++i) sum[i + 1] = sum[i] + out[i][from];
    for (int i = 0; i < n; ++i) {
        const int lo = std::max(0, i - half), hi = std::min(n - 1, i + half);
        out[i][to] = (sum[hi + 1] - sum[lo]) / (hi - lo + 1);
    }
}

}  // namespace

std::vector<Features> baseFeatures(const std::vector<kw::BaseCall>& bases,
                                   const std::vector<int>& peakOf, const std::vector<Peak>& peaks,
                                   const RunShape& shape) {
    const int n = static_cast<int>(bases.size());
    std::vector<Features> out(bases.size());
    for (int i = 0; i < n; ++i) {
        const kw::BaseCall& b = bases[i];
        const double c = b.correctedPosition, s = std::max(shape.spacing.at(c), 1e-9);
        Features& f = out[i];
        f[0] = spacingIrregularity(bases, i, s);
        f[1] = clamp(
            uncalledRatio(bases, std::max(0, i - 3), std::min(n - 1, i + 3), peaks, c, 3.5 * s),
            0.0, 2.0);
        f[2] = clamp(
            uncalledRatio(bases, std::max(0, i - 1), std::min(n - 1, i + 1), peaks, c, 1.5 * s),
            0.0, 2.0);
        f[3] = clamp(b.secondaryRatio, 0.0, 1.5);
        const int d = dyeOfBase(b.base);
        const double h = d >= 0 ? b.heights[d] : 0.0;
        f[4] = clamp(-std::log2(std::max(h, 1e-9) / std::max(shape.height.at(c), 1e-9)), -1.0, 4.0);
        f[5] = fillsAround(bases, i);
        f[6] = b.origin == kw::BaseOrigin::filled || b.base == 'N' ? 1.0 : 0.0;
        f[7] = peakOf[i] >= 0 && b.origin == kw::BaseOrigin::peak
                   ? clamp(std::fabs(std::log2(peaks[peakOf[i]].sigma /
                                               std::max(shape.sigma.at(c), 1e-9))),
                           0.0, 2.0)
                   : 0.0;
        f[9] = humpMates(peakOf, i);
        f[10] = oddGapBeside(bases, i, s);
    }
    // How weak the bases around each base are (three either side): a
    // stretch of fading signal.
    meanAround(out, 4, 3, 8);
    // How much signal the stretch around a base leaves uncalled (ten bases
    // either side): a read over a second ladder or over noise errs all
    // along it, not only beside its tallest stray peak, while one stray
    // peak in a clean stretch seldom costs a base.
    meanAround(out, 1, 10, 1);
    runRoom(bases, shape, out);
    // How the read fares over the kContext bases either side (spacing
    // regularity, secondary dye, width, odd gaps, weakness, uncalled
    // signal): late in a read the same local features mean more errors
    // where the whole stretch wavers and fewer where it stays clean. 80
    // chosen among 30 to 200, leaving each training source out in turn.
    constexpr int kContext = 80;
    constexpr int kContextOf[] = {0, 3, 7, 10, 4, 1};
    for (int k = 0; k < 6; ++k) meanAround(out, kContextOf[k], kContext, 12 + k);
    return out;
}

double modelQv(const Features& f) {
    double z = kQvBias;
    for (int k = 0; k < kNumFeatures; ++k) z += kQvWeights[k] * f[k];
    // z is the log-odds of an error; QV = -10 log10 P(error).
    const double logP = -std::log1p(std::exp(-z));
    return clamp(-10.0 * logP / std::log(10.0), 0.0, kw::kMaxCallQv);
}

int qualityOf(const Features& f) {
    const int raw = static_cast<int>(std::lround(modelQv(f)));
    return kQvCalibration[std::max(0, std::min(kw::kMaxCallQv, raw))];
}

}  // namespace kw::detail
