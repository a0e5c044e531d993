#pragma once

// What a hufpack command line asks for, parsed the way gzip, xz and zstd parse theirs.

#include <string>
#include <vector>

struct CommandLine
{
    enum class Action { Compress, Decompress, Test, List };

    Action action = Action::Compress;
    // The two commands of the first form, `hufpack encode|decode SOURCE DEST`, which print
    // "Done." as scripts expect; files then holds SOURCE and DEST.
    bool verbForm = false;
    bool help = false;
    bool version = false;
    bool toStdout = false; // -c
    std::string output; // -o FILE; "-" is standard output
    bool force = false;
    bool removeSource = false; // --rm
    bool sync = false;
    bool quiet = false;
    bool verbose = false;
    bool showProgress = false; // --progress: even for short jobs and when not on a terminal
    std::string suffix = ".huf";
    // The files named; none, or "-", is standard input.
    std::vector<std::string> files;
};

constexpr const char* kUsage = "Usage: hufpack [OPTION]... [FILE]...\n"
                               "       hufpack encode SOURCE DEST [-f] [--sync]\n"
                               "       hufpack decode SOURCE DEST [-f] [--sync]\n";

// Parses the arguments. False for a usage error, which `problem` then names.
bool ParseCommandLine(int argc, char** argv, CommandLine& line, std::string& problem);
