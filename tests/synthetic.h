// Test and benchmark helpers: synthetic traces and capillaries with known
// ground truth (Gaussian peaks, known mixing matrices, seeded noise).
#ifndef KWSIGNAL_TESTS_SYNTHETIC_H
#define KWSIGNAL_TESTS_SYNTHETIC_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "kwsignal/abif.h"
#include "kwsignal/capillary.h"
#include "kwsignal/events.h"
#include "kwsignal/separation.h"

namespace kwtest {

struct Gauss {  // a peak of trace code `dye`; centre and sigma in samples
    int dye;
    double centre, height, sigma;
};

/// Adds a Gaussian to the samples within 6 sigma of the centre.
inline void addGaussian(std::vector<double>& y, double centre, double height, double sigma) {
    const int lo = std::max(0, static_cast<int>(std::floor(centre - 6.0 * sigma)));
    const int hi =
        std::min(static_cast<int>(y.size()) - 1, static_cast<int>(std::ceil(centre + 6.0 * sigma)));
    for (int i = lo; i <= hi; ++i) {
        const double z = (i - centre) / sigma;
        y[i] += height * std::exp(-0.5 * z * z);
    }
}

/// Isolated peaks of random dye and height, `spacing` apart (plus jitter).
inline std::vector<Gauss> randomPeaks(int n, int numDyes, double spacing, double sigma,
                                      uint32_t seed, int margin = 50) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dye(0, numDyes - 1);
    std::uniform_real_distribution<double> height(200.0, 1000.0);
    std::uniform_real_distribution<double> jitter(0.0, 0.3 * spacing);
    std::vector<Gauss> peaks;
    for (double c = margin; c < n - margin; c += spacing)
        peaks.push_back({dye(rng), c + jitter(rng), height(rng), sigma});
    return peaks;
}

/// Pure-dye traces: rows[d] holds the peaks of dye d.
inline std::vector<std::vector<double>> pureDyes(int n, int numDyes,
                                                 const std::vector<Gauss>& peaks) {
    std::vector<std::vector<double>> rows(numDyes, std::vector<double>(n, 0.0));
    for (const Gauss& g : peaks) addGaussian(rows[g.dye], g.centre, g.height, g.sigma);
    return rows;
}

/// Observed channels = mixing * pure dyes (mixing[k][d]: dye d in channel k) + noise.
inline std::vector<std::vector<double>> mix(const std::vector<std::vector<double>>& pure,
                                            const std::vector<std::vector<double>>& mixing,
                                            double noiseSigma = 0.0, uint32_t seed = 1) {
    const size_t n = pure.empty() ? 0 : pure[0].size();
    std::vector<std::vector<double>> out(mixing.size(), std::vector<double>(n, 0.0));
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, noiseSigma > 0.0 ? noiseSigma : 1.0);
    for (size_t k = 0; k < mixing.size(); ++k)
        for (size_t i = 0; i < n; ++i) {
            double v = 0.0;
            for (size_t d = 0; d < pure.size(); ++d) v += mixing[k][d] * pure[d][i];
            out[k][i] = v + (noiseSigma > 0.0 ? noise(rng) : 0.0);
        }
    return out;
}

/// Adds zero-mean Gaussian noise of standard deviation sd.
inline void addNoise(std::vector<double>& y, double sd, uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, sd);
    for (double& v : y) v += noise(rng);
}

/// n samples on the line a + slope * i.
inline std::vector<double> line(int n, double a, double slope) {
    std::vector<double> v(n);
    for (int i = 0; i < n; ++i) v[i] = a + slope * i;
    return v;
}

/// Peaks of 1000 every 60 samples from 40 on a drifting baseline, plus noise.
inline std::vector<double> driftingPeaks(int n, double offset, double decay, double noiseSd,
                                         uint32_t seed) {
    std::vector<double> y(n, 0.0);
    for (double c = 40; c < n - 40; c += 60) addGaussian(y, c, 1000.0, 3.0);
    for (int i = 0; i < n; ++i) y[i] += offset + 0.05 * i + decay * std::exp(-i / 1500.0);
    addNoise(y, noiseSd, seed);
    return y;
}

/// Noise around 20 with base peaks every 14 samples over each [from, to] span.
inline std::vector<double> baseRun(int n, uint32_t seed,
                                   const std::vector<std::pair<int, int>>& spans) {
    std::vector<double> v(n);
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(20.0, 3.0);
    std::uniform_real_distribution<double> height(200.0, 1000.0);
    for (double& x : v) x = noise(rng);
    for (const auto& s : spans)
        for (int c = s.first; c <= s.second; c += 14) addGaussian(v, c, height(rng), 2.5);
    return v;
}

/// A trace, or a class derived from it, holding v at the given rate.
template <class T = KwTrace>
T traceOf(const std::vector<double>& v, double rate = 1.0) {
    T t(static_cast<int>(v.size()), v.data());
    t.setSampleRate(rate);
    return t;
}

inline std::vector<double> samplesOf(const KwTrace& t) {
    std::vector<double> out(t.getNumData());
    for (int i = 0; i < t.getNumData(); ++i) out[i] = t[i];
    return out;
}

inline std::vector<std::vector<double>> samplesOf(const KwCap& cap) {
    std::vector<std::vector<double>> out;
    for (int k = 0; k < cap.getNumTraces(); ++k) out.push_back(samplesOf(*cap.getPnterToTrace(k)));
    return out;
}

// Trace, capillary and event with the members kept for derived classes public.
struct Trace : KwTrace {
    using KwTrace::adoptFilteredData;
    using KwTrace::calculateTapper;
    using KwTrace::deAnomaliousDip;
    using KwTrace::findWidestGap;
    using KwTrace::KwTrace;
    using KwTrace::operator=;
};

struct Cap : KwCap {
    using KwCap::fixScar;
    using KwCap::getSecondDominantChnl;
    using KwCap::KwCap;
    using KwCap::setNoiseLevelForNormalized;
    using KwCap::specSep;
    using KwCap::zeroMinimum;
};

struct Event : KwEvent {
    using KwEvent::pointWithValueCloseTo;
};

/// Event over y[first..last] (inner bounds innerFirst..innerLast, trace code
/// code) with humps appended at the given trace indexes; n > 0 asks for n peaks.
template <class E = KwEvent>
E eventOver(const std::vector<double>& y, int first, int last, const std::vector<int>& apexes,
            int innerFirst, int innerLast, int n = 0, int code = 1) {
    E ev;
    for (int a : apexes) ev.addApexGlobalLocatn(a);
    int outer[2] = {first, last}, inner[2] = {innerFirst, innerLast};
    ev.setup(code, outer, inner, 0.0, y.data());
    ev.setNumPksBeNumHumps();
    if (n > 0) ev.setMaxNumPeaks(n), ev.setMinNumPeaks(n);
    return ev;
}

/// Builds a capillary, or a class derived from it, from rows (copied).
template <class Cap = KwCap>
Cap makeCap(std::vector<std::vector<double>> rows, double rate) {
    std::vector<double*> ptrs;
    for (auto& r : rows) ptrs.push_back(r.data());
    return Cap(static_cast<int>(rows.size()), rows.empty() ? 0 : static_cast<int>(rows[0].size()),
               ptrs.data(), rate);
}

/// The raw channels of an instrument run as a capillary.
template <class Cap = KwCap>
Cap capOf(kw::AbifRun& run) {
    std::vector<double*> rows = run.rowPointers();
    return Cap(run.numTraces(), run.numScans, rows.data(), run.samplingRate);
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::string writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

/// A path in the test temporary directory.
inline std::string tempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() / ("kwtest_" + name)).string();
}

/// Rows handed out by a file reader, released as the host releases them.
struct ReadRows {
    int numTraces = -1, numData = -1, result = -1;
    double rate = -1.0;
    double** p = nullptr;
    ~ReadRows() { KwCap().ReleasePointer(p); }
};

#ifdef KWSIGNAL_SHARED_DATA
inline std::string sharedFile(const std::string& name) {
    return std::string(KWSIGNAL_SHARED_DATA "/abif/") + name;
}

/// Reads a shared instrument file; false when the file is not available.
inline bool readShared(const std::string& name, kw::AbifRun& run) {
    if (!std::ifstream(sharedFile(name)).good()) return false;
    run = kw::readAbif(sharedFile(name));
    return true;
}
#endif

}  // namespace kwtest

#endif
