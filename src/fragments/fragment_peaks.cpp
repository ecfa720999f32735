// Peaks of every dye of a fragment run: the baseline removed and the noise
// measured dye by dye, events found on each dye and fitted with Gaussians,
// then each peak judged against the other dyes at its scan (pull-up,
// electrical spikes) and against the detector's range (saturation).
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "common/gaussian.h"
#include "fragments/fragments_internal.h"
#include "kwsignal/capillary.h"
#include "kwsignal/events.h"

namespace kw {
namespace detail {
namespace {

// Scans over which the baseline is followed: much wider than a fragment
// peak (a few to twenty scans), narrower than the drift of the background.
constexpr double kBaselineScans = 400.0;
// Largest count the detector reports; a raw sample near it is off scale.
constexpr double kDetectorCeiling = 32000.0;
// A top of this many samples, at least this high and equal to within this
// share, is clipped: colour correction of a detector that is off scale in
// several dyes at once leaves a plateau that wanders by a few counts, while
// the top of a fragment peak (under 30 scans wide) falls by more than that
// a scan away.
constexpr int kFlatTopScans = 3;
constexpr double kFlatTopMin = 1000.0;
constexpr double kFlatTopShare = 0.002;
// Expected half-height width of a fragment peak, scans.
constexpr double kPeakWidth = 8.0;
// Events with more humps than this are read hump by hump: a joint fit of a
// dense ladder costs quadratically and gains nothing for separated humps.
constexpr int kMaxFitHumps = 8;
// A peak is pull-up when a peak of another dye stands within this many
// scans and is at least 1 / kPullupShare times taller.
constexpr double kPullupScans = 1.5;
constexpr double kPullupShare = 0.35;
// Pull-up shares measured from at least this many coincident pairs, with
// this margin over their median.
constexpr std::size_t kMinPullupPairs = 5;
constexpr double kPullupMargin = 3.0;
// Another dye's light explains a peak whose top lies within this many of
// the other peak's deviations of its own top: light alone tops where its
// source does, and a top further off has a product of its own.
constexpr double kLeakReachSigmas = 1.5;
// The quantile of coinciding peaks' height ratios taken for the share of
// one dye's light seen in another.
constexpr double kLeakQuantile = 0.1;
// The largest share of one dye's light an instrument shows in another;
// dyes that share more (a ladder run in two dyes, products that migrate
// together) see the same products, not each other's light.
constexpr double kMaxBleed = 0.25;
// A peak must drop this share of its height, and this many noise
// deviations, towards both neighbours.
constexpr double kProminenceShare = 0.1;
constexpr double kProminenceNoise = 3.0;
// How far, in scans, the valleys of a peak are sought.
constexpr double kMinProminenceReach = 12.0;
constexpr double kMaxProminenceReach = 60.0;
// The top of a fitted peak is sought at most this many scans uphill.
constexpr int kMaxApexWalk = 4;
// Tops of one dye closer than this, in scans, are one peak whose top noise
// has split: resolved fragments lie at least a peak width (four or more
// scans) apart.
constexpr double kDuplicateScans = 2.5;
// Spikes: narrower than this (half-height width, scans) and in most dyes.
constexpr double kSpikeWidth = 2.5;

// Noise deviation from the differences of neighbouring samples: peaks
// change slowly from scan to scan, noise does not.
double noiseDeviation(const double* x, int n) {
    std::vector<double> d;
    d.reserve(static_cast<std::size_t>(n));
    for (int i = 1; i < n; ++i) d.push_back(std::fabs(x[i] - x[i - 1]));
    return std::max(1.0, detail::kSigmaPerMedianAbs * median(d) / std::sqrt(2.0));
}

// Centre and height of the Gaussian through the apex and its neighbours
// (a parabola through their logarithms).
void gaussianThroughApex(const double* x, int n, int apex, double& centre, double& height,
                         double& sigma) {
    centre = apex;
    height = x[apex];
    sigma = kPeakWidth / detail::kFwhmPerSigmaFourDigits;
    if (apex < 1 || apex + 1 >= n || x[apex - 1] <= 0.0 || x[apex + 1] <= 0.0 || x[apex] <= 0.0)
        return;
    const double a = std::log(x[apex - 1]), b = std::log(x[apex]), c = std::log(x[apex + 1]);
    const double curvature = a - 2.0 * b + c;
    if (!(curvature < 0.0)) return;
    const double offset = 0.5 * (a - c) / curvature;
    if (std::fabs(offset) > 1.0) return;
    centre = apex + offset;
    sigma = std::sqrt(-1.0 / curvature);
    height = std::exp(b - 0.25 * (a - c) * offset);
}

// The top of a peak: the highest sample within a scan of its centre (a
// peak sits at its top; a shoulder or a clipped top keeps its fit).
double apexHeight(const double* x, int n, double centre) {
    const int c = static_cast<int>(std::lround(centre));
    double h = -std::numeric_limits<double>::infinity();
    for (int i = std::max(0, c - 1); i <= std::min(n - 1, c + 1); ++i) h = std::max(h, x[i]);
    return h;
}

// Is `dye` the strongest of the run's dyes at scan s (raw counts)?
bool strongestAt(const std::vector<std::vector<double>>& dyes, int dye, int s) {
    for (const std::vector<double>& other : dyes)
        if (other[s] > dyes[dye][s]) return false;
    return true;
}

// Was the detector off scale under a peak? Raw counts at its ceiling or a
// clipped top make it saturated. A scan the instrument marked saturated
// belongs to the dye that is the strongest there; in the other dyes the
// mark shows light leaked from it, whose colour correction fails with the
// detector off scale: such a peak is pull-up. Returns the flag to set.
unsigned offScale(const FragmentRun& run, int dye, double centre, double fwhm) {
    const std::vector<double>& raw = run.dyes[dye];
    const int n = static_cast<int>(raw.size());
    const int a = std::max(0, static_cast<int>(centre - fwhm)),
              b = std::min(n - 1, static_cast<int>(centre + fwhm) + 1);
    int flat = 1;
    for (int i = a; i <= b; ++i) {
        if (raw[i] >= kDetectorCeiling) return kFlagSaturated;
        // Instruments that store colour-corrected raw data clip below the
        // detector's own ceiling: the top shows as a plateau.
        const bool level = i > a && raw[i] >= kFlatTopMin &&
                           std::fabs(raw[i] - raw[i - flat]) <= kFlatTopShare * raw[i];
        flat = level ? flat + 1 : 1;
        if (flat >= kFlatTopScans) return kFlagSaturated;
    }
    // The instrument's list is ascending; on a caller's list that is not, a
    // mark may be missed, but none outside the peak is read.
    const std::vector<int>& marked = run.saturatedScans;
    unsigned flag = 0;
    for (auto it = std::lower_bound(marked.begin(), marked.end(), a);
         it != marked.end() && *it <= b; ++it) {
        if (*it < a) continue;
        if (strongestAt(run.dyes, dye, *it)) return kFlagSaturated;
        flag = kFlagPullup;
    }
    return flag;
}

// Where a fitted peak's top lies. A Gaussian fitted to a tailing hump, or
// jointly with close neighbours, puts its centre down a flank, while a
// fragment's mobility shows at the top, where the instruments size peaks.
// Standard and sample peaks tail differently, so one definition for both
// keeps the tail out of the sizes: every peak whose top lies uphill of its
// fit, within kMaxApexWalk scans, sits at that top (the Gaussian through
// the top sample and its neighbours); a shoulder, whose uphill walk does
// not reach a top, keeps its fit.
double topOfPeak(const double* x, int n, double centre) {
    const int start = std::max(1, std::min(n - 2, static_cast<int>(std::lround(centre))));
    int c = start;
    while (c + 1 < n - 1 && x[c + 1] > x[c] && c - start < kMaxApexWalk) ++c;
    while (c > 1 && x[c - 1] > x[c] && start - c < kMaxApexWalk) --c;
    // A flat (clipped) top says nothing of the centre; the fit's flanks do.
    if (!(x[c] > x[c - 1] && x[c] > x[c + 1])) return centre;
    double top = 0.0, height = 0.0, sigma = 0.0;
    gaussianThroughApex(x, n, c, top, height, sigma);
    return top;
}

// A peak as listed, unsized: its centre and height, and the width of its
// Gaussian; the area is the fitted one, or the Gaussian's when none was
// fitted (area <= 0).
FragmentPeak listedPeak(int dye, double centre, double height, double sigma, double area) {
    FragmentPeak p;
    p.dye = dye;
    p.scan = centre;
    p.height = height;
    p.fwhm = detail::kFwhmPerSigmaFourDigits * sigma;
    p.area = area > 0.0 ? area : height * sigma * kw::detail::kRootTwoPi;
    p.sizeBp = std::nan("");
    return p;
}

void addPeak(const KwTrace& tr, int dye, double fittedCentre, double sigma, double area,
             double minHeight, std::vector<FragmentPeak>& out) {
    const int n = tr.getNumData();
    if (!(fittedCentre >= 0.0) || !(fittedCentre <= n - 1) || !(sigma > 0.0)) return;
    const double centre = topOfPeak(tr.getData(), n, fittedCentre);
    const FragmentPeak p =
        listedPeak(dye, centre, apexHeight(tr.getData(), n, centre), sigma, area);
    if (p.height >= minHeight) out.push_back(p);
}

// Gaussians of one event: a joint fit of its humps, or hump by hump.
void fitEvent(const KwTrace& tr, int dye, KwEvent& ev, double minHeight,
              std::vector<FragmentPeak>& out) {
    const int humps = ev.getNumHumps();
    const double* x = tr.getData();
    const int n = tr.getNumData();
    if (humps <= kMaxFitHumps) {
        ev.setNumPksBeNumHumps();
        std::vector<KwPeak> peaks(static_cast<std::size_t>(humps));
        ev.peakFit(peaks.data());
        const double lo = ev.getOuterBounds(0), hi = ev.getOuterBounds(1);
        bool sane = true;
        for (const KwPeak& p : peaks)
            sane = sane && std::isfinite(p.getLocatn()) && p.getLocatn() >= lo &&
                   p.getLocatn() <= hi && p.getSigma() > 0.3 && p.getSigma() < (hi - lo + 1);
        if (sane) {
            for (const KwPeak& p : peaks)
                addPeak(tr, dye, p.getLocatn(), p.getSigma(), p.getArea(), minHeight, out);
            return;
        }
    }
    for (const KwHump* h = ev.getFisrtHump(); h != nullptr; h = h->getNext()) {
        double centre = 0.0, height = 0.0, sigma = 0.0;
        const int apex = ev.getStartPnt() + h->getApexLocatn();
        if (apex < 0 || apex >= n) continue;
        gaussianThroughApex(x, n, apex, centre, height, sigma);
        addPeak(tr, dye, centre, sigma, 0.0, minHeight, out);
    }
}

// How far a top falls towards its neighbours: walking down each side from
// scan c until a higher sample or `reach` scans away, the drop from the top
// to the higher of the two lowest points.
double dropFromTop(const double* x, int n, int c, int reach) {
    const double top = x[c];
    double lowLeft = top, lowRight = top;
    for (int i = c - 1; i >= std::max(0, c - reach) && x[i] <= top; --i)
        lowLeft = std::min(lowLeft, x[i]);
    for (int i = c + 1; i <= std::min(n - 1, c + reach) && x[i] <= top; ++i)
        lowRight = std::min(lowRight, x[i]);
    return top - std::max(lowLeft, lowRight);
}

int prominenceReach(double fwhm) {
    return static_cast<int>(
        std::min(kMaxProminenceReach, std::max(kMinProminenceReach, 4.0 * fwhm)));
}

// The sample at the top of the hump under a peak's centre: uphill from the
// centre, which lies on a flank for a skewed or clipped peak.
int topSample(const double* x, int n, double scan) {
    int c = std::max(0, std::min(n - 1, static_cast<int>(std::lround(scan))));
    while (c + 1 < n && x[c + 1] > x[c]) ++c;
    while (c > 0 && x[c - 1] > x[c]) --c;
    return c;
}

// Does a peak stand out of its surroundings? From its top the drop towards
// both neighbours must be a clear share of the height and above the noise.
// Wiggles on a broad hump (a blob of unincorporated dye, the primer's tail)
// and noise on a peak's flank do not stand out; the peak they sit on does.
bool standsOut(const KwTrace& tr, double noise, const FragmentPeak& p) {
    const double* x = tr.getData();
    const int n = tr.getNumData();
    const int c = topSample(x, n, p.scan);
    const double drop = dropFromTop(x, n, c, prominenceReach(p.fwhm));
    return drop >= std::max(kProminenceNoise * noise, kProminenceShare * x[c]);
}

// Samples at or above half the height of the top nearest `scan`, counted
// out from that top: a fragment spans four or more scans at half height,
// an electrical blip one or two.
int samplesOverHalf(const double* x, int n, double scan) {
    const int c = topSample(x, n, scan);
    int a = c, b = c;
    while (a > 0 && x[a - 1] >= 0.5 * x[c]) --a;
    while (b + 1 < n && x[b + 1] >= 0.5 * x[c]) ++b;
    return b - a + 1;
}

// Drops the peaks from `first` on that do not stand out, in place.
void keepProminent(const KwTrace& tr, double noise, std::vector<FragmentPeak>& peaks,
                   std::size_t first) {
    const auto flat =
        std::remove_if(peaks.begin() + static_cast<long>(first), peaks.end(),
                       [&](const FragmentPeak& p) { return !standsOut(tr, noise, p); });
    peaks.erase(flat, peaks.end());
}

// Is a peak of `peaks` from `first` on, other than `self`, within
// `reach` scans of scan s?
bool peakNear(const std::vector<FragmentPeak>& peaks, std::size_t first, std::size_t self, double s,
              double reach) {
    for (std::size_t k = first; k < peaks.size(); ++k)
        if (k != self && std::fabs(peaks[k].scan - s) < reach) return true;
    return false;
}

// Noise splits a broad crest into tops under kDuplicateScans apart, which
// are one peak (see withoutDuplicates): a fitted peak at the lower of them
// moves to the higher, where the hump tops, and stands for both: the
// scans it left are returned, for no top to be listed there again. It
// moves only when no other peak stands that close to either top (two fits
// of one hump stay as they are, to be merged). Peaks that kept their fit
// (shoulders, clipped tops) stay.
std::vector<double> toHigherSplitTops(const KwTrace& tr, std::vector<FragmentPeak>& peaks,
                                      std::size_t first) {
    std::vector<double> left;
    const double* x = tr.getData();
    const int n = tr.getNumData();
    const int split = static_cast<int>(kDuplicateScans);
    for (std::size_t k = first; k < peaks.size(); ++k) {
        FragmentPeak& p = peaks[k];
        const int c = topSample(x, n, p.scan);
        if (std::fabs(c - p.scan) > 1.0) continue;
        int higher = c;
        for (int i = c - split; i <= c + split; i += 2 * split)
            if (i >= 1 && i + 1 < n && x[i] > x[higher] && x[i] > x[i - 1] && x[i] > x[i + 1])
                higher = i;
        if (higher == c) continue;
        double centre = 0.0, height = 0.0, sigma = 0.0;
        gaussianThroughApex(x, n, higher, centre, height, sigma);
        if (peakNear(peaks, first, k, c, kDuplicateScans) ||
            peakNear(peaks, first, k, centre, kDuplicateScans))
            continue;
        left.push_back(p.scan);
        p.scan = centre;
        p.height = apexHeight(x, n, centre);
    }
    return left;
}

// Tops the fits passed over. An event's Gaussians follow its humps: on a
// cluster of overlapping peaks, a peak riding another's flank or a broad
// noisy crest they can settle between tops or merge them, while a sizing
// table is expected to list every maximum of a dye above its amplitude
// threshold. Each local maximum at or above the onset that falls by
// kProminenceNoise noise deviations towards both neighbours, and lies
// clear of the peaks already found, is listed as it is sampled, flagged
// `shoulder` when it does not fall by kProminenceShare of its height (a
// top on the flank or crest of a taller peak). Maxima that noise alone
// could make do not fall that far and stay out; so do the tops a fitted
// peak moved from (`vacated`, scans).
void addMissedTops(const KwTrace& tr, int dye, double onset, double noise,
                   const std::vector<FragmentPeak>& fitted, std::size_t first,
                   const std::vector<double>& vacated, std::vector<FragmentPeak>& tops) {
    const double* x = tr.getData();
    const int n = tr.getNumData();
    std::vector<double> found;
    for (std::size_t k = first; k < fitted.size(); ++k) found.push_back(fitted[k].scan);
    found.insert(found.end(), vacated.begin(), vacated.end());
    std::sort(found.begin(), found.end());
    for (int i = 1; i + 1 < n; ++i) {
        if (!(x[i] >= onset && x[i] > x[i - 1] && x[i] >= x[i + 1])) continue;
        double centre = 0.0, height = 0.0, sigma = 0.0;
        gaussianThroughApex(x, n, i, centre, height, sigma);
        const auto next = std::lower_bound(found.begin(), found.end(), centre - kDuplicateScans);
        if (next != found.end() && *next < centre + kDuplicateScans) continue;
        FragmentPeak p = listedPeak(dye, centre, x[i], sigma, 0.0);
        const double drop = dropFromTop(x, n, i, prominenceReach(p.fwhm));
        if (drop < kProminenceNoise * noise) continue;
        if (drop < kProminenceShare * x[i]) p.flags |= kFlagShoulder;
        tops.push_back(p);
    }
}

// Flags a peak earns from its own dye: off scale, or a blip one or two
// samples wide at half height, which no fragment is.
void flagOnItsDye(const FragmentRun& run, const KwTrace& tr, FragmentPeak& p) {
    p.flags |= offScale(run, p.dye, p.scan, p.fwhm);
    if (samplesOverHalf(tr.getData(), tr.getNumData(), p.scan) < kSpikeWidth) p.flags |= kFlagSpike;
}

void detectDye(const KwTrace& tr, int dye, double onset, std::vector<FragmentPeak>& out) {
    const int last = tr.getNumData() - 3;
    int pos = 2;
    while (pos < last) {
        KwEvent ev = tr.getNextEvent(dye, pos, last, onset, 0.5 * onset, kPeakWidth, 1);
        if (!ev.dataExist()) break;
        pos = std::max(pos + 1, ev.getOuterBounds(1));
        if (ev.getNumHumps() < 1 || ev.getMaxData() < onset) continue;
        fitEvent(tr, dye, ev, onset, out);
    }
}

// Peaks of other dyes within kPullupScans of each peak: index pairs (p, q).
std::vector<std::pair<std::size_t, std::size_t>> coincident(
    const std::vector<FragmentPeak>& peaks) {
    std::vector<std::size_t> order(peaks.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return peaks[a].scan < peaks[b].scan; });
    std::vector<std::pair<std::size_t, std::size_t>> pairs;
    for (std::size_t k = 0; k < order.size(); ++k)
        for (std::size_t l = k + 1;
             l < order.size() && peaks[order[l]].scan <= peaks[order[k]].scan + kPullupScans; ++l)
            if (peaks[order[k]].dye != peaks[order[l]].dye) {
                pairs.push_back({order[k], order[l]});
                pairs.push_back({order[l], order[k]});
            }
    return pairs;
}

// How much of one dye shows in another, measured on the run itself: a
// quantile (0..1) of the height ratios over coincident pairs of fitted
// peaks (the first `fitted` of the list) where the stronger dye is on
// scale, indexed [stronger dye x numDyes + weaker dye]; NaN where too few
// pairs measure it.
std::vector<double> measuredBleed(const std::vector<FragmentPeak>& peaks,
                                  const std::vector<std::pair<std::size_t, std::size_t>>& pairs,
                                  int numDyes, std::size_t fitted, double share) {
    const std::size_t nd = static_cast<std::size_t>(numDyes);
    std::vector<std::vector<double>> ratios(nd * nd);
    for (const auto& pq : pairs) {
        const FragmentPeak& p = peaks[pq.first];
        const FragmentPeak& q = peaks[pq.second];
        if (pq.first < fitted && pq.second < fitted && (q.flags & kFlagSaturated) == 0 &&
            p.height < q.height)
            ratios[static_cast<std::size_t>(q.dye) * nd + static_cast<std::size_t>(p.dye)]
                .push_back(p.height / q.height);
    }
    std::vector<double> bleed(nd * nd, std::numeric_limits<double>::quiet_NaN());
    for (std::size_t k = 0; k < bleed.size(); ++k)
        if (ratios[k].size() >= kMinPullupPairs) bleed[k] = quantile(ratios[k], share);
    return bleed;
}

// Pull-up and spikes, from the peaks of the other dyes at the same scan.
// A peak no taller than a few times the measured share of a coinciding
// peak is the other dye's light; without a measurement a fixed share is
// used. Next to an off-scale peak, whose true height is unknown, any lower
// peak is. Fitted peaks are judged by fitted peaks only, tops listed as
// sampled by all.
void judgeAcrossDyes(std::vector<FragmentPeak>& peaks, int numDyes, std::size_t fitted) {
    const auto pairs = coincident(peaks);
    const std::size_t nd = static_cast<std::size_t>(numDyes);
    std::vector<double> share = measuredBleed(peaks, pairs, numDyes, fitted, 0.5);
    for (double& v : share)
        v = std::isnan(v) ? kPullupShare : std::min(kPullupShare, kPullupMargin * v);
    std::vector<int> dyesAlike(peaks.size(), 0);
    for (const auto& pq : pairs) {
        if (pq.first < fitted && pq.second >= fitted) continue;
        FragmentPeak& p = peaks[pq.first];
        const FragmentPeak& q = peaks[pq.second];
        ++dyesAlike[pq.first];
        const double s =
            share[static_cast<std::size_t>(q.dye) * nd + static_cast<std::size_t>(p.dye)];
        if (p.height < s * q.height || ((q.flags & kFlagSaturated) != 0 && p.height < q.height))
            p.flags |= kFlagPullup;
    }
    for (std::size_t k = 0; k < peaks.size(); ++k)
        if (peaks[k].fwhm < kSpikeWidth && numDyes >= 3 && dyesAlike[k] >= numDyes - 2)
            peaks[k].flags |= kFlagSpike;
}

// A joint fit can place two Gaussians of one hump on the same scan; the
// taller stands for the peak.
std::vector<FragmentPeak> withoutDuplicates(const std::vector<FragmentPeak>& sorted) {
    std::vector<FragmentPeak> kept;
    for (const FragmentPeak& p : sorted) {
        if (!kept.empty() && kept.back().dye == p.dye &&
            p.scan - kept.back().scan < kDuplicateScans) {
            if (p.height > kept.back().height) kept.back() = p;
            continue;
        }
        kept.push_back(p);
    }
    return kept;
}

}  // namespace

std::vector<double> leakedLight(const std::vector<FragmentPeak>& peaks, int numDyes) {
    std::vector<double> leak(peaks.size(), 0.0);
    if (numDyes < 2) return leak;
    // Every peak of a dye at the scan of another's carries at least that
    // dye's light, so the lowest ratios of coinciding peaks measure it; the
    // others add products of their own.
    const std::vector<double> bleed =
        measuredBleed(peaks, coincident(peaks), numDyes, peaks.size(), kLeakQuantile);
    const std::size_t nd = static_cast<std::size_t>(numDyes);
    std::vector<std::size_t> order(peaks.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return peaks[a].scan < peaks[b].scan; });
    double widest = 1.0;
    for (const FragmentPeak& q : peaks) widest = std::max(widest, q.fwhm / 2.3548);
    const double reach = kLeakReachSigmas * widest;
    // Another dye's peak lights this one's scan by its measured share of
    // its height, falling off as its own Gaussian profile.
    std::size_t from = 0;
    for (std::size_t k = 0; k < order.size(); ++k) {
        const FragmentPeak& p = peaks[order[k]];
        while (peaks[order[from]].scan < p.scan - reach) ++from;
        for (std::size_t l = from; l < order.size() && peaks[order[l]].scan <= p.scan + reach;
             ++l) {
            const FragmentPeak& q = peaks[order[l]];
            const double sigma = std::max(1.0, q.fwhm / 2.3548);
            if (q.dye == p.dye || q.height <= p.height ||
                std::fabs(q.scan - p.scan) > kLeakReachSigmas * sigma)
                continue;
            const double measured =
                bleed[static_cast<std::size_t>(q.dye) * nd + static_cast<std::size_t>(p.dye)];
            if (!(measured > 0.0)) continue;  // not measured
            const double b = std::min(kMaxBleed, measured);
            const double z = (q.scan - p.scan) / sigma;
            leak[order[k]] += b * q.height * std::exp(-0.5 * z * z);
        }
    }
    return leak;
}

namespace {

// The run's dyes in a capillary, each with its baseline removed; `noise`
// receives each dye's noise deviation. Samples that are not numbers carry
// no light: they count as zero.
KwCap baselinedCapillary(const FragmentRun& run, int numDyes, int n, std::vector<double>& noise) {
    std::vector<std::vector<double>> rows = run.dyes;
    std::vector<double*> ptrs;
    for (std::vector<double>& r : rows) {
        for (double& v : r)
            if (!std::isfinite(v)) v = 0.0;
        ptrs.push_back(r.data());
    }
    KwCap cap(numDyes, n, ptrs.data(), run.rate);
    // deBaseline counts its window in units of trunc(5 x rate) scans.
    const double units = std::trunc(5.0 * run.rate);
    const int unit = units >= 1.0 && units <= n ? static_cast<int>(units) : 0;
    const int windows = unit >= 1 ? std::max(1, static_cast<int>(kBaselineScans / unit)) : 0;
    noise.assign(static_cast<std::size_t>(numDyes), 0.0);
    for (int d = 0; d < numDyes; ++d) {
        KwTrace& tr = *cap.getPnterToTrace(d);
        if (windows >= 1 && 2 * unit * windows <= n) tr.deBaseline(windows);
        noise[d] = noiseDeviation(tr.getData(), n);
    }
    return cap;
}

}  // namespace

std::vector<std::vector<double>> baselinedDyes(const FragmentRun& run, std::vector<double>& noise) {
    const int numDyes = static_cast<int>(run.dyes.size());
    const int n = numDyes > 0 ? static_cast<int>(run.dyes[0].size()) : 0;
    std::vector<std::vector<double>> out;
    noise.assign(static_cast<std::size_t>(numDyes), 0.0);
    if (numDyes == 0 || n < 16) return out;
    KwCap cap = baselinedCapillary(run, numDyes, n, noise);
    for (int d = 0; d < numDyes; ++d) {
        const KwTrace& tr = *cap.getPnterToTrace(d);
        out.emplace_back(tr.getData(), tr.getData() + n);
    }
    return out;
}

std::vector<FragmentPeak> findFragmentPeaks(const FragmentRun& run, const FragmentOptions& options,
                                            std::vector<double>& noise,
                                            std::vector<FragmentPeak>& missedTops) {
    std::vector<FragmentPeak> peaks;
    const int numDyes = static_cast<int>(run.dyes.size());
    const int n = numDyes > 0 ? static_cast<int>(run.dyes[0].size()) : 0;
    noise.assign(static_cast<std::size_t>(numDyes), 0.0);
    missedTops.clear();
    if (numDyes == 0 || n < 16) return peaks;
    KwCap cap = baselinedCapillary(run, numDyes, n, noise);
    // Thresholds out of their ranges fall back to the defaults.
    const FragmentOptions defaults;
    const double minHeight = options.minHeight >= 0.0 && std::isfinite(options.minHeight)
                                 ? options.minHeight
                                 : defaults.minHeight;
    const double signalToNoise =
        options.minSignalToNoise >= 1.0 && std::isfinite(options.minSignalToNoise)
            ? options.minSignalToNoise
            : defaults.minSignalToNoise;
    for (int d = 0; d < numDyes; ++d) {
        KwTrace& tr = *cap.getPnterToTrace(d);
        const double onset = std::max(minHeight, signalToNoise * noise[d]);
        const std::size_t before = peaks.size();
        detectDye(tr, d, onset, peaks);
        keepProminent(tr, noise[d], peaks, before);
        const std::vector<double> vacated = toHigherSplitTops(tr, peaks, before);
        const std::size_t missedBefore = missedTops.size();
        addMissedTops(tr, d, onset, noise[d], peaks, before, vacated, missedTops);
        for (std::size_t k = before; k < peaks.size(); ++k) flagOnItsDye(run, tr, peaks[k]);
        for (std::size_t k = missedBefore; k < missedTops.size(); ++k)
            flagOnItsDye(run, tr, missedTops[k]);
    }
    const std::size_t fitted = peaks.size();
    const std::vector<FragmentPeak> tops = withoutDuplicates(missedTops);
    peaks.insert(peaks.end(), tops.begin(), tops.end());
    judgeAcrossDyes(peaks, numDyes, fitted);
    missedTops.assign(peaks.begin() + static_cast<long>(fitted), peaks.end());
    peaks.resize(fitted);
    std::stable_sort(peaks.begin(), peaks.end(), byDyeAndScan);
    return withoutDuplicates(peaks);
}

bool byDyeAndScan(const FragmentPeak& a, const FragmentPeak& b) {
    return a.dye != b.dye ? a.dye < b.dye : a.scan < b.scan;
}

}  // namespace detail
}  // namespace kw
