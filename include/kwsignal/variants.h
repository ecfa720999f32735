// Variants of one trace against a reference sequence: substitutions,
// small indels, heterozygous bases and a heterozygous indel split into its
// two alleles. Clone and plasmid verification is the same call with the
// plasmid as the reference.
//
//     kw::VariantResult r = kw::variantsFile("read.ab1", "amplicon.fa");
//     if (r.status != "ok") std::fprintf(stderr, "%s\n", r.message.c_str());
//     for (const kw::Variant& v : r.variants)
//         std::printf("%d %s>%s %s\n", v.position + 1, v.ref.c_str(), v.alt.c_str(),
//                     v.genotype.c_str());
//     kw::writeVariantsReport("out", r);   // variants.vcf, variants.tsv, variants.json
//
// How it works:
//  1. the trace goes through the library's road; its called bases are
//     aligned (parasail, semi-global) to the reference and to its reverse
//     complement, and the better-scoring strand is kept;
//  2. over the read's well-read bases, every aligned base that differs from
//     the reference is a substitution, every gap an insertion or deletion;
//     a base whose strongest other dye reaches VariantOptions::hetRatio of
//     the called dye is heterozygous, with a QV from how rarely the same
//     trace shows so strong a second dye elsewhere;
//  3. where the read turns into a double ladder (a second sequence under
//     every base from some point on), the two alleles are the reference and
//     the reference with k bases deleted (k > 0) or inserted (k < 0) at a
//     start s: each (k, s) predicts which one or two letters stand under
//     each base, and the pair the read's primary and secondary dyes match
//     best (an alignment over two-letter codes) gives the indel's size,
//     start and both sequences. Positions are left-aligned on the
//     reference's forward strand, as VCF wants them.
//
// A result is "ok" or a refusal with a message and no variants:
// "unreadable" (the trace or the FASTA could not be read), "bad_input"
// (options out of range, an empty reference, calls whose trimmed bases lie
// outside the read), "weak_read" (too few well-read bases) or
// "no_alignment" (the read matches the reference on neither strand).
//
// Everything is a value: no global state, safe on many threads at once.
#ifndef KWSIGNAL_VARIANTS_H
#define KWSIGNAL_VARIANTS_H

#include <string>
#include <vector>

#include "kwsignal/basecall.h"
#include "kwsignal/export.h"

namespace kw {

/// Version of the variants.json layout.
constexpr int kVariantsSchema = 1;

struct VariantOptions {
    /// A base is heterozygous when its strongest other dye reaches this
    /// share of the called dye's height; 0.05..1.
    double hetRatio = 0.25;
    /// Variants below this QV are kept with the VCF filter "LowQual"; 0..99.
    int minQv = 20;
    /// Largest heterozygous indel tried, bases either way; 1..60.
    int maxShift = 30;
    /// Fewest well-read bases the read needs; 10..1000.
    int minReadBases = 40;
};

/// One reference sequence, upper-case IUPAC letters.
struct Reference {
    std::string name;
    std::string sequence;
};

/// Reads the first record of a FASTA file into out. Returns "" or the
/// reason, naming the file.
[[nodiscard]] KW_API std::string readFasta(const std::string& path, Reference& out);

struct Variant {
    /// "snv", "insertion", "deletion" (both alleles, or the only one the
    /// read shows), "het_snv", "het_insertion", "het_deletion".
    std::string kind;
    std::string genotype;  ///< "1/1", "0/1", or "1/2" (two non-reference bases)
    /// Reference index (0-based, forward strand) of the first changed base;
    /// for an insertion, the base it precedes. Left-aligned.
    int position = 0;
    /// The reference's and the variant's bases there (forward strand; empty
    /// for an insertion's ref and a deletion's alt). A "1/2" base carries
    /// both alternatives, comma-separated.
    std::string ref, alt;
    int size = 0;      ///< bases gained (> 0) or lost (< 0); 0 for a substitution
    int qv = 0;        ///< Phred quality of the call, 0..99
    int readBase = 0;  ///< read base index where the variant shows
    /// Share of the variant's allele in the trace's heights, 0..1 (1 for
    /// a variant the read alone carries).
    double fraction = 1.0;
    /// Heterozygous indels: the two alleles from 10 bases before the
    /// indel to 10 after it, forward strand, inserted bases in lower case.
    std::string referenceAllele, variantAllele;
};

struct VariantResult {
    std::string status = "ok";  ///< "ok" or the refusal's word (see the top of this file)
    std::string message;
    std::vector<std::string> warnings;
    std::string traceName;  ///< the trace's file, when read from one
    std::string referenceName;
    int referenceLength = 0;
    std::string reference;  ///< its bases, forward strand
    int minQv = 20;         ///< VariantOptions::minQv, which sets each variant's filter
    bool reverse = false;   ///< the read matches the reference's reverse strand
    /// The read's well-read bases [readStart, readEnd) and the forward
    /// reference span [referenceStart, referenceEnd) they align to.
    int readStart = 0, readEnd = 0;
    int referenceStart = 0, referenceEnd = 0;
    double identity = 0.0;  ///< identical aligned bases over aligned columns there
    /// Read base from which a second sequence stands under the read, -1
    /// when none; variants are called one base at a time only before it.
    int mixedFrom = -1;
    /// The alignment over the well-read bases as two equal-length lines
    /// ('-' for a gap), reference on the read's strand.
    std::string alignedReference, alignedRead;
    std::vector<Variant> variants;  ///< by position
    std::string read;               ///< the called bases
};

/// The analysis of calls already made against ref.
KW_API VariantResult analyseVariants(const BaseCalls& calls, const Reference& ref,
                                     const VariantOptions& options = VariantOptions());

/// Reads and processes the trace with the default road and the FASTA's
/// first record, then analyseVariants.
KW_API VariantResult variantsFile(const std::string& tracePath, const std::string& fastaPath,
                                  const VariantOptions& options = VariantOptions());

/// Writes the variants as VCF 4.2 through htslib, atomically: one sample
/// named after the trace, QUAL the variant's QV, FILTER PASS or LowQual,
/// INFO KIND, SIZE, AF (the variant allele's share) and READPOS. Returns ""
/// or the reason.
[[nodiscard]] KW_API std::string writeVariantsVcf(const std::string& path,
                                                  const VariantResult& result);

/// variants.tsv: a header and one row per variant.
KW_API std::string variantsTsv(const VariantResult& result);

/// variants.json: status, message, warnings, the alignment and the
/// variants (pretty-printed, ends in a newline).
KW_API std::string variantsJson(const VariantResult& result);

/// Writes variants.vcf (through htslib), variants.tsv and variants.json
/// into dir (created when missing), each atomically. Returns "" or the
/// reason.
[[nodiscard]] KW_API std::string writeVariantsReport(const std::string& dir,
                                                     const VariantResult& result);

}  // namespace kw

#endif
