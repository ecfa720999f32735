// Panels: markers with their allele bins, shifted to this plate's mobility
// by an allelic ladder, and the peaks of each marker named by bin.
#include <algorithm>
#include <cmath>
#include <sstream>

#include "fragments/fragments_internal.h"

namespace kw {
namespace {

// A peak that is part of the run's chemistry or optics, not an allele.
constexpr unsigned kNotAllele = kFlagPullup | kFlagSpike | kFlagPrimer;
// A stutter product is one repeat shorter and at most this share of the
// allele's height.
constexpr double kStutterShare = 0.25;
// Peaks below this share of the marker's tallest peak are not called.
constexpr double kMinAlleleShare = 0.1;

PanelMarker* markerNamed(Panel& panel, const std::string& name) {
    for (PanelMarker& m : panel.markers)
        if (m.name == name) return &m;
    return nullptr;
}

bool dyeMatches(const PanelMarker& m, const FragmentResult& r, int dye) {
    if (dye < 0 || dye >= static_cast<int>(r.dyeNames.size())) return false;
    return m.dye == r.dyeNames[dye] || m.dye == std::to_string(dye);
}

bool inMarker(const PanelMarker& m, const FragmentResult& r, const FragmentPeak& p) {
    return dyeMatches(m, r, p.dye) && std::isfinite(p.sizeBp) && p.sizeBp >= m.minBp + m.offsetBp &&
           p.sizeBp <= m.maxBp + m.offsetBp && p.isStandard == StandardRole::none &&
           (p.flags & kNotAllele) == 0;
}

std::string binOf(const PanelMarker& m, double sizeBp) {
    for (const PanelBin& b : m.bins)
        if (std::fabs(sizeBp - (b.sizeBp + m.offsetBp)) <= b.halfWidth) return b.allele;
    return "OL";
}

}  // namespace

bool parsePanel(const std::string& text, Panel& panel, std::string& error) {
    panel.markers.clear();
    std::istringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        std::string kind;
        if (!(words >> kind)) continue;
        const std::string where = "line " + std::to_string(number) + ": ";
        if (kind == "marker") {
            PanelMarker m;
            if (!(words >> m.name >> m.dye >> m.minBp >> m.maxBp) || !(m.minBp < m.maxBp) ||
                !std::isfinite(m.minBp) || !std::isfinite(m.maxBp)) {
                error = where + "expected: marker NAME DYE MIN_BP MAX_BP [REPEAT_BP]";
                return false;
            }
            if (!(words >> m.repeatBp)) m.repeatBp = 0.0;
            if (markerNamed(panel, m.name) != nullptr) {
                error = where + "marker " + m.name + " given twice";
                return false;
            }
            panel.markers.push_back(m);
        } else if (kind == "bin") {
            std::string name;
            PanelBin b;
            if (!(words >> name >> b.allele >> b.sizeBp)) {
                error = where + "expected: bin MARKER ALLELE SIZE_BP [HALF_WIDTH_BP]";
                return false;
            }
            if (!(words >> b.halfWidth)) b.halfWidth = 0.5;
            PanelMarker* m = markerNamed(panel, name);
            if (m == nullptr) {
                error = where + "bin of unknown marker " + name;
                return false;
            }
            if (!(b.halfWidth > 0.0) || !(b.sizeBp >= m->minBp && b.sizeBp <= m->maxBp)) {
                error =
                    where + "bin " + b.allele + " lies outside marker " + name + " or has no width";
                return false;
            }
            m->bins.push_back(b);
        } else {
            error = where + "unknown record \"" + kind + "\" (marker or bin)";
            return false;
        }
    }
    return true;
}

int calibratePanel(Panel& panel, const FragmentResult& ladder) {
    if (ladder.status != SizingStatus::sized) return 0;
    int shifted = 0;
    for (PanelMarker& m : panel.markers) {
        m.offsetBp = 0.0;
        std::vector<double> sizes;
        for (const FragmentPeak& p : ladder.peaks)
            if (inMarker(m, ladder, p)) sizes.push_back(p.sizeBp);
        // Each bin's nearest ladder peak, as long as it lies within the
        // marker's bin spacing (a ladder lacks no allele of its own panel).
        std::vector<double> offsets;
        for (const PanelBin& b : m.bins) {
            double best = 1e9;
            for (double s : sizes)
                if (std::fabs(s - b.sizeBp) < std::fabs(best)) best = s - b.sizeBp;
            if (std::fabs(best) <= 2.0) offsets.push_back(best);
        }
        if (offsets.size() * 2 < m.bins.size() || offsets.empty()) continue;
        m.offsetBp = detail::median(offsets);
        ++shifted;
    }
    return shifted;
}

void callAlleles(FragmentResult& result, const Panel& panel) {
    result.genotypes.clear();
    for (FragmentPeak& p : result.peaks) {
        p.locus.clear();
        p.allele.clear();
        p.flags &= ~kFlagStutter;
    }
    for (const PanelMarker& m : panel.markers) {
        std::vector<FragmentPeak*> peaks;
        double tallest = 0.0;
        for (FragmentPeak& p : result.peaks)
            if (inMarker(m, result, p)) {
                peaks.push_back(&p);
                tallest = std::max(tallest, p.height);
            }
        for (FragmentPeak* p : peaks) {
            p->locus = m.name;
            p->allele = binOf(m, p->sizeBp);
            if (m.repeatBp <= 0.0) continue;
            for (const FragmentPeak* q : peaks)
                if (std::fabs(q->sizeBp - m.repeatBp - p->sizeBp) <= 0.5 &&
                    p->height <= kStutterShare * q->height)
                    p->flags |= kFlagStutter;
        }
        std::sort(peaks.begin(), peaks.end(), [](const FragmentPeak* a, const FragmentPeak* b) {
            return a->height > b->height;
        });
        Genotype g;
        g.marker = m.name;
        unsigned flags = 0;
        for (const FragmentPeak* p : peaks) {
            if ((p->flags & kFlagStutter) != 0 || p->height < kMinAlleleShare * tallest) continue;
            g.alleles.push_back(p->allele);
            g.heights.push_back(p->height);
            flags |= p->flags;
        }
        g.flags = fragmentFlagNames(flags);
        auto add = [&](const char* f) { g.flags += (g.flags.empty() ? "" : ",") + std::string(f); };
        if (std::find(g.alleles.begin(), g.alleles.end(), "OL") != g.alleles.end())
            add("off_ladder");
        if (g.alleles.size() > 2) add("over_two");
        result.genotypes.push_back(g);
    }
}

}  // namespace kw
