// hufpack: compresses or restores one file from the command line.

#include "hufpack/FileJobs.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <sys/stat.h>
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

constexpr const char* kUsage = "Usage: hufpack encode SOURCE DEST [-f]\n"
                               "       hufpack decode SOURCE DEST [-f]\n";

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
      "  -h, --help           show this help and exit\n"
      "  -V, --version        show the version and exit\n"
      "\n"
      "DEST is written completely or not at all: on any failure an existing DEST keeps its\n"
      "bytes. Each finished job prints \"Done.\" on standard output.\n"
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

bool Exists(const std::string& path)
{
    struct stat info
    {
    };
    return ::lstat(path.c_str(), &info) == 0;
}

// Two names of one file are the job's to refuse, with its own message.
bool SameFile(const std::string& a, const std::string& b)
{
    struct stat first
    {
    };
    struct stat second
    {
    };
    return a == b
        || (::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0
            && first.st_dev == second.st_dev && first.st_ino == second.st_ino);
}

} // namespace

int main(int argc, char** argv)
{
    bool force = false;
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

    if (!force && Exists(destination) && !SameFile(source, destination)) {
        std::fprintf(stderr, "hufpack: %s already exists; use -f to replace it\n",
                     destination.c_str());
        return kExitCannotOpen;
    }
    const hufpack::JobResult result = command == "encode"
        ? hufpack::EncodeFile(source, destination)
        : hufpack::DecodeFile(source, destination);
    if (result != hufpack::JobResult::Done)
        std::fprintf(stderr, "hufpack: %s\n", hufpack::ResultMessage(result));
    return ExitStatusFor(result);
}
