// The hufpack tool as a user runs it: exit statuses, messages, and what it does to the files.

#include "Format.h"
#include "TestSupport.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

namespace hufpack {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::BytesOf;

struct CliRun
{
    int status; // the exit status, or -1 when the tool did not exit normally
    std::string out;
    std::string err;
    long peakKiB = 0; // the process's maximum resident set
};

std::string TextOf(const fs::path& path)
{
    const Bytes bytes = test::ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// Runs the tool with `args`, its standard output and error going to files of their own.
CliRun RunCli(const std::vector<std::string>& args)
{
    const test::ScratchDir logs;
    const pid_t pid = test::StartTool(args, logs / "out", logs / "err");
    if (pid < 0) {
        ADD_FAILURE() << "cannot run the tool that HUFPACK_CLI names";
        return { -1, {}, {} };
    }
    int wstatus = 0;
    rusage usage {};
    while (::wait4(pid, &wstatus, 0, &usage) < 0) { }
    const int status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    return { status, TextOf(logs / "out"), TextOf(logs / "err"), usage.ru_maxrss };
}

const Bytes kPrecious = BytesOf("an old file the tool must not touch");

TEST(Cli, RoundTripOfAMegabyteRestoresEveryByte)
{
    test::ScratchDir dir;
    const Bytes source = test::TextLikeBytes(1 << 20, 11);
    test::WriteFile(dir / "source", source);
    const CliRun encoded = RunCli({ "encode", dir / "source", dir / "packed" });
    EXPECT_EQ(encoded.status, 0) << "a finished job exits 0: " << encoded.err;
    EXPECT_EQ(encoded.out, "Done.\n") << "a finished job says Done.";
    EXPECT_EQ(encoded.err, "") << "success prints nothing on standard error";
    EXPECT_LT(fs::file_size(dir / "packed"), source.size()) << "text compresses";
    const CliRun decoded = RunCli({ "decode", dir / "packed", dir / "restored" });
    EXPECT_EQ(decoded.status, 0) << "a finished job exits 0: " << decoded.err;
    EXPECT_EQ(decoded.out, "Done.\n") << "a finished job says Done.";
    EXPECT_TRUE(test::ReadFile(dir / "restored") == source) << "decoding restores the source";
}

TEST(Cli, FailedJobsExitWithTheirStatusAndMessage)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "plain", BytesOf("plain text, never compressed"));
    fs::create_hard_link(dir / "plain", dir / "hard");
    const struct
    {
        std::vector<std::string> args;
        int status;
        const char* message;
    } cases[] = {
        { { "encode", dir / "absent", dir / "out" },
          1,
          "The source file cannot be opened / destination file cannot be written" },
        { { "decode", dir / "absent", dir / "out" },
          1,
          "The source file cannot be opened / destination file cannot be written" },
        { { "encode", dir / "plain", dir / "absent/out" },
          1,
          "The source file cannot be opened / destination file cannot be written" },
        { { "decode", dir / "plain", dir / "out" },
          3,
          "You must only decode a file encoded by this program." },
        { { "encode", dir / "plain", dir / "plain" },
          5,
          "Please select a different destination file." },
        { { "decode", dir / "plain", dir / "plain", "-f" },
          5,
          "Please select a different destination file." },
        { { "encode", dir / "plain", dir / "hard" },
          5,
          "Please select a different destination file." },
    };
    const auto before = dir.List();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1] + " " + c.args[2]);
        const CliRun run = RunCli(c.args);
        EXPECT_EQ(run.status, c.status) << "each failure has its own exit status";
        EXPECT_NE(run.err.find(c.message), std::string::npos)
            << "the failure is explained on standard error, got: " << run.err;
        EXPECT_EQ(dir.List(), before) << "a failed job creates nothing";
        EXPECT_EQ(TextOf(dir / "plain"), "plain text, never compressed") << "source untouched";
    }
}

TEST(Cli, AnExistingDestinationIsReplacedOnlyWithForce)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "source", BytesOf("abracadabra"));
    test::WriteFile(dir / "packed", kPrecious);
    const CliRun refused = RunCli({ "encode", dir / "source", dir / "packed" });
    EXPECT_EQ(refused.status, 1) << "an existing destination needs -f";
    EXPECT_NE(refused.err.find("already exists"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.out, "") << "no job was run";
    EXPECT_EQ(test::ReadFile(dir / "packed"), kPrecious) << "the destination is unchanged";

    for (const char* force : { "-f", "--force" }) {
        SCOPED_TRACE(force);
        test::WriteFile(dir / "packed", kPrecious);
        const CliRun forced = RunCli({ "encode", dir / "source", dir / "packed", force });
        EXPECT_EQ(forced.status, 0) << "-f replaces the destination: " << forced.err;
        test::WriteFile(dir / "restored", kPrecious);
        const CliRun restored = RunCli({ force, "decode", dir / "packed", dir / "restored" });
        EXPECT_EQ(restored.status, 0) << "the option may come first: " << restored.err;
        EXPECT_EQ(test::ReadFile(dir / "restored"), BytesOf("abracadabra"))
            << "the replaced destination holds the round trip";
    }
}

TEST(Cli, HelpVersionAndUsageErrors)
{
    for (const char* option : { "--help", "-h", "--version", "-V" }) {
        SCOPED_TRACE(option);
        const CliRun run = RunCli({ option });
        EXPECT_EQ(run.status, 0) << "asking for information is not an error";
        EXPECT_NE(run.out.find("hufpack"), std::string::npos) << "it goes to standard output";
        EXPECT_EQ(run.err, "") << "nothing goes to standard error";
    }
    EXPECT_NE(RunCli({ "--help" }).out.find("encode SOURCE DEST"), std::string::npos)
        << "help shows the usage";
    EXPECT_EQ(RunCli({ "--version" }).out.rfind("hufpack ", 0), 0u) << "version names the tool";

    test::ScratchDir dir;
    test::WriteFile(dir / "source", BytesOf("abc"));
    const std::vector<std::vector<std::string>> misuses = {
        {},
        { "--bogus" },
        { "encode", dir / "source", dir / "out", "-x" },
        { "encode" },
        { "encode", dir / "source" },
        { "decode", dir / "source", dir / "out", dir / "more" },
        { "squash", dir / "source", dir / "out" },
    };
    for (const auto& args : misuses) {
        std::string line;
        for (const auto& arg : args)
            line += arg + " ";
        SCOPED_TRACE(line);
        const CliRun run = RunCli(args);
        EXPECT_EQ(run.status, 2) << "wrong usage exits 2";
        EXPECT_NE(run.err.find("Usage"), std::string::npos) << "the usage goes to standard error";
        EXPECT_EQ(run.out, "") << "no job was run";
        EXPECT_EQ(dir.List(), std::vector<std::string> { "source" }) << "nothing is written";
    }
}

// A file of a few bytes may claim billions of bits and the largest counts: the decoder must not
// allocate for what the file claims, nor work longer than its bits allow.
TEST(Cli, CraftedClaimsCostNoMemory)
{
    const test::ScratchDir dir;
    const auto file = [](std::int32_t totalBits, const Bytes& table, const Bytes& stream) {
        Bytes bytes { ChecksumFor(static_cast<std::int16_t>(table.size()), totalBits) };
        for (int k = 0; k < 4; ++k)
            bytes.push_back(
                static_cast<std::uint8_t>(static_cast<std::uint32_t>(totalBits) >> (8 * k)));
        bytes.push_back(static_cast<std::uint8_t>(table.size()));
        bytes.push_back(static_cast<std::uint8_t>(table.size() >> 8));
        bytes.insert(bytes.end(), table.begin(), table.end());
        bytes.insert(bytes.end(), stream.begin(), stream.end());
        return bytes;
    };
    Bytes everyValueAtMost;
    Bytes doubling; // a tree 40 levels deep
    for (int value = 0; value < 256; ++value) {
        const std::uint32_t count = value < 40 ? (value < 31 ? 1u << value : 0x7FFFFFFFu) : 0;
        for (const auto& [table, c] :
             { std::pair { &everyValueAtMost, 0x7FFFFFFFu }, std::pair { &doubling, count } }) {
            if (c == 0)
                continue;
            table->push_back(static_cast<std::uint8_t>(value));
            for (int k = 0; k < 4; ++k)
                table->push_back(static_cast<std::uint8_t>(c >> (8 * k)));
        }
    }
    const struct
    {
        const char* what;
        Bytes bytes;
    } cases[] = {
        // As many bits as a valid checksum allows with a full table, 8 bytes of them present.
        { "2^31 - 1281 bits claimed, 8 bytes of them present",
          file(0x7FFFFFFF - 1280, everyValueAtMost, Bytes(8, 0xAB)) },
        { "a deep tree walked through 4 MiB of one bits",
          file(32 << 20, doubling, Bytes(4 << 20, 0xFF)) },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::WriteFile(dir / "crafted", c.bytes);
        const CliRun run = RunCli({ "decode", dir / "crafted", dir / "out" });
        EXPECT_EQ(run.status, 3) << "a file whose counts and bits disagree is not ours";
        EXPECT_EQ(run.out.find("Bad checksum"), std::string::npos) << "past the checksum";
        EXPECT_FALSE(fs::exists(dir / "out")) << "a rejected file leaves no destination";
#if !defined(__SANITIZE_ADDRESS__)
        EXPECT_LT(run.peakKiB, 16 * 1024) << "the decoder's memory does not follow the claims";
#endif
    }
}

} // namespace
} // namespace hufpack
