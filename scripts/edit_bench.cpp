// The edit analysis' benchmark: synthetic edited samples with known
// outcomes, made from real traces, and the figures of the analysis on them.
//
//   edit_bench [--pairs N] [--self N] [--seed S] [--only PAIR] [--model-error SD]
//              [--sparsity S] [--rows FILE] [--outcomes FILE] TRACE_OR_DIR...
//
// Each pair takes a well-read real trace as the control and builds its
// sample in raw DATA1-4: the control's own rows mixed with copies edited
// at a chosen cut (a deletion of k bases removes the raw samples between
// the k bases' boundaries, an insertion of n repeats the n bases before the
// cut) at known fractions (1-4 edited outcomes, each 5-95 %, the rest
// unedited), plus the sample-to-sample noise of a second run (its rows'
// second difference, scaled to the control's signal). Both go through the
// default road and the analysis. Self pairs mix nothing (only the second
// run's noise is added).
//
// Figures: mean absolute error of every true outcome's fraction, pairs
// whose edited fraction is within 5 points, true outcomes above 10 % found
// (fitted >= 5 %), true fractions inside the reported interval, and the
// self pairs' edited fraction, the intervals' mean width, the processor
// time per pair (both roads and the analysis) and the error by kind of
// outcome. --rows writes one line per pair, --outcomes one per true
// outcome (for calibrating the intervals by source), and the error by
// cause. --only runs one pair of the same draw (to look into it);
// --model-error and --sparsity set those options of the analysis.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "kwsignal/edit.h"
#include "kwsignal/process.h"
#include "kwsignal/run.h"

namespace {

struct Trace {
    kw::Run run;
    kw::BaseCalls calls;
    std::string source;  // the file name's prefix before "__", else its folder
};

struct Truth {
    int size = 0;  // 0 unedited
    double fraction = 0.0;
};

std::string sourceOf(const std::filesystem::path& p) {
    const std::string name = p.filename().string();
    const size_t at = name.find("__");
    if (at != std::string::npos) return name.substr(0, at);
    return p.parent_path().filename().string();
}

void collect(const std::string& arg, std::vector<std::filesystem::path>& files) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::is_directory(arg, ec)) {
        for (const auto& e : fs::recursive_directory_iterator(arg, ec))
            if (e.is_regular_file() && e.path().extension() == ".ab1") files.push_back(e.path());
    } else {
        files.emplace_back(arg);
    }
}

bool load(const std::filesystem::path& p, Trace& t) {
    if (kw::readRun(p.string(), t.run)) return false;
    kw::ProcessResult r;
    if (kw::process(t.run, kw::ProcessOptions(), r) || !r.called) return false;
    t.calls = r.calls;
    t.source = sourceOf(p);
    return t.calls.trimEnd - t.calls.trimStart >= 300 && t.calls.trimmedMeanQv >= 30.0;
}

// The row sample between bases i-1 and i.
long boundary(const Trace& t, int i) {
    const auto& b = t.calls.bases;
    const double x = 0.5 * (b[static_cast<size_t>(i - 1)].correctedPosition +
                            b[static_cast<size_t>(i)].correctedPosition);
    return std::lround(x * (t.run.coordinateScale > 0 ? t.run.coordinateScale : 1.0));
}

// One row edited at cut c: size < 0 deletes, > 0 duplicates the bases before.
std::vector<double> editedRow(const std::vector<double>& row, const Trace& t, int c, int size) {
    const long at = boundary(t, c);
    std::vector<double> out(row.begin(), row.begin() + at);
    if (size < 0) {
        out.insert(out.end(), row.begin() + boundary(t, c - size), row.end());
    } else {
        out.insert(out.end(), row.begin() + boundary(t, c - size), row.begin() + at);
        out.insert(out.end(), row.begin() + at, row.end());
    }
    out.resize(row.size(), row.back());
    return out;
}

// Mean absolute second difference of a run's rows: its sample-to-sample
// roughness, whatever its baseline (a median would be 0 on runs whose
// flat stretches are stored as constant values).
double roughness(const kw::Run& run) {
    double sum = 0.0, n = 0.0;
    for (const auto& r : run.rows)
        for (size_t s = 1; s + 1 < r.size(); ++s)
            sum += std::fabs(r[s] - 0.5 * (r[s - 1] + r[s + 1])), n += 1.0;
    return n > 0.0 ? sum / n : 0.0;
}

// The second run's sample-to-sample noise, scaled to the control's own
// roughness (scaling by raw levels would let a run stored without its
// baseline drown the sample in the second run's peaks).
void addNoise(kw::Run& sample, const Trace& noise) {
    const double b = roughness(noise.run);
    const double scale = b > 0.0 ? roughness(sample) / b : 0.0;
    for (size_t c = 0; c < sample.rows.size() && c < noise.run.rows.size(); ++c) {
        const std::vector<double>& n = noise.run.rows[c];
        for (size_t s = 1; s + 1 < sample.rows[c].size() && s + 1 < n.size(); ++s)
            sample.rows[c][s] += scale * (n[s] - 0.5 * (n[s - 1] + n[s + 1]));
    }
}

std::vector<Truth> drawOutcomes(std::mt19937& rng) {
    std::uniform_int_distribution<int> count(1, 4), del(1, 30), ins(1, 15), kind(0, 2);
    const int m = count(rng);
    std::vector<Truth> out;
    while (static_cast<int>(out.size()) < m) {
        const int size = kind(rng) == 0 ? ins(rng) : -del(rng);
        bool seen = false;
        for (const Truth& t : out) seen = seen || t.size == size;
        if (!seen) out.push_back({size, 0.0});
    }
    // Fractions: each edited 5-95 %, summing to at most 100 %, the rest unedited.
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (;;) {
        std::vector<double> w(static_cast<size_t>(m) + 1);
        double sum = 0.0;
        for (double& v : w) sum += (v = -std::log(1.0 - u(rng)));
        bool ok = true;
        for (int i = 0; i < m; ++i) {
            out[static_cast<size_t>(i)].fraction = w[static_cast<size_t>(i)] / sum;
            ok = ok && out[static_cast<size_t>(i)].fraction >= 0.05 &&
                 out[static_cast<size_t>(i)].fraction <= 0.95;
        }
        if (ok) break;
    }
    double edited = 0.0;
    for (const Truth& t : out) edited += t.fraction;
    out.push_back({0, 1.0 - edited});
    return out;
}

// The error of one kind of outcome.
struct KindScore {
    const char* name;
    int lo, hi;  // sizes lo..hi
    int n = 0, covered = 0;
    double absError = 0.0, width = 0.0;
};

// Why a pair's fractions are off, each pair given the first that holds:
// refused; the sample's own dye offsets off by more than a quarter base
// from the control's at the cut (the raw rows are the same, so they should
// agree); half the error or more on outcomes that are not in the pool,
// of a size within 2 of a true one or farther; else the shares among the
// true outcomes.
enum Cause { refusedPair, dyesMisplaced, nearOutcomes, farOutcomes, sharesOnly, causes };
const char* const kCauseNames[causes] = {"refused", "dyes misplaced", "near-size outcomes",
                                         "other outcomes", "shares of true ones"};

struct CauseScore {
    int pairs = 0, truths = 0;
    double absError = 0.0;
};

struct Score {
    int pairs = 0, refused = 0, within5 = 0, big = 0, bigFound = 0, covered = 0, truths = 0;
    int editedCovered = 0, coveredOrBound = 0;
    double absError = 0.0, editedError = 0.0, width = 0.0, editedWidth = 0.0, seconds = 0.0;
    std::vector<KindScore> kinds{{"unedited", 0, 0},         {"deletion 1-5", -5, -1},
                                 {"deletion 6-15", -15, -6}, {"deletion 16-30", -30, -16},
                                 {"insertion 1-3", 1, 3},    {"insertion 4-15", 4, 15}};
    CauseScore cause[causes];
};

// Interpolated dye offsets of a read at input-file sample t.
std::array<double, 4> offsetsAt(const std::vector<kw::MobilityPoint>& m, double t) {
    std::array<double, 4> out{{0.0, 0.0, 0.0, 0.0}};
    if (m.empty()) return out;
    size_t i = 0;
    while (i + 1 < m.size() && m[i + 1].position < t) ++i;
    const kw::MobilityPoint& a = m[i];
    const kw::MobilityPoint& b = m[std::min(i + 1, m.size() - 1)];
    const double f = b.position > a.position
                         ? std::clamp((t - a.position) / (b.position - a.position), 0.0, 1.0)
                         : 0.0;
    for (size_t c = 0; c < 4; ++c) out[c] = a.offset[c] + f * (b.offset[c] - a.offset[c]);
    return out;
}

// The largest disagreement of the two reads' dye offsets at control base
// `cut`, in base spacings.
double dyeOffsetGap(const kw::BaseCalls& control, const kw::BaseCalls& sample, int cut) {
    const auto& b = control.bases;
    const double t = b[static_cast<size_t>(cut)].correctedPosition;
    const double spacing = (b[static_cast<size_t>(cut + 10)].correctedPosition -
                            b[static_cast<size_t>(cut - 10)].correctedPosition) /
                           20.0;
    const std::array<double, 4> c = offsetsAt(control.mobility, t),
                                s = offsetsAt(sample.mobility, t);
    double gap = 0.0;
    for (size_t d = 0; d < 4; ++d) gap = std::max(gap, std::fabs(c[d] - s[d]));
    return spacing > 0.0 ? gap / spacing : 0.0;
}

const kw::EditOutcome* outcomeOfSize(const kw::EditResult& r, int size) {
    for (const kw::EditOutcome& o : r.outcomes)
        if (o.size == size &&
            (o.kind == "deletion" || o.kind == "insertion" || o.kind == "wildtype"))
            return &o;
    return nullptr;
}

Cause causeOf(const kw::EditResult& r, const std::vector<Truth>& truth, double offsetGap) {
    if (r.status != kw::EditStatus::ok) return refusedPair;
    if (offsetGap > 0.25) return dyesMisplaced;
    double error = 0.0, near = 0.0, far = 0.0;
    for (const Truth& t : truth) {
        const kw::EditOutcome* e = outcomeOfSize(r, t.size);
        error += std::fabs((e ? e->fraction : 0.0) - t.fraction);
    }
    for (const kw::EditOutcome& o : r.outcomes) {
        bool isTrue = false, isNear = false;
        for (const Truth& t : truth) {
            isTrue = isTrue || t.size == o.size;
            isNear = isNear || (t.size != 0 && std::abs(t.size - o.size) <= 2);
        }
        if (!isTrue) (isNear ? near : far) += o.fraction;
    }
    if (near + far >= 0.5 * error && near + far > 0.0)
        return near >= far ? nearOutcomes : farOutcomes;
    return sharesOnly;
}

}  // namespace

int main(int argc, char** argv) {
    int pairs = 200, selfPairs = 40, only = -1;
    unsigned seed = 7;
    kw::EditOptions base;
    std::string rowsPath, outcomesPath;
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--pairs" && i + 1 < argc)
            pairs = std::atoi(argv[++i]);
        else if (a == "--self" && i + 1 < argc)
            selfPairs = std::atoi(argv[++i]);
        else if (a == "--seed" && i + 1 < argc)
            seed = static_cast<unsigned>(std::atoi(argv[++i]));
        else if (a == "--model-error" && i + 1 < argc)
            base.modelError = std::atof(argv[++i]);
        else if (a == "--sparsity" && i + 1 < argc)
            base.sparsity = std::atof(argv[++i]);
        else if (a == "--only" && i + 1 < argc)
            only = std::atoi(argv[++i]);
        else if (a == "--rows" && i + 1 < argc)
            rowsPath = argv[++i];
        else if (a == "--outcomes" && i + 1 < argc)
            outcomesPath = argv[++i];
        else
            collect(a, files);
    }
    std::sort(files.begin(), files.end());
    std::vector<Trace> traces;
    for (const auto& f : files) {
        Trace t;
        if (load(f, t)) traces.push_back(std::move(t));
    }
    std::fprintf(stderr, "%zu of %zu traces read well enough to be controls\n", traces.size(),
                 files.size());
    if (traces.size() < 2) return 1;
    std::FILE* rows = rowsPath.empty() ? nullptr : std::fopen(rowsPath.c_str(), "w");
    if (rows)
        std::fprintf(
            rows,
            "pair\tsource\tcontrol\tcut\ttruth\tfitted\tedited_true\tedited_fit\tr2\tstatus\t"
            "dye_offset_gap\tcause\n");
    std::FILE* each = outcomesPath.empty() ? nullptr : std::fopen(outcomesPath.c_str(), "w");
    if (each)
        std::fprintf(each,
                     "pair\tsource\tsize\ttrue\tfit\tlow\thigh\tr2\tedited_true\tedited_fit\t"
                     "edited_low\tedited_high\n");
    std::mt19937 rng(seed);
    Score score;
    std::vector<double> selfEdited;
    for (int p = 0; p < pairs + selfPairs; ++p) {
        const bool self = p >= pairs;
        std::uniform_int_distribution<size_t> pick(0, traces.size() - 1);
        const Trace& control = traces[pick(rng)];
        const Trace* noise = &traces[pick(rng)];
        while (noise == &control) noise = &traces[pick(rng)];
        std::uniform_int_distribution<int> cutAt(control.calls.trimStart + 60,
                                                 control.calls.trimEnd - 160);
        const int cut = cutAt(rng);
        const std::vector<Truth> truth = self ? std::vector<Truth>{{0, 1.0}} : drawOutcomes(rng);
        if (only >= 0 && p != only) continue;
        kw::Run sample = control.run;
        for (size_t c = 0; c < sample.rows.size(); ++c) {
            std::vector<double> mixed(sample.rows[c].size(), 0.0);
            for (const Truth& t : truth) {
                const std::vector<double> e =
                    t.size ? editedRow(control.run.rows[c], control, cut, t.size)
                           : control.run.rows[c];
                for (size_t s = 0; s < mixed.size(); ++s) mixed[s] += t.fraction * e[s];
            }
            sample.rows[c] = std::move(mixed);
        }
        addNoise(sample, *noise);
        kw::ProcessResult cr, sr;
        kw::EditOptions o = base;
        o.guides = {control.calls.sequence().substr(static_cast<size_t>(cut - 17), 20)};
        o.pam = "N";
        const std::clock_t started = std::clock();
        if (kw::process(control.run, kw::ProcessOptions(), cr) ||
            kw::process(sample, kw::ProcessOptions(), sr))
            continue;
        const kw::EditResult r = kw::editRuns(control.run, cr, sample, sr, o);
        score.seconds += static_cast<double>(std::clock() - started) / CLOCKS_PER_SEC;
        double editedTrue = 0.0;
        for (const Truth& t : truth) editedTrue += t.size ? t.fraction : 0.0;
        std::string truthText, fitText;
        for (const Truth& t : truth)
            truthText +=
                std::to_string(t.size) + ":" + std::to_string(t.fraction).substr(0, 5) + " ";
        for (const kw::EditOutcome& e : r.outcomes)
            if (e.fraction >= 0.03)
                fitText +=
                    std::to_string(e.size) + ":" + std::to_string(e.fraction).substr(0, 5) + " ";
        const double gap = dyeOffsetGap(cr.calls, sr.calls, cut);
        const Cause cause = causeOf(r, truth, gap);
        if (rows)
            std::fprintf(
                rows, "%d\t%s\t%s\t%d\t%s\t%s\t%.4f\t%.4f\t%.3f\t%s\t%.2f\t%s\n", p,
                control.source.c_str(), control.run.path.c_str(), cut, truthText.c_str(),
                fitText.c_str(), editedTrue, r.editedFraction, r.r2,
                (r.status == kw::EditStatus::ok ? std::string("ok")
                                                : kw::editStatusName(r.status) + (": " + r.message))
                    .c_str(),
                gap, self ? "self" : kCauseNames[cause]);
        if (self) {
            selfEdited.push_back(r.status == kw::EditStatus::ok ? r.editedFraction : std::nan(""));
            continue;
        }
        ++score.pairs;
        CauseScore& why = score.cause[cause];
        ++why.pairs;
        if (r.status != kw::EditStatus::ok) {
            ++score.refused;
            continue;
        }
        if (std::fabs(r.editedFraction - editedTrue) <= 0.05) ++score.within5;
        score.editedError += std::fabs(r.editedFraction - editedTrue);
        score.editedCovered += editedTrue >= r.editedLow && editedTrue <= r.editedHigh;
        score.editedWidth += r.editedHigh - r.editedLow;
        for (const Truth& t : truth) {
            const kw::EditOutcome* e = outcomeOfSize(r, t.size);
            const double f = e ? e->fraction : 0.0;
            const bool in =
                e ? (t.fraction >= e->low && t.fraction <= e->high) : t.fraction < 0.005;
            score.absError += std::fabs(f - t.fraction);
            ++score.truths;
            why.absError += std::fabs(f - t.fraction);
            ++why.truths;
            score.covered += in;
            score.coveredOrBound += in || (!e && t.fraction <= r.unlistedHigh);
            score.width += e ? e->high - e->low : 0.0;
            for (KindScore& k : score.kinds)
                if (t.size >= k.lo && t.size <= k.hi) {
                    ++k.n, k.covered += in, k.absError += std::fabs(f - t.fraction);
                    k.width += e ? e->high - e->low : 0.0;
                }
            if (each)
                std::fprintf(each,
                             "%d\t%s\t%d\t%.4f\t%.4f\t%.4f\t%.4f\t%.4f\t%.4f\t%.4f\t%.4f\t%.4f\n",
                             p, control.source.c_str(), t.size, t.fraction, f, e ? e->low : 0.0,
                             e ? e->high : 0.0, r.r2, editedTrue, r.editedFraction, r.editedLow,
                             r.editedHigh);
            if (t.size != 0 && t.fraction > 0.10) {
                ++score.big;
                if (f >= 0.05) ++score.bigFound;
            }
        }
    }
    const int ok = score.pairs - score.refused;
    std::printf("pairs %d (refused %d)\n", score.pairs, score.refused);
    std::printf("MAE of outcome fractions      %.2f points over %d true outcomes\n",
                100.0 * score.absError / std::max(1, score.truths), score.truths);
    std::printf("MAE of edited fraction        %.2f points\n",
                100.0 * score.editedError / std::max(1, ok));
    std::printf("edited within 5 points        %.1f %% of pairs\n",
                100.0 * score.within5 / std::max(1, score.pairs));
    std::printf("outcomes > 10 %% found         %.1f %% (%d of %d)\n",
                100.0 * score.bigFound / std::max(1, score.big), score.bigFound, score.big);
    std::printf("true fraction in interval     %.1f %% (mean width %.1f points)\n",
                100.0 * score.covered / std::max(1, score.truths),
                100.0 * score.width / std::max(1, score.truths));
    std::printf("  with the unlisted bound     %.1f %%\n",
                100.0 * score.coveredOrBound / std::max(1, score.truths));
    std::printf("edited fraction in interval   %.1f %% (mean width %.1f points)\n",
                100.0 * score.editedCovered / std::max(1, ok),
                100.0 * score.editedWidth / std::max(1, ok));
    int selfOk = 0, selfLow = 0;
    double selfMax = 0.0;
    for (double v : selfEdited)
        if (std::isfinite(v)) ++selfOk, selfLow += v <= 0.02, selfMax = std::max(selfMax, v);
    std::printf("self pairs edited <= 2 %%      %d of %d (max %.1f %%, %zu refused)\n", selfLow,
                selfOk, 100.0 * selfMax, selfEdited.size() - static_cast<size_t>(selfOk));
    std::printf("processor time per pair       %.1f ms (both roads and the analysis)\n",
                1000.0 * score.seconds / std::max(1, pairs + selfPairs));
    std::printf("by kind: kind, true outcomes, MAE points, in interval %%, mean width points\n");
    for (const KindScore& k : score.kinds)
        std::printf("  %-16s %4d %6.2f %6.1f %6.1f\n", k.name, k.n,
                    100.0 * k.absError / std::max(1, k.n), 100.0 * k.covered / std::max(1, k.n),
                    100.0 * k.width / std::max(1, k.n));
    std::printf(
        "by cause: cause, pairs, true outcomes, MAE points, share of all outcomes' error %%\n");
    for (int c = 0; c < causes; ++c) {
        const CauseScore& k = score.cause[c];
        std::printf("  %-20s %4d %4d %6.2f %6.1f\n", kCauseNames[c], k.pairs, k.truths,
                    100.0 * k.absError / std::max(1, k.truths),
                    100.0 * k.absError / std::max(1e-12, score.absError));
    }
    if (rows) std::fclose(rows);
    if (each) std::fclose(each);
    return 0;
}
