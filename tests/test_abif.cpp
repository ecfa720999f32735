// ABIF instrument files: the shared real runs, and small files built here
// to check the channel mapping, the rate fallbacks and damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "abif_builder.h"
#include "kwsignal/fragments.h"
#include "synthetic.h"

namespace {

using kwtest::AbifBuilder;

void put32(std::string& s, uint32_t v) {
    kwtest::putBE(s, v, 4);
}

// A sequencing run of 6 scans: DATA n holds 10 n + scan, DATA1 negative.
AbifBuilder sequencingRun() {
    AbifBuilder b;
    for (int d = 1; d <= 4; ++d) {
        std::vector<int> v;
        for (int s = 0; s < 6; ++s) v.push_back(d == 1 ? -95 + s : 10 * d + s);
        b.shorts("DATA", d, v);
        b.shorts("DATA", 8 + d, {100 * d, 100 * d + 1, 100 * d + 2});
        b.text("DyeN", d, "Dye" + std::to_string(d), 18);
    }
    b.shorts("DATA", 105, {5, 5, 5, 5, 5, 5});
    b.shorts("Dye#", 1, {5});
    b.add("FWO_", 1, 2, 1, "GATC");
    b.add("MODL", 1, 2, 1, "310 ");
    b.text("SMPL", 1, "sample one", 18);
    b.add("PBAS", 2, 2, 1, "GAT");
    b.shorts("PLOC", 2, {0, 1, 2});
    b.add("PCON", 2, 2, 1, "\x14\x28\x3c");  // QV 20, 40, 60
    b.stamp(3, 1, 0, 0);
    b.stamp(4, 1, 0, 4);  // 6 scans in 4 s
    return b;
}

kw::AbifRun readBuilt(const std::string& bytes) {
    return kw::readAbifBytes(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                             "built.ab1");
}

std::string patched(std::string s, size_t at, uint32_t v) {
    std::string b;
    kwtest::putBE(b, v, 4);
    return s.replace(at, 4, b);
}

}  // namespace

TEST(AbifRealFiles, Abi310Run) {
    kw::AbifRun run;
    if (!kwtest::readShared("310.ab1", run)) GTEST_SKIP() << "310.ab1 not in the shared data";
    ASSERT_TRUE(run.ok()) << run.error;
    EXPECT_EQ(run.numScans, 10200);
    EXPECT_EQ(run.baseOrder, "GATC");
    EXPECT_EQ(run.instrumentModel, "310");
    EXPECT_EQ(run.sampleName, "D11F");
    EXPECT_EQ(run.dyeNames[2] + std::to_string(run.traceDyes[2]), "Tamra1");  // DATA1 is G
    const auto range = std::minmax_element(run.raw[2].begin(), run.raw[2].end());
    EXPECT_EQ(*range.first, 487.0);
    EXPECT_EQ(*range.second, 1085.0);
    EXPECT_TRUE(run.rateFromRunTimes);
    EXPECT_EQ(run.runStart + " " + run.runStop, "2009-02-19 02:03:56 2009-02-19 04:04:15");
    EXPECT_NEAR(run.samplingRate, 10200.0 / 7219.0, 1e-12);
    EXPECT_EQ(run.calls.size(), 868u);
    EXPECT_EQ(run.callPositions.size(), 868u);
    EXPECT_EQ(run.processed.size(), 4u);
    EXPECT_TRUE(run.warnings.empty());
}

TEST(AbifRealFiles, Abi3730RunFragmentRunAndFake) {
    kw::AbifRun run;
    if (!kwtest::readShared("3730.ab1", run)) GTEST_SKIP() << "3730.ab1 not in the shared data";
    ASSERT_TRUE(run.ok()) << run.error;
    EXPECT_EQ(run.numScans, 16961);
    EXPECT_EQ(*std::min_element(run.raw[2].begin(), run.raw[2].end()), -95.0);
    EXPECT_EQ(run.calls.size(), 1165u);
    EXPECT_EQ(run.qualities.size(), 1165u);
    EXPECT_NEAR(run.samplingRate, 16961.0 / 5100.0, 1e-12);

    kw::AbifRun fsa = kw::readAbif(kwtest::sharedFile("test.fsa"));
    ASSERT_TRUE(fsa.ok()) << fsa.error;
    EXPECT_EQ(std::make_pair(fsa.numScans, fsa.numTraces()), std::make_pair(8531, 4));
    EXPECT_TRUE(fsa.baseOrder.empty() && fsa.calls.empty() && fsa.processed.empty());
    EXPECT_EQ(fsa.dyeNames[0], "5-FAM");
    EXPECT_TRUE(fsa.rateFromRunTimes);
    EXPECT_EQ(fsa.warnings.size(), 1u);  // no FWO_: dye order

    kw::AbifRun fake = kw::readAbif(kwtest::sharedFile("fake.ab1"));
    EXPECT_FALSE(fake.ok());
    EXPECT_NE(fake.error.find("fake.ab1"), std::string::npos);
    EXPECT_NE(fake.error.find("not an ABIF file"), std::string::npos);
    EXPECT_NE(kw::readAbif(kwtest::sharedFile("no_such.ab1")).error.find("cannot open"),
              std::string::npos);
}

TEST(AbifBuilt, MapsChannelsThroughBaseOrder) {
    kw::AbifRun run = readBuilt(sequencingRun().build());
    ASSERT_TRUE(run.ok()) << run.error;
    // GATC: DATA1 -> G (2), DATA2 -> A (1), DATA3 -> T (3), DATA4 -> C (0).
    EXPECT_EQ(std::vector<double>({run.raw[0][1], run.raw[1][1], run.raw[2][0], run.raw[3][5],
                                   run.processed[0][2], run.processed[2][0]}),
              std::vector<double>({41, 21, -95, 35, 402, 100}));
    EXPECT_EQ(run.dyeNames.size(), 5u);
    ASSERT_EQ(run.extraRaw.size(), 1u);
    EXPECT_EQ(run.extraRaw[0].dye, 5);
    EXPECT_EQ(run.samplingRate, 1.5);
    EXPECT_EQ(run.calls, "GAT");
    EXPECT_EQ(run.callPositions[2], 2);
    EXPECT_EQ(run.qualities, std::vector<int>({20, 40, 60}));
    EXPECT_EQ(run.sampleName, "sample one");
}

TEST(AbifBuilt, ReadsWhatIsThere) {
    // No FWO_, no data-collection times, no calls, no processed data.
    AbifBuilder b;
    for (int d = 1; d <= 4; ++d) b.shorts("DATA", d, {d, d, d});
    b.stamp(1, 0, 0, 0);
    b.stamp(2, 0, 0, 2);
    kw::AbifRun run = readBuilt(b.build());
    ASSERT_TRUE(run.ok()) << run.error;
    EXPECT_EQ(run.raw[0][0], 1.0);  // dye order
    EXPECT_FALSE(run.rateFromRunTimes);
    EXPECT_EQ(run.samplingRate, 1.5);
    EXPECT_NE(run.rateFallback.find("RUND1"), std::string::npos);
    EXPECT_EQ(run.warnings.size(), 2u);

    AbifBuilder bare;
    for (int d = 1; d <= 4; ++d) bare.shorts("DATA", d, {d, d, d, 0});
    bare.add("FWO_", 1, 2, 1, "GAXC");
    kw::AbifRun plain = readBuilt(bare.build());
    ASSERT_TRUE(plain.ok());
    EXPECT_EQ(plain.samplingRate, kw::kAbifDefaultRate);
    EXPECT_TRUE(plain.baseOrder.empty());
    EXPECT_TRUE(plain.runStart.empty());
}

TEST(AbifBuilt, LongChannelsReadWordForWord) {
    // Channels of several hundred words, not a whole number of the blocks
    // the reader converts at a time, over the whole 16-bit range: signed
    // samples, unsigned call positions.
    constexpr int kScans = 777;
    auto word = [](int d, int s) { return (s * 2654435761u + d * 40503u) & 0xffffu; };
    AbifBuilder b;
    std::vector<int> positions;
    for (int d = 1; d <= 4; ++d) {
        std::vector<int> v;
        for (int s = 0; s < kScans; ++s) v.push_back(static_cast<int>(word(d, s)));
        b.shorts("DATA", d, v);
    }
    for (int s = 0; s < 300; ++s) positions.push_back(static_cast<int>(word(9, s)));
    b.add("PBAS", 2, 2, 1, std::string(300, 'A'));
    b.shorts("PLOC", 2, positions, 3);
    const kw::AbifRun run = readBuilt(b.build());
    ASSERT_TRUE(run.ok()) << run.error;
    ASSERT_EQ(run.raw.size(), 4u);
    for (int d = 1; d <= 4; ++d) {
        ASSERT_EQ(run.raw[d - 1].size(), static_cast<size_t>(kScans));
        for (int s = 0; s < kScans; ++s)
            ASSERT_EQ(run.raw[d - 1][s], static_cast<int16_t>(word(d, s))) << d << " " << s;
    }
    EXPECT_EQ(run.callPositions, positions);
}

TEST(AbifBuilt, DamagedFilesGiveClearErrors) {
    const AbifBuilder b = sequencingRun();
    const std::string good = b.build();
    const size_t data1 = b.entryAt("DATA", 1);
    std::string noData3 = good;
    noData3[b.entryAt("DATA", 3) + 3] = 'X';
    const std::pair<std::string, const char*> damaged[] = {
        {"", "not an ABIF file"},
        {"ABIX" + good.substr(4), "not an ABIF file"},
        {good.substr(0, 20), "truncated"},
        {patched(good, 26, static_cast<uint32_t>(good.size())), "runs past the end"},
        {patched(good, 18, 0x7fffffff), "runs past the end"},
        {patched(good, 18, 0x80000000u), "declares"},
        {patched(good, data1 + 20, 0xfffffff0u), "DATA1 points outside the file"},
        {patched(good, data1 + 12, 0x7fffffff), "DATA1 declares"},
        {patched(good, data1 + 16, 0x7fffffff), "DATA1 points outside the file"},
        {noData3, "no channel DATA3"}};
    for (const auto& d : damaged) {
        const kw::AbifRun run = readBuilt(d.first);
        EXPECT_FALSE(run.ok()) << d.second;
        EXPECT_EQ(run.error.rfind("built.ab1: ", 0), 0u) << run.error;
        EXPECT_NE(run.error.find(d.second), std::string::npos) << run.error;
    }
    for (size_t n = 0; n < good.size(); ++n) EXPECT_FALSE(readBuilt(good.substr(0, n)).ok()) << n;

    // Damaged optional tags cost a warning, not the file.
    std::string s = patched(good, b.entryAt("DATA", 9) + 20, 0xfffffff0u);
    s = patched(s, b.entryAt("PLOC", 2) + 12, 0x40000000u);
    s = patched(s, b.entryAt("PCON", 2) + 12, 2u);  // two qualities for three calls
    s[b.entryAt("SMPL", 1) + 9] = 4;                // pString -> short array of 1-byte elements
    kw::AbifRun run = readBuilt(s);
    ASSERT_TRUE(run.ok()) << run.error;
    EXPECT_TRUE(run.processed.empty());
    EXPECT_TRUE(run.callPositions.empty());
    EXPECT_TRUE(run.qualities.empty());
    EXPECT_GE(run.warnings.size(), 4u);
}

TEST(AbifBuilt, FragmentRunKeepsEveryDyeAndItsTags) {
    AbifBuilder b;
    for (int d = 1; d <= 4; ++d) {
        b.shorts("DATA", d, {d, d, d, d});
        b.text("DyeN", d, d == 2 ? " VIC " : "Dye" + std::to_string(d), 18);
    }
    b.shorts("DATA", 105, {5, 6, 7, 8});
    b.shorts("DATA", 106, {9, 9});  // short: padded
    b.text("DyeN", 5, "LIZ", 18);
    b.text("DyeN", 6, "SID", 18);
    b.shorts("Dye#", 1, {6});
    b.text("DySN", 1, "J6", 18);
    b.text("StdF", 1, "GS600_LIZ_(60-460)", 18);
    b.add("DyeB", 5, 2, 1, "S");
    std::string satd, peakScans, peakSizes, standardSizes;
    for (uint32_t s : {2u, 1u, 99u}) put32(satd, s);  // 99 lies outside the run
    b.add("Satd", 1, 5, 4, satd);
    b.shorts("Peak", 1, {5, 1});
    put32(peakScans, 3);
    put32(peakScans, 1);
    b.add("Peak", 2, 5, 4, peakScans);
    for (double v : {60.0, 58.5}) {  // IEEE doubles, big-endian
        uint64_t u;
        std::memcpy(&u, &v, 8);
        put32(peakSizes, static_cast<uint32_t>(u >> 32));
        put32(peakSizes, static_cast<uint32_t>(u));
    }
    b.add("Peak", 12, 8, 8, peakSizes);
    b.add("Peak", 21, 8, 8, peakSizes.substr(0, 8) + std::string(8, '\0'));
    const kw::AbifRun run = readBuilt(b.build());
    ASSERT_TRUE(run.ok()) << run.error;
    ASSERT_EQ(run.dyes.size(), 6u);
    EXPECT_EQ(run.dyes[1].name, "VIC");
    EXPECT_EQ(run.dyes[4].dataTag, 105);
    EXPECT_EQ(run.dyes[4].samples, std::vector<double>({5, 6, 7, 8}));
    EXPECT_EQ(run.dyes[5].samples, std::vector<double>({9, 9, 0, 0}));
    EXPECT_EQ(run.dyeSetName + "|" + run.standardName, "J6|GS600_LIZ_(60-460)");
    EXPECT_EQ(run.standardDyeFlag, 5);
    EXPECT_EQ(run.saturatedScans, std::vector<int>({1, 2}));
    ASSERT_EQ(run.storedPeaks.size(), 2u);
    EXPECT_EQ(run.storedPeaks[0].dye, 5);
    EXPECT_EQ(run.storedPeaks[0].scan, 3.0);
    EXPECT_EQ(run.storedPeaks[1].sizeBp, 58.5);
    EXPECT_EQ(run.storedPeaks[0].standardBp, 60.0);
    EXPECT_EQ(kw::decideRunKind(run).kind, kw::RunKind::fragments);

    // A DATA105 that runs past the end of the file: the dye is left out
    // with a warning, the run stays readable.
    AbifBuilder cut;
    for (int d = 1; d <= 4; ++d) cut.shorts("DATA", d, {d, d, d, d});
    cut.shorts("DATA", 105, {5, 6, 7, 8});
    cut.shorts("Dye#", 1, {5});
    const std::string bytes = cut.build();
    const kw::AbifRun damaged = readBuilt(
        patched(bytes, cut.entryAt("DATA", 105) + 20, static_cast<uint32_t>(bytes.size())));
    ASSERT_TRUE(damaged.ok()) << damaged.error;
    EXPECT_EQ(damaged.dyes.size(), 4u);
    EXPECT_TRUE(
        std::any_of(damaged.warnings.begin(), damaged.warnings.end(), [](const std::string& w) {
            return w.find("DATA105") != std::string::npos &&
                   w.find("outside the file") != std::string::npos;
        }));

    // Sequencing files keep their kind and gain no warnings.
    kw::AbifRun seq = readBuilt(sequencingRun().build());
    EXPECT_EQ(kw::decideRunKind(seq).kind, kw::RunKind::sequencing);
    EXPECT_EQ(seq.dyes.size(), 5u);
    EXPECT_EQ(seq.dyes[0].samples, seq.raw[2]);  // DATA1 is G, trace code 2
}
