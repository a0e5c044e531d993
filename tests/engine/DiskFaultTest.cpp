// Real faults on the real file system: a disk that fills up under a job, and a job killed in the
// middle. After each, the source is unchanged, the destination is exactly as before (or, for a
// later job, completely right), and nothing else in the folder changed but what is allowed.

#include "TestSupport.h"
#include "hufpack/FileJobs.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace hufpack {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

// Names and contents of every file in a folder.
std::map<std::string, Bytes> Snapshot(const fs::path& folder)
{
    std::map<std::string, Bytes> files;
    for (const auto& entry : fs::directory_iterator(folder))
        files[entry.path().filename().string()] = test::ReadFile(entry.path());
    return files;
}

Bytes RandomBytes(std::size_t size, std::uint64_t seed)
{
    std::mt19937_64 random(seed);
    Bytes bytes(size);
    for (auto& byte : bytes)
        byte = static_cast<std::uint8_t>(random());
    return bytes;
}

// A small tmpfs, mounted for the life of the object; only root may mount one.
class SmallDisk
{
public:
    explicit SmallDisk(const fs::path& where) : m_where(where)
    {
        fs::create_directories(where);
        m_mounted = ::geteuid() == 0
            && ::mount("tmpfs", where.c_str(), "tmpfs", 0, "size=2m,mode=0755") == 0;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(m_where.c_str(), MNT_DETACH);
    }
    [[nodiscard]] bool Mounted() const { return m_mounted; }

private:
    fs::path m_where;
    bool m_mounted = false;
};

TEST(DiskFault, AFullDiskFailsTheJobAndLeavesEverythingAsItWas)
{
    const test::ScratchDir dir;
    const fs::path disk = dir / "disk";
    const SmallDisk small(disk);
    if (!small.Mounted())
        GTEST_SKIP() << "needs root to mount a 2 MiB tmpfs (CI runs as root)";

    // Random bytes do not compress away: 3 MiB of them cannot fit on a 2 MiB disk.
    const Bytes source = RandomBytes(3 << 20, 1);
    test::WriteFile(dir / "source", source);
    ASSERT_EQ(EncodeFile(dir / "source", dir / "packed"), JobResult::Done);
    const Bytes packed = test::ReadFile(dir / "packed");
    const Bytes old = test::BytesOf("the old destination, which must survive");
    test::WriteFile(disk / "kept", old);

    const struct
    {
        const char* what;
        bool encode;
        std::string from;
        std::string to;
    } cases[] = {
        { "encode to a new file", true, dir / "source", disk / "new.huf" },
        { "encode over an existing file", true, dir / "source", disk / "kept" },
        { "decode to a new file", false, dir / "packed", disk / "new.txt" },
        { "decode over an existing file", false, dir / "packed", disk / "kept" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = Snapshot(disk);
        const JobResult result = c.encode ? EncodeFile(c.from, c.to) : DecodeFile(c.from, c.to);
        EXPECT_EQ(result, JobResult::CannotOpen) << "a full disk is a failed write, not success";
        EXPECT_EQ(Snapshot(disk), before) << "the disk holds exactly what it held: no temp file";
        EXPECT_TRUE(test::ReadFile(dir / "source") == source) << "the source is untouched";
        EXPECT_TRUE(test::ReadFile(dir / "packed") == packed) << "the source is untouched";
    }
    EXPECT_TRUE(test::ReadFile(disk / "kept") == old) << "the old destination keeps its bytes";
}

pid_t StartCli(const std::vector<std::string>& args)
{
    const char* tool = std::getenv("HUFPACK_CLI");
    if (!tool)
        return -1;
    std::vector<std::string> words { tool };
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, tool, &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

TEST(DiskFault, AJobKilledMidwayLeavesTheOldDestinationAndConfusesNoLaterJob)
{
    const test::ScratchDir dir;
    const fs::path folder = dir / "jobs";
    fs::create_directories(folder);
    // Large enough that the job is still writing when it is killed.
    Bytes source = test::TextLikeBytes(8 << 20, 4);
    while (source.size() < (std::size_t { 96 } << 20))
        source.insert(source.end(), source.begin(), source.begin() + (8 << 20));
    test::WriteFile(folder / "source", source);
    const Bytes old = test::BytesOf("the old destination");
    test::WriteFile(folder / "dest.huf", old);

    const pid_t pid = StartCli({ "encode", folder / "source", folder / "dest.huf", "-f" });
    ASSERT_GT(pid, 0) << "HUFPACK_CLI names the hufpack tool";
    // Kill it as soon as its temporary file exists, in the middle of writing.
    bool sawTemp = false;
    for (int i = 0; i < 5000 && !sawTemp; ++i) {
        for (const auto& entry : fs::directory_iterator(folder))
            sawTemp |= entry.path().filename().string().starts_with(".dest.huf.hufpack-");
        if (!sawTemp)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status))
        GTEST_SKIP() << "the job finished before it could be killed";
    ASSERT_TRUE(WIFSIGNALED(status));

    EXPECT_TRUE(test::ReadFile(folder / "dest.huf") == old) << "the old destination is intact";
    EXPECT_TRUE(test::ReadFile(folder / "source") == source) << "the source is unchanged";
    int others = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name != "source" && name != "dest.huf") {
            ++others;
            EXPECT_TRUE(name.starts_with(".dest.huf.hufpack-")) << name << ": only a temp file";
        }
    }
    EXPECT_LE(others, 1) << "at most the killed job's temporary file remains";

    // A later job is not confused by the leftover.
    ASSERT_EQ(EncodeFile(folder / "source", folder / "dest.huf"), JobResult::Done);
    ASSERT_EQ(DecodeFile(folder / "dest.huf", folder / "again"), JobResult::Done);
    EXPECT_TRUE(test::ReadFile(folder / "again") == source) << "the new destination is right";
}

} // namespace
} // namespace hufpack
