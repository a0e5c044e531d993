#pragma once

// What a hufpack command line asks for, parsed the way gzip, xz and zstd parse theirs.

#include <optional>
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
    bool noProgress = false; // --no-progress: never; of the two, the last one given wins
    bool recursive = false; // -r: every file in the folders named, and in theirs
    // -T: threads in all, the calling thread's included; 0 one per processor. Not given, the
    // environment's HUFPACK_THREADS says.
    std::optional<int> threads;
    std::string suffix = ".huf";
    // The files named; none, or "-", is standard input.
    std::vector<std::string> files;
};

constexpr const char* kUsage = "Usage: hufpack [OPTION]... [FILE]...\n"
                               "       hufpack encode SOURCE DEST [-f] [--sync]\n"
                               "       hufpack decode SOURCE DEST [-f] [--sync]\n";

// What -o may name for standard output besides "-": the descriptor itself, never a link in /dev
// to be followed or replaced.
inline constexpr const char* kDevStdout = "/dev/stdout";

// The largest number -T and HUFPACK_THREADS take, a check on what was typed: a job runs on at
// most as many threads as the engine's one limit, whatever it is asked for.
inline constexpr int kLargestThreadCount = 1024;
// A thread count as -T and HUFPACK_THREADS give it: a whole number from 0 to kLargestThreadCount.
bool ParseThreads(const char* text, int& threads);

// Parses the arguments. False for a usage error, which `problem` then names.
bool ParseCommandLine(int argc, char** argv, CommandLine& line, std::string& problem);
