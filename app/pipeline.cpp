#include "pipeline.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "measure.h"

namespace kwapp {
namespace {

// The library keeps separation and a few capillary-wide steps for derived
// classes.
class PipelineCap : public KwCap {
public:
    using KwCap::KwCap;
    using KwCap::setNoiseLevelForNormalized;
    using KwCap::specSep;

    KwTrace& trace(int t) { return *getPnterToTrace(t); }
};

// Electrical spikes and dropouts: one to three samples far off their
// neighbours. Two samples away from its top a peak at least two samples
// wide (standard deviation) has lost at most about 40 % of its height; a
// spike or a dropout has lost nearly all of it there. Only an extreme that
// stands 15 noise deviations off its surroundings is taken for one.
bool isNarrowArtefact(const double* x, int i, double noise) {
    const bool top = x[i] >= x[i - 1] && x[i] >= x[i + 1];
    const bool bottom = x[i] <= x[i - 1] && x[i] <= x[i + 1];
    if (!top && !bottom) return false;
    const double drop =
        top ? x[i] - std::max(x[i - 2], x[i + 2]) : std::min(x[i - 2], x[i + 2]) - x[i];
    if (!(drop >= 15.0 * noise)) return false;
    const auto around = std::minmax_element(x + i - 3, x + i + 4);
    const double size = top ? x[i] - *around.first : *around.second - x[i];
    return drop >= 0.6 * size;
}

// Each artefact is bridged by a parabola.
void bridge(KwTrace& tr, int i) {
    const double* x = tr.getData();
    tr.replaceWithParabola(i - 3, i + 3, std::min(x[i - 3], x[i + 3]));
}

void removeNarrowArtefacts(KwTrace& tr, double noise) {
    const int n = tr.getNumData();
    for (int i = 3; i + 3 < n; ++i)
        if (isNarrowArtefact(tr.getData(), i, noise)) {
            bridge(tr, i);
            i += 3;
        }
}

// Where the bases themselves are only a few samples wide, shape alone cannot
// tell an artefact from a base, but an electrical spike or a bubble strikes
// every channel of the detector at once, while a base shows in its own dye's
// channel and in those its spectrum leaks into.
void removeCommonArtefacts(KwCap& cap, const std::vector<double>& noise) {
    const int n = cap.getNumData();
    auto inChannel = [&](int t, int i) {
        const double* x = cap.getPnterToTrace(t)->getData();
        for (int k = std::max(3, i - 1); k <= std::min(n - 4, i + 1); ++k)
            if (isNarrowArtefact(x, k, noise[t])) return true;
        return false;
    };
    for (int i = 3; i + 3 < n; ++i) {
        bool everywhere = true;
        for (int t = 0; t < cap.getNumTraces() && everywhere; ++t) everywhere = inChannel(t, i);
        if (!everywhere) continue;
        for (int t = 0; t < cap.getNumTraces(); ++t) bridge(*cap.getPnterToTrace(t), i);
        i += 3;
    }
}

// Processor time of the calling thread, milliseconds: what a stage costs,
// however busy the machine is with other work.
double threadMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return 1e3 * static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_nsec);
}

class StageClock {
public:
    explicit StageClock(std::vector<StageTime>& stages)
        : stages(stages), first(threadMs()), mark(first) {}
    void lap(const char* name) {
        const double t = threadMs();
        stages.push_back({name, t - mark});
        mark = t;
    }
    double total() const { return mark - first; }

private:
    std::vector<StageTime>& stages;
    double first;
    double mark;
};

// A clear peak rises this many noise deviations above its valleys.
constexpr double kClearRise = 10.0;
// Separation: stop when the cross-talk left is below 1 %, accept up to 3 %.
constexpr double kSepTolerance = 0.01;
constexpr double kSepAccept = 3.0;
// Baseline window of the run, in base spacings: long enough to pass under
// a run of several bases without cutting into it.
constexpr double kBaselineSpacings = 8.0;
// Baseline window of the copy the separation is learned on, in base spacings.
constexpr double kLearningBaseline = 24.0;
// Width of the Mexican hat as a share of the measured peak width: a hat
// narrower than the peaks sharpens them, so that a weaker base beside a
// strong one keeps a hump of its own.
constexpr double kHatWidth = 0.5;
// Smallest peak reported, as a share of the normalised peak height: lower
// humps are left-overs of other dyes or noise let through by the filter.
constexpr double kMinRelativeHeight = 0.25;
// Smallest share of the strongest dye within a base spacing that a peak's
// own dye must hold, each dye on the scale of its own typical peak.
constexpr double kMinDyeShare = 0.2;
// Fewest samples per base at which every base is at least two samples wide
// (its standard deviation is a fifth to a third of the spacing), so that
// its shape tells it from a spike.
constexpr double kMinSpikeFreeSpacing = 10.0;

class Road {
public:
    Road(const RawRun& run, const PipelineOptions& options, PipelineResult& result)
        : run(run), options(options), r(result) {}

    void build();
    void despike();
    bool window();
    void clean();
    void baseline();
    void separate();
    void ends();
    void noise();
    void filter();
    void normalise();
    void events();
    void fit();
    void select();
    void finish();

private:
    void keepDyeScale(const KwSpecSepTable& m);
    void dropMinorDyes();
    int numTraces() const { return run.numTraces; }
    int baselineWindows(double samples) const;
    PeakSearch search(bool dominant, double smoothing) const;
    ChannelView view() const;
    double along(int pos, double atStart, double atEnd) const;
    double sigmaAt(int pos) const { return along(pos, r.sigmaStart, r.sigmaEnd); }
    double spacingAt(int pos) const { return along(pos, spacingStart, spacingEnd); }
    int basesIn(const KwEvent& ev, const std::vector<std::pair<int, double>>& singles,
                const std::vector<std::vector<double>>& ratios) const;
    bool learn();
    std::unique_ptr<PipelineCap> learningExcerpt(bool robust) const;

    const RawRun& run;
    const PipelineOptions& options;
    PipelineResult& r;
    std::unique_ptr<PipelineCap> cap;
    double roughSpacing = 0.0;
    double spacingStart = 0.0, spacingEnd = 0.0;  // base spacing at the window ends
    double target = 0.0;                          // peak height after envelope normalisation
    std::vector<double> channelNoise;             // deviation of each channel's white noise
    int start = 0, end = 0;
    std::vector<KwEvent> found;
    // The separated, baseline-free channels before sharpening and
    // normalisation (empty when not separated): the scale on which the dyes
    // are compared.
    std::vector<std::vector<double>> separated;
};

void Road::build() {
    std::vector<double*> rows;
    for (const auto& row : run.rows) rows.push_back(const_cast<double*>(row.data()));
    cap.reset(new PipelineCap(run.numTraces, run.numData, rows.data(), run.rate));
    r.channels.assign(numTraces(), ChannelSummary());
}

// On a run sampled more sparsely than kMinSpikeFreeSpacing samples per
// base, shape alone would take narrow bases for spikes: only artefacts seen
// in every channel at once are removed there (a lone trace has nothing to
// compare with, and shape decides). The rough spacing measured
// here, before any sample has changed, also sizes the window's search.
void Road::despike() {
    for (int t = 0; t < numTraces(); ++t)
        channelNoise.push_back(noiseSigma(cap->getPnterToTrace(t)->getData(), 0, run.numData - 1));
    const int n = run.numData;
    roughSpacing =
        medianSpacing(clearPeaks(view(), 0, n - 1, channelNoise, search(false, 1.0)), 0, n - 1);
    if (roughSpacing > 0.0 && roughSpacing < kMinSpikeFreeSpacing && numTraces() > 1) {
        removeCommonArtefacts(*cap, channelNoise);
        return;
    }
    for (int t = 0; t < numTraces(); ++t) removeNarrowArtefacts(cap->trace(t), channelNoise[t]);
}

ChannelView Road::view() const {
    ChannelView v;
    v.n = cap->getNumData();
    for (int t = 0; t < numTraces(); ++t) v.channels.push_back(cap->getPnterToTrace(t)->getData());
    return v;
}

// Clear peaks rise kClearRise noise deviations. Their valleys are sought
// within a few base spacings, and before the spacing is known within 256
// samples, many times the spacing of any instrument's bases.
PeakSearch Road::search(bool dominant, double smoothing) const {
    PeakSearch s;
    s.minRise = kClearRise;
    s.dominant = dominant;
    s.smoothing = smoothing;
    s.reach = roughSpacing > 0.0 ? std::max(8, static_cast<int>(6.0 * roughSpacing)) : 256;
    return s;
}

// deBaseline counts its window in units of trunc(5 x rate) samples; 0 when
// a unit is shorter than a sample or longer than the run.
int Road::baselineWindows(double samples) const {
    const double unit = std::trunc(5.0 * run.rate);
    if (unit < 1.0 || unit > run.numData) return 0;
    return std::max(1,
                    static_cast<int>(std::min<double>(run.numData, std::lround(samples / unit))));
}

// Median height of clear peaks; 0 for none.
double medianHeight(const std::vector<ClearPeak>& peaks) {
    std::vector<double> heights;
    for (const ClearPeak& p : peaks) heights.push_back(p.height);
    std::nth_element(heights.begin(), heights.begin() + heights.size() / 2, heights.end());
    return heights.empty() ? 0.0 : heights[heights.size() / 2];
}

// The signal window, found on the sum of the channels: the rough base
// spacing (measured on the raw channels) sizes its baseline; the window then
// spans the dense train of clear peaks of about their typical height, which
// leaves out the primer blob before it and the noise of the tail.
bool Road::window() {
    const int n = run.numData;
    KwTrace sum(n);
    sum.setSampleRate(run.rate);
    for (int s = 0; s < n; ++s) {
        double v = 0.0;
        for (int t = 0; t < numTraces(); ++t) v += (*cap)(t, s);
        sum[s] = v;
    }
    ChannelView v;
    v.n = n;
    v.channels.push_back(sum.getData());
    // Independent noises add in variance. The sum's own second differences
    // overstate its noise where bases follow each other within a few
    // samples: their curvature then fills every triple.
    double variance = 0.0;
    for (double sd : channelNoise) variance += sd * sd;
    const std::vector<double> sumNoise{
        std::min(noiseSigma(sum.getData(), 0, n - 1), std::sqrt(variance))};
    const int windows = baselineWindows(kBaselineSpacings * roughSpacing);
    if (roughSpacing > 0.0 && windows > 0) sum.deBaseline(windows);
    const std::vector<ClearPeak> peaks =
        clearPeaks(v, 0, n - 1, sumNoise, search(true, roughSpacing / 6.0));
    const double typical = medianHeight(peaks);
    int first = 0, last = 0;
    if (roughSpacing <= 0.0 ||
        !signalSpan(peaks, roughSpacing, 0.15 * typical, 8.0 * typical, first, last)) {
        r.status = "no_signal";
        r.note = "no train of peaks stands clear of the noise";
        r.windowEnd = n - 1;
        return false;
    }
    start = std::max(0, first - static_cast<int>(2.0 * roughSpacing));
    end = std::min(n - 1, last + static_cast<int>(2.0 * roughSpacing));
    // A peak far above the later ones at the very start is the primer blob
    // or its flank: the window starts after it has fallen to its valley.
    sum.setSignalStartPnt(start);
    sum.setSignalEndPnt(end);
    start = sum.deAnomalousHighPkAtBeginning();
    if (end - start < kMinSamples / 2) {
        r.status = "no_signal";
        r.note = "no stretch of signal long enough to process";
        r.windowEnd = n - 1;
        return false;
    }
    cap->setSignalStartPnt(start);
    cap->setSignalEndPnt(end);
    r.windowStart = start;
    r.windowEnd = end;
    return true;
}

void Road::clean() {
    cap->cleaning(0.0, 0);
}

// The baseline under the separated channels, up to the last sample: the end
// of the signal is placed on the baseline-free channels next.
void Road::baseline() {
    cap->setSignalEndPnt(cap->getNumData() - 1);
    const int windows = baselineWindows(kBaselineSpacings * roughSpacing);
    if (windows < 1 || cap->deBaseline(windows) == 0)
        r.notes.push_back("baseline not removed: the window is too short for the baseline");
}

// The stretch a capillary learns its separation from (the body of the
// window, at most 1000 s or a fifth of the run from its start, as the
// library chooses it), copied into a capillary of its own so that every
// estimation step works on that stretch alone. Its baseline is removed with
// a long window: a short one cuts into the valleys, where a channel holds
// the cross-talk of the neighbouring peaks of other dyes, and the cross-talk
// would come out too small.
std::unique_ptr<PipelineCap> Road::learningExcerpt(bool robust) const {
    const int len = end - start;
    const int a = static_cast<int>(start + 0.05 * len);
    int b = static_cast<int>(end - 0.45 * len);
    if (robust) {
        const double most =
            std::max(std::min(run.rate * 1000.0, 1.0 * run.numData), run.numData * 0.2000001);
        b = std::min(b, a + static_cast<int>(most));
    }
    const int margin = static_cast<int>(kLearningBaseline * roughSpacing);
    const int first = std::max(0, a - margin), last = std::min(cap->getNumData() - 1, b + margin);
    std::vector<std::vector<double>> rows(numTraces());
    std::vector<double*> ptrs;
    for (int t = 0; t < numTraces(); ++t) {
        const double* x = cap->getPnterToTrace(t)->getData();
        rows[t].assign(x + first, x + last + 1);
        ptrs.push_back(rows[t].data());
    }
    std::unique_ptr<PipelineCap> part(
        new PipelineCap(numTraces(), last - first + 1, ptrs.data(), run.rate));
    part->deBaseline(baselineWindows(kLearningBaseline * roughSpacing));
    part->setSignalStartPnt(a - first);
    part->setSignalEndPnt(b - first);
    return part;
}

// Fills r.matrix with a matrix learned from the run, or refined from the
// system matrix given; false when nothing could be learned.
bool Road::learn() {
    const int nt = numTraces();
    KwSpecSepTable table(nt);
    if (static_cast<int>(options.systemMatrix.size()) == nt) {
        std::vector<std::vector<float>> store = options.systemMatrix;
        std::vector<float*> ssm;
        for (auto& row : store) ssm.push_back(row.data());
        std::vector<const float*> given(ssm.begin(), ssm.end());
        PipelineCap copy(*cap);
        copy.setSignalEndPnt(end);
        copy.deBaseline(baselineWindows(kLearningBaseline * roughSpacing));
        copy.setSystemSSM(given.data());
        const bool refined = copy.specSep(kSepTolerance, kSepAccept, ssm.data()) == 1;
        r.separation = refined ? "refined" : "system";  // the lab's matrix beats none
        r.separationAccepted = refined;
        if (!refined) store = options.systemMatrix;
        for (int i = 0; i < nt; ++i)
            for (int j = 0; j < nt; ++j) table(i, j) = store[i][j];
    } else {
        bool learned = false;
        for (bool robust : {true, false}) {
            const std::unique_ptr<PipelineCap> part = learningExcerpt(robust);
            const int a = part->getSignalStartPnt(), b = part->getSignalEndPnt();
            learned = robust ? table.setup1(*part, a, b, kSepTolerance, kSepAccept, run.rate) == 1
                             : table.setup(*part, a, b, kSepTolerance, kSepAccept) == 1;
            if (learned) break;
        }
        if (!learned) return false;
        r.separation = "learned";
        r.separationAccepted = true;
    }
    r.matrix.assign(nt, std::vector<double>(nt));
    for (int i = 0; i < nt; ++i)
        for (int j = 0; j < nt; ++j) r.matrix[i][j] = static_cast<float>(table(i, j));
    return true;
}

void Road::separate() {
    const int nt = numTraces();
    if (nt < 2) return;
    if (!learn()) {
        r.separation = "none";
        r.notes.push_back("separation matrix not learned: the estimation did not converge");
        r.matrix.assign(nt, std::vector<double>(nt, 0.0));
        for (int i = 0; i < nt; ++i) r.matrix[i][i] = 1.0;
        return;
    }
    KwSpecSepTable m(nt);
    for (int i = 0; i < nt; ++i)
        for (int j = 0; j < nt; ++j) m(i, j) = r.matrix[i][j];
    keepDyeScale(m);
    cap->specSep(m);
}

// The channels with their baseline removed first and then separated: a dye
// over-corrected by the separation shows there as a dip below zero, where
// removing the baseline after the separation would lift it into a hump.
void Road::keepDyeScale(const KwSpecSepTable& m) {
    PipelineCap copy(*cap);
    copy.setSignalStartPnt(start);  // peaks are only sought inside the window
    copy.setSignalEndPnt(copy.getNumData() - 1);
    const int windows = baselineWindows(kBaselineSpacings * roughSpacing);
    if (windows >= 1) copy.deBaseline(windows);
    copy.specSep(m);
    for (int t = 0; t < numTraces(); ++t) {
        const double* x = copy.getPnterToTrace(t)->getData();
        separated.emplace_back(x, x + copy.getNumData());
    }
}

// The end of the signal on separated channels, where every base stands in
// its own channel: late peaks broaden and fade, and the end follows them as
// long as they keep coming.
void Road::ends() {
    const int n = cap->getNumData();
    // From here on the channels are separated: their noise is measured anew.
    for (int t = 0; t < numTraces(); ++t)
        channelNoise[t] = noiseSigma(cap->getPnterToTrace(t)->getData(), start, n - 1);
    // Only the last 20 peaks before the end weigh on it, and bases come about
    // one per spacing: the scan starts 50 spacings before the end.
    const int from = std::max(start, end - static_cast<int>(50.0 * roughSpacing));
    const std::vector<ClearPeak> peaks =
        clearPeaks(view(), from, n - 1, channelNoise, search(true, roughSpacing / 4.0));
    // A peak carries the signal on when it reaches 40 % of the median
    // height of the last 20 that did: a run fades gradually, while the
    // bases end abruptly. Late peaks also spread apart, so the gap that ends
    // the bases is counted in the spacing of those last peaks.
    std::vector<ClearPeak> carried;
    int last = end;
    for (const ClearPeak& p : peaks) {
        if (p.pos > end) {
            const std::vector<ClearPeak> recent(
                carried.end() - std::min<size_t>(20, carried.size()), carried.end());
            if (recent.empty() || p.height < 0.4 * medianHeight(recent)) continue;
            const double spacing = std::max(roughSpacing, medianSpacing(recent, start, n - 1));
            if (p.pos - last > 8.0 * spacing) break;
            last = p.pos;
        }
        carried.push_back(p);
    }
    end = std::min(n - 1, std::max(end, last + static_cast<int>(2.0 * roughSpacing)));
    cap->setSignalEndPnt(end);
    r.windowEnd = end;
}

void Road::noise() {
    for (int t = 0; t < numTraces(); ++t) cap->trace(t).findNoiseLevel(start);
}

// Linear along the window from atStart to atEnd.
double Road::along(int pos, double atStart, double atEnd) const {
    const double f = end > start ? static_cast<double>(pos - start) / (end - start) : 0.0;
    return atStart + (atEnd - atStart) * std::min(1.0, std::max(0.0, f));
}

void Road::filter() {
    const ChannelView v = view();
    const std::vector<ClearPeak> peaks = clearPeaks(v, start, end, channelNoise, search(true, 1.0));
    r.spacing = medianSpacing(peaks, start, end);
    if (r.spacing <= 0.0) r.spacing = roughSpacing;
    const int fifth = (end - start) / 5;
    spacingStart = medianSpacing(peaks, start, start + fifth);
    spacingEnd = medianSpacing(peaks, end - fifth, end);
    if (spacingStart <= 0.0) spacingStart = r.spacing;
    if (spacingEnd <= 0.0) spacingEnd = r.spacing;
    // Light smoothing: a heavier one merges the bases of one dye that
    // follow each other, and their hump would be measured as one peak.
    const PeakWidths w =
        peakWidths(v, peaks, start, end, r.spacing, channelNoise, r.spacing / 12.0);
    r.sigmaStart = w.start > 0.0 ? w.start : 0.3 * r.spacing;
    r.sigmaEnd = w.end > 0.0 ? w.end : r.sigmaStart;
    cap->trippleMexicanHatFilter(kHatWidth * r.sigmaStart, kHatWidth * r.sigmaEnd);
}

void Road::normalise() {
    target = cap->envelopeNormalize(end);
    cap->setNoiseLevelForNormalized(0.5 * target);
    for (int t = 0; t < numTraces(); ++t) {
        KwTrace& tr = cap->trace(t);
        tr.setMinumHeight();
        r.channels[t].noiseLevel = tr.getNoiseLevel();
        r.channels[t].minHeight = tr.getMinumHeight();
    }
}

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
KwEvent trimmed(const KwEvent& ev, const KwTrace& tr) {
    const int w = ev.getOuterWidth();
    const std::vector<int> apexes = apexesOf(ev);
    int a = 0, b = w - 1;
    while (a + 1 < w && ev[a] == 0.0 && ev[a + 1] == 0.0) ++a;
    while (b > a && ev[b] == 0.0 && ev[b - 1] == 0.0) --b;
    for (int apex : apexes) {
        a = std::min(a, apex);
        b = std::max(b, apex);
    }
    if (a == 0 && b == w - 1) return ev;
    return excerpt(ev, tr, a, b, apexes, 0, apexes.size());
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

void Road::events() {
    const int first = std::max(start, 2);
    const int last = std::min(end, cap->getNumData() - 3);
    for (int t = 0; t < numTraces(); ++t) {
        const KwTrace& tr = cap->trace(t);
        const double onset = tr.getMinumHeight();
        int pos = first;
        while (pos < last) {
            KwEvent ev =
                tr.getNextEvent(t, pos, last, onset, 0.5 * onset, 2.3548 * sigmaAt(pos), 1);
            if (!ev.dataExist()) break;
            pos = std::max(pos + 1, ev.getOuterBounds(1));
            if (ev.getNumHumps() < 1) continue;
            found.push_back(trimmed(ev, tr));
            ++r.channels[t].events;
        }
    }
    r.numEvents = static_cast<int>(found.size());
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

// Widths of one to kMaxBases merged bases relative to one, at a ratio of
// base spacing to peak deviation.
constexpr int kMaxBases = 8;
std::vector<double> widthRatios(double d) {
    std::vector<double> ratios;
    const double one = mergedWidth(1, d);
    for (int k = 1; k <= kMaxBases; ++k) ratios.push_back(mergedWidth(k, d) / one);
    return ratios;
}

// Median width of the single-hump events nearest to pos (singles sorted by
// position).
double localSingleWidth(const std::vector<std::pair<int, double>>& singles, int pos) {
    constexpr int kHalf = 20;
    const auto at = std::lower_bound(singles.begin(), singles.end(), std::make_pair(pos, 0.0));
    const int i = static_cast<int>(at - singles.begin());
    const int n = static_cast<int>(singles.size());
    std::vector<double> w;
    for (int k = std::max(0, i - kHalf); k < std::min(n, i + kHalf); ++k)
        w.push_back(singles[k].second);
    if (w.empty()) return 0.0;
    std::nth_element(w.begin(), w.begin() + w.size() / 2, w.end());
    return w[w.size() / 2];
}

// How many bases an event's width says it holds: repeated bases of one dye
// merge into a hump wider than a single peak of that part of the run. The
// widening is predicted from the run's own peak width and base spacing and
// compared, as a ratio, with the width of the single peaks nearby (the
// filtered humps are narrower than the raw peaks, their ratios alike). The
// predictions are made at a few places along the window.
int Road::basesIn(const KwEvent& ev, const std::vector<std::pair<int, double>>& singles,
                  const std::vector<std::vector<double>>& ratios) const {
    const int pos = ev.getSummitPosition();
    const double width = halfHeightWidth(ev);
    const double single = localSingleWidth(singles, pos);
    if (width <= 0.0 || single <= 0.0) return 1;
    const double f = end > start ? static_cast<double>(pos - start) / (end - start) : 0.0;
    const int place =
        static_cast<int>(std::lround(std::min(1.0, std::max(0.0, f)) * (ratios.size() - 1)));
    const std::vector<double>& r = ratios[place];
    int bases = 1;
    while (bases < kMaxBases && width / single >= 0.5 * (r[bases - 1] + r[bases])) ++bases;
    return bases;
}

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

void Road::fit() {
    std::vector<std::pair<int, double>> singles;
    for (const KwEvent& ev : found) {
        const double w = ev.getNumHumps() == 1 ? halfHeightWidth(ev) : 0.0;
        if (w > 0.0) singles.push_back({ev.getSummitPosition(), w});
    }
    std::sort(singles.begin(), singles.end());
    constexpr int kPlaces = 16;
    std::vector<std::vector<double>> ratios;
    for (int k = 0; k < kPlaces; ++k) {
        const int pos = start + (end - start) * k / (kPlaces - 1);
        ratios.push_back(widthRatios(spacingAt(pos) / sigmaAt(pos)));
    }
    for (const KwEvent& whole : found) {
        for (KwEvent& ev : fitParts(whole, cap->trace(whole.getTraceCode()))) {
            // A hump well below the smallest reported height yields no peak.
            if (ev.getMaxData() < 0.5 * kMinRelativeHeight * target) continue;
            ev.setNumPksBeNumHumps();
            const int n = std::max(ev.getNumHumps(), basesIn(ev, singles, ratios));
            ev.setMaxNumPeaks(n);
            ev.setMinNumPeaks(n);
            std::vector<KwPeak> peaks(n);
            ev.peakFit(peaks.data());
            if (n > ev.getNumHumps()) respace(peaks, spacingAt(ev.getSummitPosition()));
            for (const KwPeak& p : peaks) r.peaks.push_back(p);
        }
    }
}

// Mean of the three samples around pos, clamped to the array.
double around(const std::vector<double>& x, int pos) {
    const int n = static_cast<int>(x.size());
    const int a = std::max(0, pos - 1), b = std::min(n - 1, pos + 1);
    double sum = 0.0;
    for (int i = a; i <= b; ++i) sum += x[i];
    return sum / (b - a + 1);
}

// Each base carries one dye. Where a separation leaves a trace of one dye in
// another (over- or under-correction, worst where two dyes' spectra nearly
// coincide), the sharpening and the per-channel normalisation can lift it to
// a full-height peak of its own. Compared on the separated channels, each
// scaled by the upper quartile of its own peaks (dyes differ in
// brightness), such a peak is a small share of the strongest dye around it
// and is dropped. A channel whose peaks have no positive scale is left as it
// is and does not take part.
void Road::dropMinorDyes() {
    const int nt = numTraces();
    if (nt < 2 || static_cast<int>(separated.size()) != nt) return;  // not separated
    std::vector<double> gain(nt, 0.0);
    for (int t = 0; t < nt; ++t) {
        std::vector<double> v;
        for (const KwPeak& p : r.peaks) {
            const long pos = std::lround(p.getLocatn());
            if (p.getTraceCode() != t || pos < 0 || pos >= static_cast<long>(separated[t].size()))
                continue;
            const double y = around(separated[t], static_cast<int>(pos));
            if (std::isfinite(y)) v.push_back(y);  // NaN would break the ordering
        }
        if (v.empty()) continue;
        std::nth_element(v.begin(), v.begin() + 3 * v.size() / 4, v.end());
        gain[t] = v[3 * v.size() / 4];
    }
    // The strongest scaled dye at every sample.
    const int n = cap->getNumData();
    std::vector<double> strongest(n, 0.0);
    for (int d = 0; d < nt; ++d) {
        if (!(gain[d] > 0.0)) continue;
        for (int s = 0; s < n; ++s)
            strongest[s] = std::max(strongest[s], around(separated[d], s) / gain[d]);
    }
    // The comparison stays local even where a damaged run measures an
    // absurd spacing: no instrument spaces its bases 100 samples apart.
    constexpr int kMaxReach = 100;
    auto share = [&](const KwPeak& p) {
        const long pos = std::lround(p.getLocatn());
        const int t = p.getTraceCode();
        if (!(gain[t] > 0.0) || pos < 0 || pos >= n) return 1.0;
        const int reach = std::min(kMaxReach, std::max(1, static_cast<int>(spacingAt(pos))));
        const auto from = strongest.begin() + std::max(0L, pos - reach);
        const auto to = strongest.begin() + std::min<long>(n, pos + reach + 1);
        const double top = *std::max_element(from, to);
        const double own = around(separated[t], static_cast<int>(pos)) / gain[t];
        return top > 0.0 ? own / top : 1.0;
    };
    r.peaks.erase(std::remove_if(r.peaks.begin(), r.peaks.end(),
                                 [&](const KwPeak& p) { return !(share(p) >= kMinDyeShare); }),
                  r.peaks.end());
}

void Road::select() {
    dropMinorDyes();
    const double minHeight = kMinRelativeHeight * target;
    r.minPeakHeight = minHeight;
    r.peaks.erase(
        std::remove_if(r.peaks.begin(), r.peaks.end(),
                       [&](const KwPeak& p) {
                           return !(p.getHeight() >= minHeight && std::isfinite(p.getHeight()) &&
                                    std::isfinite(p.getLocatn()) && std::isfinite(p.getSigma()));
                       }),
        r.peaks.end());
    std::sort(r.peaks.begin(), r.peaks.end(),
              [](const KwPeak& a, const KwPeak& b) { return a.getLocatn() < b.getLocatn(); });
    for (const KwPeak& p : r.peaks) ++r.channels[p.getTraceCode()].peaks;
}

void Road::finish() {
    if (r.matrix.empty()) {  // not separated: the identity was applied
        r.matrix.assign(numTraces(), std::vector<double>(numTraces(), 0.0));
        for (int t = 0; t < numTraces(); ++t) r.matrix[t][t] = 1.0;
    }
    for (int t = 0; t < numTraces(); ++t) cap->trace(t).zeroDataAtEnds();
    r.processed = std::move(cap);
}

}  // namespace

std::string runPipeline(const RawRun& run, const PipelineOptions& options, PipelineResult& result) {
    if (run.numTraces < 1) return "no traces";
    if (run.numData < kMinSamples)
        return "too short for the pipeline: " + std::to_string(run.numData) +
               " samples per trace (at least " + std::to_string(kMinSamples) + " needed)";
    if (static_cast<int>(run.rows.size()) != run.numTraces)
        return "the run holds " + std::to_string(run.rows.size()) + " rows for " +
               std::to_string(run.numTraces) + " traces";
    for (const std::vector<double>& row : run.rows)
        if (static_cast<int>(row.size()) < run.numData) return "a trace is shorter than the run";
    if (!(run.rate > 0.0 && run.rate <= kMaxRate))
        return "no usable sampling rate (" + std::to_string(run.rate) + " Hz)";
    Road road(run, options, result);
    StageClock clock(result.stages);
    road.build();
    clock.lap("build");
    road.despike();
    clock.lap("despike");
    const bool signal = road.window();
    clock.lap("window");
    // The rest of the road, stage by stage; a run without signal ends here.
    using Stage = void (Road::*)();
    const std::pair<const char*, Stage> stages[] = {{"clean", &Road::clean},
                                                    {"separate", &Road::separate},
                                                    {"baseline", &Road::baseline},
                                                    {"ends", &Road::ends},
                                                    {"noise", &Road::noise},
                                                    {"filter", &Road::filter},
                                                    {"normalise", &Road::normalise},
                                                    {"events", &Road::events},
                                                    {"fit", &Road::fit},
                                                    {"select", &Road::select}};
    for (const auto& stage : stages) {
        if (!signal) break;
        (road.*stage.second)();
        clock.lap(stage.first);
    }
    road.finish();
    result.totalMs = clock.total();
    return std::string();
}

}  // namespace kwapp
