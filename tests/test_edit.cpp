// The edit analysis: guides and cut sites, the non-negative fit, refusals,
// the outputs, and real traces where the shared data are present.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>

#include "editing/editing.h"
#include "kwsignal/capillary.h"
#include "kwsignal/edit.h"
#include "kwsignal/process.h"
#include "kwsignal/run.h"

namespace {

const std::string kData = KWSIGNAL_SHARED_DATA;

// Calls of a random read whose heights are its letters' dyes (1 over a
// background of 0.05), every base QV 40.
kw::BaseCalls readOf(const std::string& seq) {
    kw::BaseCalls calls;
    for (size_t i = 0; i < seq.size(); ++i) {
        kw::BaseCall b;
        b.base = seq[i];
        b.qv = 40;
        b.position = b.correctedPosition = 12.0 * static_cast<double>(i);
        b.heights = {{0.05, 0.05, 0.05, 0.05}};
        b.heights[static_cast<size_t>(kw::detail::channelOf(seq[i]))] = 1.0;
        calls.bases.push_back(b);
    }
    kw::summariseCalls(calls, 0.05);
    return calls;
}

std::string randomRead(int n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s;
    for (int i = 0; i < n; ++i) s += "ACGT"[rng() % 4];
    return s;
}

// A sample mixing the read with a deletion of `del` bases at `cut`.
kw::BaseCalls mixture(const std::string& read, int cut, int del, double share) {
    const std::string edited =
        read.substr(0, static_cast<size_t>(cut)) + read.substr(static_cast<size_t>(cut + del));
    kw::BaseCalls a = readOf(read), b = readOf(edited);
    for (size_t i = 0; i < b.bases.size(); ++i)
        for (int c = 0; c < 4; ++c)
            a.bases[i].heights[static_cast<size_t>(c)] =
                (1.0 - share) * a.bases[i].heights[static_cast<size_t>(c)] +
                share * b.bases[i].heights[static_cast<size_t>(c)];
    a.bases.resize(b.bases.size());
    return a;
}

TEST(Edit, GuidesAndCutSitesOnEitherStrandAndForOtherNucleases) {
    std::string problem;
    EXPECT_EQ(kw::normaliseSequence(" gguu acgA ", 4, problem), "GGTTACGA");
    EXPECT_TRUE(kw::normaliseSequence("ACGTX", 1, problem).empty());
    EXPECT_NE(problem.find("'X'"), std::string::npos);
    EXPECT_EQ(kw::reverseComplement("AACGTN"), "NACGTT");

    const std::string read = randomRead(300, 3);
    // A forward Cas9 site: protospacer at 100..119, PAM AGG at 120.
    std::string r1 = read;
    r1.replace(120, 3, "AGG");
    kw::EditOptions o;
    o.guides = {r1.substr(100, 20)};
    auto sites = kw::findCutSites(r1, o, problem);
    ASSERT_EQ(sites.size(), 1u);
    EXPECT_EQ(sites[0].cut, 117);
    EXPECT_TRUE(sites[0].pamFound);
    EXPECT_FALSE(sites[0].reverse);
    // The same guide given as RNA of the other strand, in lower case: the
    // PAM CCN lies before the match and the cut 3 bases after its start.
    std::string rna = kw::reverseComplement(r1.substr(100, 20));
    for (char& c : rna) c = static_cast<char>(std::tolower(c == 'T' ? 'U' : c));
    std::string r2 = kw::reverseComplement(r1);
    o.guides = {rna};
    sites = kw::findCutSites(r1, o, problem);
    ASSERT_EQ(sites.size(), 1u);
    o.guides = {r1.substr(100, 20)};
    sites = kw::findCutSites(r2, o, problem);
    ASSERT_EQ(sites.size(), 1u);
    EXPECT_TRUE(sites[0].reverse);
    EXPECT_TRUE(sites[0].pamFound);
    EXPECT_EQ(sites[0].cut, 300 - 117);
    // Cas12a: TTTV 5' of the protospacer, the cut 18 bases into it.
    std::string r3 = read;
    r3.replace(96, 4, "TTTA");
    o.guides = {r3.substr(100, 21)};
    o.pam = "TTTV";
    o.cutOffset = 18;
    sites = kw::findCutSites(r3, o, problem);
    ASSERT_EQ(sites.size(), 1u);
    EXPECT_EQ(sites[0].cut, 118);
    EXPECT_TRUE(sites[0].pamFound);
    // A guide that is nowhere.
    o.guides = {"ACGTACGTACGTACGTACGT"};
    EXPECT_TRUE(kw::findCutSites(read, o, problem).empty());
}

TEST(Edit, NonNegativeFitRecoversMixturesAndRefusesWhatItCannotDo) {
    // The solver against a known non-negative optimum with a clipped term.
    const std::vector<double> gram = {2, 1, 1, 2};
    const std::vector<double> x = kw::detail::nnlsNormal(gram, {1.0, -1.0}, 2);
    EXPECT_NEAR(x[0], 0.5, 1e-9);
    EXPECT_EQ(x[1], 0.0);

    const std::string read = randomRead(400, 11);
    kw::EditOptions o;
    o.guides = {read.substr(183, 20)};
    o.pam = "N";  // any PAM: the read is random
    o.bootstrap = 100;
    const kw::BaseCalls control = readOf(read);
    for (double share : {0.3, 0.7}) {
        const kw::EditResult r = kw::analyseEdit(control, mixture(read, 200, 7, share), o);
        ASSERT_EQ(r.status, kw::EditStatus::ok) << r.message;
        EXPECT_NEAR(r.editedFraction, share, 0.02);
        EXPECT_NEAR(r.knockoutFraction, share, 0.02);  // -7 shifts the frame
        EXPECT_GT(r.r2, 0.95);
        const kw::EditOutcome* del = nullptr;
        for (const auto& e : r.outcomes)
            if (e.size == -7) del = &e;
        ASSERT_NE(del, nullptr);
        EXPECT_NEAR(del->fraction, share, 0.02);
        // The interval holds the model error beyond the bases' own spread:
        // at least 1.96 x its deviation either side at 95 %, within 0..1.
        const double reach = 1.96 * o.modelError;
        EXPECT_LE(del->low, del->fraction - reach + 0.002);
        EXPECT_GE(del->high, del->fraction + reach - 0.002);
        EXPECT_GE(del->low, 0.0);
        EXPECT_NEAR(r.unlistedHigh, reach, 0.002);
        EXPECT_LE(r.editedLow, r.editedFraction - reach + 0.002);
    }
    EXPECT_NEAR(kw::detail::normalQuantile(0.975), 1.95996, 1e-4);
    EXPECT_NEAR(kw::detail::normalQuantile(0.5), 0.0, 1e-9);
    // The control against itself is unedited.
    EXPECT_LT(kw::analyseEdit(control, control, o).editedFraction, 0.01);
    // Refusals: a guide that is not there, a sample of another sequence, a
    // control too short to model, a guide that is not DNA.
    kw::EditOptions bad = o;
    bad.guides = {"ACGTACGTACGTACGTACGT"};
    EXPECT_EQ(kw::analyseEdit(control, control, bad).status, kw::EditStatus::guideNotFound);
    const kw::EditResult other = kw::analyseEdit(control, readOf(randomRead(400, 99)), o);
    EXPECT_EQ(other.status, kw::EditStatus::noAlignment);
    EXPECT_TRUE(other.outcomes.empty());
    EXPECT_EQ(kw::analyseEdit(readOf(read.substr(0, 50)), control, o).status,
              kw::EditStatus::weakControl);
    bad.guides = {"not a guide"};
    EXPECT_EQ(kw::analyseEdit(control, control, bad).status, kw::EditStatus::badInput);
    EXPECT_EQ(kw::analyseEdit(kw::BaseCalls(), kw::BaseCalls(), o).status,
              kw::EditStatus::weakControl);
    // Each status is written as its own word and read back as itself.
    using S = kw::EditStatus;
    for (S s : {S::ok, S::unreadable, S::badInput, S::guideNotFound, S::noAlignment, S::weakControl,
                S::weakSample}) {
        S back = s == S::ok ? S::weakSample : S::ok;
        EXPECT_TRUE(kw::parseEditStatus(kw::editStatusName(s), back));
        EXPECT_EQ(back, s) << kw::editStatusName(s);
    }
    EXPECT_STREQ(kw::editStatusName(S::guideNotFound), "guide_not_found");
    S untouched = S::ok;
    EXPECT_FALSE(kw::parseEditStatus("refused", untouched));
    EXPECT_EQ(untouched, S::ok);
}

TEST(Edit, OutputsHoldTheDocumentedKeysAndTheReportRenders) {
    const std::string read = randomRead(400, 5);
    kw::EditOptions o;
    o.guides = {read.substr(183, 20)};
    o.pam = "N";
    o.bootstrap = 20;
    const kw::EditResult r = kw::analyseEdit(readOf(read), mixture(read, 200, 4, 0.5), o);
    const nlohmann::json j = nlohmann::json::parse(kw::editJson(r));
    for (const char* key :
         {"status", "message", "warnings", "edited_fraction", "knockout_fraction", "hdr_fraction",
          "r2", "unlisted_high", "outcomes", "discordance", "schema"})
        EXPECT_TRUE(j.contains(key)) << key;
    for (const auto& e : j["outcomes"])
        for (const char* key : {"kind", "size", "position", "sequence", "fraction", "low", "high"})
            EXPECT_TRUE(e.contains(key)) << key;
    EXPECT_EQ(kw::editTsv(r).substr(0, 4), "kind");
    const std::string html = kw::editReportHtml(r);
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_EQ(html.find("http://www.w3.org/2000/svg"), html.find("http"));  // nothing fetched

    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("kwedit_" + std::to_string(::getpid()));
    ASSERT_EQ(kw::writeEditReport(dir.string(), r), "");
    if (std::system("command -v chromium >/dev/null 2>&1") != 0) {
        fs::remove_all(dir);
        GTEST_SKIP() << "chromium is not installed: the report is not rendered";
    }
    const fs::path png = dir / "shot.png";
    const std::string cmd =
        "chromium --headless --no-sandbox --disable-gpu --screenshot=" + png.string() +
        " --window-size=1000,900 file://" + (dir / "report.html").string() + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    ASSERT_TRUE(fs::exists(png));
    EXPECT_GT(fs::file_size(png), 10000u);  // a blank page compresses to a few hundred bytes
    fs::remove_all(dir);
}

// The outcomes are chosen under a charge and refitted without it: a tiny
// spurious share drops out, a real one keeps its size; each allele's trace
// is the control's shifted by what the edit removed or repeated.
TEST(Edit, SparseChoiceKeepsRealSharesAndAllelesShiftByTheirEdit) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    kw::detail::BlockSystem sys;
    sys.k = 3;
    sys.gram.assign(10, std::vector<double>(9, 0.0));
    sys.rhs.assign(10, std::vector<double>(3, 0.0));
    sys.yy.assign(10, 0.0);
    sys.ySum = sys.rows = sys.yy;
    for (int i = 0; i < 400; ++i) {
        const std::vector<double> row = {u(rng), u(rng), u(rng)};
        kw::detail::addRow(sys, i / 40, row, 0.7 * row[0] + 0.296 * row[1] + 0.004 * row[2]);
    }
    double r2 = 0.0;
    EXPECT_GT(kw::detail::fitAll(sys, r2)[2], 0.003);
    sys.sparsity = 0.02;
    const std::vector<double> x = kw::detail::fitAll(sys, r2);
    EXPECT_EQ(x[2], 0.0);
    EXPECT_NEAR(x[1], 0.3, 0.01);
    EXPECT_NEAR(x[0], 0.7, 0.01);
    // The blocks' misfits make up the whole fit's.
    double misfit = 0.0;
    for (double m : kw::detail::blockMisfits(sys, x)) misfit += m;
    EXPECT_NEAR(misfit, 1.0 - r2, 1e-9);

    kw::BaseCalls calls = readOf(randomRead(120, 5));
    for (size_t i = 0; i < calls.bases.size(); ++i)
        calls.bases[i].correctedPosition = 100.0 + 12.0 * static_cast<double>(i);
    kw::detail::Candidate del, ins, wild;
    del.kind = "deletion", del.start = 50, del.deleted = 3;
    ins.kind = "insertion", ins.start = 50, ins.inserted = {{48, 0}, {49, 0}};
    wild.kind = "wildtype", wild.start = 50;
    const kw::detail::ShiftedAllele d = kw::detail::shiftedAllele(del, calls);
    EXPECT_DOUBLE_EQ(d.from, 100.0 + 12.0 * 49.5);
    EXPECT_DOUBLE_EQ(d.shift, 36.0);
    EXPECT_DOUBLE_EQ(kw::detail::shiftedAllele(ins, calls).shift, -24.0);
    EXPECT_GT(kw::detail::shiftedAllele(wild, calls).from, 1e12);
}

// A capillary of Gaussian peaks, one per base of `read` in its letter's
// dye, each dye late by lag[dye] and every peak after sample `from` late
// by `drift` samples per sample more.
KwCap peakCap(const std::string& read, const std::array<double, 4>& lag, double from,
              double drift) {
    const int n = 100 + 12 * static_cast<int>(read.size());
    std::vector<std::vector<double>> rows(4, std::vector<double>(static_cast<size_t>(n), 0.0));
    for (size_t i = 0; i < read.size(); ++i) {
        const int c = kw::detail::channelOf(read[i]);
        double at = 50.0 + 12.0 * static_cast<double>(i);
        at += lag[static_cast<size_t>(c)] + std::max(0.0, at - from) * drift;
        for (int s = std::max(0, static_cast<int>(at) - 15);
             s < std::min(n, static_cast<int>(at) + 16); ++s)
            rows[static_cast<size_t>(c)][static_cast<size_t>(s)] +=
                std::exp(-0.5 * std::pow((s - at) / 2.5, 2.0));
    }
    std::vector<double*> p;
    for (auto& r : rows) p.push_back(r.data());
    return KwCap(4, n, p.data(), 1.0);
}

// A sample's dyes are put back on the control's where its own offsets
// left them; its drift is followed through its calls, a stray call
// outvoted by its neighbours.
TEST(Edit, DyesRegisterAndDriftFollowsTheSamplesCalls) {
    const std::string read = randomRead(200, 21);
    kw::BaseCalls calls = readOf(read);
    for (size_t i = 0; i < calls.bases.size(); ++i)
        calls.bases[i].correctedPosition = 50.0 + 12.0 * static_cast<double>(i);
    const KwCap control = peakCap(read, {{0, 0, 0, 0}}, 1e9, 0.0);
    const KwCap sample = peakCap(read, {{0.0, 2.5, -1.0, 17.0}}, 1e9, 0.0);
    const std::vector<kw::MobilityPoint> none;
    const kw::detail::TraceView cv{&control, 1.0, &none, {}}, sv{&sample, 1.0, &none, {}};
    const std::array<double, 4> lag =
        kw::detail::registerDyes(calls, cv, sv, kw::detail::TimeWarp(), 40, 120, 24.0, 0.5);
    const double expected[4] = {0.0, 2.5, -1.0, 17.0};
    for (size_t c = 0; c < 4; ++c) EXPECT_NEAR(lag[c], expected[c], 0.3) << c;
    // Beyond the reach asked for, a dye stays where it was.
    EXPECT_EQ(kw::detail::registerDyes(calls, cv, sv, kw::detail::TimeWarp(), 40, 120, 6.0, 0.5)[3],
              0.0);

    // The sample runs 1 % slower from its base 100 on; one of its calls
    // near base 140 is 9 samples off.
    kw::BaseCalls drifting = calls;
    for (size_t i = 0; i < drifting.bases.size(); ++i) {
        double& t = drifting.bases[i].correctedPosition;
        t += std::max(0.0, t - 1250.0) * 0.01;
    }
    drifting.bases[140].correctedPosition += 9.0;
    kw::detail::TimeWarp warp;
    warp.a = 3.0;  // the line: a start 3 samples later
    for (auto& b : drifting.bases) b.correctedPosition += 3.0;
    kw::detail::followSampleCalls(warp, calls, drifting, 0, 60, 190, 5);
    ASSERT_FALSE(warp.knots.empty());
    for (int j : {80, 120, 140, 141, 180})
        EXPECT_NEAR(
            warp.at(calls.bases[static_cast<size_t>(j)].correctedPosition),
            drifting.bases[static_cast<size_t>(j)].correctedPosition - (j == 140 ? 9.0 : 0.0), 0.7)
            << j;
    // Held flat beyond the knots, halfway between two of them in between.
    EXPECT_DOUBLE_EQ(warp.at(0.0), 3.0 + warp.residual.front());
    EXPECT_DOUBLE_EQ(warp.at(1e6), 3.0 + 1e6 + warp.residual.back());
    EXPECT_NEAR(warp.at(0.5 * (warp.knots[3] + warp.knots[4])) - 3.0 -
                    0.5 * (warp.knots[3] + warp.knots[4]),
                0.5 * (warp.residual[3] + warp.residual[4]), 1e-9);
}

// The control's side of the trace fit, built once for every placing: its
// blocks' matrices are those of its rows, a 70/30 mixture with a 4-base
// deletion comes back, and bases the sample shows nothing at drop out of
// their blocks.
TEST(Edit, TraceDesignServesEveryPlacingAndDropsBlankBases) {
    const std::string read = randomRead(200, 8);
    const std::string edited = read.substr(0, 100) + read.substr(104);
    kw::BaseCalls calls = readOf(read);
    for (size_t i = 0; i < calls.bases.size(); ++i)
        calls.bases[i].correctedPosition = 50.0 + 12.0 * static_cast<double>(i);
    const KwCap control = peakCap(read, {{0, 0, 0, 0}}, 1e9, 0.0);
    const KwCap other = peakCap(edited, {{0, 0, 0, 0}}, 1e9, 0.0);
    const int n = control.getNumData();
    std::vector<std::vector<double>> mixed(4, std::vector<double>(static_cast<size_t>(n)));
    for (int c = 0; c < 4; ++c)
        for (int s = 0; s < n; ++s)
            mixed[static_cast<size_t>(c)][static_cast<size_t>(s)] =
                0.7 * control.getPnterToTrace(c)->getData()[s] +
                (s < other.getNumData() ? 0.3 * other.getPnterToTrace(c)->getData()[s] : 0.0);
    // The sample is another run: three times as loud, fading along the
    // read by a fifth over the fitted bases; its shares stay the mixture's.
    for (auto& r : mixed)
        for (int s = 0; s < n; ++s) r[static_cast<size_t>(s)] *= 3.0 * (1.0 - 0.5 * s / n);
    std::vector<double*> p;
    for (auto& r : mixed) p.push_back(r.data());
    const std::vector<kw::MobilityPoint> none;
    kw::detail::Candidate wild, del4, del2;
    wild.kind = "wildtype", wild.start = 100;
    del4.kind = "deletion", del4.start = 100, del4.deleted = 4;
    del2.kind = "deletion", del2.start = 100, del2.deleted = 2;
    const std::vector<kw::detail::Candidate> cands{wild, del4, del2};
    const kw::detail::TraceView cv{&control, 1.0, &none, {}};
    const kw::detail::TraceDesign d = kw::detail::traceDesign(cands, calls, read, cv, 90, 170, 8);
    ASSERT_EQ(d.gram.size(), 10u);
    kw::detail::BlockSystem ref;
    ref.k = 3;
    ref.gram.assign(10, std::vector<double>(9, 0.0));
    ref.rhs.assign(10, std::vector<double>(3, 0.0));
    ref.yy.assign(10, 0.0);
    ref.ySum = ref.rows = ref.yy;
    for (size_t r = 0; r < d.rows.size() / 3; ++r)
        kw::detail::addRow(ref, static_cast<int>(r / 96),
                           std::vector<double>(d.rows.begin() + 3 * r, d.rows.begin() + 3 * r + 3),
                           0.0);
    for (size_t b = 0; b < 10; ++b)
        for (size_t i = 0; i < 9; ++i) EXPECT_DOUBLE_EQ(d.gram[b][i], ref.gram[b][i]) << b;

    for (int blankFrom : {n, 50 + 12 * 140}) {
        for (auto& r : mixed) std::fill(r.begin() + std::min(n, blankFrom), r.end(), 0.0);
        const KwCap sample(4, n, p.data(), 1.0);
        const kw::detail::TraceView sv{&sample, 1.0, &none, {}};
        kw::detail::BlockSystem sys;
        kw::detail::fillTraceSystem(d, cands, calls, read, cv, sv, kw::detail::TimeWarp(), {}, sys);
        double r2 = 0.0;
        const std::vector<double> x = kw::detail::fitAll(sys, r2);
        const double sum = x[0] + x[1] + x[2];
        EXPECT_NEAR(x[0] / sum, 0.7, 0.03) << blankFrom;
        EXPECT_NEAR(x[1] / sum, 0.3, 0.03) << blankFrom;
        double rows = 0.0;
        for (double v : sys.rows) rows += v;
        if (blankFrom == n) {
            EXPECT_EQ(rows, 80 * 12.0);
            EXPECT_GT(r2, 0.95);
        } else {
            EXPECT_LT(rows, 60 * 12.0);
            EXPECT_EQ(sys.gram.back(), std::vector<double>(9, 0.0));
        }
    }
}

TEST(Edit, RealTracesGiveStableAnswers) {
    const std::string dir = kData + "/editing/train/main/Fig2a-b/";
    if (!std::filesystem::exists(dir + "Reference_Sequence.ab1"))
        GTEST_SKIP() << "no shared editing data";
    kw::EditOptions o;
    o.guides = {"GTTAATCCCCAGAGGCTCCA"};
    const kw::EditResult self =
        kw::editFiles(dir + "Reference_Sequence.ab1", dir + "Reference_Sequence.ab1", o);
    ASSERT_EQ(self.status, kw::EditStatus::ok) << self.message;
    EXPECT_LT(self.editedFraction, 0.02);
    const kw::EditResult clone =
        kw::editFiles(dir + "Reference_Sequence.ab1", dir + "GATA1-GFP-Clone-117.ab1", o);
    ASSERT_EQ(clone.status, kw::EditStatus::ok) << clone.message;
    EXPECT_GT(clone.editedFraction, 0.5);
    EXPECT_EQ(kw::editFiles(dir + "missing.ab1", dir + "Reference_Sequence.ab1", o).status,
              kw::EditStatus::unreadable);

    // A pool made in the raw data, 40 % of it with the 7 bases after the
    // cut spliced out: its channels add up as the templates do.
    kw::Run run;
    kw::ProcessResult control, pooled;
    ASSERT_FALSE(kw::readRun(dir + "Reference_Sequence.ab1", run));
    ASSERT_FALSE(kw::process(run, kw::ProcessOptions(), control));
    const auto& b = control.calls.bases;
    const double scale = run.coordinateScale > 0.0 ? run.coordinateScale : 1.0;
    auto boundary = [&](int i) {
        return static_cast<long>(std::lround(0.5 * scale *
                                             (b[static_cast<size_t>(i - 1)].correctedPosition +
                                              b[static_cast<size_t>(i)].correctedPosition)));
    };
    const int cut = self.sites.front().cut;
    kw::Run pool = run;
    for (auto& row : pool.rows) {
        std::vector<double> edited(row.begin(), row.begin() + boundary(cut));
        edited.insert(edited.end(), row.begin() + boundary(cut + 7), row.end());
        edited.resize(row.size(), row.back());
        for (size_t s = 0; s < row.size(); ++s) row[s] = 0.6 * row[s] + 0.4 * edited[s];
    }
    ASSERT_FALSE(kw::process(pool, kw::ProcessOptions(), pooled));
    const kw::EditResult mixed = kw::editRuns(run, control, pool, pooled, o);
    ASSERT_EQ(mixed.status, kw::EditStatus::ok) << mixed.message;
    EXPECT_NEAR(mixed.editedFraction, 0.4, 0.04);
    ASSERT_GE(mixed.outcomes.size(), 2u);
    EXPECT_EQ(mixed.outcomes[1].size, -7);  // after the unedited 60 %
    EXPECT_NEAR(mixed.outcomes[1].fraction, 0.4, 0.04);
    for (double shift : mixed.dyeShifts) EXPECT_LT(std::fabs(shift), 3.0);
    for (const std::string& w : mixed.warnings)
        EXPECT_EQ(w.find("Two placings"), std::string::npos);
}

// A heterozygous 12-base deletion's carrier against the homozygous
// proband: two placings of the sample read the wild-type allele at about
// 38 % and 48 % with fits as good within the noise.
TEST(Edit, PlacingsTiedWithinTheNoiseAreNamedAndCovered) {
    const std::string stem = kData + "/abif/train/otog-ctck-inframe-del-disulfide-md__";
    const std::string proband = stem + "66940_Proband-OTOG-EX55-F.ab1";
    const std::string father = stem + "66944_Father-OTOG-E55-F.ab1";
    if (!std::filesystem::exists(proband) || !std::filesystem::exists(father))
        GTEST_SKIP() << "no shared otog traces";
    kw::EditOptions o;
    o.guides = {"GAAGGTGACCATCCGCAAGA"};
    o.pam = "N";
    const kw::EditResult r = kw::editFiles(proband, father, o);
    ASSERT_EQ(r.status, kw::EditStatus::ok) << r.message;
    size_t named = 0;
    for (const std::string& w : r.warnings) named += w.find("Two placings") != std::string::npos;
    EXPECT_EQ(named, 1u);
    // The wild-type allele's (the 12 bases the proband lacks) interval
    // reaches the other reading's 46 %; the edited share's spans both.
    for (const kw::EditOutcome& out : r.outcomes)
        if (out.size == 12) {
            EXPECT_GT(out.high, 0.45);
        }
    EXPECT_GT(r.editedHigh - r.editedLow, 0.12);
    EXPECT_LT(r.editedLow, 0.45);
    EXPECT_GT(r.editedHigh, 0.55);
}

}  // namespace
