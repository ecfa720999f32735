// The per-base table (calls.tsv): every figure the caller has on a base, for
// inspection and plotting.
#include "common/number_text.h"
#include "kwsignal/basecall.h"

namespace kw {

std::string callsTable(const BaseCalls& calls) {
    std::string out =
        "index\tbase\tqv\tposition\tcorrected_position\tsecondary\tsecondary_ratio\tC\tA\tG\tT\n";
    out.reserve(out.size() + calls.bases.size() * 56);
    kw::detail::TextBlock text(out);
    for (size_t i = 0; i < calls.bases.size(); ++i) {
        const BaseCall& b = calls.bases[i];
        text.integer(i).put('\t').put(b.base).put('\t').integer(b.qv).put('\t');
        text.fixed(b.position, 2).put('\t').fixed(b.correctedPosition, 2).put('\t');
        text.put(b.secondary).put('\t').fixed(b.secondaryRatio, 3);
        for (double h : b.heights) text.put('\t').fixed(h, 1);
        text.put('\n');
    }
    text.flush();
    return out;
}

}  // namespace kw
