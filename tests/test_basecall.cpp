// Base calling on processed runs with a known sequence, the read's summary
// figures, and the files written from the calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "calling/calling.h"
#include "kwsignal/basecall.h"
#include "kwsignal/capillary.h"
#include "kwsignal/events.h"
#include "kwsignal/process.h"
#include "kwsignal/run.h"
#include "kwsignal/simulate.h"
#include "synthetic.h"

namespace {

constexpr double kSpacing = 12.0;
constexpr double kSigma = 2.5;

int dyeOf(char b) {
    return static_cast<int>(std::string("CAGT").find(b));
}

// A processed run of `seq` as the road hands it over: one Gaussian per base
// in its dye's channel, a base spacing apart, shifted by the dye's mobility
// offset; the fitted peaks, where a run of one letter is fitted as one broad
// peak (as a fit of merged bases is). heightOf(k) scales base k.
struct SynthRun {
    KwCap cap;
    std::vector<KwPeak> peaks;
    kw::CallInputs in;
};

KwPeak peakOf(int dye, double centre, double height, double sigma) {
    KwPeak p;
    p.setTraceCode(dye);
    p.setLocatn(centre);
    p.setHeight(height);
    p.setSigma(sigma);
    p.setStartPnt(static_cast<int>(centre - 3 * sigma));
    p.setEndPnt(static_cast<int>(centre + 3 * sigma));
    return p;
}

template <class Height>
SynthRun makeRun(const std::string& seq, const double offset[4], Height heightOf) {
    const int n = static_cast<int>(60 + seq.size() * kSpacing + 60);
    std::vector<std::vector<double>> rows(4, std::vector<double>(n, 0.0));
    std::vector<KwPeak> peaks;
    for (size_t k = 0; k < seq.size();) {
        size_t end = k;
        while (end < seq.size() && seq[end] == seq[k]) ++end;
        const int d = dyeOf(seq[k]);
        const int m = static_cast<int>(end - k);
        double centre = 0.0, height = 0.0;
        for (size_t j = k; j < end; ++j) {
            const double x = 60 + j * kSpacing + offset[d];
            kwtest::addGaussian(rows[d], x, heightOf(j), kSigma);
            centre += x / m;
            height = std::max(height, heightOf(j));
        }
        const double sigma = std::sqrt(kSigma * kSigma + kSpacing * kSpacing * (m * m - 1) / 12.0);
        peaks.push_back(peakOf(d, centre, height, sigma));
        k = end;
    }
    std::sort(peaks.begin(), peaks.end(),
              [](const KwPeak& a, const KwPeak& b) { return a.getLocatn() < b.getLocatn(); });
    kw::CallInputs in;
    in.windowStart = 0;
    in.windowEnd = n - 1;
    in.spacing = kSpacing;
    return SynthRun{kwtest::makeCap(rows, 3.0), peaks, in};
}

const double kNoOffset[4] = {0.0, 0.0, 0.0, 0.0};

// Random bases without runs of one letter, as flanks around the cases.
std::string flank(int length, unsigned seed) {
    std::string s;
    std::srand(seed);
    while (static_cast<int>(s.size()) < length) {
        const char b = "ACGT"[std::rand() % 4];
        if (s.empty() || s.back() != b) s += b;
    }
    return s;
}

double steady(size_t k) {
    return 800.0 + 200.0 * std::sin(0.7 * k);
}

kw::BaseCalls call(const SynthRun& r, const kw::CallOptions& o = kw::CallOptions()) {
    return kw::callBases(r.cap, r.peaks, r.in, o);
}

}  // namespace

TEST(BaseCalling, ReadsRunsOfOneLetterAndWeakBasesAndDropsExtraPeaks) {
    // Runs of 2 to 6 fitted as one broad peak each.
    const std::string runs = flank(30, 1) + "AA" + flank(8, 2) + "CCC" + flank(8, 3) + "TTTT" +
                             flank(8, 4) + "GGGGG" + flank(8, 5) + "AAAAAA" + flank(30, 6);
    // flank() may start a run with the base before it; compare to the truth.
    SynthRun r = makeRun(runs, kNoOffset, steady);
    const kw::BaseCalls rc = call(r);
    EXPECT_EQ(rc.sequence(), runs);
    // How many bases a hump holds is read from its width: its bases are
    // trusted less than the single bases of the flanks.
    ASSERT_EQ(rc.bases.size(), runs.size());
    const size_t six = runs.find("AAAAAA");
    EXPECT_LT(rc.bases[six + 2].qv, rc.bases[15].qv);

    // A base at 15 % of its neighbours' height is a base; a small peak half a
    // spacing off the train (a cross-talk remnant) is not.
    const std::string seq = flank(80, 7);
    const size_t weak = 40;
    SynthRun w = makeRun(seq, kNoOffset, [&](size_t k) { return k == weak ? 150.0 : 1000.0; });
    w.peaks.push_back(peakOf(dyeOf(seq[20]) == 0 ? 1 : 0, 60 + 20.5 * kSpacing, 90.0, kSigma));
    std::sort(w.peaks.begin(), w.peaks.end(),
              [](const KwPeak& a, const KwPeak& b) { return a.getLocatn() < b.getLocatn(); });
    const kw::BaseCalls c = call(w);
    EXPECT_EQ(c.sequence(), seq);
    ASSERT_EQ(c.bases.size(), seq.size());
    // The weak base is trusted less than its strong neighbours.
    EXPECT_LT(c.bases[weak].qv, c.bases[weak - 2].qv);

    // Bases the sharpening flattened (no peak, nothing left in the processed
    // channels) that the unsharpened channels still show, each dye at its
    // own brightness there, are read from those; without them every such
    // slot gets one letter, the run's rarest dye.
    const std::string lost = flank(120, 8);
    const std::vector<size_t> gone = {30, 45, 60, 75, 90};
    auto isGone = [&](size_t k) { return std::find(gone.begin(), gone.end(), k) != gone.end(); };
    SynthRun f = makeRun(lost, kNoOffset, [&](size_t k) { return isGone(k) ? 0.0 : 1000.0; });
    const SynthRun whole = makeRun(lost, kNoOffset, steady);
    // The unsharpened channels of a run: its own, each dye at a brightness
    // of its own.
    auto unsharpened = [](const SynthRun& run) {
        const double gain[4] = {0.05, 0.4, 0.1, 0.2};
        std::vector<std::vector<double>> rows(4, std::vector<double>(run.cap.getNumData()));
        for (int t = 0; t < 4; ++t)
            for (int s = 0; s < run.cap.getNumData(); ++s) rows[t][s] = gain[t] * run.cap(t, s);
        return rows;
    };
    const std::vector<std::vector<double>> separated = unsharpened(whole);
    EXPECT_NE(call(f).sequence(), lost);
    f.in.separated = &separated;
    const kw::BaseCalls fc = call(f);
    EXPECT_EQ(fc.sequence(), lost);
    ASSERT_EQ(fc.bases.size(), lost.size());
    for (size_t k : gone) EXPECT_EQ(fc.bases[k].origin, kw::BaseOrigin::filled);

    // A hump read as three bases of one dye whose last place the
    // unsharpened channels give to another dye is two bases and that one.
    const std::string truth = flank(40, 9) + "TAAC" + flank(40, 10);
    const size_t c3 = truth.find("TAAC") + 3;
    std::string merged = truth;
    merged[c3] = 'A';
    SynthRun h = makeRun(merged, kNoOffset, steady);
    const std::vector<std::vector<double>> hs = unsharpened(makeRun(truth, kNoOffset, steady));
    ASSERT_EQ(call(h).sequence(), merged);
    h.in.separated = &hs;
    EXPECT_EQ(call(h).sequence(), truth);

    // Bases given no height have no fitted peak: the processed channels lost them.
    auto dropSilentPeaks = [](SynthRun& synth) {
        synth.peaks.erase(std::remove_if(synth.peaks.begin(), synth.peaks.end(),
                                         [](const KwPeak& p) { return p.getHeight() <= 0.0; }),
                          synth.peaks.end());
    };
    // A read that ends in a run of one letter the sharpening flattened, the
    // middle of its plateau taken by the baseline, is read to its end from
    // the unsharpened channels; a lone bump some bases after the read's end
    // is not read as more bases.
    const std::string read = flank(100, 11);
    const std::string tail = read + std::string(9, read.back() == 'G' ? 'C' : 'G');
    const size_t ends = tail.size() - 9;
    // Eight more places of signal-free run after the read.
    const std::string run = tail + flank(8, 12);
    SynthRun e = makeRun(run, kNoOffset, [&](size_t k) { return k >= ends ? 0.0 : 1000.0; });
    dropSilentPeaks(e);
    std::vector<std::vector<double>> es = unsharpened(makeRun(run, kNoOffset, [&](size_t k) {
        return k == ends + 4 || k == ends + 5 || k >= tail.size() ? 0.0 : steady(k);
    }));
    kwtest::addGaussian(es[1], 60 + (tail.size() + 7) * kSpacing, 0.2 * 800.0, kSigma);
    EXPECT_EQ(call(e).sequence(), tail.substr(0, ends));
    e.in.separated = &es;
    EXPECT_EQ(call(e).sequence(), tail);

    // Every dye fades sevenfold over the last bases of the unsharpened
    // channels, and the A and G bases there are gone from the processed
    // ones: they are still read as A and G, on scales that follow the other
    // dyes' fade.
    const std::string fading = flank(140, 13);
    auto fade = [](size_t k) { return k < 60 ? 1.0 : std::max(0.15, 1.0 - 0.012 * (k - 60)); };
    SynthRun g = makeRun(fading, kNoOffset, [&](size_t k) {
        return k >= 80 && (fading[k] == 'A' || fading[k] == 'G') ? 0.0 : 1000.0;
    });
    dropSilentPeaks(g);
    const std::vector<std::vector<double>> gs =
        unsharpened(makeRun(fading, kNoOffset, [&](size_t k) { return 1000.0 * fade(k); }));
    g.in.separated = &gs;
    EXPECT_EQ(call(g).sequence(), fading);
}

TEST(BaseCalling, LearnsAndUndoesDyeMobility) {
    // G runs 4 samples late and T 3 early (a third and a quarter of a
    // spacing): uncorrected, a T after a G comes 5 samples behind it.
    const double offset[4] = {0.0, 0.0, 4.0, -3.0};
    const std::string seq = flank(300, 11);
    const kw::BaseCalls c = call(makeRun(seq, offset, steady));
    EXPECT_EQ(c.sequence(), seq);
    ASSERT_FALSE(c.mobility.empty());
    const kw::MobilityPoint& m = c.mobility[c.mobility.size() / 2];
    EXPECT_NEAR(m.offset[2] - m.offset[3], 7.0, 1.0);
    EXPECT_NEAR(m.offset[0] - m.offset[1], 0.0, 1.0);
    // Positions: the raw one on the dye's own peak, the corrected one on the
    // common axis.
    for (size_t k = 100; k < 110; ++k) {
        const int d = dyeOf(seq[k]);
        EXPECT_NEAR(c.bases[k].position, 60 + k * kSpacing + offset[d], 0.5);
        EXPECT_NEAR(c.bases[k].correctedPosition, 60 + k * kSpacing + 0.25, 1.5);
    }
    // As at the start of a run, G 8 samples early and T 8 late: a T comes
    // 4 samples after the G that follows it.
    const double wide[4] = {0.0, 0.0, -8.0, 8.0};
    const kw::BaseCalls cw = call(makeRun(seq, wide, steady));
    EXPECT_EQ(cw.sequence(), seq);
    ASSERT_FALSE(cw.mobility.empty());
    const kw::MobilityPoint& mw = cw.mobility[cw.mobility.size() / 2];
    EXPECT_NEAR(mw.offset[3] - mw.offset[2], 16.0, 1.5);
}

TEST(BaseCalling, MixedPositionGivesSecondaryBaseOrIupacCode) {
    const std::string seq = flank(80, 21);
    const size_t at = 40;
    SynthRun r = makeRun(seq, kNoOffset, [](size_t) { return 1000.0; });
    const int primary = dyeOf(seq[at]);
    const int other = primary == 1 ? 2 : 1;  // A, else G
    const char otherLetter = "CAGT"[other];
    // A second dye at half the height under the same base.
    std::vector<std::vector<double>> rows(4, std::vector<double>(r.cap.getNumData()));
    for (int t = 0; t < 4; ++t)
        for (int s = 0; s < r.cap.getNumData(); ++s) rows[t][s] = r.cap(t, s);
    const double x = 60 + at * kSpacing;
    kwtest::addGaussian(rows[other], x, 500.0, kSigma);
    r.cap = kwtest::makeCap(rows, 3.0);
    r.peaks.push_back(peakOf(other, x + 0.2, 500.0, kSigma));
    std::sort(r.peaks.begin(), r.peaks.end(),
              [](const KwPeak& a, const KwPeak& b) { return a.getLocatn() < b.getLocatn(); });

    const kw::BaseCalls pure = call(r);
    ASSERT_EQ(pure.sequence(), seq);
    EXPECT_EQ(pure.bases[at].secondary, otherLetter);
    EXPECT_NEAR(pure.bases[at].secondaryRatio, 0.5, 0.05);

    kw::CallOptions mixed;
    mixed.mixedRatio = 0.25;
    const kw::BaseCalls m = call(r, mixed);
    ASSERT_EQ(m.bases.size(), seq.size());
    const std::string pair =
        std::string(1, std::min(seq[at], otherLetter)) + std::max(seq[at], otherLetter);
    const std::string codes[] = {"ACM", "AGR", "ATW", "CGS", "CTY", "GTK"};
    char expected = '?';
    for (const std::string& c : codes)
        if (c.compare(0, 2, pair) == 0) expected = c[2];
    EXPECT_EQ(m.bases[at].base, expected);
    EXPECT_LE(m.bases[at].qv, kw::kMixedQv);
    EXPECT_EQ(m.counts[4], 1);
    mixed.mixedRatio = 0.6;  // the secondary at 50 % stays below it
    EXPECT_EQ(call(r, mixed).sequence(), seq);
}

TEST(BaseCalling, BadInputGivesNoCallsAndSaysWhy) {
    const std::string seq = flank(60, 31);
    const SynthRun good = makeRun(seq, kNoOffset, steady);
    auto expectNone = [](const kw::BaseCalls& c) {
        EXPECT_TRUE(c.bases.empty());
        EXPECT_FALSE(c.note.empty());
        EXPECT_EQ(c.trimEnd, c.trimStart);
    };
    expectNone(kw::callBases(good.cap, {}, good.in, kw::CallOptions()));
    kw::CallInputs in = good.in;
    in.spacing = 0.0;
    expectNone(kw::callBases(good.cap, good.peaks, in, kw::CallOptions()));
    for (double bad : {std::numeric_limits<double>::quiet_NaN(), 1e-300, 1e300}) {
        in.spacing = bad;
        expectNone(kw::callBases(good.cap, good.peaks, in, kw::CallOptions()));
    }
    std::vector<KwPeak> nan = good.peaks;
    for (KwPeak& p : nan) p.setHeight(std::numeric_limits<double>::quiet_NaN());
    expectNone(kw::callBases(good.cap, nan, good.in, kw::CallOptions()));
    const KwCap one = kwtest::makeCap({std::vector<double>(good.cap.getNumData(), 1.0)}, 3.0);
    expectNone(kw::callBases(one, good.peaks, good.in, kw::CallOptions()));
    // Peaks of unknown channels or outside the window are left out.
    std::vector<KwPeak> odd = good.peaks;
    odd.push_back(peakOf(7, 100.0, 1000.0, kSigma));
    odd.push_back(peakOf(1, 1e9, 1000.0, kSigma));
    EXPECT_EQ(kw::callBases(good.cap, odd, good.in, kw::CallOptions()).sequence(), seq);
}

TEST(BaseCalling, TrimmingAndSummaryFigures) {
    // Per base: cutoff - P(error); QV 5 costs 0.266, QV 30 gains 0.049, so
    // the best stretch is the three QV-30 bases and not the five with a QV 5
    // between.
    int start = -1, end = -1;
    kw::mottTrim({5, 5, 30, 30, 30, 5, 30, 30, 2, 2}, 0.05, start, end);
    EXPECT_EQ(start, 2);
    EXPECT_EQ(end, 5);
    kw::mottTrim({0, 3, 5}, 0.05, start, end);
    EXPECT_EQ(end - start, 0);

    kw::BaseCalls calls;
    for (int i = 0; i < 100; ++i) {
        kw::BaseCall b;
        b.base = i == 50 ? 'N' : "ACGT"[i % 4];
        b.qv = i < 20 ? 5 : 40;
        calls.bases.push_back(b);
    }
    kw::summariseCalls(calls, 0.05);
    EXPECT_EQ(calls.qv20, 80);
    EXPECT_EQ(calls.counts[4], 1);
    EXPECT_EQ(calls.counts[0] + calls.counts[1] + calls.counts[2] + calls.counts[3], 99);
    EXPECT_EQ(calls.trimStart, 20);
    EXPECT_EQ(calls.trimEnd, 100);
    EXPECT_DOUBLE_EQ(calls.trimmedMeanQv, 40.0);
    // Base i counts when the mean QV of bases i-21..i+21 (clipped at the
    // ends) reaches 20.
    int first = -1;
    for (int i = 0; i < 100 && first < 0; ++i) {
        const int lo = std::max(0, i - 21), hi = std::min(99, i + 21);
        double sum = 0;
        for (int k = lo; k <= hi; ++k) sum += calls.bases[k].qv;
        if (sum / (hi - lo + 1) >= 20.0) first = i;
    }
    EXPECT_EQ(calls.contiguousStart, first);
    EXPECT_EQ(calls.contiguousLength, 100 - first);
}

TEST(BaseCalling, MixtureOnsetIsFoundOnlyWhereASecondLadderStays) {
    // 200 kept bases; from base 120 on a second dye stands under most bases
    // (every fifth one clean; over the first `sparse` of them only under
    // every fourth, as a weak allele sets in), with scattered secondaries
    // before it.
    auto read = [](int onset, double ratio, int sparse = 0) {
        kw::BaseCalls calls;
        for (int i = 0; i < 200; ++i) {
            kw::BaseCall b;
            b.base = "ACGT"[i % 4];
            b.qv = 40;
            b.position = 100.0 + 12.0 * i;
            const bool mixed = onset >= 0 && i >= onset &&
                               (i < onset + sparse ? (i - onset) % 4 == 0 : i % 5 != 0);
            const bool stray = i % 11 == 0;
            if (mixed || stray) {
                b.secondary = "CAGT"[(i + 1) % 4];
                b.secondaryRatio = mixed ? ratio : 0.4;
            }
            calls.bases.push_back(b);
        }
        kw::summariseCalls(calls, 0.05);
        return calls.mixture;
    };
    const kw::Mixture m = read(120, 0.3);
    ASSERT_TRUE(m.found);
    EXPECT_NEAR(m.onsetBase, 120, 2);
    EXPECT_NEAR(m.onsetSample, 100.0 + 12.0 * m.onsetBase, 1e-9);
    EXPECT_NEAR(m.meanSecondaryRatio, 0.3 * 0.8, 0.03);
    EXPECT_NEAR(read(120, 0.3, 24).onsetBase, 120, 2);  // not where the share first steps up
    EXPECT_FALSE(read(-1, 0.0).found);                  // stray secondaries only
    EXPECT_FALSE(read(120, 0.1).found);                 // too weak to be a second ladder
    EXPECT_FALSE(read(185, 0.3).found);                 // too few mixed bases at the end
    // Mixed from the first base: no clean start to step up from.
    EXPECT_FALSE(read(0, 2.0).found);
    const kw::Mixture strong = read(60, 2.0);  // ratios capped at 1
    ASSERT_TRUE(strong.found);
    EXPECT_LE(strong.meanSecondaryRatio, 1.0);
    EXPECT_EQ(strong.test, kw::MixtureTest::share);
    // Every fourth base before the onset carries a second dye of 0.16 (too
    // many for the share of such bases to step up), the rest 0.05: only the
    // rise of the second dyes' median to `after` on three bases of five
    // marks the onset, and not where that rise stays under a strong dye or
    // has too little behind it. A burst of strong second dyes over 14 bases
    // from `burst` (a compression, a dye artefact) does not take the onset.
    // Each read: 200 kept bases, every one with a second dye of ratioAt(base).
    auto secondDyes = [](auto ratioAt) {
        kw::BaseCalls calls;
        for (int i = 0; i < 200; ++i) {
            kw::BaseCall b;
            b.base = "ACGT"[i % 4];
            b.qv = 40;
            b.secondary = "CAGT"[(i + 1) % 4];
            b.secondaryRatio = ratioAt(i);
            calls.bases.push_back(b);
        }
        kw::summariseCalls(calls, 0.05);
        return calls.mixture;
    };
    auto weak = [&](double after, int until = 200, int burst = -1) {
        return secondDyes([=](int i) {
            if (burst >= 0 && i >= burst && i < burst + 14 && i % 5 < 3) return 0.6;
            return i < 120     ? (i % 4 == 0 ? 0.16 : 0.05)
                   : i < until ? (i % 5 < 3 ? after : 0.0)
                               : 0.0;
        });
    };
    const kw::Mixture rise = weak(0.3);
    ASSERT_TRUE(rise.found);
    EXPECT_EQ(rise.test, kw::MixtureTest::rise);
    EXPECT_NEAR(rise.onsetBase, 120, 2);
    EXPECT_FALSE(weak(0.18).found);      // no base's second dye reaches 0.2
    EXPECT_FALSE(weak(0.3, 140).found);  // a burst: the second dyes do not stay
    EXPECT_NEAR(weak(0.3, 200, 80).onsetBase, 120, 2);
    // A rise within the first 40 kept bases looks as much like a clean
    // read's taller first bases giving way to the rest: a second sequence
    // set in there is taken from the 40th on, once the rise still holds.
    auto riseFrom = [&](int onset) {
        return secondDyes([=](int i) {
            return i < onset ? (i % 4 == 0 ? 0.16 : 0.05) : (i % 5 < 3 ? 0.3 : 0.0);
        });
    };
    const kw::Mixture early = riseFrom(30);
    ASSERT_TRUE(early.found);
    EXPECT_GE(early.onsetBase, 40);
    EXPECT_NEAR(riseFrom(45).onsetBase, 45, 2);
    // A second template drifting into step with the read's bases: from base
    // 120 under every third base only, from 150 under every second. The
    // share of such bases never steps up from a clean stretch; the rise
    // fires some bases in, and the onset goes back to where they began.
    const kw::Mixture drifting = secondDyes([](int i) {
        return (i >= 150 ? i % 2 == 0 : i >= 120 && (i - 120) % 3 == 0) ? 0.3 : 0.05;
    });
    ASSERT_TRUE(drifting.found);
    EXPECT_EQ(drifting.test, kw::MixtureTest::rise);
    EXPECT_NEAR(drifting.onsetBase, 120, 2);
    // A weak second ladder (0.14 under most bases) still steps up; weak
    // second dyes scattered over the 40 bases before a strong one's onset
    // (a heterozygous read's clean start) do not draw the onset back.
    const kw::Mixture faint = read(120, 0.14);
    ASSERT_TRUE(faint.found);
    EXPECT_EQ(faint.test, kw::MixtureTest::share);
    EXPECT_NEAR(faint.onsetBase, 120, 2);
    const kw::Mixture scattered = secondDyes([](int i) {
        return i < 80 ? 0.05 : i < 120 ? (i % 3 == 0 ? 0.14 : 0.05) : (i % 5 < 3 ? 0.3 : 0.0);
    });
    ASSERT_TRUE(scattered.found);
    EXPECT_NEAR(scattered.onsetBase, 120, 2);
}

// Edit distance of a and b (Levenshtein), for comparing reads; within:
// the fewest edits that turn a into some stretch of b.
int editDistance(const std::string& a, const std::string& b, bool within = false) {
    std::vector<int> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = within ? 0 : static_cast<int>(j);
    for (size_t i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = static_cast<int>(i);
        for (size_t j = 1; j <= b.size(); ++j) {
            const int up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = up;
        }
    }
    return within ? *std::min_element(row.begin(), row.end()) : row[b.size()];
}

// The letters of calls with positions in [from, to).
std::string lettersBetween(const kw::BaseCalls& calls, double from, double to) {
    std::string s;
    for (const kw::BaseCall& b : calls.bases)
        if (b.position >= from && b.position < to) s += b.base;
    return s;
}

double medianGap(const kw::BaseCalls& calls, double from, double to) {
    std::vector<double> gaps;
    for (size_t i = 1; i < calls.bases.size(); ++i)
        if (calls.bases[i - 1].position >= from && calls.bases[i].position < to)
            gaps.push_back(calls.bases[i].position - calls.bases[i - 1].position);
    if (gaps.empty()) return 0.0;
    std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
    return gaps[gaps.size() / 2];
}

// The errors the QVs of the calls with positions in [from, to) expect,
// and their mean.
double expectedErrors(const kw::BaseCalls& calls, double from, double to) {
    double sum = 0.0;
    for (const kw::BaseCall& b : calls.bases)
        if (b.position >= from && b.position < to) sum += std::pow(10.0, -b.qv / 10.0);
    return sum;
}

double meanQv(const kw::BaseCalls& calls, double from, double to) {
    double sum = 0.0;
    int n = 0;
    for (const kw::BaseCall& b : calls.bases)
        if (b.position >= from && b.position < to) sum += b.qv, ++n;
    return n > 0 ? sum / n : 0.0;
}

// The shared training trace `name`, read and processed; false when the
// shared data are absent (processing must then succeed).
bool trainingRead(const std::string& name, kw::Run& run, kw::ProcessResult& result) {
    if (kw::readRun(std::string(KWSIGNAL_SHARED_DATA) + "/abif/train/" + name, run)) return false;
    EXPECT_FALSE(kw::process(run, kw::ProcessOptions(), result)) << name;
    return true;
}

TEST(BaseCalling, LateBasesFittedInPiecesKeepTheSpacing) {
    // Late in a read a broad base comes out of the fit as its peak and a
    // shoulder 0.6 spacing behind it: the gaps between the pieces say the
    // spacing has nearly halved within a window. The run's spacing changes
    // far more slowly, so most shoulders are left out instead of every base
    // being read twice (about 70 edits over the last 100 bases).
    const std::string seq = flank(400, 12);
    SynthRun r = makeRun(seq, kNoOffset, steady);
    const double late = 60 + 300 * kSpacing;
    std::vector<KwPeak> pieces;
    for (const KwPeak& p : r.peaks) {
        pieces.push_back(p);
        if (p.getLocatn() >= late)
            pieces.push_back(peakOf(p.getTraceCode(), p.getLocatn() + 0.6 * kSpacing,
                                    0.5 * p.getHeight(), kSigma));
    }
    r.peaks = pieces;
    const kw::BaseCalls c = call(r);
    EXPECT_LT(editDistance(c.sequence(), seq), 30);
    EXPECT_EQ(c.sequence().substr(0, 290), seq.substr(0, 290));
    EXPECT_NEAR(medianGap(c, late, late + 90 * kSpacing), kSpacing, 0.5);
}

TEST(BaseCalling, FirstBasesKeepUpWithASpacingStillGrowing) {
    // A run's spacing grows fastest over its first hundred bases; read at
    // the spacing of the first window's centre, some 45 bases in, this
    // barcoding read's first bases lost one in ten against the instrument
    // (8 edits over its bases 15 to 75; 5 carried back along the slope).
    kw::Run run;
    kw::ProcessResult result;
    const std::string name = "dna-barcoding-analysis__AT-JR1R_E04_024.ab1";
    if (!trainingRead(name, run, result)) GTEST_SKIP() << "no training trace " << name;
    ASSERT_GT(run.calls().size(), 100u);
    const std::string first = run.calls().substr(15, 60);
    const std::string ours = result.calls.sequence().substr(0, 100);
    EXPECT_LE(editDistance(first, ours, true), 6) << first << "\n" << ours;

    // The dyes' offsets change fastest there too: held at the median of the
    // windows centred 45 to 135 bases in, this plasmid read lost an early A
    // or C every few bases (6 edits over its bases 12 to 62; 1 on the first
    // window's own offsets).
    const std::string plasmid = "cloning-tutorials__53-73S_E07_055.ab1";
    if (!trainingRead(plasmid, run, result)) GTEST_SKIP() << "no training trace " << plasmid;
    EXPECT_LE(editDistance(run.calls().substr(12, 50), result.calls.sequence().substr(0, 90), true),
              3);
}

// A heterozygous indel built from a real trace: from `onsetBase` bases
// into the clean read's trimmed part on, the raw channels gain `share` of
// themselves `shift` bases further on (each sample taken at its base index
// + shift on the clean read's own base positions), a second ladder on the
// read's base places. Returns the row sample of the onset and the spacing
// there in row samples.
kw::Run withSecondAllele(const kw::Run& run, const kw::BaseCalls& ref, int onsetBase, double shift,
                         double share, double& onset, double& spacing) {
    std::vector<double> base, at;  // base index and its row sample
    for (size_t i = 0; i < ref.bases.size(); ++i) {
        const double p = ref.bases[i].correctedPosition * run.coordinateScale;
        if (at.empty() || p > at.back()) base.push_back(static_cast<double>(i)), at.push_back(p);
    }
    auto interpolate = [](const std::vector<double>& x, const std::vector<double>& y, double v) {
        const size_t k = std::upper_bound(x.begin(), x.end(), v) - x.begin();
        if (k == 0 || k == x.size()) return std::numeric_limits<double>::quiet_NaN();
        return y[k - 1] + (v - x[k - 1]) * (y[k] - y[k - 1]) / (x[k] - x[k - 1]);
    };
    const int o = ref.trimStart + onsetBase;
    spacing = (at[o + 10] - at[o - 10]) / 20.0;
    onset = ref.bases[o].position * run.coordinateScale - 0.5 * spacing;
    kw::Run mixed = run;
    for (int d = 0; d < 4; ++d) {
        std::vector<double> row = run.rows[d];
        std::nth_element(row.begin(), row.begin() + row.size() / 2, row.end());
        const double floor = row[row.size() / 2];
        for (int t = static_cast<int>(onset); t < run.numData; ++t) {
            const double src = interpolate(base, at, interpolate(at, base, t) + shift);
            if (!std::isfinite(src) || src > run.numData - 1) break;
            const int k = static_cast<int>(src);
            const double f = src - k, v = (1 - f) * run.rows[d][k] + f * run.rows[d][k + 1];
            mixed.rows[d][t] += share * std::max(0.0, v - floor);
        }
    }
    return mixed;
}

TEST(BaseCalling, SecondAlleleFromARealTraceIsFoundAndReadAsTheMajorSequence) {
    // A weak allele five bases on, and one at half the major's height seven
    // bases on that sets in before the dyes' offsets are first searched
    // (a third of the way in): where two ladders overlap, a dye put a whole
    // spacing off lands on the other ladder's peaks and looks as even as
    // its true offset; carried back over the clean start, it would misread
    // that too.
    const struct {
        const char* file;
        double shift, share;
    } cases[] = {{"cfutils__A2-3k_SEQ_R_B01.ab1", 5.0, 0.2},
                 {"tools-ecology__test_file.AB1", 7.0, 0.5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        kw::Run run;
        kw::ProcessResult clean;
        if (!trainingRead(c.file, run, clean)) GTEST_SKIP() << "no training trace " << c.file;
        const kw::BaseCalls& ref = clean.calls;
        ASSERT_GT(ref.trimEnd - ref.trimStart, 500);
        EXPECT_FALSE(ref.mixture.found);
        double onset = 0.0, spacing = 0.0;
        const kw::Run mixed = withSecondAllele(run, ref, 150, c.shift, c.share, onset, spacing);
        kw::ProcessResult result;
        ASSERT_FALSE(kw::process(mixed, kw::ProcessOptions(), result));
        const kw::BaseCalls& calls = result.calls;
        const double scale = run.coordinateScale, s = spacing / scale, o = onset / scale;
        ASSERT_TRUE(calls.mixture.found);
        EXPECT_NEAR(calls.mixture.onsetSample, o, 5.0 * s);
        EXPECT_GT(calls.mixture.meanSecondaryRatio, 0.15);
        auto warnsOfMixture = [](const kw::ProcessResult& r) {
            for (const std::string& n : r.notes)
                if (n.rfind("a second sequence under the read from base ", 0) == 0) return true;
            return false;
        };
        EXPECT_TRUE(warnsOfMixture(result));
        EXPECT_FALSE(warnsOfMixture(clean));
        // The hundred bases before the onset read as before, the mixed part
        // as the major sequence (one base in 20 may err while the second
        // allele stays at 30 % and below, one in ten at half the major's
        // height), at the clean read's spacing, with QVs there that expect
        // at least a fifth of the errors made (a clean read's QVs kept over
        // the second allele expect about one of the 25 at half height) and
        // below the clean read's.
        const double start = o - 100 * s, end = o + 400 * s;
        const std::string before = lettersBetween(ref, start, o - 2 * s);
        EXPECT_LE(editDistance(before, lettersBetween(calls, start, o - 2 * s)), 1u);
        const std::string major = lettersBetween(ref, o + 2 * s, end);
        const size_t edits = editDistance(major, lettersBetween(calls, o + 2 * s, end));
        EXPECT_LE(edits, major.size() / (c.share <= 0.3 ? 20 : 10));
        EXPECT_NEAR(medianGap(calls, o, end) / medianGap(ref, o, end), 1.0, 0.05);
        EXPECT_GE(5.0 * expectedErrors(calls, o + 2 * s, end) + 1.0, static_cast<double>(edits));
        EXPECT_LT(meanQv(calls, o + 2 * s, end), meanQv(ref, o + 2 * s, end));
    }
}

TEST(BaseCalling, ReadWhoseSignalFadesEarlySaysSo) {
    // A weak PCR read whose late bases fade under the peak threshold: half
    // its calls lie past the trimmed read, with a warning; a clean read of
    // the same source carries none. An old 3700 run whose early stretch of
    // one dye stands 14,000 counts over late bases of about 100 is no such
    // read: its late bases keep their peaks and are read.
    kw::Run run;
    kw::ProcessResult faded, clean, old;
    if (!trainingRead("scifer__A1_3_IgG_Inner.ab1", run, faded) ||
        !trainingRead("scifer__G9_3_IgG_Inner.ab1", run, clean) ||
        !trainingRead("ugene__A01.abi", run, old))
        GTEST_SKIP() << "no training traces in the shared data";
    auto warned = [](const kw::ProcessResult& r) {
        for (const std::string& n : r.notes)
            if (n.rfind("weak signal from base ", 0) == 0) return true;
        return false;
    };
    EXPECT_TRUE(warned(faded));
    EXPECT_LT(faded.calls.trimEnd, 0.6 * faded.calls.bases.size());
    EXPECT_FALSE(warned(clean));
    EXPECT_FALSE(warned(old));
    EXPECT_GT(old.calls.trimEnd, 0.8 * old.calls.bases.size());
}

TEST(BaseCalling, FastqFastaTableAndScfReadBack) {
    const std::string seq = flank(120, 41);
    const SynthRun r = makeRun(seq, kNoOffset, steady);
    const kw::BaseCalls c = call(r);
    ASSERT_EQ(c.sequence(), seq);

    const std::string fq = kw::fastqRecord(c, " sample 1\n");
    std::string quals;
    for (const kw::BaseCall& b : c.bases) quals += static_cast<char>(33 + b.qv);
    EXPECT_EQ(fq, "@sample 1_\n" + seq + "\n+\n" + quals + "\n");
    const std::string fa = kw::fastaRecord(c, "s");
    EXPECT_EQ(fa, ">s\n" + seq.substr(0, 70) + "\n" + seq.substr(70) + "\n");
    const std::string tsv = kw::callsTable(c);
    EXPECT_EQ(
        tsv.substr(0, tsv.find('\n')),
        "index\tbase\tqv\tposition\tcorrected_position\tsecondary\tsecondary_ratio\tC\tA\tG\tT");
    EXPECT_EQ(std::count(tsv.begin(), tsv.end(), '\n'), static_cast<long>(seq.size() + 1));

    const std::string scf = kw::scfFile(r.cap, c, r.in, "sample");
    ASSERT_GE(scf.size(), 128u);
    EXPECT_EQ(scf.substr(0, 4), ".scf");
    EXPECT_EQ(scf.substr(36, 4), "3.00");
    if (std::system("command -v extract_fastq > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "extract_fastq (Debian staden-io-lib-utils) is not installed: "
                        "the SCF file was not read back by an independent reader";
    const std::string dir = ::testing::TempDir();
    const std::string path = kwtest::writeFile(dir + "/kw_basecall.scf", scf);
    const std::string out = dir + "/kw_basecall.fq";
    ASSERT_EQ(std::system(("extract_fastq " + path + " > " + out).c_str()), 0);
    const std::string back = kwtest::readFile(out);
    // Same bases and qualities (the reader names the record after the file).
    EXPECT_NE(back.find("\n" + seq + "\n+"), std::string::npos) << back;
    EXPECT_NE(back.find("\n" + quals), std::string::npos) << back;
    // Same positions: scf_dump lists each base with its sample.
    const std::string dump = dir + "/kw_basecall.txt";
    ASSERT_EQ(std::system(("scf_dump " + path + " > " + dump).c_str()), 0);
    const std::string text = kwtest::readFile(dump);
    const kw::BaseCall& b = c.bases[10];
    const int pos = static_cast<int>(std::lround(b.position));
    char line[64];
    std::snprintf(line, sizeof line, "%c %05d", b.base, pos);
    EXPECT_NE(text.find(line), std::string::npos) << "no \"" << line << "\" in scf_dump's output";
    // The base's own channel (SCF orders them A, C, G, T) peaks there.
    const size_t trace = text.find(std::string("[") + b.base + "_Trace]");
    ASSERT_NE(trace, std::string::npos);
    std::snprintf(line, sizeof line, "\t#%5d\n", pos);
    const size_t at = text.find(line, trace);
    ASSERT_NE(at, std::string::npos);
    const size_t start = text.rfind('\n', at) + 1;
    EXPECT_GT(std::atoi(text.c_str() + start), 30000) << text.substr(start, at - start);
}

// A weak simulated run with a wide blob of one dye, forty times its bases,
// at its 60th base: the blob is reported and taken off, the run reads about
// as well as without it, and the blob's dye keeps its bases around it. The
// same run without the blob reports none.
TEST(BaseCalling, DyeBlobIsReportedAndSetsNoThresholds) {
    kw::SimulationOptions o;
    o.bases = 300;
    o.seed = 5;
    kw::SimulatedCapillary sim = kw::simulateCapillary(o);
    const auto read = [](const kw::SimulatedCapillary& s, kw::ProcessResult& r) {
        ASSERT_FALSE(kw::process(kw::simulatedRun(s), kw::ProcessOptions(), r));
        ASSERT_TRUE(r.called);
    };
    kw::ProcessResult clean, blobbed;
    read(sim, clean);
    EXPECT_TRUE(clean.blobs.empty());
    std::vector<double> heights;
    for (const kw::SimulatedPeak& p : sim.peaks) heights.push_back(p.height);
    std::nth_element(heights.begin(), heights.begin() + heights.size() / 2, heights.end());
    const kw::SimulatedPeak& at = sim.peaks[60];
    const double width = 2.0 * sim.spacing;
    std::vector<double>& g = sim.channels[2];
    for (size_t s = 0; s < g.size(); ++s)
        g[s] += 40.0 * heights[heights.size() / 2] *
                std::exp(-0.5 * std::pow((s - at.centre) / width, 2));
    read(sim, blobbed);
    EXPECT_EQ(blobbed.blobs.size(), 1u);
    EXPECT_TRUE(clean.notes.empty());  // a clean run is a confident read
    ASSERT_EQ(blobbed.notes.size(), 1u);
    EXPECT_NE(blobbed.notes[0].find("dye blob in G"), std::string::npos);
    for (const kw::DyeBlob& b : blobbed.blobs) {
        EXPECT_EQ(b.dye, 2);
        EXPECT_LT(b.startSample, at.centre);
        EXPECT_GT(b.endSample, at.centre);
        EXPECT_GT(b.heightRatio, 15.0);
    }
    const double before = kw::assessCalls(sim, clean.calls).identity;
    EXPECT_GT(kw::assessCalls(sim, blobbed.calls).identity, before - 0.01);
    // The blob's dye within 45 bases either side keeps nearly all its bases.
    const double lo = sim.peaks[15].centre, hi = sim.peaks[105].centre;
    int truth = 0, called = 0;
    for (const kw::SimulatedPeak& p : sim.peaks)
        truth += p.channel == 2 && p.centre > lo && p.centre < hi;
    for (const kw::BaseCall& c : blobbed.calls.bases)
        called += c.base == 'G' && c.position > lo && c.position < hi;
    EXPECT_GE(called, truth * 9 / 10);
    EXPECT_LE(called, truth + 1);
}

TEST(BaseCalling, TallSpikeOfOneDyeLeavesItsLaterBases) {
    // One narrow spike of one dye among a clean read's first bases, two
    // hundred times its tallest sample (an old run's loud start, a bubble):
    // that dye's noise level must not follow it, or the filter's gate drops
    // every later base of the dye as noise.
    kw::ProcessResult clean;
    kw::Run run;
    const std::string name = "cfutils__A2-3k_SEQ_R_B01.ab1";
    if (!trainingRead(name, run, clean)) GTEST_SKIP() << "no training trace " << name;
    ASSERT_GT(clean.calls.trimEnd - clean.calls.trimStart, 600);
    const kw::BaseCalls& ref = clean.calls;
    const double at = ref.bases[ref.trimStart + 20].position * run.coordinateScale;
    const double sigma =
        0.25 * (ref.bases[ref.trimStart + 30].position - ref.bases[ref.trimStart + 10].position) *
        run.coordinateScale / 20.0;
    kw::Run spiked = run;
    std::vector<double>& row = spiked.rows[1];
    const double tall = 200.0 * *std::max_element(row.begin(), row.end());
    for (size_t t = 0; t < row.size(); ++t)
        row[t] += tall * std::exp(-0.5 * std::pow((t - at) / sigma, 2));
    kw::ProcessResult result;
    ASSERT_FALSE(kw::process(spiked, kw::ProcessOptions(), result));
    const double from = ref.bases[ref.trimStart + 300].position;
    const double to = ref.bases[ref.trimStart + 600].position;
    const std::string late = lettersBetween(ref, from, to);
    EXPECT_LE(editDistance(late, lettersBetween(result.calls, from, to)), late.size() / 50);
}

// A run of one letter whose bases spread over a spacing more than they
// count is a run read a base short: its bases say so, while the same run
// evenly spaced and the single bases around it do not.
TEST(BaseCalling, RunReadABaseShortGetsLowerQualities) {
    kw::detail::RunShape shape;
    shape.spacing = kw::detail::Curve{{0.0}, {10.0}};
    shape.height = kw::detail::Curve{{0.0}, {1000.0}};
    shape.sigma = kw::detail::Curve{{0.0}, {3.0}};
    auto train = [](double stretch) {
        // A G T | C C C | A G T, the C run spread over 3 + stretch spacings.
        const std::string letters = "AGTCCCAGT";
        std::vector<kw::BaseCall> bases;
        double at = 100.0;
        for (size_t i = 0; i < letters.size(); ++i) {
            kw::BaseCall b;
            b.base = letters[i];
            b.heights = {1000.0, 1000.0, 1000.0, 1000.0};
            b.correctedPosition = at;
            bases.push_back(b);
            const bool inRun = i >= 3 && i < 5;
            at += 10.0 * (inRun ? 1.0 + stretch / 2.0 : 1.0);
        }
        return bases;
    };
    const std::vector<int> peakOf(9, -1);
    const std::vector<kw::detail::Peak> peaks;
    const auto even = kw::detail::baseFeatures(train(0.0), peakOf, peaks, shape);
    const auto stretched = kw::detail::baseFeatures(train(1.0), peakOf, peaks, shape);
    for (int i = 0; i < 9; ++i) {
        const bool inRun = i >= 3 && i <= 5;
        EXPECT_NEAR(even[i][11], 0.0, 1e-9) << i;
        EXPECT_NEAR(stretched[i][11], inRun ? 1.0 : 0.0, 1e-9) << i;
    }
    for (int i = 3; i <= 5; ++i)
        EXPECT_LT(kw::detail::qualityOf(stretched[i]), kw::detail::qualityOf(even[i])) << i;
    EXPECT_GE(kw::detail::qualityOf(even[4]), 20);
    // A base short is a likely error: far below the evenly spaced run's QV.
    EXPECT_LE(kw::detail::qualityOf(stretched[4]), kw::detail::qualityOf(even[4]) - 15);
}

// Curves are read by halving without a branch; the segment found must be
// std::upper_bound's at every position, knots and ties included.
TEST(BaseCalling, CurveReadsTheSegmentUpperBoundFinds) {
    const auto plain = [](const kw::detail::Curve& c, double pos) {
        if (!(pos > c.x.front())) return c.y.front();
        if (pos >= c.x.back()) return c.y.back();
        const size_t k = std::upper_bound(c.x.begin(), c.x.end(), pos) - c.x.begin();
        const double f = (pos - c.x[k - 1]) / (c.x[k] - c.x[k - 1]);
        return c.y[k - 1] + f * (c.y[k] - c.y[k - 1]);
    };
    for (size_t knots = 1; knots <= 40; ++knots) {
        kw::detail::Curve c;
        for (size_t k = 0; k < knots; ++k) {
            c.x.push_back(100.0 * k + (k * 37 % 11));
            c.y.push_back(std::sin(0.7 * k));
        }
        for (double pos = -50.0; pos < 100.0 * knots + 50.0; pos += 6.5)
            EXPECT_EQ(c.at(pos), plain(c, pos)) << knots << " knots at " << pos;
        for (double knot : c.x) EXPECT_EQ(c.at(knot), plain(c, knot));
    }
    EXPECT_EQ(kw::detail::Curve{}.at(3.0), 0.0);
}

// SCF channels: every sample on the common 16-bit scale of the window's
// finite samples, NaN and infinities at 0, the samples of a 3 Hz capillary
// taken at the input file's rate, stored as second differences.
TEST(BaseCalling, ScfChannelsAreTheScaledSamples) {
    const int n = 301;
    std::vector<std::vector<double>> rows(4, std::vector<double>(n));
    for (int t = 0; t < 4; ++t)
        for (int s = 0; s < n; ++s) rows[t][s] = 1000.0 * std::sin(0.05 * s * (t + 1)) - 50.0;
    const double inf = std::numeric_limits<double>::infinity();
    rows[1][40] = std::nan("");
    rows[2][41] = inf;
    rows[3][42] = -inf;
    rows[0][290] = 1e6;  // beyond the window: held at the top
    const KwCap cap = kwtest::makeCap<KwCap>(rows, 3.0);
    for (double scale : {1.0, 3.0}) {
        kw::CallInputs in;
        in.windowStart = 10, in.windowEnd = 280, in.coordinateScale = scale;
        const std::string scf = kw::scfFile(cap, kw::BaseCalls(), in, "s");
        const auto word = [&](size_t at) {
            uint32_t v = 0;
            for (int b = 0; b < 4; ++b) v = v << 8 | static_cast<unsigned char>(scf[at + b]);
            return v;
        };
        const int samples = static_cast<int>(word(4));
        ASSERT_EQ(samples, static_cast<int>((n - 1) / scale) + 1);
        double lo = inf, hi = -inf;
        for (int t = 0; t < 4; ++t)
            for (int s = in.windowStart; s <= in.windowEnd; ++s)
                if (std::isfinite(cap(t, s)))
                    lo = std::min(lo, cap(t, s)), hi = std::max(hi, cap(t, s));
        const int traceOf[4] = {1, 0, 2, 3};  // SCF: A, C, G, T
        for (int c = 0; c < 4; ++c) {
            uint16_t value = 0, delta = 0;
            for (int i = 0; i < samples; ++i) {
                const size_t at = 128 + 2 * (static_cast<size_t>(c) * samples + i);
                const uint16_t stored =
                    static_cast<uint16_t>(static_cast<unsigned char>(scf[at]) << 8 |
                                          static_cast<unsigned char>(scf[at + 1]));
                delta = static_cast<uint16_t>(delta + stored);
                value = static_cast<uint16_t>(value + delta);
                const double v =
                    cap(traceOf[c], std::min(n - 1, static_cast<int>(std::lround(i * scale))));
                const double expected =
                    std::isfinite(v) ? std::clamp((v - lo) / (hi - lo) * 65535.0, 0.0, 65535.0)
                                     : 0.0;
                ASSERT_EQ(value, static_cast<uint16_t>(expected))
                    << "channel " << c << " sample " << i;
            }
        }
    }
}
