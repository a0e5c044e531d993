// One FILE of the files form, from its output name to the report of its job.

#include "FileRunner.h"

#include "OutputName.h"
#include "ProgressLine.h"
#include "Reporting.h"
#include "ShownName.h"
#include "StandardInput.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A descriptor that closes itself.
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

constexpr double kMeasurableSeconds = 0.05;

// The new file's name in the folder of its source, from the output's path beside it.
std::string LastPart(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

int FileRunner::Run(const hufpack::FoundFile& found)
{
    using Action = CommandLine::Action;
    using Kind = OutputChoice::Kind;
    const std::string& file = found.path;
    if (found.reason != hufpack::Reason::None || found.error != 0) {
        hufpack::Failure failure;
        failure.error = found.error;
        failure.reason = found.reason;
        return Complain(file, ReasonFor(failure));
    }
    const bool fromStdin = found.folder < 0;
    const std::string name = fromStdin ? kStandardInput : file;
    const bool compress = m_line.action == Action::Compress;

    const OutputChoice output = ChooseOutput(m_line, file);
    if (output.kind == Kind::Refused)
        return Complain(file, output.name);
    bool toStdout = output.kind == Kind::StandardOutput;
    const std::string outputName = toStdout ? kStandardOutput
        : output.kind == Kind::Nowhere      ? "/dev/null"
                                            : output.name;
    if (fromStdin && ClosedAtStart().input)
        return Complain(kStandardInput, std::strerror(EBADF));
    if (toStdout && ClosedAtStart().output)
        return Complain(kStandardOutput, std::strerror(EBADF));
    if (toStdout && compress && ::isatty(1) && !m_line.force)
        return Complain(kStandardOutput,
                        "compressed data not written to a terminal; use -f to force it");
    if (fromStdin && !compress && ::isatty(0) && !m_line.force)
        return Complain(kStandardInput, "compressed data not read from a terminal");

    hufpack::JobSource source = fromStdin ? StandardInputSource()
                                          : hufpack::JobSource::InFolder(found.folder, found.name);
    source.followLink = !found.walked;
    if (m_line.action == Action::List)
        return List(source, name);

    Descriptor nowhere;
    // Beside its source, the new file is made in the folder the source was found in; a name
    // that -o gives is the job's to resolve.
    const bool besideSource = output.kind == Kind::File && m_line.output.empty() && !fromStdin;
    hufpack::JobDestination destination = besideSource
        ? hufpack::JobDestination::InFolder(found.folder, LastPart(outputName))
        : hufpack::JobDestination(outputName);
    Descriptor device;
    bool isDevice = false;
    if (output.kind == Kind::File && !m_line.output.empty())
        device.Reset(hufpack::OpenOutputDevice(outputName, isDevice));
    if (isDevice) {
        if (m_line.removeSource)
            return Complain(outputName, "--rm needs an output file to keep what it removes");
        if (device.Get() < 0)
            return Complain(outputName, std::strerror(errno));
        if (compress && ::isatty(device.Get()) && !m_line.force)
            return Complain(outputName,
                            "compressed data not written to a terminal; use -f to force it");
        destination = hufpack::JobDestination::Descriptor(device.Get());
        toStdout = true; // written in order, nothing renamed
    } else if (output.kind == Kind::Nowhere) {
        nowhere.Reset(::open("/dev/null", O_WRONLY | O_CLOEXEC));
        destination = hufpack::JobDestination::Descriptor(nowhere.Get());
    } else if (toStdout) {
        destination = hufpack::JobDestination::Descriptor(1);
    }

    // Compressing, both passes read the source; restoring, the unit is a byte written.
    ProgressLine progress(ShownName(name, stderr), compress ? 2 : 1,
                          !m_line.quiet && !m_line.noProgress
                              && (m_line.showProgress || ::isatty(2)),
                          m_line.showProgress);
    hufpack::JobOptions options;
    options.replace = m_line.force;
    options.sync = m_line.sync;
    options.copyTimes = !fromStdin && destination.fd < 0;
    options.copyOwner = besideSource;
    options.removeSource = m_line.removeSource && !fromStdin;
    options.removeLinkedSource = m_line.force;
    options.threads = m_line.threads.value_or(0);
    options.members = true;
    options.spoolFolder = SpoolFolder();
    if (progress.Enabled()) {
        options.progress = [&progress](std::int64_t done, std::int64_t total) {
            progress.Update(done, total);
            return true;
        };
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
        if (fromStdin && outcome.file == hufpack::JobFile::None && outcome.error != 0)
            return Complain("spooling standard input into " + options.spoolFolder,
                            std::strerror(outcome.error));
        return ReportFailure(outcome, name, outputName);
    }
    if (compress && outcome.members > 1 && !m_line.quiet)
        std::fprintf(stderr,
                     "hufpack: %s: written as %d members, one after another, since one holds "
                     "2 GiB at most; the first form and the dialog read only the first\n",
                     ShownName(name, stderr).c_str(), outcome.members);
    if (m_line.verbose && outcome.linkReplaced)
        std::fprintf(stderr,
                     "hufpack: %s: a symbolic link someone else could have made or moved; "
                     "replaced, not followed\n",
                     ShownName(outputName, stderr).c_str());
    if (m_line.verbose) {
        if (m_line.action == Action::Test)
            std::fprintf(stderr, "hufpack: %s: OK\n", ShownName(name, stderr).c_str());
        else
            Verbose(name, outputName, outcome.read, outcome.written, seconds);
    }
    return kExitDone;
}

// One line for -v: the sizes, what was saved, and the speed over the uncompressed bytes.
void FileRunner::Verbose(const std::string& name, const std::string& outputName, std::int64_t in,
                         std::int64_t out, double seconds) const
{
    const bool compress = m_line.action == CommandLine::Action::Compress;
    const std::int64_t original = compress ? in : out;
    const std::int64_t compressed = compress ? out : in;
    // What the file saved, or how much it grew: a short or already compressed source grows.
    std::string change;
    if (original > 0) {
        char text[48];
        const double percent
            = 100.0 * static_cast<double>(original - compressed) / static_cast<double>(original);
        std::snprintf(text, sizeof text, percent >= 0 ? ", %.1f%% saved" : ", %.1f%% larger",
                      percent >= 0 ? percent : -percent);
        change = text;
    }
    // A speed only where the time can tell one: a job of a few milliseconds is mostly the
    // program starting.
    std::string speed;
    if (seconds >= kMeasurableSeconds) {
        char text[32];
        std::snprintf(text, sizeof text, ", %.1f MB/s",
                      static_cast<double>(original) / seconds / 1e6);
        speed = text;
    }
    std::fprintf(stderr, "hufpack: %s: %lld -> %lld bytes%s%s, to %s\n",
                 ShownName(name, stderr).c_str(), static_cast<long long>(in),
                 static_cast<long long>(out), change.c_str(), speed.c_str(),
                 ShownName(outputName, stderr).c_str());
}

int FileRunner::List(const hufpack::JobSource& source, const std::string& name)
{
    hufpack::JobOptions options;
    options.members = true;
    options.spoolFolder = SpoolFolder();
    std::vector<hufpack::FileSummary> members;
    const hufpack::JobOutcome outcome = hufpack::SummarizeFile(source, options, members);
    if (outcome.result != hufpack::JobResult::Done) {
        if (outcome.file == hufpack::JobFile::None && outcome.error != 0)
            return Complain("spooling standard input into " + options.spoolFolder,
                            std::strerror(outcome.error));
        return ReportFailure(outcome, name, name);
    }
    if (m_listed == 0)
        std::printf("%12s %12s %7s %7s %7s  %s\n", "compressed", "uncompressed", "ratio", "entries",
                    "longest", "name");
    // The file's line: its bytes, padding included, and what its members hold; with -v, a line
    // for each of several members before it.
    hufpack::FileSummary file;
    file.compressedBytes = outcome.read;
    for (std::size_t i = 0; i < members.size(); ++i) {
        const hufpack::FileSummary& member = members[i];
        file.originalBytes += member.originalBytes;
        file.entries = std::max(file.entries, member.entries);
        file.longestCode = std::max(file.longestCode, member.longestCode);
        if (m_line.verbose && members.size() > 1)
            ListLine(member, name + ", member " + std::to_string(i + 1));
    }
    ListLine(file, name);
    ++m_listed;
    m_listedCompressed += file.compressedBytes;
    m_listedOriginal += file.originalBytes;
    return kExitDone;
}

void FileRunner::ListLine(const hufpack::FileSummary& summary, const std::string& name) const
{
    std::printf("%12lld %12lld %7s %7d %7d  %s\n", static_cast<long long>(summary.compressedBytes),
                static_cast<long long>(summary.originalBytes),
                SavedPercent(summary.compressedBytes, summary.originalBytes).c_str(),
                summary.entries, summary.longestCode, ShownName(name, stdout).c_str());
}

void FileRunner::FinishList() const
{
    if (m_listed > 1)
        std::printf("%12lld %12lld %7s %7s %7s  (totals)\n",
                    static_cast<long long>(m_listedCompressed),
                    static_cast<long long>(m_listedOriginal),
                    SavedPercent(m_listedCompressed, m_listedOriginal).c_str(), "", "");
}
