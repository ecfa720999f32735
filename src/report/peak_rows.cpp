// Peaks as rows in the input file's own sample numbers, and the text tables
// made of them.
#include <cmath>

#include "common/number_text.h"
#include "kwsignal/report.h"

namespace kw {
namespace {

// A fixed-point number as the tables print it; "nan" for a non-finite one.
kw::detail::TextBlock& putFixed(kw::detail::TextBlock& text, double v, int decimals) {
    return std::isfinite(v) ? text.fixed(v, decimals) : text.put("nan", 3);
}

}  // namespace

std::vector<PeakRow> peakRows(const Run& run, const ProcessResult& result) {
    const double scale = run.coordinateScale > 0.0 ? run.coordinateScale : 1.0;
    std::vector<PeakRow> rows;
    rows.reserve(result.peaks.size());
    for (const KwPeak& p : result.peaks) {
        PeakRow r;
        r.traceCode = p.getTraceCode();
        r.channel = run.channelName(r.traceCode);
        r.locatn = p.getLocatn() / scale;
        r.height = p.getHeight();
        r.sigma = p.getSigma() / scale;
        r.base = p.getBase();
        r.area = p.getArea() / scale;
        r.startPnt = static_cast<int>(std::floor(p.getStartPnt() / scale));
        r.endPnt = static_cast<int>(std::ceil(p.getEndPnt() / scale));
        r.variance = p.getVariance();
        rows.push_back(r);
    }
    return rows;
}

const char* peaksHeader() {
    return "channel\ttrace_code\tlocatn\theight\tsigma\tbase\tarea\tstart_pnt\tend_pnt\tvariance";
}

std::string peaksTsv(const Run& run, const ProcessResult& result) {
    std::string out = peaksHeader();
    out += '\n';
    out.reserve(result.peaks.size() * 72);
    kw::detail::TextBlock text(out);
    for (const PeakRow& r : peakRows(run, result)) {
        text.put(r.channel).put('\t').integer(r.traceCode).put('\t');
        putFixed(text, r.locatn, 3).put('\t');
        putFixed(text, r.height, 3).put('\t');
        putFixed(text, r.sigma, 4).put('\t');
        putFixed(text, r.base, 3).put('\t');
        putFixed(text, r.area, 3).put('\t');
        text.integer(r.startPnt).put('\t').integer(r.endPnt).put('\t').general(r.variance, 6);
        text.put('\n');
    }
    text.flush();
    return out;
}

std::string matrixText(const std::vector<std::vector<double>>& matrix) {
    std::string out;
    for (const auto& row : matrix) {
        for (double v : row) {
            kw::detail::appendFixed(out, v, 6);
            out += ' ';
        }
        out += '\n';
    }
    return out;
}

}  // namespace kw
