// The variant analysis's files: the reference read from FASTA, and
// variants.vcf (htslib), variants.tsv and variants.json written.
#include <htslib/hts.h>
#include <htslib/vcf.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "common/opened_library.h"
#include "kwsignal/report.h"
#include "kwsignal/variants.h"

namespace kw {

namespace {

constexpr std::uintmax_t kMaxFastaBytes = 512u << 20;  // larger than any plasmid or amplicon file

// A contig name VCF accepts: no blanks, commas, angle brackets or equals signs.
std::string contigName(const std::string& name) {
    std::string out;
    for (char c : name)
        out += std::isgraph(static_cast<unsigned char>(c)) && c != ',' && c != '<' && c != '>' &&
                       c != '='
                   ? c
                   : '_';
    return out.empty() ? "reference" : out;
}

std::string sampleName(const std::string& trace) {
    const std::string stem = std::filesystem::path(trace).stem().string();
    return contigName(stem.empty() ? "trace" : stem);
}

char vcfBase(char c) {
    return c == 'A' || c == 'C' || c == 'G' || c == 'T' ? c : 'N';
}

// VCF's REF and ALT (an indel carries the base before it, or after it at
// the reference's start) and its 0-based POS.
void vcfAlleles(const std::string& ref, const Variant& v, long& pos, std::string& alleles) {
    std::string a = v.ref, b = v.alt;
    pos = v.position;
    if (v.size != 0) {
        const bool atStart = v.position == 0;
        const size_t pad = atStart ? static_cast<size_t>(v.position) + a.size()
                                   : static_cast<size_t>(v.position - 1);
        const char p = pad < ref.size() ? vcfBase(ref[pad]) : 'N';
        if (atStart) {
            a += p, b += p;
        } else {
            a = p + a, b = p + b, --pos;
        }
    }
    for (char& c : a) c = c == ',' ? c : vcfBase(c);
    alleles = a + "," + b;
}

// The htslib entry points the VCF takes, looked up once. htslib is opened
// on the first VCF written rather than linked: only the variant analysis
// writes one, and loading it (with the compression libraries it needs) cost
// every process about 1 M instructions.
struct Hts {
    decltype(&hts_open) open = nullptr;
    decltype(&hts_close) close = nullptr;
    decltype(&bcf_hdr_init) headerInit = nullptr;
    decltype(&bcf_hdr_destroy) headerDestroy = nullptr;
    decltype(&bcf_hdr_append) headerAppend = nullptr;
    decltype(&bcf_hdr_add_sample) addSample = nullptr;
    decltype(&bcf_hdr_sync) headerSync = nullptr;
    decltype(&bcf_hdr_write) headerWrite = nullptr;
    decltype(&bcf_hdr_id2int) id2int = nullptr;
    decltype(&bcf_init) recordInit = nullptr;
    decltype(&bcf_clear) recordClear = nullptr;
    decltype(&bcf_destroy) recordDestroy = nullptr;
    decltype(&bcf_update_alleles_str) updateAlleles = nullptr;
    decltype(&bcf_update_filter) updateFilter = nullptr;
    decltype(&bcf_update_info) updateInfo = nullptr;
    decltype(&bcf_update_format) updateFormat = nullptr;
    decltype(&bcf_write) write = nullptr;
    std::string error;  // why it could not be opened; empty when it was
};

Hts openHts() {
    Hts h;
    detail::OpenedLibrary lib(KW_HTS_SONAME);
    lib.lookUp("hts_open", h.open);
    lib.lookUp("hts_close", h.close);
    lib.lookUp("bcf_hdr_init", h.headerInit);
    lib.lookUp("bcf_hdr_destroy", h.headerDestroy);
    lib.lookUp("bcf_hdr_append", h.headerAppend);
    lib.lookUp("bcf_hdr_add_sample", h.addSample);
    lib.lookUp("bcf_hdr_sync", h.headerSync);
    lib.lookUp("bcf_hdr_write", h.headerWrite);
    lib.lookUp("bcf_hdr_id2int", h.id2int);
    lib.lookUp("bcf_init", h.recordInit);
    lib.lookUp("bcf_clear", h.recordClear);
    lib.lookUp("bcf_destroy", h.recordDestroy);
    lib.lookUp("bcf_update_alleles_str", h.updateAlleles);
    lib.lookUp("bcf_update_filter", h.updateFilter);
    lib.lookUp("bcf_update_info", h.updateInfo);
    lib.lookUp("bcf_update_format", h.updateFormat);
    lib.lookUp("bcf_write", h.write);
    h.error = lib.failure();
    return h;
}

// Opened by the first caller (thread-safe), read-only afterwards.
const Hts& hts() {
    static const Hts h = openHts();
    return h;
}

struct HtsFileClose {
    void operator()(htsFile* f) const { hts().close(f); }
};
struct HeaderFree {
    void operator()(bcf_hdr_t* h) const { hts().headerDestroy(h); }
};
struct RecordFree {
    void operator()(bcf1_t* r) const { hts().recordDestroy(r); }
};

std::unique_ptr<bcf_hdr_t, HeaderFree> vcfHeader(const VariantResult& r,
                                                 const std::string& contig) {
    const Hts& lib = hts();
    std::unique_ptr<bcf_hdr_t, HeaderFree> h(lib.headerInit("w"));
    if (!h) return h;
    const std::string lines[] = {
        "##source=kwsignal",
        "##contig=<ID=" + contig + ",length=" + std::to_string(r.referenceLength) + ">",
        "##FILTER=<ID=LowQual,Description=\"QV below the least asked for\">",
        "##INFO=<ID=KIND,Number=1,Type=String,Description=\"snv, insertion, deletion, het_snv, "
        "het_insertion or het_deletion\">",
        "##INFO=<ID=SIZE,Number=1,Type=Integer,Description=\"Bases gained (>0) or lost (<0)\">",
        "##INFO=<ID=AF,Number=A,Type=Float,Description=\"Share of each alternative allele in the "
        "trace's heights\">",
        "##INFO=<ID=READPOS,Number=1,Type=Integer,Description=\"Read base (0-based) where the "
        "variant shows\">",
        "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">"};
    for (const std::string& line : lines)
        if (lib.headerAppend(h.get(), line.c_str()) != 0) return nullptr;
    if (lib.addSample(h.get(), sampleName(r.traceName).c_str()) != 0 ||
        lib.headerSync(h.get()) != 0)
        return nullptr;
    return h;
}

// One record; false when htslib refuses it.
bool writeRecord(htsFile* f, bcf_hdr_t* h, bcf1_t* rec, const std::string& contig,
                 const std::string& ref, const Variant& v, int minQv) {
    const Hts& lib = hts();
    lib.recordClear(rec);
    long pos = 0;
    std::string alleles;
    vcfAlleles(ref, v, pos, alleles);
    rec->rid = lib.id2int(h, BCF_DT_CTG, contig.c_str());
    rec->pos = pos;
    rec->qual = static_cast<float>(v.qv);
    int32_t filter = lib.id2int(h, BCF_DT_ID, v.qv >= minQv ? "PASS" : "LowQual");
    const int32_t size = v.size, readPos = v.readBase;
    std::vector<float> af{static_cast<float>(v.fraction)};
    if (v.genotype == "1/2") af.push_back(static_cast<float>(1.0 - v.fraction));
    const int first = v.genotype == "0/1" ? 0 : 1;
    const int second = v.genotype == "1/2" ? 2 : 1;
    int32_t gt[2] = {bcf_gt_unphased(first), bcf_gt_unphased(second)};
    const int numAf = static_cast<int>(af.size());
    return lib.updateAlleles(h, rec, alleles.c_str()) == 0 &&
           lib.updateFilter(h, rec, &filter, 1) == 0 &&
           lib.updateInfo(h, rec, "KIND", v.kind.c_str(), 1, BCF_HT_STR) == 0 &&
           lib.updateInfo(h, rec, "SIZE", &size, 1, BCF_HT_INT) == 0 &&
           lib.updateInfo(h, rec, "AF", af.data(), numAf, BCF_HT_REAL) == 0 &&
           lib.updateInfo(h, rec, "READPOS", &readPos, 1, BCF_HT_INT) == 0 &&
           lib.updateFormat(h, rec, "GT", gt, 2, BCF_HT_INT) == 0 && lib.write(f, h, rec) == 0;
}

std::string fixed(double v, const char* format) {
    char buf[48];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

std::string readFastaText(const std::string& text, const std::string& path, Reference& out) {
    size_t at = text.find_first_not_of(" \t\r\n");
    if (at == std::string::npos || text[at] != '>') return path + ": not FASTA (no '>' header)";
    const size_t eol = std::min(text.find('\n', at), text.size());
    const std::string header = text.substr(at + 1, eol - at - 1);
    const size_t nameEnd = header.find_first_of(" \t\r");
    out.name = header.substr(0, nameEnd);
    out.sequence.clear();
    int line = 1;
    for (size_t i = eol; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n') ++line;
        if (c == '>') break;  // the first record only
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (u == 'U') u = 'T';
        if (std::string("ACGTRYSWKMBDHVN").find(u) == std::string::npos || u == '\0')
            return path + ": line " + std::to_string(line) + ": '" + std::string(1, c) +
                   "' is not a DNA letter";
        out.sequence += u;
    }
    if (out.sequence.empty()) return path + ": the first FASTA record holds no bases";
    return "";
}

}  // namespace

std::string readFasta(const std::string& path, Reference& out) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) return path + ": " + ec.message();
    if (size > kMaxFastaBytes) return path + ": larger than a reference FASTA can be";
    std::ifstream in(path, std::ios::binary);
    if (!in) return path + ": cannot be opened";
    std::string text(static_cast<size_t>(size), '\0');
    in.read(&text[0], static_cast<std::streamsize>(size));
    if (static_cast<std::uintmax_t>(in.gcount()) != size) return path + ": read failed";
    return readFastaText(text, path, out);
}

std::string writeVariantsVcf(const std::string& path, const VariantResult& r) {
    const std::string tmp = path + ".tmp";
    const std::string contig = contigName(r.referenceName);
    const Hts& lib = hts();
    if (!lib.error.empty()) return path + ": htslib is needed to write a VCF: " + lib.error;
    {
        auto h = vcfHeader(r, contig);
        if (!h) return path + ": htslib could not build the VCF header";
        std::unique_ptr<htsFile, HtsFileClose> f(lib.open(tmp.c_str(), "w"));
        if (!f) return tmp + ": cannot be written";
        std::unique_ptr<bcf1_t, RecordFree> rec(lib.recordInit());
        if (!rec || lib.headerWrite(f.get(), h.get()) != 0)
            return tmp + ": writing the header failed";
        for (const Variant& v : r.variants)
            if (!writeRecord(f.get(), h.get(), rec.get(), contig, r.reference, v, r.minQv))
                return tmp + ": htslib refused the variant at " + std::to_string(v.position + 1);
        if (lib.close(f.release()) != 0) return tmp + ": closing failed";
    }
    std::error_code ec;
    std::filesystem::rename(tmp, path, ec);
    return ec ? path + ": " + ec.message() : "";
}

std::string variantsTsv(const VariantResult& r) {
    std::string out =
        "chrom\tposition\tkind\tgenotype\tref\talt\tsize\tqv\tfilter\tfraction\tread_base\t"
        "reference_allele\tvariant_allele\n";
    const std::string contig = contigName(r.referenceName);
    for (const Variant& v : r.variants)
        out += contig + "\t" + std::to_string(v.position + 1) + "\t" + v.kind + "\t" + v.genotype +
               "\t" + (v.ref.empty() ? "-" : v.ref) + "\t" + (v.alt.empty() ? "-" : v.alt) + "\t" +
               std::to_string(v.size) + "\t" + std::to_string(v.qv) + "\t" +
               (v.qv >= r.minQv ? "PASS" : "LowQual") + "\t" + fixed(v.fraction, "%.3f") + "\t" +
               std::to_string(v.readBase) + "\t" + v.referenceAllele + "\t" + v.variantAllele +
               "\n";
    return out;
}

std::string variantsJson(const VariantResult& r) {
    nlohmann::ordered_json j;
    j["schema"] = kVariantsSchema;
    j["status"] = r.status;
    j["message"] = r.message;
    j["warnings"] = r.warnings;
    j["trace"] = r.traceName;
    j["reference"] =
        nlohmann::ordered_json{{"name", r.referenceName}, {"length", r.referenceLength}};
    const bool ok = r.status == "ok";
    j["strand"] = ok ? nlohmann::json(r.reverse ? "-" : "+") : nlohmann::json();
    j["read"] = nlohmann::ordered_json{{"start", r.readStart}, {"end", r.readEnd}};
    j["reference_span"] =
        nlohmann::ordered_json{{"start", r.referenceStart + (ok ? 1 : 0)}, {"end", r.referenceEnd}};
    j["identity"] = ok ? nlohmann::json(std::round(r.identity * 1e4) / 1e4) : nlohmann::json();
    j["mixed_from"] = r.mixedFrom >= 0 ? nlohmann::json(r.mixedFrom) : nlohmann::json();
    j["alignment"] =
        nlohmann::ordered_json{{"reference", r.alignedReference}, {"read", r.alignedRead}};
    j["variants"] = nlohmann::json::array();
    for (const Variant& v : r.variants)
        j["variants"].push_back(
            nlohmann::ordered_json{{"kind", v.kind},
                                   {"genotype", v.genotype},
                                   {"position", v.position + 1},
                                   {"ref", v.ref},
                                   {"alt", v.alt},
                                   {"size", v.size},
                                   {"qv", v.qv},
                                   {"filter", v.qv >= r.minQv ? "PASS" : "LowQual"},
                                   {"fraction", std::round(v.fraction * 1e3) / 1e3},
                                   {"read_base", v.readBase},
                                   {"reference_allele", v.referenceAllele},
                                   {"variant_allele", v.variantAllele}});
    return j.dump(2) + "\n";
}

std::string writeVariantsReport(const std::string& dir, const VariantResult& result) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) return "cannot create " + dir + ": " + ec.message();
    const fs::path d(dir);
    std::string problem = writeVariantsVcf((d / "variants.vcf").string(), result);
    if (problem.empty())
        problem = writeFileAtomically((d / "variants.tsv").string(), variantsTsv(result));
    if (problem.empty())
        problem = writeFileAtomically((d / "variants.json").string(), variantsJson(result));
    return problem;
}

}  // namespace kw
