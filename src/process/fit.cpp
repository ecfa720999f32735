// Events along each channel and Gaussian peaks fitted in them, as many as
// an event's width says it holds.
#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <utility>

#include "common/gaussian.h"
#include "process/road.h"

namespace kw {
namespace detail {
namespace {

// Event-local apex positions of an event's humps, in order.
std::vector<int> apexesOf(const KwEvent& ev) {
    std::vector<int> apexes;
    for (const KwHump* h = ev.getFisrtHump(); h != nullptr; h = h->getNext())
        apexes.push_back(h->getApexLocatn());
    return apexes;
}

// The samples [a, b] of an event (event-local) as an event of its own,
// holding the humps apexes[first, last).
KwEvent excerpt(const KwEvent& ev, const KwTrace& tr, int a, int b, const std::vector<int>& apexes,
                size_t first, size_t last) {
    const int s = ev.getStartPnt();
    int outer[2] = {s + a, s + b};
    int inner[2] = {std::min(outer[1], std::max(outer[0], ev.getInnerBounds(0))),
                    std::max(outer[0], std::min(outer[1], ev.getInnerBounds(1)))};
    KwEvent part;
    for (size_t k = first; k < last; ++k) part.addApexGlobalLocatn(s + apexes[k]);
    part.setup(ev.getTraceCode(), outer, inner, 0.0, tr.getData());
    return part;
}

// An event without the runs of zeros the filter leaves between humps (the
// scan takes them in up to the onset), one zero kept at either end to
// anchor the base of the fit: they only cost the fit time. Every hump stays
// inside, even one whose apex sits on a zero.
std::unique_ptr<KwEvent> trimmed(std::unique_ptr<KwEvent> event, const KwTrace& tr) {
    const KwEvent& ev = *event;
    const int w = ev.getOuterWidth();
    const std::vector<int> apexes = apexesOf(ev);
    int a = 0, b = w - 1;
    while (a + 1 < w && ev[a] == 0.0 && ev[a + 1] == 0.0) ++a;
    while (b > a && ev[b] == 0.0 && ev[b - 1] == 0.0) --b;
    for (int apex : apexes) {
        a = std::min(a, apex);
        b = std::max(b, apex);
    }
    if (a == 0 && b == w - 1) return event;
    return std::unique_ptr<KwEvent>(new KwEvent(excerpt(ev, tr, a, b, apexes, 0, apexes.size())));
}

// The cost of a fit grows with the square of the peaks fitted together, and
// peaks a few humps apart hardly pull on each other: a long train of humps
// (a run of overlapping bases, or noise let through) is fitted in parts of
// at most kMaxFitHumps humps, each cut at the deepest valley among the
// later humps of the part.
constexpr size_t kMaxFitHumps = 8;
std::vector<KwEvent> fitParts(const KwEvent& ev, const KwTrace& tr) {
    std::vector<const KwHump*> humps;
    for (const KwHump* h = ev.getFisrtHump(); h != nullptr; h = h->getNext()) humps.push_back(h);
    if (humps.size() <= kMaxFitHumps) return {ev};
    const std::vector<int> apexes = apexesOf(ev);
    std::vector<KwEvent> parts;
    size_t first = 0;
    int from = 0;
    while (humps.size() - first > kMaxFitHumps) {
        size_t cut = first + kMaxFitHumps;  // the hump that opens the next part
        for (size_t j = first + kMaxFitHumps / 2; j < first + kMaxFitHumps; ++j)
            if (ev[humps[j]->getValleyLocatn()] < ev[humps[cut]->getValleyLocatn()]) cut = j;
        const int to = humps[cut]->getValleyLocatn();
        parts.push_back(excerpt(ev, tr, from, to, apexes, first, cut));
        from = to;
        first = cut;
    }
    parts.push_back(excerpt(ev, tr, from, ev.getOuterWidth() - 1, apexes, first, humps.size()));
    return parts;
}

// Half-height width of an event's samples around its highest sample, in
// samples; 0 when the event does not fall to half height on both sides.
double halfHeightWidth(const KwEvent& ev) {
    const int w = ev.getOuterWidth();
    const int top = ev.getSummitPosition() - ev.getStartPnt();
    if (!(ev[top] > 0.0)) return 0.0;
    const double half = 0.5 * ev[top];
    int l = top, r = top;
    while (l > 0 && ev[l] > half) --l;
    while (r < w - 1 && ev[r] > half) ++r;
    if (ev[l] > half || ev[r] > half) return 0.0;
    const double left = l + (half - ev[l]) / std::max(1e-12, ev[l + 1] - ev[l]);
    const double right = r - (half - ev[r]) / std::max(1e-12, ev[r - 1] - ev[r]);
    return right - left;
}

// Half-height width of k equal unit Gaussians spaced d apart (d in
// standard deviations). The sum is symmetric about its middle and falls
// monotonically beyond its outermost peak, so its top is sought on one half
// and its half-height crossing by bisection outside.
double mergedWidth(int k, double d) {
    auto f = [&](double x) {
        double v = 0.0;
        for (int j = 0; j < k; ++j) v += std::exp(-0.5 * (x - j * d) * (x - j * d));
        return v;
    };
    const double middle = 0.5 * (k - 1) * d;
    double top = f(middle);
    for (int i = 0; i <= 40; ++i) top = std::max(top, f(middle * i / 40.0));
    double inside = (k - 1) * d, outside = inside + 5.0;  // f(inside) >= top / 2 > f(outside)
    for (int i = 0; i < 40; ++i) {
        const double mid = 0.5 * (inside + outside);
        (f(mid) >= 0.5 * top ? inside : outside) = mid;
    }
    return 2.0 * (inside - middle);
}

// Widths of one to kMaxBases merged bases relative to one, at the ratio of
// base spacing to peak deviation of a few places along the window. Most
// humps are told from two bases at once: each width is worked out when it
// is first asked for.
constexpr int kMaxBases = 8;
class WidthRatios {
public:
    explicit WidthRatios(std::vector<double> spacingPerSigma)
        : d(std::move(spacingPerSigma)),
          widths(d.size(), std::vector<std::optional<double>>(kMaxBases + 1)) {}

    int places() const { return static_cast<int>(d.size()); }
    // Width of k merged bases (1..kMaxBases) over that of one, at a place.
    double at(int place, int k) { return width(place, k) / width(place, 1); }

private:
    double width(int place, int k) {
        std::optional<double>& w = widths[place][k];
        if (!w) w = mergedWidth(k, d[place]);
        return *w;
    }

    const std::vector<double> d;
    std::vector<std::vector<std::optional<double>>> widths;  // by place and bases
};

// Median width of the single-hump events nearest to a position: of the
// kHalf singles on either side of where it falls among them (singles sorted
// by position). The medians of all places come from one window of widths,
// kept sorted, slid along the singles.
class SingleWidths {
public:
    explicit SingleWidths(std::vector<std::pair<int, double>> sorted)
        : singles(std::move(sorted)), medians(singles.size() + 1) {
        constexpr int kHalf = 20;
        const int n = static_cast<int>(singles.size());
        std::vector<double> window;
        window.reserve(2 * kHalf);
        auto add = [&](int k) {
            const double v = singles[k].second;
            window.insert(std::upper_bound(window.begin(), window.end(), v), v);
        };
        auto drop = [&](int k) {
            window.erase(std::lower_bound(window.begin(), window.end(), singles[k].second));
        };
        for (int k = 0; k < std::min(n, kHalf); ++k) add(k);
        for (int i = 0; i <= n; ++i) {  // window: the singles i - kHalf .. i + kHalf - 1
            // The upper median, as median() takes it.
            medians[i] = window.empty() ? 0.0 : window[window.size() / 2];
            if (i + kHalf < n) add(i + kHalf);
            if (i - kHalf >= 0) drop(i - kHalf);
        }
    }

    double near(int pos) const {
        const auto at = std::lower_bound(singles.begin(), singles.end(), std::make_pair(pos, 0.0));
        return medians[at - singles.begin()];
    }

private:
    const std::vector<std::pair<int, double>> singles;
    std::vector<double> medians;  // by place among the singles
};

// Bases merged into one hump are fitted from a split of its tallest humps,
// which starts them close together, and a least-squares fit to a merged
// hump keeps them too close. Repeated bases lie about a base spacing apart:
// peaks packed closer are spread about their mean centre to that spacing.
void respace(std::vector<KwPeak>& peaks, double spacing) {
    const int n = static_cast<int>(peaks.size());
    double mean = 0.0, lo = peaks.front().getLocatn(), hi = lo;
    for (const KwPeak& p : peaks) {
        mean += p.getLocatn() / n;
        lo = std::min(lo, p.getLocatn());
        hi = std::max(hi, p.getLocatn());
    }
    const double gap = (hi - lo) / (n - 1);
    if (gap >= spacing) return;
    const double stretch = gap > 0.0 ? std::min(3.0, spacing / gap) : 0.0;
    for (int j = 0; j < n; ++j) {
        const double x = peaks[j].getLocatn();
        peaks[j].setLocatn(stretch > 0.0 ? mean + (x - mean) * stretch
                                         : mean + (j - 0.5 * (n - 1)) * spacing);
    }
}

// How many bases an event's width says it holds: repeated bases of one dye
// merge into a hump wider than a single peak of that part of the run. The
// widening is predicted from the run's own peak width and base spacing and
// compared, as a ratio, with the width of the single peaks nearby (the
// filtered humps are narrower than the raw peaks, their ratios alike). The
// predictions are made at a few places along the window; `along` is where
// the event lies, 0 at the window's start and 1 at its end.
int basesIn(const KwEvent& ev, double single, double along, WidthRatios& ratios) {
    const double width = halfHeightWidth(ev);
    if (width <= 0.0 || single <= 0.0) return 1;
    const int place =
        static_cast<int>(std::lround(std::min(1.0, std::max(0.0, along)) * (ratios.places() - 1)));
    int bases = 1;
    while (bases < kMaxBases &&
           width / single >= 0.5 * (ratios.at(place, bases) + ratios.at(place, bases + 1)))
        ++bases;
    return bases;
}

}  // namespace

void Road::events() {
    const int first = std::max(start, 2);
    const int last = std::min(end, cap->getNumData() - 3);
    for (int t = 0; t < numTraces(); ++t) {
        const KwTrace& tr = traceOf(*cap, t);
        const double onset = tr.getMinumHeight();
        int pos = first;
        while (pos < last) {
            std::unique_ptr<KwEvent> ev(new KwEvent(tr.getNextEvent(
                t, pos, last, onset, 0.5 * onset, kFwhmPerSigma * sigmaAt(pos), 1)));
            if (!ev->dataExist()) break;
            pos = std::max(pos + 1, ev->getOuterBounds(1));
            if (ev->getNumHumps() < 1) continue;
            found.push_back(trimmed(std::move(ev), tr));
            ++out.channels[t].events;
        }
    }
    out.numEvents = static_cast<int>(found.size());
}

void Road::fit() {
    std::vector<std::pair<int, double>> singles;
    for (const std::unique_ptr<KwEvent>& event : found) {
        const KwEvent& ev = *event;
        const double w = ev.getNumHumps() == 1 ? halfHeightWidth(ev) : 0.0;
        if (w > 0.0) singles.push_back({ev.getSummitPosition(), w});
    }
    std::sort(singles.begin(), singles.end());
    const SingleWidths singleWidths(std::move(singles));
    constexpr int kPlaces = 16;
    std::vector<double> spacingPerSigma;
    for (int k = 0; k < kPlaces; ++k) {
        const int pos = start + (end - start) * k / (kPlaces - 1);
        spacingPerSigma.push_back(spacingAt(pos) / sigmaAt(pos));
    }
    WidthRatios ratios(std::move(spacingPerSigma));
    std::vector<KwPeak> peaks;  // of one event, its buffer kept from event to event
    auto fitPeaks = [&](KwEvent& ev) {
        // A hump well below the smallest reported height yields no peak.
        if (ev.getMaxData() < 0.5 * kMinRelativeHeight * target) return;
        ev.setNumPksBeNumHumps();
        const int pos = ev.getSummitPosition();
        const double along = end > start ? static_cast<double>(pos - start) / (end - start) : 0.0;
        const int n =
            std::max(ev.getNumHumps(), basesIn(ev, singleWidths.near(pos), along, ratios));
        ev.setMaxNumPeaks(n);
        ev.setMinNumPeaks(n);
        peaks.assign(n, KwPeak());
        ev.peakFit(peaks.data());
        if (n > ev.getNumHumps()) respace(peaks, spacingAt(ev.getSummitPosition()));
        out.peaks.insert(out.peaks.end(), peaks.begin(), peaks.end());
    };
    // The events are fitted where they lie; only a long train is cut into
    // parts of its own.
    for (const std::unique_ptr<KwEvent>& event : found) {
        KwEvent& whole = *event;
        if (whole.getNumHumps() <= static_cast<int>(kMaxFitHumps)) {
            fitPeaks(whole);
            continue;
        }
        for (KwEvent& part : fitParts(whole, traceOf(*cap, whole.getTraceCode()))) fitPeaks(part);
    }
}

}  // namespace detail
}  // namespace kw
