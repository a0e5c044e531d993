// The shared test helpers: hex and text, scratch folders, test data, test users, and starting
// programs.

#include "TestSupport.h"

#include "sys/SystemIo.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace hufpack::test {

Bytes BytesOf(std::string_view text)
{
    return Bytes(text.begin(), text.end());
}

Bytes FromHex(std::string_view hex)
{
    Bytes bytes;
    int pending = -1;
    for (const char c : hex) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            continue;
        if (pending < 0) {
            pending = digit;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(pending * 16 + digit));
            pending = -1;
        }
    }
    if (pending >= 0)
        throw std::invalid_argument("odd number of hex digits");
    return bytes;
}

std::string ToHex(const Bytes& bytes)
{
    std::string text;
    char byte[4];
    for (const std::uint8_t b : bytes) {
        std::snprintf(byte, sizeof byte, "%02X ", b);
        text += byte;
    }
    if (!text.empty())
        text.pop_back();
    return text;
}

std::string TextOf(const Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

Bytes ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadText(const std::filesystem::path& path)
{
    return TextOf(ReadFile(path));
}

void WriteFile(const std::filesystem::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

ScratchDir::ScratchDir() : ScratchDir(std::filesystem::temp_directory_path()) { }

ScratchDir::ScratchDir(const std::filesystem::path& parent)
{
    std::string pattern = (parent / "hufpack-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a scratch folder");
    m_path = pattern;
}

SmallDisk::SmallDisk(std::filesystem::path at, std::size_t bytes) : m_path(std::move(at))
{
    std::filesystem::create_directory(m_path);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::mount("tmpfs", m_path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0)
        m_mounted = true;
    else
        m_error = std::strerror(errno);
}

SmallDisk::~SmallDisk()
{
    if (m_mounted && ::umount2(m_path.c_str(), 0) != 0)
        ::umount2(m_path.c_str(), MNT_DETACH);
}

std::string SmallDisk::operator/(std::string_view name) const
{
    return m_path / name;
}

std::uint64_t SmallDisk::FreeBytes() const
{
    struct statvfs info
    {
    };
    if (::statvfs(m_path.c_str(), &info) != 0)
        return 0;
    return std::uint64_t { info.f_bavail } * info.f_frsize;
}

std::filesystem::path MemoryFolder()
{
    std::error_code error;
    if (std::filesystem::is_directory("/dev/shm", error) && ::access("/dev/shm", W_OK) == 0)
        return "/dev/shm";
    return std::filesystem::temp_directory_path();
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(m_path, ignored);
}

std::string ScratchDir::operator/(std::string_view name) const
{
    return (m_path / name).string();
}

std::vector<std::string> ScratchDir::List() const
{
    return NamesIn(m_path);
}

std::vector<std::string> NamesIn(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> TemporaryFilesIn(const std::filesystem::path& folder)
{
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.path().filename().string().find(".hufpack-") != std::string::npos)
            found.push_back(entry.path().lexically_relative(folder).string());
    }
    return found;
}

Bytes RandomBytes(std::size_t size, std::uint64_t seed)
{
    std::mt19937_64 random(seed);
    Bytes bytes(size);
    for (auto& byte : bytes)
        byte = static_cast<std::uint8_t>(random());
    return bytes;
}

Bytes SkewedBytes(std::size_t size, std::uint64_t seed)
{
    std::mt19937_64 random(seed);
    // Geometric: value k about twice as likely as value k + 1, over a shuffled alphabet.
    std::vector<std::uint8_t> alphabet(256);
    for (int i = 0; i < 256; ++i)
        alphabet[i] = static_cast<std::uint8_t>(i);
    std::shuffle(alphabet.begin(), alphabet.end(), random);
    std::geometric_distribution<int> rank(0.3 + (seed % 5) * 0.1);
    std::uniform_int_distribution<int> runLength(1, 24);
    std::bernoulli_distribution startRun(0.05);
    Bytes bytes;
    bytes.reserve(size);
    while (bytes.size() < size) {
        const std::uint8_t value = alphabet[std::min(rank(random), 255)];
        const int copies = startRun(random) ? runLength(random) : 1;
        for (int i = 0; i < copies && bytes.size() < size; ++i)
            bytes.push_back(value);
    }
    return bytes;
}

TextGenerator::TextGenerator(std::uint64_t seed) : m_random(seed)
{
    constexpr int kWords = 4096;
    std::geometric_distribution<int> wordLength(0.25);
    std::discrete_distribution<int> letter({ 8.2, 1.5, 2.8, 4.3, 12.7, 2.2, 2.0, 6.1, 7.0,
                                             0.2, 0.8, 4.0, 2.4, 6.7,  7.5, 1.9, 0.1, 6.0,
                                             6.3, 9.1, 2.8, 1.0, 2.4,  0.2, 2.0, 0.1 });
    for (int i = 0; i < kWords; ++i) {
        std::string word;
        const int length = 1 + std::min(wordLength(m_random), 14);
        for (int k = 0; k < length; ++k)
            word += static_cast<char>('a' + letter(m_random));
        if (i % 7 == 0)
            word[0] = static_cast<char>(word[0] - 'a' + 'A');
        m_words.push_back(word);
    }
    // Zipf: the word of rank r has weight 1 / (r + 1).
    std::vector<double> weights(kWords);
    for (int r = 0; r < kWords; ++r)
        weights[r] = 1.0 / (r + 1);
    m_pick = std::discrete_distribution<int>(weights.begin(), weights.end());
}

Bytes TextGenerator::Next(std::size_t size)
{
    std::uniform_int_distribution<int> punctuation(0, 99);
    Bytes bytes;
    bytes.reserve(size + 32);
    while (bytes.size() < size) {
        const std::string& word = m_words[m_pick(m_random)];
        bytes.insert(bytes.end(), word.begin(), word.end());
        m_lineLength += static_cast<int>(word.size()) + 1;
        const int mark = punctuation(m_random);
        if (mark < 6)
            bytes.push_back(',');
        else if (mark < 9)
            bytes.push_back('.');
        if (m_lineLength > 72) {
            bytes.push_back('\n');
            m_lineLength = 0;
        } else {
            bytes.push_back(' ');
        }
    }
    bytes.resize(size);
    return bytes;
}

Bytes TextLikeBytes(std::size_t size, std::uint64_t seed)
{
    return TextGenerator(seed).Next(size);
}

Bytes FibonacciBytes(int distinctValues)
{
    Bytes bytes;
    std::uint64_t a = 1;
    std::uint64_t b = 1;
    for (int value = 0; value < distinctValues; ++value) {
        bytes.insert(bytes.end(), a, static_cast<std::uint8_t>(value));
        const std::uint64_t next = a + b;
        a = b;
        b = next;
    }
    return bytes;
}

namespace {

bool LookUpUser(const char* name, TestUser& user)
{
    const passwd* entry = ::getpwnam(name);
    if (!entry)
        return false;
    user.name = name;
    user.uid = entry->pw_uid;
    user.gid = entry->pw_gid;
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (::getgrouplist(name, entry->pw_gid, groups.data(), &count) < 0)
        return false;
    groups.resize(static_cast<std::size_t>(count));
    user.groups = groups;
    return true;
}

bool RunQuietly(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

} // namespace

bool GetTestUsers(TestUsers& users, std::string& why)
{
    const char* const names[] = { "hufpack-a", "hufpack-b", "hufpack-m" };
    const bool known = ::getgrnam("hufpack-team") && ::getpwnam(names[0]) && ::getpwnam(names[1])
        && ::getpwnam(names[2]);
    if (!known) {
        if (::geteuid() != 0) {
            why = "the test users are missing, and only root can add them";
            return false;
        }
        if (!::getgrnam("hufpack-team"))
            RunQuietly("groupadd --system hufpack-team");
        for (const char* name : names) {
            if (::getpwnam(name))
                continue;
            const std::string team
                = std::string(name) == "hufpack-m" ? "" : " --groups hufpack-team";
            RunQuietly("useradd --system --no-create-home --user-group --shell /usr/sbin/nologin"
                       + team + " " + name);
        }
    }
    const group* team = ::getgrnam("hufpack-team");
    if (!team || !LookUpUser(names[0], users.a) || !LookUpUser(names[1], users.b)
        || !LookUpUser(names[2], users.m)) {
        why = "cannot add the test users with groupadd and useradd";
        return false;
    }
    users.team = team->gr_gid;
    return true;
}

pid_t Start(const Launch& launch)
{
    if (launch.args.empty())
        return -1;
    // Everything the child needs is made before the fork: it only makes system calls.
    std::vector<std::string> words = launch.args;
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = launch.environment;
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;

    struct sigaction defaults
    {
    };
    defaults.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal)
        ::sigaction(signal, &defaults, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const auto openAs = [](const std::string& path, int flags, int target) {
        const int fd = ::open(path.c_str(), flags, 0600);
        if (fd < 0 || ::dup2(fd, target) < 0)
            ::_exit(126);
        if (fd != target)
            ::close(fd);
    };
    if (launch.inputFd >= 0)
        ::dup2(launch.inputFd, 0);
    else
        openAs(launch.input, O_RDONLY, 0);
    if (launch.outputFd >= 0)
        ::dup2(launch.outputFd, 1);
    else
        openAs(launch.output, O_WRONLY | O_CREAT | O_TRUNC, 1);
    if (launch.errorsFd >= 0)
        ::dup2(launch.errorsFd, 2);
    else
        openAs(launch.errors, O_WRONLY | O_CREAT | O_TRUNC, 2);
    if (launch.fileSizeLimit >= 0) {
        const rlimit limit { static_cast<rlim_t>(launch.fileSizeLimit),
                             static_cast<rlim_t>(launch.fileSizeLimit) };
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (!launch.folder.empty() && ::chdir(launch.folder.c_str()) != 0)
        ::_exit(126);
    if (launch.user
        && (::setgroups(launch.user->groups.size(), launch.user->groups.data()) != 0
            || ::setgid(launch.user->gid) != 0 || ::setuid(launch.user->uid) != 0))
        ::_exit(126);
    for (std::string& setting : environment)
        ::putenv(setting.data());
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

Finished Wait(pid_t pid)
{
    int status = 0;
    rusage usage {};
    while (::wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR)
            return {};
    }
    Finished finished;
    finished.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    finished.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    finished.peakKiB = usage.ru_maxrss;
    return finished;
}

std::string ToolPath()
{
    if (const char* const tool = std::getenv("HUFPACK_CLI"); tool && *tool)
        return tool;
    return HUFPACK_BUILT_TOOL;
}

int StartTool(const std::vector<std::string>& args, const std::string& outPath,
              const std::string& errPath)
{
    const std::string tool = ToolPath();
    if (tool.empty())
        return -1;
    Launch launch;
    launch.args = { tool };
    launch.args.insert(launch.args.end(), args.begin(), args.end());
    launch.output = outPath;
    launch.errors = errPath;
    return Start(launch);
}

ToolRun RunTool(const ToolCall& call)
{
    const ScratchDir logs;
    Launch launch;
    launch.args = call.wrapper;
    launch.args.push_back(ToolPath());
    launch.args.insert(launch.args.end(), call.args.begin(), call.args.end());
    launch.output = logs / "out";
    launch.errors = logs / "err";
    launch.folder = call.folder;
    launch.user = call.user;
    int pipeEnds[2] = { -1, -1 };
    if (call.input && ::pipe2(pipeEnds, O_CLOEXEC) != 0)
        return { -1, 0, {}, "cannot make a pipe for the tool's input" };
    launch.inputFd = pipeEnds[0];
    const pid_t pid = ToolPath().empty() ? -1 : Start(launch);
    if (call.input) {
        ::close(pipeEnds[0]);
        if (pid > 0)
            WriteFully(pipeEnds[1], call.input->data(), call.input->size());
        ::close(pipeEnds[1]);
    }
    if (pid < 0)
        return { -1, 0, {}, "cannot start the hufpack tool" };
    const Finished finished = Wait(pid);
    return { finished.status, finished.signal, TextOf(ReadFile(logs / "out")),
             TextOf(ReadFile(logs / "err")), finished.peakKiB };
}

HeldTool::HeldTool(const std::vector<std::string>& args,
                   const std::vector<std::string>& environment)
{
    int ends[2] = { -1, -1 };
    if (ToolPath().empty() || ::pipe2(ends, O_CLOEXEC) != 0)
        return;
    // Filled without blocking, then blocking again: the flag belongs to the pipe's open file,
    // which the tool shares, and its first write must wait.
    ::fcntl(ends[1], F_SETFL, O_NONBLOCK);
    const std::vector<std::uint8_t> filler(4096, '.');
    while (::write(ends[1], filler.data(), filler.size()) > 0) { }
    ::fcntl(ends[1], F_SETFL, 0);
    Launch launch;
    launch.args = { ToolPath() };
    launch.args.insert(launch.args.end(), args.begin(), args.end());
    launch.errorsFd = ends[1];
    launch.environment = environment;
    m_pid = Start(launch);
    ::close(ends[1]);
    m_errors = ends[0];
}

HeldTool::~HeldTool()
{
    if (m_pid > 0 && !m_waited) {
        ::kill(m_pid, SIGKILL);
        Wait();
    }
    if (m_errors >= 0)
        ::close(m_errors);
}

bool HeldTool::AwaitHeld()
{
    if (m_pid <= 0)
        return false;
    // A thread of the tool inside write(2, ...): the syscall file names the call and its
    // arguments while a thread is blocked in one.
    const std::string writingErrors = std::to_string(SYS_write) + " 0x2 ";
    const std::filesystem::path tasks = "/proc/" + std::to_string(m_pid) + "/task";
    // Only so that a tool that never gets there cannot hang the test.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (std::chrono::steady_clock::now() < giveUp) {
        siginfo_t info {};
        if (::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0
            && info.si_pid == m_pid)
            return false; // ended, not yet reaped
        std::error_code error;
        for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
            std::ifstream syscall(task.path() / "syscall");
            std::string line;
            if (std::getline(syscall, line) && line.rfind(writingErrors, 0) == 0)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

void HeldTool::Release()
{
    if (m_errors < 0)
        return;
    // Read on a thread of its own until the tool closes its end.
    std::thread([fd = m_errors] {
        std::uint8_t buffer[4096];
        while (ReadSome(fd, buffer, sizeof buffer) > 0) { }
        ::close(fd);
    }).detach();
    m_errors = -1;
}

int HeldTool::Threads() const
{
    std::error_code error;
    int threads = 0;
    for (auto task
         = std::filesystem::directory_iterator("/proc/" + std::to_string(m_pid) + "/task", error);
         !error && task != std::filesystem::directory_iterator(); task.increment(error))
        ++threads;
    return threads;
}

Finished HeldTool::Wait()
{
    Release();
    m_waited = true;
    return test::Wait(m_pid);
}

} // namespace hufpack::test
