// The signal handlers a job installs, and the one temporary name they remove.

#include "sys/JobSignals.h"

#include <array>
#include <atomic>
#include <cassert>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace hufpack {

namespace {

// Every signal whose default action ends the process, with or without a core: a job's named
// temporary file goes first, whoever sends the signal (a terminal, a parent, ulimit -t, the
// job's own failed assertion). SIGKILL and SIGSTOP cannot be caught; SIGXFSZ is ignored instead.
constexpr int kEndingSignals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT,   SIGBUS,  SIGFPE, SIGUSR1, SIGSEGV,
    SIGUSR2,   SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGIO,  SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

// What the handler reads: written only while `g_tracked` is false, so it never sees half a name.
std::atomic<bool> g_tracked { false };
int g_folder = -1;
char g_name[256];

// Whether this thread's job installed the handlers, and so may track its name.
thread_local bool t_handling = false;

struct sigaction g_saved[NSIG];
bool g_installed[NSIG];
struct sigaction g_savedFileSize;
bool g_ignoringFileSize = false;

// Only async-signal-safe calls: unlinkat, then the default action again by re-raising. The
// signal stays blocked until the handler returns, and SA_RESETHAND has put back the default, so
// the re-raised signal ends the process as soon as the handler returns.
void RemoveTemporaryFileAndStop(int signal)
{
    const int savedErrno = errno;
    if (g_tracked.load())
        ::unlinkat(g_folder, g_name, 0);
    ::raise(signal);
    errno = savedErrno;
}

// A process that ends by exit() while a job runs (the dialog's display going away makes Qt call
// exit(1), say) removes the file too.
void RemoveTemporaryFileAtExit()
{
    if (g_tracked.exchange(false))
        ::unlinkat(g_folder, g_name, 0);
}

bool IsDefault(const struct sigaction& action)
{
    return !(action.sa_flags & SA_SIGINFO) && action.sa_handler == SIG_DFL;
}

// Calls `use(signal)` for each signal that ends the process by default.
template<typename Use> void ForEachEndingSignal(Use use)
{
    for (const int signal : kEndingSignals)
        use(signal);
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
        use(signal);
}

} // namespace

JobSignals::JobSignals(bool install) : m_installed(install)
{
    if (!install)
        return;
    t_handling = true;
    static const bool atExit = std::atexit(RemoveTemporaryFileAtExit) == 0;
    (void)atExit;
    struct sigaction handler
    {
    };
    handler.sa_handler = RemoveTemporaryFileAndStop;
    sigemptyset(&handler.sa_mask);
    ForEachEndingSignal([&](int signal) { sigaddset(&handler.sa_mask, signal); });
    handler.sa_flags = SA_RESETHAND;
    ForEachEndingSignal([&](int signal) {
        g_installed[signal] = false;
        if (::sigaction(signal, nullptr, &g_saved[signal]) == 0 && IsDefault(g_saved[signal]))
            g_installed[signal] = ::sigaction(signal, &handler, nullptr) == 0;
    });
    struct sigaction ignore
    {
    };
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    g_ignoringFileSize = ::sigaction(SIGXFSZ, nullptr, &g_savedFileSize) == 0
        && IsDefault(g_savedFileSize) && ::sigaction(SIGXFSZ, &ignore, nullptr) == 0;
}

JobSignals::~JobSignals()
{
    if (!m_installed)
        return;
    Untrack();
    t_handling = false;
    ForEachEndingSignal([](int signal) {
        if (g_installed[signal])
            ::sigaction(signal, &g_saved[signal], nullptr);
    });
    if (g_ignoringFileSize)
        ::sigaction(SIGXFSZ, &g_savedFileSize, nullptr);
}

void JobSignals::Track(int folder, const char* name)
{
    if (!t_handling)
        return;
    assert(std::strlen(name) < sizeof g_name);
    g_tracked.store(false);
    g_folder = folder;
    std::strncpy(g_name, name, sizeof g_name - 1);
    g_name[sizeof g_name - 1] = '\0';
    g_tracked.store(true);
}

void JobSignals::Untrack()
{
    if (!t_handling)
        return;
    g_tracked.store(false);
}

} // namespace hufpack
