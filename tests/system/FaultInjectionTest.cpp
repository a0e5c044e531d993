// Faults that come from outside the program: a file system that fills up during a job, the file
// size limit, a job killed or interrupted part-way, a destination path that cannot lead to a file.
// Whatever happens, the source is only read, the destination keeps its old bytes (or stays
// absent), and nothing is left behind.

#include "SystemCalls.h"
#include "TestSupport.h"
#include "hufpack/FileJobs.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <ostream>
#include <spawn.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace hufpack {

// Failure messages name a result by value and text instead of by its bytes.
[[maybe_unused]] static void PrintTo(JobResult result, std::ostream* out)
{
    Failure failure;
    failure.result = result;
    *out << static_cast<int>(result) << " (" << DescribeFailure(failure) << ")";
}

namespace {

namespace fs = std::filesystem;
using test::Bytes;
using Job = JobResult (*)(const std::string&, const std::string&);

const Bytes kOld = test::BytesOf("the old destination, which a failed job must not touch");

// Runs a job with its "Done." kept off the test's output.
JobResult RunQuietly(Job job, const std::string& source, const std::string& destination)
{
    testing::internal::CaptureStdout();
    const JobResult result = job(source, destination);
    testing::internal::GetCapturedStdout();
    return result;
}

// Everything under a folder: each entry's kind, permissions and, for a file, bytes. Links are
// recorded, never followed.
struct Entry
{
    fs::file_type type;
    fs::perms mode;
    Bytes bytes;
    bool operator==(const Entry&) const = default;
};
using Snapshot = std::map<std::string, Entry>;

// The whole file in one read: the folders below hold files of tens of MiB.
Bytes ReadAll(const fs::path& path)
{
    Bytes bytes(fs::file_size(path));
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), std::ssize(bytes));
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    return bytes;
}

Snapshot SnapshotOf(const fs::path& root)
{
    Snapshot snapshot;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        const fs::file_status status = item.symlink_status();
        Entry entry { status.type(), status.permissions(), {} };
        if (entry.type == fs::file_type::regular)
            entry.bytes = ReadAll(item.path());
        snapshot.emplace(item.path().lexically_relative(root).string(), std::move(entry));
    }
    return snapshot;
}

// Names, sizes and modes for a failure message; the bytes themselves would flood it.
std::string Describe(const Snapshot& snapshot)
{
    std::ostringstream text;
    for (const auto& [name, entry] : snapshot)
        text << "\n  " << name << " (" << entry.bytes.size() << " bytes, mode " << std::oct
             << static_cast<unsigned>(entry.mode) << std::dec << ")";
    return snapshot.empty() ? " (empty)" : text.str();
}

using test::SmallDisk;

constexpr std::size_t kDiskBytes = 2 << 20;
constexpr std::size_t kPage = 4096;

// A scratch folder holding the sources and, as its sub-folder "disk", a 2 MiB tmpfs.
class FullDisk : public testing::Test
{
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "mounting a small tmpfs needs root";
        m_disk = std::make_unique<SmallDisk>(m_dir.Path() / "disk", kDiskBytes);
        if (!m_disk->Mounted())
            GTEST_SKIP() << "cannot mount a tmpfs here: " << m_disk->Error();
    }

    // Runs a job that cannot fit and checks that it failed and changed nothing anywhere.
    void ExpectFailureChangingNothing(Job job, const std::string& source, const std::string& dest)
    {
        const Snapshot before = SnapshotOf(m_dir.Path());
        const std::uint64_t freeBefore = m_disk->FreeBytes();
        EXPECT_EQ(RunQuietly(job, source, dest), JobResult::CannotOpen)
            << "a write that finds no space fails the job";
        const Snapshot after = SnapshotOf(m_dir.Path());
        EXPECT_TRUE(after == before)
            << "a failed job leaves the source, the destination and both folders as they were, "
               "with no temporary file; before:"
            << Describe(before) << "\nafter:" << Describe(after);
        EXPECT_EQ(m_disk->FreeBytes(), freeBefore) << "the space the job took is given back";
    }

    test::ScratchDir m_dir;
    std::unique_ptr<SmallDisk> m_disk; // declared last, so unmounted first
};

TEST_F(FullDisk, AJobThatDoesNotFitFailsAndChangesNothing)
{
    const Bytes original = test::RandomBytes(3 << 20, 1);
    test::WriteFile(m_dir / "source", original);
    ASSERT_EQ(RunQuietly(EncodeFile, m_dir / "source", m_dir / "packed"), JobResult::Done);
    const std::string destination = *m_disk / "destination";
    for (const Job job : { EncodeFile, DecodeFile }) {
        for (const mode_t mode : { 0, 0644, 0444 }) { // 0: no destination yet
            SCOPED_TRACE(std::string(job == EncodeFile ? "encode" : "decode") + ", destination "
                         + (mode == 0 ? "absent" : "of mode " + std::to_string(mode)));
            if (mode != 0) {
                test::WriteFile(destination, kOld);
                fs::permissions(destination, static_cast<fs::perms>(mode));
            }
            ExpectFailureChangingNothing(job, m_dir / (job == EncodeFile ? "source" : "packed"),
                                         destination);
            fs::remove(destination);
        }
    }
    // The same job into a folder with room restores the file: only the space was missing.
    ASSERT_EQ(RunQuietly(DecodeFile, m_dir / "packed", m_dir / "restored"), JobResult::Done);
    EXPECT_TRUE(ReadAll(m_dir / "restored") == original) << "decoding restores the source";
}

TEST_F(FullDisk, OnePageShortFailsAtTheLastWriteAndAnExactFitSucceeds)
{
    test::WriteFile(m_dir / "source", test::RandomBytes(1 << 20, 3));
    ASSERT_EQ(RunQuietly(EncodeFile, m_dir / "source", m_dir / "expected"), JobResult::Done);
    const Bytes expected = ReadAll(m_dir / "expected");
    const std::size_t pages = (expected.size() + kPage - 1) / kPage;
    const std::uint64_t free = m_disk->FreeBytes();
    ASSERT_GT(free, pages * kPage) << "the disk holds the compressed file";

    // Everything fits but the last page, so the job fails only when it finishes the file.
    const std::string filler = *m_disk / "filler";
    test::WriteFile(filler, Bytes(free - (pages - 1) * kPage, 'f'));
    ASSERT_EQ(m_disk->FreeBytes(), (pages - 1) * kPage) << "the filler leaves one page too few";
    ExpectFailureChangingNothing(EncodeFile, m_dir / "source", *m_disk / "packed");

    fs::resize_file(filler, fs::file_size(filler) - kPage);
    ASSERT_EQ(m_disk->FreeBytes(), pages * kPage) << "now the compressed file just fits";
    EXPECT_EQ(RunQuietly(EncodeFile, m_dir / "source", *m_disk / "packed"), JobResult::Done)
        << "a job that fits succeeds, so the failure above came from the missing page alone";
    EXPECT_TRUE(ReadAll(*m_disk / "packed") == expected)
        << "the destination holds the whole compressed file";
}

// Starts the tool with its standard error going to `errors`; 0 when it cannot.
pid_t StartTool(const std::vector<std::string>& args, const std::string& errors)
{
    const pid_t pid = test::StartTool(args, "/dev/null", errors);
    EXPECT_GT(pid, 0) << "the hufpack tool can be started";
    return pid > 0 ? pid : 0;
}

int WaitFor(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    return status;
}

TEST_F(FullDisk, TheToolExitsWith1AndSaysWhy)
{
    test::WriteFile(m_dir / "source", test::RandomBytes(3 << 20, 4));
    test::WriteFile(*m_disk / "packed", kOld);
    const Snapshot before = SnapshotOf(m_dir.Path());
    const test::ScratchDir logs;
    const pid_t pid
        = StartTool({ "encode", m_dir / "source", *m_disk / "packed", "-f" }, logs / "errors");
    ASSERT_NE(pid, 0);
    const int status = WaitFor(pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1)
        << "a destination that cannot be written exits 1; wait status " << status;
    const Bytes errors = ReadAll(logs / "errors");
    EXPECT_EQ(std::string(errors.begin(), errors.end()),
              "hufpack: " + *m_disk / "packed" + ": No space left on device\n")
        << "the failure names the file and the reason on standard error";
    const Snapshot after = SnapshotOf(m_dir.Path());
    EXPECT_TRUE(after == before) << "the tool's failed job changes nothing; before:"
                                 << Describe(before) << "\nafter:" << Describe(after);
}

TEST(DestinationPath, ANameThatCannotLeadToAFileIsRefusedAndNothingIsMade)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "source", test::TextLikeBytes(5000, 5));
    ASSERT_EQ(RunQuietly(EncodeFile, dir / "source", dir / "packed"), JobResult::Done);
    test::WriteFile(dir / "file", kOld);
    fs::create_symlink("absent/target", dir / "link-into-nowhere");
    const Snapshot before = SnapshotOf(dir.Path());
    for (const Job job : { EncodeFile, DecodeFile }) {
        const std::string source = dir / (job == EncodeFile ? "source" : "packed");
        for (const char* destination : { "file/out", "file/sub/out", "link-into-nowhere" }) {
            SCOPED_TRACE(std::string(job == EncodeFile ? "encode to " : "decode to ")
                         + destination);
            EXPECT_EQ(RunQuietly(job, source, dir / destination), JobResult::CannotOpen)
                << "a folder that is a file, or a link into a missing folder, names no "
                   "destination that can be written";
            const Snapshot after = SnapshotOf(dir.Path());
            EXPECT_TRUE(after == before)
                << "a refused job creates and changes nothing; after:" << Describe(after);
        }
    }
}

// Stops `hufpack ARGS... -o DEST SOURCE` with `signal` while it writes DEST, whose old bytes
// must survive with nothing left beside them: the tool is held at its first progress line, in
// the middle of its job, when the signal comes.
void StopMidJob(const std::vector<std::string>& args, Job job, const fs::path& sourceFile,
                const Bytes& whole, int signal)
{
    test::ScratchDir dir;
    fs::copy_file(sourceFile, dir / "source");
    test::WriteFile(dir / "dest", kOld);
    const Snapshot before = SnapshotOf(dir.Path());
    std::vector<std::string> command = args;
    command.insert(command.end(), { "-f", "--progress", "-o", dir / "dest", dir / "source" });
    test::HeldTool tool(command);
    ASSERT_TRUE(tool.AwaitHeld()) << "the tool stands at its progress line, mid-job";
    ::kill(tool.Pid(), signal);
    const test::Finished finished = tool.Wait();
    EXPECT_EQ(finished.signal, signal) << "the process ends as the signal ends it";
    const Snapshot after = SnapshotOf(dir.Path());
    EXPECT_TRUE(after == before)
        << "a stopped job leaves the source, the old destination and the folder as they were, "
           "with no temporary file; before:"
        << Describe(before) << "\nafter:" << Describe(after);

    ASSERT_EQ(RunQuietly(job, dir / "source", dir / "dest"), JobResult::Done)
        << "a job after a stopped one succeeds";
    EXPECT_TRUE(ReadAll(dir / "dest") == whole) << "the new destination is whole";
    EXPECT_EQ(SnapshotOf(dir.Path()).size(), before.size()) << "and nothing else is there";
}

// Text of a few MiB, which the tool reports its progress on many times, and its compressed form.
class Signals : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_dir = std::make_unique<test::ScratchDir>();
        test::WriteFile(*s_dir / "text", test::TextLikeBytes(8 << 20, 6));
        ASSERT_EQ(RunQuietly(EncodeFile, *s_dir / "text", *s_dir / "packed"), JobResult::Done);
        ASSERT_EQ(RunQuietly(DecodeFile, *s_dir / "packed", *s_dir / "restored"), JobResult::Done);
        s_text = ReadAll(*s_dir / "text");
        s_packed = ReadAll(*s_dir / "packed");
        ASSERT_TRUE(ReadAll(*s_dir / "restored") == s_text) << "the text round-trips";
    }
    static void TearDownTestSuite() { s_dir.reset(); }

    static inline std::unique_ptr<test::ScratchDir> s_dir;
    static inline Bytes s_text;
    static inline Bytes s_packed;
};

TEST_F(Signals, EncodeStoppedKeepsTheOldDestinationAndLeavesNothing)
{
    // The packed text decodes to the text (checked above), so a destination equal to it does too.
    for (const int signal : { SIGKILL, SIGTERM, SIGINT, SIGHUP }) {
        SCOPED_TRACE(strsignal(signal));
        StopMidJob({}, EncodeFile, *s_dir / "text", s_packed, signal);
    }
}

TEST_F(Signals, DecodeStoppedKeepsTheOldDestinationAndLeavesNothing)
{
    for (const int signal : { SIGKILL, SIGTERM, SIGINT, SIGHUP }) {
        SCOPED_TRACE(strsignal(signal));
        StopMidJob({ "-d" }, DecodeFile, *s_dir / "packed", s_text, signal);
    }
}

// The tool ignores SIGPIPE: a reader that went away must not cost a job its result.
TEST_F(Signals, SigpipeDoesNotStopTheTool)
{
    test::ScratchDir dir;
    test::HeldTool tool({ "-d", "--progress", "-o", dir / "dest", *s_dir / "packed" });
    ASSERT_TRUE(tool.AwaitHeld());
    ::kill(tool.Pid(), SIGPIPE);
    EXPECT_EQ(tool.Wait().status, 0) << "the job goes on to its end";
    EXPECT_TRUE(ReadAll(dir / "dest") == s_text);
}

// Where a file system has no unnamed files, the job writes a named one; a signal that ends the
// process removes it first. The job here stops itself with the signal as soon as it runs.
TEST_F(Signals, ANamedTemporaryFileIsRemovedBeforeTheSignalEndsTheProcess)
{
    const Bytes text = test::TextLikeBytes(4 << 20, 9);
    for (const int signal : { SIGINT, SIGTERM, SIGHUP, SIGPIPE }) {
        for (const JobKind kind : { JobKind::Encode, JobKind::Decode }) {
            SCOPED_TRACE(std::string(strsignal(signal))
                         + (kind == JobKind::Encode ? ", encoding" : ", decoding"));
            test::ScratchDir dir;
            test::WriteFile(dir / "text", text);
            ASSERT_EQ(RunQuietly(EncodeFile, dir / "text", dir / "packed"), JobResult::Done);
            test::WriteFile(dir / "dest", kOld);
            const Snapshot before = SnapshotOf(dir.Path());
            const std::string source = dir / (kind == JobKind::Encode ? "text" : "packed");
            EXPECT_EXIT(
                {
                    test::MakeNoUnnamedFiles(true);
                    JobOptions options;
                    options.progress = [signal](std::int64_t, std::int64_t) {
                        ::raise(signal);
                        return true;
                    };
                    (void)RunFileJob(kind, source, dir / "dest", options);
                    std::_Exit(0);
                },
                testing::KilledBySignal(signal), "")
                << "the signal ends the process as it would have";
            const Snapshot after = SnapshotOf(dir.Path());
            EXPECT_TRUE(after == before) << "no temporary file is left; after:" << Describe(after);
        }
    }
}

// A folder on a file system without unnamed files, as NFS, CIFS, FUSE, vfat and exFAT are: a
// bindfs mount of a scratch folder, for as long as the object lives. Needs root and bindfs.
class FuseFolder
{
public:
    FuseFolder()
    {
        if (::geteuid() != 0 || ::system("command -v bindfs >/dev/null") != 0
            || !fs::exists("/dev/fuse"))
            return;
        fs::create_directory(m_base / "under");
        fs::create_directory(m_base / "mount");
        m_mounted
            = ::system(("bindfs '" + m_base / "under" + "' '" + m_base / "mount" + "'").c_str())
            == 0;
    }
    ~FuseFolder()
    {
        if (m_mounted)
            (void)::system(("fusermount -u '" + m_base / "mount" + "' 2>/dev/null || umount '"
                            + m_base / "mount" + "'")
                               .c_str());
    }
    FuseFolder(const FuseFolder&) = delete;
    FuseFolder& operator=(const FuseFolder&) = delete;
    [[nodiscard]] bool Mounted() const { return m_mounted; }
    [[nodiscard]] std::string operator/(const std::string& name) const
    {
        return m_base / ("mount/" + name);
    }
    [[nodiscard]] fs::path Path() const { return m_base.Path() / "mount"; }

private:
    test::ScratchDir m_base;
    bool m_mounted = false;
};

// Every way a process ends part-way through a job removes its named temporary file first: each
// signal whose default is to end the process, and exit(). SIGALRM, SIGUSR1, SIGXCPU (ulimit -t)
// and their kind once left it behind on such file systems, and so did the dialog's exit(1) when
// its display went away.
TEST_F(Signals, EveryWayTheProcessEndsRemovesANamedTemporaryFile)
{
    const FuseFolder dir;
    if (!dir.Mounted())
        GTEST_SKIP() << "needs root, /dev/fuse and bindfs for a file system without unnamed files";
    test::WriteFile(dir / "text", test::TextLikeBytes(1 << 20, 9));
    ASSERT_EQ(RunQuietly(EncodeFile, dir / "text", dir / "packed"), JobResult::Done);
    test::WriteFile(dir / "dest", kOld);
    const Snapshot before = SnapshotOf(dir.Path());
    std::vector<int> signals { SIGHUP,  SIGINT,  SIGQUIT,  SIGILL,    SIGTRAP, SIGABRT,
                               SIGBUS,  SIGFPE,  SIGUSR1,  SIGSEGV,   SIGUSR2, SIGPIPE,
                               SIGALRM, SIGTERM, SIGXCPU,  SIGVTALRM, SIGPROF, SIGIO,
                               SIGSYS,  SIGPWR,  SIGRTMIN, SIGRTMAX };
    signals.push_back(0); // exit(1)
    for (const int signal : signals) {
        // A signal the process handles itself is left to it (a sanitizer's, say).
        struct sigaction action
        {
        };
        if (signal != 0 && ::sigaction(signal, nullptr, &action) == 0
            && action.sa_handler != SIG_DFL)
            continue;
        for (const JobKind kind : { JobKind::Encode, JobKind::Decode }) {
            SCOPED_TRACE((signal ? std::string(strsignal(signal)) : std::string("exit(1)"))
                         + (kind == JobKind::Encode ? ", encoding" : ", decoding"));
            const std::string source = dir / (kind == JobKind::Encode ? "text" : "packed");
            const auto end = [&] {
                JobOptions options;
                options.progress = [&](std::int64_t, std::int64_t) {
                    // The job's file must have a name here, or this tests nothing.
                    if (test::TemporaryFilesIn(dir.Path()).empty())
                        std::_Exit(42);
                    if (signal == 0)
                        std::exit(1);
                    ::raise(signal);
                    return true;
                };
                // No core file for the signals that would leave one.
                ::prctl(PR_SET_DUMPABLE, 0);
                (void)RunFileJob(kind, source, dir / "dest", options);
                std::_Exit(0);
            };
            if (signal == 0)
                EXPECT_EXIT(end(), testing::ExitedWithCode(1), "");
            else
                EXPECT_EXIT(end(), testing::KilledBySignal(signal), "");
            const Snapshot after = SnapshotOf(dir.Path());
            EXPECT_TRUE(after == before) << "no temporary file is left; after:" << Describe(after);
        }
    }
}

TEST_F(Signals, AWritePastTheFileSizeLimitFailsTheJobAndChangesNothing)
{
    test::ScratchDir dir;
    const test::ScratchDir logs;
    test::WriteFile(dir / "source", test::RandomBytes(3 << 20, 7));
    ASSERT_EQ(RunQuietly(EncodeFile, dir / "source", dir / "packed"), JobResult::Done);
    test::WriteFile(dir / "dest", kOld);
    const Snapshot before = SnapshotOf(dir.Path());
    for (const char* command : { "encode", "decode" }) {
        SCOPED_TRACE(command);
        test::Launch launch;
        const std::string source = dir / (command == std::string("encode") ? "source" : "packed");
        launch.args = { test::ToolPath(), command, source, dir / "dest", "-f" };
        launch.errors = logs / "errors";
        launch.fileSizeLimit = 1 << 20;
        const test::Finished finished = test::Wait(test::Start(launch));
        EXPECT_EQ(finished.status, 1) << "the job fails instead of the process being killed";
        const Bytes errors = ReadAll(logs / "errors");
        EXPECT_EQ(std::string(errors.begin(), errors.end()),
                  "hufpack: " + dir / "dest" + ": File too large\n");
        EXPECT_TRUE(SnapshotOf(dir.Path()) == before) << "nothing changes, nothing is left";
    }
}

} // namespace
} // namespace hufpack
