// Measures the fragment road against the sized-peak table an instrument's
// software stored in its files (not installed).
//
//     fragments_stored [--list [--list [--list]]] FILE.fsa...
//
// For every stored sample peak inside the stored standard's range it finds
// the road's peak of the same dye within 1.5 scans (the nearest) and counts
// it as agreeing when their sizes differ by at most 0.25 bp. It counts the
// stored peaks twice: all of them, and only those that stand clear in the
// raw data, a top of the road's baselined trace (within a scan of the
// stored scan) at least kClearNoise noise deviations tall that falls by
// kTopNoise deviations towards both neighbours (the others are one- to
// three-scan noise blips or inflections on a neighbour's flank, which no
// peak picker lists without listing noise). --list prints every clear
// stored peak the road does not list, with what the trace shows there;
// twice, the faint ones too; three times, the baselined samples around each.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fragments/fragments_internal.h"
#include "kwsignal/abif.h"
#include "kwsignal/fragments.h"

namespace {

constexpr double kClearNoise = 6.0;
constexpr double kTopNoise = 2.0;
constexpr double kMatchScans = 1.5;
constexpr double kAgreeBp = 0.25;
constexpr int kReach = 12;

struct Counts {
    int all = 0, allAgree = 0, clear = 0, clearAgree = 0;
};

// Lowest sample walking down from the top at c (until a higher sample or
// kReach scans), on one side (step -1 or +1).
double lowestDownhill(const std::vector<double>& x, int c, int step) {
    double low = x[c];
    for (int i = c + step, k = 0; i >= 0 && i < static_cast<int>(x.size()) && k < kReach;
         i += step, ++k) {
        if (x[i] > x[c]) break;
        low = std::min(low, x[i]);
    }
    return low;
}

// The road's peak of `dye` nearest `scan` within kMatchScans; null if none.
const kw::FragmentPeak* nearestPeak(const kw::FragmentResult& r, int dye, double scan) {
    const kw::FragmentPeak* best = nullptr;
    for (const kw::FragmentPeak& p : r.peaks)
        if (p.dye == dye && std::isfinite(p.sizeBp) && std::fabs(p.scan - scan) <= kMatchScans &&
            (!best || std::fabs(p.scan - scan) < std::fabs(best->scan - scan)))
            best = &p;
    return best;
}

// Distance in scans to the road's nearest peak of `dye`, sized or not.
const kw::FragmentPeak* anyNearest(const kw::FragmentResult& r, int dye, double scan) {
    const kw::FragmentPeak* best = nullptr;
    for (const kw::FragmentPeak& p : r.peaks)
        if (p.dye == dye && (!best || std::fabs(p.scan - scan) < std::fabs(best->scan - scan)))
            best = &p;
    return best;
}

bool measure(const std::string& path, int list, Counts& total) {
    const kw::AbifRun abif = kw::readAbif(path);
    if (!abif.error.empty()) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), abif.error.c_str());
        return false;
    }
    double lo = 1e9, hi = -1e9;
    std::vector<int> standardDyes;
    for (const kw::AbifStoredPeak& s : abif.storedPeaks)
        if (s.standardBp > 0.0) {
            lo = std::min(lo, s.standardBp);
            hi = std::max(hi, s.standardBp);
            standardDyes.push_back(s.dye);
        }
    const char* name =
        std::strrchr(path.c_str(), '/') ? std::strrchr(path.c_str(), '/') + 1 : path.c_str();
    if (standardDyes.empty()) return true;
    const kw::FragmentRun run = kw::fragmentRunOf(abif);
    const kw::FragmentResult r = kw::analyseFragments(run, kw::FragmentOptions());
    std::vector<double> noise;
    const std::vector<std::vector<double>> x = kw::detail::baselinedDyes(run, noise);
    Counts c;
    for (const kw::AbifStoredPeak& s : abif.storedPeaks) {
        const int dye = s.dye - 1;
        if (s.sizeBp < lo || s.sizeBp > hi || dye < 0 || dye >= static_cast<int>(x.size()) ||
            std::find(standardDyes.begin(), standardDyes.end(), s.dye) != standardDyes.end())
            continue;
        const std::vector<double>& y = x[static_cast<std::size_t>(dye)];
        const int at = static_cast<int>(std::lround(s.scan));
        if (at < 2 || at + 2 >= static_cast<int>(y.size())) continue;
        int top = at;
        for (int i = at - 1; i <= at + 1; ++i)
            if (y[i] > y[top]) top = i;
        const double sd = noise[static_cast<std::size_t>(dye)];
        const double dropLeft = (y[top] - lowestDownhill(y, top, -1)) / sd;
        const double dropRight = (y[top] - lowestDownhill(y, top, +1)) / sd;
        const bool isTop = y[top] >= y[top - 1] && y[top] >= y[top + 1];
        const bool clear =
            isTop && y[top] >= kClearNoise * sd && std::min(dropLeft, dropRight) >= kTopNoise;
        const kw::FragmentPeak* p = nearestPeak(r, dye, s.scan);
        const bool agree = p && std::fabs(p->sizeBp - s.sizeBp) <= kAgreeBp;
        ++c.all;
        c.allAgree += agree;
        c.clear += clear;
        c.clearAgree += clear && agree;
        if (list > 0 && !agree && (clear || list > 1)) {
            const kw::FragmentPeak* q = anyNearest(r, dye, s.scan);
            std::printf(
                "  %s dye %d scan %.0f %.2f bp: top %s at %d, %.0f counts = %.1f sd (sd %.1f), "
                "falls %.1f / %.1f sd; nearest listed %s",
                clear ? "clear" : "faint", dye, s.scan, s.sizeBp, isTop ? "yes" : "no", top, y[top],
                y[top] / sd, sd, dropLeft, dropRight, q ? "" : "none");
            if (q)
                std::printf("%.1f (%+.1f scans, %.2f bp, %s)", q->scan, q->scan - s.scan, q->sizeBp,
                            kw::fragmentFlagNames(q->flags).c_str());
            std::printf("\n");
            if (list > 2)
                for (int i = std::max(0, top - 14); i <= std::min<int>(y.size() - 1, top + 14); ++i)
                    std::printf("      %d %.0f%s\n", i, y[i], i == top ? " <" : "");
        }
    }
    std::printf("%s stored=%d agree=%d (%.1f%%) clear=%d agree=%d (%.1f%%)\n", name, c.all,
                c.allAgree, 100.0 * c.allAgree / std::max(1, c.all), c.clear, c.clearAgree,
                100.0 * c.clearAgree / std::max(1, c.clear));
    total.all += c.all;
    total.allAgree += c.allAgree;
    total.clear += c.clear;
    total.clearAgree += c.clearAgree;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int list = 0;
    Counts total;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--list") == 0)
            ++list;
        else
            ok = measure(argv[i], list, total) && ok;
    }
    return ok ? 0 : 2;
}
