// The per-base table (calls.tsv): every figure the caller has on a base, for
// inspection and plotting.
#include <cstdio>

#include "kwsignal/basecall.h"

namespace kw {

std::string callsTable(const BaseCalls& calls) {
    std::string out =
        "index\tbase\tqv\tposition\tcorrected_position\tsecondary\tsecondary_ratio\tC\tA\tG\tT\n";
    char line[256];
    for (size_t i = 0; i < calls.bases.size(); ++i) {
        const BaseCall& b = calls.bases[i];
        std::snprintf(line, sizeof line,
                      "%zu\t%c\t%d\t%.2f\t%.2f\t%c\t%.3f\t%.1f\t%.1f\t%.1f\t%.1f\n", i, b.base,
                      b.qv, b.position, b.correctedPosition, b.secondary, b.secondaryRatio,
                      b.heights[0], b.heights[1], b.heights[2], b.heights[3]);
        out += line;
    }
    return out;
}

}  // namespace kw
