// Writes the seed corpora of the fuzz targets: small valid files of every
// input format, made with the library's own writers and its simulator.
//
//   fuzz_seeds OUTDIR   ->  OUTDIR/<target>/<seed>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "abif_builder.h"
#include "fuzz_util.h"
#include "kwsignal/capillary.h"
#include "kwsignal/rundata.h"
#include "kwsignal/separation.h"
#include "kwsignal/simulate.h"

namespace {

using Rows = std::vector<std::vector<double>>;

std::string outDir;

// A plausible separation matrix of a four-dye run.
const Rows kSeparation = {{1.08, -0.27, 0.02, -0.01},
                          {-0.25, 1.12, -0.26, 0.03},
                          {0.03, -0.24, 1.1, -0.22},
                          {-0.01, 0.02, -0.27, 1.05}};

void makeDir(const std::string& path) {
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        std::perror(path.c_str());
        std::exit(1);
    }
}

// Writes one seed into the corpora of the given targets.
void seed(std::initializer_list<const char*> targets, const std::string& name,
          const std::string& bytes) {
    for (const char* target : targets) kwfuzz::writeFile(outDir + "/" + target + "/" + name, bytes);
}

std::string slurp(const std::string& path) {
    std::string bytes;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return bytes;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) bytes.append(buf, n);
    std::fclose(f);
    std::remove(path.c_str());
    return bytes;
}

// A simulated raw capillary cut to at most maxSamples samples.
Rows simulated(int bases, double rate, size_t maxSamples, uint32_t seed = 7) {
    kw::SimulationOptions o;
    o.seed = seed;
    o.bases = bases;
    o.rate = rate;
    Rows rows = kw::simulateCapillary(o).channels;
    for (std::vector<double>& r : rows)
        if (r.size() > maxSamples) r.resize(maxSamples);
    return rows;
}

// ---- text files ------------------------------------------------------------

std::string exportFile(Rows rows, double rate) {
    std::vector<double*> ptrs;
    for (std::vector<double>& r : rows) ptrs.push_back(r.data());
    KwCap cap(static_cast<int>(rows.size()), static_cast<int>(rows[0].size()), ptrs.data(), rate);
    std::string path = kwfuzz::scratchPath("export.txt");
    cap.output(&path[0]);
    return slurp(path);
}

std::string numberRows(const Rows& rows, bool indexed, const char* lineEnd) {
    std::string out;
    char buf[64];
    for (size_t s = 0; s < rows[0].size(); ++s) {
        if (indexed) out += std::to_string(s) + " ";
        for (const std::vector<double>& r : rows) {
            std::snprintf(buf, sizeof buf, "%f ", r[s]);
            out += buf;
        }
        out += lineEnd;
    }
    return out;
}

std::string processedFile(const Rows& rows, const char* rate) {
    return "pRoCeSsEd run " + std::to_string(rows.size()) + " " + std::to_string(rows[0].size()) +
           " " + rate + " 7\n" + numberRows(rows, false, "\n");
}

std::string lineCountFile(const Rows& rows, const char* lineEnd) {
    return "N_LINES: " + std::to_string(rows[0].size()) + " x y" + lineEnd +
           numberRows(rows, false, lineEnd);
}

std::string indexedFile(const Rows& rows) {
    return std::to_string(rows[0].size()) + "\n" + numberRows(rows, true, "\n");
}

void textSeeds() {
    const Rows sim = simulated(30, 3.0, 120);
    const Rows two(sim.begin(), sim.begin() + 2);
    const Rows three(sim.begin(), sim.begin() + 3);
    const Rows one(sim.begin(), sim.begin() + 1);
    const Rows slow = simulated(20, 1.0, 60);
    seed({"text", "formats"}, "export4.txt", exportFile(sim, 3.0));
    seed({"text", "formats"}, "export2.txt", exportFile(two, 3.0));
    seed({"text", "formats"}, "export3.txt", exportFile(three, 3.0));
    seed({"text", "formats"}, "processed3.txt", processedFile(sim, "3.0"));
    seed({"text", "formats"}, "processed1.txt",
         processedFile(Rows(slow.begin(), slow.begin() + 2), "1.0"));
    seed({"text", "formats"}, "processed2.txt", processedFile(one, "2.0"));
    seed({"text", "formats"}, "processed175.txt", processedFile(three, "1.75"));
    seed({"text", "formats"}, "nlines4.txt", lineCountFile(slow, "\n"));
    seed({"text", "formats"}, "nlines3crlf.txt",
         lineCountFile(Rows(slow.begin(), slow.begin() + 3), "\r\n"));
    seed({"text", "formats"}, "nlines1.txt",
         lineCountFile(Rows(slow.begin(), slow.begin() + 1), "\n"));
    seed({"text", "formats"}, "indexed.txt", indexedFile(Rows(slow.begin(), slow.begin() + 2)));
    seed({"text", "formats"}, "short.txt", "5\n0 1 2\n1 3 4\n2 5 6\n3 7 8\n4 9 10\n");
    seed({"text"}, "points.txt", "3\n0 1.5 2.5\n1 2.5 3.5\n2 -1e3 nan\n");
}

// ---- ABIF ------------------------------------------------------------------

// An ABIF file of these samples' 16-bit words (type 4 signed, 3 unsigned).
void words(kwtest::AbifBuilder& b, const char* name, int number, const std::vector<double>& v,
           int type = 4) {
    std::vector<int> w;
    for (double x : v) w.push_back(static_cast<int>(x));
    b.shorts(name, number, w, type);
}

void abifSeeds() {
    const Rows sim = simulated(60, 3.0, 400);
    kwtest::AbifBuilder seq;
    for (int d = 1; d <= 4; ++d) {
        words(seq, "DATA", d, sim[d - 1]);
        words(seq, "DATA", 8 + d, std::vector<double>(sim[d - 1].begin(), sim[d - 1].begin() + 50));
        seq.text("DyeN", d, "dye" + std::to_string(d), 18);
    }
    words(seq, "Dye#", 1, {4});
    seq.text("FWO_", 1, "GATC");
    seq.text("MODL", 1, "3730");
    seq.text("SMPL", 1, "seed run", 18);
    seq.text("PBAS", 2, "ACGTACGTAC");
    words(seq, "PLOC", 2, {3, 8, 13, 18, 23, 28, 33, 38, 43, 48}, 3);
    for (int n = 1; n <= 4; ++n) seq.stamp(n, 10, n * 5, n, 2021, 3, 14);
    seed({"abif", "formats"}, "sequencing.ab1", seq.build());

    kwtest::AbifBuilder frag;
    for (int d = 1; d <= 4; ++d) words(frag, "DATA", d, sim[d - 1]);
    words(frag, "DATA", 105, sim[0]);
    words(frag, "Dye#", 1, {5});
    for (int d = 1; d <= 5; ++d) frag.text("DyeN", d, "F" + std::to_string(d), 19);
    frag.text("MODL", 1, "3130");
    frag.stamp(3, 9, 0, 0, 2021, 3, 14);
    frag.stamp(4, 9, 2, 10, 2021, 3, 14);
    seed({"abif", "formats"}, "fragment.fsa", frag.build());

    kwtest::AbifBuilder legacy;  // unsigned words, hand-edited calls, whole-run times only
    for (int d = 1; d <= 4; ++d)
        words(legacy, "DATA", d, std::vector<double>(sim[d - 1].begin(), sim[d - 1].begin() + 40),
              3);
    legacy.text("FWO_", 1, "acgt");
    legacy.text("PBAS", 1, "NNN");
    words(legacy, "PLOC", 1, {1, 2, 3}, 4);
    legacy.stamp(1, 8, 0, 0, 2021, 3, 14);
    legacy.stamp(2, 9, 0, 0, 2021, 3, 14);
    seed({"abif", "formats"}, "legacy.ab1", legacy.build());

    kwtest::AbifBuilder tiny;  // two scans: every channel lives inside its entry
    for (int d = 1; d <= 4; ++d) words(tiny, "DATA", d, {static_cast<double>(d), -1.0});
    seed({"abif", "formats"}, "tiny.ab1", tiny.build());
}

// ---- run-data files --------------------------------------------------------

void qrdSeed(const std::string& name, const std::vector<std::vector<uint32_t>>& channels) {
    const std::string path = kwfuzz::scratchPath(name);
    const std::string problem = kw::writeRunData(path, channels);
    if (!problem.empty()) {
        std::fprintf(stderr, "fuzz_seeds: %s\n", problem.c_str());
        std::exit(1);
    }
    seed({"qrd", "formats"}, name, slurp(path));
}

void qrdSeeds() {
    const Rows sim = simulated(30, 3.0, 200);
    std::vector<std::vector<uint32_t>> four;
    for (const std::vector<double>& r : sim) {
        four.emplace_back();
        for (double v : r) four.back().push_back(static_cast<uint32_t>(v > 0.0 ? v : 0.0));
    }
    qrdSeed("four.qrd", four);
    qrdSeed("one.qrd", {{1, 2, 3, 4, 5, 4294967295u}});
    qrdSeed("six.qrd", std::vector<std::vector<uint32_t>>(6, {7, 8, 9}));
    qrdSeed("empty.qrd", std::vector<std::vector<uint32_t>>(4));
}

// ---- separation matrices ---------------------------------------------------

std::string tableText(const std::vector<std::vector<double>>& m) {
    KwSpecSepTable table(static_cast<int>(m.size()));
    for (size_t r = 0; r < m.size(); ++r)
        for (size_t q = 0; q < m.size(); ++q)
            table(static_cast<int>(r), static_cast<int>(q)) = m[r][q];
    const std::string path = kwfuzz::scratchPath("table.txt");
    table.output(path.c_str());
    return slurp(path);
}

void matrixSeeds() {
    seed({"matrix"}, "identity4.txt",
         tableText({{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}));
    seed({"matrix"}, "separation4.txt", tableText(kSeparation));
    seed({"matrix"}, "two.txt", tableText({{1.0, -0.3}, {-0.2, 1.0}}));
    seed({"matrix"}, "one.txt", tableText({{2.5}}));
    seed({"matrix"}, "crlf3.txt", "1 0 0\r\n\r\n0 1e-3 0\r\n0 0 -1.5E+2\r\n");
}

// ---- capillaries for the road ------------------------------------------

void pipelineSeeds() {
    const Rows run = simulated(120, 3.0, kwfuzz::kMaxSamples);
    seed({"pipeline"}, "run4.cap", kwfuzz::encodeCapillary(run, 3.0));
    seed({"pipeline"}, "run2.cap",
         kwfuzz::encodeCapillary(Rows(run.begin(), run.begin() + 2), 3.0));
    seed({"pipeline"}, "run1.cap",
         kwfuzz::encodeCapillary(Rows(run.begin(), run.begin() + 1), 3.0));
    seed({"pipeline"}, "slow.cap", kwfuzz::encodeCapillary(simulated(80, 1.0, 2000, 3), 1.0));
    Rows damaged = run;
    for (size_t s = 100; s < damaged[2].size(); s += 397) damaged[2][s] = std::nan("");
    damaged[1][50] = std::numeric_limits<double>::infinity();
    seed({"pipeline"}, "nan.cap", kwfuzz::encodeCapillary(damaged, 3.0));
    Rows flat = run;
    flat[3].assign(flat[3].size(), 120.0);
    seed({"pipeline"}, "flat.cap", kwfuzz::encodeCapillary(flat, 3.0));
    seed({"pipeline"}, "short.cap", kwfuzz::encodeCapillary(simulated(5, 3.0, 50), 3.0));
    std::vector<std::vector<float>> system;
    for (const std::vector<double>& row : kSeparation) system.emplace_back(row.begin(), row.end());
    seed({"pipeline"}, "refine4.cap", kwfuzz::encodeCapillary(run, 3.0, system));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds OUTDIR\n");
        return 2;
    }
    outDir = argv[1];
    makeDir(outDir);
    for (const char* t : {"abif", "qrd", "text", "formats", "matrix", "pipeline"})
        makeDir(outDir + "/" + t);
    textSeeds();
    abifSeeds();
    qrdSeeds();
    matrixSeeds();
    pipelineSeeds();
    return 0;
}
