// Compressed files of several members, as the files form reads and writes them: every member
// restored in turn, zero padding passed over, and nothing else after the last member ever
// called a compressed file; a source beyond one member written as the fewest that hold it, from
// a file or through a pipe with a spool of one member at most; the first form keeping to one.

#include "Corpus.h"
#include "TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace hufpack {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::BytesOf;

// "aaaa", as the format's own example writes it: one entry, four 0 bits.
const Bytes kAaaa = test::FromHex("09 04 00 00 00 05 00 61 04 00 00 00 00");

std::string Listing(const std::string& lines)
{
    return "  compressed uncompressed   ratio entries longest  name\n" + lines;
}

// Runs `command` in `folder` under sh, HUFPACK standing for the tool: its exit status and
// standard error.
test::ToolRun Shell(const std::string& command, const fs::path& folder)
{
    const test::ScratchDir logs;
    const std::string line = "cd '" + folder.string() + "' && HUFPACK='" + test::ToolPath()
        + "' && " + command + " 2>'" + (logs / "err") + "'";
    const int status = std::system(line.c_str());
    return { WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0, {}, test::ReadText(logs / "err") };
}

// Each layout of members through every reader, from a file and from a pipe: the bytes restored,
// the exit status and what is said.
TEST(Members, EveryLayoutIsReadWholeAndNothingAfterTheEndIsCalledOurs)
{
    const Bytes& abra = test::AbracadabraFile();
    Bytes junk(1024, 0xAB); // its header's checksum fails: no member starts there
    Bytes damaged = kAaaa;
    damaged[8] = 3; // a count of 3 where the codes take four bits: the checksum still holds
    const Bytes cut(kAaaa.begin(), kAaaa.end() - 1);
    const struct
    {
        const char* what;
        Bytes file;
        std::string restored; // what -dc writes; -d keeps it too when the status is 0 or trailing
        int status;
        std::string said; // after "hufpack: NAME: "
        bool kept; // with status 3, -d still leaves the restored file
        std::string listed; // -l's lines, for status 0
    } layouts[] = {
        { "one member", abra, "abracadabra", 0, "", false,
          "          35           11 -218.2%       5       3  NAME\n" },
        { "two members", test::Concat({ abra, kAaaa }), "abracadabraaaaa", 0, "", false,
          "          48           15 -220.0%       5       3  NAME\n" },
        { "zero padding", test::Concat({ abra, Bytes(512, 0) }), "abracadabra", 0, "", false,
          "         547           11 -4872.7%       5       3  NAME\n" },
        { "an empty member after the first",
          test::Concat({ abra, test::FromHex("00 00 FF FF FF 00 00") }), "abracadabra", 3,
          "7 bytes after member 1 are not a compressed file", true, "" },
        { "a byte of junk", test::Concat({ abra, Bytes { 1 } }), "abracadabra", 3,
          "1 byte after member 1 is not a compressed file", true, "" },
        { "a KiB of junk after two", test::Concat({ abra, kAaaa, junk }), "abracadabraaaaa", 3,
          "1024 bytes after member 2 are not a compressed file", true, "" },
        { "a damaged second member", test::Concat({ abra, damaged }), "abracadabra", 3,
          "damaged: its bytes do not match its table", false, "" },
        { "a second member cut short", test::Concat({ abra, cut }), "abracadabra", 3,
          "unexpected end of file", false, "" },
    };
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.what);
        test::ScratchDir dir;
        test::WriteFile(dir / "f.huf", layout.file);
        const std::string fail = layout.status == 0 ? "" : layout.said + "\n";
        // From a file.
        const test::ToolRun restored
            = test::RunTool({ .args = { "-d", "f.huf" }, .folder = dir.Path() });
        EXPECT_EQ(restored.status, layout.status);
        EXPECT_EQ(restored.err, fail.empty() ? "" : "hufpack: f.huf: " + fail);
        if (layout.status == 0 || layout.kept) {
            EXPECT_EQ(test::ReadText(dir / "f"), layout.restored) << "every decodable byte is kept";
        } else {
            EXPECT_FALSE(fs::exists(dir / "f")) << "a damaged file leaves no output";
        }
        EXPECT_TRUE(fs::exists(dir / "f.huf"));
        for (const bool piped : { false, true }) {
            SCOPED_TRACE(piped ? "from a pipe" : "from a file");
            const std::string name = piped ? "(stdin)" : "f.huf";
            const auto run = [&](const std::string& action) {
                test::ToolCall call { .args = { action }, .folder = dir.Path() };
                if (piped)
                    call.input = layout.file;
                else
                    call.args.push_back("f.huf");
                return test::RunTool(call);
            };
            const std::string said = fail.empty() ? "" : "hufpack: " + name + ": " + fail;
            const test::ToolRun out = run("-dc");
            EXPECT_EQ(out.status, layout.status);
            EXPECT_EQ(out.out, layout.restored) << "standard output has every member before";
            EXPECT_EQ(out.err, said);
            const test::ToolRun tested = run("-t");
            EXPECT_EQ(tested.status, layout.status);
            EXPECT_EQ(tested.err, said);
            const test::ToolRun listed = run("-l");
            const bool listable = layout.status == 0;
            EXPECT_EQ(listed.status, layout.status);
            if (listable) {
                std::string lines = layout.listed;
                lines.replace(lines.find("NAME"), 4, name);
                EXPECT_EQ(listed.out, Listing(lines));
            } else {
                EXPECT_EQ(listed.out, "") << "nothing is listed";
                EXPECT_EQ(listed.err, said);
            }
        }
    }
    // With -v, a line for each of several members before the file's.
    test::ScratchDir dir;
    test::WriteFile(dir / "two.huf", test::Concat({ abra, kAaaa }));
    EXPECT_EQ(test::RunTool({ .args = { "-lv", "two.huf" }, .folder = dir.Path() }).out,
              Listing("          35           11 -218.2%       5       3  two.huf, member 1\n"
                      "          13            4 -225.0%       1       1  two.huf, member 2\n"
                      "          48           15 -220.0%       5       3  two.huf\n"));
}

// Several files compressed to standard output make one file of several members, as gzip's do.
TEST(Members, SeveralFilesToStandardOutputAreOneFile)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "a", BytesOf("abracadabra"));
    test::WriteFile(dir / "b", BytesOf("aaaa"));
    const test::ToolRun both = test::RunTool({ .args = { "-c", "a", "b" }, .folder = dir.Path() });
    ASSERT_EQ(both.status, 0) << both.err;
    EXPECT_EQ(BytesOf(both.out), test::Concat({ test::AbracadabraFile(), kAaaa }));
    const test::ToolRun restored = test::RunTool({ .args = { "-dc" }, .input = BytesOf(both.out) });
    EXPECT_EQ(restored.out, "abracadabraaaaa");
}

// A source no member can hold: 600 MB that do not compress, about three members' worth. From a
// file and through a pipe it becomes the same three members, each as long as it may be, and
// comes back byte for byte; the pipe's spool never holds more than one member, which a spool
// folder of 300 MiB shows (as root, who may mount one); and the first form reads the first
// member only, as it reads any file.
TEST(Members, ASourceNoMemberCanHoldIsWrittenAsTheFewestMembers)
{
    const test::ScratchDir dir(test::MemoryFolder());
    constexpr std::size_t kSize = 600'000'000;
    const Bytes source = test::RandomBytes(kSize, 28);
    test::WriteFile(dir / "big", source);
    std::optional<test::SmallDisk> spool;
    if (::geteuid() == 0) {
        spool.emplace(dir.Path() / "spool", std::size_t { 300 } << 20);
        EXPECT_TRUE(spool->Mounted()) << spool->Error();
    }
    const std::string spoolFolder
        = spool && spool->Mounted() ? spool->Path().string() : dir.Path().string();

    const test::ToolRun packed = test::RunTool({ .args = { "big" }, .folder = dir.Path() });
    ASSERT_EQ(packed.status, 0) << packed.err;
    EXPECT_EQ(packed.err,
              "hufpack: big: written as 3 members, one after another, since one holds 2 GiB at "
              "most; the first form and the dialog read only the first\n");
    const test::ToolRun listed
        = test::RunTool({ .args = { "-lv", "big.huf" }, .folder = dir.Path() });
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(listed.out.find("big.huf, member 3\n"), std::string::npos) << listed.out;
    EXPECT_EQ(listed.out.find("member 4"), std::string::npos) << listed.out;

    const std::string inPipe = "TMPDIR='" + spoolFolder + "' \"$HUFPACK\"";
    const test::ToolRun piped = Shell("cat big | " + inPipe + " >piped.huf", dir.Path());
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_TRUE(test::ReadFile(dir / "piped.huf") == test::ReadFile(dir / "big.huf"))
        << "a pipe gives the same members as the file";
    fs::remove(dir / "piped.huf");

    const test::ToolRun restored = Shell("cat big.huf | " + inPipe + " -d >restored", dir.Path());
    ASSERT_EQ(restored.status, 0) << restored.err;
    EXPECT_TRUE(test::ReadFile(dir / "restored") == source) << "restored byte for byte";
    fs::remove(dir / "restored");
    if (spool && spool->Mounted()) {
        EXPECT_EQ(test::NamesIn(spool->Path()), std::vector<std::string> {})
            << "the spool leaves nothing";
    }

    const test::ToolRun first
        = test::RunTool({ .args = { "decode", "big.huf", "first" }, .folder = dir.Path() });
    ASSERT_EQ(first.status, 0) << first.err;
    const Bytes firstMember = test::ReadFile(dir / "first");
    EXPECT_GT(firstMember.size(), kSize / 3) << "the first member is as long as it may be";
    EXPECT_LT(firstMember.size(), kSize / 2);
    EXPECT_TRUE(std::equal(firstMember.begin(), firstMember.end(), source.begin()))
        << "the first form reads the first member only";
}

// tar's compressor: an archive beyond one member, and back, file for file.
TEST(Members, TarTakesItAsItsCompressorBeyondOneMember)
{
    if (::system("command -v tar >/dev/null") != 0)
        GTEST_SKIP() << "tar is missing";
    const test::ScratchDir dir(test::MemoryFolder());
    fs::create_directories(dir / "tree/photos");
    test::WriteFile(dir / "tree/photos/a.raw", test::RandomBytes(200'000'000, 1));
    test::WriteFile(dir / "tree/photos/b.raw", test::RandomBytes(150'000'000, 2));
    test::WriteFile(dir / "tree/notes.txt", test::TextLikeBytes(1 << 20, 3));
    const std::string tmp = "TMPDIR='" + dir.Path().string() + "' ";
    const test::ToolRun packed
        = Shell(tmp + "tar -I \"$HUFPACK\" -cf backup.tar.huf tree", dir.Path());
    ASSERT_EQ(packed.status, 0) << packed.err;
    fs::create_directory(dir / "out");
    const test::ToolRun unpacked
        = Shell(tmp + "tar -I \"$HUFPACK\" -xf backup.tar.huf -C out", dir.Path());
    ASSERT_EQ(unpacked.status, 0) << unpacked.err;
    EXPECT_EQ(Shell("diff -r tree out/tree", dir.Path()).status, 0) << "the tree comes back whole";
}

} // namespace
} // namespace hufpack
