// kwsignal: the command-line tool of the kwsignal library.
//
//   kwsignal process FILE... [-o DIR] [-j N] [--matrix SSM.txt] [--format F] [--quiet]
//                    [--mixed RATIO] [--trim-cutoff P] [--no-calls]
//                    [--kind K] [--sizing M] [--standard S] [--min-height H]
//                    [--panel P [--ladder L]]
//   kwsignal call FILE... [-o OUT] [--fasta] [--trim] [--mixed RATIO] [-j N] [--format F]
//   kwsignal simulate [-o FILE] [--seed N] [--bases N] [--rate HZ] [--crosstalk X] [--noise X]
//   kwsignal demo [-o DIR]
//   kwsignal info FILE... [--format F]
//   kwsignal edit --control C --sample S --guide SEQ[,SEQ] [--donor SEQ] [--pam P]
//                 [--cut-offset N] [-o DIR]
//   kwsignal edit --pairs PAIRS.tsv [-j N] [edit options] [-o DIR]
//   kwsignal variants TRACE --reference REF.fa [-o DIR]
//
// Exit status: 0 success; 1 a file could not be processed; 2 bad command
// line; 3 every file processed but at least one holds no signal.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "batch.h"
#include "demo.h"
#include "edit.h"
#include "kwsignal/run.h"
#include "kwsignal/simulate.h"
#include "variants.h"

namespace {

using kw::Format;

std::vector<std::string> standardNames() {
    std::vector<std::string> names;
    for (const kw::SizeStandard& s : kw::sizeStandards()) names.push_back(s.name);
    return names;
}

Format formatFrom(const std::string& name) {
    Format f = Format::automatic;
    kw::parseFormat(name, f);
    return f;
}

void printInfo(const kw::Run& run) {
    std::printf("%s\n  format        %s\n  traces        %d", run.path.c_str(),
                kw::formatName(run.format), run.numTraces);
    if (!run.channelNames.empty()) {
        std::printf(" (");
        for (size_t t = 0; t < run.channelNames.size(); ++t)
            std::printf("%s%s", t ? " " : "", run.channelNames[t].c_str());
        std::printf(")");
    }
    std::printf("\n  samples       %d\n  rate          %.4g Hz (%s)\n", run.numData, run.rate,
                run.rateSource.c_str());
    std::printf("  instrument    %s\n",
                run.instrument.empty() ? "not named" : run.instrument.c_str());
    double lo = 0.0, hi = 0.0;
    for (size_t t = 0; t < run.rows.size(); ++t) {
        if (run.rows[t].empty()) continue;
        const auto mm = std::minmax_element(run.rows[t].begin(), run.rows[t].end());
        lo = t == 0 ? *mm.first : std::min(lo, *mm.first);
        hi = t == 0 ? *mm.second : std::max(hi, *mm.second);
    }
    std::printf("  signal range  %g .. %g\n", lo, hi);
    if (run.format == Format::abif) {
        std::printf("  processed     %s\n", run.abif.processed.empty() ? "absent" : "present");
        if (!run.calls().empty())
            std::printf("  base calls    %zu\n", run.calls().size());
        else
            std::printf("  base calls    absent\n");
        std::printf("  dyes          %zu (", run.abif.dyes.size());
        for (size_t d = 0; d < run.abif.dyes.size(); ++d)
            std::printf("%s%s", d ? ", " : "",
                        run.abif.dyes[d].name.empty() ? "?" : run.abif.dyes[d].name.c_str());
        std::printf(")\n");
        if (!run.abif.standardName.empty())
            std::printf("  size standard %s (the lab's name)\n", run.abif.standardName.c_str());
        const kw::RunKindDecision kind = kw::decideRunKind(run.abif);
        std::printf("  kind          %s (%s)\n", kw::runKindName(kind.kind), kind.reason.c_str());
    }
    for (const std::string& w : run.warnings) std::printf("  note: %s\n", w.c_str());
}

int runInfo(const std::vector<std::string>& files, Format format) {
    int status = kwapp::kExitOk;
    for (const std::string& f : files) {
        kw::Run run;
        if (const kw::ReadError e = kw::readRun(f, run, format)) {
            std::fprintf(stderr, "kwsignal: %s\n", e.message.c_str());
            status = kwapp::kExitFailed;
        } else {
            printInfo(run);
        }
    }
    return status;
}

int runSimulate(const std::string& out, const kw::SimulationOptions& options) {
    const kw::SimulatedCapillary sim = kw::simulateCapillary(options);
    const std::string problem = kw::writeSimulation(out, sim);
    if (!problem.empty()) {
        std::fprintf(stderr, "kwsignal: simulate: %s\n", problem.c_str());
        return kwapp::kExitFailed;
    }
    std::printf(
        "wrote %s (%zu samples x 4 traces, %zu bases; the file format records 3 Hz)\n"
        "      %s.truth.tsv, %s.truth_matrix.txt\n",
        out.c_str(), sim.channels[0].size(), sim.peaks.size(), out.c_str(), out.c_str());
    return kwapp::kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    kw::keepLargeBuffers();
    CLI::App app{
        "kwsignal: raw four-colour capillary electrophoresis traces to clean signal, "
        "fitted peaks and called bases.\nExit status: 0 success, 1 a file failed, 2 bad command "
        "line, "
        "3 a run without signal."};
    app.require_subcommand(1);

    kwapp::BatchOptions po;
    std::vector<std::string> processFiles;
    std::string processFormat = "auto", matrixPath;
    CLI::App* process = app.add_subcommand("process", "run the default road on trace files");
    process->add_option("FILE", processFiles, "trace files")->required();
    process->add_option("-o,--out", po.outDir, "output folder (one sub-folder per file)")
        ->capture_default_str();
    process->add_option("-j,--jobs", po.jobs, "files processed at once")
        ->check(CLI::Range(1, 256))
        ->capture_default_str();
    process->add_option("--matrix", matrixPath, "system separation matrix to refine");
    process->add_option("--format", processFormat, "input format")
        ->check(CLI::IsMember(kw::formatNames()))
        ->capture_default_str();
    process->add_option("--rate", po.road.rate, "sampling rate in Hz, overriding the file's")
        ->check(CLI::PositiveNumber);
    process->add_flag("--quiet", po.quiet, "no progress line");
    process
        ->add_option("--mixed", po.road.calls.mixedRatio,
                     "call IUPAC codes where the second dye reaches RATIO of the first")
        ->check(CLI::Range(0.0, 1.0));
    process
        ->add_option("--trim-cutoff", po.road.calls.trimCutoff,
                     "error probability of the read's quality trimming")
        ->check(CLI::Range(1e-6, 0.999999))
        ->capture_default_str();
    bool noCalls = false;
    process->add_flag("--no-calls", noCalls, "leave the bases uncalled");
    std::string kind = "auto", sizing = "local", panelPath, ladderPath;
    process->add_option("--kind", kind, "sequencing or fragment-analysis road")
        ->check(CLI::IsMember(kw::kindChoiceNames()))
        ->capture_default_str();
    process->add_option("--sizing", sizing, "fragment sizing: local Southern, cubic spline, lsq3")
        ->check(CLI::IsMember(kw::sizingMethodNames()))
        ->capture_default_str();
    process
        ->add_option("--standard", po.road.fragments.standard,
                     "size standard to use (default: the one the data fit)")
        ->check(CLI::IsMember(standardNames()));
    process
        ->add_option("--min-height", po.road.fragments.minHeight,
                     "fragment peaks listed from this height, raw counts above baseline")
        ->check(CLI::Range(0.0, 1e6))
        ->capture_default_str();
    process->add_option("--panel", panelPath, "panel of markers and allele bins");
    process->add_option("--ladder", ladderPath, "allelic-ladder run that shifts the panel's bins");

    kwapp::CallCommand cc;
    std::vector<std::string> callFiles;
    std::string callFormat = "auto";
    CLI::App* call = app.add_subcommand("call", "call bases: one FASTQ (or FASTA) record per file");
    call->add_option("FILE", callFiles, "sequencing trace files")->required();
    call->add_option("-o,--out", cc.out, "file for every record (default: standard output)");
    call->add_flag("--fasta", cc.fasta, "FASTA instead of FASTQ");
    call->add_flag("--trim", cc.trim, "only the quality-trimmed read");
    call->add_option("--mixed", cc.batch.road.calls.mixedRatio,
                     "call IUPAC codes where the second dye reaches RATIO of the first")
        ->check(CLI::Range(0.0, 1.0));
    call->add_option("-j,--jobs", cc.batch.jobs, "files processed at once")
        ->check(CLI::Range(1, 256))
        ->capture_default_str();
    call->add_option("--format", callFormat, "input format")
        ->check(CLI::IsMember(kw::formatNames()))
        ->capture_default_str();
    call->add_flag("--quiet", cc.batch.quiet, "no progress line");

    std::string simOut = "simulated.txt";
    kw::SimulationOptions so;
    CLI::App* simulate = app.add_subcommand("simulate", "write a synthetic raw capillary");
    simulate->add_option("-o,--out", simOut, "export file to write")->capture_default_str();
    simulate->add_option("--seed", so.seed, "random seed")->capture_default_str();
    simulate->add_option("--bases", so.bases, "number of bases")
        ->check(CLI::Range(1, 5000))
        ->capture_default_str();
    simulate->add_option("--rate", so.rate, "samples per second")
        ->check(CLI::Range(0.5, 20.0))
        ->capture_default_str();
    simulate->add_option("--crosstalk", so.crosstalk, "leak into adjacent channels")
        ->check(CLI::Range(0.0, 0.6))
        ->capture_default_str();
    simulate->add_option("--noise", so.noise, "noise scale")
        ->check(CLI::Range(0.0, 20.0))
        ->capture_default_str();

    std::string demoOut = "kwsignal-demo";
    CLI::App* demo = app.add_subcommand("demo", "simulate, process and score the recovery");
    demo->add_option("-o,--out", demoOut, "output folder")->capture_default_str();

    std::vector<std::string> infoFiles;
    std::string infoFormat = "auto";
    CLI::App* info = app.add_subcommand("info", "describe trace files");
    info->add_option("FILE", infoFiles, "trace files")->required();
    info->add_option("--format", infoFormat, "input format")
        ->check(CLI::IsMember(kw::formatNames()))
        ->capture_default_str();

    kwapp::EditCommand editCommand;
    CLI::App* edit = kwapp::addEditCommand(app, editCommand);
    kwapp::VariantsCommand variantsCommand;
    CLI::App* variants = kwapp::addVariantsCommand(app, variantsCommand);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? kwapp::kExitOk : kwapp::kExitUsage;
    }

    if (*process) {
        po.format = formatFrom(processFormat);
        if (!matrixPath.empty()) {
            if (const kw::ReadError e = kw::readMatrixFile(matrixPath, po.road.systemMatrix)) {
                std::fprintf(stderr, "kwsignal: %s\n", e.message.c_str());
                return kwapp::kExitUsage;
            }
        }
        po.road.callBases = !noCalls;
        kw::parseKindChoice(kind, po.road.kind);
        kw::parseSizingMethod(sizing, po.road.fragments.sizing);
        if (!panelPath.empty() && !kwapp::loadPanel(panelPath, ladderPath, po))
            return kwapp::kExitUsage;
        return kwapp::processFiles(processFiles, po);
    }
    if (*call) {
        cc.batch.format = formatFrom(callFormat);
        return kwapp::callFiles(callFiles, cc);
    }
    if (*simulate) return runSimulate(simOut, so);
    if (*demo) return kwapp::runDemo(demoOut);
    // The edit and variant analyses open the aligner on their first
    // alignment; where it is not installed the user gets that reason and a
    // failed status, not an abort.
    try {
        if (*edit) return kwapp::runEdit(editCommand);
        if (*variants) return kwapp::runVariants(variantsCommand);
    } catch (const std::runtime_error& e) {
        std::fprintf(stderr, "kwsignal: %s\n", e.what());
        return kwapp::kExitFailed;
    }
    return runInfo(infoFiles, formatFrom(infoFormat));
}
