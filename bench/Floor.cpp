// hufpack-floor: what each direction must do and nothing more, to set beside cp and hufpack.
//
//   hufpack-floor encode SOURCE DEST BYTES   reads SOURCE twice, writes BYTES bytes to DEST
//   hufpack-floor decode SOURCE DEST BYTES   reads SOURCE once, writes BYTES bytes to DEST
//
// Compressing has to read its source twice (every count comes before the first code) and write
// the compressed file; restoring reads the compressed file and writes the original. The bytes
// written here are zeros: the floor is the reading and writing, not the coding. Blocks of 128 KiB
// on one thread, into a new file, as hufpack writes them.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

constexpr std::size_t kBlock = std::size_t { 128 } << 10;

bool ReadAll(const char* path, unsigned char* block)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ssize_t got = 0;
    while ((got = ::read(fd, block, kBlock)) > 0) { }
    ::close(fd);
    return got == 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5 || (std::string(argv[1]) != "encode" && std::string(argv[1]) != "decode")) {
        std::fprintf(stderr, "usage: hufpack-floor encode|decode SOURCE DEST BYTES\n");
        return 2;
    }
    const auto block = std::make_unique<unsigned char[]>(kBlock);
    const int passes = std::string(argv[1]) == "encode" ? 2 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        if (!ReadAll(argv[2], block.get())) {
            std::perror(argv[2]);
            return 1;
        }
    }
    const int out = ::open(argv[3], O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        std::perror(argv[3]);
        return 1;
    }
    std::fill_n(block.get(), kBlock, 0);
    for (long long left = std::atoll(argv[4]); left > 0;) {
        const auto size = static_cast<std::size_t>(std::min<long long>(left, kBlock));
        if (::write(out, block.get(), size) != static_cast<ssize_t>(size)) {
            std::perror(argv[3]);
            return 1;
        }
        left -= static_cast<long long>(size);
    }
    return ::close(out) == 0 ? 0 : 1;
}
