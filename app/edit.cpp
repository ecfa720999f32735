// `kwsignal edit`: argument handling only; the analysis is the library's.
#include "edit.h"

#include <cstdio>
#include <sstream>

#include "batch.h"

namespace kwapp {

CLI::App* addEditCommand(CLI::App& app, EditCommand& c) {
    CLI::App* edit = app.add_subcommand(
        "edit", "genome editing: the outcomes in a sample's trace against its control");
    edit->add_option("--control", c.control, "the unedited control's trace")->required();
    edit->add_option("--sample", c.sample, "the edited sample's trace")->required();
    edit->add_option("--guide", c.guides, "protospacer(s) without PAM, comma-separated")
        ->required();
    edit->add_option("--donor", c.options.donor, "the knock-in's repair template");
    edit->add_option("--pam", c.options.pam, "PAM, IUPAC letters")->capture_default_str();
    edit->add_option("--cut-offset", c.options.cutOffset,
                     "cut position: <0 bases before the protospacer's 3' end (PAM 3'), "
                     ">0 bases after its 5' start (PAM 5')")
        ->check(CLI::Range(-40, 40))
        ->capture_default_str();
    edit->add_option("--max-deletion", c.options.maxDeletion, "longest deletion tried")
        ->check(CLI::Range(1, 60))
        ->capture_default_str();
    edit->add_option("--max-insertion", c.options.maxInsertion, "longest insertion tried")
        ->check(CLI::Range(0, 30))
        ->capture_default_str();
    edit->add_option("--bootstrap", c.options.bootstrap, "bootstrap replicates for the intervals")
        ->check(CLI::Range(0, 2000))
        ->capture_default_str();
    edit->add_option("--seed", c.options.seed, "seed of the bootstrap")->capture_default_str();
    edit->add_flag("--base-edit", c.options.baseEdit,
                   "base editing: each protospacer base's shares and p-values");
    edit->add_option("-o,--out", c.out, "output folder")->capture_default_str();
    return edit;
}

int runEdit(EditCommand& c) {
    std::stringstream list(c.guides);
    for (std::string g; std::getline(list, g, ',');)
        if (!g.empty()) c.options.guides.push_back(g);
    for (char& ch : c.options.pam)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    const kw::EditResult r = kw::editFiles(c.control, c.sample, c.options);
    if (r.status == kw::EditStatus::unreadable) {
        std::fprintf(stderr, "kwsignal: %s\n", r.message.c_str());
        return kExitFailed;
    }
    if (r.status == kw::EditStatus::badInput) {
        std::fprintf(stderr, "kwsignal: edit: %s\n", r.message.c_str());
        return kExitUsage;
    }
    if (const std::string problem = kw::writeEditReport(c.out, r); !problem.empty()) {
        std::fprintf(stderr, "kwsignal: edit: %s\n", problem.c_str());
        return kExitFailed;
    }
    std::printf("%s: %s %s\n", c.out.c_str(), kw::editStatusName(r.status), r.message.c_str());
    for (const std::string& w : r.warnings) std::printf("  warning: %s\n", w.c_str());
    return r.status == kw::EditStatus::ok ? kExitOk : kExitNoSignal;
}

}  // namespace kwapp
