// `kwsignal edit`: a sample's trace against its control.
#ifndef KWSIGNAL_APP_EDIT_H
#define KWSIGNAL_APP_EDIT_H

#include <CLI/CLI.hpp>
#include <string>

#include "kwsignal/edit.h"

namespace kwapp {

struct EditCommand {
    std::string control, sample, guides, out = "kwsignal-edit";
    std::string pairs;  ///< a table of pairs instead of one control and sample
    int jobs = 1;       ///< threads of a table of pairs
    bool quiet = false;
    kw::EditOptions options;
};

/// Declares the edit subcommand and its flags on app.
CLI::App* addEditCommand(CLI::App& app, EditCommand& command);

/// Runs the analysis and writes edit.json, edit.tsv and report.html into
/// command.out. Exit status: 0 a result, 1 a file could not be read or
/// written, 2 a bad guide, donor or option, 3 a refusal (guide not found,
/// no alignment, weak control or sample). With command.pairs, every pair of
/// that table (rows `control sample guide [donor]`, tab-separated) gets its
/// folder under command.out and a row of command.out/edits.tsv; the status
/// is then the worst of the pairs'.
int runEdit(EditCommand& command);

}  // namespace kwapp

#endif
