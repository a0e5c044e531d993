// hufpack the way gzip, xz and zstd are used: FILE becomes FILE.huf and back, pipes, several
// files, -c, -o, -t, -l, --rm, the times, the refusals and the progress line, each run as a user
// runs it, on real files, pipes and terminals.

#include "Corpus.h"
#include "TestSupport.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace hufpack {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::BytesOf;

const Bytes& kAbra = test::AbracadabraFile();
const Bytes kPrecious = BytesOf("an older file that must not be touched");

// Runs the tool in `folder`; `input`, when given, comes through a pipe, as from another program.
test::ToolRun RunTool(const std::vector<std::string>& args, const std::string& folder,
                      const std::optional<Bytes>& input = std::nullopt)
{
    return test::RunTool({ .args = args, .folder = folder, .input = input });
}

struct stat StatOf(const fs::path& path)
{
    struct stat info
    {
    };
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info;
}

TEST(FilesForm, EachFileBecomesFileDotHufAndBackKeepingTheSource)
{
    test::ScratchDir dir;
    const Bytes text = test::TextLikeBytes(300000, 21);
    test::WriteFile(dir / "notes.txt", text);
    const test::ToolRun encoded = RunTool({ "notes.txt" }, dir.Path());
    EXPECT_EQ(encoded.status, 0) << encoded.err;
    EXPECT_TRUE(encoded.out.empty()) << "nothing on standard output but data";
    EXPECT_EQ(encoded.err, "") << "a quiet success";
    EXPECT_TRUE(test::ReadFile(dir / "notes.txt") == text) << "the source is kept";
    fs::rename(dir / "notes.txt", dir / "original.txt");
    const test::ToolRun decoded = RunTool({ "-d", "notes.txt.huf" }, dir.Path());
    EXPECT_EQ(decoded.status, 0) << decoded.err;
    EXPECT_EQ(decoded.err, "");
    EXPECT_TRUE(test::ReadFile(dir / "notes.txt") == text) << "-d restores FILE from FILE.huf";
    EXPECT_TRUE(fs::exists(dir / "notes.txt.huf")) << "the compressed file is kept";

    // Another suffix, and the long options' spellings.
    const test::ToolRun other = RunTool({ "--suffix=.hp", "original.txt" }, dir.Path());
    EXPECT_EQ(other.status, 0) << other.err;
    EXPECT_EQ(test::ReadFile(dir / "original.txt.hp"), test::ReadFile(dir / "notes.txt.huf"));
    fs::remove(dir / "original.txt");
    EXPECT_EQ(RunTool({ "--decompress", "-S", ".hp", "original.txt.hp" }, dir.Path()).status, 0);
    EXPECT_TRUE(test::ReadFile(dir / "original.txt") == text);
}

TEST(FilesForm, PipesAndStandardOutputCarryTheData)
{
    test::ScratchDir dir;
    const Bytes text = test::TextLikeBytes(2 << 20, 22);
    test::WriteFile(dir / "notes.txt", text);
    ASSERT_EQ(RunTool({ "notes.txt" }, dir.Path()).status, 0);
    const Bytes packed = test::ReadFile(dir / "notes.txt.huf");

    const test::ToolRun fromPipe = RunTool({}, dir.Path(), text);
    EXPECT_EQ(fromPipe.status, 0) << fromPipe.err;
    EXPECT_TRUE(fromPipe.out == test::TextOf(packed))
        << "standard input to standard output, the same bytes";
    const test::ToolRun dash = RunTool({ "-" }, dir.Path(), text);
    EXPECT_TRUE(dash.out == test::TextOf(packed)) << "- is standard input";
    const test::ToolRun back = RunTool({ "-d" }, dir.Path(), packed);
    EXPECT_EQ(back.status, 0) << back.err;
    EXPECT_TRUE(back.out == test::TextOf(text)) << "and back";
    const test::ToolRun toStdout = RunTool({ "-dc", "notes.txt.huf" }, dir.Path());
    EXPECT_TRUE(toStdout.out == test::TextOf(text)) << "-c writes a file's data to standard output";
    const test::ToolRun named = RunTool({ "-o", "copy.huf", "-" }, dir.Path(), text);
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_TRUE(test::ReadFile(dir / "copy.huf") == packed) << "-o names the output";
    EXPECT_EQ(RunTool({ "-d", "--output=copy", "copy.huf" }, dir.Path()).status, 0);
    EXPECT_TRUE(test::ReadFile(dir / "copy") == text);
    EXPECT_EQ(RunTool({ "-c", "notes.txt", "-o", "x" }, dir.Path()).status, 2)
        << "-c and -o both name the output";
}

TEST(FilesForm, ADamagedStreamIsFoundAtItsEndAndExits3)
{
    test::ScratchDir dir;
    Bytes damaged = kAbra;
    damaged[8] = 6; // a's count one too many: the bits decode to fewer a's than the table says
    test::WriteFile(dir / "damaged.huf", damaged);
    const test::ToolRun run = RunTool({ "-dc", "damaged.huf" }, dir.Path());
    EXPECT_EQ(run.status, 3) << "the checks run on a stream too";
    EXPECT_EQ(run.err, "hufpack: damaged.huf: damaged: its bytes do not match its table\n");
    const test::ToolRun piped = RunTool({ "-d" }, dir.Path(), damaged);
    EXPECT_EQ(piped.status, 3);
    EXPECT_EQ(piped.err, "hufpack: (stdin): damaged: its bytes do not match its table\n");
}

TEST(FilesForm, SeveralFilesGoOnPastAFailureAndExitWithTheFirst)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "a", BytesOf("abracadabra"));
    test::WriteFile(dir / "b", BytesOf("abracadabra"));
    test::WriteFile(dir / "bad.huf", BytesOf("not compressed"));
    const test::ToolRun run = RunTool({ "a", "missing", "b" }, dir.Path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "hufpack: missing: No such file or directory\n");
    EXPECT_EQ(test::ReadFile(dir / "a.huf"), kAbra);
    EXPECT_EQ(test::ReadFile(dir / "b.huf"), kAbra) << "the file after the failure is done too";
    const test::ToolRun mixed
        = RunTool({ "-d", "bad.huf", "missing.huf", "a.huf", "-f" }, dir.Path());
    EXPECT_EQ(mixed.status, 3) << "the first failure's status";
    EXPECT_EQ(mixed.err,
              "hufpack: bad.huf: not a file this program wrote\n"
              "hufpack: missing.huf: No such file or directory\n");
    EXPECT_FALSE(fs::exists(dir / "bad")) << "a damaged file leaves no output";
}

TEST(NoClobber, TheFilesFormReplacesNothingWithoutForce)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "a", BytesOf("abracadabra"));
    test::WriteFile(dir / "a.huf", kPrecious);
    test::WriteFile(dir / "b.huf", kAbra);
    test::WriteFile(dir / "b", kPrecious);
    test::WriteFile(dir / "out", kPrecious);
    const struct
    {
        std::vector<std::string> args;
        const char* existing;
    } cases[] = {
        { { "a" }, "a.huf" },
        { { "-d", "b.huf" }, "b" },
        { { "-o", "out", "a" }, "out" },
        { { "-d", "-o", "out", "b.huf" }, "out" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        const test::ToolRun refused = RunTool(c.args, dir.Path());
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.err,
                  "hufpack: " + std::string(c.existing)
                      + ": already exists; use -f to replace it\n");
        EXPECT_EQ(test::ReadFile(dir / c.existing), kPrecious) << "the file is unchanged";
        std::vector<std::string> forced = c.args;
        forced.push_back("-f");
        EXPECT_EQ(RunTool(forced, dir.Path()).status, 0) << "-f replaces it";
        EXPECT_NE(test::ReadFile(dir / c.existing), kPrecious);
        test::WriteFile(dir / c.existing, kPrecious);
    }
}

TEST(FilesForm, RmRemovesTheSourceOnlyAfterSuccess)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "a", BytesOf("abracadabra"));
    test::WriteFile(dir / "kept", BytesOf("abracadabra"));
    test::WriteFile(dir / "kept.huf", kPrecious);
    test::WriteFile(dir / "bad.huf", BytesOf("not compressed"));
    const test::ToolRun run = RunTool({ "--rm", "a", "kept" }, dir.Path());
    EXPECT_EQ(run.status, 1) << "kept.huf exists";
    EXPECT_FALSE(fs::exists(dir / "a")) << "a is in a.huf now";
    EXPECT_EQ(test::ReadFile(dir / "a.huf"), kAbra);
    EXPECT_TRUE(fs::exists(dir / "kept")) << "a source whose job failed is kept";
    EXPECT_EQ(RunTool({ "-d", "--rm", "bad.huf" }, dir.Path()).status, 3);
    EXPECT_TRUE(fs::exists(dir / "bad.huf")) << "a damaged file is kept";
    EXPECT_EQ(RunTool({ "-d", "--rm", "a.huf" }, dir.Path()).status, 0);
    EXPECT_EQ(test::ReadFile(dir / "a"), BytesOf("abracadabra"));
    EXPECT_FALSE(fs::exists(dir / "a.huf"));
}

// A source with other names keeps its data when --rm removes one of them, which is rarely what
// was meant: without -f it is refused before any work, as gzip does; with -f the name goes.
// Once a link was compressed and then refused removal, and a hard link lost a name silently.
TEST(FilesForm, RmRefusesASourceWithOtherNamesUnlessForced)
{
    const struct
    {
        const char* what;
        void (*make)(const test::ScratchDir& dir);
        const char* reason;
    } cases[] = {
        { "a hard link",
          [](const test::ScratchDir& dir) { fs::create_hard_link(dir / "file", dir / "name"); },
          "has other hard links; unchanged (-f goes on and removes this name)" },
        { "a symbolic link",
          [](const test::ScratchDir& dir) { fs::create_symlink("file", dir / "name"); },
          "is a symbolic link; unchanged (-f goes on and removes the link)" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::ScratchDir dir;
        test::WriteFile(dir / "file", BytesOf("abracadabra"));
        c.make(dir);
        const auto before = dir.List();
        const test::ToolRun refused = RunTool({ "--rm", "name" }, dir.Path());
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.err, std::string("hufpack: name: ") + c.reason + "\n");
        EXPECT_EQ(dir.List(), before) << "nothing is written, nothing removed";
        const test::ToolRun forced = RunTool({ "--rm", "-f", "name" }, dir.Path());
        EXPECT_EQ(forced.status, 0) << forced.err;
        EXPECT_EQ(dir.List(), (std::vector<std::string> { "file", "name.huf" }))
            << "the name goes, the file stays";
        EXPECT_EQ(test::ReadFile(dir / "file"), BytesOf("abracadabra"));
        EXPECT_EQ(test::ReadFile(dir / "name.huf"), kAbra);
    }
}

TEST(FilesForm, TheOutputTakesTheSourcesTimes)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "a", BytesOf("abracadabra"));
    const timespec times[] = { { 981173106, 123456789 }, { 981000000, 987654321 } };
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "a").c_str(), times, 0), 0);
    const auto expectSourceTimes = [&](const char* name) {
        SCOPED_TRACE(name);
        const struct stat info = StatOf(dir / name);
        EXPECT_EQ(info.st_atim.tv_sec, times[0].tv_sec) << "access time";
        EXPECT_EQ(info.st_atim.tv_nsec, times[0].tv_nsec);
        EXPECT_EQ(info.st_mtim.tv_sec, times[1].tv_sec) << "modification time";
        EXPECT_EQ(info.st_mtim.tv_nsec, times[1].tv_nsec);
    };
    ASSERT_EQ(RunTool({ "a" }, dir.Path()).status, 0);
    expectSourceTimes("a.huf");
    fs::rename(dir / "a", dir / "original");
    ASSERT_EQ(RunTool({ "-d", "a.huf" }, dir.Path()).status, 0);
    expectSourceTimes("a"); // as they were before the compressed file was read
}

TEST(FilesForm, TestChecksEveryFileAndWritesNothing)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "good.huf", kAbra);
    Bytes damaged = kAbra;
    damaged.pop_back();
    test::WriteFile(dir / "cut.huf", damaged);
    const auto before = dir.List();
    const test::ToolRun good = RunTool({ "-t", "good.huf" }, dir.Path());
    EXPECT_EQ(good.status, 0);
    EXPECT_EQ(good.err, "");
    EXPECT_TRUE(good.out.empty());
    EXPECT_EQ(RunTool({ "-tv", "good.huf" }, dir.Path()).err, "hufpack: good.huf: OK\n");
    const test::ToolRun cut = RunTool({ "--test", "good.huf", "cut.huf" }, dir.Path());
    EXPECT_EQ(cut.status, 3);
    EXPECT_EQ(cut.err, "hufpack: cut.huf: unexpected end of file\n");
    EXPECT_EQ(dir.List(), before) << "testing writes nothing";
    EXPECT_EQ(RunTool({ "-t" }, dir.Path(), kAbra).status, 0) << "standard input can be tested";
}

TEST(FilesForm, ListShowsTheHeadersFigures)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "abra.huf", kAbra);
    test::WriteFile(dir / "empty.huf", {});
    const test::ToolRun one = RunTool({ "-l", "abra.huf" }, dir.Path());
    EXPECT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.out,
              "  compressed uncompressed   ratio entries longest  name\n"
              "          35           11 -218.2%       5       3  abra.huf\n");
    const test::ToolRun two = RunTool({ "--list", "abra.huf", "empty.huf" }, dir.Path());
    EXPECT_EQ(two.out,
              "  compressed uncompressed   ratio entries longest  name\n"
              "          35           11 -218.2%       5       3  abra.huf\n"
              "           0            0    0.0%       0       0  empty.huf\n"
              "          35           11 -218.2%                  (totals)\n");
    // 268,435,456 one-bit codes: the listing reads the header and table only, and checks the
    // length, so it is instant and a file cut short is found without decoding.
    Bytes large = test::FromHex("05 00 00 00 10 05 00 61 00 00 00 10");
    large.resize(large.size() + (0x10000000 / 8), 0);
    test::WriteFile(dir / "large.huf", large);
    const test::ToolRun listed = RunTool({ "-l", "large.huf" }, dir.Path());
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(listed.out.find("    33554444    268435456   87.5%       1       1  large.huf"),
              std::string::npos)
        << listed.out;
    large.resize(large.size() - 1);
    test::WriteFile(dir / "large.huf", large);
    const test::ToolRun cut = RunTool({ "-l", "large.huf" }, dir.Path());
    EXPECT_EQ(cut.status, 3);
    EXPECT_EQ(cut.err, "hufpack: large.huf: unexpected end of file\n");
    Bytes bad = kAbra;
    bad[0] ^= 1;
    test::WriteFile(dir / "bad.huf", bad);
    EXPECT_EQ(RunTool({ "-l", "bad.huf" }, dir.Path()).status, 3);
    // A table that counts more bytes than its bits could hold, one bit a byte at the least, is
    // damaged before any bit is read: once listed as 549,755,813,632 bytes in 5,383.
    test::WriteFile(dir / "claims.huf",
                    test::Concat({ test::HeaderOf(40, 10), test::Entry('a', 1 << 30),
                                   test::Entry('b', 1 << 30), Bytes(5, 0) }));
    const test::ToolRun claims = RunTool({ "-l", "claims.huf" }, dir.Path());
    EXPECT_EQ(claims.status, 3);
    EXPECT_EQ(claims.err, "hufpack: claims.huf: damaged: its bytes do not match its table\n");
    EXPECT_EQ(claims.out, "") << "nothing is listed";
    // The bits a header claims are what its table's codes take: a listing finds one bit too
    // many or too few as decoding does, where it once said OK and -t said damaged.
    for (const std::int32_t bits : { 22, 24 }) {
        SCOPED_TRACE(std::to_string(bits) + " bits where the codes take 23");
        test::WriteFile(
            dir / "bits.huf",
            test::Concat({ test::HeaderOf(bits, 25), Bytes(kAbra.begin() + 7, kAbra.end()) }));
        for (const char* action : { "-l", "-t" }) {
            const test::ToolRun run = RunTool({ action, "bits.huf" }, dir.Path());
            EXPECT_EQ(run.status, 3) << action;
            EXPECT_EQ(run.err, "hufpack: bits.huf: damaged: its bytes do not match its table\n")
                << action;
        }
    }
}

TEST(FilesForm, RefusesWhatWouldSurpriseAUser)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "notes.txt", BytesOf("abracadabra"));
    test::WriteFile(dir / "a.huf", kAbra);
    const auto before = dir.List();
    const test::ToolRun suffix = RunTool({ "-d", "notes.txt" }, dir.Path());
    EXPECT_EQ(suffix.status, 1);
    EXPECT_EQ(suffix.err, "hufpack: notes.txt: unknown suffix, not .huf; ignored\n");
    const test::ToolRun again = RunTool({ "a.huf" }, dir.Path());
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.err, "hufpack: a.huf: already has the .huf suffix; unchanged\n");
    EXPECT_EQ(dir.List(), before) << "nothing is written";

    // A terminal on standard output never gets compressed data.
    int master = -1;
    int terminal = -1;
    ASSERT_EQ(::openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
    test::Launch launch;
    launch.args = { test::ToolPath(), "-c", "notes.txt" };
    launch.folder = dir.Path();
    launch.outputFd = terminal;
    const test::ScratchDir logs;
    launch.errors = logs / "err";
    const test::Finished refused = test::Wait(test::Start(launch));
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(test::ReadText(logs / "err"),
              "hufpack: (stdout): compressed data not written to a terminal; use -f to force it\n");
    ::close(master);
    ::close(terminal);
}

TEST(FilesForm, OptionsAreParsedTheWayUsersTypeThem)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "-v", BytesOf("abracadabra"));
    test::WriteFile(dir / "a", BytesOf("abracadabra"));
    EXPECT_EQ(RunTool({ "--", "-v" }, dir.Path()).status, 0) << "-- ends the options";
    EXPECT_EQ(test::ReadFile(dir / "-v.huf"), kAbra);
    // After "--" every argument is a file, the first form's verbs too; before it, a verb.
    test::WriteFile(dir / "encode", BytesOf("abracadabra"));
    const test::ToolRun named = RunTool({ "--", "encode" }, dir.Path());
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(test::ReadFile(dir / "encode.huf"), kAbra) << "a file named encode";
    EXPECT_EQ(RunTool({ "encode", "--", "a", "verb.huf" }, dir.Path()).status, 0);
    EXPECT_EQ(test::ReadFile(dir / "verb.huf"), kAbra) << "the verb before --";
    const test::ToolRun bundled = RunTool({ "-kv", "a" }, dir.Path());
    EXPECT_EQ(bundled.status, 0);
    // A short file grows, and is said to; its job is too short to tell a speed.
    EXPECT_EQ(bundled.err, "hufpack: a: 11 -> 35 bytes, 218.2% larger, to a.huf\n");
    const test::ToolRun piped = RunTool({ "-cdv", "a.huf" }, dir.Path());
    EXPECT_EQ(piped.err, "hufpack: a.huf: 35 -> 11 bytes, 218.2% larger, to (stdout)\n")
        << "sizes are known for standard output too";
    EXPECT_TRUE(RunTool({ "-dc", "a.huf" }, dir.Path()).out == "abracadabra");
    EXPECT_EQ(RunTool({ "a.huf", "-dcf" }, dir.Path()).status, 0) << "options after files too";

    // Each wrong use names what is wrong, an option as the user typed it, wherever it stands.
    const struct
    {
        std::vector<std::string> args;
        const char* problem;
    } misuses[] = {
        { { "--bogus", "a" }, "unknown option '--bogus'" },
        { { "-v", "--bogus=1", "a" }, "unknown option '--bogus'" },
        { { "-x", "a" }, "unknown option '-x'" },
        { { "--keep", "-xk", "a" }, "unknown option '-x'" },
        { { "a", "-kx" }, "unknown option '-x'" },
        { { "--force=1", "a" }, "option '--force' doesn't allow an argument" },
        { { "a", "--sync=yes" }, "option '--sync' doesn't allow an argument" },
        { { "--s", "a" },
          "option '--s' is ambiguous; possibilities: '--stdout' '--suffix' '--sync'" },
        { { "-o" }, "option '-o' needs a value" },
        { { "a", "-ko" }, "option '-o' needs a value" },
        { { "a", "--output" }, "option '--output' needs a value" },
        { { "--output=", "a" }, "option '-o' names no file" },
        { { "-T", "x", "a" }, "-T takes a number of threads, 0 or more, not 'x'" },
        { { "--threads=-1", "a" }, "-T takes a number of threads, 0 or more, not '-1'" },
        { { "-r", "-o", "x", "a" }, "-o names the output of one file, not of a folder's" },
        { { "-o", "x", "a", "-" }, "-o names the output of one file, not of several" },
        { { "-t", "-l", "a" }, "-t and -l ask for different things" },
        { { "-z", "-d", "a" }, "-z does not go with -d, -t or -l" },
        { { "--rm", "-c", "a" }, "--rm needs an output file to keep what it removes" },
        { { "-S", "", "a" }, "the suffix must be a non-empty name without '/'" },
        { { "-q", "-v", "a" }, "-q and -v ask for opposite things" },
        { { "encode", "a", "-" },
          "encode reads and writes files; for standard input and output, use hufpack -c or "
          "hufpack -dc" },
        { { "decode", "a" }, "decode takes a SOURCE and a DEST" },
    };
    const auto before = dir.List();
    for (const auto& misuse : misuses) {
        std::string line;
        for (const auto& arg : misuse.args)
            line += arg + " ";
        SCOPED_TRACE(line);
        const test::ToolRun run = RunTool(misuse.args, dir.Path());
        EXPECT_EQ(run.status, 2) << "wrong usage exits 2";
        EXPECT_EQ(run.err.substr(0, run.err.find('\n')), std::string("hufpack: ") + misuse.problem);
        EXPECT_NE(run.err.find("Try 'hufpack --help'"), std::string::npos) << run.err;
        EXPECT_EQ(dir.List(), before) << "nothing is written";
    }
    EXPECT_EQ(RunTool({ "-c", "a", "-v" }, dir.Path()).status, 0)
        << "one file to standard output is fine";
    const test::ToolRun help = RunTool({ "--help" }, dir.Path());
    EXPECT_NE(help.out.find("Usage: hufpack [OPTION]... [FILE]..."), std::string::npos);
    EXPECT_NE(help.out.find("hufpack encode SOURCE DEST"), std::string::npos)
        << "help shows both forms";
}

// Reads what the tool writes to a terminal until it closes.
std::string ReadTerminal(int master, pid_t pid)
{
    std::string text;
    char buffer[4096];
    for (;;) {
        pollfd ready { master, POLLIN, 0 };
        if (::poll(&ready, 1, 100) > 0) {
            const ssize_t got = ::read(master, buffer, sizeof buffer);
            if (got > 0) {
                text.append(buffer, static_cast<std::size_t>(got));
                continue;
            }
        }
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid)
            break;
    }
    return text;
}

// Runs the tool with `args` in `folder`, its standard error (or, with `output`, its standard
// output) a terminal: what the terminal showed, each line end as the terminal sends it.
std::string RunOnTerminal(const std::vector<std::string>& args, const fs::path& folder,
                          bool output = false, const std::vector<std::string>& environment = {})
{
    int master = -1;
    int terminal = -1;
    EXPECT_EQ(::openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
    test::Launch launch;
    launch.args = { test::ToolPath() };
    launch.args.insert(launch.args.end(), args.begin(), args.end());
    launch.folder = folder;
    launch.environment = environment;
    (output ? launch.outputFd : launch.errorsFd) = terminal;
    const pid_t pid = test::Start(launch);
    ::close(terminal);
    std::string shown = ReadTerminal(master, pid);
    ::close(master);
    return shown;
}

TEST(FilesForm, TheProgressLineShowsOnATerminalAndIsWipedAtTheEnd)
{
    test::ScratchDir dir;
    const Bytes text = test::TextLikeBytes(16 << 20, 23);
    test::WriteFile(dir / "big", text);
    const auto runOnTerminal = [&](const std::vector<std::string>& args) {
        const std::string shown = RunOnTerminal(args, dir.Path());
        fs::remove(dir / "big.huf");
        return shown;
    };
    const std::string forced = runOnTerminal({ "--progress", "big" });
    EXPECT_NE(forced.find("\rbig "), std::string::npos) << "the line names the file: " << forced;
    EXPECT_NE(forced.find("%  "), std::string::npos) << "with the percent done";
    EXPECT_NE(forced.find(" MB/s"), std::string::npos) << "and the speed";
    EXPECT_EQ(forced.find('\n'), std::string::npos) << "one line, redrawn in place";
    ASSERT_GE(forced.size(), 2u);
    EXPECT_EQ(forced.back(), '\r') << "wiped at the end";
    EXPECT_EQ(forced.find_last_not_of(" \r"), forced.rfind("MB/s") + 3)
        << "the last thing written is blanks over the line";
    test::WriteFile(dir / "small", BytesOf("abracadabra"));
    EXPECT_EQ(runOnTerminal({ "small" }), "") << "a job shorter than a second shows nothing";
    EXPECT_EQ(runOnTerminal({ "-q", "--progress", "big" }), "") << "-q silences it";
}

// Runs `command` in a shell in `folder`, with HUFPACK standing for the tool: its exit status
// and what it wrote on standard error (when that was not closed).
test::ToolRun RunShell(const std::string& command, const fs::path& folder)
{
    const test::ScratchDir logs;
    const std::string line
        = "cd '" + folder.string() + "' && HUFPACK='" + test::ToolPath() + "' && " + command;
    test::Launch launch;
    launch.args = { "/bin/sh", "-c", line };
    launch.errors = logs / "err";
    const test::Finished finished = test::Wait(test::Start(launch));
    return { finished.status, finished.signal, {}, test::ReadText(logs / "err") };
}

// A standard descriptor closed at start is held by /dev/null, so no file of the job can take its
// number: a job that needs it fails with EBADF, as gzip and xz do. Once a spool became descriptor
// 0 and an empty file was written, and `-dc a.huf >&-` said "the same file". Text that cannot be
// written is an error too.
TEST(FilesForm, ClosedOrFullStandardDescriptorsAreErrorsOnlyWhereTheyAreNeeded)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "a", BytesOf("abracadabra"));
    test::WriteFile(dir / "a.huf", kAbra);
    const struct
    {
        const char* command;
        int status;
        const char* err;
    } cases[] = {
        { "$HUFPACK <&- >out.huf", 1, "hufpack: (stdin): Bad file descriptor\n" },
        { "$HUFPACK -dc a.huf >&-", 1, "hufpack: (stdout): Bad file descriptor\n" },
        { "$HUFPACK -l a.huf >&-", 1, "hufpack: write error: Bad file descriptor\n" },
        { "$HUFPACK -l a.huf >/dev/full", 1, "hufpack: write error: No space left on device\n" },
        { "$HUFPACK --help >/dev/full", 1, "hufpack: write error: No space left on device\n" },
        { "$HUFPACK --version >/dev/full", 1, "hufpack: write error: No space left on device\n" },
        // A finished job of the first form never fails for its "Done.".
        { "$HUFPACK decode a.huf b >&- && cmp a b", 0, "" },
        { "$HUFPACK decode a.huf c >/dev/full && cmp a c", 0, "" },
        // Progress and messages go nowhere; the data still comes out whole.
        { "$HUFPACK -v --progress <a 2>&- >d.huf && cmp a.huf d.huf", 0, "" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        const test::ToolRun run = RunShell(c.command, dir.Path());
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err, c.err);
    }
}

// Standard input is copied into $TMPDIR, a member at a time, only when it is not a file read
// from its start; a spool that cannot be made names its folder. (What is read of it, member by
// member, is MembersTest's.)
TEST(FilesForm, StandardInputIsSpooledOnlyWhereItMustBe)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "a.huf", kAbra);
    const test::ToolRun nowhere
        = RunShell("TMPDIR=/nonexistent $HUFPACK <a.huf -d | cat >/dev/null", dir.Path());
    EXPECT_EQ(nowhere.status, 0) << "a file on standard input needs no spool";
    // A file read from where it stands, past a line a script read first, is a stream.
    test::WriteFile(dir / "lead.huf", test::Concat({ BytesOf("a line first\n"), kAbra }));
    const test::ToolRun led
        = RunShell("{ read -r line; TMPDIR=. $HUFPACK -dc; } <lead.huf >led.out", dir.Path());
    EXPECT_EQ(led.status, 0) << led.err;
    EXPECT_EQ(test::ReadText(dir / "led.out"), "abracadabra");
    const test::ToolRun unspooled
        = RunShell("cat a.huf | TMPDIR=/nonexistent $HUFPACK -d >/dev/null", dir.Path());
    EXPECT_EQ(unspooled.status, 1);
    EXPECT_EQ(unspooled.err,
              "hufpack: spooling standard input into /nonexistent: No such file or directory\n");
}

// On a terminal a name's control characters are escaped, wherever the tool prints a name: a
// name could retitle the terminal and clear the screen, or break the progress line's wipe with
// a new line. To a pipe or a file, names are kept as they are, for the programs that read them.
TEST(FilesForm, NamesAreEscapedOnATerminalAndKeptAsTheyAreElsewhere)
{
    test::ScratchDir dir;
    const std::string name = "x\033]0;OWNED\a\033[2J\nz\\.txt";
    const std::string escaped = "x\\033]0;OWNED\\a\\033[2J\\nz\\\\.txt";
    test::WriteFile(dir / name, BytesOf("abracadabra"));
    test::WriteFile(dir / "caf\xc3\xa9.txt", BytesOf("abracadabra"));
    const auto onTerminal = [&](const std::vector<std::string>& args, bool output,
                                const std::vector<std::string>& environment = {}) {
        std::string shown = RunOnTerminal(args, dir.Path(), output, environment);
        // The terminal turns each line end into \r\n.
        for (std::size_t at; (at = shown.find("\r\n")) != std::string::npos;)
            shown.replace(at, 2, "\n");
        return shown;
    };
    const std::string missing = onTerminal({ "-d", name + ".huf" }, false);
    EXPECT_EQ(missing, "hufpack: " + escaped + ".huf: No such file or directory\n");
    const std::string verbose = onTerminal({ "-v", name }, false);
    EXPECT_EQ(verbose.rfind("hufpack: " + escaped + ": 11 -> 35 bytes", 0), 0u) << verbose;
    EXPECT_NE(verbose.find(", to " + escaped + ".huf\n"), std::string::npos) << verbose;
    const std::string listed = onTerminal({ "-l", name + ".huf" }, true);
    EXPECT_NE(listed.find("  " + escaped + ".huf\n"), std::string::npos) << listed;
    const std::string progress = onTerminal({ "-t", "--progress", name + ".huf" }, false);
    EXPECT_NE(progress.find("\r" + escaped + ".huf "), std::string::npos) << progress;
    EXPECT_EQ(progress.find('\033'), std::string::npos) << "no escape reaches the terminal";
    EXPECT_EQ(onTerminal({ "-d", "caf\xc3\xa9.txt.huf" }, false),
              "hufpack: caf\xc3\xa9.txt.huf: No such file or directory\n")
        << "printable characters of any language are shown as they are";
    // What the user typed is shown as a name is: a suffix, a thread count, an option.
    const std::string typed = "\033]0;OWNED\a";
    const std::string typedShown = "\\033]0;OWNED\\a";
    test::WriteFile(dir / ("f" + typed), BytesOf("abracadabra"));
    EXPECT_EQ(onTerminal({ "-S", typed, "f" + typed }, false),
              "hufpack: f" + typedShown + ": already has the " + typedShown
                  + " suffix; unchanged\n");
    const std::string threads
        = onTerminal({ "-t", "caf\xc3\xa9.txt.huf" }, false, { "HUFPACK_THREADS=" + typed });
    EXPECT_EQ(threads.rfind("hufpack: HUFPACK_THREADS='" + typedShown + "' is not a number", 0), 0u)
        << threads;
    const std::string option = onTerminal({ "--" + typed }, false);
    EXPECT_EQ(option.rfind("hufpack: unknown option '--" + typedShown + "'\n", 0), 0u) << option;
    // Elsewhere, the name as it is.
    const test::ToolRun piped = RunTool({ "-d", "gone" + name + ".huf" }, dir.Path());
    EXPECT_EQ(piped.err, "hufpack: gone" + name + ".huf: No such file or directory\n");
}

// -r takes every regular file below the folders named: to compress, those without the suffix
// (one that has it gets a note); to restore, test or list, those with it. Links found on the way
// are not followed, and a file that fails does not stop the walk.
TEST(FilesForm, RecursiveTakesEveryFileOfTheFolders)
{
    test::ScratchDir dir;
    fs::create_directories(dir / "logs/old");
    test::WriteFile(dir / "logs/a", BytesOf("abracadabra"));
    test::WriteFile(dir / "logs/old/b", BytesOf("abracadabra"));
    test::WriteFile(dir / "logs/kept.huf", kAbra);
    test::WriteFile(dir / "outside", BytesOf("not to be touched"));
    fs::create_symlink("../outside", dir / "logs/link");
    fs::create_symlink("..", dir / "logs/up");
    const test::ToolRun packed = RunTool({ "-r", "logs" }, dir.Path());
    EXPECT_EQ(packed.status, 0) << packed.err;
    EXPECT_EQ(packed.err, "hufpack: logs/kept.huf: already has the .huf suffix; unchanged\n");
    EXPECT_EQ(test::ReadFile(dir / "logs/a.huf"), kAbra);
    EXPECT_EQ(test::ReadFile(dir / "logs/old/b.huf"), kAbra);
    EXPECT_FALSE(fs::exists(dir / "logs/link.huf")) << "a link is not followed";
    EXPECT_FALSE(fs::exists(dir / "outside.huf")) << "nor a link to a folder";

    const test::ToolRun listed = RunTool({ "-rl", "logs" }, dir.Path());
    EXPECT_EQ(listed.status, 0);
    EXPECT_NE(listed.out.find("  logs/old/b.huf\n"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("(totals)"), std::string::npos) << "three files: a totals line";
    test::WriteFile(dir / "logs/old/bad.huf", BytesOf("not compressed"));
    const test::ToolRun tested = RunTool({ "-rtv", "logs" }, dir.Path());
    EXPECT_EQ(tested.status, 3) << "the first failure's status";
    EXPECT_NE(tested.err.find("hufpack: logs/old/b.huf: OK\n"), std::string::npos)
        << "the walk goes on past a failure: " << tested.err;
    fs::remove(dir / "logs/old/bad.huf");

    // a is still there: its restore fails, and the walk goes on.
    fs::remove(dir / "logs/old/b");
    const test::ToolRun restored = RunTool({ "-rd", "--rm", "logs" }, dir.Path());
    EXPECT_EQ(restored.status, 1);
    EXPECT_EQ(restored.err, "hufpack: logs/a: already exists; use -f to replace it\n");
    EXPECT_EQ(test::ReadFile(dir / "logs/old/b"), BytesOf("abracadabra"));
    EXPECT_EQ(test::ReadFile(dir / "logs/kept"), BytesOf("abracadabra"));
    EXPECT_FALSE(fs::exists(dir / "logs/old/b.huf")) << "--rm works with -r";
    EXPECT_TRUE(fs::exists(dir / "logs/a.huf")) << "a failed file keeps its source";
    EXPECT_EQ(RunTool({ "-rdf", "--rm", "logs" }, dir.Path()).status, 0);
    EXPECT_FALSE(fs::exists(dir / "logs/a.huf"));
    EXPECT_EQ(test::ReadFile(dir / "outside"), BytesOf("not to be touched"));
}

// What gzip and zstd users reach for: levels (one code, so the same bytes), thread counts (the
// same bytes, at most that many threads), --no-progress, and -o to a device or FIFO.
TEST(FilesForm, GzipsAndZstdsOptionsWork)
{
    test::ScratchDir dir;
    const Bytes text = test::TextLikeBytes(3 << 20, 4);
    test::WriteFile(dir / "text", text);
    ASSERT_EQ(RunTool({ "text" }, dir.Path()).status, 0);
    const Bytes packed = test::ReadFile(dir / "text.huf");
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>> { { "-1" },
                                                 { "-9" },
                                                 { "--fast" },
                                                 { "--best" },
                                                 { "-T", "1" },
                                                 { "-T0" },
                                                 { "--threads=3" },
                                                 { "-5", "-T", "2" } }) {
        SCOPED_TRACE(args[0]);
        std::vector<std::string> line = args;
        line.insert(line.end(), { "-c", "text" });
        const test::ToolRun run = RunTool(line, dir.Path());
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(BytesOf(run.out) == packed) << "the same bytes";
    }
    // At most that many threads in all, held at the first progress line to be counted.
    for (const auto& [args, environment, most] :
         { std::tuple { std::vector<std::string> { "-T", "1" }, std::vector<std::string> {}, 1 },
           std::tuple { std::vector<std::string> {},
                        std::vector<std::string> { "HUFPACK_THREADS=1" }, 1 },
           std::tuple { std::vector<std::string> { "-T", "2" },
                        std::vector<std::string> { "HUFPACK_THREADS=1" }, 2 } }) {
        for (const char* direction : { "-z", "-d" }) {
            std::vector<std::string> line = args;
            line.insert(line.end(),
                        { direction, "--progress", "-f", "-o", dir / "out",
                          dir / (direction == std::string("-z") ? "text" : "text.huf") });
            test::HeldTool tool(line, environment);
            ASSERT_TRUE(tool.AwaitHeld());
            EXPECT_LE(tool.Threads(), most) << direction << " with " << most << " allowed";
            EXPECT_EQ(tool.Wait().status, 0);
        }
    }
    // The last of --progress and --no-progress wins.
    EXPECT_EQ(RunOnTerminal({ "--progress", "--no-progress", "-c", "text" }, dir.Path()), "");
    EXPECT_NE(RunOnTerminal({ "--no-progress", "--progress", "-tv", "text.huf" }, dir.Path())
                  .find("\rtext.huf "),
              std::string::npos);

    // -o to a device or a FIFO of this user's: written in order, nothing renamed.
    EXPECT_EQ(RunTool({ "-o", "/dev/null", "text" }, dir.Path()).status, 0);
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    Bytes fromFifo;
    std::thread reader([&] { fromFifo = test::ReadFile(dir / "fifo"); });
    EXPECT_EQ(RunTool({ "-o", dir / "fifo", "text" }, dir.Path()).status, 0);
    reader.join();
    EXPECT_TRUE(fromFifo == packed);
    EXPECT_TRUE(fs::is_fifo(dir / "fifo")) << "still the FIFO";
    EXPECT_EQ(RunTool({ "--rm", "-o", "/dev/null", "text" }, dir.Path()).status, 1)
        << "--rm keeps a source whose output is not a file";
    EXPECT_TRUE(fs::exists(dir / "text"));
    if (::geteuid() == 0) {
        // Another user's FIFO would read what the job writes: a name like any other then.
        ASSERT_EQ(::chown((dir / "fifo").c_str(), 4242, 4242), 0);
        const test::ToolRun refused = RunTool({ "-f", "-o", dir / "fifo", "text" }, dir.Path());
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.err, "hufpack: " + dir / "fifo" + ": not a regular file\n");
    }
}

} // namespace
} // namespace hufpack
