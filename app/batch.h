// Processing trace files one after another or on several threads: reading,
// the default pipeline, the output files, progress and failure reports.
#ifndef KWSIGNAL_APP_BATCH_H
#define KWSIGNAL_APP_BATCH_H

#include <string>
#include <vector>

#include "formats.h"

namespace kwapp {

/// Exit statuses of the kwsignal tool.
constexpr int kExitOk = 0;        ///< every file processed, signal in each
constexpr int kExitFailed = 1;    ///< at least one file could not be processed
constexpr int kExitUsage = 2;     ///< bad command line
constexpr int kExitNoSignal = 3;  ///< every file processed, at least one without signal

struct ProcessOptions {
    std::string outDir = "kwsignal-out";
    int jobs = 1;
    Format format = Format::automatic;
    /// System separation matrix to refine on every file; empty to learn.
    std::vector<std::vector<float>> systemMatrix;
    double rate = 0.0;  ///< overrides the file's sampling rate when > 0
    bool quiet = false;
};

enum class Outcome { ok, noSignal, failed };

struct FileReport {
    Outcome outcome = Outcome::failed;
    std::string reason;  ///< why the file failed or holds no signal
};

/// Reads a separation matrix text file (n lines of n numbers). Returns ""
/// or the reason it cannot be used.
std::string loadMatrix(const std::string& path, std::vector<std::vector<float>>& m);

/// Processes one file into outDir (created when missing).
FileReport processFile(const std::string& path, const std::string& outDir,
                       const ProcessOptions& options);

/// Processes every file into options.outDir/<file stem>/ on options.jobs
/// threads, reporting failures and no-signal runs on stderr. Returns the
/// exit status.
int processFiles(const std::vector<std::string>& files, const ProcessOptions& options);

/// Tunes the C library's allocator for a process that runs the pipeline:
/// buffers of whole traces (a few hundred KiB) are kept for reuse instead of
/// being mapped and returned to the system each time. Call once, at start;
/// it changes the whole process, so a library never calls it for its host.
void tuneAllocator();

}  // namespace kwapp

#endif
