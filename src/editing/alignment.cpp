// Aligning two reads with parasail.
//
// parasail is opened on the first alignment rather than linked: loading it
// resolves some 24,000 of its own symbols (about 15 M instructions with its
// start-up), a cost every process paid while only the edit and variant
// analyses align.
#include <parasail.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "common/opened_library.h"
#include "editing/editing.h"

using kw::ReadAlignment;

namespace {

// The parasail entry points the alignment uses, looked up once.
struct Parasail {
    decltype(&parasail_matrix_create) matrixCreate = nullptr;
    decltype(&parasail_matrix_free) matrixFree = nullptr;
    decltype(&parasail_sg_trace_scan_32) align = nullptr;
    decltype(&parasail_result_get_score) score = nullptr;
    decltype(&parasail_result_get_cigar) cigar = nullptr;
    decltype(&parasail_result_free) resultFree = nullptr;
    decltype(&parasail_cigar_free) cigarFree = nullptr;
    decltype(&parasail_cigar_decode_op) decodeOp = nullptr;
    decltype(&parasail_cigar_decode_len) decodeLen = nullptr;
    std::string error;  // why it could not be opened; empty when it was
};

Parasail openParasail() {
    Parasail p;
    kw::detail::OpenedLibrary lib(KW_PARASAIL_SONAME);
    lib.lookUp("parasail_matrix_create", p.matrixCreate);
    lib.lookUp("parasail_matrix_free", p.matrixFree);
    lib.lookUp("parasail_sg_trace_scan_32", p.align);
    lib.lookUp("parasail_result_get_score", p.score);
    lib.lookUp("parasail_result_get_cigar", p.cigar);
    lib.lookUp("parasail_result_free", p.resultFree);
    lib.lookUp("parasail_cigar_free", p.cigarFree);
    lib.lookUp("parasail_cigar_decode_op", p.decodeOp);
    lib.lookUp("parasail_cigar_decode_len", p.decodeLen);
    p.error = lib.failure();
    return p;
}

// Opened by the first caller (thread-safe), read-only afterwards.
const Parasail& parasail() {
    static const Parasail p = openParasail();
    if (!p.error.empty()) throw std::runtime_error("cannot align reads: " + p.error);
    return p;
}

struct MatrixFree {
    void operator()(parasail_matrix_t* m) const { parasail().matrixFree(m); }
};
struct ResultFree {
    void operator()(parasail_result_t* r) const { parasail().resultFree(r); }
};
struct CigarFree {
    void operator()(parasail_cigar_t* c) const { parasail().cigarFree(c); }
};

// Columns of a CIGAR into index pairs; a and b advance on their own letters.
void walkCigar(const parasail_cigar_t& cigar, const std::string& a, const std::string& b,
               ReadAlignment& out) {
    const Parasail& lib = parasail();
    int i = cigar.beg_query, j = cigar.beg_ref;
    for (int k = 0; k < cigar.len; ++k) {
        const char op = lib.decodeOp(cigar.seq[k]);
        const int n = static_cast<int>(lib.decodeLen(cigar.seq[k]));
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
    const Parasail& lib = parasail();
    std::unique_ptr<parasail_matrix_t, MatrixFree> matrix(lib.matrixCreate(alphabet, 2, -3));
    if (!matrix) return out;
    const int la = static_cast<int>(a.size()), lb = static_cast<int>(b.size());
    std::unique_ptr<parasail_result_t, ResultFree> result(
        lib.align(a.c_str(), la, b.c_str(), lb, 5, 2, matrix.get()));
    if (!result) return out;
    out.score = lib.score(result.get());
    std::unique_ptr<parasail_cigar_t, CigarFree> cigar(
        lib.cigar(result.get(), a.c_str(), la, b.c_str(), lb, matrix.get()));
    if (cigar) walkCigar(*cigar, a, b, out);
    return out;
}
