// `kwsignal variants`: argument handling only; the analysis is the library's.
#include "variants.h"

#include <cstdio>

#include "batch.h"

namespace kwapp {

CLI::App* addVariantsCommand(CLI::App& app, VariantsCommand& c) {
    CLI::App* v = app.add_subcommand(
        "variants", "one trace against a reference: substitutions, indels, heterozygous sites");
    v->add_option("TRACE", c.trace, "the trace")->required();
    v->add_option("--reference", c.reference, "the reference, FASTA (first record; either strand)")
        ->required();
    v->add_option("--het-ratio", c.options.hetRatio,
                  "second dye's share of the called dye that makes a base heterozygous")
        ->check(CLI::Range(0.05, 1.0))
        ->capture_default_str();
    v->add_option("--min-qv", c.options.minQv, "variants below this QV are filtered LowQual")
        ->check(CLI::Range(0, 99))
        ->capture_default_str();
    v->add_option("--max-indel", c.options.maxShift, "largest heterozygous indel tried, bases")
        ->check(CLI::Range(1, 60))
        ->capture_default_str();
    v->add_option("-o,--out", c.out, "output folder")->capture_default_str();
    return v;
}

int runVariants(const VariantsCommand& c) {
    const kw::VariantResult r = kw::variantsFile(c.trace, c.reference, c.options);
    if (r.status == "unreadable") {
        std::fprintf(stderr, "kwsignal: %s\n", r.message.c_str());
        return kExitFailed;
    }
    if (r.status == "bad_input") {
        std::fprintf(stderr, "kwsignal: variants: %s\n", r.message.c_str());
        return kExitUsage;
    }
    if (const std::string problem = kw::writeVariantsReport(c.out, r); !problem.empty()) {
        std::fprintf(stderr, "kwsignal: variants: %s\n", problem.c_str());
        return kExitFailed;
    }
    std::printf("%s: %s %s\n", c.out.c_str(), r.status.c_str(), r.message.c_str());
    for (const std::string& w : r.warnings) std::printf("  warning: %s\n", w.c_str());
    return r.status == "ok" ? kExitOk : kExitNoSignal;
}

}  // namespace kwapp
