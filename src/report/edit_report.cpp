// report.html of an edit analysis: one page, inline SVG, nothing fetched.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "kwsignal/edit.h"
#include "kwsignal/run.h"
#include "report/dye_colours.h"

namespace kw {

namespace {

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string fmt(const char* format, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

std::string pct(double v) {
    return fmt("%.1f", 100.0 * v) + " %";
}

// A letter's dye colour; grey for N and mixed codes, which belong to no
// single dye.
const char* colourOf(char base) {
    const int t = traceCodeOfBase(base);
    return detail::dyeColour(t);
}

// One trace window: the four channels as lines, the bases as letters, the
// cut as a dashed line between the two bases beside it.
std::string traceSvg(const EditTraceWindow& w, int cut, const std::string& title) {
    const double width = 900.0, height = 170.0, top = 30.0;
    std::string svg =
        "<svg xmlns='http://www.w3.org/2000/svg' width='900' height='170' "
        "viewBox='0 0 900 170'><rect width='900' height='170' fill='#fff'/>"
        "<text x='6' y='14' font-size='12' font-family='sans-serif'>" +
        escaped(title) + "</text>";
    const size_t n = w.channels[0].size();
    if (n < 2) return svg + "<text x='6' y='60' font-size='12'>no trace</text></svg>";
    double peak = 0.0;
    for (const auto& ch : w.channels)
        for (double v : ch) peak = std::max(peak, v);
    if (!(peak > 0.0)) peak = 1.0;
    const double dx = width / static_cast<double>(n - 1);
    for (int c = 0; c < 4; ++c) {
        svg += "<polyline fill='none' stroke-width='1.2' stroke='" +
               std::string(detail::dyeColour(c)) + "' points='";
        for (size_t i = 0; i < n; ++i) {
            const double v = std::max(0.0, w.channels[static_cast<size_t>(c)][i]);
            svg += fmt("%.1f", static_cast<double>(i) * dx) + "," +
                   fmt("%.1f", height - 4.0 - (height - top - 4.0) * v / peak) + " ";
        }
        svg += "'/>";
    }
    for (size_t b = 0; b < w.bases.size(); ++b) {
        const double x = (w.basePositions[b] - w.firstSample) * dx;
        svg += "<text x='" + fmt("%.1f", x) + "' y='" + fmt("%.0f", top - 4.0) +
               "' font-size='11' font-family='monospace' text-anchor='middle' fill='" +
               colourOf(w.bases[b]) + "'>" + std::string(1, w.bases[b]) + "</text>";
        const int index = w.firstBase + static_cast<int>(b);
        if (index == cut && b > 0) {
            const double xc = 0.5 * (x + (w.basePositions[b - 1] - w.firstSample) * dx);
            svg += "<line x1='" + fmt("%.1f", xc) + "' x2='" + fmt("%.1f", xc) + "' y1='" +
                   fmt("%.0f", top - 14.0) + "' y2='170' stroke='#888' stroke-dasharray='4,3'/>";
        }
    }
    return svg + "</svg>";
}

// The discordance along the control's read, the cuts and the fitted region.
std::string discordanceSvg(const EditResult& r) {
    const double width = 900.0, height = 200.0, left = 40.0, bottom = 24.0;
    std::string svg =
        "<svg xmlns='http://www.w3.org/2000/svg' width='900' height='200' "
        "viewBox='0 0 900 200'><rect width='900' height='200' fill='#fff'/>";
    const size_t n = r.discordance.size();
    if (n < 2) return svg + "<text x='6' y='40' font-size='12'>no discordance</text></svg>";
    const double dx = (width - left - 6.0) / static_cast<double>(n - 1);
    auto xOf = [&](double base) { return left + (base - r.discordanceStart) * dx; };
    auto yOf = [&](double v) { return 6.0 + (height - bottom - 6.0) * (1.0 - v); };
    svg += "<rect x='" + fmt("%.1f", xOf(r.fitStart)) + "' y='6' width='" +
           fmt("%.1f", std::max(0.0, xOf(r.fitEnd) - xOf(r.fitStart))) + "' height='" +
           fmt("%.1f", height - bottom - 6.0) + "' fill='#eef3ff'/>";
    for (double v : {0.0, 0.25, 0.5, 0.75, 1.0})
        svg += "<text x='34' y='" + fmt("%.1f", yOf(v) + 4.0) +
               "' font-size='10' text-anchor='end' font-family='sans-serif'>" + fmt("%.2f", v) +
               "</text><line x1='" + fmt("%.0f", left) + "' x2='894' y1='" + fmt("%.1f", yOf(v)) +
               "' y2='" + fmt("%.1f", yOf(v)) + "' stroke='#ddd'/>";
    svg += "<polyline fill='none' stroke='#b03060' stroke-width='1.2' points='";
    for (size_t i = 0; i < n; ++i)
        if (std::isfinite(r.discordance[i]))
            svg += fmt("%.1f", xOf(r.discordanceStart + static_cast<double>(i))) + "," +
                   fmt("%.1f", yOf(std::clamp(r.discordance[i], 0.0, 1.0))) + " ";
    svg += "'/>";
    for (const GuideSite& s : r.sites)
        svg += "<line x1='" + fmt("%.1f", xOf(s.cut - 0.5)) + "' x2='" +
               fmt("%.1f", xOf(s.cut - 0.5)) + "' y1='6' y2='" + fmt("%.0f", height - bottom) +
               "' stroke='#444' stroke-dasharray='4,3'/>";
    svg += "<text x='" + fmt("%.0f", left) +
           "' y='194' font-size='11' font-family='sans-serif'>control base " +
           std::to_string(r.discordanceStart) +
           "</text><text x='894' y='194' font-size='11' "
           "text-anchor='end' font-family='sans-serif'>" +
           std::to_string(r.discordanceStart + static_cast<int>(n) - 1) + "</text>";
    return svg + "</svg>";
}

// Horizontal bars of the outcomes' fractions with their intervals.
std::string outcomesSvg(const EditResult& r) {
    const size_t shown = std::min<size_t>(r.outcomes.size(), 20);
    const double rowH = 20.0, left = 230.0, barW = 600.0;
    const int height = static_cast<int>(rowH * static_cast<double>(shown) + 30.0);
    std::string svg = "<svg xmlns='http://www.w3.org/2000/svg' width='900' height='" +
                      std::to_string(height) + "' viewBox='0 0 900 " + std::to_string(height) +
                      "'><rect width='900' height='" + std::to_string(height) + "' fill='#fff'/>";
    for (size_t i = 0; i < shown; ++i) {
        const EditOutcome& o = r.outcomes[i];
        const double y = 6.0 + rowH * static_cast<double>(i);
        const std::string label =
            o.kind +
            (o.size ? " " + std::string(o.size > 0 ? "+" : "") + std::to_string(o.size) : "") +
            " @" + std::to_string(o.position);
        svg += "<text x='6' y='" + fmt("%.1f", y + 13.0) +
               "' font-size='12' font-family='sans-serif'>" + escaped(label) + "</text>";
        svg += "<rect x='" + fmt("%.0f", left) + "' y='" + fmt("%.1f", y + 3.0) + "' width='" +
               fmt("%.1f", barW * o.fraction) + "' height='13' fill='" +
               (o.kind == "wildtype" ? "#9aa"
                : o.kind == "hdr"    ? "#2a8"
                                     : "#c63") +
               "'/>";
        svg += "<line x1='" + fmt("%.1f", left + barW * o.low) + "' x2='" +
               fmt("%.1f", left + barW * o.high) + "' y1='" + fmt("%.1f", y + 9.5) + "' y2='" +
               fmt("%.1f", y + 9.5) + "' stroke='#000' stroke-width='1.5'/>";
        svg += "<text x='" + fmt("%.1f", left + barW * o.high + 6.0) + "' y='" +
               fmt("%.1f", y + 13.0) + "' font-size='11' font-family='sans-serif'>" +
               pct(o.fraction) + "</text>";
    }
    return svg + "</svg>";
}

}  // namespace

std::string editReportHtml(const EditResult& r) {
    std::string h = "<!DOCTYPE html><html><head><meta charset='utf-8'><title>kwsignal edit: " +
                    escaped(r.sampleName) +
                    "</title><style>body{font-family:sans-serif;margin:16px;color:#222}"
                    "table{border-collapse:collapse}td,th{padding:2px 10px;text-align:left}"
                    "h2{font-size:15px;margin:18px 0 6px}.warn{color:#a40}</style></head><body>";
    h += "<h1 style='font-size:18px'>Editing of " + escaped(r.sampleName) + "</h1>";
    h += "<p>control " + escaped(r.controlName) + "</p>";
    h += "<p><b>" + escaped(editStatusName(r.status)) + "</b>: " + escaped(r.message) + "</p>";
    for (const std::string& w : r.warnings) h += "<p class='warn'>" + escaped(w) + "</p>";
    if (r.status == EditStatus::ok) {
        h += "<table><tr><th>edited</th><td>" + pct(r.editedFraction) + " (" + pct(r.editedLow) +
             " to " + pct(r.editedHigh) + ")</td></tr><tr><th>knockout</th><td>" +
             pct(r.knockoutFraction) + "</td></tr><tr><th>HDR</th><td>" + pct(r.hdrFraction) +
             "</td></tr><tr><th>R&sup2;</th><td>" + fmt("%.3f", r.r2) +
             "</td></tr><tr><th>fitted bases</th><td>" + std::to_string(r.fitStart) + " to " +
             std::to_string(r.fitEnd) + "</td></tr></table>";
        const int cut = r.sites.empty() ? -1 : r.sites.front().cut;
        h += "<h2>Traces around the cut</h2>" + traceSvg(r.controlTrace, cut, "control") + "<br>" +
             traceSvg(r.sampleTrace, cut, "sample");
        h += "<h2>Discordance with the control (shaded: fitted bases; dashed: cuts)</h2>" +
             discordanceSvg(r);
        h += "<h2>Outcomes (bars: fraction; lines: interval)</h2>" + outcomesSvg(r);
    }
    return h + "</body></html>\n";
}

}  // namespace kw
