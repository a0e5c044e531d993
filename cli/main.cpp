// hufpack: compresses or restores one file from the command line.

#include "hufpack/FileJobs.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Exit statuses, one per outcome a script may want to tell apart.
enum ExitStatus : int {
    kExitDone = 0,
    kExitCannotOpen = 1,
    kExitUsage = 2,
    kExitNotOurFormat = 3,
    kExitTooLarge = 4,
    kExitSameFile = 5,
};

constexpr const char* kUsage = "Usage: hufpack encode SOURCE DEST [-f] [--sync]\n"
                               "       hufpack decode SOURCE DEST [-f] [--sync]\n";

constexpr const char* kHelp
    = "Compresses one file into another with static Huffman coding over byte values, or\n"
      "restores such a file.\n"
      "\n"
      "Commands:\n"
      "  encode SOURCE DEST   compress SOURCE into DEST\n"
      "  decode SOURCE DEST   restore the file that SOURCE was compressed from, into DEST\n"
      "\n"
      "Options:\n"
      "  -f, --force          replace DEST when it exists\n"
      "      --sync           sync DEST to the disk before finishing, even when it is new\n"
      "  -h, --help           show this help and exit\n"
      "  -V, --version        show the version and exit\n"
      "\n"
      "DEST is written completely or not at all: on any failure an existing DEST keeps its\n"
      "bytes. A DEST that replaces a file is synced to the disk first. Each finished job\n"
      "prints \"Done.\" on standard output.\n"
      "\n"
      "Exit status: 0 done; 1 SOURCE cannot be opened, DEST cannot be written or already\n"
      "exists; 2 wrong usage; 3 SOURCE is not a file this program wrote; 4 SOURCE is too large\n"
      "for the format; 5 SOURCE and DEST are the same file.\n";

int UsageError(const std::string& problem)
{
    std::fprintf(stderr, "hufpack: %s\n%sTry 'hufpack --help' for more information.\n",
                 problem.c_str(), kUsage);
    return kExitUsage;
}

int ExitStatusFor(hufpack::JobResult result)
{
    switch (result) {
    case hufpack::JobResult::Done:
        return kExitDone;
    case hufpack::JobResult::CannotOpen:
        return kExitCannotOpen;
    case hufpack::JobResult::NotOurFormat:
        return kExitNotOurFormat;
    case hufpack::JobResult::TooLarge:
        return kExitTooLarge;
    case hufpack::JobResult::SameFile:
        return kExitSameFile;
    }
    return kExitCannotOpen;
}

// One line per failure, naming the file and the reason, as other tools do.
void ReportFailure(const hufpack::JobOutcome& outcome, const std::string& source,
                   const std::string& destination)
{
    const std::string& path = outcome.file == hufpack::JobFile::Destination ? destination : source;
    const std::string reason
        = outcome.error == EEXIST && outcome.file == hufpack::JobFile::Destination
        ? "already exists; use -f to replace it"
        : hufpack::DescribeFailure(outcome);
    if (outcome.file == hufpack::JobFile::None)
        std::fprintf(stderr, "hufpack: %s\n", reason.c_str());
    else
        std::fprintf(stderr, "hufpack: %s: %s\n", path.c_str(), reason.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    // A closed standard output must not turn a finished job into a failure: "Done." is written
    // last, and a write that fails is simply lost.
    std::signal(SIGPIPE, SIG_IGN);
    bool force = false;
    bool sync = false;
    bool optionsEnded = false;
    std::vector<std::string> operands;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            operands.emplace_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            std::fputs("\n", stdout);
            std::fputs(kHelp, stdout);
            return kExitDone;
        } else if (arg == "-V" || arg == "--version") {
            std::printf("hufpack %s\n", HUFPACK_VERSION);
            return kExitDone;
        } else if (arg == "-f" || arg == "--force") {
            force = true;
        } else if (arg == "--sync") {
            sync = true;
        } else {
            return UsageError("unknown option '" + std::string(arg) + "'");
        }
    }
    if (operands.empty())
        return UsageError("no command given");
    const std::string& command = operands[0];
    if (command != "encode" && command != "decode")
        return UsageError("unknown command '" + command + "'");
    if (operands.size() != 3)
        return UsageError(command + " takes a SOURCE and a DEST");
    const std::string& source = operands[1];
    const std::string& destination = operands[2];

    hufpack::JobOptions options;
    options.replace = force;
    options.sync = sync;
    const hufpack::JobOutcome outcome = hufpack::RunFileJob(
        command == "encode" ? hufpack::JobKind::Encode : hufpack::JobKind::Decode, source,
        destination, options);
    if (outcome.result != hufpack::JobResult::Done)
        ReportFailure(outcome, source, destination);
    return ExitStatusFor(outcome.result);
}
