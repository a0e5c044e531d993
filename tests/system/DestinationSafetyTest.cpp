// What another local user can do to a job through the destination: a link planted in a shared
// folder, a name swapped in while the job runs, a file made in advance to receive someone else's
// output. And what the machine can do: a running program's file, a power cut (the syncs that
// guard against it), access lists and attributes on the file replaced. Each case runs the real
// tool, as real users, on the real file system.

#include "Corpus.h"
#include "TestSupport.h"
#include "hufpack/FileJobs.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace hufpack {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::BytesOf;

const Bytes kPrecious = BytesOf("a file of its owner's, which no job of anyone else may touch");

// Runs the tool with `args` as `user` (root when null), its output collected; `wrapper` is a
// program that runs it, such as strace.
test::ToolRun RunTool(const std::vector<std::string>& args, const test::TestUser* user = nullptr,
                      const std::vector<std::string>& wrapper = {})
{
    return test::RunTool({ .args = args, .user = user, .wrapper = wrapper });
}

void Own(const fs::path& path, const test::TestUser& user)
{
    ASSERT_EQ(::lchown(path.c_str(), user.uid, user.gid), 0)
        << path << ": " << std::strerror(errno);
}

struct stat StatOf(const fs::path& path)
{
    struct stat info
    {
    };
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info;
}

// fs.protected_symlinks set to `value` for the scope, and put back after.
class ProtectedSymlinks
{
public:
    explicit ProtectedSymlinks(const std::string& value)
    {
        std::ifstream in(kPath);
        std::getline(in, m_saved);
        m_set = Write(value);
    }
    ~ProtectedSymlinks()
    {
        if (m_set)
            Write(m_saved);
    }
    ProtectedSymlinks(const ProtectedSymlinks&) = delete;
    ProtectedSymlinks& operator=(const ProtectedSymlinks&) = delete;
    [[nodiscard]] bool Set() const { return m_set; }

private:
    static constexpr const char* kPath = "/proc/sys/fs/protected_symlinks";
    static bool Write(const std::string& value)
    {
        std::ofstream out(kPath);
        out << value << '\n';
        out.close();
        std::ifstream in(kPath);
        std::string now;
        std::getline(in, now);
        return out.good() && now == value;
    }

    std::string m_saved = "0";
    bool m_set = false;
};

// Three users and a folder all of them may write in, sticky as /tmp is.
class OtherUsers : public testing::Test
{
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root, to add users and act as them";
        std::string why;
        if (!test::GetTestUsers(m_users, why))
            GTEST_SKIP() << why;
        std::string pattern = "/tmp/hufpack-shared-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_shared = pattern;
        ASSERT_EQ(::chmod(m_shared.c_str(), 01777), 0);
    }
    void TearDown() override
    {
        std::error_code ignored;
        if (!m_shared.empty())
            fs::remove_all(m_shared, ignored);
    }
    [[nodiscard]] std::string Shared(const std::string& name) const { return m_shared / name; }

    test::TestUsers m_users;
    fs::path m_shared;
};

// A link at the destination is followed only when the user who runs the job or root made it;
// anyone else's link is replaced itself, where the folder lets this user replace it, and its
// target is never opened. The same in a folder a team shares (2775, where B of the team plants
// the link) and in a sticky one everyone may write (1777, where M does), whatever
// fs.protected_symlinks says, in every form of the tool. A link of B's in the team folder once
// made A's `hufpack -d -f data.huf` write B's payload into A's ~/.bashrc.
class Links : public OtherUsers
{
};

// What a new file lets others do: never more than its source or the file it replaces did.
class Permissions : public OtherUsers
{
};

TEST_F(Links, AreFollowedOnlyWhenTheirOwnerIsTheJobsUserOrRoot)
{
    enum class Outcome { Followed, Replaced, Refused };
    // A's own file, in a folder of A's that nobody else may enter: what a link may point at.
    const fs::path home = Shared("home-a");
    fs::create_directory(home);
    Own(home, m_users.a);
    ::chmod(home.c_str(), 0711);
    const fs::path team = Shared("team");
    fs::create_directory(team);
    ASSERT_EQ(::chown(team.c_str(), 0, m_users.team), 0);
    ::chmod(team.c_str(), 02775);
    const fs::path sticky = Shared("sticky");
    fs::create_directory(sticky);
    ::chmod(sticky.c_str(), 01777);

    const struct
    {
        const char* what;
        // The tool's arguments for a folder; the link stands at the returned destination.
        std::function<std::vector<std::string>(const fs::path&)> args;
        const char* output;
        Bytes written;
    } forms[] = {
        { "-d -f FILE.huf",
          [](const fs::path& at) {
              return std::vector<std::string> { "-d", "-f", at / "data.huf" };
          },
          "data", BytesOf("abracadabra") },
        { "-f FILE",
          [](const fs::path& at) {
              return std::vector<std::string> { "-f", at / "notes.txt" };
          },
          "notes.txt.huf", test::AbracadabraFile() },
        { "-d -f -o LINK",
          [](const fs::path& at) {
              return std::vector<std::string> { "-d", "-f", "-o", at / "report.txt",
                                                at / "data.huf" };
          },
          "report.txt", BytesOf("abracadabra") },
        { "decode SOURCE LINK -f",
          [](const fs::path& at) {
              return std::vector<std::string> { "decode", at / "data.huf", at / "report.txt",
                                                "-f" };
          },
          "report.txt", BytesOf("abracadabra") },
    };
    const test::TestUser root { "root", 0, 0, { 0 } };
    for (const char* protection : { "0", "1" }) {
        const ProtectedSymlinks setting(protection);
        if (!setting.Set())
            GTEST_SKIP() << "cannot set fs.protected_symlinks here";
        for (const fs::path& folder : { team, sticky }) {
            const test::TestUser& other = folder == team ? m_users.b : m_users.m;
            for (const test::TestUser* runner : { &std::as_const(m_users.a), &root }) {
                for (const test::TestUser* owner : { &std::as_const(m_users.a), &root, &other }) {
                    for (const auto& form : forms) {
                        const bool trusted = owner->uid == runner->uid || owner->uid == 0;
                        const Outcome expected = trusted ? Outcome::Followed
                            : folder == sticky && runner->uid != 0 && owner->uid != runner->uid
                            ? Outcome::Refused
                            : Outcome::Replaced;
                        SCOPED_TRACE("protected_symlinks=" + std::string(protection) + ", "
                                     + folder.filename().string() + " folder, " + runner->name
                                     + " runs " + form.what + ", the link is " + owner->name
                                     + "'s");
                        test::WriteFile(folder / "data.huf", test::AbracadabraFile());
                        test::WriteFile(folder / "notes.txt", BytesOf("abracadabra"));
                        ::chmod((folder / "data.huf").c_str(), 0644);
                        ::chmod((folder / "notes.txt").c_str(), 0644);
                        test::WriteFile(home / "bashrc", kPrecious);
                        Own(home / "bashrc", m_users.a);
                        ::chmod((home / "bashrc").c_str(), 0666);
                        const fs::path link = folder / form.output;
                        ASSERT_EQ(::symlink((home / "bashrc").c_str(), link.c_str()), 0);
                        Own(link, *owner);
                        const auto before = test::NamesIn(folder);

                        const test::ToolRun run
                            = RunTool(form.args(folder), runner->uid == 0 ? nullptr : runner);
                        switch (expected) {
                        case Outcome::Followed:
                            EXPECT_EQ(run.status, 0) << run.err;
                            EXPECT_EQ(test::ReadFile(home / "bashrc"), form.written)
                                << "the link's target is replaced";
                            EXPECT_TRUE(fs::is_symlink(link)) << "and the link stays";
                            break;
                        case Outcome::Replaced:
                            EXPECT_EQ(run.status, 0) << run.err;
                            EXPECT_EQ(test::ReadFile(home / "bashrc"), kPrecious)
                                << "the link's target is never touched";
                            EXPECT_FALSE(fs::is_symlink(link)) << "the link itself is replaced";
                            EXPECT_EQ(test::ReadFile(link), form.written);
                            EXPECT_EQ(StatOf(link).st_uid, runner->uid);
                            break;
                        case Outcome::Refused:
                            EXPECT_EQ(run.status, 1);
                            EXPECT_EQ(run.err,
                                      "hufpack: " + link.string() + ": Operation not permitted\n")
                                << "a sticky folder keeps another user's name";
                            EXPECT_EQ(test::ReadFile(home / "bashrc"), kPrecious);
                            EXPECT_TRUE(fs::is_symlink(link));
                            break;
                        }
                        EXPECT_EQ(test::NamesIn(folder), before) << "nothing else is left";
                        fs::remove(link);
                        fs::remove(folder / "data");
                    }
                }
            }
        }
    }
}

TEST_F(Permissions, AFilePlantedForRootsOutputDoesNotHandItOver)
{
    // Root's secret, in a folder nobody else may enter.
    const test::ScratchDir own;
    test::WriteFile(own / "key", BytesOf("root's secret, readable by root alone"));
    ::chmod((own / "key").c_str(), 0600);
    // M makes the output file in advance, open to everyone.
    const std::string planted = Shared("secret.out");
    test::WriteFile(planted, BytesOf("waiting"));
    Own(planted, m_users.m);
    ::chmod(planted.c_str(), 0666);

    const test::ToolRun run = RunTool({ "encode", own / "key", planted, "-f" });
    ASSERT_EQ(run.status, 0) << run.err;
    const struct stat info = StatOf(planted);
    EXPECT_EQ(info.st_uid, 0u) << "the output belongs to whoever wrote it";
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "it gets the source's permissions, not M's file's";
    const test::ToolRun theft = RunTool({ "decode", planted, Shared("stolen") }, &m_users.m);
    EXPECT_EQ(theft.status, 1) << "M cannot read root's output";
    EXPECT_EQ(theft.err, "hufpack: " + planted + ": Permission denied\n");
    EXPECT_FALSE(fs::exists(Shared("stolen")));
}

TEST_F(Permissions, ReplacingATeamFileKeepsTheTeamsGroup)
{
    // A shared project folder, writable by the team but not sticky or set-group-id, holding a
    // file of B's that the team may write.
    const fs::path project = Shared("project");
    fs::create_directory(project);
    ASSERT_EQ(::chown(project.c_str(), 0, m_users.team), 0);
    ::chmod(project.c_str(), 0775);
    test::WriteFile(project / "report.huf", kPrecious);
    ASSERT_EQ(::chown((project / "report.huf").c_str(), m_users.b.uid, m_users.team), 0);
    ::chmod((project / "report.huf").c_str(), 0664);
    test::WriteFile(project / "report.txt", BytesOf("abracadabra"));
    Own(project / "report.txt", m_users.a);
    ::chmod((project / "report.txt").c_str(), 0640);

    const test::ToolRun run = RunTool(
        { "encode", (project / "report.txt").string(), (project / "report.huf").string(), "-f" },
        &m_users.a);
    ASSERT_EQ(run.status, 0) << run.err;
    const struct stat info = StatOf(project / "report.huf");
    EXPECT_EQ(test::ReadFile(project / "report.huf"), test::AbracadabraFile());
    EXPECT_EQ(info.st_uid, m_users.a.uid) << "the new file is A's";
    EXPECT_EQ(info.st_gid, m_users.team) << "it keeps the team's group, which A belongs to";
    EXPECT_EQ(info.st_mode & 0777, 0640u) << "with the permissions of A's source";
}

TEST(NoClobber, ALinkSwappedInBeforeTheLastStepIsNeverFollowed)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "source", BytesOf("abracadabra"));
    test::WriteFile(dir / "victim", kPrecious);
    const std::string destination = dir / "packed";
    std::atomic<bool> stop { false };
    // Someone who wants the job to write into the victim: a link that comes and goes.
    std::thread swapper([&] {
        while (!stop.load()) {
            ::symlink("victim", destination.c_str());
            struct stat info
            {
            };
            if (::lstat(destination.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
                ::unlink(destination.c_str());
        }
    });
    int done = 0;
    int refused = 0;
    for (int run = 0; run < 300; ++run) {
        const test::ToolRun result = RunTool({ "encode", dir / "source", destination });
        if (result.status == 0)
            ++done;
        else if (result.err
                 == "hufpack: " + destination + ": already exists; use -f to replace it\n")
            ++refused;
        else
            ADD_FAILURE() << "exit " << result.status << ": " << result.err;
        if (test::ReadFile(dir / "victim") != kPrecious)
            break;
        struct stat info
        {
        };
        if (::lstat(destination.c_str(), &info) == 0 && S_ISREG(info.st_mode))
            ::unlink(destination.c_str());
    }
    stop = true;
    swapper.join();
    EXPECT_EQ(test::ReadFile(dir / "victim"), kPrecious)
        << "without -f nothing that stands at the destination is written through or replaced";
    EXPECT_GT(done + refused, 0);
}

// Runs an encoding job that plants `plant` at the destination as soon as the job has started.
JobOutcome RunWhilePlanting(const test::ScratchDir& dir, bool replace,
                            const std::function<void()>& plant)
{
    JobOptions options;
    options.replace = replace;
    bool planted = false;
    options.progress = [&](std::int64_t, std::int64_t) {
        if (!std::exchange(planted, true))
            plant();
    };
    const JobOutcome outcome = RunFileJob(JobKind::Encode, dir / "source", dir / "packed", options);
    EXPECT_TRUE(planted) << "the job reported its progress";
    return outcome;
}

TEST(NoClobber, ANameThatAppearsDuringTheJobWinsAndIsKept)
{
    const test::Bytes text = test::TextLikeBytes(4 << 20, 8);
    const struct
    {
        const char* what;
        std::function<void(const std::string&)> plant;
    } cases[] = {
        { "a file", [](const std::string& at) { test::WriteFile(at, kPrecious); } },
        { "a dangling link", [](const std::string& at) { ::symlink("nowhere", at.c_str()); } },
        { "a link to a file", [](const std::string& at) { ::symlink("victim", at.c_str()); } },
        { "a FIFO", [](const std::string& at) { ::mkfifo(at.c_str(), 0600); } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::ScratchDir dir;
        test::WriteFile(dir / "source", text);
        test::WriteFile(dir / "victim", kPrecious);
        const JobOutcome outcome = RunWhilePlanting(dir, false, [&] { c.plant(dir / "packed"); });
        EXPECT_EQ(outcome.result, JobResult::CannotOpen) << "the name was taken at the last step";
        EXPECT_EQ(outcome.file, JobFile::Destination);
        EXPECT_EQ(outcome.error, EEXIST);
        EXPECT_EQ(test::NamesIn(dir.Path()),
                  (std::vector<std::string> { "packed", "source", "victim" }))
            << "what was planted stays, and the job leaves nothing of its own";
        EXPECT_EQ(test::ReadFile(dir / "victim"), kPrecious);
        if (fs::is_regular_file(fs::symlink_status(dir / "packed"))) {
            EXPECT_EQ(test::ReadFile(dir / "packed"), kPrecious) << "the planted file is kept";
        }
    }
    // With replace, a file that appears is replaced like any other.
    test::ScratchDir dir;
    test::WriteFile(dir / "source", text);
    const JobOutcome outcome
        = RunWhilePlanting(dir, true, [&] { test::WriteFile(dir / "packed", kPrecious); });
    EXPECT_EQ(outcome.result, JobResult::Done);
    EXPECT_NE(test::ReadFile(dir / "packed"), kPrecious);
    EXPECT_EQ(test::NamesIn(dir.Path()), (std::vector<std::string> { "packed", "source" }));
}

// A job never opens what stands at the destination, so a FIFO there cannot make it wait for a
// reader: one that is there from the start is refused, one swapped in during the job is replaced.
// (Only -o names a FIFO to be written to, as the command line's tests show.)
TEST(Replace, AFifoAtTheDestinationNeverHangsTheJob)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "source", test::TextLikeBytes(1 << 20, 3));
    const std::string packed = dir / "packed";
    ASSERT_EQ(::mkfifo(packed.c_str(), 0666), 0);
    const test::ToolRun refused = RunTool({ "encode", dir / "source", packed, "-f" });
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "hufpack: " + packed + ": not a regular file\n");

    ASSERT_EQ(::unlink(packed.c_str()), 0);
    test::WriteFile(packed, kPrecious);
    const JobOutcome outcome = RunWhilePlanting(dir, true, [&] {
        ::unlink(packed.c_str());
        ::mkfifo(packed.c_str(), 0666);
    });
    EXPECT_EQ(outcome.result, JobResult::Done) << DescribeFailure(outcome);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(packed))) << "the FIFO was replaced";
    EXPECT_EQ(test::NamesIn(dir.Path()), (std::vector<std::string> { "packed", "source" }));
}

TEST(Replace, ARunningProgramsFileIsReplacedWithoutBeingOpened)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "source", BytesOf("abracadabra"));
    fs::copy_file("/bin/sleep", dir / "program");
    ::chmod((dir / "program").c_str(), 0755);
    test::Launch program;
    program.args = { dir / "program", "60" };
    const pid_t running = test::Start(program);
    ASSERT_GT(running, 0);
    // Until it has started, the file is not yet busy.
    const std::string exe = "/proc/" + std::to_string(running) + "/exe";
    std::error_code error;
    while (fs::read_symlink(exe, error).filename() != "program") {
        ASSERT_EQ(::waitpid(running, nullptr, WNOHANG), 0) << "the program runs";
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    const test::ToolRun run = RunTool({ "encode", dir / "source", dir / "program", "-f" });
    EXPECT_EQ(run.status, 0) << "a busy program file is replaced by a rename: " << run.err;
    EXPECT_EQ(test::ReadFile(dir / "program"), test::AbracadabraFile());
    EXPECT_EQ(::kill(running, 0), 0) << "the running program goes on";
    ::kill(running, SIGKILL);
    test::Wait(running);
}

TEST(Replace, AFailedJobNeverOpensTheDestination)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "damaged", test::FromHex("30 17 00 00 00 19 00 61"));
    test::WriteFile(dir / "restored", kPrecious);
    // A file watcher sees every open of the file and every write to it.
    const int watcher = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watcher, 0);
    ASSERT_GE(::inotify_add_watch(watcher, (dir / "restored").c_str(),
                                  IN_OPEN | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB),
              0);
    const test::ToolRun run = RunTool({ "decode", dir / "damaged", dir / "restored", "-f" });
    EXPECT_EQ(run.status, 3) << run.err;
    alignas(inotify_event) char events[4096];
    const ssize_t got = ::read(watcher, events, sizeof events);
    EXPECT_EQ(got, -1) << "the old destination was neither opened nor changed";
    ::close(watcher);
    EXPECT_EQ(test::ReadFile(dir / "restored"), kPrecious);
}

TEST_F(Permissions, AReplacedFileKeepsItsAccessListAndUserAttributes)
{
    if (::system("command -v setfacl >/dev/null && command -v getfacl >/dev/null") != 0)
        GTEST_SKIP() << "setfacl and getfacl (package acl) are missing";
    test::ScratchDir dir;
    test::WriteFile(dir / "source", BytesOf("abracadabra"));
    const std::string destination = dir / "packed";
    test::WriteFile(destination, kPrecious);
    ::chmod(destination.c_str(), 0640);
    // A named user may read it; the group entry is narrower than the mask would show.
    const std::string acl = "setfacl -m u:4242:r--,g::---,m::r-- " + destination;
    if (::system(acl.c_str()) != 0)
        GTEST_SKIP() << "this file system takes no access lists";
    if (::setxattr(destination.c_str(), "user.origin", "kept", 4, 0) != 0)
        GTEST_SKIP() << "this file system takes no user attributes: " << std::strerror(errno);
    const auto listing = [&] {
        const std::string out = dir / "acl.txt";
        EXPECT_EQ(::system(("getfacl --omit-header --numeric " + destination + " >" + out).c_str()),
                  0);
        return test::ReadText(out);
    };
    const std::string aclBefore = listing();
    const mode_t modeBefore = StatOf(destination).st_mode;

    const test::ToolRun run = RunTool({ "encode", dir / "source", destination, "-f" });
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(test::ReadFile(destination), test::AbracadabraFile());
    EXPECT_EQ(listing(), aclBefore) << "the access list comes over whole";
    EXPECT_EQ(StatOf(destination).st_mode, modeBefore) << "the permission bits too";
    char value[16] {};
    EXPECT_EQ(::getxattr(destination.c_str(), "user.origin", value, sizeof value), 4);
    EXPECT_STREQ(value, "kept") << "user attributes come over";
}

// Runs the tool under strace with `options`.
test::ToolRun RunTraced(const std::vector<std::string>& args, std::vector<std::string> options)
{
    // A sanitizer build's leak check cannot run under a tracer; the trace is what matters here.
    const char* asan = std::getenv("ASAN_OPTIONS");
    ::setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":detect_leaks=0").c_str(), 1);
    options.insert(options.begin(), { "/usr/bin/strace", "-f", "-qq" });
    return RunTool(args, nullptr, options);
}

// The system calls that matter for a power cut, in the order the tool made them: "place" for a
// rename or link that gives `destination` its name, "remove" for an unlink of `source`.
std::vector<std::string> DurabilityCalls(const std::vector<std::string>& args, const fs::path& log,
                                         const std::string& destination = "packed",
                                         const std::string& source = "source")
{
    const test::ToolRun run = RunTraced(args,
                                        { "-o", log.string(), "-e",
                                          "trace=fdatasync,fsync,linkat,renameat,renameat2,"
                                          "rename,unlink,unlinkat" });
    EXPECT_EQ(run.status, 0) << run.err;
    std::vector<std::string> calls;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string pid;
        std::string call;
        words >> pid >> call;
        const std::string name = call.substr(0, call.find('('));
        // A rename or link counts when it gives the destination its name; failed calls do not.
        if (line.find(" = 0") == std::string::npos)
            continue;
        if (name == "fdatasync" || name == "fsync")
            calls.push_back(name);
        else if (name.starts_with("unlink") && line.find('"' + source + '"') != std::string::npos)
            calls.push_back("remove");
        else if (line.find('"' + destination + '"') != std::string::npos)
            calls.push_back("place");
    }
    return calls;
}

TEST(Durability, ReplacingSyncsTheDataBeforeTheRenameAndTheFolderAfter)
{
    if (!fs::exists("/usr/bin/strace"))
        GTEST_SKIP() << "strace is missing";
    if (::system("/usr/bin/strace -qq -o /dev/null true 2>/dev/null") != 0)
        GTEST_SKIP() << "strace cannot trace here";
    const test::ScratchDir logs;
    using Calls = std::vector<std::string>;
    const struct
    {
        const char* what;
        bool existing;
        bool sync;
        Calls expected;
    } cases[] = {
        { "replacing a file", true, false, { "fdatasync", "place", "fsync" } },
        { "a new file", false, false, { "place" } },
        { "a new file with --sync", false, true, { "fdatasync", "place", "fsync" } },
        { "replacing with --sync", true, true, { "fdatasync", "place", "fsync" } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::ScratchDir dir;
        test::WriteFile(dir / "source", test::TextLikeBytes(100000, 1));
        if (c.existing)
            test::WriteFile(dir / "packed", kPrecious);
        std::vector<std::string> args { "encode", dir / "source", dir / "packed" };
        if (c.existing)
            args.push_back("-f");
        if (c.sync)
            args.push_back("--sync");
        EXPECT_EQ(DurabilityCalls(args, logs / "trace"), c.expected)
            << "the new data reaches the disk before the name that drops the old file, and the "
               "folder after it";
    }
    // --rm removes the only other copy: the new file and its name are on the disk first.
    test::ScratchDir dir;
    test::WriteFile(dir / "notes", test::TextLikeBytes(100000, 2));
    EXPECT_EQ(DurabilityCalls({ "--rm", dir / "notes" }, logs / "trace", "notes.huf", "notes"),
              (Calls { "fdatasync", "place", "fsync", "remove" }))
        << "the source goes only once its compressed form is safe";
    EXPECT_FALSE(fs::exists(dir / "notes"));
}

// --rm deletes the only other copy, so every sync on the way must succeed: a data or folder
// sync that fails fails the job and keeps the source.
TEST(Durability, ASyncThatFailsBeforeARemovalKeepsTheSource)
{
    if (::system("/usr/bin/strace -qq -o /dev/null true 2>/dev/null") != 0)
        GTEST_SKIP() << "strace cannot trace here";
    for (const char* call : { "fdatasync", "fsync" }) {
        SCOPED_TRACE(call);
        test::ScratchDir dir;
        const Bytes text = test::TextLikeBytes(100000, 3);
        test::WriteFile(dir / "notes", text);
        const test::ToolRun run
            = RunTraced({ "--rm", dir / "notes" },
                        { "-o", "/dev/null", "-e", std::string("inject=") + call + ":error=EIO" });
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "hufpack: " + dir / "notes.huf" + ": Input/output error\n");
        EXPECT_EQ(test::ReadFile(dir / "notes"), text) << "the source stays";
    }
}

// A replaced file of this user's keeps its access list, read without opening the file: even
// one whose owner may write it but not read it, which once lost its list and gave its group
// read and write.
TEST_F(Permissions, AReplacedFileKeepsItsAccessListEvenWhenItsOwnerMayNotReadIt)
{
    if (::system("command -v setfacl >/dev/null && command -v getfacl >/dev/null") != 0)
        GTEST_SKIP() << "setfacl and getfacl (package acl) are missing";
    const fs::path folder = Shared("own");
    fs::create_directory(folder);
    Own(folder, m_users.a);
    const std::string m = std::to_string(m_users.m.uid);
    for (const std::string& acl : { "u::rw-,g::---,o::---,u:" + m + ":r--,m::r--",
                                    "u::-w-,g::---,o::---,u:" + m + ":rw-,m::rw-" }) {
        SCOPED_TRACE(acl);
        test::WriteFile(folder / "source", BytesOf("abracadabra"));
        Own(folder / "source", m_users.a);
        const std::string destination = folder / "packed";
        test::WriteFile(destination, kPrecious);
        Own(destination, m_users.a);
        if (::system(("setfacl --set " + acl + " " + destination).c_str()) != 0)
            GTEST_SKIP() << "this file system takes no access lists";
        const auto listing = [&] {
            const std::string out = Shared("acl.txt");
            EXPECT_EQ(
                ::system(("getfacl --omit-header --numeric " + destination + " >" + out).c_str()),
                0);
            return test::ReadText(out);
        };
        const std::string before = listing();
        const mode_t mode = StatOf(destination).st_mode;
        const test::ToolRun run
            = RunTool({ "-f", "-o", destination, folder / "source" }, &m_users.a);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(listing(), before) << "the access list comes over whole";
        EXPECT_EQ(StatOf(destination).st_mode, mode) << "and the group gains nothing";
        EXPECT_NE(test::ReadFile(destination), kPrecious) << "the file was replaced";
    }
}

} // namespace
} // namespace hufpack
