// `kwsignal edit`: a sample's trace against its control.
#ifndef KWSIGNAL_APP_EDIT_H
#define KWSIGNAL_APP_EDIT_H

#include <CLI/CLI.hpp>
#include <string>

#include "kwsignal/edit.h"

namespace kwapp {

struct EditCommand {
    std::string control, sample, guides, out = "kwsignal-edit";
    kw::EditOptions options;
};

/// Declares the edit subcommand and its flags on app.
CLI::App* addEditCommand(CLI::App& app, EditCommand& command);

/// Runs the analysis and writes edit.json, edit.tsv and report.html into
/// command.out. Exit status: 0 a result, 1 a file could not be read or
/// written, 2 a bad guide, donor or option, 3 a refusal (guide not found,
/// no alignment, weak control or sample).
int runEdit(EditCommand& command);

}  // namespace kwapp

#endif
