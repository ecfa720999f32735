// The kwsignal tool as a user runs it: bad input (one clear line each,
// never a crash or a hang), runs without signal,
// batches with a failure, the output files, the demonstration's recovery
// figures, simulation, format conversion, matrices carried between runs and
// the command line itself.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "abif_builder.h"
#include "kwsignal/fragments.h"
#include "kwsignal/report.h"
#include "kwsignal/rundata.h"
#include "kwsignal/simulate.h"

namespace {

#ifdef KWSIGNAL_CLI
const std::string kCli = KWSIGNAL_CLI;
#else
const std::string kCli;
#endif

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void spit(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

bool exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

struct PeakRow {
    std::string channel;
    int code = -1;
    double locatn = 0.0;
};

// The rows of a peaks.tsv after its header.
std::vector<PeakRow> peakRows(const std::string& path) {
    std::vector<PeakRow> rows;
    const std::vector<std::string> text = lines(slurp(path));
    for (size_t k = 1; k < text.size(); ++k) {
        std::istringstream row(text[k]);
        PeakRow p;
        row >> p.channel >> p.code >> p.locatn;
        rows.push_back(p);
    }
    return rows;
}

struct Result {
    int status = -1;
    std::string out, err;
};

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        if (kCli.empty()) GTEST_SKIP() << "the kwsignal tool is not part of this build";
        char name[] = "/tmp/kwsignal-cli-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
    }
    void TearDown() override {
        if (!dir.empty()) std::system(("rm -rf '" + dir + "'").c_str());
    }

    Result kwsignal(const std::string& args) const {
        const std::string cmd =
            "'" + kCli + "' " + args + " >'" + dir + "/stdout' 2>'" + dir + "/stderr' </dev/null";
        const int w = std::system(cmd.c_str());
        Result r;
        r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
        r.out = slurp(dir + "/stdout");
        r.err = slurp(dir + "/stderr");
        // In the sanitizer build a memory error ends the tool with a report.
        EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("runtime error:"), std::string::npos) << r.err;
        return r;
    }

    std::string path(const std::string& name) const { return dir + "/" + name; }

    // A simulated run written as an export file; returns its path.
    std::string simulated(const std::string& name, const kw::SimulationOptions& o,
                          kw::SimulatedCapillary* sim = nullptr) const {
        const kw::SimulatedCapillary s = kw::simulateCapillary(o);
        EXPECT_EQ(kw::writeSimulation(path(name), s), "");
        if (sim != nullptr) *sim = s;
        return path(name);
    }

    std::string dir;
};

// The one stderr line about `file`, empty when there is none; count
// receives how many lines name it.
std::string lineAbout(const std::string& err, const std::string& file, int& count) {
    std::string found;
    count = 0;
    for (const std::string& l : lines(err))
        if (l.find(file + ": ") != std::string::npos) {
            found = l;
            ++count;
        }
    return found;
}

// Every refused file gets exactly one printable line naming it and the
// reason, from `info` and from `process` on one or several threads; nothing
// is written for it, and the status says a file failed.
TEST_F(Cli, BadInputNamesTheFileAndTheReason) {
    spit(path("empty.ab1"), "");
    spit(path("blank.txt"), " \n\t\n");
    spit(path("unknown.txt"), "hello world\n1 2 3\n");
    spit(path("junk.bin"), std::string("\x01\x02\x00\x7f junk", 10));
    spit(path("cut.ab1"), std::string("ABIF\x00\x65tdir", 10));
    spit(path("cut.txt"), "C_A_G_T:     1000\nTHIS_IS_3_Hz_DATA:\n4Traces:\n1 2 3 4\n5 6 7 8\n");
    spit(path("huge.txt"), "2147483647\n0 1 2\n");
    spit(path("nan.txt"), "pRoCeSsEd x 2 2 3.0 0\n1 2\nnan 4\n");
    spit(path("header.txt"), "N_LINES: 5 a b\n");
    std::string fifty = "N_LINES: 50 a b\n";
    for (int i = 0; i < 50; ++i) fifty += "10 20 30 40\n";
    spit(path("fifty.txt"), fifty);
    ASSERT_EQ(kw::writeRunData(path("none.qrd"), std::vector<std::vector<uint32_t>>(4)), "");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {path("missing.ab1"), "no such file"},
        {path("empty.ab1"), "empty"},
        {path("blank.txt"), "unknown format"},
        {path("unknown.txt"), "unknown format"},
        {path("junk.bin"), "unknown format"},
        {path("cut.ab1"), "truncated"},
        {path("cut.txt"), "truncated"},
        {path("huge.txt"), "malformed"},
        {path("nan.txt"), "not a finite"},
        {path("header.txt"), "malformed"},
        {path("fifty.txt"), "too short"},
        {path("none.qrd"), "no samples"},
        {dir, "directory"}};
    std::string files;
    for (const auto& c : cases) files += " '" + c.first + "'";
    for (const std::string& command :
         {std::string("info"), "process --quiet -j 1 -o '" + path("out") + "'",
          "process --quiet -j 3 -o '" + path("out") + "'"}) {
        const Result r = kwsignal(command + files);
        EXPECT_EQ(r.status, 1) << r.err;
        for (const auto& c : cases) {
            // A run too short to process is still a readable file.
            if (command == "info" && c.second == std::string("too short")) continue;
            int count = 0;
            const std::string line = lineAbout(r.err, c.first, count);
            EXPECT_EQ(count, 1) << command << " " << c.first << "\n" << r.err;
            EXPECT_NE(line.find(c.second), std::string::npos) << line;
            EXPECT_LT(line.size(), 400u);
            for (char ch : line) EXPECT_GE(static_cast<unsigned char>(ch), 32) << line;
        }
        EXPECT_FALSE(exists(path("out/unknown")));  // nothing written for a refused file
    }
    // Without read permission (root reads everything, so only as a user).
    if (getuid() != 0) {
        spit(path("locked.txt"), "N_LINES: 1 a b\n1\n");
        chmod(path("locked.txt").c_str(), 0);
        const Result r = kwsignal("info '" + path("locked.txt") + "'");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("cannot open"), std::string::npos) << r.err;
    }
}

TEST_F(Cli, OneFailureDoesNotStopTheOthers) {
    kw::SimulationOptions o;
    o.bases = 150;
    const std::string good = simulated("good.txt", o);
    const Result r =
        kwsignal("process -j 2 -o '" + path("out") + "' '" + path("gone.ab1") + "' '" + good + "'");
    EXPECT_EQ(r.status, 1);
    for (const char* f : {"processed.txt", "matrix.txt", "peaks.tsv", "summary.json", "plot.svg",
                          "calls.fastq", "calls.tsv", "calls.scf"})
        EXPECT_TRUE(exists(path("out/good/") + f)) << f;
    // No temporary names left behind, no progress line without a terminal.
    DIR* d = opendir(path("out/good").c_str());
    ASSERT_NE(d, nullptr);
    int entries = 0;
    for (dirent* e = readdir(d); e != nullptr; e = readdir(d))
        if (e->d_name[0] != '.') ++entries;
    closedir(d);
    EXPECT_EQ(entries, 8);
    EXPECT_EQ(r.err.find('\r'), std::string::npos);
}

TEST_F(Cli, RunWithoutSignalIsAResult) {
    std::ostringstream text;
    text << "C_A_G_T:     6000\nTHIS_IS_3_Hz_DATA:\n4Traces:\n";
    unsigned state = 12345u;
    for (int i = 0; i < 6000; ++i) {
        for (int t = 0; t < 4; ++t) {
            state = state * 1103515245u + 12345u;
            text << 200 + static_cast<int>((state >> 16) % 7) << ' ';
        }
        text << '\n';
    }
    spit(path("failed.txt"), text.str());
    const Result r =
        kwsignal("process --quiet -o '" + path("out") + "' '" + path("failed.txt") + "'");
    EXPECT_EQ(r.status, 3) << r.err;
    int count = 0;
    EXPECT_NE(lineAbout(r.err, path("failed.txt"), count).find("warning"), std::string::npos);
    const auto summary = nlohmann::json::parse(slurp(path("out/failed/summary.json")));
    EXPECT_EQ(summary["status"], "no_signal");
    EXPECT_EQ(summary["peaks"], 0);
    EXPECT_EQ(lines(slurp(path("out/failed/peaks.tsv"))).size(), 1u);  // the header alone
}

TEST_F(Cli, OutputsOfAProcessedRun) {
    kw::SimulationOptions o;
    o.bases = 200;
    const std::string input = simulated("run.txt", o);
    const Result r = kwsignal("process -o '" + path("out") + "' '" + input + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> peaks = lines(slurp(path("out/run/peaks.tsv")));
    ASSERT_GT(peaks.size(), 150u);
    EXPECT_EQ(
        peaks[0],
        "channel\ttrace_code\tlocatn\theight\tsigma\tbase\tarea\tstart_pnt\tend_pnt\tvariance");
    double previous = -1.0;
    for (const PeakRow& p : peakRows(path("out/run/peaks.tsv"))) {
        ASSERT_TRUE(p.code >= 0 && p.code < 4) << p.channel;
        EXPECT_EQ(p.channel, std::string(1, "CAGT"[p.code]));
        EXPECT_GE(p.locatn, previous);
        previous = p.locatn;
    }
    EXPECT_EQ(lines(slurp(path("out/run/matrix.txt"))).size(), 4u);
    EXPECT_EQ(slurp(path("out/run/processed.txt")).rfind("C_A_G_T:", 0), 0u);
    const std::string svg = slurp(path("out/run/plot.svg"));
    EXPECT_NE(svg.find("<svg"), std::string::npos);
    EXPECT_NE(svg.find("</svg>"), std::string::npos);
    const auto s = nlohmann::json::parse(slurp(path("out/run/summary.json")));
    EXPECT_EQ(s["status"], "ok");
    EXPECT_EQ(s["format"], "export");
    EXPECT_EQ(s["separation"]["mode"], "learned");
    EXPECT_EQ(s["channels"].size(), 4u);
    EXPECT_EQ(s["peaks"], peaks.size() - 1);
    for (const char* stage : {"window", "separate", "filter", "events", "fit"})
        EXPECT_TRUE(s["time_ms"]["stages"].contains(stage)) << stage;
}

TEST_F(Cli, DemoMeetsItsRecoveryTargets) {
    const Result r = kwsignal("demo -o '" + path("demo") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("outputs in"), std::string::npos);
    const auto rec = nlohmann::json::parse(slurp(path("demo/recovery.json")));
    EXPECT_GE(rec["recall"].get<double>(), 0.98);
    EXPECT_GE(rec["precision"].get<double>(), 0.98);
    EXPECT_LE(rec["median_centre_error"].get<double>(), 0.3);
    EXPECT_LE(rec["separation_residual"].get<double>(), 0.02);
    EXPECT_TRUE(exists(path("demo/demo/plot.svg")));
}

TEST_F(Cli, SimulateWritesTheRunAndItsTruth) {
    const Result r = kwsignal("simulate --bases 50 --seed 3 --rate 2 -o '" + path("s.txt") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(slurp(path("s.txt.truth.tsv"))).size(), 51u);
    EXPECT_EQ(lines(slurp(path("s.txt.truth_matrix.txt"))).size(), 4u);
    const Result info = kwsignal("info '" + path("s.txt") + "'");
    EXPECT_EQ(info.status, 0);
    EXPECT_NE(info.out.find("format        export"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("traces        4 (C A G T)"), std::string::npos) << info.out;
    EXPECT_EQ(kwsignal("simulate --bases 0").status, 2);
}

// `call` writes one record per file that can be called, in the order given;
// a file that cannot is named on stderr and has none.
TEST_F(Cli, CallWritesOneRecordPerFile) {
    kw::SimulationOptions o;
    o.bases = 200;
    kw::SimulatedCapillary sim;
    const std::string run = simulated("run.txt", o, &sim);
    std::string truth;
    for (const kw::SimulatedPeak& p : sim.peaks) truth += "CAGT"[p.channel];
    const Result fq = kwsignal("call --quiet -o '" + path("all.fq") + "' '" + run + "' '" +
                               path("gone.ab1") + "' '" + run + "'");
    EXPECT_EQ(fq.status, 1);
    EXPECT_NE(fq.err.find("gone.ab1: no such file"), std::string::npos) << fq.err;
    const std::vector<std::string> l = lines(slurp(path("all.fq")));
    ASSERT_EQ(l.size(), 8u);
    EXPECT_EQ(l[0], "@run");
    EXPECT_EQ(l[1], truth);  // a clean simulated run is called without an error
    EXPECT_EQ(l[3].size(), l[1].size());
    EXPECT_EQ(l[4], l[0]);
    const Result fa = kwsignal("call --fasta --trim '" + run + "'");
    ASSERT_EQ(fa.status, 0) << fa.err;
    EXPECT_EQ(fa.out.rfind(">run\n", 0), 0u) << fa.out;
    EXPECT_LE(fa.out.size(), truth.size() + truth.size() / 70 + 8);
}

// A 1 Hz line-count file is read at 3 Hz, processed there, and its peaks
// come back in the file's own sample numbers.
TEST_F(Cli, OneHertzFilesKeepTheirSampleNumbers) {
    kw::SimulationOptions o;
    o.bases = 250;
    o.rate = 3.0;
    const kw::SimulatedCapillary sim = kw::simulateCapillary(o);
    const size_t n = sim.channels[0].size() / 3;
    std::ostringstream text;
    text << "N_LINES: " << n << " a b\n";
    for (size_t i = 0; i < n; ++i)
        text << sim.channels[0][3 * i] << ' ' << sim.channels[1][3 * i] << ' '
             << sim.channels[2][3 * i] << ' ' << sim.channels[3][3 * i] << '\n';
    spit(path("slow.txt"), text.str());
    const Result info = kwsignal("info '" + path("slow.txt") + "'");
    EXPECT_NE(info.out.find("samples       " + std::to_string(3 * n)), std::string::npos)
        << info.out;
    const Result r =
        kwsignal("process --quiet -o '" + path("out") + "' '" + path("slow.txt") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<PeakRow> rows = peakRows(path("out/slow/peaks.tsv"));
    int near = 0;
    for (const kw::SimulatedPeak& p : sim.peaks)
        for (const PeakRow& row : rows)
            if (row.code == p.channel &&
                std::fabs(row.locatn - p.centre / 3.0) < 0.5 * sim.spacing / 3.0) {
                ++near;
                break;
            }
    EXPECT_GT(near, 0.9 * sim.peaks.size());
}

TEST_F(Cli, OtherFormatsAreRecognised) {
    spit(path("p.txt"), "pRoCeSsEd x 2 3 3.0 7\n1 2\n3 4\n5 6\n");
    spit(path("i.txt"), "6\n0 1 2\n1 3 4\n2 5 6\n3 7 8\n4 9 10\n5 11 12\n");
    ASSERT_EQ(kw::writeRunData(path("r.qrd"), {{1, 2}, {3, 4}, {5, 6}, {7, 8}}), "");
    const Result r =
        kwsignal("info '" + path("p.txt") + "' '" + path("i.txt") + "' '" + path("r.qrd") + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* f : {"format        processed", "format        indexed", "format        qrd"})
        EXPECT_NE(r.out.find(f), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("samples       18"), std::string::npos);  // 1 Hz indexed file at 3 Hz
    // A format asked for explicitly must match the file.
    const Result wrong = kwsignal("info --format abif '" + path("p.txt") + "'");
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.err.find("not an ABIF file"), std::string::npos) << wrong.err;
}

TEST_F(Cli, MatrixFromAnEarlierRunIsRefinedOnTheNext) {
    kw::SimulationOptions o;
    o.bases = 300;
    const std::string first = simulated("first.txt", o);
    o.seed = 99;
    const std::string second = simulated("second.txt", o);
    ASSERT_EQ(kwsignal("process --quiet -o '" + path("a") + "' '" + first + "'").status, 0);
    const Result r = kwsignal("process --quiet --matrix '" + path("a/first/matrix.txt") + "' -o '" +
                              path("b") + "' '" + second + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto s = nlohmann::json::parse(slurp(path("b/second/summary.json")));
    const std::string mode = s["separation"]["mode"];
    EXPECT_TRUE(mode == "refined" || mode == "system") << mode;
    EXPECT_EQ(lines(slurp(path("b/second/matrix.txt"))).size(), 4u);

    spit(path("two.txt"), "1 0\n0 1\n");
    const Result mismatch = kwsignal("process --quiet --matrix '" + path("two.txt") + "' -o '" +
                                     path("c") + "' '" + second + "'");
    EXPECT_EQ(mismatch.status, 1);
    EXPECT_NE(mismatch.err.find("2 x 2"), std::string::npos) << mismatch.err;
    spit(path("bad.txt"), "1 0 0\n0 1\n");
    EXPECT_EQ(kwsignal("process --matrix '" + path("bad.txt") + "' '" + second + "'").status, 2);
}

TEST_F(Cli, CommandLineErrorsAreUsageErrors) {
    EXPECT_EQ(kwsignal("").status, 2);
    EXPECT_EQ(kwsignal("frobnicate").status, 2);
    EXPECT_EQ(kwsignal("process").status, 2);
    EXPECT_EQ(kwsignal("process -j 0 x.ab1").status, 2);
    EXPECT_EQ(kwsignal("process --format bogus x.ab1").status, 2);
    EXPECT_EQ(kwsignal("--help").status, 0);
}

// A fragment-analysis run takes the fragment road: the dyes' peaks sized
// against the standard the data fit, no sequencing outputs; a run whose
// standard fits no definition is processed but sized nowhere (status 3).
TEST_F(Cli, FragmentRunsAreSizedOrRefusedToSize) {
    kw::FragmentSimulationOptions o;
    o.dyes = 4;
    o.standardDye = 3;
    o.standardBp = kw::sizeStandards()[0].sizesBp;  // GS500
    const kw::SimulatedFragmentRun sim = kw::simulateFragmentRun(o);
    std::vector<double*> rows;
    for (const auto& d : sim.dyes) rows.push_back(const_cast<double*>(d.data()));
    const KwCap cap(4, static_cast<int>(sim.dyes[0].size()), rows.data(), 3.0);
    ASSERT_EQ(kw::writeProcessed(path("frag.txt"), cap), "");
    spit(path("panel.txt"), "marker M1 0 100 300 4\nbin M1 a 150 1\n");
    const Result r =
        kwsignal("process --quiet --kind fragments --sizing lsq3 --panel '" + path("panel.txt") +
                 "' -o '" + path("out") + "' '" + path("frag.txt") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> t = lines(slurp(path("out/frag/fragments.tsv")));
    ASSERT_GT(t.size(), 20u);
    EXPECT_EQ(t[0],
              "dye\tdye_name\tchannel\tlocatn\tsize_bp\theight\tarea\tfwhm\tis_standard\tflags"
              "\tlocus\tallele");
    EXPECT_TRUE(exists(path("out/frag/genotypes.tsv")));
    EXPECT_TRUE(exists(path("out/frag/plot.svg")));
    EXPECT_FALSE(exists(path("out/frag/peaks.tsv")));
    const auto s = nlohmann::json::parse(slurp(path("out/frag/summary.json")));
    EXPECT_EQ(s["kind"], "fragments");
    EXPECT_EQ(s["fragments"]["standard"]["name"], "GS500");
    EXPECT_EQ(s["fragments"]["sizing_method"], "lsq3");
    // A higher amplitude threshold lists fewer peaks, none below it.
    ASSERT_EQ(kwsignal("process --quiet --kind fragments --min-height 1000 -o '" + path("high") +
                       "' '" + path("frag.txt") + "'")
                  .status,
              0);
    const std::vector<std::string> high = lines(slurp(path("high/frag/fragments.tsv")));
    EXPECT_LT(high.size(), t.size());
    for (std::size_t k = 1; k < high.size(); ++k) {
        std::size_t height = 0;  // after the fifth tab
        for (int tab = 0; tab < 5; ++tab) height = high[k].find('\t', height) + 1;
        EXPECT_GE(std::stod(high[k].substr(height)), 1000.0) << high[k];
    }
    // A sequencing run insisted on as fragments has no standard to size with.
    kw::SimulationOptions so;
    so.bases = 200;
    const std::string seq = simulated("seq.txt", so);
    const Result none =
        kwsignal("process --quiet --kind fragments -o '" + path("out") + "' '" + seq + "'");
    EXPECT_EQ(none.status, 3) << none.err;
    EXPECT_NE(none.err.find("warning: " + seq + ": "), std::string::npos) << none.err;
    const auto n = nlohmann::json::parse(slurp(path("out/seq/summary.json")));
    EXPECT_NE(n["status"], "ok");
    EXPECT_EQ(n["fragments"]["standard"]["name"], nullptr);
}

// Fragment runs of every dye layout written as ABIF: the standard's dye
// from its name, the dye set, the old standard flag, or the data.
TEST_F(Cli, EveryDyeLayoutFindsItsStandard) {
    struct Layout {
        const char* name;
        int dyes, standardDye;
        const char* standard;
        std::vector<std::string> names;
        std::string dyeSet;
        bool flagged;
        bool warned;  // the file points to another dye
    };
    const std::vector<Layout> layouts = {
        {"six", 6, 5, "GS600", {"6-FAM", "VIC", "NED", "TAZ", "SID", "LIZ"}, "J6", false, false},
        {"six_set", 6, 5, "GS500", {}, "J6", false, false},
        {"eight_data", 8, 6, "GS500", {}, "", false, true},
        {"four_flag", 4, 2, "GS400HD", {"Dye1", "Dye2", "Dye3", "Dye4"}, "", true, false},
    };
    std::string files;
    for (const Layout& l : layouts) {
        kw::FragmentSimulationOptions o;
        o.dyes = l.dyes;
        o.standardDye = l.standardDye;
        for (const kw::SizeStandard& st : kw::sizeStandards())
            if (std::string(st.name) == l.standard) o.standardBp = st.sizesBp;
        const kw::SimulatedFragmentRun sim = kw::simulateFragmentRun(o);
        kwtest::AbifBuilder b;
        for (int d = 1; d <= l.dyes; ++d) {
            std::vector<int> w;
            for (double v : sim.dyes[d - 1]) w.push_back(static_cast<int>(v));
            b.shorts("DATA", d <= 4 ? d : 100 + d, w);
            if (!l.names.empty()) b.text("DyeN", d, l.names[d - 1], 18);
        }
        b.shorts("Dye#", 1, {l.dyes});
        if (!l.dyeSet.empty()) b.text("DySN", 1, l.dyeSet, 18);
        if (l.flagged) b.add("DyeB", l.standardDye + 1, 2, 1, "S");
        const int seconds = static_cast<int>(sim.dyes[0].size() / sim.rate);
        b.stamp(3, 9, 0, 0);
        b.stamp(4, 9 + seconds / 3600, seconds / 60 % 60, seconds % 60);
        spit(path(std::string(l.name) + ".fsa"), b.build());
        files += " '" + path(std::string(l.name) + ".fsa") + "'";
    }
    const Result r = kwsignal("process --quiet -o '" + path("out") + "'" + files);
    ASSERT_EQ(r.status, 0) << r.err;
    for (const Layout& l : layouts) {
        SCOPED_TRACE(l.name);
        const std::string out = path("out/") + l.name;
        const auto s = nlohmann::json::parse(slurp(out + "/summary.json"));
        EXPECT_EQ(s["kind"], "fragments");
        EXPECT_EQ(s["fragments"]["sizing_status"], "sized");
        EXPECT_EQ(s["fragments"]["standard"]["name"], l.standard);
        EXPECT_EQ(s["fragments"]["standard"]["dye"], l.standardDye);
        bool warned = false;
        for (const auto& w : s["warnings"])
            warned =
                warned || w.get<std::string>().find("holds no size standard") != std::string::npos;
        EXPECT_EQ(warned, l.warned);
        // Every standard row sits in the standard's raw channel.
        const std::string channel =
            "\tDATA" + std::to_string(l.standardDye < 4 ? l.standardDye + 1 : 101 + l.standardDye) +
            "\t";
        int rows = 0;
        for (const std::string& line : lines(slurp(out + "/fragments.tsv"))) {
            std::istringstream cols(line);
            std::string col;
            for (int k = 0; k <= 8; ++k) std::getline(cols, col, '\t');
            if (col == "1" || col == "2") {
                ++rows;
                EXPECT_NE(line.find(channel), std::string::npos) << line;
            }
        }
        EXPECT_GE(rows, l.standard == std::string("GS600") ? 34 : 16);
    }
}

// A table of pairs: one folder and one summary row per pair, a pair that
// fails named without stopping the others, a malformed table refused whole.
TEST_F(Cli, EditTableOfPairs) {
    EXPECT_EQ(kwsignal("edit").status, 2);
    EXPECT_EQ(kwsignal("edit --pairs x.tsv --control c.ab1").status, 2);
    spit(path("bad.tsv"), "# pairs\nc.ab1\ts.ab1\n");
    const Result bad = kwsignal("edit --pairs '" + path("bad.tsv") + "' -o '" + path("e") + "'");
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("line 2"), std::string::npos) << bad.err;
    EXPECT_FALSE(exists(path("e/edits.tsv")));

    const std::string train = std::string(KWSIGNAL_SHARED_DATA) + "/abif/train/";
    const std::string family = train + "otog-ctck-inframe-del-disulfide-md__";
    const std::string proband = family + "66940_Proband-OTOG-EX55-F.ab1";
    if (!exists(proband)) GTEST_SKIP() << "shared data file " << proband << " is not available";
    // The mother against her homozygous child: about half her reads carry the
    // child's allele; the table's relative path is taken from its folder.
    spit(path("pairs.tsv"), "control\tsample\tguide\n" + proband + "\t" + family +
                                "66943_Mother-OTOG-E55-F.ab1\tGAAGGTGACCATCCGCAAGA\n" + proband +
                                "\tmissing.ab1\tGAAGGTGACCATCCGCAAGA\n");
    const Result r = kwsignal("edit --quiet --pam N -j 2 --pairs '" + path("pairs.tsv") + "' -o '" +
                              path("e") + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(path("missing.ab1")), std::string::npos) << r.err;
    const std::vector<std::string> rows = lines(slurp(path("e/edits.tsv")));
    ASSERT_EQ(rows.size(), 3u);
    std::vector<std::string> f;
    std::istringstream row(rows[1]);
    for (std::string x; std::getline(row, x, '\t');) f.push_back(x);
    ASSERT_GE(f.size(), 10u);
    EXPECT_EQ(f[3], "ok");
    EXPECT_NEAR(std::stod(f[4]), 0.5, 0.2);
    EXPECT_TRUE(exists(f[2] + "/edit.json"));
    EXPECT_NE(rows[2].find("\tunreadable\t"), std::string::npos) << rows[2];
}

TEST_F(Cli, RealInstrumentRun) {
    const std::string file = std::string(KWSIGNAL_SHARED_DATA) + "/abif/3730.ab1";
    if (!exists(file)) GTEST_SKIP() << "shared data file " << file << " is not available";
    const Result info = kwsignal("info '" + file + "'");
    EXPECT_NE(info.out.find("base calls    1165"), std::string::npos) << info.out;
    const Result r = kwsignal("process --quiet -o '" + path("out") + "' '" + file + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto s = nlohmann::json::parse(slurp(path("out/3730/summary.json")));
    EXPECT_EQ(s["instrument"], "3730");
    EXPECT_GT(s["peaks"].get<int>(), 1000);
}

}  // namespace
