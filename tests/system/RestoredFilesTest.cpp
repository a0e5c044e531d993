// Files restored as they were beyond their bytes: the holes of a sparse file (a disk image, a
// database) come back as holes where the destination is a new file, never where it is a stream;
// and the user attributes of a source (file managers' tags, a download's origin) go to the new
// file in both directions, a file system without them failing nothing.

#include "Corpus.h"
#include "TestSupport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace hufpack {
namespace {

using test::Bytes;

struct stat StatOf(const std::string& path)
{
    struct stat info
    {
    };
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info;
}

// A file of `size` bytes that holds `pieces` (offset, bytes) and, between them, holes.
void MakeSparse(const std::string& path, off_t size,
                const std::vector<std::pair<off_t, Bytes>>& pieces)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    for (const auto& [offset, bytes] : pieces)
        ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), offset),
                  static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

// Each layout restored through each way a destination is named: the same bytes and length,
// and, where the original has holes and the file system keeps them, no more room than it takes
// but a few blocks; standard output gets every byte.
TEST(Holes, ASparseFileComesBackSparseAndAStreamGetsEveryByte)
{
    const test::ScratchDir dir;
    Bytes zerosInside = test::TextLikeBytes(1 << 20, 3);
    std::fill(zerosInside.begin() + 1000, zerosInside.begin() + 70000, 0);
    const struct
    {
        const char* what;
        off_t size;
        std::vector<std::pair<off_t, Bytes>> pieces;
    } layouts[] = {
        { "a disk image, ending in a hole",
          64 << 20,
          { { 10000000, test::BytesOf("hello") }, { 20 << 20, test::RandomBytes(4096, 1) } } },
        { "data at both ends, off the blocks' lines",
          8 << 20,
          { { 0, test::RandomBytes(100, 2) }, { (8 << 20) - 100, test::RandomBytes(100, 3) } } },
        { "zeros written, not a hole, across blocks", 1 << 20, { { 0, zerosInside } } },
        { "only a hole", 3 << 20, {} },
    };
    const std::vector<std::vector<std::string>> restorers = {
        { "-d", "-o", dir / "back", dir / "packed.huf" },
        { "decode", dir / "packed.huf", dir / "back" },
    };
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.what);
        MakeSparse(dir / "original", layout.size, layout.pieces);
        const Bytes original = test::ReadFile(dir / "original");
        const test::ToolRun packed = test::RunTool({ { "-c", dir / "original" } });
        ASSERT_EQ(packed.status, 0) << packed.err;
        test::WriteFile(dir / "packed.huf", test::BytesOf(packed.out));
        const struct stat before = StatOf(dir / "original");
        const bool holes = before.st_blocks * 512 < before.st_size;
        for (const auto& restore : restorers) {
            SCOPED_TRACE(restore[0]);
            std::filesystem::remove(dir / "back");
            const test::ToolRun run = test::RunTool({ restore });
            ASSERT_EQ(run.status, 0) << run.err;
            EXPECT_TRUE(test::ReadFile(dir / "back") == original);
            const struct stat after = StatOf(dir / "back");
            EXPECT_EQ(after.st_size, before.st_size);
            if (holes) {
                EXPECT_LE(after.st_blocks, before.st_blocks + 16)
                    << "restored in " << after.st_blocks * 512 << " bytes, from "
                    << before.st_blocks * 512;
            }
        }
        const test::ToolRun toPipe = test::RunTool({ { "-dc", dir / "packed.huf" } });
        ASSERT_EQ(toPipe.status, 0);
        EXPECT_TRUE(test::BytesOf(toPipe.out) == original);
    }
}

std::string Attribute(const std::string& path, const char* name)
{
    char value[256];
    const ssize_t size = ::getxattr(path.c_str(), name, value, sizeof value);
    return size < 0 ? "(none: " + std::string(std::strerror(errno)) + ")"
                    : std::string(value, static_cast<std::size_t>(size));
}

bool SetAttribute(const std::string& path, const char* name, const std::string& value)
{
    return ::setxattr(path.c_str(), name, value.data(), value.size(), 0) == 0;
}

// A source's user attributes reach its compressed file and, from there, the restored one; the
// system's own (trusted.*) stay where they were. A destination that had an attribute of the
// same name takes the source's.
TEST(UserAttributes, GoWithTheFileBothWays)
{
    const test::ScratchDir dir;
    test::WriteFile(dir / "notes", test::TextLikeBytes(200000, 4));
    if (!SetAttribute(dir / "notes", "user.xdg.tags", "work,urgent"))
        GTEST_SKIP() << "this file system keeps no user attributes: " << std::strerror(errno);
    ASSERT_TRUE(SetAttribute(dir / "notes", "user.xdg.origin.url", "https://example.org/notes"));
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_TRUE(SetAttribute(dir / "notes", "trusted.hufpack-test", "the system's"));
    }
    test::WriteFile(dir / "restored", test::BytesOf("an older file"));
    ASSERT_TRUE(SetAttribute(dir / "restored", "user.xdg.tags", "old"));

    ASSERT_EQ(test::RunTool({ { "-k", dir / "notes" } }).status, 0);
    ASSERT_EQ(test::RunTool({ { "-d", "-f", "-o", dir / "restored", dir / "notes.huf" } }).status,
              0);
    for (const std::string& file : { dir / "notes.huf", dir / "restored" }) {
        SCOPED_TRACE(file);
        EXPECT_EQ(Attribute(file, "user.xdg.tags"), "work,urgent");
        EXPECT_EQ(Attribute(file, "user.xdg.origin.url"), "https://example.org/notes");
        if (root) {
            EXPECT_NE(Attribute(file, "trusted.hufpack-test"), "the system's");
        }
    }
}

// A file system without user attributes (ramfs) takes the new file all the same.
TEST(UserAttributes, AFileSystemWithoutThemFailsNothing)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to mount a file system without user attributes";
    const test::ScratchDir dir;
    test::WriteFile(dir / "notes", test::TextLikeBytes(100000, 5));
    if (!SetAttribute(dir / "notes", "user.xdg.tags", "work"))
        GTEST_SKIP() << "this file system keeps no user attributes";
    const std::string plain = dir / "plain";
    std::filesystem::create_directory(plain);
    ASSERT_EQ(::mount("ramfs", plain.c_str(), "ramfs", 0, nullptr), 0) << std::strerror(errno);
    const test::ToolRun compressed
        = test::RunTool({ { "-k", "-o", plain + "/notes.huf", dir / "notes" } });
    const test::ToolRun restored
        = test::RunTool({ { "-d", "-o", plain + "/notes", plain + "/notes.huf" } });
    const Bytes back = test::ReadFile(plain + "/notes");
    ::umount2(plain.c_str(), MNT_DETACH);
    EXPECT_EQ(compressed.status, 0) << compressed.err;
    EXPECT_EQ(restored.status, 0) << restored.err;
    EXPECT_TRUE(back == test::ReadFile(dir / "notes"));
}

} // namespace
} // namespace hufpack
