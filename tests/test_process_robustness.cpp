// The default road on capillaries no healthy run produces: non-finite
// samples, silence, constant channels, a dead channel, two-dye files, runs
// too short to process and runs far longer than any instrument writes.
// Each ends in a reason or in a defined result whose every number is
// finite, within bounded time and memory.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "kwsignal/process.h"
#include "kwsignal/simulate.h"

namespace {

using Rows = std::vector<std::vector<double>>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

kw::Run makeRun(Rows rows, double rate) {
    kw::Run run;
    run.path = "synthetic";
    run.numTraces = static_cast<int>(rows.size());
    run.numData = rows.empty() ? 0 : static_cast<int>(rows[0].size());
    run.rate = rate;
    run.rows = std::move(rows);
    for (int t = 0; t < run.numTraces; ++t) run.channelNames.push_back(std::to_string(t));
    return run;
}

Rows simulatedRows(int bases = 150, double rate = 3.0, uint32_t seed = 5) {
    kw::SimulationOptions o;
    o.seed = seed;
    o.bases = bases;
    o.rate = rate;
    return kw::simulateCapillary(o).channels;
}

struct Outcome {
    std::string problem;
    kw::ProcessResult result;
};

Outcome process(const kw::Run& run) {
    Outcome o;
    o.problem = kw::process(run, kw::ProcessOptions(), o.result).reason;
    return o;
}

// A processed run reports numbers only: no NaN or infinity in its peaks,
// matrix or channel summaries, peaks on existing traces and in order.
void expectDefinedResult(const kw::Run& run, const Outcome& o, const std::string& what) {
    ASSERT_TRUE(o.problem.empty()) << what << ": " << o.problem;
    const kw::ProcessResult& r = o.result;
    EXPECT_TRUE(r.status == kw::RunStatus::ok || r.status == kw::RunStatus::noSignal)
        << what << ": " << kw::runStatusName(r.status);
    EXPECT_EQ(static_cast<int>(r.channels.size()), run.numTraces) << what;
    for (const kw::ChannelSummary& c : r.channels)
        EXPECT_TRUE(std::isfinite(c.noiseLevel) && std::isfinite(c.minHeight)) << what;
    for (const std::vector<double>& row : r.matrix)
        for (double v : row) EXPECT_TRUE(std::isfinite(v)) << what << ": matrix";
    double last = -kInf;
    for (const KwPeak& p : r.peaks) {
        EXPECT_TRUE(std::isfinite(p.getLocatn()) && std::isfinite(p.getHeight())) << what;
        EXPECT_GE(p.getLocatn(), last) << what << ": peaks in order";
        EXPECT_TRUE(p.getTraceCode() >= 0 && p.getTraceCode() < run.numTraces) << what;
        last = p.getLocatn();
    }
}

// Refused with a reason, or a defined result.
void expectReasonOrDefinedResult(const kw::Run& run, const std::string& what) {
    const Outcome o = process(run);
    if (!o.problem.empty()) return;
    expectDefinedResult(run, o, what);
}

int peaksOn(const kw::ProcessResult& r, int code) {
    int n = 0;
    for (const KwPeak& p : r.peaks) n += p.getTraceCode() == code ? 1 : 0;
    return n;
}

}  // namespace

TEST(PipelineRobustness, SilentAndConstantRunsHoldNoSignal) {
    const int n = 6000;
    const std::vector<std::pair<std::string, double>> levels = {
        {"all zeros", 0.0}, {"constant 500", 500.0}, {"constant -3", -3.0}};
    for (const auto& level : levels) {
        const kw::Run run = makeRun(Rows(4, std::vector<double>(n, level.second)), 3.0);
        const Outcome o = process(run);
        expectDefinedResult(run, o, level.first);
        EXPECT_EQ(o.result.status, kw::RunStatus::noSignal) << level.first;
        EXPECT_TRUE(o.result.peaks.empty()) << level.first;
    }
}

TEST(PipelineRobustness, NonFiniteSamples) {
    const Rows clean = simulatedRows();
    const int n = static_cast<int>(clean[0].size());
    struct Case {
        std::string what;
        std::vector<std::pair<int, int>> at;  // (trace, sample); sample -1: the whole trace
        double value;
    };
    const std::vector<Case> cases = {
        {"a NaN inside the peak train", {{2, n / 2}}, kNaN},
        {"NaNs over two channels", {{1, n / 7}, {1, n / 3}, {2, n / 3 + 1}, {2, 2 * n / 3}}, kNaN},
        {"+infinity at the first sample", {{0, 0}}, kInf},
        {"-infinity at the last sample", {{3, n - 1}}, -kInf},
        {"a channel of NaN", {{1, -1}}, kNaN},
        {"a channel of +infinity", {{3, -1}}, kInf},
        {"nothing but NaN", {{0, -1}, {1, -1}, {2, -1}, {3, -1}}, kNaN},
    };
    for (const Case& c : cases) {
        Rows rows = clean;
        for (const auto& a : c.at) {
            if (a.second < 0) rows[a.first].assign(n, c.value);
            if (a.second >= 0) rows[a.first][a.second] = c.value;
        }
        expectReasonOrDefinedResult(makeRun(rows, 3.0), c.what);
    }
}

TEST(PipelineRobustness, DeadChannelAndTwoDyeRuns) {
    Rows rows = simulatedRows();
    rows[3].assign(rows[3].size(), 40.0);  // a channel whose detector gave up
    const kw::Run dead = makeRun(rows, 3.0);
    const Outcome o = process(dead);
    expectDefinedResult(dead, o, "one flat channel of four");
    EXPECT_EQ(o.result.status, kw::RunStatus::ok);
    EXPECT_GT(peaksOn(o.result, 0) + peaksOn(o.result, 1) + peaksOn(o.result, 2), 100);

    Rows two = simulatedRows();
    two.resize(2);
    const kw::Run pair = makeRun(two, 3.0);
    const Outcome p = process(pair);
    expectDefinedResult(pair, p, "two traces");
    EXPECT_EQ(p.result.status, kw::RunStatus::ok);
    EXPECT_GT(p.result.peaks.size(), 30u);
    EXPECT_EQ(p.result.matrix.size(), 2u);

    Rows one = simulatedRows();
    one.resize(1);
    const kw::Run single = makeRun(one, 3.0);
    const Outcome q = process(single);
    expectDefinedResult(single, q, "one trace");
    EXPECT_EQ(q.result.status, kw::RunStatus::ok);
    EXPECT_GT(q.result.peaks.size(), 20u);
}

TEST(PipelineRobustness, RunsTooShortOrWithoutTracesAreRefused) {
    Rows rows = simulatedRows(10);
    for (std::vector<double>& r : rows) r.resize(50);
    for (const kw::Run& run : {makeRun(rows, 3.0), makeRun(Rows(4), 3.0), makeRun(Rows(), 3.0)}) {
        const Outcome o = process(run);
        EXPECT_FALSE(o.problem.empty()) << run.numTraces << " traces of " << run.numData;
    }
    for (double rate : {0.0, -1.0, kNaN, kInf}) {
        const Outcome o = process(makeRun(simulatedRows(), rate));
        EXPECT_FALSE(o.problem.empty()) << "rate " << rate;
    }
}

TEST(PipelineRobustness, FiveMillionSamplesInBoundedTimeAndMemory) {
    // A long run tiled from a simulated one: peaks from end to end, the most
    // work per sample the road can be given.
    const Rows tile = simulatedRows(2000, 3.0, 11);
    const size_t n = 5000000;
    Rows rows(4, std::vector<double>(n));
    for (size_t t = 0; t < 4; ++t)
        for (size_t s = 0; s < n; ++s) rows[t][s] = tile[t][s % tile[t].size()];
    const kw::Run run = makeRun(std::move(rows), 3.0);
    const auto t0 = std::chrono::steady_clock::now();
    const Outcome o = process(run);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    expectDefinedResult(run, o, "5,000,000 samples");
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double peakMiB = usage.ru_maxrss / 1024.0;
    // The input is 153 MiB of samples; the road's working copies must stay
    // a small multiple of it. The sanitizer build runs ten times slower and
    // on a loaded machine slower still: its time says nothing.
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(seconds, 90.0);
#endif
    EXPECT_LT(peakMiB, 2500.0);
    std::printf("5,000,000 x 4 samples: %.1f s, peak memory %.0f MiB, %zu peaks\n", seconds,
                peakMiB, o.result.peaks.size());
}
