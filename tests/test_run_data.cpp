// Run-data files: the .qrd writer and reader, and KwCap::input2.
#include <gtest/gtest.h>

#include "kwsignal/rundata.h"
#include "synthetic.h"

namespace {

using kwtest::tempPath;

std::vector<std::vector<uint32_t>> fourChannels(uint32_t n) {
    std::vector<std::vector<uint32_t>> c(4, std::vector<uint32_t>(n));
    for (uint32_t t = 0; t < 4; ++t)
        for (uint32_t s = 0; s < n; ++s) c[t][s] = 1000 * t + s;
    c[3][n - 1] = 4294967295u;
    return c;
}

kwtest::ReadRows imported(const std::string& path) {
    kwtest::ReadRows r;
    r.result = KwCap().input2(path.c_str(), r.numTraces, r.numData, r.rate, &r.p);
    return r;
}

// Reads first..first+count of path; channel c, sample i of what came back.
struct Read {
    KwRunDataFile file;
    void* header = nullptr;
    void** channels = nullptr;
    unsigned long count = 99;
    KwCapFileInfo info;
    int result;
    Read(const std::string& path, int count0, int first)
        : result(file.Read(path.c_str(), header, channels, count0, first, &count, &info)) {}
    uint32_t operator()(int c, int i) const { return static_cast<uint32_t*>(channels[c])[i]; }
};

}  // namespace

TEST(RunDataFile, WritesLittleEndianAndReadsBack) {
    const std::string path = tempPath("layout.qrd");
    ASSERT_EQ(kw::writeRunData(path, {{0x01020304u, 7u}, {5u, 6u}}), "");
    EXPECT_EQ(kwtest::readFile(path), std::string("\x89QRD\r\n\x1a\n"
                                                  "\1\0\0\0\2\0\0\0\2\0\0\0"
                                                  "\4\3\2\1\7\0\0\0\5\0\0\0\6\0\0\0",
                                                  36));
    const Read all(path, 1, 0);
    EXPECT_EQ(all.result, 1);
    EXPECT_NE(all.header, nullptr);
    EXPECT_EQ(std::vector<unsigned long>({all.count, all.info.numChannels, all.info.version}),
              std::vector<unsigned long>({2, 2, 1}));
    EXPECT_EQ(std::vector<uint32_t>({all(0, 0), all(1, 1), all(3, 1)}),
              std::vector<uint32_t>({0x01020304u, 6u, 0u}));  // missing channel: zeros
    // From the second channel, at most one sample.
    const Read part(path, 2, 1);
    EXPECT_EQ(part.result, 1);
    EXPECT_EQ(std::make_pair(part.count, part(0, 0)), std::make_pair(1ul, 5u));
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
        const Read r(name, 1, 0);
        EXPECT_EQ(r.result + r.count, 0u) << damaged.size();
        EXPECT_NE(r.file.lastError().find(name), std::string::npos) << r.file.lastError();
        for (int t = 0; t < 4; ++t) ASSERT_NE(r.channels[t], nullptr);
        const auto imp = imported(name);
        EXPECT_TRUE(imp.numTraces == 0 && imp.p == nullptr);
    }
}

TEST(Input2, ReadsTheRunDataFileBesideThePath) {
    const std::string qrd = tempPath("run.qrd");
    ASSERT_EQ(kw::writeRunData(qrd, fourChannels(500)), "");
    for (const std::string& path : {tempPath("run.abc"), qrd}) {
        const auto imp = imported(path);
        ASSERT_EQ(std::vector<int>({imp.result, imp.numTraces, imp.numData}),
                  std::vector<int>({0, 4, 500}))
            << path;
        EXPECT_EQ(std::vector<double>({imp.rate, imp.p[2][7], imp.p[3][499]}),
                  std::vector<double>({1.75, 2007.0, 4294967295.0}));
    }
    const auto shortPath = imported("ab");
    EXPECT_TRUE(shortPath.numTraces == 0 && shortPath.p == nullptr);
}
