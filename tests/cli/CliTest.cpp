// The hufpack tool as a user runs it: exit statuses, messages, and what it does to the files.

#include "Corpus.h"
#include "TestSupport.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
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

TEST(Cli, FailedJobsExitWithTheirStatusAndNameTheFileAndTheReason)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "plain", BytesOf("plain text, never compressed"));
    test::WriteFile(dir / "packed",
                    test::FromHex("30 17 00 00 00 19 00 61 05 00 00 00 62 02 00 00 "
                                  "00 63 01 00 00 00 64 01 00 00 00 72 02 00 00 "
                                  "00 6E 8A DC"));
    test::WriteFile(dir / "cut", test::FromHex("30 17 00 00 00 19 00 61 05"));
    test::WriteFile(dir / "miscounted",
                    test::FromHex("30 17 00 00 00 19 00 61 06 00 00 00 62 02 00 "
                                  "00 00 63 01 00 00 00 64 01 00 00 00 72 02 "
                                  "00 00 00 6E 8A DC"));
    fs::create_hard_link(dir / "plain", dir / "hard");
    fs::create_directory(dir / "folder");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_symlink("loop", dir / "loop");
    const struct
    {
        std::vector<std::string> args;
        int status;
        std::string message;
    } cases[] = {
        { { "encode", dir / "absent", dir / "out" },
          1,
          dir / "absent" + ": No such file or directory" },
        { { "decode", dir / "absent", dir / "out" },
          1,
          dir / "absent" + ": No such file or directory" },
        { { "encode", dir / "folder", dir / "out" }, 1, dir / "folder" + ": Is a directory" },
        { { "encode", dir / "fifo", dir / "out" }, 1, dir / "fifo" + ": not a regular file" },
        { { "encode", dir / "plain", dir / "absent/out" },
          1,
          dir / "absent/out" + ": No such file or directory" },
        { { "encode", dir / "plain", dir / "loop", "-f" },
          1,
          dir / "loop" + ": Too many levels of symbolic links" },
        { { "encode", dir / "plain", dir / "packed" },
          1,
          dir / "packed" + ": already exists; use -f to replace it" },
        { { "encode", dir / "plain", dir / "folder", "-f" },
          1,
          dir / "folder" + ": Is a directory" },
        { { "decode", dir / "plain", dir / "out" },
          3,
          dir / "plain" + ": not a file this program wrote" },
        { { "decode", dir / "cut", dir / "out" }, 3, dir / "cut" + ": unexpected end of file" },
        { { "decode", dir / "miscounted", dir / "out" },
          3,
          dir / "miscounted" + ": damaged: its bytes do not match its table" },
        { { "encode", dir / "plain", dir / "plain" },
          5,
          dir / "plain" + ": the source and the destination are the same file" },
        { { "decode", dir / "plain", dir / "plain", "-f" },
          5,
          dir / "plain" + ": the source and the destination are the same file" },
        { { "encode", dir / "plain", dir / "hard" },
          5,
          dir / "hard" + ": the source and the destination are the same file" },
    };
    const auto before = dir.List();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1] + " " + c.args[2]);
        const CliRun run = RunCli(c.args);
        EXPECT_EQ(run.status, c.status) << "each failure has its own exit status";
        EXPECT_EQ(run.err, "hufpack: " + c.message + "\n")
            << "one line names the file and says what is wrong with it";
        EXPECT_EQ(dir.List(), before) << "a failed job creates nothing";
        EXPECT_EQ(TextOf(dir / "plain"), "plain text, never compressed") << "source untouched";
    }
}

TEST(Cli, WhatAnotherUserMayNotDoIsSaidAsPermissionDenied)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to act as another user";
    test::TestUsers users;
    std::string why;
    if (!test::GetTestUsers(users, why))
        GTEST_SKIP() << why;
    // A folder anyone may enter but only root may write, with a file only root may read.
    const test::ScratchDir dir;
    ::chmod(dir.Path().c_str(), 0755);
    test::WriteFile(dir / "private", BytesOf("root's own"));
    ::chmod((dir / "private").c_str(), 0600);
    test::WriteFile(dir / "public", BytesOf("anyone's"));
    ::chmod((dir / "public").c_str(), 0644);
    const test::ScratchDir logs;
    ::chmod(logs.Path().c_str(), 0777);
    for (const auto& [args, message] :
         { std::pair { std::vector<std::string> { "encode", dir / "private", logs / "out" },
                       dir / "private" + ": Permission denied" },
           std::pair { std::vector<std::string> { "encode", dir / "public", dir / "out" },
                       dir / "out" + ": Permission denied" },
           std::pair { std::vector<std::string> { "encode", dir / "public", dir / "private", "-f" },
                       dir / "private" + ": Permission denied" } }) {
        SCOPED_TRACE(args[1] + " " + args[2]);
        test::Launch launch;
        launch.args = { test::ToolPath() };
        launch.args.insert(launch.args.end(), args.begin(), args.end());
        launch.errors = logs / "err";
        launch.user = &users.m;
        EXPECT_EQ(test::Wait(test::Start(launch)).status, 1);
        EXPECT_EQ(TextOf(logs / "err"), "hufpack: " + message + "\n");
    }
    EXPECT_EQ(TextOf(dir / "private"), "root's own");
    EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST(Cli, AClosedStandardOutputDoesNotFailAFinishedJob)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "source", BytesOf("abracadabra"));
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    ::close(pipeEnds[0]); // nobody will read what the tool prints
    test::Launch launch;
    launch.args = { test::ToolPath(), "encode", dir / "source", dir / "packed" };
    launch.outputFd = pipeEnds[1];
    const pid_t pid = test::Start(launch);
    ::close(pipeEnds[1]);
    const test::Finished finished = test::Wait(pid);
    EXPECT_EQ(finished.signal, 0) << "no SIGPIPE ends the tool";
    EXPECT_EQ(finished.status, 0) << "the job was done, whatever became of its \"Done.\"";
    EXPECT_EQ(test::ReadFile(dir / "packed").size(), 35u) << "the destination is written";
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
    // The commands take two files and no options of the other form: with no command, or any
    // other word, the tool compresses files instead (see FilesFormTest).
    const std::vector<std::vector<std::string>> misuses = {
        { "--bogus" },
        { "encode", dir / "source", dir / "out", "-x" },
        { "encode" },
        { "encode", dir / "source" },
        { "decode", dir / "source", dir / "out", dir / "more" },
        { "encode", dir / "source", dir / "out", "-v" },
        { "decode", dir / "source", "-" },
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
          test::Crafted(0x7FFFFFFF - 1280, everyValueAtMost, Bytes(8, 0xAB)) },
        { "a deep tree walked through 4 MiB of one bits",
          test::Crafted(32 << 20, doubling, Bytes(4 << 20, 0xFF)) },
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
