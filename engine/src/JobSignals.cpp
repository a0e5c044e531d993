// The signal handlers a job installs, and the one temporary name they remove.

#include "JobSignals.h"

#include <array>
#include <atomic>
#include <cassert>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace hufpack {

namespace {

constexpr std::array kStopSignals { SIGINT, SIGTERM, SIGHUP, SIGPIPE };

// What the handler reads: written only while `g_tracked` is false, so it never sees half a name.
std::atomic<bool> g_tracked { false };
int g_folder = -1;
char g_name[256];

struct sigaction g_saved[std::size(kStopSignals)];
bool g_installed[std::size(kStopSignals)];
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

bool IsDefault(const struct sigaction& action)
{
    return !(action.sa_flags & SA_SIGINFO) && action.sa_handler == SIG_DFL;
}

} // namespace

JobSignals::JobSignals()
{
    struct sigaction handler
    {
    };
    handler.sa_handler = RemoveTemporaryFileAndStop;
    sigemptyset(&handler.sa_mask);
    for (const int signal : kStopSignals)
        sigaddset(&handler.sa_mask, signal);
    handler.sa_flags = SA_RESETHAND;
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
        g_installed[i] = false;
        if (::sigaction(kStopSignals[i], nullptr, &g_saved[i]) == 0 && IsDefault(g_saved[i]))
            g_installed[i] = ::sigaction(kStopSignals[i], &handler, nullptr) == 0;
    }
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
    Untrack();
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
        if (g_installed[i])
            ::sigaction(kStopSignals[i], &g_saved[i], nullptr);
    }
    if (g_ignoringFileSize)
        ::sigaction(SIGXFSZ, &g_savedFileSize, nullptr);
}

void JobSignals::Track(int folder, const char* name)
{
    assert(std::strlen(name) < sizeof g_name);
    g_tracked.store(false);
    g_folder = folder;
    std::strncpy(g_name, name, sizeof g_name - 1);
    g_name[sizeof g_name - 1] = '\0';
    g_tracked.store(true);
}

void JobSignals::Untrack()
{
    g_tracked.store(false);
}

} // namespace hufpack
