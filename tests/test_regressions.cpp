// Inputs that once broke a reader or the road, found by fuzzing (fuzz/)
// and minimised. The fuzz build replays the raw inputs of
// fuzz/regressions/ as well; these are the ones that read as a test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "kwsignal/process.h"
#include "kwsignal/run.h"

namespace {

std::string scratchFile(const std::string& name, const std::string& text) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string path = std::string(tmp != nullptr ? tmp : "/tmp") + "/kwreg-" +
                             std::to_string(static_cast<long>(getpid())) + "-" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

}  // namespace

// A separation-matrix file is read as doubles and kept as floats: a number
// beyond the float range (3.4e38) was accepted and became an infinite
// matrix element, which then went into the separation of every run.
TEST(Regressions, MatrixNumbersBeyondFloatRangeAreRefused) {
    for (const char* text :
         {"1e39\n", "1 0\n0 -3.5e38\n", "1 0 0 0\n0 1 0 0\n0 0 1 0\n0 0 0 1e300\n"}) {
        const std::string path = scratchFile("matrix.txt", text);
        std::vector<std::vector<double>> m;
        EXPECT_EQ(kw::readMatrixFile(path, m).kind, kw::ReadErrorKind::malformed) << text;
        EXPECT_TRUE(m.empty()) << text;
        std::remove(path.c_str());
    }
    const std::string path = scratchFile("matrix.txt", "3.4e38 0\n0 -1e-30\n");
    std::vector<std::vector<double>> m;
    EXPECT_FALSE(kw::readMatrixFile(path, m));  // the float range's own edge still reads
    std::remove(path.c_str());
}

// Capillaries the fuzz_pipeline fuzzer found troublesome, kept in
// fuzz/regressions/pipeline/ in the fuzzer's encoding: a hump whose apex
// sat on the zeros trimmed off its event (read past the event's samples),
// and long trains of humps fitted as one event (seconds per run, the fit's
// cost growing with the square of the peaks). Each must now give a defined
// result; the fuzz smoke run replays them with a time limit as well.
TEST(Regressions, PipelineFuzzFindingsGiveDefinedResults) {
    const std::string dir = std::string(KWSIGNAL_SOURCE_DIR) + "/fuzz/regressions/pipeline";
    int replayed = 0;
    for (const char* name : {"half-height-width-nan-summit.cap", "slow-fit-many-humps.cap",
                             "hump-apex-on-trimmed-zeros.cap", "slow-fit-long-hump-train.cap"}) {
        std::ifstream in(dir + "/" + name, std::ios::binary);
        ASSERT_TRUE(in.good()) << name;
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        kwfuzz::Capillary cap =
            kwfuzz::decodeCapillary(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        kw::ProcessOptions options;
        const kw::Run run = kwfuzz::runOf(std::move(cap), name, options);
        kw::ProcessResult r;
        if (kw::process(run, options, r)) continue;
        ++replayed;
        for (size_t i = 0; i < r.peaks.size(); ++i) {
            const KwPeak& p = r.peaks[i];
            EXPECT_TRUE(std::isfinite(p.getLocatn()) && p.getLocatn() >= 0.0 &&
                        p.getLocatn() < run.numData)
                << name;
            EXPECT_TRUE(i == 0 || p.getLocatn() >= r.peaks[i - 1].getLocatn()) << name;
        }
    }
    EXPECT_GT(replayed, 0);
}
