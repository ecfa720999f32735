// One trace against a reference: a read against its own instrument's calls,
// a substitution put into the reference, a heterozygous indel mixed into
// the raw trace, the VCF read back through htslib, the refusals, and the
// base-editing table.
#include <gtest/gtest.h>
#include <htslib/vcf.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "kwsignal/edit.h"
#include "kwsignal/process.h"
#include "kwsignal/run.h"
#include "kwsignal/variants.h"
#include "mixed_trace.h"

namespace {

const std::string kData = KWSIGNAL_SHARED_DATA;
const std::string kTrace = kData + "/abif/3730.ab1";

struct Processed {
    kw::Run run;
    kw::ProcessResult result;
};

bool processRun(kw::Run& run, kw::ProcessResult& out) {
    return !kw::process(run, kw::ProcessOptions(), out) && out.called;
}

std::vector<kw::Variant> passing(const kw::VariantResult& r) {
    std::vector<kw::Variant> out;
    for (const kw::Variant& v : r.variants)
        if (v.qv >= r.minQv) out.push_back(v);
    return out;
}

// The passing variants against the instrument's own calls where the
// instrument was sure of them: QV 30 or more on the reference base and the
// two either side. Where it wavered itself (3730.ab1 calls one C of a TTCTTC
// at QV 20 near its base 1019, and ours reads TTCCTTC there at QV 20), our
// read may differ from it honestly. `reversed`: the reference given is the
// reverse complement of the instrument's calls.
std::vector<kw::Variant> confidentPassing(const kw::VariantResult& r, const std::vector<int>& qv,
                                          bool reversed) {
    std::vector<kw::Variant> out;
    for (const kw::Variant& v : passing(r)) {
        const int n = static_cast<int>(qv.size());
        const int at = reversed ? n - 1 - v.position : v.position;
        bool sure = at >= 0 && at < n;
        for (int k = std::max(0, at - 2); sure && k <= std::min(n - 1, at + 2); ++k)
            sure = qv[k] >= 30;
        if (sure) out.push_back(v);
    }
    return out;
}

TEST(Variants, ReadAgainstItsOwnCallsAndAnIntroducedSubstitution) {
    if (!std::filesystem::exists(kTrace)) GTEST_SKIP() << "no shared trace " << kTrace;
    Processed p;
    ASSERT_FALSE(kw::readRun(kTrace, p.run));
    ASSERT_TRUE(processRun(p.run, p.result));
    kw::Reference ref{"own calls", p.run.calls()};
    ASSERT_GT(ref.sequence.size(), 800u);

    kw::VariantResult r = kw::analyseVariants(p.result.calls, ref);
    ASSERT_EQ(r.status, "ok") << r.message;
    EXPECT_FALSE(r.reverse);
    EXPECT_GT(r.identity, 0.98);
    const std::vector<int>& qv = p.run.abif.qualities;
    ASSERT_EQ(qv.size(), ref.sequence.size());
    EXPECT_TRUE(confidentPassing(r, qv, false).empty()) << kw::variantsTsv(r);
    EXPECT_LE(passing(r).size(), 1u) << kw::variantsTsv(r);
    EXPECT_EQ(r.alignedRead.size(), r.alignedReference.size());

    // One base changed, on either strand of the reference: one substitution
    // at that base, reported on the forward strand.
    const size_t at = 400;
    const char was = ref.sequence[at];
    ref.sequence[at] = was == 'A' ? 'C' : 'A';
    for (int strand = 0; strand < 2; ++strand) {
        kw::Reference given = ref;
        if (strand) given.sequence = kw::reverseComplement(ref.sequence);
        r = kw::analyseVariants(p.result.calls, given);
        ASSERT_EQ(r.status, "ok") << r.message;
        EXPECT_EQ(r.reverse, strand == 1);
        const std::vector<kw::Variant> found = confidentPassing(r, qv, strand == 1);
        ASSERT_EQ(found.size(), 1u) << kw::variantsTsv(r);
        const kw::Variant& v = found[0];
        EXPECT_EQ(v.kind, "snv");
        EXPECT_EQ(v.genotype, "1/1");
        const int expected = strand ? static_cast<int>(ref.sequence.size() - 1 - at) : int(at);
        EXPECT_EQ(v.position, expected);
        EXPECT_EQ(v.ref, std::string(1, given.sequence[static_cast<size_t>(expected)]));
        EXPECT_EQ(v.alt, strand ? kw::reverseComplement(std::string(1, was)) : std::string(1, was));
    }
}

TEST(Variants, HeterozygousIndelMixedIntoTheRawTrace) {
    if (!std::filesystem::exists(kTrace)) GTEST_SKIP() << "no shared trace " << kTrace;
    Processed clean;
    ASSERT_FALSE(kw::readRun(kTrace, clean.run));
    ASSERT_TRUE(processRun(clean.run, clean.result));
    const kw::Reference ref{"own calls", clean.run.calls()};
    for (int shift : {7, -5}) {
        Processed mixed;
        ASSERT_FALSE(kw::readRun(kTrace, mixed.run));
        kwtest::mixShifted(mixed.run, clean.result.calls, 250, shift, 0.8);
        ASSERT_TRUE(processRun(mixed.run, mixed.result));
        const kw::VariantResult r = kw::analyseVariants(mixed.result.calls, ref);
        ASSERT_EQ(r.status, "ok") << r.message;
        // The same indel, at the same forward position, against the
        // reference's other strand.
        const kw::VariantResult back =
            kw::analyseVariants(mixed.result.calls, {"back", kw::reverseComplement(ref.sequence)});
        ASSERT_TRUE(back.reverse);
        std::vector<kw::Variant> backIndels;
        for (const kw::Variant& v : back.variants)
            if (v.kind.rfind("het_", 0) == 0 && v.size != 0) backIndels.push_back(v);
        std::vector<kw::Variant> indels;
        for (const kw::Variant& v : r.variants)
            if (v.kind.rfind("het_", 0) == 0 && v.size != 0) indels.push_back(v);
        ASSERT_EQ(indels.size(), 1u) << kw::variantsTsv(r);
        const kw::Variant& v = indels[0];
        EXPECT_EQ(v.size, -shift) << kw::variantsTsv(r);
        ASSERT_EQ(backIndels.size(), 1u) << kw::variantsTsv(back);
        EXPECT_EQ(backIndels[0].size, v.size);
        // Left-aligned on each strand, the two may stand apart in a repeat:
        // the alleles they make must be the same.
        auto apply = [](const std::string& seq, const kw::Variant& x) {
            const size_t p = static_cast<size_t>(x.position);
            return seq.substr(0, p) + x.alt + seq.substr(p + x.ref.size());
        };
        EXPECT_EQ(kw::reverseComplement(apply(kw::reverseComplement(ref.sequence), backIndels[0])),
                  apply(ref.sequence, v))
            << kw::variantsTsv(back);
        EXPECT_EQ(v.genotype, "0/1");
        EXPECT_NEAR(v.position, 250 + (r.referenceStart - r.readStart), 12);
        EXPECT_GT(v.fraction, 0.25);
        EXPECT_LT(v.fraction, 0.65);
        EXPECT_EQ(v.referenceAllele.size() + static_cast<size_t>(v.size), v.variantAllele.size());

        // Written and read back through htslib: the indel's record, its
        // genotype and its left-padded alleles.
        char dir[] = "/tmp/kwvariantsXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        ASSERT_EQ(kw::writeVariantsReport(dir, r), "");
        htsFile* f = bcf_open((std::string(dir) + "/variants.vcf").c_str(), "r");
        ASSERT_NE(f, nullptr);
        bcf_hdr_t* h = bcf_hdr_read(f);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(bcf_hdr_nsamples(h), 1);
        bcf1_t* rec = bcf_init();
        int records = 0, indelRecords = 0;
        while (bcf_read(f, h, rec) == 0) {
            ++records;
            bcf_unpack(rec, BCF_UN_ALL);
            const int lengthChange = static_cast<int>(strlen(rec->d.allele[1])) -
                                     static_cast<int>(strlen(rec->d.allele[0]));
            if (lengthChange == v.size) {
                ++indelRecords;
                EXPECT_EQ(rec->pos, v.position - 1);
                int32_t* gt = nullptr;
                int n = 0;
                ASSERT_EQ(bcf_get_genotypes(h, rec, &gt, &n), 2);
                EXPECT_EQ(bcf_gt_allele(gt[0]), 0);
                EXPECT_EQ(bcf_gt_allele(gt[1]), 1);
                free(gt);
            }
        }
        EXPECT_EQ(records, static_cast<int>(r.variants.size()));
        EXPECT_EQ(indelRecords, 1);
        bcf_destroy(rec);
        bcf_hdr_destroy(h);
        bcf_close(f);
        std::filesystem::remove_all(dir);
    }
}

TEST(Variants, FamilyWithAHeterozygousTwelveBaseIndel) {
    const std::string dir = kData + "/abif/train/otog-ctck-inframe-del-disulfide-md__";
    const std::string proband = dir + "66940_Proband-OTOG-EX55-F.ab1";
    if (!std::filesystem::exists(proband)) GTEST_SKIP() << "no shared family traces";
    kw::Run run;
    ASSERT_FALSE(kw::readRun(proband, run));
    // The proband carries the deletion on both alleles: against the
    // proband's calls, each parent carries the other allele, 12 bases longer.
    const kw::Reference ref{"proband", run.calls()};
    for (const char* parent : {"66943_Mother-OTOG-E55-F.ab1", "66944_Father-OTOG-E55-F.ab1"}) {
        Processed p;
        ASSERT_FALSE(kw::readRun(dir + parent, p.run));
        ASSERT_TRUE(processRun(p.run, p.result));
        const kw::VariantResult r = kw::analyseVariants(p.result.calls, ref);
        ASSERT_EQ(r.status, "ok") << parent << ": " << r.message;
        int found = 0;
        for (const kw::Variant& v : r.variants)
            if (v.kind == "het_insertion" && v.size == 12 && v.qv >= r.minQv) {
                ++found;
                EXPECT_GT(v.fraction, 0.35) << parent;
                EXPECT_LT(v.fraction, 0.7) << parent;
            }
        EXPECT_EQ(found, 1) << parent << "\n" << kw::variantsTsv(r);
    }
}

TEST(Variants, RefusalsAndUnreadableFiles) {
    // A read of random letters, all QV 40, against an unrelated reference,
    // and a read too short to judge.
    std::mt19937 rng(5);
    kw::BaseCalls calls;
    std::string read, other;
    for (int i = 0; i < 300; ++i) {
        kw::BaseCall b;
        b.base = "ACGT"[rng() % 4];
        b.qv = 40;
        read += b.base;
        other += "ACGT"[rng() % 4];
        calls.bases.push_back(b);
    }
    calls.trimStart = 0;
    calls.trimEnd = 300;
    EXPECT_EQ(kw::analyseVariants(calls, {"r", read}).status, "ok");
    EXPECT_EQ(kw::analyseVariants(calls, {"r", other}).status, "no_alignment");
    EXPECT_EQ(kw::analyseVariants(calls, {"r", ""}).status, "bad_input");
    calls.trimEnd = 20;
    EXPECT_EQ(kw::analyseVariants(calls, {"r", read}).status, "weak_read");
    calls.trimEnd = 400;
    EXPECT_EQ(kw::analyseVariants(calls, {"r", read}).status, "bad_input");

    char dir[] = "/tmp/kwvariantsXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string bad = std::string(dir) + "/bad.fa", good = std::string(dir) + "/ok.fa";
    std::ofstream(bad) << ">x\nACGT\nAC7T\n";
    std::ofstream(good) << "\n>amplicon one\nacgu\nNNAC\n>second\nGGGG\n";
    kw::Reference ref;
    const std::string why = kw::readFasta(bad, ref);
    EXPECT_NE(why.find(bad), std::string::npos);
    EXPECT_NE(why.find("line 3"), std::string::npos) << why;
    EXPECT_NE(kw::readFasta(std::string(dir) + "/none.fa", ref), "");
    ASSERT_EQ(kw::readFasta(good, ref), "");
    EXPECT_EQ(ref.name, "amplicon");
    EXPECT_EQ(ref.sequence, "ACGTNNAC");
    const kw::VariantResult r = kw::variantsFile(std::string(dir) + "/none.ab1", good);
    EXPECT_EQ(r.status, "unreadable");
    EXPECT_NE(r.message.find("none.ab1"), std::string::npos);
    std::filesystem::remove_all(dir);
}

// Calls whose heights are their letters' dyes over a little noise, every
// base QV 40; the sample shows `share` of its base `edited` as `to`.
kw::BaseCalls noisyRead(const std::string& seq, unsigned seed, int edited = -1, char to = 'N',
                        double share = 0.0) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> noise(0.0, 0.06);
    kw::BaseCalls calls;
    const std::string dyes = "CAGT";
    for (size_t i = 0; i < seq.size(); ++i) {
        kw::BaseCall b;
        b.base = seq[i];
        b.qv = 40;
        for (double& h : b.heights) h = noise(rng);
        b.heights[dyes.find(seq[i])] = 1.0;
        if (static_cast<int>(i) == edited) {
            b.heights[dyes.find(seq[i])] = 1.0 - share;
            b.heights[dyes.find(to)] = share;
        }
        calls.bases.push_back(b);
    }
    calls.trimStart = 0;
    calls.trimEnd = static_cast<int>(seq.size());
    return calls;
}

TEST(BaseEdit, SharesAndPValuesOnEitherStrandWithAndWithoutControl) {
    std::mt19937 rng(3);
    std::string read;
    for (int i = 0; i < 300; ++i) read += "ACGT"[rng() % 4];
    read.replace(150, 3, "CCC");  // protospacer bases 6..8 of a guide at 145
    for (int strand = 0; strand < 2; ++strand) {
        kw::EditOptions o;
        const std::string onRead = read.substr(145, 20);
        o.guides = {strand ? kw::reverseComplement(onRead) : onRead};
        std::string problem;
        const std::vector<kw::GuideSite> sites = kw::findCutSites(read, o, problem);
        ASSERT_EQ(sites.size(), 1u) << problem;
        const kw::BaseCalls control = noisyRead(read, 1);
        const kw::BaseCalls sample = noisyRead(read, 2, 151, 'T', 0.35);
        for (const kw::BaseCalls* c : {&control, static_cast<const kw::BaseCalls*>(nullptr)}) {
            const std::vector<kw::BaseEditPosition> t = kw::analyseBaseEdit(sample, sites, c);
            ASSERT_EQ(t.size(), 20u);
            for (const kw::BaseEditPosition& p : t) {
                EXPECT_TRUE(p.aligned);
                const bool edited = p.position == 151;
                // Read base 151 is the guide's 7th base from its 5' end on
                // the forward strand, its 14th on the reverse.
                if (edited) {
                    EXPECT_EQ(p.guidePosition, strand ? 14 : 7);
                }
                const int to = strand ? 0 : 3;  // T on the read is A on the reverse guide
                for (int k = 0; k < 4; ++k) {
                    if (edited && k == to) {
                        EXPECT_NEAR(p.fraction[k], 0.33, 0.04);
                        EXPECT_LT(p.pValue[k], 1e-3);
                    } else if ("ACGT"[k] != p.reference) {
                        EXPECT_GT(p.pValue[k], 0.01) << p.position << " "
                                                     << "ACGT"[k];
                    }
                }
            }
        }
    }
}

}  // namespace
