// What another local user can do to root's -r through the tree it walks: swap a folder for a
// link to somewhere root alone may go, while the walk runs or while a job of it is under way,
// or plant such a link among the names root types. Nothing outside the walked tree may be read,
// written or removed. Each case runs the real tool, as root, on the real file system.

#include "Corpus.h"
#include "SharedFolders.h"
#include "TestSupport.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace hufpack {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::BytesOf;

// Every name under a folder with its file's size and a hash of its bytes, or its link's target:
// what must not change outside the tree.
std::map<std::string, std::string> Contents(const fs::path& folder)
{
    std::map<std::string, std::string> contents;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = fs::relative(entry.path(), folder).string();
        if (entry.is_symlink()) {
            contents[name] = "-> " + fs::read_symlink(entry.path()).string();
        } else if (entry.is_regular_file()) {
            const Bytes bytes = test::ReadFile(entry.path());
            const std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            contents[name] = std::to_string(bytes.size()) + " bytes, hash "
                + std::to_string(std::hash<std::string_view> {}(view));
        } else {
            contents[name] = "folder";
        }
    }
    return contents;
}

// M's tree in a folder everyone may enter, and beside it a folder of root's alone (0700) that
// holds files of the very names the tree does.
class Walk : public testing::Test
{
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root, whose walk another user attacks";
        std::string why;
        if (!test::GetTestUsers(m_users, why))
            GTEST_SKIP() << why;
        ::chmod(m_dir.Path().c_str(), 0755);
        fs::create_directories(m_dir.Path() / "tree/d");
        fs::create_directory(m_dir.Path() / "root-only");
        ::chmod((m_dir.Path() / "root-only").c_str(), 0700);
    }
    // `count` files named x1, x2, ... with `suffix`, in the tree's folder d and in root's.
    void MakeFiles(int count, const std::string& suffix, const Bytes& bytes)
    {
        for (int i = 1; i <= count; ++i) {
            const std::string name = "x" + std::to_string(i) + suffix;
            test::WriteFile(m_dir.Path() / "tree/d" / name, bytes);
            test::WriteFile(m_dir.Path() / "root-only" / name, BytesOf("root's " + name));
        }
        for (const auto& entry : fs::recursive_directory_iterator(m_dir.Path() / "tree"))
            ::lchown(entry.path().c_str(), m_users.m.uid, m_users.m.gid);
        ::chown((m_dir.Path() / "tree").c_str(), m_users.m.uid, m_users.m.gid);
    }

    test::TestUsers m_users;
    test::ScratchDir m_dir;
};

// M swaps the folder d and a link to root's folder back and forth, as fast as renameat2 goes,
// for the whole of each run: every job of the walk works in the folder it found its file in, so
// root's files are never compressed, restored over or removed.
TEST_F(Walk, AFolderSwappedForALinkNeverLeadsAJobOutsideTheTree)
{
    const Bytes packed = test::AbracadabraFile();
    const struct
    {
        const char* what;
        std::vector<std::string> args;
        const char* suffix;
        Bytes bytes;
    } cases[] = {
        { "-r --rm", { "-r", "--rm" }, "", BytesOf("abracadabra") },
        { "-dr", { "-dr" }, ".huf", packed },
        { "-r -f", { "-r", "-f" }, "", BytesOf("abracadabra") },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(m_dir.Path() / "tree/d");
        fs::remove_all(m_dir.Path() / "root-only");
        fs::create_directory(m_dir.Path() / "tree/d");
        fs::create_directory(m_dir.Path() / "root-only");
        ::chmod((m_dir.Path() / "root-only").c_str(), 0700);
        MakeFiles(1000, c.suffix, c.bytes);
        fs::create_symlink("../root-only", m_dir.Path() / "tree/link");
        const auto before = Contents(m_dir.Path() / "root-only");
        std::vector<std::string> args = c.args;
        args.push_back(m_dir.Path() / "tree");
        // Neither of the kernel's protections is what stands in the way.
        for (const char* protection : { "0", "1" }) {
            const test::KernelSetting symlinks("fs/protected_symlinks", protection);
            const test::KernelSetting hardlinks("fs/protected_hardlinks", protection);
            ASSERT_TRUE(symlinks.Set() && hardlinks.Set());
            for (int run = 0; run < 2; ++run) {
                const test::NameSwapper swapper(m_dir.Path() / "tree", "d", "link");
                const test::ToolRun result = test::RunTool({ .args = args });
                EXPECT_GT(swapper.Swaps(), 0) << "the race ran";
                EXPECT_NE(result.status, -1) << result.err;
            }
        }
        EXPECT_EQ(Contents(m_dir.Path() / "root-only"), before)
            << "nothing in root's folder was written, made or removed";
        fs::remove(m_dir.Path() / "tree/link");
    }
}

// The same swap made at a known moment: root's `hufpack -r --rm tree` is held in the middle of
// its first file's job while M renames the folder away and puts a link to root's folder in its
// place. The walk goes on in the folder it holds, which now has the other name.
TEST_F(Walk, AFolderSwappedMidJobIsTheOneTheWalkGoesOnIn)
{
    fs::create_directory(m_dir.Path() / "tree/sub");
    for (const char* name : { "a_big", "config", "key" }) {
        test::WriteFile(m_dir.Path() / "tree/sub" / name, test::TextLikeBytes(1 << 20, 5));
        test::WriteFile(m_dir.Path() / "root-only" / name, BytesOf(std::string("root's ") + name));
    }
    const auto before = Contents(m_dir.Path() / "root-only");
    test::HeldTool tool({ "-r", "--rm", "--progress", m_dir.Path() / "tree" });
    ASSERT_TRUE(tool.AwaitHeld()) << "the tool stands at its first file's progress line";
    fs::rename(m_dir.Path() / "tree/sub", m_dir.Path() / "tree/sub.old");
    fs::create_directory_symlink("../root-only", m_dir.Path() / "tree/sub");
    tool.Release();
    const test::Finished finished = tool.Wait();
    EXPECT_EQ(finished.status, 0);
    EXPECT_EQ(Contents(m_dir.Path() / "root-only"), before) << "root's files are not touched";
    EXPECT_EQ(test::NamesIn(m_dir.Path() / "tree/sub.old"),
              (std::vector<std::string> { "a_big.huf", "config.huf", "key.huf" }))
        << "the folder that was walked got every file, wherever it went";
}

// A link among the names root types is not walked, even as "link/", and says so; the folder
// itself may be named. M's `uploads/zz-link -> /root-only` once had `hufpack -r --rm
// uploads/*` compress and remove root's files.
TEST_F(Walk, ALinkNamedOnTheCommandLineIsNotWalked)
{
    fs::create_directory(m_dir.Path() / "uploads");
    test::WriteFile(m_dir.Path() / "uploads/a", BytesOf("abracadabra"));
    test::WriteFile(m_dir.Path() / "root-only/config", BytesOf("root's config"));
    fs::create_directory_symlink("../root-only", m_dir.Path() / "uploads/zz-link");
    const auto before = Contents(m_dir.Path() / "root-only");
    for (const char* named : { "zz-link", "zz-link/" }) {
        SCOPED_TRACE(named);
        const std::string link = m_dir.Path() / "uploads" / named;
        const test::ToolRun run
            = test::RunTool({ .args = { "-r", "--rm", m_dir.Path() / "uploads/a", link } });
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err,
                  "hufpack: " + (m_dir / "uploads/zz-link")
                      + ": is a symbolic link; not walked (name the folder itself)\n");
        EXPECT_EQ(Contents(m_dir.Path() / "root-only"), before)
            << "nothing behind the link is touched";
        EXPECT_TRUE(fs::exists(m_dir.Path() / "uploads/a.huf")) << "the other files are done";
        fs::remove(m_dir.Path() / "uploads/a.huf");
        test::WriteFile(m_dir.Path() / "uploads/a", BytesOf("abracadabra"));
    }
    const test::ToolRun folder = test::RunTool({ .args = { "-r", m_dir.Path() / "root-only" } });
    EXPECT_EQ(folder.status, 0) << folder.err;
    EXPECT_TRUE(fs::exists(m_dir.Path() / "root-only/config.huf")) << "the folder itself is walked";
}

} // namespace
} // namespace hufpack
