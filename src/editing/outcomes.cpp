// Candidate alleles and the heights each is expected to give.
#include <algorithm>
#include <cctype>

#include "editing/editing.h"

namespace kw::detail {

int channelOf(char base) {
    return kw::traceCodeOfBase(base);
}

int sourceOf(const Candidate& c, int j, int readLength, char& letter) {
    letter = 0;
    const int inserted = static_cast<int>(c.inserted.size());
    int src = j;
    if (j >= c.start && j < c.start + inserted) {
        const NewBase& b = c.inserted[static_cast<size_t>(j - c.start)];
        letter = b.letter;
        src = b.shape;
    } else if (j >= c.start + inserted) {
        src = j - inserted + c.deleted;
    }
    return src >= 0 && src < readLength ? src : -1;
}

bool expectedHeights(const Candidate& c, int j, const std::string& read,
                     const std::vector<Heights>& control, Heights& out) {
    char letter = 0;
    const int src = sourceOf(c, j, static_cast<int>(read.size()), letter);
    if (src < 0) return false;
    out = control[static_cast<size_t>(src)];
    const int from = channelOf(read[static_cast<size_t>(src)]);
    const int to = channelOf(letter);
    if (letter != 0 && to >= 0 && from >= 0 && from != to) {
        // A new letter on a copied base: the called dye's height moves to the
        // new letter's dye, the other dyes' background stays.
        out[static_cast<size_t>(to)] += out[static_cast<size_t>(from)];
        out[static_cast<size_t>(from)] = 0.0;
    }
    return true;
}

namespace {

// An insertion of n bases at the cut repeats the n bases before it (the
// templated duplication end joining leaves behind).
Candidate insertion(int cut, int n) {
    Candidate c;
    c.kind = "insertion";
    c.size = n;
    c.start = cut;
    for (int k = 0; k < n; ++k) c.inserted.push_back({cut - n + k, 0});
    return c;
}

Candidate deletion(const char* kind, int start, int n) {
    Candidate c;
    c.kind = kind;
    c.size = -n;
    c.start = start;
    c.deleted = n;
    return c;
}

// The donor's allele: the control's bases its best local alignment covers
// replaced by the donor's, on whichever strand aligns better.
bool donorCandidate(const std::string& read, const std::string& donor, Candidate& out) {
    const std::string strands[2] = {donor, kw::reverseComplement(donor)};
    kw::ReadAlignment best;
    int which = -1;
    for (int s = 0; s < 2; ++s) {
        kw::ReadAlignment a = kw::alignReads(read, strands[s]);
        if (which < 0 || a.score > best.score) best = std::move(a), which = s;
    }
    if (which < 0 || best.pairs.size() < 20 ||
        best.matches < static_cast<int>(0.8 * static_cast<double>(best.pairs.size())))
        return false;
    const std::string& d = strands[which];
    // Semi-global alignments leave the donor's arms hanging past the read:
    // only the stretch between its first and last aligned bases counts.
    const auto first = best.pairs.front(), last = best.pairs.back();
    out.kind = "hdr";
    out.start = first.first;
    out.deleted = last.first - first.first + 1;
    size_t p = 0;
    for (int j = first.second; j <= last.second; ++j) {
        while (p + 1 < best.pairs.size() && best.pairs[p].second < j) ++p;
        const int shape = best.pairs[p].second == j
                              ? best.pairs[p].first
                              : std::max(first.first, best.pairs[p].first - 1);
        const char letter = d[static_cast<size_t>(j)];
        out.inserted.push_back(
            {shape, letter == read[static_cast<size_t>(shape)] && best.pairs[p].second == j
                        ? static_cast<char>(0)
                        : letter});
    }
    out.size = static_cast<int>(out.inserted.size()) - out.deleted;
    const bool differs = out.size != 0 || std::any_of(out.inserted.begin(), out.inserted.end(),
                                                      [](const NewBase& b) { return b.letter; });
    return differs;
}

}  // namespace

std::vector<Candidate> candidates(const std::string& read, const std::vector<kw::GuideSite>& sites,
                                  const std::string& donor, const kw::EditOptions& options,
                                  std::vector<std::string>& warnings) {
    std::vector<Candidate> out;
    Candidate wild;
    wild.kind = "wildtype";
    wild.start = sites.empty() ? 0 : sites.front().cut;
    out.push_back(wild);
    const int length = static_cast<int>(read.size());
    for (const kw::GuideSite& s : sites) {
        for (int n = 1; n <= options.maxDeletion; ++n)
            if (s.cut + n <= length) out.push_back(deletion("deletion", s.cut, n));
        for (int n = 1; n <= options.maxInsertion; ++n)
            if (s.cut - n >= 0) out.push_back(insertion(s.cut, n));
    }
    for (size_t a = 0; a < sites.size(); ++a)
        for (size_t b = a + 1; b < sites.size(); ++b) {
            const int n = sites[b].cut - sites[a].cut;
            if (n > options.maxDeletion)
                out.push_back(deletion("two_cut_deletion", sites[a].cut, n));
        }
    if (!donor.empty()) {
        Candidate hdr;
        if (donorCandidate(read, donor, hdr))
            out.push_back(hdr);
        else
            warnings.push_back(
                "The donor does not align to the control's read or matches it exactly; no HDR "
                "outcome was fitted.");
    }
    return out;
}

std::string alleleText(const std::string& read, const Candidate& c) {
    constexpr int kFlank = 10;
    const int length = static_cast<int>(read.size());
    std::string out;
    for (int i = std::max(0, c.start - kFlank); i < c.start && i < length; ++i)
        out += read[static_cast<size_t>(i)];
    for (const NewBase& b : c.inserted)
        out += static_cast<char>(std::tolower(
            static_cast<unsigned char>(b.letter ? b.letter : read[static_cast<size_t>(b.shape)])));
    const int resume = c.start + c.deleted;
    for (int i = resume; i < resume + kFlank && i < length; ++i)
        out += read[static_cast<size_t>(i)];
    return out;
}

}  // namespace kw::detail
