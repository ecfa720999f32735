// `kwsignal variants`: one trace against a reference sequence.
#ifndef KWSIGNAL_APP_VARIANTS_H
#define KWSIGNAL_APP_VARIANTS_H

#include <CLI/CLI.hpp>
#include <string>

#include "kwsignal/variants.h"

namespace kwapp {

struct VariantsCommand {
    std::string trace, reference, out = "kwsignal-variants";
    kw::VariantOptions options;
};

/// Declares the variants subcommand and its flags on app.
CLI::App* addVariantsCommand(CLI::App& app, VariantsCommand& command);

/// Runs the analysis and writes variants.vcf, variants.tsv and
/// variants.json into command.out. Exit status: 0 a result, 1 a file could
/// not be read or written, 2 an option out of range, 3 a refusal (weak
/// read, no alignment).
int runVariants(const VariantsCommand& command);

}  // namespace kwapp

#endif
