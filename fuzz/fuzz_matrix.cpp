// Separation-matrix text files (--matrix): the tool's reader either refuses
// a file with a reason or hands back a square matrix of finite floats. A
// matrix it accepts goes through the library's table (normalisation,
// damping, text output) and the table's text reads back as the same size.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "kwsignal/run.h"
#include "kwsignal/separation.h"

namespace {

// The largest table put through the library: inversion is cubic in size.
constexpr size_t kMaxTable = 16;

// True when every element can be read back as a matrix file's element: a
// finite number within the single-precision range.
bool allRepresentable(const KwSpecSepTable& table, int n) {
    for (int r = 0; r < n; ++r)
        for (int q = 0; q < n; ++q)
            if (!(std::fabs(table(r, q)) <= std::numeric_limits<float>::max())) return false;
    return true;
}

void throughTable(const std::vector<std::vector<double>>& m, const std::string& outPath) {
    const int n = static_cast<int>(m.size());
    KwSpecSepTable table(n);
    for (int r = 0; r < n; ++r)
        for (int q = 0; q < n; ++q) table(r, q) = m[r][q];
    table.normalizeXTalkMatrix();
    table.damping(0.5);
    table.output(outPath.c_str());
    // A singular or nearly singular matrix gives "nan" or elements beyond the
    // float range, which the reader rightly refuses.
    if (!allRepresentable(table, n)) return;
    std::vector<std::vector<double>> back;
    kwfuzz::require(!kw::readMatrixFile(outPath, back) && back.size() == m.size(),
                    "the table's text output reads back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = kwfuzz::scratchPath("matrix.txt");
    static const std::string outPath = kwfuzz::scratchPath("table.txt");
    kwfuzz::writeFile(path, data, size);
    std::vector<std::vector<double>> m;
    if (kw::readMatrixFile(path, m)) {
        kwfuzz::require(m.empty(), "a refused matrix is left empty");
        return 0;
    }
    kwfuzz::require(!m.empty(), "an accepted matrix has rows");
    for (const std::vector<double>& row : m) {
        kwfuzz::require(row.size() == m.size(), "square");
        for (double v : row)
            kwfuzz::require(std::isfinite(static_cast<float>(v)), "finite in single precision");
    }
    if (m.size() <= kMaxTable) throughTable(m, outPath);
    return 0;
}
