// Capillary text files: export, point, processed, line-count and indexed
// files, the 1 Hz to 3 Hz interpolation, and malformed input.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <limits>
#include <random>

#include "common/number_text.h"
#include "kwsignal/report.h"
#include "synthetic.h"

namespace {

using kwtest::tempPath;
using V = std::vector<double>;

std::string writeTemp(const std::string& name, const std::string& text) {
    return kwtest::writeFile(tempPath(name), text);
}

// What read (or input, which brings 1 Hz to 3 Hz) hands out for a file.
kwtest::ReadRows rowsOf(const std::string& path, bool interpolate = false) {
    kwtest::ReadRows r;
    KwCap cap;
    r.result = interpolate ? cap.input(path.c_str(), r.numTraces, r.numData, r.rate, &r.p)
                           : cap.read(path.c_str(), r.numTraces, r.numData, r.rate, &r.p);
    return r;
}

}  // namespace

TEST(ExportFile, ByteForByteAndReadBack) {
    std::string path = tempPath("export.txt");
    using Case = std::pair<std::vector<V>, const char*>;
    for (const Case& c : {Case{{{1, 2, 3}, {0.5, -1, 0}, {1e6, 7, 8}, {0, 0, 0.25}},
                               "C_A_G_T:     3\nTHIS_IS_3_Hz_DATA:\n4Traces:\n"
                               "1.000000 0.500000 1000000.000000 0.000000 \n"
                               "2.000000 -1.000000 7.000000 0.000000 \n"
                               "3.000000 0.000000 8.000000 0.250000 \n"},
                          Case{{{1, 2, 3}, {4, 5, 6}},
                               "unknown_standard:     3\nTHIS_IS_3_Hz_DATA:\n2Traces:\n"
                               "1.000000 4.000000 \n2.000000 5.000000 \n3.000000 6.000000 \n"},
                          Case{{{1}, {2}, {3}},
                               "THIS_IS_3_Hz_DATA:\n3Traces:\n1.000000 2.000000 "
                               "3.000000 \n"}}) {
        kwtest::makeCap(c.first, 3.0).output(&path[0]);
        EXPECT_EQ(kwtest::readFile(path), c.second);
    }
    kwtest::makeCap({{1, 2}, {3, 4}, {5, 6}, {7, 8.5}}, 3.0).output(&path[0]);
    KwCap cap(4, 1);
    cap.input(&path[0], nullptr);
    EXPECT_EQ(std::make_pair(cap.getNumData(), cap(3, 1)), std::make_pair(2, 8.5));
    EXPECT_EQ(cap.getPnterToTrace(0)->getSignalEndPnt(), 1);
    // Any other first word: rate 1.0 and single-precision samples.
    std::string other = writeTemp("other.txt", "X 2 a b\n0.1 1 2 3\n4 5 6 7\n");
    KwCap cap2 = kwtest::makeCap({{9}, {9}, {9}, {9}}, 3.0);
    cap2.input(&other[0], nullptr);
    EXPECT_EQ(cap2.getSamplingRate() + cap2.getPnterToTrace(2)->getSampleRate(), 2.0);
    EXPECT_EQ(cap2(0, 0) + cap2(3, 1), static_cast<double>(0.1f) + 7.0);
    // Fewer than four traces, or a count the file cannot hold: unchanged.
    KwCap two = kwtest::makeCap({{9}, {9}}, 3.0);
    two.input(&other[0], nullptr);
    EXPECT_EQ(two.getNumData(), 1);
    std::string huge = writeTemp("hugeexport.txt", "X 2000000000 a b\n1 2 3 4\n");
    cap2.input(&huge[0], nullptr);
    EXPECT_EQ(cap2.getNumData(), 2);
    // Point files skip their first column.
    double rate = 0.0, *x = nullptr, *y = nullptr;
    ASSERT_EQ(
        cap.read(writeTemp("points.txt", "3\n9 1 2\n9 3 4.5\n9 0.1 6\n").c_str(), rate, &x, &y), 3);
    EXPECT_EQ(V({rate, x[1] + y[1], x[2]}), V({1.0, 7.5, static_cast<double>(0.1f)}));
    delete[] x;
    delete[] y;
    EXPECT_EQ(cap.read(tempPath("missing").c_str(), rate, &x, &y), 0);
    EXPECT_EQ(cap.read(writeTemp("pointsneg.txt", "-4\n1 2 3\n").c_str(), rate, &x, &y), 0);
    EXPECT_EQ(x == nullptr && y == nullptr, true);
}

// The writers format numbers without printf, yet every character must be
// printf's: rounding ties, negative zero, values rounding to zero, huge and
// non-finite values; and the export text must be what KwCap::output writes.
TEST(ExportFile, NumbersAsPrintfWritesThem) {
    const double inf = std::numeric_limits<double>::infinity();
    V values = {0.0,    -0.0, 0.5,    2.5,  -2.5,    0.125, 1e-300, -4e-7,        1e300,
                0x1p40, 1e12, 0.0005, 9.99, 1.00005, -inf,  inf,    std::nan(""), -std::nan("")};
    // Where %g changes style or exponent: powers of ten and their
    // neighbours, values rounding up to the next power, halves.
    for (double v : {1e-5, 1e-4, 1e-1, 1.0, 1e5, 1e6, 1e14, 1e15, 1e16})
        for (double f : {1.0, 0.9999995, 0.99999949, 1.0000005, 0.95, 0.5, 9.5})
            values.insert(values.end(), {v * f, -v * f, std::nextafter(v * f, 0.0),
                                         std::nextafter(v * f, 1e300)});
    for (double v : {999999.5, 9999995.0, 123456.5, 99999.95, 0.000123455, 2.5e-5, 1234567.0})
        values.insert(values.end(), {v, -v});
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (int i = 0; i < 5000; ++i) {
        uint64_t bits = rng();
        double any = 0.0;
        std::memcpy(&any, &bits, sizeof any);
        values.push_back(any);
        values.push_back(std::ldexp(unit(rng), static_cast<int>(rng() % 80) - 30));
        values.push_back(std::round(unit(rng) * 1e7) / 1e3);               // decimal figures
        values.push_back(std::ldexp(std::round(unit(rng) * 4096.0), -9));  // binary ties
    }
    char expected[400];
    for (size_t i = 0; i < values.size(); ++i)
        for (int decimals = 0; decimals <= 9; decimals += 1 + i % 3) {
            const double v = values[i];
            std::string got;
            kw::detail::appendFixed(got, v, decimals);
            std::snprintf(expected, sizeof expected, "%.*f", decimals, v);
            ASSERT_EQ(got, expected) << std::hexfloat << v << " with " << decimals;
            for (int precision : {6, static_cast<int>(1 + (i + decimals) % 17)}) {
                got.clear();
                kw::detail::appendGeneral(got, v, precision);
                std::snprintf(expected, sizeof expected, "%.*g", precision, v);
                ASSERT_EQ(got, expected) << std::hexfloat << v << " to " << precision;
            }
        }
    for (long long n :
         {0LL, 7LL, -9LL, 10LL, 99LL, -100LL, 12345LL, 4294967296LL,
          std::numeric_limits<long long>::min(), std::numeric_limits<long long>::max()}) {
        std::string got;
        kw::detail::appendInt(got, n);
        ASSERT_EQ(got, std::to_string(n));
    }
    // Pieces longer than a block, and numbers across block ends, in order.
    std::string joined, expectedJoined;
    {
        kw::detail::TextBlock text(joined);
        for (int i = 0; i < 3000; ++i) {
            const std::string piece(i % 1000 == 999 ? 9000 : i % 7,
                                    static_cast<char>('a' + i % 26));
            text.put(piece);
            text.fixed(i * 0.37, 2);
            std::snprintf(expected, sizeof expected, "%.2f", i * 0.37);
            expectedJoined += piece + expected;
        }
    }
    EXPECT_EQ(joined, expectedJoined);
    V row(values.begin(), values.begin() + 4000);
    const KwCap cap = kwtest::makeCap({row, V(row.rbegin(), row.rend()), row, row}, 3.0);
    std::string path = tempPath("export-numbers.txt");
    cap.output(&path[0]);
    EXPECT_EQ(kw::exportText(cap), kwtest::readFile(path));
}

TEST(TraceFiles, ProcessedLineCountAndIndexed) {
    auto p = rowsOf(writeTemp("proc.txt", "pRoCeSsEdX skip 3 2 3.0 17\n1 2 3\n4 5 0.1\n"));
    EXPECT_EQ(V({1.0 * p.numTraces, 1.0 * p.numData, p.rate, 1.0 * p.result}), V({3, 2, 3, 17}));
    EXPECT_EQ(V({p.p[0][1], p.p[2][1]}), V({4.0, static_cast<double>(0.1f)}));
    EXPECT_EQ(p.p[3], nullptr);  // padding for ReleasePointer
    // Line ends LF, CR (row only) and CR LF give the same three traces.
    for (const char* text : {"N_LINES: 2 a b\n1 2 3\n4 5 6\n", "N_LINES: 2 a b\n1 2 3\r\n4 5 6\n",
                             "N_LINES: 2 a b\r\n1 2 3\r\n4 5 6\r\n"}) {
        auto n = rowsOf(writeTemp("lines.txt", text));
        EXPECT_EQ(V({1.0 * n.numTraces, 1.0 * n.numData, n.rate + n.result, n.p[0][0] + n.p[2][1]}),
                  V({3, 2, 1, 7}))
            << text;
    }
    auto i = rowsOf(writeTemp("indexed.txt", "5\n0 1 2\n1 3 4\n2 5 6\n3 7 8\n4 9 10\n"));
    EXPECT_EQ(V({1.0 * i.numTraces, 1.0 * i.numData, i.rate, i.p[0][4] + i.p[1][4]}),
              V({2, 5, 1, 19}));
}

TEST(TraceFiles, InputBringsOneHertzToThreeHertz) {
    auto same = rowsOf(writeTemp("p3.txt", "pRoCeSsEd x 1 6 3.0 0\n1 2 3 4 5 6\n"), true);
    EXPECT_EQ(std::make_pair(same.numData, same.p[0][5]), std::make_pair(6, 6.0));
    auto up = rowsOf(writeTemp("p1.txt", "pRoCeSsEd x 1 6 1.0 0\n1 4 9 16 25 36\n"), true);
    ASSERT_EQ(std::make_pair(up.numData, up.rate), std::make_pair(18, 3.0));
    for (int i = 0; i < 6; ++i) EXPECT_EQ(up.p[0][3 * i], (i + 1.0) * (i + 1.0));
    // A rate in no band: file length, zero rows.
    auto odd = rowsOf(writeTemp("p5.txt", "pRoCeSsEd x 1 2 5.0 0\n7 8\n"), true);
    EXPECT_EQ(std::make_pair(odd.numData, odd.p[0][1]), std::make_pair(2, 0.0));
    // The interpolation is exact on a quartic and safe on two samples.
    auto quartic = [](double x) { return 0.5 * x * x * x * x - 3 * x * x * x + x - 7; };
    V in(9), out(27);
    for (int i = 0; i < 9; ++i) in[i] = quartic(i);
    KwTrace().interpolateFrom1To3Hz(9, in.data(), out.data());
    for (int j = 0; j < 27; ++j) EXPECT_NEAR(out[j], quartic(j / 3.0), 1e-9) << j;
    V two{2.0, 4.0}, six(6);
    KwTrace().interpolateFrom1To3Hz(2, two.data(), six.data());
    EXPECT_NEAR(six[1], 2.0 + 2.0 / 3.0, 1e-12);
    EXPECT_NEAR(six[5], 4.0 + 4.0 / 3.0, 1e-12);
}

TEST(TraceFiles, MalformedFilesNeverCrash) {
    const std::pair<const char*, const char*> unreadable[] = {
        {"missing", nullptr},
        {"empty", ""},
        {"blank", " \n\n"},
        {"header word only", "pRoCeSsEd"},
        {"negative count", "pRoCeSsEd x 4 -3 3.0 1\n"},
        {"2e9 samples", "pRoCeSsEd x 4 2000000000 3.0 1\n1 2 3 4\n"},
        {"2e9 traces", "pRoCeSsEd x 2000000000 0 3.0 1\n"},
        {"indexed 2e9", "2000000000\n0 1 2\n"},
        {"empty first row", "N_LINES: 2 a b\n\n1 2\n"}};
    for (const auto& u : unreadable) {
        const std::string path = u.second ? writeTemp("bad.txt", u.second) : tempPath("nothing");
        for (bool interpolate : {false, true}) {
            auto r = rowsOf(path, interpolate);
            EXPECT_EQ(std::vector<int>({r.numTraces, r.numData, r.result}), std::vector<int>(3, 0))
                << u.first;
            EXPECT_EQ(r.p, nullptr) << u.first;
        }
    }
    // Header only, a truncated row, letters: what is missing reads as 0.0 and
    // the numbers after a bad word are still read.
    auto h = rowsOf(writeTemp("honly.txt", "pRoCeSsEd x 2 3 3.0 5\n"));
    EXPECT_EQ(std::make_pair(h.numData, h.p[1][2]), std::make_pair(3, 0.0));
    auto t = rowsOf(writeTemp("trunc.txt", "pRoCeSsEd x 2 2 3.0 5\n1 2\n3"));
    EXPECT_EQ(V({t.p[0][1], t.p[1][1]}), V({3.0, 0.0}));
    auto l = rowsOf(writeTemp("letters.txt", "pRoCeSsEd x 2 2 3.0 5\n1 abc\nxyz 4\n"));
    EXPECT_EQ(V({l.p[0][0], l.p[1][0], l.p[0][1], l.p[1][1]}), V({1.0, 0.0, 0.0, 4.0}));
    // A first data row far longer than the 120-byte row buffer.
    std::string row;
    while (row.size() < 10000) row += "1.5 ";
    auto n = rowsOf(writeTemp("longrow.txt", "N_LINES: 2 a b\n" + row + "\n1 2 3 4\n"));
    EXPECT_EQ(V({1.0 * n.numTraces, 1.0 * n.numData, n.p[3][0]}), V({4, 2, 1.5}));
}

// exit(911): POSIX keeps only its low eight bits.
#if defined(_WIN32)
constexpr int kWrongFormatExit = 911;
#else
constexpr int kWrongFormatExit = 911 & 0xff;
#endif

TEST(TraceFilesDeathTest, UnknownFirstWordEndsTheProcess) {
    const std::string path = writeTemp("wrong.txt", "Hello 1 2 3\n");
    kwtest::ReadRows r;
    EXPECT_EXIT(KwCap().read(path.c_str(), r.numTraces, r.numData, r.rate, &r.p),
                ::testing::ExitedWithCode(kWrongFormatExit), "Wrong Data Format");
}
