// What another local user can do to a job through the destination: a link planted in a shared
// folder, a name swapped in while the job runs, a file made in advance to receive someone else's
// output. And what the machine can do: a running program's file, a power cut (the syncs that
// guard against it), access lists and attributes on the file replaced. Each case runs the real
// tool, as real users, on the real file system.

#include "Corpus.h"
#include "SharedFolders.h"
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

// A link at the destination is followed only where nobody but the job's user and root could
// have put it there or changed where it leads: its folder, and every folder on the way to its
// target, is theirs and writable by nobody else, and each link is theirs. Any other link is
// replaced itself, where the folder lets this user replace it, and its target is never opened.
// Who owns the link is not enough: in a folder a team shares (2775), B once renamed A's own link
// `current -> ~/work/report` to `notes.txt.huf`, and A's `hufpack -f notes.txt` overwrote A's
// only copy of the report; so did a link planted by B or M in the team's or a sticky folder
// (1777), whatever fs.protected_symlinks says, in every form of the tool.
class Links : public OtherUsers
{
public:
    using OtherUsers::m_users;
    // A folder of root's that nobody else may write in, holding: a folder each of A's and
    // root's own (0755), the team's (2775) and a sticky one (1777), and A's and root's homes,
    // which links point into by relative targets, never through a shared folder.
    void MakeFolders()
    {
        m_base = Shared("base");
        fs::remove_all(m_base);
        fs::create_directory(m_base);
        ::chmod(m_base.c_str(), 0755);
        MakeFolder("own-a", m_users.a.uid, m_users.a.gid, 0755);
        MakeFolder("own-root", 0, 0, 0755);
        MakeFolder("team", 0, m_users.team, 02775);
        MakeFolder("sticky", 0, 0, 01777);
        MakeFolder("home-a", m_users.a.uid, m_users.a.gid, 0711);
        MakeFolder("home-root", 0, 0, 0700);
        MakeFolder("mal", m_users.m.uid, m_users.m.gid, 0755);
    }
    void MakeFolder(const char* name, uid_t uid, gid_t gid, mode_t mode)
    {
        const fs::path folder = m_base / name;
        fs::create_directory(folder);
        ASSERT_EQ(::chown(folder.c_str(), uid, gid), 0);
        ASSERT_EQ(::chmod(folder.c_str(), mode), 0);
    }
    // A precious file of `owner`'s at `path`, which everyone may write, so that only the
    // program's own rule keeps a job off it.
    void Precious(const fs::path& path, const test::TestUser& owner)
    {
        test::WriteFile(path, kPrecious);
        Own(path, owner);
        ::chmod(path.c_str(), 0666);
    }
    void Link(const std::string& target, const fs::path& at, const test::TestUser& owner)
    {
        ASSERT_EQ(::symlink(target.c_str(), at.c_str()), 0) << at;
        Own(at, owner);
    }

    const test::TestUser m_root { "root", 0, 0, { 0 } };
    fs::path m_base;
};

// What a new file lets others do: never more than its source or the file it replaces did.
class Permissions : public OtherUsers
{
};

// Runs `form` (one of the tool's forms that replace) in `folder`, its output at `output`.
struct Form
{
    const char* what;
    std::function<std::vector<std::string>(const fs::path&)> args;
    const char* output;
    Bytes written;
};

const std::vector<Form>& Forms()
{
    static const std::vector<Form> forms {
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
    return forms;
}

void WriteSources(const fs::path& folder)
{
    test::WriteFile(folder / "data.huf", test::AbracadabraFile());
    test::WriteFile(folder / "notes.txt", BytesOf("abracadabra"));
    ::chmod((folder / "data.huf").c_str(), 0644);
    ::chmod((folder / "notes.txt").c_str(), 0644);
}

TEST_F(Links, AreFollowedOnlyWhereNobodyElseCouldHavePutThemThere)
{
    enum class Outcome { Followed, Replaced, Refused };
    for (const char* protection : { "0", "1" }) {
        const test::KernelSetting setting("fs/protected_symlinks", protection);
        if (!setting.Set())
            GTEST_SKIP() << "cannot set fs.protected_symlinks here";
        for (const test::TestUser* runner : { &std::as_const(m_users.a), &m_root }) {
            const std::string home = runner->uid == 0 ? "home-root" : "home-a";
            for (const char* folderName : { "own-a", "own-root", "team", "sticky" }) {
                const std::string folderText = folderName;
                if (folderText == "own-root" && runner->uid != 0)
                    continue; // A may not write there at all
                const bool trustedFolder
                    = folderText == "own-root" || (folderText == "own-a" && runner->uid != 0);
                const test::TestUser& other = folderText == "team" ? m_users.b : m_users.m;
                for (const test::TestUser* owner : { runner, &m_root, &other }) {
                    for (const Form& form : Forms()) {
                        const bool trusted
                            = trustedFolder && (owner->uid == runner->uid || owner->uid == 0);
                        const Outcome expected = trusted ? Outcome::Followed
                            : folderText == "sticky" && runner->uid != 0
                                && owner->uid != runner->uid
                            ? Outcome::Refused
                            : Outcome::Replaced;
                        SCOPED_TRACE("protected_symlinks=" + std::string(protection) + ", "
                                     + folderText + " folder, " + runner->name + " runs "
                                     + form.what + ", the link is " + owner->name + "'s");
                        MakeFolders();
                        const fs::path folder = m_base / folderName;
                        WriteSources(folder);
                        const fs::path target = m_base / home / "bashrc";
                        Precious(target, *runner);
                        const fs::path link = folder / form.output;
                        Link("../" + home + "/bashrc", link, *owner);
                        const auto before = test::NamesIn(folder);

                        std::vector<std::string> args = form.args(folder);
                        args.push_back("-v");
                        if (std::string(form.what).starts_with("decode"))
                            args.pop_back(); // the first form takes no -v
                        const test::ToolRun run
                            = RunTool(args, runner->uid == 0 ? nullptr : runner);
                        const std::string said = "hufpack: " + link.string()
                            + ": a symbolic link someone else could have made or moved; "
                              "replaced, not followed\n";
                        switch (expected) {
                        case Outcome::Followed:
                            EXPECT_EQ(run.status, 0) << run.err;
                            EXPECT_EQ(test::ReadFile(target), form.written)
                                << "the link's target is replaced";
                            EXPECT_TRUE(fs::is_symlink(link)) << "and the link stays";
                            EXPECT_EQ(run.err.find(said), std::string::npos) << run.err;
                            break;
                        case Outcome::Replaced:
                            EXPECT_EQ(run.status, 0) << run.err;
                            EXPECT_EQ(test::ReadFile(target), kPrecious)
                                << "the link's target is never touched";
                            EXPECT_FALSE(fs::is_symlink(link)) << "the link itself is replaced";
                            EXPECT_EQ(test::ReadFile(link), form.written);
                            if (args.back() == "-v") {
                                EXPECT_NE(run.err.find(said), std::string::npos)
                                    << "-v says so: " << run.err;
                            }
                            break;
                        case Outcome::Refused:
                            EXPECT_EQ(run.status, 1);
                            EXPECT_EQ(run.err,
                                      "hufpack: " + link.string() + ": Operation not permitted\n")
                                << "a sticky folder keeps another user's name";
                            EXPECT_EQ(test::ReadFile(target), kPrecious);
                            EXPECT_TRUE(fs::is_symlink(link));
                            break;
                        }
                        EXPECT_EQ(test::NamesIn(folder), before) << "nothing else is left";
                    }
                }
            }
        }
    }
}

// The same rule for every step of a chain: a link of root's, in root's own folder, whose target
// leads through another user's link, or through a folder that others may write in (by its mode
// or by its access list), is replaced and never followed; so is A's own link hard-linked into a
// sticky folder by M, which fs.protected_hardlinks=0 allows. A chain of the job's user's and
// root's own, in their own folders, is followed to its end.
TEST_F(Links, AChainIsFollowedOnlyWhereEveryStepIsTrusted)
{
    const bool haveAcl = ::system("command -v setfacl >/dev/null") == 0;
    const struct
    {
        const char* what;
        // Makes the chain in the base folder; returns the link the job writes to.
        std::function<fs::path(Links&)> make;
        const char* target; // under the base folder
        bool followed;
        bool asRoot;
    } cases[] = {
        { "through another user's folder link",
          [](Links& t) {
              t.Link("../home-root", t.m_base / "mal/sub", t.m_users.m);
              t.Link("../mal/sub/secret", t.m_base / "own-root/out", t.m_root);
              return t.m_base / "own-root/out";
          },
          "home-root/secret", false, true },
        { "through a sticky folder",
          [](Links& t) {
              t.Link("../sticky/secret", t.m_base / "own-root/out", t.m_root);
              return t.m_base / "own-root/out";
          },
          "sticky/secret", false, true },
        { "through a folder whose access list lets another user write",
          [haveAcl](Links& t) {
              t.MakeFolder("listed", 0, 0, 0755);
              if (haveAcl) {
                  EXPECT_EQ(::system(("setfacl -m u:" + std::to_string(t.m_users.m.uid) + ":rwx '"
                                      + (t.m_base / "listed").string() + "'")
                                         .c_str()),
                            0);
              }
              t.Link("../home-root/secret", t.m_base / "listed/out", t.m_root);
              return t.m_base / "listed/out";
          },
          "home-root/secret", !haveAcl, true },
        { "a hard link of A's own link in a sticky folder",
          [](Links& t) {
              t.Link("../home-a/secret", t.m_base / "own-a/current", t.m_users.a);
              // M makes it: only the kernel's setting stands in the way, and it is off.
              const test::KernelSetting hardlinks("fs/protected_hardlinks", "0");
              EXPECT_TRUE(hardlinks.Set());
              test::Launch ln;
              ln.args = { "/bin/ln", "-P", t.m_base / "own-a/current", t.m_base / "sticky/out" };
              ln.user = &t.m_users.m;
              EXPECT_EQ(test::Wait(test::Start(ln)).status, 0) << "M made the hard link";
              return t.m_base / "sticky/out";
          },
          "home-a/secret", false, false },
        { "links of root's and root's own folders all the way",
          [](Links& t) {
              t.MakeFolder("own-root/inner", 0, 0, 0755);
              t.Link("../../home-root/secret", t.m_base / "own-root/inner/hop", t.m_root);
              t.Link("inner/hop", t.m_base / "own-root/out", t.m_root);
              return t.m_base / "own-root/out";
          },
          "home-root/secret", true, true },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MakeFolders();
        const fs::path target = m_base / c.target;
        Precious(target, c.asRoot ? m_root : m_users.a);
        const fs::path link = c.make(*this);
        test::WriteFile(m_base / "data.huf", test::AbracadabraFile());
        ::chmod((m_base / "data.huf").c_str(), 0644);
        const test::ToolRun run = RunTool({ "decode", m_base / "data.huf", link, "-f" },
                                          c.asRoot ? nullptr : &m_users.a);
        EXPECT_EQ(run.status, 0) << run.err;
        if (c.followed) {
            EXPECT_EQ(test::ReadFile(target), BytesOf("abracadabra")) << "followed to the end";
            EXPECT_TRUE(fs::is_symlink(link));
        } else {
            EXPECT_EQ(test::ReadFile(target), kPrecious) << "the target is never touched";
            EXPECT_FALSE(fs::is_symlink(link)) << "the link itself is replaced";
            EXPECT_EQ(test::ReadFile(link), BytesOf("abracadabra"));
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

// Root's output beside a user's file is that user's, as gzip's and zstd's is: FILE to FILE.huf
// and back, and -r, give the new file the source's owner and group, set before it takes its
// name, and never a set-id bit. With -o and the first form the new file stays root's, so that a
// file in another folder is never handed to someone else. `hufpack -r /home/a/logs` once left
// root's files in A's folder.
TEST_F(Permissions, ANewFileBesideItsSourceTakesTheSourcesOwner)
{
    const fs::path logs = Shared("logs");
    const fs::path out = Shared("out");
    const struct
    {
        const char* what;
        std::vector<std::string> args;
        std::string source; // made A's, with set-user-id and 0640
        std::string made;
        bool sourcesOwner;
    } cases[] = {
        { "FILE", { logs / "app.log" }, logs / "app.log", logs / "app.log.huf", true },
        { "-r FOLDER", { "-r", logs }, logs / "app.log", logs / "app.log.huf", true },
        { "-d FILE.huf",
          { "-d", logs / "app.log.huf" },
          logs / "app.log.huf",
          logs / "app.log",
          true },
        { "-o",
          { "-o", out / "app.huf", logs / "app.log" },
          logs / "app.log",
          out / "app.huf",
          false },
        { "encode SOURCE DEST",
          { "encode", logs / "app.log", out / "app.huf" },
          logs / "app.log",
          out / "app.huf",
          false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(logs);
        fs::remove_all(out);
        fs::create_directory(logs);
        fs::create_directory(out);
        Own(logs, m_users.a);
        test::WriteFile(c.source,
                        c.source.ends_with(".huf") ? test::AbracadabraFile()
                                                   : BytesOf("abracadabra"));
        ASSERT_EQ(::chown(c.source.c_str(), m_users.a.uid, m_users.team), 0);
        ASSERT_EQ(::chmod(c.source.c_str(), 04640), 0);
        const test::ToolRun run = RunTool(c.args);
        ASSERT_EQ(run.status, 0) << run.err;
        const struct stat made = StatOf(c.made);
        EXPECT_EQ(made.st_uid, c.sourcesOwner ? m_users.a.uid : 0u);
        EXPECT_EQ(made.st_gid, c.sourcesOwner ? m_users.team : 0u);
        EXPECT_EQ(made.st_mode & 07777, 0640u) << "the source's permissions, never a set-id bit";
    }
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
        return true;
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
