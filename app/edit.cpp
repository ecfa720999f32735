// `kwsignal edit`: argument handling only; the analysis is the library's.
#include "edit.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "batch.h"
#include "kwsignal/report.h"

namespace kwapp {

CLI::App* addEditCommand(CLI::App& app, EditCommand& c) {
    CLI::App* edit = app.add_subcommand(
        "edit", "genome editing: the outcomes in a sample's trace against its control");
    edit->add_option("--control", c.control, "the unedited control's trace");
    edit->add_option("--sample", c.sample, "the edited sample's trace");
    edit->add_option("--guide", c.guides, "protospacer(s) without PAM, comma-separated");
    edit->add_option("--pairs", c.pairs,
                     "a table of pairs instead: rows 'control sample guide [donor]', "
                     "tab-separated; paths relative to the table's folder");
    edit->add_option("-j,--jobs", c.jobs, "threads for a table of pairs")
        ->check(CLI::Range(1, 256))
        ->capture_default_str();
    edit->add_flag("-q,--quiet", c.quiet, "no progress line for a table of pairs");
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

namespace {

std::vector<std::string> guideList(const std::string& text) {
    std::vector<std::string> guides;
    std::stringstream list(text);
    for (std::string g; std::getline(list, g, ',');)
        if (!g.empty()) guides.push_back(g);
    return guides;
}

struct Pair {
    std::string control, sample, guides, donor;
};

// The rows of a table of pairs; blank lines, lines starting with '#' and a
// header whose first field is "control" are skipped. Relative paths are
// taken from the table's folder, so that a table travels with its traces.
// False, the reason in problem, on a row with fewer than three fields.
bool readPairs(const std::string& path, std::vector<Pair>& pairs, std::string& problem) {
    std::ifstream in(path);
    if (!in) {
        problem = path + ": cannot read the file";
        return false;
    }
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    auto resolved = [&](const std::string& p) {
        return std::filesystem::path(p).is_absolute() ? p : (folder / p).string();
    };
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos || line[0] == '#') continue;
        std::vector<std::string> f;
        std::stringstream row(line);
        for (std::string field; std::getline(row, field, '\t');) f.push_back(field);
        if (f[0] == "control") continue;
        if (f.size() < 3 || f[0].empty() || f[1].empty() || f[2].empty()) {
            problem = path + ": line " + std::to_string(number) +
                      ": expected 'control<TAB>sample<TAB>guide[<TAB>donor]'";
            return false;
        }
        pairs.push_back({resolved(f[0]), resolved(f[1]), f[2], f.size() > 3 ? f[3] : ""});
    }
    if (pairs.empty()) problem = path + ": no pairs";
    return !pairs.empty();
}

// Text for one field of a tab-separated row.
std::string field(std::string text) {
    for (char& ch : text)
        if (ch == '\t' || ch == '\n' || ch == '\r') ch = ' ';
    return text;
}

std::string fraction(double v, bool ok) {
    if (!ok) return "";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4f", v);
    return buf;
}

// One pair into its folder; the row of edits.tsv it gives.
FileReport editPair(const Pair& p, const kw::EditOptions& common, const std::string& folder,
                    std::string& row) {
    kw::EditOptions options = common;
    options.guides = guideList(p.guides);
    if (!p.donor.empty()) options.donor = p.donor;
    const kw::EditResult r = kw::editFiles(p.control, p.sample, options);
    FileReport report;
    const bool ok = r.status == kw::EditStatus::ok;
    row = field(p.control) + '\t' + field(p.sample) + '\t' + field(folder) + '\t' +
          kw::editStatusName(r.status) + '\t' + fraction(r.editedFraction, ok) + '\t' +
          fraction(r.editedLow, ok) + '\t' + fraction(r.editedHigh, ok) + '\t' +
          fraction(r.knockoutFraction, ok) + '\t' + fraction(r.hdrFraction, ok) + '\t' +
          fraction(r.r2, ok) + '\t' + field(r.message) + '\n';
    // The batch's report names the sample already.
    const std::string named = p.sample + ": ";
    report.reason = r.message.rfind(named, 0) == 0 ? r.message.substr(named.size()) : r.message;
    if (r.status == kw::EditStatus::unreadable || r.status == kw::EditStatus::badInput)
        return report;
    if (const std::string problem = kw::writeEditReport(folder, r); !problem.empty()) {
        report.reason = problem;
        return report;
    }
    report.outcome = ok ? Outcome::ok : Outcome::noSignal;
    return report;
}

int runPairs(const EditCommand& c) {
    std::vector<Pair> pairs;
    std::string problem;
    if (!readPairs(c.pairs, pairs, problem)) {
        std::fprintf(stderr, "kwsignal: edit: %s\n", problem.c_str());
        return kExitUsage;
    }
    std::vector<std::string> samples;
    for (const Pair& p : pairs) samples.push_back(p.sample);
    const std::vector<std::string> folders = outputFolders(samples, c.out);
    std::vector<std::string> rows(pairs.size());
    int status = runBatch(samples, c.jobs, c.quiet, [&](size_t k) {
        return editPair(pairs[k], c.options, folders[k], rows[k]);
    });
    std::string table =
        "control\tsample\tfolder\tstatus\tedited_fraction\tedited_low\tedited_high\t"
        "knockout_fraction\thdr_fraction\tr2\tmessage\n";
    for (const std::string& r : rows) table += r;
    std::error_code ec;
    std::filesystem::create_directories(c.out, ec);
    if (const std::string e = kw::writeFileAtomically(c.out + "/edits.tsv", table); !e.empty()) {
        std::fprintf(stderr, "kwsignal: %s\n", e.c_str());
        status = kExitFailed;
    }
    return status;
}

}  // namespace

int runEdit(EditCommand& c) {
    for (char& ch : c.options.pam)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    const bool single = !c.control.empty() || !c.sample.empty() || !c.guides.empty();
    if (!c.pairs.empty() && single) {
        std::fprintf(stderr, "kwsignal: edit: --pairs replaces --control, --sample and --guide\n");
        return kExitUsage;
    }
    if (!c.pairs.empty()) return runPairs(c);
    if (c.control.empty() || c.sample.empty() || c.guides.empty()) {
        std::fprintf(stderr,
                     "kwsignal: edit: needs --control, --sample and --guide (or --pairs)\n");
        return kExitUsage;
    }
    c.options.guides = guideList(c.guides);
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
