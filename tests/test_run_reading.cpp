// Reading runs from memory and files below the command line: which format
// the bytes hold, what each refusal is called, what a read run holds; and
// the peak rows and tables reported in the file's own sample numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kwsignal/capillary.h"
#include "kwsignal/report.h"
#include "kwsignal/run.h"
#include "kwsignal/rundata.h"

namespace {

using kw::Format;
using kw::ReadErrorKind;

// The bytes are handed over without a NUL after them, as a caller's buffer
// may be: the sanitizer build catches a reader that runs past their end.
kw::ReadError readText(const std::string& text, kw::Run& run, Format f = Format::automatic) {
    const std::vector<char> bytes(text.begin(), text.end());
    return kw::readRunBytes(bytes.data(), bytes.size(), "mem.txt", run, f);
}

std::string rowsOf(int n, int perRow, bool indexed) {
    std::string s;
    for (int i = 0; i < n; ++i) {
        if (indexed) s += std::to_string(i) + " ";
        for (int k = 0; k < perRow; ++k) s += std::to_string(10 * k + i) + ".5 ";
        s += "\n";
    }
    return s;
}

TEST(RunReading, EachTextFormatIsRecognisedAndRead) {
    struct Case {
        std::string text;
        Format format;
        int traces, samples;
        double rate, scale;
    };
    const std::vector<Case> cases = {
        {"C_A_G_T: 6\nTHIS_IS_3_Hz_DATA:\n4Traces:\n" + rowsOf(6, 4, false), Format::exportFile, 4,
         6, 3.0, 1.0},
        {"THIS_IS_3_Hz_DATA:\n3Traces:\n" + rowsOf(5, 3, false), Format::exportFile, 3, 5, 3.0,
         1.0},
        {"pRoCeSsEd x 2 7 2.0 0\n" + rowsOf(7, 2, false), Format::processed, 2, 7, 2.0, 1.0},
        {"N_LINES: 6 a b\n" + rowsOf(6, 4, false), Format::nlines, 4, 18, 3.0, 3.0},
        {"6\n" + rowsOf(6, 2, true), Format::indexed, 2, 18, 3.0, 3.0},
    };
    for (const Case& c : cases) {
        kw::Run run;
        const kw::ReadError e = readText(c.text, run);
        ASSERT_FALSE(e) << e.message;
        EXPECT_EQ(run.format, c.format) << c.text;
        EXPECT_EQ(run.numTraces, c.traces);
        EXPECT_EQ(run.numData, c.samples);
        EXPECT_DOUBLE_EQ(run.rate, c.rate);
        EXPECT_DOUBLE_EQ(run.coordinateScale, c.scale);
        ASSERT_EQ(static_cast<int>(run.rows.size()), c.traces);
        // 1 Hz samples come back at every third position; an index column
        // is not a sample.
        EXPECT_DOUBLE_EQ(run.rows[1][static_cast<size_t>(3 * c.scale)], 13.5) << c.text;
        EXPECT_EQ(run.channelName(0), c.traces == 4 ? "C" : "0");
        // Insisting on another format is refused, naming what the file is.
        const Format other = c.format == Format::indexed ? Format::processed : Format::indexed;
        kw::Run again;
        EXPECT_EQ(readText(c.text, again, other).kind, ReadErrorKind::wrongFormat);
    }
    // The last word may end the bytes, also one only strtof reads (hexadecimal).
    for (const char* last : {"4", "0x1p2"}) {
        kw::Run run;
        ASSERT_FALSE(readText(std::string("pRoCeSsEd x 2 2 3.0 0\n1 2\n3 ") + last, run));
        EXPECT_EQ(run.rows[1][1], 4.0);
    }
}

TEST(RunReading, RefusalsCarryTheirKindAndNameTheFile) {
    const std::vector<std::pair<std::string, ReadErrorKind>> cases = {
        {"", ReadErrorKind::empty},
        {" \n\t", ReadErrorKind::unknownFormat},
        {"hello 1 2 3", ReadErrorKind::unknownFormat},
        {std::string("\x01\x00\xff", 3), ReadErrorKind::unknownFormat},
        {"pRoCeSsEd x 4 1000 3.0 0\n1 2 3 4\n", ReadErrorKind::truncated},
        {"pRoCeSsEd x 2 2 3.0 0\n1 2\n3 4\n5\n", ReadErrorKind::malformed},
        {"pRoCeSsEd x 2 2 3.0 0\n1 2\n3 inf\n", ReadErrorKind::notFinite},
        {"pRoCeSsEd x 2 2 3.0 0\n1 2\n3 1e39\n", ReadErrorKind::notFinite},
        {"pRoCeSsEd x 2 2 3.0 0\n1 2\n3 x\n", ReadErrorKind::malformed},
        {"pRoCeSsEd x 2 2 0 0\n1 2\n3 4\n", ReadErrorKind::malformed},
        {"N_LINES: 3 a b\n1 2 3 4 5\n", ReadErrorKind::malformed},
        {"3\n0 1 2\n", ReadErrorKind::truncated},  // 1 Hz and too short to bring to 3 Hz
        {"ABIF\x00\x65", ReadErrorKind::truncated},
        {std::string("\x89QRD\r\n\x1a\n\x01\0\0\0\x04\0\0\0\x10\0\0\0", 20),
         ReadErrorKind::truncated},
        {std::string("\x89QRD\r\n\x1a\n\x02\0\0\0\x04\0\0\0\x10\0\0\0", 20),
         ReadErrorKind::malformed},  // another version: damaged, not cut short
    };
    for (const auto& c : cases) {
        kw::Run run;
        const kw::ReadError e = readText(c.first, run);
        EXPECT_EQ(e.kind, c.second) << kw::readErrorKindName(e.kind) << ": " << e.message;
        EXPECT_EQ(e.message.rfind("mem.txt: ", 0), 0u) << e.message;
        EXPECT_TRUE(run.rows.empty());
    }
    // An instrument-file name that holds something else says so.
    kw::Run run;
    const std::string text = "hello";
    const kw::ReadError fake = kw::readRunBytes(text.data(), text.size(), "x.ab1", run);
    EXPECT_NE(fake.message.find("not an ABIF file"), std::string::npos) << fake.message;
    EXPECT_EQ(kw::readRun("/no/such/file.ab1", run).kind, ReadErrorKind::notFound);
    EXPECT_EQ(kw::readRun("/", run).kind, ReadErrorKind::directory);
}

TEST(RunReading, RunDataAndMatricesFromFiles) {
    const std::string dir = ::testing::TempDir();
    const std::string qrd = dir + "/run.qrd";
    ASSERT_EQ(kw::writeRunData(qrd, {{1, 2, 3}, {4, 5, 6}}), "");
    kw::Run run;
    ASSERT_FALSE(kw::readRun(qrd, run));
    EXPECT_EQ(run.format, Format::qrd);
    EXPECT_DOUBLE_EQ(run.rate, kw::kRunDataRate);
    ASSERT_EQ(run.numTraces, 4);  // missing channels read as zero, with a warning
    EXPECT_EQ(run.rows[1][2], 6.0);
    EXPECT_EQ(run.rows[3][2], 0.0);
    EXPECT_EQ(run.warnings.size(), 1u);
    std::remove(qrd.c_str());

    const std::string m = dir + "/matrix.txt";
    std::ofstream(m) << kw::matrixText({{1.0, -0.25}, {-0.125, 1.0}});
    std::vector<std::vector<double>> back;
    ASSERT_FALSE(kw::readMatrixFile(m, back));
    EXPECT_EQ(back, (std::vector<std::vector<double>>{{1.0, -0.25}, {-0.125, 1.0}}));
    std::ofstream(m) << "1 0\n0\n";
    EXPECT_EQ(kw::readMatrixFile(m, back).kind, ReadErrorKind::malformed);
    std::remove(m.c_str());
}

TEST(Reports, PeakRowsAreInTheFilesOwnSamples) {
    kw::Run run;
    run.numTraces = 4;
    run.channelNames = {"C", "A", "G", "T"};
    run.coordinateScale = 3.0;  // 1 Hz data read at 3 Hz
    kw::ProcessResult result;
    KwPeak p;
    p.setTraceCode(2);
    p.setLocatn(300.0);
    p.setHeight(50.0);
    p.setSigma(6.0);
    p.setStartPnt(280);
    p.setEndPnt(320);
    result.peaks.push_back(p);
    const std::vector<kw::PeakRow> rows = kw::peakRows(run, result);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].channel, "G");
    EXPECT_DOUBLE_EQ(rows[0].locatn, 100.0);
    EXPECT_DOUBLE_EQ(rows[0].sigma, 2.0);
    EXPECT_EQ(rows[0].startPnt, 93);  // the event's samples, rounded outwards
    EXPECT_EQ(rows[0].endPnt, 107);
    EXPECT_NEAR(rows[0].area, p.getArea() / 3.0, 1e-12);
    const std::string tsv = kw::peaksTsv(run, result);
    EXPECT_EQ(tsv.substr(0, tsv.find('\n')), kw::peaksHeader());
    EXPECT_EQ(tsv.substr(tsv.find('\n') + 1, 19), "G\t2\t100.000\t50.000\t");
    const std::string summary = kw::summaryJson(run, result, 0.0);
    EXPECT_NE(summary.find("\"peaks\": 1"), std::string::npos);
}

// The export text is KwCap::output's file byte for byte, awkward values
// included (signed zeros, halfway roundings, non-finite and huge samples).
TEST(Reports, ExportTextIsTheCapillarysOwnOutput) {
    std::vector<double> a = {0.0, -0.0, -4e-7, 5e-7, 0.0000015, 2.5e-6, 1e300, -123.4567895};
    std::vector<double> b = {std::nan(""), -std::nan(""), HUGE_VAL, -HUGE_VAL, 1.0, 2.0, 3.0, 4.0};
    for (int traces : {2, 3, 4}) {
        std::vector<double*> rows = {a.data(), b.data(), a.data(), b.data()};
        const KwCap cap(traces, 8, rows.data(), 3.0);
        std::string path = ::testing::TempDir() + "/export.txt";
        cap.output(&path[0]);
        std::ifstream in(path, std::ios::binary);
        const std::string written((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(kw::exportText(cap), written) << traces;
        std::remove(path.c_str());
    }
}

}  // namespace
