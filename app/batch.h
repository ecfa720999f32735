// Processing trace files one after another or on several threads: the
// library reads and processes each, the tool writes its output folder,
// shows progress and reports failures.
#ifndef KWSIGNAL_APP_BATCH_H
#define KWSIGNAL_APP_BATCH_H

#include <functional>
#include <string>
#include <vector>

#include "kwsignal/process.h"
#include "kwsignal/run.h"

namespace kwapp {

/// Exit statuses of the kwsignal tool.
constexpr int kExitOk = 0;        ///< every file processed, signal in each
constexpr int kExitFailed = 1;    ///< at least one file could not be processed
constexpr int kExitUsage = 2;     ///< bad command line
constexpr int kExitNoSignal = 3;  ///< every file processed, at least one without signal

struct BatchOptions {
    std::string outDir = "kwsignal-out";
    int jobs = 1;
    kw::Format format = kw::Format::automatic;
    kw::ProcessOptions road;  ///< system matrix, rate override
    bool quiet = false;
};

/// A run without signal, or a fragment run that could not be sized, is
/// processed but counts as noSignal.
enum class Outcome { ok, noSignal, failed };

struct FileReport {
    Outcome outcome = Outcome::failed;
    std::string reason;                        ///< why the file failed or holds no signal
    kw::RunStatus status = kw::RunStatus::ok;  ///< the road's status of a processed run
};

/// One output folder per file under outDir, named after the file without
/// its extension; files of the same name get -2, -3, ... in the order given.
std::vector<std::string> outputFolders(const std::vector<std::string>& files,
                                       const std::string& outDir);

/// Runs work(k) for every item k of names on `jobs` threads with a progress
/// line, reporting failures and items without a result on stderr. Returns
/// the exit status.
int runBatch(const std::vector<std::string>& names, int jobs, bool quiet,
             const std::function<FileReport(size_t)>& work);

/// Writes the library's report files and plot.svg of one processed run into
/// dir (created when missing). Returns "" or the reason.
std::string writeOutputs(const std::string& dir, const kw::Run& run,
                         const kw::ProcessResult& result, double parseMs);

/// Processes one file into outDir (created when missing): the library's
/// report files and plot.svg.
FileReport processFile(const std::string& path, const std::string& outDir,
                       const BatchOptions& options);

/// Processes every file into options.outDir/<file stem>/ on options.jobs
/// threads, reporting failures and no-signal runs on stderr. Returns the
/// exit status.
int processFiles(const std::vector<std::string>& files, const BatchOptions& options);

/// Reads the panel at panelPath into options.road.fragments.panel and,
/// when ladderPath is given, shifts its bins onto that allelic-ladder run.
/// False (the reason on stderr) when either cannot be used.
bool loadPanel(const std::string& panelPath, const std::string& ladderPath, BatchOptions& options);

/// What `kwsignal call` does with the calls of every file.
struct CallCommand {
    BatchOptions batch;  ///< reading, the road's options, threads
    std::string out;     ///< file receiving every record; empty for stdout
    bool fasta = false;  ///< FASTA instead of FASTQ
    bool trim = false;   ///< only the trimmed read of each file
};

/// Calls the bases of every file and writes one record per file, in the
/// order given, to command.out (atomically) or stdout. A file that fails is
/// named on stderr and has no record. Returns the exit status.
int callFiles(const std::vector<std::string>& files, const CallCommand& command);

}  // namespace kwapp

#endif
