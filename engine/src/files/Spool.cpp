// Copying what a job needs of a pipe into an unnamed file.

#include "files/Spool.h"

#include "files/Place.h"
#include "format/Format.h"
#include "sys/JobEdge.h"
#include "sys/SystemIo.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <random>
#include <span>
#include <unistd.h>
#include <utility>
#include <vector>

namespace hufpack {

namespace {

// Every byte takes a bit and the table an entry at the least, so no source longer than this has
// a header that can describe it.
constexpr std::int64_t kLargestSource = std::numeric_limits<std::int32_t>::max() - kEntrySize;

// A file with no name in `folder`: O_TMPFILE, or where the file system has none, a file made
// under a unique name and unlinked at once, both through the folder's descriptor, so that a
// shared folder such as /tmp cannot swap anything in between.
int MakeUnnamedFile(const std::string& folder)
{
    const int at = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (at < 0)
        return -1;
    int fd = ::openat(at, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && NoUnnamedFiles(errno)) {
        static constexpr char kLetters[]
            = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        std::random_device random;
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            std::string name = "hufpack-";
            for (int i = 0; i < 6; ++i)
                name += kLetters[random() % (sizeof kLetters - 1)];
            fd = ::openat(at, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          0600);
            if (fd < 0 && errno != EEXIST)
                break;
            // A name that cannot be removed again would be left behind: no file then.
            if (fd >= 0 && ::unlinkat(at, name.c_str(), 0) != 0) {
                const int error = errno;
                ::close(fd);
                fd = -1;
                errno = error;
                break;
            }
        }
    }
    const int error = errno;
    ::close(at);
    errno = error;
    return fd;
}

Status Failed(JobResult result, JobFile file, int error)
{
    return Status::Fail(result, file, error);
}

// Copies up to `limit` bytes of `input` into `out` through `buffer`, never reading past the
// limit, and adds them to `copied`; `front`, when given, receives the first bytes copied too.
// Stops early at the end of the input.
Status Copy(int input, int out, std::span<std::uint8_t> buffer, std::int64_t limit,
            std::int64_t& copied, std::span<std::uint8_t> front = {})
{
    while (copied < limit) {
        const auto want
            = static_cast<std::size_t>(std::min<std::int64_t>(limit - copied, buffer.size()));
        const std::int64_t got = ReadSome(input, buffer.data(), want);
        if (got == 0)
            break;
        if (got < 0)
            return Failed(JobResult::CannotOpen, JobFile::Source, errno);
        if (!WriteFully(out, buffer.data(), static_cast<std::size_t>(got)))
            return Failed(JobResult::CannotOpen, JobFile::None, errno);
        for (std::int64_t i = 0; i < got && copied + i < static_cast<std::int64_t>(front.size());
             ++i)
            front[static_cast<std::size_t>(copied + i)] = buffer[static_cast<std::size_t>(i)];
        copied += got;
    }
    return {};
}

Status Spool(int input, int out, SpoolFor what)
{
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kBlockBytes);
    const std::span block(buffer.get(), kBlockBytes);
    std::int64_t copied = 0;
    if (what == SpoolFor::Compressing) {
        // One byte past the largest source tells that the source is too large.
        const Status status = Copy(input, out, block, kLargestSource + 1, copied);
        if (status.Ok() && copied > kLargestSource)
            return Status::Fail(JobResult::TooLarge, JobFile::Source, 0, Reason::TooLarge);
        return status;
    }
    // A compressed file says in its header how far it reaches.
    std::array<std::uint8_t, kHeaderSize> front {};
    if (Status status = Copy(input, out, block, kHeaderSize, copied, front);
        !status.Ok() || copied < kHeaderSize)
        return status;
    const Header header = Header::Parse(front);
    if (!header.ChecksumMatches())
        return {}; // not ours: the job says so, from these bytes alone
    return Copy(input, out, block, header.FileEnd(what == SpoolFor::Decoding), copied);
}

// A spool that was made is read from its start; one that failed is closed.
Status Rewound(Status status, int& fd)
{
    if (status.Ok() && ::lseek(fd, 0, SEEK_SET) != 0)
        status = Failed(JobResult::CannotOpen, JobFile::None, errno);
    if (!status.Ok() && fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    return status;
}

} // namespace

Status SpoolToUnnamedFile(int input, const std::string& folder, SpoolFor what, int& fd)
{
    fd = MakeUnnamedFile(folder);
    Status status = fd < 0 ? Failed(JobResult::CannotOpen, JobFile::None, errno)
                           : AtJobEdge([&] { return Spool(input, fd, what); });
    return Rewound(status, fd);
}

Status SpoolMember(int input, const std::string& folder, std::vector<std::uint8_t>& carried,
                   const TakeBytes& take, int& fd, bool& ended)
{
    ended = false;
    fd = MakeUnnamedFile(folder);
    if (fd < 0)
        return Failed(JobResult::CannotOpen, JobFile::None, errno);
    Status status = AtJobEdge([&] {
        std::vector<std::uint8_t> block = std::move(carried);
        carried.clear();
        block.reserve(kBlockBytes);
        for (;;) {
            if (block.empty()) {
                block.resize(kBlockBytes);
                const std::int64_t got = ReadSome(input, block.data(), block.size());
                if (got < 0)
                    return Failed(JobResult::CannotOpen, JobFile::Source, errno);
                block.resize(static_cast<std::size_t>(got));
                if (got == 0) {
                    ended = true;
                    return Status();
                }
            }
            const std::size_t taken = take(block);
            if (!WriteFully(fd, block.data(), taken))
                return Failed(JobResult::CannotOpen, JobFile::None, errno);
            if (taken < block.size()) {
                carried.assign(block.begin() + static_cast<std::ptrdiff_t>(taken), block.end());
                return Status();
            }
            block.clear();
        }
    });
    return Rewound(status, fd);
}

} // namespace hufpack
