// hufpack: compresses and restores files from the command line, the way gzip, xz and zstd do, and
// keeps the two commands of its first form for the scripts that use them.

#include "CommandLine.h"
#include "ProgressLine.h"
#include "ShownName.h"
#include "hufpack/FileJobs.h"
#include "hufpack/Spool.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Exit statuses, one per outcome a script may want to tell apart. With several files, the first
// failure's status.
enum ExitStatus : int {
    kExitDone = 0,
    kExitCannotOpen = 1,
    kExitUsage = 2,
    kExitNotOurFormat = 3,
    kExitTooLarge = 4,
    kExitSameFile = 5,
};

constexpr const char* kHelp
    = "Compresses files with static Huffman coding over byte values, or restores them.\n"
      "Each FILE becomes FILE.huf; with -d, each FILE.huf becomes FILE. The source is kept.\n"
      "With no FILE, or when FILE is -, standard input goes to standard output.\n"
      "\n"
      "  -d, --decompress     restore instead of compressing\n"
      "  -z, --compress       compress (the default)\n"
      "  -c, --stdout         write to standard output and keep every file as it is\n"
      "  -o, --output=FILE    write the output of the one FILE to FILE\n"
      "  -f, --force          replace existing output files; write compressed data to a\n"
      "                       terminal; compress a file that already has the suffix\n"
      "  -k, --keep           keep the source files (the default)\n"
      "      --rm             remove each source once its output is complete and synced\n"
      "  -S, --suffix=SUF     use the suffix SUF instead of .huf\n"
      "  -t, --test           check each compressed FILE fully, writing nothing\n"
      "  -l, --list           show the sizes and code of each compressed FILE\n"
      "  -v, --verbose        say what was done with each file\n"
      "  -q, --quiet          show no progress\n"
      "      --progress       show progress even for short jobs and off a terminal\n"
      "      --sync           sync each output to the disk before going on\n"
      "  -h, --help           show this help and exit\n"
      "  -V, --version        show the version and exit\n"
      "\n"
      "The first form's commands write one DEST each and print \"Done.\":\n"
      "  encode SOURCE DEST   compress SOURCE into DEST\n"
      "  decode SOURCE DEST   restore the file that SOURCE was compressed from, into DEST\n"
      "\n"
      "An output file is written completely or not at all: on any failure an existing one\n"
      "keeps its bytes. Output to standard output cannot be taken back: a damaged file is\n"
      "found only at its end, and then exits 3.\n"
      "\n"
      "Exit status: 0 done; 1 a file cannot be opened or written, an output already exists,\n"
      "or a file is refused; 2 wrong usage; 3 a file is not one this program wrote, or it is\n"
      "damaged; 4 a file is too large for the format; 5 a source and its output are the same\n"
      "file. With several files, the status of the first failure.\n";

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
int Complain(const std::string& path, const std::string& reason, int status = kExitCannotOpen)
{
    std::fprintf(stderr, "hufpack: %s: %s\n", ShownName(path, stderr).c_str(), reason.c_str());
    return status;
}

// Which of the standard descriptors were closed when the tool started. Each is held by
// /dev/null from then on, so that no file a job opens can take its number (a spool taking
// descriptor 0 was once read as the input); a job that needs a closed one fails instead.
struct ClosedStandardDescriptors
{
    bool input = false;
    bool output = false;
    bool errors = false;
};

ClosedStandardDescriptors HoldClosedStandardDescriptors()
{
    ClosedStandardDescriptors closed;
    bool* const flags[] = { &closed.input, &closed.output, &closed.errors };
    for (int fd = 0; fd < 3; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        *flags[fd] = true;
        // The lowest free number is this one.
        const int held = ::open("/dev/null", O_RDWR);
        if (held >= 0 && held != fd)
            ::close(held);
    }
    return closed;
}

ClosedStandardDescriptors g_closed;

// What the tool printed on standard output, as text rather than data, must have arrived: a
// failed write is an error, as it is for gzip and coreutils.
int FinishTextOutput(int status)
{
    errno = 0;
    if (g_closed.output)
        errno = EBADF;
    else if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return status;
    if (errno == 0)
        std::fputs("hufpack: write error\n", stderr);
    else
        std::fprintf(stderr, "hufpack: write error: %s\n", std::strerror(errno));
    return status == kExitDone ? kExitCannotOpen : status;
}

int ReportFailure(const hufpack::JobOutcome& outcome, const std::string& source,
                  const std::string& destination)
{
    const bool aboutDestination = outcome.file == hufpack::JobFile::Destination;
    const std::string reason = aboutDestination && outcome.error == EEXIST
        ? "already exists; use -f to replace it"
        : hufpack::DescribeFailure(outcome);
    if (outcome.file == hufpack::JobFile::None)
        std::fprintf(stderr, "hufpack: %s\n", reason.c_str());
    else if (outcome.result == hufpack::JobResult::TooLarge && outcome.reason == nullptr)
        Complain(aboutDestination ? destination : source, "too large for this format");
    else
        Complain(aboutDestination ? destination : source, reason);
    return ExitStatusFor(outcome.result);
}

constexpr const char* kStandardInput = "(stdin)";
constexpr const char* kStandardOutput = "(stdout)";

class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) { }
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    [[nodiscard]] int Get() const { return m_fd; }
    void Reset(int fd)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

// Standard input as a file a job can read: input redirected from a file at its start is used
// as it is; anything else is copied first, as far as the job needs it, into a file without a
// name in $TMPDIR. For a listing, a pipe is read as it stands. -1, with the message said, when
// it cannot be done; `status` is then the exit status.
int StandardInputAsFile(CommandLine::Action action, int& status)
{
    status = kExitDone;
    struct stat info
    {
    };
    const bool file = ::fstat(0, &info) == 0 && S_ISREG(info.st_mode);
    if (file && ::lseek(0, 0, SEEK_CUR) == 0)
        return ::fcntl(0, F_DUPFD_CLOEXEC, 0);
    if (!file && action == CommandLine::Action::List)
        return ::fcntl(0, F_DUPFD_CLOEXEC, 0);
    const char* tmpdir = std::getenv("TMPDIR");
    const std::string folder = tmpdir && *tmpdir ? tmpdir : "/tmp";
    const hufpack::SpoolFor what = action == CommandLine::Action::Compress
        ? hufpack::SpoolFor::Compressing
        : action == CommandLine::Action::List ? hufpack::SpoolFor::Listing
                                              : hufpack::SpoolFor::Decoding;
    int fd = -1;
    const hufpack::JobOutcome outcome = hufpack::SpoolToUnnamedFile(0, folder, what, fd);
    if (outcome.result == hufpack::JobResult::TooLarge)
        status = Complain(kStandardInput, "too large for this format", kExitTooLarge);
    else if (outcome.file == hufpack::JobFile::Source)
        status = Complain(kStandardInput, std::strerror(outcome.error));
    else if (outcome.result != hufpack::JobResult::Done)
        status = Complain("spooling standard input into " + folder, std::strerror(outcome.error));
    return fd;
}

std::int64_t SizeOf(int fd)
{
    struct stat info
    {
    };
    return ::fstat(fd, &info) == 0 ? info.st_size : 0;
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size()
        && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Runs the command line's action on one FILE; its exit status.
class FileRunner
{
public:
    explicit FileRunner(const CommandLine& line) : m_line(line) { }

    int Run(const std::string& file);
    // The listing's totals line, when several files were listed.
    void FinishList() const;

private:
    int List(const hufpack::JobSource& source, const std::string& name);
    void Verbose(const std::string& name, const std::string& outputName, std::int64_t in,
                 std::int64_t out, double seconds) const;

    const CommandLine& m_line;
    int m_listed = 0;
    std::int64_t m_listedCompressed = 0;
    std::int64_t m_listedOriginal = 0;
};

int FileRunner::Run(const std::string& file)
{
    using Action = CommandLine::Action;
    const bool fromStdin = file == "-";
    const std::string name = fromStdin ? kStandardInput : file;
    const bool compress = m_line.action == Action::Compress;

    // Where the output goes: standard output, a file named by -o, or the name with the suffix
    // added or taken off.
    const bool toStdout = (m_line.action == Action::Compress || m_line.action == Action::Decompress)
        && (m_line.toStdout || m_line.output == "-" || (fromStdin && m_line.output.empty()));
    std::string outputName;
    if (m_line.action == Action::Test)
        outputName = "/dev/null";
    else if (toStdout)
        outputName = kStandardOutput;
    else if (!m_line.output.empty())
        outputName = m_line.output;
    else if (compress) {
        if (EndsWith(file, m_line.suffix) && !m_line.force)
            return Complain(file, "already has the " + m_line.suffix + " suffix; unchanged");
        outputName = file + m_line.suffix;
    } else if (m_line.action == Action::Decompress) {
        if (!EndsWith(file, m_line.suffix) || file.size() == m_line.suffix.size()
            || file[file.size() - m_line.suffix.size() - 1] == '/')
            return Complain(file, "unknown suffix, not " + m_line.suffix + "; ignored");
        outputName = file.substr(0, file.size() - m_line.suffix.size());
    }
    if (fromStdin && g_closed.input)
        return Complain(kStandardInput, std::strerror(EBADF));
    if (toStdout && g_closed.output)
        return Complain(kStandardOutput, std::strerror(EBADF));
    if (toStdout && compress && ::isatty(1) && !m_line.force)
        return Complain(kStandardOutput,
                        "compressed data not written to a terminal; use -f to force it");
    if (fromStdin && !compress && ::isatty(0) && !m_line.force)
        return Complain(kStandardInput, "compressed data not read from a terminal");

    Descriptor spooled;
    std::int64_t inputBytes = 0;
    if (fromStdin) {
        int status = kExitDone;
        spooled.Reset(StandardInputAsFile(m_line.action, status));
        if (spooled.Get() < 0)
            return status;
        inputBytes = SizeOf(spooled.Get());
    } else {
        struct stat info
        {
        };
        if (::stat(file.c_str(), &info) == 0)
            inputBytes = info.st_size;
    }
    const hufpack::JobSource source
        = fromStdin ? hufpack::JobSource::Descriptor(spooled.Get()) : hufpack::JobSource(file);
    if (m_line.action == Action::List)
        return List(source, name);

    Descriptor nowhere;
    hufpack::JobDestination destination(outputName);
    if (m_line.action == Action::Test) {
        nowhere.Reset(::open("/dev/null", O_WRONLY | O_CLOEXEC));
        destination = hufpack::JobDestination::Descriptor(nowhere.Get());
    } else if (toStdout) {
        destination = hufpack::JobDestination::Descriptor(1);
    }

    ProgressLine progress(ShownName(name, stderr), inputBytes,
                          !m_line.quiet && (m_line.showProgress || ::isatty(2)),
                          m_line.showProgress);
    hufpack::JobOptions options;
    options.replace = m_line.force;
    options.sync = m_line.sync;
    options.report = false;
    options.copyTimes = !fromStdin && destination.fd < 0;
    options.removeSource = m_line.removeSource && !fromStdin;
    options.removeLinkedSource = m_line.force;
    if (progress.Enabled()) {
        options.progress
            = [&progress](std::int64_t done, std::int64_t total) { progress.Update(done, total); };
    }
    const auto start = std::chrono::steady_clock::now();
    const hufpack::JobOutcome outcome
        = hufpack::RunFileJob(compress ? hufpack::JobKind::Encode : hufpack::JobKind::Decode,
                              source, destination, options);
    const double seconds
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    progress.Clear();
    if (outcome.result != hufpack::JobResult::Done) {
        // A reader that went away ends the tool as it ends any program in a pipeline: quietly.
        if (toStdout && outcome.file == hufpack::JobFile::Destination && outcome.error == EPIPE) {
            std::signal(SIGPIPE, SIG_DFL);
            std::raise(SIGPIPE);
        }
        return ReportFailure(outcome, name, outputName);
    }
    if (m_line.verbose) {
        if (m_line.action == Action::Test) {
            std::fprintf(stderr, "hufpack: %s: OK\n", ShownName(name, stderr).c_str());
        } else {
            Verbose(name, outputName, inputBytes, outcome.written, seconds);
        }
    }
    return kExitDone;
}

// gzip's ratio: how much of the original the compressed file saves.
std::string SavedPercent(std::int64_t compressed, std::int64_t original)
{
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%",
                  original > 0 ? 100.0 * (1.0 - static_cast<double>(compressed) / original) : 0.0);
    return text;
}

// One line for -v: the sizes, what was saved, and the speed over the uncompressed bytes.
void FileRunner::Verbose(const std::string& name, const std::string& outputName, std::int64_t in,
                         std::int64_t out, double seconds) const
{
    const bool compress = m_line.action == CommandLine::Action::Compress;
    const std::int64_t original = compress ? in : out;
    std::fprintf(stderr, "hufpack: %s: %lld -> %lld bytes, %s saved, %.1f MB/s, to %s\n",
                 ShownName(name, stderr).c_str(), static_cast<long long>(in),
                 static_cast<long long>(out), SavedPercent(compress ? out : in, original).c_str(),
                 seconds > 0 ? static_cast<double>(original) / seconds / 1e6 : 0.0,
                 ShownName(outputName, stderr).c_str());
}

int FileRunner::List(const hufpack::JobSource& source, const std::string& name)
{
    hufpack::FileSummary summary;
    const hufpack::JobOutcome outcome = hufpack::SummarizeFile(source, summary);
    if (outcome.result != hufpack::JobResult::Done)
        return ReportFailure(outcome, name, name);
    if (m_listed == 0)
        std::printf("%12s %12s %7s %7s %7s  %s\n", "compressed", "uncompressed", "ratio", "entries",
                    "longest", "name");
    std::printf("%12lld %12lld %7s %7d %7d  %s\n", static_cast<long long>(summary.compressedBytes),
                static_cast<long long>(summary.originalBytes),
                SavedPercent(summary.compressedBytes, summary.originalBytes).c_str(),
                summary.entries, summary.longestCode, ShownName(name, stdout).c_str());
    ++m_listed;
    m_listedCompressed += summary.compressedBytes;
    m_listedOriginal += summary.originalBytes;
    return kExitDone;
}

void FileRunner::FinishList() const
{
    if (m_listed > 1)
        std::printf("%12lld %12lld %7s %7s %7s  (totals)\n",
                    static_cast<long long>(m_listedCompressed),
                    static_cast<long long>(m_listedOriginal),
                    SavedPercent(m_listedCompressed, m_listedOriginal).c_str(), "", "");
}

// The first form: `hufpack encode|decode SOURCE DEST`, exactly as scripts know it.
int RunVerb(const CommandLine& line)
{
    const std::string& source = line.files[0];
    const std::string& destination = line.files[1];
    hufpack::JobOptions options;
    options.replace = line.force;
    options.sync = line.sync;
    const hufpack::JobOutcome outcome = hufpack::RunFileJob(
        line.action == CommandLine::Action::Compress ? hufpack::JobKind::Encode
                                                     : hufpack::JobKind::Decode,
        source, destination, options);
    if (outcome.result != hufpack::JobResult::Done)
        return ReportFailure(outcome, source, destination);
    return kExitDone;
}

} // namespace

int main(int argc, char** argv)
{
    g_closed = HoldClosedStandardDescriptors();
    // A closed standard output must not turn a finished job of the first form into a failure:
    // "Done." is written last, and a write that fails is simply lost. Data written to a closed
    // pipe fails the job, which then ends as a program in a pipeline ends, by SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    CommandLine line;
    std::string problem;
    if (!ParseCommandLine(argc, argv, line, problem))
        return UsageError(problem);
    if (line.help) {
        std::printf("%s\n%s", kUsage, kHelp);
        return FinishTextOutput(kExitDone);
    }
    if (line.version) {
        std::printf("hufpack %s\n", HUFPACK_VERSION);
        return FinishTextOutput(kExitDone);
    }
    if (line.verbForm)
        return RunVerb(line);

    if (line.files.empty())
        line.files.emplace_back("-");
    FileRunner runner(line);
    int status = kExitDone;
    for (const std::string& file : line.files) {
        const int fileStatus = runner.Run(file);
        if (status == kExitDone)
            status = fileStatus;
    }
    if (line.action == CommandLine::Action::List) {
        runner.FinishList();
        return FinishTextOutput(status);
    }
    return status;
}
