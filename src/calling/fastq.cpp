// Sequence records: FASTQ (Phred+33 qualities) and FASTA.
#include <algorithm>
#include <cctype>

#include "kwsignal/basecall.h"

namespace kw {
namespace {

// A record name is one word-safe line: no line breaks, no blanks at its
// ends, never empty.
std::string recordName(const std::string& name) {
    std::string out = name;
    for (char& c : out)
        if (c == '\n' || c == '\r' || c == '\0') c = '_';
    size_t a = 0, b = out.size();
    while (a < b && std::isspace(static_cast<unsigned char>(out[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(out[b - 1]))) --b;
    out = out.substr(a, b - a);
    return out.empty() ? "unnamed" : out;
}

}  // namespace

std::string fastqRecord(const BaseCalls& calls, const std::string& name) {
    std::string out = "@" + recordName(name) + "\n" + calls.sequence() + "\n+\n";
    for (const BaseCall& b : calls.bases)
        out += static_cast<char>(33 + std::max(0, std::min(kMaxCallQv, b.qv)));
    return out + "\n";
}

std::string fastaRecord(const BaseCalls& calls, const std::string& name) {
    constexpr size_t kLine = 70;
    const std::string seq = calls.sequence();
    std::string out = ">" + recordName(name) + "\n";
    for (size_t i = 0; i < seq.size(); i += kLine) out += seq.substr(i, kLine) + "\n";
    return out;
}

}  // namespace kw
