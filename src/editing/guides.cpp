// Guides: their letters, and where each cuts the control's read.
#include <algorithm>
#include <cctype>

#include "editing/editing.h"

namespace kw {

namespace {

// The bases an IUPAC code stands for, as a mask over A C G T.
int iupacMask(char c) {
    switch (c) {
        case 'A':
            return 1;
        case 'C':
            return 2;
        case 'G':
            return 4;
        case 'T':
            return 8;
        case 'R':
            return 1 | 4;
        case 'Y':
            return 2 | 8;
        case 'S':
            return 2 | 4;
        case 'W':
            return 1 | 8;
        case 'K':
            return 4 | 8;
        case 'M':
            return 1 | 2;
        case 'B':
            return 2 | 4 | 8;
        case 'D':
            return 1 | 4 | 8;
        case 'H':
            return 1 | 2 | 8;
        case 'V':
            return 1 | 2 | 4;
        case 'N':
            return 15;
        default:
            return 0;
    }
}

// True when read[at, at+pam.size()) fits the PAM's codes (a called N fits
// nothing: the PAM is then not seen).
bool pamAt(const std::string& read, long at, const std::string& pam) {
    if (at < 0 || at + static_cast<long>(pam.size()) > static_cast<long>(read.size())) return false;
    for (size_t i = 0; i < pam.size(); ++i)
        if ((iupacMask(read[static_cast<size_t>(at) + i]) & ~iupacMask(pam[i])) != 0 ||
            iupacMask(read[static_cast<size_t>(at) + i]) == 15)
            return false;
    return true;
}

int mismatchesAt(const std::string& read, size_t at, const std::string& motif, int limit) {
    int n = 0;
    for (size_t i = 0; i < motif.size() && n <= limit; ++i)
        if (read[at + i] != motif[i]) ++n;
    return n;
}

// The cut of a match at `start` (forward-strand read index of the
// protospacer's first base), and where its PAM lies.
void placeCut(GuideSite& s, int length, const std::string& read, const EditOptions& o) {
    const int pamLength = static_cast<int>(o.pam.size());
    const bool pam3 = o.cutOffset < 0;  // PAM 3' of the protospacer on the guide's strand
    if (!s.reverse) {
        s.cut = pam3 ? s.start + length + o.cutOffset : s.start + o.cutOffset;
        const long pamStart = pam3 ? s.start + length : s.start - pamLength;
        s.pamFound = pamAt(read, pamStart, o.pam);
    } else {
        // The guide's strand runs right to left over the read: its 3' end
        // is the match's first base.
        s.cut = pam3 ? s.start - o.cutOffset : s.start + length - o.cutOffset;
        const long pamStart = pam3 ? s.start - pamLength : s.start + length;
        s.pamFound = pamAt(read, pamStart, reverseComplement(o.pam));
    }
}

}  // namespace

std::string normaliseSequence(const std::string& text, int minLength, std::string& problem) {
    std::string dna;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (u == 'U') u = 'T';
        if (u != 'A' && u != 'C' && u != 'G' && u != 'T') {
            problem = "'" + text.substr(0, 60) + "' is not a DNA or RNA sequence (letter '" +
                      std::string(1, c) + "')";
            return "";
        }
        dna += u;
    }
    if (static_cast<int>(dna.size()) < minLength) {
        problem = "'" + text.substr(0, 60) + "' has " + std::to_string(dna.size()) +
                  " bases, fewer than " + std::to_string(minLength);
        return "";
    }
    return dna;
}

std::string reverseComplement(const std::string& dna) {
    std::string out(dna.rbegin(), dna.rend());
    for (char& c : out) {
        switch (c) {
            case 'A':
                c = 'T';
                break;
            case 'T':
                c = 'A';
                break;
            case 'C':
                c = 'G';
                break;
            case 'G':
                c = 'C';
                break;
            case 'R':
                c = 'Y';
                break;
            case 'Y':
                c = 'R';
                break;
            case 'K':
                c = 'M';
                break;
            case 'M':
                c = 'K';
                break;
            case 'B':
                c = 'V';
                break;
            case 'V':
                c = 'B';
                break;
            case 'D':
                c = 'H';
                break;
            case 'H':
                c = 'D';
                break;
            default:
                break;  // N, S, W are their own complements
        }
    }
    return out;
}

std::vector<GuideSite> findCutSites(const std::string& read, const EditOptions& options,
                                    std::string& problem) {
    constexpr int kMaxMismatches = 2;
    std::vector<GuideSite> sites;
    for (const std::string& given : options.guides) {
        std::string why;
        const std::string guide = normaliseSequence(given, 15, why);
        if (guide.empty()) {
            problem = "guide " + why;
            return {};
        }
        bool found = false;
        GuideSite best;
        auto better = [&](const GuideSite& s) {
            if (!found) return true;
            if (s.pamFound != best.pamFound) return s.pamFound;
            return s.mismatches < best.mismatches;
        };
        for (int strand = 0; strand < 2; ++strand) {
            const std::string motif = strand ? reverseComplement(guide) : guide;
            if (motif.size() > read.size()) continue;
            for (size_t at = 0; at + motif.size() <= read.size(); ++at) {
                const int mm = mismatchesAt(read, at, motif, kMaxMismatches);
                if (mm > kMaxMismatches) continue;
                GuideSite s;
                s.guide = guide;
                s.reverse = strand == 1;
                s.start = static_cast<int>(at);
                s.mismatches = mm;
                placeCut(s, static_cast<int>(guide.size()), read, options);
                if (better(s)) best = s, found = true;
            }
        }
        if (!found) {
            problem = "guide " + guide + " is not in the control's read on either strand";
            return {};
        }
        sites.push_back(best);
    }
    std::sort(sites.begin(), sites.end(),
              [](const GuideSite& a, const GuideSite& b) { return a.cut < b.cut; });
    return sites;
}

}  // namespace kw
