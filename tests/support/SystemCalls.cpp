// The test programs' own openat and fdatasync, which call the C library's.

#include "SystemCalls.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <utility>

namespace hufpack::test {

namespace {

std::atomic<bool> g_noUnnamedFiles { false };
std::mutex g_syncing;
std::function<void()> g_atSync;

} // namespace

void MakeNoUnnamedFiles(bool none)
{
    g_noUnnamedFiles = none;
}

void AtNextSync(std::function<void()> act)
{
    const std::lock_guard lock(g_syncing);
    g_atSync = std::move(act);
}

} // namespace hufpack::test

extern "C" int openat(int folder, const char* path, int flags, ...)
{
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list arguments;
        va_start(arguments, flags);
        mode = va_arg(arguments, mode_t);
        va_end(arguments);
    }
    if ((flags & O_TMPFILE) == O_TMPFILE && hufpack::test::g_noUnnamedFiles) {
        errno = EOPNOTSUPP;
        return -1;
    }
    static const auto open
        = reinterpret_cast<int (*)(int, const char*, int, ...)>(::dlsym(RTLD_NEXT, "openat"));
    return open(folder, path, flags, mode);
}

extern "C" int fdatasync(int fd)
{
    std::function<void()> act;
    {
        const std::lock_guard lock(hufpack::test::g_syncing);
        act = std::exchange(hufpack::test::g_atSync, nullptr);
    }
    if (act)
        act();
    static const auto sync = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fdatasync"));
    return sync(fd);
}
