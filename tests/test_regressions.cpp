// Inputs that once broke a reader or the pipeline, found by fuzzing (fuzz/)
// and minimised. The fuzz build replays the raw inputs of
// fuzz/regressions/ as well; these are the ones that read as a test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "batch.h"

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
        std::vector<std::vector<float>> m;
        EXPECT_FALSE(kwapp::loadMatrix(path, m).empty()) << text;
        for (const std::vector<float>& row : m)
            for (float v : row) EXPECT_TRUE(std::isfinite(v)) << text;
        std::remove(path.c_str());
    }
    const std::string path = scratchFile("matrix.txt", "3.4e38 0\n0 -1e-30\n");
    std::vector<std::vector<float>> m;
    EXPECT_EQ(kwapp::loadMatrix(path, m), "");  // the float range's own edge still reads
    std::remove(path.c_str());
}
