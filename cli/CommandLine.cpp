// Parsing a hufpack command line: getopt_long's options, then the combinations that make no
// sense refused.

#include "CommandLine.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <getopt.h>

namespace {

enum LongOnly : int { kRemove = 256, kSync, kProgress, kNoProgress, kFast, kBest };

// A long option and what getopt_long returns for it: the short option's letter, or a LongOnly.
constexpr option Flag(const char* name, int value)
{
    return { name, no_argument, nullptr, value };
}

constexpr option WithValue(const char* name, int value)
{
    return { name, required_argument, nullptr, value };
}

constexpr option kOptions[] = { Flag("compress", 'z'),       Flag("decompress", 'd'),
                                Flag("uncompress", 'd'),     Flag("stdout", 'c'),
                                Flag("to-stdout", 'c'),      WithValue("output", 'o'),
                                Flag("force", 'f'),          Flag("keep", 'k'),
                                Flag("rm", kRemove),         WithValue("suffix", 'S'),
                                Flag("test", 't'),           Flag("list", 'l'),
                                Flag("verbose", 'v'),        Flag("quiet", 'q'),
                                Flag("progress", kProgress), Flag("no-progress", kNoProgress),
                                Flag("sync", kSync),         Flag("recursive", 'r'),
                                WithValue("threads", 'T'),   Flag("fast", kFast),
                                Flag("best", kBest),         Flag("help", 'h'),
                                Flag("version", 'V'),        { nullptr, 0, nullptr, 0 } };
// The leading ':' has a missing value reported as ':', apart from an unknown option. -1 to -9
// are gzip's levels: the format has one code, so they change nothing, and are taken so that
// scripts and `tar -I 'hufpack -9'` work.
constexpr const char* kShortOptions = ":123456789cdfhklo:qrS:tT:vVz";
// The same for getopt_long, which then hands each FILE over in its place (as option 1), so that
// the files before "--" are told from those after it: only a verb before it is a verb.
constexpr const char* kInOrder = "-:123456789cdfhklo:qrS:tT:vVz";

bool IsShortOption(int option)
{
    return option > 0 && option < 256 && option != ':'
        && std::strchr(kShortOptions, option) != nullptr;
}

// The long options that `typed` (such as "--s") is the start of, when more than one is meant:
// getopt refuses such an abbreviation. Empty otherwise.
std::string Possibilities(const std::string& typed)
{
    const std::string prefix = typed.substr(2);
    std::string names;
    int meanings = 0;
    int meaning = 0;
    for (const option* o = kOptions; o->name; ++o) {
        if (std::strncmp(o->name, prefix.c_str(), prefix.size()) != 0)
            continue;
        names += std::string(" '--") + o->name + "'";
        if (meanings == 0 || o->val != meaning)
            ++meanings;
        meaning = o->val;
    }
    return meanings > 1 ? names : std::string();
}

// What getopt_long refused, worded as getopt words it and naming the option as it was typed.
// getopt keeps no note of the word it was reading, but its rules tell: a long option that it
// refuses has been stepped past, so it is the word before optind, and optopt holds its value (0
// when no option has that name); so does a short option that ends its word and lacks its value.
// Any other short option is named by its letter, wherever it stood in a bundle.
std::string Problem(int returned, char** argv)
{
    const std::string word = optind > 0 && argv[optind - 1] ? argv[optind - 1] : "";
    const std::string longName = word.substr(0, word.find('='));
    const std::string shortName = std::string("-") + static_cast<char>(optopt);
    if (returned == ':')
        return "option '" + (word.rfind("--", 0) == 0 ? longName : shortName) + "' needs a value";
    if (optopt == 0) {
        if (const std::string possible = Possibilities(longName); !possible.empty())
            return "option '" + longName + "' is ambiguous; possibilities:" + possible;
        return "unknown option '" + longName + "'";
    }
    if (IsShortOption(optopt) || optopt >= 256)
        return "option '" + longName + "' doesn't allow an argument";
    return "unknown option '" + shortName + "'";
}

} // namespace

bool ParseThreads(const char* text, int& threads)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || value < 0 || value > kLargestThreadCount)
        return false;
    threads = static_cast<int>(value);
    return true;
}

namespace {

bool Refuse(std::string& problem, std::string text)
{
    problem = std::move(text);
    return false;
}

// The checks that need every option: combinations that make no sense are refused, never guessed.
bool CheckCombinations(const CommandLine& line, bool compressAsked, bool otherOptions,
                       std::string& problem)
{
    if (line.help || line.version)
        return true;
    if (line.verbForm) {
        const std::string& command = line.files[0];
        if (otherOptions)
            return Refuse(problem, command + " takes no options but -f and --sync");
        if (line.files.size() != 3)
            return Refuse(problem, command + " takes a SOURCE and a DEST");
        if (line.files[1] == "-" || line.files[2] == "-")
            return Refuse(problem,
                          command
                              + " reads and writes files; for standard input and "
                                "output, use hufpack -c or hufpack -dc");
        return true;
    }
    if (compressAsked && line.action != CommandLine::Action::Compress)
        return Refuse(problem, "-z does not go with -d, -t or -l");
    const bool writesFiles = line.action == CommandLine::Action::Compress
        || line.action == CommandLine::Action::Decompress;
    if (!line.output.empty()) {
        if (!writesFiles)
            return Refuse(problem, "-o does not go with -t or -l");
        if (line.toStdout)
            return Refuse(problem, "-o and -c both name the output");
        if (line.files.size() > 1)
            return Refuse(problem, "-o names the output of one file, not of several");
    }
    if (line.removeSource
        && (!writesFiles || line.toStdout || line.output == "-" || line.output == kDevStdout))
        return Refuse(problem, "--rm needs an output file to keep what it removes");
    if (line.recursive && !line.output.empty())
        return Refuse(problem, "-o names the output of one file, not of a folder's");
    if (line.quiet && line.verbose)
        return Refuse(problem, "-q and -v ask for opposite things");
    if (line.suffix.empty() || line.suffix.find('/') != std::string::npos)
        return Refuse(problem, "the suffix must be a non-empty name without '/'");
    return true;
}

} // namespace

bool ParseCommandLine(int argc, char** argv, CommandLine& line, std::string& problem)
{
    // Options may come anywhere, as users type them (`hufpack notes.txt -v`), unless
    // POSIXLY_CORRECT asks to stop at the first file; "--" ends them, and every argument after
    // it is a file, `encode` and `decode` too.
    opterr = 0;
    optind = 0;
    const bool posix = std::getenv("POSIXLY_CORRECT") != nullptr;
    bool compressAsked = false;
    bool otherOptions = false; // anything but -f and --sync
    std::size_t namedBeforeEnd = 0;
    for (;;) {
        const int option = getopt_long(argc, argv, kInOrder, kOptions, nullptr);
        if (option == -1)
            break;
        if (option == 1) {
            line.files.emplace_back(optarg);
            if (posix) {
                for (; optind < argc; ++optind)
                    line.files.emplace_back(argv[optind]);
            }
            namedBeforeEnd = line.files.size();
            continue;
        }
        otherOptions |= option != 'f' && option != kSync;
        switch (option) {
        case 'z':
            compressAsked = true;
            break;
        case 'd':
            if (line.action == CommandLine::Action::Compress)
                line.action = CommandLine::Action::Decompress;
            break;
        case 't':
            if (line.action == CommandLine::Action::List)
                return Refuse(problem, "-t and -l ask for different things");
            line.action = CommandLine::Action::Test;
            break;
        case 'l':
            if (line.action == CommandLine::Action::Test)
                return Refuse(problem, "-t and -l ask for different things");
            line.action = CommandLine::Action::List;
            break;
        case 'c':
            line.toStdout = true;
            break;
        case 'o':
            if (*optarg == '\0')
                return Refuse(problem, "option '-o' names no file");
            line.output = optarg;
            break;
        case 'f':
            line.force = true;
            break;
        case 'k':
            break; // the source is kept anyway
        case kRemove:
            line.removeSource = true;
            break;
        case 'S':
            line.suffix = optarg;
            break;
        case 'v':
            line.verbose = true;
            break;
        case 'q':
            line.quiet = true;
            break;
        case kProgress:
            line.showProgress = true;
            line.noProgress = false;
            break;
        case kNoProgress:
            line.noProgress = true;
            line.showProgress = false;
            break;
        case 'r':
            line.recursive = true;
            break;
        case 'T':
            if (int threads = 0; ParseThreads(optarg, threads))
                line.threads = threads;
            else
                return Refuse(problem,
                              std::string("-T takes a number of threads, 0 or more, not '") + optarg
                                  + "'");
            break;
        case kFast:
        case kBest:
        case '1':
        case '2':
        case '3':
        case '4':
        case '5':
        case '6':
        case '7':
        case '8':
        case '9':
            break; // one code for every level
        case kSync:
            line.sync = true;
            break;
        case 'h':
            line.help = true;
            break;
        case 'V':
            line.version = true;
            break;
        default: // '?' or ':'
            return Refuse(problem, Problem(option, argv));
        }
    }
    for (int i = optind; i < argc; ++i)
        line.files.emplace_back(argv[i]);
    line.verbForm = namedBeforeEnd > 0 && (line.files[0] == "encode" || line.files[0] == "decode");
    if (!CheckCombinations(line, compressAsked, otherOptions, problem))
        return false;
    if (line.verbForm) {
        line.action = line.files[0] == "encode" ? CommandLine::Action::Compress
                                                : CommandLine::Action::Decompress;
        line.files.erase(line.files.begin());
    }
    return true;
}
