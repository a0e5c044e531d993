#pragma once

// What the tests share beyond the compressed files themselves: bytes as hex and text, scratch
// folders, deterministic test data, other users on this machine, and starting programs, the
// hufpack tool above all, as a user's shell would.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace hufpack::test {

using Bytes = std::vector<std::uint8_t>;

Bytes BytesOf(std::string_view text);
// "30 17 00" -> {0x30, 0x17, 0x00}; spaces and commas separate bytes.
Bytes FromHex(std::string_view hex);
std::string ToHex(const Bytes& bytes);
std::string TextOf(const Bytes& bytes);

// Names of everything in a folder, sorted.
std::vector<std::string> NamesIn(const std::filesystem::path& folder);
// Everything under a folder, sub-folders included, that is named as a job's temporary file
// (.NAME.hufpack-XXXXXX): what a job must never leave behind.
std::vector<std::string> TemporaryFilesIn(const std::filesystem::path& folder);

Bytes ReadFile(const std::filesystem::path& path);
std::string ReadText(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const Bytes& bytes);

// A fresh folder under the system's temporary folder, removed with everything in it when the
// object goes.
class ScratchDir
{
public:
    ScratchDir();
    // The same under `parent`.
    explicit ScratchDir(const std::filesystem::path& parent);
    // One folder, one owner: it goes with the object.
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    ~ScratchDir();

    [[nodiscard]] const std::filesystem::path& Path() const { return m_path; }
    [[nodiscard]] std::string operator/(std::string_view name) const;
    // Names of everything in the folder, sorted.
    [[nodiscard]] std::vector<std::string> List() const;

private:
    std::filesystem::path m_path;
};

// A tmpfs of `bytes` mounted at `at` (made if missing) for the object's life, so that a job runs
// out of space for real, or is shown to need no more than that; only root may mount one.
// Unmounted however the test ends.
class SmallDisk
{
public:
    SmallDisk(std::filesystem::path at, std::size_t bytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    [[nodiscard]] bool Mounted() const { return m_mounted; }
    [[nodiscard]] const std::string& Error() const { return m_error; }
    [[nodiscard]] const std::filesystem::path& Path() const { return m_path; }
    [[nodiscard]] std::string operator/(std::string_view name) const;
    [[nodiscard]] std::uint64_t FreeBytes() const;

private:
    std::filesystem::path m_path;
    bool m_mounted = false;
    std::string m_error;
};

// A folder in memory (/dev/shm) where there is one, for files of hundreds of megabytes that
// need not reach a disk; the system's temporary folder otherwise.
std::filesystem::path MemoryFolder();

// Deterministic test data.
// Uniformly random bytes, which do not compress.
Bytes RandomBytes(std::size_t size, std::uint64_t seed);
// Bytes drawn from a skewed distribution: a few values dominate, with runs.
Bytes SkewedBytes(std::size_t size, std::uint64_t seed);
// Words separated by spaces and line ends, with word frequencies following a Zipf-like law:
// text of the kind people compress. Successive calls of Next continue the same text.
class TextGenerator
{
public:
    explicit TextGenerator(std::uint64_t seed);
    Bytes Next(std::size_t size);

private:
    std::mt19937_64 m_random;
    std::vector<std::string> m_words;
    std::discrete_distribution<int> m_pick;
    int m_lineLength = 0;
};
Bytes TextLikeBytes(std::size_t size, std::uint64_t seed);
// Counts in a Fibonacci sequence, which give the deepest trees.
Bytes FibonacciBytes(int distinctValues);

// Another account on this machine, for tests of what other local users can do.
struct TestUser
{
    std::string name;
    uid_t uid = 0;
    gid_t gid = 0; // the user's own group
    std::vector<gid_t> groups; // every group the user is in, their own first
};

// Three users, made with useradd when missing (only root can): "hufpack-a" and "hufpack-b",
// who share the group "hufpack-team", and "hufpack-m", who shares nothing. Empty when they
// cannot be had; `why` then says why.
struct TestUsers
{
    TestUser a;
    TestUser b;
    TestUser m;
    gid_t team = 0;
};
bool GetTestUsers(TestUsers& users, std::string& why);

// How a test starts a program: every signal at its default action and none blocked, whatever
// the test process itself has, as a user's shell would start it.
struct Launch
{
    std::vector<std::string> args; // args[0] is the program's path
    std::string input = "/dev/null";
    int inputFd = -1; // when not -1, standard input is this descriptor instead of `input`
    std::string output = "/dev/null"; // created or truncated
    std::string errors = "/dev/null";
    int outputFd = -1; // when not -1, standard output is this descriptor instead of `output`
    int errorsFd = -1; // when not -1, standard error is this descriptor instead of `errors`
    const TestUser* user = nullptr; // run as this user, with the user's groups
    long long fileSizeLimit = -1; // RLIMIT_FSIZE in bytes
    std::string folder; // working folder
    std::vector<std::string> environment; // NAME=VALUE, added to the test's own
};
// The process's id, or -1 when it cannot be started.
pid_t Start(const Launch& launch);

struct Finished
{
    int status = -1; // the exit status, or -1 when a signal ended it
    int signal = 0; // the signal that ended it, or 0
    long peakKiB = 0; // the process's maximum resident set
};
Finished Wait(pid_t pid);

// The hufpack tool: the one the HUFPACK_CLI environment variable names, or else the one this
// build makes, so that a test program runs the same under ctest and on its own.
std::string ToolPath();

// Starts the hufpack tool with `args`, standard input from /dev/null and standard output and
// error written to the files named; -1 when it cannot be started.
int StartTool(const std::vector<std::string>& args, const std::string& outPath,
              const std::string& errPath);

// One run of the hufpack tool, waited for.
struct ToolCall
{
    std::vector<std::string> args {};
    std::string folder {}; // working folder; the test's own when empty
    std::optional<Bytes> input = std::nullopt; // through a pipe, as from another program
    const TestUser* user = nullptr; // run as this user; as the test's own when null
    std::vector<std::string> wrapper {}; // a program that runs the tool, such as strace
};
struct ToolRun
{
    int status = -1; // the exit status, or -1 when a signal ended the tool or it did not start
    int signal = 0;
    std::string out; // its bytes, whether text or not
    std::string err; // says so when the tool cannot be started
    long peakKiB = 0; // the process's maximum resident set
};
ToolRun RunTool(const ToolCall& call);

// The tool started with `args`, which should ask for --progress, and its standard error a pipe
// that is full already: it stops in the middle of its job, at its first progress line, and stays
// there until released. So a test reaches a running job at a known point, whatever the
// machine's speed, without guessing a size that is "still running".
class HeldTool
{
public:
    explicit HeldTool(const std::vector<std::string>& args,
                      const std::vector<std::string>& environment = {});
    ~HeldTool();
    HeldTool(const HeldTool&) = delete;
    HeldTool& operator=(const HeldTool&) = delete;

    [[nodiscard]] pid_t Pid() const { return m_pid; }
    // Waits until the tool stands at its progress line: true, or false when it ended first or
    // never got there (checked by what the kernel says each thread is doing).
    [[nodiscard]] bool AwaitHeld();
    // Lets the tool go on: its standard error is read to its end from now on.
    void Release();
    // How many threads the tool runs now.
    [[nodiscard]] int Threads() const;
    // Waits for the tool to end; its standard error is read meanwhile.
    Finished Wait();

private:
    pid_t m_pid = -1;
    int m_errors = -1; // the pipe's read end
    bool m_waited = false;
};

} // namespace hufpack::test
