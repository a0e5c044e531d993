// The hufpack tool as a user runs it: exit statuses, messages, and what it does to the files.

#include "Corpus.h"
#include "TestSupport.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace hufpack {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::BytesOf;

test::ToolRun RunCli(const std::vector<std::string>& args)
{
    return test::RunTool({ .args = args });
}

const Bytes kPrecious = BytesOf("an old file the tool must not touch");

TEST(Cli, RoundTripOfAMegabyteRestoresEveryByte)
{
    test::ScratchDir dir;
    const Bytes source = test::TextLikeBytes(1 << 20, 11);
    test::WriteFile(dir / "source", source);
    const test::ToolRun encoded = RunCli({ "encode", dir / "source", dir / "packed" });
    EXPECT_EQ(encoded.status, 0) << "a finished job exits 0: " << encoded.err;
    EXPECT_EQ(encoded.out, "Done.\n") << "a finished job says Done.";
    EXPECT_EQ(encoded.err, "") << "success prints nothing on standard error";
    EXPECT_LT(fs::file_size(dir / "packed"), source.size()) << "text compresses";
    const test::ToolRun decoded = RunCli({ "decode", dir / "packed", dir / "restored" });
    EXPECT_EQ(decoded.status, 0) << "a finished job exits 0: " << decoded.err;
    EXPECT_EQ(decoded.out, "Done.\n") << "a finished job says Done.";
    EXPECT_TRUE(test::ReadFile(dir / "restored") == source) << "decoding restores the source";
}

TEST(Cli, FailedJobsExitWithTheirStatusAndNameTheFileAndTheReason)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "plain", BytesOf("plain text, never compressed"));
    test::WriteFile(dir / "packed", test::AbracadabraFile());
    test::WriteFile(dir / "cut", test::Cut(test::AbracadabraFile(), 9));
    // a's count one too many
    test::WriteFile(dir / "miscounted", test::Changed(test::AbracadabraFile(), 8, 6));
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
        const test::ToolRun run = RunCli(c.args);
        EXPECT_EQ(run.status, c.status) << "each failure has its own exit status";
        EXPECT_EQ(run.err, "hufpack: " + c.message + "\n")
            << "one line names the file and says what is wrong with it";
        EXPECT_EQ(dir.List(), before) << "a failed job creates nothing";
        EXPECT_EQ(test::ReadText(dir / "plain"), "plain text, never compressed")
            << "source untouched";
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
        EXPECT_EQ(test::ReadText(logs / "err"), "hufpack: " + message + "\n");
    }
    EXPECT_EQ(test::ReadText(dir / "private"), "root's own");
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

TEST(NoClobber, TheFirstFormReplacesOnlyWithForce)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "source", BytesOf("abracadabra"));
    test::WriteFile(dir / "packed", kPrecious);
    const test::ToolRun refused = RunCli({ "encode", dir / "source", dir / "packed" });
    EXPECT_EQ(refused.status, 1) << "an existing destination needs -f";
    EXPECT_NE(refused.err.find("already exists"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.out, "") << "no job was run";
    EXPECT_EQ(test::ReadFile(dir / "packed"), kPrecious) << "the destination is unchanged";

    for (const char* force : { "-f", "--force" }) {
        SCOPED_TRACE(force);
        test::WriteFile(dir / "packed", kPrecious);
        const test::ToolRun forced = RunCli({ "encode", dir / "source", dir / "packed", force });
        EXPECT_EQ(forced.status, 0) << "-f replaces the destination: " << forced.err;
        test::WriteFile(dir / "restored", kPrecious);
        const test::ToolRun restored
            = RunCli({ force, "decode", dir / "packed", dir / "restored" });
        EXPECT_EQ(restored.status, 0) << "the option may come first: " << restored.err;
        EXPECT_EQ(test::ReadFile(dir / "restored"), BytesOf("abracadabra"))
            << "the replaced destination holds the round trip";
    }
}

TEST(Cli, HelpVersionAndUsageErrors)
{
    for (const char* option : { "--help", "-h", "--version", "-V" }) {
        SCOPED_TRACE(option);
        const test::ToolRun run = RunCli({ option });
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
        const test::ToolRun run = RunCli(args);
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
    for (const test::Sample& crafted : test::CraftedFiles()) {
        SCOPED_TRACE(crafted.name);
        test::WriteFile(dir / "crafted", crafted.file);
        const test::ToolRun run = RunCli({ "decode", dir / "crafted", dir / "out" });
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
