// The report writers' exact bytes: small hand-made results (no road run)
// through peaks.tsv, calls.tsv, fragments.tsv and summary.json, so that a
// change of a name, a column or a number format shows here first.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "kwsignal/report.h"

namespace {

kw::Run fourDyeRun() {
    kw::Run run;
    run.path = "runs/sample7.ab1";
    run.format = kw::Format::abif;
    run.numTraces = 4;
    run.numData = 1200;
    run.coordinateScale = 2.0;
    run.channelNames = {"C", "A", "G", "T"};
    run.instrument = "3730";
    run.rateSource = "data-collection times";
    run.warnings = {"a caveat of the file"};
    return run;
}

KwPeak peak(int trace, double locatn, double height, double sigma) {
    KwPeak p;
    p.setTraceCode(trace);
    p.setLocatn(locatn);
    p.setHeight(height);
    p.setSigma(sigma);
    p.setBase(1.5);
    p.setVariance(0.0125);
    p.setStartPnt(static_cast<int>(locatn) - 9);
    p.setEndPnt(static_cast<int>(locatn) + 9);
    return p;
}

kw::ProcessResult sequencingResult() {
    kw::ProcessResult r;
    r.kindReason = "the file stores base calls";
    r.rate = 3.0;
    r.rateSource = "data-collection times";
    r.windowStart = 100;
    r.windowEnd = 1100;
    r.separation = kw::SeparationMode::learned;
    r.separationAccepted = true;
    r.matrix = {{1.0, -0.25}, {0.0, 1.0}};
    r.spacing = 12.5;
    r.sigmaStart = 2.0;
    r.sigmaEnd = std::numeric_limits<double>::quiet_NaN();
    r.channels = {{2.5, 10.0, 7, 1}, {3.0, 12.0, 4, 1}};
    r.minPeakHeight = 20.0;
    r.numEvents = 11;
    r.peaks = {peak(0, 200.25, 512.0, 2.5), peak(1, 410.5, 300.0, 3.0)};
    r.stages = {{"read", 0.5}};
    r.notes = {"a note of the road"};
    return r;
}

kw::BaseCalls twoBases() {
    kw::BaseCalls c;
    kw::BaseCall a;
    a.base = 'A';
    a.qv = 41;
    a.position = 205.125;
    a.correctedPosition = 204.5;
    a.secondary = 'G';
    a.secondaryRatio = 0.1234;
    a.heights = {{1.25, 300.0, 40.0, 0.0}};
    kw::BaseCall n = a;
    n.base = 'N';
    n.qv = 2;
    n.secondary = 'N';
    n.secondaryRatio = 0.0;
    c.bases = {a, n};
    c.counts = {{1, 0, 0, 0, 1}};
    c.qv20 = 1;
    c.contiguousLength = 1;
    c.trimStart = 0;
    c.trimEnd = 1;
    c.trimmedMeanQv = 41.0;
    c.mobility = {{100.0, {{0.5, -0.5, 0.25, -0.25}}}};
    return c;
}

kw::FragmentPeak fragmentPeak(int dye, double scan, double sizeBp, double height, double area,
                              double fwhm) {
    kw::FragmentPeak p;
    p.dye = dye;
    p.scan = scan;
    p.sizeBp = sizeBp;
    p.height = height;
    p.area = area;
    p.fwhm = fwhm;
    return p;
}

kw::FragmentResult sizedFragments() {
    kw::FragmentResult f;
    f.status = kw::SizingStatus::lowConfidence;
    f.dyeNames = {"6-FAM", "LIZ"};
    f.standardDye = 1;
    f.standard = "GS500";
    f.expected = 16;
    f.identified = 15;
    f.used = 14;
    f.sizing = kw::SizingMethod::cubic;
    f.looMeanBp = 0.125;
    f.looMaxBp = 0.5;
    f.confidence = 0.75;
    f.assignmentMargin = 3.5;
    kw::FragmentPeak sample = fragmentPeak(0, 1234.5678, 151.25, 800.0, 4000.0, 3.456);
    sample.flags = kw::kFlagSaturated | kw::kFlagStutter;
    kw::FragmentPeak used = fragmentPeak(1, 1500.0, 160.0, 300.0, 1200.0, 2.5);
    used.isStandard = kw::StandardRole::used;
    used.standardBp = 160.0;
    kw::FragmentPeak spare = fragmentPeak(1, 1600.0, 250.0, 90000.0, 1200.0, 2.5);
    spare.isStandard = kw::StandardRole::unused;
    spare.standardBp = 250.0;
    kw::FragmentPeak unsized =
        fragmentPeak(0, 10.0, std::numeric_limits<double>::quiet_NaN(), 5.0, 9.0, 1.0);
    unsized.flags = kw::kFlagPrimer;
    f.peaks = {sample, unsized, used, spare};
    f.warnings = {"the ladder may be one fragment off"};
    return f;
}

}  // namespace

TEST(Report, PeakAndCallTablesInTheFilesOwnSamples) {
    const kw::Run run = fourDyeRun();
    const kw::ProcessResult r = sequencingResult();
    EXPECT_EQ(
        kw::peaksTsv(run, r),
        "channel\ttrace_code\tlocatn\theight\tsigma\tbase\tarea\tstart_pnt\tend_pnt\tvariance\n"
        "C\t0\t100.125\t512.000\t1.2500\t1.500\t1604.242\t95\t105\t0.0125\n"
        "A\t1\t205.250\t300.000\t1.5000\t1.500\t1127.983\t200\t210\t0.0125\n");
    EXPECT_EQ(kw::callsTable(twoBases()),
              "index\tbase\tqv\tposition\tcorrected_position\tsecondary\tsecondary_ratio\tC\tA\tG"
              "\tT\n"
              "0\tA\t41\t205.12\t204.50\tG\t0.123\t1.2\t300.0\t40.0\t0.0\n"
              "1\tN\t2\t205.12\t204.50\tN\t0.000\t1.2\t300.0\t40.0\t0.0\n");
}

TEST(Report, FragmentTablesNameDyesFlagsAndUnsizedPeaks) {
    kw::FragmentResult f = sizedFragments();
    const std::string header =
        "dye\tdye_name\tchannel\tlocatn\tsize_bp\theight\tarea\tfwhm\tis_standard\tflags";
    EXPECT_EQ(kw::fragmentTable(f, false),
              header +
                  "\n0\t6-FAM\tDATA1\t1234.568\t151.250\t800.0\t4000.0\t3.46\t0\tsaturated,"
                  "stutter\n"
                  "0\t6-FAM\tDATA1\t10.000\tNaN\t5.0\t9.0\t1.00\t0\tprimer\n"
                  "1\tLIZ\tDATA2\t1500.000\t160.000\t300.0\t1200.0\t2.50\t1\t\n"
                  "1\tLIZ\tDATA2\t1600.000\t250.000\t90000.0\t1200.0\t2.50\t2\t\n");
    f.peaks.resize(1);
    f.peaks[0].dye = 5;  // a dye past the names: no name, raw tag DATA106
    f.peaks[0].locus = "D3";
    f.peaks[0].allele = "OL";
    f.genotypes = {{"D3", {"12", "OL"}, {800.0, 90.4}, "off_ladder"}};
    EXPECT_EQ(kw::fragmentTable(f, true),
              header +
                  "\tlocus\tallele\n5\t\tDATA106\t1234.568\t151.250\t800.0\t4000.0\t3.46\t0"
                  "\tsaturated,stutter\tD3\tOL\n");
    EXPECT_EQ(kw::genotypeTable(f),
              "marker\talleles\theights\tflags\nD3\t12,OL\t800,90\toff_ladder\n");
}

TEST(Report, SequencingSummary) {
    kw::ProcessResult r = sequencingResult();
    r.called = true;
    r.calls = twoBases();
    EXPECT_EQ(kw::summaryJson(fourDyeRun(), r, 1.25), R"({
  "file": "runs/sample7.ab1",
  "format": "abif",
  "instrument": "3730",
  "sample": "",
  "kind": "sequencing",
  "kind_reason": "the file stores base calls",
  "status": "ok",
  "traces": 4,
  "samples": 1200,
  "rate_hz": 3.0,
  "rate_source": "data-collection times",
  "coordinate_scale": 2.0,
  "window": {
    "start": 100,
    "end": 1100
  },
  "peak_spacing": 12.5,
  "peak_sigma": {
    "start": 2.0,
    "end": null
  },
  "separation": {
    "mode": "learned",
    "accepted": true,
    "matrix": [
      [
        1.0,
        -0.25
      ],
      [
        0.0,
        1.0
      ]
    ]
  },
  "channels": [
    {
      "channel": "C",
      "noise_level": 2.5,
      "min_height": 10.0,
      "events": 7,
      "peaks": 1
    },
    {
      "channel": "A",
      "noise_level": 3.0,
      "min_height": 12.0,
      "events": 4,
      "peaks": 1
    }
  ],
  "min_peak_height": 20.0,
  "events": 11,
  "peaks": 2,
  "calls": {
    "called": true,
    "bases": 2,
    "counts": {
      "A": 1,
      "C": 0,
      "G": 0,
      "T": 0,
      "other": 1
    },
    "qv20_bases": 1,
    "contiguous_read_length": 1,
    "contiguous_start": 0,
    "trimmed": {
      "start": 0,
      "end": 1
    },
    "trimmed_mean_qv": 41.0,
    "mobility_offsets": [
      {
        "position": 100.0,
        "C": 0.5,
        "A": -0.5,
        "G": 0.25,
        "T": -0.25
      }
    ],
    "mixture": null,
    "blob": []
  },
  "time_ms": {
    "parse": 1.25,
    "stages": {
      "read": 0.5
    },
    "pipeline": 0.0
  },
  "warnings": [
    "a caveat of the file",
    "a note of the road"
  ]
}
)");
}

TEST(Report, StatusesAndFragmentSummary) {
    const kw::Run run = fourDyeRun();
    kw::ProcessResult r;
    r.kind = kw::RunKind::sequencing;
    r.status = kw::RunStatus::noSignal;
    r.note = "nothing above the noise";
    r.calls.note = "no signal";
    const std::string quiet = kw::summaryJson(run, r, 0.0);
    EXPECT_NE(quiet.find("\"status\": \"no_signal\",\n  \"status_reason\": \"nothing above the "
                         "noise\",\n"),
              std::string::npos);
    EXPECT_NE(quiet.find("\"calls\": {\n    \"called\": false,\n    \"note\": \"no signal\"\n  }"),
              std::string::npos);

    r = kw::ProcessResult();
    r.kind = kw::RunKind::fragments;
    r.kindReason = "5 dyes";
    r.status = kw::RunStatus::lowConfidence;
    r.fragments = sizedFragments();
    const std::string s = kw::summaryJson(run, r, 0.0);
    EXPECT_NE(s.find("\"kind\": \"fragments\",\n  \"kind_reason\": \"5 dyes\",\n  \"status\": "
                     "\"low_confidence\",\n  \"traces\""),
              std::string::npos);
    EXPECT_NE(s.find(R"("fragments": {
    "sizing_status": "low_confidence",
    "dyes": [
      "6-FAM",
      "LIZ"
    ],
    "standard": {
      "name": "GS500",
      "dye": 1,
      "dye_name": "LIZ",
      "expected": 16,
      "identified": 15,
      "used": 14,
      "confidence": 0.75,
      "assignment_margin": 3.5
    },
    "sizing_method": "cubic",
    "leave_one_out_bp": {
      "mean": 0.125,
      "max": 0.5
    },
    "peaks": 4,
    "sample_peaks": 2,
    "sized_sample_peaks": 1,
    "genotyped_markers": 0
  },
  "time_ms")"),
              std::string::npos);
    EXPECT_NE(s.find("\"warnings\": [\n    \"a caveat of the file\",\n    \"the ladder may be one "
                     "fragment off\"\n  ]"),
              std::string::npos);
    EXPECT_EQ(s.find("window"), std::string::npos);
}

TEST(Report, EveryNameReadsBackAsItsValue) {
    for (const std::string& name : kw::kindChoiceNames()) {
        kw::KindChoice k = kw::KindChoice::automatic;
        EXPECT_TRUE(kw::parseKindChoice(name, k));
        EXPECT_EQ(kw::kindChoiceName(k), name);
    }
    for (const std::string& name : kw::sizingMethodNames()) {
        kw::SizingMethod m = kw::SizingMethod::localSouthern;
        EXPECT_TRUE(kw::parseSizingMethod(name, m));
        EXPECT_EQ(kw::sizingMethodName(m), name);
    }
    for (kw::SizingStatus s : {kw::SizingStatus::sized, kw::SizingStatus::lowConfidence,
                               kw::SizingStatus::unknownStandard, kw::SizingStatus::noStandardPeaks,
                               kw::SizingStatus::noData}) {
        // A fragment run's status is its sizing's word, "ok" for sized.
        kw::RunStatus r = kw::RunStatus::noSignal;
        const std::string word = kw::runStatusName(kw::runStatusOf(s));
        EXPECT_TRUE(kw::parseRunStatus(word, r));
        EXPECT_EQ(r, kw::runStatusOf(s));
        EXPECT_EQ(word, s == kw::SizingStatus::sized ? "ok" : kw::sizingStatusName(s));
    }
    kw::Format f = kw::Format::abif;
    EXPECT_FALSE(kw::parseFormat("ABIF", f));  // names are exact
    EXPECT_EQ(f, kw::Format::abif);
    EXPECT_EQ(kw::formatNames().front(), "auto");

    // Four traces in a known order are C, A, G, T; anything else is numbered.
    const std::vector<std::string> cagt{"C", "A", "G", "T"}, numbered{"0", "1", "2", "3"};
    EXPECT_EQ(kw::channelNamesOf(4, true), cagt);
    EXPECT_EQ(kw::channelNamesOf(4, false), numbered);
    EXPECT_EQ(kw::channelNamesOf(5, true).back(), "4");
    for (int t = 0; t < 4; ++t) EXPECT_EQ(kw::traceCodeOfBase(cagt[t][0]), t);
    for (char other : {'N', 'a', 'R', '-'}) EXPECT_EQ(kw::traceCodeOfBase(other), -1);
}

TEST(Report, PlotDrawsWhatTheRunHoldsAndRefusesWhatItLacks) {
    kw::Run run = fourDyeRun();
    run.path = "a&b<c>.ab1";
    const kw::ProcessResult r = sequencingResult();  // no processed capillary
    EXPECT_NE(kw::plotSvg(run, r).find("nothing to draw (the run holds no rows"),
              std::string::npos);
    run.rows.assign(4, std::vector<double>(1200, 5.0));
    run.rows[2].resize(10);
    EXPECT_NE(kw::plotSvg(run, r).find("rows are shorter"), std::string::npos);

    run.rows[2].assign(1200, 7.0);
    const std::string svg = kw::plotSvg(run, r);
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
    EXPECT_NE(svg.find("a&amp;b&lt;c&gt;.ab1 — abif, 3730"), std::string::npos);
    EXPECT_EQ(svg.find("a&b"), std::string::npos);
    EXPECT_NE(svg.find("raw channels"), std::string::npos);

    kw::ProcessResult f;
    f.kind = kw::RunKind::fragments;
    f.fragments = sizedFragments();
    run.rows.resize(2);
    const std::string frag = kw::plotSvg(run, f);
    EXPECT_NE(frag.find("dye 2 LIZ (size standard GS500)"), std::string::npos);
    EXPECT_NE(frag.find("not sized: low_confidence"), std::string::npos);
    EXPECT_EQ(frag.substr(frag.size() - 7), "</svg>\n");
}
