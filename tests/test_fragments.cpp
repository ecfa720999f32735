// The fragment road on simulated runs, one case for each decision of the
// standard search, and on the shared fragment runs where present.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "fragment_faults.h"
#include "fragments/fragments_internal.h"
#include "kwsignal/fragments.h"
#include "kwsignal/simulate.h"
#include "synthetic.h"

namespace {

using kwtest::runOf;
using kwtest::sizesOf;

// Every identified standard peak sits where its length says (within a
// scan, or tolBp when given), and every peak the simulation placed at a
// standard length carries that length.
void expectRightAssignment(const kw::SimulatedFragmentRun& sim, const kw::FragmentResult& r,
                           double tolBp = 0.0) {
    int identified = 0;
    for (const kw::FragmentPeak& p : r.peaks) {
        if (p.isStandard == kw::StandardRole::none) continue;
        ++identified;
        EXPECT_EQ(p.dye, sim.standardDye);
        const double perBp = sim.scanOf(p.standardBp + 0.5) - sim.scanOf(p.standardBp - 0.5);
        EXPECT_NEAR(p.scan, sim.scanOf(p.standardBp), tolBp > 0.0 ? tolBp * perBp : 1.0)
            << p.standardBp << " bp";
    }
    EXPECT_EQ(identified, r.identified);
}

// Sample peaks sized within tol bp of their true length.
void expectSizes(const kw::SimulatedFragmentRun& sim, const kw::FragmentResult& r, double tol) {
    int checked = 0;
    for (const kw::SimulatedFragment& f : sim.fragments)
        for (const kw::FragmentPeak& p : r.peaks)
            if (p.dye == f.dye && std::fabs(p.scan - f.scan) < 1.0 &&
                (p.flags & kw::kFlagPullup) == 0) {
                EXPECT_NEAR(p.sizeBp, f.sizeBp, tol) << "dye " << f.dye;
                ++checked;
            }
    EXPECT_GT(checked, static_cast<int>(sim.fragments.size()) / 2);
}

TEST(FragmentRoad, FindsTheStandardAndSizesAFiveDyeRun) {
    kw::FragmentSimulationOptions o;
    o.standardBp = sizesOf("GS500");
    const kw::SimulatedFragmentRun sim = kw::simulateFragmentRun(o);
    const kw::FragmentResult r = kw::analyseFragments(runOf(sim), kw::FragmentOptions());
    ASSERT_EQ(r.status, kw::SizingStatus::sized) << (r.warnings.empty() ? "" : r.warnings[0]);
    EXPECT_EQ(r.standard, "GS500");
    EXPECT_EQ(r.standardDye, 4);
    EXPECT_EQ(r.identified, 16);
    EXPECT_EQ(r.used, 14);  // 250 and 340 run anomalously
    EXPECT_LT(r.looMeanBp, 0.3);
    expectRightAssignment(sim, r);
    expectSizes(sim, r, 0.3);
    bool primerFlagged = false, pullupSized = false;
    for (const kw::FragmentPeak& p : r.peaks) {
        if (std::fabs(p.scan - 900.0) < 20.0 && p.dye != r.standardDye)
            primerFlagged =
                primerFlagged || (p.flags & kw::kFlagSaturated && p.flags & kw::kFlagPrimer);
        // The standard leaks into dye 3: those peaks are pull-up, never fragments.
        if (p.dye == 3 && p.isStandard == kw::StandardRole::none)
            for (double bp : o.standardBp)
                if (std::fabs(p.scan - sim.scanOf(bp)) < 1.0)
                    pullupSized = pullupSized || (p.flags & kw::kFlagPullup) == 0;
    }
    EXPECT_TRUE(primerFlagged);
    EXPECT_FALSE(pullupSized);
}

TEST(FragmentRoad, PullupMeasuredOnTheRunSparesRealCoincidentPeaks) {
    // The standard leaks 6 % into dye 3; a real product of dye 3 lands on
    // the 200 bp fragment at a fifth of its height.
    kw::FragmentSimulationOptions o;
    o.standardBp = sizesOf("GS500");
    o.samplePeaks = 3;
    const kw::SimulatedFragmentRun sim = kw::simulateFragmentRun(o);
    kw::FragmentRun run = runOf(sim);
    const double at = sim.scanOf(200);
    kwtest::addGaussian(run.dyes[3], at, 300.0, 2.8);
    // A product of dye 1 off scale two scans from the 160 bp fragment: the
    // scans the instrument marks saturated there are dye 1's, not the
    // standard's.
    const double offScale = sim.scanOf(160) + 2.0;
    kwtest::addGaussian(run.dyes[1], offScale, 20000.0, 2.8);
    for (int s = static_cast<int>(offScale) - 4; s <= static_cast<int>(offScale) + 4; ++s)
        run.saturatedScans.push_back(s);
    run.saturatedScans.push_back(-3);  // a caller's list need not be ascending, nor in the run
    const kw::FragmentResult r = kw::analyseFragments(run, kw::FragmentOptions());
    int leaks = 0, flagged = 0;
    for (const kw::FragmentPeak& p : r.peaks) {
        if (p.dye == 4 && p.standardBp == 160) {
            EXPECT_EQ(p.isStandard, kw::StandardRole::used);
        }
        if (p.dye == 1 && std::fabs(p.scan - offScale) < 1.0) {
            EXPECT_NE(p.flags & kw::kFlagSaturated, 0u);
        }
    }
    for (const kw::FragmentPeak& p : r.peaks) {
        if (p.dye != 3) continue;
        if (std::fabs(p.scan - at) < 1.5) {
            EXPECT_EQ(p.flags & kw::kFlagPullup, 0u) << "the product at 200 bp";
            continue;
        }
        for (double bp : o.standardBp)
            if (std::fabs(p.scan - sim.scanOf(bp)) < 1.5) {
                ++leaks;
                flagged += (p.flags & kw::kFlagPullup) != 0;
            }
    }
    EXPECT_GT(leaks, 5);
    EXPECT_EQ(flagged, leaks);
}

TEST(FragmentRoad, SkewedPeaksAreSizedAtTheirTop) {
    // Products tail towards later scans (a sharp rise, a slow fall): a
    // Gaussian fitted to them sits down the tail, but the fragment's
    // mobility, and the size the instruments report, are at the top.
    kw::FragmentSimulationOptions o;
    o.standardBp = sizesOf("GS500");
    o.samplePeaks = 3;
    const kw::SimulatedFragmentRun sim = kw::simulateFragmentRun(o);
    kw::FragmentRun run = runOf(sim);
    const std::vector<double> tops = {sim.scanOf(180.0) + 0.3, sim.scanOf(310.0) - 0.2};
    for (double top : tops)
        for (std::size_t i = 0; i < run.dyes[1].size(); ++i) {
            const double t = static_cast<double>(i) - top;
            run.dyes[1][i] += 900.0 * (t < 0.0 ? std::exp(-t * t / 8.0) : std::exp(-t / 7.0));
        }
    // A product whose top a noise dip splits into two maxima two scans apart
    // is still one product.
    const int split = static_cast<int>(sim.scanOf(250.0));
    kwtest::addGaussian(run.dyes[1], split, 900.0, 3.0);
    run.dyes[1][static_cast<std::size_t>(split)] -= 200.0;
    const kw::FragmentResult r = kw::analyseFragments(run, kw::FragmentOptions());
    ASSERT_EQ(r.status, kw::SizingStatus::sized);
    for (double top : tops) {
        const kw::FragmentPeak* found = nullptr;
        for (const kw::FragmentPeak& p : r.peaks)
            if (p.dye == 1 && std::fabs(p.scan - top) < 6.0 && (!found || p.height > found->height))
                found = &p;
        ASSERT_NE(found, nullptr) << top;
        EXPECT_NEAR(found->scan, top, 0.6);
    }
    EXPECT_EQ(std::count_if(r.peaks.begin(), r.peaks.end(),
                            [&](const kw::FragmentPeak& p) {
                                return p.dye == 1 && std::fabs(p.scan - split) < 4.0;
                            }),
              1);
}

// The file names a dye of sample peaks as the standard's: the standard is
// taken from the dye that holds one beyond doubt, whatever the layout, and
// nowhere when no dye does.
TEST(FragmentRoad, TakesTheStandardFromTheDyeThatHoldsIt) {
    for (int dyes : {4, 6, 8}) {
        SCOPED_TRACE(std::to_string(dyes) + " dyes");
        kw::FragmentSimulationOptions o;
        o.dyes = dyes;
        o.standardDye = 1;
        o.standardBp = sizesOf("GS600");
        const kw::SimulatedFragmentRun sim = kw::simulateFragmentRun(o);
        kw::FragmentRun run = runOf(sim);
        std::swap(run.names[1], run.names[dyes - 1]);
        const kw::FragmentResult r = kw::analyseFragments(run, kw::FragmentOptions());
        ASSERT_EQ(r.status, kw::SizingStatus::sized) << (r.warnings.empty() ? "" : r.warnings[0]);
        EXPECT_EQ(r.standardDye, 1);
        EXPECT_EQ(r.standard, "GS600");
        expectRightAssignment(sim, r);
        EXPECT_TRUE(std::any_of(r.warnings.begin(), r.warnings.end(), [&](const std::string& w) {
            return w.find("dye " + std::to_string(dyes - 1) + " holds no size standard") !=
                   std::string::npos;
        }));
        // The standard taken out: sample peaks in every dye, none sized.
        run.dyes[1].assign(run.dyes[1].size(), 12.0);
        EXPECT_NE(kw::analyseFragments(run, kw::FragmentOptions()).status, kw::SizingStatus::sized);
    }
}

TEST(FragmentRoad, ToleratesMissingExtraAndLateFragments) {
    struct Case {
        const char* standard;
        std::vector<double> missing, extra;
        double stop;
        int identified;
    };
    const std::vector<Case> cases = {
        {"GS600", {20, 100}, {}, 0, 34},   // lost in the primer, failed in the middle
        {"GS600", {}, {199, 131}, 0, 36},  // a -1 bp satellite and a stray peak
        {"GS600", {}, {}, 405, 24},        // the run stops after 400 bp
        {"ILS600", {}, {}, 0, 22},        {"S450", {60}, {}, 0, 23}, {"GS400HD", {}, {101}, 0, 21},
    };
    for (const Case& c : cases) {
        kw::FragmentSimulationOptions o;
        o.seed = 7;
        o.dyes = 4;
        o.standardDye = 3;
        o.standardBp = sizesOf(c.standard);
        o.missingBp = c.missing;
        o.extraBp = c.extra;
        o.stopBp = c.stop;
        const kw::SimulatedFragmentRun sim = kw::simulateFragmentRun(o);
        const kw::FragmentResult r = kw::analyseFragments(runOf(sim), kw::FragmentOptions());
        SCOPED_TRACE(c.standard);
        ASSERT_EQ(r.status, kw::SizingStatus::sized) << (r.warnings.empty() ? "" : r.warnings[0]);
        EXPECT_EQ(r.standard, c.standard);
        EXPECT_EQ(r.identified, c.identified);
        expectRightAssignment(sim, r);
    }
}

TEST(FragmentRoad, BlipsAndShouldersAreListedFlaggedAndNeverStandard) {
    // The 150 bp fragment of the standard is missing and a one-scan blip as
    // tall as a standard peak stands in its place; another blip rides in a
    // sample dye, and a product six scans from a taller one merges with it
    // into a crest whose second top falls by under a tenth.
    kw::FragmentSimulationOptions o;
    o.standardBp = sizesOf("GS500");
    o.missingBp = {150};
    const kw::SimulatedFragmentRun sim = kw::simulateFragmentRun(o);
    kw::FragmentRun run = runOf(sim);
    const kw::FragmentResult clean = kw::analyseFragments(run, kw::FragmentOptions());
    const int standardBlip = static_cast<int>(std::lround(sim.scanOf(150)));
    const int sampleBlip = static_cast<int>(std::lround(sim.scanOf(420)));
    run.dyes[4][standardBlip] += 1500.0;
    run.dyes[1][sampleBlip] += 400.0;
    const kw::SimulatedFragment& big = sim.fragments[sim.fragments.size() / 2];
    const double shoulder = big.scan + 6.0;
    kwtest::addGaussian(run.dyes[big.dye], shoulder, 0.8 * big.height, 2.5);
    const kw::FragmentResult r = kw::analyseFragments(run, kw::FragmentOptions());
    ASSERT_EQ(r.status, kw::SizingStatus::sized);
    EXPECT_EQ(r.identified, clean.identified);
    EXPECT_EQ(r.used, clean.used);
    EXPECT_DOUBLE_EQ(r.looMeanBp, clean.looMeanBp);
    int blips = 0, shoulders = 0;
    for (const kw::FragmentPeak& p : r.peaks) {
        const bool blip = (p.dye == 4 && std::fabs(p.scan - standardBlip) < 1.0) ||
                          (p.dye == 1 && std::fabs(p.scan - sampleBlip) < 1.0);
        if (blip) {
            ++blips;
            EXPECT_NE(p.flags & kw::kFlagSpike, 0u) << "dye " << p.dye;
            EXPECT_EQ(p.isStandard, kw::StandardRole::none);
            EXPECT_TRUE(std::isfinite(p.sizeBp));
        }
        shoulders += p.dye == big.dye && std::fabs(p.scan - shoulder) < 1.5 &&
                     (p.flags & kw::kFlagShoulder) != 0;
    }
    EXPECT_EQ(blips, 2);
    EXPECT_EQ(shoulders, 1);
}

TEST(FragmentRoad, RefusesRunsWithoutAKnownStandard) {
    kw::FragmentSimulationOptions none;
    none.dyes = 4;
    const kw::FragmentResult empty =
        kw::analyseFragments(runOf(kw::simulateFragmentRun(none)), kw::FragmentOptions());
    EXPECT_NE(empty.status, kw::SizingStatus::sized);
    EXPECT_FALSE(empty.warnings.empty());

    kw::FragmentSimulationOptions odd;  // a ladder no definition lists
    odd.standardBp = {45, 95, 130, 170, 205, 262, 310, 377, 415, 470};
    const kw::FragmentResult r =
        kw::analyseFragments(runOf(kw::simulateFragmentRun(odd)), kw::FragmentOptions());
    EXPECT_EQ(r.status, kw::SizingStatus::unknownStandard);
    EXPECT_TRUE(r.standard.empty());
    for (const kw::FragmentPeak& p : r.peaks) EXPECT_TRUE(std::isnan(p.sizeBp));

    // Ladders of lengths no definition lists, longer fragments among them
    // that a short list's start could be taken for: none is sized.
    uint32_t state = 12345;
    auto draw = [&state](double lo, double hi) {
        state = state * 1664525u + 1013904223u;
        return lo + (hi - lo) * (state >> 8) / 16777216.0;
    };
    for (int k = 0; k < 8; ++k) {
        kw::FragmentSimulationOptions random;
        random.seed = 100 + k;
        for (int i = 0; i < 12 + k; ++i) random.standardBp.push_back(draw(40, 500));
        std::sort(random.standardBp.begin(), random.standardBp.end());
        const kw::FragmentResult fit =
            kw::analyseFragments(runOf(kw::simulateFragmentRun(random)), kw::FragmentOptions());
        EXPECT_NE(fit.status, kw::SizingStatus::sized)
            << "ladder " << k << " taken for " << fit.standard;
    }
    kw::FragmentSimulationOptions longer;  // GS120's start fits its top end
    longer.seed = 136;
    longer.standardBp = {98.2,  114.9, 198.9, 214.4, 237.3, 238.7, 262.2, 281.0, 284.0,
                         323.3, 352.9, 388.0, 405.2, 414.9, 429.4, 451.0, 471.7, 499.9};
    EXPECT_NE(
        kw::analyseFragments(runOf(kw::simulateFragmentRun(longer)), kw::FragmentOptions()).status,
        kw::SizingStatus::sized);

    // Only the upper half of a ladder, with stray peaks where the lower half
    // should be: a chain that starts late must explain what lies before it.
    kw::FragmentSimulationOptions late;
    late.standardBp = sizesOf("GS600");
    for (double bp : late.standardBp)
        if (bp < 300) late.missingBp.push_back(bp);
    late.extraBp = {55, 95, 150, 210, 265};
    EXPECT_NE(
        kw::analyseFragments(runOf(kw::simulateFragmentRun(late)), kw::FragmentOptions()).status,
        kw::SizingStatus::sized);

    // Broad humps spaced exactly like GS400HD, but at 1.2 scans per bp each
    // is 7 bp wide: no instrument that sizes fragments runs so.
    none.samplePeaks = 0;
    kw::FragmentRun humps = runOf(kw::simulateFragmentRun(none));
    humps.names[3] = "ROX";
    for (double bp : sizesOf("GS400HD"))
        kwtest::addGaussian(humps.dyes[3], 1500 + 1.2 * bp, 900, 3.8);
    const kw::FragmentResult wide = kw::analyseFragments(humps, kw::FragmentOptions());
    EXPECT_NE(wide.status, kw::SizingStatus::sized) << "humps taken for " << wide.standard;

    // A five-dye run whose standard dye is empty, and one full of NaN.
    kw::FragmentSimulationOptions o;
    o.standardBp = sizesOf("GS500");
    kw::FragmentRun flat = runOf(kw::simulateFragmentRun(o));
    flat.dyes[4].assign(flat.dyes[4].size(), 12.0);
    const kw::FragmentResult noLadder = kw::analyseFragments(flat, kw::FragmentOptions());
    EXPECT_EQ(noLadder.status, kw::SizingStatus::noStandardPeaks);
    EXPECT_NE(noLadder.warnings.at(0).find("standard dye 4"), std::string::npos);
    flat.dyes[2].assign(flat.dyes[2].size(), std::nan(""));
    EXPECT_EQ(kw::analyseFragments(flat, kw::FragmentOptions()).status,
              kw::SizingStatus::noStandardPeaks);

    kw::FragmentRun bad;  // dyes of unequal length, no rate
    bad.dyes = {std::vector<double>(100, 1.0), std::vector<double>(50, 1.0)};
    EXPECT_EQ(kw::analyseFragments(bad, kw::FragmentOptions()).status, kw::SizingStatus::noData);
}

TEST(FragmentRoad, SizingMethodsAndOutputs) {
    kw::FragmentSimulationOptions o;
    o.standardBp = sizesOf("GS600");
    const kw::SimulatedFragmentRun sim = kw::simulateFragmentRun(o);
    for (const char* name : {"local", "cubic", "lsq3"}) {
        kw::FragmentOptions opt;
        ASSERT_TRUE(kw::parseSizingMethod(name, opt.sizing));
        const kw::FragmentResult r = kw::analyseFragments(runOf(sim), opt);
        ASSERT_EQ(r.status, kw::SizingStatus::sized);
        SCOPED_TRACE(name);
        expectSizes(sim, r, 0.5);
    }
    const kw::FragmentResult r = kw::analyseFragments(runOf(sim), kw::FragmentOptions());
    const std::string table = kw::fragmentTable(r, false);
    EXPECT_EQ(table.substr(0, table.find('\n')),
              "dye\tdye_name\tchannel\tlocatn\tsize_bp\theight\tarea\tfwhm\tis_standard\tflags");
    EXPECT_NE(table.find("\tLIZ\tDATA105\t"), std::string::npos);
    bool outside = false;
    for (const kw::FragmentPeak& p : r.peaks)
        outside = outside || (p.scan < sim.scanOf(20) - 5 && (p.flags & kw::kFlagOutside));
    EXPECT_TRUE(outside);
    EXPECT_EQ(kw::fragmentFlagNames(kw::kFlagSaturated | kw::kFlagPrimer), "saturated,primer");
}

TEST(FragmentRoad, KindOfRunFromTagsAndData) {
    // Four dyes of a sequencing chemistry, no calls: the data decide.
    kw::FragmentSimulationOptions o;
    o.dyes = 4;
    o.standardDye = 3;
    o.standardBp = sizesOf("GS500");
    const kw::SimulatedFragmentRun sim = kw::simulateFragmentRun(o);
    kw::AbifRun run;
    run.baseOrder = "GATC";
    for (int d = 0; d < 4; ++d) {
        kw::AbifChannel c;
        c.dye = d + 1;
        c.name = "Dye" + std::to_string(d + 1);
        c.samples = sim.dyes[d];
        run.dyes.push_back(c);
    }
    run.numScans = static_cast<int>(sim.dyes[0].size());
    run.samplingRate = sim.rate;
    EXPECT_EQ(kw::decideRunKind(run).kind, kw::RunKind::fragments);
    EXPECT_NE(kw::decideRunKind(run).reason.find("GS500"), std::string::npos);
    run.dyes[3].samples.assign(run.dyes[3].samples.size(), 0.0);  // no ladder
    EXPECT_EQ(kw::decideRunKind(run).kind, kw::RunKind::sequencing);
    run.calls = "GATTACA";
    EXPECT_EQ(kw::decideRunKind(run).reason, "the file stores base calls");
}

TEST(FragmentPanel, ParsesCalibratesAndCalls) {
    kw::Panel panel;
    std::string error;
    EXPECT_FALSE(kw::parsePanel("marker A 6-FAM 100\n", panel, error));
    EXPECT_NE(error.find("line 1"), std::string::npos);
    EXPECT_FALSE(kw::parsePanel("bin B 10 120\n", panel, error));  // unknown marker
    EXPECT_FALSE(kw::parsePanel("marker A 0 100 200 4\nbin A 9 250\n", panel, error));  // outside

    // A ladder sized 0.5 bp above the panel's bins, then a sample with a
    // stutter one repeat below its strong allele and a peak between bins.
    kw::FragmentResult ladder;
    ladder.status = kw::SizingStatus::sized;
    ladder.dyeNames = {"6-FAM", "LIZ"};
    auto peak = [](double bp, double height) {
        kw::FragmentPeak p;
        p.sizeBp = bp;
        p.height = height;
        return p;
    };
    ladder.peaks = {peak(116.5, 900), peak(120.5, 1000), peak(124.5, 950), peak(128.5, 800)};
    ASSERT_TRUE(
        kw::parsePanel("# a test panel\nmarker A 6-FAM 100 200 4\n"
                       "bin A 10 116\nbin A 11 120 0.4\nbin A 12 124\nbin A 13 128\n"
                       "marker B 1 300 400\n",
                       panel, error))
        << error;
    EXPECT_EQ(kw::calibratePanel(panel, ladder), 1);  // B has no bins to shift
    EXPECT_NEAR(panel.markers[0].offsetBp, 0.5, 1e-9);

    kw::FragmentResult sample = ladder;
    sample.peaks = {peak(116.6, 300), peak(120.4, 3000), peak(126.4, 2000), peak(350, 500)};
    kw::callAlleles(sample, panel);
    EXPECT_EQ(sample.peaks[0].allele + "," + sample.peaks[1].allele + "," + sample.peaks[2].allele,
              "10,11,OL");
    EXPECT_TRUE(sample.peaks[0].flags & kw::kFlagStutter);
    EXPECT_TRUE(sample.peaks[3].locus.empty());  // dye 0 is not marker B's dye 1
    EXPECT_EQ(kw::genotypeTable(sample),
              "marker\talleles\theights\tflags\nA\t11,OL\t3000,2000\toff_ladder\nB\t\t\t\n");
}

uint32_t be32(const std::string& s, std::size_t at) {
    uint32_t v = 0;
    for (std::size_t k = 0; k < 4; ++k) v = v << 8 | static_cast<unsigned char>(s[at + k]);
    return v;
}

TEST(FragmentRealRuns, DamagedStandardChannelIsNeverSized) {
    const std::string path = KWSIGNAL_SHARED_DATA
        "/fsa/train/binner__AFLP_A01_001_TS_SW_174CRAN5TH_1_AFLP_ONAB-6-5_Frag89.fsa";
    std::ifstream in(path, std::ios::binary);
    if (!in.good()) GTEST_SKIP() << path << " not in the shared data";
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Point DATA105 (the LIZ standard) past the end of the file.
    const std::size_t dir = be32(bytes, 26), count = be32(bytes, 18);
    bool patched = false;
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t e = dir + 28 * k;
        if (bytes.compare(e, 4, "DATA") == 0 && be32(bytes, e + 4) == 105) {
            for (std::size_t b = 0; b < 4; ++b) bytes[e + 20 + b] = '\x7f';
            patched = true;
        }
    }
    ASSERT_TRUE(patched);
    const kw::AbifRun run = kw::readAbifBytes(reinterpret_cast<const unsigned char*>(bytes.data()),
                                              bytes.size(), "cut.fsa");
    ASSERT_TRUE(run.ok()) << run.error;
    EXPECT_EQ(run.dyes.size(), 4u);
    const kw::FragmentResult r = kw::analyseFragments(run, kw::FragmentOptions());
    EXPECT_NE(r.status, kw::SizingStatus::sized);
    EXPECT_FALSE(r.warnings.empty());
    // Cut short, the file is refused with one clear error.
    const kw::AbifRun cut = kw::readAbifBytes(reinterpret_cast<const unsigned char*>(bytes.data()),
                                              bytes.size() / 2, "cut.fsa");
    EXPECT_EQ(kw::analyseFragments(cut, kw::FragmentOptions()).status, kw::SizingStatus::noData);
}

TEST(FragmentRealRuns, TrainingRunsWithAKnownStandard) {
    struct Known {
        const char* file;
        const char* standard;
        int dye;
        int used;
    };
    const std::vector<Known> known = {
        {"abif/test.fsa", "GS500", 3, 14},
        {"fsa/train/pyabif__FSA-G02_002_0229.fsa", "GS600", 4, 34},
        {"fsa/train/BoXFP__Blank_RCB_plate20_F11.fsa", "GS400HD", 3, 21},
        {"fsa/train/FSAtoBoecheraMSI__TD21DG24PS1c10_C07.fsa", "GS500", 4, 14},
        // 35 and 50 bp lie on the plateau of a detector off scale in three
        // dyes at once: identified, not used.
        {"fsa/train/ABIFReader__2_IDplus_003_1.fsa", "GS500", 4, 12},
    };
    int seen = 0;
    for (const Known& k : known) {
        const std::string path = std::string(KWSIGNAL_SHARED_DATA "/") + k.file;
        if (!std::ifstream(path).good()) continue;
        ++seen;
        const kw::FragmentResult r =
            kw::analyseFragments(kw::readAbif(path), kw::FragmentOptions());
        SCOPED_TRACE(k.file);
        EXPECT_EQ(r.status, kw::SizingStatus::sized);
        EXPECT_EQ(r.standard, k.standard);
        EXPECT_EQ(r.standardDye, k.dye);
        EXPECT_GE(r.identified, r.expected - 2);
        EXPECT_EQ(r.used, k.used);
    }
    if (seen == 0) GTEST_SKIP() << "no shared fragment runs under " KWSIGNAL_SHARED_DATA;
}

TEST(FragmentRealRuns, AgreesWithTheStoredSizesOfASoundRun) {
    // The instrument's own sized peaks, where its standard is assigned
    // right: sample peaks of the same dye within 1.5 scans agree within
    // 0.25 bp. On a broad VIC crest at scan 2028 noise splits the top two
    // scans before the highest sample: one peak, at the highest.
    const std::string path =
        KWSIGNAL_SHARED_DATA "/fsa/train/FSAtoBoecheraMSI__TD21DG24PS1c10_C07.fsa";
    if (!std::ifstream(path).good()) GTEST_SKIP() << "no " << path;
    const kw::AbifRun abif = kw::readAbif(path);
    const kw::FragmentResult r = kw::analyseFragments(abif, kw::FragmentOptions());
    int stored = 0, agree = 0;
    for (const kw::AbifStoredPeak& s : abif.storedPeaks) {
        if (s.standardBp > 0.0 || s.dye == 5 || s.sizeBp < 35.0 || s.sizeBp > 500.0) continue;
        ++stored;
        const kw::FragmentPeak* near = nullptr;
        for (const kw::FragmentPeak& p : r.peaks)
            if (p.dye == s.dye - 1 && std::fabs(p.scan - s.scan) <= 1.5 &&
                (!near || std::fabs(p.scan - s.scan) < std::fabs(near->scan - s.scan)))
                near = &p;
        agree += near && std::fabs(near->sizeBp - s.sizeBp) <= 0.25;
    }
    EXPECT_EQ(stored, 168);
    EXPECT_GE(agree, 131);
    int atCrest = 0;
    for (const kw::FragmentPeak& p : r.peaks)
        if (p.dye == 1 && std::fabs(p.scan - 2027.0) < 2.5) {
            ++atCrest;
            EXPECT_NEAR(p.scan, 2028.0, 0.5);
        }
    EXPECT_EQ(atCrest, 1);
}

}  // namespace

namespace {

TEST(FragmentRoad, AssignmentGuardsLeadTheirOneStepNeighbours) {
    // A clean GS500 run leads every neighbour by a wide margin; the same
    // run stopped after 400 bp still does, and says how far.
    for (double stop : {0.0, 405.0}) {
        kw::FragmentSimulationOptions o;
        o.standardBp = sizesOf("GS500");
        o.stopBp = stop;
        const kw::FragmentResult r =
            kw::analyseFragments(runOf(kw::simulateFragmentRun(o)), kw::FragmentOptions());
        SCOPED_TRACE(stop);
        ASSERT_EQ(r.status, kw::SizingStatus::sized);
        EXPECT_GT(r.assignmentMargin, 4.0);
    }
    EXPECT_STREQ(kw::sizingStatusName(kw::SizingStatus::lowConfidence), "low_confidence");
}

}  // namespace

namespace {

// A GS500 ladder under the faults real runs show, in the four-dye ROX and
// the five-dye LIZ layouts and over several seeds: every run is either
// sized with every standard peak on its own fragment, or says it is not
// sure (low_confidence) or refuses; never a confident wrong size.
TEST(FragmentRoad, HardStandardsAreRightOrSayTheyAreNotSure) {
    struct Case {
        const char* what;
        kwtest::FragmentFault fault;
        bool mustSize;  // the run holds enough to size it
        // A further ROX seed on which GS500 and GS350 tie until the light
        // of other dyes is set aside: sized right, with low confidence.
        uint32_t tieSeed = 0;
        // Further runs (layout 0 ROX, 1 LIZ; seed) whose best assignment a
        // one-step neighbour beats on the guards, or whose peaks differ in
        // height as no standard's do: refused, not sized with a flag.
        std::vector<std::pair<int, uint32_t>> refused = {};
    };
    // An older instrument runs fewer scans per bp, with more pull-up into ROX.
    const std::vector<Case> cases = {
        {"one fragment missing", {{300}, {}, 0, 1500, 0}, true},
        {"a stray peak between two fragments", {{}, {175}, 0, 1500, 0}, true},
        {"-1 bp satellites", {{}, {199, 349}, 0, 1500, 0}, true},
        {"stopped after 400 bp", {{}, {}, 420, 1500, 0}, true},
        {"stopped after 300 bp, 160 missing", {{160}, {}, 320, 1500, 0}, false},
        {"a weak standard", {{}, {}, 0, 300, 0}, true},
        {"a weak standard with a satellite", {{}, {299}, 0, 250, 0}, false},
        {"pull-up of an off-scale sample peak", {{}, {}, 0, 1500, 225}, true},
        {"pull-up under a weak standard", {{}, {}, 0, 400, 120}, false},
        {"an older run: 7 scans per bp, 15 % pull-up, 400 counts",
         {{}, {}, 0, 400, 0, 0.5, 0.15},
         true},
        // Pull-up peaks where 300 bp is missing, or merged into a fragment's
        // peak: the light of other dyes is left out of the standard.
        {"an older run: 4.5 scans per bp, 20 % pull-up, 300 missing, stopped after 400",
         {{300}, {}, 420, 400, 0, 4.5 / 14, 0.20},
         false,
         9,
         {{0, 13}, {1, 7}}},
        {"40 % pull-up over a 150-count standard",
         {{}, {}, 0, 150, 0, 1.0, 0.40},
         false,
         0,
         {{1, 9}, {1, 16}}},
    };
    for (const Case& c : cases)
        for (int layout = 0; layout < 2; ++layout)
            for (uint32_t seed = 1; seed <= 5 + c.refused.size(); ++seed) {
                if (seed == 5 && (c.tieSeed == 0 || layout != 0)) continue;
                const bool refuse = seed > 5;
                if (refuse && c.refused[seed - 6].first != layout) continue;
                const uint32_t s = refuse      ? c.refused[seed - 6].second
                                   : seed == 5 ? c.tieSeed
                                               : seed;
                const kw::SimulatedFragmentRun sim = kwtest::simulateFault(c.fault, layout, s);
                const kw::FragmentRun run = runOf(sim);
                const kw::FragmentResult r = kw::analyseFragments(run, kw::FragmentOptions());
                SCOPED_TRACE(std::string(c.what) + ", " + (layout == 0 ? "ROX" : "LIZ") +
                             ", seed " + std::to_string(s));
                if (refuse) {
                    EXPECT_EQ(r.status, kw::SizingStatus::unknownStandard);
                    EXPECT_TRUE(std::all_of(r.peaks.begin(), r.peaks.end(), [](const auto& p) {
                        return std::isnan(p.sizeBp) && p.isStandard == kw::StandardRole::none;
                    }));
                } else if (seed == 5) {
                    EXPECT_EQ(r.status, kw::SizingStatus::lowConfidence);
                    expectRightAssignment(sim, r, 0.8);
                } else if (r.status == kw::SizingStatus::sized) {
                    // A run stopped before 350 bp fits GS350 alike. Pull-up
                    // merged into a standard peak may shift it, by well
                    // under a base.
                    expectRightAssignment(sim, r, 0.8);
                } else if (c.mustSize) {
                    ADD_FAILURE() << kw::sizingStatusName(r.status) << ": "
                                  << (r.warnings.empty() ? "" : r.warnings.back());
                }
            }
}

}  // namespace

namespace {

// The guards on assignments made by hand: a GS500 ladder on the simulated
// mobility curve (250 and 340 running short as they do), assigned right,
// shifted by one fragment from some peak on, or with a fragment put on its
// own satellite. A wrong assignment has a one-step neighbour that scores
// better (negative margin); the right one leads all of its neighbours.
TEST(FragmentGuards, WrongAssignmentsHaveABetterNeighbour) {
    const kw::SizeStandard* gs500 = nullptr;
    for (const kw::SizeStandard& s : kw::sizeStandards())
        if (std::string(s.name) == "GS500") gs500 = &s;
    ASSERT_NE(gs500, nullptr);
    const kw::SimulatedFragmentRun curve;
    auto ladder = [&](double stopBp, double satelliteOf) {
        std::vector<kw::detail::StandardCandidate> c;
        for (double bp : gs500->sizesBp) {
            if (bp > stopBp) break;
            const double runOff = bp == 250 ? 2.5 : bp == 340 ? 0.5 : 0.0;
            const double jitter = 0.3 * std::sin(bp);
            if (bp == satelliteOf) c.push_back({curve.scanOf(bp - 1.0), 700.0, 6.0, false});
            c.push_back({curve.scanOf(bp - runOff) + jitter, 1500.0 - bp, 6.0, false});
        }
        return c;
    };
    // Fragment j on the k-th peak, from `from` on shifted by `shift`.
    auto assign = [&](const std::vector<kw::detail::StandardCandidate>& c, int from, int shift) {
        kw::detail::StandardMatch m;
        m.standard = gs500;
        m.peakOf.assign(gs500->sizesBp.size(), -1);
        for (int k = 0; k < static_cast<int>(c.size()); ++k) {
            const int j = k < from ? k : k + shift;
            if (j >= 0 && j < static_cast<int>(m.peakOf.size())) m.peakOf[j] = k;
        }
        return m;
    };
    for (double stop : {500.0, 400.0}) {
        SCOPED_TRACE(stop);
        const auto c = ladder(stop, 0);
        EXPECT_GT(kw::detail::checkAssignment(c, assign(c, 0, 0), 1500).margin(), 4.0);
        for (int from : {0, 4, 9})
            for (int shift : {-1, 1}) {
                const kw::detail::AssignmentCheck wrong =
                    kw::detail::checkAssignment(c, assign(c, from, shift), 1500);
                EXPECT_LT(wrong.margin(), 0.0) << "shifted by " << shift << " from peak " << from;
            }
    }
    // A -1 bp satellite at half height beside 300 bp: beside the right
    // assignment it is explained; on the satellite, the taller peak beside
    // it is the better choice.
    const auto c = ladder(500, 300);
    kw::detail::StandardMatch right = assign(c, 0, 0), onSatellite = right;
    for (std::size_t j = 0; j < right.peakOf.size(); ++j)
        if (gs500->sizesBp[j] >= 300) {
            right.peakOf[j] = static_cast<int>(j) + 1;
            onSatellite.peakOf[j] = static_cast<int>(j) + (gs500->sizesBp[j] == 300 ? 0 : 1);
        }
    EXPECT_GT(kw::detail::checkAssignment(c, right, 1500).margin(), 4.0);
    const kw::detail::AssignmentCheck caught = kw::detail::checkAssignment(c, onSatellite, 1500);
    EXPECT_LT(caught.margin(), 0.0);
    EXPECT_NE(caught.rival.find("as 300 bp instead of"), std::string::npos) << caught.rival;
}

}  // namespace

namespace {

// The light one dye leaks into another, measured from the run's own
// coinciding peaks: a pull-up peak is all light; a product of its own
// beside it, or a peak a few deviations off the source's top, is not.
TEST(FragmentPeaks, LeakedLightIsMeasuredFromCoincidingPeaks) {
    auto peak = [](int dye, double scan, double height) {
        kw::FragmentPeak p;
        p.dye = dye;
        p.scan = scan;
        p.height = height;
        p.fwhm = 7.0;
        return p;
    };
    std::vector<kw::FragmentPeak> peaks;
    for (int k = 0; k < 8; ++k) {  // 20 % of dye 0 seen in dye 1
        peaks.push_back(peak(0, 1000.0 + 100 * k, 2000.0 + 100 * k));
        peaks.push_back(peak(1, 1000.2 + 100 * k, 0.2 * (2000.0 + 100 * k)));
    }
    peaks.push_back(peak(0, 2000.0, 3000.0));
    peaks.push_back(peak(1, 2000.3, 1500.0));  // a product on top of its light
    peaks.push_back(peak(0, 2200.0, 3000.0));
    peaks.push_back(peak(1, 2208.0, 600.0));  // 2.7 deviations off: its own top
    const std::vector<double> leak = kw::detail::leakedLight(peaks, 2);
    ASSERT_EQ(leak.size(), peaks.size());
    for (int k = 0; k < 8; ++k) {
        const std::size_t i = 2 * static_cast<std::size_t>(k);
        EXPECT_GT(leak[i + 1], 0.9 * peaks[i + 1].height) << k;
        EXPECT_EQ(leak[i], 0.0);  // light leaks from the stronger dye only
    }
    EXPECT_NEAR(leak[17] / peaks[17].height, 0.4, 0.05);
    EXPECT_EQ(leak[19], 0.0);
    // Unmeasured (one dye, or too few pairs): nothing is taken for light.
    EXPECT_EQ(kw::detail::leakedLight({peak(0, 10, 900), peak(1, 10, 200)}, 2)[1], 0.0);
}

}  // namespace

namespace {

// The candidates of a standard dye, the ladder's fragments on a run's
// mobility curve (scansPerBp about 14 near the start, or 7 on an older
// instrument) under one defect, over a background of other peaks: none,
// weak peaks, or a sample dye's products of every height with two strong
// blobs in the primer region, before the smallest fragment.
std::vector<kw::detail::StandardCandidate> ladderCandidates(const std::vector<double>& sizes,
                                                            int defect, int background,
                                                            double scansPerBp, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    auto scanOf = [&](double bp) { return 1200.0 + scansPerBp * bp * (1.0 - bp / 4000.0); };
    const int m = static_cast<int>(sizes.size()), mid = m / 2;
    std::vector<kw::detail::StandardCandidate> c;
    auto add = [&](double bp, double height, bool doubtful) {
        c.push_back({scanOf(bp) + 0.6 * (unit(rng) - 0.5), height, 6.0, doubtful});
    };
    for (int j = 0; j < m; ++j) {
        const bool lost = (defect == 1 && j == mid) ||
                          (defect == 2 && (j == mid || j == mid + 1)) ||
                          (defect == 5 && j > m * 3 / 5) || (defect == 7 && j < 3);
        if (!lost) add(sizes[j], 1500.0 * (0.8 + 0.4 * unit(rng)), false);
    }
    const double gap = sizes[mid + 1] - sizes[mid];
    if (defect == 3 || defect == 4 || defect == 7) add(sizes[mid] + gap / 3.0, 1400.0, false);
    if (defect == 4) add(sizes[mid] + 2.0 * gap / 3.0, 1300.0, false);
    if (defect == 6) {  // pull-up at standard height, and a satellite a base short
        for (int k = 1; k <= 3; ++k) add(sizes[k * m / 4] + gap / 2.0, 1600.0, true);
        add(sizes[mid] - 1.0, 500.0, false);
    }
    if (background == 2)
        for (double share : {0.35, 0.7}) add(share * sizes.front(), 1800.0, false);
    const int others = background == 0 ? 0 : 20;
    for (int k = 0; k < others; ++k) {
        const double bp = sizes.front() + (sizes.back() - sizes.front()) * unit(rng);
        const double height = background == 1 ? 150.0 + 200.0 * unit(rng)
                                              : 1500.0 * std::exp(3.0 * (unit(rng) - 0.4));
        add(bp, height, background == 2 && unit(rng) < 0.3);
    }
    std::sort(c.begin(), c.end(),
              [](const kw::detail::StandardCandidate& a, const kw::detail::StandardCandidate& b) {
                  return a.scan < b.scan;
              });
    return c;
}

// The shortcuts of the standard search give what the full search gives:
// the search among the chains that can be nearly complete finds every
// nearly complete assignment the full search finds, peak for peak, and no
// search scores above the bound that lets a definition go unsearched. That
// search holds each chain's missing fragments and leftover peaks in all to
// the spare ones, before, inside and after it; it finds every nearly
// complete assignment it finds when it holds each step's only, among them
// some with as many missing or left over as spare.
// Every built-in ladder under eight defects (two neighbouring fragments
// missing and two strong strays in one gap among them: dense standards
// may still be nearly complete with either), three backgrounds and two
// mobilities, each searched with every definition.
TEST(FragmentSearch, ShortcutsNeverMissWhatTheFullSearchFinds) {
    int cases = 0, complete = 0, completeDense = 0, held = 0, atTheLimit = 0;
    uint32_t seed = 1;
    for (const kw::SizeStandard& ladder : kw::sizeStandards())
        for (int defect = 0; defect < 8; ++defect)
            for (int background = 0; background < 3; ++background)
                for (double scansPerBp : {14.0, 7.0}) {
                    const std::vector<kw::detail::StandardCandidate> c =
                        ladderCandidates(ladder.sizesBp, defect, background, scansPerBp, seed++);
                    ++cases;
                    for (const kw::SizeStandard& s : kw::sizeStandards()) {
                        const kw::detail::StandardMatch perStep = kw::detail::matchNearlyComplete(
                            c, s, 1500.0, kw::detail::ChainLimit::perStep);
                        if (kw::detail::nearlyComplete(perStep) && perStep.assigned >= 10) {
                            ++held;
                            const int spare =
                                static_cast<int>(std::min(c.size(), s.sizesBp.size())) / 10;
                            if (perStep.missing == spare || perStep.unexplained == spare)
                                ++atTheLimit;
                            const kw::detail::StandardMatch inAll =
                                kw::detail::matchNearlyComplete(c, s, 1500.0);
                            EXPECT_EQ(inAll.peakOf, perStep.peakOf)
                                << ladder.name << " as " << s.name << ", defect " << defect
                                << ", background " << background << ", " << scansPerBp;
                            EXPECT_EQ(inAll.quality, perStep.quality);
                        }
                        const kw::detail::StandardMatch full =
                            kw::detail::matchStandard(c, s, 1500.0);
                        EXPECT_GE(kw::detail::qualityBound(c, s, 1500.0), full.quality)
                            << ladder.name << " as " << s.name << ", defect " << defect;
                        if (!kw::detail::nearlyComplete(full) || full.assigned < 10) continue;
                        ++complete;
                        if (full.assigned >= 20 && (defect == 2 || defect == 4)) ++completeDense;
                        const kw::detail::StandardMatch fast =
                            kw::detail::matchNearlyComplete(c, s, 1500.0);
                        EXPECT_EQ(fast.peakOf, full.peakOf)
                            << ladder.name << " as " << s.name << ", defect " << defect
                            << ", background " << background << ", " << scansPerBp;
                        EXPECT_EQ(fast.quality, full.quality);
                    }
                }
    EXPECT_EQ(cases, 576);
    EXPECT_GT(complete, 400);
    EXPECT_GT(completeDense, 50);
    EXPECT_GE(held, complete);
    EXPECT_GT(atTheLimit, 100);
}

}  // namespace
