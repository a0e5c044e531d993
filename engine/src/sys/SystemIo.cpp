// The read and write loops on a descriptor.

#include "sys/SystemIo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace hufpack {

namespace {

// Calls `transfer(done)` for the bytes from `done` on until all `count` are through. A read that
// gives nothing has met the end of the file; a write that takes nothing, and says no reason, is
// an I/O error as far as anyone can tell.
template<typename Transfer>
std::int64_t TransferFully(std::size_t count, bool reading, Transfer transfer)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t moved = transfer(done);
        if (moved < 0 && errno == EINTR)
            continue;
        if (moved < 0)
            return -1;
        if (moved == 0) {
            if (reading)
                break;
            errno = EIO;
            return -1;
        }
        done += static_cast<std::size_t>(moved);
    }
    return static_cast<std::int64_t>(done);
}

} // namespace

std::int64_t ReadSome(int fd, std::uint8_t* destination, std::size_t count)
{
    for (;;) {
        const ssize_t got = ::read(fd, destination, count);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

std::int64_t ReadFully(int fd, std::uint8_t* destination, std::size_t count)
{
    return TransferFully(count, true, [&](std::size_t done) {
        return ::read(fd, destination + done, count - done);
    });
}

std::int64_t ReadAt(int fd, std::uint8_t* destination, std::size_t count, std::int64_t offset)
{
    return TransferFully(count, true, [&](std::size_t done) {
        return ::pread(fd, destination + done, count - done,
                       offset + static_cast<std::int64_t>(done));
    });
}

bool WriteFully(int fd, const std::uint8_t* source, std::size_t count)
{
    return TransferFully(count, false,
                         [&](std::size_t done) { return ::write(fd, source + done, count - done); })
        >= 0;
}

bool WriteAt(int fd, const std::uint8_t* source, std::size_t count, std::int64_t offset)
{
    return TransferFully(count, false,
                         [&](std::size_t done) {
                             return ::pwrite(fd, source + done, count - done,
                                             offset + static_cast<std::int64_t>(done));
                         })
        >= 0;
}

namespace {

bool AllZero(const std::uint8_t* bytes, std::size_t count)
{
    // The first byte is zero and each byte equals the next: one vectorised compare.
    return count == 0 || (bytes[0] == 0 && std::memcmp(bytes, bytes + 1, count - 1) == 0);
}

} // namespace

bool WriteLeavingHoles(int fd, const std::uint8_t* source, std::size_t count, std::int64_t offset)
{
    // Pieces end at multiples of kHoleBytes in the file; runs of pieces with data go out in one
    // write each.
    std::size_t run = 0; // where the run of data being gathered starts
    std::size_t at = 0;
    while (at < count) {
        const auto inBlock
            = static_cast<std::size_t>(offset + static_cast<std::int64_t>(at)) % kHoleBytes;
        const std::size_t piece = std::min(kHoleBytes - inBlock, count - at);
        if (AllZero(source + at, piece)) {
            if (run < at
                && !WriteAt(fd, source + run, at - run, offset + static_cast<std::int64_t>(run)))
                return false;
            run = at + piece;
        }
        at += piece;
    }
    return run == count
        || WriteAt(fd, source + run, count - run, offset + static_cast<std::int64_t>(run));
}

} // namespace hufpack
