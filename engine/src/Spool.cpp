// Copying what a pipe gives into an unnamed file.

#include "hufpack/Spool.h"

#include "Paths.h"
#include "SystemIo.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace hufpack {

namespace {

constexpr std::size_t kBlockBytes = std::size_t { 1 } << 17;

int MakeUnnamedFile(const std::string& folder)
{
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && NoUnnamedFiles(errno)) {
        std::string pattern = folder + "/hufpack-XXXXXX";
        fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        // A name that cannot be removed again would be left behind: no file then.
        if (fd >= 0 && ::unlink(pattern.c_str()) != 0) {
            const int error = errno;
            ::close(fd);
            errno = error;
            return -1;
        }
    }
    return fd;
}

} // namespace

int SpoolToUnnamedFile(int input, const std::string& folder, bool& inputFailed)
{
    inputFailed = false;
    const int fd = MakeUnnamedFile(folder);
    if (fd < 0)
        return -1;
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kBlockBytes);
    for (;;) {
        const std::int64_t got = ReadSome(input, buffer.get(), kBlockBytes);
        if (got == 0)
            return fd;
        if (got < 0)
            inputFailed = true;
        if (got < 0 || !WriteFully(fd, buffer.get(), static_cast<std::size_t>(got))) {
            const int error = errno;
            ::close(fd);
            errno = error;
            return -1;
        }
    }
}

} // namespace hufpack
