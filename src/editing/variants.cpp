// One trace against a reference: the read's alignment, its substitutions
// and indels, heterozygous bases and a heterozygous indel's two alleles.
#include "kwsignal/variants.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "common/quantile.h"
#include "editing/editing.h"
#include "editing/noise.h"
#include "kwsignal/process.h"
#include "kwsignal/run.h"

namespace kw {

namespace {

constexpr int kFlank = 10;          // bases of each allele shown around a heterozygous indel
constexpr int kAnchorBases = 20;    // well-read bases a double ladder needs before it
constexpr int kLadderBefore = 25;   // read bases before the onset in the ladder's alignment
constexpr int kLadderLength = 150;  // and after it
constexpr int kStartSearch = 20;    // bases either side of the onset an indel may start
constexpr int kSizesRefined = 3;    // indel sizes whose start is searched
constexpr int kMinGain = 20;        // score two alleles must gain over the reference alone
// A second dye's share of the called dye's height that makes a base one of
// a double ladder, and an inserted base's letter another than the
// reference's.
constexpr double kSecondBase = 0.2;
// A second dye's share that writes a base as two letters when the alleles
// are matched (any second dye may be the other allele's: a weak one costs
// little where the alleles agree and gains where they differ). The caller's
// second dye is read before sharpening, where every base carries some of
// its neighbours: a share the clean stretch before the ladder reaches at
// kCodeQuantile of its bases is that read's floor instead, when higher.
constexpr double kCodeRatio = 0.05;
constexpr double kCodeQuantile = 0.9;
constexpr double kMinIdentity = 0.8;  // of the well-read bases' alignment
constexpr int kContext = 5;           // bases either side whose QVs vouch for a second peak
constexpr int kIndelContext = 2;      // and for a gap
constexpr const char* kCodes = "ACGTMRWSYK";

// Bit masks of A, C, G, T and their two-letter codes.
int codeMask(char c) {
    static constexpr int masks[] = {1, 2, 4, 8, 3, 5, 9, 6, 10, 12};
    for (int i = 0; kCodes[i]; ++i)
        if (kCodes[i] == c) return masks[i];
    return 0;
}

bool isBase(char c) {
    return c == 'A' || c == 'C' || c == 'G' || c == 'T';
}

char pairCode(char a, char b) {
    if (!isBase(a) || !isBase(b)) return 'N';
    const int m = codeMask(a) | codeMask(b);
    for (int i = 0; kCodes[i]; ++i)
        if (codeMask(kCodes[i]) == m) return kCodes[i];
    return 'N';
}

char complement(char c) {
    return reverseComplement(std::string(1, c))[0];
}

VariantResult refuse(VariantResult r, const char* status, const std::string& message) {
    r.status = status;
    r.message = message;
    r.variants.clear();
    return r;
}

std::string checkOptions(const VariantOptions& o) {
    if (!(o.hetRatio >= 0.05 && o.hetRatio <= 1.0)) return "the heterozygous ratio must be 0.05..1";
    if (o.minQv < 0 || o.minQv > 99) return "the least QV must be 0..99";
    if (o.maxShift < 1 || o.maxShift > 60) return "the largest indel must be 1..60";
    if (o.minReadBases < 10 || o.minReadBases > 1000)
        return "the fewest read bases must be 10..1000";
    return "";
}

// The reference as the read runs, and the way back to its forward strand.
struct Frame {
    std::string ref;
    bool reverse = false;
    int length() const { return static_cast<int>(ref.size()); }
    // Forward index of the first base of the oriented span [p, p+n).
    int forward(int p, int n) const { return reverse ? length() - p - n : p; }
    std::string forwardText(const std::string& s) const {
        return reverse ? reverseComplement(s) : s;
    }
};

// The read's letter at base i, as one or two letters.
char codeOf(const BaseCall& b, double codeRatio) {
    if (isBase(b.secondary) && b.secondaryRatio >= codeRatio) return pairCode(b.base, b.secondary);
    return b.base;
}

// Left-aligns a deletion [p, p+k) or an insertion of ins before p on the
// forward reference.
void leftAlign(const std::string& ref, Variant& v) {
    if (v.size < 0) {
        const int k = -v.size;
        while (v.position > 0 && ref[static_cast<size_t>(v.position - 1)] ==
                                     ref[static_cast<size_t>(v.position + k - 1)])
            --v.position;
        v.ref = ref.substr(static_cast<size_t>(v.position), static_cast<size_t>(k));
    } else if (v.size > 0) {
        std::string& ins = v.alt;
        while (v.position > 0 && ref[static_cast<size_t>(v.position - 1)] == ins.back()) {
            ins = ins.back() + ins.substr(0, ins.size() - 1);
            --v.position;
        }
    }
}

// The two alleles around an indel, forward strand.
void alleleTexts(const std::string& ref, Variant& v) {
    const int p = v.position, k = v.size < 0 ? -v.size : 0;
    const int from = std::max(0, p - kFlank);
    const int to = std::min(static_cast<int>(ref.size()), p + k + kFlank);
    std::string ins = v.size > 0 ? v.alt : "";
    for (char& c : ins) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    v.referenceAllele = ref.substr(static_cast<size_t>(from), static_cast<size_t>(to - from));
    v.variantAllele = ref.substr(static_cast<size_t>(from), static_cast<size_t>(p - from)) + ins +
                      ref.substr(static_cast<size_t>(p + k), static_cast<size_t>(to - p - k));
}

// The alignment of the read's bases [from, to) to the oriented reference.
struct Span {
    std::vector<std::pair<int, int>> pairs;
    int matches = 0, columns = 0;
    double identity() const { return columns > 0 ? static_cast<double>(matches) / columns : 0.0; }
};

Span spanOf(const ReadAlignment& a, const std::string& read, const std::string& ref, int from,
            int to) {
    Span s;
    for (const auto& p : a.pairs) {
        if (p.first < from || p.first >= to) continue;
        if (!s.pairs.empty())
            s.columns +=
                std::max(p.first - s.pairs.back().first, p.second - s.pairs.back().second) - 1;
        ++s.columns;
        if (read[static_cast<size_t>(p.first)] == ref[static_cast<size_t>(p.second)]) ++s.matches;
        s.pairs.push_back(p);
    }
    return s;
}

void alignedText(const Span& s, const std::string& read, const Frame& f, VariantResult& r) {
    for (size_t i = 0; i < s.pairs.size(); ++i) {
        if (i > 0) {
            const auto& q = s.pairs[i - 1];
            const int da = s.pairs[i].first - q.first - 1, db = s.pairs[i].second - q.second - 1;
            for (int g = 0; g < std::max(da, db); ++g) {
                r.alignedRead += g < da ? read[static_cast<size_t>(q.first + 1 + g)] : '-';
                r.alignedReference += g < db ? f.ref[static_cast<size_t>(q.second + 1 + g)] : '-';
            }
        }
        r.alignedRead += read[static_cast<size_t>(s.pairs[i].first)];
        r.alignedReference += f.ref[static_cast<size_t>(s.pairs[i].second)];
    }
}

// Mean QV of the bases within kContext of base i, itself left out: how
// well the read reads around a second peak (whose own QV is low by nature).
int contextQv(const BaseCalls& calls, int i) {
    double sum = 0.0;
    int n = 0;
    for (int j = std::max(0, i - kContext);
         j <= std::min(static_cast<int>(calls.bases.size()) - 1, i + kContext); ++j)
        if (j != i) sum += calls.bases[static_cast<size_t>(j)].qv, ++n;
    return n ? static_cast<int>(sum / n) : 0;
}

// Least QV of bases [from, to], clipped to the read.
int leastQv(const BaseCalls& calls, int from, int to) {
    int q = 99;
    for (int j = std::max(0, from); j <= std::min(static_cast<int>(calls.bases.size()) - 1, to);
         ++j)
        q = std::min(q, calls.bases[static_cast<size_t>(j)].qv);
    return q;
}

// A base whose read letter or second dye differs from the reference; a
// second dye's QV is the lesser of its rarity in the trace's noise and
// the read's quality around it.
bool baseVariant(const BaseCall& b, char g, const std::vector<double>& noise,
                 const VariantOptions& o, int context, Variant& v) {
    const bool second =
        isBase(b.secondary) && b.secondary != b.base && b.secondaryRatio >= o.hetRatio;
    const double r = b.secondaryRatio;
    v.ref = std::string(1, g);
    // The chance that noise makes some base of the read this strong, not
    // just this one: every base of the read was a chance to.
    const double p = kw::detail::tailProbability(noise, r) * static_cast<double>(noise.size());
    v.qv = second ? std::min(context, kw::detail::phred(std::min(1.0, p))) : b.qv;
    if (b.base == g) {
        if (!second) return false;
        v.kind = "het_snv", v.genotype = "0/1", v.alt = std::string(1, b.secondary);
        v.fraction = r / (1.0 + r);
    } else if (second && b.secondary == g) {
        v.kind = "het_snv", v.genotype = "0/1", v.alt = std::string(1, b.base);
        v.fraction = 1.0 / (1.0 + r);
    } else if (second) {
        v.kind = "het_snv", v.genotype = "1/2";
        v.alt = std::string(1, b.base) + "," + std::string(1, b.secondary);
        v.fraction = 1.0 / (1.0 + r);
    } else {
        v.kind = "snv", v.genotype = "1/1", v.alt = std::string(1, b.base);
    }
    return true;
}

// The variant found at oriented reference base orientedPos, on the forward
// strand (an insertion's position is the base it precedes either way).
Variant toForward(Variant v, int orientedPos, const Frame& f) {
    const int n = v.size < 0 ? -v.size : (v.size == 0 ? 1 : 0);
    v.position = f.forward(orientedPos, n);
    if (f.reverse) {
        v.ref = f.forwardText(v.ref);
        std::string alt;
        for (char c : v.alt) alt += c == ',' ? c : complement(c);
        v.alt = v.size > 0 ? reverseComplement(v.alt) : alt;
    }
    return v;
}

// Substitutions, heterozygous bases and gaps of the well-read bases.
void callBaseVariants(const BaseCalls& calls, const std::string& read, const Span& s,
                      const Frame& f, const std::string& fwd, const VariantOptions& o,
                      VariantResult& r) {
    std::vector<double> noise;
    for (const auto& p : s.pairs)
        noise.push_back(calls.bases[static_cast<size_t>(p.first)].secondaryRatio);
    std::sort(noise.begin(), noise.end());
    for (size_t i = 0; i < s.pairs.size(); ++i) {
        const auto [a, b] = s.pairs[i];
        Variant v;
        v.readBase = a;
        if (i > 0) {
            const auto& q = s.pairs[i - 1];
            const int da = a - q.first - 1, db = b - q.second - 1;
            if ((da > 0) != (db > 0)) {
                v.size = da > 0 ? da : -db;
                v.kind = da > 0 ? "insertion" : "deletion";
                v.genotype = "1/1";
                // A call error in a run of one letter looks the same: the
                // bases on either side must read well too.
                v.qv = leastQv(calls, q.first - kIndelContext, a + kIndelContext);
                v.alt = da > 0
                            ? read.substr(static_cast<size_t>(q.first + 1), static_cast<size_t>(da))
                            : "";
                v.ref = db > 0 ? f.ref.substr(static_cast<size_t>(q.second + 1),
                                              static_cast<size_t>(db))
                               : "";
                Variant w = toForward(v, da > 0 ? b : q.second + 1, f);
                leftAlign(fwd, w);
                r.variants.push_back(w);
            } else if (da > 0) {
                r.warnings.push_back("Read bases " + std::to_string(q.first + 1) + ".." +
                                     std::to_string(a - 1) +
                                     " align to no reference base one for one; left uncalled.");
            }
        }
        const char g = f.ref[static_cast<size_t>(b)];
        if (!isBase(g) || !isBase(read[static_cast<size_t>(a)])) continue;
        v = Variant();
        v.readBase = a;
        if (baseVariant(calls.bases[static_cast<size_t>(a)], g, noise, o, contextQv(calls, a), v))
            r.variants.push_back(toForward(v, b, f));
    }
}

// A candidate second allele: the oriented reference with `shift` bases
// deleted (> 0) or inserted (< 0) at `start`, an insertion taken to repeat
// the bases before it (the commonest insertion, and one whose letters are
// known); the letters under each base of [from, to) as codes.
std::string ladderCodes(const std::string& ref, int from, int to, int shift, int start) {
    std::string out;
    const int n = static_cast<int>(ref.size());
    for (int p = from; p < to; ++p) {
        const int q = p >= start ? p + shift : p;
        out += q >= 0 && q < n ? pairCode(ref[static_cast<size_t>(p)], ref[static_cast<size_t>(q)])
                               : 'N';
    }
    return out;
}

struct Ladder {
    int shift = 0, start = 0, score = 0;
};

// The read's codes around a double ladder and the reference stretch they
// are aligned to.
struct LadderWindow {
    int readFrom = 0;
    std::string codes;
    int from = 0, to = 0;  // oriented reference bases
    int score(const std::string& ref, int shift, int start) const {
        return kw::detail::alignLetters(codes, ladderCodes(ref, from, to, shift, start), kCodes)
            .score;
    }
};

// The indel size and start whose pair of alleles the read's codes match
// best (shift 0 when none beats the reference alone); baseline gets the
// reference's own score. Sizes are tried at the onset, the best few at
// every start near it; of equal starts the leftmost wins.
Ladder bestLadder(const LadderWindow& w, const std::string& ref, int r0, int maxShift,
                  int& baseline) {
    baseline = w.score(ref, 0, w.to);
    std::vector<Ladder> sizes;
    for (int k = -maxShift; k <= maxShift; ++k)
        if (k != 0) sizes.push_back({k, r0, w.score(ref, k, r0)});
    std::stable_sort(sizes.begin(), sizes.end(),
                     [](const Ladder& a, const Ladder& b) { return a.score > b.score; });
    Ladder best;
    best.score = baseline;
    const int refined = std::min(kSizesRefined, static_cast<int>(sizes.size()));
    for (int i = 0; i < refined; ++i) {
        const int k = sizes[static_cast<size_t>(i)].shift;
        for (int s = std::max(w.from + 1, r0 - kStartSearch);
             s <= std::min(w.to - 1, r0 + kStartSearch); ++s) {
            const int v = w.score(ref, k, s);
            if (v > best.score) best = {k, s, v};
        }
    }
    return best;
}

// For each oriented reference base of the window, the read base aligned to
// it (or reached from the last aligned one), -1 before the first.
std::vector<int> readBasesOf(const ReadAlignment& al, const LadderWindow& w) {
    std::vector<int> out(static_cast<size_t>(w.to - w.from), -1);
    size_t k = 0;
    int last = -1, lastP = 0;
    for (int p = 0; p < w.to - w.from; ++p) {
        while (k < al.pairs.size() && al.pairs[k].second <= p)
            last = al.pairs[k].first, lastP = al.pairs[k].second, ++k;
        if (last >= 0) out[static_cast<size_t>(p)] = w.readFrom + last + (p - lastP);
    }
    return out;
}

// The strongest dye at base b other than the one of `a` (a itself when
// no other reaches kSecondBase of it).
char otherLetter(const BaseCall& b, char a) {
    const int ca = kw::detail::channelOf(a);
    int best = -1;
    for (int c = 0; c < 4; ++c)
        if (c != ca &&
            (best < 0 || b.heights[static_cast<size_t>(c)] > b.heights[static_cast<size_t>(best)]))
            best = c;
    if (ca >= 0 &&
        !(b.heights[static_cast<size_t>(best)] >= kSecondBase * b.heights[static_cast<size_t>(ca)]))
        return a;
    return "CAGT"[best];
}

// The second allele's share of the heights at the bases where the two
// alleles differ (median), and an insertion's letters as the read shows
// them.
void alleleEvidence(const BaseCalls& calls, const std::vector<int>& readOf, const LadderWindow& w,
                    const std::string& ref, const Ladder& best, double& share,
                    std::string& inserted) {
    const int n = best.shift < 0 ? -best.shift : 0;
    inserted.assign(static_cast<size_t>(n), 'N');
    std::vector<double> shares;
    for (int p = std::max(best.start, w.from); p < w.to; ++p) {
        const int j = readOf[static_cast<size_t>(p - w.from)];
        if (j < 0 || j >= static_cast<int>(calls.bases.size())) continue;
        const BaseCall& b = calls.bases[static_cast<size_t>(j)];
        const char a = ref[static_cast<size_t>(p)];
        if (p < best.start + n) {
            if (isBase(a)) inserted[static_cast<size_t>(p - best.start)] = otherLetter(b, a);
            continue;
        }
        const int q = p + best.shift;
        if (q < 0 || q >= static_cast<int>(ref.size())) continue;
        const char c = ref[static_cast<size_t>(q)];
        if (c == a || !isBase(a) || !isBase(c)) continue;
        const double ha = b.heights[static_cast<size_t>(kw::detail::channelOf(a))];
        const double hb = b.heights[static_cast<size_t>(kw::detail::channelOf(c))];
        if (ha + hb > 0.0) shares.push_back(hb / (ha + hb));
    }
    if (shares.empty()) return;
    std::nth_element(shares.begin(), shares.begin() + static_cast<long>(shares.size() / 2),
                     shares.end());
    share = shares[shares.size() / 2];
}

// The second-dye share below which a base is read as one letter: the
// clean well-read stretch before the ladder at base m sets it.
double codeFloor(const BaseCalls& calls, int m) {
    std::vector<double> shares;
    for (int i = std::max(0, calls.trimStart); i < m; ++i)
        shares.push_back(calls.bases[static_cast<size_t>(i)].secondaryRatio);
    return std::max(kCodeRatio, kw::detail::quantile(std::move(shares), kCodeQuantile));
}

// The heterozygous indel that best explains the double ladder from read
// base m, whose reference base (oriented) is r0.
void ladderIndel(const BaseCalls& calls, int m, int r0, const Frame& f, const std::string& fwd,
                 const VariantOptions& o, VariantResult& r) {
    LadderWindow w;
    w.readFrom = std::max(0, m - kLadderBefore);
    const int readTo = std::min(static_cast<int>(calls.bases.size()), m + kLadderLength);
    const double codeRatio = codeFloor(calls, m);
    for (int i = w.readFrom; i < readTo; ++i)
        w.codes += codeOf(calls.bases[static_cast<size_t>(i)], codeRatio);
    w.from = std::max(0, r0 - kLadderBefore - kStartSearch);
    w.to = std::min(f.length(), r0 + kLadderLength + kStartSearch);
    if (w.to - w.from < kLadderBefore || w.codes.empty()) return;
    int baseline = 0;
    const Ladder best = bestLadder(w, f.ref, r0, o.maxShift, baseline);
    if (best.shift == 0 || best.score - baseline < kMinGain ||
        best.start + std::max(best.shift, 0) > f.length()) {
        r.warnings.push_back("A second sequence stands under the read from base " +
                             std::to_string(m) + " that no indel of up to " +
                             std::to_string(o.maxShift) +
                             " bases explains; variants after it are not called.");
        return;
    }
    const ReadAlignment al = kw::detail::alignLetters(
        w.codes, ladderCodes(f.ref, w.from, w.to, best.shift, best.start), kCodes);
    Variant v;
    v.kind = best.shift > 0 ? "het_deletion" : "het_insertion";
    v.genotype = "0/1";
    v.size = -best.shift;
    v.qv = std::min(99, best.score - baseline);
    v.readBase = m;
    std::string inserted;
    alleleEvidence(calls, readBasesOf(al, w), w, f.ref, best, v.fraction, inserted);
    if (best.shift > 0)
        v.ref = f.ref.substr(static_cast<size_t>(best.start), static_cast<size_t>(best.shift));
    else
        v.alt = inserted;
    Variant fw = toForward(v, best.start, f);
    leftAlign(fwd, fw);
    alleleTexts(fwd, fw);
    r.variants.push_back(fw);
}

// Oriented reference base of read base m, from the last aligned base at or
// before it.
int referenceBaseOf(const Span& s, int m) {
    int out = -1;
    for (const auto& p : s.pairs)
        if (p.first <= m) out = p.second + (m - p.first);
    return out;
}

}  // namespace

VariantResult analyseVariants(const BaseCalls& calls, const Reference& reference,
                              const VariantOptions& options) {
    VariantResult r;
    r.read = calls.sequence();
    r.referenceName = reference.name;
    r.referenceLength = static_cast<int>(reference.sequence.size());
    r.reference = reference.sequence;
    r.minQv = options.minQv;
    if (const std::string why = checkOptions(options); !why.empty())
        return refuse(r, "bad_input", why);
    if (reference.sequence.empty()) return refuse(r, "bad_input", "the reference holds no bases");
    if (calls.trimStart < 0 || calls.trimStart > calls.trimEnd ||
        calls.trimEnd > static_cast<int>(calls.bases.size()))
        return refuse(r, "bad_input", "the calls' trimmed bases lie outside their read");
    const int kept = calls.trimEnd - calls.trimStart;
    if (kept < options.minReadBases)
        return refuse(r, "weak_read",
                      "the read has " + std::to_string(kept) + " well-read bases, fewer than the " +
                          std::to_string(options.minReadBases) + " needed" +
                          (calls.note.empty() ? "" : " (" + calls.note + ")"));
    const std::string trimmed =
        r.read.substr(static_cast<size_t>(calls.trimStart), static_cast<size_t>(kept));
    Frame frames[2];
    frames[0].ref = reference.sequence;
    frames[1].ref = reverseComplement(reference.sequence);
    frames[1].reverse = true;
    ReadAlignment al[2];
    for (int i = 0; i < 2; ++i) {
        al[i] = alignReads(trimmed, frames[i].ref);
        for (auto& p : al[i].pairs) p.first += calls.trimStart;
    }
    const int strand = al[1].score > al[0].score ? 1 : 0;
    const Frame& f = frames[strand];
    r.reverse = f.reverse;
    r.mixedFrom = calls.mixture.found ? calls.mixture.onsetBase : -1;
    if (r.mixedFrom < calls.trimStart || r.mixedFrom >= calls.trimEnd) r.mixedFrom = -1;
    const bool ladder = r.mixedFrom >= 0 && r.mixedFrom - calls.trimStart >= kAnchorBases;
    const int cleanEnd = ladder ? std::min(r.mixedFrom, calls.trimEnd) : calls.trimEnd;
    const Span span = spanOf(al[strand], r.read, f.ref, calls.trimStart, cleanEnd);
    char figures[160];
    std::snprintf(figures, sizeof figures,
                  "%d of %d aligned columns identical (%.1f %%) on the %s strand", span.matches,
                  span.columns, 100.0 * span.identity(), f.reverse ? "reverse" : "forward");
    if (span.pairs.empty() || span.matches < options.minReadBases / 2 ||
        span.identity() < kMinIdentity)
        return refuse(r, "no_alignment",
                      std::string("the read does not match the reference: ") + figures);
    r.readStart = calls.trimStart;
    r.readEnd = cleanEnd;
    r.identity = span.identity();
    const int b0 = span.pairs.front().second, n = span.pairs.back().second - b0 + 1;
    r.referenceStart = f.forward(b0, n);
    r.referenceEnd = r.referenceStart + n;
    alignedText(span, r.read, f, r);
    callBaseVariants(calls, r.read, span, f, reference.sequence, options, r);
    if (ladder)
        ladderIndel(calls, r.mixedFrom, referenceBaseOf(span, r.mixedFrom), f, reference.sequence,
                    options, r);
    else if (r.mixedFrom >= 0)
        r.warnings.push_back("A second sequence starts at read base " +
                             std::to_string(r.mixedFrom) +
                             ", too close to the read's start to place an indel.");
    std::stable_sort(r.variants.begin(), r.variants.end(),
                     [](const Variant& a, const Variant& b) { return a.position < b.position; });
    int pass = 0;
    for (const Variant& v : r.variants) pass += v.qv >= options.minQv;
    r.message = std::to_string(r.variants.size()) + " variant(s), " + std::to_string(pass) +
                " at QV " + std::to_string(options.minQv) + " or more; " + figures + ".";
    return r;
}

VariantResult variantsFile(const std::string& tracePath, const std::string& fastaPath,
                           const VariantOptions& options) {
    VariantResult r;
    r.traceName = tracePath;
    r.status = "unreadable";
    Reference ref;
    if (const std::string why = readFasta(fastaPath, ref); !why.empty()) {
        r.message = why;
        return r;
    }
    Run run;
    if (const ReadError e = readRun(tracePath, run)) {
        r.message = e.message;
        return r;
    }
    ProcessResult p;
    if (const ProcessError e = process(run, ProcessOptions(), p)) {
        r.message = tracePath + ": " + e.reason;
        return r;
    }
    if (!p.called) {
        r.status = "weak_read";
        r.message = tracePath + ": no bases called (" +
                    (p.calls.note.empty() ? p.note : p.calls.note) + ")";
        return r;
    }
    r = analyseVariants(p.calls, ref, options);
    r.traceName = tracePath;
    return r;
}

}  // namespace kw
