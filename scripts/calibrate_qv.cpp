// The base caller's quality calibration and its measuring bench.
//
// Runs the road and the caller on every ABIF file of a training folder,
// aligns the calls to the instrument's own calls (PBAS2) and scores them
// the way ../shared/tools/eval_calls.py does (identity over the
// instrument's QV20 region, neighbours in swapped order, QV20 length ratio,
// calibration against instrument bases of QV >= 30), one line per file.
//
//     build/calibrate_qv [--data DIR] [--subset N]      per-file table
//     build/calibrate_qv --write src/calling/qv_table.inc
//         fits the quality model on every usable file and writes the table
//         the library compiles in (then rebuild the library)
//     build/calibrate_qv --check src/calling/qv_table.inc --subset N
//         refits on the first N files and compares with the figures the
//         table records for them; exit status 1 when they differ
//     --fastq DIR  also writes DIR/<file>.fastq for the external scorer and
//                  DIR/<file>.tsv, the calls table
//     --cross      also the leave-one-source-out calibration: each source
//                  (file name up to "__") scored with a model and table
//                  fitted on the other sources, and the QV20 ratio that
//                  gives the files of >= 100 region bases
//     build/calibrate_qv --mixtures DIR [--write-mixtures FILE]
//         the QVs over a second sequence: DIR holds two-sequence reads
//         built from training traces (scripts/mixture_set.py); the bases
//         from the onset the caller finds on, against the source trace's
//         instrument calls, give the QV observed for each clean-read QV,
//         scored on the reads and leaving each source out; FILE
//         (src/calling/mixture_qv_table.inc) gets the table. Each read's
//         line also gives the onset found less the true one, in bases, and
//         the summary how many fall within 5 bases
//
// --data DIR (the training traces, also the mixtures' sources) defaults to
// ../shared/data/abif/train (relative to the source tree).
// Files whose instrument qualities carry no information (maximum below 5:
// an old base caller's alternating 0 and 1) are scored but left out of the
// fit and of the calibration.
#include <dirent.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "calling/calling.h"
#include "kwsignal/abif.h"
#include "kwsignal/basecall.h"
#include "kwsignal/process.h"
#include "kwsignal/run.h"

namespace {

// ---- the road (the one place that knows the command-line tool's pipeline)

struct Road {
    std::unique_ptr<KwCap> processed;
    std::vector<KwPeak> peaks;
    std::vector<std::vector<double>> separated;  // inputs.separated points here
    kw::CallInputs inputs;
    double ms = 0.0;
};

bool roadOf(const std::string& path, Road& road, std::string& why,
            kw::Format format = kw::Format::automatic) {
    kw::Run run;
    if (const kw::ReadError e = kw::readRun(path, run, format)) return why = e.reason, false;
    kw::ProcessResult result;
    if (const kw::ProcessError e = kw::process(run, kw::ProcessOptions(), result))
        return why = e.reason, false;
    if (result.status != kw::RunStatus::ok || !result.processed)
        return why = kw::runStatusName(result.status), false;
    road.processed = std::move(result.processed);
    road.peaks = std::move(result.peaks);
    road.separated = std::move(result.separated);
    road.inputs = kw::callInputsOf(run, result);
    road.inputs.separated = &road.separated;
    road.ms = result.totalMs;
    return true;
}

// ---- alignment of the calls to the instrument's -------------------------

// One column of an alignment: indices into the reference (instrument) and
// the read (our calls), -1 for a gap.
struct Column {
    int ref, read;
};

// Global alignment with affine gaps (match +1, mismatch -1, gap open -2,
// extend -1) and free end gaps on both sides, as the external scorer.
std::vector<Column> align(const std::string& ref, const std::string& read) {
    const int n = static_cast<int>(ref.size()), m = static_cast<int>(read.size());
    const int w = m + 1;
    const double neg = -1e18;
    std::vector<double> M((n + 1) * w, neg), X((n + 1) * w, neg), Y((n + 1) * w, neg);
    std::vector<unsigned char> tM((n + 1) * w), tX((n + 1) * w), tY((n + 1) * w);
    auto id = [w](int i, int j) { return i * w + j; };
    for (int i = 0; i <= n; ++i) M[id(i, 0)] = 0.0;
    for (int j = 0; j <= m; ++j) M[id(0, j)] = 0.0;
    auto best3 = [](double a, double b, double c, unsigned char& t) {
        t = 0;
        double v = a;
        if (b > v) v = b, t = 1;
        if (c > v) v = c, t = 2;
        return v;
    };
    for (int i = 1; i <= n; ++i)
        for (int j = 1; j <= m; ++j) {
            const double s = ref[i - 1] == read[j - 1] ? 1.0 : -1.0;
            unsigned char t;
            M[id(i, j)] =
                best3(M[id(i - 1, j - 1)], X[id(i - 1, j - 1)], Y[id(i - 1, j - 1)], t) + s;
            tM[id(i, j)] = t;
            // X: reference base against a gap (deletion); Y: read base against a gap.
            const double xo = M[id(i - 1, j)] - 2.0, xe = X[id(i - 1, j)] - 1.0;
            X[id(i, j)] = std::max(xo, xe);
            tX[id(i, j)] = xe > xo;
            const double yo = M[id(i, j - 1)] - 2.0, ye = Y[id(i, j - 1)] - 1.0;
            Y[id(i, j)] = std::max(yo, ye);
            tY[id(i, j)] = ye > yo;
        }
    // Free end gaps: the best cell on the last row or column.
    int bi = n, bj = m;
    double bv = neg;
    for (int i = 0; i <= n; ++i)
        if (std::max({M[id(i, m)], X[id(i, m)], Y[id(i, m)]}) > bv)
            bv = std::max({M[id(i, m)], X[id(i, m)], Y[id(i, m)]}), bi = i, bj = m;
    for (int j = 0; j <= m; ++j)
        if (std::max({M[id(n, j)], X[id(n, j)], Y[id(n, j)]}) > bv)
            bv = std::max({M[id(n, j)], X[id(n, j)], Y[id(n, j)]}), bi = n, bj = j;
    std::vector<Column> cols;
    for (int i = n; i > bi; --i) cols.push_back({i - 1, -1});
    for (int j = m; j > bj; --j) cols.push_back({-1, j - 1});
    int i = bi, j = bj;
    int state = 0;
    {
        const double a = M[id(i, j)], b = X[id(i, j)], c = Y[id(i, j)];
        state = a >= b && a >= c ? 0 : (b >= c ? 1 : 2);
    }
    while (i > 0 && j > 0) {
        if (state == 0) {
            const int next = tM[id(i, j)];
            cols.push_back({i - 1, j - 1});
            --i, --j;
            state = next;
        } else if (state == 1) {
            const int next = tX[id(i, j)] ? 1 : 0;
            cols.push_back({i - 1, -1});
            --i;
            state = next;
        } else {
            const int next = tY[id(i, j)] ? 2 : 0;
            cols.push_back({-1, j - 1});
            --j;
            state = next;
        }
    }
    for (; i > 0; --i) cols.push_back({i - 1, -1});
    for (; j > 0; --j) cols.push_back({-1, j - 1});
    std::reverse(cols.begin(), cols.end());
    return cols;
}

// ---- scoring -------------------------------------------------------------

constexpr int kTrustedQv = 30;  // instrument bases trusted for calibration
// Files whose instrument region holds fewer bases are failed reads: a
// handful of bases decides their identity, so the summary also gives the
// mean over the others.
constexpr int kLongRegion = 100;
const int kBinLow[5] = {0, 10, 20, 30, 40};

int binOf(int qv) {
    int b = 0;
    while (b < 4 && qv >= kBinLow[b + 1]) ++b;
    return b;
}

struct Bins {
    double n[5] = {0, 0, 0, 0, 0}, e[5] = {0, 0, 0, 0, 0}, p[5] = {0, 0, 0, 0, 0};
    void add(int qv, bool err) {
        const int b = binOf(qv);
        n[b] += 1;
        e[b] += err;
        p[b] += std::pow(10.0, -qv / 10.0);
    }
    void add(const Bins& o) {
        for (int b = 0; b < 5; ++b) n[b] += o.n[b], e[b] += o.e[b], p[b] += o.p[b];
    }
    // Mean |predicted - observed| QV over bins of >= 100 bases, weighted by
    // bases; -1 when no bin has enough.
    double figure() const {
        double wsum = 0, dsum = 0;
        for (int b = 0; b < 5; ++b) {
            if (n[b] < 100) continue;
            const double pred = -10.0 * std::log10(p[b] / n[b]);
            const double diff = e[b] > 0 ? std::fabs(pred + 10.0 * std::log10(e[b] / n[b]))
                                         : std::max(0.0, 10.0 * std::log10(n[b]) - pred);
            wsum += n[b];
            dsum += n[b] * diff;
        }
        return wsum > 0 ? dsum / wsum : -1.0;
    }
    // One line per bin: bases, errors, predicted and observed QV (without
    // an error, only a lower bound is observed).
    void print() const {
        for (int b = 0; b < 5; ++b)
            if (n[b] > 0)
                std::printf(
                    "  QV %2d+: %6.0f bases %5.0f errors, predicted %5.1f observed %s%.1f\n",
                    kBinLow[b], n[b], e[b], -10.0 * std::log10(p[b] / n[b]),
                    e[b] > 0 ? "" : ">= ", -10.0 * std::log10(std::max(e[b], 1.0) / n[b]));
    }
};

struct Score {
    double identity = 0, qv20Ratio = 0;
    int swaps = 0, region = 0, sub = 0, ins = 0, del = 0;
    Bins bins;
};

// A training example: the features of a base and whether it is wrong.
struct Example {
    kw::detail::Features f;
    bool error;
};

struct FileResult {
    std::string name;
    bool usableQv = false;
    Score score;
    std::vector<Example> examples;
    // Every base's features, and from which base on a second sequence
    // lowers the QVs (size when none): the held-out QV20 length.
    std::vector<kw::detail::Features> features;
    size_t mixedFrom = 0;
    double roadMs = 0, callMs = 0;
    int bases = 0;
};

std::vector<int> qvsOf(const kw::BaseCalls& calls) {
    std::vector<int> q;
    for (const kw::BaseCall& b : calls.bases) q.push_back(b.qv);
    return q;
}

// The instrument's calls and qualities of a file, and its QV20 region.
struct Reference {
    std::string calls;
    std::vector<int> qv;
    bool usableQv = false;
    int r0 = 0, r1 = 0;
};

Reference referenceOf(const kw::AbifRun& abif) {
    Reference ref;
    ref.calls = abif.calls;
    ref.qv = abif.qualities;
    int maxQv = 0;
    for (int q : ref.qv) maxQv = std::max(maxQv, q);
    ref.usableQv = ref.qv.size() == ref.calls.size() && maxQv >= 5;
    if (!ref.usableQv) {  // letters stand in for qualities, as the scorer does
        ref.qv.assign(ref.calls.size(), 0);
        for (size_t i = 0; i < ref.calls.size(); ++i)
            ref.qv[i] = std::strchr("ACGT", ref.calls[i]) && ref.calls[i] ? 30 : 10;
    }
    kw::mottTrim(ref.qv, 0.01, ref.r0, ref.r1);
    return ref;
}

// A base of the calls that faces a trusted instrument base (or sits
// between two, inserted), and whether it is wrong. Trusted bases past the
// instrument's QV20 region count too: the scorer leaves them out, but
// where a read's late stretch is read wrong they are the only witnesses,
// and without them the late bases' QVs come out too high.
struct Labelled {
    int read;
    bool error;
};

std::vector<Labelled> trustedBases(const Reference& ref, const std::string& read,
                                   const std::vector<Column>& cols) {
    std::vector<Labelled> out;
    int prevRef = -1;
    for (size_t k = 0; k < cols.size(); ++k) {
        const Column c = cols[k];
        if (c.ref >= 0) prevRef = c.ref;
        if (c.ref < 0) {
            int nextRef = -1;
            for (size_t q = k + 1; q < cols.size() && nextRef < 0; ++q) nextRef = cols[q].ref;
            if (prevRef >= 0 && nextRef >= 0 &&
                std::min(ref.qv[prevRef], ref.qv[nextRef]) >= kTrustedQv)
                out.push_back({c.read, true});
        } else if (c.read >= 0 && ref.qv[c.ref] >= kTrustedQv &&
                   std::strchr("ACGT", ref.calls[c.ref])) {
            out.push_back({c.read, read[c.read] != ref.calls[c.ref]});
        }
    }
    return out;
}

void scoreFile(const kw::AbifRun& abif, const kw::BaseCalls& calls,
               const std::vector<kw::detail::Features>& features, FileResult& r) {
    const Reference reference = referenceOf(abif);
    const std::string& ref = reference.calls;
    const int r0 = reference.r0, r1 = reference.r1;
    r.usableQv = reference.usableQv;
    r.score.region = r1 - r0;
    const std::string read = calls.sequence();
    const std::vector<Column> cols = align(ref, read);
    // The span of the region the calls cover.
    int first = -1, last = -1;
    for (int k = 0; k < static_cast<int>(cols.size()); ++k)
        if (cols[k].ref >= r0 && cols[k].ref < r1 && cols[k].read >= 0) {
            if (first < 0) first = k;
            last = k;
        }
    int match = 0, errors = 0;
    int prevRef = -1;
    for (int k = 0; k < static_cast<int>(cols.size()); ++k) {
        const Column c = cols[k];
        const bool inside = first >= 0 && k >= first && k <= last;
        if (c.ref >= 0) prevRef = c.ref;
        if (c.ref < 0) {
            if (inside && prevRef >= r0 && prevRef < r1) ++errors, ++r.score.ins;
            continue;
        }
        const bool inRegion = c.ref >= r0 && c.ref < r1 && std::strchr("ACGT", ref[c.ref]);
        if (c.read >= 0) {
            if (inRegion && inside) {
                if (read[c.read] != ref[c.ref]) {
                    ++errors;
                    ++r.score.sub;
                    if (k + 1 <= last && cols[k + 1].ref >= 0 && cols[k + 1].read >= 0 &&
                        read[c.read] == ref[cols[k + 1].ref] &&
                        read[cols[k + 1].read] == ref[c.ref])
                        ++r.score.swaps;
                } else {
                    ++match;
                }
            }
        } else if (inRegion) {
            ++errors;  // deleted inside the covered span, or uncovered
            ++r.score.del;
        }
    }
    for (const Labelled& b : trustedBases(reference, read, cols)) {
        if (r.usableQv) r.score.bins.add(calls.bases[b.read].qv, b.error);
        r.examples.push_back({features[b.read], b.error});
    }
    r.score.identity = match + errors > 0 ? double(match) / (match + errors) : 0.0;
    int q0 = 0, q1 = 0;
    kw::mottTrim(qvsOf(calls), 0.01, q0, q1);
    r.score.qv20Ratio = r.score.region > 0 ? double(q1 - q0) / r.score.region : 0.0;
    if (!r.usableQv) r.examples.clear();
}

double cpuMs() {
    return 1000.0 * std::clock() / CLOCKS_PER_SEC;
}

bool runFile(const std::string& dir, const std::string& name, const std::string& fastqDir,
             FileResult& r) {
    r.name = name;
    const std::string path = dir + "/" + name;
    const kw::AbifRun abif = kw::readAbif(path);
    Road road;
    std::string why;
    if (!abif.ok() || !roadOf(path, road, why)) {
        std::fprintf(stderr, "%s: %s\n", name.c_str(),
                     abif.ok() ? why.c_str() : abif.error.c_str());
        return false;
    }
    r.roadMs = road.ms;
    // Processor time of the calling alone: the best of a few repeats, as a
    // benchmark would report it.
    kw::BaseCalls calls;
    r.callMs = 1e300;
    for (int repeat = 0; repeat < 5; ++repeat) {
        const double t0 = cpuMs();
        calls = kw::callBases(*road.processed, road.peaks, road.inputs, kw::CallOptions());
        r.callMs = std::min(r.callMs, cpuMs() - t0);
    }
    r.bases = static_cast<int>(calls.bases.size());
    kw::detail::Working w;
    std::string note;
    kw::detail::callWorking(*road.processed, road.peaks, road.inputs, w, note);
    scoreFile(abif, calls, w.features, r);
    r.features = w.features;
    r.mixedFrom =
        calls.mixture.found ? static_cast<size_t>(calls.mixture.onsetBase) : w.features.size();
    if (!fastqDir.empty()) {
        std::ofstream(fastqDir + "/" + name + ".fastq") << kw::fastqRecord(calls, name);
        std::ofstream(fastqDir + "/" + name + ".tsv") << kw::callsTable(calls);
    }
    return true;
}

// ---- the quality model ---------------------------------------------------

constexpr int kParams = kw::detail::kNumFeatures + 1;

// Logistic regression of error on the features (Newton's method with a
// light ridge, which keeps rare features from running away).
std::vector<double> fitLogistic(const std::vector<Example>& ex) {
    std::vector<double> beta(kParams, 0.0);
    beta[0] = -4.0;
    for (int iter = 0; iter < 60; ++iter) {
        double H[kParams][kParams] = {}, g[kParams] = {};
        for (const Example& e : ex) {
            double x[kParams] = {1.0};
            for (int k = 0; k < kw::detail::kNumFeatures; ++k) x[k + 1] = e.f[k];
            double z = 0;
            for (int k = 0; k < kParams; ++k) z += beta[k] * x[k];
            const double p = 1.0 / (1.0 + std::exp(-z));
            const double wgt = std::max(p * (1 - p), 1e-9);
            for (int a = 0; a < kParams; ++a) {
                g[a] += (e.error - p) * x[a];
                for (int b = 0; b < kParams; ++b) H[a][b] += wgt * x[a] * x[b];
            }
        }
        for (int a = 1; a < kParams; ++a) H[a][a] += 1.0, g[a] -= 1.0 * beta[a];
        // Solve H d = g by Gaussian elimination with partial pivoting.
        double A[kParams][kParams + 1];
        for (int a = 0; a < kParams; ++a) {
            for (int b = 0; b < kParams; ++b) A[a][b] = H[a][b];
            A[a][kParams] = g[a];
        }
        for (int c = 0; c < kParams; ++c) {
            int piv = c;
            for (int a = c + 1; a < kParams; ++a)
                if (std::fabs(A[a][c]) > std::fabs(A[piv][c])) piv = a;
            for (int b = 0; b <= kParams; ++b) std::swap(A[c][b], A[piv][b]);
            if (std::fabs(A[c][c]) < 1e-12) continue;
            for (int a = c + 1; a < kParams; ++a) {
                const double f = A[a][c] / A[c][c];
                for (int b = c; b <= kParams; ++b) A[a][b] -= f * A[c][b];
            }
        }
        double d[kParams];
        for (int a = kParams - 1; a >= 0; --a) {
            double s = A[a][kParams];
            for (int b = a + 1; b < kParams; ++b) s -= A[a][b] * d[b];
            d[a] = std::fabs(A[a][a]) < 1e-12 ? 0.0 : s / A[a][a];
        }
        // Damped: no coefficient moves by more than 1 per step.
        double step = 0;
        for (int a = 0; a < kParams; ++a) step = std::max(step, std::fabs(d[a]));
        const double damp = step > 1.0 ? 1.0 / step : 1.0;
        for (int a = 0; a < kParams; ++a) beta[a] += damp * d[a];
        if (step < 1e-6) break;
    }
    return beta;
}

double modelQvOf(const std::vector<double>& beta, const kw::detail::Features& f) {
    double z = beta[0];
    for (int k = 0; k < kw::detail::kNumFeatures; ++k) z += beta[k + 1] * f[k];
    const double q = 10.0 * std::log10(1.0 + std::exp(-z));
    return std::max(0.0, std::min<double>(kw::kMaxCallQv, q));
}

// The observed QV of each model QV: errors and bases per whole model QV,
// pooled into adjacent blocks until the observed error rate falls as the
// model QV rises (pool-adjacent-violators), each block's QV then observed
// as -10 log10((errors + 0.5) / (bases + 1)).
// n[q], e[q]: bases and errors at whole QV q = 0..kMaxCallQv.
std::vector<int> observedTable(const std::vector<double>& n, const std::vector<double>& e) {
    const int m = kw::kMaxCallQv + 1;
    struct Block {
        int from, to;
        double n, e;
        double rate() const { return (e + 0.5) / (n + 1.0); }
    };
    std::vector<Block> blocks;
    for (int q = 0; q < m; ++q) {
        blocks.push_back({q, q, n[q], e[q]});
        while (blocks.size() > 1 && blocks[blocks.size() - 2].rate() <= blocks.back().rate()) {
            Block b = blocks.back();
            blocks.pop_back();
            blocks.back().to = b.to;
            blocks.back().n += b.n;
            blocks.back().e += b.e;
        }
    }
    // Each block's observed QV belongs to its bases' mean model QV; between
    // those points the table runs linearly, so that neighbouring model QVs
    // are not a whole block's step apart (a step just under QV 20 would
    // decide alone where a read's QV20 stretch ends).
    std::vector<double> at, observed;
    for (const Block& b : blocks) {
        double sum = 0.0;
        for (int q = b.from; q <= b.to; ++q) sum += q * n[q];
        at.push_back(b.n > 0 ? sum / b.n : 0.5 * (b.from + b.to));
        observed.push_back(-10.0 * std::log10(b.rate()));
    }
    std::vector<int> table(m);
    size_t k = 0;
    for (int q = 0; q < m; ++q) {
        while (k + 1 < at.size() && at[k + 1] <= q) ++k;
        double qv = observed[k];
        if (k + 1 < at.size() && q > at[k])
            qv += (observed[k + 1] - observed[k]) * (q - at[k]) / (at[k + 1] - at[k]);
        table[q] = std::max(0, std::min(kw::kMaxCallQv, static_cast<int>(std::lround(qv))));
    }
    return table;
}

std::vector<int> calibrationTable(const std::vector<double>& beta, const std::vector<Example>& ex) {
    std::vector<double> n(kw::kMaxCallQv + 1, 0), e(kw::kMaxCallQv + 1, 0);
    for (const Example& x : ex) {
        const int q = static_cast<int>(std::lround(modelQvOf(beta, x.f)));
        n[q] += 1;
        e[q] += x.error;
    }
    return observedTable(n, e);
}

std::string tableText(const std::vector<double>& beta, const std::vector<int>& table,
                      const std::vector<FileResult>& checks) {
    std::ostringstream o;
    o.precision(6);
    o << "// Quality model of the base caller, written by scripts/calibrate_qv.cpp\n"
      << "// from the training traces; rerun it instead of editing (see there).\n"
      << "// Logistic model: log-odds of an error = kQvBias + sum kQvWeights[k] * feature k.\n"
      << "constexpr double kQvBias = " << beta[0] << ";\n"
      << "constexpr double kQvWeights[kNumFeatures] = {";
    for (int k = 1; k < kParams; ++k) o << (k > 1 ? ", " : "") << beta[k];
    o << "};\n// Observed QV of each whole model QV 0..kMaxCallQv on the training traces.\n"
      << "constexpr int kQvCalibration[kw::kMaxCallQv + 1] = {";
    for (size_t q = 0; q < table.size(); ++q) o << (q ? ", " : "") << table[q];
    o << "};\n// Figures of the first training files (file, scored bases, errors),\n"
      << "// checked by calibrate_qv --check:\n";
    for (const FileResult& r : checks) {
        int errs = 0;
        for (const Example& x : r.examples) errs += x.error;
        o << "// check " << r.name << " " << r.examples.size() << " " << errs << "\n";
    }
    return o.str();
}

// The source of a training file: its name up to "__" (the whole name
// without one).
std::string sourceOf(const std::string& name) {
    const size_t cut = name.find("__");
    return cut == std::string::npos ? name : name.substr(0, cut);
}

// The QV20 length of a file's calls with QVs from this model and table,
// against the instrument's region.
double heldOutQv20Ratio(const FileResult& r, const std::vector<double>& beta,
                        const std::vector<int>& table) {
    std::vector<int> q;
    for (size_t i = 0; i < r.features.size(); ++i) {
        const int qv = table[static_cast<int>(std::lround(modelQvOf(beta, r.features[i])))];
        q.push_back(i < r.mixedFrom ? qv : kw::qvOverMixture(qv));
    }
    int q0 = 0, q1 = 0;
    kw::mottTrim(q, 0.01, q0, q1);
    return r.score.region > 0 ? double(q1 - q0) / r.score.region : 0.0;
}

// Leave-one-source-out calibration: each source's bases get their QVs
// from a model and table fitted on the other sources only; the pooled
// bins of those QVs, the figure per source, and the mean QV20 ratio of
// the files of >= kLongRegion region bases.
void crossValidate(const std::vector<FileResult>& results) {
    std::vector<std::string> sources;
    for (const FileResult& r : results)
        if (!r.examples.empty()) sources.push_back(sourceOf(r.name));
    std::sort(sources.begin(), sources.end());
    sources.erase(std::unique(sources.begin(), sources.end()), sources.end());
    Bins pooled;
    double q20 = 0.0, q20Fit = 0.0;
    int numLong = 0;
    {
        std::vector<Example> all;
        for (const FileResult& r : results)
            all.insert(all.end(), r.examples.begin(), r.examples.end());
        const std::vector<double> beta = fitLogistic(all);
        const std::vector<int> table = calibrationTable(beta, all);
        for (const FileResult& r : results)
            if (!r.examples.empty() && r.score.region >= kLongRegion)
                q20Fit += heldOutQv20Ratio(r, beta, table);
    }
    for (const std::string& held : sources) {
        std::vector<Example> train;
        for (const FileResult& r : results)
            if (sourceOf(r.name) != held)
                train.insert(train.end(), r.examples.begin(), r.examples.end());
        const std::vector<double> beta = fitLogistic(train);
        const std::vector<int> table = calibrationTable(beta, train);
        Bins own;
        for (const FileResult& r : results) {
            if (sourceOf(r.name) != held) continue;
            for (const Example& x : r.examples)
                own.add(table[static_cast<int>(std::lround(modelQvOf(beta, x.f)))], x.error);
            if (r.score.region < kLongRegion) continue;
            const double ratio = heldOutQv20Ratio(r, beta, table);
            std::printf("held out %-60.60s QV20 ratio %6.3f\n", r.name.c_str(), ratio);
            q20 += ratio, ++numLong;
        }
        std::printf("held out %-40.40s calibration %6.2f\n", held.c_str(), own.figure());
        pooled.add(own);
    }
    std::printf(
        "leave-one-source-out (%zu sources): pooled calibration %.2f QV, QV20 ratio %.3f over %d "
        "files (%.3f fitted on all of them)\n",
        sources.size(), pooled.figure(), q20 / std::max(1, numLong), numLong,
        q20Fit / std::max(1, numLong));
    pooled.print();
}

// The names in folder `dir` that `keep` accepts, sorted.
template <class Keep>
std::vector<std::string> namesIn(const std::string& dir, Keep keep) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (keep(std::string(e->d_name))) names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> abifFiles(const std::string& dir) {
    return namesIn(dir, [](std::string n) {
        for (char& c : n) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return n.size() > 4 && (n.rfind(".ab1") == n.size() - 4 || n.rfind(".abi") == n.size() - 4);
    });
}

// ---- the QVs over a second sequence --------------------------------------

// A two-sequence read built by scripts/mix_reads.py: the bases from the
// onset the caller finds on that the scorer would count, each with the QV
// a clean read's base with its features gets, and whether it is wrong
// against the major component's (the source trace's) instrument calls.
struct MixtureRead {
    std::string source;
    kw::MixtureTest test = kw::MixtureTest::share;
    double ratio = 0.0;  // the mixture's mean secondary ratio
    // The onset found less the true one, in bases of the clean read's
    // spacing there (NaN when the generator's file does not say).
    double onsetError = std::nan("");
    std::vector<int> qv;
    std::vector<bool> error;
};

// Where the value of "key" begins in the generator's small JSON file (just
// after its colon); npos when the key is not there.
size_t jsonValueAt(const std::string& text, const std::string& key) {
    const size_t k = text.find("\"" + key + "\"");
    const size_t colon = k == std::string::npos ? k : text.find(':', k);
    return colon == std::string::npos ? colon : colon + 1;
}

// The string value of "key" in the same file; "" when it has none.
std::string jsonString(const std::string& text, const std::string& key) {
    const size_t at = jsonValueAt(text, key);
    const size_t open = at == std::string::npos ? at : text.find('"', at);
    const size_t close = open == std::string::npos ? open : text.find('"', open + 1);
    return close == std::string::npos ? "" : text.substr(open + 1, close - open - 1);
}

// The number value of "key" in the same file; NaN when it has none.
double jsonNumber(const std::string& text, const std::string& key) {
    const size_t at = jsonValueAt(text, key);
    if (at == std::string::npos) return std::nan("");
    const char* from = text.c_str() + at;
    char* end = nullptr;
    const double v = std::strtod(from, &end);
    return end == from ? std::nan("") : v;
}

// False for a read the caller finds no second sequence in (its QVs are a
// clean read's) or that cannot be read.
bool mixtureRead(const std::string& dir, const std::string& name, const std::string& trainDir,
                 MixtureRead& m) {
    std::ifstream meta(dir + "/" + name + ".json");
    const std::string text((std::istreambuf_iterator<char>(meta)),
                           std::istreambuf_iterator<char>());
    m.source = jsonString(text, "source");
    Road road;
    std::string why;
    const kw::AbifRun abif = kw::readAbif(trainDir + "/" + m.source);
    if (m.source.empty() || !abif.ok() ||
        !roadOf(dir + "/" + name, road, why, kw::Format::exportFile))
        return false;
    const kw::BaseCalls calls =
        kw::callBases(*road.processed, road.peaks, road.inputs, kw::CallOptions());
    kw::detail::Working w;
    if (!calls.mixture.found ||
        !kw::detail::callWorking(*road.processed, road.peaks, road.inputs, w, why))
        return false;
    m.test = calls.mixture.test;
    m.ratio = calls.mixture.meanSecondaryRatio;
    m.onsetError = (calls.mixture.onsetSample - jsonNumber(text, "onset_sample")) /
                   jsonNumber(text, "spacing_samples");
    const Reference reference = referenceOf(abif);
    const std::string read = calls.sequence();
    for (const Labelled& b : trustedBases(reference, read, align(reference.calls, read))) {
        if (b.read < calls.mixture.onsetBase) continue;
        m.qv.push_back(kw::detail::qualityOf(w.features[b.read]));
        m.error.push_back(b.error);
    }
    return reference.usableQv;
}

// The QV observed over second sequences for each clean-read QV, never
// above it: a second sequence makes no base surer.
std::vector<int> mixtureTable(const std::vector<MixtureRead>& reads, const std::string& without) {
    std::vector<double> n(kw::kMaxCallQv + 1, 0), e(kw::kMaxCallQv + 1, 0);
    for (const MixtureRead& m : reads) {
        if (sourceOf(m.source) == without) continue;
        for (size_t i = 0; i < m.qv.size(); ++i) n[m.qv[i]] += 1, e[m.qv[i]] += m.error[i];
    }
    std::vector<int> table = observedTable(n, e);
    for (int q = 0; q <= kw::kMaxCallQv; ++q) table[q] = std::min(table[q], q);
    return table;
}

Bins mixtureBins(const std::vector<MixtureRead>& reads, const std::vector<int>& table,
                 const std::string& only) {
    Bins bins;
    for (const MixtureRead& m : reads) {
        if (!only.empty() && sourceOf(m.source) != only) continue;
        for (size_t i = 0; i < m.qv.size(); ++i) bins.add(table[m.qv[i]], m.error[i]);
    }
    return bins;
}

// Fits the table on every read, and scores each source's reads with a
// table fitted on the others; writes the table when `write` is set.
void calibrateMixtures(const std::string& dir, const std::string& trainDir,
                       const std::string& write) {
    const std::vector<std::string> names = namesIn(dir, [&](const std::string& n) {
        return n.size() > 4 && n.compare(n.size() - 4, 4, ".txt") == 0 &&
               std::ifstream(dir + "/" + n + ".json").good();
    });
    std::vector<MixtureRead> reads;
    std::vector<std::string> sources;
    int near = 0;  // onsets found within 5 bases of the true one
    for (const std::string& name : names) {
        MixtureRead m;
        if (!mixtureRead(dir, name, trainDir, m)) continue;
        sources.push_back(sourceOf(m.source));
        int errors = 0;
        double expected = 0.0;
        for (size_t i = 0; i < m.qv.size(); ++i)
            errors += m.error[i], expected += std::pow(10.0, -m.qv[i] / 10.0);
        std::printf(
            "%-60.60s %-5s onset %+7.1f bases, ratio %.3f: %5zu bases %4d errors, clean-read QVs "
            "expect %.1f\n",
            name.c_str(), m.test == kw::MixtureTest::share ? "share" : "rise", m.onsetError,
            m.ratio, m.qv.size(), errors, expected);
        near += std::fabs(m.onsetError) <= 5.0;
        reads.push_back(std::move(m));
    }
    std::sort(sources.begin(), sources.end());
    sources.erase(std::unique(sources.begin(), sources.end()), sources.end());
    std::vector<int> identity(kw::kMaxCallQv + 1);
    for (int q = 0; q <= kw::kMaxCallQv; ++q) identity[q] = q;
    const std::vector<int> table = mixtureTable(reads, "");
    std::printf(
        "%zu of %zu reads with a second sequence found, %zu sources; %d onsets within 5 bases of "
        "the true one\n",
        reads.size(), names.size(), sources.size(), near);
    std::printf("clean-read QVs: calibration %.2f QV\n", mixtureBins(reads, identity, "").figure());
    mixtureBins(reads, identity, "").print();
    std::printf("fitted table: calibration %.2f QV\n", mixtureBins(reads, table, "").figure());
    mixtureBins(reads, table, "").print();
    Bins held;
    for (const std::string& s : sources) held.add(mixtureBins(reads, mixtureTable(reads, s), s));
    std::printf("leave-one-source-out: calibration %.2f QV\n", held.figure());
    held.print();
    if (write.empty()) return;
    std::ofstream o(write);
    o << "// QVs over a second sequence, written by scripts/calibrate_qv.cpp --mixtures\n"
      << "// from " << reads.size() << " two-sequence reads of " << sources.size()
      << " sources; rerun it instead of editing (see there).\n"
      << "// Observed QV of each clean-read QV 0..kMaxCallQv from a mixture's onset on.\n"
      << "constexpr int kMixtureQvCalibration[kw::kMaxCallQv + 1] = {";
    for (size_t q = 0; q < table.size(); ++q) o << (q ? ", " : "") << table[q];
    o << "};\n";
    std::printf("wrote %s\n", write.c_str());
}

int checkTable(const std::string& path, const std::vector<FileResult>& results) {
    std::ifstream in(path);
    std::string line;
    int checked = 0, wrong = 0;
    while (std::getline(in, line)) {
        std::istringstream s(line);
        std::string slashes, word, name;
        size_t n = 0;
        int e = 0;
        if (!(s >> slashes >> word >> name >> n >> e) || word != "check") continue;
        for (const FileResult& r : results) {
            if (r.name != name) continue;
            int errs = 0;
            for (const Example& x : r.examples) errs += x.error;
            ++checked;
            if (r.examples.size() != n || errs != e) {
                ++wrong;
                std::printf("%s: table says %zu bases %d errors, now %zu bases %d errors\n",
                            name.c_str(), n, e, r.examples.size(), errs);
            }
        }
    }
    std::printf("%d files checked, %d differ\n", checked, wrong);
    return checked > 0 && wrong == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir = KWSIGNAL_TRAIN_DATA, write, check, fastqDir, mixtures, writeMixtures;
    int subset = -1;
    bool cross = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool more = i + 1 < argc;
        if (a == "--data" && more)
            dir = argv[++i];
        else if (a == "--write" && more)
            write = argv[++i];
        else if (a == "--check" && more)
            check = argv[++i];
        else if (a == "--fastq" && more)
            fastqDir = argv[++i];
        else if (a == "--subset" && more)
            subset = std::atoi(argv[++i]);
        else if (a == "--mixtures" && more)
            mixtures = argv[++i];
        else if (a == "--write-mixtures" && more)
            writeMixtures = argv[++i];
        else if (a == "--cross")
            cross = true;
        else {
            std::fprintf(
                stderr,
                "usage: calibrate_qv [--data DIR] [--subset N] [--fastq DIR] [--cross] "
                "[--write TABLE | --check TABLE] [--mixtures DIR [--write-mixtures TABLE]]\n");
            return 2;
        }
    }
    if (!mixtures.empty()) {
        calibrateMixtures(mixtures, dir, writeMixtures);
        return 0;
    }
    std::vector<std::string> names = abifFiles(dir);
    if (names.empty()) {
        std::fprintf(stderr, "calibrate_qv: no ABIF files in %s\n", dir.c_str());
        return 2;
    }
    if (subset > 0 && subset < static_cast<int>(names.size())) names.resize(subset);
    std::vector<FileResult> results;
    std::printf("%-64s %6s %6s %6s %5s %6s %6s %6s\n", "file", "bases", "region", "ident", "swaps",
                "qv20", "calib", "ms");
    for (const std::string& name : names) {
        FileResult r;
        if (!runFile(dir, name, fastqDir, r)) continue;
        std::printf("%-64.64s %6d %6d %6.4f %5d %6.3f %6.2f %6.2f%s\n", name.c_str(), r.bases,
                    r.score.region, r.score.identity, r.score.swaps, r.score.qv20Ratio,
                    r.score.bins.figure(), r.callMs, r.usableQv ? "" : "  (no instrument QVs)");
        results.push_back(std::move(r));
    }
    double id = 0, sw = 0, q20 = 0, ms = 0, idLong = 0, q20Long = 0;
    int sub = 0, ins = 0, del = 0, numLong = 0;
    Bins pooled;
    std::vector<Example> all;
    for (const FileResult& r : results) {
        id += r.score.identity;
        if (r.score.region >= kLongRegion)
            idLong += r.score.identity, q20Long += r.score.qv20Ratio, ++numLong;
        sw += r.score.swaps;
        sub += r.score.sub, ins += r.score.ins, del += r.score.del;
        q20 += r.score.qv20Ratio;
        ms += r.callMs;
        pooled.add(r.score.bins);
        all.insert(all.end(), r.examples.begin(), r.examples.end());
    }
    const double k = std::max<size_t>(1, results.size());
    std::printf(
        "mean of %zu files: identity %.4f, swaps %.2f, QV20 ratio %.3f; over the %d of >= %d "
        "region bases: identity %.4f, QV20 ratio %.3f; calling %.2f ms; pooled calibration %.2f "
        "QV; errors %d (%d substituted, %d inserted, %d deleted)\n",
        results.size(), id / k, sw / k, q20 / k, numLong, kLongRegion,
        idLong / std::max(1, numLong), q20Long / std::max(1, numLong), ms / k, pooled.figure(),
        sub + ins + del, sub, ins, del);
    pooled.print();
    if (cross) crossValidate(results);
    if (!write.empty() || !check.empty()) {
        const std::vector<double> beta = fitLogistic(all);
        const std::vector<int> table = calibrationTable(beta, all);
        std::vector<FileResult> checks(results.begin(),
                                       results.begin() + std::min<size_t>(3, results.size()));
        if (!write.empty()) {
            std::ofstream(write) << tableText(beta, table, checks);
            std::printf("wrote %s (%zu bases of %zu files)\n", write.c_str(), all.size(),
                        results.size());
        }
        if (!check.empty()) return checkTable(check, results);
    }
    return 0;
}
