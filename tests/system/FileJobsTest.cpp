// The file jobs on the real file system: what they write, what they print, and that a job that
// fails leaves the destination, its folder and the source exactly as they were.

#include "hufpack/FileJobs.h"

#include "Corpus.h"
#include "SystemCalls.h"
#include "TestSupport.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace hufpack {

// Failure messages name a result by value and text instead of by its bytes.
[[maybe_unused]] static void PrintTo(JobResult result, std::ostream* out)
{
    Failure failure;
    failure.result = result;
    *out << static_cast<int>(result) << " (" << DescribeFailure(failure) << ")";
}

namespace {

namespace fs = std::filesystem;
using test::Bytes;

using test::BytesOf;
// With HUFPACK_TEST_NAMED_FILES set (ctest runs the suite once so), this program makes no
// unnamed file, as on a file system without them: every job makes a named temporary file.
[[maybe_unused]] const bool kNamedFiles = [] {
    const bool named = std::getenv("HUFPACK_TEST_NAMED_FILES") != nullptr;
    test::MakeNoUnnamedFiles(named);
    return named;
}();
using Job = JobResult (*)(const std::string&, const std::string&);

const Bytes& kAbra = test::AbracadabraFile();
const Bytes kPrecious = BytesOf("the old destination, which a failed job must not touch");

struct Outcome
{
    JobResult result;
    std::string printed;
};

// Runs a job and collects what it prints on standard output.
Outcome RunJob(Job job, const std::string& source, const std::string& destination)
{
    testing::internal::CaptureStdout();
    const JobResult result = job(source, destination);
    return { result, testing::internal::GetCapturedStdout() };
}

// Everything under `root`, sub-folders included, so a stray temporary file anywhere shows too.
// Links are listed, never followed.
void AddTree(const fs::path& root, const fs::path& folder, std::vector<std::string>& names)
{
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().lexically_relative(root).string());
        if (fs::is_directory(entry.symlink_status()))
            AddTree(root, entry.path(), names);
    }
}

std::vector<std::string> Tree(const fs::path& root)
{
    std::vector<std::string> names;
    AddTree(root, root, names);
    std::sort(names.begin(), names.end());
    return names;
}

mode_t ModeOf(const std::string& path)
{
    struct stat info
    {
    };
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

class Umask
{
public:
    explicit Umask(mode_t mask) : m_saved(::umask(mask)) { }
    ~Umask() { ::umask(m_saved); }

private:
    mode_t m_saved;
};

class WorkingDirectory
{
public:
    explicit WorkingDirectory(const fs::path& path) : m_saved(fs::current_path())
    {
        fs::current_path(path);
    }
    ~WorkingDirectory() { fs::current_path(m_saved); }

private:
    fs::path m_saved;
};

TEST(RoundTrip, EveryFileJobRestoresItsSourceByteForByte)
{
    Bytes allValues;
    for (int i = 0; i < 256 * 3; ++i)
        allValues.push_back(static_cast<std::uint8_t>(i * 7));
    const std::vector<std::pair<const char*, Bytes>> sources = {
        { "one byte", BytesOf("x") },
        { "one value repeated", Bytes(1000, 0xFF) },
        { "only spaces", BytesOf("     ") },
        { "abracadabra", BytesOf("abracadabra") },
        { "every byte value", allValues },
        { "skewed", test::SkewedBytes(200000, 3) },
        { "text", test::TextLikeBytes(300000, 4) },
    };
    for (const auto& [name, bytes] : sources) {
        SCOPED_TRACE(name);
        test::ScratchDir dir;
        test::WriteFile(dir / "source", bytes);
        const Outcome encoded = RunJob(EncodeFile, dir / "source", dir / "packed");
        ASSERT_EQ(encoded.result, JobResult::Done);
        EXPECT_EQ(encoded.printed, "Done.\n") << "a finished job reports Done.";
        const Outcome decoded = RunJob(DecodeFile, dir / "packed", dir / "restored");
        ASSERT_EQ(decoded.result, JobResult::Done);
        EXPECT_EQ(decoded.printed, "Done.\n") << "a finished job reports Done.";
        EXPECT_TRUE(test::ReadFile(dir / "restored") == bytes) << "decoding restores the source";
        EXPECT_EQ(dir.List(), (std::vector<std::string> { "packed", "restored", "source" }))
            << "a job leaves only its destination behind";
    }
}

TEST(Replace, ALongerDestinationKeepsOnlyTheNewBytes)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "source", BytesOf("abracadabra"));
    test::WriteFile(dir / "packed", Bytes(10000, 'Z'));
    test::WriteFile(dir / "restored", Bytes(10000, 'Z'));
    ASSERT_EQ(RunJob(EncodeFile, dir / "source", dir / "packed").result, JobResult::Done);
    EXPECT_EQ(test::ReadFile(dir / "packed"), kAbra)
        << "the destination holds exactly the compressed file (header, table in byte order, "
           "code bits MSB first), nothing of its old tail";
    ASSERT_EQ(RunJob(DecodeFile, dir / "packed", dir / "restored").result, JobResult::Done);
    EXPECT_EQ(test::ReadFile(dir / "restored"), BytesOf("abracadabra"))
        << "the destination holds exactly the restored file, nothing of its old tail";
}

TEST(RoundTrip, EmptyFilesGiveEmptyFiles)
{
    for (const Job job : { EncodeFile, DecodeFile }) {
        SCOPED_TRACE(job == EncodeFile ? "encode" : "decode");
        test::ScratchDir dir;
        test::WriteFile(dir / "empty", {});
        test::WriteFile(dir / "old", kPrecious);
        for (const char* destination : { "new", "old" }) {
            const Outcome outcome = RunJob(job, dir / "empty", dir / destination);
            EXPECT_EQ(outcome.result, JobResult::Done) << "an empty source is a complete job";
            EXPECT_EQ(outcome.printed, "Done.\n") << "a finished job reports Done.";
            ASSERT_TRUE(fs::is_regular_file(dir / destination)) << destination;
            EXPECT_EQ(fs::file_size(dir / destination), 0u)
                << "an empty source gives an empty destination: " << destination;
        }
    }
}

TEST(FailedJob, LeavesTheDestinationAsItWas)
{
    using Maker = std::function<std::string(const test::ScratchDir&)>;
    const Maker absent = [](const test::ScratchDir& dir) { return dir / "absent"; };
    const Maker folder = [](const test::ScratchDir& dir) {
        fs::create_directory(dir / "folder");
        return dir / "folder";
    };
    const Maker fifo = [](const test::ScratchDir& dir) {
        EXPECT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
        return dir / "fifo";
    };
    const Maker devNull = [](const test::ScratchDir&) { return std::string("/dev/null"); };
    const auto file = [](Bytes bytes) -> Maker {
        return [bytes](const test::ScratchDir& dir) {
            test::WriteFile(dir / "source", bytes);
            return dir / "source";
        };
    };
    struct Case
    {
        const char* name;
        Job job;
        Maker source;
        const char* destination; // inside the scratch folder
        JobResult expected;
        const char* printed;
    };
    const Case cases[] = {
        { "encode a missing source", EncodeFile, absent, "out", JobResult::CannotOpen, "" },
        { "decode a missing source", DecodeFile, absent, "out", JobResult::CannotOpen, "" },
        { "encode an empty source name", EncodeFile, [](auto&) { return std::string(); }, "out",
          JobResult::CannotOpen, "" },
        { "encode a folder", EncodeFile, folder, "out", JobResult::CannotOpen, "" },
        { "decode a folder", DecodeFile, folder, "out", JobResult::CannotOpen, "" },
        { "encode a FIFO", EncodeFile, fifo, "out", JobResult::CannotOpen, "" },
        { "decode a FIFO", DecodeFile, fifo, "out", JobResult::CannotOpen, "" },
        { "encode /dev/null", EncodeFile, devNull, "out", JobResult::CannotOpen, "" },
        { "decode /dev/null", DecodeFile, devNull, "out", JobResult::CannotOpen, "" },
        { "decode a bad checksum", DecodeFile, file(test::BadChecksumFile()), "out",
          JobResult::NotOurFormat, "Bad checksum.  Invalid format........Done.\n" },
        { "decode a truncated file", DecodeFile, file(test::Cut(kAbra, kAbra.size() - 1)), "out",
          JobResult::NotOurFormat, "Done.\n" },
        { "encode into a missing folder", EncodeFile, file(BytesOf("abracadabra")), "absent/out",
          JobResult::CannotOpen, "" },
        { "decode into a missing folder", DecodeFile, file(kAbra), "absent/out",
          JobResult::CannotOpen, "" },
    };
    // A FIFO source opened for a blocking read would wait for a writer forever.
    ::alarm(60);
    for (const Case& c : cases) {
        for (const bool existing : { true, false }) {
            SCOPED_TRACE(std::string(c.name) + (existing ? ", existing" : ", missing")
                         + " destination");
            test::ScratchDir dir;
            const std::string source = c.source(dir);
            const std::string destination = dir / c.destination;
            if (existing && !fs::exists(fs::path(destination).parent_path()))
                continue;
            if (existing)
                test::WriteFile(destination, kPrecious);
            const auto before = Tree(dir.Path());
            const Bytes sourceBefore
                = fs::is_regular_file(source) ? test::ReadFile(source) : Bytes {};

            const Outcome outcome = RunJob(c.job, source, destination);
            EXPECT_EQ(outcome.result, c.expected);
            EXPECT_EQ(outcome.printed, c.printed)
                << "Done. is printed only by a job that opened both files";
            if (existing) {
                EXPECT_EQ(test::ReadFile(destination), kPrecious)
                    << "a failed job keeps the old destination's bytes";
            } else {
                EXPECT_FALSE(fs::exists(fs::symlink_status(destination)))
                    << "a failed job creates no destination";
            }
            EXPECT_EQ(Tree(dir.Path()), before) << "a failed job leaves no temporary file";
            if (fs::is_regular_file(source)) {
                EXPECT_TRUE(test::ReadFile(source) == sourceBefore) << "the source is only read";
            }
        }
    }
    ::alarm(0);
}

TEST(FailedJob, AReadOnlyFolderRefusesTheJob)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "running as root, which may write into a read-only folder";
    test::ScratchDir dir;
    test::WriteFile(dir / "source", BytesOf("abracadabra"));
    fs::create_directory(dir / "locked");
    test::WriteFile(dir / "locked/old", kPrecious);
    ::chmod((dir / "locked").c_str(), 0555);
    const auto before = Tree(dir.Path());
    for (const char* destination : { "locked/old", "locked/new" }) {
        SCOPED_TRACE(destination);
        EXPECT_EQ(RunJob(EncodeFile, dir / "source", dir / destination).result,
                  JobResult::CannotOpen)
            << "no temporary file can be made beside the destination";
    }
    EXPECT_EQ(test::ReadFile(dir / "locked/old"), kPrecious) << "the old destination is kept";
    EXPECT_EQ(Tree(dir.Path()), before) << "nothing is created in a read-only folder";
}

TEST(Replace, AReadOnlyDestinationOnlyByWhoMayWriteIt)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "source", BytesOf("abracadabra"));
    test::WriteFile(dir / "packed", kPrecious);
    ::chmod((dir / "packed").c_str(), 0444);
    const auto before = Tree(dir.Path());
    const JobResult result = RunJob(EncodeFile, dir / "source", dir / "packed").result;
    if (::geteuid() == 0) {
        // Root may open the file for writing, so the file is its to replace.
        EXPECT_EQ(result, JobResult::Done) << "root may write a read-only file";
        EXPECT_EQ(test::ReadFile(dir / "packed"), kAbra) << "the file gets the new bytes";
    } else {
        EXPECT_EQ(result, JobResult::CannotOpen) << "a read-only file is not replaced";
        EXPECT_EQ(test::ReadFile(dir / "packed"), kPrecious) << "the old bytes are kept";
    }
    EXPECT_EQ(ModeOf(dir / "packed"), 0444u) << "the file stays read-only";
    EXPECT_EQ(Tree(dir.Path()), before) << "no temporary file is left behind";
}

TEST(Replace, NeverADestinationThatIsNotAFile)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "source", BytesOf("abracadabra"));
    fs::create_directory(dir / "folder");
    test::WriteFile(dir / "folder/inside", kPrecious);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    const auto before = Tree(dir.Path());
    ::alarm(60); // opening the FIFO for writing would wait for a reader
    for (const char* destination : { "folder", "fifo" }) {
        SCOPED_TRACE(destination);
        EXPECT_EQ(RunJob(EncodeFile, dir / "source", dir / destination).result,
                  JobResult::CannotOpen)
            << "only a regular file is replaced";
    }
    ::alarm(0);
    EXPECT_TRUE(fs::is_directory(dir / "folder")) << "the folder stays a folder";
    EXPECT_TRUE(fs::is_fifo(dir / "fifo")) << "the FIFO stays a FIFO";
    EXPECT_EQ(test::ReadFile(dir / "folder/inside"), kPrecious) << "the folder's file is kept";
    EXPECT_EQ(Tree(dir.Path()), before) << "no temporary file is left behind";
}

TEST(Permissions, AReplacedFileKeepsItsModeAndANewOneTakesTheSources)
{
    // New contents never carry set-id bits: replacing a set-user-id program must not make a
    // set-user-id file of whatever bytes were written.
    for (const mode_t mode : { 0640, 0600, 0755, 0604, 04755, 02750, 06711 }) {
        SCOPED_TRACE(mode);
        test::ScratchDir dir;
        test::WriteFile(dir / "source", BytesOf("abracadabra"));
        test::WriteFile(dir / "packed", kPrecious);
        ASSERT_EQ(::chmod((dir / "packed").c_str(), mode), 0);
        ASSERT_EQ(RunJob(EncodeFile, dir / "source", dir / "packed").result, JobResult::Done);
        EXPECT_EQ(ModeOf(dir / "packed"), mode & 0777) << "replacing a file keeps its permissions";
    }
    // Whatever the umask: a copy of a secret is as secret as the source, a copy of a program as
    // executable, and set-id bits never come along.
    for (const mode_t mask : { 022, 077, 002 }) {
        for (const mode_t mode : { 0600, 0644, 0755, 0640, 04755 }) {
            SCOPED_TRACE(std::to_string(mode) + " under umask " + std::to_string(mask));
            const Umask umask(mask);
            test::ScratchDir dir;
            test::WriteFile(dir / "source", BytesOf("abracadabra"));
            ASSERT_EQ(::chmod((dir / "source").c_str(), mode), 0);
            ASSERT_EQ(RunJob(EncodeFile, dir / "source", dir / "packed").result, JobResult::Done);
            EXPECT_EQ(ModeOf(dir / "packed"), mode & 0777) << "a new file takes the source's mode";
            ASSERT_EQ(::chmod((dir / "packed").c_str(), mode), 0);
            ASSERT_EQ(RunJob(DecodeFile, dir / "packed", dir / "restored").result, JobResult::Done);
            EXPECT_EQ(ModeOf(dir / "restored"), mode & 0777) << "so a round trip restores it";
        }
    }
}

TEST(NoClobber, WithoutReplaceWhateverStandsAtTheDestinationStays)
{
    using Maker = std::function<void(const std::string&)>;
    const std::pair<const char*, Maker> cases[] = {
        { "a file", [](const std::string& at) { test::WriteFile(at, kPrecious); } },
        { "a dangling link", [](const std::string& at) { fs::create_symlink("nowhere", at); } },
        { "a link to a file", [](const std::string& at) { fs::create_symlink("other", at); } },
        { "a folder", [](const std::string& at) { fs::create_directory(at); } },
    };
    JobOptions options;
    options.replace = false;
    for (const auto& [what, make] : cases) {
        SCOPED_TRACE(what);
        test::ScratchDir dir;
        test::WriteFile(dir / "source", BytesOf("abracadabra"));
        test::WriteFile(dir / "other", kPrecious);
        make(dir / "packed");
        const auto before = Tree(dir.Path());
        const JobOutcome outcome
            = RunFileJob(JobKind::Encode, dir / "source", dir / "packed", options);
        EXPECT_EQ(outcome.result, JobResult::CannotOpen);
        EXPECT_EQ(outcome.file, JobFile::Destination) << "the destination is the problem";
        EXPECT_EQ(outcome.error, EEXIST) << "a name stands there";
        EXPECT_EQ(Tree(dir.Path()), before) << "nothing is made or changed";
        EXPECT_EQ(test::ReadFile(dir / "other"), kPrecious) << "nothing is written through a link";
    }
    test::ScratchDir dir;
    test::WriteFile(dir / "source", BytesOf("abracadabra"));
    EXPECT_EQ(RunFileJob(JobKind::Encode, dir / "source", dir / "packed", options).result,
              JobResult::Done)
        << "a name that nothing stands at is written";
    EXPECT_EQ(test::ReadFile(dir / "packed"), kAbra);
}

TEST(Links, AnOwnLinkAtTheDestinationLeadsToItsTargetAndStays)
{
    struct Case
    {
        const char* name;
        const char* link;
        const char* target; // as stored in the link
        const char* targetFile; // inside the scratch folder
        bool targetExists;
    };
    const Case cases[] = {
        { "relative link", "link", "target", "target", true },
        { "link into a sub-folder", "link", "sub/target", "sub/target", true },
        { "link to a link", "link", "middle", "target", true },
        { "dangling link", "link", "made", "made", false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::ScratchDir dir;
        fs::create_directory(dir / "sub");
        test::WriteFile(dir / "source", BytesOf("abracadabra"));
        if (c.targetExists)
            test::WriteFile(dir / c.targetFile, kPrecious);
        if (std::string(c.target) == "middle")
            fs::create_symlink("target", dir / "middle");
        fs::create_symlink(c.target, dir / c.link);
        ASSERT_EQ(RunJob(EncodeFile, dir / "source", dir / c.link).result, JobResult::Done);
        EXPECT_TRUE(fs::is_symlink(dir / c.link)) << "the link stays a link";
        EXPECT_EQ(fs::read_symlink(dir / c.link), c.target) << "the link still points there";
        EXPECT_EQ(test::ReadFile(dir / c.targetFile), kAbra) << "the target gets the new bytes";
        EXPECT_FALSE(fs::is_symlink(dir / c.targetFile)) << "the target is a file";
        EXPECT_EQ(test::TemporaryFilesIn(dir.Path()), std::vector<std::string> {})
            << "no temporary file is left behind";
    }
}

TEST(Links, ALoopOfLinksIsRefused)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "source", BytesOf("abracadabra"));
    fs::create_symlink("loop", dir / "loop");
    const auto before = Tree(dir.Path());
    EXPECT_EQ(RunJob(EncodeFile, dir / "source", dir / "loop").result, JobResult::CannotOpen)
        << "a link that never reaches a file names no destination";
    EXPECT_TRUE(fs::is_symlink(dir / "loop")) << "the link is kept";
    EXPECT_EQ(Tree(dir.Path()), before) << "nothing is created";
}

TEST(SameFile, TwoNamesOfOneFileAreRefusedBeforeAnythingIsWritten)
{
    test::ScratchDir dir;
    const WorkingDirectory cwd(dir.Path());
    test::WriteFile(dir / "a", kAbra);
    fs::create_hard_link(dir / "a", dir / "hard");
    fs::create_symlink("a", dir / "soft");
    const std::pair<std::string, std::string> names[] = {
        { dir / "a", dir / "a" }, { "a", dir / "a" }, { dir / "a", "a" },
        { "./a", "a" },           { "a", "a" },       { "a", "hard" },
        { dir / "hard", "a" },    { "a", "soft" },    { "soft", "a" },
        { "a", "./sub/../a" },
    };
    fs::create_directory(dir / "sub");
    const auto before = Tree(dir.Path());
    for (const Job job : { EncodeFile, DecodeFile }) {
        for (const auto& [source, destination] : names) {
            SCOPED_TRACE(std::string(job == EncodeFile ? "encode " : "decode ") + source + " "
                         + destination);
            const Outcome outcome = RunJob(job, source, destination);
            EXPECT_EQ(outcome.result, JobResult::SameFile) << "one file is not two files";
            EXPECT_EQ(outcome.printed, "") << "a refused job reports nothing done";
            EXPECT_EQ(test::ReadFile(dir / "a"), kAbra) << "the source is untouched";
            EXPECT_EQ(Tree(dir.Path()), before) << "nothing is written";
        }
    }
}

// Decodes `file` over a destination that holds kPrecious: the job's outcome, what the
// destination then holds, and whether the job left its folder as it found it but for that.
struct DecodedOver
{
    Outcome outcome;
    Bytes destination;
    bool folderUnchanged;
};

DecodedOver DecodeOverPrecious(const Bytes& file)
{
    test::ScratchDir dir;
    test::WriteFile(dir / "packed", file);
    test::WriteFile(dir / "restored", kPrecious);
    const auto before = Tree(dir.Path());
    const Outcome outcome = RunJob(DecodeFile, dir / "packed", dir / "restored");
    return { outcome, test::ReadFile(dir / "restored"), Tree(dir.Path()) == before };
}

TEST(DamagedFiles, AreNotOurFormatAndLeaveNoDestination)
{
    for (const test::Sample& damaged : test::DamagedFiles()) {
        SCOPED_TRACE(damaged.name + ": " + test::ToHex(damaged.file));
        const DecodedOver decoded = DecodeOverPrecious(damaged.file);
        EXPECT_EQ(decoded.outcome.result, JobResult::NotOurFormat)
            << "a file that does not decode to its own table is not ours";
        EXPECT_EQ(decoded.destination, kPrecious) << "the destination is untouched";
        EXPECT_TRUE(decoded.folderUnchanged) << "no temporary file is left behind";
    }
}

TEST(OddFiles, ThatAreConsistentDecode)
{
    for (const test::Consistent& c : test::OddButConsistentFiles()) {
        SCOPED_TRACE(c.name + ": " + test::ToHex(c.file));
        const DecodedOver decoded = DecodeOverPrecious(c.file);
        EXPECT_EQ(decoded.outcome.result, JobResult::Done) << "a consistent file decodes";
        EXPECT_EQ(decoded.outcome.printed, "Done.\n") << "a finished job reports Done.";
        EXPECT_EQ(decoded.destination, c.restored) << "the destination is replaced";
    }
}

// --rm removes the only other copy, so a source that changed after it was read is kept: a line
// appended while the new file was being synced once vanished with its source, the job done.
TEST(FailedJob, ASourceThatChangedAfterItWasReadIsNotRemoved)
{
    const Bytes text = test::TextLikeBytes(1 << 20, 11);
    const struct
    {
        const char* what;
        std::function<void(const std::string&)> change;
    } cases[] = {
        { "a line appended",
          [](const std::string& path) {
              FILE* const file = std::fopen(path.c_str(), "ab");
              ASSERT_NE(file, nullptr);
              std::fputs("a line written meanwhile\n", file);
              std::fclose(file);
          } },
        { "a byte changed and the modification time set back",
          [](const std::string& path) {
              struct stat before
              {
              };
              ASSERT_EQ(::stat(path.c_str(), &before), 0);
              FILE* const file = std::fopen(path.c_str(), "r+b");
              ASSERT_NE(file, nullptr);
              std::fputc('!', file);
              std::fclose(file);
              const struct timespec times[]
              {
                  before.st_atim, before.st_mtim
              };
              ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
          } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::ScratchDir dir;
        test::WriteFile(dir / "source", text);
        JobOptions options;
        options.removeSource = true;
        bool changed = false;
        test::AtNextSync([&] {
            c.change(dir / "source");
            changed = true;
        });
        const JobOutcome outcome
            = RunFileJob(JobKind::Encode, dir / "source", dir / "packed", options);
        test::AtNextSync(nullptr);
        ASSERT_TRUE(changed) << "the job synced its new file";
        EXPECT_EQ(outcome.result, JobResult::CannotOpen);
        EXPECT_EQ(outcome.file, JobFile::Source);
        EXPECT_EQ(DescribeFailure(outcome), "not removed: it changed after it was read");
        ASSERT_TRUE(fs::exists(dir / "source")) << "the source is kept";
        EXPECT_NE(test::ReadFile(dir / "source"), text) << "with what was written meanwhile";
        EXPECT_EQ(RunJob(DecodeFile, dir / "packed", dir / "restored").result, JobResult::Done);
        EXPECT_EQ(test::ReadFile(dir / "restored"), text) << "the new file holds what was read";
    }
}

// A source that shrinks, grows or is written over while a pass reads it, the job held at a
// report of the counting pass, of the coding pass or of decoding: a clean failure, and the
// destination as it was. Read with pread, and then through mappings, where a mapped page past
// a file's new end is a SIGBUS that must fail the job, never end the process.
TEST(ChangingSources, AChangeWhileReadFailsTheJobAndNothingElse)
{
    const Bytes text = test::TextLikeBytes(4 << 20, 31);
    const struct
    {
        const char* what;
        std::function<void(const std::string&)> change;
    } changes[] = {
        { "shrinks",
          [](const std::string& path) { fs::resize_file(path, fs::file_size(path) / 4); } },
        { "grows",
          [](const std::string& path) {
              FILE* const file = std::fopen(path.c_str(), "ab");
              std::fputs("more", file);
              std::fclose(file);
          } },
        { "is written over",
          [](const std::string& path) {
              Bytes other = test::ReadFile(path);
              std::reverse(other.begin(), other.end());
              FILE* const file = std::fopen(path.c_str(), "r+b");
              std::fwrite(other.data(), 1, other.size(), file);
              std::fclose(file);
          } },
    };
    const struct
    {
        const char* what;
        JobKind kind;
        double at; // the fraction of the job's progress where the change comes
    } passes[] = {
        { "counting", JobKind::Encode, 0.1 },
        { "coding", JobKind::Encode, 0.6 },
        { "decoding", JobKind::Decode, 0.3 },
    };
    for (const bool mapped : { false, true }) {
        if (mapped)
            AllowMappedReads();
        for (const auto& pass : passes) {
            for (const auto& change : changes) {
                // A compressed file that grows still decodes: what follows it is never read.
                if (pass.kind == JobKind::Decode && std::string(change.what) == "grows")
                    continue;
                SCOPED_TRACE(std::string(mapped ? "mapped, " : "") + pass.what + ", the source "
                             + change.what);
                test::ScratchDir dir;
                test::WriteFile(dir / "text", text);
                const std::string source = dir / (pass.kind == JobKind::Encode ? "text" : "packed");
                if (pass.kind == JobKind::Decode) {
                    ASSERT_EQ(RunJob(EncodeFile, dir / "text", source).result, JobResult::Done);
                }
                test::WriteFile(dir / "dest", kPrecious);
                const auto before = Tree(dir.Path());
                JobOptions options;
                options.threads = 1;
                bool changed = false;
                options.progress = [&](std::int64_t done, std::int64_t total) {
                    if (!changed
                        && static_cast<double>(done) >= pass.at * static_cast<double>(total)) {
                        changed = true;
                        change.change(source);
                    }
                    return true;
                };
                const JobOutcome outcome = RunFileJob(pass.kind, source, dir / "dest", options);
                ASSERT_TRUE(changed) << "the job came that far";
                EXPECT_NE(outcome.result, JobResult::Done);
                EXPECT_EQ(outcome.file, JobFile::Source);
                if (pass.kind == JobKind::Encode) {
                    EXPECT_EQ(outcome.reason, Reason::ChangedWhileRead) << DescribeFailure(outcome);
                }
                EXPECT_EQ(test::ReadFile(dir / "dest"), kPrecious)
                    << "the destination is untouched";
                EXPECT_EQ(Tree(dir.Path()), before) << "and nothing is left beside it";
            }
        }
    }
}

} // namespace
} // namespace hufpack
