// The synthetic raw capillary: reproducible, shaped like a run (bases a
// spacing apart, widening and weakening peaks, known mixing, primer blob,
// spike, dip, tail) and safe with any options.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "kwsignal/simulate.h"

namespace {

kw::SimulatedCapillary simulate(uint32_t seed, int bases = 300, double rate = 3.0) {
    kw::SimulationOptions o;
    o.seed = seed;
    o.bases = bases;
    o.rate = rate;
    return kw::simulateCapillary(o);
}

double median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

TEST(Simulate, SameOptionsSameRunOtherSeedOtherRun) {
    const kw::SimulatedCapillary a = simulate(5), b = simulate(5), c = simulate(6);
    EXPECT_EQ(a.channels, b.channels);
    ASSERT_EQ(a.peaks.size(), b.peaks.size());
    for (size_t k = 0; k < a.peaks.size(); ++k) EXPECT_EQ(a.peaks[k].centre, b.peaks[k].centre);
    EXPECT_NE(a.channels, c.channels);
}

TEST(Simulate, BasesAreSpacedWidenAndWeakenAlongTheRun) {
    const kw::SimulatedCapillary s = simulate(11, 400, 3.0);
    ASSERT_EQ(s.peaks.size(), 400u);
    EXPECT_DOUBLE_EQ(s.rate, 3.0);
    EXPECT_NEAR(s.spacing, 4.2 * 3.0, 1e-12);  // a base takes 4.2 s
    std::vector<double> gaps;
    for (size_t k = 1; k < s.peaks.size(); ++k) {
        EXPECT_LT(s.peaks[k - 1].centre, s.peaks[k].centre);
        gaps.push_back(s.peaks[k].centre - s.peaks[k - 1].centre);
    }
    EXPECT_NEAR(median(gaps), 1.04 * s.spacing, 0.05 * s.spacing);
    EXPECT_LT(s.peaks.front().sigma, s.peaks.back().sigma);
    std::vector<double> early, late;
    for (size_t k = 0; k < 100; ++k) {
        early.push_back(s.peaks[k].height);
        late.push_back(s.peaks[s.peaks.size() - 1 - k].height);
    }
    EXPECT_GT(median(early), 1.5 * median(late));
    int perChannel[4] = {0, 0, 0, 0};
    for (const kw::SimulatedPeak& p : s.peaks) {
        ASSERT_TRUE(p.channel >= 0 && p.channel < 4);
        ++perChannel[p.channel];
    }
    for (int c : perChannel) EXPECT_GT(c, 60);
    // The spacing, in samples, follows the rate.
    EXPECT_NEAR(simulate(11, 50, 6.0).spacing, 2.0 * s.spacing, 1e-9);
}

TEST(Simulate, MixingMatrixLeaksMostIntoSpectralNeighbours) {
    kw::SimulationOptions o;
    o.crosstalk = 0.3;
    const kw::SimulatedCapillary s = kw::simulateCapillary(o);
    ASSERT_EQ(s.mixing.size(), 4u);
    double largest = 0.0;
    for (int k = 0; k < 4; ++k)
        for (int d = 0; d < 4; ++d) {
            if (k == d) {
                EXPECT_EQ(s.mixing[k][d], 1.0);
                continue;
            }
            EXPECT_GT(s.mixing[k][d], 0.0);
            EXPECT_LE(s.mixing[k][d], 0.3 * 1.2 + 1e-12);
            largest = std::max(largest, s.mixing[k][d]);
        }
    EXPECT_GT(largest, 0.3 * 0.8);
    // G and A sit next to each other in the spectrum, G and C at its ends.
    EXPECT_GT(s.mixing[1][2], s.mixing[0][2]);
}

TEST(Simulate, RunHasItsBlobArtefactsAndTail) {
    const kw::SimulatedCapillary s = simulate(3, 300);
    const int n = static_cast<int>(s.channels[0].size());
    for (const auto& c : s.channels) ASSERT_EQ(static_cast<int>(c.size()), n);
    std::vector<double> sum(n, 0.0);
    for (const auto& c : s.channels)
        for (int i = 0; i < n; ++i) sum[i] += c[i];
    const int first = static_cast<int>(s.peaks.front().centre);
    const int last = static_cast<int>(s.peaks.back().centre);
    ASSERT_TRUE(s.primerPnt < first && last < s.tailPnt && s.tailPnt < n);
    const double blob = *std::max_element(sum.begin(), sum.begin() + first - 5);
    const double body = median(std::vector<double>(sum.begin() + first, sum.begin() + last));
    EXPECT_GT(blob, 3.0 * body);
    // The spikes stand far above the bases, the dip far below everything.
    const auto range = std::minmax_element(sum.begin() + first, sum.begin() + last);
    EXPECT_GT(*range.second, blob * 0.5);
    EXPECT_LT(*range.first, 0.0);
    // The tail holds no base and is mostly quiet.
    const double tail = median(std::vector<double>(sum.begin() + s.tailPnt, sum.end()));
    EXPECT_LT(tail, body);
    for (const auto& c : s.channels)
        for (double v : c) ASSERT_EQ(v, std::round(v));  // whole detector counts
}

TEST(Simulate, OptionsOutsideTheirRangeAreClamped) {
    kw::SimulationOptions o;
    o.bases = -3;
    o.rate = std::numeric_limits<double>::quiet_NaN();
    o.crosstalk = 7.0;
    o.noise = -1.0;
    const kw::SimulatedCapillary s = kw::simulateCapillary(o);
    EXPECT_EQ(s.peaks.size(), 1u);
    EXPECT_EQ(s.rate, 3.0);
    for (const auto& row : s.mixing)
        for (double v : row) EXPECT_TRUE(std::isfinite(v) && v <= 1.0);
    for (const auto& c : s.channels)
        for (double v : c) ASSERT_TRUE(std::isfinite(v));
    o.bases = 1000000;
    o.rate = 1e9;
    EXPECT_EQ(kw::simulateCapillary(o).peaks.size(), 5000u);
}

}  // namespace
