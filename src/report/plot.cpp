// plot.svg: the raw channels above the processed channels, in the
// conventional colours (C blue, A green, G black, T red), with the fitted
// peaks marked and the signal window shown; a fragment run's dyes against
// base pairs. Vector graphics, so a browser zooms into any stretch of the
// run; the raw panel is decimated to a min/max envelope to keep the file
// small.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>

#include "common/number_text.h"
#include "kwsignal/report.h"
#include "report/dye_colours.h"

namespace kw {
namespace {

// The run is drawn one pixel per sample (at least kMinPlotWidth pixels):
// a browser shows a stretch of it at full detail and scrolls or zooms out
// to the whole run.
constexpr double kMinPlotWidth = 1700.0;
constexpr double kLeft = 70.0;
constexpr double kRight = 20.0;
constexpr double kTop = 70.0;
constexpr double kPanel = 300.0;
constexpr double kGap = 60.0;
constexpr double kHeight = kTop + 2.0 * kPanel + kGap + 50.0;
// Columns of the raw panel's min/max envelope.
constexpr int kRawColumns = 4000;

double plotWidth(int numData) {
    return std::max(kMinPlotWidth, static_cast<double>(numData));
}

// A channel named by a base takes that base's colour, any other its trace
// code's.
const char* colourOf(const Run& run, int t) {
    const std::string name = run.channelName(t);
    const int base = name.size() == 1 ? traceCodeOfBase(name[0]) : -1;
    return detail::dyeColour(base >= 0 ? base : t);
}

// v as printf's "%.*f" writes it, without printf: the plot holds tens of
// thousands of numbers.
std::string fixed(double v, int decimals) {
    std::string s;
    kw::detail::appendFixed(s, v, decimals);
    return s;
}

// v as printf's "%.*g" writes it.
std::string general(double v, int precision) {
    std::string s;
    kw::detail::appendGeneral(s, v, precision);
    return s;
}

// c as XML text; control characters are left out.
void putEscaped(kw::detail::TextBlock& text, char c) {
    if (c == '&')
        text.put("&amp;");
    else if (c == '<')
        text.put("&lt;");
    else if (c == '>')
        text.put("&gt;");
    else if (c == '"')
        text.put("&quot;");
    else if (static_cast<unsigned char>(c) >= 32)
        text.put(c);
}

std::string xmlEscaped(const std::string& s) {
    std::string out;
    kw::detail::TextBlock text(out);
    for (char c : s) putEscaped(text, c);
    text.flush();
    return out;
}

// Vertical placement of one panel: value lo at its bottom, hi at its top;
// values beyond are held at the edges.
struct PanelScale {
    double top;
    double lo;
    double hi;
    double height = kPanel;
    double y(double v) const {
        if (!std::isfinite(v)) v = lo;
        const double f = (std::min(hi, std::max(lo, v)) - lo) / (hi - lo);
        return top + height * (1.0 - f);
    }
};

// The q quantile of v (0 <= q <= 1); reorders v.
double quantile(std::vector<double>& v, double q) {
    if (v.empty()) return 0.0;
    const size_t k = std::min(v.size() - 1, static_cast<size_t>(q * (v.size() - 1)));
    std::nth_element(v.begin(), v.begin() + k, v.end());
    return v[k];
}

// The text of a magnitude below 1000 tenths as putTenths writes it
// ("12.5" for 125, "3" for 30), padded with zeros to eight bytes: a step
// of the plot moves less than 100 pixels nearly always.
struct TenthsText {
    char text[7];
    char length;
};

constexpr std::array<TenthsText, 1000> tenthsTexts() {
    std::array<TenthsText, 1000> table{};
    for (int a = 0; a < 1000; ++a) {
        TenthsText& t = table[a];
        int n = 0;
        if (a >= 100) t.text[n++] = static_cast<char>('0' + a / 100);
        t.text[n++] = static_cast<char>('0' + a / 10 % 10);
        if (a % 10 != 0) {
            t.text[n++] = '.';
            t.text[n++] = static_cast<char>('0' + a % 10);
        }
        t.length = static_cast<char>(n);
    }
    return table;
}

constexpr std::array<TenthsText, 1000> kTenthsTexts = tenthsTexts();

// A path element of relative steps in tenths of a pixel vertically,
// written straight onto the document; y deltas are taken from the position
// already written, so rounding never accumulates. Numbers are written by
// hand: a path holds tens of thousands of them, and the steps gather in a
// small buffer that is appended to the document when full.
class PathBuilder {
public:
    // Opens a path stroked in colour on out, starting at (x, y).
    PathBuilder(std::string& document, const char* colour, double x, double y)
        : out(document), lastY(tenths(y)) {
        out += "<path vector-effect=\"non-scaling-stroke\" stroke=\"";
        out += colour;
        out += "\" d=\"";
        char* p = pending;
        *p++ = 'M';
        p = kw::detail::writeInt(p, std::llround(x));
        *p++ = ' ';
        p = putTenths(p, lastY);
        *p++ = 'l';
        used = static_cast<size_t>(p - pending);
    }
    void step(int dx, double y) {
        if (used + kLongestStep > sizeof pending) flush();
        const long long ry = tenths(y);
        char* p = pending + used;
        // Steps are a sample or a column of samples: one digit, nearly always.
        if (dx >= 0 && dx < 10)
            *p++ = static_cast<char>('0' + dx);
        else
            p = kw::detail::writeInt(p, dx);
        if (ry - lastY >= 0) *p++ = ' ';
        p = putTenths(p, ry - lastY);
        *p++ = ' ';
        used = static_cast<size_t>(p - pending);
        lastY = ry;
    }
    // Ends the path element.
    void close() {
        flush();
        out += "\"/>\n";
    }

private:
    static constexpr size_t kLongestStep = 64;  // two 20-digit numbers and three characters

    // y x 10 rounded half away from zero, as std::llround does, without the call.
    static long long tenths(double y) {
        const double t = y * 10.0;
        return t >= 0.0 ? static_cast<long long>(t + 0.5) : -static_cast<long long>(0.5 - t);
    }
    // t tenths as a decimal number ("-12.5", "3"), at p; returns the end.
    static char* putTenths(char* p, long long t) {
        if (t < 0) *p++ = '-';
        const unsigned long long a =
            t < 0 ? 0ull - static_cast<unsigned long long>(t) : static_cast<unsigned long long>(t);
        if (a < kTenthsTexts.size()) {  // most steps: looked up, four bytes copied
            const TenthsText& text = kTenthsTexts[a];
            std::memcpy(p, text.text, 4);
            return p + text.length;
        }
        p = kw::detail::writeInt(p, a / 10);
        if (a % 10 != 0) {
            *p++ = '.';
            *p++ = static_cast<char>('0' + a % 10);
        }
        return p;
    }
    void flush() {
        out.append(pending, used);
        used = 0;
    }

    std::string& out;
    char pending[4096];
    size_t used = 0;
    long long lastY;
};

// Data drawn in sample units across the plot width, strokes kept thin.
std::string dataGroupStart(int numData) {
    const double sx = plotWidth(numData) / std::max(1, numData - 1);
    return "<g transform=\"translate(" + fixed(kLeft, 1) + ",0) scale(" + fixed(sx, 6) +
           ",1)\" fill=\"none\" stroke-width=\"1\">\n";
}

// Appends a path element of path data d stroked in colour.
void appendPath(std::string& out, const std::string& d, const char* colour) {
    out += "<path vector-effect=\"non-scaling-stroke\" stroke=\"";
    out += colour;
    out += "\" d=\"";
    out += d;
    out += "\"/>\n";
}

// The lowest and highest of x[from, to) (from < to), as std::minmax_element
// finds them where no sample is NaN. Raw samples are noise at the scale of
// a column, where minmax_element's branches go either way at random; these
// comparisons compile to minimum and maximum instructions.
void columnRange(const double* x, int from, int to, double& low, double& high) {
    low = high = x[from];
    for (int k = from + 1; k < to; ++k) {
        low = x[k] < low ? x[k] : low;
        high = x[k] < high ? high : x[k];
    }
}

// Appends the min/max envelope of x in kRawColumns columns, n samples wide.
void appendEnvelope(std::string& out, const std::vector<double>& x, int n, const PanelScale& p,
                    const char* colour) {
    if (n < 1 || static_cast<int>(x.size()) < n) return;
    const int per = std::max(1, (n + kRawColumns - 1) / kRawColumns);
    const bool noNaN = std::none_of(x.begin(), x.begin() + n, [](double v) { return v != v; });
    PathBuilder path(out, colour, 0.0, p.y(x[0]));
    int lastX = 0;
    for (int b = 0; b < n; b += per) {
        const int end = std::min(n, b + per);
        double low, high;
        if (noNaN) {
            columnRange(x.data(), b, end, low, high);
        } else {
            const auto range = std::minmax_element(x.begin() + b, x.begin() + end);
            low = *range.first, high = *range.second;
        }
        path.step(b - lastX, p.y(low));
        path.step(0, p.y(high));
        lastX = b;
    }
    path.close();
}

void appendRawPanel(std::string& out, const Run& run, const PanelScale& p) {
    out += dataGroupStart(run.numData);
    for (int t = 0; t < run.numTraces; ++t)
        appendEnvelope(out, run.rows[t], run.numData, p, colourOf(run, t));
    out += "</g>\n";
}

void appendProcessedPanel(std::string& out, const Run& run, const ProcessResult& result,
                          const PanelScale& p) {
    const KwCap& cap = *result.processed;
    const int n = cap.getNumData();
    out += dataGroupStart(n);
    for (int t = 0; t < run.numTraces; ++t) {
        const double* x = cap.getPnterToTrace(t)->getData();
        PathBuilder path(out, colourOf(run, t), 0.0, p.y(x[0]));
        int lastX = 0;
        for (int i = 1; i < n; ++i) {
            // Inside a flat stretch only its last sample is needed.
            if (x[i] == x[i - 1])
                while (i + 1 < n && x[i + 1] == x[i]) ++i;
            path.step(i - lastX, p.y(x[i]));
            lastX = i;
        }
        path.close();
    }
    // A tick above the top of every fitted peak.
    std::vector<std::string> ticks(run.numTraces);
    for (const KwPeak& peak : result.peaks) {
        const int t = peak.getTraceCode();
        if (t < 0 || t >= run.numTraces) continue;
        std::string& d = ticks[t];
        d += 'M';
        kw::detail::appendFixed(d, peak.getLocatn(), 2);
        d += ' ';
        kw::detail::appendFixed(d, p.y(peak.getHeight() + peak.getBase()) - 4.0, 1);
        d += "v-9";
    }
    for (int t = 0; t < run.numTraces; ++t)
        if (!ticks[t].empty()) appendPath(out, ticks[t], colourOf(run, t));
    out += "</g>\n";
}

// The called bases in the gap above the processed channels: each letter in
// its dye's colour over a bar as tall as its quality (60 at full height),
// at the base's position on the processed channels.
void appendCallsStrip(std::string& out, const Run& run, const ProcessResult& result,
                      const PanelScale& p) {
    if (!result.called || !result.processed) return;
    const int n = result.processed->getNumData();
    const double sx = plotWidth(n) / std::max(1, n - 1);
    const double scale = run.coordinateScale > 0.0 ? run.coordinateScale : 1.0;
    auto xOf = [&](const BaseCall& b) { return kLeft + b.position * scale * sx; };
    const double barHeight = 22.0;
    const std::string barBottom = " " + fixed(p.top - 3.0, 1) + "v";
    const std::string letterY = "\" y=\"" + fixed(p.top - 30.0, 1) + "\" fill=\"";
    const char* letterColour[4];
    for (int dye = 0; dye < 4; ++dye) letterColour[dye] = colourOf(run, dye);
    kw::detail::TextBlock text(out);
    text.put("<path stroke=\"#bbbbbb\" stroke-width=\"3\" d=\"");
    for (const BaseCall& b : result.calls.bases) {
        text.put('M');
        text.fixed(xOf(b), 1);
        text.put(barBottom);
        text.fixed(-barHeight * std::min(b.qv, kMaxCallQv) / kMaxCallQv, 1);
    }
    text.put("\"/>\n<g text-anchor=\"middle\" font-size=\"11\" font-family=\"monospace\">\n");
    for (const BaseCall& b : result.calls.bases) {
        // Pure calls in their dye's colour; N and mixed codes in grey.
        const int dye = traceCodeOfBase(b.base);
        text.put("<text x=\"");
        text.fixed(xOf(b), 1);
        text.put(letterY);
        text.put(dye >= 0 && dye < 4 ? letterColour[dye] : detail::kNoDyeColour);
        text.put("\">");
        putEscaped(text, b.base);
        text.put("</text>\n");
    }
    text.put("</g>\n");
}

double niceStep(double span) {
    const double raw = span / 10.0;
    const double mag = std::pow(10.0, std::floor(std::log10(std::max(raw, 1e-9))));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * mag >= raw) return m * mag;
    return 10.0 * mag;
}

std::string axes(const Run& run, const ProcessResult& result, const PanelScale& raw,
                 const PanelScale& processed) {
    const int n = run.numData;
    const double width = plotWidth(n);
    const double sx = width / std::max(1, n - 1);
    std::string out;
    for (const PanelScale* p : {&raw, &processed}) {
        out += "<rect x=\"" + fixed(kLeft, 1) + "\" y=\"" + fixed(p->top, 1) + "\" width=\"" +
               fixed(width, 1) + "\" height=\"" + fixed(kPanel, 1) +
               "\" fill=\"none\" stroke=\"#bbbbbb\"/>\n";
        for (int k = 0; k <= 2; ++k) {
            const double v = p->lo + (p->hi - p->lo) * k / 2.0;
            out += "<text x=\"" + fixed(kLeft - 6.0, 1) + "\" y=\"" + fixed(p->y(v) + 4.0, 1) +
                   "\" text-anchor=\"end\">" + fixed(v, 0) + "</text>\n";
        }
        for (int w : {result.windowStart, result.windowEnd})
            out += "<line x1=\"" + fixed(kLeft + w * sx, 1) + "\" x2=\"" +
                   fixed(kLeft + w * sx, 1) + "\" y1=\"" + fixed(p->top, 1) + "\" y2=\"" +
                   fixed(p->top + kPanel, 1) + "\" stroke=\"#888888\" stroke-dasharray=\"6,4\"/>\n";
    }
    // Sample numbers in the file's own coordinates.
    const double scale = run.coordinateScale;
    const double step = niceStep(n / scale / std::max(10.0, width / 150.0) * 10.0);
    const double base = processed.top + kPanel;
    for (double v = 0.0; v * scale < n; v += step) {
        const double x = kLeft + v * scale * sx;
        out += "<line x1=\"" + fixed(x, 1) + "\" x2=\"" + fixed(x, 1) + "\" y1=\"" +
               fixed(base, 1) + "\" y2=\"" + fixed(base + 5.0, 1) + "\" stroke=\"#888888\"/>\n";
        out += "<text x=\"" + fixed(x, 1) + "\" y=\"" + fixed(base + 20.0, 1) +
               "\" text-anchor=\"middle\">" + fixed(v, 0) + "</text>\n";
    }
    for (double x = kLeft + 200.0; x < kLeft + width; x += 1500.0)
        out += "<text x=\"" + fixed(x, 1) + "\" y=\"" + fixed(base + 40.0, 1) +
               "\" text-anchor=\"middle\">sample</text>\n";
    return out;
}

std::string titles(const Run& run, const ProcessResult& result, const PanelScale& raw,
                   const PanelScale& processed) {
    std::string head = xmlEscaped(run.path) + " — " + formatName(run.format);
    if (!run.instrument.empty()) head += ", " + xmlEscaped(run.instrument);
    head += ", " + general(result.rate, 3) + " Hz, " + std::to_string(run.numData) + " samples, " +
            std::to_string(result.peaks.size()) + " peaks";
    if (result.status != RunStatus::ok) head += " — no signal";
    std::string out =
        "<text x=\"" + fixed(kLeft, 1) + "\" y=\"24\" font-size=\"16\">" + head + "</text>\n";
    double x = kLeft;
    for (int t = 0; t < run.numTraces; ++t, x += 40.0)
        out += "<text x=\"" + fixed(x, 1) +
               "\" y=\"46\" font-size=\"16\" font-weight=\"bold\" "
               "fill=\"" +
               colourOf(run, t) + "\">" + xmlEscaped(run.channelName(t)) + "</text>\n";
    out += "<text x=\"" + fixed(kLeft + 6.0, 1) + "\" y=\"" + fixed(raw.top + 16.0, 1) +
           "\">raw channels (min/max per column)</text>\n";
    out += "<text x=\"" + fixed(kLeft + 6.0, 1) + "\" y=\"" + fixed(processed.top + 16.0, 1) +
           "\">processed channels, fitted peaks ticked; dashed: signal window" +
           (result.called ? std::string("; above: called bases, bars their quality") : "") +
           "</text>\n";
    return out;
}

// The value of rank k (from 0) among samples a..b of every row, ranked by
// `before` (std::less: from the smallest). Only the k + 1 first-ranked
// samples seen so far are kept, in a heap whose top is the last of them:
// the raw panel's range takes ranks near either end, a few dozen among
// tens of thousands of samples.
template <class Before>
double sampleOfRank(const std::vector<std::vector<double>>& rows, int a, int b, size_t k,
                    Before before) {
    std::vector<double> kept;
    kept.reserve(k + 1);
    for (const std::vector<double>& row : rows) {
        const double* x = row.data();
        int s = a;
        for (; s <= b && kept.size() <= k; ++s) {
            kept.push_back(x[s]);
            std::push_heap(kept.begin(), kept.end(), before);
        }
        // Once k + 1 are kept, nearly every sample fails the one test.
        for (double last = kept.empty() ? 0.0 : kept.front(); s <= b; ++s)
            if (before(x[s], last)) {
                std::pop_heap(kept.begin(), kept.end(), before);
                kept.back() = x[s];
                std::push_heap(kept.begin(), kept.end(), before);
                last = kept.front();
            }
    }
    return kept.front();
}

// Raw values spanned by the signal window (its 0.05 % and 99.95 %
// quantiles), a little room above; a few spikes are let run off the top.
PanelScale rawRange(const Run& run, const ProcessResult& result, double top) {
    const int a = std::max(0, std::min(result.windowStart, run.numData - 1));
    const int b = std::max(a, std::min(result.windowEnd, run.numData - 1));
    const size_t count = run.rows.size() * static_cast<size_t>(b - a + 1);
    double lo = 0.0, hi = 0.0;
    if (count > 0 && run.numData > 0) {
        const size_t low = static_cast<size_t>(0.0005 * (count - 1));
        const size_t high = std::min(count - 1, static_cast<size_t>(0.9995 * (count - 1)));
        lo = sampleOfRank(run.rows, a, b, low, std::less<double>());
        hi = sampleOfRank(run.rows, a, b, count - 1 - high, std::greater<double>());
    }
    return {top, lo, hi > lo ? hi + 0.05 * (hi - lo) : lo + 1.0};
}

PanelScale processedRange(const ProcessResult& result, double top) {
    double hi = 0.0;
    for (const KwPeak& p : result.peaks) hi = std::max(hi, p.getHeight() + p.getBase());
    if (!result.processed) return {top, 0.0, hi > 0.0 && std::isfinite(hi) ? 1.1 * hi : 1.0};
    const KwCap& cap = *result.processed;
    if (hi <= 0.0)
        for (int t = 0; t < cap.getNumTraces(); ++t) {
            const KwTrace& tr = *cap.getPnterToTrace(t);
            hi = std::max(hi, tr.getMaxData(0, tr.getNumData() - 1));
        }
    return {top, 0.0, hi > 0.0 && std::isfinite(hi) ? 1.1 * hi : 1.0};
}

// ---- fragment runs -------------------------------------------------------------

constexpr double kDyePanel = 150.0;
constexpr double kDyeGap = 34.0;
constexpr double kResidualStrip = 70.0;

// Each dye's raw signal: the instrument file's every dye, else the rows.
std::vector<const std::vector<double>*> dyeRows(const Run& run) {
    std::vector<const std::vector<double>*> rows;
    if (!run.abif.dyes.empty())
        for (const AbifChannel& c : run.abif.dyes) rows.push_back(&c.samples);
    else
        for (const std::vector<double>& r : run.rows) rows.push_back(&r);
    return rows;
}

// A dye's panel: its signal from its baseline up to its tallest reported
// peak (off-scale peaks run off the top), peaks ticked, standard peaks
// labelled with their lengths in base pairs.
std::string dyePanel(const std::vector<double>& x, int dye, const FragmentResult& f, int n,
                     double top) {
    std::vector<double> sample(x.begin(), x.begin() + std::min<size_t>(x.size(), n));
    double hi = 0.0;
    for (const FragmentPeak& p : f.peaks)
        if (p.dye == dye && !(p.flags & kFlagSaturated)) hi = std::max(hi, p.height);
    std::vector<double> scratch = sample;
    const double lo = quantile(scratch, 0.02);
    PanelScale panel{top, lo, lo + (hi > 0.0 ? 1.15 * hi : quantile(scratch, 0.9995) - lo + 1.0),
                     kDyePanel};
    const std::string colour = detail::dyeColour(dye);
    const double sx = plotWidth(n) / std::max(1, n - 1);
    std::string out = "<rect x=\"" + fixed(kLeft, 1) + "\" y=\"" + fixed(top, 1) + "\" width=\"" +
                      fixed(plotWidth(n), 1) + "\" height=\"" + fixed(kDyePanel, 1) +
                      "\" fill=\"none\" stroke=\"#bbbbbb\"/>\n";
    const std::string name = dye < static_cast<int>(f.dyeNames.size()) ? f.dyeNames[dye] : "";
    out += "<text x=\"" + fixed(kLeft + 6.0, 1) + "\" y=\"" + fixed(top + 14.0, 1) + "\" fill=\"" +
           colour + "\">dye " + std::to_string(dye + 1) + " " + xmlEscaped(name) +
           (dye == f.standardDye ? " (size standard " + xmlEscaped(f.standard) + ")" : "") +
           "</text>\n";
    out += dataGroupStart(n);
    appendEnvelope(out, sample, n, panel, colour.c_str());
    out += "</g>\n";
    for (const FragmentPeak& p : f.peaks) {
        if (p.dye != dye) continue;
        const double px = kLeft + p.scan * sx, py = panel.y(p.height + lo) - 3.0;
        out += "<path stroke=\"" + colour + "\" d=\"M" + fixed(px, 1) + " " + fixed(py, 1) +
               "v-7\"/>\n";
        if (p.isStandard != StandardRole::none)
            out += "<text x=\"" + fixed(px, 1) + "\" y=\"" + fixed(py - 10.0, 1) +
                   "\" text-anchor=\"middle\" font-size=\"10\"" +
                   (p.isStandard == StandardRole::unused ? " fill=\"#999999\"" : "") + ">" +
                   fixed(p.standardBp, 0) + "</text>\n";
    }
    return out;
}

// The sizing curve's misfit at each standard peak it uses (size read off
// the curve minus the fragment's length), on a +-1 bp scale, and the
// base-pair scale under the panels.
std::string residualStrip(const FragmentResult& f, int n, double top) {
    const double sx = plotWidth(n) / std::max(1, n - 1), mid = top + kResidualStrip / 2.0;
    std::string out = "<line x1=\"" + fixed(kLeft, 1) + "\" x2=\"" +
                      fixed(kLeft + plotWidth(n), 1) + "\" y1=\"" + fixed(mid, 1) + "\" y2=\"" +
                      fixed(mid, 1) + "\" stroke=\"#bbbbbb\"/>\n";
    out += "<text x=\"" + fixed(kLeft + 6.0, 1) + "\" y=\"" + fixed(top + 12.0, 1) +
           "\">sizing residual at each standard peak used (bp, +-1 bp full scale); " +
           sizingMethodName(f.sizing) + " sizing</text>\n";
    for (const FragmentPeak& p : f.peaks) {
        if (p.isStandard != StandardRole::used || !std::isfinite(p.sizeBp)) continue;
        const double x = kLeft + p.scan * sx;
        const double r = std::max(-1.0, std::min(1.0, p.sizeBp - p.standardBp));
        out += "<path stroke=\"#d7191c\" stroke-width=\"3\" d=\"M" + fixed(x, 1) + " " +
               fixed(mid, 1) + "v" + fixed(-r * (kResidualStrip / 2.0 - 6.0), 1) + "\"/>\n";
        out += "<text x=\"" + fixed(x, 1) + "\" y=\"" + fixed(top + kResidualStrip + 14.0, 1) +
               "\" text-anchor=\"middle\">" + fixed(p.standardBp, 0) + "</text>\n";
    }
    return out + "<text x=\"" + fixed(kLeft, 1) + "\" y=\"" +
           fixed(top + kResidualStrip + 30.0, 1) + "\">base pairs (standard fragments)</text>\n";
}

std::string fragmentPlotSvg(const Run& run, const ProcessResult& result) {
    const FragmentResult& f = result.fragments;
    const std::vector<const std::vector<double>*> rows = dyeRows(run);
    const int n = run.numData;
    const double width = kLeft + plotWidth(n) + kRight;
    const double height = kTop + rows.size() * (kDyePanel + kDyeGap) + kResidualStrip + 50.0;
    std::string svg =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg "
        "xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
        fixed(width, 0) + "\" height=\"" + fixed(height, 0) +
        "\" font-family=\"sans-serif\" font-size=\"12\">\n<rect width=\"100%\" "
        "height=\"100%\" fill=\"white\"/>\n";
    std::string head = xmlEscaped(run.path) + " — fragment analysis, " +
                       std::to_string(rows.size()) + " dyes, " + std::to_string(f.peaks.size()) +
                       " peaks, ";
    head += f.status == SizingStatus::sized
                ? xmlEscaped(f.standard) + ", leave-one-out " + fixed(f.looMeanBp, 2) + " bp"
                : std::string("not sized: ") + sizingStatusName(f.status);
    svg += "<text x=\"" + fixed(kLeft, 1) + "\" y=\"24\" font-size=\"16\">" + head + "</text>\n";
    double top = kTop;
    for (size_t d = 0; d < rows.size(); ++d, top += kDyePanel + kDyeGap)
        svg += dyePanel(*rows[d], static_cast<int>(d), f, n, top);
    if (f.status == SizingStatus::sized) svg += residualStrip(f, n, top);
    return svg + "</svg>\n";
}

// What a run and its result must hold for the sequencing picture: a row of
// numData samples per trace, and a processed capillary (when there is one)
// of as many traces, each of at least one sample. Empty when they do.
std::string undrawable(const Run& run, const ProcessResult& result) {
    if (run.numTraces < 1 || run.numData < 1 || run.rows.size() != size_t(run.numTraces))
        return "the run holds no rows of samples";
    for (const std::vector<double>& row : run.rows)
        if (row.size() < size_t(run.numData)) return "the run's rows are shorter than its samples";
    if (!result.processed) return std::string();
    if (result.processed->getNumTraces() < run.numTraces || result.processed->getNumData() < 1)
        return "the processed capillary does not match the run";
    return std::string();
}

std::string emptyPlot(const Run& run, const std::string& why) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
           "width=\"800\" height=\"60\" font-family=\"sans-serif\" font-size=\"14\">\n<text "
           "x=\"10\" y=\"35\">" +
           xmlEscaped(run.path) + ": nothing to draw (" + why + ")</text>\n</svg>\n";
}

}  // namespace

std::string plotSvg(const Run& run, const ProcessResult& result) {
    if (result.kind == RunKind::fragments) return fragmentPlotSvg(run, result);
    if (const std::string why = undrawable(run, result); !why.empty()) return emptyPlot(run, why);
    const PanelScale raw = rawRange(run, result, kTop);
    const PanelScale processed = processedRange(result, kTop + kPanel + kGap);
    const double width = kLeft + plotWidth(run.numData) + kRight;
    // One document, reserved whole: two to seven bytes per sample of every
    // channel, by how much of the run holds peaks.
    std::string svg;
    svg.reserve(65536 + static_cast<size_t>(std::max(0, run.numData)) * run.numTraces * 7);
    svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + fixed(width, 0) + "\" height=\"" +
           fixed(kHeight, 0) + "\" viewBox=\"0 0 " + fixed(width, 0) + " " + fixed(kHeight, 0) +
           "\" font-family=\"sans-serif\" font-size=\"12\">\n<rect width=\"100%\" height=\"100%\" "
           "fill=\"white\"/>\n";
    svg += titles(run, result, raw, processed);
    svg += axes(run, result, raw, processed);
    appendRawPanel(svg, run, raw);
    if (result.processed) appendProcessedPanel(svg, run, result, processed);
    appendCallsStrip(svg, run, result, processed);
    svg += "</svg>\n";
    return svg;
}

const char* dyeColour(int traceCode) {
    return detail::dyeColour(traceCode);
}

std::string writePlot(const std::string& path, const Run& run, const ProcessResult& result) {
    return writeFileAtomically(path, plotSvg(run, result));
}

}  // namespace kw
