// A library a test preloads into a program (LD_PRELOAD) to hold it at known points of a job:
// the program's reads of one file stop at the reads numbered in HUFPACK_HOLD_READS_AT, until
// the test lets them go on. So a test sees a running job of a real process mid-way, whatever
// the machine's speed, without guessing a size that is "still running".
//
//   HUFPACK_HOLD_READS_OF=FILE    the file whose reads are counted (by its inode)
//   HUFPACK_HOLD_READS_AT=8,40    the reads, counted from 1, that stop
//   HUFPACK_HOLD_FIFO=PATH        a FIFO: at stop k the library makes the file PATH.k, then
//                                 waits until a line can be read from PATH
//
// Reads of other files, and every read when the variables are unset, pass straight through.

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Settings
{
    bool active = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::set<long> stops;
    std::string fifo;
};

const Settings& TheSettings()
{
    static const Settings settings = [] {
        Settings made;
        const char* const file = std::getenv("HUFPACK_HOLD_READS_OF");
        const char* const at = std::getenv("HUFPACK_HOLD_READS_AT");
        const char* const fifo = std::getenv("HUFPACK_HOLD_FIFO");
        struct stat info
        {
        };
        if (!file || !at || !fifo || ::stat(file, &info) != 0)
            return made;
        for (const char* p = at; *p;) {
            char* end = nullptr;
            const long read = std::strtol(p, &end, 10);
            if (end == p)
                break;
            made.stops.insert(read);
            p = *end == ',' ? end + 1 : end;
        }
        made.device = info.st_dev;
        made.inode = info.st_ino;
        made.fifo = fifo;
        made.active = true;
        return made;
    }();
    return settings;
}

std::atomic<long> g_reads { 0 };
std::mutex g_holding;
int g_stopsMade = 0;

// Counts a read of `fd` and, at a stop, waits for the test.
void MaybeHold(int fd)
{
    const Settings& settings = TheSettings();
    if (!settings.active)
        return;
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0 || info.st_dev != settings.device || info.st_ino != settings.inode)
        return;
    const long read = ++g_reads;
    if (!settings.stops.count(read))
        return;
    // One stop at a time: other threads that read meanwhile count on, and stop behind it.
    const std::lock_guard lock(g_holding);
    const std::string marker = settings.fifo + "." + std::to_string(++g_stopsMade);
    const int made = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (made >= 0)
        ::close(made);
    const int fifo = ::open(settings.fifo.c_str(), O_RDONLY | O_CLOEXEC);
    if (fifo < 0)
        return;
    char byte = 0;
    while (::read(fifo, &byte, 1) == 1 && byte != '\n') { }
    ::close(fifo);
}

template<typename Function> Function Next(const char* name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

ssize_t pread(int fd, void* buffer, size_t count, off_t offset)
{
    static const auto next = Next<ssize_t (*)(int, void*, size_t, off_t)>("pread");
    MaybeHold(fd);
    return next(fd, buffer, count, offset);
}

ssize_t pread64(int fd, void* buffer, size_t count, off_t offset)
{
    static const auto next = Next<ssize_t (*)(int, void*, size_t, off_t)>("pread64");
    MaybeHold(fd);
    return next(fd, buffer, count, offset);
}

ssize_t read(int fd, void* buffer, size_t count)
{
    static const auto next = Next<ssize_t (*)(int, void*, size_t)>("read");
    MaybeHold(fd);
    return next(fd, buffer, count);
}

} // extern "C"
