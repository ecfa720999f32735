// Colour separation: channel dominance, cross-talk measurement, estimation
// of the separation matrix and the capillary's learning and refining.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kwsignal/abif.h"
#include "kwsignal/capillary.h"
#include "kwsignal/separation.h"
#include "synthetic.h"

namespace {

using Rows = std::vector<std::vector<double>>;

// Reaches the members the library keeps for derived classes.
class SepCap : public KwCap {
public:
    using KwCap::getSecondDominantChnl;
    using KwCap::KwCap;
    using KwCap::specSep;
};

SepCap makeSepCap(Rows& rows, double rate) {
    std::vector<double*> p;
    for (auto& r : rows) p.push_back(r.data());
    return SepCap(static_cast<int>(rows.size()), static_cast<int>(rows[0].size()), p.data(), rate);
}

Rows samplesOf(const KwCap& cap) {
    Rows out(cap.getNumTraces(), std::vector<double>(cap.getNumData()));
    for (int k = 0; k < cap.getNumTraces(); ++k)
        for (int i = 0; i < cap.getNumData(); ++i) out[k][i] = cap(k, i);
    return out;
}

bool allFinite(const KwCap& cap) {
    for (const auto& row : samplesOf(cap))
        for (double v : row)
            if (!std::isfinite(v)) return false;
    return true;
}

// Mixing matrix with 1.0 on the diagonal and leaks between 0.05 and 0.3.
Rows randomMixing(uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> leak(0.05, 0.3);
    Rows m(4, std::vector<double>(4, 1.0));
    for (int k = 0; k < 4; ++k)
        for (int d = 0; d < 4; ++d)
            if (k != d) m[k][d] = leak(rng);
    return m;
}

// Four dyes of isolated Gaussian peaks, mixed and lightly noisy.
Rows mixedRun(const Rows& mixing, int n, uint32_t seed) {
    const auto peaks = kwtest::randomPeaks(n, 4, 40.0, 4.0, seed);
    return kwtest::mix(kwtest::pureDyes(n, 4, peaks), mixing, 1.0, seed + 1);
}

KwSpecSepTable tableOf(const Rows& m) {
    const int n = static_cast<int>(m.size());
    KwSpecSepTable t(n);
    for (int r = 0; r < n; ++r)
        for (int q = 0; q < n; ++q) t(r, q) = m[r][q];
    return t;
}

// The true separation: the inverse of the mixing matrix.
KwSpecSepTable inverseOf(const Rows& m) {
    KwSpecSepTable inv(static_cast<int>(m.size()));
    inv.beInverseOf(tableOf(m));
    return inv;
}

struct FloatMatrix {
    explicit FloatMatrix(int n, float fill = 0.0f) : cells(n * n, fill), n(n) {
        for (int r = 0; r < n; ++r) rows.push_back(&cells[r * n]);
    }
    float** get() { return rows.data(); }
    const float** getConst() { return const_cast<const float**>(rows.data()); }
    KwSpecSepTable table() const {
        KwSpecSepTable t(n);
        for (int r = 0; r < n; ++r)
            for (int q = 0; q < n; ++q) t(r, q) = cells[r * n + q];
        return t;
    }
    std::vector<float> cells;
    std::vector<float*> rows;
    int n;
};

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

TEST(Dominance, PerSampleQueriesAndTies) {
    SepCap cap(4, 3);
    const double v[3][4] = {{1.0, 5.0, 5.0, 2.0}, {-3.0, -1.0, -2.0, -1.0}, {0.0, 0.0, 4.0, 0.0}};
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 4; ++k) cap.setValue(k, i, v[i][k]);
    EXPECT_EQ(cap.getDominantTraceCode(0), 1);  // tie of 1 and 2 goes to 1
    EXPECT_EQ(cap.getDominantTraceCode(1), 1);  // defined for all-negative vectors
    EXPECT_EQ(cap.minIntensity(1), -3.0);

    EXPECT_EQ(cap.getSecondDominantChnl(0, 1, 0.0), 2);
    EXPECT_EQ(cap.getSecondDominantChnl(0, 1, 5.0), -1);  // strictly above the bound
    EXPECT_EQ(cap.getSecondDominantChnl(0, 2, 1.5), 1);
    EXPECT_EQ(cap.getSecondDominantChnl(1, 1, -5.0), -1);  // only positives count
    EXPECT_EQ(cap.getSecondDominantChnl(2, 2, -1.0), -1);
}

TEST(Dominance, MostProbableRatio) {
    SepCap cap(2, 6);
    cap.setSignalEndPnt(5);
    EXPECT_EQ(cap.mostProbableRatioOf(1, 1, 0.95), 1.0);
    EXPECT_EQ(cap.mostProbableRatioOf(0, 1, 0.95), 0.0);  // reference never above 0

    // Two strong reference samples with ratios 0.30 and 0.96: only 0.30 votes.
    const double ref[6] = {100.0, 100.0, 5.0, 0.0, 0.0, 0.0};
    const double num[6] = {30.0, 96.0, 4.0, 0.0, 0.0, 0.0};
    for (int i = 0; i < 6; ++i) {
        cap.setValue(1, i, ref[i]);
        cap.setValue(0, i, num[i]);
    }
    EXPECT_DOUBLE_EQ(cap.mostProbableRatioOf(0, 1, 0.95), 0.30);
    EXPECT_EQ(cap.mostProbableRatioOf(0, 1, 0.30), 0.0);  // ratios at the limit drop out

    cap.setValue(0, 0, -40.0);
    cap.setValue(0, 1, -20.0);
    EXPECT_EQ(cap.mostProbableRatioOf(0, 1, 0.95), 0.0);  // a negative mode comes back as 0
}

TEST(Dominance, MostStrikingChannelFlagsAndUnitVectors) {
    Rows rows = mixedRun(randomMixing(3), 2000, 3);
    rows[0][700] = rows[1][700] = rows[2][700] = rows[3][700] = 0.0;
    SepCap cap = makeSepCap(rows, 3.0);
    const Rows before = samplesOf(cap);

    int flags[4] = {1, 0, 1, 0};
    EXPECT_EQ(cap.getMostStrikingChnl(flags), 3);  // two free: the highest, no analysis
    EXPECT_EQ(flags[3], 1);
    EXPECT_EQ(cap.getMostStrikingChnl(flags), 1);
    EXPECT_EQ(cap.getMostStrikingChnl(flags), -1);
    EXPECT_EQ(samplesOf(cap), before);

    int free4[4] = {0, 0, 0, 0};
    const KwCap& constView = cap;
    const int d = constView.getMostStrikingChnl(free4);
    ASSERT_GE(d, 0);
    EXPECT_EQ(free4[0] + free4[1] + free4[2] + free4[3], 1);
    EXPECT_EQ(free4[d], 1);
    for (int i = 0; i < 2000; ++i) {
        double sq = 0.0;
        for (int k = 0; k < 4; ++k) sq += cap(k, i) * cap(k, i);
        if (i == 700) {
            EXPECT_EQ(sq, 0.0);  // a zero vector stays zero
        } else {
            EXPECT_NEAR(sq, 1.0, 1e-12);
        }
    }
    const Rows unit = samplesOf(cap);
    int again[4] = {0, 0, 0, 0};
    EXPECT_EQ(cap.getMostStrikingChnl(again), d);
    for (int k = 0; k < 4; ++k)
        for (int i = 0; i < 2000; ++i) EXPECT_NEAR(cap(k, i), unit[k][i], 1e-15);
}

// Samples of channel 0 with one fixed direction (score 0), of channel 1 with
// a spread of directions (score above 0) and of channel 3 (already chosen).
SepCap partnerCountCap(int numChannel0, int numChannel1, int numChannel3) {
    const int n = numChannel0 + numChannel1 + numChannel3;
    SepCap cap(4, n);
    cap.setSignalEndPnt(n - 1);
    int i = 0;
    for (int j = 0; j < numChannel0; ++j, ++i) {
        cap.setValue(0, i, 1.0);
        cap.setValue(1, i, 0.3);
    }
    for (int j = 0; j < numChannel1; ++j, ++i) {
        cap.setValue(0, i, 0.1);
        cap.setValue(1, i, 1.0);
        cap.setValue(2, i, 0.2 + 0.1 * (j % 3));
    }
    for (; i < n; ++i) cap.setValue(3, i, 1.0);
    return cap;
}

TEST(Dominance, PartnerCountMustExceedAQuarterOfTheShare) {
    // L = 160 and 4 channels: a partner count of exactly L / 16 = 10 is not
    // enough (the bound is 160 * 0.250000001 / 4), so channel 0 loses to the
    // less consistent channel 1; with 11 samples it wins.
    int flags[4] = {0, 0, 0, 1};
    SepCap exact = partnerCountCap(10, 60, 90);
    EXPECT_EQ(exact.getMostStrikingChnl(flags), 1);
    int flags2[4] = {0, 0, 0, 1};
    SepCap above = partnerCountCap(11, 60, 89);
    EXPECT_EQ(above.getMostStrikingChnl(flags2), 0);

    // More than 46,340 samples led by channel 0: its score divides by the
    // count squared, which must not wrap around and win with a negative
    // score over the tighter channel 1.
    SepCap big(4, 54000);
    big.setSignalEndPnt(53999);
    for (int i = 0; i < 54000; ++i) {
        const bool one = i < 4000;
        big.setValue(one ? 1 : 0, i, 1.0);
        big.setValue(one ? 0 : 1, i, one ? 0.3 : 0.1 + 0.4 * (i % 2));
        big.setValue(2, i, one ? 0.1 + 0.01 * (i % 2) : 0.05);
    }
    int flags3[4] = {0, 0, 0, 1};
    EXPECT_EQ(big.getMostStrikingChnl(flags3), 1);
}

TEST(CrossTalk, FailuresLeaveTheTableAlone) {
    const Rows mixing = randomMixing(5);
    Rows rows = mixedRun(mixing, 1000, 5);
    for (size_t i = 0; i < rows[2].size(); ++i)  // channel 2 never leads
        rows[2][i] = std::min({rows[0][i], rows[1][i], rows[3][i]}) - 1.0;
    SepCap weak = makeSepCap(rows, 3.0);
    KwCrossTalkTable table;
    table = 7.0;
    EXPECT_EQ(table.measureFrom(weak), 0);
    EXPECT_EQ(table.maxAbsValue(), 7.0);

    // A dye pattern repeated along 100 samples, every dye peaking in the
    // later half: just long enough for the robust measurement.
    Rows pure(4, std::vector<double>(120, 0.0));
    for (int p = 0; p < 10; ++p) kwtest::addGaussian(pure[p % 4], 5.0 + 10.0 * p, 500.0, 2.0);
    Rows mixed = kwtest::mix(pure, mixing);
    SepCap shortCap = makeSepCap(mixed, 3.0);
    shortCap.setSignalEndPnt(98);
    KwCrossTalkTable robust(4);
    robust = 5.0;
    EXPECT_EQ(robust.measureFrom1(shortCap), -1.0);
    EXPECT_EQ(robust.maxAbsValue(), 5.0);
    shortCap.setSignalEndPnt(99);
    EXPECT_GE(robust.measureFrom1(shortCap), 0.0);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(robust(k, k), 1.0);
}

TEST(SeparationTable, NormaliseDampAndWrite) {
    KwSpecSepTable ones(4);
    ones = 1.0;
    ones.damping(0.5);
    for (int r = 0; r < 4; ++r)
        for (int q = 0; q < 4; ++q) EXPECT_EQ(ones(r, q), r == q ? 1.0 : 0.5);

    KwSpecSepTable diag(3);
    diag(0, 0) = 2.0;
    diag(1, 1) = 0.5;
    diag(2, 2) = -4.0;
    diag.normalizeXTalkMatrix();
    for (int r = 0; r < 3; ++r)
        for (int q = 0; q < 3; ++q) EXPECT_NEAR(diag(r, q), r == q ? 1.0 : 0.0, 1e-15);

    // The inverse of a mixing matrix with columns (2, 0.2) and (0.4, 4)
    // becomes the inverse of the one with columns (1, 0.1) and (0.1, 1).
    KwSpecSepTable sep = inverseOf({{2.0, 0.4}, {0.2, 4.0}});
    sep.normalizeXTalkMatrix();
    const KwSpecSepTable want = inverseOf({{1.0, 0.1}, {0.1, 1.0}});
    for (int r = 0; r < 2; ++r)
        for (int q = 0; q < 2; ++q) EXPECT_NEAR(sep(r, q), want(r, q), 1e-14);

    // Singular or without own-channel signal: finite, never NaN.
    KwSpecSepTable swap = tableOf({{0.0, 1.0}, {1.0, 0.0}});
    swap.normalizeXTalkMatrix();
    EXPECT_EQ(swap(0, 1), 1.0);
    EXPECT_EQ(swap(0, 0), 0.0);
    ones.normalizeXTalkMatrix();
    for (int r = 0; r < 4; ++r)
        for (int q = 0; q < 4; ++q) EXPECT_TRUE(std::isfinite(ones(r, q)));

    const std::string path = testing::TempDir() + "kw_separation_identity.txt";
    tableOf({{1.0, 0.0}, {0.0, 1.0}}).output(path.c_str());
    EXPECT_EQ(readText(path), "1.000000 0.000000 \n0.000000 1.000000 \n");
    std::remove(path.c_str());
}

TEST(SyntheticGroundTruth, MeasurementsRecoverTheLeaks) {
    for (uint32_t seed : {11u, 12u, 13u}) {
        const Rows mixing = randomMixing(seed);
        Rows rows = mixedRun(mixing, 4000, seed);
        SepCap cap = makeSepCap(rows, 3.0);
        const Rows before = samplesOf(cap);
        KwCrossTalkTable plain(4), robust(4);
        ASSERT_EQ(plain.measureFrom(cap), 1);
        const double worst = robust.measureFrom1(cap);
        double largestLeak = 0.0;
        for (int k = 0; k < 4; ++k)
            for (int d = 0; d < 4; ++d) {
                EXPECT_NEAR(plain(k, d), mixing[k][d], 0.02) << seed << " " << k << d;
                EXPECT_NEAR(robust(k, d), mixing[k][d], 0.02) << seed << " " << k << d;
                if (k != d) largestLeak = std::max(largestLeak, mixing[k][d]);
            }
        EXPECT_NEAR(worst, largestLeak, 0.02);
        EXPECT_EQ(samplesOf(cap), before);  // measuring never changes the capillary
    }
}

TEST(SyntheticGroundTruth, LearningLeavesLessThanTheAcceptedCrossTalk) {
    const double tolerance = 0.02, acceptFactor = 2.0;
    for (uint32_t seed : {21u, 22u}) {
        const Rows mixing = randomMixing(seed);
        for (int robust : {0, 1}) {
            Rows rows = mixedRun(mixing, 4000, seed);
            SepCap cap = makeSepCap(rows, 3.0);
            FloatMatrix ssm(4);
            const std::string path = testing::TempDir() + "kw_learned.txt";
            ASSERT_EQ(cap.specSep(tolerance, path.c_str(), ssm.get(), acceptFactor, robust), 1)
                << seed << " robust " << robust;
            KwCrossTalkTable left(4);
            const double residual = left.measureFrom1(cap);
            EXPECT_GE(residual, 0.0);
            EXPECT_LT(residual, tolerance * acceptFactor) << seed << " robust " << robust;

            // The matrix handed back is the true separation, and the text
            // file holds it as four lines of four numbers.
            const KwSpecSepTable truth = inverseOf(mixing);
            const KwSpecSepTable learned = ssm.table();
            for (int r = 0; r < 4; ++r)
                for (int q = 0; q < 4; ++q) EXPECT_NEAR(learned(r, q), truth(r, q), 0.03);
            std::istringstream text(readText(path));
            std::string line;
            int lines = 0;
            while (std::getline(text, line)) {
                std::istringstream numbers(line);
                double x;
                int count = 0;
                while (numbers >> x) ++count;
                EXPECT_EQ(count, 4);
                ++lines;
            }
            EXPECT_EQ(lines, 4);
            std::remove(path.c_str());
        }
    }
}

TEST(SyntheticGroundTruth, RefiningAWrongSystemMatrixFindsTheTrueOne) {
    const Rows mixing = randomMixing(31);
    Rows rows = mixedRun(mixing, 4000, 31);
    KwSpecSepTable truth = inverseOf(mixing);
    truth.normalizeXTalkMatrix();
    // The system matrix corrects none, or a fifth, of each leak.
    for (double believed : {0.0, 0.2}) {
        SepCap cap = makeSepCap(rows, 3.0);
        Rows weaker = mixing;
        for (int k = 0; k < 4; ++k)
            for (int d = 0; d < 4; ++d)
                if (k != d) weaker[k][d] *= believed;
        const KwSpecSepTable wrong = inverseOf(weaker);
        FloatMatrix system(4);
        for (int r = 0; r < 4; ++r)
            for (int q = 0; q < 4; ++q) system.cells[r * 4 + q] = static_cast<float>(wrong(r, q));
        cap.setSystemSSM(system.getConst());

        FloatMatrix ssm(4);
        ASSERT_EQ(cap.specSep(0.01, 2.0, ssm.get()), 1) << believed;
        KwSpecSepTable refined = ssm.table();
        refined.normalizeXTalkMatrix();
        for (int r = 0; r < 4; ++r)
            for (int q = 0; q < 4; ++q)
                EXPECT_NEAR(refined(r, q), truth(r, q), 0.02) << believed << " " << r << q;
        for (int r = 0; r < 4; ++r)  // the system matrix itself is left alone
            for (int q = 0; q < 4; ++q)
                EXPECT_EQ(cap.getSystemSSM()(r, q), system.cells[r * 4 + q]);
    }
    SepCap noMatrix = makeSepCap(rows, 3.0);
    EXPECT_EQ(noMatrix.specSep(0.01, 2.0, nullptr), 0);
}

TEST(SyntheticGroundTruth, CleanDataNeedsNoCorrection) {
    Rows rows = mixedRun({{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}, 4000, 41);
    SepCap cap = makeSepCap(rows, 3.0);
    const Rows before = samplesOf(cap);
    KwSpecSepTable table(4);
    // The robust estimation finds nothing to correct at its first look and
    // settles on the identity.
    ASSERT_EQ(table.setup1(cap, 200, 2200, 0.01, 1.0, 3.0), 1);
    for (int r = 0; r < 4; ++r)
        for (int q = 0; q < 4; ++q) EXPECT_EQ(table(r, q), r == q ? 1.0 : 0.0);
    EXPECT_EQ(samplesOf(cap), before);

    // Fifteen iterations cannot reach an impossible tolerance: the best
    // matrix is kept but not accepted.
    const Rows mixing = randomMixing(42);
    Rows mixed = mixedRun(mixing, 4000, 42);
    SepCap noisy = makeSepCap(mixed, 3.0);
    EXPECT_EQ(table.setup(noisy, 200, 2200, 1e-12, 1.0), 0);
    EXPECT_EQ(table.setup(noisy, 200, 2200, 1e-12, 1e12), 1);
}

TEST(SingularCases, NeverCrashAndNeverLeaveNaN) {
    const Rows mixing = randomMixing(51);
    Rows zeroChannel = mixedRun(mixing, 3000, 51);
    std::fill(zeroChannel[1].begin(), zeroChannel[1].end(), 0.0);
    Rows twins = mixedRun(mixing, 3000, 52);
    twins[2] = twins[1];
    const std::string path = testing::TempDir() + "kw_never_written.txt";

    // Learning that fails leaves the capillary, ssm and the file alone.
    auto expectNothingLearned = [&](Rows& rows, int robust) {
        SepCap cap = makeSepCap(rows, 3.0);
        const Rows before = samplesOf(cap);
        FloatMatrix ssm(4, -9.0f);
        std::remove(path.c_str());
        EXPECT_EQ(cap.specSep(0.01, path.c_str(), ssm.get(), 2.0, robust), 0);
        EXPECT_EQ(samplesOf(cap), before);
        EXPECT_EQ(ssm.cells, std::vector<float>(16, -9.0f));
        EXPECT_FALSE(std::ifstream(path).good());
    };
    // A channel without peaks cannot be measured robustly; a twin never
    // leads a sample (ties go to the lower code), so it cannot be measured
    // plainly.
    expectNothingLearned(zeroChannel, 1);
    expectNothingLearned(twins, 0);

    // The plain measurement gives a zero channel the samples where all
    // others are negative, finds it leaks nowhere and separates the rest.
    SepCap zero = makeSepCap(zeroChannel, 3.0);
    FloatMatrix ssm(4);
    ASSERT_EQ(zero.specSep(0.01, nullptr, ssm.get(), 2.0, 0), 1);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(ssm.cells[4 + k], k == 1 ? 1.0f : 0.0f);
        EXPECT_EQ(ssm.cells[k * 4 + 1], k == 1 ? 1.0f : 0.0f);
    }
    EXPECT_EQ(samplesOf(zero)[1], zeroChannel[1]);

    // The robust measurement tells twins apart only through its rescaling
    // of the channels; whatever it settles on, the samples stay finite.
    SepCap twin = makeSepCap(twins, 3.0);
    twin.specSep(0.01, nullptr, ssm.get(), 2.0, 1);
    EXPECT_TRUE(allFinite(twin));

    // A singular system matrix pre-separates everything to zero; the
    // refinement then has nothing to learn from.
    SepCap cap = makeSepCap(twins, 3.0);
    FloatMatrix zeros(4, 0.0f);
    cap.setSystemSSM(zeros.getConst());
    FloatMatrix untouched(4, 3.0f);
    EXPECT_EQ(cap.specSep(0.01, 2.0, untouched.get()), 0);
    EXPECT_EQ(untouched.cells, std::vector<float>(16, 3.0f));
    EXPECT_TRUE(allFinite(cap));
}

TEST(RealRuns, LearningSucceedsOnInstrumentFiles) {
    // Signal windows as the raw channels show them: from the first peaks to
    // where the 310's signal fades.
    struct Run {
        const char* name;
        int start, end;
    };
    for (const Run& r : {Run{"3730.ab1", 1800, 16900}, Run{"310.ab1", 1600, 9600}}) {
        const std::string path = std::string(KWSIGNAL_SHARED_DATA) + "/abif/" + r.name;
        if (!std::ifstream(path).good()) GTEST_SKIP() << "instrument file absent: " << path;
        kw::AbifRun run = kw::readAbif(path);
        ASSERT_TRUE(run.ok()) << run.error;
        std::vector<double*> p = run.rowPointers();
        SepCap cap(run.numTraces(), run.numScans, p.data(), run.samplingRate);
        // The 310's raw channels sit on offsets of 500 to 1000 counts, which
        // would read as cross-talk.
        ASSERT_EQ(cap.deBaseline(20), 1);
        cap.setSignalStartPnt(r.start);
        cap.setSignalEndPnt(r.end);
        for (int robust : {0, 1}) {
            SepCap work(cap);
            FloatMatrix ssm(4);
            ASSERT_EQ(work.specSep(0.02, nullptr, ssm.get(), 3.0, robust), 1)
                << r.name << " robust " << robust;
            for (int row = 0; row < 4; ++row)
                for (int q = 0; q < 4; ++q) {
                    const float v = ssm.cells[row * 4 + q];
                    if (row == q) {
                        EXPECT_GT(v, 0.0f);
                    } else {
                        EXPECT_LT(std::fabs(v), 1.0f);
                    }
                }
            EXPECT_TRUE(allFinite(work));
        }
    }
}
