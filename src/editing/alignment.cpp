// Aligning two reads with parasail.
#include <parasail.h>

#include <memory>

#include "editing/editing.h"

using kw::ReadAlignment;

namespace {

struct MatrixFree {
    void operator()(parasail_matrix_t* m) const { parasail_matrix_free(m); }
};
struct ResultFree {
    void operator()(parasail_result_t* r) const { parasail_result_free(r); }
};
struct CigarFree {
    void operator()(parasail_cigar_t* c) const { parasail_cigar_free(c); }
};

// Columns of a CIGAR into index pairs; a and b advance on their own letters.
void walkCigar(const parasail_cigar_t& cigar, const std::string& a, const std::string& b,
               ReadAlignment& out) {
    int i = cigar.beg_query, j = cigar.beg_ref;
    for (int k = 0; k < cigar.len; ++k) {
        const char op = parasail_cigar_decode_op(cigar.seq[k]);
        const int n = static_cast<int>(parasail_cigar_decode_len(cigar.seq[k]));
        for (int r = 0; r < n; ++r) {
            ++out.columns;
            if (op == 'I') {
                ++i;
            } else if (op == 'D') {
                ++j;
            } else {
                if (i < static_cast<int>(a.size()) && j < static_cast<int>(b.size())) {
                    out.pairs.emplace_back(i, j);
                    if (a[static_cast<size_t>(i)] == b[static_cast<size_t>(j)] &&
                        a[static_cast<size_t>(i)] != 'N')
                        ++out.matches;
                }
                ++i, ++j;
            }
        }
    }
}

}  // namespace

namespace kw {

ReadAlignment alignReads(const std::string& a, const std::string& b) {
    // Only A, C, G and T score a match; every other letter mismatches all.
    return kw::detail::alignLetters(a, b, "ACGT");
}

}  // namespace kw

ReadAlignment kw::detail::alignLetters(const std::string& a, const std::string& b,
                                       const char* alphabet) {
    ReadAlignment out;
    if (a.empty() || b.empty()) return out;
    std::unique_ptr<parasail_matrix_t, MatrixFree> matrix(parasail_matrix_create(alphabet, 2, -3));
    if (!matrix) return out;
    const int la = static_cast<int>(a.size()), lb = static_cast<int>(b.size());
    std::unique_ptr<parasail_result_t, ResultFree> result(
        parasail_sg_trace_scan_32(a.c_str(), la, b.c_str(), lb, 5, 2, matrix.get()));
    if (!result) return out;
    out.score = parasail_result_get_score(result.get());
    std::unique_ptr<parasail_cigar_t, CigarFree> cigar(
        parasail_result_get_cigar(result.get(), a.c_str(), la, b.c_str(), lb, matrix.get()));
    if (cigar) walkCigar(*cigar, a, b, out);
    return out;
}
