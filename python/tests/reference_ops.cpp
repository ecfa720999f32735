// Runs a few library operations straight from C++ for the Python tests,
// which run the same operations through the bindings and compare bit for
// bit. Input on stdin: int32 traces, int32 samples, double rate, then the
// samples trace by trace (doubles). Output on stdout: doubles.
//
//   kwsignal_py_reference deBaseline <n>     the capillary's samples after deBaseline(n)
//   kwsignal_py_reference filter <s> <e>     after findNoiseLevel and the Mexican-hat filter
//   kwsignal_py_reference peaks <onset> <w>  trace 0's events fitted: per peak locatn,
//                                            height, sigma, base
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kwsignal/kwsignal.h"

namespace {

bool readCap(std::vector<std::vector<double>>& rows, double& rate) {
    int32_t n = 0, m = 0;
    if (std::fread(&n, 4, 1, stdin) != 1 || std::fread(&m, 4, 1, stdin) != 1 ||
        std::fread(&rate, 8, 1, stdin) != 1 || n < 1 || n > 64 || m < 1 || m > (1 << 26))
        return false;
    rows.assign(n, std::vector<double>(m));
    for (auto& r : rows)
        if (std::fread(r.data(), 8, m, stdin) != static_cast<size_t>(m)) return false;
    return true;
}

void writeCap(const KwCap& cap) {
    for (int t = 0; t < cap.getNumTraces(); ++t)
        std::fwrite(cap.getPnterToTrace(t)->getData(), 8, cap.getNumData(), stdout);
}

void writePeaks(const KwTrace& trace, double onset, double width) {
    int pos = 2;
    const int last = trace.getNumData() - 3;
    while (pos < last) {
        const KwEvent ev = trace.getNextEvent(0, pos, last, onset, 0.5 * onset, width, 1);
        if (ev.dataExist() == 0) break;
        pos = ev.getOuterBounds(1) > pos ? ev.getOuterBounds(1) : pos + 1;
        if (ev.getNumHumps() < 1) continue;
        KwEvent fit(ev);
        fit.setNumPksBeNumHumps();
        std::vector<KwPeak> peaks(fit.getMinNumPeaks());
        fit.peakFit(peaks.data());
        for (const KwPeak& p : peaks) {
            const double v[4] = {p.getLocatn(), p.getHeight(), p.getSigma(), p.getBase()};
            std::fwrite(v, 8, 4, stdout);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::vector<double>> rows;
    double rate = 0.0;
    if (argc < 3 || !readCap(rows, rate)) {
        std::fprintf(stderr, "usage: %s deBaseline|filter|peaks <numbers> < samples\n", argv[0]);
        return 2;
    }
    std::vector<double*> pointers;
    for (auto& r : rows) pointers.push_back(r.data());
    KwCap cap(static_cast<int>(rows.size()), static_cast<int>(rows[0].size()), pointers.data(),
              rate);
    const double a = std::atof(argv[2]);
    const double b = argc > 3 ? std::atof(argv[3]) : 0.0;
    if (std::strcmp(argv[1], "deBaseline") == 0) {
        cap.deBaseline(static_cast<int>(a));
        writeCap(cap);
    } else if (std::strcmp(argv[1], "filter") == 0) {
        for (int t = 0; t < cap.getNumTraces(); ++t) cap.getPnterToTrace(t)->findNoiseLevel(0);
        cap.trippleMexicanHatFilter(a, b);
        writeCap(cap);
    } else if (std::strcmp(argv[1], "peaks") == 0) {
        writePeaks(*cap.getPnterToTrace(0), a, b);
    } else {
        return 2;
    }
    return 0;
}
