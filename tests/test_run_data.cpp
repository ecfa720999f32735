// Run-data files: the .qrd writer and reader, and KwCap::input2.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "kwsignal/rundata.h"
#include "synthetic.h"

namespace {

std::string tempPath(const std::string& name) {
    return ::testing::TempDir() + "kwqrd_" + name;
}

std::vector<std::vector<uint32_t>> fourChannels(uint32_t n) {
    std::vector<std::vector<uint32_t>> c(4, std::vector<uint32_t>(n));
    for (uint32_t t = 0; t < 4; ++t)
        for (uint32_t s = 0; s < n; ++s) c[t][s] = 1000 * t + s;
    c[3][n - 1] = 4294967295u;
    return c;
}

struct Imported {
    int numTraces = -1, numData = -1, result = -1;
    double rate = 0.0;
    double** rows = nullptr;
    explicit Imported(const std::string& path) {
        result = KwCap().input2(path.c_str(), numTraces, numData, rate, &rows);
    }
    ~Imported() { KwCap().ReleasePointer(rows); }
};

uint32_t sample(void** channels, int c, int i) {
    return static_cast<uint32_t*>(channels[c])[i];
}

}  // namespace

TEST(RunDataFile, WritesLittleEndianAndReadsBack) {
    const std::string path = tempPath("layout.qrd");
    ASSERT_EQ(kw::writeRunData(path, {{0x01020304u, 7u}, {5u, 6u}}), "");
    EXPECT_EQ(kwtest::readFile(path), std::string("\x89QRD\r\n\x1a\n"
                                                  "\1\0\0\0\2\0\0\0\2\0\0\0"
                                                  "\4\3\2\1\7\0\0\0\5\0\0\0\6\0\0\0",
                                                  36));
    KwRunDataFile file;
    void* header = nullptr;
    void** channels = nullptr;
    unsigned long count = 0;
    KwCapFileInfo info;
    EXPECT_EQ(file.Read(path.c_str(), header, channels, 1, 0, &count, &info), 1);
    EXPECT_NE(header, nullptr);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(info.numChannels, 2u);
    EXPECT_EQ(info.version, 1u);
    EXPECT_EQ(sample(channels, 0, 0), 0x01020304u);
    EXPECT_EQ(sample(channels, 1, 1), 6u);
    EXPECT_EQ(sample(channels, 3, 1), 0u);  // missing channel: zeros

    // From the second channel, at most one sample.
    EXPECT_EQ(file.Read(path.c_str(), header, channels, 2, 1, &count, nullptr), 1);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(sample(channels, 0, 0), 5u);

    // The writer refuses what it cannot store and leaves no partial file.
    EXPECT_NE(kw::writeRunData(tempPath("none.qrd"), {}), "");
    EXPECT_NE(kw::writeRunData(tempPath("ragged.qrd"), {{1, 2}, {3}}), "");
    const std::string noDir = tempPath("no_such_dir/x.qrd");
    EXPECT_NE(kw::writeRunData(noDir, {{1}}), "");
    EXPECT_FALSE(std::ifstream(noDir + ".part").good());
}

TEST(RunDataFile, RejectsDamagedFiles) {
    const std::string good = tempPath("good.qrd");
    ASSERT_EQ(kw::writeRunData(good, fourChannels(10)), "");
    const std::string bytes = kwtest::readFile(good);
    std::string wrongVersion = bytes, noChannels = bytes, hugeCount = bytes;
    wrongVersion[8] = 2;
    noChannels[12] = 0;
    hugeCount.replace(16, 4, "\xff\xff\xff\x7f");
    const std::string path = tempPath("damaged.qrd");
    for (const std::string& damaged :
         {std::string(), bytes.substr(0, 19), bytes.substr(0, bytes.size() - 1), bytes + "x",
          std::string("Xbytes............................."), wrongVersion, noChannels, hugeCount,
          std::string("missing")}) {
        const std::string name = damaged == "missing" ? tempPath("missing.qrd") : path;
        if (damaged != "missing") kwtest::writeFile(path, damaged);
        KwRunDataFile file;
        void* header = nullptr;
        void** channels = nullptr;
        unsigned long count = 99;
        EXPECT_EQ(file.Read(name.c_str(), header, channels, 1, 0, &count, nullptr), 0)
            << damaged.size();
        EXPECT_EQ(count, 0u);
        EXPECT_NE(file.lastError().find(name), std::string::npos) << file.lastError();
        for (int t = 0; t < 4; ++t) ASSERT_NE(channels[t], nullptr);
        Imported imp(name);
        EXPECT_EQ(imp.numTraces, 0);
        EXPECT_EQ(imp.rows, nullptr);
    }
}

TEST(Input2, ReadsTheRunDataFileBesideThePath) {
    const std::string qrd = tempPath("run.qrd");
    ASSERT_EQ(kw::writeRunData(qrd, fourChannels(500)), "");
    for (const std::string& path : {tempPath("run.abc"), qrd}) {
        Imported imp(path);
        EXPECT_EQ(imp.result, 0);
        ASSERT_EQ(imp.numTraces, 4) << path;
        ASSERT_EQ(imp.numData, 500);
        EXPECT_EQ(imp.rate, 1.75);
        EXPECT_EQ(imp.rows[2][7], 2007.0);
        EXPECT_EQ(imp.rows[3][499], 4294967295.0);
    }
    Imported shortPath("ab");
    EXPECT_EQ(shortPath.numTraces, 0);
    EXPECT_EQ(shortPath.rows, nullptr);
}
