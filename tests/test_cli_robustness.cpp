// The kwsignal tool on bad input, run as a user runs it: missing, empty,
// unknown, truncated and too-short files (random damage to real instrument
// files is the formats fuzz target's). Every file ends in output or in one line on stderr
// naming it and the reason, with a non-zero status; the tool never dies of
// a signal and never hangs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kwsignal/rundata.h"

extern char** environ;

namespace {

std::string cliPath() {
#ifdef KWSIGNAL_CLI
    return KWSIGNAL_CLI;
#else
    return std::string();
#endif
}

bool exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void spit(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A scratch folder, removed when the test passed and kept (and named)
// when it failed, so the inputs that broke the tool can be replayed.
class Scratch {
public:
    Scratch() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/kwcli-XXXXXX";
        dir = mkdtemp(&pattern[0]) != nullptr ? pattern : std::string();
    }
    ~Scratch() {
        if (dir.empty()) return;
        if (::testing::Test::HasFailure())
            std::printf("inputs kept in %s\n", dir.c_str());
        else
            std::system(("rm -rf '" + dir + "'").c_str());
    }
    std::string dir;
};

struct Run {
    bool signaled = false;
    int signal = 0;
    int status = -1;
    bool hung = false;
    std::string out, err;
};

// Runs the tool with args; stdout and stderr are captured through files.
Run runCli(const std::vector<std::string>& args, const std::string& scratch,
           int timeoutSeconds = 600) {
    const std::string outFile = scratch + "/stdout.txt", errFile = scratch + "/stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<std::string> argv = {cliPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargs;
    for (std::string& a : argv) cargs.push_back(&a[0]);
    cargs.push_back(nullptr);
    pid_t pid = 0;
    Run r;
    if (posix_spawn(&pid, cargs[0], &actions, nullptr, cargs.data(), environ) != 0) return r;
    posix_spawn_file_actions_destroy(&actions);
    int wstatus = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (waitpid(pid, &wstatus, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &wstatus, 0);
            r.hung = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    r.signaled = !r.hung && WIFSIGNALED(wstatus);
    r.signal = r.signaled ? WTERMSIG(wstatus) : 0;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    r.out = slurp(outFile);
    r.err = slurp(errFile);
    return r;
}

// The reason stderr gives for path ("kwsignal: PATH: reason"); empty when
// there is none.
std::string reasonFor(const Run& r, const std::string& path) {
    std::istringstream lines(r.err);
    const std::string prefix = "kwsignal: " + path + ": ";
    for (std::string line; std::getline(lines, line);)
        if (line.compare(0, prefix.size(), prefix) == 0) return line.substr(prefix.size());
    return std::string();
}

// In the sanitizer build a memory or undefined-behaviour error ends the
// tool with a report and status 1 instead of a signal.
bool sanitizerReport(const Run& r) {
    return r.err.find("Sanitizer") != std::string::npos ||
           r.err.find("runtime error:") != std::string::npos;
}

// A clear message: present, one printable line of reasonable length.
bool isClear(const std::string& reason) {
    if (reason.empty() || reason.size() > 400) return false;
    for (char c : reason)
        if (static_cast<unsigned char>(c) < 32) return false;
    return true;
}

std::string stemOf(const std::string& path) {
    const std::string name = path.substr(path.rfind('/') + 1);
    return name.substr(0, name.find('.'));
}

// `info` and `process` on files: no signal, no hang; each file is either
// described / processed or refused with a clear reason; the status says
// whether any was refused.
void expectHandled(const std::vector<std::string>& files, const std::string& scratch) {
    std::vector<std::string> infoArgs = {"info"};
    infoArgs.insert(infoArgs.end(), files.begin(), files.end());
    const Run info = runCli(infoArgs, scratch);
    ASSERT_FALSE(info.hung) << "info hangs";
    ASSERT_FALSE(info.signaled) << "info died of signal " << info.signal << "\n" << info.err;
    ASSERT_FALSE(sanitizerReport(info)) << info.err;
    int refused = 0;
    for (const std::string& f : files) {
        const bool described = info.out.find(f + "\n  format") != std::string::npos;
        const std::string reason = reasonFor(info, f);
        EXPECT_TRUE(described || isClear(reason)) << "info " << f << ": " << reason;
        refused += described ? 0 : 1;
    }
    EXPECT_EQ(info.status, refused > 0 ? 1 : 0) << info.err;
    const int readable = static_cast<int>(files.size()) - refused;

    const std::string out = scratch + "/out";
    std::vector<std::string> processArgs = {"process", "--quiet", "-j", "2", "-o", out};
    processArgs.insert(processArgs.end(), files.begin(), files.end());
    const Run proc = runCli(processArgs, scratch);
    ASSERT_FALSE(proc.hung) << "process hangs";
    ASSERT_FALSE(proc.signaled) << "process died of signal " << proc.signal << "\n" << proc.err;
    ASSERT_FALSE(sanitizerReport(proc)) << proc.err;
    EXPECT_TRUE(proc.status == 0 || proc.status == 1 || proc.status == 3) << proc.status;
    refused = 0;
    for (const std::string& f : files) {
        const bool done = exists(out + "/" + stemOf(f) + "/summary.json");
        const std::string reason = reasonFor(proc, f);
        EXPECT_TRUE(done || isClear(reason)) << "process " << f << ": " << reason;
        refused += done ? 0 : 1;
    }
    if (refused > 0) {
        EXPECT_EQ(proc.status, 1) << proc.err;
    }
    std::printf("%zu files: %d read, %d processed\n", files.size(), readable,
                static_cast<int>(files.size()) - refused);
}

}  // namespace

TEST(CliRobustness, BadInputGivesAReasonAndAStatus) {
    const std::string cli = cliPath();
    if (cli.empty() || !exists(cli)) GTEST_SKIP() << "the kwsignal tool is not built";
    Scratch s;
    ASSERT_FALSE(s.dir.empty());
    const std::string d = s.dir;
    mkdir((d + "/folder.txt").c_str(), 0755);
    spit(d + "/empty.ab1", "");
    spit(d + "/blank.txt", " \n\t\n");
    spit(d + "/unknown.txt", "hello 1 2 3\n");
    spit(d + "/binary.dat", std::string("\x01\x02\x00\xff\xfe", 5) + std::string(300, '\x07'));
    spit(d + "/abif-header.ab1", std::string("ABIF\x00\x65tdir", 10));
    spit(d + "/truncated.txt", "pRoCeSsEd x 4 1000 3.0 0\n1 2 3 4\n5 6 7 8\n");
    spit(d + "/nlines-header.txt", "N_LINES: 5 a b\n");
    spit(d + "/huge-count.txt", "2147483647\n0 1 2\n");
    spit(d + "/not-a-number.txt", "3\n0 1 2\n1 x 3\n2 4 5\n");
    std::string fifty = "pRoCeSsEd short 4 50 3.0 0\n";
    for (int s50 = 0; s50 < 50; ++s50) fifty += "10 20 30 40\n";
    spit(d + "/fifty.txt", fifty);
    ASSERT_EQ(kw::writeRunData(d + "/no-samples.qrd", std::vector<std::vector<uint32_t>>(4)), "");
    expectHandled({d + "/missing.ab1", d + "/folder.txt", d + "/empty.ab1", d + "/blank.txt",
                   d + "/unknown.txt", d + "/binary.dat", d + "/abif-header.ab1",
                   d + "/truncated.txt", d + "/nlines-header.txt", d + "/huge-count.txt",
                   d + "/not-a-number.txt", d + "/fifty.txt", d + "/no-samples.qrd"},
                  d);
}
