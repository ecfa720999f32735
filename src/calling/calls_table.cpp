// The per-base table (calls.tsv): every figure the caller has on a base, for
// inspection and plotting.
#include "common/number_text.h"
#include "kwsignal/basecall.h"

namespace kw {

std::string callsTable(const BaseCalls& calls) {
    std::string out =
        "index\tbase\tqv\tposition\tcorrected_position\tsecondary\tsecondary_ratio\tC\tA\tG\tT\n";
    out.reserve(out.size() + calls.bases.size() * 56);
    for (size_t i = 0; i < calls.bases.size(); ++i) {
        const BaseCall& b = calls.bases[i];
        kw::detail::appendInt(out, i);
        out += '\t';
        out += b.base;
        out += '\t';
        kw::detail::appendInt(out, b.qv);
        out += '\t';
        kw::detail::appendFixed(out, b.position, 2);
        out += '\t';
        kw::detail::appendFixed(out, b.correctedPosition, 2);
        out += '\t';
        out += b.secondary;
        out += '\t';
        kw::detail::appendFixed(out, b.secondaryRatio, 3);
        for (double h : b.heights) {
            out += '\t';
            kw::detail::appendFixed(out, h, 1);
        }
        out += '\n';
    }
    return out;
}

}  // namespace kw
