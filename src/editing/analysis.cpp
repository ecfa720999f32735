// The edit analysis on two reads' calls: sites, alignment, fit, figures.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common/quantile.h"
#include "editing/editing.h"
#include "kwsignal/capillary.h"
#include "kwsignal/trace.h"

namespace kw {

namespace {

using kw::detail::Candidate;
using kw::detail::Heights;

constexpr int kBlock = 8;         // bases per bootstrap block
constexpr int kMinFitBases = 40;  // fewest bases fitted after the cut
constexpr int kMinAnchors = 15;   // aligned bases before the cut that fix the offset
constexpr int kLeadIn = 10;       // bases before the first edit fitted too
// Most bases fitted after the last cut: far from the cut the alleles drift
// apart in time as the spacing changes along the run, and a model of
// whole-base shifts holds less well.
constexpr int kMaxFitAfterCut = 100;

// The sample's dyes are registered on the control's over this many bases
// before the edits, each by a shift of at most kMaxDyeLagBases base
// spacings; a dye that correlates less than kMinDyeCorrelation there at
// every shift is left where its own offsets put it.
constexpr int kRegisterBases = 80;
constexpr double kMaxDyeLagBases = 2.0;
constexpr double kMinDyeCorrelation = 0.5;

// The sample's drift against the control is followed through its own
// calls, each the running median of 2 kDriftHalf + 1 bases' (see
// followSampleCalls).
constexpr int kDriftHalf = 5;

// Steady drifts tried after the cut besides: the sample's time gained per
// control time (two runs' speeds differing by up to 1 % from the cut on put
// the bases a base apart 100 bases later).
constexpr double kDriftRates[] = {-0.01, -0.005, 0.005, 0.01};
// Placings refitted at their mixture's intensity: the first fit's ranking
// can change there, where the sample's scale follows the alleles it holds.
constexpr size_t kRefitPlacings = 3;

// Fits on the traces: the first at the control's intensity, each further
// one at the intensity of the mixture the previous one found.
constexpr int kTracePasses = 2;

// The interval [low, high] around f widened on each side by the model
// error at the given two-sided level, within 0..1.
void widen(double f, const EditOptions& o, double& low, double& high) {
    const double m = o.modelError * kw::detail::normalQuantile(0.5 + 0.5 * o.level);
    low = std::max(0.0, f - std::hypot(std::max(0.0, f - low), m));
    high = std::min(1.0, f + std::hypot(std::max(0.0, high - f), m));
}

EditResult refuse(EditResult r, EditStatus status, const std::string& message) {
    r.status = status;
    r.message = message;
    r.outcomes.clear();
    r.editedFraction = r.knockoutFraction = r.hdrFraction = r.r2 = 0.0;
    return r;
}

std::string percent(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f %%", 100.0 * v);
    return buf;
}

std::string number(double v, const char* format) {
    char buf[48];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

// One placing's fit of the sample: its R^2, its outcomes' coefficients and
// its blocks' shares of the misfit.
struct PlacedFit {
    double r2 = 0.0;
    std::vector<double> x, misfit;
};

// The placing other than `kept` whose fit explains the sample as well as
// the kept one within the noise (R^2 lower by less than z standard errors
// of the difference, the blocks' misfits paired: a misplaced stretch
// spoils a block in both) and reads the edited share farthest from the
// kept one's; -1 when none does.
int tiedRival(const std::vector<PlacedFit>& fits, size_t kept, double z) {
    int rival = -1;
    double farthest = 0.0;
    const double keptEdited = 1.0 - kw::detail::shares(fits[kept].x).front();
    const std::vector<double>& a = fits[kept].misfit;
    for (size_t i = 0; i < fits.size(); ++i) {
        const std::vector<double>& b = fits[i].misfit;
        if (i == kept || a.size() < 2 || b.size() != a.size()) continue;
        const double n = static_cast<double>(a.size());
        double mean = 0.0, ss = 0.0;
        for (size_t j = 0; j < a.size(); ++j) mean += (b[j] - a[j]) / n;
        for (size_t j = 0; j < a.size(); ++j) ss += std::pow(b[j] - a[j] - mean, 2);
        const double se = std::sqrt(n * ss / (n - 1.0));
        if (fits[kept].r2 - fits[i].r2 > z * se) continue;
        const double apart = std::fabs(1.0 - kw::detail::shares(fits[i].x).front() - keptEdited);
        if (apart > farthest) farthest = apart, rival = static_cast<int>(i);
    }
    return rival;
}

// A reading's two largest outcomes, e.g. "wildtype 54.6 %, insertion +12 36.8 %".
std::string readingText(const std::vector<Candidate>& cands, const std::vector<double>& f) {
    std::vector<size_t> order(f.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t p, size_t q) { return f[p] > f[q]; });
    std::string text;
    for (size_t i = 0; i < std::min<size_t>(2, order.size()); ++i) {
        const Candidate& c = cands[order[i]];
        text += (i ? ", " : "") + c.kind +
                (c.size ? (c.size > 0 ? " +" : " ") + std::to_string(c.size) : "") + " " +
                percent(f[order[i]]);
    }
    return text;
}

std::string checkOptions(const EditOptions& o) {
    if (o.guides.empty()) return "no guide given";
    if (o.cutOffset == 0 || o.cutOffset < -40 || o.cutOffset > 40)
        return "the cut offset must be -40..40 and not 0";
    if (o.maxDeletion < 1 || o.maxDeletion > 60) return "the longest deletion must be 1..60";
    if (o.maxInsertion < 0 || o.maxInsertion > 30) return "the longest insertion must be 0..30";
    if (o.bootstrap < 0 || o.bootstrap > 2000) return "bootstrap replicates must be 0..2000";
    if (!(o.level >= 0.5 && o.level <= 0.999)) return "the interval level must be 0.5..0.999";
    if (!(o.modelError >= 0.0 && o.modelError <= 0.3)) return "the model error must be 0..0.3";
    if (!(o.sparsity >= 0.0 && o.sparsity <= 0.1)) return "the sparsity charge must be 0..0.1";
    if (!(o.reportBelow >= 0.0 && o.reportBelow <= 0.5))
        return "the report threshold must be 0..0.5";
    if (o.pam.empty() || o.pam.size() > 8) return "the PAM must have 1..8 letters";
    for (char c : o.pam)
        if (std::string("ACGTRYSWKMBDHVN").find(c) == std::string::npos)
            return "the PAM '" + o.pam + "' is not upper-case IUPAC DNA";
    return "";
}

// Control index minus sample index at the aligned bases just before the
// cut; false when too few of them agree.
bool offsetBefore(const ReadAlignment& a, const std::string& control, const std::string& sample,
                  int from, int cut, int& offset, std::string& why) {
    std::vector<int> shifts;
    int agree = 0, seen = 0;
    for (const auto& p : a.pairs) {
        if (p.first < from || p.first >= cut) continue;
        ++seen;
        if (control[static_cast<size_t>(p.first)] == sample[static_cast<size_t>(p.second)]) {
            ++agree;
            shifts.push_back(p.first - p.second);
        }
    }
    if (agree < kMinAnchors || agree < 0.7 * (cut - from)) {
        why = "the sample does not read the control's sequence before the cut (" +
              std::to_string(agree) + " of " + std::to_string(cut - from) +
              " bases aligned and identical)";
        return false;
    }
    // The latest shift wins: nearest the cut, where the fit starts.
    offset = shifts.back();
    (void)seen;
    return true;
}

// The share of the sample's height outside the control's base, per control
// base from `from`.
void discordance(EditResult& r, const std::vector<Heights>& s, int offset, int from, int to) {
    r.discordanceStart = from;
    r.discordance.clear();
    for (int i = from; i < to; ++i) {
        const int j = i - offset;
        const int c = kw::detail::channelOf(r.controlRead[static_cast<size_t>(i)]);
        double v = std::nan("");
        if (j >= 0 && j < static_cast<int>(s.size()) && c >= 0) {
            const Heights& h = s[static_cast<size_t>(j)];
            const double sum = h[0] + h[1] + h[2] + h[3];
            if (sum > 0.0) v = 1.0 - h[static_cast<size_t>(c)] / sum;
        }
        r.discordance.push_back(v);
    }
}

// Where each control base lies on the sample's time axis: a straight line
// from control to sample corrected positions through the aligned bases
// before the cut (the two runs differ in speed and start, not in order).
kw::detail::TimeWarp timeMap(const ReadAlignment& al, const BaseCalls& control,
                             const BaseCalls& sample, int from, int cut) {
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const auto& p : al.pairs) {
        if (p.first < from || p.first >= cut) continue;
        if (control.bases[static_cast<size_t>(p.first)].base !=
            sample.bases[static_cast<size_t>(p.second)].base)
            continue;
        const double x = control.bases[static_cast<size_t>(p.first)].correctedPosition;
        const double y = sample.bases[static_cast<size_t>(p.second)].correctedPosition;
        n += 1, sx += x, sy += y, sxx += x * x, sxy += x * y;
    }
    kw::detail::TimeWarp m;
    const double d = n * sxx - sx * sx;
    if (n >= 2 && d > 0.0) {
        m.b = (n * sxy - sx * sy) / d;
        m.a = (sy - m.b * sx) / n;
    }
    return m;
}

// The median distance between consecutive control bases within 40 of
// base i (input-file samples).
double spacingOf(const BaseCalls& calls, int i) {
    std::vector<double> d;
    const int n = static_cast<int>(calls.bases.size());
    for (int j = std::max(1, i - 40); j < std::min(n, i + 40); ++j)
        d.push_back(calls.bases[static_cast<size_t>(j)].correctedPosition -
                    calls.bases[static_cast<size_t>(j - 1)].correctedPosition);
    return kw::detail::median(std::move(d));
}

// The sample's heights at each control base, as BaseCalls whose heights the
// scaling reads: each dye at its own mobility-shifted time.
BaseCalls sampleAtControl(const BaseCalls& control, const BaseCalls& sample, const KwCap& cap,
                          double scale, const kw::detail::TimeWarp& map,
                          const std::array<double, 4>& lag) {
    BaseCalls out;
    out.bases.resize(control.bases.size());
    const kw::detail::TraceView view{&cap, scale, &sample.mobility, lag};
    for (size_t i = 0; i < control.bases.size(); ++i)
        out.bases[i].heights =
            kw::detail::traceAt(view, map.at(control.bases[i].correctedPosition));
    return out;
}

// The fit's system on the calls' heights: each candidate's expected heights
// at each control base against the sample's heights there.
void fillHeightSystem(const std::vector<Candidate>& cands, const std::string& read,
                      const std::vector<Heights>& ch, const std::vector<Heights>& sh, int shOffset,
                      int fitStart, int fitEnd, kw::detail::BlockSystem& sys) {
    sys.k = static_cast<int>(cands.size());
    const int blocks = (fitEnd - fitStart + kBlock - 1) / kBlock;
    sys.gram.assign(static_cast<size_t>(blocks),
                    std::vector<double>(static_cast<size_t>(sys.k) * sys.k, 0.0));
    sys.rhs.assign(static_cast<size_t>(blocks),
                   std::vector<double>(static_cast<size_t>(sys.k), 0.0));
    sys.yy.assign(static_cast<size_t>(blocks), 0.0);
    sys.ySum = sys.rows = sys.yy;
    std::vector<double> row(static_cast<size_t>(sys.k));
    for (int j = fitStart; j < fitEnd; ++j) {
        const int sj = j - shOffset;
        if (sj < 0 || sj >= static_cast<int>(sh.size())) continue;
        std::vector<Heights> expected(cands.size());
        for (size_t k = 0; k < cands.size(); ++k)
            if (!kw::detail::expectedHeights(cands[k], j, read, ch, expected[k]))
                expected[k] = Heights{{0.0, 0.0, 0.0, 0.0}};
        for (int c = 0; c < 4; ++c) {
            for (size_t k = 0; k < cands.size(); ++k) row[k] = expected[k][static_cast<size_t>(c)];
            addRow(sys, (j - fitStart) / kBlock, row,
                   sh[static_cast<size_t>(sj)][static_cast<size_t>(c)]);
        }
    }
}

bool knocksOut(const Candidate& c) {
    if (c.kind == "wildtype" || c.kind == "hdr") return false;
    return c.size % 3 != 0 || std::abs(c.size) >= 21;
}

void qualityWarnings(EditResult& r, const BaseCalls& control, const BaseCalls& sample) {
    if (control.trimmedMeanQv < 30.0)
        r.warnings.push_back(
            "The control reads weakly: mean QV " + number(control.trimmedMeanQv, "%.1f") +
            " over its " + std::to_string(control.trimEnd - control.trimStart) + " trimmed bases.");
    if (sample.trimmedMeanQv < 20.0)
        r.warnings.push_back("The sample reads weakly: mean QV " +
                             number(sample.trimmedMeanQv, "%.1f") + " over its " +
                             std::to_string(sample.trimEnd - sample.trimStart) + " trimmed bases.");
}

}  // namespace

EditResult analyseEdit(const BaseCalls& control, const BaseCalls& sample,
                       const EditOptions& options, const KwCap* sampleProcessed, double sampleScale,
                       const KwCap* controlProcessed, double controlScale) {
    EditResult r;
    r.controlRead = control.sequence();
    r.sampleRead = sample.sequence();
    r.controlMeanQv = control.trimmedMeanQv;
    r.sampleMeanQv = sample.trimmedMeanQv;
    if (const std::string why = checkOptions(options); !why.empty())
        return refuse(r, EditStatus::badInput, why);
    std::string donor;
    if (!options.donor.empty()) {
        std::string why;
        donor = normaliseSequence(options.donor, 20, why);
        if (donor.empty()) return refuse(r, EditStatus::badInput, "donor " + why);
    }
    if (control.trimEnd - control.trimStart < 60)
        return refuse(r, EditStatus::weakControl,
                      "the control has " + std::to_string(control.trimEnd - control.trimStart) +
                          " well-read bases, too few to model the sample" +
                          (control.note.empty() ? "" : " (" + control.note + ")"));
    std::string problem;
    r.sites = findCutSites(r.controlRead, options, problem);
    if (r.sites.empty()) {
        if (problem.rfind("guide '", 0) == 0) return refuse(r, EditStatus::badInput, problem);
        return refuse(r, EditStatus::guideNotFound, problem);
    }
    for (const GuideSite& s : r.sites) {
        if (!s.pamFound)
            r.warnings.push_back("No " + options.pam + " PAM next to guide " + s.guide +
                                 " in the control's read; the cut is placed from the guide alone.");
        if (s.mismatches > 0)
            r.warnings.push_back("Guide " + s.guide + " matches the control's read with " +
                                 std::to_string(s.mismatches) + " mismatch(es).");
    }
    const int firstCut = r.sites.front().cut;
    if (firstCut < control.trimStart + kLeadIn || firstCut + kMinFitBases > control.trimEnd)
        return refuse(r, EditStatus::weakControl,
                      "the cut at control base " + std::to_string(firstCut) +
                          " is outside the control's well-read bases " +
                          std::to_string(control.trimStart) + ".." +
                          std::to_string(control.trimEnd));

    // Only the control's bases before the cut are aligned: after it the
    // sample is a mixture whose calls need not follow any one allele, and
    // they must not pull the alignment of the clean part astray.
    const ReadAlignment alignment =
        alignReads(r.controlRead.substr(0, static_cast<size_t>(firstCut - 2)), r.sampleRead);
    const int anchorFrom = std::max(control.trimStart, firstCut - 60);
    if (!offsetBefore(alignment, r.controlRead, r.sampleRead, anchorFrom, firstCut - 2, r.offset,
                      problem))
        return refuse(r, EditStatus::noAlignment, problem);

    std::vector<Candidate> cands =
        kw::detail::candidates(r.controlRead, r.sites, donor, options, r.warnings);
    int editStart = firstCut;
    int shift = 0;
    for (const Candidate& c : cands) {
        editStart = std::min(editStart, c.start);
        if (c.kind != "two_cut_deletion") shift = std::max(shift, c.deleted);
    }
    r.fitStart = std::max(0, std::max(control.trimStart, editStart - kLeadIn));
    // The sample's mixed read has low QVs after the cut by nature: its
    // end is where its calls end, not where its quality drops.
    const int sampleEnd = static_cast<int>(sample.bases.size()) - 5 + r.offset;
    r.fitEnd = std::min({control.trimEnd - shift, sampleEnd, r.sites.back().cut + kMaxFitAfterCut});
    if (r.fitEnd - firstCut < kMinFitBases) {
        const bool sampleShort = sampleEnd < control.trimEnd - shift;
        return refuse(r, sampleShort ? EditStatus::weakSample : EditStatus::weakControl,
                      std::string(sampleShort ? "the sample" : "the control") +
                          " reads too few bases after the cut to fit (" +
                          std::to_string(std::max(0, r.fitEnd - firstCut)) + ", at least " +
                          std::to_string(kMinFitBases) + " needed)");
    }
    qualityWarnings(r, control, sample);

    const std::vector<Heights> ch = kw::detail::scaledHeights(control);
    const bool onTimes =
        sampleProcessed && sampleProcessed->getNumTraces() >= 4 && sampleScale > 0.0;
    // On the sample's times its heights are indexed by control base.
    const int shOffset = onTimes ? 0 : r.offset;
    const kw::detail::TimeWarp line = timeMap(
        alignment, control, sample, std::max(control.trimStart, firstCut - 150), firstCut - 2);
    kw::detail::TimeWarp map = line;
    kw::detail::BlockSystem sys;
    sys.sparsity = options.sparsity;
    std::vector<double> x;
    std::vector<PlacedFit> placed;
    size_t kept = 0;
    if (onTimes && controlProcessed && controlProcessed->getNumTraces() >= 4 &&
        controlScale > 0.0) {
        // Ways of placing the sample's bases: the line through the bases
        // before the cut, that line following the drift the sample's own
        // calls show after it, or bent at the cut by a steady drift. A
        // mixed read's calls can stray by a base where its alleles
        // overlap, so the placing whose fit explains more of the sample is
        // kept.
        kw::detail::TimeWarp drift = line;
        kw::detail::followSampleCalls(drift, control, sample, r.offset, r.fitStart - kDriftHalf,
                                      r.fitEnd + kDriftHalf, kDriftHalf);
        const kw::detail::TraceView cv{controlProcessed, controlScale, &control.mobility, {}};
        std::vector<kw::detail::TimeWarp> tries{line};
        if (!drift.knots.empty()) tries.push_back(drift);
        // And the line bent at the cut by a steady drift of either sign.
        const size_t bentFrom = tries.size();
        const double t0 = control.bases[static_cast<size_t>(firstCut)].correctedPosition;
        const double t1 = control
                              .bases[static_cast<size_t>(std::min<int>(
                                  r.fitEnd, static_cast<int>(control.bases.size()) - 1))]
                              .correctedPosition;
        for (double rate : kDriftRates) {
            kw::detail::TimeWarp w = line;
            w.knots = {t0, t1};
            w.residual = {0.0, rate * (t1 - t0)};
            tries.push_back(w);
        }
        // And the line on the sample's own dye offsets: on a noisy stretch
        // before the edits the registration can move the dyes of a sample
        // that needs none.
        const size_t unregistered = tries.size();
        tries.push_back(line);
        // The bent lines run as the line before the cut: one registration
        // serves them all. Each placing is fitted at the control's
        // intensity; the best kRefitPlacings again at their mixtures' (see
        // kTracePasses), and the one explaining the sample best is kept.
        const kw::detail::TraceDesign design = kw::detail::traceDesign(
            cands, control, r.controlRead, cv, r.fitStart, r.fitEnd, kBlock);
        std::vector<std::array<double, 4>> lags(tries.size());
        std::vector<double> firstR2(tries.size(), 0.0);
        std::vector<std::vector<double>> firstX(tries.size());
        for (size_t k = 0; k < tries.size(); ++k) {
            kw::detail::TraceView sv{sampleProcessed, sampleScale, &sample.mobility, {}};
            lags[k] =
                k < bentFrom
                    ? kw::detail::registerDyes(
                          control, cv, sv, tries[k],
                          std::max(control.trimStart, firstCut - kRegisterBases), editStart - 1,
                          kMaxDyeLagBases * spacingOf(control, firstCut), kMinDyeCorrelation)
                : k == unregistered ? std::array<double, 4>{{0.0, 0.0, 0.0, 0.0}}
                                    : lags[0];
            sv.lag = lags[k];
            kw::detail::BlockSystem s1 = sys;
            kw::detail::fillTraceSystem(design, cands, control, r.controlRead, cv, sv, tries[k], {},
                                        s1);
            firstX[k] = kw::detail::fitAll(s1, firstR2[k]);
        }
        std::vector<size_t> order(tries.size());
        for (size_t k = 0; k < order.size(); ++k) order[k] = k;
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t p, size_t q) { return firstR2[p] > firstR2[q]; });
        order.resize(std::min(order.size(), kRefitPlacings));
        r.r2 = -1.0;
        for (size_t k : order) {
            const kw::detail::TraceView sv{sampleProcessed, sampleScale, &sample.mobility, lags[k]};
            kw::detail::BlockSystem s1 = sys;
            std::vector<double> x1 = firstX[k];
            double r2 = firstR2[k];
            for (int pass = 1; pass < kTracePasses; ++pass) {
                kw::detail::fillTraceSystem(design, cands, control, r.controlRead, cv, sv, tries[k],
                                            x1, s1);
                x1 = kw::detail::fitAll(s1, r2);
            }
            placed.push_back({r2, x1, kw::detail::blockMisfits(s1, x1)});
            if (r2 > r.r2) {
                kept = placed.size() - 1;
                r.r2 = r2, x = std::move(x1), sys = std::move(s1), map = tries[k];
                r.dyeShifts = lags[k];
            }
        }
    } else {
        const std::vector<Heights> sh0 = kw::detail::scaledHeights(
            onTimes ? sampleAtControl(control, sample, *sampleProcessed, sampleScale, map, {})
                    : sample);
        fillHeightSystem(cands, r.controlRead, ch, sh0, shOffset, r.fitStart, r.fitEnd, sys);
        x = kw::detail::fitAll(sys, r.r2);
    }
    const std::vector<Heights> sh = kw::detail::scaledHeights(
        onTimes ? sampleAtControl(control, sample, *sampleProcessed, sampleScale, map, r.dyeShifts)
                : sample);
    double sum = 0.0;
    for (double v : x) sum += v;
    if (!(sum > 0.0))
        return refuse(r, EditStatus::noAlignment, "the sample's heights fit no outcome");
    std::vector<double> low, high;
    if (options.bootstrap > 0)
        kw::detail::bootstrapShares(sys, options.bootstrap, options.seed, options.level, low, high);

    r.editedFraction = 1.0 - x[0] / sum;
    r.editedLow = low.empty() ? r.editedFraction : std::min(r.editedFraction, low.back());
    r.editedHigh = high.empty() ? r.editedFraction : std::max(r.editedFraction, high.back());
    if (!low.empty()) {
        widen(r.editedFraction, options, r.editedLow, r.editedHigh);
        double none = 0.0;
        r.unlistedHigh = 0.0;
        widen(0.0, options, none, r.unlistedHigh);
    }
    // A placing that explains the sample as well within the noise but reads
    // it otherwise: the data cannot choose, so the intervals hold both.
    const int rival =
        placed.empty()
            ? -1
            : tiedRival(placed, kept, kw::detail::normalQuantile(0.5 + 0.5 * options.level));
    std::vector<double> rivalShares;
    if (rival >= 0) {
        rivalShares = kw::detail::shares(placed[static_cast<size_t>(rival)].x);
        const double edited = 1.0 - rivalShares.front();
        if (edited < r.editedLow || edited > r.editedHigh) {
            r.warnings.push_back(
                "Two placings of the sample's bases explain it equally within the noise (R2 " +
                number(r.r2, "%.3f") + " and " +
                number(placed[static_cast<size_t>(rival)].r2, "%.3f") + "): edited " +
                percent(r.editedFraction) + " (" + readingText(cands, kw::detail::shares(x)) +
                ") or " + percent(edited) + " (" + readingText(cands, rivalShares) +
                "); the intervals hold both.");
            r.editedLow = std::min(r.editedLow, edited);
            r.editedHigh = std::max(r.editedHigh, edited);
        } else {
            rivalShares.clear();
        }
    }
    for (size_t k = 0; k < cands.size(); ++k) {
        const double f = x[k] / sum;
        if (knocksOut(cands[k])) r.knockoutFraction += f;
        if (cands[k].kind == "hdr") r.hdrFraction += f;
        if (k > 0 && f < options.reportBelow) continue;
        EditOutcome o;
        o.kind = cands[k].kind;
        o.size = cands[k].size;
        o.position = cands[k].start;
        o.sequence = kw::detail::alleleText(r.controlRead, cands[k]);
        o.fraction = f;
        o.low = low.empty() ? f : std::min(f, low[k]);
        o.high = high.empty() ? f : std::max(f, high[k]);
        if (!low.empty()) widen(f, options, o.low, o.high);
        if (!rivalShares.empty())
            o.low = std::min(o.low, rivalShares[k]), o.high = std::max(o.high, rivalShares[k]);
        r.outcomes.push_back(o);
    }
    std::stable_sort(
        r.outcomes.begin(), r.outcomes.end(),
        [](const EditOutcome& a, const EditOutcome& b) { return a.fraction > b.fraction; });
    discordance(r, sh, shOffset, std::max(control.trimStart, firstCut - 100), control.trimEnd);
    if (r.r2 < 0.8)
        r.warnings.push_back("The outcomes explain only " + percent(r.r2) +
                             " of the sample's height variation after the cut: the sample may hold "
                             "edits beyond those modelled, or another sequence.");
    r.message = "Edited " + percent(r.editedFraction) + " (" + percent(r.editedLow) + " to " +
                percent(r.editedHigh) + "), knockout " + percent(r.knockoutFraction) +
                (donor.empty() ? "" : ", HDR " + percent(r.hdrFraction)) + ", R2 " +
                number(r.r2, "%.3f") + ".";
    return r;
}

}  // namespace kw
