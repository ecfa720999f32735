// Base editing: each protospacer base's shares in the sample, against the
// noise of the same trace outside the guides' windows.
#include "editing/base_edit.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "editing/editing.h"
#include "editing/noise.h"

namespace kw {

namespace {

constexpr int kWindowMargin = 5;  // bases beside a protospacer left out of the noise too
constexpr const char* kLetters = "ACGT";

using Shares = std::array<double, 4>;  // C, A, G, T, summing to 1 (0 when no signal)

Shares sharesOf(const BaseCall& b) {
    Shares s{{0.0, 0.0, 0.0, 0.0}};
    double sum = 0.0;
    for (double h : b.heights) sum += std::max(0.0, h);
    if (!(sum > 0.0)) return s;
    for (int c = 0; c < 4; ++c)
        s[static_cast<size_t>(c)] = std::max(0.0, b.heights[static_cast<size_t>(c)]) / sum;
    return s;
}

// The sample base standing for each reference-read base (-1: none).
std::vector<int> sampleBaseOf(const BaseCalls& sample, const BaseCalls* control) {
    if (!control) {
        std::vector<int> same(sample.bases.size());
        for (size_t i = 0; i < same.size(); ++i) same[i] = static_cast<int>(i);
        return same;
    }
    std::vector<int> out(control->bases.size(), -1);
    for (const auto& [a, b] : alignReads(control->sequence(), sample.sequence()).pairs)
        out[static_cast<size_t>(a)] = b;
    return out;
}

// The share a sample channel holds above the control's at the same base.
double excess(const Shares& s, const BaseCalls* control, int i, int c) {
    double v = s[static_cast<size_t>(c)];
    if (control) v -= sharesOf(control->bases[static_cast<size_t>(i)])[static_cast<size_t>(c)];
    return v;
}

bool inWindow(const std::vector<GuideSite>& sites, int i) {
    for (const GuideSite& s : sites)
        if (i >= s.start - kWindowMargin &&
            i < s.start + static_cast<int>(s.guide.size()) + kWindowMargin)
            return true;
    return false;
}

// Every non-called channel's excess at the well-read bases outside the
// windows, sorted.
std::vector<double> noiseOf(const BaseCalls& reads, const BaseCalls& sample,
                            const BaseCalls* control, const std::vector<int>& map,
                            const std::vector<GuideSite>& sites) {
    std::vector<double> noise;
    const int end = std::min(reads.trimEnd, static_cast<int>(map.size()));
    for (int i = std::max(0, reads.trimStart); i < end; ++i) {
        const int j = map[static_cast<size_t>(i)];
        const int called = kw::detail::channelOf(reads.bases[static_cast<size_t>(i)].base);
        if (j < 0 || j >= static_cast<int>(sample.bases.size()) || called < 0 || inWindow(sites, i))
            continue;
        const Shares s = sharesOf(sample.bases[static_cast<size_t>(j)]);
        for (int c = 0; c < 4; ++c)
            if (c != called) noise.push_back(excess(s, control, i, c));
    }
    std::sort(noise.begin(), noise.end());
    return noise;
}

}  // namespace

std::vector<BaseEditPosition> analyseBaseEdit(const BaseCalls& sample,
                                              const std::vector<GuideSite>& sites,
                                              const BaseCalls* control) {
    const BaseCalls& reads = control ? *control : sample;
    const std::vector<int> map = sampleBaseOf(sample, control);
    const std::vector<double> noise = noiseOf(reads, sample, control, map, sites);
    std::vector<BaseEditPosition> out;
    const int n = static_cast<int>(reads.bases.size());
    for (const GuideSite& site : sites) {
        const int length = static_cast<int>(site.guide.size());
        for (int g = 1; g <= length; ++g) {
            const int i = site.reverse ? site.start + length - g : site.start + g - 1;
            if (i < 0 || i >= n) continue;
            BaseEditPosition p;
            p.guide = site.guide;
            p.guidePosition = g;
            p.position = i;
            const char read = reads.bases[static_cast<size_t>(i)].base;
            p.reference = site.reverse ? reverseComplement(std::string(1, read))[0] : read;
            const int j = map[static_cast<size_t>(i)];
            p.aligned = j >= 0 && j < static_cast<int>(sample.bases.size());
            if (p.aligned) {
                const Shares s = sharesOf(sample.bases[static_cast<size_t>(j)]);
                for (int k = 0; k < 4; ++k) {
                    const char letter = kLetters[k];
                    // The letter on the read's strand, and its channel.
                    const char onRead =
                        site.reverse ? reverseComplement(std::string(1, letter))[0] : letter;
                    const int c = kw::detail::channelOf(onRead);
                    p.fraction[static_cast<size_t>(k)] = s[static_cast<size_t>(c)];
                    if (letter != p.reference)
                        p.pValue[static_cast<size_t>(k)] =
                            kw::detail::tailProbability(noise, excess(s, control, i, c));
                }
            }
            out.push_back(p);
        }
    }
    return out;
}

}  // namespace kw

namespace kw::detail {

nlohmann::ordered_json baseEditJson(const std::vector<kw::BaseEditPosition>& table) {
    nlohmann::ordered_json rows = nlohmann::json::array();
    // Shares to 4 decimals, p-values to 3 significant digits.
    auto letters = [](const std::array<double, 4>& v, const char* format) {
        nlohmann::ordered_json o;
        char buf[32];
        for (int k = 0; k < 4; ++k) {
            std::snprintf(buf, sizeof buf, format, v[static_cast<size_t>(k)]);
            o[std::string(1, "ACGT"[k])] = std::strtod(buf, nullptr);
        }
        return o;
    };
    for (const kw::BaseEditPosition& p : table)
        rows.push_back(nlohmann::ordered_json{{"guide", p.guide},
                                              {"guide_position", p.guidePosition},
                                              {"position", p.position},
                                              {"reference", std::string(1, p.reference)},
                                              {"aligned", p.aligned},
                                              {"fraction", letters(p.fraction, "%.4f")},
                                              {"p_value", letters(p.pValue, "%.3g")}});
    return rows;
}

std::string baseEditTsv(const std::vector<kw::BaseEditPosition>& table) {
    std::string out =
        "guide\tguide_position\tposition\treference\tA\tC\tG\tT\tp_A\tp_C\tp_G\tp_T\n";
    char buf[160];
    for (const kw::BaseEditPosition& p : table) {
        std::snprintf(
            buf, sizeof buf, "\t%d\t%d\t%c\t%.4f\t%.4f\t%.4f\t%.4f\t%.3g\t%.3g\t%.3g\t%.3g\n",
            p.guidePosition, p.position, p.reference, p.fraction[0], p.fraction[1], p.fraction[2],
            p.fraction[3], p.pValue[0], p.pValue[1], p.pValue[2], p.pValue[3]);
        out += p.guide + buf;
    }
    return out;
}

}  // namespace kw::detail
